#include "type_check_support.h"

#include "chip/chip_errmsg.h"
#include "chip/chip_parse.h"
#include "chip/chip_scan.h"
#include "chip/chip_type.h"
#include "log_capture.h"

namespace {

// Trees of the programs compiled in the current environment.
std::vector<a_Program>& kept_trees() {
  static std::vector<a_Program> trees;
  return trees;
}

// Rolls the global namespace back as the compiler driver does: the names
// held for commit are dropped and each dropped entry released.
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

// The passes of one file on a loaded context, stopping at the first failure.
bool run_passes(Chip_Env* env, Chip_Context* context) {
  a_Program prog = context->parse_tree;
  return type_engine_scan0_prog(env, prog, te_do_all) &&
         type_engine_scan1_prog(env, prog, te_do_all) &&
         type_engine_scan2_prog(env, prog, te_do_all) &&
         type_engine_check_context(env, context, te_do_all);
}

bool compile(const std::string& source, const std::string& filename) {
  Chip_Env* env = type_env();
  if (!chip_parse(filename.c_str(), nullptr, source.c_str())) return false;
  a_Program tree = g_program;
  kept_trees().push_back(tree);

  Chip_Context* context = type_engine_make_context(tree, filename);
  env->reset();
  type_engine_load_context(env, context);
  bool ok = run_passes(env, context);
  if (ok) {
    context->progress = 2;
    EM_log(CP_LOG_FINER, "committing namespace: '%s'...", env->global()->name.c_str());
    env->global()->commit();
  } else {
    rollback_global(env);
  }
  if (!type_engine_unload_context(env)) {
    EM_error2(0, "internal error unloading context...\n");
    return false;
  }
  return ok;
}

}  // namespace

Chip_Env* type_env() {
  if (!Chip_Env::instance()) type_engine_init(TEST_SRATE);
  return Chip_Env::instance();
}

void shutdown_type_env() {
  if (Chip_Env::instance()) type_engine_shutdown(Chip_Env::instance());
  for (a_Program tree : kept_trees()) delete_program(tree);
  kept_trees().clear();
}

Chip_Env* fresh_type_env(t_CPUINT srate) {
  shutdown_type_env();
  return type_engine_init(srate);
}

CheckResult check_program(const std::string& source, const std::string& filename) {
  CheckResult result{false, {}};
  result.lines = printed_lines([&] { result.ok = compile(source, filename); });
  return result;
}

void TypeCheckTest::SetUp() {
  savedLevel = g_loglevel;
  g_logstack = 0;
  env = fresh_type_env();
}

void TypeCheckTest::TearDown() {
  shutdown_type_env();
  env = nullptr;
  g_loglevel = savedLevel;
  g_logstack = 0;
}
