#include "chip/vm/chip_instr_object.h"

#include <cstdio>
#include <new>
#include <string>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"

namespace {

// Bytes of one stack word.
enum { WORD = sizeof(t_CPWORD) };

// Ends the shred whose failure was reported already (by the instantiation).
inline void end_shred(Chip_VM_Shred* shred) {
  shred->is_running = FALSE;
  shred->is_done = TRUE;
}

// The type's text for dumps: its name with "[]" per dimension.
std::string type_text(Chip_Type* type) { return type ? type->display_name() : "[empty]"; }

// ---------------------------------------------------------------------------
// Messages

// The null-array message of indexed access (the shred goes on to the
// dimension line of multi-dimensional access, which ends it).
void print_null_array_access(Chip_VM_Shred* shred) {
  EM_printf("[chip](VM): NullPointerException: (array access) in shred[id=%d:%s], PC=[%d]\n",
            static_cast<int>(shred->id), shred->name.c_str(), static_cast<int>(shred->pc));
}

void array_out_of_bounds(Chip_VM_Shred* shred, t_CPWORD index) {
  chip_runtime_exception(shred,
                         "[chip](VM): ArrayOutofBounds: in shred[id=%d:%s], PC=[%d], index=[%d]\n",
                         static_cast<int>(shred->id), shred->name.c_str(),
                         static_cast<int>(shred->pc), static_cast<int>(index));
}

// ---------------------------------------------------------------------------
// Element access, shared by the indexed and the multi-dimensional access.

// Pushes the element of array at key (an index into the indexed part, or a
// text key into the map part): its address when emit_addr is set, else its
// value. FALSE when an index is outside the indexed part. By key, reading
// never inserts and addressing inserts a missing key as zero.
template <typename Array, typename Key>
inline t_CPBOOL push_slot(Chip_Shred_Stack* reg, Array* array, const Key& key,
                          t_CPUWORD emit_addr) {
  if (emit_addr) {
    auto* slot = array->addr(key);
    if (!slot) return FALSE;
    chip_push_ptr(reg, slot);
  } else {
    typename decltype(array->m_vector)::value_type value;
    if (!array->get(key, &value)) return FALSE;
    chip_push(reg, value);
  }
  return TRUE;
}

// The same for an array of the given kind tag.
template <typename Key>
t_CPBOOL push_slot(Chip_Shred_Stack* reg, Chip_Object* array, t_CPUWORD kind, const Key& key,
                   t_CPUWORD emit_addr) {
  switch (kind) {
    case CHIP_ARRAY_KIND_WORD:
      return push_slot(reg, static_cast<Chip_Array4*>(array), key, emit_addr);
    case CHIP_ARRAY_KIND_FLOAT:
      return push_slot(reg, static_cast<Chip_Array8*>(array), key, emit_addr);
    case CHIP_ARRAY_KIND_COMPLEX:
      return push_slot(reg, static_cast<Chip_Array16*>(array), key, emit_addr);
  }
  CHIP_CHECK(FALSE);
  return FALSE;
}

// The access of one index, shared by the indexed and the multi-dimensional
// access; an index out of range ends the shred with ArrayOutofBounds.
void access_element(Chip_VM_Shred* shred, Chip_Object* array, t_CPWORD i, t_CPUWORD kind,
                    t_CPUWORD emit_addr) {
  if (!push_slot(shred->reg, array, kind, i, emit_addr)) array_out_of_bounds(shred, i);
}

// ---------------------------------------------------------------------------
// Array allocation

// A new, empty array object of the kind with `size` zero elements,
// initialised as an object of type `array`; null when memory runs out.
Chip_Array* new_array(t_CPWORD kind, t_CPBOOL is_obj, t_CPWORD size) {
  Chip_Array* array = nullptr;
  try {
    switch (kind) {
      case CHIP_ARRAY_KIND_WORD:
        array = new Chip_Array4(is_obj, size);
        break;
      case CHIP_ARRAY_KIND_FLOAT:
        array = new Chip_Array8(size);
        break;
      case CHIP_ARRAY_KIND_COMPLEX:
        array = new Chip_Array16(size);
        break;
      default:
        CHIP_CHECK(FALSE);
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // An array without its table or type could not answer its members: one
  // that cannot be initialised is one that could not be made.
  if (!initialize_object(array, &t_array)) {
    delete array;
    return nullptr;
  }
  return array;
}

// Builds the dimension whose size is the stack word at dim (the sizes end
// with the word at last, the innermost): an object array of sub-arrays for
// an outer dimension, an array of the element kind for the innermost. When
// table is given, the address of every innermost object slot is appended to
// it at *fill. Null after printing the reason.
Chip_Array* do_alloc_array(const unsigned char* dim, const unsigned char* last, t_CPWORD kind,
                           t_CPBOOL is_obj, t_CPUWORD** table, t_CPWORD* fill) {
  const t_CPWORD size = chip_load<t_CPWORD>(dim);
  if (size < 0) {
    EM_printf("[chip](VM): NegativeArraySize: while allocating arrays...\n");
    return nullptr;
  }
  if (dim < last) {
    Chip_Array4* outer = static_cast<Chip_Array4*>(new_array(CHIP_ARRAY_KIND_WORD, TRUE, size));
    if (!outer) {
      EM_printf("[chip](VM): OutOfMemory: while allocating arrays...\n");
      return nullptr;
    }
    for (t_CPWORD i = 0; i < size; i++) {
      Chip_Array* inner = do_alloc_array(dim + WORD, last, kind, is_obj, table, fill);
      if (!inner) {
        // Releases the sub-arrays made so far.
        delete outer;
        return nullptr;
      }
      outer->set(i, reinterpret_cast<t_CPUWORD>(inner));
    }
    return outer;
  }
  Chip_Array* array = new_array(kind, is_obj, size);
  if (!array) {
    EM_printf("[chip](VM): OutOfMemory: while allocating arrays...\n");
    return nullptr;
  }
  if (kind == CHIP_ARRAY_KIND_WORD && is_obj && table) {
    Chip_Array4* words = static_cast<Chip_Array4*>(array);
    for (t_CPWORD i = 0; i < size; i++) table[(*fill)++] = words->addr(i);
  }
  return array;
}

}  // namespace

// ---------------------------------------------------------------------------
// Chip_Instr_Instantiate_Object

void Chip_Instr_Instantiate_Object::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = instantiate_and_initialize_object(m_type_ref, shred);
  if (!object) {
    end_shred(shred);
    return;
  }
  chip_hold_temp(shred, object);
  chip_push_ptr(shred->reg, object);
}

const char* Chip_Instr_Instantiate_Object::params() const {
  return chip_params_text("%s", type_text(m_type_ref).c_str());
}

// ---------------------------------------------------------------------------
// The pre-constructor loop. Register stack during the loop, from the top:
// count, index, table, array (and between Top and Bottom the object under
// construction above them).

void Chip_Instr_Pre_Ctor_Array_Top::execute(Chip_VM*, Chip_VM_Shred* shred) {
  const unsigned char* sp = shred->reg->sp;
  t_CPUWORD index = chip_load<t_CPUWORD>(sp - 2 * WORD);
  t_CPUWORD count = chip_load<t_CPUWORD>(sp - WORD);
  if (index >= count) {
    shred->next_pc = static_cast<t_CPUINT>(m_val);
    return;
  }
  Chip_Object* object = instantiate_and_initialize_object(m_type_ref, shred);
  if (!object) {
    end_shred(shred);
    return;
  }
  // Held by the statement while its class body runs: a shred that ends
  // there frees it.
  chip_hold_temp(shred, object);
  chip_push_ptr(shred->reg, object);
}

const char* Chip_Instr_Pre_Ctor_Array_Top::params() const {
  return chip_params_text("val=%ld, type=\"%s\"", static_cast<long>(m_val),
                          type_text(m_type_ref).c_str());
}

void Chip_Instr_Pre_Ctor_Array_Bottom::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = chip_pop_ptr<Chip_Object>(shred->reg);
  unsigned char* sp = shred->reg->sp;
  t_CPUWORD** table = chip_load<t_CPUWORD**>(sp - 3 * WORD);
  t_CPUWORD index = chip_load<t_CPUWORD>(sp - 2 * WORD);
  // The slot of a fresh array is empty: the object's one reference is the
  // slot's.
  *table[index] = reinterpret_cast<t_CPUWORD>(object);
  if (object) object->add_ref();
  chip_store<t_CPUWORD>(sp - 2 * WORD, index + 1);
  shred->next_pc = static_cast<t_CPUINT>(m_val);
}

