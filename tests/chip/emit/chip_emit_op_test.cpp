// Which instructions binary operators, the chip operators and conversions
// emit for each pair of operand types, and which combinations are refused.
//
// The operator routines are driven directly: the operands are hand-built
// expressions carrying the types the checker would have left on them, so
// each row checks exactly the instruction(s) the operator appends after its
// operands. The short-circuit operators are checked with literal operands,
// whose own instructions come from the expression emitter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/emit/chip_emit.h"
#include "chip/front/chip_absyn.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_string.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

// Reads the upchip flag of a link instruction.
struct LinkPeek : Chip_Instr_UGen_Link {
  static t_CPBOOL upchip(Chip_Instr* instr) {
    auto* link = dynamic_cast<Chip_Instr_UGen_Link*>(instr);
    if (!link) return -1;
    t_CPBOOL Chip_Instr_UGen_Link::*flag = &LinkPeek::m_upchip;
    return link->*flag;
  }
};

// An operand: its type, an optional conversion, whether it is a variable
// and whether it is the name `now`.
struct Operand {
  Chip_Type* type;
  Chip_Type* cast_to = nullptr;
  bool var = false;
  bool now = false;
};

Operand val(Chip_Type* t) { return Operand{t}; }
Operand var(Chip_Type* t) { return Operand{t, nullptr, true}; }
Operand now_var() { return Operand{&t_time, nullptr, true, true}; }
Operand conv(Chip_Type* t, Chip_Type* to) { return Operand{t, to}; }

class EmitOpTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    pool = new_pool();
    previous = set_current_pool(pool);
    emit = new Chip_Emitter;
    emit->add_ref();
    emit->env = env;
    code = new Chip_Code;
    emit->code = code;
    EM_change_file("test.chip");
    float_array.array_depth = 1;
    float_array.array_type = &t_float;
    float_matrix.array_depth = 2;
    float_matrix.array_type = &t_float;
  }

  void TearDown() override {
    clear_code();
    delete code;
    emit->code = nullptr;
    emit->release();
    set_current_pool(previous);
    delete_pool(pool);
    TypeCheckTest::TearDown();
  }

  void clear_code() {
    for (Chip_Instr* instr : code->instructions) delete instr;
    code->instructions.clear();
  }

  a_Exp make(const Operand& o) {
    a_Exp exp = o.now ? new_exp_from_id("now", 3) : new_exp_from_id("x", 3);
    exp->type = o.type;
    exp->cast_to = o.cast_to;
    exp->meta_kind = o.var ? ae_meta_var : ae_meta_value;
    return exp;
  }

  // Runs the operator on fresh operands; the names of what it appended.
  std::vector<std::string> emit_op(int op, const Operand& l, const Operand& r,
                                   t_CPBOOL* ok = nullptr) {
    clear_code();
    a_Exp lhs = make(l);
    a_Exp rhs = make(r);
    a_Exp bin = new_exp_from_binary(lhs, op, rhs, 3);
    t_CPBOOL done = emit_engine_emit_op(emit, static_cast<ae_Operator>(op), lhs, rhs, &bin->binary);
    if (ok) *ok = done;
    return names();
  }

  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (Chip_Instr* instr : code->instructions) out.push_back(instr->name());
    return out;
  }

  a_Pool pool = nullptr;
  a_Pool previous = nullptr;
  Chip_Emitter* emit = nullptr;
  Chip_Code* code = nullptr;
  Chip_Type float_array{te_array, "float", &t_array, CHIP_WORD_SIZE};
  Chip_Type float_matrix{te_array, "float", &t_array, CHIP_WORD_SIZE};
};

struct Row {
  int op;
  Operand left, right;
  std::vector<std::string> expected;
};

std::string describe(const Row& row) {
  Chip_Type* l = row.left.cast_to ? row.left.cast_to : row.left.type;
  Chip_Type* r = row.right.cast_to ? row.right.cast_to : row.right.type;
  return l->display_name() + " " + op2str(row.op) + " " + r->display_name() +
         (row.right.now ? " (now)" : "");
}

