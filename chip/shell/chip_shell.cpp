// The interactive command shell: the line executor and every command.
#include "chip/shell/chip_shell.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_vm.h"

std::atomic<Chip_Shell*> g_shell{nullptr};

Chip_Shell_VM* Chip_Shell::Command::attached_vm(const char* name, std::string& out) {
  if (!caller->current_vm) out += std::string(name) + ": error: not attached to a VM\n";
  return caller->current_vm;
}

namespace {

// The loopback host of the shell's default VMs.
const char kLocalHost[] = "127.0.0.1";
const char kExcess[] = "warning: ignoring excess arguments...\n";

// The leading decimal number of text (optional sign); no digits: 0, and
// *digits (when given) false. Saturates instead of overflowing.
long leading_number(const std::string& text, bool* digits = nullptr) {
  size_t k = 0;
  bool negative = false;
  if (k < text.size() && (text[k] == '-' || text[k] == '+')) negative = text[k++] == '-';
  long value = 0;
  bool any = false;
  for (; k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])); k++) {
    any = true;
    if (value < LONG_MAX / 10 - 10) value = value * 10 + (text[k] - '0');
  }
  if (digits) *digits = any;
  return negative ? -value : value;
}

// ---------------------------------------------------------------------------
// A command that owns a table of sub-commands ("vm", "code").
class Command_Group : public Chip_Shell::Command {
 public:
  explicit Command_Group(const char* word) : m_word(word) {}
  ~Command_Group() override {
    for (Command*& c : allocated_commands) {
      delete c;
      c = nullptr;
    }
  }
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += "usage: " + usage() + "\n";
      return 0;
    }
    auto it = commands.find(args[0]);
    if (it == commands.end()) {
      out += "error: " + m_word + " " + args[0] + ": command not found\n";
      return 0;
    }
    args.erase(args.begin());
    it->second->execute(args, out);
    return 0;
  }
  std::string usage() override { return m_word + " [command] [args] ..."; }

  std::map<std::string, Command*> commands;
  std::vector<Command*> allocated_commands;

 protected:
  void add(Command* command, std::initializer_list<const char*> words) {
    command->init(caller);
    for (const char* w : words) commands[w] = command;
    allocated_commands.push_back(command);
  }

 private:
  std::string m_word;
};

// ---------------------------------------------------------------------------
// Shred commands

class Command_Add : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!attached_vm("add", out)) return -1;
    if (args.empty()) {
      out += "usage: " + usage() + "\n";
      return -1;
    }
    return caller->current_vm->add_shred(args, out) ? 0 : -1;
  }
  std::string usage() override { return "add file ..."; }
};

class Command_Remove : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!attached_vm("remove", out)) return -1;
    if (args.empty()) {
      out += "usage: " + usage() + "\n";
      return -1;
    }
    return caller->current_vm->remove_shred(args, out) ? 0 : -1;
  }
  std::string usage() override { return "remove shred_number ..."; }
};

class Command_Status : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!attached_vm("status", out)) return -1;
    if (!args.empty()) {
      out += "usage: " + usage() + "\n";
      return -1;
    }
    return caller->current_vm->status(out) ? 0 : -1;
  }
  std::string usage() override { return "status"; }
};

class Command_Removeall : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!attached_vm("removeall", out)) return -1;
    if (!args.empty()) {
      out += "usage " + usage() + "\n";
      return -1;
    }
    return caller->current_vm->remove_all(out) ? 0 : -1;
  }
  std::string usage() override { return "removeall"; }
};

class Command_Removelast : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    t_CPINT result = -1;
    if (Chip_Shell_VM* vm = attached_vm("removelast", out)) result = vm->remove_last(out) ? 0 : -1;
    if (!args.empty()) out += "removelast: warning: ignoring excess arguments...\n";
    return result;
  }
  std::string usage() override { return "removelast"; }
};

class Command_Replace : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!attached_vm("replace", out)) return -1;
    caller->current_vm->replace_shred(args, out);
    return 0;
  }
  std::string usage() override { return "replace shred_id file ..."; }
};

class Command_Close : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    caller->stop = TRUE;
    out += "closing chip shell...  bye!\n";
    if (g_shell.load()) out += "(note: in-process VM still running, hit ctrl-c to exit)\n";
    if (!args.empty()) out += "close: warning: ignoring excess arguments...\n";
    return 0;
  }
};

class Command_Kill : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (caller->current_vm) caller->current_vm->kill(out);
    if (!args.empty()) out += "kill: warning: ignoring excess arguments...\n";
    return 0;
  }
};

