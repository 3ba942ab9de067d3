// Opening inputs: OpenInputFile, the decoder choice, the input stream records,
// channel layout guessing and attachment dumps.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Base/ProgramFormats.h"
#include "ErrorText/ErrorText.h"
#include "FFLoad/UnicodeProtocol.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {

// Whether the forced demuxer's private options include `name`.
bool ForcedFormatHasOption(const TProgramInputFormat* programFormat, const AVInputFormat* format,
                           const char* name) {
  const AVClass* cls = programFormat ? programFormat->PrivClass : format ? format->priv_class : nullptr;
  if (!cls) return false;
  return av_opt_find(&cls, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// The format context of a program input has no AVInputFormat; av_dump_format
// prints the format's name from one, so a description is lent for the call.
void DumpProgramInput(AVFormatContext* ic, const TProgramInputFormat* format, int index,
                      const std::string& url) {
  AVInputFormat described{};
  described.name = format->Name;
  described.long_name = format->LongName;
  described.flags = format->Flags;
  described.priv_class = format->PrivClass;
  ic->iformat = &described;
  av_dump_format(ic, index, url.c_str(), 0);
  ic->iformat = nullptr;
}

const AVCodec* ChooseDecoder(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* ic, AVStream* st);

}  // namespace

const AVCodec* TCustomFFmpegOpt::FindCodecOrAbort(const std::string& name, AVMediaType type, bool encoder) {
  const char* side = encoder ? "encoder" : "decoder";
  const AVCodec* codec =
      encoder ? avcodec_find_encoder_by_name(name.c_str()) : avcodec_find_decoder_by_name(name.c_str());
  if (!codec) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get_by_name(name.c_str());
    if (desc) {
      codec = encoder ? avcodec_find_encoder(desc->id) : avcodec_find_decoder(desc->id);
      if (codec) LogFmt(this, llVerbose, "Matched %s \"%s\" for codec \"%s\".", side, codec->name, desc->name);
    }
  }
  if (!codec) AbortWithError("Unknown %s \"%s\"", side, name.c_str());
  if (codec->type != type) AbortWithError("Invalid %s type \"%s\"", side, name.c_str());
  return codec;
}

