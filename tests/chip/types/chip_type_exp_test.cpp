// Type checking of expressions: whole programs through the front half of the
// compiler (type_check_support), checking the type given to the last
// statement's expression, the marks left for the emitter, and the exact
// messages of every refusal.
#include "chip/types/chip_type_exp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chip/front/chip_parse.h"
#include "chip/types/chip_type.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

// The top-level statements of the program checked last.
std::vector<a_Stmt> top_statements() {
  std::vector<a_Stmt> out;
  for (a_Program p = checked_program(); p; p = p->next) {
    if (p->section->s_type != ae_section_stmt) continue;
    for (a_Stmt_List l = p->section->stmt_list; l; l = l->next) out.push_back(l->stmt);
  }
  return out;
}

// The expression of the last top-level statement.
a_Exp last_exp() {
  std::vector<a_Stmt> stmts = top_statements();
  if (stmts.empty() || stmts.back()->s_type != ae_stmt_exp) return nullptr;
  return stmts.back()->stmt_exp;
}

std::string type_name(Chip_Type* type) { return type ? type->display_name() : "(null)"; }

// The printed lines without the file prefix.
std::vector<std::string> messages(const CheckResult& r) {
  std::vector<std::string> out;
  for (const std::string& line : r.lines) {
    const std::string prefix = "[test.chip]:";
    out.push_back(line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line);
  }
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

class TypeExpTest : public TypeCheckTest {
 protected:
  // Checks that src passes and returns its last expression.
  a_Exp accepted(const std::string& src) {
    CheckResult r = check_program(src);
    EXPECT_TRUE(r.ok) << src << "\n" << joined(r.lines);
    a_Exp e = last_exp();
    EXPECT_NE(e, nullptr) << src;
    return r.ok ? e : nullptr;
  }
  // Checks that src fails with exactly these lines (file prefix dropped).
  void refused(const std::string& src, const std::vector<std::string>& expected) {
    CheckResult r = check_program(src);
    EXPECT_FALSE(r.ok) << src;
    EXPECT_EQ(joined(messages(r)), joined(expected)) << src;
  }
};

struct TypeCase {
  const char* src;
  const char* type;  // display name of the last expression's type
};

struct ErrorCase {
  const char* src;
  std::vector<std::string> lines;
};

// ---------------------------------------------------------------------------
// Accepted expressions and their types.

TEST_F(TypeExpTest, ExpressionsGetTheirTypes) {
  const TypeCase cases[] = {
      // primaries and keywords
      {"1;", "int"},
      {"2.5;", "float"},
      {"\"a\\tb\";", "string"},
      {"now;", "time"},
      {"me;", "Shred"},
      {"null;", "@null"},
      {"second;", "dur"},
      {"int x; x;", "int"},
      {"<<< 1, \"a\" >>>;", "int"},
      {"1 + 2.5;", "float"},
      // declarations: the variable's type, arrays included
      {"float f;", "float"},
      {"int a[3][2];", "int[][]"},
      {"[1, 2] @=> int a[];", "int[]"},
      // member access
      {"#(1, 2).re;", "float"},
      {"%(1, 2).phase;", "float"},
      {"class Foo { int m; } Foo f; f.m;", "int"},
      {"class Foo { static int s; } Foo.s;", "int"},
      {"class Foo { fun static float g() { return 1.0; } } Foo.g();", "float"},
      {"class Foo { int m; fun int get() { return this.m; } } Foo f; f.get();", "int"},
      {"class A { int m; static int s; } class B extends A { fun int g() { return m + s; } } "
       "B b; b.g();",
       "int"},
      {"class Outer { static int s; class Inner { fun int g() { return Outer.s; } } } Outer.s;",
       "int"},
      {"class Foo { static int n; fun static int s() { return n; } } Foo.s();", "int"},
      // arrays
      {"int a[2][3]; a[0];", "int[]"},
      {"int a[2][3]; a[0][1];", "int"},
      {"int a[2]; a[\"key\"];", "int"},
      {"int a[2][2]; (a[\"key\"])[1];", "int"},
      {"[1.0, 2];", "float[]"},
      {"[[1, 2], [3, 4]];", "int[][]"},
      {"Object o; [null, o];", "Object[]"},
      {"Object o; [o, null];", "Object[]"},
      {"class A {} class B extends A {} class C extends A {} B b; C c; [b, c];", "A[]"},
      {"class A {} class B extends A {} A a; B b; [b, a];", "A[]"},
      // prefix and postfix operators
      {"~3;", "int"},
      {"!1;", "int"},
      {"-2.5;", "float"},
      {"int x; ++x;", "int"},
      {"int x; x--;", "int"},
      {"int a[2]; a[0]++;", "int"},
      {"class Foo { int m; } Foo f; --f.m;", "int"},
      {"fun void f() {} spork ~ f();", "Shred"},
      {"new Object;", "Object"},
      {"new int[4];", "int[]"},
      {"new float[2][3];", "float[][]"},
      // casts, durations, conditionals, complex and polar literals
      {"1 $ float;", "float"},
      {"2.5 $ int;", "int"},
      {"2.5::second;", "dur"},
      {"3::ms;", "dur"},
      {"1 ? 2 : 3;", "int"},
      {"#(1, 2.5);", "complex"},
      {"%(1.0, 2);", "polar"},
  };
  for (const TypeCase& c : cases) {
    a_Exp e = accepted(c.src);
    if (!e) continue;
    EXPECT_EQ(type_name(e->type), c.type) << c.src;
  }
}

TEST_F(TypeExpTest, ListsCountTheirExpressions) {
  a_Exp e = accepted("1, 2.5, \"s\";");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->list_count, 3);
  EXPECT_EQ(type_name(e->type), "int");
  EXPECT_EQ(type_name(e->next->next->type), "string");
}

