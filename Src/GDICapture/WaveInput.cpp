#include "GDICapture/WaveInput.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "GDICapture/ScreenThread.h"

namespace vexa {

namespace {

constexpr auto kServerTimeout = std::chrono::seconds(5);
constexpr int kFragmentMs = 10;  // delivery granularity of the record stream
constexpr int64_t kClockReportUs = 30000000;

int64_t BytesToUsec(int64_t bytes, int bytesPerSec) {
  return bytesPerSec > 0 ? bytes * 1000000 / bytesPerSec : 0;
}

struct TSourceList {
  std::vector<std::string>* Names;
  bool Done = false;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* list = static_cast<TSourceList*>(data);
  if (eol) {
    list->Done = true;
    return;
  }
  if (info && info->name) list->Names->push_back(info->name);
}

// A mainloop and a connected context, for the source list.
class TPulseConnection {
 public:
  bool Connect(pa_mainloop* loop, pa_context** out) {
    pa_context* c = pa_context_new(pa_mainloop_get_api(loop), "Vexa Screen Recorder");
    if (!c) return false;
    *out = c;
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    return Iterate(loop, [c] {
             const pa_context_state_t st = pa_context_get_state(c);
             return st == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(st);
           }) &&
           pa_context_get_state(c) == PA_CONTEXT_READY;
  }

  template <class TDone>
  static bool Iterate(pa_mainloop* loop, TDone done) {
    const auto deadline = std::chrono::steady_clock::now() + kServerTimeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (pa_mainloop_prepare(loop, 100000) < 0 || pa_mainloop_poll(loop) < 0 ||
          pa_mainloop_dispatch(loop) < 0)
        return false;
    }
    return true;
  }
};

bool ListSourcesOn(pa_mainloop* loop, pa_context* c, std::vector<std::string>& names) {
  TSourceList list{&names};
  pa_operation* op = pa_context_get_source_info_list(c, OnSourceInfo, &list);
  if (!op) return false;
  const bool ok = TPulseConnection::Iterate(loop, [&] { return list.Done; });
  pa_operation_unref(op);
  return ok;
}

}  // namespace

TWaveFormat MakeWaveFormat(int channels, int sampleRate, int bitsPerSample, int waveBufSize) {
  TWaveFormat f;
  f.Channels = channels;
  f.SamplesPerSec = sampleRate;
  f.BitsPerSample = bitsPerSample;
  f.BlockAlign = static_cast<uint16_t>(static_cast<int64_t>(channels) * bitsPerSample / 8);
  if (f.BlockAlign == 0) f.BlockAlign = 1;
  const int64_t avg = static_cast<int64_t>(sampleRate) * f.BlockAlign;
  f.AvgBytesPerSec = static_cast<int>(std::min<int64_t>(avg, INT32_MAX));
  f.BufferSize = waveBufSize - waveBufSize % f.BlockAlign;
  return f;
}

bool ListSources(std::vector<std::string>& names) {
  names.clear();
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return false;
  pa_context* c = nullptr;
  TPulseConnection connection;
  const bool ok = connection.Connect(loop, &c) && ListSourcesOn(loop, c, names);
  if (c) {
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
  pa_mainloop_free(loop);
  return ok;
}

void TWaveInput::TContextDeleter::operator()(pa_context* c) const {
  pa_context_set_state_callback(c, nullptr, nullptr);
  pa_context_disconnect(c);
  pa_context_unref(c);
}

void TWaveInput::TStreamDeleter::operator()(pa_stream* s) const {
  pa_stream_set_state_callback(s, nullptr, nullptr);
  pa_stream_set_read_callback(s, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(s))) pa_stream_disconnect(s);
  pa_stream_unref(s);
}

TWaveInput::TWaveInput(TCaptureContext& c) : C_(c) {}

TWaveInput::~TWaveInput() { Close(); }

template <class TDone>
bool TWaveInput::IterateUntil(TDone done) {
  return TPulseConnection::Iterate(Loop_.get(), done);
}

void TWaveInput::LogError(int paError) { C_.Log(llError, "%s\n", pa_strerror(paError)); }

