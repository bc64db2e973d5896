// Frames of locals for the emitter.
//
// A Chip_Frame hands out the byte offsets of a code's local variables on a
// shred's memory stack. Offsets are the running sum of the sizes allocated
// before them (no alignment: every slot is a whole number of 8-byte words
// anyway). Scopes are null markers on the frame's stack: popping a scope
// releases the locals above the innermost marker, innermost first; the
// marker itself stays, so a later pop of the enclosing scope stops there.
// Bytes are never given back: every local of a code has a slot of its own
// for the whole code, so a slot that held an object is never read as a
// number by a later scope's local (the frame releases object slots when it
// ends, and a slot read as the wrong kind would free a stray pointer).
//
// The frame owns its locals: those still on the stack are deleted with the
// frame; those handed out by pop_scope belong to the caller.
#ifndef CHIP_CHIP_FRAME_H
#define CHIP_CHIP_FRAME_H

#include <string>
#include <vector>

#include "chip/util/chip_def.h"

// One local slot.
struct Chip_Local {
  std::string name;    // the variable name
  t_CPUINT size;       // bytes of the slot
  t_CPBOOL holds_ref;  // declared as a reference (`@`)
  t_CPUINT offset;     // bytes from the base of the running code's frame
};

class Chip_Frame {
 public:
  Chip_Frame();
  // Deletes the locals still on the stack.
  ~Chip_Frame();
  Chip_Frame(const Chip_Frame&) = delete;
  Chip_Frame& operator=(const Chip_Frame&) = delete;

  // Opens a scope (pushes a null marker).
  void push_scope();
  // A new local of size bytes at next_offset; never null.
  Chip_Local* alloc_local(t_CPUINT size, const std::string& name, t_CPBOOL is_ref);
  // Pops the locals of the innermost scope into out, innermost first; their
  // bytes stay allocated and the scope's marker stays on the stack.
  void pop_scope(std::vector<Chip_Local*>& out);

  std::string name;
  t_CPUINT next_offset;
  t_CPUINT access_count;
  std::vector<Chip_Local*> stack;  // null entries are scope markers
};

#endif  // CHIP_CHIP_FRAME_H
