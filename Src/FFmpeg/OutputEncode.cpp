// The output side of the loop: frames out of the filter graphs, video
// synchronisation, encoding of video, audio and subtitles, draining the
// encoders, and the video statistics file.
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
#include <libavutil/eval.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/samplefmt.h>
}

namespace vexa {

namespace {

enum { kVarN, kVarNForced, kVarPrevForcedN, kVarPrevForcedT, kVarT };

char PictTypeLetter(int type) {
  const char c = av_get_picture_type_char(static_cast<AVPictureType>(type));
  return c == '?' ? 'I' : c;
}

}  // namespace

int TCustomFFmpeg::ReapFilters() {
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (!ost->Filter || !ost->Filter->Filter || !ost->EncodingNeeded) continue;
    TOutputFile* of = OutputFiles[ost->FileIndex].get();
    AVCodecContext* enc = EncoderContext(ost);
    if (!enc) continue;
    AVFilterContext* sink = ost->Filter->Filter;
    if (!ost->FilteredFrame) {
      ost->FilteredFrame.reset(av_frame_alloc());
      if (!ost->FilteredFrame) return AVERROR(ENOMEM);
    }
    AVFrame* frame = ost->FilteredFrame.get();
    while (!ost->Finished) {
      const int ret = av_buffersink_get_frame_flags(sink, frame, AV_BUFFERSINK_FLAG_NO_REQUEST);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
      if (ret < 0) {
        Log(this, llWarning, ErrorText("Error in av_buffersink_get_buffer_ref()", ret));
        break;
      }
      if (frame->pts != AV_NOPTS_VALUE) {
        frame->pts = av_rescale_q(frame->pts, av_buffersink_get_time_base(sink), enc->time_base) -
                     av_rescale_q(of->StartTime, AV_TIME_BASE_Q, enc->time_base);
        if (of->StartTime && frame->pts < 0) {
          av_frame_unref(frame);
          continue;
        }
      }
      switch (av_buffersink_get_type(sink)) {
        case AVMEDIA_TYPE_AUDIO:
          if (!(enc->codec->capabilities & AV_CODEC_CAP_PARAM_CHANGE) &&
              frame->ch_layout.nb_channels != enc->ch_layout.nb_channels) {
            Log(this, llError,
                "Audio filter graph output is not normalized and encoder does not support parameter changes");
            av_frame_unref(frame);
            goto nextStream;
          }
          DoAudioOut(of, ost, frame);
          break;
        case AVMEDIA_TYPE_VIDEO:
          if (ost->FrameAspectRatio <= 0 && frame->sample_aspect_ratio.num)
            enc->sample_aspect_ratio = frame->sample_aspect_ratio;
          DoVideoOut(of, ost, frame);
          break;
        default:
          av_frame_unref(frame);
          throw FFmpegException("Never occur");
      }
      av_frame_unref(frame);
    }
  nextStream:;
  }
  return 0;
}

void TCustomFFmpeg::WritePacketStats(TOutputStream* ost, const AVPacket* pkt) {
  size_t size = 0;
  const uint8_t* sd = av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
  if (!sd || size < 6) return;
  ost->Quality = static_cast<int>(AV_RL32(sd));
  ost->PictType = sd[4];
  const int errors = std::min<int>(sd[5], 4);
  for (int i = 0; i < errors && 8 + 8 * static_cast<size_t>(i) + 8 <= size; ++i) {
    ost->Error[i] = AV_RL64(sd + 8 + 8 * i);
    ost->ErrorSum[i] += ost->Error[i];
  }
}

