#include "VexelGraphics/VGVector3.h"

const Vector3 Vector3::ZERO(0.0f, 0.0f, 0.0f);
const Vector3 Vector3::UNIT_X(1.0f, 0.0f, 0.0f);
const Vector3 Vector3::UNIT_Y(0.0f, 1.0f, 0.0f);
const Vector3 Vector3::UNIT_Z(0.0f, 0.0f, 1.0f);
const Vector3 Vector3::NEGATIVE_UNIT_X(-1.0f, 0.0f, 0.0f);
const Vector3 Vector3::NEGATIVE_UNIT_Y(0.0f, -1.0f, 0.0f);
const Vector3 Vector3::NEGATIVE_UNIT_Z(0.0f, 0.0f, -1.0f);
const Vector3 Vector3::UNIT_SCALE(1.0f, 1.0f, 1.0f);

float Vector3::normalise() {
  const float len = length();
  if (len > kNormaliseEpsilon && std::isfinite(len)) {
    const float inverse = 1.0f / len;
    x *= inverse;
    y *= inverse;
    z *= inverse;
  }
  return len;
}

Vector3 Vector3::perpendicular() const {
  // Crossing with the axis along which the vector is shortest keeps the
  // product well away from zero.
  const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  Vector3 axis = UNIT_X;
  if (ay < ax && ay <= az) {
    axis = UNIT_Y;
  } else if (az < ax && az < ay) {
    axis = UNIT_Z;
  }
  Vector3 result = crossProduct(axis);
  if (result.normalise() <= kNormaliseEpsilon) return UNIT_X;
  return result;
}
