// The xform module's classes: FFT, IFFT, Flip, pilF, DCT, IDCT and the
// Windowing functions. The plain classes are driven as the graph drives
// them (a tock when a script would upchip, then the sample's ticks), and
// their results are checked against oracles computed here in long double
// (the direct DFT of the frame the class should have analysed) or against
// the input itself (resynthesis). Hostile sizes, windows, upstream results
// and failed allocations go to the plain classes; null arrays go to every
// member by its language name, on objects built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "chip/lib/uana_xform.h"
#include "chip/lib/util_xforms.h"
#include "chip/types/chip_import.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"
#include "log_capture.h"
#include "module_test_support.h"
#include "type_check_support.h"

namespace {

typedef long double Real;
typedef std::complex<Real> Complex;
typedef std::vector<std::string> Lines;

const Real kPiL = 3.141592653589793238462643383279502884L;

std::vector<float> random_samples(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(gen);
  return x;
}

// A float[] holding the values.
struct Array8 : Chip_Array8 {
  explicit Array8(const std::vector<float>& v = {}) : Chip_Array8(0) {
    m_vector.assign(v.begin(), v.end());
  }
};
struct Array16 : Chip_Array16 {
  Array16() : Chip_Array16(0) {}
};

std::vector<float> hann(size_t n) {
  std::vector<float> w(n);
  hanning(w.data(), n);
  return w;
}

// Lines printed while fn ran, with the log at the warning level.
template <typename Fn>
Lines warnings_of(Fn fn) {
  int saved = g_loglevel;
  g_loglevel = CP_LOG_WARNING;
  Lines lines = printed_lines(fn);
  g_loglevel = saved;
  return lines;
}

// Runs fn, which must raise a Frame_Error that ends the calling shred.
template <typename Fn>
bool halts(Fn fn) {
  try {
    fn();
  } catch (const Frame_Error& error) {
    return error.haltsShred();
  }
  return false;
}

// Makes failed allocations for one scope.
struct FailAllocations {
  explicit FailAllocations(long after) { xform_fail_allocations_after(after); }
  ~FailAllocations() { xform_fail_allocations_after(-1); }
};

// The spectrum an FFT of size M gives for one frame: bins k < M/2 of
// (1/M) sum x[n] e^(+2 pi i k n / M), bin 0 packing DC and Nyquist.
std::vector<Complex> packed_spectrum(const std::vector<float>& frame) {
  const size_t m = frame.size();
  std::vector<Complex> bins(m / 2);
  Real nyquist = 0.0L;
  for (size_t n = 0; n < m; n++) nyquist += (n % 2 ? -1.0L : 1.0L) * frame[n];
  for (size_t k = 0; k < m / 2; k++) {
    Complex sum = 0.0L;
    for (size_t n = 0; n < m; n++) {
      const Real angle = 2.0L * kPiL * static_cast<Real>((k * n) % m) / m;
      sum += static_cast<Real>(frame[n]) * Complex(std::cos(angle), std::sin(angle));
    }
    bins[k] = sum / static_cast<Real>(m);
  }
  bins[0] = Complex(bins[0].real(), nyquist / m);
  return bins;
}

// ---------------------------------------------------------------------------
// FFT

TEST(FftTest, SizesRoundUpToPowersOfTwoAndBadSizesHalt) {
  const struct {
    t_CPINT n;
    int32_t size;  // -1: refused
  } cases[] = {{1000, 1024}, {513, 1024}, {512, 512},          {2, 2},
               {3, 4},       {1, 0},      {0, -1},             {-4, -1},
               {(1 << 20) + 1, -1},       {2147483647, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    FFT_Object fft;
    if (c.size >= 0) {
      EXPECT_EQ(fft.setSize(c.n), c.size);
      EXPECT_EQ(fft.size(), c.size);
      EXPECT_EQ(fft.windowSize(), c.size);
      continue;
    }
    bool halted = false;
    Lines out = printed_lines([&] { halted = halts([&] { fft.setSize(c.n); }); });
    EXPECT_TRUE(halted);
    EXPECT_EQ(out, Lines{"[chip](FFT): InvalidTransformSizeException (" + std::to_string(c.n) +
                         ")"});
    EXPECT_EQ(fft.size(), 512);  // unchanged
  }
}

TEST(FftTest, ConstantAlternatingAndBinCentredSines) {
  FFT_Object fft;
  Array16 cvals;
  Array8 fvals;
  fft.tock(cvals, fvals);  // before any sample: all zero, M/2 bins
  ASSERT_EQ(cvals.size(), 256);
  ASSERT_EQ(fvals.size(), 256);

  for (int n = 0; n < 512; n++) fft.tick(1.0f);
  fft.tock(cvals, fvals);
  EXPECT_NEAR(cvals.m_vector[0].re, 1.0, 1e-6);
  EXPECT_NEAR(cvals.m_vector[0].im, 0.0, 1e-6);
  EXPECT_NEAR(fvals.m_vector[0], 1.0, 1e-6);
  for (int k = 1; k < 256; k++) ASSERT_NEAR(fvals.m_vector[k], 0.0, 1e-6) << k;

  for (int n = 0; n < 512; n++) fft.tick(n % 2 ? -1.0f : 1.0f);
  fft.tock(cvals, fvals);
  EXPECT_NEAR(cvals.m_vector[0].re, 0.0, 1e-6);
  EXPECT_NEAR(cvals.m_vector[0].im, 1.0, 1e-6);  // Nyquist in bin 0's imaginary part
  EXPECT_NEAR(fvals.m_vector[0], 1.0, 1e-6);

  // A sine of amplitude A exactly on bin k: |X_k| = A / 2.
  for (int k : {1, 10, 255}) {
    const double a = 0.8;
    for (int n = 0; n < 512; n++) {
      fft.tick(static_cast<float>(a * std::sin(2.0 * M_PI * k * n / 512.0 + 0.3)));
    }
    fft.tock(cvals, fvals);
    EXPECT_NEAR(fvals.m_vector[k], a / 2, 1e-5) << k;
    EXPECT_NEAR(fvals.m_vector[k == 1 ? 2 : k - 1], 0.0, 1e-5) << k;
  }
}

TEST(FftTest, AShortWindowTakesTheNewestSamplesThenZeros) {
  FFT_Object fft;
  std::vector<float> w = random_samples(256, 5);
  Array8 win(w);
  fft.setWindow(&win);
  EXPECT_EQ(fft.windowSize(), 256);
  EXPECT_EQ(fft.size(), 512);
  std::vector<float> x = random_samples(1000, 6);
  for (float v : x) fft.tick(v);
  Array16 cvals;
  Array8 fvals;
  fft.tock(cvals, fvals);

  std::vector<float> frame(512, 0.0f);
  for (size_t i = 0; i < 256; i++) frame[i] = x[1000 - 256 + i] * w[i];
  std::vector<Complex> want = packed_spectrum(frame);
  ASSERT_EQ(cvals.size(), 256);
  for (size_t k = 0; k < 256; k++) {
    ASSERT_NEAR(cvals.m_vector[k].re, static_cast<double>(want[k].real()), 1e-6) << k;
    ASSERT_NEAR(cvals.m_vector[k].im, static_cast<double>(want[k].imag()), 1e-6) << k;
  }
  // transform() analyses an array the same way (window over the first W,
  // zeros after), leaving the blob alone.
  Array8 from(std::vector<float>(x.end() - 256, x.end()));
  fft.transform(&from);
  Array16 spectrum;
  fft.spectrum(&spectrum);
  ASSERT_EQ(spectrum.size(), 256);
  for (size_t k = 0; k < 256; k++) {
    ASSERT_NEAR(spectrum.m_vector[k].re, cvals.m_vector[k].re, 1e-7) << k;
  }
  // Removing the window returns W to M.
  fft.setWindow(nullptr);
  EXPECT_EQ(fft.windowSize(), 512);
}

TEST(FftTest, WindowsLongerThanTheTransformOrEmptyAreRefusedAndShrinkingDropsThem) {
  FFT_Object fft;
  Array8 quarter(hann(128));
  fft.setWindow(&quarter);
  Array8 longer(hann(513));
  Array8 empty;
  Lines out = printed_lines([&] {
    fft.setWindow(&longer);
    fft.setWindow(&empty);
  });
  EXPECT_EQ(out, (Lines{"[chip](FFT): window of 513 samples refused: longer than the transform "
                        "size 512; the window stays as it was",
                        "[chip](FFT): empty window refused; the window stays as it was"}));
  EXPECT_TRUE(fft.hasWindow());
  EXPECT_EQ(fft.windowSize(), 128);

  // Down to 64 points: the 128-point window cannot stay.
  out = printed_lines([&] { EXPECT_EQ(fft.setSize(64), 64); });
  EXPECT_EQ(out, Lines{"[chip](FFT): window of 128 samples dropped: longer than the transform "
                       "size 64"});
  EXPECT_FALSE(fft.hasWindow());
  EXPECT_EQ(fft.windowSize(), 64);
  // The analysis runs on whatever is in the ring, within bounds.
  for (int n = 0; n < 200; n++) fft.tick(0.5f);
  Array16 cvals;
  Array8 fvals;
  fft.tock(cvals, fvals);
  EXPECT_NEAR(cvals.m_vector[0].re, 0.5, 1e-6);
}

TEST(FftTest, SizeOneIsAnEmptyTransform) {
  FFT_Object fft;
  EXPECT_EQ(fft.setSize(1), 0);
  Array16 cvals;
  Array8 fvals;
  Lines out = printed_lines([&] {
    for (int n = 0; n < 10; n++) EXPECT_EQ(fft.tick(1.0f), 0.0f);
    fft.tock(cvals, fvals);
    Array8 from(std::vector<float>{1, 2, 3});
    fft.transform(&from);
  });
  EXPECT_TRUE(out.empty());  // nothing failed: there is nothing to transform
  EXPECT_EQ(cvals.size(), 0);
  EXPECT_EQ(fvals.size(), 0);
  Array16 spectrum;
  spectrum.set_size(4);
  fft.spectrum(&spectrum);
  EXPECT_EQ(spectrum.size(), 0);
  // A window cannot fit an empty transform.
  Array8 one(std::vector<float>{1.0f});
  printed_lines([&] { fft.setWindow(&one); });
  EXPECT_EQ(fft.windowSize(), 0);
}

TEST(FftTest, FailedAllocationsLeaveNoBuffersAndTocksSayWhy) {
  FFT_Object fft;
  Lines out = printed_lines([&] {
    FailAllocations fail(1);  // the work buffer is made, the spectrum is not
    EXPECT_EQ(fft.setSize(1024), 0);
  });
  EXPECT_EQ(out, Lines{"[chip]: FFT failed to allocate 1024, 512 buffers..."});
  Array16 cvals;
  Array8 fvals;
  out = printed_lines([&] {
    fft.tick(1.0f);
    fft.tock(cvals, fvals);
  });
  EXPECT_EQ(out, Lines{"[chip]: FFT failure due to NULL buffer..."});
  EXPECT_EQ(cvals.size(), 0);
  EXPECT_EQ(fvals.size(), 0);
  EXPECT_EQ(fft.setSize(1024), 1024);  // a later size works again

  out = printed_lines([&] {
    FailAllocations fail(0);
    Array8 win(hann(256));
    fft.setWindow(&win);
  });
  EXPECT_EQ(out, Lines{"[chip]: FFT failed to allocate 1024xSAMPLE window..."});
  EXPECT_FALSE(fft.hasWindow());
  EXPECT_EQ(fft.windowSize(), 1024);
}

// ---------------------------------------------------------------------------
// IFFT

TEST(IfftTest, GrowsToTwiceTheBinsItReceivesUpToTheCap) {
  IFFT_Object ifft;
  Array16 bins;
  bins.set_size(600);
  Array8 fvals;
  ifft.tock(&bins, fvals);
  EXPECT_EQ(ifft.size(), 2048);
  EXPECT_EQ(fvals.size(), 2048);

  // More bins than the largest transform holds: the frame is skipped.
  Array16 huge;
  huge.m_vector.resize(XFORM_MAX_SIZE / 2 + 1);
  Lines out = printed_lines([&] { ifft.tock(&huge, fvals); });
  EXPECT_EQ(out, Lines{"[chip](IFFT): 1048578 values need a transform larger than 1048576; "
                       "frame skipped"});
  EXPECT_EQ(ifft.size(), 2048);
  huge.m_vector.clear();

  // No upstream analyser: a silent frame, nothing added to the output.
  ifft.tock(nullptr, fvals);
  EXPECT_EQ(fvals.size(), 2048);
  for (double v : fvals.m_vector) ASSERT_EQ(v, 0.0);
  for (int n = 0; n < 4096; n++) ASSERT_EQ(ifft.tick(), 0.0f);
  // Empty upstream spectra: frames of silence at the current size.
  Array16 none;
  ifft.tock(&none, fvals);
  EXPECT_EQ(ifft.size(), 2048);
  // size(1) empties the transform: ticks give 0, tocks empty results.
  EXPECT_EQ(ifft.setSize(1), 0);
  ifft.tock(&none, fvals);
  EXPECT_EQ(fvals.size(), 0);
  EXPECT_EQ(ifft.tick(), 0.0f);
}

// Plays x through analyser and synthesiser as a script does that upchips
// the synthesiser every `hop` samples: at those times the tocks run, then
// every sample is ticked through both. tock(a, s) runs the two tocks.
template <typename A, typename S, typename Tock>
std::vector<float> play(A& analyser, S& synth, const std::vector<float>& x, size_t hop,
                        Tock tock) {
  std::vector<float> y(x.size());
  for (size_t n = 0; n < x.size(); n++) {
    if (n % hop == 0) tock(analyser, synth);
    analyser.tick(x[n]);
    y[n] = synth.tick();
  }
  return y;
}

TEST(ResynthesisTest, AnalysisThenSynthesisPlaysTheInputOneFrameLate) {
  const size_t m = 512;
  const std::vector<float> x = random_samples(6 * m, 11);
  auto fft_pair = [](FFT_Object& a, IFFT_Object& s) {
    Array16 cvals;
    Array8 fvals, out;
    a.tock(cvals, fvals);
    s.tock(&cvals, out);
  };
  struct Case {
    const char* name;
    size_t hop;
    bool hann;  // a periodic Hann window on the analysis side
  } cases[] = {{"hop M", m, false}, {"hop M/2, Hann", m / 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FFT_Object fft;
    IFFT_Object ifft;
    Array8 win(hann(m));
    if (c.hann) fft.setWindow(&win);
    std::vector<float> y = play(fft, ifft, x, c.hop, fft_pair);
    for (size_t n = m; n < x.size(); n++) ASSERT_NEAR(y[n], x[n - m], 1e-5) << n;
  }

  {
    SCOPED_TRACE("Flip and pilF");
    Flip_Object flip;
    UnFlip_Object unflip;
    std::vector<float> y = play(flip, unflip, x, m, [](Flip_Object& a, UnFlip_Object& s) {
      Array8 frame, out;
      a.tock(frame);
      s.tock(&frame, out);
    });
    for (size_t n = m; n < x.size(); n++) ASSERT_EQ(y[n], x[n - m]) << n;
  }
  {
    SCOPED_TRACE("DCT and IDCT");
    DCT_Object dct;
    IDCT_Object idct;
    dct.setSize(64);
    idct.setSize(64);
    std::vector<float> y = play(dct, idct, x, 64, [](DCT_Object& a, IDCT_Object& s) {
      Array8 coefficients, out;
      a.tock(coefficients);
      s.tock(&coefficients, out);
    });
    for (size_t n = 64; n < x.size(); n++) ASSERT_NEAR(y[n], x[n - 64], 1e-5) << n;
  }
}

// ---------------------------------------------------------------------------
// Flip, pilF, DCT, IDCT

TEST(FlipTest, FramesAreTheNewestSamplesOldestFirstWindowedAndPadded) {
  Flip_Object flip;
  EXPECT_EQ(flip.setSize(8), 8);
  for (int v = 1; v <= 10; v++) flip.tick(static_cast<float>(v));
  Array8 fvals;
  flip.tock(fvals);
  EXPECT_EQ(fvals.m_vector, (std::vector<double>{3, 4, 5, 6, 7, 8, 9, 10}));

  Array8 win(std::vector<float>{1.0f, 0.5f, 0.5f, 1.0f});
  flip.setWindow(&win);
  for (int v = 11; v <= 14; v++) flip.tick(static_cast<float>(v));
  flip.tock(fvals);
  EXPECT_EQ(fvals.m_vector, (std::vector<double>{11, 6, 6.5, 14, 0, 0, 0, 0}));

  Array8 from(std::vector<float>{2, 2, 2, 2, 2, 2});
  flip.transform(&from);
  Array8 out;
  flip.output(&out);
  EXPECT_EQ(out.m_vector, (std::vector<double>{2, 1, 1, 2, 0, 0, 0, 0}));
}

TEST(FlipTest, PilFGrowsToWhatItReceives) {
  UnFlip_Object unflip;
  Array8 frame(random_samples(1000, 3));
  unflip.transform(&frame);
  EXPECT_EQ(unflip.size(), 1000);
  Array8 out;
  unflip.output(&out);
  ASSERT_EQ(out.size(), 1000);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(out.m_vector[i], static_cast<float>(frame.m_vector[i]));
  // The frame plays out from the next tick on.
  for (int i = 0; i < 1000; i++) ASSERT_EQ(unflip.tick(), static_cast<float>(frame.m_vector[i]));

  // Past the largest transform the frame is skipped, from upstream as from
  // transform().
  Array8 huge;
  huge.m_vector.resize(XFORM_MAX_SIZE + 1);
  Array8 fvals;
  Lines out2 = printed_lines([&] {
    unflip.tock(&huge, fvals);
    unflip.transform(&huge);
  });
  EXPECT_EQ(out2, Lines(2, "[chip](UnFlip): 1048577 values need a transform larger than "
                           "1048576; frame skipped"));
  EXPECT_EQ(unflip.size(), 1000);
}

TEST(DctTest, ExactSizesCoefficientsOfOnesAndTheCap) {
  DCT_Object dct;
  EXPECT_EQ(dct.setSize(100), 100);
  EXPECT_EQ(dct.setSize(8), 8);
  for (int n = 0; n < 8; n++) dct.tick(1.0f);
  Array8 fvals;
  dct.tock(fvals);
  ASSERT_EQ(fvals.size(), 8);
  EXPECT_NEAR(fvals.m_vector[0], 8.0, 1e-6);
  for (int k = 1; k < 8; k++) EXPECT_NEAR(fvals.m_vector[k], 0.0, 1e-6) << k;

  // transform() analyses an array like the ring.
  Array8 ones(std::vector<float>(8, 0.5f));
  dct.transform(&ones);
  Array8 spectrum;
  dct.spectrum(&spectrum);
  EXPECT_NEAR(spectrum.m_vector[0], 4.0, 1e-6);

  Lines out = printed_lines(
      [&] { EXPECT_TRUE(halts([&] { dct.setSize(XFORM_MAX_DCT_SIZE + 1); })); });
  EXPECT_EQ(out, Lines{"[chip](DCT): InvalidTransformSizeException (4097)"});

  // An IDCT does not grow past the cap either.
  IDCT_Object idct;
  Array8 many(std::vector<float>(XFORM_MAX_DCT_SIZE + 1, 1.0f));
  out = printed_lines([&] { idct.tock(&many, fvals); });
  EXPECT_EQ(out, Lines{"[chip](IDCT): 4097 values need a transform larger than 4096; frame "
                       "skipped"});
  EXPECT_EQ(idct.size(), 512);
}

TEST(DctTest, AnyFailedAllocationFreesEverything) {
  // Buffer, coefficients or frame, row table, matrix cells: whichever fails.
  for (long after = 0; after < 4; after++) {
    SCOPED_TRACE(after);
    DCT_Object dct;
    IDCT_Object idct;
    Lines out = printed_lines([&] {
      {
        FailAllocations fail(after);
        dct.setSize(16);
      }
      {
        FailAllocations fail(after);
        idct.setSize(16);
      }
    });
    EXPECT_EQ(out, (Lines{"[chip]: DCT failed to allocate 16, 8 buffers...",
                          "[chip]: IDCT failed to allocate 16, 16, 16x16 buffers..."}));
    EXPECT_EQ(dct.size(), 0);
    EXPECT_EQ(idct.size(), 0);
    Array8 fvals, ones(std::vector<float>(16, 1.0f));
    out = printed_lines([&] {
      dct.tick(1.0f);
      dct.tock(fvals);
      dct.transform(&ones);
      EXPECT_EQ(idct.tick(), 0.0f);
    });
    EXPECT_EQ(out, Lines{"[chip]: DCT failure due to NULL buffer..."});
    EXPECT_EQ(fvals.size(), 0);
    // The IDCT grows again from what reaches it, and synthesises:
    // x[n] = (2/N) (1/2 + sum over k >= 1 of cos(pi k (n + 1/2) / N)).
    idct.tock(&ones, fvals);
    ASSERT_EQ(idct.size(), 16);
    for (int n = 0; n < 16; n++) {
      Real sum = 0.5L;
      for (int k = 1; k < 16; k++) sum += std::cos(kPiL * k * (n + 0.5L) / 16);
      EXPECT_NEAR(fvals.m_vector[n], static_cast<double>(2.0L / 16 * sum), 1e-6) << n;
    }
  }
}

TEST(XformSizesTest, HostileSizesOnEveryClass) {
  const t_CPINT sizes[] = {-4, 0, 1, 2, 3, 2147483647};
  const struct {
    const char* name;
    std::vector<int32_t> want;  // per size; -1: refused
  } classes[] = {{"FFT", {-1, -1, 0, 2, 4, -1}},   {"IFFT", {-1, -1, 0, 2, 4, -1}},
                 {"Flip", {-1, -1, 1, 2, 3, -1}},  {"UnFlip", {-1, -1, 1, 2, 3, -1}},
                 {"DCT", {-1, -1, 1, 2, 3, -1}},   {"IDCT", {-1, -1, 1, 2, 3, -1}}};
  for (const auto& c : classes) {
    for (size_t i = 0; i < 6; i++) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(sizes[i]));
      std::unique_ptr<Xform_Object> obj;
      const std::string name = c.name;
      if (name == "FFT") obj.reset(new FFT_Object);
      if (name == "IFFT") obj.reset(new IFFT_Object);
      if (name == "Flip") obj.reset(new Flip_Object);
      if (name == "UnFlip") obj.reset(new UnFlip_Object);
      if (name == "DCT") obj.reset(new DCT_Object);
      if (name == "IDCT") obj.reset(new IDCT_Object);
      Lines out = printed_lines([&] {
        if (c.want[i] < 0) {
          EXPECT_TRUE(halts([&] { obj->setSize(sizes[i]); }));
        } else {
          EXPECT_EQ(obj->setSize(sizes[i]), c.want[i]);
        }
      });
      if (c.want[i] < 0) {
        EXPECT_EQ(out, Lines{"[chip](" + name + "): InvalidTransformSizeException (" +
                             std::to_string(sizes[i]) + ")"});
        EXPECT_EQ(obj->size(), 512);
      }
      EXPECT_EQ(obj->windowSize(), obj->size());
    }
  }
}

TEST(XformSizesTest, HostileWindowsOnEveryClass) {
  for (const char* cls : {"FFT", "IFFT", "Flip", "UnFlip", "DCT", "IDCT"}) {
    SCOPED_TRACE(cls);
    const std::string name = cls;
    FFT_Object fft;
    IFFT_Object ifft;
    Flip_Object flip;
    UnFlip_Object unflip;
    DCT_Object dct;
    IDCT_Object idct;
    Xform_Object* obj = name == "FFT"      ? static_cast<Xform_Object*>(&fft)
                        : name == "IFFT"   ? static_cast<Xform_Object*>(&ifft)
                        : name == "Flip"   ? static_cast<Xform_Object*>(&flip)
                        : name == "UnFlip" ? static_cast<Xform_Object*>(&unflip)
                        : name == "DCT"    ? static_cast<Xform_Object*>(&dct)
                                           : static_cast<Xform_Object*>(&idct);
    const std::vector<Xform_Object*> all = {&fft, &ifft, &flip, &unflip, &dct, &idct};
    for (Xform_Object* each : all) ASSERT_EQ(each->setSize(8), 8);
    Array8 fits(std::vector<float>(8, 0.5f)), longer(std::vector<float>(9, 1.0f)), empty;
    obj->setWindow(&fits);
    Lines out = printed_lines([&] {
      obj->setWindow(&longer);
      obj->setWindow(&empty);
    });
    const std::string prefix = "[chip](" + name + "): ";
    EXPECT_EQ(out, (Lines{prefix + "window of 9 samples refused: longer than the transform size 8; "
                                   "the window stays as it was",
                          prefix + "empty window refused; the window stays as it was"}));
    EXPECT_EQ(obj->windowSize(), 8);
    EXPECT_TRUE(obj->hasWindow());
    // Every path of the class runs within its buffers with the window.
    Array8 fvals, frame(std::vector<float>(8, 1.0f));
    Array16 cvals;
    cvals.set_size(4);
    for (int n = 0; n < 20; n++) {
      fft.tick(1.0f);
      flip.tick(1.0f);
      dct.tick(1.0f);
      ifft.tick();
      unflip.tick();
      idct.tick();
    }
    fft.tock(cvals, fvals);
    ifft.tock(&cvals, fvals);
    flip.tock(fvals);
    unflip.tock(&frame, fvals);
    dct.tock(fvals);
    idct.tock(&frame, fvals);
    EXPECT_EQ(fvals.size(), 8);
    obj->setWindow(nullptr);
    EXPECT_FALSE(obj->hasWindow());
    EXPECT_EQ(obj->windowSize(), 8);
  }
}

// ---------------------------------------------------------------------------
// Windowing

TEST(WindowingTest, TablesOfTheFunctionsAndTheSharedArray) {
  bool halt = true;
  Chip_Array8* w = windowing_make(WINDOW_HANN, 4, &halt);
  ASSERT_EQ(w, windowing_array());
  EXPECT_FALSE(halt);
  ASSERT_EQ(w->size(), 4);
  const double hann4[] = {0.0, 0.5, 1.0, 0.5};
  for (int i = 0; i < 4; i++) EXPECT_NEAR(w->m_vector[i], hann4[i], 1e-7);
  EXPECT_EQ(windowing_make(WINDOW_RECTANGLE, 3, &halt)->m_vector,
            (std::vector<double>{1.0, 1.0, 1.0}));
  EXPECT_EQ(windowing_make(WINDOW_TRIANGLE, 4, &halt)->m_vector,
            (std::vector<double>{0.0, 0.5, 1.0, 0.5}));
  w = windowing_make(WINDOW_BLACKMAN_HARRIS, 8, &halt);
  for (int i = 0; i < 8; i++) {
    const double t = 2 * M_PI * i / 8;
    EXPECT_NEAR(w->m_vector[i], 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t), 1e-7);
  }

