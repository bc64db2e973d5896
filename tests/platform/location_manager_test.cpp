// Location services: the configuration's rules, the fixed place re-stamped
// every 10 minutes on a loop driven by a test clock, and the permission
// asked once through the alert presenter and remembered.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/Clock.h"
#include "platform/LocationManager.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"

using namespace platform;

namespace {

struct Recorder : LocationManagerDelegate {
  std::vector<LocationFix> fixes;
  std::vector<int> errors;
  void didUpdateToLocation(const LocationFix& fix, const std::optional<LocationFix>&) override {
    fixes.push_back(fix);
  }
  void didFailWithError(int code) override { errors.push_back(code); }
};

class LocationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-loc-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir = pattern;
    defaults = std::make_unique<UserDefaults>(dir + "/Preferences.plist", 3600.0);
    loop.setTimeSourceForTesting([this] { return loopTime; });
    previousPresenter = AlertPresenter::install(presenter);
  }
  void TearDown() override {
    AlertPresenter::install(previousPresenter);
    defaults.reset();
    std::filesystem::remove_all(dir);
  }

  std::string dir;
  std::unique_ptr<UserDefaults> defaults;
  RunLoop loop;
  double loopTime = 1000.0;
  std::shared_ptr<TestAlertPresenter> presenter = std::make_shared<TestAlertPresenter>();
  std::shared_ptr<AlertPresenter> previousPresenter;
  Recorder recorder;
};

