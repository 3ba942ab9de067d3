// Which input streams feed a new output: automatic selection, explicit -map
// entries, outputs of complex filter graphs, and -attach files.
#include <climits>
#include <cstring>

#include "FFLoad/UnicodeProtocol.h"
#include "FFmpegOpt/FilterGraphs.h"
#include "FFmpegOpt/OptionText.h"
#include "FFmpegOpt/OutputBuild.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/time.h>
}

namespace vexa::output_detail {

namespace {

// The output stream constructor for a media type; nullptr for other types.
TOutputStream* NewStreamOfType(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, AVMediaType type,
                               int source) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      return e.NewVideoStream(o, oc, source);
    case AVMEDIA_TYPE_AUDIO:
      return e.NewAudioStream(o, oc, source);
    case AVMEDIA_TYPE_SUBTITLE:
      return e.NewSubtitleStream(o, oc, source);
    case AVMEDIA_TYPE_DATA:
      return e.NewDataStream(o, oc, source);
    case AVMEDIA_TYPE_ATTACHMENT:
      return e.NewAttachmentStream(o, oc, source);
    default:
      return nullptr;
  }
}

int StreamArea(const TInputStream& ist) {
  const AVCodecContext* c = ist.CodecContext.get();
  if (c && c->width > 0 && c->height > 0) return c->width * c->height;
  return ist.Stream->codecpar->width * ist.Stream->codecpar->height;
}

}  // namespace

bool TypeDisabled(const TFileOptions& o, AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      return o.VideoDisable != 0;
    case AVMEDIA_TYPE_AUDIO:
      return o.AudioDisable != 0;
    case AVMEDIA_TYPE_SUBTITLE:
      return o.SubtitleDisable != 0;
    case AVMEDIA_TYPE_DATA:
      return o.DataDisable != 0;
    default:
      return false;
  }
}

void BindUnlabeledGraphOutputs(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc) {
  for (auto& graph : e.FilterGraphs) {
    for (auto& ofilter : graph->Outputs) {
      if (ofilter->OutputStream || !ofilter->PendingOutput) continue;
      const AVFilterInOut* pad = ofilter->PendingOutput.get();
      if (pad->name && pad->name[0]) continue;
      const AVMediaType type = FilterPadType(pad->filter_ctx, pad->pad_idx, false);
      e.BindOutputFilter(*ofilter, o, oc);
      if (type == AVMEDIA_TYPE_VIDEO) o.VideoDisable = 1;
      if (type == AVMEDIA_TYPE_AUDIO) o.AudioDisable = 1;
      if (type == AVMEDIA_TYPE_SUBTITLE) o.SubtitleDisable = 1;
    }
  }
}

int BestVideoStream(TCustomFFmpegOpt& e, const AVOutputFormat* format, std::size_t first, std::size_t last) {
  // A format that stores cover art answers APIC for its default video codec.
  const int answer = avformat_query_codec(format, format->video_codec, 0);
  const bool pictureCapable = answer == static_cast<int>(MKTAG('A', 'P', 'I', 'C'));
  int best = -1;
  int area = 0;
  for (std::size_t i = first; i < last && i < e.InputStreams.size(); ++i) {
    const TInputStream& ist = *e.InputStreams[i];
    if (ist.MediaType() != AVMEDIA_TYPE_VIDEO) continue;
    const bool picture = (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    int newArea = StreamArea(ist);
    if (!pictureCapable && picture) newArea = 1;
    if (newArea > area) {
      if (pictureCapable && !picture) continue;
      area = newArea;
      best = static_cast<int>(i);
    }
  }
  return best;
}

int BestAudioStream(TCustomFFmpegOpt& e, std::size_t first, std::size_t last) {
  int best = -1;
  int channels = 0;
  for (std::size_t i = first; i < last && i < e.InputStreams.size(); ++i) {
    const TInputStream& ist = *e.InputStreams[i];
    if (ist.MediaType() != AVMEDIA_TYPE_AUDIO) continue;
    if (ist.Channels() > channels) {
      channels = ist.Channels();
      best = static_cast<int>(i);
    }
  }
  return best;
}

int FirstSubtitleStream(TCustomFFmpegOpt& e, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last && i < e.InputStreams.size(); ++i)
    if (e.InputStreams[i]->MediaType() == AVMEDIA_TYPE_SUBTITLE) return static_cast<int>(i);
  return -1;
}

bool SubtitlesWanted(const TFileOptions& o, const AVOutputFormat* format) {
  return format->subtitle_codec != AV_CODEC_ID_NONE || TCustomFFmpegOpt::MatchMediaType(o.CodecNames, "s");
}

int AutoSelectStreams(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, bool joinMode) {
  std::size_t last = e.InputStreams.size();
  if (joinMode) last = e.InputFiles.empty() ? 0 : static_cast<std::size_t>(e.InputFiles[0]->StreamCount);
  const AVOutputFormat* format = oc->oformat;

  if (!o.VideoDisable && format->video_codec != AV_CODEC_ID_NONE) {
    const int best = BestVideoStream(e, format, 0, last);
    if (best >= 0) e.NewVideoStream(o, oc, best);
  }
  if (!o.AudioDisable && format->audio_codec != AV_CODEC_ID_NONE) {
    const int best = BestAudioStream(e, 0, last);
    if (best >= 0) e.NewAudioStream(o, oc, best);
  }
  if (!o.SubtitleDisable && SubtitlesWanted(o, format)) {
    const int first = FirstSubtitleStream(e, 0, last);
    if (first >= 0) e.NewSubtitleStream(o, oc, first);
  }
  return 0;
}