int TCustomFFmpeg::EncodeAndWrite(TOutputFile* of, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = EncoderContext(ost);
  int ret = avcodec_send_frame(enc, frame);
  if (ret == AVERROR_EOF) return 0;  // drained before
  if (ret < 0) return ret;
  TAVPacketPtr pkt(av_packet_alloc());
  if (!pkt) return AVERROR(ENOMEM);
  int written = 0;
  for (;;) {
    ret = avcodec_receive_packet(enc, pkt.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) return ret;
    const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video && pkt->pts == AV_NOPTS_VALUE && !(enc->codec->capabilities & AV_CODEC_CAP_DELAY))
      pkt->pts = ost->SyncOpts;
    if (video && pkt->duration <= 0) pkt->duration = 1;
    WritePacketStats(ost, pkt.get());
    av_packet_rescale_ts(pkt.get(), enc->time_base, ost->Stream->time_base);
    if (Joined) {
      if (pkt->pts != AV_NOPTS_VALUE && ost->LastWrittenPts != AV_NOPTS_VALUE && pkt->pts <= ost->LastWrittenPts)
        pkt->pts = ost->LastWrittenPts + 1;
      if (pkt->dts != AV_NOPTS_VALUE && ost->LastWrittenDts != AV_NOPTS_VALUE && pkt->dts <= ost->LastWrittenDts)
        pkt->dts = ost->LastWrittenDts + 1;
      if (pkt->pts != AV_NOPTS_VALUE) ost->LastWrittenPts = pkt->pts;
      if (pkt->dts != AV_NOPTS_VALUE) ost->LastWrittenDts = pkt->dts;
    }
    const int64_t size = pkt->size;
    if (video) {
      ost->LastFrameSize = size;
      VideoSize += size;
    } else {
      AudioSize += size;
    }
    WriteFrame(of, pkt.get(), ost);
    if (ost->LogFile && enc->stats_out) fprintf(ost->LogFile.get(), "%s", enc->stats_out);
    written++;
  }
  return written;
}

bool TCustomFFmpeg::ForceKeyFrame(TOutputStream* ost, AVCodecContext* enc, int64_t pts) {
  const double ptsTime = pts != AV_NOPTS_VALUE ? pts * av_q2d(enc->time_base) : NAN;
  bool force = false;
  if (ost->ForcedKfIndex < ost->ForcedKfPts.size() && pts != AV_NOPTS_VALUE &&
      pts >= ost->ForcedKfPts[ost->ForcedKfIndex]) {
    ost->ForcedKfIndex++;
    force = true;
  } else if (ost->ForcedKfExpr) {
    auto& v = ost->ForcedKfExprValues;
    v[kVarT] = ptsTime;
    const double res = av_expr_eval(ost->ForcedKfExpr.get(), v.data(), nullptr);
    LogFmt(this, llDebug, "force_key_frame: n:%f n_forced:%f prev_forced_n:%f t:%f prev_forced_t:%f -> res:%f",
           v[kVarN], v[kVarNForced], v[kVarPrevForcedN], v[kVarT], v[kVarPrevForcedT], res);
    if (res) {
      force = true;
      v[kVarPrevForcedN] = v[kVarN];
      v[kVarPrevForcedT] = v[kVarT];
      v[kVarNForced] += 1;
    }
    v[kVarN] += 1;
  }
  if (force) LogFmt(this, llDebug, "Forced keyframe at time %f", ptsTime);
  return force;
}

