// The progress report of a run: the report line, the text of the progress
// output, the Progress callback and the final statistics.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vexa {

namespace {

// A text of fixed capacity: each append is cut to the space left.
class TBoundedText {
 public:
  explicit TBoundedText(size_t capacity) : Capacity_(capacity) {}

  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (Text_.size() + 1 >= Capacity_) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n <= 0) return;
    const size_t length = std::min(static_cast<size_t>(n), sizeof buffer - 1);
    Text_.append(buffer, std::min(length, Capacity_ - 1 - Text_.size()));
  }
  const std::string& Text() const { return Text_; }

 private:
  size_t Capacity_;
  std::string Text_;
};

constexpr size_t LineCapacity = 1024;
constexpr size_t ProgressTextCapacity = 4096;

double Psnr(double d) { return -10.0 * std::log10(d); }

AVMediaType StreamType(const TOutputStream& ost) {
  if (ost.CodecContext) return ost.CodecContext->codec_type;
  if (ost.Stream && ost.Stream->codecpar) return ost.Stream->codecpar->codec_type;
  return AVMEDIA_TYPE_UNKNOWN;
}

}  // namespace

void TCustomFFmpeg::ReportProgress(int AFileIndex, bool AIsLast, int64_t ACurrentTime, int64_t ATimerStart) {
  // A paused worker stands still here between two steps.
  if (!AIsLast) PauseGate();

  // 1. Anyone to report to?
  if (PrintStats == 0 && !AIsLast && !ProgressOutput && !Progress) return;

  // 2. Throttle the periodic reports.
  if (!AIsLast) {
    if (LastReportTime == -1) {
      LastReportTime = ACurrentTime;
      return;
    }
    if (ACurrentTime - LastReportTime < ProgressInterval) return;
    LastReportTime = ACurrentTime;
  }

  // 3. Bytes written to the first output.
  int64_t totalSize = -1;
  if (!OutputFiles.empty() && OutputFiles[0]->FormatContext && OutputFiles[0]->FormatContext->pb) {
    // The size on disk lags by whatever the context still buffers (a whole
    // write buffer, hundreds of kB, for a file), so the write position, which
    // counts those bytes, is taken when it is further.
    AVIOContext* pb = OutputFiles[0]->FormatContext->pb;
    totalSize = std::max(avio_size(pb), avio_tell(pb));
  }

  // 4. The streams considered.
  size_t first = 0;
  size_t last = OutputStreams.size();
  if (Joined && JoinGroupSize > 0) {
    const int segment = AFileIndex >= 0 ? AFileIndex : static_cast<int>(InputFiles.size()) - 1;
    first = static_cast<size_t>(std::max(segment, 0)) * static_cast<size_t>(JoinGroupSize);
    last = std::min(first + static_cast<size_t>(JoinGroupSize), OutputStreams.size());
    if (first > last) first = last;
  }

  TBoundedText line(LineCapacity);
  TBoundedText text(ProgressTextCapacity);
  int frameNumber = -1;
  float fpsValue = -1.0f;
  float q = -1.0f;
  bool videoReported = false;
  int64_t outputTime = 0;
  bool haveTime = false;

  // 5. Per stream.
  for (size_t i = first; i < last; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (!ost) continue;
    AVCodecContext* enc = ost->StreamCopy ? nullptr : ost->CodecContext.get();
    q = (ost->StreamCopy || ost->Quality < 0) ? -1.0f : static_cast<float>(ost->Quality) / FF_QP2LAMBDA;
    const bool isVideo = StreamType(*ost) == AVMEDIA_TYPE_VIDEO;
    if (videoReported && isVideo) {
      line.Add("q=%2.1f ", q);
      text.Add("stream_%d_%d_q=%.1f\n", ost->FileIndex, ost->Index, q);
    }
    if (!videoReported && isVideo) {
      // A video stream that has not produced a frame adds nothing yet.
      if (ost->FrameNumber < 1) continue;
      const double t = static_cast<double>(ACurrentTime - ATimerStart) / 1000000.0;
      frameNumber = static_cast<int>(ost->FrameNumber);
      const double fps = t > 1 ? frameNumber / t : 0;
      fpsValue = static_cast<float>(fps);
      line.Add("frame=%5d fps=%3.*f q=%3.1f ", frameNumber, fps < 9.95, fps, q);
      text.Add("frame=%d\n", frameNumber);
      text.Add("fps=%.1f\n", fps);
      text.Add("stream_%d_%d_q=%.1f\n", ost->FileIndex, ost->Index, q);
      if (AIsLast) line.Add("L");
      if (QpHist) {
        const long qp = std::lrint(q);
        if (qp >= 0 && qp < static_cast<long>(QPHistogram.size())) ++QPHistogram[static_cast<size_t>(qp)];
        for (size_t j = 0; j < 32; ++j)
          line.Add("%X", static_cast<int>(std::lrint(std::log2(QPHistogram[j] + 1))));
      }
      if (enc && (enc->flags & AV_CODEC_FLAG_PSNR) && (ost->Quality >= 0 || AIsLast)) {
        double error = 0;
        double errorSum = 0;
        double scale = 0;
        double scaleSum = 0;
        const char planes[] = "YUV";
        line.Add("PSNR=");
        for (size_t j = 0; j < 3; ++j) {
          if (AIsLast) {
            error = static_cast<double>(ost->ErrorSum[j]);
            scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0 * frameNumber;
          } else {
            error = static_cast<double>(ost->Error[j]);
            scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
          }
          if (j) scale /= 4;
          errorSum += error;
          scaleSum += scale;
          const double p = Psnr(error / scale);
          line.Add("%c:%2.2f ", planes[j], p);
          text.Add("stream_%d_%d_psnr_%c=%2.2f\n", ost->FileIndex, ost->Index, planes[j] + ('a' - 'A'), p);
        }
        const double p = Psnr(errorSum / scaleSum);
        line.Add("*:%2.2f ", p);
        text.Add("stream_%d_%d_psnr_all=%2.2f\n", ost->FileIndex, ost->Index, p);
      }
      videoReported = true;
    }
    // The stream's time: the end of what the muxer received so far.
    if ((AIsLast || !ost->Finished) && ost->Stream) {
      const int64_t end = ost->EndPts != AV_NOPTS_VALUE ? ost->EndPts : av_stream_get_end_pts(ost->Stream);
      if (end != AV_NOPTS_VALUE) {
        const int64_t t = av_rescale_q(end, ost->Stream->time_base, AV_TIME_BASE_Q);
        if (!haveTime || t > outputTime) outputTime = t;
        haveTime = true;
      }
    }
  }

  // 6. Size, time, bit rate.
  const int64_t absTime = outputTime < 0 ? -outputTime : outputTime;
  const int secsTotal = static_cast<int>(absTime / AV_TIME_BASE);
  const int us = static_cast<int>(absTime % AV_TIME_BASE);
  const int hours = secsTotal / 3600;
  const int mins = (secsTotal / 60) % 60;
  const int secs = secsTotal % 60;
  const double bitrate =
      outputTime != 0 && totalSize >= 0 ? static_cast<double>(totalSize) * 8 / (static_cast<double>(outputTime) / 1000.0)
                                        : -1;
  if (totalSize < 0)
    line.Add("size=N/A time=");
  else
    line.Add("size=%8.0fkB time=", static_cast<double>(totalSize) / 1024.0);
  line.Add("%s%02d:%02d:%02d.%03d ", outputTime < 0 ? "-" : "", hours, mins, secs, us / 1000);
  if (bitrate < 0)
    line.Add("bitrate=N/A");
  else
    line.Add("bitrate=%6.1fkbits/s", bitrate);

  // 7. The progress text's totals.
  if (totalSize < 0)
    text.Add("total_size=N/A\n");
  else
    text.Add("total_size=%lld\n", static_cast<long long>(totalSize));
  text.Add("out_time_ms=%lld\n", static_cast<long long>(outputTime));
  text.Add("out_time=%s%02d:%02d:%02d.%06d\n", outputTime < 0 ? "-" : "", hours, mins, secs, us);

  // 8. Duplicated and dropped frames.
  if (DupCount || DropCount) {
    line.Add(" dup=%d drop=%d", DupCount, DropCount);
    if (DupDropChanged && Progress) {
      DupDropChanged = false;
      Log(this, llInfo, line.Text());
    }
  }
  text.Add("dup_frames=%d\n", DupCount);
  text.Add("drop_frames=%d\n", DropCount);

  // 9. The owner.
  if (Progress)
    Progress(this, AIsLast ? -1 : AFileIndex, frameNumber, fpsValue < 0 ? -1 : static_cast<int>(std::lrint(fpsValue)),
             q, static_cast<float>(bitrate), totalSize < 0 ? 0 : totalSize, outputTime, TotalDuration);

  // 10. The log.
  if ((PrintStats != 0 && !Progress) || AIsLast) Log(this, llInfo, line.Text());

  // 11. The progress output.
  if (ProgressOutput) {
    text.Add("progress=%s\n", AIsLast ? "end" : "continue");
    avio_write(ProgressOutput.get(), reinterpret_cast<const unsigned char*>(text.Text().data()),
               static_cast<int>(text.Text().size()));
    avio_flush(ProgressOutput.get());
    if (AIsLast) ProgressOutput.reset();
  }

  // 12. The final statistics.
  if (AIsLast) {
    const int64_t counted = VideoSize + AudioSize + SubtitleSize + ExtraSize;
    const double size = totalSize < 0 ? 0.0 : static_cast<double>(totalSize);
    const double overhead =
        counted > 0 ? (size - static_cast<double>(counted)) * 100.0 / static_cast<double>(counted) : 0.0;
    LogFmt(this, llInfo,
           "video:%1.0fkB audio:%1.0fkB subtitle:%1.0f global headers:%1.0fkB muxing overhead %f%%\r\n",
           static_cast<double>(VideoSize) / 1024.0, static_cast<double>(AudioSize) / 1024.0,
           static_cast<double>(SubtitleSize) / 1024.0, static_cast<double>(ExtraSize) / 1024.0, overhead);
    if (counted == 0)
      Log(this, llWarning,
          "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)");
  }
}

}  // namespace vexa
