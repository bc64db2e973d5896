// The yardstick of the unit-generator graph: what 100 sine oscillators
// summed into one output cost as a plain C++ loop (the same phase
// arithmetic and std::sin per oscillator and sample as SinOsc), for
// seconds of audio at 44.1 kHz (argument 1, default 10). Prints the sum of
// every output sample, so that nothing is left out by the optimiser.
#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const int kVoices = 100;
  const double kRate = 44100.0;
  const double kTwoPi = 6.283185307179586476925286766559;
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const long frames = static_cast<long>(seconds * kRate);
  double phase[kVoices];
  double step[kVoices];
  for (int v = 0; v < kVoices; v++) {
    phase[v] = 0.0;
    step[v] = (110.0 + 7.0 * v) / kRate;
  }
  double total = 0.0;
  for (long n = 0; n < frames; n++) {
    float out = 0.0f;
    for (int v = 0; v < kVoices; v++) {
      out += 0.005f * static_cast<float>(std::sin(kTwoPi * phase[v]));
      phase[v] += step[v];
      if (phase[v] > 1.0) phase[v] -= 1.0;
    }
    total += out;
  }
  std::printf("%.9g\n", total);
  return 0;
}
