// The instrument's launch and life cycle on a testing host (off screen) with
// the real engine on the test audio hardware: the launch starts the engine
// with the instrument's scripts and the preferences' key, the ready signal
// sets the screen up once however often it comes, resigning active pauses
// the engine by the screen's state, and terminating stops the engine, waits
// for its thread and only then deletes its scripts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Classes/FluvaneAppDelegate.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneStats.h"
#include "Classes/ui/launched_instrument_support.h"
#include "platform/Paths.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Selectors.h"
#include "vxu/VXOB_File.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

using platform::RunLoop;

namespace {

using FluvaneLaunchTest = LaunchedInstrumentTest;

TEST_F(FluvaneLaunchTest, LaunchStartsTheEngineInThePreferencesKey) {
  FluvanePreferences::standardFluvanePreferences().setRoot("D");
  FluvanePreferences::standardFluvanePreferences().setMode("Dorian");
  const std::uint32_t launches = FluvaneStats::defaultFluvaneStats().appLaunchesSince1_2();
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  EXPECT_EQ(FluvaneStats::defaultFluvaneStats().appLaunchesSince1_2(), launches + 1);
  EXPECT_EQ(Vexel_Integration::instance().get_int("Fluvane: root"), 62);
  EXPECT_EQ(Vexel_Integration::instance().get_int("Fluvane: mode"), 5);
  EXPECT_EQ(Vexel_Integration::instance().get_int("Fluvane: App state"), 1);
  ASSERT_TRUE(delegate->chipBridge());
  EXPECT_TRUE(delegate->chipBridge()->alive());
  // The four scripts were written out for the engine.
  EXPECT_EQ(platform::Paths::listDir(VXOB_tmpDirectory()).size(), 4u);
  EXPECT_TRUE(delegate->glView && delegate->glView->animating());
}

TEST_F(FluvaneLaunchTest, ReadyTwiceSetsUpOnce) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  const double readyTime = delegate->chipReadyTime;
  EXPECT_GE(readyTime, 0.0);
  delegate->glView->stopAnimation();
  delegate->chipReady();  // a second ready signal
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(delegate->chipReadyTime, readyTime);
  EXPECT_FALSE(delegate->glView->animating());  // not started again
}

TEST_F(FluvaneLaunchTest, ResigningPausesByTheScreensState) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  FluvanePreferences::standardFluvanePreferences().setEnableAudioWhenSleeping(true);
  // The instrument: the engine always pauses.
  app->setActive(false);
  EXPECT_TRUE(delegate->chipBridge()->paused());
  EXPECT_FALSE(unit->isRunning());
  EXPECT_FALSE(delegate->glView->animating());
  app->setActive(true);
  EXPECT_FALSE(delegate->chipBridge()->paused());
  EXPECT_TRUE(unit->isRunning());
  EXPECT_TRUE(delegate->glView->animating());
  // The globe with audio while sleeping: only the drawing stops.
  delegate->glView->transitionToEarth();
  ASSERT_EQ(delegate->glView->currentAppState(), EAGLView::kStateGlobe);
  app->setActive(false);
  EXPECT_FALSE(delegate->chipBridge()->paused());
  EXPECT_TRUE(unit->isRunning());
  EXPECT_FALSE(delegate->glView->enableRender());
  app->setActive(true);
  EXPECT_TRUE(delegate->glView->enableRender());
  // Without audio while sleeping the globe pauses too.
  FluvanePreferences::standardFluvanePreferences().setEnableAudioWhenSleeping(false);
  app->setActive(false);
  EXPECT_TRUE(delegate->chipBridge()->paused());
  app->setActive(true);
}

TEST_F(FluvaneLaunchTest, TerminatingStopsAndJoinsTheEngineBeforeItsScriptsGo) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  ASSERT_FALSE(platform::Paths::listDir(VXOB_tmpDirectory()).empty());
  app->terminate();
  EXPECT_FALSE(delegate->chipBridge()->alive());
  EXPECT_TRUE(platform::Paths::listDir(VXOB_tmpDirectory()).empty());
  EXPECT_FALSE(unit->isRunning());
  // The statistics were saved.
  EXPECT_TRUE(platform::Paths::exists(
      platform::Paths::join(platform::Paths::documents(), "stats.plist")));
}

}  // namespace

