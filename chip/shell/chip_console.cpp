// The shell's console and network VM.
#include "chip/shell/chip_console.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "chip/otf/chip_otf.h"

namespace {

// The wake pipe (created once) and the bytes read past the last line.
std::once_flag g_wake_once;
int g_wake[2] = {-1, -1};
std::string g_pending;
bool g_at_end = false;

void make_wake() {
  std::call_once(g_wake_once, [] {
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
  });
}

// Takes one line out of g_pending (without its end); FALSE when none is
// complete.
bool take_line(std::string& line) {
  size_t end = g_pending.find('\n');
  if (end == std::string::npos) return false;
  line.assign(g_pending, 0, end);
  g_pending.erase(0, end + 1);
  return true;
}

}  // namespace

void io_interrupt() {
  make_wake();
  if (g_wake[1] < 0) return;
  char byte = 'q';
  ssize_t n = write(g_wake[1], &byte, 1);
  (void)n;
}

void io_reset() {
  make_wake();
  char buffer[64];
  while (g_wake[0] >= 0 && read(g_wake[0], buffer, sizeof buffer) > 0) {
  }
  g_pending.clear();
  g_at_end = false;
}

char* io_readline(const char* prompt) {
  make_wake();
  if (prompt) {
    fputs(prompt, stdout);
    fflush(stdout);
  }
  std::string line;
  bool dropped = false;
  while (!take_line(line)) {
    if (g_at_end) {
      // The last line may end without a line end.
      if (g_pending.empty()) return nullptr;
      line.swap(g_pending);
      g_pending.clear();
      break;
    }
    struct pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
    int n = poll(p, g_wake[0] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (g_wake[0] >= 0 && p[1].revents)) return nullptr;
    char buffer[4096];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      g_at_end = true;
      continue;
    }
    g_pending.append(buffer, static_cast<size_t>(got));
    // A line beyond the limit keeps its beginning; the rest is dropped.
    if (g_pending.size() > IO_MAX_LINE && g_pending.find('\n') == std::string::npos) {
      g_pending.resize(IO_MAX_LINE);
      dropped = true;
    }
  }
  if (line.size() > IO_MAX_LINE) {
    line.resize(IO_MAX_LINE);
    dropped = true;
  }
  if (dropped) {
    fprintf(stderr, "[chip](via shell): line longer than %d bytes cut\n",
            static_cast<int>(IO_MAX_LINE));
  }
  char* result = static_cast<char*>(std::malloc(line.size() + 1));
  if (!result) return nullptr;
  std::memcpy(result, line.data(), line.size());
  result[line.size()] = '\0';
  return result;
}

void io_addhistory(const char*) {}

t_CPINT Chip_Console::next_command(const std::string& prompt, std::string& line) {
  char* text = io_readline(prompt.c_str());
  if (!text) {
    line.clear();
    return 0;
  }
  if (*text) io_addhistory(text);
  line = text;
  std::free(text);
  return 1;
}

void Chip_Console::next_result(const std::string& result) {
  fwrite(result.data(), 1, result.size(), stdout);
  fflush(stdout);
}

// ---------------------------------------------------------------------------
// Network VM

t_CPBOOL Chip_Shell_Network_VM::send(const char* option, const std::vector<std::string>& args,
                                     const char* failure, std::string& out) {
  std::vector<const char*> argv;
  argv.push_back(option);
  for (const std::string& a : args) argv.push_back(a.c_str());
  long i = 0;
  if (otf_send_cmd(static_cast<int>(argv.size()), argv.data(), i, m_hostname.c_str(), m_port)) {
    return TRUE;
  }
  out += failure;
  return FALSE;
}

t_CPBOOL Chip_Shell_Network_VM::add_shred(const std::vector<std::string>& args,
                                          std::string& out) {
  return send("+", args, "add: error: command failed\n", out);
}

t_CPBOOL Chip_Shell_Network_VM::remove_shred(const std::vector<std::string>& args,
                                             std::string& out) {
  return send("-", args, "remove: error: command failed\n", out);
}

t_CPBOOL Chip_Shell_Network_VM::remove_all(std::string& out) {
  return send("--removeall", {}, "removeall: error: command failed\n", out);
}

t_CPBOOL Chip_Shell_Network_VM::remove_last(std::string& out) {
  return send("--", {}, "removelast: error: command failed\n", out);
}

t_CPBOOL Chip_Shell_Network_VM::replace_shred(const std::vector<std::string>& args,
                                              std::string& out) {
  if (args.size() < 2) {
    out += "replace: error: insufficient arguments...\n";
    return FALSE;
  }
  t_CPBOOL ok = send("--replace", {args[0], args[1]}, "replace: error: command failed\n", out);
  // Only the id and the source are sent: any further word is reported.
  if (args.size() > 2) {
    out += "repalce: warning: ignoring excess arguments\n";
    return FALSE;
  }
  return ok;
}

t_CPBOOL Chip_Shell_Network_VM::status(std::string& out) {
  return send("--status", {}, "status: error: command failed\n", out);
}

t_CPBOOL Chip_Shell_Network_VM::kill(std::string& out) {
  return send("--kill", {}, "kill: error: command failed", out);
}

std::string Chip_Shell_Network_VM::fullname() {
  char port[16];
  std::snprintf(port, sizeof port, ":%u", static_cast<unsigned>(m_port));
  return m_hostname + port;
}
