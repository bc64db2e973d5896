// Vectors, matrices, quaternions and the unprojection, against the cases
// the scene code relies on and against arithmetic done independently in
// double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "VexelGraphics/VGGLU.h"
#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGMatrix3.h"
#include "VexelGraphics/VGMatrix4.h"
#include "VexelGraphics/VGQuaternion.h"
#include "VexelGraphics/VGVector2.h"
#include "VexelGraphics/VGVector3.h"
#include "VexelGraphics/vg_test_support.h"

using vgtest::near;
using vgtest::sameRotation;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Quaternion randomRotation() {
  Quaternion q(VGMath::symmetricRandom(), VGMath::symmetricRandom(), VGMath::symmetricRandom(),
               VGMath::symmetricRandom());
  q.normalise();
  return q;
}

// Which branch of the extraction a rotation matrix takes: 3 for a positive
// trace, else the index of the largest diagonal element.
int branchOf(const Matrix3& m) {
  if (m[0][0] + m[1][1] + m[2][2] > 0.0f) return 3;
  int i = 0;
  if (m[1][1] > m[0][0]) i = 1;
  if (m[2][2] > m[i][i]) i = 2;
  return i;
}

}  // namespace

TEST(VGMathConstants, HoldTheirValues) {
  EXPECT_EQ(VGMath::PI, 3.1415927f);
  EXPECT_EQ(VGMath::TWO_PI, 6.2831855f);
  EXPECT_EQ(Vector3::UNIT_SCALE, Vector3(1, 1, 1));
  EXPECT_EQ(Vector3::NEGATIVE_UNIT_Z, Vector3(0, 0, -1));
  EXPECT_EQ(Vector2::UNIT_SCALE, Vector2(1, 1));
  EXPECT_EQ(Vector2::NEGATIVE_UNIT_Y, Vector2(0, -1));
  EXPECT_EQ(Quaternion::ZERO, Quaternion(0, 0, 0, 0));
  EXPECT_EQ(Quaternion::IDENTITY, Quaternion(1, 0, 0, 0));
  EXPECT_EQ(Matrix4::CLIPSPACE2DTOIMAGESPACE,
            Matrix4(0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1));
}

TEST(VGMathRandom, IsSeedableAndStaysInItsRange) {
  VGMath::seedRandom(7);
  const float first = VGMath::unitRandom();
  VGMath::seedRandom(7);
  EXPECT_EQ(VGMath::unitRandom(), first);
  for (int i = 0; i < 10000; i++) {
    const float u = VGMath::unitRandom();
    ASSERT_GE(u, 0.0f);
    ASSERT_LT(u, 1.0f);
    const float s = VGMath::symmetricRandom();
    ASSERT_GE(s, -1.0f);
    ASSERT_LT(s, 1.0f);
  }
}

TEST(Vector3Normalise, ScalesToUnitLengthButLeavesTinyAndNonFiniteVectors) {
  Vector3 v(3, 0, 4);
  EXPECT_FLOAT_EQ(v.normalise(), 5.0f);
  EXPECT_TRUE(near(v, Vector3(0.6f, 0, 0.8f)));
  for (const Vector3& tiny : {Vector3(0, 0, 0), Vector3(1e-9f, 0, 0), Vector3(0, 5e-9f, 5e-9f)}) {
    Vector3 copy = tiny;
    copy.normalise();
    EXPECT_EQ(copy, tiny);
    EXPECT_TRUE(copy.isFinite());
  }
  Vector3 infinite(kInf, 0, 0);
  infinite.normalise();
  EXPECT_EQ(infinite.x, kInf);
}

TEST(Vector3Perpendicular, IsAUnitVectorAtRightAngles) {
  for (const Vector3& v : {Vector3(0, 1, 0), Vector3(1, 0, 0), Vector3(0, 0, -3), Vector3(1, 2, 3),
                           Vector3(-1e-3f, 5, 1e-3f)}) {
    const Vector3 p = v.perpendicular();
    EXPECT_NEAR(p.length(), 1.0f, 1e-5f);
    EXPECT_NEAR(p.dotProduct(v), 0.0f, 1e-5f * v.length());
  }
  EXPECT_EQ(Vector3::ZERO.perpendicular(), Vector3::UNIT_X);
}

TEST(QuaternionFromAxes, UnitAxesGiveIdentityAndTurnedAxesAHalfTurn) {
  Quaternion q;
  q.FromAxes(Vector3::UNIT_X, Vector3::UNIT_Y, Vector3::UNIT_Z);
  EXPECT_TRUE(sameRotation(q, Quaternion::IDENTITY));
  q.FromAxes(Vector3::NEGATIVE_UNIT_X, Vector3::UNIT_Y, Vector3::NEGATIVE_UNIT_Z);
  EXPECT_TRUE(sameRotation(q, Quaternion(0, 0, 1, 0)));
  // Degenerate axes have no rotation: identity rather than NaN.
  q.FromAxes(Vector3::ZERO, Vector3::UNIT_Y, Vector3::ZERO);
  EXPECT_TRUE(q.isFinite());
}

