// The engine's queue of calls that must run on the main thread.
//
// The main thread is the thread that initialised the process (the one that runs
// main()). Any thread may hand a call to it; the main thread runs queued calls
// whenever it calls CheckSynchronize. A program with an event loop installs a
// wake hook so that its loop calls CheckSynchronize soon after a call is queued;
// a main thread that waits for a worker services the queue while it waits.
#pragma once

#include <functional>

namespace vexa {

using TMainThreadCall = std::function<void()>;

// True on the main thread.
bool IsMainThread();

// Makes the calling thread the main thread (for programs whose main thread is
// not the one that ran static initialisation; call before any worker starts).
void SetMainThread();

// Runs `call` on the main thread and returns when it has run. On the main
// thread the call runs at once. An exception thrown by the call is rethrown in
// the calling thread.
void Synchronize(const TMainThreadCall& call);

// Queues `call` for the main thread and returns at once. An exception thrown
// by the call is dropped.
void Queue(TMainThreadCall call);

// Main thread only: runs every call queued so far, in the order queued (calls
// queued while these run wait for the next CheckSynchronize). When the queue
// is empty, waits up to `timeoutMs` milliseconds for a call to arrive. Returns
// true when at least one call ran. On another thread: does nothing, false.
bool CheckSynchronize(int timeoutMs = 0);

// Installs the hook called (on the queuing thread) each time a call is queued,
// so that an event loop can wake up and call CheckSynchronize. Empty removes it.
// An exception thrown by the hook is ignored; the call stays queued.
void SetWakeMainThreadHook(TMainThreadCall hook);

}  // namespace vexa
