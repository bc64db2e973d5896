// The location service's rules for handing out a fix: age, accuracy,
// validity (NaN and out-of-range fixes included) and denial.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "vx_log_capture.h"
#include "vxu/VXLocation.h"

using namespace platform;

namespace {

struct Updates : VXLocationDelegate {
  std::vector<LocationFix> fixes;
  void newLocationUpdate(const LocationFix& fix) override { fixes.push_back(fix); }
};

class VXLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Paths::mkdirs(Paths::home());
    defaults =
        std::make_unique<UserDefaults>(Paths::join(Paths::home(), "location-test.plist"), 3600.0);
    defaults->setString(LocationManager::kPermissionKey, "granted");
    location = std::make_unique<vexelLocation>(provider, loop, defaults.get());
    location->setDelegate(&updates);
    location->startUpdatingLocation();
  }

  // Delivers a fix made minutesAgo minutes before now.
  void deliver(double minutesAgo, double accuracy, double lat = 48.0, double lon = 11.0) {
    provider->deliverFix(LocationFix{lat, lon, accuracy, kNow - minutesAgo * 60.0});
    loop.runUntilIdle();
  }

  static constexpr double kNow = 2.0e9;
  Clock::Override now{kNow};
  RunLoop loop;
  std::shared_ptr<ScriptedLocationProvider> provider = std::make_shared<ScriptedLocationProvider>();
  std::unique_ptr<UserDefaults> defaults;
  std::unique_ptr<vexelLocation> location;
  Updates updates;
};

TEST_F(VXLocationTest, AgeAndAccuracyDecide) {
  EXPECT_FALSE(location->getLocation(3000));  // nothing yet
  EXPECT_FALSE(location->getStatus());

  deliver(59, 100);
  EXPECT_EQ(location->getStatus(), std::optional<std::string>("OK"));
  std::vector<std::string> lines;
  lines = printed_lines([&] { EXPECT_TRUE(location->getLocation(3000)); });
  EXPECT_EQ(lines, (std::vector<std::string>{"vexel Location requested with accuracy: 3000",
                                             "core location returned valid data"}));
  deliver(61, 100);
  lines = printed_lines([&] { EXPECT_FALSE(location->getLocation(3000)); });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "core location returned data too stale: 2033-05-18 02:32:20 +0000");
  deliver(60, 100);  // exactly an hour: stale
  EXPECT_FALSE(location->getLocation(3000));

  deliver(1, 3000);
  EXPECT_TRUE(location->getLocation(3000));  // exactly the accuracy asked
  deliver(1, 3000.5);
  lines = printed_lines([&] { EXPECT_FALSE(location->getLocation(3000)); });
  EXPECT_EQ(lines.back(),
            "core location returned data outside of accuracy requirement: 3000.500000");
  EXPECT_EQ(updates.fixes.size(), 5u);
}

TEST_F(VXLocationTest, InvalidFixesAreNeverHandedOut) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double lat, lon, accuracy;
  };
  const Case cases[] = {{48, 11, nan}, {48, 11, -1}, {nan, 11, 10},
                        {48, inf, 10}, {91, 11, 10}, {48, -181, 10}};
  for (const Case& c : cases) {
    deliver(1, c.accuracy, c.lat, c.lon);
    std::vector<std::string> lines =
        printed_lines([&] { EXPECT_FALSE(location->getLocation(3000)); });
    EXPECT_EQ(lines.back(), "core location did not return valid data")
        << c.lat << "," << c.lon << "," << c.accuracy;
  }
  EXPECT_TRUE(updates.fixes.empty());  // and never passed to the delegate
  LocationFix stampless{48, 11, 10, nan};
  provider->deliverFix(stampless);
  loop.runUntilIdle();
  EXPECT_FALSE(location->getLocation(3000));
}

TEST_F(VXLocationTest, ADenialEndsUpdatesForGood) {
  deliver(1, 10);
  provider->deliverError(kLocationErrorUnknown);
  loop.runUntilIdle();
  EXPECT_EQ(location->getStatus(), std::optional<std::string>("kCLErrorLocationUnknown"));
  EXPECT_TRUE(location->started());
  std::vector<std::string> lines = printed_lines([&] {
    provider->deliverError(kLocationErrorDenied);
    loop.runUntilIdle();
  });
  EXPECT_EQ(lines, std::vector<std::string>{"core location returned kCLErrorDenied"});
  EXPECT_EQ(location->getStatus(), std::optional<std::string>("kCLErrorDenied"));
  EXPECT_TRUE(location->denied());
  EXPECT_FALSE(location->started());
  EXPECT_FALSE(provider->started());
  lines = printed_lines([&] { EXPECT_FALSE(location->getLocation(3000)); });
  EXPECT_TRUE(lines.empty());  // at once, without a word
  location->startUpdatingLocation();
  EXPECT_FALSE(location->started());
  EXPECT_FALSE(provider->started());
}

TEST(VXLocationShared, OneInstanceFromTheConfiguration) {
  EXPECT_EQ(&vexelLocation::sharedInstance(), &vexelLocation::sharedInstance());
}

}  // namespace