class Command_Exit : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    caller->stop = TRUE;
    if (caller->process_vm) caller->process_vm->stop();
    if (!args.empty()) out += "exit: warning: ignoring excess arguments...\n";
    return 0;
  }
};

// ---------------------------------------------------------------------------
// File system

bool list_directory(const std::string& path, std::string& out) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  while (struct dirent* entry = readdir(dir)) {
    out += entry->d_name;
    out += "\n";
  }
  closedir(dir);
  return true;
}

class Command_Ls : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      if (!list_directory(".", out)) {
        out += "ls: error: unable to open directory .\n";
        return -1;
      }
      return 0;
    }
    bool several = args.size() > 1;
    for (const std::string& a : args) {
      std::string listing;
      if (!list_directory(a, listing)) {
        out += "ls: error: unable to open directory " + a + "\n";
        continue;
      }
      if (several) out += a + ":\n";
      out += listing;
      if (several) out += "\n";
    }
    return 0;
  }
};

class Command_Pwd : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) {
        out += "pwd: error: unable to determine the working directory\n";
        buffer.clear();
        break;
      }
      buffer.resize(buffer.size() * 2);
    }
    if (!buffer.empty()) out += std::string(buffer.data()) + "\n";
    if (!args.empty()) out += "pwd: warning: ignoring excess arguments...\n";
    return 0;
  }
};

class Command_Cd : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    const char* target = args.empty() ? std::getenv("HOME") : args[0].c_str();
    if (!target || chdir(target) != 0) out += "cd: error: command failed\n";
    return 0;
  }
};

// ---------------------------------------------------------------------------
// Aliases and sourcing

class Command_Alias : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      for (const auto& a : caller->aliases) out += "alias " + a.first + "='" + a.second + "'\n";
      return 0;
    }
    for (const std::string& a : args) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        caller->aliases[a.substr(0, eq)] = a.substr(eq + 1);
        continue;
      }
      auto it = caller->aliases.find(a);
      if (it != caller->aliases.end()) {
        out += "alias " + a + "='" + it->second + "'\n";
      } else {
        out += "alias: error: alias " + a + " not found\n";
      }
    }
    return 0;
  }
};

class Command_Unalias : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    for (const std::string& a : args) {
      if (!caller->aliases.erase(a)) out += "error: alias " + a + " not found\n";
    }
    return 0;
  }
};

class Command_Source : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    for (const std::string& name : args) {
      if (caller->source_depth >= SHELL_MAX_SOURCE_DEPTH) {
        out += "error: sourcing " + name + " nests files too deeply (at most " +
               std::to_string(SHELL_MAX_SOURCE_DEPTH) + ")\n";
        continue;
      }
      std::ifstream file(name);
      if (!file) {
        out += "error: unable to open file " + name;
        continue;
      }
      caller->source_depth++;
      std::string line;
      while (std::getline(file, line)) {
        std::string result;
        caller->execute_more(line + "\n", result);
        out += result;
      }
      caller->source_depth--;
    }
    return 0;
  }
};

// ---------------------------------------------------------------------------
// "vm"

class Command_VMAttach : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    std::string host;
    long port = OTF_PORT;
    t_CPINT result = 0;
    if (args.empty()) {
      host = kLocalHost;
      args.push_back(host + ":" + std::to_string(OTF_PORT));
    } else {
      std::string& word = args[0];
      size_t colon = word.find(':');
      if (colon == std::string::npos) {
        host = word;
        word += ":" + std::to_string(OTF_PORT);
      } else {
        std::string text = word.substr(colon + 1);
        port = leading_number(text);
        host = word.substr(0, colon);
        // Only ports a connection can reach.
        if (port < 1 || port > 65535) {
          out += "error: invalid port '" + text + "'\n";
          result = -1;
        }
      }
    }
    if (result == 0) {
      delete caller->current_vm;
      caller->current_vm = new Chip_Shell_Network_VM(host, static_cast<t_CPINT>(port));
      out += args[0] + " is now current VM\n";
    } else {
      out += "error: unable to attach to " + args[0] + "\n";
    }
    if (args.size() > 1) out += kExcess;
    return result;
  }

 private:
  static constexpr long OTF_PORT = Chip_Shell::kDefaultPort;
};

class Command_VMAdd : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (!caller->current_vm) {
      out += "error: no VM to save\n";
      return -1;
    }
    caller->vms.push_back(caller->current_vm->copy());
    out += caller->current_vm->fullname() + " saved as VM " +
           std::to_string(caller->vms.size() - 1) + "\n";
    if (!args.empty()) out += kExcess;
    return 0;
  }
};

