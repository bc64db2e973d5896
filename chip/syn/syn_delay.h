// Toolkit delay lines and echo.
//
// Delay is a circular buffer with a whole-sample delay; DelayL reads
// between two slots by linear interpolation, DelayA by a first-order
// allpass; Echo mixes one Delay's output with its input. The lines reuse
// FilterSyn's storage: `inputs` is the ring buffer, `outputs[0]` the last
// output. A tick writes first and reads second, so delay 0 returns the
// input of the same tick and delay d the input of d ticks before. Changing
// the delay moves only the read point, so the buffer's contents survive.
//
// Buffer sizes. `length` slots are in use, the largest delay is length - 1.
// A maximum is held to 0..kMaxDelay (so length is 1..kMaxDelay + 1: never
// empty, never an allocation beyond a few megabytes whatever a script
// asks). A delay above the maximum is set to the maximum, one below the
// minimum (0, or 0.5 for DelayA) to the minimum, each with a message; a
// delay or maximum that is not a finite number keeps the previous setting,
// also with a message. A setter can be driven every sample by an
// instrument's vibrato, so each kind of message prints once per object.
//
// DelayA's allpass recursion stores its output flushed (see syn_flush in
// chip/syn/syn_filter.h): no denormals, no NaN kept.
//
// Everything runs on the audio thread; nothing allocates outside the
// constructors, resize() and Echo::set().
#ifndef CHIP_SYN_DELAY_H
#define CHIP_SYN_DELAY_H

#include <memory>

#include "chip/syn/syn.h"
#include "chip/syn/syn_filter.h"

class Delay : public FilterSyn {
 public:
  // The largest maximum delay a line takes, in samples.
  static constexpr long kMaxDelay = 1L << 22;

  // Delay 0, largest delay 4096.
  Delay();
  // Delay theDelay, largest delay maxDelay (held to 0..kMaxDelay).
  Delay(long theDelay, long maxDelay);
  ~Delay() override;

  // Whole-sample delay, clamped to 0..length - 1 with a message.
  void setDelay(long theDelay);
  float getDelay() const { return delay; }
  // Largest delay in samples.
  long getMaximumDelay() const { return length - 1; }
  // Reallocates length = maxDelay + 1 zeroed slots (maxDelay held to
  // 0..kMaxDelay, a message when it is not), restarts the write point and
  // re-applies the current delay (clamped if it no longer fits).
  void resize(long maxDelay);

  float lastOut() const override { return outputs[0]; }
  float tick(float x) override;
  using FilterSyn::tick;
  // The sample the next tick will read (before interpolation).
  virtual float nextOut() const { return inputs[outPoint]; }

  // Reports a delay or maximum that is not a finite number (the setting
  // stays); `what` names the setter.
  void rejectNonFinite(const char* what, double value);

  int inPoint;
  int outPoint;
  int length;
  float delay;

 protected:
  // The class's setDelay, for resize().
  virtual void reapplyDelay(float d);
  // Reallocates `slots` zeroed buffer slots and restarts the write point.
  void allocate(long slots);
  // maxDelay held to 0..kMaxDelay, with a message when it is not.
  long clampMaximum(long maxDelay);
  // The interpolating lines' sizing: maxDelay + 1 slots (maxDelay held as
  // clampMaximum holds it); up to the default buffer's size they are its
  // first slots, beyond it a buffer of their own.
  void useSlotsFor(long maxDelay);
  // The interpolating lines' setDelay up to the read position. A delay that
  // is not a finite number is reported and false returned (nothing
  // changes). Otherwise the delay is held to minimum..length - 1 (with a
  // message when it is not; `belowText` ends the one for a delay below the
  // minimum), stored in `delay`, and *position is the read position, not
  // yet wrapped into the buffer: inPoint - delay + lead within the range,
  // inPoint + lowPoint below it and inPoint + 1 above it.
  bool fractionalPosition(float theDelay, float minimum, float lead, float lowPoint,
                          const char* belowText, float* position);
  // Stores x at the write point, which moves on (wrapping at length).
  void write(float x) {
    inputs[inPoint++] = x;
    if (inPoint == length) inPoint = 0;
  }
  // The class name in messages.
  virtual const char* name() const { return "Delay"; }

  SynOnce tooBig_;
  SynOnce tooSmall_;
  SynOnce notFinite_;
  SynOnce badMaximum_;
};

class DelayL : public Delay {
 public:
  // Delay 0, largest delay 4096.
  DelayL();
  // Delay theDelay, largest delay maxDelay; a maximum up to 4096 uses the
  // first maxDelay + 1 slots of the default buffer.
  DelayL(float theDelay, long maxDelay);

  // Fractional delay, clamped to 0..length - 1; non-finite keeps the last.
  void setDelay(float theDelay);
  float tick(float x) override;
  using FilterSyn::tick;

  float alpha;
  float omAlpha;
  float nextOutput;
  bool doNextOut;

 protected:
  void reapplyDelay(float d) override;
  const char* name() const override { return "DelayL"; }
};

class DelayA : public Delay {
 public:
  // Delay 0.5, largest delay 4096.
  DelayA();
  // Delay theDelay, largest delay maxDelay (as DelayL's).
  DelayA(float theDelay, long maxDelay);

  // Fractional delay, clamped to 0.5..length - 1; non-finite keeps the
  // last. The read point is placed so that alpha lies in [0.5, 1.5), where
  // the allpass coefficient (1 - alpha) / (1 + alpha) is at most 1/3.
  void setDelay(float theDelay);
  float tick(float x) override;
  using FilterSyn::tick;

  float alpha;
  float coeff;
  float apInput;
  float nextOutput;
  bool doNextOut;

 protected:
  void reapplyDelay(float d) override;
  const char* name() const override { return "DelayA"; }
};

// One echo: output = mix * delayed + (1 - mix) * input.
class Echo : public Syn {
 public:
  // Largest delay half a second at Syn::srate, delay half of that, mix 0.5.
  Echo();
  ~Echo() override;

  // A new line whose largest delay is `length` = max + 2 (max held to
  // 0..Delay::kMaxDelay - 2; non-finite keeps the line); the delay stays,
  // shortened to max when it no longer fits; the line starts silent.
  void set(float max);
  // Delay in samples, clamped to 0..length, truncated to a whole sample.
  void setDelay(float delay);
  // Wet share, clamped to 0..1; non-finite keeps the last.
  void setEffectMix(float mix);
  // Silences the line and the last output.
  void clear();
  float tick(float x);
  float lastOut() const { return lastOutput; }

  std::unique_ptr<Delay> delayLine;
  int length;
  float lastOutput;
  float effectMix;

 private:
  SynOnce delayLow_;
  SynOnce delayHigh_;
  SynOnce mixLow_;
  SynOnce mixHigh_;
  SynOnce notFinite_;
  SynOnce maxBad_;
};

#endif
