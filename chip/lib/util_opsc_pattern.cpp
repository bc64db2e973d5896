// Open Sound Control: address-pattern matching.
#include "chip/lib/util_opsc_pattern.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "chip/util/chip_errmsg.h"

bool OSC_Pattern::compile(const char* pattern) {
  m_tokens.clear();
  m_sets.clear();
  m_alts.clear();
  if (!pattern) pattern = "";
  const char* p = pattern;
  while (*p) {
    Token token{LIT, 0, -1, -1, -1, 0};
    switch (*p) {
      case '?':
        token.kind = ANY;
        p++;
        break;
      case '*':
        token.kind = STAR;
        while (*p == '*') p++;
        break;
      case '\\':
        if (p[1]) {
          token.c = static_cast<unsigned char>(p[1]);
          p += 2;
        } else {
          // A trailing backslash escapes nothing: it never matches.
          token.kind = FAIL;
          p++;
        }
        break;
      case '[': {
        const char* start = p + 1;
        bool negate = *start == '!';
        if (negate) start++;
        const char* end = std::strchr(start, ']');
        if (!end) {
          EM_printf("[chip](via OSC): unterminated [ in pattern \".../%s/...\"\n", p);
          return false;
        }
        std::bitset<256> set;
        for (const char* c = start; c < end;) {
          if (c + 2 < end && c[1] == '-') {
            for (int v = static_cast<unsigned char>(c[0]); v <= static_cast<unsigned char>(c[2]);
                 v++) {
              set.set(static_cast<size_t>(v));
            }
            c += 3;
          } else {
            set.set(static_cast<unsigned char>(*c));
            c++;
          }
        }
        if (negate) set.flip();
        token.kind = SET;
        token.index = static_cast<int>(m_sets.size());
        m_sets.push_back(set);
        p = end + 1;
        break;
      }
      case '{': {
        const char* end = std::strchr(p + 1, '}');
        if (!end) {
          EM_printf("[chip](via OSC): unterminated { in pattern \".../%s/...\"\n", p);
          return false;
        }
        std::vector<std::string> alts;
        const char* from = p + 1;
        for (const char* c = from;; c++) {
          if (c == end || *c == ',') {
            alts.emplace_back(from, static_cast<size_t>(c - from));
            from = c + 1;
            if (c == end) break;
          }
        }
        token.kind = ALT;
        token.index = static_cast<int>(m_alts.size());
        m_alts.push_back(std::move(alts));
        p = end + 1;
        break;
      }
      case ']':
      case '}':
        EM_printf("[chip](via OSC): spurious %c in pattern \".../%s/...\"\n", *p, p);
        return false;
      default:
        token.c = static_cast<unsigned char>(*p);
        p++;
        break;
    }
    m_tokens.push_back(token);
  }
  // For each star: the next star and the length of what lies between.
  int next = -1;
  long fixed = 0;
  long least = 0;
  for (size_t i = m_tokens.size(); i-- > 0;) {
    Token& token = m_tokens[i];
    if (token.kind == STAR) {
      token.next_star = next;
      token.fixed_len = fixed;
      token.min_len = least;
      next = static_cast<int>(i);
      fixed = 0;
      least = 0;
    } else if (token.kind == ALT) {
      fixed = -1;
      size_t shortest = SIZE_MAX;
      for (const std::string& alt : m_alts[static_cast<size_t>(token.index)]) {
        shortest = std::min(shortest, alt.size());
      }
      least += static_cast<long>(shortest);
    } else {
      if (fixed >= 0) fixed++;
      least++;
    }
  }
  return true;
}

