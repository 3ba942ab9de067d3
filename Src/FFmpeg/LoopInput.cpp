// The input side of the loop: reading one packet, repairing its timestamps,
// and handing it to decoding or to the stream copies.
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>

#include "Base/ProgramFormats.h"
#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
#include <libavutil/timestamp.h>
}

namespace vexa {

void TCustomFFmpeg::RateEmuSleep(TInputStream* AStream) {
  if (!InputFiles[AStream->FileIndex]->RateEmulation) return;
  const int64_t pts = AStream->Dts;
  const int64_t elapsed = av_gettime() - AStream->Start;
  if (pts > elapsed) {
    // Sleep in short slices so that a stop or a pause is seen at once.
    int64_t left = pts - elapsed;
    while (left > 0 && !StopRequested) {
      const int64_t slice = std::min<int64_t>(left, 20000);
      av_usleep(static_cast<unsigned>(slice));
      left -= slice;
      PauseGate();
    }
  }
}

int TCustomFFmpeg::ProcessInput(int AFileIndex) {
  TInputFile* ifile = InputFiles[AFileIndex].get();
  AVFormatContext* ic = ifile->FormatContext;
  TAVPacketPtr pkt(av_packet_alloc());
  if (!pkt) return AVERROR(ENOMEM);

  LastReadTime = av_gettime();
  int ret = ifile->ProgramFormat ? ReadProgramInput(ic, ifile->ProgramFormat, pkt.get()) : av_read_frame(ic, pkt.get());
  if (ret == AVERROR(EAGAIN)) {
    ifile->TryAgain = 1;
    return ret;
  }
  if (ret < 0) {
    // A read broken off by the stop itself is no fault.
    if (ret != AVERROR_EOF && !(StopRequested && ret == AVERROR_EXIT)) {
      // The input ends here; the run finishes its outputs and then fails.
      const std::string url = ic->url ? ic->url : "";
      std::string text = ErrorText(url, ret);
      if (ifile->ProgramFormat && ifile->ProgramFormat->FailureText) {
        const std::string why = ifile->ProgramFormat->FailureText(ic);
        if (!why.empty()) text = url + ": " + why;
      }
      if (ExitOnError) AbortWithError(text);
      NoteRunFault(text);
    }
    ifile->EofReached = 1;
    if (Joined && AFileIndex + 1 < static_cast<int>(InputFiles.size())) {
      SwitchJoinSegment(AFileIndex);
      return 0;
    }
    for (int i = 0; i < ifile->StreamCount; ++i) {
      TInputStream* ist = InputStreams[ifile->FirstStreamIndex + i].get();
      if (ist->DecodingNeeded && !ist->DecoderFlushed) {
        ist->DecoderFlushed = true;
        OutputPacket(ist, nullptr);
      }
      for (int j = FirstActiveStream; j <= LastActiveStream; ++j) {
        TOutputStream* ost = OutputStreams[j].get();
        if (ost->SourceIndex != ifile->FirstStreamIndex + i) continue;
        const AVCodecContext* enc = EncoderContext(ost);
        if (ost->StreamCopy || (enc && enc->codec_type == AVMEDIA_TYPE_SUBTITLE)) CloseOutputStream(ost);
      }
    }
    return AVERROR(EAGAIN);
  }

  for (auto& f : InputFiles) f->TryAgain = 0;
  for (int j = FirstActiveStream; j <= LastActiveStream; ++j) OutputStreams[j]->Unavailable = false;

  if (DoPktDump)
    av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt.get(), DoHexDump, ic->streams[pkt->stream_index]);

