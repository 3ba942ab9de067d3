// The transcoding loop: scheduling of outputs and inputs, the end of the job,
// and the switch between the segments of join mode.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {
constexpr char kPleaseCheck[] =
    "Please check error log message(reported by FFLogger) to find out more detail information.";
}

void TCustomFFmpeg::SetActiveRange() {
  if (Joined && JoinGroupSize > 0) {
    FirstActiveStream = JoinSegment * JoinGroupSize;
    LastActiveStream = FirstActiveStream + JoinGroupSize - 1;
  } else {
    FirstActiveStream = 0;
    LastActiveStream = static_cast<int>(OutputStreams.size()) - 1;
  }
  LastActiveStream = std::min(LastActiveStream, static_cast<int>(OutputStreams.size()) - 1);
}

int TCustomFFmpeg::Transcode() {
  LastErrorText.clear();
  int ret;
  try {
    ret = TranscodeInit();
  } catch (...) {
    EndOfRunRelease();
    throw;
  }
  if (ret < 0) {
    if (LastErrorText.empty())
      LastErrorText = ErrorText("transcode_init() error", ret) + ". " + kPleaseCheck;
    EndOfRunRelease();
    throw FFmpegException(LastErrorText);
  }

  if (TotalDuration < 0) TotalDuration = LongestInputDuration;
  TimerStart_ = av_gettime();
  JoinSegment = 0;
  SetActiveRange();

  for (;;) {
    PauseGate();
    // A stop (or too little room left for the outputs) first lets the live
    // inputs hand over what they hold; a stop without them ends at once.
    if ((StopRequested || RoomStop_) && !BeginDrain()) break;
    if (Draining_ && av_gettime() > DrainDeadline_) {
      Log(this, llWarning, "The live inputs did not end in time after the stop.");
      break;
    }
    const int64_t currentTime = av_gettime();
    CheckOutputRoom(currentTime);
    if (!NeedOutput()) {
      Log(this, llVerbose, "No more output streams to write to, finishing.");
      break;
    }
    ret = TranscodeStep();
    if (ret >= 0) {
      ReportProgress(JoinSegment, false, currentTime, TimerStart_);
    } else if (ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) {
      Log(this, llError, ErrorText("Error while filtering", ret));
      break;
    } else if (ret == AVERROR_EOF && ChooseOutput() == nullptr) {
      break;  // nothing left to read
    }
  }

  if (Draining_) DrainEnd_ = av_gettime();

  // Flush the decoders of inputs that did not reach their end.
  for (auto& ist : InputStreams) {
    if (!ist->DecodingNeeded || ist->DecoderFlushed || ist->Released) continue;
    if (InputFiles[ist->FileIndex]->EofReached) continue;
    ist->DecoderFlushed = true;
    OutputPacket(ist.get(), nullptr);
  }
  ReapFilters();
  FlushEncoders();

  const size_t fileLimit = Joined ? std::min<size_t>(1, OutputFiles.size()) : OutputFiles.size();
  WriteTrailers(fileLimit);
  ReportProgress(-1, true, av_gettime(), TimerStart_);
  CloseOutputFiles(fileLimit);

  const size_t streamLimit =
      Joined && JoinGroupSize > 0 ? std::min<size_t>(JoinGroupSize, OutputStreams.size()) : OutputStreams.size();
  for (size_t i = 0; i < streamLimit; ++i)
    if (OutputStreams[i]->EncodingNeeded) CloseEncoder(OutputStreams[i].get());
  for (auto& ist : InputStreams)
    if (ist->DecodingNeeded) CloseDecoder(ist.get());

  // A fault ends the run as failed, its outputs finished as far as they could be.
  Finished = !StopRequested && RunFault_.empty();
  EndOfRunRelease();
  if (!RunFault_.empty()) {
    LastErrorText = RunFault_;
    throw FFmpegException(RunFault_);
  }
  return 0;
}