// With manual recording chosen the recording toolbar is on the instrument
// below the main toolbar from the launch; it goes with the globe, the
// information and the settings screens and comes back with the instrument,
// and its record button reaches the scripts' manual record key.
TEST_F(FluvaneLaunchTest, ManualRecordingPutsItsToolbarOnTheInstrument) {
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  const int upload = prefs.enableMelodyUpload();
  prefs.setEnableMelodyUpload(2);
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  RecordingController& recorder = *delegate->recordingController;
  VXMainToolbar* bar = recorder.recordBar();
  // In the instrument screen, under the main toolbar.
  auto shown = [&] {
    const auto& views = delegate->glView->subviews();
    bool below = false;
    for (const auto& v : views) {
      if (v.get() == bar) below = true;
      if (v == delegate->mainToolbar) return below;
    }
    return false;
  };
  EXPECT_TRUE(shown());
  const char* key = "Fluvane: manual record command";
  recorder.receiveMsg(4003);
  EXPECT_EQ(Vexel_Integration::instance().get_int(key), 1);
  const struct {
    int code;
    bool shownAfter;
  } steps[] = {{1002, false}, {1001, true}, {1004, false}, {1005, true}, {4000, false}};
  for (const auto& step : steps) {
    delegate->receiveMsg(step.code);
    EXPECT_EQ(shown(), step.shownAfter) << step.code;
    EXPECT_FALSE(recorder.isRecording()) << step.code;
  }
  EXPECT_EQ(Vexel_Integration::instance().get_int(key), 2);  // the screen change stopped it
  // In the settings the player chooses how melodies go; closing them shows
  // the toolbar only for manual recording.
  VXSubItem found = getSubItemWithTag(delegate->settingsView.get(),
                                      SettingsViewController::kRecordModeTag);
  auto* melodies = dynamic_cast<platform::ui::SegmentedControl*>(found.view);
  ASSERT_NE(melodies, nullptr);
  for (int segment : {2, 1, 2}) {
    delegate->receiveMsg(4000);
    melodies->setSelectedSegmentIndex(segment);
    melodies->sendActionsForControlEvents(platform::ui::kValueChanged);
    delegate->receiveMsg(4001);
    EXPECT_EQ(shown(), segment == 2) << segment;
  }
  // The sign-in screen's question reaches the controller.
  EXPECT_FALSE(delegate->hasUnsavedRecording());
  recorder.recordedSnipet(std::make_unique<FluvaneSnippet>());
  EXPECT_TRUE(delegate->hasUnsavedRecording());
  prefs.setEnableMelodyUpload(upload);
}

TEST_F(FluvaneLaunchTest, AutomaticUploadLeavesTheRecordingToolbarOut) {
  FluvanePreferences::standardFluvanePreferences().setEnableMelodyUpload(1);
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  EXPECT_EQ(delegate->recordingController->recordBar()->superview(), nullptr);
}

// The help's fifth page plays the help tune; turning the page stops it, and
// the tune's end turns to the next page.
TEST_F(FluvaneLaunchTest, TheHelpTunePlaysOnItsPageAndItsEndTurnsThePage) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  RecordingController& recorder = *delegate->recordingController;
  VXImageSequenceController& help = *delegate->helpController;
  delegate->receiveMsg(1006);
  ASSERT_EQ(help.currentImageIndex(), 0);
  for (int i = 0; i < 4; i++) help.nextImage();
  ASSERT_EQ(help.currentImageIndex(), 4);
  EXPECT_TRUE(recorder.isPlaying());
  EXPECT_TRUE(delegate->glView->isPlaying());
  help.nextImage();
  EXPECT_FALSE(recorder.isPlaying());
  help.previousImage();
  ASSERT_TRUE(recorder.isPlaying());
  recorder.snippetPlabackEnded();
  EXPECT_FALSE(recorder.isPlaying());
  EXPECT_EQ(help.currentImageIndex(), 5);
}
