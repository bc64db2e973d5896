// Shreds: the language's threads, and their two stacks.
//
// A shred (Chip_VM_Shred) is one thread of the language: it runs one code
// with a program counter over two private stacks, has an id, a wake time, a
// parent and children, and records the unit generators it created. The
// shred is also the language's Shred object.
//
// Ownership: a shred holds one reference on the code it started with, and on
// that code's keeper. Its ugen registry holds no references; when the shred
// is shut down it clears each generator's back-pointer and disconnects it
// from the graph. Its statement temporaries (below) hold one reference each.
#ifndef CHIP_CHIP_VM_SHRED_H
#define CHIP_CHIP_VM_SHRED_H

#include <map>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm_code.h"

class Chip_Instr;
class Chip_Event;
class Chip_VM;
struct Chip_UGen;

// Stack sizes of every shred the machine creates, in bytes.
enum {
  CHIP_VM_MEM_STACK_SIZE = 0x10000,  // 65,536: locals, frames, file-level variables
  CHIP_VM_REG_STACK_SIZE = 0x4000    // 16,384: the instructions' operand stack
};

// ---------------------------------------------------------------------------
// One of a shred's two stacks. The allocation begins 16 bytes below `stack`;
// sp_max leaves a sixteenth of the allocation as a margin that the call
// instructions' overflow check relies on.
struct Chip_Shred_Stack {
  Chip_Shred_Stack();
  ~Chip_Shred_Stack();
  Chip_Shred_Stack(const Chip_Shred_Stack&) = delete;
  Chip_Shred_Stack& operator=(const Chip_Shred_Stack&) = delete;

  // Allocates size + 16 zeroed bytes: stack = sp = start + 16,
  // sp_max = stack + S - S/16 with S = size + 16. FALSE when already
  // initialised or the allocation fails. A large stack is mapped from the
  // system (outside sanitizer builds): its pages come zeroed and cost
  // memory only once used, so a shred pays for the depth it reaches.
  t_CPBOOL initialize(t_CPUWORD size);
  // Frees the allocation; the record can be initialised again.
  void shutdown();

  unsigned char* stack;   // start of the usable area
  unsigned char* sp;      // first free byte
  unsigned char* sp_max;  // overflow limit of the call instructions
  t_CPBOOL initialized;
  t_CPUWORD size;         // usable bytes (the argument of initialize)
  t_CPUWORD mapped;       // bytes mapped for a mapped stack, else 0
};

// ---------------------------------------------------------------------------
// One thread of the language.
struct Chip_VM_Shred : Chip_Object {
  Chip_VM_Shred();
  // Runs shutdown(), then drops its maps and arguments.
  ~Chip_VM_Shred() override;

  // Allocates both stacks (the memory stack with mem_st_size bytes above the
  // code's own frame), takes a reference on code and sets up the program
  // counter and flags; then initialises the shred as an object of the
  // language's Shred type. FALSE when the stacks exist already or cannot be
  // allocated ("[chip](VM): OutOfMemory: while allocating stack '%s'\n"), or
  // when the object cannot be initialised (the shred is then shut down).
  t_CPBOOL initialize(Chip_VM_Code* code, t_CPUWORD mem_st_size = CHIP_VM_MEM_STACK_SIZE,
                      t_CPUWORD reg_st_size = CHIP_VM_REG_STACK_SIZE);
  // Detaches and disconnects the unit generators it owns (each generator's
  // back-pointer is cleared first), frees both stacks and releases its code.
  // Safe to call more than once.
  t_CPBOOL shutdown();

  // The registry of unit generators created by this shred (no references).
  // add: FALSE when ugen is registered already; remove: FALSE when it is not.
  t_CPBOOL add(Chip_UGen* ugen);
  t_CPBOOL remove(Chip_UGen* ugen);

  Chip_Shred_Stack* mem;       // memory stack
  Chip_Shred_Stack* reg;       // register stack
  Chip_Shred_Stack* base_ref;  // stack holding the file-level variables
  Chip_VM_Code* code;          // code being executed
  Chip_VM_Code* start_code;    // code the shred started with (referenced)
  Chip_Instr** instr;          // code->instr
  Chip_VM_Shred* parent;       // the sporking shred, or null
  std::map<t_CPUINT, Chip_VM_Shred*> children;  // by id, no references
  t_CPUINT pc;                 // instruction to execute
  Chip_VM* vm_ref;             // owning machine
  t_CPTIME now;                // the shred's view of now (its wake time)
  t_CPTIME start;              // when it was sporked
  t_CPTIME wake_time;          // when it is to run next
  t_CPUINT next_pc;            // becomes pc after the current instruction
  t_CPBOOL is_done;            // finished, to be freed
  t_CPBOOL is_running;         // executing; cleared when it yields
  t_CPBOOL is_abort;           // asked to stop before its next instruction
  t_CPBOOL is_dumped;          // freed, waiting in the dumped list
  Chip_Event* event;           // event it waits on, or null
  std::map<Chip_UGen*, Chip_UGen*> ugens;  // generators it created
  t_CPUINT id;                 // 0 before spork and after freeing
  std::string name;
  std::vector<std::string> args;
  Chip_VM_Shred* prev;         // links of the shreduler's wake-time list
  Chip_VM_Shred* next;

  // Statement temporaries. An object made while a statement runs (a new
  // string or object, the value a function returns) is held here by one
  // reference, tagged with the memory-stack base of the frame whose
  // statement it belongs to, until that statement ends: whatever stored the
  // object took its own reference by then, and what nothing stored is freed.
  struct Temp {
    Chip_VM_Object* object;
    unsigned char* frame;
  };
  std::vector<Temp> temps;
};

// Holds object (if not null) as a temporary of the running frame's statement.
void chip_hold_temp(Chip_VM_Shred* shred, Chip_VM_Object* object);
// Takes over an existing reference on object as a temporary of the frame at
// `frame` (no count changes).
void chip_adopt_temp(Chip_VM_Shred* shred, Chip_VM_Object* object, unsigned char* frame);
// Releases the temporaries of the running frame and of the frames above it.
void chip_release_temps(Chip_VM_Shred* shred);
// A frame at `from` ends: its temporaries become those of the frame at `to`
// (the caller), whose statement is still using them.
void chip_pass_temps(Chip_VM_Shred* shred, unsigned char* from, unsigned char* to);

#endif
