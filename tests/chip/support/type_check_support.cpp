#include "type_check_support.h"

#include "chip/driver/chip_compile.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

namespace {

// The context of the last check, held so that its tree and records can be
// inspected until the next check or the end of the environment.
Chip_Context*& last_context() {
  static Chip_Context* context = nullptr;
  return context;
}

void release_last_context() {
  if (last_context()) last_context()->release();
  last_context() = nullptr;
}

// One file through the compiler driver's front half: parse, context, scan
// passes, check, then commit or roll back and unload.
bool compile(const std::string& source, const std::string& filename) {
  Chip_Env* env = type_env();
  release_last_context();
  Chip_Context* context = chip_parse_and_load(env, filename, nullptr, source.c_str());
  if (!context) return false;
  context->add_ref();
  last_context() = context;
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
  release_last_context();
  if (Chip_Env::instance()) type_engine_shutdown(Chip_Env::instance());
}

Chip_Env* fresh_type_env(t_CPUINT srate) {
  shutdown_type_env();
  return type_engine_init(srate);
}

a_Program checked_program() { return last_context() ? last_context()->parse_tree : nullptr; }

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
