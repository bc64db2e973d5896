#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/Clock.h"
#include "platform/DateFormat.h"

namespace {

// Puts the process in a time zone for the life of the object.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

struct DateCase {
  const char* zone;
  double time;
  const char* logLine;    // kDateLogLine
  const char* fileStamp;  // kDateFileStamp
};

TEST(DateFormat, BothPatternsInLocalTime) {
  const DateCase cases[] = {
      {"UTC0", 0.0, "1970.01.01 00:00:00.000", "1970-01-01-00-00-00-000"},
      {"UTC0", 1245069296.789, "2009.06.15 12:34:56.789", "2009-06-15-12-34-56-789"},
      {"XST-5:30", 1245069296.789, "2009.06.15 18:04:56.789", "2009-06-15-18-04-56-789"},
      {"PST8", 1245069296.789, "2009.06.15 04:34:56.789", "2009-06-15-04-34-56-789"},
      // A leap day reached through the offset; milliseconds just below a
      // second are truncated, never carried into the next second.
      {"XST-5:30", 951782399.999, "2000.02.29 05:29:59.999", "2000-02-29-05-29-59-999"},
      {"UTC0", 59.9999, "1970.01.01 00:00:59.999", "1970-01-01-00-00-59-999"},
      // Before 1970 the fraction still counts forward from the second.
      {"UTC0", -0.25, "1969.12.31 23:59:59.750", "1969-12-31-23-59-59-750"},
  };
  for (const DateCase& c : cases) {
    TimeZone zone(c.zone);
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.time));
    EXPECT_EQ(platform::formatDate(platform::kDateLogLine, c.time), c.logLine);
    EXPECT_EQ(platform::formatDate(platform::kDateFileStamp, c.time), c.fileStamp);
  }
}

TEST(DateFormat, OtherFieldWidthsAndLiterals) {
  TimeZone zone("UTC0");
  EXPECT_EQ(platform::formatDate("yy/M/d H:m:s S SS 'x'", 1234567890.678), "09/2/13 23:31:30 6 67 'x'");
  EXPECT_EQ(platform::formatDate("", 1234567890.0), "");
}

TEST(Clock, SystemTimeAndSubstitutedSource) {
  double before = platform::Clock::systemNow();
  double now = platform::Clock::now();
  EXPECT_GE(now, before);
  EXPECT_LT(now - before, 60.0);
  EXPECT_GT(now, 1.5e9);  // after 2017: seconds since 1970, not a monotonic count

  {
    platform::Clock::Override fixed(1245069296.789);
    EXPECT_EQ(platform::Clock::now(), 1245069296.789);
  }
  {
    double ticks = 0;
    platform::Clock::Override stepping([&ticks] { return ticks += 1.0; });
    EXPECT_EQ(platform::Clock::now(), 1.0);
    EXPECT_EQ(platform::Clock::now(), 2.0);
    {
      platform::Clock::Override inner(7.0);
      EXPECT_EQ(platform::Clock::now(), 7.0);
    }
    EXPECT_EQ(platform::Clock::now(), 3.0);
  }
  EXPECT_GT(platform::Clock::now(), 1.5e9);
}

}  // namespace
