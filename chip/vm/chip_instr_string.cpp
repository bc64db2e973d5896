#include "chip/vm/chip_instr_string.h"

#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_string.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_lang.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"

namespace {

// "NullPointerException: (<what>)" for the running shred, which then ends.
void null_pointer(Chip_VM_Shred* shred, const char* what) {
  chip_runtime_exception(shred,
                         "[chip](VM): NullPointerException: (%s) in shred[id=%d:%s], PC=[%d]\n",
                         what, static_cast<int>(shred->id), shred->name.c_str(),
                         static_cast<int>(shred->pc));
}

// Ends the shred without a message of its own (one was printed already).
inline void stop_shred(Chip_VM_Shred* shred) {
  shred->is_running = FALSE;
  shred->is_done = TRUE;
}

// Strings travel as pointer-wide words holding the object's pointer.
inline Chip_String* pop_string(Chip_VM_Shred* shred) {
  return static_cast<Chip_String*>(chip_pop<Chip_Object*>(shred->reg));
}

// The string held by the variable at addr.
inline Chip_String* string_in(Chip_Object** addr) {
  return static_cast<Chip_String*>(chip_load<Chip_Object*>(addr));
}

inline std::string int_text(t_CPWORD word) {
  return itoa(static_cast<long>(static_cast<t_CPINT>(word)));
}

inline std::string float_text(t_CPFLOAT value) { return ftoa(value, 4); }

// A new, unreferenced string object for the shred holding text. When it
// cannot be made (the instantiation printed why) the shred ends and the
// result is null.
Chip_String* new_string(Chip_VM_Shred* shred, std::string&& text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, shred);
  if (!object) {
    stop_shred(shred);
    return nullptr;
  }
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = std::move(text);
  chip_hold_temp(shred, string);
  return string;
}

// Whether string is the newest temporary of the shred's statement and held
// by nothing else (a string an operation or a call just made).
inline bool is_fresh_temp(Chip_VM_Shred* shred, Chip_String* string) {
  return string->m_ref_count == 1 && !shred->temps.empty() &&
         shred->temps.back().object == string;
}

// Pushes a new string of text (unless it could not be made).
inline void push_new_string(Chip_VM_Shred* shred, std::string&& text) {
  if (Chip_String* string = new_string(shred, std::move(text))) {
    chip_push<Chip_Object*>(shred->reg, string);
  }
}

// Bytes a value of the kind takes on the stack.
t_CPUWORD kind_size(Chip_Print_Kind kind) {
  switch (kind) {
    case CHIP_PRINT_VOID:
      return 0;
    case CHIP_PRINT_INT:
    case CHIP_PRINT_OBJECT:
    case CHIP_PRINT_STRING:
      return sizeof(t_CPWORD);
    case CHIP_PRINT_FLOAT:
      return sizeof(t_CPFLOAT);
    case CHIP_PRINT_COMPLEX:
    case CHIP_PRINT_POLAR:
    case CHIP_PRINT_WIDE:
      return sizeof(t_CPCOMPLEX);
  }
  return 0;
}

const double kPi = std::numbers::pi;

