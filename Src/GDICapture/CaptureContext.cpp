#include "GDICapture/CaptureContext.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "Base/MainThread.h"
#include "GDICapture/FrameForm.h"
#include "GDICapture/ScreenSource.h"
#include "GDICapture/ScreenThread.h"
#include "GDICapture/WaveInput.h"

namespace vexa {

void TPacketQueue::Append(TPacketPtr packet, const TLock&) {
  BufferedBytes_ += packet->size;
  Packets_.push_back(std::move(packet));
  Signalled_ = true;
  Event_.notify_all();
}

TPacketPtr TPacketQueue::TakeOldest(const TLock&) {
  TPacketPtr packet;
  if (!Packets_.empty()) {
    packet = std::move(Packets_.front());
    Packets_.pop_front();
    BufferedBytes_ -= packet->size;
  }
  Signalled_ = false;
  return packet;
}

bool TPacketQueue::WaitEvent(TLock& held, std::chrono::milliseconds timeout) {
  return Event_.wait_for(held, timeout, [this] { return Signalled_; });
}

void TPacketQueue::Signal() {
  TLock guard(Mutex_);
  Signalled_ = true;
  Event_.notify_all();
}

void TPacketQueue::Clear() {
  std::deque<TPacketPtr> packets;
  {
    TLock guard(Mutex_);
    packets.swap(Packets_);
    BufferedBytes_ = 0;
    Signalled_ = false;
  }
}

std::size_t TPacketQueue::Count() {
  TLock guard(Mutex_);
  return Packets_.size();
}

TCaptureContext::TCaptureContext() = default;
TCaptureContext::~TCaptureContext() = default;

void TCaptureContext::Log(TLogLevel level, const char* fmt, ...) const {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, args);
  va_end(args);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  vexa::Log(FormatContext, level, text);
}

bool TCaptureContext::Paused() const {
  return PauseFlag && __atomic_load_n(PauseFlag, __ATOMIC_RELAXED) != 0;
}

void TCaptureContext::Fail(int errorCode, const std::string& why) {
  {
    std::lock_guard<std::mutex> guard(FailureLock_);
    int none = 0;
    if (ErrorCode.compare_exchange_strong(none, errorCode)) FailureText_ = why;
  }
  Stopped.store(true);
  Queue.Signal();
}

std::string TCaptureContext::FailureText() const {
  std::lock_guard<std::mutex> guard(FailureLock_);
  return FailureText_;
}

AVBufferRef* TCaptureContext::TakeFrameBuffer() {
  if (!FramePool) {
    if (FrameBytes <= 0 || FrameBytes > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return nullptr;
    FramePool.reset(av_buffer_pool_init(static_cast<size_t>(FrameBytes) + AV_INPUT_BUFFER_PADDING_SIZE,
                                        av_buffer_allocz));
    if (!FramePool) return nullptr;
  }
  return av_buffer_pool_get(FramePool.get());
}

void JoinCaptureThread(std::thread& thread, const std::atomic<bool>& running) {
  if (!thread.joinable()) return;
  if (IsMainThread()) {
    while (running.load()) CheckSynchronize(10);
  }
  thread.join();
}

std::atomic<int>& LiveCaptureImages() {
  static std::atomic<int> count{0};
  return count;
}

std::atomic<int>& LiveCaptureWindows() {
  static std::atomic<int> count{0};
  return count;
}

}  // namespace vexa