TEST_F(TypeExpTest, IndexingLeavesACopyOfTheArrayType) {
  a_Exp e = accepted("int a[2][3]; a[1];");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->type->is_copy);
  EXPECT_EQ(e->type->array_depth, 1u);
  EXPECT_EQ(e->type->array_type, &t_int);
}

// ---------------------------------------------------------------------------
// Marks for the emitter.

TEST_F(TypeExpTest, LiteralsMarkIntElementsForConversion) {
  a_Exp e = accepted("[1.0, 2, 3.5];");
  ASSERT_NE(e, nullptr);
  a_Exp elems = e->primary.array->exp_list;
  EXPECT_EQ(elems->cast_to, nullptr);
  EXPECT_EQ(elems->next->cast_to, &t_float);
  EXPECT_EQ(elems->next->next->cast_to, nullptr);

  e = accepted("#(1, 2.5);");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->primary.complex->re->cast_to, &t_float);
  EXPECT_EQ(e->primary.complex->im->cast_to, nullptr);

  e = accepted("%(1, 2);");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->primary.polar->mod->cast_to, &t_float);
  EXPECT_EQ(e->primary.polar->phase->cast_to, &t_float);

  // A duration converts its int count itself: no mark.
  e = accepted("2::second;");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->dur.base->cast_to, nullptr);
}

TEST_F(TypeExpTest, StepOperandsAreEmittedAsAddresses) {
  a_Exp e = accepted("int x; x++;");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->postfix.exp->emit_var);
  e = accepted("int x; --x;");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->unary.exp->emit_var);
}

TEST_F(TypeExpTest, NamesRecordTheirValue) {
  a_Exp e = accepted("int x; x;");
  ASSERT_NE(e, nullptr);
  ASSERT_NE(e->primary.value, nullptr);
  EXPECT_EQ(e->primary.value->name, "x");
  EXPECT_EQ(e->meta_kind, ae_meta_var);

  e = accepted("null;");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->meta_kind, ae_meta_value);
}

// ---------------------------------------------------------------------------
// Overload resolution.

// The parameter types of a chosen function, as "int,float".
std::string chosen_params(Chip_Func* f) {
  if (!f) return "(none)";
  std::string out;
  for (a_Arg_List a = f->def->arg_list; a; a = a->next) {
    if (!out.empty()) out += ",";
    out += type_name(a->type);
  }
  return out;
}