// One value with its type text, the value's bytes at where.
void print_one(Chip_Print_Kind kind, const char* type_text, const unsigned char* where) {
  switch (kind) {
    case CHIP_PRINT_VOID:
      EM_printf("... :(%s)\n", type_text);
      break;
    case CHIP_PRINT_INT:
      EM_printf("%d :(%s)\n", static_cast<t_CPINT>(chip_load<t_CPWORD>(where)), type_text);
      break;
    case CHIP_PRINT_OBJECT:
      // The whole pointer-wide word: a reference does not fit an int.
      EM_printf("%ld :(%s)\n", static_cast<long>(chip_load<t_CPWORD>(where)), type_text);
      break;
    case CHIP_PRINT_STRING:
      if (const Chip_String* s = static_cast<Chip_String*>(chip_load<Chip_Object*>(where))) {
        EM_printf("\"%s\" : (%s)\n", s->str.c_str(), type_text);
      } else {
        EM_printf("null : (%s)\n", type_text);
      }
      break;
    case CHIP_PRINT_FLOAT:
      EM_printf("%f :(%s)\n", chip_load<t_CPFLOAT>(where), type_text);
      break;
    case CHIP_PRINT_COMPLEX: {
      t_CPCOMPLEX c = chip_load<t_CPCOMPLEX>(where);
      EM_printf("#(%.4f,%.4f) :(%s)\n", c.re, c.im, type_text);
      break;
    }
    case CHIP_PRINT_POLAR: {
      t_CPPOLAR p = chip_load<t_CPPOLAR>(where);
      EM_printf("%%(%.4f,%.4f*pi) :(%s)\n", p.modulus, p.phase / kPi, type_text);
      break;
    }
    case CHIP_PRINT_WIDE:
      EM_printf("[chip]: internal error printing 16-byte primitive...\n");
      break;
  }
  std::fflush(stderr);
}

// One value of a list, followed by a space.
void print_item(Chip_Print_Kind kind, const unsigned char* where) {
  switch (kind) {
    case CHIP_PRINT_VOID:
      EM_printf("... ");
      break;
    case CHIP_PRINT_INT:
      EM_printf("%d ", static_cast<t_CPINT>(chip_load<t_CPWORD>(where)));
      break;
    case CHIP_PRINT_OBJECT:
      EM_printf("0x%lx ", static_cast<unsigned long>(chip_load<t_CPUWORD>(where)));
      break;
    case CHIP_PRINT_STRING:
      if (const Chip_String* s = static_cast<Chip_String*>(chip_load<Chip_Object*>(where))) {
        EM_printf("%s ", s->str.c_str());
      } else {
        EM_printf("null ");
      }
      break;
    case CHIP_PRINT_FLOAT:
      EM_printf("%f ", chip_load<t_CPFLOAT>(where));
      break;
    case CHIP_PRINT_COMPLEX: {
      t_CPCOMPLEX c = chip_load<t_CPCOMPLEX>(where);
      EM_printf("#(%.4f,%.4f) ", c.re, c.im);
      break;
    }
    case CHIP_PRINT_POLAR: {
      t_CPPOLAR p = chip_load<t_CPPOLAR>(where);
      EM_printf("%%(%.4f,%.4f*pi) ", p.modulus, p.phase / kPi);
      break;
    }
    case CHIP_PRINT_WIDE:
      break;  // not printable: skipped
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Strings

void Chip_Instr_Assign_String::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object** var = chip_pop<Chip_Object**>(shred->reg);
  Chip_String* right = pop_string(shred);
  Chip_String* left = string_in(var);

  if (!right) {
    if (left) {
      // The variable lets go of its object before the object may go.
      chip_store<Chip_Object*>(var, nullptr);
      left->release();
    }
  } else if (left != right) {
    if (left && left->m_ref_count == 1) {
      // The variable is the object's only holder: its text can change in
      // place without anyone else seeing it (and the object stays alive for
      // any copy of its pointer still on the register stack).
      left->str = right->str;
    } else if (is_fresh_temp(shred, right)) {
      // A string the statement just made, held by nothing but the
      // statement: no one else can ever see it, so the variable takes it
      // as its own instead of a copy (the statement lets go of it at its
      // end).
      right->add_ref();
      chip_store<Chip_Object*>(var, right);
      if (left) left->release();
    } else {
      // The variable gets a copy of its own: the object may have other
      // holders (a string literal held by its code, an argument its caller
      // still holds, the statement that made it), and must not change under
      // them.
      Chip_String* fresh = new_string(shred, std::string(right->str));
      if (!fresh) return;
      fresh->add_ref();
      chip_store<Chip_Object*>(var, fresh);
      if (left) left->release();
    }
  }
  chip_push<Chip_Object*>(shred->reg, chip_load<Chip_Object*>(var));
}

void Chip_Instr_Add_string::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* right = pop_string(shred);
  Chip_String* left = pop_string(shred);
  if (!left || !right) return null_pointer(shred, "string + string");
  push_new_string(shred, left->str + right->str);
}

