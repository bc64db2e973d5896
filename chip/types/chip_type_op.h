// Operator typing rules.
//
// Decides the type of every binary operator expression and which explicit
// casts are legal. The expression checker types both operands first and then
// calls type_engine_check_op once per binary node (once per right-hand
// expression when the right side is a comma list). The rules run in a fixed
// order: operand shape (multi-variable declarations and comma lists), the
// stream operators on IO objects, implicit conversions (marked on the
// operand's cast_to for the emitter), refusals of arithmetic on object
// references, the mutability of the target of an assigning operator, and
// finally the result table. The chip operators have rules of their own:
//   =>   type_engine_check_op_chip     (call, ugen connection, advancing
//                                       time, waiting on an event, assignment)
//   @=>  type_engine_check_op_at_chip  (reference assignment)
//   =<   type_engine_check_op_unchip   (ugen disconnection)
//   =^   type_engine_check_op_upchip   (analysis connection)
// An accepted assignment marks its target to be emitted as an address
// (emit_var).
//
// Beyond the plain table, two kinds of target are protected, since the
// emitter would otherwise store into them: constants and reserved values
// (true, pi, second, a function name ...) cannot be the target of any
// assigning operator, and `now` can only be changed by `=>` of a time, a dur
// or an Event, or by `+=>` of a dur.
//
// The table admits only what the emitter has an instruction for:
//   - comparisons apply to int, float, time and dur values of one type, to
//     two strings (and, for == and !=, to any two object references by
//     identity); complex and polar values are not compared, and other
//     objects have no order;
//   - && || | & ^ and the assigning &=> |=> ^=> >>=> <<=> take ints only;
//     << also appends to an array;
//   - +=> puts a string together only into a string variable, and *=>
//     multiplies a float or dur variable by a float (never a dur into a
//     float variable);
//   - a string is assigned (=>, @=>) into a string variable only: the
//     assignment copies its text into the variable's own string object;
//   - a function value is no object: it converts to no other type (not to
//     an object, not to a string by +, not by a cast).
//
// Every refusal prints its messages through EM_error2 at the line given by
// the rule and returns NULL (FALSE for the cast rule, whose caller reports).
#ifndef CHIP_CHIP_TYPE_OP_H
#define CHIP_CHIP_TYPE_OP_H

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"

struct Chip_Env;
struct Chip_Type;

// The type of `lhs op rhs` (op an ae_Operator id); binary is the node being
// checked. NULL after an error message.
Chip_Type* type_engine_check_op(Chip_Env* env, int op, a_Exp_* lhs, a_Exp_* rhs,
                                a_Exp_Binary_* binary);

// `lhs => rhs`: a call when rhs is a function (the chosen function is left in
// binary->cp_func), a ugen connection, advancing time or waiting on an event
// when rhs is `now`, else an assignment of a primitive or string value.
Chip_Type* type_engine_check_op_chip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs,
                                     a_Exp_Binary_* binary);

// `lhs @=> rhs`: assignment of a reference (or of a value convertible to the
// target's type).
Chip_Type* type_engine_check_op_at_chip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs);

// `lhs =< rhs`: disconnection of two unit generators.
Chip_Type* type_engine_check_op_unchip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs);

// `lhs =^ rhs`: analysis connection of two unit analysers.
Chip_Type* type_engine_check_op_upchip(Chip_Env* env, a_Exp_* lhs, a_Exp_* rhs);

// TRUE when a value of type `from` may stand where a `to` is expected (an
// argument, a returned value, an array element): `from` isa `to`, except
// that a function value fits no other type (the emitter pushes a function as
// the function record itself, which is no object: only a call uses it).
t_CPBOOL type_engine_check_fits(Chip_Type* from, Chip_Type* to);

// TRUE when a value of type `from` may be cast to type `to`: an upcast, a
// downcast (checked at run time), int <-> float, and int, float or polar to
// complex, int, float or complex to polar.
t_CPBOOL type_engine_check_cast_valid(Chip_Env* env, Chip_Type* to, Chip_Type* from);

#endif
