// The engine's interactive command shell.
//
// Chip_Shell reads a line from its line source (Chip_Shell_UI), executes it
// and shows what it produced. A line is a command word with arguments, an
// alias that expands into one, or part of a block of source between braces
// that goes to the current VM as a new shred. Shred commands reach an
// engine only through the current VM (Chip_Shell_VM), at first a network VM
// for this machine on the driver's port.
//
// Commands: "vm" (attach, add, remove, list, swap, @+) and "vms"; "+"/"add",
// "-"/"remove", "status"/"^", "removeall", "--", "replace"/"=", "close",
// "kill", "exit"/"quit", "ls", "pwd", "cd", "alias", "unalias",
// "source"/".", and "code" (save, list, print, delete, write, read,
// add/+). Every command appends its messages to the result text and returns
// 0, or nonzero after an error.
//
// execute() clears the result first; lines run from inside another line
// (a sourced file, "vm @+", a block's "code save", "code add") append to
// the same result, so no message is lost. Alias expansion stops after
// SHELL_MAX_ALIAS_DEPTH steps (a cycle), "source" after SHELL_MAX_SOURCE_DEPTH
// nested files.
//
// Threads: one shell runs on one thread (its own, shell_cb, beside the
// engine; or the driver's in shell-only mode). g_shell is atomic: the driver
// reads it from another thread.
#ifndef CHIP_SHELL_CHIP_SHELL_H
#define CHIP_SHELL_CHIP_SHELL_H

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "chip/otf/chip_otf.h"
#include "chip/shell/chip_console.h"
#include "chip/util/chip_def.h"

class Chip_VM;

enum { SHELL_MAX_ALIAS_DEPTH = 64, SHELL_MAX_SOURCE_DEPTH = 16 };

// Splits line into words (quotes join, a backslash escapes the closing
// quote); appends them to words.
void tokenize_string(std::string line, std::vector<std::string>& words);

class Chip_Shell {
 public:
  class Command {
   public:
    virtual ~Command() = default;
    virtual t_CPBOOL init(Chip_Shell* shell) {
      caller = shell;
      return TRUE;
    }
    virtual t_CPINT execute(std::vector<std::string>& args, std::string& out) = 0;
    virtual std::string usage() { return "no usage specified"; }
    // A command's longer help; no command overrides it and the shell shows
    // usage() only, so it is there for a command that has more to say.
    virtual std::string long_usage() { return "no usage specified"; }

    Chip_Shell* caller = nullptr;

   protected:
    // The VM the shell is attached to; null, after "<name>: error: not
    // attached to a VM" in out, when there is none.
    Chip_Shell_VM* attached_vm(const char* name, std::string& out);
  };

  // The on-the-fly listener's port when nobody names another.
  static constexpr t_CPINT kDefaultPort = OTF_DEFAULT_PORT;

  Chip_Shell() = default;
  virtual ~Chip_Shell();
  Chip_Shell(const Chip_Shell&) = delete;
  Chip_Shell& operator=(const Chip_Shell&) = delete;

  // process_vm may be null (shell-only); the shell owns ui from success on.
  // port: the loopback port of the engine the shell first talks to (the
  // driver passes its own listener's port).
  t_CPBOOL init(Chip_VM* process_vm, Chip_Shell_UI* ui, t_CPINT port = kDefaultPort);
  // Clears out, runs line, leaves its messages in out.
  t_CPBOOL execute(const std::string& line, std::string& out);
  // The same, appending to out (lines run from inside a line).
  t_CPBOOL execute_more(const std::string& line, std::string& out);
  void continue_code(const std::string& line);
  void do_code(const std::string& code, std::string& out, std::string command);
  void run();

  std::vector<Chip_Shell_VM*> vms;
  Chip_VM* process_vm = nullptr;
  Chip_Shell_VM* current_vm = nullptr;
  std::map<std::string, std::string> aliases;
  std::map<std::string, std::string> variables;
  std::map<std::string, Command*> commands;
  std::vector<Command*> allocated_commands;
  std::map<std::string, std::string> saved_code;
  std::string code;
  Chip_Shell_UI* ui = nullptr;
  t_CPBOOL initialized = FALSE;
  std::atomic<t_CPBOOL> stop{FALSE};
  std::string prompt;
  t_CPBOOL code_entry = FALSE;
  t_CPINT scope = 0;
  // Files being sourced, innermost last.
  t_CPINT source_depth = 0;

 private:
  void add_command(Command* command, std::initializer_list<const char*> words);
};

// Runs the shell given (a Chip_Shell*), then deletes g_shell's and clears it.
void* shell_cb(void* shell);

// The process's shell, if any.
extern std::atomic<Chip_Shell*> g_shell;

#endif
