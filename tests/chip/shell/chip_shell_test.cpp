// The command shell: the tokenizer, the line executor and every command in
// process (shred commands reach a recording VM), then the shell of the chip
// program against its own engine through a pipe and a pseudo-terminal.
#include "chip/shell/chip_shell.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "chip_program_support.h"
#include "log_capture.h"
#include "loopback_port.h"

namespace {

using Words = std::vector<std::string>;

TEST(TokenizeString, SplitsQuotesAndEscapes) {
  struct Case {
    const char* line;
    Words words;
  } cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"a b  c", {"a", "b", "c"}},
      {"ab\"c d\"e", {"abc de"}},
      {"'it\\'s'", {"it's"}},
      {"abc 'de", {"abc"}},
      {"a '' b", {"a", "", "b"}},
      {"a ''", {"a"}},
      {"\"it's\"", {"it's"}},
      {"'say \"hi\"'", {"say \"hi\""}},
      {"back\\slash", {"back\\slash"}},
      {"x\r\ny", {"x", "y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Words words{"kept"};
    tokenize_string(c.line, words);
    Words expected{"kept"};
    expected.insert(expected.end(), c.words.begin(), c.words.end());
    EXPECT_EQ(words, expected);
  }
}

// Shred commands go here: each call is recorded as one line.
class Recording_VM : public Chip_Shell_VM {
 public:
  explicit Recording_VM(std::vector<std::string>* log, bool ok = true) : m_log(log), m_ok(ok) {}
  Chip_Shell_VM* copy() override { return new Recording_VM(m_log, m_ok); }
  t_CPBOOL add_shred(const Words& a, std::string& out) override { return call("add", a, out); }
  t_CPBOOL remove_shred(const Words& a, std::string& out) override {
    return call("remove", a, out);
  }
  t_CPBOOL remove_all(std::string& out) override { return call("removeall", {}, out); }
  t_CPBOOL remove_last(std::string& out) override { return call("removelast", {}, out); }
  t_CPBOOL replace_shred(const Words& a, std::string& out) override {
    return call("replace", a, out);
  }
  t_CPBOOL status(std::string& out) override { return call("status", {}, out); }
  t_CPBOOL kill(std::string& out) override { return call("kill", {}, out); }
  std::string fullname() override { return "recording:1"; }

 private:
  t_CPBOOL call(const std::string& what, const Words& args, std::string& out) {
    std::string line = what;
    for (const std::string& a : args) line += " " + a;
    // An added file's text, for blocks (their temporary file is gone after).
    if (what == "add" && !args.empty()) {
      std::ifstream in(args[0]);
      if (in) line += " <" + std::string(std::istreambuf_iterator<char>(in), {}) + ">";
    }
    m_log->push_back(line);
    if (!m_ok) out += what + ": error: command failed\n";
    return m_ok;
  }
  std::vector<std::string>* m_log;
  bool m_ok;
};

class Silent_UI : public Chip_Shell_UI {
 public:
  t_CPINT next_command(const std::string&, std::string&) override { return 0; }
  void next_result(const std::string&) override {}
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shell.init(nullptr, new Silent_UI));
    delete shell.current_vm;
    shell.current_vm = new Recording_VM(&calls);
    dir = ::testing::TempDir();
  }

  // Runs line; the reply text (and the result in *ok).
  std::string run(const std::string& line, bool* ok = nullptr) {
    std::string out = "stale";
    bool result = shell.execute(line, out);
    if (ok) *ok = result;
    return out;
  }

  Chip_Shell shell;
  std::vector<std::string> calls;
  std::string dir;
};

