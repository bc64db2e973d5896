// Date formatting with the field patterns the application uses.
//
// formatDate(pattern, time) writes a time (seconds since 1970 UTC, as
// Clock::now() gives it) in the local time zone. A pattern is literal text
// with runs of field letters, the run length giving the width, zero-padded:
//   yyyy year, MM month, dd day, HH hour (00-23), mm minute, ss second,
//   SSS milliseconds (truncated, not rounded; S and SS give tenths and
//   hundredths, yy the last two digits of the year).
// Any other character is copied as it is. The application uses
// kDateLogLine ("yyyy.MM.dd HH:mm:ss.SSS") for log lines and kDateFileStamp
// ("yyyy-MM-dd-HH-mm-ss-SSS") in file names.
//
// Threads: any thread. The local time zone is read from the environment (TZ)
// the way the C library does; a program that changes TZ calls tzset().
#ifndef PLATFORM_DATEFORMAT_H
#define PLATFORM_DATEFORMAT_H

#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view kDateLogLine = "yyyy.MM.dd HH:mm:ss.SSS";
inline constexpr std::string_view kDateFileStamp = "yyyy-MM-dd-HH-mm-ss-SSS";

std::string formatDate(std::string_view pattern, double time);

}  // namespace platform

#endif
