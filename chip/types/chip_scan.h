// Scan passes: the three walks over a parsed file that run before the type
// check, so that a name can be used before its definition within the file.
//
//   pass 0 (type discovery)    creates the type, namespace and class-name
//                              value of every class the file defines, nested
//                              classes included; a public class goes to the
//                              global namespace.
//   pass 1 (type resolution)   resolves every written type name: declarations,
//                              return types, argument types; checks the
//                              shape of array parts and of postfix operands.
//   pass 2 (type verification) creates the values that declarations introduce
//                              and the functions (with their function types
//                              and name values) that function definitions
//                              introduce, enters them in the namespaces, and
//                              names overloads "name@N@namespace". Overloads
//                              of a name are chained in definition order, so
//                              that overload resolution tries them in the
//                              order in which they were written. A value
//                              declared while no class and no function is open
//                              is marked context-global.
//
// Each pass works on the environment's current context and namespace; the
// te_HowMuch selector chooses which sections it handles (all, class
// definitions only, all but class definitions). Every pass returns TRUE or
// FALSE, prints its own messages through EM_error2 at the node's line, stops
// at the first failure and closes every scope it opened on every path. The
// passes keep no state between calls; what they create belongs to the
// current context.
#ifndef CHIP_CHIP_SCAN_H
#define CHIP_CHIP_SCAN_H

#include "chip/front/chip_absyn.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_def.h"

// Pass drivers, over the program's sections in order.
t_CPBOOL type_engine_scan0_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much);
t_CPBOOL type_engine_scan1_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much);
t_CPBOOL type_engine_scan2_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much);

// Pass 0: the type of a class definition (and of its nested classes).
t_CPBOOL type_engine_scan0_class_def(Chip_Env* env, a_Class_Def_* class_def);

// Pass 1: written type names resolved.
t_CPBOOL type_engine_scan1_stmt_list(Chip_Env* env, a_Stmt_List_* list);
t_CPBOOL type_engine_scan1_stmt(Chip_Env* env, a_Stmt_* stmt);
t_CPBOOL type_engine_scan1_exp(Chip_Env* env, a_Exp_* exp);
t_CPBOOL type_engine_scan1_exp_decl(Chip_Env* env, a_Exp_Decl_* decl);
t_CPBOOL type_engine_scan1_func_def(Chip_Env* env, a_Func_Def_* func_def);
t_CPBOOL type_engine_scan1_class_def(Chip_Env* env, a_Class_Def_* class_def);

// Pass 2: values and functions created and entered in the namespaces.
t_CPBOOL type_engine_scan2_stmt_list(Chip_Env* env, a_Stmt_List_* list);
t_CPBOOL type_engine_scan2_stmt(Chip_Env* env, a_Stmt_* stmt);
t_CPBOOL type_engine_scan2_exp(Chip_Env* env, a_Exp_* exp);
t_CPBOOL type_engine_scan2_exp_decl(Chip_Env* env, a_Exp_Decl_* decl);
t_CPBOOL type_engine_scan2_func_def(Chip_Env* env, a_Func_Def_* func_def);
t_CPBOOL type_engine_scan2_class_def(Chip_Env* env, a_Class_Def_* class_def);

#endif
