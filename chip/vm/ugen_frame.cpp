// The binding frame of the native unit-generator modules: member access,
// registration steps, and the declared classes with their trampolines and
// guard.
#include "chip/vm/ugen_frame.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"

unsigned char* frame_member_addr(Chip_Object* self, t_CPWORD offset, size_t bytes) {
  CHIP_CHECK(self != NULL);
  CHIP_CHECK(offset != FRAME_NO_OFFSET && offset >= 0);
  CHIP_CHECK(self->data != NULL);
  CHIP_CHECK(static_cast<t_CPUWORD>(offset) + bytes <= self->size);
  return self->data + offset;
}

Chip_UGen* frame_ugen(Chip_Object* self) {
  CHIP_CHECK(self != NULL);
  return static_cast<Chip_UGen*>(self);
}

t_CPWORD frame_import_mvar(Chip_Env* env, const char* type, const char* name) {
  unsigned long offset = type_engine_import_mvar(env, type, name, FALSE);
  if (offset == CHIP_IMPORT_BAD_OFFSET) return FRAME_NO_OFFSET;
  return static_cast<t_CPWORD>(offset);
}

t_CPWORD frame_import_state(Chip_Env* env, const char* name, const char* type) {
  CHIP_CHECK(name != NULL && name[0] == '@');
  return frame_import_mvar(env, type, name);
}

namespace {

// Fills the function record's arguments, imports it and drops the record
// (the import keeps what it needs).
t_CPBOOL import_func(Chip_Env* env, Chip_DL_Func* fun, std::initializer_list<Frame_Arg> args,
                     bool is_static) {
  for (const Frame_Arg& arg : args) fun->add_arg(arg.type, arg.name);
  t_CPBOOL ok = is_static ? type_engine_import_sfun(env, fun) : type_engine_import_mfun(env, fun);
  delete fun;
  return ok;
}

}  // namespace

t_CPBOOL frame_import_mfun(Chip_Env* env, const char* type, const char* name, f_mfun fn,
                           std::initializer_list<Frame_Arg> args) {
  return import_func(env, make_new_mfun(type, name, fn), args, false);
}

t_CPBOOL frame_import_sfun(Chip_Env* env, const char* type, const char* name, f_sfun fn,
                           std::initializer_list<Frame_Arg> args) {
  return import_func(env, make_new_sfun(type, name, fn), args, true);
}

t_CPBOOL frame_fail(Chip_Env* env) {
  type_engine_import_class_end(env);
  return FALSE;
}

// ---------------------------------------------------------------------------
// Declared classes.
//
// Native functions carry no user data, so the frame hands the import
// interface trampolines: class trampolines (constructor, destructor, tick)
// indexed by the class's place in a table of registered descriptors, and
// member trampolines indexed by a table of registered members. Registering
// the same descriptor again (every compiler loads the modules) finds its old
// place, so the tables never grow past the classes and members that exist.

