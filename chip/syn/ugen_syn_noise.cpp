// The language class SubNoise: stepped white noise that holds each value
// for `rate` samples (chip/syn_noise.h); its input is ignored.
#include "chip/syn/syn_noise.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD SubNoise_offset_data = FRAME_NO_OFFSET;

namespace {

const Syn_Member kSubNoiseMembers[] = {
    syn_prop(
        "rate", "int",
        [](Syn_Slot& s, double v) {
          SubNoise& noise = s.as<SubNoise>();
          noise.setRate(static_cast<int>(v));  // below 1: ignored
          return double(noise.holdLength);
        },
        [](Syn_Slot& s) { return double(s.as<SubNoise>().holdLength); }),
};

const Syn_Class_Desc kNoiseClasses[] = {
    {"SubNoise", "UGen", "@SubNoise_data", &SubNoise_offset_data,
     [](Chip_Object*) -> Syn* { return new SubNoise(16); },
     [](Syn_Slot& s, SAMPLE) { return s.as<SubNoise>().tick(); }, syn_pmsg_true,
     SYN_MEMBERS(kSubNoiseMembers)},
};

}  // namespace

const Syn_Class_Desc* syn_noise_classes(size_t* count) {
  *count = sizeof kNoiseClasses / sizeof kNoiseClasses[0];
  return kNoiseClasses;
}
