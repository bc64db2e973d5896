// SRateConverter: chunked recording, held read position, language class.
#include "chip/lib/ugen_srate.h"

#include <cmath>
#include <new>
#include <string>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD srate_offset_data = FRAME_NO_OFFSET;

double SRate_Obj::setFactor(double f) {
  if (std::isfinite(f)) factor_ = f;
  return factor_;
}

void SRate_Obj::clear() {
  chunks_.clear();
  length_ = 0;
  position_ = 0.0;
}

bool SRate_Obj::append(float in) {
  const uint64_t chunk = length_ / kChunkSamples;
  if (chunk == chunks_.size()) {
    float* fresh = failAllocation ? nullptr : new (std::nothrow) float[kChunkSamples];
    if (fresh) {
      try {
        chunks_.emplace_back(fresh);
      } catch (const std::bad_alloc&) {
        delete[] fresh;
        fresh = nullptr;
      }
    }
    if (!fresh) {
      if (!reported_) EM_printf("SRateConverter: out of memory; input dropped\n");
      reported_ = true;
      return false;
    }
    reported_ = false;
  }
  chunks_[chunk][length_ % kChunkSamples] = in;
  length_++;
  return true;
}

float SRate_Obj::tick(float in) {
  append(in);
  if (length_ == 0) return 0.0f;
  const double newest = double(length_ - 1);
  if (position_ > newest) position_ = newest;
  if (position_ < 0.0) position_ = 0.0;
  const double floor = std::floor(position_);
  const uint64_t i = static_cast<uint64_t>(floor);
  const float f = static_cast<float>(position_ - floor);
  const float a = sample(i);
  const float b = i + 1 < length_ ? sample(i + 1) : 0.0f;
  const float out = a * (1.0f - f) + b * f;
  position_ += factor_;
  if (position_ < 0.0) position_ = 0.0;
  return out;
}

namespace {

SRate_Obj& converter(Frame_Slot& s) { return s.as<SRate_Obj>(); }

unsigned long srate_pmsg(Chip_Object* SELF, const char* MSG, void*, Chip_VM_Shred*) {
  if (!MSG || std::string(MSG) != "print") return 0;
  Frame_Obj* obj = frame_object(SELF, srate_offset_data);
  const double factor = obj ? static_cast<SRate_Obj*>(obj)->factor() : 0.0;
  EM_printf("SRateConverter: (factor=%f)", factor);
  return 1;
}

const Frame_Member kSRateMembers[] = {
    frame_prop(
        "factor", "float", [](Frame_Slot& s, double v) { return converter(s).setFactor(v); },
        [](Frame_Slot& s) { return converter(s).factor(); }),
    frame_method("clear", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { converter(s).clear(); }),
    frame_prop("pos", "float", nullptr, [](Frame_Slot& s) { return converter(s).position(); }),
};

SAMPLE tick_converter(Frame_Slot& s, SAMPLE in) { return converter(s).tick(in); }

const Frame_Class_Desc kSRate = frame_in_blocks<tick_converter>(
    {"SRateConverter", "UGen", "@srate_data", &srate_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new SRate_Obj; }, tick_converter, srate_pmsg,
     FRAME_MEMBERS(kSRateMembers)});

}  // namespace

t_CPBOOL srate_query(Chip_DL_Query* QUERY) {
  (void)QUERY;
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  return frame_import_class(env, &kSRate) ? TRUE : FALSE;
}
