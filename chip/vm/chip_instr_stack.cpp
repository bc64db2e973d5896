#include "chip/vm/chip_instr_stack.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_ops.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"

// ===========================================================================
// Shared helpers

void chip_runtime_exception(Chip_VM_Shred* shred, c_constr fmt, ...) {
  // Formatted here, so the message reaches the log as one piece whatever
  // its arguments; a fixed buffer keeps the audio thread free of allocation.
  char text[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  EM_printf("%s", text);
  shred->is_running = FALSE;
  shred->is_done = TRUE;
}

namespace {

// The memory set aside for reporting a shortage (see the header): large
// enough for the report's formatting and queueing, and allocated apart from
// the small blocks (it is returned to the system when freed).
const size_t kReserveBytes = 1 << 20;
std::atomic<void*> g_reserve{nullptr};

}  // namespace

t_CPBOOL chip_memory_reserve() {
  if (g_reserve.load()) return TRUE;
  void* block = std::malloc(kReserveBytes);
  if (!block) return FALSE;
  void* none = nullptr;
  if (!g_reserve.compare_exchange_strong(none, block)) std::free(block);
  return TRUE;
}

void chip_out_of_memory(Chip_VM_Shred* shred) {
  std::free(g_reserve.exchange(nullptr));
  try {
    chip_runtime_exception(shred, "[chip](VM): OutOfMemory: in shred[id=%d:%s], PC=[%d]\n",
                           static_cast<int>(shred->id), shred->name.c_str(),
                           static_cast<int>(shred->pc));
  } catch (...) {
    // Not even the report could be made: a fixed text, unformatted.
    static const char kText[] = "[chip](VM): OutOfMemory\n";
    ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)written;
  }
  shred->is_running = FALSE;
  shred->is_done = TRUE;
}

namespace {

// The kind worked out from the type's family.
t_CPUWORD slot_kind_of(Chip_Type* type) {
  if (isa(type, &t_void)) return CHIP_SLOT_VOID;
  // Every object type (arrays and null included) is a reference: a word.
  if (isobj(type)) return CHIP_SLOT_WORD;
  if (isa(type, &t_complex) || isa(type, &t_polar)) return CHIP_SLOT_COMPLEX;
  if (isa(type, &t_float) || isa(type, &t_time) || isa(type, &t_dur)) return CHIP_SLOT_FLOAT;
  return CHIP_SLOT_WORD;
}

}  // namespace

t_CPUWORD chip_slot_kind(Chip_Type* type) {
  CHIP_CHECK(type != NULL);
  // Kept in the type: the family walk costs a dozen comparisons of types.
  if (type->slot_kind < 0) type->slot_kind = static_cast<t_CPWORD>(slot_kind_of(type));
  return static_cast<t_CPUWORD>(type->slot_kind);
}

t_CPUWORD chip_slot_width(t_CPUWORD kind) {
  switch (kind) {
    case CHIP_SLOT_VOID:
      return 0;
    case CHIP_SLOT_WORD:
      return sizeof(t_CPWORD);
    case CHIP_SLOT_FLOAT:
      return sizeof(t_CPFLOAT);
    case CHIP_SLOT_COMPLEX:
      return sizeof(t_CPCOMPLEX);
    default:
      CHIP_CHECK(FALSE);
  }
}

namespace {

// Pushes the value of the given kind read at p.
inline void push_value_at(Chip_Shred_Stack* reg, const void* p, t_CPUWORD kind) {
  switch (kind) {
    case CHIP_SLOT_VOID:
      break;
    case CHIP_SLOT_WORD:
      chip_push_word(reg, chip_load<t_CPWORD>(p));
      break;
    case CHIP_SLOT_FLOAT:
      chip_push_float(reg, chip_load<t_CPFLOAT>(p));
      break;
    case CHIP_SLOT_COMPLEX:
      chip_push_complex(reg, chip_load<t_CPCOMPLEX>(p));
      break;
    default:
      CHIP_CHECK(FALSE);
  }
}

// The address p, or the value of the given kind at p.
inline void push_addr_or_value(Chip_Shred_Stack* reg, unsigned char* p, t_CPUWORD kind,
                               t_CPUWORD emit_addr) {
  if (emit_addr) {
    chip_push_ptr(reg, p);
  } else {
    push_value_at(reg, p, kind);
  }
}

// Zeroes a value of type T at p and pushes p.
template <typename T>
inline void alloc_at(Chip_Shred_Stack* reg, unsigned char* p) {
  chip_store<T>(p, T{});
  chip_push_ptr(reg, p);
}

// `this` of the running member function or pre-constructor.
inline Chip_Object* this_of(Chip_VM_Shred* shred) {
  return chip_load<Chip_Object*>(shred->mem->sp);
}

// Pops the address and stores the value of type T on top there.
template <typename T>
inline void assign_top(Chip_Shred_Stack* reg) {
  chip_ops::assign_top<T>(reg->sp);
}

}  // namespace