void Chip_Instr_Pre_Ctor_Array_Post::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_pop_word(shred->reg);  // count
  chip_pop_word(shred->reg);  // index
  // The table itself belongs to its statement (see Chip_Slot_Table).
  chip_pop_ptr<t_CPUWORD*>(shred->reg);
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Alloc

namespace {

// The table of element slots of an object array being filled by its
// pre-constructor loop, held as a temporary of its statement: freed when
// the statement ends, or with the shred if it ends halfway through.
struct Chip_Slot_Table : Chip_VM_Object {
  std::vector<t_CPUWORD*> slots;
};

}  // namespace

Chip_Instr_Array_Alloc::Chip_Instr_Array_Alloc(t_CPUINT depth, Chip_Type* type,
                                               t_CPUINT stack_offset, t_CPBOOL is_ref)
    : m_depth(depth),
      m_type_ref(type),
      m_is_obj(isobj(type)),
      m_stack_offset(stack_offset),
      m_is_ref(is_ref),
      m_kind(chip_array_kind(type)) {
  CHIP_CHECK(depth > 0);
  m_param_str = type_text(type);
  if (m_param_str.size() >= 64) m_param_str = m_param_str.substr(0, 60) + "...";
}

void Chip_Instr_Array_Alloc::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  // The sizes, outermost first (popped; read in place).
  reg->sp -= m_depth * WORD;
  const unsigned char* sizes = reg->sp;
  const t_CPBOOL instantiate = m_is_obj && !m_is_ref;
  t_CPUWORD** table = nullptr;
  Chip_Slot_Table* holder = nullptr;
  t_CPWORD num_obj = 1;
  t_CPWORD fill = 0;
  double product = 1.0;
  Chip_Array* array = nullptr;

  // Every size is checked before anything is counted or allocated, so a
  // negative size never sizes the slot table. The element count is bounded
  // for arrays of every kind: past 2^31 - 1 elements a request can only fail
  // or exhaust the machine.
  for (t_CPUINT i = 0; i < m_depth; i++) {
    if (chip_load<t_CPWORD>(sizes + i * WORD) < 0) {
      EM_printf("[chip](VM): NegativeArraySize: while allocating arrays...\n");
      goto failure;
    }
  }
  for (t_CPUINT i = 0; i < m_depth; i++) {
    t_CPWORD size = chip_load<t_CPWORD>(sizes + i * WORD);
    num_obj *= size;
    product *= static_cast<double>(size);
    if (product > 2147483647.0) {
      EM_printf("[chip](VM): OverFlow: requested array size too big...\n");
      goto failure;
    }
  }
  if (!instantiate) num_obj = 0;
  if (num_obj) {
    holder = new (std::nothrow) Chip_Slot_Table;
    if (holder) {
      try {
        holder->slots.resize(static_cast<size_t>(num_obj));
        table = holder->slots.data();
      } catch (const std::bad_alloc&) {
        table = nullptr;
      }
    }
    if (!table) {
      EM_printf("[chip](VM): OutOfMemory: while allocating arrays...\n");
      goto failure;
    }
  }

  array = do_alloc_array(sizes, sizes + (m_depth - 1) * WORD, m_kind, m_is_obj, table, &fill);
  if (!array) goto failure;
  CHIP_CHECK(fill == num_obj);

  chip_hold_temp(shred, array);
  if (holder) chip_hold_temp(shred, holder);
  chip_push_ptr(reg, array);
  if (instantiate) {
    chip_push_ptr(reg, table);
    chip_push_word(reg, 0);
    chip_push_word(reg, num_obj);
  }
  return;

