#include "GDICapture/WaveInput.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "GDICapture/ScreenThread.h"

namespace vexa {

namespace {

constexpr auto kServerTimeout = std::chrono::seconds(5);
constexpr int kFragmentMs = 10;  // delivery granularity of the record stream

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
  Running_.store(true);
  Thread_ = std::thread([this] {
    while (!Quit_.load()) {
      if (pa_mainloop_iterate(Loop_.get(), 1, nullptr) < 0) break;
    }
    Running_.store(false);
  });
  return true;
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
  } else if (!PA_STREAM_IS_GOOD(st) && w->Running_.load()) {
    // The server ended the stream while recording.
    w->C_.Stopped.store(true);
    w->C_.Log(llInfo, "waveIn device closed.\n");
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
        C_.Fail(AVERROR(EIO));
        LogError(pa_context_errno(Context_.get()));
      }
      return;
    }
    if (n == 0) return;  // nothing readable
    if (C_.Stopped.load()) {
      pa_stream_drop(s);
      continue;
    }
    // Capture clock of the stream: byte P was recorded at Origin + P / rate.
    // The origin is the earliest delivery seen over the last two seconds
    // (data is never delivered before it was recorded; late deliveries and
    // bursts only ever push the estimate up), less the latency the server
    // reports for the source (for a monitor source the sink's latency counts
    // the other way: what it plays is heard that much later).
    const int64_t now = CaptureClock();
    ReceivedBytes_ += static_cast<int64_t>(n);
    NoteDelivery(now, now - BytesToUsec(ReceivedBytes_, Format_.AvgBytesPerSec));
    int64_t latency = 0;
    if (const pa_timing_info* t = pa_stream_get_timing_info(s)) {
      latency = static_cast<int64_t>(t->source_usec) + static_cast<int64_t>(t->transport_usec) -
                static_cast<int64_t>(t->sink_usec);
    }
    const int64_t origin = EarliestOrigin() - latency;
    const int64_t chunkFirstByte = ReceivedBytes_ - static_cast<int64_t>(n);

    const size_t size = static_cast<size_t>(Format_.BufferSize);
    size_t k = 0;
    while (k < n) {
      const size_t take = std::min(n - k, size - Filled_);
      uint8_t* dst = Buffers_[Current_].data() + Filled_;
      if (data)
        std::memcpy(dst, static_cast<const uint8_t*>(data) + k, take);
      else
        std::memset(dst, C_.BitsPerSample == 8 ? 0x80 : 0, take);  // a hole reads as silence
      Filled_ += take;
      k += take;
      if (Filled_ == size) {
        Deliver(origin + BytesToUsec(chunkFirstByte + static_cast<int64_t>(k) - static_cast<int64_t>(size),
                                     Format_.AvgBytesPerSec));
        Filled_ = 0;
        Current_ = (Current_ + 1) % kBufferCount;  // hand the buffer back
      }
    }
    if (pa_stream_drop(s) < 0 && !C_.Stopped.load()) {
      C_.Fail(AVERROR(EIO));
      LogError(pa_context_errno(Context_.get()));
      return;
    }
  }
}

void TWaveInput::NoteDelivery(int64_t now, int64_t origin) {
  constexpr int64_t kWindow = 2000000;
  while (!Origins_.empty() && Origins_.back().second >= origin) Origins_.pop_back();
  Origins_.emplace_back(now, origin);
  while (Origins_.front().first < now - kWindow) Origins_.pop_front();
}

int64_t TWaveInput::EarliestOrigin() const { return Origins_.front().second; }

void TWaveInput::Deliver(int64_t firstTime) {
  const int size = Format_.BufferSize;
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
    if (failure) C_.Fail(AVERROR(ENOMEM));
  }
  if (failure == 1) C_.Log(llError, "av_mallocz() error\n");
  if (failure == 2) C_.Log(llError, "av_new_packet() error\n");
  if (!failure) LastPts_ = timestamp;
}

}  // namespace vexa
