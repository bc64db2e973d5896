// The shell's tokenizer and alias expansion: every line of the input runs
// through the shell's line executor, whose commands here are only "alias",
// "unalias" and a word that records what it was given (no files, no
// network). Blocks between braces are allowed; their addition finds no
// command. Alias cycles must end, words must come out whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chip/shell/chip_shell.h"

namespace {

class No_UI : public Chip_Shell_UI {
 public:
  t_CPINT next_command(const std::string&, std::string&) override { return 0; }
  void next_result(const std::string&) override {}
};

class Record : public Chip_Shell::Command {
 public:
  t_CPINT execute(std::vector<std::string>& args, std::string& out) override {
    for (const std::string& a : args) out += a + "\n";
    return 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words;
  tokenize_string(text, words);
  size_t letters = 0;
  for (const std::string& w : words) letters += w.size();
  if (letters > text.size()) __builtin_trap();

  Chip_Shell shell;
  if (!shell.init(nullptr, new No_UI)) __builtin_trap();
  // Only harmless commands: the others reach files and the network.
  Chip_Shell::Command* alias = shell.commands["alias"];
  Chip_Shell::Command* unalias = shell.commands["unalias"];
  static Record record;
  record.init(&shell);
  shell.commands.clear();
  shell.commands["alias"] = alias;
  shell.commands["unalias"] = unalias;
  shell.commands["rec"] = &record;
  size_t at = 0;
  std::string out;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    shell.execute(text.substr(at, end - at), out);
    at = end + 1;
  }
  return 0;
}
