// How a host installs the recorder: the VCR module into the engine's load
// order, and the hooks that decide where finished recordings go.
//
// installRecorderModule puts fluvaneVCR_query into the compiler's place
// "VCR" (before the engine starts); the engine itself never links the
// instrument.
//
// Two ways of keeping:
//  - installCommandLineRecorder (the chip program): no service is called; a
//    finished recording is kept under Documents/recordings and queued on
//    the playback VCR, so a script can play back what it recorded.
//  - installApplicationRecorder (the instrument): a finished recording goes
//    to the recording controller when one is registered and wants it
//    (manual recording; it is kept on disk first); otherwise it is kept,
//    uploaded (a location fix needed) and on failure left in the outbox.
//    At shutdown the upload in flight is aborted and what is still queued
//    (with a recording the engine left running, ended there) is kept and
//    goes to the outbox, or, while the controller wants recordings, is only
//    kept. The playback-state and maximum-recording hooks are
//    the caller's; the end of a played tune is told to the controller.
//
// The recording controller registers its hooks with
// VCR_SetRecordingController (empty hooks unregister it). recordedSnipet
// runs on the upload thread and snippetPlabackEnded on the audio thread:
// the controller hands both over to its main thread itself.
//
// shutdownRecorder stops the upload thread and forgets the VCRs (after the
// engine has stopped).
#ifndef RECORDER_FLUVANERECORDERHOST_H
#define RECORDER_FLUVANERECORDERHOST_H

#include <functional>
#include <memory>

#include "recorder/FluvaneVCR.h"

void installRecorderModule();
void installCommandLineRecorder();
struct RecordingControllerHooks {
  std::function<bool()> wantsRecordedSnipets;
  std::function<void(std::unique_ptr<FluvaneSnippet>)> recordedSnipet;
  std::function<void()> snippetPlabackEnded;
};
void VCR_SetRecordingController(RecordingControllerHooks hooks);

void installApplicationRecorder(FluvaneVCRHost hooks = {});
void shutdownRecorder();

#endif
