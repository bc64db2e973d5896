#include "Classes/FluvaneAppDelegate.h"

#include "Classes/FluvaneGfx.h"
#include "Classes/FluvanePreferences.h"
#include "recorder/FluvaneRecorderHost.h"
#include "recorder/FluvaneRecordingConfiguration.h"
#include "recorder/FluvaneRecordings.h"
#include "Classes/FluvaneStats.h"
#include "recorder/FluvaneWebCalls.h"
#include "Classes/RecordingController.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Toolbar.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXConfig.h"
#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"
#include "vxu/ui/VXScreens.h"

using platform::ui::Animator;
using platform::ui::Application;
using platform::ui::Rect;
using platform::ui::View;

namespace {

constexpr double kViewFadeSeconds = 0.5;
const platform::ui::Color kOpaqueBarColor{0.1, 0.1, 0.12, 1};

VXLog& vxlog() { return VXLog::sharedVXLog(); }

// A full-screen background of one of the screens, holding its content.
std::shared_ptr<VXTapView> backgroundFor(const std::shared_ptr<View>& content) {
  auto view = std::make_shared<VXTapView>(Rect(0, 0, 320, 480));
  if (content) view->addSubview(content);
  view->setAlpha(0);
  return view;
}

}  // namespace

// --- The blow hint ---

BlowableView::BlowableView(const Rect& frame) : View(frame) {
  setTag(kTag);
  // The blow hint stands between the holes of either layout, above the
  // mouthpiece; both hints are drawn for the screen's scale.
  windView = std::make_shared<platform::ui::ImageView>(
      platform::ui::resourceImageForScreen("hint_blow.png"));
  windView->setFrame(Rect(120, 316, 80, 120));
  touchView = std::make_shared<platform::ui::ImageView>(
      platform::ui::resourceImageForScreen("hint_touch.png"));
  touchView->setFrame(Rect(20, 20, 200, 120));
  addSubview(windView);
  addSubview(touchView);
}

void BlowableView::setupBlowableView() {
  const bool touchMode = FluvanePreferences::standardFluvanePreferences().enableTouchMode();
  touchView->setHidden(!touchMode);
  windView->setHidden(touchMode);
  setUserInteractionEnabled(false);
}

// --- The delegate ---

FluvaneAppDelegate::FluvaneAppDelegate() {
  mainToolbar = makeMainToolbar({{"Info", kVXMsgOpenInfo},
                                 {"Help", kVXMsgShowHelp},
                                 {"Settings", kVXMsgOpenSettings},
                                 {"Globe", EAGLView::kMsgToggleGlobe},
                                 {"Close", kVXMsgCollapseToolbar}});
  vexelBar = mainToolbar;  // the framework's steps reach the same toolbar
  // The bar hides what lies under it (the breath marker under Close).
  if (auto* bar = dynamic_cast<platform::ui::Toolbar*>(mainToolbar->expandedToolBar.get())) {
    bar->setTintColor(kOpaqueBarColor);
  }
  infoControler = std::make_unique<InfoViewController>();
  fluvaneSettings = std::make_unique<SettingsViewController>();
  helpController = makeHelpScreen();
  m_helpScreens = kHelpPages;
  settingsView = backgroundFor(fluvaneSettings->settingsView());
  infoView = backgroundFor(infoControler ? infoControler->view() : nullptr);
  tutorialView = backgroundFor(nullptr);
  blowableHelp = std::make_shared<BlowableView>();
}

FluvaneAppDelegate::~FluvaneAppDelegate() {
  // The engine stops (and its thread ends) before the objects it reaches go.
  if (m_chipBridge) m_chipBridge->shutdownChip();
  FluvaneGfx::fluvaneGfxSetMessageHandler(nullptr);
  if (glView) glView->stopAnimation();
}

std::optional<std::string> FluvaneAppDelegate::infoAddDefaultURL() {
  return std::string(APP_HOME_PAGE);
}

