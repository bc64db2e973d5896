// Soak of on-the-fly control: one engine under "--loop --silent" takes
// adds, removes, replaces and status requests from several clients at once
// for some minutes, and its memory is printed at the start, at points
// between and at the end; then, with its shreds removed, how much processor
// time it uses while it waits, and how many of a burst of simultaneous
// connections it answers. Not part of the tests: run it by hand.
//
//   build/bench/otf_soak [chip program] [minutes] [clients] [rate] [burst]
//
// Defaults: build/bin/chip, 10 minutes, 4 clients, 100 requests a second
// (all clients together; 0: as fast as the engine answers), a burst of
// 1000. Each client speaks the protocol itself, a connection per request as
// the `chip` client does. OTF_SOAK_LOG names a file for the engine's output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "chip/otf/chip_otf.h"
#include "loopback_port.h"
#include "proc_stat.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the clients add and put in place: one that ends at once, one that
// lives until removed (a class, functions, arrays, strings, generators).
const char kShort[] = "SinOsc s => Gain g => blackhole; 220 => s.freq; 5::ms => now;\n";
const char kLong[] =
    "class Voice {\n"
    "  SinOsc s; ADSR e; 0.1 => s.gain;\n"
    "  fun void play(float f) { f => s.freq; e.keyOn(); }\n"
    "  fun string name() { return \"voice \" + Std.itoa(s.freq() $ int); }\n"
    "}\n"
    "Voice voices[4];\n"
    "for (0 => int i; i < voices.size(); i++) voices[i].play(110.0 * (i + 1));\n"
    "float table[64];\n"
    "string names[0];\n"
    "while (true) {\n"
    "  for (0 => int i; i < table.size(); i++) Math.sin(i * 0.1) => table[i];\n"
    "  if (names.size() < 8) names << voices[0].name();\n"
    "  50::ms => now;\n"
    "}\n";
const char kReplacement[] =
    "fun int fib(int n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n"
    "Noise n => LPF f => blackhole; 500 => f.freq;\n"
    "while (true) { fib(12) => int x; 20::ms => now; }\n";

int g_port = 0;

bool send_all(int fd, const std::vector<Net_Msg>& packets) {
  for (Net_Msg msg : packets) {
    otf_hton(&msg);
    if (send(fd, &msg, sizeof msg, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof msg)) return false;
  }
  return true;
}

// -1: no reply within ms; else the reply's param.
int read_reply(int fd, int ms) {
  Net_Msg msg;
  size_t got = 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (got < sizeof msg) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    struct pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
    ssize_t n = recv(fd, reinterpret_cast<char*>(&msg) + got, sizeof msg - got, 0);
    if (n <= 0) return -1;
    got += static_cast<size_t>(n);
  }
  otf_ntoh(&msg);
  return msg.param;
}

// The packets of an add or replace of source (as the client streams it).
std::vector<Net_Msg> source_packets(t_CPUINT type, t_CPINT param, const std::string& name,
                                    const std::string& source) {
  Net_Msg first = net_msg(type, param);
  std::memcpy(first.buffer, name.c_str(), name.size() + 1);
  first.param2 = static_cast<t_CPINT>(source.size());
  std::vector<Net_Msg> packets{first};
  for (size_t at = 0; at < source.size(); at += NET_BUFFER_SIZE) {
    size_t n = std::min(source.size() - at, size_t(NET_BUFFER_SIZE));
    Net_Msg chunk = net_msg(type, param);
    std::memcpy(chunk.buffer, source.data() + at, n);
    chunk.length = chunk.param3 = static_cast<t_CPINT>(n);
    chunk.param2 = static_cast<t_CPINT>(source.size() - at - n);
    packets.push_back(chunk);
  }
  return packets;
}

// One request: its commands' packets and the done packet; 1 accepted, 0
// refused, -1 no answer.
int request(std::vector<Net_Msg> packets) {
  int fd = connect_loopback(g_port);
  if (fd < 0) return -1;
  packets.push_back(net_msg(OTF_DONE, 0));
  int result = send_all(fd, packets) ? read_reply(fd, 5000) : -1;
  close(fd);
  return result < 0 ? -1 : result ? 1 : 0;
}

struct Counts {
  std::atomic<long> accepted{0}, refused{0}, unanswered{0};
  std::atomic<long> adds{0};  // accepted adds: the ids given so far, roughly
};

// Requests until end, one every `every` (zero: one after the other).
void client(Counts& counts, Clock::time_point end, Clock::duration every, unsigned seed) {
  std::mt19937 random(seed);
  Clock::time_point next = Clock::now();
  while (Clock::now() < end) {
    if (every.count() > 0) {
      std::this_thread::sleep_until(next);
      next += every;
    }
    long ids = counts.adds.load();
    std::uniform_int_distribution<long> recent(std::max(1L, ids - 40), std::max(1L, ids));
    int op = static_cast<int>(random() % 100);
    int result;
    bool add = false;
    // Fewer long-lived shreds are added than removed: the shreds alive stay
    // few, and what grows is what the engine keeps per request.
    if (op < 25) {
      result = request(source_packets(OTF_ADD, 1, "short.chip", kShort));
      add = true;
    } else if (op < 37) {
      result = request(source_packets(OTF_ADD, 1, "long.chip:soak", kLong));
      add = true;
    } else if (op < 55) {
      result = request({net_msg(OTF_REMOVE, -1)});
    } else if (op < 65) {
      result = request({net_msg(OTF_REMOVE, static_cast<t_CPINT>(recent(random)))});
    } else if (op < 80) {
      result = request(source_packets(OTF_REPLACE, static_cast<t_CPINT>(recent(random)),
                                      "replacement.chip", kReplacement));
    } else {
      result = request({net_msg(OTF_STATUS, 0)});
    }
    if (result > 0 && add) counts.adds++;
    (result > 0 ? counts.accepted : result == 0 ? counts.refused : counts.unanswered)++;
  }
}

