// The toolkit module's wind instruments: BlowBotl, BlowHole, Brass,
// Clarinet, Flute and Saxofony (chip/syn/syn_winds.h), each in
// SynInstrument's hidden member "@Instrmnt_data".
//
// Every member is `float name(float value)` and/or `float name()`. Most
// setters are control changes: the script's 0..1 value x 128 goes through
// the instrument's controlChange (so it is clamped there, with its
// messages) and the setter answers the value the instrument recorded,
// which the getter returns too. startBlowing and stopBlowing (and clear)
// write no result; startBlowing ramps at the rate last given to `rate`.
// A NaN argument is refused with one message and changes nothing.
#include "chip/syn/syn_control.h"
#include "chip/syn/syn_winds.h"
#include "chip/syn/ugen_syn.h"

namespace {

SAMPLE tick_instrument(Frame_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }

// A property set through control change N and read from a recorded value.
template <typename T, int N, double T::*Stored>
double set_cc(Frame_Slot& s, double v) {
  T& in = s.as<T>();
  in.controlChange(N, syn_float(v * 128.0));
  return in.*Stored;
}

template <typename T, double T::*Stored>
double get_stored(Frame_Slot& s) {
  return s.as<T>().*Stored;
}

template <typename T, int N, double T::*Stored>
constexpr Frame_Member cc_prop(const char* name) {
  return frame_prop(name, "float", set_cc<T, N, Stored>, get_stored<T, Stored>);
}

// The class name in messages.
template <typename T>
const char* who();
template <>
const char* who<Clarinet>() { return "Clarinet"; }
template <>
const char* who<Saxofony>() { return "Saxofony"; }
template <>
const char* who<BlowHole>() { return "BlowHole"; }
template <>
const char* who<Flute>() { return "Flute"; }
template <>
const char* who<BlowBotl>() { return "BlowBotl"; }
template <>
const char* who<Brass>() { return "Brass"; }

// `rate`: the recorded rate that startBlowing uses.
template <typename T>
constexpr Frame_Member rate_prop() {
  return frame_prop(
      "rate", "float",
      [](Frame_Slot& s, double v) {
        T& in = s.as<T>();
        if (syn_is_number(who<T>(), "rate parameter", v)) in.storedRate = v;
        return in.storedRate;
      },
      get_stored<T, &T::storedRate>);
}

template <typename T>
constexpr Frame_Member start_blowing() {
  return frame_method(
      "startBlowing", "float",
      [](Frame_Slot& s, void* args, Chip_DL_Return*) {
        T& in = s.as<T>();
        in.startBlowing(syn_float(GET_NEXT_FLOAT(args)), syn_float(in.storedRate));
      },
      {"float", "value"});
}

template <typename T>
constexpr Frame_Member stop_blowing() {
  return frame_method(
      "stopBlowing", "float",
      [](Frame_Slot& s, void* args, Chip_DL_Return*) {
        s.as<T>().stopBlowing(syn_float(GET_NEXT_FLOAT(args)));
      },
      {"float", "value"});
}

template <typename T>
constexpr Frame_Member clear_method() {
  return frame_method(
      "clear", "float", [](Frame_Slot& s, void*, Chip_DL_Return*) { s.as<T>().clear(); },
      {"float", "value"});
}

// `vibratoFreq` in Hz: the vibrato's frequency, recorded.
template <typename T>
constexpr Frame_Member vibrato_freq() {
  return frame_prop(
      "vibratoFreq", "float",
      [](Frame_Slot& s, double v) {
        T& in = s.as<T>();
        if (syn_is_number(who<T>(), "vibratoFreq parameter", v)) {
          in.breath.vibrato.setFrequency(v);
          in.storedVibratoFreq = in.breath.vibrato.frequency;
        }
        return in.storedVibratoFreq;
      },
      get_stored<T, &T::storedVibratoFreq>);
}

// ---------------------------------------------------------------------------
// BlowBotl

const Frame_Member kBlowBotlMembers[] = {
    start_blowing<BlowBotl>(),
    stop_blowing<BlowBotl>(),
    rate_prop<BlowBotl>(),
    cc_prop<BlowBotl, 4, &BlowBotl::storedNoiseGain>("noiseGain"),
    vibrato_freq<BlowBotl>(),
    cc_prop<BlowBotl, 1, &BlowBotl::storedVibratoGain>("vibratoGain"),
    cc_prop<BlowBotl, 128, &BlowBotl::storedVolume>("volume"),
};

Frame_Obj* make_blowbotl(Chip_Object*) {
  BlowBotl* b = new BlowBotl;
  b->setFrequency(220.0f);
  return b;
}

// ---------------------------------------------------------------------------
// BlowHole

const Frame_Member kBlowHoleMembers[] = {
    start_blowing<BlowHole>(),
    stop_blowing<BlowHole>(),
    frame_prop(
        "vent", "float",
        [](Frame_Slot& s, double v) {
          BlowHole& b = s.as<BlowHole>();
          if (syn_is_number("BlowHole", "setVent parameter", v)) {
            b.setVent(syn_float(v));
            b.storedVent = v;
          }
          return b.storedVent;
        },
        get_stored<BlowHole, &BlowHole::storedVent>),
    frame_prop(
        "tonehole", "float",
        [](Frame_Slot& s, double v) {
          BlowHole& b = s.as<BlowHole>();
          if (syn_is_number("BlowHole", "setTonehole parameter", v)) {
            b.setTonehole(syn_float(v));
            b.storedTonehole = v;
          }
          return b.storedTonehole;
        },
        get_stored<BlowHole, &BlowHole::storedTonehole>),
    cc_prop<BlowHole, 2, &BlowHole::storedReed>("reed"),
    rate_prop<BlowHole>(),
    cc_prop<BlowHole, 4, &BlowHole::storedNoiseGain>("noiseGain"),
    cc_prop<BlowHole, 128, &BlowHole::storedPressure>("pressure"),
};

Frame_Obj* make_blowhole(Chip_Object*) {
  BlowHole* b = new BlowHole(20.0f);
  b->setFrequency(220.0f);
  return b;
}

// ---------------------------------------------------------------------------
// Brass

const Frame_Member kBrassMembers[] = {
    clear_method<Brass>(),
    start_blowing<Brass>(),
    stop_blowing<Brass>(),
    cc_prop<Brass, 2, &Brass::storedLip>("lip"),
    cc_prop<Brass, 4, &Brass::storedSlide>("slide"),
    vibrato_freq<Brass>(),
    cc_prop<Brass, 1, &Brass::storedVibratoGain>("vibratoGain"),
    cc_prop<Brass, 128, &Brass::storedVolume>("volume"),
    rate_prop<Brass>(),
};

// ---------------------------------------------------------------------------
// Clarinet

const Frame_Member kClarinetMembers[] = {
    clear_method<Clarinet>(),
    start_blowing<Clarinet>(),
    stop_blowing<Clarinet>(),
    rate_prop<Clarinet>(),
    cc_prop<Clarinet, 2, &Clarinet::storedReed>("reed"),
    cc_prop<Clarinet, 4, &Clarinet::storedNoiseGain>("noiseGain"),
    vibrato_freq<Clarinet>(),
    cc_prop<Clarinet, 1, &Clarinet::storedVibratoGain>("vibratoGain"),
    cc_prop<Clarinet, 128, &Clarinet::storedPressure>("pressure"),
};

// ---------------------------------------------------------------------------
// Flute

const Frame_Member kFluteMembers[] = {
    clear_method<Flute>(),
    start_blowing<Flute>(),
    stop_blowing<Flute>(),
    rate_prop<Flute>(),
    frame_prop(
        "jetReflection", "float",
        [](Frame_Slot& s, double v) {
          Flute& f = s.as<Flute>();
          if (syn_is_number("Flute", "setJetReflection parameter", v)) {
            f.setJetReflection(syn_float(v));
            f.storedJetReflection = f.jetReflection;
          }
          return f.storedJetReflection;
        },
        get_stored<Flute, &Flute::storedJetReflection>),
    frame_prop(
        "jetDelay", "float",
        [](Frame_Slot& s, double v) {
          Flute& f = s.as<Flute>();
          if (syn_is_number("Flute", "setJetDelay parameter", v)) {
            f.setJetDelay(syn_float(v));
            f.storedJetDelay = v;
          }
          return f.storedJetDelay;
        },
        get_stored<Flute, &Flute::storedJetDelay>),
    frame_prop(
        "endReflection", "float",
        [](Frame_Slot& s, double v) {
          Flute& f = s.as<Flute>();
          if (syn_is_number("Flute", "setEndReflection parameter", v)) {
            f.setEndReflection(syn_float(v));
            f.storedEndReflection = f.endReflection;
          }
          return f.storedEndReflection;
        },
        get_stored<Flute, &Flute::storedEndReflection>),
    cc_prop<Flute, 4, &Flute::storedNoiseGain>("noiseGain"),
    vibrato_freq<Flute>(),
    cc_prop<Flute, 1, &Flute::storedVibratoGain>("vibratoGain"),
    cc_prop<Flute, 128, &Flute::storedPressure>("pressure"),
};

// ---------------------------------------------------------------------------
// Saxofony

const Frame_Member kSaxofonyMembers[] = {
    clear_method<Saxofony>(),
    start_blowing<Saxofony>(),
    stop_blowing<Saxofony>(),
    rate_prop<Saxofony>(),
    cc_prop<Saxofony, 2, &Saxofony::storedReed>("stiffness"),
    cc_prop<Saxofony, 26, &Saxofony::storedAperture>("aperture"),
    cc_prop<Saxofony, 4, &Saxofony::storedNoiseGain>("noiseGain"),
    cc_prop<Saxofony, 1, &Saxofony::storedVibratoGain>("vibratoGain"),
    frame_prop(
        "vibratoFreq", "float",
        [](Frame_Slot& s, double v) {
          Saxofony& x = s.as<Saxofony>();
          if (syn_is_number("Saxofony", "vibratoFreq parameter", v))
            x.breath.vibrato.setFrequency(v);
          return double(x.breath.vibrato.frequency);
        },
        [](Frame_Slot& s) { return double(s.as<Saxofony>().breath.vibrato.frequency); }),
    frame_prop(
        "blowPosition", "float",
        [](Frame_Slot& s, double v) {
          Saxofony& x = s.as<Saxofony>();
          x.setBlowPosition(syn_float(v));
          return double(x.position);
        },
        [](Frame_Slot& s) { return double(s.as<Saxofony>().position); }),
    cc_prop<Saxofony, 128, &Saxofony::storedPressure>("pressure"),
};

Frame_Obj* make_saxofony(Chip_Object*) {
  Saxofony* x = new Saxofony(20.0f);
  x->setFrequency(220.0f);
  return x;
}

// ---------------------------------------------------------------------------
// The family.

}  // namespace

