// The engine prints through its log sink; these tests put a capturing sink
// in its place while the code under test runs and read back what it printed.
#ifndef TESTS_CHIP_LOG_CAPTURE_H
#define TESTS_CHIP_LOG_CAPTURE_H

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "chip/util/chip_errmsg.h"

namespace log_capture {

inline std::mutex& lock() {
  static std::mutex m;
  return m;
}

inline std::string& text() {
  static std::string t;
  return t;
}

inline void vlogf(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return;
  std::string piece(static_cast<size_t>(n), '\0');
  std::vsnprintf(piece.data(), piece.size() + 1, fmt, args);
  std::lock_guard<std::mutex> guard(lock());
  text() += piece;
}

inline void flush() {}

}  // namespace log_capture

// The lines printed while fn ran (an unfinished last line counts as a line).
template <typename Fn>
std::vector<std::string> printed_lines(Fn fn) {
  static const EM_Sink sink{log_capture::vlogf, log_capture::flush};
  {
    std::lock_guard<std::mutex> guard(log_capture::lock());
    log_capture::text().clear();
  }
  EM_set_sink(&sink);
  fn();
  EM_set_sink(nullptr);
  std::string all;
  {
    std::lock_guard<std::mutex> guard(log_capture::lock());
    all.swap(log_capture::text());
  }
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < all.size()) {
    size_t newline = all.find('\n', at);
    if (newline == std::string::npos) {
      lines.push_back(all.substr(at));
      break;
    }
    lines.push_back(all.substr(at, newline - at));
    at = newline + 1;
  }
  return lines;
}

#endif