int MapStreams(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, bool joinMode) {
  for (const TStreamMap& map : o.StreamMaps) {
    if (map.Disabled) continue;
    if (!map.LinkLabel.empty()) {
      TOutputFilter* found = nullptr;
      for (auto& graph : e.FilterGraphs) {
        for (auto& ofilter : graph->Outputs) {
          const AVFilterInOut* pad = ofilter->PendingOutput.get();
          if (!ofilter->OutputStream && pad && pad->name && map.LinkLabel == pad->name) {
            found = ofilter.get();
            break;
          }
        }
        if (found) break;
      }
      if (!found) {
        e.LastErrorText = StrFormat(
            "Output with label \"%s\" does not exist in any defined filter graph, or was already used elsewhere.",
            map.LinkLabel.c_str());
        return -1;
      }
      e.BindOutputFilter(*found, o, oc);
      continue;
    }

    if (map.FileIndex < 0 || map.FileIndex >= static_cast<int>(e.InputFiles.size())) continue;
    const TInputFile& file = *e.InputFiles[static_cast<std::size_t>(map.FileIndex)];
    const int index = file.FirstStreamIndex + map.StreamIndex;
    if (index < 0 || index >= static_cast<int>(e.InputStreams.size())) continue;
    if (joinMode && map.FileIndex != 0) continue;
    TInputStream& ist = *e.InputStreams[static_cast<std::size_t>(index)];
    const AVMediaType type = ist.MediaType();
    if (TypeDisabled(o, type)) continue;
    TOutputStream* ost = NewStreamOfType(e, o, oc, type, index);
    if (!ost) {
      e.LastErrorText =
          StrFormat("Cannot map stream #%d:%d - unsupported type.", map.FileIndex, map.StreamIndex);
      return -1;
    }
    // The map may name another stream to synchronise with.
    if (map.SyncFileIndex >= 0 && map.SyncFileIndex < static_cast<int>(e.InputFiles.size())) {
      const int sync = e.InputFiles[static_cast<std::size_t>(map.SyncFileIndex)]->FirstStreamIndex + map.SyncStreamIndex;
      if (sync >= 0 && sync < static_cast<int>(e.InputStreams.size()))
        ost->SyncInput = e.InputStreams[static_cast<std::size_t>(sync)].get();
    }
  }
  return 0;
}

int AddAttachments(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, AVIOInterruptCB readCallback) {
  for (const std::string& name : o.Attachments) {
    AVIOContext* pb = nullptr;
    e.LastReadTime = av_gettime();
    if (avio_open2(&pb, ToMediaFileName(name).c_str(), AVIO_FLAG_READ, &readCallback, nullptr) < 0) {
      e.LastErrorText = StrFormat("Could not open attachment file %s.", name.c_str());
      return -1;
    }
    TAVIOContextPtr input(pb);
    const int64_t size = avio_size(pb);
    if (size <= 0) {
      e.LastErrorText = StrFormat("Could not get size of the attachment %s.", name.c_str());
      return -1;
    }
    if (size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) {
      e.LastErrorText = StrFormat("Attachment %s too large to fit into memory.", name.c_str());
      return -1;
    }
    uint8_t* data = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!data) {
      e.LastErrorText = StrFormat("Attachment %s too large to fit into memory.", name.c_str());
      return -1;
    }
    e.LastReadTime = av_gettime();
    const int got = avio_read(pb, data, static_cast<int>(size));
    if (got != static_cast<int>(size)) {
      av_free(data);
      e.LastErrorText = StrFormat("Could not get size of the attachment %s.", name.c_str());
      return -1;
    }

    TOutputStream* ost = nullptr;
    try {
      ost = e.NewAttachmentStream(o, oc, -1);
    } catch (...) {
      av_free(data);
      throw;
    }
    ost->StreamCopy = 0;
    ost->AttachmentFileName = name;
    ost->Finished = 1;
    AVCodecContext* ctx = ost->CodecContext.get();
    av_freep(&ctx->extradata);
    ctx->extradata = data;
    ctx->extradata_size = static_cast<int>(size);
    // The muxer reads the stream parameters; give them their own copy.
    AVCodecParameters* par = ost->Stream->codecpar;
    av_freep(&par->extradata);
    par->extradata = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) e.AbortWithError("av_mallocz() failed");
    std::memcpy(par->extradata, data, static_cast<size_t>(size));
    par->extradata_size = static_cast<int>(size);
    par->codec_type = AVMEDIA_TYPE_ATTACHMENT;

    std::string base = name;
    std::string::size_type cut = base.rfind('/');
    if (cut == std::string::npos) cut = base.rfind('\\');
    if (cut != std::string::npos) base = base.substr(cut + 1);
    av_dict_set(&ost->Stream->metadata, "filename", base.c_str(), AV_DICT_DONT_OVERWRITE);
  }
  return 0;
}

}  // namespace vexa::output_detail
