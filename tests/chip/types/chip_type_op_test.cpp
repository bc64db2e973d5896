// Operator typing rules: the result table, the implicit conversions, the
// chip operators, the protected assignment targets and the cast rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/front/chip_absyn.h"
#include "chip/types/chip_type.h"
#include "chip/types/chip_type_op.h"
#include "log_capture.h"
#include "type_check_support.h"

class TypeOpTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    pool = new_pool();
    previous = set_current_pool(pool);
  }
  void TearDown() override {
    set_current_pool(previous);
    delete_pool(pool);
    TypeCheckTest::TearDown();
  }

  // A type by name; each trailing "[]" adds an array dimension.
  Chip_Type* type(std::string name) {
    unsigned long depth = 0;
    while (name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0) {
      depth++;
      name.resize(name.size() - 2);
    }
    Chip_Type* base = name == "null" ? &t_null : env->global()->lookup_type(name, 1);
    EXPECT_NE(base, nullptr) << name;
    if (!base || depth == 0) return base;
    return new_array_type(env, &t_array, depth, base, env->global());
  }

  // An operand of the given type: a variable `x` (kind ""), a literal value
  // ("#"), or the named keyword or global value (its value recorded as the
  // checker records it).
  a_Exp operand(const std::string& type_name, const std::string& kind = "") {
    a_Exp e;
    if (kind == "#") {
      e = new_exp_from_int(0, 1);
    } else {
      e = new_exp_from_id(kind.empty() ? "x" : kind.c_str(), 1);
      if (!kind.empty()) e->primary.value = env->global()->lookup_value(kind, 1);
    }
    e->type = type(type_name);
    return e;
  }

  // Runs one operator and describes the outcome: the result's name, then
  // " L>t" / " R>t" for an operand converted to t and " R@" for a right
  // operand marked as an address; or "!" and the messages (without their
  // position), joined by " / ".
  std::string outcome(int op, a_Exp lhs, a_Exp rhs) {
    a_Exp_Binary_ binary{};
    binary.lhs = lhs;
    binary.op = op;
    binary.rhs = rhs;
    binary.line_no = 1;
    Chip_Type* result = nullptr;
    std::vector<std::string> lines =
        printed_lines([&] { result = type_engine_check_op(env, op, lhs, rhs, &binary); });
    std::string text;
    if (result) {
      EXPECT_TRUE(lines.empty()) << lines[0];
      text = result->display_name();
      if (lhs->cast_to) text += " L>" + lhs->cast_to->display_name();
      if (rhs->cast_to) text += " R>" + rhs->cast_to->display_name();
      if (rhs->emit_var) text += " R@";
      return text;
    }
    text = "!";
    for (size_t i = 0; i < lines.size(); i++) {
      size_t at = lines[i].find("line(1): ");
      EXPECT_NE(at, std::string::npos) << lines[i];
      text += (i ? " / " : "") + lines[i].substr(at == std::string::npos ? 0 : at + 9);
    }
    return text;
  }

  a_Pool pool = nullptr;
  a_Pool previous = nullptr;
};

namespace {

struct OpCase {
  int op;
  const char* left;
  const char* right;
  std::string expected;
  const char* right_kind = "";  // see operand()
  const char* left_kind = "";
};

}  // namespace

