// The extract module: the feature formulas on arrays (tables and closed
// forms), Flux across frames, the correlations against their direct sums
// computed here in long double, ZeroX, and the static functions called by
// their language names with hostile arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "chip/lib/uana_extract.h"
#include "chip/lib/uana_xform.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"
#include "log_capture.h"
#include "module_test_support.h"
#include "type_check_support.h"

namespace {

typedef long double Real;
typedef std::vector<std::string> Lines;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Array8 : Chip_Array8 {
  explicit Array8(const std::vector<double>& v = {}) : Chip_Array8(0) { m_vector = v; }
};

std::vector<double> random_values(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(gen);
  return x;
}

struct FailAllocations {
  explicit FailAllocations(long after) { xform_fail_allocations_after(after); }
  ~FailAllocations() { xform_fail_allocations_after(-1); }
};

// ---------------------------------------------------------------------------
// Features

TEST(FeatureTest, ComputeTable) {
  const struct {
    const char* what;
    std::vector<double> x;
    double (*feature)(Chip_Array8*);
    double want;
  } cases[] = {
      {"centroid of bin 0", {1, 0, 0, 0}, centroid_of, 0.0},
      {"centroid of bin 3", {0, 0, 0, 1}, centroid_of, 0.75},
      {"centroid of silence", {0, 0}, centroid_of, 0.5},
      {"centroid of nothing", {}, centroid_of, 0.0},
      {"rms", {3, 4}, rms_of, std::sqrt(12.5)},
      {"rms of nothing", {}, rms_of, 0.0},
      {"zero crossings", {1, -1, 1, -1}, zero_crossings_of, 3.5},
      {"no zero crossing", {1, 2, 3}, zero_crossings_of, 0.5},
      {"zero counts as positive", {0, -0.5, 0, 2}, zero_crossings_of, 2.5},
      {"zero crossings of nothing", {}, zero_crossings_of, 0.5},
  };
  for (const auto& c : cases) {
    Array8 x(c.x);
    EXPECT_DOUBLE_EQ(c.feature(&x), c.want) << c.what;
    EXPECT_EQ(c.feature(nullptr), 0.0) << c.what;
  }

  const std::vector<double> four(4, 1.0), twenty(20, 1.0);
  const struct {
    std::vector<double> x;
    double percent;
    double want;
  } rolloffs[] = {{four, 0.5, 0.25},  {four, 1.0, 0.75},   {four, 0.0, 0.0},
                  {twenty, 0.85, 0.8}, {twenty, 1.5, 0.95}, {twenty, -2.0, 0.0},
                  {twenty, kNaN, 0.8}, {{0, 0, 0}, 0.5, 0.0}, {{}, 0.5, 0.0}};
  for (const auto& c : rolloffs) {
    Array8 x(c.x);
    EXPECT_DOUBLE_EQ(rolloff_of(&x, c.percent), c.want) << c.x.size() << " " << c.percent;
  }
  EXPECT_EQ(rolloff_of(nullptr, 0.5), 0.0);

  RollOff_Object r;
  EXPECT_EQ(r.percent(), 0.85);
  EXPECT_EQ(r.setPercent(1.5), 1.0);
  EXPECT_EQ(r.setPercent(-2.0), 0.0);
  EXPECT_EQ(r.setPercent(kNaN), 0.85);
  EXPECT_EQ(r.setPercent(0.3), 0.3);
}

TEST(FeatureTest, ClosedForms) {
  // The centroid of a single bin k is k / N.
  for (size_t k : {0u, 1u, 100u, 255u}) {
    std::vector<double> x(256, 0.0);
    x[k] = 0.7;
    Array8 a(x);
    EXPECT_DOUBLE_EQ(centroid_of(&a), static_cast<double>(k) / 256) << k;
  }
  // The RMS of whole periods of a sine of amplitude A is A / sqrt(2).
  for (int periods : {1, 3, 7}) {
    const double amplitude = 0.6;
    std::vector<double> x(96);
    for (size_t n = 0; n < x.size(); n++) {
      x[n] = amplitude * std::sin(2 * M_PI * periods * n / 96.0 + 0.4);
    }
    Array8 a(x);
    EXPECT_NEAR(rms_of(&a), amplitude / std::sqrt(2.0), 1e-12) << periods;
  }
}

TEST(FeatureTest, FluxOfArrays) {
  Array8 a({1, 2}), b({1, 0}), c({1, 2, 3});
  EXPECT_EQ(flux_of(&a, &b, nullptr), 2.0);
  EXPECT_EQ(flux_of(nullptr, &b, nullptr), 0.0);
  EXPECT_EQ(flux_of(&a, nullptr, nullptr), 0.0);
  Lines out = printed_lines([&] { EXPECT_EQ(flux_of(&a, &c, nullptr), 0.0); });
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find("(via Flux): compute() expects two arrays of equal size"),
            std::string::npos);

