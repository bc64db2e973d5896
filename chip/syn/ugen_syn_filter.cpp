// The language classes FilterSyn, OnePole, TwoPole, OneZero, TwoZero and
// PoleZero: the toolkit filters (chip/syn_filter.h) as one-in, one-out unit
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
double set_b(Syn_Slot& s, double v) {
  s.as<F>().b[I] = syn_float(v);
  return s.as<F>().b[I];
}
template <typename F, int I>
double get_b(Syn_Slot& s) {
  return s.as<F>().b[I];
}
template <typename F, int I>
double set_a(Syn_Slot& s, double v) {
  s.as<F>().a[I] = syn_float(v);
  return s.as<F>().a[I];
}
template <typename F, int I>
double get_a(Syn_Slot& s) {
  return s.as<F>().a[I];
}

const Syn_Member kFilterSynMembers[] = {
    syn_method(
        "coefs", "string",
        [](Syn_Slot&, void*, Chip_DL_Return* ret) {
          syn_warn("FilterSyn.coefs :: not implemented");
          ret->v_object = nullptr;
        },
        {"string", "value"}),
};

// OnePole

double get_pole(Syn_Slot& s) { return -s.as<OnePole>().a[1]; }

const Syn_Member kOnePoleMembers[] = {
    syn_prop("a1", "float", set_a<OnePole, 1>, get_a<OnePole, 1>),
    syn_prop("b0", "float", set_b<OnePole, 0>, get_b<OnePole, 0>),
    syn_prop(
        "pole", "float",
        [](Syn_Slot& s, double v) {
          s.as<OnePole>().setPole(syn_float(v));
          return get_pole(s);
        },
        get_pole),
};

// TwoPole

TwoPole& two_pole(Syn_Slot& s) { return s.as<TwoPole>(); }

void resonate(TwoPole& f) { f.setResonance(f.resFreq, f.resRad, f.resNorm); }

const Syn_Member kTwoPoleMembers[] = {
    syn_prop("a1", "float", set_a<TwoPole, 1>, get_a<TwoPole, 1>),
    syn_prop("a2", "float", set_a<TwoPole, 2>, get_a<TwoPole, 2>),
    syn_prop("b0", "float", set_b<TwoPole, 0>, get_b<TwoPole, 0>),
    syn_prop(
        "freq", "float",
        [](Syn_Slot& s, double v) {
          two_pole(s).resFreq = syn_float(v);
          resonate(two_pole(s));
          return double(two_pole(s).resFreq);
        },
        [](Syn_Slot& s) { return double(two_pole(s).resFreq); }),
    syn_prop(
        "radius", "float",
        [](Syn_Slot& s, double v) {
          two_pole(s).resRad = syn_float(v);
          resonate(two_pole(s));
          return double(two_pole(s).resRad);
        },
        [](Syn_Slot& s) { return double(two_pole(s).resRad); }),
    syn_prop(
        "norm", "int",
        [](Syn_Slot& s, double v) {
          two_pole(s).resNorm = v != 0.0;
          resonate(two_pole(s));
          return two_pole(s).resNorm ? 1.0 : 0.0;
        },
        [](Syn_Slot& s) { return two_pole(s).resNorm ? 1.0 : 0.0; }),
};

// OneZero

double get_zero(Syn_Slot& s) {
  const OneZero& f = s.as<OneZero>();
  return f.b[0] == 0.0f ? 0.0 : double(-f.b[1]) / double(f.b[0]);
}

const Syn_Member kOneZeroMembers[] = {
    syn_prop(
        "zero", "float",
        [](Syn_Slot& s, double v) {
          s.as<OneZero>().setZero(syn_float(v));
          return get_zero(s);
        },
        get_zero),
    syn_prop("b0", "float", set_b<OneZero, 0>, get_b<OneZero, 0>),
    syn_prop("b1", "float", set_b<OneZero, 1>, get_b<OneZero, 1>),
};

// TwoZero

TwoZero& two_zero(Syn_Slot& s) { return s.as<TwoZero>(); }

void notch(TwoZero& f) { f.setNotch(f.notchFreq, f.notchRad); }

