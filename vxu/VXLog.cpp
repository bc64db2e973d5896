#include "vxu/VXLog.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

#include "platform/Clock.h"
#include "platform/DateFormat.h"
#include "platform/LibraryMessages.h"
#include "platform/Paths.h"

using platform::Paths;

namespace {

std::atomic<std::uint64_t> g_nextSerial{1};
std::atomic<VXLog*> g_shared{nullptr};
std::atomic<std::uint64_t> g_sharedSerial{0};

// The unfinished lines of one thread, one per log that has any.
struct ThreadLines {
  struct Pending {
    std::uint64_t serial;
    std::string text;
    bool prepared;  // set up ahead of need (VXLog::prepareThread): kept
  };
  std::vector<Pending> pending;

  std::string& forLog(std::uint64_t serial, bool prepare = false) {
    for (Pending& p : pending) {
      if (p.serial == serial) {
        p.prepared = p.prepared || prepare;
        return p.text;
      }
    }
    pending.push_back({serial, std::string(), prepare});
    return pending.back().text;
  }

  // Forgets empty buffers so that a thread keeps none for logs long gone
  // (a prepared one stays, with its room).
  void prune() {
    for (size_t i = pending.size(); i-- > 0;) {
      if (pending[i].text.empty() && !pending[i].prepared) {
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }

  // A thread that ends in the middle of a line still gets it out, when it is
  // the shared log's (other logs may already be gone).
  ~ThreadLines() {
    VXLog* shared = g_shared.load();
    if (!shared) return;
    for (Pending& p : pending) {
      if (!p.text.empty() && p.serial == g_sharedSerial.load()) shared->logMessage(std::move(p.text));
    }
  }
};

thread_local ThreadLines t_lines;

std::string formatText(const char* format, va_list args) {
  if (!format) return std::string();
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, static_cast<size_t>(length));
  std::string text(static_cast<size_t>(length), '\0');
  va_copy(copy, args);
  std::vsnprintf(text.data(), text.size() + 1, format, copy);
  va_end(copy);
  return text;
}

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string validUtf8(std::string_view text) {
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; k++) {
      unsigned char c = byte(i + k);
      valid = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    }
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += kReplacement;
      i++;
    }
  }
  return out;
}


// The directory, created when missing; "" when it cannot serve. Reports
// to the console only: the log cannot log about its own directories.
// With quiet set, only the errors among them.
std::string ensureDirectory(const std::string& path, bool saved, const VXLog::ConsoleSink& console,
                            bool quiet) {
  const std::string what = saved ? "saved log directory" : "log directory";
  if (Paths::exists(path)) {
    if (Paths::isDirectory(path)) return path;
    console("error: preexisting file at " + what + " path not a directory (" + path + ")");
    return std::string();
  }
  if (!quiet) console(what + " doesn't exist, creating...");
  if (!Paths::mkdirs(path)) {
    console("error: unable to create " + what + " at '" + path + "'");
    return std::string();
  }
  return path;
}

VXLog::ConsoleSink orStderr(VXLog::ConsoleSink console) {
  return console ? std::move(console) : VXLog::ConsoleSink(&VXLog::printToStderr);
}

}  // namespace

// ---- start and shared log ----

namespace {

// Set once standard error's reader has gone away (a closed pipe).
std::atomic<bool> g_stderrClosed{false};

// Writes the line and a newline on standard error without allocating (a
// report of memory running out goes this way too); false when it failed.
bool writeLineToStderr(const char* line, size_t length) {
  struct iovec parts[2];
  parts[0].iov_base = const_cast<char*>(line);
  parts[0].iov_len = length;
  parts[1].iov_base = const_cast<char*>("\n");
  parts[1].iov_len = 1;
  int first = 0;
  while (first < 2) {
    ssize_t n = ::writev(STDERR_FILENO, parts + first, 2 - first);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t done = static_cast<size_t>(n);
    while (first < 2 && done >= parts[first].iov_len) done -= parts[first++].iov_len;
    if (first < 2) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + done;
      parts[first].iov_len -= done;
    }
  }
  return true;
}

}  // namespace

void VXLog::printToStderr(const std::string& line) { printTextToStderr(line.data(), line.size()); }

