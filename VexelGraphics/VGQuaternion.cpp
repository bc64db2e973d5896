#include "VexelGraphics/VGQuaternion.h"

const Quaternion Quaternion::ZERO(0.0f, 0.0f, 0.0f, 0.0f);
const Quaternion Quaternion::IDENTITY(1.0f, 0.0f, 0.0f, 0.0f);

void Quaternion::FromAngleAxis(float angle, const Vector3& axis) {
  if (!std::isfinite(angle) || !axis.isFinite()) {
    *this = IDENTITY;
    return;
  }
  const float half = 0.5f * angle;
  const float s = std::sin(half);
  w = std::cos(half);
  x = s * axis.x;
  y = s * axis.y;
  z = s * axis.z;
}

void Quaternion::ToRotationMatrix(Matrix3& rotation) const {
  const float tx = x + x, ty = y + y, tz = z + z;
  const float twx = tx * w, twy = ty * w, twz = tz * w;
  const float txx = tx * x, txy = ty * x, txz = tz * x;
  const float tyy = ty * y, tyz = tz * y, tzz = tz * z;
  rotation[0][0] = 1.0f - (tyy + tzz);
  rotation[0][1] = txy - twz;
  rotation[0][2] = txz + twy;
  rotation[1][0] = txy + twz;
  rotation[1][1] = 1.0f - (txx + tzz);
  rotation[1][2] = tyz - twx;
  rotation[2][0] = txz - twy;
  rotation[2][1] = tyz + twx;
  rotation[2][2] = 1.0f - (txx + tyy);
}

void Quaternion::FromRotationMatrix(const Matrix3& rot) {
  const float trace = rot[0][0] + rot[1][1] + rot[2][2];
  if (trace > 0.0f) {
    float root = std::sqrt(trace + 1.0f);
    w = 0.5f * root;
    root = 0.5f / root;
    x = (rot[2][1] - rot[1][2]) * root;
    y = (rot[0][2] - rot[2][0]) * root;
    z = (rot[1][0] - rot[0][1]) * root;
  } else {
    static const int s_iNext[3] = {1, 2, 0};
    int i = 0;
    if (rot[1][1] > rot[0][0]) i = 1;
    if (rot[2][2] > rot[i][i]) i = 2;
    const int j = s_iNext[i];
    const int k = s_iNext[j];
    float root = std::sqrt(rot[i][i] - rot[j][j] - rot[k][k] + 1.0f);
    float* component[3] = {&x, &y, &z};
    *component[i] = 0.5f * root;
    root = 0.5f / root;
    w = (rot[k][j] - rot[j][k]) * root;
    *component[j] = (rot[j][i] + rot[i][j]) * root;
    *component[k] = (rot[k][i] + rot[i][k]) * root;
  }
  // A matrix that is no rotation at all (degenerate axes) has no
  // quaternion; NaN must not travel on into the scene.
  if (!isFinite()) *this = IDENTITY;
}

void Quaternion::FromAxes(const Vector3& xAxis, const Vector3& yAxis, const Vector3& zAxis) {
  Matrix3 rotation;
  rotation.setColumn(0, xAxis);
  rotation.setColumn(1, yAxis);
  rotation.setColumn(2, zAxis);
  FromRotationMatrix(rotation);
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
  return {w * q.w - x * q.x - y * q.y - z * q.z, w * q.x + x * q.w + y * q.z - z * q.y,
          w * q.y + y * q.w + z * q.x - x * q.z, w * q.z + z * q.w + x * q.y - y * q.x};
}

Vector3 Quaternion::operator*(const Vector3& v) const {
  const Vector3 qvec(x, y, z);
  Vector3 uv = qvec.crossProduct(v);
  Vector3 uuv = qvec.crossProduct(uv);
  uv *= 2.0f * w;
  uuv *= 2.0f;
  return v + uv + uuv;
}

float Quaternion::normalise() {
  const float norm = Norm();
  if (norm > 1e-16f && std::isfinite(norm)) {
    const float factor = 1.0f / std::sqrt(norm);
    w *= factor;
    x *= factor;
    y *= factor;
    z *= factor;
  }
  return norm;
}
