// Transcode initialisation: copy or encode per output stream, encoder and
// decoder opening, headers, the stream mapping dump.
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/eval.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {

const char* const kForcedKfVarNames[] = {"n", "n_forced", "prev_forced_n", "prev_forced_t", "t", nullptr};
constexpr char kPleaseCheck[] =
    "Please check error log message(reported by FFLogger) to find out more detail information.";

bool IsMovFamily(const char* name) {
  static const char* const kNames[] = {"mov", "mp4", "3gp", "3g2", "psp", "ipod", "f4v"};
  for (const char* n : kNames)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

// Copies the settings an encoder is opened with into a fresh, unopened
// context (join mode re-opens from it).
TCodecContextPtr CloneEncoderSettings(const AVCodecContext* src, const AVCodec* codec) {
  TCodecContextPtr dst(avcodec_alloc_context3(codec));
  if (!dst) return dst;
  AVCodecParameters* par = avcodec_parameters_alloc();
  if (par && avcodec_parameters_from_context(par, src) >= 0) avcodec_parameters_to_context(dst.get(), par);
  avcodec_parameters_free(&par);
  dst->time_base = src->time_base;
  dst->framerate = src->framerate;
  dst->flags = src->flags;
  dst->flags2 = src->flags2;
  dst->global_quality = src->global_quality;
  dst->gop_size = src->gop_size;
  dst->max_b_frames = src->max_b_frames;
  dst->bits_per_raw_sample = src->bits_per_raw_sample;
  dst->strict_std_compliance = src->strict_std_compliance;
  dst->intra_dc_precision = src->intra_dc_precision;
  dst->qmin = src->qmin;
  dst->qmax = src->qmax;
  dst->rc_max_rate = src->rc_max_rate;
  dst->rc_buffer_size = src->rc_buffer_size;
  return dst;
}

}  // namespace

AVCodecContext* TCustomFFmpeg::EncoderContext(const TOutputStream* AStream) const {
  if (Joined && JoinGroupSize > 0) {
    for (size_t i = 0; i < OutputStreams.size(); ++i)
      if (OutputStreams[i].get() == AStream) return OutputStreams[i % JoinGroupSize]->CodecContext.get();
  }
  return AStream->CodecContext.get();
}

bool TCustomFFmpeg::IsActiveStream(const TOutputStream* AStream) const {
  for (int i = FirstActiveStream; i <= LastActiveStream && i < static_cast<int>(OutputStreams.size()); ++i)
    if (OutputStreams[i].get() == AStream) return true;
  return false;
}

void TCustomFFmpeg::CheckLeftoverOptions(const TDictionary& AOptions) {
  const AVDictionaryEntry* e = av_dict_get(AOptions.Get(), "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (!e) return;
  std::string text = std::string("Option ") + e->key + " not found.";
  if (StrictOptions) AbortWithError(text);
  LastErrorText = text;
}

int TCustomFFmpeg::SetupCopyStream(TOutputStream* ost, TInputStream* ist) {
  AVFormatContext* oc = OutputFiles[ost->FileIndex]->FormatContext;
  AVCodecParameters* par = ost->Stream->codecpar;
  const AVCodecParameters* ipar = ist->Stream->codecpar;

  if (static_cast<int64_t>(ipar->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX) {
    LastErrorText = "icodec.extradata_size is invalid (too large)";
    return AVERROR(EINVAL);
  }
  // A tag forced with -tag sits in the stream's codec context.
  const uint32_t forcedTag = ost->CodecContext ? ost->CodecContext->codec_tag : 0;
  if (avcodec_parameters_copy(par, ipar) < 0) {
    LastErrorText = "av_mallocz() failed";
    return AVERROR(ENOMEM);
  }
  par->codec_tag = forcedTag;
  if (!forcedTag) {
    unsigned int tag = 0;
    if (!oc->oformat->codec_tag || av_codec_get_id(oc->oformat->codec_tag, ipar->codec_tag) == ipar->codec_id ||
        !av_codec_get_tag2(oc->oformat->codec_tag, ipar->codec_id, &tag))
      par->codec_tag = ipar->codec_tag;
  }

  // Time base.
  const AVCodecContext* idec = ist->CodecContext.get();
  AVRational tb = ist->Stream->time_base;
  const AVRational r = ist->Stream->r_frame_rate;
  const AVRational a = ist->Stream->avg_frame_rate;
  const double s = av_q2d(ist->Stream->time_base);
  const AVRational cq = idec ? idec->time_base : AVRational{0, 1};
  const double c = cq.den ? av_q2d(cq) : 0.0;
  const int tpf = idec && idec->ticks_per_frame > 0 ? idec->ticks_per_frame : 1;
  const double rd = r.den && r.num ? av_q2d(r) : 0.0;
  if (std::strcmp(oc->oformat->name, "avi") == 0) {
    if ((CopyTb < 0 && rd > 0 && av_q2d(r) >= av_q2d(a) && 0.5 / rd > s && 0.5 / rd > c && s < 1.0 / 500 &&
         c < 1.0 / 500) ||
        CopyTb == 2) {
      tb = AVRational{r.den, 2 * r.num};
    } else if ((CopyTb < 0 && c * tpf > 2 * s && s < 1.0 / 500) || CopyTb == 0) {
      tb = AVRational{cq.num * tpf, cq.den * 2};
    }
  } else if (!(oc->oformat->flags & AVFMT_VARIABLE_FPS) && !IsMovFamily(oc->oformat->name)) {
    if ((CopyTb < 0 && cq.den != 0 && c * tpf > s && s < 1.0 / 500) || CopyTb == 0)
      tb = AVRational{cq.num * tpf, cq.den};
  }
  if (par->codec_tag == MKTAG('t', 'm', 'c', 'd') && cq.num > 0 && cq.num < cq.den &&
      static_cast<int64_t>(cq.den) < 121LL * cq.num)
    tb = cq;
  if (ost->FrameRate.num) tb = av_inv_q(ost->FrameRate);
  if (tb.num <= 0 || tb.den <= 0) tb = ist->Stream->time_base;
  av_reduce(&tb.num, &tb.den, tb.num, tb.den, INT_MAX);
  ost->Stream->time_base = tb;

  switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (AudioVolume != 256) {
        LastErrorText = "-acodec copy and -vol are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      if (AudioInputHook || AudioOutputHook) {
        LastErrorText = "-acodec copy and AudioHook are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      if ((par->block_align == 1 || par->block_align == 1152 || par->block_align == 576) &&
          par->codec_id == AV_CODEC_ID_MP3)
        par->block_align = 0;
      if (par->codec_id == AV_CODEC_ID_AC3) par->block_align = 0;
      break;
    case AVMEDIA_TYPE_VIDEO: {
      if (VideoInputHook || VideoOutputHook) {
        LastErrorText = "-vcodec copy and VideoHook are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      if (FrameInputHook || FrameOutputHook) {
        LastErrorText = "-vcodec copy and FrameHook are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      if (VHookActive) {
        LastErrorText = "-vcodec copy and -vhook are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      if (GetPreviewFlags() != 0) {
        LastErrorText = "-vcodec copy and PostHooks are incompatible (frames are not decoded)";
        return AVERROR(EINVAL);
      }
      AVRational sar = ist->Stream->sample_aspect_ratio;
      if (!sar.num) sar = ipar->sample_aspect_ratio;
      if (!sar.num) sar = AVRational{0, 1};
      par->sample_aspect_ratio = sar;
      ost->Stream->sample_aspect_ratio = sar;
      ost->Stream->avg_frame_rate = ist->Stream->avg_frame_rate;
      ost->Stream->r_frame_rate = ist->Stream->r_frame_rate;
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
      break;
    default:
      LastErrorText = "invalid codec_type of output stream";
      return -1;
  }
  return 0;
}

int TCustomFFmpeg::SetupEncodedStream(TOutputStream* ost, TInputStream* ist, std::string& AError) {
  AVCodecContext* enc = ost->CodecContext.get();
  AVFormatContext* oc = OutputFiles[ost->FileIndex]->FormatContext;
  if (!ost->Encoder) ost->Encoder = avcodec_find_encoder(enc->codec_id);
  if (!ost->Encoder) {
    char text[256];
    snprintf(text, sizeof(text), "Encoder (codec %s) not found for output stream #%d:%d",
             avcodec_get_name(enc->codec_id), ost->FileIndex, ost->Index);
    AError = text;
    return AVERROR(EINVAL);
  }
  if (ist) ist->DecodingNeeded++;
  ost->EncodingNeeded = 1;

  const AVMediaType type = enc->codec_type;
  if ((type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) && !ost->Filter) {
    if (!ist) AbortWithError("Error opening filters!");
    TFilterGraph* fg = InitSimpleFilterGraph(*ist, *ost);
    if (!fg || ConfigureFilterGraph(*fg) < 0) AbortWithError("Error opening filters!");
  }
  AVFilterContext* sink = ost->Filter ? ost->Filter->Filter : nullptr;

  if (type == AVMEDIA_TYPE_VIDEO) {
    if (!ost->FrameRate.num) {
      if (sink) ost->FrameRate = av_buffersink_get_frame_rate(sink);
      if (!ost->FrameRate.num && ist) ost->FrameRate = ist->FrameRate;
      if (!ost->FrameRate.num && ist) ost->FrameRate = ist->Stream->r_frame_rate;
      if (!ost->FrameRate.num || !ost->FrameRate.den) ost->FrameRate = AVRational{25, 1};
    }
    if (ost->Encoder->supported_framerates && !ost->ForceFps) {
      const int idx = av_find_nearest_q_idx(ost->FrameRate, ost->Encoder->supported_framerates);
      ost->FrameRate = ost->Encoder->supported_framerates[idx];
    }
  }

  switch (type) {
    case AVMEDIA_TYPE_AUDIO:
      enc->sample_fmt = static_cast<AVSampleFormat>(av_buffersink_get_format(sink));
      enc->sample_rate = av_buffersink_get_sample_rate(sink);
      av_channel_layout_uninit(&enc->ch_layout);
      if (av_buffersink_get_ch_layout(sink, &enc->ch_layout) < 0) return AVERROR(ENOMEM);
      enc->time_base = AVRational{1, enc->sample_rate};
      break;
    case AVMEDIA_TYPE_VIDEO: {
      enc->time_base = av_inv_q(ost->FrameRate);
      if (!enc->time_base.num || !enc->time_base.den) enc->time_base = av_buffersink_get_time_base(sink);
      if (av_q2d(enc->time_base) < 0.001 && VideoSyncMethod != 0 &&
          (VideoSyncMethod == 1 || (VideoSyncMethod == -1 && !(oc->oformat->flags & AVFMT_VARIABLE_FPS))))
        av_log(oc, AV_LOG_WARNING,
               "Frame rate very high for a muxer not efficiently supporting it.\n"
               "Please consider specifying a lower framerate, a different muxer or -vsync 2\n");
      enc->framerate = ost->FrameRate;
      enc->width = av_buffersink_get_w(sink);
      enc->height = av_buffersink_get_h(sink);
      enc->pix_fmt = static_cast<AVPixelFormat>(av_buffersink_get_format(sink));
      if (ost->FrameAspectRatio > 0 && enc->width > 0)
        enc->sample_aspect_ratio = av_d2q(ost->FrameAspectRatio * enc->height / enc->width, 255);
      else
        enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(sink);
      ost->Stream->sample_aspect_ratio = enc->sample_aspect_ratio;
      const AVCodecContext* dec = ist ? ist->CodecContext.get() : nullptr;
      if (!dec || enc->width != dec->width || enc->height != dec->height || enc->pix_fmt != dec->pix_fmt)
        enc->bits_per_raw_sample = FrameBitsPerRawSample;
      if (!ost->ForcedKeyFrames.empty()) {
        if (ost->ForcedKeyFrames.compare(0, 5, "expr:") == 0) {
          AVExpr* expr = nullptr;
          const int ret = av_expr_parse(&expr, ost->ForcedKeyFrames.c_str() + 5, kForcedKfVarNames, nullptr,
                                        nullptr, nullptr, nullptr, 0, nullptr);
          if (ret < 0) {
            LogFmt(this, llError, "Invalid force_key_frames expression \"%s\"", ost->ForcedKeyFrames.c_str() + 5);
            return ret;
          }
          ost->ForcedKfExpr.reset(expr);
          ost->ForcedKfExprValues = {0, 0, NAN, NAN, 0};
        } else {
          ParseForcedKeyFrames(ost->ForcedKeyFrames, ost, enc);
        }
      }
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      enc->time_base = AVRational{1, 1000};
      if (ist && ist->CodecContext && !enc->width) {
        enc->width = ist->CodecContext->width;
        enc->height = ist->CodecContext->height;
      }
      break;
    default:
      AbortWithError("invalid codec_type of output stream");
  }

  // Two-pass log files.
  if (const char* flags = ost->EncoderOptions.Value("flags")) av_opt_set(enc, "flags", flags, 0);
  if (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
    int globalIndex = 0;
    for (size_t i = 0; i < OutputStreams.size(); ++i)
      if (OutputStreams[i].get() == ost) globalIndex = static_cast<int>(i);
    char logName[1024];
    snprintf(logName, sizeof(logName), "%s-%d.log",
             ost->LogFilePrefix.empty() ? "ffencoder2pass" : ost->LogFilePrefix.c_str(), globalIndex);
    if (std::strcmp(ost->Encoder->name, "libx264") == 0) {
      ost->EncoderOptions.Set("stats", logName, AV_DICT_DONT_OVERWRITE);
    } else {
      if (enc->flags & AV_CODEC_FLAG_PASS2) {
        std::vector<uint8_t> buffer;
        const int ret = ReadFileToBuffer(logName, buffer);
        if (ret < 0) {
          char text[1200];
          snprintf(text, sizeof(text), "%sError reading log file \"%s\" for pass-2 encoding",
                   ret == AVERROR(ENOMEM) ? "Could not allocate file buffer: " : "", logName);
          Log(this, llFatal, text);
          LastErrorText = text;
          return ret == AVERROR(ENOMEM) ? ret : -1;
        }
        // The library's convention: stats_in is av_malloc'ed and freed with the encoder.
        char* stats = static_cast<char*>(av_malloc(buffer.size() + 1));
        if (!stats) {
          LastErrorText = std::string("Could not allocate file buffer: Error reading log file \"") + logName +
                          "\" for pass-2 encoding";
          Log(this, llFatal, LastErrorText);
          return AVERROR(ENOMEM);
        }
        if (!buffer.empty()) memcpy(stats, buffer.data(), buffer.size());
        stats[buffer.size()] = '\0';
        av_freep(&enc->stats_in);
        enc->stats_in = stats;
      }
      if (enc->flags & AV_CODEC_FLAG_PASS1) {
        FILE* f = fopen(logName, "wb");
        if (!f) {
          char text[1200];
          snprintf(text, sizeof(text), "Cannot write log file %s for pass-1 encoding", logName);
          Log(this, llFatal, text);
          LastErrorText = text;
          return -1;
        }
        ost->LogFile.reset(f);
      }
    }
  }
  return 0;
}

void TCustomFFmpeg::ParseForcedKeyFrames(const std::string& AText, TOutputStream* AStream,
                                         AVCodecContext* ACodecContext) {
  AVFormatContext* oc = OutputFiles[AStream->FileIndex]->FormatContext;
  std::vector<int64_t> pts;
  try {
    size_t pos = 0;
    while (pos <= AText.size()) {
      size_t comma = AText.find(',', pos);
      if (comma == std::string::npos) comma = AText.size();
      const std::string item = AText.substr(pos, comma - pos);
      pos = comma + 1;
      if (item.compare(0, 8, "chapters") == 0) {
        if (oc->nb_chapters > static_cast<unsigned>(INT_MAX / sizeof(int64_t)) - pts.size())
          throw FFmpegException("Could not allocate forced key frames array.");
        const int64_t offset =
            item.size() > 8 ? ParseTime("force_key_frames", item.substr(8), true) : 0;
        for (unsigned j = 0; j < oc->nb_chapters; ++j) {
          const AVChapter* ch = oc->chapters[j];
          pts.push_back(av_rescale_q(ch->start, ch->time_base, ACodecContext->time_base) +
                        av_rescale_q(offset, AV_TIME_BASE_Q, ACodecContext->time_base));
        }
      } else {
        const int64_t t = ParseTime("force_key_frames", item, true);
        pts.push_back(av_rescale_q(t, AV_TIME_BASE_Q, ACodecContext->time_base));
      }
    }
  } catch (const std::bad_alloc&) {
    throw FFmpegException("Could not allocate forced key frames array.");
  }
  std::sort(pts.begin(), pts.end());
  AStream->ForcedKfPts = std::move(pts);
  AStream->ForcedKfIndex = 0;
}

int TCustomFFmpeg::OpenEncoder(TOutputStream* ost, std::string& AError) {
  AVCodecContext* enc = ost->CodecContext.get();
  TInputStream* ist = ost->SourceIndex >= 0 ? InputStreams[ost->SourceIndex].get() : nullptr;
  if (ist && ist->CodecContext && ist->CodecContext->subtitle_header) {
    const int size = ist->CodecContext->subtitle_header_size;
    enc->subtitle_header = static_cast<uint8_t*>(av_mallocz(size + 1));
    if (!enc->subtitle_header) {
      AError = "av_malloc failed";
      return AVERROR(ENOMEM);
    }
    memcpy(enc->subtitle_header, ist->CodecContext->subtitle_header, size);
    enc->subtitle_header_size = size;
  }
  if (Joined) {
    ost->SavedCodecId = enc->codec_id;
    ost->SavedOptions = ost->EncoderOptions.Clone();
    ost->SavedMaxBFrames = enc->max_b_frames;
    ost->SavedSettings = CloneEncoderSettings(enc, ost->Encoder);
  }
  if (std::strcmp(ost->Encoder->name, "mjpeg") == 0) ost->EncoderOptions.Set("threads", "1");
  if (!ost->EncoderOptions.Value("threads")) ost->EncoderOptions.Set("threads", "auto");
  int ret = avcodec_open2(enc, ost->Encoder, ost->EncoderOptions.Address());
  if (ret < 0) {
    if (ret == AVERROR_EXPERIMENTAL) AbortWithError("abort codec experimental");
    char text[512];
    snprintf(text, sizeof(text),
             "Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as "
             "bit_rate, rate, width or height. %s",
             ost->FileIndex, ost->Index, MediaTypeName(enc->codec_type).c_str(), kPleaseCheck);
    AError = text;
    return ret;
  }
  ost->EncoderOpened = true;
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && ost->Filter && ost->Filter->Filter &&
      !(ost->Encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0)
    av_buffersink_set_frame_size(ost->Filter->Filter, enc->frame_size);
  AddOpenEncoder(ost);
  CheckLeftoverOptions(ost->EncoderOptions);
  if (Joined) ost->EncoderOptions = ost->SavedOptions.Clone();
  if (enc->bit_rate > 0 && enc->bit_rate < 1000)
    Log(this, llWarning, "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
  ExtraSize += enc->extradata_size;

  ret = avcodec_parameters_from_context(ost->Stream->codecpar, enc);
  if (ret < 0) {
    AError = "av_malloc failed";
    return ret;
  }
  // Raw packed pictures with padding (BGR0: 24 bits of colour in 32) take
  // the padded size a pixel; the file's header must say so, or players read
  // the rows with the wrong stride.
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO && enc->codec_id == AV_CODEC_ID_RAWVIDEO) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(enc->pix_fmt);
    if (desc && !(desc->flags & (AV_PIX_FMT_FLAG_PLANAR | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)))
      ost->Stream->codecpar->bits_per_coded_sample =
          std::max(ost->Stream->codecpar->bits_per_coded_sample, av_get_padded_bits_per_pixel(desc));
  }
  ost->Stream->time_base = enc->time_base;  // a hint; the muxer settles it in the header
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
    ost->Stream->avg_frame_rate = ost->FrameRate;
    ost->Stream->r_frame_rate = ost->FrameRate;
  }
  return 0;
}

int TCustomFFmpeg::InitBitstreamFilters(TOutputStream* ost) {
  if (ost->BitstreamFilters.empty()) return 0;
  const AVCodecParameters* par = ost->Stream->codecpar;
  AVRational tb = ost->Stream->time_base;
  for (auto& bsf : ost->BitstreamFilters) {
    int ret = avcodec_parameters_copy(bsf->par_in, par);
    if (ret < 0) return ret;
    bsf->time_base_in = tb;
    ret = av_bsf_init(bsf.get());
    if (ret < 0) {
      LogFmt(this, llError, "Error initializing bitstream filter: %s", bsf->filter->name);
      return ret;
    }
    par = bsf->par_out;
    tb = bsf->time_base_out;
  }
  int ret = avcodec_parameters_copy(ost->Stream->codecpar, par);
  if (ret < 0) return ret;
  ost->Stream->time_base = tb;
  return 0;
}

int TCustomFFmpeg::InitInputStream(int AIndex, std::string& AError) {
  TInputStream* ist = InputStreams[AIndex].get();
  if (ist->DecodingNeeded) {
    if (!ist->Decoder || !ist->CodecContext) {
      char text[256];
      snprintf(text, sizeof(text), "Decoder (codec %s) not found for input stream #%d:%d",
               avcodec_get_name(ist->Stream->codecpar->codec_id), ist->FileIndex, ist->Stream->index);
      AError = text;
      return AVERROR(EINVAL);
    }
    AVCodecContext* dec = ist->CodecContext.get();
    // Decoded frames are reference-counted: the filter graphs keep their own
    // references, so nothing needs a buffer pool of ours.
    dec->pkt_timebase = ist->Stream->time_base;
    if (!ist->DecoderOptions.Value("threads")) ist->DecoderOptions.Set("threads", "auto");
    const int ret = avcodec_open2(dec, ist->Decoder, ist->DecoderOptions.Address());
    if (ret < 0) {
      if (ret == AVERROR_EXPERIMENTAL) AbortWithError("abort codec experimental");
      char text[256];
      snprintf(text, sizeof(text), "Error while opening decoder for input stream #%d:%d", ist->FileIndex,
               ist->Stream->index);
      AError = text;
      return ret;
    }
    ist->DecoderOpened = true;
    AddOpenDecoder(ist);
    CheckLeftoverOptions(ist->DecoderOptions);
  }
  ist->NextPts = AV_NOPTS_VALUE;
  ist->NextDts = AV_NOPTS_VALUE;
  ist->IsStart = true;
  return 0;
}

int TCustomFFmpeg::TranscodeInit() {
  int ret = 0;
  std::string error;
  const size_t outputStreamLimit =
      Joined && JoinGroupSize > 0 ? std::min<size_t>(JoinGroupSize, OutputStreams.size()) : OutputStreams.size();
  const size_t outputFileLimit = Joined ? std::min<size_t>(1, OutputFiles.size()) : OutputFiles.size();

  // 1. Rate emulation.
  for (auto& ifile : InputFiles) {
    if (!ifile->RateEmulation) continue;
    for (int j = 0; j < ifile->StreamCount; ++j) InputStreams[ifile->FirstStreamIndex + j]->Start = av_gettime();
  }

  // 2. Every output has a stream.
  for (size_t i = 0; i < OutputFiles.size(); ++i) {
    AVFormatContext* oc = OutputFiles[i]->FormatContext;
    if (oc->nb_streams == 0 && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
      av_dump_format(oc, static_cast<int>(i), oc->url, 1);
      char text[128];
      snprintf(text, sizeof(text), "Output file #%d does not contain any stream", static_cast<int>(i));
      Log(this, llError, text);
      LastErrorText = text;
      return AVERROR(EINVAL);
    }
  }

  // 3. Complex filter graphs.
  for (auto& fg : FilterGraphs) {
    if (!fg->GraphDescription || !fg->Graph) continue;
    ret = avfilter_graph_config(fg->Graph.get(), nullptr);
    if (ret < 0) return ret;
  }

  // 4. Output stream setup.
  for (size_t i = 0; i < OutputStreams.size(); ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (ost->Stream->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT || !ost->AttachmentFileName.empty())
      continue;
    TInputStream* ist = ost->SourceIndex >= 0 ? InputStreams[ost->SourceIndex].get() : nullptr;
    const bool firstGroup = i < outputStreamLimit;
    if (ost->StreamCopy) {
      if (!ist || ost->Filter) AbortWithError("Stream copy needs a source stream and no filter graph");
      if (firstGroup) {
        ret = SetupCopyStream(ost, ist);
        if (ret < 0) return ret;
      }
      continue;
    }
    if (!firstGroup) {
      // A join duplicate encodes with its first-group encoder; its own graph
      // is built for the settings that encoder was set up with.
      if (ist) ist->DecodingNeeded++;
      ost->EncodingNeeded = 1;
      AVCodecContext* enc = EncoderContext(ost);
      if (!enc) AbortWithError("Never occur");
      ost->CodecContext = CloneEncoderSettings(enc, ost->Encoder);
      if (!ost->CodecContext) AbortWithError("av_mallocz() failed");
      if (!ost->FrameRate.num) ost->FrameRate = OutputStreams[i % JoinGroupSize]->FrameRate;
      if ((enc->codec_type == AVMEDIA_TYPE_VIDEO || enc->codec_type == AVMEDIA_TYPE_AUDIO) && !ost->Filter && ist) {
        TFilterGraph* fg = InitSimpleFilterGraph(*ist, *ost);
        if (!fg || ConfigureFilterGraph(*fg) < 0) AbortWithError("Error opening filters!");
      }
      continue;
    }
    const AVMediaType type = ost->CodecContext->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE) {
      ret = SetupEncodedStream(ost, ist, error);
      if (ret < 0) {
        if (!error.empty()) break;  // reported with the stream mapping
        return ret;
      }
    } else {
      av_opt_set_dict(ost->CodecContext.get(), ost->EncoderOptions.Address());
    }
  }

  // 5. Encoders.
  if (ret >= 0) {
    for (size_t i = 0; i < outputStreamLimit; ++i) {
      TOutputStream* ost = OutputStreams[i].get();
      if (!ost->EncodingNeeded) continue;
      ret = OpenEncoder(ost, error);
      if (ret < 0) break;
    }
  }
  // Copied streams: parameters go through the bitstream filters.
  if (ret >= 0) {
    for (size_t i = 0; i < outputStreamLimit; ++i) {
      ret = InitBitstreamFilters(OutputStreams[i].get());
      if (ret < 0) {
        error = "Error initializing bitstream filters";
        break;
      }
    }
  }

  // 6. Decoders.
  if (ret >= 0) {
    for (size_t i = 0; i < InputStreams.size(); ++i) {
      ret = InitInputStream(static_cast<int>(i), error);
      if (ret < 0) {
        for (size_t j = 0; j < outputStreamLimit; ++j) CloseEncoder(OutputStreams[j].get());
        break;
      }
    }
  }

  // 7. Programs.
  if (ret >= 0) {
    for (auto& ifile : InputFiles) {
      AVFormatContext* ic = ifile->FormatContext;
      for (unsigned j = 0; j < ic->nb_programs; ++j) {
        AVProgram* p = ic->programs[j];
        AVDiscard discard = AVDISCARD_ALL;
        for (unsigned k = 0; k < p->nb_stream_indexes; ++k) {
          const int idx = ifile->FirstStreamIndex + static_cast<int>(p->stream_index[k]);
          if (idx < static_cast<int>(InputStreams.size()) && !InputStreams[idx]->Discard) {
            discard = AVDISCARD_DEFAULT;
            break;
          }
        }
        p->discard = discard;
      }
    }
  }

  // 8. Headers.
  bool wantSdp = true;
  if (ret >= 0) {
    for (size_t i = 0; i < outputFileLimit; ++i) {
      TOutputFile* of = OutputFiles[i].get();
      AVFormatContext* oc = of->FormatContext;
      oc->interrupt_callback = WriteInterruptCallback();
      LastWriteTime = av_gettime();
      ret = avformat_write_header(oc, of->Options.Address());
      if (ret < 0) {
        char text[512];
        snprintf(text, sizeof(text), "Could not write header for output file #%d (incorrect codec parameters ?): %s",
                 static_cast<int>(i), ErrorText(ret).c_str());
        error = text;
        ret = AVERROR(EINVAL);
        break;
      }
      if (std::strcmp(oc->oformat->name, "rtp") != 0) wantSdp = false;
    }
  }

  // 9. Report.
  DumpStreamMapping();
  if (ret != 0 && !error.empty()) {
    Log(this, llError, error);
    LastErrorText = error;
    return ret;
  }
  if (ret < 0) return ret;
  if (wantSdp && outputFileLimit > 0) PrintSDP();
  return 0;
}

void TCustomFFmpeg::DumpStreamMapping() {
  const size_t fileLimit = Joined ? std::min<size_t>(1, OutputFiles.size()) : OutputFiles.size();
  for (size_t i = 0; i < fileLimit; ++i)
    av_dump_format(OutputFiles[i]->FormatContext, static_cast<int>(i), OutputFiles[i]->FormatContext->url, 1);
  Log(this, llInfo, "Stream mapping:");
  char line[1024];
  for (auto& ist : InputStreams) {
    for (TInputFilter* f : ist->Filters) {
      if (!f->Graph || !f->Graph->GraphDescription) continue;
      int n = snprintf(line, sizeof(line), "  Stream #%d:%d (%s) -> %s", ist->FileIndex, ist->Stream->index,
                       ist->Decoder ? ist->Decoder->name : "?", f->Name.c_str());
      if (FilterGraphs.size() > 1 && n >= 0 && n < static_cast<int>(sizeof(line)))
        snprintf(line + n, sizeof(line) - n, " (graph %d)", f->Graph->Index);
      Log(this, llInfo, line);
    }
  }
  for (auto& ostp : OutputStreams) {
    TOutputStream* ost = ostp.get();
    const int fileIndex = Joined ? 0 : ost->FileIndex;
    std::string text;
    if (!ost->AttachmentFileName.empty()) {
      snprintf(line, sizeof(line), "  File %s -> Stream #%d:%d", ost->AttachmentFileName.c_str(), fileIndex,
               ost->Index);
      Log(this, llInfo, line);
      continue;
    }
    if (ost->Filter && ost->Filter->Graph && ost->Filter->Graph->GraphDescription) {
      text = "  " + ost->Filter->Name;
      if (FilterGraphs.size() > 1) text += " (graph " + std::to_string(ost->Filter->Graph->Index) + ")";
      snprintf(line, sizeof(line), " -> Stream #%d:%d (%s)", fileIndex, ost->Index,
               ost->Encoder ? ost->Encoder->name : "?");
      Log(this, llInfo, text + line);
      continue;
    }
    if (ost->SourceIndex < 0) continue;
    TInputStream* ist = InputStreams[ost->SourceIndex].get();
    snprintf(line, sizeof(line), "  Stream #%d:%d -> #%d:%d", ist->FileIndex, ist->Stream->index, fileIndex,
             ost->Index);
    text = line;
    if (ost->SyncInput && ost->SyncInput != ist) {
      snprintf(line, sizeof(line), " [sync #%d:%d]", ost->SyncInput->FileIndex, ost->SyncInput->Stream->index);
      text += line;
    }
    if (ost->StreamCopy) {
      text += " (copy)";
    } else {
      text += std::string(" (") + (ist->Decoder ? ist->Decoder->name : "?");
      text += std::string(" -> ") + (ost->Encoder ? ost->Encoder->name : "?") + ")";
    }
    text += " (" + MediaTypeName(ost->Stream->codecpar->codec_type) + ")";
    Log(this, llInfo, text);
  }
}

void TCustomFFmpeg::PrintSDP() {
  std::vector<AVFormatContext*> contexts;
  try {
    for (auto& of : OutputFiles) contexts.push_back(of->FormatContext);
  } catch (const std::bad_alloc&) {
    AbortWithError("av_malloc failed");
  }
  std::vector<char> sdp(16384, '\0');
  av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp.data(), static_cast<int>(sdp.size()));
  std::string text(sdp.data());
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  Log(this, llInfo, "SDP:\r\n" + text);
}

}  // namespace vexa
