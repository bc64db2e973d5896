// The instrument's application delegate after launch: its message codes
// open and close the screens, the blow hint and the help as the player's
// presses and breath send them; readiness runs once; resigning active
// stops what the state says. The engine is not started (the test delegate
// leaves it out); everything else is the application's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Classes/FluvaneAppDelegate.h"
#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvanePreferences.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Application.h"
#include "platform/ui/Automation.h"

using platform::ui::Application;
using platform::ui::Automation;
using platform::ui::View;

namespace {

class TestDelegate : public FluvaneAppDelegate {
 public:
  int engineStarts = 0;

 protected:
  void startEngine() override { engineStarts++; }
};

class FluvaneAppDelegateMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    FluvaneGfx::reset();
    platform::ui::HostOptions options;
    options.testing = true;
    options.compositing = false;
    std::string error;
    app_ = Application::create(options, &error);
    ASSERT_TRUE(app_) << error;
    delegate_ = std::make_unique<TestDelegate>();
    app_->setDelegate(delegate_.get());
    app_->launch();
    automation_ = std::make_unique<Automation>(*app_);
    automation_->advance(0);
  }
  void TearDown() override {
    if (app_ && !app_->terminated()) app_->terminate();
    automation_.reset();
    app_.reset();
    delegate_.reset();
    FluvaneGfx::reset();
  }
  // Runs the animations to their end.
  void settle() { automation_->advance(1.0); }
  bool shown(const View* view) const {
    return view && view->alpha() > 0.99 && !view->hidden() && view->superview();
  }
  bool hintShown() const { return shown(delegate_->blowableHelp.get()); }

  std::unique_ptr<Application> app_;
  std::unique_ptr<TestDelegate> delegate_;
  std::unique_ptr<Automation> automation_;
};

TEST_F(FluvaneAppDelegateMessages, LaunchWiresTheScreenAndStartsTheEngineOnce) {
  EXPECT_EQ(delegate_->engineStarts, 1);
  ASSERT_TRUE(delegate_->chipBridge());
  EXPECT_EQ(delegate_->glView->chipBridge(), delegate_->chipBridge());
  EXPECT_EQ(delegate_->glView->superview(), &app_->window());
  EXPECT_EQ(delegate_->glView->msgDelegate, delegate_.get());
  EXPECT_EQ(delegate_->vexelBar->msgDelegate, delegate_->glView.get());
  EXPECT_EQ(delegate_->glView->subviews().back(), delegate_->vexelBar);
  EXPECT_DOUBLE_EQ(delegate_->settingsView->alpha(), 0);
  EXPECT_DOUBLE_EQ(delegate_->chipReadyTime, -1.0);
  EXPECT_FALSE(delegate_->glView->animating());
  EXPECT_FALSE(hintShown());
}

TEST_F(FluvaneAppDelegateMessages, ReadinessRunsOnceAndShowsTheBlowHint) {
  delegate_->chipReady();
  const double readyAt = delegate_->chipReadyTime;
  EXPECT_GT(readyAt, 0);
  EXPECT_TRUE(delegate_->m_chipReady);
  EXPECT_TRUE(delegate_->glView->animating());
  EXPECT_EQ(delegate_->blowableHelp->superview(), delegate_->glView.get());
  delegate_->chipReady();
  EXPECT_EQ(delegate_->chipReadyTime, readyAt);
  int hints = 0;
  for (const auto& v : delegate_->glView->subviews()) hints += v == delegate_->blowableHelp;
  EXPECT_EQ(hints, 1);
  // The hint lies below the toolbar and lets touches through.
  EXPECT_EQ(delegate_->glView->subviews().back(), delegate_->vexelBar);
  EXPECT_FALSE(delegate_->blowableHelp->userInteractionEnabled());
}

TEST_F(FluvaneAppDelegateMessages, FourRipplesBlowTheHintAwayForGood) {
  delegate_->chipReady();
  delegate_->receiveMsg(1002);  // to the globe: the hint closes
  settle();
  EXPECT_FALSE(hintShown());
  delegate_->receiveMsg(1001);  // back before blowing: the hint again
  settle();
  EXPECT_TRUE(hintShown());
  for (int i = 0; i < 3; i++) delegate_->receiveMsg(4002);
  EXPECT_FALSE(delegate_->helpBlownAway);
  delegate_->receiveMsg(4002);
  EXPECT_TRUE(delegate_->helpBlownAway);
  settle();
  EXPECT_FALSE(hintShown());
  EXPECT_EQ(delegate_->blowableHelp->superview(), nullptr);  // removed at the end
  delegate_->receiveMsg(1001);
  settle();
  EXPECT_FALSE(hintShown());
  delegate_->resetBlowableHelp();
  EXPECT_EQ(delegate_->totalRipplesCount, 0);
  delegate_->receiveMsg(1001);
  settle();
  EXPECT_TRUE(hintShown());
}