void TCustomFFmpeg::DoVideoOut(TOutputFile* of, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = EncoderContext(ost);
  AVFormatContext* oc = of->FormatContext;
  TInputStream* ist = ost->SourceIndex >= 0 ? InputStreams[ost->SourceIndex].get() : nullptr;

  double duration = 0;
  if (ist && ist->Stream->start_time != AV_NOPTS_VALUE && ist->SawFirstTs && ost->FrameRate.num)
    duration = 1 / (av_q2d(ost->FrameRate) * av_q2d(enc->time_base));

  int vsync = VideoSyncMethod;
  if (vsync == -1) {
    if ((oc->oformat->flags & AVFMT_VARIABLE_FPS) && (oc->oformat->flags & AVFMT_NOTIMESTAMPS))
      vsync = 0;
    else if (oc->oformat->flags & AVFMT_VARIABLE_FPS)
      vsync = 2;
    else
      vsync = 1;
  }

  if (vsync == 0 && ost->SyncInput)
    frame->pts = std::llround((ost->SyncInput->Pts - of->StartTime) / (AV_TIME_BASE * av_q2d(enc->time_base)));

  const double framePts = frame->pts == AV_NOPTS_VALUE ? static_cast<double>(ost->SyncOpts) : frame->pts;
  const double delta = framePts - static_cast<double>(ost->SyncOpts) + duration;
  int64_t n = 1;
  switch (vsync) {
    case 1:
      if (delta < -1.1)
        n = 0;
      else if (delta > 1.1)
        n = std::llround(delta);
      break;
    case 2:
      if (delta <= -0.6)
        n = 0;
      else if (delta > 0.6)
        ost->SyncOpts = std::llround(framePts);
      break;
    case 0:
    case 255:
      ost->SyncOpts = std::llround(framePts);
      break;
    default:
      throw FFmpegException("Never occur");
  }
  n = std::min<int64_t>(n, ost->MaxFrames - ost->FrameNumber);
  if (n <= 0) {
    DropCount++;
    DupDropChanged = true;
    Log(this, llVerbose, "*** drop!");
    return;
  }
  if (n > 1) {
    if (n > DtsErrorThreshold * 30) {
      LogFmt(this, llError, "%d frame duplication too large, skipping", static_cast<int>(n - 1));
      DropCount++;
      return;
    }
    DupCount += static_cast<int>(n - 1);
    DupDropChanged = true;
    LogFmt(this, llVerbose, "*** %d dup!", static_cast<int>(n - 1));
  }

  // Slots of a gap before the frame's own time repeat the previous picture
  // (a picture must not appear before it was taken), when that picture still
  // fits the encoder.
  const AVFrame* previous = ost->PreviousFrame.get();
  int64_t repeatPrevious = 0;
  if (vsync == 1 && n > 1 && previous && previous->width == frame->width && previous->height == frame->height &&
      previous->format == frame->format)
    repeatPrevious = std::clamp<int64_t>(std::llround(framePts - static_cast<double>(ost->SyncOpts)), 0, n - 1);

  TAVFramePtr work(av_frame_alloc());
  if (!work) AbortWithError("Video encoding failed");
  for (int64_t i = 0; i < n && !StopNow(); ++i) {
    AVFrame* source = i < repeatPrevious ? ost->PreviousFrame.get() : frame;
    source->pts = ost->SyncOpts;
    if (!CheckRecordingTime(ost)) return;
    const int hookFrameNumber = static_cast<int>(ost->FrameNumber + 1);
    const int64_t hookPts = av_rescale_q(source->pts, enc->time_base, AV_TIME_BASE_Q);

    av_frame_unref(work.get());
    if (av_frame_ref(work.get(), source) < 0) AbortWithError("Video encoding failed");
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) {
      if (ost->TopFieldFirst >= 0) work->top_field_first = ost->TopFieldFirst;
    }
    work->quality = enc->global_quality;
    work->pict_type = AV_PICTURE_TYPE_NONE;
    if (ForceKeyFrame(ost, enc, work->pts)) work->pict_type = AV_PICTURE_TYPE_I;

    const bool bitmapReady = PostProcessVideoFrame(work.get(), enc, hookPts, hookFrameNumber);
    if (GetPreviewFlags() != 0) PreviewStep(work.get(), enc, bitmapReady, hookPts, hookFrameNumber);

    if (EncodeAndWrite(of, ost, work.get()) < 0) AbortWithError("Video encoding failed");
    ost->SyncOpts++;
    ost->FrameNumber++;
  }
  if (vsync == 1) {
    if (!ost->PreviousFrame) ost->PreviousFrame.reset(av_frame_alloc());
    if (!ost->PreviousFrame) AbortWithError("Video encoding failed");
    av_frame_unref(ost->PreviousFrame.get());
    if (av_frame_ref(ost->PreviousFrame.get(), frame) < 0) AbortWithError("Video encoding failed");
  }
  if (!VstatsFileName.empty() && ost->LastFrameSize) DoVideoStats(ost, ost->LastFrameSize);
}

void TCustomFFmpeg::DoAudioOut(TOutputFile* of, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = EncoderContext(ost);
  if (!CheckRecordingTime(ost)) return;
  if (frame->pts == AV_NOPTS_VALUE || AudioSyncMethod < 0) frame->pts = ost->SyncOpts;
  ost->SyncOpts = frame->pts + frame->nb_samples;
  RunAudioHook(AudioOutputHook, frame, av_rescale_q(frame->pts, enc->time_base, AV_TIME_BASE_Q));
  if (EncodeAndWrite(of, ost, frame) < 0) AbortWithError("Audio encoding failed (avcodec_encode_audio2)");
}

