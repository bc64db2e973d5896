// The toolkit module ("syn"): every toolkit class (chip/syn/syn*.h) enters
// the language as a unit generator declared through the binding frame
// (chip/vm/ugen_frame.h).
//
// Each family source (ugen_syn_envelope.cpp ...) declares its classes as
// Frame_Class_Desc rows and hands its table out through one function
// declared below. syn_query walks the module's 52 class names in their
// fixed order and registers each class that some family describes; the
// rest wait for their families.
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
// The families. Each returns its descriptors (any order) and their count;
// syn_query registers them in the module's order. A family source defines
// its function; syn_query calls those that exist.

// Envelope, ADSR (chip/syn/ugen_syn_envelope.cpp).
const Frame_Class_Desc* syn_envelope_classes(size_t* count);
// SubNoise (chip/syn/ugen_syn_noise.cpp).
const Frame_Class_Desc* syn_noise_classes(size_t* count);
// JetTabl (chip/syn/ugen_syn_tables.cpp).
const Frame_Class_Desc* syn_tables_classes(size_t* count);
// FilterSyn, OnePole, TwoPole, OneZero, TwoZero, PoleZero.
const Frame_Class_Desc* syn_filter_classes(size_t* count);
// Delay, DelayA, DelayL, Echo.
const Frame_Class_Desc* syn_delay_classes(size_t* count);
// JCRev, NRev, KestRev and the effects Chorus, PitShift.
const Frame_Class_Desc* syn_reverb_classes(size_t* count);
// WvIn, WaveLoop, WvOut (chip/syn/ugen_syn_wv.cpp).
const Frame_Class_Desc* syn_soundfile_classes(size_t* count);
// FM and its voices BeeThree, FMVoices, HevyMetl, PercFlut, Rhodey,
// TubeBell, Wurley (chip/syn/ugen_syn_fm.cpp).
const Frame_Class_Desc* syn_fm_classes(size_t* count);
// ModalBar, Moog, Shakers, VoicForm and Modulate
// (chip/syn/ugen_syn_modal.cpp).
const Frame_Class_Desc* syn_modal_classes(size_t* count);
// BlowBotl, BlowHole, Brass, Clarinet, Flute, Saxofony
// (chip/syn/ugen_syn_winds.cpp).
const Frame_Class_Desc* syn_wind_classes(size_t* count);
// Bowed, BandedWG, Mandolin, Sitar, StifKarp, BLT, Blit, BlitSaw,
// BlitSquare and Mesh2D (chip/syn/ugen_syn_strings.cpp).
const Frame_Class_Desc* syn_strings_classes(size_t* count);

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
// little_endian, and registers the classes in the module's order (the
// language class SynInstrument first). TRUE when every described class was
// registered; FALSE at the first failure (classes before it stay).
t_CPBOOL syn_query(Chip_DL_Query* QUERY);
// The module's shutdown hook: closes the sound files scripts left open
// (their headers get their final sizes) and empties the open-file map; a
// second call finds it empty. Ignores its arguments; TRUE.
t_CPBOOL syn_detach(t_CPUINT type, void* data);

// The names of the module's classes in registration order, and their count.
const char* const* syn_class_names(size_t* count);

#endif
