// Creating outputs: OpenOutputFile, the clean-up of a failed output, the join
// group, and the release of the output contexts.

#include <climits>
#include <set>

#include "ErrorText/ErrorText.h"
#include "FFLoad/UnicodeProtocol.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/OptionText.h"
#include "FFmpegOpt/OutputBuild.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

namespace vexa {

using namespace output_detail;

namespace {

// Closes the file of `oc` (deleting it when it stayed empty) and frees it.
void FreeOutputContext(AVFormatContext* oc) {
  if (!oc) return;
  if (oc->oformat && !(oc->oformat->flags & AVFMT_NOFILE) && oc->pb) {
    avio_closep(&oc->pb);
    DeleteEmptyOutputFile(oc->url);
  }
  avformat_free_context(oc);
}

// Removes the output streams from `first` on, unlinking their filter outputs.
void RemoveOutputStreams(TCustomFFmpegOpt& e, std::size_t first) {
  if (first >= e.OutputStreams.size()) return;
  for (auto& graph : e.FilterGraphs)
    for (auto& ofilter : graph->Outputs)
      for (std::size_t i = first; i < e.OutputStreams.size(); ++i)
        if (ofilter->OutputStream == e.OutputStreams[i].get()) ofilter->OutputStream = nullptr;
  e.OutputStreams.resize(first);
}

// Sets the "flags" codec option of copied and attachment streams from the
// first "flags" or "flags:<stream specifier>" entry of the line's codec options.
int ApplyCopyFlags(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, int fileIndex) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(o.Group->CodecOptions.Get(), "flags", entry, AV_DICT_IGNORE_SUFFIX)))
    if (entry->key[5] == '\0' || entry->key[5] == ':') break;
  if (!entry) return 0;
  for (const auto& ost : e.OutputStreams) {
    if (ost->FileIndex != fileIndex) continue;
    if (!ost->StreamCopy && ost->Stream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) continue;
    if (entry->key[5] == ':' && CheckStreamSpecifier(oc, ost->Stream, entry->key + 6) == 0) continue;
    if (!ost->CodecContext || av_opt_set(ost->CodecContext.get(), "flags", entry->value, 0) < 0) {
      e.LastErrorText = "failed to set flags";
      return -1;
    }
  }
  return 0;
}

// A group k copy of a first-group stream: same library stream and settings,
// no source yet; the encoder context stays with the first group.
std::unique_ptr<TOutputStream> JoinDuplicate(TCustomFFmpegOpt& e, const TOutputStream& src, int fileIndex) {
  auto d = std::make_unique<TOutputStream>();
  d->FileIndex = fileIndex;
  d->Index = src.Index;
  d->SourceIndex = -1;
  d->Stream = src.Stream;
  d->Encoder = src.Encoder;
  d->MaxFrames = src.MaxFrames;
  d->FrameRate = src.FrameRate;
  d->ForceFps = src.ForceFps;
  d->TopFieldFirst = src.TopFieldFirst;
  d->FrameAspectRatio = src.FrameAspectRatio;
  d->ForcedKeyFrames = src.ForcedKeyFrames;
  d->AudioChannelsMap = src.AudioChannelsMap;
  d->AudioChannelsMapped = src.AudioChannelsMapped;
  d->LogFilePrefix = src.LogFilePrefix;
  d->FilterDescription = src.FilterDescription;
  d->SwsFlags = src.SwsFlags;
  d->EncoderOptions = src.EncoderOptions.Clone();
  d->SwrOptions = src.SwrOptions.Clone();
  d->ResampleOptions = src.ResampleOptions.Clone();
  d->Finished = src.Finished;
  d->StreamCopy = src.StreamCopy;
  d->AttachmentFileName = src.AttachmentFileName;
  d->CopyInitialNonKeyframes = src.CopyInitialNonKeyframes;
  d->CopyPriorStart = src.CopyPriorStart;
  d->KeepPixFmt = src.KeepPixFmt;
  for (const TBsfContextPtr& bsf : src.BitstreamFilters) {
    AVBSFContext* copy = nullptr;
    if (av_bsf_alloc(bsf->filter, &copy) < 0) e.AbortWithError("av_mallocz() failed");
    TBsfContextPtr owned(copy);
    if (bsf->filter->priv_class && av_opt_copy(copy->priv_data, bsf->priv_data) < 0)
      e.AbortWithError("av_mallocz() failed");
    d->BitstreamFilters.push_back(std::move(owned));
  }
  return d;
}