  Array8 diff({9, 9, 9, 9});
  EXPECT_EQ(flux_of(&a, &b, &diff), 2.0);
  EXPECT_EQ(diff.m_vector, a.m_vector);
  // diff may be one of the inputs: the distance comes first.
  EXPECT_EQ(flux_of(&a, &b, &b), 2.0);
  EXPECT_EQ(b.m_vector, a.m_vector);
  Array8 e1, e2;
  EXPECT_EQ(flux_of(&e1, &e2, nullptr), 0.0);
}

// The normalised spectrum Flux compares: positive values over the norm.
std::vector<Real> normalised(const std::vector<double>& x) {
  Real energy = 0.0L;
  for (double v : x) energy += static_cast<Real>(v) * v;
  std::vector<Real> out(x.size(), 0.0L);
  for (size_t i = 0; i < x.size(); i++) {
    if (x[i] > 0 && energy > 0) out[i] = x[i] / std::sqrt(energy);
  }
  return out;
}

Real distance(const std::vector<Real>& a, const std::vector<Real>& b) {
  Real sum = 0.0L;
  for (size_t i = 0; i < a.size(); i++) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum);
}

TEST(FeatureTest, FluxAcrossFrames) {
  std::vector<double> x = random_values(256, 1), y = random_values(256, 2);
  for (double& v : x) v = std::fabs(v);
  for (double& v : y) v = std::fabs(v);
  Array8 ax(x), ay(y);
  Flux_Object flux;
  // First frame after construction: 0, and the previous frame is zeros (of
  // this frame's size).
  EXPECT_EQ(flux.tock(&ax), 0.0);
  EXPECT_NEAR(flux.tock(&ax), 1.0, 1e-12);  // a normalised spectrum against zeros
  EXPECT_EQ(flux.tock(&ax), 0.0);           // equal spectra
  EXPECT_NEAR(flux.tock(&ay), static_cast<double>(distance(normalised(y), normalised(x))),
              1e-12);
  EXPECT_EQ(flux.tock(nullptr), 0.0);  // no upstream: nothing changes
  EXPECT_NEAR(flux.tock(&ax), static_cast<double>(distance(normalised(x), normalised(y))),
              1e-12);

  // A longer spectrum restarts: 0 now, and the next value is taken against
  // the last normalised frame padded with zeros.
  std::vector<double> z = random_values(512, 3);
  Array8 az(z);
  EXPECT_EQ(flux.tock(&az), 0.0);
  std::vector<Real> padded = normalised(x);
  padded.resize(512, 0.0L);
  EXPECT_NEAR(flux.tock(&az), static_cast<double>(distance(normalised(z), padded)), 1e-12);

  // After a reset: 0, and the previous frame stays the last one computed,
  // which here equals the next.
  flux.reset();
  EXPECT_EQ(flux.tock(&az), 0.0);
  EXPECT_EQ(flux.tock(&az), 0.0);
  Array8 empty;
  EXPECT_EQ(flux.tock(&empty), 0.0);
  EXPECT_EQ(flux.tock(&empty), 0.0);
}

TEST(FeatureTest, CollectorConcatenatesInOrder) {
  Array8 a({1, 2}), b, c({3, 4, 5});
  Array8 out({7});
  collect_features({&a, &b, nullptr, &c}, out);
  EXPECT_EQ(out.m_vector, (std::vector<double>{1, 2, 3, 4, 5}));
  collect_features({}, out);
  EXPECT_EQ(out.size(), 0);
}

