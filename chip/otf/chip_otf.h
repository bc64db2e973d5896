// The on-the-fly command protocol: requests that add, remove and replace
// shreds in a running virtual machine, its client and its listener.
//
// A request is a short sequence of 536-byte packets (Net_Msg) on one TCP
// connection, ended by a done packet (type 10), after which the listener
// sends one reply packet: `param` 1 when every command of the request was
// carried out, 0 otherwise with a text "<what>: <reason>" in the buffer.
// Source files travel inside the request: a first packet whose `param2` is
// the file's size and whose buffer is the source token "name:arg1:arg2",
// then ceil(size / 512) chunk packets (`length` payload bytes, `param2` the
// bytes still to come).
//
// The client (otf_send_cmd, otf_send_connect, otf_send_file) turns one
// command-line option with its arguments into such a request. It checks
// (parses) every source before it connects, so that a request's packets
// follow one another without a pause.
//
// otf_process_msg turns one packet into a request (Chip_Msg) of the machine,
// carried out at once (`immediate`, on the machine's own thread: the Machine
// class calls it from inside a shred) or queued. An add or replace packet
// from the Machine class (no connection) names a file the script may read;
// one that came over a connection names nothing on this host: its source
// is what the connection carried (recv_file), the name is only a label.
//
// Chip_OTF_Listener accepts connections on one TCP port and reads from all
// of them at once (one thread, poll): a peer that is slow or sends nothing
// holds up nobody else. Each connection's packets go through its own
// request reader (Otf_Request_Reader) as they arrive. A whole request joins
// one queue in the order the requests were completed; its commands go to
// the machine in that order, and are carried out on the machine's thread:
// sources are compiled there (Chip_Msg::prepare), so the compiler and the
// type system never see two threads. The client is answered once the
// machine has answered every command of its request (matched by message).
//
// Parsing is one process-wide state: this module's parse lock is held
// around every parse and compile it makes after start-up (the client's
// syntax check on the shell's thread, compilations on the machine's
// thread).
//
// Safety rules: every packet must carry the header 0x8C8CC8C8; a chunk's
// length lies in 0..512 and never beyond the announced size; a file is at
// most OTF_MAX_FILE bytes and must arrive exactly as announced; a token is
// read up to byte 511 at most; a new connection must send its first packet
// within 1 s and every further packet within 2 s of the one before, and the
// whole request within 60 s; sends never raise SIGPIPE. The listener holds
// at most OTF_MAX_CONNECTIONS connections (more wait in the system's
// backlog until a place is free) and at most OTF_MAX_SOURCE_HELD bytes of
// sources.
#ifndef CHIP_OTF_CHIP_OTF_H
#define CHIP_OTF_CHIP_OTF_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chip/lib/util_network.h"
#include "chip/util/chip_def.h"

class Chip_VM;
struct Chip_Compiler;
struct Chip_VM_Code;

// Message types of the protocol.
enum {
  OTF_ADD = 1,
  OTF_REMOVE = 2,
  OTF_REMOVEALL = 3,
  OTF_REPLACE = 4,
  OTF_STATUS = 5,
  OTF_KILL = 7,
  OTF_TIME = 8,
  OTF_RESET_ID = 9,
  OTF_DONE = 10,
  OTF_ABORT = 11
};

// Limits of what a peer may send.
enum {
  OTF_MAX_FILE = 16 * 1024 * 1024,  // bytes of one request's sources together
  OTF_MAX_COMMANDS = 256,           // commands in one request
  OTF_FIRST_PACKET_TIMEOUT_MS = 1000,  // from a connection's accept to its first packet
  OTF_PACKET_TIMEOUT_MS = 2000,     // between two packets of a request
  OTF_REQUEST_TIMEOUT_MS = 60000,   // from the accept to the done packet
  OTF_REPLY_TIMEOUT_MS = 1500,      // for the machine's next answer to a request
  OTF_MAX_CONNECTIONS = 256,        // connections the listener holds at once
  OTF_MAX_SOURCE_HELD = 4 * OTF_MAX_FILE  // bytes of sources held, all requests together
};

