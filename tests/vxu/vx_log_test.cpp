#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chip_program_support.h"
#include "log_test_support.h"
#include "platform/Clock.h"
#include "platform/DateFormat.h"
#include "platform/Paths.h"
#include "vxu/VXLog.h"

namespace {

using logtest::Console;
using logtest::messagesOf;
using logtest::TempDir;
using platform::Paths;
namespace fs = std::filesystem;

class VXLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.path().empty()); }

  std::unique_ptr<VXLog> startLog(const std::string& logDirectory) {
    return VXLog::start(logDirectory, console.sink());
  }
  std::vector<std::string> fileLinesOf(const std::string& path) {
    return logtest::fileLines(Paths::readFile(path).value_or("(unreadable)"));
  }

  TempDir dir;
  Console console;
};

// ---- lines from C-string pieces ----

TEST_F(VXLogTest, CStringPiecesBecomeLines) {
  struct Case {
    std::vector<std::string> pieces;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{"abc", "def\n"}, {"abcdef"}},
      {{"one\ntwo\n"}, {"one", "two"}},
      {{"x\n\ny\n"}, {"x", "", "y"}},
      {{"\n"}, {""}},
      {{"head ", "", "tail\nwaits"}, {"head tail"}},  // "waits" has no newline yet
      {{"no newline at all"}, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    console.clear();
    auto log = startLog(dir / ("case" + std::to_string(n++)));
    console.clear();  // forget the directory creation
    for (const std::string& piece : c.pieces) log->logWithCString("%s", piece.c_str());
    log->flushLog();
    EXPECT_EQ(console.lines(), c.lines);
    EXPECT_EQ(messagesOf(log->logEntries()), c.lines);
    EXPECT_EQ(messagesOf(fileLinesOf(log->currentLogFilePath())), c.lines);
  }
}

TEST_F(VXLogTest, CStringFormattingAndSyncVariants) {
  auto log = startLog(dir.path());
  log->logWithCString("%d-%s|%5.2f|%%", 7, "x", 3.14159);
  log->logWithCStringSync(true, "%s\n", " and more");  // the synchronous call ends the line
  // Written before the call returned, without a flush.
  EXPECT_EQ(messagesOf(log->logEntries()), std::vector<std::string>{"7-x| 3.14|% and more"});
  EXPECT_EQ(messagesOf(fileLinesOf(log->currentLogFilePath())),
            std::vector<std::string>{"7-x| 3.14|% and more"});

  log->logSync(true, "object %s\nwith two lines", "message");  // one message, as it is
  log->log("%03d", 5);
  log->logMessage("plain");
  log->flushLog();
  EXPECT_EQ(messagesOf(log->logEntries()),
            (std::vector<std::string>{"7-x| 3.14|% and more", "object message\nwith two lines", "005",
                                      "plain"}));
}

TEST_F(VXLogTest, LongLinesAreNeverCut) {
  auto log = startLog(dir.path());
  const size_t bound = VXLog::kLongestLine;
  std::string thousand(1000, 'k');
  std::string full(bound, 'f');
  std::string over(bound + 10, 'o');

  log->logWithCString("%s\n", thousand.c_str());
  log->logWithCString("%s", full.c_str());  // exactly at the bound, then its newline
  log->logWithCString("\n");
  log->logWithCString("%s", over.c_str());  // past the bound: handed on, the rest goes on
  log->logWithCString("!\n");
  log->log("%s", over.c_str());  // a whole message is one line, whatever its length
  log->flushLog();

  std::vector<std::string> expected = {thousand, full, std::string(bound, 'o'), "oooooooooo!", over};
  EXPECT_EQ(console.lines(), expected);
  EXPECT_EQ(messagesOf(log->logEntries()), expected);
  EXPECT_EQ(messagesOf(fileLinesOf(log->currentLogFilePath())), expected);
}

