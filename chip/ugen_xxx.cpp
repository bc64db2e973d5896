// The xxx module: the multichannel classes behind dac and adc.
#include "chip/ugen_xxx.h"

#include <string>

#include "chip/chip_errmsg.h"
#include "chip/chip_type.h"
#include "chip/chip_ugen.h"

// The module's sampling rate, copied from the registration.
static t_CPUINT g_srate = 0;

Chip_Type* g_t_dac = nullptr;
Chip_Type* g_t_adc = nullptr;

t_CPWORD stereo_offset_left = -1;
t_CPWORD stereo_offset_right = -1;
t_CPWORD stereo_offset_pan = -1;

namespace {

// The plain unit generator's tick: its output is its input.
//
// TODO(built-in classes): the UGen class's own registration brings the
// default tick and the UGen and UAna descriptions; until then they are
// given here, only when missing.
unsigned long passthrough_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)SHRED;
  *out = in;
  return 1;
}

void ensure_base_info(Chip_Type* type) {
  if (type->ugen_info) return;
  // Process-wide like the type itself.
  Chip_UGen_Info* info = new Chip_UGen_Info();
  info->tick = passthrough_tick;
  info->add_ref();
  type->ugen_info = info;
}

// Counts given as this keep the parent's.
const unsigned long kInherit = static_cast<unsigned long>(-1);

// Opens a unit-generator class `name` under `parent` in the global
// namespace: the type, its member namespace (continuing the parent's data
// and virtual table), its description (the parent's tick, pmsg and counts,
// replaced by the counts given) and the value that names the class.
//
// TODO(module interface): type_engine_import_ugen_begin takes this over,
// with the class's native constructor code.
Chip_Type* begin_ugen_class(Chip_Env* env, const std::string& name, Chip_Type* parent,
                            unsigned long num_ins, unsigned long num_outs) {
  Chip_Context& ctx = env->global_context;
  Chip_Namespace* where = env->global();

  Chip_Type* type = ctx.new_Chip_Type();
  type->id = te_user;
  type->name = name;
  type->parent = parent;
  type->size = CHIP_WORD_SIZE;
  type->owner = where;
  where->add_ref();
  type->is_complete = TRUE;
  type->info = ctx.new_Chip_Namespace();
  type->info->add_ref();
  type->info->name = name;
  type->info->parent = where;
  type->info->offset = parent->obj_size;
  if (parent->info) type->info->obj_v_table.funcs = parent->info->obj_v_table.funcs;

  // The description belongs to the global context, like the type (its
  // records are deleted with the context, whatever their counts).
  Chip_UGen_Info* info = new Chip_UGen_Info();
  info->registry = &ctx.new_types;
  ctx.new_types.push_back(info);
  info->add_ref();
  const Chip_UGen_Info* inherited = parent->ugen_info;
  if (inherited) {
    info->tick = inherited->tick;
    info->pmsg = inherited->pmsg;
    info->num_ins = inherited->num_ins;
    info->num_outs = inherited->num_outs;
  }
  if (num_ins != kInherit) info->num_ins = num_ins;
  if (num_outs != kInherit) info->num_outs = num_outs;
  type->ugen_info = info;

  where->type.add(name, type);

  // The class as a value: a copy of Class whose array_type is the class.
  Chip_Type* class_type = ctx.new_Chip_Type();
  class_type->id = t_class.id;
  class_type->name = t_class.name;
  class_type->parent = t_class.parent;
  class_type->size = t_class.size;
  class_type->owner = where;
  class_type->info = t_class.info;
  if (class_type->info) class_type->info->add_ref();
  class_type->is_copy = TRUE;
  class_type->array_type = type;
  Chip_Value* value = ctx.new_Chip_Value(class_type, name);
  value->is_const = TRUE;
  value->owner = where;
  where->value.add(name, value);
  return type;
}

// A member variable of the open class; returns its offset.
t_CPWORD add_member(Chip_Env* env, Chip_Type* type, Chip_Type* member_type,
                    const std::string& name) {
  Chip_Value* value = env->global_context.new_Chip_Value(member_type, name);
  value->is_member = TRUE;
  value->owner = type->info;
  value->owner_class = type;
  value->offset = type->info->offset;
  type->info->offset += member_type->size;
  type->info->value.add(name, value);
  return static_cast<t_CPWORD>(value->offset);
}

void end_ugen_class(Chip_Type* type) {
  type->obj_size = type->info->offset;
  type->info->commit();
}

// The object's word at a member offset.
inline t_CPWORD& member_word(Chip_Object* obj, t_CPWORD offset) {
  return *reinterpret_cast<t_CPWORD*>(obj->data + offset);
}

}  // namespace