TEST(LocationConfiguration, OnlyRealPlacesAreAccepted) {
  struct Case {
    const char* text;
    bool accepted;
    double lat, lon, accuracy;
  };
  const Case cases[] = {
      {"52.52,13.405", true, 52.52, 13.405, 100.0},
      {" -33.9 , 151.2 , 25 ", true, -33.9, 151.2, 25.0},
      {"90,180,0", true, 90.0, 180.0, 0.0},
      {"-90,-180", true, -90.0, -180.0, 100.0},
      {"90.0001,0", false, 0, 0, 0},
      {"0,180.5", false, 0, 0, 0},
      {"nan,0", false, 0, 0, 0},
      {"0,inf", false, 0, 0, 0},
      {"1,2,nan", false, 0, 0, 0},
      {"1,2,-5", false, 0, 0, 0},
      {"1e999,2", false, 0, 0, 0},
      {"1,2,3,4", false, 0, 0, 0},
      {"12", false, 0, 0, 0},
      {"north,east", false, 0, 0, 0},
      {"1x,2", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string problem;
    std::shared_ptr<LocationProvider> provider = LocationManager::providerFor(c.text, &problem);
    auto* fixed = dynamic_cast<FixedLocationProvider*>(provider.get());
    EXPECT_EQ(fixed != nullptr, c.accepted) << c.text;
    if (fixed) {
      EXPECT_EQ(fixed->place().latitude, c.lat) << c.text;
      EXPECT_EQ(fixed->place().longitude, c.lon) << c.text;
      EXPECT_EQ(fixed->place().horizontalAccuracy, c.accuracy) << c.text;
    } else {
      EXPECT_NE(problem, "") << c.text;
    }
  }
  EXPECT_TRUE(
      dynamic_cast<DeniedLocationProvider*>(LocationManager::providerFor("denied", nullptr).get()));
}

TEST(LocationConfiguration, FromTheEnvironmentElseTheHomeFile) {
  std::string conf = Paths::join(Paths::home(), "location.conf");
  Paths::mkdirs(Paths::home());
  unsetenv("FLUVANE_LOCATION");
  Paths::remove(conf);
  EXPECT_EQ(LocationManager::configuredProvider(), nullptr);
  ASSERT_TRUE(Paths::writeAtomic(conf, "10,20,30\nignored\n"));
  std::shared_ptr<LocationProvider> provider = LocationManager::configuredProvider();
  auto* fromFile = dynamic_cast<FixedLocationProvider*>(provider.get());
  ASSERT_TRUE(fromFile);
  EXPECT_EQ(fromFile->place().horizontalAccuracy, 30.0);
  setenv("FLUVANE_LOCATION", "1,2", 1);
  provider = LocationManager::configuredProvider();
  auto* fromEnv = dynamic_cast<FixedLocationProvider*>(provider.get());
  ASSERT_TRUE(fromEnv);
  EXPECT_EQ(fromEnv->place().latitude, 1.0);
  unsetenv("FLUVANE_LOCATION");
  Paths::remove(conf);
}

TEST_F(LocationManagerTest, AFixedPlaceIsRestampedEveryTenMinutes) {
  defaults->setString(LocationManager::kPermissionKey, "granted");
  Clock::Override wall(5000.0);
  LocationManager manager(&recorder, std::make_shared<FixedLocationProvider>(1.0, 2.0, 100.0), loop,
                          defaults.get());
  EXPECT_TRUE(manager.locationServicesEnabled());
  manager.startUpdatingLocation();
  EXPECT_TRUE(recorder.fixes.empty());  // delivered by the loop, not by the call
  loop.runUntilIdle();
  ASSERT_EQ(recorder.fixes.size(), 1u);
  EXPECT_EQ(recorder.fixes[0].timestamp, 5000.0);
  EXPECT_EQ(manager.location()->latitude, 1.0);

  loopTime += 599.0;
  loop.runUntilIdle();
  EXPECT_EQ(recorder.fixes.size(), 1u);
  {
    Clock::Override later(5600.0);
    loopTime += 2.0;
    loop.runUntilIdle();
  }
  ASSERT_EQ(recorder.fixes.size(), 2u);
  EXPECT_EQ(recorder.fixes[1].timestamp, 5600.0);

  manager.stopUpdatingLocation();
  loopTime += 3600.0;
  loop.runUntilIdle();
  EXPECT_EQ(recorder.fixes.size(), 2u);
  EXPECT_TRUE(presenter->alerts().empty());
}

TEST_F(LocationManagerTest, PermissionIsAskedOnceAndRemembered) {
  auto provider = std::make_shared<ScriptedLocationProvider>();
  {
    LocationManager manager(&recorder, provider, loop, defaults.get());
    manager.startUpdatingLocation();
    ASSERT_EQ(presenter->pending(), 1u);
    Alert alert = presenter->alerts()[0];
    EXPECT_EQ(alert.title, "Allow \u201CFluvane\u201D to use your current location?");
    EXPECT_EQ(alert.buttonTitles(), (std::vector<std::string>{"Don't Allow", "OK"}));
    EXPECT_FALSE(provider->started());
    ASSERT_TRUE(presenter->answer(1));
    EXPECT_TRUE(provider->started());
    LocationFix fix{3.0, 4.0, 50.0, 77.0};
    provider->deliverFix(fix);
    loop.runUntilIdle();
    ASSERT_EQ(recorder.fixes.size(), 1u);
    EXPECT_EQ(recorder.fixes[0].longitude, 4.0);
  }
  EXPECT_EQ(defaults->stringForKey(LocationManager::kPermissionKey),
            std::optional<std::string>("granted"));
  LocationManager again(&recorder, provider, loop, defaults.get());
  again.startUpdatingLocation();
  EXPECT_EQ(presenter->alerts().size(), 1u);  // not asked again
  EXPECT_TRUE(provider->started());
}

TEST_F(LocationManagerTest, ARefusalIsErrorOneNowAndLater) {
  auto provider = std::make_shared<ScriptedLocationProvider>();
  {
    LocationManager manager(&recorder, provider, loop, defaults.get());
    manager.startUpdatingLocation();
    ASSERT_TRUE(presenter->answer(0));
    loop.runUntilIdle();
    EXPECT_EQ(recorder.errors, std::vector<int>{kLocationErrorDenied});
    EXPECT_FALSE(provider->started());
  }
  LocationManager again(&recorder, provider, loop, defaults.get());
  again.startUpdatingLocation();
  loop.runUntilIdle();
  EXPECT_EQ(recorder.errors, (std::vector<int>{kLocationErrorDenied, kLocationErrorDenied}));
  EXPECT_EQ(presenter->alerts().size(), 1u);
}

TEST_F(LocationManagerTest, NoProviderOrNoOneToAskIsErrorZero) {
  LocationManager none(&recorder, nullptr, loop, defaults.get());
  EXPECT_FALSE(none.locationServicesEnabled());
  none.startUpdatingLocation();
  loop.runUntilIdle();
  EXPECT_EQ(recorder.errors, std::vector<int>{kLocationErrorUnknown});
  EXPECT_TRUE(presenter->alerts().empty());

  AlertPresenter::install(nullptr);
  LocationManager unasked(&recorder, std::make_shared<ScriptedLocationProvider>(), loop,
                          defaults.get());
  unasked.startUpdatingLocation();
  loop.runUntilIdle();
  EXPECT_EQ(recorder.errors, (std::vector<int>{kLocationErrorUnknown, kLocationErrorUnknown}));
  EXPECT_FALSE(defaults->stringForKey(LocationManager::kPermissionKey));
}

TEST_F(LocationManagerTest, DeniedProviderReportsErrorOne) {
  defaults->setString(LocationManager::kPermissionKey, "granted");
  LocationManager manager(&recorder, std::make_shared<DeniedLocationProvider>(), loop,
                          defaults.get());
  manager.startUpdatingLocation();
  loop.runUntilIdle();
  EXPECT_EQ(recorder.errors, std::vector<int>{kLocationErrorDenied});
}

}  // namespace
