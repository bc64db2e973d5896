#include "Classes/RecordingController.h"

#include "Classes/EAGLView.h"
#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneMessages.h"
#include "Classes/FluvanePreferences.h"
#include "recorder/FluvaneRecorderHost.h"
#include "recorder/FluvaneRecordings.h"
#include "Classes/FluvaneStats.h"
#include "recorder/FluvaneVCR.h"
#include "platform/AlertPresenter.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UrlOpener.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Canvas.h"
#include "vxu/VXLog.h"
#include "vxu/ui/VXScreens.h"
#include "vxu/ui/VXTransparentButton.h"
#include "vxu/ui/VXUIUtils.h"
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

// The upload panel's ground: dark, with rounded corners.
class UploadPanel : public platform::ui::View {
 public:
  using View::View;
  bool drawsContent() const override { return true; }
  void drawRect(platform::ui::Canvas& canvas, const platform::ui::Rect& bounds) override {
    canvas.setFillColor(platform::ui::Color{0, 0, 0, 0.78});
    canvas.beginPath();
    canvas.addRoundedRect(bounds, 10);
    canvas.drawPath(platform::ui::PathMode::Fill);
  }
};

}  // namespace

void RecordingController::makeViews() {
  using namespace platform::ui;
  constexpr double kWidth = 320, kBarHeight = 44, kLabelHeight = 14;
  // The toolbar is as tall as its bar and the captions under it, so that
  // collapsing at the top edge takes both out of sight.
  recordBar_ = std::make_shared<VXMainToolbar>(Rect(0, 0, kWidth, kBarHeight + kLabelHeight));
  auto toolbar = makeToolbarBar(recordBar_.get(), Rect(0, 0, kWidth, kBarHeight),
                                {{"Record", kFluvaneMsgRecord},
                                 {"Play", kFluvaneMsgPlay},
                                 {"Upload", kFluvaneMsgUpload},
                                 {"Mail", kFluvaneMsgMail}});
  toolbar->setTintColor(Color{0.1, 0.1, 0.12, 1});  // opaque over the screen's title
  // Record and play take their images from updateToolbarIcons.
  updateUIBarItem(toolbar.get(), kFluvaneMsgUpload, true, "upload_tool.png");
  updateUIBarItem(toolbar.get(), kFluvaneMsgMail, true, "mail_tool.png");
  std::shared_ptr<View> holder = turnedBackForTopEdge(toolbar);
  // The captions under the record and play items (a quarter of the width
  // each).
  auto labels = std::make_shared<View>(Rect(0, 0, kWidth, kLabelHeight));
  labels->setUserInteractionEnabled(false);
  auto caption = [&](double x) {
    auto label = std::make_shared<Label>(Rect(x, 0, kWidth / 4, kLabelHeight));
    label->setFont(Font::systemFont(11));
    label->setTextColor(Color::white(0.85));
    label->setTextAlignment(TextAlignment::Center);
    label->setUserInteractionEnabled(false);
    labels->addSubview(label);
    return label;
  };
  recordLabel_ = caption(0);
  playLabel_ = caption(kWidth / 4);
  recordBar_->expandedToolBar = holder;
  recordBar_->labels = labels;
  recordBar_->addSubview(holder);
  recordBar_->addSubview(labels);
  recordBar_->awakeFromNib();
  recordBar_->msgDelegate = this;

  // The upload panel: a rounded strip just above the main toolbar, below
  // the lowest holes of either layout, so it crosses none: the indicator,
  // a caption and Cancel in a row.
  uploadView_ = std::make_shared<UploadPanel>(Rect(8, 394, 304, 40));
  uploadIndicator_ = std::make_shared<ActivityIndicator>(Rect(4, 1.5, 37, 37));
  uploadView_->addSubview(uploadIndicator_);
  auto title = std::make_shared<Label>(Rect(46, 0, 156, 40));
  title->setText("Uploading melody");
  title->setFont(Font::boldSystemFont(14));
  title->setTextColor(Color::white());
  title->setUserInteractionEnabled(false);
  uploadView_->addSubview(title);
  auto cancel = std::make_shared<VXTransparentButton>(Rect(206, 4, 92, 32));
  cancel->setTitle(std::string("Cancel"));
  cancel->setFont(Font::boldSystemFont(14));
  cancel->addTarget(
      [weak = std::weak_ptr<RecordingController*>(self_)](Control&) {
        if (std::shared_ptr<RecordingController*> c = weak.lock()) (*c)->cancelButtonPressed();
      },
      kTouchUpInside);
  uploadView_->addSubview(cancel);
}

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
  makeViews();
  updateToolbarIcons();
}

