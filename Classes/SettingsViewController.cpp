#include "Classes/SettingsViewController.h"

#include <algorithm>
#include <cctype>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneMessages.h"
#include "Classes/FluvaneScreenStyle.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneStats.h"
#include "platform/ui/Animation.h"
#include "vxu/VXBackgroundThread.h"

namespace ui = platform::ui;

namespace {

using FluvaneScreenStyle::kScreenColor;

constexpr double kLabelWidth = 140;
constexpr double kControlX = 156;
constexpr double kControlWidth = 152;

std::size_t characters(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The byte offset of a character position.
std::size_t offsetOf(const std::string& text, std::size_t position) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); i++) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == position) return i;
      seen++;
    }
  }
  return text.size();
}

std::shared_ptr<ui::Label> makeLabel(const ui::Rect& frame, const std::string& text) {
  auto label = std::make_shared<ui::Label>(frame);
  label->setText(text);
  label->setFont(ui::Font::systemFont(14));
  label->setTextColor(ui::Color::white());
  label->setUserInteractionEnabled(false);
  return label;
}

// A field that shows a choice; a touch asks for its picker instead of the
// keyboard.
class ChoiceField : public ui::TextField {
 public:
  using TextField::TextField;
  std::function<void()> onPick;
  bool becomeFirstResponder() override {
    if (onPick) onPick();
    return false;
  }
};

// The name field tells its controller when editing begins.
class NameField : public ui::TextField {
 public:
  using TextField::TextField;
  std::function<void()> onBegin;
  bool becomeFirstResponder() override {
    const bool became = TextField::becomeFirstResponder();
    if (became && onBegin) onBegin();
    return became;
  }
};

ui::Color rgb(const std::optional<ui::Color>& colour) {
  return colour ? *colour : ui::Color::white();
}

}  // namespace

std::optional<std::string> SettingsViewController::changedName(const std::string& current,
                                                                std::size_t location,
                                                                std::size_t length,
                                                                const std::string& replacement) {
  if (location > 12) return std::nullopt;
  const std::size_t total = characters(current);
  location = std::min(location, total);
  length = std::min(length, total - location);
  std::string result = current;
  const std::size_t from = offsetOf(result, location), to = offsetOf(result, location + length);
  result.replace(from, to - from, replacement);
  // An insertion must leave a name: a letter or a digit somewhere, so a
  // space alone is refused and a space between two words is not.
  if (!replacement.empty()) {
    const bool named = std::any_of(result.begin(), result.end(), [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u >= 0x80 || std::isalnum(u);
    });
    if (!named) return std::nullopt;
  }
  // Whatever the change, the name keeps at most 13 characters.
  if (characters(result) > kMaxNameCharacters) {
    result.erase(offsetOf(result, kMaxNameCharacters));
  }
  return result;
}

SettingsViewController::SettingsViewController() {
  buildView();
  awakeFromNib();
}

SettingsViewController::~SettingsViewController() {
  if (rootModePicker_) rootModePicker_->dataSource = nullptr, rootModePicker_->delegate = nullptr;
  if (colorPicker_) colorPicker_->dataSource = nullptr, colorPicker_->delegate = nullptr;
}