void VXLog::printTextToStderr(const char* line, size_t length) {
  if (g_stderrClosed.load(std::memory_order_relaxed)) return;
  // A write to a pipe whose reader is gone raises SIGPIPE on this thread;
  // blocked here, the write fails with EPIPE instead, and the signal it left
  // pending is taken back before the mask is restored. From then on nothing
  // more is written to the console: every later line would fail the same
  // way, and a handler that itself reports on the console would only raise
  // the signal again. The file and the entries still get every line.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  if (!writeLineToStderr(line, length) && errno == EPIPE) {
    g_stderrClosed.store(true);
    if (!sigismember(&previous, SIGPIPE)) {
      struct timespec noWait {};
      while (sigtimedwait(&pipeSignal, nullptr, &noWait) == SIGPIPE) {
      }
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void VXLog::rotateLogs(const std::string& logDirectory, const ConsoleSink& console, bool quiet) {
  std::string directory =
      ensureDirectory(logDirectory, false, console ? console : orStderr({}), quiet);
  if (directory.empty()) return;
  std::string current = Paths::join(directory, "current.log");
  std::string previous = Paths::join(directory, "previous.log");
  if (!Paths::exists(current)) return;
  if (Paths::exists(previous)) Paths::remove(previous);
  Paths::move(current, previous);
}

std::unique_ptr<VXLog> VXLog::start(const std::string& logDirectory, ConsoleSink console,
                                    bool quiet) {
  rotateLogs(logDirectory, console, quiet);
  auto log = std::make_unique<VXLog>(logDirectory, std::move(console));
  log->setConsoleQuiet(quiet);
  return log;
}

namespace {
// Whether the shared log's console is quiet (quietSharedConsole).
std::atomic<bool> g_sharedQuiet{false};
}  // namespace

void VXLog::quietSharedConsole(bool on) {
  g_sharedQuiet.store(on);
  if (VXLog* shared = g_shared.load()) shared->setConsoleQuiet(on);
}

VXLog& VXLog::sharedVXLog() {
  // Never destroyed: any thread may log until the process ends.
  static VXLog* shared = [] {
    VXLog* log = start(Paths::join(Paths::documents(), "log"), {}, g_sharedQuiet.load()).release();
    g_sharedSerial.store(log->serial_);
    g_shared.store(log);
    std::atexit(&VXLog::flushSharedAtExit);
    platform::routeLibraryMessages(
        [](const std::string& line) { VX_detailf("%s", line.c_str()); });
    return log;
  }();
  return *shared;
}

void VXLog::flushSharedAtExit() {
  VXLog* shared = g_shared.load();
  if (!shared) return;
  // From now on each line is waited for, so nothing is left in the queue
  // when the process ends.
  shared->waitForEachLine_.store(true);
  shared->flushLog();
}

// ---- life ----

VXLog::File::~File() {
  if (fd >= 0) ::close(fd);
}

VXLog::VXLog(std::string logDirectory, ConsoleSink console)
    : serial_(g_nextSerial.fetch_add(1)),
      directory_(std::move(logDirectory)),
      console_(orStderr(std::move(console))),
      worker_("VXLog") {
  std::string path = currentLogFilePath();
  if (!path.empty()) file_.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
}

VXLog::~VXLog() { flushLog(); }

// ---- messages ----

void VXLog::log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  logSyncArgs(false, format, args);
  va_end(args);
}

void VXLog::logArgs(const char* format, va_list args) { logSyncArgs(false, format, args); }

void VXLog::logSync(bool sync, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logSyncArgs(sync, format, args);
  va_end(args);
}

void VXLog::logSyncArgs(bool sync, const char* format, va_list args) {
  handOn(formatText(format, args), sync);
}

void VXLog::logMessage(std::string message, bool sync) { handOn(std::move(message), sync); }

void VXLog::logDetail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  logDetailArgs(format, args);
  va_end(args);
}

void VXLog::logDetailArgs(const char* format, va_list args) {
  handOnLine(Kind::Detail, format, args);
}

void VXLog::logError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  handOnLine(Kind::Error, format, args);
  va_end(args);
}

