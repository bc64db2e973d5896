// The compiler driver: environment, emitter, built-in modules, and the
// passes of one compilation with commit or roll-back.
#include "chip/driver/chip_compile.h"

#include <cstring>

#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/lib/uana_extract.h"
#include "chip/lib/uana_xform.h"
#include "chip/lib/ugen_filter.h"
#include "chip/lib/ugen_osc.h"
#include "chip/lib/ugen_srate.h"
#include "chip/lib/ugen_xxx.h"
#include "chip/lib/ulib_machine.h"
#include "chip/lib/ulib_math.h"
#include "chip/lib/ulib_opsc.h"
#include "chip/lib/ulib_std.h"
#include "chip/otf/chip_otf.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_import.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_lang_uana.h"
#include "chip/vm/chip_vm.h"

namespace {

// TRUE when names were pending, and so have now entered the namespace.
bool commit_global(Chip_Env* env) {
  Chip_Namespace* global = env->global();
  EM_log(CP_LOG_FINER, "committing namespace: '%s'...", global->name.c_str());
  const bool entered = !global->type.pending().empty() || !global->value.pending().empty() ||
                       !global->func.pending().empty();
  global->commit();
  return entered;
}

// The names held for commit are dropped, and each dropped entry released.
void rollback_global(Chip_Env* env) {
  Chip_Namespace* global = env->global();
  EM_log(CP_LOG_FINER, "rolling back namespace: '%s'...", global->name.c_str());
  std::vector<Chip_VM_Object*> dropped = global->type.pending();
  for (Chip_VM_Object* obj : global->value.pending()) dropped.push_back(obj);
  for (Chip_VM_Object* obj : global->func.pending()) dropped.push_back(obj);
  global->rollback();
  for (Chip_VM_Object* obj : dropped) {
    if (obj) obj->release();
  }
}

}  // namespace

Chip_Context* chip_parse_and_load(Chip_Env* env, const std::string& filename, FILE* fd,
                                  const char* code) {
  if (!chip_parse(filename.c_str(), fd, code)) return nullptr;
  // The context owns the tree from here: g_program must not outlive it.
  a_Program tree = g_program;
  g_program = nullptr;
  Chip_Context* context = type_engine_make_context(tree, filename);
  if (!context) {
    delete_program(tree);
    return nullptr;
  }
  env->reset();
  type_engine_load_context(env, context);
  return context;
}

t_CPBOOL chip_check_passes(Chip_Env* env, Chip_Context* context) {
  a_Program prog = context->parse_tree;
  return type_engine_scan0_prog(env, prog, te_do_all) &&
         type_engine_scan1_prog(env, prog, te_do_all) &&
         type_engine_scan2_prog(env, prog, te_do_all) &&
         type_engine_check_context(env, context, te_do_all);
}

t_CPBOOL chip_finish_compile(Chip_Env* env, t_CPBOOL ok) {
  Chip_Context* context = env->context;
  if (ok) {
    // Later files are compiled against what entered the global namespace.
    if (commit_global(env)) {
      context->keep_for_good();
    } else {
      context->keep_while_used();
    }
  } else {
    rollback_global(env);
  }
  if (!type_engine_unload_context(env)) {
    EM_error2(0, "internal error unloading context...\n");
    return FALSE;
  }
  // Back at the global namespace, with nothing left open that could still
  // point into a context just freed.
  if (env->contexts.empty()) env->reset();
  return ok;
}

Chip_Compiler::Chip_Compiler()
    : env(nullptr),
      emitter(nullptr),
      code(nullptr),
      auto_depend(FALSE),
      output_context(nullptr),
      init_pool(nullptr) {}

Chip_Compiler::~Chip_Compiler() { shutdown(); }

t_CPBOOL Chip_Compiler::initialize(Chip_VM* vm) {
  EM_log(CP_LOG_SYSTEM, "initializing compiler...");
  EM_pushlog();
  if (!init_pool) init_pool = new_pool();
  a_Pool previous = set_current_pool(init_pool);
  env = type_engine_init(vm ? vm->srate() : 44100);
  if (env) env->add_ref();
  emitter = env ? emit_engine_init(env) : nullptr;
  if (emitter) emitter->add_ref();
  auto_depend = FALSE;

  t_CPBOOL ok = env && emitter && load_internal_modules(this);
  set_current_pool(previous);
  if (!ok) shutdown();
  EM_poplog();
  return ok;
}

