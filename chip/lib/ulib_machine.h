// The module "Machine": the script class Machine, with which a running
// script adds, removes and replaces shreds, prints the machine's status or
// ends the process.
//
// Each call builds one on-the-fly request packet (Net_Msg, host order) on
// its stack and hands it to the request handler that machine_init stored
// (the compiler driver passes otf_process_msg), with the immediate flag
// set: the request is carried out at once, on the machine's thread, inside
// the calling shred, and its result is the script's int.
//
//   add(path)          the new shred's id, or 0 (bad token, no such file,
//                      compile error)
//   remove(id)         the id, or 0 when no shred was removed; -1 asks for
//                      the newest shred
//   replace(id, path)  the id, now running the new code; 0 on failure
//   status()           prints the status; -16
//   crash()            flushes the log, writes "[chip]: crashing..." to
//                      standard error itself (an asynchronous log could
//                      lose it) and aborts the process
//
// A path is "file:arg1:arg2..." and must fit the packet: a null path or
// one of more than 511 characters is refused with 0 and a message, as is
// any call before machine_init stored a machine and a handler.
//
// Threads: machine_query and machine_init run on the thread that starts
// the engine; the routines on the machine's thread.
#ifndef CHIP_ULIB_MACHINE_H
#define CHIP_ULIB_MACHINE_H

#include "chip/lib/util_network.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

class Chip_VM;
struct Chip_Compiler;

// The request handler: (machine, compiler, packet, immediate flag,
// connection or null) -> the request's result.
typedef t_CPUINT (*f_otf_handler)(Chip_VM* vm, Chip_Compiler* compiler, Net_Msg* msg,
                                  t_CPUINT immediate, void* data);

t_CPBOOL machine_query(Chip_DL_Query* QUERY);
// Stores the process's machine (g_vm as it is now), the compiler and the
// handler for the class's calls; TRUE.
t_CPBOOL machine_init(Chip_Compiler* compiler, f_otf_handler handler);

void machine_add_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void machine_remove_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void machine_replace_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void machine_crash_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void machine_status_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
