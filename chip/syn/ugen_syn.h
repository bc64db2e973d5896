// The toolkit module ("syn"): every toolkit class (chip/syn/syn*.h) enters
// the language as a unit generator declared through the binding frame
// (chip/vm/ugen_frame.h).
//
// The module's classes are one list, SYN_CLASSES below, in the order they
// are registered. Each family source (ugen_syn_envelope.cpp ...) defines
// the descriptor of each of its classes as a Frame_Class_Desc row,
// SYN_CLASS(Name) = {...}; syn_query registers the descriptors in the
// list's order, and the class names and their count follow from it. A class
// is added by one line in the list and its row: a listed class without a
// row does not link, a row of a class not listed does not compile.
//
// Toolkit objects are Syn objects (Syn derives from Frame_Obj) and the
// toolkit's SynError is a Frame_Error: the frame's guard catches it around
// every call, so it never reaches the machine (see the frame's header for
// what a failing constructor, member or tick then does).
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread. Nothing is locked.
#ifndef CHIP_UGEN_SYN_H
#define CHIP_UGEN_SYN_H

#include <cstddef>

#include "chip/syn/syn.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/ugen_frame.h"

// ---------------------------------------------------------------------------
// A float property of an instrument that is set as its control change
// `Number` (the value times 128, as a control message carries it) and
// reads back the value the instrument stored (Stored, a pointer to a
// double member of T or of its base).
template <typename T, int Number, auto Stored>
constexpr Frame_Member syn_control_prop(const char* name) {
  return frame_prop(
      name, "float",
      [](Frame_Slot& s, double v) {
        s.as<T>().controlChange(Number, syn_float(v * 128.0));
        return s.as<T>().*Stored;
      },
      [](Frame_Slot& s) { return s.as<T>().*Stored; });
}

// ---------------------------------------------------------------------------
// The classes, in registration order (the toolkit's language classes as the
// loader registers them), each with the family source that defines its row.

// clang-format off
#define SYN_CLASSES(X)                                      \
  X(SynInstrument) /* ugen_syn.cpp */                       \
  X(BandedWG)     /* ugen_syn_strings.cpp */                \
  X(BlowBotl)     /* ugen_syn_winds.cpp */                  \
  X(BlowHole)     /* ugen_syn_winds.cpp */                  \
  X(Bowed)        /* ugen_syn_strings.cpp */                \
  X(Brass)        /* ugen_syn_winds.cpp */                  \
  X(Clarinet)     /* ugen_syn_winds.cpp */                  \
  X(Flute)        /* ugen_syn_winds.cpp */                  \
  X(Mandolin)     /* ugen_syn_strings.cpp */                \
  X(ModalBar)     /* ugen_syn_modal.cpp */                  \
  X(Moog)         /* ugen_syn_modal.cpp */                  \
  X(Saxofony)     /* ugen_syn_winds.cpp */                  \
  X(Shakers)      /* ugen_syn_modal.cpp */                  \
  X(Sitar)        /* ugen_syn_strings.cpp */                \
  X(StifKarp)     /* ugen_syn_strings.cpp */                \
  X(VoicForm)     /* ugen_syn_modal.cpp */                  \
  X(FM)           /* ugen_syn_fm.cpp */                     \
  X(BeeThree)     /* ugen_syn_fm.cpp */                     \
  X(FMVoices)     /* ugen_syn_fm.cpp */                     \
  X(HevyMetl)     /* ugen_syn_fm.cpp */                     \
  X(PercFlut)     /* ugen_syn_fm.cpp */                     \
  X(Rhodey)       /* ugen_syn_fm.cpp */                     \
  X(TubeBell)     /* ugen_syn_fm.cpp */                     \
  X(Wurley)       /* ugen_syn_fm.cpp */                     \
  X(Delay)        /* ugen_syn_delay.cpp */                  \
  X(DelayA)       /* ugen_syn_delay.cpp */                  \
  X(DelayL)       /* ugen_syn_delay.cpp */                  \
  X(Echo)         /* ugen_syn_delay.cpp */                  \
  X(Envelope)     /* ugen_syn_envelope.cpp */               \
  X(ADSR)         /* ugen_syn_envelope.cpp */               \
  X(FilterSyn)    /* ugen_syn_filter.cpp */                 \
  X(OnePole)      /* ugen_syn_filter.cpp */                 \
  X(TwoPole)      /* ugen_syn_filter.cpp */                 \
  X(OneZero)      /* ugen_syn_filter.cpp */                 \
  X(TwoZero)      /* ugen_syn_filter.cpp */                 \
  X(PoleZero)     /* ugen_syn_filter.cpp */                 \
  X(JCRev)        /* ugen_syn_reverb.cpp */                 \
  X(NRev)         /* ugen_syn_reverb.cpp */                 \
  X(KestRev)      /* ugen_syn_reverb.cpp */                 \
  X(Chorus)       /* ugen_syn_reverb.cpp */                 \
  X(Modulate)     /* ugen_syn_modal.cpp */                  \
  X(PitShift)     /* ugen_syn_reverb.cpp */                 \
  X(SubNoise)     /* ugen_syn_noise.cpp */                  \
  X(WvIn)         /* ugen_syn_wv.cpp */                     \
  X(WaveLoop)     /* ugen_syn_wv.cpp */                     \
  X(WvOut)        /* ugen_syn_wv.cpp */                     \
  X(BLT)          /* ugen_syn_strings.cpp */                \
  X(Blit)         /* ugen_syn_strings.cpp */                \
  X(BlitSaw)      /* ugen_syn_strings.cpp */                \
  X(BlitSquare)   /* ugen_syn_strings.cpp */                \
  X(JetTabl)      /* ugen_syn_tables.cpp */                 \
  X(Mesh2D)       /* ugen_syn_strings.cpp */
