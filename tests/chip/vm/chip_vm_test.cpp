// The virtual machine: initialisation, synthesis, running and stopping,
// control messages, the queues other threads write, and the audio facade
// with audio off.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"
#include "log_capture.h"
#include "support/leak_check.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<std::string> Lines;

// Bound of every wait on another thread.
const auto kPatience = std::chrono::seconds(20);

class VMMachineTest : public VMTest {
 protected:
  Chip_VM_Code* sleeper(const std::string& tag, t_CPDUR dur) {
    return code(tag, {new Advance(dur), new Mark(&trace, tag), new End});
  }

  static Chip_Msg* message(t_CPUINT kind, t_CPUINT param = 0, Chip_VM_Code* c = nullptr) {
    auto* msg = new Chip_Msg;
    msg->kind = kind;
    msg->param = param;
    msg->code = c;
    return msg;
  }

  // Carries msg out and returns its reply value and what was printed.
  static std::pair<t_CPUINT, Lines> process(Chip_VM* vm, Chip_Msg* msg) {
    t_CPUINT reply = 0;
    Lines lines = printed_lines([&] { reply = vm->process_msg(msg); });
    return {reply, lines};
  }
};

// ---------------------------------------------------------------------------
// Initialisation

TEST_F(VMMachineTest, InitialisingTwiceIsRefused) {
  Chip_VM* vm = make_vm(TRUE, 0, FALSE);
  EXPECT_FALSE(vm->initialize(FALSE, TRUE, SRATE, 256, 4, 0, 0, 2, 2, TRUE, 0));
  EXPECT_EQ(vm->last_error(), "VM already initialized!");
}

TEST_F(VMMachineTest, SynthesisAndRunNeedWhatComesBefore) {
  Chip_VM raw;
  EXPECT_FALSE(raw.initialize_synthesis());
  EXPECT_EQ(raw.last_error(), "VM initialize_synthesis() called on raw VM");

  Chip_VM* vm = make_vm(TRUE, 0, FALSE);
  EXPECT_FALSE(vm->run());
  EXPECT_EQ(vm->last_error(), "VM and/or synthesis not initialized...");

  Chip_Type* dac_type = g_t_dac;
  g_t_dac = nullptr;
  EXPECT_FALSE(vm->initialize_synthesis());
  EXPECT_EQ(vm->last_error(), "VM initialize_synthesis() called before type system initialized");
  g_t_dac = dac_type;

  EXPECT_TRUE(vm->initialize_synthesis());
  EXPECT_FALSE(vm->initialize_synthesis());
  EXPECT_EQ(vm->last_error(), "VM synthesis already initialized");
}

TEST_F(VMMachineTest, SynthesisMakesLockedDacAdcAndBlackhole) {
  Chip_VM* vm = nullptr;
  Lines lines;
  at_log_level(CP_LOG_SYSTEM, [&] {
    lines = printed_lines([&] { vm = make_vm(TRUE, 64, TRUE, 2, 1); });
  });
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("initializing 'fake-time' audio...") != std::string::npos;
  }));

  Chip_UGen* dac = vm->dac();
  Chip_UGen* adc = vm->adc();
  Chip_UGen* blackhole = vm->blackhole();
  ASSERT_TRUE(dac && adc && blackhole);
  EXPECT_EQ(dac->type_ref, g_t_dac);
  EXPECT_EQ(adc->type_ref, g_t_adc);
  EXPECT_EQ(blackhole->type_ref, &t_ugen);
  for (Chip_UGen* node : {dac, adc, blackhole}) {
    EXPECT_EQ(node->m_ref_count, 1u);
    EXPECT_TRUE(node->m_locked);
    EXPECT_EQ(node->shred, nullptr);
  }
  // Two output channels; one input channel is the node itself.
  EXPECT_EQ(dac->multi_chan_size, 2u);
  EXPECT_EQ(dac->num_ins, 2u);
  EXPECT_EQ(adc->multi_chan_size, 0u);
  EXPECT_EQ(adc->multi_chan[0], adc);
  EXPECT_EQ(blackhole->size_v, 64u);

  Chip_VM_Shreduler* s = vm->shreduler();
  EXPECT_EQ(s->dac, dac);
  EXPECT_EQ(s->adc, adc);
  EXPECT_EQ(s->blackhole, blackhole);
  EXPECT_EQ(s->num_dac_channels, 2u);
  EXPECT_EQ(s->num_adc_channels, 1u);

  EXPECT_TRUE(vm->shutdown());
  EXPECT_FALSE(vm->shutdown());
  EXPECT_EQ(vm->dac(), nullptr);
  EXPECT_EQ(vm->shreduler(), nullptr);
  EXPECT_FALSE(Digitalio::is_init());
}

