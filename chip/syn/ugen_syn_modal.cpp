// The toolkit module's modal, sampler, formant and shaker classes:
// ModalBar, Moog, Shakers and VoicForm (instruments in SynInstrument's
// hidden member "@Instrmnt_data") and Modulate (a unit generator with its
// own "@Modulate_data"). Their members follow the toolkit objects
// (chip/syn/syn_modal.h, syn_moog.h, syn_shakers.h, syn_voicform.h); most
// setters go through a control change with the script's 0..1 value x 128.
//
// ModalBar's per-mode members (modeRatio, modeRadius, modeGain) address
// the mode last chosen with `mode`; before any `mode` call that is mode 0,
// with its ratio and radius. `mode` outside 0..3 is ignored and answers
// the current mode. Shakers' noteOn and noteOff replace the instrument's
// (same declared result, which they leave unset). VoicForm's `phoneme` answers a fresh string object
// holding the name of the row last selected by name.
#include <cmath>
#include <string>

#include "chip/syn/syn_modal.h"
#include "chip/syn/syn_moog.h"
#include "chip/syn/syn_shakers.h"
#include "chip/syn/syn_voicform.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/util/util_math.h"
#include "chip/vm/chip_instr.h"

t_CPWORD Modulate_offset_data = FRAME_NO_OFFSET;

namespace {

SAMPLE tick_instrument(Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }

template <typename T>
Frame_Obj* make(Chip_Object*) {
  return new T;
}

// ---------------------------------------------------------------------------
// ModalBar

ModalBar& bar(Frame_Slot& s) { return s.as<ModalBar>(); }

const Frame_Member kModalBarMembers[] = {
    frame_method("strike", "void",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   bar(s).strike(syn_float(GET_NEXT_FLOAT(args)));
                 },
                 {"float", "value"}),
    frame_method("damp", "void",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   bar(s).damp(syn_float(GET_NEXT_FLOAT(args)));
                 },
                 {"float", "value"}),
    frame_method("clear", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { bar(s).clear(); },
                 {"float", "value"}),
    frame_prop(
        "preset", "int",
        [](Frame_Slot& s, double v) {
          bar(s).preset = static_cast<int>(v);
          bar(s).setPreset(static_cast<int>(v));
          return v;
        },
        [](Frame_Slot& s) { return double(bar(s).preset); }),
    frame_prop(
        "stickHardness", "float",
        [](Frame_Slot& s, double v) {
          bar(s).setStickHardness(syn_float(v));
          return double(bar(s).stickHardness);
        },
        [](Frame_Slot& s) { return double(bar(s).stickHardness); }),
    frame_prop(
        "strikePosition", "float",
        [](Frame_Slot& s, double v) {
          bar(s).setStrikePosition(syn_float(v));
          return double(bar(s).strikePosition);
        },
        [](Frame_Slot& s) { return double(bar(s).strikePosition); }),
    syn_control_prop<ModalBar, 11, &ModalBar::storedVibratoGain>("vibratoGain"),
    frame_prop(
        "vibratoFreq", "float",
        [](Frame_Slot& s, double v) {
          if (std::isfinite(v)) {
            bar(s).vibrato.setFrequency(v);
            bar(s).storedVibratoFreq = v;
          }
          return bar(s).storedVibratoFreq;
        },
        [](Frame_Slot& s) { return bar(s).storedVibratoFreq; }),
    frame_prop(
        "directGain", "float",
        [](Frame_Slot& s, double v) {
          if (std::isfinite(v)) bar(s).directGain = syn_float(v);
          return double(bar(s).directGain);
        },
        [](Frame_Slot& s) { return double(bar(s).directGain); }),
    frame_prop(
        "masterGain", "float",
        [](Frame_Slot& s, double v) {
          if (std::isfinite(v)) bar(s).masterGain = syn_float(v);
          return double(bar(s).masterGain);
        },
        [](Frame_Slot& s) { return double(bar(s).masterGain); }),
    frame_prop(
        "mode", "int",
        [](Frame_Slot& s, double v) {
          ModalBar& b = bar(s);
          if (v >= 0.0 && v < 4.0) {
            b.mode = static_cast<int>(v);
            b.modeRatio = b.ratios[b.mode];
            b.modeRadius = b.radii[b.mode];
          }
          return double(b.mode);
        },
        [](Frame_Slot& s) { return double(bar(s).mode); }),
    frame_prop(
        "modeRatio", "float",
        [](Frame_Slot& s, double v) {
          ModalBar& b = bar(s);
          b.setRatioAndRadius(b.mode, syn_float(v), static_cast<float>(b.modeRadius));
          b.modeRatio = b.ratios[b.mode];
          return b.modeRatio;
        },
        [](Frame_Slot& s) { return bar(s).modeRatio; }),
    frame_prop(
        "modeRadius", "float",
        [](Frame_Slot& s, double v) {
          ModalBar& b = bar(s);
          b.setRatioAndRadius(b.mode, static_cast<float>(b.modeRatio), syn_float(v));
          b.modeRadius = b.radii[b.mode];
          return b.modeRadius;
        },
        [](Frame_Slot& s) { return bar(s).modeRadius; }),
    frame_prop(
        "modeGain", "float",
        [](Frame_Slot& s, double v) {
          ModalBar& b = bar(s);
          if (std::isfinite(v)) b.setModeGain(b.mode, syn_float(v));
          return double(b.filters[b.mode].getGain());
        },
        [](Frame_Slot& s) { return double(bar(s).filters[bar(s).mode].getGain()); }),
    syn_control_prop<ModalBar, 128, &ModalBar::storedVolume>("volume"),
};

