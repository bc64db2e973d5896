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
#include <mutex>

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

// Milliseconds until the deadline, rounded up (a wait of that long reaches
// it); 0 once it has passed.
int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads exactly len bytes from fd before the deadline. FALSE with the
// reason.
bool read_exact(int fd, char* buffer, size_t len, Clock::time_point deadline,
                std::string& reason) {
  size_t got = 0;
  while (got < len) {
    struct pollfd p = {fd, POLLIN, 0};
    int n = poll(&p, 1, ms_left(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = "connection error";
      return false;
    }
    if (n == 0) {
      reason = "timed out waiting for a packet";
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
  explicit Socket_Source(int fd) : m_fd(fd) {}
  bool next(Net_Msg* msg, std::string& reason) override {
    auto deadline = Clock::now() + std::chrono::milliseconds(OTF_PACKET_TIMEOUT_MS);
    if (!read_exact(m_fd, reinterpret_cast<char*>(msg), sizeof *msg, deadline, reason)) {
      return false;
    }
    otf_ntoh(msg);
    return true;
  }

 private:
  int m_fd;
};

bool send_packet(ck_socket sock, Net_Msg msg) {
  otf_hton(&msg);
  return cp_send(sock, reinterpret_cast<const char*>(&msg), sizeof msg) ==
         static_cast<int>(sizeof msg);
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

// ---------------------------------------------------------------------------
// Reading requests

namespace {

// Whether a source of first.param2 bytes fits beside `held` bytes of the
// same request.
bool source_size_fits(const Net_Msg& first, size_t held, std::string& reason) {
  if (first.param2 < 0 || static_cast<size_t>(first.param2) > OTF_MAX_FILE - held) {
    reason = "source size " + std::to_string(first.param2) + " out of range";
    return false;
  }
  return true;
}

// Appends one chunk (its header checked) to out; left is what the source
// still lacks. FALSE with the reason on any broken rule.
bool take_chunk(const Net_Msg& chunk, size_t& left, std::string& out, std::string& reason) {
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
  return true;
}

}  // namespace

bool otf_read_source(Otf_Packet_Source& source, const Net_Msg& first, std::string& out,
                     size_t budget_used, std::string& reason) {
  if (!source_size_fits(first, budget_used, reason)) return false;
  size_t left = static_cast<size_t>(first.param2);
  while (left > 0) {
    Net_Msg chunk;
    if (!source.next(&chunk, reason)) return false;
    if (chunk.header != NET_HEADER) {
      reason = "bad packet header";
      return false;
    }
    if (!take_chunk(chunk, left, out, reason)) return false;
  }
  return true;
}

Otf_Request_Reader::State Otf_Request_Reader::refuse(std::string reason) {
  m_reason = std::move(reason);
  m_state = REFUSED;
  return m_state;
}

void Otf_Request_Reader::source_complete() {
  m_in_source = false;
  const std::string& source = m_receiving.source;
  if (std::memchr(source.data(), 0, source.size())) {
    refuse("source '" + m_receiving.filename + "' holds a zero byte");
    return;
  }
  m_commands.push_back(std::move(m_receiving));
  m_receiving = Otf_Command();
}

Otf_Request_Reader::State Otf_Request_Reader::feed(Net_Msg msg) {
  if (m_state != MORE) return m_state;
  if (msg.header != NET_HEADER) return refuse("bad packet header");
  if (m_in_source) {
    if (!take_chunk(msg, m_left, m_receiving.source, m_reason)) return refuse(m_reason);
    if (m_left == 0) source_complete();
    return m_state;
  }
  if (msg.type == OTF_DONE) {
    m_state = DONE;
    return m_state;
  }
  if (m_commands.size() >= OTF_MAX_COMMANDS) return refuse("too many commands in one request");
  Otf_Command command;
  command.type = msg.type;
  command.param = msg.param;
  if (msg.type != OTF_ADD && msg.type != OTF_REPLACE) {
    m_commands.push_back(std::move(command));
    return m_state;
  }
  // The token ends at byte 511 whatever the peer sent.
  msg.buffer[NET_BUFFER_SIZE - 1] = '\0';
  std::string token = buffer_text(msg);
  if (!extract_args(token, command.filename, command.args)) {
    return refuse("malformed filename with argument list '" + token + "'");
  }
  // A source arrives with the request; -1 says the sender has none.
  if (msg.param2 == -1) return refuse("no source sent for '" + command.filename + "'");
  std::string reason;
  if (!source_size_fits(msg, m_announced, reason)) return refuse(reason);
  m_left = static_cast<size_t>(msg.param2);
  m_announced += m_left;
  m_receiving = std::move(command);
  m_in_source = true;
  if (m_left == 0) source_complete();
  return m_state;
}

bool otf_read_request(Otf_Packet_Source& source, std::vector<Otf_Command>& commands,
                      std::string& reason) {
  Otf_Request_Reader reader;
  bool arrived = true;
  while (arrived && reader.state() == Otf_Request_Reader::MORE) {
    Net_Msg msg;
    arrived = source.next(&msg, reason);
    if (arrived) reader.feed(msg);
  }
  commands = std::move(reader.commands());
  if (!arrived) return false;
  if (reader.state() == Otf_Request_Reader::REFUSED) {
    reason = reader.reason();
    return false;
  }
  return true;
}

FILE* recv_file(const Net_Msg* msg, ck_socket sock) {
  if (!msg || !sock) return nullptr;
  Socket_Source source(sock->descriptor);
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

namespace {

// A source checked (parsed) and opened for sending.
struct Outgoing_File {
  std::string token;     // the name with its arguments, as sent
  std::string filename;  // the name as given (for messages)
  std::string path;      // the file opened (".chip" may have been appended)
  std::unique_ptr<FILE, int (*)(FILE*)> fd{nullptr, fclose};
  long size = 0;
};

// Splits token, opens its file and parses it; FALSE (after the message)
// when it cannot be sent.
bool prepare_file(const char* token, const char* op, Outgoing_File& out) {
  std::vector<std::string> args;
  if (!token || !extract_args(token, out.filename, args)) {
    EM_printf("[chip]: malformed filename + argument list...\n");
    EM_printf("    -->  '%s'", token ? token : "");
    return false;
  }
  const std::string& filename = out.filename;
  // The token travels zero-ended in the buffer; the name must leave room
  // for ".chip" in the working buffer.
  size_t token_len = std::strlen(token);
  if (token_len >= NET_BUFFER_SIZE || filename.size() + 6 > CHIP_FILENAME_MAX) {
    EM_printf("[chip]: file name + arguments too long (at most %d characters) for [%s]...\n",
              NET_BUFFER_SIZE - 1, op);
    return false;
  }
  out.token = token;
  char path[CHIP_FILENAME_MAX];
  std::memset(path, 0, sizeof path);
  std::memcpy(path, filename.c_str(), filename.size());

  out.fd.reset(open_cat_chip(path, sizeof path));
  if (!out.fd) {
    EM_printf("[chip]: cannot open file '%s' for [%s]...\n", filename.c_str(), op);
    return false;
  }
  out.path = path;
  t_CPBOOL parsed;
  {
    std::lock_guard<std::mutex> lock(g_parse_lock);
    parsed = chip_parse(path, out.fd.get(), nullptr);
    if (parsed) {
      delete_program(g_program);
      g_program = nullptr;
    }
    reset_parse();
  }
  if (!parsed) {
    EM_printf("[chip]: skipping file '%s' for [%s]...\n", filename.c_str(), op);
    out.fd.reset();
    return false;
  }
  // The size of what was opened (not of the name, which another process
  // might replace meanwhile).
  struct stat st;
  if (fstat(fileno(out.fd.get()), &st) != 0 || st.st_size > OTF_MAX_FILE) {
    EM_printf("[chip]: cannot send file '%s' for [%s] (larger than %d bytes)...\n",
              filename.c_str(), op, static_cast<int>(OTF_MAX_FILE));
    out.fd.reset();
    return false;
  }
  rewind(out.fd.get());
  out.size = static_cast<long>(st.st_size);
  return true;
}

// Streams a prepared file (msg's type and param set by the caller) and
// closes it; FALSE when a packet could not be sent.
bool send_prepared(Outgoing_File& file, Net_Msg* msg, ck_socket sock) {
  FILE* fd = file.fd.get();
  std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
  std::memcpy(msg->buffer, file.token.data(), file.token.size());
  long left = file.size;
  EM_log(CP_LOG_INFO, "sending TCP file %s, size=%d", file.path.c_str(), static_cast<int>(left));
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
      EM_printf("[chip]: error while reading '%s'...\n", file.filename.c_str());
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
  file.fd.reset();
  std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
  return ok;
}

}  // namespace

int otf_send_file(const char* token, Net_Msg* msg, const char* op, ck_socket sock) {
  Outgoing_File file;
  if (!prepare_file(token, op, file)) return 0;
  return send_prepared(file, msg, sock) ? 1 : 0;
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
  Net_Msg msg = net_msg(0, 0);
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

  // Sources are checked before the connection opens: once it is open, the
  // packets follow one another without a pause.
  std::vector<Outgoing_File> files;
  if (op == ADD) {
    for (long k = i + 1; k < argc; k++) {
      EM_log(CP_LOG_INFO, "sending file:args '%s' for add...", mini(argv[k]));
      files.emplace_back();
      if (!prepare_file(argv[k], "add", files.back())) files.pop_back();
    }
  } else if (op == REPLACE) {
    files.emplace_back();
    if (!prepare_file(argv[i + 2], "replace", files.back())) files.pop_back();
  }
  if ((op == ADD || op == REPLACE) && files.empty()) {
    // Nothing to send: no connection is opened.
    i = op == ADD ? argc : i + 2;
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
  switch (op) {
    case ADD:
      i = argc;
      for (Outgoing_File& file : files) {
        msg.type = OTF_ADD;
        msg.param = 1;
        if (!send_prepared(file, &msg, sock)) sent_all = false;
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
      if (!send_prepared(files.front(), &msg, sock)) sent_all = false;
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

namespace {

const char* command_name(t_CPUINT type) {
  static const char* const names[] = {"",     "add",    "remove", "removeall", "replace", "status",
                                      "",     "kill",   "time",   "rid",       "done",    "abort"};
  return type < 12 ? names[type] : "";
}

// Whether the machine carries the command out (abort is done at once, an
// unknown type is refused).
bool goes_to_machine(t_CPUINT type) {
  switch (type) {
    case OTF_ADD:
    case OTF_REPLACE:
    case OTF_REMOVE:
    case OTF_REMOVEALL:
    case OTF_STATUS:
    case OTF_KILL:
    case OTF_TIME:
    case OTF_RESET_ID:
      return true;
    default:
      return false;
  }
}

// After the reply: how long a refused peer's further bytes are read (from
// the last of them, and at most in all) before the close, and how many.
const int kDrainQuietMs = 100;
const int kDrainMs = 1000;
const size_t kDrainBytes = 1u << 20;
// Bytes read from one connection per turn, so that one fast sender does not
// hold up the others.
const size_t kReadPerTurn = 16 * 1024;
// A pause in accepting after the process ran out of descriptors.
const int kAcceptPauseMs = 100;

}  // namespace

// One peer: its request while it arrives, then its commands' results while
// the machine carries them out, then what the peer still sends after the
// reply (read and dropped, so that the close does not reset the connection
// and lose the reply on its way).
struct Chip_OTF_Listener::Connection {
  enum Phase { READING, WAITING, DRAINING };
  struct Outcome {
    bool answered = false;
    bool ok = true;
    std::string reason;
  };

  std::uint64_t id = 0;
  int fd = -1;
  Phase phase = READING;
  Otf_Request_Reader reader;
  std::string partial;  // bytes of a packet not yet whole
  size_t packets = 0;
  Clock::time_point accepted;
  Clock::time_point last_packet;
  // WAITING: one outcome per command; handed: the commands are at the
  // machine (else the request waits in m_ready).
  std::vector<Outcome> outcomes;
  size_t unanswered = 0;
  bool handed = false;
  Clock::time_point deadline;  // of the phase (READING computes its own)
  size_t held = 0;             // bytes of source counted in m_source_held
  size_t drained = 0;
  Clock::time_point drain_end;

  ~Connection() {
    if (fd >= 0) close(fd);
  }
  Clock::time_point reading_deadline(const Limits& limits) const {
    auto packet = last_packet + std::chrono::milliseconds(packets == 0 ? limits.first_packet_ms
                                                                       : limits.packet_ms);
    return std::min(packet, accepted + std::chrono::milliseconds(limits.request_ms));
  }
};

// A command at the machine.
struct Chip_OTF_Listener::Pending {
  Chip_Msg* msg = nullptr;
  Compile_Job* job = nullptr;  // add, replace: the source and its compile result
  size_t bytes = 0;            // of the source, counted in m_source_held
  std::uint64_t connection = 0;
  size_t index = 0;            // of the command in its request
  t_CPUINT type = 0;
  t_CPINT param = 0;
};

Chip_OTF_Listener::Chip_OTF_Listener() = default;

Chip_OTF_Listener::~Chip_OTF_Listener() {
  stop();
  // What the machine never answered: the messages went with its queue; the
  // compile jobs stay until here, since a pass under way when the machine
  // stopped may still have read them.
  for (Pending& pending : m_pending) delete pending.job;
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
  m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_listen < 0) return false;
  int on = 1;
  setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  // The backlog holds the connections beyond those the listener serves.
  bool ok = inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
            bind(m_listen, reinterpret_cast<struct sockaddr*>(&a), sizeof a) == 0 &&
            listen(m_listen, SOMAXCONN) == 0 && pipe2(m_wake, O_CLOEXEC) == 0;
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
  // Replies the machine gave after their requests were answered.
  drain_replies();
  // The machine may be deleted from here on.
  m_vm = nullptr;
}

void Chip_OTF_Listener::loop() {
  std::vector<struct pollfd> fds;
  std::vector<std::uint64_t> ids;
  while (!m_stopping) {
    Clock::time_point now = Clock::now();
    collect_replies(now);
    hand_over(now);
    Clock::time_point next = expire(now);

    // The wake pipe, the listening socket while there is room, and every
    // connection that is read.
    fds.clear();
    ids.clear();
    fds.push_back({m_wake[0], POLLIN, 0});
    bool room = m_connections.size() < m_limits.max_connections;
    bool accepting = room && now >= m_accept_paused_until;
    if (accepting) fds.push_back({m_listen, POLLIN, 0});
    if (room && !accepting) next = std::min(next, m_accept_paused_until);
    for (const auto& entry : m_connections) {
      if (entry.second->phase == Connection::WAITING) continue;
      fds.push_back({entry.second->fd, POLLIN, 0});
      ids.push_back(entry.first);
    }
    // The machine answers within its next pass: while it owes replies, a
    // short pause between looks.
    int timeout = next == Clock::time_point::max() ? -1 : ms_left(next);
    if ((!m_pending.empty() || !m_ready.empty()) && (timeout < 0 || timeout > 1)) timeout = 1;
    int n = poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[0].revents) break;
    now = Clock::now();
    size_t first = accepting ? 2 : 1;
    for (size_t k = 0; k < ids.size(); k++) {
      if (!fds[first + k].revents) continue;
      auto it = m_connections.find(ids[k]);
      if (it != m_connections.end()) read_from(*it->second, now);
    }
    if (accepting && fds[1].revents) accept_all(now);
  }

  // Stopping: a reply the machine gave just now is still taken; every other
  // request is refused or reported unanswered, and every connection closed.
  Clock::time_point now = Clock::now();
  collect_replies(now);
  m_ready.clear();
  for (auto& entry : m_connections) {
    Connection& c = *entry.second;
    if (c.phase == Connection::READING) {
      refuse(c, "listener stopping", now);
    } else if (c.phase == Connection::WAITING) {
      fail_unanswered(c, "no answer from the machine");
      answer(c, now);
    }
  }
  for (auto& entry : m_connections) m_source_held -= entry.second->held;
  m_connections.clear();
}

void Chip_OTF_Listener::accept_all(Clock::time_point now) {
  // When every place is taken, new connections wait in the backlog until a
  // request ends or a deadline passes.
  while (m_connections.size() < m_limits.max_connections) {
    int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        m_accept_paused_until = now + std::chrono::milliseconds(kAcceptPauseMs);
      }
      return;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto c = std::make_unique<Connection>();
    c->id = m_next_id++;
    c->fd = fd;
    c->accepted = c->last_packet = now;
    Connection& added = *c;
    m_connections.emplace(c->id, std::move(c));
    // What the peer sent with its connection is read at once.
    read_from(added, now);
  }
}

void Chip_OTF_Listener::read_from(Connection& c, Clock::time_point now) {
  char buffer[kReadPerTurn];
  if (c.phase == Connection::DRAINING) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    c.drained += n > 0 ? static_cast<size_t>(n) : 0;
    if (n <= 0 || c.drained >= kDrainBytes) {
      close_connection(c.id);
      return;
    }
    c.deadline = std::min(now + std::chrono::milliseconds(kDrainQuietMs), c.drain_end);
    return;
  }
  if (c.phase != Connection::READING) return;
  ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    refuse(c, n < 0 ? "connection error"
                    : c.partial.empty() ? "connection closed" : "connection closed inside a packet",
           now);
    return;
  }
  c.partial.append(buffer, static_cast<size_t>(n));
  size_t at = 0;
  while (c.partial.size() - at >= sizeof(Net_Msg) && c.phase == Connection::READING) {
    Net_Msg msg;
    std::memcpy(&msg, c.partial.data() + at, sizeof msg);
    at += sizeof msg;
    otf_ntoh(&msg);
    c.packets++;
    c.last_packet = now;
    Otf_Request_Reader::State state = c.reader.feed(msg);
    // Announced sources count at once: all requests together hold a
    // bounded amount.
    size_t announced = c.reader.announced();
    m_source_held += announced - c.held;
    c.held = announced;
    if (state == Otf_Request_Reader::REFUSED) {
      refuse(c, c.reader.reason(), now);
    } else if (m_source_held > OTF_MAX_SOURCE_HELD) {
      refuse(c, "the listener holds too many sources now", now);
    } else if (state == Otf_Request_Reader::DONE) {
      request_complete(c, now);
    }
  }
  c.partial.erase(0, at);
}

void Chip_OTF_Listener::request_complete(Connection& c, Clock::time_point now) {
  c.phase = Connection::WAITING;
  c.partial.clear();
  std::vector<Otf_Command>& commands = c.reader.commands();
  c.outcomes.assign(commands.size(), Connection::Outcome());
  size_t for_machine = 0;
  for (size_t k = 0; k < commands.size(); k++) {
    t_CPUINT type = commands[k].type;
    if (goes_to_machine(type)) {
      for_machine++;
    } else if (type != OTF_ABORT) {
      EM_printf("[chip]: unrecognized incoming command from network: '%i'\n",
                static_cast<int>(type));
      c.outcomes[k] = {true, false, "request: unrecognized command " + std::to_string(type)};
    }
  }
  if (for_machine == 0) {
    // Nothing for the machine's queue: an abort is asked for at once.
    for (size_t k = 0; k < commands.size(); k++) {
      if (commands[k].type == OTF_ABORT) {
        m_vm->request_abort();
        c.outcomes[k].answered = true;
      }
    }
    answer(c, now);
    return;
  }
  c.deadline = now + std::chrono::milliseconds(m_limits.reply_ms);
  m_ready.push_back(c.id);
  hand_over(now);
}

void Chip_OTF_Listener::hand_over(Clock::time_point now) {
  while (!m_ready.empty()) {
    auto it = m_connections.find(m_ready.front());
    if (it == m_connections.end() || it->second->phase != Connection::WAITING) {
      m_ready.pop_front();
      continue;
    }
    Connection& c = *it->second;
    std::vector<Otf_Command>& commands = c.reader.commands();
    size_t for_machine = static_cast<size_t>(
        std::count_if(commands.begin(), commands.end(),
                      [](const Otf_Command& command) { return goes_to_machine(command.type); }));
    // The machine's queues have no full state: never more requests in them
    // than they hold, and the order of arrival is kept.
    if (m_pending.size() + for_machine > CHIP_VM_QUEUE_SIZE / 2) return;
    m_ready.pop_front();
    c.handed = true;
    c.deadline = now + std::chrono::milliseconds(m_limits.reply_ms);
    for (size_t k = 0; k < commands.size(); k++) {
      Otf_Command& command = commands[k];
      if (command.type == OTF_ABORT) {
        m_vm->request_abort();
        c.outcomes[k].answered = true;
        continue;
      }
      if (!goes_to_machine(command.type)) continue;
      Pending pending;
      pending.msg = new Chip_Msg;
      pending.msg->kind = command.type;
      pending.msg->param = static_cast<t_CPUINT>(command.param);
      pending.msg->reply = pending.msg;
      pending.connection = c.id;
      pending.index = k;
      pending.type = command.type;
      pending.param = command.param;
      if (command.type == OTF_ADD || command.type == OTF_REPLACE) {
        pending.job = new Compile_Job;
        pending.job->compiler = m_compiler;
        pending.job->filename = command.filename;
        pending.job->source = std::move(command.source);
        pending.bytes = pending.job->source.size();
        if (!command.args.empty()) pending.msg->args = new std::vector<std::string>(command.args);
        pending.msg->prepare = prepare_compile;
        pending.msg->prepare_data = pending.job;
      }
      c.unanswered++;
      m_pending.push_back(pending);
      m_vm->queue_msg(pending.msg, 1);
    }
    // The sources now count with the commands at the machine.
    c.held = 0;
    if (c.unanswered == 0) answer(c, now);
  }
}

void Chip_OTF_Listener::collect_replies(Clock::time_point now) {
  while (Chip_Msg* reply = m_vm->get_reply()) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [&](const Pending& p) { return p.msg == reply; });
    if (it == m_pending.end()) {
      delete reply;
      continue;
    }
    Pending pending = *it;
    m_pending.erase(it);
    auto found = m_connections.find(pending.connection);
    Connection* c = found == m_connections.end() ? nullptr : found->second.get();
    if (c && c->phase == Connection::WAITING && !c->outcomes[pending.index].answered) {
      Connection::Outcome& o = c->outcomes[pending.index];
      o.answered = true;
      t_CPUINT value = reply->reply_value;
      std::string what = command_name(pending.type);
      if ((pending.type == OTF_ADD || pending.type == OTF_REPLACE) && value == 0) {
        o.ok = false;
        const Compile_Job* job = pending.job;
        if (!job->error.empty() && !reply->code) {
          o.reason = what + ": " + job->filename + ": " + job->error;
        } else if (pending.type == OTF_REPLACE) {
          o.reason = what + ": no shred with id " + std::to_string(pending.param);
        } else {
          o.reason = what + ": " + job->filename + " could not be added";
        }
      } else if (pending.type == OTF_REMOVE && value == 0) {
        o.ok = false;
        o.reason = pending.param == -1 ? what + ": no shred to remove"
                                       : what + ": no shred with id " +
                                             std::to_string(pending.param);
      }
      c->deadline = now + std::chrono::milliseconds(m_limits.reply_ms);
      if (--c->unanswered == 0) answer(*c, now);
    }
    forget(pending);
  }
}

void Chip_OTF_Listener::forget(Pending& pending) {
  delete pending.msg;
  delete pending.job;
  m_source_held -= pending.bytes;
  pending.msg = nullptr;
  pending.job = nullptr;
}

void Chip_OTF_Listener::fail_unanswered(Connection& c, const char* why) {
  std::vector<Otf_Command>& commands = c.reader.commands();
  for (size_t k = 0; k < c.outcomes.size(); k++) {
    Connection::Outcome& o = c.outcomes[k];
    if (o.answered) continue;
    o.answered = true;
    o.ok = false;
    o.reason = std::string(command_name(commands[k].type)) + ": " + why;
  }
}

void Chip_OTF_Listener::refuse(Connection& c, const std::string& reason, Clock::time_point now) {
  // A peer that closes without a word (a port probe) is no error to show.
  if (c.packets == 0 && c.partial.empty() && reason == "connection closed") {
    EM_log(CP_LOG_INFO, "on-the-fly connection closed without a request");
  } else {
    EM_printf("[chip]: on-the-fly request refused: %s...\n", reason.c_str());
  }
  c.outcomes.assign(1, {true, false, "request: " + reason});
  answer(c, now);
}

void Chip_OTF_Listener::answer(Connection& c, Clock::time_point now) {
  bool ok = true;
  std::string reason;
  for (const Connection::Outcome& o : c.outcomes) {
    if (o.answered && !o.ok) {
      ok = false;
      reason = o.reason;
      break;
    }
  }
  Net_Msg reply = net_msg(OTF_DONE, ok ? 1 : 0);
  if (!ok) {
    size_t n = std::min(reason.size(), size_t(NET_BUFFER_SIZE - 1));
    std::memcpy(reply.buffer, reason.data(), n);
  }
  // The one packet sent on this connection: its send buffer has room.
  otf_hton(&reply);
  ssize_t sent = send(c.fd, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
  (void)sent;
  shutdown(c.fd, SHUT_WR);
  m_source_held -= c.held;
  c.held = 0;
  c.reader = Otf_Request_Reader();
  c.partial.clear();
  c.phase = Connection::DRAINING;
  c.drain_end = now + std::chrono::milliseconds(kDrainMs);
  c.deadline = std::min(now + std::chrono::milliseconds(kDrainQuietMs), c.drain_end);
}

Chip_OTF_Listener::Clock::time_point Chip_OTF_Listener::expire(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  std::vector<std::uint64_t> closing;
  for (auto& entry : m_connections) {
    Connection& c = *entry.second;
    if (c.phase == Connection::READING) {
      Clock::time_point deadline = c.reading_deadline(m_limits);
      if (deadline <= now) {
        bool whole = now >= c.accepted + std::chrono::milliseconds(m_limits.request_ms);
        refuse(c, whole ? "the request took too long" : "timed out waiting for a packet", now);
      }
    } else if (c.phase == Connection::WAITING && c.deadline <= now) {
      // No room at the machine, or no answer from it, in time.
      fail_unanswered(c, c.handed ? "no answer from the machine"
                                  : "the machine is not taking requests");
      answer(c, now);
    } else if (c.phase == Connection::DRAINING && c.deadline <= now) {
      closing.push_back(entry.first);
      continue;
    }
    Clock::time_point deadline =
        c.phase == Connection::READING ? c.reading_deadline(m_limits) : c.deadline;
    next = std::min(next, deadline);
  }
  for (std::uint64_t id : closing) close_connection(id);
  return next;
}

void Chip_OTF_Listener::close_connection(std::uint64_t id) {
  auto it = m_connections.find(id);
  if (it == m_connections.end()) return;
  m_source_held -= it->second->held;
  m_connections.erase(it);
}

void Chip_OTF_Listener::drain_replies() {
  if (!m_vm) return;
  while (Chip_Msg* reply = m_vm->get_reply()) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [&](const Pending& p) { return p.msg == reply; });
    if (it != m_pending.end()) {
      forget(*it);
      m_pending.erase(it);
    } else {
      delete reply;
    }
  }
}
