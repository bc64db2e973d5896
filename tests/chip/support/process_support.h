// The built chip program as a running process that a test talks to: it is
// started with its standard output and error on one pipe, the test waits
// for a line it prints (a script prints "listening" once it is ready, and
// the test goes on only then), and collects the rest and the way it ended.
// No sleeping: waits end on the awaited line, on the program's end, or on a
// generous deadline that only a fault reaches (the program is then killed).
#ifndef TESTS_CHIP_PROCESS_SUPPORT_H
#define TESTS_CHIP_PROCESS_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "chip_program_support.h"

class ChipProcess {
 public:
  // Runs `chip --silent <args...>` in folder dir.
  ChipProcess(const std::string& dir, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::string program = chip_program();
    m_pid = fork();
    if (m_pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      if (chdir(dir.c_str()) != 0) _exit(127);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      argv.push_back(const_cast<char*>("--silent"));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    m_fd = fds[0];
  }

  ~ChipProcess() {
    if (m_pid > 0 && !m_ended) {
      kill(m_pid, SIGKILL);
      finish();
    }
    if (m_fd >= 0) close(m_fd);
  }

  // Reads until a line equal to `line` arrived; false when the program
  // ended or the deadline passed first.
  bool wait_for_line(const std::string& line, int seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      if (has_line(line)) return true;
      if (m_closed) return false;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      read_some(static_cast<int>(left.count()));
    }
  }

  // Reads until text appears anywhere in the output; false when the program
  // ended or the deadline passed first.
  bool wait_for_text(const std::string& text, int seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      if (m_output.find(text) != std::string::npos) return true;
      if (m_closed) return false;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      read_some(static_cast<int>(left.count()));
    }
  }

  // Waits for the end (killing the program after the deadline); the whole
  // output.
  const std::string& finish(int seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!m_closed) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        kill(m_pid, SIGKILL);
        m_killed = true;
        left = std::chrono::milliseconds(5000);
      }
      read_some(static_cast<int>(left.count()));
    }
    if (!m_ended && m_pid > 0) {
      int status = 0;
      while (waitpid(m_pid, &status, 0) < 0) {
      }
      m_status = status;
      m_ended = true;
    }
    return m_output;
  }

  pid_t pid() const { return m_pid; }
  const std::string& output() const { return m_output; }
  bool exited() const { return m_ended && WIFEXITED(m_status); }
  int exit_status() const { return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1; }
  int signal() const { return WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }
  bool killed_at_deadline() const { return m_killed; }

 private:
  bool has_line(const std::string& line) const {
    return m_output.rfind(line + "\n", 0) == 0 ||
           m_output.find("\n" + line + "\n") != std::string::npos;
  }

  void read_some(int timeout_ms) {
    struct pollfd p = {m_fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return;
    char buffer[4096];
    ssize_t n = read(m_fd, buffer, sizeof buffer);
    if (n > 0) {
      m_output.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      m_closed = true;
    }
  }

  pid_t m_pid = -1;
  int m_fd = -1;
  bool m_closed = false;
  bool m_ended = false;
  bool m_killed = false;
  int m_status = 0;
  std::string m_output;
};

#endif
