// Statistics on a test clock, their files as input, writes that survive a
// killed writer, and the locked snapshot read across threads; preferences
// over the user defaults; and the property tables themselves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UserDefaults.h"
#include "vx_log_capture.h"
#include "vxu/VXIntrospector.h"
#include "vxu/VXPreferences.h"
#include "vxu/VXUserStats.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

std::string statsPath() { return Paths::join(Paths::documents(), VXUserStats::kStatsFileName); }

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

class StatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Paths::remove(statsPath());
    Paths::remove(Paths::join(Paths::documents(), VXUserStats::kFeaturesFileName));
  }
  double steady = 500.0;
  platform::Clock::MonotonicOverride clock{[this] { return steady; }};
  platform::Clock::Override wall{1.0e9};
};

TEST_F(StatsTest, IntervalsOnTheSteadyClock) {
  VXUserStats stats(false);
  stats.startCountingAppTime();
  steady += 2.0;
  stats.startCountingAppTime();  // keeps the first start
  steady += 0.9;
  stats.stopCountingAppTime();
  EXPECT_EQ(stats.app_time(), 2u);  // 2.9 s adds 2
  steady += 10.0;
  stats.stopCountingAppTime();  // nothing runs: adds nothing
  EXPECT_EQ(stats.app_time(), 2u);

  // A jump of the wall clock moves nothing.
  stats.startCountingGlobeTime();
  {
    platform::Clock::Override jumped(1.0e9 - 86400.0);
    steady += 5.0;
    stats.stopCountingGlobeTime();
  }
  EXPECT_EQ(stats.globe_time(), 5u);
  // The steady clock never goes back, but a start after the stop's time
  // counts nothing rather than a negative.
  stats.startCountingGlobeTime();
  steady -= 1.0;
  stats.stopCountingGlobeTime();
  EXPECT_EQ(stats.globe_time(), 5u);
}

TEST_F(StatsTest, CountersSaturateInsteadOfWrapping) {
  EXPECT_EQ(VXUserStats::saturatingAdd(4294967290u, 3), 4294967293u);
  EXPECT_EQ(VXUserStats::saturatingAdd(4294967290u, 6), 4294967295u);
  EXPECT_EQ(VXUserStats::saturatingAdd(4294967295u, ~0ull), 4294967295u);
  VXUserStats stats(false);
  stats.setApp_launches(std::numeric_limits<std::uint32_t>::max());
  stats.incrementAppLaunches();
  EXPECT_EQ(stats.app_launches(), std::numeric_limits<std::uint32_t>::max());
  stats.startCountingAppTime();
  steady += 1.0e10;
  stats.stopCountingAppTime();
  stats.startCountingAppTime();
  steady += 1.0e10;
  stats.stopCountingAppTime();
  EXPECT_EQ(stats.app_time(), std::numeric_limits<std::uint32_t>::max());
  for (int i = 0; i < 3; ++i) stats.trackFeatureByName("main3");
  EXPECT_EQ(stats.getFeatureUseCount("main3"), 3u);
  EXPECT_EQ(stats.getFeatureUseCount("never"), 0u);
}

TEST_F(StatsTest, KeyedAndPropertyFormsRoundTrip) {
  {
    VXUserStats stats(false);
    stats.setApp_launches(3);
    stats.setStatsID(77);
    stats.incrementGlobeViews();
    stats.trackFeatureByName("main1");
    stats.trackFeatureByName("main1");
    ASSERT_TRUE(stats.autoSerializeToDisk());
  }
  VXUserStats loaded(false);
  loaded.autoDeserializeFromDisk();
  EXPECT_EQ(loaded.app_launches(), 3u);
  EXPECT_EQ(loaded.statsID(), 77u);
  EXPECT_EQ(loaded.globeViews(), 1u);
  EXPECT_EQ(loaded.getFeatureUseCount("main1"), 2u);

  loaded.setStatsDictionary(std::nullopt);
  EXPECT_EQ(loaded.app_launches(), 0u);
  ASSERT_TRUE(loaded.serializeToDisk());
  std::optional<plist::Value> keyed = plist::read(statsPath());
  ASSERT_TRUE(keyed);
  EXPECT_TRUE(*keyed == plist::Value::dict({{"VXUserStatsAppLaunchesKey", plist::Value::integer(0)},
                                            {"VXUserStatsAppTimeKey", plist::Value::integer(0)}}));
}