TEST_F(EmitOpTest, ArithmeticComparisonAndBitwiseChooseByOperandTypes) {
  const std::vector<Row> rows = {
      {ae_op_plus, val(&t_int), val(&t_int), {"Chip_Instr_Add_int"}},
      {ae_op_plus, val(&t_float), val(&t_float), {"Chip_Instr_Add_double"}},
      {ae_op_plus, conv(&t_int, &t_float), val(&t_float), {"Chip_Instr_Add_double"}},
      {ae_op_plus, val(&t_dur), val(&t_dur), {"Chip_Instr_Add_double"}},
      {ae_op_plus, val(&t_dur), val(&t_time), {"Chip_Instr_Add_double"}},
      {ae_op_plus, val(&t_time), val(&t_dur), {"Chip_Instr_Add_double"}},
      {ae_op_plus, val(&t_complex), val(&t_complex), {"Chip_Instr_Add_complex"}},
      {ae_op_plus, val(&t_polar), val(&t_polar), {"Chip_Instr_Add_polar"}},
      {ae_op_plus, val(&t_string), val(&t_string), {"Chip_Instr_Add_string"}},
      {ae_op_plus, val(&t_string), val(&t_int), {"Chip_Instr_Add_string_int"}},
      {ae_op_plus, val(&t_string), val(&t_float), {"Chip_Instr_Add_string_float"}},
      {ae_op_plus, val(&t_int), val(&t_string), {"Chip_Instr_Add_int_string"}},
      {ae_op_plus, val(&t_float), val(&t_string), {"Chip_Instr_Add_float_string"}},
      {ae_op_plus, conv(&t_event, &t_string), val(&t_string), {"Chip_Instr_Add_string"}},
      {ae_op_minus, val(&t_int), val(&t_int), {"Chip_Instr_Minus_int"}},
      {ae_op_minus, val(&t_time), val(&t_time), {"Chip_Instr_Minus_double"}},
      {ae_op_minus, val(&t_time), val(&t_dur), {"Chip_Instr_Minus_double"}},
      {ae_op_minus, val(&t_complex), val(&t_complex), {"Chip_Instr_Minus_complex"}},
      {ae_op_minus, val(&t_polar), val(&t_polar), {"Chip_Instr_Minus_polar"}},
      {ae_op_times, val(&t_int), val(&t_int), {"Chip_Instr_Times_int"}},
      {ae_op_times, val(&t_dur), val(&t_float), {"Chip_Instr_Times_double"}},
      {ae_op_times, val(&t_polar), val(&t_polar), {"Chip_Instr_Times_polar"}},
      {ae_op_divide, val(&t_int), val(&t_int), {"Chip_Instr_Divide_int"}},
      {ae_op_divide, val(&t_time), val(&t_dur), {"Chip_Instr_Divide_double"}},
      {ae_op_divide, val(&t_dur), val(&t_dur), {"Chip_Instr_Divide_double"}},
      {ae_op_divide, val(&t_complex), val(&t_complex), {"Chip_Instr_Divide_complex"}},
      {ae_op_percent, val(&t_int), val(&t_int), {"Chip_Instr_Mod_int"}},
      {ae_op_percent, val(&t_float), val(&t_float), {"Chip_Instr_Mod_double"}},
      {ae_op_percent, val(&t_time), val(&t_dur), {"Chip_Instr_Mod_double"}},
      {ae_op_percent, val(&t_dur), val(&t_dur), {"Chip_Instr_Mod_double"}},
      // Equality: texts of two strings, references when a side is null or
      // for other objects, values of numbers.
      {ae_op_eq, val(&t_string), val(&t_string), {"Chip_Instr_Op_string"}},
      {ae_op_eq, val(&t_string), val(&t_null), {"Chip_Instr_Eq_int"}},
      {ae_op_eq, val(&t_null), val(&t_string), {"Chip_Instr_Eq_int"}},
      {ae_op_eq, val(&t_event), val(&t_object), {"Chip_Instr_Eq_int"}},
      {ae_op_eq, val(&t_int), val(&t_int), {"Chip_Instr_Eq_int"}},
      {ae_op_eq, val(&t_time), val(&t_time), {"Chip_Instr_Eq_double"}},
      {ae_op_neq, val(&t_string), val(&t_string), {"Chip_Instr_Op_string"}},
      {ae_op_neq, val(&t_string), val(&t_null), {"Chip_Instr_Neq_int"}},
      {ae_op_neq, val(&t_null), val(&t_string), {"Chip_Instr_Neq_int"}},
      {ae_op_neq, val(&t_ugen), val(&t_ugen), {"Chip_Instr_Neq_int"}},
      {ae_op_neq, val(&t_float), val(&t_float), {"Chip_Instr_Neq_double"}},
      {ae_op_lt, val(&t_int), val(&t_int), {"Chip_Instr_Lt_int"}},
      {ae_op_le, val(&t_dur), val(&t_dur), {"Chip_Instr_Le_double"}},
      {ae_op_gt, val(&t_float), val(&t_float), {"Chip_Instr_Gt_double"}},
      {ae_op_ge, val(&t_int), val(&t_int), {"Chip_Instr_Ge_int"}},
      {ae_op_lt, val(&t_string), val(&t_string), {"Chip_Instr_Op_string"}},
      {ae_op_s_or, val(&t_int), val(&t_int), {"Chip_Instr_Binary_Or"}},
      {ae_op_s_and, val(&t_int), val(&t_int), {"Chip_Instr_Binary_And"}},
      {ae_op_s_xor, val(&t_int), val(&t_int), {"Chip_Instr_Binary_Xor"}},
      {ae_op_shift_left, val(&t_int), val(&t_int), {"Chip_Instr_Binary_Shift_Left"}},
      {ae_op_shift_right, val(&t_int), val(&t_int), {"Chip_Instr_Binary_Shift_Right"}},
      {ae_op_arrow_left, val(&t_io), val(&t_int), {"Chip_Instr_IO_out_int"}},
      {ae_op_arrow_left, val(&t_io), val(&t_string), {"Chip_Instr_IO_out_string"}},
      {ae_op_arrow_right, val(&t_io), val(&t_float), {"Chip_Instr_IO_in_float"}},
  };
  for (const Row& row : rows) {
    t_CPBOOL ok = FALSE;
    EXPECT_EQ(emit_op(row.op, row.left, row.right, &ok), row.expected) << describe(row);
    EXPECT_TRUE(ok) << describe(row);
  }
}

