// The recording controller driven by its messages, with a test presenter
// answering its alerts and the modelled service taking its uploads.
#include "Classes/RecordingController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Classes/FluvanePreferences.h"
#include "recorder/FluvaneRecorderHost.h"
#include "recorder/FluvaneRecordings.h"
#include "Classes/FluvaneStats.h"
#include "fluvane_service.h"
#include "recording_test_support.h"
#include "platform/AlertPresenter.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UrlOpener.h"
#include "vxu/VXSecrets.h"
#include "vxu/ui/VXUIUtils.h"
#include "vxu/vx_service_support.h"

using platform::RunLoop;

namespace {

template <typename Done>
bool waitFor(Done done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    RunLoop::main().runUntilIdle();
    std::this_thread::yield();
  }
  return true;
}

class RecordingControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::AlertPresenter::install(presenter_);
    previousOpener_ = platform::UrlOpener::install(opener_);
    FluvaneStats::defaultFluvaneStats().setManualUploads(0);
  }
  void TearDown() override {
    controller_.reset();
    RunLoop::main().runUntilIdle();
    platform::AlertPresenter::install(previous_);
    platform::UrlOpener::install(previousOpener_);
  }
  std::shared_ptr<platform::TestAlertPresenter> presenter_ =
      std::make_shared<platform::TestAlertPresenter>();
  std::shared_ptr<platform::AlertPresenter> previous_;
  std::shared_ptr<platform::RecordingUrlOpener> opener_ =
      std::make_shared<platform::RecordingUrlOpener>();
  std::shared_ptr<platform::UrlOpener> previousOpener_;
  std::unique_ptr<RecordingController> controller_ =
      std::make_unique<RecordingController>(nullptr, nullptr);
};

TEST_F(RecordingControllerTest, RecordingsArriveThroughTheMainLoop) {
  EXPECT_FALSE(controller_->buttons().play);
  controller_->receiveMsg(4003);
  EXPECT_TRUE(controller_->isRecording());
  EXPECT_EQ(controller_->buttons().recordLabel, "stop");
  EXPECT_FALSE(controller_->buttons().play);
  controller_->receiveMsg(4003);
  EXPECT_FALSE(controller_->isRecording());
  // The upload thread's hand-over, with manual recording chosen: nothing
  // changes until the main loop runs.
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  int upload = prefs.enableMelodyUpload();
  prefs.setEnableMelodyUpload(2);
  installApplicationRecorder();
  std::thread uploadThread([] { FluvaneVCR_host().recorded(aRecording()); });
  uploadThread.join();
  prefs.setEnableMelodyUpload(upload);
  EXPECT_FALSE(controller_->recording());
  RunLoop::main().runUntilIdle();
  ASSERT_TRUE(controller_->recording());
  EXPECT_TRUE(controller_->recording()->manual);
  EXPECT_TRUE(controller_->buttons().play);
  EXPECT_TRUE(controller_->buttons().upload);
  EXPECT_TRUE(controller_->hasUnsavedRecording());
}

TEST_F(RecordingControllerTest, TheRecordingsTextFormForDiagnostics) {
  EXPECT_FALSE(controller_->writeSnippet());
  controller_->recordedSnipet(aRecording());
  ASSERT_TRUE(controller_->writeSnippet());
  FluvaneSnippet back;
  EXPECT_TRUE(loadSnippet(back, platform::Paths::join(platform::Paths::documents(),
                                                      "snippet.txt")));
  EXPECT_EQ(back.snapshots.size(), 2u);
}

TEST_F(RecordingControllerTest, RecordOverAnUnuploadedRecordingAsksFirst) {
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4003);
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_EQ(controller_->alertState(), RecordingController::kEraseWarning);
  ASSERT_EQ(presenter_->alerts().size(), 1u);
  EXPECT_EQ(presenter_->alerts()[0].title, "Warning !");
  EXPECT_EQ(presenter_->alerts()[0].buttonTitles(), (std::vector<std::string>{"Cancel", "Erase"}));
  // Cancel keeps it.
  presenter_->answer(0);
  EXPECT_EQ(controller_->alertState(), RecordingController::kNone);
  EXPECT_TRUE(controller_->recording());
  // Erase frees it and records at once.
  controller_->receiveMsg(4003);
  presenter_->answer(1);
  EXPECT_FALSE(controller_->recording());
  EXPECT_TRUE(controller_->isRecording());
}

TEST_F(RecordingControllerTest, AfterPlaybackThreeRipplesAreSkipped) {
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4004);
  EXPECT_TRUE(controller_->isPlaying());
  EXPECT_FALSE(controller_->buttons().upload);
  controller_->receiveMsg(4002);  // ignored while playing
  controller_->snippetPlabackEnded();
  EXPECT_FALSE(controller_->isPlaying());
  for (int i = 0; i < 3; i++) {
    controller_->receiveMsg(4002);
    EXPECT_FALSE(controller_->fadedBar()) << i;
  }
  controller_->receiveMsg(4002);
  EXPECT_TRUE(controller_->fadedBar());
  controller_->receiveMsg(4007);
  EXPECT_FALSE(controller_->fadedBar());
}