  if (pkt->stream_index >= ifile->StreamCount) {
    if (pkt->stream_index + 1 > ifile->StreamCountWarned) {
      char dts[AV_TS_MAX_STRING_SIZE];
      av_ts_make_time_string(dts, pkt->dts, &ic->streams[pkt->stream_index]->time_base);
      av_log(nullptr, AV_LOG_WARNING, "New %s stream %d:%d at pos:%" PRId64 " and DTS:%ss\n",
             av_get_media_type_string(ic->streams[pkt->stream_index]->codecpar->codec_type), AFileIndex,
             pkt->stream_index, pkt->pos, dts);
      ifile->StreamCountWarned = pkt->stream_index + 1;
    }
    return 0;
  }
  TInputStream* ist = InputStreams[ifile->FirstStreamIndex + pkt->stream_index].get();
  if (ist->Discard) return 0;
  AVStream* st = ist->Stream;
  // Program input formats have no AVInputFormat of their own.
  const int formatFlags = ifile->ProgramFormat ? ifile->ProgramFormat->Flags : ic->iformat->flags;

  // Wrap correction.
  if (!ist->WrapCorrectionDone && ic->start_time != AV_NOPTS_VALUE && st->pts_wrap_bits > 0 &&
      st->pts_wrap_bits < 64) {
    if (ist->NextDts == AV_NOPTS_VALUE && ifile->TsOffset == -ic->start_time &&
        (formatFlags & AVFMT_TS_DISCONT)) {
      int64_t newStart = INT64_MAX;
      for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* s = ic->streams[i];
        if (s->discard == AVDISCARD_ALL || s->start_time == AV_NOPTS_VALUE) continue;
        newStart = std::min(newStart, av_rescale_q(s->start_time, s->time_base, AV_TIME_BASE_Q));
      }
      if (newStart != INT64_MAX && newStart > ic->start_time) {
        av_log(ic, AV_LOG_VERBOSE, "Correcting start time by %" PRId64 "\n", newStart - ic->start_time);
        ifile->TsOffset = -newStart;
      }
    }
    const int64_t stime = av_rescale_q(ic->start_time, AV_TIME_BASE_Q, st->time_base);
    const int64_t stime2 = stime + (1ULL << st->pts_wrap_bits);
    ist->WrapCorrectionDone = true;
    if (stime2 > stime && pkt->dts != AV_NOPTS_VALUE && pkt->dts > stime + (1LL << (st->pts_wrap_bits - 1))) {
      pkt->dts -= 1ULL << st->pts_wrap_bits;
      ist->WrapCorrectionDone = false;
    }
    if (stime2 > stime && pkt->pts != AV_NOPTS_VALUE && pkt->pts > stime + (1LL << (st->pts_wrap_bits - 1))) {
      pkt->pts -= 1ULL << st->pts_wrap_bits;
      ist->WrapCorrectionDone = false;
    }
  }

  // Offsets and timestamp scale.
  const int64_t offset = av_rescale_q(ifile->TsOffset, AV_TIME_BASE_Q, st->time_base);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
  if (ist->TsScale != 1.0) {
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(pkt->pts * ist->TsScale);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(pkt->dts * ist->TsScale);
  }

  // Discontinuities.
  const AVMediaType type = st->codecpar->codec_type;
  if (pkt->dts != AV_NOPTS_VALUE && ist->NextDts != AV_NOPTS_VALUE && !CopyTs) {
    const int64_t pktDts = av_rescale_q(pkt->dts, st->time_base, AV_TIME_BASE_Q);
    const int64_t delta = pktDts - ist->NextDts;
    if (formatFlags & AVFMT_TS_DISCONT) {
      if (delta < -1LL * DtsDeltaThreshold * AV_TIME_BASE ||
          (delta > 1LL * DtsDeltaThreshold * AV_TIME_BASE && type != AVMEDIA_TYPE_SUBTITLE) ||
          pktDts + 1 < ist->Pts) {
        ifile->TsOffset -= delta;
        LogFmt(this, llDebug, "timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta, ifile->TsOffset);
        pkt->dts -= av_rescale_q(delta, AV_TIME_BASE_Q, st->time_base);
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= av_rescale_q(delta, AV_TIME_BASE_Q, st->time_base);
      }
    } else {
      const double limit = static_cast<double>(DtsErrorThreshold) * AV_TIME_BASE;
      if (delta < -limit || (delta > limit && type != AVMEDIA_TYPE_SUBTITLE)) {
        LogFmt(this, llWarning, "DTS %" PRId64 ", next:%" PRId64 " st:%d invalid dropping", pkt->dts,
               ist->NextDts, pkt->stream_index);
        pkt->dts = AV_NOPTS_VALUE;
      }
      if (pkt->pts != AV_NOPTS_VALUE) {
        const int64_t pktPts = av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
        const int64_t d = pktPts - ist->NextDts;
        if (d < -limit || (d > limit && type != AVMEDIA_TYPE_SUBTITLE)) {
          LogFmt(this, llWarning, "PTS %" PRId64 ", next:%" PRId64 " invalid dropping st:%d", pkt->pts,
                 ist->NextDts, pkt->stream_index);
          pkt->pts = AV_NOPTS_VALUE;
        }
      }
    }
  }

  Sub2VideoHeartbeat(ist, pkt->pts);

  ret = OutputPacket(ist, pkt.get());
  if (ret < 0) {
    char text[512];
    snprintf(text, sizeof(text), "Error while decoding stream #%d:%d: %s", ist->FileIndex, pkt->stream_index,
             ErrorText(ret).c_str());
    if (ExitOnError) AbortWithError(text);
    Log(this, llError, text);
  }
  return 0;
}

