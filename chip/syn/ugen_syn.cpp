// The toolkit module: the class order, the language class SynInstrument
// and the module's query and shutdown hook.
#include "chip/syn/ugen_syn.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"

t_CPWORD Instrmnt_offset_data = FRAME_NO_OFFSET;

namespace {

// The module's classes in registration order.
const char* const kClassNames[] = {
    "SynInstrument", "BandedWG", "BlowBotl",  "BlowHole", "Bowed",    "Brass",    "Clarinet",
    "Flute",         "Mandolin", "ModalBar",  "Moog",     "Saxofony", "Shakers",  "Sitar",
    "StifKarp",      "VoicForm", "FM",        "BeeThree", "FMVoices", "HevyMetl", "PercFlut",
    "Rhodey",        "TubeBell", "Wurley",    "Delay",    "DelayA",   "DelayL",   "Echo",
    "Envelope",      "ADSR",     "FilterSyn", "OnePole",  "TwoPole",  "OneZero",  "TwoZero",
    "PoleZero",      "JCRev",    "NRev",      "KestRev",  "Chorus",   "Modulate", "PitShift",
    "SubNoise",      "WvIn",     "WaveLoop",  "WvOut",    "BLT",      "Blit",     "BlitSaw",
    "BlitSquare",    "JetTabl",  "Mesh2D"};
constexpr size_t kClassCount = sizeof kClassNames / sizeof kClassNames[0];
static_assert(kClassCount == 52, "the toolkit module has 52 classes");

// ---------------------------------------------------------------------------
// SynInstrument: the frame of every instrument (Instrmnt).

const Frame_Member kInstrumentMembers[] = {
    frame_method("noteOn", "float",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 Instrmnt& in = s.as<Instrmnt>();
                 in.noteOn(static_cast<float>(in.m_frequency),
                           static_cast<float>(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    frame_method("noteOff", "float",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 s.as<Instrmnt>().noteOff(static_cast<float>(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          Instrmnt& in = s.as<Instrmnt>();
          in.setFrequency(static_cast<float>(v));
          return in.m_frequency;
        },
        [](Frame_Slot& s) { return s.as<Instrmnt>().m_frequency; }),
    frame_method("controlChange", "void",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 t_CPINT number = GET_NEXT_INT(args);
                 double value = GET_NEXT_FLOAT(args);
                 s.as<Instrmnt>().controlChange(number, static_cast<float>(value));
               },
               {"int", "ctrl"}, {"float", "value"}),
};

const Frame_Class_Desc kInstrument[] = {
    {"SynInstrument", "UGen", "@Instrmnt_data", &Instrmnt_offset_data, nullptr,
     [](Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }, frame_pmsg_true,
     FRAME_MEMBERS(kInstrumentMembers)},
};

const Frame_Class_Desc* instrument_classes(size_t* count) {
  *count = sizeof kInstrument / sizeof kInstrument[0];
  return kInstrument;
}

// The families syn_query asks for descriptors.
typedef const Frame_Class_Desc* (*Syn_Family)(size_t* count);
const Syn_Family kFamilies[] = {
    instrument_classes, syn_envelope_classes, syn_noise_classes,     syn_tables_classes,
    syn_filter_classes, syn_delay_classes,    syn_reverb_classes,    syn_soundfile_classes,
    syn_fm_classes,
    // modal, sampler, formant and shaker classes
    syn_modal_classes,
    // wind instruments
    syn_wind_classes,
    // strings, banded waveguide, mesh and band-limited oscillators
    syn_strings_classes,
};

}  // namespace

namespace {

// The descriptor of the named class among the families, or null.
const Frame_Class_Desc* find_class(const char* name) {
  for (Syn_Family family : kFamilies) {
    size_t count = 0;
    const Frame_Class_Desc* descs = family(&count);
    for (size_t i = 0; i < count; i++) {
      if (std::strcmp(descs[i].name, name) == 0) return &descs[i];
    }
  }
  return nullptr;
}

}  // namespace

const char* const* syn_class_names(size_t* count) {
  *count = kClassCount;
  return kClassNames;
}

// ---------------------------------------------------------------------------
// The module.

t_CPBOOL syn_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  if (QUERY->srate > 0) Syn::srate = static_cast<float>(QUERY->srate);
  little_endian = 1;

  for (const char* name : kClassNames) {
    const Frame_Class_Desc* desc = find_class(name);
    if (!desc) continue;  // its family is not built yet
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