// clang-format on

// The descriptor of each listed class (syn_class_Name).
#define SYN_CLASS_DECLARE(name) extern const Frame_Class_Desc syn_class_##name;
SYN_CLASSES(SYN_CLASS_DECLARE)
#undef SYN_CLASS_DECLARE

// Defines the descriptor of a listed class: SYN_CLASS(Name) = {"Name", ...};
// a class that is not in the list has no declaration to take its type from.
#define SYN_CLASS(name) decltype(syn_class_##name) syn_class_##name

// The open-file map of WvOut: the writers scripts opened and have not
// closed. syn_close_open_writers closes each and empties the map.
size_t syn_open_writer_count();
void syn_close_open_writers();

// Offset globals of the classes with a hidden member (FRAME_NO_OFFSET until
// registered). Families declare the rest as `t_CPWORD Foo_offset_data`.
extern t_CPWORD Instrmnt_offset_data;
extern t_CPWORD Envelope_offset_data;
extern t_CPWORD SubNoise_offset_data;
extern t_CPWORD JetTabl_offset_data;
extern t_CPWORD WvIn_offset_data;
extern t_CPWORD WvOut_offset_data;
extern t_CPWORD Modulate_offset_data;
extern t_CPWORD BLT_offset_data;
extern t_CPWORD Mesh2D_offset_data;

// ---------------------------------------------------------------------------
// The module.

// Copies the query's sample rate into Syn::srate when it is above 0, sets
// little_endian, and registers the listed classes in order (the language
// class SynInstrument first). TRUE when every listed class was
// registered; FALSE at the first failure (classes before it stay).
t_CPBOOL syn_query(Chip_DL_Query* QUERY);
// The module's shutdown hook: closes the sound files scripts left open
// (their headers get their final sizes) and empties the open-file map; a
// second call finds it empty. Ignores its arguments; TRUE.
t_CPBOOL syn_detach(t_CPUINT type, void* data);

// The names of the module's classes in registration order (the listed
// classes' descriptors' names), and their count.
const char* const* syn_class_names(size_t* count);

#endif
