// The development service run as a person runs it: --help prints the usage
// and starts nothing; --port puts it on the port asked for, where it answers;
// a port it cannot take or a bad option is said, not ignored; nobody is
// signed in at first and a sign-in is accepted, so the sign-in screen can be
// tried with it, and its message's "Open" is the button that opens the link.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "chip_program_support.h"
#include "vx_service_support.h"
#include "vxu/VXWebCalls.h"

namespace {

// A port nothing listens on just now.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return 0;
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

bool answersOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return connected;
}

// The program, bounded: one that starts serving instead of answering ends
// with timeout's status 124 instead of hanging the test.
CommandRun runService(const std::string& args) {
  return run_command("timeout 20 '" FLUVANE_DEVSERVICE "' " + args + " 2>&1");
}

// The service started on port, as a person starts it: the shell says its
// process id, then becomes the service, whose output the pipe reads.
struct StartedService {
  FILE* pipe = nullptr;
  pid_t pid = 0;
};

StartedService startService(int port) {
  StartedService started;
  started.pipe = ::popen(("exec sh -c 'echo $$; exec \"" FLUVANE_DEVSERVICE "\" --port " +
                          std::to_string(port) + "'")
                             .c_str(),
                         "r");
  char line[256] = {};
  if (started.pipe && std::fgets(line, sizeof line, started.pipe)) {
    started.pid = static_cast<pid_t>(std::stol(line));
  }
  return started;
}

TEST(FluvaneDevService, HelpAndBadOptionsStartNothing) {
  CommandRun help = runService("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: fluvane-devservice [--https] [--port N]\n", 0), 0u) << help.out;
  struct Case {
    const char* args;
    const char* first;
  };
  const Case bad[] = {{"--frobnicate", "usage: "},
                      {"--port", "usage: "},
                      {"--port 0", "fluvane-devservice: not a port: 0\n"},
                      {"--port 65536", "fluvane-devservice: not a port: 65536\n"},
                      {"--port 80x", "fluvane-devservice: not a port: 80x\n"}};
  for (const Case& c : bad) {
    CommandRun run = runService(c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.out.rfind(c.first, 0), 0u) << c.args << ": " << run.out;
  }
}

TEST(FluvaneDevService, ItListensOnThePortAskedFor) {
  const int port = freePort();
  ASSERT_GT(port, 0);
  const StartedService started = startService(port);
  ASSERT_TRUE(started.pipe);
  ASSERT_GT(started.pid, 0);
  FILE* pipe = started.pipe;
  const pid_t service = started.pid;
  char line[256] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, pipe));
  EXPECT_EQ(std::string(line),
            "export FLUVANE_SERVICE_URL=http://127.0.0.1:" + std::to_string(port) + "\n");
  EXPECT_TRUE(answersOn(port));
  // A second one cannot have the same port.
  CommandRun taken = runService("--port " + std::to_string(port));
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.out, "fluvane-devservice: cannot listen on 127.0.0.1:" + std::to_string(port) +
                           "\n");
  ::kill(service, SIGINT);
  EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 0);
}

TEST(FluvaneDevService, ItsMessageAndTheSignInCanBeTried) {
  const int port = freePort();
  ASSERT_GT(port, 0);
  const StartedService started = startService(port);
  ASSERT_TRUE(started.pipe);
  ASSERT_GT(started.pid, 0);
  FILE* pipe = started.pipe;
  const pid_t service = started.pid;
  char line[256] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, pipe));  // listening: the line to export
  {
    const std::string url = "http://127.0.0.1:" + std::to_string(port);
    ScopedEnv base("FLUVANE_SERVICE_URL", url.c_str());
    ScopedEnv device("FLUVANE_DEVICE_ID", "dev-1");
    // The account's state names nobody: the sign-in form shows, not a
    // signed-in view with a made-up name.
    EXPECT_EQ(VXCurrentAuthState(), std::nullopt);
    // Its message at start: the delegate dismisses it with the OK text (its
    // cancel button) and opens the link with the other, the cancel text;
    // that one must read "Open", or "Later" would open the link.
    const VXServerMessage message = getServerMessage("dev-1", 4, 0);
    ASSERT_TRUE(message.valid());
    EXPECT_EQ(message.cancelTitle, std::optional<std::string>("Open"));
    EXPECT_EQ(message.okTitle, std::optional<std::string>("Later"));
    EXPECT_EQ(VXLogin("Ana Flautista", "secret"), 0);
    EXPECT_EQ(VXLogout("Ana Flautista", "secret"), 0);
  }
  ::kill(service, SIGINT);
  EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 0);
}

}  // namespace
