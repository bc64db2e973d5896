// The on-the-fly listener in process: a machine running on a thread of the
// test, the listener on a free loopback port, and peers that are the real
// client (otf_send_cmd) or raw sockets that break the protocol's rules.
// Also the client's wire format, checked by a peer that records packets.
#include "chip/otf/chip_otf.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "chip/driver/chip_compile.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_vm.h"
#include "engine_support.h"
#include "log_capture.h"
#include "loopback_port.h"

namespace {

bool send_raw(int fd, Net_Msg msg) {
  otf_hton(&msg);
  return send(fd, &msg, sizeof msg, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof msg);
}

// Reads one packet (host order) within the deadline; false when none came.
bool read_reply(int fd, Net_Msg* msg, int ms = 10000) {
  size_t got = 0;
  char* p = reinterpret_cast<char*>(msg);
  while (got < sizeof *msg) {
    struct pollfd pf = {fd, POLLIN, 0};
    if (poll(&pf, 1, ms) <= 0) return false;
    ssize_t n = recv(fd, p + got, sizeof *msg - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  otf_ntoh(msg);
  return true;
}

// Whether the peer closed the connection (reads end) within the deadline.
bool closed_by_peer(int fd, int ms = 10000) {
  char byte;
  for (;;) {
    struct pollfd pf = {fd, POLLIN, 0};
    if (poll(&pf, 1, ms) <= 0) return false;
    ssize_t n = recv(fd, &byte, 1, 0);
    if (n <= 0) return true;
  }
}

class OtfListenerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    // A folder per test: tests run side by side and write the same names.
    dir = ::testing::TempDir() + "otf_l_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    mkdir(dir.c_str(), 0700);
    std::ofstream(dir + "otf_l_child.chip") << "while (true) 1::second => now;\n";
    std::ofstream(dir + "otf_l_bad.chip") << "this is not chip\n";
    ASSERT_TRUE(listener.start(vm, compiler, 0));
    port = listener.port();
    machine = std::thread([this] { vm->run(); });
    // A stop that came before run() began would be forgotten by it.
    while (!vm->is_running()) std::this_thread::yield();
  }

  // Stops the machine and the listener; afterwards the machine may be read.
  void finish() {
    if (!machine.joinable()) return;
    vm->stop();
    machine.join();
    listener.stop();
  }

  void TearDown() override {
    finish();
    EngineTest::TearDown();
  }

  // Starts the listener again (on a new port) with other limits; the
  // machine goes on running.
  void restart(const Chip_OTF_Listener::Limits& limits) {
    listener.stop();
    listener.set_limits(limits);
    ASSERT_TRUE(listener.start(vm, compiler, 0));
    port = listener.port();
  }

  // n connections that send nothing (yet).
  std::vector<int> connections(int n) {
    std::vector<int> fds;
    for (int k = 0; k < n; k++) {
      fds.push_back(connect_loopback(port));
      EXPECT_GE(fds.back(), 0);
    }
    return fds;
  }

  // The real client: (sent, accepted).
  std::pair<int, t_CPBOOL> client(std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    long i = 0;
    int is_otf = 0;
    t_CPBOOL accepted = FALSE;
    int sent = otf_send_cmd(static_cast<int>(argv.size()), argv.data(), i, "127.0.0.1", port,
                            &is_otf, &accepted);
    return {sent, accepted};
  }

  // A raw request: the packets, then a done packet; the reply.
  Net_Msg request(const std::vector<Net_Msg>& packets, bool done = true) {
    int fd = connect_loopback(port);
    EXPECT_GE(fd, 0);
    for (const Net_Msg& m : packets) send_raw(fd, m);
    if (done) send_raw(fd, packet(OTF_DONE, 0));
    Net_Msg reply;
    std::memset(&reply, 0, sizeof reply);
    EXPECT_TRUE(read_reply(fd, &reply));
    close(fd);
    return reply;
  }

  Chip_OTF_Listener listener;
  std::thread machine;
  int port = 0;
  std::string dir;
};

// Every command through the real client: what the machine accepted is
// accepted, what it refused is refused with the machine's reason.
TEST_F(OtfListenerTest, ClientCommandsAreCarriedOutAndAnswered) {
  std::vector<std::string> lines = printed_lines([&] {
    struct Case {
      std::vector<std::string> args;
      t_CPBOOL accepted;
    } cases[] = {
        // With no shred running the abort lapses.
        {{"--abort.shred"}, TRUE},
        {{"+", dir + "otf_l_child.chip:one:two"}, TRUE},  // shred 1
        {{"--add", dir + "otf_l_child.chip", dir + "otf_l_child.chip:x"}, TRUE},  // 2, 3
        {{"-", "2"}, TRUE},
        {{"-", "99"}, FALSE},
        {{"--"}, TRUE},  // removes 3
        {{"=", "1", dir + "otf_l_child.chip:r"}, TRUE},
        {{"=", "77", dir + "otf_l_child.chip"}, FALSE},
        {{"^"}, TRUE},
        {{"--time"}, TRUE},
        {{"--rid"}, TRUE},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
      auto [sent, accepted] = client(c.args);
      EXPECT_EQ(sent, 1);
      EXPECT_EQ(accepted, c.accepted);
    }
  });
  if (HasFailure()) {
    for (const std::string& l : lines) std::printf("printed: %s\n", l.c_str());
  }
  finish();
  // Shred 1 was replaced (arguments "r"), 2 and 3 are gone.
  Chip_VM_Shred* shred = vm->shreduler()->lookup(1);
  ASSERT_NE(shred, nullptr);
  EXPECT_EQ(shred->args, std::vector<std::string>{"r"});
  EXPECT_EQ(vm->shreduler()->lookup(2), nullptr);
  EXPECT_EQ(vm->shreduler()->lookup(3), nullptr);
  auto has = [&](const std::string& text) {
    for (const std::string& l : lines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("(reason:  no shred with id 99)"));
  EXPECT_TRUE(has("(reason:  no shred with id 77)"));
  EXPECT_TRUE(has("[chip](VM): the values of now:"));
}

// A file that does not parse is not sent; with no file left nothing is
// awaited and the client reports failure.
TEST_F(OtfListenerTest, TheClientSkipsFilesThatDoNotParse) {
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_EQ(client({"+", dir + "otf_l_bad.chip"}).first, 0);
    auto [sent, accepted] = client({"+", dir + "otf_l_bad.chip", dir + "otf_l_child.chip"});
    EXPECT_EQ(sent, 1);
    EXPECT_TRUE(accepted);
  });
  finish();
  EXPECT_EQ(vm->num_shreds(), 1u);
}

