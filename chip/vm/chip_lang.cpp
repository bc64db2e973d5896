// The built-in classes: registration and native member functions.
#include "chip/vm/chip_lang.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_string.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"

t_CPWORD Object_offset_string = -1;

namespace {

// ---------------------------------------------------------------------------
// Registration tables

// One argument of a member function: type string, name.
struct Arg {
  const char* type;
  const char* name;
};

// One member function in declaration order: result type, name, native
// function, up to one argument (no built-in member takes more).
struct Member {
  const char* type;
  const char* name;
  f_mfun fn;
  Arg arg;
};

// Opens type as a built-in class of the global namespace, logging its line.
t_CPBOOL begin_class(Chip_Env* env, Chip_Type* type, const char* log_name, f_ctor ctor = nullptr,
                     f_dtor dtor = nullptr) {
  EM_log(CP_LOG_SEVERE, "class '%s'", log_name);
  return type_engine_import_class_begin(env, type, env->global(), ctor, dtor) != nullptr;
}

// Imports the members of the table into the open class, in order.
t_CPBOOL import_members(Chip_Env* env, const Member* members, size_t count) {
  for (size_t i = 0; i < count; i++) {
    const Member& m = members[i];
    std::unique_ptr<Chip_DL_Func> fun(make_new_mfun(m.type, m.name, m.fn));
    if (m.arg.type) fun->add_arg(m.arg.type, m.arg.name);
    if (!type_engine_import_mfun(env, fun.get())) return FALSE;
  }
  return TRUE;
}

// Closes the open class after a failed step: the registration's FALSE.
t_CPBOOL fail(Chip_Env* env) {
  type_engine_import_class_end(env);
  return FALSE;
}

template <size_t N>
t_CPBOOL import_members(Chip_Env* env, const Member (&members)[N]) {
  return import_members(env, members, N);
}

// A new, unreferenced string holding text for the shred's machine, or null
// when none can be made (instantiation printed why).
Chip_String* new_string(Chip_VM_Shred* shred, std::string text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, shred);
  if (!object) return nullptr;
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = std::move(text);
  return string;
}

// The word in an object's data at a registered offset, or null when the
// offset is not registered or lies outside the data.
Chip_Object** slot_at(Chip_Object* object, t_CPWORD offset) {
  if (offset < 0 || !object->data) return nullptr;
  if (static_cast<t_CPUWORD>(offset) + sizeof(Chip_Object*) > object->size) return nullptr;
  return reinterpret_cast<Chip_Object**>(object->data + offset);
}

// A member a script may call but that has nothing to do: the script's
// mistake ends the calling shred with "[chip](VM): <kind>: (<what>) in
// shred[...]"; without a shred (a host's direct call) only the report.
void refuse_call(Chip_VM_Shred* shred, c_constr kind, c_constr what) {
  if (!shred) {
    EM_printf("[chip](VM): %s: (%s)\n", kind, what);
    return;
  }
  chip_runtime_exception(shred, "[chip](VM): %s: (%s) in shred[id=%d:%s], PC=[%d]\n", kind, what,
                         static_cast<int>(shred->id), shred->name.c_str(),
                         static_cast<int>(shred->pc));
}

inline Chip_String* self_string(Chip_Object* self) { return static_cast<Chip_String*>(self); }
inline Chip_Array* self_array(Chip_Object* self) { return static_cast<Chip_Array*>(self); }
inline Chip_VM_Shred* self_shred(Chip_Object* self) { return static_cast<Chip_VM_Shred*>(self); }
inline Chip_UGen* self_ugen(Chip_Object* self) { return static_cast<Chip_UGen*>(self); }

// Applies fn to a unit generator and, recursively, to its channel nodes.
template <typename Fn>
void each_node(Chip_UGen* ugen, Fn fn) {
  fn(ugen);
  for (unsigned long i = 0; i < ugen->multi_chan_size; i++) {
    Chip_UGen* chan = ugen->multi_chan[i];
    if (chan && chan != ugen) each_node(chan, fn);
  }
}

// IO's static constants (storage the type system binds to).
t_CPWORD io_read = 1;
t_CPWORD io_write = 2;
t_CPWORD io_append = 4;
t_CPWORD io_truncate = 8;
t_CPWORD io_binary = 32;

}  // namespace

// ---------------------------------------------------------------------------
// Object

void object_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  if (Chip_Object** slot = slot_at(SELF, Object_offset_string)) *slot = nullptr;
}

