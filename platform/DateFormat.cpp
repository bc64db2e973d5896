#include "platform/DateFormat.h"

#include <cmath>
#include <ctime>

namespace platform {

namespace {

void appendNumber(std::string& out, long long value, size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

std::string formatDate(std::string_view pattern, double time) {
  // Whole milliseconds, truncated towards the past. The small allowance keeps
  // a time such as 0.789 (stored as 0.78899999...) at 789.
  double totalMs = std::floor(time * 1000.0 + 1e-3);
  long long ms = static_cast<long long>(std::fmod(totalMs, 1000.0));
  if (ms < 0) ms += 1000;
  time_t seconds = static_cast<time_t>(std::floor((totalMs - static_cast<double>(ms)) / 1000.0 + 0.5));

  struct tm local {};
  localtime_r(&seconds, &local);

  std::string out;
  out.reserve(pattern.size() + 8);
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) run++;
    switch (c) {
      case 'y': {
        long long year = local.tm_year + 1900LL;
        appendNumber(out, run == 2 ? year % 100 : year, run);
        break;
      }
      case 'M': appendNumber(out, local.tm_mon + 1, run); break;
      case 'd': appendNumber(out, local.tm_mday, run); break;
      case 'H': appendNumber(out, local.tm_hour, run); break;
      case 'm': appendNumber(out, local.tm_min, run); break;
      case 's': appendNumber(out, local.tm_sec, run); break;
      case 'S':  // the first `run` digits of the fraction
        if (run <= 3) {
          appendNumber(out, ms / (run == 1 ? 100 : run == 2 ? 10 : 1), run);
        } else {
          appendNumber(out, ms, 3);
          out.append(run - 3, '0');
        }
        break;
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}

}  // namespace platform
