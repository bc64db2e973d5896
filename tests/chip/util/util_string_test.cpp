#include "chip/util/util_string.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

namespace {

TEST(UtilStringTest, Itoa) {
  const struct {
    long in;
    const char* want;
  } cases[] = {{0, "0"}, {-42, "-42"}, {1234567, "1234567"}, {LONG_MIN, "-9223372036854775808"}};
  for (const auto& c : cases) EXPECT_EQ(c.want, itoa(c.in)) << c.in;
}

TEST(UtilStringTest, Ftoa) {
  const struct {
    double in;
    unsigned long digits;
    std::string want;
  } cases[] = {
      {3.14159, 2, "3.14"},
      {2.0, 0, "2"},
      {-0.5, 3, "-0.500"},
      {1.0, 32, "1." + std::string(32, '0')},
      {1.0, 40, "1." + std::string(32, '0')},  // more than 32 digits count as 32
      {1e20, 1, "100000000000000000000.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, ftoa(c.in, c.digits)) << c.in << " " << c.digits;
  EXPECT_EQ(310u, ftoa(-1e300, 7).size()) << "long texts are not cut";
}

TEST(UtilStringTest, TrimOnlySpacesAndTabs) {
  const struct {
    const char* in;
    const char* both;
    const char* left;
    const char* right;
  } cases[] = {
      {" \t a b \t ", "a b", "a b \t ", " \t a b"},
      {"\nx\n", "\nx\n", "\nx\n", "\nx\n"},  // a newline is not a blank
      {" \t ", "", "", ""},
      {"", "", "", ""},
      {"x", "x", "x", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.both, trim(c.in)) << '"' << c.in << '"';
    EXPECT_EQ(c.left, ltrim(c.in)) << '"' << c.in << '"';
    EXPECT_EQ(c.right, rtrim(c.in)) << '"' << c.in << '"';
  }
}

TEST(UtilStringTest, CaseTouchesOnlyAsciiLetters) {
  std::string all;
  for (int c = 1; c < 256; c++) all += static_cast<char>(c);
  std::string upper = toupper(all);
  std::string lower = tolower(all);
  ASSERT_EQ(all.size(), upper.size());
  ASSERT_EQ(all.size(), lower.size());
  for (size_t i = 0; i < all.size(); i++) {
    unsigned char c = static_cast<unsigned char>(all[i]);
    char want_upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : all[i];
    char want_lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : all[i];
    EXPECT_EQ(want_upper, upper[i]) << "byte " << int(c);
    EXPECT_EQ(want_lower, lower[i]) << "byte " << int(c);
  }
  EXPECT_EQ("MIX-ED 1", toupper("mIx-eD 1"));
  EXPECT_EQ("mix-ed 1", tolower(std::string("mIx-eD 1")));
  // The C library's character versions stay reachable beside these.
  EXPECT_EQ('a', ::tolower('A'));
  EXPECT_EQ('A', ::toupper('a'));
}

TEST(UtilStringTest, ExtractArgs) {
  typedef std::vector<std::string> Args;
  const struct {
    const char* token;
    bool ok;
    const char* file;
    Args args;
  } cases[] = {
      {"foo.chip:1:bar", true, "foo.chip", {"1", "bar"}},
      {"  foo.chip \t", true, "foo.chip", {}},
      {" foo.chip: 1 : x ", true, "foo.chip", {" 1 ", " x"}},  // only the token is trimmed
      {"a\\:b.chip:x", true, "a:b.chip", {"x"}},
      {"a.chip:x\\:y", true, "a.chip", {"x:y"}},
      {"a\\b.chip:x", true, "a\\b.chip", {"x"}},    // other backslashes stay
      {"a\\\\:b", true, "a\\:b", {}},               // the second one escapes
      {":a.chip", false, "", {}},
      {"  :a.chip", false, "", {}},
      {"\\:a:b", true, ":a", {"b"}},                // an escaped leading colon is a name
      {"a::b", true, "a", {"", "b"}},
      {"a:", true, "a", {""}},
      {"", true, "", {}},
  };
  for (const auto& c : cases) {
    std::string file = "stale";
    Args args{"stale"};
    EXPECT_EQ(c.ok, extract_args(c.token, file, args) == TRUE) << c.token;
    if (c.ok) {
      EXPECT_EQ(c.file, file) << c.token;
      EXPECT_EQ(c.args, args) << c.token;
    }
  }
}

}  // namespace