void Chip_Compiler::shutdown() {
  if (!env && !emitter && !output_context && dlls.empty() && !init_pool) return;
  EM_log(CP_LOG_SYSTEM, "shutting down compiler...");
  EM_pushlog();
  hold_output(nullptr, nullptr);
  // Drops the compiler's reference: the emitter goes with it.
  if (emitter) emit_engine_shutdown(emitter);
  if (env) {
    // The environment is deleted by its shutdown, whatever its count, with
    // the contexts still alive.
    type_engine_shutdown(env);
  }
  for (Chip_DLL* dll : dlls) dll->release();
  dlls.clear();
  if (init_pool) delete_pool(init_pool);
  init_pool = nullptr;
  env = nullptr;
  emitter = nullptr;
  code = nullptr;
  auto_depend = FALSE;
  EM_poplog();
}

void Chip_Compiler::set_auto_depend(t_CPBOOL v) {
  EM_log(CP_LOG_SYSTEM, "type dependency resolution: %s", v ? "AUTO" : "MANUAL");
  auto_depend = v;
}

void Chip_Compiler::hold_output(Chip_Context* context, Chip_VM_Code* output) {
  if (context) context->add_ref();
  // The previous output's context goes now unless a shred or an object
  // holds it.
  Chip_Context* previous = output_context;
  output_context = context;
  code = output;
  if (previous) previous->release();
}

t_CPBOOL Chip_Compiler::go(const std::string& filename, FILE* fd, const char* source) {
  if (!env) return FALSE;
  if (!auto_depend) return do_normal(filename, fd, source);

  Chip_Context* context = chip_parse_and_load(env, filename, fd, source);
  if (!context) return FALSE;
  t_CPBOOL ok = do_entire_file(context);
  if (ok && !context->code()) {
    EM_error2(0, "internal error: context->code() NULL!");
    ok = FALSE;
  }
  if (ok) hold_output(context, context->code());
  return chip_finish_compile(env, ok);
}

t_CPBOOL Chip_Compiler::do_entire_file(Chip_Context* context) {
  if (!chip_check_passes(env, context)) return FALSE;
  if (!emit_engine_emit_prog(emitter, context->parse_tree, te_do_all)) return FALSE;
  context->progress = 2;
  return TRUE;
}

t_CPBOOL Chip_Compiler::do_normal(const std::string& filename, FILE* fd, const char* source) {
  Chip_Context* context = chip_parse_and_load(env, filename, fd, source);
  if (!context) return FALSE;
  t_CPBOOL ok = chip_check_passes(env, context);
  if (ok) {
    Chip_VM_Code* emitted = emit_engine_emit_prog(emitter, context->parse_tree, te_do_all);
    if (emitted) {
      hold_output(context, emitted);
      context->progress = 2;
    } else {
      ok = FALSE;
    }
  }
  return chip_finish_compile(env, ok);
}

// ---------------------------------------------------------------------------
// Built-in modules

t_CPBOOL load_module(Chip_Compiler* compiler, Chip_Env* env, f_ck_query query, const char* name,
                     const char* nspc) {
  Chip_DLL* dll = new Chip_DLL(name ? name : "");
  dll->add_ref();
  compiler->dlls.push_back(dll);
  t_CPBOOL query_failed = FALSE;
  t_CPBOOL ok = dll->load(query);
  if (ok && !dll->query()) {
    query_failed = TRUE;
    ok = FALSE;
  }
  // The global namespace is the environment's own; any other is found by name.
  std::string dest = nspc && std::string(nspc) != "global" ? nspc : "";
  if (ok) ok = type_engine_add_dll(env, dll, dest);
  if (!ok) {
    EM_printf("[chip]: internal error loading module '%s.%s'...\n", nspc, dll->name());
    if (query_failed) EM_printf("       %s\n", dll->last_error());
  }
  return ok;
}

