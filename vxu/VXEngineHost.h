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
// Threads: install() runs once, on the thread that starts the engine, before
// chip_main; the sink and the device are then used from any thread.
#ifndef VXU_VXENGINEHOST_H
#define VXU_VXENGINEHOST_H

class VXEngineHost {
 public:
  // Installs the log sink, the audio device and the VXIgn module; safe to
  // call more than once.
  static void install();
};

#endif
