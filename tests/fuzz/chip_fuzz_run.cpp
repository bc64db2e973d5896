// Fuzz target: source text -> compiled code -> run, silently, for at most
// a tenth of a second of sound (and a second of wall time). Compile errors
// and run-time exceptions of shreds are normal outcomes; a crash, an abort,
// a leak or a sanitizer report is not.
#include <cstddef>
#include <cstdint>

#include "fuzz_engine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_engine_quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz_Engine& engine = fuzz_engine();
  Chip_VM_Code* code = engine.compile(data, size);
  if (!code) return 0;
  engine.run(code, 4410, 1.0);
  fuzz_engine_done();
  return 0;
}
