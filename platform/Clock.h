// Absolute time for the whole program, and a steady clock for intervals.
//
// Clock::now() answers the wall-clock time in seconds since 1970-01-01 UTC,
// with sub-millisecond resolution. It is what time stamps (log lines, saved
// file names, statistics) are made of. A test that needs a known time puts
// its own source in place for a scope (Clock::Override) and gets the system
// clock back when the scope ends.
//
// Clock::monotonic() answers seconds on a clock that never jumps (changes of
// the wall clock do not move it); intervals that are counted (time spent in
// the application) are measured on it. Its origin is arbitrary. Tests put a
// source of their own in place the same way (Clock::MonotonicOverride).
//
// Threads: now() may be called from any thread, the audio thread included
// (it takes no lock unless a test source is installed). Installing or
// removing a source is meant for tests and is safe from any thread.
#ifndef PLATFORM_CLOCK_H
#define PLATFORM_CLOCK_H

#include <functional>

namespace platform {

class Clock {
 public:
  using Source = std::function<double()>;

  // Seconds since 1970-01-01 00:00:00 UTC.
  static double now();

  // The system clock, whatever source is installed.
  static double systemNow();

  // Installs a source that now() answers from; an empty source puts the
  // system clock back. Answers the source that was installed (empty for the
  // system clock).
  static Source setSource(Source source);

  // Seconds on the steady clock (arbitrary origin).
  static double monotonic();
  // Installs a source that monotonic() answers from (empty: the steady
  // clock again); answers the one installed before.
  static Source setMonotonicSource(Source source);

  // Installs a source for the life of the object, then puts back the one
  // before (overrides nest).
  class Override {
   public:
    explicit Override(Source source) : previous_(setSource(std::move(source))) {}
    // A clock that stands still at the given time.
    explicit Override(double fixedTime) : Override([fixedTime] { return fixedTime; }) {}
    ~Override() { setSource(std::move(previous_)); }
    Override(const Override&) = delete;
    Override& operator=(const Override&) = delete;

   private:
    Source previous_;
  };

  // The same for the steady clock.
  class MonotonicOverride {
   public:
    explicit MonotonicOverride(Source source) : previous_(setMonotonicSource(std::move(source))) {}
    ~MonotonicOverride() { setMonotonicSource(std::move(previous_)); }
    MonotonicOverride(const MonotonicOverride&) = delete;
    MonotonicOverride& operator=(const MonotonicOverride&) = delete;

   private:
    Source previous_;
  };
};

}  // namespace platform

#endif
