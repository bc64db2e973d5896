// The recording controller: manual recording from the recording toolbar's
// four buttons (record/stop 4003, play/stop 4004, upload 4005, e-mail 4006),
// playback of the player's last recording and of the help tune, the upload
// of a recording with the service's reply kept for the mail, and the alerts
// that go with them (erase warning, maximum length, upload error or done,
// the mail offer). What the buttons may do is worked out by
// updateToolbarIcons into buttons() and shown on the recording toolbar.
//
// Its views: recordBar, a collapsible toolbar (location 1, the top edge)
// whose four items carry the codes 4003-4006 as tags and send them to the
// controller, with a caption under the record and play items; and
// uploadView, a rounded strip with a spinning indicator, a caption and a
// Cancel button shown over the instrument screen, above the main toolbar
// and below the holes, while an upload runs (faded in, and faded out then
// removed when it ends). insertViewsInside puts the toolbar into the
// instrument screen expanded; hideViews stops any recording and takes it
// away; while the player blows the toolbar collapses (103) and it expands
// (102) when the breath has run down.
//
// It registers with the recorder (VCR_SetRecordingController) while it
// exists: a finished recording arrives on the upload thread and the end of
// a played tune on the audio thread; both are handed to the main run loop
// (with a weak reference, so a controller that has gone is not called), and
// only there does the recording change hands. The upload runs on the
// controller's own background thread; at destruction the upload in flight
// is aborted and the thread joined. A recording whose upload fails waits in
// the outbox as one held entry (FluvaneRecordings::Held), however often the
// player tries again: a new attempt takes it back out first, and it is let
// go to the outbox's drains when the controller is done with the recording
// (a new recording, or the controller's end); erasing the recording takes
// it out of the outbox (it stays under Documents/recordings).
//
// Threads: main thread, except as said.
#ifndef CLASSES_RECORDINGCONTROLLER_H
#define CLASSES_RECORDINGCONTROLLER_H

#include <memory>
#include <string>

#include "recorder/FluvaneRecordings.h"
#include "recorder/FluvaneSnippet.h"
#include "recorder/FluvaneWebCalls.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXHttp.h"
#include "vxu/ui/VXMainToolbar.h"

class FluvaneChipBridge;
class EAGLView;

namespace platform::ui {
class ActivityIndicator;
class Label;
}  // namespace platform::ui

class RecordingController : public VXHttpProgressListener, public MessageHandlerDelegate {
 public:
  enum AlertState { kNone = 0, kEmailOffer, kEraseWarning, kMaxLength, kUploadError, kUploaded };

  struct Buttons {
    bool record = false, play = false, upload = false, email = false;
    std::string recordImage = "recording_tool.png";
    std::string playImage = "play_tool.png";
    std::string recordLabel = "record";
    std::string playLabel = "play";
  };

  // bridge and view are not owned (either may be null in tests);
  // msgDelegate hears 4008 when the help tune ends.
  RecordingController(FluvaneChipBridge* bridge, EAGLView* view,
                      MessageHandlerDelegate* msgDelegate = nullptr);
  ~RecordingController() override;
  RecordingController(const RecordingController&) = delete;
  RecordingController& operator=(const RecordingController&) = delete;

  bool hasUnsavedRecording() const { return recording_ && !hasUploadedMelody_; }
  static bool wantsRecordedSnipets();
  // Main thread: the recording the upload thread finished.
  void recordedSnipet(std::unique_ptr<FluvaneSnippet> snippet);

  void startRecording();
  void stopRecording();
  void startPlayback(const FluvaneSnippet* snippet);
  void stopPlayback();
  void snippetPlabackEnded();
  void recordingMaxTimeReached();
  void uploadRecordedSnippet();
  void emailSnippet();
  void cancelSnippetUpload();
  void deleteLastSnipet();
  void playHelpTune();
  // Diagnostics: the recording's text form to Documents/snippet.txt; false
  // without a recording or when it cannot be written.
  bool writeSnippet() const;
  void updateToolbarIcons();
  void receiveMsg(int code) override;
  void currentHttpProgress(float progress) override;
  void getEmailDataForUploadedSnippet();
  void alertView(int buttonIndex);
  void cancelButtonPressed() { cancelSnippetUpload(); }

  // The views. insertViewsInside: view becomes the instrument screen the
  // controller works with; the toolbar goes into it below sibling (on top
  // when sibling is not one of its subviews), at the top edge, expanded.
  void insertViewsInside(EAGLView* view, const platform::ui::View* sibling);
  void hideViews();
  // YES collapses the toolbar (103), NO expands it (102).
  void fadeToolbar(bool fade);
  // The end of the upload view's fade: the view leaves its parent unless it
  // was opened again meanwhile.
  void animationDidStop(platform::ui::View* view, bool finished);
  VXMainToolbar* recordBar() const { return recordBar_.get(); }
  platform::ui::View* uploadView() const { return uploadView_.get(); }
  platform::ui::ActivityIndicator* uploadIndicatorView() const { return uploadIndicator_.get(); }
  const platform::ui::Label* recordLabel() const { return recordLabel_.get(); }
  const platform::ui::Label* playLabel() const { return playLabel_.get(); }

  // State, for the toolbar and tests.
  const Buttons& buttons() const { return buttons_; }
  AlertState alertState() const { return alertState_; }
  bool isRecording() const { return isRecording_; }
  bool isPlaying() const { return isPlaying_; }
  bool isUploading() const { return isUploadingMelody_; }
  bool hasUploadedMelody() const { return hasUploadedMelody_; }
  bool fadedBar() const { return fadedBar_; }
  const FluvaneSnippet* recording() const { return recording_.get(); }
  const std::string& emailSubject() const { return emailSubject_; }
  const std::string& emailBody() const { return emailBody_; }

 private:
  void showAlert(AlertState state, const std::string& title, const std::string& message,
                 const char* cancel, const char* other);
  void makeViews();
  void openUploadView();
  void closeUploadView();

  FluvaneChipBridge* bridge_;
  EAGLView* view_;
  MessageHandlerDelegate* msgDelegate_;
  bool isRecording_ = false, fadedBar_ = false, isPlaying_ = false,
       isPlayingHelpSnipet_ = false, isUploadingMelody_ = false, hasUploadedMelody_ = false,
       emailWhenUploaded_ = false;
  std::string emailSubject_, emailBody_;
  std::unique_ptr<FluvaneSnippet> recording_;
  // recording_'s place in the outbox (shared with the upload in flight).
  std::shared_ptr<FluvaneRecordings::Held> outboxEntry_ =
      std::make_shared<FluvaneRecordings::Held>();
  std::unique_ptr<FluvaneSnippet> helpSnippet_;
  std::unique_ptr<VXBackgroundThread> uploadThread_;
  std::shared_ptr<SnippetUploadHelper> upload_;
  AlertState alertState_ = kNone;
  int ripplesToSkip_ = 0;
  Buttons buttons_;
  bool imagesShown_ = false;  // the bar shows buttons_'s images
  std::shared_ptr<VXMainToolbar> recordBar_;
  std::shared_ptr<platform::ui::Label> recordLabel_, playLabel_;
  std::shared_ptr<platform::ui::View> uploadView_;
  std::shared_ptr<platform::ui::ActivityIndicator> uploadIndicator_;
  std::shared_ptr<RecordingController*> self_;  // the posted calls hold it weakly
};

#endif