// ===========================================================================
// Register-stack pushes and pops

void Chip_Instr_Reg_Push_Imm::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_word(shred->reg, static_cast<t_CPWORD>(m_val));
}

void Chip_Instr_Reg_Push_Imm2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_float(shred->reg, m_val);
}

void Chip_Instr_Reg_Dup_Last::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_word(shred->reg, chip_top_word(shred->reg));
}

void Chip_Instr_Reg_Push_Now::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_float(shred->reg, shred->now);
}

void Chip_Instr_Reg_Push_Me::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_ptr(shred->reg, static_cast<Chip_Object*>(shred));
}

void Chip_Instr_Reg_Push_This::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_word(shred->reg, chip_load<t_CPWORD>(shred->mem->sp));
}

void Chip_Instr_Reg_Push_Maybe::execute(Chip_VM*, Chip_VM_Shred* shred) {
  const float draw = static_cast<float>(std::rand()) * (1.0f / 2147483648.0f);
  chip_push_int(shred->reg, draw > 0.5f ? 1 : 0);
}

void Chip_Instr_Reg_Push_Deref::execute(Chip_VM*, Chip_VM_Shred* shred) {
  push_value_at(shred->reg, reinterpret_cast<const void*>(m_val), m_size);
}

const char* Chip_Instr_Reg_Push_Mem_Op::params() const {
  return chip_params_text("src=%ld, base=%ld", static_cast<long>(m_val),
                          static_cast<long>(m_val2));
}

unsigned char* Chip_Instr_Reg_Push_Mem_Op::address(Chip_VM_Shred* shred) const {
  return (m_val2 ? shred->base_ref->stack : shred->mem->sp) + m_val;
}

void Chip_Instr_Reg_Push_Mem::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_word(shred->reg, chip_load<t_CPWORD>(address(shred)));
}

void Chip_Instr_Reg_Push_Mem2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_float(shred->reg, chip_load<t_CPFLOAT>(address(shred)));
}

void Chip_Instr_Reg_Push_Mem4::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_complex(shred->reg, chip_load<t_CPCOMPLEX>(address(shred)));
}

void Chip_Instr_Reg_Push_Mem_Addr::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_ptr(shred->reg, address(shred));
}

void Chip_Instr_Reg_Pop_Word::execute(Chip_VM*, Chip_VM_Shred* shred) {
  shred->reg->sp -= sizeof(t_CPWORD);
}

void Chip_Instr_Reg_Pop_Word2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  shred->reg->sp -= sizeof(t_CPFLOAT);
}

void Chip_Instr_Reg_Pop_Word3::execute(Chip_VM*, Chip_VM_Shred* shred) {
  shred->reg->sp -= m_val * sizeof(t_CPWORD);
}

// ===========================================================================
// Memory stack

void Chip_Instr_Mem_Set_Imm::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_store<t_CPUWORD>(shred->mem->sp + m_offset, m_val);
}

const char* Chip_Instr_Mem_Set_Imm::params() const {
  return chip_params_text("offset=%ld, value=%ld", static_cast<long>(m_offset),
                          static_cast<long>(m_val));
}

void Chip_Instr_Mem_Push_Imm::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_push_word(shred->mem, static_cast<t_CPWORD>(m_val));
}

void Chip_Instr_Release_Local::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_release_slot(shred->mem->sp + m_val);
}

void Chip_Instr_Release_Temps::execute(Chip_VM*, Chip_VM_Shred* shred) {
  if (!shred->temps.empty()) chip_release_temps(shred);
}

void Chip_Instr_Alloc_Word::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPWORD>(shred->reg, shred->mem->sp + m_val);
}

void Chip_Instr_Alloc_Word2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPFLOAT>(shred->reg, shred->mem->sp + m_val);
}

