// The extract module: FeatureCollector, Centroid, Flux, RMS, RollOff,
// AutoCorr, XCorr and ZeroX.
#include "chip/lib/uana_extract.h"

#include <algorithm>
#include <cmath>

#include "chip/lib/uana_xform.h"
#include "chip/lib/util_xforms.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_math.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD Flux_offset_data = FRAME_NO_OFFSET;
t_CPWORD RollOff_offset_data = FRAME_NO_OFFSET;
t_CPWORD AutoCorr_offset_data = FRAME_NO_OFFSET;
t_CPWORD XCorr_offset_data = FRAME_NO_OFFSET;
t_CPWORD ZeroX_offset_data = FRAME_NO_OFFSET;

namespace {

const double kDefaultRollOff = 0.85;

size_t count_of(Chip_Array8& x) { return static_cast<size_t>(x.size()); }

}  // namespace

// ---------------------------------------------------------------------------
// Features of one array

double centroid_of(Chip_Array8* x) {
  if (!x || x->size() == 0) return 0.0;
  const size_t n = count_of(*x);
  double sum = 0.0;
  double weighted = 0.0;
  for (size_t i = 0; i < n; i++) {
    sum += x->m_vector[i];
    weighted += static_cast<double>(i) * x->m_vector[i];
  }
  const double c = sum != 0.0 ? weighted / sum : static_cast<double>(n) / 2.0;
  return c / static_cast<double>(n);
}

double rms_of(Chip_Array8* x) {
  if (!x || x->size() == 0) return 0.0;
  double sum = 0.0;
  for (double v : x->m_vector) sum += v * v;
  return std::sqrt(sum / static_cast<double>(x->size()));
}

double rolloff_percent(double percent) {
  if (std::isnan(percent)) return kDefaultRollOff;
  return std::clamp(percent, 0.0, 1.0);
}

double rolloff_of(Chip_Array8* x, double percent) {
  if (!x || x->size() == 0) return 0.0;
  const double p = rolloff_percent(percent);
  const size_t n = count_of(*x);
  double sum = 0.0;
  for (double v : x->m_vector) sum += v;
  const double target = p * sum;
  double total = 0.0;
  size_t j = 0;
  for (; j < n; j++) {
    total += x->m_vector[j];
    if (target <= total) break;
  }
  return static_cast<double>(j) / static_cast<double>(n);
}

double flux_of(Chip_Array8* lhs, Chip_Array8* rhs, Chip_Array8* diff) {
  if (!lhs || !rhs) return 0.0;
  if (lhs->size() != rhs->size()) {
    EM_error3("(via Flux): compute() expects two arrays of equal size");
    return 0.0;
  }
  // The distance first: diff may be one of the two arrays.
  double sum = 0.0;
  for (size_t i = 0; i < count_of(*lhs); i++) {
    const double d = lhs->m_vector[i] - rhs->m_vector[i];
    sum += d * d;
  }
  if (diff && diff != lhs) {
    if (diff->size() != lhs->size()) diff->set_size(lhs->size());
    std::copy(lhs->m_vector.begin(), lhs->m_vector.end(), diff->m_vector.begin());
  }
  return std::sqrt(sum);
}

double zero_crossings_of(Chip_Array8* x) {
  if (!x) return 0.0;
  size_t count = 0;
  for (size_t i = 1; i < count_of(*x); i++) {
    if ((x->m_vector[i - 1] >= 0.0) != (x->m_vector[i] >= 0.0)) count++;
  }
  return static_cast<double>(count) + 0.5;
}

void collect_features(const std::vector<Chip_Array8*>& in, Chip_Array8& out) {
  t_CPWORD total = 0;
  for (Chip_Array8* x : in) total += x ? x->size() : 0;
  if (out.size() != total) out.set_size(total);
  size_t at = 0;
  for (Chip_Array8* x : in) {
    if (!x) continue;
    std::copy(x->m_vector.begin(), x->m_vector.end(), out.m_vector.begin() + at);
    at += count_of(*x);
  }
}

// ---------------------------------------------------------------------------
// Flux

Flux_Object::Flux_Object() : m_prev(8), m_norm(8) {}