TEST(QuaternionFromRotationMatrix, InvertsToRotationMatrixThroughAllFourBranches) {
  VGMath::seedRandom(1234);
  int seen[4] = {0, 0, 0, 0};
  auto check = [&seen](const Quaternion& q) {
    Matrix3 m;
    q.ToRotationMatrix(m);
    Quaternion back;
    back.FromRotationMatrix(m);
    EXPECT_TRUE(sameRotation(back, q, 2e-5f));
    seen[branchOf(m)]++;
  };
  for (int i = 0; i < 500; i++) check(randomRotation());
  // Near half turns about each axis: trace <= 0 with each diagonal largest.
  const Vector3 axes[3] = {Vector3(1, 0.1f, 0.05f), Vector3(0.1f, 1, -0.05f),
                           Vector3(0.05f, -0.1f, 1)};
  for (const Vector3& axis : axes) {
    Quaternion q;
    q.FromAngleAxis(3.0f, axis.normalisedCopy());
    check(q);
  }
  for (int branch = 0; branch < 4; branch++) EXPECT_GT(seen[branch], 0) << "branch " << branch;
}

TEST(QuaternionTimesVector, RotatesAsTheRotationMatrixDoes) {
  VGMath::seedRandom(99);
  for (int i = 0; i < 200; i++) {
    const Quaternion q = randomRotation();
    const Vector3 v(VGMath::symmetricRandom() * 10, VGMath::symmetricRandom() * 10,
                    VGMath::symmetricRandom() * 10);
    Matrix3 m;
    q.ToRotationMatrix(m);
    EXPECT_TRUE(near(q * v, m * v, 1e-4f));
  }
  // A quarter turn about z takes x to y.
  Quaternion quarter;
  quarter.FromAngleAxis(VGMath::PI / 2, Vector3::UNIT_Z);
  EXPECT_TRUE(near(quarter * Vector3::UNIT_X, Vector3::UNIT_Y));
}

TEST(QuaternionFromAngleAxis, NonFiniteAngleOrAxisGivesIdentity) {
  const struct {
    float angle;
    Vector3 axis;
  } cases[] = {{kNaN, Vector3::UNIT_Y},
               {kInf, Vector3::UNIT_Y},
               {1.0f, Vector3(kNaN, 0, 0)},
               {1.0f, Vector3(0, kInf, 0)}};
  for (const auto& c : cases) {
    Quaternion q(0.5f, 0.5f, 0.5f, 0.5f);
    q.FromAngleAxis(c.angle, c.axis);
    EXPECT_EQ(q, Quaternion::IDENTITY);
  }
  Quaternion half;
  half.FromAngleAxis(VGMath::PI, Vector3::UNIT_X);
  EXPECT_TRUE(sameRotation(half, Quaternion(0, 1, 0, 0)));
}

TEST(Matrix4MakeTransform, ScalesThenRotatesThenTranslates) {
  Matrix4 m;
  m.makeTransform(Vector3(1, 2, 3), Vector3(2, 2, 2), Quaternion::IDENTITY);
  EXPECT_TRUE(near(m * Vector3::ZERO, Vector3(1, 2, 3)));
  EXPECT_TRUE(near(m * Vector3::UNIT_X, Vector3(3, 2, 3)));
  // With a quarter turn about z and scale (2, 1, 1): x is scaled to 2, then
  // turned onto y, then moved.
  Quaternion quarter;
  quarter.FromAngleAxis(VGMath::PI / 2, Vector3::UNIT_Z);
  m.makeTransform(Vector3(1, 2, 3), Vector3(2, 1, 1), quarter);
  EXPECT_TRUE(near(m * Vector3::UNIT_X, Vector3(1, 4, 3)));
  EXPECT_TRUE(near(m * Vector3::UNIT_Y, Vector3(0, 2, 3)));
  EXPECT_EQ(m[3][0], 0.0f);
  EXPECT_EQ(m[3][3], 1.0f);
  // The GL copy is the transpose: translation in elements 12..14.
  float gl[16];
  m.toGL(gl);
  EXPECT_EQ(gl[12], 1.0f);
  EXPECT_EQ(gl[13], 2.0f);
  EXPECT_EQ(gl[14], 3.0f);
  EXPECT_EQ(Matrix4::fromGL(gl), m);
}

