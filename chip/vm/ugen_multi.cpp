// The multichannel unit generators: registration, channels and the pan law.
#include "chip/vm/ugen_multi.h"

#include <cstring>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD stereo_offset_left = FRAME_NO_OFFSET;
t_CPWORD stereo_offset_right = FRAME_NO_OFFSET;
t_CPWORD stereo_offset_pan = FRAME_NO_OFFSET;

namespace {

// The channel node i of a stereo object, or null.
Chip_UGen* channel(Chip_UGen* ugen, unsigned long i) {
  return i < ugen->multi_chan_size ? ugen->multi_chan[i] : nullptr;
}

const Frame_Member kMultiMembers[] = {
    frame_native("chan", "UGen", multi_cget_chan, {"int", "which"}),
};

const Frame_Var kStereoVars[] = {
    {"UGen", "left", &stereo_offset_left},
    {"UGen", "right", &stereo_offset_right},
    {"float", "@pan", &stereo_offset_pan},
};

const Frame_Member kStereoMembers[] = {
    frame_native("pan", "float", stereo_ctrl_pan, {"float", "val"}),
    frame_native("pan", "float", stereo_cget_pan),
};

// Rows without a native object: the classes act on the language object and
// its channel nodes.
const Frame_Class_Desc kMultiClasses[] = {
    {.name = "UGen_Multi", .parent = "UGen", FRAME_MEMBER_FIELDS(kMultiMembers), .ins = 0,
     .native_ctor = multi_ctor},
    {.name = "UGen_Stereo", .parent = "UGen_Multi", FRAME_MEMBER_FIELDS(kStereoMembers), .ins = 2,
     .outs = 2, .native_ctor = stereo_ctor, .vars = kStereoVars,
     .var_count = sizeof kStereoVars / sizeof kStereoVars[0]},
    {.name = "DAC", .parent = "UGen_Stereo", .ins = 2, .outs = 2},
    {.name = "ADC", .parent = "UGen_Stereo", .ins = 0, .outs = 2},
    {.name = "Pan2", .parent = "UGen_Stereo", .ins = 2, .outs = 2},
    {.name = "Mix2", .parent = "UGen_Stereo", .ins = 2, .outs = 2},
    // Gain: a plain unit generator (input times gain).
    {.name = "Gain", .parent = "UGen"},
};

}  // namespace

t_CPBOOL multi_import_classes(Chip_Env* env) {
  for (const Frame_Class_Desc& desc : kMultiClasses) {
    Chip_Type* type = frame_import_class(env, &desc);
    if (!type) return FALSE;
    if (std::strcmp(desc.name, "DAC") == 0) g_t_dac = type;
    if (std::strcmp(desc.name, "ADC") == 0) g_t_adc = type;
  }
  return TRUE;
}

void multi_forget_types() {
  g_t_dac = nullptr;
  g_t_adc = nullptr;
  stereo_offset_left = stereo_offset_right = stereo_offset_pan = FRAME_NO_OFFSET;
}

// ---------------------------------------------------------------------------
// UGen_Multi

void multi_ctor(Chip_Object*, void*, Chip_VM_Shred*) {}

void multi_cget_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_UGen* ugen = frame_ugen(SELF);
  void* cursor = ARGS;
  t_CPINT which = GET_NEXT_INT(cursor);
  RETURN->v_object = which < 0 ? nullptr : channel(ugen, static_cast<unsigned long>(which));
}

// ---------------------------------------------------------------------------
// UGen_Stereo

void stereo_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  Chip_UGen* ugen = frame_ugen(SELF);
  // The members name the channels without holding them (the object does).
  Chip_UGen* left = ugen;
  Chip_UGen* right = ugen;
  if (ugen->multi_chan_size > 0) {
    left = channel(ugen, 0);
    right = channel(ugen, 1);
  }
  frame_member<Chip_Object*>(SELF, stereo_offset_left) = left;
  frame_member<Chip_Object*>(SELF, stereo_offset_right) = right;
}

void stereo_ctrl_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_UGen* ugen = frame_ugen(SELF);
  void* cursor = ARGS;
  t_CPFLOAT b = GET_NEXT_FLOAT(cursor);
  if (b < -1.0) b = -1.0;
  if (b > 1.0) b = 1.0;
  frame_member<t_CPFLOAT>(SELF, stereo_offset_pan) = b;
  // Linear law: the centre leaves both channels at full level.
  if (Chip_UGen* left = channel(ugen, 0)) left->pan = static_cast<SAMPLE>(b < 0.0 ? 1.0 : 1.0 - b);
  if (Chip_UGen* right = channel(ugen, 1)) {
    right->pan = static_cast<SAMPLE>(b > 0.0 ? 1.0 : 1.0 + b);
  }
  RETURN->v_float = b;
}

void stereo_cget_pan(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = frame_member<t_CPFLOAT>(SELF, stereo_offset_pan);
}