failure:
  delete holder;
  chip_runtime_exception(shred, "[chip](VM):     (note: in shred[id=%d:%s])\n",
                         static_cast<int>(shred->id), shred->name.c_str());
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Init

Chip_Instr_Array_Init::Chip_Instr_Array_Init(Chip_Type* type, t_CPUINT length)
    : m_type_ref(type), m_length(length), m_is_obj(isobj(type)), m_kind(chip_array_kind(type)) {
  std::string text = type_text(type);
  if (text.size() >= 45) text = text.substr(0, 45) + "...";
  m_param_str = text + "[" + std::to_string(length) + "]";
}

namespace {

// Stores the count values at `values` (consecutive stack slots) into array
// at 0, 1, ...; an object array references each.
template <typename Array>
void fill_array(Array* array, const unsigned char* values, t_CPUINT count) {
  typedef typename decltype(array->m_vector)::value_type Elem;
  for (t_CPUINT i = 0; i < count; i++) array->set(i, chip_load<Elem>(values + i * sizeof(Elem)));
}

}  // namespace

void Chip_Instr_Array_Init::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  reg->sp -= m_length * chip_slot_width(m_kind);
  Chip_Array* array = new_array(m_kind, m_is_obj, m_length);
  if (!array) {
    chip_runtime_exception(shred, "[chip](VM): OutOfMemory: while initializing arrays\n");
    return;
  }
  switch (m_kind) {
    case CHIP_ARRAY_KIND_WORD:
      fill_array(static_cast<Chip_Array4*>(array), reg->sp, m_length);
      break;
    case CHIP_ARRAY_KIND_FLOAT:
      fill_array(static_cast<Chip_Array8*>(array), reg->sp, m_length);
      break;
    default:
      fill_array(static_cast<Chip_Array16*>(array), reg->sp, m_length);
      break;
  }
  chip_hold_temp(shred, array);
  chip_push_ptr(reg, array);
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Access

