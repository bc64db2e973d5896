// The multichannel classes: their registration, the channels
// of stereo objects and `chan`, the linear pan law, their use from the type
// checker, and Pan2, Mix2 and Gain carrying sound on a machine.
#include "chip/lib/ugen_xxx.h"
#include "chip/vm/ugen_multi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"
#include "chip/vm/ugen_frame.h"
#include "type_check_support.h"
#include "vm_test_support.h"
#include "xxx_module_support.h"

namespace {

class XxxModuleTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(load_xxx_module(env, 16000));
  }

  void TearDown() override {
    for (Chip_Object* obj : objects) obj->release();
    objects.clear();
    xxx_forget_types();
    TypeCheckTest::TearDown();
  }

  // A constructed object of the named class, held until TearDown.
  Chip_UGen* make(const char* name) {
    return static_cast<Chip_UGen*>(make_native(env, name, objects));
  }

  static Chip_Object* member(Chip_Object* obj, t_CPWORD offset) {
    return frame_member<Chip_Object*>(obj, offset);
  }

  static Chip_Object* chan(Chip_UGen* ugen, t_CPINT which) {
    t_CPWORD arg = which;
    return call_member(multi_cget_chan, ugen, &arg).v_object;
  }

  static t_CPFLOAT pan(Chip_UGen* ugen, t_CPFLOAT val) {
    return call_member(stereo_ctrl_pan, ugen, &val).v_float;
  }

  static t_CPFLOAT pan(Chip_UGen* ugen) {
    return call_member(stereo_cget_pan, ugen, nullptr).v_float;
  }

  std::vector<Chip_Object*> objects;
};

