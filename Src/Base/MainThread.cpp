#include "Base/MainThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace vexa {
namespace {

struct TPendingCall {
  TMainThreadCall Call;
  bool Done = false;
  std::exception_ptr Error;
};

struct TMainThreadQueue {
  std::mutex Lock;
  std::condition_variable Arrived;   // a call was queued
  std::condition_variable Finished;  // a waited-for call has run
  std::deque<std::shared_ptr<TPendingCall>> Calls;
  TMainThreadCall WakeHook;
  std::thread::id MainId = std::this_thread::get_id();
};

// Built during static initialisation, on the main thread, and never freed:
// worker threads may still queue calls while the process exits.
TMainThreadQueue& MainQueue() {
  static TMainThreadQueue* const queue = new TMainThreadQueue;
  return *queue;
}

// Forces construction at start-up so that MainId is the initialising thread.
const bool QueueBuiltAtStart = (MainQueue(), true);

void Enqueue(const std::shared_ptr<TPendingCall>& pending) {
  TMainThreadQueue& q = MainQueue();
  TMainThreadCall wake;
  {
    std::lock_guard<std::mutex> guard(q.Lock);
    q.Calls.push_back(pending);
    wake = q.WakeHook;
  }
  q.Arrived.notify_all();
  if (!wake) return;
  // The call is queued already: a failing hook must not make the caller
  // believe otherwise (Synchronize would leave a call behind that refers to
  // its caller's stack). The main thread still finds the call when it next
  // services the queue.
  try {
    wake();
  } catch (...) {
  }
}

}  // namespace

bool IsMainThread() {
  (void)QueueBuiltAtStart;
  TMainThreadQueue& q = MainQueue();
  std::lock_guard<std::mutex> guard(q.Lock);
  return std::this_thread::get_id() == q.MainId;
}

void SetMainThread() {
  TMainThreadQueue& q = MainQueue();
  std::lock_guard<std::mutex> guard(q.Lock);
  q.MainId = std::this_thread::get_id();
}

void Synchronize(const TMainThreadCall& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  auto pending = std::make_shared<TPendingCall>();
  pending->Call = call;
  Enqueue(pending);
  TMainThreadQueue& q = MainQueue();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Finished.wait(lock, [&] { return pending->Done; });
    // Taken out under the lock, so that the exception is owned by this thread
    // alone when the main thread later drops its share of the record.
    error = std::move(pending->Error);
  }
  if (error) std::rethrow_exception(error);
}

void Queue(TMainThreadCall call) {
  auto pending = std::make_shared<TPendingCall>();
  pending->Call = std::move(call);
  Enqueue(pending);
}

bool CheckSynchronize(int timeoutMs) {
  TMainThreadQueue& q = MainQueue();
  std::deque<std::shared_ptr<TPendingCall>> batch;
  {
    std::unique_lock<std::mutex> lock(q.Lock);
    if (std::this_thread::get_id() != q.MainId) return false;
    if (q.Calls.empty() && timeoutMs > 0)
      q.Arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.Calls.empty(); });
    batch.swap(q.Calls);
  }
  for (auto& pending : batch) {
    try {
      pending->Call();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    // What the call captured goes while its caller still waits.
    pending->Call = nullptr;
    {
      std::lock_guard<std::mutex> guard(q.Lock);
      pending->Done = true;
    }
    q.Finished.notify_all();
  }
  return !batch.empty();
}

void SetWakeMainThreadHook(TMainThreadCall hook) {
  TMainThreadQueue& q = MainQueue();
  std::lock_guard<std::mutex> guard(q.Lock);
  q.WakeHook = std::move(hook);
}

}  // namespace vexa
