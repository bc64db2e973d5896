// The emitter core: frames, the code shapes of statements (pops, loops,
// jump patching), the repeat counter, the code dump.
//
// Programs go through the compiler's real passes (parse, scan, type check,
// emit) in the test's own environment; their code is inspected instruction
// by instruction, and run on a machine with audio off where the behaviour
// matters.
#include "chip/emit/chip_emit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chip/emit/chip_frame.h"
#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm.h"
#include "emit_test_support.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<std::string> Lines;

// ---------------------------------------------------------------------------
// Frames

TEST(ChipFrame, OffsetsAreTheRunningSumAndAScopePopsInnermostFirst) {
  Chip_Frame frame;
  frame.push_scope();
  Chip_Local* a = frame.alloc_local(8, "a", FALSE);   // int
  Chip_Local* b = frame.alloc_local(8, "b", FALSE);   // float
  Chip_Local* c = frame.alloc_local(16, "c", TRUE);   // complex
  EXPECT_EQ(a->offset, 0u);
  EXPECT_EQ(b->offset, 8u);
  EXPECT_EQ(c->offset, 16u);
  EXPECT_EQ(frame.next_offset, 32u);
  EXPECT_TRUE(c->holds_ref);
  EXPECT_EQ(c->name, "c");

  std::vector<Chip_Local*> out;
  frame.pop_scope(out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], c);
  EXPECT_EQ(out[1], b);
  EXPECT_EQ(out[2], a);
  // Bytes are never given back: a later local gets a slot of its own.
  EXPECT_EQ(frame.next_offset, 32u);
  EXPECT_EQ(frame.alloc_local(8, "d", FALSE)->offset, 32u);
  for (Chip_Local* local : out) delete local;
}

TEST(ChipFrame, AnInnerScopesMarkerKeepsTheOuterScopesBytes) {
  Chip_Frame frame;
  frame.push_scope();
  frame.alloc_local(8, "outer", FALSE);
  frame.push_scope();
  frame.alloc_local(16, "inner", FALSE);
  std::vector<Chip_Local*> out;
  frame.pop_scope(out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->name, "inner");
  // The next pop stops at the inner scope's marker: "outer" stays allocated.
  std::vector<Chip_Local*> again;
  frame.pop_scope(again);
  EXPECT_TRUE(again.empty());
  // No slot is shared: "later" lies past both.
  EXPECT_EQ(frame.alloc_local(8, "later", FALSE)->offset, 24u);
  delete out[0];
}

TEST(ChipFrameDeath, PoppingAnEmptyFrameIsAnInternalError) {
  Chip_Frame frame;
  std::vector<Chip_Local*> out;
  EXPECT_DEATH(frame.pop_scope(out), "stack.size\\(\\) > 0");
}

// ---------------------------------------------------------------------------
// Programs

class EmitTest : public EmitProgramTest {
 protected:
  EmitTest() : EmitProgramTest("emit.chip") {}
};

TEST_F(EmitTest, ExpressionStatementsPopEachItemByItsOwnSize) {
  struct Case {
    const char* source;
    Lines tail;  // the code's last instructions, EOC included
  } cases[] = {
      {"1;", {"Reg_Push_Imm(1)", "Reg_Pop_Word", "EOC"}},
      {"1.5;", {"Reg_Pop_Word2", "EOC"}},
      {"#(1.0, 2.0);", {"Reg_Pop_Word3(2)", "EOC"}},
      {"int a, b;", {"Alloc_Word(8)", "Reg_Pop_Word3(2)", "EOC"}},
      // A call can hand back temporaries: the statement releases them.
      {"fun void f() {} f();", {"Func_Call", "Release_Temps", "EOC"}},
      {"\"a\" + 1;", {"Add_string_int", "Reg_Pop_Word", "Release_Temps", "EOC"}},
      {"1, 2.5, #(1.0, 1.0);",
       {"Reg_Pop_Word", "Reg_Pop_Word2", "Reg_Pop_Word3(2)", "EOC"}},
  };
  for (const Case& c : cases) {
    Lines got = shape(compile(c.source));
    ASSERT_GE(got.size(), c.tail.size()) << c.source;
    EXPECT_EQ(Lines(got.end() - c.tail.size(), got.end()), c.tail) << c.source;
  }
}

