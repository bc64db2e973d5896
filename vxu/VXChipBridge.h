// The engine bridge: the application's owner of the script engine.
//
// One VXChipBridge per process (getChipBridge()) starts the engine on a
// thread of its own with the fixed argument list ("chip" "--out2" "--in2"
// "--bufsize<n>" "--bufnum<n>" "--srate<n>" "--adaptive<n>" and the
// temporary paths of the embedded scripts, "iPhone.chip" always last),
// pauses, resumes, mutes and shuts it down, and answers the device keys the
// scripts fire through the integration store:
//   "iPhone: chip ready"          -> chipReady(): the delegate's chipReady on
//                                    the main run loop
//   "iPhone: vibrate"             -> VXALL::vibrate()
//   "iPhone: switch to speaker"   -> category live audio
//   "iPhone: to receiver and mic" -> category play-and-record
//   "iPhone: Mic power" (set)     -> micPower(value), on the writer's thread
// The delegate (not owned) hears chipReady and chipFinished on the main run
// loop; without one, the fallback delegate does: the application delegate
// (VXAppDelegate puts itself in place while it lives).
//
// A name the embedded-file registry does not know is skipped, logged, never
// handed to the engine. The scripts reach the engine as the absolute paths of
// their temporary files; the process's working directory is never changed,
// so relative names the user gave (an automation script, a picture to write)
// keep meaning what they meant at the start. shutdownChip() asks a running engine to stop (see
// VXEngineHost), waits for its thread to end (the engine frees its machine
// itself), then deletes the temporary scripts (once after each start: the
// application and its destructor may both shut down). alive and paused are read
// and written across threads, so they are atomics.
//
// Threads: made, started, paused, resumed, muted and shut down on the main
// thread; runChip on the engine thread; the key callbacks on the thread that
// fires them (the audio thread for scripts). A second bridge while one
// exists is a programming error: it logs "gChipBridge == nil" and answers
// no key. The destructor shuts the engine down and withdraws the callbacks.
#ifndef VXU_VXCHIPBRIDGE_H
#define VXU_VXCHIPBRIDGE_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class VXChipBridgeDelegate {
 public:
  virtual ~VXChipBridgeDelegate() = default;
  virtual void chipFinished() = 0;
  virtual void chipReady() = 0;
};

class VXChipBridge {
 public:
  VXChipBridge();
  virtual ~VXChipBridge();
  VXChipBridge(const VXChipBridge&) = delete;
  VXChipBridge& operator=(const VXChipBridge&) = delete;

  // The bridge of the process, or null before one exists.
  static VXChipBridge* getChipBridge();
  // Who hears chipReady/chipFinished when a bridge has no delegate (the
  // application delegate, VXAppDelegate); not owned.
  static void setFallbackDelegate(VXChipBridgeDelegate* delegate);

  // Starts the engine on its thread with the scripts of names, then
  // "iPhone.chip"; nothing (logged) while an engine runs.
  void startChipWithFiles(const std::vector<std::string>& names);
  // Starts the engine with exactly the scripts of names, in that order;
  // nothing (logged) while an engine runs.
  void startChipWithScripts(const std::vector<std::string>& names);
  // The engine thread's body (public for subclasses that start it otherwise).
  void runChip(const std::vector<std::string>& names);
  // The argument list runChip hands to the engine for those paths.
  std::vector<std::string> engineArguments(const std::vector<std::string>& paths) const;

  void pauseChip();
  void resumeChip();
  void muteChip(bool mute);
  void shutdownChip();
  // The same, waiting at most timeoutSeconds for the engine thread to end:
  // true when it ended (joined, temporary scripts deleted); false when it
  // still runs, logged, and its scripts are left in place for it.
  bool shutdownChip(double timeoutSeconds);

  // Key answers; subclasses extend them.
  virtual void chipReady();
  virtual void micPower(float power);

  bool allowSwitch();
  // The audio routes (only while the engine lives and allowSwitch agrees).
  // Nothing switches yet: the session's category is set when audio starts.
  // They are for an instrument that changes route while it runs (to the
  // speaker for a playback, back to receiver and microphone to play).
  void switchToSpeaker();
  void switchToReceiverAndMicrophone();
  void switchToSpeakerAndMicrophone();

  bool alive() const { return alive_.load(); }
  bool paused() const { return paused_.load(); }
  bool allowSpeakerAndMic() const { return allowSpeakerAndMic_; }

  int sampleRate() const { return sampleRate_; }
  void setSampleRate(int rate) { sampleRate_ = rate; }
  int bufferSize() const { return bufferSize_; }
  void setBufferSize(int frames) { bufferSize_ = frames; }
  int numberOfBuffers() const { return numberOfBuffers_; }
  void setNumberOfBuffers(int count) { numberOfBuffers_ = count; }
  int adaptiveBufferSize() const { return adaptiveBufferSize_; }
  void setAdaptiveBufferSize(int frames) { adaptiveBufferSize_ = frames; }
  VXChipBridgeDelegate* delegate() const;
  void setDelegate(VXChipBridgeDelegate* delegate);

 private:
  void purgeScriptsOnce();
  struct Shared;
  void announce(bool ready);  // posts the delegate's call to the main loop
  bool setCategory(unsigned int category, const char* note);

  std::atomic<bool> alive_{false};
  bool purged_ = false;  // main thread: the scripts were deleted since the last start
  std::atomic<bool> paused_{false};
  bool allowRouteSwitch_ = false;
  bool allowRouteSwitchIsSet_ = false;
  bool allowSpeakerAndMic_ = false;
  int sampleRate_ = 16000;
  int bufferSize_ = 1024;
  int numberOfBuffers_ = 6;
  int adaptiveBufferSize_ = 1024;
  bool registered_ = false;  // this bridge answers the keys
  std::shared_ptr<Shared> shared_;
  std::thread engine_;
};

#endif