void SettingsViewController::buildView() {
  auto view = std::make_shared<VXTapView>(ui::Rect(0, 0, 320, 436));
  view->delegate = this;
  view->setBackgroundColor(kScreenColor);
  settingsView_ = view;
  settingsView_->addSubview(makeLabel(ui::Rect(12, 6, 296, 28), "Settings"));

  // Rows: a label (room for "Audio when asleep") and its control.
  double y = 40;
  const auto row = [&](const std::string& title, const std::shared_ptr<ui::View>& control) {
    settingsView_->addSubview(makeLabel(ui::Rect(12, y, kLabelWidth, 30), title));
    control->setFrame(ui::Rect(kControlX, y, kControlWidth, 30));
    settingsView_->addSubview(control);
    y += 36;
  };
  auto name = std::make_shared<NameField>();
  name->setTag(kNameTag);
  name->setBackgroundColor(ui::Color::white());
  name->onBegin = [this] { textFieldDidBeginEditing(); };
  name->onReturn = [this](ui::TextField& f) {
    f.resignFirstResponder();
    activeInputView_ = nullptr;
    textFieldDidEndEditing();
  };
  name->shouldChangeCharacters = [](ui::TextField& field, std::size_t location,
                                    std::size_t length, const std::string& replacement) {
    const std::optional<std::string> next =
        changedName(field.text(), location, length, replacement);
    if (!next) return false;
    // A change cut to fit is made here; one that fits goes through.
    std::string plain = field.text();
    const std::size_t from = offsetOf(plain, location);
    plain.replace(from, offsetOf(plain, location + length) - from, replacement);
    if (plain == *next) return true;
    field.setText(*next);
    return false;
  };
  nameTextField_ = name;
  row("Name", nameTextField_);

  const auto choice = [&](int tag, void (SettingsViewController::*pick)()) {
    auto field = std::make_shared<ChoiceField>();
    field->setTag(tag);
    field->setBackgroundColor(ui::Color::white());
    field->onPick = [this, pick] { (this->*pick)(); };
    return field;
  };
  rootTextField_ = choice(kRootTag, &SettingsViewController::pickRoot);
  row("Key", rootTextField_);
  modeTextField_ = choice(kModeTag, &SettingsViewController::pickMode);
  row("Mode", modeTextField_);
  fingerColorTextField_ = choice(kFingerColorTag, &SettingsViewController::pickFingerColor);
  row("Finger colour", fingerColorTextField_);
  breathColorTextField_ = choice(kBreathColorTag, &SettingsViewController::pickBreathColor);
  row("Breath colour", breathColorTextField_);

  sleepSwitch_ = std::make_shared<ui::Switch>();
  sleepSwitch_->setTag(kSleepSwitchTag);
  sleepSwitch_->addTarget([this](ui::Control&) { updateEnableAudioWhenSleeping(); },
                          ui::kValueChanged);
  row("Audio when asleep", sleepSwitch_);
  touchSwitch_ = std::make_shared<ui::Switch>();
  touchSwitch_->setTag(kTouchSwitchTag);
  touchSwitch_->addTarget([this](ui::Control&) { updateEnableTouchMode(); }, ui::kValueChanged);
  row("Touch mode", touchSwitch_);
  layoutSwitch_ = std::make_shared<ui::Switch>();
  layoutSwitch_->setTag(kLayoutSwitchTag);
  recordModeControl_ = std::make_shared<ui::SegmentedControl>(
      ui::Rect(0, 0, kControlWidth, 30), std::vector<std::string>{"Off", "Upload", "Manual"});
  recordModeControl_->setTag(kRecordModeTag);
  recordModeControl_->addTarget([this](ui::Control&) { updateEnableMelodyUpload(); },
                                ui::kValueChanged);
  row("Melodies", recordModeControl_);
  layoutControl_ = std::make_shared<ui::SegmentedControl>(
      ui::Rect(0, 0, kControlWidth, 30), std::vector<std::string>{"Layout 1", "Layout 2"});
  layoutControl_->setTag(kLayoutControlTag);
  layoutControl_->addTarget([this](ui::Control&) { updateEnableLayout(); }, ui::kValueChanged);
  row("Hole layout", layoutControl_);

  loginButton_ = std::make_shared<ui::Button>(ui::Rect(12, 388, 140, 36));
  loginButton_->setTag(kLoginTag);
  loginButton_->setTitle("Sign in");
  loginButton_->setTitleColor(ui::Color::white());
  loginButton_->setBackgroundColor(ui::Color{0.2, 0.3, 0.55, 1});
  loginButton_->addTarget([this](ui::Control&) { loginButtonPressed(); }, ui::kTouchUpInside);
  settingsView_->addSubview(loginButton_);
  auto done = std::make_shared<ui::Button>(ui::Rect(168, 388, 140, 36));
  done->setTag(kDoneTag);
  done->setTitle("Done");
  done->setTitleColor(ui::Color::white());
  done->setBackgroundColor(ui::Color{0.2, 0.3, 0.55, 1});
  done->addTarget([this](ui::Control&) { deactivate(); }, ui::kTouchUpInside);
  settingsView_->addSubview(done);

  loginViewController_ = std::make_unique<LoginViewController>();
}