TEST_F(EmitTest, ADebugPrintPopsEachPrintedValue) {
  auto shape = [this](const char* source) {
    Lines got = EmitTest::shape(compile(source));
    for (std::string& line : got) {
      if (line.rfind("Gack", 0) == 0) line = "Gack";
    }
    return got;
  };
  Lines got = shape("<<< #(1.0, 2.0), 1, 2.5 >>>;");
  ASSERT_GE(got.size(), 5u);
  EXPECT_EQ(Lines(got.end() - 5, got.end()),
            (Lines{"Gack", "Reg_Pop_Word3(2)", "Reg_Pop_Word", "Reg_Pop_Word2", "EOC"}));
  got = shape("fun void vf() {} <<< vf() >>>;");
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(Lines(got.end() - 3, got.end()), (Lines{"Gack", "Release_Temps", "EOC"}));
}

TEST_F(EmitTest, AnEmptyProgramIsOneEndOfCode) {
  EXPECT_EQ(shape(compile(";")), Lines{"EOC"});
}

// A register word left behind per statement overflows the register stack
// long before 5000 iterations.
TEST_F(EmitTest, ItemsOfMixedSizesLeaveNothingBehind) {
  Lines out = run("repeat (5000) { 1, #(1.0, 2.0); 2.5, 1, 2; } <<< 7 >>>;");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "7 :(int)");
}

TEST_F(EmitTest, WhileLoopsPatchBreakAfterTheLoopAndContinueToTheCondition) {
  Chip_VM_Code* code = compile("1 => int x; 0 => int y; while (x) { if (y) break; continue; }");
  Lines got = shape(code);
  // Find the loop's closing goto: the last Goto before EOC.
  ASSERT_GE(got.size(), 2u);
  const size_t close = got.size() - 2;
  ASSERT_EQ(got[close].rfind("Goto(", 0), 0u) << got[close];
  const std::string start = got[close].substr(5, got[close].size() - 6);
  const std::string after = std::to_string(close + 1);
  // The condition's branch and the break leave to after the loop; the
  // continue goes back to the condition's first instruction.
  int breaks = 0, continues = 0;
  for (size_t i = 0; i < close; i++) {
    if (got[i] == "Goto(" + after + ")") breaks++;
    if (got[i] == "Goto(" + start + ")") continues++;
  }
  EXPECT_EQ(breaks, 1);
  EXPECT_EQ(continues, 1);
  EXPECT_EQ(got[close - 1], "Goto(" + start + ")");
  EXPECT_NE(std::find(got.begin(), got.end(), "Branch_Eq_int(" + after + ")"), got.end());
}

TEST_F(EmitTest, LoopsLeaveAndContinueWhereTheyShould) {
  struct Case {
    const char* source;
    const char* printed;
  } cases[] = {
      // Nested loops patch only their own gotos.
      {"0 => int n; for (0 => int i; i < 3; i++) { for (0 => int j; j < 10; j++) {"
       " if (j == 2) break; 1 +=> n; } if (i == 1) continue; 10 +=> n; } <<< n >>>;",
       "26 :(int)"},
      // The do-loop's continue goes to its condition, which ends it here.
      {"0 => int n; do { n++; if (n < 3) continue; break; } while (false); <<< n >>>;",
       "1 :(int)"},
      {"0 => int n; do { n++; } until (n >= 4); <<< n >>>;", "4 :(int)"},
      {"0 => int n; until (n == 5) n++; <<< n >>>;", "5 :(int)"},
      {"0 => int n; for (;;) { if (n++ == 6) break; } <<< n >>>;", "7 :(int)"},
      {"0.0 => float f; 0 => int n; while (f < 2.5) { 1.0 +=> f; n++; } <<< n >>>;", "3 :(int)"},
      {"if (0) <<< 1 >>>; else <<< 2 >>>;", "2 :(int)"},
      {"if (0.5) <<< 3 >>>;", "3 :(int)"},
      {"0 => int n; repeat (-3) n++; <<< n >>>;", "3 :(int)"},
      // The count converted from float: truncated.
      {"0 => int n; repeat (2.7) n++; <<< n >>>;", "2 :(int)"},
  };
  for (const Case& c : cases) {
    Lines out = run(c.source);
    ASSERT_FALSE(out.empty()) << c.source;
    EXPECT_EQ(out.back(), c.printed) << c.source;
  }
}

TEST_F(EmitTest, AForLoopWithoutConditionHasNoBranch) {
  Lines got = shape(compile("for (;;) { break; }"));
  for (const std::string& line : got) EXPECT_EQ(line.find("Branch"), std::string::npos) << line;
}

TEST_F(EmitTest, EachRecursionLevelHasItsOwnRepeatCounter) {
  Lines out = run(
      "fun int count(int depth) { 0 => int n; repeat (2) { 1 +=> n;"
      " if (depth > 0) count(depth - 1) +=> n; } return n; }"
      "<<< count(2) >>>;");
  EXPECT_EQ(out, Lines{"14 :(int)"});
}

