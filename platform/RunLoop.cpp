#include "platform/RunLoop.h"

#include <algorithm>
#include <cmath>
#include <future>

namespace platform {

namespace {

thread_local RunLoop* t_current = nullptr;

// Marks the calling thread as running a loop for the life of the object,
// restoring an outer loop (a call that runs another loop by hand) after.
class CurrentScope {
 public:
  explicit CurrentScope(RunLoop* loop) : outer_(t_current) { t_current = loop; }
  ~CurrentScope() { t_current = outer_; }
  CurrentScope(const CurrentScope&) = delete;
  CurrentScope& operator=(const CurrentScope&) = delete;

 private:
  RunLoop* outer_;
};

// Delays are kept within a span the clock's integer ticks can hold.
constexpr double kLongestDelay = 1e9;  // about 31 years
constexpr double kShortestInterval = 1e-4;

}  // namespace

RunLoop::RunLoop() = default;

RunLoop::~RunLoop() {
  // Drop what is left outside the lock: the captures' destructors may post
  // or log.
  std::deque<Call> posted;
  std::map<std::pair<Clock::time_point, TimerId>, Timer> timers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted.swap(posted_);
    timers.swap(timers_);
    dueById_.clear();
  }
}

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop;  // never destroyed: used until exit
  return *loop;
}

RunLoop* RunLoop::current() { return t_current; }

bool RunLoop::isCurrent() const { return t_current == this; }

void RunLoop::post(Call call) {
  std::shared_ptr<Call> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(call));
    hook = wakeHook_;
  }
  wake_.notify_one();
  if (hook) (*hook)();
}

void RunLoop::setWakeHook(Call hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeHook_ = hook ? std::make_shared<Call>(std::move(hook)) : nullptr;
}

double RunLoop::secondsUntilNextTimer() const {
  Clock::time_point due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timers_.empty()) return -1.0;
    due = timers_.begin()->first.first;
  }
  const double left = std::chrono::duration<double>(due - now()).count();
  return left > 0 ? left : 0.0;
}

bool RunLoop::postAndWait(Call call) {
  if (isCurrent()) {
    call();
    return true;
  }
  // The promise lives in the queued call only: when the loop drops the call
  // without running it, the promise breaks and the waiter learns it.
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  post([call = std::move(call), done = std::move(done)] {
    call();
    done->set_value();
  });
  try {
    finished.get();
    return true;
  } catch (const std::future_error&) {
    return false;
  }
}

RunLoop::TimerId RunLoop::addTimer(double delaySeconds, bool repeat, Call call) {
  double delay = std::isnan(delaySeconds) ? 0.0 : std::clamp(delaySeconds, 0.0, kLongestDelay);
  auto toTicks = [](double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  Timer timer;
  timer.due = now() + toTicks(delay);
  timer.interval = repeat ? toTicks(std::max(delay, kShortestInterval)) : Clock::duration::zero();
  timer.call = std::make_shared<Call>(std::move(call));
  TimerId id;
  std::shared_ptr<Call> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextId_++;
    dueById_[id] = timer.due;
    timers_.emplace(std::make_pair(timer.due, id), std::move(timer));
    hook = wakeHook_;
  }
  wake_.notify_one();
  if (hook) (*hook)();
  return id;
}

bool RunLoop::cancel(TimerId id) {
  Timer removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = dueById_.find(id);
    if (found == dueById_.end()) return false;
    auto timer = timers_.find(std::make_pair(found->second, id));
    if (timer != timers_.end()) {
      removed = std::move(timer->second);
      timers_.erase(timer);
    }
    dueById_.erase(found);
  }
  return true;  // the call is released here, outside the lock
}

void RunLoop::run() { serve(Clock::time_point::max()); }

void RunLoop::setTimeSourceForTesting(std::function<double()> seconds) {
  timeSource_ = std::move(seconds);
}

RunLoop::Clock::time_point RunLoop::now() const {
  if (!timeSource_) return Clock::now();
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeSource_())));
}

bool RunLoop::runFor(double seconds) {
  double span = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kLongestDelay);
  auto deadline = now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(span));
  return serve(deadline);
}

std::size_t RunLoop::runUntilIdle() {
  CurrentScope scope(this);
  std::set<TimerId> fired;
  std::size_t count = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (runOne(lock, now(), &fired)) count++;
  return count;
}

void RunLoop::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
}

bool RunLoop::serve(Clock::time_point deadline) {
  CurrentScope scope(this);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopRequested_) {
      stopRequested_ = false;
      return true;
    }
    Clock::time_point now = this->now();
    if (now >= deadline) return false;
    if (runOne(lock, now, nullptr)) continue;
    Clock::time_point until = deadline;
    if (!timers_.empty()) until = std::min(until, timers_.begin()->first.first);
    if (until == Clock::time_point::max()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, until);
    }
  }
}

bool RunLoop::runOne(std::unique_lock<std::mutex>& lock, Clock::time_point now,
                     std::set<TimerId>* skip) {
  if (!posted_.empty()) {
    Call call = std::move(posted_.front());
    posted_.pop_front();
    lock.unlock();
    call();
    call = nullptr;
    lock.lock();
    return true;
  }
  for (auto it = timers_.begin(); it != timers_.end() && it->first.first <= now; ++it) {
    TimerId id = it->first.second;
    if (skip && skip->count(id)) continue;
    Timer timer = std::move(it->second);
    timers_.erase(it);
    std::shared_ptr<Call> call = timer.call;
    if (timer.interval > Clock::duration::zero()) {
      // Reschedule before the call, so that the call can cancel it.
      Clock::time_point next = timer.due + timer.interval;
      if (next <= now) next = now + timer.interval;
      timer.due = next;
      dueById_[id] = next;
      timers_.emplace(std::make_pair(next, id), std::move(timer));
      if (skip) skip->insert(id);
    } else {
      dueById_.erase(id);
      timer.call.reset();
    }
    lock.unlock();
    (*call)();
    call.reset();
    lock.lock();
    return true;
  }
  return false;
}

}  // namespace platform
