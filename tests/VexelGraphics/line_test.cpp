// Line and sphere: the globe picks places with it.
#include <gtest/gtest.h>

#include <limits>

#include "VexelGraphics/VGLine.h"
#include "VexelGraphics/vg_test_support.h"

using vgtest::near;

TEST(VGLineSphere, ThroughTheCentreGivesTwoPointsNearestFirst) {
  const VGLine line(Vector3(0, 0, 350), Vector3(0, 0, -1));
  Vector3 points[2];
  ASSERT_EQ(line.findIntersectionSphere(Vector3::ZERO, 100, points), 2);
  EXPECT_TRUE(near(points[0], Vector3(0, 0, 100)));
  EXPECT_TRUE(near(points[1], Vector3(0, 0, -100)));
  EXPECT_FLOAT_EQ((points[0] - points[1]).length(), 200.0f);
}

TEST(VGLineSphere, PassingAtTheRadiusGivesOnePoint) {
  const VGLine line(Vector3(100, 0, 350), Vector3(0, 0, -1));
  Vector3 points[2];
  ASSERT_EQ(line.findIntersectionSphere(Vector3::ZERO, 100, points), 1);
  EXPECT_TRUE(near(points[0], Vector3(100, 0, 0)));
}

TEST(VGLineSphere, MissesAndNonFiniteInputsGiveNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    VGLine line;
    Vector3 centre;
    float radius;
  } cases[] = {
      {VGLine(Vector3(101, 0, 350), Vector3(0, 0, -1)), Vector3::ZERO, 100},
      {VGLine(Vector3(0, 300, 350), Vector3(0, 0, -1)), Vector3::ZERO, 100},
      {VGLine(Vector3(nan, 0, 350), Vector3(0, 0, -1)), Vector3::ZERO, 100},
      {VGLine(Vector3(0, 0, 350), Vector3(0, nan, -1)), Vector3::ZERO, 100},
      {VGLine(Vector3(0, 0, 350), Vector3(0, 0, -1)), Vector3(inf, 0, 0), 100},
      {VGLine(Vector3(0, 0, 350), Vector3(0, 0, -1)), Vector3::ZERO, nan},
      {VGLine(Vector3(0, 0, 3e30f), Vector3(0, 0, -1)), Vector3::ZERO, 100},
  };
  for (const auto& c : cases) {
    Vector3 points[2] = {Vector3(7, 7, 7), Vector3(8, 8, 8)};
    EXPECT_EQ(c.line.findIntersectionSphere(c.centre, c.radius, points), 0);
    EXPECT_EQ(points[0], Vector3(7, 7, 7));
  }
}