TEST_F(EmitOpTest, AssigningOperatorsCombineIntoTheTarget) {
  const std::vector<Row> rows = {
      // `dur +=> now` advances time; into any other time variable it adds.
      {ae_op_plus_chip, val(&t_dur), now_var(), {"Chip_Instr_Add_double", "Chip_Instr_Time_Advance"}},
      {ae_op_plus_chip, val(&t_dur), var(&t_time), {"Chip_Instr_Add_double_Assign"}},
      {ae_op_plus_chip, val(&t_int), var(&t_int), {"Chip_Instr_Add_int_Assign"}},
      {ae_op_plus_chip, conv(&t_int, &t_float), var(&t_float), {"Chip_Instr_Add_double_Assign"}},
      {ae_op_plus_chip, val(&t_dur), var(&t_dur), {"Chip_Instr_Add_double_Assign"}},
      {ae_op_plus_chip, val(&t_complex), var(&t_complex), {"Chip_Instr_Add_complex_Assign"}},
      {ae_op_plus_chip, val(&t_polar), var(&t_polar), {"Chip_Instr_Add_polar_Assign"}},
      {ae_op_plus_chip, val(&t_string), var(&t_string), {"Chip_Instr_Add_string_Assign"}},
      {ae_op_plus_chip, val(&t_int), var(&t_string), {"Chip_Instr_Add_int_string_Assign"}},
      {ae_op_plus_chip, val(&t_float), var(&t_string), {"Chip_Instr_Add_float_string_Assign"}},
      {ae_op_minus_chip, val(&t_dur), var(&t_time), {"Chip_Instr_Minus_double_Assign"}},
      {ae_op_minus_chip, val(&t_int), var(&t_int), {"Chip_Instr_Minus_int_Assign"}},
      {ae_op_minus_chip, val(&t_polar), var(&t_polar), {"Chip_Instr_Minus_polar_Assign"}},
      {ae_op_times_chip, val(&t_int), var(&t_int), {"Chip_Instr_Times_int_Assign"}},
      {ae_op_times_chip, val(&t_float), var(&t_float), {"Chip_Instr_Times_double_Assign"}},
      {ae_op_times_chip, val(&t_float), var(&t_dur), {"Chip_Instr_Times_double_Assign"}},
      {ae_op_times_chip, val(&t_complex), var(&t_complex), {"Chip_Instr_Times_complex_Assign"}},
      {ae_op_divide_chip, val(&t_int), var(&t_int), {"Chip_Instr_Divide_int_Assign"}},
      {ae_op_divide_chip, val(&t_float), var(&t_dur), {"Chip_Instr_Divide_double_Assign"}},
      {ae_op_divide_chip, val(&t_polar), var(&t_polar), {"Chip_Instr_Divide_polar_Assign"}},
      {ae_op_s_and_chip, val(&t_int), var(&t_int), {"Chip_Instr_Binary_And_Assign"}},
      {ae_op_s_or_chip, val(&t_int), var(&t_int), {"Chip_Instr_Binary_Or_Assign"}},
      {ae_op_s_xor_chip, val(&t_int), var(&t_int), {"Chip_Instr_Binary_Xor_Assign"}},
      {ae_op_shift_right_chip, val(&t_int), var(&t_int), {"Chip_Instr_Binary_Shift_Right_Assign"}},
      {ae_op_shift_left_chip, val(&t_int), var(&t_int), {"Chip_Instr_Binary_Shift_Left_Assign"}},
      {ae_op_percent_chip, val(&t_int), var(&t_int), {"Chip_Instr_Mod_int_Assign"}},
      {ae_op_percent_chip, val(&t_float), var(&t_float), {"Chip_Instr_Mod_double_Assign"}},
      {ae_op_percent_chip, val(&t_dur), var(&t_dur), {"Chip_Instr_Mod_double_Assign"}},
  };
  for (const Row& row : rows) {
    t_CPBOOL ok = FALSE;
    EXPECT_EQ(emit_op(row.op, row.left, row.right, &ok), row.expected) << describe(row);
    EXPECT_TRUE(ok) << describe(row);
  }
}

