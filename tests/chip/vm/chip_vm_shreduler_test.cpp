// The shreduler and shreds: wake order and tolerance, adaptive blocks,
// yielding, parents and children, stacks, owned unit generators, aborting
// and the status report.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/chip_vm_shred.h"
#include "chip/vm/chip_vm_shreduler.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

class ShredulerTest : public VMTest {
 protected:
  // A shred that advances by dur, marks, and ends.
  Chip_VM_Code* sleeper(const std::string& tag, t_CPDUR dur) {
    return code(tag, {new Advance(dur), new Mark(&trace, tag), new End});
  }
};

TEST_F(ShredulerTest, EqualWakeTimesRunFirstInFirstOut) {
  Chip_VM* vm = make_vm();
  vm->spork(sleeper("a", 5), nullptr);
  vm->spork(sleeper("b", 5), nullptr);
  vm->spork(sleeper("c", 5), nullptr);
  vm->spork(sleeper("d", 3), nullptr);
  vm->spork(sleeper("e", 5), nullptr);
  EXPECT_TRUE(vm->run(100));
  EXPECT_EQ(trace, (Trace{"d@3", "a@5", "b@5", "c@5", "e@5"}));
}

TEST_F(ShredulerTest, TheWakeListStaysOrderedThroughInsertsAndRemovals) {
  Chip_VM* vm = make_vm();
  Chip_VM_Shreduler* s = vm->shreduler();
  std::vector<Chip_VM_Shred*> shreds;
  for (int i = 0; i < 6; i++) {
    shreds.push_back(vm->spork(sleeper("x", 1), nullptr));
    ASSERT_EQ(s->get(), shreds.back());
  }
  // The ids in list order, walked from the head and checked against the
  // tail and the back links.
  auto order = [&] {
    std::vector<t_CPUINT> ids;
    Chip_VM_Shred* last = nullptr;
    for (Chip_VM_Shred* x = s->shred_list; x; x = x->next) {
      EXPECT_EQ(x->prev, last);
      ids.push_back(x->id);
      last = x;
    }
    EXPECT_EQ(s->shred_tail, last);
    return ids;
  };
  // Later, earlier, equal (after its equals), between, at the head.
  const t_CPTIME times[] = {5, 3, 5, 4, 1, 5};
  for (int i = 0; i < 6; i++) ASSERT_TRUE(s->shredule(shreds[i], times[i]));
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{5, 2, 4, 1, 3, 6}));
  ASSERT_TRUE(s->remove(shreds[5]));  // the tail
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{5, 2, 4, 1, 3}));
  ASSERT_TRUE(s->shredule(shreds[5], 4));
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{5, 2, 4, 6, 1, 3}));
  ASSERT_TRUE(s->remove(shreds[4]));  // the head
  ASSERT_TRUE(s->remove(shreds[2]));  // the new tail
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{2, 4, 6, 1}));
  for (Chip_VM_Shred* x : {shreds[1], shreds[3], shreds[5], shreds[0]}) ASSERT_TRUE(s->remove(x));
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{}));
  ASSERT_TRUE(s->shredule(shreds[0], 2));
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{1}));
  // Listed again, so that the machine's shutdown frees them all.
  for (int i = 1; i < 6; i++) ASSERT_TRUE(s->shredule(shreds[i], 3));
  EXPECT_EQ(order(), (std::vector<t_CPUINT>{1, 2, 3, 4, 5, 6}));
}

TEST_F(ShredulerTest, AShredRunsInTheSampleWithinHalfASampleOfItsWakeTime) {
  struct Case {
    t_CPDUR dur;
    const char* runs_at;
  } const cases[] = {
      {10.0, "x@10"}, {10.4, "x@10"}, {10.5, "x@10"}, {10.6, "x@11"}, {9.6, "x@10"},
      {100.0, "x@100"}, {300.0, "x@300"}, {0.3, "x@0"},
  };
  // Per sample, and in adaptive blocks that must never run past a wake time.
  for (t_CPUINT adaptive : {0u, 256u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE("adaptive " + std::to_string(adaptive) + ", dur " + std::to_string(c.dur));
      trace.clear();
      Chip_VM* vm = make_vm(TRUE, adaptive);
      vm->spork(sleeper("x", c.dur), nullptr);
      EXPECT_TRUE(vm->run(1000));
      EXPECT_EQ(trace, (Trace{c.runs_at}));
      // One machine at a time owns the audio facade.
      vm->shutdown();
    }
  }
}

