#include "platform/UrlOpener.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {

namespace {

std::mutex g_mutex;
std::shared_ptr<UrlOpener> g_opener;

bool hasScheme(std::string_view url, std::string_view scheme) {
  if (url.size() <= scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
  }
  return true;
}

bool refuse(std::string* problem, const std::string& reason) {
  if (problem) *problem = reason;
  return false;
}

}  // namespace

std::shared_ptr<UrlOpener> UrlOpener::installed() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_opener) g_opener = std::make_shared<XdgUrlOpener>();
  return g_opener;
}

std::shared_ptr<UrlOpener> UrlOpener::install(std::shared_ptr<UrlOpener> opener) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<UrlOpener> previous = std::move(g_opener);
  g_opener = std::move(opener);
  return previous;
}

bool UrlOpener::acceptable(std::string_view url, std::string* problem) {
  if (!hasScheme(url, "http://") && !hasScheme(url, "https://") && !hasScheme(url, "mailto:")) {
    return refuse(problem, "only http, https and mailto URLs are opened");
  }
  if (url.size() > kMaxUrlBytes) return refuse(problem, "URL too long to hand on");
  for (char c : url) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return refuse(problem, "URL with a control character");
    }
  }
  return true;
}

bool XdgUrlOpener::open(const std::string& url, std::string* problem) {
  if (!acceptable(url, problem)) return false;
  std::string program = program_;
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  // The desktop program starts with no signal blocked and the quit signals
  // at their defaults, whatever this process does with them (the host takes
  // them as events: blocked in every thread), so that it can be ended.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, quit;
  sigemptyset(&none);
  sigemptyset(&quit);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&quit, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &quit);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    return refuse(problem, program_ + " cannot be run: " + std::strerror(error));
  }
  // The desktop takes its time; the child is reaped without waiting here.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

bool RecordingUrlOpener::open(const std::string& url, std::string* problem) {
  if (!acceptable(url, problem)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  urls_.push_back(url);
  return true;
}

std::vector<std::string> RecordingUrlOpener::urls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return urls_;
}

}  // namespace platform