void Chip_Instr_Array_Access::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  t_CPWORD index = chip_pop_word(reg);
  Chip_Object* array = chip_pop_ptr<Chip_Object>(reg);
  if (!array) {
    print_null_array_access(shred);
    end_shred(shred);
    return;
  }
  access_element(shred, array, index, m_kind, m_emit_addr);
}

const char* Chip_Instr_Array_Access::params() const {
  return chip_params_text("size=%ld, emit_addr=%ld istr=%ld",
                          static_cast<long>(m_kind), static_cast<long>(m_emit_addr),
                          static_cast<long>(m_istr));
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Map_Access

void Chip_Instr_Array_Map_Access::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  Chip_String* key = chip_pop_ptr<Chip_String>(reg);
  Chip_Object* array = chip_pop_ptr<Chip_Object>(reg);
  // A null key has no text to look up: reported as a null array is.
  if (!array || !key) {
    chip_runtime_exception(
        shred, "[chip](VM): NullPointerException: (map access) in shred[id=%d:%s], PC=[%d]\n",
        static_cast<int>(shred->id), shred->name.c_str(), static_cast<int>(shred->pc));
    return;
  }
  t_CPBOOL found = FALSE;
  try {
    found = push_slot(reg, array, m_kind, key->str, m_emit_addr);
  } catch (const std::bad_alloc&) {
    // The new entry could not be made.
    found = FALSE;
  }
  if (!found) {
    chip_runtime_exception(
        shred, "[chip](VM): InternalArrayMap error: in shred[id=%d:%s], PC=[%d], index=[%s]\n",
        static_cast<int>(shred->id), shred->name.c_str(), static_cast<int>(shred->pc),
        key->str.c_str());
  }
}