RecordingController::~RecordingController() {
  VCR_SetRecordingController({});
  self_.reset();
  // The views may outlive the controller in the screen: nothing of theirs
  // reaches it any more.
  recordBar_->msgDelegate = nullptr;
  recordBar_->removeFromSuperview();
  uploadIndicator_->stopAnimating();
  uploadView_->removeFromSuperview();
  if (upload_) upload_->abort();
  uploadThread_.reset();  // joins: the aborted upload has ended
  FluvaneRecordings::release(*outboxEntry_);
}

bool RecordingController::wantsRecordedSnipets() {
  return FluvanePreferences::standardFluvanePreferences().enableMelodyUpload() == 2;
}

void RecordingController::recordedSnipet(std::unique_ptr<FluvaneSnippet> snippet) {
  vxlog().log("recordedSnipet");
  FluvaneRecordings::release(*outboxEntry_);
  outboxEntry_ = std::make_shared<FluvaneRecordings::Held>();
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
  if (help && msgDelegate_) msgDelegate_->receiveMsg(kFluvaneMsgHelpTuneEnded);
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
  // One upload at a time: a second would take the place of the first,
  // whose reply would then be read from the second (none yet: an error).
  if (!recording_ || isUploadingMelody_) return;
  isUploadingMelody_ = true;
  auto helper = std::make_shared<SnippetUploadHelper>();
  helper->setHttpProgressListener(this);
  upload_ = helper;
  std::shared_ptr<FluvaneSnippet> copy = CopySnipet(*recording_);
  if (copy) copy->manual = true;
  // Sent from here, or back in the outbox once should it fail again (or be
  // cancelled after waiting there).
  std::shared_ptr<FluvaneRecordings::Held> entry = outboxEntry_;
  const bool waited = copy && FluvaneRecordings::takeBack(*entry);
  if (!copy || !helper->prepareSnippetUpload(*copy, false, true)) {
    if (copy) FluvaneRecordings::putHeld(*copy, *entry);
    isUploadingMelody_ = false;
    getEmailDataForUploadedSnippet();
    updateToolbarIcons();
    return;
  }
  openUploadView();
  if (!uploadThread_) uploadThread_ = std::make_unique<VXBackgroundThread>("SnippetUpload");
  uploadThread_->performSelectorInBackground([helper, copy, entry, waited] {
    bool ok = helper->uploadNow();
    if (!ok && !helper->postResult().has_value()) {
      if (waited) FluvaneRecordings::putHeld(*copy, *entry);
      return;
    }
    // A failed upload waits in the outbox; a successful one lets it drain.
    if (!ok) {
      FluvaneRecordings::putHeld(*copy, *entry);
    } else {
      FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet);
    }
  });
}

void RecordingController::currentHttpProgress(float progress) {
  if (progress != 1.0f) return;
  closeUploadView();
  isUploadingMelody_ = false;
  getEmailDataForUploadedSnippet();
  vxlog().log("upload completed");
  updateToolbarIcons();
}

