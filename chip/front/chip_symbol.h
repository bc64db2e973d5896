// Interned names.
//
// Every identifier of a syntax tree is turned into one S_Symbol_ through
// insert_symbol: two texts that are equal give the same symbol, so the front
// end, the type system and the emitter compare names by address. The table is
// one process-wide hash table of 65347 buckets that only grows; symbols are
// never freed (they stay reachable from the table). It has no lock: names are
// interned on the compiling thread only.
#ifndef CHIP_CHIP_SYMBOL_H
#define CHIP_CHIP_SYMBOL_H

#include "chip/util/chip_def.h"

struct S_Symbol_ {
  c_str name;        // the text, owned by the symbol
  S_Symbol_* next;   // next symbol of the same bucket
};
typedef S_Symbol_* S_Symbol;

// Number of buckets of the symbol table.
enum { S_TABLE_SIZE = 65347 };

// The unique symbol for a text (the empty text included).
S_Symbol insert_symbol(c_constr name);
// The text of a symbol.
c_str S_name(S_Symbol sym);
// The bucket a text hashes to: h = h * 65599 + c over the characters taken
// as signed 8-bit values, in unsigned 32-bit arithmetic, modulo the table size.
t_CPUINT S_bucket(c_constr name);

#endif
