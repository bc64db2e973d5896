#include "platform/Worker.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace platform {

int niceForPriority(double priority) {
  if (std::isnan(priority)) priority = 0.5;
  priority = std::clamp(priority, 0.0, 1.0);
  if (priority >= 0.5) return 0;
  return static_cast<int>(std::lround((0.5 - priority) * 2.0 * 19.0));
}

Worker::Worker(std::string name, Hooks hooks)
    : thread_([this, name = std::move(name), hooks = std::move(hooks)] { main(name, hooks); }) {}

Worker::~Worker() {
  loop_.stop();
  thread_.join();
}

void Worker::main(const std::string& name, const Hooks& hooks) {
  threadId_.store(std::this_thread::get_id());
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
  if (hooks.onStart) hooks.onStart(*this);
  loop_.run();
  if (hooks.onExit) hooks.onExit(*this);
}

bool Worker::perform(Call call, bool waitUntilDone) {
  if (!waitUntilDone) {
    loop_.post(std::move(call));
    return true;
  }
  // On the worker's thread (even inside onStart, before the loop runs) the
  // call runs at once: waiting for ourselves would never end.
  if (isCurrent()) {
    call();
    return true;
  }
  return loop_.postAndWait(std::move(call));
}

RunLoop::TimerId Worker::performAfter(double seconds, Call call) {
  return loop_.addTimer(seconds, false, std::move(call));
}

RunLoop::TimerId Worker::addTimer(double delaySeconds, bool repeat, Call call) {
  return loop_.addTimer(delaySeconds, repeat, std::move(call));
}

bool Worker::cancel(RunLoop::TimerId id) { return loop_.cancel(id); }

void Worker::setPriority(double priority) {
  int nice = niceForPriority(priority);
  loop_.post([nice] {
    // Linux keeps a nice value per thread; a refusal is not an error here.
    auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, nice);
  });
}

bool Worker::isCurrent() const { return threadId_.load() == std::this_thread::get_id(); }

}  // namespace platform