// The lines and replies of one session, in order; each line's result and
// the calls it made on the VM.
TEST_F(ShellTest, LinesAndReplies) {
  struct Case {
    const char* line;
    const char* reply;
    bool ok;
    Words calls;
  } cases[] = {
      {"", "", true, {}},
      {"   ", "", true, {}},
      {"frob x", "frob: command not found\n", false, {}},
      {"+", "usage: add file ...\n", false, {}},
      {"-", "usage: remove shred_number ...\n", false, {}},
      {"+ a.chip b.chip:1", "", true, {"add a.chip b.chip:1"}},
      {"add c.chip", "", true, {"add c.chip"}},
      {"- 1 2", "", true, {"remove 1 2"}},
      {"status 1", "usage: status\n", false, {}},
      {"^", "", true, {"status"}},
      {"removeall x", "usage removeall\n", false, {}},
      {"removeall", "", true, {"removeall"}},
      {"-- 3", "removelast: warning: ignoring excess arguments...\n", true, {"removelast"}},
      {"= 1 a.chip", "", true, {"replace 1 a.chip"}},
      {"kill now", "kill: warning: ignoring excess arguments...\n", true, {"kill"}},
      {"alias st=status", "", true, {}},
      {"st", "", true, {"status"}},
      {"alias addtwo='+ one.chip'", "", true, {}},
      {"addtwo two.chip", "", true, {"add one.chip two.chip"}},
      {"alias x=", "", true, {}},
      {"alias x", "alias x=''\n", true, {}},
      {"x", "", true, {}},
      {"alias nope", "alias: error: alias nope not found\n", true, {}},
      {"unalias nope", "error: alias nope not found\n", true, {}},
      {"alias", "alias addtwo='+ one.chip'\nalias st='status'\nalias x=''\n", true, {}},
      {"alias loop1=loop2 loop2=loop1", "", true, {}},
      {"loop1", "error: alias loop1 expands too deeply (a cycle?)\n", false, {}},
      {"unalias loop1 loop2 x", "", true, {}},
      {"vm", "usage: vm [command] [args] ...\n", true, {}},
      {"vm frob", "error: vm frob: command not found\n", true, {}},
      {"vm -1", "error: vm -1: command not found\n", true, {}},
      {"vms", "current VM: recording:1\nVM 0: 127.0.0.1:8888\n", true, {}},
      {"vm +", "recording:1 saved as VM 1\n", true, {}},
      {"vm + extra", "recording:1 saved as VM 2\nwarning: ignoring excess arguments...\n",
       true, {}},
      {"vm - 1", "", true, {}},
      {"vm - 1 x", "error: invalid VM id: 1\nerror: invalid VM id: x\n", true, {}},
      {"vm list", "current VM: recording:1\nVM 0: 127.0.0.1:8888\nVM 2: recording:1\n", true,
       {}},
      {"vm < 9", "error: invalid VM: 9\n", true, {}},
      {"vm < -1", "error: invalid VM: -1\n", true, {}},
      {"vm <", "error: too few arguments...\n", true, {}},
      {"vm < 2 x", "current VM is now recording:1\nwarning: ignoring excess arguments...\n", true,
       {}},
      {"vm @ host:", "error: invalid port ''\nerror: unable to attach to host:\n", true, {}},
      {"vm @ host:abc", "error: invalid port 'abc'\nerror: unable to attach to host:abc\n", true,
       {}},
      {"vm @ host:70000", "error: invalid port '70000'\nerror: unable to attach to host:70000\n",
       true, {}},
      {"vm @+ host:0", "error: invalid port '0'\nerror: unable to attach to host:0\n", true, {}},
      {"vm @ host", "host:8888 is now current VM\n", true, {}},
      {"vm @ host:9000 more",
       "host:9000 is now current VM\nwarning: ignoring excess arguments...\n", true, {}},
      {"vm @+ other:9001", "other:9001 is now current VM\nother:9001 saved as VM 3\n", true, {}},
      {"vm @", "127.0.0.1:8888 is now current VM\n", true, {}},
      {"vm +", "127.0.0.1:8888 saved as VM 4\n", true, {}},
      {"code", "usage: code [command] [args] ...\n", true, {}},
      {"code frob", "error: code frob: command not found\n", true, {}},
      {"code save early", "error: no code to save\n", true, {}},
      {"code print", "error: no code to print\n", true, {}},
      {"code add", "error: no code to add\n", true, {}},
      {"code delete", "error: specify the code to delete\n", true, {}},
      {"code write", "error: insufficient arguments...\n", true, {}},
      {"code read", "error: insufficient arguments...\n", true, {}},
      {"code list", "", true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    calls.clear();
    bool ok = false;
    EXPECT_EQ(run(c.line, &ok), c.reply);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(calls, c.calls);
  }
}

// A block goes to the VM as one file; the word after its closing brace
// saves it, and the reply keeps what the addition said.
TEST_F(ShellTest, BlocksAreAddedAndSaved) {
  shell.current_vm = (delete shell.current_vm, new Recording_VM(&calls, false));
  EXPECT_EQ(shell.prompt, "chip %> ");
  EXPECT_EQ(run("{"), "");
  EXPECT_EQ(shell.prompt, "code  1> ");
  EXPECT_EQ(run("1::second => now;"), "");
  EXPECT_EQ(run("} beep"), "add: error: command failed\n");
  EXPECT_EQ(shell.prompt, "chip %> ");
  EXPECT_EQ(shell.code, "\n1::second => now;\n");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].substr(calls[0].find(" <")), " <\n1::second => now;\n>");
  EXPECT_EQ(run("code print beep"), "beep:\n\n1::second => now;\n\n");
  // A line changes the depth by one at most each way: with both braces it
  // is a complete block.
  run("{ { }");
  EXPECT_FALSE(shell.code_entry);
  EXPECT_EQ(shell.code, " { ");
  // A block on one line.
  calls.clear();
  run("{ <<< 1 >>>; }");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].substr(calls[0].find(" <")), " < <<< 1 >>>; >");
}