TEST_F(TypeOpTest, ArithmeticComparisonAndBitwiseOperators) {
  const std::vector<OpCase> cases = {
      // + (with the string rules and conversions)
      {ae_op_plus, "int", "int", "int"},
      {ae_op_plus, "float", "float", "float"},
      {ae_op_plus, "int", "float", "float L>float"},
      {ae_op_plus, "float", "int", "float R>float"},
      {ae_op_plus, "dur", "dur", "dur"},
      {ae_op_plus, "dur", "time", "time"},
      {ae_op_plus, "time", "dur", "time"},
      {ae_op_plus, "complex", "complex", "complex"},
      {ae_op_plus, "int", "complex", "complex L>complex"},
      {ae_op_plus, "float", "polar", "polar L>polar"},
      {ae_op_plus, "polar", "int", "polar R>polar"},
      {ae_op_plus, "string", "int", "string"},
      {ae_op_plus, "int", "string", "string"},
      {ae_op_plus, "string", "float", "string"},
      {ae_op_plus, "string", "string", "string"},
      {ae_op_plus, "Object", "string", "string L>string"},
      {ae_op_plus, "string", "Event", "string R>string"},
      {ae_op_plus, "time", "time", "!cannot resolve operator '+' on types 'time' and 'time'"},
      {ae_op_plus, "complex", "polar",
       "!cannot resolve operator '+' on types 'complex' and 'polar'"},
      {ae_op_plus, "Object", "Object", "!cannot perform '+' on object references..."},
      {ae_op_plus, "string", "dur", "!cannot perform '+' on object references..."},
      {ae_op_plus, "int[]", "int", "!cannot perform '+' on object references..."},
      // -
      {ae_op_minus, "time", "time", "dur"},
      {ae_op_minus, "time", "dur", "time"},
      {ae_op_minus, "int", "float", "float L>float"},
      {ae_op_minus, "dur", "time", "!cannot resolve operator '-' on types 'dur' and 'time'"},
      {ae_op_minus, "Object", "Object", "!cannot perform '-' on object references..."},
      {ae_op_minus, "int", "string", "!cannot perform '-' on object references..."},
      // * and /
      {ae_op_times, "int", "dur", "dur L>float"},
      {ae_op_times, "dur", "int", "dur R>float"},
      {ae_op_times, "float", "dur", "dur"},
      {ae_op_times, "dur", "float", "dur"},
      {ae_op_times, "dur", "dur", "!cannot resolve operator '*' on types 'dur' and 'dur'"},
      {ae_op_divide, "dur", "dur", "float"},
      {ae_op_divide, "time", "dur", "float"},
      {ae_op_divide, "dur", "int", "dur R>float"},
      {ae_op_divide, "dur", "float", "dur"},
      {ae_op_divide, "int", "dur", "!cannot resolve operator '/' on types 'int' and 'dur'"},
      {ae_op_divide, "polar", "polar", "polar"},
      // %
      {ae_op_percent, "float", "int", "float R>float"},
      {ae_op_percent, "int", "int", "int"},
      {ae_op_percent, "time", "dur", "dur"},
      {ae_op_percent, "dur", "time", "!cannot resolve operator '%' on types 'dur' and 'time'"},
      // comparisons
      {ae_op_eq, "int", "int", "int"},
      {ae_op_eq, "int", "float", "int L>float"},
      {ae_op_lt, "dur", "dur", "int"},
      {ae_op_ge, "complex", "complex",
       "!cannot resolve operator '>=' on types 'complex' and 'complex'"},
      {ae_op_eq, "polar", "polar", "!cannot resolve operator '==' on types 'polar' and 'polar'"},
      {ae_op_neq, "int", "complex", "!cannot resolve operator '!=' on types 'int' and 'complex'"},
      {ae_op_lt, "string", "string", "int"},
      {ae_op_le, "string", "null", "int"},
      {ae_op_gt, "Object", "Object", "!cannot resolve operator '>' on types 'Object' and 'Object'"},
      {ae_op_lt, "Event", "string", "!cannot resolve operator '<' on types 'Event' and 'string'"},
      {ae_op_neq, "Object", "string", "int"},
      {ae_op_eq, "null", "Event", "int"},
      {ae_op_eq, "int", "string", "!cannot resolve operator '==' on types 'int' and 'string'"},
      {ae_op_lt, "time", "dur", "!cannot resolve operator '<' on types 'time' and 'dur'"},
      // logical and bitwise
      {ae_op_and, "int", "int", "int"},
      {ae_op_s_xor, "int", "int", "int"},
      {ae_op_s_or, "int[]", "int", "!cannot resolve operator '|' on types 'int[]' and 'int'"},
      {ae_op_or, "int[]", "int", "!cannot resolve operator '||' on types 'int[]' and 'int'"},
      {ae_op_or, "float", "int", "!cannot resolve operator '||' on types 'float' and 'int'"},
      {ae_op_shift_right, "int", "int", "int"},
      {ae_op_shift_right, "int[]", "int",
       "!cannot resolve operator '>>' on types 'int[]' and 'int'"},
      // << appends to arrays
      {ae_op_shift_left, "int", "int", "int"},
      {ae_op_shift_left, "float[]", "int", "float[] R>float"},
      {ae_op_shift_left, "complex[]", "polar", "complex[] R>complex"},
      {ae_op_shift_left, "polar[]", "float", "polar[] R>polar"},
      {ae_op_shift_left, "Object[]", "string", "Object[]"},
      {ae_op_shift_left, "int[][]", "int[]", "int[][]"},
      {ae_op_shift_left, "int[][]", "int",
       "!cannot resolve operator '<<' on types 'int[][]' and 'int'"},
      {ae_op_shift_left, "int[]", "float",
       "!cannot resolve operator '<<' on types 'int[]' and 'float'"},
      // stream operators on IO
      {ae_op_arrow_left, "IO", "int", "IO"},
      {ae_op_arrow_right, "FileIO", "string", "FileIO"},
      {ae_op_arrow_right, "IO", "float", "!cannot perform I/O assignment via '->' to non-mutable value",
       "", "#"},
  };
  for (const OpCase& c : cases) {
    EXPECT_EQ(outcome(c.op, operand(c.left, c.left_kind), operand(c.right, c.right_kind)),
              c.expected)
        << op2str(c.op) << " " << c.left << ", " << c.right;
  }
}

