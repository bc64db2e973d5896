// Quit signals as events: each of SIGINT, SIGTERM and SIGHUP sent to the
// process reaches the watcher's callback on its own thread, none ends the
// process, threads started later inherit the block, and the mask is put
// back when the watcher goes. Each case runs in a child process of its own
// (forked, so it has no thread but its own): a signal sent to the whole
// process must find no other thread to land on, as in the program, which
// makes the watcher before any thread.
#include "platform/SignalWatcher.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using platform::SignalWatcher;

namespace {

// Runs body in a child; answers its exit status (-1 when it did not exit).
int inChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a signal that never arrives must not hang the test
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SignalWatcher, EachQuitSignalReachesTheCallback) {
  EXPECT_EQ(inChild([] {
              std::mutex mutex;
              std::condition_variable arrived;
              std::vector<int> seen;
              bool otherThread = true;
              const std::thread::id self = std::this_thread::get_id();
              {
                SignalWatcher watcher([&](int signal) {
                  std::lock_guard<std::mutex> lock(mutex);
                  seen.push_back(signal);
                  otherThread = otherThread && std::this_thread::get_id() != self;
                  arrived.notify_all();
                });
                if (!watcher.watching()) return 2;
                for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
                  if (::kill(::getpid(), signal) != 0) return 3;
                  std::unique_lock<std::mutex> lock(mutex);
                  arrived.wait(lock, [&] { return !seen.empty() && seen.back() == signal; });
                }
              }
              if (seen != std::vector<int>{SIGTERM, SIGINT, SIGHUP} || !otherThread) return 4;
              sigset_t now;
              pthread_sigmask(SIG_BLOCK, nullptr, &now);
              for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
                if (sigismember(&now, signal)) return 5;  // the mask is as it was
              }
              return 0;
            }),
            0);
}

TEST(SignalWatcher, LaterThreadsInheritTheBlock) {
  EXPECT_EQ(inChild([] {
              SignalWatcher watcher([](int) {});
              if (!watcher.watching()) return 2;
              bool blocked = false;
              std::thread later([&] {
                sigset_t mask;
                pthread_sigmask(SIG_BLOCK, nullptr, &mask);
                blocked = sigismember(&mask, SIGTERM) && sigismember(&mask, SIGINT) &&
                          sigismember(&mask, SIGHUP);
              });
              later.join();
              return blocked ? 0 : 4;
            }),
            0);
}

}  // namespace
