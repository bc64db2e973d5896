// The audio session: the process-wide owner of the sound hardware's policy.
//
// The session is a small property store with status codes: whether another
// application's audio is playing, the category (live audio or play-and-record),
// the current route's name, the route override (speaker or none), the
// preferred I/O buffer duration and hardware sample rate, and the current
// hardware sample rate. Every operation answers an AudioStatus: 0 is success,
// anything else a failure whose value only says "it failed". A client is
// told of interruptions (begin/end) and of route changes through listeners.
//
// There is one session per process, reached through AudioSession::shared().
// Two back ends sit behind this interface, chosen at run time:
//  - SdlAudioSession (the default): SDL2's audio subsystem. The route name is
//    the default playback device's name (the driver's name when the driver
//    lists no devices); "other audio playing" is never true; the current
//    sample rate is the preferred one (SDL converts formats), 44100 before
//    one is set. It never interrupts and never reports a route change.
//    Headless with SDL_AUDIODRIVER=dummy or disk.
//  - TestAudioSession: properties a test sets, operations a test makes fail,
//    listeners a test fires. A test puts it in place with AudioSession::install
//    (TestAudioHardware in RemoteIOUnit.h does that and more for a scope).
//
// Threads: every operation may be called from any thread (each back end
// locks its own state; no lock is held while a listener runs). The SDL back
// end never calls the listeners; the test back end calls them on the thread
// of the test call that fires them (the main thread, as the real platform's
// main run loop would).
#ifndef PLATFORM_AUDIOSESSION_H
#define PLATFORM_AUDIOSESSION_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A four-character code, 'abcd' packed big-endian into 32 bits.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// 0 on success; any other value is a failure.
using AudioStatus = std::int32_t;
constexpr AudioStatus kAudioOK = 0;
constexpr AudioStatus kAudioErrNotInitialized = -50100;      // session or unit not initialised
constexpr AudioStatus kAudioErrAlreadyInitialized = -50101;  // session initialised twice
constexpr AudioStatus kAudioErrInvalidValue = -50102;        // a value the property does not take
constexpr AudioStatus kAudioErrInvalidPlace = -50103;        // scope/element the property does not have
constexpr AudioStatus kAudioErrFormat = -50104;              // a stream format the unit cannot run
constexpr AudioStatus kAudioErrDevice = -50105;              // the hardware (SDL) refused
constexpr AudioStatus kAudioErrDisposed = -50106;            // the unit was disposed of
constexpr AudioStatus kAudioErrNotRunning = -50107;          // the unit is not started
constexpr AudioStatus kAudioErrTest = -50199;                // default failure a test injects

// Values of the category property.
constexpr std::uint32_t kCategoryLiveAudio = fourCC("live");
constexpr std::uint32_t kCategoryPlayAndRecord = fourCC("plar");
// Values of the route override property.
constexpr std::uint32_t kRouteOverrideNone = 0;
constexpr std::uint32_t kRouteOverrideSpeaker = fourCC("spkr");

// Interruption states handed to the interruption listener.
constexpr std::uint32_t kEndInterruption = 0;
constexpr std::uint32_t kBeginInterruption = 1;

// What a route change carries: a dictionary of 32-bit integers. dataSize is
// the size of the data the platform handed over; a well-formed change
// carries one dictionary reference, 4 bytes.
constexpr const char* kRouteChangeReasonKey = "OutputDeviceDidChange_Reason";
constexpr std::int32_t kRouteChangeReasonNewDeviceAvailable = 1;
constexpr std::int32_t kRouteChangeReasonOldDeviceUnavailable = 2;
constexpr std::int32_t kRouteChangeReasonCategoryChange = 3;
constexpr std::int32_t kRouteChangeReasonOverride = 4;
struct RouteChange {
  std::uint32_t dataSize = 4;
  std::map<std::string, std::int32_t> dictionary;
};

class AudioSession {
 public:
  using InterruptionListener = std::function<void(std::uint32_t state)>;  // kBegin/kEndInterruption
  using RouteChangeListener = std::function<void(const RouteChange& change)>;

  virtual ~AudioSession() = default;

  // The installed session (an SdlAudioSession unless a test installed one).
  static AudioSession& shared();
  // Puts session in place (null: back to the SDL one); answers the previous one.
  static std::shared_ptr<AudioSession> install(std::shared_ptr<AudioSession> session);

  // Must come first; a second call fails. The listener is kept for the
  // session's life.
  virtual AudioStatus initialize(InterruptionListener listener) = 0;
  virtual AudioStatus setActive(bool active) = 0;

  // 'othr': whether another application's audio is playing.
  virtual AudioStatus getOtherAudioIsPlaying(bool& playing) = 0;
  // 'acat': kCategoryLiveAudio or kCategoryPlayAndRecord.
  virtual AudioStatus getCategory(std::uint32_t& category) = 0;
  virtual AudioStatus setCategory(std::uint32_t category) = 0;
  // 'rout': the current route's name; success with no name is possible.
  virtual AudioStatus getRoute(std::optional<std::string>& name) = 0;
  // 'ovrd': kRouteOverrideNone or kRouteOverrideSpeaker.
  virtual AudioStatus setRouteOverride(std::uint32_t override) = 0;
  // 'iobd': preferred I/O buffer duration in seconds.
  virtual AudioStatus setPreferredBufferDuration(float seconds) = 0;
  // 'hwsr': preferred hardware sample rate.
  virtual AudioStatus setPreferredSampleRate(double rate) = 0;
  // 'chsr': the hardware's current sample rate.
  virtual AudioStatus getCurrentSampleRate(double& rate) = 0;
  // 'roch': listens to route changes; listeners are kept for the session's life.
  virtual AudioStatus addRouteChangeListener(RouteChangeListener listener) = 0;