TEST_F(VXLogTest, ManyThreadsNeverTearALine) {
  auto log = startLog(dir.path());
  constexpr int kThreads = 8, kLines = 500;
  std::latch start(kThreads);  // all threads write at the same time
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&log, &start, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kLines; i++) {
        log->logWithCString("thread %d ", t);
        log->logWithCString("line %d", i);
        log->logWithCString(" of %d", kLines);
        log->logWithCString(" end\n");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  log->flushLog();

  std::vector<std::string> messages = messagesOf(log->logEntries());
  ASSERT_EQ(messages.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& m : messages) {
    int t = -1, i = -1, of = -1, used = 0;
    ASSERT_EQ(std::sscanf(m.c_str(), "thread %d line %d of %d end%n", &t, &i, &of, &used), 3) << m;
    ASSERT_EQ(static_cast<size_t>(used), m.size()) << m;
    ASSERT_TRUE(t >= 0 && t < kThreads) << m;
    ASSERT_EQ(i, next[t]) << "out of order: " << m;
    next[t]++;
  }
  // The console and the file saw the same lines in the same order.
  EXPECT_EQ(console.lines(), messages);
  EXPECT_EQ(fileLinesOf(log->currentLogFilePath()), log->logEntries());
}

// ---- file, dates and flushing ----

TEST_F(VXLogTest, FileLinesAreDated) {
  const double t = 1245069296.789;
  platform::Clock::Override fixed(t);
  auto log = startLog(dir.path());
  log->log("hello");
  log->logWithCString("wor%s\n", "ld");
  log->logMessage("bad \xff byte");
  log->flushLog();

  const std::string stamp = "[" + platform::formatDate(platform::kDateLogLine, t) + "] ";
  EXPECT_EQ(log->logEntries(),
            (std::vector<std::string>{stamp + "hello", stamp + "world", stamp + "bad \xff byte"}));
  // The file is UTF-8: bytes that are not become U+FFFD there.
  EXPECT_EQ(Paths::readFile(log->currentLogFilePath()),
            stamp + "hello\n" + stamp + "world\n" + stamp + "bad \xEF\xBF\xBD byte\n");
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"hello", "world", "bad \xff byte"}));
}

TEST_F(VXLogTest, FlushWaitsForEveryPostedLine) {
  auto log = startLog(dir.path());
  constexpr size_t kCount = 2000;
  for (size_t i = 0; i < kCount; i++) log->log("line %zu", i);
  log->flushLog();
  EXPECT_EQ(log->logEntries().size(), kCount);
  EXPECT_EQ(console.lines().size(), kCount);
  std::vector<std::string> file = fileLinesOf(log->currentLogFilePath());
  ASSERT_EQ(file.size(), kCount);
  EXPECT_EQ(logtest::messageOf(file.back()), "line 1999");
}

// A log that runs for days keeps its start and its latest lines in memory,
// with a note of how many went between them; the file keeps them all.
TEST_F(VXLogTest, TheListKeepsItsStartAndItsLatestLinesWithinItsBounds) {
  auto log = startLog(dir.path());
  const std::string padding(200, '.');
  const std::size_t bound = VXLog::kEntriesHeadBytes + VXLog::kEntriesTailBytes;
  const std::size_t count = 3 * bound / padding.size();
  for (std::size_t i = 0; i < count; i++) log->log("line %zu %s", i, padding.c_str());
  log->flushLog();

  const std::vector<std::string> entries = log->logEntries();
  std::size_t bytes = 0;
  std::size_t kept = 0;
  std::size_t note = 0;
  std::uint64_t leftOut = 0;
  for (std::size_t i = 0; i < entries.size(); i++) {
    unsigned long long n = 0;
    if (std::sscanf(entries[i].c_str(), "(%llu lines left out here", &n) == 1) {
      note = i;
      leftOut = n;
    } else {
      bytes += entries[i].size();
      kept++;
    }
  }
  EXPECT_LE(bytes, bound);
  EXPECT_GT(bytes, bound - 2 * (padding.size() + 64));
  ASSERT_GT(note, 0u);
  EXPECT_EQ(kept + leftOut, count);
  EXPECT_EQ(logtest::messageOf(entries.front()), "line 0 " + padding);
  EXPECT_EQ(logtest::messageOf(entries.back()), "line " + std::to_string(count - 1) + " " + padding);
  // Around the note the lines run on from the head and into the tail.
  const std::string before = logtest::messageOf(entries[note - 1]);
  const std::string after = logtest::messageOf(entries[note + 1]);
  const std::size_t last_of_head = std::stoul(before.substr(5));
  EXPECT_EQ(std::stoul(after.substr(5)), last_of_head + 1 + leftOut);
  EXPECT_EQ(fileLinesOf(log->currentLogFilePath()).size(), count);
}