TEST_F(VMMachineTest, TheAdaptiveSizeTurnsBlockProcessingOnFromTwo) {
  struct Case {
    t_CPUINT size;
    t_CPBOOL adaptive;
    t_CPUINT max_block;
  } const cases[] = {{0, FALSE, 0}, {1, FALSE, 0}, {2, TRUE, 2}, {256, TRUE, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Chip_VM* vm = make_vm(TRUE, c.size, FALSE);
    EXPECT_EQ(vm->shreduler()->adaptive, c.adaptive);
    EXPECT_EQ(vm->shreduler()->max_block_size, c.max_block);
    EXPECT_EQ(vm->shreduler()->samps_until_next_wake, -1.0);
  }
}

// ---------------------------------------------------------------------------
// Running

TEST_F(VMMachineTest, WithHaltTheMachineStopsWhenTheLastShredEnds) {
  Chip_VM* vm = make_vm(TRUE);
  vm->spork(sleeper("x", 100), nullptr);
  vm->spork(sleeper("y", 40), nullptr);
  EXPECT_TRUE(vm->run());
  EXPECT_EQ(trace, (Trace{"y@40", "x@100"}));
  EXPECT_FALSE(vm->is_running());
  EXPECT_EQ(vm->shreduler()->now, 100.0);
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(VMMachineTest, WithoutHaltTheMachineKeepsRunningWithoutShreds) {
  Chip_VM* vm = make_vm(FALSE);
  EXPECT_FALSE(vm->run(50));
  EXPECT_EQ(vm->shreduler()->now, 50.0);
  vm->spork(sleeper("x", 5), nullptr);
  EXPECT_FALSE(vm->run(10));
  EXPECT_EQ(trace, (Trace{"x@55"}));
  EXPECT_EQ(vm->shreduler()->now, 60.0);
  EXPECT_EQ(vm->num_dumped_shreds(), 0u);
}

TEST_F(VMMachineTest, StopEndsABlockingRunFromAnotherThread) {
  Chip_VM* vm = make_vm(FALSE);
  std::promise<void> started;
  vm->spork(code("forever", {new Do([&](Chip_VM*, Chip_VM_Shred*) { started.set_value(); }),
                             new Advance(1000000000.0), new End}),
            nullptr);
  std::future<t_CPBOOL> result = std::async(std::launch::async, [vm] { return vm->run(); });
  ASSERT_EQ(started.get_future().wait_for(kPatience), std::future_status::ready);
  EXPECT_TRUE(vm->is_running());
  EXPECT_FALSE(vm->run());
  EXPECT_EQ(vm->last_error(), "virtual machine already running...");
  vm->stop();
  ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
  EXPECT_TRUE(result.get());
  EXPECT_FALSE(vm->is_running());
  EXPECT_TRUE(Digitalio::m_end);
}

// ---------------------------------------------------------------------------
// Messages

TEST_F(VMMachineTest, AddSporksTheCodeWithItsArgumentsAndReplies) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Msg* msg = message(Chip_Msg::MSG_ADD, 0, sleeper("dir/x.chip", 10));
  msg->args = new std::vector<std::string>{"1", "two"};
  msg->reply = msg;
  EXPECT_EQ(vm->queue_msg(msg, 1), 1u);
  EXPECT_EQ(vm->get_reply(), nullptr);
  Lines lines = printed_lines([&] { EXPECT_TRUE(vm->compute()); });
  EXPECT_EQ(lines, (Lines{"[chip](VM): sporking incoming shred: 1 (x.chip)..."}));
  ASSERT_EQ(vm->get_reply(), msg);
  EXPECT_EQ(msg->reply_value, 1u);
  delete msg;
  Chip_VM_Shred* shred = vm->shreduler()->lookup(1);
  ASSERT_NE(shred, nullptr);
  EXPECT_EQ(shred->args, (std::vector<std::string>{"1", "two"}));
  EXPECT_EQ(vm->num_shreds(), 1u);
}

TEST_F(VMMachineTest, RemoveTakesShredsOutOfTheListOrOffTheirEvents) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  vm->spork(sleeper("dir/a.chip", 10), nullptr);
  vm->spork(code("b.chip", {new WaitOn(event), new End}), nullptr);
  ASSERT_TRUE(vm->compute());
  ASSERT_EQ(event->num_waiting(), 1u);

  struct Step {
    t_CPUINT param;
    t_CPUINT reply;
    const char* line;
  } const steps[] = {
      {7, 0, "[chip](VM): cannot remove: no shred with id 7..."},
      {2, 2, "[chip](VM): removing shred: 2 (b.chip)..."},
      {1, 1, "[chip](VM): removing shred: 1 (a.chip)..."},
      {Chip_Msg::LATEST, 0, "[chip](VM): no shreds to remove..."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    auto [reply, lines] = process(vm, message(Chip_Msg::MSG_REMOVE, step.param));
    EXPECT_EQ(reply, step.reply);
    EXPECT_EQ(lines, (Lines{step.line}));
  }
  EXPECT_EQ(event->num_waiting(), 0u);
  EXPECT_EQ(event->m_ref_count, 1u);
  EXPECT_EQ(vm->num_shreds(), 0u);
  EXPECT_EQ(vm->last_shred_id(), 0u);
  EXPECT_TRUE(trace.empty());
  event->release();
}

TEST_F(VMMachineTest, RemovingTheLatestSkipsTheRunningShred) {
  Chip_VM* vm = make_vm(FALSE);
  std::vector<std::pair<t_CPUINT, Lines>> answers;
  auto remove_latest = new Do([&](Chip_VM* v, Chip_VM_Shred*) {
    answers.push_back(process(v, message(Chip_Msg::MSG_REMOVE, Chip_Msg::LATEST)));
  });
  vm->spork(sleeper("a", 10), nullptr);
  vm->spork(sleeper("b", 10), nullptr);
  vm->spork(code("remover", {remove_latest, new Advance(1), new Jump(0)}), nullptr);
  // Now: b goes; one sample later: a goes; then only the remover is left.
  EXPECT_FALSE(vm->run(3));
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0], (std::pair<t_CPUINT, Lines>{2, {"[chip](VM): removing recent shred: 2 (b)..."}}));
  EXPECT_EQ(answers[1], (std::pair<t_CPUINT, Lines>{1, {"[chip](VM): removing recent shred: 1 (a)..."}}));
  EXPECT_EQ(answers[2], (std::pair<t_CPUINT, Lines>{0, {"[chip](VM): no shreds removed..."}}));
  EXPECT_EQ(vm->num_shreds(), 1u);
}

