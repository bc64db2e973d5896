// The settings screen driven by taps and typing: the name field's rule, the
// pickers, the switches and segments, the layout mapping, the bridge told at
// once and the preferences written at close.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneStats.h"
#include "Classes/SettingsViewController.h"
#include "vxu/ui/vxu_ui_test_support.h"
#include "vxu/vxign.h"

namespace {

struct Messages : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
};

class SettingsScreen : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
    prefs.setRoot("C");
    prefs.setMode("Ionian");
    prefs.setEnableMelodyUpload(1);
    prefs.setLayoutMode(1);
    settings = std::make_unique<SettingsViewController>();
    settings->setChipBridge(&bridge);
    settings->setMsgDelegate(&messages);
    window().addSubview(settings->settingsView());
    settings->activate();
    ui().advance(1.0);
  }
  void TearDown() override {
    settings.reset();
    FrameworkUiTest::TearDown();
  }
  void tapView(platform::ui::View* v) {
    ASSERT_NE(v, nullptr);
    const platform::ui::Rect b = v->bounds();
    const platform::ui::Point c =
        v->convertTo(platform::ui::Point{b.x() + b.width() / 2, b.y() + b.height() / 2}, nullptr);
    ui().tap(c.x, c.y);
  }
  void tapTag(int tag) { tapView(ui().findByTag(tag)); }
  Vexel_Integration& store() { return Vexel_Integration::instance(); }

  FluvaneChipBridge bridge;
  Messages messages;
  std::unique_ptr<SettingsViewController> settings;
};

}  // namespace

TEST(SettingsName, TheRuleOfTheNameField) {
  const std::string twenty = "abcdefghijklmnopqrst";
  const struct {
    const char* current;
    std::size_t location, length;
    std::string replacement;
    std::optional<std::string> result;
  } table[] = {
      {"", 0, 0, " ", std::nullopt},                          // a space alone
      {"", 0, 0, "a", "a"},                                   // a letter
      {"", 0, 0, "7", "7"},                                   // a digit
      {"ab", 2, 0, " c", "ab c"},                             // a space with a letter
      {"Ana", 3, 0, " ", "Ana "},                             // a space between words
      {"", 0, 0, "-", std::nullopt},                          // a dash alone
      {"a", 0, 1, " ", std::nullopt},                         // the only letter replaced
      {"", 0, 0, twenty, twenty.substr(0, 13)},               // 20 pasted: cut to 13
      {"bob", 0, 0, twenty, twenty.substr(0, 13)},            // pasted at 0
      {"abcdefghijklm", 13, 0, "x", std::nullopt},            // starts after 12
      {"abcdefghijkl", 12, 0, "x", "abcdefghijklx"},          // the 13th character
      {"abcdefghijklm", 12, 1, "", "abcdefghijkl"},           // a deletion
      {"abc", 1, 1, "", "ac"},                                // a deletion inside
      {"", 0, 0, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                 "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       std::string(13 * 2, '\0')},  // 15 two-byte letters: 13 kept (checked below)
  };
  for (const auto& row : table) {
    const std::optional<std::string> got =
        SettingsViewController::changedName(row.current, row.location, row.length,
                                            row.replacement);
    ASSERT_EQ(got.has_value(), row.result.has_value()) << row.current << "+" << row.replacement;
    if (got && row.result->find('\0') == std::string::npos) {
      EXPECT_EQ(*got, *row.result);
    }
    if (got && row.result->find('\0') != std::string::npos) {
      EXPECT_EQ(got->size(), 26u);  // characters, not bytes
      EXPECT_EQ(got->substr(0, 2), "\xC3\xA9");
    }
  }
}

TEST(SettingsLayout, TheLayoutMapping) {
  for (auto [mode, segment] : {std::pair{1, 0}, {0, 1}, {2, 1}, {-1, 1}}) {
    EXPECT_EQ(SettingsViewController::segmentForLayoutMode(mode), segment) << mode;
  }
  for (auto [segment, mode] : {std::pair{0, 1}, {1, 0}, {2, 0}, {-1, 0}}) {
    EXPECT_EQ(SettingsViewController::layoutModeForSegment(segment), mode) << segment;
  }
}

TEST_F(SettingsScreen, TheNameFieldRefusesASpaceAloneAndCapsAPaste) {
  settings->nameTextField().setText("");
  tapTag(SettingsViewController::kNameTag);
  EXPECT_EQ(settings->activeInputView(), &settings->nameTextField());
  ui().typeText(" ");
  EXPECT_EQ(settings->nameTextField().text(), "");
  ui().typeText("a");
  EXPECT_EQ(settings->nameTextField().text(), "a");
  settings->nameTextField().replaceCharacters(0, 0, "abcdefghijklmnopqrst");
  EXPECT_EQ(settings->nameTextField().text(), "abcdefghijklm");
  ui().typeText("z");  // at position 13
  EXPECT_EQ(settings->nameTextField().text(), "abcdefghijklm");
  ui().backspace();
  EXPECT_EQ(settings->nameTextField().text(), "abcdefghijkl");
  // Return ends editing and stores the name.
  ui().enter();
  EXPECT_EQ(FluvaneStats::defaultFluvaneStats().fluvaneName(), "abcdefghijkl");
}

TEST_F(SettingsScreen, ChoosingLydianTellsTheBridgeAtOnceAndThePreferencesAtClose) {
  tapTag(SettingsViewController::kModeTag);
  ui().advance(0.5);
  platform::ui::PickerView* picker = settings->rootModePicker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(settings->activeInputView(), picker);
  EXPECT_EQ(picker->frame().maxY(), settings->settingsView()->bounds().height());
  // Ionian is row 0 of the modes: Lydian (row 3) is out of sight; go down.
  tapView(picker->rowButton(1, 2));  // Phrygian, row 2
  tapView(picker->rowButton(1, 1));  // Lydian, row 3
  EXPECT_EQ(settings->modeTextField().text(), "Lydian");
  EXPECT_EQ(store().get_int(VXIGN_MODE_KEY), 7);
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().mode(), "Ionian");
  ui().tap(160, 20);  // the picker goes (it covers Done)
  ui().advance(0.5);
  tapTag(SettingsViewController::kDoneTag);
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().mode(), "Lydian");
  EXPECT_EQ(messages.codes, std::vector<int>{4001});
}

