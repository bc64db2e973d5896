// Type-system records and the type environment.
//
// The checker works on six kinds of counted record (chip_oo.h):
//   Chip_Type       a type: built-in, user class, array or function type;
//   Chip_Value      a named entry of a namespace (variable, constant, function
//                   or class name);
//   Chip_Func       a function with its chain of overloads;
//   Chip_Namespace  three scopes of names (types, values, functions), a
//                   virtual table and the static data of a class;
//   Chip_Context    one compilation unit: the records it created, its file
//                   namespace and syntax tree;
//   Chip_Env        the one process-wide environment: the global namespace,
//                   the stacks of namespaces, classes and contexts the
//                   checker walks through, reserved words, deprecations.
//
// Scopes (Chip_Scope) are stacks of levels keyed by interned symbol; names
// added while only the outermost level exists are held in a commit map until
// the compiler commits them (the file compiled) or rolls them back (it did
// not), so a failed file leaves nothing behind.
//
// Ownership: every record a context creates is registered in one of its four
// vectors and belongs to it, and so does its syntax tree: a context and all
// it made go together, as one unit. A context is counted (its own count, not
// its records'), and freed with its records and tree when the last holder
// lets it go:
//   - the environment, while it compiles the file (load to unload);
//   - the compiler, for the code of its last successful compilation, until
//     the next one succeeds (a code nobody sporked is not lost);
//   - every shred started from the file's code or from one of its sporks
//     (the code's keeper, held by the shred);
//   - every object of one of its classes (the type's keeper, held by the
//     object), wherever the object lives;
//   - for good, the global namespace, once the file entered a name there (a
//     public class): later files are compiled against its records.
// So a file that fails to compile goes as soon as it is unloaded (its names
// rolled back out of the global namespace first), and an added file without
// a public class goes once its shreds have ended and its objects are gone.
// Pointers between records of one context are not counted (they form
// cycles); records of other contexts are only reached through the global
// namespace, whose contexts stay. A file whose class keeps an object of one
// of the file's own classes in a static variable holds itself, as objects
// that hold each other do, until the end. The environment deletes the
// contexts still alive when it is shut down, newest first.
//
// The 21 built-in types live for the whole process, locked. Sizes are those
// of a value in a variable or on a stack: one 8-byte word for int and every
// reference, 8 bytes for float, time and dur, 16 for complex and polar.
//
// The environment operations (type_engine_...) keep the engine's
// conventions: TRUE/FALSE or a pointer that is null on failure, with the
// failing routine printing its own message through EM_error2.
#ifndef CHIP_CHIP_TYPE_H
#define CHIP_CHIP_TYPE_H

#include <map>
#include <string>
#include <vector>

#include "chip/front/chip_absyn.h"
#include "chip/front/chip_symbol.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"

struct Chip_VM_Code;    // compiled code (virtual machine)
struct Chip_UGen_Info;  // unit-generator description (module interface)
struct Chip_Namespace;
struct Chip_Context;
struct Chip_Env;
struct Chip_Deferred_Members;  // functions an imported class enters later (chip_import.h)

// ---------------------------------------------------------------------------
// Ids of the kinds of type.
enum te_Type : unsigned {
  te_int = 0,
  te_float = 3,
  te_time = 5,
  te_dur = 6,
  te_complex = 7,
  te_polar = 8,
  te_string = 9,
  te_thread = 10,
  te_shred = 11,
  te_class = 12,
  te_function = 13,
  te_object = 14,
  te_user = 15,
  te_array = 16,
  te_null = 17,
  te_ugen = 18,
  te_uana = 19,
  te_event = 20,
  te_void = 21,
  te_uanablob = 27,
  te_io = 28,
  te_fileio = 29
};

// Which sections of a program a pass handles.
enum te_HowMuch { te_do_all = 0, te_do_classes_only = 1, te_do_no_classes = 2 };

// Bytes of one word (an int or a reference on the stack or in object data).
enum { CHIP_WORD_SIZE = sizeof(t_CPWORD) };

// ---------------------------------------------------------------------------
// A type.
struct Chip_Type : Chip_VM_Object {
  Chip_Type(te_Type id, const std::string& name, Chip_Type* parent, unsigned long size);
  ~Chip_Type() override;