TEST_F(FluvaneAppDelegateMessages, InformationAndSettingsOpenAndCloseTheirViews) {
  View* tagged = delegate_->taggedView();
  ASSERT_NE(tagged, nullptr);
  delegate_->chipReady();
  delegate_->receiveMsg(1004);
  settle();
  EXPECT_TRUE(shown(delegate_->infoView.get()));
  EXPECT_DOUBLE_EQ(tagged->alpha(), 0);
  EXPECT_DOUBLE_EQ(delegate_->settingsView->alpha(), 0);
  EXPECT_FALSE(hintShown());
  EXPECT_TRUE(delegate_->vexelBar->isExpanded);
  EXPECT_TRUE(delegate_->infoView->exclusiveTouch());

  delegate_->receiveMsg(1005);
  settle();
  EXPECT_DOUBLE_EQ(delegate_->infoView->alpha(), 0);
  EXPECT_FALSE(delegate_->infoView->exclusiveTouch());
  EXPECT_DOUBLE_EQ(tagged->alpha(), 1);

  delegate_->receiveMsg(4000);
  settle();
  EXPECT_TRUE(shown(delegate_->settingsView.get()));
  // The settings lie in front of the screen, the toolbar in front of them.
  const auto& subviews = delegate_->glView->subviews();
  EXPECT_EQ(subviews.back(), delegate_->vexelBar);
  EXPECT_EQ(subviews[subviews.size() - 2], delegate_->settingsView);

  delegate_->receiveMsg(4001);
  settle();
  EXPECT_DOUBLE_EQ(delegate_->settingsView->alpha(), 0);
  EXPECT_DOUBLE_EQ(tagged->alpha(), 1);
}

TEST_F(FluvaneAppDelegateMessages, ToolbarCodesAreForwarded) {
  delegate_->receiveMsg(102);
  EXPECT_TRUE(delegate_->vexelBar->isExpanded);
  delegate_->receiveMsg(103);
  EXPECT_FALSE(delegate_->vexelBar->isExpanded);
  delegate_->receiveMsg(12345);  // ignored
  delegate_->receiveMsg(4007);
  EXPECT_FALSE(delegate_->vexelBar->isExpanded);
}

// Every screen code, sent once with everything a screen change touches
// shown (the settings, information and tutorial views, the tagged title, the
// blow hint, the recording toolbar with manual recording chosen, the help
// tune playing) and once with all of it hidden, leaves each thing opened,
// closed or as it was, as the row below says. The rows are written here by
// hand; the delegate's table of screens must hold exactly these codes.
TEST_F(FluvaneAppDelegateMessages, EveryScreenCodeOpensAndClosesWhatItsRowSays) {
  enum Then { Same, Open, Shut };
  struct Row {
    int code;
    Then settings, info, tutorial, tagged, hint, recordBar, playback;
  };
  const Row rows[] = {
      // code  settings info  tutorial tagged hint  bar   playback
      {300, Same, Same, Same, Same, Open, Open, Shut},   // help pages finished
      {1001, Same, Same, Same, Same, Open, Open, Same},  // left the globe
      {1002, Same, Same, Same, Same, Shut, Shut, Shut},  // went to the globe
      {1004, Shut, Open, Shut, Shut, Shut, Shut, Shut},  // information
      {1005, Same, Shut, Shut, Open, Same, Open, Same},  // information closed
      {4000, Open, Shut, Shut, Open, Shut, Shut, Shut},  // settings
      {4001, Shut, Shut, Shut, Open, Same, Open, Same},  // settings closed
  };
  std::vector<int> tableCodes;
  for (const FluvaneAppDelegate::Screen& screen : FluvaneAppDelegate::screens()) {
    tableCodes.push_back(screen.code);
  }
  std::vector<int> rowCodes;
  for (const Row& row : rows) rowCodes.push_back(row.code);
  std::sort(tableCodes.begin(), tableCodes.end());
  EXPECT_EQ(tableCodes, rowCodes);

  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  const int upload = prefs.enableMelodyUpload();
  prefs.setEnableMelodyUpload(2);
  delegate_->chipReady();
  FluvaneAppDelegate& d = *delegate_;
  // Manual recording, chosen on the settings screen too: closing a shown
  // settings screen keeps what it shows.
  d.fluvaneSettings->recordModeControl().setSelectedSegmentIndex(2);
  RecordingController& recorder = *d.recordingController;
  View* const views[] = {d.settingsView.get(), d.infoView.get(), d.tutorialView.get(),
                         d.taggedView()};
  for (const Row& row : rows) {
    for (bool start : {true, false}) {
      SCOPED_TRACE(::testing::Message()
                   << "code " << row.code << (start ? " from shown" : " from hidden"));
      for (View* view : views) view->setAlpha(start ? 1 : 0);
      if (start) {
        d.resetBlowableHelp();
        d.openHelp();
        recorder.insertViewsInside(d.glView.get(), d.mainToolbar.get());
        recorder.playHelpTune();
        ASSERT_TRUE(recorder.isPlaying());
      } else {
        d.closeHelp();
        recorder.hideViews();
        recorder.stopPlayback();
      }
      settle();
      d.receiveMsg(row.code);
      settle();
      auto after = [start](Then then) { return then == Same ? start : then == Open; };
      EXPECT_EQ(shown(d.settingsView.get()), after(row.settings)) << "settings";
      EXPECT_EQ(shown(d.infoView.get()), after(row.info)) << "information";
      EXPECT_EQ(shown(d.tutorialView.get()), after(row.tutorial)) << "tutorial";
      EXPECT_EQ(shown(d.taggedView()), after(row.tagged)) << "tagged title";
      EXPECT_EQ(hintShown(), after(row.hint)) << "blow hint";
      EXPECT_EQ(recorder.recordBar()->superview() == d.glView.get(), after(row.recordBar))
          << "recording toolbar";
      EXPECT_EQ(recorder.isPlaying(), after(row.playback)) << "playback";
      // A screen opens below the toolbar, which stays in front.
      EXPECT_EQ(d.glView->subviews().back(), d.mainToolbar);
    }
  }
  prefs.setEnableMelodyUpload(upload);
}

