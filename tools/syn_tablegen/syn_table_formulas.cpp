// The formulas of the stored wave tables (see the header).
#include "syn_table_formulas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "chip/syn/syn_phoneme_data.h"

namespace {

const double kPi = std::numbers::pi;

// A fixed-seed 64-bit linear congruential generator; uniform in [-1, 1).
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state(seed) {}
  double next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

 private:
  uint64_t state;
};

// N equal cosine harmonics over a 256-sample period: sum cos(2 pi k i / 256)
// for k = 1..N (a band-limited impulse train, one impulse per period).
std::vector<double> impulses(int harmonics) {
  std::vector<double> x(256);
  for (size_t i = 0; i < x.size(); i++) {
    double sum = 0.0;
    for (int k = 1; k <= harmonics; k++) sum += std::cos(2.0 * kPi * k * double(i) / 256.0);
    x[i] = sum;
  }
  return x;
}

// One 256-sample period (86.13 Hz at 22050 Hz) of a voiced vowel: the
// harmonics up to the table's Nyquist limit, each of amplitude 1/k (the
// glottal source's fall) times the sum of the phoneme row's four formant
// resonances at its frequency. A resonance of centre F, gain g dB and pole
// radius r is g / (1 + ((f - F) / B)^2) with bandwidth B = -ln(r) fs / pi
// (fs 22050, at least 40 Hz).
std::vector<double> vowel(int row) {
  const double fs = 22050.0;
  const int n = 256;
  const double f0 = fs / n;
  const Syn_Phoneme_Row& p = kSynPhonemeRows[row];
  std::vector<double> amplitude(n / 2, 0.0);
  for (int k = 1; k < n / 2; k++) {
    const double f = k * f0;
    double level = 0.0;
    for (const auto& formant : p.formant) {
      const double radius = formant[1] > 0.0f ? formant[1] : 1e-3;
      const double bandwidth = std::max(40.0, -std::log(radius) * fs / kPi);
      const double d = (f - formant[0]) / bandwidth;
      level += std::pow(10.0, formant[2] / 20.0) / (1.0 + d * d);
    }
    amplitude[k] = level / k;
  }
  std::vector<double> x(n);
  for (int i = 0; i < n; i++) {
    double sum = 0.0;
    for (int k = 1; k < n / 2; k++) sum += amplitude[k] * std::sin(2.0 * kPi * k * i / n);
    x[i] = sum;
  }
  return x;
}

// A Rosenberg glottal pulse over a 512-sample period (86.13 Hz at 44100
// Hz): opening 0.5 (1 - cos(pi t / Tp)) for t < Tp, closing
// cos(pi (t - Tp) / (2 Tn)) for Tp <= t < Tp + Tn, closed (0) after; Tp and
// Tn are fractions of the period.
std::vector<double> glottal(double open, double closing) {
  const int n = 512;
  const double tp = open * n, tn = closing * n;
  std::vector<double> x(n);
  for (int i = 0; i < n; i++) {
    const double t = i;
    if (t < tp) {
      x[i] = 0.5 * (1.0 - std::cos(kPi * t / tp));
    } else if (t < tp + tn) {
      x[i] = std::cos(kPi * (t - tp) / (2.0 * tn));
    } else {
      x[i] = 0.0;
    }
  }
  return x;
}

// A struck or plucked body: modes sum a_m exp(-t / tau_m) sin(2 pi f_m t)
// (t in seconds at 22050 Hz) plus a noise burst over the first `burst`
// samples that fades linearly, scaled by `noise`.
struct Mode {
  double frequency, amplitude, tau;
};
std::vector<double> struck(int n, const std::vector<Mode>& modes, int burst, double noise,
                           uint64_t seed) {
  const double fs = 22050.0;
  Lcg random(seed);
  std::vector<double> x(n);
  for (int i = 0; i < n; i++) {
    const double t = i / fs;
    double sum = 0.0;
    for (const Mode& m : modes)
      sum += m.amplitude * std::exp(-t / m.tau) * std::sin(2.0 * kPi * m.frequency * t);
    if (i < burst) sum += noise * (1.0 - double(i) / burst) * random.next();
    x[i] = sum;
  }
  return x;
}