TEST_F(XxxModuleTest, RegistersTheClassesAndTheOldNames) {
  struct Case {
    const char* name;
    const char* parent;
    unsigned long ins, outs;
  };
  const Case cases[] = {{"UGen_Multi", "UGen", 0, 1},  {"UGen_Stereo", "UGen_Multi", 2, 2},
                        {"DAC", "UGen_Stereo", 2, 2},  {"ADC", "UGen_Stereo", 0, 2},
                        {"Pan2", "UGen_Stereo", 2, 2}, {"Mix2", "UGen_Stereo", 2, 2},
                        {"Gain", "UGen", 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_Type* type = find_type(env, c.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, c.parent);
    ASSERT_NE(type->ugen_info, nullptr);
    EXPECT_NE(type->ugen_info, type->parent->ugen_info);
    EXPECT_EQ(type->ugen_info->num_ins, c.ins);
    EXPECT_EQ(type->ugen_info->num_outs, c.outs);
    EXPECT_EQ(type->ugen_info->tick, t_ugen.ugen_info->tick);  // inherited
    EXPECT_NE(env->global()->lookup_value(std::string(c.name), 0), nullptr);
  }
  EXPECT_EQ(g_t_dac, find_type(env, "DAC"));
  EXPECT_EQ(g_t_adc, find_type(env, "ADC"));

  // Only the two classes with constructors have native pre-constructors.
  Chip_Type* multi = find_type(env, "UGen_Multi");
  Chip_Type* stereo = find_type(env, "UGen_Stereo");
  ASSERT_NE(multi->info->pre_ctor, nullptr);
  EXPECT_EQ(multi->info->pre_ctor->native_func, reinterpret_cast<void*>(multi_ctor));
  ASSERT_NE(stereo->info->pre_ctor, nullptr);
  EXPECT_EQ(stereo->info->pre_ctor->native_func, reinterpret_cast<void*>(stereo_ctor));
  EXPECT_EQ(g_t_dac->info->pre_ctor, nullptr);

  const char* const renamed[][2] = {
      {"dac", "DAC"},           {"adc", "ADC"},           {"pan2", "Pan2"},
      {"mix2", "Mix2"},         {"gain", "Gain"},         {"noise", "Noise"},
      {"cnoise", "CNoise"},     {"impulse", "Impulse"},   {"step", "Step"},
      {"halfrect", "HalfRect"}, {"fullrect", "FullRect"}, {"zerox", "ZeroX"},
      {"delayp", "DelayP"},     {"sndbuf", "SndBuf"}};
  for (const auto& pair : renamed) {
    std::string to;
    EXPECT_TRUE(type_engine_get_deprecate(env, pair[0], to)) << pair[0];
    EXPECT_EQ(to, pair[1]);
  }

  // The stereo members follow the inherited data: two references, then the
  // hidden pan value.
  Chip_Value* left = type_engine_find_value(g_t_dac, std::string("left"));
  ASSERT_NE(left, nullptr);
  EXPECT_TRUE(isa(left->type, &t_ugen));
  EXPECT_EQ(static_cast<t_CPWORD>(left->offset), stereo_offset_left);
  EXPECT_EQ(static_cast<unsigned long>(stereo_offset_left), multi->obj_size);
  EXPECT_EQ(stereo_offset_right, stereo_offset_left + CHIP_WORD_SIZE);
  EXPECT_EQ(stereo_offset_pan, stereo_offset_right + CHIP_WORD_SIZE);
  EXPECT_EQ(stereo->obj_size, static_cast<unsigned long>(stereo_offset_pan) + sizeof(t_CPFLOAT));
  EXPECT_EQ(g_t_dac->obj_size, stereo->obj_size);
}

TEST_F(XxxModuleTest, StereoObjectsNameTheirChannels) {
  for (const char* name : {"DAC", "ADC", "Pan2", "Mix2"}) {
    SCOPED_TRACE(name);
    Chip_UGen* ugen = make(name);
    ASSERT_EQ(ugen->multi_chan_size, 2u);
    EXPECT_EQ(member(ugen, stereo_offset_left), ugen->multi_chan[0]);
    EXPECT_EQ(member(ugen, stereo_offset_right), ugen->multi_chan[1]);
    EXPECT_EQ(ugen->multi_chan[1]->owner, ugen);
    EXPECT_EQ(pan(ugen), 0.0);
    EXPECT_EQ(ugen->multi_chan[0]->pan, 1.0f);
    EXPECT_EQ(ugen->multi_chan[1]->pan, 1.0f);

    // chan(which): the channel node, null out of range, no count taken.
    const unsigned long count = ugen->multi_chan[0]->m_ref_count;
    const struct {
      t_CPINT which;
      Chip_Object* expected;
    } chans[] = {{0, ugen->multi_chan[0]},
                 {1, member(ugen, stereo_offset_right)},
                 {2, nullptr},
                 {-1, nullptr}};
    for (const auto& c : chans) EXPECT_EQ(chan(ugen, c.which), c.expected) << c.which;
    EXPECT_EQ(ugen->multi_chan[0]->m_ref_count, count);
  }
  EXPECT_EQ(make("DAC")->num_ins, 2u);
  EXPECT_EQ(make("ADC")->num_ins, 0u);

  // A stereo object with a single channel names itself twice and has no
  // channel to give.
  g_t_dac->ugen_info->num_ins = g_t_dac->ugen_info->num_outs = 1;
  Chip_UGen* mono = make("DAC");
  EXPECT_EQ(member(mono, stereo_offset_left), mono);
  EXPECT_EQ(member(mono, stereo_offset_right), mono);
  EXPECT_EQ(chan(mono, 0), nullptr);
  EXPECT_EQ(pan(mono, 0.5), 0.5);
}

TEST_F(XxxModuleTest, PanLawIsLinearWithFullLevelAtTheCentre) {
  Chip_UGen* pan2 = make("Pan2");
  const struct {
    t_CPFLOAT val, stored;
    SAMPLE left, right;
  } cases[] = {{-5.0, -1.0, 1.0f, 0.0f}, {0.25, 0.25, 0.75f, 1.0f}, {-0.5, -0.5, 1.0f, 0.5f},
               {0.0, 0.0, 1.0f, 1.0f},   {3.0, 1.0, 0.0f, 1.0f},    {1.0, 1.0, 0.0f, 1.0f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.val);
    EXPECT_EQ(pan(pan2, c.val), c.stored);
    EXPECT_FLOAT_EQ(pan2->multi_chan[0]->pan, c.left);
    EXPECT_FLOAT_EQ(pan2->multi_chan[1]->pan, c.right);
    EXPECT_EQ(pan(pan2), c.stored);
  }
}

TEST_F(XxxModuleTest, ScriptsUseTheClasses) {
  const struct {
    const char* source;
    bool ok;
    const char* printed;  // part of a printed line, or ""
  } cases[] = {
      {"Pan2 p => dac; p.pan(0.25) => float b; p.pan() => float c;\n"
       "p.left @=> UGen l; p.right @=> UGen r; p.chan(1) @=> UGen x;",
       true, ""},
      {"adc => Mix2 m => Gain g => dac; m.pan(-1.0); g.gain(0.5);", true, ""},
      {"DAC d; ADC a; UGen_Multi u; u.chan(0) @=> UGen x; d.left => a.right;", true, ""},
      {"Gain g; g.pan(0.5);", false, "pan"},
      {"Pan2 p; p.pan(\"left\");", false, "pan"},
      {"Pan2 p; p.chan();", false, "chan"},
      {"Pan2 p; p.chan(0.5);", false, "chan"},
      {"Pan2 p; p.left => float f;", false, ""},
      {"dac.left => blackhole; adc.chan(1) => dac.right; dac.pan() => float p;", true, ""},
      {"dac.chan(\"x\");", false, "chan"},
      {"sndbuf s;", false, "undefined type 'sndbuf'"},
      {"pan2 p; p.pan(0.5);", true, "deprecated: 'pan2' --> use: 'Pan2'..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    CheckResult result = check_program(c.source);
    EXPECT_EQ(result.ok, c.ok);
    std::string all;
    for (const std::string& line : result.lines) all += line + "\n";
    if (c.ok && !*c.printed) {
      EXPECT_TRUE(result.lines.empty()) << all;
    }
    EXPECT_NE(all.find(c.printed), std::string::npos) << all;
  }
}

// ---------------------------------------------------------------------------
// On a machine.

class XxxMachineTest : public vmtest::VMTest {
 protected:
  // Stereo frames a callback of the machines (make_rt_vm, play_ramp).
  static const t_CPUINT kFrames = 8;

  void TearDown() override {
    for (Chip_Object* obj : held) {
      static_cast<Chip_UGen*>(obj)->disconnect(TRUE);
      obj->release();
    }
    held.clear();
    vmtest::VMTest::TearDown();
  }

  std::vector<Chip_Object*> held;
};

TEST_F(XxxMachineTest, ShredMakesAPan2AndPansTheAdcIntoTheDac) {
  Chip_VM* vm = make_rt_vm(kFrames);
  ASSERT_NE(vm, nullptr);
  Chip_Type* pan2_type = find_type(env, "Pan2");
  ASSERT_NE(pan2_type, nullptr);
  Chip_Type* multi = find_type(env, "UGen_Multi");
  Chip_Type* stereo = find_type(env, "UGen_Stereo");

  // `pan` as the call instruction runs a native member: `this` and one
  // float argument.
  Chip_VM_Code* pan_code = code("pan", {});
  pan_code->native_func = reinterpret_cast<void*>(stereo_ctrl_pan);
  pan_code->native_func_type = Chip_VM_Code::NATIVE_MFUN;
  pan_code->need_this = TRUE;
  pan_code->stack_depth = sizeof(t_CPWORD) + sizeof(t_CPFLOAT);

  Chip_UGen* pan2 = nullptr;
  t_CPFLOAT returned = -99.0;
  Chip_VM_Code* script = code(
      "script", {new Chip_Instr_Reg_Push_Imm2(0.5), new Chip_Instr_Instantiate_Object(pan2_type),
                 new Chip_Instr_Pre_Constructor(multi->info->pre_ctor, 0),
                 new Chip_Instr_Pre_Constructor(stereo->info->pre_ctor, 0),
                 // adc => p => dac, holding p for the test; then p.pan(0.5).
                 new vmtest::Do([&](Chip_VM* v, Chip_VM_Shred* shred) {
                   pan2 = reinterpret_cast<Chip_UGen*>(chip_top_word(shred->reg));
                   pan2->add_ref();
                   held.push_back(pan2);
                   EXPECT_TRUE(pan2->add(v->adc(), 0));
                   EXPECT_TRUE(v->dac()->add(pan2, 0));
                   chip_push_ptr(shred->reg, pan_code);
                   chip_push_word(shred->reg, 0);
                 }),
                 new Chip_Instr_Func_Call_Member(sizeof(t_CPFLOAT)),
                 new vmtest::Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                   returned = chip_pop_float(shred->reg);
                 }),
                 // The shred lives on (its unit generators leave the graph with it).
                 new vmtest::Advance(1e6)});
  ASSERT_NE(vm->spork(script, nullptr), nullptr);

  std::vector<float> out = play_ramp(vm, kFrames);
  ASSERT_NE(pan2, nullptr);
  EXPECT_EQ(returned, 0.5);
  EXPECT_EQ(frame_member<t_CPFLOAT>(pan2, stereo_offset_pan), 0.5);
  // Left at 1 - 0.5, right at full level, channel to channel.
  for (t_CPUINT i = 0; i < kFrames; i++) {
    EXPECT_FLOAT_EQ(out[2 * i], 0.5f * static_cast<float>(i + 1)) << i;
    EXPECT_FLOAT_EQ(out[2 * i + 1], 10.0f * static_cast<float>(i + 1)) << i;
  }
}