TEST(ZeroXTest, TickMarksSignChanges) {
  ZeroX_Object z;
  const float in[] = {0.5f, -0.5f, -0.2f, 0.3f, 0.0f, -0.0f, -1.0f};
  const float want[] = {0, -1, 0, 1, 0, 0, -1};
  for (size_t i = 0; i < 7; i++) EXPECT_EQ(z.tick(in[i]), want[i]) << i;
  ZeroX_Object fresh;
  EXPECT_EQ(fresh.tick(-0.1f), -1.0f);  // the first sample is compared with 0.0
}

// ---------------------------------------------------------------------------
// Correlation

// y[j] = sum over n of a[n + j - (nb - 1)] b[n], j < na + nb - 1.
std::vector<Real> direct_correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const long na = static_cast<long>(a.size()), nb = static_cast<long>(b.size());
  std::vector<Real> y(static_cast<size_t>(na + nb - 1), 0.0L);
  for (long j = 0; j < na + nb - 1; j++) {
    Real sum = 0.0L;
    for (long n = 0; n < nb; n++) {
      const long i = n + j - (nb - 1);
      if (i >= 0 && i < na) sum += static_cast<Real>(a[i]) * b[n];
    }
    y[j] = sum;
  }
  return y;
}

void expect_correlation(const std::vector<Real>& want, Chip_Array8& got, Real scale = 1.0L) {
  ASSERT_EQ(static_cast<size_t>(got.size()), want.size());
  Real peak = 0.0L;
  for (Real v : want) peak = std::max(peak, std::fabs(v * scale));
  const double tol = static_cast<double>(1e-5L * peak) + 1e-12;
  for (size_t j = 0; j < want.size(); j++) {
    ASSERT_NEAR(got.m_vector[j], static_cast<double>(want[j] * scale), tol) << j;
  }
}

TEST(CorrTest, MatchesTheDirectSums) {
  std::mt19937 gen(77);
  std::uniform_int_distribution<int> size(1, 700);
  Corr_Object corr("XCorr");
  EXPECT_EQ(corr.capacity(), 1024);
  for (int round = 0; round < 12; round++) {
    const size_t na = static_cast<size_t>(size(gen)), nb = static_cast<size_t>(size(gen));
    SCOPED_TRACE(std::to_string(na) + " x " + std::to_string(nb));
    std::vector<double> a = random_values(na, 100 + round), b = random_values(nb, 200 + round);
    Array8 aa(a), bb(b), out;
    ASSERT_TRUE(corr.correlate(aa, bb, out));
    expect_correlation(direct_correlation(a, b), out);
  }
  // 600 with 700 values: 1299 lags, buffers of 2048, kept afterwards.
  std::vector<double> a = random_values(600, 5), b = random_values(700, 6);
  Array8 aa(a), bb(b), out;
  ASSERT_TRUE(corr.correlate(aa, bb, out));
  EXPECT_EQ(out.size(), 1299);
  EXPECT_EQ(corr.capacity(), 2048);
  expect_correlation(direct_correlation(a, b), out);
  Array8 small({1, 2});
  corr.correlate(small, small, out);
  EXPECT_EQ(corr.capacity(), 2048);
  EXPECT_EQ(out.size(), 3);
}

TEST(CorrTest, NormalisedByTheEnergiesOfTheInputs) {
  Corr_Object corr("AutoCorr");
  EXPECT_EQ(corr.normalize(), 0);
  EXPECT_EQ(corr.setNormalize(5), 1);
  std::vector<double> x = random_values(256, 9);
  Array8 ax(x), out;
  ASSERT_TRUE(corr.correlate(ax, ax, out));
  Real energy = 0.0L;
  for (double v : x) energy += static_cast<Real>(v) * v;
  const Real d = 1e-6L + 2.0L * energy;
  expect_correlation(direct_correlation(x, x), out, 1.0L / d);
  // Lag 0 sits in the middle: the energy over twice the energy.
  EXPECT_NEAR(out.m_vector[255], static_cast<double>(energy / d), 1e-6);
  // The output may be the input itself.
  ASSERT_TRUE(corr.correlate(ax, ax, ax));
  expect_correlation(direct_correlation(x, x), ax, 1.0L / d);
  EXPECT_EQ(corr.setNormalize(0), 0);
}

