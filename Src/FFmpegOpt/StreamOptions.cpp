// Output stream creation: the common part and the five per-type constructors
// that turn the per-stream entries of an output line into codec settings.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "FFLog/FFLog.h"
#include "FFmpegOpt/FFmpegOpt.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/avutil.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace vexa {

namespace {

// atoi's reading (leading blanks, optional sign, digits; 0 without digits),
// saturated to the int range instead of overflowing.
int LeadingDecimal(const char* text) {
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Sets a bare channel count (no layout yet) on a codec context.
void SetChannelCount(AVCodecContext* ctx, int channels) {
  av_channel_layout_uninit(&ctx->ch_layout);
  ctx->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
  ctx->ch_layout.nb_channels = channels;
}

}  // namespace

void TCustomFFmpegOpt::ChooseEncoder(TFileOptions& o, AVFormatContext* oc, TOutputStream& ost) {
  const TSpecifierValue* name = MatchPerStream(o.CodecNames, oc, ost.Stream);
  AVCodecContext* ctx = ost.CodecContext.get();
  const AVMediaType type = ctx->codec_type;
  if (!name) {
    ctx->codec_id = av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, type);
    ost.Encoder = avcodec_find_encoder(ctx->codec_id);
  } else if (name->Str == "copy") {
    ost.StreamCopy = 1;
  } else {
    ost.Encoder = FindCodecOrAbort(name->Str, type, true);
    ctx->codec_id = ost.Encoder->id;
  }
}

TOutputStream* TCustomFFmpegOpt::NewOutputStream(TFileOptions& o, AVFormatContext* oc, AVMediaType type, int source) {
  AVStream* st = avformat_new_stream(oc, nullptr);
  if (!st) AbortWithError("Could not alloc stream.");
  const int index = static_cast<int>(oc->nb_streams) - 1;
  if (index < static_cast<int>(o.StreamIdMap.size())) st->id = o.StreamIdMap[static_cast<std::size_t>(index)];
  // Stream specifiers of the output line are matched against this stream.
  st->codecpar->codec_type = type;

  TOutputStream* ost = nullptr;
  try {
    auto record = std::make_unique<TOutputStream>();
    record->CodecContext.reset(avcodec_alloc_context3(nullptr));
    if (!record->CodecContext) throw std::bad_alloc();
    OutputStreams.push_back(std::move(record));
    ost = OutputStreams.back().get();
  } catch (const std::bad_alloc&) {
    AbortWithError("av_mallocz() failed");
  }
  ost->FileIndex = static_cast<int>(OutputFiles.size());
  ost->Index = index;
  ost->Stream = st;
  ost->CodecContext->codec_type = type;

  ChooseEncoder(o, oc, *ost);
  const TOptionGroupDicts* group = o.Group;
  ost->EncoderOptions = FilterCodecOptions(group ? group->CodecOptions.Get() : nullptr,
                                           ost->Encoder ? ost->Encoder->id : AV_CODEC_ID_NONE, oc, st, ost->Encoder);
  // The encoder's defaults; the codec id chosen above is kept even without an
  // encoder so that a later "encoder not found" names the codec.
  const AVCodecID codecId = ost->CodecContext->codec_id;
  ost->CodecContext.reset(avcodec_alloc_context3(ost->Encoder));
  if (!ost->CodecContext) AbortWithError("av_mallocz() failed");
  AVCodecContext* ctx = ost->CodecContext.get();
  ctx->codec_type = type;
  ctx->codec_id = codecId;

  if (const TSpecifierValue* v = MatchPerStream(o.MaxFrames, oc, st)) ost->MaxFrames = v->Int64;
  if (const TSpecifierValue* v = MatchPerStream(o.CopyPriorStart, oc, st)) ost->CopyPriorStart = v->Int;

  if (const TSpecifierValue* v = MatchPerStream(o.BitstreamFilters, oc, st)) {
    std::string list = v->Str;
    while (true) {
      const std::string::size_type comma = list.find(',');
      const std::string bsfName = list.substr(0, comma);
      const AVBitStreamFilter* filter = av_bsf_get_by_name(bsfName.c_str());
      if (!filter) AbortWithError("Unknown bitstream filter \"%s\"", bsfName.c_str());
      AVBSFContext* bsf = nullptr;
      if (av_bsf_alloc(filter, &bsf) < 0) AbortWithError("av_mallocz() failed");
      TBsfContextPtr owned(bsf);
      try {
        ost->BitstreamFilters.push_back(std::move(owned));
      } catch (const std::bad_alloc&) {
        AbortWithError("av_mallocz() failed");
      }
      if (comma == std::string::npos) break;
      list.erase(0, comma + 1);
    }
  }

  if (const TSpecifierValue* v = MatchPerStream(o.CodecTags, oc, st)) ctx->codec_tag = CodecTagValue(v->Str);

  double qscale = -1;
  if (const TSpecifierValue* v = MatchPerStream(o.QScales, oc, st)) qscale = v->Dbl;
  if (qscale >= 0) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = static_cast<int>(FF_QP2LAMBDA * qscale);
  }

  if (oc->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  int64_t swsFlags = SWS_BICUBIC;
  if (group && group->ScalerOptions) av_opt_get_int(group->ScalerOptions.get(), "sws_flags", 0, &swsFlags);
  ost->SwsFlags = swsFlags;
  if (group) {
    ost->SwrOptions = group->ResamplerOptions.Clone();
    ost->ResampleOptions = group->ResampleOptions.Clone();
  }
  if (ost->Encoder && av_get_exact_bits_per_sample(ost->Encoder->id) == 24)
    ost->SwrOptions.Set("output_sample_bits", "24");

  ost->SourceIndex = source;
  if (source >= 0) {
    TInputStream* ist = InputStreams.at(static_cast<std::size_t>(source)).get();
    ost->SyncInput = ist;
    ist->Discard = 0;
    ist->Stream->discard = AVDISCARD_NONE;
  }
  return ost;
}

