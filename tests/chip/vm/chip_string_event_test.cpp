// Strings and events: waiting, signal, broadcast, removal, the broadcast
// queued from another thread, and the references waiting shreds hold.
//
// Shreds run small hand-made code: wait on an event, record the time the
// wait yielded (popped off the register stack) and end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"
#include "type_check_support.h"
#include "vm_test_support.h"

// An event whose destruction is recorded.
struct WatchedEvent : Chip_Event {
  explicit WatchedEvent(int* deaths) : deaths(deaths) {}
  ~WatchedEvent() override { (*deaths)++; }
  int* deaths;
};

namespace {

using vmtest::End;
using vmtest::WaitOn;

// Pops the value of the chip (a time) and records "<tag>@<time>".
class Record : public Chip_Instr {
 public:
  Record(vmtest::Trace* trace, std::string tag) : m_trace(trace), m_tag(std::move(tag)) {}
  void execute(Chip_VM*, Chip_VM_Shred* shred) override {
    t_CPTIME when = 0;
    shred->reg->sp -= sizeof when;
    std::memcpy(&when, shred->reg->sp, sizeof when);
    m_trace->push_back(m_tag + "@" + std::to_string(static_cast<long>(when)));
  }

 private:
  vmtest::Trace* m_trace;
  std::string m_tag;
};

// A machine (audio off, no halt, no synthesis) over a fresh type
// environment.
class EventTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm(FALSE, 0, FALSE);
  }

  // Sporks a shred that waits on event, records "<tag>@<time>" and ends.
  // The test keeps a reference, so the shred can be inspected after it
  // ends.
  Chip_VM_Shred* spork_waiter(Chip_Event* event, const std::string& tag) {
    return hold_spork(vm, code(tag, {new WaitOn(event), new Record(&trace, tag), new End()}));
  }

  Chip_VM_Shreduler* shreduler() { return vm->shreduler(); }

  Chip_VM* vm = nullptr;
};

using StringTest = TypeCheckTest;

TEST_F(StringTest, HoldsItsTextFromConstructionOrSet) {
  Chip_String empty;
  EXPECT_EQ(empty.str, "");
  Chip_String text("a b");
  EXPECT_EQ(text.str, "a b");
  text.set("other");
  EXPECT_EQ(text.str, "other");
}

// The script's own reference to a new event (count 1).
Chip_Event* held_event() {
  auto* event = static_cast<Chip_Event*>(instantiate_and_initialize_object(&t_event, nullptr));
  event->add_ref();
  return event;
}

TEST_F(EventTest, SignalAndBroadcastWithoutWaitersDoNothing) {
  Chip_Event* event = held_event();
  event->signal();
  event->broadcast();
  EXPECT_EQ(event->m_ref_count, 1u);
  EXPECT_EQ(event->num_waiting(), 0u);
  EXPECT_EQ(shreduler()->shred_list, nullptr);
  event->release();
}

TEST_F(EventTest, AWaitingShredIsBlockedAndHoldsTheEvent) {
  Chip_Event* event = held_event();
  Chip_VM_Shred* a = spork_waiter(event, "a");
  vm->compute();
  EXPECT_EQ(a->event, event);
  EXPECT_FALSE(a->is_running);
  EXPECT_TRUE(shreduler()->is_blocked(a));
  EXPECT_EQ(event->num_waiting(), 1u);
  EXPECT_EQ(event->m_ref_count, 2u);
  EXPECT_TRUE(trace.empty());
  event->signal();
  EXPECT_EQ(a->event, nullptr);
  EXPECT_FALSE(shreduler()->is_blocked(a));
  EXPECT_EQ(event->m_ref_count, 1u);
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@0"}));
  event->release();
}