// The default port of the protocol.
enum { OTF_DEFAULT_PORT = 8888 };

// Compiles one source (from fd when given, else the text code when given,
// else the file filename) and hands over the code; FALSE after the
// compiler's own message.
typedef t_CPBOOL (*f_otf_compile)(Chip_Compiler* compiler, const std::string& filename, FILE* fd,
                                  const char* code, Chip_VM_Code** code_out);

// The compiler's entry (set by the compiler driver); null clears it.
void otf_set_compile(f_otf_compile compile);

// The log level of the client's connection line (the driver sets 1 before
// it hands an option to the client), and whether a request was tried.
extern t_CPINT g_otf_log;
extern t_CPBOOL g_sigpipe_mode;

// ---------------------------------------------------------------------------
// Processing one packet.

// data: the connection (ck_socket) a streamed source is read from, or null.
t_CPUINT otf_process_msg(Chip_VM* vm, Chip_Compiler* compiler, Net_Msg* msg, t_CPUINT immediate,
                         void* data);

// Receives the file announced by msg (host order) from sock: an anonymous
// temporary file holding exactly msg->param2 bytes, positioned at its end,
// or null (with a message) when the peer breaks any rule above.
FILE* recv_file(const Net_Msg* msg, ck_socket sock);

// ---------------------------------------------------------------------------
// The client.

// Examines argv[i]; see the source for the options. Returns 1 when the
// request and its done packet were sent, 0 when argv[i] is no on-the-fly
// option (*is_otf then 0), arguments are missing, the connection failed or
// no file could be sent. *accepted (when given) is TRUE only when the
// listener replied that every command succeeded.
int otf_send_cmd(int argc, const char* const* argv, long& i, const char* host, int port,
                 int* is_otf = nullptr, t_CPBOOL* accepted = nullptr);
// A connected socket with 2-second send and connect time-outs, or null.
ck_socket otf_send_connect(const char* host, int port);
// Checks (parses) and streams the source of token; 1 when it was sent.
// The one-step form of what otf_send_cmd does in two steps (every file is
// checked before the connection opens, then all are streamed): for a client
// that already holds a connection and sends a single source.
int otf_send_file(const char* token, Net_Msg* msg, const char* op, ck_socket sock);

// ---------------------------------------------------------------------------
// Reading a request. The packets come from a source (a connection, or a
// byte string for tests and fuzzing), already in host order.

struct Otf_Command {
  t_CPUINT type = 0;
  t_CPINT param = 0;
  std::string filename;           // add, replace: the label of the source
  std::vector<std::string> args;  // add, replace: the shred's arguments
  std::string source;             // add, replace: the received text
};

class Otf_Packet_Source {
 public:
  virtual ~Otf_Packet_Source() = default;
  // The next whole packet in host order; FALSE (with reason set) when none
  // arrived in time or the connection ended.
  virtual bool next(Net_Msg* msg, std::string& reason) = 0;
};

// Reads one request packet by packet, as the packets arrive: the rules
// above, checked one packet at a time. The listener feeds it from a
// connection; otf_read_request from a packet source.
class Otf_Request_Reader {
 public:
  enum State { MORE, DONE, REFUSED };
  // Takes the next packet (host order); the state after it. Once DONE or
  // REFUSED it takes nothing more.
  State feed(Net_Msg msg);
  State state() const { return m_state; }
  // Why the request was refused.
  const std::string& reason() const { return m_reason; }
  // The commands read so far (all of them once DONE).
  std::vector<Otf_Command>& commands() { return m_commands; }
  // Bytes of source announced so far: what the request holds once DONE.
  size_t announced() const { return m_announced; }

 private:
  State refuse(std::string reason);
  // The source being received is whole: its command joins the list.
  void source_complete();

  State m_state = MORE;
  std::string m_reason;
  std::vector<Otf_Command> m_commands;
  Otf_Command m_receiving;  // the command whose source is arriving
  bool m_in_source = false;
  size_t m_left = 0;        // bytes of that source still to come
  size_t m_announced = 0;
};