// A file sent for adding or replacing goes once its shreds are gone: after
// many requests, the built-in modules' context and the compiler's last
// output are all that remain.
TEST_F(OtfListenerTest, SentFilesGoWhenTheirShredsDo) {
  printed_lines([&] {
    for (int i = 0; i < 50; i++) {
      EXPECT_TRUE(client({"+", dir + "otf_l_child.chip"}).second);  // shred 1
      EXPECT_TRUE(client({"=", "1", dir + "otf_l_child.chip"}).second);
      EXPECT_TRUE(client({"--"}).second);
    }
  });
  finish();
  EXPECT_EQ(vm->num_shreds(), 0u);
  EXPECT_EQ(compiler->env->live_contexts.size(), 2u);
}

// A source that reaches the listener but does not compile is refused with
// the compiler's message as the reason.
TEST_F(OtfListenerTest, ACompileErrorIsTheReason) {
  const std::string source = "1 => int x; x => undefined_thing;\n";
  Net_Msg first = packet(OTF_ADD, 1, "remote.chip", static_cast<t_CPINT>(source.size()));
  Net_Msg chunk = packet(OTF_ADD, 1, source, 0, static_cast<t_CPINT>(source.size()));
  Net_Msg reply;
  printed_lines([&] { reply = request({first, chunk}); });
  EXPECT_EQ(reply.header, NET_HEADER);
  EXPECT_EQ(reply.param, 0);
  std::string text(reply.buffer);
  EXPECT_EQ(text.rfind("add: remote.chip: ", 0), 0u) << text;
  EXPECT_NE(text.find("undefined_thing"), std::string::npos) << text;
}

