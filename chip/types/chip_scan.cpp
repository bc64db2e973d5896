// Scan passes 0, 1 and 2 (see chip_scan.h for the design).
#include "chip/types/chip_scan.h"

#include <cstddef>
#include <string>
#include <unordered_set>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"

namespace {

// Whether a name is reserved (a keyword, a reserved value or a reserved type
// name), reported as type_engine_check_reserved reports it. Almost no name
// is: the reserved names are kept as symbols, so that a name is cleared by
// one hash look-up instead of three searches by text. The symbols are
// gathered again whenever the environment or the size of its lists changes.
t_CPBOOL check_reserved(Chip_Env* env, S_Symbol name, int line_no) {
  struct Reserved {
    const Chip_Env* env = nullptr;
    size_t count = 0;
    std::unordered_set<S_Symbol> symbols;
  };
  static thread_local Reserved reserved;
  size_t count = env->key_words.size() + env->key_values.size() + env->key_types.size();
  if (reserved.env != env || reserved.count != count) {
    reserved.symbols.clear();
    for (const auto* list : {&env->key_words, &env->key_values, &env->key_types}) {
      for (const auto& entry : *list) reserved.symbols.insert(insert_symbol(entry.first.c_str()));
    }
    reserved.env = env;
    reserved.count = count;
  }
  if (!reserved.symbols.count(name)) return FALSE;
  return type_engine_check_reserved(env, name, line_no);
}

// One pass's treatment of a program section.
typedef t_CPBOOL (*Section_Scan)(Chip_Env* env, a_Section_* section);

// A pass driver: logs the pass and its target, then walks the program's
// sections in order with the pass's section scanner, skipping the sections
// that how_much leaves out; the first failing section ends the walk.
t_CPBOOL scan_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much, c_constr title,
                   Section_Scan scan_section) {
  EM_log(CP_LOG_FINER, "%s '%s'...", title, env->context->filename.c_str());
  EM_pushlog();
  EM_log(CP_LOG_FINER, "target: %s", howmuch2str(how_much));

  t_CPBOOL ret = TRUE;
  for (a_Program_* p = prog; p && ret; p = p->next) {
    a_Section_* section = p->section;
    switch (section->s_type) {
      case ae_section_stmt:
      case ae_section_func:
        if (how_much == te_do_classes_only) continue;
        ret = scan_section(env, section);
        break;
      case ae_section_class:
        if (how_much == te_do_no_classes) continue;
        ret = scan_section(env, section);
        break;
      default:
        EM_error2(section->line_no,
                  "internal error: unrecognized program section in type checker pre-scan...");
        ret = FALSE;
        break;
    }
  }

  EM_poplog();
  return ret;
}

// Opens a block scope (one value-scope level, class_scope raised by
// `depth`) and closes it again, whatever the scan's result.
struct Block_Scope {
  Block_Scope(Chip_Env* env, unsigned long depth) : m_env(env), m_depth(depth) {
    m_env->curr->value.push();
    m_env->class_scope += m_depth;
  }
  ~Block_Scope() {
    m_env->class_scope -= m_depth;
    m_env->curr->value.pop();
  }
  Block_Scope(const Block_Scope&) = delete;
  Block_Scope& operator=(const Block_Scope&) = delete;

 private:
  Chip_Env* m_env;
  unsigned long m_depth;
};

// Makes a class's namespace and type current for the scan of its body
// (the previous namespace and class go on the environment's stacks) and
// restores them afterwards.
struct Class_Scope {
  Class_Scope(Chip_Env* env, Chip_Type* the_class) : m_env(env), m_class_scope(env->class_scope) {
    m_env->nspc_stack.push_back(m_env->curr);
    m_env->curr = the_class->info;
    m_env->class_stack.push_back(m_env->class_def);
    m_env->class_def = the_class;
    m_env->class_scope = 0;
  }
  ~Class_Scope() {
    m_env->class_def = m_env->class_stack.back();
    m_env->class_stack.pop_back();
    m_env->curr = m_env->nspc_stack.back();
    m_env->nspc_stack.pop_back();
    m_env->class_scope = m_class_scope;
  }
  Class_Scope(const Class_Scope&) = delete;
  Class_Scope& operator=(const Class_Scope&) = delete;

 private:
  Chip_Env* m_env;
  unsigned long m_class_scope;
};

