// The machine's memory, seen through the chip program as a user runs it:
// a script that runs out of memory ends in its own shred with OutOfMemory
// (the program goes on and exits normally), and what a script lets go of
// while it runs is given back at once (the program's peak resident memory
// does not grow with the number of iterations).
//
// The scripts run as child processes, under an address-space limit where
// memory must run out; the peak resident memory of a child comes from the
// kernel's accounting of it (wait4). The sanitizer build cannot run under
// such a limit and keeps freed memory aside on purpose, so these tests run
// in the optimised build only.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "chip_program_support.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::string write_script(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

struct ChildRun {
  std::string out;     // standard output and error together
  int status = -1;     // exit status; -1 when it did not exit normally
  int signal = 0;      // the signal that ended it, if one did
  long max_rss_kb = 0;  // its peak resident memory
};

// Runs `chip --silent script`, with at most address_space_kb of address
// space when that is not 0.
ChildRun run_chip(const std::string& script, long address_space_kb = 0) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  const std::string program = chip_program();
  pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    if (address_space_kb > 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(address_space_kb) * 1024;
      setrlimit(RLIMIT_AS, &limit);
    }
    execl(program.c_str(), program.c_str(), "--silent", script.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    run.out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  // A fresh home's first run notes that it creates the log directory.
  const std::string note = "log directory doesn't exist, creating...\n";
  if (run.out.rfind(note, 0) == 0) run.out.erase(0, note.size());
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.max_rss_kb = usage.ru_maxrss;
  return run;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every allocation a script can cause, failing, ends the shred that caused
// it with OutOfMemory; the other shreds go on and the program exits normally
// (nothing aborts on an uncaught std::bad_alloc, in the machine or in the
// log).
TEST(VMMemoryTest, RunningOutOfMemoryEndsOnlyTheShredThatDidIt) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit does not suit the sanitizer build";
  const struct {
    const char* label;
    const char* body;  // of the greedy shred
  } cases[] = {
      {"object array", "Object many[3000000];"},
      {"live shreds", "while (true) spork ~ sleeper();"},
      {"waiting shreds", "Event e; while (true) spork ~ waiter(e);"},
      {"string", "\"0123456789\" => string s; while (true) s + s => s;"},
      {"array append", "int a[0]; while (true) a << 1;"},
      {"array size", "int a[0]; a.size(1000000000);"},
      {"array literals", "int keep[0][0]; while (true) keep << [1, 2, 3, 4, 5, 6, 7, 8];"},
      {"unit generators", "SinOsc keep[0]; while (true) { SinOsc s => Gain g; keep << s; }"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string script = write_script(
        "oom.chip", std::string("fun void sleeper() { 1::week => now; }\n") +
                        "fun void waiter(Event e) { e => now; }\n" + "fun void greedy() { " +
                        c.body + " }\nspork ~ greedy();\n1::samp => now;\n" +
                        "<<< \"main goes on\" >>>;\n");
    ChildRun run = run_chip(script, 300 * 1024);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.signal, 0) << run.out;
    EXPECT_TRUE(contains(run.out, "[chip](VM): OutOfMemory")) << run.out;
    EXPECT_TRUE(contains(run.out, "\"main goes on\" : (string)\n")) << run.out;
    EXPECT_FALSE(contains(run.out, "bad_alloc")) << run.out;
  }
}

// What a script drops while it runs is given back at once: ten times the
// iterations leave the program's peak resident memory where it was. (Without
// that, a connected pair of unit generators kept about 1.4 KB until its shred
// ended, and a finished shred its stacks until time next advanced.)
TEST(VMMemoryTest, MemoryDroppedInALoopIsGivenBackAtOnce) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer build keeps freed memory aside on purpose";
  const struct {
    const char* label;
    const char* loop;  // %d: the iterations
    int iterations;
  } cases[] = {
      {"linked pairs of unit generators", "repeat (%d) { SinOsc s => Gain g; }", 20000},
      {"finished shreds", "fun void brief() {} repeat (%d) { spork ~ brief(); me.yield(); }", 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    long peak[2] = {0, 0};
    for (int run_index = 0; run_index < 2; run_index++) {
      const int iterations = c.iterations * (run_index == 0 ? 1 : 10);
      char loop[256];
      std::snprintf(loop, sizeof loop, c.loop, iterations);
      const std::string script =
          write_script("loop.chip", std::string(loop) + "\n<<< \"done\" >>>;\n");
      ChildRun run = run_chip(script);
      ASSERT_EQ(run.out, "\"done\" : (string)\n");
      ASSERT_EQ(run.status, 0);
      peak[run_index] = run.max_rss_kb;
    }
    // Kept memory would add well over 200 MB over the extra iterations.
    EXPECT_LT(peak[1] - peak[0], 32 * 1024) << peak[0] << " KB, then " << peak[1] << " KB";
  }
}

}  // namespace
