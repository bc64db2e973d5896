// The scanner: spellings, literals, comments and position bookkeeping.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "chip/front/chip_absyn.h"
#include "chip/front/chip_parse.h"
#include "chip/front/chip_tab.h"
#include "chip/util/chip_errmsg.h"

namespace {

struct Spelling {
  const char* text;
  int kind;
};

// Every operator, punctuation and keyword spelling with its token.
const Spelling kSpellings[] = {
    {"++", T_PLUSPLUS}, {"--", T_MINUSMINUS}, {"#(", T_POUND_PAREN}, {"%(", T_PERCENT_PAREN},
    {",", T_COMMA}, {":", T_COLON}, {".", T_DOT}, {";", T_SEMICOLON},
    {"+", T_PLUS}, {"-", T_MINUS}, {"*", T_TIMES}, {"/", T_DIVIDE}, {"%", T_PERCENT},
    {"#", T_POUND}, {"$", T_DOLLAR}, {"::", T_COLONCOLON},
    {"==", T_EQ}, {"!=", T_NEQ}, {"<", T_LT}, {">", T_GT}, {"<=", T_LE}, {">=", T_GE},
    {"&&", T_AND}, {"||", T_OR}, {"&", T_S_AND}, {"|", T_S_OR}, {"^", T_S_XOR},
    {">>", T_SHIFT_RIGHT}, {"<<", T_SHIFT_LEFT}, {"=", T_ASSIGN},
    {"(", T_LPAREN}, {")", T_RPAREN}, {"[", T_LBRACK}, {"]", T_RBRACK}, {"{", T_LBRACE}, {"}", T_RBRACE},
    {"?", T_QUESTION}, {"!", T_EXCLAMATION}, {"~", T_TILDE}, {"=>", T_CHIP},
    {"=<", T_UNCHIP}, {"!=>", T_UNCHIP}, {"=^", T_UPCHIP}, {"@=>", T_AT_CHIP},
    {"+=>", T_PLUS_CHIP}, {"-=>", T_MINUS_CHIP}, {"*=>", T_TIMES_CHIP}, {"/=>", T_DIVIDE_CHIP},
    {"&=>", T_S_AND_CHIP}, {"|=>", T_S_OR_CHIP}, {"^=>", T_S_XOR_CHIP},
    {">>=>", T_SHIFT_RIGHT_CHIP}, {"<<=>", T_SHIFT_LEFT_CHIP}, {"%=>", T_PERCENT_CHIP},
    {"@", T_AT_SYM}, {"@@", T_ATAT_SYM}, {"->", T_ARROW_RIGHT}, {"<-", T_ARROW_LEFT},
    {"<<<", T_L_HACK}, {">>>", T_R_HACK},
    {"for", T_FOR}, {"while", T_WHILE}, {"until", T_UNTIL}, {"repeat", T_REPEAT},
    {"continue", T_CONTINUE}, {"break", T_BREAK}, {"if", T_IF}, {"else", T_ELSE}, {"do", T_DO},
    {"return", T_RETURN}, {"function", T_FUNCTION}, {"fun", T_FUNCTION}, {"new", T_NEW},
    {"class", T_CLASS}, {"interface", T_INTERFACE}, {"extends", T_EXTENDS},
    {"implements", T_IMPLEMENTS}, {"public", T_PUBLIC}, {"protected", T_PROTECTED},
    {"private", T_PRIVATE}, {"static", T_STATIC}, {"pure", T_PURE}, {"const", T_CONST},
    {"spork", T_SPORK}, {"typeof", T_TYPEOF},
};

std::string kind_text(int kind) {
  static const std::map<int, std::string> names = [] {
    std::map<int, std::string> m;
    for (const Spelling& s : kSpellings) m.emplace(s.kind, s.text);
    return m;
  }();
  auto it = names.find(kind);
  return it != names.end() ? it->second : "<" + std::to_string(kind) + ">";
}

std::string value_text(int kind) {
  switch (kind) {
    case T_ID: return std::string("id:") + yylval.sval;
    case T_STRING: return std::string("str:") + yylval.sval;
    case T_INT: return "int:" + std::to_string(yylval.ival);
    case T_FLOAT: {
      char buf[64];
      auto res = std::to_chars(buf, buf + sizeof(buf), yylval.fval);
      return "float:" + std::string(buf, res.ptr);
    }
  }
  return kind_text(kind);
}

// Scans a whole source; each token renders as its spelling, or as
// kind:value for identifiers and literals. Observers can look at the scanner
// state after each token.
template <typename Observer>
std::string lex_with(const std::string& source, Observer observe) {
  std::string buffer = source;
  FILE* f = fmemopen(buffer.data(), buffer.size(), "r");
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  EM_reset("lex.chip", f);
  chip_lex_begin(f);
  std::string out;
  for (int n = 0; n < 1000; n++) {
    int kind = yylex();
    if (kind == 0) break;
    if (!out.empty()) out += " ";
    out += value_text(kind);
    observe(kind);
  }
  chip_lex_end();
  set_current_pool(previous);
  delete_pool(pool);
  std::fclose(f);
  return out;
}

std::string lex(const std::string& source) {
  return lex_with(source, [](int) {});
}

// Leaves the error module without a current file, as it was found.
class LexerTest : public ::testing::Test {
 protected:
  void TearDown() override { reset_parse(); }
};

TEST_F(LexerTest, EverySpellingGivesItsToken) {
  for (const Spelling& s : kSpellings) {
    std::vector<int> kinds;
    lex_with(s.text, [&](int kind) { kinds.push_back(kind); });
    EXPECT_EQ(kinds, std::vector<int>{s.kind}) << s.text;
  }
}

TEST_F(LexerTest, TokensAndLiterals) {
  struct Case {
    const char* source;
    const char* tokens;
  } cases[] = {
      // integers: hexadecimal, octal with 0c, and decimal (a leading 0 is not octal)
      {"0x1F 0X1fL 31 0c17 017 12uL", "int:31 int:31 int:31 int:15 int:17 int:12"},
      {"0xFFFFFFFF 2147483648 4294967297", "int:-1 int:-2147483648 int:1"},
      {"0x 0c8", "int:0 id:x int:0 id:c8"},
      // floats have no exponent form
      {"1. .5 3.25", "float:1 float:0.5 float:3.25"},
      {"1.e3", "float:1 id:e3"},
      {"1e5", "int:1 id:e5"},
      {"a.5", "id:a float:0.5"},
      // identifiers and keywords
      {"sizeof same funny for_ _x9", "id:sizeof id:same id:funny id:for_ id:_x9"},
      {"fun function", "function function"},
      // longest match among operators
      {">>=> <<<a>>> !=> =< --> <--x", ">>=> <<< id:a >>> =< =< -- >"},
      {"a<-b->c", "id:a <- id:b -> id:c"},
      {"x@=>y", "id:x @=> id:y"},
      {"a@@b", "id:a @@ id:b"},
      // strings keep their escapes
      {R"("a\"b" "t\t" "")", R"(str:a\"b str:t\t str:)"},
      {"\"two\nlines\"", "str:two\nlines"},
      // comments
      {"a//b\nc", "id:a id:c"},
      {"x <-- note\ny", "id:x id:y"},
      {"x <-y", "id:x <- id:y"},
      {"a/* b\n c */d", "id:a id:d"},
      {"a/**/b/***/c", "id:a id:b id:c"},
      {"a /* never closed", "id:a"},
      {"a /*/ b */ c", "id:a id:c"},
      {"a // c\r b", "id:a id:b"},
      // blanks, tabs, CR-LF and newlines separate
      {"a\tb\r\nc\nd", "id:a id:b id:c id:d"},
  };
  for (const Case& c : cases) EXPECT_EQ(lex(c.source), c.tokens) << c.source;
}

TEST_F(LexerTest, IllegalCharactersAreReportedAndSkipped) {
  struct Case {
    const char* source;
    const char* tokens;
    const char* error;
  } cases[] = {
      {"a ` b", "id:a id:b", "[lex.chip]:line(1).char(3): illegal token"},
      {"a\rb", "id:a id:b", "[lex.chip]:line(1).char(2): illegal token"},
      {"x\n 'y'", "id:x id:y", "[lex.chip]:line(2).char(4): illegal token"},
      {"\"open", "id:open", "[lex.chip]:line(1).char(1): illegal token"},
      {"ok\\", "id:ok", "[lex.chip]:line(1).char(3): illegal token"},
      {"\"bad\\\nx\"", "id:bad id:x", "[lex.chip]:line(2).char(2): illegal token"},
      // an unclosed string whose quotes stand escaped: each quote is illegal
      // up to the backslash where the string fails; after it strings open again
      {"\"\\\"\\\"x\\\n\"ok\"", "id:x str:ok", "[lex.chip]:line(1).char(7): illegal token"},
  };
  for (const Case& c : cases) {
    std::snprintf(g_lasterror, sizeof(g_lasterror), "(none)");
    EXPECT_EQ(lex(c.source), c.tokens) << c.source;
    EXPECT_STREQ(g_lasterror, c.error) << c.source;
    EXPECT_TRUE(anyErrors) << c.source;
  }
}

// Tokens far longer than the scanner's buffer (comments, strings,
// identifiers of megabytes) come out whole, and so does what follows them.
// (How the time grows with their length is measured in bench/.)
TEST_F(LexerTest, TokensLongerThanTheBufferComeOutWhole) {
  const std::string body(1 << 20, 'x');
  struct Case {
    std::string source;
    std::string tokens;
  } cases[] = {
      {"a /*" + body + "*/ b", "id:a id:b"},
      {"a //" + body + "\nb", "id:a id:b"},
      {"\"" + body + "\" b", "str:" + body + " id:b"},
      {"a " + body + " b", "id:a id:" + body + " id:b"},
      {"a /*" + body, "id:a"},
  };
  for (const Case& c : cases) {
    std::string out = lex(c.source);
    EXPECT_TRUE(out == c.tokens) << c.source.substr(0, 8) << ": " << out.size() << " bytes";
  }
}

TEST_F(LexerTest, PositionsAndLinesFollowEveryCharacter) {
  struct Seen {
    int tok_pos;
    int char_pos;
    int line;
  };
  struct Case {
    const char* source;
    std::vector<Seen> seen;
    int lines_at_end;
  } cases[] = {
      {"ab  cd", {{1, 3, 1}, {5, 7, 1}}, 1},
      {"a\r\nb\nc", {{1, 2, 1}, {4, 5, 2}, {6, 7, 3}}, 3},
      {"a\rb", {{1, 2, 1}, {3, 4, 1}}, 1},
      {"/* 1\n2\n */ x", {{12, 13, 3}}, 3},
      {"// c\nx", {{6, 7, 2}}, 2},
      {"\"a\nb\" c", {{1, 6, 2}, {7, 8, 2}}, 2},
  };
  for (const Case& c : cases) {
    std::vector<Seen> seen;
    lex_with(c.source, [&](int) { seen.push_back({EM_tokPos, char_pos, EM_lineNum}); });
    ASSERT_EQ(seen.size(), c.seen.size()) << c.source;
    for (size_t i = 0; i < seen.size(); i++) {
      EXPECT_EQ(seen[i].tok_pos, c.seen[i].tok_pos) << c.source << " token " << i;
      EXPECT_EQ(seen[i].char_pos, c.seen[i].char_pos) << c.source << " token " << i;
      EXPECT_EQ(seen[i].line, c.seen[i].line) << c.source << " token " << i;
    }
    EXPECT_EQ(EM_lineNum, c.lines_at_end) << c.source;
    EXPECT_EQ(char_pos, 1) << "end of input resets the position: " << c.source;
  }
}

TEST_F(LexerTest, EachSourceStartsAtPositionOne) {
  lex("abc def");  // ends normally
  // a scan abandoned half-way must not shift the next source
  std::string buffer = "first second";
  FILE* f = fmemopen(buffer.data(), buffer.size(), "r");
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  chip_lex_begin(f);
  ASSERT_EQ(yylex(), T_ID);
  chip_lex_end();
  set_current_pool(previous);
  delete_pool(pool);
  std::fclose(f);

  std::vector<int> starts;
  lex_with("x y", [&](int) { starts.push_back(EM_tokPos); });
  EXPECT_EQ(starts, (std::vector<int>{1, 3}));
}

TEST_F(LexerTest, IdentifierAndStringTextsAreFreshCopies) {
  std::vector<c_str> texts;
  std::string buffer = "name \"text\"";
  FILE* f = fmemopen(buffer.data(), buffer.size(), "r");
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  chip_lex_begin(f);
  while (int kind = yylex()) {
    if (kind == T_ID || kind == T_STRING) texts.push_back(yylval.sval);
  }
  chip_lex_end();
  set_current_pool(previous);
  buffer.assign(buffer.size(), '#');  // the copies do not point into the source
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_STREQ(texts[0], "name");
  EXPECT_STREQ(texts[1], "text");
  EXPECT_EQ(pool_block_count(pool), 2u);  // owned by the tree's pool
  delete_pool(pool);
  std::fclose(f);
}

}  // namespace
