// The instrument's application delegate: the launch, the engine's thread,
// the life cycle, the hooks that tailor the framework's delegate, and the
// hub of the message codes.
//
// Launch (applicationDidFinishLaunching): counts application time, the
// framework's launch steps, the launch counters, the instrument screen
// (EAGLView, the host's GL frame) with the settings, information and
// tutorial backgrounds and the toolbar on it, touch mode, layout and colours
// from the preferences, launch point 1, the engine bridge (its keys' start
// values), and last the engine on a thread of its own with the four scripts
// (startEngine: FluvaneChipBridge::launchEngine).
//
// Engine ready ("iPhone: chip ready", once): the ready time, the blow hint,
// the screen's animation, then the framework's ready steps (tutorial offer,
// launch point 2: the statistics upload and the framework's tasks).
//
// Life cycle: resigning active stops counting time and pauses the engine
// and the animation, except in the globe with audio while sleeping on (then
// only drawing stops); becoming active resumes them. Terminating (the window
// closed, Escape, a quit signal, the end of an automation) stops the engine
// and waits for its thread (at most kEngineStopSeconds) before the
// temporary scripts are deleted; a recording still running then is ended
// and kept like a stop (an automatic one also waits in the outbox); then
// statistics and preferences are saved. An
// engine thread that does not end in time keeps its scripts (logged); the
// host ends the process without waiting for it.
//
// Messages (receiveMsg), as the toolbar, the screen, the graphics and the
// help send them (the framework's codes are VXMessageCode, the instrument's
// FluvaneMessageCode). The codes that change screens are rows of one table
// (screens()): what each opens, closes and hides, in a fixed order of steps
// (showScreen); the others are handled one by one:
//   100-103  forwarded to the main toolbar (hide, show, expand, collapse)
//   300      help finished: playback off, the help closes, location starts,
//            the blow hint shows, the recording toolbar shows (manual
//            recording)
//   301      help page changed: on page 4 the information screen closes,
//            the toolbar collapses and the help tune plays; on other pages
//            the tune stops and, after the first, the holes show playback;
//            the help stays in front
//   1001     left the globe: the blow hint again unless it was blown away;
//            the recording toolbar shows (manual recording)
//   1002     went to the globe: playback stops, the blow hint closes, the
//            recording toolbar goes
//   1004     information: playback stops; settings, tutorial, the tagged
//            view (1337) and the hint close, the recording toolbar goes, the
//            add-in loads, the information screen opens, the toolbar expands
//   1007     the framework toolbar's settings button: as 4000
//   1005     information closed: the tagged view back, info and tutorial
//            closed, the recording toolbar back (manual recording)
//   1006     how to play: the help
//   4000     settings: playback stops; the tagged view back, info and
//            tutorial closed, the hint closed, the recording toolbar goes,
//            settings open
//   4001     settings closed: the tagged view back, info, settings and
//            tutorial closed, the recording toolbar goes (a recording
//            stops) and comes back when manual recording is chosen
//   4002     a breath ripple: after four while the hint shows, it is blown
//            away (closed, and stays closed until resetBlowableHelp); the
//            recording controller hears it too
//   4003-4006 the recording toolbar's record, play, upload and e-mail
//            buttons, for the recording controller
//   4007     breath ran down (for the recording controller)
//   4008     help tune ended: the help turns to its next page
//
// Threads: main thread; the engine's own thread runs in the bridge.
#ifndef CLASSES_FLUVANEAPPDELEGATE_H
#define CLASSES_FLUVANEAPPDELEGATE_H

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneMessages.h"
#include "Classes/FluvaneStats.h"
#include "Classes/InfoViewController.h"
#include "Classes/SettingsViewController.h"
#include "Classes/RecordingController.h"
#include "platform/ui/Controls.h"
#include "vxu/ui/VXAppDelegate.h"
#include "vxu/ui/VXTapView.h"

// The hint that asks the player to blow (or, in touch mode, to touch the
// blow area). It takes no touches, so fingers reach the holes beneath.
class BlowableView : public platform::ui::View {
 public:
  static constexpr int kTag = 4100;
  explicit BlowableView(const platform::ui::Rect& frame = platform::ui::Rect(0, 0, 320, 480));
  std::string className() const override { return "BlowableView"; }
  // Shows the touch hint in touch mode, the blow hint otherwise.
  void setupBlowableView();

  std::shared_ptr<platform::ui::ImageView> touchView;
  std::shared_ptr<platform::ui::ImageView> windView;
};

class FluvaneAppDelegate : public VXAppDelegate {
 public:
  static constexpr double kEngineStopSeconds = 5.0;
  static constexpr int kAppID = 4;
  static constexpr int kHelpPages = 6;
  static constexpr int kTaggedViewTag = 1337;

  // Builds the screens other than the instrument screen (made at launch,
  // when the host's GL context exists).
  FluvaneAppDelegate();
  ~FluvaneAppDelegate() override;

