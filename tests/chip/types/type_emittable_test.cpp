// Whatever the checker accepts, the code generator must be able to emit.
// These programs each use a form that has no instruction (or would be
// emitted wrongly: values left on the stack, a store through a value, a
// function record taken for an object ...): the checker refuses them, at
// the offending line. The forms next to them that can be emitted still
// check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "type_check_support.h"

namespace {

struct Refusal {
  const char* source;
  int line;
  const char* first;  // first printed message, without its position
};

struct Kept {
  const char* source;
};

class TypeEmittableTest : public TypeCheckTest {};

}  // namespace

TEST_F(TypeEmittableTest, FormsWithoutInstructionsAreRefusedAtTheirLine) {
  const std::vector<Refusal> cases = {
      // Assigning arithmetic: a string goes into a string variable only, and
      // no dur is multiplied into a float variable.
      {"int i;\n\"s\" +=> i;", 2, "cannot resolve operator '+=>' on types 'string' and 'int'"},
      {"float f;\n\"s\" +=> f;", 2, "cannot resolve operator '+=>' on types 'string' and 'float'"},
      {"dur d; float f;\nd *=> f;", 2, "cannot resolve operator '*=>' on types 'dur' and 'float'"},
      // Comparisons: no complex or polar values, no order between objects.
      {"complex c;\nc == c;", 2, "cannot resolve operator '==' on types 'complex' and 'complex'"},
      {"polar p;\np != p;", 2, "cannot resolve operator '!=' on types 'polar' and 'polar'"},
      {"complex c;\nc < c;", 2, "cannot resolve operator '<' on types 'complex' and 'complex'"},
      {"polar p;\n2 >= p;", 2, "cannot resolve operator '>=' on types 'int' and 'polar'"},
      {"1 ==\n#(1, 2);", 1, "cannot resolve operator '==' on types 'int' and 'complex'"},
      {"Object a, b;\na < b;", 2, "cannot resolve operator '<' on types 'Object' and 'Object'"},
      {"Event e;\n\"s\" >= e;", 2, "cannot resolve operator '>=' on types 'string' and 'Event'"},
      // Logical and bitwise operators take ints; only << appends to arrays.
      {"int a[2];\na | 1;", 2, "cannot resolve operator '|' on types 'int[]' and 'int'"},
      {"int a[2];\na & 1;", 2, "cannot resolve operator '&' on types 'int[]' and 'int'"},
      {"int a[2];\na ^ 1;", 2, "cannot resolve operator '^' on types 'int[]' and 'int'"},
      {"int a[2];\na && 1;", 2, "cannot resolve operator '&&' on types 'int[]' and 'int'"},
      {"int a[2];\na || 1;", 2, "cannot resolve operator '||' on types 'int[]' and 'int'"},
      {"int a[2]; int b;\na &=> b;", 2, "cannot resolve operator '&=>' on types 'int[]' and 'int'"},
      {"int a[2]; int b;\na |=> b;", 2, "cannot resolve operator '|=>' on types 'int[]' and 'int'"},
      {"int a[2]; int b;\na ^=> b;", 2, "cannot resolve operator '^=>' on types 'int[]' and 'int'"},
      {"int a[2]; int b;\na >>=> b;", 2,
       "cannot resolve operator '>>=>' on types 'int[]' and 'int'"},
      {"int a[2]; int b;\na <<=> b;", 2,
       "cannot resolve operator '<<=>' on types 'int[]' and 'int'"},
      // A string is copied into a string variable's own object: only into a
      // string variable.
      {"Object o;\n\"s\" @=> o;", 2, "cannot assign '@=>' on types 'string' @=> 'Object'..."},
      {"string s;\ns => Object o;", 2,
       "cannot resolve operator '=>' on types 'string' and 'Object'..."},
      // One value where one is taken.
      {"int a[2][2];\na[1, 1];", 2, "multi-value ([]) operation not supported/implemented..."},
      {"int a[(2, 3)];", 1, "multi-value ([]) operation not supported/implemented..."},
      {"new int[(2, 3)] @=> int a[];", 1,
       "multi-value ([]) operation not supported/implemented..."},
      {"int a[2];\n(a, a)[0];", 2, "multi-value ([]) operation not supported/implemented..."},
      {"int x;\n-(x, 2.5);", 2, "multi-value (-) operation not supported/implemented..."},
      {"int x, y;\n(x, y)++;", 2, "multi-value (++) operation not supported/implemented..."},
      {"int x, y;\n--(x, y);", 2, "multi-value (--) operation not supported/implemented..."},
      {"(1, 2.5) $ int;", 1, "multi-value ($) operation not supported/implemented..."},
      {"(1, 2)::second;", 1, "multi-value (::) operation not supported/implemented..."},
      {"1::(second, ms);", 1, "multi-value (::) operation not supported/implemented..."},
      {"complex c;\n(c, c).re;", 2, "multi-value (.) operation not supported/implemented..."},
      {"fun void f() {} fun void g() {}\n(f, g)();", 2,
       "multi-value (call) operation not supported/implemented..."},
      {"1 ? (1, 2) : 3;", 1, "multi-value (?:) operation not supported/implemented..."},
      {"(1, 0) ? 1 : 3;", 1, "multi-value (?:) operation not supported/implemented..."},
      {"fun void f() {}\nspork ~ (f(), f());", 2,
       "multi-value (spork ~) operation not supported/implemented..."},
      {"if (1, 2.5) { }", 1, "multi-value if condition not supported/implemented..."},
      {"while (1, 2) { }", 1, "multi-value while conditional not supported/implemented..."},
      {"until (1, 2) { }", 1, "multi-value until conditional not supported/implemented..."},
      {"do { } while (1, 2);", 1, "multi-value do/while conditional not supported/implemented..."},
      {"do { } until (1, 2);", 1, "multi-value do/until conditional not supported/implemented..."},
      {"for (; 1, 2; ) { }", 1, "multi-value for conditional not supported/implemented..."},
      {"repeat (1, 2) { }", 1, "multi-value repeat count not supported/implemented..."},
      {"fun int f() {\n  return 1, 2;\n}", 2, "multi-value return value not supported/implemented..."},
      // A debug print of several values is a statement of its own.
      {"<<< 1, 2 >>> => int x;", 1, "multi-value (<<< >>>) operation not supported/implemented..."},
      {"<<< 1, 2 >>>, 3;", 1, "multi-value (<<< >>>) operation not supported/implemented..."},
      {"for (; <<< 1, 2 >>>; ) { }", 1,
       "multi-value (<<< >>>) operation not supported/implemented..."},
      // Void values: popped by the first value's type, passed only alone,
      // held in no array.
      {"fun void f() {}\n1, f();", 2, "cannot mix 'void' and non-void values in an expression list..."},
      {"fun void f() {}\nf(),\n1;", 3, "cannot mix 'void' and non-void values in an expression list..."},
      {"fun void f() {}\n<<< f(), 1 >>>;", 2,
       "cannot mix 'void' and non-void values in an expression list..."},
      {"fun void f() {} fun void g() {}\nf(g(), 1);", 2, "argument type(s) do not match:"},
      {"fun void f() {}\n[f(), f()];", 2, "array init [...] cannot hold values of type 'void'..."},
      // A component is stored through its variable's address.
      {"1.0 => #(1, 2).re;", 1, "cannot chip/assign '=>' on types 'float' => 'float'..."},
      {"complex c;\n1.0 => (c + c).im;", 2, "cannot chip/assign '=>' on types 'float' => 'float'..."},
      {"polar p;\n1.0 +=> (p * p).mag;", 2, "cannot assign '+=>' on types 'float' +=> 'float'..."},
      // A declaration leaves its variable's address: a value only when it
      // instantiates an object. The scan passes create no variable inside
      // prefix operators, debug prints and literals.
      {"int x => int y;", 1, "cannot use the declaration of 'x' as a value..."},
      {"UGen u;\nUGen @ w => u;", 2, "cannot use the declaration of 'w' as a value..."},
      {"UGen u;\nu => UGen @ w;", 2, "cannot use the declaration of 'w' as a value..."},
      {"Object o;\n(Object @ p) == o;", 2, "cannot use the declaration of 'p' as a value..."},
      {"int d[] @=> int e[];", 1, "cannot use the declaration of 'd' as a value..."},
      {"if (int x) { }", 1, "cannot use the declaration of 'x' as a value..."},
      {"repeat (int n) { }", 1, "cannot use the declaration of 'n' as a value..."},
      {"fun void f(int a) {}\nf(int x);", 2, "cannot use the declaration of 'x' as a value..."},
      {"fun int f() {\n  return int x;\n}", 2, "cannot use the declaration of 'x' as a value..."},
      {"int a[2];\na[int i];", 2, "cannot use the declaration of 'i' as a value..."},
      {"(float f)::second;", 1, "cannot use the declaration of 'f' as a value..."},
      {"-(int x);", 1, "declaration of 'x' inside this expression not supported/implemented..."},
      {"++(int x);", 1, "declaration of 'x' inside this expression not supported/implemented..."},
      {"<<< 1, int x >>>;", 1,
       "declaration of 'x' inside this expression not supported/implemented..."},
      {"[(int x), 2];", 1, "declaration of 'x' inside this expression not supported/implemented..."},
      // No member is named `this`; the name of a global duration always
      // denotes the duration.
      {"class K {\n  fun void f() { K k; k.this @=> K j; }\n}", 2,
       "keyword 'this' cannot be reached as a member 'K.this'..."},
      {"dur d_zero;\nd_zero => now;", 2, "'d_zero' hides the global duration 'd_zero'..."},
      {"fun void f(dur d_zero) {\n  1::ms => d_zero;\n}", 2,
       "'d_zero' hides the global duration 'd_zero'..."},
      // A class name only reaches static members.
      {"class K { static int x; }\nK;", 2, "cannot use class name 'K' as a value..."},
      {"Object o;\nObject + \"s\";", 2, "cannot use class name 'Object' as a value..."},
      {"fun void g(Object o) {}\ng(Event);", 2, "cannot use class name 'Event' as a value..."},
      {"class O { class I { static int x; } }\nO.I @=> Object o;", 2,
       "cannot use class name 'I' as a value..."},
      {"<<< global >>>;", 1, "cannot use class name 'global' as a value..."},
      // A member function only as a callee; a function value is no object.
      {"class K { fun void m() {} }\nK k;\nk.m;", 3, "cannot use member function 'm' as a value..."},
      {"class K {\n  fun void m() {}\n  fun void n() { <<< m >>>; }\n}", 3,
       "cannot use member function 'm' as a value..."},
      {"fun void f() {}\nf @=> Object o;", 2, "cannot assign '@=>' on types '[function]' @=> 'Object'..."},
      {"fun void g(Object o) {} fun void f() {}\ng(f);", 2, "argument type(s) do not match:"},
      {"fun void f() {}\nfun Object g() { return f; }", 2,
       "function 'g@0@test.chip' was defined with return type 'Object' -- but returning type "
       "'[function]'"},
      {"fun void f() {}\n[f];", 2, "array init [...] cannot hold values of type '[function]'..."},
      {"fun void f() {}\nf $ Object;", 2, "invalid cast to 'Object' from '[function]'..."},
      {"fun void f() {}\nf + \"s\";", 2, "cannot perform '+' on object references..."},
      {"fun void f() {}\nObject a[0];\na << f;", 3,
       "cannot resolve operator '<<' on types 'Object[]' and '[function]'"},
  };
  for (const Refusal& c : cases) {
    fresh_type_env();
    CheckResult r = check_program(c.source);
    EXPECT_FALSE(r.ok) << c.source;
    ASSERT_FALSE(r.lines.empty()) << c.source;
    EXPECT_EQ(r.lines[0], "[test.chip]:line(" + std::to_string(c.line) + "): " + c.first)
        << c.source;
  }
}

