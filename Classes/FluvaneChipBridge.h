// The instrument's engine bridge: the one writer of the instrument's
// integration keys ("Fluvane: ..."), which the scripts read through VXIgn.
//
// Keys and the values the constructor gives them (in this order, after
// "Fluvane: max recording reached" 0 with its set-callback):
//   "Fluvane: Finger state" 0 (covered holes: 1, 2, 4, 8; blow area 16),
//   "Fluvane: root" 60, "Fluvane: mode" 4, "Fluvane: echo" 0.2,
//   "Fluvane: vibratoRate" 0.0, "Fluvane: vibratoDepth" 0.0,
//   "Fluvane: App state" 0 (1 instrument, 2 globe or playback),
//   "Fluvane: enable snippet upload" 1, "Fluvane: enable touch mode" 0,
//   "Fluvane: manual record command" 0, and the recording policy's
//   "Fluvane: snippet upload frequency" 5, "... min length" 8,
//   "... max length" 30, "Fluvane: snippet preferred root" -1,
//   "Fluvane: snippet preferred mode" -1.
// "Fluvane: vibrato enable", "Fluvane: breath sensitivity" and
// "Fluvane: max manual record time" stay unwritten until set.
//
// It also starts the engine with the instrument's four scripts ("iPhone.chip",
// "Razede.chip", "Fluvane.chip", "driver.chip", in that order; 256-frame
// buffers and blocks, 6 buffers, 16 kHz), passes the breath power the
// scripts report to the graphics, switches the audio route with the
// application state on the first-generation phone, and relays the played
// tune's notes to the listener of playTune.
//
// Cross-thread choices:
//  - The tune callback and the max-recording callback run on the audio
//    thread. They never touch the listener or the handler there: they post
//    a call to the main run loop, which looks the listener up by its handle
//    (a weak reference, so a listener that has gone is simply not called)
//    and the handler on the main thread. The audio side only reads an
//    atomic handle and posts; it never waits for the main thread.
//  - micPower runs on the audio thread and hands the power to the graphics'
//    breath input, which is lock-free.
//
// Threads: made and its setters called on the main thread (the policy push
// also from a background thread); the callbacks as said above.
#ifndef CLASSES_FLUVANECHIPBRIDGE_H
#define CLASSES_FLUVANECHIPBRIDGE_H

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes/FluvaneGfx.h"
#include "vxu/VXChipBridge.h"

extern const std::string VXIGN_FINGER_STATE_KEY;
extern const std::string VXIGN_ECHO_KEY;
extern const std::string VXIGN_VIBRATO_RATE_KEY;
extern const std::string VXIGN_VIBRATO_DEPTH_KEY;
extern const std::string VXIGN_VIBRATO_ENABLE_KEY;
extern const std::string VXIGN_MODE_KEY;
extern const std::string VXIGN_ROOT_KEY;
extern const std::string VXIGN_BREATH_SENSITIVITY_KEY;
extern const std::string VXIGN_APPSTATE_KEY;
extern const std::string VXIGN_ENABLE_SNIPPET_UPLOAD_KEY;
extern const std::string VXIGN_ENABLE_TOUCH_MODE_KEY;
extern const std::string VXIGN_MANUAL_RECORD_COMMAND_KEY;
extern const std::string VXIGN_MAX_RECORDING_REACHED_KEY;
extern const std::string VXIGN_UPLOAD_FREQUENCY_KEY;
extern const std::string VXIGN_UPLOAD_MIN_LENGTH_KEY;
extern const std::string VXIGN_UPLOAD_MAX_LENGTH_KEY;
extern const std::string VXIGN_UPLOAD_PREFERRED_ROOT_KEY;
extern const std::string VXIGN_UPLOAD_PREFERRED_MODE_KEY;
extern const std::string VXIGN_MAX_MANUAL_RECORD_TIME_KEY;

// Who hears a played tune: each note's value, then its end (main thread).
class FluvaneChipBridgeCallback {
 public:
  virtual ~FluvaneChipBridgeCallback() = default;
  virtual void finishedPlayingTune() = 0;
  virtual void playedNote(int note) = 0;
};

class FluvaneAppDelegate;

class FluvaneChipBridge : public VXChipBridge, public FluvaneGfxBridge {
 public:
  // The instrument's scripts, in the order the engine gets them.
  static const std::vector<std::string>& scriptNames();

  FluvaneChipBridge();
  ~FluvaneChipBridge() override;

  // Starts the engine on its thread with scriptNames() (see above).
  void launchEngine();

  // --- Key writers (main thread) ---
  void setState(int mask) override;
  void setEcho(float echo);
  void setVibratoRate(float rate) override;
  void setVibratoDepth(float depth) override;
  void setEnableVibrato(bool on);
  void setBreathSensitivity(float sensitivity);
  void setEnableSnippetUpload(bool on);
  void setEnableTouchMode(bool on);
  void sendManualRecordingCommand(int command);
  // Root and mode by name (FluvanePreferences' tables).
  void setRoot(const std::string& rootName);
  void setMode(const std::string& modeName);
  // 1 instrument, 2 globe or playback; see above for the route.
  void setFluvaneMode(int mode);
  // The recording policy's six values: upload frequency, minimum length,
  // maximum length, preferred root, preferred mode, maximum manual
  // recording time.
  void setFluvaneRecordingConfiguration(const std::array<int, 6>& policy);

  // Audio thread: the breath power the scripts report.
  void micPower(float power) override;

  // --- Played tunes ---
  // Remembers the listener (weakly) for the tune's notes; the packet goes
  // to the player once it exists (nothing plays until then).
  void playTune(const std::vector<std::uint8_t>& packet,
                const std::shared_ptr<FluvaneChipBridgeCallback>& callback);
  void stopTune();
  // The player's report (audio thread): a note (>= 0) or the end (< 0),
  // relayed to the listener on the main loop.
  void tuneCallback(int value);

  // Run on the main loop when a manual recording reached its maximum
  // length (the recording controller installs it; main thread).
  void setRecordingMaxTimeReachedHandler(std::function<void()> handler);

  FluvaneAppDelegate* appDelegate() const { return appDelegate_; }
  void setAppDelegate(FluvaneAppDelegate* delegate) { appDelegate_ = delegate; }

 private:
  struct Listeners;
  static void maxRecordingReached(void* user, const char* key);

  FluvaneAppDelegate* appDelegate_ = nullptr;
  std::shared_ptr<Listeners> listeners_;
};

#endif
