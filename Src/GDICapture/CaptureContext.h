// State of one open "gdicapture" input, shared by the reader (open / read /
// close), the screen grabber thread, the sound input and the region frame.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include "FFLog/FFLog.h"

namespace vexa {

class TScreenSource;
class TScreenThread;
class TWaveInput;
class TFrameForm;

struct TPacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

// Frees the pool once the last of its buffers came back.
struct TBufferPoolDeleter {
  void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
using TBufferPoolPtr = std::unique_ptr<AVBufferPool, TBufferPoolDeleter>;

// The packet queue: oldest first, guarded by its mutex, with a manual-reset
// event that producers set after appending and the reader resets when it
// takes a packet. BufferedBytes counts the payload of every queued packet.
class TPacketQueue {
 public:
  using TLock = std::unique_lock<std::mutex>;

  // The caller holds Lock() for these three.
  void Append(TPacketPtr packet, const TLock& held);
  TPacketPtr TakeOldest(const TLock& held);
  int64_t BufferedBytes(const TLock&) const { return BufferedBytes_; }

  TLock Lock() { return TLock(Mutex_); }
  // Waits up to `timeout` for the event; true when it is set.
  bool WaitEvent(TLock& held, std::chrono::milliseconds timeout);
  // Sets the event (wakes a waiting reader).
  void Signal();

  void Clear();
  std::size_t Count();

 private:
  std::mutex Mutex_;
  std::condition_variable Event_;
  bool Signalled_ = false;
  std::deque<TPacketPtr> Packets_;
  int64_t BufferedBytes_ = 0;
};

// Option storage: the private data of the format context. It begins with the
// AVClass pointer, as every private-option structure must.
struct TCaptureOptions {
  const AVClass* Class;
  char* video_size;
  char* framerate;
  char* capture_offset;
  int capture_flags;
  int sample_rate;
  int channels;
  char* sample_fmt;
  int wavebufsize;
  int64_t pause_pointer;  // address of the caller's pause integer
  class TCaptureContext* Context;  // owned; made by open, freed by close
};

enum TCaptureFlag : int { cfShowFrame = 1, cfClient = 2, cfCursor = 4 };

class TCaptureContext {
 public:
  TCaptureContext();
  ~TCaptureContext();
  TCaptureContext(const TCaptureContext&) = delete;
  TCaptureContext& operator=(const TCaptureContext&) = delete;

  // Logs one line on behalf of the format context; a trailing line feed of
  // the message is the line end.
  void Log(TLogLevel level, const char* fmt, ...) const __attribute__((format(printf, 3, 4)));

  // Paused when a pause address is set and the integer there is not 0.
  bool Paused() const;

  // Marks a producer's fatal failure: stopped, with the error code and what
  // happened in words. The first failure's code and text are kept. Wakes a
  // waiting reader; the caller must not hold the queue lock.
  void Fail(int errorCode, const std::string& why = std::string());
  std::string FailureText() const;

  // A payload buffer for one video packet (FrameBytes and the zeroed padding
  // the decoders may read), from a pool: a buffer comes back when the last
  // packet or frame that refers to it goes, so a recording reuses a few
  // buffers instead of allocating one per frame. Null when out of memory.
  // The grabber thread's.
  AVBufferRef* TakeFrameBuffer();

  AVFormatContext* FormatContext = nullptr;  // logging object and owner
  std::atomic<bool> Started{false};
  std::atomic<int64_t> StartTime{0};  // av_gettime of the first frame; 0 = not yet
  std::atomic<bool> Stopped{false};
  std::atomic<int> ErrorCode{0};
  // The producers have ended and handed over what they held (a stop or a
  // fatal failure); the reader drains the queue, then ends.
  std::atomic<bool> ProducersFinished{false};
  const int32_t* PauseFlag = nullptr;
  TPacketQueue Queue;

  // Video.
  bool VideoEnabled = false;
  int VideoStreamIndex = -1;
  unsigned long SourceWindow = 0;  // X window id; 0 = the whole screen
  AVRational FrameRate{0, 1};
  int64_t ScheduleCounter = 0;
  int OffsetX = 0, OffsetY = 0;
  std::atomic<bool> DrawCursor{false};
  int FrameBytes = 0;
  int Width = 0, Height = 0, BitsPerPixel = 0;
  bool ClientArea = false;
  int RequestedWidth = 0, RequestedHeight = 0;
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
  bool ShowFrame = false;
  int DropCounter = 0;
  TBufferPoolPtr FramePool;
  std::unique_ptr<TScreenSource> Screen;
  std::unique_ptr<TScreenThread> ScreenThread;
  std::unique_ptr<TFrameForm> FrameForm;

  // Sound.
  bool AudioEnabled = false;
  int AudioStreamIndex = -1;
  int WaveDevice = -1;  // -1 = the default source
  int SampleRate = 0, Channels = 0;
  int BitsPerSample = 16;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_S16;
  AVCodecID AudioCodec = AV_CODEC_ID_PCM_S16LE;
  int WaveBufSize = 0;
  std::unique_ptr<TWaveInput> Wave;

 private:
  mutable std::mutex FailureLock_;
  std::string FailureText_;
};

// Joins a thread of the input that clears `running` as it ends. On the main
// thread the main-thread call queue is served meanwhile, so a thread that
// waits for the main thread (a logger delivering there) can always finish.
void JoinCaptureThread(std::thread& thread, const std::atomic<bool>& running);

// Diagnostic counts of the X resources the capture inputs hold (images and
// shared-memory segments; windows), reported at the first read and at close.
std::atomic<int>& LiveCaptureImages();
std::atomic<int>& LiveCaptureWindows();

}  // namespace vexa