// A field of /proc/<pid>/status, in kB ("VmRSS", "VmHWM").
long status_kb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  }
  return -1;
}

// Opens n connections at once, then sends a status request on each; how
// many were answered (accepted) within 10 s.
int burst(int n) {
  std::vector<int> fds;
  for (int k = 0; k < n; k++) {
    int fd = connect_loopback(g_port);
    if (fd >= 0) fds.push_back(fd);
  }
  for (int fd : fds) send_all(fd, {net_msg(OTF_STATUS, 0), net_msg(OTF_DONE, 0)});
  int answered = 0;
  auto deadline = Clock::now() + std::chrono::seconds(10);
  for (int fd : fds) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (read_reply(fd, std::max(0, static_cast<int>(left.count()))) == 1) answered++;
    close(fd);
  }
  return answered;
}

void row(pid_t pid, Clock::time_point start, const Counts& counts) {
  long s = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
  std::printf("%3ld:%02ld  %8ld  %8ld  %9ld  %8ld  %10ld\n", s / 60, s % 60,
              status_kb(pid, "VmRSS"), status_kb(pid, "VmHWM"), counts.accepted.load(),
              counts.refused.load(), counts.unanswered.load());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string chip = argc > 1 ? argv[1] : "build/bin/chip";
  double minutes = argc > 2 ? std::atof(argv[2]) : 10;
  int clients = argc > 3 ? std::atoi(argv[3]) : 4;
  double rate = argc > 4 ? std::atof(argv[4]) : 100;
  int burst_size = argc > 5 ? std::atoi(argv[5]) : 1000;
  signal(SIGPIPE, SIG_IGN);
  // The burst holds a descriptor per connection.
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  g_port = free_loopback_port(SOCK_STREAM);
  std::string port = "--port" + std::to_string(g_port);

  pid_t pid = fork();
  if (pid == 0) {
    // The engine's output goes to the file OTF_SOAK_LOG names, or nowhere.
    const char* log = std::getenv("OTF_SOAK_LOG");
    int out = open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execl(chip.c_str(), chip.c_str(), "--loop", "--silent", port.c_str(), nullptr);
    _exit(127);
  }
  // Ready once it answers.
  auto ready_by = Clock::now() + std::chrono::seconds(30);
  while (request({net_msg(OTF_STATUS, 0)}) != 1) {
    if (Clock::now() > ready_by) {
      std::fprintf(stderr, "otf_soak: the engine (%s) did not answer\n", chip.c_str());
      kill(pid, SIGKILL);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  std::printf("otf soak: %g min, %d clients, %g requests/s, engine %d on port %d\n", minutes,
              clients, rate, static_cast<int>(pid), g_port);
  std::printf(" time    rss_kb    hwm_kb   accepted   refused  unanswered\n");
  Counts counts;
  Clock::time_point start = Clock::now();
  Clock::time_point end = start + std::chrono::milliseconds(static_cast<long>(minutes * 60000));
  row(pid, start, counts);
  std::vector<std::thread> threads;
  auto every = rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(clients / rate))
                        : Clock::duration::zero();
  for (int k = 0; k < clients; k++) {
    threads.emplace_back([&counts, end, every, k] { client(counts, end, every, 1234u + k); });
  }
  const int points = 10;
  for (int p = 1; p <= points; p++) {
    std::this_thread::sleep_until(start + (end - start) * p / points);
    row(pid, start, counts);
  }
  for (std::thread& t : threads) t.join();

  long before = status_kb(pid, "VmRSS");
  request({net_msg(OTF_REMOVEALL, 0), net_msg(OTF_STATUS, 0)});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::printf("after removing every shred: rss %ld kB (before: %ld kB)\n",
              status_kb(pid, "VmRSS"), before);

  const std::string engine = "/proc/" + std::to_string(pid);
  double cpu = proc_cpu_seconds(engine);
  double machine = proc_cpu_seconds(engine + "/task/" + std::to_string(pid));
  std::this_thread::sleep_for(std::chrono::seconds(5));
  std::printf("waiting with nothing to compute: %.2f s of processor time in 5 s "
              "(%.2f s on the machine's thread)\n",
              proc_cpu_seconds(engine) - cpu,
              proc_cpu_seconds(engine + "/task/" + std::to_string(pid)) - machine);

  if (burst_size > 0) {
    auto t = Clock::now();
    int answered = burst(burst_size);
    std::printf("burst: %d simultaneous status requests, %d answered in %.2f s\n", burst_size,
                answered, std::chrono::duration<double>(Clock::now() - t).count());
  }

  request({net_msg(OTF_REMOVEALL, 0), net_msg(OTF_KILL, 0)});
  int status = 0;
  waitpid(pid, &status, 0);
  return 0;
}
