// Type checking of statements and function definitions (see the header).
#include "chip/types/chip_type_stmt.h"

#include <string>

#include "chip/types/chip_type.h"
#include "chip/types/chip_type_exp.h"
#include "chip/types/chip_type_op.h"
#include "chip/util/chip_errmsg.h"

namespace {

// Opens one nested block: a value-scope level of the current namespace and
// one or more steps of class_scope. Closing restores both.
void open_block(Chip_Env* env, unsigned depth) {
  env->class_scope += depth;
  env->curr->value.push();
}

void close_block(Chip_Env* env, unsigned depth) {
  env->curr->value.pop();
  env->class_scope -= depth;
}

// Whether a condition of this type can be branched on: the emitter tests
// int against 0 and float, time and dur against 0.0, and nothing else.
t_CPBOOL is_branchable(Chip_Type* type) {
  return isa(type, &t_int) || isa(type, &t_float) || isa(type, &t_time) || isa(type, &t_dur);
}

// Refuses a condition of a type that cannot be branched on; `what` names
// the statement in the message ("if condition", "while conditional" ...).
t_CPBOOL check_branchable(a_Exp cond, Chip_Type* type, c_constr what) {
  if (is_branchable(type)) return TRUE;
  EM_error2(cond->line_no, "invalid type '%s' in %s...", type->display_name().c_str(), what);
  EM_error2(cond->line_no, "...(condition must be of type 'int', 'float', 'time', or 'dur')");
  return FALSE;
}

// Refuses a comma list where a statement takes one value (the emitter
// would push them all and test or return only one); `what` names the part.
t_CPBOOL check_single_value(a_Exp exp, c_constr what) {
  if (!exp || !exp->next) return TRUE;
  EM_error2(exp->line_no, "multi-value %s not supported/implemented...", what);
  return FALSE;
}

// Checks the condition expression of if, while, until, for and the do
// forms: one value that type-checks and is branchable.
t_CPBOOL check_condition(Chip_Env* env, a_Exp cond, c_constr what) {
  if (!check_single_value(cond, what)) return FALSE;
  Chip_Type* type = type_engine_check_exp(env, cond);
  if (!type || !type_engine_check_decl_values(cond, FALSE)) return FALSE;
  return check_branchable(cond, type, what);
}

// The loop protocol: the loop's own statement goes on `breaks` while its
// body is checked, so that break and continue inside are allowed. The entry
// is removed again on failure too, so that a failed compile leaves no stray
// loop behind for a later `break` to find.
t_CPBOOL check_loop_body(Chip_Env* env, a_Stmt self, a_Stmt body) {
  env->breaks.push_back(self);
  if (!type_engine_check_stmt(env, body)) {
    if (!env->breaks.empty() && env->breaks.back() == self) env->breaks.pop_back();
    return FALSE;
  }
  CHIP_CHECK(env->breaks.size() && env->breaks.back() == self);
  env->breaks.pop_back();
  return TRUE;
}

// Checks the statements of a list in order, up to the first failure.
t_CPBOOL check_stmt_list(Chip_Env* env, a_Stmt_List list) {
  for (; list; list = list->next) {
    if (!type_engine_check_stmt(env, list->stmt)) return FALSE;
  }
  return TRUE;
}

// The text of a definition's name.
std::string func_def_name(a_Func_Def f) { return S_name(f->name); }

// Whether a definition carries code. Script functions have code when they
// have a body.
// TODO(import interface): imported definitions carry a native function
// pointer instead of a body; count it as code once the tree records it.
t_CPBOOL func_def_has_code(a_Func_Def f) { return f->code != nullptr; }

// The value named `name` among the members of `type` and its ancestors.
Chip_Value* find_member(Chip_Type* type, S_Symbol name) {
  return type ? type_engine_find_value(type, name) : nullptr;
}

// "function name '...' conflicts with previously defined value..." for a
// member name that a parent class uses for something other than a function.
void report_name_conflict(a_Func_Def f, Chip_Value* v) {
  EM_error2(f->line_no, "function name '%s' conflicts with previously defined value...",
            func_def_name(f).c_str());
  EM_error2(f->line_no, "from super class '%s'...",
            v->owner_class ? v->owner_class->display_name().c_str() : "[unknown]");
}

// Pure and interface rules: whether the definition may (or must) carry code.
t_CPBOOL check_pure_and_interface(Chip_Env* env, a_Func_Def f) {
  std::string name = func_def_name(f);
  t_CPBOOL has_code = func_def_has_code(f);
  t_CPBOOL is_pure = f->static_decl == ae_key_abstract;
  t_CPBOOL in_iface = env->class_def && env->class_def->def && env->class_def->def->iface;

  if (!env->class_def && is_pure) {
    EM_error2(f->line_no, "non-class function cannot be declared as 'pure'...");
    EM_error2(f->line_no, "...at function '%s'", name.c_str());
    return FALSE;
  }
  if (in_iface && has_code) {
    EM_error2(f->line_no, "interface function signatures cannot contain code...");
    EM_error2(f->line_no, "...at function '%s'", name.c_str());
    return FALSE;
  }
  if (is_pure && has_code) {
    EM_error2(f->line_no, "'pure' function signatures cannot contain code...");
    EM_error2(f->line_no, "...at function '%s'", name.c_str());
    return FALSE;
  }
  if (!has_code && !is_pure && !in_iface) {
    EM_error2(f->line_no, "function declaration must contain code...");
    EM_error2(f->line_no, "(unless in interface, or is declared 'pure')");
    EM_error2(f->line_no, "...at function '%s'", name.c_str());
    return FALSE;
  }
  return TRUE;
}

// Overriding: searches the ancestors of the current class, the parent
// first, for an inherited function of the same name and a compatible
// signature. The first compatible candidate decides: a static candidate, a
// static or pure definition, or another return type is refused; otherwise
// the function takes the candidate's virtual-table slot and overload name.
// `overridden` tells whether a candidate was taken over.
t_CPBOOL check_override(Chip_Env* env, a_Func_Def f, Chip_Func* func, Chip_Value* value,
                        t_CPBOOL& overridden) {
  overridden = FALSE;
  std::string name = func_def_name(f);
  std::string this_class = env->class_def->display_name();
  std::string unused;

  for (Chip_Type* ancestor = env->class_def->parent; ancestor; ancestor = ancestor->parent) {
    Chip_Value* v = find_member(ancestor, f->name);
    if (!v) continue;
    if (!isfunc(v->type)) {
      report_name_conflict(f, v);
      return FALSE;
    }
    std::string owner = v->owner_class ? v->owner_class->display_name() : "[unknown]";
    for (Chip_Func* cand = v->func_ref; cand; cand = cand->next) {
      if (!type_engine_compat_func(f, cand->def, f->line_no, unused, FALSE)) continue;

      t_CPBOOL cand_static = cand->def->static_decl == ae_key_static;
      t_CPBOOL this_static = f->static_decl == ae_key_static;
      t_CPBOOL this_pure = f->static_decl == ae_key_abstract;
      if (cand_static || this_static || this_pure) {
        EM_error2(f->line_no, "function '%s.%s' resembles '%s.%s' but cannot override...",
                  this_class.c_str(), name.c_str(), owner.c_str(), name.c_str());
        if (cand_static) {
          EM_error2(f->line_no, "...(reason: '%s.%s' is declared as 'static')", owner.c_str(),
                    name.c_str());
        } else {
          EM_error2(f->line_no, "...(reason: '%s.%s' is declared as '%s')", this_class.c_str(),
                    name.c_str(), this_static ? "static" : "pure");
        }
        return FALSE;
      }
      if (!equals(f->ret_type, cand->def->ret_type)) {
        EM_error2(f->line_no, "function signatures differ in return type...");
        EM_error2(f->line_no, "function '%s.%s' matches '%s.%s' but cannot override...",
                  this_class.c_str(), name.c_str(), owner.c_str(), name.c_str());
        return FALSE;
      }

      func->vt_index = cand->vt_index;
      CHIP_CHECK(func->vt_index < env->curr->obj_v_table.funcs.size());
      env->curr->obj_v_table.funcs[func->vt_index] = func;
      func->name = cand->name;
      value->name = cand->name;
      overridden = TRUE;
      return TRUE;
    }
  }
  return TRUE;
}

// Adds the arguments' values to the innermost value-scope level, refusing a
// name given twice.
t_CPBOOL check_arguments(Chip_Env* env, a_Func_Def f) {
  unsigned count = 1;
  for (a_Arg_List arg = f->arg_list; arg; arg = arg->next, count++) {
    CHIP_CHECK(arg->type != NULL);
    Chip_Value* v = arg->var_decl->value;
    CHIP_CHECK(v != NULL);
    if (env->curr->value.lookup(arg->var_decl->name, 0)) {
      EM_error2(arg->line_no, "in function '%s':", func_def_name(f).c_str());
      EM_error2(arg->line_no, "argument %i '%s' is already defined in this scope", count,
                S_name(arg->var_decl->name));
      return FALSE;
    }
    env->curr->value.add(arg->var_decl->name, v);
  }
  return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// Statements.

// Checks one statement by kind. Loops and if get a value-scope level of
// their own and raise class_scope by 1, a code block by 2; both are undone
// whatever the result, so declarations inside are locals.
t_CPBOOL type_engine_check_stmt(Chip_Env* env, a_Stmt_* stmt) {
  if (!stmt) return TRUE;
  t_CPBOOL ret = FALSE;

  switch (stmt->s_type) {
    case ae_stmt_exp:
      ret = type_engine_check_exp_stmt(env, stmt->stmt_exp) != nullptr;
      break;

    case ae_stmt_while:
      open_block(env, 1);
      ret = type_engine_check_while(env, &stmt->stmt_while);
      close_block(env, 1);
      break;

    case ae_stmt_until:
      open_block(env, 1);
      ret = type_engine_check_until(env, &stmt->stmt_until);
      close_block(env, 1);
      break;

    case ae_stmt_for:
      open_block(env, 1);
      ret = type_engine_check_for(env, &stmt->stmt_for);
      close_block(env, 1);
      break;

    case ae_stmt_loop:
      open_block(env, 1);
      ret = type_engine_check_loop(env, &stmt->stmt_loop);
      close_block(env, 1);
      break;

    case ae_stmt_if:
      open_block(env, 1);
      ret = check_condition(env, stmt->stmt_if.cond, "if condition") &&
            type_engine_check_stmt(env, stmt->stmt_if.if_body) &&
            type_engine_check_stmt(env, stmt->stmt_if.else_body);
      close_block(env, 1);
      break;

    case ae_stmt_code:
      open_block(env, 2);
      ret = check_stmt_list(env, stmt->stmt_code.stmt_list);
      close_block(env, 2);
      break;

    case ae_stmt_switch:
      env->class_scope++;
      EM_error2(stmt->line_no, "switch not implemented...");
      env->class_scope--;
      ret = FALSE;
      break;

    case ae_stmt_break:
      ret = !env->breaks.empty();
      if (!ret) {
        EM_error2(stmt->stmt_break.line_no, "'break' found outside of for/while/until/switch...");
      }
      break;

    case ae_stmt_continue:
      ret = !env->breaks.empty();
      if (!ret) {
        EM_error2(stmt->stmt_continue.line_no, "'continue' found outside of for/while/until...");
      }
      break;

    case ae_stmt_return:
      ret = type_engine_check_return(env, &stmt->stmt_return);
      break;

    case ae_stmt_case:
    case ae_stmt_gotolabel:
      ret = FALSE;
      break;

    default:
      EM_error2(stmt->line_no, "internal compiler error - no stmt type '%i'!", stmt->s_type);
      ret = FALSE;
      break;
  }
  return ret;
}

// while (c) s and do s while (c): the condition must be branchable.
t_CPBOOL type_engine_check_while(Chip_Env* env, a_Stmt_While_* stmt) {
  if (!check_condition(env, stmt->cond, stmt->is_do ? "do/while conditional" : "while conditional"))
    return FALSE;
  return check_loop_body(env, stmt->self, stmt->body);
}

// until (c) s and do s until (c): as while.
t_CPBOOL type_engine_check_until(Chip_Env* env, a_Stmt_Until_* stmt) {
  if (!check_condition(env, stmt->cond, stmt->is_do ? "do/until conditional" : "until conditional"))
    return FALSE;
  return check_loop_body(env, stmt->self, stmt->body);
}

// for (c1; c2; c3) s: initial and condition statements, then the step; a
// condition, when present, is one branchable value (the emitter tests it
// without popping it as a statement).
t_CPBOOL type_engine_check_for(Chip_Env* env, a_Stmt_For_* stmt) {
  if (!type_engine_check_stmt(env, stmt->c1)) return FALSE;
  if (stmt->c2 && stmt->c2->s_type == ae_stmt_exp) {
    if (!check_condition(env, stmt->c2->stmt_exp, "for conditional")) return FALSE;
  } else if (!type_engine_check_stmt(env, stmt->c2)) {
    return FALSE;
  }
  // The step's values are popped as a statement's are.
  if (stmt->c3 &&
      (!type_engine_check_exp(env, stmt->c3) || !type_engine_check_decl_values(stmt->c3, TRUE)))
    return FALSE;
  return check_loop_body(env, stmt->self, stmt->body);
}

// repeat (n) s: the count must be an int; a float is accepted and marked for
// truncation to int.
t_CPBOOL type_engine_check_loop(Chip_Env* env, a_Stmt_Loop_* stmt) {
  if (!check_single_value(stmt->cond, "repeat count")) return FALSE;
  Chip_Type* type = type_engine_check_exp(env, stmt->cond);
  if (!type || !type_engine_check_decl_values(stmt->cond, FALSE)) return FALSE;
  if (isa(type, &t_float)) {
    stmt->cond->cast_to = &t_int;
  } else if (!isa(type, &t_int)) {
    EM_error2(stmt->line_no, "loop * conditional must be of type 'int'...");
    return FALSE;
  }
  return check_loop_body(env, stmt->self, stmt->body);
}

// return [e]: only inside a function, and the returned type (void when
// there is none) must be a kind of the declared return type.
t_CPBOOL type_engine_check_return(Chip_Env* env, a_Stmt_Return_* stmt) {
  if (!env->func) {
    EM_error2(stmt->line_no, "'return' statement found outside function definition");
    return FALSE;
  }
  Chip_Type* type = &t_void;
  if (stmt->val) {
    if (!check_single_value(stmt->val, "return value")) return FALSE;
    type = type_engine_check_exp(env, stmt->val);
    if (!type || !type_engine_check_decl_values(stmt->val, FALSE)) return FALSE;
  }
  Chip_Type* declared = env->func->def->ret_type;
  if (!type_engine_check_fits(type, declared)) {
    EM_error2(
        stmt->line_no, "function '%s' was defined with return type '%s' -- but returning type '%s'",
        env->func->name.c_str(), declared->display_name().c_str(), type->display_name().c_str());
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Function definitions.

// Checks a function definition: no nesting; inside a class, no clash with a
// parent's non-function member, the pure/interface rules, overriding and the
// virtual-table slot; then the arguments and the body in a value-scope level
// of their own. Every failure after the nesting check leaves func cleared
// and the scope level and class_scope as they were on entry.
t_CPBOOL type_engine_check_func_def(Chip_Env* env, a_Func_Def_* f) {
  if (env->func) {
    EM_error2(f->line_no, "nested function definitions are not (yet) allowed");
    return FALSE;
  }

  Chip_Func* func = f->cp_func;
  Chip_Value* value = func ? func->value_ref : nullptr;
  CHIP_CHECK(func != NULL && value != NULL);
  std::string name = func_def_name(f);

  // A parent's member of the same name must be a function: the one this
  // function overloads or overrides; calls continue from it.
  if (env->class_def) {
    Chip_Value* inherited = find_member(env->class_def->parent, f->name);
    if (inherited) {
      if (!isfunc(inherited->type)) {
        report_name_conflict(f, inherited);
        env->func = nullptr;
        return FALSE;
      }
      func->up = inherited;
    }
  }

  if (!check_pure_and_interface(env, f)) {
    env->func = nullptr;
    return FALSE;
  }

  if (env->class_def) {
    t_CPBOOL overridden = FALSE;
    if (!check_override(env, f, func, value, overridden)) {
      env->func = nullptr;
      return FALSE;
    }
    if (!overridden && func->is_member) {
      func->vt_index = env->curr->obj_v_table.funcs.size();
      env->curr->obj_v_table.funcs.push_back(func);
    }
  }

  // Arguments and the body's top-level locals share one scope level.
  env->func = func;
  env->curr->value.push();

  t_CPBOOL ok = check_arguments(env, f);
  if (ok && f->code) {
    CHIP_CHECK(f->code == NULL || f->code->s_type == ae_stmt_code);
    env->class_scope++;
    ok = check_stmt_list(env, f->code->stmt_code.stmt_list);
    env->class_scope--;
    if (!ok) EM_error2(0, "...in function '%s'", name.c_str());
  }

  // TODO(import interface): for an imported function, copy the definition's
  // stack depth into its native code's stack depth once Chip_VM_Code exists.

  env->curr->value.pop();
  env->func = nullptr;
  return ok;
}