Frame_Obj* make_bar(Chip_Object*) {
  ModalBar* b = new ModalBar;
  b->preset = 0;
  b->mode = 0;
  return b;
}

// ---------------------------------------------------------------------------
// Moog

Moog& moog(Frame_Slot& s) { return s.as<Moog>(); }

double set_mod_speed(Frame_Slot& s, double v) {
  moog(s).setModulationSpeed(syn_float(v));
  return moog(s).storedVibratoFreq;
}
double get_mod_speed(Frame_Slot& s) { return double(moog(s).loopWaves[1]->frequency); }
double set_mod_depth(Frame_Slot& s, double v) {
  moog(s).setModulationDepth(syn_float(v));
  return double(moog(s).modDepth) * 2.0;
}
double get_mod_depth(Frame_Slot& s) { return double(moog(s).modDepth) * 2.0; }

const Frame_Member kMoogMembers[] = {
    frame_prop("lfoSpeed", "float", set_mod_speed, get_mod_speed),
    frame_prop("modSpeed", "float", set_mod_speed, get_mod_speed),
    frame_prop("lfoDepth", "float", set_mod_depth, get_mod_depth),
    frame_prop("modDepth", "float", set_mod_depth, get_mod_depth),
    frame_prop(
        "filterQ", "float",
        [](Frame_Slot& s, double v) {
          moog(s).controlChange(2, syn_float(v * 128.0));
          return (double(moog(s).filterQ) - 0.8) * 10.0;
        },
        [](Frame_Slot& s) { return (double(moog(s).filterQ) - 0.8) * 10.0; }),
    frame_prop(
        "filterSweepRate", "float",
        [](Frame_Slot& s, double v) {
          moog(s).controlChange(4, syn_float(v * 128.0));
          return double(moog(s).sweepSpeed) * 5000.0;
        },
        [](Frame_Slot& s) { return double(moog(s).sweepSpeed) * 5000.0; }),
    frame_method("afterTouch", "void",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   moog(s).controlChange(128, syn_float(GET_NEXT_FLOAT(args) * 128.0));
                 },
                 {"float", "value"}),
    syn_control_prop<Moog, 128, &Moog::storedVolume>("volume"),
    frame_prop("vibratoFreq", "float", set_mod_speed,
               [](Frame_Slot& s) { return moog(s).storedVibratoFreq; }),
    syn_control_prop<Moog, 1, &Moog::storedVibratoGain>("vibratoGain"),
};

