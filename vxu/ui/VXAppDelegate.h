// The framework's reusable application delegate.
//
// It runs the launch steps (launch count, the preference file, help pages,
// splash), starts the engine through the bridge (or attaches the views at
// once when there are no scripts), owns the alert and sub-view
// bookkeeping, reacts to the engine becoming ready or ending early, offers
// the tutorial, and posts the framework's background tasks (server message,
// information text, information add-in, splash image, statistics upload)
// on the shared VXBackgroundThread at two launch points. Applications
// subclass it and tailor it through the hooks; the screens themselves come
// from the subclass (see VXScreens.h for the framework's builders).
//
// alertState names the alert or sheet on screen: 0 none, 1 the "Unable to
// initialize audio" alert, 2 a server message, 3 the no-network alert, 4 the
// tutorial sheet. Any button brings it back to 0; work that needs the
// screen (the server message, the audio alert, the no-network alert) waits
// on the main run loop's timers while it is not 0. Button indexes follow
// the platform's numbering (see platform/ui/AlertView.h).
//
// Choices made for safety:
//  - "Quit" in the audio alert ends the application through the host: the
//    termination steps run (the engine is stopped and its thread joined,
//    statistics, preferences and user defaults saved, the log flushed),
//    then the main loop ends and main returns; nothing calls exit() while
//    other threads run.
//  - The rich-content and splash files are replaced safely: the ready flag
//    is cleared (and saved) first, the files are written atomically, then
//    the flag is set again, so a crash never leaves a flag pointing at half
//    a file.
//  - Links from the service (a server message's, the rich content's) open
//    only when they are http or https URLs.
//  - A view whose close animation ends after it was opened again stays.
//  - The background tasks read nothing of the delegate: what they need is
//    taken on the main thread when they are posted, and their results come
//    back through the main run loop only while the delegate lives.
//
// One instance per process (getAppDelegate()); a second one logs
// "gAppDelegate == nil" and is not registered. It is the engine bridge's
// fallback delegate while it lives.
//
// Threads: main thread, except the background tasks' bodies.
#ifndef VXU_UI_VXAPPDELEGATE_H
#define VXU_UI_VXAPPDELEGATE_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "vxu/VXChipBridge.h"
#include "vxu/ui/VXInfoAddView.h"
#include "vxu/VXIntrospector.h"
#include "vxu/VXUserStats.h"
#include "vxu/VXWebCalls.h"
#include "vxu/ui/VXImageSequenceController.h"
#include "vxu/ui/VXMainToolbar.h"
#include "vxu/ui/VXUIUtils.h"
#include "vxu/ui/VXUIViewController.h"

// An object whose preferences update thread starts at launch point 2.
class VXPrefsUpdater {
 public:
  virtual ~VXPrefsUpdater() = default;
  virtual void launchUpdateThread() = 0;
};

enum VXAlertState { kAlertNone = 0, kAlertAudio = 1, kAlertServerMessage = 2, kAlertNoNetwork = 3,
                    kAlertTutorial = 4 };

