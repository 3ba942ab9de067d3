// Decoding of audio, video and subtitle packets, the frames' way into the
// filter graphs, and subtitle bitmaps drawn onto a video canvas (sub2video).
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>
#include <set>

#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace vexa {

namespace {

constexpr int kPushFlags = AV_BUFFERSRC_FLAG_PUSH | AV_BUFFERSRC_FLAG_KEEP_REF;

int64_t LayoutMask(const AVChannelLayout& layout) {
  return layout.order == AV_CHANNEL_ORDER_NATIVE ? static_cast<int64_t>(layout.u.mask) : 0;
}

std::string LayoutName(const AVChannelLayout& layout) {
  char name[256] = {0};
  if (av_channel_layout_describe(&layout, name, sizeof(name)) < 0) name[0] = '\0';
  return name;
}

}  // namespace

// --- filter inputs

void TCustomFFmpeg::SignalFilterEof(TInputStream* AStream) {
  for (TInputFilter* f : AStream->Filters)
    if (f->Filter && av_buffersrc_add_frame_flags(f->Filter, nullptr, AV_BUFFERSRC_FLAG_PUSH) < 0)
      Log(this, llWarning, "Error while closing the filter input " + f->Name);
}

void TCustomFFmpeg::SetAudioFrameSizes(TInputStream* AStream) {
  for (TInputFilter* f : AStream->Filters) {
    if (!f->Graph) continue;
    for (auto& out : f->Graph->Outputs) {
      TOutputStream* ost = out->OutputStream;
      if (!ost || !out->Filter || !ost->EncodingNeeded) continue;
      const AVCodecContext* enc = EncoderContext(ost);
      if (enc && enc->codec && enc->codec_type == AVMEDIA_TYPE_AUDIO &&
          !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0)
        av_buffersink_set_frame_size(out->Filter, enc->frame_size);
    }
  }
}

void TCustomFFmpeg::ReconfigureFilterGraphs(TInputStream* AStream) {
  std::vector<TFilterGraph*> graphs;
  for (TInputFilter* f : AStream->Filters)
    if (f->Graph && std::find(graphs.begin(), graphs.end(), f->Graph) == graphs.end()) graphs.push_back(f->Graph);
  for (TFilterGraph* fg : graphs)
    if (ConfigureFilterGraph(*fg) < 0) AbortWithError("Error reinitializing filters!");
}

// --- decoding

int TCustomFFmpeg::DecodePacket(TInputStream* ist, const AVPacket* pkt, bool& AGotOutput) {
  AVCodecContext* dec = ist->CodecContext.get();
  if (dec->codec_type == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitle(ist, pkt, AGotOutput);
  if (dec->codec_type != AVMEDIA_TYPE_AUDIO && dec->codec_type != AVMEDIA_TYPE_VIDEO) return -1;
  if (!ist->DecodeFrame) {
    ist->DecodeFrame.reset(av_frame_alloc());
    if (!ist->DecodeFrame) return AVERROR(ENOMEM);
  }
  AVFrame* frame = ist->DecodeFrame.get();
  const bool video = dec->codec_type == AVMEDIA_TYPE_VIDEO;

  TAVPacketPtr local;
  if (pkt) {
    local.reset(av_packet_alloc());
    if (!local || av_packet_ref(local.get(), pkt) < 0) return AVERROR(ENOMEM);
    if (video) local->dts = av_rescale_q(ist->Dts, AV_TIME_BASE_Q, ist->Stream->time_base);
  }

  int64_t duration = 0;
  if (video) {
    if (pkt && pkt->duration) {
      duration = av_rescale_q(pkt->duration, ist->Stream->time_base, AV_TIME_BASE_Q);
    } else if (dec->framerate.num && dec->framerate.den) {
      duration = av_rescale_q(1, av_inv_q(dec->framerate), AV_TIME_BASE_Q);
    }
  }

  int ret = avcodec_send_packet(dec, local.get());
  if (ret == AVERROR_EOF) ret = 0;  // drained before
  int result = ret < 0 ? ret : 0;
  int frames = 0;
  while (ret >= 0) {
    ret = avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      result = ret;
      break;
    }
    ist->Pts = ist->NextPts;
    ist->Dts = ist->NextDts;
    if (frames == 1) {
      LogFmt(this, ist->ShowedMultiPacketWarning ? llVerbose : llWarning, "Multiple frames in a packet from stream %d",
             ist->Stream->index);
      ist->ShowedMultiPacketWarning = true;
    }
    if (video) {
      DecodeVideo(ist, frame, pkt);
      ist->NextPts += duration;
    } else {
      DecodeAudio(ist, frame);
    }
    av_frame_unref(frame);
    frames++;
  }
  AGotOutput = frames > 0;
  ist->GotOutput = AGotOutput;
  if (video && pkt) {
    if (pkt->dts != AV_NOPTS_VALUE && duration)
      ist->NextDts += duration;
    else
      ist->NextDts = AV_NOPTS_VALUE;
  }
  if (!pkt) SignalFilterEof(ist);
  return result;
}

