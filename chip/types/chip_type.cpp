// Type-system records, type relations and the type environment.
#include "chip/types/chip_type.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type_stmt.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_lang.h"
#include "chip/vm/chip_lang_uana.h"
#include "chip/vm/chip_vm.h"

// ---------------------------------------------------------------------------
// Built-in types, constructed in this order before main and destroyed in
// reverse order at exit.

Chip_Type t_void(te_void, "void", nullptr, 0);
Chip_Type t_int(te_int, "int", nullptr, CHIP_WORD_SIZE);
Chip_Type t_float(te_float, "float", nullptr, sizeof(t_CPFLOAT));
Chip_Type t_time(te_time, "time", nullptr, sizeof(t_CPTIME));
Chip_Type t_dur(te_dur, "dur", nullptr, sizeof(t_CPDUR));
Chip_Type t_complex(te_complex, "complex", nullptr, sizeof(t_CPCOMPLEX));
Chip_Type t_polar(te_polar, "polar", nullptr, sizeof(t_CPPOLAR));
Chip_Type t_null(te_null, "@null", nullptr, CHIP_WORD_SIZE);
Chip_Type t_function(te_function, "@function", &t_object, CHIP_WORD_SIZE);
Chip_Type t_object(te_object, "Object", nullptr, CHIP_WORD_SIZE);
Chip_Type t_array(te_array, "@array", &t_object, CHIP_WORD_SIZE);
Chip_Type t_string(te_string, "string", &t_object, CHIP_WORD_SIZE);
Chip_Type t_event(te_event, "Event", &t_object, CHIP_WORD_SIZE);
Chip_Type t_ugen(te_ugen, "UGen", &t_object, CHIP_WORD_SIZE);
Chip_Type t_uana(te_uana, "UAna", &t_ugen, CHIP_WORD_SIZE);
Chip_Type t_uanablob(te_uanablob, "UAnaBlob", &t_object, CHIP_WORD_SIZE);
Chip_Type t_shred(te_shred, "Shred", &t_object, CHIP_WORD_SIZE);
Chip_Type t_io(te_io, "IO", &t_object, CHIP_WORD_SIZE);
Chip_Type t_fileio(te_fileio, "FileIO", &t_io, CHIP_WORD_SIZE);
Chip_Type t_thread(te_thread, "Thread", &t_object, CHIP_WORD_SIZE);
Chip_Type t_class(te_class, "Class", &t_object, CHIP_WORD_SIZE);

Chip_Type* g_t_dac = nullptr;
Chip_Type* g_t_adc = nullptr;

namespace {

// The member namespaces of the built-in classes belong to the environment
// (made by type_engine_init, deleted by type_engine_shutdown). Registering
// them here keeps reference counting from freeing them in between.
std::vector<Chip_VM_Object*> builtin_registry;

// Releases a reference that may legitimately have been dropped already by
// the owner of a record (the record then only loses a count).
void release_held(Chip_VM_Object* obj) {
  if (obj && obj->m_ref_count > 0) obj->release();
}

}  // namespace

// ---------------------------------------------------------------------------
// Chip_Type

Chip_Type::Chip_Type(te_Type id, const std::string& name, Chip_Type* parent, unsigned long size)
    : id(id),
      name(name),
      parent(parent),
      size(size),
      owner(nullptr),
      array_type(nullptr),
      array_depth(0),
      obj_size(0),
      info(nullptr),
      func(nullptr),
      def(nullptr),
      ugen_info(nullptr),
      keeper(nullptr),
      is_copy(FALSE),
      is_complete(TRUE),
      has_constructor(FALSE),
      has_destructor(FALSE),
      slot_kind(-1) {}

Chip_Type::~Chip_Type() {
  id = te_void;
  obj_size = 0;
  array_depth = 0;
  size = 0;
  is_copy = FALSE;
  if (!m_locked) release_held(info);
  info = nullptr;
}

const std::string& Chip_Type::display_name() {
  m_display = name;
  for (unsigned long i = 0; i < array_depth; i++) m_display += "[]";
  return m_display;
}

// ---------------------------------------------------------------------------
// Chip_Value, Chip_Func

Chip_Value::Chip_Value(Chip_Type* type, const std::string& name, void* addr)
    : type(type),
      name(name),
      offset(0),
      addr(addr),
      is_const(FALSE),
      is_member(FALSE),
      is_static(FALSE),
      is_context_global(FALSE),
      is_decl_checked(TRUE),
      decl_word(0),
      owner(nullptr),
      owner_class(nullptr),
      func_ref(nullptr),
      overload_count(0) {
  if (type) type->add_ref();
}

Chip_Value::~Chip_Value() = default;

Chip_Func::Chip_Func()
    : def(nullptr),
      code(nullptr),
      dl_ref(nullptr),
      is_member(FALSE),
      vt_index(~0UL),
      value_ref(nullptr),
      next(nullptr),
      up(nullptr) {}

Chip_Func::~Chip_Func() = default;

// ---------------------------------------------------------------------------
// Chip_Namespace

Chip_Namespace::Chip_Namespace()
    : class_data(nullptr),
      class_data_size(0),
      pre_ctor(nullptr),
      dtor(nullptr),
      parent(nullptr),
      offset(0),
      deferred(nullptr) {
  type.push();
  value.push();
  func.push();
}

Chip_Namespace::~Chip_Namespace() { type_engine_drop_deferred(deferred); }

Chip_Type* Chip_Namespace::lookup_type(S_Symbol name, long climb) {
  Chip_Type* t = type.lookup(name, climb);
  if (!t && climb > 0 && parent) return parent->lookup_type(name, climb);
  return t;
}