void SettingsViewController::setChipBridge(FluvaneChipBridge* bridge) {
  chipBridge_ = bridge;
  if (chipBridge_ == nullptr) return;
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  chipBridge_->setRoot(prefs.root());
  chipBridge_->setMode(prefs.mode());
  chipBridge_->setEnableSnippetUpload(prefs.enableMelodyUpload() == 1);
  chipBridge_->setEnableTouchMode(prefs.enableTouchMode());
}

void SettingsViewController::colourField(ui::TextField& field, const std::string& name) {
  field.setText(name);
  field.setBackgroundColor(rgb(FluvanePreferences::uiColorForColorName(name)));
}

void SettingsViewController::awakeFromNib() {
  settingsView_->setAlpha(0);
  activeInputView_ = nullptr;
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  nameTextField_->setText(FluvaneStats::defaultFluvaneStats().fluvaneName());
  rootTextField_->setText(prefs.root());
  modeTextField_->setText(prefs.mode());
  colourField(*fingerColorTextField_, prefs.fingerColor());
  colourField(*breathColorTextField_, prefs.breathColor());
  const ui::Color hole =
      rgb(FluvanePreferences::fingerColorForFingerColorName(prefs.fingerColor()));
  FluvaneGfx::setHoleColor(float(hole.r), float(hole.g), float(hole.b));
  const ui::Color breath =
      rgb(FluvanePreferences::breathColorForBreathColorName(prefs.breathColor()));
  FluvaneGfx::setRippleColor(float(breath.r), float(breath.g), float(breath.b));
  sleepSwitch_->setOn(prefs.enableAudioWhenSleeping());
  touchSwitch_->setOn(prefs.enableTouchMode());
  recordModeControl_->setSelectedSegmentIndex(prefs.enableMelodyUpload());
  roots_ = FluvanePreferences::availableRoots();
  modes_ = FluvanePreferences::availableModes();
  fingerColors_ = FluvanePreferences::availableFingerColors();
  breathColors_ = FluvanePreferences::availableBreathColors();
  const int layout = prefs.getLayoutMode();
  layoutControl_->setSelectedSegmentIndex(segmentForLayoutMode(layout));
  FluvaneGfx::setLayoutMode(layout);
}

void SettingsViewController::activate() {
  ui::beginAnimations("kSettingsFadeIn");
  ui::Animator::shared().setAnimationDuration(0.5);
  settingsView_->setAlpha(1);
  ui::commitAnimations();
}

void SettingsViewController::deactivate() {
  ui::beginAnimations("kSettingsFadeOut");
  ui::Animator::shared().setAnimationDuration(0.5);
  settingsView_->setAlpha(0);
  ui::commitAnimations();
  saveSettings();
  if (msgDelegate_ != nullptr) msgDelegate_->receiveMsg(kFluvaneMsgCloseSettings);
}

void SettingsViewController::applicationWillTerminate() { saveSettings(); }

void SettingsViewController::saveSettings() {
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  stats.setFluvaneName(nameTextField_->text());
  stats.serializeToDisk();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  prefs.setRoot(rootTextField_->text());
  prefs.setMode(modeTextField_->text());
  prefs.setFingerColor(fingerColorTextField_->text());
  prefs.setBreathColor(breathColorTextField_->text());
  prefs.setEnableAudioWhenSleeping(sleepSwitch_->on());
  prefs.setEnableMelodyUpload(recordModeControl_->selectedSegmentIndex());
  prefs.setEnableTouchMode(touchSwitch_->on());
  prefs.synchronize();
}