TEST_F(ShellTest, CodeCommands) {
  run("{ a; }");
  run("code save b");
  run("code save B");
  run("code save ab extra");
  run("{ b; }");
  run("code save b");
  EXPECT_EQ(run("code list"), "B\nab\nb\n");
  EXPECT_EQ(run("code print b B nope"), "b:\n b; \nB:\n a; \nerror: code nope not found\n");
  const std::string song = dir + "shell_song";
  EXPECT_EQ(run("code write b " + song + ".chip"), "");
  std::ifstream in(song + ".chip");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), " b; ");
  EXPECT_EQ(run("code write nope"), "error: code nope not found\n");
  EXPECT_EQ(run("code write b /no/such/dir/x.chip"),
            "error: unable to open /no/such/dir/x.chip for writing\n");
  // Reading: the name is the file's up to its last dot.
  EXPECT_EQ(run("code read " + song + ".chip"), "");
  EXPECT_EQ(shell.saved_code[song], " b; ");
  std::string long_line(300, 'x');
  std::ofstream(dir + "shell_notes") << long_line << "\n";
  EXPECT_EQ(run("code read " + dir + "shell_notes n1"), "");
  EXPECT_EQ(shell.saved_code["n1"], long_line + "\n");
  std::ofstream(dir + "shell_empty.chip").flush();
  shell.saved_code["kept"] = "old";
  EXPECT_EQ(run("code read " + dir + "shell_empty.chip kept"),
            "error: unable to read " + dir + "shell_empty.chip, or file is empty\n");
  EXPECT_EQ(shell.saved_code["kept"], "old");
  EXPECT_EQ(run("code read /no/such/file"), "error: unable to open /no/such/file for reading\n");
  // Adding a missing and an existing name: both messages stay.
  shell.current_vm = (delete shell.current_vm, new Recording_VM(&calls, false));
  calls.clear();
  EXPECT_EQ(run("code add nope b"), "error: code nope not found\nadd: error: command failed\n");
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(run("code delete b nope"), "error: code nope not found\n");
  EXPECT_EQ(shell.saved_code.count("b"), 0u);
}