TEST_F(EmitOpTest, ChipOperatorsLinkAdvanceWaitAndAssign) {
  const std::vector<Row> rows = {
      {ae_op_chip, val(&t_ugen), var(&t_ugen), {"Chip_Instr_UGen_Link"}},
      {ae_op_chip, val(&t_dur), now_var(), {"Chip_Instr_Add_double", "Chip_Instr_Time_Advance"}},
      {ae_op_chip, val(&t_dur), var(&t_time), {"Chip_Instr_Add_double"}},
      {ae_op_chip, val(&t_event), now_var(), {"Chip_Instr_Reg_Pop_Word2", "Chip_Instr_Event_Wait"}},
      {ae_op_chip, val(&t_time), now_var(), {"Chip_Instr_Reg_Pop_Word2", "Chip_Instr_Time_Advance"}},
      // Assignment by kind: int and float are both 8 bytes wide.
      {ae_op_chip, val(&t_int), var(&t_int), {"Chip_Instr_Assign_Primitive"}},
      {ae_op_chip, conv(&t_int, &t_float), var(&t_float), {"Chip_Instr_Assign_Primitive2"}},
      {ae_op_chip, val(&t_dur), var(&t_dur), {"Chip_Instr_Assign_Primitive2"}},
      {ae_op_chip, val(&t_time), var(&t_time), {"Chip_Instr_Assign_Primitive2"}},
      {ae_op_chip, val(&t_complex), var(&t_complex), {"Chip_Instr_Assign_Primitive4"}},
      {ae_op_chip, val(&t_polar), var(&t_polar), {"Chip_Instr_Assign_Primitive4"}},
      {ae_op_chip, val(&t_string), var(&t_string), {"Chip_Instr_Assign_String"}},
      {ae_op_at_chip, val(&t_event), var(&t_object), {"Chip_Instr_Assign_Object"}},
      {ae_op_at_chip, val(&t_null), var(&t_event), {"Chip_Instr_Assign_Object"}},
      {ae_op_at_chip, val(&t_null), var(&t_string), {"Chip_Instr_Assign_String"}},
      {ae_op_at_chip, val(&t_int), var(&t_int), {"Chip_Instr_Assign_Primitive"}},
      {ae_op_at_chip, val(&t_float), var(&t_float), {"Chip_Instr_Assign_Primitive2"}},
      {ae_op_unchip, val(&t_ugen), var(&t_ugen), {"Chip_Instr_UGen_UnLink"}},
      {ae_op_upchip, val(&t_uana), var(&t_uana), {"Chip_Instr_UGen_Link"}},
  };
  for (const Row& row : rows) {
    t_CPBOOL ok = FALSE;
    EXPECT_EQ(emit_op(row.op, row.left, row.right, &ok), row.expected) << describe(row);
    EXPECT_TRUE(ok) << describe(row);
  }

  // `=>` links for audio, `=^` for analysis.
  emit_op(ae_op_chip, val(&t_ugen), var(&t_ugen));
  EXPECT_EQ(LinkPeek::upchip(code->instructions.at(0)), FALSE);
  emit_op(ae_op_upchip, val(&t_uana), var(&t_uana));
  EXPECT_EQ(LinkPeek::upchip(code->instructions.at(0)), TRUE);
}

