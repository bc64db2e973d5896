#include "VexelGraphics/VGMatrix3.h"

const Matrix3 Matrix3::ZERO(0, 0, 0, 0, 0, 0, 0, 0, 0);
const Matrix3 Matrix3::IDENTITY(1, 0, 0, 0, 1, 0, 0, 0, 1);

Matrix3 Matrix3::operator*(const Matrix3& other) const {
  Matrix3 product = ZERO;
  for (int row = 0; row < 3; row++) {
    for (int column = 0; column < 3; column++) {
      product.m[row][column] = m[row][0] * other.m[0][column] + m[row][1] * other.m[1][column] +
                               m[row][2] * other.m[2][column];
    }
  }
  return product;
}

Vector3 Matrix3::operator*(const Vector3& v) const {
  return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
          m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
          m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

Matrix3 Matrix3::transpose() const {
  return {m[0][0], m[1][0], m[2][0], m[0][1], m[1][1], m[2][1], m[0][2], m[1][2], m[2][2]};
}