void object_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  Chip_Object** slot = slot_at(SELF, Object_offset_string);
  if (slot && *slot) {
    Chip_Object* cached = *slot;
    *slot = nullptr;
    cached->release();
  }
}

void object_toString(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  Chip_Object** slot = slot_at(SELF, Object_offset_string);
  if (slot && *slot) {
    RETURN->v_object = *slot;
    return;
  }
  char address[2 * sizeof(void*) + 1];
  std::snprintf(address, sizeof address, "%lx",
                static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(SELF)));
  std::string text = SELF->type_ref ? SELF->type_ref->display_name() : "[VOID]";
  text += ":";
  text += address;
  Chip_String* string = new_string(SHRED, std::move(text));
  if (!string) std::fprintf(stderr, "[chip]: Object.toString() out of memory!\n");
  RETURN->v_object = string;
}

Chip_String* chip_object_to_string(Chip_Object* object, Chip_VM_Shred* shred) {
  Chip_DL_Return ret;
  object_toString(object, nullptr, &ret, shred);
  return static_cast<Chip_String*>(ret.v_object);
}

t_CPBOOL init_class_object(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"string", "toString", object_toString, {}},
  };
  if (!begin_class(env, type, "object", object_ctor, object_dtor)) return FALSE;
  const unsigned long offset = type_engine_import_mvar(env, "string", "@string", FALSE);
  if (offset == CHIP_IMPORT_BAD_OFFSET) return fail(env);
  Object_offset_string = static_cast<t_CPWORD>(offset);
  if (!import_members(env, members)) return fail(env);
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// string

void string_length(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPINT>(self_string(SELF)->str.size());
}

void string_upper(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = new_string(SHRED, toupper(self_string(SELF)->str));
}

void string_lower(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = new_string(SHRED, tolower(self_string(SELF)->str));
}

void string_ltrim(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = new_string(SHRED, ltrim(self_string(SELF)->str));
}

void string_rtrim(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = new_string(SHRED, rtrim(self_string(SELF)->str));
}

void string_trim(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = new_string(SHRED, trim(self_string(SELF)->str));
}

void string_toString(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = SELF;
}

t_CPBOOL init_class_string(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"int", "length", string_length, {}},        {"string", "upper", string_upper, {}},
      {"string", "lower", string_lower, {}},       {"string", "ltrim", string_ltrim, {}},
      {"string", "rtrim", string_rtrim, {}},       {"string", "trim", string_trim, {}},
      {"string", "toString", string_toString, {}},
  };
  if (!begin_class(env, type, "string")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// @array

void array_clear(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  self_array(SELF)->clear();
}

void array_reset(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  Chip_Array* array = self_array(SELF);
  array->clear();
  array->set_capacity(8);
}

void array_pop_back(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array* array = self_array(SELF);
  switch (array->data_type_size()) {
    case CHIP_ARRAY_KIND_WORD:
      RETURN->v_int = static_cast<Chip_Array4*>(array)->pop_back();
      break;
    case CHIP_ARRAY_KIND_FLOAT:
      RETURN->v_int = static_cast<Chip_Array8*>(array)->pop_back();
      break;
    case CHIP_ARRAY_KIND_COMPLEX:
      RETURN->v_int = static_cast<Chip_Array16*>(array)->pop_back();
      break;
    default:
      CHIP_CHECK(FALSE);
  }
}

void array_get_size(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPINT>(self_array(SELF)->size());
}

void array_set_size(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array* array = self_array(SELF);
  void* cursor = ARGS;
  const t_CPINT size = GET_NEXT_INT(cursor);
  if (size < 0) {
    std::fprintf(stderr, "[chip](via array): attempt to set negative array size!\n");
  } else {
    array->set_size(size);
  }
  RETURN->v_int = static_cast<t_CPINT>(array->size());
}

void array_get_capacity_hack(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  // The element count, not the slots allocated.
  RETURN->v_int = static_cast<t_CPINT>(self_array(SELF)->size());
}

void array_find(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  Chip_String* key = GET_NEXT_STRING(cursor);
  // No key is in the map under null.
  RETURN->v_int = key ? static_cast<t_CPINT>(self_array(SELF)->find(key->str)) : 0;
}

void array_erase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  Chip_String* key = GET_NEXT_STRING(cursor);
  RETURN->v_int = key ? static_cast<t_CPINT>(self_array(SELF)->erase(key->str)) : 0;
}