// Binds `ist` (index into InputStreams) to the first unbound duplicate of its
// media type among [first, last). Returns false when none is left.
bool BindDuplicate(TCustomFFmpegOpt& e, std::size_t first, std::size_t last, int ist, TInputStream* sync) {
  TInputStream& input = *e.InputStreams[static_cast<std::size_t>(ist)];
  for (std::size_t i = first; i < last; ++i) {
    TOutputStream& d = *e.OutputStreams[i];
    if (d.SourceIndex >= 0 || d.Stream->codecpar->codec_type != input.MediaType()) continue;
    d.SourceIndex = ist;
    d.SyncInput = sync ? sync : &input;
    input.Discard = 0;
    input.Stream->discard = AVDISCARD_NONE;
    return true;
  }
  return false;
}

}  // namespace

void TCustomFFmpegOpt::ReleaseOutputFiles() {
  std::set<AVFormatContext*> freed;
  for (auto& file : OutputFiles) {
    if (!file) continue;
    AVFormatContext* oc = file->FormatContext;
    file->FormatContext = nullptr;
    if (oc && freed.insert(oc).second) FreeOutputContext(oc);
  }
  OutputFiles.clear();
}

int TCustomFFmpegOpt::OpenOutputFile(TFileOptions& o, const std::optional<std::string>& line, bool join,
                                     const std::string& fileName, const std::optional<std::string>& presets) {
  int ret = ParseOptions(o, line, "output file", presets);
  if (ret < 0) return ret;
  // Rates, ratios, codec and muxer options are read by the libraries with
  // "." as the decimal point, whatever the process locale says.
  const TCNumericLocale numericLocale;

  if (Joined || (join && InputFiles.size() > 1 && !OutputFiles.empty())) {
    LastErrorText = "Cannot join more than one output file.";
    return -1;
  }
  const bool joinMode = join && InputFiles.size() > 1;

  if (ConfigureComplexFilterGraphs() < 0) {
    LastErrorText = "Error configuring filters.";
    return -1;
  }

  AVFormatContext* oc = nullptr;
  ret = avformat_alloc_output_context2(&oc, nullptr, o.Format.empty() ? nullptr : o.Format.c_str(),
                                       ToMediaFileName(fileName).c_str());
  if (ret < 0 || !oc) {
    LastErrorText = ErrorText(fileName, ret < 0 ? ret : AVERROR(ENOMEM));
    return -1;
  }
  oc->interrupt_callback = WriteInterruptCallback();

  const int fileIndex = static_cast<int>(OutputFiles.size());
  const std::size_t firstStream = OutputStreams.size();
  // Undoes this call: the record, its streams, the file (when still empty)
  // and the context. The caller sees only the failure.
  auto cleanup = [&]() {
    if (OutputFiles.size() > static_cast<std::size_t>(fileIndex)) {
      OutputFiles[static_cast<std::size_t>(fileIndex)]->FormatContext = nullptr;
      OutputFiles.resize(static_cast<std::size_t>(fileIndex));
    }
    RemoveOutputStreams(*this, firstStream);
    FreeOutputContext(oc);
  };

  try {
    if (o.RecordingTime != NoLimit && o.RecordingTime > TotalDuration) TotalDuration = o.RecordingTime;

    BindUnlabeledGraphOutputs(*this, o, oc);

    ret = o.StreamMaps.empty() ? AutoSelectStreams(*this, o, oc, joinMode) : MapStreams(*this, o, oc, joinMode);
    if (ret >= 0) ret = AddAttachments(*this, o, oc, ReadInterruptCallback());
    if (ret >= 0) ret = ApplyCopyFlags(*this, o, oc, fileIndex);
    if (ret < 0) {
      cleanup();
      return -1;
    }

    if (o.StopTime != NoLimit && o.RecordingTime != NoLimit) {
      o.StopTime = NoLimit;
      Log(this, llWarning, "-t and -to cannot be used together; using -t.");
    } else if (o.StopTime != NoLimit && o.RecordingTime == NoLimit) {
      if (o.StopTime <= o.StartTime) {
        Log(this, llWarning, "-to value smaller than -ss; ignoring -to.");
        o.StopTime = NoLimit;
      } else {
        o.RecordingTime = o.StopTime - o.StartTime;
      }
    }
    // A limit that came from -to counts for the expected length too.
    if (o.RecordingTime != NoLimit && o.RecordingTime > TotalDuration) TotalDuration = o.RecordingTime;

    auto file = std::make_unique<TOutputFile>();
    file->FormatContext = oc;
    file->FirstStreamIndex = static_cast<int>(OutputStreams.size()) - static_cast<int>(oc->nb_streams);
    file->RecordingTime = o.RecordingTime;
    file->StartTime = o.StartTime;
    file->LimitFileSize = o.LimitFileSize;
    file->Shortest = o.Shortest;
    file->Options = o.Group->FormatOptions.Clone();
    if (o.RecordingTime != NoLimit) oc->duration = o.RecordingTime;
    OutputFiles.push_back(std::move(file));
    TOutputFile& of = *OutputFiles.back();

    if ((oc->oformat->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(oc->url)) {
      LastErrorText = ErrorText(fileName, AVERROR(EINVAL));
      cleanup();
      return -1;
    }

    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
      LastWriteTime = av_gettime();
      ret = avio_open2(&oc->pb, oc->url, AVIO_FLAG_WRITE, &oc->interrupt_callback, of.Options.Address());
      if (ret < 0) {
        LastErrorText = ErrorText(fileName, ret);
        cleanup();
        return -1;
      }
    }

    if (o.MuxPreload != 0.0f)
      of.Options.Set("preload", std::to_string(static_cast<int64_t>(o.MuxPreload * AV_TIME_BASE)).c_str());
    oc->max_delay = static_cast<int>(o.MuxMaxDelay * AV_TIME_BASE);

    ret = ApplyMetadataMaps(*this, o, oc);
    if (ret >= 0) ret = MapChapters(*this, o, of, oc);
    if (ret >= 0) {
      CopyAutomaticMetadata(*this, o, oc, fileIndex);
      ret = ApplyMetadataOptions(*this, o, oc);
    }
    if (ret < 0) {
      cleanup();
      return -1;
    }
  } catch (...) {
    cleanup();
    throw;
  }

  if (joinMode) {
    if (BuildJoinGroup(o, fileIndex) < 0) return -1;
    Joined = true;
  }
  return fileIndex;
}

