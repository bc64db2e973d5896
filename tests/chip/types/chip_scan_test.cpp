// Scan passes 0, 1 and 2: what they create, what they refuse and the state
// they leave behind.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "chip/front/chip_parse.h"
#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

// Values of the declarations and arguments of a tree, by name.
typedef std::map<std::string, Chip_Value*> Values;

void collect_stmt(a_Stmt stmt, Values& out);

void collect_exp(a_Exp exp, Values& out) {
  for (; exp; exp = exp->next) {
    if (exp->s_type == ae_exp_decl) {
      for (a_Var_Decl_List list = exp->decl.var_decl_list; list; list = list->next)
        out[S_name(list->var_decl->name)] = list->var_decl->value;
    } else if (exp->s_type == ae_exp_binary) {
      collect_exp(exp->binary.lhs, out);
      collect_exp(exp->binary.rhs, out);
    }
  }
}

void collect_list(a_Stmt_List list, Values& out) {
  for (; list; list = list->next) collect_stmt(list->stmt, out);
}

void collect_stmt(a_Stmt stmt, Values& out) {
  if (!stmt) return;
  switch (stmt->s_type) {
    case ae_stmt_exp: collect_exp(stmt->stmt_exp, out); break;
    case ae_stmt_while: collect_stmt(stmt->stmt_while.body, out); break;
    case ae_stmt_for:
      collect_stmt(stmt->stmt_for.c1, out);
      collect_stmt(stmt->stmt_for.body, out);
      break;
    case ae_stmt_if: collect_stmt(stmt->stmt_if.if_body, out); break;
    case ae_stmt_code: collect_list(stmt->stmt_code.stmt_list, out); break;
    default: break;
  }
}

void collect_func(a_Func_Def f, Values& out) {
  for (a_Arg_List arg = f->arg_list; arg; arg = arg->next)
    out[S_name(arg->var_decl->name)] = arg->var_decl->value;
  if (f->code) collect_stmt(f->code, out);
}

void collect_section(a_Section section, Values& out) {
  switch (section->s_type) {
    case ae_section_stmt: collect_list(section->stmt_list, out); break;
    case ae_section_func: collect_func(section->func_def, out); break;
    case ae_section_class:
      for (a_Class_Body body = section->class_def->body; body; body = body->next)
        collect_section(body->section, out);
      break;
  }
}

Values collect(a_Program prog) {
  Values out;
  for (; prog; prog = prog->next) collect_section(prog->section, out);
  return out;
}

// The n-th function definition at the top level of a tree.
a_Func_Def nth_func(a_Program prog, int n) {
  for (; prog; prog = prog->next) {
    if (prog->section->s_type == ae_section_func && n-- == 0) return prog->section->func_def;
  }
  return nullptr;
}

}  // namespace

// Runs the scan passes on a loaded context that stays loaded until the next
// scan or the end of the test, so the records can be inspected.
class ScanTest : public TypeCheckTest {
 protected:
  void TearDown() override {
    unload();
    TypeCheckTest::TearDown();
    for (a_Program tree : trees) delete_program(tree);
    trees.clear();
  }

  // Passes 0 to `last` over source, stopping at the first failure; with
  // check, the type check follows. TRUE when all passed; `lines` holds what
  // was printed.
  // edit, when given, may change the parsed tree before the passes (for
  // forms the grammar cannot build).
  bool scan(const std::string& source, int last = 2, te_HowMuch how_much = te_do_all,
            bool check = false, std::function<void(a_Program)> edit = nullptr) {
    unload();
    bool ok = false;
    lines = printed_lines([&] {
      if (!chip_parse("test.chip", nullptr, source.c_str())) return;
      // The context takes the tree over (freed with it at unload).
      tree = g_program;
      g_program = nullptr;
      if (edit) {
        a_Pool outer = set_current_pool(tree->pool);
        edit(tree);
        set_current_pool(outer);
      }
      context = type_engine_make_context(tree, "test.chip");
      env->reset();
      type_engine_load_context(env, context);
      ok = type_engine_scan0_prog(env, tree, how_much) &&
           (last < 1 || type_engine_scan1_prog(env, tree, how_much)) &&
           (last < 2 || type_engine_scan2_prog(env, tree, how_much)) &&
           (!check || type_engine_check_context(env, context, how_much));
    });
    return ok;
  }