namespace {

// The on-the-fly processing compiles through this entry.
t_CPBOOL compile_for_otf(Chip_Compiler* compiler, const std::string& filename, FILE* fd,
                         const char* text, Chip_VM_Code** code) {
  if (!compiler || !compiler->go(filename, fd, text)) return FALSE;
  *code = compiler->output();
  return *code != nullptr;
}

// The Machine class adds and replaces shreds through the on-the-fly
// processing, which compiles with this compiler.
void machine_loaded(Chip_Compiler* compiler) {
  otf_set_compile(compile_for_otf);
  machine_init(compiler, otf_process_msg);
}

// One built-in module in the load order: the log line announcing it, its
// name, its query, whether a failure stops the start (the unit-generator
// modules are optional; the library classes are not), and what to do once
// it loaded. A null query marks a place the host fills
// (chip_provide_module).
struct Chip_Builtin_Module {
  const char* log_line;
  const char* name;
  f_ck_query query;
  bool required;
  void (*loaded)(Chip_Compiler* compiler) = nullptr;
};

// The load order. The sample-rate converter's module loads after the
// recorder's place; like the unit-generator modules its failure is ignored.
const Chip_Builtin_Module k_builtin_modules[] = {
    // -- unit-generator modules (a failure is ignored) --
    {"module osc...", "osc", osc_query, false},
    {"module xxx...", "xxx", xxx_query, false},
    {"module filter...", "filter", filter_query, false},
    {"module SYN...", "syn", syn_query, false},
    {"module xform...", "xform", xform_query, false},
    {"module extract...", "extract", extract_query, false},
    // -- library classes (a failure rolls back) --
    {"class 'machine'...", "Machine", machine_query, true, machine_loaded},
    {"class 'std'...", "Std", libstd_query, true},
    {"class 'math'...", "Math", libmath_query, true},
    {"class 'opsc'...", "opsc", opensoundcontrol_query, true},
    // -- the host's modules: the recorder and the integration class --
    {"class 'VCR'...", "VCR", nullptr, true},
    {"module srate...", "srate", srate_query, false},
    {"class 'VXIgn'...", "VXIgn", nullptr, true},
};
constexpr size_t k_builtin_count = sizeof k_builtin_modules / sizeof k_builtin_modules[0];

// The queries the host provided, by place in k_builtin_modules.
f_ck_query g_host_queries[k_builtin_count] = {};

}  // namespace

t_CPBOOL chip_provide_module(const char* name, f_ck_query query) {
  for (size_t i = 0; i < k_builtin_count; i++) {
    const Chip_Builtin_Module& place = k_builtin_modules[i];
    if (place.query || !name || std::strcmp(place.name, name) != 0) continue;
    g_host_queries[i] = query;
    return TRUE;
  }
  return FALSE;
}

t_CPBOOL load_internal_modules(Chip_Compiler* compiler) {
  Chip_Env* env = compiler->env;
  EM_log(CP_LOG_SEVERE, "loading built-in modules...");
  EM_pushlog();

  // The modules' records stay as long as the environment: their classes
  // are global.
  Chip_Context* context = type_engine_make_context(nullptr, "@[internal]");
  context->keep_for_good();
  env->reset();
  type_engine_load_context(env, context);
  // The classes' functions enter when a program first reaches them
  // (chip_import.h): a program pays only for the classes it uses.
  env->defer_imports = TRUE;

  t_CPBOOL ok = TRUE;
  for (size_t i = 0; i < k_builtin_count; i++) {
    const Chip_Builtin_Module& module = k_builtin_modules[i];
    f_ck_query query = module.query ? module.query : g_host_queries[i];
    if (!query) continue;  // a host place left empty
    EM_log(CP_LOG_SEVERE, "%s", module.log_line);
    if (!load_module(compiler, env, query, module.name, "global")) {
      if (!module.required) continue;
      ok = FALSE;
      break;
    }
    if (module.loaded) module.loaded(compiler);
  }
  if (ok) ok = init_class_HID(env);
  env->defer_imports = FALSE;

  if (ok) {
    type_engine_unload_context(env);
    commit_global(env);
  } else {
    rollback_global(env);
    type_engine_unload_context(env);
  }
  EM_poplog();
  return ok;
}
