// The instrument's application delegate: the launch, the engine's thread,
// the life cycle, and the hooks that tailor the framework's delegate.
//
// Launch (applicationDidFinishLaunching): counts application time, the
// framework's launch steps, the launch counters, the instrument screen
// (EAGLView, the host's GL frame) and the toolbar in the window, touch mode
// and layout from the preferences, launch point 1, the engine bridge (its
// keys' start values), and last the engine on a thread of its own with the
// four scripts (FluvaneChipBridge::launchEngine).
//
// Engine ready ("iPhone: chip ready", once): the ready time, the screen's
// animation, then the framework's ready steps (tutorial offer, launch point
// 2: the statistics upload and the framework's tasks).
//
// Life cycle: resigning active stops counting time and pauses the engine
// and the animation, except in the globe with audio while sleeping on (then
// only drawing stops); becoming active resumes them. Terminating stops the
// engine and waits for its thread (at most kEngineStopSeconds) before the
// temporary scripts are deleted, then saves statistics and preferences. An
// engine thread that does not end in time keeps its scripts (logged); the
// host ends the process without waiting for it.
//
// Threads: main thread; the engine's own thread runs in the bridge.
#ifndef CLASSES_FLUVANEAPPDELEGATE_H
#define CLASSES_FLUVANEAPPDELEGATE_H

#include <memory>
#include <optional>
#include <string>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneStats.h"
#include "vxu/VXAppDelegate.h"

class FluvaneAppDelegate : public VXAppDelegate {
 public:
  static constexpr double kEngineStopSeconds = 5.0;
  static constexpr int kAppID = 4;
  static constexpr int kHelpPages = 6;

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
  int getCheckForVexelMessageLaunchPoint() override { return 1; }
  bool askUserToWatchTutorial() override;
  double getWaitTimeBeforeVexelMessage() override;
  void chipReady() override;
  void showHelp() override;
  void receiveMsg(int code) override;
  // Launch point 2 adds the instrument's statistics upload.
  void launchBackGroundThreads(int launchPoint) override;

  // The statistics upload's body (background thread): works on the copy.
  static void uploadStats(const FluvaneStats::Upload& stats);

  // Automated runs (the demo, --automate) play the instrument, not the
  // first start's tutorial: with this off the tutorial is never offered.
  void setOffersTutorial(bool on) { offersTutorial_ = on; }

  FluvaneChipBridge* chipBridge() const { return m_chipBridge.get(); }

  std::shared_ptr<EAGLView> glView;
  std::shared_ptr<VXMainToolbar> mainToolbar;
  std::unique_ptr<FluvaneChipBridge> m_chipBridge;
  double chipReadyTime = -1.0;
  int totalRipplesCount = 0;
  bool helpBlownAway = false;

 private:
  bool offersTutorial_ = true;
};

#endif
