// Object and array instructions.
//
// These instructions bring the language's objects and arrays into being and
// reach into arrays: instantiating an object for a declaration or `new`,
// running the pre-constructor once per element of a fresh object array,
// allocating (possibly nested) arrays for sized declarations, building an
// array from a literal, reading or addressing an element by index, by key or
// through several dimensions at once, and appending with `<<`.
//
// Element kinds. Every array instruction that moves elements carries the
// kind tag of the array class it works on (CHIP_ARRAY_KIND_WORD 4,
// CHIP_ARRAY_KIND_FLOAT 8, CHIP_ARRAY_KIND_COMPLEX 16 of chip_oo.h), never a
// byte size: an int word and a float are both 8 bytes wide, so only the kind
// tells a Chip_Array4 from a Chip_Array8. The emitter computes the tag with
// chip_array_kind(element type); the classes that are given a type compute it
// themselves. On the register stack a kind-4 value is one word (an int
// sign-extended, or a reference), a kind-8 value one double and a kind-16
// value two doubles.
//
// References. A new object or array is pushed with a count of 0: whoever
// stores it takes the reference. Arrays that hold objects (and arrays of
// arrays) count their elements: allocation, literals, the pre-constructor
// loop and `<<` all leave each stored object with one reference held by its
// slot. Element addresses pushed for assignment hold none (the assignment
// instruction releases the old element and references the new one).
//
// Casts down the class tree are checked here too (Chip_Instr_Cast_Down).
//
// Run-time errors print their message, end the shred (is_running cleared,
// is_done set) and leave the rest of the machine running.
#ifndef CHIP_CHIP_INSTR_OBJECT_H
#define CHIP_CHIP_INSTR_OBJECT_H

#include <string>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_instr.h"

struct Chip_Type;

// Instantiates m_type_ref for the shred and pushes the object (count 0).
// Nothing is pushed and the shred ends when the object cannot be made (the
// instantiation printed why).
class Chip_Instr_Instantiate_Object : public Chip_Instr {
 public:
  explicit Chip_Instr_Instantiate_Object(Chip_Type* type) : m_type_ref(type) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
  // The type's text: its name with "[]" per array dimension.
  const char* params() const override;

 protected:
  Chip_Type* m_type_ref;  // not referenced: the type outlives the code
};

// The pre-constructor loop over a fresh object array. Chip_Instr_Array_Alloc
// leaves on the register stack: the array, the element-slot table, the loop
// index (0) and the count, count on top. The emitter lays the loop out as
//   Top(post)  <pre-constructors of the element type>  Bottom(top)  Post
// Top: while index < count, instantiate the element type and push it (a
// failed instantiation ends the shred), else jump to m_val (the Post).
class Chip_Instr_Pre_Ctor_Array_Top : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Pre_Ctor_Array_Top(Chip_Type* type, t_CPUWORD post = 0)
      : Chip_Instr_Unary_Op(post), m_type_ref(type) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "val=<m_val>, type=\"<type text>\"", the type text "[empty]" without a
  // type.
  const char* params() const override;

 protected:
  Chip_Type* m_type_ref;
};

// Pops the constructed object, stores it into its element slot (table[index])
// with a reference, advances the index and jumps to m_val (the Top).
class Chip_Instr_Pre_Ctor_Array_Bottom : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Pre_Ctor_Array_Bottom(t_CPUWORD top = 0) : Chip_Instr_Unary_Op(top) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pops count, index and table and frees the table; the array stays on top.
class Chip_Instr_Pre_Ctor_Array_Post : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Allocates an array of m_depth dimensions whose sizes are on the register
// stack (outermost first), replaces them by the array and, for an object
// array that is not a reference declaration, pushes the pre-constructor
// loop's table, index 0 and count after it. Every dimension but the
// innermost is an object array of sub-arrays; the innermost holds elements
// of the element type's kind. Failures print NegativeArraySize, OverFlow or
// OutOfMemory, then the note naming the shred, and end the shred.
class Chip_Instr_Array_Alloc : public Chip_Instr {
 public:
  // depth: number of dimensions (sizes on the stack); type: the element type
  // (the innermost, non-array one); stack_offset: the frame's next offset
  // (recorded, not used at run time); is_ref: a reference declaration (no
  // element is instantiated, no loop operands are pushed).
  Chip_Instr_Array_Alloc(t_CPUINT depth, Chip_Type* type, t_CPUINT stack_offset, t_CPBOOL is_ref);
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
  // The element type's text, cut to 60 characters and "..." when 64 or
  // longer.
  const char* params() const override { return m_param_str.c_str(); }