// ---------------------------------------------------------------------------
// Shakers

Shakers& shakers(Frame_Slot& s) { return s.as<Shakers>(); }

double set_which(Frame_Slot& s, double v) {
  shakers(s).setupNum(static_cast<int>(v));
  return double(shakers(s).which);
}
double get_which(Frame_Slot& s) { return double(shakers(s).which); }

const Frame_Member kShakersMembers[] = {
    frame_prop("which", "int", set_which, get_which),
    frame_prop("preset", "int", set_which, get_which),
    frame_prop(
        "energy", "float",
        [](Frame_Slot& s, double v) {
          shakers(s).controlChange(2, syn_float(v * 128.0));
          if (std::isfinite(v)) shakers(s).storedEnergy = v;
          return shakers(s).storedEnergy;
        },
        [](Frame_Slot& s) { return shakers(s).storedEnergy; }),
    frame_prop(
        "decay", "float",
        [](Frame_Slot& s, double v) {
          shakers(s).controlChange(4, syn_float(v * 128.0));
          if (std::isfinite(v)) shakers(s).storedDecay = v;
          return shakers(s).storedDecay;
        },
        [](Frame_Slot& s) { return shakers(s).storedDecay; }),
    frame_prop(
        "objects", "float",
        [](Frame_Slot& s, double v) {
          shakers(s).controlChange(11, syn_float(v));
          if (std::isfinite(v)) shakers(s).storedObjects = v;
          return shakers(s).storedObjects;
        },
        [](Frame_Slot& s) { return shakers(s).storedObjects; }),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          if (std::isfinite(v)) {
            shakers(s).storedFrequency = syn_float(v);
            shakers(s).controlChange(1, static_cast<float>(ftom(v)));
          }
          return double(shakers(s).storedFrequency);
        },
        [](Frame_Slot& s) { return double(shakers(s).storedFrequency); }),
    frame_method("noteOn", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   shakers(s).cp_noteOn(syn_float(GET_NEXT_FLOAT(args)));
                 },
                 {"float", "value"}),
    frame_method("noteOff", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                   shakers(s).noteOff(syn_float(GET_NEXT_FLOAT(args)));
                 },
                 {"float", "value"}),
};

// ---------------------------------------------------------------------------
// VoicForm

VoicForm& voice(Frame_Slot& s) { return s.as<VoicForm>(); }

// A new string object holding text, for a result.
Chip_String* new_text(const std::string& text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, nullptr);
  if (!object) return nullptr;
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = text;
  return string;
}

double voiced_value(Frame_Slot& s) { return double(voice(s).voiced.envelope.value); }

