#include "Classes/RecordingController.h"

#include "Classes/EAGLView.h"
#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneRecorderHost.h"
#include "Classes/FluvaneRecordings.h"
#include "Classes/FluvaneStats.h"
#include "Classes/FluvaneVCR.h"
#include "platform/AlertPresenter.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UrlOpener.h"
#include "vxu/VXLog.h"
#include "vxu/_ui/VXUIUtils.h"
#include "vxu/vxall.h"

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

// Runs call on the main loop with the controller, unless it has gone.
void onMain(const std::shared_ptr<RecordingController*>& self,
            std::function<void(RecordingController&)> call) {
  platform::RunLoop::main().post(
      [weak = std::weak_ptr<RecordingController*>(self), call = std::move(call)] {
        if (std::shared_ptr<RecordingController*> c = weak.lock()) call(**c);
      });
}

}  // namespace

RecordingController::RecordingController(FluvaneChipBridge* bridge, EAGLView* view,
                                         MessageHandlerDelegate* msgDelegate)
    : bridge_(bridge),
      view_(view),
      msgDelegate_(msgDelegate),
      self_(std::make_shared<RecordingController*>(this)) {
  RecordingControllerHooks hooks;
  hooks.wantsRecordedSnipets = [] { return wantsRecordedSnipets(); };
  hooks.recordedSnipet = [self = self_](std::unique_ptr<FluvaneSnippet> snippet) {
    std::shared_ptr<FluvaneSnippet> shared(std::move(snippet));
    onMain(self, [shared](RecordingController& c) {
      c.recordedSnipet(std::make_unique<FluvaneSnippet>(std::move(*shared)));
    });
  };
  hooks.snippetPlabackEnded = [self = self_] {
    onMain(self, [](RecordingController& c) { c.snippetPlabackEnded(); });
  };
  VCR_SetRecordingController(std::move(hooks));
  updateToolbarIcons();
}

RecordingController::~RecordingController() {
  VCR_SetRecordingController({});
  self_.reset();
  if (upload_) upload_->abort();
  uploadThread_.reset();  // joins: the aborted upload has ended
}

bool RecordingController::wantsRecordedSnipets() {
  return FluvanePreferences::standardFluvanePreferences().enableMelodyUpload() == 2;
}

void RecordingController::recordedSnipet(std::unique_ptr<FluvaneSnippet> snippet) {
  vxlog().log("recordedSnipet");
  recording_ = std::move(snippet);
  hasUploadedMelody_ = false;
  updateToolbarIcons();
}

void RecordingController::showAlert(AlertState state, const std::string& title,
                                    const std::string& message, const char* cancel,
                                    const char* other) {
  alertState_ = state;
  std::shared_ptr<platform::AlertPresenter> presenter = platform::AlertPresenter::installed();
  if (!presenter) return;
  platform::Alert alert;
  alert.title = title;
  alert.message = message;
  if (cancel) alert.cancelButton = cancel;
  if (other) alert.otherButtons.push_back(other);
  presenter->present(alert, [weak = std::weak_ptr<RecordingController*>(self_)](int index) {
    if (std::shared_ptr<RecordingController*> c = weak.lock()) (*c)->alertView(index);
  });
}

void RecordingController::startRecording() {
  if (isRecording_) return;
  if (hasUnsavedRecording()) {
    showAlert(kEraseWarning, "Warning !",
              "Your last recording has not been uploaded. Do you really want to erase it ?",
              "Cancel", "Erase");
    return;
  }
  stopPlayback();
  if (bridge_) bridge_->sendManualRecordingCommand(1);
  isRecording_ = true;
  hasUploadedMelody_ = false;
  if (view_) view_->setRecording(true);
}

void RecordingController::stopRecording() {
  if (!isRecording_) return;
  if (bridge_) bridge_->sendManualRecordingCommand(2);
  isRecording_ = false;
  if (view_) view_->setRecording(false);
}

