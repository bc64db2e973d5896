// Emission of binary operators, the chip operators and conversions.
//
// A binary expression leaves both operands on the register stack (left
// first, right on top) and then exactly one instruction, chosen here from
// the operator id and the operand types, combines them. Each operand's type
// is its cast_to when the checker converted it, else its own type. Rows of
// each operator are tried top to bottom; a row "by left type" looks at the
// left type's id only (int; float and dur; complex; polar). A combination no
// row covers is one the checker should have refused: it is reported as an
// internal error and the emission fails.
//
// The logical operators && and || short-circuit: the right operand is
// emitted behind a branch on the left value. The chip operators have
// routines of their own: `=>` (ugen link, advancing time, waiting on an
// event, a call, or an assignment), `@=>` (reference assignment), `=<`
// (ugen unlink) and `=^` (analysis link).
//
// Operands of kind: the value an assignment stores and the element an
// array append moves are chosen by kind (chip_slot_kind, chip_array_kind),
// not by byte size, since an int and a float are both one 8-byte word.
#include <cstring>

#include "chip/emit/chip_emit.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_instr_string.h"
#include "chip/vm/chip_oo.h"

namespace {

// The type an operand has once converted.
Chip_Type* operand_type(a_Exp exp) { return exp->cast_to ? exp->cast_to : exp->type; }

// An assignable operand.
t_CPBOOL is_var(a_Exp exp) { return exp->meta_kind == ae_meta_var; }

// The plain name `now` as an operand.
t_CPBOOL is_now(a_Exp exp) {
  return exp->s_type == ae_exp_primary && exp->primary.s_type == ae_primary_var &&
         std::strcmp(S_name(exp->primary.var), "now") == 0;
}

t_CPBOOL is_null_type(Chip_Type* type) { return isa(type, &t_null); }

// A new instruction of class I.
template <class I>
Chip_Instr* make() {
  return new I;
}

// The instruction chosen by the left type's id: int / float and dur /
// complex / polar; any other id chooses none.
template <class I_int, class I_double, class I_complex, class I_polar>
Chip_Instr* by_left(Chip_Type* left) {
  switch (left->id) {
    case te_int: return make<I_int>();
    case te_float:
    case te_dur: return make<I_double>();
    case te_complex: return make<I_complex>();
    case te_polar: return make<I_polar>();
    default: return NULL;
  }
}

// The same for the assigning forms whose dur row is missing (`*=>`, `/=>`):
// int / float / complex / polar.
template <class I_int, class I_double, class I_complex, class I_polar>
Chip_Instr* by_left_no_dur(Chip_Type* left) {
  if (left->id == te_dur) return NULL;
  return by_left<I_int, I_double, I_complex, I_polar>(left);
}

// Comparisons by the left type: int / float, time and dur.
template <class I_int, class I_double>
Chip_Instr* compare_by_left(Chip_Type* left) {
  switch (left->id) {
    case te_int: return make<I_int>();
    case te_float:
    case te_time:
    case te_dur: return make<I_double>();
    default: return NULL;
  }
}

// The ints-only operators: one instruction when the left type is int.
template <class I_int>
Chip_Instr* int_only(Chip_Type* left) {
  return left->id == te_int ? make<I_int>() : NULL;
}

t_CPBOOL left_right(Chip_Type* left, te_Type l, Chip_Type* right, te_Type r) {
  return left->id == l && right->id == r;
}

// The instruction of an arithmetic, comparison, bitwise, assigning or
// stream operator; null when no row covers the operand types. The two
// instructions of `dur +=> now` come back through *second.
Chip_Instr* choose(ae_Operator op, Chip_Type* left, Chip_Type* right, a_Exp rhs,
                   Chip_Instr** second) {
  *second = NULL;
  const t_CPBOOL str_l = isa(left, &t_string);
  const t_CPBOOL str_r = isa(right, &t_string);

  switch (op) {
    // left + right
    case ae_op_plus:
      if (left_right(left, te_dur, right, te_time) || left_right(left, te_time, right, te_dur))
        return new Chip_Instr_Add_double;
      if (str_l && str_r) return new Chip_Instr_Add_string;
      if (str_l) {
        if (isa(right, &t_int)) return new Chip_Instr_Add_string_int;
        if (isa(right, &t_float)) return new Chip_Instr_Add_string_float;
        return NULL;
      }
      if (str_r) {
        if (isa(left, &t_int)) return new Chip_Instr_Add_int_string;
        if (isa(left, &t_float)) return new Chip_Instr_Add_float_string;
        return NULL;
      }
      return by_left<Chip_Instr_Add_int, Chip_Instr_Add_double, Chip_Instr_Add_complex,
                     Chip_Instr_Add_polar>(left);

    // left - right
    case ae_op_minus:
      if (left_right(left, te_time, right, te_dur) || left_right(left, te_time, right, te_time))
        return new Chip_Instr_Minus_double;
      return by_left<Chip_Instr_Minus_int, Chip_Instr_Minus_double, Chip_Instr_Minus_complex,
                     Chip_Instr_Minus_polar>(left);

    // left * right
    case ae_op_times:
      return by_left<Chip_Instr_Times_int, Chip_Instr_Times_double, Chip_Instr_Times_complex,
                     Chip_Instr_Times_polar>(left);

    // left / right
    case ae_op_divide:
      if (left_right(left, te_time, right, te_dur)) return new Chip_Instr_Divide_double;
      return by_left<Chip_Instr_Divide_int, Chip_Instr_Divide_double, Chip_Instr_Divide_complex,
                     Chip_Instr_Divide_polar>(left);

    // left == right, left != right. Two strings compare their texts; a null
    // on either side (`s == null`, `s != null`) compares references, since
    // there is no text to compare.
    case ae_op_eq:
    case ae_op_neq: {
      const t_CPBOOL eq = op == ae_op_eq;
      if (str_l && str_r && !is_null_type(left) && !is_null_type(right))
        return new Chip_Instr_Op_string(op);
      if (isa(left, &t_object) && isa(right, &t_object))
        return eq ? static_cast<Chip_Instr*>(new Chip_Instr_Eq_int) : new Chip_Instr_Neq_int;
      return eq ? compare_by_left<Chip_Instr_Eq_int, Chip_Instr_Eq_double>(left)
                : compare_by_left<Chip_Instr_Neq_int, Chip_Instr_Neq_double>(left);
    }

    // left < right, <=, >, >=
    case ae_op_lt:
    case ae_op_le:
    case ae_op_gt:
    case ae_op_ge: {
      Chip_Instr* instr = NULL;
      switch (op) {
        case ae_op_lt: instr = compare_by_left<Chip_Instr_Lt_int, Chip_Instr_Lt_double>(left); break;
        case ae_op_le: instr = compare_by_left<Chip_Instr_Le_int, Chip_Instr_Le_double>(left); break;
        case ae_op_gt: instr = compare_by_left<Chip_Instr_Gt_int, Chip_Instr_Gt_double>(left); break;
        default: instr = compare_by_left<Chip_Instr_Ge_int, Chip_Instr_Ge_double>(left); break;
      }
      if (instr) return instr;
      if (str_l && str_r) return new Chip_Instr_Op_string(op);
      return NULL;
    }

    // left | right, left & right, left ^ right, left >> right
    case ae_op_s_or: return int_only<Chip_Instr_Binary_Or>(left);
    case ae_op_s_and: return int_only<Chip_Instr_Binary_And>(left);
    case ae_op_s_xor: return int_only<Chip_Instr_Binary_Xor>(left);
    case ae_op_shift_right: return int_only<Chip_Instr_Binary_Shift_Right>(left);

    // left << right: a shift, or an append to an array (the elements of a
    // nested array are arrays, references).
    case ae_op_shift_left:
      if (left->id == te_int) return new Chip_Instr_Binary_Shift_Left;
      if (left->id == te_array) {
        t_CPWORD kind = left->array_depth > 1 ? static_cast<t_CPWORD>(CHIP_ARRAY_KIND_WORD)
                                              : chip_array_kind(left->array_type);
        return new Chip_Instr_Array_Append(static_cast<t_CPUWORD>(kind));
      }
      return NULL;

    // left % right
    case ae_op_percent:
      if (left_right(left, te_time, right, te_dur) || left->id == te_float || left->id == te_dur)
        return new Chip_Instr_Mod_double;
      return int_only<Chip_Instr_Mod_int>(left);

    // value +=> target
    case ae_op_plus_chip:
      if (left_right(left, te_dur, right, te_time) && is_var(rhs) && is_now(rhs)) {
        *second = new Chip_Instr_Time_Advance;
        return new Chip_Instr_Add_double;
      }
      if (left_right(left, te_dur, right, te_time) || left_right(left, te_time, right, te_dur))
        return new Chip_Instr_Add_double_Assign;
      if (str_l && str_r) return new Chip_Instr_Add_string_Assign;
      if (str_r) {
        if (isa(left, &t_int)) return new Chip_Instr_Add_int_string_Assign;
        if (isa(left, &t_float)) return new Chip_Instr_Add_float_string_Assign;
        return NULL;
      }
      return by_left<Chip_Instr_Add_int_Assign, Chip_Instr_Add_double_Assign,
                     Chip_Instr_Add_complex_Assign, Chip_Instr_Add_polar_Assign>(left);

    // value -=> target
    case ae_op_minus_chip:
      if (left_right(left, te_dur, right, te_time) || left_right(left, te_time, right, te_time))
        return new Chip_Instr_Minus_double_Assign;
      return by_left<Chip_Instr_Minus_int_Assign, Chip_Instr_Minus_double_Assign,
                     Chip_Instr_Minus_complex_Assign, Chip_Instr_Minus_polar_Assign>(left);

    // value *=> target (no row for a dur value)
    case ae_op_times_chip:
      return by_left_no_dur<Chip_Instr_Times_int_Assign, Chip_Instr_Times_double_Assign,
                            Chip_Instr_Times_complex_Assign, Chip_Instr_Times_polar_Assign>(left);

    // value /=> target
    case ae_op_divide_chip:
      if (left_right(left, te_dur, right, te_time)) return new Chip_Instr_Divide_double_Assign;
      return by_left_no_dur<Chip_Instr_Divide_int_Assign, Chip_Instr_Divide_double_Assign,
                            Chip_Instr_Divide_complex_Assign, Chip_Instr_Divide_polar_Assign>(
          left);

    // value &=> |=> ^=> >>=> <<=> target
    case ae_op_s_and_chip: return int_only<Chip_Instr_Binary_And_Assign>(left);
    case ae_op_s_or_chip: return int_only<Chip_Instr_Binary_Or_Assign>(left);
    case ae_op_s_xor_chip: return int_only<Chip_Instr_Binary_Xor_Assign>(left);
    case ae_op_shift_right_chip: return int_only<Chip_Instr_Binary_Shift_Right_Assign>(left);
    case ae_op_shift_left_chip: return int_only<Chip_Instr_Binary_Shift_Left_Assign>(left);

    // value %=> target
    case ae_op_percent_chip:
      if (left_right(left, te_dur, right, te_time) || left->id == te_float || left->id == te_dur)
        return new Chip_Instr_Mod_double_Assign;
      return int_only<Chip_Instr_Mod_int_Assign>(left);

    // The stream operators, by the right type.
    case ae_op_arrow_left:
      if (right->id == te_int) return new Chip_Instr_IO_out_int;
      if (right->id == te_float) return new Chip_Instr_IO_out_float;
      if (str_r) return new Chip_Instr_IO_out_string;
      return NULL;
    case ae_op_arrow_right:
      if (right->id == te_int) return new Chip_Instr_IO_in_int;
      if (right->id == te_float) return new Chip_Instr_IO_in_float;
      if (str_r) return new Chip_Instr_IO_in_string;
      return NULL;

    // `->`, the unary operators and anything else.
    default:
      return NULL;
  }
}

}  // namespace

