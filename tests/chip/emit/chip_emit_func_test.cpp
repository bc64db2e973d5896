// Function and class definitions through the emitter: the codes, frames and
// static data it makes, and programs that call what it made, run on a
// machine with audio off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "emit_test_support.h"
#include "log_capture.h"
#include "vm_test_support.h"

namespace {

class EmitFuncTest : public EmitProgramTest {
 protected:
  EmitFuncTest() : EmitProgramTest("test.chip") {}

  // Compiles, runs to the end and returns what the program printed.
  std::vector<std::string> run(const std::string& source) {
    Chip_VM_Code* code = compile(source);
    EXPECT_NE(code, nullptr) << source;
    if (!code) return {};
    // One machine per test, without audio nodes: these programs need none.
    if (!vm) vm = make_vm(TRUE, 0, FALSE);
    return printed_lines([&] {
      vm->spork(code, nullptr);
      vm->run(16000);
    });
  }

  // The function the last program defined under the written name.
  Chip_Func* func_named(const std::string& name) {
    for (a_Program p = context ? context->parse_tree : nullptr; p; p = p->next) {
      a_Section s = p->section;
      if (s->s_type == ae_section_func && name == S_name(s->func_def->name)) {
        return s->func_def->cp_func;
      }
    }
    return nullptr;
  }

  Chip_Type* type_named(const std::string& name) {
    return context ? context->nspc->lookup_type(name, 0) : nullptr;
  }

  static std::string name_of(Chip_VM_Code* code, t_CPUINT i) {
    return i < code->num_instr ? code->instr[i]->name() : "<none>";
  }
};

// ---------------------------------------------------------------------------
// Codes and frames.

TEST_F(EmitFuncTest, GlobalFunctionGetsItsOwnCodeAndASlotInTheFileCode) {
  Chip_VM_Code* file = compile(
      "fun float add(int a, float b) { return a + b; }\n"
      "add(1, 2.5);\n");
  ASSERT_NE(file, nullptr);
  Chip_Func* add = func_named("add");
  ASSERT_NE(add, nullptr);
  ASSERT_NE(add->code, nullptr);

  // The file code stores the function in the slot of its value.
  ASSERT_GT(file->num_instr, 0u);
  auto* set = dynamic_cast<Chip_Instr_Mem_Set_Imm*>(file->instr[0]);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->m_val, reinterpret_cast<t_CPUWORD>(add));
  EXPECT_EQ(set->m_offset, add->value_ref->offset);

  Chip_VM_Code* code = add->code;
  EXPECT_EQ(code->name, add->name + "( ... )");
  EXPECT_EQ(code->stack_depth, 2u * CHIP_WORD_SIZE);
  EXPECT_FALSE(code->need_this);
  a_Arg_List args = add->def->arg_list;
  EXPECT_EQ(args->var_decl->value->offset, 0u);
  EXPECT_EQ(args->next->var_decl->value->offset, static_cast<unsigned long>(CHIP_WORD_SIZE));

  // The return jumps to the final instruction, past the fall-off zero.
  const t_CPUINT last = code->num_instr - 1;
  EXPECT_EQ(name_of(code, last), "Chip_Instr_Func_Return");
  EXPECT_EQ(name_of(code, last - 1), "Chip_Instr_Reg_Push_Imm2");
  bool found_return_jump = false;
  for (t_CPUINT i = 0; i < last; i++) {
    if (auto* jump = dynamic_cast<Chip_Instr_Goto*>(code->instr[i])) {
      EXPECT_EQ(jump->get(), last);
      found_return_jump = true;
    }
  }
  EXPECT_TRUE(found_return_jump);
}

TEST_F(EmitFuncTest, MemberFunctionTakesThisFirst) {
  ASSERT_NE(compile("class Counter { int n; fun void add(int k) { k +=> n; } }\n"), nullptr);
  Chip_Type* counter = type_named("Counter");
  ASSERT_NE(counter, nullptr);
  Chip_Func* add = counter->info->lookup_value("add", 0)->func_ref;
  ASSERT_NE(add, nullptr);
  ASSERT_NE(add->code, nullptr);
  EXPECT_EQ(add->code->name, "Counter." + add->name + "( ... )");
  EXPECT_TRUE(add->code->need_this);
  EXPECT_EQ(add->code->stack_depth, 2u * CHIP_WORD_SIZE);
  EXPECT_EQ(add->def->arg_list->var_decl->value->offset, static_cast<unsigned long>(CHIP_WORD_SIZE));
  EXPECT_EQ(name_of(add->code, add->code->num_instr - 1), "Chip_Instr_Func_Return");
}

