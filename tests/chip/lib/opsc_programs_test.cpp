// Open Sound Control between real chip programs over loopback: a receiving
// program prints a line once it listens, the test then starts a sending
// program (or sends a datagram itself), and reads what the receiver
// printed. Ports are picked free by the test and passed as arguments.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "chip/lib/util_network.h"
#include "loopback_port.h"
#include "process_support.h"

namespace {

const char kListening[] = "\"listening\" : (string)";

int free_port() { return free_loopback_port(SOCK_DGRAM); }

// A script in the test's temporary folder; its name.
std::string script(const std::string& name, const std::string& text) {
  std::ofstream(::testing::TempDir() + name) << text;
  return name;
}

std::string arg(const std::string& name, int port) { return name + ":" + std::to_string(port); }

// Runs a program to its end; its output.
std::string run(const std::string& token) {
  ChipProcess p(::testing::TempDir(), {token});
  std::string out = p.finish();
  EXPECT_TRUE(p.exited()) << out;
  EXPECT_EQ(p.exit_status(), 0) << out;
  return out;
}

// Sends one datagram of /<name> with an int, from the test.
void send_int(int port, const char* address, int32_t value) {
  std::string m(address);
  m.append(4 - m.size() % 4, '\0');
  m.append(",i\0\0", 4);
  uint32_t big = htonl(static_cast<uint32_t>(value));
  m.append(reinterpret_cast<const char*>(&big), 4);
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, m.data(), m.size(), 0, reinterpret_cast<struct sockaddr*>(&to), sizeof to);
  close(fd);
}

// The lines of the output that the script printed itself (not the log's).
std::vector<std::string> lines(const std::string& out) {
  std::vector<std::string> result;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(at, end - at);
    if (line.rfind("[", 0) != 0 && line.find("log directory") == std::string::npos) {
      result.push_back(line);
    }
    at = end + 1;
  }
  return result;
}

const char kSendInt[] = R"(
// Sends /x with the int given as the second argument.
OscSend xmit;
xmit.setHost("127.0.0.1", Std.atoi(me.arg(0)));
xmit.startMsg("/x", "i");
xmit.addInt(Std.atoi(me.arg(1)));
)";

TEST(OscPrograms, AWaitingShredWakesWithTheSentValue) {
  int port = free_port();
  script("send_int.chip", kSendInt);
  script("recv_basic.chip", R"(
OscRecv recv;
recv.event("/x", "i") @=> OscEvent e;
if (recv.listen(Std.atoi(me.arg(0)))) <<< "listening" >>>;
e => now;
<<< "woke" >>>;
<<< e.nextMsg(), e.getInt() >>>;
<<< e.getInt() >>>;
<<< e.nextMsg() >>>;
)");
  ChipProcess receiver(::testing::TempDir(), {arg("recv_basic.chip", port), "--log3"});
  ASSERT_TRUE(receiver.wait_for_line(kListening)) << receiver.output();
  run("send_int.chip:" + std::to_string(port) + ":5");
  const std::string& out = receiver.finish();
  EXPECT_EQ(receiver.exit_status(), 0) << out;
  std::vector<std::string> want = {kListening, "\"woke\" : (string)", "1 5 ", "0 :(int)",
                                   "0 :(int)"};
  EXPECT_EQ(lines(out), want) << out;
  EXPECT_NE(out.find("OscEvent: read position 1 outside message ..."), std::string::npos) << out;
}

TEST(OscPrograms, TwoReceiversOnOnePortAndStop) {
  int port = free_port();
  script("send_int.chip", kSendInt);
  script("recv_two.chip", R"(
Std.atoi(me.arg(0)) => int port;
OscRecv r1;
OscRecv r2;
r1.event("/x,i") @=> OscEvent e1;
r2.event("/x,i") @=> OscEvent e2;
if (r1.listen(port) && r2.listen(port)) <<< "listening" >>>;
e1 => now;
e2 => now;
<<< e1.nextMsg(), e1.getInt(), e2.nextMsg(), e2.getInt() >>>;
r1.stop();
<<< "stopped one" >>>;
e2 => now;
<<< e2.nextMsg(), e2.getInt(), e1.hasMsg() >>>;
r2.stop();
<<< "stopped both" >>>;
Event forever;
forever => now;
)");
  ChipProcess receiver(::testing::TempDir(), {arg("recv_two.chip", port)});
  ASSERT_TRUE(receiver.wait_for_line(kListening)) << receiver.output();
  run("send_int.chip:" + std::to_string(port) + ":1");
  ASSERT_TRUE(receiver.wait_for_line("\"stopped one\" : (string)")) << receiver.output();
  run("send_int.chip:" + std::to_string(port) + ":2");
  ASSERT_TRUE(receiver.wait_for_line("\"stopped both\" : (string)")) << receiver.output();
  // With both stopped the port is free: the listener and its socket are gone.
  ck_socket probe = cp_udp_create();
  EXPECT_TRUE(cp_bind(probe, port, nullptr));
  cp_close(probe);
  std::vector<std::string> want = {kListening, "1 1 1 1 ", "\"stopped one\" : (string)", "1 2 0 ",
                                   "\"stopped both\" : (string)"};
  EXPECT_EQ(lines(receiver.output()), want) << receiver.output();
}