  te_Type id;
  std::string name;           // bare name, without array brackets
  Chip_Type* parent;          // base class, or null (not referenced)
  unsigned long size;         // bytes of one value in a variable or on a stack
  Chip_Namespace* owner;      // namespace it was declared in (null: built-in)
  Chip_Type* array_type;      // element type of an array type
  unsigned long array_depth;  // array dimensions, 0 for a non-array type
  unsigned long obj_size;     // bytes of member data in one instance
  Chip_Namespace* info;       // members of a class (null for primitives)
  Chip_Func* func;            // the function of a function type
  a_Class_Def def;            // the definition it came from
  Chip_UGen_Info* ugen_info;  // unit-generator description, inherited
  // The context an object of this type keeps alive (held from the object's
  // initialisation to its destruction), or null: set for the classes of a
  // compiled file that may be released, never for built-in or permanent
  // types.
  Chip_VM_Object* keeper;
  t_CPBOOL is_copy;
  t_CPBOOL is_complete;  // FALSE while a source class is being defined
  t_CPBOOL has_constructor;
  t_CPBOOL has_destructor;
  // The kind of slot a value of the type takes (chip_slot_kind, a
  // Chip_Slot_Kind), kept the first time it is asked for, once the type is
  // complete; -1 until then. The emitter asks for it at every value it moves.
  t_CPWORD slot_kind;

  // The name followed by "[]" per array dimension.
  const std::string& display_name();

 private:
  std::string m_display;
};

// ---------------------------------------------------------------------------
// A named entry of a namespace.
struct Chip_Value : Chip_VM_Object {
  Chip_Value(Chip_Type* type, const std::string& name, void* addr = nullptr);
  ~Chip_Value() override;

  Chip_Type* type;  // referenced
  std::string name;
  unsigned long offset;  // member offset, or position in static data
  void* addr;            // storage of a global or static value
  t_CPBOOL is_const;
  t_CPBOOL is_member;            // per-instance member of a class
  t_CPBOOL is_static;            // static member of a class
  t_CPBOOL is_context_global;    // declared at file level, outside class/function
  t_CPBOOL is_decl_checked;      // TRUE once its declaration was checked
  t_CPWORD decl_word;            // 0 at creation; written by the declaration passes
  Chip_Namespace* owner;         // namespace current at the declaration
  Chip_Type* owner_class;        // class whose body declared it, or null
  Chip_Func* func_ref;           // for a value that names a function
  unsigned long overload_count;  // further overloads under this name
};

// ---------------------------------------------------------------------------
// A function and its chain of overloads.
struct Chip_Func : Chip_VM_Object {
  Chip_Func();
  ~Chip_Func() override;

  std::string name;  // internal name (name@n@namespace)
  a_Func_Def def;
  Chip_VM_Code* code;      // null until emitted
  void* dl_ref;            // null at creation; for the native-function passes
  t_CPBOOL is_member;      // non-static member function
  unsigned long vt_index;  // slot in the class's obj_v_table; ~0 = none
  Chip_Value* value_ref;   // the value that names it
  Chip_Func* next;         // next overload of the same name
  Chip_Value* up;          // same-named member of the parent class
};

// ---------------------------------------------------------------------------
// A stack of levels mapping symbols to objects, plus the commit map that
// holds the names added while only the outermost level is open.
template <typename T>
struct Chip_Scope {
  typedef std::map<S_Symbol, Chip_VM_Object*> Level;

  Chip_Scope() = default;
  ~Chip_Scope() {
    if (!scope.empty()) pop();
    for (Level* level : scope) delete level;
  }
  Chip_Scope(const Chip_Scope&) = delete;
  Chip_Scope& operator=(const Chip_Scope&) = delete;

  // A new, empty innermost level.
  void push() { scope.push_back(new Level); }

  // Drops the innermost level (its entries are not released).
  void pop() {
    CHIP_CHECK(scope.size() != 0);
    delete scope.back();
    scope.pop_back();
  }

  // Enters obj (referenced; null allowed) under sym, in the commit map when
  // only the outermost level is open, else in the innermost level.
  void add(S_Symbol sym, Chip_VM_Object* obj) {
    CHIP_CHECK(scope.size() != 0);
    Level& target = scope.size() == 1 ? commit_map : *scope.back();
    target[sym] = obj;
    if (obj) obj->add_ref();
  }
  void add(const std::string& name, Chip_VM_Object* obj) { add(insert_symbol(name.c_str()), obj); }