// Peers that break the rules get a failure reply (or none) and are closed;
// nothing is added and the listener serves the next client.
TEST_F(OtfListenerTest, HostilePeersAreRefused) {
  Net_Msg bad_header = packet(OTF_STATUS, 0);
  bad_header.header = 0x12345678;
  Net_Msg announce = packet(OTF_ADD, 1, "x.chip", 600);
  Net_Msg too_long = packet(OTF_ADD, 1, "", 0, 513);
  too_long.param2 = 600 - 513;
  Net_Msg negative = packet(OTF_ADD, 1, "", 0, -1);
  negative.param2 = 600;
  Net_Msg endless = packet(OTF_ADD, 1, "", 0, 10);
  endless.param2 = 600;  // never less than announced: the sizes do not add up
  Net_Msg huge = packet(OTF_ADD, 1, "x.chip", OTF_MAX_FILE + 1);
  Net_Msg read_error = packet(OTF_ADD, 1, "", 0, 0);
  read_error.param2 = -1;
  Net_Msg no_source = packet(OTF_ADD, 1, "x.chip", -1);
  Net_Msg unknown = packet(6, 0);
  struct Case {
    const char* name;
    std::vector<Net_Msg> packets;
    const char* reason;
  } cases[] = {
      {"bad header", {bad_header}, "request: bad packet header"},
      {"length 513", {announce, too_long}, "request: chunk length 513 out of range"},
      {"length -1", {announce, negative}, "request: chunk length -1 out of range"},
      {"endless chunks", {announce, endless}, "request: chunk sizes do not add up"},
      {"more than the limit", {huge}, "request: source size"},
      {"read error at the sender", {announce, read_error}, "request: the sender could not"},
      {"size -1", {no_source}, "request: no source sent for 'x.chip'"},
      {"unknown type", {unknown}, "request: unrecognized command 6"},
  };
  printed_lines([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Net_Msg reply = request(c.packets);
      EXPECT_EQ(reply.header, NET_HEADER);
      EXPECT_EQ(reply.param, 0);
      EXPECT_EQ(std::string(reply.buffer).rfind(c.reason, 0), 0u) << reply.buffer;
    }
  });
  // A connection that breaks off inside a packet is closed.
  int fd = connect_loopback(port);
  ASSERT_GE(fd, 0);
  Net_Msg half = packet(OTF_STATUS, 0);
  otf_hton(&half);
  ASSERT_EQ(send(fd, &half, 100, MSG_NOSIGNAL), 100);
  shutdown(fd, SHUT_WR);
  Net_Msg reply;
  EXPECT_TRUE(read_reply(fd, &reply));
  EXPECT_EQ(reply.param, 0);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  finish();
  EXPECT_EQ(vm->num_shreds(), 0u);
}

// The name of a file is only a label: the source is what the connection
// carries. Size 0 is an empty source (which does not parse), never the file
// of that name, here one that would compile. A token without its zero ends
// at byte 511.
TEST_F(OtfListenerTest, TheSourceComesFromTheConnectionOnly) {
  std::string unterminated(NET_BUFFER_SIZE, 'a');
  const std::string source = "while (true) 1::second => now;\n";
  Net_Msg first = packet(OTF_ADD, 1, unterminated, static_cast<t_CPINT>(source.size()));
  Net_Msg chunk = packet(OTF_ADD, 1, source, 0, static_cast<t_CPINT>(source.size()));
  Net_Msg named, cut;
  printed_lines([&] {
    named = request({packet(OTF_ADD, 1, dir + "otf_l_child.chip:arg")});
    cut = request({first, chunk});
  });
  EXPECT_EQ(named.param, 0);
  EXPECT_EQ(std::string(named.buffer), "add: " + dir + "otf_l_child.chip: " +
                                           "[otf_l_child.chip]:line(1).char(1): syntax error");
  EXPECT_EQ(cut.param, 1) << cut.buffer;
  finish();
  ASSERT_EQ(vm->num_shreds(), 1u);
  Chip_VM_Shred* shred = vm->shreduler()->lookup(1);
  ASSERT_NE(shred, nullptr);
  EXPECT_NE(shred->name.find(std::string(NET_BUFFER_SIZE - 1, 'a')), std::string::npos);
  EXPECT_EQ(shred->name.find(std::string(NET_BUFFER_SIZE, 'a')), std::string::npos);
}

