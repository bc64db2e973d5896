// The mathematics library module "Math": the script class Math.
//
// Math is a class of static functions and constants: thin wrappers of the
// host's double-precision mathematics (domain errors are not caught: the
// results are what the host gives, NaN, an infinity or a signed zero), two
// power-of-two functions for ints, accessors of complex and polar values,
// element-wise conversion between complex[] and polar[] arrays, and the
// named constants PI, TWO_PI, E and e, FLOAT_MAX, FLOAT_MIN_MAG, INT_MAX,
// INFINITY and the imaginary unit as I, i, J and j. Thirteen of its
// functions (abs, fabs, sgn, the four random functions and the six pitch and
// level conversions) are Std's own routines (chip/lib/ulib_std.h), registered a
// second time here, so Std and Math share one generator.
//
// min and max compare once (x < y, x > y) and answer y when the comparison
// fails, so a NaN as second argument wins and a NaN as first loses.
//
// nextpow2 and ensurePow2 work in unsigned 32-bit arithmetic, where doubling
// the sign bit wraps to 0 instead of being undefined:
//   nextpow2(n)   = 2 * highest set bit of n; 0 for 0 and every negative n,
//                   and -2147483648 (2^31 wrapped) for n in 2^30..2^31-1;
//   ensurePow2(n) = 2 * highest set bit of (n - 1), likewise (n - 1 wraps
//                   for the most negative n, giving -2147483648).
//
// Threads: libmath_query runs on the thread that starts the engine; every
// routine runs on the machine's thread inside the calling shred.
#ifndef CHIP_ULIB_MATH_H
#define CHIP_ULIB_MATH_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

// The storage of Math's constants (handed to the type system by address).
extern t_CPFLOAT g_pi;
extern t_CPFLOAT g_twopi;
extern t_CPFLOAT g_e;
extern t_CPFLOAT g_floatMax;
extern t_CPFLOAT g_floatMin;
extern t_CPWORD g_intMax;
extern t_CPFLOAT g_inf;
extern t_CPCOMPLEX g_i;

// The module's query: declares Math and its constants through the query
// record and registers the deprecated name "math". Always TRUE.
t_CPBOOL libmath_query(Chip_DL_Query* QUERY);

// The pure power-of-two functions (see above).
t_CPINT math_nextpow2(t_CPINT n);
t_CPINT math_ensurepow2(t_CPINT n);

// Math's own static routines (argument block, result slot, calling shred).
void sin_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void cos_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void tan_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void asin_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void acos_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void atan_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void atan2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void sinh_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void cosh_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void tanh_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void hypot_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void pow_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void sqrt_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void exp_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void log_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void log2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void log10_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void floor_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ceil_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void round_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void trunc_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void fmod_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void remainder_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void min_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void max_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void isinf_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void isnan_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void nextpow2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ensurepow2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void re_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void im_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void mag_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void phase_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `int rtop(complex[] from, polar[] to)`: converts the first
// min(sizes) elements, shrinks a longer `to` to that count and answers it;
// 0 with a warning in the log when an array is null. ptor the other way.
void rtop_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ptor_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
