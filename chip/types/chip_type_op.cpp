// Operator typing rules (see chip_type_op.h for the design).
#include "chip/types/chip_type_op.h"

#include <cstring>

#include "chip/types/chip_type.h"
#include "chip/types/chip_type_exp.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"

namespace {

// ---------------------------------------------------------------------------
// Small predicates.

t_CPBOOL is_id(Chip_Type* type, te_Type id) { return type->id == id; }

// int or float, by id.
t_CPBOOL is_int_or_float(Chip_Type* type) { return type->id == te_int || type->id == te_float; }

// The `now` keyword as an operand.
t_CPBOOL is_now(a_Exp_* exp) {
  return exp->s_type == ae_exp_primary && exp->primary.s_type == ae_primary_var &&
         std::strcmp(S_name(exp->primary.var), "now") == 0;
}

// The assigning forms of the arithmetic and bitwise operators (+=> ... %=>).
t_CPBOOL is_chip_assign(int op) {
  switch (op) {
    case ae_op_plus_chip:
    case ae_op_minus_chip:
    case ae_op_times_chip:
    case ae_op_divide_chip:
    case ae_op_s_and_chip:
    case ae_op_s_or_chip:
    case ae_op_s_xor_chip:
    case ae_op_shift_right_chip:
    case ae_op_shift_left_chip:
    case ae_op_percent_chip:
      return TRUE;
    default:
      return FALSE;
  }
}

// A function value is pushed as the function record itself, which is no
// object: only a call can use it. So it fits no object type.
t_CPBOOL is_function_value(Chip_Type* type) { return type->id == te_function; }

// An object other than a string, which `+` turns into its text (a function
// value is no object).
t_CPBOOL is_object_value(Chip_Type* type) {
  return isa(type, &t_object) && !isa(type, &t_string) && !is_function_value(type);
}

// A string value (null excepted): assigning one copies its text into the
// target's own string object, so the target must be a string variable.
t_CPBOOL is_string_value(Chip_Type* type) {
  return isa(type, &t_string) && !equals(type, &t_null);
}

// Converts an operand: marks it for the emitter and returns the new type.
Chip_Type* convert(a_Exp_* exp, Chip_Type* to) {
  exp->cast_to = to;
  return to;
}

// TODO(ugen): unit-generator types will tell from their Chip_UGen_Info
// whether they have audio outputs and inputs; until the unit-generator
// module registers its classes, every unit generator has both.
t_CPBOOL ugen_has_outputs(Chip_Type* type) {
  (void)type;
  return TRUE;
}
t_CPBOOL ugen_has_inputs(Chip_Type* type) {
  (void)type;
  return TRUE;
}

// The value an assignment target names, when it names one: a plain name (as
// recorded by the checker), or a member found through the base's type.
Chip_Value* target_value(a_Exp_* target) {
  if (target->s_type == ae_exp_primary && target->primary.s_type == ae_primary_var)
    return target->primary.value;
  if (target->s_type == ae_exp_dot_member && target->dot_member.t_base) {
    // A class name as the base stands for its class (kept in array_type).
    Chip_Type* base = target->dot_member.t_base;
    if (isa(base, &t_class) && base->array_depth == 0 && base->array_type) base = base->array_type;
    return type_engine_find_value(base, target->dot_member.member_name);
  }
  return NULL;
}

// Guards the targets that an assignment must never store into, for every
// assigning operator (=>, @=>, +=> ...). `now` changes only by `=>` of a time,
// a dur or an Event, or by `+=>` of a dur (the emitter advances time for
// those and for nothing else). Constants and reserved values (true, pi,
// second, maybe, a function's name ...) take no assignment at all.
// TRUE when the target may be assigned; else prints why at line.
t_CPBOOL check_assign_target(Chip_Env* env, int op, Chip_Type* left, a_Exp_* target, int line) {
  if (is_now(target)) {
    t_CPBOOL allowed =
        (op == ae_op_chip && (isa(left, &t_time) || isa(left, &t_dur) || isa(left, &t_event))) ||
        (op == ae_op_plus_chip && isa(left, &t_dur));
    if (!allowed) {
      EM_error2(line, "cannot assign to 'now' with '%s'...", op2str(op));
      EM_error2(line, "...(note: 'now' accepts only '=>' of a time, dur or Event, "
                      "and '+=>' of a dur)");
    }
    return allowed;
  }

  Chip_Value* value = target_value(target);
  if (value && value->is_const) {
    EM_error2(line, "cannot assign to constant value '%s'", value->name.c_str());
    return FALSE;
  }
  if (target->s_type == ae_exp_primary && target->primary.s_type == ae_primary_var) {
    c_constr name = S_name(target->primary.var);
    if (env->key_values.count(name)) {
      EM_error2(line, "cannot assign to reserved value '%s'", name);
      return FALSE;
    }
  }
  return TRUE;
}

// The result table, after conversions; NULL when no rule matches.
Chip_Type* op_result(int op, Chip_Type* left, Chip_Type* right) {
  const te_Type l = left->id;
  const te_Type r = right->id;
  auto pair = [l, r](te_Type a, te_Type b) { return l == a && r == b; };
  auto same = [l, r](te_Type a) { return l == a && r == a; };

  switch (op) {
    case ae_op_plus:
    case ae_op_plus_chip:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (same(te_dur)) return &t_dur;
      if (pair(te_dur, te_time) || pair(te_time, te_dur)) return &t_time;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      if (isa(right, &t_string) && (isa(left, &t_string) || is_int_or_float(left))) return &t_string;
      // A string into a number variable (`"s" +=> i`) has no instruction:
      // `+=>` appends to a string target only.
      if (op == ae_op_plus && isa(left, &t_string) && is_int_or_float(right)) return &t_string;
      return NULL;

    case ae_op_minus:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (same(te_time)) return &t_dur;
      if (pair(te_time, te_dur)) return &t_time;
      if (same(te_dur)) return &t_dur;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      return NULL;

    case ae_op_minus_chip:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (same(te_dur)) return &t_dur;
      if (pair(te_dur, te_time)) return &t_time;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      return NULL;

    case ae_op_times:
    case ae_op_times_chip:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (pair(te_float, te_dur)) return &t_dur;
      // A dur into a float variable (`d *=> f`) would store a dur there.
      if (op == ae_op_times && pair(te_dur, te_float)) return &t_dur;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      return NULL;

    case ae_op_divide:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (same(te_dur)) return &t_float;
      if (pair(te_dur, te_float)) return &t_dur;
      if (pair(te_time, te_dur)) return &t_float;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      return NULL;

    case ae_op_divide_chip:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (pair(te_float, te_dur)) return &t_dur;
      if (same(te_complex)) return &t_complex;
      if (same(te_polar)) return &t_polar;
      return NULL;

    case ae_op_percent:
    case ae_op_percent_chip:
      if (same(te_int)) return &t_int;
      if (same(te_float)) return &t_float;
      if (same(te_dur)) return &t_dur;
      if (op == ae_op_percent && pair(te_time, te_dur)) return &t_dur;
      return NULL;

    // Numbers are compared by value (complex and polar values have no
    // order and no comparison instruction); any two object references by
    // identity, strings by their text.
    case ae_op_eq:
    case ae_op_neq:
      if (l == r && (l == te_int || l == te_float || l == te_time || l == te_dur)) return &t_int;
      if (isa(left, &t_object) && isa(right, &t_object)) return &t_int;
      return NULL;

    // Only numbers and strings have an order.
    case ae_op_lt:
    case ae_op_le:
    case ae_op_gt:
    case ae_op_ge:
      if (l == r && (l == te_int || l == te_float || l == te_time || l == te_dur)) return &t_int;
      if (isa(left, &t_string) && isa(right, &t_string)) return &t_int;
      return NULL;

    // Logical and bitwise operators work on ints only.
    case ae_op_and:
    case ae_op_or:
    case ae_op_s_or:
    case ae_op_s_and:
    case ae_op_s_xor:
    case ae_op_s_and_chip:
    case ae_op_s_or_chip:
    case ae_op_s_xor_chip:
    case ae_op_shift_right_chip:
    case ae_op_shift_left_chip:
      if (same(te_int)) return &t_int;
      return NULL;

    // << shifts an int, or appends to an array.
    case ae_op_shift_left:
      if (same(te_int)) return &t_int;
      if (left->array_depth > 0 && isa(left, &t_array)) {
        // An element, or (for a nested array) an array one level shallower
        // of the same element type.
        if (left->array_depth == 1 && !is_function_value(right) && isa(right, left->array_type))
          return left;
        if (right->array_depth + 1 == left->array_depth && right->array_type &&
            equals(right->array_type, left->array_type))
          return left;
      }
      return NULL;

    case ae_op_shift_right:
      if (same(te_int)) return &t_int;
      return NULL;

    default:
      return NULL;
  }
}

}  // namespace