namespace {

// Runs fn; false (after the error's report) when it raised a Frame_Error,
// and then *halt (when given) tells whether the error asks to stop the
// calling shred.
// Prints a Frame_Error's message unless raising it printed it already.
void report(const Frame_Error& error) {
  if (error.wasReported()) return;
  const char* text = error.getMessage();
  if (std::strncmp(text, "[chip](via ", 11) == 0) {
    EM_printf("%s\n", text);
  } else {
    EM_printf("%s%s\n", error.prefix(), text);
  }
}

template <typename Fn>
[[gnu::always_inline]] inline bool guarded(Fn&& fn, bool* halt = nullptr) {
  try {
    fn();
    return true;
  } catch (const Frame_Error& error) {
    if (halt) *halt = error.haltsShred();
    report(error);
    return false;
  }
}

constexpr size_t kMaxClasses = 256;
const Frame_Class_Desc* g_classes[kMaxClasses];
size_t g_class_count = 0;

void run_ctor(const Frame_Class_Desc& desc, Chip_Object* self) {
  t_CPWORD offset = *desc.offset;
  Frame_Slot* slot = frame_state<Frame_Slot>(self, offset);
  if (!desc.make) {
    // A declaring class without an object of its own only clears its member.
    if (slot) {
      delete slot->obj;
      delete slot;
    }
    frame_set_state<Frame_Slot>(self, offset, nullptr);
    return;
  }
  if (!slot) {
    slot = new Frame_Slot;
    frame_set_state(self, offset, slot);
  }
  // A parent's object gives way to this class's: drop it first, so that a
  // failing make leaves the slot empty rather than holding the wrong class.
  delete slot->obj;
  *slot = Frame_Slot();
  slot->ugen = frame_ugen(self);
  Frame_Obj* obj = nullptr;
  guarded([&] { obj = desc.make(self); });
  slot->obj = obj;
}

void run_dtor(const Frame_Class_Desc& desc, Chip_Object* self) {
  Frame_Slot* slot = frame_take_state<Frame_Slot>(self, *desc.offset);
  if (!slot) return;
  delete slot->obj;
  delete slot;
}

// Inlined into each class's trampoline: the tick of every node of a declared
// class runs through here once per sample.
inline unsigned long run_tick(const Frame_Class_Desc& desc, Chip_Object* self, SAMPLE in,
                              SAMPLE* out) {
  if (desc.offset && out) {
    // The usual case, a class with state: the slot's word was checked when
    // the constructor stored it, and the object's data never moves.
    Frame_Slot* slot = *reinterpret_cast<Frame_Slot**>(self->data + *desc.offset);
    SAMPLE y = 0.0f;
    if (slot && slot->obj && !slot->tick_failed &&
        !guarded([&] { y = desc.tick(*slot, in); })) {
      slot->tick_failed = true;
      y = 0.0f;
    }
    *out = y;
    return 1;
  }
  // A class without state ticks with an empty slot of its own.
  Frame_Slot stateless;
  Frame_Slot* slot = &stateless;
  if (desc.offset) {
    slot = frame_state<Frame_Slot>(self, *desc.offset);
  } else {
    stateless.ugen = frame_ugen(self);
  }
  if (!out) {
    if (slot) slot->warn_once(31, "[chip](via SYN): we warned you...");
    return 0;
  }
  SAMPLE y = 0.0f;
  bool ready = slot && (slot->obj || !desc.offset) && !slot->tick_failed;
  if (ready && !guarded([&] { y = desc.tick(*slot, in); })) {
    slot->tick_failed = true;
    y = 0.0f;
  }
  *out = y;
  return 1;
}

// The block form of run_tick: the same outputs, frame by frame, with the
// slot found once and one guard around the loop. A Frame_Error silences
// the object from the frame that raised it, as run_tick does; anything else
// a tick throws is reported here and ends the block at that frame (the
// graph silences the node from there, as after a tick that throws).
inline unsigned long run_tick_v(const Frame_Class_Desc& desc, Chip_Object* self, const SAMPLE* in,
                                SAMPLE* out, unsigned long frames) {
  Frame_Slot stateless;
  Frame_Slot* slot = &stateless;
  if (desc.offset) {
    slot = *reinterpret_cast<Frame_Slot**>(self->data + *desc.offset);
  } else {
    stateless.ugen = frame_ugen(self);
  }
  unsigned long j = 0;
  if (slot && (slot->obj || !desc.offset) && !slot->tick_failed) {
    try {
      if (desc.tick_block) {
        desc.tick_block(*slot, in, out, frames);
        return frames;
      }
      for (; j < frames; j++) out[j] = desc.tick(*slot, in[j]);
      return frames;
    } catch (const Frame_Error& error) {
      report(error);
      slot->tick_failed = true;
    } catch (...) {
      chip_dl_tick_fault(self);
      return j;
    }
  }
  for (; j < frames; j++) out[j] = 0.0f;
  return frames;
}

unsigned long run_tock(const Frame_Class_Desc& desc, Chip_Object* self, Chip_UAna* uana,
                       Chip_UAnaBlobProxy* blob) {
  // A class without state tocks with an empty slot of its own.
  Frame_Slot stateless;
  Frame_Slot* slot = &stateless;
  if (desc.offset) {
    slot = frame_state<Frame_Slot>(self, *desc.offset);
  } else {
    stateless.ugen = frame_ugen(self);
  }
  if (!slot || (!slot->obj && desc.offset) || !blob || !uana) return 0;
  return guarded([&] { desc.tock(*slot, uana, blob); }) ? 1 : 0;
}

template <size_t I>
void class_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  run_ctor(*g_classes[I], SELF);
}