// The two lines on references (@) to primitive types.
void error_primitive_ref(int line, Chip_Type* type) {
  EM_error2(line, "cannot declare references (@) of primitive type '%s'...",
            type->display_name().c_str());
  EM_error2(line, "...(primitive types: 'int', 'float', 'time', 'dur')");
}

// ---------------------------------------------------------------------------
// Section scanners of the three passes.

t_CPBOOL scan0_section(Chip_Env* env, a_Section_* section) {
  if (section->s_type != ae_section_class) return TRUE;  // pass 0 sees only classes
  return type_engine_scan0_class_def(env, section->class_def);
}

t_CPBOOL scan1_section(Chip_Env* env, a_Section_* section) {
  switch (section->s_type) {
    case ae_section_stmt: return type_engine_scan1_stmt_list(env, section->stmt_list);
    case ae_section_func: return type_engine_scan1_func_def(env, section->func_def);
    default: return type_engine_scan1_class_def(env, section->class_def);
  }
}

t_CPBOOL scan2_section(Chip_Env* env, a_Section_* section) {
  switch (section->s_type) {
    case ae_section_stmt: return type_engine_scan2_stmt_list(env, section->stmt_list);
    case ae_section_func: return type_engine_scan2_func_def(env, section->func_def);
    default: return type_engine_scan2_class_def(env, section->class_def);
  }
}

// The sections of a class body, in order, with one pass's scanner; the
// first failure ends the walk.
t_CPBOOL scan_class_body(Chip_Env* env, a_Class_Body_* body, Section_Scan scan_section) {
  t_CPBOOL ret = TRUE;
  for (; body && ret; body = body->next) ret = scan_section(env, body->section);
  return ret;
}

// The routines of scan passes 1 and 2 that the shared statement walk calls.
struct Scan1 {
  static t_CPBOOL exp(Chip_Env* env, a_Exp_* exp) { return type_engine_scan1_exp(env, exp); }
  static t_CPBOOL exp_decl(Chip_Env* env, a_Exp_Decl_* decl) {
    return type_engine_scan1_exp_decl(env, decl);
  }
  // Only ++ and -- are postfix operators, and only on mutable data.
  static t_CPBOOL check_postfix(a_Exp_Postfix_* postfix) {
    if (postfix->op != ae_op_plusplus && postfix->op != ae_op_minusminus) {
      EM_error2(postfix->line_no,
                "internal compiler error (pre-scan): unrecognized postfix '%i'",
                postfix->op);
      return FALSE;
    } else if (postfix->exp->meta_kind != ae_meta_var) {
      EM_error2(postfix->line_no,
                "postfix operator '%s' cannot be used on non-mutable data-type...",
                op2str(postfix->op));
      return FALSE;
    }
    return TRUE;
  }
  static t_CPBOOL stmt(Chip_Env* env, a_Stmt_* stmt) { return type_engine_scan1_stmt(env, stmt); }
  static t_CPBOOL stmt_list(Chip_Env* env, a_Stmt_List_* list) {
    return type_engine_scan1_stmt_list(env, list);
  }
};

struct Scan2 {
  static t_CPBOOL exp(Chip_Env* env, a_Exp_* exp) { return type_engine_scan2_exp(env, exp); }
  static t_CPBOOL exp_decl(Chip_Env* env, a_Exp_Decl_* decl) {
    return type_engine_scan2_exp_decl(env, decl);
  }
  static t_CPBOOL check_postfix(a_Exp_Postfix_*) { return TRUE; }
  static t_CPBOOL stmt(Chip_Env* env, a_Stmt_* stmt) { return type_engine_scan2_stmt(env, stmt); }
  static t_CPBOOL stmt_list(Chip_Env* env, a_Stmt_List_* list) {
    return type_engine_scan2_stmt_list(env, list);
  }
};

