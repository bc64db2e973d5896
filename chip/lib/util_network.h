// Socket functions (IPv4) and the on-the-fly command packet.
//
// A thin layer over BSD sockets that Open Sound Control (UDP) and the
// on-the-fly command protocol (TCP) share. Every operation takes a
// cp_socket_ handle made by cp_tcp_create or cp_udp_create, which remembers
// the kind of socket it holds; some operations behave differently for the
// two kinds (see each). Handles are freed by cp_close.
//
// Safety rules the layer keeps for every caller:
//   - every descriptor is close-on-exec, so a child started by Std.system
//     inherits no socket of the engine;
//   - names are resolved with getaddrinfo (thread-safe), IPv4 only, and a
//     dotted quad is parsed without any lookup;
//   - ports outside 0..65535 are refused, never wrapped;
//   - a stream send writes everything (short writes are continued) and never
//     raises SIGPIPE (MSG_NOSIGNAL): a closed peer is an error result;
//   - an interrupted call (EINTR) is retried, not reported as an error.
//
// Net_Msg is the fixed 536-byte packet of the on-the-fly protocol: six
// 32-bit words (big-endian on the wire) and a 512-byte buffer. A packet
// built in memory and handed to the request processing directly (the
// Machine class does so) stays in host order; otf_hton/otf_ntoh convert
// the six words in place right before a send and right after a receive.
//
// Threads: no locking. A handle belongs to one user at a time.
#ifndef CHIP_UTIL_NETWORK_H
#define CHIP_UTIL_NETWORK_H

#include <netinet/in.h>

#include "chip/util/chip_def.h"

enum { CP_SOCKET_TCP = 1, CP_SOCKET_UDP = 2 };

struct cp_socket_ {
  int descriptor;
  int kind;                    // CP_SOCKET_TCP or CP_SOCKET_UDP
  struct sockaddr_in address;  // local (cp_bind) or peer (cp_connect) address
  int address_length;          // unused by these functions
};
typedef cp_socket_* ck_socket;

// A new UDP handle; null when the system refuses the socket.
ck_socket cp_udp_create();
// A new TCP handle with TCP_NODELAY (and SO_REUSEADDR when flags is
// non-zero); null when the system refuses the socket.
ck_socket cp_tcp_create(int flags);

// Binds to port on the local address `local` (a dotted quad; null or ""
// is the wildcard). FALSE for a port outside 0..65535, an address that is
// no dotted quad, or a refused bind.
t_CPBOOL cp_bind(ck_socket sock, int port, const char* local);

// Fills the peer address for host (dotted quad, or a name looked up IPv4)
// and |port|; with port >= 0 also connects. FALSE for a null host, an
// unknown host, |port| above 65535 or a failed connection attempt.
t_CPBOOL cp_connect(ck_socket sock, const char* host, int port);

// Stream: sends all len bytes (continuing short sends); returns len, or -1
// on error. Datagram: one send. Never raises SIGPIPE.
int cp_send(ck_socket sock, const char* buffer, int len);
// Datagram send to a destination; 0 without sending on a TCP handle.
// Never blocks when the socket was made non-blocking (cp_nonblocking).
int cp_sendto(ck_socket sock, const char* buffer, int len, const struct sockaddr* to, int tolen);
// Stream: reads until exactly len bytes arrived: len, the bytes received
// before the peer closed, or 0 on an error or time-out. Datagram: one
// receive (its result).
int cp_recv(ck_socket sock, char* buffer, int len);
// Datagram receive with the source address; 0 with a zeroed buffer on a
// TCP handle.
int cp_recvfrom(ck_socket sock, char* buffer, int len, struct sockaddr* from, int* fromlen);

t_CPBOOL cp_send_timeout(ck_socket sock, long sec, long usec);
t_CPBOOL cp_recv_timeout(ck_socket sock, long sec, long usec);
// Makes the socket's sends and receives return at once instead of waiting.
t_CPBOOL cp_nonblocking(ck_socket sock);

// Closes the descriptor and frees the handle; null is ignored.
void cp_close(ck_socket sock);

// Parses host as an IPv4 address, looking the name up only when it is not
// a dotted quad. FALSE (address untouched) when it cannot be resolved.
t_CPBOOL cp_resolve_ipv4(const char* host, struct in_addr* address);

// ---------------------------------------------------------------------------
// The on-the-fly packet.

enum { NET_BUFFER_SIZE = 512 };
// The first word of every packet.
const t_CPUINT NET_HEADER = 0x8C8CC8C8;

struct Net_Msg {
  t_CPUINT header;  // NET_HEADER
  t_CPUINT type;    // request type (1 add ... 11 abort)
  t_CPINT param;    // shred id or argument
  t_CPINT param2;   // file transfer: bytes of the file / bytes still to come
  t_CPINT param3;   // chunk: bytes read into buffer
  t_CPINT length;   // chunk: payload bytes in buffer
  char buffer[NET_BUFFER_SIZE];
};
static_assert(sizeof(Net_Msg) == 536, "the on-the-fly packet is 536 bytes on the wire");

// In-place conversion of the six words (never the buffer).
// A packet (host order) of the given type and parameter: the header set,
// the other words and the buffer zero.
Net_Msg net_msg(t_CPUINT type, t_CPINT param);

void otf_hton(Net_Msg* msg);
void otf_ntoh(Net_Msg* msg);

#endif
