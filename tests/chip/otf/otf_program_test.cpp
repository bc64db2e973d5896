// Two chip programs: an engine that listens ("--loop") on a free loopback
// port and clients that send it every command; the client's exit status
// says whether the engine accepted.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "chip_program_support.h"
#include "loopback_port.h"
#include "proc_stat.h"
#include "process_support.h"

namespace {

// Whether every thread of process pid is found asleep at once before the
// deadline. A thread that spins is never asleep.
bool all_threads_asleep(pid_t pid, int seconds = 30) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    bool asleep = true;
    int threads = 0;
    if (DIR* dir = opendir(tasks.c_str())) {
      while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        threads++;
        if (proc_state(tasks + entry->d_name) != 'S') asleep = false;
      }
      closedir(dir);
    }
    if (asleep && threads > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

class OtfProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder per test: tests run side by side and write the same names.
    dir = ::testing::TempDir() + "otf_p_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    mkdir(dir.c_str(), 0700);
    std::ofstream(dir + "otf_p_ready.chip")
        << "<<< \"listening\" >>>;\nwhile (true) 1::second => now;\n";
    std::ofstream(dir + "otf_p_song.chip")
        << "<<< \"song\", me.args(), me.arg(0) >>>;\nwhile (true) 1::second => now;\n";
    std::ofstream(dir + "otf_p_new.chip") << "<<< \"new\", me.arg(0) >>>;\n1::week => now;\n";
    std::ofstream(dir + "otf_p_bad.chip") << "1 => undefined_name;\n";
    port = free_loopback_port(SOCK_STREAM);
  }

  // One client run: its exit status; its output in *out.
  int client(const std::string& args, std::string* out = nullptr) {
    CommandRun run = run_command("cd '" + dir + "' && '" + chip_program() + "' --port" +
                                 std::to_string(port) + " " + args + " 2>&1");
    if (out) {
      // A fresh home's first run notes that it made the log directory.
      const std::string note = "log directory doesn't exist, creating...\n";
      *out = run.out.rfind(note, 0) == 0 ? run.out.substr(note.size()) : run.out;
    }
    return run.status;
  }

  std::string dir;
  int port = 0;
};

TEST_F(OtfProgramTest, EveryCommandReachesTheEngine) {
  ChipProcess engine(dir, {"--loop", "--port" + std::to_string(port), "otf_p_ready.chip"});
  ASSERT_TRUE(engine.wait_for_line("\"listening\" : (string)")) << engine.output();
  struct Case {
    std::string args;
    int status;
    std::string engine_line;  // awaited in the engine's output ("" for none)
  } cases[] = {
      // (Every other command is covered in process by the listener's tests;
      // each client here is a whole program start.)
      {"+ otf_p_song.chip:2:x otf_p_song.chip:5", 0, "song 1 5 "},
      {"+ otf_p_bad.chip", 1, ""},
      {"- 99", 1, "[chip](VM): cannot remove: no shred with id 99..."},
      {"= 2 otf_p_new.chip:b", 0, "new b "},
      {"^", 0, "    [shred id]: 2  [source]: otf_p_new.chip  [spork time]: "},
      {"--", 0, "[chip](VM): removing recent shred: 3 (otf_p_song.chip)..."},
      {"--removeall", 0, "[chip](VM): removing all (2) shreds..."},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(client(c.args, &out), c.status) << out;
    if (!c.engine_line.empty()) {
      // The status line ends with a time: a prefix is enough there.
      if (c.args == "^") {
        EXPECT_TRUE(engine.wait_for_text(c.engine_line)) << engine.output();
      } else {
        EXPECT_TRUE(engine.wait_for_line(c.engine_line)) << engine.output();
      }
    }
  }
  // Both files of the first add arrived, each with its arguments.
  EXPECT_TRUE(engine.wait_for_line("song 2 2 ")) << engine.output();
  std::string out;
  EXPECT_EQ(client("--kill", &out), 0) << out;
  engine.finish();
  EXPECT_EQ(engine.exit_status(), 1) << engine.output();
  EXPECT_FALSE(engine.killed_at_deadline());
}

TEST_F(OtfProgramTest, NoEngineAndUnknownFlags) {
  std::string out;
  EXPECT_EQ(client("^", &out), 1);
  EXPECT_EQ(out, "cannot open TCP socket on 127.0.0.1:" + std::to_string(port) + "...\n");
  EXPECT_EQ(client("+", &out), 1);
  EXPECT_EQ(out, "[chip]: not enough arguments following [add]...\n");
  EXPECT_EQ(client("--frob", &out), 1);
  EXPECT_EQ(out.rfind("[chip]: invalid flag '--frob'\n", 0), 0u) << out;
}

// A silent engine with nothing to compute sleeps while it waits: all its
// threads are found asleep, before and after commands, and over their round
// trips it uses little processor time beside the time that passed.
TEST_F(OtfProgramTest, AnIdleEngineSleepsBetweenCommands) {
  std::ofstream(dir + "otf_p_once.chip") << "<<< \"listening\" >>>;\n";
  ChipProcess engine(dir, {"--loop", "--port" + std::to_string(port), "otf_p_once.chip"});
  ASSERT_TRUE(engine.wait_for_line("\"listening\" : (string)")) << engine.output();
  ASSERT_TRUE(all_threads_asleep(engine.pid())) << "the idle engine does not sleep";
  double cpu_before = proc_cpu_seconds("/proc/" + std::to_string(engine.pid()));
  auto wall_before = std::chrono::steady_clock::now();
  std::string out;
  EXPECT_EQ(client("+ otf_p_once.chip", &out), 0) << out;
  EXPECT_EQ(client("^", &out), 0) << out;
  EXPECT_TRUE(engine.wait_for_text("[chip](VM): status (now == ")) << engine.output();
  EXPECT_TRUE(all_threads_asleep(engine.pid())) << "the engine does not sleep again";
  double cpu = proc_cpu_seconds("/proc/" + std::to_string(engine.pid())) - cpu_before;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before)
                    .count();
  EXPECT_LT(cpu, wall / 2 + 0.05) << "processor " << cpu << " s in " << wall << " s";
}

// Halt on, or "--standalone": nothing listens.
TEST_F(OtfProgramTest, StandaloneEnginesDoNotListen) {
  ChipProcess engine(dir, {"--loop", "--standalone", "--port" + std::to_string(port),
                           "otf_p_ready.chip"});
  ASSERT_TRUE(engine.wait_for_line("\"listening\" : (string)")) << engine.output();
  std::string out;
  EXPECT_EQ(client("^", &out), 1);
  EXPECT_EQ(out, "cannot open TCP socket on 127.0.0.1:" + std::to_string(port) + "...\n");
}

}  // namespace
