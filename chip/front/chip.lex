/* Scanner of Chip source text.
 *
 * Longest match; of several rules matching the same longest text the first
 * listed wins, so keywords beat identifiers. Positions: before each token's
 * action EM_tokPos takes the running position char_pos and char_pos moves past
 * the token. Characters inside comments and string literals are counted one
 * by one, and each newline (also inside comments and strings) starts a line
 * at its own position, so error positions stay exact after such text.
 * A line comment ends before a newline or just after a carriage return (a
 * CR-LF pair thus still counts as one newline); a block comment that is not
 * closed runs to the end of input.
 *
 * Scanner faults (flex's fatal errors) are reported through EM_error2 at
 * line 0 and end the source: yylex gives the parser end of input from then on
 * and chip_lex_failed() tells the caller.
 *
 * Scanning is linear in the length of the source, whatever its tokens:
 *   - A refill reads as much as the buffer holds, and the buffer doubles
 *     when one token fills it. (flex rescans the token begun so far on every
 *     refill; with reads of a fixed size a token of n bytes would cost n^2.)
 *   - A double quote that opens no complete string is an illegal token and
 *     scanning resumes just after it. Instead of letting the automaton find
 *     that out by reading ahead and backing up at every such quote, the
 *     unclosed text is matched once as a token of its own, ending where the
 *     string fails (a backslash before a newline, or the end of input). Every
 *     quote up to that point would fail at the same place (inside the unclosed
 *     text each of them stands escaped), so until the scan passes it, in the
 *     start condition NO_STRING, a quote is at once an illegal token.
 */

%option noyywrap nounput noinput nodefault
%s NO_STRING

%{
#include <charconv>
#include <climits>
#include <cstring>

#include "chip/front/chip_absyn.h"
#include "chip/front/chip_parse.h"
#include "chip/front/chip_tab.h"
#include "chip/util/chip_errmsg.h"

#define YY_BUF_SIZE 16384
// No cap of our own on a read: flex reads as much as fits in the buffer.
#define YY_READ_BUF_SIZE INT_MAX

namespace {
struct ChipLexFault {};
[[noreturn]] void chip_lex_fault(const char* msg);
void count_newlines(const char* text, int len);
t_CPINT scan_int(const char* digits, int base);
t_CPFLOAT scan_float(const char* text, size_t len);
c_str scan_string(const char* text, int len);
}

#define YY_FATAL_ERROR(msg) chip_lex_fault(msg)
#define YY_DECL static int chip_scan_token(void)
#define YY_USER_ACTION { EM_tokPos = char_pos; char_pos += yyleng; leave_no_string(); }

int char_pos = 1;

namespace {
// Where the latest unclosed string fails (a position as char_pos counts).
int g_no_string_end = 0;
void leave_no_string();
}
%}

%%

"//"[^\r\n]*\r?                        ;
"<--"[^\r\n]*\r?                       ;
"/*"([^*]|"*"+[^*/])*"*"+"/"            { count_newlines(yytext, yyleng); }
"/*"([^*]|"*"+[^*/])*"*"*               { count_newlines(yytext, yyleng); }
[ \t]+                  ;
"\r\n"                  { EM_tokPos++; EM_newline(); }
"\n"                    { EM_newline(); }

"++"                    { return T_PLUSPLUS; }
"--"                    { return T_MINUSMINUS; }
"#("                    { return T_POUND_PAREN; }
"%("                    { return T_PERCENT_PAREN; }
","                     { return T_COMMA; }
":"                     { return T_COLON; }
"."                     { return T_DOT; }
";"                     { return T_SEMICOLON; }
"+"                     { return T_PLUS; }
"-"                     { return T_MINUS; }
"*"                     { return T_TIMES; }
"/"                     { return T_DIVIDE; }
"%"                     { return T_PERCENT; }
"#"                     { return T_POUND; }
"$"                     { return T_DOLLAR; }
"::"                    { return T_COLONCOLON; }
"=="                    { return T_EQ; }
"!="                    { return T_NEQ; }
"<"                     { return T_LT; }
">"                     { return T_GT; }
"<="                    { return T_LE; }
">="                    { return T_GE; }
"&&"                    { return T_AND; }
"||"                    { return T_OR; }
"&"                     { return T_S_AND; }
"|"                     { return T_S_OR; }
"^"                     { return T_S_XOR; }
">>"                    { return T_SHIFT_RIGHT; }
"<<"                    { return T_SHIFT_LEFT; }
"="                     { return T_ASSIGN; }
"("                     { return T_LPAREN; }
")"                     { return T_RPAREN; }
"["                     { return T_LBRACK; }
"]"                     { return T_RBRACK; }
"{"                     { return T_LBRACE; }
"}"                     { return T_RBRACE; }
"?"                     { return T_QUESTION; }
"!"                     { return T_EXCLAMATION; }
"~"                     { return T_TILDE; }
"=>"                    { return T_CHIP; }
"=<"|"!=>"              { return T_UNCHIP; }
"=^"                    { return T_UPCHIP; }
"@=>"                   { return T_AT_CHIP; }
"+=>"                   { return T_PLUS_CHIP; }
"-=>"                   { return T_MINUS_CHIP; }
"*=>"                   { return T_TIMES_CHIP; }
"/=>"                   { return T_DIVIDE_CHIP; }
"&=>"                   { return T_S_AND_CHIP; }
"|=>"                   { return T_S_OR_CHIP; }
"^=>"                   { return T_S_XOR_CHIP; }
">>=>"                  { return T_SHIFT_RIGHT_CHIP; }
"<<=>"                  { return T_SHIFT_LEFT_CHIP; }
"%=>"                   { return T_PERCENT_CHIP; }
"@"                     { return T_AT_SYM; }
"@@"                    { return T_ATAT_SYM; }
"->"                    { return T_ARROW_RIGHT; }
"<-"                    { return T_ARROW_LEFT; }
"<<<"                   { return T_L_HACK; }
">>>"                   { return T_R_HACK; }

