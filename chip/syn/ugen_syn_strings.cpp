// The toolkit module's strings, banded waveguide, mesh and band-limited
// oscillators: Bowed, BandedWG, Mandolin, Sitar and StifKarp (instruments
// in SynInstrument's hidden member "@Instrmnt_data"), BLT with Blit,
// BlitSaw and BlitSquare (in "@BLT_data"), and Mesh2D (a unit generator
// with "@Mesh2D_data" whose input is struck into the mesh every sample).
//
// Most setters go through a control change with the script's 0..1 value
// x 128 and answer the recorded value. Members marked "no value" below
// leave the result slot as it is.
//
// A bare BLT holds no oscillator: its members record and answer their
// values as the oscillators' do (phase 0, 220 Hz, 0 harmonics until set)
// and it outputs 0, saying once "BLT is virtual!". The oscillators' `freq`
// answers the frequency in force (the previous one when the value was
// refused); `harmonics` takes the absolute value in unsigned arithmetic.
// Mesh2D's sizes are checked against 2..12 whole, never narrowed first.
#include <climits>
#include <cmath>
#include <string>

#include "chip/syn/syn_banded.h"
#include "chip/syn/syn_blit.h"
#include "chip/syn/syn_mesh.h"
#include "chip/syn/syn_strings.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"

t_CPWORD BLT_offset_data = FRAME_NO_OFFSET;
t_CPWORD Mesh2D_offset_data = FRAME_NO_OFFSET;

namespace {

SAMPLE tick_instrument(Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }

template <typename T>
Frame_Obj* make_tuned(Chip_Object*) {
  T* instrument = new T(20.0f);
  instrument->setFrequency(220.0f);
  return instrument;
}

// A new string object holding text, for a result.
Chip_String* new_text(const std::string& text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, nullptr);
  if (!object) return nullptr;
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = text;
  return string;
}

float arg(void*& args) { return syn_float(GET_NEXT_FLOAT(args)); }

// ---------------------------------------------------------------------------
// Bowed

Bowed& bowed(Frame_Slot& s) { return s.as<Bowed>(); }

const Frame_Member kBowedMembers[] = {
    frame_method("startBowing", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   bowed(s).startBowing(arg(args), static_cast<float>(bowed(s).storedRate));
                 },
                 {"float", "value"}),
    frame_method("stopBowing", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) { bowed(s).stopBowing(arg(args)); },
                 {"float", "value"}),
    syn_control_prop<Bowed, 2, &Bowed::storedBowPressure>("bowPressure"),
    syn_control_prop<Bowed, 4, &Bowed::storedBowPosition>("bowPosition"),
    frame_prop(
        "vibratoFreq", "float",
        [](Frame_Slot& s, double v) {
          bowed(s).setVibratoFrequency(syn_float(v));
          return bowed(s).storedVibratoFreq;
        },
        [](Frame_Slot& s) { return bowed(s).storedVibratoFreq; }),
    syn_control_prop<Bowed, 1, &Bowed::storedVibratoGain>("vibratoGain"),
    syn_control_prop<Bowed, 128, &Bowed::storedVolume>("volume"),
};

Frame_Obj* make_bowed(Chip_Object*) { return new Bowed(40.0f); }

// ---------------------------------------------------------------------------
// BandedWG

BandedWG& banded(Frame_Slot& s) { return s.as<BandedWG>(); }

const Frame_Member kBandedMembers[] = {
    frame_method("pluck", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) { banded(s).pluck(arg(args)); },
                 {"float", "value"}),
    frame_method("startBowing", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   banded(s).startBowing(arg(args));
                 },
                 {"float", "value"}),
    frame_method("stopBowing", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   banded(s).stopBowing(arg(args));
                 },
                 {"float", "value"}),
    frame_prop(
        "bowRate", "float",
        [](Frame_Slot& s, double v) {
          if (!std::isnan(v)) banded(s).storedBowRate = v;
          return banded(s).storedBowRate;
        },
        [](Frame_Slot& s) { return banded(s).storedBowRate; }),
    syn_control_prop<BandedWG, 2, &BandedWG::storedBowPressure>("bowPressure"),
    syn_control_prop<BandedWG, 4, &BandedWG::storedBowMotion>("bowMotion"),
    frame_prop(
        "integrationConstant", "float",
        [](Frame_Slot& s, double v) {
          banded(s).controlChange(11, syn_float(v * 128.0));
          return double(banded(s).integrationConstant);
        },
        [](Frame_Slot& s) { return double(banded(s).integrationConstant); }),
    syn_control_prop<BandedWG, 1, &BandedWG::storedModesGain>("modesGain"),
    frame_prop(
        "preset", "int",
        [](Frame_Slot& s, double v) {
          banded(s).setPreset(static_cast<int>(v));  // the frame gives an int's value
          return double(banded(s).presetNumber);
        },
        [](Frame_Slot& s) { return double(banded(s).presetNumber); }),
    frame_prop(
        "strikePosition", "float",
        [](Frame_Slot& s, double v) {
          if (!std::isnan(v)) banded(s).storedStrikePosition = double(syn_float(v));
          return banded(s).storedStrikePosition;
        },
        [](Frame_Slot& s) { return banded(s).storedStrikePosition; }),
};