TEST_F(StatsTest, FileContentsAreInputWrongValuesAreKeptAndLogged) {
  ASSERT_TRUE(Paths::mkdirs(Paths::documents()));
  ASSERT_TRUE(plist::writeAtomic(
      statsPath(), plist::Value::dict({{"app_launches", plist::Value::integer(-4)},
                                       {"app_time", plist::Value::string("lots")},
                                       {"globe_time", plist::Value::integer(1ll << 40)},
                                       {"globeViews", plist::Value::integer(6)}})));
  ASSERT_TRUE(plist::writeAtomic(Paths::join(Paths::documents(), VXUserStats::kFeaturesFileName),
                                 plist::Value::dict({{"good", plist::Value::integer(2)},
                                                     {"bad", plist::Value::string("x")}})));
  VXUserStats stats(false);
  stats.setApp_launches(9);
  std::vector<std::string> lines = printed_lines([&] { stats.autoDeserializeFromDisk(); });
  EXPECT_EQ(stats.app_launches(), 9u);
  EXPECT_EQ(stats.app_time(), 0u);
  EXPECT_EQ(stats.globe_time(), 0u);
  EXPECT_EQ(stats.globeViews(), 6u);
  EXPECT_EQ(stats.getFeatureUseCount("good"), 2u);
  EXPECT_EQ(stats.getFeatureUseCount("bad"), 0u);
  EXPECT_TRUE(contains(
      lines, "property 'app_launches' of VXUserStats: not an unsigned 32-bit number, kept"));
  EXPECT_TRUE(contains(lines, "property 'app_time' of VXUserStats: not a number, kept"));
  EXPECT_TRUE(contains(lines, "feature count 'bad' is not an unsigned 32-bit number, skipped"));

  // The keyed form the same way; a missing file leaves the defaults.
  ASSERT_TRUE(plist::writeAtomic(
      statsPath(), plist::Value::dict({{"VXUserStatsAppLaunchesKey", plist::Value::real(2.5)}})));
  stats.deserializeFromDisk();
  EXPECT_EQ(stats.app_launches(), 9u);
  Paths::remove(statsPath());
  lines = printed_lines([&] { stats.deserializeFromDisk(); });
  EXPECT_TRUE(contains(lines, "stats deserialization failed, using default stats"));
  EXPECT_EQ(stats.app_launches(), 0u);
}

// A writer killed in the middle of its write leaves the old file whole.
TEST_F(StatsTest, AWriterKilledMidWriteLeavesTheOldFile) {
  {
    VXUserStats old(false);
    old.setApp_launches(5);
    ASSERT_TRUE(old.autoSerializeToDisk());
  }
  VXUserStats newer(false);
  newer.setApp_launches(6);
  plist::Dict properties = newer.snapshot().properties;
  const std::string xml = plist::toXml(plist::Value::dict(properties));
  const std::string path = statsPath();

  for (const char* stage : {"partial", "written"}) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The child writes and stops at the stage until it is killed.
      const std::string wanted = stage;
      Paths::setWriteProbe([&](const char* reached) {
        if (wanted != reached) return;
        char byte = 1;
        if (write(pipeFds[1], &byte, 1) != 1) _exit(3);
        for (;;) pause();
      });
      Paths::writeAtomic(path, xml);
      _exit(2);
    }
    close(pipeFds[1]);
    char byte = 0;
    ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
    close(pipeFds[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    VXUserStats reloaded(false);
    reloaded.autoDeserializeFromDisk();
    EXPECT_EQ(reloaded.app_launches(), 5u) << stage;
  }
  ASSERT_TRUE(newer.autoSerializeToDisk());
  VXUserStats reloaded(false);
  reloaded.autoDeserializeFromDisk();
  EXPECT_EQ(reloaded.app_launches(), 6u);
}