  void unload() {
    if (!context) return;
    env->global()->rollback();
    type_engine_unload_context(env);
    context = nullptr;
  }

  Chip_Context* context = nullptr;
  a_Program tree = nullptr;
  std::vector<a_Program> trees;  // parsed without a context (freed here)
  std::vector<std::string> lines;
};

TEST_F(ScanTest, RefusalsPrintTheirMessagesAtTheirLines) {
  struct Case {
    const char* source;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      // pass 0
      {"public class A {}\npublic class B {}",
       {"[test.chip]:line(2): more than one 'public' class defined..."}},
      {"class A {}\n\nclass A {}",
       {"[test.chip]:line(3): class/type 'A' is already defined in namespace 'test.chip'"}},
      {"class pi {}",
       {"[test.chip]:line(1): illegal re-declaration of reserved value 'pi'.",
        "[test.chip]:line(1): ...in class definition 'pi'"}},
      // pass 1
      {"int x;\nUndefined u;",
       {"[test.chip]:line(2): undefined type 'Undefined'...",
        "[test.chip]:line(2): ... in declaration ..."}},
      {"fun Nope f() {}",
       {"[test.chip]:line(1): undefined type 'Nope'...",
        "[test.chip]:line(1): ... in return type of function 'f' ..."}},
      {"fun void f(int a,\n Nope b) {}",
       {"[test.chip]:line(2): undefined type 'Nope'...",
        "[test.chip]:line(2): ... in argument 2 'b' of function 'f(.)' ..."}},
      {"fun void pi() {}",
       {"[test.chip]:line(1): illegal re-declaration of reserved value 'pi'.",
        "[test.chip]:line(1): ...in function definition 'pi'"}},
      {"fun void f() {\n Nope n; }",
       {"[test.chip]:line(2): undefined type 'Nope'...",
        "[test.chip]:line(2): ... in declaration ...", "[test.chip]: ...in function 'f'"}},
      {"(1 + 2)++;",
       {"[test.chip]:line(1): postfix operator '++' cannot be used on non-mutable data-type..."}},
      // pass 2: declarations
      {"int x;\nint x;", {"[test.chip]:line(2): 'x' has already been defined in the same scope..."}},
      {"void v;", {"[test.chip]:line(1): cannot declare variables of size '0' (i.e. 'void')..."}},
      {"int @ r;",
       {"[test.chip]:line(1): cannot declare references (@) of primitive type 'int'...",
        "[test.chip]:line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"float pi;",
       {"[test.chip]:line(1): illegal re-declaration of reserved value 'pi'.",
        "[test.chip]:line(1): ...in variable declaration"}},
      {"class X {\n X x; }",
       {"[test.chip]:line(2): ...(note: object of type 'X' declared inside itself)"}},
      // pass 2: functions
      {"int f;\nfun void f() {}",
       {"[test.chip]:line(2): function name 'f' is already used by another value"}},
      {"fun void f() {}\nint f;",
       {"[test.chip]:line(2): 'f' has already been defined in the same scope..."}},
      {"fun int @ f() {}",
       {"[test.chip]:line(1): cannot declare references (@) of primitive type 'int'...",
        "[test.chip]:line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"fun void f(void a) {}",
       {"[test.chip]:line(1): cannot declare variables of size '0' (i.e. 'void')..."}},
      {"fun void f(int now) {}",
       {"[test.chip]:line(1): illegal re-declaration of reserved value 'now'.",
        "[test.chip]:line(1): in function 'f'"}},
      {"fun void f(float @ a) {}",
       {"[test.chip]:line(1): cannot declare references (@) of primitive type 'float'...",
        "[test.chip]:line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"fun void f(int a,\n int b[2]) {}",
       {"[test.chip]:line(2): in function 'f':",
        "[test.chip]:line(2): argument 2 'b' must be defined with empty []'s"}},
      {"class X {\n fun int f(int a) {}\n fun float f(int b) {} }",
       {"[test.chip]:line(3): function signatures differ in return type...",
        "[test.chip]:line(3): function 'X.f' matches 'X.f' but cannot overload..."}},
      {"fun void f() {\n int x;\n int x; }",
       {"[test.chip]:line(3): 'x' has already been defined in the same scope...",
        "[test.chip]: ...in function 'f'"}},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(scan(c.source)) << c.source;
    EXPECT_EQ(lines, c.lines) << c.source;
  }
}

TEST_F(ScanTest, AcceptedForms) {
  const char* sources[] = {
      "int x; { int x; } while (1) { int x; }",  // the same name in nested blocks
      "Foo f; class Foo { Bar b; } class Bar {}",  // classes used before their definition
      "fun int[] f() { return null; }",
      "fun void f(int a[], float b[][]) {}",
      "class X { X @ x; X many[]; fun void f() { X y; } }",
      "int x; x++; x--;",
      "fun void f(int a) {} fun void f(float a) {} fun void f(int a, int b) {}",
      "class X { fun int f(int a) {} fun float f(float a) {} }",
      "int c[], d;",  // empty brackets mark a reference, d stays a plain int
  };
  for (const char* source : sources) {
    EXPECT_TRUE(scan(source)) << source;
    EXPECT_TRUE(lines.empty()) << source << ": " << (lines.empty() ? "" : lines[0]);
  }
}

TEST_F(ScanTest, ArrayReturnTypesUseEmptyBrackets) {
  ASSERT_TRUE(scan("fun int[][] f() { return null; }", 1));
  a_Func_Def f = nth_func(tree, 0);
  EXPECT_EQ(f->ret_type->array_depth, 2u);
  EXPECT_EQ(f->ret_type->array_type, &t_int);
  EXPECT_EQ(f->type_decl->ref, 1);

  // `fun int[3] f()`: the grammar has no such form; a size in the brackets
  // is refused should one reach the pass.
  EXPECT_FALSE(scan("fun int[] f() { return null; }", 1, te_do_all, false, [](a_Program prog) {
    prog->section->func_def->type_decl->array->exp_list = new_exp_from_int(3, 1);
  }));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[test.chip]:line(1): function 'f':",
                       "[test.chip]:line(1): return array type must be defined with empty []'s"}));
}