// Whether fd is still open with nothing to read: no reply, no close.
bool still_waiting(int fd) {
  struct pollfd pf = {fd, POLLIN, 0};
  return poll(&pf, 1, 0) == 0;
}

// Connections that send nothing hold up nobody: with twenty of them open
// (and a deadline far away) a status request is answered while all twenty
// are still connected and unanswered.
TEST_F(OtfListenerTest, SilentPeersHoldUpNobody) {
  Chip_OTF_Listener::Limits limits;
  limits.first_packet_ms = 60000;
  restart(limits);
  std::vector<int> silent = connections(20);
  Net_Msg reply;
  printed_lines([&] { reply = request({packet(OTF_STATUS, 0)}); });
  EXPECT_EQ(reply.header, NET_HEADER);
  EXPECT_EQ(reply.param, 1);
  for (int fd : silent) {
    EXPECT_TRUE(still_waiting(fd));
    close(fd);
  }
}

// More silent peers than the listener holds: the later ones, and a client
// behind them, wait in the backlog until the deadlines of the earlier ones
// make room; every silent peer is told why it is closed, and the client is
// served.
TEST_F(OtfListenerTest, MoreSilentPeersThanPlacesWaitTheirTurn) {
  Chip_OTF_Listener::Limits limits;
  limits.first_packet_ms = 200;
  limits.max_connections = 8;
  restart(limits);
  std::vector<int> silent = connections(20);
  Net_Msg reply;
  std::vector<Net_Msg> refusals(silent.size());
  printed_lines([&] {
    reply = request({packet(OTF_STATUS, 0)});
    for (size_t k = 0; k < silent.size(); k++) {
      EXPECT_TRUE(read_reply(silent[k], &refusals[k])) << k;
    }
  });
  EXPECT_EQ(reply.param, 1);
  for (size_t k = 0; k < silent.size(); k++) {
    EXPECT_EQ(refusals[k].param, 0) << k;
    EXPECT_EQ(std::string(refusals[k].buffer), "request: timed out waiting for a packet") << k;
    close(silent[k]);
  }
}

// Peers too slow for the deadlines, or holding too many sources, are
// refused and closed; the machine gets nothing from them.
TEST_F(OtfListenerTest, DeadlinesAndLimitsRefuseSlowPeers) {
  Chip_OTF_Listener::Limits limits;
  limits.first_packet_ms = 100;
  limits.packet_ms = 60000;
  limits.request_ms = 300;
  restart(limits);
  struct Case {
    const char* name;
    std::vector<Net_Msg> packets;  // sent, then nothing
    const char* reason;
  } cases[] = {
      {"nothing sent", {}, "request: timed out waiting for a packet"},
      {"half a request", {packet(OTF_STATUS, 0)}, "request: the request took too long"},
  };
  printed_lines([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Net_Msg reply = request(c.packets, false);
      EXPECT_EQ(reply.param, 0);
      EXPECT_EQ(std::string(reply.buffer), c.reason);
    }
  });

  // Sources announced count at once: requests that together announce more
  // than the listener holds are refused from the one that passes the limit.
  limits = Chip_OTF_Listener::Limits();
  limits.packet_ms = 60000;
  restart(limits);
  std::vector<int> big;
  const int fit = OTF_MAX_SOURCE_HELD / OTF_MAX_FILE;
  printed_lines([&] {
    for (int k = 0; k <= fit; k++) {
      big.push_back(connect_loopback(port));
      send_raw(big.back(), packet(OTF_ADD, 1, "big.chip", OTF_MAX_FILE));
    }
    Net_Msg refused;
    ASSERT_TRUE(read_reply(big.back(), &refused));
    EXPECT_EQ(std::string(refused.buffer), "request: the listener holds too many sources now");
  });
  for (int k = 0; k < fit; k++) EXPECT_TRUE(still_waiting(big[k])) << k;
  for (int fd : big) close(fd);
  finish();
  EXPECT_EQ(vm->num_shreds(), 0u);
}