void RecordingController::cancelSnippetUpload() {
  if (!isUploadingMelody_) return;
  closeUploadView();
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
  FluvaneRecordings::takeBack(*outboxEntry_);
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

void RecordingController::openUploadView() {
  if (view_) openSubView(uploadView_, view_, nullptr, true);
  uploadIndicator_->startAnimating();
}

void RecordingController::closeUploadView() {
  uploadIndicator_->stopAnimating();
  if (!uploadView_->superview()) return;
  closeSubView(uploadView_.get(), [weak = std::weak_ptr<RecordingController*>(self_)](
                                      const std::string&, bool finished, void* context) {
    if (std::shared_ptr<RecordingController*> c = weak.lock()) {
      (*c)->animationDidStop(static_cast<platform::ui::View*>(context), finished);
    }
  });
}

void RecordingController::animationDidStop(platform::ui::View* view, bool) {
  if (view && view->alpha() == 0) view->removeFromSuperview();
}

void RecordingController::insertViewsInside(EAGLView* view, const platform::ui::View* sibling) {
  view_ = view;
  if (!view) return;
  if (sibling && sibling->superview() == view) {
    view->insertSubviewBelow(recordBar_, sibling);
  } else {
    view->addSubview(recordBar_);
  }
  recordBar_->setUILocation(1);
  recordBar_->receiveMsg(kVXMsgExpandToolbar);
  fadedBar_ = false;
  updateToolbarIcons();
}

void RecordingController::hideViews() {
  stopRecording();
  recordBar_->removeFromSuperview();
  if (view_) view_->setRecording(isRecording_);
  updateToolbarIcons();
}

void RecordingController::fadeToolbar(bool fade) {
  recordBar_->receiveMsg(fade ? kVXMsgCollapseToolbar : kVXMsgExpandToolbar);
}

void RecordingController::updateToolbarIcons() {
  const bool has = recording_ != nullptr;
  const Buttons before = buttons_;
  buttons_.record = !isPlaying_ && !isUploadingMelody_;
  buttons_.play = !isRecording_ && has;
  buttons_.upload = !isRecording_ && !isPlaying_ && has && !hasUploadedMelody_;
  buttons_.email = !isRecording_ && !isPlaying_ && has;
  buttons_.recordImage = isRecording_ ? "stop_tool.png" : "recording_tool.png";
  buttons_.playImage = isPlaying_ ? "stop_tool.png" : "play_tool.png";
  buttons_.recordLabel = isRecording_ ? "stop" : "record";
  buttons_.playLabel = isPlaying_ ? "stop" : "play";
  platform::ui::View* bar = recordBar_.get();
  // An image is read from the resources only when it changes (the
  // controller updates on every breath ripple).
  auto changed = [this](const std::string& was, const std::string& now) {
    return imagesShown_ && was == now ? std::nullopt : std::optional<std::string>(now);
  };
  updateUIBarItem(bar, kFluvaneMsgRecord, buttons_.record, changed(before.recordImage, buttons_.recordImage));
  updateUIBarItem(bar, kFluvaneMsgPlay, buttons_.play, changed(before.playImage, buttons_.playImage));
  imagesShown_ = true;
  updateUIBarItem(bar, kFluvaneMsgUpload, buttons_.upload);
  updateUIBarItem(bar, kFluvaneMsgMail, buttons_.email);
  recordLabel_->setText(buttons_.recordLabel);
  playLabel_->setText(buttons_.playLabel);
  bar->setNeedsDisplay();
}

void RecordingController::receiveMsg(int code) {
  switch (code) {
    case kFluvaneMsgBreathRipple:
      if (fadedBar_ || isPlaying_) break;
      if (ripplesToSkip_ > 0) {
        ripplesToSkip_--;
      } else {
        fadedBar_ = true;
        fadeToolbar(true);
      }
      break;
    case kFluvaneMsgRecord:
      if (isRecording_) {
        stopRecording();
      } else {
        startRecording();
      }
      break;
    case kFluvaneMsgPlay:
      if (isPlaying_) {
        stopPlayback();
      } else {
        startPlayback(recording_.get());
      }
      break;
    case kFluvaneMsgUpload:
      uploadRecordedSnippet();
      break;
    case kFluvaneMsgMail:
      if (!hasUploadedMelody_) {
        emailWhenUploaded_ = true;
        uploadRecordedSnippet();
      }
      emailSnippet();
      break;
    case kFluvaneMsgBreathRanDown:
      if (fadedBar_) {
        fadedBar_ = false;
        fadeToolbar(false);
      }
      break;
    default:
      break;
  }
  updateToolbarIcons();
}