void Chip_Instr_Add_string_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  t_CPWORD right = chip_pop<t_CPWORD>(shred->reg);
  Chip_String* left = pop_string(shred);
  if (!left) return null_pointer(shred, "string + int");
  push_new_string(shred, left->str + int_text(right));
}

void Chip_Instr_Add_string_float::execute(Chip_VM*, Chip_VM_Shred* shred) {
  t_CPFLOAT right = chip_pop<t_CPFLOAT>(shred->reg);
  Chip_String* left = pop_string(shred);
  if (!left) return null_pointer(shred, "string + float");
  push_new_string(shred, left->str + float_text(right));
}

void Chip_Instr_Add_int_string::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* right = pop_string(shred);
  t_CPWORD left = chip_pop<t_CPWORD>(shred->reg);
  if (!right) return null_pointer(shred, "int + string");
  push_new_string(shred, int_text(left) + right->str);
}

void Chip_Instr_Add_float_string::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* right = pop_string(shred);
  t_CPFLOAT left = chip_pop<t_CPFLOAT>(shred->reg);
  // The message names "int + string" for this class too.
  if (!right) return null_pointer(shred, "int + string");
  push_new_string(shred, float_text(left) + right->str);
}

// The string held in the variable at slot, made the variable's own first:
// an object with other holders (a literal its code holds, a string another
// variable or a caller holds) is replaced by a copy, so appending never
// changes text that others see. Null when the variable holds none, or the
// copy could not be made (the shred then stops).
Chip_String* own_string(Chip_VM_Shred* shred, Chip_Object** slot) {
  Chip_String* held = string_in(slot);
  if (!held || held->m_ref_count <= 1) return held;
  Chip_String* copy = new_string(shred, std::string(held->str));
  if (!copy) return nullptr;
  copy->add_ref();
  chip_store<Chip_Object*>(slot, copy);
  held->release();
  return copy;
}

void Chip_Instr_Add_string_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* var = own_string(shred, chip_pop<Chip_Object**>(shred->reg));
  Chip_String* value = pop_string(shred);
  // A null value is refused like a null variable.
  if (!var || !value) return null_pointer(shred, "string + string");
  var->str += value->str;
  chip_push<Chip_Object*>(shred->reg, var);
}

void Chip_Instr_Add_int_string_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* var = own_string(shred, chip_pop<Chip_Object**>(shred->reg));
  t_CPWORD value = chip_pop<t_CPWORD>(shred->reg);
  if (!var) return null_pointer(shred, "");
  var->str += int_text(value);
  chip_push<Chip_Object*>(shred->reg, var);
}

void Chip_Instr_Add_float_string_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* var = own_string(shred, chip_pop<Chip_Object**>(shred->reg));
  t_CPFLOAT value = chip_pop<t_CPFLOAT>(shred->reg);
  if (!var) return null_pointer(shred, "string + string");
  var->str += float_text(value);
  chip_push<Chip_Object*>(shred->reg, var);
}

void Chip_Instr_Op_string::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_String* right = pop_string(shred);
  Chip_String* left = pop_string(shred);
  if (!left || !right) return null_pointer(shred, "during string op");

  // Bytes compared unsigned; on a common prefix the shorter text is smaller.
  int order = left->str.compare(right->str);
  t_CPWORD result;
  switch (m_val) {
    case 4: result = order == 0; break;
    case 5: result = order != 0; break;
    case 6: result = order < 0; break;
    case 7: result = order <= 0; break;
    case 8: result = order > 0; break;
    case 9: result = order >= 0; break;
    default:
      chip_runtime_exception(
          shred, "[chip](VM): InvalidStringOpException: '%d' in shred[id=%d:%s], PC=[%d]\n",
          static_cast<int>(m_val), static_cast<int>(shred->id), shred->name.c_str(),
          static_cast<int>(shred->pc));
      return;
  }
  chip_push<t_CPWORD>(shred->reg, result);
}