TEST_F(TypeOpTest, AssigningOperators) {
  const std::vector<OpCase> cases = {
      {ae_op_plus_chip, "int", "int", "int R@"},
      {ae_op_plus_chip, "int", "float", "float L>float R@"},
      {ae_op_plus_chip, "int", "complex", "complex L>complex R@"},
      {ae_op_plus_chip, "float", "polar", "polar L>polar R@"},
      {ae_op_plus_chip, "dur", "time", "time R@"},
      {ae_op_plus_chip, "Object", "string", "string L>string R@"},
      {ae_op_plus_chip, "int", "string", "string R@"},
      {ae_op_plus_chip, "string", "string", "string R@"},
      {ae_op_plus_chip, "string", "int", "!cannot resolve operator '+=>' on types 'string' and 'int'"},
      {ae_op_plus_chip, "string", "float",
       "!cannot resolve operator '+=>' on types 'string' and 'float'"},
      {ae_op_times_chip, "dur", "float", "!cannot resolve operator '*=>' on types 'dur' and 'float'"},
      {ae_op_times_chip, "float", "float", "float R@"},
      {ae_op_shift_left_chip, "int[]", "int",
       "!cannot resolve operator '<<=>' on types 'int[]' and 'int'"},
      {ae_op_s_xor_chip, "int[]", "int", "!cannot resolve operator '^=>' on types 'int[]' and 'int'"},
      {ae_op_plus_chip, "float", "int",
       "!cannot resolve operator '+=>' on types 'float' and 'int'"},
      {ae_op_minus_chip, "dur", "time", "time R@"},
      {ae_op_minus_chip, "time", "time",
       "!cannot resolve operator '-=>' on types 'time' and 'time'"},
      {ae_op_minus_chip, "Event", "Event", "!cannot perform '-=>' on object references..."},
      {ae_op_times_chip, "float", "dur", "dur R@"},
      {ae_op_divide_chip, "float", "dur", "dur R@"},
      {ae_op_divide_chip, "dur", "float",
       "!cannot resolve operator '/=>' on types 'dur' and 'float'"},
      {ae_op_percent_chip, "dur", "dur", "dur R@"},
      {ae_op_percent_chip, "time", "dur",
       "!cannot resolve operator '%=>' on types 'time' and 'dur'"},
      {ae_op_s_and_chip, "int", "int", "int R@"},
      {ae_op_shift_left_chip, "int", "int", "int R@"},
      {ae_op_plus_chip, "int", "int",
       "!cannot assign '+=>' on types 'int' +=> 'int'... / "
       "...(reason: --- right-side operand is not mutable)",
       "#"},
  };
  for (const OpCase& c : cases) {
    EXPECT_EQ(outcome(c.op, operand(c.left, c.left_kind), operand(c.right, c.right_kind)),
              c.expected)
        << op2str(c.op) << " " << c.left << ", " << c.right;
  }
}

