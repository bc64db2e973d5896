// Loading the xxx module into a test's environment.
//
// load_xxx_module does what the compiler driver does for a module at start
// (load_test_module of module_test_support.h): it runs xxx_query with a fresh
// query record (at the given sample rate) and commits the global namespace,
// so the module's classes stay for every file checked afterwards, whatever
// that file's fate.
#ifndef TESTS_CHIP_XXX_MODULE_SUPPORT_H
#define TESTS_CHIP_XXX_MODULE_SUPPORT_H

#include "chip/lib/ugen_xxx.h"
#include "module_test_support.h"

inline bool load_xxx_module(Chip_Env* env, t_CPUINT srate) {
  return load_test_module(env, xxx_query, srate);
}

#endif
