#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/Worker.h"

namespace {

using platform::Worker;

constexpr auto kSafety = std::chrono::seconds(10);

TEST(Worker, PerformRunsOnTheWorkerThreadInOrder) {
  Worker worker("test-worker");
  EXPECT_FALSE(worker.isCurrent());
  std::vector<int> order;
  std::thread::id ranOn;
  for (int i = 0; i < 100; i++) worker.perform([&, i] { order.push_back(i); });
  EXPECT_TRUE(worker.perform(
      [&] {
        ranOn = std::this_thread::get_id();
        EXPECT_TRUE(worker.isCurrent());
        // Waiting for itself would never end: the call runs at once.
        bool inner = false;
        EXPECT_TRUE(worker.perform([&] { inner = true; }, true));
        EXPECT_TRUE(inner);
      },
      true));
  EXPECT_NE(ranOn, std::this_thread::get_id());
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; i++) EXPECT_EQ(order[i], i);
}

TEST(Worker, PerformAfterRunsOnceOnTheWorkerThread) {
  Worker worker;
  std::promise<std::thread::id> ranOn;
  std::atomic<int> calls{0};
  worker.performAfter(0.001, [&] {
    if (calls++ == 0) ranOn.set_value(std::this_thread::get_id());
  });
  std::future<std::thread::id> ran = ranOn.get_future();
  ASSERT_EQ(ran.wait_for(kSafety), std::future_status::ready);
  EXPECT_NE(ran.get(), std::this_thread::get_id());
  // A later delayed call: by then a repeating call would have come again.
  std::promise<void> later;
  worker.performAfter(0.02, [&] { later.set_value(); });
  ASSERT_EQ(later.get_future().wait_for(kSafety), std::future_status::ready);
  EXPECT_EQ(calls, 1);

  std::atomic<bool> cancelledRan{false};
  auto id = worker.performAfter(60, [&] { cancelledRan = true; });
  EXPECT_TRUE(worker.cancel(id));
  EXPECT_FALSE(cancelledRan);
}

TEST(Worker, HooksRunOnTheThreadAroundTheLoop) {
  std::vector<std::string> events;  // written on the worker thread only
  std::thread::id startedOn, exitedOn;
  {
    Worker::Hooks hooks;
    hooks.onStart = [&](Worker& w) {
      startedOn = std::this_thread::get_id();
      EXPECT_TRUE(w.isCurrent());
      events.push_back("start");
    };
    hooks.onExit = [&](Worker&) {
      exitedOn = std::this_thread::get_id();
      events.push_back("exit");
    };
    Worker worker("hooked", hooks);
    worker.perform([&] { events.push_back("call"); }, true);
    // A timer far away does not hold up destruction.
    worker.addTimer(3600, true, [] {});
  }
  EXPECT_EQ(events, (std::vector<std::string>{"start", "call", "exit"}));
  EXPECT_EQ(startedOn, exitedOn);
  EXPECT_NE(startedOn, std::this_thread::get_id());
}

TEST(Worker, PriorityMapsToNiceAndNeverFails) {
  EXPECT_EQ(platform::niceForPriority(0.0), 19);
  EXPECT_EQ(platform::niceForPriority(0.25), 10);
  EXPECT_EQ(platform::niceForPriority(0.5), 0);
  EXPECT_EQ(platform::niceForPriority(1.0), 0);
  EXPECT_EQ(platform::niceForPriority(-3.0), 19);
  EXPECT_EQ(platform::niceForPriority(std::nan("")), 0);

  auto ownNice = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); };
  int callerNice = ownNice();
  Worker worker;
  worker.setPriority(0.25);
  int nice = -100;
  worker.perform(
      [&] {
        nice = ownNice();
      },
      true);
  EXPECT_EQ(nice, std::max(10, callerNice));  // lowering a priority is always allowed
  EXPECT_EQ(ownNice(), callerNice);            // only the worker's thread changed
  worker.setPriority(1.0);  // may be refused; the worker goes on
  EXPECT_TRUE(worker.perform([] {}, true));
}

}  // namespace
