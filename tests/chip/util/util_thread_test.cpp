#include "chip/util/util_thread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(XThreadTest, DestroyingAnUnstartedThreadReturns) {
  // Nothing to cancel or join: joining the empty handle would crash or hang.
  { XThread t; }
  SUCCEED();
}

struct Counter {
  std::atomic<int> runs{0};
  void* seen_arg = nullptr;
};

void* count_run(void* arg) {
  Counter* c = static_cast<Counter*>(arg);
  c->seen_arg = arg;
  c->runs.fetch_add(1);
  c->runs.notify_all();
  return nullptr;
}

TEST(XThreadTest, StartRunsTheRoutineOnceWithItsArgument) {
  Counter c;
  {
    XThread t;
    EXPECT_EQ(TRUE, t.start(count_run, &c));
    c.runs.wait(0);  // until the routine has run
    EXPECT_EQ(FALSE, t.start(count_run, &c)) << "one thread per wrapper";
  }  // the routine has returned: destruction only joins it
  EXPECT_EQ(1, c.runs.load());
  EXPECT_EQ(&c, c.seen_arg);
}

// A routine that announces itself and then blocks forever in a cancellation
// point; the cleanup handler records that it was cancelled there.
struct Blocked {
  int fds[2] = {-1, -1};
  std::atomic<bool> entered{false};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> returned{false};
};

void mark_cancelled(void* arg) { static_cast<Blocked*>(arg)->cancelled.store(true); }

void announce(Blocked* b) {
  b->entered.store(true);
  b->entered.notify_all();
}

void* block_in_read(void* arg) {
  Blocked* b = static_cast<Blocked*>(arg);
  pthread_cleanup_push(mark_cancelled, b);
  announce(b);
  char byte;
  ssize_t n = read(b->fds[0], &byte, 1);  // nobody ever writes
  (void)n;
  b->returned.store(true);
  pthread_cleanup_pop(0);
  return nullptr;
}

void* block_in_pause(void* arg) {
  Blocked* b = static_cast<Blocked*>(arg);
  pthread_cleanup_push(mark_cancelled, b);
  announce(b);
  for (;;) pause();
  b->returned.store(true);
  pthread_cleanup_pop(0);
  return nullptr;
}

TEST(XThreadTest, DestroyingEndsAThreadBlockedInACancellationPoint) {
  const struct {
    const char* name;
    void* (*routine)(void*);
  } cases[] = {{"pipe read", block_in_read}, {"pause", block_in_pause}};

  for (const auto& c : cases) {
    Blocked b;
    ASSERT_EQ(0, pipe(b.fds));
    {
      XThread t;
      ASSERT_EQ(TRUE, t.start(c.routine, &b)) << c.name;
      b.entered.wait(false);
    }  // cancels and joins; a hang here is the failure
    EXPECT_TRUE(b.cancelled.load()) << c.name;
    EXPECT_FALSE(b.returned.load()) << c.name;
    close(b.fds[0]);
    close(b.fds[1]);
  }
}

TEST(XMutexTest, ExcludesConcurrentIncrements) {
  const int kThreads = 4;
  const long kEach = 200000;
  XMutex mutex;
  long counter = 0;  // plain on purpose: only the mutex protects it
  std::atomic<int> ready{0};

  std::vector<std::thread> workers;
  for (int i = 0; i < kThreads; i++) {
    workers.emplace_back([&] {
      // Start together so the increments really overlap.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (long n = 0; n < kEach; n++) {
        mutex.acquire();
        counter = counter + 1;
        mutex.release();
      }
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(kThreads * kEach, counter);
}

}  // namespace