TEST(Matrix4Inverse, TimesTheMatrixIsIdentityAndSingularMatricesAreRefused) {
  VGMath::seedRandom(5);
  for (int i = 0; i < 100; i++) {
    Matrix4 m;
    m.makeTransform(Vector3(VGMath::symmetricRandom() * 50, VGMath::symmetricRandom() * 50, 3),
                    Vector3(0.5f + VGMath::unitRandom(), 0.5f + VGMath::unitRandom(), 2),
                    randomRotation());
    Matrix4 inverse;
    ASSERT_TRUE(m.inverse(&inverse));
    EXPECT_TRUE(near(inverse * m, Matrix4::IDENTITY, 1e-4f));
  }
  // A permutation needs pivoting (its first diagonal element is 0).
  const Matrix4 swap(0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  Matrix4 inverse;
  ASSERT_TRUE(swap.inverse(&inverse));
  EXPECT_EQ(inverse, swap);
  Matrix4 untouched = Matrix4::CLIPSPACE2DTOIMAGESPACE;
  EXPECT_FALSE(Matrix4::ZERO.inverse(&untouched));
  Matrix4 withNaN = Matrix4::IDENTITY;
  withNaN[1][2] = kNaN;
  EXPECT_FALSE(withNaN.inverse(&untouched));
  EXPECT_EQ(untouched, Matrix4::CLIPSPACE2DTOIMAGESPACE);
}

TEST(GluUnProject, InvertsAProjectionComputedInDouble) {
  // A frustum as glFrustum builds it, and a model-view of a turn and a
  // translation, both in double and in GL's column order.
  const double l = -0.3, r = 0.3, b = -0.45, t = 0.45, n = 1, f = 800;
  const double proj[4][4] = {{2 * n / (r - l), 0, (r + l) / (r - l), 0},
                             {0, 2 * n / (t - b), (t + b) / (t - b), 0},
                             {0, 0, -(f + n) / (f - n), -2 * f * n / (f - n)},
                             {0, 0, -1, 0}};
  const double c = std::cos(0.4), s = std::sin(0.4);
  const double model[4][4] = {{c, 0, s, 5}, {0, 1, 0, -3}, {-s, 0, c, -350}, {0, 0, 0, 1}};
  float projGL[16], modelGL[16];
  for (int col = 0; col < 4; col++)
    for (int row = 0; row < 4; row++) {
      projGL[col * 4 + row] = static_cast<float>(proj[row][col]);
      modelGL[col * 4 + row] = static_cast<float>(model[row][col]);
    }
  const int viewport[4] = {0, 0, 320, 480};
  const double points[][3] = {{0, 0, 0}, {40, -20, 30}, {-70, 55, -60}, {10, 90, 80}};
  for (const auto& p : points) {
    double eye[4], clip[4];
    for (int row = 0; row < 4; row++)
      eye[row] = model[row][0] * p[0] + model[row][1] * p[1] + model[row][2] * p[2] + model[row][3];
    for (int row = 0; row < 4; row++)
      clip[row] = proj[row][0] * eye[0] + proj[row][1] * eye[1] + proj[row][2] * eye[2] +
                  proj[row][3] * eye[3];
    const double wx = viewport[0] + viewport[2] * (clip[0] / clip[3] + 1) / 2;
    const double wy = viewport[1] + viewport[3] * (clip[1] / clip[3] + 1) / 2;
    const double wz = (clip[2] / clip[3] + 1) / 2;
    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(gluUnProject(static_cast<float>(wx), static_cast<float>(wy), static_cast<float>(wz),
                             modelGL, projGL, viewport, &x, &y, &z));
    // Depth near the far plane loses precision in single floats.
    EXPECT_TRUE(
        near(Vector3(x, y, z),
             Vector3(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])),
             0.5f));
  }
}

TEST(GluUnProject, ZeroViewportOrSingularMatrixGivesFalseAndWritesNothing) {
  float identity[16];
  Matrix4::IDENTITY.toGL(identity);
  float zero[16] = {};
  const int noWidth[4] = {0, 0, 0, 480};
  const int noHeight[4] = {0, 0, 320, 0};
  const int fine[4] = {0, 0, 320, 480};
  float x = 7, y = 8, z = 9;
  EXPECT_FALSE(gluUnProject(10, 10, 0.5f, identity, identity, noWidth, &x, &y, &z));
  EXPECT_FALSE(gluUnProject(10, 10, 0.5f, identity, identity, noHeight, &x, &y, &z));
  EXPECT_FALSE(gluUnProject(10, 10, 0.5f, zero, identity, fine, &x, &y, &z));
  EXPECT_FALSE(gluUnProject(kNaN, 10, 0.5f, identity, identity, fine, &x, &y, &z));
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 8);
  EXPECT_EQ(z, 9);
  EXPECT_TRUE(gluUnProject(160, 240, 0.5f, identity, identity, fine, &x, &y, &z));
  EXPECT_TRUE(near(Vector3(x, y, z), Vector3::ZERO));
}
