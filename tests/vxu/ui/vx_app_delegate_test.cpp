// The base application delegate on the testing host with the loopback
// service: launch with the service unset, stalled and answering; the server
// message (once, its buttons, its link); the engine-ended alert waiting for
// another alert and its Quit; the tutorial sheet; the message table and
// sub-views; rich content written safely; the life cycle.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "vxu/vx_log_capture.h"
#include "vxu/vx_service_support.h"
#include "vxu/VXPreferences.h"
#include "vxu/ui/VXScreens.h"
#include "vxu_ui_test_support.h"

using namespace platform::ui;
using platform::UserDefaults;

namespace {

std::string serverMessage(const std::string& id, const std::string& cancel = "Show me") {
  return "###TITLE###Hello###BODY###News for you###URL###https://example.org/n?###ID###" + id +
         "###OK_B###Later###CANCEL_B###" + cancel + "###";
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class AppDelegateTest : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    UserDefaults& defaults = UserDefaults::standard();
    for (const char* key : {VXPreferencesLastServerMessageId, VXPreferencesUseServerInfoAdd,
                            VXPreferencesInfoAddDate, VXPreferencesLastInfoTextCache}) {
      defaults.removeObject(key);
    }
    opener = std::make_shared<platform::RecordingUrlOpener>();
    previous = platform::UrlOpener::install(opener);
  }
  void TearDown() override {
    if (delegate) {
      app_->setDelegate(nullptr);
      settle();
      delegate.reset();
    }
    platform::UrlOpener::install(previous);
    FrameworkUiTest::TearDown();
  }
  // A delegate with the framework's screens, launched on the host.
  void launch(bool ready = true) {
    delegate = std::make_unique<TestAppDelegate>();
    delegate->vexelBar = makeMainToolbar();
    delegate->infoControler = makeInfoScreen();
    delegate->settingsControler = makeSettingsScreen();
    delegate->helpController = makeHelpScreen();
    window().addSubview(delegate->mainView);
    app_->setDelegate(delegate.get());
    app_->launch();
    if (ready) delegate->chipReady();
  }

  std::unique_ptr<TestAppDelegate> delegate;
  std::shared_ptr<platform::RecordingUrlOpener> opener;
  std::shared_ptr<platform::UrlOpener> previous;
};

}  // namespace

TEST_F(AppDelegateTest, LaunchWithoutAServiceBringsTheViewsUp) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  const auto lines = printed_lines([&] {
    launch(false);
    EXPECT_EQ(delegate->stats.app_launches(), 1u);
    EXPECT_EQ(delegate->vexelBar->superview(), delegate->mainView.get());  // no scripts: at once
    EXPECT_EQ(delegate->vexelBar->nameForStats, "mainTB");
    EXPECT_EQ(delegate->mainView->msgDelegate, delegate.get());
    delegate->chipReady();
    delegate->chipReady();  // once only
    settle();
  });
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "chip ready..."), 1);
  EXPECT_TRUE(contains(lines, "no web service configured"));
  EXPECT_TRUE(contains(lines, "getAppID is not implemented!!") == false);
  EXPECT_TRUE(ui().alerts().empty());
  EXPECT_EQ(delegate->alertState, 0);
}

TEST_F(AppDelegateTest, LaunchWithAStalledServiceKeepsTheScreenAlive) {
  ConfiguredService service;
  stub::Reply held;
  held.hold = true;
  for (const char* path : {"/fluvane/motd/", "/fluvane/infotext/", "/fluvane/stats/"}) {
    service.stub.on(path, held);
  }
  launch();
  ASSERT_TRUE(service.stub.waitForRequests(1));
  // The main loop goes on while the service says nothing.
  ui().advance(0.1);
  ui().tap(40, 458);
  EXPECT_TRUE(delegate->vexelBar->isExpanded);
  EXPECT_TRUE(ui().alerts().empty());
  service.stub.release();
}