void RecordingController::recordingMaxTimeReached() {
  if (!isRecording_) return;
  vxlog().log("max recording reached");
  VXALL::vibrate();
  stopRecording();
  updateToolbarIcons();
  showAlert(kMaxLength, "Notice", "The maximum recording length was reached", nullptr, "Ok");
}

void RecordingController::startPlayback(const FluvaneSnippet* snippet) {
  if (!snippet || isPlaying_) return;
  vxlog().log("startPlayback");
  isPlaying_ = true;
  isPlayingHelpSnipet_ = snippet == helpSnippet_.get();
  if (view_) view_->setPlayback(true);
  if (bridge_) bridge_->setFluvaneMode(2);
  playSnipetNow(CopySnipet(*snippet));
}

void RecordingController::stopPlayback() {
  if (!isPlaying_) return;
  vxlog().log("stopPlayback");
  stopCurrentSnippet();
  if (bridge_) bridge_->setFluvaneMode(1);
  FluvaneGfx::gfxPlaybackStateChangedCallback(-1);
  isPlaying_ = isPlayingHelpSnipet_ = false;
  if (view_) view_->setPlayback(false);
  ripplesToSkip_ = 3;
}

void RecordingController::snippetPlabackEnded() {
  if (!isPlaying_) return;
  bool help = isPlayingHelpSnipet_;
  if (bridge_) bridge_->setFluvaneMode(1);
  FluvaneGfx::gfxPlaybackStateChangedCallback(-1);
  isPlaying_ = isPlayingHelpSnipet_ = false;
  if (view_) view_->setPlayback(false);
  ripplesToSkip_ = 3;
  updateToolbarIcons();
  if (help && msgDelegate_) msgDelegate_->receiveMsg(4008);
}

void RecordingController::playHelpTune() {
  if (!helpSnippet_) {
    auto tune = std::make_unique<FluvaneSnippet>();
    if (!loadSnippet(*tune, platform::Paths::join(platform::Paths::resources(), "tutorial.txt"))) {
      return;
    }
    helpSnippet_ = std::move(tune);
  }
  startPlayback(helpSnippet_.get());
}

bool RecordingController::writeSnippet() const {
  if (!recording_) return false;
  platform::Paths::mkdirs(platform::Paths::documents());
  return saveSnippet(*recording_,
                     platform::Paths::join(platform::Paths::documents(), "snippet.txt"));
}

void RecordingController::uploadRecordedSnippet() {
  if (!recording_) return;
  isUploadingMelody_ = true;
  auto helper = std::make_shared<SnippetUploadHelper>();
  helper->setHttpProgressListener(this);
  upload_ = helper;
  std::shared_ptr<FluvaneSnippet> copy = CopySnipet(*recording_);
  if (!copy || !helper->prepareSnippetUpload(*copy, false, true)) {
    if (copy) FluvaneRecordings::addToOutbox(*copy);
    isUploadingMelody_ = false;
    getEmailDataForUploadedSnippet();
    updateToolbarIcons();
    return;
  }
  if (!uploadThread_) uploadThread_ = std::make_unique<VXBackgroundThread>("SnippetUpload");
  uploadThread_->performSelectorInBackground([helper, copy] {
    bool ok = helper->uploadNow();
    if (!ok && !helper->postResult().has_value()) return;
    // A failed upload waits in the outbox; a successful one lets it drain.
    if (!ok) {
      FluvaneRecordings::addToOutbox(*copy);
    } else {
      FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet);
    }
  });
}

void RecordingController::currentHttpProgress(float progress) {
  if (progress != 1.0f) return;
  isUploadingMelody_ = false;
  getEmailDataForUploadedSnippet();
  vxlog().log("upload completed");
  updateToolbarIcons();
}

void RecordingController::cancelSnippetUpload() {
  if (!isUploadingMelody_) return;
  if (upload_) upload_->abort();
  isUploadingMelody_ = false;
  updateToolbarIcons();
}

