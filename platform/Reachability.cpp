#include "platform/Reachability.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <memory>
#include <mutex>

namespace platform {

namespace {

std::mutex g_mutex;
Reachability::Override g_override;

}  // namespace

bool Reachability::isReachable(const std::string& host) {
  Override answer;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    answer = g_override;
  }
  if (answer) return answer(host);
  if (host.empty()) return false;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), "443", &hints, &found) != 0 || !found) return false;
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, freeaddrinfo);
  int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  if (fd < 0) return false;
  bool routed = ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
  ::close(fd);
  return routed;
}

Reachability::Override Reachability::setOverride(Override answer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Override previous = std::move(g_override);
  g_override = std::move(answer);
  return previous;
}

std::string hostOfUrl(std::string_view url) {
  std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest = rest.substr(at + 1);
  if (!rest.empty() && rest.front() == '[') {
    std::size_t close = rest.find(']');
    return close == std::string_view::npos ? "" : std::string(rest.substr(1, close - 1));
  }
  return std::string(rest.substr(0, rest.find(':')));
}

}  // namespace platform