TEST_F(EmitFuncTest, ClassBodyBecomesItsPreConstructorWithStaticData) {
  ASSERT_NE(compile("class P { int x; static float s; }\nclass Q { }\n"), nullptr);
  Chip_Type* p = type_named("P");
  ASSERT_NE(p, nullptr);
  Chip_VM_Code* pre = p->info->pre_ctor;
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->name, "class P");
  EXPECT_TRUE(pre->need_this);
  EXPECT_EQ(pre->stack_depth, static_cast<t_CPUWORD>(CHIP_WORD_SIZE));
  bool allocates_member = false;
  for (t_CPUINT i = 0; i < pre->num_instr; i++) {
    allocates_member |= std::string(pre->instr[i]->name()) == "Chip_Instr_Alloc_Member_Word";
  }
  EXPECT_TRUE(allocates_member);
  EXPECT_EQ(name_of(pre, pre->num_instr - 1), "Chip_Instr_Func_Return");
  ASSERT_NE(p->info->class_data, nullptr);
  EXPECT_EQ(p->info->class_data_size, 8u);

  // No statics: an empty block all the same; an empty body still returns.
  Chip_Type* q = type_named("Q");
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q->info->class_data, nullptr);
  ASSERT_EQ(q->info->pre_ctor->num_instr, 1u);
  EXPECT_EQ(name_of(q->info->pre_ctor, 0), "Chip_Instr_Func_Return");
}

TEST_F(EmitFuncTest, NestedClassLeavesTheOuterClassCurrentAfterwards) {
  ASSERT_NE(compile("class Outer { class Inner { int i; } fun int f() { return 1; } }\n"),
            nullptr);
  Chip_Type* outer = type_named("Outer");
  ASSERT_NE(outer, nullptr);
  Chip_Type* inner = outer->info->lookup_type("Inner", 0);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->info->pre_ctor->name, "class Inner");
  // f was emitted after Inner, with Outer current again.
  Chip_Func* f = outer->info->lookup_value("f", 0)->func_ref;
  ASSERT_NE(f->code, nullptr);
  EXPECT_EQ(f->code->name.rfind("Outer.", 0), 0u);
  EXPECT_EQ(env->class_def, nullptr);
  EXPECT_EQ(env->func, nullptr);
}

TEST_F(EmitFuncTest, EmittingADefinitionTwiceIsRefused) {
  ASSERT_NE(compile("fun void once() { }\nclass C { }\n"), nullptr);
  Chip_Func* once = func_named("once");
  ASSERT_NE(once, nullptr);
  Chip_Type* c = type_named("C");
  ASSERT_NE(c, nullptr);

  // A second pass over the same definitions, inside a code of its own.
  Chip_Code scratch;
  emitter->code = &scratch;
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_FALSE(emit_engine_emit_func_def(emitter, once->def));
    EXPECT_FALSE(emit_engine_emit_class_def(emitter, c->def));
  });
  emitter->code = nullptr;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("(emit): function 'once' already emitted..."), std::string::npos);
  EXPECT_NE(lines[1].find("(emit): class 'C' already emitted..."), std::string::npos);
  EXPECT_TRUE(scratch.instructions.empty());
}

// ---------------------------------------------------------------------------
// Running what was emitted.

struct RunCase {
  const char* what;
  const char* source;
  std::vector<std::string> printed;
};

// File-level objects are let go at the end (nothing releases the file's
// locals when its shred ends).
TEST_F(EmitFuncTest, ProgramsCallWhatWasEmitted) {
  const RunCase cases[] = {
      {"arguments at their offsets", "fun float add(int a, float b) { return a + b; }\n"
                                     "<<< add(1, 2.5) >>>;\n",
       {"3.500000 :(float)"}},
      {"recursion", "fun int fact(int n) { if (n <= 1) return 1; return n * fact(n - 1); }\n"
                    "<<< fact(5) >>>;\n",
       {"120 :(int)"}},
      {"member function on this", "class C { int n; fun void add(int k) { k +=> n; } }\n"
                                  "C c; c.add(3); c.add(4); <<< c.n >>>; null @=> c;\n",
       {"7 :(int)"}},
      {"pre-constructor runs", "class D { 5 => int v; }\nD d; <<< d.v >>>; null @=> d;\n", {"5 :(int)"}},
      {"static data", "class S { static int k; }\n3 => S.k; <<< S.k >>>;\n", {"3 :(int)"}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.source), c.printed);
  }
}

// A non-void function that runs off its end returns a zero of its type, and
// the caller's register stack stays level however often it calls.
TEST_F(EmitFuncTest, FallingOffTheEndReturnsZero) {
  const RunCase cases[] = {
      {"int", "fun int f(int x) { if (x) return 7; }\n<<< f(0), f(1) >>>;\n",
       {"0 7 "}},
      {"float", "fun float f() { }\n<<< f() >>>;\n", {"0.000000 :(float)"}},
      {"complex", "fun complex f() { }\n<<< f() >>>;\n", {"#(0.0000,0.0000) :(complex)"}},
      {"stack stays level",
       "fun int f() { }\nfun float g() { }\n"
       "for (0 => int i; i < 1000; i++) { f(); g(); }\n<<< 42 >>>;\n",
       {"42 :(int)"}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.source), c.printed);
  }
}

}  // namespace