// exp_binary: lhs op rhs. The short-circuit operators branch around their
// right operand; every other operator emits both operands, then the
// operator's instruction.
t_CPBOOL emit_engine_emit_exp_binary(Chip_Emitter* emit, a_Exp_Binary_* binary) {
  CHIP_CHECK(binary->self->emit_var == FALSE);

  // lhs && rhs: a zero left leaves the pushed 0 as the result; otherwise the
  // 0 is dropped and the right value is the result.
  // lhs || rhs: a non-zero left leaves the pushed 1; otherwise the right
  // value is the result.
  if (binary->op == ae_op_and || binary->op == ae_op_or) {
    const t_CPBOOL is_and = binary->op == ae_op_and;
    // The left operand is evaluated above the pushed constant, the right
    // one where the expression started (the constant is dropped first).
    const t_CPUWORD live = emit->code->reg_live;
    emit->append(new Chip_Instr_Reg_Push_Imm(is_and ? 0 : 1));
    emit->reg_at(live + CHIP_WORD_SIZE);
    if (!emit_engine_emit_exp(emit, binary->lhs)) return FALSE;
    emit->append(new Chip_Instr_Reg_Push_Imm(0));
    Chip_Instr_Branch_Op* branch;
    if (is_and)
      branch = new Chip_Instr_Branch_Eq_int(0);
    else
      branch = new Chip_Instr_Branch_Neq_int(0);
    emit->append(branch);
    emit->append(new Chip_Instr_Reg_Pop_Word);
    emit->reg_at(live);
    if (!emit_engine_emit_exp(emit, binary->rhs)) return FALSE;
    branch->set(emit->next_index());
    return TRUE;
  }

  // Both operands are emitted even when the first fails, so that every
  // error in them is reported.
  t_CPBOOL left = emit_engine_emit_exp(emit, binary->lhs);
  t_CPBOOL right = emit_engine_emit_exp(emit, binary->rhs);
  if (!left || !right) return FALSE;

  return emit_engine_emit_op(emit, static_cast<ae_Operator>(binary->op), binary->lhs,
                             binary->rhs, binary);
}