// A statement's expressions and nested statements, the same walk in passes 1
// and 2 (Pass gives the pass's own routines); loops, if and blocks scan their
// parts in a scope of their own. switch is refused.
template <class Pass>
t_CPBOOL scan_stmt(Chip_Env* env, a_Stmt_* stmt) {
  if (!stmt) return TRUE;
  switch (stmt->s_type) {
    case ae_stmt_exp:
      return Pass::exp(env, stmt->stmt_exp);
    case ae_stmt_while: {
      Block_Scope scope(env, 1);
      return Pass::exp(env, stmt->stmt_while.cond) &&
             Pass::stmt(env, stmt->stmt_while.body);
    }
    case ae_stmt_until: {
      Block_Scope scope(env, 1);
      return Pass::exp(env, stmt->stmt_until.cond) &&
             Pass::stmt(env, stmt->stmt_until.body);
    }
    case ae_stmt_for: {
      Block_Scope scope(env, 1);
      a_Stmt_For_& f = stmt->stmt_for;
      return Pass::stmt(env, f.c1) && Pass::stmt(env, f.c2) &&
             (!f.c3 || Pass::exp(env, f.c3)) && Pass::stmt(env, f.body);
    }
    case ae_stmt_loop: {
      Block_Scope scope(env, 1);
      return Pass::exp(env, stmt->stmt_loop.cond) &&
             Pass::stmt(env, stmt->stmt_loop.body);
    }
    case ae_stmt_if: {
      Block_Scope scope(env, 1);
      a_Stmt_If_& s = stmt->stmt_if;
      return Pass::exp(env, s.cond) && Pass::stmt(env, s.if_body) &&
             (!s.else_body || Pass::stmt(env, s.else_body));
    }
    case ae_stmt_code: {
      Block_Scope scope(env, 2);
      return Pass::stmt_list(env, stmt->stmt_code.stmt_list);
    }
    case ae_stmt_break:
    case ae_stmt_continue:
      return TRUE;
    case ae_stmt_return:
      return !stmt->stmt_return.val || Pass::exp(env, stmt->stmt_return.val);
    case ae_stmt_switch:
      EM_error2(stmt->line_no, "switch not implemented...");
      return FALSE;
    case ae_stmt_case:
    case ae_stmt_gotolabel:
      return FALSE;
    default:
      EM_error2(stmt->line_no, "internal compiler error (pre-scan) - no stmt type '%i'!",
                stmt->s_type);
      return FALSE;
  }
}

// The expressions of a list, the same walk in passes 1 and 2; Pass gives
// the declaration rule and the postfix check.
template <class Pass>
t_CPBOOL scan_exp(Chip_Env* env, a_Exp_* exp) {
  for (; exp; exp = exp->next) {
    t_CPBOOL ret = TRUE;
    switch (exp->s_type) {
      case ae_exp_binary:
        ret = Pass::exp(env, exp->binary.lhs) &&
              Pass::exp(env, exp->binary.rhs);
        break;
      case ae_exp_unary:
      case ae_exp_primary:
        break;
      case ae_exp_cast:
        ret = Pass::exp(env, exp->cast.exp);
        break;
      case ae_exp_postfix:
        ret = Pass::exp(env, exp->postfix.exp) && Pass::check_postfix(&exp->postfix);
        break;
      case ae_exp_dur:
        ret = Pass::exp(env, exp->dur.base) && Pass::exp(env, exp->dur.unit);
        break;
      case ae_exp_array:
        ret = verify_array(exp->array.indices) && Pass::exp(env, exp->array.base) &&
              Pass::exp(env, exp->array.indices->exp_list);
        break;
      case ae_exp_func_call:
        ret = Pass::exp(env, exp->func_call.func) &&
              Pass::exp(env, exp->func_call.args);
        break;
      case ae_exp_dot_member:
        ret = Pass::exp(env, exp->dot_member.base);
        break;
      case ae_exp_if:
        ret = Pass::exp(env, exp->exp_if.cond) &&
              Pass::exp(env, exp->exp_if.if_exp) &&
              Pass::exp(env, exp->exp_if.else_exp);
        break;
      case ae_exp_decl:
        ret = Pass::exp_decl(env, &exp->decl);
        break;
      default:
        EM_error2(exp->line_no, "internal compiler error - no expression type '%i'...",
                  exp->s_type);
        ret = FALSE;
        break;
    }
    if (!ret) return FALSE;
  }
  return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pass drivers.

t_CPBOOL type_engine_scan0_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much) {
  return scan_prog(env, prog, how_much, "(pass 0) type discovery scan", scan0_section);
}

t_CPBOOL type_engine_scan1_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much) {
  return scan_prog(env, prog, how_much, "(pass 1) type resolution scan", scan1_section);
}

t_CPBOOL type_engine_scan2_prog(Chip_Env* env, a_Program_* prog, te_HowMuch how_much) {
  return scan_prog(env, prog, how_much, "(pass 2) type verification scan", scan2_section);
}

