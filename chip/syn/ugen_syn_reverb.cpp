// The toolkit module's reverberator classes: JCRev, NRev and KestRev.
//
// Each language class wraps one toolkit reverberator (chip/syn/syn_reverb.h)
// built with a decay time of 4 seconds at the toolkit rate of the moment.
// The tick hands the input to the reverberator and outputs the mean of its
// stereo pair. The only member is the effect mix, `float mix(float value)`
// and `float mix()`: a finite value is stored as it comes (values outside
// 0..1 scale wet and dry as given), NaN and absurd magnitudes are corrected
// by Reverb::setEffectMix. Every message is accepted by pmsg.
//
// The descriptors go to syn_query through syn_reverb_classes
// (chip/syn/ugen_syn.h), which registers them in the module's order.
//
// TODO(effects): Chorus and PitShift join this table when they are built.
#include "chip/syn/syn_reverb.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD JCRev_offset_data = FRAME_NO_OFFSET;
t_CPWORD NRev_offset_data = FRAME_NO_OFFSET;
t_CPWORD KestRev_offset_data = FRAME_NO_OFFSET;

namespace {

// The decay time the language classes build their reverberators with.
constexpr float kLanguageT60 = 4.0f;

double set_mix(Frame_Slot& slot, double value) {
  return slot.as<Reverb>().setEffectMix(value);
}
double get_mix(Frame_Slot& slot) { return slot.as<Reverb>().getEffectMix(); }

SAMPLE tick_reverb(Frame_Slot& slot, SAMPLE in) { return slot.as<Reverb>().tick(in); }

const Frame_Member kReverbMembers[] = {
    frame_prop("mix", "float", set_mix, get_mix),
};

const Frame_Class_Desc kReverbClasses[] = {
    {"JCRev", "UGen", "@JCRev_data", &JCRev_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new JCRev(kLanguageT60); }, tick_reverb,
     frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)},
    {"NRev", "UGen", "@NRev_data", &NRev_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new NRev(kLanguageT60); }, tick_reverb,
     frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)},
    {"KestRev", "UGen", "@KestRev_data", &KestRev_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new KestRev(kLanguageT60); }, tick_reverb,
     frame_pmsg_true, FRAME_MEMBERS(kReverbMembers)},
};

}  // namespace

const Frame_Class_Desc* syn_reverb_classes(size_t* count) {
  *count = sizeof(kReverbClasses) / sizeof(kReverbClasses[0]);
  return kReverbClasses;
}
