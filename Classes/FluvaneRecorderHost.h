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
//    to the recording controller when it wants it (manual recording);
//    otherwise it is kept, uploaded (a location fix needed) and on failure
//    left in the outbox. At shutdown the upload in flight is aborted and
//    what is still queued goes to the outbox. The playback and
//    maximum-recording hooks are the application's to add.
//
// shutdownRecorder stops the upload thread and forgets the VCRs (after the
// engine has stopped).
#ifndef CLASSES_FLUVANERECORDERHOST_H
#define CLASSES_FLUVANERECORDERHOST_H

#include <functional>
#include <memory>

#include "Classes/FluvaneVCR.h"

void installRecorderModule();
void installCommandLineRecorder();
// wantsRecording/takeRecording: the recording controller (may be empty).
void installApplicationRecorder(std::function<bool()> wantsRecording,
                                std::function<void(std::unique_ptr<FluvaneSnippet>)>
                                    takeRecording,
                                FluvaneVCRHost playbackHooks = {});
void shutdownRecorder();

#endif