TEST_F(AppDelegateTest, LaunchWithAnAnsweringService) {
  ConfiguredService service;
  service.stub.on("/fluvane/motd/", stub::Reply::text(serverMessage("m1")));
  service.stub.on("/fluvane/infotext/", stub::Reply::text("Today: a new tune"));
  service.stub.on("/fluvane/stats/", stub::Reply::text("4321"));
  launch();
  delegate->stats.trackFeatureByName("mainTB1004");
  settle();
  ASSERT_TRUE(service.stub.waitForRequests(3));
  settle();
  // The information text reaches the info screen.
  EXPECT_EQ(delegate->infoControler->messageTextView->text(), "Today: a new tune");
  // The statistics went up signed, and the reply became the stats id.
  EXPECT_EQ(delegate->stats.statsID(), 4321u);
  std::string statsBody;
  for (const auto& request : service.stub.requests()) {
    if (request.path == "/fluvane/stats/") statsBody = request.body;
    if (request.path == "/fluvane/motd/") {
      EXPECT_EQ(request.body, "device=dev-1&affiliation=0&appid=7");
    }
  }
  EXPECT_NE(statsBody.find("app_launches=1&"), std::string::npos) << statsBody;
  EXPECT_NE(statsBody.find("device=dev-1&"), std::string::npos);
  EXPECT_NE(statsBody.find("&d="), std::string::npos);
  // The server message: a sheet in portrait with a main view.
  ASSERT_EQ(ui().alerts().size(), 1u);
  const AlertInfo sheet = ui().alerts()[0];
  EXPECT_EQ(sheet.kind, "sheet");
  EXPECT_EQ(sheet.title, "Hello\nNews for you");
  EXPECT_EQ(sheet.buttons, (std::vector<std::string>{"Show me", "Later"}));
  EXPECT_EQ(delegate->alertState, 2);
  EXPECT_EQ(UserDefaults::standard().stringForKey(VXPreferencesLastServerMessageId), "m1");
  ui().answer(0);  // "Show me": the link with the device
  EXPECT_EQ(delegate->alertState, 0);
  EXPECT_EQ(opener->urls(), (std::vector<std::string>{"https://example.org/n?deviceid=dev-1"}));
}

TEST_F(AppDelegateTest, AServerMessageShowsOnce) {
  ConfiguredService service;
  service.stub.on("/fluvane/motd/", stub::Reply::text(serverMessage("m2")));
  launch();
  settle();
  ASSERT_EQ(ui().alerts().size(), 1u);
  ui().answer(1);  // "Later": nothing opened
  EXPECT_TRUE(opener->urls().empty());
  const auto lines = printed_lines([&] {
    delegate->launchBackGroundThreads(2);
    settle();
  });
  EXPECT_TRUE(contains(lines, "ignoring server message; message id 'm2' already seen"));
  EXPECT_TRUE(ui().alerts().empty());
}

TEST_F(AppDelegateTest, OneButtonMessagesAndTheLandscapeAlert) {
  ConfiguredService service;
  service.stub.on("/fluvane/motd/", stub::Reply::text(serverMessage("m3", "")));
  app_->setStatusBarOrientation(3);
  launch();
  settle();
  ASSERT_EQ(ui().alerts().size(), 1u);
  const AlertInfo alert = ui().alerts()[0];
  EXPECT_EQ(alert.kind, "alert");
  EXPECT_EQ(alert.title, "Hello");
  EXPECT_EQ(alert.message, "News for you");
  EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Later"}));
  ui().enter();  // the only button: cancel, declined
  EXPECT_TRUE(opener->urls().empty());
  EXPECT_EQ(delegate->alertState, 0);
}

TEST_F(AppDelegateTest, TheEngineEndedAlertWaitsForAnotherAlert) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  launch();
  delegate->alertNoNetwork();
  ASSERT_EQ(ui().alerts().size(), 1u);
  EXPECT_EQ(ui().alerts()[0].title, "Network Error");
  EXPECT_EQ(delegate->alertState, 3);
  delegate->chipFinished();
  EXPECT_TRUE(delegate->m_chipFinished);
  ui().advance(2.5);  // retried every second while the alert is up
  ASSERT_EQ(ui().alerts().size(), 1u);
  ui().answer(0);
  EXPECT_TRUE(ui().alerts().empty());
  ui().advance(1.01);
  ASSERT_EQ(ui().alerts().size(), 1u);
  const AlertInfo audio = ui().alerts()[0];
  EXPECT_EQ(audio.title, "Unable to initialize audio");
  EXPECT_EQ(audio.message,
            "Fluvane is unable to work correctly while music is playing or a phone call is "
            "active. Please restart Fluvane after pausing the current track or finishing the "
            "current phone call. ");
  EXPECT_EQ(audio.buttons, (std::vector<std::string>{"Continue", "Quit"}));
  ui().answer(0);  // Continue
  EXPECT_FALSE(app_->terminated());
  // The no-network alert shows once per run.
  delegate->alertNoNetwork();
  EXPECT_TRUE(ui().alerts().empty());
}

