#include "chip/vm/chip_instr.h"

#include <cxxabi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"

// The class name comes from the run-time type, demangled by the C++ ABI, so
// it is the name as written whatever the compiler's mangling; each name is
// worked out once and kept for the life of the process.
const char* Chip_Instr::name() const {
  static std::mutex mutex;
  static std::unordered_map<std::type_index, std::string> names;
  std::lock_guard<std::mutex> lock(mutex);
  const std::type_info& type = typeid(*this);
  auto found = names.find(type);
  if (found != names.end()) return found->second.c_str();
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string text = status == 0 && demangled ? demangled : mini_type(type.name());
  std::free(demangled);
  return names.emplace(type, std::move(text)).first->second.c_str();
}

// Operand texts are kept per thread, so a dump on one thread never sees
// another thread's text; each stays valid until the next call on its thread.
const char* chip_params_text(const char* fmt, ...) {
  thread_local char buffer[256];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

const char* Chip_Instr_Unary_Op::params() const {
  return chip_params_text("%ld", static_cast<long>(m_val));
}

const char* Chip_Instr_Unary_Op2::params() const {
  return chip_params_text("%.6f", m_val);
}

const char* Chip_Instr_Branch_Op::params() const {
  return chip_params_text("%ld", static_cast<long>(m_jmp));
}

// ---------------------------------------------------------------------------
// Object creation

namespace {

void report_out_of_memory(Chip_Type* type) {
  EM_printf("[chip](VM): OutOfMemory: while instantiating object '%s'\n",
            type->display_name().c_str());
}

// A new, uninitialised object of the run-time class that type calls for.
Chip_Object* make_object(Chip_Type* type, Chip_VM_Shred* shred) {
  if (type->ugen_info) {
    Chip_UGen* ugen = type->ugen_info->tock ? new (std::nothrow) Chip_UAna
                                            : new (std::nothrow) Chip_UGen;
    if (!ugen) return nullptr;
    Chip_VM* vm = shred ? shred->vm_ref : g_vm;
    unsigned long block = vm && vm->shreduler() ? vm->shreduler()->max_block_size : 0;
    if (!ugen->alloc_v(block)) {
      delete ugen;
      return nullptr;
    }
    if (shred) {
      ugen->shred = shred;
      shred->add(ugen);
    }
    return ugen;
  }
  // Strings first: the commonest object by far, made by every string
  // operation.
  if (type == &t_string) return new (std::nothrow) Chip_String;
  if (isa(type, &t_event)) return new (std::nothrow) Chip_Event;
  if (isa(type, &t_string)) return new (std::nothrow) Chip_String;
  if (isa(type, &t_shred)) return new (std::nothrow) Chip_VM_Shred;
  return new (std::nothrow) Chip_Object;
}

}  // namespace

Chip_Object* instantiate_and_initialize_object(Chip_Type* type, Chip_VM_Shred* shred) {
  CHIP_CHECK(type != NULL);
  CHIP_CHECK(type->info != NULL);

  Chip_Object* object = make_object(type, shred);
  if (!object) {
    report_out_of_memory(type);
    return nullptr;
  }
  if (!initialize_object(object, type)) {
    // Never referenced: the count is 0 and nothing else points at it.
    delete object;
    return nullptr;
  }
  return object;
}

t_CPBOOL initialize_object(Chip_Object* object, Chip_Type* type) {
  CHIP_CHECK(type != NULL);
  CHIP_CHECK(type->info != NULL);

  // The virtual table: the class's own, shared by all its objects (the
  // class is referenced below, so it outlives them).
  if (object->owns_vtable) delete object->vtable;
  // A built-in class whose functions were deferred enters them now: its
  // objects call them through the table.
  if (type->info->deferred) type_engine_complete_class(type);
  object->vtable = &type->info->obj_v_table;
  object->owns_vtable = FALSE;

  // The type, and the context that keeps the type's class alive.
  type->add_ref();
  if (type->keeper) type->keeper->add_ref();
  if (Chip_Type* old = object->type_ref) {
    Chip_VM_Object* keeper = old->keeper;
    old->release();
    if (keeper) keeper->release();
  }
  object->type_ref = type;

  // Member storage, zeroed: inside the object when it fits.
  if (object->data && object->data != object->inline_data) std::free(object->data);
  object->data = nullptr;
  object->size = type->obj_size;
  if (object->size && object->size <= Chip_Object::kInlineData) {
    std::memset(object->inline_data, 0, object->size);
    object->data = object->inline_data;
  } else if (object->size) {
    object->data = static_cast<unsigned char*>(std::calloc(object->size, 1));
    if (!object->data) {
      report_out_of_memory(type);
      object->size = 0;
      object->vtable = nullptr;
      return FALSE;
    }
  }

  // Unit generators: the class's behaviour and, for a multichannel class,
  // one plain channel node per channel.
  if (Chip_UGen_Info* info = type->ugen_info) {
    Chip_UGen* ugen = static_cast<Chip_UGen*>(object);
    if (info->tick) {
      ugen->tick = info->tick;
      ugen->tick_v = info->tick_v;
      ugen->block = info->block;
    }
    if (info->pmsg) ugen->pmsg = info->pmsg;
    if (info->tock && ugen->is_uana) static_cast<Chip_UAna*>(ugen)->tock = info->tock;
    ugen->alloc_multi_chan(info->num_ins, info->num_outs);
    // Channel nodes are plain UGens, which needs the UGen class described.
    if (ugen->multi_chan_size) CHIP_CHECK(t_ugen.ugen_info != NULL);
    for (unsigned long i = 0; i < ugen->multi_chan_size; i++) {
      Chip_Object* chan = instantiate_and_initialize_object(&t_ugen, ugen->shred);
      // Out of memory: reported by the instantiation; the node keeps the
      // channels it got.
      if (!chan) break;
      ugen->attach_chan(i, static_cast<Chip_UGen*>(chan));
    }
  }
  return TRUE;
}
