#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/Paths.h"

namespace platform {

InstanceLock::~InstanceLock() { release(); }

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

InstanceLock::Result InstanceLock::acquire(const std::string& path, std::string* owner,
                                           std::string* error) {
  release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return Result::Failed;
  }
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int why = errno;
    if (why == EWOULDBLOCK) {
      if (owner) {
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        std::string_view id(text, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.remove_suffix(1);
        *owner = std::string(id);
      }
      ::close(fd);
      return Result::Taken;
    }
    if (error) *error = std::strerror(why);
    ::close(fd);
    return Result::Failed;
  }
  // The holder's id, for a person who looks (the lock is what counts).
  const std::string id = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    ::lseek(fd, 0, SEEK_SET);
    Paths::writeAll(fd, id);
  }
  fd_ = fd;
  return Result::Acquired;
}

void InstanceLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the last descriptor of the open file drops the lock
  fd_ = -1;
}

}  // namespace platform
