// Signals that ask a program to end, taken as events.
//
// A SignalWatcher blocks its signals (by default SIGINT, SIGTERM and SIGHUP:
// Ctrl-C, a kill, the terminal closing) in the thread that makes it and reads
// them from a signalfd on a thread of its own, which hands each one to the
// callback (there the program posts its quit to the main loop). No work is
// done in a signal handler; there is none. Make it first thing in main,
// before any other thread starts: threads inherit the block, so a signal
// never lands on a thread that would take its default action (ending the
// process on the spot, without the program's termination steps).
//
// The destructor stops the thread and puts back the creating thread's
// signal mask.
//
// Threads: made and destroyed on one thread; the callback runs on the
// watcher's thread.
#ifndef PLATFORM_SIGNALWATCHER_H
#define PLATFORM_SIGNALWATCHER_H

#include <signal.h>

#include <functional>
#include <initializer_list>
#include <thread>

namespace platform {

class SignalWatcher {
 public:
  using Callback = std::function<void(int signal)>;

  explicit SignalWatcher(Callback callback,
                         std::initializer_list<int> signals = {SIGINT, SIGTERM, SIGHUP});
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Whether the signals are watched (false when the signalfd could not be
  // made; they are then left as they were).
  bool watching() const { return signalFd_ >= 0; }

 private:
  void run();

  Callback callback_;
  sigset_t signals_;
  sigset_t previousMask_;
  int signalFd_ = -1;
  int stopFd_ = -1;  // an eventfd that ends the thread's wait
  std::thread thread_;
};

}  // namespace platform

#endif
