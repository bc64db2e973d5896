// The built chip program, for tests that run it as a user would.
//
// chip_program is the program's path, found beside the test program (which
// sits in <build>/tests; the chip program in <build>/bin). run_command runs
// a shell command line and collects what it writes to standard output (a
// test that wants the errors too ends its line with 2>&1) and its exit
// status.
#ifndef TESTS_CHIP_CHIP_PROGRAM_SUPPORT_H
#define TESTS_CHIP_CHIP_PROGRAM_SUPPORT_H

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

// The chip program beside this test program: <build>/bin/chip.
inline std::string chip_program() {
  char self[PATH_MAX] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? (size_t)n : 0);
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/bin/chip";
}

struct CommandRun {
  std::string out;  // what the command wrote to its standard output
  int status;       // its exit status; -1 when it did not exit normally
};

// Runs command through the shell and waits for it; status -1 and no output
// when it could not be started.
inline CommandRun run_command(const std::string& command) {
  CommandRun run{"", -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

#endif