TEST_F(ShredulerTest, SchedulingIntoThePastOrTwiceIsRefused) {
  Chip_VM* vm = make_vm();
  Chip_VM_Shreduler* s = vm->shreduler();
  s->now = 10;
  Chip_VM_Shred* shred = vm->spork(sleeper("x", 1), nullptr);

  std::vector<std::string> lines = printed_lines([&] { EXPECT_FALSE(s->shredule(shred, 20)); });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[chip](VM): internal sanity check failed in shredule()",
                       "[chip](VM): (shred shreduled while shreduled)"}));

  ASSERT_EQ(s->get(), shred);
  lines = printed_lines([&] { EXPECT_FALSE(s->shredule(shred, 9.4)); });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[chip](VM): internal sanity check failed in shredule()",
                       "[chip](VM): (wake time is past) - 9.400000 : 10.000000"}));
  EXPECT_EQ(s->shred_list, nullptr);
  EXPECT_TRUE(s->shredule(shred, 9.6));
  EXPECT_EQ(s->shred_list, shred);
  EXPECT_DOUBLE_EQ(s->samps_until_next_wake, 0.0);
}

TEST_F(ShredulerTest, AnAdaptiveBlockEndsWhereTheNextShredWakes) {
  struct Case {
    t_CPDUR until_wake;
    t_CPWORD frames;
    t_CPDUR block;        // how far now moves
    t_CPDUR until_after;  // samples until the next wake afterwards
    t_CPWORD frames_after;
  } const cases[] = {
      {-1.0, 100, 100, -1.0, 0},      // nobody waits: the frames left
      {-1.0, -1, 256, -1.0, -257},    // endless: the largest block
      {-1.0, 1000, 256, -1.0, 744},   // the largest block
      {0.3, 1000, 1, -0.7, 999},      // never less than one sample
      {0.0, 1000, 1, -1.0, 999},
      {40.7, 1000, 40, 0.7, 960},     // up to the wake, truncated
      {300.0, 1000, 256, 44.0, 744},
      {40.0, 10, 10, 30.0, 0},
  };
  Chip_VM* vm = make_vm(TRUE, 256);
  Chip_VM_Shreduler* s = vm->shreduler();
  ASSERT_TRUE(s->adaptive);
  for (const Case& c : cases) {
    SCOPED_TRACE("until " + std::to_string(c.until_wake) + ", frames " + std::to_string(c.frames));
    t_CPTIME before = s->now;
    s->samps_until_next_wake = c.until_wake;
    t_CPWORD frames = c.frames;
    s->advance_v(frames);
    EXPECT_DOUBLE_EQ(s->now - before, c.block);
    EXPECT_NEAR(s->samps_until_next_wake, c.until_after, 1e-9);
    EXPECT_EQ(frames, c.frames_after);
  }
}

// The graph is pulled a block at a time only while that is exact; the
// answer follows the links as they are made and cut.
TEST_F(ShredulerTest, BlocksAreRenderedOnlyWhileTheGraphIsExactInBlocks) {
  Chip_VM* vm = make_vm(TRUE, 8);
  Chip_VM_Shreduler* s = vm->shreduler();
  auto make = [] {
    auto* n = static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, nullptr));
    n->add_ref();
    return n;
  };
  Chip_UGen* a = make();
  Chip_UGen* b = make();
  ASSERT_TRUE(vm->dac()->add(a, 0));
  EXPECT_TRUE(s->graph_in_blocks());

  // Feedback: the block renders sample by sample (a's block buffer, which
  // only a block pull writes, keeps what it held).
  b->add(a, 0);
  a->add(b, 0);
  EXPECT_FALSE(s->graph_in_blocks());
  a->current_v[0] = 42.0f;
  t_CPWORD frames = 8;
  s->advance_v(frames);
  EXPECT_EQ(s->now, 8.0);
  EXPECT_EQ(a->current_v[0], 42.0f);

  a->remove(b);
  EXPECT_TRUE(s->graph_in_blocks());
  frames = 8;
  s->advance_v(frames);
  EXPECT_EQ(s->now, 16.0);
  EXPECT_EQ(a->current_v[0], 0.0f);

  vm->dac()->remove(a);
  b->remove(a);
  a->release();
  b->release();
}

