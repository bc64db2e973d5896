// The Std library beyond what a script can show: the random functions at
// the ends of the generator's range, and Std.system with the driver's
// permission (a script run by the test suite never has it).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "chip/lib/ulib_std.h"
#include "chip_program_support.h"

namespace {

const long kLastDraw = 2147483647L;  // the host generator's largest value

// rand2 at the generator's ends and middle, for ranges up to the widest, in
// either order: the first draw gives the first bound, the last draw a value
// near the far bound (the generator's 2^31 values spread over the range),
// never beyond it. The exact offset from the first bound is worked out in
// 128-bit integers, floor(width * r / 2^31); the engine computes it in
// double precision, which may round the product up across an integer once
// the width needs more than 22 bits, so one more is accepted.
TEST(StdRandomTest, Rand2EndsOfTheGenerator) {
  const struct {
    int32_t min, max;
  } cases[] = {
      {0, 1},           {3, 1},
      {-5, 5},          {100, 100},
      {-2000000000, 2000000000},          {2000000000, -2000000000},
      {INT32_MIN, INT32_MAX},             {INT32_MAX, INT32_MIN},
      {INT32_MIN, 0},   {-1, INT32_MAX},
      {INT32_MAX - 1, INT32_MAX},         {INT32_MIN, INT32_MIN + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.min) + ".." + std::to_string(c.max));
    __int128 lo = c.min < c.max ? c.min : c.max;
    __int128 hi = c.min < c.max ? c.max : c.min;
    __int128 width = hi - lo + 1;
    for (long r : {0L, 1L, 1073741824L, kLastDraw - 1, kLastDraw}) {
      __int128 offset = width * r / ((__int128)1 << 31);
      __int128 want = c.min <= c.max ? c.min + offset : c.min - offset;
      if (c.min == c.max) want = c.min;
      int32_t got = std_rand2_from(c.min, c.max, r);
      __int128 step = c.min <= c.max ? 1 : -1;
      EXPECT_TRUE(got == want || (width > (1 << 22) && got == want + step))
          << "r=" << r << " got " << got << " want " << (long long)want;
      EXPECT_GE(got, lo);
      EXPECT_LE(got, hi);
    }
  }
}

TEST(StdRandomTest, RandfAndRand2fReachBothEnds) {
  EXPECT_EQ(std_randf_from(0), -1.0);
  EXPECT_EQ(std_randf_from(kLastDraw), 1.0);
  EXPECT_DOUBLE_EQ(std_randf_from(kLastDraw / 2), 2.0 * (kLastDraw / 2) / 2147483647.0 - 1.0);
  const struct {
    double min, max;
  } cases[] = {{2.0, 4.0}, {4.0, 2.0}, {-1.0, 1.0}, {0.0, 0.0}, {-1000.5, 0.25}};
  for (const auto& c : cases) {
    EXPECT_EQ(std_rand2f_from(c.min, c.max, 0), c.min);
    EXPECT_DOUBLE_EQ(std_rand2f_from(c.min, c.max, kLastDraw), c.max);
    double mid = std_rand2f_from(c.min, c.max, 1073741824L);
    EXPECT_NEAR(mid, (c.min + c.max) / 2.0, 1e-6 * (1.0 + std::fabs(c.max - c.min)));
  }
}

// ---------------------------------------------------------------------------
// Std.system through the chip program.

// Standard output and error of `chip --silent <flags> <script>`.
// Each test names its own script: the tests may run at the same time.
std::string run_chip(const std::string& name, const std::string& flags, const std::string& source) {
  std::string script = ::testing::TempDir() + name + ".chip";
  std::ofstream(script) << source;
  return run_command("'" + chip_program() + "' --silent " + flags + " '" + script + "' 2>&1").out;
}

// The int a script printed after "status=" ("status=<n> :(int)"), or -1.
int printed_status(const std::string& out) {
  size_t at = out.find("\"status=");
  if (at == std::string::npos) return -1;
  return std::atoi(out.c_str() + at + 8);
}

TEST(StdSystemTest, RunsTheCommandWithPermission) {
  std::string marker = ::testing::TempDir() + "ulib_std_allowed_marker";
  std::remove(marker.c_str());
  std::string source = "<<< \"status=\" + Std.system(\"touch '" + marker +
                       "'; exit 3\") >>>;\n";
  std::string out = run_chip("ulib_std_allowed", "--caution-to-the-wind", source);
  EXPECT_EQ(out.find("not authorized"), std::string::npos) << out;
  // The host's status comes back unchanged: a wait status whose exit code
  // is the command's.
  int status = printed_status(out);
  ASSERT_NE(status, -1) << out;
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 3) << status;
  EXPECT_EQ(access(marker.c_str(), F_OK), 0) << "the command did not run";
  std::remove(marker.c_str());
}

TEST(StdSystemTest, RefusesWithoutPermission) {
  std::string marker = ::testing::TempDir() + "ulib_std_refused_marker";
  std::remove(marker.c_str());
  std::string out = run_chip("ulib_std_refused", "", "<<< \"status=\" + Std.system(\"touch '" + marker + "'\") >>>;\n");
  EXPECT_NE(out.find("[chip]:error: VM not authorized to call Std.system( string )...\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(printed_status(out), 0) << out;
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the command ran";
}

}  // namespace