// Fades a one-shot event in over its first `in` samples and out over the
// `out` samples before its last kSilentTail, which become zeros (raised-
// cosine ramps): it starts on zero, and a reader at any rate up to
// kSilentTail samples per step ends on zero.
const size_t kSilentTail = 8;
std::vector<double> faded(std::vector<double> x, size_t in, size_t out) {
  const size_t n = x.size();
  for (size_t i = 0; i < in; i++) x[i] *= 0.5 - 0.5 * std::cos(kPi * double(i) / double(in));
  for (size_t k = 0; k < kSilentTail; k++) x[n - 1 - k] = 0.0;
  for (size_t k = 0; k < out; k++) {
    x[n - 1 - kSilentTail - k] *= 0.5 - 0.5 * std::cos(kPi * double(k) / double(out));
  }
  return x;
}

// A mallet's contact force on a struck bar, which is what drives the bar's
// modes: a raised cosine sin^2(pi t / tau) over the contact time tau, its
// peak on sample 2, then silence (n samples at 22050 Hz). The bar's
// ringing is left to the mode filters that the table excites.
std::vector<double> mallet(int n, double tau_seconds) {
  const double tau = tau_seconds * 22050.0;  // in samples
  std::vector<double> x(n, 0.0);
  for (int i = 0; i < n; i++) {
    const double t = (i - 2) / tau + 0.5;  // 0..1 during the contact
    if (t > 0.0 && t < 1.0) x[i] = std::pow(std::sin(kPi * t), 2.0);
  }
  return x;
}

// A 256-sample wave followed by 256 samples of silence.
template <typename F>
std::vector<double> with_blank(F wave) {
  std::vector<double> x(512, 0.0);
  for (int i = 0; i < 256; i++) x[i] = wave(2.0 * kPi * i / 256.0);
  return x;
}

double gaussian(double i, double centre, double width) {
  const double d = (i - centre) / width;
  return std::exp(-d * d);
}