const Frame_Member kVoicFormMembers[] = {
    frame_method("phoneme", "string",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   Chip_String* name = GET_NEXT_STRING(args);
                   voice(s).setPhoneme(name ? name->str.c_str() : "");
                   ret->v_object = new_text(voice(s).phonemeName);
                 },
                 {"string", "value"}),
    frame_method("phoneme", "string",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_object = new_text(voice(s).phonemeName);
                 }),
    frame_method("speak", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { voice(s).speak(); },
                 {"float", "value"}),
    frame_method("quiet", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { voice(s).quiet(); },
                 {"float", "value"}),
    frame_prop(
        "voiced", "float",
        [](Frame_Slot& s, double v) {
          voice(s).voiced.setGainTarget(syn_float(v));
          return voiced_value(s);
        },
        voiced_value),
    frame_prop(
        "unVoiced", "float",
        [](Frame_Slot& s, double v) {
          voice(s).noiseEnvelope.setTarget(syn_float(0.01 * v));
          return double(voice(s).noiseEnvelope.value);
        },
        [](Frame_Slot& s) { return double(voice(s).noiseEnvelope.value); }),
    frame_prop(
        "pitchSweepRate", "float",
        [](Frame_Slot& s, double v) {
          voice(s).voiced.setSweepRate(syn_float(v));
          return double(voice(s).voiced.pitchSweepRate);
        },
        [](Frame_Slot& s) { return double(voice(s).voiced.pitchSweepRate); }),
    frame_prop(
        "voiceMix", "float",
        [](Frame_Slot& s, double v) {
          voice(s).controlChange(2, syn_float(v * 128.0));
          return voiced_value(s);
        },
        voiced_value),
    frame_prop(
        "phonemeNum", "int",
        [](Frame_Slot& s, double v) {
          voice(s).controlChange(4, static_cast<float>(v));
          return double(voice(s).phonemeIndex);
        },
        [](Frame_Slot& s) { return double(voice(s).phonemeIndex); }),
    frame_prop(
        "vibratoFreq", "float",
        [](Frame_Slot& s, double v) {
          voice(s).voiced.modulator.setVibratoRate(syn_float(v));
          return double(voice(s).voiced.modulator.vibrato.frequency);
        },
        [](Frame_Slot& s) { return double(voice(s).voiced.modulator.vibrato.frequency); }),
    frame_prop(
        "vibratoGain", "float",
        [](Frame_Slot& s, double v) {
          voice(s).controlChange(1, syn_float(v * 128.0));
          return double(voice(s).voiced.modulator.vibratoGain);
        },
        [](Frame_Slot& s) { return double(voice(s).voiced.modulator.vibratoGain); }),
    frame_prop(
        "loudness", "float",
        [](Frame_Slot& s, double v) {
          voice(s).controlChange(128, syn_float(v * 128.0));
          return voiced_value(s);
        },
        voiced_value),
};

// ---------------------------------------------------------------------------
// Modulate

Modulate& modulate(Frame_Slot& s) { return s.as<Modulate>(); }

const Frame_Member kModulateMembers[] = {
    frame_prop(
        "vibratoRate", "float",
        [](Frame_Slot& s, double v) {
          modulate(s).setVibratoRate(syn_float(v));
          return double(modulate(s).vibrato.frequency);
        },
        [](Frame_Slot& s) { return double(modulate(s).vibrato.frequency); }),
    frame_prop(
        "vibratoGain", "float",
        [](Frame_Slot& s, double v) {
          modulate(s).setVibratoGain(syn_float(v));
          return double(modulate(s).vibratoGain);
        },
        [](Frame_Slot& s) { return double(modulate(s).vibratoGain); }),
    frame_prop(
        "randomGain", "float",
        [](Frame_Slot& s, double v) {
          modulate(s).setRandomGain(syn_float(v));
          return double(modulate(s).randomGain);
        },
        [](Frame_Slot& s) { return double(modulate(s).randomGain); }),
};

}  // namespace

SYN_CLASS(ModalBar) = {
    "ModalBar", "SynInstrument", nullptr, &Instrmnt_offset_data, make_bar, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kModalBarMembers)};
SYN_CLASS(Moog) = {
    "Moog", "SynInstrument", nullptr, &Instrmnt_offset_data, make<Moog>, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kMoogMembers)};
SYN_CLASS(Shakers) = frame_draws_random({
    "Shakers", "SynInstrument", nullptr, &Instrmnt_offset_data, make<Shakers>,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kShakersMembers)});
SYN_CLASS(VoicForm) = frame_draws_random({
    "VoicForm", "SynInstrument", nullptr, &Instrmnt_offset_data, make<VoicForm>,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kVoicFormMembers)});
SYN_CLASS(Modulate) = frame_draws_random({
    "Modulate", "UGen", "@Modulate_data", &Modulate_offset_data, make<Modulate>,
    [](Frame_Slot& s, SAMPLE) { return modulate(s).tick(); }, frame_pmsg_true,
    FRAME_MEMBERS(kModulateMembers)});