void TCustomFFmpeg::DecodeAudio(TInputStream* ist, AVFrame* frame) {
  AVCodecContext* dec = ist->CodecContext.get();
  if (frame->sample_rate <= 0) {
    av_log(dec, AV_LOG_ERROR, "Sample rate %d invalid\n", frame->sample_rate);
    return;
  }
  if (frame->nb_samples < 1)
    AbortWithError("the decoder \"%s\" return bad result.", dec->codec ? dec->codec->name : "?");

  // Timing: the decoder's timestamp when it has one, else the running time.
  const AVRational tb = ist->Stream->time_base;
  int64_t start = ist->Pts;
  if (frame->pts != AV_NOPTS_VALUE) {
    start = av_rescale_q(frame->pts, tb, AV_TIME_BASE_Q);
    ist->Dts = ist->Pts = start;
  }
  const int64_t duration = static_cast<int64_t>(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
  ist->NextPts = start + duration;
  ist->NextDts = start + duration;

  RunAudioHook(AudioInputHook, frame, ist->Pts);
  RateEmuSleep(ist);

  const int channels = frame->ch_layout.nb_channels;
  if (frame->format != ist->ResampleSampleFmt || channels != ist->ResampleChannels ||
      LayoutMask(frame->ch_layout) != ist->ResampleChannelLayout || frame->sample_rate != ist->ResampleSampleRate) {
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      if (channels > ist->GuessLayoutMax || channels <= 0)
        AbortWithError("Unable to find default channel layout for Input Stream #%d.%d", ist->FileIndex,
                       ist->Stream->index);
      av_channel_layout_uninit(&frame->ch_layout);
      av_channel_layout_default(&frame->ch_layout, channels);
      LogFmt(this, llWarning, "Guessed Channel Layout for  Input Stream #%d.%d : %s", ist->FileIndex,
             ist->Stream->index, LayoutName(frame->ch_layout).c_str());
    }
    const char* oldFmt = av_get_sample_fmt_name(static_cast<AVSampleFormat>(ist->ResampleSampleFmt));
    const char* newFmt = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
    AVChannelLayout oldLayout{};
    if (ist->ResampleChannelLayout)
      av_channel_layout_from_mask(&oldLayout, static_cast<uint64_t>(ist->ResampleChannelLayout));
    else
      av_channel_layout_default(&oldLayout, ist->ResampleChannels);
    LogFmt(this, llInfo,
           "Input stream #%d:%d frame changed from rate:%d fmt:%s ch:%d chl:%s to rate:%d fmt:%s ch:%d chl:%s",
           ist->FileIndex, ist->Stream->index, ist->ResampleSampleRate, oldFmt ? oldFmt : "none",
           ist->ResampleChannels, LayoutName(oldLayout).c_str(), frame->sample_rate, newFmt ? newFmt : "none",
           channels, LayoutName(frame->ch_layout).c_str());
    av_channel_layout_uninit(&oldLayout);
    ist->ResampleSampleFmt = frame->format;
    ist->ResampleChannels = channels;
    ist->ResampleChannelLayout = LayoutMask(frame->ch_layout);
    ist->ResampleSampleRate = frame->sample_rate;
    ReconfigureFilterGraphs(ist);
    SetAudioFrameSizes(ist);
  }

  const AVRational sampleTb{1, frame->sample_rate};
  frame->pts = av_rescale_delta(AV_TIME_BASE_Q, ist->Pts, sampleTb, frame->nb_samples, &ist->FilterInRescaleDeltaLast,
                                sampleTb);
  for (TInputFilter* f : ist->Filters) {
    if (!f->Filter) continue;
    if (av_buffersrc_add_frame_flags(f->Filter, frame, kPushFlags) < 0)
      AbortWithError("Failed to inject frame into filter network");
  }
}

