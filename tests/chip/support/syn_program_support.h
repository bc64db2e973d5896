// Programs that use the synthesis toolkit's language classes, compiled and
// run as the code generator's tests run theirs (emit_test_support.h).
//
// SynProgramTest loads the toolkit module at the test machines' rate
// (vmtest::SRATE), which also sets the toolkit's own rate Syn::srate; the
// rate found before the test is put back afterwards, so the toolkit's
// other tests see the rate they expect. floats() writes values as a print
// statement of several floats does, for comparing printed lines.
#ifndef TESTS_CHIP_SYN_PROGRAM_SUPPORT_H
#define TESTS_CHIP_SYN_PROGRAM_SUPPORT_H

#include <cstdio>
#include <initializer_list>
#include <string>

#include "chip/syn/syn.h"
#include "chip/syn/ugen_syn.h"
#include "emit_test_support.h"
#include "module_test_support.h"

class SynProgramTest : public EmitProgramTest {
 protected:
  // file: the name compiled programs carry in messages.
  explicit SynProgramTest(std::string file) : EmitProgramTest(std::move(file)) {}

  void SetUp() override {
    saved_rate_ = Syn::srate;
    EmitProgramTest::SetUp();
    ASSERT_TRUE(load_test_module(env, syn_query, vmtest::SRATE));
  }

  void TearDown() override {
    EmitProgramTest::TearDown();
    Syn::srate = saved_rate_;
  }

 private:
  float saved_rate_ = 44100.0f;
};

// "%f " of each value, as a print statement of several values writes them.
inline std::string floats(std::initializer_list<double> values) {
  std::string line;
  char text[64];
  for (double v : values) {
    std::snprintf(text, sizeof text, "%f ", v);
    line += text;
  }
  return line;
}

#endif
