// The application log.
//
// Every line goes to three places: the console (standard error, the message
// followed by a newline), the in-memory list logEntries() and the file
// "current.log" in the log directory (Documents/log), where it is written as
// "[yyyy.MM.dd HH:mm:ss.SSS] message". The previous run's file is kept as
// "previous.log", and savePreviousLog() copies it into "log/saved", which
// keeps at most five saved logs.
//
// Writing happens on the log's own thread: a caller (the audio thread
// included) only formats the message and posts it, and lines reach the
// console and the file in the order they were posted. A synchronous call
// (sync set) writes on the calling thread instead, and syncs the file to disk
// at once. The log thread syncs the file whenever it has nothing left to
// write; flushLog() waits until every line posted before it is written and
// synced. At normal process exit the shared log is flushed, and lines logged
// after that are written before the call returns.
//
// Two kinds of entry:
//  - log...() take a printf-style format; each call is one message, whatever
//    it contains.
//  - logWithCString...() (and the C functions VX_logf / VX_vlogf) collect
//    text into lines: each "\n" ends a line, and text after the last newline
//    waits for the calling thread's next call. Each thread has its own line
//    buffer, so lines from different threads never mix. A line that grows to
//    kLongestLine bytes without a newline is handed on as it is; text a
//    thread leaves unfinished when it ends is handed on as a last line.
//    When memory is too short to collect or queue the text, it goes straight
//    to the console instead (cut to 1023 bytes).
//
// Details (logDetail, VX_detailf): lines for the record, such as the audio
// layer's configuration, that go to the file and logEntries() but reach the
// console only when setDetailsToConsole(true) asked for them.
//
// Errors (logError): lines a user must see whatever the console
// shows; they also go to the file and logEntries().
//
// A quiet console (setConsoleQuiet(true), for a program whose user is a
// player, not a developer) shows errors only: every other line goes to the
// file and logEntries() alone. quietSharedConsole sets it for the shared
// log, also before it starts, so that not even its first lines show.
//
// The in-memory list is bounded, so that an engine left running for days of
// live coding does not grow by every line it ever printed: it keeps the
// first kEntriesHeadBytes of lines (the start, where the set-up is told) and
// the latest kEntriesTailBytes; when lines between them had to go,
// logEntries() shows one line saying how many, in their place. The file
// keeps every line.
//
// The console-only messages of the directory methods (a missing or unusable
// log directory) go straight to the console; a quiet console shows only the
// errors among them. When the directory or the file cannot be used, lines
// still reach the console and logEntries().
//
// The shared log (sharedVXLog) starts on first use: "current.log" of the last
// run becomes "previous.log", and a new, empty "current.log" is opened. It
// also takes the lines SDL and ALSA would print on their own
// (platform/LibraryMessages.h), as details. Tests
// build their own logs with start() or the constructor, for a directory of
// their own and with a console sink of their own.
//
// Threads: every member may be called from any thread. The console sink is
// called on one thread at a time, under the log's lock: it must not log. A
// log must not be destroyed while other threads still use it; the shared log
// is never destroyed.
#ifndef VXU_VXLOG_H
#define VXU_VXLOG_H

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Worker.h"

#define VX_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))

class VXLog {
 public:
  // Receives each console line without its newline.
  using ConsoleSink = std::function<void(const std::string& line)>;

  static constexpr std::size_t kLongestLine = 64 * 1024;

  // The process-wide log, in Documents/log; started on first use.
  static VXLog& sharedVXLog();

  // The default console: the line and "\n" on standard error. When the
  // reader of standard error has gone away (a closed pipe: EPIPE), console
  // writing ends for the rest of the process, without SIGPIPE being raised.
  static void printToStderr(const std::string& line);

  // The start of a run: when "current.log" exists in the directory, it
  // replaces "previous.log". Creates the directory when missing (with the
  // console messages of logDirectory(); errors only when quiet). An empty
  // sink means standard error.
  static void rotateLogs(const std::string& logDirectory, const ConsoleSink& console = {},
                         bool quiet = false);

  // rotateLogs, then a log for that directory.
  static std::unique_ptr<VXLog> start(const std::string& logDirectory, ConsoleSink console = {},
                                      bool quiet = false);

  // A log writing to logDirectory/current.log: the file is created empty
  // when missing and written from its start. An empty sink means standard
  // error.
  explicit VXLog(std::string logDirectory, ConsoleSink console = {});
  // Flushes, stops the log thread and closes the file.
  ~VXLog();
  VXLog(const VXLog&) = delete;
  VXLog& operator=(const VXLog&) = delete;