bool TWaveInput::Open() {
  Loop_.reset(pa_mainloop_new());
  std::vector<std::string> sources;
  bool reachable = false;
  if (Loop_) {
    pa_context* c = nullptr;
    TPulseConnection connection;
    reachable = connection.Connect(Loop_.get(), &c);
    Context_.reset(c);
    reachable = reachable && ListSourcesOn(Loop_.get(), Context_.get(), sources);
  }
  if (!reachable || sources.empty()) {
    C_.Log(llError, "No wave audio recording devices found.\n");
    return false;
  }

  Format_ = MakeWaveFormat(C_.Channels, C_.SampleRate, C_.BitsPerSample, C_.WaveBufSize);
  try {
    for (auto& b : Buffers_) b.assign(static_cast<size_t>(std::max(Format_.BufferSize, 0)), 0);
  } catch (const std::bad_alloc&) {
    C_.Log(llError, "Error allocating wave buffer memory.\n");
    return false;
  }

  // Does the device accept the format?
  pa_sample_spec spec{};
  spec.format = C_.BitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
  spec.rate = static_cast<uint32_t>(C_.SampleRate);
  spec.channels = static_cast<uint8_t>(std::min(C_.Channels, 255));
  pa_channel_map map{};
  if (C_.Channels > static_cast<int>(PA_CHANNELS_MAX) || !pa_sample_spec_valid(&spec) || Format_.BufferSize <= 0 ||
      !pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT)) {
    LogError(PA_ERR_INVALID);
    return false;
  }
  if (C_.WaveDevice < -1 || C_.WaveDevice >= static_cast<int>(sources.size())) {
    LogError(PA_ERR_NOENTITY);
    return false;
  }
  const char* device = C_.WaveDevice < 0 ? nullptr : sources[C_.WaveDevice].c_str();

  Stream_.reset(pa_stream_new(Context_.get(), "Vexa capture", &spec, &map));
  if (!Stream_) {
    LogError(pa_context_errno(Context_.get()));
    return false;
  }
  pa_stream_set_state_callback(Stream_.get(), &TWaveInput::OnStreamState, this);
  pa_stream_set_read_callback(Stream_.get(), &TWaveInput::OnStreamRead, this);
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);  // server defaults
  const int fragment = std::max(Format_.AvgBytesPerSec / 1000 * kFragmentMs, 1);
  attr.fragsize = static_cast<uint32_t>(
      std::max(std::min(fragment - fragment % Format_.BlockAlign, Format_.BufferSize), Format_.BlockAlign));
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
  if (pa_stream_connect_record(Stream_.get(), device, &attr, flags) < 0) {
    LogError(pa_context_errno(Context_.get()));
    return false;
  }
  pa_stream* s = Stream_.get();
  const bool settled = IterateUntil([s] {
    const pa_stream_state_t st = pa_stream_get_state(s);
    return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
  });
  if (!settled || pa_stream_get_state(s) != PA_STREAM_READY) {
    LogError(settled ? pa_context_errno(Context_.get()) : PA_ERR_TIMEOUT);
    return false;
  }

  // The four buffers start empty, the first one current.
  Current_ = 0;
  Filled_ = 0;
  Retimer_ = std::make_unique<TSoundRetimer>(C_.SampleRate, C_.Channels, C_.BitsPerSample);
  Running_.store(true);
  Thread_ = std::thread([this] {
    Execute();
    Running_.store(false);
    std::lock_guard<std::mutex> guard(FinishLock_);
    FinishChanged_.notify_all();
  });
  return true;
}

