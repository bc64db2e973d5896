// Whether a host can be reached, without talking to it.
//
// Reachability::isReachable(host) looks the name up (getaddrinfo) and
// "connects" a UDP socket to its first address: no packet is sent, but the
// kernel refuses when it has no route there. hostOfUrl takes the host out of
// an http or https URL ("" when there is none). Tests put an answer of their
// own in place (setOverride), so that no outside name is ever looked up.
//
// Threads: any thread. The override is installed by tests before the calls
// it answers.
#ifndef PLATFORM_REACHABILITY_H
#define PLATFORM_REACHABILITY_H

#include <functional>
#include <string>
#include <string_view>

namespace platform {

class Reachability {
 public:
  using Override = std::function<bool(const std::string& host)>;

  static bool isReachable(const std::string& host);
  // An empty override puts the real test back; answers the previous one.
  static Override setOverride(Override answer);
};

std::string hostOfUrl(std::string_view url);

}  // namespace platform

#endif
