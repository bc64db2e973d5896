// The multichannel unit generators: registration, channels and the pan law.
#include "chip/vm/ugen_multi.h"

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD stereo_offset_left = FRAME_NO_OFFSET;
t_CPWORD stereo_offset_right = FRAME_NO_OFFSET;
t_CPWORD stereo_offset_pan = FRAME_NO_OFFSET;

namespace {

// A stereo class without behaviour of its own; its type, or null when the
// class could not be made (the query then fails).
Chip_Type* import_stereo_kind(Chip_Env* env, const char* name, unsigned long ins,
                              unsigned long outs) {
  Chip_Type* type = type_engine_import_ugen_begin(env, name, "UGen_Stereo", env->global(), nullptr,
                                                  nullptr, nullptr, nullptr, ins, outs);
  if (!type) return nullptr;
  if (!type_engine_import_class_end(env)) return nullptr;
  return type;
}

// The channel node i of a stereo object, or null.
Chip_UGen* channel(Chip_UGen* ugen, unsigned long i) {
  return i < ugen->multi_chan_size ? ugen->multi_chan[i] : nullptr;
}

}  // namespace

t_CPBOOL multi_import_classes(Chip_Env* env) {
  // UGen_Multi: no inputs, the parent's outputs; `chan`.
  if (!type_engine_import_ugen_begin(env, "UGen_Multi", "UGen", env->global(), multi_ctor, nullptr,
                                     nullptr, nullptr, 0, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  if (!frame_import_mfun(env, "UGen", "chan", multi_cget_chan, {{"int", "which"}})) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  // UGen_Stereo: two channels named by `left` and `right`; `pan`.
  if (!type_engine_import_ugen_begin(env, "UGen_Stereo", "UGen_Multi", env->global(), stereo_ctor,
                                     nullptr, nullptr, nullptr, 2, 2)) {
    return FALSE;
  }
  t_CPWORD left = frame_import_mvar(env, "UGen", "left");
  if (left == FRAME_NO_OFFSET) return frame_fail(env);
  t_CPWORD right = frame_import_mvar(env, "UGen", "right");
  if (right == FRAME_NO_OFFSET) return frame_fail(env);
  t_CPWORD pan = frame_import_state(env, "@pan", "float");
  if (pan == FRAME_NO_OFFSET) return frame_fail(env);
  stereo_offset_left = left;
  stereo_offset_right = right;
  stereo_offset_pan = pan;
  if (!frame_import_mfun(env, "float", "pan", stereo_ctrl_pan, {{"float", "val"}}) ||
      !frame_import_mfun(env, "float", "pan", stereo_cget_pan)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  Chip_Type* dac = import_stereo_kind(env, "DAC", 2, 2);
  if (!dac) return FALSE;
  g_t_dac = dac;
  Chip_Type* adc = import_stereo_kind(env, "ADC", 0, 2);
  if (!adc) return FALSE;
  g_t_adc = adc;
  if (!import_stereo_kind(env, "Pan2", 2, 2)) return FALSE;
  if (!import_stereo_kind(env, "Mix2", 2, 2)) return FALSE;

  // Gain: a plain unit generator (input times gain).
  if (!type_engine_import_ugen_begin(env, "Gain", "UGen", env->global(), nullptr, nullptr, nullptr,
                                     nullptr, CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  return TRUE;
}

void multi_forget_types() {
  g_t_dac = nullptr;
  g_t_adc = nullptr;
  stereo_offset_left = stereo_offset_right = stereo_offset_pan = FRAME_NO_OFFSET;
}

// ---------------------------------------------------------------------------
// UGen_Multi

void multi_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)ARGS;
  (void)SHRED;
}

void multi_cget_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Chip_UGen* ugen = frame_ugen(SELF);
  void* cursor = ARGS;
  t_CPINT which = GET_NEXT_INT(cursor);
  RETURN->v_object = which < 0 ? nullptr : channel(ugen, static_cast<unsigned long>(which));
}

// ---------------------------------------------------------------------------
// UGen_Stereo

void stereo_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
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

void stereo_ctrl_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
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

void stereo_cget_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  RETURN->v_float = frame_member<t_CPFLOAT>(SELF, stereo_offset_pan);
}