Chip_Type* Chip_Namespace::lookup_type(const std::string& name, long climb) {
  return lookup_type(insert_symbol(name.c_str()), climb);
}

Chip_Value* Chip_Namespace::lookup_value(S_Symbol name, long climb) {
  if (deferred) type_engine_complete_nspc(this);
  Chip_Value* v = value.lookup(name, climb);
  if (!v && climb > 0 && parent) return parent->lookup_value(name, climb);
  return v;
}

Chip_Value* Chip_Namespace::lookup_value(const std::string& name, long climb) {
  return lookup_value(insert_symbol(name.c_str()), climb);
}

Chip_Func* Chip_Namespace::lookup_func(S_Symbol name, long climb) {
  if (deferred) type_engine_complete_nspc(this);
  Chip_Func* f = func.lookup(name, climb);
  if (!f && climb > 0 && parent) return parent->lookup_func(name, climb);
  return f;
}

Chip_Func* Chip_Namespace::lookup_func(const std::string& name, long climb) {
  return lookup_func(insert_symbol(name.c_str()), climb);
}

void Chip_Namespace::commit() {
  type.commit();
  value.commit();
  func.commit();
}

void Chip_Namespace::rollback() {
  type.rollback();
  value.rollback();
  func.rollback();
}

// ---------------------------------------------------------------------------
// Chip_Context

Chip_Context::Chip_Context()
    : parse_tree(nullptr),
      nspc(nullptr),
      public_class_def(nullptr),
      has_error(FALSE),
      progress(0),
      listed(FALSE),
      kept_for_good(FALSE) {
  // The file's namespace is one of the context's own records.
  nspc = new_Chip_Namespace();
  nspc->add_ref();
}

Chip_Context::~Chip_Context() {
  EM_log(CP_LOG_FINER, "freeing context '%s'...", filename.c_str());
  teardown();
  if (listed) {
    listed = FALSE;
    if (Chip_Env* env = Chip_Env::instance()) {
      std::vector<Chip_Context*>& live = env->live_contexts;
      live.erase(std::remove(live.begin(), live.end(), this), live.end());
    }
  }
}

Chip_VM_Code* Chip_Context::code() { return nspc ? nspc->pre_ctor : nullptr; }

Chip_Type* Chip_Context::new_Chip_Type() {
  Chip_Type* t = new Chip_Type(te_null, "", nullptr, 0);
  t->registry = &new_types;
  new_types.push_back(t);
  return t;
}

Chip_Value* Chip_Context::new_Chip_Value(Chip_Type* type, const std::string& name) {
  Chip_Value* v = new Chip_Value(type, name);
  v->registry = &new_values;
  new_values.push_back(v);
  return v;
}

Chip_Func* Chip_Context::new_Chip_Func() {
  Chip_Func* f = new Chip_Func();
  f->registry = &new_funcs;
  new_funcs.push_back(f);
  return f;
}

Chip_Namespace* Chip_Context::new_Chip_Namespace() {
  Chip_Namespace* n = new Chip_Namespace();
  n->registry = &new_nspc;
  new_nspc.push_back(n);
  return n;
}

Chip_VM_Code* Chip_Context::new_Chip_VM_Code() {
  Chip_VM_Code* code = new Chip_VM_Code();
  code->registry = &new_funcs;
  new_funcs.push_back(code);
  return code;
}

void Chip_Context::teardown() {
  // Types first: a type's destructor still drops its count on its member
  // namespace, which must exist until the namespaces go.
  for (auto* list : {&new_types, &new_values, &new_funcs, &new_nspc}) {
    std::vector<Chip_VM_Object*> doomed;
    doomed.swap(*list);
    for (Chip_VM_Object* obj : doomed) {
      obj->registry = nullptr;
      delete obj;
    }
  }
  nspc = nullptr;
  // The records pointed into the tree; nothing does any more.
  public_class_def = nullptr;
  if (parse_tree) delete_program(parse_tree);
  parse_tree = nullptr;
}

void Chip_Context::keep_for_good() {
  if (kept_for_good) return;
  kept_for_good = TRUE;
  add_ref();
}

void Chip_Context::keep_while_used() {
  for (Chip_VM_Object* obj : new_types) static_cast<Chip_Type*>(obj)->keeper = this;
}

// ---------------------------------------------------------------------------
// Chip_Env

Chip_Env* Chip_Env::our_instance = nullptr;

Chip_Env::Chip_Env()
    : global_nspc(nullptr),
      curr(nullptr),
      class_def(nullptr),
      func(nullptr),
      class_scope(0),
      context(nullptr),
      deprecate_level(1) {
  global_context.filename = "@[global]";
  global_context.lock();
  context = &global_context;
  context->add_ref();
  global_nspc = global_context.nspc;
  global_nspc->add_ref();
  reset();
}

Chip_Env::~Chip_Env() {
  // Newest first: a later file may use the classes of an earlier one. Each
  // is deleted whatever its count, since the environment its records
  // belong to ends here; each is held first, so that what the deletions let
  // go of frees none of them on the way.
  std::vector<Chip_Context*> live;
  live.swap(live_contexts);
  for (Chip_Context* context : live) {
    context->listed = FALSE;
    context->add_ref();
  }
  for (size_t i = live.size(); i-- > 0;) delete live[i];
  for (t_CPWORD* storage : global_storage) delete[] storage;
  global_storage.clear();
  // global_context (a member) deletes the global namespace and its records.
}

t_CPBOOL Chip_Env::startup() {
  CHIP_CHECK(our_instance == NULL);
  our_instance = new Chip_Env();
  CHIP_CHECK(our_instance != NULL);
  return TRUE;
}

