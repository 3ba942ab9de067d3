// Muxing: copied packets with repaired timestamps, bitstream filters, and the
// single path to the muxer.
#include <algorithm>
#include <cinttypes>
#include <climits>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {
constexpr char kPleaseCheck[] =
    "Please check error log message(reported by FFLogger) to find out more detail information.";
}

void TCustomFFmpeg::DoStreamCopy(TInputStream* ist, TOutputStream* ost, const AVPacket* pkt) {
  TOutputFile* of = OutputFiles[ost->FileIndex].get();
  const AVRational ostTb = ost->Stream->time_base;
  const AVRational istTb = ist->Stream->time_base;
  const int64_t startTime = av_rescale_q(of->StartTime, AV_TIME_BASE_Q, ostTb);

  if (ost->FrameNumber == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !ost->CopyInitialNonKeyframes) return;
  if (ost->FrameNumber == 0 && ist->Pts < of->StartTime && ost->CopyPriorStart == 0) return;
  if (of->RecordingTime != NoLimit && ist->Pts >= of->RecordingTime + of->StartTime) {
    CloseOutputStream(ost);
    return;
  }

  const AVMediaType type = ost->Stream->codecpar->codec_type;
  switch (type) {
    case AVMEDIA_TYPE_AUDIO:
      AudioSize += pkt->size;
      break;
    case AVMEDIA_TYPE_VIDEO:
      VideoSize += pkt->size;
      ost->SyncOpts++;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      SubtitleSize += pkt->size;
      break;
    default:
      break;
  }

  TAVPacketPtr opkt(av_packet_alloc());
  if (!opkt || av_packet_ref(opkt.get(), pkt) < 0) AbortWithError("av_malloc failed");
  opkt->pts = pkt->pts != AV_NOPTS_VALUE ? av_rescale_q(pkt->pts, istTb, ostTb) - startTime : AV_NOPTS_VALUE;
  opkt->dts = pkt->dts == AV_NOPTS_VALUE ? av_rescale_q(ist->Dts, AV_TIME_BASE_Q, ostTb)
                                          : av_rescale_q(pkt->dts, istTb, ostTb);
  opkt->dts -= startTime;
  if (type == AVMEDIA_TYPE_AUDIO && pkt->dts != AV_NOPTS_VALUE) {
    const AVCodecParameters* par = ist->Stream->codecpar;
    int duration = av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par), pkt->size);
    if (!duration) duration = par->frame_size;
    if (par->sample_rate > 0 && duration > 0) {
      opkt->dts = opkt->pts = av_rescale_delta(istTb, pkt->dts, AVRational{1, par->sample_rate}, duration,
                                               &ist->FilterInRescaleDeltaLast, ostTb) -
                              startTime;
    }
  }
  opkt->duration = av_rescale_q(pkt->duration, istTb, ostTb);
  opkt->flags = pkt->flags;

  // Copied streams are made strictly increasing.
  if (opkt->dts != AV_NOPTS_VALUE) {
    if (ost->LastWrittenDts != AV_NOPTS_VALUE && ost->LastWrittenDts >= opkt->dts) opkt->dts = ost->LastWrittenDts + 1;
    if (opkt->pts != AV_NOPTS_VALUE && opkt->pts < opkt->dts) opkt->pts = opkt->dts;
    ost->LastWrittenDts = opkt->dts;
  }

  WriteFrame(of, opkt.get(), ost);
  ost->CopiedFrames++;
}

void TCustomFFmpeg::WriteFrame(TOutputFile* of, AVPacket* pkt, TOutputStream* ost) {
  AVFormatContext* oc = of->FormatContext;
  const AVMediaType type = ost->Stream->codecpar->codec_type;
  const AVCodecContext* enc = EncoderContext(ost);

  if ((type == AVMEDIA_TYPE_VIDEO && VideoSyncMethod == 255) || (type == AVMEDIA_TYPE_AUDIO && AudioSyncMethod < 0))
    pkt->pts = pkt->dts = AV_NOPTS_VALUE;

  if ((type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) && pkt->dts != AV_NOPTS_VALUE &&
      ost->LastMuxDts != AV_NOPTS_VALUE && ost->LastMuxDts != 0) {
    const int64_t max = ost->LastMuxDts + !(oc->oformat->flags & AVFMT_TS_NONSTRICT);
    if (max > pkt->dts) {
      const int level = (max - pkt->dts > 2 || type == AVMEDIA_TYPE_VIDEO) ? AV_LOG_WARNING : AV_LOG_DEBUG;
      av_log(oc, level, "st:%d PTS: %" PRId64 " DTS: %" PRId64 " < %" PRId64 " invalid, clipping\n",
             ost->Stream->index, pkt->pts, pkt->dts, max);
      if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= pkt->dts) pkt->pts = std::max(pkt->pts, max);
      pkt->dts = max;
    }
  }

  if (!(type == AVMEDIA_TYPE_VIDEO && ost->EncodingNeeded)) {
    if (ost->FrameNumber >= ost->MaxFrames) {
      av_packet_unref(pkt);
      return;
    }
    ost->FrameNumber++;
  }

  // Bitstream filters: each may give none, one or several packets.
  std::vector<TAVPacketPtr> packets;
  {
    TAVPacketPtr first(av_packet_alloc());
    if (!first) AbortWithError("av_malloc failed");
    av_packet_move_ref(first.get(), pkt);
    packets.push_back(std::move(first));
  }
  for (auto& bsf : ost->BitstreamFilters) {
    std::vector<TAVPacketPtr> out;
    for (auto& p : packets) {
      TAVPacketPtr keep(av_packet_alloc());
      if (!keep || av_packet_ref(keep.get(), p.get()) < 0) AbortWithError("av_malloc failed");
      int ret = av_bsf_send_packet(bsf.get(), p.get());
      while (ret >= 0) {
        TAVPacketPtr filtered(av_packet_alloc());
        if (!filtered) AbortWithError("av_malloc failed");
        ret = av_bsf_receive_packet(bsf.get(), filtered.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
          ret = 0;
          break;
        }
        if (ret >= 0) out.push_back(std::move(filtered));
      }
      if (ret < 0) {
        char text[512];
        snprintf(text, sizeof(text), "Failed to open bitstream filter %s for stream %d with codec %s",
                 bsf->filter->name, ost->Stream->index, enc && enc->codec ? enc->codec->name : "copy");
        const std::string message = ErrorText(text, ret);
        if (ExitOnError) AbortWithError(message);
        Log(this, llError, message);
        out.push_back(std::move(keep));  // goes on unfiltered
      }
    }
    packets = std::move(out);
  }

  for (auto& p : packets) {
    p->stream_index = ost->Index;
    if (p->dts != AV_NOPTS_VALUE) ost->LastMuxDts = p->dts;
    const int64_t start = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (start != AV_NOPTS_VALUE) {
      const int64_t end = start + std::max<int64_t>(p->duration, 0);
      if (ost->EndPts == AV_NOPTS_VALUE || end > ost->EndPts) ost->EndPts = end;
    }
    LastWriteTime = av_gettime();
    const int ret = av_interleaved_write_frame(oc, p.get());
    if (ret < 0) AbortWithError(ErrorText("av_interleaved_write_frame()", ret) + ". " + kPleaseCheck);
  }
}

}  // namespace vexa