void TCustomFFmpeg::DoSubtitleOut(TOutputFile* of, TOutputStream* ost, TInputStream* /*ist*/, AVSubtitle* sub) {
  AVCodecContext* enc = EncoderContext(ost);
  if (sub->pts == AV_NOPTS_VALUE) {
    if (ExitOnError) AbortWithError("Subtitle packets must have a pts");
    Log(this, llError, "Subtitle packets must have a pts");
    return;
  }
  if (SubtitleBuffer.empty()) SubtitleBuffer.resize(1 << 20);
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int count = dvb ? 2 : 1;
  const int64_t pts = sub->pts - of->StartTime;
  const unsigned numRects = sub->num_rects;
  TAVPacketPtr pkt(av_packet_alloc());
  if (!pkt) AbortWithError("Subtitle encoding failed");
  for (int i = 0; i < count; ++i) {
    ost->SyncOpts = av_rescale_q(pts, AV_TIME_BASE_Q, enc->time_base);
    if (!CheckRecordingTime(ost)) break;
    sub->pts = pts + av_rescale_q(sub->start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
    sub->end_display_time -= sub->start_display_time;
    sub->start_display_time = 0;
    if (i == 1) sub->num_rects = 0;
    const int size = avcodec_encode_subtitle(enc, SubtitleBuffer.data(), static_cast<int>(SubtitleBuffer.size()), sub);
    if (i == 1) sub->num_rects = numRects;
    if (size < 0) AbortWithError("Subtitle encoding failed");
    av_packet_unref(pkt.get());
    if (av_new_packet(pkt.get(), size) < 0) AbortWithError("Subtitle encoding failed");
    memcpy(pkt->data, SubtitleBuffer.data(), size);
    pkt->pts = av_rescale_q(sub->pts, AV_TIME_BASE_Q, ost->Stream->time_base);
    pkt->duration = av_rescale_q(sub->end_display_time, AVRational{1, 1000}, ost->Stream->time_base);
    if (dvb) {
      const int64_t add = i == 0 ? 90LL * sub->start_display_time : 90LL * sub->end_display_time;
      pkt->pts += add;
    }
    pkt->dts = pkt->pts;
    SubtitleSize += size;
    WriteFrame(of, pkt.get(), ost);
  }
}

void TCustomFFmpeg::FlushEncoders() {
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (ost->Flushed) continue;
    ost->Flushed = true;
    if (!ost->EncodingNeeded) continue;
    AVCodecContext* enc = EncoderContext(ost);
    if (!enc || !avcodec_is_open(enc)) continue;
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->frame_size <= 1) continue;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO && enc->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    TOutputFile* of = OutputFiles[ost->FileIndex].get();
    const int64_t before = ost->LastFrameSize;
    if (EncodeAndWrite(of, ost, nullptr) < 0)
      AbortWithError("%s encoding failed", enc->codec_type == AVMEDIA_TYPE_VIDEO ? "Video" : "Audio");
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO && !VstatsFileName.empty() && ost->LastFrameSize != before)
      DoVideoStats(ost, ost->LastFrameSize);
  }
}

void TCustomFFmpeg::DoVideoStats(TOutputStream* ost, int64_t AFrameSize) {
  if (!VStatsFile_) {
    FILE* f = fopen(VstatsFileName.c_str(), "w");
    if (!f) AbortWithError("fopen fail: %s", VstatsFileName.c_str());
    VStatsFile_.reset(f);
  }
  AVCodecContext* enc = EncoderContext(ost);
  if (!enc || enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  FILE* f = VStatsFile_.get();
  const double quality = ost->Quality >= 0 ? ost->Quality / static_cast<double>(FF_QP2LAMBDA) : 0.0;
  fprintf(f, "frame= %5d q= %2.1f ", static_cast<int>(ost->Stream->nb_frames), quality);
  if (enc->flags & AV_CODEC_FLAG_PSNR) {
    const double err = static_cast<double>(ost->Error[0]);
    const double denom = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
    fprintf(f, "PSNR= %6.2f ", err > 0 ? -10.0 * log10(err / denom) : 99.99);
  }
  fprintf(f, "f_size= %6d ", static_cast<int>(AFrameSize));
  int64_t position = ost->EndPts != AV_NOPTS_VALUE ? ost->EndPts : 0;
  double t = av_rescale_q(position, ost->Stream->time_base, enc->time_base) * av_q2d(enc->time_base);
  if (t < 0.01) t = 0.01;
  const double bitrate = AFrameSize * 8 / av_q2d(enc->time_base) / 1000.0;
  const double avgBitrate = static_cast<double>(VideoSize) * 8 / t / 1000.0;
  fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", VideoSize / 1024.0, t, bitrate,
          avgBitrate);
  fprintf(f, "type= %c\n", PictTypeLetter(ost->PictType));
}

}  // namespace vexa