TEST_F(VXLogTest, UnusableDirectoryStillLogsToConsoleAndEntries) {
  ASSERT_TRUE(Paths::writeAtomic(dir / "taken", "a file"));
  auto log = startLog(dir / "taken");
  console.clear();
  log->log("still here");
  log->logWithCString("and %s\n", "here");
  log->flushLog();
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"still here", "and here"}));
  EXPECT_EQ(messagesOf(log->logEntries()), (std::vector<std::string>{"still here", "and here"}));
  EXPECT_EQ(Paths::readFile(dir / "taken"), "a file");
}

// A quiet console (a player's terminal) shows the errors only; every line,
// whatever its kind, still reaches the file and the entries. Loud, the
// console shows lines and errors, and details when asked for.
TEST_F(VXLogTest, AQuietConsoleShowsErrorsOnly) {
  struct Case {
    bool quiet, details;
    std::vector<std::string> console;
  };
  const Case cases[] = {
      {true, false, {"no sound"}},
      {true, true, {"no sound"}},
      {false, false, {"a line", "no sound"}},
      {false, true, {"a line", "a detail", "no sound"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    const std::string logDir = dir / ("quiet" + std::to_string(n++));
    ASSERT_TRUE(Paths::mkdirs(logDir));
    console.clear();
    auto log = VXLog::start(logDir, console.sink(), c.quiet);
    log->setDetailsToConsole(c.details);
    log->log("a line");
    log->logDetail("a detail\n");
    log->logError("no sound\n");
    log->flushLog();
    EXPECT_EQ(console.lines(), c.console);
    const std::vector<std::string> all = {"a line", "a detail", "no sound"};
    EXPECT_EQ(messagesOf(log->logEntries()), all);
    EXPECT_EQ(messagesOf(fileLinesOf(logDir + "/current.log")), all);
  }
  // Quiet from its start, a log says nothing of making its directory, but
  // still reports one it cannot use.
  console.clear();
  VXLog::start(dir / "fresh/log", console.sink(), true)->flushLog();
  EXPECT_TRUE(console.lines().empty());
  ASSERT_TRUE(Paths::writeAtomic(dir / "blocked", "x"));
  VXLog::start(dir / "blocked", console.sink(), true)->flushLog();
  ASSERT_FALSE(console.lines().empty());
  EXPECT_EQ(console.lines()[0].rfind("error: ", 0), 0u) << console.lines()[0];
}

// ---- start, directories, saved logs ----

TEST_F(VXLogTest, StartMovesCurrentLogToPrevious) {
  struct Case {
    std::optional<std::string> current, previous;  // before the start
    std::optional<std::string> previousAfter;
  };
  const Case cases[] = {
      {"this run\n", "run before\n", "this run\n"},
      {"this run\n", std::nullopt, "this run\n"},
      {std::nullopt, "run before\n", "run before\n"},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(n));
    std::string logDir = dir / ("case" + std::to_string(n++));
    ASSERT_TRUE(Paths::mkdirs(logDir));
    if (c.current) {
      ASSERT_TRUE(Paths::writeAtomic(logDir + "/current.log", *c.current));
    }
    if (c.previous) {
      ASSERT_TRUE(Paths::writeAtomic(logDir + "/previous.log", *c.previous));
    }
    auto log = startLog(logDir);
    EXPECT_EQ(Paths::readFile(logDir + "/previous.log"), c.previousAfter);
    EXPECT_EQ(Paths::readFile(logDir + "/current.log"), "");
    EXPECT_EQ(log->currentLogFilePath(), logDir + "/current.log");
    EXPECT_EQ(log->previousLogFilePath(), logDir + "/previous.log");
  }
  EXPECT_TRUE(console.lines().empty());
}

TEST_F(VXLogTest, DirectoryMethodsReportOnTheConsoleOnly) {
  ASSERT_TRUE(Paths::writeAtomic(dir / "file", "x"));
  ASSERT_TRUE(Paths::mkdirs(dir / "withfile"));
  ASSERT_TRUE(Paths::writeAtomic(dir / "withfile/saved", "x"));
  struct Case {
    std::string logDir;
    bool removeFirst;  // take away what the log's start created
    bool saved;        // savedLogDirectory() instead of logDirectory()
    std::string answer;
    std::vector<std::string> console;
  };
  const std::string missing = dir / "missing/log";
  const Case cases[] = {
      {missing, true, false, missing, {"log directory doesn't exist, creating..."}},
      {missing, false, false, missing, {}},  // now there
      {missing, false, true, missing + "/saved", {"saved log directory doesn't exist, creating..."}},
      {missing, false, true, missing + "/saved", {}},
      {dir / "file", false, false, "",
       {"error: preexisting file at log directory path not a directory (" + dir / "file" + ")"}},
      {dir / "withfile", false, true, "",
       {"error: preexisting file at saved log directory path not a directory (" + dir / "withfile/saved" +
        ")"}},
      {dir / "file/log", false, false, "",
       {"log directory doesn't exist, creating...",
        "error: unable to create log directory at '" + dir / "file/log" + "'"}},
      {dir / "file", false, true, "",
       {"saved log directory doesn't exist, creating...",
        "error: unable to create saved log directory at '" + dir / "file/saved" + "'"}},
  };
  auto logFor = [&](const std::string& logDir) {
    console.clear();
    auto log = std::make_unique<VXLog>(logDir, console.sink());
    console.clear();
    return log;
  };
  std::map<std::string, std::unique_ptr<VXLog>> logs;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(n++));
    if (!logs.count(c.logDir)) logs[c.logDir] = logFor(c.logDir);
    VXLog& log = *logs[c.logDir];
    if (c.removeFirst) {
      ASSERT_TRUE(Paths::remove(c.logDir));
    }
    console.clear();
    EXPECT_EQ(c.saved ? log.savedLogDirectory() : log.logDirectory(), c.answer);
    EXPECT_EQ(console.lines(), c.console);
    if (!c.answer.empty()) {
      EXPECT_TRUE(Paths::isDirectory(c.answer));
    }
    log.flushLog();
    EXPECT_TRUE(log.logEntries().empty());  // nothing went to the log itself
  }
}

