// Filter graph setup: simple and complex graph records, binding of graph
// inputs to input streams and graph outputs to output streams, and building
// the library graph with its buffer sources and sinks.
#include "FFmpegOpt/FilterGraphs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Base/ProgramFormats.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace vexa {

namespace {

constexpr AVPixelFormat MjpegUnofficialFormats[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P,
                                                    AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
constexpr AVPixelFormat LjpegUnofficialFormats[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P,
                                                    AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,
                                                    AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};

void MediaLog(int level, const std::string& message) { av_log(nullptr, level, "%s\n", message.c_str()); }

std::string LayoutMaskText(uint64_t mask) { return StrFormat("0x%llx", static_cast<unsigned long long>(mask)); }

// The default layout's mask for `channels` (0 when there is none).
uint64_t DefaultLayoutMask(int channels) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
  av_channel_layout_uninit(&layout);
  return mask;
}

// key=value pairs joined by ":".
std::string JoinOptions(const TDictionary& dict) {
  std::string text;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(dict.Get(), "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (!text.empty()) text += ':';
    text += e->key;
    text += '=';
    text += e->value;
  }
  return text;
}

int CreateFilter(AVFilterContext** ctx, const char* filterName, const std::string& instanceName,
                 const std::string& args, AVFilterGraph* graph) {
  const AVFilter* filter = avfilter_get_by_name(filterName);
  if (!filter) return AVERROR_FILTER_NOT_FOUND;
  return avfilter_graph_create_filter(ctx, filter, instanceName.c_str(), args.empty() ? nullptr : args.c_str(), nullptr,
                                      graph);
}

// The open end of a chain being built: the filter and its output pad.
struct TChainEnd {
  AVFilterContext* Filter;
  unsigned Pad;
};

// Creates a filter and links the chain's end to its first input; the new
// filter becomes the end.
int AppendFilter(TChainEnd& end, const char* filterName, const std::string& instanceName, const std::string& args,
                 AVFilterGraph* graph) {
  AVFilterContext* ctx = nullptr;
  int ret = CreateFilter(&ctx, filterName, instanceName, args, graph);
  if (ret < 0) return ret;
  if ((ret = avfilter_link(end.Filter, end.Pad, ctx, 0)) < 0) return ret;
  end = TChainEnd{ctx, 0};
  return 0;
}

// The audio parameters of an input stream: its decoder context, or the
// stream's parameters when the stream has no decoder context.
struct TAudioSourceParams {
  int SampleRate = 0;
  int SampleFormat = AV_SAMPLE_FMT_NONE;
  const AVChannelLayout* Layout = nullptr;
};

TAudioSourceParams AudioSourceParams(const TInputStream& ist) {
  TAudioSourceParams p;
  if (const AVCodecContext* dec = ist.CodecContext.get()) {
    p.SampleRate = dec->sample_rate;
    p.SampleFormat = dec->sample_fmt;
    p.Layout = &dec->ch_layout;
  } else if (ist.Stream && ist.Stream->codecpar) {
    p.SampleRate = ist.Stream->codecpar->sample_rate;
    p.SampleFormat = ist.Stream->codecpar->format;
    p.Layout = &ist.Stream->codecpar->ch_layout;
  }
  return p;
}

class TGraphBuilder {
 public:
  TGraphBuilder(TCustomFFmpegOpt& engine, TFilterGraph& fg) : E(engine), Fg(fg), Graph(fg.Graph.get()) {}

  void BindInput(const AVFilterInOut* in, const std::string& description);
  int ConfigureInput(TInputFilter& ifilter, const AVFilterInOut* in);
  int ConfigureOutput(TOutputFilter& ofilter, const AVFilterInOut* out);

 private:
  int ConfigureInputVideo(TInputFilter& ifilter, const AVFilterInOut* in);
  int ConfigureInputAudio(TInputFilter& ifilter, const AVFilterInOut* in);
  int ConfigureOutputVideo(TOutputFilter& ofilter, const AVFilterInOut* out);
  int ConfigureOutputAudio(TOutputFilter& ofilter, const AVFilterInOut* out);
  int PrepareSub2Video(TInputStream& ist);