t_CPBOOL init_class_array(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"void", "clear", array_clear, {}},
      {"void", "reset", array_reset, {}},
      {"void", "popBack", array_pop_back, {}},
      {"int", "size", array_get_size, {}},
      {"int", "size", array_set_size, {"int", "newSize"}},
      {"int", "cap", array_get_capacity_hack, {}},
      {"int", "find", array_find, {"string", "key"}},
      {"int", "erase", array_erase, {"string", "key"}},
  };
  if (!begin_class(env, type, "array")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// IO

void io_dummy(Chip_Object*, void*, Chip_DL_Return*, Chip_VM_Shred* SHRED) {
  refuse_call(SHRED, "AbstractMethodException", "IO member function");
}

t_CPBOOL init_class_io(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"int", "more", io_dummy, {}},
      {"int", "eof", io_dummy, {}},
      {"int", "good", io_dummy, {}},
      {"int", "good2read", io_dummy, {}},
      {"int", "good2write", io_dummy, {}},
      {"void", "close", io_dummy, {}},
      {"int", "readInt", io_dummy, {}},
      {"float", "readFloat", io_dummy, {}},
      {"string", "readString", io_dummy, {}},
      {"string", "readLine", io_dummy, {}},
      {"void", "writeInt", io_dummy, {"int", "val"}},
      {"void", "writeFloat", io_dummy, {"float", "val"}},
      {"void", "writeString", io_dummy, {"string", "val"}},
      {"string", "writeLine", io_dummy, {"string", "line"}},
  };
  static const struct {
    const char* name;
    t_CPWORD* addr;
  } constants[] = {{"READ", &io_read},
                   {"WRITE", &io_write},
                   {"APPEND", &io_append},
                   {"TRUNCATE", &io_truncate},
                   {"BINARY", &io_binary}};
  if (!begin_class(env, type, "io")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  for (const auto& c : constants) {
    if (!type_engine_import_svar(env, "int", c.name, TRUE,
                                 static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(c.addr)))) {
      return fail(env);
    }
  }
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// Shred

void shred_clone(Chip_Object*, void*, Chip_DL_Return*, Chip_VM_Shred*) {}

void shred_exit(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred* SHRED) {
  Chip_VM_Shred* target = self_shred(SELF);
  if (target != SHRED && target->vm_ref && !target->is_dumped) {
    // Another shred ends now, not when it would next wake: it leaves the
    // scheduler (or the event it waits on, which keeps no place for it) and
    // its children end with it.
    target->vm_ref->free(target, TRUE, TRUE);
    return;
  }
  // The caller ends after the current instruction.
  target->is_done = TRUE;
  target->is_running = FALSE;
  if (target != SHRED) target->is_abort = TRUE;
}

void shred_id(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPINT>(self_shred(SELF)->id);
}

void shred_yield(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred* SHRED) {
  Chip_VM_Shred* target = self_shred(SELF);
  // Only the caller can give way: another shred is waiting already (in the
  // time list or on an event), and scheduling it again would list it twice.
  if (target != SHRED || !SHRED->vm_ref) return;
  SHRED->is_running = FALSE;
  SHRED->vm_ref->shreduler()->shredule(SHRED, SHRED->now);
}

void shred_running(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = self_shred(SELF)->is_running ? 1 : 0;
}

void shred_done(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = self_shred(SELF)->is_done ? 1 : 0;
}

void shred_numArgs(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPINT>(self_shred(SELF)->args.size());
}

void shred_getArg(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  const std::vector<std::string>& args = self_shred(SELF)->args;
  void* cursor = ARGS;
  const t_CPINT index = GET_NEXT_INT(cursor);
  const bool inside = index >= 0 && static_cast<size_t>(index) < args.size();
  RETURN->v_object = new_string(SHRED, inside ? args[static_cast<size_t>(index)] : std::string());
}

