// The srate module: SRateConverter records everything that passes through
// it and plays the recording back at an adjustable speed (`factor`, samples
// per tick) with linear interpolation. A factor of 1 reproduces the input,
// 0.5 plays at half speed (falling further behind), 2 plays faster than
// the input arrives.
//
// The recording lives in fixed chunks of kChunkSamples floats (growth never
// copies what is recorded; only a new chunk is allocated, without
// throwing) and is counted in 64 bits; the read position is a double, so
// the output keeps sample accuracy for any length. The position is held
// to the recording: past its newest sample the output holds that sample,
// below 0 it holds the first. A factor that is not a finite number is
// ignored. When a chunk cannot be allocated the input is dropped (one
// message per failure run) and playback goes on over what was recorded.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_LIB_UGEN_SRATE_H
#define CHIP_LIB_UGEN_SRATE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/frame_object.h"

class SRate_Obj : public Frame_Obj {
 public:
  static constexpr uint64_t kChunkSamples = 65536;

  SRate_Obj() = default;
  ~SRate_Obj() override = default;

  // Non-finite factors are ignored; answers the factor in force.
  double setFactor(double f);
  double factor() const { return factor_; }
  // Empties the recording; the position goes back to 0.
  void clear();
  double position() const { return position_; }
  uint64_t length() const { return length_; }
  // The recorded sample i (i < length()).
  float sample(uint64_t i) const { return chunks_[i / kChunkSamples][i % kChunkSamples]; }

  // Appends in, then reads the recording at the position and advances it.
  float tick(float in);

  // For tests: the next chunk allocations fail while this is set.
  bool failAllocation = false;

 private:
  bool append(float in);

  double factor_ = 1.0;
  double position_ = 0.0;
  uint64_t length_ = 0;
  std::vector<std::unique_ptr<float[]>> chunks_;
  bool reported_ = false;  // the current allocation failure was reported
};

// Registers SRateConverter (parent UGen). TRUE on success.
t_CPBOOL srate_query(Chip_DL_Query* QUERY);

extern t_CPWORD srate_offset_data;

#endif
