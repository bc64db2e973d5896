// The toolkit module's FM classes: FM and its voices BeeThree, FMVoices,
// HevyMetl, PercFlut, Rhodey, TubeBell and Wurley (chip/syn/syn_fm.h).
//
// All of them live in SynInstrument's hidden member "@Instrmnt_data" and
// inherit its noteOn, noteOff, freq and controlChange. A bare FM holds a
// BareFM, which outputs 0 and says once that FM's tick is virtual; each
// voice's constructor replaces it with the voice (TubeBell and PercFlut
// then tuned to 220 Hz). FM's members, inherited by every voice, read and
// write the voice itself:
//   lfoDepth, lfoSpeed      modulation depth and vibrato rate (Hz)
//   afterTouch              control 128 (value x 128); reads operator 1's
//                           envelope target
//   controlOne, controlTwo  controls 1 and 2 (stored as twice the value)
// FMVoices adds vowel (control 2: operator 3's gain), spectralTilt
// (control 4: the vowel) and adsrTarget (control 128: the tilt); their
// getters answer the value last set, the vowel / 128 and the first tilt.
// Values that are not finite numbers leave a setting as it is.
#include <cmath>

#include "chip/syn/syn_fm.h"
#include "chip/syn/ugen_syn.h"

namespace {

double set_lfo_depth(Frame_Slot& s, double v) {
  FM& fm = s.as<FM>();
  fm.setModulationDepth(syn_float(v));
  return std::isfinite(v) ? v : double(fm.modDepth);
}

double set_lfo_speed(Frame_Slot& s, double v) {
  FM& fm = s.as<FM>();
  fm.setModulationSpeed(syn_float(v));
  return double(fm.vibrato.frequency);
}

double set_after_touch(Frame_Slot& s, double v) {
  FM& fm = s.as<FM>();
  fm.controlChange(128, static_cast<float>(v * 128.0));
  return double(fm.adsr[1]->target);
}

const Frame_Member kFMMembers[] = {
    frame_prop("lfoDepth", "float", set_lfo_depth,
               [](Frame_Slot& s) { return double(s.as<FM>().modDepth); }),
    frame_prop("lfoSpeed", "float", set_lfo_speed,
               [](Frame_Slot& s) { return double(s.as<FM>().vibrato.frequency); }),
    frame_prop("afterTouch", "float", set_after_touch,
               [](Frame_Slot& s) { return double(s.as<FM>().adsr[1]->target); }),
    frame_prop(
        "controlOne", "float",
        [](Frame_Slot& s, double v) {
          s.as<FM>().setControl1(syn_float(v));
          return s.as<FM>().control1 * 0.5;
        },
        [](Frame_Slot& s) { return s.as<FM>().control1 * 0.5; }),
    frame_prop(
        "controlTwo", "float",
        [](Frame_Slot& s, double v) {
          s.as<FM>().setControl2(syn_float(v));
          return s.as<FM>().control2 * 0.5;
        },
        [](Frame_Slot& s) { return s.as<FM>().control2 * 0.5; }),
};

// A control of FMVoices from the script's 0..1 value; the value returned.
double voice_control(Frame_Slot& s, int number, double v) {
  s.as<FMVoices>().controlChange(number, static_cast<float>(v * 128.0));
  return v;
}

const Frame_Member kFMVoicesMembers[] = {
    frame_prop(
        "vowel", "float",
        [](Frame_Slot& s, double v) {
          if (v == v) s.as<FMVoices>().vowelSetting = syn_float(v);
          return voice_control(s, 2, v);
        },
        [](Frame_Slot& s) { return double(s.as<FMVoices>().vowelSetting); }),
    frame_prop(
        "spectralTilt", "float", [](Frame_Slot& s, double v) { return voice_control(s, 4, v); },
        [](Frame_Slot& s) { return s.as<FMVoices>().currentVowel / 128.0; }),
    frame_prop(
        "adsrTarget", "float", [](Frame_Slot& s, double v) { return voice_control(s, 128, v); },
        [](Frame_Slot& s) { return double(s.as<FMVoices>().tilt[0]); }),
};

SAMPLE tick_voice(Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }

template <typename Voice>
Frame_Obj* make_voice(Chip_Object*) {
  return new Voice;
}

template <typename Voice>
Frame_Obj* make_tuned_voice(Chip_Object*) {
  Voice* voice = new Voice;
  voice->setFrequency(220.0f);
  return voice;
}

}  // namespace

SYN_CLASS(FM) = {
    "FM", "SynInstrument", nullptr, &Instrmnt_offset_data, make_voice<BareFM>, tick_voice,
    frame_pmsg_true, FRAME_MEMBERS(kFMMembers)};
SYN_CLASS(BeeThree) = {
    "BeeThree", "FM", nullptr, &Instrmnt_offset_data, make_voice<BeeThree>, tick_voice,
    frame_pmsg_true, nullptr, 0};
SYN_CLASS(FMVoices) = {
    "FMVoices", "FM", nullptr, &Instrmnt_offset_data, make_voice<FMVoices>, tick_voice,
    frame_pmsg_true, FRAME_MEMBERS(kFMVoicesMembers)};
SYN_CLASS(HevyMetl) = {
    "HevyMetl", "FM", nullptr, &Instrmnt_offset_data, make_voice<HevyMetl>, tick_voice,
    frame_pmsg_true, nullptr, 0};
SYN_CLASS(PercFlut) = {
    "PercFlut", "FM", nullptr, &Instrmnt_offset_data, make_tuned_voice<PercFlut>, tick_voice,
    frame_pmsg_true, nullptr, 0};
SYN_CLASS(Rhodey) = {
    "Rhodey", "FM", nullptr, &Instrmnt_offset_data, make_voice<Rhodey>, tick_voice,
    frame_pmsg_true, nullptr, 0};
SYN_CLASS(TubeBell) = {
    "TubeBell", "FM", nullptr, &Instrmnt_offset_data, make_tuned_voice<TubeBell>, tick_voice,
    frame_pmsg_true, nullptr, 0};
SYN_CLASS(Wurley) = {
    "Wurley", "FM", nullptr, &Instrmnt_offset_data, make_voice<Wurley>, tick_voice,
    frame_pmsg_true, nullptr, 0};