TEST_F(SettingsScreen, ManualRecordingStoresTwoAndTurnsAutomaticUploadOff) {
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY), 1);
  tapView(settings->recordModeControl().segment(2));
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().enableMelodyUpload(), 2);
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY), 0);
  tapView(settings->recordModeControl().segment(1));
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY), 1);
}

TEST_F(SettingsScreen, TheLayoutAndTouchModeAreStoredAtOnce) {
  EXPECT_EQ(settings->layoutControl().selectedSegmentIndex(), 0);  // layout mode 1
  tapView(settings->layoutControl().segment(1));
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().getLayoutMode(), 0);
  int resets = 0;
  settings->resetBlowableHelpAndTutorial = [&] { resets++; };
  const bool touch = settings->enableTouchModeSwitch().on();
  tapTag(SettingsViewController::kTouchSwitchTag);
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().enableTouchMode(), !touch);
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_TOUCH_MODE_KEY), touch ? 0 : 1);
  EXPECT_EQ(resets, 1);
}

TEST_F(SettingsScreen, ATapOutsideSlidesTheColourPickerAway) {
  // The band below the settings (the toolbar's, on the instrument) as it
  // is with no picker.
  const platform::ui::Rect settingsBox = settings->settingsView()->frame();
  const auto band = [&](const std::vector<std::uint8_t>& frame) {
    const std::size_t row = 320 * 4;
    return std::vector<std::uint8_t>(
        frame.begin() + static_cast<std::ptrdiff_t>(settingsBox.maxY() * row), frame.end());
  };
  ASSERT_EQ(settings->settingsView()->convertTo(platform::ui::Point{0, 0}, nullptr).y, 0);
  const std::vector<std::uint8_t> bare = band(ui().frame());
  ASSERT_FALSE(bare.empty());
  tapTag(SettingsViewController::kFingerColorTag);
  ui().advance(0.5);
  platform::ui::PickerView* picker = settings->colorPicker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(settings->activeInputView(), picker);
  tapView(picker->rowButton(0, 1));  // the next finger colour
  EXPECT_EQ(settings->fingerColorTextField().text(),
            FluvanePreferences::availableFingerColors()[picker->selectedRowInComponent(0)]);
  ui().tap(160, 20);  // the screen's title: outside every control
  ui().advance(0.5);
  EXPECT_EQ(settings->activeInputView(), nullptr);
  EXPECT_EQ(picker->frame().y(), settings->settingsView()->bounds().height());
  // Gone from below the settings too: nothing of it shows in the band.
  EXPECT_TRUE(band(ui().frame()) == bare) << "the picker shows below the settings";
  ui().tap(160, 20);
  ui().advance(0.5);
  EXPECT_EQ(settings->activeInputView(), nullptr);
  EXPECT_EQ(picker->frame().y(), settings->settingsView()->bounds().height());
  // Chosen again, it slides back in.
  tapTag(SettingsViewController::kBreathColorTag);
  ui().advance(0.5);
  EXPECT_EQ(settings->activeInputView(), picker);
  EXPECT_EQ(picker->superview(), settings->settingsView().get());
  EXPECT_EQ(picker->frame().maxY(), settings->settingsView()->bounds().height());
}
