// A rotation quaternion (w, x, y, z) of floats.
//
// FromAngleAxis() expects a unit axis; an angle or axis that is not finite
// gives IDENTITY instead of a quaternion full of NaN. FromRotationMatrix()
// is the usual trace / largest-diagonal extraction; FromAxes() makes the
// three axes the columns of a rotation matrix first. q * v rotates v.
#ifndef VEXELGRAPHICS_VGQUATERNION_H
#define VEXELGRAPHICS_VGQUATERNION_H

#include <cmath>

#include "VexelGraphics/VGMatrix3.h"
#include "VexelGraphics/VGVector3.h"

class Quaternion {
 public:
  float w = 1.0f;
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Quaternion() = default;
  constexpr Quaternion(float w_, float x_, float y_, float z_) : w(w_), x(x_), y(y_), z(z_) {}

  void FromAngleAxis(float angle, const Vector3& axis);
  void ToRotationMatrix(Matrix3& rotation) const;
  void FromRotationMatrix(const Matrix3& rotation);
  void FromAxes(const Vector3& xAxis, const Vector3& yAxis, const Vector3& zAxis);

  Quaternion operator*(const Quaternion& q) const;
  Vector3 operator*(const Vector3& v) const;
  bool operator==(const Quaternion& q) const {
    return w == q.w && x == q.x && y == q.y && z == q.z;
  }

  float Norm() const { return w * w + x * x + y * y + z * z; }
  // Scales to unit length and answers the former squared length; a
  // quaternion too short to scale (or not finite) is left as it is.
  float normalise();
  bool isFinite() const {
    return std::isfinite(w) && std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
  }

  static const Quaternion ZERO;
  static const Quaternion IDENTITY;
};

#endif