// Requests reach the machine in the order they were completed, whatever
// the order of their connections: a request begun first and finished last
// is carried out last.
TEST_F(OtfListenerTest, RequestsReachTheMachineInTheOrderTheyEnd) {
  const std::string source = "while (true) 1::second => now;\n";
  auto add = [&](const std::string& token) {
    return std::vector<Net_Msg>{
        packet(OTF_ADD, 1, token, static_cast<t_CPINT>(source.size())),
        packet(OTF_ADD, 1, source, 0, static_cast<t_CPINT>(source.size()))};
  };
  int first = connect_loopback(port);
  ASSERT_GE(first, 0);
  for (const Net_Msg& m : add("a.chip:begun_first")) send_raw(first, m);
  Net_Msg second_reply, first_reply;
  printed_lines([&] {
    second_reply = request(add("b.chip:ended_first"));
    send_raw(first, packet(OTF_DONE, 0));
    EXPECT_TRUE(read_reply(first, &first_reply));
  });
  close(first);
  EXPECT_EQ(second_reply.param, 1) << second_reply.buffer;
  EXPECT_EQ(first_reply.param, 1) << first_reply.buffer;
  finish();
  ASSERT_NE(vm->shreduler()->lookup(1), nullptr);
  ASSERT_NE(vm->shreduler()->lookup(2), nullptr);
  EXPECT_EQ(vm->shreduler()->lookup(1)->args, std::vector<std::string>{"ended_first"});
  EXPECT_EQ(vm->shreduler()->lookup(2)->args, std::vector<std::string>{"begun_first"});
}

// More commands at once than the machine's queue takes: the later requests
// wait for room, in order, and every command is carried out.
TEST_F(OtfListenerTest, RequestsWaitForRoomAtTheMachine) {
  std::vector<Net_Msg> many(OTF_MAX_COMMANDS, packet(OTF_RESET_ID, 0));
  many.push_back(packet(OTF_DONE, 0));
  std::vector<int> fds;
  size_t resets = 0;
  std::vector<Net_Msg> replies(3);
  for (const std::string& line : printed_lines([&] {
         for (int k = 0; k < 3; k++) {
           fds.push_back(connect_loopback(port));
           for (const Net_Msg& m : many) send_raw(fds.back(), m);
         }
         for (int k = 0; k < 3; k++) EXPECT_TRUE(read_reply(fds[k], &replies[k])) << k;
       })) {
    if (line.find("reseting shred id") != std::string::npos) resets++;
  }
  for (const Net_Msg& reply : replies) EXPECT_EQ(reply.param, 1) << reply.buffer;
  EXPECT_EQ(resets, 3u * OTF_MAX_COMMANDS);
  for (int fd : fds) close(fd);
}

// A machine that no longer answers: the request fails with that reason,
// within the reply deadline.
TEST_F(OtfListenerTest, AMachineThatDoesNotAnswerIsReported) {
  Chip_OTF_Listener::Limits limits;
  limits.reply_ms = 100;
  restart(limits);
  vm->stop();
  machine.join();
  Net_Msg reply;
  printed_lines([&] { reply = request({packet(OTF_STATUS, 0)}); });
  EXPECT_EQ(reply.param, 0);
  EXPECT_EQ(std::string(reply.buffer), "status: no answer from the machine");
  listener.stop();
}

