// A silent machine that has nothing to compute sleeps instead of spinning.
//
// With audio off the machine's endless run computes as fast as it can: with
// no sound card to pace it, time runs as fast as the processor allows. When
// nothing would come of that (no shred waits for a time, nothing is linked
// into dac or blackhole), only another thread can give it work: a message
// (an on-the-fly command), an event broadcast (Open Sound Control) or a
// stop. So the run sleeps until one of them comes, and then moves its time
// on, in whole samples, by as long as it slept: time jumps to the moment
// the command arrived. Shreds blocked on events do not keep it awake, since
// only a broadcast can wake them.
//
// Chip_VM_Wake is the hand-over: every queue write and stop() raises its
// count after the write; the run reads the count before it looks at its
// queues, and sleeps only while the count is still the one it read, so a
// write that lands between the look and the sleep is never missed.
//
// Threads: raise() from any thread; seen(), chip_vm_idle and chip_vm_sleep
// on the machine's thread.
#ifndef CHIP_CHIP_VM_IDLE_H
#define CHIP_CHIP_VM_IDLE_H

#include <atomic>

#include "chip/util/chip_def.h"

class Chip_VM;

class Chip_VM_Wake {
 public:
  t_CPUINT seen() const { return m_count.load(); }
  // After a queue write or a stop request: wakes a sleeping run.
  void raise() {
    m_count.fetch_add(1);
    m_count.notify_all();
  }
  // Blocks until the count differs from seen.
  void wait(t_CPUINT seen) const { m_count.wait(seen); }

 private:
  std::atomic<t_CPUINT> m_count{0};
};

// Whether vm has nothing to compute until another thread gives it work:
// audio off, no shred waiting for a time, nothing linked into dac (any of
// its channels) or blackhole.
t_CPBOOL chip_vm_idle(const Chip_VM* vm);

// Sleeps until wake's count differs from seen, then moves vm's time on by
// the whole samples the sleep lasted.
void chip_vm_sleep(Chip_VM* vm, const Chip_VM_Wake& wake, t_CPUINT seen);

#endif
