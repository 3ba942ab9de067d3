// The sound side of a capture input: one PulseAudio record stream in exactly
// the requested sample format, its data gathered into four rotating buffers;
// each full buffer becomes one PCM packet in the input's queue, stamped with
// the capture time of its first sample. On the way the sound is resampled
// onto the capture clock (TSoundRetimer), so that its frame count keeps pace
// with the pictures however the source's own clock runs.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GDICapture/CaptureContext.h"
#include "GDICapture/SoundRetimer.h"

namespace vexa {

// The wave format of a request: block align (channels x bits / 8 in 16 bits,
// at least 1), bytes per second and the buffer size (wavebufsize less its
// remainder modulo the block align).
struct TWaveFormat {
  int Channels = 0;
  int SamplesPerSec = 0;
  int BitsPerSample = 0;
  int BlockAlign = 0;
  int AvgBytesPerSec = 0;
  int BufferSize = 0;
};
TWaveFormat MakeWaveFormat(int channels, int sampleRate, int bitsPerSample, int waveBufSize);

// The server's sources in list order (monitors included); false when no
// server answers. Opens and closes its own connection.
bool ListSources(std::vector<std::string>& names);

class TWaveInput {
 public:
  static constexpr int kBufferCount = 4;

  explicit TWaveInput(TCaptureContext& c);
  ~TWaveInput();  // Close
  TWaveInput(const TWaveInput&) = delete;
  TWaveInput& operator=(const TWaveInput&) = delete;

  // Opens device c.WaveDevice (-1 = the default source) with the context's
  // format and starts recording (data is discarded until the reader starts).
  // Failures are logged; false on failure.
  bool Open();
  // Stops recording and disconnects. The caller sets c.Stopped first.
  void Close();
  // Hands over the sound recorded up to `end` (capture clock), the last,
  // partly filled buffer included, and queues nothing after it. Waits for
  // the sound server's delivery of that sound for a moment at most.
  void Finish(int64_t end);

  const TWaveFormat& Format() const { return Format_; }
  bool Running() const { return Running_.load(); }

 private:
  struct TMainloopDeleter {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
  };
  struct TContextDeleter {
    void operator()(pa_context* c) const;
  };
  struct TStreamDeleter {
    void operator()(pa_stream* s) const;
  };

  // Runs the mainloop on the calling thread until `done` or ~5 s passed.
  template <class TDone>
  bool IterateUntil(TDone done);
  void LogError(int paError);

  static void OnStreamState(pa_stream* s, void* self);
  static void OnStreamRead(pa_stream* s, size_t nbytes, void* self);
  // The mainloop thread: dispatches events and runs Tick about every 10 ms.
  void Execute();
  void Tick();
  void ReadAvailable();
  // Passes `n` bytes delivered at `now` (nullptr: silence) through the
  // retimer into the buffers.
  void Consume(const void* data, size_t n, int64_t now, int64_t latency);
  // Moves the retimed sound into the buffers, handing over each one that fills.
  void FillBuffers();
  // While the server is gone: silence up to `upTo`, so that the sound stays
  // in step with the picture.
  void FillSilence(int64_t upTo);
  // Capture time of the end of the sound retimed so far.
  int64_t ReceivedEnd() const;
  // Delivers the partly filled buffer, cut at `end`.
  void DeliverTail(int64_t end);
  // `size` bytes of the current buffer (all of it by default), whose first
  // sample was recorded at `firstTime`.
  void Deliver(int64_t firstTime, int size = -1);

  TCaptureContext& C_;
  TWaveFormat Format_;
  std::unique_ptr<pa_mainloop, TMainloopDeleter> Loop_;
  std::unique_ptr<pa_context, TContextDeleter> Context_;
  std::unique_ptr<pa_stream, TStreamDeleter> Stream_;
  std::vector<uint8_t> Buffers_[kBufferCount];
  int Current_ = 0;
  size_t Filled_ = 0;
  int64_t LastPts_ = INT64_MIN;
  std::unique_ptr<TSoundRetimer> Retimer_;  // the sound on the capture clock
  int64_t LastClockReport_ = 0;
  int HardStepsLogged_ = 0;

  // The server (or the stream) went away while recording: silence stands in.
  bool Lost_ = false;
  int64_t LostAt_ = 0;

  // Finish: asked by the reader, done on the mainloop thread.
  std::atomic<bool> FinishRequested_{false};
  std::atomic<int64_t> FinishAt_{0};
  int64_t FinishAsked_ = 0;  // when the mainloop thread saw the request
  bool FinishDone_ = false;  // guarded by FinishLock_ for the waiter
  std::mutex FinishLock_;
  std::condition_variable FinishChanged_;

  std::thread Thread_;
  std::atomic<bool> Running_{false};
  std::atomic<bool> Quit_{false};
};

}  // namespace vexa
