// A port free on the loopback interface right now, for tests that start
// listeners of their own (type SOCK_DGRAM or SOCK_STREAM), and a TCP
// connection to a loopback port.
#ifndef TESTS_CHIP_LOOPBACK_PORT_H
#define TESTS_CHIP_LOOPBACK_PORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

inline int free_loopback_port(int type = SOCK_DGRAM) {
  int fd = socket(AF_INET, type, 0);
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<struct sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// A TCP connection to port on the loopback interface; -1 when refused.
inline int connect_loopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

#endif