"for"                   { return T_FOR; }
"while"                 { return T_WHILE; }
"until"                 { return T_UNTIL; }
"repeat"                { return T_REPEAT; }
"continue"              { return T_CONTINUE; }
"break"                 { return T_BREAK; }
"if"                    { return T_IF; }
"else"                  { return T_ELSE; }
"do"                    { return T_DO; }
"return"                { return T_RETURN; }
"function"|"fun"        { return T_FUNCTION; }
"new"                   { return T_NEW; }
"class"                 { return T_CLASS; }
"interface"             { return T_INTERFACE; }
"extends"               { return T_EXTENDS; }
"implements"            { return T_IMPLEMENTS; }
"public"                { return T_PUBLIC; }
"protected"             { return T_PROTECTED; }
"private"               { return T_PRIVATE; }
"static"                { return T_STATIC; }
"pure"                  { return T_PURE; }
"const"                 { return T_CONST; }
"spork"                 { return T_SPORK; }
"typeof"                { return T_TYPEOF; }

0[xX][0-9a-fA-F]+[uUlL]*    { yylval.ival = scan_int(yytext + 2, 16); return T_INT; }
0[cC][0-7]+[uUlL]*          { yylval.ival = scan_int(yytext + 2, 8); return T_INT; }
[0-9]+[uUlL]*               { yylval.ival = scan_int(yytext, 10); return T_INT; }
[0-9]+"."[0-9]*|"."[0-9]+   { yylval.fval = scan_float(yytext, yyleng); return T_FLOAT; }
[A-Za-z_][A-Za-z0-9_]*      { yylval.sval = checked_strdup(yytext); return T_ID; }
<INITIAL>\"(\\.|[^\\"])*\"  { yylval.sval = scan_string(yytext, yyleng); return T_STRING; }
<INITIAL>\"(\\.|[^\\"])*     {
                            EM_error(EM_tokPos, "illegal token");
                            g_no_string_end = EM_tokPos + yyleng;
                            yyless(1);
                            char_pos = EM_tokPos + 1;
                            if (char_pos < g_no_string_end) BEGIN(NO_STRING);
                          }

.                       { EM_error(EM_tokPos, "illegal token"); }

<<EOF>>                 { EM_tokPos = char_pos; char_pos = 1; BEGIN(INITIAL); yyterminate(); }

%%

namespace {

t_CPBOOL lex_failed = FALSE;

// After each token: once the scan reaches the place where the latest
// unclosed string fails, quotes open strings again.
void leave_no_string() {
  if (YY_START == NO_STRING && char_pos >= g_no_string_end) BEGIN(INITIAL);
}

void chip_lex_fault(const char* msg) {
  EM_error2(0, "%s", msg);
  throw ChipLexFault();
}

// Each newline inside a token (a comment or a string) starts a line at its
// own position.
void count_newlines(const char* text, int len) {
  int start = EM_tokPos;
  for (int i = 0; i < len; i++) {
    if (text[i] == '\n') {
      EM_tokPos = start + i;
      EM_newline();
    }
  }
  EM_tokPos = start;
}

// The digits' value in base, wrapping around in 32 bits; suffix letters
// after the digits are ignored.
t_CPINT scan_int(const char* digits, int base) {
  t_CPUINT value = 0;
  for (const char* s = digits;; s++) {
    int d;
    if (*s >= '0' && *s <= '9') d = *s - '0';
    else if (*s >= 'a' && *s <= 'f') d = *s - 'a' + 10;
    else if (*s >= 'A' && *s <= 'F') d = *s - 'A' + 10;
    else break;
    if (d >= base) break;
    value = value * static_cast<t_CPUINT>(base) + static_cast<t_CPUINT>(d);
  }
  return static_cast<t_CPINT>(value);
}

t_CPFLOAT scan_float(const char* text, size_t len) {
  t_CPFLOAT value = 0;
  std::from_chars(text, text + len, value);
  return value;
}

// The text between the quotes, escapes kept; newlines inside count as lines.
c_str scan_string(const char* text, int len) {
  count_newlines(text, len);
  c_str copy = static_cast<c_str>(checked_malloc(static_cast<size_t>(len - 1)));
  std::memcpy(copy, text + 1, static_cast<size_t>(len - 2));
  copy[len - 2] = '\0';
  return copy;
}

}  // namespace

void chip_lex_begin(FILE* stream) {
  lex_failed = FALSE;
  char_pos = 1;
  EM_tokPos = 0;
  yyrestart(stream);
  BEGIN(INITIAL);
}

void chip_lex_end() { yylex_destroy(); }

t_CPBOOL chip_lex_failed() { return lex_failed; }

int yylex() {
  if (lex_failed) return 0;
  try {
    return chip_scan_token();
  } catch (const ChipLexFault&) {
    lex_failed = TRUE;
    return 0;
  }
}
