#include "chip/util/util_math.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

TEST(UtilMathTest, Conversions) {
  typedef double (*Fn)(double);
  const struct {
    const char* name;
    Fn fn;
    double in;
    double want;
  } cases[] = {
      {"mtof", mtof, 69, 440},
      {"mtof", mtof, 81, 880},
      {"mtof", mtof, 57, 220},
      {"mtof", mtof, 60, 261.6255653005986},
      {"mtof", mtof, -1500, 0},
      {"mtof", mtof, -1499.5, 440 * std::pow(2.0, (-1499.5 - 69) / 12)},
      {"mtof", mtof, 1499, 3.282417553401589e+38},
      {"mtof", mtof, 1e6, 3.282417553401589e+38},  // capped at 1499
      {"ftom", ftom, 440, 69},
      {"ftom", ftom, 880, 81},
      {"ftom", ftom, 261.6255653005986, 60},
      {"ftom", ftom, 0, -1500},
      {"ftom", ftom, -5, -1500},
      {"powtodb", powtodb, 1, 100},
      {"powtodb", powtodb, 10, 110},
      {"powtodb", powtodb, 1e-10, 0},  // 0 exactly at the edge
      {"powtodb", powtodb, 1e-11, 0},  // -10 clamped
      {"powtodb", powtodb, 0, 0},
      {"powtodb", powtodb, -1, 0},
      {"rmstodb", rmstodb, 1, 100},
      {"rmstodb", rmstodb, 10, 120},
      {"rmstodb", rmstodb, 0.000001, 0},  // -20 clamped
      {"rmstodb", rmstodb, 0, 0},
      {"dbtopow", dbtopow, 100, 1},
      {"dbtopow", dbtopow, 110, 10},
      {"dbtopow", dbtopow, 0, 0},
      {"dbtopow", dbtopow, -3, 0},
      {"dbtopow", dbtopow, 870, 9.999999999964791e+76},
      {"dbtopow", dbtopow, 1e4, 9.999999999964791e+76},  // capped at 870
      {"dbtorms", dbtorms, 100, 1},
      {"dbtorms", dbtorms, 120, 10},
      {"dbtorms", dbtorms, 0, 0},
      {"dbtorms", dbtorms, 485, 1.7782794100373576e+19},
      {"dbtorms", dbtorms, 1e4, 1.7782794100373576e+19},  // capped at 485
  };
  for (const auto& c : cases) {
    double got = c.fn(c.in);
    double tolerance = std::fabs(c.want) * 1e-12;  // 0 wanted exactly
    EXPECT_NEAR(c.want, got, tolerance) << c.name << "(" << c.in << ")";
  }
}

// The decibel factors are the fixed constants derived from ln 10 to twelve
// decimals; the exact logarithm gives a visibly different result far from
// 100 dB.
TEST(UtilMathTest, DecibelFactorsAreTheFixedConstants) {
  EXPECT_EQ(std::exp((50.0 - 100.0) * 0.23025850929940003), dbtopow(50));
  EXPECT_EQ(std::exp((50.0 - 100.0) * 0.11512925464970002), dbtorms(50));
  EXPECT_EQ(100.0 + 4.3429448190326045 * std::log(0.5), powtodb(0.5));
  EXPECT_EQ(100.0 + 8.685889638065209 * std::log(0.5), rmstodb(0.5));
  EXPECT_NE(std::exp((800.0 - 100.0) * std::log(10.0) / 10), dbtopow(800));
}

TEST(UtilMathTest, RoundTrips) {
  for (double note : {-100.0, 0.0, 33.3, 69.0, 127.0, 400.0}) {
    EXPECT_NEAR(note, ftom(mtof(note)), 1e-9) << note;
  }
  for (double db : {1.0, 40.0, 99.5, 100.0, 180.0}) {
    EXPECT_NEAR(db, powtodb(dbtopow(db)), 1e-9) << db;
    EXPECT_NEAR(db, rmstodb(dbtorms(db)), 1e-9) << db;
  }
}

TEST(UtilMathTest, Ensurepow2) {
  const struct {
    long in;
    long want;
  } cases[] = {
      {LONG_MIN, 0}, {-5, 0}, {0, 0}, {1, 0}, {2, 2}, {3, 4}, {4, 4}, {5, 8},
      {1023, 1024}, {1024, 1024}, {1025, 2048}, {1L << 62, 1L << 62},
      {(1L << 62) + 1, 0},  // 2^63 does not fit in a long
      {LONG_MAX, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, ensurepow2(c.in)) << c.in;
}

}  // namespace