TEST(CorrTest, EmptyHugeAndUnallocatableInputsGiveEmptyResults) {
  Corr_Object corr("XCorr");
  Array8 none, one({2.0}), out({1, 2, 3});
  EXPECT_TRUE(corr.correlate(none, one, out));
  EXPECT_EQ(out.size(), 0);
  EXPECT_TRUE(corr.correlate(one, none, out));
  EXPECT_EQ(out.size(), 0);
  EXPECT_TRUE(corr.correlate(one, one, out));  // one lag
  ASSERT_EQ(out.size(), 1);
  EXPECT_NEAR(out.m_vector[0], 4.0, 1e-6);

  Array8 half(std::vector<double>(XFORM_MAX_SIZE / 2 + 1, 0.5));
  out.set_size(3);
  Lines lines = printed_lines([&] { EXPECT_FALSE(corr.correlate(half, half, out)); });
  EXPECT_EQ(lines, Lines{"[chip](XCorr): correlation of 1048577 lags exceeds the largest "
                         "transform (1048576)"});
  EXPECT_EQ(out.size(), 0);
  EXPECT_EQ(corr.capacity(), 1024);

  // Buffers that cannot be made: an empty result, and a later call succeeds.
  std::unique_ptr<Corr_Object> starved;
  lines = printed_lines([&] {
    FailAllocations fail(2);  // the third of the three buffers fails
    starved.reset(new Corr_Object("AutoCorr"));
    out.set_size(3);
    EXPECT_FALSE(starved->correlate(one, one, out));
  });
  EXPECT_EQ(lines, Lines(2, "[chip]: Corr failed to allocate 1024-element buffer(s)..."));
  EXPECT_EQ(starved->capacity(), 0);
  EXPECT_EQ(out.size(), 0);
  EXPECT_TRUE(starved->correlate(one, one, out));
  EXPECT_EQ(starved->capacity(), 1024);
}

// ---------------------------------------------------------------------------
// The module's registration and its static functions by language name.

class ExtractModuleTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(load_test_module(env, extract_query, 16000));
  }
  void TearDown() override {
    for (Chip_Object* obj : held) obj->release();
    TypeCheckTest::TearDown();
  }

  // The static function cls.name with argc arguments.
  f_sfun static_fn(const char* cls, const char* name, size_t argc) {
    Chip_Type* type = find_type(env, cls);
    EXPECT_NE(type, nullptr) << cls;
    if (!type) return nullptr;
    for (Chip_Func* f = type->info->lookup_func(std::string(name), 0); f; f = f->next) {
      size_t n = 0;
      for (a_Arg_List a = f->def ? f->def->arg_list : nullptr; a; a = a->next) n++;
      if (n == argc && f->code && f->code->native_func) {
        return reinterpret_cast<f_sfun>(f->code->native_func);
      }
    }
    ADD_FAILURE() << cls << "." << name << " with " << argc << " arguments";
    return nullptr;
  }

  // Packed arguments: words for objects and ints, doubles for floats.
  struct Args {
    std::vector<unsigned char> bytes;
    Args& o(Chip_Object* p) { return w(reinterpret_cast<t_CPWORD>(p)); }
    Args& i(t_CPINT v) { return w(v); }
    Args& f(double v) {
      const unsigned char* b = reinterpret_cast<const unsigned char*>(&v);
      bytes.insert(bytes.end(), b, b + sizeof v);
      return *this;
    }
    Args& w(t_CPWORD v) {
      const unsigned char* b = reinterpret_cast<const unsigned char*>(&v);
      bytes.insert(bytes.end(), b, b + sizeof v);
      return *this;
    }
  };
  Chip_DL_Return call(f_sfun fn, Args& args) {
    Chip_DL_Return ret;
    ret.v_float = -12345.0;
    if (fn) fn(args.bytes.data(), &ret, nullptr);
    return ret;
  }

  std::vector<Chip_Object*> held;
};

