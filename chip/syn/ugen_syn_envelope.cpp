// The language classes Envelope and ADSR: each sample they advance the
// toolkit envelope (chip/syn/syn_envelope.h) and multiply their input by its
// value. Times given as "float" are seconds; "dur" values are samples,
// divided by Syn::srate on the way in and multiplied back on the way out.
// ADSR shares Envelope's hidden member: its constructor replaces the
// Envelope that Envelope's constructor made, and every Envelope member runs
// the ADSR versions of keyOn, keyOff, setTarget and setValue on an ADSR.
#include "chip/syn/syn_envelope.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD Envelope_offset_data = FRAME_NO_OFFSET;

namespace {

Envelope& env(Frame_Slot& s) { return s.as<Envelope>(); }

// The envelope's level times the input.
SAMPLE tick_envelope(Frame_Slot& s, SAMPLE in) { return env(s).tick() * in; }
ADSR& adsr(Frame_Slot& s) { return s.as<ADSR>(); }

// Seconds from a dur (samples) and back.
float seconds(double samples) { return syn_float(samples / Syn::srate); }
double samples(double seconds) { return seconds * Syn::srate; }

const Frame_Member kEnvelopeMembers[] = {
    frame_method("keyOn", "int",
               [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                 env(s).keyOn();
                 ret->v_int = 1;
               }),
    frame_method("keyOn", "int",
               [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                 bool on = GET_NEXT_INT(args) != 0;
                 if (on) {
                   env(s).keyOn();
                 } else {
                   env(s).keyOff();
                 }
                 ret->v_int = on ? 1 : 0;
               },
               {"int", "value"}),
    frame_method("keyOff", "int",
               [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                 env(s).keyOff();
                 ret->v_int = 1;
               }),
    frame_method("keyOff", "int",
               [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                 bool off = GET_NEXT_INT(args) != 0;
                 if (off) {
                   env(s).keyOff();
                 } else {
                   env(s).keyOn();
                 }
                 ret->v_int = off ? 1 : 0;
               },
               {"int", "value"}),
    frame_prop(
        "target", "float",
        [](Frame_Slot& s, double v) {
          env(s).setTarget(syn_float(v));
          return double(env(s).target);
        },
        [](Frame_Slot& s) { return double(env(s).target); }),
    frame_prop(
        "time", "float",
        [](Frame_Slot& s, double v) {
          env(s).setTime(syn_float(v));
          return double(env(s).rampTime);
        },
        [](Frame_Slot& s) { return double(env(s).rampTime); }),
    frame_prop(
        "duration", "dur",
        [](Frame_Slot& s, double v) {
          env(s).setTime(seconds(v));
          return samples(env(s).rampTime);
        },
        [](Frame_Slot& s) { return samples(env(s).rampTime); }),
    frame_prop(
        "rate", "float",
        [](Frame_Slot& s, double v) {
          env(s).setRate(syn_float(v));
          return double(env(s).rate);
        },
        [](Frame_Slot& s) { return double(env(s).rate); }),
    frame_prop(
        "value", "float",
        [](Frame_Slot& s, double v) {
          env(s).setValue(syn_float(v));
          return double(env(s).value);
        },
        [](Frame_Slot& s) { return double(env(s).value); }),
};

// The four settings of `set`, each in seconds.
void set_all(Frame_Slot& s, double a, double d, double level, double r) {
  adsr(s).setAllTimes(syn_float(a), syn_float(d), syn_float(level), syn_float(r));
}

const Frame_Member kAdsrMembers[] = {
    frame_prop(
        "attackTime", "dur",
        [](Frame_Slot& s, double v) {
          adsr(s).setAttackTime(seconds(v));
          return v;
        },
        [](Frame_Slot& s) { return 1.0 / adsr(s).attackRate; }),
    frame_prop(
        "attackRate", "float",
        [](Frame_Slot& s, double v) {
          adsr(s).setAttackRate(syn_float(v));
          return double(adsr(s).attackRate);
        },
        [](Frame_Slot& s) { return double(adsr(s).attackRate); }),
    frame_prop(
        "decayTime", "dur",
        [](Frame_Slot& s, double v) {
          adsr(s).setDecayTime(seconds(v));
          return v;
        },
        [](Frame_Slot& s) { return (1.0 - adsr(s).sustainLevel) / adsr(s).decayRate; }),
    frame_prop(
        "decayRate", "float",
        [](Frame_Slot& s, double v) {
          adsr(s).setDecayRate(syn_float(v));
          return double(adsr(s).decayRate);
        },
        [](Frame_Slot& s) { return double(adsr(s).decayRate); }),
    frame_prop(
        "sustainLevel", "float",
        [](Frame_Slot& s, double v) {
          adsr(s).setSustainLevel(syn_float(v));
          return double(adsr(s).sustainLevel);
        },
        [](Frame_Slot& s) { return double(adsr(s).sustainLevel); }),
    frame_prop(
        "releaseTime", "dur",
        [](Frame_Slot& s, double v) {
          adsr(s).setReleaseTime(seconds(v));
          return v;
        },
        [](Frame_Slot& s) { return double(adsr(s).sustainLevel) / adsr(s).releaseRate; }),
    frame_prop(
        "releaseRate", "float",
        [](Frame_Slot& s, double v) {
          adsr(s).setReleaseRate(syn_float(v));
          return double(adsr(s).releaseRate);
        },
        [](Frame_Slot& s) { return double(adsr(s).releaseRate); }),
    frame_method("set", "void",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 double a = GET_NEXT_FLOAT(args);
                 double d = GET_NEXT_FLOAT(args);
                 double level = GET_NEXT_FLOAT(args);
                 double r = GET_NEXT_FLOAT(args);
                 set_all(s, a, d, level, r);
               },
               {"float", "attackTime"}, {"float", "decayTime"}, {"float", "sustainLevel"},
               {"float", "releaseTime"}),
    frame_method("set", "void",
               [](Frame_Slot& s, void* args, Chip_DL_Return*) {
                 double a = GET_NEXT_DUR(args) / Syn::srate;
                 double d = GET_NEXT_DUR(args) / Syn::srate;
                 double level = GET_NEXT_FLOAT(args);
                 double r = GET_NEXT_DUR(args) / Syn::srate;
                 set_all(s, a, d, level, r);
               },
               {"dur", "attackDuration"}, {"dur", "decayDuration"}, {"float", "sustainLevel"},
               {"dur", "releaseDuration"}),
    frame_prop("state", "int", nullptr, [](Frame_Slot& s) { return double(adsr(s).getState()); }),
};

}  // namespace

SYN_CLASS(Envelope) = frame_in_blocks<tick_envelope>({
    "Envelope", "UGen", "@Envelope_data", &Envelope_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Envelope; },
    tick_envelope, frame_pmsg_false,
    FRAME_MEMBERS(kEnvelopeMembers)});
SYN_CLASS(ADSR) = {
    "ADSR", "Envelope", nullptr, &Envelope_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new ADSR; }, nullptr, frame_pmsg_false,
    FRAME_MEMBERS(kAdsrMembers)};