// Stopping the listener while a peer holds a connection open ends at once.
TEST_F(OtfListenerTest, StoppingWakesTheListener) {
  int fd = connect_loopback(port);
  ASSERT_GE(fd, 0);
  send_raw(fd, packet(OTF_STATUS, 0));
  auto start = std::chrono::steady_clock::now();
  printed_lines([&] { finish(); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  close(fd);
}

// A kill request stops the machine; the client hears that it was accepted.
TEST_F(OtfListenerTest, KillStopsTheMachine) {
  std::pair<int, t_CPBOOL> result;
  printed_lines([&] {
    result = client({"--kill"});
    machine.join();
  });
  EXPECT_EQ(result.first, 1);
  EXPECT_TRUE(result.second);
  EXPECT_TRUE(vm->killed());
  listener.stop();
}

// ---------------------------------------------------------------------------
// The reader on its own: packets from a byte string.

class Bytes_Source : public Otf_Packet_Source {
 public:
  explicit Bytes_Source(std::vector<Net_Msg> packets) : m_packets(std::move(packets)) {}
  bool next(Net_Msg* msg, std::string& reason) override {
    if (m_at >= m_packets.size()) {
      reason = "connection closed";
      return false;
    }
    *msg = m_packets[m_at++];
    return true;
  }

 private:
  std::vector<Net_Msg> m_packets;
  size_t m_at = 0;
};

TEST(OtfReadRequest, FilesArriveWholeAsAnnounced) {
  for (size_t size : {0u, 1u, 511u, 512u, 513u, 1025u}) {
    SCOPED_TRACE(size);
    std::string data;
    for (size_t k = 0; k < size; k++) data += static_cast<char>('a' + k % 26);
    std::vector<Net_Msg> packets{packet(OTF_ADD, 1, "f.chip:1:2", static_cast<t_CPINT>(size))};
    for (size_t at = 0; at < size; at += NET_BUFFER_SIZE) {
      size_t n = std::min(size - at, size_t(NET_BUFFER_SIZE));
      Net_Msg chunk = packet(OTF_ADD, 1, data.substr(at, n), 0, static_cast<t_CPINT>(n));
      chunk.param2 = static_cast<t_CPINT>(size - at - n);
      packets.push_back(chunk);
    }
    packets.push_back(packet(OTF_REMOVE, 4));
    packets.push_back(packet(OTF_DONE, 0));
    Bytes_Source source(packets);
    std::vector<Otf_Command> commands;
    std::string reason;
    ASSERT_TRUE(otf_read_request(source, commands, reason)) << reason;
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].filename, "f.chip");
    EXPECT_EQ(commands[0].args, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(commands[0].source, data);
    EXPECT_EQ(commands[1].type, static_cast<t_CPUINT>(OTF_REMOVE));
    EXPECT_EQ(commands[1].param, 4);
  }
}

TEST(OtfReadRequest, TheRequestMayNotExceedItsLimits) {
  std::vector<Net_Msg> many(OTF_MAX_COMMANDS + 1, packet(OTF_STATUS, 0));
  many.push_back(packet(OTF_DONE, 0));
  Bytes_Source source(many);
  std::vector<Otf_Command> commands;
  std::string reason;
  EXPECT_FALSE(otf_read_request(source, commands, reason));
  EXPECT_EQ(reason, "too many commands in one request");

  // Two sources that together pass the limit.
  Net_Msg first = packet(OTF_ADD, 1, "a.chip", OTF_MAX_FILE / 2 + 1);
  std::string out;
  Bytes_Source none({});
  EXPECT_FALSE(otf_read_source(none, first, out, OTF_MAX_FILE / 2, reason));
  EXPECT_EQ(reason.rfind("source size", 0), 0u);

  Net_Msg zero = packet(OTF_ADD, 1, "z.chip", 3);
  Bytes_Source with_zero({packet(OTF_ADD, 1, std::string("a\0b", 3), 0, 3), packet(OTF_DONE, 0)});
  commands.clear();
  std::vector<Net_Msg> packets{zero, packet(OTF_ADD, 1, std::string("a\0b", 3), 0, 3),
                               packet(OTF_DONE, 0)};
  Bytes_Source zero_source(packets);
  EXPECT_FALSE(otf_read_request(zero_source, commands, reason));
  EXPECT_EQ(reason, "source 'z.chip' holds a zero byte");
}

// ---------------------------------------------------------------------------
// The client's packets, as a recording peer sees them.

class RecordingPeer {
 public:
  // Listens on a free port; reply: the param of the reply (or none: -1).
  explicit RecordingPeer(int reply) : m_reply(reply) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
    listen(m_fd, 1);
    socklen_t len = sizeof a;
    getsockname(m_fd, reinterpret_cast<struct sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    m_thread = std::thread([this] { record(); });
  }
  ~RecordingPeer() {
    if (m_thread.joinable()) m_thread.join();
    close(m_fd);
  }
  void join() { m_thread.join(); }

  int port = 0;
  std::vector<Net_Msg> raw;  // as received (network order)

 private:
  void record() {
    int fd = accept(m_fd, nullptr, nullptr);
    if (fd < 0) return;
    for (;;) {
      Net_Msg msg;
      size_t got = 0;
      while (got < sizeof msg) {
        ssize_t n = recv(fd, reinterpret_cast<char*>(&msg) + got, sizeof msg - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      if (got < sizeof msg) break;
      raw.push_back(msg);
      otf_ntoh(&msg);
      if (msg.type == OTF_DONE) break;
    }
    if (m_reply >= 0) {
      Net_Msg reply = packet(OTF_DONE, m_reply, "refused: because");
      otf_hton(&reply);
      send(fd, &reply, sizeof reply, MSG_NOSIGNAL);
    }
    close(fd);
  }

  int m_fd = -1;
  int m_reply;
  std::thread m_thread;
};

TEST(OtfClientWire, EveryPacketCarriesTheHeaderAndFilesTravelInChunks) {
  const std::string dir = ::testing::TempDir();
  std::vector<size_t> sizes{0, 512, 1025};
  std::vector<std::string> files;
  for (size_t size : sizes) {
    std::string name = dir + "wire_" + std::to_string(size) + ".chip";
    std::string text;
    while (text.size() + 3 <= size) text += "1;\n";
    text.append(size - text.size(), ' ');
    std::ofstream(name, std::ios::binary) << text;
    files.push_back(name);
  }
  RecordingPeer peer(1);
  std::vector<const char*> argv{"+"};
  for (const std::string& f : files) argv.push_back(f.c_str());
  long i = 0;
  t_CPBOOL accepted = FALSE;
  int sent = 0;
  std::vector<std::string> skipped;
  for (const std::string& line : printed_lines([&] {
         sent = otf_send_cmd(static_cast<int>(argv.size()), argv.data(), i, "127.0.0.1",
                             peer.port, nullptr, &accepted);
       })) {
    if (line.find("skipping") != std::string::npos) skipped.push_back(line);
  }
  peer.join();
  EXPECT_EQ(sent, 1);
  EXPECT_TRUE(accepted);
  EXPECT_EQ(i, static_cast<long>(argv.size()));
  // An empty source does not parse: that file is skipped, the others go.
  // 0 -> nothing; 512 -> first + 1 chunk; 1025 -> first + 3 chunks; done.
  EXPECT_EQ(skipped, std::vector<std::string>{"[chip]: skipping file '" + files[0] +
                                              "' for [add]..."});
  ASSERT_EQ(peer.raw.size(), 2u + 4u + 1u);
  const unsigned char header[4] = {0x8C, 0x8C, 0xC8, 0xC8};
  for (const Net_Msg& m : peer.raw) {
    EXPECT_EQ(std::memcmp(&m, header, 4), 0);
  }
  std::vector<Net_Msg> p;
  for (Net_Msg m : peer.raw) {
    otf_ntoh(&m);
    p.push_back(m);
  }
  EXPECT_EQ(std::string(p[0].buffer), files[1]);
  EXPECT_EQ(p[0].param2, 512);
  EXPECT_EQ(p[0].length, 0);
  EXPECT_EQ(p[1].length, 512);
  EXPECT_EQ(p[1].param2, 0);
  EXPECT_EQ(p[2].param2, 1025);
  std::vector<std::pair<int, int>> chunks{{512, 513}, {512, 1}, {1, 0}};
  for (size_t k = 0; k < 3; k++) {
    EXPECT_EQ(p[3 + k].type, static_cast<t_CPUINT>(OTF_ADD));
    EXPECT_EQ(p[3 + k].length, chunks[k].first);
    EXPECT_EQ(p[3 + k].param3, chunks[k].first);
    EXPECT_EQ(p[3 + k].param2, chunks[k].second);
  }
  EXPECT_EQ(p[6].type, static_cast<t_CPUINT>(OTF_DONE));
}

TEST(OtfClientWire, KillTakesItsArgumentAndARefusalIsReported) {
  RecordingPeer peer(0);
  const char* argv[] = {"--kill", "3", "more"};
  long i = 0;
  t_CPBOOL accepted = TRUE;
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_EQ(otf_send_cmd(3, argv, i, "127.0.0.1", peer.port, nullptr, &accepted), 1);
  });
  peer.join();
  EXPECT_FALSE(accepted);
  EXPECT_EQ(i, 1);
  ASSERT_EQ(peer.raw.size(), 3u);
  Net_Msg removeall = peer.raw[0];
  Net_Msg kill = peer.raw[1];
  otf_ntoh(&removeall);
  otf_ntoh(&kill);
  EXPECT_EQ(removeall.type, static_cast<t_CPUINT>(OTF_REMOVEALL));
  EXPECT_EQ(kill.type, static_cast<t_CPUINT>(OTF_KILL));
  EXPECT_EQ(kill.param, 3);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[chip(remote)]:operation failed (sorry)...(reason:  because)");
}

TEST(OtfClientWire, OptionsThatAreNoneOrLackArgumentsSendNothing) {
  struct Case {
    std::vector<const char*> argv;
    int is_otf;
    const char* printed;
  } cases[] = {
      {{"--frob"}, 0, nullptr},
      {{"+"}, 1, "[chip]: not enough arguments following [add]..."},
      {{"-"}, 1, "[chip]: not enough arguments following [remove]..."},
      {{"--replace", "3"}, 1, "[chip]: not enough arguments following [replace]..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv[0]);
    long i = 0;
    int is_otf = -1;
    std::vector<std::string> lines = printed_lines([&] {
      // Port 1: nothing may even try to connect.
      EXPECT_EQ(otf_send_cmd(static_cast<int>(c.argv.size()), c.argv.data(), i, "127.0.0.1", 1,
                             &is_otf),
                0);
    });
    EXPECT_EQ(is_otf, c.is_otf);
    if (c.printed) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], c.printed);
    } else {
      EXPECT_TRUE(lines.empty());
    }
  }
  // No listener: the connection fails.
  int port = free_loopback_port(SOCK_STREAM);
  const char* argv[] = {"^"};
  long i = 0;
  std::vector<std::string> lines =
      printed_lines([&] { EXPECT_EQ(otf_send_cmd(1, argv, i, "127.0.0.1", port), 0); });
  EXPECT_EQ(lines.back(), "cannot open TCP socket on 127.0.0.1:" + std::to_string(port) + "...");
}

}  // namespace

