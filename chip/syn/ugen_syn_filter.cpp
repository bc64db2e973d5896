// The language classes FilterSyn, OnePole, TwoPole, OneZero, TwoZero and
// PoleZero: the toolkit filters (chip/syn/syn_filter.h) as one-in, one-out unit
// generators. Setters store the coefficient or musical parameter and
// answer what the getter answers right after; they never touch the filter's
// history, so parameters change while sound passes. TwoPole keeps its
// resonance (freq, radius, norm) and TwoZero its notch (freq, radius) and
// recompute the coefficients from all of them whenever one changes.
#include "chip/syn/syn_filter.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD FilterSyn_offset_data = FRAME_NO_OFFSET;
t_CPWORD OnePole_offset_data = FRAME_NO_OFFSET;
t_CPWORD TwoPole_offset_data = FRAME_NO_OFFSET;
t_CPWORD OneZero_offset_data = FRAME_NO_OFFSET;
t_CPWORD TwoZero_offset_data = FRAME_NO_OFFSET;
t_CPWORD PoleZero_offset_data = FRAME_NO_OFFSET;

namespace {

// A property that is one coefficient of class F: b[I] or a[I].
template <typename F, int I>
double set_b(Frame_Slot& s, double v) {
  s.as<F>().b[I] = syn_float(v);
  return s.as<F>().b[I];
}
template <typename F, int I>
double get_b(Frame_Slot& s) {
  return s.as<F>().b[I];
}
template <typename F, int I>
double set_a(Frame_Slot& s, double v) {
  s.as<F>().a[I] = syn_float(v);
  return s.as<F>().a[I];
}
template <typename F, int I>
double get_a(Frame_Slot& s) {
  return s.as<F>().a[I];
}

const Frame_Member kFilterSynMembers[] = {
    frame_method(
        "coefs", "string",
        [](Frame_Slot&, void*, Chip_DL_Return* ret) {
          syn_warn("FilterSyn.coefs :: not implemented");
          ret->v_object = nullptr;
        },
        {"string", "value"}),
};

// OnePole

double get_pole(Frame_Slot& s) { return -s.as<OnePole>().a[1]; }

const Frame_Member kOnePoleMembers[] = {
    frame_prop("a1", "float", set_a<OnePole, 1>, get_a<OnePole, 1>),
    frame_prop("b0", "float", set_b<OnePole, 0>, get_b<OnePole, 0>),
    frame_prop(
        "pole", "float",
        [](Frame_Slot& s, double v) {
          s.as<OnePole>().setPole(syn_float(v));
          return get_pole(s);
        },
        get_pole),
};

// TwoPole

TwoPole& two_pole(Frame_Slot& s) { return s.as<TwoPole>(); }

void resonate(TwoPole& f) { f.setResonance(f.resFreq, f.resRad, f.resNorm); }

const Frame_Member kTwoPoleMembers[] = {
    frame_prop("a1", "float", set_a<TwoPole, 1>, get_a<TwoPole, 1>),
    frame_prop("a2", "float", set_a<TwoPole, 2>, get_a<TwoPole, 2>),
    frame_prop("b0", "float", set_b<TwoPole, 0>, get_b<TwoPole, 0>),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          two_pole(s).resFreq = syn_float(v);
          resonate(two_pole(s));
          return double(two_pole(s).resFreq);
        },
        [](Frame_Slot& s) { return double(two_pole(s).resFreq); }),
    frame_prop(
        "radius", "float",
        [](Frame_Slot& s, double v) {
          two_pole(s).resRad = syn_float(v);
          resonate(two_pole(s));
          return double(two_pole(s).resRad);
        },
        [](Frame_Slot& s) { return double(two_pole(s).resRad); }),
    frame_prop(
        "norm", "int",
        [](Frame_Slot& s, double v) {
          two_pole(s).resNorm = v != 0.0;
          resonate(two_pole(s));
          return two_pole(s).resNorm ? 1.0 : 0.0;
        },
        [](Frame_Slot& s) { return two_pole(s).resNorm ? 1.0 : 0.0; }),
};

// OneZero

double get_zero(Frame_Slot& s) {
  const OneZero& f = s.as<OneZero>();
  return f.b[0] == 0.0f ? 0.0 : double(-f.b[1]) / double(f.b[0]);
}