// ---------------------------------------------------------------------------
// Pass 0.

// Creates the type of a class definition: a public class goes to the global
// namespace (one per file); the name must be new in the target namespace
// and not reserved. The class gets its type (incomplete until the class
// check), a namespace of its own, and a value of its name that stands for
// the class in expressions. Nested classes follow inside its namespace.
t_CPBOOL type_engine_scan0_class_def(Chip_Env* env, a_Class_Def_* class_def) {
  S_Symbol name = class_def->name->id;
  Chip_Context* context = env->context;

  if (class_def->decl == ae_key_public) {
    if (context->public_class_def != NULL) {
      EM_error2(class_def->line_no, "more than one 'public' class defined...");
      return FALSE;
    }
    class_def->home = env->global();
    context->public_class_def = class_def;
  }

  EM_log(CP_LOG_FINER, "scanning class definition '%s'...", S_name(name));
  EM_pushlog();

  t_CPBOOL pushed = FALSE;
  if (class_def->home) {
    EM_log(CP_LOG_FINER, "target namespace: '%s'", class_def->home->name.c_str());
    env->nspc_stack.push_back(env->curr);
    env->curr = class_def->home;
    pushed = TRUE;
  }

  t_CPBOOL ret = TRUE;
  // Every level and the pending names of the target namespace itself (not
  // the enclosing namespaces).
  if (env->curr->type.lookup(name, 1) != NULL) {
    EM_error2(class_def->line_no, "class/type '%s' is already defined in namespace '%s'",
              S_name(name), env->curr->name.c_str());
    ret = FALSE;
  } else if (check_reserved(env, name, class_def->line_no)) {
    EM_error2(class_def->line_no, "...in class definition '%s'", S_name(name));
    ret = FALSE;
  }

  if (ret) {
    // The class itself. Its parent is settled by the class check; until then
    // it counts as an Object.
    Chip_Type* the_class = context->new_Chip_Type();
    the_class->id = te_user;
    the_class->name = S_name(name);
    the_class->parent = &t_object;
    the_class->size = CHIP_WORD_SIZE;
    the_class->owner = env->curr;
    the_class->owner->add_ref();
    the_class->def = class_def;
    the_class->is_complete = FALSE;
    the_class->info = context->new_Chip_Namespace();
    the_class->info->add_ref();
    the_class->info->name = the_class->name;
    the_class->info->parent = env->curr;
    // The pre-constructor exists from now on, empty, so that code emitted
    // before the class's own definition (an instance made earlier in the
    // file) can refer to it; the emitter fills it when it reaches the class.
    the_class->info->pre_ctor = context->new_Chip_VM_Code();
    env->curr->type.add(name, the_class);

    // The class as a value (so the class name can stand in expressions, for
    // its static members): a copy of Class whose array_type is the class.
    Chip_Type* class_type = context->new_Chip_Type();
    class_type->id = t_class.id;
    class_type->name = t_class.name;
    class_type->parent = t_class.parent;
    class_type->size = t_class.size;
    class_type->owner = env->curr;
    class_type->def = class_def;
    class_type->info = t_class.info;
    if (class_type->info) class_type->info->add_ref();
    class_type->is_copy = TRUE;
    class_type->array_type = the_class;
    Chip_Value* value = context->new_Chip_Value(class_type, the_class->name);
    value->is_const = TRUE;
    value->owner = env->curr;
    env->curr->value.add(name, value);

    class_def->type = the_class;
    the_class->add_ref();

    // Nested classes, inside the new class's namespace.
    env->nspc_stack.push_back(env->curr);
    env->curr = the_class->info;
    for (a_Class_Body_* body = class_def->body; body && ret; body = body->next) {
      if (body->section->s_type == ae_section_class)
        ret = type_engine_scan0_class_def(env, body->section->class_def);
    }
    env->curr = env->nspc_stack.back();
    env->nspc_stack.pop_back();
  }

  if (pushed) {
    env->curr = env->nspc_stack.back();
    env->nspc_stack.pop_back();
  }
  EM_poplog();
  return ret;
}

// ---------------------------------------------------------------------------
// Pass 1.

// The statements of a list, in order, until one fails.
t_CPBOOL type_engine_scan1_stmt_list(Chip_Env* env, a_Stmt_List_* list) {
  for (; list; list = list->next) {
    if (!type_engine_scan1_stmt(env, list->stmt)) return FALSE;
  }
  return TRUE;
}

