// Reverberators of the synthesis toolkit: JCRev, NRev and KestRev.
#include "chip/syn/syn_reverb.h"

#include <cmath>

namespace {

// (1 - mix) * x formed in double precision, stored as float.
inline float dryDouble(float mix, float x) {
  return static_cast<float>((1.0 - static_cast<double>(mix)) * static_cast<double>(x));
}

// Lengths in table order, rescaled from `reference` to the toolkit rate.
// `always` rescales even at a ratio of exactly 1.
template <int N>
void scaleTable(long (&lengths)[N], const long (&table)[N], double reference, bool always) {
  double scaler = static_cast<double>(Reverb::safeRate(Syn::srate)) / reference;
  for (int i = 0; i < N; ++i) {
    lengths[i] = (always || scaler != 1.0) ? Reverb::scaledLength(table[i], scaler) : table[i];
  }
}

// A whole-sample line whose delay and maximum are both `length`.
Delay* makeLine(long length) { return new Delay(length, length); }

}  // namespace

// ---------------------------------------------------------------------------
// Reverb

Reverb::Reverb(const char* className) : className_(className) {}
Reverb::~Reverb() = default;

float* Reverb::tick(float* vector, unsigned int vectorSize) {
  for (unsigned int i = 0; i < vectorSize; ++i) vector[i] = tick(vector[i]);
  return vector;
}

float Reverb::setEffectMix(double mix) {
  if (std::isnan(mix)) {
    syn_warn(SYN_PREFIX "%s: setEffectMix parameter is not a number!", className_);
    mix = 0.0;
  } else if (mix > kMaxMix || mix < -kMaxMix) {
    syn_warn(SYN_PREFIX "%s: setEffectMix parameter is out of range!", className_);
    mix = mix > 0.0 ? kMaxMix : -kMaxMix;
  }
  effectMix = static_cast<float>(mix);
  return effectMix;
}

float Reverb::safeT60(float t60) {
  // NaN fails the first test and gives no feedback, like 0.
  if (!(t60 > 0.0f)) return 0.0f;
  return t60 > kMaxT60 ? kMaxT60 : t60;
}

float Reverb::safeRate(float rate) {
  return (std::isfinite(rate) && rate > 0.0f) ? rate : 44100.0f;
}

bool Reverb::isPrime(long n) {
  if (n == 2) return true;
  if (n % 2 == 0) return false;
  long limit = static_cast<long>(std::sqrt(static_cast<double>(n))) + 1;
  for (long i = 3; i < limit; i += 2) {
    if (n % i == 0) return false;
  }
  return true;
}

long Reverb::scaledLength(long length, double scaler) {
  double scaled = std::floor(scaler * static_cast<double>(length));
  // Negative, NaN and absurd products are held inside the line limits.
  if (!(scaled >= 0.0)) scaled = 0.0;
  if (scaled > static_cast<double>(kMaxLength)) scaled = static_cast<double>(kMaxLength);
  long d = static_cast<long>(scaled);
  if (d % 2 == 0) d += 1;
  while (!isPrime(d)) d += 2;
  return d;
}

float Reverb::combCoefficient(long length, float t60, float rate) {
  // No decay time, no feedback (the exponent would be -infinity).
  if (!(t60 * rate > 0.0f)) return 0.0f;
  float e = static_cast<float>(-3 * length) / (t60 * rate);
  float g = static_cast<float>(std::pow(10.0, static_cast<double>(e)));
  // A product too large for single precision would make the gain 1 (a
  // tail that never dies); hold it just below.
  return g < 1.0f ? g : std::nextafter(1.0f, 0.0f);
}

// ---------------------------------------------------------------------------
// JCRev

namespace {
// Combs, allpasses, output left and right, at 44100 Hz.
const long kJCRevTable[9] = {1777, 1847, 1993, 2137, 389, 127, 43, 211, 179};
}  // namespace

