// Opening a URL with the desktop: the browser for web pages, the mail
// program for mailto: URLs.
//
// The installed opener (installed()) is an XdgUrlOpener unless a test put
// another in place. XdgUrlOpener runs "xdg-open <url>" directly (no shell
// ever sees the URL) and does not wait for it; the child is reaped on a
// thread of its own. It starts with no signal blocked and SIGINT, SIGTERM,
// SIGHUP and SIGPIPE at their defaults, whatever the program does with them. Only http, https and mailto URLs are opened, and only
// below kMaxUrlBytes (the longest single argument the kernel passes to a
// program); anything else is refused. RecordingUrlOpener keeps the URLs it
// was given and answers as told.
//
// Threads: open may be called from any thread; install is for start-up and
// tests.
#ifndef PLATFORM_URLOPENER_H
#define PLATFORM_URLOPENER_H

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class UrlOpener {
 public:
  static constexpr std::size_t kMaxUrlBytes = 128 * 1024 - 1;

  virtual ~UrlOpener() = default;
  // True when the URL was handed on; otherwise false, with the reason.
  virtual bool open(const std::string& url, std::string* problem = nullptr) = 0;

  static std::shared_ptr<UrlOpener> installed();
  // Puts opener in place (null: the xdg-open one); answers the previous one.
  static std::shared_ptr<UrlOpener> install(std::shared_ptr<UrlOpener> opener);

  // http, https or mailto (any case), no control characters, short enough.
  static bool acceptable(std::string_view url, std::string* problem = nullptr);
};

class XdgUrlOpener : public UrlOpener {
 public:
  explicit XdgUrlOpener(std::string program = "xdg-open") : program_(std::move(program)) {}
  bool open(const std::string& url, std::string* problem = nullptr) override;

 private:
  std::string program_;
};

class RecordingUrlOpener : public UrlOpener {
 public:
  bool open(const std::string& url, std::string* problem = nullptr) override;
  std::vector<std::string> urls() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> urls_;
};

}  // namespace platform

#endif