void TWaveInput::Execute() {
  constexpr int kTickUs = 10000;
  pa_mainloop* loop = Loop_.get();
  while (!Quit_.load()) {
    if (pa_mainloop_prepare(loop, kTickUs) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
      break;
    Tick();
  }
}

void TWaveInput::Tick() {
  const int64_t now = CaptureClock();
  if (FinishRequested_.load()) {
    if (FinishDone_) return;
    const int64_t end = FinishAt_.load();
    if (FinishAsked_ == 0) FinishAsked_ = now;
    if (Lost_) FillSilence(end);
    // The server delivers in fragments: wait a little for the sound up to
    // the end, but never long.
    constexpr int64_t kMaxWait = 250000;
    if (ReceivedEnd() < end && now - FinishAsked_ < kMaxWait && !C_.Stopped.load()) return;
    DeliverTail(end);
    std::lock_guard<std::mutex> guard(FinishLock_);
    FinishDone_ = true;
    FinishChanged_.notify_all();
    return;
  }
  if (Lost_ && !C_.Stopped.load()) FillSilence(now);
}

void TWaveInput::Finish(int64_t end) {
  if (!Thread_.joinable()) return;
  FinishAt_.store(end);
  FinishRequested_.store(true);
  pa_mainloop_wakeup(Loop_.get());
  std::unique_lock<std::mutex> lock(FinishLock_);
  FinishChanged_.wait_for(lock, std::chrono::seconds(2), [this] { return FinishDone_ || !Running_.load(); });
}

int64_t TWaveInput::ReceivedEnd() const {
  return Retimer_->Anchored() ? Retimer_->OutputTime(Retimer_->OutputFrames()) : INT64_MIN;
}

void TWaveInput::FillSilence(int64_t upTo) {
  // Nothing was received before the loss: the silence starts there.
  Retimer_->AddSilence(LostAt_, upTo);
  FillBuffers();
}

void TWaveInput::DeliverTail(int64_t end) {
  if (Filled_ == 0 || !Retimer_->Anchored()) return;
  const int64_t frameBytes = Format_.BlockAlign;
  const int64_t first = Retimer_->OutputTime(Retimer_->OutputFrames() - static_cast<int64_t>(Filled_) / frameBytes);
  int64_t keep = (end - first) * Format_.AvgBytesPerSec / 1000000;
  keep = std::min<int64_t>(keep - keep % frameBytes, static_cast<int64_t>(Filled_));
  if (keep > 0) Deliver(first, static_cast<int>(keep));
  Filled_ = 0;
}

void TWaveInput::Close() {
  if (Thread_.joinable()) {
    Quit_.store(true);
    pa_mainloop_wakeup(Loop_.get());
    JoinCaptureThread(Thread_, Running_);
  }
  Stream_.reset();
  Context_.reset();
  Loop_.reset();
}

void TWaveInput::OnStreamState(pa_stream* s, void* self) {
  const TLogWithoutWaiting neverWait;  // the sound thread keeps its pace
  auto* w = static_cast<TWaveInput*>(self);
  const pa_stream_state_t st = pa_stream_get_state(s);
  if (w->C_.Stopped.load()) return;
  if (st == PA_STREAM_READY) {
    w->C_.Log(llInfo, "waveIn device opened.\n");
  } else if (!PA_STREAM_IS_GOOD(st) && w->Running_.load() && !w->Lost_) {
    // The server (or the source) went away while recording. The recording
    // goes on: silence stands in for the sound, so that the picture keeps
    // its sound track in step.
    w->Lost_ = true;
    w->LostAt_ = CaptureClock();
    w->C_.Log(llWarning,
              "The sound server has gone away (%s): the recording goes on, with silence in place of the sound.\n",
              pa_strerror(pa_context_errno(w->Context_.get())));
  }
}

void TWaveInput::OnStreamRead(pa_stream*, size_t, void* self) {
  const TLogWithoutWaiting neverWait;  // the sound thread keeps its pace
  static_cast<TWaveInput*>(self)->ReadAvailable();
}

void TWaveInput::ReadAvailable() {
  pa_stream* s = Stream_.get();
  for (;;) {
    const void* data = nullptr;
    size_t n = 0;
    if (pa_stream_peek(s, &data, &n) < 0) {
      if (!C_.Stopped.load()) {
        LogError(pa_context_errno(Context_.get()));
        C_.Fail(AVERROR(EIO), pa_strerror(pa_context_errno(Context_.get())));
      }
      return;
    }
    if (n == 0) return;  // nothing readable
    if (C_.Stopped.load() || FinishDone_) {
      pa_stream_drop(s);
      continue;
    }
    int64_t latency = 0;
    if (const pa_timing_info* t = pa_stream_get_timing_info(s)) {
      latency = static_cast<int64_t>(t->source_usec) + static_cast<int64_t>(t->transport_usec) -
                static_cast<int64_t>(t->sink_usec);
    }
    Consume(data, n, CaptureClock(), latency);
    if (pa_stream_drop(s) < 0 && !C_.Stopped.load()) {
      LogError(pa_context_errno(Context_.get()));
      C_.Fail(AVERROR(EIO), pa_strerror(pa_context_errno(Context_.get())));
      return;
    }
  }
}

void TWaveInput::Consume(const void* data, size_t n, int64_t now, int64_t latency) {
  // The sound goes through the retimer, which puts it on the capture clock.
  // The latency the server reports for the source is the time from
  // recording to arrival (for a monitor source the sink's latency counts
  // the other way: what it plays is heard that much later).
  Retimer_->AllowJumps(LastPts_ == INT64_MIN);  // nothing of the output kept yet
  Retimer_->Add(static_cast<const uint8_t*>(data), n, now, latency);
  FillBuffers();
}

void TWaveInput::FillBuffers() {
  const size_t size = static_cast<size_t>(Format_.BufferSize);
  const size_t frameBytes = static_cast<size_t>(Format_.BlockAlign);
  for (;;) {
    const size_t got = Retimer_->Read(Buffers_[Current_].data() + Filled_, (size - Filled_) / frameBytes);
    if (got == 0) break;
    Filled_ += got * frameBytes;
    if (Filled_ < size) continue;
    const int64_t frames = static_cast<int64_t>(size / frameBytes);
    Deliver(Retimer_->OutputTime(Retimer_->OutputFrames() - frames));
    Filled_ = 0;
    Current_ = (Current_ + 1) % kBufferCount;  // hand the buffer back
  }
  const int64_t now = CaptureClock();
  if (now - LastClockReport_ >= kClockReportUs) {
    LastClockReport_ = now;
    C_.Log(llDebug, "wave clock %+.1f ppm against the capture clock, phase %+.2f ms\n",
           (Retimer_->RateRatio() - 1) * 1e6, Retimer_->PhaseErrorUs() / 1000);
  }
  if (Retimer_->HardSteps() != HardStepsLogged_) {
    HardStepsLogged_ = Retimer_->HardSteps();
    C_.Log(llWarning, "wave data %s by %.0f ms, stepped to the capture clock\n",
           Retimer_->PhaseErrorUs() > 0 ? "late" : "early", std::fabs(Retimer_->PhaseErrorUs()) / 1000);
  }
}

void TWaveInput::Deliver(int64_t firstTime, int size) {
  if (size < 0) size = Format_.BufferSize;
  if (size == 0) return;
  if (!C_.Started.load()) {
    C_.Log(llDebug, "not started, skip wave data %d bytes\n", size);
    return;
  }
  if (C_.Paused()) return;  // paused sound is discarded

  int64_t start = C_.StartTime.load();
  if (start == 0) {
    if (C_.VideoEnabled) return;  // sound waits for the first video frame
    start = firstTime;
    C_.StartTime.store(start);
  }
  // Samples recorded before the start time are not part of the recording.
  int skip = 0;
  int64_t timestamp = firstTime - start;
  if (timestamp < 0) {
    const int64_t bytes = (-timestamp * Format_.AvgBytesPerSec + 999999) / 1000000;
    const int64_t blocks = (bytes + Format_.BlockAlign - 1) / Format_.BlockAlign;
    if (blocks * Format_.BlockAlign >= size) return;
    skip = static_cast<int>(blocks * Format_.BlockAlign);
    timestamp = std::max<int64_t>(firstTime + BytesToUsec(skip, Format_.AvgBytesPerSec) - start, 0);
  }
  if (timestamp <= LastPts_) timestamp = LastPts_ + 1;  // strictly increasing

  int failure = 0;
  {
    auto lock = C_.Queue.Lock();
    TPacketPtr packet(av_packet_alloc());
    if (!packet) {
      failure = 1;
    } else if (av_new_packet(packet.get(), size - skip) < 0) {
      failure = 2;
    } else {
      packet->stream_index = C_.AudioStreamIndex;
      packet->pts = timestamp;
      std::memcpy(packet->data, Buffers_[Current_].data() + skip, static_cast<size_t>(size - skip));
      C_.Queue.Append(std::move(packet), lock);
    }
  }
  if (failure) C_.Fail(AVERROR(ENOMEM));
  if (failure == 1) C_.Log(llError, "av_mallocz() error\n");
  if (failure == 2) C_.Log(llError, "av_new_packet() error\n");
  if (!failure) LastPts_ = timestamp;
}

}  // namespace vexa
