#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"

namespace {

using platform::RunLoop;

// Generous bound for anything that should take milliseconds; only a broken
// loop ever reaches it.
constexpr double kSafety = 10.0;

TEST(RunLoop, PostedCallsRunInOrderWhenDrivenByHand) {
  RunLoop loop;
  std::vector<std::string> order;
  EXPECT_EQ(RunLoop::current(), nullptr);
  loop.post([&] {
    order.push_back("a");
    EXPECT_TRUE(loop.isCurrent());
    EXPECT_EQ(RunLoop::current(), &loop);
    loop.post([&] { order.push_back("c"); });  // posted meanwhile: runs too
  });
  loop.post([&] { order.push_back("b"); });
  EXPECT_TRUE(order.empty());  // nothing runs until the loop is served
  EXPECT_EQ(loop.runUntilIdle(), 3u);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(loop.runUntilIdle(), 0u);
  EXPECT_FALSE(loop.isCurrent());
  EXPECT_EQ(RunLoop::current(), nullptr);
}

TEST(RunLoop, TimersFireOnceInOrderOfDueTime) {
  RunLoop loop;
  std::vector<std::string> order;
  // Due times 10 ms apart: far more than a busy machine can take between
  // two of these calls (1 ms apart, a stall while adding could reorder them).
  loop.addTimer(0.03, false, [&] { order.push_back("third"); });
  loop.addTimer(0.01, false, [&] { order.push_back("first"); });
  loop.addTimer(0.02, false, [&] { order.push_back("second"); });
  loop.addTimer(0.04, false, [&] { loop.stop(); });
  EXPECT_TRUE(loop.runFor(kSafety));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(loop.runUntilIdle(), 0u);  // one-shot timers are gone
}

TEST(RunLoop, CancelStopsTimers) {
  RunLoop loop;
  int cancelledCalls = 0, repeats = 0;
  RunLoop::TimerId never = loop.addTimer(0.001, false, [&] { cancelledCalls++; });
  EXPECT_TRUE(loop.cancel(never));
  EXPECT_FALSE(loop.cancel(never));
  EXPECT_FALSE(loop.cancel(0));

  RunLoop::TimerId repeating = 0;
  repeating = loop.addTimer(0.001, true, [&] {
    if (++repeats == 3) {
      EXPECT_TRUE(loop.cancel(repeating));  // from its own call
    }
  });
  // Well after the repeating timer would have fired again.
  loop.addTimer(0.03, false, [&] { loop.stop(); });
  EXPECT_TRUE(loop.runFor(kSafety));
  EXPECT_EQ(cancelledCalls, 0);
  EXPECT_EQ(repeats, 3);
  EXPECT_FALSE(loop.cancel(repeating));

  RunLoop::TimerId fired = loop.addTimer(0, false, [] {});
  EXPECT_EQ(loop.runUntilIdle(), 1u);
  EXPECT_FALSE(loop.cancel(fired));  // already made its only call
}

TEST(RunLoop, RunUntilIdleFiresARepeatingTimerOncePerUse) {
  RunLoop loop;
  int calls = 0;
  RunLoop::TimerId id = loop.addTimer(0, true, [&] { calls++; });
  EXPECT_EQ(loop.runUntilIdle(), 1u);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(loop.cancel(id));  // still scheduled
}

TEST(RunLoop, StopAndTimeOut) {
  RunLoop loop;
  EXPECT_FALSE(loop.runFor(0.002));  // nothing to do: the time runs out
  loop.stop();                       // before running: the next run returns at once
  EXPECT_TRUE(loop.runFor(kSafety));
  int ran = 0;
  loop.post([&] {
    ran++;
    loop.stop();
  });
  loop.post([&] { ran++; });  // after the stop: waits for the next run
  EXPECT_TRUE(loop.runFor(kSafety));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(loop.runUntilIdle(), 1u);
}

TEST(RunLoop, PostAndWaitAcrossThreads) {
  RunLoop loop;
  std::thread server([&] { loop.run(); });
  std::thread::id ranOn;
  int value = 0;
  EXPECT_TRUE(loop.postAndWait([&] {
    ranOn = std::this_thread::get_id();
    value = 42;
  }));
  EXPECT_EQ(value, 42);  // done when postAndWait returns
  EXPECT_EQ(ranOn, server.get_id());

  // From a call on the loop's own thread the call runs at once.
  bool innerRan = false, innerRanFirst = false;
  loop.postAndWait([&] {
    loop.postAndWait([&] { innerRan = true; });
    innerRanFirst = innerRan;
  });
  EXPECT_TRUE(innerRanFirst);

  // Many threads posting at once: nothing lost, each thread's order kept.
  constexpr int kThreads = 4, kCalls = 1000;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; t++) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kCalls; i++) loop.post([&, t, i] { seen[t].push_back(i); });
    });
  }
  for (std::thread& p : posters) p.join();
  loop.postAndWait([] {});
  for (int t = 0; t < kThreads; t++) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; i++) ASSERT_EQ(seen[t][i], i);
  }

  // A timer added from another thread wakes the waiting loop.
  std::atomic<bool> fired{false};
  loop.addTimer(0.001, false, [&] { fired = true; loop.stop(); });
  server.join();
  EXPECT_TRUE(fired);
}

TEST(RunLoop, MainLoopIsOneObject) { EXPECT_EQ(&RunLoop::main(), &RunLoop::main()); }

}  // namespace

TEST(RunLoop, TheWakeHookHearsPostsAndNewTimers) {
  RunLoop loop;
  double now = 100.0;
  loop.setTimeSourceForTesting([&] { return now; });
  std::atomic<int> wakes{0};
  loop.setWakeHook([&] { wakes++; });
  EXPECT_LT(loop.secondsUntilNextTimer(), 0);  // no timer
  loop.post([] {});
  std::thread other([&] { loop.post([] {}); });
  other.join();
  loop.addTimer(2.5, false, [] {});
  EXPECT_EQ(wakes, 3);
  EXPECT_DOUBLE_EQ(loop.secondsUntilNextTimer(), 2.5);
  now += 3;
  EXPECT_EQ(loop.secondsUntilNextTimer(), 0);  // overdue
  loop.setWakeHook(nullptr);
  loop.post([] {});
  EXPECT_EQ(wakes, 3);
  EXPECT_EQ(loop.runUntilIdle(), 4u);
}
