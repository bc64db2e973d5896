// A 4x4 matrix of floats, row-major (m[row][column]); GL wants columns one
// after the other, which toGL() writes (the transposed copy).
//
// makeTransform() builds scale, then rotation, then translation in one
// matrix. inverse() is Gauss-Jordan elimination with partial pivoting and
// answers false for a singular (or not finite) matrix.
#ifndef VEXELGRAPHICS_VGMATRIX4_H
#define VEXELGRAPHICS_VGMATRIX4_H

#include "VexelGraphics/VGMatrix3.h"
#include "VexelGraphics/VGQuaternion.h"
#include "VexelGraphics/VGVector3.h"

class Matrix4 {
 public:
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

  constexpr Matrix4() = default;
  constexpr Matrix4(float m00, float m01, float m02, float m03, float m10, float m11, float m12,
                    float m13, float m20, float m21, float m22, float m23, float m30, float m31,
                    float m32, float m33)
      : m{{m00, m01, m02, m03}, {m10, m11, m12, m13}, {m20, m21, m22, m23}, {m30, m31, m32, m33}} {}

  float* operator[](int row) { return m[row]; }
  const float* operator[](int row) const { return m[row]; }

  Matrix4 operator*(const Matrix4& other) const;
  // The point v (w = 1) transformed, divided by the resulting w.
  Vector3 operator*(const Vector3& v) const;
  bool operator==(const Matrix4& other) const;

  Matrix4 transpose() const;
  // false, and *result untouched, when the matrix cannot be inverted.
  bool inverse(Matrix4* result) const;

  void makeTransform(const Vector3& position, const Vector3& scale, const Quaternion& orientation);

  // The 16 floats in GL's column order, and back.
  void toGL(float out[16]) const;
  static Matrix4 fromGL(const float in[16]);

  static const Matrix4 ZERO;
  static const Matrix4 IDENTITY;
  static const Matrix4 CLIPSPACE2DTOIMAGESPACE;
};

#endif
