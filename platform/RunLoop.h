// A run loop: a queue of posted calls and a set of timers, served by whichever
// thread runs the loop.
//
// Any thread may post a call (post, postAndWait) or add and cancel timers; the
// thread that runs the loop (run, runFor, runUntilIdle) makes the calls, one
// at a time: posted calls in the order they were posted, then each timer when
// it is due, earliest first. A loop is normally run by one thread for its
// whole life (a Worker's thread, or the main thread for RunLoop::main()); a
// test may instead drive a loop by hand with runUntilIdle() or runFor().
//
// Calls must not throw. A call may post further calls, add or cancel timers
// and stop the loop; cancelling a timer from inside its own call ends a
// repeating timer. Calls still queued when the loop is destroyed are dropped
// without running.
//
// Timers measure time on the monotonic clock, so changes of the wall clock
// (or a test's Clock source) do not move them. A test may give one loop a
// time source of its own (setTimeSourceForTesting) and drive it with
// runUntilIdle(): its timers then fall due as that source says.
#ifndef PLATFORM_RUNLOOP_H
#define PLATFORM_RUNLOOP_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

namespace platform {

class RunLoop {
 public:
  using Call = std::function<void()>;
  using TimerId = std::uint64_t;  // never 0

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The main thread's loop (created on first use, never destroyed).
  static RunLoop& main();
  // The loop the calling thread is running now, or null.
  static RunLoop* current();
  // Whether the calling thread is running this loop now.
  bool isCurrent() const;

  // Queues a call; returns at once.
  void post(Call call);
  // Queues a call and waits until it has run. On the thread that runs this
  // loop it runs the call at once instead (waiting would never end). False
  // when the loop was destroyed before the call could run.
  bool postAndWait(Call call);

  // Calls call after delaySeconds (negative counts as 0), and then every
  // delaySeconds when repeat is set (at least every 0.1 ms). A repeating
  // timer that falls behind skips the calls it missed.
  TimerId addTimer(double delaySeconds, bool repeat, Call call);
  // Stops a timer; false when it has already fired its last call or was
  // never there. A call already running on the loop's thread is not waited
  // for.
  bool cancel(TimerId id);

  // Serves calls and timers until stop() is called.
  void run();
  // Serves calls and timers for at most the given time: true when stop()
  // ended it, false when the time ran out.
  bool runFor(double seconds);
  // Makes every posted call and every timer that is due, until nothing is
  // ready (calls posted meanwhile are made too); never waits. A repeating
  // timer fires at most once per use. Answers the number of calls made.
  std::size_t runUntilIdle();
  // Makes the run() or runFor() in progress return after its current call;
  // when none is in progress, the next one returns at once.
  void stop();

  // Called (on the posting thread, outside the loop's lock) after every
  // post and new timer: a thread that waits on something else as well (the
  // UI host waits on window events) wakes up to serve the loop. Empty: none.
  void setWakeHook(Call hook);
  // Seconds until the earliest timer is due (0 when overdue), or a negative
  // number when there is none.
  double secondsUntilNextTimer() const;

  // Tests only, before the loop is used: the loop's time in seconds (any
  // origin) comes from source instead of the steady clock.
  void setTimeSourceForTesting(std::function<double()> source);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    Clock::time_point due;
    Clock::duration interval;  // zero for a one-shot timer
    std::shared_ptr<Call> call;
  };

  Clock::time_point now() const;
  // Runs until stop() or the deadline; see runFor.
  bool serve(Clock::time_point deadline);
  // Makes one ready call (posted first, then the earliest due timer up to
  // `now`), entered and left with the lock held. skip holds repeating timers
  // that must not fire again; fired ones are added to it when not null.
  bool runOne(std::unique_lock<std::mutex>& lock, Clock::time_point now, std::set<TimerId>* skip);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Call> posted_;
  std::map<std::pair<Clock::time_point, TimerId>, Timer> timers_;  // by due time
  std::unordered_map<TimerId, Clock::time_point> dueById_;
  TimerId nextId_ = 1;
  bool stopRequested_ = false;
  std::function<double()> timeSource_;
  std::shared_ptr<Call> wakeHook_;
};

}  // namespace platform

#endif
