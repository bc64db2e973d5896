// The front door's own functions: thin calls into the layers that do the
// work (the machine, the audio facade, the type system's import interface,
// the binding frame).
#include "chip/chip.h"

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_vm.h"

void chip_stop_machine(Chip_VM* machine) {
  if (machine) machine->stop();
}

void chip_set_audio_device(Chip_Audio_Device* device) { Digitalio::set_device(device); }

Chip_Env* chip_env() { return Chip_Env::instance(); }

t_CPBOOL chip_class_begin(Chip_Env* env, const char* name, const char* parent, f_ctor ctor,
                          f_dtor dtor) {
  if (!env) return FALSE;
  return type_engine_import_class_begin(env, name, parent, env->global(), ctor, dtor) != nullptr;
}

t_CPBOOL chip_class_end(Chip_Env* env) { return env && type_engine_import_class_end(env); }

t_CPBOOL chip_import_classes(Chip_Env* env, const Frame_Class_Desc* rows, size_t count) {
  return env && frame_import_classes(env, rows, count);
}