TEST_F(ShredulerTest, RemovingTheFirstWaiterKeepsBlocksFromOverrunningTheNext) {
  Chip_VM* vm = make_vm(FALSE, 256);
  Chip_VM_Shred* early = vm->spork(sleeper("early", 10), nullptr);
  vm->spork(sleeper("late", 300), nullptr);
  ASSERT_FALSE(vm->run(1));  // both now wait
  vm->free(early, TRUE, TRUE);
  EXPECT_FALSE(vm->run(2000));
  EXPECT_EQ(trace, (Trace{"late@300"}));
}

TEST_F(ShredulerTest, YieldingLetsTheOtherShredsDueNowRunFirst) {
  Chip_VM* vm = make_vm();
  for (const char* tag : {"a", "b"}) {
    std::string t = tag;
    vm->spork(code(t, {new Mark(&trace, t + "1"), new Advance(0), new Mark(&trace, t + "2"),
                       new End}),
              nullptr);
  }
  EXPECT_TRUE(vm->run(10));
  EXPECT_EQ(trace, (Trace{"a1@0", "b1@0", "a2@0", "b2@0"}));
}

TEST_F(ShredulerTest, AParentsExitFreesItsDescendantsFirst) {
  Chip_VM* vm = make_vm();
  std::vector<Chip_VM_Shred*> seen;
  auto keep = new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
    shred->add_ref();
    seen.push_back(shred);
  });
  Chip_VM_Code* grandchild = code("g", {new Advance(1000), new End});
  Chip_VM_Code* first = code("a", {new Spork(grandchild), new Advance(1000), new End});
  Chip_VM_Code* second = code("b", {new Advance(1000), new End});
  Chip_VM_Code* parent =
      code("p", {keep, new Spork(first), new Spork(second), new Advance(1), new End});

  Chip_VM_Shred* p = vm->spork(parent, nullptr);
  std::vector<std::string> lines;
  at_log_level(CP_LOG_FINER, [&] { lines = printed_lines([&] { EXPECT_TRUE(vm->run(100)); }); });

  // Ids: p 1, a 2, b 3, g 4. Children go before their parent, in id order.
  std::vector<int> dumped;
  std::regex dumping("dumping shred \\(id==([0-9]+) ");
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_search(line, m, dumping)) dumped.push_back(std::stoi(m[1]));
  }
  EXPECT_EQ(dumped, (std::vector<int>{4, 2, 3, 1}));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], p);
  EXPECT_TRUE(p->children.empty());
  EXPECT_EQ(p->id, 0u);
  EXPECT_TRUE(p->is_dumped);
  EXPECT_EQ(vm->num_shreds(), 0u);
  EXPECT_EQ(vm->last_shred_id(), 0u);
  // The halted machine stopped with the last shred; a new shred starts at 1.
  EXPECT_EQ(vm->spork(second, nullptr)->id, 1u);
  p->release();
}

TEST_F(ShredulerTest, ShredsGetTheirStacksAndShareTheirRootsGlobals) {
  Chip_VM* vm = make_vm();
  Chip_VM_Shred* child = nullptr;
  Chip_VM_Code* inner = code("inner", {new Advance(10), new End});
  Chip_VM_Code* outer = code("outer", {new Do([&](Chip_VM* v, Chip_VM_Shred* shred) {
                                         child = v->spork(inner, shred);
                                       }),
                                       new Advance(10), new End});
  Chip_VM_Shred* root = vm->spork(outer, nullptr);
  ASSERT_FALSE(vm->run(1));
  ASSERT_NE(child, nullptr);

  for (Chip_VM_Shred* shred : {root, child}) {
    EXPECT_EQ(shred->mem->sp, shred->mem->stack);
    EXPECT_EQ(shred->mem->sp_max - shred->mem->stack, 61455);
    EXPECT_EQ(shred->reg->sp, shred->reg->stack);
    EXPECT_EQ(shred->reg->sp_max - shred->reg->stack, 15375);
    EXPECT_EQ(shred->mem->stack[CHIP_VM_MEM_STACK_SIZE - 1], 0);
    EXPECT_EQ(shred->type_ref, &t_shred);
    EXPECT_EQ(shred->start_code->m_ref_count, 2u);  // the test's and the shred's
  }
  EXPECT_EQ(root->base_ref, root->mem);
  EXPECT_EQ(child->base_ref, root->mem);
  EXPECT_EQ(child->parent, root);
  EXPECT_EQ(root->children.at(child->id), child);
  EXPECT_EQ(child->name, "inner");
}