Chip_Env* Chip_Env::instance() { return our_instance; }

void Chip_Env::reset() {
  nspc_stack.clear();
  nspc_stack.push_back(global_nspc);
  class_stack.clear();
  class_stack.push_back(nullptr);
  CHIP_CHECK(context == &global_context);
  curr = global_nspc;
  class_def = nullptr;
  func = nullptr;
  class_scope = 0;
  // A failed compilation may have left loops and scope levels open: none of
  // them may reach the next compilation.
  breaks.clear();
  while (global_nspc->type.depth() > 1) global_nspc->type.pop();
  while (global_nspc->value.depth() > 1) global_nspc->value.pop();
  while (global_nspc->func.depth() > 1) global_nspc->func.pop();
}

// ---------------------------------------------------------------------------
// Type relations

t_CPBOOL operator==(const Chip_Type& lhs, const Chip_Type& rhs) {
  if (&lhs == &rhs) return TRUE;  // the common case, and every test below holds
  if (lhs.id != rhs.id) return FALSE;
  if (lhs.array_depth != rhs.array_depth) return FALSE;
  if (lhs.array_depth) {
    if (!lhs.array_type || !rhs.array_type) return lhs.array_type == rhs.array_type;
    if (!(*lhs.array_type == *rhs.array_type)) return FALSE;
  }
  if (lhs.id == te_user) return lhs.name == rhs.name && lhs.owner == rhs.owner;
  return TRUE;
}

t_CPBOOL operator!=(const Chip_Type& lhs, const Chip_Type& rhs) { return !(lhs == rhs); }

t_CPBOOL operator<=(const Chip_Type& lhs, const Chip_Type& rhs) {
  // Equal types have equal ids: comparing the ids first spares most calls.
  if (&lhs == &rhs || (lhs.id == rhs.id && lhs == rhs)) return TRUE;
  for (const Chip_Type* p = lhs.parent; p; p = p->parent) {
    if (p == &rhs || (p->id == rhs.id && *p == rhs)) return TRUE;
  }
  if (lhs.id == t_null.id && lhs == t_null && rhs <= t_object) return TRUE;
  return FALSE;
}

t_CPBOOL equals(Chip_Type* lhs, Chip_Type* rhs) { return *lhs == *rhs; }

t_CPBOOL isa(Chip_Type* lhs, Chip_Type* rhs) { return *lhs <= *rhs; }

t_CPBOOL type_engine_check_primitive(Chip_Type* type) {
  // The built-in primitive types themselves answer at once.
  if (type == &t_int || type == &t_float || type == &t_dur || type == &t_time ||
      type == &t_complex || type == &t_polar) {
    return TRUE;
  }
  return type->array_depth == 0 &&
         (isa(type, &t_int) || isa(type, &t_float) || isa(type, &t_dur) || isa(type, &t_time) ||
          isa(type, &t_complex) || isa(type, &t_polar));
}

t_CPBOOL isprim(Chip_Type* type) { return type_engine_check_primitive(type); }

t_CPBOOL isobj(Chip_Type* type) { return !type_engine_check_primitive(type); }

t_CPBOOL isfunc(Chip_Type* type) { return isa(type, &t_function); }