TEST_F(FluvaneAppDelegateMessages, TheHelpPlaysBackAndItsTuneTurnsThePage) {
  delegate_->receiveMsg(1006);
  settle();
  EXPECT_TRUE(delegate_->glView->isPlaying());
  EXPECT_TRUE(FluvaneGfx::isPlaying());
  ASSERT_TRUE(delegate_->helpController);
  EXPECT_EQ(delegate_->helpController->currentImageIndex(), 0);
  delegate_->receiveMsg(4008);
  EXPECT_EQ(delegate_->helpController->currentImageIndex(), 1);
  // Finished: playback off, the hint shown.
  delegate_->receiveMsg(300);
  settle();
  EXPECT_FALSE(delegate_->glView->isPlaying());
  EXPECT_TRUE(hintShown());
}

TEST_F(FluvaneAppDelegateMessages, ResigningActiveStopsWhatTheStateSays) {
  delegate_->chipReady();
  FluvanePreferences::standardFluvanePreferences().setEnableAudioWhenSleeping(true);
  delegate_->glView->receiveMsg(1002);  // to the globe
  EXPECT_EQ(delegate_->glView->currentAppState(), EAGLView::kStateGlobe);
  app_->setActive(false);
  EXPECT_FALSE(delegate_->glView->enableRender());
  EXPECT_TRUE(delegate_->glView->animating());
  app_->setActive(true);
  EXPECT_TRUE(delegate_->glView->enableRender());
  delegate_->glView->receiveMsg(1001);  // back to the instrument
  app_->setActive(false);
  EXPECT_FALSE(delegate_->glView->animating());
  app_->setActive(true);
  EXPECT_TRUE(delegate_->glView->animating());
  FluvanePreferences::standardFluvanePreferences().setEnableAudioWhenSleeping(false);
}

// The toolbar's "Globe" item takes the player to the globe and, pressed
// again there, back to the instrument.
TEST_F(FluvaneAppDelegateMessages, TheToolbarsGlobeItemGoesToTheGlobeAndBack) {
  delegate_->chipReady();
  auto* bar = dynamic_cast<platform::ui::Toolbar*>(delegate_->mainToolbar->expandedToolBar.get());
  ASSERT_NE(bar, nullptr);
  std::shared_ptr<platform::ui::BarItem> globe;
  for (const auto& item : bar->items()) {
    if (item->title() == "Globe") globe = item;
  }
  ASSERT_TRUE(globe);
  globe->trigger();
  EXPECT_EQ(delegate_->glView->currentAppState(), EAGLView::kStateGlobe);
  globe->trigger();
  EXPECT_EQ(delegate_->glView->currentAppState(), EAGLView::kStateInstrument);
}

// The instrument screen's own codes: leaving the globe sends 4001 then 1001
// to its delegate after the transition.
TEST(EAGLViewMessages, GlobeTransitionsTellTheDelegateInOrder) {
  struct Recorder : MessageHandlerDelegate {
    std::vector<int> codes;
    std::vector<int> states;
    EAGLView* view = nullptr;
    void receiveMsg(int code) override {
      codes.push_back(code);
      states.push_back(view->currentAppState());
    }
  } recorder;
  struct ModeBridge : FluvaneGfxBridge {
    std::vector<int> modes;
    void setState(int) override {}
    void setVibratoRate(float) override {}
    void setVibratoDepth(float) override {}
    void setFluvaneMode(int mode) override { modes.push_back(mode); }
  } bridge;
  EAGLView view;
  recorder.view = &view;
  view.msgDelegate = &recorder;
  view.setChipBridge(&bridge);
  view.receiveMsg(1002);
  view.receiveMsg(0);
  view.receiveMsg(1001);
  view.receiveMsg(4000);
  view.transitionToEarth();
  view.ToFluvaneView();
  EXPECT_EQ(recorder.codes, (std::vector<int>{103, 4001, 1002, 103, 4001, 1001, 4000, 103}));
  EXPECT_EQ(recorder.states, (std::vector<int>{0, 1, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(bridge.modes, (std::vector<int>{1, 2, 1, 2, 1}));
  EXPECT_EQ(view.currentAppState(), 0);
  EXPECT_STREQ(EAGLView::touchName(platform::ui::TouchPhase::Stationary), "Stat");
}

}  // namespace