TEST(OscPrograms, SixHundredUnreadMessagesAreKeptInOrder) {
  int port = free_port();
  script("send_many.chip", R"(
OscSend xmit;
xmit.setHost("127.0.0.1", Std.atoi(me.arg(0)));
// Five bundles of 120 messages, then /go.
for (0 => int b; b < 5; b++) {
  xmit.openBundle(now);
  for (0 => int k; k < 120; k++) {
    xmit.startMsg("/n", "i");
    xmit.addInt(b * 120 + k);
  }
  xmit.closeBundle();
}
xmit.startMsg("/go", "i");
xmit.addInt(1);
)");
  script("recv_many.chip", R"(
OscRecv recv;
recv.event("/n,i") @=> OscEvent n;
recv.event("/go,i") @=> OscEvent go;
if (recv.listen(Std.atoi(me.arg(0)))) <<< "listening" >>>;
go => now;
0 => int count;
0 => int ordered;
-1 => int last;
while (n.nextMsg()) {
  n.getInt() => int v;
  if (v == last + 1) ordered++;
  v => last;
  count++;
}
<<< count, ordered >>>;
)");
  ChipProcess receiver(::testing::TempDir(), {arg("recv_many.chip", port)});
  ASSERT_TRUE(receiver.wait_for_line(kListening)) << receiver.output();
  run(arg("send_many.chip", port));
  const std::string& out = receiver.finish();
  EXPECT_EQ(lines(out), (std::vector<std::string>{kListening, "600 600 "})) << out;
}

TEST(OscPrograms, StoppedReceiversMissMessagesAndEarlyMessagesNeedNoWait) {
  int port = free_port();
  int control = free_port();
  script("recv_stop.chip", R"(
OscRecv recv;
OscRecv ctl;
recv.event("/x,i") @=> OscEvent e;
ctl.event("/resume,i") @=> OscEvent resume;
recv.port(Std.atoi(me.arg(0)));
if (recv.listen() && ctl.listen(Std.atoi(me.arg(1)))) <<< "listening" >>>;
// The message is there before the shred waits: the wait does not block.
while (!e.hasMsg()) 1::samp => now;
e => now;
<<< e.nextMsg(), e.getInt() >>>;
recv.stop();
<<< "stopped" >>>;
resume => now;
<<< recv.listen() >>>;
e => now;
<<< e.nextMsg(), e.getInt(), e.hasMsg() >>>;
)");
  ChipProcess receiver(::testing::TempDir(),
                       {"recv_stop.chip:" + std::to_string(port) + ":" + std::to_string(control)});
  ASSERT_TRUE(receiver.wait_for_line(kListening)) << receiver.output();
  send_int(port, "/x", 1);
  ASSERT_TRUE(receiver.wait_for_line("\"stopped\" : (string)")) << receiver.output();
  send_int(port, "/x", 2);  // nobody listens: lost
  send_int(control, "/resume", 0);
  ASSERT_TRUE(receiver.wait_for_line("1 :(int)")) << receiver.output();
  send_int(port, "/x", 3);
  const std::string& out = receiver.finish();
  std::vector<std::string> want = {kListening, "1 1 ", "\"stopped\" : (string)", "1 :(int)",
                                   "1 3 0 "};
  EXPECT_EQ(lines(out), want) << out;
}

// Receives one datagram on a socket of the test; "" after the deadline.
std::string receive(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, 30000) <= 0) return "";
  char buffer[2048];
  ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

TEST(OscPrograms, SentBytesAndResultsAsTheClassPromises) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<struct sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  script("send_edges.chip", R"(
OscSend xmit;
xmit.setHost("127.0.0.1", Std.atoi(me.arg(0)));
xmit.startMsg("/f", "f");
<<< xmit.addFloat(0.1) >>>;
xmit.openBundle(now + 1::second);
xmit.startMsg("/a", "i");
<<< xmit.addInt(1) >>>;
xmit.addString("s") @=> string nothing;
<<< nothing == null >>>;
xmit.closeBundle();
<<< xmit.setHost("127.0.0.1", 70000) >>>;
)");
  std::string out = run(arg("send_edges.chip", port));
  const std::string f("/f\0\0,f\0\0\x3d\xcc\xcc\xcd", 12);
  EXPECT_EQ(receive(fd), f);
  // The bundle's time tag is (0, 1) whatever time was given.
  const std::string bundle =
      std::string("#bundle\0\0\0\0\0\0\0\0\x01\0\0\0\x0c/a\0\0,i\0\0\0\0\0\x01", 32);
  EXPECT_EQ(receive(fd), bundle);
  close(fd);
  std::vector<std::string> want = {"0.000000 :(float)", "0 :(int)", "1 :(int)", "0 :(int)"};
  EXPECT_EQ(lines(out), want) << out;
  EXPECT_NE(out.find("[chip](via OSC): port 70000 outside 0..65535"), std::string::npos) << out;
  EXPECT_NE(out.find("[chip](via OSC): error writing packet: 9"), std::string::npos) << out;
}

}  // namespace