// --- Pickers ---

void SettingsViewController::initPickersIfNeeded() {
  const double top = settingsView_->bounds().height();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  const auto indexOf = [](const std::vector<std::string>& table, const std::string& name) {
    const auto at = std::find(table.begin(), table.end(), name);
    return at == table.end() ? 0 : static_cast<int>(at - table.begin());
  };
  const auto make = [&](std::shared_ptr<ui::PickerView>& picker, int first, int second) {
    if (picker) return;
    picker = std::make_shared<ui::PickerView>();
    picker->dataSource = this;
    picker->delegate = this;
    const ui::Rect f = picker->frame();
    picker->setFrame(ui::Rect(0, top, f.width(), f.height()));
    picker->reloadAllComponents();
    picker->selectRow(first, 0, false);
    picker->selectRow(second, 1, false);
  };
  make(rootModePicker_, indexOf(roots_, prefs.root()), indexOf(modes_, prefs.mode()));
  make(colorPicker_, indexOf(fingerColors_, prefs.fingerColor()),
       indexOf(breathColors_, prefs.breathColor()));
}

void SettingsViewController::swapActiveInputViewWithView(ui::View* view) {
  if (view == activeInputView_) return;
  const double height = settingsView_->bounds().height();
  if (activeInputView_ == nameTextField_.get()) {
    nameTextField_->resignFirstResponder();
  } else if (activeInputView_ != nullptr) {
    ui::beginAnimations("kPickerOutAnimation");
    ui::Animator::shared().setAnimationDuration(0.25);
    // Below the settings the picker would still show, over the toolbar's
    // band at the screen's foot: once down, it leaves the screen (it is put
    // back when next chosen). A slide cut short by its return stays.
    std::weak_ptr<ui::View> leaving;
    if (activeInputView_ == rootModePicker_.get()) leaving = rootModePicker_;
    if (activeInputView_ == colorPicker_.get()) leaving = colorPicker_;
    ui::Animator::shared().setAnimationDidStop(
        [leaving](const std::string&, bool finished, void*) {
          std::shared_ptr<ui::View> picker = leaving.lock();
          if (finished && picker) picker->removeFromSuperview();
        });
    const ui::Rect f = activeInputView_->frame();
    activeInputView_->setFrame(ui::Rect(f.x(), height, f.width(), f.height()));
    ui::commitAnimations();
  }
  if (view != nullptr && view != nameTextField_.get()) {
    settingsView_->addSubview(view == rootModePicker_.get() ? rootModePicker_ : colorPicker_);
    ui::beginAnimations("kPickerInAnimation");
    ui::Animator::shared().setAnimationDuration(0.25);
    const ui::Rect f = view->frame();
    view->setFrame(ui::Rect(f.x(), height - f.height(), f.width(), f.height()));
    ui::commitAnimations();
  }
  activeInputView_ = view;
}

void SettingsViewController::pickRoot() {
  initPickersIfNeeded();
  swapActiveInputViewWithView(rootModePicker_.get());
}
void SettingsViewController::pickMode() { pickRoot(); }
void SettingsViewController::pickFingerColor() {
  initPickersIfNeeded();
  swapActiveInputViewWithView(colorPicker_.get());
}
void SettingsViewController::pickBreathColor() { pickFingerColor(); }

int SettingsViewController::numberOfComponentsInPickerView(ui::PickerView& picker) {
  return &picker == rootModePicker_.get() || &picker == colorPicker_.get() ? 2 : 0;
}

int SettingsViewController::numberOfRowsInComponent(ui::PickerView& picker, int component) {
  const bool rootMode = &picker == rootModePicker_.get();
  const bool colours = &picker == colorPicker_.get();
  if (rootMode) return static_cast<int>(component == 0 ? roots_.size() : modes_.size());
  if (colours) {
    return static_cast<int>(component == 0 ? fingerColors_.size() : breathColors_.size());
  }
  return 0;
}

