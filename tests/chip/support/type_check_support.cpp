#include "type_check_support.h"

#include "chip/driver/chip_compile.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

namespace {

// Trees of the programs compiled in the current environment.
std::vector<a_Program>& kept_trees() {
  static std::vector<a_Program> trees;
  return trees;
}

// One file through the compiler driver's front half: parse, context, scan
// passes, check, then commit or roll back and unload.
bool compile(const std::string& source, const std::string& filename) {
  Chip_Env* env = type_env();
  Chip_Context* context =
      chip_parse_and_load(env, filename, nullptr, source.c_str(), &kept_trees());
  if (!context) return false;
  bool ok = chip_check_passes(env, context);
  if (ok) context->progress = 2;
  return chip_finish_compile(env, ok);
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
