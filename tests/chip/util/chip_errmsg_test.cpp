#include "chip/util/chip_errmsg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"

namespace {

std::vector<std::string> printed(const std::function<void()>& fn) { return printed_lines(fn); }

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLevel = g_loglevel;
    g_logstack = 0;
  }
  void TearDown() override {
    g_loglevel = savedLevel;
    g_logstack = 0;
    EM_reset(nullptr, nullptr);
  }
  // Positions as the scanner leaves them for "ab\ncd\nef": a newline at
  // running positions 3 and 6.
  void threeLines(const char* name) {
    EM_reset(name, nullptr);
    EM_tokPos = 3;
    EM_newline();
    EM_tokPos = 6;
    EM_newline();
  }
  int savedLevel = 0;
};

TEST_F(ErrorTest, ErrorNamesFileLineAndCharacter) {
  struct Case {
    const char* file;
    int pos;
    const char* line;
  };
  const Case cases[] = {
      {"/a/b/foo.chip", 1, "[foo.chip]:line(1).char(1): bad 7"},
      {"/a/b/foo.chip", 2, "[foo.chip]:line(1).char(2): bad 7"},
      {"/a/b/foo.chip", 4, "[foo.chip]:line(2).char(1): bad 7"},
      {"/a/b/foo.chip", 8, "[foo.chip]:line(3).char(2): bad 7"},
      // The very first position lies before every line start: no position.
      {"/a/b/foo.chip", 0, "[foo.chip]: bad 7"},
      {nullptr, 5, "[chip]:line(2).char(2): bad 7"},
      {"", 5, "[chip]:line(2).char(2): bad 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    threeLines(c.file);
    EXPECT_FALSE(anyErrors);
    std::vector<std::string> lines = printed([&] { EM_error(c.pos, "bad %d", 7); });
    EXPECT_EQ(lines, std::vector<std::string>{c.line});
    EXPECT_STREQ(g_lasterror, c.line);
    EXPECT_TRUE(anyErrors);
  }
}

TEST_F(ErrorTest, Error2NamesLineOnlyAndError3NoPosition) {
  threeLines("dir/bar.chip");
  std::vector<std::string> lines = printed([] {
    EM_error2(0, "no line here");
    EM_error2(12, "at %s", "twelve");
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"[bar.chip]: no line here",
                                             "[bar.chip]:line(12): at twelve"}));
  EXPECT_STREQ(g_lasterror, "[bar.chip]:line(12): at twelve");
  EXPECT_EQ(EM_extLineNum, 12);
  EXPECT_FALSE(anyErrors);  // only EM_error marks the source as failed

  lines = printed([] { EM_error3("plain %d", 3); });
  EXPECT_EQ(lines, std::vector<std::string>{"plain 3"});
  EXPECT_STREQ(g_lasterror, "plain 3");
}

TEST_F(ErrorTest, LongTextsAreCutNeverOverrun) {
  std::string longName = "/tmp/" + std::string(3000, 'n') + ".chip";
  EM_reset(longName.c_str(), nullptr);
  EXPECT_EQ(std::strlen(EM_filename()), EM_MAX_TEXT - 1u);

  EM_reset("x.chip", nullptr);
  std::string message(5000, 'm');
  std::vector<std::string> lines = printed([&] { EM_error2(0, "%s", message.c_str()); });
  // The console gets all of it; the last-error text keeps what fits.
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[x.chip]: " + message);
  EXPECT_EQ(std::strlen(g_lasterror), EM_MAX_TEXT - 1u);
  EXPECT_EQ(lines[0].compare(0, EM_MAX_TEXT - 1, g_lasterror), 0);
}

TEST_F(ErrorTest, ResetAndChangeFileSetLineCounters) {
  threeLines("a.chip");
  EXPECT_EQ(EM_lineNum, 3);
  EXPECT_EQ(EM_extLineNum, 3);
  EM_change_file("b.chip");
  EXPECT_EQ(EM_lineNum, 0);
  EXPECT_STREQ(EM_filename(), "b.chip");
  EM_change_file(nullptr);
  EXPECT_STREQ(EM_filename(), "");
  EM_reset("c.chip", nullptr);
  EXPECT_EQ(EM_lineNum, 1);
}