namespace {

// Requests over the network while shreds make objects and add shreds of
// their own through Machine.add: parses and compiles never meet (run under
// ThreadSanitizer too).
class OtfThreads : public OtfListenerTest {};

TEST_F(OtfThreads, NetworkAddsWhileShredsAddShreds) {
  std::ofstream(dir + "otf_t_leaf.chip") << "new Object @=> Object o; \"a\" + \"b\" => string s;\n"
                                            "10::ms => now;\n";
  std::ofstream(dir + "otf_t_maker.chip")
      << "for (0 => int k; k < 40; k++) {\n"
      << "  new Object @=> Object o;\n"
      << "  Machine.add(\"" << dir << "otf_t_leaf.chip\") => int id;\n"
      << "  if (id == 0) <<< \"refused\" >>>;\n"
      << "  5::ms => now;\n"
      << "}\n"
      << "while (true) 1::second => now;\n";
  int accepted = 0;
  std::vector<std::string> lines = printed_lines([&] {
    for (int k = 0; k < 2; k++) accepted += client({"+", dir + "otf_t_maker.chip"}).second;
    for (int k = 0; k < 20; k++) accepted += client({"+", dir + "otf_t_leaf.chip:" +
                                                         std::to_string(k)}).second;
  });
  finish();
  EXPECT_EQ(accepted, 22);
  for (const std::string& l : lines) EXPECT_EQ(l.find("refused"), std::string::npos) << l;
  // Both makers still wait: every compilation they asked for succeeded.
  EXPECT_GE(vm->num_shreds(), 2u);
}

}  // namespace
