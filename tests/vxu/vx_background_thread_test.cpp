#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXLog.h"

namespace {

constexpr auto kSafety = std::chrono::seconds(10);

TEST(VXBackgroundThread, DelayedCallRunsOnceOnTheWorkerThread) {
  VXBackgroundThread background;
  std::atomic<int> calls{0};
  std::promise<std::thread::id> ranOn;
  background.performSelectorInBackgroundWithDelay(
      [&] {
        EXPECT_TRUE(background.isBackgroundThread());
        if (calls++ == 0) ranOn.set_value(std::this_thread::get_id());
      },
      0.001);
  std::future<std::thread::id> ran = ranOn.get_future();
  ASSERT_EQ(ran.wait_for(kSafety), std::future_status::ready);
  EXPECT_NE(ran.get(), std::this_thread::get_id());
  EXPECT_FALSE(background.isBackgroundThread());

  // A second delayed call, long after the first: still one call of the first.
  std::promise<void> later;
  background.performSelectorInBackgroundWithDelay([&] { later.set_value(); }, 0.02);
  ASSERT_EQ(later.get_future().wait_for(kSafety), std::future_status::ready);
  EXPECT_EQ(calls, 1);

  // A delayed call that is cancelled never runs.
  std::atomic<bool> cancelledRan{false};
  auto id = background.performSelectorInBackgroundWithDelay([&] { cancelledRan = true; }, 60);
  EXPECT_TRUE(background.cancelTimer(id));
  EXPECT_FALSE(background.cancelTimer(id));
}

TEST(VXBackgroundThread, CallsRunInOrderAndWaitingWaits) {
  VXBackgroundThread background;
  std::vector<int> order;  // touched on the worker thread only until the wait
  for (int i = 0; i < 50; i++) background.performSelectorInBackground([&order, i] { order.push_back(i); });
  bool nestedRan = false;
  background.performSelectorInBackground(
      [&] {
        order.push_back(50);
        // From the worker itself a waiting call runs at once.
        background.performSelectorInBackground([&] { nestedRan = true; }, true);
      },
      true);
  EXPECT_TRUE(nestedRan);
  ASSERT_EQ(order.size(), 51u);
  for (int i = 0; i <= 50; i++) EXPECT_EQ(order[i], i);
}

TEST(VXBackgroundThread, RepeatingTimerUntilCancelled) {
  VXBackgroundThread background;
  std::atomic<int> ticks{0};
  std::promise<void> third;
  VXBackgroundThread::TimerId id = 0;
  std::atomic<bool> idReady{false};
  background.performSelectorInBackground(
      [&] {
        id = background.addTimer(0.001, true, [&] {
          if (++ticks == 3) {
            EXPECT_TRUE(background.cancelTimer(id));
            third.set_value();
          }
        });
        idReady = true;
      },
      true);
  ASSERT_TRUE(idReady);
  ASSERT_EQ(third.get_future().wait_for(kSafety), std::future_status::ready);
  std::promise<void> later;
  background.performSelectorInBackgroundWithDelay([&] { later.set_value(); }, 0.02);
  ASSERT_EQ(later.get_future().wait_for(kSafety), std::future_status::ready);
  EXPECT_EQ(ticks, 3);
}

TEST(VXBackgroundThread, AnnouncesItsStartAndEndInTheLog) {
  VXLog& log = VXLog::sharedVXLog();
  auto count = [&](const std::string& message) {
    log.flushLog();
    std::vector<std::string> messages = logtest::messagesOf(log.logEntries());
    return std::count(messages.begin(), messages.end(), message);
  };
  auto entering = count("entering background thread");
  auto exiting = count("exiting background thread");
  {
    VXBackgroundThread background;
    background.setPriority(0.0f);  // best effort, as the application asks of the shared one
    background.performSelectorInBackground([] {}, true);
    EXPECT_EQ(count("entering background thread"), entering + 1);
  }
  EXPECT_EQ(count("exiting background thread"), exiting + 1);
}

TEST(VXBackgroundThread, SharedInstance) {
  VXBackgroundThread& shared = VXBackgroundThread::sharedBackgroundThread();
  EXPECT_EQ(&shared, &VXBackgroundThread::sharedBackgroundThread());
  bool onWorker = false;
  shared.performSelectorInBackground([&] { onWorker = shared.isBackgroundThread(); }, true);
  EXPECT_TRUE(onWorker);
}

}  // namespace