  // Plays a system sound (4095 is the vibration); the SDL back end has none
  // and does nothing.
  virtual void playSystemSound(std::uint32_t soundId) = 0;

  // What the units consult to size their devices: the preferred buffer
  // duration (0 when none was set) and the preferred sample rate (0 when
  // none was set).
  virtual float preferredBufferDuration() const = 0;
  virtual double preferredSampleRate() const = 0;
};

// The SDL2 back end (see the top of this file).
class SdlAudioSession : public AudioSession {
 public:
  SdlAudioSession();
  ~SdlAudioSession() override;

  AudioStatus initialize(InterruptionListener listener) override;
  AudioStatus setActive(bool active) override;
  AudioStatus getOtherAudioIsPlaying(bool& playing) override;
  AudioStatus getCategory(std::uint32_t& category) override;
  AudioStatus setCategory(std::uint32_t category) override;
  AudioStatus getRoute(std::optional<std::string>& name) override;
  AudioStatus setRouteOverride(std::uint32_t override) override;
  AudioStatus setPreferredBufferDuration(float seconds) override;
  AudioStatus setPreferredSampleRate(double rate) override;
  AudioStatus getCurrentSampleRate(double& rate) override;
  AudioStatus addRouteChangeListener(RouteChangeListener listener) override;
  void playSystemSound(std::uint32_t soundId) override;
  float preferredBufferDuration() const override;
  double preferredSampleRate() const override;

 private:
  mutable std::mutex mutex_;
  bool initialized_ = false;
  bool sdlAudioUp_ = false;
  bool active_ = false;
  std::uint32_t category_ = kCategoryLiveAudio;
  std::uint32_t override_ = kRouteOverrideNone;
  float bufferDuration_ = 0.0f;
  double sampleRate_ = 0.0;
  InterruptionListener interruptionListener_;
  std::vector<RouteChangeListener> routeListeners_;
};

// The test back end (see the top of this file).
class TestAudioSession : public AudioSession {
 public:
  // The operations a test can make fail.
  enum class Op {
    Initialize,
    SetActive,
    GetOtherAudioIsPlaying,
    GetCategory,
    SetCategory,
    GetRoute,
    SetRouteOverride,
    SetPreferredBufferDuration,
    SetPreferredSampleRate,
    GetCurrentSampleRate,
    AddRouteChangeListener,
  };

  AudioStatus initialize(InterruptionListener listener) override;
  AudioStatus setActive(bool active) override;
  AudioStatus getOtherAudioIsPlaying(bool& playing) override;
  AudioStatus getCategory(std::uint32_t& category) override;
  AudioStatus setCategory(std::uint32_t category) override;
  AudioStatus getRoute(std::optional<std::string>& name) override;
  AudioStatus setRouteOverride(std::uint32_t override) override;
  AudioStatus setPreferredBufferDuration(float seconds) override;
  AudioStatus setPreferredSampleRate(double rate) override;
  AudioStatus getCurrentSampleRate(double& rate) override;
  AudioStatus addRouteChangeListener(RouteChangeListener listener) override;
  void playSystemSound(std::uint32_t soundId) override;
  float preferredBufferDuration() const override;
  double preferredSampleRate() const override;

  // Failures: op answers status (never 0) until cleared, changing nothing.
  void fail(Op op, AudioStatus status = kAudioErrTest);
  void clearFailure(Op op);
  void clearFailures();

  // What the hardware reports. Defaults: no other audio, route "Speaker",
  // current rate 44100.
  void setOtherAudioPlaying(bool playing);
  void setRouteName(std::optional<std::string> name);
  void setCurrentSampleRate(double rate);

  // What the client has set.
  bool initialized() const;
  bool active() const;
  int setActiveCalls() const;  // successful setActive calls
  std::uint32_t category() const;
  std::uint32_t routeOverride() const;
  int routeOverrideSets() const;  // successful setRouteOverride calls
  std::size_t routeChangeListenerCount() const;
  std::vector<std::uint32_t> systemSoundsPlayed() const;

  // Fire the listeners, on the calling thread. changeRoute sets the route's
  // name and then reports a well-formed change with the given reason (none
  // when reason is empty); fireRouteChange reports change as it is.
  void beginInterruption();
  void endInterruption();
  void changeRoute(std::optional<std::string> name, std::optional<std::int32_t> reason);
  void fireRouteChange(const RouteChange& change);

 private:
  AudioStatus failure(Op op) const;  // with mutex_ held

  mutable std::mutex mutex_;
  std::map<Op, AudioStatus> failures_;
  bool initialized_ = false;
  bool active_ = false;
  int setActiveCalls_ = 0;
  bool otherAudioPlaying_ = false;
  std::uint32_t category_ = kCategoryLiveAudio;
  std::uint32_t override_ = kRouteOverrideNone;
  int overrideSets_ = 0;
  std::optional<std::string> route_ = std::string("Speaker");
  float bufferDuration_ = 0.0f;
  double preferredRate_ = 0.0;
  double currentRate_ = 44100.0;
  InterruptionListener interruptionListener_;
  std::vector<RouteChangeListener> routeListeners_;
  std::vector<std::uint32_t> systemSounds_;
};

}  // namespace platform

#endif  // PLATFORM_AUDIOSESSION_H