TEST_F(EmitTest, EachShredHasItsOwnRepeatCounter) {
  Lines out = run(
      "0 => int total; fun void f() { repeat (3) { 1 +=> total; me.yield(); } }"
      "spork ~ f(); spork ~ f(); repeat (6) me.yield(); <<< total >>>;");
  EXPECT_EQ(out, Lines{"6 :(int)"});
}

TEST_F(EmitTest, TheDumpListsEveryInstructionOfEachCode) {
  emitter->dump_code = TRUE;
  Lines lines;
  ASSERT_NE(compile("2;", &lines), nullptr);
  EXPECT_EQ(lines, (Lines{"[emit.chip]: dumping :", "[emit.chip]: -------",
                          "[emit.chip]: [0] Chip_Instr_Reg_Push_Imm( 2 )",
                          "[emit.chip]: [1] Chip_Instr_Reg_Pop_Word(  )",
                          "[emit.chip]: [2] Chip_Instr_EOC(  )", "[emit.chip]: -------", ""}));
}

TEST_F(EmitTest, TheProgramCodeBecomesTheContextsPreConstructor) {
  Chip_VM_Code* code = compile("1;");
  ASSERT_NE(code, nullptr);
  EXPECT_TRUE(code->need_this);
  EXPECT_EQ(code->stack_depth, 0u);
  EXPECT_EQ(code->name, "");
  EXPECT_EQ(emitter->code, nullptr);
}

TEST_F(EmitTest, FindDurReadsGlobalDurations) {
  t_CPDUR value = -1;
  EXPECT_TRUE(emitter->find_dur("second", &value));
  EXPECT_EQ(value, static_cast<t_CPDUR>(TEST_SRATE));
  EXPECT_TRUE(emitter->find_dur("samp", &value));
  EXPECT_EQ(value, 1.0);
  EXPECT_FALSE(emitter->find_dur("pi", &value));
  EXPECT_EQ(value, 0.0);
  EXPECT_FALSE(emitter->find_dur("no_such_name", &value));
}

// A condition of a type no branch can test (the checker refuses these first,
// so the tree is made by hand).
TEST_F(EmitTest, AnUntestableConditionFails) {
  a_Exp_ cond{};
  cond.s_type = ae_exp_primary;
  cond.primary.s_type = ae_primary_nil;
  cond.type = &t_string;
  cond.line_no = 3;
  a_Stmt_ stmt{};
  stmt.s_type = ae_stmt_if;
  stmt.stmt_if.cond = &cond;
  stmt.line_no = 3;
  Chip_Code code;
  emitter->code = &code;
  t_CPBOOL ok = TRUE;
  Lines lines = printed_lines([&] { ok = emit_engine_emit_stmt(emitter, &stmt, TRUE); });
  emitter->code = nullptr;
  code.discard_instructions();
  EXPECT_FALSE(ok);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("line(3): (emit): internal error: unhandled type 'string' in if condition"),
            std::string::npos)
      << lines[0];
}

// Objects a condition or a loop step makes are given back on every pass:
// a loop whose body makes none never lets them pile up in its shred.
TEST_F(EmitTest, ConditionsAndStepsGiveTheirObjectsBackEveryPass) {
  vm = make_vm();
  const char* programs[] = {
      "while ((\"a\" + 1) != \"\") { 1::samp => now; }",
      "until ((\"a\" + 1) == \"\") { 1::samp => now; }",
      "do { 1::samp => now; } while ((\"a\" + 1) != \"\");",
      "for (0 => int i; (\"a\" + i) != \"\"; i++) { 1::samp => now; }",
      "string s; for (0 => int i; true; \"x\" + i => s) { 1::samp => now; i++; }",
      "while (true) { if ((\"a\" + 1) == \"b\") { } else { 1::samp => now; } }",
  };
  for (const char* source : programs) {
    SCOPED_TRACE(source);
    Chip_VM_Code* code = compile(source);
    ASSERT_NE(code, nullptr);
    Chip_VM_Shred* shred = hold_spork(vm, code);
    ASSERT_NE(shred, nullptr);
    vm->run(64);
    EXPECT_LE(shred->temps.size(), 2u);
  }
}

// A file with more variables than the usual memory stack holds gets a stack
// that fits them, with the usual room above for its calls.
TEST_F(EmitTest, AFileWithManyVariablesGetsAStackThatFitsThem) {
  std::string source;
  for (int i = 0; i < 9000; i++) source += "int v" + std::to_string(i) + "; ";
  source += "fun int f(int x) { return x + 1; }\nf(41) => v8999;\n<<< v8999 >>>;";
  EXPECT_EQ(run(source), Lines{"42 :(int)"});
}

