// A small recording for the recording controller's tests: two snapshots
// (all holes closed, then three), prepared as a packet.
#ifndef TESTS_CLASSES_RECORDING_TEST_SUPPORT_H
#define TESTS_CLASSES_RECORDING_TEST_SUPPORT_H

#include <memory>

#include "recorder/FluvaneSnippet.h"

inline std::unique_ptr<FluvaneSnippet> aRecording() {
  auto s = std::make_unique<FluvaneSnippet>();
  s->snapshots = {{0.0f, 15}, {800.0f, 7}};
  prepare(*s);
  return s;
}

#endif
