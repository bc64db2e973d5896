// The machine's quick operations against the scripts that run them: every
// operation of the lists, single and fused, must be reached in the decoded
// code of decoded_loops.chip or fused_loops.chip (entries inside a fused
// run are not), whose printed lines their own script tests compare, so
// that a handler that does the wrong thing (two handlers swapped, a body
// under the wrong label, a fused run that differs from its instructions)
// changes what a script prints.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "chip/front/chip_absyn.h"
#include "chip/lib/ulib_math.h"
#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm_code.h"
#include "chip/vm/chip_vm_exec.h"
#include "chip_program_support.h"
#include "emit_test_support.h"

namespace {

class VMExecTest : public EmitProgramTest {
 protected:
  VMExecTest() : EmitProgramTest("decoded_loops.chip") {}

  // The script takes its NaN from Math, imported as the driver imports it.
  void SetUp() override {
    EmitProgramTest::SetUp();
    ASSERT_TRUE(math.load(libmath_query));
    ASSERT_TRUE(type_engine_add_dll(env, &math, ""));
    env->global()->commit();
  }

  // A script beside this file.
  static std::string script_source(const std::string& name) {
    const std::string path = std::string(FLUVANE_TESTS_DIR) + "/chip/vm/" + name;
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The operations the file's code and its functions' codes decode to.
  std::set<int> decoded_ops(Chip_VM_Code* file) {
    std::vector<Chip_VM_Code*> codes{file};
    for (a_Program p = context ? context->parse_tree : nullptr; p; p = p->next) {
      a_Section section = p->section;
      if (section->s_type == ae_section_func) codes.push_back(section->func_def->cp_func->code);
      if (section->s_type != ae_section_class) continue;
      for (a_Class_Body body = section->class_def->body; body; body = body->next) {
        if (body->section->s_type == ae_section_func) {
          codes.push_back(body->section->func_def->cp_func->code);
        }
      }
    }
    // The entries the loop reaches: a fused run's first, never the others.
    std::set<int> ops;
    for (Chip_VM_Code* code : codes) {
      const Chip_Decoded* decoded = chip_decoded(code);
      for (t_CPUINT i = 0; i < code->num_instr; i += decoded[i].span) ops.insert(decoded[i].op);
    }
    return ops;
  }

  Chip_DLL math{"Math"};
};

TEST_F(VMExecTest, TheDecodedLoopsScriptsRunEveryOperationOfTheLists) {
  std::set<int> ops;
  for (const char* name : {"decoded_loops.chip", "fused_loops.chip"}) {
    const std::string source = script_source(name);
    ASSERT_FALSE(source.empty()) << name << " not found";
    Lines errors;
    Chip_VM_Code* file = compile(source, &errors);
    ASSERT_NE(file, nullptr) << name << ": " << (errors.empty() ? "" : errors[0]);
    const std::set<int> seen = decoded_ops(file);
    ops.insert(seen.begin(), seen.end());
  }
#define CHIP_VM_OP_SEEN(op, instr_class, operand) \
  EXPECT_TRUE(ops.count(CHIP_OP_##op)) << "no script runs " #op;
  CHIP_VM_OPS(CHIP_VM_OP_SEEN)
#undef CHIP_VM_OP_SEEN
#define CHIP_VM_FUSED_SEEN(op, span, first, matcher) \
  EXPECT_TRUE(ops.count(CHIP_OP_##op)) << "no script runs " #op;
  CHIP_VM_FUSED(CHIP_VM_FUSED_SEEN)
#undef CHIP_VM_FUSED_SEEN
  EXPECT_TRUE(ops.count(CHIP_OP_EXECUTE));
}

// A run of instructions is fused only where no jump lands inside it: a
// jump to its first instruction runs it whole, one to a later instruction
// must find that instruction's own operation.
TEST(VMExecFusing, NoRunIsFusedThatAJumpEntersInTheMiddle) {
  struct Case {
    t_CPUWORD jump_to;
    Chip_Op first;
  };
  for (const Case c : {Case{0, CHIP_OP_STORE_MEM}, Case{1, CHIP_OP_PUSH_MEM_ADDR},
                       Case{2, CHIP_OP_PUSH_MEM_ADDR}, Case{3, CHIP_OP_STORE_MEM}}) {
    Chip_VM_Code code;
    code.num_instr = 5;
    code.instr = new Chip_Instr* [5] {
      new Chip_Instr_Reg_Push_Mem_Addr(8, 0), new Chip_Instr_Assign_Primitive,
          new Chip_Instr_Reg_Pop_Word, new Chip_Instr_Goto(c.jump_to), new Chip_Instr_EOC
    };
    const Chip_Decoded* decoded = chip_decoded(&code);
    EXPECT_EQ(decoded[0].op, c.first) << "jump to " << c.jump_to;
    EXPECT_EQ(decoded[1].op, CHIP_OP_ASSIGN) << "jump to " << c.jump_to;
  }
}

}  // namespace
