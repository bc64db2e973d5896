// The formulas of the toolkit's stored "special:" wave tables.
//
// Every stored table is computed here, in double precision, from a formula
// (nothing is sampled or copied): the generator (syn_tablegen.cpp) writes
// the results into a C++ source that the toolkit compiles in, and the
// toolkit's tests recompute them here to check what was compiled in.
//
// Each table is one period or one short event; it is scaled so that its
// largest magnitude is 32767 (full scale of the 16-bit tables it stands in
// for; "silence" stays 0), then narrowed to single precision. An event
// that an instrument plays once (one_shot) begins with a zero sample and
// ends with at least 8: the reader holds the last value it read (which,
// read faster than one sample per step, lies before the end) and at the
// end it interpolates toward the first sample, so anything else there
// would stay on as a constant offset after the event. Rates: 22050
// Hz, except the four glottal pulses at 44100 Hz. Noise comes from a
// 64-bit linear congruential generator with a fixed seed per table, so the
// output is the same on every build.
#ifndef TOOLS_SYN_TABLEGEN_SYN_TABLE_FORMULAS_H
#define TOOLS_SYN_TABLEGEN_SYN_TABLE_FORMULAS_H

#include <cstddef>
#include <vector>

struct Syn_Table_Formula {
  const char* name;               // the table's name, "special:..."
  float rate;                     // its sample rate in Hz
  const char* what;               // the formula in words
  std::vector<double> (*make)();  // the unscaled samples
  bool one_shot = false;          // played once by an instrument
};

// The formulas, in the order the reader matches names.
const Syn_Table_Formula* syn_table_formulas(size_t* count);

// A formula's samples as stored: scaled to a peak magnitude of 32767 (all
// zeros stay zeros) and narrowed to float.
std::vector<float> syn_table_samples(const Syn_Table_Formula& formula);

#endif