bool OSC_Pattern::match(const char* test, size_t len) const {
  struct Choice {
    size_t token;
    size_t start;  // STAR: the position it was reached at; ALT: its position
    size_t cur;    // STAR: the position the rest is being tried from
    long alt;      // ALT: the alternative being tried
  };
  const size_t ntok = m_tokens.size();
  const size_t n = len;
  // For a star: the least position from which the rest of the pattern is
  // known to fail (from any later position it fails too: the star could
  // have absorbed the difference).
  std::vector<size_t> fail_from(ntok, SIZE_MAX);
  std::vector<Choice> stack;
  size_t ti = 0;
  size_t pos = 0;
  m_steps = 0;
  m_exhausted = false;

  for (;;) {
    bool backtrack = false;
    if (++m_steps > OSC_PATTERN_STEP_BUDGET) {
      m_exhausted = true;
      return false;
    }
    if (ti == ntok) {
      if (pos == n) return true;
      backtrack = true;
    } else {
      const Token& t = m_tokens[ti];
      switch (t.kind) {
        case LIT:
          if (pos < n && static_cast<unsigned char>(test[pos]) == t.c) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case ANY:
          if (pos < n) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case SET:
          if (pos < n &&
              m_sets[static_cast<size_t>(t.index)][static_cast<unsigned char>(test[pos])]) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case FAIL:
          backtrack = true;
          break;
        case STAR: {
          if (ti + 1 == ntok) return true;
          if (pos >= fail_from[ti]) {
            backtrack = true;
            break;
          }
          // Whatever lies before the next star takes at least min_len
          // characters: arriving there at or after a failed position fails.
          if (t.next_star >= 0 &&
              pos + static_cast<size_t>(t.min_len) >= fail_from[static_cast<size_t>(t.next_star)]) {
            fail_from[ti] = pos;
            backtrack = true;
            break;
          }
          if (t.next_star < 0 && t.fixed_len >= 0) {
            // The last star before a fixed tail: the tail can only start
            // where it ends the test.
            size_t tail = static_cast<size_t>(t.fixed_len);
            if (tail > n || n - tail < pos) {
              fail_from[ti] = pos;
              backtrack = true;
              break;
            }
            stack.push_back(Choice{ti, pos, n, 0});
            ti++;
            pos = n - tail;
            break;
          }
          stack.push_back(Choice{ti, pos, pos, 0});
          ti++;
          break;
        }
        case ALT:
          stack.push_back(Choice{ti, pos, pos, -1});
          backtrack = true;
          break;
      }
    }
    if (!backtrack) continue;

    // Resume the most recent choice that has an untried option.
    bool resumed = false;
    while (!stack.empty() && !resumed) {
      if (++m_steps > OSC_PATTERN_STEP_BUDGET) {
        m_exhausted = true;
        return false;
      }
      Choice& c = stack.back();
      const Token& t = m_tokens[c.token];
      if (t.kind == STAR) {
        size_t next = c.cur + 1;
        bool done = next > n || n - std::min(n, next) < static_cast<size_t>(t.min_len);
        if (!done && t.next_star >= 0 &&
            next + static_cast<size_t>(t.min_len) >= fail_from[static_cast<size_t>(t.next_star)]) {
          done = true;
        }
        if (!done && c.token + 1 < ntok && m_tokens[c.token + 1].kind == LIT) {
          // The rest begins with a literal: only its occurrences can start it.
          const void* found =
              next < n ? std::memchr(test + next, m_tokens[c.token + 1].c, n - next) : nullptr;
          if (found) {
            next = static_cast<size_t>(static_cast<const char*>(found) - test);
          } else {
            done = true;
          }
        }
        if (done) {
          fail_from[c.token] = std::min(fail_from[c.token], c.start);
          stack.pop_back();
          continue;
        }
        c.cur = next;
        ti = c.token + 1;
        pos = next;
        resumed = true;
      } else {
        const std::vector<std::string>& alts = m_alts[static_cast<size_t>(t.index)];
        for (size_t a = static_cast<size_t>(c.alt + 1); a < alts.size(); a++) {
          const std::string& alt = alts[a];
          if (alt.size() <= n - c.start &&
              std::memcmp(test + c.start, alt.data(), alt.size()) == 0) {
            c.alt = static_cast<long>(a);
            ti = c.token + 1;
            pos = c.start + alt.size();
            resumed = true;
            break;
          }
        }
        if (!resumed) stack.pop_back();
      }
    }
    if (!resumed) return false;
  }
}

bool PatternMatch(const char* pattern, const char* test) {
  OSC_Pattern compiled;
  if (!compiled.compile(pattern)) return false;
  if (!test) test = "";
  return compiled.match(test, std::strlen(test));
}
