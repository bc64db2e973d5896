// The instrument's preferences over user defaults of their own: the values of
// a fresh install, touch mode by device model, the name tables, and the
// defaults file's mode (it holds the password).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "Classes/FluvanePreferences.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "vxu/VXUtils.h"

using platform::Paths;

namespace {

class FluvanePreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = Paths::join(Paths::home(), "prefs-" + std::to_string(counter++) + ".plist");
    Paths::remove(path);
  }
  void TearDown() override {
    unsetenv("FLUVANE_MACHINE");
    reset_device_facts();
  }
  static void setMachine(const char* machine) {
    setenv("FLUVANE_MACHINE", machine, 1);
    reset_device_facts();
  }
  static inline int counter = 0;
  std::string path;
};

TEST_F(FluvanePreferencesTest, AFreshInstallReadsTheDefaults) {
  setMachine("iPhone1,2");
  platform::UserDefaults defaults(path);
  FluvanePreferences prefs(&defaults);
  EXPECT_EQ(prefs.root(), "C (8va)");
  EXPECT_EQ(FluvanePreferences::rootIndexForRootName(prefs.root()), 72);
  EXPECT_EQ(prefs.mode(), "Ionian");
  EXPECT_EQ(FluvanePreferences::modeIndexForModeName(prefs.mode()), 4);
  EXPECT_EQ(prefs.fingerColor(), "blue");
  EXPECT_EQ(prefs.breathColor(), "green");
  EXPECT_TRUE(prefs.enableAudioWhenSleeping());
  EXPECT_EQ(prefs.enableMelodyUpload(), 1);
  EXPECT_EQ(prefs.getLayoutMode(), 1);
  EXPECT_FALSE(prefs.enableTouchMode());
  EXPECT_EQ(prefs.getUsername(), "");
  EXPECT_EQ(prefs.getPassword(), "");
  EXPECT_FALSE(prefs.isSignedIn());
  EXPECT_FALSE(prefs.infoBoxText().empty());  // the base's entry is still there
}

TEST_F(FluvanePreferencesTest, TouchModeDefaultsOnOnlyForTheTwoPodModels) {
  struct Case {
    const char* machine;
    bool touch;
  };
  for (Case c : {Case{"iPod1,1", true}, Case{"iPod2,1", true}, Case{"iPhone1,1", false},
                 Case{"iPhone1,2", false}, Case{"Linux-box", false}}) {
    setMachine(c.machine);
    platform::UserDefaults defaults(path);
    FluvanePreferences prefs(&defaults);
    EXPECT_EQ(prefs.enableTouchMode(), c.touch) << c.machine;
    // A stored choice wins over the model's default.
    prefs.setEnableTouchMode(!c.touch);
    EXPECT_EQ(prefs.enableTouchMode(), !c.touch) << c.machine;
    defaults.removeObject(FluvanePreferenceEnableTouchMode);
  }
}