void VXLog::handOnLine(Kind kind, const char* format, va_list args) {
  std::string text = formatText(format, args);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  handOn(std::move(text), false, kind);
}

void VXLog::logWithCString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  logWithCStringSyncArgs(false, format, args);
  va_end(args);
}

void VXLog::logWithCStringSync(bool sync, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logWithCStringSyncArgs(sync, format, args);
  va_end(args);
}

void VXLog::logWithCStringSyncArgs(bool sync, const char* format, va_list args) {
  try {
    collectLines(sync, format, args);
  } catch (const std::bad_alloc&) {
    // No memory to collect or queue the text: it goes straight to the
    // console, cut to a fixed buffer (lines still queued may follow it).
    char text[1024];
    va_list copy;
    va_copy(copy, args);
    int length = format ? std::vsnprintf(text, sizeof text, format, copy) : 0;
    va_end(copy);
    if (length <= 0) return;
    size_t size = std::min(static_cast<size_t>(length), sizeof text - 1);
    if (text[size - 1] == '\n') size--;
    printTextToStderr(text, size);
  }
}

void VXLog::prepareThread() {
  std::string& line = t_lines.forLog(serial_, true);
  line.reserve(kPreparedLine);
}

void VXLog::collectLines(bool sync, const char* format, va_list args) {
  std::string text = formatText(format, args);
  if (text.empty()) return;
  std::vector<std::string> lines;
  {
    std::string& line = t_lines.forLog(serial_);
    size_t at = 0;
    while (at < text.size()) {
      size_t newline = text.find('\n', at);
      size_t end = newline == std::string::npos ? text.size() : newline;
      while (at < end) {
        if (line.size() >= kLongestLine) lines.push_back(std::exchange(line, std::string()));
        size_t take = std::min(kLongestLine - line.size(), end - at);
        line.append(text, at, take);
        at += take;
      }
      if (newline != std::string::npos) {
        lines.push_back(std::exchange(line, std::string()));
        at = newline + 1;
      }
    }
    if (line.empty()) t_lines.prune();
  }
  // Handed on after the buffer is settled, so that nothing here depends on
  // what writing a line does.
  for (std::string& l : lines) handOn(std::move(l), sync);
}

void VXLog::handOn(std::string message, bool sync, Kind kind) {
  if (sync) {
    writeLine(message, true, kind);
    return;
  }
  if (waitForEachLine_.load()) {
    worker_.perform([this, &message, kind] { writeLine(message, false, kind); }, true);
    return;
  }
  queued_.fetch_add(1);
  worker_.perform([this, message = std::move(message), kind] {
    writeLine(message, false, kind);
    if (queued_.fetch_sub(1) == 1) syncFile();  // idle: make it durable
  });
}

void VXLog::writeLine(const std::string& message, bool syncNow, Kind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The console first: the default one needs no memory, so a line still gets
  // out when memory has run short. The dated line for the file and the list
  // does; when it cannot be made the line is left out of both (it must not
  // end the log's thread, nor the caller).
  try {
    const bool shown = kind == Kind::Error ||
                       (!consoleQuiet_.load() &&
                        (kind == Kind::Line || detailsToConsole_.load()));
    if (shown) console_(message);
    std::string line =
        "[" + platform::formatDate(platform::kDateLogLine, platform::Clock::now()) + "] " + message;
    if (file_.fd >= 0) {
      std::string bytes = validUtf8(line);
      bytes += '\n';
      // A line that cannot be written is still on the console and in the list.
      if (Paths::writeAll(file_.fd, bytes) && syncNow) ::fdatasync(file_.fd);
    }
    keepEntry(std::move(line));
  } catch (const std::bad_alloc&) {
    // Left out of the file and the list (see above).
  }
}

void VXLog::syncFile() {
  if (file_.fd >= 0) ::fdatasync(file_.fd);
}

void VXLog::flushLog() {
  worker_.perform([this] { syncFile(); }, true);
}