void RecordingController::getEmailDataForUploadedSnippet() {
  std::optional<std::string> answer = upload_ ? upload_->getServerAnswer() : std::nullopt;
  if (answer) {
    std::string_view text = *answer;
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    size_t newline = text.find('\n');
    if (newline == std::string_view::npos) {
      vxlog().log("needs more lines");
    } else {
      emailSubject_ = std::string(text.substr(0, newline));
      emailBody_ = std::string(text.substr(newline + 1));
      hasUploadedMelody_ = true;
    }
  }
  if (hasUploadedMelody_ && emailWhenUploaded_) {
    emailWhenUploaded_ = false;
    emailSnippet();
  } else if (hasUploadedMelody_) {
    if (FluvaneStats::defaultFluvaneStats().manualUploads() <= 1) {
      showAlert(kUploaded, "Melody uploaded",
                "Don't forget to tap the mail icon to send you and your friends a link to this "
                "recording",
                nullptr, "Ok");
    }
  } else {
    showAlert(kUploadError, "Melody upload error", "Please check your network settings.",
              nullptr, "Ok");
  }
}

void RecordingController::emailSnippet() {
  if (!hasUploadedMelody_) return;
  showAlert(kEmailOffer, "email a friend",
            "Launch Mail to email a friend a link of your last recording ?", "Cancel", "Yes");
}

void RecordingController::deleteLastSnipet() {
  recording_.reset();
  hasUploadedMelody_ = false;
}

void RecordingController::alertView(int buttonIndex) {
  AlertState state = alertState_;
  alertState_ = kNone;
  // The cancel button is 0 when there is one; the alerts without one have
  // nothing to do.
  if (buttonIndex != 1) return;
  if (state == kEmailOffer) {
    FluvaneStats::defaultFluvaneStats().incrementManualUploads();
    std::string url = "mailto:?subject=" + platform::escapeValue(emailSubject_ + " ") +
                      "&body=" + platform::escapeValue(emailBody_ + "\n");
    if (std::shared_ptr<platform::UrlOpener> opener = platform::UrlOpener::installed()) {
      opener->open(url);
    }
  } else if (state == kEraseWarning) {
    deleteLastSnipet();
    startRecording();
    updateToolbarIcons();
  }
}

void RecordingController::fadeToolbar(bool fade) { fadedBar_ = fade; }

void RecordingController::updateToolbarIcons() {
  const bool has = recording_ != nullptr;
  buttons_.record = !isPlaying_ && !isUploadingMelody_;
  buttons_.play = !isRecording_ && has;
  buttons_.upload = !isRecording_ && !isPlaying_ && has && !hasUploadedMelody_;
  buttons_.email = !isRecording_ && !isPlaying_ && has;
  buttons_.recordImage = isRecording_ ? "stop_tool.png" : "recording_tool.png";
  buttons_.playImage = isPlaying_ ? "stop_tool.png" : "play_tool.png";
  buttons_.recordLabel = isRecording_ ? "stop" : "record";
  buttons_.playLabel = isPlaying_ ? "stop" : "play";
}

void RecordingController::receiveMsg(int code) {
  switch (code) {
    case 4002:
      if (fadedBar_ || isPlaying_) break;
      if (ripplesToSkip_ > 0) {
        ripplesToSkip_--;
      } else {
        fadeToolbar(true);
      }
      break;
    case 4003:
      if (isRecording_) {
        stopRecording();
      } else {
        startRecording();
      }
      break;
    case 4004:
      if (isPlaying_) {
        stopPlayback();
      } else {
        startPlayback(recording_.get());
      }
      break;
    case 4005:
      uploadRecordedSnippet();
      break;
    case 4006:
      if (!hasUploadedMelody_) {
        emailWhenUploaded_ = true;
        uploadRecordedSnippet();
      }
      emailSnippet();
      break;
    case 4007:
      if (fadedBar_) fadeToolbar(false);
      break;
    default:
      break;
  }
  updateToolbarIcons();
}
