// The compiler driver: from source text to compiled code.
//
// Chip_Compiler owns the type environment and the emitter. initialize()
// starts both and loads the built-in modules, in a fixed order, into the
// global namespace through one compilation context named "@[internal]".
// go() compiles one file or code string: parse, a context for the tree,
// scan passes 0, 1 and 2, the type check and the emitter; on success the
// names the file declared at the outermost level of the global namespace
// are committed and the code waits in output(), on any failure they are
// rolled back, so a failed file leaves nothing behind.
//
// Modules not built in this system yet are skipped; those that are (osc,
// xxx, filter, syn, Machine, Std, Math, opsc, HID; the language's own
// classes come with type_engine_init) load in their place in the order.
// Once Machine has loaded, machine_init receives this compiler and the
// on-the-fly processing (otf_process_msg), which compiles through it. The
// order also has places for the host's modules, the recorder "VCR" and the
// integration class "VXIgn": the host hands their query functions in with
// chip_provide_module before the compiler initialises, and a place left
// empty is skipped.
//
// Lifetimes: each file gets a context that owns its syntax tree and every
// record and code the compilation made (chip_type.h says who holds a
// context). A file that fails is freed as soon as it is unloaded; the
// compiler holds the context of its last successful compilation, whose code
// waits in output(), until the next one succeeds; shreds started from the
// code and objects of the file's classes hold it after that; a file that
// entered a public class into the global namespace stays for good. The
// records that the environment and the built-in modules build at
// initialisation (declarations of imported functions and variables) go to a
// pool of the compiler's own, freed at shutdown, so that a process may make
// and free compilers without holding on to their memory.
//
// Threads: a compiler is used by one thread at a time (the driver's at
// start-up, the machine's for run-time compilations); nothing is locked.
#ifndef CHIP_CHIP_COMPILE_H
#define CHIP_CHIP_COMPILE_H

#include <cstdio>
#include <string>
#include <vector>

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

struct Chip_Env;
struct Chip_Emitter;
struct Chip_Context;
struct Chip_VM_Code;
class Chip_VM;

struct Chip_Compiler {
  Chip_Compiler();
  // Runs shutdown() first.
  virtual ~Chip_Compiler();
  Chip_Compiler(const Chip_Compiler&) = delete;
  Chip_Compiler& operator=(const Chip_Compiler&) = delete;

  // Type environment (at the machine's sample rate), emitter, built-in
  // modules. FALSE leaves the compiler shut down.
  t_CPBOOL initialize(Chip_VM* vm);
  // Frees the environment and the emitter; safe to call more than once.
  void shutdown();

  // Compiles one source: the file filename, or the open stream fd, or the
  // text code (see chip_parse). TRUE: the code is in output().
  t_CPBOOL go(const std::string& filename, FILE* fd = nullptr, const char* code = nullptr);
  // The code of the last successful go (the caller sporks it). It stays
  // valid until the next successful go or shutdown, whether sporked or not.
  Chip_VM_Code* output() { return code; }
  // Chooses the compilation path ("type dependency resolution: AUTO|MANUAL").
  void set_auto_depend(t_CPBOOL v);

  // The passes on a loaded context, for the automatic-dependency path.
  t_CPBOOL do_entire_file(Chip_Context* context);
  // The whole compilation of the manual path.
  t_CPBOOL do_normal(const std::string& filename, FILE* fd, const char* code);
  // output becomes the compiler's output, its context (null with it) held
  // in place of the previous output's.
  void hold_output(Chip_Context* context, Chip_VM_Code* output);

  Chip_Env* env;
  Chip_Emitter* emitter;
  Chip_VM_Code* code;
  t_CPBOOL auto_depend;

  // The context of `code`, held until the next successful go or shutdown.
  Chip_Context* output_context;
  // The syntax records made while initialising, freed at shutdown.
  a_Pool init_pool;
  // The module records the built-in modules registered through (referenced).
  std::vector<Chip_DLL*> dlls;
};

// Puts the host's query function into the place of the module `name` in the
// load order ("VCR", "VXIgn"); a null query empties it again. FALSE when the
// order has no host place of that name. Call it before initialize().
t_CPBOOL chip_provide_module(const char* name, f_ck_query query);

// Loads one built-in module: binds and runs its query, then imports what it
// recorded into the namespace nspc. FALSE with "[chip]: internal error
// loading module '%s.%s'...".
t_CPBOOL load_module(Chip_Compiler* compiler, Chip_Env* env, f_ck_query query,
                     const char* name, const char* nspc);
// Loads every built-in module, in order, into the global namespace.
t_CPBOOL load_internal_modules(Chip_Compiler* compiler);

// The steps every compilation shares, for the compiler and for tools that
// take a source only part of the way (checking without code):
// Parses a source (as go) and makes and loads a context for its tree (the
// context owns the tree; g_program is cleared); null after the parser's
// message. The environment holds the context until chip_finish_compile
// unloads it: a caller that wants it longer holds it itself.
Chip_Context* chip_parse_and_load(Chip_Env* env, const std::string& filename, FILE* fd,
                                  const char* code);
// Scan passes 0, 1 and 2 and the type check on a loaded context; FALSE at
// the first failure.
t_CPBOOL chip_check_passes(Chip_Env* env, Chip_Context* context);
// Ends a compilation: the names the file added to the global namespace are
// committed (ok) or rolled back, each dropped entry released; then the
// context is unloaded, which frees it unless something holds it. A
// committed file that entered global names is kept for good, any other
// committed file is kept by the objects of its classes from now on (and by
// the shreds of its code). The result is ok, or FALSE when unloading fails.
t_CPBOOL chip_finish_compile(Chip_Env* env, t_CPBOOL ok);

#endif