TEST_F(ShredulerTest, AShredOwnsTheUGensItMakesAndLeavesThemDetached) {
  // Without halt the machine goes on and releases the ended shred.
  Chip_VM* vm = make_vm(FALSE);
  Chip_UGen* kept = nullptr;
  Chip_VM_Shred* maker = nullptr;
  auto make = [](Chip_VM_Shred* shred) {
    return static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, shred));
  };
  Chip_VM_Code* c = code(
      "maker",
      {new Do([&](Chip_VM* v, Chip_VM_Shred* shred) {
         maker = shred;
         // a => b => dac, held only by the graph; kept => dac, also held by
         // the test.
         Chip_UGen* a = make(shred);
         Chip_UGen* b = make(shred);
         b->add(a, 0);
         v->dac()->add(b, 0);
         kept = make(shred);
         kept->add_ref();
         v->dac()->add(kept, 0);
         // A generator freed while the shred lives leaves its registry.
         Chip_UGen* gone = make(shred);
         gone->add_ref();
         gone->release();
         EXPECT_EQ(shred->ugens.size(), 3u);
         EXPECT_FALSE(shred->add(a));
         EXPECT_EQ(a->shred, shred);
       }),
       new Advance(5), new End});
  vm->spork(c, nullptr);
  EXPECT_FALSE(vm->run(100));
  EXPECT_EQ(vm->num_dumped_shreds(), 0u);
  ASSERT_NE(kept, nullptr);
  EXPECT_NE(maker, nullptr);

  // The shred has been released: its generators no longer point at it and
  // are out of the graph.
  EXPECT_EQ(kept->shred, nullptr);
  EXPECT_EQ(kept->m_num_dest, 0u);
  for (unsigned long i = 0; i < vm->dac()->multi_chan_size; i++) {
    EXPECT_EQ(vm->dac()->multi_chan[i]->num_src, 0u);
  }
  EXPECT_EQ(kept->m_ref_count, 1u);
  kept->release();
}

TEST_F(ShredulerTest, TheUGenRegistryRefusesDuplicatesAndStrangers) {
  Chip_VM* vm = make_vm();
  Chip_VM_Shred* shred = vm->spork(sleeper("x", 1), nullptr);
  Chip_UGen* u = static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, nullptr));
  u->add_ref();
  EXPECT_TRUE(shred->add(u));
  EXPECT_FALSE(shred->add(u));
  EXPECT_TRUE(shred->remove(u));
  EXPECT_FALSE(shred->remove(u));
  EXPECT_TRUE(shred->ugens.empty());
  u->release();
}

TEST_F(ShredulerTest, AnAbortedShredStopsBeforeItsNextInstruction) {
  Chip_VM* vm = make_vm();
  int passes = 0;
  // Loops without ever advancing time; asks for its own abort on pass 3.
  vm->spork(code("spin", {new Do([&](Chip_VM* v, Chip_VM_Shred*) {
                            if (++passes == 3) {
                              EXPECT_TRUE(v->abort_current_shred());
                            }
                          }),
                          new Jump(0)}),
            nullptr);
  std::vector<std::string> lines;
  at_log_level(CP_LOG_SEVERE, [&] { lines = printed_lines([&] { EXPECT_TRUE(vm->run(10)); }); });
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(vm->num_shreds(), 0u);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("trying to abort current shred (id: 1)"), std::string::npos);
  EXPECT_NE(lines[1].find("aborting shred (id: 1)"), std::string::npos);
  EXPECT_NE(lines[2].find("virtual machine stopped..."), std::string::npos);

  at_log_level(CP_LOG_SEVERE, [&] {
    lines = printed_lines([&] { EXPECT_FALSE(vm->abort_current_shred()); });
  });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("cannot abort shred: nothing currently running!"), std::string::npos);
}

