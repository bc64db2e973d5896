#include "platform/SignalWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace platform {

SignalWatcher::SignalWatcher(Callback callback, std::initializer_list<int> signals)
    : callback_(std::move(callback)) {
  sigemptyset(&signals_);
  for (int signal : signals) sigaddset(&signals_, signal);
  pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
  signalFd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || stopFd_ < 0) {
    if (signalFd_ >= 0) ::close(signalFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
    signalFd_ = stopFd_ = -1;
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    return;
  }
  thread_ = std::thread([this] { run(); });
}

SignalWatcher::~SignalWatcher() {
  if (!watching()) return;
  const std::uint64_t one = 1;
  while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread_.join();
  ::close(signalFd_);
  ::close(stopFd_);
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void SignalWatcher::run() {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    signalfd_siginfo info{};
    const ssize_t n = ::read(signalFd_, &info, sizeof info);
    if (n != static_cast<ssize_t>(sizeof info)) continue;
    if (callback_) callback_(static_cast<int>(info.ssi_signo));
  }
}

}  // namespace platform
