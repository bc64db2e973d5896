// Programs compiled as the compiler driver does (front half, code generator,
// commit or rollback) and run on a machine, for the code generator's tests.
#ifndef TESTS_CHIP_EMIT_TEST_SUPPORT_H
#define TESTS_CHIP_EMIT_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "chip/driver/chip_compile.h"
#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "log_capture.h"
#include "vm_test_support.h"

class EmitProgramTest : public vmtest::VMTest {
 protected:
  typedef std::vector<std::string> Lines;

  // file: the name compiled programs carry in messages.
  explicit EmitProgramTest(std::string file) : file_(std::move(file)) {}

  void SetUp() override {
    VMTest::SetUp();
    emitter = emit_engine_init(env);
    emitter->add_ref();
  }

  void TearDown() override {
    emit_engine_shutdown(emitter);
    // Shreds still running hold their own contexts.
    for (Chip_Context* held : contexts) held->release();
    contexts.clear();
    VMTest::TearDown();
  }

  // The file's code (its context held by the test until TearDown) or null,
  // and what the compilation printed in *lines.
  Chip_VM_Code* compile(const std::string& source, Lines* lines = nullptr) {
    Chip_VM_Code* result = nullptr;
    Lines printed = printed_lines([&] { result = passes(source); });
    if (lines) *lines = printed;
    return result;
  }

  // "Name(params)" of each instruction, without the "Chip_Instr_" prefix.
  static Lines shape(Chip_VM_Code* code) {
    Lines out;
    for (t_CPUINT i = 0; code && i < code->num_instr; i++) {
      std::string name = code->instr[i]->name();
      if (name.rfind("Chip_Instr_", 0) == 0) name = name.substr(11);
      std::string params = code->instr[i]->params();
      out.push_back(params.empty() ? name : name + "(" + params + ")");
    }
    return out;
  }

  // Compiles and runs source until every shred has ended; what it printed.
  Lines run(const std::string& source) {
    if (!vm) vm = make_vm();
    Lines errors;
    Chip_VM_Code* code = compile(source, &errors);
    EXPECT_NE(code, nullptr) << source << "\n" << (errors.empty() ? "" : errors[0]);
    if (!code) return {};
    return printed_lines([&] {
      vm->spork(code, nullptr);
      for (int pass = 0; pass < 1000 && vm->num_shreds() > 0; pass++) vm->run(16);
    });
  }

  Chip_Emitter* emitter = nullptr;
  Chip_Context* context = nullptr;  // of the last compilation (held)
  Chip_VM* vm = nullptr;
  // Every context compiled, failed ones too, held until TearDown.
  std::vector<Chip_Context*> contexts;

 private:
  Chip_VM_Code* passes(const std::string& source) {
    context = chip_parse_and_load(env, file_, nullptr, source.c_str());
    if (!context) return nullptr;
    context->add_ref();
    contexts.push_back(context);
    Chip_VM_Code* code = nullptr;
    if (chip_check_passes(env, context)) {
      code = emit_engine_emit_prog(emitter, context->parse_tree, te_do_all);
    }
    chip_finish_compile(env, code != nullptr);
    return code;
  }

  std::string file_;
};

#endif
