// The RemoteIO unit: one audio unit that plays what its render callback makes
// and delivers the microphone.
//
// Element (bus) 0 is the output to the speaker, element 1 the input from the
// microphone. The client enables input on element 1 (input scope), sets a
// render callback (input scope of element 0), sets the client stream formats
// (input scope of element 0: what the callback produces; output scope of
// element 1: what renderInput delivers), initialises and starts the unit. For
// every output buffer the unit calls the render callback with the frame count
// and a list of buffers to fill: two non-interleaved buffers (left, right) of
// 32-bit 8.24 fixed-point samples (1 << 24 is full scale). Inside the
// callback, renderInput(frames, list) fills such a list with the microphone's
// samples for the same span of time.
//
// The only client format the unit runs is canonicalFormat(rate): 8.24, two
// channels, non-interleaved, any positive rate. getStreamFormat answers it
// (at the session's preferred rate, else 44100) before one is set.
//
// Two back ends sit behind RemoteIOUnit::create(), chosen at run time:
//  - SdlRemoteIOUnit (the default): an SDL2 playback device and, when input
//    is enabled, an SDL2 capture device, both opened by start() at the client
//    rate with the session's preferred buffer duration (16 kHz and 256 frames
//    when asked; SDL converts to whatever the hardware runs). The capture
//    callback writes the microphone into a lock-free single-producer ring;
//    renderInput reads from it and answers zeros for what is missing. stop()
//    closes the devices, so once it returns no render callback is running.
//    A capture device that cannot be opened leaves the microphone silent;
//    a playback device that cannot be opened fails start().
//  - TestRemoteIOUnit: created through TestAudioHardware; pump(frames, input)
//    calls the render callback synchronously, the way the hardware would,
//    and keeps what it produced; every operation can be made to fail.
//
// Threads: create, the property setters, initialize, start, stop and dispose
// are called from the client's threads (never concurrently on one unit, and
// never from inside the render callback). The render callback runs on the
// audio thread (SDL's playback thread; the test's pump caller), and
// renderInput may only be called from inside it.
#ifndef PLATFORM_REMOTEIOUNIT_H
#define PLATFORM_REMOTEIOUNIT_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/AudioSession.h"

namespace platform {

enum class AudioScope : std::uint32_t { Global = 0, Input = 1, Output = 2 };
constexpr std::uint32_t kOutputElement = 0;  // the speaker bus
constexpr std::uint32_t kInputElement = 1;   // the microphone bus

struct AudioBuffer {
  std::uint32_t numberChannels = 1;
  std::uint32_t dataByteSize = 0;
  void* data = nullptr;
};

constexpr std::uint32_t kMaxAudioBuffers = 4;
struct AudioBufferList {
  std::uint32_t numberBuffers = 0;  // at most kMaxAudioBuffers
  AudioBuffer buffers[kMaxAudioBuffers];
};

constexpr std::uint32_t kFormatLinearPCM = fourCC("lpcm");
constexpr std::uint32_t kFormatFlagIsSignedInteger = 1u << 2;
constexpr std::uint32_t kFormatFlagIsPacked = 1u << 3;
constexpr std::uint32_t kFormatFlagIsNonInterleaved = 1u << 5;
constexpr std::uint32_t kFormatFractionBitsShift = 7;  // flags bits 7..12: fraction bits
constexpr std::int32_t kFixedPointOne = 1 << 24;       // 8.24 full scale

struct StreamFormat {
  double sampleRate = 0.0;
  std::uint32_t formatID = 0;
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerPacket = 0;
  std::uint32_t framesPerPacket = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t channelsPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
  std::uint32_t reserved = 0;
  bool operator==(const StreamFormat&) const = default;
};

// 8.24 fixed point, 2 channels, non-interleaved (4 bytes per frame and
// packet, in each buffer), at rate.
StreamFormat canonicalFormat(double rate);

class RemoteIOUnit {
 public:
  // Called on the audio thread for each output buffer; fills ioData (frames
  // samples in each buffer) and answers kAudioOK or an error.
  using RenderProc = AudioStatus (*)(void* refCon, RemoteIOUnit& unit, std::uint32_t busNumber,
                                     std::uint32_t frames, AudioBufferList& ioData);
  struct RenderCallback {
    RenderProc proc = nullptr;
    void* refCon = nullptr;
  };
  using Factory = std::function<std::shared_ptr<RemoteIOUnit>()>;

