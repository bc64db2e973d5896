// The instruction model.
//
// Compiled code is an array of instruction objects; the machine runs a shred
// by calling execute(vm, shred) on the instruction at the shred's program
// counter until the shred stops running. Instructions hold only their
// operands: everything they read or write lives in the shred (its two stacks,
// program counter and flags), in objects reached through those stacks, or in
// the machine.
//
// Execution protocol (the machine's compute loop): before execute, next_pc is
// pc + 1 and the shred is running; an instruction jumps by storing next_pc,
// suspends the shred by clearing is_running after handing it to the
// shreduler or an event, and ends it by clearing is_running and setting
// is_done. After execute the loop moves pc to next_pc.
//
// Stack words are pointer-wide (t_CPWORD): an int is kept sign-extended in a
// word, a reference as the pointer; float, time and dur take one double;
// complex and polar two doubles.
#ifndef CHIP_CHIP_INSTR_H
#define CHIP_CHIP_INSTR_H

#include <cstddef>
#include <string>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_instr_pool.h"

class Chip_VM;
struct Chip_VM_Shred;
struct Chip_Object;
struct Chip_Type;

// Base of every instruction.
class Chip_Instr {
 public:
  virtual ~Chip_Instr() {}
  // Instructions live in storage of their own (chip_instr_pool.h).
  static void* operator new(size_t size) { return chip_instr_alloc(size); }
  static void operator delete(void* block, size_t size) { chip_instr_free(block, size); }
  virtual void execute(Chip_VM* vm, Chip_VM_Shred* shred) = 0;
  // The class name, e.g. "Chip_Instr_Add_int".
  virtual const char* name() const;
  // The operand text of code dumps; empty for instructions without operands.
  virtual const char* params() const { return ""; }
  // Whether it can leave statement temporaries (chip_vm.h) behind: the
  // emitter ends a statement with a release only when one of its
  // instructions can.
  virtual bool makes_temps() const { return false; }
};

// The operand text of a code dump, formatted as by printf into a buffer of
// the calling thread (valid until that thread's next call): what every
// params() returns.
const char* chip_params_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// An instruction with one word operand: an immediate, a size, an offset, an
// address or a pointer, by class.
class Chip_Instr_Unary_Op : public Chip_Instr {
 public:
  explicit Chip_Instr_Unary_Op(t_CPUWORD val = 0) : m_val(val) {}
  void set(t_CPUWORD val) { m_val = val; }
  t_CPUWORD get() const { return m_val; }
  const char* params() const override;

 protected:
  t_CPUWORD m_val;
};

// An instruction with one double operand.
class Chip_Instr_Unary_Op2 : public Chip_Instr {
 public:
  explicit Chip_Instr_Unary_Op2(t_CPFLOAT val = 0.0) : m_val(val) {}
  void set(t_CPFLOAT val) { m_val = val; }
  t_CPFLOAT get() const { return m_val; }
  const char* params() const override;

 protected:
  t_CPFLOAT m_val;
};

// A jump: the index of the target instruction in the same code.
class Chip_Instr_Branch_Op : public Chip_Instr {
 public:
  explicit Chip_Instr_Branch_Op(t_CPUWORD jmp = 0) : m_jmp(jmp) {}
  void set(t_CPUWORD jmp) { m_jmp = jmp; }
  t_CPUWORD get() const { return m_jmp; }
  const char* params() const override;

 protected:
  t_CPUWORD m_jmp;
};

// An instruction whose operands are all on the register stack.
class Chip_Instr_Binary_Op : public Chip_Instr {};

// ---------------------------------------------------------------------------
// Object creation: the one way every run-time object of the language comes
// into being (plain objects, strings, events, shreds, unit generators and
// analysers), for declarations, `new`, the built-in classes and the machine's
// own dac, adc and blackhole. Machine thread (or the engine thread before
// the machine runs).

// Makes and initialises an object of type: a Chip_UAna or Chip_UGen for a
// unit-generator type (block buffers sized to the machine's block; recorded
// as owned by shred when one is given), a Chip_Event for an event type, a
// Chip_String (empty) for a string type, a Chip_VM_Shred (not started) for a
// shred type, else a plain Chip_Object. The machine is shred's, or the
// process-wide g_vm when shred is null. Returns the object with a count of
// 0 (the receiver takes its reference), or null after printing
// "[chip](VM): OutOfMemory: while instantiating object '<type>'".
Chip_Object* instantiate_and_initialize_object(Chip_Type* type, Chip_VM_Shred* shred);

// Gives object its virtual table (a copy of the type's), a reference to
// type, and a zeroed data block of the type's object size; a unit generator
// also gets the class's tick, pmsg and tock functions and its channel nodes
// (one plain UGen per channel of a multichannel type, each holding a
// reference to the node, which holds one to each). FALSE (table freed) when
// memory runs out.
t_CPBOOL initialize_object(Chip_Object* object, Chip_Type* type);

#endif
