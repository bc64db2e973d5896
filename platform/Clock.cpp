#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// The fast path reads only the flag; the source itself is shared so that a
// caller keeps it alive while it runs even if a test swaps it meanwhile.
std::atomic<bool> g_overridden{false};
std::mutex g_sourceMutex;
std::shared_ptr<const Clock::Source> g_source;

std::atomic<bool> g_monotonicOverridden{false};
std::shared_ptr<const Clock::Source> g_monotonicSource;  // under g_sourceMutex

double steadyNow() {
  using namespace std::chrono;
  return duration_cast<duration<double>>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

double Clock::systemNow() {
  using namespace std::chrono;
  auto since = system_clock::now().time_since_epoch();
  return duration_cast<duration<double>>(since).count();
}

double Clock::now() {
  if (!g_overridden.load(std::memory_order_acquire)) return systemNow();
  std::shared_ptr<const Source> source;
  {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    source = g_source;
  }
  return source ? (*source)() : systemNow();
}

Clock::Source Clock::setSource(Source source) {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  Source previous = g_source ? *g_source : Source();
  if (source) {
    g_source = std::make_shared<const Source>(std::move(source));
  } else {
    g_source.reset();
  }
  g_overridden.store(g_source != nullptr, std::memory_order_release);
  return previous;
}

double Clock::monotonic() {
  if (!g_monotonicOverridden.load(std::memory_order_acquire)) return steadyNow();
  std::shared_ptr<const Source> source;
  {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    source = g_monotonicSource;
  }
  return source ? (*source)() : steadyNow();
}

Clock::Source Clock::setMonotonicSource(Source source) {
  std::lock_guard<std::mutex> lock(g_sourceMutex);
  Source previous = g_monotonicSource ? *g_monotonicSource : Source();
  if (source) {
    g_monotonicSource = std::make_shared<const Source>(std::move(source));
  } else {
    g_monotonicSource.reset();
  }
  g_monotonicOverridden.store(g_monotonicSource != nullptr, std::memory_order_release);
  return previous;
}

}  // namespace platform
