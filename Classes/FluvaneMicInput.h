// The desktop's microphone, extended: a synthetic breath mixed into the
// microphone before the engine hears it, and a count of the frames the
// engine has rendered (its clock, for the automation's waits).
//
// install() wraps every audio unit the audio layer creates from then on
// (RemoteIOUnit's factory): the wrapper passes every call to the real unit
// (SDL's, or the test hardware's), counts the frames of each render call,
// and adds to the microphone's samples a noise whose level follows
// setBreath() with a 20 ms linear rise and fall (the Space key, the
// automation's "breath"). Level 1 is a strong breath (noise of about 0.29
// RMS); 0 adds nothing.
//
// Threads: install, uninstall and setBreath on the main thread; the frame
// count read from any thread; the mixing on the audio thread, lock-free.
#ifndef CLASSES_FLUVANEMICINPUT_H
#define CLASSES_FLUVANEMICINPUT_H

#include <cstdint>

namespace platform {
struct AudioBufferList;
}

class FluvaneMicInput {
 public:
  // Wraps the units made from now on (once; later calls do nothing).
  static void install();
  // Back to the factory that was in place before install().
  static void uninstall();

  // The synthetic breath's level, 0..1 (clamped; not finite: 0).
  static void setBreath(double level);
  static double breath();

  // Frames rendered by wrapped units since the process started.
  static std::uint64_t framesRendered();

  // Adds the breath to the first frames 8.24 samples of each buffer at
  // rate (audio thread).
  static void mixBreath(platform::AudioBufferList& ioData, std::uint32_t frames, double rate);
};

#endif