  // climb 0: the innermost level (and the commit map when that level is also
  // the outermost); climb > 0: every level outwards, then the commit map;
  // climb < 0: the outermost level, then the commit map.
  T lookup(S_Symbol sym, long climb = 1) const {
    CHIP_CHECK(scope.size() != 0);
    if (climb == 0) {
      if (Chip_VM_Object* hit = find(*scope.back(), sym)) return static_cast<T>(hit);
      if (scope.size() == 1) return static_cast<T>(find(commit_map, sym));
      return nullptr;
    }
    if (climb > 0) {
      for (size_t i = scope.size(); i-- > 0;) {
        if (Chip_VM_Object* hit = find(*scope[i], sym)) return static_cast<T>(hit);
      }
      return static_cast<T>(find(commit_map, sym));
    }
    if (Chip_VM_Object* hit = find(*scope.front(), sym)) return static_cast<T>(hit);
    return static_cast<T>(find(commit_map, sym));
  }
  T lookup(const std::string& name, long climb = 1) const {
    return lookup(insert_symbol(name.c_str()), climb);
  }

  // The pending names become permanent in the outermost level.
  void commit() {
    CHIP_CHECK(scope.size() != 0);
    for (auto& entry : commit_map) (*scope.front())[entry.first] = entry.second;
    commit_map.clear();
  }

  // Forgets the pending names (not released: the caller may release them,
  // see pending()).
  void rollback() {
    CHIP_CHECK(scope.size() != 0);
    commit_map.clear();
  }

  // The objects pending commit, in symbol order.
  std::vector<Chip_VM_Object*> pending() const {
    std::vector<Chip_VM_Object*> out;
    for (auto& entry : commit_map) out.push_back(entry.second);
    return out;
  }

  // Number of open levels.
  size_t depth() const { return scope.size(); }

  std::vector<Level*> scope;
  Level commit_map;

 private:
  static Chip_VM_Object* find(const Level& level, S_Symbol sym) {
    auto it = level.find(sym);
    return it == level.end() ? nullptr : it->second;
  }
};

// ---------------------------------------------------------------------------
// A namespace: the members of a class, a file's names, or the global names.
struct Chip_Namespace : Chip_VM_Object {
  Chip_Namespace();
  ~Chip_Namespace() override;

  Chip_Scope<Chip_Type*> type;
  Chip_Scope<Chip_Value*> value;
  Chip_Scope<Chip_Func*> func;
  Chip_VTable obj_v_table;        // member functions by vt_index
  void* class_data;               // static data of a class, or null
  unsigned long class_data_size;  // bytes of static data
  std::string name;
  Chip_VM_Code* pre_ctor;  // instance initialisation code, or null
  Chip_VM_Code* dtor;      // native destructor of an imported class
  Chip_Namespace* parent;  // enclosing namespace for climbing lookups
  unsigned long offset;    // offset the next member will get
  // Offsets of the members a script class declares with an object type:
  // each holds one reference (or null), given back when the object is freed.
  std::vector<unsigned long> obj_members;
  // Offsets in class_data of the static variables with an object type: each
  // holds one reference (or null), given back when the emitter shuts down.
  std::vector<unsigned long> obj_statics;
  // The member and static functions of a built-in class not yet entered
  // (owned), or null: they are entered, with the virtual table, the first
  // time the class's members are looked up, the class is extended or one of
  // its objects is made (type_engine_complete_class).
  Chip_Deferred_Members* deferred;

  // Search this namespace with the climb rule of Chip_Scope; when nothing is
  // found and climb > 0, continue through the enclosing namespaces.
  Chip_Type* lookup_type(S_Symbol name, long climb = 1);
  Chip_Type* lookup_type(const std::string& name, long climb = 1);
  Chip_Value* lookup_value(S_Symbol name, long climb = 1);
  Chip_Value* lookup_value(const std::string& name, long climb = 1);
  Chip_Func* lookup_func(S_Symbol name, long climb = 1);
  Chip_Func* lookup_func(const std::string& name, long climb = 1);