void TCustomFFmpeg::EndOfRunRelease() {
  CloseOpenDecoders();
  CloseOpenEncoders();
  const size_t streamLimit =
      Joined && JoinGroupSize > 0 ? std::min<size_t>(JoinGroupSize, OutputStreams.size()) : OutputStreams.size();
  for (size_t i = 0; i < streamLimit; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    ost->LogFile.reset();
    ost->ForcedKfPts.clear();
    ost->ForcedKfExpr.reset();
    ost->FilteredFrame.reset();
    ost->SavedSettings.reset();
    ost->SavedOptions.Reset();
    ost->EncoderOptions.Reset();
    ost->SwrOptions.Reset();
    ost->ResampleOptions.Reset();
  }
  VStatsFile_.reset();
}

bool TCustomFFmpeg::NeedOutput() {
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    TOutputFile* of = OutputFiles[ost->FileIndex].get();
    AVFormatContext* oc = of->FormatContext;
    if (ost->Finished || (oc->pb && of->LimitFileSize != NoLimit && avio_tell(oc->pb) >= of->LimitFileSize))
      continue;
    if (ost->FrameNumber >= ost->MaxFrames) {
      for (unsigned j = 0; j < oc->nb_streams; ++j) {
        const size_t k = of->FirstStreamIndex + j;
        if (k < OutputStreams.size()) CloseOutputStream(OutputStreams[k].get());
      }
      continue;
    }
    return true;
  }
  return false;
}

TOutputStream* TCustomFFmpeg::ChooseOutput() {
  int64_t minDts = INT64_MAX;
  TOutputStream* chosen = nullptr;
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (ost->Unavailable || ost->Finished) continue;
    const int64_t dts = ost->LastMuxDts == AV_NOPTS_VALUE
                            ? INT64_MIN
                            : av_rescale_q(ost->LastMuxDts, ost->Stream->time_base, AV_TIME_BASE_Q);
    if (dts < minDts) {
      minDts = dts;
      chosen = ost;
    }
  }
  return chosen;
}

void TCustomFFmpeg::CloseOutputStream(TOutputStream* AStream) {
  AStream->Finished = 1;
  TOutputFile* of = OutputFiles[AStream->FileIndex].get();
  if (of->Shortest) {
    const AVCodecContext* enc = EncoderContext(AStream);
    if (enc && enc->time_base.den) {
      const int64_t end =
          av_rescale_q(AStream->SyncOpts - AStream->FirstPts, enc->time_base, AV_TIME_BASE_Q);
      of->RecordingTime = std::min(of->RecordingTime, end);
    }
  }
}

bool TCustomFFmpeg::CheckRecordingTime(TOutputStream* AStream) {
  TOutputFile* of = OutputFiles[AStream->FileIndex].get();
  const AVCodecContext* enc = EncoderContext(AStream);
  if (of->RecordingTime != NoLimit && enc &&
      av_compare_ts(AStream->SyncOpts - AStream->FirstPts, enc->time_base, of->RecordingTime, AV_TIME_BASE_Q) >=
          0) {
    CloseOutputStream(AStream);
    return false;
  }
  return true;
}

