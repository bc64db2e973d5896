// Fuzz target: source text -> compiled code, never run. Every compile error
// is a normal outcome; a crash, an abort, a leak or a sanitizer report is
// not.
#include <cstddef>
#include <cstdint>

#include "fuzz_engine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_engine_quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz_engine().compile(data, size)) fuzz_engine_done();
  return 0;
}