double Flux_Object::tock(Chip_Array8* x) {
  if (!x) return 0.0;
  const t_CPWORD n = x->size();
  if (n != m_prev.size()) {
    m_initialized = false;
    m_prev.set_size(n);
  }
  double v = 0.0;
  if (m_initialized) {
    if (m_norm.size() != n) m_norm.set_size(n);
    double energy = 0.0;
    for (double value : x->m_vector) energy += value * value;
    const double scale = energy != 0.0 ? 1.0 / std::sqrt(energy) : 0.0;
    for (t_CPWORD i = 0; i < n; i++) {
      const double value = x->m_vector[i];
      m_norm.m_vector[i] = value > 0.0 ? value * scale : 0.0;
    }
    v = flux_of(&m_norm, &m_prev, nullptr);
  }
  // prev takes the normalised spectrum of the last computed frame; where that
  // one is shorter (first frame, new size), the rest is zero.
  const size_t kept = std::min(count_of(m_norm), count_of(m_prev));
  std::copy(m_norm.m_vector.begin(), m_norm.m_vector.begin() + kept, m_prev.m_vector.begin());
  std::fill(m_prev.m_vector.begin() + kept, m_prev.m_vector.end(), 0.0);
  m_initialized = true;
  return v;
}

// ---------------------------------------------------------------------------
// Correlation

Corr_Object::Corr_Object(const char* name) : m_name(name) { reserve(1024); }

bool Corr_Object::reserve(int32_t p) {
  if (m_capacity >= p) return true;
  const size_t n = static_cast<size_t>(p);
  m_f = xform_alloc<float>(n);
  m_g = xform_alloc<float>(n);
  m_y = xform_alloc<float>(n);
  if (m_f && m_g && m_y) {
    m_capacity = p;
    return true;
  }
  EM_printf("[chip]: Corr failed to allocate %d-element buffer(s)...\n", p);
  m_f.reset();
  m_g.reset();
  m_y.reset();
  m_capacity = 0;
  return false;
}

bool Corr_Object::correlate(Chip_Array8& a, Chip_Array8& b, Chip_Array8& out) {
  const long na = a.size();
  const long nb = b.size();
  if (na == 0 || nb == 0) {
    out.set_size(0);
    return true;
  }
  const long lags = na + nb - 1;
  if (lags > XFORM_MAX_SIZE) {
    EM_printf("[chip](%s): correlation of %ld lags exceeds the largest transform (%d)\n", m_name,
              lags, static_cast<int>(XFORM_MAX_SIZE));
    out.set_size(0);
    return false;
  }
  const long p = ensurepow2(lags);
  EM_log(CP_LOG_FINE, "Corr resizing to %d-element buffers...", static_cast<int>(p));
  if (!reserve(static_cast<int32_t>(std::max(p, 1024L)))) {
    out.set_size(0);
    return false;
  }
  const long c = m_capacity;
  float* f = m_f.get();
  float* g = m_g.get();
  float* y = m_y.get();
  std::fill(f, f + c, 0.0f);
  std::fill(g, g + c, 0.0f);
  std::fill(y, y + c, 0.0f);
  // Inputs and energies are read before out is written (it may be a or b).
  double energy = 1e-6;
  for (long i = 0; i < na; i++) {
    f[i] = static_cast<float>(a.m_vector[i]);
    energy += a.m_vector[i] * a.m_vector[i];
  }
  for (long i = 0; i < nb; i++) {
    g[i] = static_cast<float>(b.m_vector[i]);
    energy += b.m_vector[i] * b.m_vector[i];
  }

  // F conj(G) in the packed layout (bin 0: DC and Nyquist, both real); the
  // inverse of it is the circular correlation over c, scaled by 1 / c.
  rfft(f, c / 2, 1);
  rfft(g, c / 2, 1);
  y[0] = static_cast<float>(static_cast<double>(f[0]) * g[0]);
  y[1] = static_cast<float>(static_cast<double>(f[1]) * g[1]);
  for (long k = 1; k < c / 2; k++) {
    const double fr = f[2 * k], fi = f[2 * k + 1];
    const double gr = g[2 * k], gi = g[2 * k + 1];
    y[2 * k] = static_cast<float>(fr * gr + fi * gi);
    y[2 * k + 1] = static_cast<float>(fi * gr - fr * gi);
  }
  rfft(y, c / 2, 0);

  double scale = static_cast<double>(c);
  if (m_normalize) scale /= energy;
  // Lags from -(nb - 1) up; negative lags sit at the end of the circle.
  out.set_size(lags);
  for (long j = 0; j < lags; j++) {
    const long lag = j - (nb - 1);
    out.m_vector[j] = scale * y[lag >= 0 ? lag : c + lag];
  }
  return true;
}

Corr_Object& corr_static() {
  static Corr_Object shared("Corr");
  return shared;
}

// ---------------------------------------------------------------------------
// ZeroX