class SavedLogsTest : public VXLogTest {
 protected:
  void SetUp() override {
    VXLogTest::SetUp();
    logDir = dir / "log";
    savedDir = logDir + "/saved";
    ASSERT_TRUE(Paths::mkdirs(savedDir));
    ASSERT_TRUE(Paths::writeAtomic(logDir + "/current.log", "the run before\n"));
    log = startLog(logDir);  // makes it previous.log
  }
  // A saved log whose modification time is hoursAgo before the test began
  // (equal hours give equal times).
  void addSaved(const std::string& name, int hoursAgo) {
    std::string path = savedDir + "/" + name;
    ASSERT_TRUE(Paths::writeAtomic(path, name));
    fs::last_write_time(path, began - std::chrono::hours(hoursAgo));
  }

  const fs::file_time_type began = fs::file_time_type::clock::now();
  std::string logDir, savedDir;
  std::unique_ptr<VXLog> log;
};

TEST_F(SavedLogsTest, SaveKeepsAtMostFiveAndPurgesTheOldest) {
  const double t = 1245069296.789;
  platform::Clock::Override fixed(t);
  // Oldest first: B and C tie (B comes first), then E.
  const std::pair<const char*, int> existing[] = {{"A", 5}, {"B", 9}, {"C", 9}, {"D", 1},
                                                  {"E", 8}, {"F", 2}, {"G", 7}};
  for (auto [name, hoursAgo] : existing) addSaved(name, hoursAgo);

  log->savePreviousLog();
  log->flushLog();

  const std::string saved = savedDir + "/saved_" + platform::formatDate(platform::kDateFileStamp, t) + ".log";
  EXPECT_EQ(Paths::listDir(savedDir),
            (std::vector<std::string>{"A", "D", "F", "G", "saved_" +
                                      platform::formatDate(platform::kDateFileStamp, t) + ".log"}));
  EXPECT_EQ(Paths::readFile(saved), "the run before\n");
  EXPECT_EQ(messagesOf(log->logEntries()),
            (std::vector<std::string>{"purging old log file '" + savedDir + "/B'",
                                      "purging old log file '" + savedDir + "/C'",
                                      "purging old log file '" + savedDir + "/E'",
                                      "saving previous log to '" + saved + "'"}));
}

