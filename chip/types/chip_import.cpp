// Import interface: classes without source text, turned into the syntax-tree
// fragments the compiler would build from source and run through the
// ordinary scan and check passes.
#include "chip/types/chip_import.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "chip/types/chip_scan.h"
#include "chip/types/chip_type.h"
#include "chip/types/chip_type_exp.h"
#include "chip/types/chip_type_stmt.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_vm.h"

// The functions a class opened while imports were deferred has declared,
// waiting to be entered (see chip_import.h).
struct Chip_Deferred_Members {
  // A function: an owned copy of the module's record, or the maker of the
  // record and its arguments.
  struct Entry {
    Chip_DL_Func* fun;
    f_make_dl_func make;
    const void* data;
    unsigned long form;
    void* fn;
    t_CPBOOL is_static;
  };

  ~Chip_Deferred_Members() {
    for (Entry& e : funcs) delete e.fun;
  }

  Chip_Env* env = nullptr;
  Chip_Type* type = nullptr;          // the class
  Chip_Context* context = nullptr;    // the import's context: it owns the records
  a_Pool pool = nullptr;              // the import's pool: it holds the syntax fragments
  bool open = true;                   // the class is still being declared
  bool inherit_vtable = false;        // the parent's table is copied at completion
  std::vector<Entry> funcs;           // in declaration order
};

