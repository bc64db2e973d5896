// The binding frame: a probe class registered through it (hidden state
// member, constructor, destructor, tick, a member reading packed arguments
// of every kind), seen by the type checker and run on its objects; and the
// error path of a registration.
#include "chip/vm/ugen_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

struct ProbeState {
  t_CPINT count = 0;
  t_CPFLOAT level = 1.0;
};

t_CPWORD probe_offset_data = FRAME_NO_OFFSET;

void probe_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  frame_set_state(SELF, probe_offset_data, new ProbeState);
}

void probe_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  delete frame_take_state<ProbeState>(SELF, probe_offset_data);
}

unsigned long probe_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  ProbeState* state = frame_state<ProbeState>(SELF, probe_offset_data);
  state->count++;
  *out = static_cast<SAMPLE>(in * state->level);
  return 1;
}

// `UGen set(int count, float level, UGen other)`: stores the first two,
// returns the third.
void probe_ctrl_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  ProbeState* state = frame_state<ProbeState>(SELF, probe_offset_data);
  void* cursor = ARGS;
  state->count = GET_NEXT_INT(cursor);
  state->level = GET_NEXT_FLOAT(cursor);
  RETURN->v_object = GET_NEXT_OBJECT(cursor);
}

void probe_cget_count(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = frame_state<ProbeState>(SELF, probe_offset_data)->count;
}

// The registration, in the frame's order.
t_CPBOOL probe_query(Chip_Env* env) {
  if (!type_engine_import_ugen_begin(env, "Probe", "UGen", env->global(), probe_ctor, probe_dtor,
                                     probe_tick, nullptr, 1, 1)) {
    return FALSE;
  }
  probe_offset_data = frame_import_state(env, "@probe_data");
  if (probe_offset_data == FRAME_NO_OFFSET) return frame_fail(env);
  if (!frame_import_mfun(env, "UGen", "set", probe_ctrl_set,
                         {{"int", "count"}, {"float", "level"}, {"UGen", "other"}}) ||
      !frame_import_mfun(env, "int", "count", probe_cget_count)) {
    return frame_fail(env);
  }
  return type_engine_import_class_end(env);
}

class FrameTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(probe_query(env));
    env->global()->commit();
    type = env->global()->lookup_type(std::string("Probe"), 0);
    ASSERT_NE(type, nullptr);
  }

  void TearDown() override {
    probe_offset_data = FRAME_NO_OFFSET;
    TypeCheckTest::TearDown();
  }

  Chip_Type* type = nullptr;
};

TEST_F(FrameTest, StateMemberFollowsTheInheritedDataAndIsHidden) {
  EXPECT_EQ(static_cast<unsigned long>(probe_offset_data), t_ugen.obj_size);
  EXPECT_EQ(type->obj_size, t_ugen.obj_size + CHIP_WORD_SIZE);
  const struct {
    const char* source;
    bool ok;
  } cases[] = {{"Probe p => dac; p.set(3, 0.5, p) @=> UGen u; p.count() => int c;", true},
               {"Probe p; p.set(3, 0.5);", false},
               {"Probe p; p.set(0.5, 3, p);", false},
               {"Probe p; p.count(1);", false}};
  for (const auto& c : cases) {
    CheckResult result = check_program(c.source);
    EXPECT_EQ(result.ok, c.ok) << c.source;
  }
}

TEST_F(FrameTest, ObjectsLiveThroughTheirStateRecord) {
  Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
  ASSERT_NE(obj, nullptr);
  obj->add_ref();
  Chip_UGen* ugen = frame_ugen(obj);
  EXPECT_EQ(frame_state<ProbeState>(obj, probe_offset_data), nullptr);

  ASSERT_NE(type->info->pre_ctor, nullptr);
  reinterpret_cast<f_ctor>(type->info->pre_ctor->native_func)(obj, nullptr, nullptr);
  ProbeState* state = frame_state<ProbeState>(obj, probe_offset_data);
  ASSERT_NE(state, nullptr);

  // Packed arguments: an int word, a double, an object word.
  unsigned char args[3 * 8];
  const t_CPWORD count = -7;
  const t_CPFLOAT level = 0.25;
  std::memcpy(args, &count, sizeof count);
  std::memcpy(args + sizeof count, &level, sizeof level);
  std::memcpy(args + sizeof count + sizeof level, &obj, sizeof obj);
  Chip_DL_Return ret;
  probe_ctrl_set(obj, args, &ret, nullptr);
  EXPECT_EQ(ret.v_object, obj);
  EXPECT_EQ(state->count, -7);
  EXPECT_EQ(state->level, 0.25);

  // The class's tick reads the record.
  SAMPLE out = 0.0f;
  EXPECT_EQ(ugen->tick(obj, 2.0f, &out, nullptr), 1u);
  EXPECT_EQ(out, 0.5f);
  probe_cget_count(obj, nullptr, &ret, nullptr);
  EXPECT_EQ(ret.v_int, -6);

  // The last release runs the class's destructor, which frees the record
  // (the leak checker sees it otherwise); an object whose constructor never
  // ran holds 0, and its destructor has nothing to free.
  ASSERT_NE(type->info->dtor, nullptr);
  obj->release();
  Chip_Object* bare = instantiate_and_initialize_object(type, nullptr);
  ASSERT_NE(bare, nullptr);
  bare->add_ref();
  EXPECT_EQ(frame_member<t_CPWORD>(bare, probe_offset_data), 0);
  bare->release();
}