TEST_F(StatsTest, TheUploadReadsALockedSnapshot) {
  VXUserStats stats(false);
  std::atomic<bool> done{false};
  std::thread upload([&] {
    while (!done) {
      VXUserStats::Snapshot copy = stats.snapshot();
      // Launches and globe views move together under the lock.
      EXPECT_EQ(*copy.properties["app_launches"].asUInt64(),
                *copy.properties["globeViews"].asUInt64());
      EXPECT_LE(copy.features.size(), 1u);
    }
  });
  for (int i = 0; i < 2000; ++i) {
    auto guard = stats.lock();
    stats.incrementAppLaunches();
    stats.incrementGlobeViews();
    stats.trackFeatureByName("f");
  }
  done = true;
  upload.join();
  EXPECT_EQ(stats.snapshot().features.at("f"), 2000u);
}

// --- Property tables ---------------------------------------------------------

class Point : public VXIntrospectable {
 public:
  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }
  std::uint32_t x = 0;
  float weight = 0.0f;
  std::optional<std::string> label;
  std::optional<plist::Value> extra;
};
const VXPropertyTable Point::kTable = {
    "Point",
    nullptr,
    {vxUInt32Property("x", &Point::x), vxFloatProperty("weight", &Point::weight),
     vxStringProperty("label", &Point::label), vxNumberProperty("extra", &Point::extra)}};

class Shape : public Point, public VXAutoLoadObject {
 public:
  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }
  VXObjectArray* createObjects(std::size_t count, const std::string& name) override {
    VXObjectArray& target = name == "numbers" ? numbers : corners;
    target.clear();
    for (std::size_t i = 0; i < count; ++i) {
      VXArrayElement element;
      if (name == "numbers") {
        element.number = plist::Value::integer(0);
      } else {
        element.object = std::make_shared<Point>();
      }
      target.push_back(element);
    }
    return &target;
  }
  VXObjectArray numbers;
  VXObjectArray corners;
};
const VXPropertyTable Shape::kTable = {
    "Shape",
    &Point::kTable,
    {vxArrayProperty("numbers", &Shape::numbers), vxArrayProperty("corners", &Shape::corners)}};

TEST(Introspection, SavingWalksTheClassChainAndLeavesOutTheAbsent) {
  Point p;
  p.x = 7;
  plist::Dict out;
  ASSERT_TRUE(copyObjectPropertiesToDictionary(out, p));
  EXPECT_EQ(out, (plist::Dict{{"x", plist::Value::unsignedInteger(7)},
                              {"weight", plist::Value::real(0.0)}}));

  Shape s;
  s.x = 1;
  s.label = "sq";
  s.numbers = {VXArrayElement{plist::Value::integer(4), nullptr},
               VXArrayElement{plist::Value::real(2.5), nullptr}};
  auto corner = std::make_shared<Point>();
  corner->x = 9;
  s.corners = {VXArrayElement{std::nullopt, corner}};
  ASSERT_TRUE(saveObjectPropertiesToFile(s, "shape.plist"));

  Shape loaded;
  loaded.x = 100;
  ASSERT_TRUE(loadObjectPropertiesFromFile(loaded, "shape.plist"));
  EXPECT_EQ(loaded.x, 1u);
  EXPECT_EQ(loaded.label, std::optional<std::string>("sq"));
  ASSERT_EQ(loaded.numbers.size(), 2u);
  EXPECT_EQ(loaded.numbers[0].number, std::optional<plist::Value>(plist::Value::integer(4)));
  EXPECT_EQ(loaded.numbers[1].number, std::optional<plist::Value>(plist::Value::real(2.5)));
  ASSERT_EQ(loaded.corners.size(), 1u);
  EXPECT_EQ(static_cast<Point&>(*loaded.corners[0].object).x, 9u);
  EXPECT_FALSE(loadObjectPropertiesFromFile(loaded, "missing.plist"));
}

