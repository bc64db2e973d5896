// BowTabl's evaluation (ReedTabl and JetTabl are inline).
#include "chip/syn/syn_tables.h"

#include <cmath>

float BowTabl::tick(float x) {
  float s = (x + offset) * slope;
  float b = std::fabs(s) + 0.75f;
  float y = static_cast<float>(std::pow(static_cast<double>(b), -4.0));
  if (y > 1.0f) y = 1.0f;
  lastOutput = y;
  return y;
}
