// Noise and SubNoise.
#include "chip/syn/syn_noise.h"

#include <cstdlib>
#include <ctime>

Noise::Noise() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

float Noise::draw() {
  // The product in double, rounded to float, then offset: [-1, 1).
  lastOutput = static_cast<float>(2.0 * std::rand() * 4.656612873077393e-10) - 1.0f;
  return lastOutput;
}

float Noise::tick() { return draw(); }

float* Noise::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}

SubNoise::SubNoise(int length) : counter(length), holdLength(length) {}

float SubNoise::tick() {
  // counter + 1 > holdLength, without counting past the largest int.
  if (counter >= holdLength) {
    draw();
    counter = 1;
  } else {
    counter += 1;
  }
  return lastOutput;
}

void SubNoise::setRate(int length) {
  if (length > 0) holdLength = length;
}
