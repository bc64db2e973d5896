// Type checking of expressions (see the header).
#include "chip/types/chip_type_exp.h"

#include <cstring>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/types/chip_type_op.h"
#include "chip/util/chip_errmsg.h"

namespace {

Chip_Type* check_one(Chip_Env* env, a_Exp exp);

// The class a class-name value stands for: class-name types keep it in
// array_type (or reach it through the definition they carry). Any other
// type stands for itself.
Chip_Type* class_or_self(Chip_Type* type) {
  if (!isa(type, &t_class)) return type;
  if (type->array_type) return type->array_type;
  if (type->def && type->def->type) return type->def->type;
  return type;
}

// Display name, for messages.
c_constr dname(Chip_Type* type) { return type->display_name().c_str(); }

// Whether a checked expression names a value that ++, -- may step: only the
// forms the emitter can push as an address (a name, a member, an array
// element, a declared variable), whatever the parser's meta kind says.
t_CPBOOL is_steppable_form(a_Exp exp) {
  if (exp->meta_kind != ae_meta_var) return FALSE;
  switch (exp->s_type) {
    case ae_exp_primary: return exp->primary.s_type == ae_primary_var;
    case ae_exp_dot_member:
    case ae_exp_array:
    case ae_exp_decl: return TRUE;
    default: return FALSE;
  }
}

// The value a checked name or member expression denotes, or null (complex
// and polar components, other forms).
Chip_Value* denoted_value(a_Exp exp) {
  if (exp->s_type == ae_exp_primary && exp->primary.s_type == ae_primary_var) {
    return exp->primary.value;
  }
  if (exp->s_type == ae_exp_dot_member && exp->dot_member.t_base) {
    Chip_Type* base = exp->dot_member.t_base;
    if (base->id == te_complex || base->id == te_polar) return nullptr;
    Chip_Type* owner = class_or_self(base);
    if (!owner->info) return nullptr;
    return type_engine_find_value(owner, exp->dot_member.member_name);
  }
  return nullptr;
}

// Refuses ++ / -- on a constant (true, pi, second, a function name ...) or a
// reserved value (now, maybe ...): the emitter pushes those by value and
// could never step them. TRUE when the operand may be stepped.
t_CPBOOL check_step_target(Chip_Env* env, a_Exp operand, int op, int line) {
  Chip_Value* value = denoted_value(operand);
  if (value && value->is_const) {
    EM_error2(line, "cannot apply '%s' to constant value '%s'", op2str(op), value->name.c_str());
    return FALSE;
  }
  if (operand->s_type == ae_exp_primary && operand->primary.s_type == ae_primary_var) {
    c_constr name = S_name(operand->primary.var);
    if (env->key_values.count(name)) {
      EM_error2(line, "cannot apply '%s' to reserved value '%s'", op2str(op), name);
      return FALSE;
    }
  }
  return TRUE;
}

// The note printed after a refused ++ / -- on a non-int operand.
void note_step_types(int line, int op) {
  EM_error2(line, "...(note: '%s' applies to values of type 'int' only)", op2str(op));
}

// Whether every expression of a list has been typed in this check already.
t_CPBOOL already_checked(a_Exp list) {
  for (a_Exp e = list; e; e = e->next) {
    if (!e->type) return FALSE;
  }
  return list != nullptr;
}

// Whether an expression is a declaration (the debug print refuses them).
t_CPBOOL is_decl(a_Exp exp) { return exp && exp->s_type == ae_exp_decl; }

// Three forms are values only in one place each, which the checks below
// mark while they check it:
//   - a class name stands for its class only as the base of a member access
//     (it reaches static members); the emitter has nothing to push for it;
//   - a member function only as a callee (of a call or of `=>`): the
//     emitter pushes it with its object, two values where one is expected
//     (the target of an assigning operator may name one too: the operator
//     rules then refuse it as a constant, with their own message);
//   - a debug print of several values leaves them all on the stack, which
//     only an expression statement of its own pops.
a_Exp g_member_base = nullptr;  // base of the member access being checked
a_Exp g_callee = nullptr;       // callee being checked
a_Exp g_stmt_print = nullptr;   // debug print that is a whole statement

// Checks the base of a member access, where a class name may stand.
Chip_Type* check_member_base(Chip_Env* env, a_Exp base) {
  a_Exp saved = g_member_base;
  g_member_base = base;
  Chip_Type* type = type_engine_check_exp(env, base);
  g_member_base = saved;
  return type;
}

// Refuses a comma list where the emitter takes one value: it would push
// every value and use only one. `what` spells the operator.
t_CPBOOL check_single_value(a_Exp exp, c_constr what) {
  if (!exp || !exp->next) return TRUE;
  EM_error2(exp->line_no, "multi-value (%s) operation not supported/implemented...", what);
  return FALSE;
}

// Refuses array subscripts that are not one value per pair of brackets
// (`a[1, 2]` is one pair holding a list).
t_CPBOOL check_subscripts(a_Array_Sub sub) {
  int count = 0;
  for (a_Exp e = sub->exp_list; e; e = e->next) count++;
  if (count == sub->depth) return TRUE;
  EM_error2(sub->line_no, "multi-value ([]) operation not supported/implemented...");
  return FALSE;
}

// Refuses a class name or a member function used as a value (see
// g_member_base, g_callee) in a name or a member access; passes the type
// through.
Chip_Type* check_value_use(a_Exp exp, Chip_Type* type) {
  if (!type) return type;
  Chip_Value* value = denoted_value(exp);
  if (!value) return type;
  if (exp != g_member_base && value->is_const && isa(type, &t_class)) {
    EM_error2(exp->line_no, "cannot use class name '%s' as a value...", value->name.c_str());
    EM_error2(exp->line_no, "...(note: a class name only reaches its static members: '%s.member')",
              value->name.c_str());
    return nullptr;
  }
  if (exp != g_callee && value->func_ref && value->func_ref->is_member) {
    EM_error2(exp->line_no, "cannot use member function '%s' as a value...",
              S_name(exp->s_type == ae_exp_dot_member ? exp->dot_member.member_name
                                                      : exp->primary.var));
    EM_error2(exp->line_no, "...(note: a member function can only be called)");
    return nullptr;
  }
  return type;
}

// Refuses an expression list that mixes void values with others: an
// expression statement pops its values by the type of the first, and a
// void one pushes nothing.
t_CPBOOL check_void_mix(a_Exp list) {
  if (!list) return TRUE;
  t_CPBOOL first_void = equals(list->type, &t_void);
  for (a_Exp e = list->next; e; e = e->next) {
    if (equals(e->type, &t_void) != first_void) {
      EM_error2(e->line_no, "cannot mix 'void' and non-void values in an expression list...");
      return FALSE;
    }
  }
  return TRUE;
}

// Whether an expression is a debug print `<<< ... >>>`.
t_CPBOOL is_print(a_Exp exp) {
  return exp && exp->s_type == ae_exp_primary && exp->primary.s_type == ae_primary_hack;
}

// ---------------------------------------------------------------------------
// Binary operators: both sides, then each right-hand expression paired with
// the whole left side through the operator rules.
Chip_Type* check_exp_binary(Chip_Env* env, a_Exp_Binary_* binary) {
  Chip_Type* left = type_engine_check_exp(env, binary->lhs);
  // The right side of `=>` may be the function it calls; the target of an
  // assignment is left to the operator rules.
  a_Exp saved = g_callee;
  if (binary->op == ae_op_chip || binary->op == ae_op_at_chip ||
      (binary->op >= ae_op_plus_chip && binary->op <= ae_op_percent_chip))
    g_callee = binary->rhs;
  Chip_Type* right = type_engine_check_exp(env, binary->rhs);
  g_callee = saved;
  if (!left || !right) return nullptr;
  Chip_Type* result = nullptr;
  for (a_Exp rhs = binary->rhs; rhs; rhs = rhs->next) {
    result = type_engine_check_op(env, binary->op, binary->lhs, rhs, binary);
    if (!result) return nullptr;
  }
  return result;
}

// Operators and conditionals yield values: the emitter can push no address
// for them, so they are no target of an assignment or of ++ / --, whatever
// meta kind the parser gave them (it copies an operand's).
Chip_Type* as_value(a_Exp exp, Chip_Type* type) {
  if (type) exp->meta_kind = ae_meta_value;
  return type;
}

// One expression node (not its next): the type of that node, or null.
Chip_Type* check_one(Chip_Env* env, a_Exp exp) {
  switch (exp->s_type) {
    case ae_exp_binary: return check_exp_binary(env, &exp->binary);
    case ae_exp_unary: return as_value(exp, type_engine_check_exp_unary(env, &exp->unary));
    case ae_exp_cast: return type_engine_check_exp_cast(env, &exp->cast);
    case ae_exp_postfix: return as_value(exp, type_engine_check_exp_postfix(env, &exp->postfix));
    case ae_exp_dur: return type_engine_check_exp_dur(env, &exp->dur);
    case ae_exp_primary: return check_value_use(exp, type_engine_check_exp_primary(env, &exp->primary));
    case ae_exp_array: return type_engine_check_exp_array(env, &exp->array);
    case ae_exp_func_call: {
      a_Exp_Func_Call_* call = &exp->func_call;
      call->ret_type = type_engine_check_exp_func_call(env, call->func, call->args, call->cp_func,
                                                       call->line_no);
      return call->ret_type;
    }
    case ae_exp_dot_member:
      return check_value_use(exp, type_engine_check_exp_dot_member(env, &exp->dot_member));
    case ae_exp_if: return as_value(exp, type_engine_check_exp_if(env, &exp->exp_if));
    case ae_exp_decl: return type_engine_check_exp_decl(env, &exp->decl);
    default:
      EM_error2(exp->line_no, "internal compiler error - no expression type '%i'...", exp->s_type);
      return nullptr;
  }
}

// Checks a single node and records its type (the callee of a call is one
// expression even when it sits in a list, as the right side of `=>` does).
Chip_Type* check_single(Chip_Env* env, a_Exp exp) {
  exp->type = nullptr;
  exp->type = check_one(env, exp);
  return exp->type;
}

// ---------------------------------------------------------------------------
// Names: the keywords this, me, now, dac, adc, blackhole, null, NULL, then a
// lookup through the innermost scope, the parent classes and the enclosing
// scopes and namespaces.
// The keywords' symbols: names are interned, so a name is told from them by
// its address alone.
struct Name_Keywords {
  S_Symbol this_ = insert_symbol("this");
  S_Symbol me = insert_symbol("me");
  S_Symbol now = insert_symbol("now");
  S_Symbol dac = insert_symbol("dac");
  S_Symbol adc = insert_symbol("adc");
  S_Symbol blackhole = insert_symbol("blackhole");
  S_Symbol null = insert_symbol("null");
  S_Symbol null_upper = insert_symbol("NULL");
};

Chip_Type* check_name(Chip_Env* env, a_Exp_Primary_* exp) {
  static const Name_Keywords keywords;
  S_Symbol var = exp->var;
  c_constr name = S_name(var);
  a_Exp self = exp->self;
  if (var == keywords.this_) {
    if (!env->class_def) {
      EM_error2(exp->line_no, "keyword 'this' can be used only inside class definition...");
      return nullptr;
    }
    if (env->func && !env->func->is_member) {
      EM_error2(exp->line_no, "keyword 'this' cannot be used inside static functions...");
      return nullptr;
    }
    self->meta_kind = ae_meta_value;
    return env->class_def;
  }
  if (var == keywords.me) {
    self->meta_kind = ae_meta_value;
    return &t_shred;
  }
  if (var == keywords.now) {
    self->meta_kind = ae_meta_var;
    return &t_time;
  }
  if (var == keywords.dac || var == keywords.adc) {
    // Their classes come with the multichannel module; before it is loaded
    // both are plain UGens.
    self->meta_kind = ae_meta_value;
    Chip_Type* type = var == keywords.dac ? g_t_dac : g_t_adc;
    return type ? type : &t_ugen;
  }
  if (var == keywords.blackhole) {
    self->meta_kind = ae_meta_value;
    return &t_ugen;
  }
  if (var == keywords.null || var == keywords.null_upper) {
    self->meta_kind = ae_meta_value;
    return &t_null;
  }

  // Without climbing, a look-up by symbol is what type_engine_find_value
  // does (no deprecated names are tried).
  Chip_Value* value = env->curr->lookup_value(var, 0);
  if (!value) {
    if (env->class_def && env->class_def->parent) {
      value = type_engine_find_value(env->class_def->parent, exp->var);
    }
    // Climbing, by symbol first; by text (which also tries deprecated
    // names) only for a name not found so.
    if (!value) value = env->curr->lookup_value(var, 1);
    if (!value) value = type_engine_find_value(env, name, 1, exp->line_no);
    if (!value) {
      if (env->class_def) {
        EM_error2(exp->line_no, "undefined variable/member '%s' in class/namespace '%s'...", name,
                  env->class_def->name.c_str());
      } else {
        EM_error2(exp->line_no, "undefined variable '%s'...", name);
      }
      return nullptr;
    }
    // A static function sees no instance: its members are out of reach.
    t_CPBOOL non_static_member = value->is_member || (value->func_ref && value->func_ref->is_member);
    if (env->class_def && env->func && env->func->def &&
        env->func->def->static_decl == ae_key_static && non_static_member) {
      EM_error2(exp->line_no, "non-static member '%s' used from static function...", name);
      return nullptr;
    }
    // A bare member name is read through `this`: from a class nested in the
    // member's class there is no such object (and its statics are reached
    // through the class's name).
    Chip_Type* owner = value->owner_class;
    if (owner && (non_static_member || value->is_static) &&
        !(env->class_def && isa(env->class_def, owner))) {
      if (value->is_static) {
        EM_error2(exp->line_no, "static member '%s' must be named through its class here: '%s.%s'...",
                  name, dname(owner), name);
      } else {
        EM_error2(exp->line_no, "cannot access member '%s.%s' without object instance...",
                  dname(owner), name);
      }
      return nullptr;
    }
  }
  if (!value->is_decl_checked) {
    EM_error2(exp->line_no, "variable/member '%s' is used before declaration...", name);
    return nullptr;
  }
  // The name of a global duration (samp, ms, second ...) is compiled into
  // that duration's value wherever it appears: another value of that name
  // could never be read or assigned.
  Chip_Value* global = env->global()->lookup_value(var, 0);
  if (global && global != value && equals(global->type, &t_dur)) {
    EM_error2(exp->line_no, "'%s' hides the global duration '%s'...", name, name);
    EM_error2(exp->line_no, "...(note: the name always denotes that duration: rename '%s')", name);
    return nullptr;
  }
  exp->value = value;
  return value->type;
}

// ---------------------------------------------------------------------------
// Overload resolution.

// Whether the arguments fit the parameters of f one to one; with convert,
// an int argument also fits a float parameter and is marked for conversion.
t_CPBOOL args_match(Chip_Func* f, a_Exp args, t_CPBOOL convert) {
  a_Arg_List param = f->def ? f->def->arg_list : nullptr;
  a_Exp arg = args;
  while (arg && param) {
    if (!param->type) return FALSE;
    if (!type_engine_check_fits(arg->type, param->type)) {
      if (convert && equals(arg->type, &t_int) && equals(param->type, &t_float)) {
        arg->cast_to = &t_float;
      } else {
        return FALSE;
      }
    }
    arg = arg->next;
    param = param->next;
  }
  return !arg && !param;
}

// The first candidate that the arguments fit: the callee's overload chain in
// order, then the chains of the same-named members of the parent classes.
// A conversion mark survives only on the candidate chosen.
Chip_Func* find_overload(Chip_Func* first, a_Exp args, t_CPBOOL convert) {
  std::vector<Chip_Type*> saved;
  for (a_Exp arg = args; arg; arg = arg->next) saved.push_back(arg->cast_to);
  for (Chip_Func* chain = first; chain;) {
    for (Chip_Func* f = chain; f; f = f->next) {
      if (args_match(f, args, convert)) return f;
      size_t i = 0;
      for (a_Exp arg = args; arg; arg = arg->next) arg->cast_to = saved[i++];
    }
    chain = chain->up ? chain->up->func_ref : nullptr;
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Dispatch over a comma list: each node typed in turn, the first failure
// stops the list.
Chip_Type* type_engine_check_exp(Chip_Env* env, a_Exp_* exp) {
  if (!exp) return nullptr;
  a_Exp first = exp;
  first->list_count = 0;
  for (a_Exp curr = exp; curr; curr = curr->next) {
    curr->type = nullptr;
    first->list_count++;
    curr->type = check_one(env, curr);
    if (!curr->type) return nullptr;
  }
  return first->type;
}

namespace {

// Whether a checked declaration leaves the address of its variable, not a
// value: every declaration but the one of an object it instantiates (an
// object without `@`, or an array with sizes).
t_CPBOOL decl_leaves_address(a_Exp_Decl_* decl) {
  for (a_Var_Decl_List list = decl->var_decl_list; list; list = list->next) {
    a_Var_Decl var_decl = list->var_decl;
    Chip_Type* type = var_decl->value ? var_decl->value->type : nullptr;
    if (!type || type_engine_check_primitive(type)) return TRUE;
    if (var_decl->array ? !var_decl->array->exp_list : (decl->type && decl->type->ref)) return TRUE;
  }
  return FALSE;
}

t_CPBOOL check_decl_list(a_Exp list, t_CPBOOL roots_ok);

// One node of check_decl_list and the expressions inside it. `ok` tells
// whether a declaration may stand here as it is.
t_CPBOOL check_decl_node(a_Exp exp, t_CPBOOL ok) {
  switch (exp->s_type) {
    case ae_exp_binary:
      return check_decl_list(exp->binary.lhs, FALSE) && check_decl_list(exp->binary.rhs, FALSE);
    case ae_exp_unary:
      return check_decl_list(exp->unary.exp, FALSE) &&
             (!exp->unary.array || check_decl_list(exp->unary.array->exp_list, FALSE));
    case ae_exp_cast: return check_decl_list(exp->cast.exp, FALSE);
    case ae_exp_postfix: return check_decl_list(exp->postfix.exp, FALSE);
    case ae_exp_dur:
      return check_decl_list(exp->dur.base, FALSE) && check_decl_list(exp->dur.unit, FALSE);
    case ae_exp_primary:
      switch (exp->primary.s_type) {
        case ae_primary_hack: return check_decl_list(exp->primary.exp, FALSE);
        case ae_primary_array: return check_decl_list(exp->primary.array->exp_list, FALSE);
        case ae_primary_complex: return check_decl_list(exp->primary.complex->re, FALSE);
        case ae_primary_polar: return check_decl_list(exp->primary.polar->mod, FALSE);
        default: return TRUE;
      }
    case ae_exp_array:
      return check_decl_list(exp->array.base, FALSE) &&
             check_decl_list(exp->array.indices->exp_list, FALSE);
    case ae_exp_func_call:
      return check_decl_list(exp->func_call.func, FALSE) &&
             check_decl_list(exp->func_call.args, FALSE);
    case ae_exp_dot_member: {
      // The component of a complex or polar variable is reached through
      // the variable's address: a declaration serves.
      Chip_Type* base = exp->dot_member.t_base;
      t_CPBOOL component = base && (base->id == te_complex || base->id == te_polar);
      return check_decl_list(exp->dot_member.base, component);
    }
    case ae_exp_if:
      return check_decl_list(exp->exp_if.cond, FALSE) && check_decl_list(exp->exp_if.if_exp, FALSE) &&
             check_decl_list(exp->exp_if.else_exp, FALSE);
    case ae_exp_decl:
      for (a_Var_Decl_List list = exp->decl.var_decl_list; list; list = list->next) {
        a_Array_Sub array = list->var_decl->array;
        if (array && !check_decl_list(array->exp_list, FALSE)) return FALSE;
      }
      if (ok || exp->emit_var || !decl_leaves_address(&exp->decl)) return TRUE;
      EM_error2(exp->line_no, "cannot use the declaration of '%s' as a value...",
                S_name(exp->decl.var_decl_list->var_decl->name));
      EM_error2(exp->line_no,
                "...(note: a declaration is a value only when it instantiates an object)");
      return FALSE;
    default: return TRUE;
  }
}

// Every node of a checked list; `roots_ok` tells whether the list's own
// nodes may be declarations as they are.
t_CPBOOL check_decl_list(a_Exp list, t_CPBOOL roots_ok) {
  for (a_Exp e = list; e; e = e->next) {
    if (!check_decl_node(e, roots_ok)) return FALSE;
  }
  return TRUE;
}

}  // namespace

// Declarations used as values (see the header).
t_CPBOOL type_engine_check_decl_values(a_Exp_* list, t_CPBOOL as_statement) {
  return check_decl_list(list, as_statement);
}

// The expression (list) of an expression statement: the one place where a
// debug print of several values may stand (as the whole statement), and
// where the values are popped by the type of the first, so that void and
// other values do not mix.
Chip_Type* type_engine_check_exp_stmt(Chip_Env* env, a_Exp_* exp) {
  a_Exp print = (is_print(exp) && !exp->next) ? exp : nullptr;
  a_Exp saved = g_stmt_print;
  g_stmt_print = print;
  Chip_Type* type = type_engine_check_exp(env, exp);
  g_stmt_print = saved;
  if (!type) return nullptr;
  if (!check_void_mix(print ? print->primary.exp : exp)) return nullptr;
  if (!check_decl_list(exp, TRUE)) return nullptr;
  return type;
}

// Primaries: names, literals, the debug print, array, complex and polar
// literals.
Chip_Type* type_engine_check_exp_primary(Chip_Env* env, a_Exp_Primary_* exp) {
  switch (exp->s_type) {
    case ae_primary_var: return check_name(env, exp);
    case ae_primary_num: return &t_int;
    case ae_primary_float: return &t_float;
    case ae_primary_str: return escape_str(exp->str, exp->line_no) ? &t_string : nullptr;
    case ae_primary_array: return type_engine_check_exp_array_lit(env, exp);
    case ae_primary_hack:
      if (is_decl(exp->exp)) {
        EM_error2(exp->line_no, "cannot use <<< >>> on variable declarations...");
        return nullptr;
      }
      if (exp->exp && exp->exp->next && exp->self != g_stmt_print) {
        EM_error2(exp->line_no, "multi-value (<<< >>>) operation not supported/implemented...");
        EM_error2(exp->line_no, "...(note: several values print in a '<<< >>>' statement of its own)");
        return nullptr;
      }
      return type_engine_check_exp(env, exp->exp);
    case ae_primary_complex: return type_engine_check_exp_complex_lit(env, exp);
    case ae_primary_polar: return type_engine_check_exp_polar_lit(env, exp);
    case ae_primary_nil: return &t_void;
    default:
      EM_error2(exp->line_no, "internal error - unrecognized primary type '%i'...", exp->s_type);
      return nullptr;
  }
}

// Declarations: every variable of the list gets its storage (a member
// offset, a slot of the class's static data, or nothing for a local), is
// marked checked, and outside the class level enters the innermost scope.
Chip_Type* type_engine_check_exp_decl(Chip_Env* env, a_Exp_Decl_* decl) {
  t_CPBOOL class_level = env->class_def && env->class_scope == 0;
  Chip_Type* first_type = nullptr;
  for (a_Var_Decl_List list = decl->var_decl_list; list; list = list->next) {
    a_Var_Decl var_decl = list->var_decl;
    if (class_level && env->class_def->parent) {
      Chip_Value* inherited = type_engine_find_value(env->class_def->parent, var_decl->name);
      if (inherited) {
        Chip_Type* owner = inherited->owner_class ? inherited->owner_class : env->class_def->parent;
        EM_error2(var_decl->line_no, "'%s' has already been defined in super class '%s'...",
                  S_name(var_decl->name), dname(owner));
        return nullptr;
      }
    }
    Chip_Value* value = var_decl->value;
    if (!value) {
      // The scan passes create the values of declarations in statements and
      // in the operands they walk; not inside a prefix operator, a debug
      // print or a literal, where no declaration can be emitted either.
      EM_error2(var_decl->line_no, "declaration of '%s' inside this expression not supported/implemented...",
                S_name(var_decl->name));
      return nullptr;
    }
    Chip_Type* type = value->type;
    CHIP_CHECK(type != NULL);
    if (!first_type) first_type = type;
    t_CPBOOL is_obj = !type_engine_check_primitive(type);
    t_CPBOOL is_ref = decl->type && decl->type->ref;

    if (var_decl->array && var_decl->array->exp_list) {
      if (!check_subscripts(var_decl->array)) return nullptr;
      if (!type_engine_check_exp(env, var_decl->array->exp_list)) return nullptr;
      for (a_Exp size = var_decl->array->exp_list; size; size = size->next) {
        if (!isa(size->type, &t_int)) {
          EM_error2(size->line_no, "incompatible array subscript type '%s'...",
                    size->type->name.c_str());
          return nullptr;
        }
      }
    }

    if (value->is_member) {
      value->offset = env->curr->offset;
      env->curr->offset += type->size;
    } else if (decl->is_static) {
      if (!env->class_def || env->class_scope > 0) {
        EM_error2(decl->line_no, "static variables must be declared at class scope...");
        return nullptr;
      }
      value->is_static = TRUE;
      value->offset = env->class_def->info->class_data_size;
      env->class_def->info->class_data_size += type->size;
      if (is_obj && !is_ref) {
        EM_error2(var_decl->line_no, "cannot declare static non-primitive objects (yet)...");
        EM_error2(var_decl->line_no, "...(hint: declare as ref (@) & initialize outside for now)");
        return nullptr;
      }
    }

    value->is_decl_checked = TRUE;
    if (!class_level) env->curr->value.add(var_decl->name, value);
  }
  // A declaration's type is its variable's: with an array part, the array
  // type (the assignment rules need `[1, 2] @=> int a[]` to see int[]).
  return first_type ? first_type : decl->cp_type;
}

// Member access: components of complex and polar values, members of an
// object, static members through a class name.
Chip_Type* type_engine_check_exp_dot_member(Chip_Env* env, a_Exp_Dot_Member_* member) {
  if (!check_single_value(member->base, ".")) return nullptr;
  member->t_base = check_member_base(env, member->base);
  if (!member->t_base) return nullptr;
  Chip_Type* base = member->t_base;
  c_constr name = S_name(member->member_name);

  if (base->id == te_complex || base->id == te_polar) {
    t_CPBOOL known = base->id == te_complex
                         ? (!strcmp(name, "re") || !strcmp(name, "im"))
                         : (!strcmp(name, "mag") || !strcmp(name, "phase"));
    if (!known) {
      EM_error2(member->line_no, "type '%s' has no member named '%s'...", dname(base), name);
      return nullptr;
    }
    // A component is stored through the address of its variable: the
    // component of a computed value is no assignment target.
    if (member->base->meta_kind != ae_meta_var) member->self->meta_kind = ae_meta_value;
    return &t_float;
  }

  t_CPBOOL through_class = isa(base, &t_class);
  Chip_Type* the_class = class_or_self(base);
  if (!the_class->info) {
    EM_error2(member->base->line_no, "type '%s' does not have members - invalid use in dot expression",
              dname(the_class));
    return nullptr;
  }

  if (!strcmp(name, "this")) {
    if (through_class) {
      EM_error2(member->line_no, "keyword 'this' must be associated with object instance...");
      return nullptr;
    }
    if (env->func && !env->func->is_member) {
      EM_error2(member->line_no, "keyword 'this' cannot be used inside static functions...");
      return nullptr;
    }
    if (!env->class_def) {
      EM_error2(member->line_no, "keyword 'this' can be used only inside class definition...");
      return nullptr;
    }
    // An object has no member `this` the emitter could reach (nor would
    // it be the current object).
    EM_error2(member->line_no, "keyword 'this' cannot be reached as a member '%s.this'...",
              dname(the_class));
    EM_error2(member->line_no, "...(note: use 'this' by itself)");
    return nullptr;
  }

  Chip_Value* value = type_engine_find_value(the_class, member->member_name);
  if (!value) {
    EM_error2(member->base->line_no, "class '%s' has no member '%s'", dname(the_class), name);
    return nullptr;
  }
  if (through_class) {
    t_CPBOOL instance_only = value->is_member || (value->func_ref && value->func_ref->is_member);
    if (instance_only) {
      EM_error2(member->line_no, "cannot access member '%s.%s' without object instance...",
                dname(the_class), name);
      return nullptr;
    }
  }
  return value->type;
}

// "Type.member" for the messages of calls through members.
std::string type_engine_print_exp_dot_member(Chip_Env* env, a_Exp_Dot_Member_* member) {
  member->t_base =
      already_checked(member->base) ? member->base->type : check_member_base(env, member->base);
  if (!member->t_base) return "[error]";
  Chip_Type* the_class = class_or_self(member->t_base);
  return the_class->display_name() + "." + S_name(member->member_name);
}

namespace {

// The call proper (see type_engine_check_exp_func_call).
Chip_Type* check_call(Chip_Env* env, a_Exp_* func, a_Exp_* args, Chip_Func*& cp_func,
                      int line_no) {
  (void)line_no;
  if (!check_single_value(func, "call")) return nullptr;
  Chip_Type* ftype = check_single(env, func);
  if (!ftype) return nullptr;
  if (!isa(ftype, &t_function)) {
    EM_error2(func->line_no, "function call using a non-function value");
    return nullptr;
  }
  if (args) {
    // The left side of `=>` arrives typed by the binary check; checking it
    // again would escape its string literals twice and place its declared
    // variables twice.
    Chip_Type* atype = already_checked(args) ? args->type : type_engine_check_exp(env, args);
    if (!atype) return nullptr;
    // A lone void value (`()`, a void call) passes no argument; in a list
    // a void value matches no parameter.
    if (!args->next && (atype == &t_void || equals(atype, &t_void))) args = nullptr;
  }

  Chip_Func* first = ftype->func;
  Chip_Func* chosen = find_overload(first, args, FALSE);
  if (!chosen) chosen = find_overload(first, args, TRUE);
  if (!chosen) {
    if (func->s_type == ae_exp_primary && func->primary.s_type == ae_primary_var) {
      EM_error2(func->line_no, "argument type(s) do not match:");
      EM_error2(func->line_no, "... for function '%s(...)' ...", S_name(func->primary.var));
    } else if (func->s_type == ae_exp_dot_member) {
      EM_error2(func->line_no, "arguments type(s) do not match:");
      EM_error2(func->line_no, "... for function '%s(...)' ...",
                type_engine_print_exp_dot_member(env, &func->dot_member).c_str());
    } else {
      EM_error2(func->line_no, "argument type(s) do not match for function ...");
    }
    EM_error2(func->line_no, "...(please check the argument types)");
    return nullptr;
  }

  // The callee now names the chosen overload itself.
  if (func->s_type == ae_exp_primary && func->primary.s_type == ae_primary_var) {
    func->primary.var = insert_symbol(chosen->name.c_str());
    Chip_Type* again = check_single(env, func);
    if (!again) return nullptr;
    if (!equals(again, ftype)) {
      EM_error2(func->line_no, "internal error: function type different on second check...");
      return nullptr;
    }
  } else if (func->s_type == ae_exp_dot_member) {
    func->dot_member.member_name = insert_symbol(chosen->name.c_str());
  } else {
    // The emitter calls the overload chosen here, whichever function the
    // expression yields at run time: only a name or a member can be called.
    EM_error2(func->line_no,
              "cannot call this expression: a function is called by its name or as a member...");
    return nullptr;
  }

  cp_func = chosen;
  return chosen->def ? chosen->def->ret_type : nullptr;
}

}  // namespace

// Calls: the callee must be a function (and there stands as a callee); the
// overload is chosen by an exact pass, then by a pass that converts int
// arguments to float parameters.
Chip_Type* type_engine_check_exp_func_call(Chip_Env* env, a_Exp_* func, a_Exp_* args,
                                           Chip_Func*& cp_func, int line_no) {
  a_Exp saved = g_callee;
  g_callee = func;
  Chip_Type* type = check_call(env, func, args, cp_func, line_no);
  g_callee = saved;
  return type;
}

// ---------------------------------------------------------------------------
// Indexing: as many subscripts as the array has dimensions at most, each an
// int or a string key; fewer give an array of the remaining dimensions.
Chip_Type* type_engine_check_exp_array(Chip_Env* env, a_Exp_Array_* array) {
  if (!verify_array(array->indices)) return nullptr;
  if (!check_single_value(array->base, "[]") || !check_subscripts(array->indices)) return nullptr;
  Chip_Type* base = type_engine_check_exp(env, array->base);
  if (!base) return nullptr;
  if ((unsigned long)array->indices->depth > base->array_depth) {
    EM_error2(array->line_no, "array subscripts (%i) exceeds defined dimension (%i)",
              array->indices->depth, (int)base->array_depth);
    return nullptr;
  }
  if (!type_engine_check_exp(env, array->indices->exp_list)) return nullptr;
  int depth = 0;
  for (a_Exp index = array->indices->exp_list; index; index = index->next) {
    depth++;
    if (!isa(index->type, &t_int) && !isa(index->type, &t_string)) {
      EM_error2(index->line_no, "array index %i must be of type 'int' or 'string', not '%s'", depth,
                dname(index->type));
      return nullptr;
    }
    // Several subscripts at once are read as ints only: a string key
    // indexes one dimension by itself.
    if (array->indices->depth > 1 && !isa(index->type, &t_int)) {
      EM_error2(index->line_no,
                "array index %i must be of type 'int' when several are given, not '%s'", depth,
                dname(index->type));
      return nullptr;
    }
  }
  CHIP_CHECK(array->indices->depth == depth);

  if ((unsigned long)depth == base->array_depth) return base->array_type;
  Chip_Type* copy = env->context->new_Chip_Type();
  copy->id = base->id;
  copy->name = base->name;
  copy->parent = base->parent;
  copy->size = base->size;
  copy->owner = base->owner;
  copy->array_type = base->array_type;
  copy->array_depth = base->array_depth - depth;
  copy->obj_size = base->obj_size;
  copy->info = base->info;
  if (copy->info) copy->info->add_ref();
  copy->func = base->func;
  copy->def = base->def;
  copy->ugen_info = base->ugen_info;
  copy->is_complete = base->is_complete;
  copy->has_constructor = base->has_constructor;
  copy->has_destructor = base->has_destructor;
  copy->is_copy = TRUE;
  return copy;
}

// Array literals: the elements' common type (equal, an ancestor of both, or
// int elements after a float one, converted) gives an array one level deeper.
Chip_Type* type_engine_check_exp_array_lit(Chip_Env* env, a_Exp_Primary_* exp) {
  CHIP_CHECK(exp->s_type == ae_primary_array);
  if (!verify_array(exp->array)) return nullptr;
  if (!exp->array->exp_list) {
    EM_error2(exp->line_no, "must provide values/expressions for array [...]");
    return nullptr;
  }
  if (!type_engine_check_exp(env, exp->array->exp_list)) return nullptr;

  // An element takes a slot of its type's size: void has none, and a
  // function value is no object an array can hold.
  for (a_Exp elem = exp->array->exp_list; elem; elem = elem->next) {
    if (equals(elem->type, &t_void) || elem->type->id == te_function) {
      EM_error2(elem->line_no, "array init [...] cannot hold values of type '%s'...",
                dname(elem->type));
      return nullptr;
    }
  }

  a_Exp first = exp->array->exp_list;
  Chip_Type* running = first->type;
  for (a_Exp elem = first->next; elem; elem = elem->next) {
    Chip_Type* t = elem->type;
    if (equals(t, running)) continue;
    if (isa(t, running)) continue;
    if (isa(running, t)) {
      running = t;
      continue;
    }
    Chip_Type* common = nullptr;
    for (Chip_Type* p = t->parent; p; p = p->parent) {
      if (isa(running, p)) {
        common = p;
        break;
      }
    }
    if (common) {
      running = common;
      continue;
    }
    if (isa(t, &t_int) && isa(running, &t_float)) {
      elem->cast_to = running;
      continue;
    }
    EM_error2(elem->line_no, "array init [...] contains incompatible types...");
    return nullptr;
  }
  Chip_Type* elem_type = running->array_depth ? running->array_type : running;
  return new_array_type(env, &t_array, running->array_depth + 1, elem_type, env->curr);
}

namespace {

// `new T` and `new T[n]...`: an object or an array of anything.
Chip_Type* check_new(Chip_Env* env, a_Exp_Unary_* unary) {
  Chip_Type* type = type_engine_find_type(env, unary->type->name_list);
  if (!type) {
    EM_error2(unary->line_no, "... in 'new' expression ...");
    return nullptr;
  }
  if (unary->array) {
    if (!verify_array(unary->array)) return nullptr;
    if (!unary->array->exp_list) {
      EM_error2(unary->line_no, "cannot use empty [] with 'new'...");
      return nullptr;
    }
    if (!check_subscripts(unary->array)) return nullptr;
    if (!type_engine_check_exp(env, unary->array->exp_list)) return nullptr;
    for (a_Exp size = unary->array->exp_list; size; size = size->next) {
      if (!isa(size->type, &t_int)) {
        EM_error2(size->line_no, "incompatible array subscript type '%s'...",
                  size->type->name.c_str());
        return nullptr;
      }
    }
    type = new_array_type(env, &t_array, unary->array->depth, type, env->curr);
  }
  // complex and polar are values too: `new` has nothing to instantiate.
  if (type_engine_check_primitive(type)) {
    EM_error2(unary->line_no, "cannot instantiate/(new) primitive type '%s'...", dname(type));
    EM_error2(unary->line_no, "...(primitive types: 'int', 'float', 'time', 'dur')");
    return nullptr;
  }
  if (unary->type->ref && !unary->array) {
    EM_error2(unary->line_no, "cannot instantiate/(new) single object references (@)...");
    return nullptr;
  }
  return type;
}

}  // namespace

// Prefix operators: ++ and -- on an int variable, - on a number, ~ and ! on
// an int, spork ~ of a call, new.
Chip_Type* type_engine_check_exp_unary(Chip_Env* env, a_Exp_Unary_* unary) {
  Chip_Type* t = nullptr;
  a_Exp operand = unary->exp;
  if (operand) {
    if (!check_single_value(operand, op2str(unary->op))) return nullptr;
    t = type_engine_check_exp(env, operand);
    if (!t) return nullptr;
  }
  switch (unary->op) {
    case ae_op_plusplus:
    case ae_op_minusminus:
      if (!operand || !is_steppable_form(operand)) {
        EM_error2(unary->line_no,
                  "prefix unary operator '%s' cannot be used on non-mutable data-types...",
                  op2str(unary->op));
        return nullptr;
      }
      if (!check_step_target(env, operand, unary->op, unary->line_no)) return nullptr;
      operand->emit_var = TRUE;
      if (isa(t, &t_int)) return t;
      EM_error2(unary->line_no, "no suitable resolution for prefix unary operator '%s' on type '%s...",
                op2str(unary->op), dname(t));
      note_step_types(unary->line_no, unary->op);
      return nullptr;
    case ae_op_minus:
      if (operand && (isa(t, &t_float) || isa(t, &t_int))) return t;
      break;
    case ae_op_tilda:
    case ae_op_exclamation:
      if (operand && isa(t, &t_int)) return t;
      break;
    case ae_op_spork:
      if (operand && operand->s_type == ae_exp_func_call) return &t_shred;
      EM_error2(unary->line_no, "only function calls can be sporked...");
      return nullptr;
    case ae_op_new: return check_new(env, unary);
    default: break;
  }
  EM_error2(unary->line_no, "no suitable resolution for prefix unary operator '%s' on type '%s...",
            op2str(unary->op), t ? dname(t) : "[none]");
  return nullptr;
}

// Postfix ++ and -- on an int variable.
Chip_Type* type_engine_check_exp_postfix(Chip_Env* env, a_Exp_Postfix_* postfix) {
  if (!check_single_value(postfix->exp, op2str(postfix->op))) return nullptr;
  Chip_Type* t = type_engine_check_exp(env, postfix->exp);
  if (!t) return nullptr;
  if (postfix->op != ae_op_plusplus && postfix->op != ae_op_minusminus) {
    EM_error2(postfix->line_no, "internal compiler error: unrecognized postfix '%i'", postfix->op);
    return nullptr;
  }
  if (!is_steppable_form(postfix->exp)) {
    EM_error2(postfix->line_no, "postfix operator '%s' cannot be used on non-mutable data-type...",
              op2str(postfix->op));
    return nullptr;
  }
  if (!check_step_target(env, postfix->exp, postfix->op, postfix->line_no)) return nullptr;
  postfix->exp->emit_var = TRUE;
  if (isa(t, &t_int)) return t;
  EM_error2(postfix->line_no, "no suitable resolutation for postfix operator '%s' on type '%s'...",
            op2str(postfix->op), dname(t));
  note_step_types(postfix->line_no, postfix->op);
  return nullptr;
}

// Casts: the operand, the target type and whether the operator rules allow
// the conversion.
Chip_Type* type_engine_check_exp_cast(Chip_Env* env, a_Exp_Cast_* cast) {
  if (!check_single_value(cast->exp, "$")) return nullptr;
  Chip_Type* from = type_engine_check_exp(env, cast->exp);
  if (!from) return nullptr;
  Chip_Type* to = type_engine_find_type(env, cast->type->name_list);
  if (!to) {
    EM_error2(cast->line_no, "... in cast expression ...");
    return nullptr;
  }
  if (!type_engine_check_cast_valid(env, to, from)) {
    EM_error2(cast->line_no, "invalid cast to '%s' from '%s'...", S_name(cast->type->name_list->id),
              dname(from));
    return nullptr;
  }
  return to;
}

// Durations `n::unit`: a number of a dur unit.
Chip_Type* type_engine_check_exp_dur(Chip_Env* env, a_Exp_Dur_* dur) {
  if (!check_single_value(dur->base, "::") || !check_single_value(dur->unit, "::")) return nullptr;
  Chip_Type* base = type_engine_check_exp(env, dur->base);
  Chip_Type* unit = type_engine_check_exp(env, dur->unit);
  if (!base || !unit) return nullptr;
  // Both sides are reported before the expression fails.
  t_CPBOOL ok = TRUE;
  if (!isa(base, &t_int) && !isa(base, &t_float)) {
    EM_error2(dur->base->line_no,
              "invalid type '%s' in prefix of dur expression...\n    (must be of type 'int' or 'float')",
              dname(base));
    ok = FALSE;
  }
  if (!isa(unit, &t_dur)) {
    EM_error2(dur->unit->line_no,
              "invalid type '%s' in postfix of dur expression...\n    (must be of type 'dur')",
              dname(unit));
    ok = FALSE;
  }
  return ok ? unit : nullptr;
}

// Conditional `c ? a : b`: an int condition and two branches of one type.
Chip_Type* type_engine_check_exp_if(Chip_Env* env, a_Exp_If_* exp_if) {
  if (!check_single_value(exp_if->cond, "?:") || !check_single_value(exp_if->if_exp, "?:") ||
      !check_single_value(exp_if->else_exp, "?:"))
    return nullptr;
  Chip_Type* cond = type_engine_check_exp(env, exp_if->cond);
  Chip_Type* if_type = type_engine_check_exp(env, exp_if->if_exp);
  Chip_Type* else_type = type_engine_check_exp(env, exp_if->else_exp);
  if (!cond || !if_type || !else_type) return nullptr;
  if (!isa(cond, &t_int)) {
    EM_error2(exp_if->cond->line_no, "invalid type '%s' in condition of if expression...",
              dname(cond));
    EM_error2(exp_if->cond->line_no, "...(condition must be of type 'int')");
    return nullptr;
  }
  if (!equals(if_type, else_type)) {
    EM_error2(exp_if->line_no, "incompatible types '%s' and '%s' in if expression...",
              dname(if_type), dname(else_type));
    return nullptr;
  }
  return if_type;
}

namespace {

// The two components of a complex or polar literal: each an int or a float,
// ints converted. `what` holds the messages of the literal's kind.
struct Pair_Text {
  c_constr missing;
  c_constr extra;
  c_constr first;
  c_constr second;
};

Chip_Type* check_pair(Chip_Env* env, a_Exp first, a_Exp second, int line, const Pair_Text& text,
                      Chip_Type* result) {
  if (!second) {
    EM_error2(line, "%s", text.missing);
    return nullptr;
  }
  if (second->next) {
    EM_error2(line, "%s", text.extra);
    return nullptr;
  }
  if (!type_engine_check_exp(env, first)) return nullptr;
  a_Exp parts[2] = {first, second};
  c_constr names[2] = {text.first, text.second};
  for (int i = 0; i < 2; i++) {
    Chip_Type* t = parts[i]->type;
    if (!isa(t, &t_float) && !isa(t, &t_int)) {
      EM_error2(parts[i]->line_no, names[i], dname(t));
      return nullptr;
    }
  }
  for (a_Exp part : parts) {
    if (isa(part->type, &t_int)) part->cast_to = &t_float;
  }
  return result;
}

}  // namespace

// Complex literal `#(re, im)`.
Chip_Type* type_engine_check_exp_complex_lit(Chip_Env* env, a_Exp_Primary_* exp) {
  CHIP_CHECK(exp->s_type == ae_primary_complex);
  static const Pair_Text text = {
      "missing imaginary component in complex value...\n    --> format: #(re,im)",
      "extraneous arguments in complex value...\n    --> format #(re,im)",
      "invalid type '%s' in real component of complex value...\n    (must be of type 'int' or 'float')",
      "invalid type '%s' in imaginary component of complex value...\n    (must be of type 'int' or "
      "'float')"};
  return check_pair(env, exp->complex->re, exp->complex->im, exp->line_no, text, &t_complex);
}

// Polar literal `%(mag, phase)`.
Chip_Type* type_engine_check_exp_polar_lit(Chip_Env* env, a_Exp_Primary_* exp) {
  CHIP_CHECK(exp->s_type == ae_primary_polar);
  static const Pair_Text text = {
      "missing phase component in polar value...\n    --> format: %(mag,phase)",
      "extraneous arguments in polar value...\n    --> format: %(mag,phase)",
      "invalid type '%s' in magnitude component of polar value...\n    (must be of type 'int' or "
      "'float')",
      "invalid type '%s' in phase component of polar value...\n    (must be of type 'int' or "
      "'float')"};
  return check_pair(env, exp->polar->mod, exp->polar->phase, exp->line_no, text, &t_polar);
}
