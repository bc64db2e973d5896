// Error reporting and the leveled log.
//
// The engine's one channel for compile errors, run-time complaints and
// progress lines. The error functions prefix the message with the current
// source file and position and keep the text of the last error for callers;
// EM_log prints lines filtered by a global level and indented by a push/pop
// depth, under one mutex. All text goes to the engine's sink: standard
// error until the host installs its own (the chip program and the instrument
// install the application log, which prints on standard error and keeps a
// file).
//
// The module also keeps the source-position state that the lexer advances:
// the running position of the current token and the list of line starts.
#ifndef CHIP_CHIP_ERRMSG_H
#define CHIP_CHIP_ERRMSG_H

#include <cstdarg>
#include <cstdio>

#include "chip/util/chip_def.h"

// Log levels: a line prints when its level is at most the current level.
enum {
  CP_LOG_NONE = 0,
  CP_LOG_CORE,
  CP_LOG_SYSTEM,
  CP_LOG_SEVERE,
  CP_LOG_WARNING,
  CP_LOG_INFO,
  CP_LOG_CONFIG,
  CP_LOG_FINE,
  CP_LOG_FINER,
  CP_LOG_FINEST,
  CP_LOG_ALL
};

// Capacity of the file-name and last-error texts; longer texts are cut.
enum { EM_MAX_TEXT = 1024 };

extern int EM_tokPos;       // running position of the current token
extern int EM_lineNum;      // lines seen in the current source, from 1
extern int EM_extLineNum;   // the same, also set by EM_error2
extern t_CPBOOL anyErrors;  // set by EM_error, cleared by EM_reset
extern char g_lasterror[EM_MAX_TEXT];
extern int g_loglevel;
extern int g_logstack;

// Where the engine's text goes: vlogf receives every piece of output as a
// printf-style format and its arguments (newlines included, none added);
// flush returns once everything handed over so far is out. Both may be
// called from any thread.
struct EM_Sink {
  void (*vlogf)(c_constr fmt, va_list args);
  void (*flush)();
};

// Installs the host's sink (its two functions are copied); null, or a sink
// with a missing function, puts back the plain one (standard error).
// Install it before the engine starts: swapping it later is safe, but text
// in flight may reach either sink.
void EM_set_sink(const EM_Sink* sink);
// Waits until everything printed so far has left the sink.
void EM_flush();

t_CPBOOL EM_reset(c_constr filename, FILE* fd);
void EM_change_file(c_constr filename);
void EM_newline();

// The current source name ("" when none).
c_constr EM_filename();

void EM_error(int pos, c_constr fmt, ...) __attribute__((format(printf, 2, 3)));
void EM_error2(int line, c_constr fmt, ...) __attribute__((format(printf, 2, 3)));
void EM_error3(c_constr fmt, ...) __attribute__((format(printf, 1, 2)));
void EM_log(int level, c_constr fmt, ...) __attribute__((format(printf, 2, 3)));
void EM_printf(c_constr fmt, ...) __attribute__((format(printf, 1, 2)));
// EM_logf is EM_printf under the name a log writer looks for; the engine
// itself writes with EM_printf, and a library or host may use either.
void EM_logf(c_constr fmt, ...) __attribute__((format(printf, 1, 2)));

void EM_setlog(int level);
void EM_pushlog();
void EM_poplog();

// The last component of a path ("dir/" gives "/", "/abc" stays "/abc").
c_constr mini(c_constr path);
// A run-time type name without a leading "struct " and without leading
// decimal digits: "struct 12Chip_Instr" gives "Chip_Instr".
c_constr mini_type(c_constr name);

#endif
