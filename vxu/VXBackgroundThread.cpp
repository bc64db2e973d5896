#include "vxu/VXBackgroundThread.h"

#include <utility>

#include "vxu/VXLog.h"

namespace {

constexpr double kKeepAliveSeconds = 3600.0;

platform::Worker::Hooks announcingHooks() {
  platform::Worker::Hooks hooks;
  hooks.onStart = [](platform::Worker& worker) {
    VXLog::sharedVXLog().log("entering background thread");
    // An idle timer, so that the loop always has a source of its own.
    worker.addTimer(kKeepAliveSeconds, true, [] {});
  };
  hooks.onExit = [](platform::Worker&) { VXLog::sharedVXLog().log("exiting background thread"); };
  return hooks;
}

}  // namespace

VXBackgroundThread::VXBackgroundThread(std::string name)
    : thread_(std::move(name), announcingHooks()) {}

VXBackgroundThread::~VXBackgroundThread() = default;

VXBackgroundThread& VXBackgroundThread::sharedBackgroundThread() {
  static VXBackgroundThread* shared = new VXBackgroundThread("VXShared");  // never destroyed
  return *shared;
}

void VXBackgroundThread::performSelectorInBackground(Call call) {
  thread_.perform(std::move(call), false);
}

void VXBackgroundThread::performSelectorInBackground(Call call, bool waitUntilDone) {
  thread_.perform(std::move(call), waitUntilDone);
}

VXBackgroundThread::TimerId VXBackgroundThread::performSelectorInBackgroundWithDelay(Call call,
                                                                                     double delay) {
  return thread_.performAfter(delay, std::move(call));
}

VXBackgroundThread::TimerId VXBackgroundThread::addTimer(double delay, bool repeats, Call call) {
  return thread_.addTimer(delay, repeats, std::move(call));
}

bool VXBackgroundThread::cancelTimer(TimerId id) { return thread_.cancel(id); }

void VXBackgroundThread::setPriority(float priority) { thread_.setPriority(priority); }

bool VXBackgroundThread::isBackgroundThread() const { return thread_.isCurrent(); }