SAMPLE ZeroX_Object::tick(SAMPLE in) {
  const bool now_positive = in >= 0.0f;
  const bool was_positive = m_prev >= 0.0f;
  m_prev = in;
  if (now_positive == was_positive) return 0.0f;
  return now_positive ? 1.0f : -1.0f;
}

// ---------------------------------------------------------------------------
// Registration

namespace {

Chip_Array8* array8(Chip_Object* obj) { return static_cast<Chip_Array8*>(obj); }

// The first upstream analyser's values, or null.
Chip_Array8* upstream_values(Chip_UAna* uana) {
  Chip_UAnaBlobProxy* up = uana->numIncomingUAnae() ? uana->getIncomingBlob(0) : nullptr;
  return up ? &up->fvals() : nullptr;
}

// A single-value feature's result.
void store_value(Chip_UAnaBlobProxy* blob, double v) {
  Chip_Array8& fvals = blob->fvals();
  if (fvals.size() != 1) fvals.set_size(1);
  fvals.m_vector[0] = v;
}

SAMPLE silent_tick(Frame_Slot&, SAMPLE) { return 0.0f; }

// The static functions.
void centroid_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = centroid_of(array8(GET_NEXT_OBJECT(ARGS)));
}
void rms_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = rms_of(array8(GET_NEXT_OBJECT(ARGS)));
}
void rolloff_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array8* input = array8(GET_NEXT_OBJECT(ARGS));
  RETURN->v_float = rolloff_of(input, GET_NEXT_FLOAT(ARGS));
}
void flux_compute2(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array8* lhs = array8(GET_NEXT_OBJECT(ARGS));
  RETURN->v_float = flux_of(lhs, array8(GET_NEXT_OBJECT(ARGS)), nullptr);
}
void flux_compute3(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array8* lhs = array8(GET_NEXT_OBJECT(ARGS));
  Chip_Array8* rhs = array8(GET_NEXT_OBJECT(ARGS));
  RETURN->v_float = flux_of(lhs, rhs, array8(GET_NEXT_OBJECT(ARGS)));
}
void zerox_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = zero_crossings_of(array8(GET_NEXT_OBJECT(ARGS)));
}

// The correlation of f and g into out by the shared work object; out is
// the result (null when null).
Chip_Object* corr_compute(Chip_Array8* f, Chip_Array8* g, t_CPINT normalize, Chip_Array8* out,
                          const char* name) {
  corr_static().setNormalize(normalize);
  if (!out) {
    EM_log(CP_LOG_WARNING, "(via %s): null output array passed to compute(...)", name);
    return nullptr;
  }
  if (!f || !g) {
    out->set_size(0);
  } else {
    corr_static().correlate(*f, *g, *out);
  }
  return out;
}
void autocorr_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array8* input = array8(GET_NEXT_OBJECT(ARGS));
  const t_CPINT normalize = GET_NEXT_INT(ARGS);
  Chip_Array8* out = array8(GET_NEXT_OBJECT(ARGS));
  RETURN->v_object = corr_compute(input, input, normalize, out, "AutoCorr");
}
void xcorr_compute(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array8* f = array8(GET_NEXT_OBJECT(ARGS));
  Chip_Array8* g = array8(GET_NEXT_OBJECT(ARGS));
  const t_CPINT normalize = GET_NEXT_INT(ARGS);
  Chip_Array8* out = array8(GET_NEXT_OBJECT(ARGS));
  RETURN->v_object = corr_compute(f, g, normalize, out, "XCorr");
}

double set_normalize(Frame_Slot& s, double flag) {
  return s.as<Corr_Object>().setNormalize(flag != 0.0 ? 1 : 0);
}
double get_normalize(Frame_Slot& s) { return s.as<Corr_Object>().normalize(); }