 protected:
  t_CPUINT m_depth;
  Chip_Type* m_type_ref;
  t_CPBOOL m_is_obj;  // the elements are object references
  std::string m_param_str;
  t_CPUINT m_stack_offset;
  t_CPBOOL m_is_ref;
  t_CPWORD m_kind;  // kind tag of the innermost arrays (chip_array_kind)
};

// Pops m_length values of the element type (first element deepest) and
// pushes a new array of exactly those elements, in order; an object array
// references each. OutOfMemory ends the shred.
class Chip_Instr_Array_Init : public Chip_Instr {
 public:
  Chip_Instr_Array_Init(Chip_Type* type, t_CPUINT length);
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
  // The type's text (cut to 45 characters and "..." when 45 or longer)
  // followed by "[<length>]".
  const char* params() const override { return m_param_str.c_str(); }

 protected:
  Chip_Type* m_type_ref;
  t_CPUINT m_length;
  t_CPBOOL m_is_obj;
  std::string m_param_str;
  t_CPWORD m_kind;  // chip_array_kind(m_type_ref)
};

// Pops an array and an int index; pushes the element (its value, or its
// address when m_emit_addr is set). Null array: NullPointerException (array
// access); index outside 0..size-1: ArrayOutofBounds.
class Chip_Instr_Array_Access : public Chip_Instr {
 public:
  // kind: the array's kind tag (4, 8 or 16).
  Chip_Instr_Array_Access(t_CPUINT kind, t_CPUINT emit_addr, t_CPUINT istr = 0)
      : m_kind(kind), m_emit_addr(emit_addr), m_istr(istr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "size=<kind>, emit_addr=<flag> istr=<istr>".
  const char* params() const override;

 protected:
  t_CPUINT m_kind;
  t_CPUINT m_emit_addr;
  t_CPUINT m_istr;  // always 0
};

// Pops an array and a key string; pushes the entry of the array's map part
// (its value, zero for a missing key; or its address, which inserts a
// missing key). Null array or null key: NullPointerException (map access).
class Chip_Instr_Array_Map_Access : public Chip_Instr {
 public:
  Chip_Instr_Array_Map_Access(t_CPUINT kind, t_CPUINT emit_addr)
      : m_kind(kind), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "size=<kind>, emit_addr=<flag>".
  const char* params() const override;

 protected:
  t_CPUINT m_kind;
  t_CPUINT m_emit_addr;
};

// Pops an array and m_depth int indexes (outermost first) and pushes the
// element they reach, as Chip_Instr_Array_Access does for the last index. A
// null array or sub-array prints the NullPointerException and the dimension
// at which it was met.
class Chip_Instr_Array_Access_Multi : public Chip_Instr {
 public:
  // depth: number of indexes, at least 2.
  Chip_Instr_Array_Access_Multi(t_CPUINT depth, t_CPUINT kind, t_CPUINT emit_addr);
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "depth=<depth>, size=<kind>, emit_addr=<flag>".
  const char* params() const override;

 protected:
  t_CPUINT m_depth;
  t_CPUINT m_kind;
  t_CPUINT m_emit_addr;
};

// `array << value`: pops the array and a value of kind m_val, appends the
// value (an object array references it) and pushes the array back, so that
// appends chain. Null array: NullPointerException (array append).
class Chip_Instr_Array_Append : public Chip_Instr_Unary_Op {
 public:
  // kind: the array's kind tag (4, 8 or 16).
  explicit Chip_Instr_Array_Append(t_CPUWORD kind) : Chip_Instr_Unary_Op(kind) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ---------------------------------------------------------------------------
// Checked casts.

// Whether object is a `type`: an instance of that class or of one below it
// (its run-time type isa type). FALSE for null.
t_CPBOOL chip_object_isa(Chip_Object* object, Chip_Type* type);

// `exp $ T` down the class tree (T below the operand's type): the object on
// top of the register stack stays there when it is a T (chip_object_isa) or
// null. Otherwise the shred ends with
// "[chip](VM): ClassCastException: (<its type> to <T>) in shred[id=%d:%s], PC=[%d]\n".
class Chip_Instr_Cast_Down : public Chip_Instr {
 public:
  explicit Chip_Instr_Cast_Down(Chip_Type* type) : m_type_ref(type) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // The type's text: its name with "[]" per array dimension.
  const char* params() const override;

 protected:
  Chip_Type* m_type_ref;  // not referenced: the type outlives the code
};

#endif