// Reads one request up to its done packet. FALSE with the reason when the
// peer broke a rule; commands holds what was read.
bool otf_read_request(Otf_Packet_Source& source, std::vector<Otf_Command>& commands,
                      std::string& reason);

// Reads the chunks of a source announced by first (param2 = its size) into
// out, which may already hold `budget_used` bytes of the request. FALSE with
// the reason on any broken rule.
bool otf_read_source(Otf_Packet_Source& source, const Net_Msg& first, std::string& out,
                     size_t budget_used, std::string& reason);

// ---------------------------------------------------------------------------
// The listener.

class Chip_OTF_Listener {
 public:
  // Deadlines and capacity (the defaults are the limits above; tests set
  // others before start).
  struct Limits {
    int first_packet_ms = OTF_FIRST_PACKET_TIMEOUT_MS;
    int packet_ms = OTF_PACKET_TIMEOUT_MS;
    int request_ms = OTF_REQUEST_TIMEOUT_MS;
    int reply_ms = OTF_REPLY_TIMEOUT_MS;
    size_t max_connections = OTF_MAX_CONNECTIONS;
  };

  Chip_OTF_Listener();
  ~Chip_OTF_Listener();  // stop(), then frees what the machine never took
  Chip_OTF_Listener(const Chip_OTF_Listener&) = delete;
  Chip_OTF_Listener& operator=(const Chip_OTF_Listener&) = delete;

  // Before start.
  void set_limits(const Limits& limits) { m_limits = limits; }
  // Binds address:port (address a dotted quad; "127.0.0.1" unless the user
  // asked for another) and starts the thread. FALSE with a warning when the
  // port cannot be had.
  bool start(Chip_VM* vm, Chip_Compiler* compiler, int port,
             const std::string& address = "127.0.0.1");
  // Wakes the thread, waits for it and answers what the machine still owes
  // (call it after the machine has stopped, before it is deleted).
  void stop();
  bool running() const { return m_thread.joinable(); }
  // The port bound (the one asked for, or the system's choice for 0).
  int port() const { return m_port; }

 private:
  struct Connection;
  struct Pending;
  using Clock = std::chrono::steady_clock;

  void loop();
  // Accepts what waits in the backlog while there is room.
  void accept_all(Clock::time_point now);
  // Reads what c's peer sent (a request, or what follows the answer).
  void read_from(Connection& c, Clock::time_point now);
  // c's request is whole: its commands wait for their turn at the machine.
  void request_complete(Connection& c, Clock::time_point now);
  // Refuses c's request (a broken rule, a deadline) and answers it.
  void refuse(Connection& c, const std::string& reason, Clock::time_point now);
  // Hands the waiting requests, in order, to the machine while they fit.
  void hand_over(Clock::time_point now);
  // Takes the machine's replies and answers the requests they complete.
  void collect_replies(Clock::time_point now);
  // Every command of c not answered yet fails with "<command>: why".
  void fail_unanswered(Connection& c, const char* why);
  // Sends c's reply; c then only drains what its peer still sends.
  void answer(Connection& c, Clock::time_point now);
  // Acts on every deadline that has passed; the earliest one left.
  Clock::time_point expire(Clock::time_point now);
  void close_connection(std::uint64_t id);
  // Deletes a command's message and job; its source no longer counts.
  void forget(Pending& pending);
  void drain_replies();

  Chip_VM* m_vm = nullptr;
  Chip_Compiler* m_compiler = nullptr;
  Limits m_limits;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
  // Owned by the thread from start to stop.
  std::map<std::uint64_t, std::unique_ptr<Connection>> m_connections;
  std::uint64_t m_next_id = 1;
  // Whole requests waiting for room at the machine, in arrival order.
  std::deque<std::uint64_t> m_ready;
  // Commands at the machine whose replies have not come back.
  std::vector<Pending> m_pending;
  // Bytes of sources held (announced by requests, or in commands at the
  // machine).
  size_t m_source_held = 0;
  // Accepting waits until then (the process ran out of descriptors).
  Clock::time_point m_accept_paused_until{};
};

#endif