TEST_F(XxxMachineTest, Mix2FoldsTheAdcIntoAGainThatFeedsBothDacChannels) {
  Chip_VM* vm = make_rt_vm(kFrames);
  ASSERT_NE(vm, nullptr);
  Chip_Type* mix2_type = find_type(env, "Mix2");
  Chip_Type* gain_type = find_type(env, "Gain");
  ASSERT_TRUE(mix2_type && gain_type);
  Chip_UGen* mix2 = static_cast<Chip_UGen*>(instantiate_and_initialize_object(mix2_type, nullptr));
  Chip_UGen* gain = static_cast<Chip_UGen*>(instantiate_and_initialize_object(gain_type, nullptr));
  ASSERT_TRUE(mix2 && gain);
  for (Chip_UGen* node : {mix2, gain}) {
    node->add_ref();
    held.push_back(node);
  }
  construct(mix2, mix2_type);
  EXPECT_EQ(gain->multi_chan_size, 0u);
  gain->gain = 0.5f;
  ASSERT_TRUE(mix2->add(vm->adc(), 0));
  ASSERT_TRUE(gain->add(mix2, 0));
  ASSERT_TRUE(vm->dac()->add(gain, 0));

  std::vector<float> out = play_ramp(vm, kFrames);
  // The mean of the two channels, halved, on both outputs.
  for (t_CPUINT i = 0; i < kFrames; i++) {
    const float expected = 0.5f * (11.0f * static_cast<float>(i + 1)) / 2.0f;
    EXPECT_FLOAT_EQ(out[2 * i], expected) << i;
    EXPECT_FLOAT_EQ(out[2 * i + 1], expected) << i;
  }
}

}  // namespace