// The conversion marks of a call's arguments, as "-,float".
std::string arg_marks(a_Exp call) {
  std::string out;
  for (a_Exp a = call->func_call.args; a; a = a->next) {
    if (!out.empty()) out += ",";
    out += a->cast_to ? type_name(a->cast_to) : "-";
  }
  return out;
}

struct CallCase {
  const char* src;
  const char* params;  // parameters of the chosen overload
  const char* marks;   // conversion marks on the arguments
};

TEST_F(TypeExpTest, CallsChooseTheFirstFittingOverload) {
  const CallCase cases[] = {
      // an exact match wins over an earlier one that needs a conversion
      {"fun void f(float x) {} fun void f(int x) {} f(1);", "int", "-"},
      // int converts to a float parameter
      {"fun void f(float x) {} f(1);", "float", "float"},
      // marks of a rejected candidate do not survive
      {"fun void f(float x, string s) {} fun void f(int x, float y) {} f(1, 2);", "int,float",
       "-,float"},
      // with two candidates needing conversions, the first defined is chosen
      {"fun void f(float x, int y) {} fun void f(int x, float y) {} f(1, 1);", "float,int",
       "float,-"},
      // null fits any object parameter, a subclass its parent
      {"fun void f(Object o) {} f(null);", "Object", "-"},
      {"class A {} class B extends A {} fun void f(A a) {} B b; f(b);", "A", "-"},
      // no arguments, and the empty argument list ()
      {"fun int f() { return 1; } fun void f(int x) {} f();", "", ""},
      {"fun void f(int x) {} fun int f() { return 1; } f(());", "", "-"},
      // a subclass finds a parent's overload when its own do not fit
      {"class A { fun void f(string s) {} } class B extends A { fun void f(int x) {} } "
       "B b; b.f(\"s\");",
       "string", "-"},
      {"class A { fun void f(string s) {} } class B extends A { fun void f(int x) {} } "
       "B b; b.f(3);",
       "int", "-"},
  };
  for (const CallCase& c : cases) {
    a_Exp e = accepted(c.src);
    if (!e) continue;
    ASSERT_EQ(e->s_type, ae_exp_func_call) << c.src;
    EXPECT_EQ(chosen_params(e->func_call.cp_func), c.params) << c.src;
    EXPECT_EQ(arg_marks(e), c.marks) << c.src;
    EXPECT_EQ(e->func_call.ret_type, e->type) << c.src;
  }
}

TEST_F(TypeExpTest, ChippingIntoAFunctionChecksItsArgumentsOnce) {
  // A second escape pass would turn the kept backslash into an error.
  a_Exp e = accepted("fun void f(string s) {} \"a\\\\q\" => f;");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->binary.lhs->primary.str, "a\\q");
  ASSERT_NE(e->binary.cp_func, nullptr);
  EXPECT_EQ(chosen_params(e->binary.cp_func), "string");
}

// The first statement's expression in the body of the named function of the
// last class of the program parsed last.
a_Exp first_exp_in_method(const char* name) {
  a_Class_Def last = nullptr;
  for (a_Program p = checked_program(); p; p = p->next) {
    if (p->section->s_type == ae_section_class) last = p->section->class_def;
  }
  if (!last) return nullptr;
  for (a_Class_Body b = last->body; b; b = b->next) {
    if (b->section->s_type != ae_section_func) continue;
    a_Func_Def f = b->section->func_def;
    if (strcmp(S_name(f->name), name) != 0 || !f->code) continue;
    a_Stmt_List list = f->code->stmt_code.stmt_list;
    return list && list->stmt->s_type == ae_stmt_exp ? list->stmt->stmt_exp : nullptr;
  }
  return nullptr;
}

TEST_F(TypeExpTest, MethodsReachParentOverloadsByName) {
  accepted("class A { fun int f(string s) { return 1; } }\n"
           "class B extends A { fun int f(int x) { return 2; } fun void g() { f(\"s\"); } }\n1;");
  a_Exp call = first_exp_in_method("g");
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call->s_type, ae_exp_func_call);
  EXPECT_EQ(chosen_params(call->func_call.cp_func), "string");
  a_Exp callee = call->func_call.func;
  EXPECT_EQ(std::string(S_name(callee->primary.var)), call->func_call.cp_func->name);
  EXPECT_EQ(callee->primary.value->func_ref, call->func_call.cp_func);
}