TEST_F(SavedLogsTest, SaveWithHeaderAndWithoutPreviousLog) {
  const double t = 1245069296.789;
  platform::Clock::Override fixed(t);
  log->savePreviousLog(std::string("crash report\n"));
  const std::string saved = savedDir + "/saved_" + platform::formatDate(platform::kDateFileStamp, t) + ".log";
  EXPECT_EQ(Paths::readFile(saved), "crash report\nthe run before\n");

  // Saving again under the same name fails and says so.
  log->savePreviousLog();
  log->flushLog();
  EXPECT_EQ(messagesOf(log->logEntries()),
            (std::vector<std::string>{"saving previous log to '" + saved + "'",
                                      "saving previous log to '" + saved + "'",
                                      "error: unable to save previous log to '" + saved + "'"}));

  // Without previous.log nothing happens.
  ASSERT_TRUE(Paths::remove(logDir + "/previous.log"));
  log->savePreviousLog();
  log->flushLog();
  EXPECT_EQ(log->logEntries().size(), 3u);
  EXPECT_EQ(Paths::listDir(savedDir).size(), 1u);
}

TEST_F(SavedLogsTest, PurgeDeletesEverySavedLog) {
  for (const char* name : {"x", "y", "z"}) addSaved(name, 1);
  log->purgeSavedLogs();
  log->flushLog();
  EXPECT_TRUE(Paths::listDir(savedDir).empty());
  EXPECT_EQ(messagesOf(log->logEntries()),
            (std::vector<std::string>{"purging old log file '" + savedDir + "/x'",
                                      "purging old log file '" + savedDir + "/y'",
                                      "purging old log file '" + savedDir + "/z'"}));
  EXPECT_EQ(console.lines().size(), 3u);
}

// ---- the shared log and the C entries ----

TEST(SharedVXLog, CEntriesReachTheSharedLogPerThread) {
  VXLog& shared = VXLog::sharedVXLog();
  EXPECT_EQ(&shared, &VXLog::sharedVXLog());
  EXPECT_EQ(shared.logDirectory(), Paths::join(Paths::documents(), "log"));

  const std::string tag = "c-entry-" + std::to_string(platform::Clock::now());
  std::thread other([&] {
    VX_logf("%s other ", tag.c_str());
    VX_logf("line\n");
    VX_logf("%s unfinished", tag.c_str());  // handed on when the thread ends
  });
  VX_logf("%s main ", tag.c_str());
  other.join();
  VX_logf("line\n");
  shared.flushLog();

  std::vector<std::string> mine;
  for (const std::string& m : messagesOf(shared.logEntries())) {
    if (m.rfind(tag, 0) == 0) mine.push_back(m);
  }
  std::sort(mine.begin(), mine.end());
  EXPECT_EQ(mine, (std::vector<std::string>{tag + " main line", tag + " other line", tag + " unfinished"}));
  std::string file = Paths::readFile(shared.currentLogFilePath()).value_or("");
  EXPECT_NE(file.find("] " + tag + " main line\n"), std::string::npos);
}

// ---- a console whose reader has gone away ----

// Writing to standard error after its reader closed the pipe raises no
// SIGPIPE (which by default would end the process, and which a handler that
// reports on the console would only raise again): the write fails quietly
// and console writing ends.
TEST(VXLogConsole, AClosedPipeEndsConsoleWritingWithoutSigpipe) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fds[2];
    if (pipe(fds) != 0) _exit(2);
    close(fds[0]);
    dup2(fds[1], STDERR_FILENO);
    close(fds[1]);
    signal(SIGPIPE, SIG_DFL);
    VXLog::printToStderr("nobody reads this");
    VXLog::printToStderr("nor this");
    _exit(7);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 7);
  }
}

// The chip program whose console reader goes away after the first line (as
// with `| head -1`) finishes its script instead of spinning for ever.
TEST(VXLogConsole, TheChipProgramFinishesWhenItsConsoleReaderLeaves) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string script = Paths::join(dir.path(), "many_lines.chip");
  ASSERT_TRUE(Paths::writeAtomic(script, "repeat (20000) { <<< \"line\", now >>>; }\n"));
  // A first run makes the log directory, so that its note is not the first
  // line of the run under test.
  run_command("'" + chip_program() + "' --silent '" + script + "' >/dev/null 2>&1");
  CommandRun run = run_command("timeout 60 sh -c \"'" + chip_program() + "' --silent '" + script +
                               "' 2>&1 | head -1\"");
  EXPECT_EQ(run.status, 0);  // 124: the timeout ended it
  EXPECT_EQ(run.out, "line 0.000000 \n");
}

}  // namespace
