// The language classes Delay, DelayA, DelayL and Echo: the toolkit delay
// lines (chip/syn/syn_delay.h) as one-in, one-out unit generators. Every
// property is a "dur" in samples except Echo's "mix". A Delay takes whole
// samples (the value rounded half up); DelayA and DelayL keep fractions.
//
// "max" of the three lines reallocates the buffer with (value + 1.5)
// truncated + 1 slots, so its getter answers value + 1 (rounded down) and
// that is the largest usable delay; the current delay is re-applied, and
// clamped with a message when it no longer fits. A value that is not a
// finite number (delay or maximum) leaves the line as it was, with a
// message; a finite value far out of range is held to what the toolkit
// line accepts (0..Delay::kMaxDelay).
#include <cmath>

#include "chip/syn/syn_delay.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD Delay_offset_data = FRAME_NO_OFFSET;
t_CPWORD DelayA_offset_data = FRAME_NO_OFFSET;
t_CPWORD DelayL_offset_data = FRAME_NO_OFFSET;
t_CPWORD Echo_offset_data = FRAME_NO_OFFSET;

namespace {

// A finite sample count as a whole number in the int range (so a
// conversion can never overflow); the toolkit clamps it further.
long whole(double v) {
  if (v >= 2147483647.0) return 2147483647L;
  if (v <= -2147483648.0) return -2147483648L;
  return static_cast<long>(v);
}

Delay& line(Frame_Slot& s) { return s.as<Delay>(); }

double delay_of(Frame_Slot& s) { return line(s).getDelay(); }
double max_of(Frame_Slot& s) { return static_cast<double>(line(s).getMaximumDelay()); }

// "max" of the three lines: length = (value + 1.5) truncated + 1.
double set_max(Frame_Slot& s, double v) {
  if (!std::isfinite(v)) {
    line(s).rejectNonFinite("max", v);
  } else {
    line(s).resize(whole(v + 1.5));
  }
  return max_of(s);
}

const Frame_Member kDelayMembers[] = {
    frame_prop(
        "delay", "dur",
        [](Frame_Slot& s, double v) {
          if (!std::isfinite(v)) {
            line(s).rejectNonFinite("setDelay", v);
          } else {
            line(s).setDelay(whole(v + 0.5));
          }
          return delay_of(s);
        },
        delay_of),
    frame_prop("max", "dur", set_max, max_of),
};

// DelayA and DelayL: the fractional setDelay of their class (which turns
// a non-finite value away itself).
template <typename Line>
double set_fractional(Frame_Slot& s, double v) {
  s.as<Line>().setDelay(syn_float(v));
  return delay_of(s);
}

const Frame_Member kDelayAMembers[] = {
    frame_prop("delay", "dur", set_fractional<DelayA>, delay_of),
    frame_prop("max", "dur", set_max, max_of),
};

const Frame_Member kDelayLMembers[] = {
    frame_prop("delay", "dur", set_fractional<DelayL>, delay_of),
    frame_prop("max", "dur", set_max, max_of),
};

Echo& echo(Frame_Slot& s) { return s.as<Echo>(); }

const Frame_Member kEchoMembers[] = {
    frame_prop(
        "delay", "dur",
        [](Frame_Slot& s, double v) {
          echo(s).setDelay(syn_float(v));
          return double(echo(s).delayLine->getDelay());
        },
        [](Frame_Slot& s) { return double(echo(s).delayLine->getDelay()); }),
    frame_prop(
        "max", "dur",
        [](Frame_Slot& s, double v) {
          echo(s).set(syn_float(v));
          return double(echo(s).length);
        },
        [](Frame_Slot& s) { return double(echo(s).length); }),
    frame_prop(
        "mix", "float",
        [](Frame_Slot& s, double v) {
          echo(s).setEffectMix(syn_float(v));
          return double(echo(s).effectMix);
        },
        [](Frame_Slot& s) { return double(echo(s).effectMix); }),
};

SAMPLE tick_line(Frame_Slot& s, SAMPLE in) { return line(s).tick(in); }
SAMPLE tick_echo(Frame_Slot& s, SAMPLE in) { return echo(s).tick(in); }

}  // namespace

SYN_CLASS(Delay) = frame_in_blocks<tick_line>({
    "Delay", "UGen", "@Delay_data", &Delay_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Delay; }, tick_line, frame_pmsg_false,
    FRAME_MEMBERS(kDelayMembers)});
SYN_CLASS(DelayA) = frame_in_blocks<tick_line>({
    "DelayA", "UGen", "@DelayA_data", &DelayA_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new DelayA; }, tick_line, frame_pmsg_false,
    FRAME_MEMBERS(kDelayAMembers)});
SYN_CLASS(DelayL) = frame_in_blocks<tick_line>({
    "DelayL", "UGen", "@DelayL_data", &DelayL_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new DelayL; }, tick_line, frame_pmsg_false,
    FRAME_MEMBERS(kDelayLMembers)});
SYN_CLASS(Echo) = frame_in_blocks<tick_echo>({
    "Echo", "UGen", "@Echo_data", &Echo_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Echo; },
    tick_echo, frame_pmsg_false,
    FRAME_MEMBERS(kEchoMembers)});