void TCustomFFmpeg::DecodeVideo(TInputStream* ist, AVFrame* frame, const AVPacket* /*pkt*/) {
  if (ist->TopFieldFirst >= 0) frame->top_field_first = ist->TopFieldFirst;
  const int64_t bestEffort = frame->best_effort_timestamp;
  if (bestEffort != AV_NOPTS_VALUE) {
    frame->pts = bestEffort;
    ist->Pts = ist->NextPts = av_rescale_q(bestEffort, ist->Stream->time_base, AV_TIME_BASE_Q);
  } else {
    frame->pts = av_rescale_q(ist->Pts, AV_TIME_BASE_Q, ist->Stream->time_base);
  }

  PreProcessVideoFrame(ist, frame);
  RateEmuSleep(ist);

  if (ist->Stream->sample_aspect_ratio.num) frame->sample_aspect_ratio = ist->Stream->sample_aspect_ratio;

  if (frame->width != ist->ResampleWidth || frame->height != ist->ResampleHeight ||
      frame->format != ist->ResamplePixFmt) {
    const char* oldFmt = av_get_pix_fmt_name(static_cast<AVPixelFormat>(ist->ResamplePixFmt));
    const char* newFmt = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
    LogFmt(this, llInfo, "Input stream #%d:%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s",
           ist->FileIndex, ist->Stream->index, ist->ResampleWidth, ist->ResampleHeight, oldFmt ? oldFmt : "none",
           frame->width, frame->height, newFmt ? newFmt : "none");
    ist->ResampleWidth = frame->width;
    ist->ResampleHeight = frame->height;
    ist->ResamplePixFmt = frame->format;
    if (ist->ReinitFilters != 0) ReconfigureFilterGraphs(ist);
  }

  for (TInputFilter* f : ist->Filters) {
    if (!f->Filter) continue;
    if (!frame->sample_aspect_ratio.num) frame->sample_aspect_ratio = ist->Stream->sample_aspect_ratio;
    AVFrame* in = frame;
    if (f->ConvertTo != AV_PIX_FMT_NONE) {
      // The graph takes the picture converted (after the input hooks, which
      // see it as decoded).
      in = f->Converted.get();
      av_frame_unref(in);
      if (f->Converter->Convert(frame, in) < 0) AbortWithError("Failed to inject frame into filter network");
    }
    const int ret = av_buffersrc_add_frame_flags(f->Filter, in, kPushFlags);
    if (in != frame) av_frame_unref(in);
    if (ret < 0) AbortWithError("Failed to inject frame into filter network");
  }
}

int TCustomFFmpeg::DecodeSubtitle(TInputStream* ist, const AVPacket* pkt, bool& AGotOutput) {
  AVCodecContext* dec = ist->CodecContext.get();
  TSubtitleHolder decoded;
  int got = 0;
  TAVPacketPtr local(av_packet_alloc());
  if (!local) return AVERROR(ENOMEM);
  if (pkt && av_packet_ref(local.get(), pkt) < 0) return AVERROR(ENOMEM);
  const int ret = avcodec_decode_subtitle2(dec, &decoded.Sub, &got, local.get());
  AGotOutput = got != 0;
  ist->GotOutput = AGotOutput;
  if (ret < 0 || !got) {
    if (!pkt) Sub2VideoFlush(ist);
    return ret < 0 ? ret : 0;
  }
  decoded.Valid = true;

  TSubtitleHolder* toProcess = &decoded;
  TSubtitleHolder pending;
  if (ist->FixSubDuration) {
    if (ist->PrevSub.Valid) {
      const int end = static_cast<int>(av_rescale(decoded.Sub.pts - ist->PrevSub.Sub.pts, 1, 1000));
      if (end < static_cast<int>(ist->PrevSub.Sub.end_display_time)) {
        av_log(dec, AV_LOG_DEBUG, "Subtitle duration reduced from %d to %d\n",
               static_cast<int>(ist->PrevSub.Sub.end_display_time), end);
        ist->PrevSub.Sub.end_display_time = end;
      }
    }
    // The new subtitle waits; the one that waited is processed now.
    std::swap(pending.Sub, ist->PrevSub.Sub);
    std::swap(pending.Valid, ist->PrevSub.Valid);
    std::swap(ist->PrevSub.Sub, decoded.Sub);
    std::swap(ist->PrevSub.Valid, decoded.Valid);
    toProcess = &pending;
  }

  if (toProcess->Valid) Sub2VideoUpdate(ist, &toProcess->Sub);
  if (toProcess->Valid && toProcess->Sub.num_rects > 0) ProcessSubtitle(ist, &toProcess->Sub);
  return 0;
}

