#include "VexelGraphics/VGMatrix4.h"

#include <cmath>
#include <utility>

const Matrix4 Matrix4::ZERO(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
const Matrix4 Matrix4::IDENTITY(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
const Matrix4 Matrix4::CLIPSPACE2DTOIMAGESPACE(0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0,
                                               0, 0, 1);

Matrix4 Matrix4::operator*(const Matrix4& other) const {
  Matrix4 product = ZERO;
  for (int row = 0; row < 4; row++) {
    for (int column = 0; column < 4; column++) {
      float sum = 0.0f;
      for (int i = 0; i < 4; i++) sum += m[row][i] * other.m[i][column];
      product.m[row][column] = sum;
    }
  }
  return product;
}

Vector3 Matrix4::operator*(const Vector3& v) const {
  const float w = m[3][0] * v.x + m[3][1] * v.y + m[3][2] * v.z + m[3][3];
  const float inverseW = w != 0.0f ? 1.0f / w : 1.0f;
  return {(m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z + m[0][3]) * inverseW,
          (m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z + m[1][3]) * inverseW,
          (m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z + m[2][3]) * inverseW};
}

bool Matrix4::operator==(const Matrix4& other) const {
  for (int row = 0; row < 4; row++)
    for (int column = 0; column < 4; column++)
      if (m[row][column] != other.m[row][column]) return false;
  return true;
}

Matrix4 Matrix4::transpose() const {
  Matrix4 result = ZERO;
  for (int row = 0; row < 4; row++)
    for (int column = 0; column < 4; column++) result.m[column][row] = m[row][column];
  return result;
}

bool Matrix4::inverse(Matrix4* result) const {
  float a[4][4];
  Matrix4 inv = IDENTITY;
  for (int row = 0; row < 4; row++)
    for (int column = 0; column < 4; column++) {
      a[row][column] = m[row][column];
      if (!std::isfinite(a[row][column])) return false;
    }
  for (int column = 0; column < 4; column++) {
    // The row with the largest magnitude in this column becomes the pivot.
    int pivot = column;
    for (int row = column + 1; row < 4; row++) {
      if (std::fabs(a[row][column]) > std::fabs(a[pivot][column])) pivot = row;
    }
    if (a[pivot][column] == 0.0f) return false;
    if (pivot != column) {
      for (int i = 0; i < 4; i++) {
        std::swap(a[pivot][i], a[column][i]);
        std::swap(inv.m[pivot][i], inv.m[column][i]);
      }
    }
    const float scale = 1.0f / a[column][column];
    for (int i = 0; i < 4; i++) {
      a[column][i] *= scale;
      inv.m[column][i] *= scale;
    }
    for (int row = 0; row < 4; row++) {
      if (row == column) continue;
      const float factor = a[row][column];
      if (factor == 0.0f) continue;
      for (int i = 0; i < 4; i++) {
        a[row][i] -= factor * a[column][i];
        inv.m[row][i] -= factor * inv.m[column][i];
      }
    }
  }
  for (int row = 0; row < 4; row++)
    for (int column = 0; column < 4; column++)
      if (!std::isfinite(inv.m[row][column])) return false;
  *result = inv;
  return true;
}

void Matrix4::makeTransform(const Vector3& position, const Vector3& scale,
                            const Quaternion& orientation) {
  Matrix3 rotation;
  orientation.ToRotationMatrix(rotation);
  for (int row = 0; row < 3; row++) {
    m[row][0] = rotation[row][0] * scale.x;
    m[row][1] = rotation[row][1] * scale.y;
    m[row][2] = rotation[row][2] * scale.z;
  }
  m[0][3] = position.x;
  m[1][3] = position.y;
  m[2][3] = position.z;
  m[3][0] = m[3][1] = m[3][2] = 0.0f;
  m[3][3] = 1.0f;
}

void Matrix4::toGL(float out[16]) const {
  for (int column = 0; column < 4; column++)
    for (int row = 0; row < 4; row++) out[column * 4 + row] = m[row][column];
}

Matrix4 Matrix4::fromGL(const float in[16]) {
  Matrix4 result = ZERO;
  for (int column = 0; column < 4; column++)
    for (int row = 0; row < 4; row++) result.m[row][column] = in[column * 4 + row];
  return result;
}