TEST_F(EmitOpTest, ArrayAppendCarriesTheElementKind) {
  emit_op(ae_op_shift_left, val(&float_array), val(&t_float));
  ASSERT_EQ(names(), std::vector<std::string>{"Chip_Instr_Array_Append"});
  auto* append = static_cast<Chip_Instr_Array_Append*>(code->instructions[0]);
  EXPECT_EQ(append->get(), static_cast<t_CPUWORD>(CHIP_ARRAY_KIND_FLOAT));

  // The elements of a two-dimensional array are arrays: references.
  emit_op(ae_op_shift_left, val(&float_matrix), val(&float_array));
  append = static_cast<Chip_Instr_Array_Append*>(code->instructions.at(0));
  EXPECT_EQ(append->get(), static_cast<t_CPUWORD>(CHIP_ARRAY_KIND_WORD));
}

TEST_F(EmitOpTest, UncoveredCombinationsAreInternalErrors) {
  struct Refusal {
    int op;
    Operand left, right;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {ae_op_times_chip, val(&t_dur), var(&t_dur),
       "[test.chip]:line(3): (emit): internal error: unhandled op 'dur' *=> 'dur'"},
      {ae_op_s_or, val(&t_float), val(&t_float),
       "[test.chip]:line(3): (emit): internal error: unhandled op 'float' | 'float'"},
      {ae_op_plus, val(&t_string), val(&t_event),
       "[test.chip]:line(3): (emit): internal error: unhandled op 'string' + 'Event'"},
      {ae_op_shift_left, val(&t_float), val(&t_float),
       "[test.chip]:line(3): (emit): internal error: unhandled op 'float' << 'float'"},
      {ae_op_s_chip, val(&t_int), val(&t_int),
       "[test.chip]:line(3): (emit): internal error: unhandled op 'int' -> 'int'"},
      {ae_op_chip, val(&t_event), var(&t_event),
       "[test.chip]:line(3): (emit): internal error: unhandled '=>' on types 'Event' and 'Event'..."},
      {ae_op_at_chip, val(&t_int), var(&t_float),
       "[test.chip]:line(3): (emit): internal error: unhandled '@=>' on types 'int' and 'float'..."},
      {ae_op_at_chip, val(&t_int), val(&t_int),
       "[test.chip]:line(3): (emit): internal error: assignment to non-variable..."},
      {ae_op_unchip, val(&t_int), var(&t_int),
       "[test.chip]:line(3): (emit): internal error: unhandled '=<' on types 'int' and 'int'"},
      {ae_op_upchip, val(&t_ugen), var(&t_ugen),
       "[test.chip]:line(3): (emit): internal error: unhandled '=^' on types 'UGen' and 'UGen'"},
  };
  for (const Refusal& r : refusals) {
    t_CPBOOL ok = TRUE;
    std::vector<std::string> lines =
        printed_lines([&] { EXPECT_TRUE(emit_op(r.op, r.left, r.right, &ok).empty()); });
    EXPECT_FALSE(ok) << r.message;
    EXPECT_EQ(lines, std::vector<std::string>{r.message});
  }
}