void Chip_Instr_Cast_object2string::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Object* object = chip_pop<Chip_Object*>(shred->reg);
  if (!object) return null_pointer(shred, "object to string");
  Chip_String* text = chip_object_to_string(object, shred);
  if (!text) return stop_shred(shred);
  chip_hold_temp(shred, text);
  chip_push<Chip_Object*>(shred->reg, text);
}

// ---------------------------------------------------------------------------
// Unit-generator links

void Chip_Instr_UGen_Link::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_UGen* right = static_cast<Chip_UGen*>(chip_pop<Chip_Object*>(shred->reg));
  Chip_UGen* left = static_cast<Chip_UGen*>(chip_pop<Chip_Object*>(shred->reg));
  if (!left || !right) return null_pointer(shred, "UGen link");
  right->add(left, m_upchip ? 1 : 0);
  chip_push<Chip_Object*>(shred->reg, right);
}

void Chip_Instr_UGen_UnLink::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_UGen* right = static_cast<Chip_UGen*>(chip_pop<Chip_Object*>(shred->reg));
  Chip_UGen* left = static_cast<Chip_UGen*>(chip_pop<Chip_Object*>(shred->reg));
  if (!left || !right) return null_pointer(shred, "UGen unlink");
  right->remove(left);
  chip_push<Chip_Object*>(shred->reg, right);
}

// ---------------------------------------------------------------------------
// Printing

Chip_Print_Kind chip_print_kind(Chip_Type* type) {
  CHIP_CHECK(type != NULL);
  if (type->size == 0) return CHIP_PRINT_VOID;
  // null is "isa" every object type, string included: it prints as a
  // reference.
  if (type->array_depth == 0 && type->id != te_null) {
    if (isa(type, &t_float) || isa(type, &t_time) || isa(type, &t_dur)) return CHIP_PRINT_FLOAT;
    if (isa(type, &t_complex)) return CHIP_PRINT_COMPLEX;
    if (isa(type, &t_polar)) return CHIP_PRINT_POLAR;
    if (isa(type, &t_string)) return CHIP_PRINT_STRING;
    if (isa(type, &t_int)) return CHIP_PRINT_INT;
  }
  if (type->size == sizeof(t_CPWORD)) return CHIP_PRINT_OBJECT;
  if (type->size == sizeof(t_CPCOMPLEX)) return CHIP_PRINT_WIDE;
  // No other width reaches the print statement.
  CHIP_CHECK(FALSE);
  return CHIP_PRINT_VOID;
}

Chip_Instr_Hack::Chip_Instr_Hack(Chip_Type* type)
    : m_type_ref(type), m_kind(chip_print_kind(type)), m_type_text(type->display_name()) {}

void Chip_Instr_Hack::execute(Chip_VM*, Chip_VM_Shred* shred) {
  print_one(m_kind, m_type_text.c_str(), shred->reg->sp - kind_size(m_kind));
}

const char* Chip_Instr_Hack::params() const {
  return chip_params_text("(%s)", m_type_text.c_str());
}

Chip_Instr_Gack::Chip_Instr_Gack(const std::vector<Chip_Type*>& types)
    : m_type_refs(types), m_total_size(0) {
  m_kinds.reserve(types.size());
  for (Chip_Type* type : types) {
    m_kinds.push_back(chip_print_kind(type));
    m_total_size += kind_size(m_kinds.back());
  }
  if (types.size() == 1) m_single_text = types[0]->display_name();
}

void Chip_Instr_Gack::execute(Chip_VM*, Chip_VM_Shred* shred) {
  if (m_kinds.size() == 1) {
    print_one(m_kinds[0], m_single_text.c_str(), shred->reg->sp - kind_size(m_kinds[0]));
    return;
  }
  const unsigned char* where = shred->reg->sp - m_total_size;
  for (Chip_Print_Kind kind : m_kinds) {
    print_item(kind, where);
    where += kind_size(kind);
  }
  EM_printf("\n");
  std::fflush(stderr);
}