TEST_F(VMMachineTest, RemoveAllFreesEveryShredAndRestartsTheIds) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  Chip_VM_Code* child = sleeper("child", 50);
  vm->spork(code("parent", {new Spork(child), new Advance(50), new End}), nullptr);
  vm->spork(code("waiter", {new WaitOn(event), new End}), nullptr);
  vm->spork(sleeper("c", 50), nullptr);
  ASSERT_TRUE(vm->compute());
  ASSERT_EQ(vm->num_shreds(), 4u);
  auto [reply, lines] = process(vm, message(Chip_Msg::MSG_REMOVEALL));
  EXPECT_EQ(reply, Chip_Msg::DONE);
  EXPECT_EQ(lines, (Lines{"[chip](VM): removing all (4) shreds..."}));
  EXPECT_EQ(vm->num_shreds(), 0u);
  EXPECT_EQ(vm->last_shred_id(), 0u);
  EXPECT_EQ(vm->shreduler()->shred_list, nullptr);
  EXPECT_TRUE(vm->shreduler()->blocked.empty());
  EXPECT_EQ(event->m_ref_count, 1u);
  EXPECT_EQ(vm->spork(child, nullptr)->id, 1u);
  event->release();
}

TEST_F(VMMachineTest, ReplaceKeepsTheIdAndTheShredCount) {
  Chip_VM* vm = make_vm(FALSE);
  vm->spork(sleeper("dir/old.chip", 10), nullptr);
  vm->spork(sleeper("other.chip", 20), nullptr);
  ASSERT_TRUE(vm->compute());

  auto [reply, lines] = process(vm, message(Chip_Msg::MSG_REPLACE, 1, sleeper("new.chip", 5)));
  EXPECT_EQ(reply, 1u);
  EXPECT_EQ(lines, (Lines{"[chip](VM): replacing shred 1 (old.chip) with 1 (new.chip)..."}));
  EXPECT_EQ(vm->num_shreds(), 2u);
  Chip_VM_Shred* replacement = vm->shreduler()->lookup(1);
  ASSERT_NE(replacement, nullptr);
  EXPECT_EQ(replacement->name, "new.chip");
  EXPECT_EQ(replacement->base_ref, replacement->mem);

  std::tie(reply, lines) = process(vm, message(Chip_Msg::MSG_REPLACE, 9, sleeper("z", 1)));
  EXPECT_EQ(reply, 0u);
  EXPECT_EQ(lines, (Lines{"[chip](VM): error replacing shred: no shred with id 9..."}));

  EXPECT_FALSE(vm->run(30));
  EXPECT_EQ(trace, (Trace{"new.chip@5", "other.chip@20"}));
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(VMMachineTest, StatusFillsTheSendersRecordOrPrints) {
  Chip_VM* vm = make_vm(FALSE);
  vm->spork(sleeper("a", 10), nullptr);
  ASSERT_TRUE(vm->compute());

  Chip_VM_Status record;
  Chip_Msg* msg = message(Chip_Msg::MSG_STATUS);
  msg->status = &record;
  msg->reply = msg;
  auto [reply, lines] = process(vm, msg);
  EXPECT_EQ(reply, Chip_Msg::DONE);
  EXPECT_TRUE(lines.empty());
  ASSERT_EQ(record.list.size(), 1u);
  EXPECT_EQ(record.list[0]->name, "a");
  EXPECT_EQ(vm->get_reply(), msg);
  delete msg;

  std::tie(reply, lines) = process(vm, message(Chip_Msg::MSG_STATUS));
  EXPECT_EQ(lines, (Lines{"[chip](VM): status (now == 0h0m0s, 0.0 samps) ...",
                          "    [shred id]: 1  [source]: a  [spork time]: 0.00s ago"}));
}

TEST_F(VMMachineTest, TimeResetIdAndOtherKinds) {
  Chip_VM* vm = make_vm(FALSE);
  vm->shreduler()->now = 32000;
  auto [reply, lines] = process(vm, message(Chip_Msg::MSG_TIME));
  EXPECT_EQ(reply, Chip_Msg::DONE);
  EXPECT_EQ(lines, (Lines{"[chip](VM): the values of now:", "  now = 32000.000000 (samp)",
                          "      = 2.000000 (second)", "      = 0.033333 (minute)",
                          "      = 0.000556 (hour)", "      = 0.000023 (day)",
                          "      = 0.000003 (week)"}));

  vm->spork(sleeper("a", 10), nullptr);
  vm->spork(sleeper("b", 10), nullptr);
  Chip_VM_Shred* c = vm->spork(sleeper("c", 10), nullptr);
  vm->free(c, TRUE, TRUE);
  ASSERT_EQ(vm->last_shred_id(), 3u);
  std::tie(reply, lines) = process(vm, message(Chip_Msg::MSG_RESET_ID));
  EXPECT_EQ(reply, Chip_Msg::DONE);
  EXPECT_EQ(lines, (Lines{"[chip](VM): reseting shred id to 3..."}));
  EXPECT_EQ(vm->last_shred_id(), 2u);

  for (t_CPUINT kind : {0u, 6u, 42u}) {
    SCOPED_TRACE(kind);
    std::tie(reply, lines) = process(vm, message(kind, 1));
    EXPECT_EQ(reply, Chip_Msg::DONE);
    EXPECT_TRUE(lines.empty());
  }
  EXPECT_EQ(vm->num_shreds(), 2u);
}

TEST_F(VMMachineTest, TheKillMessageDetachesAndStopsTheMachine) {
  Chip_VM* vm = make_vm(FALSE);
  static int detached;
  detached = 0;
  Chip_VM::our_detach = [] { detached++; };
  EXPECT_FALSE(vm->killed());
  t_CPUINT reply = 0;
  printed_lines([&] { reply = vm->process_msg(message(Chip_Msg::MSG_KILL)); });
  Chip_VM::our_detach = nullptr;
  EXPECT_EQ(reply, Chip_Msg::DONE);
  EXPECT_EQ(detached, 1);
  EXPECT_TRUE(vm->killed());
  // Stopped: the machine computes nothing more.
  EXPECT_TRUE(vm->run(16));
}

TEST_F(VMMachineTest, AFailedPreparationRefusesTheMessage) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_VM_Code* c = sleeper("prepared", 1000);
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok);
    Chip_Msg* msg = message(Chip_Msg::MSG_ADD, 0, ok ? c : nullptr);
    msg->prepare_data = ok ? c : nullptr;
    msg->prepare = [](Chip_Msg* m) -> t_CPBOOL {
      if (!m->prepare_data) return FALSE;
      m->code = static_cast<Chip_VM_Code*>(m->prepare_data);
      return TRUE;
    };
    t_CPUINT reply = 0;
    printed_lines([&] { reply = vm->process_msg(msg); });
    EXPECT_EQ(reply, ok ? 1u : 0u);
  }
  EXPECT_EQ(vm->num_shreds(), 1u);
}