SYN_CLASS(BlowBotl) = frame_draws_random({
    "BlowBotl", "SynInstrument", nullptr, &Instrmnt_offset_data, make_blowbotl,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kBlowBotlMembers)});
SYN_CLASS(BlowHole) = frame_draws_random({
    "BlowHole", "SynInstrument", nullptr, &Instrmnt_offset_data, make_blowhole,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kBlowHoleMembers)});
SYN_CLASS(Brass) = {
    "Brass", "SynInstrument", nullptr, &Instrmnt_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Brass(20.0f); }, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kBrassMembers)};
SYN_CLASS(Clarinet) = frame_draws_random({
    "Clarinet", "SynInstrument", nullptr, &Instrmnt_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Clarinet(30.0f); }, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kClarinetMembers)});
SYN_CLASS(Flute) = frame_draws_random({
    "Flute", "SynInstrument", nullptr, &Instrmnt_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Flute(40.0f); }, tick_instrument,
    frame_pmsg_true, FRAME_MEMBERS(kFluteMembers)});
SYN_CLASS(Saxofony) = frame_draws_random({
    "Saxofony", "SynInstrument", nullptr, &Instrmnt_offset_data, make_saxofony,
    tick_instrument, frame_pmsg_true, FRAME_MEMBERS(kSaxofonyMembers)});