const Syn_Table_Formula kFormulas[] = {
    {"special:aah", 22050.0f, "one period of the vowel of phoneme row \"ahh\" (see vowel())",
     [] { return vowel(4); }},
    {"special:britesyn", 22050.0f, "256 samples: sum over k = 1..64 of sin(2 pi k i / 256) / k",
     [] {
       std::vector<double> x(256);
       for (int i = 0; i < 256; i++) {
         for (int k = 1; k <= 64; k++) x[i] += std::sin(2.0 * kPi * k * i / 256.0) / k;
       }
       return x;
     }},
    {"special:dope", 22050.0f, "256 samples: sum over k = 1..32 of 0.85^k cos(2 pi k i / 256)",
     [] {
       std::vector<double> x(256);
       for (int i = 0; i < 256; i++) {
         for (int k = 1; k <= 32; k++)
           x[i] += std::pow(0.85, k) * std::cos(2.0 * kPi * k * i / 256.0);
       }
       return x;
     }},
    {"special:eee", 22050.0f, "one period of the vowel of phoneme row \"eee\"",
     [] { return vowel(0); }},
    {"special:fwavblnk", 22050.0f, "|sin(2 pi i / 256)| for 256 samples, then 256 zeros",
     [] { return with_blank([](double w) { return std::fabs(std::sin(w)); }); }},
    {"special:halfwave", 22050.0f, "256 samples: max(0, sin(2 pi i / 256))",
     [] {
       std::vector<double> x(256);
       for (int i = 0; i < 256; i++) x[i] = std::max(0.0, std::sin(2.0 * kPi * i / 256.0));
       return x;
     }},
    {"special:impuls10", 22050.0f, "256 samples: 10 equal cosine harmonics",
     [] { return impulses(10); }},
    {"special:impuls20", 22050.0f, "256 samples: 20 equal cosine harmonics",
     [] { return impulses(20); }},
    {"special:impuls40", 22050.0f, "256 samples: 40 equal cosine harmonics",
     [] { return impulses(40); }},
    {"special:mand1", 22050.0f,
     "1024 samples: a plucked string's modes (196 Hz and 7 partials, 1/m, decaying in "
     "0.08/m s) plus a 48-sample noise burst, faded in over 4 samples and out over 256, "
     "ending on 8 zeros",
     [] {
       std::vector<Mode> modes;
       for (int m = 1; m <= 8; m++)
         modes.push_back({196.0 * m * (1.0 + 0.0005 * m), 1.0 / m, 0.08 / m});
       return faded(struck(1024, modes, 48, 0.5, 0x6d616e6431ULL), 4, 256);
     },
     true},
    {"special:mandpluk", 22050.0f,
     "2048 samples: a brighter pluck (220 Hz and 11 partials, 1/sqrt(m), decaying in "
     "0.12/m s) plus a 96-sample noise burst, faded in over 4 samples and out over 512, "
     "ending on 8 zeros",
     [] {
       std::vector<Mode> modes;
       for (int m = 1; m <= 12; m++)
         modes.push_back({220.0 * m, 1.0 / std::sqrt(double(m)), 0.12 / m});
       return faded(struck(2048, modes, 96, 0.8, 0x6d706c756bULL), 4, 512);
     },
     true},
    {"special:marmsyn1", 22050.0f,
     "64 samples: a hard mallet's contact force, a raised cosine of 0.125 ms peaking on "
     "sample 2, then silence",
     [] { return mallet(64, 0.125e-3); }, true},
    {"special:ooo", 22050.0f, "one period of the vowel of phoneme row \"ooo\"",
     [] { return vowel(9); }},
    {"special:peksblnk", 22050.0f, "sin(2 pi i / 256)^7 for 256 samples, then 256 zeros",
     [] { return with_blank([](double w) { return std::pow(std::sin(w), 7.0); }); }},
    {"special:ppksblnk", 22050.0f, "|sin(2 pi i / 256)|^8 for 256 samples, then 256 zeros",
     [] { return with_blank([](double w) { return std::pow(std::fabs(std::sin(w)), 8.0); }); }},
    {"special:silence", 22050.0f, "256 zeros", [] { return std::vector<double>(256, 0.0); }},
    {"special:sineblnk", 22050.0f, "sin(2 pi i / 256) for 256 samples, then 256 zeros",
     [] { return with_blank([](double w) { return std::sin(w); }); }},
    {"special:snglpeak", 22050.0f, "256 samples: exp(-((i - 128) / 12)^2)",
     [] {
       std::vector<double> x(256);
       for (int i = 0; i < 256; i++) x[i] = gaussian(i, 128.0, 12.0);
       return x;
     }},
    {"special:twopeaks", 22050.0f,
     "256 samples: exp(-((i - 64) / 10)^2) + 0.7 exp(-((i - 176) / 10)^2)",
     [] {
       std::vector<double> x(256);
       for (int i = 0; i < 256; i++)
         x[i] = gaussian(i, 64.0, 10.0) + 0.7 * gaussian(i, 176.0, 10.0);
       return x;
     }},
    {"special:glot_pop", 44100.0f, "a Rosenberg pulse, open 0.30, closing 0.10 of the period",
     [] { return glottal(0.30, 0.10); }},
    {"special:glot_ahh", 44100.0f, "a Rosenberg pulse, open 0.40, closing 0.16",
     [] { return glottal(0.40, 0.16); }},
    {"special:glot_eee", 44100.0f, "a Rosenberg pulse, open 0.35, closing 0.12",
     [] { return glottal(0.35, 0.12); }},
    {"special:glot_ooo", 44100.0f, "a Rosenberg pulse, open 0.45, closing 0.20",
     [] { return glottal(0.45, 0.20); }},
};

}  // namespace

const Syn_Table_Formula* syn_table_formulas(size_t* count) {
  *count = sizeof kFormulas / sizeof kFormulas[0];
  return kFormulas;
}

std::vector<float> syn_table_samples(const Syn_Table_Formula& formula) {
  std::vector<double> x = formula.make();
  double peak = 0.0;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  std::vector<float> out(x.size());
  for (size_t i = 0; i < x.size(); i++) {
    out[i] = peak > 0.0 ? static_cast<float>(x[i] * (32767.0 / peak)) : 0.0f;
  }
  return out;
}
