// The recording controller: manual recording from the recording toolbar's
// four buttons (record/stop 4003, play/stop 4004, upload 4005, e-mail 4006),
// playback of the player's last recording and of the help tune, the upload
// of a recording with the service's reply kept for the mail, and the alerts
// that go with them (erase warning, maximum length, upload error or done,
// the mail offer). What the buttons may do is worked out by
// updateToolbarIcons into buttons(); the toolbar shows that state.
//
// It registers with the recorder (VCR_SetRecordingController) while it
// exists: a finished recording arrives on the upload thread and the end of
// a played tune on the audio thread; both are handed to the main run loop
// (with a weak reference, so a controller that has gone is not called), and
// only there does the recording change hands. The upload runs on the
// controller's own background thread; at destruction the upload in flight
// is aborted and the thread joined, and an unsent recording goes to the
// outbox.
//
// Threads: main thread, except as said.
#ifndef CLASSES_RECORDINGCONTROLLER_H
#define CLASSES_RECORDINGCONTROLLER_H

#include <memory>
#include <string>

#include "Classes/FluvaneSnippet.h"
#include "Classes/FluvaneWebCalls.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXHttp.h"

class FluvaneChipBridge;
class EAGLView;
class MessageHandlerDelegate;

class RecordingController : public VXHttpProgressListener {
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
  void receiveMsg(int code);
  void currentHttpProgress(float progress) override;
  void getEmailDataForUploadedSnippet();
  void alertView(int buttonIndex);

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
  void fadeToolbar(bool fade);

  FluvaneChipBridge* bridge_;
  EAGLView* view_;
  MessageHandlerDelegate* msgDelegate_;
  bool isRecording_ = false, fadedBar_ = false, isPlaying_ = false,
       isPlayingHelpSnipet_ = false, isUploadingMelody_ = false, hasUploadedMelody_ = false,
       emailWhenUploaded_ = false;
  std::string emailSubject_, emailBody_;
  std::unique_ptr<FluvaneSnippet> recording_;
  std::unique_ptr<FluvaneSnippet> helpSnippet_;
  std::unique_ptr<VXBackgroundThread> uploadThread_;
  std::shared_ptr<SnippetUploadHelper> upload_;
  AlertState alertState_ = kNone;
  int ripplesToSkip_ = 0;
  Buttons buttons_;
  std::shared_ptr<RecordingController*> self_;  // the posted calls hold it weakly
};

#endif
