// The instrument's statistics: every counter of both classes survives a
// save and a load, a file without the name or with wrongly typed values
// reads them as missing, the instrument time is counted on the steady
// clock, and the upload's copy is taken under the lock.
#include <gtest/gtest.h>

#include <thread>

#include "Classes/FluvaneStats.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Plist.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

std::string statsPath() { return Paths::join(Paths::documents(), VXUserStats::kStatsFileName); }

class FluvaneStatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Paths::mkdirs(Paths::documents());
    Paths::remove(statsPath());
  }
  double steady = 100.0;
  platform::Clock::MonotonicOverride clock{[this] { return steady; }};
};

TEST_F(FluvaneStatsTest, SavingAndLoadingGivesBackEveryCounter) {
  {
    FluvaneStats stats(false);
    stats.setApp_launches(11);
    stats.startCountingAppTime();
    steady += 7.5;
    stats.stopCountingAppTime();
    stats.setFluvaneName("Ann's flute");
    stats.setFluvaneTime(3);
    stats.setGlobeTime(4);
    stats.setGlobeViews(5);
    stats.setSnippetsUploaded(6);
    stats.setSnippetsListened(7);
    stats.setTutorialsWatched(8);
    stats.setAppLaunchesSince1_2(9);
    stats.setManualUploads(10);
    ASSERT_TRUE(stats.serializeToDisk());
  }
  FluvaneStats loaded;
  EXPECT_EQ(loaded.app_launches(), 11u);
  EXPECT_EQ(loaded.app_time(), 7u);
  EXPECT_EQ(loaded.fluvaneName(), "Ann's flute");
  EXPECT_EQ(loaded.fluvaneTime(), 3u);
  EXPECT_EQ(loaded.globeTime(), 4u);
  EXPECT_EQ(loaded.globeViews(), 5u);
  EXPECT_EQ(loaded.snippetsUploaded(), 6u);
  EXPECT_EQ(loaded.snippetsListened(), 7u);
  EXPECT_EQ(loaded.tutorialsWatched(), 8u);
  EXPECT_EQ(loaded.appLaunchesSince1_2(), 9u);
  EXPECT_EQ(loaded.manualUploads(), 10u);

  // The keyed form: the nine keys and the base's two, numbers unsigned.
  std::optional<plist::Value> file = plist::read(statsPath());
  ASSERT_TRUE(file && file->asDict());
  const plist::Dict& d = *file->asDict();
  EXPECT_EQ(d.size(), 11u);
  for (const char* key :
       {FluvaneStats::kFluvaneTimeKey, FluvaneStats::kGlobeViewsKey, FluvaneStats::kGlobeTimeKey,
        FluvaneStats::kSnippetsUploadedKey, FluvaneStats::kSnippetsListenedKey,
        FluvaneStats::kTutorialsWatchedKey, FluvaneStats::kAppLaunchesSince1_2Key,
        FluvaneStats::kManualUploadsKey, VXUserStats::kAppLaunchesKey, VXUserStats::kAppTimeKey}) {
    ASSERT_TRUE(d.count(key)) << key;
    EXPECT_TRUE(d.at(key).isNumber()) << key;
  }
  ASSERT_TRUE(d.at(FluvaneStats::kNameKey).asString());
  EXPECT_EQ(*d.at(FluvaneStats::kNameKey).asString(), "Ann's flute");
}

TEST_F(FluvaneStatsTest, MissingOrWronglyTypedValuesReadAsMissing) {
  plist::Dict d = {
      {FluvaneStats::kFluvaneTimeKey, plist::Value::string("12")},
      {FluvaneStats::kGlobeViewsKey, plist::Value::integer(-3)},
      {FluvaneStats::kGlobeTimeKey, plist::Value::unsignedInteger(1ull << 40)},
      {FluvaneStats::kSnippetsUploadedKey, plist::Value::unsignedInteger(4)},
      {FluvaneStats::kSnippetsListenedKey, plist::Value::boolean(true)},
      {FluvaneStats::kManualUploadsKey, plist::Value::real(2.5)},
  };
  ASSERT_TRUE(plist::writeAtomic(statsPath(), plist::Value::dict(d)));
  FluvaneStats stats;
  EXPECT_EQ(stats.fluvaneName(), "");  // no name stored
  EXPECT_EQ(stats.fluvaneTime(), 0u);
  EXPECT_EQ(stats.globeViews(), 0u);
  EXPECT_EQ(stats.globeTime(), 0u);
  EXPECT_EQ(stats.snippetsUploaded(), 4u);
  EXPECT_EQ(stats.snippetsListened(), 0u);
  EXPECT_EQ(stats.appLaunchesSince1_2(), 0u);

  // A name of the wrong type, too; and a missing file clears everything.
  stats.setStatsDictionary(plist::Dict{{FluvaneStats::kNameKey, plist::Value::integer(5)}});
  EXPECT_EQ(stats.fluvaneName(), "");
  stats.setFluvaneName("x");
  stats.setManualUploads(3);
  stats.setStatsDictionary(std::nullopt);
  EXPECT_EQ(stats.fluvaneName(), "");
  EXPECT_EQ(stats.manualUploads(), 0u);
}

TEST_F(FluvaneStatsTest, InstrumentTimeAndSaturatingCounters) {
  FluvaneStats stats(false);
  stats.startCountingFluvaneTime();
  steady += 2.9;
  stats.stopCountingFluvaneTime();
  EXPECT_EQ(stats.fluvaneTime(), 2u);
  stats.stopCountingFluvaneTime();  // nothing counting: adds nothing
  EXPECT_EQ(stats.fluvaneTime(), 2u);
  stats.setAppLaunchesSince1_2(0xFFFFFFFFu);
  stats.incrementAppLaunchesSince1_2();
  EXPECT_EQ(stats.appLaunchesSince1_2(), 0xFFFFFFFFu);
  stats.incrementSnippetsUploaded();
  stats.incrementSnippetsListened();
  stats.incrementManualUploads();
  EXPECT_EQ(stats.snippetsUploaded() + stats.snippetsListened() + stats.manualUploads(), 3u);
}

TEST_F(FluvaneStatsTest, TheDefaultIsTheFrameworksToo) {
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  EXPECT_EQ(&VXUserStats::defaultUserStats(), &stats);
  EXPECT_EQ(&FluvaneStats::defaultFluvaneStats(), &stats);
}

TEST_F(FluvaneStatsTest, TheUploadCopyIsTakenUnderTheLock) {
  FluvaneStats stats(false);
  stats.setFluvaneName("player");
  // The main thread keeps counting while the upload thread reads its copy.
  std::thread writer([&] {
    for (int i = 0; i < 2000; i++) {
      stats.incrementSnippetsUploaded();
      stats.setFluvaneName(i % 2 ? "player" : "other player");
    }
  });
  std::uint32_t last = 0;
  for (int i = 0; i < 2000; i++) {
    FluvaneStats::Upload copy = stats.uploadCopy();
    EXPECT_GE(copy.snippetsUploaded, last);
    last = copy.snippetsUploaded;
    EXPECT_TRUE(copy.fluvaneName == "player" || copy.fluvaneName == "other player");
  }
  writer.join();
  EXPECT_EQ(stats.uploadCopy().snippetsUploaded, 2000u);
}

}  // namespace
