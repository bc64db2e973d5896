// User defaults: registered values stay in memory, changes reach the file
// soon and privately, hand-edited files cannot confuse the typed getters,
// and writers on many threads lose nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UserDefaults.h"

namespace plist = platform::plist;
using platform::Paths;
using platform::UserDefaults;

namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-ud-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir = pattern;
    path = dir + "/Preferences.plist";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::optional<plist::Value> onDisk() const { return plist::read(path); }

  std::string dir, path;
};

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerButAreNotWritten) {
  UserDefaults defaults(path, 0.01);
  defaults.registerDefaults(
      {{"key", plist::Value::integer(3)}, {"name", plist::Value::string("x")}});
  EXPECT_EQ(defaults.integerForKey("key"), 3);
  EXPECT_EQ(defaults.stringForKey("name"), std::optional<std::string>("x"));
  EXPECT_EQ(defaults.integerForKey("never"), 0);
  defaults.setInteger("key", 5);
  EXPECT_EQ(defaults.integerForKey("key"), 5);
  defaults.waitForPendingWrite();
  std::optional<plist::Value> file = onDisk();
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, plist::Value::dict({{"key", plist::Value::integer(5)}}));
  defaults.removeObject("key");
  EXPECT_EQ(defaults.integerForKey("key"), 3);  // the registered value again
}

TEST_F(UserDefaultsTest, ChangesReachAPrivateFileSoonAndAtDestruction) {
  {
    UserDefaults defaults(path, 0.01);
    defaults.setBool("flag", true);
    defaults.setDouble("real", 0.5);
    defaults.setString("text", "a&b");
    defaults.setDate("when", 1234567890.0);
    defaults.waitForPendingWrite();
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Paths::listDir(dir), std::vector<std::string>{"Preferences.plist"});
  }
  {
    // A change still waiting for its write is written when the object goes.
    UserDefaults defaults(path, 3600.0);
    EXPECT_TRUE(defaults.boolForKey("flag"));
    EXPECT_EQ(defaults.doubleForKey("real"), 0.5);
    EXPECT_EQ(defaults.stringForKey("text"), std::optional<std::string>("a&b"));
    EXPECT_EQ(defaults.dateForKey("when"), std::optional<double>(1234567890.0));
    defaults.setInteger("late", 9);
  }
  UserDefaults again(path);
  EXPECT_EQ(again.integerForKey("late"), 9);
}

TEST_F(UserDefaultsTest, SynchronizeWritesAtOnce) {
  UserDefaults defaults(path, 3600.0);
  defaults.setInteger("n", 1);
  EXPECT_FALSE(onDisk());
  EXPECT_TRUE(defaults.synchronize());
  ASSERT_TRUE(onDisk());
  EXPECT_EQ(*onDisk()->find("n"), plist::Value::integer(1));
}

TEST_F(UserDefaultsTest, HandEditedFilesCannotConfuseTheGetters) {
  ASSERT_TRUE(
      plist::writeAtomic(path, plist::Value::dict({{"n", plist::Value::string("seven")},
                                                   {"flag", plist::Value::array()},
                                                   {"text", plist::Value::integer(3)},
                                                   {"when", plist::Value::string("yesterday")}})));
  UserDefaults defaults(path);
  EXPECT_EQ(defaults.integerForKey("n"), 0);
  EXPECT_FALSE(defaults.boolForKey("flag"));
  EXPECT_FALSE(defaults.stringForKey("text"));
  EXPECT_FALSE(defaults.dateForKey("when"));

  ASSERT_TRUE(Paths::writeAtomic(path, "<plist><dict><key>broken"));
  UserDefaults broken(path);
  EXPECT_FALSE(broken.object("n"));
  ASSERT_TRUE(plist::writeAtomic(path, plist::Value::array({plist::Value::integer(1)})));
  UserDefaults notADict(path);
  EXPECT_FALSE(notADict.object("0"));
}

// A file cut short (a crash of another program, a full disk) is not
// replaced by defaults in silence: it is set aside, its bytes kept, and the
// store says where; the next write makes a new, good file beside it.
TEST_F(UserDefaultsTest, AnUnreadableFileIsSetAsideNotOverwritten) {
  ASSERT_TRUE(plist::writeAtomic(
      path, plist::Value::dict({{"FluvanePreferenceRootKey", plist::Value::string("D")}})));
  const std::string full = *Paths::readFile(path);
  const std::string cut = full.substr(0, full.size() - 20);
  ASSERT_TRUE(Paths::writeAtomic(path, cut));
  {
    UserDefaults defaults(path, 0.01);
    EXPECT_EQ(defaults.setAside(), path + ".bad");
    EXPECT_FALSE(defaults.object("FluvanePreferenceRootKey"));
    defaults.setString("FluvanePreferenceModeKey", "Dorian");
    EXPECT_TRUE(defaults.synchronize());
  }
  EXPECT_EQ(Paths::readFile(path + ".bad"), cut);
  std::optional<plist::Value> written = onDisk();
  ASSERT_TRUE(written && written->asDict());
  EXPECT_TRUE(written->find("FluvanePreferenceModeKey"));
  UserDefaults again(path);
  EXPECT_EQ(again.setAside(), "");
}

TEST_F(UserDefaultsTest, WritersOnManyThreadsLoseNothing) {
  {
    UserDefaults defaults(path, 0.001);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&defaults, t] {
        for (int i = 0; i < 50; ++i) {
          defaults.setInteger("k" + std::to_string(t) + "-" + std::to_string(i), i);
          (void)defaults.integerForKey("k0-0");
        }
      });
    }
    for (std::thread& w : writers) w.join();
    defaults.waitForPendingWrite();
  }
  std::optional<plist::Value> file = onDisk();
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->asDict());
  EXPECT_EQ(file->asDict()->size(), 200u);
  EXPECT_EQ(*file->find("k3-49"), plist::Value::integer(49));
}

}  // namespace