TEST_F(TypeEmittableTest, NeighbouringFormsThatCanBeEmittedStillCheck) {
  const std::vector<Kept> cases = {
      {"string s; int i; float f;\n\"a\" +=> s; i +=> s; f +=> s; Object o; o +=> s;"},
      {"\"a\" + 1; 1 + \"a\"; 2.5 + \"a\"; Object o; o + \"a\";"},
      {"dur d; float f;\n2.0 *=> d; 2 *=> f; 2.0 /=> d; d %=> d; d * 2.0; 2 * d;"},
      {"complex c; polar p;\nc + 1 => c; p * 2 => p; c - c; p / p;"},
      {"1 < 2.5; now >= now; 1::ms != 2::ms; \"a\" < \"b\"; string s; s <= null; null < null;"},
      {"Object a, b; a == b; a != null; \"s\" == a;"},
      {"int a[0]; float b[0]; int c[0][0];\na << 1 << 2; b << 1; c << a; 1 | 2; 3 & 1; 1 ^ 2;"},
      {"int x; x &=> x; x |=> x; x ^=> x; x >>=> x; x <<=> x; 1 && 0 || 1;"},
      {"string s; \"a\" @=> s; \"b\" => s; null @=> s; null @=> Object o; Event e; e @=> o;"},
      {"int a[2][3]; a[1][2]; a[1]; int m[0]; m[\"k\"]; new int[2][2] @=> int n[][];"},
      {"complex c; polar p; complex a[2];\n1.0 => c.re; 2 => p.phase; 3.0 => a[1].im; (c + c).re;"},
      {"<<< 1, 2.5, \"s\" >>>; <<< 1 >>> => int x;\nfor (0 => int i; i < 2; i++, <<< i >>>) { }"},
      {"fun void f() {} fun void g() {}\nf(), g(); <<< f() >>>; <<< f(), g() >>>; f(g()); g() => f; () => f;"},
      {"class K { static int x; fun static int s() { return 1; } }\nK.x++; 1 => K.x; K.s();"},
      {"class O { class I { static int x; } }\nO.I.x => int y;"},
      {"class K { fun void m(int i) {} fun void n() { m(1); this.m(2); spork ~ m(3); } }\n"
       "K k; k.m(1); 1 => k.m; spork ~ k.m(2);"},
      {"fun void f() {} fun void g() {}\nf; f == g; <<< f >>>; 1 ? f : g;"},
      {"fun void f(Object o) {} f(null); null $ Event; Object o; [o, null]; [null, o];"},
      {"UGen u => dac; u => UGen w; Event e => now; (int x)++; 1 => int z; 1 +=> int y;\n"
       "int a, b; int q[3] @=> int r[]; new int[2] @=> int s[]; (complex c).re;\n"
       "1.0 => (complex d).im; for (0 => int i; i < 2; int j) { }"},
      {"d_zero => now; 2::d_zero; class K { dur d_zero; } K k; k.d_zero => now;"},
  };
  for (const Kept& c : cases) {
    fresh_type_env();
    CheckResult r = check_program(c.source);
    EXPECT_TRUE(r.ok) << c.source << "\n" << (r.lines.empty() ? "" : r.lines[0]);
  }
}
