// The on-the-fly request processing: one Net_Msg packet becomes one
// request (Chip_Msg) of the virtual machine, carried out at once or queued.
//
// otf_process_msg turns an add or replace packet into compiled code (the
// packet's buffer is the source token "file:arg1:arg2"; the file is
// compiled from its name), a remove, remove-all, status, kill, time or
// reset-id packet into the matching request, and an abort packet into an
// abort of the running shred. With `immediate` set the request is executed
// now, on the calling thread, which must be the machine's own (the Machine
// class calls from inside a shred), and its result is returned: the new
// shred's id for add, the removed or replaced id, 0xFFFFFFF0 for requests
// without a result, 0 for any failure. Without it the request is queued
// for the machine's thread and the result is 1. A packet whose source is
// streamed over the connection (param2 neither 0 nor -1) is refused: this
// engine does not receive streamed sources yet.
//
// Layering: this module sits below the compiler driver, which hands it the
// compiler's entry (otf_set_compile) when it initialises; the compiler
// argument of otf_process_msg is passed back to that entry unread.
//
// Threads: as the caller's (see `immediate`).
#ifndef CHIP_OTF_CHIP_OTF_H
#define CHIP_OTF_CHIP_OTF_H

#include <cstdio>
#include <string>

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

// Compiles one source (from fd when given, else from the file filename)
// and hands over the code; FALSE after the compiler's own message.
typedef t_CPBOOL (*f_otf_compile)(Chip_Compiler* compiler, const std::string& filename, FILE* fd,
                                  Chip_VM_Code** code);

// The compiler's entry (set by the compiler driver); null clears it.
void otf_set_compile(f_otf_compile compile);

t_CPUINT otf_process_msg(Chip_VM* vm, Chip_Compiler* compiler, Net_Msg* msg, t_CPUINT immediate,
                         void* data);

#endif
