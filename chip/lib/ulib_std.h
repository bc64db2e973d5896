// The standard library module "Std": the script classes Std and
// StringTokenizer.
//
// Std is a class of static functions: absolute values, the sign, random
// numbers from the host C library's generator (shared with Math), running a
// host command, conversions between strings and numbers, environment
// variables, and the pitch and level conversions of chip/util/util_math.h. Each
// function is one native routine named after it with "_impl" behind it;
// Math (chip/lib/ulib_math.h) registers thirteen of these very routines again
// under its own name.
//
// Integer arithmetic that the language's 32-bit ints cannot hold is done
// wider or unsigned, so that no input is undefined behaviour:
//   abs    negates in unsigned arithmetic: abs(-2147483648) is -2147483648;
//   rand2  takes the width of the range in 64 bits, so every range, the
//          widest included, yields values between its bounds.
//
// StringTokenizer splits a line into whitespace-separated words. Each object
// keeps its StrTok record (the words and a read position) in the hidden
// member "@StrTok_data"; the constructor makes it, the destructor frees it.
//
// Std.system runs a host command only when g_enable_system_cmd is set (the
// driver sets it for "--caution-to-the-wind"); otherwise it prints a refusal
// and answers 0.
//
// Threads: libstd_query runs on the thread that starts the engine; every
// routine runs on the machine's thread inside the calling shred. The random
// generator and the environment are process-wide.
#ifndef CHIP_ULIB_STD_H
#define CHIP_ULIB_STD_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

// Byte offset of "@StrTok_data" in a StringTokenizer's data; -1 until the
// class is registered.
extern t_CPWORD StrTok_offset_data;

// Whether Std.system may run commands; off unless the host turns it on.
extern t_CPBOOL g_enable_system_cmd;

// The module's query: declares Std through the query record and imports
// StringTokenizer directly, registers the deprecated names "std" and
// "strtok", and seeds the generator with the calendar time. FALSE when
// StringTokenizer could not be imported.
t_CPBOOL libstd_query(Chip_DL_Query* QUERY);

// ---------------------------------------------------------------------------
// Pure parts of the random functions, from one generator value r in
// 0..2147483647 (the host generator's range).

// An integer from min to max inclusive (either order): min itself for an
// empty range, else min + trunc((max - min + 1) * r / 2^31), or
// min - trunc((min - max + 1) * r / 2^31) for max < min; widths in 64 bits.
t_CPINT std_rand2_from(t_CPINT min, t_CPINT max, long r);
// 2 r / 2147483647 - 1: from -1.0 (r 0) to 1.0 (r 2147483647).
t_CPFLOAT std_randf_from(long r);
// min + (max - min) r / 2147483647: from min to max, both reached.
t_CPFLOAT std_rand2f_from(t_CPFLOAT min, t_CPFLOAT max, long r);

// ---------------------------------------------------------------------------
// Std's static routines (argument block, result slot, calling shred).
void abs_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void fabs_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void rand_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void rand2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void randf_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void rand2f_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void srand_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void sgn_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void system_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void atoi_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void atof_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void itoa_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ftoa_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void getenv_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void setenv_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void mtof_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ftom_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void powtodb_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void rmstodb_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dbtopow_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dbtorms_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// StringTokenizer.
void StrTok_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void StrTok_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
// `void set(string line)`: the words of line (null: no words); position 0.
void StrTok_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `void reset()`: position back to 0.
void StrTok_reset(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `int more()`: 1 while a word is left.
void StrTok_more(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `string next()`: a new string with the next word (position advances), or
// the empty string when none is left.
void StrTok_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `string next(string out)`: the same word written into out, which is
// answered; a null out consumes the word and answers null.
void StrTok_next2(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `string get(int index)`: a new string with word index, or the empty string
// outside 0..size-1; the position stays.
void StrTok_get(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `string get(int index, string out)`: the same text written into out.
void StrTok_get2(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `int size()`: the number of words.
void StrTok_size(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
