// A worker thread with its own run loop, to which other code hands calls.
//
// One shared instance (sharedBackgroundThread) serves the web-service calls
// and the application's start-up tasks; components that must not wait behind
// those (the globe's downloads, the recording controller) own further
// instances. The thread logs "entering background thread" when it starts and
// "exiting background thread" when its loop ends (at destruction), and keeps
// an idle hourly timer on its loop.
//
// Calls run on the worker's thread one at a time, posted calls in the order
// they were posted; a delayed call runs once, after its delay, also on the
// worker's thread. Whatever a call captures is kept alive until it has run
// (or the thread is destroyed).
//
// Threads: every member may be called from any thread, the worker's own
// included (a call that waits then runs at once). An instance must not be
// destroyed on its own thread; the shared instance is never destroyed.
#ifndef VXU_VXBACKGROUNDTHREAD_H
#define VXU_VXBACKGROUNDTHREAD_H

#include <functional>
#include <string>

#include "platform/Worker.h"

class VXBackgroundThread {
 public:
  using Call = std::function<void()>;
  using TimerId = platform::RunLoop::TimerId;

  // Starts the thread; name is the thread's name as tools show it.
  explicit VXBackgroundThread(std::string name = "VXBackground");
  // Stops the loop after the call in progress and waits for the thread;
  // calls that have not run are dropped.
  ~VXBackgroundThread();
  VXBackgroundThread(const VXBackgroundThread&) = delete;
  VXBackgroundThread& operator=(const VXBackgroundThread&) = delete;

  // The process-wide instance, started on first use.
  static VXBackgroundThread& sharedBackgroundThread();

  // Runs call on the worker's thread; returns at once.
  void performSelectorInBackground(Call call);
  // The same, returning only after the call has run when waitUntilDone.
  void performSelectorInBackground(Call call, bool waitUntilDone);
  // Runs call once on the worker's thread after delay seconds.
  TimerId performSelectorInBackgroundWithDelay(Call call, double delay);

  // A timer on the worker's loop: call after delay seconds, and every delay
  // seconds after that when repeats.
  TimerId addTimer(double delay, bool repeats, Call call);
  // Stops a timer or a delayed call that has not run; false when there was
  // none.
  bool cancelTimer(TimerId id);

  // Sets the worker thread's priority, 0 (lowest) to 1 (highest); best
  // effort (see platform::Worker::setPriority).
  void setPriority(float priority);

  // Whether the calling thread is this instance's worker thread.
  bool isBackgroundThread() const;

 private:
  platform::Worker thread_;
};

#endif
