// Type checking of statements and function definitions.
//
// The statement half of the type-checking pass. The context checker and the
// class checker hand every statement to type_engine_check_stmt and every
// function definition to type_engine_check_func_def; expressions inside
// statements go to type_engine_check_exp. The checker creates no records of
// its own: the scan passes have already made every function, argument value
// and resolved return type. What it does here:
//   - verifies the statement and definition rules, printing each error with
//     EM_error2 at the offending node's line;
//   - places argument values into the function's value scope while its body
//     is checked;
//   - wires overriding member functions into the class's virtual table;
//   - leaves on the tree what the emitter reads (a float repeat count is
//     marked for truncation to int).
// Beyond the plain rules, whatever passes here must be emittable: the
// condition of if, while, until (and their do forms) and for must be of a
// type the emitter can branch on (int, float, time or dur), and a repeat
// count must be an int or a float. A condition, a repeat count and a
// returned value are one value each (not a comma list) and no declaration
// (which leaves its variable's address); a returned function value fits no
// object return type. An expression statement goes through
// type_engine_check_exp_stmt, which admits the forms only a statement can
// emit (a debug print of several values; declarations as they are).
// Every routine returns TRUE or FALSE; the first failure ends the check.
// Loop entries on env->breaks and value-scope levels pushed by a check are
// popped again on every path, success or failure, so a failed compile leaves
// the environment's stacks as it found them.
#ifndef CHIP_CHIP_TYPE_STMT_H
#define CHIP_CHIP_TYPE_STMT_H

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"

struct Chip_Env;

// A statement of any kind (TRUE for a null statement). Loops and if open one
// value-scope level and raise class_scope by 1; a code block raises it by 2.
t_CPBOOL type_engine_check_stmt(Chip_Env* env, a_Stmt_* stmt);

// Loop bodies; called by type_engine_check_stmt, which opened the scope.
t_CPBOOL type_engine_check_while(Chip_Env* env, a_Stmt_While_* stmt);
t_CPBOOL type_engine_check_until(Chip_Env* env, a_Stmt_Until_* stmt);
t_CPBOOL type_engine_check_for(Chip_Env* env, a_Stmt_For_* stmt);
t_CPBOOL type_engine_check_loop(Chip_Env* env, a_Stmt_Loop_* stmt);

// A return statement against the enclosing function's return type.
t_CPBOOL type_engine_check_return(Chip_Env* env, a_Stmt_Return_* stmt);

// A function definition: pure/interface rules, overriding, arguments, body.
t_CPBOOL type_engine_check_func_def(Chip_Env* env, a_Func_Def_* func_def);

#endif