class Command_VMRemove : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    for (const std::string& word : args) {
      bool digits = false;
      long id = std::isdigit(static_cast<unsigned char>(word.empty() ? 'x' : word[0]))
                    ? leading_number(word, &digits)
                    : -1;
      if (!digits || id < 0 || static_cast<size_t>(id) >= caller->vms.size() ||
          !caller->vms[static_cast<size_t>(id)]) {
        out += "error: invalid VM id: " + word + "\n";
        continue;
      }
      delete caller->vms[static_cast<size_t>(id)];
      caller->vms[static_cast<size_t>(id)] = nullptr;
    }
    return 0;
  }
};

class Command_VMList : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (caller->current_vm) out += "current VM: " + caller->current_vm->fullname() + "\n";
    for (size_t id = 0; id < caller->vms.size(); id++) {
      if (caller->vms[id]) {
        out += "VM " + std::to_string(id) + ": " + caller->vms[id]->fullname() + "\n";
      }
    }
    if (!args.empty()) out += kExcess;
    return 0;
  }
};

class Command_VMSwap : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += "error: too few arguments...\n";
      return -1;
    }
    long id = leading_number(args[0]);
    if (id < 0 || static_cast<size_t>(id) >= caller->vms.size() ||
        !caller->vms[static_cast<size_t>(id)]) {
      out += "error: invalid VM: " + args[0] + "\n";
      return -1;
    }
    delete caller->current_vm;
    caller->current_vm = caller->vms[static_cast<size_t>(id)]->copy();
    out += "current VM is now " + caller->current_vm->fullname() + "\n";
    if (args.size() > 1) out += kExcess;
    return 0;
  }
};

// Attach, then save: nothing is saved when the attach failed.
class Command_VMAttachAdd : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    std::vector<std::string> address;
    if (!args.empty()) address.push_back(args[0]);
    Command_VMAttach attach;
    attach.init(caller);
    if (attach.execute(address, out) != 0) return -1;
    Command_VMAdd add;
    add.init(caller);
    std::vector<std::string> none;
    return add.execute(none, out);
  }
};

class Command_VM : public Command_Group {
 public:
  Command_VM() : Command_Group("vm") {}
  t_CPBOOL init(Chip_Shell* shell) override {
    caller = shell;
    add(new Command_VMAttach, {"attach", "@"});
    add(new Command_VMAdd, {"add", "+"});
    add(new Command_VMRemove, {"remove", "-"});
    add(new Command_VMList, {"list"});
    add(new Command_VMSwap, {"swap", "<", "<-"});
    add(new Command_VMAttachAdd, {"@+"});
    return TRUE;
  }
};

// ---------------------------------------------------------------------------
// "code"

class Command_CodeSave : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += "error: please specify a name to identify the code\n";
      return 0;
    }
    if (caller->code.empty()) {
      out += "error: no code to save\n";
    } else {
      caller->saved_code[args[0]] = caller->code;
    }
    if (args.size() > 1) out += kExcess;
    return 0;
  }
};

class Command_CodeList : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    for (const auto& c : caller->saved_code) out += c.first + "\n";
    if (!args.empty()) out += kExcess;
    return 0;
  }
};

class Command_CodePrint : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += caller->code.empty() ? "error: no code to print\n" : caller->code + "\n";
      return 0;
    }
    for (const std::string& name : args) {
      auto it = caller->saved_code.find(name);
      if (it == caller->saved_code.end()) {
        out += "error: code " + name + " not found\n";
      } else {
        out += name + ":\n" + it->second + "\n";
      }
    }
    return 0;
  }
};

class Command_CodeDelete : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) out += "error: specify the code to delete\n";
    for (const std::string& name : args) {
      if (!caller->saved_code.erase(name)) out += "error: code " + name + " not found\n";
    }
    return 0;
  }
};

class Command_CodeWrite : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += "error: insufficient arguments...\n";
    } else if (!caller->saved_code.count(args[0])) {
      out += "error: code " + args[0] + " not found\n";
    } else {
      std::string file = args.size() > 1 ? args[1] : args[0] + ".chip";
      FILE* fd = std::fopen(file.c_str(), "w");
      if (!fd) {
        out += "error: unable to open " + file + " for writing\n";
      } else {
        const std::string& text = caller->saved_code[args[0]];
        bool ok = std::fwrite(text.data(), 1, text.size(), fd) == text.size();
        if (std::fclose(fd) != 0) ok = false;
        if (!ok) out += "error: unable to write to " + file + "\n";
      }
    }
    if (args.size() > 2) out += kExcess;
    return 0;
  }
};