void FluvaneAppDelegate::applicationDidFinishLaunching(Application& app) {
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  // 1-2: application time, the framework's launch steps.
  stats.startCountingAppTime();
  VXBackgroundThread::sharedBackgroundThread().setPriority(0);
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
  // 6-8: the screen (the host's GL frame draws it), the screens' backgrounds
  // on it, the toolbar on top.
  glView = std::make_shared<EAGLView>();
  auto tagged = std::make_shared<platform::ui::Label>(Rect(0, 8, 320, 28));
  tagged->setTag(kTaggedViewTag);
  tagged->setText(product_name());
  tagged->setTextColor(platform::ui::Color::white(0.5));
  tagged->setTextAlignment(platform::ui::TextAlignment::Center);
  tagged->setUserInteractionEnabled(false);
  glView->addSubview(tagged);
  FluvaneGfx::fluvaneGfxSetMessageHandler(this);
  glView->msgDelegate = this;
  app.window().addSubview(glView);
  app.setGLFrameDrawer([view = std::weak_ptr<EAGLView>(glView)] {
    if (std::shared_ptr<EAGLView> v = view.lock()) v->drawGL();
  });
  glView->addSubview(settingsView);
  glView->addSubview(tutorialView);
  glView->addSubview(infoView);
  settingsView->setAlpha(0);
  if (mainToolbar) {
    glView->addSubview(mainToolbar);
    glView->bringSubviewToFront(mainToolbar.get());
    mainToolbar->msgDelegate = glView.get();
    mainToolbar->centerMainButton();
    mainToolbar->nameForStats = "mainTB";
  }
  fluvaneSettings->setMsgDelegate(this);
  fluvaneSettings->loginViewController().hasUnsavedRecording = [this] {
    return hasUnsavedRecording();
  };
  if (infoControler) infoControler->msgDelegate = this;
  // 9-10: touch mode, layout and colours from the preferences.
  FluvaneGfx::fluvaneGFXsetTouchMode(prefs.enableTouchMode());
  FluvaneGfx::setLayoutMode(prefs.getLayoutMode());
  if (auto c = FluvanePreferences::fingerColorForFingerColorName(prefs.fingerColor())) {
    FluvaneGfx::setHoleColor(static_cast<float>(c->r), static_cast<float>(c->g),
                             static_cast<float>(c->b));
  }
  if (auto c = FluvanePreferences::breathColorForBreathColorName(prefs.breathColor())) {
    FluvaneGfx::setRippleColor(static_cast<float>(c->r), static_cast<float>(c->g),
                               static_cast<float>(c->b));
  }
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
  fluvaneSettings->setChipBridge(m_chipBridge.get());
  // The recording controller: manual recordings by the message codes
  // 4003-4007; a manual recording's maximum time reaches it on the main loop.
  recordingController =
      std::make_unique<RecordingController>(m_chipBridge.get(), glView.get(), this);
  showRecordingViewsIfManual();
  m_chipBridge->setRecordingMaxTimeReachedHandler([this] {
    if (recordingController) recordingController->recordingMaxTimeReached();
  });
  // 16: the uploads take the player's name and count what the service took;
  // the stored recording policy goes into the keys.
  SnippetUploadHelper::setPlayerNameSource(
      [] { return FluvaneStats::defaultFluvaneStats().fluvaneName(); });
  SnippetUploadHelper::setUploadCounter(
      [] { FluvaneStats::defaultFluvaneStats().incrementSnippetsUploaded(); });
  FluvaneRecordingConfiguration::loadFromDisk([bridge = m_chipBridge.get()](
                                                  const VXFluvanePref& p) {
    bridge->setFluvaneRecordingConfiguration(
        {p.uploadFrequency, p.minLength, p.maxLength, p.root, p.mode, p.maxManualTime});
  });
  // 17: the engine on its own thread.
  chipActive = true;
  startEngine();
}

void FluvaneAppDelegate::startEngine() { m_chipBridge->launchEngine(); }

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
  // copy taken here), the recording policy's download and the recordings
  // that wait in the outbox, oldest first.
  if (launchPoint == 2) {
    VXBackgroundThread& background = VXBackgroundThread::sharedBackgroundThread();
    background.performSelectorInBackground(
        [stats = FluvaneStats::defaultFluvaneStats().uploadCopy()] { uploadStats(stats); });
    FluvaneRecordingConfiguration::launchUpdateThread();
    background.performSelectorInBackground(
        [] { FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet); });
  }
  VXAppDelegate::launchBackGroundThreads(launchPoint);
}