// ---------------------------------------------------------------------------

// Checks one binary operator: operand shapes, stream operators, implicit
// conversions, object operands, mutable targets of assigning operators, then
// the result table (the chip operators go to their own rules).
Chip_Type* type_engine_check_op(Chip_Env* env, int op, a_Exp_* lhs, a_Exp_* rhs,
                                a_Exp_Binary_* binary) {
  CHIP_CHECK(lhs->type != NULL && rhs->type != NULL);
  Chip_Type* left = lhs->type;
  Chip_Type* right = rhs->type;

  // Shapes: multi-variable declarations and comma lists.
  if (lhs->s_type == ae_exp_decl && lhs->decl.num_var_decls > 1) {
    EM_error2(lhs->line_no, "cannot '%s' from/to a multi-variable declaration", op2str(op));
    return NULL;
  }
  if (rhs->s_type == ae_exp_decl && rhs->decl.num_var_decls > 1) {
    EM_error2(rhs->line_no, "cannot '%s' from/to a multi-variable declaration", op2str(op));
    return NULL;
  }
  if ((lhs->next && op != ae_op_chip) || rhs->next) {
    EM_error2(lhs->line_no, "multi-value (%s) operation not supported/implemented...",
              op2str(op));
    return NULL;
  }

  // Stream operators on IO objects.
  if ((op == ae_op_arrow_left || op == ae_op_arrow_right) && isa(left, &t_io)) {
    if (op == ae_op_arrow_right && lhs->meta_kind != ae_meta_var) {
      EM_error2(rhs->line_no, "cannot perform I/O assignment via '->' to non-mutable value");
      return NULL;
    }
    if (isa(right, &t_int) || isa(right, &t_float) || isa(right, &t_string)) return left;
  }

  // Implicit conversions, only between different types.
  if (!equals(left, right)) {
    if (op == ae_op_plus) {
      if (isa(left, &t_string) && is_object_value(right)) right = convert(rhs, &t_string);
      else if (is_object_value(left) && isa(right, &t_string)) left = convert(lhs, &t_string);
    }

    if (op >= ae_op_plus && op <= ae_op_ge) {
      // complex and polar values are only added, subtracted, multiplied
      // and divided: comparisons of them convert nothing (and are refused).
      if (op <= ae_op_divide) {
        if (is_int_or_float(left) && is_id(right, te_complex)) left = convert(lhs, &t_complex);
        else if (is_id(left, te_complex) && is_int_or_float(right)) right = convert(rhs, &t_complex);
        if (is_int_or_float(left) && is_id(right, te_polar)) left = convert(lhs, &t_polar);
        else if (is_id(left, te_polar) && is_int_or_float(right)) right = convert(rhs, &t_polar);
      }
      if (is_id(left, te_int) && is_id(right, te_float)) left = convert(lhs, &t_float);
      else if (is_id(left, te_float) && is_id(right, te_int)) right = convert(rhs, &t_float);
    }

    if (op == ae_op_percent) {
      if (is_id(left, te_int) && is_id(right, te_float)) left = convert(lhs, &t_float);
      else if (is_id(left, te_float) && is_id(right, te_int)) right = convert(rhs, &t_float);
    }

    if (op == ae_op_plus_chip && is_object_value(left) && isa(right, &t_string))
      left = convert(lhs, &t_string);

    if (op == ae_op_plus_chip || op == ae_op_minus_chip || op == ae_op_times_chip ||
        op == ae_op_divide_chip || op == ae_op_percent_chip) {
      // The source converts toward the target.
      if (is_id(left, te_int) && is_id(right, te_float)) left = convert(lhs, &t_float);
      else if (is_int_or_float(left) && is_id(right, te_complex)) left = convert(lhs, &t_complex);
      else if (is_int_or_float(left) && is_id(right, te_polar)) left = convert(lhs, &t_polar);
    }

    if (op == ae_op_times && is_id(left, te_int) && is_id(right, te_dur))
      left = convert(lhs, &t_float);
    if ((op == ae_op_times || op == ae_op_divide) && is_id(left, te_dur) && is_id(right, te_int))
      right = convert(rhs, &t_float);

    if (op == ae_op_shift_left && left->array_depth == 1 && left->array_type) {
      te_Type elem = left->array_type->id;
      if (elem == te_float && is_id(right, te_int))
        right = convert(rhs, &t_float);
      else if (elem == te_complex && (is_int_or_float(right) || is_id(right, te_polar)))
        right = convert(rhs, &t_complex);
      else if (elem == te_polar && (is_int_or_float(right) || is_id(right, te_complex)))
        right = convert(rhs, &t_polar);
    }
  }

  // No arithmetic on object references.
  switch (op) {
    case ae_op_minus:
    case ae_op_times:
    case ae_op_divide:
    case ae_op_percent:
    case ae_op_minus_chip:
    case ae_op_times_chip:
    case ae_op_divide_chip:
    case ae_op_percent_chip:
      if (isa(left, &t_object)) {
        EM_error2(lhs->line_no, "cannot perform '%s' on object references...", op2str(op));
        return NULL;
      }
      if (isa(right, &t_object)) {
        EM_error2(lhs->line_no, "cannot perform '%s' on object references...", op2str(op));
        return NULL;
      }
      break;
    case ae_op_plus:
    case ae_op_plus_chip: {
      t_CPBOOL string_pair =
          (isa(left, &t_string) && (isa(right, &t_string) || is_int_or_float(right))) ||
          (isa(right, &t_string) && is_int_or_float(left));
      if (!string_pair && (isa(left, &t_object) || isa(right, &t_object))) {
        EM_error2(lhs->line_no, "cannot perform '%s' on object references...", op2str(op));
        return NULL;
      }
      break;
    }
    default:
      break;
  }

  // The assigning forms store into their right operand.
  if (is_chip_assign(op)) {
    if (rhs->meta_kind != ae_meta_var) {
      EM_error2(lhs->line_no, "cannot assign '%s' on types '%s' %s '%s'...", op2str(op),
                left->display_name().c_str(), op2str(op), right->display_name().c_str());
      EM_error2(lhs->line_no, "...(reason: --- right-side operand is not mutable)");
      return NULL;
    }
    if (!check_assign_target(env, op, left, rhs, lhs->line_no)) return NULL;
    rhs->emit_var = TRUE;
  }

  switch (op) {
    case ae_op_chip: return type_engine_check_op_chip(env, lhs, rhs, binary);
    case ae_op_at_chip: return type_engine_check_op_at_chip(env, lhs, rhs);
    case ae_op_unchip: return type_engine_check_op_unchip(env, lhs, rhs);
    case ae_op_upchip: return type_engine_check_op_upchip(env, lhs, rhs);
    default: break;
  }

  if (Chip_Type* result = op_result(op, left, right)) return result;

  EM_error2(lhs->line_no, "cannot resolve operator '%s' on types '%s' and '%s'", op2str(op),
            left->display_name().c_str(), right->display_name().c_str());
  return NULL;
}