class VXAppDelegate : public platform::ui::ApplicationDelegate,
                      public MessageHandlerDelegate,
                      public VXChipBridgeDelegate {
 public:
  static constexpr const char* kAppPrefsFile = "appPrefs.plist";  // gAppPrefsFile
  static constexpr const char* kTutorialQuestion =
      "Would you like to see a tutorial?\n(you can also access it from the info screen)";

  VXAppDelegate();
  ~VXAppDelegate() override;
  static VXAppDelegate* getAppDelegate();

  // --- The host's life cycle ---
  void applicationDidFinishLaunching(platform::ui::Application& app) override;
  void applicationWillResignActive(platform::ui::Application& app) override;
  void applicationDidBecomeActive(platform::ui::Application& app) override;
  void applicationWillTerminate(platform::ui::Application& app) override;

  // --- Hooks ---
  virtual platform::ui::View* getMainView() { return nullptr; }
  virtual platform::ui::View* getTutorialParentView() { return getMainView(); }
  virtual VXUserStats* getStats() { return nullptr; }
  virtual VXPrefsUpdater* getPrefs() { return nullptr; }
  virtual VXIntrospectable* getPreferences() { return nullptr; }
  virtual bool hasSplash() { return splashView != nullptr; }
  virtual int getAppID();
  // The distribution channel sent with the service's calls.
  virtual int getAffiliation() { return 0; }
  virtual bool hasAddInInfoScreen() { return infoAddDefaultURL().has_value(); }
  virtual std::optional<std::string> infoAddDefaultURL() { return std::nullopt; }
  virtual bool askUserToWatchTutorial() { return false; }
  virtual double getWaitTimeBeforeVexelMessage() { return alertState != 0 ? 1.0 : 0.0; }
  virtual int getUpdateInfoTextLaunchPoint() { return 2; }
  virtual int getCheckForVexelMessageLaunchPoint() { return 2; }
  virtual int getUpdateSplashScreenImageLaunchPoint() { return hasSplash() ? 2 : 0; }
  virtual int getUpdateInfoAddLaunchPoint() { return hasAddInInfoScreen() ? 2 : 0; }
  virtual std::optional<std::vector<std::string>> chipPrograms() { return std::nullopt; }
  virtual std::unique_ptr<VXChipBridge> chipBridge() { return std::make_unique<VXChipBridge>(); }
  virtual bool shouldPauseChipWhileAsleep() { return true; }

  // --- Operations ---
  void afterSplashInit();
  virtual void attachViews();
  void initGpsIfNeeded();
  virtual void tutorialFinished();
  virtual void showHelp();
  void openSubView(const std::shared_ptr<platform::ui::View>& view, int fadeMode = 3);
  void closeCurrentSubView();
  void resetCurrentSubView();
  void closeViewAnimationDidStop(const std::string& name, bool finished, void* context);
  // Shows or hides the menu bar; for an application with one (the
  // instrument has none).
  void hideMenubar(bool hide);
  virtual void launchBackGroundThreads(int launchPoint);
  void showVexelMessage(std::shared_ptr<VXServerMessage> message);
  void handleServerMessageAlertResult(bool accepted);
  void alertNoNetwork();
  std::string infoAddFilesPath() const;
  void chipReady() override;
  void chipFinished() override;
  void receiveMsg(int code) override;
  void actionSheetClickedButtonAtIndex(int index);
  void alertViewClickedButtonAtIndex(int index);

  // --- The background tasks (any thread; they use only their arguments).
  struct TaskContext;
  static void updateInfoText(const TaskContext& context);
  static void checkForVexelMessage(const TaskContext& context);
  static void updateRichContent(const TaskContext& context, const std::string& contentID,
                                const std::string& datePrefKey, const std::string& readyPrefKey,
                                const std::string& filePath);
  static void updateInfoAdd(const TaskContext& context);
  static void updateSplashScreenImage(const TaskContext& context);
  static void autoUploadStats(const TaskContext& context, const VXUserStats::Snapshot& stats);

  bool m_chipReady = false;
  bool m_chipFinished = false;
  bool m_appActive = true;
  bool m_alertNoNetworkShown = false;
  int m_helpScreens = 0;
  int alertState = kAlertNone;
  int currentSubViewFadeMode = 3;
  bool chipActive = false;
  bool needsGpsInit = true;

  std::shared_ptr<VXSplashView> splashView;
  std::shared_ptr<VXMainToolbar> vexelBar;
  std::unique_ptr<VXUIViewController> settingsControler;
  std::unique_ptr<VXInfoViewControler> infoControler;
  std::unique_ptr<VXImageSequenceController> helpController;
  std::shared_ptr<platform::ui::View> currentSubView;
  std::shared_ptr<VXServerMessage> currentServerMessage;
  std::unique_ptr<VXChipBridge> bridge;

 protected:
  // Shows an alert or a sheet whose buttons come back to the two handlers
  // above.
  void showAlert(platform::ui::AlertStyle style, const std::string& title,
                 const std::string& message, const std::optional<std::string>& cancel,
                 const std::vector<std::string>& others);
  TaskContext taskContext();
  // Runs call on the main loop after seconds, while this delegate lives.
  void after(double seconds, std::function<void(VXAppDelegate&)> call);
  // For subclasses with termination steps of their own: the engine is
  // being stopped on purpose, so its end is no failure.
  void markTerminating() { terminating_ = true; }

 private:
  struct Token;
  std::shared_ptr<Token> token_;
  bool registered_ = false;
  bool terminating_ = false;
};

// What a background task needs, taken on the main thread.
struct VXAppDelegate::TaskContext {
  std::string device;
  int appID = -1;
  int affiliation = 0;
  std::string infoAddPath;
  std::weak_ptr<Token> owner;
  // Runs call with the delegate on the main loop, if it still lives then.
  void onMain(std::function<void(VXAppDelegate&)> call) const;
};

#endif