template <size_t I>
void class_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  run_dtor(*g_classes[I], SELF);
}

template <size_t I>
unsigned long class_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  return run_tick(*g_classes[I], SELF, in, out);
}

template <size_t I>
unsigned long class_tick_v(Chip_Object* SELF, const SAMPLE* in, SAMPLE* out, unsigned long frames,
                           Chip_VM_Shred*) {
  return run_tick_v(*g_classes[I], SELF, in, out, frames);
}

template <size_t I>
unsigned long class_tock(Chip_Object* SELF, Chip_UAna* UANA, Chip_UAnaBlobProxy* BLOB,
                         Chip_VM_Shred*) {
  return run_tock(*g_classes[I], SELF, UANA, BLOB);
}

struct Class_Trampolines {
  f_ctor ctor;
  f_dtor dtor;
  f_tick tick;
  f_tick_v tick_v;
  f_tock tock;
};

template <size_t... I>
constexpr std::array<Class_Trampolines, sizeof...(I)> make_class_trampolines(
    std::index_sequence<I...>) {
  return {{Class_Trampolines{&class_ctor<I>, &class_dtor<I>, &class_tick<I>, &class_tick_v<I>,
                             &class_tock<I>}...}};
}

constexpr auto kClassTrampolines = make_class_trampolines(std::make_index_sequence<kMaxClasses>());

// ---------------------------------------------------------------------------
// Member trampolines.

enum Member_Form { FORM_SET, FORM_GET, FORM_METHOD };

struct Member_Entry {
  const Frame_Class_Desc* desc;
  const Frame_Member* member;
  Member_Form form;
};

constexpr size_t kMaxMembers = 2048;
Member_Entry g_members[kMaxMembers];
size_t g_member_count = 0;

bool is_int_type(const char* type) { return std::strcmp(type, "int") == 0; }

// A property value into the result by its type; an int out of range (or
// NaN) is clamped (0 for NaN).
void put_value(Chip_DL_Return* ret, bool is_int, double value) {
  if (!is_int) {
    ret->v_float = value;
    return;
  }
  t_CPINT n = 0;
  if (value >= 2147483647.0) {
    n = 2147483647;
  } else if (value <= -2147483648.0) {
    n = static_cast<t_CPINT>(-2147483647 - 1);
  } else if (value == value) {
    n = static_cast<t_CPINT>(value);
  }
  ret->v_int = n;
}

// A member whose error asks for it ends the calling shred after the current
// instruction.
void halt_caller(Chip_VM_Shred* shred) {
  if (!shred) return;
  shred->is_running = FALSE;
  shred->is_done = TRUE;
}

void run_member(const Member_Entry& entry, Chip_Object* self, void* args, Chip_DL_Return* ret,
                Chip_VM_Shred* shred) {
  const Frame_Member& member = *entry.member;
  ret->v_complex = t_CPCOMPLEX{0.0, 0.0};
  Frame_Slot* slot = frame_state<Frame_Slot>(self, *entry.desc->offset);
  if (!slot || !slot->obj) return;  // an empty object answers 0
  bool is_int = is_int_type(member.type);
  void* cursor = args;
  bool halt = false;
  switch (entry.form) {
    case FORM_SET: {
      double value = is_int ? static_cast<double>(GET_NEXT_INT(cursor)) : GET_NEXT_FLOAT(cursor);
      double stored = 0.0;
      if (guarded([&] { stored = member.set(*slot, value); }, &halt)) {
        put_value(ret, is_int, stored);
        slot->tick_failed = false;
      }
      break;
    }
    case FORM_GET: {
      double stored = 0.0;
      if (guarded([&] { stored = member.get(*slot); })) put_value(ret, is_int, stored);
      break;
    }
    case FORM_METHOD:
      if (guarded([&] { member.method(*slot, cursor, ret); }, &halt)) {
        slot->tick_failed = false;
      } else {
        ret->v_complex = t_CPCOMPLEX{0.0, 0.0};
      }
      break;
  }
  if (halt) halt_caller(shred);
}

