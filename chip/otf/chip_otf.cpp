// The on-the-fly command protocol: processing, client and listener.
#include "chip/otf/chip_otf.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "chip/front/chip_parse.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_string.h"
#include "chip/vm/chip_vm.h"

t_CPINT g_otf_log = 5;
t_CPBOOL g_sigpipe_mode = FALSE;

namespace {

f_otf_compile g_compile = nullptr;

std::mutex g_parse_lock;

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads exactly len bytes from fd before the deadline; a byte on wake (when
// not -1) ends the wait. FALSE with the reason.
bool read_exact(int fd, int wake, char* buffer, size_t len, Clock::time_point deadline,
                std::string& reason) {
  size_t got = 0;
  while (got < len) {
    struct pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    int n = poll(p, wake >= 0 ? 2 : 1, ms_left(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = "connection error";
      return false;
    }
    if (n == 0) {
      reason = "timed out waiting for a packet";
      return false;
    }
    if (wake >= 0 && p[1].revents) {
      reason = "listener stopping";
      return false;
    }
    ssize_t r = recv(fd, buffer + got, len - got, 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) {
      reason = got ? "connection closed inside a packet" : "connection closed";
      return false;
    }
    got += static_cast<size_t>(r);
  }
  return true;
}

// Packets from a connection: each must arrive whole within the packet
// time-out.
class Socket_Source : public Otf_Packet_Source {
 public:
  Socket_Source(int fd, int wake) : m_fd(fd), m_wake(wake) {}
  bool next(Net_Msg* msg, std::string& reason) override {
    auto deadline = Clock::now() + std::chrono::milliseconds(OTF_PACKET_TIMEOUT_MS);
    if (!read_exact(m_fd, m_wake, reinterpret_cast<char*>(msg), sizeof *msg, deadline, reason)) {
      return false;
    }
    otf_ntoh(msg);
    return true;
  }

 private:
  int m_fd;
  int m_wake;
};

bool send_packet(ck_socket sock, Net_Msg msg) {
  otf_hton(&msg);
  return cp_send(sock, reinterpret_cast<const char*>(&msg), sizeof msg) ==
         static_cast<int>(sizeof msg);
}

bool send_packet_fd(int fd, Net_Msg msg) {
  otf_hton(&msg);
  const char* p = reinterpret_cast<const char*>(&msg);
  size_t sent = 0;
  while (sent < sizeof msg) {
    ssize_t n = send(fd, p + sent, sizeof msg - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

Net_Msg blank_packet() {
  Net_Msg msg;
  std::memset(&msg, 0, sizeof msg);
  msg.header = NET_HEADER;
  return msg;
}

// The text of a packet's buffer, cut at its first zero or at byte 511.
std::string buffer_text(const Net_Msg& msg) {
  return std::string(msg.buffer, strnlen(msg.buffer, NET_BUFFER_SIZE - 1));
}

// What the machine compiles on its own thread: a source received over a
// connection.
struct Compile_Job {
  Chip_Compiler* compiler = nullptr;
  std::string filename;
  std::string source;
  std::string error;  // the compiler's last error when it failed
};

t_CPBOOL prepare_compile(Chip_Msg* msg) {
  Compile_Job* job = static_cast<Compile_Job*>(msg->prepare_data);
  if (!job) return FALSE;
  Chip_VM_Code* code = nullptr;
  std::lock_guard<std::mutex> lock(g_parse_lock);
  if (!g_compile || !g_compile(job->compiler, job->filename, nullptr, job->source.c_str(), &code) ||
      !code) {
    job->error = g_compile ? g_lasterror : "no compiler";
    return FALSE;
  }
  code->name += job->filename;
  msg->code = code;
  return TRUE;
}

}  // namespace

void otf_set_compile(f_otf_compile compile) { g_compile = compile; }

std::mutex& otf_parse_lock() { return g_parse_lock; }

// ---------------------------------------------------------------------------
// Reading requests

bool otf_read_source(Otf_Packet_Source& source, const Net_Msg& first, std::string& out,
                     size_t budget_used, std::string& reason) {
  if (first.param2 < 0 || static_cast<size_t>(first.param2) > OTF_MAX_FILE - budget_used) {
    reason = "source size " + std::to_string(first.param2) + " out of range";
    return false;
  }
  size_t left = static_cast<size_t>(first.param2);
  while (left > 0) {
    Net_Msg chunk;
    if (!source.next(&chunk, reason)) return false;
    if (chunk.header != NET_HEADER) {
      reason = "bad packet header";
      return false;
    }
    if (chunk.param2 == -1) {
      reason = "the sender could not read the file";
      return false;
    }
    if (chunk.length < 0 || chunk.length > NET_BUFFER_SIZE ||
        static_cast<size_t>(chunk.length) > left) {
      reason = "chunk length " + std::to_string(chunk.length) + " out of range";
      return false;
    }
    // A chunk must leave exactly what it announces: the file arrives whole,
    // as announced, or not at all.
    left -= static_cast<size_t>(chunk.length);
    if (chunk.param2 < 0 || static_cast<size_t>(chunk.param2) != left) {
      reason = "chunk sizes do not add up to the announced size";
      return false;
    }
    out.append(chunk.buffer, static_cast<size_t>(chunk.length));
  }
  return true;
}

bool otf_read_request(Otf_Packet_Source& source, std::vector<Otf_Command>& commands,
                      std::string& reason) {
  size_t budget = 0;
  for (;;) {
    Net_Msg msg;
    if (!source.next(&msg, reason)) return false;
    if (msg.header != NET_HEADER) {
      reason = "bad packet header";
      return false;
    }
    if (msg.type == OTF_DONE) return true;
    if (commands.size() >= OTF_MAX_COMMANDS) {
      reason = "too many commands in one request";
      return false;
    }
    Otf_Command command;
    command.type = msg.type;
    command.param = msg.param;
    if (msg.type == OTF_ADD || msg.type == OTF_REPLACE) {
      // The token ends at byte 511 whatever the peer sent.
      msg.buffer[NET_BUFFER_SIZE - 1] = '\0';
      std::string token = buffer_text(msg);
      if (!extract_args(token, command.filename, command.args)) {
        reason = "malformed filename with argument list '" + token + "'";
        return false;
      }
      // A source arrives with the request; -1 says the sender has none.
      if (msg.param2 == -1) {
        reason = "no source sent for '" + command.filename + "'";
        return false;
      }
      if (!otf_read_source(source, msg, command.source, budget, reason)) return false;
      budget += command.source.size();
      if (std::memchr(command.source.data(), 0, command.source.size())) {
        reason = "source '" + command.filename + "' holds a zero byte";
        return false;
      }
    }
    commands.push_back(std::move(command));
  }
}

FILE* recv_file(const Net_Msg* msg, ck_socket sock) {
  if (!msg || !sock) return nullptr;
  Socket_Source source(sock->descriptor, -1);
  std::string data;
  std::string reason;
  if (!otf_read_source(source, *msg, data, 0, reason)) {
    EM_printf("[chip]: receiving a source failed: %s...\n", reason.c_str());
    return nullptr;
  }
  FILE* fd = tmpfile();
  if (!fd) return nullptr;
  if (!data.empty() && fwrite(data.data(), 1, data.size(), fd) != data.size()) {
    fclose(fd);
    return nullptr;
  }
  return fd;
}

// ---------------------------------------------------------------------------
// Processing one packet

t_CPUINT otf_process_msg(Chip_VM* vm, Chip_Compiler* compiler, Net_Msg* msg, t_CPUINT immediate,
                         void* data) {
  if (!vm || !msg) return 0;
  std::unique_ptr<Chip_Msg> request(new Chip_Msg);
  FILE* received = nullptr;

  if (msg->type == OTF_ADD || msg->type == OTF_REPLACE) {
    // The token must end inside the buffer.
    size_t len = strnlen(msg->buffer, NET_BUFFER_SIZE);
    std::string token(msg->buffer, len);
    std::string filename;
    std::vector<std::string> args;
    if (len == NET_BUFFER_SIZE || !extract_args(token, filename, args)) {
      EM_printf("[chip]: malformed filename with argument list...\n");
      EM_printf("    -->  '%s'", token.c_str());
      return 0;
    }
    if (!args.empty()) {
      std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
      std::memcpy(msg->buffer, filename.c_str(),
                  std::min(filename.size(), size_t(NET_BUFFER_SIZE - 1)));
      request->args = new std::vector<std::string>(args);
    }
    ck_socket sock = static_cast<ck_socket>(data);
    // From a connection the name is a label only: the source is what the
    // connection carries (size 0: empty), never a file of this host.
    if (sock && msg->param2 == -1) {
      EM_printf("[chip]: incoming source transfer '%s' failed...\n", mini(filename.c_str()));
      return 0;
    }
    if (sock || (msg->param2 != 0 && msg->param2 != -1)) {
      if (!sock || !(received = recv_file(msg, sock))) {
        EM_printf("[chip]: incoming source transfer '%s' failed...\n", mini(filename.c_str()));
        return 0;
      }
    }
    Chip_VM_Code* code = nullptr;
    t_CPBOOL ok = FALSE;
    if (g_compile) {
      std::lock_guard<std::mutex> lock(g_parse_lock);
      ok = g_compile(compiler, filename, received, nullptr, &code) && code;
    } else {
      EM_printf("[chip]: no compiler for incoming source '%s'...\n", filename.c_str());
    }
    if (received) fclose(received);
    if (!ok) return 0;
    code->name += filename;
    request->kind = msg->type;
    request->code = code;
    if (msg->type == OTF_REPLACE) request->param = static_cast<t_CPUINT>(msg->param);
  } else if (msg->type == OTF_REMOVE || msg->type == OTF_REMOVEALL || msg->type == OTF_STATUS ||
             msg->type == OTF_KILL || msg->type == OTF_TIME || msg->type == OTF_RESET_ID) {
    request->kind = msg->type;
    request->param = static_cast<t_CPUINT>(msg->param);
  } else if (msg->type == OTF_ABORT) {
    if (immediate) {
      vm->abort_current_shred();
    } else {
      vm->request_abort();
    }
    return 1;
  } else {
    EM_printf("[chip]: unrecognized incoming command from network: '%i'\n",
              static_cast<int>(msg->type));
    return 0;
  }

  // The machine owns the request from here.
  if (immediate) return vm->process_msg(request.release());
  vm->queue_msg(request.release(), 1);
  return 1;
}

// ---------------------------------------------------------------------------
// The client

ck_socket otf_send_connect(const char* host, int port) {
  EM_log(CP_LOG_INFO, "otf connect: %s:%i", host ? host : "", port);
  ck_socket sock = cp_tcp_create(0);
  if (!sock) {
    EM_printf("[chip]: cannot open socket to send command...\n");
    return nullptr;
  }
  if (host && std::strcmp(host, "127.0.0.1") != 0) {
    EM_log(g_otf_log, "connecting to %s on port %i via TCP...", host, port);
  }
  // Ports 1..65535; the address is resolved first, the connection is then
  // given 2 seconds.
  bool ok = host && port >= 1 && port <= 65535 && cp_connect(sock, host, -port);
  if (ok) {
    int fd = sock->descriptor;
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, reinterpret_cast<struct sockaddr*>(&sock->address), sizeof sock->address);
    if (rc < 0 && errno == EINPROGRESS) {
      auto deadline = Clock::now() + std::chrono::seconds(2);
      struct pollfd p = {fd, POLLOUT, 0};
      int n;
      do {
        n = poll(&p, 1, ms_left(deadline));
      } while (n < 0 && errno == EINTR);
      int error = 0;
      socklen_t size = sizeof error;
      rc = n == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 ? 0
                                                                                             : -1;
    }
    fcntl(fd, F_SETFL, flags);
    ok = rc == 0;
  }
  if (!ok) {
    EM_printf("cannot open TCP socket on %s:%i...\n", host ? host : "", port);
    cp_close(sock);
    return nullptr;
  }
  cp_send_timeout(sock, 0, 2000000);
  return sock;
}

int otf_send_file(const char* token, Net_Msg* msg, const char* op, ck_socket sock) {
  std::string filename;
  std::vector<std::string> args;
  if (!token || !extract_args(token, filename, args)) {
    EM_printf("[chip]: malformed filename + argument list...\n");
    EM_printf("    -->  '%s'", token ? token : "");
    return 0;
  }
  // The token travels zero-ended in the buffer; the name must leave room
  // for ".chip" in the working buffer.
  size_t token_len = std::strlen(token);
  if (token_len >= NET_BUFFER_SIZE || filename.size() + 6 > CHIP_FILENAME_MAX) {
    EM_printf("[chip]: file name + arguments too long (at most %d characters) for [%s]...\n",
              NET_BUFFER_SIZE - 1, op);
    return 0;
  }
  std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
  std::memcpy(msg->buffer, token, token_len);
  char path[CHIP_FILENAME_MAX];
  std::memset(path, 0, sizeof path);
  std::memcpy(path, filename.c_str(), filename.size());

  FILE* fd = open_cat_chip(path, sizeof path);
  if (!fd) {
    EM_printf("[chip]: cannot open file '%s' for [%s]...\n", filename.c_str(), op);
    return 0;
  }
  t_CPBOOL parsed;
  {
    std::lock_guard<std::mutex> lock(g_parse_lock);
    parsed = chip_parse(path, fd, nullptr);
    if (parsed) {
      delete_program(g_program);
      g_program = nullptr;
    }
    reset_parse();
  }
  if (!parsed) {
    EM_printf("[chip]: skipping file '%s' for [%s]...\n", filename.c_str(), op);
    fclose(fd);
    return 0;
  }
  // The size of what was opened (not of the name, which another process
  // might replace meanwhile).
  struct stat st;
  if (fstat(fileno(fd), &st) != 0 || st.st_size > OTF_MAX_FILE) {
    EM_printf("[chip]: cannot send file '%s' for [%s] (larger than %d bytes)...\n",
              filename.c_str(), op, static_cast<int>(OTF_MAX_FILE));
    fclose(fd);
    return 0;
  }
  rewind(fd);
  long left = static_cast<long>(st.st_size);
  EM_log(CP_LOG_INFO, "sending TCP file %s, size=%d", path, static_cast<int>(left));
  // (No log indentation here: the client may run beside the machine, and the
  // indentation depth is the machine's.)
  msg->param2 = static_cast<t_CPINT>(left);
  msg->param3 = 0;
  msg->length = 0;
  bool ok = send_packet(sock, *msg);
  while (ok && left > 0) {
    EM_log(CP_LOG_FINE, "%03d bytes left ... ", static_cast<int>(left));
    msg->length = static_cast<t_CPINT>(std::min(left, static_cast<long>(NET_BUFFER_SIZE)));
    size_t n = fread(msg->buffer, 1, static_cast<size_t>(msg->length), fd);
    msg->param3 = static_cast<t_CPINT>(n);
    bool last = false;
    if (n == 0) {
      EM_printf("[chip]: error while reading '%s'...\n", filename.c_str());
      msg->param2 = -1;
      last = true;
    } else {
      // A short read sends what was read; the rest follows.
      msg->length = static_cast<t_CPINT>(n);
      left -= static_cast<long>(n);
      msg->param2 = static_cast<t_CPINT>(left);
    }
    EM_log(CP_LOG_FINE, "sending buffer %03d length %03d...", msg->param3, msg->length);
    ok = send_packet(sock, *msg);
    if (last) break;
  }
  fclose(fd);
  std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
  return ok ? 1 : 0;
}

namespace {

bool one_of(const char* arg, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (std::strcmp(arg, name) == 0) return true;
  }
  return false;
}

}  // namespace

int otf_send_cmd(int argc, const char* const* argv, long& i, const char* host, int port,
                 int* is_otf, t_CPBOOL* accepted) {
  g_sigpipe_mode = TRUE;
  if (is_otf) *is_otf = 1;
  if (accepted) *accepted = FALSE;
  Net_Msg msg = blank_packet();
  const char* arg = argv[i];
  EM_log(CP_LOG_INFO, "examining otf command '%s'...", arg);

  enum Op { ADD, REMOVE, REMOVE_LAST, REPLACE, REMOVE_ALL, KILL, TIME, RID, STATUS, ABORT };
  Op op;
  if (one_of(arg, {"--add", "+"})) {
    op = ADD;
  } else if (one_of(arg, {"--remove", "-"})) {
    op = REMOVE;
  } else if (one_of(arg, {"--"})) {
    op = REMOVE_LAST;
  } else if (one_of(arg, {"--replace", "="})) {
    op = REPLACE;
  } else if (one_of(arg, {"--removeall", "--remall", "--remove.all"})) {
    op = REMOVE_ALL;
  } else if (one_of(arg, {"--kill"})) {
    op = KILL;
  } else if (one_of(arg, {"--time"})) {
    op = TIME;
  } else if (one_of(arg, {"--rid"})) {
    op = RID;
  } else if (one_of(arg, {"--status", "^"})) {
    op = STATUS;
  } else if (one_of(arg, {"--abort.shred"})) {
    op = ABORT;
  } else {
    if (is_otf) *is_otf = 0;
    return 0;
  }

  if (op == ADD && i + 1 >= argc) {
    EM_printf("[chip]: not enough arguments following [add]...\n");
    return 0;
  }
  if (op == REMOVE && i + 1 >= argc) {
    EM_printf("[chip]: not enough arguments following [remove]...\n");
    return 0;
  }
  if (op == REPLACE && i + 2 >= argc) {
    EM_printf("[chip]: not enough arguments following [replace]...\n");
    return 0;
  }

  ck_socket sock = otf_send_connect(host, port);
  if (!sock) return 0;
  bool sent_all = true;
  auto send = [&](t_CPUINT type, t_CPINT param) {
    msg.type = type;
    msg.param = param;
    msg.param2 = msg.param3 = msg.length = 0;
    if (!send_packet(sock, msg)) sent_all = false;
  };
  int files = 0;
  switch (op) {
    case ADD:
      while (++i < argc) {
        EM_log(CP_LOG_INFO, "sending file:args '%s' for add...", mini(argv[i]));
        msg.type = OTF_ADD;
        msg.param = 1;
        files += otf_send_file(argv[i], &msg, "add", sock);
      }
      break;
    case REMOVE:
      while (++i < argc) {
        t_CPINT id = std::atoi(argv[i]);
        EM_log(CP_LOG_INFO, "requesting removal of shred '%i'...", static_cast<int>(id));
        send(OTF_REMOVE, id);
      }
      break;
    case REMOVE_LAST:
      EM_log(CP_LOG_INFO, "requesting removal of last shred...");
      send(OTF_REMOVE, -1);
      break;
    case REPLACE: {
      t_CPINT id = std::atoi(argv[++i]);
      const char* token = argv[++i];
      EM_log(CP_LOG_INFO, "requesting replace shred '%i' with '%s'...", static_cast<int>(id),
             mini(token));
      msg.type = OTF_REPLACE;
      msg.param = id;
      files = otf_send_file(token, &msg, "replace", sock);
      break;
    }
    case REMOVE_ALL:
      EM_log(CP_LOG_INFO, "requesting removeall...");
      send(OTF_REMOVEALL, 0);
      break;
    case KILL:
      send(OTF_REMOVEALL, 0);
      send(OTF_KILL, i + 1 < argc ? std::atoi(argv[++i]) : 0);
      break;
    case TIME:
      send(OTF_TIME, 0);
      break;
    case RID:
      send(OTF_RESET_ID, 0);
      break;
    case STATUS:
      send(OTF_STATUS, 0);
      break;
    case ABORT:
      send(OTF_ABORT, 0);
      break;
  }

  msg.type = OTF_DONE;
  msg.param2 = msg.param3 = msg.length = 0;
  if ((op == ADD || op == REPLACE) && files == 0) {
    send_packet(sock, msg);
    cp_close(sock);
    return 0;
  }
  EM_log(CP_LOG_INFO, "otf sending request...");
  if (!sent_all || !send_packet(sock, msg)) {
    EM_printf("[chip]: remote operation timed out...\n");
    cp_close(sock);
    return 1;
  }
  cp_recv_timeout(sock, 0, 2000000);
  EM_log(CP_LOG_INFO, "otf awaiting reply...");
  Net_Msg reply;
  if (cp_recv(sock, reinterpret_cast<char*>(&reply), sizeof reply) !=
      static_cast<int>(sizeof reply)) {
    EM_printf("[chip]: remote operation timed out...\n");
  } else {
    otf_ntoh(&reply);
    // The text is zero-ended here, whatever the peer sent.
    reply.buffer[NET_BUFFER_SIZE - 1] = '\0';
    if (reply.header != NET_HEADER) {
      EM_printf("[chip(remote)]:operation failed (sorry)");
      EM_printf("...(reason: %s)\n", "bad reply header");
    } else if (reply.param) {
      EM_log(CP_LOG_INFO, "reply received...");
      if (accepted) *accepted = TRUE;
    } else {
      const char* colon = std::strchr(reply.buffer, ':');
      EM_printf("[chip(remote)]:operation failed (sorry)");
      EM_printf("...(reason: %s)\n", colon ? colon + 1 : reply.buffer);
    }
  }
  cp_close(sock);
  return 1;
}

// ---------------------------------------------------------------------------
// The listener

struct Chip_OTF_Listener::Job {
  Compile_Job compile;
};

Chip_OTF_Listener::~Chip_OTF_Listener() {
  stop();
  for (auto& pending : m_pending) delete pending.second;
}

bool Chip_OTF_Listener::start(Chip_VM* vm, Chip_Compiler* compiler, int port,
                              const std::string& address) {
  if (running()) return true;
  m_vm = vm;
  m_compiler = compiler;
  if (port < 0 || port > 65535) {
    EM_printf("[chip]: cannot bind to tcp port %i (out of range)...\n", port);
    return false;
  }
  m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listen < 0) return false;
  int on = 1;
  setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
            bind(m_listen, reinterpret_cast<struct sockaddr*>(&a), sizeof a) == 0 &&
            listen(m_listen, 8) == 0 && pipe2(m_wake, O_CLOEXEC) == 0;
  if (!ok) {
    EM_printf("[chip]: cannot bind to tcp port %i on %s: the on-the-fly listener is off...\n",
              port, address.c_str());
    close(m_listen);
    m_listen = -1;
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(m_listen, reinterpret_cast<struct sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  m_stopping = false;
  EM_log(CP_LOG_SYSTEM, "OTF server/listener: starting on %s:%i", address.c_str(), m_port);
  m_thread = std::thread([this] { loop(); });
  return true;
}

void Chip_OTF_Listener::stop() {
  if (m_thread.joinable()) {
    m_stopping = true;
    char byte = 'q';
    ssize_t n = write(m_wake[1], &byte, 1);
    (void)n;
    m_thread.join();
  }
  if (m_listen >= 0) close(m_listen);
  m_listen = -1;
  for (int& fd : m_wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  // Replies the machine gave after their requests timed out; what it never
  // took goes with the machine's queue. Their compile jobs stay until the
  // listener goes (after the machine): a pass that was under way when the
  // machine stopped may still read them.
  drain_replies();
  // The machine may be deleted from here on.
  m_vm = nullptr;
}

void Chip_OTF_Listener::loop() {
  while (!m_stopping) {
    struct pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    int n = poll(p, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    serve(fd);
    close(fd);
  }
}

void Chip_OTF_Listener::serve(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  struct timeval tv = {2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  Socket_Source source(fd, m_wake[0]);
  std::vector<Otf_Command> commands;
  std::string reason;
  bool ok = otf_read_request(source, commands, reason);
  if (!ok) {
    EM_printf("[chip]: on-the-fly request refused: %s...\n", reason.c_str());
    reason = "request: " + reason;
  } else {
    for (Otf_Command& command : commands) {
      std::string why;
      if (!execute(command, why) && ok) {
        ok = false;
        reason = why;
      }
    }
  }
  Net_Msg reply = blank_packet();
  reply.type = OTF_DONE;
  reply.param = ok ? 1 : 0;
  if (!ok) {
    size_t n = std::min(reason.size(), size_t(NET_BUFFER_SIZE - 1));
    std::memcpy(reply.buffer, reason.data(), n);
  }
  send_packet_fd(fd, reply);
  // A refused peer may still be sending: what it sent is read (a bounded
  // amount, briefly) before the close, so that the close does not reset the
  // connection and lose the reply on its way.
  shutdown(fd, SHUT_WR);
  char scratch[4096];
  for (size_t drained = 0; drained < (1u << 20);) {
    struct pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (poll(p, 2, 100) <= 0 || p[1].revents) break;
    ssize_t n = recv(fd, scratch, sizeof scratch, 0);
    if (n <= 0) break;
    drained += static_cast<size_t>(n);
  }
}

bool Chip_OTF_Listener::execute(Otf_Command& command, std::string& reason) {
  static const char* const names[] = {"",     "add",    "remove", "removeall", "replace", "status",
                                      "",     "kill",   "time",   "rid",       "done",    "abort"};
  const char* what = command.type < 12 ? names[command.type] : "";
  switch (command.type) {
    case OTF_ABORT:
      m_vm->request_abort();
      return true;
    case OTF_ADD:
    case OTF_REPLACE:
    case OTF_REMOVE:
    case OTF_REMOVEALL:
    case OTF_STATUS:
    case OTF_KILL:
    case OTF_TIME:
    case OTF_RESET_ID:
      break;
    default:
      EM_printf("[chip]: unrecognized incoming command from network: '%i'\n",
                static_cast<int>(command.type));
      reason = "request: unrecognized command " + std::to_string(command.type);
      return false;
  }
  // The machine's queue has no full state: never more requests in it than
  // it holds.
  drain_replies();
  if (m_pending.size() >= CHIP_VM_QUEUE_SIZE / 2) {
    reason = std::string(what) + ": the machine is not taking requests";
    return false;
  }
  Chip_Msg* msg = new Chip_Msg;
  Job* job = nullptr;
  msg->kind = command.type;
  msg->param = static_cast<t_CPUINT>(command.param);
  msg->reply = msg;
  if (command.type == OTF_ADD || command.type == OTF_REPLACE) {
    job = new Job;
    job->compile.compiler = m_compiler;
    job->compile.filename = command.filename;
    job->compile.source = std::move(command.source);
    if (!command.args.empty()) msg->args = new std::vector<std::string>(command.args);
    msg->prepare = prepare_compile;
    msg->prepare_data = &job->compile;
  }
  m_pending.emplace_back(msg, job);
  m_vm->queue_msg(msg, 1);
  t_CPUINT value = 0;
  if (!await(msg, value)) {
    reason = std::string(what) + ": no answer from the machine";
    return false;
  }
  bool ok = true;
  if (command.type == OTF_ADD || command.type == OTF_REPLACE) {
    if (value == 0) {
      ok = false;
      if (!job->compile.error.empty() && !msg->code) {
        reason = std::string(what) + ": " + job->compile.filename + ": " + job->compile.error;
      } else if (command.type == OTF_REPLACE) {
        reason = std::string(what) + ": no shred with id " + std::to_string(command.param);
      } else {
        reason = std::string(what) + ": " + job->compile.filename + " could not be added";
      }
    }
  } else if (command.type == OTF_REMOVE && value == 0) {
    ok = false;
    reason = command.param == -1 ? std::string(what) + ": no shred to remove"
                                 : std::string(what) + ": no shred with id " +
                                       std::to_string(command.param);
  }
  delete msg;
  delete job;
  return ok;
}

bool Chip_OTF_Listener::await(Chip_Msg* wanted, t_CPUINT& value) {
  auto deadline = Clock::now() + std::chrono::milliseconds(OTF_REPLY_TIMEOUT_MS);
  for (;;) {
    // Decided before the last look, so that a reply given just before the
    // listener was told to stop is still seen.
    bool last = m_stopping || Clock::now() >= deadline;
    while (Chip_Msg* reply = m_vm->get_reply()) {
      auto it = std::find_if(m_pending.begin(), m_pending.end(),
                             [&](const auto& p) { return p.first == reply; });
      Job* job = it != m_pending.end() ? it->second : nullptr;
      if (it != m_pending.end()) m_pending.erase(it);
      if (reply == wanted) {
        // The caller deletes the message and its job.
        value = reply->reply_value;
        return true;
      }
      delete reply;
      delete job;
    }
    if (last) return false;
    // The machine answers within its next pass; a short pause between looks.
    struct pollfd p = {m_wake[0], POLLIN, 0};
    poll(&p, 1, 1);
  }
}

void Chip_OTF_Listener::drain_replies() {
  if (!m_vm) return;
  while (Chip_Msg* reply = m_vm->get_reply()) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [&](const auto& p) { return p.first == reply; });
    if (it != m_pending.end()) {
      delete it->second;
      m_pending.erase(it);
    }
    delete reply;
  }
}