void VXLog::keepEntry(std::string line) {
  if (!headFull_ && headBytes_ + line.size() <= kEntriesHeadBytes) {
    headBytes_ += line.size();
    head_.push_back(std::move(line));
    return;
  }
  // Once a line has gone to the tail the head takes no more, so the list
  // stays in the order the lines were written.
  headFull_ = true;
  tailBytes_ += line.size();
  tail_.push_back(std::move(line));
  while (tailBytes_ > kEntriesTailBytes && tail_.size() > 1) {
    tailBytes_ -= tail_.front().size();
    tail_.pop_front();
    leftOut_++;
  }
}

std::vector<std::string> VXLog::logEntries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> entries;
  entries.reserve(head_.size() + tail_.size() + 1);
  entries.insert(entries.end(), head_.begin(), head_.end());
  if (leftOut_ > 0) {
    entries.push_back("(" + std::to_string(leftOut_) +
                      " lines left out here; the log file has them)");
  }
  entries.insert(entries.end(), tail_.begin(), tail_.end());
  return entries;
}

void VXLog::printToConsole(const std::string& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  console_(line);
}

// ---- files ----

std::string VXLog::logDirectory() const {
  return ensureDirectory(
      directory_, false, [this](const std::string& line) { printToConsole(line); },
      consoleQuiet_.load());
}

std::string VXLog::savedLogDirectory() const {
  return ensureDirectory(
      Paths::join(directory_, "saved"), true,
      [this](const std::string& line) { printToConsole(line); }, consoleQuiet_.load());
}

std::string VXLog::currentLogFilePath() const {
  std::string directory = logDirectory();
  return directory.empty() ? directory : Paths::join(directory, "current.log");
}

std::string VXLog::previousLogFilePath() const {
  std::string directory = logDirectory();
  return directory.empty() ? directory : Paths::join(directory, "previous.log");
}

void VXLog::savePreviousLog(const std::optional<std::string>& header) {
  std::string previous = previousLogFilePath();
  if (previous.empty() || !Paths::exists(previous)) return;
  std::string savedDirectory = savedLogDirectory();
  if (savedDirectory.empty()) return;

  // Make room: four older logs stay beside the new one.
  for (;;) {
    std::vector<std::string> names = Paths::listDir(savedDirectory);
    if (names.size() <= 4) break;
    std::string oldest;
    double oldestTime = std::numeric_limits<double>::infinity();
    for (const std::string& name : names) {
      std::string path = Paths::join(savedDirectory, name);
      std::optional<double> time = Paths::mtime(path);
      if (time && *time < oldestTime) {  // strict: the first of equals wins
        oldest = path;
        oldestTime = *time;
      }
    }
    if (oldest.empty()) break;
    log("purging old log file '%s'", oldest.c_str());
    std::string error;
    if (!Paths::remove(oldest, &error)) {
      log("error: unable to purge old log file '%s' (%s)", oldest.c_str(), error.c_str());
      break;  // it would be the oldest again and again
    }
  }

  std::string saved = savedDirectory + "/saved_" +
                      platform::formatDate(platform::kDateFileStamp, platform::Clock::now()) + ".log";
  log("saving previous log to '%s'", saved.c_str());
  bool written;
  if (header) {
    std::string content = *header + Paths::readFile(previous).value_or(std::string());
    written = Paths::writeAtomic(saved, content);
  } else {
    written = Paths::copy(previous, saved);
  }
  if (!written) log("error: unable to save previous log to '%s'", saved.c_str());
}

void VXLog::purgeSavedLogs() {
  std::string savedDirectory = savedLogDirectory();
  if (savedDirectory.empty()) return;
  for (const std::string& name : Paths::listDir(savedDirectory)) {
    std::string path = Paths::join(savedDirectory, name);
    log("purging old log file '%s'", path.c_str());
    std::string error;
    if (!Paths::remove(path, &error)) {
      log("error: unable to purge old log file '%s' (%s)", path.c_str(), error.c_str());
    }
  }
}

// ---- C entries ----

void VX_vlogf(const char* format, va_list args) {
  VXLog::sharedVXLog().logWithCStringSyncArgs(false, format, args);
}

void VX_vlogMessage(const char* format, va_list args) {
  VXLog::sharedVXLog().logArgs(format, args);
}

void VX_logf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VX_vlogf(format, args);
  va_end(args);
}

void VX_detailf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VXLog::sharedVXLog().logDetailArgs(format, args);
  va_end(args);
}
