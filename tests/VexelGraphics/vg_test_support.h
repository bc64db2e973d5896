// Helpers of the graphics-library tests: approximate comparisons of the
// math types and the application-log lines printed by a piece of code.
#ifndef TESTS_VEXELGRAPHICS_VG_TEST_SUPPORT_H
#define TESTS_VEXELGRAPHICS_VG_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "VexelGraphics/VGLog.h"
#include "VexelGraphics/VGMatrix4.h"
#include "VexelGraphics/VGQuaternion.h"
#include "VexelGraphics/VGVector3.h"
#include "vxu/VXLog.h"

namespace vgtest {

inline ::testing::AssertionResult near(const Vector3& a, const Vector3& b,
                                       float tolerance = 1e-5f) {
  if (std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance &&
      std::fabs(a.z - b.z) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                       << b.x << ", " << b.y << ", " << b.z << ")";
}

// The same rotation: q or -q.
inline ::testing::AssertionResult sameRotation(const Quaternion& a, const Quaternion& b,
                                               float tolerance = 1e-5f) {
  for (float sign : {1.0f, -1.0f}) {
    if (std::fabs(a.w - sign * b.w) <= tolerance && std::fabs(a.x - sign * b.x) <= tolerance &&
        std::fabs(a.y - sign * b.y) <= tolerance && std::fabs(a.z - sign * b.z) <= tolerance) {
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure()
         << "(" << a.w << ", " << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.w << ", "
         << b.x << ", " << b.y << ", " << b.z << ")";
}

inline ::testing::AssertionResult near(const Matrix4& a, const Matrix4& b,
                                       float tolerance = 1e-5f) {
  for (int r = 0; r < 4; r++) {
    for (int c = 0; c < 4; c++) {
      if (!(std::fabs(a[r][c] - b[r][c]) <= tolerance)) {
        return ::testing::AssertionFailure()
               << "element " << r << "," << c << ": " << a[r][c] << " vs " << b[r][c];
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The lines that reached the application log while fn ran, without their
// date stamps.
template <typename Fn>
std::vector<std::string> loggedBy(Fn fn) {
  // The library logs through the sink a host installs: here, as in the
  // instrument, the application log.
  VG_set_log_sink(VX_vlogMessage);
  VXLog& log = VXLog::sharedVXLog();
  log.flushLog();
  const std::size_t before = log.logEntries().size();
  fn();
  log.flushLog();
  const std::vector<std::string> entries = log.logEntries();
  std::vector<std::string> lines;
  for (std::size_t i = before; i < entries.size(); i++) {
    const std::size_t cut = entries[i].find("] ");
    lines.push_back(cut == std::string::npos ? entries[i] : entries[i].substr(cut + 2));
  }
  return lines;
}

}  // namespace vgtest

#endif