int TCustomFFmpeg::TranscodeStep() {
  TOutputStream* ost = ChooseOutput();
  if (!ost) {
    bool anyUnavailable = false;
    for (int i = FirstActiveStream; i <= LastActiveStream; ++i)
      if (OutputStreams[i]->Unavailable) anyUnavailable = true;
    if (anyUnavailable) {
      for (auto& f : InputFiles) f->TryAgain = 0;
      for (int i = FirstActiveStream; i <= LastActiveStream; ++i) OutputStreams[i]->Unavailable = false;
      av_usleep(10000);
      return 0;
    }
    Log(this, llVerbose, "No more inputs to read from, finishing.");
    return AVERROR_EOF;
  }

  TInputStream* ist = nullptr;
  if (ost->Filter && ost->Filter->Graph && ost->Filter->Graph->Graph) {
    TFilterGraph* fg = ost->Filter->Graph;
    int ret = avfilter_graph_request_oldest(fg->Graph.get());
    if (ret >= 0) return ReapFilters();
    if (ret == AVERROR_EOF) {
      ret = ReapFilters();
      for (auto& out : fg->Outputs)
        if (out->OutputStream) CloseOutputStream(out->OutputStream);
      return ret;
    }
    if (ret != AVERROR(EAGAIN)) return ret;
    int mostRequests = -1;
    for (auto& in : fg->Inputs) {
      TInputStream* candidate = in->InputStream;
      if (!candidate) continue;
      TInputFile* f = InputFiles[candidate->FileIndex].get();
      if (f->EofReached || f->TryAgain) continue;
      const int requests = static_cast<int>(av_buffersrc_get_nb_failed_requests(in->Filter));
      if (requests > mostRequests) {
        mostRequests = requests;
        ist = candidate;
      }
    }
    if (!ist) {
      for (auto& out : fg->Outputs)
        if (out->OutputStream) out->OutputStream->Unavailable = true;
      return 0;
    }
  } else {
    if (ost->SourceIndex < 0) {  // nothing can feed it
      CloseOutputStream(ost);
      return 0;
    }
    ist = InputStreams[ost->SourceIndex].get();
  }

  const int ret = ProcessInput(ist->FileIndex);
  if (ret == AVERROR(EAGAIN)) {
    if (InputFiles[ist->FileIndex]->TryAgain) ost->Unavailable = true;
    return 0;
  }
  if (ret < 0) return ret == AVERROR_EOF ? 0 : ret;
  return ReapFilters();
}

// --- join mode

void TCustomFFmpeg::SwitchJoinSegment(int AFileIndex) {
  TInputFile* ifile = InputFiles[AFileIndex].get();
  std::vector<TInputStream*> streams;
  for (int j = 0; j < ifile->StreamCount; ++j) streams.push_back(InputStreams[ifile->FirstStreamIndex + j].get());

  // 1.-3. Drain and release the ended input's decoders and streams.
  for (TInputStream* ist : streams) {
    if (!ist->DecodingNeeded || ist->DecoderFlushed) continue;
    ist->DecoderFlushed = true;
    OutputPacket(ist, nullptr);
    if (ist->CodecContext && ist->DecoderOpened && !ist->DecoderClosed) avcodec_flush_buffers(ist->CodecContext.get());
  }
  ReapFilters();
  for (TInputStream* ist : streams)
    if (ist->DecodingNeeded && !ist->DecoderClosed) CloseDecoder(ist);
  for (TInputStream* ist : streams) {
    if (ist->Released) continue;
    ist->Released = true;
    ist->DecodeFrame.reset();
    ist->DecoderOptions.Reset();
    ist->PrevSub.Reset();
    ist->Sub2VideoFrame.reset();
  }

  // 4. Drain the encoders of the segment.
  FlushEncoders();

  // 5. Next segment.
  const int n = JoinGroupSize;
  const int oldFirst = FirstActiveStream;
  JoinSegment++;
  SetActiveRange();
  ReopenJoinEncoders();

  // 6. The new group continues where the old one stands.
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    TOutputStream* prev = OutputStreams[i - n].get();
    ost->SyncOpts = prev->SyncOpts;
    ost->FrameNumber = prev->FrameNumber;
    ost->LastWrittenPts = prev->LastWrittenPts;
    ost->LastWrittenDts = prev->LastWrittenDts;
    ost->LastMuxDts = prev->LastMuxDts;
    ost->EndPts = prev->EndPts;
    ost->FirstPts = prev->FirstPts;
    if (ost->SyncInput && prev->SyncInput) ost->SyncInput->Pts = prev->SyncInput->Pts;
  }

  // 7. The next input's timestamps start where the output ends.
  double longest = 0;
  bool any = false;
  for (int i = oldFirst; i < oldFirst + n; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    ost->JoinSegmentDone = true;
    const int64_t end = ost->EndPts != AV_NOPTS_VALUE ? ost->EndPts : ost->LastMuxDts;
    if (end == AV_NOPTS_VALUE) continue;
    const double t = end * av_q2d(ost->Stream->time_base);
    if (!any || t > longest) longest = t;
    any = true;
  }
  if (any && AFileIndex + 1 < static_cast<int>(InputFiles.size()))
    InputFiles[AFileIndex + 1]->TsOffset += std::llround(longest * 1000000);
}

