// The shell's two small interfaces and their one implementation each.
//
// Chip_Shell_UI is where the shell's lines come from and its results go:
// Chip_Console reads standard input (io_readline) and writes standard output.
// Chip_Shell_VM is the target of the shell's shred commands:
// Chip_Shell_Network_VM, a host and a port, sends each operation as one
// on-the-fly request (otf_send_cmd) on a connection of its own.
//
// io_readline reads whole lines of any length up to IO_MAX_LINE bytes
// (more is dropped with a note) straight from descriptor 0; a line is never
// split, since each piece would run as a command of its own. It waits with
// poll on standard input and on the wake descriptor: io_interrupt(), from
// any thread, ends the wait of the reader (now or the next one) as the end
// of the input, so that a shell blocked on a silent terminal can be joined.
//
// Threads: the console and the network VM belong to the shell's thread;
// io_interrupt may be called from any thread.
#ifndef CHIP_SHELL_CHIP_CONSOLE_H
#define CHIP_SHELL_CHIP_CONSOLE_H

#include <string>
#include <vector>

#include "chip/util/chip_def.h"

enum { IO_MAX_LINE = 65536 };

// A new line (released with free) without its line end, or null at the end
// of the input, on a read error or after io_interrupt.
char* io_readline(const char* prompt);
// Records a line in the history (this program keeps none).
void io_addhistory(const char* line);
// Ends the line reader's wait (any thread); it stays ended.
void io_interrupt();
// Makes the reader wait again (for a new shell in the same process).
void io_reset();

class Chip_Shell_UI {
 public:
  virtual ~Chip_Shell_UI() = default;
  virtual t_CPBOOL init() { return TRUE; }
  // Shows prompt, reads the next line into line; 1 when read, 0 at the end.
  virtual t_CPINT next_command(const std::string& prompt, std::string& line) = 0;
  virtual void next_result(const std::string& result) = 0;
};

class Chip_Console : public Chip_Shell_UI {
 public:
  t_CPBOOL init() override { return TRUE; }
  t_CPINT next_command(const std::string& prompt, std::string& line) override;
  void next_result(const std::string& result) override;
};

class Chip_Shell_VM {
 public:
  virtual ~Chip_Shell_VM() = default;
  virtual Chip_Shell_VM* copy() = 0;
  virtual t_CPBOOL add_shred(const std::vector<std::string>& args, std::string& out) = 0;
  virtual t_CPBOOL remove_shred(const std::vector<std::string>& args, std::string& out) = 0;
  virtual t_CPBOOL remove_all(std::string& out) = 0;
  virtual t_CPBOOL remove_last(std::string& out) = 0;
  virtual t_CPBOOL replace_shred(const std::vector<std::string>& args, std::string& out) = 0;
  virtual t_CPBOOL status(std::string& out) = 0;
  virtual t_CPBOOL kill(std::string& out) = 0;
  virtual std::string fullname() = 0;
};

class Chip_Shell_Network_VM : public Chip_Shell_VM {
 public:
  Chip_Shell_Network_VM(const std::string& hostname, t_CPINT port)
      : m_hostname(hostname), m_port(port) {}
  Chip_Shell_VM* copy() override { return new Chip_Shell_Network_VM(m_hostname, m_port); }
  t_CPBOOL add_shred(const std::vector<std::string>& args, std::string& out) override;
  t_CPBOOL remove_shred(const std::vector<std::string>& args, std::string& out) override;
  t_CPBOOL remove_all(std::string& out) override;
  t_CPBOOL remove_last(std::string& out) override;
  t_CPBOOL replace_shred(const std::vector<std::string>& args, std::string& out) override;
  t_CPBOOL status(std::string& out) override;
  t_CPBOOL kill(std::string& out) override;
  std::string fullname() override;

  const std::string& hostname() const { return m_hostname; }
  t_CPINT port() const { return m_port; }

 private:
  // One request: option, then the arguments; FALSE with failure appended.
  t_CPBOOL send(const char* option, const std::vector<std::string>& args, const char* failure,
                std::string& out);

  std::string m_hostname;
  t_CPINT m_port;
};

#endif