// Makes a `depth`-dimensional array type of base_type in the current context.
Chip_Type* new_array_type(Chip_Env* env, Chip_Type* array_parent, unsigned long depth,
                          Chip_Type* base_type, Chip_Namespace* owner) {
  Chip_Type* t = env->context->new_Chip_Type();
  t->id = te_array;
  t->name = base_type->name;
  t->parent = array_parent;
  array_parent->add_ref();
  t->size = array_parent->size;
  t->array_depth = depth;
  t->array_type = base_type;
  base_type->add_ref();
  t->info = array_parent->info;
  if (t->info) t->info->add_ref();
  t->owner = owner;
  if (owner) owner->add_ref();
  return t;
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

namespace {

// Types whose member namespace type_engine_init makes and
// type_engine_shutdown deletes.
Chip_Type* const builtin_classes[] = {&t_object,   &t_array,  &t_string, &t_ugen,
                                      &t_uanablob, &t_uana,   &t_shred,  &t_event,
                                      &t_class,    &t_thread, &t_io};

// A member namespace of the environment for a built-in class.
Chip_Namespace* new_builtin_nspc(const std::string& name) {
  Chip_Namespace* n = new Chip_Namespace();
  n->registry = &builtin_registry;
  n->name = name;
  n->add_ref();
  return n;
}

// Registers a built-in class through its initialiser (the built-in classes
// and the analysis classes); a failed registration was reported by the
// import interface and leaves the class as far as it got.
void init_builtin_class(Chip_Env* env, Chip_Type* type) {
  static const struct {
    Chip_Type* type;
    t_CPBOOL (*init)(Chip_Env*, Chip_Type*);
  } initialisers[] = {{&t_object, init_class_object},   {&t_array, init_class_array},
                      {&t_string, init_class_string},   {&t_ugen, init_class_ugen},
                      {&t_uanablob, init_class_blob},   {&t_uana, init_class_uana},
                      {&t_shred, init_class_shred},     {&t_event, init_class_event},
                      {&t_io, init_class_io}};
  for (const auto& entry : initialisers) {
    if (entry.type == type) {
      entry.init(env, type);
      return;
    }
  }
  CHIP_CHECK(FALSE);
}

// A global value with `bytes` of zeroed storage owned by the environment.
Chip_Value* add_global_value(Chip_Env* env, const std::string& key, const std::string& name,
                             Chip_Type* type, t_CPBOOL is_const) {
  t_CPWORD* storage = new t_CPWORD[2]();
  env->global_storage.push_back(storage);
  Chip_Value* value = env->global_context.new_Chip_Value(type, name);
  value->addr = storage;
  value->is_const = is_const;
  value->owner = env->global();
  env->global()->value.add(key, value);
  return value;
}

void set_float(Chip_Value* value, t_CPFLOAT f) { *static_cast<t_CPFLOAT*>(value->addr) = f; }
void set_int(Chip_Value* value, t_CPINT i) { *static_cast<t_CPWORD*>(value->addr) = i; }

}  // namespace

Chip_Env* type_engine_init(t_CPUINT srate) {
  EM_log(CP_LOG_SEVERE, "initializing type checker...");
  EM_pushlog();

  if (!Chip_Env::startup()) {
    EM_poplog();
    return nullptr;
  }
  Chip_Env* env = Chip_Env::instance();
  env->global()->name = "global";
  env->curr = env->global();

  // The built-in types, held for the whole run.
  Chip_Type* const named[] = {&t_void,    &t_int,      &t_float,  &t_time,   &t_dur,
                              &t_complex, &t_polar,    &t_object, &t_string, &t_ugen,
                              &t_uana,    &t_uanablob, &t_shred,  &t_thread, &t_function,
                              &t_class,   &t_array,    &t_event,  &t_io,     &t_fileio};
  for (Chip_Type* t : named) {
    env->global()->type.add(t->name, t);
    t->lock();
  }

  t_CPFLOAT samp = 1.0;
  t_CPFLOAT second = static_cast<t_CPFLOAT>(srate);
  t_CPFLOAT ms = second / 1000.0;
  t_CPFLOAT minute = second * 60.0;
  t_CPFLOAT hour = minute * 60.0;
  t_CPFLOAT day = hour * 24.0;
  t_CPFLOAT week = day * 7.0;

  EM_log(CP_LOG_SEVERE, "adding base classes...");
  EM_pushlog();
  // Their functions enter when a program first reaches them (chip_import.h).
  env->defer_imports = TRUE;
  for (Chip_Type* t :
       {&t_object, &t_array, &t_string, &t_ugen, &t_uanablob, &t_uana, &t_shred, &t_event, &t_io}) {
    init_builtin_class(env, t);
  }
  env->defer_imports = FALSE;
  EM_log(CP_LOG_SEVERE, "class 'class'");
  t_class.info = new_builtin_nspc(t_class.name);
  t_thread.info = new_builtin_nspc(t_thread.name);
  EM_poplog();

  add_global_value(env, "null", "null", &t_null, TRUE);
  add_global_value(env, "NULL", "NULL", &t_null, TRUE);
  add_global_value(env, "t_zero", "time_zero", &t_time, TRUE);
  add_global_value(env, "d_zero", "dur_zero", &t_dur, TRUE);
  set_float(add_global_value(env, "samp", "samp", &t_dur, TRUE), samp);
  set_float(add_global_value(env, "ms", "ms", &t_dur, TRUE), ms);
  set_float(add_global_value(env, "second", "second", &t_dur, TRUE), second);
  set_float(add_global_value(env, "minute", "minute", &t_dur, TRUE), minute);
  set_float(add_global_value(env, "hour", "hour", &t_dur, TRUE), hour);
  set_float(add_global_value(env, "day", "day", &t_dur, TRUE), day);
  set_float(add_global_value(env, "week", "week", &t_dur, TRUE), week);
  set_int(add_global_value(env, "true", "true", &t_int, TRUE), 1);
  set_int(add_global_value(env, "false", "false", &t_int, TRUE), 0);
  set_float(add_global_value(env, "maybe", "maybe", &t_int, FALSE), 0.5);
  set_float(add_global_value(env, "pi", "pi", &t_float, TRUE), 3.141592653589793);
  Chip_Value* global = env->global_context.new_Chip_Value(&t_class, "global");
  global->addr = env->global();
  global->is_const = TRUE;
  global->owner = env->global();
  env->global()->value.add("global", global);

  for (c_constr w : {"for", "while", "until", "if", "else", "spork", "return", "class", "extends",
                     "implements", "function", "fun", "public", "protected", "private", "static",
                     "pure", "break", "continue"}) {
    env->key_words[w] = TRUE;
  }
  for (c_constr w : {"now",  "true", "false", "maybe",     "pi",     "this", "super",
                     "me",   "samp", "ms",    "second",    "minute", "hour", "day",
                     "week", "adc",  "dac",   "blackhole", "global", "null", "NULL"}) {
    env->key_values[w] = TRUE;
  }
  for (c_constr w : {"void", "same", "int", "float"}) env->key_types[w] = TRUE;

  EM_log(CP_LOG_FINER, "committing namespace: '%s'...", env->global()->name.c_str());
  env->global()->type.commit();
  env->global()->value.commit();
  env->global()->func.commit();

  EM_poplog();
  return env;
}

void type_engine_shutdown(Chip_Env* env) {
  (void)env;  // the one environment
  EM_log(CP_LOG_SEVERE, "shutting down type checker...");
  Chip_Env*& our_instance = Chip_Env::our_instance;
  CHIP_CHECK(our_instance != NULL);
  delete our_instance;
  our_instance = nullptr;
  // The member namespaces of the built-in classes go with the environment
  // that made them, whatever counts the records of its contexts left on them.
  for (Chip_Type* t : builtin_classes) {
    if (t->info) {
      Chip_Namespace* n = t->info;
      t->info = nullptr;
      n->registry = nullptr;
      delete n;
    }
  }
  builtin_registry.clear();
  // No built-in type may keep pointing into the deleted global namespace.
  for (Chip_Type* t :
       {&t_void, &t_int,      &t_float,  &t_time,  &t_dur,    &t_complex, &t_polar,
        &t_null, &t_function, &t_object, &t_array, &t_string, &t_event,   &t_ugen,
        &t_uana, &t_uanablob, &t_shred,  &t_io,    &t_fileio, &t_thread,  &t_class}) {
    t->owner = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Contexts

Chip_Context* type_engine_make_context(a_Program prog, const std::string& filename) {
  EM_log(CP_LOG_FINER, "creating context '%s'...", filename.c_str());
  EM_pushlog();
  Chip_Context* context = new Chip_Context();
  context->parse_tree = prog;
  context->filename = filename;
  // The file's namespace is named after the file, so that function names
  // ("f@0@name") and messages read properly.
  context->nspc->name = mini(filename.c_str());
  // Listed, not held: the context lives as long as its holders (see the
  // header), or until the environment is shut down.
  if (Chip_Env* env = Chip_Env::instance()) {
    context->listed = TRUE;
    env->live_contexts.push_back(context);
  }
  EM_poplog();
  return context;
}

t_CPBOOL type_engine_load_context(Chip_Env* env, Chip_Context* context) {
  EM_log(CP_LOG_FINER, "loading context '%s'...", context->filename.c_str());
  EM_pushlog();
  if (env->context) {
    EM_log(CP_LOG_FINER, "pushing existing context '%s'...", env->context->filename.c_str());
  }
  env->contexts.push_back(env->context);
  env->context = context;
  env->context->add_ref();
  context->nspc->value.push();
  env->nspc_stack.push_back(env->curr);
  context->nspc->parent = env->curr;
  env->curr = context->nspc;
  EM_poplog();
  return TRUE;
}

t_CPBOOL type_engine_unload_context(Chip_Env* env) {
  CHIP_CHECK(env->context != NULL);
  CHIP_CHECK(env->contexts.size() != 0);
  EM_log(CP_LOG_FINER, "unloading context '%s'...", env->context->filename.c_str());
  EM_pushlog();
  EM_log(CP_LOG_FINER, "restoring context '%s'...", env->contexts.back()->filename.c_str());
  env->context->nspc->value.pop();
  env->curr = env->nspc_stack.back();
  env->nspc_stack.pop_back();
  env->context->release();
  env->context = env->contexts.back();
  env->contexts.pop_back();
  CHIP_CHECK(env->nspc_stack.size() != 0);
  EM_poplog();
  return TRUE;
}

namespace {

// One object that constructing a class constructs, every time: its parent
// class's part, or a member that its pre-constructor instantiates (declared
// without @, or an array with sizes whose elements are made with it).
struct Construction {
  Chip_Type* type;
  a_Var_Decl member;  // null: the parent
  int line;
};

// The members a class-level declaration instantiates, as the emitter makes
// them (a declaration that is an assignment target makes no object).
void member_constructions(a_Exp_Decl_* decl, std::vector<Construction>& out) {
  const t_CPBOOL is_ref = decl->type && decl->type->ref;
  if (is_ref || (decl->self && decl->self->emit_var)) return;
  for (a_Var_Decl_List list = decl->var_decl_list; list; list = list->next) {
    a_Var_Decl var = list->var_decl;
    Chip_Value* value = var->value;
    if (!value || !value->is_member || !isobj(value->type)) continue;
    Chip_Type* made = value->type;
    if (var->array) {
      if (!var->array->exp_list) continue;
      made = made->array_type;
    }
    if (made && isobj(made)) out.push_back({made, var, var->line_no});
  }
}

// What constructing a class of this file constructs. Declarations stand at
// the top of class-level statements, alone, in a list or as an operand.
std::vector<Construction> constructions(a_Class_Def class_def) {
  std::vector<Construction> out;
  Chip_Type* the_class = class_def->type;
  if (the_class->parent) out.push_back({the_class->parent, nullptr, class_def->line_no});
  for (a_Class_Body body = class_def->body; body; body = body->next) {
    if (body->section->s_type != ae_section_stmt) continue;
    for (a_Stmt_List list = body->section->stmt_list; list; list = list->next) {
      if (!list->stmt || list->stmt->s_type != ae_stmt_exp) continue;
      std::vector<a_Exp> pending{list->stmt->stmt_exp};
      while (!pending.empty()) {
        a_Exp exp = pending.back();
        pending.pop_back();
        for (; exp; exp = exp->next) {
          if (exp->s_type == ae_exp_decl) member_constructions(&exp->decl, out);
          if (exp->s_type == ae_exp_binary) {
            pending.push_back(exp->binary.lhs);
            pending.push_back(exp->binary.rhs);
          }
        }
      }
    }
  }
  return out;
}

// The classes a program defines, nested ones included, in source order.
void defined_classes(a_Class_Def class_def, std::vector<a_Class_Def>& out) {
  if (!class_def->type) return;
  out.push_back(class_def);
  for (a_Class_Body body = class_def->body; body; body = body->next) {
    if (body->section->s_type == ae_section_class)
      defined_classes(body->section->class_def, out);
  }
}

// A class whose construction constructs, through members and parents, an
// object of the class itself would construct without end (the case of a
// class declaring a member of its own type is refused when it is
// declared). Refused at the first such construction, with a hint.
t_CPBOOL check_construction_cycles(a_Program program) {
  std::vector<a_Class_Def> classes;
  for (a_Program prog = program; prog; prog = prog->next) {
    a_Section section = prog->section;
    if (section->s_type == ae_section_class) defined_classes(section->class_def, classes);
  }
  std::map<Chip_Type*, std::vector<Construction>> made;
  for (a_Class_Def class_def : classes) made[class_def->type] = constructions(class_def);

  for (a_Class_Def class_def : classes) {
    Chip_Type* the_class = class_def->type;
    for (const Construction& first : made[the_class]) {
      // Does constructing `first.type` lead back to the class?
      std::vector<Chip_Type*> pending{first.type};
      std::set<Chip_Type*> seen;
      t_CPBOOL cycle = FALSE;
      while (!pending.empty() && !cycle) {
        Chip_Type* t = pending.back();
        pending.pop_back();
        if (t == the_class) cycle = TRUE;
        if (cycle || !seen.insert(t).second) continue;
        auto it = made.find(t);
        if (it == made.end()) continue;
        for (const Construction& next : it->second) pending.push_back(next.type);
      }
      if (!cycle) continue;
      if (first.member) {
        EM_error2(first.line, "class '%s' contains itself through member '%s' of type '%s'...",
                  the_class->name.c_str(), S_name(first.member->name),
                  first.type->display_name().c_str());
      } else {
        EM_error2(first.line, "class '%s' contains itself through its parent class '%s'...",
                  the_class->name.c_str(), first.type->name.c_str());
      }
      EM_error2(first.line, "...(hint: declare the member as a reference (@))");
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

// Type-checks the sections of a context's program that how_much selects.
t_CPBOOL type_engine_check_context(Chip_Env* env, Chip_Context* context, te_HowMuch how_much) {
  EM_log(CP_LOG_FINER, "(pass 3) type-checking context '%s'...", context->filename.c_str());
  EM_pushlog();
  EM_log(CP_LOG_FINER, "target: %s", howmuch2str(how_much));

  if (!env->context) {
    EM_error2(0, "internal error: env->context NULL!");
    EM_poplog();
    return FALSE;
  }
  if (!context->parse_tree) {
    EM_error2(0, "internal error: context->parse_tree NULL!");
    EM_poplog();
    return FALSE;
  }

  t_CPBOOL ret = TRUE;
  for (a_Program prog = context->parse_tree; prog && ret; prog = prog->next) {
    a_Section section = prog->section;
    switch (section->s_type) {
      case ae_section_stmt:
        if (how_much == te_do_classes_only) break;
        for (a_Stmt_List list = section->stmt_list; list && ret; list = list->next) {
          ret = type_engine_check_stmt(env, list->stmt);
        }
        break;
      case ae_section_func:
        if (how_much == te_do_classes_only) break;
        ret = type_engine_check_func_def(env, section->func_def);
        break;
      case ae_section_class:
        if (how_much == te_do_no_classes) break;
        ret = type_engine_check_class_def(env, section->class_def);
        break;
      default:
        EM_error2(section->line_no,
                  "internal error: unrecognized program section in type checker...");
        ret = FALSE;
        break;
    }
  }

  if (ret && how_much != te_do_no_classes) ret = check_construction_cycles(context->parse_tree);

  CHIP_CHECK(env->contexts.size() != 0);
  if (!ret) env->context->has_error = TRUE;
  EM_poplog();
  return ret;
}

// ---------------------------------------------------------------------------
// Lookups

// Resolves a dotted type path from the current namespace; member types are
// searched in the classes (and their ancestors) along the path.
Chip_Type* type_engine_find_type(Chip_Env* env, a_Id_List path) {
  Chip_Type* t = env->curr->lookup_type(path->id, 1);
  if (!t && env->deprecate_level > 0) t = type_engine_find_deprecated_type(env, path);
  if (!t) {
    EM_error2(path->line_no, "undefined type '%s'...", type_path(path));
    return nullptr;
  }
  for (a_Id_List rest = path->next; rest; rest = rest->next) {
    Chip_Type* found = nullptr;
    for (Chip_Type* scope = t; scope && !found; scope = scope->parent) {
      if (scope->info) found = scope->info->lookup_type(rest->id, -1);
    }
    if (!found) {
      EM_error2(rest->line_no, "undefined type '%s'...", type_path(rest));
      if (t->info) {
        EM_error2(rest->line_no, "...(cannot find class '%s' in namespace '%s')", S_name(rest->id),
                  t->info->name.c_str());
      }
      return nullptr;
    }
    t = found;
  }
  return t;
}

// Resolves the first name of a path through the deprecation table.
Chip_Type* type_engine_find_deprecated_type(Chip_Env* env, a_Id_List path) {
  std::string actual;
  if (!type_engine_get_deprecate(env, S_name(path->id), actual)) return nullptr;
  Chip_Type* t = env->curr->lookup_type(actual, 1);
  if (t && env->deprecate_level <= 1) {
    EM_error2(path->line_no, "deprecated: '%s' --> use: '%s'...", type_path(path), actual.c_str());
  }
  return t;
}

Chip_Value* type_engine_find_value(Chip_Type* type, S_Symbol name) {
  for (Chip_Type* t = type; t; t = t->parent) {
    if (!t->info) return nullptr;
    if (Chip_Value* v = t->info->lookup_value(name, -1)) return v;
  }
  return nullptr;
}

Chip_Value* type_engine_find_value(Chip_Type* type, const std::string& name) {
  return type_engine_find_value(type, insert_symbol(name.c_str()));
}

Chip_Value* type_engine_find_value(Chip_Env* env, const std::string& name, unsigned long climb,
                                   int line_no) {
  long c = static_cast<long>(climb);
  Chip_Value* v = env->curr->lookup_value(name, c);
  if (v || c == 0) return v;
  std::string actual;
  if (type_engine_get_deprecate(env, name, actual)) {
    v = env->curr->lookup_value(actual, 1);
    if (v && env->deprecate_level <= 1) {
      EM_error2(line_no, "deprecated: '%s' --> use: '%s'...", name.c_str(), actual.c_str());
    }
  }
  return v;
}

Chip_Namespace* type_engine_find_nspc(Chip_Env* env, a_Id_List path) {
  if (!path) return env->global();
  if (std::strcmp(S_name(path->id), "global") == 0) {
    path = path->next;
    if (!path) return env->global();
  }
  Chip_Type* t = type_engine_find_type(env, path);
  if (!t) return nullptr;
  if (!t->info) {
    if (isprim(t)) {
      EM_error2(0, "primitive type '%s' has no namespace and cannot be extended...",
                t->display_name().c_str());
    } else {
      EM_error2(0, "internal error: type '%s' without namespace...", t->display_name().c_str());
    }
    return nullptr;
  }
  return t->info;
}

// ---------------------------------------------------------------------------
// Names

t_CPBOOL type_engine_check_reserved(Chip_Env* env, const std::string& name, int line_no) {
  if (env->key_words.count(name)) {
    EM_error2(line_no, "illegal use of keyword '%s'.", name.c_str());
    return TRUE;
  }
  if (env->key_values.count(name)) {
    EM_error2(line_no, "illegal re-declaration of reserved value '%s'.", name.c_str());
    return TRUE;
  }
  if (env->key_types.count(name)) {
    EM_error2(line_no, "illegal use of reserved type id '%s'.", name.c_str());
    return TRUE;
  }
  return FALSE;
}

t_CPBOOL type_engine_check_reserved(Chip_Env* env, S_Symbol name, int line_no) {
  return type_engine_check_reserved(env, std::string(S_name(name)), line_no);
}

t_CPBOOL type_engine_register_deprecate(Chip_Env* env, const std::string& former,
                                        const std::string& latter) {
  env->deprecated[former] = latter;
  return TRUE;
}

t_CPBOOL type_engine_get_deprecate(Chip_Env* env, const std::string& from, std::string& to) {
  auto it = env->deprecated.find(from);
  if (it == env->deprecated.end()) return FALSE;
  to = it->second;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Classes and functions

// Checks a class definition: its parent must exist, be an object type and
// be complete; then its body is checked inside the class's namespace. The
// class is complete (with its data size) when the body checks.
t_CPBOOL type_engine_check_class_def(Chip_Env* env, a_Class_Def class_def) {
  c_constr class_name = S_name(class_def->name->id);
  Chip_Type* t_parent = nullptr;
  a_Class_Ext ext = class_def->ext;
  if (!ext || !ext->extend_id) {
    t_parent = &t_object;
  } else {
    t_parent = type_engine_find_type(env, ext->extend_id);
    if (!t_parent) {
      EM_error2(ext->line_no, "undefined super class '%s' in definition of class '%s'",
                type_path(ext->extend_id), class_name);
      return FALSE;
    }
    if (isprim(t_parent)) {
      EM_error2(ext->line_no, "cannot extend primitive type '%s'",
                t_parent->display_name().c_str());
      EM_error2(ext->line_no, "...(note: primitives types are 'int', 'float', 'time', and 'dur')");
      return FALSE;
    }
    if (!t_parent->is_complete) {
      EM_error2(ext->line_no, "cannot extend incomplete type '%s'",
                t_parent->display_name().c_str());
      EM_error2(ext->line_no, "...(note: the parent's declaration must preceed child's)");
      return FALSE;
    }
  }

  CHIP_CHECK(env->context != NULL);
  CHIP_CHECK(class_def->type != NULL);
  CHIP_CHECK(class_def->type->info != NULL);

  Chip_Type* the_class = class_def->type;
  the_class->parent = t_parent;
  the_class->ugen_info = t_parent->ugen_info;
  the_class->info->offset = t_parent->obj_size;
  if (t_parent->info) {
    // A built-in parent enters its functions first: they fill the table.
    type_engine_complete_class(t_parent);
    the_class->info->obj_v_table.funcs = t_parent->info->obj_v_table.funcs;
  }

  env->nspc_stack.push_back(env->curr);
  env->curr = the_class->info;
  env->class_stack.push_back(env->class_def);
  env->class_def = the_class;
  env->class_scope = 0;

  t_CPBOOL ret = TRUE;
  for (a_Class_Body body = class_def->body; body && ret; body = body->next) {
    a_Section section = body->section;
    switch (section->s_type) {
      case ae_section_stmt:
        if (section->stmt_list) the_class->has_constructor = TRUE;
        for (a_Stmt_List list = section->stmt_list; list && ret; list = list->next) {
          ret = type_engine_check_stmt(env, list->stmt);
        }
        break;
      case ae_section_func:
        // The class may name itself inside its own functions.
        the_class->is_complete = TRUE;
        ret = type_engine_check_func_def(env, section->func_def);
        the_class->is_complete = FALSE;
        break;
      case ae_section_class:
        ret = type_engine_check_class_def(env, section->class_def);
        break;
      default:
        EM_error2(section->line_no,
                  "internal error: unrecognized program section in type checker...");
        ret = FALSE;
        break;
    }
  }

  env->class_def = env->class_stack.back();
  env->class_stack.pop_back();
  env->curr = env->nspc_stack.back();
  env->nspc_stack.pop_back();

  if (ret) {
    the_class->obj_size = the_class->info->offset;
    the_class->is_complete = TRUE;
  } else {
    release_held(the_class);
    class_def->type = nullptr;
  }
  return ret;
}

// Two function definitions have the same signature: the same access or
// kind keyword and pairwise equal argument types (return types aside).
t_CPBOOL type_engine_compat_func(a_Func_Def lhs, a_Func_Def rhs, int line_no, std::string& err,
                                 unsigned long print) {
  (void)err;
  if (lhs->func_decl != rhs->func_decl) {
    if (print) {
      EM_error2(line_no, "function signatures differ in access modifiers...");
      EM_error2(line_no, "(both must be one of public/private/protected/function)...");
    }
    return FALSE;
  }
  a_Arg_List e1 = lhs->arg_list;
  a_Arg_List e2 = rhs->arg_list;
  int count = 1;
  while (e1 && e2) {
    CHIP_CHECK(e1->type && e2->type);
    if (!equals(e1->type, e2->type)) {
      if (print) EM_error2(line_no, "function signatures differ in argument %i's type...", count);
      return FALSE;
    }
    e1 = e1->next;
    e2 = e2->next;
    count++;
  }
  if (e1 || e2) {
    if (print) EM_error2(line_no, "function signatures differ in number of arguments...");
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Text routines

namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// The byte each single-letter escape stands for (0: not an escape letter).
const unsigned char* escape_table() {
  static unsigned char table[256] = {0};
  static bool built = false;
  if (!built) {
    table[static_cast<unsigned char>('\'')] = '\'';
    table[static_cast<unsigned char>('"')] = '"';
    table[static_cast<unsigned char>('\\')] = '\\';
    table[static_cast<unsigned char>('a')] = 7;
    table[static_cast<unsigned char>('b')] = 8;
    table[static_cast<unsigned char>('f')] = 12;
    table[static_cast<unsigned char>('n')] = 10;
    table[static_cast<unsigned char>('r')] = 13;
    table[static_cast<unsigned char>('t')] = 9;
    table[static_cast<unsigned char>('v')] = 11;
    built = true;
  }
  return table;
}

}  // namespace

// Rewrites the escapes of a string literal in place.
t_CPBOOL escape_str(char* str, int line_no) {
  const unsigned char* table = escape_table();
  char* in = str;
  char* out = str;
  while (*in) {
    if (*in != '\\') {
      *out++ = *in++;
      continue;
    }
    char c = in[1];
    if (c == '\0') {
      EM_error2(line_no, "invalid: string ends with escape charactor '\\'");
      return FALSE;
    }
    if (is_octal(c)) {
      if (c == '0' && !is_octal(in[2])) {
        *out++ = '\0';
        in += 2;
        continue;
      }
      char c2 = in[2];
      char c3 = c2 ? in[3] : '\0';
      if (!is_octal(c2) || !is_octal(c3)) {
        // The three characters, as far as the text goes (a NUL would end
        // the printed line).
        char seq[4] = {c, c2, c3, '\0'};
        EM_error2(line_no, "malformed octal escape sequence '\\%s'", seq);
        return FALSE;
      }
      int byte = (c - '0') * 64 + (c2 - '0') * 8 + (c3 - '0');
      *out++ = static_cast<char>(byte % 256);
      in += 4;
      continue;
    }
    if (c == 'x') {
      EM_error2(line_no, "hex escape sequence not (yet) supported (use octal!)");
      return FALSE;
    }
    unsigned char mapped = table[static_cast<unsigned char>(c)];
    if (!mapped) {
      EM_error2(line_no, "unrecognized escape sequence '\\%c'", c);
      return FALSE;
    }
    *out++ = static_cast<char>(mapped);
    in += 2;
  }
  *out = '\0';
  return TRUE;
}

// Splits "a.b.c[][]" into the list a, b, c and the depth 2.
a_Id_List str2list(const std::string& path, unsigned long& array_depth) {
  array_depth = 0;
  std::string text = path;
  while (text.size() >= 3 && text.compare(text.size() - 2, 2, "[]") == 0) {
    array_depth++;
    text.resize(text.size() - 2);
  }

  a_Id_List list = nullptr;
  std::string name;
  size_t len = text.size();
  for (size_t i = len; i-- > 0;) {
    char c = text[i];
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) {
      EM_error2(0, "illegal character '%c' in path '%s'...", c, path.c_str());
      delete_id_list(list);
      return nullptr;
    }
    if (c == '.') {
      if (i == 0 || i == len - 1 || name.empty()) {
        EM_error2(0, "path '%s' must not begin or end with '.'", path.c_str());
        delete_id_list(list);
        return nullptr;
      }
      list = prepend_id_list(name.c_str(), list, 0);
      name.clear();
      continue;
    }
    name.insert(name.begin(), c);
    if (i == 0) list = prepend_id_list(name.c_str(), list, 0);
  }
  return list;
}

const char* type_path(a_Id_List path) {
  static std::string buffer;
  buffer.clear();
  for (a_Id_List p = path; p; p = p->next) {
    if (p != path) buffer += ".";
    buffer += S_name(p->id);
  }
  return buffer.c_str();
}

const char* howmuch2str(te_HowMuch how_much) {
  switch (how_much) {
    case te_do_all:
      return "ALL";
    case te_do_classes_only:
      return "CLASSES_ONLY";
    case te_do_no_classes:
      return "ALL_EXCEPT_CLASSES";
  }
  return "[INVALID]";
}

// Checks the error code the parser left on an array subscript.
t_CPBOOL verify_array(a_Array_Sub array) {
  switch (array->err_num) {
    case 0:
      return TRUE;
    case 1:
      EM_error2(array->line_no, "invalid format for array init [...][...]...");
      return FALSE;
    case 2:
      EM_error2(array->line_no, "partially empty array init [...][]...");
      return FALSE;
    default:
      EM_error2(array->line_no, "internal error: unrecognized array error...");
      return FALSE;
  }
}
