// The sound side of a capture input: one PulseAudio record stream in exactly
// the requested sample format, its data gathered into four rotating buffers;
// each full buffer becomes one PCM packet in the input's queue, stamped with
// the capture time of its first sample. On the way the sound is resampled
// onto the capture clock (TSoundRetimer), so that its frame count keeps pace
// with the pictures however the source's own clock runs.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
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
  void ReadAvailable();
  // Moves the retimed sound into the buffers and delivers every full one.
  void FillBuffers();
  // The full current buffer, whose first sample was recorded at `firstTime`.
  void Deliver(int64_t firstTime);

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

  std::thread Thread_;
  std::atomic<bool> Running_{false};
  std::atomic<bool> Quit_{false};
};

}  // namespace vexa
