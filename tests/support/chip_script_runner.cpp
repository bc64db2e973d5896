// Runs one Chip test script through the chip program and compares what it
// prints with what the script says it prints.
//
// A script states its expected console output in comments:
//   // expect: <exact line>     one per output line, in order
//   // expect exit: <n>         the exit status (0 when not given)
// The program runs in the script's own folder as `chip --silent <name>`, so
// messages (and the shred the file runs in) name the script as a user
// running it there would see, wherever the tree is checked out; standard
// output and standard error are read together, as at a terminal.
//
// Usage: chip_script_runner [--expect-mismatch] <chip program> <script>
// With --expect-mismatch the runner checks itself: it succeeds only when the
// program ran to a normal exit and its output or status differed from the
// script's expectations.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Expectations {
  std::vector<std::string> lines;
  int exit_status = 0;
};

struct Outcome {
  std::vector<std::string> lines;
  bool exited = false;  // false: killed by a signal or never started
  int exit_status = -1;
  int signal = 0;
};

const char kExpect[] = "// expect:";
const char kExpectExit[] = "// expect exit:";

bool read_expectations(const std::string& path, Expectations& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open script '" + path + "'";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = line.find(kExpectExit);
    if (at != std::string::npos) {
      std::string value = line.substr(at + sizeof(kExpectExit) - 1);
      char* end = nullptr;
      long status = std::strtol(value.c_str(), &end, 10);
      if (end == value.c_str()) {
        error = path + ":" + std::to_string(number) + ": 'expect exit:' needs a number";
        return false;
      }
      out.exit_status = static_cast<int>(status);
      continue;
    }
    at = line.find(kExpect);
    if (at != std::string::npos) {
      std::string text = line.substr(at + sizeof(kExpect) - 1);
      // One blank separates the marker from the line; the rest is exact.
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      out.lines.push_back(text);
    }
  }
  return true;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

Outcome run_program(const std::string& program, const std::string& script) {
  Outcome outcome;
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("chip_script_runner: pipe");
    return outcome;
  }
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("chip_script_runner: fork");
    return outcome;
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    const size_t slash = script.rfind('/');
    std::string name = script;
    if (slash != std::string::npos) {
      const std::string folder = slash == 0 ? "/" : script.substr(0, slash);
      if (chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "chip_script_runner: cannot enter '%s': %s\n", folder.c_str(),
                     std::strerror(errno));
        _exit(127);
      }
      name = script.substr(slash + 1);
    }
    execl(program.c_str(), program.c_str(), "--silent", name.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "chip_script_runner: cannot run '%s': %s\n", program.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(fds[1]);
  std::string output;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.lines = split_lines(output);
  if (WIFEXITED(status)) {
    outcome.exited = true;
    outcome.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

void print_block(const char* title, const std::vector<std::string>& lines) {
  std::cout << "--- " << title << " (" << lines.size() << " lines)\n";
  for (const std::string& line : lines) std::cout << "  | " << line << "\n";
}

// Compares and explains; true when everything matched.
bool compare(const std::string& script, const Expectations& expected, const Outcome& actual) {
  bool same = actual.exited && actual.lines == expected.lines &&
              actual.exit_status == expected.exit_status;
  if (same) return true;

  std::cout << "script: " << script << "\n";
  size_t common = std::min(expected.lines.size(), actual.lines.size());
  size_t first = 0;
  while (first < common && expected.lines[first] == actual.lines[first]) first++;
  if (first < expected.lines.size() || first < actual.lines.size()) {
    std::cout << "output differs at line " << first + 1 << ":\n";
    std::cout << "  expected: "
              << (first < expected.lines.size() ? expected.lines[first] : "(no more lines)") << "\n";
    std::cout << "  got:      "
              << (first < actual.lines.size() ? actual.lines[first] : "(no more lines)") << "\n";
  }
  if (!actual.exited) {
    std::cout << "the program did not exit normally";
    if (actual.signal) std::cout << " (signal " << actual.signal << ")";
    std::cout << "\n";
  } else if (actual.exit_status != expected.exit_status) {
    std::cout << "exit status: expected " << expected.exit_status << ", got " << actual.exit_status
              << "\n";
  }
  print_block("expected output", expected.lines);
  print_block("actual output", actual.lines);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool expect_mismatch = false;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--expect-mismatch") == 0) {
    expect_mismatch = true;
    arg++;
  }
  if (argc - arg != 2) {
    std::cerr << "usage: chip_script_runner [--expect-mismatch] <chip program> <script.chip>\n";
    return 2;
  }
  std::string program = argv[arg];
  std::string script = argv[arg + 1];

  Expectations expected;
  std::string error;
  if (!read_expectations(script, expected, error)) {
    std::cerr << "chip_script_runner: " << error << "\n";
    return 2;
  }
  Outcome actual = run_program(program, script);
  bool matched = compare(script, expected, actual);

  if (expect_mismatch) {
    if (!actual.exited) {
      std::cout << "self-check failed: the program must run to a normal exit\n";
      return 1;
    }
    if (matched) {
      std::cout << "self-check failed: a wrong expectation was not reported\n";
      return 1;
    }
    std::cout << "self-check passed: the mismatch was reported\n";
    return 0;
  }
  return matched ? 0 : 1;
}
