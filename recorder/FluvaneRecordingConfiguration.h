// The recording policy: how often and how long the scripts record and
// upload automatically, the key and mode wanted, and how long a manual
// recording may last.
//
// FluvaneRecordingConfiguration keeps the last policy known, in memory and
// in Documents/recordConfig.plist (six integer keys), refreshes it from the
// web service and pushes it into the scripts' six integration keys through
// the pusher it was given (the instrument bridge's
// setFluvaneRecordingConfiguration; without one, the keys are written to the
// integration store directly, in the same order).
//
// Only a policy read from the file or downloaded is pushed: until then the
// keys keep the bridge's start values.
//
// A stored policy needs the first five keys (the sixth,
// "VXRecConfRecordingMaxLength", defaults to 300); missing keys, or values
// that are not whole numbers in range (see validFluvanePref), leave the
// policy unchanged with "deserializing recording configuration failed". A
// download starts from the current policy, so a reply the web calls refuse
// or one with fewer than six fields changes nothing.
//
// Threads: loadFromDisk on the main thread, the download on the shared
// background thread; the policy is replaced under a mutex and pushed from a
// copy.
#ifndef RECORDER_FLUVANERECORDINGCONFIGURATION_H
#define RECORDER_FLUVANERECORDINGCONFIGURATION_H

#include <functional>
#include <mutex>
#include <string>

#include "recorder/FluvaneWebCalls.h"

class FluvaneRecordingConfiguration {
 public:
  using Pusher = std::function<void(const VXFluvanePref&)>;

  static FluvaneRecordingConfiguration& getInstance();

  // Stores the pusher, loads the file and pushes the policy.
  static void loadFromDisk(Pusher pusher);
  // Posts downloadRecordConfig on the shared background thread.
  static void launchUpdateThread();

  static std::string path();
  // False when there is no file or it is refused (policy unchanged).
  bool loadConfigData();
  bool saveConfigData();
  // 0 on success, the web call's failure otherwise ("downloadRecordConfig
  // failed").
  int downloadRecordConfig();
  void notifyChip();

  VXFluvanePref policy() const;
  // Tests: back to the defaults, no pusher.
  void reset();

  // The six integration keys, in order.
  static void writeKeys(const VXFluvanePref& pref);

 private:
  FluvaneRecordingConfiguration() = default;

  mutable std::mutex mutex_;
  VXFluvanePref config_;
  bool known_ = false;  // loaded or downloaded: only a known policy is pushed
  Pusher pusher_;
};

#endif