  virtual ~RemoteIOUnit() = default;

  // A new unit from the installed back end; null when none can be opened.
  static std::shared_ptr<RemoteIOUnit> create();
  // Puts factory in place (empty: back to the SDL back end); answers the previous one.
  static Factory installFactory(Factory factory);

  // Input scope of element 1 (microphone, off at first) or output scope of
  // element 0 (speaker, on at first); takes effect at the next start.
  virtual AudioStatus enableIO(AudioScope scope, std::uint32_t element, bool enable) = 0;
  // Input scope of element 0 only.
  virtual AudioStatus setRenderCallback(AudioScope scope, std::uint32_t element, RenderCallback callback) = 0;
  // Input scope of element 0 or output scope of element 1; set accepts
  // canonicalFormat(rate) only.
  virtual AudioStatus getStreamFormat(AudioScope scope, std::uint32_t element, StreamFormat& format) = 0;
  virtual AudioStatus setStreamFormat(AudioScope scope, std::uint32_t element, const StreamFormat& format) = 0;

  virtual AudioStatus initialize() = 0;
  // start needs initialize; starting a running unit or stopping a stopped
  // one succeeds and changes nothing.
  virtual AudioStatus start() = 0;
  virtual AudioStatus stop() = 0;
  // Stops the unit and releases its devices; every later call but dispose
  // fails with kAudioErrDisposed.
  virtual AudioStatus dispose() = 0;
  virtual bool isRunning() const = 0;

  // Audio thread, inside the render callback only: the microphone's next
  // frames samples into ioData (8.24, one channel per buffer; zeros for what
  // is missing or when input is not enabled).
  virtual AudioStatus renderInput(std::uint32_t frames, AudioBufferList& ioData) = 0;
};

// The SDL2 back end (see the top of this file).
class SdlRemoteIOUnit : public RemoteIOUnit {
 public:
  SdlRemoteIOUnit();
  ~SdlRemoteIOUnit() override;

  AudioStatus enableIO(AudioScope scope, std::uint32_t element, bool enable) override;
  AudioStatus setRenderCallback(AudioScope scope, std::uint32_t element, RenderCallback callback) override;
  AudioStatus getStreamFormat(AudioScope scope, std::uint32_t element, StreamFormat& format) override;
  AudioStatus setStreamFormat(AudioScope scope, std::uint32_t element, const StreamFormat& format) override;
  AudioStatus initialize() override;
  AudioStatus start() override;
  AudioStatus stop() override;
  AudioStatus dispose() override;
  bool isRunning() const override;
  AudioStatus renderInput(std::uint32_t frames, AudioBufferList& ioData) override;

  // The frames per buffer the devices were opened with (0 while stopped).
  std::uint32_t deviceFrames() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What a TestRemoteIOUnit can be made to fail (Create: the factory answers null).
enum class TestUnitOp {
  Create,
  EnableIO,
  SetRenderCallback,
  GetStreamFormat,
  SetStreamFormat,
  Initialize,
  Start,
  Stop,
  Dispose,
  RenderInput,
};

// Failures shared by a TestAudioHardware and the units it made, and the
// signal of their starts and stops (for tests whose client runs on another
// thread).
struct TestUnitFaults {
  std::mutex mutex;
  std::map<TestUnitOp, AudioStatus> failures;
  std::condition_variable changed;  // notified after a unit started or stopped
  AudioStatus failure(TestUnitOp op);
  void noteChange();
};

// The test back end (see the top of this file). The test and the client call
// it from one thread; pump is that thread's "audio thread".
class TestRemoteIOUnit : public RemoteIOUnit {
 public:
  explicit TestRemoteIOUnit(std::shared_ptr<TestUnitFaults> faults = nullptr);