TEST_F(ShellTest, FilesAndSourcing) {
  const std::string sub = dir + "shell_ls";
  mkdir(sub.c_str(), 0700);
  std::ofstream(sub + "/only").flush();
  std::string listing = run("ls " + sub);
  EXPECT_NE(listing.find("only\n"), std::string::npos);
  EXPECT_NE(listing.find(".\n"), std::string::npos);
  std::string two = run("ls " + sub + " /no/such " + sub);
  EXPECT_EQ(two.rfind(sub + ":\n", 0), 0u);
  EXPECT_NE(two.find("ls: error: unable to open directory /no/such\n"), std::string::npos);
  EXPECT_EQ(two.substr(two.size() - 2), "\n\n");

  // A file that sources itself stops at the nesting limit.
  const std::string self = dir + "shell_self.txt";
  std::ofstream(self) << "^\nsource " << self << "\n";
  calls.clear();
  std::string reply = run("source " + self + " /no/such/file");
  EXPECT_EQ(calls.size(), static_cast<size_t>(SHELL_MAX_SOURCE_DEPTH));
  EXPECT_NE(reply.find("nests files too deeply"), std::string::npos);
  const std::string missing = "error: unable to open file /no/such/file";
  ASSERT_GE(reply.size(), missing.size());
  EXPECT_EQ(reply.substr(reply.size() - missing.size()), missing);

  // A sourced line longer than any buffer is one line.
  const std::string long_lines = dir + "shell_long.txt";
  const std::string name(300, 'z');
  std::ofstream(long_lines) << "alias " << name << "=status\n" << name << "\n";
  calls.clear();
  EXPECT_EQ(run("source " + long_lines), "");
  EXPECT_EQ(calls, Words{"status"});

  char* home = std::getenv("HOME");
  std::string saved = home ? home : "";
  unsetenv("HOME");
  EXPECT_EQ(run("cd"), "cd: error: command failed\n");
  if (home) setenv("HOME", saved.c_str(), 1);
  std::string before = run("pwd x");
  EXPECT_EQ(before.substr(before.find('\n') + 1), "pwd: warning: ignoring excess arguments...\n");
}

// Without a VM every shred command says so and fails.
TEST_F(ShellTest, ShredCommandsWithoutAVmFail) {
  delete shell.current_vm;
  shell.current_vm = nullptr;
  const struct {
    const char* line;
    const char* reply;
  } cases[] = {
      {"add 1", "add: error: not attached to a VM\n"},
      {"remove 1", "remove: error: not attached to a VM\n"},
      {"status 1", "status: error: not attached to a VM\n"},
      {"removeall 1", "removeall: error: not attached to a VM\n"},
      {"-- 1",
       "removelast: error: not attached to a VM\n"
       "removelast: warning: ignoring excess arguments...\n"},
      {"replace 1", "replace: error: not attached to a VM\n"},
  };
  for (const auto& c : cases) {
    bool ok = true;
    EXPECT_EQ(run(c.line, &ok), c.reply);
    EXPECT_FALSE(ok) << c.line;
  }
  EXPECT_TRUE(calls.empty());
}

