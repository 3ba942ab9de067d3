// The thread that delivers one termination notice of the encoder component.
#pragma once

#include <atomic>
#include <exception>
#include <thread>

#include "Base/MainThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLog/FFLog.h"

namespace vexa {

// Delivers one termination notice: after every notice handed out before it,
// through the main thread when `Synchronise` is set.
class TCustomEncoder::TDoTerminateThread {
 public:
  TDoTerminateThread(TCustomEncoder* AOwner, TTerminateEvent AHandler, TTerminateInfo AInfo, uint64_t ASequence,
                     bool ASynchronise)
      : Owner_(AOwner),
        Handler_(std::move(AHandler)),
        Info_(std::move(AInfo)),
        Sequence_(ASequence),
        Synchronise_(ASynchronise),
        Thread_(&TDoTerminateThread::Execute, this) {}
  ~TDoTerminateThread() {
    if (Thread_.joinable()) Thread_.join();
  }
  bool Done() const { return Done_; }

 private:
  void Execute() {
    TCustomEncoder& owner = *Owner_;
    {
      std::unique_lock<std::mutex> lock(owner.DeliveryLock_);
      owner.DeliveryDone_.wait(lock, [&] { return owner.DoneDelivery_ == Sequence_; });
    }
    if (!owner.Destroying_ && Handler_) {
      try {
        if (Synchronise_ && SynchronizeEvents())
          Synchronize([this] {
            // The component may have begun its destruction meanwhile.
            if (!Owner_->Destroying_) Handler_(Owner_, Info_);
          });
        else
          Handler_(Owner_, Info_);
      } catch (const std::exception& e) {
        Log(Owner_, llError, std::string("OnTerminate: ") + e.what());
      } catch (...) {
        Log(Owner_, llError, "OnTerminate: unknown exception");
      }
    }
    {
      std::lock_guard<std::mutex> guard(owner.DeliveryLock_);
      owner.DoneDelivery_ = Sequence_ + 1;
    }
    owner.DeliveryDone_.notify_all();
    Done_ = true;
  }

  TCustomEncoder* Owner_;
  TTerminateEvent Handler_;
  TTerminateInfo Info_;
  uint64_t Sequence_;
  bool Synchronise_;
  std::atomic<bool> Done_{false};
  std::thread Thread_;  // last: starts once everything above is set
};

}  // namespace vexa