void TCustomFFmpeg::ProcessSubtitle(TInputStream* ist, AVSubtitle* sub) {
  RateEmuSleep(ist);
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (ost->SourceIndex < 0 || InputStreams[ost->SourceIndex].get() != ist || !ost->EncodingNeeded) continue;
    const AVCodecContext* enc = EncoderContext(ost);
    if (!enc || enc->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
    TOutputFile* of = OutputFiles[ost->FileIndex].get();
    if (of->StartTime && ist->Pts < of->StartTime) continue;
    DoSubtitleOut(of, ost, ist, sub);
  }
}

// --- sub2video

void TCustomFFmpeg::Sub2VideoPush(TInputStream* ist, int64_t APts) {
  AVFrame* canvas = ist->Sub2VideoFrame.get();
  if (!canvas) return;
  canvas->pts = APts;
  for (TInputFilter* f : ist->Filters)
    if (f->Filter && av_buffersrc_add_frame_flags(f->Filter, canvas, kPushFlags) < 0)
      Log(this, llWarning, "sub2video: failed to push the canvas into " + f->Name);
  ist->Sub2VideoLastPts = APts;
}

void TCustomFFmpeg::Sub2VideoUpdate(TInputStream* ist, const AVSubtitle* sub) {
  AVFrame* canvas = ist->Sub2VideoFrame.get();
  if (!canvas) return;
  // The graph may still hold the previous picture: draw on a private copy.
  if (av_frame_make_writable(canvas) < 0) return;
  for (int y = 0; y < canvas->height; ++y)
    memset(canvas->data[0] + static_cast<ptrdiff_t>(y) * canvas->linesize[0], 0, canvas->width * 4);
  int64_t pts;
  int64_t endPts;
  const AVRational tb = ist->Stream->time_base;
  if (sub) {
    pts = av_rescale_q(sub->pts + static_cast<int64_t>(sub->start_display_time) * 1000, AV_TIME_BASE_Q, tb);
    endPts = av_rescale_q(sub->pts + static_cast<int64_t>(sub->end_display_time) * 1000, AV_TIME_BASE_Q, tb);
    for (unsigned i = 0; i < sub->num_rects; ++i) {
      const AVSubtitleRect* r = sub->rects[i];
      if (r->type != SUBTITLE_BITMAP) {
        Log(this, llWarning, "sub2video: non-bitmap subtitle");
        continue;
      }
      if (r->x < 0 || r->y < 0 || r->w < 0 || r->h < 0 || r->x + r->w > canvas->width ||
          r->y + r->h > canvas->height) {
        Log(this, llWarning, "sub2video: rectangle overflowing");
        continue;
      }
      const uint32_t* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
      for (int y = 0; y < r->h; ++y) {
        const uint8_t* src = r->data[0] + static_cast<ptrdiff_t>(y) * r->linesize[0];
        uint32_t* dst = reinterpret_cast<uint32_t*>(canvas->data[0] +
                                                    static_cast<ptrdiff_t>(r->y + y) * canvas->linesize[0]) +
                        r->x;
        for (int x = 0; x < r->w; ++x) dst[x] = palette[src[x]];
      }
    }
  } else {
    pts = ist->Sub2VideoEndPts;
    endPts = INT64_MAX;
  }
  Sub2VideoPush(ist, pts);
  ist->Sub2VideoEndPts = endPts;
}

void TCustomFFmpeg::Sub2VideoHeartbeat(TInputStream* ist, int64_t APts) {
  if (APts == AV_NOPTS_VALUE) return;
  TInputFile* ifile = InputFiles[ist->FileIndex].get();
  for (int i = 0; i < ifile->StreamCount; ++i) {
    TInputStream* other = InputStreams[ifile->FirstStreamIndex + i].get();
    if (!other->Sub2VideoFrame) continue;
    const int64_t t = av_rescale_q(APts, ist->Stream->time_base, other->Stream->time_base) - 1;
    if (other->Sub2VideoLastPts != AV_NOPTS_VALUE && t <= other->Sub2VideoLastPts) continue;
    if (t >= other->Sub2VideoEndPts) Sub2VideoUpdate(other, nullptr);
    unsigned requests = 0;
    for (TInputFilter* f : other->Filters)
      if (f->Filter) requests += av_buffersrc_get_nb_failed_requests(f->Filter);
    if (requests > 0) Sub2VideoPush(other, t);
  }
}

void TCustomFFmpeg::Sub2VideoFlush(TInputStream* ist) { SignalFilterEof(ist); }

}  // namespace vexa