void Chip_Instr_Alloc_Word4::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPCOMPLEX>(shred->reg, shred->mem->sp + m_val);
}

void Chip_Instr_Alloc_Member_Word::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPWORD>(shred->reg, this_of(shred)->data + m_val);
}

void Chip_Instr_Alloc_Member_Word2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPFLOAT>(shred->reg, this_of(shred)->data + m_val);
}

void Chip_Instr_Alloc_Member_Word4::execute(Chip_VM*, Chip_VM_Shred* shred) {
  alloc_at<t_CPCOMPLEX>(shred->reg, this_of(shred)->data + m_val);
}

// ===========================================================================
// Assignment

void Chip_Instr_Assign_Primitive::execute(Chip_VM*, Chip_VM_Shred* shred) {
  assign_top<t_CPWORD>(shred->reg);
}

void Chip_Instr_Assign_Primitive2::execute(Chip_VM*, Chip_VM_Shred* shred) {
  assign_top<t_CPFLOAT>(shred->reg);
}

void Chip_Instr_Assign_Primitive4::execute(Chip_VM*, Chip_VM_Shred* shred) {
  assign_top<t_CPCOMPLEX>(shred->reg);
}

void Chip_Instr_Assign_Object::execute(Chip_VM*, Chip_VM_Shred* shred) {
  void* addr = chip_pop_ptr<void>(shred->reg);
  Chip_Object* object = chip_top<Chip_Object*>(shred->reg);
  Chip_Object* old = chip_load<Chip_Object*>(addr);
  chip_store<Chip_Object*>(addr, object);
  // Add before release: the old and new object may be the same.
  if (object) object->add_ref();
  if (old) old->release();
}

// ===========================================================================
// Member and static access

void Chip_Instr_Dot_Member_Data::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = chip_pop_ptr<Chip_Object>(shred->reg);
  if (!object) {
    // The third field names the member's offset.
    chip_runtime_exception(shred,
                           "[chip](VM): NullPointerException: shred[id=%d:%s:(%d)], PC=[%d]\n",
                           static_cast<int>(shred->id), shred->name.c_str(),
                           static_cast<int>(m_offset), static_cast<int>(shred->pc));
    return;
  }
  push_addr_or_value(shred->reg, object->data + m_offset, m_size, m_emit_addr);
}

const char* Chip_Instr_Dot_Member_Data::params() const {
  return chip_params_text("offset=%ld, size=%ld, emit_addr=%ld",
                          static_cast<long>(m_offset), static_cast<long>(m_size),
                          static_cast<long>(m_emit_addr));
}

void Chip_Instr_Dot_Member_Func::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = chip_pop_ptr<Chip_Object>(shred->reg);
  if (!object) {
    chip_runtime_exception(shred, "[chip](VM): NullPointerException: shred[id=%d:%s], PC=[%d]\n",
                           static_cast<int>(shred->id), shred->name.c_str(),
                           static_cast<int>(shred->pc));
    return;
  }
  CHIP_CHECK(m_offset < object->vtable->funcs.size());
  chip_push_ptr(shred->reg, object->vtable->funcs[m_offset]);
}

const char* Chip_Instr_Dot_Member_Func::params() const {
  return chip_params_text("offset=%ld", static_cast<long>(m_offset));
}

void Chip_Instr_Dot_Static_Data::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Type* t_class = chip_pop_ptr<Chip_Type>(shred->reg);
  CHIP_CHECK((m_offset + chip_slot_width(m_size)) <= t_class->info->class_data_size);
  unsigned char* p = static_cast<unsigned char*>(t_class->info->class_data) + m_offset;
  push_addr_or_value(shred->reg, p, m_size, m_emit_addr);
}

const char* Chip_Instr_Dot_Static_Data::params() const {
  return chip_params_text("offset=%ld, size=%ld, emit_addr=%ld",
                          static_cast<long>(m_offset), static_cast<long>(m_size),
                          static_cast<long>(m_emit_addr));
}

void Chip_Instr_Dot_Static_Import_Data::execute(Chip_VM*, Chip_VM_Shred* shred) {
  push_addr_or_value(shred->reg, static_cast<unsigned char*>(m_addr), m_size, m_emit_addr);
}