// A call checks that its callee's whole frame fits the memory stack, locals
// included: frames of a few kilobytes of locals, recursing until the stack
// is full, end in StackOverflow and never write past the stack (the
// sanitizer build would see that).
TEST_F(EmitTest, DeepCallsWithLargeFramesOverflowCleanly) {
  for (int locals : {600, 760, 900}) {
    SCOPED_TRACE(locals);
    std::string source = "fun int deep(int n) { ";
    for (int i = 0; i < locals; i++) source += "int v" + std::to_string(i) + "; ";
    source += "1 => v" + std::to_string(locals - 1) + "; if (n == 0) return 0; ";
    source += "return deep(n - 1) + 1; }\ndeep(100000);";
    Lines lines = run(source);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Exception StackOverflow"), std::string::npos) << lines[0];
  }
}

// Each code bounds what its own instructions push on the register stack:
// the values that wait while an expression is evaluated, plus a margin for
// what one construct pushes on top of its operands.
TEST_F(EmitTest, ACodesRegisterBoundFollowsTheValuesThatPileUp) {
  const t_CPUWORD M = CHIP_EMIT_REG_MARGIN;
  const struct {
    const char* source;
    t_CPUWORD bytes;  // above the margin
  } cases[] = {
      {";", 0},
      {"1;", 8},
      // Every item of a list waits for the others.
      {"#(1.0, 2.0), #(1.0, 2.0), 1;", 40},
      {"<<< 1, 2.5, #(1.0, 2.0) >>>;", 32},
      {"[1.0, 2.0, 3.0] @=> float a[];", 24},
      {"int a, b, c;", 24},
      // A right operand waits on its left one, level after level.
      {"1 + (1 + (1 + 1));", 32},
      // The left operand of && and || waits on a pushed constant.
      {"((1 && 1) && 1) && 1;", 32},
      // Either branch of a conditional starts where the condition did.
      {"1 ? 2 : (3 ? 4 : 5);", 8},
      // Statements start afresh: the deepest one counts.
      {"1; 1 + (1 + 1); 1;", 24},
  };
  for (const auto& c : cases) {
    Chip_VM_Code* code = compile(c.source);
    ASSERT_NE(code, nullptr) << c.source;
    EXPECT_EQ(code->reg_depth, M + c.bytes) << c.source;
  }
}

// Expressions whose values pile up past the register stack (an array
// literal, a print, a call's or a spork's arguments, nested calls) end their
// shred with StackOverflow before anything is written past the stack, and
// the other shreds go on.
TEST_F(EmitTest, ExpressionsPastTheRegisterStackOverflowCleanly) {
  // Complex values take 16 bytes: 1030 of them are more than the 16 KB
  // register stack holds.
  auto values = [](int n) {
    std::string list;
    for (int i = 0; i < n; i++) list += i ? ", c" : "c";
    return list;
  };
  auto params = [](int n) {
    std::string list;
    for (int i = 0; i < n; i++) list += (i ? ", complex p" : "complex p") + std::to_string(i);
    return list;
  };
  // Nested calls: each level's hundred arguments wait for the next level.
  std::string nested = "c";
  for (int level = 0; level < 11; level++) nested = "h(" + values(99) + ", " + nested + ")";
  const struct {
    const char* label;
    std::string body;
  } cases[] = {
      {"array literal", "[" + values(1030) + "] @=> complex a[];"},
      {"print", "<<< " + values(1030) + " >>>;"},
      {"call", "g(" + values(1030) + ");"},
      {"spork", "spork ~ g(" + values(1030) + ");"},
      {"nested calls", nested + ";"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string source = "fun void g(" + params(1030) + ") { <<< \"g\" >>>; }\n" +
                               "fun complex h(" + params(100) + ") { return p0; }\n" +
                               "fun void f() { #(1.0, 2.0) => complex c; " + c.body +
                               " <<< \"never\" >>>; }\n" +
                               "spork ~ f();\n1::samp => now;\n<<< \"main goes on\" >>>;";
    Lines lines = run(source);
    ASSERT_EQ(lines.size(), 2u) << (lines.empty() ? "" : lines[0]);
    EXPECT_EQ(lines[0].rfind("[chip](VM): Exception StackOverflow in shred[id=", 0), 0u)
        << lines[0];
    EXPECT_EQ(lines[1], "\"main goes on\" : (string)");
  }
}

}  // namespace