TEST_F(EventTest, SignalWakesTheOldestWaiterOnly) {
  Chip_Event* event = held_event();
  spork_waiter(event, "a");
  spork_waiter(event, "b");
  vm->compute();
  ASSERT_EQ(event->num_waiting(), 2u);
  // Time has passed: the woken shred finds the current time.
  shreduler()->now = 10;
  event->signal();
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@10"}));
  EXPECT_EQ(event->num_waiting(), 1u);
  shreduler()->now = 12;
  event->signal();
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@10", "b@12"}));
  EXPECT_EQ(event->m_ref_count, 1u);
  event->release();
}

TEST_F(EventTest, BroadcastWakesEveryWaiterInTheOrderTheyBeganToWait) {
  Chip_Event* event = held_event();
  for (const char* tag : {"c", "a", "b"}) spork_waiter(event, tag);
  vm->compute();
  shreduler()->now = 5;
  event->broadcast();
  EXPECT_EQ(event->num_waiting(), 0u);
  EXPECT_TRUE(shreduler()->blocked.empty());
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"c@5", "a@5", "b@5"}));
  EXPECT_EQ(event->m_ref_count, 1u);
  event->release();
}

TEST_F(EventTest, RemoveTakesOneWaiterOutAndKeepsTheOthersInOrder) {
  Chip_Event* event = held_event();
  spork_waiter(event, "a");
  Chip_VM_Shred* b = spork_waiter(event, "b");
  spork_waiter(event, "c");
  Chip_VM_Shred* idle = spork_waiter(held_event(), "idle");
  vm->compute();
  EXPECT_EQ(event->m_ref_count, 4u);
  EXPECT_TRUE(event->remove(b));
  EXPECT_EQ(b->event, nullptr);
  EXPECT_EQ(event->m_ref_count, 3u);
  EXPECT_FALSE(event->remove(b));
  EXPECT_FALSE(event->remove(idle));
  EXPECT_EQ(event->num_waiting(), 2u);
  event->broadcast();
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@0", "c@0"}));
  // The idle shred's event goes with it (teardown); this one stays held.
  EXPECT_EQ(event->m_ref_count, 1u);
  idle->event->release();
  event->release();
}

// A native can_wait() answering a fixed value, installed in an event's own
// virtual table at the slot the Event class would give it.
struct CanWaitStub {
  explicit CanWaitStub(Chip_Event* event, t_CPWORD answer) : event(event) {
    stub_answer = answer;
    saved_slot = Chip_Event::our_can_wait;
    code = new Chip_VM_Code();
    code->add_ref();
    code->native_func = reinterpret_cast<void*>(&can_wait);
    code->native_func_type = Chip_VM_Code::NATIVE_MFUN;
    func = new Chip_Func();
    func->add_ref();
    func->code = code;
    // Any slot but 0 will do; the ones before it belong to other members.
    Chip_Event::our_can_wait = 2;
    // A table of the event's own: the class's is shared by every event.
    event->vtable = new Chip_VTable(*event->vtable);
    event->owns_vtable = TRUE;
    event->vtable->funcs.resize(3, nullptr);
    event->vtable->funcs[2] = func;
  }
  ~CanWaitStub() {
    event->vtable->funcs[2] = nullptr;
    Chip_Event::our_can_wait = saved_slot;
    func->release();
    code->release();
  }
  static void can_wait(Chip_Object* self, void*, Chip_DL_Return* result, Chip_VM_Shred*) {
    asked_by = self;
    result->v_int = stub_answer;
  }

  Chip_Event* event;
  Chip_VM_Code* code;
  Chip_Func* func;
  t_CPWORD saved_slot;
  static t_CPWORD stub_answer;
  static Chip_Object* asked_by;
};
t_CPWORD CanWaitStub::stub_answer = 1;
Chip_Object* CanWaitStub::asked_by = nullptr;