// A statement's expressions and nested statements.
t_CPBOOL type_engine_scan1_stmt(Chip_Env* env, a_Stmt_* stmt) { return scan_stmt<Scan1>(env, stmt); }

// Every expression of a list: resolves the types of declarations and checks
// the shape of array subscripts and postfix operands.
t_CPBOOL type_engine_scan1_exp(Chip_Env* env, a_Exp_* exp) { return scan_exp<Scan1>(env, exp); }

// A declaration: resolves the written type name (kept, counted, on the
// node), counts the variables and checks their array parts.
t_CPBOOL type_engine_scan1_exp_decl(Chip_Env* env, a_Exp_Decl_* decl) {
  // The `same` form names no type; nothing in the checker infers one.
  if (decl->type == NULL) {
    EM_error2(decl->line_no, "'same' declarations are not (yet) supported...");
    return FALSE;
  }
  Chip_Type* type = type_engine_find_type(env, decl->type->name_list);
  if (!type) {
    EM_error2(decl->line_no, "... in declaration ...");
    return FALSE;
  }

  decl->num_var_decls = 0;
  for (a_Var_Decl_List_* list = decl->var_decl_list; list; list = list->next) {
    decl->num_var_decls++;
    a_Var_Decl_* var = list->var_decl;
    if (var->array) {
      if (!verify_array(var->array)) return FALSE;
      if (!type_engine_scan1_exp(env, var->array->exp_list)) return FALSE;
    }
  }

  type->add_ref();
  if (decl->cp_type) decl->cp_type->release();
  decl->cp_type = type;
  return TRUE;
}

// A function definition: the name must not be reserved; resolves the return
// type (an array return type must use empty brackets) and the argument
// types, then scans the body.
t_CPBOOL type_engine_scan1_func_def(Chip_Env* env, a_Func_Def_* f) {
  c_constr fname = S_name(f->name);

  if (check_reserved(env, f->name, f->line_no)) {
    EM_error2(f->line_no, "...in function definition '%s'", fname);
    return FALSE;
  }

  f->ret_type = type_engine_find_type(env, f->type_decl->name_list);
  if (!f->ret_type) {
    EM_error2(f->line_no, "... in return type of function '%s' ...", fname);
    return FALSE;
  }
  if (f->type_decl->array) {
    a_Array_Sub_* array = f->type_decl->array;
    if (array->exp_list) {
      EM_error2(array->line_no, "function '%s':", fname);
      EM_error2(array->line_no, "return array type must be defined with empty []'s");
      return FALSE;
    }
    f->ret_type = new_array_type(env, &t_array, array->depth, f->ret_type, env->curr);
    f->type_decl->ref = 1;
  }

  int count = 1;
  for (a_Arg_List_* arg = f->arg_list; arg; arg = arg->next, count++) {
    arg->type = type_engine_find_type(env, arg->type_decl->name_list);
    if (!arg->type) {
      EM_error2(arg->line_no, "... in argument %i '%s' of function '%s(.)' ...", count,
                S_name(arg->var_decl->name), fname);
      return FALSE;
    }
  }

  if (f->code) {
    CHIP_CHECK(f->code->s_type == ae_stmt_code);
    env->class_scope++;
    t_CPBOOL ret = type_engine_scan1_stmt_list(env, f->code->stmt_code.stmt_list);
    env->class_scope--;
    if (!ret) {
      EM_error2(0, "...in function '%s'", fname);
      return FALSE;
    }
  }
  return TRUE;
}

// A class body, inside the class's namespace, with pass-1 rules.
t_CPBOOL type_engine_scan1_class_def(Chip_Env* env, a_Class_Def_* class_def) {
  Chip_Type* the_class = class_def->type;
  CHIP_CHECK(the_class != NULL);
  Class_Scope scope(env, the_class);
  return scan_class_body(env, class_def->body, scan1_section);
}

// ---------------------------------------------------------------------------
// Pass 2.

// The statements of a list, in order, until one fails.
t_CPBOOL type_engine_scan2_stmt_list(Chip_Env* env, a_Stmt_List_* list) {
  for (; list; list = list->next) {
    if (!type_engine_scan2_stmt(env, list->stmt)) return FALSE;
  }
  return TRUE;
}

