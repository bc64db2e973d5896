// The language classes Envelope and ADSR: each sample they advance the
// toolkit envelope (chip/syn_envelope.h) and multiply their input by its
// value. Times given as "float" are seconds; "dur" values are samples,
// divided by Syn::srate on the way in and multiplied back on the way out.
// ADSR shares Envelope's hidden member: its constructor replaces the
// Envelope that Envelope's constructor made, and every Envelope member runs
// the ADSR versions of keyOn, keyOff, setTarget and setValue on an ADSR.
#include "chip/syn/syn_envelope.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD Envelope_offset_data = FRAME_NO_OFFSET;

namespace {

Envelope& env(Syn_Slot& s) { return s.as<Envelope>(); }
ADSR& adsr(Syn_Slot& s) { return s.as<ADSR>(); }

// Seconds from a dur (samples) and back.
float seconds(double samples) { return syn_float(samples / Syn::srate); }
double samples(double seconds) { return seconds * Syn::srate; }

const Syn_Member kEnvelopeMembers[] = {
    syn_method("keyOn", "int",
               [](Syn_Slot& s, void*, Chip_DL_Return* ret) {
                 env(s).keyOn();
                 ret->v_int = 1;
               }),
    syn_method("keyOn", "int",
               [](Syn_Slot& s, void* args, Chip_DL_Return* ret) {
                 bool on = GET_NEXT_INT(args) != 0;
                 if (on) {
                   env(s).keyOn();
                 } else {
                   env(s).keyOff();
                 }
                 ret->v_int = on ? 1 : 0;
               },
               {"int", "value"}),
    syn_method("keyOff", "int",
               [](Syn_Slot& s, void*, Chip_DL_Return* ret) {
                 env(s).keyOff();
                 ret->v_int = 1;
               }),
    syn_method("keyOff", "int",
               [](Syn_Slot& s, void* args, Chip_DL_Return* ret) {
                 bool off = GET_NEXT_INT(args) != 0;
                 if (off) {
                   env(s).keyOff();
                 } else {
                   env(s).keyOn();
                 }
                 ret->v_int = off ? 1 : 0;
               },
               {"int", "value"}),
    syn_prop(
        "target", "float",
        [](Syn_Slot& s, double v) {
          env(s).setTarget(syn_float(v));
          return double(env(s).target);
        },
        [](Syn_Slot& s) { return double(env(s).target); }),
    syn_prop(
        "time", "float",
        [](Syn_Slot& s, double v) {
          env(s).setTime(syn_float(v));
          return double(env(s).rampTime);
        },
        [](Syn_Slot& s) { return double(env(s).rampTime); }),
    syn_prop(
        "duration", "dur",
        [](Syn_Slot& s, double v) {
          env(s).setTime(seconds(v));
          return samples(env(s).rampTime);
        },
        [](Syn_Slot& s) { return samples(env(s).rampTime); }),
    syn_prop(
        "rate", "float",
        [](Syn_Slot& s, double v) {
          env(s).setRate(syn_float(v));
          return double(env(s).rate);
        },
        [](Syn_Slot& s) { return double(env(s).rate); }),
    syn_prop(
        "value", "float",
        [](Syn_Slot& s, double v) {
          env(s).setValue(syn_float(v));
          return double(env(s).value);
        },
        [](Syn_Slot& s) { return double(env(s).value); }),
};

// The four settings of `set`, each in seconds.
void set_all(Syn_Slot& s, double a, double d, double level, double r) {
  adsr(s).setAllTimes(syn_float(a), syn_float(d), syn_float(level), syn_float(r));
}

const Syn_Member kAdsrMembers[] = {
    syn_prop(
        "attackTime", "dur",
        [](Syn_Slot& s, double v) {
          adsr(s).setAttackTime(seconds(v));
          return v;
        },
        [](Syn_Slot& s) { return 1.0 / adsr(s).attackRate; }),
    syn_prop(
        "attackRate", "float",
        [](Syn_Slot& s, double v) {
          adsr(s).setAttackRate(syn_float(v));
          return double(adsr(s).attackRate);
        },
        [](Syn_Slot& s) { return double(adsr(s).attackRate); }),
    syn_prop(
        "decayTime", "dur",
        [](Syn_Slot& s, double v) {
          adsr(s).setDecayTime(seconds(v));
          return v;
        },
        [](Syn_Slot& s) { return (1.0 - adsr(s).sustainLevel) / adsr(s).decayRate; }),
    syn_prop(
        "decayRate", "float",
        [](Syn_Slot& s, double v) {
          adsr(s).setDecayRate(syn_float(v));
          return double(adsr(s).decayRate);
        },
        [](Syn_Slot& s) { return double(adsr(s).decayRate); }),
    syn_prop(
        "sustainLevel", "float",
        [](Syn_Slot& s, double v) {
          adsr(s).setSustainLevel(syn_float(v));
          return double(adsr(s).sustainLevel);
        },
        [](Syn_Slot& s) { return double(adsr(s).sustainLevel); }),
    syn_prop(
        "releaseTime", "dur",
        [](Syn_Slot& s, double v) {
          adsr(s).setReleaseTime(seconds(v));
          return v;
        },
        [](Syn_Slot& s) { return double(adsr(s).sustainLevel) / adsr(s).releaseRate; }),
    syn_prop(
        "releaseRate", "float",
        [](Syn_Slot& s, double v) {
          adsr(s).setReleaseRate(syn_float(v));
          return double(adsr(s).releaseRate);
        },
        [](Syn_Slot& s) { return double(adsr(s).releaseRate); }),
    syn_method("set", "void",
               [](Syn_Slot& s, void* args, Chip_DL_Return*) {
                 double a = GET_NEXT_FLOAT(args);
                 double d = GET_NEXT_FLOAT(args);
                 double level = GET_NEXT_FLOAT(args);
                 double r = GET_NEXT_FLOAT(args);
                 set_all(s, a, d, level, r);
               },
               {"float", "attackTime"}, {"float", "decayTime"}, {"float", "sustainLevel"},
               {"float", "releaseTime"}),
    syn_method("set", "void",
               [](Syn_Slot& s, void* args, Chip_DL_Return*) {
                 double a = GET_NEXT_DUR(args) / Syn::srate;
                 double d = GET_NEXT_DUR(args) / Syn::srate;
                 double level = GET_NEXT_FLOAT(args);
                 double r = GET_NEXT_DUR(args) / Syn::srate;
                 set_all(s, a, d, level, r);
               },
               {"dur", "attackDuration"}, {"dur", "decayDuration"}, {"float", "sustainLevel"},
               {"dur", "releaseDuration"}),
    syn_prop("state", "int", nullptr, [](Syn_Slot& s) { return double(adsr(s).getState()); }),
};

const Syn_Class_Desc kEnvelopeClasses[] = {
    {"Envelope", "UGen", "@Envelope_data", &Envelope_offset_data,
     [](Chip_Object*) -> Syn* { return new Envelope; },
     [](Syn_Slot& s, SAMPLE in) { return env(s).tick() * in; }, syn_pmsg_false,
     SYN_MEMBERS(kEnvelopeMembers)},
    {"ADSR", "Envelope", nullptr, &Envelope_offset_data,
     [](Chip_Object*) -> Syn* { return new ADSR; }, nullptr, syn_pmsg_false,
     SYN_MEMBERS(kAdsrMembers)},
};

}  // namespace

const Syn_Class_Desc* syn_envelope_classes(size_t* count) {
  *count = sizeof kEnvelopeClasses / sizeof kEnvelopeClasses[0];
  return kEnvelopeClasses;
}