TEST_F(TypeOpTest, ChipOperators) {
  const std::vector<OpCase> cases = {
      // =>
      {ae_op_chip, "int", "int", "int R@"},
      {ae_op_chip, "int", "float", "float L>float R@"},
      {ae_op_chip, "int", "polar", "polar L>polar R@"},
      {ae_op_chip, "string", "string", "string R@"},
      {ae_op_chip, "string", "Object",
       "!cannot resolve operator '=>' on types 'string' and 'Object'... / "
       "...(note: a string is copied into a 'string' variable only)"},
      {ae_op_chip, "null", "Object", "Object R@"},
      {ae_op_chip, "time", "time", "time R@", "now"},
      {ae_op_chip, "dur", "time", "time", "now"},
      {ae_op_chip, "Event", "time", "time", "now"},
      {ae_op_chip, "UGen", "UAna", "UAna"},
      {ae_op_chip, "dur", "time", "!cannot resolve operator '=>' on types 'dur' and 'time'..."},
      {ae_op_chip, "float", "int", "!cannot resolve operator '=>' on types 'float' and 'int'..."},
      {ae_op_chip, "Object", "Object",
       "!cannot resolve operator '=>' on types 'Object' and 'Object'... / "
       "...(note: use '@=>' for object reference assignment)"},
      {ae_op_chip, "int", "int",
       "!cannot chip/assign '=>' on types 'int' => 'int'... / "
       "...(reason: right-side operand is not mutable)",
       "#"},
      // @=>
      {ae_op_at_chip, "Object", "Object", "Object R@"},
      {ae_op_at_chip, "Event", "Object", "Object R@"},
      {ae_op_at_chip, "string", "Object",
       "!cannot assign '@=>' on types 'string' @=> 'Object'... / "
       "...(reason: --- a string is copied into a 'string' variable only)"},
      {ae_op_at_chip, "null", "string", "string R@"},
      {ae_op_at_chip, "null", "Event", "Event R@"},
      {ae_op_at_chip, "int", "float", "float L>float R@"},
      {ae_op_at_chip, "Object", "string",
       "!cannot assign '@=>' on types 'Object' @=> 'string'... / "
       "...(reason: --- incompatible types for assignment)"},
      {ae_op_at_chip, "float", "int",
       "!cannot assign '@=>' on types 'float' @=> 'int'... / "
       "...(reason: --- incompatible types for assignment)"},
      {ae_op_at_chip, "Object", "Object",
       "!cannot assign '@=>' on types 'Object' @=> 'Object'... / "
       "...(reason: --- right-side operand is not mutable)",
       "#"},
      // =< and =^
      {ae_op_unchip, "UGen", "UGen", "UGen"},
      {ae_op_unchip, "int", "UGen",
       "!no suitable resolution for binary operator '=<'... / ...on types 'int' and 'UGen'"},
      {ae_op_upchip, "UAna", "UAna", "UAna"},
      {ae_op_upchip, "UGen", "UAna",
       "!no suitable resolution for binary operator '=^'... / ...on types 'UGen' and 'UAna'"},
  };
  for (const OpCase& c : cases) {
    EXPECT_EQ(outcome(c.op, operand(c.left, c.left_kind), operand(c.right, c.right_kind)),
              c.expected)
        << op2str(c.op) << " " << c.left << ", " << c.right << " " << c.right_kind;
  }
}

TEST_F(TypeOpTest, ConstantsReservedValuesAndNowAreProtectedTargets) {
  const std::string now_note =
      " / ...(note: 'now' accepts only '=>' of a time, dur or Event, and '+=>' of a dur)";
  const std::vector<OpCase> cases = {
      {ae_op_chip, "int", "int", "!cannot assign to constant value 'true'", "true"},
      {ae_op_chip, "float", "float", "!cannot assign to constant value 'pi'", "pi"},
      {ae_op_chip, "int", "float", "!cannot assign to constant value 'pi'", "pi"},
      {ae_op_chip, "dur", "dur", "!cannot assign to constant value 'second'", "second"},
      {ae_op_at_chip, "dur", "dur", "!cannot assign to constant value 'samp'", "samp"},
      {ae_op_plus_chip, "float", "float", "!cannot assign to constant value 'pi'", "pi"},
      {ae_op_times_chip, "float", "dur", "!cannot assign to constant value 'ms'", "ms"},
      {ae_op_s_or_chip, "int", "int", "!cannot assign to constant value 'false'", "false"},
      {ae_op_chip, "int", "int", "!cannot assign to reserved value 'maybe'", "maybe"},
      // now: => of a time, dur or Event, +=> of a dur; nothing else.
      {ae_op_plus_chip, "dur", "time", "time R@", "now"},
      {ae_op_minus_chip, "dur", "time",
       "!cannot assign to 'now' with '-=>'..." + now_note, "now"},
      {ae_op_at_chip, "time", "time",
       "!cannot assign to 'now' with '@=>'..." + now_note, "now"},
      {ae_op_divide_chip, "float", "time",
       "!cannot assign to 'now' with '/=>'..." + now_note, "now"},
  };
  for (const OpCase& c : cases) {
    EXPECT_EQ(outcome(c.op, operand(c.left, c.left_kind), operand(c.right, c.right_kind)),
              c.expected)
        << op2str(c.op) << " " << c.left << ", " << c.right_kind;
  }
}