std::string SettingsViewController::titleForRow(ui::PickerView& picker, int row, int component) {
  const std::vector<std::string>* table = nullptr;
  if (&picker == rootModePicker_.get()) table = component == 0 ? &roots_ : &modes_;
  if (&picker == colorPicker_.get()) table = component == 0 ? &fingerColors_ : &breathColors_;
  if (table == nullptr || component < 0 || component > 1 || row < 0 ||
      row >= static_cast<int>(table->size())) {
    return "";
  }
  return (*table)[row];
}

double SettingsViewController::widthForComponent(ui::PickerView&, int) { return 140; }

void SettingsViewController::didSelectRow(ui::PickerView& picker, int row, int component) {
  const std::string name = titleForRow(picker, row, component);
  if (name.empty()) return;
  if (&picker == rootModePicker_.get()) {
    if (component == 0) {
      rootTextField_->setText(name);
      if (chipBridge_) chipBridge_->setRoot(name);
    } else {
      modeTextField_->setText(name);
      if (chipBridge_) chipBridge_->setMode(name);
    }
  } else if (&picker == colorPicker_.get()) {
    if (component == 0) {
      colourField(*fingerColorTextField_, name);
      const ui::Color c = rgb(FluvanePreferences::fingerColorForFingerColorName(name));
      FluvaneGfx::setHoleColor(float(c.r), float(c.g), float(c.b));
    } else {
      colourField(*breathColorTextField_, name);
      const ui::Color c = rgb(FluvanePreferences::breathColorForBreathColorName(name));
      FluvaneGfx::setRippleColor(float(c.r), float(c.g), float(c.b));
    }
  }
}

// --- Switches and segments ---

void SettingsViewController::updateEnableAudioWhenSleeping() {
  FluvanePreferences::standardFluvanePreferences().setEnableAudioWhenSleeping(sleepSwitch_->on());
}

void SettingsViewController::updateEnableMelodyUpload() {
  const int segment = recordModeControl_->selectedSegmentIndex();
  if (chipBridge_) chipBridge_->setEnableSnippetUpload(segment == 1);
  FluvanePreferences::standardFluvanePreferences().setEnableMelodyUpload(segment);
}

void SettingsViewController::updateEnableTouchMode() {
  const bool on = touchSwitch_->on();
  if (chipBridge_) chipBridge_->setEnableTouchMode(on);
  FluvanePreferences::standardFluvanePreferences().setEnableTouchMode(on);
  FluvaneGfx::fluvaneGFXsetTouchMode(on);
  if (resetBlowableHelpAndTutorial) resetBlowableHelpAndTutorial();
}

void SettingsViewController::updateEnableLayout() {
  const int layout = layoutModeForSegment(layoutControl_->selectedSegmentIndex());
  FluvanePreferences::standardFluvanePreferences().setLayoutMode(layout);
  FluvaneGfx::setLayoutMode(layout);
}

// --- The name field and taps ---

void SettingsViewController::textFieldDidBeginEditing() {
  swapActiveInputViewWithView(nameTextField_.get());
}

void SettingsViewController::textFieldDidEndEditing() {
  FluvaneStats::defaultFluvaneStats().setFluvaneName(nameTextField_->text());
  if (uploadStats) {
    VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(uploadStats);
  }
}

void SettingsViewController::tapViewTapped(VXTapView*) {
  if (nameTextField_->isFirstResponder()) {
    nameTextField_->resignFirstResponder();
    activeInputView_ = nullptr;
    textFieldDidEndEditing();
  } else {
    swapActiveInputViewWithView(nullptr);
  }
}

void SettingsViewController::loginButtonPressed() {
  loginViewController_->checkSignedInStatus();
  settingsView_->addSubview(loginViewController_->view());
}

void SettingsViewController::hideLoginView() {
  loginViewController_->view()->removeFromSuperview();
}
