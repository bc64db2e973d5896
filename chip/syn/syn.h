// The synthesis toolkit's base: the root class Syn with the toolkit's
// sample rate, the toolkit's error type SynError and its one reporting
// routine, the abstract instrument Instrmnt, and the message helpers every
// toolkit class uses.
//
// Toolkit classes are plain C++ objects that compute one sample per tick in
// single precision; the language bindings (chip/syn/ugen_syn.h) wrap them as
// unit generators. They read Syn::srate whenever they turn seconds or Hz
// into samples, so objects made after the module registration see the
// host's rate.
//
// Messages. Every toolkit message is one line that begins with the family's
// prefix (SYN_PREFIX "[chip](via SYN): ", SYN_PREFIX_WVIN ...). They go out
// through the engine's printing (the application log, on standard error), so
// they keep their order with what scripts print. Bad parameters are
// corrected and reported with syn_warn(); a message that a bad parameter
// would repeat every sample is kept to one per object with a SynOnce.
//
// Errors. Syn::handleError() prints the message of an error of kind 2 or
// above and throws a SynError; warnings (kind 0) are only printed, debug
// warnings (kind 1) dropped. A SynError never reaches the machine: the
// binding frame catches it around every call into a toolkit object.
//
// Threads: everything here runs on the machine's thread; nothing is locked.
#ifndef CHIP_SYN_H
#define CHIP_SYN_H

#include <cstddef>

#include "chip/vm/frame_object.h"

// Message prefixes of the toolkit's families.
#define SYN_PREFIX "[chip](via SYN): "
#define SYN_PREFIX_WVIN "[chip](via WvIn): "
#define SYN_PREFIX_WVOUT "[chip](via WvOut): "
#define SYN_PREFIX_FILTER "[chip](via Filter): "
#define SYN_PREFIX_FM "[chip](via FM): "
#define SYN_PREFIX_MODAL "[chip](via Modal): "
#define SYN_PREFIX_ENVELOPE "[chip](via Envelope): "
#define SYN_PREFIX_ADSR "[chip](via ADSR): "

// The largest single-precision float: the rate of a ramp of zero time.
const float SYN_FLOAT_MAX = 3.4028235e38f;

// A language float (double) narrowed for the toolkit: a finite value beyond
// the float range becomes the largest float of its sign (an infinity or a
// NaN stays what it is).
inline float syn_float(double v) {
  if (v > 3.4028234663852886e38 && v <= 1.7976931348623157e308) return SYN_FLOAT_MAX;
  if (v < -3.4028234663852886e38 && v >= -1.7976931348623157e308) return -SYN_FLOAT_MAX;
  return static_cast<float>(v);
}

// Prints one message line (the caller puts the prefix in the format; the
// line feed is added) through the engine's printing.
void syn_warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The toolkit's error: a message (cut to 255 characters) and its kind. The
// binding frame catches it (it is a Frame_Error) and prints it with the
// toolkit's prefix.
class SynError : public Frame_Error {
 public:
  enum TYPE {
    WARNING = 0,            // printed, not thrown
    DEBUG_WARNING = 1,      // dropped
    FUNCTION_ARGUMENT = 2,  // a bad argument
    FILE_NOT_FOUND = 3,
    FILE_UNKNOWN_FORMAT = 4,  // raised by no caller
    FILE_ERROR = 5,           // read, write or format error of a file
  };

  explicit SynError(const char* message, TYPE type = FUNCTION_ARGUMENT);
  // Prints the message and a line feed.
  virtual void printMessage() const;
  virtual TYPE getType() const { return type; }
  const char* prefix() const override { return SYN_PREFIX; }

 protected:
  TYPE type;
};

// The root of every toolkit class (a Frame_Obj, so the binding frame can
// hold any toolkit object).
class Syn : public Frame_Obj {
 public:
  ~Syn() override = default;

  // Samples per second, 44100 until the module registration sets the
  // host's rate.
  static float srate;
  // Where wave files would be looked for (nobody reads it: the built-in
  // tables replace the files).
  static const char* rawwavepath;

  // The toolkit's error path: kind WARNING prints the message, DEBUG_WARNING
  // does nothing, every other kind prints the message and throws a SynError
  // holding it (cut to 255 characters) and the kind.
  static void handleError(const char* message, SynError::TYPE type);
};

// 1 when the host is little-endian (set at module registration); the sound-
// file readers and writers swap bytes by it.
extern int little_endian;

// A message that a bad parameter could repeat every sample, printed the
// first time only (per owning object). reset() arms it again, for example
// when the parameter is set right.
class SynOnce {
 public:
  void warn(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void reset() { said = false; }
  bool fired() const { return said; }

 private:
  bool said = false;
};

// The abstract instrument (the language class SynInstrument).
class Instrmnt : public Syn {
 public:
  Instrmnt() = default;
  ~Instrmnt() override = default;

  // Starts a note of the given frequency (Hz) and amplitude.
  virtual void noteOn(float frequency, float amplitude) = 0;
  // Stops the note with the given amplitude; the base does nothing.
  virtual void noteOff(float amplitude);
  // Sets the pitch. Every concrete instrument stores its argument in
  // m_frequency first; the base only prints
  // "[chip](via SYN): Instrmnt: virtual setFrequency function call!".
  virtual void setFrequency(float frequency);
  // The next output sample.
  virtual float tick() = 0;
  // size successive tick() results into vector; returns vector.
  virtual float* tick(float* vector, unsigned int size);
  // A control change on a 0..128 scale; the base does nothing.
  virtual void controlChange(int number, float value);

  // The frequency last set, in Hz (what the language getter `freq` reads).
  double m_frequency = 0.0;
};

#endif