TEST_F(EventTest, AnEventThatCannotBeWaitedOnLetsTheShredRunOn) {
  struct Case {
    t_CPWORD answer;
    size_t waiting;
    std::vector<std::string> trace;
  } const cases[] = {{0, 0, {"x@7"}}, {1, 1, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    trace.clear();
    Chip_Event* event = held_event();
    {
      CanWaitStub stub(event, c.answer);
      CanWaitStub::asked_by = nullptr;
      shreduler()->now = 7;
      spork_waiter(event, "x");
      vm->compute();
      EXPECT_EQ(CanWaitStub::asked_by, event);
      EXPECT_EQ(event->num_waiting(), c.waiting);
      EXPECT_EQ(trace, c.trace);
      EXPECT_EQ(event->m_ref_count, 1u + c.waiting);
      event->broadcast();
    }
    event->release();
  }
}

TEST_F(EventTest, AnEventDroppedWhileShredsWaitLivesUntilTheLastOneLeaves) {
  int deaths = 0;
  auto* event = new WatchedEvent(&deaths);
  event->add_ref();
  spork_waiter(event, "a");
  Chip_VM_Shred* b = spork_waiter(event, "b");
  vm->compute();
  // The script lets go of its event.
  event->release();
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(event->m_ref_count, 2u);
  event->signal();
  EXPECT_EQ(deaths, 0);
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@0"}));
  // The other waiter is removed (as a remove message would): the last
  // reference goes with it.
  vm->free(b, TRUE, TRUE);
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(b->event, nullptr);
}

TEST_F(EventTest, ABroadcastOfADroppedEventWakesAllThenFreesIt) {
  int deaths = 0;
  auto* event = new WatchedEvent(&deaths);
  event->add_ref();
  spork_waiter(event, "a");
  spork_waiter(event, "b");
  vm->compute();
  event->release();
  event->broadcast();
  EXPECT_EQ(deaths, 1);
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@0", "b@0"}));
}

TEST_F(EventTest, AQueuedBroadcastWithoutWaitersIsLost) {
  Chip_Event* event = held_event();
  std::thread other([event] { event->queue_broadcast(); });
  other.join();
  spork_waiter(event, "a");
  vm->compute();
  vm->compute();
  EXPECT_EQ(event->num_waiting(), 1u);
  EXPECT_TRUE(trace.empty());
  event->release();
}

TEST_F(EventTest, ABroadcastQueuedFromAnotherThreadIsDeliveredOnTheNextPass) {
  Chip_Event* event = held_event();
  spork_waiter(event, "a");
  spork_waiter(event, "b");
  vm->compute();
  std::thread other([event] { event->queue_broadcast(); });
  other.join();
  // Nothing happens on the other thread itself.
  EXPECT_EQ(event->num_waiting(), 2u);
  EXPECT_TRUE(trace.empty());
  shreduler()->now = 3;
  vm->compute();
  EXPECT_EQ(trace, (std::vector<std::string>{"a@3", "b@3"}));
  EXPECT_EQ(event->m_ref_count, 1u);
  event->release();
}

TEST_F(EventTest, AQueuedBroadcastKeepsItsEventUntilDeliveredThoughTheWaiterLeft) {
  int deaths = 0;
  auto* event = new WatchedEvent(&deaths);
  event->add_ref();
  Chip_VM_Shred* a = spork_waiter(event, "a");
  vm->compute();
  event->release();
  std::thread other([event] { event->queue_broadcast(); });
  other.join();
  // The only waiter is removed before the machine's next pass: its pointer
  // still sits in the machine's event queue.
  vm->free(a, TRUE, TRUE);
  EXPECT_EQ(deaths, 0);
  vm->compute();
  EXPECT_EQ(deaths, 1);
  EXPECT_TRUE(trace.empty());
}

TEST_F(EventTest, WaitingOnAnotherMachinesShredIsAnEngineFault) {
  Chip_Event* event = held_event();
  auto* code = new Chip_VM_Code();
  code->add_ref();
  auto* shred = new Chip_VM_Shred();
  shred->add_ref();
  ASSERT_TRUE(shred->initialize(code));
  shred->vm_ref = nullptr;
  EXPECT_DEATH(event->wait(shred, vm), "shred->vm_ref == vm");
  shred->release();
  code->release();
  event->release();
}

}  // namespace
