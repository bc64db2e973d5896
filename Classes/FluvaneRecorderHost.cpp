#include "Classes/FluvaneRecorderHost.h"

#include "Classes/FluvaneRecordings.h"
#include "chip/driver/chip_compile.h"
#include "vxu/VXLog.h"

void installRecorderModule() { chip_provide_module("VCR", fluvaneVCR_query); }

void installCommandLineRecorder() {
  installRecorderModule();
  FluvaneRecordings::allowUploads();
  FluvaneVCRHost host;
  host.recorded = [](std::unique_ptr<FluvaneSnippet> snippet) {
    FluvaneRecordings::keep(*snippet);
    playSnipetNow(std::move(snippet));
  };
  host.unsent = [](std::unique_ptr<FluvaneSnippet> snippet) {
    FluvaneRecordings::keep(*snippet);
  };
  FluvaneVCR_setHost(std::move(host));
}

void installApplicationRecorder(
    std::function<bool()> wantsRecording,
    std::function<void(std::unique_ptr<FluvaneSnippet>)> takeRecording,
    FluvaneVCRHost playbackHooks) {
  installRecorderModule();
  FluvaneRecordings::allowUploads();
  FluvaneVCRHost host = std::move(playbackHooks);
  host.recorded = [wantsRecording, takeRecording](std::unique_ptr<FluvaneSnippet> snippet) {
    if (wantsRecording && takeRecording && wantsRecording()) {
      VX_logf("giving snipet to controller\n");
      snippet->manual = true;
      FluvaneRecordings::keep(*snippet);
      takeRecording(std::move(snippet));
      return;
    }
    FluvaneRecordings::handleRecorded(std::move(snippet));
  };
  host.abortRecorded = [] { FluvaneRecordings::abortUpload(); };
  host.unsent = [](std::unique_ptr<FluvaneSnippet> snippet) {
    FluvaneRecordings::keep(*snippet);
    FluvaneRecordings::addToOutbox(*snippet);
  };
  FluvaneVCR_setHost(std::move(host));
}

void shutdownRecorder() { FluvaneVCR_shutdown(); }
