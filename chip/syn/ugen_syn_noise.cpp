// The language class SubNoise: stepped white noise that holds each value
// for `rate` samples (chip/syn/syn_noise.h); its input is ignored.
#include "chip/syn/syn_noise.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD SubNoise_offset_data = FRAME_NO_OFFSET;

namespace {

const Frame_Member kSubNoiseMembers[] = {
    frame_prop(
        "rate", "int",
        [](Frame_Slot& s, double v) {
          SubNoise& noise = s.as<SubNoise>();
          noise.setRate(static_cast<int>(v));  // below 1: ignored
          return double(noise.holdLength);
        },
        [](Frame_Slot& s) { return double(s.as<SubNoise>().holdLength); }),
};

}  // namespace

SYN_CLASS(SubNoise) = frame_draws_random({
    "SubNoise", "UGen", "@SubNoise_data", &SubNoise_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new SubNoise(16); },
    [](Frame_Slot& s, SAMPLE) { return s.as<SubNoise>().tick(); }, frame_pmsg_true,
    FRAME_MEMBERS(kSubNoiseMembers)});