const char* Chip_Instr_Dot_Static_Import_Data::params() const {
  return chip_params_text("addr=%ld, size=%ld, emit_addr=%ld",
                          reinterpret_cast<long>(m_addr), static_cast<long>(m_size),
                          static_cast<long>(m_emit_addr));
}

void Chip_Instr_Dot_Static_Func::execute(Chip_VM*, Chip_VM_Shred* shred) {
  chip_store<Chip_Func*>(shred->reg->sp - sizeof(t_CPWORD), m_func);
}

const char* Chip_Instr_Dot_Static_Func::params() const {
  return chip_params_text("func=%ld", reinterpret_cast<long>(m_func));
}

namespace {

// Part `index` (0 first, 1 second) of a complex or polar, per the operand
// flags of Dot_Cmp_First / Dot_Cmp_Second.
inline void dot_cmp(Chip_VM_Shred* shred, t_CPUWORD is_mem, t_CPUWORD emit_addr, int index) {
  Chip_Shred_Stack* reg = shred->reg;
  const t_CPUWORD offset = index * sizeof(t_CPFLOAT);
  if (is_mem) {
    unsigned char* addr = chip_pop_ptr<unsigned char>(reg);
    if (emit_addr) {
      chip_push_ptr(reg, addr + offset);
    } else {
      chip_push_float(reg, chip_load<t_CPFLOAT>(addr + offset));
    }
    return;
  }
  CHIP_CHECK(FALSE == emit_addr);
  const t_CPCOMPLEX value = chip_pop_complex(reg);
  chip_push_float(reg, index == 0 ? value.re : value.im);
}

const char* dot_cmp_params(t_CPUWORD is_mem, t_CPUWORD emit_addr) {
  return chip_params_text("is_mem=%ld, emit_addr=%ld", static_cast<long>(is_mem),
                          static_cast<long>(emit_addr));
}

}  // namespace

void Chip_Instr_Dot_Cmp_First::execute(Chip_VM*, Chip_VM_Shred* shred) {
  dot_cmp(shred, m_is_mem, m_emit_addr, 0);
}

const char* Chip_Instr_Dot_Cmp_First::params() const {
  return dot_cmp_params(m_is_mem, m_emit_addr);
}

void Chip_Instr_Dot_Cmp_Second::execute(Chip_VM*, Chip_VM_Shred* shred) {
  dot_cmp(shred, m_is_mem, m_emit_addr, 1);
}

const char* Chip_Instr_Dot_Cmp_Second::params() const {
  return dot_cmp_params(m_is_mem, m_emit_addr);
}

// ===========================================================================
// Audio nodes

void Chip_Instr_ADC::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  chip_push_ptr(shred->reg, static_cast<Chip_Object*>(vm->adc()));
}

void Chip_Instr_DAC::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  chip_push_ptr(shred->reg, static_cast<Chip_Object*>(vm->dac()));
}

void Chip_Instr_Bunghole::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  chip_push_ptr(shred->reg, static_cast<Chip_Object*>(vm->blackhole()));
}

// ===========================================================================
// Control

void Chip_Instr_EOC::execute(Chip_VM*, Chip_VM_Shred* shred) {
  shred->is_done = TRUE;
  shred->is_running = FALSE;
}

void Chip_Instr_Init_Loop_Counter::execute(Chip_VM*, Chip_VM_Shred* shred) {
  const t_CPINT n = chip_pop_int(shred->reg);
  // Negated in unsigned 32-bit arithmetic: INT_MIN stays INT_MIN, no overflow.
  const t_CPUINT magnitude = n < 0 ? 0u - static_cast<t_CPUINT>(n) : static_cast<t_CPUINT>(n);
  chip_store<t_CPWORD>(shred->mem->sp + m_val,
                       static_cast<t_CPWORD>(static_cast<t_CPINT>(magnitude)));
}

void Chip_Instr_IO_in_int::execute(Chip_VM*, Chip_VM_Shred*) {}
void Chip_Instr_IO_in_float::execute(Chip_VM*, Chip_VM_Shred*) {}
void Chip_Instr_IO_in_string::execute(Chip_VM*, Chip_VM_Shred*) {}
void Chip_Instr_IO_out_int::execute(Chip_VM*, Chip_VM_Shred*) {}
void Chip_Instr_IO_out_float::execute(Chip_VM*, Chip_VM_Shred*) {}
void Chip_Instr_IO_out_string::execute(Chip_VM*, Chip_VM_Shred*) {}