TEST_F(ExtractModuleTest, RegistersTheAnalysers) {
  for (const char* name : {"FeatureCollector", "Centroid", "Flux", "RMS", "RollOff", "AutoCorr",
                           "XCorr", "ZeroX"}) {
    SCOPED_TRACE(name);
    Chip_Type* type = find_type(env, name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, "UAna");
    ASSERT_NE(type->ugen_info, nullptr);
    EXPECT_NE(type->ugen_info->tock, nullptr);
    make_native(env, name, held);
  }
  Chip_Object* rolloff = make_native(env, "RollOff", held);
  EXPECT_EQ(get_member(rolloff, "percent").v_float, 0.85);
  EXPECT_EQ(set_member(rolloff, "percent", 1.5).v_float, 1.0);
  Chip_Object* corr = make_native(env, "XCorr", held);
  EXPECT_EQ(get_member(corr, "normalize").v_int, 0);
  EXPECT_EQ(set_member(corr, "normalize", static_cast<t_CPINT>(5)).v_int, 1);
  EXPECT_EQ(set_member(corr, "normalize", static_cast<t_CPINT>(0)).v_int, 0);
  const struct {
    const char* source;
    bool ok;
  } programs[] = {
      {"float x[4]; Centroid.compute(x) + RMS.compute(x) + RollOff.compute(x, 0.5) + "
       "ZeroX.compute(x) + Flux.compute(x, x) + Flux.compute(x, x, x) => float v;",
       true},
      {"float x[4]; float y[0]; AutoCorr.compute(x, 1, y) @=> float z[]; "
       "XCorr.compute(x, x, 0, y) @=> z; Flux f; f.reset();",
       true},
      {"float x[4]; AutoCorr.compute(x, y);", false},
      {"RMS r; r.percent(0.5);", false},
  };
  for (const auto& p : programs) EXPECT_EQ(check_program(p.source).ok, p.ok) << p.source;
}

TEST_F(ExtractModuleTest, StaticFunctionsTakeNullArrays) {
  const struct {
    const char* cls;
    size_t argc;
    bool has_percent;
  } features[] = {{"Centroid", 1, false}, {"RMS", 1, false},  {"RollOff", 2, true},
                  {"ZeroX", 1, false},    {"Flux", 2, false}, {"Flux", 3, false}};
  for (const auto& c : features) {
    SCOPED_TRACE(std::string(c.cls) + " " + std::to_string(c.argc));
    Args args;
    for (size_t i = 0; i < c.argc; i++) {
      if (c.has_percent && i == 1) {
        args.f(0.5);
      } else {
        args.o(nullptr);
      }
    }
    EXPECT_EQ(call(static_fn(c.cls, "compute", c.argc), args).v_float, 0.0);
  }
  // RollOff.compute clamps its percent as the member does.
  Array8 twenty(std::vector<double>(20, 1.0));
  Args nan_args;
  nan_args.o(&twenty).f(kNaN);
  EXPECT_DOUBLE_EQ(call(static_fn("RollOff", "compute", 2), nan_args).v_float, 0.8);

  // The correlations answer their output array; a null output gives null,
  // a null input an empty output.
  Array8 x({1, 2, 3}), out({9, 9});
  f_sfun autocorr = static_fn("AutoCorr", "compute", 3);
  f_sfun xcorr = static_fn("XCorr", "compute", 4);
  Args a1;
  a1.o(&x).i(0).o(&out);
  EXPECT_EQ(call(autocorr, a1).v_object, &out);
  ASSERT_EQ(out.size(), 5);
  EXPECT_NEAR(out.m_vector[2], 14.0, 1e-5);
  Args a2;
  a2.o(nullptr).i(0).o(&out);
  EXPECT_EQ(call(autocorr, a2).v_object, &out);
  EXPECT_EQ(out.size(), 0);
  Args a3;
  a3.o(&x).i(0).o(nullptr);
  EXPECT_EQ(call(autocorr, a3).v_object, nullptr);
  Args x1;
  x1.o(&x).o(nullptr).i(1).o(&out);
  EXPECT_EQ(call(xcorr, x1).v_object, &out);
  EXPECT_EQ(out.size(), 0);
  Args x2;
  x2.o(nullptr).o(nullptr).i(1).o(nullptr);
  EXPECT_EQ(call(xcorr, x2).v_object, nullptr);
  // The setting stays for later static calls.
  EXPECT_EQ(corr_static().normalize(), 1);
  Args x3;
  x3.o(&x).o(&x).i(1).o(&out);
  call(xcorr, x3);
  EXPECT_NEAR(out.m_vector[2], 14.0 / (28.0 + 1e-6), 1e-6);
}

}  // namespace