// The instruction of one operator, both operands already on the stack.
t_CPBOOL emit_engine_emit_op(Chip_Emitter* emit, ae_Operator op, a_Exp lhs, a_Exp rhs,
                             a_Exp_Binary_* binary) {
  switch (op) {
    case ae_op_chip:
      return emit_engine_emit_op_chip(emit, lhs, rhs, binary);
    case ae_op_at_chip:
      CHIP_CHECK(lhs->next == NULL && rhs->next == NULL);
      return emit_engine_emit_op_at_chip(emit, lhs, rhs);
    case ae_op_unchip:
      CHIP_CHECK(lhs->next == NULL && rhs->next == NULL);
      return emit_engine_emit_op_unchip(emit, lhs, rhs);
    case ae_op_upchip:
      CHIP_CHECK(lhs->next == NULL && rhs->next == NULL);
      return emit_engine_emit_op_upchip(emit, lhs, rhs);
    default:
      break;
  }

  Chip_Type* left = operand_type(lhs);
  Chip_Type* right = operand_type(rhs);
  Chip_Instr* second = NULL;
  Chip_Instr* instr = choose(op, left, right, rhs, &second);
  if (!instr) {
    EM_error2(lhs->line_no, "(emit): internal error: unhandled op '%s' %s '%s'",
              left->display_name().c_str(), op2str(op), right->display_name().c_str());
    return FALSE;
  }
  emit->append(instr);
  if (second) emit->append(second);
  return TRUE;
}