int TCustomFFmpeg::OutputPacket(TInputStream* ist, const AVPacket* pkt) {
  AVStream* st = ist->Stream;
  const AVCodecParameters* par = st->codecpar;
  if (!ist->SawFirstTs) {
    ist->Dts = st->avg_frame_rate.num
                   ? std::llround(-1.0 * (ist->CodecContext ? ist->CodecContext->has_b_frames : 0) * AV_TIME_BASE /
                                  av_q2d(st->avg_frame_rate))
                   : 0;
    ist->Pts = 0;
    if (pkt && pkt->pts != AV_NOPTS_VALUE && !ist->DecodingNeeded) {
      ist->Dts += av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
      ist->Pts = ist->Dts;
    }
    ist->SawFirstTs = true;
  }
  if (ist->NextDts == AV_NOPTS_VALUE) ist->NextDts = ist->Dts;
  if (ist->NextPts == AV_NOPTS_VALUE) ist->NextPts = ist->Pts;

  if (pkt && pkt->dts != AV_NOPTS_VALUE) {
    ist->NextDts = ist->Dts = av_rescale_q(pkt->dts, st->time_base, AV_TIME_BASE_Q);
    if (par->codec_type != AVMEDIA_TYPE_VIDEO || !ist->DecodingNeeded) ist->NextPts = ist->Pts = ist->Dts;
  }

  if (ist->DecodingNeeded && !ist->DecoderClosed) {
    bool gotOutput = false;
    const int ret = DecodePacket(ist, pkt, gotOutput);
    if (ret < 0) return ret;
  }

  if (!ist->DecodingNeeded) {
    RateEmuSleep(ist);
    ist->Dts = ist->NextDts;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (par->sample_rate > 0 && par->frame_size > 0)
        ist->NextDts += static_cast<int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      if (pkt && pkt->duration) {
        ist->NextDts += av_rescale_q(pkt->duration, st->time_base, AV_TIME_BASE_Q);
      } else {
        AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
        if (ist->CodecContext && ist->CodecContext->framerate.num) rate = ist->CodecContext->framerate;
        if (rate.num && rate.den) ist->NextDts += av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
      }
    }
    ist->Pts = ist->Dts;
    ist->NextPts = ist->NextDts;
  }

  if (!pkt) return 0;
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (ost->SourceIndex < 0 || InputStreams[ost->SourceIndex].get() != ist) continue;
    const TOutputFile* of = OutputFiles[ost->FileIndex].get();
    if (of->StartTime && ist->Pts < of->StartTime) continue;
    if (ost->EncodingNeeded || !ost->StreamCopy) continue;
    DoStreamCopy(ist, ost, pkt);
  }
  return 0;
}

}  // namespace vexa
