// The engine's command-line driver.
//
// chip_main reads the options (two passes over the arguments: the first
// collects the settings and counts the files, the second compiles each file
// token "name:arg1:arg2" and sporks it), creates and initialises the virtual
// machine and the compiler driver, creates dac, adc and blackhole, then runs
// the machine until it stops and frees both. In callback mode the audio
// thread runs every shred while this thread sleeps inside Chip_VM::run();
// with "--silent" the machine runs on this thread as fast as it can and the
// run ends when the last shred does (halt on).
//
// Interrupts: signal_int only writes its note to standard error, sets a flag
// and wakes a watcher thread through a pipe (all async-signal-safe). The
// watcher asks the machine to stop; the driver thread then leaves run() and
// shuts everything down in order (detach, machine, compiler) and returns 2.
// A second interrupt before that ends the process at once with status 2.
//
// With halt off ("--loop", "--shell") and unless "--standalone", an
// on-the-fly listener serves 127.0.0.1:g_port ("--bind<address>" opens
// another address, with a warning) on a thread of its own, joined before
// the machine is deleted. A kill request stops the machine; the driver then
// shuts down in order and returns 1.
//
// "--shell" runs the command shell on a thread beside the machine (woken
// from its read and joined at shutdown); "--shell --empty" runs only the
// shell, on this thread, returning 0. Any other option that is no setting
// goes to the on-the-fly client: 0 when the engine accepted the command,
// 1 when it refused, stayed silent or could not be reached; an option that
// is no command either is an invalid flag (1).
//
// Everything the driver prints goes through the application log, like the
// rest of the engine's output; the caller flushes the log before it exits.
#ifndef CHIP_CHIP_MAIN_H
#define CHIP_CHIP_MAIN_H

#include "chip/util/chip_def.h"

class Chip_VM;
struct Chip_Compiler;

// Returns the exit status: 0 after a normal run and after "--probe", 1 on
// any error, 2 after "--help", "-h", "--about", "--version" and after an
// interrupt.
int chip_main(int argc, const char** argv);

// The option summary and version block (through the application log).
void usage();

// Signal handlers (SIGINT, SIGPIPE) and the release of the process-wide
// resources at shutdown.
void signal_int(int sig);
void signal_pipe(int sig);
void all_detach();

// The driver's process-wide state.
extern Chip_Compiler* g_compiler;
extern t_CPINT g_priority;
extern t_CPINT g_priority_low;
// The watchdog's settings live with the audio facade (digiio_device.h).
extern char g_host[256];
extern t_CPINT g_port;

#endif