// lhs => rhs: link two unit generators, advance time by a dur, wait on an
// event, call a function with the left values as arguments, or assign a
// primitive or string value.
t_CPBOOL emit_engine_emit_op_chip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs,
                                  a_Exp_Binary_* binary) {
  Chip_Type* left = operand_type(lhs);
  Chip_Type* right = operand_type(rhs);

  // ugen => ugen: the left node feeds the right one.
  if (isa(left, &t_ugen) && isa(right, &t_ugen)) {
    emit->append(new Chip_Instr_UGen_Link(FALSE));
    return TRUE;
  }

  // dur => now: the time dur from now; only `now` is advanced to it.
  if (isa(left, &t_dur) && isa(right, &t_time) && is_var(rhs)) {
    emit->append(new Chip_Instr_Add_double);
    if (is_now(rhs)) emit->append(new Chip_Instr_Time_Advance);
    return TRUE;
  }

  // event => now: the time pushed for `now` is dropped; the shred waits.
  if (isa(left, &t_event) && isa(right, &t_time) && is_var(rhs) && is_now(rhs)) {
    emit->append(new Chip_Instr_Reg_Pop_Word2);
    emit->append(new Chip_Instr_Event_Wait);
    return TRUE;
  }

  // args => f: the call the checker chose.
  if (isa(right, &t_function)) {
    CHIP_CHECK(binary->cp_func != NULL);
    return emit_engine_emit_exp_func_call(emit, binary->cp_func, binary->self->type,
                                          binary->line_no, FALSE);
  }

  // value => variable: an assignment.
  if (isa(left, right) && (isprim(left) || isa(left, &t_string)))
    return emit_engine_emit_op_at_chip(emit, lhs, rhs);

  EM_error2(lhs->line_no, "(emit): internal error: unhandled '=>' on types '%s' and '%s'...",
            left->display_name().c_str(), right->display_name().c_str());
  return FALSE;
}