JCRev::JCRev(float T60) : CombAllpassReverb("JCRev", T60) {
  long lengths[9];
  scaleTable(lengths, kJCRevTable, 44100.0, false);

  for (int i = 0; i < 3; ++i) makeAllpass(i, lengths[i + 4]);
  for (int i = 0; i < 4; ++i) makeComb(i, lengths[i]);
  outLeftDelay_ = makeLine(lengths[7]);
  outRightDelay_ = makeLine(lengths[8]);
  effectMix = 0.3f;
  clear();
}

JCRev::~JCRev() {
  delete outLeftDelay_;
  delete outRightDelay_;
}

void JCRev::clear() {
  clearLines();
  outLeftDelay_->clear();
  outRightDelay_->clear();
}

float JCRev::tick(float input) {
  float x = syn_flush(input);
  float s = allpass(2, allpass(1, allpass(0, x)));

  // All four comb inputs are formed before any comb moves.
  float c[4];
  for (int i = 0; i < 4; ++i) c[i] = combInput(i, s);
  for (int i = 0; i < 4; ++i) combDelays_[i]->tick(c[i]);
  float f = syn_flush(((c[0] + c[1]) + c[2]) + c[3]);

  float leftWet = effectMix * outLeftDelay_->tick(f);
  float rightWet = effectMix * outRightDelay_->tick(f);
  return stereoOut(leftWet, rightWet, dryDouble(effectMix, x));
}

long JCRev::outLength(int channel) const {
  return static_cast<long>((channel == 0 ? outLeftDelay_ : outRightDelay_)->getDelay());
}

// ---------------------------------------------------------------------------
// NRev

namespace {
// Combs, allpasses, and a fifteenth entry that is rescaled but never used,
// at 25641 Hz.
const long kNRevTable[15] = {1433, 1601, 1867, 2053, 2251, 2399, 347, 113,
                             37,   59,   53,   43,   37,   29,   19};
}  // namespace

NRev::NRev(float T60) : CombAllpassReverb("NRev", T60) {
  long lengths[15];
  scaleTable(lengths, kNRevTable, 25641.0, true);

  for (int i = 0; i < 6; ++i) makeComb(i, lengths[i]);
  for (int i = 0; i < 8; ++i) makeAllpass(i, lengths[i + 6]);
  effectMix = 0.3f;
  lowpassState_ = 0.0f;
  clear();
}

void NRev::clear() {
  clearLines();
  lowpassState_ = 0.0f;
}

float NRev::tick(float input) {
  float x = syn_flush(input);

  float sum = 0.0f;
  for (int i = 0; i < 6; ++i) sum += combDelays_[i]->tick(combInput(i, x));

  float p = allpass(2, allpass(1, allpass(0, sum)));
  lowpassState_ = syn_flush(
      static_cast<float>(0.3 * static_cast<double>(p) + 0.7 * static_cast<double>(lowpassState_)));
  float y = allpass(3, lowpassState_);

  // Both output allpasses take y: they decorrelate left from right.
  float leftWet = effectMix * allpass(4, y);
  float rightWet = effectMix * allpass(5, y);
  return stereoOut(leftWet, rightWet, dryDouble(effectMix, x));
}

// ---------------------------------------------------------------------------
// KestRev

namespace {
// Allpasses first, then combs, at 44100 Hz.
const long kKestRevTable[4] = {353, 1097, 1777, 2137};
}  // namespace

KestRev::KestRev(float T60) : CombAllpassReverb("KestRev", T60) {
  long lengths[4];
  scaleTable(lengths, kKestRevTable, 44100.0, false);

  for (int i = 0; i < 2; ++i) {
    makeAllpass(i, lengths[i]);
    makeComb(i, lengths[i + 2]);
  }
  effectMix = 0.5f;
  clear();
}

void KestRev::clear() { clearLines(); }

float KestRev::tick(float input) {
  float x = syn_flush(input);
  float s = allpass(1, allpass(0, x));

  // Both comb inputs are formed before either comb moves.
  float c0 = combInput(0, s);
  float c1 = combInput(1, s);
  float leftWet = effectMix * combDelays_[0]->tick(c0);
  float rightWet = effectMix * combDelays_[1]->tick(c1);
  // Unlike the other two, the dry share is formed in single precision.
  return stereoOut(leftWet, rightWet, (1.0f - effectMix) * x);
}