// `=>`: a call of a function, a unit-generator connection, advancing time or
// waiting on an event (into `now`), else the assignment of a primitive or
// string value into a variable.
Chip_Type* type_engine_check_op_chip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs,
                                     a_Exp_Binary_* binary) {
  Chip_Type* left = lhs->type;
  Chip_Type* right = rhs->type;

  if (isa(right, &t_function))
    return type_engine_check_exp_func_call(env, rhs, lhs, binary->cp_func, binary->line_no);

  if (lhs->next || rhs->next) {
    EM_error2(lhs->line_no, "multi-value (=>) operation not supported/implemented...");
    return NULL;
  }

  if (isa(left, &t_ugen) && isa(right, &t_ugen)) {
    if (!ugen_has_outputs(left)) {
      EM_error2(lhs->line_no, "ugen's of type '%s' have no output - cannot => to another ugen...",
                left->display_name().c_str());
      return NULL;
    }
    if (!ugen_has_inputs(right)) {
      EM_error2(lhs->line_no, "ugen's of type '%s' have no input - cannot => from another ugen...",
                right->display_name().c_str());
      return NULL;
    }
    return right;
  }

  // Advancing time, waiting on an event.
  if (isa(left, &t_dur) && isa(right, &t_time) && is_now(rhs)) return right;
  if (isa(left, &t_event) && isa(right, &t_time) && is_now(rhs)) return right;

  if (is_id(left, te_int)) {
    if (is_id(right, te_float)) left = convert(lhs, &t_float);
    else if (is_id(right, te_complex)) left = convert(lhs, &t_complex);
    else if (is_id(right, te_polar)) left = convert(lhs, &t_polar);
  }

  if (!equals(left, right) && !isa(left, right)) {
    EM_error2(lhs->line_no, "cannot resolve operator '=>' on types '%s' and '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    return NULL;
  }
  if (!isprim(left) && !isa(left, &t_string)) {
    EM_error2(lhs->line_no, "cannot resolve operator '=>' on types '%s' and '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(note: use '@=>' for object reference assignment)");
    return NULL;
  }
  if (is_string_value(left) && !isa(right, &t_string)) {
    EM_error2(lhs->line_no, "cannot resolve operator '=>' on types '%s' and '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(note: a string is copied into a 'string' variable only)");
    return NULL;
  }

  if (rhs->meta_kind != ae_meta_var) {
    EM_error2(lhs->line_no, "cannot chip/assign '=>' on types '%s' => '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(reason: right-side operand is not mutable)");
    return NULL;
  }
  if (!check_assign_target(env, ae_op_chip, left, rhs, lhs->line_no)) return NULL;
  rhs->emit_var = TRUE;
  return right;
}

// `@=>`: assignment into a variable of an equal type or of an ancestor type
// (null counts as every object type); an int converts into a float.
Chip_Type* type_engine_check_op_at_chip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs) {
  Chip_Type* left = lhs->type;
  Chip_Type* right = rhs->type;

  if (rhs->meta_kind != ae_meta_var) {
    EM_error2(lhs->line_no, "cannot assign '@=>' on types '%s' @=> '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(reason: --- right-side operand is not mutable)");
    return NULL;
  }
  if (!check_assign_target(env, ae_op_at_chip, left, rhs, lhs->line_no)) return NULL;

  if (rhs->s_type == ae_exp_decl && rhs->decl.type) rhs->decl.type->ref = 1;

  if (is_id(left, te_int) && is_id(right, te_float)) left = convert(lhs, &t_float);
  if ((!equals(left, right) && !isa(left, right)) ||
      (is_function_value(left) && !is_function_value(right))) {
    EM_error2(lhs->line_no, "cannot assign '@=>' on types '%s' @=> '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(reason: --- incompatible types for assignment)");
    return NULL;
  }
  if (is_string_value(left) && !isa(right, &t_string)) {
    EM_error2(lhs->line_no, "cannot assign '@=>' on types '%s' @=> '%s'...",
              left->display_name().c_str(), right->display_name().c_str());
    EM_error2(lhs->line_no, "...(reason: --- a string is copied into a 'string' variable only)");
    return NULL;
  }

  rhs->emit_var = TRUE;
  return right;
}