const Frame_Member kCentroidMembers[] = {
    frame_static("compute", "float", centroid_compute, {"float[]", "input"}),
};
const Frame_Member kFluxMembers[] = {
    frame_method("reset", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { s.as<Flux_Object>().reset(); }),
    frame_static("compute", "float", flux_compute2, {"float[]", "lhs"}, {"float[]", "rhs"}),
    frame_static("compute", "float", flux_compute3, {"float[]", "lhs"}, {"float[]", "rhs"},
                 {"float[]", "diff"}),
};
const Frame_Member kRMSMembers[] = {
    frame_static("compute", "float", rms_compute, {"float[]", "input"}),
};
const Frame_Member kRollOffMembers[] = {
    frame_prop(
        "percent", "float",
        [](Frame_Slot& s, double p) { return s.as<RollOff_Object>().setPercent(p); },
        [](Frame_Slot& s) { return s.as<RollOff_Object>().percent(); }),
    frame_static("compute", "float", rolloff_compute, {"float[]", "input"},
                 {"float", "percent"}),
};
const Frame_Member kAutoCorrMembers[] = {
    frame_prop("normalize", "int", set_normalize, get_normalize),
    frame_static("compute", "float[]", autocorr_compute, {"float[]", "input"},
                 {"int", "normalize"}, {"float[]", "output"}),
};
const Frame_Member kXCorrMembers[] = {
    frame_prop("normalize", "int", set_normalize, get_normalize),
    frame_static("compute", "float[]", xcorr_compute, {"float[]", "f"}, {"float[]", "g"},
                 {"int", "normalize"}, {"float[]", "y"}),
};
const Frame_Member kZeroXMembers[] = {
    frame_static("compute", "float", zerox_compute, {"float[]", "input"}),
};

const Frame_Class_Desc kClasses[] = {
    {.name = "FeatureCollector",
     .parent = "UAna",
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     .tock =
         [](Frame_Slot&, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           std::vector<Chip_Array8*> in;
           for (unsigned long i = 0; i < uana->numIncomingUAnae(); i++) {
             Chip_UAnaBlobProxy* up = uana->getIncomingBlob(i);
             in.push_back(up ? &up->fvals() : nullptr);
           }
           collect_features(in, blob->fvals());
         }},
    {.name = "Centroid",
     .parent = "UAna",
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kCentroidMembers),
     .tock =
         [](Frame_Slot&, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           store_value(blob, centroid_of(upstream_values(uana)));
         }},
    {.name = "Flux",
     .parent = "UAna",
     .data_member = "@Flux_data",
     .offset = &Flux_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Flux_Object; },
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kFluxMembers),
     .tock =
         [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           store_value(blob, s.as<Flux_Object>().tock(upstream_values(uana)));
         }},
    {.name = "RMS",
     .parent = "UAna",
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kRMSMembers),
     .tock =
         [](Frame_Slot&, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           store_value(blob, rms_of(upstream_values(uana)));
         }},
    {.name = "RollOff",
     .parent = "UAna",
     .data_member = "@RollOff_data",
     .offset = &RollOff_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new RollOff_Object; },
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kRollOffMembers),
     .tock =
         [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           store_value(blob, rolloff_of(upstream_values(uana), s.as<RollOff_Object>().percent()));
         }},
    {.name = "AutoCorr",
     .parent = "UAna",
     .data_member = "@AutoCorr_data",
     .offset = &AutoCorr_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Corr_Object("AutoCorr"); },
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kAutoCorrMembers),
     .tock =
         [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           Chip_Array8* x = upstream_values(uana);
           if (!x) {
             blob->fvals().set_size(0);
             return;
           }
           s.as<Corr_Object>().correlate(*x, *x, blob->fvals());
         }},
    {.name = "XCorr",
     .parent = "UAna",
     .data_member = "@XCorr_data",
     .offset = &XCorr_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Corr_Object("XCorr"); },
     .tick = silent_tick,
     .pmsg = frame_pmsg_true,
     FRAME_MEMBER_FIELDS(kXCorrMembers),
     .tock =
         [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           Chip_UAnaBlobProxy* f = uana->numIncomingUAnae() >= 2 ? uana->getIncomingBlob(0)
                                                                 : nullptr;
           Chip_UAnaBlobProxy* g = f ? uana->getIncomingBlob(1) : nullptr;
           if (!f || !g) {
             blob->fvals().set_size(0);
             return;
           }
           s.as<Corr_Object>().correlate(f->fvals(), g->fvals(), blob->fvals());
         }},
    {.name = "ZeroX",
     .parent = "UAna",
     .data_member = "@ZeroX_data",
     .offset = &ZeroX_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new ZeroX_Object; },
     .tick = [](Frame_Slot& s, SAMPLE in) { return s.as<ZeroX_Object>().tick(in); },
     FRAME_MEMBER_FIELDS(kZeroXMembers),
     .tock =
         [](Frame_Slot&, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
           Chip_Array8* x = upstream_values(uana);
           store_value(blob, x ? zero_crossings_of(x) : 0.0);
         }},
};

}  // namespace

t_CPBOOL extract_query(Chip_DL_Query*) {
  return frame_import_classes(Chip_Env::instance(), kClasses, sizeof kClasses / sizeof kClasses[0]);
}
