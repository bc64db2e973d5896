// Helpers of the log tests: a temporary directory, a console that records,
// and the pieces of a dated log line.
#ifndef TESTS_VXU_LOG_TEST_SUPPORT_H
#define TESTS_VXU_LOG_TEST_SUPPORT_H

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "vxu/VXLog.h"

namespace logtest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-log-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Records console lines; safe from the log thread and callers alike.
class Console {
 public:
  VXLog::ConsoleSink sink() {
    return [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// "[yyyy.MM.dd HH:mm:ss.SSS] " is 26 bytes.
constexpr size_t kDatePrefix = 26;

inline std::string messageOf(const std::string& entry) {
  return entry.size() >= kDatePrefix ? entry.substr(kDatePrefix) : "(short entry: " + entry + ")";
}

inline std::vector<std::string> messagesOf(const std::vector<std::string>& entries) {
  std::vector<std::string> messages;
  for (const std::string& e : entries) messages.push_back(messageOf(e));
  return messages;
}

// The lines of a file, without their newlines.
inline std::vector<std::string> fileLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace logtest

#endif