const char* Chip_Instr_Array_Map_Access::params() const {
  return chip_params_text("size=%ld, emit_addr=%ld", static_cast<long>(m_kind),
                          static_cast<long>(m_emit_addr));
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Access_Multi

Chip_Instr_Array_Access_Multi::Chip_Instr_Array_Access_Multi(t_CPUINT depth, t_CPUINT kind,
                                                             t_CPUINT emit_addr)
    : m_depth(depth), m_kind(kind), m_emit_addr(emit_addr) {
  CHIP_CHECK(m_depth > 1);
}

void Chip_Instr_Array_Access_Multi::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  reg->sp -= (m_depth + 1) * WORD;
  const unsigned char* sp = reg->sp;
  Chip_Object* array = chip_load<Chip_Object*>(sp);
  // Every level but the last is an array of sub-arrays.
  t_CPUINT dim = 0;
  for (;;) {
    if (!array) {
      print_null_array_access(shred);
      chip_runtime_exception(shred, "[chip](VM): (array dimension where exception occurred: %d)\n",
                             static_cast<int>(dim));
      return;
    }
    t_CPWORD index = chip_load<t_CPWORD>(sp + (dim + 1) * WORD);
    if (dim == m_depth - 1) {
      access_element(shred, array, index, m_kind, m_emit_addr);
      return;
    }
    t_CPUWORD sub = 0;
    if (!static_cast<Chip_Array4*>(array)->get(index, &sub)) {
      array_out_of_bounds(shred, index);
      return;
    }
    array = reinterpret_cast<Chip_Object*>(sub);
    dim++;
  }
}

const char* Chip_Instr_Array_Access_Multi::params() const {
  return chip_params_text("depth=%ld, size=%ld, emit_addr=%ld",
                          static_cast<long>(m_depth), static_cast<long>(m_kind),
                          static_cast<long>(m_emit_addr));
}

// ---------------------------------------------------------------------------
// Chip_Instr_Array_Append

void Chip_Instr_Array_Append::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  reg->sp -= WORD + chip_slot_width(m_val);
  Chip_Object* array = chip_load<Chip_Object*>(reg->sp);
  const unsigned char* value = reg->sp + WORD;
  if (!array) {
    chip_runtime_exception(
        shred, "[chip](VM): NullPointerException: (array append) in shred[id=%d:%s], PC=[%d]\n",
        static_cast<int>(shred->id), shred->name.c_str(), static_cast<int>(shred->pc));
    return;
  }
  switch (m_val) {
    case CHIP_ARRAY_KIND_WORD: {
      Chip_Array4* words = static_cast<Chip_Array4*>(array);
      t_CPUWORD word = chip_load<t_CPUWORD>(value);
      words->push_back(word);
      // push_back takes no reference: an object stored here is held by the
      // array, as set holds it, and pop_back, erase, zero and set release it.
      if (words->m_is_obj && word) reinterpret_cast<Chip_VM_Object*>(word)->add_ref();
      break;
    }
    case CHIP_ARRAY_KIND_FLOAT:
      static_cast<Chip_Array8*>(array)->push_back(chip_load<t_CPFLOAT>(value));
      break;
    case CHIP_ARRAY_KIND_COMPLEX:
      static_cast<Chip_Array16*>(array)->push_back(chip_load<t_CPCOMPLEX>(value));
      break;
    default:
      CHIP_CHECK(FALSE);
  }
  chip_push_ptr(reg, array);
}

// ---------------------------------------------------------------------------
// Chip_Instr_Cast_Down

t_CPBOOL chip_object_isa(Chip_Object* object, Chip_Type* type) {
  if (!object || !type || !object->type_ref) return FALSE;
  return isa(object->type_ref, type);
}

void Chip_Instr_Cast_Down::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = chip_top<Chip_Object*>(shred->reg);
  if (!object || chip_object_isa(object, m_type_ref)) return;
  chip_runtime_exception(
      shred, "[chip](VM): ClassCastException: (%s to %s) in shred[id=%d:%s], PC=[%d]\n",
      object->type_ref ? type_text(object->type_ref).c_str() : "[unknown]",
      type_text(m_type_ref).c_str(), static_cast<int>(shred->id), shred->name.c_str(),
      static_cast<int>(shred->pc));
}

const char* Chip_Instr_Cast_Down::params() const {
  return chip_params_text("%s", type_text(m_type_ref).c_str());
}
