// The option table: 149 rows in lookup order.
#include "FFmpegOpt/FFmpegOpt.h"

namespace vexa {

void TCustomFFmpegOpt::AddRow(const char* name, uint32_t flags, TOptionTarget target, const char* help,
                              const char* argName) {
  TOptionDef def;
  def.Name = name;
  def.Flags = flags;
  def.Target = target;
  def.Help = help;
  def.ArgName = argName;
  OptionTable_.push_back(std::move(def));
}

const TOptionDef* TCustomFFmpegOpt::FindOption(const std::string& name) const {
  const std::string::size_type colon = name.find(':');
  const std::string::size_type len = colon == std::string::npos ? name.size() : colon;
  for (const TOptionDef& def : OptionTable_) {
    if (def.Name.size() == len && name.compare(0, len, def.Name) == 0) return &def;
  }
  return nullptr;
}

void TCustomFFmpegOpt::BuildOptionTable() {
  if (!OptionTable_.empty()) return;
  OptionTable_.reserve(149);
  using T = TCustomFFmpegOpt;
  using F = TFileOptions;
  const uint32_t file = ofPerFile;
  const uint32_t list = ofSpec;
  const uint32_t off = ofOffset;

  // Informational options of the command-line tool: accepted and ignored.
  for (const char* name : {"L", "h", "?", "help", "-help", "version", "formats", "codecs", "decoders",
                           "encoders", "bsfs", "protocols", "filters", "pix_fmts", "layouts",
                           "sample_fmts"})
    AddRow(name, ofExit, &T::OptIgnored, "show information (not available)");
  AddRow("loglevel", ofHasArg, &T::OptLogLevel, "set logging level", "loglevel");
  AddRow("v", ofHasArg, &T::OptLogLevel, "set logging level", "loglevel");
  AddRow("report", 0, &T::OptUnsupported, "generate a report (not available)");
  AddRow("max_alloc", ofHasArg, &T::OptMaxAlloc, "set maximum size of a single allocated block", "bytes");
  AddRow("cpuflags", ofHasArg, &T::OptCpuFlags, "force specific cpu flags", "flags");
  AddRow("f", ofHasArg | ofString | off, &F::Format, "force format", "fmt");
  AddRow("y", ofBool, &T::FileOverwrite, "overwrite output files");
  AddRow("n", ofBool, &T::NoFileOverwrite, "do not overwrite output files");
  AddRow("c", ofHasArg | ofString | list, &F::CodecNames, "codec name", "codec");
  AddRow("codec", ofHasArg | ofString | list, &F::CodecNames, "codec name", "codec");
  AddRow("pre", ofExit, &T::OptUnsupported, "preset name (not available)");
  AddRow("map", ofHasArg | ofExpert | file, &T::OptMap,
         "set input stream mapping", "[-]input_file_id[:stream_specifier][,sync_file_id[:stream_specifier]]");
  AddRow("map_channel", ofHasArg | ofExpert | file, &T::OptMapChannel,
         "map an audio channel from one stream to another", "file.stream.channel[:syncfile.syncstream]");
  AddRow("map_metadata", ofHasArg | ofString | list, &F::MetadataMaps,
         "set metadata information of outfile from infile", "outfile[,metadata]:infile[,metadata]");
  AddRow("map_chapters", ofHasArg | ofInt | ofExpert | off, &F::ChaptersInputFile,
         "set chapters mapping", "input_file_index");
  AddRow("t", ofHasArg | ofTime | off, &F::RecordingTime, "record or transcode \"duration\" seconds of audio/video", "duration");
  AddRow("t_microsecond", ofHasArg | ofInt64 | off, &F::RecordingTime, "recording duration in microseconds", "microseconds");
  AddRow("to", ofHasArg | ofTime | off, &F::StopTime, "record or transcode stop time", "time_stop");
  AddRow("to_microsecond", ofHasArg | ofInt64 | off, &F::StopTime, "stop time in microseconds", "microseconds");
  AddRow("fs", ofHasArg | ofInt64 | off, &F::LimitFileSize, "set the limit file size in bytes", "limit_size");
  AddRow("ss", ofHasArg | ofTime | off, &F::StartTime, "set the start time offset", "time_off");
  AddRow("ss_microsecond", ofHasArg | ofInt64 | off, &F::StartTime, "start time offset in microseconds", "microseconds");
  AddRow("itsoffset", ofHasArg | ofTime | ofExpert | off, &F::InputTsOffset, "set the input ts offset", "time_off");
  AddRow("itsoffset_microsecond", ofHasArg | ofInt64 | ofExpert | off, &F::InputTsOffset,
         "input ts offset in microseconds", "microseconds");
  AddRow("itsscale", ofHasArg | ofDouble | ofExpert | list, &F::TsScales, "set the input ts scale", "scale");
  AddRow("timestamp", ofHasArg | file, &T::OptTimestamp, "set the recording timestamp ('now' to set the current time)", "time");
  AddRow("metadata", ofHasArg | ofString | list, &F::Metadata, "add metadata", "string=string");
  AddRow("dframes", ofHasArg | ofExpert | file, &T::OptForward, "set the number of data frames to record", "number");
  AddRow("benchmark", ofExit, &T::OptUnsupported, "add timings for benchmarking (not available)");
  AddRow("benchmark_all", ofExit, &T::OptUnsupported, "add timings for each task (not available)");
  AddRow("progress", ofHasArg | ofExpert, &T::OptProgress, "write program-readable progress information", "url");
  AddRow("stdin", ofExit, &T::OptUnsupported, "enable or disable interaction on standard input (not available)");
  AddRow("timelimit", ofExit, &T::OptUnsupported, "set max runtime in seconds (not available)", "limit");
  AddRow("dump", ofBool, &T::DoPktDump, "dump each input packet");
  AddRow("hex", ofBool, &T::DoHexDump, "when dumping packets, also dump the payload");
  AddRow("re", ofBool | ofExpert | off, &F::RateEmulation, "read input at native frame rate");
  AddRow("target", ofHasArg | file, &T::OptTarget,
         "specify target file type (\"vcd\", \"svcd\", \"dvd\", \"dv\", \"dv50\", \"pal-vcd\", \"ntsc-svcd\", ...)", "type");
  AddRow("vsync", ofHasArg | ofExpert, &T::OptVSync, "video sync method", "");
  AddRow("async", ofHasArg | ofInt, &T::AudioSyncMethod, "audio sync method", "");
  AddRow("adrift_threshold", ofHasArg | ofFloat, &T::AudioDriftThreshold, "audio drift threshold", "threshold");
  AddRow("copyts", ofBool, &T::CopyTs, "copy timestamps");
  AddRow("copytb", ofHasArg | ofInt, &T::CopyTb, "copy input stream time base when stream copying", "mode");
  AddRow("shortest", ofBool | ofExpert | off, &F::Shortest, "finish encoding within shortest input");
  AddRow("dts_delta_threshold", ofHasArg | ofFloat, &T::DtsDeltaThreshold, "timestamp discontinuity delta threshold", "threshold");
  AddRow("dts_error_threshold", ofHasArg | ofFloat, &T::DtsErrorThreshold, "timestamp error delta threshold", "threshold");
  AddRow("xerror", ofBool, &T::ExitOnError, "exit on error");
  AddRow("copyinkf", ofBool | ofExpert | list, &F::CopyInitialNonKeyframes, "copy initial non-keyframes");
  AddRow("copypriorss", ofHasArg | ofInt | ofExpert | list, &F::CopyPriorStart, "copy or discard frames before start time");
  AddRow("frames", ofHasArg | ofInt64 | list, &F::MaxFrames, "set the number of frames to record", "number");
  AddRow("tag", ofHasArg | ofString | ofExpert | list, &F::CodecTags, "force codec tag/fourcc", "fourcc/tag");
  AddRow("q", ofHasArg | ofDouble | ofExpert | list, &F::QScales, "use fixed quality scale (VBR)", "q");
  AddRow("qscale", ofHasArg | ofExpert | file, &T::OptQScale, "use fixed quality scale (VBR)", "q");
  AddRow("profile", ofHasArg | ofExpert | file, &T::OptProfile, "set profile", "profile");
  AddRow("filter", ofHasArg | ofString | list, &F::Filters, "set stream filterchain", "filter_list");
  AddRow("reinit_filter", ofHasArg | ofInt | list, &F::ReinitFilters, "reinit filtergraph on input parameter changes", "");
  AddRow("filter_complex", ofHasArg | ofExpert, &T::OptFilterComplex, "create a complex filtergraph", "graph_description");
  AddRow("stats", ofBool, &T::PrintStats, "print progress report during encoding");
  AddRow("attach", ofHasArg | ofExpert | file, &T::OptAttach, "add an attachment to the output file", "filename");
  AddRow("dump_attachment", ofHasArg | ofString | ofExpert | list, &F::DumpAttachments,
         "extract an attachment into a file", "filename");
  AddRow("vframes", ofHasArg | ofVideo | file, &T::OptForward, "set the number of video frames to record", "number");
  AddRow("r", ofHasArg | ofString | ofVideo | list, &F::FrameRates, "set frame rate (Hz value, fraction or abbreviation)", "rate");
  AddRow("s", ofHasArg | ofString | ofVideo | ofSubtitle | list, &F::FrameSizes,
         "set frame size (WxH or abbreviation)", "size");
  AddRow("aspect", ofHasArg | ofString | ofVideo | list, &F::AspectRatios,
         "set aspect ratio (4:3, 16:9 or 1.3333, 1.7777)", "aspect");
  AddRow("pix_fmt", ofHasArg | ofString | ofExpert | ofVideo | list, &F::PixelFormats, "set pixel format", "format");
  AddRow("bits_per_raw_sample", ofHasArg | ofInt, &T::FrameBitsPerRawSample, "set the number of bits per raw sample", "number");
  AddRow("intra", ofBool, &T::IntraOnly, "deprecated use -g 1");
  AddRow("vn", ofBool | off, &F::VideoDisable, "disable video");
  AddRow("vdt", ofHasArg | ofInt, &T::VideoDiscard, "discard threshold", "n");
  AddRow("rc_override", ofHasArg | ofString | ofExpert | ofVideo | list, &F::RcOverrides,
         "rate control override for specific intervals", "override");
  AddRow("vcodec", ofHasArg | ofVideo | file, &T::OptForward, "force video codec ('copy' to copy stream)", "codec");
  AddRow("sameq", ofExpert | ofVideo, &T::OptRemoved, "removed");
  AddRow("same_quant", ofExpert | ofVideo, &T::OptRemoved, "removed");
  AddRow("timecode", ofHasArg | ofVideo | file, &T::OptTimecode, "set initial TimeCode value.", "hh:mm:ss[:;.]ff");
  AddRow("pass", ofHasArg | ofInt | ofVideo | list, &F::Passes, "select the pass number (1 to 3)", "n");
  AddRow("passlogfile", ofHasArg | ofString | ofExpert | ofVideo | list, &F::PassLogFiles,
         "select two pass log file name prefix", "prefix");
  AddRow("deinterlace", ofExpert | ofVideo, &T::OptDeinterlace, "this option is deprecated, use the yadif filter instead");
  AddRow("psnr", ofBool, &T::DoPsnr, "calculate PSNR of compressed frames");
  AddRow("vstats", ofExpert | ofVideo, &T::OptVStats, "dump video coding statistics to file");
  AddRow("vstats_file", ofHasArg | ofExpert | ofVideo, &T::OptVStatsFile, "dump video coding statistics to file", "file");
  AddRow("vf", ofHasArg | ofVideo | file, &T::OptForward, "set video filters", "filter_graph");
  AddRow("intra_matrix", ofHasArg | ofString | ofExpert | ofVideo | list, &F::IntraMatrices,
         "specify intra matrix coeffs", "matrix");
  AddRow("inter_matrix", ofHasArg | ofString | ofExpert | ofVideo | list, &F::InterMatrices,
         "specify inter matrix coeffs", "matrix");
  AddRow("top", ofHasArg | ofInt | ofExpert | ofVideo | list, &F::TopFieldFirst,
         "top=1/bottom=0/auto=-1 field first", "");
  AddRow("dc", ofHasArg | ofInt, &T::IntraDcPrecision, "intra_dc_precision", "precision");
  AddRow("vtag", ofHasArg | ofExpert | ofVideo | file, &T::OptOldTypedName, "force video tag/fourcc", "fourcc/tag");
  AddRow("qphist", ofBool, &T::QpHist, "show QP histogram");
  AddRow("force_fps", ofBool | ofExpert | ofVideo | list, &F::ForceFps,
         "force the selected framerate, disable the best supported framerate selection");
  AddRow("streamid", ofHasArg | ofExpert | ofVideo | file, &T::OptStreamId,
         "set the value of an outfile streamid", "streamIndex:value");
  AddRow("force_key_frames", ofHasArg | ofString | ofExpert | ofVideo | list, &F::ForcedKeyFrames,
         "force key frames at specified timestamps", "timestamps");
  AddRow("b", ofHasArg | ofVideo | file, &T::OptBitrate, "video bitrate (please use -b:v)", "bitrate");
  AddRow("aframes", ofHasArg | ofAudio | file, &T::OptForward, "set the number of audio frames to record", "number");
  AddRow("aq", ofHasArg | ofAudio | file, &T::OptForward, "set audio quality (codec-specific)", "quality");
  AddRow("ar", ofHasArg | ofInt | ofAudio | list, &F::SampleRates, "set audio sampling rate (in Hz)", "rate");
  AddRow("ac", ofHasArg | ofInt | ofAudio | list, &F::AudioChannels, "set number of audio channels", "channels");
  AddRow("an", ofBool | off, &F::AudioDisable, "disable audio");
  AddRow("acodec", ofHasArg | ofAudio | file, &T::OptForward, "force audio codec ('copy' to copy stream)", "codec");
  AddRow("atag", ofHasArg | ofExpert | ofAudio | file, &T::OptOldTypedName, "force audio tag/fourcc", "fourcc/tag");
  AddRow("vol", ofHasArg | ofInt, &T::AudioVolume, "change audio volume (256=normal)", "volume");
  AddRow("sample_fmt", ofHasArg | ofString | ofExpert | ofAudio | list, &F::SampleFormats, "set sample format", "format");
  AddRow("channel_layout", ofHasArg | ofExpert | ofAudio | file, &T::OptChannelLayout, "set channel layout", "layout");
  AddRow("af", ofHasArg | ofAudio | file, &T::OptForward, "set audio filters", "filter_graph");
  AddRow("guess_layout_max", ofHasArg | ofInt | ofExpert | ofAudio | list, &F::GuessLayoutMax,
         "set the maximum number of channels to try to guess the channel layout", "");
  AddRow("sn", ofBool | off, &F::SubtitleDisable, "disable subtitle");
  AddRow("scodec", ofHasArg | ofSubtitle | file, &T::OptForward, "force subtitle codec ('copy' to copy stream)", "codec");
  AddRow("stag", ofHasArg | ofExpert | ofSubtitle | file, &T::OptOldTypedName, "force subtitle tag/fourcc", "fourcc/tag");
  AddRow("fix_sub_duration", ofBool | ofExpert | ofSubtitle | list, &F::FixSubDuration, "fix subtitles duration");
  AddRow("vc", ofHasArg | ofExpert | ofVideo, &T::OptVideoChannel, "deprecated, use -channel", "channel");
  AddRow("tvstd", ofHasArg | ofExpert | ofVideo, &T::OptVideoStandard, "deprecated, use -standard", "standard");
  AddRow("isync", ofBool, &T::InputSync, "sync read on input");
  AddRow("muxdelay", ofHasArg | ofFloat | ofExpert | off, &F::MuxMaxDelay, "set the maximum demux-decode delay", "seconds");
  AddRow("muxpreload", ofHasArg | ofFloat | ofExpert | off, &F::MuxPreload, "set the initial demux-decode delay", "seconds");
  AddRow("bsf", ofHasArg | ofString | ofExpert | list, &F::BitstreamFilters, "A comma-separated list of bitstream filters",
         "bitstream_filters");
  AddRow("absf", ofHasArg | ofExpert | ofAudio | file, &T::OptOldTypedName, "deprecated", "audio bitstream_filters");
  AddRow("vbsf", ofHasArg | ofExpert | ofVideo | file, &T::OptOldTypedName, "deprecated", "video bitstream_filters");
  AddRow("apre", ofHasArg | ofExpert | ofAudio | file, &T::OptPresetFile, "set the audio options to the indicated preset", "preset");
  AddRow("vpre", ofHasArg | ofExpert | ofVideo | file, &T::OptPresetFile, "set the video options to the indicated preset", "preset");
  AddRow("spre", ofHasArg | ofExpert | ofSubtitle | file, &T::OptPresetFile, "set the subtitle options to the indicated preset", "preset");
  AddRow("fpre", ofHasArg | ofExpert | file, &T::OptPresetFile, "set options from indicated preset file", "filename");
  AddRow("dcodec", ofHasArg | ofData | ofExpert | file, &T::OptForward, "force data codec ('copy' to copy stream)", "codec");
  AddRow("dn", ofBool | off, &F::DataDisable, "disable data");
  AddRow("vhook", ofHasArg | ofExpert | ofVideo, &T::OptVHook, "insert video processing module", "module");
  AddRow("VideoHookBitsPixel", ofHasArg | ofExpert | ofVideo, &T::OptVideoHookBitsPixel,
         "bits per pixel of the video hook bitmaps (8, 15, 16, 24, 32)", "bits");
  AddRow("TimeStart", ofHasArg | ofExpert | file, &T::OptSeconds, "start time offset in seconds", "seconds");
  AddRow("timestart", ofHasArg | ofExpert | file, &T::OptSeconds, "start time offset in seconds", "seconds");
  AddRow("TimeLength", ofHasArg | ofExpert | file, &T::OptSeconds, "recording duration in seconds", "seconds");
  AddRow("timelength", ofHasArg | ofExpert | file, &T::OptSeconds, "recording duration in seconds", "seconds");
  // Switched through the output record by the encoder component.
  for (const char* name : {"AudioInputHook", "AudioOutputHook", "VideoInputHook", "VideoOutputHook",
                           "FrameInputHook", "FrameOutputHook", "Join"})
    AddRow(name, ofExit, &T::OptSwitch, "switched through the output options");
}

}  // namespace vexa