int TCustomFFmpegOpt::BuildJoinGroup(TFileOptions& o, int fileIndex) {
  const TOutputFile& first = *OutputFiles[static_cast<std::size_t>(fileIndex)];
  AVFormatContext* oc = first.FormatContext;
  const std::size_t groupSize = oc->nb_streams;
  JoinGroupSize = static_cast<int>(groupSize);

  auto teardown = [&](const std::string& message) {
    LastErrorText = message;
    ReleaseOutputFiles();
    RemoveOutputStreams(*this, 0);
    Joined = false;
    JoinGroupSize = 0;
    return -1;
  };

  try {
    for (std::size_t a = 1; a < InputFiles.size(); ++a) {
      const int newFile = static_cast<int>(OutputFiles.size());
      const std::size_t dupFirst = OutputStreams.size();
      for (std::size_t k = 0; k < groupSize; ++k)
        OutputStreams.push_back(
            JoinDuplicate(*this, *OutputStreams[static_cast<std::size_t>(first.FirstStreamIndex) + k], newFile));
      const std::size_t dupLast = OutputStreams.size();

      const TInputFile& input = *InputFiles[a];
      const std::size_t inFirst = static_cast<std::size_t>(input.FirstStreamIndex);
      const std::size_t inLast = inFirst + static_cast<std::size_t>(input.StreamCount);
      if (!o.StreamMaps.empty()) {
        for (const TStreamMap& map : o.StreamMaps) {
          if (map.Disabled || !map.LinkLabel.empty() || map.FileIndex != static_cast<int>(a)) continue;
          const int ist = input.FirstStreamIndex + map.StreamIndex;
          if (ist < 0 || ist >= static_cast<int>(InputStreams.size())) continue;
          const AVMediaType type = InputStreams[static_cast<std::size_t>(ist)]->MediaType();
          if (TypeDisabled(o, type)) continue;
          if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE &&
              type != AVMEDIA_TYPE_DATA && type != AVMEDIA_TYPE_ATTACHMENT)
            return teardown(StrFormat("Cannot map stream #%d:%d - unsupported type.", map.FileIndex, map.StreamIndex));
          TInputStream* sync = nullptr;
          if (map.SyncFileIndex >= 0 && map.SyncFileIndex < static_cast<int>(InputFiles.size())) {
            const int s = InputFiles[static_cast<std::size_t>(map.SyncFileIndex)]->FirstStreamIndex + map.SyncStreamIndex;
            if (s >= 0 && s < static_cast<int>(InputStreams.size())) sync = InputStreams[static_cast<std::size_t>(s)].get();
          }
          BindDuplicate(*this, dupFirst, dupLast, ist, sync);
        }
      } else {
        const AVOutputFormat* format = oc->oformat;
        if (!o.VideoDisable && format->video_codec != AV_CODEC_ID_NONE) {
          const int best = BestVideoStream(*this, format, inFirst, inLast);
          if (best >= 0) BindDuplicate(*this, dupFirst, dupLast, best, nullptr);
        }
        if (!o.AudioDisable && format->audio_codec != AV_CODEC_ID_NONE) {
          const int best = BestAudioStream(*this, inFirst, inLast);
          if (best >= 0) BindDuplicate(*this, dupFirst, dupLast, best, nullptr);
        }
        if (!o.SubtitleDisable && SubtitlesWanted(o, format)) {
          const int sub = FirstSubtitleStream(*this, inFirst, inLast);
          if (sub >= 0) BindDuplicate(*this, dupFirst, dupLast, sub, nullptr);
        }
      }
      for (std::size_t i = dupFirst; i < dupLast; ++i)
        if (OutputStreams[i]->SourceIndex < 0) return teardown("Cannot join files with diffrent steams state");

      auto copy = std::make_unique<TOutputFile>();
      copy->FormatContext = first.FormatContext;
      copy->Options = first.Options.Clone();
      copy->FirstStreamIndex = static_cast<int>(dupFirst);
      copy->RecordingTime = first.RecordingTime;
      copy->StartTime = first.StartTime;
      copy->LimitFileSize = first.LimitFileSize;
      copy->Shortest = first.Shortest;
      OutputFiles.push_back(std::move(copy));
    }
  } catch (const FFmpegException& e) {
    teardown(e.what());
    throw;
  }

  int64_t total = 0;
  bool known = false;
  for (const auto& input : InputFiles)
    if (input->FormatContext && input->FormatContext->duration != AV_NOPTS_VALUE) {
      total += input->FormatContext->duration;
      known = true;
    }
  TotalDuration = known ? total : -1;
  return 0;
}

}  // namespace vexa
