// LiSa, the live sampler of the xxx module: it records its input into a
// buffer whose length the script chooses (`duration`) and plays it back
// with up to 200 independent voices, each with its own rate (negative plays
// backwards), position, loop points, loop mode (forward or back-and-forth),
// gain and fade-in/fade-out ramps. Recording can loop over a region with
// feedback and short ramps at its ends. In tracking mode the input chooses
// the play position instead (1: relative to each voice's loop, 2: absolute
// for voice 0).
//
// The sampler is a plain class (LiSa_Obj); lisa_query binds it as the
// language class LiSa with its own hidden member "@LiSa_data" (never the
// object's first word, which is the base object's cached string).
//
// Hostile values. Voice numbers outside 0..199 are refused with a message
// (the member answers 0). Before the first `duration` there is no buffer:
// playback outputs 0 and nothing writes. A negative or NaN duration is
// refused; one above kMaxSamples is clamped; the buffer is allocated
// without throwing (a failure is reported and the sampler stays as it
// was). Loop points and the record position are held to [0, size - 1], the
// record region's end to [0, size]; every buffer index is held to the
// buffer anyway. Wrapping uses fmod (no loop that could spin), an empty
// loop pins the position, and values that are not finite numbers (rates,
// positions, ramps, gains, tracking inputs) are ignored (inputs read as 0).
//
// Everything runs on the audio thread; nothing is locked. The tick
// allocates nothing.
#ifndef CHIP_LIB_UGEN_LISA_H
#define CHIP_LIB_UGEN_LISA_H

#include <cstdint>
#include <memory>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/frame_object.h"

class LiSa_Obj : public Frame_Obj {
 public:
  static constexpr int kVoices = 200;
  static constexpr double kMaxSamples = 44100000.0;

  LiSa_Obj() = default;
  ~LiSa_Obj() override = default;

  // Allocates size = integer part of samples (clamped with the message),
  // zeroed, and resets every field; answers samples (kMaxSamples when
  // clamped). A negative or NaN request is refused (answers the size).
  double setDuration(double samples);
  double duration() const { return size; }

  // Whether v names a voice; else prints the refusal.
  static bool voiceOk(long v);

  void setPlay(int v, int toggle);
  double setRate(int v, double rate);
  double setPlayPos(int v, double pos);
  double setRecPos(double pos);
  double setLoopStart(int v, double pos);
  double setLoopEnd(int v, double pos);
  double setLoopEndRec(double pos);
  double setValueAt(double value, double index);
  double valueAt(double index) const;
  void clear();
  int getVoice() const;
  int setMaxVoices(long n);
  void rampUp(int v, double length);
  void rampDown(int v, double length);
  double setRecRamp(double length);
  // Voice v's sample at pos (held to its loop), times its gain.
  double value(int v, double pos) const;

  float tick(float in);

  std::unique_ptr<float[]> buffer;  // size + 1 samples
  int32_t size = 0;
  int32_t maxVoices = 0;
  int32_t loopStart[kVoices] = {};
  int32_t loopEnd[kVoices] = {};
  int32_t loopEndRec = 0;
  int32_t recordIndex = 0;
  int32_t record = 0;
  int32_t loopRec = 0;
  int32_t loop[kVoices] = {};
  int32_t play[kVoices] = {};
  int32_t bi[kVoices] = {};
  double feedback = 0.0;
  double voiceGain[kVoices] = {};
  double rate[kVoices] = {};
  double playPos[kVoices] = {};
  double rampUpLength[kVoices] = {};
  double rampDownLength[kVoices] = {};
  double recRampLength = 0.0;
  double recRampInverse = 1.0;
  double rampUpInverse[kVoices] = {};
  double rampDownInverse[kVoices] = {};
  double rampCounter[kVoices] = {};
  int32_t rampingUp[kVoices] = {};
  int32_t rampingDown[kVoices] = {};
  int32_t track = 0;

 private:
  // The buffer sample at i held to [0, size].
  float at(double i) const;
  // Reads with interpolation at pos, the next sample after loop end - 1
  // being the loop start (as `value`).
  double readLooped(int v, double pos) const;
  double voiceSample(int v);
  void reset();
};

// Registers LiSa (parent UGen) in the environment's global namespace. TRUE
// on success; FALSE (the import interface printed why) on failure.
t_CPBOOL lisa_query(Chip_DL_Query* QUERY);

// The offset of LiSa's hidden member; FRAME_NO_OFFSET until registered.
extern t_CPWORD LiSaMulti_offset_data;

#endif