  // Commit or roll back the pending names of types, values and functions.
  void commit();
  void rollback();
};

// ---------------------------------------------------------------------------
// One compilation unit. Freed by its last release (see the ownership note
// above); one that is never held stays until the environment is shut down.
struct Chip_Context : Chip_VM_Object {
  Chip_Context();
  // Deletes its records and its tree, and leaves the environment's list.
  ~Chip_Context() override;

  std::string filename;
  a_Program parse_tree;  // owned: freed with the context
  Chip_Namespace* nspc;  // the file's namespace (owned)
  a_Class_Def public_class_def;
  t_CPBOOL has_error;      // its type check failed
  unsigned long progress;  // 2 once every pass succeeded
  std::vector<Chip_VM_Object*> new_types;
  std::vector<Chip_VM_Object*> new_values;
  std::vector<Chip_VM_Object*> new_funcs;
  std::vector<Chip_VM_Object*> new_nspc;

  // The file's compiled code (its namespace's pre-constructor).
  Chip_VM_Code* code();

  // Fresh records registered in this context, unreferenced.
  Chip_Type* new_Chip_Type();
  Chip_Value* new_Chip_Value(Chip_Type* type, const std::string& name);
  Chip_Func* new_Chip_Func();
  Chip_Namespace* new_Chip_Namespace();
  // An empty code object (no instructions yet), registered like the above
  // among the functions' records.
  Chip_VM_Code* new_Chip_VM_Code();

  // Deletes every record this context created (done by the destructor).
  void teardown();

  // The file compiled and entered names into the global namespace: the
  // context stays until the environment is shut down.
  void keep_for_good();
  // The file compiled and entered nothing global: from now on every object
  // of its classes holds the context (see Chip_Type::keeper).
  void keep_while_used();

  // Listed among the environment's live contexts (type_engine_make_context).
  t_CPBOOL listed;
  // Held for good (keep_for_good).
  t_CPBOOL kept_for_good;
};

// ---------------------------------------------------------------------------
// The type-checking environment (one per process between type_engine_init
// and type_engine_shutdown).
struct Chip_Env : Chip_VM_Object {
  static t_CPBOOL startup();
  static Chip_Env* instance();
  // Back to the global namespace with empty stacks: no class, no function,
  // no pending loop; every scope level opened (and left open by a failed
  // compilation) in the global namespace is closed.
  void reset();

  ~Chip_Env() override;

  Chip_Namespace* global() { return global_nspc; }

  Chip_Namespace* global_nspc;  // the global namespace (referenced)
  Chip_Context global_context;  // "@[global]", locked
  std::vector<Chip_Namespace*> nspc_stack;
  Chip_Namespace* curr;  // where declarations go
  std::vector<Chip_Type*> class_stack;
  Chip_Type* class_def;       // class whose body is being checked
  Chip_Func* func;            // function whose body is being checked
  unsigned long class_scope;  // depth of scopes inside the class body
  std::vector<Chip_Context*> contexts;
  Chip_Context* context;       // current context (referenced)
  std::vector<a_Stmt> breaks;  // enclosing loops

  std::map<std::string, t_CPBOOL> key_words;
  std::map<std::string, t_CPBOOL> key_types;
  std::map<std::string, t_CPBOOL> key_values;
  std::map<std::string, std::string> deprecated;
  t_CPINT deprecate_level;  // 0 stop, 1 warn, 2 ignore

  // The contexts made by type_engine_make_context that are still alive,
  // oldest first (not referenced: a context leaves the list when it is
  // freed). Those still alive at shut-down are deleted with the environment.
  std::vector<Chip_Context*> live_contexts;
  // Storage of the global values (freed with the environment).
  std::vector<t_CPWORD*> global_storage;
  // Set while the base classes and the built-in modules are imported: the
  // import interface records the functions of the classes it opens instead
  // of entering them at once (chip_import.h).
  t_CPBOOL defer_imports = FALSE;

  static Chip_Env* our_instance;

 private:
  Chip_Env();
};