TEST_F(ScanTest, ContextGlobalMarksValuesOutsideClassesAndFunctions) {
  ASSERT_TRUE(scan("int a; { int b; } for (0 => int i; i < 2; i++) {}\n"
                   "fun void f(int c) { int d; }\n"
                   "class K { int e; fun void g(int h) { int j; } }"));
  Values v = collect(tree);
  const std::map<std::string, bool> expected = {{"a", true},  {"b", true},  {"i", true},
                                                {"c", false}, {"d", false}, {"e", false},
                                                {"h", false}, {"j", false}};
  for (const auto& [name, global] : expected) {
    ASSERT_NE(v[name], nullptr) << name;
    EXPECT_EQ(v[name]->is_context_global, global ? TRUE : FALSE) << name;
    // Declared variables wait for the checker; arguments are not declarations.
    const bool argument = name == "c" || name == "h";
    EXPECT_EQ(v[name]->is_decl_checked, argument ? TRUE : FALSE) << name;
  }
}

TEST_F(ScanTest, DeclarationsAndArgumentsGetTheirPlaces) {
  ASSERT_TRUE(scan("class K { int e; static int s; { int inner; }\n"
                   "  fun void g(int a, float b, complex c, int arr[]) { int local; } }\n"
                   "int top[4], plain;"));
  Values v = collect(tree);
  Chip_Type* k = tree->section->class_def->type;
  ASSERT_NE(k, nullptr);

  // Members: only undecorated class-level declarations.
  EXPECT_TRUE(v["e"]->is_member);
  EXPECT_EQ(v["e"]->owner_class, k);
  EXPECT_EQ(v["e"]->owner, k->info);
  EXPECT_FALSE(v["s"]->is_member);
  EXPECT_FALSE(v["inner"]->is_member);
  EXPECT_EQ(v["inner"]->owner_class, k);
  EXPECT_FALSE(v["local"]->is_member);
  EXPECT_EQ(v["local"]->owner_class, nullptr);

  // Arguments: offsets follow the sizes of the earlier arguments.
  a_Func_Def g = nullptr;
  for (a_Class_Body body = tree->section->class_def->body; body; body = body->next) {
    if (body->section->s_type == ae_section_func) g = body->section->func_def;
  }
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(v["a"]->offset, 0u);
  EXPECT_EQ(v["b"]->offset, 8u);
  EXPECT_EQ(v["c"]->offset, 16u);
  EXPECT_EQ(v["arr"]->offset, 32u);
  EXPECT_EQ(g->stack_depth, 40);
  EXPECT_EQ(v["arr"]->type->array_depth, 1u);
  EXPECT_EQ(v["arr"]->type->array_type, &t_int);
  EXPECT_FALSE(v["a"]->is_member);
  EXPECT_EQ(v["a"]->owner_class, nullptr);
  ASSERT_NE(g->cp_func, nullptr);
  EXPECT_TRUE(g->cp_func->is_member);

  // Array parts: the variable's own type; the declaration's resolved type
  // is the element type.
  EXPECT_EQ(v["top"]->type->array_depth, 1u);
  EXPECT_EQ(v["plain"]->type, &t_int);
}