// `=<`: disconnects two unit generators.
Chip_Type* type_engine_check_op_unchip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs) {
  (void)env;
  if (isa(lhs->type, &t_ugen) && isa(rhs->type, &t_ugen)) return rhs->type;
  EM_error2(lhs->line_no, "no suitable resolution for binary operator '=<'...");
  EM_error2(lhs->line_no, "...on types '%s' and '%s'", lhs->type->display_name().c_str(),
            rhs->type->display_name().c_str());
  return NULL;
}

// `=^`: connects two unit analysers.
Chip_Type* type_engine_check_op_upchip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs) {
  (void)env;
  if (isa(lhs->type, &t_uana) && isa(rhs->type, &t_uana)) return rhs->type;
  EM_error2(lhs->line_no, "no suitable resolution for binary operator '=^'...");
  EM_error2(lhs->line_no, "...on types '%s' and '%s'", lhs->type->display_name().c_str(),
            rhs->type->display_name().c_str());
  return NULL;
}

// Whether a value of type `from` may stand where a `to` is expected.
t_CPBOOL type_engine_check_fits(Chip_Type* from, Chip_Type* to) {
  if (is_function_value(from) && !is_function_value(to)) return FALSE;
  return isa(from, to);
}

// Which explicit casts `from $ to` are allowed.
t_CPBOOL type_engine_check_cast_valid(Chip_Env* env, Chip_Type* to, Chip_Type* from) {
  (void)env;
  // A function value is no object: it casts to nothing else.
  if (is_function_value(from) && !is_function_value(to)) return FALSE;
  if (isa(from, to)) return TRUE;  // upcast, null to an object type
  if (isa(to, from)) return TRUE;  // downcast, checked at run time
  const te_Type f = from->id;
  const te_Type t = to->id;
  if ((f == te_int && t == te_float) || (f == te_float && t == te_int)) return TRUE;
  if (t == te_complex && (f == te_int || f == te_float || f == te_polar)) return TRUE;
  if (t == te_polar && (f == te_int || f == te_float || f == te_complex)) return TRUE;
  return FALSE;
}
