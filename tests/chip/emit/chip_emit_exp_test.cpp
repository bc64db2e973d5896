// Emission of expressions: the instructions names, literals, declarations,
// member access, indexing, calls, spork, the prefix and postfix operators,
// durations and the print statement produce, and what compiled programs do
// when they run.
//
// Programs go through the compiler's real passes (parse, scan, type check,
// emit) in the test's own environment; their code is inspected instruction
// by instruction, and run on a machine with audio off where the behaviour
// matters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_import.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm.h"
#include "emit_test_support.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<std::string> Lines;

class EmitExpTest : public EmitProgramTest {
 protected:
  EmitExpTest() : EmitProgramTest("exp.chip") {}

  // The names alone.
  static Lines names(Chip_VM_Code* code) {
    Lines out;
    for (const std::string& line : shape(code)) out.push_back(line.substr(0, line.find('(')));
    return out;
  }
};

// Whether `part` appears in `whole` as consecutive entries.
bool contains(const Lines& whole, const Lines& part) {
  for (size_t i = 0; i + part.size() <= whole.size(); i++) {
    if (Lines(whole.begin() + i, whole.begin() + i + part.size()) == part) return true;
  }
  return false;
}

TEST_F(EmitExpTest, NamesKeywordsAndLiteralsPushTheirValues) {
  struct Case {
    const char* source;
    Lines expected;  // consecutive instructions of the file's code
  } cases[] = {
      {"pi;", {"Reg_Push_Imm2(3.141593)", "Reg_Pop_Word2"}},
      {"true; false;", {"Reg_Push_Imm(1)", "Reg_Pop_Word", "Reg_Push_Imm(0)"}},
      {"now;", {"Reg_Push_Now", "Reg_Pop_Word2"}},
      {"me;", {"Reg_Push_Me"}},
      {"maybe;", {"Reg_Push_Maybe(0)"}},
      {"null;", {"Reg_Push_Imm(0)"}},
      {"dac; adc; blackhole;", {"DAC", "Reg_Pop_Word", "ADC", "Reg_Pop_Word", "Bunghole"}},
      {"-7;", {"Reg_Push_Imm(7)", "Negate_int"}},
      {"2.5;", {"Reg_Push_Imm2(2.500000)"}},
      // The dur constants are folded in at compile time.
      {"samp;", {"Reg_Push_Imm2(1.000000)", "Reg_Pop_Word2"}},
      {"#(1.0, 2.0);", {"Reg_Push_Imm2(1.000000)", "Reg_Push_Imm2(2.000000)", "Reg_Pop_Word3(2)"}},
      {"[1, 2, 3];", {"Reg_Push_Imm(3)", "Array_Init(int[3])"}},
  };
  for (const Case& c : cases) {
    Lines got = shape(compile(c.source));
    EXPECT_TRUE(contains(got, c.expected)) << c.source << "\n" << ::testing::PrintToString(got);
  }
}

TEST_F(EmitExpTest, DeclarationsInstantiateAllocateAndAssign) {
  struct Case {
    const char* source;
    Lines expected;
  } cases[] = {
      {"Event e;", {"Instantiate_Object", "Pre_Constructor", "Alloc_Word", "Assign_Object"}},
      {"Event @ e;", {"Alloc_Word", "Reg_Pop_Word3", "EOC"}},
      {"int a[4];", {"Reg_Push_Imm", "Array_Alloc", "Alloc_Word", "Assign_Object"}},
      {"float f;", {"Alloc_Word2", "Reg_Pop_Word3", "EOC"}},
      // An assignment target leaves its address: the string is made by the
      // assignment.
      {"\"a\" => string s;", {"Reg_Push_Imm", "Alloc_Word", "Assign_String"}},
      {"complex c;", {"Alloc_Word4", "Reg_Pop_Word3", "EOC"}},
      {"class P { int x; } P ps[2];",
       {"Pre_Constructor", "Pre_Ctor_Array_Bottom", "Pre_Ctor_Array_Post", "Alloc_Word",
        "Assign_Object"}},
      {"class P { int x; } P ps[2];", {"Array_Alloc", "Pre_Ctor_Array_Top"}},
  };
  for (const Case& c : cases) {
    Lines got = names(compile(c.source));
    EXPECT_TRUE(contains(got, c.expected)) << c.source << "\n" << ::testing::PrintToString(got);
  }
  // `Event @ e` makes no object.
  Lines ref = names(compile("Event @ e;"));
  EXPECT_FALSE(contains(ref, {"Instantiate_Object"}));
}

