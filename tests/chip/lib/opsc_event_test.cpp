// A flood of broadcast requests from a listener thread on one event: one
// request waits in the machine's event queue at a time, so the queue (1024
// slots, no full state) is never lapped and the event's bookkeeping ends
// where it began.
#include <gtest/gtest.h>

#include <thread>

#include "chip/vm/chip_instr.h"
#include "vm_test_support.h"

namespace {

using OscEventFlood = vmtest::VMTest;

TEST_F(OscEventFlood, RequestsWhileOneIsPendingAreOne) {
  Chip_VM* vm = make_vm(FALSE, 0, FALSE);
  auto* event = static_cast<Chip_Event*>(instantiate_and_initialize_object(&t_event, nullptr));
  event->add_ref();
  vmtest::Trace trace;
  Chip_VM_Shred* waiter = hold_spork(
      vm,
      code("w", {new vmtest::WaitOn(event), new vmtest::Mark(&trace, "woke"), new vmtest::End()}));
  ASSERT_NE(waiter, nullptr);
  vm->compute();
  ASSERT_EQ(event->num_waiting(), 1u);
  std::thread listener([event] {
    for (int i = 0; i < 3000; i++) event->queue_broadcast();
  });
  listener.join();
  vm->compute();
  vm->compute();
  EXPECT_EQ(trace, (vmtest::Trace{"woke@0"}));
  // No broadcast is left pending: the waiter's reference went back.
  EXPECT_EQ(event->m_ref_count, 1u);
  event->release();
}

}  // namespace
