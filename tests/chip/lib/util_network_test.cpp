// Socket functions on loopback sockets, and the on-the-fly packet's byte
// order.
#include "chip/lib/util_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

// A listening TCP socket on a loopback port chosen by the system.
struct Server {
  ck_socket sock = cp_tcp_create(1);
  int port = 0;
  Server() {
    EXPECT_TRUE(cp_bind(sock, 0, "127.0.0.1"));
    EXPECT_EQ(::listen(sock->descriptor, 4), 0);
    struct sockaddr_in a;
    socklen_t len = sizeof a;
    getsockname(sock->descriptor, reinterpret_cast<struct sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Server() { cp_close(sock); }
  int accept_one() { return ::accept(sock->descriptor, nullptr, nullptr); }
};

// A connected client and the server's end of it.
struct Connection {
  Server server;
  ck_socket client = cp_tcp_create(0);
  int peer = -1;
  Connection() {
    EXPECT_TRUE(cp_connect(client, "127.0.0.1", server.port));
    peer = server.accept_one();
    EXPECT_GE(peer, 0);
  }
  ~Connection() {
    cp_close(client);
    if (peer >= 0) close(peer);
  }
};

TEST(SocketTest, StreamReceiveCountsWhatArrivedBeforeTheEnd) {
  {
    Connection c;
    char out[200];
    std::memset(out, 'x', sizeof out);
    ASSERT_EQ(write(c.peer, out, sizeof out), 200);
    close(c.peer);
    c.peer = -1;
    char in[536];
    EXPECT_EQ(cp_recv(c.client, in, sizeof in), 200);
  }
  {
    Connection c;
    close(c.peer);
    c.peer = -1;
    char in[536];
    EXPECT_EQ(cp_recv(c.client, in, sizeof in), 0);
  }
  {
    Connection c;
    ASSERT_TRUE(cp_recv_timeout(c.client, 0, 20000));
    char in[536];
    EXPECT_EQ(cp_recv(c.client, in, sizeof in), 0);
  }
}

volatile sig_atomic_t g_signals = 0;
void count_signal(int) { g_signals = g_signals + 1; }

// The state letter of a thread of this process ('S' while it waits).
char thread_state(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

TEST(SocketTest, AnInterruptedReceiveGoesOn) {
  struct sigaction action, saved;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = count_signal;  // no SA_RESTART: the call sees EINTR
  sigaction(SIGUSR1, &action, &saved);
  Connection c;
  std::atomic<pid_t> tid{0};
  int got = -1;
  char in[8];
  std::thread reader([&] {
    tid = gettid();
    got = cp_recv(c.client, in, sizeof in);
  });
  while (tid.load() == 0 || thread_state(tid.load()) != 'S') std::this_thread::yield();
  pthread_kill(reader.native_handle(), SIGUSR1);
  ASSERT_EQ(write(c.peer, "12345678", 8), 8);
  reader.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(g_signals, 1);
  EXPECT_EQ(got, 8);
  EXPECT_EQ(std::string(in, 8), "12345678");
}

TEST(SocketTest, SendingToAClosedPeerIsAnErrorNotASignal) {
  Connection c;
  close(c.peer);
  c.peer = -1;
  std::string big(1 << 16, 'x');
  int result = 0;
  // The first send may still be accepted; a later one meets the reset.
  for (int i = 0; i < 50 && result >= 0; i++)
    result = cp_send(c.client, big.data(), (int)big.size());
  EXPECT_EQ(result, -1);
}

TEST(SocketTest, StreamSendsSendEverything) {
  Connection c;
  std::string big(1 << 20, 'y');
  std::thread drain([&] {
    std::string got;
    char buffer[65536];
    ssize_t n;
    while (got.size() < big.size() && (n = read(c.peer, buffer, sizeof buffer)) > 0)
      got.append(buffer, (size_t)n);
    EXPECT_EQ(got.size(), big.size());
  });
  EXPECT_EQ(cp_send(c.client, big.data(), (int)big.size()), (int)big.size());
  drain.join();
}

TEST(SocketTest, KindsDecideWhatSendtoAndRecvfromDo) {
  ck_socket tcp = cp_tcp_create(0);
  struct sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  EXPECT_EQ(cp_sendto(tcp, "abc", 3, reinterpret_cast<struct sockaddr*>(&to), sizeof to), 0);
  char buffer[8];
  std::memset(buffer, 'z', sizeof buffer);
  int len = sizeof to;
  EXPECT_EQ(cp_recvfrom(tcp, buffer, sizeof buffer, reinterpret_cast<struct sockaddr*>(&to), &len),
            0);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, '\0'));
  cp_close(tcp);
  cp_close(nullptr);
}

TEST(SocketTest, ConnectChecksHostsAndPorts) {
  ck_socket sock = cp_tcp_create(0);
  // A negative port fills the address with its magnitude and connects nothing.
  EXPECT_TRUE(cp_connect(sock, "127.0.0.1", -4321));
  EXPECT_EQ(ntohs(sock->address.sin_port), 4321);
  EXPECT_EQ(sock->address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_TRUE(cp_connect(sock, "localhost", -7));
  EXPECT_EQ(sock->address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_FALSE(cp_connect(sock, "127.0.0.1", INT_MIN));
  EXPECT_FALSE(cp_connect(sock, "127.0.0.1", -65536));
  EXPECT_FALSE(cp_connect(sock, nullptr, -1));
  EXPECT_FALSE(cp_connect(sock, "no-such-host.invalid", -1));
  cp_close(sock);
}

TEST(SocketTest, BindTakesALocalAddressAndRefusesBadPorts) {
  ck_socket sock = cp_udp_create();
  EXPECT_FALSE(cp_bind(sock, 65536, nullptr));
  EXPECT_FALSE(cp_bind(sock, -1, nullptr));
  EXPECT_FALSE(cp_bind(sock, 0, "not an address"));
  EXPECT_TRUE(cp_bind(sock, 0, "127.0.0.1"));
  struct sockaddr_in a;
  socklen_t len = sizeof a;
  getsockname(sock->descriptor, reinterpret_cast<struct sockaddr*>(&a), &len);
  EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  cp_close(sock);
}

TEST(SocketTest, SocketsAreClosedOnExec) {
  ck_socket socks[] = {cp_udp_create(), cp_tcp_create(0)};
  for (ck_socket sock : socks) {
    ASSERT_NE(sock, nullptr);
    EXPECT_TRUE(fcntl(sock->descriptor, F_GETFD) & FD_CLOEXEC);
    cp_close(sock);
  }
}

TEST(NetMsgTest, SixWordsTravelBigEndianAndTheBufferAsItIs) {
  Net_Msg msg;
  std::memset(&msg, 0, sizeof msg);
  msg.header = NET_HEADER;
  msg.type = 4;
  msg.param = -1;
  msg.param2 = 0x01020304;
  msg.param3 = 512;
  msg.length = 7;
  std::strcpy(msg.buffer, "f.chip:a");
  Net_Msg wire = msg;
  otf_hton(&wire);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&wire);
  const unsigned char head[] = {0x8C, 0x8C, 0xC8, 0xC8, 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFF,
                                1,    2,    3,    4,    0, 0, 2, 0, 0,    0,    0,    7};
  EXPECT_EQ(std::memcmp(b, head, sizeof head), 0);
  EXPECT_STREQ(wire.buffer, "f.chip:a");
  otf_ntoh(&wire);
  EXPECT_EQ(std::memcmp(&wire, &msg, sizeof msg), 0);
}

}  // namespace