TEST_F(ScanTest, OverloadsAreNamedAndChainedInDefinitionOrder) {
  ASSERT_TRUE(scan("fun void f(int a) {}\nfun void f(float a) {}\nfun void f(string a) {}\n"
                   "class C { fun void m() {} fun void m(int a) {} }"));
  const char* names[] = {"f@0@test.chip", "f@1@test.chip", "f@2@test.chip"};
  Chip_Namespace* nspc = context->nspc;
  Chip_Value* first = nspc->lookup_value("f", 0);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->is_const);
  EXPECT_EQ(first->overload_count, 2u);

  Chip_Func* func = first->func_ref;
  for (int i = 0; i < 3; i++) {
    ASSERT_NE(func, nullptr) << i;
    EXPECT_EQ(func->name, names[i]);
    EXPECT_EQ(func, nth_func(tree, i)->cp_func);
    // Each overload is found under its own name, in both scopes.
    EXPECT_EQ(nspc->lookup_func(names[i], 0), func);
    EXPECT_EQ(nspc->lookup_value(names[i], 0), func->value_ref);
    EXPECT_EQ(func->value_ref->type->func, func);
    EXPECT_EQ(func->value_ref->type->id, te_function);
    EXPECT_TRUE(isa(func->value_ref->type, &t_function));
    EXPECT_FALSE(func->is_member);
    func = func->next;
  }
  EXPECT_EQ(func, nullptr);

  // Members: named after the class's namespace.
  Chip_Type* c = context->nspc->lookup_type("C", 1);
  ASSERT_NE(c, nullptr);
  Chip_Value* m = c->info->lookup_value("m", 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->func_ref->name, "m@0@C");
  ASSERT_NE(m->func_ref->next, nullptr);
  EXPECT_EQ(m->func_ref->next->name, "m@1@C");
}

TEST_F(ScanTest, CallsTryOverloadsInDefinitionOrder) {
  // f("a") matches f(Object) and f(string) exactly; the one written first wins.
  ASSERT_TRUE(scan("fun int f(int a) { return 0; }\nfun int f(Object o) { return 1; }\n"
                   "fun int f(string s) { return 2; }\nf(\"a\");",
                   2, te_do_all, true))
      << (lines.empty() ? "" : lines[0]);
  a_Program p = tree;
  while (p->section->s_type != ae_section_stmt) p = p->next;
  a_Exp call = p->section->stmt_list->stmt->stmt_exp;
  ASSERT_EQ(call->s_type, ae_exp_func_call);
  ASSERT_NE(call->func_call.cp_func, nullptr);
  EXPECT_EQ(call->func_call.cp_func->name, "f@1@test.chip");
}

TEST_F(ScanTest, ClassesGetTypesNamespacesAndNameValues) {
  ASSERT_TRUE(scan("class A { class B {} }\npublic class P {}", 0));
  Chip_Type* a = context->nspc->lookup_type("A", 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->id, te_user);
  EXPECT_FALSE(a->is_complete);
  EXPECT_EQ(a->owner, context->nspc);
  ASSERT_NE(a->info, nullptr);
  EXPECT_EQ(a->info->name, "A");
  EXPECT_EQ(a->info->parent, context->nspc);
  EXPECT_EQ(a->def, tree->section->class_def);
  EXPECT_EQ(tree->section->class_def->type, a);

  // Nested class inside A's namespace, not in the file's.
  Chip_Type* b = a->info->lookup_type("B", 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->owner, a->info);
  EXPECT_EQ(context->nspc->lookup_type("B", 0), nullptr);

  // The class name as a value: a constant Class value that leads to the class.
  Chip_Value* name = context->nspc->lookup_value("A", 0);
  ASSERT_NE(name, nullptr);
  EXPECT_TRUE(isa(name->type, &t_class));
  EXPECT_EQ(name->type->array_type, a);
  EXPECT_TRUE(name->is_const);

  // The public class goes to the global namespace, pending commit.
  Chip_Type* p = env->global()->lookup_type("P", 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->owner, env->global());
  EXPECT_EQ(context->public_class_def, tree->next->section->class_def);
  EXPECT_EQ(context->nspc->lookup_type("P", 0), nullptr);
}