  // One message each, formatted with the arguments; asynchronous unless sync.
  void log(const char* format, ...) VX_PRINTF_LIKE(2, 3);
  void logArgs(const char* format, va_list args) VX_PRINTF_LIKE(2, 0);
  void logSync(bool sync, const char* format, ...) VX_PRINTF_LIKE(3, 4);
  void logSyncArgs(bool sync, const char* format, va_list args) VX_PRINTF_LIKE(3, 0);
  // One message, already formatted.
  void logMessage(std::string message, bool sync = false);
  // One detail (see above), formatted with the arguments; asynchronous.
  void logDetail(const char* format, ...) VX_PRINTF_LIKE(2, 3);
  void logDetailArgs(const char* format, va_list args) VX_PRINTF_LIKE(2, 0);
  // Whether details reach the console (off at the start).
  void setDetailsToConsole(bool on) { detailsToConsole_.store(on); }
  // One error (see above), formatted with the arguments; asynchronous.
  void logError(const char* format, ...) VX_PRINTF_LIKE(2, 3);
  // Whether the console shows errors only (off at the start).
  void setConsoleQuiet(bool on) { consoleQuiet_.store(on); }
  // setConsoleQuiet for the shared log, now or when it starts.
  static void quietSharedConsole(bool on);

  // Formatted text collected into lines through the calling thread's line
  // buffer; asynchronous unless sync.
  void logWithCString(const char* format, ...) VX_PRINTF_LIKE(2, 3);
  void logWithCStringSync(bool sync, const char* format, ...) VX_PRINTF_LIKE(3, 4);
  void logWithCStringSyncArgs(bool sync, const char* format, va_list args) VX_PRINTF_LIKE(3, 0);

  // Sets up the calling thread's line buffer for this log now, with room
  // for a line of kPreparedLine bytes, and keeps it: a later line (the report
  // of memory running out, say) finds it ready.
  void prepareThread();
  static constexpr std::size_t kPreparedLine = 1024;

  // Waits until every line posted before the call is on the console and in
  // the file, and the file is synced to disk.
  void flushLog();

  // The dated lines of this log, oldest first, with the middle left out
  // when the list grew past its bounds (see above).
  std::vector<std::string> logEntries() const;
  static constexpr std::size_t kEntriesHeadBytes = 256 * 1024;
  static constexpr std::size_t kEntriesTailBytes = 768 * 1024;

  // The log directory and "saved" in it, created when missing (with console
  // messages); "" when the path is taken by something that is not a
  // directory or cannot be created.
  std::string logDirectory() const;
  std::string savedLogDirectory() const;
  // "current.log" and "previous.log" in logDirectory(); "" when it is "".
  std::string currentLogFilePath() const;
  std::string previousLogFilePath() const;

  // When "previous.log" exists: purges the oldest saved logs until four are
  // left, then saves it as "saved_<yyyy-MM-dd-HH-mm-ss-SSS>.log", after the
  // header when one is given.
  void savePreviousLog(const std::optional<std::string>& header = std::nullopt);
  // Deletes every saved log.
  void purgeSavedLogs();

 private:
  struct File {
    int fd = -1;
    ~File();
  };

  enum class Kind { Line, Detail, Error };
  void handOn(std::string message, bool sync, Kind kind = Kind::Line);
  // One formatted message of that kind, a trailing newline dropped.
  void handOnLine(Kind kind, const char* format, va_list args) VX_PRINTF_LIKE(3, 0);
  // printToStderr for `length` bytes of text; allocates nothing.
  static void printTextToStderr(const char* line, std::size_t length);
  // Collects formatted text into the calling thread's line buffer and hands
  // on the lines it completes; throws std::bad_alloc when memory is short.
  void collectLines(bool sync, const char* format, va_list args) VX_PRINTF_LIKE(3, 0);
  // Console (when it takes the kind), entries and file, under the lock.
  void writeLine(const std::string& message, bool syncFile, Kind kind);
  void syncFile();
  void printToConsole(const std::string& line) const;
  static void flushSharedAtExit();

  const std::uint64_t serial_;  // names this log in the threads' line buffers
  const std::string directory_;
  const ConsoleSink console_;
  // Keeps a line in the bounded list: the head while it has room, then the
  // tail, whose oldest lines go when it passes its bound.
  void keepEntry(std::string line);

  mutable std::mutex mutex_;  // console, entries and file writes
  std::vector<std::string> head_;   // the first lines, up to kEntriesHeadBytes
  std::deque<std::string> tail_;    // the latest lines after the head
  std::size_t headBytes_ = 0;
  std::size_t tailBytes_ = 0;
  bool headFull_ = false;
  std::uint64_t leftOut_ = 0;       // lines dropped between head and tail
  File file_;
  std::atomic<int> queued_{0};             // lines posted, not yet written
  std::atomic<bool> waitForEachLine_{false};  // set at process exit
  std::atomic<bool> detailsToConsole_{false};
  std::atomic<bool> consoleQuiet_{false};
  platform::Worker worker_;                // declared last: stops first
};

// The printf-style entries of C code: text into the shared log's line
// buffer, asynchronously.
void VX_logf(const char* format, ...) VX_PRINTF_LIKE(1, 2);
void VX_vlogf(const char* format, va_list args) VX_PRINTF_LIKE(1, 0);
// One message of the shared log per call, asynchronously (as log()): the
// sink the framework's hosts give libraries that log whole messages (the
// graphics library).
void VX_vlogMessage(const char* format, va_list args) VX_PRINTF_LIKE(1, 0);
// A detail of the shared log (one line; a trailing newline is dropped).
void VX_detailf(const char* format, ...) VX_PRINTF_LIKE(1, 2);

#endif
