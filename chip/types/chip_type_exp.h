// Type checking of expressions.
//
// The expression half of the type-checking pass. type_engine_check_exp walks
// a comma list of expressions, gives every node its type (NULL on failure)
// and dispatches by kind:
//   - names, keywords and literals (primaries), with the lookup of a name
//     through the current scopes, the parent classes and the enclosing
//     namespaces;
//   - declarations: member offsets, static data, entry in the value scope;
//   - member access through objects, class names, complex and polar values;
//   - function calls, with overload resolution over the overload chain of
//     the callee and of the same-named members of the parent classes: first
//     an exact pass (every argument isa its parameter), then a pass that also
//     converts int arguments to float parameters;
//   - binary operators (through the operator rules of type_engine_check_op),
//     array indexing and array literals, prefix and postfix operators, casts,
//     durations, the conditional expression, complex and polar literals.
// Besides the types, the checker leaves on the tree what the emitter reads:
// the value a name denotes, the overload a call chose (cp_func, and the
// callee's name replaced by the overload's own name), the implicit int to
// float conversions (cast_to), the operands of ++ and -- marked to be emitted
// as addresses (emit_var), and the array types derived from literals,
// indexing and `new`.
// Every refusal prints its message through EM_error2 at the offending node's
// line and returns NULL; callers stop at the first NULL.
// Whatever the checker accepts, the emitter must be able to produce; so,
// beyond the plain language rules:
//   - ++ and -- apply to int variables only (the only operand the emitter
//     can step), never to constants or reserved values (true, pi, second,
//     now, a function name ...), and only to a name, a member, an array
//     element or a declaration (forms with an address);
//   - operators and conditionals yield values (meta kind value), so they are
//     no assignment target;
//   - a conditional expression whose condition is not an int is refused with
//     a message;
//   - a member reached by its bare name must belong to the class being
//     checked or an ancestor (a nested class has no instance of its
//     enclosing class at hand);
//   - several subscripts at once must all be ints (a string key indexes one
//     dimension by itself);
//   - only a name or a member can be called (the call is bound to the
//     overload chosen here);
//   - `new` refuses every primitive type, complex and polar included;
//   - one value where the emitter takes one: a comma list is refused as the
//     operand of a prefix, postfix or cast operator, a duration, the base of
//     a member access or of an index, a callee, a part of `?:`, and inside
//     one pair of array brackets;
//   - a class name is a value only as the base of a member access (it
//     reaches static members); a function value is used by calls only (it
//     is passed to no parameter and held in no array literal);
//   - the component of a complex or polar value is assigned only through a
//     variable (the emitter stores through the variable's address);
//   - a debug print of several values is a statement of its own (its values
//     stay on the stack until the statement pops them), and an expression
//     statement does not mix void values with others (it pops by the type
//     of the first);
//   - void values are no array elements, and a void value passes no
//     argument only when it is the lone argument;
//   - a declaration leaves its variable's address: it is a value only when
//     it instantiates an object (type_engine_check_decl_values).
#ifndef CHIP_CHIP_TYPE_EXP_H
#define CHIP_CHIP_TYPE_EXP_H

#include <string>

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"

struct Chip_Env;
struct Chip_Type;
struct Chip_Func;

// Every expression of a comma list; the type of the first, or NULL at the
// first expression that fails. list_count of the first node counts the list.
Chip_Type* type_engine_check_exp(Chip_Env* env, a_Exp_* exp);

// The expression (list) of an expression statement: as type_engine_check_exp,
// and also the only place where a debug print of several values may stand
// (as the whole statement); void values and others do not mix in the list.
Chip_Type* type_engine_check_exp_stmt(Chip_Env* env, a_Exp_* exp);

// Refuses a declaration used as a value in a checked expression list: a
// declaration leaves the address of its variable (only one that
// instantiates an object leaves the object), so elsewhere than as a
// statement (as_statement: the list's own nodes), an assignment target, the
// operand of ++ / -- or the variable of a complex or polar component, the
// emitter would use an address as the value. TRUE when none is misused.
t_CPBOOL type_engine_check_decl_values(a_Exp_* list, t_CPBOOL as_statement);

// Names, keywords and literals.
Chip_Type* type_engine_check_exp_primary(Chip_Env* env, a_Exp_Primary_* exp);
// Variable declarations: offsets, static data and entry in the value scope.
Chip_Type* type_engine_check_exp_decl(Chip_Env* env, a_Exp_Decl_* decl);
// Member access `base.member`.
Chip_Type* type_engine_check_exp_dot_member(Chip_Env* env, a_Exp_Dot_Member_* member);
// A call of func with args (NULL for none); the return type of the chosen
// overload, which is left in cp_func.
Chip_Type* type_engine_check_exp_func_call(Chip_Env* env, a_Exp_* func, a_Exp_* args,
                                           Chip_Func*& cp_func, int line_no);
// "Type.member" for messages: the base is checked (t_base recorded), a class
// name stands for its class; "[error]" when the base fails.
std::string type_engine_print_exp_dot_member(Chip_Env* env, a_Exp_Dot_Member_* member);

// Array indexing `a[i][j]...` and array literals `[a, b, ...]`.
Chip_Type* type_engine_check_exp_array(Chip_Env* env, a_Exp_Array_* array);
Chip_Type* type_engine_check_exp_array_lit(Chip_Env* env, a_Exp_Primary_* exp);
// Prefix operators (- ~ ! ++ -- spork ~ new) and postfix ++ / --.
Chip_Type* type_engine_check_exp_unary(Chip_Env* env, a_Exp_Unary_* unary);
Chip_Type* type_engine_check_exp_postfix(Chip_Env* env, a_Exp_Postfix_* postfix);
// Casts `(T) e` / `e $ T`, durations `n::unit`, conditionals `c ? a : b`.
Chip_Type* type_engine_check_exp_cast(Chip_Env* env, a_Exp_Cast_* cast);
Chip_Type* type_engine_check_exp_dur(Chip_Env* env, a_Exp_Dur_* dur);
Chip_Type* type_engine_check_exp_if(Chip_Env* env, a_Exp_If_* exp_if);
// Complex `#(re, im)` and polar `%(mag, phase)` literals.
Chip_Type* type_engine_check_exp_complex_lit(Chip_Env* env, a_Exp_Primary_* exp);
Chip_Type* type_engine_check_exp_polar_lit(Chip_Env* env, a_Exp_Primary_* exp);

#endif
