#include "chip/util/chip_errmsg.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "chip/util/util_thread.h"

int EM_tokPos = 0;
int EM_lineNum = 1;
int EM_extLineNum = 1;
t_CPBOOL anyErrors = FALSE;
char g_lasterror[EM_MAX_TEXT] = "[chip]: (no error)";
int g_loglevel = CP_LOG_CORE;
int g_logstack = 0;

namespace {

char fileName[EM_MAX_TEXT] = "";
int lineNum = 1;
// Line starts, oldest first: the running position of the newline before each
// line (0 for the first line).
std::vector<int> linePos{0};

XMutex& logmutex() {
  static XMutex m;
  return m;
}

const char* const levelNames[] = {"NONE",   "CPCORE", "SYSTEM", "SEVERE",
                                  "WARN!!", "INFORM", "CONFIG", "FINE!!",
                                  "FINER!", "FINEST", "ALL!!"};

// Copies src into a fixed text of EM_MAX_TEXT bytes, cutting what does not fit.
void set_text(char* dst, c_constr src) {
  std::snprintf(dst, EM_MAX_TEXT, "%s", src ? src : "");
}

std::string vformat(c_constr fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

// The plain sink: straight to standard error, which is unbuffered.
void plain_vlogf(c_constr fmt, va_list args) { std::vfprintf(stderr, fmt, args); }
void plain_flush() { std::fflush(stderr); }

// The installed sink; atomics, so a host or a test may swap it while other
// threads print.
std::atomic<void (*)(c_constr, va_list)> g_vlogf{plain_vlogf};
std::atomic<void (*)()> g_flush{plain_flush};

void sink_vlogf(c_constr fmt, va_list args) { g_vlogf.load(std::memory_order_acquire)(fmt, args); }

void sink_printf(c_constr fmt, ...) {
  va_list args;
  va_start(args, fmt);
  sink_vlogf(fmt, args);
  va_end(args);
}

void emit(const std::string& text) { sink_printf("%s", text.c_str()); }

std::string name_part() {
  std::string head = "[";
  head += fileName[0] ? mini(fileName) : "chip";
  head += "]:";
  return head;
}

// Prints name, optional position, a blank and the message; the last-error
// text becomes the same without the newline.
void report(const std::string& position, c_constr fmt, va_list args) {
  std::string line = name_part() + position + " " + vformat(fmt, args);
  set_text(g_lasterror, line.c_str());
  emit(line + "\n");
}

}  // namespace

t_CPBOOL EM_reset(c_constr filename, FILE*) {
  anyErrors = FALSE;
  set_text(fileName, filename);
  lineNum = EM_lineNum = EM_extLineNum = 1;
  linePos.assign(1, 0);
  return TRUE;
}

void EM_change_file(c_constr filename) {
  set_text(fileName, filename);
  lineNum = EM_lineNum = EM_extLineNum = 0;
}

c_constr EM_filename() { return fileName; }

void EM_newline() {
  lineNum++;
  EM_lineNum++;
  EM_extLineNum++;
  linePos.push_back(EM_tokPos);
}

void EM_error(int pos, c_constr fmt, ...) {
  anyErrors = TRUE;
  // Walk back from the newest line start to the line that holds pos.
  int num = lineNum;
  int found = -1;
  for (size_t i = linePos.size(); i-- > 0; num--) {
    if (linePos[i] < pos) {
      found = static_cast<int>(i);
      break;
    }
  }
  std::string position;
  if (found >= 0) {
    position = "line(" + std::to_string(num) + ").char(" +
               std::to_string(pos - linePos[found]) + "):";
  }
  va_list args;
  va_start(args, fmt);
  report(position, fmt, args);
  va_end(args);
}

void EM_error2(int line, c_constr fmt, ...) {
  EM_extLineNum = line;
  std::string position;
  if (line) position = "line(" + std::to_string(line) + "):";
  va_list args;
  va_start(args, fmt);
  report(position, fmt, args);
  va_end(args);
}

void EM_error3(c_constr fmt, ...) {
  va_list args;
  va_start(args, fmt);
  try {
    std::string text = vformat(fmt, args);
    set_text(g_lasterror, text.c_str());
    emit(text + "\n");
  } catch (const std::bad_alloc&) {
    // The machine reports through here too: memory running short must not
    // end it. The message goes out unformatted.
    sink_printf("%s\n", fmt);
  }
  va_end(args);
}

void EM_log(int level, c_constr fmt, ...) {
  if (level > CP_LOG_ALL) level = CP_LOG_ALL;
  if (level < CP_LOG_CORE) level = CP_LOG_CORE;
  if (level > g_loglevel) return;

  va_list args;
  va_start(args, fmt);
  try {
    std::string message = vformat(fmt, args);
    struct Held {
      Held() { logmutex().acquire(); }
      ~Held() { logmutex().release(); }
    } held;
    std::string line = "[chip]:(" + std::to_string(level) + ":" + levelNames[level] + "): ";
    for (int i = 0; i < g_logstack; i++) line += " | ";
    line += message;
    line += "\n";
    emit(line);
  } catch (const std::bad_alloc&) {
    // A line that cannot be made (memory short) is left out: it must neither
    // end the machine, which logs through here, nor leave the lock taken.
  }
  va_end(args);
}

void EM_printf(c_constr fmt, ...) {
  va_list args;
  va_start(args, fmt);
  sink_vlogf(fmt, args);
  va_end(args);
}

void EM_logf(c_constr fmt, ...) {
  va_list args;
  va_start(args, fmt);
  sink_vlogf(fmt, args);
  va_end(args);
}

void EM_set_sink(const EM_Sink* sink) {
  bool usable = sink && sink->vlogf && sink->flush;
  g_flush.store(usable ? sink->flush : plain_flush, std::memory_order_release);
  g_vlogf.store(usable ? sink->vlogf : plain_vlogf, std::memory_order_release);
}

void EM_flush() { g_flush.load(std::memory_order_acquire)(); }

void EM_setlog(int level) {
  if (level > CP_LOG_ALL) level = CP_LOG_ALL;
  if (level < CP_LOG_NONE) level = CP_LOG_NONE;
  g_loglevel = level;
  EM_log(CP_LOG_SYSTEM, "setting log level to: %i (%s)...", level, levelNames[level]);
}

void EM_pushlog() { g_logstack++; }

void EM_poplog() {
  if (g_logstack > 0) g_logstack--;
}

c_constr mini(c_constr path) {
  size_t len = std::strlen(path);
  for (size_t i = len; i-- > 1;) {
    if (path[i] == '/' || path[i] == '\\') {
      // A separator in last place leaves the lone separator.
      return i == len - 1 ? path + i : path + i + 1;
    }
  }
  return path;
}

c_constr mini_type(c_constr name) {
  if (std::strncmp(name, "struct ", 7) == 0) name += 7;
  while (*name >= '0' && *name <= '9') name++;
  return name;
}
