// The sample-rate converter on its own: factor 1 is the input, factor 0.5
// interpolates, clear restarts, the position stays exact past 2^24
// samples, hostile factors stay inside the recording, and a failed
// allocation drops input with one message.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "chip/lib/ugen_srate.h"
#include "log_capture.h"

namespace {

TEST(SRateTest, FactorOneIsTheInputAndHalfInterpolates) {
  SRate_Obj s;
  for (int i = 0; i < 1000; i++) {
    const float x = std::sin(0.1f * i);
    EXPECT_EQ(s.tick(x), x);
  }
  SRate_Obj half;
  half.setFactor(0.5);
  for (int i = 0; i < 100; i++) EXPECT_FLOAT_EQ(half.tick(float(i)), 0.5f * i);
  half.clear();
  EXPECT_EQ(half.length(), 0u);
  EXPECT_EQ(half.tick(7.0f), 7.0f);
  SRate_Obj quarter;
  quarter.setFactor(0.25);
  for (int i = 0; i < 10; i++) quarter.tick(1.0f);
  EXPECT_EQ(quarter.position(), 2.5);
}

TEST(SRateTest, PositionStaysExactPastTwoToThe24) {
  SRate_Obj s;
  const uint64_t n = (uint64_t(1) << 24) + 1000;
  bool all_equal = true;
  for (uint64_t i = 0; i < n; i++) {
    const float x = float(i % 977) - 488.0f;
    all_equal = all_equal && s.tick(x) == x;
  }
  EXPECT_TRUE(all_equal);
  EXPECT_EQ(s.position(), double(n));
  EXPECT_EQ(s.length(), n);
}

TEST(SRateTest, HostileFactorsStayInsideTheRecording) {
  const double factors[] = {2.0, -1.0, 1e30, -1e30, 1e308};
  for (double f : factors) {
    SCOPED_TRACE(f);
    SRate_Obj s;
    s.setFactor(f);
    float newest = 0.0f;
    for (int i = 0; i < 5000; i++) {
      const float x = float(i);
      const float y = s.tick(x);
      ASSERT_TRUE(std::isfinite(y));
      if (f > 1.0) {
        EXPECT_EQ(y, x);  // held at the newest
      } else {
        EXPECT_EQ(y, 0.0f);  // held at the first
      }
      newest = x;
      EXPECT_GE(s.position(), 0.0);
      EXPECT_LE(s.position(), double(s.length()) + std::fabs(f));
    }
    (void)newest;
  }
  SRate_Obj s;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(s.setFactor(nan), 1.0);
  EXPECT_EQ(s.setFactor(std::numeric_limits<double>::infinity()), 1.0);
  for (int i = 0; i < 10; i++) EXPECT_EQ(s.tick(float(i)), float(i));
}

TEST(SRateTest, FailedAllocationDropsInputWithOneMessage) {
  SRate_Obj s;
  for (uint64_t i = 0; i < SRate_Obj::kChunkSamples; i++) s.tick(1.0f);
  s.failAllocation = true;
  std::vector<std::string> lines = printed_lines([&] {
    for (int i = 0; i < 1000; i++) ASSERT_TRUE(std::isfinite(s.tick(2.0f)));
  });
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(s.length(), SRate_Obj::kChunkSamples);
  s.failAllocation = false;
  s.tick(3.0f);
  EXPECT_EQ(s.length(), SRate_Obj::kChunkSamples + 1);
}

}  // namespace
