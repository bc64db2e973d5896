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
//   --verbose, -v                the log's lines on the terminal too
//
// The terminal shows what a player needs: the demo's files, the reasons a
// run fails, and the log's errors. Every line of the log goes to its file
// (Documents/log/current.log); --verbose shows them all as they come.
//
// One instance per home: the program holds a lock on home()/fluvane.lock
// (platform/InstanceLock.h) while it runs, taken before anything in the home
// is touched; a second start says that one is running and exits with 1.
//
// Quitting: closing the window, Escape, the end of an automation script,
// --seconds, and the signals SIGINT, SIGTERM and SIGHUP (taken as events by
// platform/SignalWatcher.h, the quit posted to the main loop) all end the
// same way, through the application's termination steps (see
// FluvaneAppDelegate: a running recording is kept like a stop). After a
// signal the exit status is 128 + its number. Under X11 a window destroyed
// by another client, or a broken display connection, ends through the same
// steps rather than in Xlib's exit (platform/gfx/X11Guard.h), with status 1.
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
// program started in (the demo's from <build>/demo); a picture goes only
// into a folder that exists.
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
