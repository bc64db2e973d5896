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

// Text from outside: whatever it holds, reading it answers a value or
// nothing, and never recurses once per level of a deep nesting (a file
// nested 20,000 deep overflowed the stack at every start of the program).
TEST(Plist, HostileTextIsReadOrRefusedWithoutHarm) {
  auto nested = [](const std::string& open, const std::string& close, std::size_t n,
                   const std::string& middle = "") {
    std::string text = "<plist version=\"1.0\">";
    for (std::size_t i = 0; i < n; i++) text += open;
    text += middle;
    for (std::size_t i = 0; i < n; i++) text += close;
    return text + "</plist>";
  };
  const std::size_t limit = plist::kMaxDepth;  // elements, <plist> included
  struct Case {
    const char* what;
    std::string text;
    bool readable;
  };
  const Case cases[] = {
      {"arrays 20,000 deep", nested("<array>", "</array>", 20000), false},
      {"dictionaries 20,000 deep", nested("<dict><key>k</key>", "</dict>", 20000), false},
      {"arrays 1,000,000 deep, never closed", nested("<array>", "", 1000000), false},
      {"arrays at the limit", nested("<array>", "</array>", limit - 1), true},
      {"arrays one past the limit", nested("<array>", "</array>", limit), false},
      {"dictionaries at the limit", nested("<dict><key>k</key>", "</dict>", (limit - 2) / 2,
                                           "<integer>1</integer>"), true},
      {"a deep nesting hidden in attributes",
       nested("<array a=\"/>\" b='>'>", "</array>", 20000), false},
      {"tags in comments and CDATA do not count",
       "<plist><array><!-- " + std::string(30000, '<') + "array> --><string><![CDATA[" +
           nested("<array>", "", 1000) + "]]></string></array></plist>",
       true},
      {"cut short", "<plist version=\"1.0\"><dict><key>FluvanePreferenceRootKey</key><str",
       false},
      {"only a declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", false},
      {"binary bytes", std::string("bplist00\xd1\x01\x02\0\xff", 13), false},
      {"an unclosed comment", "<plist><!-- <array>", false},
      {"a number too long", "<plist><integer>" + std::string(5000, '9') + "</integer></plist>",
       true},
  };
  for (const Case& c : cases) {
    std::optional<Value> value = plist::fromXml(c.text);
    EXPECT_EQ(value.has_value(), c.readable) << c.what;
  }
}

// The files the program keeps: a file that holds no readable dictionary is
// set aside (never overwritten), under a free name; a good one is read as
// it is; no file is no file.
TEST(Plist, UnreadableKeptFilesAreSetAside) {
  std::string dir = tempDir();
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/stats.plist";
  std::string aside = "unchanged";
  EXPECT_FALSE(plist::readDictionary(path, &aside));
  EXPECT_EQ(aside, "");

  ASSERT_TRUE(plist::writeAtomic(path, Value::dict({{"n", Value::integer(7)}})));
  std::optional<plist::Dict> good = plist::readDictionary(path, &aside);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->at("n"), Value::integer(7));
  EXPECT_EQ(aside, "");
  const std::string full = *platform::Paths::readFile(path);

  struct Case {
    const char* what;
    std::string bytes;
    std::string expectedAside;
  };
  std::string deep = "<plist>";
  for (int i = 0; i < 20000; i++) deep += "<array>";
  const Case cases[] = {
      {"cut short", full.substr(0, full.size() / 2), path + ".bad"},
      {"empty", "", path + ".bad-1"},
      {"an array, not a dictionary", plist::toXml(Value::array({Value::integer(1)})),
       path + ".bad-2"},
      {"nested too deep", deep, path + ".bad-3"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::Paths::writeAtomic(path, c.bytes)) << c.what;
    EXPECT_FALSE(plist::readDictionary(path, &aside)) << c.what;
    EXPECT_EQ(aside, c.expectedAside) << c.what;
    EXPECT_FALSE(platform::Paths::exists(path)) << c.what;
    EXPECT_EQ(platform::Paths::readFile(c.expectedAside), c.bytes) << c.what;
  }
  std::filesystem::remove_all(dir);
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
