// Whole-program type checking for tests.
//
// check_program runs one source through the compiler's front half as the
// compiler driver does: parse, make and load a context (after returning the
// environment to the global namespace), scan passes 0, 1 and 2, the type
// check of the context; then it commits the global namespace when every pass
// succeeded, or rolls back (releasing the dropped entries) when one failed,
// and unloads the context. It returns whether the program checked and the
// lines the engine printed meanwhile.
//
// The environment is process-wide. check_program starts one on first use
// (type_engine_init(44100)) and keeps it, so public classes committed by one
// call are visible to the next. A test that must start from a clean slate
// uses the TypeCheckTest fixture (or fresh_type_env/shutdown_type_env):
// SetUp shuts down whatever environment exists and starts a new one,
// TearDown shuts it down.
//
// Syntax trees belong to their contexts: a checked file without a public
// class goes, tree and all, once nothing holds it; one with a public class
// stays with the environment. The pipeline holds the context of the last
// check (passed or failed) until the next check, so that its tree and
// records can be inspected.
#ifndef TESTS_CHIP_TYPE_CHECK_SUPPORT_H
#define TESTS_CHIP_TYPE_CHECK_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_def.h"

struct CheckResult {
  bool ok;
  std::vector<std::string> lines;
};

// Sample rate of the environments the pipeline starts.
enum { TEST_SRATE = 44100 };

// The environment, started on first use.
Chip_Env* type_env();
// Shuts down the environment, if any, and starts a new one.
Chip_Env* fresh_type_env(t_CPUINT srate = TEST_SRATE);
// Shuts down the environment, if any.
void shutdown_type_env();

// Parses and type-checks one source (see above).
CheckResult check_program(const std::string& source, const std::string& filename = "test.chip");
// The tree of the last check_program that parsed, or null.
a_Program checked_program();

// A fresh environment per test, shut down afterwards; the log level and
// indentation are restored.
class TypeCheckTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Chip_Env* env = nullptr;

 private:
  int savedLevel = 0;
};

#endif