  // One array for every call: the first result changes with the second call.
  Chip_Array8* first = windowing_make(WINDOW_HANN, 8, &halt);
  Chip_Array8* second = windowing_make(WINDOW_HAMMING, 4, &halt);
  EXPECT_EQ(first, second);
  ASSERT_EQ(first->size(), 4);
  EXPECT_NEAR(first->m_vector[0], 0.08, 1e-7);
  EXPECT_NEAR(first->m_vector[2], 1.0, 1e-7);
}

TEST(WindowingTest, BadSizesStoreNothing) {
  bool halt = true;
  Lines out = warnings_of([&] { EXPECT_EQ(windowing_make(WINDOW_HANN, 0, &halt), nullptr); });
  EXPECT_EQ(out, Lines{"[chip]:(4:WARN!!): (via Windowing): negative window size..."});
  EXPECT_FALSE(halt);
  EXPECT_EQ(windowing_make(WINDOW_RECTANGLE, -3, &halt), nullptr);

  windowing_make(WINDOW_HANN, 5, &halt);
  for (t_CPINT size : {XFORM_MAX_SIZE + 1, 2147483647}) {
    out = printed_lines(
        [&] { EXPECT_EQ(windowing_make(WINDOW_BLACKMAN_HARRIS, size, &halt), nullptr); });
    EXPECT_TRUE(halt);
    EXPECT_EQ(out, Lines{"[chip](Windowing): OutOfMemoryException (allocating FLOAT[" +
                         std::to_string(size) + "])"});
    EXPECT_EQ(windowing_array()->size(), 5);  // untouched
  }
}

