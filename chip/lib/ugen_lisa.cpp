// LiSa: the sampler's buffer, voices, recording and its language class.
#include "chip/lib/ugen_lisa.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD LiSaMulti_offset_data = FRAME_NO_OFFSET;

namespace {

double finite_or(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

// The integer part of v held to [low, high] (v finite).
int32_t held(double v, double low, double high) {
  return static_cast<int32_t>(std::trunc(std::clamp(v, low, high)));
}

}  // namespace

// ---------------------------------------------------------------------------
// The sampler

bool LiSa_Obj::voiceOk(long v) {
  if (v >= 0 && v < kVoices) return true;
  EM_printf("LiSa: voice %ld out of range (0..%d); ignoring\n", v, kVoices - 1);
  return false;
}

void LiSa_Obj::reset() {
  maxVoices = 10;
  loopEndRec = size;
  recordIndex = 0;
  record = 0;
  loopRec = 1;
  feedback = 0.0;
  recRampLength = 0.0;
  recRampInverse = 1.0;
  track = 0;
  for (int v = 0; v < kVoices; v++) {
    loopStart[v] = 0;
    loopEnd[v] = std::max(size - 1, 0);
    loop[v] = 1;
    play[v] = 0;
    bi[v] = 0;
    voiceGain[v] = 1.0;
    rate[v] = 1.0;
    playPos[v] = 0.0;
    rampUpLength[v] = rampDownLength[v] = 0.0;
    rampUpInverse[v] = rampDownInverse[v] = 1.0;
    rampCounter[v] = 0.0;
    rampingUp[v] = rampingDown[v] = 0;
  }
}

double LiSa_Obj::setDuration(double samples) {
  if (!(samples >= 0.0)) {
    EM_printf("LiSa: duration must be a number of samples of 0 or more; ignoring\n");
    return size;
  }
  double result = samples;
  double n = samples;
  if (samples > kMaxSamples) {
    EM_printf("buffer size request too large, resizing\n");
    n = result = kMaxSamples;
  }
  const int32_t newSize = static_cast<int32_t>(n);
  float* fresh = new (std::nothrow) float[size_t(newSize) + 1]();
  if (!fresh) {
    EM_printf("LiSaBasic: unable to allocate memory!\n");
    return samples;
  }
  buffer.reset(fresh);
  size = newSize;
  reset();
  return result;
}

float LiSa_Obj::at(double i) const {
  if (!buffer) return 0.0f;
  if (!(i >= 0.0)) return buffer[0];
  if (i >= double(size)) return buffer[size];
  return buffer[static_cast<size_t>(i)];
}

void LiSa_Obj::setPlay(int v, int toggle) {
  play[v] = toggle;
  rampingUp[v] = rampingDown[v] = 0;
}

double LiSa_Obj::setRate(int v, double r) {
  if (std::isfinite(r)) rate[v] = r;
  return rate[v];
}

double LiSa_Obj::setPlayPos(int v, double pos) {
  if (std::isfinite(pos)) playPos[v] = pos;
  return playPos[v];
}

double LiSa_Obj::setRecPos(double pos) {
  if (std::isfinite(pos)) recordIndex = held(pos, 0.0, std::max(size - 1, 0));
  return recordIndex;
}

double LiSa_Obj::setLoopStart(int v, double pos) {
  if (std::isfinite(pos)) loopStart[v] = held(pos, 0.0, std::max(size - 1, 0));
  return loopStart[v];
}

double LiSa_Obj::setLoopEnd(int v, double pos) {
  if (std::isfinite(pos)) loopEnd[v] = held(pos, 0.0, std::max(size - 1, 0));
  return loopEnd[v];
}

double LiSa_Obj::setLoopEndRec(double pos) {
  if (std::isfinite(pos)) loopEndRec = held(pos, 0.0, size);
  return loopEndRec;
}

double LiSa_Obj::setValueAt(double value, double index) {
  if (buffer && index >= 0.0 && index <= double(size) && std::isfinite(value)) {
    buffer[static_cast<size_t>(index)] = static_cast<float>(value);
  } else {
    EM_printf("LiSa: trying to put sample out of buffer range; ignoring");
  }
  return value;
}

double LiSa_Obj::valueAt(double index) const {
  if (!buffer || !(index >= 0.0 && index < double(size))) {
    EM_printf("LiSa: trying to grab sample out of buffer range; ignoring");
    return 0.0;
  }
  const int32_t i = static_cast<int32_t>(index);
  const int32_t next = i + 1 < size ? i + 1 : 0;
  return at(i) + (index - i) * (double(at(next)) - at(i));
}

void LiSa_Obj::clear() {
  if (buffer) std::fill(buffer.get(), buffer.get() + size, 0.0f);
}

int LiSa_Obj::getVoice() const {
  for (int v = 0; v < maxVoices; v++) {
    if (!play[v]) return v;
  }
  return -1;
}

int LiSa_Obj::setMaxVoices(long n) {
  if (n > kVoices) {
    EM_printf("LiSa: MAXVOICES limited to  %d.\n", kVoices);
    n = kVoices;
  }
  maxVoices = static_cast<int32_t>(std::max(n, 0L));
  return maxVoices;
}

void LiSa_Obj::rampUp(int v, double length) {
  if (!std::isfinite(length)) return;
  play[v] = 1;
  rampingUp[v] = 1;
  if (length > 0.0) {
    rampUpLength[v] = length;
    rampUpInverse[v] = 1.0 / length;
  } else {
    rampUpLength[v] = 1.0;
  }
  if (rampingDown[v]) {
    rampCounter[v] = rampDownLength[v] > 0.0
                         ? (1.0 - rampCounter[v] / rampDownLength[v]) * rampUpLength[v]
                         : 0.0;
    rampingDown[v] = 0;
  } else {
    rampCounter[v] = 0.0;
  }
}

void LiSa_Obj::rampDown(int v, double length) {
  if (!std::isfinite(length)) return;
  rampingDown[v] = 1;
  if (length > 0.0) {
    rampDownLength[v] = length;
    rampDownInverse[v] = 1.0 / length;
  } else {
    rampDownLength[v] = 1.0;
  }
  if (rampingUp[v]) {
    rampCounter[v] = rampUpLength[v] > 0.0
                         ? (1.0 - rampCounter[v] / rampUpLength[v]) * rampDownLength[v]
                         : 0.0;
    rampingUp[v] = 0;
  } else {
    rampCounter[v] = 0.0;
  }
}

double LiSa_Obj::setRecRamp(double length) {
  if (!std::isfinite(length)) return recRampLength;
  recRampLength = length;
  recRampInverse = length > 0.0 ? 1.0 / length : 1.0;
  return length;
}

double LiSa_Obj::readLooped(int v, double pos) const {
  const double start = loopStart[v], end = std::max(loopEnd[v], loopStart[v]);
  pos = std::clamp(finite_or(pos, start), start, end);
  const int32_t i = static_cast<int32_t>(pos);
  const int32_t next = i + 1 == loopEnd[v] ? loopStart[v] : i + 1;
  return at(i) + (pos - i) * (double(at(next)) - at(i));
}

double LiSa_Obj::value(int v, double pos) const { return readLooped(v, pos) * voiceGain[v]; }

double LiSa_Obj::voiceSample(int v) {
  double pos = finite_or(playPos[v], loopStart[v]);
  double s = 0.0;
  if (loop[v]) {
    const double start = loopStart[v], end = loopEnd[v];
    if (bi[v] && (pos >= end || pos < start)) {
      const double old = rate[v];
      rate[v] = -old;
      pos -= old;
    }
    if (end <= start) {
      pos = end;  // an empty loop holds its one position
    } else if (pos >= end) {
      pos = start + std::fmod(pos - end, end - start);
    } else if (pos < start) {
      pos = end - std::fmod(start - pos, end - start);
    }
    const int32_t i = static_cast<int32_t>(pos);
    const int32_t next = i + 1 == loopEnd[v] ? loopStart[v] : i + 1;
    s = at(i) + (pos - i) * (double(at(next)) - at(i));
  } else {
    if (pos >= double(size) || pos < 0.0) {
      play[v] = 0;
      playPos[v] = pos;
      return 0.0;
    }
    const int32_t i = static_cast<int32_t>(pos);
    const int32_t next = i + 1 < size ? i + 1 : 0;
    s = at(i) + (pos - i) * (double(at(next)) - at(i));
  }
  pos += rate[v];
  playPos[v] = std::isfinite(pos) ? pos : double(loopStart[v]);

  if (rampingUp[v]) {
    s *= rampCounter[v] * rampUpInverse[v];
    rampCounter[v] += 1.0;
    if (rampUpLength[v] <= rampCounter[v]) rampingUp[v] = 0;
  } else if (rampingDown[v]) {
    s *= (rampDownLength[v] - rampCounter[v]) * rampDownInverse[v];
    rampCounter[v] += 1.0;
    if (rampDownLength[v] <= rampCounter[v]) {
      rampingDown[v] = 0;
      play[v] = 0;
    }
  }
  return s * voiceGain[v];
}

float LiSa_Obj::tick(float in) {
  if (!buffer) return 0.0f;
  const double x = std::isfinite(in) ? in : 0.0;

  if (record && size > 0) {  // an empty buffer has no room to record
    if (recordIndex >= loopEndRec || recordIndex >= size) {
      if (loopRec) {
        recordIndex = 0;
      } else {
        record = 0;
      }
    }
    if (record) {
      double s = x + double(at(recordIndex)) * feedback;
      if (recordIndex < recRampLength) {
        s *= recordIndex * recRampInverse;
      } else if (recordIndex > loopEndRec - recRampLength) {
        s *= (loopEndRec - recordIndex) * recRampInverse;
      }
      const int32_t i = std::clamp(recordIndex, 0, size - 1);
      buffer[i] = std::isfinite(s) ? static_cast<float>(s) : 0.0f;
      recordIndex = i + 1;
    }
  }

  double out = 0.0;
  switch (track) {
    case 0:
      for (int v = 0; v < maxVoices; v++) {
        if (play[v]) out += voiceSample(v);
      }
      break;
    case 1:
      for (int v = 0; v < maxVoices; v++) {
        if (!play[v]) continue;
        const double pos = loopStart[v] + std::fabs(x) * (double(loopEnd[v]) - loopStart[v]);
        out += value(v, pos);
      }
      break;
    case 2:
      if (play[0]) out = value(0, std::fabs(x));
      break;
    default:
      break;
  }
  return std::isfinite(out) ? static_cast<float>(out) : 0.0f;
}

// ---------------------------------------------------------------------------
// The language class

namespace {

LiSa_Obj& lisa(Frame_Slot& s) { return s.as<LiSa_Obj>(); }

// Reads a voice argument; false (after the refusal, with the result 0)
// when it names no voice.
bool voice_arg(void*& args, int* voice, Chip_DL_Return* ret) {
  const t_CPINT v = GET_NEXT_INT(args);
  if (LiSa_Obj::voiceOk(v)) {
    *voice = static_cast<int>(v);
    return true;
  }
  ret->v_int = 0;
  ret->v_float = 0.0;
  return false;
}

// The member forms with and without a voice argument: a per-voice setter
// (voice, value) and getter (voice), each also on voice 0.
#define LISA_VOICE_SET(name, rtype, atype, body)                                           \
  frame_method(name, rtype,                                                                \
               [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {                        \
                 int v = 0;                                                                \
                 if (!voice_arg(args, &v, ret)) return;                                    \
                 body                                                                      \
               },                                                                          \
               {"int", "voice"}, {atype, "value"}),                                        \
      frame_method(name, rtype,                                                            \
                   [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {                    \
                     const int v = 0;                                                      \
                     body                                                                  \
                   },                                                                      \
                   {atype, "value"})
#define LISA_VOICE_GET(name, rtype, body)                                                  \
  frame_method(name, rtype,                                                                \
               [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {                        \
                 int v = 0;                                                                \
                 if (!voice_arg(args, &v, ret)) return;                                    \
                 body                                                                      \
               },                                                                          \
               {"int", "voice"}),                                                          \
      frame_method(name, rtype, [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {       \
        const int v = 0;                                                                   \
        body                                                                               \
      })

const Frame_Member kLiSaMembers[] = {
    frame_prop(
        "duration", "dur", [](Frame_Slot& s, double v) { return lisa(s).setDuration(v); },
        [](Frame_Slot& s) { return lisa(s).duration(); }),
    frame_prop(
        "record", "int",
        [](Frame_Slot& s, double v) {
          lisa(s).record = static_cast<int32_t>(v);
          return v;
        },
        nullptr),
    LISA_VOICE_SET("play", "int", "int", {
      const t_CPINT t = GET_NEXT_INT(args);
      lisa(s).setPlay(v, static_cast<int>(t));
      ret->v_int = t;
    }),
    LISA_VOICE_SET("rate", "float", "float",
                   { ret->v_float = lisa(s).setRate(v, GET_NEXT_FLOAT(args)); }),
    LISA_VOICE_GET("rate", "float", {
      (void)args;
      ret->v_float = lisa(s).rate[v];
    }),
    LISA_VOICE_SET("playPos", "dur", "dur",
                   { ret->v_float = lisa(s).setPlayPos(v, GET_NEXT_DUR(args)); }),
    LISA_VOICE_GET("playPos", "dur", {
      (void)args;
      ret->v_float = lisa(s).playPos[v];
    }),
    frame_prop(
        "recPos", "dur", [](Frame_Slot& s, double v) { return lisa(s).setRecPos(v); },
        [](Frame_Slot& s) { return double(lisa(s).recordIndex); }),
    LISA_VOICE_SET("loopStart", "dur", "dur",
                   { ret->v_float = lisa(s).setLoopStart(v, GET_NEXT_DUR(args)); }),
    LISA_VOICE_GET("loopStart", "dur", {
      (void)args;
      ret->v_float = lisa(s).loopStart[v];
    }),
    LISA_VOICE_SET("loopEnd", "dur", "dur",
                   { ret->v_float = lisa(s).setLoopEnd(v, GET_NEXT_DUR(args)); }),
    LISA_VOICE_GET("loopEnd", "dur", {
      (void)args;
      ret->v_float = lisa(s).loopEnd[v];
    }),
    LISA_VOICE_SET("loop", "int", "int", {
      const t_CPINT t = GET_NEXT_INT(args);
      lisa(s).loop[v] = static_cast<int32_t>(t);
      ret->v_int = t;
    }),
    frame_method("loop", "int",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) { ret->v_int = lisa(s).loop[0]; }),
    LISA_VOICE_SET("bi", "int", "int", {
      const t_CPINT t = GET_NEXT_INT(args);
      lisa(s).bi[v] = static_cast<int32_t>(t);
      ret->v_int = t;
    }),
    frame_method("bi", "int",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) { ret->v_int = lisa(s).bi[0]; }),
    frame_prop(
        "loopEndRec", "dur", [](Frame_Slot& s, double v) { return lisa(s).setLoopEndRec(v); },
        [](Frame_Slot& s) { return double(lisa(s).loopEndRec); }),
    frame_prop(
        "loopRec", "int",
        [](Frame_Slot& s, double v) {
          lisa(s).loopRec = static_cast<int32_t>(v);
          return v;
        },
        [](Frame_Slot& s) { return double(lisa(s).loopRec); }),
    frame_method("valueAt", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   const double value = GET_NEXT_FLOAT(args);
                   const double index = GET_NEXT_DUR(args);
                   ret->v_float = lisa(s).setValueAt(value, index);
                 },
                 {"float", "val"}, {"dur", "index"}),
    frame_method("valueAt", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   ret->v_float = lisa(s).valueAt(GET_NEXT_DUR(args));
                 },
                 {"dur", "index"}),
    frame_method("voiceGain", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   int v = 0;
                   if (!voice_arg(args, &v, ret)) return;
                   const double g = GET_NEXT_FLOAT(args);
                   if (std::isfinite(g)) lisa(s).voiceGain[v] = g;
                   ret->v_float = lisa(s).voiceGain[v];
                 },
                 {"int", "voice"}, {"float", "value"}),
    frame_method("voiceGain", "float",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   int v = 0;
                   if (!voice_arg(args, &v, ret)) return;
                   ret->v_float = lisa(s).voiceGain[v];
                 },
                 {"int", "voice"}),
    frame_prop(
        "feedback", "float",
        [](Frame_Slot& s, double v) {
          if (std::isfinite(v)) lisa(s).feedback = v;
          return lisa(s).feedback;
        },
        [](Frame_Slot& s) { return lisa(s).feedback; }),
    frame_method("clear", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { lisa(s).clear(); }),
    frame_method("getVoice", "int",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_int = lisa(s).getVoice();
                 }),
    frame_prop(
        "maxVoices", "int",
        [](Frame_Slot& s, double v) { return double(lisa(s).setMaxVoices(long(v))); },
        [](Frame_Slot& s) { return double(lisa(s).maxVoices); }),
    LISA_VOICE_SET("rampUp", "void", "dur", {
      (void)ret;
      lisa(s).rampUp(v, GET_NEXT_DUR(args));
    }),
    LISA_VOICE_SET("rampDown", "void", "dur", {
      (void)ret;
      lisa(s).rampDown(v, GET_NEXT_DUR(args));
    }),
    frame_prop(
        "recRamp", "dur", [](Frame_Slot& s, double v) { return lisa(s).setRecRamp(v); },
        nullptr),
    LISA_VOICE_SET("value", "dur", "dur",
                   { ret->v_float = lisa(s).value(v, GET_NEXT_DUR(args)); }),
    frame_prop(
        "track", "int",
        [](Frame_Slot& s, double v) {
          lisa(s).track = static_cast<int32_t>(v);
          return v;
        },
        [](Frame_Slot& s) { return double(lisa(s).track); }),
    frame_prop(
        "sync", "int",
        [](Frame_Slot& s, double v) {
          lisa(s).track = static_cast<int32_t>(v);
          return v;
        },
        [](Frame_Slot& s) { return double(lisa(s).track); }),
};

#undef LISA_VOICE_SET
#undef LISA_VOICE_GET

SAMPLE tick_lisa(Frame_Slot& s, SAMPLE in) { return lisa(s).tick(in); }

const Frame_Class_Desc kLiSa = frame_in_blocks<tick_lisa>(
    {"LiSa", "UGen", "@LiSa_data", &LiSaMulti_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new LiSa_Obj; }, tick_lisa, frame_pmsg_false,
     FRAME_MEMBERS(kLiSaMembers)});

}  // namespace

t_CPBOOL lisa_query(Chip_DL_Query* QUERY) {
  (void)QUERY;
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  return frame_import_class(env, &kLiSa) ? TRUE : FALSE;
}
