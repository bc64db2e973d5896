// One instance per home: the lock is exclusive between holders (two opens
// of the file, as two processes make them), held as long as its object,
// and dropped by the system when the holding process dies, however it dies.
#include "platform/InstanceLock.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/Paths.h"

using platform::InstanceLock;
using platform::Paths;

namespace {

std::string lockPath(const std::string& name) {
  const std::string folder = Paths::join(Paths::home(), "locks");
  Paths::mkdirs(folder);
  return Paths::join(folder, name);
}

TEST(InstanceLock, OneHolderAtATime) {
  const std::string path = lockPath("one.lock");
  InstanceLock first;
  ASSERT_EQ(first.acquire(path), InstanceLock::Result::Acquired);
  EXPECT_TRUE(first.held());
  InstanceLock second;
  std::string owner;
  EXPECT_EQ(second.acquire(path, &owner), InstanceLock::Result::Taken);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(owner, std::to_string(::getpid()));
  // Moved, it is still held; released, the next one gets it.
  InstanceLock moved = std::move(first);
  EXPECT_EQ(second.acquire(path), InstanceLock::Result::Taken);
  moved.release();
  EXPECT_EQ(second.acquire(path), InstanceLock::Result::Acquired);
}

TEST(InstanceLock, AFileThatCannotBeMadeFails) {
  InstanceLock lock;
  std::string error;
  EXPECT_EQ(lock.acquire("/nonexistent/folder/app.lock", nullptr, &error),
            InstanceLock::Result::Failed);
  EXPECT_FALSE(error.empty());
}

// A holder killed outright (no destructor, no exit handler) leaves the file
// behind but not the lock.
TEST(InstanceLock, ADeadHoldersLockIsFree) {
  const std::string path = lockPath("dead.lock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only plain system calls after fork: the lock as InstanceLock takes it.
    ::close(ready[0]);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const char held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
    if (::write(ready[1], &held, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(held, '1');
  InstanceLock mine;
  EXPECT_EQ(mine.acquire(path), InstanceLock::Result::Taken);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(Paths::exists(path));
  EXPECT_EQ(mine.acquire(path), InstanceLock::Result::Acquired);
}

}  // namespace
