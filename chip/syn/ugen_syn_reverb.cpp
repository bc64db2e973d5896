// The toolkit module's reverberator and effect classes: JCRev, NRev,
// KestRev, Chorus and PitShift.
//
// Each language class wraps one toolkit reverberator (chip/syn/syn_reverb.h)
// built with a decay time of 4 seconds at the toolkit rate of the moment.
// The tick hands the input to the reverberator and outputs the mean of its
// stereo pair. The only member is the effect mix, `float mix(float value)`
// and `float mix()`: a finite value is stored as it comes (values outside
// 0..1 scale wet and dry as given), NaN and absurd magnitudes are corrected
// by Reverb::setEffectMix. Every message is accepted by pmsg.
//
// Chorus (chip/syn/syn_effects.h) is built with a base delay of 3000
// samples. Its members: modFreq (the sweep's rate in Hz), modDepth,
// baseDelay (dur; the line keeps its size), mix (clamped to 0..1 with a
// message) and `void max(dur baseDelay, float modDepth)`, which rebuilds
// the line with room for that delay and depth. PitShift's members: shift
// (the pitch factor; it reads back as 1 - rate) and mix, also named
// effectMix. Setters ignore values that are not finite numbers.
//
// The descriptors are rows of the module's class list (chip/syn/ugen_syn.h),
// which syn_query registers in the list's order.
#include "chip/syn/syn_effects.h"
#include "chip/syn/syn_reverb.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD JCRev_offset_data = FRAME_NO_OFFSET;
t_CPWORD NRev_offset_data = FRAME_NO_OFFSET;
t_CPWORD KestRev_offset_data = FRAME_NO_OFFSET;
t_CPWORD Chorus_offset_data = FRAME_NO_OFFSET;
t_CPWORD PitShift_offset_data = FRAME_NO_OFFSET;

namespace {

// The decay time the language classes build their reverberators with.
constexpr float kLanguageT60 = 4.0f;

double set_mix(Frame_Slot& slot, double value) {
  return slot.as<Reverb>().setEffectMix(value);
}
double get_mix(Frame_Slot& slot) { return slot.as<Reverb>().getEffectMix(); }

SAMPLE tick_reverb(Frame_Slot& slot, SAMPLE in) { return slot.as<Reverb>().tick(in); }
SAMPLE tick_chorus(Frame_Slot& slot, SAMPLE in) { return slot.as<Chorus>().tick(in); }
SAMPLE tick_pitshift(Frame_Slot& slot, SAMPLE in) { return slot.as<PitShift>().tick(in); }

const Frame_Member kReverbMembers[] = {
    frame_prop("mix", "float", set_mix, get_mix),
};

// The base delay the language class builds its chorus with, in samples.
constexpr float kChorusBaseDelay = 3000.0f;

const Frame_Member kChorusMembers[] = {
    frame_prop(
        "modFreq", "float",
        [](Frame_Slot& s, double v) {
          Chorus& c = s.as<Chorus>();
          c.setModFrequency(v);
          return double(c.modulator.frequency);
        },
        [](Frame_Slot& s) { return double(s.as<Chorus>().modulator.frequency); }),
    frame_prop(
        "modDepth", "float",
        [](Frame_Slot& s, double v) {
          s.as<Chorus>().setModDepth(v);
          return double(s.as<Chorus>().modDepth);
        },
        [](Frame_Slot& s) { return double(s.as<Chorus>().modDepth); }),
    frame_prop(
        "baseDelay", "dur",
        [](Frame_Slot& s, double v) {
          s.as<Chorus>().setBaseLength(v);
          return double(s.as<Chorus>().baseLength);
        },
        [](Frame_Slot& s) { return double(s.as<Chorus>().baseLength); }),
    frame_prop(
        "mix", "float",
        [](Frame_Slot& s, double v) { return double(s.as<Chorus>().setEffectMix(v)); },
        [](Frame_Slot& s) { return double(s.as<Chorus>().effectMix); }),
    frame_method(
        "max", "void",
        [](Frame_Slot& s, void* args, Chip_DL_Return*) {
          const double base = GET_NEXT_DUR(args);
          const double depth = GET_NEXT_FLOAT(args);
          s.as<Chorus>().set(syn_float(base), syn_float(depth));
        },
        {"dur", "baseDelay"}, {"float", "modDepth"}),
};

double set_pitshift_mix(Frame_Slot& s, double v) {
  return double(s.as<PitShift>().setEffectMix(v));
}
double get_pitshift_mix(Frame_Slot& s) { return double(s.as<PitShift>().effectMix); }

const Frame_Member kPitShiftMembers[] = {
    frame_prop(
        "shift", "float",
        [](Frame_Slot& s, double v) { return double(s.as<PitShift>().setShift(v)); },
        [](Frame_Slot& s) { return double(s.as<PitShift>().getShift()); }),
    frame_prop("mix", "float", set_pitshift_mix, get_pitshift_mix),
    frame_prop("effectMix", "float", set_pitshift_mix, get_pitshift_mix),
};

}  // namespace

SYN_CLASS(JCRev) = frame_in_blocks<tick_reverb>({
    "JCRev", "UGen", "@JCRev_data", &JCRev_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new JCRev(kLanguageT60); }, tick_reverb,
    frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)});
SYN_CLASS(NRev) = frame_in_blocks<tick_reverb>({
    "NRev", "UGen", "@NRev_data", &NRev_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new NRev(kLanguageT60); }, tick_reverb,
    frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)});
SYN_CLASS(KestRev) = frame_in_blocks<tick_reverb>({
    "KestRev", "UGen", "@KestRev_data", &KestRev_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new KestRev(kLanguageT60); }, tick_reverb,
    frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)});
SYN_CLASS(Chorus) = frame_in_blocks<tick_chorus>({
    "Chorus", "UGen", "@Chorus_data", &Chorus_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Chorus(kChorusBaseDelay); },
    tick_chorus, frame_pmsg_true,
    FRAME_MEMBERS(kChorusMembers)});
SYN_CLASS(PitShift) = frame_in_blocks<tick_pitshift>({
    "PitShift", "UGen", "@PitShift_data", &PitShift_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new PitShift; },
    tick_pitshift, frame_pmsg_true,
    FRAME_MEMBERS(kPitShiftMembers)});
