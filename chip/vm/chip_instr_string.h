// String, unit-generator link and print instructions.
//
// Strings: assignment into a string variable (the variable's own object gets
// a copy of the text), concatenation of strings with strings, ints and
// floats (a new string object, or in place for the `+=>` forms),
// comparison of texts, and the conversion of any object to its text.
// New string objects are made with instantiate_and_initialize_object for the
// string type and the running shred, and pushed unreferenced: whoever stores
// them takes the reference.
//
// Unit generators: `=>` and `=^` link the left node into the right one,
// `=<` unlinks it; both leave the right node on the stack so links chain.
//
// Printing: `<<< a >>>` and `<<< a, b, c >>>` write values through the
// application log (EM_printf) without popping them. The format is chosen by
// the value's kind (int, float-like, complex, polar, string, other object,
// void), worked out from its type once at construction, with the type's
// text: an int and a float are both one 8-byte word on the stack, so a size
// alone cannot tell them apart, and the audio thread never touches the
// type records.
//
// Null operands never crash: each instruction either ends the shred with a
// NullPointerException message naming it, or prints a placeholder (a null
// string prints as null).
//
// Stack layout (register stack, left operand deepest, right on top):
//   Assign_String              right string, address of the string variable
//   Add_string ... Add_float_string
//                              left value, right value -> new string
//   Add_*_string_Assign, Add_string_Assign
//                              value, address of the string variable
//                              -> the variable's object
//   Op_string                  left string, right string -> int 0 or 1
//   Cast_object2string         object -> string
//   UGen_Link, UGen_UnLink     left node, right node -> right node
//   Hack, Gack                 the printed values stay on the stack
#ifndef CHIP_CHIP_INSTR_STRING_H
#define CHIP_CHIP_INSTR_STRING_H

#include <string>
#include <vector>

#include "chip/vm/chip_instr.h"

// ---------------------------------------------------------------------------
// Strings

// `s1 @=> s2` / `s1 => s2` into a string variable: the variable gets the
// right text in an object of its own. Its object changes in place only when
// the variable is that object's sole holder; otherwise (no object yet, or one
// shared with a literal's code, a caller's frame or another variable) it
// takes the right string itself when nobody holds that one (a new string),
// else a new object with a copy of the text, and lets go of the old one,
// which therefore never changes under its other holders. A null right string drops
// the variable's object. Pushes the variable's new value.
class Chip_Instr_Assign_String : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// string + string.
class Chip_Instr_Add_string : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// string + int.
class Chip_Instr_Add_string_int : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// string + float (4 decimals).
class Chip_Instr_Add_string_float : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// int + string.
class Chip_Instr_Add_int_string : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// float + string (4 decimals).
class Chip_Instr_Add_float_string : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// string +=> string variable: the variable's text is extended in place.
class Chip_Instr_Add_string_Assign : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// int +=> string variable.
class Chip_Instr_Add_int_string_Assign : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// float +=> string variable (4 decimals).
class Chip_Instr_Add_float_string_Assign : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// Text comparison; m_val is the operator id: 4 ==, 5 !=, 6 <, 7 <=, 8 >,
// 9 >=. Any other id ends the shred (InvalidStringOpException).
class Chip_Instr_Op_string : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Op_string(t_CPUWORD op) : Chip_Instr_Unary_Op(op) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// `obj $ string`: the object's text as Object.toString() gives it.
class Chip_Instr_Cast_object2string : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }
};

// ---------------------------------------------------------------------------
// Unit-generator links

// `a => b` (upchip 0) and `a =^ b` (upchip 1): links a into b.
class Chip_Instr_UGen_Link : public Chip_Instr {
 public:
  explicit Chip_Instr_UGen_Link(t_CPBOOL upchip = FALSE) : m_upchip(upchip) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;

 protected:
  t_CPBOOL m_upchip;
};

// `a =< b`: unlinks a from b.
class Chip_Instr_UGen_UnLink : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ---------------------------------------------------------------------------
// Printing

// How a printed value is read and written; decided from its type.
enum Chip_Print_Kind : unsigned {
  CHIP_PRINT_VOID,     // no bytes
  CHIP_PRINT_INT,      // one word, a 32-bit int
  CHIP_PRINT_OBJECT,   // one word, a reference (null included)
  CHIP_PRINT_STRING,   // one word, a string reference
  CHIP_PRINT_FLOAT,    // one double: float, time, dur
  CHIP_PRINT_COMPLEX,  // two doubles: re, im
  CHIP_PRINT_POLAR,    // two doubles: modulus, phase
  CHIP_PRINT_WIDE      // two doubles of another type (not printable)
};

// The print kind of a value of type; a type of no printable width is an
// internal error.
Chip_Print_Kind chip_print_kind(Chip_Type* type);

// `<<< a >>>`: one value with its type, e.g. "5 :(int)".
class Chip_Instr_Hack : public Chip_Instr {
 public:
  // type: the printed value's type (not referenced: types live as long as
  // the environment that compiled the code).
  explicit Chip_Instr_Hack(Chip_Type* type);
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "(<type>)", the type's name with "[]" per array dimension.
  const char* params() const override;

 protected:
  Chip_Type* m_type_ref;
  Chip_Print_Kind m_kind;
  std::string m_type_text;  // the type's display name, made once
};

// `<<< a, b, c >>>`: the values in source order, each followed by a space.
class Chip_Instr_Gack : public Chip_Instr {
 public:
  // types: the printed values' types in source order (copied; not
  // referenced, as for Chip_Instr_Hack).
  explicit Chip_Instr_Gack(const std::vector<Chip_Type*>& types);
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // "( many types )".
  const char* params() const override { return "( many types )"; }

 protected:
  std::vector<Chip_Type*> m_type_refs;
  std::vector<Chip_Print_Kind> m_kinds;
  t_CPUWORD m_total_size;     // bytes of all the values on the stack
  std::string m_single_text;  // a lone value's type text (printed as by Hack)
};

#endif