Frame_Obj* make_banded(Chip_Object*) { return new BandedWG; }

// ---------------------------------------------------------------------------
// Mandolin

Mandolin& mandolin(Frame_Slot& s) { return s.as<Mandolin>(); }

const Frame_Member kMandolinMembers[] = {
    frame_method("pluck", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   mandolin(s).pluck(arg(args));
                 },
                 {"float", "value"}),
    frame_prop(
        "pluckPos", "float",
        [](Frame_Slot& s, double v) {
          mandolin(s).setPluckPosition(syn_float(v));
          return v;
        },
        [](Frame_Slot& s) { return double(mandolin(s).pluckPosition); }),
    frame_prop(
        "bodySize", "float",
        [](Frame_Slot& s, double v) {
          mandolin(s).setBodySize(syn_float(v));
          return v;
        },
        [](Frame_Slot& s) { return double(mandolin(s).bodySize); }),
    frame_prop(
        "stringDamping", "float",
        [](Frame_Slot& s, double v) {
          mandolin(s).setBaseLoopGain(syn_float(0.97 + 0.03 * v));
          return v;
        },
        [](Frame_Slot& s) { return double(mandolin(s).baseLoopGain); }),
    frame_prop(
        "stringDetune", "float",
        [](Frame_Slot& s, double v) {
          mandolin(s).setDetune(syn_float(1.0 - 0.1 * v));
          return v;
        },
        [](Frame_Slot& s) { return double(mandolin(s).detuning); }),
    frame_method("afterTouch", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   mandolin(s).controlChange(128, syn_float(GET_NEXT_FLOAT(args) * 128.0));
                 },
                 {"float", "value"}),
    frame_method("bodyIR", "string",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   Chip_String* path = GET_NEXT_STRING(args);
                   const std::string text = path ? path->str : std::string();
                   try {
                     mandolin(s).setBodyWave(text.c_str());
                   } catch (const SynError&) {
                     // printed; the body stays silent until a wave opens
                   }
                   ret->v_object = new_text(text);
                 },
                 {"string", "path"}),
    frame_method("bodyIR", "string",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_object = new_text(mandolin(s).bodyWave->getPath());
                 }),
};

// ---------------------------------------------------------------------------
// Sitar

const Frame_Member kSitarMembers[] = {
    frame_method("pluck", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   s.as<Sitar>().pluck(arg(args));
                 },
                 {"float", "value"}),
    frame_method("clear", "float",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { s.as<Sitar>().clear(); },
                 {"float", "value"}),
};

// ---------------------------------------------------------------------------
// StifKarp

StifKarp& karp(Frame_Slot& s) { return s.as<StifKarp>(); }

double set_stretch(Frame_Slot& s, double v) {
  karp(s).setStretch(syn_float(v));
  return double(karp(s).stretching);
}
double get_stretch(Frame_Slot& s) { return double(karp(s).stretching); }

const Frame_Member kStifKarpMembers[] = {
    frame_method("pluck", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) { karp(s).pluck(arg(args)); },
                 {"float", "value"}),
    frame_method("clear", "float",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { karp(s).clear(); },
                 {"float", "value"}),
    frame_prop(
        "pickupPosition", "float",
        [](Frame_Slot& s, double v) {
          karp(s).setPickupPosition(syn_float(v));
          return double(karp(s).pickupPosition);
        },
        [](Frame_Slot& s) { return double(karp(s).pickupPosition); }),
    frame_prop("stretch", "float", set_stretch, get_stretch),
    frame_prop("sustain", "float", set_stretch, get_stretch),
    frame_prop(
        "baseLoopGain", "float",
        [](Frame_Slot& s, double v) {
          karp(s).setBaseLoopGain(syn_float(v));
          return double(karp(s).baseLoopGain);
        },
        [](Frame_Slot& s) { return double(karp(s).baseLoopGain); }),
};

// ---------------------------------------------------------------------------
// BLT, Blit, BlitSaw, BlitSquare

// What a bare BLT holds: the recorded values and no oscillator.
class BareBLT : public BLT {
 public:
  void setPhase(float) override {}
  void setFrequency(float) override {}
  void setHarmonics(unsigned int) override {}
  float tick() override { return 0.0f; }
};

BLT& blt(Frame_Slot& s) { return s.as<BLT>(); }

const Frame_Member kBLTMembers[] = {
    frame_prop(
        "phase", "float",
        [](Frame_Slot& s, double v) {
          BLT& b = blt(s);
          b.setPhase(syn_float(v));
          if (std::isfinite(v)) b.lastPhase = v;
          return b.lastPhase;
        },
        [](Frame_Slot& s) { return blt(s).lastPhase; }),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          BLT& b = blt(s);
          b.setFrequency(syn_float(v));
          if (v > 0.0 && std::isfinite(v)) b.lastFrequency = v;
          return b.lastFrequency;
        },
        [](Frame_Slot& s) { return blt(s).lastFrequency; }),
    frame_prop(
        "harmonics", "int",
        [](Frame_Slot& s, double v) {
          // The frame gives an int's value; its magnitude in unsigned
          // arithmetic (INT_MIN has none as an int).
          const long long n = static_cast<long long>(v);
          const unsigned int magnitude =
              n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
          blt(s).setHarmonics(magnitude);
          blt(s).lastHarmonics = magnitude;
          return double(magnitude);
        },
        [](Frame_Slot& s) { return double(blt(s).lastHarmonics); }),
};