TEST_F(ErrorTest, LogFiltersByLevelAndClampsIt) {
  g_loglevel = CP_LOG_INFO;
  std::vector<std::string> lines = printed([] {
    EM_log(CP_LOG_INFO, "shown %d", 5);
    EM_log(CP_LOG_CONFIG, "hidden");
    EM_log(0, "zero prints as core");
    EM_log(-3, "negative too");
    EM_log(15, "fifteen is ALL, hidden below 10");
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"[chip]:(5:INFORM): shown 5",
                                             "[chip]:(1:CPCORE): zero prints as core",
                                             "[chip]:(1:CPCORE): negative too"}));

  g_loglevel = CP_LOG_ALL;
  lines = printed([] { EM_log(15, "fifteen"); });
  EXPECT_EQ(lines, std::vector<std::string>{"[chip]:(10:ALL!!): fifteen"});

  g_loglevel = CP_LOG_NONE;
  lines = printed([] { EM_log(CP_LOG_CORE, "nothing at level 0"); });
  EXPECT_TRUE(lines.empty());
}

TEST_F(ErrorTest, LogIndentsByDepthAndNeverBelowZero) {
  g_loglevel = CP_LOG_ALL;
  std::vector<std::string> lines = printed([] {
    EM_log(CP_LOG_SYSTEM, "outer");
    EM_pushlog();
    EM_log(CP_LOG_SYSTEM, "one");
    EM_pushlog();
    EM_log(CP_LOG_FINE, "two");
    EM_poplog();
    EM_poplog();
    EM_poplog();  // already at 0
    EM_log(CP_LOG_SYSTEM, "back");
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"[chip]:(2:SYSTEM): outer",
                                             "[chip]:(2:SYSTEM):  | one",
                                             "[chip]:(7:FINE!!):  |  | two",
                                             "[chip]:(2:SYSTEM): back"}));
  EXPECT_EQ(g_logstack, 0);
}

TEST_F(ErrorTest, SetLogClampsAndAnnounces) {
  std::vector<std::string> lines = printed([] { EM_setlog(42); });
  EXPECT_EQ(g_loglevel, CP_LOG_ALL);
  EXPECT_EQ(lines, std::vector<std::string>{"[chip]:(2:SYSTEM): setting log level to: 10 (ALL!!)..."});

  lines = printed([] { EM_setlog(1); });
  EXPECT_EQ(g_loglevel, CP_LOG_CORE);
  EXPECT_TRUE(lines.empty());  // the announcement is at level 2

  EM_setlog(-1);
  EXPECT_EQ(g_loglevel, CP_LOG_NONE);
}

TEST_F(ErrorTest, ThreadsLoggingAtOnceKeepWholeLines) {
  g_loglevel = CP_LOG_INFO;
  const int kThreads = 6;
  const int kLines = 200;
  std::vector<std::string> lines = printed([&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLines; i++) EM_log(CP_LOG_INFO, "thread %d line %d end", t, i);
      });
    }
    for (std::thread& th : threads) th.join();
  });
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "[chip]:(5:INFORM): thread %d line %d end", &t, &i), 2)
        << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++) << "thread " << t << " out of order";
  }
}

TEST(MiniTest, PathAndTypeNames) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case paths[] = {{"/a/b/foo.chip", "foo.chip"}, {"foo.chip", "foo.chip"}, {"dir/", "/"},
                        {"/abc", "/abc"},             {"a\\b.chip", "b.chip"},  {"", ""}};
  for (const Case& c : paths) EXPECT_STREQ(mini(c.in), c.out) << c.in;

  const Case types[] = {{"struct 12Chip_Instr", "Chip_Instr"},
                        {"17Chip_Instr_Add_int", "Chip_Instr_Add_int"},
                        {"Chip_Instr", "Chip_Instr"},
                        {"struct Foo", "Foo"}};
  for (const Case& c : types) EXPECT_STREQ(mini_type(c.in), c.out) << c.in;
}

}  // namespace