t_CPBOOL init_class_shred(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"void", "clone", shred_clone, {}},    {"void", "exit", shred_exit, {}},
      {"int", "id", shred_id, {}},           {"void", "yield", shred_yield, {}},
      {"int", "running", shred_running, {}}, {"int", "done", shred_done, {}},
      {"int", "args", shred_numArgs, {}},    {"string", "arg", shred_getArg, {"int", "index"}},
  };
  if (!begin_class(env, type, "shred")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// Event

void event_signal(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  static_cast<Chip_Event*>(SELF)->signal();
}

void event_broadcast(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  static_cast<Chip_Event*>(SELF)->broadcast();
}

void event_wait(Chip_Object*, void*, Chip_DL_Return*, Chip_VM_Shred* SHRED) {
  refuse_call(SHRED, "InvalidMethodException", "Event.wait: chip the event to now instead");
}

void event_can_wait(Chip_Object*, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = 1;
}

t_CPBOOL init_class_event(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"void", "signal", event_signal, {}},
      {"void", "broadcast", event_broadcast, {}},
      {"void", "wait", event_wait, {"Shred", "me"}},
      {"int", "can_wait", event_can_wait, {}},
  };
  if (!begin_class(env, type, "event")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  if (!type_engine_import_class_end(env)) return FALSE;

  Chip_Value* value = type_engine_find_value(type, "can_wait");
  CHIP_CHECK(value != NULL);
  CHIP_CHECK(value->func_ref != NULL);
  Chip_Event::our_can_wait = static_cast<t_CPWORD>(value->func_ref->vt_index);
  return TRUE;
}

// ---------------------------------------------------------------------------
// UGen

unsigned long __ugen_tick(Chip_Object*, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  *out = in;
  return TRUE;
}

unsigned long __ugen_tick_v(Chip_Object*, const SAMPLE* in, SAMPLE* out, unsigned long frames,
                            Chip_VM_Shred*) {
  if (out != in) std::memmove(out, in, frames * sizeof(SAMPLE));
  return frames;
}

void ugen_gain(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  const SAMPLE gain = static_cast<SAMPLE>(GET_NEXT_FLOAT(cursor));
  each_node(self_ugen(SELF), [gain](Chip_UGen* node) { node->gain = gain; });
  RETURN->v_float = self_ugen(SELF)->gain;
}

void ugen_cget_gain(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = self_ugen(SELF)->gain;
}

void ugen_last(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = self_ugen(SELF)->last;
}

void ugen_op(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  const t_CPINT op = GET_NEXT_INT(cursor);
  each_node(self_ugen(SELF), [op](Chip_UGen* node) { node->op = op; });
  RETURN->v_int = op;
}

void ugen_cget_op(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPINT>(self_ugen(SELF)->op);
}

void ugen_cget_numChannels(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const unsigned long channels = self_ugen(SELF)->multi_chan_size;
  RETURN->v_int = channels ? static_cast<t_CPINT>(channels) : 1;
}

void ugen_numChannels(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  EM_error3("setting .numChannels is not yet supported (use the command line)...");
  ugen_cget_numChannels(SELF, nullptr, RETURN, SHRED);
}

void ugen_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_UGen* ugen = self_ugen(SELF);
  void* cursor = ARGS;
  const t_CPINT num = GET_NEXT_INT(cursor);
  if (ugen->multi_chan_size == 0) {
    RETURN->v_object = num == 0 ? ugen : nullptr;
  } else if (num >= 0 && static_cast<unsigned long>(num) < ugen->multi_chan_size) {
    RETURN->v_object = ugen->multi_chan[num];
  } else {
    RETURN->v_object = nullptr;
  }
}

void ugen_connected(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  Chip_UGen* right = static_cast<Chip_UGen*>(GET_NEXT_OBJECT(cursor));
  RETURN->v_int = right && right->is_connected_from(self_ugen(SELF)) ? 1 : 0;
}

t_CPBOOL init_class_ugen(Chip_Env* env, Chip_Type* type) {
  static const Member members[] = {
      {"float", "gain", ugen_gain, {"float", "val"}},
      {"float", "gain", ugen_cget_gain, {}},
      {"float", "last", ugen_last, {}},
      {"int", "op", ugen_op, {"int", "val"}},
      {"int", "op", ugen_cget_op, {}},
      {"int", "channels", ugen_numChannels, {"int", "num"}},
      {"int", "channels", ugen_cget_numChannels, {}},
      {"UGen", "chan", ugen_chan, {"int", "num"}},
      {"int", "isConnectedTo", ugen_connected, {"UGen", "right"}},
  };
  // The description of a plain unit generator, held by the type (a fresh
  // one for each environment).
  Chip_UGen_Info* info = new Chip_UGen_Info();
  info->tick = __ugen_tick;
  info->tick_v = __ugen_tick_v;
  info->block = CHIP_BLOCK_EXACT;
  info->add_ref();
  if (type->ugen_info) type->ugen_info->release();
  type->ugen_info = info;

  if (!begin_class(env, type, "ugen")) return FALSE;
  if (!import_members(env, members)) return fail(env);
  return type_engine_import_class_end(env);
}
