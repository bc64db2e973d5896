// The engine as the fuzz targets drive it.
//
// A machine (audio off, as "--silent" makes it) and a compiler with the
// built-in modules, set up and torn down in the order the chip program
// uses. Making them takes far longer than compiling an input, so one engine
// serves inputs for as long as they fail to compile (a failed compile leaves
// the engine as it found it) and is made afresh after an input that
// compiled (a public class stays in the global namespace, and its code is
// kept): every input meets an engine that is as good as new. The source is
// handed over as a stream, NUL bytes and all. Everything the engine prints
// is dropped. Only the engine's libraries are linked: no application
// framework, no audio device.
//
// A run is bounded twice: by a number of samples, and by wall time for a
// shred that never yields (an endless loop is a program's right, not an
// engine fault); the machine is stopped from a second thread then, as an
// interrupt would stop it.
#ifndef TESTS_FUZZ_FUZZ_ENGINE_H
#define TESTS_FUZZ_FUZZ_ENGINE_H

#include <cstddef>
#include <cstdint>

class Chip_VM;
struct Chip_Compiler;
struct Chip_VM_Code;

class Fuzz_Engine {
 public:
  Fuzz_Engine();
  ~Fuzz_Engine();
  Fuzz_Engine(const Fuzz_Engine&) = delete;
  Fuzz_Engine& operator=(const Fuzz_Engine&) = delete;

  // Compiles the source; its code, or null when it does not compile.
  Chip_VM_Code* compile(const uint8_t* data, size_t size);
  // Sporks the code and runs the machine for at most `samples` samples and
  // about `seconds` of wall time.
  void run(Chip_VM_Code* code, long samples, double seconds);

 private:
  Chip_VM* m_vm;
  Chip_Compiler* m_compiler;
};

// Drops everything the engine prints from now on (once, at start).
void fuzz_engine_quiet();

// The engine for the next input, made when there is none.
Fuzz_Engine& fuzz_engine();
// Ends the current engine (after an input that compiled).
void fuzz_engine_done();

#endif