TEST_F(ScanTest, HowMuchSelectsTheSections) {
  const char* source = "Undefined u;\nclass C { int x; }";
  // Classes only: the statement is not looked at.
  EXPECT_TRUE(scan(source, 2, te_do_classes_only));
  EXPECT_NE(context->nspc->lookup_type("C", 0), nullptr);
  // All but classes: pass 0 makes no class.
  EXPECT_TRUE(scan("class C { int x; }", 0, te_do_no_classes));
  EXPECT_EQ(context->nspc->lookup_type("C", 0), nullptr);
  // Everything: the statement fails.
  EXPECT_FALSE(scan(source, 2, te_do_all));
}

TEST_F(ScanTest, FailuresLeaveScopesAndStacksAsTheyWere) {
  const char* sources[] = {
      "while (1) { if (1) { for (0 => int i; i < 1; i++) { Nope n; } } }",
      "class K { fun void f() { { int x; int x; } } }",
      "fun void f() { while (1) { void v; } }",
      "class K { class L { int y; int y; } }",
  };
  for (const char* source : sources) {
    ASSERT_TRUE(scan("int zz;"));  // a loaded context to measure against
    const size_t values = env->curr->value.depth();
    const size_t nspcs = env->nspc_stack.size();
    const size_t classes = env->class_stack.size();
    lines = printed_lines([&] {
      EXPECT_TRUE(chip_parse("test.chip", nullptr, source));
      trees.push_back(g_program);
      EXPECT_FALSE(type_engine_scan0_prog(env, g_program, te_do_all) &&
                   type_engine_scan1_prog(env, g_program, te_do_all) &&
                   type_engine_scan2_prog(env, g_program, te_do_all));
    });
    EXPECT_FALSE(lines.empty()) << source;
    EXPECT_EQ(env->curr, context->nspc) << source;
    EXPECT_EQ(env->curr->value.depth(), values) << source;
    EXPECT_EQ(env->nspc_stack.size(), nspcs) << source;
    EXPECT_EQ(env->class_stack.size(), classes) << source;
    EXPECT_EQ(env->class_def, nullptr) << source;
    EXPECT_EQ(env->func, nullptr) << source;
    EXPECT_EQ(env->class_scope, 0u) << source;
  }
}

TEST_F(ScanTest, NestedFunctionDefinitionsAreRefused) {
  // The grammar has no nested function definitions; the pass refuses them
  // should one reach it while another function is current.
  ASSERT_TRUE(scan("fun void outer() {}\nfun void inner() {}", 1));  // passes 0 and 1
  env->func = context->new_Chip_Func();
  t_CPBOOL ok = TRUE;
  lines = printed_lines([&] { ok = type_engine_scan2_func_def(env, nth_func(tree, 1)); });
  env->func = nullptr;
  EXPECT_FALSE(ok);
  EXPECT_EQ(lines, std::vector<std::string>{
                       "[test.chip]:line(2): nested function definitions are not (yet) allowed"});
}

TEST_F(ScanTest, PassesLogTheirTitlesAndTargetsAtLevelEight) {
  g_loglevel = CP_LOG_FINER;
  ASSERT_TRUE(scan("int x;", 2, te_do_no_classes));
  std::vector<std::string> titles;
  for (const std::string& line : lines) {
    if (line.find("scan") != std::string::npos || line.find("target") != std::string::npos)
      titles.push_back(line);
  }
  const std::vector<std::string> expected = {
      "[chip]:(8:FINER!): (pass 0) type discovery scan 'test.chip'...",
      "[chip]:(8:FINER!):  | target: ALL_EXCEPT_CLASSES",
      "[chip]:(8:FINER!): (pass 1) type resolution scan 'test.chip'...",
      "[chip]:(8:FINER!):  | target: ALL_EXCEPT_CLASSES",
      "[chip]:(8:FINER!): (pass 2) type verification scan 'test.chip'...",
      "[chip]:(8:FINER!):  | target: ALL_EXCEPT_CLASSES",
  };
  EXPECT_EQ(titles, expected);
}