void TCustomFFmpegOpt::ParseMatrix(uint16_t* matrix, const std::string& text) {
  const char* p = text.c_str();
  for (int i = 0;; ++i) {
    matrix[i] = static_cast<uint16_t>(LeadingDecimal(p));
    if (i == 63) break;
    p = std::strchr(p, ',');
    if (!p) AbortWithError("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i);
    ++p;
  }
}

TOutputStream* TCustomFFmpegOpt::NewVideoStream(TFileOptions& o, AVFormatContext* oc, int source) {
  const TCNumericLocale numericLocale;  // the rate and ratio parsers follow the locale
  TOutputStream* ost = NewOutputStream(o, oc, AVMEDIA_TYPE_VIDEO, source);
  AVStream* st = ost->Stream;
  AVCodecContext* ctx = ost->CodecContext.get();

  if (const TSpecifierValue* v = MatchPerStream(o.FrameRates, oc, st))
    if (av_parse_video_rate(&ost->FrameRate, v->Str.c_str()) < 0)
      AbortWithError("Invalid framerate value: %s", v->Str.c_str());

  if (ost->StreamCopy) {
    if (const TSpecifierValue* v = MatchPerStream(o.CopyInitialNonKeyframes, oc, st))
      ost->CopyInitialNonKeyframes = v->Int;
    return ost;
  }

  if (const TSpecifierValue* v = MatchPerStream(o.FrameSizes, oc, st))
    if (av_parse_video_size(&ctx->width, &ctx->height, v->Str.c_str()) < 0)
      AbortWithError("Invalid frame size: %s.", v->Str.c_str());

  if (const TSpecifierValue* v = MatchPerStream(o.AspectRatios, oc, st)) {
    AVRational q{0, 0};
    if (av_parse_ratio(&q, v->Str.c_str(), 255, 0, nullptr) < 0 || q.num <= 0 || q.den <= 0)
      AbortWithError("Invalid aspect ratio: %s", v->Str.c_str());
    ost->FrameAspectRatio = static_cast<float>(av_q2d(q));
  }

  ctx->bits_per_raw_sample = FrameBitsPerRawSample;

  if (const TSpecifierValue* v = MatchPerStream(o.PixelFormats, oc, st)) {
    std::string name = v->Str;
    if (!name.empty() && name[0] == '+') {
      ost->KeepPixFmt = 1;
      name.erase(0, 1);
    }
    if (!name.empty()) {
      ctx->pix_fmt = av_get_pix_fmt(name.c_str());
      if (ctx->pix_fmt == AV_PIX_FMT_NONE) AbortWithError("Unknown pixel format requested: %s.", name.c_str());
    }
  }
  st->sample_aspect_ratio = ctx->sample_aspect_ratio;

  if (IntraOnly) ctx->gop_size = 0;

  if (const TSpecifierValue* v = MatchPerStream(o.IntraMatrices, oc, st)) {
    av_freep(&ctx->intra_matrix);
    ctx->intra_matrix = static_cast<uint16_t*>(av_mallocz(sizeof(uint16_t) * 64));
    if (!ctx->intra_matrix) AbortWithError("Could not allocate memory for intra matrix.");
    ParseMatrix(ctx->intra_matrix, v->Str);
  }
  if (const TSpecifierValue* v = MatchPerStream(o.InterMatrices, oc, st)) {
    av_freep(&ctx->inter_matrix);
    ctx->inter_matrix = static_cast<uint16_t*>(av_mallocz(sizeof(uint16_t) * 64));
    if (!ctx->inter_matrix) AbortWithError("Could not allocate memory for inter matrix.");
    ParseMatrix(ctx->inter_matrix, v->Str);
  }

  if (const TSpecifierValue* v = MatchPerStream(o.RcOverrides, oc, st)) {
    const char* p = v->Str.c_str();
    int count = 0;
    while (p) {
      int start = 0, end = 0, q = 0;
      if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) AbortWithError("error parsing rc_override");
      void* grown = av_realloc_array(ctx->rc_override, static_cast<std::size_t>(count) + 1, sizeof(RcOverride));
      if (!grown) AbortWithError("Could not (re)allocate memory for rc_override.");
      ctx->rc_override = static_cast<RcOverride*>(grown);
      RcOverride& entry = ctx->rc_override[count];
      entry.start_frame = start;
      entry.end_frame = end;
      if (q > 0) {
        entry.qscale = q;
        entry.quality_factor = 1.0f;
      } else {
        entry.qscale = 0;
        entry.quality_factor = static_cast<float>(-q) / 100.0f;
      }
      ++count;
      ctx->rc_override_count = count;
      p = std::strchr(p, '/');
      if (p) ++p;
    }
  }

  ctx->intra_dc_precision = IntraDcPrecision - 8;

  if (DoPsnr) ctx->flags |= AV_CODEC_FLAG_PSNR;

  if (const TSpecifierValue* v = MatchPerStream(o.Passes, oc, st)) {
    if (v->Int & 1) {
      ctx->flags |= AV_CODEC_FLAG_PASS1;
      ost->EncoderOptions.Set("flags", "+pass1", AV_DICT_APPEND);
    }
    if (v->Int & 2) {
      ctx->flags |= AV_CODEC_FLAG_PASS2;
      ost->EncoderOptions.Set("flags", "+pass2", AV_DICT_APPEND);
    }
  }

  if (const TSpecifierValue* v = MatchPerStream(o.PassLogFiles, oc, st)) ost->LogFilePrefix = v->Str;
  if (const TSpecifierValue* v = MatchPerStream(o.ForcedKeyFrames, oc, st)) ost->ForcedKeyFrames = v->Str;
  if (const TSpecifierValue* v = MatchPerStream(o.ForceFps, oc, st)) ost->ForceFps = v->Int;
  ost->TopFieldFirst = -1;
  if (const TSpecifierValue* v = MatchPerStream(o.TopFieldFirst, oc, st)) ost->TopFieldFirst = v->Int;

  const TSpecifierValue* filters = MatchPerStream(o.Filters, oc, st);
  ost->FilterDescription = filters ? filters->Str : "null";
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewAudioStream(TFileOptions& o, AVFormatContext* oc, int source) {
  TOutputStream* ost = NewOutputStream(o, oc, AVMEDIA_TYPE_AUDIO, source);
  if (ost->StreamCopy) return ost;
  AVStream* st = ost->Stream;
  AVCodecContext* ctx = ost->CodecContext.get();

  if (const TSpecifierValue* v = MatchPerStream(o.AudioChannels, oc, st)) SetChannelCount(ctx, v->Int);

  if (const TSpecifierValue* v = MatchPerStream(o.SampleFormats, oc, st)) {
    ctx->sample_fmt = av_get_sample_fmt(v->Str.c_str());
    if (ctx->sample_fmt == AV_SAMPLE_FMT_NONE) AbortWithError("Invalid sample format \"%s\"", v->Str.c_str());
  }

  if (const TSpecifierValue* v = MatchPerStream(o.SampleRates, oc, st)) ctx->sample_rate = v->Int;

  const TSpecifierValue* filters = MatchPerStream(o.Filters, oc, st);
  ost->FilterDescription = filters ? filters->Str : "anull";

  const TInputStream* ist = ost->SyncInput;
  for (const TAudioChannelMap& map : o.AudioChannelMaps) {
    const bool fromSource = map.ChannelIndex == -1 || (ist && map.FileIndex == ist->FileIndex && ist->Stream &&
                                                       map.StreamIndex == ist->Stream->index);
    if (!fromSource) continue;
    if (map.OutputFileIndex != -1 && map.OutputFileIndex != ost->FileIndex) continue;
    if (map.OutputStreamIndex != -1 && map.OutputStreamIndex != ost->Index) continue;
    if (ost->AudioChannelsMapped < static_cast<int>(ost->AudioChannelsMap.size()))
      ost->AudioChannelsMap[static_cast<std::size_t>(ost->AudioChannelsMapped++)] = map.ChannelIndex;
    else
      LogFmt(this, llFatal, "Max channel mapping for output %d.%d reached", ost->FileIndex, ost->Index);
  }
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewSubtitleStream(TFileOptions& o, AVFormatContext* oc, int source) {
  TOutputStream* ost = NewOutputStream(o, oc, AVMEDIA_TYPE_SUBTITLE, source);
  AVStream* st = ost->Stream;
  if (const TSpecifierValue* v = MatchPerStream(o.CopyInitialNonKeyframes, oc, st))
    ost->CopyInitialNonKeyframes = v->Int;
  if (!ost->StreamCopy) {
    AVCodecContext* ctx = ost->CodecContext.get();
    if (const TSpecifierValue* v = MatchPerStream(o.FrameSizes, oc, st))
      if (av_parse_video_size(&ctx->width, &ctx->height, v->Str.c_str()) < 0)
        AbortWithError("Invalid frame size: %s.", v->Str.c_str());
  }
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewDataStream(TFileOptions& o, AVFormatContext* oc, int source) {
  TOutputStream* ost = NewOutputStream(o, oc, AVMEDIA_TYPE_DATA, source);
  if (!ost->StreamCopy) AbortWithError("Data stream encoding not supported yet (only streamcopy)");
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewAttachmentStream(TFileOptions& o, AVFormatContext* oc, int source) {
  TOutputStream* ost = NewOutputStream(o, oc, AVMEDIA_TYPE_ATTACHMENT, source);
  ost->StreamCopy = 1;
  return ost;
}

}  // namespace vexa
