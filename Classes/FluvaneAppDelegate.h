// The instrument's application delegate: launch, life cycle and the hub of
// the message codes.
//
// Launch (applicationDidFinishLaunching): counts application time, runs the
// framework's launch steps, counts the launch, wires the screens (the
// instrument screen EAGLView fills the window; the settings, information
// and tutorial backgrounds and the main toolbar lie on it), gives the
// graphics the touch mode, layout and colours of the preferences, runs
// launch point 1, makes the engine bridge and starts the engine with the
// instrument's scripts. When the scripts report ready (chipReady, once) the
// blow hint shows, the 30 Hz frames start and launch point 2 runs.
//
// Life cycle: resigning active stops counting application time and pauses
// the engine and the frames, except in the globe with audio while asleep,
// where only the globe's drawing stops. Becoming active resumes them.
// Terminating shuts the engine down (its thread stopped and joined before
// its script files are deleted), saves the statistics and the preferences.
//
// Messages (receiveMsg), each as the instrument's screens send them:
//   100-103  forwarded to the main toolbar (hide, show, expand, collapse)
//   300      help finished: close it, start the location, show the blow hint
//   301      help page changed: page 4 closes the information screen and
//            collapses the toolbar; the help stays in front
//   1001     left the globe: the blow hint again unless it was blown away
//   1002     went to the globe: the blow hint closes
//   1004     information: the other screens and the hint close, the add-in
//            loads, the information screen opens, the toolbar expands
//   1005     information closed: the tagged view (1337) back, info and
//            tutorial closed
//   1006     how to play: the help
//   4000     settings: the tagged view, settings open, info, tutorial and
//            hint closed
//   4001     settings closed: saved when they were visible; back to the
//            tagged view
//   4002     a breath ripple: after four while the hint shows, it is blown
//            away (closed, and stays closed)
//   4007     breath ran down
//   4008     help tune ended: the help turns to its next page
// Recording-controller calls (stop playback, hide its views, play the help
// tune, ...) do nothing until the recording controller exists.
//
// Threads: main thread.
#ifndef CLASSES_FLUVANEAPPDELEGATE_H
#define CLASSES_FLUVANEAPPDELEGATE_H

#include <memory>
#include <optional>
#include <string>

#include "Classes/EAGLView.h"
#include "platform/ui/Controls.h"
#include "vxu/VXAppDelegate.h"
#include "vxu/_ui/VXTapView.h"

class FluvaneChipBridge;

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
  static constexpr int kTaggedViewTag = 1337;
  static constexpr int kHelpPages = 6;

  // Builds the screens (the interface of the application).
  FluvaneAppDelegate();
  ~FluvaneAppDelegate() override;

  // --- Life cycle ---
  void applicationDidFinishLaunching(platform::ui::Application& app) override;
  void applicationWillResignActive(platform::ui::Application& app) override;
  void applicationDidBecomeActive(platform::ui::Application& app) override;
  void applicationWillTerminate(platform::ui::Application& app) override;

  // --- Hooks of the base delegate ---
  int getAppID() override { return 4; }
  platform::ui::View* getTutorialParentView() override { return glView.get(); }
  bool hasAddInInfoScreen() override { return true; }
  std::optional<std::string> infoAddDefaultURL() override;
  int getCheckForVexelMessageLaunchPoint() override { return 1; }
  bool askUserToWatchTutorial() override;
  double getWaitTimeBeforeVexelMessage() override;
  void showHelp() override;
  void chipReady() override;

  // --- Views and messages ---
  void openView(platform::ui::View* view);
  void closeView(platform::ui::View* view);
  void openHelp();
  void closeHelp();
  void resetBlowableHelp();
  bool hasUnsavedRecording() const { return false; }
  void receiveMsg(int code) override;

  // The view tagged 1337 on the instrument screen.
  platform::ui::View* taggedView() const;
  FluvaneChipBridge* chipBridge() const { return m_chipBridge.get(); }

  std::shared_ptr<EAGLView> glView;
  std::shared_ptr<VXTapView> settingsView;
  std::shared_ptr<VXTapView> infoView;
  std::shared_ptr<VXTapView> tutorialView;
  std::shared_ptr<BlowableView> blowableHelp;
  double chipReadyTime = -1.0;
  int totalRipplesCount = 0;
  bool helpBlownAway = false;

 protected:
  // Starts the engine (the bridge's scripts); tests replace it.
  virtual void startEngine();

  std::unique_ptr<FluvaneChipBridge> m_chipBridge;
};

#endif