TEST_F(EmitExpTest, IndexingDurationsAndSporkChooseTheirInstructions) {
  struct Case {
    const char* source;
    Lines expected;
    Lines absent;
  } cases[] = {
      {"int m[2][2]; m[1][0];", {"Array_Access_Multi(depth=2, size=4, emit_addr=0)"}, {}},
      {"int m[2]; m[\"key\"];", {"Array_Map_Access(size=4, emit_addr=0)"}, {}},
      {"float a[3]; a[1];", {"Array_Access(size=8, emit_addr=0 istr=0)"}, {}},
      {"float a[3]; 1.0 => a[1];", {"Array_Access(size=8, emit_addr=1 istr=0)"}, {}},
      {"2::second;", {"Cast_int2double", "Reg_Push_Imm2(44100.000000)", "Times_double"}, {}},
      {"2.5::second;", {"Reg_Push_Imm2(2.500000)", "Reg_Push_Imm2(44100.000000)", "Times_double"},
       {"Cast_int2double"}},
      // Two 8-byte words of arguments.
      {"fun void f(int a, float b) {} spork ~ f(1, 2.0);", {"Spork(16)"}, {}},
      {"0 => int i; i++; i--; ++i; --i;",
       {"Reg_Push_Mem_Addr(src=0, base=1)", "PostInc_int"}, {}},
  };
  for (const Case& c : cases) {
    Lines got = shape(compile(c.source));
    EXPECT_TRUE(contains(got, c.expected)) << c.source << "\n" << ::testing::PrintToString(got);
    for (const std::string& a : c.absent) {
      EXPECT_FALSE(contains(got, {a})) << c.source << "\n" << ::testing::PrintToString(got);
    }
  }
}

TEST_F(EmitExpTest, AMemberNamedBareIsReadThroughThis) {
  Chip_VM_Code* code = compile("public class C { 5 => int x; fun int get() { return x; } }");
  ASSERT_NE(code, nullptr);
  Chip_Type* c = env->global()->lookup_type("C");
  ASSERT_NE(c, nullptr);
  Chip_Value* get = type_engine_find_value(c, c->info->lookup_func("get")->name);
  ASSERT_NE(get, nullptr);
  Lines body = names(get->func_ref->code);
  EXPECT_TRUE(contains(body, {"Reg_Push_This", "Dot_Member_Data"})) << ::testing::PrintToString(body);
  // The class body's own `x` is a member declaration.
  EXPECT_TRUE(contains(names(c->info->pre_ctor), {"Alloc_Member_Word", "Assign_Primitive"}));
}

