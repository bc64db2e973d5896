// String utilities shared by the engine and its libraries.
//
// Number-to-text conversions, trimming and ASCII case conversion (behind the
// string class's trim, ltrim, rtrim, upper and lower), and the splitting of a
// command-line file token "name:arg1:arg2" into a file name and arguments.
// Every function returns a new string and leaves its argument alone.
//
// tolower and toupper take a std::string, so they overload rather than clash
// with the C library's int versions: a char argument still reaches the C
// function, a string (or string literal) reaches these.
#ifndef CHIP_UTIL_STRING_H
#define CHIP_UTIL_STRING_H

#include <string>
#include <vector>

#include "chip/util/chip_def.h"

// Decimal text of val, as printf "%li".
std::string itoa(long val);

// Fixed-point text of val (as printf "%f") with digits digits after the point;
// more than 32 digits count as 32, and 0 digits give no point.
std::string ftoa(double val, unsigned long digits);

// Without leading and trailing blanks; only space and tab are blanks.
std::string trim(const std::string& val);
std::string ltrim(const std::string& val);
std::string rtrim(const std::string& val);

// ASCII letters turned to lower (upper) case; every other byte unchanged.
std::string tolower(const std::string& val);
std::string toupper(const std::string& val);

// Splits a token "name:arg1:arg2..." (trimmed first) at its colons into the
// file name and the arguments; "\:" is a colon inside a name or argument.
// FALSE when the token starts with a separator (no file name).
t_CPBOOL extract_args(const std::string& token, std::string& filename,
                      std::vector<std::string>& args);

#endif
