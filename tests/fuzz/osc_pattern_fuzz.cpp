// libFuzzer target: Open Sound Control address patterns. The input is a
// pattern, a zero byte, and the text to test. The matcher must stay within
// its step budget, and for short inputs agree with a plain recursive
// matcher of the same rules.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "chip/lib/util_opsc.h"
#include "chip/util/chip_errmsg.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// The rules, one character at a time, exponential: for short inputs only.
// Only called on patterns that compiled.
bool reference(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  char c = p[0];
  if (c == '*') return reference(p.substr(1), t) || (!t.empty() && reference(p, t.substr(1)));
  if (c == '{') {
    size_t end = p.find('}');
    std::string_view alts = p.substr(1, end - 1);
    std::string_view rest = p.substr(end + 1);
    for (;;) {
      size_t comma = alts.find(',');
      std::string_view alt = alts.substr(0, comma);
      if (t.substr(0, alt.size()) == alt && reference(rest, t.substr(alt.size()))) return true;
      if (comma == std::string_view::npos) return false;
      alts = alts.substr(comma + 1);
    }
  }
  if (t.empty()) return false;
  unsigned char x = static_cast<unsigned char>(t[0]);
  switch (c) {
    case '?':
      return reference(p.substr(1), t.substr(1));
    case '\\':
      return p.size() > 1 && t[0] == p[1] && reference(p.substr(2), t.substr(1));
    case '[': {
      size_t start = 1;
      bool negate = p.size() > 1 && p[1] == '!';
      if (negate) start = 2;
      size_t end = p.find(']', start);
      bool in = false;
      for (size_t i = start; i < end;) {
        if (i + 2 < end && p[i + 1] == '-') {
          if (x >= static_cast<unsigned char>(p[i]) && x <= static_cast<unsigned char>(p[i + 2]))
            in = true;
          i += 3;
        } else {
          if (x == static_cast<unsigned char>(p[i])) in = true;
          i++;
        }
      }
      return in != negate && reference(p.substr(end + 1), t.substr(1));
    }
    default:
      return t[0] == c && reference(p.substr(1), t.substr(1));
  }
}

size_t count_choices(const std::string& p) {
  size_t n = 0;
  for (char c : p) n += c == '*' || c == ',' || c == '{';
  return n;
}

// Malformed patterns print; keep the fuzzer's output quiet.
void quiet(c_constr, va_list) {}
void flush() {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const EM_Sink sink{quiet, flush};
  static bool installed = (EM_set_sink(&sink), true);
  (void)installed;
  const char* text = reinterpret_cast<const char*>(data);
  const char* zero = static_cast<const char*>(std::memchr(text, 0, size));
  std::string pattern(text, zero ? static_cast<size_t>(zero - text) : size);
  std::string test = zero ? std::string(zero + 1, size - pattern.size() - 1) : std::string();

  OSC_Pattern compiled;
  if (!compiled.compile(pattern.c_str())) return 0;
  bool matched = compiled.match(test.data(), test.size());
  check(compiled.steps() <= static_cast<size_t>(OSC_PATTERN_STEP_BUDGET) + 1);
  if (compiled.exhausted()) {
    check(!matched);
    return 0;
  }
  if (pattern.size() <= 24 && test.size() <= 24 && count_choices(pattern) <= 6) {
    check(matched == reference(pattern, test));
  }
  return 0;
}