TEST(WindowingTest, TheScratchBufferGrowsOnlyWhenItCan) {
  bool halt = false;
  const size_t before = windowing_scratch_size();
  const t_CPINT bigger = static_cast<t_CPINT>(before + 100);
  Lines out = printed_lines([&] {
    FailAllocations fail(0);
    EXPECT_EQ(windowing_make(WINDOW_HANN, bigger, &halt), nullptr);
  });
  EXPECT_TRUE(halt);
  EXPECT_EQ(out, Lines{"[chip](Windowing): OutOfMemoryException (allocating FLOAT[" +
                       std::to_string(bigger) + "])"});
  EXPECT_EQ(windowing_scratch_size(), before);

  // A size between the old buffer and the refused one needs the buffer to
  // grow for real: the failure must not have recorded the larger size.
  const t_CPINT between = static_cast<t_CPINT>(before + 50);
  Chip_Array8* w = windowing_make(WINDOW_HANN, between, &halt);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(halt);
  EXPECT_EQ(windowing_scratch_size(), static_cast<size_t>(between));
  ASSERT_EQ(w->size(), between);
  for (t_CPINT i = 0; i < between; i += 997) {
    EXPECT_NEAR(w->m_vector[i], 0.5 - 0.5 * std::cos(2 * M_PI * i / between), 1e-6) << i;
  }
}