TEST_F(TypeExpTest, CalleeNamesTheChosenOverload) {
  a_Exp e = accepted("fun void f(float x) {} fun void f(int x) {} f(1);");
  ASSERT_NE(e, nullptr);
  a_Exp callee = e->func_call.func;
  EXPECT_EQ(std::string(S_name(callee->primary.var)), e->func_call.cp_func->name);
  EXPECT_EQ(callee->primary.value->func_ref, e->func_call.cp_func);
  EXPECT_NE(std::string(S_name(callee->primary.var)), "f");

  e = accepted("class A { fun int f(int x) { return x; } fun int f(float x) { return 1; } } "
               "A a; a.f(2.5);");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(std::string(S_name(e->func_call.func->dot_member.member_name)),
            e->func_call.cp_func->name);
  EXPECT_EQ(chosen_params(e->func_call.cp_func), "float");
}

TEST_F(TypeExpTest, CallsThatFitNoOverloadAreRefused) {
  const ErrorCase cases[] = {
      {"fun void f(int x) {} f(2.5);",
       {"line(1): argument type(s) do not match:", "line(1): ... for function 'f(...)' ...",
        "line(1): ...(please check the argument types)"}},
      {"fun void f(int x) {} f(1, 2);",
       {"line(1): argument type(s) do not match:", "line(1): ... for function 'f(...)' ...",
        "line(1): ...(please check the argument types)"}},
      {"fun void f(int x) {}\nf();",
       {"line(2): argument type(s) do not match:", "line(2): ... for function 'f(...)' ...",
        "line(2): ...(please check the argument types)"}},
      {"class Foo { fun void bar() {} } Foo f; f.bar(1);",
       {"line(1): arguments type(s) do not match:", "line(1): ... for function 'Foo.bar(...)' ...",
        "line(1): ...(please check the argument types)"}},
      {"class Foo { fun static void bar(string s) {} } Foo.bar(1);",
       {"line(1): arguments type(s) do not match:", "line(1): ... for function 'Foo.bar(...)' ...",
        "line(1): ...(please check the argument types)"}},
      {"int x; x(1);", {"line(1): function call using a non-function value"}},
      {"fun void f() {} fun void g() {} (1 ? f : g)();",
       {"line(1): cannot call this expression: a function is called by its name or as a member..."}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

// ---------------------------------------------------------------------------
// Names, declarations and member access.

TEST_F(TypeExpTest, NamesAndDeclarationsAreRefused) {
  const ErrorCase cases[] = {
      {"foo;", {"line(1): undefined variable 'foo'..."}},
      {"class Foo { fun void g() { zz; } }",
       {"line(1): undefined variable/member 'zz' in class/namespace 'Foo'...",
        " ...in function 'g'"}},
      {"x;\nint x;", {"line(1): variable/member 'x' is used before declaration..."}},
      {"int a;\nint a;", {"line(2): 'a' has already been defined in the same scope..."}},
      {"this;", {"line(1): keyword 'this' can be used only inside class definition..."}},
      {"class Foo { fun static void s() { this; } }",
       {"line(1): keyword 'this' cannot be used inside static functions...",
        " ...in function 's'"}},
      {"class Foo { int m; fun static void s() { m; } }",
       {"line(1): non-static member 'm' used from static function...", " ...in function 's'"}},
      {"class Foo { fun void m() {} fun static void s() { m(); } }",
       {"line(1): non-static member 'm' used from static function...", " ...in function 's'"}},
      // a nested class has no instance of its enclosing class at hand
      {"class Outer { int m; class Inner { fun void g() { m; } } }",
       {"line(1): cannot access member 'Outer.m' without object instance...", " ...in function 'g'"}},
      {"class Outer { fun void f() {} class Inner { int k; f(); } }",
       {"line(1): cannot access member 'Outer.f' without object instance..."}},
      {"class Outer { static int s; class Inner { fun void g() { s; } } }",
       {"line(1): static member 's' must be named through its class here: 'Outer.s'...",
        " ...in function 'g'"}},
      {"<<< int x >>>;", {"line(1): cannot use <<< >>> on variable declarations..."}},
      {"\"a\\q\";", {"line(1): unrecognized escape sequence '\\q'"}},
      // declarations
      {"static int a;", {"line(1): static variables must be declared at class scope..."}},
      {"class Foo { fun void g() { static int a; } }",
       {"line(1): static variables must be declared at class scope...", " ...in function 'g'"}},
      {"class Foo {\n static Object o; }",
       {"line(2): cannot declare static non-primitive objects (yet)...",
        "line(2): ...(hint: declare as ref (@) & initialize outside for now)"}},
      {"class P { int a; }\nclass Q extends P { int a; }",
       {"line(2): 'a' has already been defined in super class 'P'..."}},
      {"int a[2.0];", {"line(1): incompatible array subscript type 'float'..."}},
      // member access
      {"int a; a.foo;",
       {"line(1): type 'int' does not have members - invalid use in dot expression"}},
      {"#(1, 2).x;", {"line(1): type 'complex' has no member named 'x'..."}},
      {"%(1, 2).re;", {"line(1): type 'polar' has no member named 're'..."}},
      {"Object o; o.foo;", {"line(1): class 'Object' has no member 'foo'"}},
      {"class Foo { fun void bar() {} } Foo.bar();",
       {"line(1): cannot access member 'Foo.bar' without object instance..."}},
      {"class Foo { int m; } Foo.m;",
       {"line(1): cannot access member 'Foo.m' without object instance..."}},
      {"class Foo { } Foo.this;",
       {"line(1): keyword 'this' must be associated with object instance..."}},
      {"Object o; o.this;", {"line(1): keyword 'this' can be used only inside class definition..."}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

TEST_F(TypeExpTest, DeclarationsPlaceTheirVariables) {
  // A static object reference is fine; static data is counted per class.
  a_Exp e = accepted("class Foo { static Object @ o; static int n; int a; float b; } 1;");
  ASSERT_NE(e, nullptr);
  Chip_Value* n = nullptr;
  Chip_Value* b = nullptr;
  for (a_Program p = checked_program(); p; p = p->next) {
    if (p->section->s_type != ae_section_class) continue;
    Chip_Type* t = p->section->class_def->type;
    ASSERT_NE(t, nullptr);
    n = type_engine_find_value(t, "n");
    b = type_engine_find_value(t, "b");
    EXPECT_EQ(t->info->class_data_size, 2u * sizeof(t_CPWORD));
    // Member data continues after Object's.
    EXPECT_EQ(t->obj_size, t_object.obj_size + 2u * sizeof(t_CPWORD));
  }
  ASSERT_NE(n, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(n->is_static);
  EXPECT_EQ(n->offset, sizeof(t_CPWORD));
  EXPECT_FALSE(b->is_static);
  EXPECT_EQ(b->offset, t_object.obj_size + sizeof(t_CPWORD));
  EXPECT_TRUE(b->is_decl_checked);

  // A parent's name inside a method body is a new local.
  accepted("class P { int a; } class Q extends P { fun void g() { float a; } } 1;");
}

// ---------------------------------------------------------------------------
// Arrays and operators.

TEST_F(TypeExpTest, ArraysAndOperatorsAreRefused) {
  const ErrorCase cases[] = {
      {"int a[2][2]; a[0][1][2];", {"line(1): array subscripts (3) exceeds defined dimension (2)"}},
      {"int a; a[0];", {"line(1): array subscripts (1) exceeds defined dimension (0)"}},
      {"int a[2]; a[1.5];", {"line(1): array index 1 must be of type 'int' or 'string', not 'float'"}},
      {"int a[2][2]; a[0][now];",
       {"line(1): array index 2 must be of type 'int' or 'string', not 'time'"}},
      {"int a[2][2]; a[\"k\"][0];",
       {"line(1): array index 1 must be of type 'int' when several are given, not 'string'"}},
      {"[1, 2.0];", {"line(1): array init [...] contains incompatible types..."}},
      {"[1, \"a\"];", {"line(1): array init [...] contains incompatible types..."}},
      // prefix operators
      {"-(1::second);",
       {"line(1): no suitable resolution for prefix unary operator '-' on type 'dur..."}},
      {"!1.0;", {"line(1): no suitable resolution for prefix unary operator '!' on type 'float..."}},
      {"~\"s\";", {"line(1): no suitable resolution for prefix unary operator '~' on type 'string..."}},
      {"++5;", {"line(1): prefix unary operator '++' cannot be used on non-mutable data-types..."}},
      {"int x; spork ~ x;", {"line(1): only function calls can be sporked..."}},
      {"spork ~ { 1; };", {"line(1): only function calls can be sporked..."}},
      {"new int;",
       {"line(1): cannot instantiate/(new) primitive type 'int'...",
        "line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"new dur;",
       {"line(1): cannot instantiate/(new) primitive type 'dur'...",
        "line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"new complex;",
       {"line(1): cannot instantiate/(new) primitive type 'complex'...",
        "line(1): ...(primitive types: 'int', 'float', 'time', 'dur')"}},
      {"new Object @;", {"line(1): cannot instantiate/(new) single object references (@)..."}},
      {"new Nothing;", {"line(1): undefined type 'Nothing'...", "line(1): ... in 'new' expression ..."}},
      {"new int[2.5];", {"line(1): incompatible array subscript type 'float'..."}},
      // casts and durations
      {"\"s\" $ int;", {"line(1): invalid cast to 'int' from 'string'..."}},
      {"1 $ Nothing;", {"line(1): undefined type 'Nothing'...", "line(1): ... in cast expression ..."}},
      {"\"s\"::second;",
       {"line(1): invalid type 'string' in prefix of dur expression...",
        "    (must be of type 'int' or 'float')"}},
      {"2::3;",
       {"line(1): invalid type 'int' in postfix of dur expression...", "    (must be of type 'dur')"}},
      {"second::2;",
       {"line(1): invalid type 'dur' in prefix of dur expression...",
        "    (must be of type 'int' or 'float')",
        "line(1): invalid type 'int' in postfix of dur expression...", "    (must be of type 'dur')"}},
      // conditionals
      {"1 ? 2 : 3.0;", {"line(1): incompatible types 'int' and 'float' in if expression..."}},
      {"Object o; 1 ? o : null;",
       {"line(1): incompatible types 'Object' and '@null' in if expression..."}},
      // complex and polar literals
      {"#(1);", {"line(1): missing imaginary component in complex value...", "    --> format: #(re,im)"}},
      {"#(1, 2, 3);", {"line(1): extraneous arguments in complex value...", "    --> format #(re,im)"}},
      {"%(1);", {"line(1): missing phase component in polar value...", "    --> format: %(mag,phase)"}},
      {"%(1, 2, 3);",
       {"line(1): extraneous arguments in polar value...", "    --> format: %(mag,phase)"}},
      {"#(\"a\", 1);",
       {"line(1): invalid type 'string' in real component of complex value...",
        "    (must be of type 'int' or 'float')"}},
      {"#(1, now);",
       {"line(1): invalid type 'time' in imaginary component of complex value...",
        "    (must be of type 'int' or 'float')"}},
      {"%(now, 1);",
       {"line(1): invalid type 'time' in magnitude component of polar value...",
        "    (must be of type 'int' or 'float')"}},
      {"%(1, \"p\");",
       {"line(1): invalid type 'string' in phase component of polar value...",
        "    (must be of type 'int' or 'float')"}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

// Array literals and `new` with empty brackets cannot be written in source
// (the grammar wants an expression in the brackets); the checks still hold
// for trees built by hand.
TEST_F(TypeExpTest, EmptyBracketsAreRefused) {
  a_Exp lit = new_exp_from_array_lit(new_array_sub(nullptr, 3), 3);
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_EQ(type_engine_check_exp(env, lit), nullptr);
  });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("line(3): must provide values/expressions for array [...]"),
            std::string::npos);

  a_Exp made = new_exp_from_unary2(ae_op_new, new_type_decl(new_id_list("Object", 4), 0, 4),
                                   new_array_sub(nullptr, 4), 4);
  lines = printed_lines([&] { EXPECT_EQ(type_engine_check_exp(env, made), nullptr); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("line(4): cannot use empty [] with 'new'..."), std::string::npos);
}

// ---------------------------------------------------------------------------
// Refusals beyond the plain rules: what the emitter could not produce.

TEST_F(TypeExpTest, StepsOnConstantsAndReservedValuesAreRefused) {
  const ErrorCase cases[] = {
      {"++true;", {"line(1): cannot apply '++' to constant value 'true'"}},
      {"false--;", {"line(1): cannot apply '--' to constant value 'false'"}},
      {"pi++;", {"line(1): cannot apply '++' to constant value 'pi'"}},
      {"--second;", {"line(1): cannot apply '--' to constant value 'second'"}},
      {"\n\nsamp++;", {"line(3): cannot apply '++' to constant value 'samp'"}},
      {"maybe++;", {"line(1): cannot apply '++' to reserved value 'maybe'"}},
      {"++now;", {"line(1): cannot apply '++' to reserved value 'now'"}},
      {"fun void f() {} f++;", {"line(1): cannot apply '++' to constant value 'f'"}},
      {"++me;", {"line(1): prefix unary operator '++' cannot be used on non-mutable data-types..."}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

TEST_F(TypeExpTest, StepsOnAnythingButAnIntVariableAreRefused) {
  const ErrorCase cases[] = {
      {"float f; f++;",
       {"line(1): no suitable resolutation for postfix operator '++' on type 'float'...",
        "line(1): ...(note: '++' applies to values of type 'int' only)"}},
      {"float f; --f;",
       {"line(1): no suitable resolution for prefix unary operator '--' on type 'float...",
        "line(1): ...(note: '--' applies to values of type 'int' only)"}},
      {"string s; s++;",
       {"line(1): no suitable resolutation for postfix operator '++' on type 'string'...",
        "line(1): ...(note: '++' applies to values of type 'int' only)"}},
      {"Object o; ++o;",
       {"line(1): no suitable resolution for prefix unary operator '++' on type 'Object...",
        "line(1): ...(note: '++' applies to values of type 'int' only)"}},
      {"dur d; d--;",
       {"line(1): no suitable resolutation for postfix operator '--' on type 'dur'...",
        "line(1): ...(note: '--' applies to values of type 'int' only)"}},
      // variables only in a form the emitter can address
      {"int x; (-x)++;", {"line(1): postfix operator '++' cannot be used on non-mutable data-type..."}},
      {"int x; (x++)++;", {"line(1): postfix operator '++' cannot be used on non-mutable data-type..."}},
      {"int x; ++(x--);",
       {"line(1): prefix unary operator '++' cannot be used on non-mutable data-types..."}},
      {"int x, y; ++(1 ? x : y);",
       {"line(1): prefix unary operator '++' cannot be used on non-mutable data-types..."}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

TEST_F(TypeExpTest, OperatorResultsAreValues) {
  const char* sources[] = {"int x; -x;", "int x; x++;", "int x; --x;", "int x, y; 1 ? x : y;"};
  for (const char* src : sources) {
    a_Exp e = accepted(src);
    if (!e) continue;
    EXPECT_EQ(e->meta_kind, ae_meta_value) << src;
  }
  // So they are no target of an assignment either.
  for (const char* src : {"int x, y; 1 => (1 ? x : y);", "int x; 1 => -x;", "int x; 1 => x++;"}) {
    refused(src, {"line(1): cannot chip/assign '=>' on types 'int' => 'int'...",
                  "line(1): ...(reason: right-side operand is not mutable)"});
  }
}

TEST_F(TypeExpTest, ConditionalsWantAnIntCondition) {
  const ErrorCase cases[] = {
      {"1.0 ? 2 : 3;",
       {"line(1): invalid type 'float' in condition of if expression...",
        "line(1): ...(condition must be of type 'int')"}},
      {"\n\"s\" ? 2 : 3;",
       {"line(2): invalid type 'string' in condition of if expression...",
        "line(2): ...(condition must be of type 'int')"}},
      {"Object o; o ? 2 : 3;",
       {"line(1): invalid type 'Object' in condition of if expression...",
        "line(1): ...(condition must be of type 'int')"}},
  };
  for (const ErrorCase& c : cases) refused(c.src, c.lines);
}

}  // namespace