const Syn_Member kTwoZeroMembers[] = {
    syn_prop("b0", "float", set_b<TwoZero, 0>, get_b<TwoZero, 0>),
    syn_prop("b1", "float", set_b<TwoZero, 1>, get_b<TwoZero, 1>),
    syn_prop("b2", "float", set_b<TwoZero, 2>, get_b<TwoZero, 2>),
    syn_prop(
        "freq", "float",
        [](Syn_Slot& s, double v) {
          two_zero(s).notchFreq = syn_float(v);
          notch(two_zero(s));
          return double(two_zero(s).notchFreq);
        },
        [](Syn_Slot& s) { return double(two_zero(s).notchFreq); }),
    syn_prop(
        "radius", "float",
        [](Syn_Slot& s, double v) {
          two_zero(s).notchRad = syn_float(v);
          notch(two_zero(s));
          return double(two_zero(s).notchRad);
        },
        [](Syn_Slot& s) { return double(two_zero(s).notchRad); }),
};

// PoleZero

const Syn_Member kPoleZeroMembers[] = {
    syn_prop("a1", "float", set_a<PoleZero, 1>, get_a<PoleZero, 1>),
    syn_prop("b0", "float", set_b<PoleZero, 0>, get_b<PoleZero, 0>),
    syn_prop("b1", "float", set_b<PoleZero, 1>, get_b<PoleZero, 1>),
    syn_prop(
        "blockZero", "float",
        [](Syn_Slot& s, double v) {
          s.as<PoleZero>().setBlockZero(syn_float(v));
          return double(-s.as<PoleZero>().a[1]);
        },
        [](Syn_Slot& s) { return double(-s.as<PoleZero>().a[1]); }),
    syn_prop(
        "allpass", "float",
        [](Syn_Slot& s, double v) {
          s.as<PoleZero>().setAllpass(syn_float(v));
          return double(s.as<PoleZero>().b[0]);
        },
        [](Syn_Slot& s) { return double(s.as<PoleZero>().b[0]); }),
};

// Every filter ticks through FilterSyn's virtual slot.
SAMPLE tick_filter(Syn_Slot& s, SAMPLE in) { return s.as<FilterSyn>().tick(in); }

const Syn_Class_Desc kFilterClasses[] = {
    {"FilterSyn", "UGen", "@FilterSyn_data", &FilterSyn_offset_data,
     [](Chip_Object*) -> Syn* { return new FilterSyn; }, tick_filter, syn_pmsg_false,
     SYN_MEMBERS(kFilterSynMembers)},
    {"OnePole", "UGen", "@OnePole_data", &OnePole_offset_data,
     [](Chip_Object*) -> Syn* { return new OnePole; }, tick_filter, syn_pmsg_true,
     SYN_MEMBERS(kOnePoleMembers)},
    {"TwoPole", "UGen", "@TwoPole_data", &TwoPole_offset_data,
     [](Chip_Object*) -> Syn* { return new TwoPole; }, tick_filter, syn_pmsg_true,
     SYN_MEMBERS(kTwoPoleMembers)},
    {"OneZero", "UGen", "@OneZero_data", &OneZero_offset_data,
     [](Chip_Object*) -> Syn* { return new OneZero; }, tick_filter, syn_pmsg_true,
     SYN_MEMBERS(kOneZeroMembers)},
    {"TwoZero", "UGen", "@TwoZero_data", &TwoZero_offset_data,
     [](Chip_Object*) -> Syn* { return new TwoZero; }, tick_filter, syn_pmsg_true,
     SYN_MEMBERS(kTwoZeroMembers)},
    {"PoleZero", "UGen", "@PoleZero_data", &PoleZero_offset_data,
     [](Chip_Object*) -> Syn* { return new PoleZero; }, tick_filter, syn_pmsg_true,
     SYN_MEMBERS(kPoleZeroMembers)},
};

}  // namespace

const Syn_Class_Desc* syn_filter_classes(size_t* count) {
  *count = sizeof kFilterClasses / sizeof kFilterClasses[0];
  return kFilterClasses;
}