class Command_CodeRead : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      out += "error: insufficient arguments...\n";
    } else {
      const std::string& file = args[0];
      std::string name = args.size() > 1 ? args[1] : file.substr(0, file.rfind('.'));
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        out += "error: unable to open " + file + " for reading\n";
      } else {
        std::ostringstream text;
        text << in.rdbuf();
        if (text.str().empty()) {
          out += "error: unable to read " + file + ", or file is empty\n";
        } else {
          caller->saved_code[name] = text.str();
        }
      }
    }
    if (args.size() > 2) out += kExcess;
    return 0;
  }
};

class Command_CodeAdd : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    if (args.empty()) {
      if (caller->code.empty()) {
        out += "error: no code to add\n";
      } else {
        caller->do_code(caller->code, out, "+ ");
      }
      return 0;
    }
    for (const std::string& name : args) {
      auto it = caller->saved_code.find(name);
      if (it == caller->saved_code.end()) {
        out += "error: code " + name + " not found\n";
      } else {
        std::string text = it->second;
        caller->do_code(text, out, "+ ");
      }
    }
    return 0;
  }
};

class Command_Code : public Command_Group {
 public:
  Command_Code() : Command_Group("code") {}
  t_CPBOOL init(Chip_Shell* shell) override {
    caller = shell;
    add(new Command_CodeSave, {"save"});
    add(new Command_CodeList, {"list"});
    add(new Command_CodePrint, {"print"});
    add(new Command_CodeDelete, {"delete"});
    add(new Command_CodeWrite, {"write"});
    add(new Command_CodeRead, {"read"});
    add(new Command_CodeAdd, {"add", "+"});
    return TRUE;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// The tokenizer

void tokenize_string(std::string str, std::vector<std::string>& words) {
  size_t i = 0;
  size_t j = 0;
  bool skipping = true;
  bool in_word = false;
  bool in_single = false;
  bool in_double = false;
  while (j < str.size()) {
    char c = str[j];
    bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (space && skipping) {
      i = j = j + 1;
    } else if (space && in_word) {
      words.push_back(str.substr(i, j - i));
      skipping = true;
      in_word = false;
      i = j = j + 1;
    } else if (c == '\'' || c == '"') {
      bool& mine = c == '\'' ? in_single : in_double;
      bool other = c == '\'' ? in_double : in_single;
      if (other) {
        j++;
      } else if (mine) {
        if (j > 0 && str[j - 1] == '\\') {
          // An escaped closing quote stays as an ordinary character.
          str.erase(j - 1, 1);
        } else {
          str.erase(j, 1);
          mine = false;
          in_word = true;
          skipping = false;
        }
      } else {
        str.erase(j, 1);
        mine = true;
        in_word = false;
        skipping = false;
      }
    } else {
      if (!in_single && !in_double) {
        skipping = false;
        in_word = true;
      }
      j++;
    }
  }
  if (in_word && j > i) words.push_back(str.substr(i));
}

// ---------------------------------------------------------------------------
// The shell

Chip_Shell::~Chip_Shell() {
  for (Command*& c : allocated_commands) {
    delete c;
    c = nullptr;
  }
  delete ui;
  delete current_vm;
  for (Chip_Shell_VM* vm : vms) delete vm;
}

void Chip_Shell::add_command(Command* command, std::initializer_list<const char*> words) {
  command->init(this);
  for (const char* w : words) commands[w] = command;
  allocated_commands.push_back(command);
}

t_CPBOOL Chip_Shell::init(Chip_VM* vm, Chip_Shell_UI* line_source, t_CPINT port) {
  EM_log(CP_LOG_SYSTEM, "initializing chip shell...");
  if (initialized) {
    EM_log(CP_LOG_WARNING, "chip shell already initialized");
    return TRUE;
  }
  if (!line_source) {
    std::fprintf(stderr, "[chip](via shell): NULL ui passed to Chip_Shell::init...");
    return FALSE;
  }
  ui = line_source;
  process_vm = vm;
  // The engine of this process (or the one the user named with --port).
  current_vm = new Chip_Shell_Network_VM(kLocalHost, port);
  vms.push_back(current_vm->copy());
  code.clear();
  code_entry = FALSE;
  variables["COMMAND_PROMPT"] = "chip %> ";
  variables["DEFAULT_CONTEXT"] = "shell_global";
  prompt = variables["COMMAND_PROMPT"];

  add_command(new Command_VM, {"vm"});
  add_command(new Command_VMList, {"vms"});
  add_command(new Command_Add, {"+", "add"});
  add_command(new Command_Remove, {"-", "remove"});
  add_command(new Command_Status, {"status", "^"});
  add_command(new Command_Removeall, {"removeall"});
  add_command(new Command_Removelast, {"--"});
  add_command(new Command_Replace, {"replace", "="});
  add_command(new Command_Close, {"close"});
  add_command(new Command_Kill, {"kill"});
  add_command(new Command_Exit, {"exit", "quit"});
  add_command(new Command_Ls, {"ls"});
  add_command(new Command_Pwd, {"pwd"});
  add_command(new Command_Cd, {"cd"});
  add_command(new Command_Alias, {"alias"});
  add_command(new Command_Unalias, {"unalias"});
  add_command(new Command_Source, {"source", "."});
  add_command(new Command_Code, {"code"});
  initialized = TRUE;
  return TRUE;
}

t_CPBOOL Chip_Shell::execute(const std::string& line, std::string& out) {
  if (!initialized) return FALSE;
  out.clear();
  return execute_more(line, out);
}

t_CPBOOL Chip_Shell::execute_more(const std::string& line, std::string& out) {
  if (!initialized) return FALSE;
  if (!code_entry) {
    size_t first = line.find_first_not_of(" \t\v\n");
    if (first != std::string::npos && line[first] == '{') {
      code.clear();
      code_entry = TRUE;
      scope = 0;
    }
  }
  if (code_entry) {
    continue_code(line);
    if (code_entry) return TRUE;
    size_t open = code.find('{');
    code.erase(0, open == std::string::npos ? 0 : open + 1);
    size_t close = code.rfind('}');
    std::string tail;
    if (close != std::string::npos) {
      tail = code.substr(close + 1);
      code.erase(close);
    }
    std::string body = code;
    do_code(body, out, "+ ");
    std::vector<std::string> words;
    tokenize_string(tail, words);
    if (!words.empty()) execute_more("code save " + words[0], out);
    return TRUE;
  }

  std::vector<std::string> words;
  tokenize_string(line, words);
  if (words.empty()) return TRUE;
  // Aliases may name aliases; a cycle ends after a fixed number of steps.
  for (int depth = 0; !words.empty() && aliases.count(words[0]); depth++) {
    if (depth >= SHELL_MAX_ALIAS_DEPTH) {
      out += "error: alias " + words[0] + " expands too deeply (a cycle?)\n";
      return FALSE;
    }
    std::vector<std::string> expanded;
    tokenize_string(aliases[words[0]], expanded);
    expanded.insert(expanded.end(), words.begin() + 1, words.end());
    words.swap(expanded);
  }
  if (words.empty()) return TRUE;
  auto it = commands.find(words[0]);
  if (it == commands.end()) {
    out += words[0] + ": command not found\n";
    return FALSE;
  }
  words.erase(words.begin());
  return it->second->execute(words, out) == 0;
}

void Chip_Shell::continue_code(const std::string& line) {
  char text[32];
  if (line.find('{') != std::string::npos) {
    scope++;
    std::snprintf(text, sizeof text, "code %2d> ", static_cast<int>(scope));
    prompt = text;
  }
  if (line.find('}') != std::string::npos) {
    scope--;
    std::snprintf(text, sizeof text, "code %2d> ", static_cast<int>(scope));
    prompt = text;
  }
  code += line + "\n";
  if (scope == 0) code_entry = FALSE;
}

void Chip_Shell::do_code(const std::string& text, std::string& out, std::string command) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/chip_shell_XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    out += "shell: error: unable to open tmpfile '" + path + "'\n";
  } else {
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
      ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
    close(fd);
    if (ok) {
      execute_more(command + name.data(), out);
    } else {
      out += "shell: error: unable to write tmpfile '" + std::string(name.data()) + "'\n";
    }
    unlink(name.data());
  }
  prompt = variables["COMMAND_PROMPT"];
}

void Chip_Shell::run() {
  EM_log(CP_LOG_SYSTEM, "running chip shell...");
  if (!initialized) {
    std::fprintf(stderr, "[chip](via shell): shell not initialized...\n");
    return;
  }
  ui->next_result("welcome to chip shell!\n");
  std::string line;
  std::string result;
  while (!stop) {
    if (ui->next_command(prompt, line) != 1) break;
    result.clear();
    execute(line, result);
    line.clear();
    ui->next_result(result);
  }
  EM_log(CP_LOG_SYSTEM, "exiting chip shell...");
}

void* shell_cb(void* p) {
  EM_log(CP_LOG_INFO, "starting thread routine for shell...");
  CHIP_CHECK(p != nullptr);
  static_cast<Chip_Shell*>(p)->run();
  if (Chip_Shell* shell = g_shell.exchange(nullptr)) delete shell;
  EM_log(CP_LOG_INFO, "exiting thread routine for shell...");
  return nullptr;
}