TEST_F(RecordingControllerTest, EmailBeforeUploadUploadsThenOffersTheMail) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4006);
  EXPECT_TRUE(controller_->isUploading());
  ASSERT_TRUE(waitFor([&] { return !controller_->isUploading(); }));
  EXPECT_TRUE(controller_->hasUploadedMelody());
  EXPECT_FALSE(controller_->buttons().upload);
  EXPECT_EQ(controller_->emailSubject(), "Your melody #1");
  EXPECT_EQ(controller_->alertState(), RecordingController::kEmailOffer);
  ASSERT_EQ(model.snippets().size(), 1u);
  EXPECT_EQ(model.snippets()[0].mode, "1");
  // Yes: the mail opens with subject and body, and the upload is counted.
  presenter_->answer(1);
  ASSERT_EQ(opener_->urls().size(), 1u);
  EXPECT_EQ(opener_->urls()[0].rfind("mailto:?subject=Your%20melody%20%231%20&body=", 0), 0u);
  EXPECT_EQ(FluvaneStats::defaultFluvaneStats().manualUploads(), 1u);
}

TEST_F(RecordingControllerTest, PressesDuringAnUploadWaitForIt) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  stub::Reply held = stub::Reply::text("Your melody\nhttp://example.org/1");
  held.hold = true;
  service.stub.on("/fluvane/uploadsnippet/", held);
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4005);
  ASSERT_TRUE(service.stub.waitForRequests(1));
  controller_->receiveMsg(4005);
  controller_->receiveMsg(4006);  // mail once it is up
  service.stub.release();
  ASSERT_TRUE(waitFor([&] { return !controller_->isUploading(); }));
  // The reply read is the first upload's own.
  EXPECT_TRUE(controller_->hasUploadedMelody());
  EXPECT_EQ(controller_->emailSubject(), "Your melody");
  EXPECT_EQ(controller_->alertState(), RecordingController::kEmailOffer);
}

TEST_F(RecordingControllerTest, AReplyWithoutANewlineLeavesUploadEnabled) {
  ConfiguredService service;
  service.stub.on("/fluvane/uploadsnippet/", stub::Reply::text("just one line"));
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4005);
  ASSERT_TRUE(waitFor([&] { return !controller_->isUploading(); }));
  EXPECT_FALSE(controller_->hasUploadedMelody());
  EXPECT_TRUE(controller_->buttons().upload);
  EXPECT_EQ(controller_->alertState(), RecordingController::kUploadError);
}

TEST_F(RecordingControllerTest, AFailedUploadWaitsInTheOutbox) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  size_t before = FluvaneRecordings::outbox().size();
  controller_->recordedSnipet(aRecording());
  controller_->receiveMsg(4005);
  EXPECT_FALSE(controller_->isUploading());
  EXPECT_EQ(controller_->alertState(), RecordingController::kUploadError);
  EXPECT_EQ(FluvaneRecordings::outbox().size(), before + 1);
  EXPECT_TRUE(controller_->buttons().upload);
}

// Upload and then mail while offline: the recording waits in the outbox
// once, and the outbox's drains leave it to the controller. Back online,
// upload sends it once, and nothing of it is left to send again.
TEST_F(RecordingControllerTest, OneRecordingWaitsOnceAndGoesOnce) {
  platform::Paths::remove(FluvaneRecordings::outboxDir());
  controller_->recordedSnipet(aRecording());
  {
    ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
    controller_->receiveMsg(4005);
    controller_->receiveMsg(4006);
    controller_->receiveMsg(4005);
  }
  std::vector<std::string> waiting = FluvaneRecordings::outbox();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_NE(waiting[0].find("-manual"), std::string::npos) << waiting[0];
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 0u);
  EXPECT_TRUE(model.snippets().empty());
  controller_->receiveMsg(4005);
  ASSERT_TRUE(waitFor([&] { return !controller_->isUploading(); }));
  EXPECT_TRUE(controller_->hasUploadedMelody());
  EXPECT_EQ(model.snippets().size(), 1u);
  EXPECT_TRUE(FluvaneRecordings::outbox().empty());
  controller_.reset();
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 0u);
  EXPECT_EQ(model.snippets().size(), 1u);
}

// A recording the controller lets go of (here: at its end) is the outbox's
// to send; an erased one is taken out of it.
TEST_F(RecordingControllerTest, TheOutboxSendsWhatTheControllerLetGo) {
  platform::Paths::remove(FluvaneRecordings::outboxDir());
  {
    ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
    controller_->recordedSnipet(aRecording());
    controller_->receiveMsg(4005);
    ASSERT_EQ(FluvaneRecordings::outbox().size(), 1u);
    controller_->deleteLastSnipet();
    EXPECT_TRUE(FluvaneRecordings::outbox().empty());
    controller_->recordedSnipet(aRecording());
    controller_->receiveMsg(4005);
    ASSERT_EQ(FluvaneRecordings::outbox().size(), 1u);
  }
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  controller_.reset();
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 1u);
  EXPECT_EQ(model.snippets().size(), 1u);
}

TEST_F(RecordingControllerTest, TheMaximumLengthStopsAndTells) {
  controller_->receiveMsg(4003);
  controller_->recordingMaxTimeReached();
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_EQ(controller_->alertState(), RecordingController::kMaxLength);
  EXPECT_EQ(presenter_->alerts().back().title, "Notice");
  presenter_->answer(0);
  EXPECT_EQ(controller_->alertState(), RecordingController::kNone);
}

}  // namespace
