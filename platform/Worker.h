// A background thread with a run loop of its own.
//
// A Worker starts its thread when it is constructed and serves its RunLoop
// there until it is destroyed. Other threads hand it calls (perform, at once
// or after a delay) and timers; the calls run on the worker's thread one at
// a time, in the order described in RunLoop.h.
//
// Optional hooks run on the worker's thread: onStart before the first call is
// served, onExit after the loop has stopped. The destructor stops the loop
// after the call in progress, waits for the thread and drops calls and timers
// that have not run (a waiting perform() then returns false).
//
// Threads: every member may be called from any thread, the worker's own
// included (perform with waitUntilDone then runs the call at once). The
// destructor must not race with other members, and must not run on the
// worker's own thread (it cannot wait for itself).
#ifndef PLATFORM_WORKER_H
#define PLATFORM_WORKER_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/RunLoop.h"

namespace platform {

class Worker {
 public:
  using Call = RunLoop::Call;

  struct Hooks {
    std::function<void(Worker&)> onStart;
    std::function<void(Worker&)> onExit;
  };

  // name: the thread's name as tools show it (at most 15 bytes are kept).
  explicit Worker(std::string name = "worker", Hooks hooks = {});
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs call on the worker's thread; with waitUntilDone, returns when it
  // has run (true) or was dropped by the destructor (false).
  bool perform(Call call, bool waitUntilDone = false);
  // Runs call once on the worker's thread after the delay in seconds.
  RunLoop::TimerId performAfter(double seconds, Call call);
  // A timer on the worker's loop; see RunLoop::addTimer and cancel.
  RunLoop::TimerId addTimer(double delaySeconds, bool repeat, Call call);
  bool cancel(RunLoop::TimerId id);

  // Sets the thread's scheduling priority, 0 (lowest) to 1 (highest), 0.5
  // being the normal priority; values outside are clamped. Best effort: the
  // change is made on the worker's thread, and a system that refuses it
  // leaves the priority as it was.
  void setPriority(double priority);

  // Whether the calling thread is this worker's thread.
  bool isCurrent() const;

 private:
  void main(const std::string& name, const Hooks& hooks);

  RunLoop loop_;
  std::atomic<std::thread::id> threadId_{};  // set by the thread itself
  std::thread thread_;
};

// The nice value that a priority of 0..1 maps to: 0.5 and above is the
// normal 0, and 0 is the lowest (19); raising above normal is not attempted.
int niceForPriority(double priority);

}  // namespace platform

#endif