// The network VM checks replace's arguments itself: too few send nothing;
// every word beyond the id and the source is reported, an even number of
// them too. (Nothing listens on the port: the request itself fails.)
TEST(ShellNetworkVm, ReplaceReportsMissingAndSurplusWords) {
  Chip_Shell_Network_VM vm("127.0.0.1", free_loopback_port(SOCK_STREAM));
  struct Case {
    Words args;
    const char* out;
  } cases[] = {
      {{"3"}, "replace: error: insufficient arguments...\n"},
      {{"1", "/no/such/file.chip", "x"},
       "replace: error: command failed\nrepalce: warning: ignoring excess arguments\n"},
      {{"1", "/no/such/file.chip", "x", "y"},
       "replace: error: command failed\nrepalce: warning: ignoring excess arguments\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    std::string out;
    printed_lines([&] { EXPECT_FALSE(vm.replace_shred(c.args, out)); });
    EXPECT_EQ(out, c.out);
  }
}

TEST_F(ShellTest, CloseAndExitStopTheShell) {
  bool ok = false;
  EXPECT_EQ(run("close foo", &ok),
            "closing chip shell...  bye!\nclose: warning: ignoring excess arguments...\n");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(shell.stop);
  shell.stop = FALSE;
  EXPECT_EQ(run("quit", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(shell.stop);
  // init again changes nothing.
  size_t commands = shell.commands.size();
  EXPECT_TRUE(shell.init(nullptr, nullptr));
  EXPECT_EQ(shell.commands.size(), commands);
}

// ---------------------------------------------------------------------------
// The chip program's shell, beside its own engine.

class ShellProcess {
 public:
  ShellProcess(const std::string& dir, const std::vector<std::string>& args, bool terminal) {
    std::string program = chip_program();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (terminal) {
      m_pid = forkpty(&m_in, nullptr, nullptr, nullptr);
      if (m_pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
      }
      m_out = m_in;
      return;
    }
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      if (chdir(dir.c_str()) != 0) _exit(127);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~ShellProcess() {
    if (m_pid > 0 && !m_ended) {
      kill(m_pid, SIGKILL);
      wait_end(30);
    }
    if (m_in >= 0) close(m_in);
    if (m_out >= 0 && m_out != m_in) close(m_out);
  }
  void type(const std::string& text) {
    ssize_t n = write(m_in, text.data(), text.size());
    (void)n;
  }
  // Reads until text appears after position `from`; false at the deadline.
  bool wait_for(const std::string& text, int seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (output.find(text, m_seen) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline || !read_some(100)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
      }
    }
    m_seen = output.find(text, m_seen) + text.size();
    return true;
  }
  // Waits for the end; the exit status (-1 if it did not end in time).
  int wait_end(int seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid) {
        m_ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      read_some(50);
    }
    return -1;
  }
  pid_t pid() const { return m_pid; }
  std::string output;

 private:
  bool read_some(int ms) {
    struct pollfd p = {m_out, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(m_out, buffer, sizeof buffer);
    if (n <= 0) return false;
    output.append(buffer, static_cast<size_t>(n));
    return true;
  }
  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  bool m_ended = false;
  size_t m_seen = 0;
};

TEST(ShellProgram, DrivesItsEngineThroughStandardInput) {
  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "shell_child.chip")
      << "<<< \"child\", me.arg(0) >>>;\nwhile (true) 1::second => now;\n";
  int port = free_loopback_port(SOCK_STREAM);
  ShellProcess p(dir, {"--silent", "--shell", "--port" + std::to_string(port)}, false);
  ASSERT_TRUE(p.wait_for("welcome to chip shell!\n")) << p.output;
  p.type("+ shell_child.chip:first\n");
  EXPECT_TRUE(p.wait_for("child first")) << p.output;
  p.type("vms\n");
  EXPECT_TRUE(p.wait_for("VM 0: 127.0.0.1:" + std::to_string(port) + "\n")) << p.output;
  // A line far longer than any buffer is one line.
  p.type("alias " + std::string(300, 'z') + "=status\n" + std::string(300, 'z') + "\n");
  EXPECT_TRUE(p.wait_for("[shred id]: 1  [source]: shell_child.chip")) << p.output;
  p.type("{\n<<< \"from a block\" >>>;\n}\n");
  EXPECT_TRUE(p.wait_for("\"from a block\" : (string)")) << p.output;
  p.type("- 42\n");
  EXPECT_TRUE(p.wait_for("(reason:  no shred with id 42)")) << p.output;
  p.type("exit\n");
  EXPECT_EQ(p.wait_end(), 0) << p.output;
}

// On a terminal: an interrupt while the shell waits for a line ends the
// program (the shell is woken and joined).
TEST(ShellProgram, AnInterruptDuringAReadEndsIt) {
  const std::string dir = ::testing::TempDir();
  int port = free_loopback_port(SOCK_STREAM);
  ShellProcess p(dir, {"--silent", "--shell", "--port" + std::to_string(port)}, true);
  ASSERT_TRUE(p.wait_for("chip %> ")) << p.output;
  p.type("pwd\n");
  ASSERT_TRUE(p.wait_for(dir.substr(0, dir.size() - 1))) << p.output;
  ASSERT_TRUE(p.wait_for("chip %> ")) << p.output;
  auto start = std::chrono::steady_clock::now();
  kill(p.pid(), SIGINT);
  EXPECT_EQ(p.wait_end(10), 2) << p.output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// "--shell --empty": a shell without an engine; end of input ends it.
TEST(ShellProgram, AnEmptyShellEndsWithItsInput) {
  const std::string dir = ::testing::TempDir();
  int port = free_loopback_port(SOCK_STREAM);
  ShellProcess p(dir, {"--shell", "--empty", "--port" + std::to_string(port)}, false);
  ASSERT_TRUE(p.wait_for("welcome to chip shell!\n")) << p.output;
  p.type("^\n");
  EXPECT_TRUE(p.wait_for("status: error: command failed\n")) << p.output;
  p.type("close\n");
  EXPECT_TRUE(p.wait_for("closing chip shell...  bye!\n")) << p.output;
  EXPECT_EQ(p.wait_end(), 0) << p.output;
}

}  // namespace