// ---------------------------------------------------------------------------
// Other threads

TEST_F(VMMachineTest, MessagesFromAnotherThreadAreAnsweredThroughTheReplyQueue) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_VM_Code* c = sleeper("remote", 1000);
  const t_CPUINT count = 100;
  std::vector<Chip_Msg*> sent;
  for (t_CPUINT i = 0; i < count; i++) {
    Chip_Msg* msg = message(Chip_Msg::MSG_ADD, 0, c);
    msg->reply = msg;
    sent.push_back(msg);
  }
  std::thread sender([&] {
    for (Chip_Msg* msg : sent) vm->queue_msg(msg, 1);
  });
  std::vector<t_CPUINT> ids;
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  printed_lines([&] {
    while (ids.size() < count && std::chrono::steady_clock::now() < deadline) {
      vm->compute();
      while (Chip_Msg* reply = vm->get_reply()) {
        ids.push_back(reply->reply_value);
        delete reply;
      }
    }
  });
  sender.join();
  ASSERT_EQ(ids.size(), count);
  for (t_CPUINT i = 0; i < count; i++) EXPECT_EQ(ids[i], i + 1);
  EXPECT_EQ(vm->num_shreds(), count);
}

// A machine whose event queue the test reads itself.
struct EventQueueProbe : Chip_VM {
  std::vector<Chip_Event*> drain() {
    std::vector<Chip_Event*> out;
    Chip_Event* event = nullptr;
    while (m_event_buffer->get(&event, 1)) out.push_back(event);
    return out;
  }
};