TEST_F(FrameTest, ErrorPathClosesTheOpenClass) {
  ASSERT_NE(type_engine_import_ugen_begin(env, "Broken", "UGen", env->global(), nullptr, nullptr,
                                          nullptr, nullptr),
            nullptr);
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_EQ(frame_import_mvar(env, "NoSuchType", "x"), FRAME_NO_OFFSET);
    EXPECT_FALSE(frame_fail(env));
  });
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(env->class_def, nullptr);
  EXPECT_EQ(env->curr, env->global());
  // Nothing is open any more.
  lines = printed_lines([&] { EXPECT_FALSE(type_engine_import_class_end(env)); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("import: too many class_end called..."), std::string::npos) << lines[0];
}

// A declared class renders a block through the frame's loop over its tick,
// frame for frame as per sample: a Frame_Error silences the object from
// the frame that raised it (reported once), and anything else a tick throws
// ends the block at its frame (reported, for the graph to silence the
// node there).
class Countdown : public Frame_Obj {
 public:
  int left = 0;      // ticks before the fault
  bool bare = false;  // the fault is not a Frame_Error
};

t_CPWORD countdown_offset = FRAME_NO_OFFSET;

SAMPLE countdown_tick(Frame_Slot& s, SAMPLE in) {
  Countdown& c = s.as<Countdown>();
  if (c.left-- == 0) {
    if (c.bare) throw std::runtime_error("bare fault");
    throw Frame_Error("counted down");
  }
  return in * 2.0f;
}

const Frame_Class_Desc kCountdown = {
    .name = "Countdown",
    .parent = "UGen",
    .data_member = "@countdown_data",
    .offset = &countdown_offset,
    .make = [](Chip_Object*) -> Frame_Obj* { return new Countdown; },
    .tick = countdown_tick,
};

TEST_F(FrameTest, ABlockTickFaultsAtTheFrameItsTickWould) {
  Chip_Type* countdown = frame_import_class(env, &kCountdown);
  ASSERT_NE(countdown, nullptr);
  ASSERT_NE(countdown->ugen_info->tick_v, nullptr);
  EXPECT_EQ(countdown->ugen_info->block, static_cast<unsigned long>(CHIP_BLOCK_EXACT));
  const SAMPLE in[6] = {1, 2, 3, 4, 5, 6};
  for (bool bare : {false, true}) {
    SCOPED_TRACE(bare ? "bare" : "frame error");
    Chip_Object* objs[2];
    for (Chip_Object*& obj : objs) {
      obj = instantiate_and_initialize_object(countdown, nullptr);
      ASSERT_NE(obj, nullptr);
      obj->add_ref();
      reinterpret_cast<f_ctor>(countdown->info->pre_ctor->native_func)(obj, nullptr, nullptr);
      auto* c = static_cast<Countdown*>(frame_object(obj, countdown_offset));
      c->left = 3;
      c->bare = bare;
    }
    // Per sample, with the graph's guard around each tick.
    Chip_UGen* one = frame_ugen(objs[0]);
    SAMPLE per_sample[6];
    int faults = 0;
    std::vector<std::string> lines = printed_lines([&] {
      for (int j = 0; j < 6; j++) {
        unsigned long valid = 0;
        if (!chip_dl_call_tick(one->tick, objs[0], in[j], &per_sample[j], nullptr, &valid)) {
          faults++;
          per_sample[j] = 0.0f;
        }
      }
    });
    EXPECT_EQ(lines.size(), 1u);
    // A block.
    SAMPLE block[6] = {9, 9, 9, 9, 9, 9};
    unsigned long made = 0;
    lines = printed_lines(
        [&] { made = frame_ugen(objs[1])->tick_v(objs[1], in, block, 6, nullptr); });
    EXPECT_EQ(lines.size(), 1u);
    if (bare) {
      // The block ends at the fault; the graph silences the node from there.
      EXPECT_EQ(made, 3u);
      EXPECT_GE(faults, 1);
      for (int j = 0; j < 3; j++) EXPECT_EQ(block[j], per_sample[j]);
    } else {
      EXPECT_EQ(made, 6u);
      EXPECT_EQ(faults, 0);
      for (int j = 0; j < 6; j++) EXPECT_EQ(block[j], per_sample[j]) << "frame " << j;
      EXPECT_EQ(block[3], 0.0f);
      EXPECT_EQ(block[5], 0.0f);
    }
    for (Chip_Object* obj : objs) obj->release();
  }
  countdown_offset = FRAME_NO_OFFSET;
}

}  // namespace
