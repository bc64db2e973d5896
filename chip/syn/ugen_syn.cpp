// The toolkit module: the classes in their order, the language class
// SynInstrument and the module's query and shutdown hook.
#include "chip/syn/ugen_syn.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"

t_CPWORD Instrmnt_offset_data = FRAME_NO_OFFSET;

namespace {

// ---------------------------------------------------------------------------
// SynInstrument: the frame of every instrument (Instrmnt).

const Frame_Member kInstrumentMembers[] = {
    frame_method("noteOn", "float",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 Instrmnt& in = s.as<Instrmnt>();
                 in.noteOn(syn_float(in.m_frequency), syn_float(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    frame_method("noteOff", "float",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 s.as<Instrmnt>().noteOff(syn_float(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          Instrmnt& in = s.as<Instrmnt>();
          in.setFrequency(syn_float(v));
          return in.m_frequency;
        },
        [](Frame_Slot& s) { return s.as<Instrmnt>().m_frequency; }),
    frame_method("controlChange", "void",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 t_CPINT number = GET_NEXT_INT(args);
                 double value = GET_NEXT_FLOAT(args);
                 s.as<Instrmnt>().controlChange(number, syn_float(value));
               },
               {"int", "ctrl"}, {"float", "value"}),
};

}  // namespace

SYN_CLASS(SynInstrument) = {
    "SynInstrument", "UGen", "@Instrmnt_data", &Instrmnt_offset_data, nullptr,
    [](Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }, frame_pmsg_true,
    FRAME_MEMBERS(kInstrumentMembers)};

namespace {

// The module's classes in registration order.
#define SYN_CLASS_ADDRESS(name) &syn_class_##name,
const Frame_Class_Desc* const kClasses[] = {SYN_CLASSES(SYN_CLASS_ADDRESS)};
#undef SYN_CLASS_ADDRESS
constexpr size_t kClassCount = sizeof kClasses / sizeof kClasses[0];

}  // namespace

const char* const* syn_class_names(size_t* count) {
  // Read from the descriptors on first use (they belong to other files).
  static const std::array<const char*, kClassCount> names = [] {
    std::array<const char*, kClassCount> out{};
    for (size_t i = 0; i < kClassCount; i++) out[i] = kClasses[i]->name;
    return out;
  }();
  *count = kClassCount;
  return names.data();
}

// ---------------------------------------------------------------------------
// The module.

t_CPBOOL syn_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  if (QUERY->srate > 0) Syn::srate = static_cast<float>(QUERY->srate);
  little_endian = 1;

  for (const Frame_Class_Desc* desc : kClasses) {
    if (!frame_import_class(env, desc)) return FALSE;
  }
  return TRUE;
}

t_CPBOOL syn_detach(t_CPUINT type, void* data) {
  (void)type;
  (void)data;
  EM_log(CP_LOG_INFO, "(via SYN): detaching file handles...");
  syn_close_open_writers();
  return TRUE;
}
