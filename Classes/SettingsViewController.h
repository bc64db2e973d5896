// The settings screen: the player's name, the key (root) and scale mode, the
// colours of the finger holes and the breath display, audio while the
// device sleeps, the melody-upload choice, touch mode, the hole layout, and
// the entry to the sign-in screen.
//
// Choices reach the engine bridge and the instrument's graphics at once;
// the preferences are written when the screen closes (deactivate) or the
// application ends (applicationWillTerminate). The switches of audio while
// sleeping and touch mode, the upload choice and the layout are stored at
// once as well.
//
// The name field takes at most kMaxNameCharacters characters (counted in
// characters, not bytes) whatever the change: a paste that would make it
// longer is cut to fit. A change starting after position 12 is refused, a
// deletion accepted, an insertion only when the name then holds a letter or
// a digit: a space alone is refused, the space of "Ana Flautista" is not.
//
// Layout: layout mode 1 shows segment 0, any other mode segment 1; segment
// 0 stores 1, segment 1 (or anything else) stores 0.
//
// The screen is built in code (buildView). Tags: name 1, root 2, mode 3,
// finger colour 4, breath colour 5, sleep switch 6, layout switch 7, touch
// switch 8, record control 9, layout control 10, sign in 11, done 12.
//
// Threads: main thread only.
#ifndef CLASSES_SETTINGSVIEWCONTROLLER_H
#define CLASSES_SETTINGSVIEWCONTROLLER_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Classes/LoginViewController.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Selectors.h"
#include "vxu/ui/VXTapView.h"
#include "vxu/ui/VXUIUtils.h"

class FluvaneChipBridge;

class SettingsViewController : public platform::ui::PickerViewDataSource,
                               public platform::ui::PickerViewDelegate,
                               public VXTapViewDelegate {
 public:
  static constexpr std::size_t kMaxNameCharacters = 13;
  enum Tag {
    kNameTag = 1,
    kRootTag,
    kModeTag,
    kFingerColorTag,
    kBreathColorTag,
    kSleepSwitchTag,
    kLayoutSwitchTag,
    kTouchSwitchTag,
    kRecordModeTag,
    kLayoutControlTag,
    kLoginTag,
    kDoneTag,
  };

  SettingsViewController();
  ~SettingsViewController() override;

  // The name field's rule: the text after replacing length characters at
  // location with replacement, or none when the change is refused.
  static std::optional<std::string> changedName(const std::string& current, std::size_t location,
                                                std::size_t length,
                                                const std::string& replacement);
  // The layout mapping.
  static int segmentForLayoutMode(int layoutMode) { return layoutMode == 1 ? 0 : 1; }
  static int layoutModeForSegment(int segment) { return segment == 0 ? 1 : 0; }

  void buildView();
  void setChipBridge(FluvaneChipBridge* bridge);
  FluvaneChipBridge* chipBridge() const { return chipBridge_; }
  void awakeFromNib();
  void activate();
  void deactivate();
  void applicationWillTerminate();
  void saveSettings();

  void pickRoot();
  void pickMode();
  void pickFingerColor();
  void pickBreathColor();

  // PickerViewDataSource / PickerViewDelegate
  int numberOfComponentsInPickerView(platform::ui::PickerView& picker) override;
  int numberOfRowsInComponent(platform::ui::PickerView& picker, int component) override;
  std::string titleForRow(platform::ui::PickerView& picker, int row, int component) override;
  double widthForComponent(platform::ui::PickerView& picker, int component) override;
  void didSelectRow(platform::ui::PickerView& picker, int row, int component) override;

  void updateEnableAudioWhenSleeping();
  void updateEnableMelodyUpload();
  void updateEnableTouchMode();
  void updateEnableLayout();

  void textFieldDidBeginEditing();
  void textFieldDidEndEditing();
  void tapViewTapped(VXTapView* view) override;
  void setMessageDelegate(MessageHandlerDelegate* delegate) override { msgDelegate_ = delegate; }
  void loginButtonPressed();
  void hideLoginView();

  MessageHandlerDelegate* msgDelegate() const { return msgDelegate_; }
  void setMsgDelegate(MessageHandlerDelegate* delegate) { msgDelegate_ = delegate; }
  // The application delegate's part: the statistics upload after a new
  // name, and the reset of the blow help and the tutorial.
  std::function<void()> uploadStats;
  std::function<void()> resetBlowableHelpAndTutorial;

  const std::shared_ptr<platform::ui::View>& settingsView() const { return settingsView_; }
  platform::ui::TextField& nameTextField() { return *nameTextField_; }
  platform::ui::TextField& rootTextField() { return *rootTextField_; }
  platform::ui::TextField& modeTextField() { return *modeTextField_; }
  platform::ui::TextField& fingerColorTextField() { return *fingerColorTextField_; }
  platform::ui::TextField& breathColorTextField() { return *breathColorTextField_; }
  platform::ui::Switch& enableAudioWhenSleepingSwitch() { return *sleepSwitch_; }
  platform::ui::Switch& enableTouchModeSwitch() { return *touchSwitch_; }
  platform::ui::SegmentedControl& recordModeControl() { return *recordModeControl_; }
  platform::ui::SegmentedControl& layoutControl() { return *layoutControl_; }
  platform::ui::PickerView* rootModePicker() const { return rootModePicker_.get(); }
  platform::ui::PickerView* colorPicker() const { return colorPicker_.get(); }
  platform::ui::View* activeInputView() const { return activeInputView_; }
  LoginViewController& loginViewController() { return *loginViewController_; }

 private:
  void initPickersIfNeeded();
  void swapActiveInputViewWithView(platform::ui::View* view);
  void colourField(platform::ui::TextField& field, const std::string& name);

  std::shared_ptr<platform::ui::View> settingsView_;
  std::shared_ptr<platform::ui::TextField> nameTextField_;
  std::shared_ptr<platform::ui::TextField> rootTextField_;
  std::shared_ptr<platform::ui::TextField> modeTextField_;
  std::shared_ptr<platform::ui::PickerView> rootModePicker_;
  std::shared_ptr<platform::ui::TextField> fingerColorTextField_;
  std::shared_ptr<platform::ui::TextField> breathColorTextField_;
  std::shared_ptr<platform::ui::PickerView> colorPicker_;
  std::shared_ptr<platform::ui::Switch> sleepSwitch_;
  std::shared_ptr<platform::ui::Switch> layoutSwitch_;
  std::shared_ptr<platform::ui::Switch> touchSwitch_;
  std::shared_ptr<platform::ui::SegmentedControl> recordModeControl_;
  std::shared_ptr<platform::ui::SegmentedControl> layoutControl_;
  std::shared_ptr<platform::ui::Button> loginButton_;
  std::unique_ptr<LoginViewController> loginViewController_;
  platform::ui::View* activeInputView_ = nullptr;
  std::vector<std::string> roots_, modes_, fingerColors_, breathColors_;
  MessageHandlerDelegate* msgDelegate_ = nullptr;
  FluvaneChipBridge* chipBridge_ = nullptr;
};

#endif