template <size_t I>
void member_fn(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  run_member(g_members[I], SELF, ARGS, RETURN, SHRED);
}

template <size_t... I>
constexpr std::array<f_mfun, sizeof...(I)> make_member_trampolines(std::index_sequence<I...>) {
  return {{&member_fn<I>...}};
}

constexpr auto kMemberTrampolines =
    make_member_trampolines(std::make_index_sequence<kMaxMembers>());

// The place of a class, or of one form of a member, in its table (found
// again when registered before); -1 when the table is full.
// A class's members are registered together, the first time the class is:
// the place of the first of them, where the search for one starts.
size_t g_class_first_member[kMaxClasses];

long class_index(const Frame_Class_Desc* desc) {
  for (size_t i = 0; i < g_class_count; i++) {
    if (g_classes[i] == desc) return static_cast<long>(i);
  }
  if (g_class_count == kMaxClasses) return -1;
  g_classes[g_class_count] = desc;
  g_class_first_member[g_class_count] = g_member_count;
  return static_cast<long>(g_class_count++);
}

long member_index(long class_at, const Frame_Class_Desc* desc, const Frame_Member* member,
                  Member_Form form) {
  for (size_t i = g_class_first_member[class_at]; i < g_member_count; i++) {
    const Member_Entry& e = g_members[i];
    if (e.desc == desc && e.member == member && e.form == form) return static_cast<long>(i);
  }
  if (g_member_count == kMaxMembers) return -1;
  g_members[g_member_count] = Member_Entry{desc, member, form};
  return static_cast<long>(g_member_count++);
}

// The arguments of a method or native member (up to the first empty one).
void add_args(Chip_DL_Func* fun, const Frame_Arg (&args)[4]) {
  for (const Frame_Arg& arg : args) {
    if (!arg.type) break;
    fun->add_arg(arg.type, arg.name);
  }
}

// The record of one member function (one form of a property) served by
// fn: made when the import enters it, which may be long after the module
// loaded (chip_import.h); the member rows are static.
Chip_DL_Func* make_member_fun(const void* data, unsigned long form, void* fn) {
  const Frame_Member* member = static_cast<const Frame_Member*>(data);
  Chip_DL_Func* fun = make_new_mfun(member->type, member->name, reinterpret_cast<f_mfun>(fn));
  if (form == FORM_SET) {
    fun->add_arg(member->type, "value");
  } else if (form == FORM_METHOD) {
    add_args(fun, member->args);
  }
  return fun;
}

// The record of a static function row.
Chip_DL_Func* make_static_fun(const void* data, unsigned long, void*) {
  const Frame_Member* member = static_cast<const Frame_Member*>(data);
  Chip_DL_Func* fun = make_new_sfun(member->type, member->name, member->sfun);
  add_args(fun, member->args);
  return fun;
}

// Imports one member (one form of a property); FALSE on failure. Its
// trampoline is taken now, whenever the function enters.
t_CPBOOL import_member(Chip_Env* env, long class_at, const Frame_Class_Desc* desc,
                       const Frame_Member* member, Member_Form form) {
  f_mfun fn = member->native;
  if (!fn) {
    long index = member_index(class_at, desc, member, form);
    if (index < 0) {
      EM_printf("[chip]: too many native members to register (%s.%s)\n", desc->name,
                member->name);
      return FALSE;
    }
    fn = kMemberTrampolines[index];
  }
  return type_engine_import_made_fun(env, make_member_fun, member, form,
                                     reinterpret_cast<void*>(fn), FALSE);
}

