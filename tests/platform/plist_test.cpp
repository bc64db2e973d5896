// Property-list values and their XML files: every kind round-trips, the
// lenient number readers keep to their ranges, and bad files give nothing.
#include "platform/Plist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "platform/Paths.h"

namespace plist = platform::plist;
using plist::Value;

namespace {

std::string tempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-plist-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

TEST(Plist, EveryKindRoundTripsThroughAFile) {
  std::string dir = tempDir();
  ASSERT_FALSE(dir.empty());
  Value original = Value::dict({
      {"bool", Value::boolean(true)},
      {"int", Value::integer(-42)},
      {"unsigned", Value::unsignedInteger(4000000000u)},
      {"real", Value::real(2.5)},
      {"string", Value::string("a & b < c > d \xc3\xa9")},
      {"data", Value::data(std::string("\0\x01\xff", 3))},
      {"date", Value::date(1700000000.5)},  // kept to the second
      {"array", Value::array({Value::integer(1), Value::string("two")})},
      {"nested", Value::dict({{"k", Value::real(-0.25)}})},
  });
  std::string path = dir + "/values.plist";
  ASSERT_TRUE(plist::writeAtomic(path, original, nullptr, 0600));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  std::optional<Value> back = plist::read(path);
  ASSERT_TRUE(back);
  // Integers come back as int, whichever kind was written.
  Value expected = original;
  (*expected.asDict())["unsigned"] = Value::integer(4000000000);
  (*expected.asDict())["date"] = Value::date(1700000000.0);
  EXPECT_TRUE(*back == expected) << plist::toXml(*back);
  std::filesystem::remove_all(dir);
}

TEST(Plist, BadTextAndMissingFilesGiveNothing) {
  EXPECT_FALSE(plist::fromXml(""));
  EXPECT_FALSE(plist::fromXml("<plist><dict><key>a</key>"));
  EXPECT_FALSE(plist::fromXml("not xml at all"));
  EXPECT_FALSE(plist::read("/nonexistent/dir/file.plist"));
}

TEST(Plist, NumberReadersKeepToTheirRanges) {
  struct Case {
    Value value;
    std::optional<std::int64_t> asInt;
    std::optional<std::uint64_t> asUInt;
    std::optional<double> asReal;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {Value::integer(-1), -1, std::nullopt, -1.0},
      {Value::integer(7), 7, 7u, 7.0},
      {Value::unsignedInteger(~0ull), std::nullopt, ~0ull, 1.8446744073709552e19},
      {Value::real(3.0), 3, 3u, 3.0},
      {Value::real(3.5), std::nullopt, std::nullopt, 3.5},
      {Value::real(nan), std::nullopt, std::nullopt, std::nullopt},
      {Value::real(1e300), std::nullopt, std::nullopt, 1e300},
      {Value::boolean(true), 1, 1u, 1.0},
      {Value::string("5"), std::nullopt, std::nullopt, std::nullopt},
      {Value(), std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.asInt64(), c.asInt);
    EXPECT_EQ(c.value.asUInt64(), c.asUInt);
    if (c.asReal) {
      EXPECT_EQ(c.value.asReal(), c.asReal);
    } else if (c.value.type() != Value::Type::Real) {
      EXPECT_FALSE(c.value.asReal());
    } else {
      EXPECT_TRUE(std::isnan(*c.value.asReal()));
    }
  }
  EXPECT_EQ(Value::string("x").asString() ? *Value::string("x").asString() : "", "x");
  EXPECT_EQ(Value::data("x").asString(), nullptr);
}

}  // namespace
