// Compiled code.
#include "chip/vm/chip_vm_code.h"

#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm_exec.h"

Chip_VM_Code::Chip_VM_Code()
    : instr(nullptr),
      num_instr(0),
      stack_depth(0),
      frame_depth(0),
      reg_depth(0),
      need_this(FALSE),
      native_func(nullptr),
      native_func_type(NATIVE_NONE),
      decoded(nullptr) {}

Chip_VM_Code::~Chip_VM_Code() {
  delete[] decoded;
  decoded = nullptr;
  if (instr) {
    for (t_CPUINT i = 0; i < num_instr; i++) delete instr[i];
    delete[] instr;
    instr = nullptr;
  }
  num_instr = 0;
}