// The members of a declared class, in table order; FALSE at the first
// failure.
t_CPBOOL import_members(Chip_Env* env, long class_at, const Frame_Class_Desc* desc) {
  for (size_t i = 0; i < desc->member_count; i++) {
    const Frame_Member* member = &desc->members[i];
    if (member->sfun) {
      if (!type_engine_import_made_fun(env, make_static_fun, member, 0, nullptr, TRUE)) {
        return FALSE;
      }
      continue;
    }
    if (member->method || member->native) {
      if (!import_member(env, class_at, desc, member, FORM_METHOD)) return FALSE;
      continue;
    }
    if (member->set && !import_member(env, class_at, desc, member, FORM_SET)) return FALSE;
    if (member->get && !import_member(env, class_at, desc, member, FORM_GET)) return FALSE;
  }
  return TRUE;
}

}  // namespace

void Frame_Slot::warn_once(unsigned bit, const char* format, ...) {
  unsigned mask = 1u << (bit & 31u);
  if (warned & mask) return;
  warned |= mask;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  EM_printf("%s\n", text);
}

unsigned long frame_pmsg_true(Chip_Object*, const char*, void*, Chip_VM_Shred*) { return 1; }

unsigned long frame_pmsg_false(Chip_Object*, const char*, void*, Chip_VM_Shred*) { return 0; }

Frame_Slot* frame_slot(Chip_Object* self, t_CPWORD offset) {
  return frame_state<Frame_Slot>(self, offset);
}

Frame_Obj* frame_object(Chip_Object* self, t_CPWORD offset) {
  Frame_Slot* slot = frame_slot(self, offset);
  return slot ? slot->obj : nullptr;
}

Chip_Type* frame_import_class(Chip_Env* env, const Frame_Class_Desc* desc) {
  long index = class_index(desc);
  if (index < 0) {
    EM_printf("[chip]: too many native classes to register (%s)\n", desc->name);
    return nullptr;
  }
  const Class_Trampolines& t = kClassTrampolines[index];
  f_ctor ctor = desc->native_ctor;
  if (desc->make || desc->data_member) ctor = t.ctor;
  f_dtor dtor = desc->make ? t.dtor : nullptr;
  f_tick tick = desc->tick ? t.tick : nullptr;
  Chip_Type* type =
      desc->tock ? type_engine_import_uana_begin(env, desc->name, desc->parent, env->global(),
                                                 ctor, dtor, tick, t.tock, desc->pmsg, desc->ins,
                                                 desc->outs, desc->ins_ana, desc->outs_ana)
                 : type_engine_import_ugen_begin(env, desc->name, desc->parent, env->global(),
                                                 ctor, dtor, tick, desc->pmsg, desc->ins,
                                                 desc->outs);
  if (!type) return nullptr;
  if (desc->tick) {
    type->ugen_info->tick_v = t.tick_v;
    type->ugen_info->block = desc->block;
  }
  for (size_t i = 0; i < desc->var_count; i++) {
    const Frame_Var& var = desc->vars[i];
    t_CPWORD offset = var.name[0] == '@' ? frame_import_state(env, var.name, var.type)
                                         : frame_import_mvar(env, var.type, var.name);
    if (offset == FRAME_NO_OFFSET) {
      frame_fail(env);
      return nullptr;
    }
    *var.offset = offset;
  }
  if (desc->data_member) {
    t_CPWORD offset = frame_import_state(env, desc->data_member);
    if (offset == FRAME_NO_OFFSET) {
      frame_fail(env);
      return nullptr;
    }
    *desc->offset = offset;
  }
  if (!import_members(env, index, desc)) {
    frame_fail(env);
    return nullptr;
  }
  return type_engine_import_class_end(env) ? type : nullptr;
}

t_CPBOOL frame_import_classes(Chip_Env* env, const Frame_Class_Desc* descs, size_t count) {
  for (size_t i = 0; i < count; i++) {
    if (!frame_import_class(env, &descs[i])) return FALSE;
  }
  return TRUE;
}