TEST(Introspection, LoadingKeepsWhatTheDictionaryLacksOrGetsWrong) {
  Shape s;
  s.x = 3;
  s.weight = 1.5f;
  s.numbers = {VXArrayElement{plist::Value::integer(1), nullptr}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::string> lines = printed_lines([&] {
    ASSERT_TRUE(setObjectPropertiesFromDictionary(
        {{"x", plist::Value::integer(5000000000)},
         {"weight", plist::Value::real(nan)},
         {"label", plist::Value::integer(1)},
         {"extra", plist::Value::string("n")},
         {"numbers",
          plist::Value::array({plist::Value::integer(2), plist::Value::string("three")})}},
        s));
  });
  EXPECT_EQ(s.x, 3u);
  EXPECT_EQ(s.weight, 1.5f);
  EXPECT_FALSE(s.label);
  EXPECT_FALSE(s.extra);
  ASSERT_EQ(s.numbers.size(), 1u);
  EXPECT_EQ(s.numbers[0].number, std::optional<plist::Value>(plist::Value::integer(1)));
  EXPECT_TRUE(contains(lines, "property 'x' of Point: not an unsigned 32-bit number, kept"));
  EXPECT_TRUE(contains(lines, "property 'weight' of Point: not a finite float, kept"));
  EXPECT_TRUE(contains(lines, "property 'numbers' of Shape: element 1 of the wrong kind, kept"));
}

class Broken : public VXIntrospectable {
 public:
  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }
  VXObjectArray items;
};
const VXPropertyTable Broken::kTable = {
    "Broken",
    nullptr,
    {vxArrayProperty("items", &Broken::items),
     VXProperty{"odd", VXPropertyKind::Unsupported, nullptr, nullptr}}};

TEST(Introspection, ProgrammingErrorsOfATableAreLoggedAndEndTheOperation) {
  Broken b;
  plist::Dict out;
  std::vector<std::string> lines =
      printed_lines([&] { EXPECT_FALSE(copyObjectPropertiesToDictionary(out, b)); });
  EXPECT_EQ(lines,
            std::vector<std::string>{"Unsupported type in copyObjectPropertiesToDictionary"});
  // An array on a class that cannot create its elements.
  lines = printed_lines([&] {
    EXPECT_FALSE(setObjectPropertiesFromDictionary(
        {{"items", plist::Value::array({plist::Value::integer(1)})}}, b));
  });
  EXPECT_EQ(lines,
            std::vector<std::string>{"Unsupported type in setObjectPropertiesFromDictionary"});
}

TEST(Introspection, RemapAndNamedIds) {
  plist::Dict remapped = remapDictionary(
      {{"a", plist::Value::integer(1)}, {"b", plist::Value::integer(2)}}, {{"a", "c"}, {"z", "y"}});
  EXPECT_EQ(remapped, (plist::Dict{{"c", plist::Value::integer(1)}}));

  VXAutoLoadNamedObjects named;
  ASSERT_TRUE(setObjectPropertiesFromDictionary(
      {{"objects",
        plist::Value::array({plist::Value::dict({{"name", plist::Value::string("one")},
                                                 {"objID", plist::Value::integer(1)}}),
                             plist::Value::dict({{"name", plist::Value::string("two")},
                                                 {"objID", plist::Value::integer(2)}})})}},
      named));
  ASSERT_NE(named.getObjectByID(2), nullptr);
  EXPECT_EQ(named.getObjectByID(2)->getName(), std::optional<std::string>("two"));
  EXPECT_EQ(named.getObjectByID(3), nullptr);
  // The base array makes no elements: a programming error, the array kept.
  VXAutoLoadArray plain;
  EXPECT_FALSE(setObjectPropertiesFromDictionary(
      {{"objects", plist::Value::array({plist::Value::integer(1)})}}, plain));
  EXPECT_TRUE(plain.objects.empty());
}

TEST(Preferences, RegisteredDefaultsAndHandEditedValues) {
  std::string path = Paths::join(Paths::home(), "prefs-test.plist");
  platform::UserDefaults defaults(path, 3600.0);
  VXPreferences preferences(&defaults);
  EXPECT_EQ(preferences.infoBoxText(), "Welcome to Fluvane.");
  preferences.setInfoBoxText("Hi");
  EXPECT_EQ(preferences.infoBoxText(), "Hi");
  EXPECT_TRUE(preferences.synchronize());
  defaults.setInteger(VXPreferencesInfoBoxTextKey, 3);
  std::vector<std::string> lines =
      printed_lines([&] { EXPECT_EQ(preferences.infoBoxText(), "Welcome to Fluvane."); });
  EXPECT_TRUE(
      contains(lines, "preference 'VXPreferencesInfoBoxTextKey' is not a text, using its default"));
}

}  // namespace
