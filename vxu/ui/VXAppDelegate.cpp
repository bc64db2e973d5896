#include "vxu/ui/VXAppDelegate.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXConfig.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLocation.h"
#include "vxu/VXLog.h"
#include "vxu/VXPreferences.h"
#include "vxu/VXUtils.h"

using namespace platform::ui;
using platform::RunLoop;
using platform::UserDefaults;

namespace {

VXAppDelegate* g_appDelegate = nullptr;

VXLog& vxlog() { return VXLog::sharedVXLog(); }

bool isLandscape(int orientation) { return orientation == 3 || orientation == 4; }

// A property-list number or string as the service's forms carry it.
std::optional<std::string> formText(const platform::plist::Value& value) {
  using Type = platform::plist::Value::Type;
  char text[64];
  switch (value.type()) {
    case Type::Bool:
      return *value.asBool() ? "1" : "0";
    case Type::Int:
      std::snprintf(text, sizeof text, "%" PRId64, *value.asInt64());
      return text;
    case Type::UInt:
      std::snprintf(text, sizeof text, "%" PRIu64, *value.asUInt64());
      return text;
    case Type::Real:
      std::snprintf(text, sizeof text, "%.15g", *value.asReal());
      return text;
    case Type::String:
      return *value.asString();
    default:
      return std::nullopt;
  }
}

// Replaces a file the flag says is ready: flag off (saved), the new file
// written atomically (or the old one removed when there is none), flag on.
bool writeFlagged(const std::string& path, const std::optional<std::string>& data) {
  if (!data) {
    if (platform::Paths::exists(path)) platform::Paths::remove(path);
    return true;
  }
  std::string error;
  if (!platform::Paths::writeAtomic(path, *data, &error)) {
    vxlog().log("cannot write %s: %s", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

}  // namespace

struct VXAppDelegate::Token {
  VXAppDelegate* owner;
};

void VXAppDelegate::TaskContext::onMain(std::function<void(VXAppDelegate&)> call) const {
  RunLoop::main().post([weak = owner, call = std::move(call)] {
    if (std::shared_ptr<Token> token = weak.lock()) call(*token->owner);
  });
}

VXAppDelegate::VXAppDelegate() : token_(std::make_shared<Token>(Token{this})) {
  if (g_appDelegate) {
    vxlog().log("gAppDelegate == nil");
    return;
  }
  g_appDelegate = this;
  registered_ = true;
  VXChipBridge::setFallbackDelegate(this);
  std::weak_ptr<Token> weak = token_;
  VXHttpPostHelper::setNoNetworkHandler([weak] {
    if (std::shared_ptr<Token> token = weak.lock()) token->owner->alertNoNetwork();
  });
}

VXAppDelegate::~VXAppDelegate() {
  token_.reset();
  if (bridge) {
    bridge->setDelegate(nullptr);
    bridge.reset();  // shuts a running engine down and joins it
  }
  if (!registered_) return;
  VXHttpPostHelper::setNoNetworkHandler(nullptr);
  VXChipBridge::setFallbackDelegate(nullptr);
  g_appDelegate = nullptr;
}

VXAppDelegate* VXAppDelegate::getAppDelegate() { return g_appDelegate; }

int VXAppDelegate::getAppID() {
  vxlog().log("getAppID is not implemented!!");
  return -1;
}

void VXAppDelegate::after(double seconds, std::function<void(VXAppDelegate&)> call) {
  std::weak_ptr<Token> weak = token_;
  RunLoop::main().addTimer(seconds, false, [weak, call = std::move(call)] {
    if (std::shared_ptr<Token> token = weak.lock()) call(*token->owner);
  });
}

VXAppDelegate::TaskContext VXAppDelegate::taskContext() {
  TaskContext context;
  context.device = VXDeviceIdentifier();
  context.appID = getAppID();
  context.affiliation = getAffiliation();
  context.infoAddPath = infoAddFilesPath();
  context.owner = token_;
  return context;
}

// --- Launch -------------------------------------------------------------------

void VXAppDelegate::applicationDidFinishLaunching(Application&) {
  alertState = kAlertNone;
  currentServerMessage.reset();
  currentSubView.reset();
  currentSubViewFadeMode = 3;
  chipActive = false;
  needsGpsInit = true;
  m_alertNoNetworkShown = false;
  if (VXUserStats* stats = getStats()) stats->incrementAppLaunches();
  if (VXIntrospectable* prefs = getPreferences()) loadObjectPropertiesFromFile(*prefs, kAppPrefsFile);
  if (helpController && m_helpScreens > 0) {
    helpController->msgDelegate = this;
    helpController->setImages("help", ".png", m_helpScreens);
  }
  View* main = getMainView();
  if (!main) return;
  if (hasSplash()) {
    main->addSubview(splashView);
    splashView->setHidden(false);
    after(0.001, [](VXAppDelegate& self) { self.afterSplashInit(); });
  } else {
    afterSplashInit();
  }
}

void VXAppDelegate::afterSplashInit() {
  std::optional<std::vector<std::string>> programs = chipPrograms();
  if (programs && !programs->empty()) {
    chipActive = true;
    bridge = chipBridge();
    bridge->setDelegate(this);
    bridge->startChipWithFiles(*programs);
  } else {
    chipActive = false;
    attachViews();
  }
}

void VXAppDelegate::attachViews() {
  View* main = getMainView();
  if (!main) return;
  if (hasSplash()) {
    splashView->removeFromSuperview();
    splashView->setHidden(true);
  }
  auto* mainView = dynamic_cast<VXMainView*>(main);
  if (mainView) mainView->msgDelegate = this;
  if (vexelBar) {
    main->addSubview(vexelBar);
    vexelBar->msgDelegate = mainView ? static_cast<MessageHandlerDelegate*>(mainView) : this;
    vexelBar->nameForStats = "mainTB";
    vexelBar->receiveMsg(kVXMsgShowToolbar);
  }
  if (infoControler) infoControler->msgDelegate = this;
  if (settingsControler) settingsControler->msgDelegate = this;
}

void VXAppDelegate::initGpsIfNeeded() {
  if (!needsGpsInit) return;
  needsGpsInit = false;
  vexelLocation::sharedInstance().startUpdatingLocation();
  vxlog().log("gps initialized");
}

void VXAppDelegate::tutorialFinished() { initGpsIfNeeded(); }

void VXAppDelegate::showHelp() {
  if (!helpController || !helpController->view) return;
  if (VXUserStats* stats = getStats()) stats->incrementTutorialsWatched();
  if (vexelBar) vexelBar->saveToolbarState();
  View* parent = getTutorialParentView();
  if (!parent) return;
  if (currentSubView && currentSubView != helpController->view) closeCurrentSubView();
  ::openSubView(helpController->view, parent, nullptr, true);
  helpController->viewWillAppear();
  currentSubView = helpController->view;
  currentSubViewFadeMode = 3;
}

void VXAppDelegate::openSubView(const std::shared_ptr<View>& view, int fadeMode) {
  View* main = getMainView();
  if (!main || !view || view == currentSubView) return;
  closeCurrentSubView();
  currentSubView = view;
  currentSubViewFadeMode = fadeMode;
  ::openSubView(view, main, vexelBar.get(), (fadeMode & 1) != 0);
}

void VXAppDelegate::closeCurrentSubView() {
  if (currentSubView) {
    if (currentSubViewFadeMode & 2) {
      std::weak_ptr<Token> weak = token_;
      ::closeSubView(currentSubView.get(), [weak](const std::string& name, bool finished,
                                                  void* context) {
        if (std::shared_ptr<Token> token = weak.lock()) {
          token->owner->closeViewAnimationDidStop(name, finished, context);
        }
      });
    } else {
      ::closeSubView(currentSubView.get());
    }
  }
  resetCurrentSubView();
}

void VXAppDelegate::resetCurrentSubView() {
  currentSubView.reset();
  currentSubViewFadeMode = 3;
}

void VXAppDelegate::closeViewAnimationDidStop(const std::string&, bool, void* context) {
  auto* view = static_cast<View*>(context);
  // Opened again meanwhile: it stays.
  if (!view || view == currentSubView.get()) return;
  view->removeFromSuperview();
}

void VXAppDelegate::hideMenubar(bool hide) {
  if (vexelBar) vexelBar->setHidden(hide);
}

// --- Launch points and background tasks ----------------------------------------

void VXAppDelegate::launchBackGroundThreads(int launchPoint) {
  TaskContext context = taskContext();
  VXBackgroundThread& background = VXBackgroundThread::sharedBackgroundThread();
  if (getUpdateInfoTextLaunchPoint() == launchPoint) {
    background.performSelectorInBackground([context] { updateInfoText(context); });
  }
  if (getCheckForVexelMessageLaunchPoint() == launchPoint) {
    background.performSelectorInBackground([context] { checkForVexelMessage(context); });
  }
  if (getUpdateSplashScreenImageLaunchPoint() == launchPoint) {
    background.performSelectorInBackground([context] { updateSplashScreenImage(context); });
  }
  if (getUpdateInfoAddLaunchPoint() == launchPoint) {
    background.performSelectorInBackground([context] { updateInfoAdd(context); });
  }
  if (launchPoint != 2) return;
  if (VXPrefsUpdater* prefs = getPrefs()) prefs->launchUpdateThread();
  if (VXUserStats* stats = getStats()) {
    VXUserStats::Snapshot snapshot = stats->snapshot();
    background.performSelectorInBackground(
        [context, snapshot] { autoUploadStats(context, snapshot); });
  }
}

void VXAppDelegate::checkForVexelMessage(const TaskContext& context) {
  auto message = std::make_shared<VXServerMessage>(
      getServerMessage(context.device, context.appID, context.affiliation));
  if (!message->valid() || !message->title) return;
  vxlog().log("server message: id='%s'; title='%s'; body='%s'; url='%s';",
              message->messageID->c_str(), message->title->c_str(),
              message->body.value_or("").c_str(), message->url.value_or("").c_str());
  std::optional<std::string> last =
      UserDefaults::standard().stringForKey(VXPreferencesLastServerMessageId);
  if (last && *last == *message->messageID) {
    vxlog().log("ignoring server message; message id '%s' already seen",
                message->messageID->c_str());
    return;
  }
  context.onMain([message](VXAppDelegate& self) { self.showVexelMessage(message); });
}

void VXAppDelegate::showVexelMessage(std::shared_ptr<VXServerMessage> message) {
  const double wait = getWaitTimeBeforeVexelMessage();
  if (wait > 0 || alertState != kAlertNone) {
    after(wait > 0 ? wait : 1.0, [message](VXAppDelegate& self) { self.showVexelMessage(message); });
    return;
  }
  alertState = kAlertServerMessage;
  currentServerMessage = message;
  std::vector<std::string> others;
  const std::string second = message->cancelTitle.value_or("");
  if (!second.empty()) others.push_back(second);
  // A message without an OK text still gets a button to dismiss it.
  std::string ok = message->okTitle.value_or("");
  if (ok.empty()) ok = "OK";
  const std::string title = message->title.value_or("");
  const std::string body = message->body.value_or("");
  Application* app = Application::shared();
  const int orientation = app ? app->statusBarOrientation() : 1;
  if (!isLandscape(orientation) && getMainView()) {
    showAlert(AlertStyle::ActionSheet, title + "\n" + body, "", ok, others);
  } else {
    showAlert(AlertStyle::Alert, title, body, ok, others);
  }
  UserDefaults::standard().setString(VXPreferencesLastServerMessageId,
                                     message->messageID.value_or(""));
}

void VXAppDelegate::handleServerMessageAlertResult(bool accepted) {
  std::shared_ptr<VXServerMessage> message = std::move(currentServerMessage);
  currentServerMessage.reset();
  if (!accepted || !message) return;
  const std::string url = message->url.value_or("") + "deviceid=" + VXDeviceIdentifier();
  vxlog().log("opening url '%s'", url.c_str());
  openServiceLink(url);
}

void VXAppDelegate::alertNoNetwork() {
  if (m_alertNoNetworkShown) return;
  if (alertState != kAlertNone) {
    after(1.0, [](VXAppDelegate& self) { self.alertNoNetwork(); });
    return;
  }
  m_alertNoNetworkShown = true;
  alertState = kAlertNoNetwork;
  showAlert(AlertStyle::Alert, "Network Error",
            "Unable to connect to Vexel. Please check your network settings.", std::string("Ok"),
            {});
}

void VXAppDelegate::updateInfoText(const TaskContext& context) {
  if (!isVexelReachable()) return;
  std::optional<std::string> text =
      getInfoText(context.device, context.appID, context.affiliation);
  if (!text) return;
  context.onMain([text = *text](VXAppDelegate& self) {
    if (self.infoControler) self.infoControler->setInfoMessage(text);
  });
}

void VXAppDelegate::updateRichContent(const TaskContext& context, const std::string& contentID,
                                      const std::string& datePrefKey,
                                      const std::string& readyPrefKey,
                                      const std::string& filePath) {
  UserDefaults& defaults = UserDefaults::standard();
  (void)defaults.dateForKey(datePrefKey).value_or(0.0);  // the date is not sent
  std::optional<VXRichContent> content =
      getRichContent(context.device, context.appID, contentID);
  if (!content) return;
  const std::string imagePath = filePath + ".png";
  const std::string textPath = filePath + ".txt";
  defaults.setBool(readyPrefKey, false);
  defaults.synchronize();
  if (!writeFlagged(imagePath, content->data)) return;
  vxlog().log("saving rich content to %s", textPath.c_str());
  platform::plist::Value items = platform::plist::Value::array(
      {platform::plist::Value::string(content->title), platform::plist::Value::string(content->text),
       platform::plist::Value::string(content->link)});
  std::string error;
  if (!platform::plist::writeAtomic(textPath, items, &error)) {
    vxlog().log("cannot write %s: %s", textPath.c_str(), error.c_str());
    return;
  }
  defaults.setBool(readyPrefKey, true);
  defaults.setDate(datePrefKey, platform::Clock::now());
  defaults.synchronize();
}

std::string VXAppDelegate::infoAddFilesPath() const {
  return platform::Paths::join(platform::Paths::documents(), "infoAdd");
}

void VXAppDelegate::updateInfoAdd(const TaskContext& context) {
  updateRichContent(context, "infoAddID", VXPreferencesInfoAddDate, VXPreferencesUseServerInfoAdd,
                    context.infoAddPath);
}

void VXAppDelegate::updateSplashScreenImage(const TaskContext& context) {
  UserDefaults& defaults = UserDefaults::standard();
  const double last = defaults.dateForKey(VXPreferencesSplashScreenDate).value_or(0.0);
  std::optional<std::string> image =
      getSplashScreen(context.device, context.appID, context.affiliation, last);
  if (!image) return;
  defaults.setBool(VXPreferencesUseServerSplashScreen, false);
  defaults.synchronize();
  if (!writeFlagged(VXSplashView::splashScreenFilePath(), image)) return;
  defaults.setBool(VXPreferencesUseServerSplashScreen, true);
  defaults.setDate(VXPreferencesSplashScreenDate, platform::Clock::now());
  defaults.synchronize();
}

void VXAppDelegate::autoUploadStats(const TaskContext& context,
                                    const VXUserStats::Snapshot& stats) {
  vxlog().log("uploading stats");
  VXDictionary dictionary;
  for (const auto& [key, value] : stats.properties) {
    if (std::optional<std::string> text = formText(value)) dictionary[key] = *text;
  }
  dictionary["model"] = device_model();
  dictionary["sysv"] = system_version();
  dictionary["appv"] = build_id();
  dictionary["hardware"] = std::to_string(hardware_id());
  for (const auto& [name, count] : stats.features) dictionary[name] = std::to_string(count);
  std::optional<std::string> url = VXServiceUrl(std::string(APP_SERVER_LOCATION) + "/stats/");
  if (!url) return;
  std::optional<std::string> reply = VXHttpPostDictionary(*url, dictionary);
  if (!reply) return;
  const long long id = std::strtoll(reply->c_str(), nullptr, 10);
  if (id < 0 || id > 0xFFFFFFFFLL) return;
  context.onMain([id](VXAppDelegate& self) {
    if (VXUserStats* own = self.getStats()) own->setStatsID(static_cast<std::uint32_t>(id));
  });
}

// --- The engine ------------------------------------------------------------------

void VXAppDelegate::chipReady() {
  if (m_chipReady) return;
  m_chipReady = true;
  vxlog().log("chip ready...");
  attachViews();
  if (alertState != kAlertNone || !askUserToWatchTutorial()) {
    tutorialFinished();
  } else {
    alertState = kAlertTutorial;
    showAlert(AlertStyle::ActionSheet, kTutorialQuestion, "", std::string("No"), {"Yes"});
  }
  launchBackGroundThreads(2);
}

void VXAppDelegate::chipFinished() {
  m_chipFinished = true;
  if (terminating_) return;  // the engine was stopped on purpose
  vxlog().log("chip finished prematurely");
  if (alertState != kAlertNone) {
    after(1.0, [](VXAppDelegate& self) { self.chipFinished(); });
    return;
  }
  alertState = kAlertAudio;
  vxlog().logError("Unable to initialize audio: the sound engine has stopped");
  const std::string name = product_name();
  Application* app = Application::shared();
  const int orientation = app ? app->statusBarOrientation() : 1;
  std::string message;
  if (isLandscape(orientation)) {
    message = "Please restart " + name +
              " after pausing the current track or finishing the current phone call. ";
  } else {
    message = name + " is unable to work correctly while music is playing or a phone call is "
                     "active. Please restart " +
              name + " after pausing the current track or finishing the current phone call. ";
  }
  showAlert(AlertStyle::Alert, "Unable to initialize audio", message, std::string("Continue"),
            {"Quit"});
  chipReady();
}

// --- Messages and buttons -------------------------------------------------------

void VXAppDelegate::receiveMsg(int code) {
  if (!getMainView()) return;
  VXUserStats* stats = getStats();
  switch (code) {
    case kVXMsgHideToolbar:
    case kVXMsgShowToolbar:
    case kVXMsgExpandToolbar:
    case kVXMsgCollapseToolbar:
      if (vexelBar) vexelBar->receiveMsg(code);
      break;
    case kVXMsgImageSequenceFinished:
      closeCurrentSubView();
      tutorialFinished();
      break;
    case kVXMsgLeaveGlobe:
    case kVXMsgGoToGlobe:
      if (stats) {
        if (code == kVXMsgGoToGlobe) {
          stats->startCountingGlobeTime();
        } else {
          stats->stopCountingGlobeTime();
        }
      }
      if (vexelBar) vexelBar->receiveMsg(kVXMsgCollapseToolbar);
      closeCurrentSubView();
      break;
    case kVXMsgOpenInfo:
      if (stats) stats->stopCountingGlobeTime();
      if (!infoControler) break;
      if (hasAddInInfoScreen()) {
        infoControler->loadAdd(infoAddFilesPath(), VXPreferencesUseServerInfoAdd,
                               infoAddDefaultURL());
      }
      openSubView(infoControler->view());
      break;
    case kVXMsgCloseInfo:
    case kVXMsgCloseSubView:
      if (vexelBar) vexelBar->receiveMsg(kVXMsgCollapseToolbar);
      closeCurrentSubView();
      break;
    case kVXMsgShowHelp:
      showHelp();
      break;
    case kVXMsgOpenSettings:
      if (stats) stats->stopCountingGlobeTime();
      if (!settingsControler) break;
      settingsControler->willShowView();
      openSubView(settingsControler->view());
      break;
    default:
      break;
  }
}

void VXAppDelegate::showAlert(AlertStyle style, const std::string& title,
                              const std::string& message, const std::optional<std::string>& cancel,
                              const std::vector<std::string>& others) {
  std::weak_ptr<Token> weak = token_;
  auto alert = std::make_shared<AlertView>(style, title, message, cancel, others, [weak, style](int i) {
    std::shared_ptr<Token> token = weak.lock();
    if (!token) return;
    if (style == AlertStyle::Alert) {
      token->owner->alertViewClickedButtonAtIndex(i);
    } else {
      token->owner->actionSheetClickedButtonAtIndex(i);
    }
  });
  alert->show();
}

void VXAppDelegate::alertViewClickedButtonAtIndex(int index) {
  const int state = alertState;
  alertState = kAlertNone;
  const bool cancelled = index == 0;  // every alert here has a cancel button
  if (state == kAlertAudio && !cancelled) {
    // "Quit": the termination steps, then the main loop ends.
    if (Application* app = Application::shared()) app->terminate();
  } else if (state == kAlertServerMessage) {
    handleServerMessageAlertResult(!cancelled);
  }
}

void VXAppDelegate::actionSheetClickedButtonAtIndex(int index) {
  const int state = alertState;
  alertState = kAlertNone;
  if (state == kAlertServerMessage) {
    handleServerMessageAlertResult(index == 0);
  } else if (state == kAlertTutorial) {
    if (index == 0) {
      showHelp();
    } else {
      tutorialFinished();
    }
  }
}

// --- Life cycle ---------------------------------------------------------------------

void VXAppDelegate::applicationWillResignActive(Application&) {
  m_appActive = false;
  if (VXUserStats* stats = getStats()) stats->stopCountingAppTime();
  if (chipActive && shouldPauseChipWhileAsleep()) {
    if (VXChipBridge* b = VXChipBridge::getChipBridge()) b->pauseChip();
  }
}

void VXAppDelegate::applicationDidBecomeActive(Application&) {
  m_appActive = true;
  if (VXUserStats* stats = getStats()) stats->startCountingAppTime();
  getPrefs();
  if (chipActive) {
    if (VXChipBridge* b = VXChipBridge::getChipBridge()) b->resumeChip();
  }
}

void VXAppDelegate::applicationWillTerminate(Application&) {
  terminating_ = true;
  if (chipActive) {
    if (VXChipBridge* b = VXChipBridge::getChipBridge()) b->shutdownChip();
  }
  if (VXUserStats* stats = getStats()) {
    stats->stopCountingAppTime();
    stats->autoSerializeToDisk();
  }
  if (VXIntrospectable* prefs = getPreferences()) saveObjectPropertiesToFile(*prefs, kAppPrefsFile);
  UserDefaults::standard().synchronize();
  vxlog().flushLog();
}
