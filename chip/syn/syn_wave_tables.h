// The stored "special:" wave tables the sound-file reader plays instead of
// files (chip/syn/syn_wvin.h). Their samples are computed at build time by
// tools/syn_tablegen from the formulas in its source and compiled in from
// the generated syn_wave_tables.cpp; each is scaled to a peak of 32767.
#ifndef CHIP_SYN_WAVE_TABLES_H
#define CHIP_SYN_WAVE_TABLES_H

#include <cstddef>

struct Syn_Builtin_Table {
  const char* name;  // "special:..."
  float rate;        // Hz
  size_t size;       // samples
  const float* data;
};

// The tables, in the order the reader matches their names.
extern const Syn_Builtin_Table syn_builtin_tables[];
extern const size_t syn_builtin_table_count;

#endif
