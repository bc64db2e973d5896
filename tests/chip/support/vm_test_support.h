// Machines and hand-made code for the machine and shreduler tests.
//
// Until the instruction set exists, shreds run small test instructions:
// Mark records "<tag>@<now>" (the machine's now when it runs), Advance
// hands the shred to the shreduler to wake `dur` samples after its own now
// (as advancing time does), End finishes the shred, Spork starts a child,
// WaitOn chips an event to now, Do runs any function, Jump loops.
//
// VMTest gives each test a fresh type environment with the multichannel
// classes (so dac and adc can be made) and builds machines with audio off,
// or machines whose audio callback the test plays itself; TearDown shuts
// every machine down and drops every code the test made.
#ifndef TESTS_CHIP_VM_TEST_SUPPORT_H
#define TESTS_CHIP_VM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chip/lib/ugen_xxx.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"
#include "log_capture.h"
#include "type_check_support.h"
#include "xxx_module_support.h"

namespace vmtest {

enum { SRATE = 16000 };

typedef std::vector<std::string> Trace;

// "<tag>@<now>", now printed with %g (so 10 and 10.5 read as such).
class Mark : public Chip_Instr {
 public:
  Mark(Trace* trace, std::string tag) : m_trace(trace), m_tag(std::move(tag)) {}
  void execute(Chip_VM* vm, Chip_VM_Shred*) override {
    char when[64];
    std::snprintf(when, sizeof when, "%g", vm->shreduler()->now);
    m_trace->push_back(m_tag + "@" + when);
  }

 private:
  Trace* m_trace;
  std::string m_tag;
};

// Wakes the shred dur samples after its now; 0 only yields.
class Advance : public Chip_Instr {
 public:
  explicit Advance(t_CPDUR dur) : m_dur(dur) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override {
    vm->shreduler()->shredule(shred, shred->now + m_dur);
    shred->is_running = FALSE;
  }

 private:
  t_CPDUR m_dur;
};

class End : public Chip_Instr {
 public:
  void execute(Chip_VM*, Chip_VM_Shred* shred) override {
    shred->is_running = FALSE;
    shred->is_done = TRUE;
  }
};

// Sporks code as a child of the running shred.
class Spork : public Chip_Instr {
 public:
  explicit Spork(Chip_VM_Code* code) : m_code(code) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override { vm->spork(m_code, shred); }

 private:
  Chip_VM_Code* m_code;
};

class WaitOn : public Chip_Instr {
 public:
  explicit WaitOn(Chip_Event* event) : m_event(event) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override { m_event->wait(shred, vm); }

 private:
  Chip_Event* m_event;
};

class Do : public Chip_Instr {
 public:
  explicit Do(std::function<void(Chip_VM*, Chip_VM_Shred*)> fn) : m_fn(std::move(fn)) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override { m_fn(vm, shred); }

 private:
  std::function<void(Chip_VM*, Chip_VM_Shred*)> m_fn;
};

// Continues at instruction `target`.
class Jump : public Chip_Instr {
 public:
  explicit Jump(t_CPUINT target) : m_target(target) {}
  void execute(Chip_VM*, Chip_VM_Shred* shred) override { shred->next_pc = m_target; }