  AudioStatus enableIO(AudioScope scope, std::uint32_t element, bool enable) override;
  AudioStatus setRenderCallback(AudioScope scope, std::uint32_t element, RenderCallback callback) override;
  AudioStatus getStreamFormat(AudioScope scope, std::uint32_t element, StreamFormat& format) override;
  AudioStatus setStreamFormat(AudioScope scope, std::uint32_t element, const StreamFormat& format) override;
  AudioStatus initialize() override;
  AudioStatus start() override;
  AudioStatus stop() override;
  AudioStatus dispose() override;
  bool isRunning() const override;
  AudioStatus renderInput(std::uint32_t frames, AudioBufferList& ioData) override;

  // Calls the render callback once for a buffer of frames frames, as the
  // hardware would while running. input: the microphone's samples for this
  // buffer, 8.24, interleaved left/right (what is missing reads as zeros).
  // numberBuffers: how many buffers of frames samples the list holds (2 on
  // the real hardware). Output buffers start filled with a marker value
  // (kUnwrittenSample) so untouched samples show. Answers the callback's
  // status; kAudioErrNotRunning (callback not called) when not started.
  static constexpr std::int32_t kUnwrittenSample = 0x5A5A5A5A;
  AudioStatus pump(std::uint32_t frames, const std::vector<std::int32_t>& input = {},
                   std::uint32_t numberBuffers = 2);
  // The buffers of the last pump (one vector per buffer).
  const std::vector<std::vector<std::int32_t>>& output() const { return output_; }
  const std::vector<std::int32_t>& outputLeft() const;
  const std::vector<std::int32_t>& outputRight() const;

  bool inputEnabled() const { return inputEnabled_; }
  bool outputEnabled() const { return outputEnabled_; }
  bool initialized() const { return initialized_; }
  bool disposed() const { return disposed_; }
  RenderCallback renderCallback() const { return callback_; }
  StreamFormat clientFormat() const { return outputFormat_; }  // input scope of element 0
  StreamFormat inputFormat() const { return inputFormat_; }    // output scope of element 1
  int starts() const { return starts_; }  // successful start calls that started it
  int stops() const { return stops_; }    // successful stop calls that stopped it

 private:
  AudioStatus check(TestUnitOp op) const;

  std::shared_ptr<TestUnitFaults> faults_;
  bool inputEnabled_ = false;
  bool outputEnabled_ = true;
  bool initialized_ = false;
  bool disposed_ = false;
  std::atomic<bool> running_{false};
  RenderCallback callback_;
  StreamFormat outputFormat_;
  StreamFormat inputFormat_;
  int starts_ = 0;
  int stops_ = 0;
  std::vector<std::vector<std::int32_t>> output_;
  const std::vector<std::int32_t>* pumpInput_ = nullptr;  // during pump only
};

// Test audio hardware for a scope: installs a fresh TestAudioSession as the
// shared session and makes RemoteIOUnit::create() answer TestRemoteIOUnits;
// the destructor puts the previous session and factory back. Units already
// handed out stay valid. One at a time; test thread only.
class TestAudioHardware {
 public:
  TestAudioHardware();
  ~TestAudioHardware();
  TestAudioHardware(const TestAudioHardware&) = delete;
  TestAudioHardware& operator=(const TestAudioHardware&) = delete;

  TestAudioSession& session() { return *session_; }
  // The last unit created (null before the first), and how many were created.
  std::shared_ptr<TestRemoteIOUnit> unit() const;
  int unitsCreated() const;
  // Waits (on a condition, not a clock loop) until the last unit made is
  // running, or is not, for at most timeoutSeconds; false when it ran out.
  // For clients that start and stop units on a thread of their own; once
  // it answers true, what that thread did before the start or stop is
  // visible to the caller.
  bool waitForRunning(bool running, double timeoutSeconds = 10.0);

  // Makes op fail with status on every unit made here (created or to come)
  // until cleared.
  void fail(TestUnitOp op, AudioStatus status = kAudioErrTest);
  void clearFailure(TestUnitOp op);
  void clearFailures();

 private:
  std::shared_ptr<TestAudioSession> session_;
  std::shared_ptr<AudioSession> previousSession_;
  RemoteIOUnit::Factory previousFactory_;
  std::shared_ptr<TestUnitFaults> faults_;
  struct Units {
    std::mutex mutex;
    std::shared_ptr<TestRemoteIOUnit> last;
    int created = 0;
  };
  std::shared_ptr<Units> units_;
};

}  // namespace platform

#endif  // PLATFORM_REMOTEIOUNIT_H
