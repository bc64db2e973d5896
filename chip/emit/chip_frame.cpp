// Frames of locals for the emitter; see chip_frame.h.
#include "chip/emit/chip_frame.h"

#include "chip/vm/chip_oo.h"

Chip_Frame::Chip_Frame() : next_offset(0), access_count(0) {}

Chip_Frame::~Chip_Frame() {
  for (Chip_Local* local : stack) delete local;
}

void Chip_Frame::push_scope() { stack.push_back(NULL); }

Chip_Local* Chip_Frame::alloc_local(t_CPUINT size, const std::string& name, t_CPBOOL is_ref) {
  Chip_Local* local = new Chip_Local;
  local->name = name;
  local->size = size;
  local->holds_ref = is_ref;
  local->offset = next_offset;
  next_offset += size;
  stack.push_back(local);
  return local;
}

void Chip_Frame::pop_scope(std::vector<Chip_Local*>& out) {
  CHIP_CHECK(this->stack.size() > 0);
  while (!stack.empty() && stack.back() != NULL) {
    Chip_Local* local = stack.back();
    stack.pop_back();
    out.push_back(local);
  }
}