void FluvaneAppDelegate::uploadStats(const FluvaneStats::Upload& stats) {
  vxlog().log("uploading stats");
  FluvaneStatsReport report;
  report.applaunch = stats.app_launches;
  report.apptime = stats.app_time;
  report.model = device_model();
  report.sysv = system_version();
  report.name = stats.fluvaneName;
  report.appv = build_id();
  report.globeviews = stats.globeViews;
  report.snippetsListened = stats.snippetsListened;
  report.snippetsUploaded = stats.snippetsUploaded;
  report.hardware = static_cast<int>(hardware_id());
  uploadFluvaneStats(VXDeviceIdentifier(), report);
}

void FluvaneAppDelegate::chipReady() {
  if (m_chipReady) return;
  chipReadyTime = platform::Clock::monotonic();
  if (glView) {
    blowableHelp->setupBlowableView();
    glView->insertSubviewBelow(blowableHelp, mainToolbar.get());
    glView->startAnimation();
  }
  VXAppDelegate::chipReady();
}

void FluvaneAppDelegate::showHelp() {
  if (glView) {
    glView->ToFluvaneView();
    glView->setPlayback(true);
  }
  VXAppDelegate::showHelp();
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

void FluvaneAppDelegate::applicationWillTerminate(Application& app) {
  markTerminating();
  // What the run cost in pictures (make bench reads it).
  vxlog().log("frames drawn: %ld", app.framesPresented());
  if (glView) glView->stopAnimation();
  // Stop the engine and wait for its thread before its scripts go; then the
  // recorder ends what the engine left recording and keeps it (while the
  // recording controller still says where manual recordings go).
  if (m_chipBridge && m_chipBridge->shutdownChip(kEngineStopSeconds)) shutdownRecorder();
  if (fluvaneSettings) fluvaneSettings->applicationWillTerminate();
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  stats.stopCountingAppTime();
  stats.serializeToDisk();
  FluvanePreferences::standardFluvanePreferences().synchronize();
  platform::UserDefaults::standard().synchronize();
  vxlog().flushLog();
}

// --- Views ---

View* FluvaneAppDelegate::taggedView() const {
  return glView ? glView->viewWithTag(kTaggedViewTag) : nullptr;
}

void FluvaneAppDelegate::openTaggedView() {
  View* tagged = taggedView();
  if (!tagged) return;
  if (glView->currentAppState() == EAGLView::kStateGlobe) {
    // At once, without a fade: the globe's name is drawn there.
    tagged->setExclusiveTouch(false);
    tagged->setAlpha(0);
    return;
  }
  openView(tagged);
}

void FluvaneAppDelegate::openView(View* view) {
  if (!view) return;
  view->setExclusiveTouch(true);
  Animator& animator = Animator::shared();
  animator.beginAnimations("kFluvaneOpenView");
  animator.setAnimationDuration(kViewFadeSeconds);
  animator.setAnimationCurve(platform::ui::AnimationCurve::EaseInOut);
  view->setAlpha(1);
  animator.commitAnimations();
  glView->bringSubviewToFront(view);
  if (mainToolbar) glView->bringSubviewToFront(mainToolbar.get());
}

void FluvaneAppDelegate::closeView(View* view) {
  if (!view) return;
  view->setExclusiveTouch(false);
  Animator& animator = Animator::shared();
  animator.beginAnimations("kFluvaneCloseView");
  animator.setAnimationDuration(kViewFadeSeconds);
  animator.setAnimationCurve(platform::ui::AnimationCurve::EaseInOut);
  view->setAlpha(0);
  animator.commitAnimations();
}

void FluvaneAppDelegate::openHelp() {
  ::openSubView(blowableHelp, glView.get(), mainToolbar.get(), false);
  blowableHelp->setUserInteractionEnabled(false);
}

void FluvaneAppDelegate::closeHelp() {
  if (!blowableHelp->superview()) return;
  std::weak_ptr<View> weak = blowableHelp;
  ::closeSubView(blowableHelp.get(), [weak](const std::string&, bool finished, void*) {
    std::shared_ptr<View> hint = weak.lock();
    // Removed at the end, unless it was opened again meanwhile.
    if (hint && finished && hint->alpha() == 0) hint->removeFromSuperview();
  });
}

void FluvaneAppDelegate::resetBlowableHelp() {
  totalRipplesCount = 0;
  helpBlownAway = false;
}

// --- The recording toolbar ---

void FluvaneAppDelegate::showRecordingViewsIfManual() {
  if (!recordingController || !glView) return;
  if (FluvanePreferences::standardFluvanePreferences().enableMelodyUpload() != 2) return;
  recordingController->insertViewsInside(glView.get(), mainToolbar.get());
}

// --- Screens ---

using Screen = FluvaneAppDelegate::Screen;
using ScreenView = FluvaneAppDelegate::ScreenView;
using HintStep = FluvaneAppDelegate::HintStep;
using RecordBarStep = FluvaneAppDelegate::RecordBarStep;

// Every screen change the messages make. A new screen is a row here (and
// its code's name beside the others); showScreen takes the steps.
const Screen FluvaneAppDelegate::kScreens[] = {
    // The help pages finished: back to the instrument with the blow hint.
    {.code = kVXMsgImageSequenceFinished,
     .stopsPlayback = true,
     .first = &FluvaneAppDelegate::leaveHelpPages,
     .hint = HintStep::Open,
     .recordBar = RecordBarStep::ShowIfManual},
    // Left the globe: the blow hint again unless it was blown away.
    {.code = kVXMsgLeaveGlobe,
     .hint = HintStep::OpenUnlessBlownAway,
     .recordBar = RecordBarStep::ShowIfManual},
    // Went to the globe.
    {.code = kVXMsgGoToGlobe,
     .stopsPlayback = true,
     .hint = HintStep::Close,
     .recordBar = RecordBarStep::Hide},
    // The information screen, over the instrument's title.
    {.code = kVXMsgOpenInfo,
     .stopsPlayback = true,
     .closes = {ScreenView::Settings, ScreenView::Tutorial, ScreenView::Tagged},
     .hint = HintStep::Close,
     .recordBar = RecordBarStep::Hide,
     .prepare = &FluvaneAppDelegate::loadInfoAddIn,
     .opens = ScreenView::Info,
     .then = &FluvaneAppDelegate::showInfoContent},
    // Back on the instrument: the recording toolbar returns with it.
    {.code = kVXMsgCloseInfo,
     .opensTagged = true,
     .closes = {ScreenView::Info, ScreenView::Tutorial},
     .recordBar = RecordBarStep::ShowIfManual},
    // The settings screen, without the sign-in form.
    {.code = kFluvaneMsgOpenSettings,
     .stopsPlayback = true,
     .opensTagged = true,
     .closes = {ScreenView::Info, ScreenView::Tutorial},
     .hint = HintStep::Close,
     .recordBar = RecordBarStep::Hide,
     .prepare = &FluvaneAppDelegate::hideLoginView,
     .opens = ScreenView::Settings,
     .then = &FluvaneAppDelegate::activateSettings},
    // Back on the instrument: the recording toolbar returns when manual
    // recording is (now) chosen.
    {.code = kFluvaneMsgCloseSettings,
     .first = &FluvaneAppDelegate::saveShownSettings,
     .opensTagged = true,
     .closes = {ScreenView::Info, ScreenView::Settings, ScreenView::Tutorial},
     .recordBar = RecordBarStep::HideThenShowIfManual,
     .prepare = &FluvaneAppDelegate::hideLoginView},
};

std::span<const Screen> FluvaneAppDelegate::screens() { return kScreens; }

const Screen* FluvaneAppDelegate::screenFor(int code) {
  for (const Screen& screen : kScreens) {
    if (screen.code == code) return &screen;
  }
  return nullptr;
}

View* FluvaneAppDelegate::screenView(ScreenView which) const {
  switch (which) {
    case ScreenView::Settings:
      return settingsView.get();
    case ScreenView::Info:
      return infoView.get();
    case ScreenView::Tutorial:
      return tutorialView.get();
    case ScreenView::Tagged:
      return taggedView();
    case ScreenView::None:
      break;
  }
  return nullptr;
}

void FluvaneAppDelegate::showScreen(const Screen& screen) {
  if (screen.stopsPlayback && recordingController) recordingController->stopPlayback();
  if (screen.first) (this->*screen.first)();
  if (screen.opensTagged) openTaggedView();
  for (ScreenView view : screen.closes) {
    if (view != ScreenView::None) closeView(screenView(view));
  }
  if (screen.hint == HintStep::Close) closeHelp();
  const bool hideBar = screen.recordBar == RecordBarStep::Hide ||
                       screen.recordBar == RecordBarStep::HideThenShowIfManual;
  if (hideBar && recordingController) recordingController->hideViews();
  if (screen.prepare) (this->*screen.prepare)();
  if (screen.opens != ScreenView::None) openView(screenView(screen.opens));
  if (screen.hint == HintStep::Open) {
    openHelp();
  } else if (screen.hint == HintStep::OpenUnlessBlownAway && !helpBlownAway) {
    blowableHelp->setupBlowableView();
    openHelp();
  }
  if (screen.then) (this->*screen.then)();
  if (screen.recordBar == RecordBarStep::ShowIfManual ||
      screen.recordBar == RecordBarStep::HideThenShowIfManual) {
    showRecordingViewsIfManual();
  }
}

// The help pages end: their view goes and the player's location is asked
// for, with playback shown off.
void FluvaneAppDelegate::leaveHelpPages() {
  glView->setPlayback(false);
  closeCurrentSubView();
  initGpsIfNeeded();
}

// The settings are kept when their screen was showing.
void FluvaneAppDelegate::saveShownSettings() {
  if (settingsView->alpha() > 0) fluvaneSettings->saveSettings();
}

void FluvaneAppDelegate::loadInfoAddIn() {
  if (infoControler) {
    infoControler->loadAdd(infoAddFilesPath(), "VXPreferencesUseServerInfoAdd", infoAddDefaultURL());
  }
}

void FluvaneAppDelegate::showInfoContent() {
  // The information screen's own view starts transparent, as its tutorial
  // does; it shows with the screen.
  static_cast<InfoViewController&>(*infoControler).infoView().setAlpha(1);
  if (mainToolbar) mainToolbar->receiveMsg(kVXMsgExpandToolbar);
}

void FluvaneAppDelegate::hideLoginView() { fluvaneSettings->hideLoginView(); }

void FluvaneAppDelegate::activateSettings() { fluvaneSettings->activate(); }

// --- Messages ---

void FluvaneAppDelegate::receiveMsg(int code) {
  const bool toolbarCode = code >= kVXMsgHideToolbar && code <= kVXMsgCollapseToolbar;
  // Before launch there is no screen to change.
  if (!glView && !toolbarCode) return;
  if (const Screen* screen = screenFor(code)) {
    showScreen(*screen);
    return;
  }
  switch (code) {
    case kVXMsgHideToolbar:
    case kVXMsgShowToolbar:
    case kVXMsgExpandToolbar:
    case kVXMsgCollapseToolbar:
      if (mainToolbar) mainToolbar->receiveMsg(code);
      break;
    case kVXMsgImageSequenceChanged:
      if (helpController && helpController->currentImageIndex() == 4) {
        receiveMsg(kVXMsgCloseInfo);
        if (mainToolbar) mainToolbar->receiveMsg(kVXMsgCollapseToolbar);
        if (recordingController) recordingController->playHelpTune();
      } else {
        if (recordingController) recordingController->stopPlayback();
        if (helpController && helpController->currentImageIndex() > 0) glView->setPlayback(true);
      }
      if (helpController && helpController->view) {
        glView->bringSubviewToFront(helpController->view.get());
      }
      break;
    case kVXMsgShowHelp:
      showHelp();
      break;
    case kVXMsgOpenSettings:  // the framework toolbar's settings button
      receiveMsg(kFluvaneMsgOpenSettings);
      break;
    case kFluvaneMsgBreathRipple:
      totalRipplesCount++;
      if (totalRipplesCount > 3 && blowableHelp->superview() && !blowableHelp->hidden() &&
          blowableHelp->alpha() > 0) {
        helpBlownAway = true;
        closeHelp();
      }
      if (recordingController) recordingController->receiveMsg(code);
      break;
    case kFluvaneMsgRecord:
    case kFluvaneMsgPlay:
    case kFluvaneMsgUpload:
    case kFluvaneMsgMail:
    case kFluvaneMsgBreathRanDown:
      if (recordingController) recordingController->receiveMsg(code);
      break;
    case kFluvaneMsgHelpTuneEnded:
      if (helpController) helpController->receiveMsg(kVXMsgNextImage);
      break;
    default:
      break;
  }
}
