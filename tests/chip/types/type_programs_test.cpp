// Whole programs through the compiler's front half (parse, scan passes, type
// check, commit or rollback): programs that must check, and programs that
// must fail with exactly the messages, in order and at the lines, that the
// checker prints.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "type_check_support.h"

namespace {

// One printed error line of a file compiled as "test.chip": at a line, or
// without a position for line 0.
std::string at(int line, const std::string& msg) {
  if (line == 0) return "[test.chip]: " + msg;
  return "[test.chip]:line(" + std::to_string(line) + "): " + msg;
}

struct ProgramCase {
  const char* name;
  const char* source;
  std::vector<std::string> lines;  // empty: the program must check
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// Each case compiles in an environment of its own.
class ProgramTable : public TypeCheckTest, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramTable, ChecksOrFailsWithTheExpectedMessages) {
  const ProgramCase& c = GetParam();
  CheckResult result = check_program(c.source);
  if (c.lines.empty()) {
    EXPECT_TRUE(result.ok) << c.source << "\nprinted:\n" << joined(result.lines);
    EXPECT_TRUE(result.lines.empty()) << joined(result.lines);
  } else {
    EXPECT_FALSE(result.ok) << c.source;
    EXPECT_EQ(joined(result.lines), joined(c.lines)) << c.source;
  }
}

// ---------------------------------------------------------------------------
// Programs that check.
const ProgramCase kPassing[] = {
    {"Declarations", "int a;\n1 => a;\na++;\n2.5 => float f;\n\"s\" + 1 => string s;", {}},
    {"Durations", "1::second => now;\nnow + 2::ms => time t;\n(now - t) / 1::samp => float n;", {}},
    {"LoopsOnBranchableConditions",
     "while (1.5) { break; }\nuntil (1::samp) { break; }\nwhile (now) { break; }\n"
     "if (1) { } else { }\nrepeat (3) { }\nrepeat (2.7) { }\ndo { } while (0);\n"
     "do { } until (1);",
     {}},
    {"ForLoops",
     "for (0 => int i; i < 3; i++) { if (i == 1) continue; break; }\nfor (;;) { break; }",
     {}},
    {"BreakNestedInIfAndBlock", "while (true) {\n  if (1) { break; }\n  { continue; }\n}", {}},
    {"LoopsInClassBody", "class A {\n  int n;\n  while (n < 3) { n++; if (n == 2) break; }\n}", {}},
    {"ShadowingInNestedBlock", "int x;\n{ float x; 2.5 => x; }\n1 => x;", {}},
    {"FunctionsAndRecursion",
     "fun int add(int a, int b) { return a + b; }\nadd(1, 2) => int c;\n"
     "fun int fact(int n) { if (n <= 1) return 1; return n * fact(n - 1); }\nfact(5) => c;",
     {}},
    {"FunctionUsedBeforeItsDefinition", "f() => int x;\nfun int f() { return 1; }", {}},
    {"ReturnNullAsObject", "fun Object g() { return null; }\nfun void v() { return; }", {}},
    {"ReturnArrayLiteral", "fun int[] h() { return [1, 2]; }", {}},
    {"ReturnSubclassAsParent",
     "class A { }\nclass B extends A { }\nfun A mk() { B b; return b; }",
     {}},
    {"OverloadExactBeforeConversion",
     "fun float f(float a) { return a; }\nfun int f(int a) { return a; }\n"
     "f(1) => int x;\nf(2.5) => float y;",
     {}},
    {"OverloadIntToFloatConversion", "fun float f(float a) { return a; }\nf(1) => float y;", {}},
    {"ClassMembersAndMethods",
     "class A {\n  int x;\n  fun int get() { return x; }\n  fun void set(int v) { v => x; }\n}\n"
     "A a;\na.set(3);\na.get() => int v;\n3 => a.x;",
     {}},
    {"MethodUsesItsOwnClass",
     "class N {\n  N @ next;\n"
     "  fun N tail() { if (next == null) return this; return next.tail(); }\n}",
     {}},
    {"InheritedMethodCalledByName",
     "class A { fun int f() { return 1; } }\nclass B extends A { fun int g() { return f(); } }",
     {}},
    {"OverrideThroughTheHierarchy",
     "class A { fun int f(int a) { return 1; } }\n"
     "class B extends A { fun float f(float a) { return 2.0; } }\n"
     "class C extends B { fun int f(int a) { return 3; } }\n"
     "C c;\nc.f(1) => int i;\nc.f(1.5) => float x;\nA @ p;\nc @=> p;\np.f(2) => int j;",
     {}},
    {"ParentOverloadFoundThroughSubclass",
     "class A { fun int g(int a) { return a; } }\n"
     "class B extends A { fun float g(float a) { return a; } }\nB b;\nb.g(1) => int r;",
     {}},
    {"OverloadOfStaticParentWithOtherArguments",
     "class A { fun static int f(int a) { return a; } }\n"
     "class B extends A { fun int f(float a) { return 1; } }",
     {}},
    {"Statics",
     "class S {\n  static int count;\n  fun static int get() { return count; }\n"
     "  fun static void bump() { count++; }\n}\nS.bump();\nS.get() => int n;\n5 => S.count;",
     {}},
    {"StaticObjectReference", "class S { static Object @ o; }", {}},
    {"MemberAccessThroughDottedPath",
     "class P { int v; }\nclass Q { P @ p; }\nQ q;\n"
     "new P @=> q.p;\n5 => q.p.v;\nq.p.v + 1 => int w;",
     {}},
    {"NestedClassTypePath",
     "class Outer {\n  class Inner { int v; }\n}\n<Outer.Inner> x;\n3 => x.v;",
     {}},
    {"BlockInClassBodyHoldsLocals", "class A {\n  { int k; 1 => k; }\n}", {}},
    {"ArrayLiterals", "[1.0, 2] @=> float a[];\n[[1, 2], [3, 4]] @=> int m[][];", {}},
    {"PureAndInterfaceSignatures",
     "class A { fun pure void f(); }\ninterface I { fun void g(); }",
     {}},
    {"ClassUsesClassDefinedLater", "class A { B @ b; }\nclass B { }", {}},
};
INSTANTIATE_TEST_SUITE_P(Passing, ProgramTable, ::testing::ValuesIn(kPassing),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Programs that fail.
const ProgramCase kFailing[] = {
    // Names and scopes.
    {"UndefinedVariable", "1 => x;", {at(1, "undefined variable 'x'...")}},
    {"UndefinedMemberInClass",
     "class A {\n  fun void f() { y++; }\n}",
     {at(2, "undefined variable/member 'y' in class/namespace 'A'..."),
      at(0, "...in function 'f'")}},
    {"UndefinedType",
     "Foo f;",
     {at(1, "undefined type 'Foo'..."), at(1, "... in declaration ...")}},
    {"BlockLocalGoneAfterBlock", "{ int k; }\nk++;", {at(2, "undefined variable 'k'...")}},
    {"LoopVariableGoneAfterLoop",
     "for (0 => int i; i < 3; i++) { }\ni++;",
     {at(2, "undefined variable 'i'...")}},
    {"ArgumentGoneAfterFunction",
     "fun void f(int a) { }\na++;",
     {at(2, "undefined variable 'a'...")}},
    {"UsedBeforeDeclaration",
     "x + 1 => int y;\n1 => int x;",
     {at(1, "variable/member 'x' is used before declaration...")}},
    {"RedefinitionInSameScope",
     "int x;\nfloat x;",
     {at(2, "'x' has already been defined in the same scope...")}},
    {"ClassRedefinition",
     "class A { }\nclass A { }",
     {at(2, "class/type 'A' is already defined in namespace 'test.chip'")}},
    {"ReservedValueAsName",
     "int now;",
     {at(1, "illegal re-declaration of reserved value 'now'."),
      at(1, "...in variable declaration")}},
    {"MemberNameOfParentRedeclared",
     "class A { int x; }\nclass B extends A { float x; }",
     {at(2, "'x' has already been defined in super class 'A'...")}},
    {"ThisOutsideClass",
     "this;",
     {at(1, "keyword 'this' can be used only inside class definition...")}},

    // Class definitions.
    {"ExtendIncompleteType",
     "class B extends A { }\nclass A { }",
     {at(1, "cannot extend incomplete type 'A'"),
      at(1, "...(note: the parent's declaration must preceed child's)")}},
    {"ExtendPrimitiveType",
     "class B extends int { }",
     {at(1, "cannot extend primitive type 'int'"),
      at(1, "...(note: primitives types are 'int', 'float', 'time', and 'dur')")}},
    {"ExtendUndefinedType",
     "class B extends Nope { }",
     {at(1, "undefined type 'Nope'..."),
      at(1, "undefined super class 'Nope' in definition of class 'B'")}},

    // break, continue, return.
    {"BreakOutsideLoop", "break;", {at(1, "'break' found outside of for/while/until/switch...")}},
    {"ContinueOutsideLoop",
     "int a;\ncontinue;",
     {at(2, "'continue' found outside of for/while/until...")}},
    {"BreakInFunctionOutsideLoop",
     "fun void f() {\n  break;\n}",
     {at(2, "'break' found outside of for/while/until/switch..."), at(0, "...in function 'f'")}},
    {"ReturnOutsideFunction",
     "return;",
     {at(1, "'return' statement found outside function definition")}},
    {"ReturnInClassBody",
     "class A {\n  return;\n}",
     {at(2, "'return' statement found outside function definition")}},
    {"ReturnValueFromVoid",
     "fun void f() {\n  return 1;\n}",
     {at(2, "function 'f@0@test.chip' was defined with return type 'void' -- "
            "but returning type 'int'"),
      at(0, "...in function 'f'")}},
    {"ReturnNothingFromInt",
     "fun int f() { return; }",
     {at(1, "function 'f@0@test.chip' was defined with return type 'int' -- "
            "but returning type 'void'"),
      at(0, "...in function 'f'")}},
    {"ReturnIntFromFloat",
     "fun float f() { return 1; }",
     {at(1, "function 'f@0@test.chip' was defined with return type 'float' -- "
            "but returning type 'int'"),
      at(0, "...in function 'f'")}},
    {"ReturnParentAsSubclass",
     "class A { }\nclass B extends A { }\nfun B mk() { A a; return a; }",
     {at(3, "function 'mk@0@test.chip' was defined with return type 'B' -- but returning type 'A'"),
      at(0, "...in function 'mk'")}},

    // Function definitions.
    {"DuplicateArgument",
     "fun int f(int a, float a) { return 1; }",
     {at(1, "in function 'f':"), at(1, "argument 2 'a' is already defined in this scope")}},
    {"DeclarationWithoutCode",
     "fun void f();",
     {at(1, "function declaration must contain code..."),
      at(1, "(unless in interface, or is declared 'pure')"), at(1, "...at function 'f'")}},
    {"PureOutsideClass",
     "fun pure void f();",
     {at(1, "non-class function cannot be declared as 'pure'..."), at(1, "...at function 'f'")}},
    {"PureWithCode",
     "class A { fun pure void f() { } }",
     {at(1, "'pure' function signatures cannot contain code..."), at(1, "...at function 'f'")}},
    {"InterfaceWithCode",
     "interface I { fun void f() { } }",
     {at(1, "interface function signatures cannot contain code..."), at(1, "...at function 'f'")}},

    // Overriding.
    {"OverrideOfStatic",
     "class A { fun static int f(int a) { return a; } }\n"
     "class B extends A { fun int f(int a) { return a; } }",
     {at(2, "function 'B.f' resembles 'A.f' but cannot override..."),
      at(2, "...(reason: 'A.f' is declared as 'static')")}},
    {"OverrideByStatic",
     "class A { fun int f(int a) { return a; } }\n"
     "class B extends A { fun static int f(int a) { return a; } }",
     {at(2, "function 'B.f' resembles 'A.f' but cannot override..."),
      at(2, "...(reason: 'B.f' is declared as 'static')")}},
    {"OverrideByPure",
     "class A { fun int f(int a) { return a; } }\nclass B extends A { fun pure int f(int a); }",
     {at(2, "function 'B.f' resembles 'A.f' but cannot override..."),
      at(2, "...(reason: 'B.f' is declared as 'pure')")}},
    {"OverrideWithOtherReturnType",
     "class A { fun int f() { return 1; } }\nclass B extends A { fun float f() { return 1.0; } }",
     {at(2, "function signatures differ in return type..."),
      at(2, "function 'B.f' matches 'A.f' but cannot override...")}},
    {"OverrideWithSubclassReturnType",
     "class A { fun Object f() { return null; } }\n"
     "class B extends A { fun string f() { return \"\"; } }",
     {at(2, "function signatures differ in return type..."),
      at(2, "function 'B.f' matches 'A.f' but cannot override...")}},
    {"OverrideTwoLevelsUp",
     "class A { fun static int f(int a) { return a; } }\nclass B extends A { }\n"
     "class C extends B { fun int f(int a) { return a; } }",
     {at(3, "function 'C.f' resembles 'A.f' but cannot override..."),
      at(3, "...(reason: 'A.f' is declared as 'static')")}},
    {"FunctionNameOfParentValue",
     "class A { int f; }\nclass B extends A { fun void f() { } }",
     {at(2, "function name 'f' conflicts with previously defined value..."),
      at(2, "from super class 'A'...")}},

    // Calls.
    {"NoMatchingOverload",
     "fun void f(int a) { }\nf(2.5);",
     {at(2, "argument type(s) do not match:"), at(2, "... for function 'f(...)' ..."),
      at(2, "...(please check the argument types)")}},
    {"NoMatchingMemberOverload",
     "class A { fun void f(int a) { } }\nA a;\na.f(\"s\");",
     {at(3, "arguments type(s) do not match:"), at(3, "... for function 'A.f(...)' ..."),
      at(3, "...(please check the argument types)")}},
    {"MemberWithoutInstance",
     "class A { fun void f() { } }\nA.f();",
     {at(2, "cannot access member 'A.f' without object instance...")}},
    {"NoSuchMember",
     "class P { int v; }\nP p;\np.w => int z;",
     {at(3, "class 'P' has no member 'w'")}},
    {"PrimitiveHasNoMembers",
     "int a;\na.foo;",
     {at(2, "type 'int' does not have members - invalid use in dot expression")}},

    // Statics.
    {"StaticAtFileLevel",
     "static int a;",
     {at(1, "static variables must be declared at class scope...")}},
    {"StaticObjectNotReference",
     "class A {\n  static Object o;\n}",
     {at(2, "cannot declare static non-primitive objects (yet)..."),
      at(2, "...(hint: declare as ref (@) & initialize outside for now)")}},
    {"NonStaticMemberFromStaticFunction",
     "class A {\n  int m;\n  fun static void s() { m++; }\n}",
     {at(3, "non-static member 'm' used from static function..."), at(0, "...in function 's'")}},

    // Non-mutable targets.
    {"ChipIntoValue",
     "1 => 2;",
     {at(1, "cannot chip/assign '=>' on types 'int' => 'int'..."),
      at(1, "...(reason: right-side operand is not mutable)")}},
    {"PlusChipIntoValue",
     "1 +=> 2;",
     {at(1, "cannot assign '+=>' on types 'int' +=> 'int'..."),
      at(1, "...(reason: --- right-side operand is not mutable)")}},
    {"PostfixOnValue",
     "5++;",
     {at(1, "postfix operator '++' cannot be used on non-mutable data-type...")}},
    {"PrefixOnValue",
     "++5;",
     {at(1, "prefix unary operator '++' cannot be used on non-mutable data-types...")}},

    // Array literals without a common type.
    {"ArrayLiteralIntThenFloat",
     "[1, 2.0] @=> float a[];",
     {at(1, "array init [...] contains incompatible types...")}},
    {"ArrayLiteralIntAndString",
     "[1,\n \"a\"] @=> int b[];",
     {at(2, "array init [...] contains incompatible types...")}},

    // Conditions the emitter cannot branch on.
    {"IfOnString",
     "if (\"text\") { }",
     {at(1, "invalid type 'string' in if condition..."),
      at(1, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"WhileOnObject",
     "Object o;\nwhile (o) { }",
     {at(2, "invalid type 'Object' in while conditional..."),
      at(2, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"UntilOnString",
     "until (\"x\") { }",
     {at(1, "invalid type 'string' in until conditional..."),
      at(1, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"DoWhileOnString",
     "do { } while (\"x\");",
     {at(1, "invalid type 'string' in do/while conditional..."),
      at(1, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"DoUntilOnNull",
     "do { } until (null);",
     {at(1, "invalid type '@null' in do/until conditional..."),
      at(1, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"ForOnString",
     "for (;\n \"x\"; ) { }",
     {at(2, "invalid type 'string' in for conditional..."),
      at(2, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"IfOnArray",
     "int a[2];\nif (a) { }",
     {at(2, "invalid type 'int[]' in if condition..."),
      at(2, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"IfOnVoidCall",
     "fun void v() { }\nif (v()) { }",
     {at(2, "invalid type 'void' in if condition..."),
      at(2, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"IfOnComplex",
     "if (#(1, 2)) { }",
     {at(1, "invalid type 'complex' in if condition..."),
      at(1, "...(condition must be of type 'int', 'float', 'time', or 'dur')")}},
    {"ConditionInFunctionBody",
     "fun void f(string s) {\n  while (s) { }\n}",
     {at(2, "invalid type 'string' in while conditional..."),
      at(2, "...(condition must be of type 'int', 'float', 'time', or 'dur')"),
      at(0, "...in function 'f'")}},
    {"RepeatOnString",
     "repeat (\"x\") { }",
     {at(1, "loop * conditional must be of type 'int'...")}},
    {"RepeatOnDur",
     "repeat (1::second) { }",
     {at(1, "loop * conditional must be of type 'int'...")}},
};
INSTANTIATE_TEST_SUITE_P(Failing, ProgramTable, ::testing::ValuesIn(kFailing),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Refusals beyond the plain language rules, so that whatever checks can be
// emitted: assignments to constants and reserved values, assigning operators
// on `now` other than => and +=>, ++/-- on anything but an int, and a
// conditional expression on a non-int. The wording is the checker's own; the
// table holds each to a failure whose first line is at the offending line
// and names the culprit.
struct RefusalCase {
  const char* source;
  int line;
  const char* names;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.source; }

class Refusals : public TypeCheckTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, FailWithAMessageAtTheLineNamingTheCulprit) {
  const RefusalCase& c = GetParam();
  CheckResult result = check_program(c.source);
  EXPECT_FALSE(result.ok) << c.source;
  ASSERT_FALSE(result.lines.empty()) << c.source;
  EXPECT_EQ(result.lines[0].rfind(at(c.line, ""), 0), 0u) << result.lines[0];
  EXPECT_NE(result.lines[0].find(c.names), std::string::npos) << result.lines[0];
}

INSTANTIATE_TEST_SUITE_P(Table, Refusals,
                         ::testing::Values(RefusalCase{"1 => true;", 1, "'true'"},
                                           RefusalCase{"3.0 => pi;", 1, "'pi'"},
                                           RefusalCase{"1::samp => second;", 1, "'second'"},
                                           RefusalCase{"int x;\n2 +=> false;", 2, "'false'"},
                                           RefusalCase{"pi++;", 1, "'pi'"},
                                           RefusalCase{"--true;", 1, "'true'"},
                                           RefusalCase{"1::second -=> now;", 1, "'now'"},
                                           RefusalCase{"dur d;\nd *=> now;", 2, "'now'"},
                                           RefusalCase{"float f;\nf++;", 2, "'float'"},
                                           RefusalCase{"string s;\ns++;", 2, "'string'"},
                                           RefusalCase{"Object o;\n--o;", 2, "'Object"},
                                           RefusalCase{"1.0 ? 2 : 3;", 1, "'float'"}));

// ---------------------------------------------------------------------------
// Commit and rollback across compilations in one environment.
class Compilations : public TypeCheckTest {};

TEST_F(Compilations, FailedFileLeavesNothingInTheGlobalNamespace) {
  CheckResult failed = check_program("public class Foo { int x; }\nundefined_var;");
  ASSERT_FALSE(failed.ok);
  EXPECT_EQ(env->global()->lookup_type("Foo", 1), nullptr);

  CheckResult again = check_program("public class Foo { float y; }\nFoo f;\n2.5 => f.y;");
  EXPECT_TRUE(again.ok) << joined(again.lines);
}

TEST_F(Compilations, CommittedClassIsSeenByLaterFilesAndCannotBeRedefined) {
  ASSERT_TRUE(check_program("public class Bar { int n; }").ok);
  CheckResult use = check_program("Bar b;\n3 => b.n;");
  EXPECT_TRUE(use.ok) << joined(use.lines);

  CheckResult redefine = check_program("public class Bar { }");
  EXPECT_FALSE(redefine.ok);
  EXPECT_EQ(joined(redefine.lines),
            joined({at(1, "class/type 'Bar' is already defined in namespace 'global'")}));
}

TEST_F(Compilations, FileNamesStayPrivateToTheirFile) {
  ASSERT_TRUE(check_program("class Local { }\nfun void helper() { }\nint shared;").ok);
  CheckResult again = check_program("class Local { }\nfun void helper() { }\nint shared;");
  EXPECT_TRUE(again.ok) << joined(again.lines);
  CheckResult use = check_program("shared++;");
  EXPECT_EQ(joined(use.lines), joined({at(1, "undefined variable 'shared'...")}));
}

TEST_F(Compilations, FailedLoopLeavesNoStrayBreakBehind) {
  ASSERT_FALSE(check_program("while (1) {\n  repeat (2) { undefined_z; }\n}").ok);
  CheckResult stray = check_program("break;");
  EXPECT_FALSE(stray.ok);
  EXPECT_EQ(joined(stray.lines),
            joined({at(1, "'break' found outside of for/while/until/switch...")}));
}

TEST_F(Compilations, FailedFunctionLeavesNoOpenScopeOrFunction) {
  ASSERT_FALSE(check_program("fun int f(int a) {\n  while (a) { undefined_z; }\n}").ok);
  CheckResult after = check_program("return;\n");
  EXPECT_EQ(joined(after.lines),
            joined({at(1, "'return' statement found outside function definition")}));
  CheckResult arg = check_program("a++;");
  EXPECT_EQ(joined(arg.lines), joined({at(1, "undefined variable 'a'...")}));
}

}  // namespace
