// A silent machine's sleep while it has nothing to compute.
#include "chip/vm/chip_vm_idle.h"

#include <chrono>
#include <cmath>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"

namespace {

// Whether anything is linked into node or, for a multichannel node, into
// one of its channels.
bool has_sources(const Chip_UGen* node) {
  if (!node) return false;
  if (node->num_src > 0 || node->num_src_uana > 0) return true;
  for (unsigned long c = 0; c < node->multi_chan_size; c++) {
    const Chip_UGen* channel = node->multi_chan[c];
    if (channel && channel != node && (channel->num_src > 0 || channel->num_src_uana > 0)) {
      return true;
    }
  }
  return false;
}

}  // namespace

t_CPBOOL chip_vm_idle(const Chip_VM* vm) {
  const Chip_VM_Shreduler* shreduler = vm->shreduler();
  return !vm->has_audio() && shreduler && !shreduler->shred_list && !has_sources(vm->dac()) &&
         !has_sources(vm->blackhole());
}

void chip_vm_sleep(Chip_VM* vm, const Chip_VM_Wake& wake, t_CPUINT seen) {
  EM_log(CP_LOG_FINE, "nothing to compute: waiting for a message...");
  auto start = std::chrono::steady_clock::now();
  wake.wait(seen);
  std::chrono::duration<double> slept = std::chrono::steady_clock::now() - start;
  vm->shreduler()->now += std::floor(slept.count() * vm->srate());
}