// ---------------------------------------------------------------------------
// The module's registration and every member by its language name.

class XformModuleTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    // As the compiler loads a module: the query, then the classes it put in
    // its query record (Windowing).
    dll = new Chip_DLL("xform");
    dll->add_ref();
    ASSERT_TRUE(dll->load(xform_query));
    ASSERT_NE(dll->query(), nullptr);
    ASSERT_TRUE(type_engine_add_dll(env, dll, ""));
    env->global()->commit();
  }
  void TearDown() override {
    for (Chip_Object* obj : held) obj->release();
    TypeCheckTest::TearDown();
    dll->release();
  }
  Chip_DLL* dll = nullptr;
  std::vector<Chip_Object*> held;
};

TEST_F(XformModuleTest, RegistersTheAnalysersAndWindowing) {
  const struct {
    const char* name;
    const char* state;
    t_CPWORD* offset;
  } cases[] = {{"FFT", "@FFT_data", &FFT_offset_data},
               {"IFFT", "@IFFT_data", &IFFT_offset_data},
               {"Flip", "@Flip_data", &Flip_offset_data},
               {"pilF", "@UnFlip_data", &UnFlip_offset_data},
               {"DCT", "@DCT_data", &DCT_offset_data},
               {"IDCT", "@IDCT_data", &IDCT_offset_data}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_Type* type = find_type(env, c.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, "UAna");
    ASSERT_NE(type->ugen_info, nullptr);
    EXPECT_NE(type->ugen_info->tock, nullptr);
    Chip_Value* member = type_engine_find_value(type, std::string(c.state));
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(static_cast<t_CPWORD>(member->offset), *c.offset);
    Chip_Object* obj = make_native(env, c.name, held);
    EXPECT_EQ(get_member(obj, "size").v_int, 512);
    EXPECT_EQ(get_member(obj, "windowSize").v_int, 512);
  }
  const struct {
    const char* source;
    bool ok;
  } programs[] = {
      {"FFT f; f.size(1000) => int n; Windowing.hann(512) @=> float w[]; f.window(w) @=> "
       "float v[]; complex s[0]; f.spectrum(s); f.transform(w);",
       true},
      {"IFFT i; complex s[4]; i.transform(s); float out[0]; i.samples(out);", true},
      {"Flip f => pilF p; float o[0]; f.output(o); p.output(o); p.transform(o);", true},
      {"DCT d =^ IDCT i; float o[0]; d.spectrum(o); i.samples(o); d.transform(o);", true},
      {"Windowing.rectangle(3) @=> float a[]; Windowing.triangle(3) @=> a; "
       "Windowing.hamming(3) @=> a; Windowing.blackmanHarris(3) @=> a;",
       true},
      {"FFT f; complex c[4]; f.transform(c);", false},
      {"IFFT i; float x[4]; i.transform(x);", false},
      {"FFT f; f.windowSize(4);", false},
  };
  for (const auto& p : programs) {
    EXPECT_EQ(check_program(p.source).ok, p.ok) << p.source;
  }
}