TEST_F(AppDelegateTest, QuitRunsTheTerminationStepsAndEndsTheLoop) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  launch();
  delegate->stats.trackFeatureByName("quit-test");
  delegate->chipFinished();
  ASSERT_EQ(ui().alerts().size(), 1u);
  const std::string stats = platform::Paths::join(platform::Paths::documents(), "features.plist");
  platform::Paths::remove(stats);
  ui().answer(1);  // Quit
  EXPECT_TRUE(app_->terminated());
  EXPECT_TRUE(platform::Paths::exists(stats));  // saved by the termination steps
  // run() returns at once now: the loop has ended.
  EXPECT_EQ(app_->run(), 0);
}

TEST_F(AppDelegateTest, TheTutorialSheet) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  ScopedResources resources;
  resources.addImage("help0.png", 4, 4, 50);
  delegate = std::make_unique<TestAppDelegate>();
  delegate->askTutorial = true;
  delegate->helpController = makeHelpScreen();
  delegate->m_helpScreens = 1;
  window().addSubview(delegate->mainView);
  app_->setDelegate(delegate.get());
  app_->launch();
  delegate->chipReady();
  ASSERT_EQ(ui().alerts().size(), 1u);
  EXPECT_EQ(ui().alerts()[0].title, VXAppDelegate::kTutorialQuestion);
  EXPECT_EQ(ui().alerts()[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(delegate->alertState, 4);
  ui().answer(0);  // Yes: the help
  EXPECT_EQ(delegate->currentSubView, delegate->helpController->view);
  EXPECT_EQ(delegate->stats.tutorialsWatched(), 1u);
  EXPECT_TRUE(delegate->needsGpsInit);
  delegate->helpController->receiveMsg(kVXMsgNextImage);  // last page: finished
  EXPECT_EQ(delegate->currentSubView, nullptr);
  EXPECT_FALSE(delegate->needsGpsInit);
}

TEST_F(AppDelegateTest, MessagesOpenAndCloseSubViews) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  launch();
  auto info = delegate->infoControler->view();
  delegate->mainView->receiveMsg(kVXMsgOpenInfo);
  EXPECT_EQ(delegate->currentSubView, info);
  // Below the toolbar in the main view.
  const auto& subs = delegate->mainView->subviews();
  const auto infoAt = std::find(subs.begin(), subs.end(), info);
  const auto barAt =
      std::find(subs.begin(), subs.end(), std::static_pointer_cast<View>(delegate->vexelBar));
  EXPECT_LT(infoAt - subs.begin(), barAt - subs.begin());
  ui().advance(0.8);
  // Settings replace it; the closed one fades and leaves.
  delegate->receiveMsg(kVXMsgOpenSettings);
  EXPECT_EQ(delegate->currentSubView, delegate->settingsControler->view());
  ui().advance(0.6);
  EXPECT_EQ(info->superview(), nullptr);
  // Opened again before its close animation ended: it stays.
  delegate->receiveMsg(kVXMsgCloseSubView);
  auto settings = delegate->settingsControler->view();
  ui().advance(0.2);
  delegate->receiveMsg(kVXMsgOpenSettings);
  ui().advance(1.0);
  EXPECT_EQ(settings->superview(), delegate->mainView.get());
  EXPECT_EQ(settings->drawnAlpha(), 1);
  // Toolbar codes are forwarded.
  delegate->receiveMsg(kVXMsgExpandToolbar);
  EXPECT_TRUE(delegate->vexelBar->isExpanded);
  delegate->receiveMsg(kVXMsgCloseInfo);
  EXPECT_FALSE(delegate->vexelBar->isExpanded);
  EXPECT_EQ(delegate->currentSubView, nullptr);
  // The toolbar's own buttons reach the delegate through the main view.
  ui().advance(1.0);
  ui().tap(40, 458);
  ui().advance(0.3);
  ui().tap(40, 458);  // "Info"
  EXPECT_EQ(delegate->currentSubView, info);
  EXPECT_EQ(delegate->stats.getFeatureUseCount("mainTB1004"), 1u);
}

