// A 3x3 matrix of floats, row-major (m[row][column]).
#ifndef VEXELGRAPHICS_VGMATRIX3_H
#define VEXELGRAPHICS_VGMATRIX3_H

#include "VexelGraphics/VGVector3.h"

class Matrix3 {
 public:
  float m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  constexpr Matrix3() = default;
  constexpr Matrix3(float m00, float m01, float m02, float m10, float m11, float m12, float m20,
                    float m21, float m22)
      : m{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22}} {}

  float* operator[](int row) { return m[row]; }
  const float* operator[](int row) const { return m[row]; }

  Matrix3 operator*(const Matrix3& other) const;
  Vector3 operator*(const Vector3& v) const;
  Matrix3 transpose() const;
  // Sets a column from a vector.
  void setColumn(int column, const Vector3& v) {
    m[0][column] = v.x;
    m[1][column] = v.y;
    m[2][column] = v.z;
  }

  static const Matrix3 ZERO;
  static const Matrix3 IDENTITY;
};

#endif