TEST_F(EmitOpTest, CastsConvertNumbersAndObjectsToText) {
  struct Cast {
    Chip_Type* from;
    Chip_Type* to;
    std::vector<std::string> expected;
  };
  const std::vector<Cast> casts = {
      {&t_int, &t_int, {}},
      {&t_float, &t_int, {"Chip_Instr_Cast_double2int"}},
      {&t_int, &t_float, {"Chip_Instr_Cast_int2double"}},
      {&t_int, &t_complex, {"Chip_Instr_Cast_int2complex"}},
      {&t_int, &t_polar, {"Chip_Instr_Cast_int2polar"}},
      {&t_float, &t_complex, {"Chip_Instr_Cast_double2complex"}},
      {&t_float, &t_polar, {"Chip_Instr_Cast_double2polar"}},
      {&t_complex, &t_polar, {"Chip_Instr_Cast_complex2polar"}},
      {&t_polar, &t_complex, {"Chip_Instr_Cast_polar2complex"}},
      {&t_event, &t_string, {"Chip_Instr_Cast_object2string"}},
      {&t_event, &t_object, {}},  // up the class tree
      {&t_object, &t_ugen, {"Chip_Instr_Cast_Down"}},  // down: checked at run time
      {&t_null, &t_string, {}},
  };
  for (const Cast& c : casts) {
    clear_code();
    EXPECT_TRUE(emit_engine_emit_cast(emit, c.to, c.from));
    EXPECT_EQ(names(), c.expected) << c.from->name << " to " << c.to->name;
  }

  clear_code();
  t_CPBOOL ok = TRUE;
  std::vector<std::string> lines =
      printed_lines([&] { ok = emit_engine_emit_cast(emit, &t_int, &t_string); });
  EXPECT_FALSE(ok);
  EXPECT_TRUE(code->instructions.empty());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[test.chip]: (emit): internal error: cannot cast type 'string' to 'int'");
}

// `a && b` and `a || b` leave the pushed constant when the left operand
// decides, and otherwise drop it and evaluate the right operand.
TEST_F(EmitOpTest, LogicalOperatorsBranchAroundTheRightOperand) {
  struct Case {
    int op;
    t_CPUWORD first;
    std::string branch;
  };
  for (const Case& c : {Case{ae_op_and, 0, "Chip_Instr_Branch_Eq_int"},
                        Case{ae_op_or, 1, "Chip_Instr_Branch_Neq_int"}}) {
    clear_code();
    a_Exp lhs = new_exp_from_int(7, 3);
    a_Exp rhs = new_exp_from_int(9, 3);
    lhs->type = rhs->type = &t_int;
    a_Exp bin = new_exp_from_binary(lhs, c.op, rhs, 3);
    bin->type = &t_int;
    ASSERT_TRUE(emit_engine_emit_exp_binary(emit, &bin->binary));
    EXPECT_EQ(names(), (std::vector<std::string>{"Chip_Instr_Reg_Push_Imm", "Chip_Instr_Reg_Push_Imm",
                                                 "Chip_Instr_Reg_Push_Imm", c.branch,
                                                 "Chip_Instr_Reg_Pop_Word",
                                                 "Chip_Instr_Reg_Push_Imm"}));
    ASSERT_EQ(code->instructions.size(), 6u);
    EXPECT_EQ(static_cast<Chip_Instr_Unary_Op*>(code->instructions[0])->get(), c.first);
    EXPECT_EQ(static_cast<Chip_Instr_Unary_Op*>(code->instructions[1])->get(), 7u);
    EXPECT_EQ(static_cast<Chip_Instr_Unary_Op*>(code->instructions[2])->get(), 0u);
    // The branch skips the pop and the right operand.
    EXPECT_EQ(static_cast<Chip_Instr_Branch_Op*>(code->instructions[3])->get(), 6u);
    EXPECT_EQ(static_cast<Chip_Instr_Unary_Op*>(code->instructions[5])->get(), 9u);
  }
}

}  // namespace