namespace {

// The decoder of a stream: the matching -c name (which forces the stream's
// codec id) or the library's default decoder for its codec id.
const AVCodec* ChooseDecoder(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* ic, AVStream* st) {
  if (const TSpecifierValue* name = e.MatchPerStream(o.CodecNames, ic, st)) {
    const AVCodec* codec = e.FindCodecOrAbort(name->Str, st->codecpar->codec_type, false);
    st->codecpar->codec_id = codec->id;
    return codec;
  }
  return avcodec_find_decoder(st->codecpar->codec_id);
}

void GuessInputChannelLayout(TInputStream& ist, int fileIndex) {
  AVCodecContext* dec = ist.CodecContext.get();
  if (dec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) return;
  const int channels = dec->ch_layout.nb_channels;
  if (channels <= 0 || channels > ist.GuessLayoutMax) return;
  AVChannelLayout guessed{};
  av_channel_layout_default(&guessed, channels);
  if (guessed.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_uninit(&guessed);
    return;
  }
  av_channel_layout_uninit(&dec->ch_layout);
  dec->ch_layout = guessed;
  char name[256] = {0};
  av_channel_layout_describe(&dec->ch_layout, name, sizeof(name));
  LogFmt(nullptr, llWarning, "Guessed Channel Layout for  Input Stream #%d.%d : %s", fileIndex,
         ist.Stream->index, name);
}

// TInputStream records of every stream of `ic`, appended to InputStreams.
void AddInputStreams(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* ic, int fileIndex) {
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    e.InputStreams.push_back(std::make_unique<TInputStream>());
    TInputStream& ist = *e.InputStreams.back();
    ist.FileIndex = fileIndex;
    ist.Stream = st;
    ist.Discard = 1;
    st->discard = AVDISCARD_ALL;

    if (const TSpecifierValue* v = e.MatchPerStream(o.TsScales, ic, st)) ist.TsScale = v->Dbl;

    uint32_t tag = st->codecpar->codec_tag;
    if (const TSpecifierValue* v = e.MatchPerStream(o.CodecTags, ic, st)) {
      tag = CodecTagValue(v->Str);
      st->codecpar->codec_tag = tag;
    }

    ist.Decoder = ChooseDecoder(e, o, ic, st);
    ist.CodecContext.reset(avcodec_alloc_context3(ist.Decoder));
    if (!ist.CodecContext) e.AbortWithError("av_mallocz() failed");
    if (avcodec_parameters_to_context(ist.CodecContext.get(), st->codecpar) < 0)
      e.AbortWithError("av_mallocz() failed");
    ist.CodecContext->pkt_timebase = st->time_base;
    ist.CodecContext->codec_tag = tag;
    ist.DecoderOptions =
        FilterCodecOptions(o.Group->CodecOptions.Get(), st->codecpar->codec_id, ic, st, ist.Decoder);

    ist.ReinitFilters = -1;
    if (const TSpecifierValue* v = e.MatchPerStream(o.ReinitFilters, ic, st)) ist.ReinitFilters = v->Int;
    ist.FilterInRescaleDeltaLast = AV_NOPTS_VALUE;

    AVCodecContext* dec = ist.CodecContext.get();
    switch (st->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (!ist.Decoder) ist.Decoder = avcodec_find_decoder(st->codecpar->codec_id);
        ist.ResampleHeight = dec->height;
        ist.ResampleWidth = dec->width;
        ist.ResamplePixFmt = dec->pix_fmt;
        if (const TSpecifierValue* v = e.MatchPerStream(o.FrameRates, ic, st)) {
          if (av_parse_video_rate(&ist.FrameRate, v->Str.c_str()) < 0)
            e.AbortWithError("Error parsing framerate %s.", v->Str.c_str());
        }
        ist.TopFieldFirst = -1;
        if (const TSpecifierValue* v = e.MatchPerStream(o.TopFieldFirst, ic, st)) ist.TopFieldFirst = v->Int;
        break;
      case AVMEDIA_TYPE_AUDIO:
        ist.GuessLayoutMax = INT_MAX;
        if (const TSpecifierValue* v = e.MatchPerStream(o.GuessLayoutMax, ic, st)) ist.GuessLayoutMax = v->Int;
        GuessInputChannelLayout(ist, fileIndex);
        ist.ResampleSampleFmt = dec->sample_fmt;
        ist.ResampleSampleRate = dec->sample_rate;
        ist.ResampleChannels = dec->ch_layout.nb_channels;
        ist.ResampleChannelLayout =
            dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? static_cast<int64_t>(dec->ch_layout.u.mask) : 0;
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_SUBTITLE:
        if (!ist.Decoder) ist.Decoder = avcodec_find_decoder(st->codecpar->codec_id);
        if (const TSpecifierValue* v = e.MatchPerStream(o.FixSubDuration, ic, st)) ist.FixSubDuration = v->Int;
        break;
      default:
        break;
    }
  }
}

// Writes the extradata of attachment stream `st` to `fileName` (or to its
// "filename" tag when the name is empty).
void DumpAttachment(TCustomFFmpegOpt& e, AVStream* st, int fileIndex, const std::string& fileName,
                    AVIOInterruptCB cb) {
  if (!st->codecpar->extradata || st->codecpar->extradata_size <= 0) {
    LogFmt(&e, llWarning, "No extradata to dump in stream #%d:%d.", fileIndex, st->index);
    return;
  }
  std::string name = fileName;
  if (name.empty()) {
    if (const AVDictionaryEntry* tag = av_dict_get(st->metadata, "filename", nullptr, AV_DICT_MATCH_CASE))
      name = tag->value;
  }
  if (name.empty())
    e.AbortWithError("No filename specified and no \"filename\" tag in stream #%d:%d.", fileIndex, st->index);

  const std::string mediaName = ToMediaFileName(name);
  const bool overwrite = e.FileOverwrite && !e.NoFileOverwrite;
  const std::string::size_type colon = name.find(':');
  const bool protocol = colon != std::string::npos && !(name.size() > 1 && name[1] == ':') &&
                        name.compare(0, 5, "file:") != 0;
  if (!overwrite && !protocol && avio_check(mediaName.c_str(), 0) == 0) {
    e.LastErrorText = StrFormat("File \"%s\" already exists. Ignore.", name.c_str());
    Log(&e, llWarning, e.LastErrorText);
    return;
  }

  AVIOContext* pb = nullptr;
  e.LastWriteTime = av_gettime();
  if (avio_open2(&pb, mediaName.c_str(), AVIO_FLAG_WRITE, &cb, nullptr) < 0) {
    LogFmt(&e, llError, "Could not open file %s for writing.", name.c_str());
    return;
  }
  e.LastWriteTime = av_gettime();
  avio_write(pb, st->codecpar->extradata, st->codecpar->extradata_size);
  avio_flush(pb);
  avio_closep(&pb);
}

}  // namespace