// What programs compute, through the whole pipeline. Nothing lets go of
// objects held by local variables when a shred ends, so each program drops
// its own.
TEST_F(EmitExpTest, ProgramsComputeWhatTheirExpressionsSay) {
  struct Case {
    const char* source;
    const char* printed;  // the last line printed
  } cases[] = {
      {"<<< 1 ? 2 : 3 >>>;", "2 :(int)"},
      {"<<< 0 ? 2 : 3 >>>;", "3 :(int)"},
      {"3 => int i; <<< i++ + ++i >>>;", "8 :(int)"},
      {"3 => int i; i--; --i; <<< i >>>;", "1 :(int)"},
      {"<<< ~5, !0, -2.5 >>>;", "-6 1 -2.500000 "},
      {"<<< (2.9 $ int) >>>;", "2 :(int)"},
      {"#(1.0, 2.0) => complex c; 3.0 => c.re; <<< c.re, c.im >>>;", "3.000000 2.000000 "},
      {"%(2.0, 0.5) => polar p; <<< p.mag >>>;", "2.000000 :(float)"},
      {"<<< (2::samp) / samp >>>;", "2.000000 :(float)"},
      {"[[1, 2], [3, 4]] @=> int m[][]; <<< m[1][0], m[0][1] >>>; null @=> m;", "3 2 "},
      {"int a[0]; a << 5 << 6; <<< a[1], a.size() >>>; null @=> a;", "6 2 "},
      {"int map[0]; 7 => map[\"k\"]; <<< map[\"k\"] >>>; null @=> map;", "7 :(int)"},
      {"class C { int x; fun void set(int v) { v => x; } fun int get() { return x; } }"
       " C c; c.set(4); <<< c.get(), c.x >>>; null @=> c;",
       "4 4 "},
      {"class S { static int n; fun static int twice(int v) { return 2 * v; } }"
       " 3 => S.n; <<< S.n, S.twice(S.n) >>>;",
       "3 6 "},
      {"class B { 1 => int b; } class D extends B { b + 1 => int d; } D x; <<< x.b, x.d >>>; null @=> x;",
       "1 2 "},
      {"fun int add(int a, int b) { return a + b; } <<< add(2, 3) >>>;", "5 :(int)"},
      {"fun float half(float f) { return f / 2; } <<< half(3) >>>;", "1.500000 :(float)"},
      // A native member function.
      {"\"abcd\" => string s; <<< s.length() >>>; null => s;", "4 :(int)"},
      {"fun void hi(string s, int n) { <<< s, n >>>; } spork ~ hi(\"child\", 2); me.yield();",
       "child 2 "},
      {"new Event @=> Event e; <<< e != null >>>; null @=> e;", "1 :(int)"},
      // A sporked member function gets its object as `this`; a static
      // member named bare inside the class.
      {"class K { static int count; int id; fun void hi(int n) { count++; <<< id, n, count >>>; } }"
       " K k; 7 => k.id; spork ~ k.hi(3); me.yield(); k.hi(4); null @=> k;",
       "7 4 2 "},
      {"fun int fact(int n) { return n <= 1 ? 1 : n * fact(n - 1); } <<< fact(5) >>>;",
       "120 :(int)"},
      {"int mm[2][3]; 6 => mm[1][2]; complex cs[2]; #(1, 2) => cs[1]; <<< mm[1][2], cs[1].im >>>;"
       " null @=> mm; null @=> cs;",
       "6 2.000000 "},
  };
  for (const Case& c : cases) {
    Lines out = run(c.source);
    ASSERT_FALSE(out.empty()) << c.source;
    EXPECT_EQ(out.back(), c.printed) << c.source;
  }
}

void tripled(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  RETURN->v_int = 3 * GET_NEXT_INT(cursor);
}

t_CPWORD g_limit = 11;

t_CPBOOL tool_query(Chip_DL_Query* q) {
  q->setname(q, "tools");
  q->begin_class(q, "Tool", "");
  q->add_sfun(q, tripled, "int", "tripled");
  q->add_arg(q, "int", "n");
  q->add_svar(q, "int", "LIMIT", FALSE, &g_limit);
  q->end_class(q);
  return TRUE;
}

// A native static function is called in place; an imported static variable
// is read and written where the module keeps it.
TEST_F(EmitExpTest, ImportedStaticsAreReachedThroughTheirClass) {
  Chip_DLL dll("tools");
  ASSERT_TRUE(dll.load(tool_query));
  ASSERT_TRUE(type_engine_add_dll(env, &dll, ""));
  env->global()->commit();
  g_limit = 11;
  Lines out = run("<<< Tool.tripled(4), Tool.LIMIT >>>; 12 => Tool.LIMIT;");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "12 11 ");
  EXPECT_EQ(g_limit, 12);
  Lines got = names(context->code());
  EXPECT_TRUE(contains(got, {"Dot_Static_Func", "Func_To_Code", "Reg_Push_Imm", "Func_Call_Static"}))
      << ::testing::PrintToString(got);
  EXPECT_TRUE(contains(got, {"Dot_Static_Import_Data"}));
}

