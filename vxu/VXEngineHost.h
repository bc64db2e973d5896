// What the application installs into the language engine before starting
// it: the engine knows nothing of the framework, so its host hands it the
// application log as its log sink, the audio layer (VXALL) as its audio
// device, and the integration class VXIgn as the module for its place in the
// compiler's load order.
//
// The log is started here, before the engine prints anything, and the
// installing thread (which runs the machine itself when audio is off) gets
// its line buffer at once: a first line that reports memory running out
// must not be the one that needs memory to start the log.
//
// The host's audio device also lets the application stop a running engine
// from another thread without touching the engine's globals: between a
// successful start of the audio and its stop (both on the engine thread,
// the stop before the machine is freed) the device holds the machine, and
// requestStop() asks that machine to stop under the device's lock. A
// request made before the audio starts (while the scripts compile) is kept
// and honoured at the start, which then stops the machine instead of
// starting the audio. An engine whose audio cannot start is stopped too, so
// it ends instead of waiting forever for callbacks that never come.
//
// Threads: install() runs on the thread that starts the engine, before
// chip_main; requestStop() and clearStopRequest() from any thread.
#ifndef VXU_VXENGINEHOST_H
#define VXU_VXENGINEHOST_H

class VXEngineHost {
 public:
  // Installs the log sink, the audio device and the VXIgn module; safe to
  // call more than once.
  static void install();

  // Asks the engine to stop (see above); true when a machine with running
  // audio was told at once, false when the request waits for the start.
  static bool requestStop();
  // Forgets a stop request (before a new engine run starts).
  static void clearStopRequest();
};

#endif