TEST_F(VMMachineTest, EventQueueWritersOnSeveralThreadsAreSerialised) {
  EventQueueProbe vm;
  ASSERT_TRUE(vm.initialize(FALSE, FALSE, SRATE, 256, 4, 0, 0, 2, 2, TRUE, 0));
  const int threads = 4;
  const int per_thread = 250;  // 1000 of the 1024 slots
  std::atomic<int> ready{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; t++) {
    writers.emplace_back([&, t] {
      ready++;
      while (ready < threads) std::this_thread::yield();
      for (int i = 0; i < per_thread; i++) {
        // Tokens only: the machine never sees them.
        t_CPUWORD token = static_cast<t_CPUWORD>((t * per_thread + i + 1) * 16);
        vm.queue_event(reinterpret_cast<Chip_Event*>(token), 1);
      }
    });
  }
  for (std::thread& w : writers) w.join();
  std::vector<Chip_Event*> got = vm.drain();
  std::sort(got.begin(), got.end());
  ASSERT_EQ(got.size(), static_cast<size_t>(threads * per_thread));
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(reinterpret_cast<t_CPUWORD>(got[i]), static_cast<t_CPUWORD>((i + 1) * 16));
  }
  vm.shutdown();
  Chip_VM_Object::lock_all();
}

TEST_F(VMMachineTest, BroadcastsQueuedByOtherThreadsAreDeliveredOnTheNextPass) {
  Chip_VM* vm = make_vm(FALSE);
  Chip_Event* event = new Chip_Event;
  event->add_ref();
  for (const char* tag : {"w1", "w2"}) {
    vm->spork(code(tag, {new WaitOn(event), new Mark(&trace, tag), new End}), nullptr);
  }
  EXPECT_FALSE(vm->run(3));
  ASSERT_EQ(event->num_waiting(), 2u);

  std::vector<std::thread> listeners;
  for (int i = 0; i < 4; i++) listeners.emplace_back([event] { event->queue_broadcast(); });
  for (std::thread& l : listeners) l.join();
  // Nothing happens until the machine's next pass.
  EXPECT_EQ(event->num_waiting(), 2u);
  EXPECT_TRUE(trace.empty());
  EXPECT_FALSE(vm->run(1));
  EXPECT_EQ(trace, (Trace{"w1@3", "w2@3"}));
  EXPECT_EQ(event->m_ref_count, 1u);
  event->release();
}

