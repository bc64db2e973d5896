// The desktop host of the instrument: the fluvane program's body.
//
//   fluvane                      the window (or off screen without a display)
//   fluvane --automate FILE|-    runs an automation script (FluvaneAutomation.h)
//                                and exits with its status
//   fluvane --demo               plays examples/demo.fluvane off screen into
//                                the disk audio driver, writes
//                                <build>/demo/fluvane-demo.wav and .png and
//                                prints their paths
//   --seconds S                  quits after S seconds of real time
//
// Without a display SDL's offscreen video driver is used; without a sound
// card (no /dev/snd) SDL's disk audio driver (the output to
// SDL_DISKAUDIOFILE, /dev/null unless set; the microphone from
// SDL_DISKAUDIOFILEIN when set, else silence). The demo always uses the
// disk driver. The service base comes from FLUVANE_SERVICE_URL; without it
// nothing is requested.
//
// Input: FluvaneHostInput maps the mouse, the keys and a joystick to
// touches, the synthetic breath (FluvaneMicInput) and the tilt. An
// automation script's relative file names are taken from the folder the
// program started in (the demo's from <build>/demo), since the engine's
// thread changes the working folder to the resources.
//
// Ending: the termination steps stop the engine and wait for its thread at
// most FluvaneAppDelegate::kEngineStopSeconds; should it still run, the
// process ends without waiting for it (the log flushed first).
#ifndef CLASSES_FLUVANEHOST_H
#define CLASSES_FLUVANEHOST_H

#include <cstdint>
#include <string>
#include <vector>

namespace FluvaneHost {

// The program: answers the exit status.
int main(int argc, char** argv);

// Writes interleaved 16-bit stereo samples at rate as a WAV file.
bool writeWav(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
              std::string* error);
// The disk driver's raw output (32-bit signed stereo, native order) as a
// 16-bit WAV file.
bool rawToWav(const std::string& rawPath, const std::string& wavPath, int rate,
              std::string* error);

}  // namespace FluvaneHost

#endif