 private:
  t_CPUINT m_target;
};

class VMTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(load_xxx_module(env, SRATE));
  }

  void TearDown() override {
    // Held shreds end (if still running) before their machines shut down.
    for (auto& [machine, shred] : held_shreds) {
      if (!shred->is_dumped) machine->free(shred, TRUE, TRUE);
      machine->release_dump();
    }
    for (auto& held : held_shreds) held.second->release();
    for (Chip_VM* vm : vms) {
      vm->shutdown();
      // Machines switch locks off when they shut down; the process default
      // is on.
      Chip_VM_Object::lock_all();
      if (g_vm == vm) g_vm = nullptr;
      vm->release();
    }
    for (Chip_VM_Code* code : codes) code->release();
    xxx_forget_types();
    TypeCheckTest::TearDown();
  }

  // A machine with audio off (blocking, as the driver forces it) at 16 kHz,
  // buffers of 256 frames; set as g_vm, and with dac, adc and blackhole when
  // synthesis is asked for.
  Chip_VM* make_vm(t_CPBOOL halt = TRUE, t_CPUINT adaptive = 0, t_CPBOOL synthesis = TRUE,
                   t_CPUINT outs = 2, t_CPUINT ins = 2) {
    Chip_VM* vm = new Chip_VM;
    vm->add_ref();
    vms.push_back(vm);
    EXPECT_TRUE(vm->initialize(FALSE, halt, SRATE, 256, 4, 0, 0, outs, ins, TRUE, adaptive));
    g_vm = vm;
    if (synthesis) {
      EXPECT_TRUE(vm->initialize_synthesis()) << vm->last_error();
    }
    return vm;
  }

  // A machine that plays its own audio callback (the audio layer is not
  // there): real-time frames at 16 kHz, buffers of `frames` stereo frames
  // that the test hands to Digitalio::cb2 and that go through adc and dac;
  // set as g_vm. Null, with a test failure, when a step of its start fails.
  Chip_VM* make_rt_vm(t_CPUINT frames, t_CPUINT adaptive = 0) {
    Chip_VM* vm = new Chip_VM;
    vm->add_ref();
    vms.push_back(vm);
    g_vm = vm;
    if (!vm->initialize(FALSE, FALSE, SRATE, frames, 2, 0, 0, 2, 2, TRUE, adaptive)) {
      ADD_FAILURE() << "the machine did not initialise";
      return nullptr;
    }
    if (!vm->initialize_synthesis()) {
      ADD_FAILURE() << vm->last_error();
      return nullptr;
    }
    vm->shreduler()->rt_audio = TRUE;
    if (!vm->bbq()->digi_out()->initialize() || !vm->bbq()->digi_in()->initialize()) {
      ADD_FAILURE() << "the audio facade did not initialise";
      return nullptr;
    }
    return vm;
  }

  // One callback of such a machine with input frames (i + 1, 10 (i + 1)),
  // i = 0 .. frames - 1; the output frames.
  static std::vector<float> play_ramp(Chip_VM* vm, t_CPUINT frames) {
    std::vector<float> buffer(frames * 2);
    for (t_CPUINT i = 0; i < frames; i++) {
      buffer[2 * i] = static_cast<float>(i + 1);
      buffer[2 * i + 1] = static_cast<float>(10 * (i + 1));
    }
    Digitalio::cb2(buffer.data(), frames, vm);
    return buffer;
  }

  // Code of the given instructions, held by the test until TearDown.
  Chip_VM_Code* code(const std::string& name, std::vector<Chip_Instr*> instrs) {
    auto* c = new Chip_VM_Code;
    c->instr = new Chip_Instr*[instrs.size()];
    for (size_t i = 0; i < instrs.size(); i++) c->instr[i] = instrs[i];
    c->num_instr = static_cast<t_CPUINT>(instrs.size());
    c->name = name;
    c->add_ref();
    codes.push_back(c);
    return c;
  }

  // Sporks code on machine as a top-level shred the test holds until
  // TearDown; nothing runs yet.
  Chip_VM_Shred* hold_spork(Chip_VM* machine, Chip_VM_Code* c) {
    Chip_VM_Shred* shred = machine->spork(c, nullptr);
    if (!shred) return nullptr;
    shred->add_ref();
    held_shreds.emplace_back(machine, shred);
    return shred;
  }

  // Sporks code on machine (held, as by hold_spork) and runs what is due
  // now; the lines printed meanwhile. last_id becomes the shred's id.
  std::vector<std::string> run_held(Chip_VM* machine, Chip_VM_Code* c,
                                    Chip_VM_Shred** shred = nullptr) {
    Chip_VM_Shred* s = hold_spork(machine, c);
    last_id = s ? static_cast<int>(s->id) : 0;
    if (shred) *shred = s;
    return printed_lines([&] { machine->compute(); });
  }

  std::vector<Chip_VM*> vms;
  std::vector<Chip_VM_Code*> codes;
  std::vector<std::pair<Chip_VM*, Chip_VM_Shred*>> held_shreds;
  int last_id = 0;  // id of the shred run_held() sporked last
  Trace trace;
};

// Runs fn at the given log level (set silently) and restores the level.
template <typename Fn>
void at_log_level(int level, Fn fn) {
  int saved = g_loglevel;
  g_loglevel = level;
  fn();
  g_loglevel = saved;
}

}  // namespace vmtest

#endif