TEST_F(TypeOpTest, OperandShapes) {
  // A multi-variable declaration on either side.
  a_Exp decl = new_exp_decl(nullptr, nullptr, 0, 1);
  decl->type = &t_int;
  decl->decl.num_var_decls = 2;
  EXPECT_EQ(outcome(ae_op_chip, operand("int"), decl),
            "!cannot '=>' from/to a multi-variable declaration");
  decl->decl.num_var_decls = 1;
  decl->emit_var = FALSE;
  EXPECT_EQ(outcome(ae_op_chip, operand("int"), decl), "int R@");

  // Lists: only => takes a list on the left (and only into a function).
  a_Exp list = operand("int");
  list->next = operand("int");
  EXPECT_EQ(outcome(ae_op_plus, list, operand("int")),
            "!multi-value (+) operation not supported/implemented...");
  EXPECT_EQ(outcome(ae_op_chip, list, operand("int")),
            "!multi-value (=>) operation not supported/implemented...");
  a_Exp rlist = operand("int");
  rlist->next = operand("int");
  EXPECT_EQ(outcome(ae_op_chip, operand("int"), rlist),
            "!multi-value (=>) operation not supported/implemented...");
}

TEST_F(TypeOpTest, WholeProgramsThroughTheChecker) {
  struct Case {
    const char* source;
    bool ok;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"fun int f(int a, int b) { return a + b; }\n(1, 2) => f;", true, {}},
      {"fun int f(float a) { return 1; }\n2 => f => int r;", true, {}},
      {"int a; int b; int c;\n(a, b) => c;",
       false,
       {"[test.chip]:line(2): multi-value (=>) operation not supported/implemented..."}},
      {"int a, b;\n1 => int c, d;",
       false,
       {"[test.chip]:line(2): cannot '=>' from/to a multi-variable declaration"}},
      {"Object o;\no => Object p;",
       false,
       {"[test.chip]:line(2): cannot resolve operator '=>' on types 'Object' and 'Object'...",
        "[test.chip]:line(2): ...(note: use '@=>' for object reference assignment)"}},
      {"5::ms => now; Event e; e => now; now + 1::second => now; 2::ms +=> now;", true, {}},
      {"1::samp => second;", false, {"[test.chip]:line(1): cannot assign to constant value 'second'"}},
      {"dur d;\nd -=> now;",
       false,
       {"[test.chip]:line(2): cannot assign to 'now' with '-=>'...",
        "[test.chip]:line(2): ...(note: 'now' accepts only '=>' of a time, dur or Event, and "
        "'+=>' of a dur)"}},
      {"fun void f() {}\nfun void g() {}\ng @=> f;",
       false,
       {"[test.chip]:line(3): cannot assign to constant value 'f'"}},
      {"class K { fun void m() {} }\nK k;\nfun void g() {}\ng @=> k.m;",
       false,
       {"[test.chip]:line(4): cannot assign to constant value 'm'"}},
      {"float x[0];\nx << 3;\nint y;\n1 +=> y;", true, {}},
      {"1 +=> 2;",
       false,
       {"[test.chip]:line(1): cannot assign '+=>' on types 'int' +=> 'int'...",
        "[test.chip]:line(1): ...(reason: --- right-side operand is not mutable)"}},
  };
  for (const Case& c : cases) {
    CheckResult r = check_program(c.source);
    EXPECT_EQ(r.ok, c.ok) << c.source;
    EXPECT_EQ(r.lines, c.lines) << c.source;
  }
}

TEST_F(TypeOpTest, CastValidity) {
  struct Case {
    const char* to;
    const char* from;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"float", "int", true},     {"int", "float", true},      {"complex", "int", true},
      {"complex", "float", true}, {"complex", "polar", true},  {"polar", "int", true},
      {"polar", "float", true},   {"polar", "complex", true},  {"Object", "string", true},
      {"string", "Object", true}, {"Event", "null", true},     {"Object", "int[]", true},
      {"UGen", "UAna", true},     {"UAna", "UGen", true},      {"int", "int", true},
      {"float", "complex", false}, {"int", "polar", false},    {"float", "dur", false},
      {"dur", "float", false},    {"time", "dur", false},      {"string", "int", false},
      {"int", "string", false},   {"UGen", "Event", false},    {"float[]", "int[]", false},
      {"int", "null", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(type_engine_check_cast_valid(env, type(c.to), type(c.from)) == TRUE, c.valid)
        << c.from << " $ " << c.to;
  }
}
