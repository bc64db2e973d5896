// The command-line driver: options, compilation of the file arguments, the
// run of the machine, signals and exit statuses.
#include "chip/driver/chip_main.h"

#include <signal.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chip/driver/chip_compile.h"
#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/lib/ulib_std.h"
#include "chip/lib/util_opsc.h"
#include "chip/otf/chip_otf.h"
#include "chip/shell/chip_console.h"
#include "chip/shell/chip_shell.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_math.h"
#include "chip/util/util_string.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"

Chip_Compiler* g_compiler = nullptr;
t_CPINT g_priority = 80;
t_CPINT g_priority_low = 60;
char g_host[256] = "127.0.0.1";
t_CPINT g_port = 8888;

namespace {

const char kVersion[] = "1.2.1.2 (fluvane)";
const char kWebAddress[] = "https://fluvane.org/chip/";

// Set by signal_int; read by the watcher and the driver thread.
volatile sig_atomic_t g_interrupted = 0;
// The watcher's wake-up pipe: signal_int and the driver write one byte.
int g_wake_pipe[2] = {-1, -1};

// The platform the engine runs on, as "system : machine" ("linux : x86_64").
std::string target() {
  struct utsname u;
  if (uname(&u) != 0) return "unknown";
  std::string system = u.sysname;
  for (char& c : system) c = (char)std::tolower((unsigned char)c);
  return system + " : " + u.machine;
}

void version() {
  EM_printf("chip version: %s\n", kVersion);
  EM_printf("   exe target: %s\n", target().c_str());
  EM_printf("   %s\n\n", kWebAddress);
}

bool is_option(const char* arg) { return arg[0] && std::strchr("+-=^@", arg[0]) != nullptr; }

bool same(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

bool prefix(const char* arg, const char* option) {
  return std::strncmp(arg, option, std::strlen(option)) == 0;
}

// The text after whichever of an option's names arg begins with (its value,
// as in "--srate44100" or "-r44100"); null when it begins with none.
const char* option_value(const char* arg, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (prefix(arg, name)) return arg + std::strlen(name);
  }
  return nullptr;
}

// "--" or "-" followed by a digit: a spork count; rest points at the digits.
bool is_count(const char* arg, const char** rest) {
  if (arg[0] != '-') return false;
  const char* p = arg[1] == '-' ? arg + 2 : arg + 1;
  if (*p < '0' || *p > '9') return false;
  *rest = p;
  return true;
}

// Largest values the numeric options accept. Smaller ones than these still
// keep their documented meaning (0 or less keeps a default); larger ones,
// or numbers beyond the range of a 32-bit integer, are refused rather than
// wrapped around or turned into allocations the machine cannot make.
const long kMaxSrate = 1000000;        // samples per second
const long kMaxBufferFrames = 65536;   // buffer size and adaptive block size
const long kMaxChannels = CHIP_VM_MAX_FRAME_CHANNELS;
const long kMaxSporkCount = 1000;      // shreds sporked from one file argument
const long kNoLimit = INT_MAX;

// Reads an option's number from v the way the options are written: the
// leading decimal digits with an optional sign, whatever follows ignored,
// no digits meaning 0. A number above max, or one that does not fit in 32
// bits, is reported with the whole argument and refused.
bool option_number(const char* arg, const char* v, long max, long& out) {
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(v, &end, 10);
  if (end == v) n = 0;
  if (errno == ERANGE || n < INT_MIN || n > max) {
    EM_printf("[chip]: value out of range in '%s' (largest accepted: %ld)...\n", arg, max);
    return false;
  }
  out = (long)n;
  return true;
}

// The settings of the first pass.
struct Settings {
  t_CPBOOL audio = TRUE;
  t_CPBOOL halt = TRUE;
  t_CPUINT srate = 44100;
  t_CPUINT buffer_size = 256;
  t_CPUINT num_buffers = 8;
  t_CPUINT dac = 0;
  t_CPUINT adc = 0;
  t_CPUINT dac_chans = 2;
  t_CPUINT adc_chans = 2;
  t_CPBOOL block = FALSE;
  t_CPBOOL set_priority = FALSE;
  t_CPBOOL watchdog = FALSE;
  // The largest adaptive block; -1: the buffer size. Blocks are the
  // default: the machine renders a block at a time only where that gives
  // the samples it would render one by one ("--adaptive0" renders every
  // sample on its own).
  long adaptive = -1;
  int log_level = CP_LOG_CORE;
  int deprecate_level = 1;
  t_CPBOOL auto_depend = FALSE;
  t_CPBOOL server = TRUE;
  t_CPBOOL shell = FALSE;
  t_CPBOOL empty = FALSE;
  t_CPBOOL probe = FALSE;
  int files = 0;
  // Where the on-the-fly listener binds: loopback unless "--bind" names
  // another address.
  std::string bind_address = "127.0.0.1";
};

enum class Parsed { option, unmatched, error };

void set_host(const char* host) {
  std::strncpy(g_host, host, sizeof g_host - 1);
  g_host[sizeof g_host - 1] = '\0';
}

[[noreturn]] void poop() {
  static const char* const lines[] = {
      "[chip]: bus error...",
      "[chip]: segmentation fault, core dumped...",
      "[chip]: access violation, NULL pointer...",
      "[chip]: Unhandled exception in chip: 0xC0000005: Access violation",
      "[chip]: malloc: damage after normal block...",
      "[chip]: virtual machine panic!!!",
      "[chip]: confused by earlier errors, bailing out...",
      ("[chip]: lack of destructors have forced the garbage collector to delete all files...\n"
       "[chip]: (this may take a while)"),
      "[chip]: calling machine.crash()...",
      "[chip]: an unknown fatal error has occured.  please restart your computer...",
      "[chip]: an unknown fatal error has occured.  please reinstall your operating system...",
      "[chip]: an unknown fatal error has occured.  please update to a later version...",
      "[chip]: internal error: unknown error",
      "[chip]: page fault!!!",
      "[chip]: error printing error message.  cannot continue 2#%%3$#@,,..."};
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  srand((unsigned)tv.tv_sec);
  for (;;) {
    int index = (int)(rand() / 2147483648.0 * 15);
    EM_printf("%s\n", lines[index]);
    EM_flush();
    usleep((useconds_t)(rand() / 2147483648.0 * 2000000));
  }
}

// One argument of the first pass.
Parsed first_pass_option(const char* arg, Settings& s) {
  const char* rest = nullptr;
  long n = 0;
  if (same(arg, "--dump") || same(arg, "+d") || same(arg, "--nodump") || same(arg, "-d")) {
  } else if (is_count(arg, &rest)) {
    if (!option_number(arg, rest, kMaxSporkCount, n)) return Parsed::error;
  } else if (same(arg, "--audio") || same(arg, "-a")) {
    s.audio = TRUE;
  } else if (same(arg, "--silent") || same(arg, "-s")) {
    s.audio = FALSE;
  } else if (same(arg, "--halt") || same(arg, "-t")) {
    s.halt = TRUE;
  } else if (same(arg, "--loop") || same(arg, "-l")) {
    s.halt = FALSE;
    s.server = TRUE;
  } else if (same(arg, "--server")) {
    s.server = TRUE;
  } else if (same(arg, "--standalone")) {
    s.server = FALSE;
  } else if (same(arg, "--callback")) {
    s.block = FALSE;
  } else if (same(arg, "--blocking")) {
    s.block = TRUE;
  } else if (same(arg, "--hid")) {
  } else if (same(arg, "--shell") || same(arg, "-e")) {
    s.shell = TRUE;
    s.halt = FALSE;
  } else if (same(arg, "--empty")) {
    s.empty = TRUE;
  } else if (const char* v = option_value(arg, {"--srate", "-r"})) {
    if (!option_number(arg, v, kMaxSrate, n)) return Parsed::error;
    if (n > 0) s.srate = (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--bufsize", "-b"})) {
    if (!option_number(arg, v, kMaxBufferFrames, n)) return Parsed::error;
    if (n > 0) s.buffer_size = (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--bufnum", "-n"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    if (n > 0) s.num_buffers = (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--dac"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    s.dac = n < 1 ? 0 : (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--adc"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    s.adc = n < 1 ? 0 : (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--channels", "-c"})) {
    if (!option_number(arg, v, kMaxChannels, n)) return Parsed::error;
    s.dac_chans = s.adc_chans = n < 1 ? 2 : (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--out", "-o"})) {
    if (!option_number(arg, v, kMaxChannels, n)) return Parsed::error;
    s.dac_chans = n < 1 ? 2 : (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--in", "-i"})) {
    if (!option_number(arg, v, kMaxChannels, n)) return Parsed::error;
    s.adc_chans = n < 1 ? 2 : (t_CPUINT)n;
  } else if (const char* v = option_value(arg, {"--level"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    g_priority = (t_CPINT)n;
    s.set_priority = TRUE;
  } else if (const char* v = option_value(arg, {"--watchdog"})) {
    s.watchdog = TRUE;
    double t = std::atof(v);
    g_watchdog_timeout = t > 0 ? t : 0.5;
  } else if (prefix(arg, "--nowatchdog")) {
    s.watchdog = FALSE;
  } else if (const char* v = option_value(arg, {"--remote"})) {
    set_host(v);
  } else if (arg[0] == '@') {
    set_host(arg + 1);
  } else if (const char* v = option_value(arg, {"--port", "-p"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    g_port = (t_CPINT)n;
  } else if (const char* v = option_value(arg, {"--bind"})) {
    s.bind_address = *v ? v : "127.0.0.1";
  } else if (prefix(arg, "--auto") || prefix(arg, "-u")) {
    s.auto_depend = TRUE;
  } else if (const char* v = option_value(arg, {"--log", "--verbose", "-v"})) {
    if (!option_number(arg, v, kNoLimit, n)) return Parsed::error;
    s.log_level = *v ? (int)n : CP_LOG_INFO;
  } else if (const char* v = option_value(arg, {"--adaptive"})) {
    if (!option_number(arg, v, kMaxBufferFrames, n)) return Parsed::error;
    s.adaptive = *v ? n : -1;
  } else if (const char* what = option_value(arg, {"--deprecate"})) {
    if (same(what, ":stop")) {
      s.deprecate_level = 0;
    } else if (same(what, ":warn")) {
      s.deprecate_level = 1;
    } else if (same(what, ":ignore")) {
      s.deprecate_level = 2;
    } else {
      EM_printf("[chip]: invalid arguments for '--deprecate'...\n");
      EM_printf("[chip]: ... (looking for :stop, :warn, or :ignore)\n");
      return Parsed::error;
    }
  } else if (same(arg, "--probe")) {
    s.probe = TRUE;
  } else if (same(arg, "--poop")) {
    poop();
  } else if (same(arg, "--caution-to-the-wind")) {
    g_enable_system_cmd = TRUE;
  } else {
    return Parsed::unmatched;
  }
  return Parsed::option;
}

// ---------------------------------------------------------------------------
// Interrupts

// Waits for a byte on the wake-up pipe. After an interrupt it asks the
// machine to stop until the driver says the run is over (a stop that lands
// before run() begins would otherwise be forgotten by it).
class Watcher {
 public:
  bool start() {
    if (pipe(g_wake_pipe) != 0) return false;
    thread_ = std::thread([this] { watch(); });
    return true;
  }

  // The run is over: the watcher ends.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    char byte = 'q';
    ssize_t n = write(g_wake_pipe[1], &byte, 1);
    (void)n;
    if (thread_.joinable()) thread_.join();
    close(g_wake_pipe[0]);
    close(g_wake_pipe[1]);
    g_wake_pipe[0] = g_wake_pipe[1] = -1;
  }

 private:
  void watch() {
    char byte = 0;
    while (read(g_wake_pipe[0], &byte, 1) < 0) {
    }
    if (!g_interrupted) return;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      if (g_vm) g_vm->stop();
      cv_.wait_for(lock, std::chrono::milliseconds(100));
    }
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

// Creates the console and the shell (in g_shell) for the machine vm, or for
// none; FALSE after the message when either does not start.
bool make_shell(Chip_VM* vm) {
  Chip_Console* console = new Chip_Console;
  if (!console->init()) {
    EM_printf("[chip]: error starting shell UI...\n");
    delete console;
    return false;
  }
  Chip_Shell* shell = new Chip_Shell;
  g_shell = shell;
  if (!shell->init(vm, console, g_port)) {
    EM_printf("[chip]: error starting shell...\n");
    g_shell = nullptr;
    delete shell;
    delete console;
    return false;
  }
  return true;
}

bool start_shell(Chip_VM* vm) { return make_shell(vm); }

// "--shell --empty": a shell on this thread that drives other engines.
int run_empty_shell() {
  if (!make_shell(nullptr)) return 1;
  Chip_Shell* shell = g_shell.load();
  shell->run();
  g_shell = nullptr;
  delete shell;
  io_reset();
  return 0;
}

// Frees the machine and the compiler driver, clearing the globals first.
void free_engine(Chip_VM* vm, Chip_Compiler* compiler) {
  g_vm = nullptr;
  delete vm;
  g_compiler = nullptr;
  delete compiler;
}

}  // namespace

void usage() {
  EM_printf("usage: chip --[options|commands] [+-=^] file1 file2 file3 ...\n");
  EM_printf("   [options] = halt|loop|audio|silent|dump|nodump|server|about|\n");
  EM_printf("               srate<N>|bufsize<N>|bufnum<N>|dac<N>|adc<N>|\n");
  EM_printf("               remote<hostname>|port<N>|verbose<N>|probe|\n");
  EM_printf("               channels<N>|out<N>|in<N>|shell|empty|level<N>|\n");
  EM_printf("               blocking|callback|deprecate:{stop|warn|ignore}\n");
  EM_printf("   [commands] = add|remove|replace|remove.all|status|time|kill\n");
  EM_printf("   [+-=^] = shortcuts for add, remove, replace, status\n");
  EM_printf("   (standalone: no listener for commands; bind<address>: the listener on\n");
  EM_printf("    that address instead of 127.0.0.1; adaptive<N>: blocks of up to N\n");
  EM_printf("    samples, adaptive0 for sample by sample)\n");
  EM_printf("   (silent, with no shred waiting for a time and nothing linked into dac or\n");
  EM_printf("    blackhole, the engine sleeps until the next command; its time then\n");
  EM_printf("    jumps to the moment the command arrived)\n");
  EM_printf("\n");
  version();
}

void signal_int(int) {
  static const char note[] = "[chip]: cleaning up...\n";
  ssize_t n = write(STDERR_FILENO, note, sizeof note - 1);
  (void)n;
  // A second interrupt while the driver shuts down: give up at once.
  if (g_interrupted || g_wake_pipe[1] < 0) _exit(2);
  g_interrupted = 1;
  char byte = 'i';
  n = write(g_wake_pipe[1], &byte, 1);
}

void signal_pipe(int) {
  static const char note[] = "[chip]: sigpipe handled - broken pipe (no connection)...\n";
  // The note is written once: when standard error itself is the broken
  // pipe, writing it raises the signal again, and a note per signal would
  // keep the process busy forever.
  static volatile sig_atomic_t noted = 0;
  if (!noted) {
    noted = 1;
    ssize_t n = write(STDERR_FILENO, note, sizeof note - 1);
    (void)n;
  }
  // Every send of the engine and its command client uses MSG_NOSIGNAL, so a
  // gone peer is an error result, never this signal; what raises it anyway
  // (a closed standard output) must not close the scripts' sound files from
  // inside a handler: nothing is detached here, whatever g_sigpipe_mode.
}

void all_detach() {
  EM_log(CP_LOG_INFO, "detaching all resources...");
  EM_pushlog();
  // The toolkit module closes what scripts left open.
  syn_detach(0, nullptr);
  // Open Sound Control listeners stop and are joined.
  opsc_detach();
  EM_poplog();
}

int chip_main(int argc, const char** argv) {
  EM_setlog(CP_LOG_CORE);
  Settings s;

  // First pass: settings and the file count.
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!is_option(arg)) {
      s.files++;
      continue;
    }
    Parsed parsed = first_pass_option(arg, s);
    if (parsed == Parsed::option) continue;
    if (parsed == Parsed::error) return 1;
    if (same(arg, "--help") || same(arg, "-h") || same(arg, "--about")) {
      usage();
      return 2;
    }
    if (same(arg, "--version")) {
      EM_printf("\n");
      version();
      return 2;
    }
    // Anything else may be a command for an engine that listens: the exit
    // status says whether that engine accepted it.
    g_otf_log = 1;
    EM_setlog(s.log_level);
    long index = i;
    int is_otf = 0;
    t_CPBOOL accepted = FALSE;
    if (otf_send_cmd(argc, argv, index, g_host, g_port, &is_otf, &accepted)) {
      return accepted ? 0 : 1;
    }
    if (is_otf) return 1;
    EM_printf("[chip]: invalid flag '%s'\n", arg);
    usage();
    return 1;
  }
  EM_setlog(s.log_level);

  if (s.probe) {
    Digitalio::probe();
    return 0;
  }

  s.buffer_size = (t_CPUINT)ensurepow2((long)s.buffer_size);
  // ensurepow2 turns 1 into 0; the machine needs at least one frame.
  if (s.buffer_size == 0) s.buffer_size = 1;
  if (!s.audio) s.block = TRUE;
  if (!s.block && !s.set_priority) g_priority = g_priority_low;
  if (!s.audio && !s.set_priority) g_priority = CHIP_VM_NO_PRIORITY;
  Chip_VM::our_priority = g_priority;
  g_do_watchdog = s.watchdog;
  if (s.adaptive < 0) s.adaptive = (long)s.buffer_size;

  if (s.empty && !s.shell) {
    EM_printf("[chip]: '--empty' can only be used with shell...\n");
    return 1;
  }
  if (s.files == 0 && s.halt && !s.shell) {
    EM_printf("[chip]: no input files... (try --help)\n");
    return 1;
  }
  if (s.shell && s.empty) return run_empty_shell();

  // Every file must be there before the audio device opens, so that a
  // mistyped name is the one thing the user sees.
  for (int i = 1; i < argc; i++) {
    std::string filename;
    std::vector<std::string> args;
    if (is_option(argv[i]) || !extract_args(argv[i], filename, args)) continue;
    if (!chip_source_exists(filename.c_str())) {
      reset_parse();
      return 1;
    }
  }

  Chip_VM* vm = new Chip_VM;
  g_vm = vm;
  if (!vm->initialize(s.audio, s.halt, s.srate, s.buffer_size, s.num_buffers, s.dac, s.adc,
                      s.dac_chans, s.adc_chans, s.block, (t_CPUINT)s.adaptive)) {
    EM_printf("[chip]: %s\n", vm->last_error().c_str());
    free_engine(vm, nullptr);
    return 1;
  }

  Chip_Compiler* compiler = new Chip_Compiler;
  g_compiler = compiler;
  if (!compiler->initialize(vm)) {
    EM_printf("[chip]: error initializing compiler...\n");
    free_engine(vm, compiler);
    return 1;
  }
  compiler->emitter->dump_code = FALSE;
  compiler->set_auto_depend(s.auto_depend);

  if (!vm->initialize_synthesis()) {
    EM_printf("[chip]: %s\n", vm->last_error().c_str());
    free_engine(vm, compiler);
    return 1;
  }

  Chip_VM::our_detach = all_detach;
  if (s.shell && !start_shell(vm)) {
    free_engine(vm, compiler);
    return 1;
  }
  Watcher watcher;
  bool watching = watcher.start();
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = signal_int;
  if (watching) sigaction(SIGINT, &action, nullptr);
  action.sa_handler = signal_pipe;
  sigaction(SIGPIPE, &action, nullptr);

  compiler->env->deprecate_level = s.deprecate_level;

  EM_log(CP_LOG_SEVERE, "starting compilation...");
  EM_pushlog();
  int status = 0;
  int count = 1;
  for (int i = 1; i < argc && status == 0 && !g_interrupted; i++) {
    const char* arg = argv[i];
    const char* rest = nullptr;
    if (arg[0] == '+' || arg[0] == '-') {
      if (same(arg, "--dump") || same(arg, "+d")) {
        compiler->emitter->dump_code = TRUE;
      } else if (same(arg, "--nodump") || same(arg, "-d")) {
        compiler->emitter->dump_code = FALSE;
      } else if (is_count(arg, &rest)) {
        count = (int)std::strtol(rest, nullptr, 10);  // in range: the first pass checked
      }
      continue;
    }
    if (is_option(arg)) continue;

    std::string filename;
    std::vector<std::string> args;
    if (!extract_args(arg, filename, args)) {
      EM_printf("[chip]: malformed filename with argument list...\n");
      EM_printf("    -->  '%s'", arg);
      status = 1;
      break;
    }
    EM_log(CP_LOG_FINE, "compiling '%s'...", filename.c_str());
    EM_pushlog();
    if (!compiler->go(filename, nullptr, nullptr)) {
      status = 1;
      EM_poplog();
      break;
    }
    Chip_VM_Code* code = compiler->output();
    code->name += arg;
    EM_log(CP_LOG_FINE, "sporking %d %s...", count, count == 1 ? "instance" : "instances");
    for (int k = 0; k < count; k++) {
      Chip_VM_Shred* shred = vm->spork(code, nullptr);
      if (shred) shred->args = args;
    }
    EM_poplog();
    count = 1;
  }
  EM_poplog();
  reset_parse();

  if (status == 0 && !g_interrupted && Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) {
    // Real-time priority needs rights a desktop user rarely has: without
    // them the engine runs at its ordinary priority.
    if (!Chip_VM::set_priority(Chip_VM::our_priority, vm)) {
      EM_log(CP_LOG_SYSTEM, "[chip]: %s (running without real-time priority)",
             vm->last_error().c_str());
      Chip_VM::our_priority = CHIP_VM_NO_PRIORITY;
    }
  }
  // The listener: for an engine that keeps running (halt off) and serves.
  Chip_OTF_Listener listener;
  if (!s.server) {
    EM_log(CP_LOG_SYSTEM, "OTF server/listener: OFF");
  } else if (!s.halt && status == 0 && !g_interrupted) {
    if (s.bind_address != "127.0.0.1") {
      EM_printf("[chip]: warning: on-the-fly commands accepted on %s:%i: whoever reaches it "
                "runs code here...\n",
                s.bind_address.c_str(), (int)g_port);
    }
    listener.start(vm, compiler, (int)g_port, s.bind_address);
  }
  std::thread shell_thread;
  if (s.shell && status == 0 && !g_interrupted) {
    shell_thread = std::thread([] { shell_cb(g_shell.load()); });
  }

  // With halt on and nothing sporked (every count 0) there is nothing to run:
  // the machine only stops when a shred ends.
  bool nothing_to_run = s.halt && vm->num_shreds() == 0;
  if (status == 0 && !g_interrupted && !nothing_to_run && !vm->run()) {
    EM_printf("[chip]: %s\n", vm->last_error().c_str());
    status = 1;
  }

  // Shutdown in order: no new interrupt handling, the shell (woken from
  // its read), the listener, resources, machine, compiler.
  if (watching) {
    signal(SIGINT, SIG_DFL);
    watcher.finish();
  }
  if (s.shell) {
    io_interrupt();
    if (shell_thread.joinable()) {
      shell_thread.join();
    } else if (Chip_Shell* shell = g_shell.exchange(nullptr)) {
      delete shell;
    }
    io_reset();
  }
  listener.stop();
  if (g_interrupted && status == 0) status = 2;
  if (vm->killed() && status == 0) status = 1;
  all_detach();
  free_engine(vm, compiler);
  return status;
}
