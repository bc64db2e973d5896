#include "VexelGraphics/VGMath.h"

#include <cmath>
#include <cstdlib>

void VGMath::seedRandom(unsigned seed) { srandom(seed); }

long VGMath::randomInteger() { return random(); }

float VGMath::unitRandom() {
  const float value = static_cast<float>(static_cast<double>(random()) / 2147483648.0);
  return value < 1.0f ? value : std::nextafter(1.0f, 0.0f);
}