// As pass 1, with the pass-2 rules for declarations.
t_CPBOOL type_engine_scan2_stmt(Chip_Env* env, a_Stmt_* stmt) { return scan_stmt<Scan2>(env, stmt); }

// Every expression of a list; declarations create their values.
t_CPBOOL type_engine_scan2_exp(Chip_Env* env, a_Exp_* exp) { return scan_exp<Scan2>(env, exp); }

// A declaration: each variable gets its Chip_Value in the innermost value
// scope of the current namespace. Refused: void variables, references to
// primitive types, a class-level object of the class being defined (it
// would construct itself without end), reserved names and names already
// declared in the same scope.
t_CPBOOL type_engine_scan2_exp_decl(Chip_Env* env, a_Exp_Decl_* decl) {
  Chip_Type* base = decl->cp_type;
  CHIP_CHECK(base != NULL);
  // Read once: an empty-bracket array part marks the declaration as a
  // reference below, which must not turn later variables of the same list
  // into references.
  const int written_ref = decl->type->ref;

  for (a_Var_Decl_List_* list = decl->var_decl_list; list; list = list->next) {
    a_Var_Decl_* var = list->var_decl;
    Chip_Type* type = base;

    if (type->size == 0) {
      EM_error2(var->line_no, "cannot declare variables of size '0' (i.e. 'void')...");
      return FALSE;
    }
    if (written_ref && isprim(type)) {
      error_primitive_ref(var->line_no, type);
      return FALSE;
    }
    const t_CPBOOL empty_array = var->array && !var->array->exp_list;
    if (!written_ref && !empty_array && env->class_def && !env->func &&
        equals(type, env->class_def)) {
      EM_error2(var->line_no, "...(note: object of type '%s' declared inside itself)",
                type->display_name().c_str());
      return FALSE;
    }
    if (check_reserved(env, var->name, var->line_no)) {
      EM_error2(var->line_no, "...in variable declaration");
      return FALSE;
    }
    if (env->curr->lookup_value(var->name, 0)) {
      EM_error2(var->line_no, "'%s' has already been defined in the same scope...",
                S_name(var->name));
      return FALSE;
    }

    if (var->array) {
      if (!verify_array(var->array)) return FALSE;
      if (!type_engine_scan2_exp(env, var->array->exp_list)) return FALSE;
      type = new_array_type(env, &t_array, var->array->depth, type, env->curr);
      if (empty_array) decl->type->ref = 1;
    }

    Chip_Value* value = env->context->new_Chip_Value(type, S_name(var->name));
    value->owner = env->curr;
    value->owner_class = env->func ? NULL : env->class_def;
    value->is_member = env->class_def && env->class_scope == 0 && !env->func && !decl->is_static;
    value->is_context_global = env->class_def == NULL && env->func == NULL;
    value->is_decl_checked = FALSE;
    env->curr->value.add(var->name, value);
    var->value = value;
  }
  return TRUE;
}