TEST_F(ShredulerTest, LookupAndHighestSeeTheListAndTheBlockedShreds) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  vm->spork(sleeper("a", 10), nullptr);
  Chip_VM_Shred* waiting = vm->spork(code("w", {new WaitOn(event), new End}), nullptr);
  ASSERT_FALSE(vm->run(1));
  Chip_VM_Shreduler* s = vm->shreduler();
  EXPECT_TRUE(s->is_blocked(waiting));
  EXPECT_EQ(s->lookup(2), waiting);
  EXPECT_EQ(s->lookup(1)->name, "a");
  EXPECT_EQ(s->lookup(3), nullptr);
  EXPECT_EQ(s->highest(), 2u);
  // Freeing a blocked shred takes it off its event.
  vm->free(waiting, TRUE, TRUE);
  EXPECT_EQ(event->num_waiting(), 0u);
  EXPECT_EQ(event->m_ref_count, 1u);
  EXPECT_EQ(s->highest(), 1u);
  event->release();
}

TEST_F(ShredulerTest, TheStatusListsShredsByIdAndMarksBlockedOnes) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  vm->spork(sleeper("dir/one.chip", 200), nullptr);
  vm->spork(code("two.chip", {new WaitOn(event), new End}), nullptr);
  vm->spork(sleeper("three.chip", 100), nullptr);  // ahead of one in the list
  ASSERT_FALSE(vm->run(1));
  Chip_VM_Shreduler* s = vm->shreduler();
  s->now = 57600000;  // an hour at 16 kHz
  std::vector<std::string> lines = printed_lines([&] { s->status(); });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[chip](VM): status (now == 1h0m0s, 57600000.0 samps) ...",
                       "    [shred id]: 1  [source]: one.chip  [spork time]: 3600.00s ago",
                       "    [shred id]: 2  [source]: two.chip  [spork time]: 3600.00s ago (blocked)",
                       "    [shred id]: 3  [source]: three.chip  [spork time]: 3600.00s ago"}));
  EXPECT_EQ(s->status_record.list.size(), 3u);
  EXPECT_TRUE(s->status_record.list[1]->has_event);
  vm->free(s->lookup(2), TRUE, TRUE);
  event->release();
}

TEST_F(ShredulerTest, TheStatusSplitsNowIntoHoursMinutesAndSeconds) {
  struct Case {
    t_CPTIME now;
    t_CPUINT h, m, s;
  } const cases[] = {
      {0, 0, 0, 0},
      {15999.9, 0, 0, 0},
      {16000.0 * 61 + 5, 0, 1, 1},
      {57600000, 1, 0, 0},
      {16000.0 * (2 * 3600 + 59 * 60 + 59) + 15999, 2, 59, 59},
  };
  Chip_VM* vm = make_vm();
  Chip_VM_Status record;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.now);
    vm->shreduler()->now = c.now;
    vm->shreduler()->status(&record);
    EXPECT_EQ(record.srate, 16000u);
    EXPECT_EQ(record.now, c.now);
    EXPECT_EQ(record.t_hour, c.h);
    EXPECT_EQ(record.t_minute, c.m);
    EXPECT_EQ(record.t_second, c.s);
    EXPECT_TRUE(record.list.empty());
  }
}

}  // namespace

namespace {

TEST(ShredStackTest, StacksSmallAndLargeComeZeroedAndCanBeMadeAgain) {
  // Below and above the size from which stacks are mapped rather than
  // allocated: both behave alike.
  for (t_CPUWORD bytes : {t_CPUWORD{256}, t_CPUWORD{CHIP_VM_MEM_STACK_SIZE}}) {
    SCOPED_TRACE(bytes);
    Chip_Shred_Stack s;
    for (int round = 0; round < 2; round++) {
      ASSERT_TRUE(s.initialize(bytes));
      EXPECT_FALSE(s.initialize(bytes));
      EXPECT_EQ(s.sp, s.stack);
      EXPECT_EQ(s.size, bytes);
      const t_CPUWORD total = bytes + 16;
      EXPECT_EQ(s.sp_max, s.stack + total - total / 16);
      for (t_CPUWORD i = 0; i < bytes; i++) ASSERT_EQ(s.stack[i], 0) << i;
      // Written all over, then given back: the next stack is zeroed again.
      std::fill(s.stack, s.stack + bytes, 0xAB);
      s.shutdown();
      EXPECT_EQ(s.stack, nullptr);
      EXPECT_FALSE(s.initialized);
    }
  }
}

}  // namespace