namespace {

// Set while a variable of a class is imported with imports deferred: its
// check looks for a same-named member in the ancestors, which must not
// complete them (every built-in class would enter its parents' functions
// at start-up). Built-in classes declare no variable that clashes with an
// ancestor's function.
int g_hold_completion = 0;

struct Hold_Completion {
  explicit Hold_Completion(Chip_Env* env) : held(env->defer_imports) {
    if (held) g_hold_completion++;
  }
  ~Hold_Completion() {
    if (held) g_hold_completion--;
  }
  Hold_Completion(const Hold_Completion&) = delete;
  Hold_Completion& operator=(const Hold_Completion&) = delete;
  const bool held;
};

// A record of deferred functions for type, made while env imports: the
// records and syntax fragments made when it completes go to the import's
// context and pool, as they would have at once.
Chip_Deferred_Members* new_deferred(Chip_Env* env, Chip_Type* type) {
  Chip_Deferred_Members* deferred = new Chip_Deferred_Members();
  deferred->env = env;
  deferred->type = type;
  deferred->context = env->context;
  deferred->pool = set_current_pool(nullptr);
  set_current_pool(deferred->pool);
  return deferred;
}

// An array part of `depth` empty bracket pairs, or null for depth 0.
a_Array_Sub empty_array_sub(unsigned long depth) {
  if (depth == 0) return nullptr;
  a_Array_Sub sub = new_array_sub(nullptr, 0);
  for (unsigned long i = 1; i < depth; i++) sub = prepend_array_sub(sub, nullptr, 0);
  return sub;
}

// The name without its trailing "[]" pairs, which are counted in depth.
std::string strip_brackets(const std::string& name, unsigned long& depth) {
  depth = 0;
  std::string text = name;
  while (text.size() >= 3 && text.compare(text.size() - 2, 2, "[]") == 0) {
    depth++;
    text.resize(text.size() - 2);
  }
  return text;
}

// Records a run-time object the import made for the current context, which
// deletes it when it is torn down (types and namespaces do not release what
// they point to).
void own(Chip_Env* env, Chip_VM_Object* obj) {
  CHIP_CHECK(env->context != NULL);
  obj->registry = &env->context->new_funcs;
  env->context->new_funcs.push_back(obj);
  obj->add_ref();
}

// A native code object of the current context.
Chip_VM_Code* new_native_code(Chip_Env* env, const std::string& name, void* fn, t_CPUINT kind,
                              t_CPBOOL need_this, t_CPUWORD stack_depth) {
  Chip_VM_Code* code = new Chip_VM_Code();
  code->name = name;
  code->native_func = fn;
  code->native_func_type = kind;
  code->need_this = need_this;
  code->stack_depth = stack_depth;
  own(env, code);
  return code;
}

// Gives an imported function its native code once scan pass 2 has made its
// Chip_Func: member or static kind, the argument bytes (with `this` for a
// member function).
void attach_native_code(Chip_Env* env, a_Func_Def def) {
  Chip_Func* func = def->cp_func;
  CHIP_CHECK(func != NULL);
  void* fn = import_native_func(def);
  func->dl_ref = fn;
  if (func->code) return;
  const t_CPUWORD depth =
      static_cast<t_CPUWORD>(def->stack_depth) + (func->is_member ? CHIP_WORD_SIZE : 0);
  func->code = new_native_code(env, func->name, fn,
                               func->is_member ? Chip_VM_Code::NATIVE_MFUN
                                               : Chip_VM_Code::NATIVE_SFUN,
                               func->is_member, depth);
}

// A declaration statement's expression: type (with depth empty bracket
// pairs on the variable), one variable, static or not.
a_Exp make_decl(a_Id_List path, unsigned long depth, const char* name, t_CPBOOL is_static) {
  a_Type_Decl type_decl = new_type_decl(path, 0, 0);
  a_Var_Decl var_decl = new_var_decl(name, empty_array_sub(depth), 0);
  return new_exp_decl(type_decl, new_var_decl_list(var_decl, 0), is_static, 0);
}

// A static variable is a reference when it holds an object (static objects
// cannot be instantiated by the class): decided once pass 1 resolved the
// type.
void ref_objects(a_Exp_Decl_* decl) {
  if (decl->cp_type && !isprim(decl->cp_type)) decl->type->ref = 1;
}

// Binds the value that pass 2 made for a static declaration to its storage.
void bind_static(a_Exp_Decl_* decl, void* addr) {
  a_Var_Decl var_decl = decl->var_decl_list->var_decl;
  if (var_decl->value) var_decl->value->addr = addr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Classes

Chip_Type* type_engine_import_class_begin(Chip_Env* env, Chip_Type* type, Chip_Namespace* where,
                                          f_ctor pre_ctor, f_dtor dtor) {
  CHIP_CHECK(env != NULL && type != NULL && where != NULL);
  if (type->info) {
    EM_error2(0, "during import: class '%s' already imported...", type->display_name().c_str());
    return nullptr;
  }

  // The member namespace. A built-in type (made by no context) gets one of
  // the environment, which type_engine_shutdown deletes; any other type one
  // of the current context.
  Chip_Namespace* info;
  if (type->registry) {
    info = env->context->new_Chip_Namespace();
  } else {
    info = new Chip_Namespace();
  }
  info->add_ref();
  type->info = info;
  info->name = type->name;
  info->parent = where;
  where->add_ref();

  if (pre_ctor) {
    info->pre_ctor = new_native_code(env, "[ctor] " + type->name, reinterpret_cast<void*>(pre_ctor),
                                     Chip_VM_Code::NATIVE_CTOR, TRUE, CHIP_WORD_SIZE);
    type->has_constructor = TRUE;
  }
  if (dtor) {
    info->dtor = new_native_code(env, "[dtor] " + type->name, reinterpret_cast<void*>(dtor),
                                 Chip_VM_Code::NATIVE_DTOR, TRUE, CHIP_WORD_SIZE);
    type->has_destructor = TRUE;
  }

  // While imports are deferred, the class records its functions; the
  // parent's table is copied once the parent's own functions are in.
  Chip_Deferred_Members* deferred = nullptr;
  if (env->defer_imports) {
    deferred = new_deferred(env, type);
    info->deferred = deferred;
  }
  if (type->parent) {
    CHIP_CHECK(type->parent->info != NULL);
    info->offset = type->parent->obj_size;
    if (deferred && type->parent->info->deferred) {
      deferred->inherit_vtable = true;
    } else {
      type_engine_complete_class(type->parent);
      info->obj_v_table.funcs = type->parent->info->obj_v_table.funcs;
    }
  }

  type->owner = where;
  where->add_ref();
  type->size = CHIP_WORD_SIZE;
  type->obj_size = 0;
  type->is_complete = TRUE;

  // The class as a value: a copy of Class standing for the type.
  Chip_Type* class_type = env->context->new_Chip_Type();
  class_type->id = t_class.id;
  class_type->name = t_class.name;
  class_type->parent = t_class.parent;
  class_type->size = t_class.size;
  class_type->owner = where;
  class_type->info = t_class.info;
  if (class_type->info) class_type->info->add_ref();
  class_type->is_copy = TRUE;
  class_type->array_type = type;
  Chip_Value* value = env->context->new_Chip_Value(class_type, type->name);
  value->is_const = TRUE;
  value->owner = where;
  where->value.add(type->name, value);

  env->nspc_stack.push_back(env->curr);
  env->curr = info;
  env->class_stack.push_back(env->class_def);
  env->class_def = type;
  env->class_scope = 0;
  return type;
}

Chip_Type* type_engine_import_class_begin(Chip_Env* env, const char* name, const char* parent,
                                          Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor) {
  CHIP_CHECK(env != NULL && name != NULL && where != NULL);
  Chip_Type* parent_type = &t_object;
  if (parent && *parent) {
    unsigned long depth = 0;
    a_Id_List path = str2list(parent, depth);
    parent_type = path ? type_engine_find_type(env, path) : nullptr;
    delete_id_list(path);
    if (!parent_type) {
      EM_error2(0, "... during import of class '%s'", name);
      return nullptr;
    }
  }

  Chip_Type* type = env->context->new_Chip_Type();
  type->id = te_user;
  type->name = name;
  type->parent = parent_type;
  type->size = CHIP_WORD_SIZE;
  where->type.add(type->name, type);

  if (!type_engine_import_class_begin(env, type, where, pre_ctor, dtor)) {
    EM_error2(0, "... during import of class '%s'", name);
    return nullptr;
  }
  return type;
}

Chip_Type* type_engine_import_ugen_begin(Chip_Env* env, const char* name, const char* parent,
                                         Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor,
                                         f_tick tick, f_pmsg pmsg, unsigned long num_ins,
                                         unsigned long num_outs) {
  Chip_Type* type = type_engine_import_class_begin(env, name, parent, where, pre_ctor, dtor);
  if (!type) return nullptr;
  if (!isa(type->parent, &t_ugen)) {
    EM_error2(0, "imported class '%s' does not have a ugen as parent",
              type->display_name().c_str());
    return nullptr;
  }

  Chip_UGen_Info* info = new Chip_UGen_Info();
  own(env, info);
  if (Chip_UGen_Info* inherited = type->parent->ugen_info) {
    info->tick = inherited->tick;
    info->pmsg = inherited->pmsg;
    info->num_ins = inherited->num_ins;
    info->num_outs = inherited->num_outs;
    info->tick_v = inherited->tick_v;
    info->block = inherited->block;
  }
  if (tick) {
    // A tick of the class's own: its block form and flags come with it.
    info->tick = tick;
    info->tick_v = nullptr;
    info->block = 0;
  }
  if (pmsg) info->pmsg = pmsg;
  if (num_ins != CHIP_IMPORT_KEEP) info->num_ins = num_ins;
  if (num_outs != CHIP_IMPORT_KEEP) info->num_outs = num_outs;
  type->ugen_info = info;
  return type;
}

Chip_Type* type_engine_import_uana_begin(Chip_Env* env, const char* name, const char* parent,
                                         Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor,
                                         f_tick tick, f_tock tock, f_pmsg pmsg,
                                         unsigned long num_ins, unsigned long num_outs,
                                         unsigned long num_ins_ana, unsigned long num_outs_ana) {
  Chip_Type* type = type_engine_import_ugen_begin(env, name, parent, where, pre_ctor, dtor, tick,
                                                  pmsg, num_ins, num_outs);
  if (!type) return nullptr;
  if (!isa(type->parent, &t_uana)) {
    EM_error2(0, "imported class '%s' does not have a uana as parent",
              type->display_name().c_str());
    return nullptr;
  }
  Chip_UGen_Info* info = type->ugen_info;
  if (tock) info->tock = tock;
  if (num_ins_ana != CHIP_IMPORT_KEEP) info->num_ins_ana = num_ins_ana;
  if (num_outs_ana != CHIP_IMPORT_KEEP) info->num_outs_ana = num_outs_ana;
  return type;
}

t_CPBOOL type_engine_import_class_end(Chip_Env* env) {
  if (!env->class_def) {
    EM_error2(0, "import: too many class_end called...");
    return FALSE;
  }
  env->class_def->obj_size = env->curr->offset;
  if (Chip_Deferred_Members* deferred = env->class_def->info->deferred) {
    if (deferred->funcs.empty() && !deferred->inherit_vtable) {
      env->class_def->info->deferred = nullptr;
      delete deferred;
    } else {
      deferred->open = false;
    }
  }
  env->class_def = env->class_stack.back();
  env->class_stack.pop_back();
  env->curr = env->nspc_stack.back();
  env->nspc_stack.pop_back();
  return TRUE;
}

// ---------------------------------------------------------------------------
// Members

unsigned long type_engine_import_mvar(Chip_Env* env, const char* type, const char* name,
                                      unsigned long) {
  if (!env->class_def) {
    EM_error2(0, "import error: import_mvar '%s' invoked between begin/end", name);
    return CHIP_IMPORT_BAD_OFFSET;
  }
  unsigned long depth = 0;
  a_Id_List path = str2list(type, depth);
  if (!path) {
    EM_error2(0, "... during mvar import '%s.%s'...", env->class_def->display_name().c_str(),
              name);
    return CHIP_IMPORT_BAD_OFFSET;
  }
  a_Exp exp = make_decl(path, depth, name, FALSE);
  a_Exp_Decl_* decl = &exp->decl;
  Hold_Completion hold(env);
  if (!type_engine_scan1_exp_decl(env, decl) || !type_engine_scan2_exp_decl(env, decl) ||
      !type_engine_check_exp_decl(env, decl)) {
    return CHIP_IMPORT_BAD_OFFSET;
  }
  return decl->var_decl_list->var_decl->value->offset;
}

t_CPBOOL type_engine_import_svar(Chip_Env* env, const char* type, const char* name,
                                 unsigned long is_const, unsigned long addr) {
  if (!env->class_def) {
    EM_error2(0, "import error: import_svar '%s' invoked between begin/end", name);
    return FALSE;
  }
  unsigned long depth = 0;
  a_Id_List path = str2list(type, depth);
  if (!path) {
    EM_error2(0, "... during svar import '%s.%s'...", env->class_def->display_name().c_str(),
              name);
    return FALSE;
  }
  // Array suffixes are not applied: the variable has the element type.
  a_Exp exp = make_decl(path, 0, name, TRUE);
  a_Exp_Decl_* decl = &exp->decl;
  void* storage = reinterpret_cast<void*>(addr);
  decl->var_decl_list->var_decl->addr = storage;
  if (!type_engine_scan1_exp_decl(env, decl)) return FALSE;
  ref_objects(decl);
  if (!type_engine_scan2_exp_decl(env, decl)) return FALSE;
  bind_static(decl, storage);
  Hold_Completion hold(env);
  if (!type_engine_check_exp_decl(env, decl)) return FALSE;
  // A static constant (Math.PI) is shared by every script: none may assign
  // to it.
  Chip_Value* value = decl->var_decl_list->var_decl->value;
  if (is_const && value) value->is_const = TRUE;
  return TRUE;
}

namespace {

// A copy of a module's function record.
Chip_DL_Func* copy_dl_func(const Chip_DL_Func* fun) {
  Chip_DL_Func* copy = new Chip_DL_Func(fun->type, fun->name, fun->addr);
  copy->args.reserve(fun->args.size());
  for (const Chip_DL_Value* arg : fun->args) {
    copy->args.push_back(new Chip_DL_Value(arg->type, arg->name, arg->is_const, arg->addr));
  }
  return copy;
}

// Enters one function in the open class: its syntax-tree fragment through
// scan passes 1 and 2, its native code, then the check.
t_CPBOOL enter_fun(Chip_Env* env, Chip_DL_Func* fun, t_CPBOOL is_static) {
  a_Func_Def def = make_dll_as_fun(fun, is_static);
  if (!def) return FALSE;
  if (!type_engine_scan1_func_def(env, def) || !type_engine_scan2_func_def(env, def)) return FALSE;
  attach_native_code(env, def);
  return type_engine_check_func_def(env, def);
}

t_CPBOOL import_fun(Chip_Env* env, Chip_DL_Func* fun, t_CPBOOL is_static, const char* op) {
  if (!env->class_def) {
    EM_error2(0, "import error: %s '%s' invoked between begin/end", op,
              fun ? fun->name.c_str() : "[null]");
    return FALSE;
  }
  Chip_Deferred_Members* deferred = env->class_def->info->deferred;
  if (deferred && deferred->open && fun) {
    deferred->funcs.push_back({copy_dl_func(fun), nullptr, nullptr, 0, nullptr, is_static});
    return TRUE;
  }
  return enter_fun(env, fun, is_static);
}

// A module's function record, copied (the maker of the functions a module
// class defers).
Chip_DL_Func* copy_module_fun(const void* data, unsigned long, void*) {
  return copy_dl_func(static_cast<const Chip_DL_Func*>(data));
}

// Enters a recorded function (its record made first when it has a maker).
t_CPBOOL enter_entry(Chip_Env* env, const Chip_Deferred_Members::Entry& e) {
  if (e.fun) return enter_fun(env, e.fun, e.is_static);
  std::unique_ptr<Chip_DL_Func> fun(e.make(e.data, e.form, e.fn));
  return enter_fun(env, fun.get(), e.is_static);
}

}  // namespace

t_CPBOOL type_engine_complete_class(Chip_Type* type) {
  Chip_Namespace* info = type ? type->info : nullptr;
  Chip_Deferred_Members* deferred = info ? info->deferred : nullptr;
  if (!deferred || deferred->open || g_hold_completion) return TRUE;
  // The class that owns the namespace (an array type shares its parent's).
  type = deferred->type;
  t_CPBOOL ok = type_engine_complete_class(type->parent);
  deferred = info->deferred;
  if (!deferred) return ok;

  // Taken off first: the lookups made while entering see a plain namespace.
  info->deferred = nullptr;
  std::unique_ptr<Chip_Deferred_Members> record(deferred);
  if (deferred->inherit_vtable) info->obj_v_table.funcs = type->parent->info->obj_v_table.funcs;

  // The environment as it was while the class was open: its namespace and
  // type current, outside any function, the import's context and pool.
  Chip_Env* env = deferred->env;
  Chip_Namespace* curr = env->curr;
  Chip_Type* class_def = env->class_def;
  Chip_Func* func = env->func;
  unsigned long class_scope = env->class_scope;
  Chip_Context* context = env->context;
  env->curr = info;
  env->class_def = type;
  env->func = nullptr;
  env->class_scope = 0;
  env->context = deferred->context;
  a_Pool pool = set_current_pool(deferred->pool);
  for (const Chip_Deferred_Members::Entry& e : deferred->funcs) {
    if (!enter_entry(env, e)) {
      ok = FALSE;
      break;
    }
  }
  set_current_pool(pool);
  env->curr = curr;
  env->class_def = class_def;
  env->func = func;
  env->class_scope = class_scope;
  env->context = context;
  return ok;
}

t_CPBOOL type_engine_complete_nspc(Chip_Namespace* nspc) {
  return nspc && nspc->deferred ? type_engine_complete_class(nspc->deferred->type) : TRUE;
}

void type_engine_drop_deferred(Chip_Deferred_Members* deferred) { delete deferred; }

t_CPBOOL type_engine_import_mfun(Chip_Env* env, Chip_DL_Func* mfun) {
  return import_fun(env, mfun, FALSE, "import_mfun");
}

t_CPBOOL type_engine_import_sfun(Chip_Env* env, Chip_DL_Func* sfun) {
  return import_fun(env, sfun, TRUE, "import_sfun");
}

t_CPBOOL type_engine_import_made_fun(Chip_Env* env, f_make_dl_func make, const void* data,
                                     unsigned long form, void* fn, t_CPBOOL is_static) {
  Chip_Deferred_Members* deferred = env->class_def ? env->class_def->info->deferred : nullptr;
  if (deferred && deferred->open) {
    deferred->funcs.push_back({nullptr, make, data, form, fn, is_static});
    return TRUE;
  }
  std::unique_ptr<Chip_DL_Func> fun(make(data, form, fn));
  return import_fun(env, fun.get(), is_static, is_static ? "import_sfun" : "import_mfun");
}

// ---------------------------------------------------------------------------
// Syntax-tree fragments

a_Arg_List make_dll_arg_list(Chip_DL_Func* dl_fun) {
  a_Arg_List list = nullptr;
  for (size_t i = dl_fun->args.size(); i-- > 0;) {
    Chip_DL_Value* arg = dl_fun->args[i];
    unsigned long type_depth = 0;
    a_Id_List path = str2list(arg->type, type_depth);
    if (!path) {
      EM_error2(0, "...at argument '%i'...", static_cast<int>(i + 1));
      return nullptr;
    }
    unsigned long name_depth = 0;
    std::string name = strip_brackets(arg->name, name_depth);
    if (type_depth && name_depth) {
      EM_error2(0, "array subscript specified incorrectly for built-in module");
      delete_id_list(path);
      return nullptr;
    }
    a_Type_Decl type_decl = new_type_decl(path, 0, 0);
    a_Var_Decl var_decl =
        new_var_decl(name.c_str(), empty_array_sub(type_depth ? type_depth : name_depth), 0);
    list = list ? prepend_arg_list(type_decl, var_decl, list, 0)
                : new_arg_list(type_decl, var_decl, 0);
  }
  return list;
}

a_Func_Def make_dll_as_fun(Chip_DL_Func* dl_fun, t_CPBOOL is_static) {
  unsigned long depth = 0;
  a_Id_List path = str2list(dl_fun->type, depth);
  if (!path) {
    EM_error2(0, "...during function import '%s' (type)...", dl_fun->name.c_str());
    return nullptr;
  }
  a_Type_Decl type_decl = new_type_decl(path, 0, 0);
  if (depth) type_decl = add_type_decl_array(type_decl, empty_array_sub(depth), 0);

  a_Arg_List arg_list = make_dll_arg_list(dl_fun);
  if (!dl_fun->args.empty() && !arg_list) {
    EM_error2(0, "...during function import '%s' (arg_list)...", dl_fun->name.c_str());
    return nullptr;
  }

  // The empty block stands for the native body (see import_native_func).
  a_Func_Def def =
      new_func_def(ae_key_func, is_static ? ae_key_static : ae_key_instance, type_decl,
                   dl_fun->name.c_str(), arg_list, new_stmt_from_code(nullptr, 0), 0);
  def->pass_slot = dl_fun->addr;
  return def;
}

void* import_native_func(a_Func_Def def) { return def ? def->pass_slot : nullptr; }

// ---------------------------------------------------------------------------
// Modules

t_CPBOOL type_engine_add_dll(Chip_Env* env, Chip_DLL* dll, const std::string& dest) {
  Chip_Namespace* where = nullptr;
  if (dest.empty()) {
    where = env->global();
  } else {
    unsigned long depth = 0;
    a_Id_List path = str2list(dest, depth);
    if (path) where = type_engine_find_nspc(env, path);
    delete_id_list(path);
  }
  Chip_DL_Query* query = where ? dll->query() : nullptr;
  if (!query) {
    EM_error2(0, "...(in object import '%s' in DLL '%s')", "[null]", dll->name());
    return FALSE;
  }

  for (Chip_DL_Class* c : query->classes) {
    auto fail = [&]() {
      EM_error2(0, "...(in object import '%s' in DLL '%s')", c->name.c_str(), dll->name());
      return FALSE;
    };

    unsigned long depth = 0;
    a_Id_List name = str2list(c->name, depth);
    if (!name) return fail();
    a_Class_Ext ext = nullptr;
    if (!c->parent.empty()) {
      a_Id_List parent = str2list(c->parent, depth);
      if (!parent) return fail();
      ext = new_class_ext(parent, nullptr, 0);
    }

    // The body: member functions, static functions, then one statement
    // section with the static variables. While imports are deferred the
    // functions are left out and recorded on the class instead, to enter
    // in the same order when it is first reached (the module's records stay
    // as long as the compiler that loaded it).
    const bool defer = env->defer_imports;
    std::vector<a_Func_Def> defs;
    for (Chip_DL_Func* f : defer ? std::vector<Chip_DL_Func*>() : c->mfuns) {
      a_Func_Def def = make_dll_as_fun(f, FALSE);
      if (!def) return fail();
      defs.push_back(def);
    }
    for (Chip_DL_Func* f : defer ? std::vector<Chip_DL_Func*>() : c->sfuns) {
      a_Func_Def def = make_dll_as_fun(f, TRUE);
      if (!def) return fail();
      defs.push_back(def);
    }
    std::vector<std::pair<a_Exp_Decl_*, void*>> statics;
    std::vector<a_Exp_Decl_*> constants;
    a_Stmt_List stmts = nullptr;
    a_Stmt_List last = nullptr;
    for (Chip_DL_Value* v : c->svars) {
      a_Id_List path = str2list(v->type, depth);
      if (!path) return fail();
      a_Exp exp = make_decl(path, 0, v->name.c_str(), TRUE);
      exp->decl.var_decl_list->var_decl->addr = v->addr;
      statics.emplace_back(&exp->decl, v->addr);
      if (v->is_const) constants.push_back(&exp->decl);
      a_Stmt_List item = new_stmt_list(new_stmt_from_expression(exp, 0), 0);
      if (last) {
        last->next = item;
      } else {
        stmts = item;
      }
      last = item;
    }

    a_Class_Body body = nullptr;
    a_Class_Body tail = nullptr;
    auto append = [&](a_Section section) {
      a_Class_Body item = new_class_body(section, 0);
      if (tail) {
        tail->next = item;
      } else {
        body = item;
      }
      tail = item;
    };
    for (a_Func_Def def : defs) append(new_section_func_def(def, 0));
    if (stmts) append(new_section_stmt(stmts, 0));

    // Declared in the destination namespace (as a public class would be, but
    // without taking the file's one public slot).
    a_Class_Def class_def = new_class_def(ae_key_private, name, ext, body, 0);
    class_def->home = where;
    if (!type_engine_scan0_class_def(env, class_def) ||
        !type_engine_scan1_class_def(env, class_def)) {
      return fail();
    }
    for (auto& s : statics) ref_objects(s.first);
    if (!type_engine_scan2_class_def(env, class_def)) return fail();
    for (auto& s : statics) bind_static(s.first, s.second);
    for (a_Func_Def def : defs) attach_native_code(env, def);
    if (!type_engine_check_class_def(env, class_def)) return fail();
    // Static constants are shared by every script: none may assign to them.
    for (a_Exp_Decl_* decl : constants) {
      Chip_Value* value = decl->var_decl_list->var_decl->value;
      if (value) value->is_const = TRUE;
    }
    if (defer && (!c->mfuns.empty() || !c->sfuns.empty())) {
      Chip_Type* type = class_def->type;
      Chip_Deferred_Members* deferred = new_deferred(env, type);
      deferred->open = false;
      for (Chip_DL_Func* f : c->mfuns) {
        deferred->funcs.push_back({nullptr, copy_module_fun, f, 0, nullptr, FALSE});
      }
      for (Chip_DL_Func* f : c->sfuns) {
        deferred->funcs.push_back({nullptr, copy_module_fun, f, 0, nullptr, TRUE});
      }
      type->info->deferred = deferred;
    }
  }
  return TRUE;
}
