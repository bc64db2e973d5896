// The fluvane program as a player starts it: a process of its own, in a
// folder of the test's, off screen, with SDL's disk audio driver (sound to
// /dev/null, silence from the microphone), no web service, and no list of
// leak suppressions from the leak checker at its end; what it
// writes to its terminal is kept in the folder (stdout.txt, stderr.txt).
// The test may send it signals and wait for files it writes, on events
// (inotify, and the process's own descriptor for its end), never on time.
#ifndef TESTS_CLASSES_FLUVANE_PROCESS_SUPPORT_H
#define TESTS_CLASSES_FLUVANE_PROCESS_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Paths.h"

extern char** environ;

class FluvaneProcess {
 public:
  // Starts FLUVANE_PROGRAM with args in folder (made when missing); env
  // entries are set (an empty value removes the variable) over the test's
  // own environment and the defaults above. Not started: pid() is -1.
  FluvaneProcess(const std::string& folder, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {})
      : folder_(folder) {
    platform::Paths::mkdirs(folder);
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; e++) {
      const char* eq = std::strchr(*e, '=');
      if (eq) vars[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
    vars["SDL_VIDEODRIVER"] = "offscreen";
    vars["SDL_AUDIODRIVER"] = "disk";
    vars["SDL_DISKAUDIOFILE"] = "/dev/null";
    vars["FLUVANE_SCALE"] = "1";
    vars.erase("SDL_DISKAUDIOFILEIN");
    vars.erase("FLUVANE_SERVICE_URL");
    // Under the leak checker the terminal is the program's alone: the list
    // of suppressions used at exit is not printed on it.
    std::string& leaks = vars["LSAN_OPTIONS"];
    leaks += leaks.empty() ? "print_suppressions=0" : ":print_suppressions=0";
    for (const auto& [name, value] : env) {
      if (value.empty()) {
        vars.erase(name);
      } else {
        vars[name] = value;
      }
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : vars) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText = {FLUVANE_PROGRAM};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "stdout.txt",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "stderr.txt",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ > 0) pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~FluvaneProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      wait();
    }
    if (pidFd_ >= 0) ::close(pidFd_);
  }
  FluvaneProcess(const FluvaneProcess&) = delete;
  FluvaneProcess& operator=(const FluvaneProcess&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
  }
  // The exit status; 128 + the signal's number when a signal ended it.
  int wait() {
    if (status_) return *status_;
    int raw = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &raw, 0) != pid_) return *(status_ = -1);
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return *status_;
  }
  // Waits until the file folder/name has been written and closed (true), or
  // the process has ended, or limitSeconds have passed (false).
  bool waitForFile(const std::string& name, double limitSeconds = 60) const {
    const std::string path = platform::Paths::join(folder_, name);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    ::inotify_add_watch(watch, folder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long>(limitSeconds * 1000));
    bool found = false;
    while (!(found = platform::Paths::exists(path))) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd fds[2] = {{watch, POLLIN, 0}, {pidFd_, POLLIN, 0}};
      if (::poll(fds, pidFd_ >= 0 ? 2 : 1, static_cast<int>(left.count())) <= 0) continue;
      if (fds[1].revents) {
        found = platform::Paths::exists(path);
        break;  // the program ended
      }
      char events[4096];
      if (::read(watch, events, sizeof events) < 0) break;
    }
    ::close(watch);
    return found;
  }
  std::string text(const std::string& name) const {
    std::ifstream in(platform::Paths::join(folder_, name));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string err() const { return text("stderr.txt"); }
  std::string out() const { return text("stdout.txt"); }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::optional<int> status_;
};

// Writes an automation script into the folder; answers its name.
inline std::string writeScript(const std::string& folder, const std::string& text) {
  platform::Paths::mkdirs(folder);
  std::ofstream(platform::Paths::join(folder, "play.fluvane")) << text;
  return "play.fluvane";
}

#endif