  // --- Life cycle ---
  void applicationDidFinishLaunching(platform::ui::Application& app) override;
  void applicationWillResignActive(platform::ui::Application& app) override;
  void applicationDidBecomeActive(platform::ui::Application& app) override;
  void applicationWillTerminate(platform::ui::Application& app) override;

  // --- Hooks ---
  int getAppID() override { return kAppID; }
  platform::ui::View* getTutorialParentView() override { return glView.get(); }
  bool hasAddInInfoScreen() override { return true; }
  std::optional<std::string> infoAddDefaultURL() override;
  int getCheckForVexelMessageLaunchPoint() override { return 1; }
  bool askUserToWatchTutorial() override;
  double getWaitTimeBeforeVexelMessage() override;
  void chipReady() override;
  void showHelp() override;
  // Launch point 2 adds the instrument's statistics upload.
  void launchBackGroundThreads(int launchPoint) override;

  // The statistics upload's body (background thread): works on the copy.
  static void uploadStats(const FluvaneStats::Upload& stats);

  // Automated runs (the demo, --automate) play the instrument, not the
  // first start's tutorial: with this off the tutorial is never offered.
  void setOffersTutorial(bool on) { offersTutorial_ = on; }

  // --- Views and messages ---
  void openView(platform::ui::View* view);
  void closeView(platform::ui::View* view);
  void openHelp();
  void closeHelp();
  void resetBlowableHelp();
  // With manual recording chosen, the recording toolbar goes into the
  // instrument screen below the main toolbar.
  void showRecordingViewsIfManual();
  // The recording controller's answer (the sign-in screen asks it).
  bool hasUnsavedRecording() const {
    return recordingController && recordingController->hasUnsavedRecording();
  }
  void receiveMsg(int code) override;

  // --- Screens ---
  // The views a screen change opens or closes.
  enum class ScreenView { None, Settings, Info, Tutorial, Tagged };
  // What becomes of the blow hint: closed before the screen opens; opened
  // after it (as is, or prepared for the input mode unless blown away).
  enum class HintStep { Keep, Close, Open, OpenUnlessBlownAway };
  // What becomes of the recording toolbar: hidden (a recording stops) before
  // the screen opens; shown at the end when manual recording is chosen.
  enum class RecordBarStep { Keep, Hide, ShowIfManual, HideThenShowIfManual };
  // A step of the screen's own (a member function of the delegate).
  using ScreenStep = void (FluvaneAppDelegate::*)();
  // One screen change, its steps in the order showScreen takes them:
  // playback stops, first, the tagged view opens, the views in closes
  // close, the hint closes, the recording toolbar hides, prepare, the view
  // opens, the hint opens, then, the recording toolbar shows.
  struct Screen {
    int code = 0;
    bool stopsPlayback = false;
    ScreenStep first = nullptr;
    bool opensTagged = false;
    std::array<ScreenView, 3> closes{};
    HintStep hint = HintStep::Keep;
    RecordBarStep recordBar = RecordBarStep::Keep;
    ScreenStep prepare = nullptr;
    ScreenView opens = ScreenView::None;
    ScreenStep then = nullptr;
  };
  // Every screen change, one row per message code.
  static std::span<const Screen> screens();
  // The row for the code, or null.
  static const Screen* screenFor(int code);
  // The view a screen row names (null for None, and before launch).
  platform::ui::View* screenView(ScreenView which) const;
  // Takes the screen's steps (after launch).
  void showScreen(const Screen& screen);

  // The view tagged 1337 on the instrument screen (null before launch): the
  // instrument's title.
  platform::ui::View* taggedView() const;
  // Opens the tagged view on the instrument; on the globe, whose name
  // button stands where it would, it is hidden instead.
  void openTaggedView();

  FluvaneChipBridge* chipBridge() const { return m_chipBridge.get(); }

  std::shared_ptr<EAGLView> glView;
  std::shared_ptr<VXMainToolbar> mainToolbar;
  std::shared_ptr<VXTapView> settingsView;
  std::shared_ptr<VXTapView> infoView;
  std::shared_ptr<VXTapView> tutorialView;
  std::shared_ptr<BlowableView> blowableHelp;
  std::unique_ptr<FluvaneChipBridge> m_chipBridge;
  // The instrument's settings screen (in place of the framework's).
  std::unique_ptr<SettingsViewController> fluvaneSettings;
  // Manual recording, playback, upload and mail (message codes 4003-4007).
  std::unique_ptr<RecordingController> recordingController;
  double chipReadyTime = -1.0;
  int totalRipplesCount = 0;
  bool helpBlownAway = false;

 protected:
  // Starts the engine with the bridge's scripts; tests replace it.
  virtual void startEngine();

 private:
  static const Screen kScreens[];

  // The screens' own steps.
  void leaveHelpPages();
  void saveShownSettings();
  void loadInfoAddIn();
  void showInfoContent();
  void hideLoginView();
  void activateSettings();

  bool offersTutorial_ = true;
};

#endif
