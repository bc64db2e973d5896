// Basic types and constants shared by every module of the engine.
//
// The language's int is a 32-bit signed value; float, time and dur are
// doubles. Values on the shreds' stacks and in object data occupy
// pointer-wide words (t_CPWORD): an int is kept there sign-extended, a
// reference as the pointer itself.
#ifndef CHIP_DEF_H
#define CHIP_DEF_H

#include <cstddef>
#include <cstdint>

typedef int32_t t_CPINT;      // the language's int
typedef uint32_t t_CPUINT;
typedef double t_CPFLOAT;     // float
typedef double t_CPTIME;      // time, in samples
typedef double t_CPDUR;       // dur, in samples
typedef intptr_t t_CPWORD;    // one stack or member word
typedef uintptr_t t_CPUWORD;
typedef int t_CPBOOL;         // engine truth values: TRUE or FALSE
typedef char* c_str;
typedef const char* c_constr;

struct t_CPCOMPLEX {
  t_CPFLOAT re;
  t_CPFLOAT im;
};

struct t_CPPOLAR {
  t_CPFLOAT modulus;
  t_CPFLOAT phase;
};

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif
