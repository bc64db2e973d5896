// Constants and random numbers of the graphics library.
//
// Random numbers come from the C library's random(), as the particle and
// globe code has always drawn them, so a test that seeds it with
// seedRandom() sees the same sequence each run. unitRandom() divides by 2^31
// and never answers 1 (single precision would round the largest values up).
//
// Threads: random() keeps one process-wide state; the graphics code calls
// it from the main thread only.
#ifndef VEXELGRAPHICS_VGMATH_H
#define VEXELGRAPHICS_VGMATH_H

#include <cmath>

struct VGMath {
  static constexpr float PI = 3.1415927f;
  static constexpr float TWO_PI = 6.2831855f;

  // Seeds random().
  static void seedRandom(unsigned seed);
  // random(): 0 .. 2^31 - 1.
  static long randomInteger();
  // Uniform in [0, 1).
  static float unitRandom();
  // Uniform in [-1, 1).
  static float symmetricRandom() { return 2.0f * unitRandom() - 1.0f; }

  static bool isFinite(float value) { return std::isfinite(value); }
};

#endif
