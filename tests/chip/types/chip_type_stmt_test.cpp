// The statement and function-definition checks called directly on a loaded,
// scanned context: the facts they leave on the tree and on the function
// records, and the environment's stacks after a failure.
#include "chip/types/chip_type_stmt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

std::string at(int line, const std::string& msg) {
  if (line == 0) return "[stmt.chip]: " + msg;
  return "[stmt.chip]:line(" + std::to_string(line) + "): " + msg;
}

// A fresh environment with one source parsed, its context loaded and scan
// passes 0 to 2 run, ready for the checks to be called one node at a time.
class StmtCheck : public TypeCheckTest {
 protected:
  void load(const std::string& source) {
    ASSERT_TRUE(chip_parse("stmt.chip", nullptr, source.c_str())) << source;
    tree = g_program;
    g_program = nullptr;
    context = type_engine_make_context(tree, "stmt.chip");
    env->reset();
    type_engine_load_context(env, context);
    ASSERT_TRUE(type_engine_scan0_prog(env, tree, te_do_all) &&
                type_engine_scan1_prog(env, tree, te_do_all) &&
                type_engine_scan2_prog(env, tree, te_do_all))
        << source;
    loaded = true;
  }

  // The context owns the tree: unloading frees both.
  void TearDown() override {
    if (loaded) type_engine_unload_context(env);
    TypeCheckTest::TearDown();
  }

  // The n-th section of the program (from 0).
  a_Section section(int n) {
    a_Program p = tree;
    while (n-- > 0) p = p->next;
    return p->section;
  }
  // The n-th statement of the first section (a statement list).
  a_Stmt stmt(int n) {
    a_Stmt_List l = section(0)->stmt_list;
    while (n-- > 0) l = l->next;
    return l->stmt;
  }
  a_Func_Def func_def(int n) { return section(n)->func_def; }
  // The n-th function definition of a class body.
  static a_Func_Def member(a_Class_Def def, int n) {
    for (a_Class_Body b = def->body; b; b = b->next) {
      if (b->section->s_type == ae_section_func && n-- == 0) return b->section->func_def;
    }
    return nullptr;
  }

  // The environment's stacks as the checks must leave them.
  void expect_balanced(size_t depth) {
    EXPECT_TRUE(env->breaks.empty());
    EXPECT_EQ(env->curr->value.depth(), depth);
    EXPECT_EQ(env->class_scope, 0u);
    EXPECT_EQ(env->func, nullptr);
  }

  a_Program tree = nullptr;
  Chip_Context* context = nullptr;
  bool loaded = false;
};

TEST_F(StmtCheck, NullStatementChecks) {
  load("1;");
  std::vector<std::string> lines =
      printed_lines([&] { EXPECT_TRUE(type_engine_check_stmt(env, nullptr)); });
  EXPECT_TRUE(lines.empty());
}

TEST_F(StmtCheck, BreakAndContinueNeedAnEnclosingLoop) {
  load("break;\ncontinue;");
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_FALSE(type_engine_check_stmt(env, stmt(0)));
    EXPECT_FALSE(type_engine_check_stmt(env, stmt(1)));
  });
  EXPECT_EQ(lines,
            (std::vector<std::string>{at(1, "'break' found outside of for/while/until/switch..."),
                                      at(2, "'continue' found outside of for/while/until...")}));

  env->breaks.push_back(stmt(0));
  lines = printed_lines([&] {
    EXPECT_TRUE(type_engine_check_stmt(env, stmt(0)));
    EXPECT_TRUE(type_engine_check_stmt(env, stmt(1)));
  });
  env->breaks.pop_back();
  EXPECT_TRUE(lines.empty());
}

// Kinds the parser never builds are refused.
TEST_F(StmtCheck, UnbuiltStatementKindsAreRefused) {
  load("break;");
  a_Stmt s = stmt(0);
  struct Kind {
    int s_type;
    std::vector<std::string> lines;
  };
  const Kind kinds[] = {
      {ae_stmt_switch, {at(1, "switch not implemented...")}},
      {ae_stmt_case, {}},
      {ae_stmt_gotolabel, {}},
      {99, {at(1, "internal compiler error - no stmt type '99'!")}},
  };
  for (const Kind& k : kinds) {
    s->s_type = k.s_type;
    std::vector<std::string> lines =
        printed_lines([&] { EXPECT_FALSE(type_engine_check_stmt(env, s)); });
    EXPECT_EQ(lines, k.lines) << k.s_type;
    EXPECT_EQ(env->class_scope, 0u);
  }
  s->s_type = ae_stmt_break;
}

TEST_F(StmtCheck, FloatRepeatCountIsMarkedForTruncation) {
  load("repeat (2.7) { }\nrepeat (3) { }");
  ASSERT_TRUE(type_engine_check_stmt(env, stmt(0)));
  ASSERT_TRUE(type_engine_check_stmt(env, stmt(1)));
  EXPECT_EQ(stmt(0)->stmt_loop.cond->cast_to, &t_int);
  EXPECT_EQ(stmt(1)->stmt_loop.cond->cast_to, nullptr);
}