TEST_F(AppDelegateTest, RichContentIsWrittenBehindTheReadyFlag) {
  ConfiguredService service;
  service.stub.on("/fluvane/getRichContent/",
                  stub::Reply::text("Title\nBody\nhttps://example.org/r\nimages/add.png\n"));
  service.stub.on("/fluvane/getFile/", stub::Reply::text("not really a png"));
  delegate = std::make_unique<TestAppDelegate>();
  delegate->addInUrl = "https://fluvane.org/";
  platform::Paths::mkdirs(platform::Paths::documents());
  const std::string base = delegate->infoAddFilesPath();
  platform::Paths::writeAtomic(base + ".txt", "old");
  UserDefaults::standard().setBool(VXPreferencesUseServerInfoAdd, true);
  // The flag at each file written: the defaults (flag off), the image, the
  // text, then the defaults with the flag on.
  std::mutex mutex;
  std::vector<bool> readyAtWrite;
  platform::Paths::setWriteProbe([&](const char* stage) {
    if (std::string(stage) != "written") return;
    std::lock_guard<std::mutex> lock(mutex);
    readyAtWrite.push_back(UserDefaults::standard().boolForKey(VXPreferencesUseServerInfoAdd));
  });
  delegate->launchBackGroundThreads(2);
  settle();
  platform::Paths::setWriteProbe(nullptr);
  EXPECT_EQ(readyAtWrite, (std::vector<bool>{false, false, false, true}));
  EXPECT_TRUE(UserDefaults::standard().boolForKey(VXPreferencesUseServerInfoAdd));
  EXPECT_TRUE(UserDefaults::standard().dateForKey(VXPreferencesInfoAddDate).has_value());
  EXPECT_EQ(platform::Paths::readFile(base + ".png"), "not really a png");
  auto text = platform::plist::read(base + ".txt");
  ASSERT_TRUE(text && text->asArray());
  ASSERT_EQ(text->asArray()->size(), 3u);
  EXPECT_EQ(*(*text->asArray())[2].asString(), "https://example.org/r");
}

TEST_F(AppDelegateTest, LifeCycleCountsTimeAndSavesOnTermination) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  launch();
  const auto lines = printed_lines([&] {
    app_->setActive(false);
    app_->setActive(true);
    app_->terminate();
  });
  EXPECT_TRUE(contains(lines, "auto serializing stats to " +
                                  platform::Paths::join(platform::Paths::documents(),
                                                        "stats.plist")));
  EXPECT_TRUE(app_->terminated());
}

TEST_F(AppDelegateTest, TheSplashImageIsWrittenBehindItsFlag) {
  ConfiguredService service;
  service.stub.on("/fluvane/splashscreen/", stub::Reply::text("splash bytes"));
  delegate = std::make_unique<TestAppDelegate>();
  delegate->splashView = makeSplashView();
  platform::Paths::mkdirs(platform::Paths::documents());
  UserDefaults::standard().setBool(VXPreferencesUseServerSplashScreen, true);
  std::mutex mutex;
  std::vector<bool> readyAtWrite;
  platform::Paths::setWriteProbe([&](const char* stage) {
    if (std::string(stage) != "written") return;
    std::lock_guard<std::mutex> lock(mutex);
    readyAtWrite.push_back(UserDefaults::standard().boolForKey(VXPreferencesUseServerSplashScreen));
  });
  delegate->launchBackGroundThreads(2);
  settle();
  platform::Paths::setWriteProbe(nullptr);
  EXPECT_EQ(readyAtWrite, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(platform::Paths::readFile(VXSplashView::splashScreenFilePath()), "splash bytes");
  std::string body;
  for (const auto& request : service.stub.requests()) {
    if (request.path == "/fluvane/splashscreen/") body = request.body;
  }
  EXPECT_NE(body.find("&lasttime="), std::string::npos) << body;
  UserDefaults::standard().removeObject(VXPreferencesUseServerSplashScreen);
}

TEST_F(AppDelegateTest, TheBridgeFallsBackToTheApplicationDelegate) {
  ScopedEnv none("FLUVANE_SERVICE_URL", nullptr);
  delegate = std::make_unique<TestAppDelegate>();
  window().addSubview(delegate->mainView);
  {
    VXChipBridge bridge;  // no delegate of its own
    bridge.chipReady();
    ui().advance(0);
  }
  EXPECT_TRUE(delegate->m_chipReady);
  // A second application delegate is refused.
  const auto lines = printed_lines([] { TestAppDelegate second; });
  EXPECT_TRUE(contains(lines, "gAppDelegate == nil"));
  EXPECT_EQ(VXAppDelegate::getAppDelegate(), delegate.get());
}

TEST_F(AppDelegateTest, AServerMessageLinkThatIsNotWebIsNotOpened) {
  ConfiguredService service;
  service.stub.on("/fluvane/motd/",
                  stub::Reply::text("###TITLE###T###BODY###B###URL###file:///etc/passwd?###ID###m9"
                                    "###OK_B###No###CANCEL_B###Open###"));
  launch();
  settle();
  ASSERT_EQ(ui().alerts().size(), 1u);
  const auto lines = printed_lines([&] { ui().answer(0); });
  EXPECT_TRUE(opener->urls().empty());
  EXPECT_TRUE(contains(lines, "opening url 'file:///etc/passwd?deviceid=dev-1'"));
}
