// Open Sound Control listeners on real loopback sockets: subscribers of one
// port, failed binds, datagrams that must not end a listener, the driver's
// detach, and (OscThreads, also run under ThreadSanitizer) a flood while
// the reader takes messages, stops and listens again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "chip/lib/util_network.h"
#include "loopback_port.h"
#include "chip/lib/util_opsc.h"

namespace {

int free_port() { return free_loopback_port(SOCK_DGRAM); }

// Sends raw datagrams to a loopback port.
class Sender {
 public:
  explicit Sender(int port) : m_fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    std::memset(&m_to, 0, sizeof m_to);
    m_to.sin_family = AF_INET;
    m_to.sin_port = htons(static_cast<uint16_t>(port));
    m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~Sender() { close(m_fd); }
  void send(const std::string& datagram) {
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<struct sockaddr*>(&m_to),
           sizeof m_to);
  }

 private:
  int m_fd;
  struct sockaddr_in m_to;
};

// "/n" with one int.
std::string message(int32_t value) {
  std::string m("/n\0\0,i\0\0", 8);
  uint32_t big = htonl(static_cast<uint32_t>(value));
  m.append(reinterpret_cast<const char*>(&big), 4);
  return m;
}

// Waits (without sleeping) until the space holds a message; false after a
// long deadline, which only a fault reaches.
bool arrives(OSC_Address_Space& space) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!space.has_mesg()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

int32_t take(OSC_Address_Space& space) {
  if (!space.next_mesg()) return -1;
  return space.next_int();
}

TEST(OscPorts, TwoReceiversOnOnePortBothGetEveryDatagram) {
  int port = free_port();
  OSC_Receiver one, two;
  OSC_Address_Space a("/n,i"), b("/n,i");
  one.add_address(&a);
  two.add_address(&b);
  ASSERT_TRUE(one.listen(port));
  ASSERT_TRUE(two.listen(port));
  EXPECT_TRUE(UDP_Port_Manager::instance()->has_listener(port));
  Sender sender(port);
  sender.send(message(1));
  ASSERT_TRUE(arrives(a));
  ASSERT_TRUE(arrives(b));
  EXPECT_EQ(take(a), 1);
  EXPECT_EQ(take(b), 1);
  one.stopListening();
  EXPECT_EQ(one.port(), -1);
  sender.send(message(2));
  ASSERT_TRUE(arrives(b));
  EXPECT_EQ(take(b), 2);
  EXPECT_FALSE(a.has_mesg());
  two.stopListening();
  EXPECT_FALSE(UDP_Port_Manager::instance()->has_listener(port));
}

TEST(OscPorts, AFailedBindIsNoSubscription) {
  // Another socket holds the port.
  ck_socket holder = cp_udp_create();
  int port = free_port();
  ASSERT_TRUE(cp_bind(holder, port, "127.0.0.1"));
  OSC_Receiver r;
  EXPECT_FALSE(r.listen(port));
  EXPECT_EQ(r.port(), -1);
  EXPECT_FALSE(UDP_Port_Manager::instance()->has_listener(port));
  cp_close(holder);
  // Out of range: refused, never wrapped.
  EXPECT_FALSE(r.listen(65536 + port));
  EXPECT_FALSE(r.listen(-1));
  EXPECT_FALSE(UDP_Port_Manager::instance()->has_listener(port));
  EXPECT_TRUE(r.listen(port));
}

TEST(OscPorts, EmptyAndMalformedDatagramsDoNotSilenceAPort) {
  int port = free_port();
  OSC_Receiver r;
  OSC_Address_Space space("/n,i");
  r.add_address(&space);
  ASSERT_TRUE(r.listen(port));
  Sender sender(port);
  sender.send(std::string());
  sender.send(std::string("#bundle\0", 8));
  sender.send(message(7));
  ASSERT_TRUE(arrives(space));
  EXPECT_EQ(take(space), 7);
}

TEST(OscPorts, DetachJoinsEveryListener) {
  int port = free_port();
  OSC_Receiver r;
  ASSERT_TRUE(r.listen(port));
  opsc_detach();
  EXPECT_FALSE(UDP_Port_Manager::instance()->has_listener(port));
  EXPECT_EQ(r.port(), -1);
  // The receiver can listen again, and its destruction finds nothing to undo.
  EXPECT_TRUE(r.listen(port));
}

// ---------------------------------------------------------------------------

TEST(OscThreads, AFloodWhileTheScriptReadsStopsAndListensAgain) {
  int port = free_port();
  OSC_Receiver r;
  OSC_Address_Space space("/n,i");
  r.add_address(&space);
  ASSERT_TRUE(r.listen(port));

  std::atomic<bool> done{false};
  std::thread flood([&] {
    Sender sender(port);
    for (int32_t i = 0; !done.load(); i++) sender.send(message(i));
  });

  // Reads see increasing numbers; stopping and listening again loses
  // messages but never reorders or corrupts them.
  int32_t last = -1;
  int taken = 0;
  for (int round = 0; round < 20; round++) {
    ASSERT_TRUE(arrives(space)) << round;
    while (space.next_mesg()) {
      int32_t v = space.next_int();
      ASSERT_GT(v, last);
      last = v;
      taken++;
    }
    if (round % 5 == 4) {
      r.stopListening();
      // A spec change empties the queue under the listener's nose.
      space.setSpec("/n,i");
      ASSERT_TRUE(r.listen(port));
    }
  }
  done.store(true);
  flood.join();
  EXPECT_GT(taken, 0);
  r.stopListening();
  EXPECT_FALSE(UDP_Port_Manager::instance()->has_listener(port));
}

}  // namespace
