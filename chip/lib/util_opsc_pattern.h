// Open Sound Control: address-pattern matching.
//
// Patterns. PatternMatch compiles the pattern ('?', '*', '[set]', '[!set]',
// ranges a-z, '{alt,alt}', '\' escapes) and matches iteratively: stars keep
// a record of the positions from which the rest of the pattern already
// failed, so no state is explored twice, and a step budget bounds any
// pattern a remote host can send.
#ifndef CHIP_UTIL_OPSC_PATTERN_H
#define CHIP_UTIL_OPSC_PATTERN_H

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Cost limit of one match; beyond it the match fails.
enum { OSC_PATTERN_STEP_BUDGET = 1 << 20 };

class OSC_Pattern {
 public:
  // FALSE, with "[chip](via OSC): ..." printed, for a malformed pattern
  // (an unterminated '[' or '{', a spurious ']' or '}').
  bool compile(const char* pattern);
  // Whether the compiled pattern matches all of test (len bytes).
  bool match(const char* test, size_t len) const;
  // Steps the last match took, and whether it ran out of budget.
  size_t steps() const { return m_steps; }
  bool exhausted() const { return m_exhausted; }

 private:
  enum Kind : uint8_t { LIT, ANY, STAR, SET, ALT, FAIL };
  struct Token {
    Kind kind;
    unsigned char c;  // LIT
    int index;        // SET: into m_sets; ALT: into m_alts
    int next_star;    // STAR: token index of the next star, -1 when none
    long fixed_len;   // STAR: characters the tokens up to the next star take, -1 if they vary
    long min_len;     // STAR: the fewest characters they take
  };
  std::vector<Token> m_tokens;
  std::vector<std::bitset<256>> m_sets;
  std::vector<std::vector<std::string>> m_alts;
  mutable size_t m_steps = 0;
  mutable bool m_exhausted = false;
};

// Whether pattern matches test (both zero-terminated; null counts as "").
bool PatternMatch(const char* pattern, const char* test);

#endif