void TCustomFFmpeg::ReopenJoinEncoders() {
  for (int i = 0; i < JoinGroupSize && i < static_cast<int>(OutputStreams.size()); ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    if (!ost->EncodingNeeded) continue;
    if (!ost->Encoder || !ost->SavedSettings) AbortWithError("Never occur");
    CloseEncoder(ost);
    // A codec context cannot be opened twice: each segment gets a new one.
    TCodecContextPtr enc(avcodec_alloc_context3(ost->Encoder));
    if (!enc) AbortWithError("av_mallocz() failed");
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (par && avcodec_parameters_from_context(par, ost->SavedSettings.get()) >= 0)
      avcodec_parameters_to_context(enc.get(), par);
    avcodec_parameters_free(&par);
    const AVCodecContext* saved = ost->SavedSettings.get();
    enc->codec_id = ost->SavedCodecId;
    enc->time_base = saved->time_base;
    enc->framerate = saved->framerate;
    enc->flags = saved->flags;
    enc->flags2 = saved->flags2;
    enc->global_quality = saved->global_quality;
    enc->gop_size = saved->gop_size;
    enc->bits_per_raw_sample = saved->bits_per_raw_sample;
    enc->strict_std_compliance = saved->strict_std_compliance;
    enc->max_b_frames = ost->SavedMaxBFrames;
    const double sar = av_q2d(ost->Stream->sample_aspect_ratio);
    if (std::isnan(sar))
      enc->sample_aspect_ratio = AVRational{0, 0};
    else if (std::isinf(sar))
      enc->sample_aspect_ratio = AVRational{sar < 0 ? -1 : 1, 0};
    else
      enc->sample_aspect_ratio = av_d2q(sar, 255);
    TDictionary options = ost->SavedOptions.Clone();
    if (std::strcmp(ost->Encoder->name, "mjpeg") == 0) options.Set("threads", "1");
    if (!options.Value("threads")) options.Set("threads", "auto");
    TDictionary keep = options.Clone();
    ost->CodecContext = std::move(enc);
    ost->EncoderClosed = false;
    ost->Flushed = false;
    const int ret = avcodec_open2(ost->CodecContext.get(), ost->Encoder, options.Address());
    if (ret < 0) {
      if (ret == AVERROR_EXPERIMENTAL) AbortWithError("abort codec experimental");
      AbortWithError(
          "Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as "
          "bit_rate, rate, width or height. %s",
          ost->FileIndex, ost->Index, MediaTypeName(ost->CodecContext->codec_type).c_str(), kPleaseCheck);
    }
    ost->EncoderOpened = true;
    AddOpenEncoder(ost);
    ost->EncoderOptions = std::move(keep);
  }
  for (int i = FirstActiveStream; i <= LastActiveStream; ++i) {
    TOutputStream* ost = OutputStreams[i].get();
    AVCodecContext* enc = EncoderContext(ost);
    if (ost->EncodingNeeded && enc && enc->codec_type == AVMEDIA_TYPE_AUDIO && ost->Filter &&
        ost->Filter->Filter && enc->codec && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) &&
        enc->frame_size > 0)
      av_buffersink_set_frame_size(ost->Filter->Filter, enc->frame_size);
  }
}

}  // namespace vexa