int TCustomFFmpegOpt::OpenInputFile(TFileOptions& o, const std::optional<std::string>& line,
                                    const std::string& fileName, const std::optional<std::string>& presets) {
  int ret = ParseOptions(o, line, "input file", presets);
  if (ret < 0) return ret;
  // The demuxer, the decoders and the rate parser read option values with
  // "." as the decimal point, whatever the process locale says.
  const TCNumericLocale numericLocale;

  const TProgramInputFormat* programFormat = nullptr;
  const AVInputFormat* format = nullptr;
  if (!o.Format.empty()) {
    programFormat = FindProgramInputFormat(o.Format);
    if (!programFormat) format = av_find_input_format(o.Format.c_str());
    if (!programFormat && !format) {
      LastErrorText = StrFormat("Unknown input format: \"%s\"", o.Format.c_str());
      Log(this, llFatal, LastErrorText);
      return AVERROR(EINVAL);
    }
  }

  // Demuxer options from the per-file options: the last element of each list.
  TDictionary& formatOptions = o.Group->FormatOptions;
  if (!o.SampleRates.empty())
    formatOptions.Set("sample_rate", std::to_string(o.SampleRates.back().Int).c_str());
  const bool forced = programFormat || format;
  if (!o.AudioChannels.empty() && forced && ForcedFormatHasOption(programFormat, format, "channels"))
    formatOptions.Set("channels", std::to_string(o.AudioChannels.back().Int).c_str());
  if (!o.FrameRates.empty() && forced && ForcedFormatHasOption(programFormat, format, "framerate"))
    formatOptions.Set("framerate", o.FrameRates.back().Str.c_str());
  if (!o.FrameSizes.empty()) formatOptions.Set("video_size", o.FrameSizes.back().Str.c_str());
  if (!o.PixelFormats.empty()) formatOptions.Set("pixel_format", o.PixelFormats.back().Str.c_str());

  // Forced decoders by the exact specifiers v, a and s.
  const AVCodec* forcedCodecs[3] = {nullptr, nullptr, nullptr};
  const char* types[3] = {"v", "a", "s"};
  const AVMediaType mediaTypes[3] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE};
  for (int i = 0; i < 3; ++i)
    if (const TSpecifierValue* v = MatchMediaType(o.CodecNames, types[i]))
      forcedCodecs[i] = FindCodecOrAbort(v->Str, mediaTypes[i], false);
  auto applyForced = [&](AVFormatContext* s) {
    s->video_codec_id = forcedCodecs[0] ? forcedCodecs[0]->id : AV_CODEC_ID_NONE;
    s->audio_codec_id = forcedCodecs[1] ? forcedCodecs[1]->id : AV_CODEC_ID_NONE;
    s->subtitle_codec_id = forcedCodecs[2] ? forcedCodecs[2]->id : AV_CODEC_ID_NONE;
    s->video_codec = forcedCodecs[0];
    s->audio_codec = forcedCodecs[1];
    s->subtitle_codec = forcedCodecs[2];
    s->flags |= AVFMT_FLAG_NONBLOCK;
    s->interrupt_callback = ReadInterruptCallback();
  };

  const std::string mediaName = ToMediaFileName(fileName);
  AVFormatContext* ic = nullptr;
  if (programFormat) {
    // The program format allocates its own context and opens it at once.
    LastReadTime = av_gettime();
    ret = OpenProgramInput(&ic, programFormat, mediaName, formatOptions.Address());
    if (ret >= 0) applyForced(ic);
  } else {
    ic = avformat_alloc_context();
    if (!ic) {
      LastErrorText = "avformat_alloc_context() failed";
      Log(this, llFatal, LastErrorText);
      return AVERROR(ENOMEM);
    }
    applyForced(ic);
    LastReadTime = av_gettime();
    ret = avformat_open_input(&ic, mediaName.c_str(), format, formatOptions.Address());
  }
  if (ret < 0) {
    LastErrorText = ErrorText(fileName, ret);
    Log(this, llFatal, LastErrorText);
    return ret;
  }

  // From here the record owns the context, so every exit path releases it.
  auto file = std::make_unique<TInputFile>();
  file->FormatContext = ic;
  file->ProgramFormat = programFormat;
  const std::size_t firstStream = InputStreams.size();
  const int fileIndex = static_cast<int>(InputFiles.size());

  try {
    if (const AVDictionaryEntry* left = av_dict_get(formatOptions.Get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
      const std::string message = StrFormat("Option %s not found.", left->key);
      if (StrictOptions) AbortWithError(message);
      LastErrorText = message;
    }

    for (unsigned i = 0; i < ic->nb_streams; ++i) ChooseDecoder(*this, o, ic, ic->streams[i]);

    TDictionaryArray probeOptions = StreamInfoOptions(ic, o.Group->CodecOptions.Get());

    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ic);

    // Program formats describe their streams completely when they open.
    if (!programFormat) {
      LastReadTime = av_gettime();
      ret = avformat_find_stream_info(ic, probeOptions.Data());
      if (ret < 0) {
        file.reset();
        LastErrorText = StrFormat("%s: could not find codec parameters", fileName.c_str());
        Log(this, llFatal, LastErrorText);
        return ret;
      }
    }

    int64_t timestamp = o.StartTime;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;

    if (o.StartTime != 0) {
      ret = AVERROR(ENOSYS);
      if (!programFormat) {
        LastReadTime = av_gettime();
        ret = avformat_seek_file(ic, -1, INT64_MIN, timestamp, timestamp, 0);
      }
      if (ret < 0)
        LogFmt(this, llWarning, "%s: could not seek to position %0.3f", fileName.c_str(),
               static_cast<double>(timestamp) / AV_TIME_BASE);
    }

    AddInputStreams(*this, o, ic, fileIndex);

    if (programFormat)
      DumpProgramInput(ic, programFormat, fileIndex, fileName);
    else
      av_dump_format(ic, fileIndex, fileName.c_str(), 0);

    if (ic->duration != AV_NOPTS_VALUE && ic->duration - o.StartTime > LongestInputDuration)
      LongestInputDuration = ic->duration - o.StartTime;

    file->FirstStreamIndex = static_cast<int>(InputStreams.size()) - static_cast<int>(ic->nb_streams);
    file->StreamCount = static_cast<int>(ic->nb_streams);
    file->RateEmulation = o.RateEmulation;
    file->TsOffset = o.InputTsOffset - (CopyTs ? 0 : timestamp);
    InputFiles.push_back(std::move(file));

    for (const TSpecifierValue& dump : o.DumpAttachments)
      for (unsigned i = 0; i < ic->nb_streams; ++i)
        if (CheckStreamSpecifier(ic, ic->streams[i], dump.Specifier.c_str()) == 1)
          DumpAttachment(*this, ic->streams[i], fileIndex, dump.Str, WriteInterruptCallback());
  } catch (...) {
    // Records of this input must not outlive its context.
    if (InputFiles.size() > static_cast<std::size_t>(fileIndex)) InputFiles.resize(fileIndex);
    InputStreams.resize(firstStream);
    throw;
  }
  return fileIndex;
}

}  // namespace vexa