// ---------------------------------------------------------------------------
// The audio facade with audio off

TEST_F(VMMachineTest, TheFacadeKeepsTheSettingsWithAudioOff) {
  Chip_VM* vm = new Chip_VM;
  vm->add_ref();
  vms.push_back(vm);
  g_vm = vm;
  ASSERT_TRUE(vm->initialize(FALSE, FALSE, 22050, 128, 3, 1, 2, 2, 1, TRUE, 0));
  EXPECT_EQ(vm->srate(), 22050u);
  EXPECT_EQ(Digitalio::sampling_rate(), 22050u);
  EXPECT_EQ(Digitalio::buffer_size(), 128u);
  EXPECT_EQ(Digitalio::num_buffers(), 3u);
  EXPECT_EQ(Digitalio::dac_num(), 1u);
  EXPECT_EQ(Digitalio::adc_num(), 2u);
  EXPECT_EQ(Digitalio::num_channels_out(), 2u);
  EXPECT_EQ(Digitalio::num_channels_in(), 1u);
  EXPECT_FALSE(Digitalio::is_init());

  ASSERT_TRUE(vm->initialize_synthesis());
  EXPECT_TRUE(Digitalio::is_init());
  EXPECT_EQ(Digitalio::bps(), 16u);
  EXPECT_FALSE(Digitalio::m_block);  // no hand-over waits without audio
  EXPECT_FALSE(Digitalio::m_end);
  EXPECT_NE(Digitalio::m_buffer_out, nullptr);

  // A second facade cannot initialise while this one is.
  BBQ other;
  EXPECT_FALSE(other.initialize(2, 2, 44100, 16, 256, 4, 0, 0, FALSE, vm, FALSE, nullptr, nullptr));
  EXPECT_EQ(Digitalio::sampling_rate(), 22050u);

  // After stop the callback outputs silence.
  vm->stop();
  EXPECT_TRUE(Digitalio::m_end);
  std::vector<float> buffer(2 * 8, 1.0f);
  Digitalio::cb2(buffer.data(), 8, vm);
  EXPECT_EQ(buffer, std::vector<float>(2 * 8, 0.0f));

  vm->shutdown();
  EXPECT_FALSE(Digitalio::is_init());
  EXPECT_EQ(Digitalio::m_buffer_out, nullptr);
}

TEST_F(VMMachineTest, RealTimeFramesGoFromTheInputThroughAdcAndDacToTheOutput) {
  // The audio layer is not there: the test plays the callback itself, with
  // the shreduler switched to real-time frames.
  const t_CPUINT frames = 16;
  for (t_CPUINT adaptive : {0u, 8u}) {
    SCOPED_TRACE(adaptive);
    Chip_VM* vm = make_rt_vm(frames, adaptive);
    ASSERT_NE(vm, nullptr);
    ASSERT_TRUE(vm->dac()->add(vm->adc(), 0));
    vm->adc()->gain = 0.5f;

    for (int callback = 0; callback < 2; callback++) {
      std::vector<float> buffer(frames * 2), expected(frames * 2);
      for (size_t i = 0; i < buffer.size(); i++) {
        buffer[i] = static_cast<float>(callback * 100 + i + 1);
        expected[i] = buffer[i] * 0.5f;
      }
      Digitalio::cb2(buffer.data(), frames, vm);
      EXPECT_EQ(buffer, expected);
      // The adc's own output is the mean of its channels.
      EXPECT_FLOAT_EQ(vm->adc()->last, (expected[frames * 2 - 2] + expected[frames * 2 - 1]) / 2);
    }
    EXPECT_EQ(vm->shreduler()->now, 2.0 * frames);

    // tick_in with 0 reads one sample per input channel.
    float pair[3] = {-1, -1, -1};
    vm->bbq()->digi_in()->tick_in(pair, 0u);
    EXPECT_EQ(pair[2], -1.0f);
    vm->shutdown();
    Chip_VM_Object::lock_all();
  }
}

TEST_F(VMMachineTest, SetPriorityReportsWhatFailed) {
  Chip_VM* vm = make_vm(FALSE, 0, FALSE);
  // No round-robin priority reaches 1000.
  EXPECT_FALSE(Chip_VM::set_priority(1000, vm));
  EXPECT_EQ(vm->last_error(), "could not set new scheduling parameters");
}

}  // namespace
