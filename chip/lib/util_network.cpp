// Socket functions (IPv4) and the on-the-fly command packet.
#include "chip/lib/util_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

ck_socket make_socket(int type, int kind) {
  ck_socket sock = static_cast<ck_socket>(std::calloc(1, sizeof(cp_socket_)));
  if (!sock) return nullptr;
  // Close-on-exec: a command a script runs must not inherit the socket.
  sock->descriptor = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (sock->descriptor < 0) {
    std::free(sock);
    return nullptr;
  }
  sock->kind = kind;
  return sock;
}

bool valid_port(long port) { return port >= 0 && port <= 65535; }

t_CPBOOL set_timeout(ck_socket sock, int option, long sec, long usec) {
  if (!sock) return FALSE;
  struct timeval tv;
  tv.tv_sec = sec;
  tv.tv_usec = usec;
  return setsockopt(sock->descriptor, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

ck_socket cp_udp_create() { return make_socket(SOCK_DGRAM, CP_SOCKET_UDP); }

ck_socket cp_tcp_create(int flags) {
  ck_socket sock = make_socket(SOCK_STREAM, CP_SOCKET_TCP);
  if (!sock) return nullptr;
  int on = 1;
  if (flags) setsockopt(sock->descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(sock->descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return sock;
}

t_CPBOOL cp_resolve_ipv4(const char* host, struct in_addr* address) {
  if (!host || !*host) return FALSE;
  struct in_addr parsed;
  if (inet_pton(AF_INET, host, &parsed) == 1) {
    *address = parsed;
    return TRUE;
  }
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  struct addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return FALSE;
  t_CPBOOL ok = FALSE;
  for (struct addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr) {
      *address = reinterpret_cast<struct sockaddr_in*>(a->ai_addr)->sin_addr;
      ok = TRUE;
      break;
    }
  }
  freeaddrinfo(found);
  return ok;
}

t_CPBOOL cp_bind(ck_socket sock, int port, const char* local) {
  if (!sock || !valid_port(port)) return FALSE;
  std::memset(&sock->address, 0, sizeof sock->address);
  sock->address.sin_family = AF_INET;
  sock->address.sin_port = htons(static_cast<uint16_t>(port));
  if (local && *local) {
    if (inet_pton(AF_INET, local, &sock->address.sin_addr) != 1) return FALSE;
  } else {
    sock->address.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  return bind(sock->descriptor, reinterpret_cast<struct sockaddr*>(&sock->address),
              sizeof sock->address) == 0;
}

t_CPBOOL cp_connect(ck_socket sock, const char* host, int port) {
  if (!sock || !host) return FALSE;
  // |port| in 64 bits: the most negative int has no positive partner.
  long magnitude = port < 0 ? -static_cast<long>(port) : port;
  if (!valid_port(magnitude)) return FALSE;
  std::memset(&sock->address, 0, sizeof sock->address);
  sock->address.sin_family = AF_INET;
  sock->address.sin_port = htons(static_cast<uint16_t>(magnitude));
  if (!cp_resolve_ipv4(host, &sock->address.sin_addr)) return FALSE;
  if (port < 0) return TRUE;
  int rc;
  do {
    rc = connect(sock->descriptor, reinterpret_cast<struct sockaddr*>(&sock->address),
                 sizeof sock->address);
  } while (rc < 0 && errno == EINTR);
  return rc == 0;
}

int cp_send(ck_socket sock, const char* buffer, int len) {
  if (!sock || !buffer || len < 0) return -1;
  if (sock->kind != CP_SOCKET_TCP) {
    ssize_t n;
    do {
      n = send(sock->descriptor, buffer, static_cast<size_t>(len), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
  }
  int sent = 0;
  while (sent < len) {
    ssize_t n =
        send(sock->descriptor, buffer + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    sent += static_cast<int>(n);
  }
  return sent;
}

int cp_sendto(ck_socket sock, const char* buffer, int len, const struct sockaddr* to, int tolen) {
  if (!sock || sock->kind == CP_SOCKET_TCP) return 0;
  if (!buffer || len < 0 || !to || tolen <= 0) return -1;
  ssize_t n;
  do {
    n = sendto(sock->descriptor, buffer, static_cast<size_t>(len), MSG_NOSIGNAL, to,
               static_cast<socklen_t>(tolen));
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

int cp_recv(ck_socket sock, char* buffer, int len) {
  if (!sock || !buffer || len < 0) return 0;
  if (sock->kind != CP_SOCKET_TCP) {
    ssize_t n;
    do {
      n = recv(sock->descriptor, buffer, static_cast<size_t>(len), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
  }
  int got = 0;
  while (got < len) {
    ssize_t n = recv(sock->descriptor, buffer + got, static_cast<size_t>(len - got), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // An error or a time-out: nothing usable.
      return 0;
    }
    // The peer closed: what arrived so far.
    if (n == 0) return got;
    got += static_cast<int>(n);
  }
  return len;
}

int cp_recvfrom(ck_socket sock, char* buffer, int len, struct sockaddr* from, int* fromlen) {
  if (!sock || !buffer || len < 0) return 0;
  if (sock->kind == CP_SOCKET_TCP) {
    std::memset(buffer, 0, static_cast<size_t>(len));
    return 0;
  }
  socklen_t size = fromlen && *fromlen > 0 ? static_cast<socklen_t>(*fromlen) : 0;
  ssize_t n;
  do {
    n = recvfrom(sock->descriptor, buffer, static_cast<size_t>(len), 0, size ? from : nullptr,
                 size ? &size : nullptr);
  } while (n < 0 && errno == EINTR);
  if (fromlen) *fromlen = static_cast<int>(size);
  return static_cast<int>(n);
}

t_CPBOOL cp_send_timeout(ck_socket sock, long sec, long usec) {
  return set_timeout(sock, SO_SNDTIMEO, sec, usec);
}

t_CPBOOL cp_recv_timeout(ck_socket sock, long sec, long usec) {
  return set_timeout(sock, SO_RCVTIMEO, sec, usec);
}

t_CPBOOL cp_nonblocking(ck_socket sock) {
  if (!sock) return FALSE;
  int flags = fcntl(sock->descriptor, F_GETFL, 0);
  if (flags < 0) return FALSE;
  return fcntl(sock->descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

void cp_close(ck_socket sock) {
  if (!sock) return;
  close(sock->descriptor);
  std::free(sock);
}

// ---------------------------------------------------------------------------
// The on-the-fly packet

Net_Msg net_msg(t_CPUINT type, t_CPINT param) {
  Net_Msg msg;
  std::memset(&msg, 0, sizeof msg);
  msg.header = NET_HEADER;
  msg.type = type;
  msg.param = param;
  return msg;
}

void otf_hton(Net_Msg* msg) {
  msg->header = htonl(msg->header);
  msg->type = htonl(msg->type);
  msg->param = static_cast<t_CPINT>(htonl(static_cast<t_CPUINT>(msg->param)));
  msg->param2 = static_cast<t_CPINT>(htonl(static_cast<t_CPUINT>(msg->param2)));
  msg->param3 = static_cast<t_CPINT>(htonl(static_cast<t_CPUINT>(msg->param3)));
  msg->length = static_cast<t_CPINT>(htonl(static_cast<t_CPUINT>(msg->length)));
}

void otf_ntoh(Net_Msg* msg) {
  msg->header = ntohl(msg->header);
  msg->type = ntohl(msg->type);
  msg->param = static_cast<t_CPINT>(ntohl(static_cast<t_CPUINT>(msg->param)));
  msg->param2 = static_cast<t_CPINT>(ntohl(static_cast<t_CPUINT>(msg->param2)));
  msg->param3 = static_cast<t_CPINT>(ntohl(static_cast<t_CPUINT>(msg->param3)));
  msg->length = static_cast<t_CPINT>(ntohl(static_cast<t_CPUINT>(msg->length)));
}