const Frame_Member kOneZeroMembers[] = {
    frame_prop(
        "zero", "float",
        [](Frame_Slot& s, double v) {
          s.as<OneZero>().setZero(syn_float(v));
          return get_zero(s);
        },
        get_zero),
    frame_prop("b0", "float", set_b<OneZero, 0>, get_b<OneZero, 0>),
    frame_prop("b1", "float", set_b<OneZero, 1>, get_b<OneZero, 1>),
};

// TwoZero

TwoZero& two_zero(Frame_Slot& s) { return s.as<TwoZero>(); }

void notch(TwoZero& f) { f.setNotch(f.notchFreq, f.notchRad); }

const Frame_Member kTwoZeroMembers[] = {
    frame_prop("b0", "float", set_b<TwoZero, 0>, get_b<TwoZero, 0>),
    frame_prop("b1", "float", set_b<TwoZero, 1>, get_b<TwoZero, 1>),
    frame_prop("b2", "float", set_b<TwoZero, 2>, get_b<TwoZero, 2>),
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          two_zero(s).notchFreq = syn_float(v);
          notch(two_zero(s));
          return double(two_zero(s).notchFreq);
        },
        [](Frame_Slot& s) { return double(two_zero(s).notchFreq); }),
    frame_prop(
        "radius", "float",
        [](Frame_Slot& s, double v) {
          two_zero(s).notchRad = syn_float(v);
          notch(two_zero(s));
          return double(two_zero(s).notchRad);
        },
        [](Frame_Slot& s) { return double(two_zero(s).notchRad); }),
};

// PoleZero

const Frame_Member kPoleZeroMembers[] = {
    frame_prop("a1", "float", set_a<PoleZero, 1>, get_a<PoleZero, 1>),
    frame_prop("b0", "float", set_b<PoleZero, 0>, get_b<PoleZero, 0>),
    frame_prop("b1", "float", set_b<PoleZero, 1>, get_b<PoleZero, 1>),
    frame_prop(
        "blockZero", "float",
        [](Frame_Slot& s, double v) {
          s.as<PoleZero>().setBlockZero(syn_float(v));
          return double(-s.as<PoleZero>().a[1]);
        },
        [](Frame_Slot& s) { return double(-s.as<PoleZero>().a[1]); }),
    frame_prop(
        "allpass", "float",
        [](Frame_Slot& s, double v) {
          s.as<PoleZero>().setAllpass(syn_float(v));
          return double(s.as<PoleZero>().b[0]);
        },
        [](Frame_Slot& s) { return double(s.as<PoleZero>().b[0]); }),
};

// Every filter ticks through FilterSyn's virtual slot.
SAMPLE tick_filter(Frame_Slot& s, SAMPLE in) { return s.as<FilterSyn>().tick(in); }

}  // namespace

SYN_CLASS(FilterSyn) = frame_in_blocks<tick_filter>({
    "FilterSyn", "UGen", "@FilterSyn_data", &FilterSyn_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new FilterSyn; }, tick_filter, frame_pmsg_false,
    FRAME_MEMBERS(kFilterSynMembers)});
SYN_CLASS(OnePole) = frame_in_blocks<tick_filter>({
    "OnePole", "UGen", "@OnePole_data", &OnePole_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new OnePole; }, tick_filter, frame_pmsg_true,
    FRAME_MEMBERS(kOnePoleMembers)});
SYN_CLASS(TwoPole) = frame_in_blocks<tick_filter>({
    "TwoPole", "UGen", "@TwoPole_data", &TwoPole_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new TwoPole; }, tick_filter, frame_pmsg_true,
    FRAME_MEMBERS(kTwoPoleMembers)});
SYN_CLASS(OneZero) = frame_in_blocks<tick_filter>({
    "OneZero", "UGen", "@OneZero_data", &OneZero_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new OneZero; }, tick_filter, frame_pmsg_true,
    FRAME_MEMBERS(kOneZeroMembers)});
SYN_CLASS(TwoZero) = frame_in_blocks<tick_filter>({
    "TwoZero", "UGen", "@TwoZero_data", &TwoZero_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new TwoZero; }, tick_filter, frame_pmsg_true,
    FRAME_MEMBERS(kTwoZeroMembers)});
SYN_CLASS(PoleZero) = frame_in_blocks<tick_filter>({
    "PoleZero", "UGen", "@PoleZero_data", &PoleZero_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new PoleZero; }, tick_filter, frame_pmsg_true,
    FRAME_MEMBERS(kPoleZeroMembers)});