  TCustomFFmpegOpt& E;
  TFilterGraph& Fg;
  AVFilterGraph* Graph;
};

void TGraphBuilder::BindInput(const AVFilterInOut* in, const std::string& description) {
  const AVMediaType type = FilterPadType(in->filter_ctx, in->pad_idx, true);
  if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
    E.AbortWithError("Only video and audio filters supported currently.");

  TInputStream* ist = nullptr;
  if (in->name) {
    char* rest = nullptr;
    const long fileIndex = std::strtol(in->name, &rest, 0);
    if (fileIndex < 0 || fileIndex >= static_cast<long>(E.InputFiles.size()))
      E.AbortWithError("Invalid file index %d in filtergraph description %s.", static_cast<int>(fileIndex),
                       description.c_str());
    const TInputFile& file = *E.InputFiles[static_cast<std::size_t>(fileIndex)];
    AVFormatContext* s = file.FormatContext;
    const char* specifier = *rest == ':' ? rest + 1 : rest;
    AVStream* st = nullptr;
    for (unsigned i = 0; i < s->nb_streams; ++i) {
      const AVMediaType streamType = s->streams[i]->codecpar->codec_type;
      if (streamType != type && !(type == AVMEDIA_TYPE_VIDEO && streamType == AVMEDIA_TYPE_SUBTITLE)) continue;
      if (CheckStreamSpecifier(s, s->streams[i], specifier) == 1) {
        st = s->streams[i];
        break;
      }
    }
    if (!st)
      E.AbortWithError("Stream specifier \"%s\" in filtergraph description %s matches no streams.", specifier,
                       description.c_str());
    ist = E.InputStreams.at(static_cast<std::size_t>(file.FirstStreamIndex + st->index)).get();
  } else {
    for (const auto& candidate : E.InputStreams)
      if (candidate->MediaType() == type && candidate->Discard) {
        ist = candidate.get();
        break;
      }
    if (!ist)
      E.AbortWithError("Cannot find a matching stream for unlabeled input pad %d on filter %s", in->pad_idx,
                       in->filter_ctx->name);
  }

  try {
    auto ifilter = std::make_unique<TInputFilter>();
    ifilter->InputStream = ist;
    ifilter->Graph = &Fg;
    Fg.Inputs.reserve(Fg.Inputs.size() + 1);
    ist->Filters.push_back(ifilter.get());
    Fg.Inputs.push_back(std::move(ifilter));
  } catch (const std::bad_alloc&) {
    E.AbortWithError("av_mallocz() failed");
  }
  ist->Discard = 0;
  ++ist->DecodingNeeded;
  ist->Stream->discard = AVDISCARD_NONE;
}

int TGraphBuilder::ConfigureInput(TInputFilter& ifilter, const AVFilterInOut* in) {
  ifilter.Name = FilterPadName(in->filter_ctx, in->pad_idx, true);
  switch (FilterPadType(in->filter_ctx, in->pad_idx, true)) {
    case AVMEDIA_TYPE_VIDEO:
      return ConfigureInputVideo(ifilter, in);
    case AVMEDIA_TYPE_AUDIO:
      return ConfigureInputAudio(ifilter, in);
    default:
      E.AbortWithError("Never occur");
  }
}

int TGraphBuilder::PrepareSub2Video(TInputStream& ist) {
  AVCodecContext* dec = ist.CodecContext.get();
  int w = dec ? dec->width : ist.Stream->codecpar->width;
  int h = dec ? dec->height : ist.Stream->codecpar->height;
  if (!(w && h)) {
    const TInputFile& file = *E.InputFiles.at(static_cast<std::size_t>(ist.FileIndex));
    AVFormatContext* s = file.FormatContext;
    for (unsigned i = 0; i < s->nb_streams; ++i) {
      const AVCodecParameters* par = s->streams[i]->codecpar;
      if (par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      w = std::max(w, par->width);
      h = std::max(h, par->height);
    }
    if (!(w && h)) {
      w = std::max(w, 720);
      h = std::max(h, 576);
    }
  }
  av_log(nullptr, AV_LOG_INFO, "sub2video: using %dx%d canvas\n", w, h);
  ist.Sub2VideoW = w;
  ist.Sub2VideoH = h;
  if (dec) {
    dec->width = w;
    dec->height = h;
    dec->pix_fmt = AV_PIX_FMT_BGRA;
  }
  ist.ResampleWidth = w;
  ist.ResampleHeight = h;
  ist.ResamplePixFmt = AV_PIX_FMT_BGRA;

  TAVFramePtr frame(av_frame_alloc());
  if (!frame) return AVERROR(ENOMEM);
  frame->format = AV_PIX_FMT_BGRA;
  frame->width = w;
  frame->height = h;
  if (av_frame_get_buffer(frame.get(), 32) < 0) return AVERROR(ENOMEM);
  for (int y = 0; y < h; ++y)
    std::memset(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0], 0,
                static_cast<std::size_t>(w) * 4);
  ist.Sub2VideoFrame = std::move(frame);
  return 0;
}

int TGraphBuilder::ConfigureInputVideo(TInputFilter& ifilter, const AVFilterInOut* in) {
  TInputStream& ist = *ifilter.InputStream;
  AVStream* st = ist.Stream;
  const AVCodecContext* dec = ist.CodecContext.get();
  const bool forced = ist.FrameRate.num != 0;
  // A forced rate renumbers the frames, unless the packets carry capture times.
  const TProgramInputFormat* programFormat = E.InputFiles.at(static_cast<std::size_t>(ist.FileIndex))->ProgramFormat;
  const bool restamp = forced && !(programFormat && programFormat->CaptureTimestamps);

  const AVRational tb = restamp ? av_inv_q(ist.FrameRate) : st->time_base;
  AVRational fr = forced ? ist.FrameRate : st->r_frame_rate;
  if (!forced && dec && dec->ticks_per_frame > 1) {
    AVRational codecRate = av_inv_q(dec->time_base);
    codecRate.den *= dec->ticks_per_frame;
    if (codecRate.num > 0 && codecRate.den > 0 && av_q2d(codecRate) < 0.7 * av_q2d(fr) &&
        std::fabs(1.0 - av_q2d(av_div_q(st->avg_frame_rate, fr))) > 0.1)
      fr = codecRate;
  }

  if (ist.MediaType() == AVMEDIA_TYPE_SUBTITLE) {
    const int ret = PrepareSub2Video(ist);
    if (ret < 0) return ret;
  }

  AVRational sar = st->sample_aspect_ratio;
  if (!sar.num && dec) sar = dec->sample_aspect_ratio;
  if (!sar.den) sar = AVRational{0, 1};

  const int format = ifilter.ConvertTo != AV_PIX_FMT_NONE ? ifilter.ConvertTo : ist.ResamplePixFmt;
  std::string args = StrFormat("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", ist.ResampleWidth,
                               ist.ResampleHeight, format, tb.num, tb.den, sar.num, sar.den);
  if (fr.num && fr.den) args += StrFormat(":frame_rate=%d/%d", fr.num, fr.den);
  const std::string name = StrFormat("graph %d input from stream %d:%d", Fg.Index, ist.FileIndex, st->index);
  int ret = CreateFilter(&ifilter.Filter, "buffer", name, args, Graph);
  if (ret < 0) return ret;

  TChainEnd end{ifilter.Filter, 0};
  if (restamp &&
      (ret = AppendFilter(end, "setpts", StrFormat("force CFR for input from stream %d:%d", ist.FileIndex, st->index),
                          "N", Graph)) < 0)
    return ret;
  return avfilter_link(end.Filter, end.Pad, in->filter_ctx, static_cast<unsigned>(in->pad_idx));
}

int TGraphBuilder::ConfigureInputAudio(TInputFilter& ifilter, const AVFilterInOut* in) {
  TInputStream& ist = *ifilter.InputStream;
  const int streamIndex = ist.Stream->index;
  const TAudioSourceParams p = AudioSourceParams(ist);
  const char* formatName = av_get_sample_fmt_name(static_cast<AVSampleFormat>(p.SampleFormat));
  std::string args = StrFormat("time_base=%d/%d:sample_rate=%d:sample_fmt=%s", 1, p.SampleRate, p.SampleRate,
                               formatName ? formatName : "none");
  if (p.Layout && p.Layout->order == AV_CHANNEL_ORDER_NATIVE && p.Layout->u.mask)
    args += ":channel_layout=" + LayoutMaskText(p.Layout->u.mask);
  else
    args += StrFormat(":channels=%d", p.Layout ? p.Layout->nb_channels : 0);
  const std::string name = StrFormat("graph %d input from stream %d:%d", Fg.Index, ist.FileIndex, streamIndex);
  int ret = CreateFilter(&ifilter.Filter, "abuffer", name, args, Graph);
  if (ret < 0) return ret;

  TChainEnd end{ifilter.Filter, 0};
  auto append = [&](const char* filterName, const std::string& filterArgs, const char* option) {
    LogFmt(&E, llInfo, "%s is forwarded to lavfi similarly to -af %s=%s.", option, filterName, filterArgs.c_str());
    return AppendFilter(end, filterName,
                        StrFormat("graph %d %s for input stream %d:%d", Fg.Index, filterName, ist.FileIndex, streamIndex),
                        filterArgs, Graph);
  };

  if (E.AudioVolume != 256) {
    MediaLog(AV_LOG_WARNING, "-vol has been deprecated. Use the volume audio filter instead.");
    if ((ret = append("volume", StrFormat("%f", E.AudioVolume / 256.0), "-vol")) < 0) return ret;
  }
  if (E.AudioSyncMethod > 0) {
    std::string resample = StrFormat("async=%d", E.AudioSyncMethod);
    resample += StrFormat(":min_hard_comp=%f", static_cast<double>(E.AudioDriftThreshold));
    if (!Fg.Reconfiguration) resample += ":first_pts=0";
    if ((ret = append("aresample", resample, "-async")) < 0) return ret;
  }
  return avfilter_link(end.Filter, end.Pad, in->filter_ctx, static_cast<unsigned>(in->pad_idx));
}

int TGraphBuilder::ConfigureOutput(TOutputFilter& ofilter, const AVFilterInOut* out) {
  ofilter.Name = FilterPadName(out->filter_ctx, out->pad_idx, false);
  if (!ofilter.OutputStream) return AVERROR(EINVAL);  // a complex output never bound to a stream
  switch (FilterPadType(out->filter_ctx, out->pad_idx, false)) {
    case AVMEDIA_TYPE_VIDEO:
      return ConfigureOutputVideo(ofilter, out);
    case AVMEDIA_TYPE_AUDIO:
      return ConfigureOutputAudio(ofilter, out);
    default:
      E.AbortWithError("Never occur");
  }
}

int TGraphBuilder::ConfigureOutputVideo(TOutputFilter& ofilter, const AVFilterInOut* out) {
  TOutputStream& ost = *ofilter.OutputStream;
  AVCodecContext* enc = ost.CodecContext.get();
  int ret = CreateFilter(&ofilter.Filter, "buffersink", StrFormat("output stream %d:%d", ost.FileIndex, ost.Index), "",
                         Graph);
  if (ret < 0) return ret;

  TChainEnd end{out->filter_ctx, static_cast<unsigned>(out->pad_idx)};
  if ((enc->width || enc->height) &&
      (ret = AppendFilter(end, "scale", StrFormat("scaler for output stream %d:%d", ost.FileIndex, ost.Index),
                          StrFormat("%d:%d:flags=0x%X", enc->width, enc->height, static_cast<unsigned>(ost.SwsFlags)),
                          Graph)) < 0)
    return ret;

  if (ost.KeepPixFmt) avfilter_graph_set_auto_convert(Graph, AVFILTER_AUTO_CONVERT_NONE);
  const std::string formats = OutputPixelFormats(enc, ost.Encoder, ost.KeepPixFmt != 0);
  if (!formats.empty() &&
      (ret = AppendFilter(end, "format", StrFormat("pixel format for output stream %d:%d", ost.FileIndex, ost.Index),
                          formats, Graph)) < 0)
    return ret;
  return avfilter_link(end.Filter, end.Pad, ofilter.Filter, 0);
}

int TGraphBuilder::ConfigureOutputAudio(TOutputFilter& ofilter, const AVFilterInOut* out) {
  TOutputStream& ost = *ofilter.OutputStream;
  AVCodecContext* enc = ost.CodecContext.get();
  const std::string sinkName = StrFormat("output stream %d:%d", ost.FileIndex, ost.Index);
  AVFilterContext* sink = avfilter_graph_alloc_filter(Graph, avfilter_get_by_name("abuffersink"), sinkName.c_str());
  if (!sink) return AVERROR(ENOMEM);
  int ret = av_opt_set_int(sink, "all_channel_counts", 1, AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) return ret;
  if ((ret = avfilter_init_str(sink, nullptr)) < 0) return ret;
  ofilter.Filter = sink;

  TChainEnd end{out->filter_ctx, static_cast<unsigned>(out->pad_idx)};
  if (ost.AudioChannelsMapped > 0) {
    std::string pan = LayoutMaskText(DefaultLayoutMask(ost.AudioChannelsMapped));
    for (int i = 0; i < ost.AudioChannelsMapped; ++i) {
      const int channel = ost.AudioChannelsMap[static_cast<std::size_t>(i)];
      if (channel != -1) pan += StrFormat("|c%d=c%d", i, channel);
    }
    LogFmt(&E, llInfo, "%s is forwarded to lavfi similarly to -af %s=%s.", "-map_channel", "pan", pan.c_str());
    ret = AppendFilter(end, "pan", StrFormat("channel map for output stream %d:%d", ost.FileIndex, ost.Index), pan,
                       Graph);
    if (ret < 0) return ret;
  }

  if (enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && enc->ch_layout.nb_channels > 0) {
    const int channels = enc->ch_layout.nb_channels;
    av_channel_layout_uninit(&enc->ch_layout);
    av_channel_layout_default(&enc->ch_layout, channels);
  }
  const std::string formats = OutputAudioFormats(enc, ost.Encoder);
  if (!formats.empty() &&
      (ret = AppendFilter(end, "aformat", StrFormat("audio format for output stream %d:%d", ost.FileIndex, ost.Index),
                          formats, Graph)) < 0)
    return ret;
  return avfilter_link(end.Filter, end.Pad, ofilter.Filter, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

std::string FilterPadName(const AVFilterContext* ctx, int padIndex, bool input) {
  std::string name = ctx->name ? ctx->name : "";
  const unsigned count = input ? ctx->nb_inputs : ctx->nb_outputs;
  if (count > 1) {
    const char* padName = avfilter_pad_get_name(input ? ctx->input_pads : ctx->output_pads, padIndex);
    name += ':';
    name += padName ? padName : "";
  }
  return name;
}

AVMediaType FilterPadType(const AVFilterContext* ctx, int padIndex, bool input) {
  return avfilter_pad_get_type(input ? ctx->input_pads : ctx->output_pads, padIndex);
}

const AVPixelFormat* EncoderPixelFormats(const AVCodec* encoder, const AVCodecContext* ctx) {
  if (!encoder) return nullptr;
  if (ctx && ctx->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
    if (encoder->id == AV_CODEC_ID_MJPEG) return MjpegUnofficialFormats;
    if (encoder->id == AV_CODEC_ID_LJPEG) return LjpegUnofficialFormats;
  }
  return encoder->pix_fmts;
}

AVPixelFormat ChooseSupportedPixelFormat(AVPixelFormat requested, const AVCodec* encoder, const AVCodecContext* ctx) {
  const AVPixelFormat* p = EncoderPixelFormats(encoder, ctx);
  if (!p) return requested;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(requested);
  const int hasAlpha = desc ? (desc->nb_components % 2 == 0) : 0;
  AVPixelFormat best = AV_PIX_FMT_NONE;
  for (; *p != AV_PIX_FMT_NONE; ++p) {
    best = av_find_best_pix_fmt_of_2(best, *p, requested, hasAlpha, nullptr);
    if (*p == requested) return requested;
  }
  if (requested != AV_PIX_FMT_NONE) {
    const char* requestedName = av_get_pix_fmt_name(requested);
    const char* bestName = av_get_pix_fmt_name(best);
    MediaLog(AV_LOG_WARNING,
             StrFormat("Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
                       requestedName ? requestedName : "none", encoder->name, bestName ? bestName : "none"));
  }
  return best;
}

std::string OutputPixelFormats(const AVCodecContext* ctx, const AVCodec* encoder, bool keepPixFmt) {
  if (keepPixFmt || ctx->pix_fmt != AV_PIX_FMT_NONE) {
    if (ctx->pix_fmt == AV_PIX_FMT_NONE) return "";
    const AVPixelFormat chosen = keepPixFmt ? ctx->pix_fmt : ChooseSupportedPixelFormat(ctx->pix_fmt, encoder, ctx);
    const char* name = av_get_pix_fmt_name(chosen);
    return name ? name : "";
  }
  std::string list;
  if (const AVPixelFormat* p = EncoderPixelFormats(encoder, ctx)) {
    for (; *p != AV_PIX_FMT_NONE; ++p) {
      const char* name = av_get_pix_fmt_name(*p);
      if (!name) continue;
      if (!list.empty()) list += '|';
      list += name;
    }
  }
  return list;
}

std::string OutputAudioFormats(const AVCodecContext* ctx, const AVCodec* encoder) {
  std::string sampleFormats;
  if (ctx->sample_fmt != AV_SAMPLE_FMT_NONE) {
    const char* name = av_get_sample_fmt_name(ctx->sample_fmt);
    sampleFormats = name ? name : "";
  } else if (encoder && encoder->sample_fmts) {
    for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
      const char* name = av_get_sample_fmt_name(*f);
      if (!name) continue;
      if (!sampleFormats.empty()) sampleFormats += '|';
      sampleFormats += name;
    }
  }

  std::string sampleRates;
  if (ctx->sample_rate) {
    sampleRates = StrFormat("%d", ctx->sample_rate);
  } else if (encoder && encoder->supported_samplerates) {
    for (const int* r = encoder->supported_samplerates; *r; ++r) {
      if (!sampleRates.empty()) sampleRates += '|';
      sampleRates += StrFormat("%d", *r);
    }
  }

  std::string layouts;
  if (ctx->ch_layout.nb_channels > 0) {
    if (ctx->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) layouts = LayoutMaskText(ctx->ch_layout.u.mask);
  } else if (encoder && encoder->ch_layouts) {
    for (const AVChannelLayout* l = encoder->ch_layouts; l->nb_channels; ++l) {
      if (l->order != AV_CHANNEL_ORDER_NATIVE) continue;
      if (!layouts.empty()) layouts += '|';
      layouts += LayoutMaskText(l->u.mask);
    }
  }

  std::string args;
  if (!sampleFormats.empty()) args += "sample_fmts=" + sampleFormats + ":";
  if (!sampleRates.empty()) args += "sample_rates=" + sampleRates + ":";
  if (!layouts.empty()) args += "channel_layouts=" + layouts + ":";
  return args;
}

// ---------------------------------------------------------------------------
// Engine operations

TFilterGraph* TCustomFFmpegOpt::InitSimpleFilterGraph(TInputStream& ist, TOutputStream& ost) {
  TFilterGraph* result = nullptr;
  try {
    auto fg = std::make_unique<TFilterGraph>();
    fg->Index = static_cast<int>(FilterGraphs.size());
    auto ofilter = std::make_unique<TOutputFilter>();
    ofilter->OutputStream = &ost;
    ofilter->Graph = fg.get();
    auto ifilter = std::make_unique<TInputFilter>();
    ifilter->InputStream = &ist;
    ifilter->Graph = fg.get();
    TOutputFilter* ofilterRaw = ofilter.get();
    TInputFilter* ifilterRaw = ifilter.get();
    fg->Outputs.push_back(std::move(ofilter));
    fg->Inputs.push_back(std::move(ifilter));
    FilterGraphs.reserve(FilterGraphs.size() + 1);
    ist.Filters.push_back(ifilterRaw);
    result = fg.get();
    FilterGraphs.push_back(std::move(fg));  // cannot throw after the reserve
    ost.Filter = ofilterRaw;
  } catch (const std::bad_alloc&) {
    AbortWithError("av_mallocz() failed");
  }
  return result;
}

namespace {

// Filters that pass pictures on unchanged.
bool PassesPicturesOn(const AVFilterContext* f) {
  const char* name = f->filter->name;
  return f->nb_inputs == 1 && f->nb_outputs == 1 && (!std::strcmp(name, "null") || !std::strcmp(name, "setpts"));
}

// Whether the configured graph's first step for the pictures of `ifilter` is
// a scaler the engine put there (an automatic conversion or the output's
// scaler) that turns them, of an even size, into yuv420p of the same size;
// the engine can then convert them itself before the graph.
bool ConvertsFirstToYuv420(const TInputFilter& ifilter) {
  const AVFilterContext* source = ifilter.Filter;
  if (!source || source->nb_outputs != 1 || !source->outputs[0]) return false;
  const AVFilterLink* in = source->outputs[0];
  // Odd sizes stay with swscale: it places the chroma of an odd size
  // differently, and the pictures would differ by more than rounding. So do
  // pictures of one chroma row or column, which it filters at the edges.
  if (in->type != AVMEDIA_TYPE_VIDEO || !YuvConverterAccepts(static_cast<AVPixelFormat>(in->format)) ||
      in->w % 2 || in->h % 2 || in->w < 4 || in->h < 4)
    return false;
  const AVFilterLink* link = in;
  while (link->dst && PassesPicturesOn(link->dst) && link->dst->outputs[0]) link = link->dst->outputs[0];
  const AVFilterContext* scaler = link->dst;
  if (!scaler || std::strcmp(scaler->filter->name, "scale") != 0 || scaler->nb_outputs != 1 || !scaler->outputs[0])
    return false;
  const char* name = scaler->name ? scaler->name : "";
  if (std::strncmp(name, "auto_scale", 10) != 0 && std::strncmp(name, "scaler for output stream", 24) != 0)
    return false;
  const AVFilterLink* out = scaler->outputs[0];
  return link->format == in->format && link->w == in->w && link->h == in->h && out->format == AV_PIX_FMT_YUV420P &&
         out->w == in->w && out->h == in->h;
}

}  // namespace

int TCustomFFmpegOpt::ConfigureFilterGraph(TFilterGraph& fg) {
  for (auto& ifilter : fg.Inputs) ifilter->ConvertTo = AV_PIX_FMT_NONE;
  int ret = BuildFilterGraph(fg);
  if (ret < 0 || fg.GraphDescription || fg.Inputs.size() != 1) return ret;
  TInputFilter& ifilter = *fg.Inputs[0];
  if (!ifilter.InputStream || ifilter.InputStream->MediaType() != AVMEDIA_TYPE_VIDEO ||
      !ConvertsFirstToYuv420(ifilter))
    return ret;

  // The same graph once more, fed yuv420p.
  if (!ifilter.Converter) ifilter.Converter = std::make_unique<TYuvConverter>();
  if (!ifilter.Converted) ifilter.Converted.reset(av_frame_alloc());
  if (!ifilter.Converted) return AVERROR(ENOMEM);
  const char* from = av_get_pix_fmt_name(static_cast<AVPixelFormat>(ifilter.Filter->outputs[0]->format));
  ifilter.ConvertTo = AV_PIX_FMT_YUV420P;
  if ((ret = BuildFilterGraph(fg)) >= 0) {
    LogFmt(this, llVerbose, "%s: %s pictures are converted to yuv420p before the graph", ifilter.Name.c_str(),
           from ? from : "?");
    return ret;
  }
  ifilter.ConvertTo = AV_PIX_FMT_NONE;
  return BuildFilterGraph(fg);
}

int TCustomFFmpegOpt::BuildFilterGraph(TFilterGraph& fg) {
  // Filter arguments are read (and the engine's own are written) with "."
  // as the decimal point, whatever the process locale says.
  const TCNumericLocale numericLocale;
  const bool first = !fg.Graph;
  const bool simple = !fg.GraphDescription;
  if (simple && (fg.Outputs.size() != 1 || !fg.Outputs[0]->OutputStream)) return AVERROR(EINVAL);
  const std::string description = simple ? fg.Outputs[0]->OutputStream->FilterDescription : *fg.GraphDescription;

  for (auto& ifilter : fg.Inputs) ifilter->Filter = nullptr;
  for (auto& ofilter : fg.Outputs) ofilter->Filter = nullptr;
  fg.Graph.reset(avfilter_graph_alloc());
  if (!fg.Graph) return AVERROR(ENOMEM);
  AVFilterGraph* graph = fg.Graph.get();

  if (simple) {
    const TOutputStream& ost = *fg.Outputs[0]->OutputStream;
    graph->scale_sws_opts = av_strdup(StrFormat("flags=0x%X", static_cast<unsigned>(ost.SwsFlags)).c_str());
    if (!graph->scale_sws_opts) return AVERROR(ENOMEM);
    const std::string swr = JoinOptions(ost.SwrOptions);
    if (!swr.empty()) {
      const int ret = av_opt_set(graph, "aresample_swr_opts", swr.c_str(), 0);
      if (ret < 0) return ret;
    }
  }

  AVFilterInOut* rawInputs = nullptr;
  AVFilterInOut* rawOutputs = nullptr;
  int ret = avfilter_graph_parse2(graph, LiteralMovieSources(description).c_str(), &rawInputs, &rawOutputs);
  TFilterInOutPtr inputs(rawInputs);
  TFilterInOutPtr outputs(rawOutputs);
  if (ret < 0) return ret;

  if (simple && (!rawInputs || rawInputs->next || !rawOutputs || rawOutputs->next)) {
    MediaErrorLog(
        StrFormat("Simple filtergraph \"%s\" does not have exactly one input and output.", description.c_str()));
    return AVERROR(EINVAL);
  }

  TGraphBuilder builder(*this, fg);
  if (!simple && first)
    for (const AVFilterInOut* cur = rawInputs; cur; cur = cur->next) builder.BindInput(cur, description);

  std::size_t i = 0;
  for (const AVFilterInOut* cur = rawInputs; cur; cur = cur->next, ++i) {
    if (i >= fg.Inputs.size()) return AVERROR(EINVAL);
    if ((ret = builder.ConfigureInput(*fg.Inputs[i], cur)) < 0) return ret;
  }

  if (simple || !first) {
    i = 0;
    for (const AVFilterInOut* cur = rawOutputs; cur; cur = cur->next, ++i) {
      if (i >= fg.Outputs.size()) return AVERROR(EINVAL);
      if ((ret = builder.ConfigureOutput(*fg.Outputs[i], cur)) < 0) return ret;
    }
    if ((ret = avfilter_graph_config(graph, nullptr)) < 0) return ret;
  } else {
    // Output pads wait until output streams are bound to them.
    try {
      while (outputs) {
        TFilterInOutPtr rest(outputs->next);
        outputs->next = nullptr;
        auto ofilter = std::make_unique<TOutputFilter>();
        ofilter->Graph = &fg;
        ofilter->PendingOutput = std::move(outputs);
        fg.Outputs.push_back(std::move(ofilter));
        outputs = std::move(rest);
      }
    } catch (const std::bad_alloc&) {
      return AVERROR(ENOMEM);
    }
  }

  fg.Reconfiguration = 1;
  return 0;
}

int TCustomFFmpegOpt::ConfigureComplexFilterGraphs() {
  for (auto& fg : FilterGraphs) {
    if (fg->Graph || !fg->GraphDescription) continue;
    const int ret = ConfigureFilterGraph(*fg);
    if (ret < 0) return ret;
  }
  return 0;
}

void TCustomFFmpegOpt::BindOutputFilter(TOutputFilter& ofilter, TFileOptions& o, AVFormatContext* oc) {
  const TCNumericLocale numericLocale;
  if (!ofilter.PendingOutput || !ofilter.Graph) AbortWithError("Error configuring filter.");
  const AVFilterInOut* out = ofilter.PendingOutput.get();
  TOutputStream* ost = nullptr;
  switch (FilterPadType(out->filter_ctx, out->pad_idx, false)) {
    case AVMEDIA_TYPE_VIDEO:
      ost = NewVideoStream(o, oc, -1);
      break;
    case AVMEDIA_TYPE_AUDIO:
      ost = NewAudioStream(o, oc, -1);
      break;
    default:
      AbortWithError("Only video and audio filters are supported currently.");
  }
  ost->Filter = &ofilter;
  ofilter.OutputStream = ost;
  if (ost->StreamCopy)
    AbortWithError(
        "Streamcopy requested for output stream %d:%d, which is fed from a complex filtergraph. Filtering and "
        "streamcopy cannot be used together.",
        ost->FileIndex, ost->Index);
  TGraphBuilder builder(*this, *ofilter.Graph);
  if (builder.ConfigureOutput(ofilter, out) < 0) AbortWithError("Error configuring filter.");
  ofilter.PendingOutput.reset();
}

bool TCustomFFmpegOpt::InputInFilterGraph(const TFilterGraph& fg, const TInputStream& ist) {
  for (const auto& ifilter : fg.Inputs)
    if (ifilter->InputStream == &ist) return true;
  return false;
}

}  // namespace vexa
