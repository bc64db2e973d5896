// The binding frame of the native unit-generator modules.
#include "chip/vm/ugen_frame.h"

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"

unsigned char* frame_member_addr(Chip_Object* self, t_CPWORD offset, size_t bytes) {
  CHIP_CHECK(self != NULL);
  CHIP_CHECK(offset != FRAME_NO_OFFSET && offset >= 0);
  CHIP_CHECK(self->data != NULL);
  CHIP_CHECK(static_cast<t_CPUWORD>(offset) + bytes <= self->size);
  return self->data + offset;
}

Chip_UGen* frame_ugen(Chip_Object* self) {
  CHIP_CHECK(self != NULL);
  return static_cast<Chip_UGen*>(self);
}

t_CPWORD frame_import_mvar(Chip_Env* env, const char* type, const char* name) {
  unsigned long offset = type_engine_import_mvar(env, type, name, FALSE);
  if (offset == CHIP_IMPORT_BAD_OFFSET) return FRAME_NO_OFFSET;
  return static_cast<t_CPWORD>(offset);
}

t_CPWORD frame_import_state(Chip_Env* env, const char* name, const char* type) {
  CHIP_CHECK(name != NULL && name[0] == '@');
  return frame_import_mvar(env, type, name);
}

namespace {

// Fills the function record's arguments, imports it and drops the record
// (the import keeps what it needs).
t_CPBOOL import_func(Chip_Env* env, Chip_DL_Func* fun, std::initializer_list<Frame_Arg> args,
                     bool is_static) {
  for (const Frame_Arg& arg : args) fun->add_arg(arg.type, arg.name);
  t_CPBOOL ok = is_static ? type_engine_import_sfun(env, fun) : type_engine_import_mfun(env, fun);
  delete fun;
  return ok;
}

}  // namespace

t_CPBOOL frame_import_mfun(Chip_Env* env, const char* type, const char* name, f_mfun fn,
                           std::initializer_list<Frame_Arg> args) {
  return import_func(env, make_new_mfun(type, name, fn), args, false);
}

t_CPBOOL frame_import_sfun(Chip_Env* env, const char* type, const char* name, f_sfun fn,
                           std::initializer_list<Frame_Arg> args) {
  return import_func(env, make_new_sfun(type, name, fn), args, true);
}

t_CPBOOL frame_fail(Chip_Env* env) {
  type_engine_import_class_end(env);
  return FALSE;
}