TEST_F(FluvanePreferencesTest, SettersWriteThroughAndSurviveANewObject) {
  {
    platform::UserDefaults defaults(path);
    FluvanePreferences prefs(&defaults);
    prefs.setRoot("B (8va)");
    prefs.setMode("Lydian");
    prefs.setFingerColor("red");
    prefs.setBreathColor("cyan");
    prefs.setEnableAudioWhenSleeping(false);
    prefs.setEnableMelodyUpload(2);
    prefs.setLayoutMode(0);
    prefs.setUsername("ann");
    prefs.setPassword("s3cret");
    prefs.setSignedIn(true);
    ASSERT_TRUE(prefs.synchronize());
  }
  platform::UserDefaults reread(path);
  FluvanePreferences prefs(&reread);
  EXPECT_EQ(prefs.root(), "B (8va)");
  EXPECT_EQ(prefs.mode(), "Lydian");
  EXPECT_EQ(prefs.fingerColor(), "red");
  EXPECT_EQ(prefs.breathColor(), "cyan");
  EXPECT_FALSE(prefs.enableAudioWhenSleeping());
  EXPECT_EQ(prefs.enableMelodyUpload(), 2);
  EXPECT_EQ(prefs.getLayoutMode(), 0);
  EXPECT_EQ(prefs.getUsername(), "ann");
  EXPECT_EQ(prefs.getPassword(), "s3cret");
  EXPECT_TRUE(prefs.isSignedIn());
  // The file holds the password: only its owner may read it.
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(FluvanePreferencesTest, RootAndModeTables) {
  const std::vector<std::string>& roots = FluvanePreferences::availableRoots();
  ASSERT_EQ(roots.size(), 24u);
  for (std::size_t i = 0; i < roots.size(); i++) {
    EXPECT_EQ(FluvanePreferences::rootIndexForRootName(roots[i]), 60 + static_cast<int>(i))
        << roots[i];
  }
  EXPECT_EQ(FluvanePreferences::rootIndexForRootName("C"), 60);
  EXPECT_EQ(FluvanePreferences::rootIndexForRootName("B (8va)"), 83);
  EXPECT_EQ(FluvanePreferences::rootIndexForRootName("H"), 0);
  EXPECT_EQ(FluvanePreferences::rootIndexForRootName(""), 0);

  struct Case {
    const char* mode;
    int number;
  };
  const std::vector<std::string>& modes = FluvanePreferences::availableModes();
  ASSERT_EQ(modes, (std::vector<std::string>{"Ionian", "Dorian", "Phrygian", "Lydian",
                                             "Mixolydian", "Aeolian", "Locrian", "Valorian"}));
  for (Case c : {Case{"Mixolydian", 0}, Case{"Aeolian", 1}, Case{"Locrian", 2},
                 Case{"Valorian", 3}, Case{"Ionian", 4}, Case{"Dorian", 5}, Case{"Phrygian", 6},
                 Case{"Lydian", 7}, Case{"lydian", 0}, Case{"Blues", 0}}) {
    EXPECT_EQ(FluvanePreferences::modeIndexForModeName(c.mode), c.number) << c.mode;
  }
}

TEST_F(FluvanePreferencesTest, ColourTables) {
  using Color = FluvanePreferences::Color;
  const std::vector<std::string> names = {"blue", "brown", "cyan", "green",
                                          "radio", "red", "yellow"};
  EXPECT_EQ(FluvanePreferences::availableFingerColors(), names);
  EXPECT_EQ(FluvanePreferences::availableBreathColors(), names);
  struct Case {
    const char* name;
    Color finger;
    Color breath;
  };
  for (const Case& c : {Case{"red", {1, 0.25, 0.25, 1}, {1, 0.25, 0.25, 1}},
                        Case{"blue", {0.5, 0.5, 1, 1}, {0.25, 0.25, 1, 1}},
                        Case{"green", {0.5, 1, 0.25, 1}, {0.5, 1, 0.25, 1}},
                        Case{"cyan", {0, 1, 1, 1}, {0.25, 1, 1, 1}},
                        Case{"yellow", {1, 1, 0.25, 1}, {1, 1, 0.25, 1}},
                        Case{"brown", {0.75, 0.45, 0, 1}, {0.75, 0.5, 0, 1}},
                        Case{"radio", {0.75, 1, 0.25, 1}, {0.75, 1, 0.25, 1}}}) {
    EXPECT_EQ(FluvanePreferences::fingerColorForFingerColorName(c.name), c.finger) << c.name;
    EXPECT_EQ(FluvanePreferences::uiColorForColorName(c.name), c.finger) << c.name;
    EXPECT_EQ(FluvanePreferences::breathColorForBreathColorName(c.name), c.breath) << c.name;
  }
  EXPECT_NE(FluvanePreferences::fingerColorForFingerColorName("blue"),
            FluvanePreferences::breathColorForBreathColorName("blue"));
  EXPECT_FALSE(FluvanePreferences::fingerColorForFingerColorName("purple"));
  EXPECT_FALSE(FluvanePreferences::breathColorForBreathColorName(""));
}

}  // namespace