t_CPBOOL xxx_query_multichannel(Chip_Env* env, t_CPUINT srate) {
  g_srate = srate;
  CHIP_CHECK(env != NULL);
  Chip_Namespace* where = env->global();
  for (c_constr name : {"UGen_Multi", "UGen_Stereo", "DAC", "ADC"}) {
    if (where->lookup_type(std::string(name), 0)) {
      EM_error2(0, "class import: class/type '%s' is already defined in namespace '%s'", name,
                where->name.c_str());
      return FALSE;
    }
  }

  ensure_base_info(&t_ugen);
  ensure_base_info(&t_uana);

  type_engine_register_deprecate(env, "dac", "DAC");
  type_engine_register_deprecate(env, "adc", "ADC");

  Chip_Type* multi = begin_ugen_class(env, "UGen_Multi", &t_ugen, 0, kInherit);
  end_ugen_class(multi);

  Chip_Type* stereo = begin_ugen_class(env, "UGen_Stereo", multi, 2, 2);
  t_CPWORD left = add_member(env, stereo, &t_ugen, "left");
  t_CPWORD right = add_member(env, stereo, &t_ugen, "right");
  t_CPWORD pan = add_member(env, stereo, &t_float, "@pan");
  end_ugen_class(stereo);

  Chip_Type* dac = begin_ugen_class(env, "DAC", stereo, 2, 2);
  end_ugen_class(dac);
  Chip_Type* adc = begin_ugen_class(env, "ADC", stereo, 0, 2);
  end_ugen_class(adc);

  // Classes declared by a module are there for every later file.
  where->type.commit();
  where->value.commit();

  stereo_offset_left = left;
  stereo_offset_right = right;
  stereo_offset_pan = pan;
  g_t_dac = dac;
  g_t_adc = adc;
  return TRUE;
}

void xxx_forget_types() {
  g_t_dac = nullptr;
  g_t_adc = nullptr;
  stereo_offset_left = stereo_offset_right = stereo_offset_pan = -1;
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
  Chip_UGen* ugen = static_cast<Chip_UGen*>(SELF);
  // An int argument: 32 bits, kept sign-extended in its word.
  t_CPINT which = static_cast<t_CPINT>(*static_cast<t_CPWORD*>(ARGS));
  if (which < 0 || static_cast<unsigned long>(which) >= ugen->multi_chan_size) {
    RETURN->v_object = nullptr;
  } else {
    RETURN->v_object = ugen->multi_chan[which];
  }
}

// ---------------------------------------------------------------------------
// UGen_Stereo

void stereo_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  CHIP_CHECK(stereo_offset_left >= 0 && stereo_offset_right >= 0);
  Chip_UGen* ugen = static_cast<Chip_UGen*>(SELF);
  // The members name the channels without holding them (the object does).
  if (ugen->multi_chan_size > 0) {
    member_word(SELF, stereo_offset_left) = reinterpret_cast<t_CPWORD>(ugen->multi_chan[0]);
    member_word(SELF, stereo_offset_right) =
        reinterpret_cast<t_CPWORD>(ugen->multi_chan_size > 1 ? ugen->multi_chan[1] : nullptr);
  } else {
    member_word(SELF, stereo_offset_left) = reinterpret_cast<t_CPWORD>(ugen);
    member_word(SELF, stereo_offset_right) = reinterpret_cast<t_CPWORD>(ugen);
  }
}

void stereo_ctrl_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  CHIP_CHECK(stereo_offset_pan >= 0);
  Chip_UGen* ugen = static_cast<Chip_UGen*>(SELF);
  t_CPFLOAT b = *static_cast<t_CPFLOAT*>(ARGS);
  if (b < -1.0) b = -1.0;
  if (b > 1.0) b = 1.0;
  *reinterpret_cast<t_CPFLOAT*>(SELF->data + stereo_offset_pan) = b;
  // Linear law: the centre leaves both channels at full level.
  Chip_UGen* left = ugen->multi_chan_size > 0 ? ugen->multi_chan[0] : nullptr;
  Chip_UGen* right = ugen->multi_chan_size > 1 ? ugen->multi_chan[1] : nullptr;
  if (left) left->pan = static_cast<SAMPLE>(b < 0.0 ? 1.0 : 1.0 - b);
  if (right) right->pan = static_cast<SAMPLE>(b > 0.0 ? 1.0 : 1.0 + b);
  RETURN->v_float = b;
}

void stereo_cget_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  CHIP_CHECK(stereo_offset_pan >= 0);
  RETURN->v_float = *reinterpret_cast<t_CPFLOAT*>(SELF->data + stereo_offset_pan);
}