// lhs @=> rhs: store the left value into the variable on the right. An
// object reference is counted; a string's text is copied into the target
// string (null drops the target's string); a time assigned to `now`
// advances to it; other values are stored by kind.
t_CPBOOL emit_engine_emit_op_at_chip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs) {
  Chip_Type* left = operand_type(lhs);
  Chip_Type* right = operand_type(rhs);

  if (!isa(left, right)) {
    EM_error2(lhs->line_no, "(emit): internal error: unhandled '@=>' on types '%s' and '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    return FALSE;
  }

  // A string value copies its text into a string target. null is isa every
  // object type, string included, so it is told apart by the target: into
  // any other object variable it is a plain (null) reference.
  const t_CPBOOL text = isa(left, &t_string) && isa(right, &t_string);
  if (!isprim(left) && !text) {
    emit->append(new Chip_Instr_Assign_Object);
    return TRUE;
  }

  if (!is_var(rhs)) {
    EM_error2(lhs->line_no, "(emit): internal error: assignment to non-variable...");
    return FALSE;
  }

  if (is_now(rhs)) {
    emit->append(new Chip_Instr_Reg_Pop_Word2);
    emit->append(new Chip_Instr_Time_Advance);
    return TRUE;
  }

  if (text) {
    emit->append(new Chip_Instr_Assign_String);
    return TRUE;
  }

  switch (chip_slot_kind(right)) {
    case CHIP_SLOT_WORD: emit->append(new Chip_Instr_Assign_Primitive); return TRUE;
    case CHIP_SLOT_FLOAT: emit->append(new Chip_Instr_Assign_Primitive2); return TRUE;
    case CHIP_SLOT_COMPLEX: emit->append(new Chip_Instr_Assign_Primitive4); return TRUE;
    default: break;
  }
  EM_error2(rhs->line_no, "(emit): internal error: assignment to type of size %i...",
            static_cast<int>(right->size));
  return FALSE;
}

// lhs =< rhs: unlink two unit generators.
t_CPBOOL emit_engine_emit_op_unchip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs) {
  Chip_Type* left = operand_type(lhs);
  Chip_Type* right = operand_type(rhs);
  if (isa(left, &t_ugen) && isa(right, &t_ugen)) {
    emit->append(new Chip_Instr_UGen_UnLink);
    return TRUE;
  }
  EM_error2(lhs->line_no, "(emit): internal error: unhandled '=<' on types '%s' and '%s'",
            left->display_name().c_str(), right->display_name().c_str());
  return FALSE;
}

// lhs =^ rhs: the analysis link of two unit analysers.
t_CPBOOL emit_engine_emit_op_upchip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs) {
  Chip_Type* left = operand_type(lhs);
  Chip_Type* right = operand_type(rhs);
  if (isa(left, &t_uana) && isa(right, &t_uana)) {
    emit->append(new Chip_Instr_UGen_Link(TRUE));
    return TRUE;
  }
  EM_error2(lhs->line_no, "(emit): internal error: unhandled '=^' on types '%s' and '%s'",
            left->display_name().c_str(), right->display_name().c_str());
  return FALSE;
}

// cast_to and `exp $ type`: the conversion of the top value from `from` to
// `to`. Numbers convert by instruction; an object becomes its text; a
// reference cast up the class tree changes nothing, one down the tree is
// checked at run time.
t_CPBOOL emit_engine_emit_cast(Chip_Emitter* emit, Chip_Type* to, Chip_Type* from) {
  if (equals(to, from)) return TRUE;

  Chip_Instr* instr = NULL;
  const te_Type f = from->id;
  const te_Type t = to->id;
  if (f == te_float && t == te_int) instr = new Chip_Instr_Cast_double2int;
  else if (f == te_int && t == te_float) instr = new Chip_Instr_Cast_int2double;
  else if (f == te_int && t == te_complex) instr = new Chip_Instr_Cast_int2complex;
  else if (f == te_int && t == te_polar) instr = new Chip_Instr_Cast_int2polar;
  else if (f == te_float && t == te_complex) instr = new Chip_Instr_Cast_double2complex;
  else if (f == te_float && t == te_polar) instr = new Chip_Instr_Cast_double2polar;
  else if (f == te_complex && t == te_polar) instr = new Chip_Instr_Cast_complex2polar;
  else if (f == te_polar && t == te_complex) instr = new Chip_Instr_Cast_polar2complex;
  else if (isa(from, &t_object) && !isa(from, &t_string) && equals(to, &t_string))
    instr = new Chip_Instr_Cast_object2string;
  else if (isa(from, to))
    return TRUE;  // up the class tree: nothing to check
  else if (isa(to, from))
    instr = new Chip_Instr_Cast_Down(to);  // down: checked at run time

  if (!instr) {
    EM_error2(0, "(emit): internal error: cannot cast type '%s' to '%s'",
              from->display_name().c_str(), to->display_name().c_str());
    return FALSE;
  }
  emit->append(instr);
  return TRUE;
}