TEST_F(XformModuleTest, NullArraysToEveryMember) {
  t_CPWORD null_word = 0;
  const struct {
    const char* cls;
    const char* member;
    const char* line;  // printed (an empty text: a log line at the warning level)
  } cases[] = {
      {"FFT", "transform", "[chip](FFT): NullPointerException (argument is NULL)"},
      {"FFT", "spectrum", "[chip]:(4:WARN!!): (via FFT): null array passed to spectrum(...)"},
      {"IFFT", "transform", "[chip](IFFT): NullPointerException (argument is NULL)"},
      {"IFFT", "samples", "[chip]:(4:WARN!!): (via IFFT): null array passed to samples(...)"},
      {"Flip", "transform", "[chip](Flip): NullPointerException (argument is NULL)"},
      {"Flip", "output", "[chip]:(4:WARN!!): (via Flip): null array passed to output(...)"},
      {"pilF", "transform", "[chip](UnFlip): NullPointerException (argument is NULL)"},
      {"pilF", "output", "[chip]:(4:WARN!!): (via UnFlip): null array passed to output(...)"},
      {"DCT", "transform", "[chip](DCT): NullPointerException (argument is NULL)"},
      {"DCT", "spectrum", "[chip]:(4:WARN!!): (via DCT): null array passed to spectrum(...)"},
      {"IDCT", "transform", "[chip](IDCT): NullPointerException (argument is NULL)"},
      {"IDCT", "samples", "[chip]:(4:WARN!!): (via IDCT): null array passed to samples(...)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cls) + "." + c.member);
    Chip_Object* obj = make_native(env, c.cls, held);
    Lines out = warnings_of([&] { call_member(obj, c.member, &null_word, 1); });
    EXPECT_EQ(out, Lines{c.line});
  }
  // window(null) removes the window and answers null.
  for (const char* cls : {"FFT", "IFFT", "Flip", "pilF", "DCT", "IDCT"}) {
    SCOPED_TRACE(cls);
    Chip_Object* obj = make_native(env, cls, held);
    set_member(obj, "size", static_cast<t_CPINT>(64));
    Chip_DL_Return ret = call_member(obj, "window", &null_word, 1);
    EXPECT_EQ(ret.v_object, nullptr);
    EXPECT_EQ(get_member(obj, "windowSize").v_int, 64);
  }
}

}  // namespace
