// The engine's front door: everything a host program needs from the
// language engine, and the one engine header a host includes.
//
// A host (the chip program, the application framework, the instrument's
// recorder) does five things with the engine, each in a section below:
//
//   1. Start and stop. chip_main runs the engine from a command line (the
//      options of `chip --help`) and returns its exit status once the
//      machine has stopped; chip_stop_machine asks a running machine to
//      stop from any thread.
//   2. Log sink. Everything the engine prints goes through one EM_Sink:
//      standard error until the host installs its own with EM_set_sink;
//      EM_flush returns once all of it is out.
//   3. Audio device. The engine computes; a Chip_Audio_Device the host
//      installs with chip_set_audio_device moves its buffers to and from
//      the sound card (its start receives the machine as its user data,
//      which chip_stop_machine accepts).
//   4. Providing a module. chip_provide_module hands in the query function
//      of a module the compiler's load order has a place for ("VCR",
//      "VXIgn"), before the engine starts; the query declares the module's
//      classes when the compiler loads it.
//   5. Binding a class. A query declares its classes into chip_env():
//      a unit generator as one row of the binding frame
//      (Frame_Class_Desc, registered with chip_import_classes), any other
//      class between chip_class_begin and chip_class_end with the frame's
//      registration steps (frame_import_state, frame_import_mfun,
//      frame_import_sfun; frame_fail on the way out of an error), its
//      natives reading their arguments with GET_NEXT_INT and friends and
//      keeping their native state in a hidden member (frame_state,
//      frame_set_state, frame_take_state). chip/vm/ugen_frame.h explains
//      rows, members and the argument block in full.
//
// A host that also hands records to scripts from another thread uses the
// engine's lock-free ring (CBufferSimple): one writer, one reader.
//
// Threads: sections 2 to 4 are set up on the thread that starts the
// engine, before chip_main; queries run on that thread while the compiler
// loads its modules; natives run on the machine's thread.
#ifndef CHIP_CHIP_H
#define CHIP_CHIP_H

#include <cstddef>

#include "chip/util/chip_def.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_buffers.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/digiio_device.h"
#include "chip/vm/frame_object.h"
#include "chip/vm/ugen_frame.h"

class Chip_VM;
struct Chip_Env;

// ---------------------------------------------------------------------------
// 1. Start and stop.

// Runs the engine with the command line argv (argv[0] the program's name);
// the exit status: 0 after a normal run, 1 on any error, 2 after "--help"
// and after an interrupt.
int chip_main(int argc, const char** argv);

// Asks machine to stop (any thread): chip_main then shuts down and returns.
void chip_stop_machine(Chip_VM* machine);

// ---------------------------------------------------------------------------
// 2. Log sink: EM_Sink, EM_set_sink and EM_flush (chip/util/chip_errmsg.h).

// ---------------------------------------------------------------------------
// 3. Audio device.

// The host's audio device (not owned; null removes it), installed before
// the engine starts real-time audio.
void chip_set_audio_device(Chip_Audio_Device* device);

// ---------------------------------------------------------------------------
// 4. Providing a module.

// Hands in the query of the module `name` for its place in the compiler's
// load order (a null query empties the place again); FALSE when the order
// has no such place.
t_CPBOOL chip_provide_module(const char* name, f_ck_query query);

// ---------------------------------------------------------------------------
// 5. Binding a class.

// The environment a query declares its classes into: the loading
// compiler's, or null outside a query.
Chip_Env* chip_env();

// Opens the class `name`, derived from `parent` ("Object" or a class
// declared before), on env's global namespace, with its constructor and
// destructor (either may be null); FALSE after the engine's message.
t_CPBOOL chip_class_begin(Chip_Env* env, const char* name, const char* parent, f_ctor ctor,
                          f_dtor dtor);
// Closes the open class; FALSE after the engine's message.
t_CPBOOL chip_class_end(Chip_Env* env);

// Registers each row of a table of unit generators on env's global
// namespace, in order; FALSE at the first that fails (those before it stay).
t_CPBOOL chip_import_classes(Chip_Env* env, const Frame_Class_Desc* rows, size_t count);

#endif
