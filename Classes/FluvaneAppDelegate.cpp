#include "Classes/FluvaneAppDelegate.h"

#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneStats.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"
#include "vxu/_ui/VXScreens.h"

using platform::ui::Application;

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

}  // namespace

FluvaneAppDelegate::FluvaneAppDelegate() {
  mainToolbar = makeMainToolbar();
  helpController = makeHelpScreen();
  m_helpScreens = kHelpPages;
}

FluvaneAppDelegate::~FluvaneAppDelegate() {
  // The engine stops (and its thread ends) before the objects it reaches go.
  if (m_chipBridge) m_chipBridge->shutdownChip();
}

void FluvaneAppDelegate::applicationDidFinishLaunching(Application& app) {
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  // 1-2: application time, the framework's launch steps.
  stats.startCountingAppTime();
  VXAppDelegate::applicationDidFinishLaunching(app);
  // 3-5
  vxlog().log("product: %s", product_name().c_str());
  vxlog().log("build: %s", build_id().c_str());
  stats.incrementAppLaunches();
  stats.incrementAppLaunchesSince1_2();
  chipReadyTime = -1.0;
  totalRipplesCount = 0;
  helpBlownAway = false;
  needsGpsInit = true;
  // 6-8: the screen (the host's GL frame draws it), the toolbar on top.
  glView = std::make_shared<EAGLView>();
  FluvaneGfx::fluvaneGfxSetMessageHandler(this);
  glView->msgDelegate = this;
  app.window().addSubview(glView);
  app.setGLFrameDrawer([view = std::weak_ptr<EAGLView>(glView)] {
    if (std::shared_ptr<EAGLView> v = view.lock()) v->drawGL();
  });
  if (mainToolbar) {
    glView->addSubview(mainToolbar);
    mainToolbar->msgDelegate = glView.get();
    mainToolbar->centerMainButton();
    mainToolbar->nameForStats = "mainTB";
  }
  // 9-10: touch mode and layout from the preferences; the screen never dims.
  FluvaneGfx::fluvaneGFXsetTouchMode(prefs.enableTouchMode());
  FluvaneGfx::setLayoutMode(prefs.getLayoutMode());
  // 11-12
  launchBackGroundThreads(1);
  if (helpController) helpController->msgDelegate = this;
  // 14-15: the bridge and its keys' start values.
  m_chipReady = false;
  m_appActive = true;
  m_chipFinished = false;
  m_chipBridge = std::make_unique<FluvaneChipBridge>();
  m_chipBridge->setAppDelegate(this);
  m_chipBridge->setDelegate(this);
  m_chipBridge->setRoot(prefs.root());
  m_chipBridge->setMode(prefs.mode());
  m_chipBridge->setEnableTouchMode(prefs.enableTouchMode());
  glView->setChipBridge(m_chipBridge.get());
  // 17: the engine on its own thread.
  chipActive = true;
  m_chipBridge->launchEngine();
}

bool FluvaneAppDelegate::askUserToWatchTutorial() {
  if (!offersTutorial_) return false;
  return FluvaneStats::defaultFluvaneStats().appLaunchesSince1_2() < 3;
}

double FluvaneAppDelegate::getWaitTimeBeforeVexelMessage() {
  if (glView && glView->currentAppState() == EAGLView::kStateInstrument) {
    if (chipReadyTime < 0 || platform::Clock::monotonic() - chipReadyTime <= 1.0) return 0;
    return 1;
  }
  return VXAppDelegate::getWaitTimeBeforeVexelMessage();
}

void FluvaneAppDelegate::launchBackGroundThreads(int launchPoint) {
  // Launch point 2 gains the statistics upload (uploadStats, posted with a
  // copy taken here) and the recording policy's download together with the
  // instrument's web-service calls; until then only the framework's tasks.
  VXAppDelegate::launchBackGroundThreads(launchPoint);
}

void FluvaneAppDelegate::uploadStats(const FluvaneStats::Upload& stats) {
  vxlog().log("uploading stats");
  // The instrument's statistics call comes with its web-service calls.
  (void)stats;
}

void FluvaneAppDelegate::chipReady() {
  if (m_chipReady) return;
  chipReadyTime = platform::Clock::monotonic();
  if (glView) glView->startAnimation();
  VXAppDelegate::chipReady();
}

void FluvaneAppDelegate::showHelp() {
  if (glView) {
    glView->ToFluvaneView();
    glView->setPlayback(true);
  }
  VXAppDelegate::showHelp();
}

void FluvaneAppDelegate::receiveMsg(int code) {
  switch (code) {
    case 100:
    case 101:
    case 102:
    case 103:
      if (mainToolbar) mainToolbar->receiveMsg(code);
      break;
    case 4002:
      totalRipplesCount++;
      break;
    default:
      break;
  }
}

void FluvaneAppDelegate::applicationWillResignActive(Application&) {
  m_appActive = false;
  FluvaneStats::defaultFluvaneStats().stopCountingAppTime();
  if (FluvanePreferences::standardFluvanePreferences().enableAudioWhenSleeping() && glView &&
      glView->currentAppState() == EAGLView::kStateGlobe) {
    glView->setEnableRender(false);
    return;
  }
  if (m_chipBridge) m_chipBridge->pauseChip();
  if (glView) glView->stopAnimation();
}

void FluvaneAppDelegate::applicationDidBecomeActive(Application&) {
  m_appActive = true;
  FluvaneStats::defaultFluvaneStats().startCountingAppTime();
  if (m_chipBridge) m_chipBridge->resumeChip();
  if (m_chipReady && glView) {
    glView->setEnableRender(true);
    glView->startAnimation();
  }
}

void FluvaneAppDelegate::applicationWillTerminate(Application&) {
  markTerminating();
  // Stop the engine and wait for its thread before its scripts go.
  if (m_chipBridge) m_chipBridge->shutdownChip(kEngineStopSeconds);
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  stats.stopCountingAppTime();
  stats.serializeToDisk();
  FluvanePreferences::standardFluvanePreferences().synchronize();
  platform::UserDefaults::standard().synchronize();
  vxlog().flushLog();
}
