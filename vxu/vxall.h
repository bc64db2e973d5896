// The audio layer: the audio session and one RemoteIO unit, the microphone
// into the engine and the engine's output to the speaker.
//
// VXALL is a class of static state and static operations; there is one audio
// layer per process and no teardown (the unit and the session live until the
// process ends). The engine's facade calls init (sample rate, frames per
// buffer), start (its callback and user data) and stop; the engine bridge
// calls stop and resume and sets m_isMute; the instrument bridge calls
// setAudioOutput and setFullDuplex.
//
// For every hardware buffer the unit calls the render callback: it renders
// the microphone into the unit's two non-interleaved 8.24 buffers, converts
// them (scaled by the input gain) into one interleaved float buffer, hands
// that buffer to the user callback in blocks of at most m_frameSize frames
// (input on entry, output on return), and converts the floats back to 8.24,
// scaled by the output gain and saturated at the limits of the 32-bit
// sample. While muted it outputs exact zeros and does not call the user
// callback. A buffer longer than the capacity of 4096 frames is processed up
// to the capacity and silent after it; a list of other than two buffers is
// silent and the user callback is not called.
//
// The gains depend on the route name (receiver, speaker, headset,
// headphones) and the device generation (2 on the first-generation phone, 3
// on every other device). Interruptions stop the unit and restart a fresh
// one when they end; a route change to a new route rebuilds the unit (stopped
// first when running), sets the speaker override and the gains anew.
//
// Every message goes to the application log as a detail (VX_detailf): the
// configuration (generation, route, gains), the frame counts and the audio
// session's and unit's failures, which the log keeps in its file and shows on
// the console only when asked to (--verbose). What the user must see of a
// failure is the engine's own message ("cannot open audio output").
//
// Threads: init, start, stop, resume, setAudioOutput, setFullDuplex and
// configureGains come from the engine thread and the main thread, never at
// the same time; the interruption and route-change listeners run on the main
// thread (where the session reports them); the render callback runs on the
// audio thread. The flags and gains that the audio thread reads are atomics
// (a single byte / word each); no lock is taken.
#ifndef VXU_VXALL_H
#define VXU_VXALL_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioSession.h"
#include "platform/RemoteIOUnit.h"

// The user callback: an interleaved float buffer (left, right) of frames
// frames, input on entry and output on return, and the user data.
typedef void (*VXALLCallback)(float* buffer, unsigned long frames, void* user);

// The argument of setAudioOutput: 0 = no route override, any other value =
// speaker.
typedef int VXAudioOutput;
enum : int { kVXAudioOutputDefault = 0, kVXAudioOutputSpeaker = 1 };

// What the render callback works over: the client stream format, the
// capacity in frames and the interleaved float buffer of capacity x 2 floats.
struct VXALLIOInfo {
  platform::StreamFormat format;
  std::uint32_t capacity = 0;
  std::unique_ptr<float[]> buffer;
};

class VXALL {
 public:
  static constexpr std::uint32_t kCapacity = 4096;  // frames of the float buffer
  static constexpr std::uint32_t kVibrateSound = 4095;

  // Sets up the session and the unit for srate and frames per buffer (two
  // channels whatever channels says). False, with its message logged, when a
  // step fails or the layer is already initialised.
  static bool init(double srate, unsigned long frames, unsigned long channels);
  // Starts the unit with the user callback; false when not initialised,
  // already running, the callback is null or the unit does not start.
  static bool start(VXALLCallback callback, void* user);
  // Stops the unit when running; nothing otherwise.
  static void stop();
  // Starts the unit again after stop; false when not initialised, running,
  // interrupted, or the unit cannot be set up or started.
  static bool resume();
  static void vibrate();
  static void setAudioOutput(VXAudioOutput output);
  static void setFullDuplex(bool fullDuplex);
  // The gains for the current route and generation.
  static void configureGains();
  // Tells each device listener, in order.
  static void audioDeviceChanged();
  // Adds a listener told by audioDeviceChanged (a new device is available or
  // an old one is gone). Not from inside a listener.
  static void addDeviceListener(std::function<void()> listener);

  // The session's listeners and the unit's render callback.
  static void rioInterruptionListener(void* inClientData, std::uint32_t inInterruption);
  static void propListener(const platform::RouteChange& change);
  static platform::AudioStatus VXALLRenderProc(void* inRefCon, platform::RemoteIOUnit& unit,
                                               std::uint32_t inBusNumber,
                                               std::uint32_t inNumberFrames,
                                               platform::AudioBufferList& ioData);
  // Creates the unit in slot and sets it up with the render callback and
  // the client format of info (which receives the format the unit runs).
  static bool setupRemoteIO(std::shared_ptr<platform::RemoteIOUnit>& slot,
                            const platform::RemoteIOUnit::RenderCallback& renderProc,
                            VXALLIOInfo& info);

  // Tests only: disposes of the unit and puts every member back to its state
  // at process start. Not while audio runs on another thread.
  static void resetForTesting();

  static std::atomic<bool> m_hasInit;
  static std::atomic<bool> m_isRunning;
  static std::atomic<bool> m_isMute;
  static std::atomic<bool> m_isInterrupted;
  static std::atomic<bool> m_fullDuplex;
  static double m_srate;
  static double m_hwSampleRate;
  static unsigned long m_numChannels;
  static unsigned long m_frameSize;
  static int m_iphoneGeneration;
  static std::optional<std::string> m_currentRoute;
  static std::atomic<double> m_inputGain;
  static std::atomic<double> m_outputGain;
  static VXALLCallback m_callback;
  static void* m_bindle;
  static VXALLIOInfo m_info;
  static std::shared_ptr<platform::RemoteIOUnit> m_au;
  static platform::RemoteIOUnit::RenderCallback m_renderProc;
  static std::vector<std::function<void()>> m_listeners;
};

#endif
