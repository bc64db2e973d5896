// A 3-vector of floats: arithmetic, dot and cross products, length and
// normalising, and the named constants.
//
// normalise() leaves a vector shorter than kNormaliseEpsilon (1e-8) as it
// is: dividing by such a length would spread NaN and infinities into every
// matrix built from it. Callers that need a direction whatever happens test
// the answered length (0 or tiny) and pick one themselves.
#ifndef VEXELGRAPHICS_VGVECTOR3_H
#define VEXELGRAPHICS_VGVECTOR3_H

#include <cmath>

class Vector3 {
 public:
  static constexpr float kNormaliseEpsilon = 1e-8f;

  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vector3() = default;
  constexpr Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  Vector3 operator+(const Vector3& v) const { return {x + v.x, y + v.y, z + v.z}; }
  Vector3 operator-(const Vector3& v) const { return {x - v.x, y - v.y, z - v.z}; }
  Vector3 operator-() const { return {-x, -y, -z}; }
  Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
  Vector3 operator/(float s) const { return {x / s, y / s, z / s}; }
  Vector3& operator+=(const Vector3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
  }
  Vector3& operator-=(const Vector3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
  }
  Vector3& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  bool operator==(const Vector3& v) const { return x == v.x && y == v.y && z == v.z; }
  bool operator!=(const Vector3& v) const { return !(*this == v); }

  float dotProduct(const Vector3& v) const { return x * v.x + y * v.y + z * v.z; }
  Vector3 crossProduct(const Vector3& v) const {
    return {y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x};
  }
  float squaredLength() const { return x * x + y * y + z * z; }
  float length() const { return std::sqrt(squaredLength()); }

  // Scales to unit length and answers the former length; a vector shorter
  // than kNormaliseEpsilon (or not finite) is left as it is.
  float normalise();
  Vector3 normalisedCopy() const {
    Vector3 copy = *this;
    copy.normalise();
    return copy;
  }
  // A unit vector at right angles to this one (any of them) for a vector
  // with a direction; UNIT_X for one too short to have one.
  Vector3 perpendicular() const;

  bool isFinite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }

  static const Vector3 ZERO;
  static const Vector3 UNIT_X;
  static const Vector3 UNIT_Y;
  static const Vector3 UNIT_Z;
  static const Vector3 NEGATIVE_UNIT_X;
  static const Vector3 NEGATIVE_UNIT_Y;
  static const Vector3 NEGATIVE_UNIT_Z;
  static const Vector3 UNIT_SCALE;
};

inline Vector3 operator*(float s, const Vector3& v) { return v * s; }

#endif