// ---------------------------------------------------------------------------
// The built-in types.
extern Chip_Type t_void;
extern Chip_Type t_int;
extern Chip_Type t_float;
extern Chip_Type t_time;
extern Chip_Type t_dur;
extern Chip_Type t_complex;
extern Chip_Type t_polar;
extern Chip_Type t_null;
extern Chip_Type t_function;
extern Chip_Type t_object;
extern Chip_Type t_array;
extern Chip_Type t_string;
extern Chip_Type t_event;
extern Chip_Type t_ugen;
extern Chip_Type t_uana;
extern Chip_Type t_uanablob;
extern Chip_Type t_shred;
extern Chip_Type t_io;
extern Chip_Type t_fileio;
extern Chip_Type t_thread;
extern Chip_Type t_class;

// The classes of the machine's global `dac` and `adc` (DAC and ADC, made by
// the multichannel registration); null until registered. The checker types
// the names `dac` and `adc` by them and the machine instantiates them.
extern Chip_Type* g_t_dac;
extern Chip_Type* g_t_adc;

// ---------------------------------------------------------------------------
// Type relations.
t_CPBOOL operator==(const Chip_Type& lhs, const Chip_Type& rhs);
t_CPBOOL operator!=(const Chip_Type& lhs, const Chip_Type& rhs);
// lhs is rhs, one of its descendants, or null against an object type.
t_CPBOOL operator<=(const Chip_Type& lhs, const Chip_Type& rhs);
t_CPBOOL equals(Chip_Type* lhs, Chip_Type* rhs);
t_CPBOOL isa(Chip_Type* lhs, Chip_Type* rhs);
// int, float, dur, time, complex, polar (and their kin), not arrays.
t_CPBOOL isprim(Chip_Type* type);
t_CPBOOL type_engine_check_primitive(Chip_Type* type);
t_CPBOOL isobj(Chip_Type* type);
t_CPBOOL isfunc(Chip_Type* type);

// A new array type of the current context: depth dimensions of base_type.
Chip_Type* new_array_type(Chip_Env* env, Chip_Type* array_parent, unsigned long depth,
                          Chip_Type* base_type, Chip_Namespace* owner);

// ---------------------------------------------------------------------------
// Environment lifecycle.
Chip_Env* type_engine_init(t_CPUINT srate);
void type_engine_shutdown(Chip_Env* env);

// Contexts.
// A new context, unreferenced, owning prog.
Chip_Context* type_engine_make_context(a_Program prog, const std::string& filename);
t_CPBOOL type_engine_load_context(Chip_Env* env, Chip_Context* context);
t_CPBOOL type_engine_unload_context(Chip_Env* env);
t_CPBOOL type_engine_check_context(Chip_Env* env, Chip_Context* context,
                                   te_HowMuch how_much = te_do_all);

// Lookups.
Chip_Type* type_engine_find_type(Chip_Env* env, a_Id_List path);
Chip_Type* type_engine_find_deprecated_type(Chip_Env* env, a_Id_List path);
Chip_Value* type_engine_find_value(Chip_Type* type, const std::string& name);
Chip_Value* type_engine_find_value(Chip_Type* type, S_Symbol name);
Chip_Value* type_engine_find_value(Chip_Env* env, const std::string& name, unsigned long climb,
                                   int line_no = 0);
Chip_Namespace* type_engine_find_nspc(Chip_Env* env, a_Id_List path);

// Names.
t_CPBOOL type_engine_check_reserved(Chip_Env* env, const std::string& name, int line_no);
t_CPBOOL type_engine_check_reserved(Chip_Env* env, S_Symbol name, int line_no);
t_CPBOOL type_engine_register_deprecate(Chip_Env* env, const std::string& former,
                                        const std::string& latter);
t_CPBOOL type_engine_get_deprecate(Chip_Env* env, const std::string& from, std::string& to);

// Classes and functions.
t_CPBOOL type_engine_check_class_def(Chip_Env* env, a_Class_Def class_def);
t_CPBOOL type_engine_compat_func(a_Func_Def lhs, a_Func_Def rhs, int line_no, std::string& err,
                                 unsigned long print);

// Text routines.
t_CPBOOL escape_str(char* str, int line_no);
// The caller owns the list (delete_id_list).
a_Id_List str2list(const std::string& path, unsigned long& array_depth);
const char* type_path(a_Id_List path);
const char* howmuch2str(te_HowMuch how_much);
t_CPBOOL verify_array(a_Array_Sub array);

#endif
