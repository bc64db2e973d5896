// A silent machine with nothing to compute: when it counts as idle, and its
// endless run asleep (the thread blocked, not running) until a message or a
// stop wakes it.
#include "chip/vm/chip_vm_idle.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "proc_stat.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

// Bound of every wait on the machine's thread.
const auto kPatience = std::chrono::seconds(20);

class VMIdleTest : public VMTest {
 protected:
  Chip_UGen* ugen() {
    Chip_UGen* u = static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, nullptr));
    u->add_ref();
    held.push_back(u);
    return u;
  }

  // Lets go of the generators and shuts vm down (one machine at a time can
  // open the audio facade).
  void end(Chip_VM* vm) {
    for (Chip_UGen* u : held) u->disconnect(TRUE);
    for (Chip_UGen* u : held) u->release();
    held.clear();
    vm->shutdown();
    Chip_VM_Object::lock_all();
  }

  std::vector<Chip_UGen*> held;
};

TEST_F(VMIdleTest, OnlyWhatCanComputeNothingIsIdle) {
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  struct Case {
    const char* name;
    std::function<void(Chip_VM*)> setup;
    t_CPBOOL idle;
  } cases[] = {
      {"nothing at all", [](Chip_VM*) {}, TRUE},
      {"a shred waits for a time",
       [this](Chip_VM* vm) {
         vm->spork(code("sleeper", {new Advance(100), new End}), nullptr);
       },
       FALSE},
      // Only a broadcast (from another thread, through the queue) wakes it.
      {"a shred waits on an event",
       [this, event](Chip_VM* vm) {
         vm->spork(code("waiter", {new WaitOn(event), new End}), nullptr);
         vm->compute();
       },
       TRUE},
      {"a generator linked into dac",
       [this](Chip_VM* vm) { vm->dac()->add(ugen(), 0); }, FALSE},
      {"a generator linked into one channel of dac",
       [this](Chip_VM* vm) { vm->dac()->multi_chan[1]->add(ugen(), 0); }, FALSE},
      {"a generator linked into blackhole",
       [this](Chip_VM* vm) { vm->blackhole()->add(ugen(), 0); }, FALSE},
      {"a chain that reaches neither",
       [this](Chip_VM*) { ugen()->add(ugen(), 0); }, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_VM* vm = make_vm(FALSE);
    c.setup(vm);
    EXPECT_EQ(chip_vm_idle(vm), c.idle);
    end(vm);
  }
  // A machine that plays to a sound card is paced by it: never idle.
  Chip_VM* loud = new Chip_VM;
  loud->add_ref();
  vms.push_back(loud);
  ASSERT_TRUE(loud->initialize(TRUE, FALSE, SRATE, 256, 4, 0, 0, 2, 2, TRUE, 0));
  EXPECT_FALSE(chip_vm_idle(loud));
  event->release();
}

// Whether thread tid is found asleep before the patience runs out. A thread
// that spins is never asleep.
bool falls_asleep(pid_t tid) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (proc_state("/proc/self/task/" + std::to_string(tid)) == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The endless run of a silent machine with no shred sleeps; a message wakes
// it (and is answered), it sleeps again, and a stop ends the run. Its time
// moves on in whole samples.
TEST_F(VMIdleTest, AnIdleRunSleepsUntilAMessageOrAStop) {
  Chip_VM* vm = make_vm(FALSE);
  std::atomic<pid_t> tid{0};
  std::thread machine([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    vm->run();
  });
  while (!tid || !vm->is_running()) std::this_thread::yield();
  ASSERT_TRUE(falls_asleep(tid));

  Chip_VM_Status record;
  Chip_Msg* msg = new Chip_Msg;
  msg->kind = Chip_Msg::MSG_STATUS;
  msg->status = &record;
  msg->reply = msg;
  vm->queue_msg(msg, 1);
  Chip_Msg* reply = nullptr;
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!(reply = vm->get_reply()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(reply, msg);
  EXPECT_EQ(reply->reply_value, Chip_Msg::DONE);
  delete reply;
  EXPECT_GE(record.now, 0.0);
  EXPECT_EQ(record.now, std::floor(record.now));
  EXPECT_TRUE(falls_asleep(tid));

  vm->stop();
  machine.join();
  EXPECT_FALSE(vm->is_running());
}

}  // namespace