// A statement that fails anywhere inside nested loops, blocks and branches
// leaves no loop on `breaks` and no scope level open.
class FailedStmt : public StmtCheck, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedStmt, LeavesTheStacksBalanced) {
  load(GetParam());
  size_t depth = env->curr->value.depth();
  printed_lines([&] { EXPECT_FALSE(type_engine_check_stmt(env, stmt(0))); });
  expect_balanced(depth);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailedStmt,
    ::testing::Values("while (1) { { int k; } undefined_q; }",
                      "for (0 => int i; i < 2; i++) { repeat (2) { until (0) { undefined_q; } } }",
                      "do { if (1) { undefined_q; } } while (1);",
                      "repeat (2) { while (1) { break; } undefined_q; }",
                      "if (1) { } else { while (1) { undefined_q; } }", "while (undefined_q) { }",
                      "for (; \"s\"; ) { }"));

class FailedFuncDef : public StmtCheck, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedFuncDef, LeavesTheStacksBalanced) {
  load(GetParam());
  size_t depth = env->curr->value.depth();
  printed_lines([&] { EXPECT_FALSE(type_engine_check_func_def(env, func_def(0))); });
  expect_balanced(depth);
}

INSTANTIATE_TEST_SUITE_P(Table, FailedFuncDef,
                         ::testing::Values("fun void f(int a) { while (a) { undefined_q; } }",
                                           "fun int f(int a, float a) { return 1; }",
                                           "fun void f() { return 1; }", "fun void f();"));

TEST_F(StmtCheck, NestedDefinitionIsRefusedAndLeavesTheOuterFunction) {
  load("fun void f() { }\nfun void g() { }");
  Chip_Func* outer = func_def(0)->cp_func;
  env->func = outer;
  std::vector<std::string> lines =
      printed_lines([&] { EXPECT_FALSE(type_engine_check_func_def(env, func_def(1))); });
  EXPECT_EQ(env->func, outer);
  env->func = nullptr;
  EXPECT_EQ(lines,
            (std::vector<std::string>{at(2, "nested function definitions are not (yet) allowed")}));
}

TEST_F(StmtCheck, ArgumentsAreVisibleOnlyInTheBody) {
  load("fun int f(int a, float b) { return a; }");
  size_t depth = env->curr->value.depth();
  ASSERT_TRUE(type_engine_check_func_def(env, func_def(0)));
  expect_balanced(depth);
  EXPECT_EQ(env->curr->value.lookup(insert_symbol("a"), 1), nullptr);
  EXPECT_EQ(env->curr->value.lookup(insert_symbol("b"), 1), nullptr);
}

// Overriding across a hierarchy: C.f(int) skips B's incompatible f(float)
// and takes over A.f(int)'s slot and overload name; new member functions
// get the next free slots; static functions get none.
TEST_F(StmtCheck, OverridingTakesTheSlotAndNameOfTheOverriddenFunction) {
  load(
      "class A { fun int f(int a) { return 1; } fun void g() { } }\n"
      "class B extends A { fun float f(float a) { return 2.0; } }\n"
      "class C extends B { fun int f(int a) { return 3; } fun static void s() { } }");
  std::vector<std::string> lines;
  lines = printed_lines([&] { ASSERT_TRUE(type_engine_check_context(env, context, te_do_all)); });
  ASSERT_TRUE(lines.empty()) << lines[0];

  Chip_Func* a_f = member(section(0)->class_def, 0)->cp_func;
  Chip_Func* a_g = member(section(0)->class_def, 1)->cp_func;
  Chip_Func* b_f = member(section(1)->class_def, 0)->cp_func;
  Chip_Func* c_f = member(section(2)->class_def, 0)->cp_func;
  Chip_Func* c_s = member(section(2)->class_def, 1)->cp_func;

  // Object's member functions (toString) take the first slots.
  const std::vector<Chip_Func*>& base = t_object.info->obj_v_table.funcs;
  const unsigned long first = base.size();
  EXPECT_EQ(a_f->vt_index, first);
  EXPECT_EQ(a_g->vt_index, first + 1);
  EXPECT_EQ(b_f->vt_index, first + 2);
  EXPECT_EQ(c_f->vt_index, first);
  EXPECT_EQ(c_s->vt_index, static_cast<unsigned long>(-1));

  EXPECT_EQ(c_f->name, a_f->name);
  EXPECT_EQ(c_f->value_ref->name, a_f->name);
  EXPECT_NE(b_f->name, a_f->name);

  EXPECT_EQ(b_f->up, a_f->value_ref);
  EXPECT_EQ(c_f->up, b_f->value_ref);
  EXPECT_EQ(a_f->up, nullptr);

  Chip_Namespace* a_info = section(0)->class_def->type->info;
  Chip_Namespace* c_info = section(2)->class_def->type->info;
  std::vector<Chip_Func*> a_table = base;
  a_table.insert(a_table.end(), {a_f, a_g});
  std::vector<Chip_Func*> c_table = base;
  c_table.insert(c_table.end(), {c_f, a_g, b_f});
  EXPECT_EQ(a_info->obj_v_table.funcs, a_table);
  EXPECT_EQ(c_info->obj_v_table.funcs, c_table);
}

}  // namespace