// ---------------------------------------------------------------------------
// Mesh2D

Mesh2D& mesh(Frame_Slot& s) { return s.as<Mesh2D>(); }

// A size from the language's int (32 bits), whole: the range check sees
// the value itself, not a 16-bit remainder of it.
int mesh_size(t_CPINT n) { return static_cast<int>(n); }

const Frame_Member kMeshMembers[] = {
    frame_method("nx", "int",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   mesh(s).setNX(mesh_size(GET_NEXT_INT(args)));
                 },
                 {"int", "value"}),
    frame_prop("nx", "int", nullptr, [](Frame_Slot& s) { return double(mesh(s).NX); }),
    frame_method("ny", "int",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   mesh(s).setNY(mesh_size(GET_NEXT_INT(args)));
                 },
                 {"int", "value"}),
    frame_prop("ny", "int", nullptr, [](Frame_Slot& s) { return double(mesh(s).NY); }),
    frame_method("inputPosition", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   const float x = arg(args);
                   const float y = arg(args);
                   mesh(s).setInputPosition(x, y);
                 },
                 {"float", "xval"}, {"float", "yval"}),
    frame_prop("decay", "float",
               [](Frame_Slot& s, double v) {
                 mesh(s).setDecay(syn_float(v));
                 return v;
               },
               nullptr),
    frame_prop("energy", "float", nullptr, [](Frame_Slot& s) { return mesh(s).energy(); }),
    frame_method("noteOn", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   const float note = arg(args);
                   const float velocity = arg(args);
                   mesh(s).noteOn(note, velocity);
                 },
                 {"float", "note"}, {"float", "vel"}),
    frame_method("noteOff", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) { mesh(s).noteOff(arg(args)); },
                 {"float", "value"}),
    frame_method("controlChange", "int",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   const t_CPINT number = GET_NEXT_INT(args);
                   mesh(s).controlChange(number, arg(args));
                 },
                 {"int", "ctrl"}, {"float", "value"}),
};

// ---------------------------------------------------------------------------
// The rows.

}  // namespace

SYN_CLASS(BandedWG) = {
    "BandedWG", "SynInstrument", nullptr, &Instrmnt_offset_data, make_banded, tick_instrument,
    frame_pmsg_false, FRAME_MEMBERS(kBandedMembers)};
SYN_CLASS(Bowed) = {
    "Bowed", "SynInstrument", nullptr, &Instrmnt_offset_data, make_bowed, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kBowedMembers)};
SYN_CLASS(Mandolin) = {
    "Mandolin", "SynInstrument", nullptr, &Instrmnt_offset_data, make_tuned<Mandolin>,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kMandolinMembers)};
SYN_CLASS(Sitar) = frame_draws_random({
    "Sitar", "SynInstrument", nullptr, &Instrmnt_offset_data, make_tuned<Sitar>,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kSitarMembers)});
SYN_CLASS(StifKarp) = {
    "StifKarp", "SynInstrument", nullptr, &Instrmnt_offset_data, make_tuned<StifKarp>,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kStifKarpMembers)};
SYN_CLASS(BLT) = {
    "BLT", "UGen", "@BLT_data", &BLT_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new BareBLT; },
    [](Frame_Slot& s, SAMPLE) {
      s.warn_once(0, "BLT is virtual!");
      return SAMPLE(0.0f);
    },
    frame_pmsg_true, FRAME_MEMBERS(kBLTMembers)};
SYN_CLASS(Blit) = {
    "Blit", "BLT", nullptr, &BLT_offset_data, [](Chip_Object*) -> Frame_Obj* { return new Blit; },
    [](Frame_Slot& s, SAMPLE) { return blt(s).tick(); }, frame_pmsg_true, nullptr, 0};
SYN_CLASS(BlitSaw) = {
    "BlitSaw", "BLT", nullptr, &BLT_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new BlitSaw; },
    [](Frame_Slot& s, SAMPLE) { return blt(s).tick(); }, frame_pmsg_true, nullptr, 0};
SYN_CLASS(BlitSquare) = {
    "BlitSquare", "BLT", nullptr, &BLT_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new BlitSquare; },
    [](Frame_Slot& s, SAMPLE) { return blt(s).tick(); }, frame_pmsg_true, nullptr, 0};
SYN_CLASS(Mesh2D) = {
    "Mesh2D", "UGen", "@Mesh2D_data", &Mesh2D_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Mesh2D(2, 2); },
    [](Frame_Slot& s, SAMPLE in) { return mesh(s).tick(in); }, frame_pmsg_true,
    FRAME_MEMBERS(kMeshMembers)};
