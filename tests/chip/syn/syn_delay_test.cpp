// The toolkit delay lines and echo ticked directly: whole delays as exact
// shifts, DelayL's two linear taps, DelayA's phase delay at low frequency
// and its allpass energy, Echo's two taps, the clamps with their messages
// (printed once per object), resizing, and a table of hostile parameters
// that must not crash, hang, overrun a buffer or leave NaN in a line.
#include "chip/syn/syn_delay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "log_capture.h"

namespace {

const double kPi = 3.141592653589793;
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A reproducible test signal with no two equal neighbours.
std::vector<float> signal(int n) {
  std::vector<float> x(n);
  unsigned state = 12345u;
  for (int i = 0; i < n; i++) {
    state = state * 1103515245u + 12345u;
    x[i] = static_cast<float>((state >> 8) & 0xffff) / 65536.0f - 0.5f;
  }
  return x;
}

// x[i], or 0 before the signal starts.
float at(const std::vector<float>& x, long i) { return i < 0 ? 0.0f : x[i]; }

TEST(SynDelayTest, WholeDelayIsAnExactShift) {
  const long cases[][2] = {{0, 10}, {1, 10}, {7, 7}, {100, 4096}, {4096, 4096}, {3, 0x10000}};
  const std::vector<float> x = signal(6000);
  for (const auto& c : cases) {
    Delay line(c[0], c[1]);
    EXPECT_EQ(line.getDelay(), c[0]);
    EXPECT_EQ(line.getMaximumDelay(), c[1]);
    for (long n = 0; n < 6000; n++) {
      ASSERT_EQ(line.tick(x[n]), at(x, n - c[0])) << "delay " << c[0] << " n " << n;
    }
  }
  // The default line: delay 0, largest 4096; nextOut is what comes next.
  Delay plain;
  EXPECT_EQ(plain.getDelay(), 0.0f);
  EXPECT_EQ(plain.getMaximumDelay(), 4096);
  EXPECT_EQ(plain.tick(0.25f), 0.25f);
  plain.setDelay(2L);
  plain.tick(1.0f);
  plain.tick(2.0f);
  EXPECT_EQ(plain.nextOut(), 1.0f);
  EXPECT_EQ(plain.tick(3.0f), 1.0f);
  EXPECT_EQ(plain.lastOut(), 1.0f);
}

TEST(SynDelayTest, DelayLGivesTheTwoLinearTaps) {
  // Delay d = i + f: y[n] = (1 - f) x[n - i] + f x[n - i - 1].
  const float delays[] = {2.25f, 0.5f, 10.75f, 3.0f, 0.0f, 99.9f};
  const std::vector<float> x = signal(500);
  for (float d : delays) {
    for (long max : {100L, 5000L}) {
      DelayL line(d, max);
      EXPECT_EQ(line.getDelay(), d);
      const long i = static_cast<long>(d);
      const double f = d - i;
      // The read position is a float in 0..length: its rounding bounds the
      // error of the fraction (and so of the output, |x| < 0.5).
      const double tolerance = 1e-6 + line.length * 1.2e-7;
      for (long n = 0; n < 500; n++) {
        const double want = (1.0 - f) * at(x, n - i) + f * at(x, n - i - 1);
        ASSERT_NEAR(line.tick(x[n]), want, tolerance)
            << "delay " << d << " max " << max << " n " << n;
      }
    }
  }
  // A short line keeps the default buffer but wraps at its own length.
  DelayL short_line(5.0f, 100);
  EXPECT_EQ(short_line.length, 101);
  EXPECT_EQ(short_line.inputs.size(), 4097u);
}

TEST(SynDelayTest, DelayAPhaseDelayAtLowFrequencyIsTheSetDelay) {
  // A slow sine through the allpass-interpolated line: the phase lag of the
  // output divided by the frequency is the delay in samples.
  const float delays[] = {0.5f, 1.2f, 2.7f, 10.3f, 57.5f};
  const double w = 2.0 * kPi / 400.0;  // 400 samples per period
  for (float d : delays) {
    DelayA line(d, 100);
    EXPECT_EQ(line.getDelay(), d);
    EXPECT_GE(line.alpha, 0.5f);
    EXPECT_LT(line.alpha, 1.5f);
    std::complex<double> in_acc, out_acc;
    for (int n = 0; n < 400 * 12; n++) {
      const double x = std::sin(w * n);
      const double y = line.tick(static_cast<float>(x));
      if (n < 400 * 2) continue;
      const std::complex<double> e = std::polar(1.0, -w * n);
      in_acc += x * e;
      out_acc += y * e;
    }
    double lag = std::arg(in_acc / out_acc);
    if (lag < 0) lag += 2.0 * kPi;
    EXPECT_NEAR(lag / w, d, 0.01) << d;
    EXPECT_NEAR(std::abs(out_acc) / std::abs(in_acc), 1.0, 1e-3) << d;
  }
}

TEST(SynDelayTest, DelayAIsAnAllpass) {
  // The impulse response of the line keeps the impulse's energy.
  for (float d : {0.5f, 0.7f, 1.2f, 3.49f}) {
    DelayA line(d, 50);
    double energy = 0.0;
    for (int n = 0; n < 3000; n++) {
      const double y = line.tick(n == 0 ? 1.0f : 0.0f);
      energy += y * y;
    }
    EXPECT_NEAR(energy, 1.0, 1e-4) << d;
  }
  // Delay 1.2: alpha 1.2 (not 0.2), coefficient (1 - 1.2) / (1 + 1.2).
  DelayA line(1.2f, 10);
  EXPECT_NEAR(line.alpha, 1.2f, 1e-6);
  EXPECT_NEAR(line.coeff, (1.0 - 1.2) / (1.0 + 1.2), 1e-6);
}

TEST(SynDelayTest, EchoGivesItsTwoTaps) {
  // y[n] = mix x[n - d] + (1 - mix) x[n].
  struct Case {
    float max, delay, mix;
  } cases[] = {{1000.0f, 10.0f, 0.5f}, {64.0f, 64.0f, 0.25f}, {500.0f, 0.0f, 1.0f},
               {300.0f, 123.4f, 0.0f}, {20.0f, 7.9f, 0.75f}};
  const std::vector<float> x = signal(800);
  for (const Case& c : cases) {
    Echo echo;
    echo.set(c.max);
    EXPECT_EQ(echo.length, static_cast<int>(c.max) + 2);
    echo.setDelay(c.delay);
    echo.setEffectMix(c.mix);
    const long d = static_cast<long>(c.delay);
    EXPECT_EQ(echo.delayLine->getDelay(), d);
    for (long n = 0; n < 800; n++) {
      const double want = c.mix * at(x, n - d) + (1.0 - c.mix) * x[n];
      ASSERT_NEAR(echo.tick(x[n]), want, 1e-6) << c.delay << " " << c.mix << " n " << n;
      ASSERT_EQ(echo.lastOut(), echo.lastOutput);
    }
  }
  // A new echo: half a second of line, delay half of it, half and half.
  Echo fresh;
  const int length = static_cast<int>(Syn::srate * 0.5f) + 2;
  EXPECT_EQ(fresh.length, length);
  EXPECT_EQ(fresh.delayLine->getDelay(), length / 2);
  EXPECT_EQ(fresh.effectMix, 0.5f);
  // A smaller maximum shortens the delay to it (to the nearest sample).
  fresh.set(100.7f);
  EXPECT_EQ(fresh.length, 102);
  EXPECT_EQ(fresh.delayLine->getDelay(), 101.0f);
}

TEST(SynDelayTest, OutOfRangeDelaysClampWithOneMessagePerObject) {
  struct Case {
    const char* name;
    std::function<void(int)> set_bad;  // 0: too big, 1: too small
    std::function<float()> delay;
    float big_to, small_to;
    std::string big_line, small_line;
  };
  Delay d;
  DelayL l;
  DelayA a;
  Echo e;
  e.set(100.0f);
  Case cases[] = {
      {"Delay", [&](int k) { d.setDelay(k ? -3L : 5000L); }, [&] { return d.getDelay(); },
       4096.0f, 0.0f, "[chip](via SYN): Delay: setDelay(5000) too big!",
       "[chip](via SYN): Delay: setDelay(-3) less than zero!"},
      {"DelayL", [&](int k) { l.setDelay(k ? -0.5f : 4100.5f); }, [&] { return l.getDelay(); },
       4096.0f, 0.0f, "[chip](via SYN): DelayL: setDelay(4100.5) too big!",
       "[chip](via SYN): DelayL: setDelay(-0.5) less than zero!"},
      {"DelayA", [&](int k) { a.setDelay(k ? 0.3f : 1e6f); }, [&] { return a.getDelay(); },
       4096.0f, 0.5f, "[chip](via SYN): DelayA: setDelay(1e+06) too big!",
       "[chip](via SYN): DelayA: setDelay(0.3) less than 0.5 not possible!"},
      {"Echo", [&](int k) { e.setDelay(k ? -1.0f : 1000.0f); },
       [&] { return e.delayLine->getDelay(); }, 102.0f, 0.0f,
       "[chip](via SYN): Echo: setDelay parameter is greater than delay length!",
       "[chip](via SYN): Echo: setDelay parameter is less than zero!"},
  };
  for (Case& c : cases) {
    for (int k = 0; k < 2; k++) {
      // The first bad value prints; the same fault again, even every
      // sample, does not.
      auto lines = printed_lines([&] { c.set_bad(k); });
      ASSERT_EQ(lines.size(), 1u) << c.name;
      EXPECT_EQ(lines[0], k ? c.small_line : c.big_line);
      EXPECT_EQ(c.delay(), k ? c.small_to : c.big_to) << c.name;
      lines = printed_lines([&] {
        for (int n = 0; n < 100; n++) c.set_bad(k);
      });
      EXPECT_TRUE(lines.empty()) << c.name;
    }
  }
  // The too-big read point stays in the buffer even at the last write slot.
  Delay edge(0L, 10);
  for (int n = 0; n < 10; n++) edge.tick(1.0f);
  EXPECT_EQ(edge.inPoint, 10);
  printed_lines([&] { edge.setDelay(11L); });
  EXPECT_GE(edge.outPoint, 0);
  EXPECT_LT(edge.outPoint, edge.length);
  EXPECT_EQ(edge.getDelay(), 10.0f);

  // Echo's mix clamps the same way.
  Echo m;
  auto lines = printed_lines([&] {
    m.setEffectMix(1.5f);
    m.setEffectMix(2.0f);
  });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Echo: setEffectMix parameter is greater than 1.0!");
  EXPECT_EQ(m.effectMix, 1.0f);
  lines = printed_lines([&] { m.setEffectMix(-0.5f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Echo: setEffectMix parameter is less than zero!");
  EXPECT_EQ(m.effectMix, 0.0f);
}

TEST(SynDelayTest, ResizeKeepsTheDelayWhenItFitsAndClampsItWhenNot) {
  for (int kind = 0; kind < 3; kind++) {
    std::unique_ptr<Delay> line;
    if (kind == 0) line = std::make_unique<Delay>(50L, 100);
    if (kind == 1) line = std::make_unique<DelayL>(50.5f, 100);
    if (kind == 2) line = std::make_unique<DelayA>(50.5f, 100);
    const float before = line->getDelay();
    line->resize(2000);
    EXPECT_EQ(line->getMaximumDelay(), 2000) << kind;
    EXPECT_EQ(line->getDelay(), before) << kind;
    EXPECT_EQ(line->inputs.size(), 2001u) << kind;
    printed_lines([&] { line->resize(20); });
    EXPECT_EQ(line->getDelay(), 20.0f) << kind;
    // Negative and huge maxima are held to 0..kMaxDelay: never an empty
    // buffer, never a giant one.
    auto lines = printed_lines([&] { line->resize(-5); });
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("less than zero!"), std::string::npos) << lines[0];
    EXPECT_EQ(line->length, 1) << kind;
    EXPECT_EQ(line->inputs.size(), 1u) << kind;
    for (int n = 0; n < 10; n++) EXPECT_TRUE(std::isfinite(line->tick(1.0f)));
    printed_lines([&] { line->resize(Delay::kMaxDelay * 4); });
    EXPECT_EQ(line->getMaximumDelay(), Delay::kMaxDelay) << kind;
  }
  // A constructor with a negative maximum makes a one-slot line.
  printed_lines([] {
    Delay d(5L, -10);
    EXPECT_EQ(d.length, 1);
    EXPECT_EQ(d.tick(0.5f), 0.5f);
  });
}

TEST(SynDelayTest, NonFiniteDelayKeepsThePreviousOne) {
  DelayL l(3.25f, 100);
  DelayA a(3.25f, 100);
  Echo e;
  e.set(100.0f);
  e.setDelay(10.0f);
  e.setEffectMix(0.25f);
  for (float bad : {kNaN, kInf, -kInf}) {
    printed_lines([&] {
      l.setDelay(bad);
      a.setDelay(bad);
      e.setDelay(bad);
      e.setEffectMix(bad);
      e.set(bad);
    });
    EXPECT_EQ(l.getDelay(), 3.25f);
    EXPECT_EQ(a.getDelay(), 3.25f);
    EXPECT_EQ(e.delayLine->getDelay(), 10.0f);
    EXPECT_EQ(e.effectMix, 0.25f);
    EXPECT_EQ(e.length, 102);
  }
  // The lines still give their taps.
  const std::vector<float> x = signal(50);
  for (long n = 0; n < 50; n++) {
    ASSERT_NEAR(l.tick(x[n]), 0.75 * at(x, n - 3) + 0.25 * at(x, n - 4), 1e-6);
  }
}

TEST(SynDelayTest, HostileParameterTable) {
  // Every setter of every line with every hostile value: afterwards the
  // delay lies in its range, the read point in the buffer, and a finite
  // input gives a finite output; a NaN sent through a line leaves it.
  const double values[] = {-1e30, -1.0, 0.0, 0.5, 1.0, 2.0, 1e30, kNaN, kInf};
  for (double v : values) {
    const float f = static_cast<float>(v);
    std::vector<std::unique_ptr<Delay>> lines;
    printed_lines([&] {
      lines.push_back(std::make_unique<Delay>());
      lines.back()->setDelay(std::isfinite(v) ? static_cast<long>(std::fmax(-1e9, std::fmin(1e9, v)))
                                              : 3L);
      lines.push_back(std::make_unique<DelayL>());
      static_cast<DelayL&>(*lines.back()).setDelay(f);
      lines.push_back(std::make_unique<DelayA>());
      static_cast<DelayA&>(*lines.back()).setDelay(f);
      if (std::isfinite(v) && std::fabs(v) < 1e6) {
        for (auto& line : lines) line->resize(static_cast<long>(v));
      }
    });
    for (auto& line : lines) {
      EXPECT_GE(line->getDelay(), 0.0f) << v;
      EXPECT_LE(line->getDelay(), line->getMaximumDelay()) << v;
      EXPECT_GE(line->length, 1) << v;
      // The NaN comes out around the delay (the interpolating lines read
      // up to two neighbours of it), and not again.
      const int whole_delay = static_cast<int>(line->getDelay());
      const int first = 5 + std::max(0, whole_delay - 2);
      const int last = 5 + whole_delay + 2;
      for (int n = 0; n < 300; n++) {
        ASSERT_GE(line->outPoint, 0);
        ASSERT_LT(line->outPoint, line->length);
        const float y = line->tick(n == 5 ? kNaN : 0.25f);
        if (n < first || n > last) {
          ASSERT_TRUE(std::isfinite(y)) << v << " n " << n;
        }
      }
    }
    Echo e;
    printed_lines([&] {
      e.set(f);
      e.setDelay(f);
      e.setEffectMix(f);
    });
    EXPECT_GE(e.length, 2) << v;
    EXPECT_GE(e.effectMix, 0.0f) << v;
    EXPECT_LE(e.effectMix, 1.0f) << v;
    for (int n = 0; n < 300; n++) ASSERT_TRUE(std::isfinite(e.tick(0.5f))) << v;
  }
}

}  // namespace