// A function definition: creates the function, its own function type and
// the constant value that names it, and the values of its arguments.
// Overloads of a name are named name@N@namespace, counted by the first
// value of the name, and appended to its chain so they are tried in the
// order written. In a class, an overload may not differ from an earlier
// same-signature function only in its return type.
t_CPBOOL type_engine_scan2_func_def(Chip_Env* env, a_Func_Def_* f) {
  c_constr fname = S_name(f->name);
  Chip_Context* context = env->context;

  if (env->func) {
    EM_error2(f->line_no, "nested function definitions are not (yet) allowed");
    return FALSE;
  }

  Chip_Value* overload = env->curr->lookup_value(f->name, 0);
  std::string func_name;
  if (overload) {
    if (!isfunc(overload->type)) {
      EM_error2(f->line_no, "function name '%s' is already used by another value", fname);
      return FALSE;
    }
    if (!overload->func_ref) {
      EM_error2(f->line_no, "internal error: missing function '%s'", overload->name.c_str());
      return FALSE;
    }
    func_name = std::string(fname) + "@" + std::to_string(overload->overload_count + 1) + "@" +
                env->curr->name;
  } else {
    func_name = std::string(fname) + "@0@" + env->curr->name;
  }

  // Return type: no references to primitives.
  if (f->type_decl->ref && isprim(f->ret_type)) {
    error_primitive_ref(f->type_decl->line_no, f->ret_type);
    return FALSE;
  }

  // Arguments; their values are made below once all of them pass.
  int count = 1;
  for (a_Arg_List_* arg = f->arg_list; arg; arg = arg->next, count++) {
    a_Var_Decl_* var = arg->var_decl;
    CHIP_CHECK(arg->type != NULL);
    if (arg->type->size == 0) {
      EM_error2(arg->line_no, "cannot declare variables of size '0' (i.e. 'void')...");
      return FALSE;
    }
    if (check_reserved(env, var->name, arg->line_no)) {
      EM_error2(arg->line_no, "in function '%s'", fname);
      return FALSE;
    }
    if (arg->type_decl->ref && isprim(arg->type)) {
      error_primitive_ref(arg->line_no, arg->type);
      return FALSE;
    }
    if (var->array) {
      if (var->array->exp_list) {
        EM_error2(arg->line_no, "in function '%s':", fname);
        EM_error2(arg->line_no, "argument %i '%s' must be defined with empty []'s", count,
                  S_name(var->name));
        return FALSE;
      }
      arg->type = new_array_type(env, &t_array, var->array->depth, arg->type, env->curr);
    }
  }

  // In a class: an earlier overload with the same signature must have the
  // same return type.
  if (overload && env->class_def) {
    std::string err;
    for (Chip_Func* other = overload->func_ref; other; other = other->next) {
      if (!type_engine_compat_func(f, other->def, f->line_no, err, FALSE)) continue;
      if (!equals(f->ret_type, other->def->ret_type)) {
        EM_error2(f->line_no, "function signatures differ in return type...");
        EM_error2(f->line_no, "function '%s.%s' matches '%s.%s' but cannot overload...",
                  env->class_def->name.c_str(), fname, env->class_def->name.c_str(),
                  S_name(other->def->name));
        return FALSE;
      }
    }
  }

  // The function, its type and its name.
  Chip_Func* func = context->new_Chip_Func();
  func->name = func_name;
  func->def = f;
  func->is_member = env->class_def != NULL && f->static_decl != ae_key_static;

  Chip_Type* type = context->new_Chip_Type();
  type->id = te_function;
  type->name = "[function]";
  type->parent = &t_function;
  type->size = CHIP_WORD_SIZE;
  type->owner = env->curr;
  type->func = func;

  Chip_Value* value = context->new_Chip_Value(type, fname);
  value->is_const = TRUE;
  value->is_member = func->is_member;
  value->owner = env->curr;
  value->owner_class = env->class_def;
  value->func_ref = func;
  func->value_ref = value;
  f->cp_func = func;
  func->add_ref();

  // Argument values, at their running offsets.
  f->stack_depth = 0;
  for (a_Arg_List_* arg = f->arg_list; arg; arg = arg->next) {
    Chip_Value* v = context->new_Chip_Value(arg->type, S_name(arg->var_decl->name));
    v->owner = env->curr;
    v->is_member = FALSE;
    v->owner_class = NULL;
    v->offset = f->stack_depth;
    f->stack_depth += arg->type->size;
    arg->var_decl->value = v;
  }

  // Entered under the internal name; the first of a name also under the
  // written name. Later overloads join the end of the first one's chain.
  env->curr->value.add(func_name, value);
  env->curr->func.add(func_name, func);
  if (!overload) {
    env->curr->value.add(f->name, value);
    env->curr->func.add(f->name, func);
  } else {
    overload->overload_count++;
    Chip_Func* last = overload->func_ref;
    while (last->next) last = last->next;
    last->next = func;
  }

  // The body, in a value scope of its own, with this function current.
  if (f->code) {
    CHIP_CHECK(f->code->s_type == ae_stmt_code);
    Chip_Func* outer = env->func;
    env->func = func;
    t_CPBOOL ret;
    {
      Block_Scope scope(env, 1);
      ret = type_engine_scan2_stmt_list(env, f->code->stmt_code.stmt_list);
    }
    env->func = outer;
    if (!ret) {
      EM_error2(0, "...in function '%s'", fname);
      return FALSE;
    }
  }
  return TRUE;
}

// A class body, inside the class's namespace, with pass-2 rules.
t_CPBOOL type_engine_scan2_class_def(Chip_Env* env, a_Class_Def_* class_def) {
  Chip_Type* the_class = class_def->type;
  CHIP_CHECK(the_class != NULL);
  Class_Scope scope(env, the_class);
  return scan_class_body(env, class_def->body, scan2_section);
}