// A string literal is one object that its code holds; assignment copies the
// text, so neither a callee nor `null =>` can change or free it.
TEST_F(EmitExpTest, AStringLiteralNeverChanges) {
  struct Case {
    const char* source;
    Lines printed;
  } cases[] = {
      {"fun string lit() { return \"lit\"; } fun void g(string s) { \"X\" => s; null => s; }"
       " g(lit()); g(lit()); <<< lit() >>>;",
       {"\"lit\" : (string)"}},
      {"fun string lit() { return \"lit\"; } fun void h(string s) { null => s; }"
       " h(lit()); h(lit()); <<< lit() >>>;",
       {"\"lit\" : (string)"}},
      // A caller's variable is not the callee's either.
      {"fun void g(string s) { \"X\" => s; null => s; } \"abc\" => string v; g(v); <<< v >>>;"
       " null => v;",
       {"\"abc\" : (string)"}},
      {"\"a\" => string s; s => string t; \"b\" => t; <<< s, t >>>; null => s; null => t;", {"a b "}},
      {"for (0 => int i; i < 2; i++) { \"one\" => string s; \"two\" => s; <<< \"one\" >>>; null => s; }",
       {"\"one\" : (string)", "\"one\" : (string)"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.source), c.printed) << c.source;
  }
}

// The instruction that pushes a literal holds the literal's object for as
// long as the instruction (and so its code) lives.
TEST_F(EmitExpTest, TheCodeHoldsItsLiterals) {
  Chip_VM_Code* code = compile("\"held\";");
  ASSERT_NE(code, nullptr);
  auto* push = dynamic_cast<Chip_Instr_Unary_Op*>(code->instr[0]);
  ASSERT_NE(push, nullptr);
  auto* str = reinterpret_cast<Chip_String*>(push->get());
  EXPECT_EQ(str->str, "held");
  EXPECT_EQ(str->m_ref_count, 1u);
  // The instruction gives its reference back when it goes with its code.
  Chip_Instr* instr = code->instr[0];
  code->instr[0] = nullptr;
  str->add_ref();
  delete instr;
  EXPECT_EQ(str->m_ref_count, 1u);
  str->release();
}

// Routines driven directly with hand-built operands: the refusals the
// checker normally keeps away.
TEST_F(EmitExpTest, UnemittableOperandsAreRefusedWithTheirMessages) {
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  Chip_Code* code = new Chip_Code;
  emitter->code = code;
  EM_change_file("exp.chip");

  a_Exp one = new_exp_from_int(1, 4);
  one->type = &t_int;
  a_Exp inc = new_exp_from_unary(ae_op_plusplus, one, 4);
  inc->type = &t_int;
  a_Exp str = new_exp_from_id("s", 4);
  str->type = &t_string;
  str->meta_kind = ae_meta_var;
  a_Exp post = new_exp_from_postfix(str, ae_op_plusplus, 4);
  post->type = &t_int;

  struct Case {
    a_Exp exp;
    const char* message;
  } cases[] = {
      {inc, "[exp.chip]:line(4): (emit): target for '++' not mutable..."},
      {post, "[exp.chip]:line(4): (emit): internal error: undefined symbol 's'..."},
  };
  for (const Case& c : cases) {
    t_CPBOOL ok = TRUE;
    Lines printed = printed_lines([&] { ok = emit_engine_emit_exp(emitter, c.exp); });
    EXPECT_FALSE(ok);
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], c.message);
  }

  for (Chip_Instr* instr : code->instructions) delete instr;
  delete code;
  emitter->code = nullptr;
  set_current_pool(previous);
  delete_pool(pool);
}

}  // namespace
