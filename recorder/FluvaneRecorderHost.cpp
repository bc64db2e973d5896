#include "recorder/FluvaneRecorderHost.h"

#include <mutex>

#include "recorder/FluvaneRecordings.h"
#include "chip/chip.h"
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

namespace {

std::mutex g_controllerMutex;
RecordingControllerHooks g_controller;

RecordingControllerHooks controller() {
  std::lock_guard<std::mutex> lock(g_controllerMutex);
  return g_controller;
}

}  // namespace

void VCR_SetRecordingController(RecordingControllerHooks hooks) {
  std::lock_guard<std::mutex> lock(g_controllerMutex);
  g_controller = std::move(hooks);
}

void installApplicationRecorder(FluvaneVCRHost hooks) {
  installRecorderModule();
  FluvaneRecordings::allowUploads();
  FluvaneVCRHost host = std::move(hooks);
  host.recorded = [](std::unique_ptr<FluvaneSnippet> snippet) {
    RecordingControllerHooks c = controller();
    if (c.wantsRecordedSnipets && c.recordedSnipet && c.wantsRecordedSnipets()) {
      VX_logf("giving snipet to controller\n");
      snippet->manual = true;
      FluvaneRecordings::keep(*snippet);
      c.recordedSnipet(std::move(snippet));
      return;
    }
    FluvaneRecordings::handleRecorded(std::move(snippet));
  };
  host.abortRecorded = [] { FluvaneRecordings::abortUpload(); };
  host.unsent = [](std::unique_ptr<FluvaneSnippet> snippet) {
    // A manual recording is the player's to upload: kept, not queued.
    RecordingControllerHooks c = controller();
    snippet->manual = c.wantsRecordedSnipets && c.wantsRecordedSnipets();
    FluvaneRecordings::keep(*snippet);
    if (!snippet->manual) FluvaneRecordings::addToOutbox(*snippet);
  };
  host.playbackEnded = [] {
    // Audio thread, once per tune: the controller posts to its main thread.
    RecordingControllerHooks c = controller();
    if (c.snippetPlabackEnded) c.snippetPlabackEnded();
  };
  FluvaneVCR_setHost(std::move(host));
}

void shutdownRecorder() { FluvaneVCR_shutdown(); }
