// chip_parse: the trees the grammar builds, its errors and their positions,
// the ways a source is given, and the ownership of the tree.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "absyn_print_support.h"
#include "chip/front/chip_absyn.h"
#include "chip/front/chip_parse.h"
#include "chip/util/chip_errmsg.h"

namespace {

// The printed tree of a source, or "error: " and the last error text.
std::string parse(const std::string& source) {
  if (!chip_parse("test.chip", nullptr, source.c_str())) {
    EXPECT_EQ(g_program, nullptr);
    return std::string("error: ") + g_lasterror;
  }
  std::string tree = print_program(g_program);
  delete_program(g_program);
  g_program = nullptr;
  return tree;
}

std::string temp_path(const std::string& name) { return ::testing::TempDir() + "/" + name; }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct TreeCase {
  const char* source;
  const char* tree;
};

// Leaves the error module without a current file, as it was found.
class ParserTest : public ::testing::Test {
 protected:
  void TearDown() override { reset_parse(); }
};

TEST_F(ParserTest, OperatorPrecedenceAndAssociativity) {
  const TreeCase cases[] = {
      {"1 + 2 * 3;", "(+ 1 (* 2 3));"},
      {"1 - 2 - 3;", "(- (- 1 2) 3);"},
      {"a => b => c;", "(=> (=> a b) c);"},
      {"x $ float $ int;", "($ ($ x float) int);"},
      {"- - x;", "(- (- x));"},
      {"a || b && c | d ^ e & f == g < h << i + j * k ~ l;",
       "(|| a (&& b (| c (^ d (& e (== f (< g (<< h (+ i (* j (~ k l)))))))))));"},
      {"a != b >= c <= d > e >> f - g / h % i;", "(!= a (> (<= (>= b c) d) (>> e (- f (% (/ g h) i)))));"},
      {"a ? b : c ? d : e;", "(? a b (? c d e));"},
      {"x <- y -> z;", "(-> (<- x y) z);"},
      {"a => b <- c;", "(=> a (<- b c));"},
      {"2::second => now;", "(=> (:: 2 second) now);"},
      {"++x--;", "(++ (post-- x));"},
      {"!a.b(1, 2)[3];", "(! ([] (call (. a b) 1 2) [3]));"},
      {"-x $ int;", "($ (- x) int);"},
      {"*p; ~q; +r;", "(* p); (~ q); (+ r);"},
      {"typeof x; same + 1;", "(typeof x); (+ same 1);"},
      {"a @=> b +=> c -=> d *=> e /=> f >>=> g <<=> h %=> i =< j !=> k =^ l &=> m |=> n ^=> o;",
       "(^=> (|=> (&=> (=^ (=< (=< (%=> (<<=> (>>=> (/=> (*=> (-=> (+=> (@=> a b) c) d) e) f) g) h) i) "
       "j) k) l) m) n) o);"},
      {"(1, 2); ();", "1, 2; ();"},
      {"f(); f(a, b);", "(call f); (call f a b);"},
      // a cast binds tighter than every binary operator, a unary operator
      // looser than a duration
      {"a * b $ int; a $ int * b;", "(* a ($ b int)); (* ($ a int) b);"},
      {"-a::b; a ~ b $ float;", "(- (:: a b)); (~ a ($ b float));"},
      {"a::b.c; x++::y::z;", "(:: a (. b c)); (:: (:: (post++ x) y) z);"},
      // a conditional sits between the binary and the arrow levels
      {"a ? b : c => d; x -> a ? b : c;", "(=> (? a b c) d); (-> x (? a b c));"},
      {"a == b ? c : d + e;", "(? (== a b) c (+ d e));"},
  };
  for (const TreeCase& c : cases) EXPECT_EQ(parse(c.source), c.tree) << c.source;
}

TEST_F(ParserTest, LiteralsDeclarationsAndArrays) {
  const TreeCase cases[] = {
      {"1.5 + .5 + 0x10 + 0c17;", "(+ (+ (+ 1.5 0.5) 16) 15);"},
      {"\"a\\tb\";", "\"a\\tb\";"},
      {"#(1, 2) + %(3, 4);", "(+ #(1 2) %(3 4));"},
      {"<<< a, \"s\" >>>;", "(<<< a, \"s\" >>>);"},
      {"int x[2][3];", "(decl int x[2][3]);"},
      {"int x[];", "(decl int x[]);"},
      {"int a, b[][];", "(decl int a b[][]);"},
      {"Foo @ f, g;", "(decl Foo@ f g);"},
      {"static <a.B> @ c;", "(decl static a.B@ c);"},
      {"sizeof x;", "(decl sizeof x);"},
      {"new Foo[2] @=> Foo f[];", "(@=> (new Foo[2]) (decl Foo f[]));"},
      {"new Foo;", "(new Foo);"},
      {"spork ~ go();", "(spork ~ (call go));"},
      {"spork ~ { 1; };", "(spork ~ {1;});"},
      {"[1, 2, 3] @=> int a[];", "(@=> [1, 2, 3] (decl int a[]));"},
      {"[[1, 2], [3]];", "[[1, 2], [3]];"},
      {"x[1][2];", "([] x [1][2]);"},
      {"[1, 2][3];", "[err 1];"},
      {"x[1, 2][3];", "([] x [err 1]);"},
  };
  for (const TreeCase& c : cases) EXPECT_EQ(parse(c.source), c.tree) << c.source;
}

TEST_F(ParserTest, Statements) {
  const TreeCase cases[] = {
      {"if (a) b; else c;", "(if a b; else c;)"},
      {"if (a) if (b) c; else d;", "(if a (if b c; else d;))"},
      {"while (x) { y; break; continue; }", "(while x {y; break; continue;})"},
      {"do x++; while (y);", "(do (post++ x); while y)"},
      {"do {} until (y);", "(do {} until y)"},
      {"until (a) ;", "(until a ;)"},
      {"for (0 => int i; i < 4; i++) {}", "(for (=> 0 (decl int i)); (< i 4); (post++ i) {})"},
      {"for (;;) ;", "(for ; ; _ ;)"},
      {"repeat (3) x;", "(repeat 3 x;)"},
      {"return; return 1 + 2;", "return; (return (+ 1 2))"},
      {"{} ;", "{} ;"},
  };
  for (const TreeCase& c : cases) EXPECT_EQ(parse(c.source), c.tree) << c.source;
}

TEST_F(ParserTest, FunctionAndClassDefinitions) {
  const TreeCase cases[] = {
      {"fun void f();", "(func fun instance void f () ;)"},
      {"fun static int[] g(int a[], float b) {}", "(func fun static int[] g (int a[], float b) {})"},
      {"function pure Foo @ h() { return null; }", "(func fun pure Foo@ h () {(return null)})"},
      {"public int p() {}", "(func public instance int p () {})"},
      {"protected void q(int x) ;", "(func protected instance void q (int x) ;)"},
      {"private <a.b>[][] r() {}", "(func private instance a.b[][] r () {})"},
      {"class A extends B implements C, D {}", "(class private A (extends B) (implements C D) {})"},
      {"class A implements C, D extends B {}", "(class private A (extends B) (implements C D) {})"},
      {"public class A extends P.Q { int x; fun void f() {} }",
       "(class public A (extends P.Q) {(decl int x); (func fun instance void f () {})})"},
      {"private class A implements I {}", "(class private A (implements I) {})"},
      {"class A, B {}", "(class private A,B {})"},
      {"interface I extends J, K {}", "(interface private I (implements J K) {})"},
      {"public interface I { fun void f(); }", "(interface public I {(func fun instance void f () ;)})"},
      {"class A { class B {} }", "(class private A {(class private B {})})"},
      {"1; fun void f() {} 2; 3; class C {}",
       "1;\n(func fun instance void f () {})\n2; 3;\n(class private C {})"},
  };
  for (const TreeCase& c : cases) EXPECT_EQ(parse(c.source), c.tree) << c.source;
}

TEST_F(ParserTest, SyntaxErrorsStopAtTheFirstWithItsPosition) {
  const TreeCase cases[] = {
      {"", "[test.chip]:line(1).char(1): syntax error"},
      {"// only a comment\n/* and this */", "[test.chip]:line(2).char(15): syntax error"},
      {"1 2 3 4;", "[test.chip]:line(1).char(3): syntax error"},
      {"1;\n  2 3;", "[test.chip]:line(2).char(5): syntax error"},
      {"1;\r\n2 3;", "[test.chip]:line(2).char(3): syntax error"},
      {"/* x\n y */ 1 2;", "[test.chip]:line(2).char(9): syntax error"},
      {"1 <-- c\r 2;", "[test.chip]:line(1).char(10): syntax error"},
      {"\"a\nb\" 1;", "[test.chip]:line(2).char(4): syntax error"},
      {"x = 1;", "[test.chip]:line(1).char(3): syntax error"},
      {"# 1;", "[test.chip]:line(1).char(1): syntax error"},
      {"1 +", "[test.chip]:line(1).char(4): syntax error"},
      {"a ? b;", "[test.chip]:line(1).char(6): syntax error"},
      {"x[1][];", "[test.chip]:line(1).char(6): syntax error"},
      {"class A extends B.C implements D.E {}", "[test.chip]:line(1).char(33): syntax error"},
      {"fun void f()", "[test.chip]:line(1).char(13): syntax error"},
      {"const int x;", "[test.chip]:line(1).char(1): syntax error"},
      // neither a cast nor a prefixed expression is the base of a duration,
      // and a duration's unit is no prefixed expression
      {"a $ int :: b;", "[test.chip]:line(1).char(9): syntax error"},
      {"new Foo :: x;", "[test.chip]:line(1).char(9): syntax error"},
      {"a :: -b;", "[test.chip]:line(1).char(6): syntax error"},
  };
  for (const TreeCase& c : cases) {
    EXPECT_EQ(parse(c.source), std::string("error: ") + c.tree) << c.source;
  }
}

TEST_F(ParserTest, IllegalCharactersAloneDoNotFailTheParse) {
  EXPECT_EQ(parse("1; `"), "1;");
  EXPECT_STREQ(g_lasterror, "[test.chip]:line(1).char(4): illegal token");
  EXPECT_TRUE(anyErrors);
}

TEST_F(ParserTest, NodesRecordTheirLines) {
  ASSERT_TRUE(chip_parse("lines.chip", nullptr, "1;\n\n2;\nfun void f()\n{\n}\n"));
  a_Program p = g_program;
  ASSERT_NE(p->next, nullptr);
  a_Stmt_List stmts = p->section->stmt_list;
  EXPECT_EQ(stmts->stmt->line_no, 1);
  EXPECT_EQ(stmts->next->stmt->line_no, 3);
  EXPECT_EQ(stmts->next->stmt->stmt_exp->line_no, 3);
  EXPECT_EQ(p->next->section->func_def->line_no, 6);
  delete_program(p);
  g_program = nullptr;
}

TEST_F(ParserTest, DeepNestingGrowsTheStacksUpToTheirLimit) {
  std::string deep = std::string(3000, '(') + "1" + std::string(3000, ')') + ";";
  EXPECT_EQ(parse(deep), "1;");

  std::string too_deep = std::string(10001, '(') + "1" + std::string(10001, ')') + ";";
  std::string result = parse(too_deep);
  EXPECT_EQ(result.substr(result.size() - std::strlen("memory exhausted")), "memory exhausted") << result;

  std::string many;
  for (int i = 0; i < 4000; i++) many += "x;\n";
  ASSERT_TRUE(chip_parse("many.chip", nullptr, many.c_str()));
  int count = 0;
  for (a_Stmt_List l = g_program->section->stmt_list; l; l = l->next) count++;
  EXPECT_EQ(count, 4000);
  delete_program(g_program);
  g_program = nullptr;
}

// The tree may nest CHIP_MAX_NESTING levels (a chain of n terms as a
// statement of its own reaches level n); one more is refused at its line.
TEST_F(ParserTest, NestingDeeperThanTheLimitIsRefused) {
  auto chain = [](int terms) {
    std::string s = "\n1";
    for (int i = 1; i < terms; i++) s += " + 1";
    return s + ";";
  };
  auto blocks = [](int depth) { return "\n" + std::string(depth, '{') + std::string(depth, '}'); };
  struct Case {
    std::string source;
    const char* error;  // null: parses
  } cases[] = {
      {chain(CHIP_MAX_NESTING), nullptr},
      {chain(CHIP_MAX_NESTING + 1), "[test.chip]:line(2): expression nested too deeply"},
      {"x;" + chain(100000), "[test.chip]:line(2): expression nested too deeply"},
      {blocks(CHIP_MAX_NESTING), nullptr},
      {blocks(CHIP_MAX_NESTING + 1), "[test.chip]:line(2): statement nested too deeply"},
      {"fun void f() {" + chain(CHIP_MAX_NESTING) + "}",
       "[test.chip]:line(2): expression nested too deeply"},
  };
  for (const Case& c : cases) {
    // (Not printed: the printer recurses far deeper per level than the
    // compiler's passes.)
    t_CPBOOL ok = chip_parse("test.chip", nullptr, c.source.c_str());
    if (c.error) {
      EXPECT_FALSE(ok) << c.source.substr(0, 40);
      EXPECT_STREQ(g_lasterror, c.error) << c.source.substr(0, 40);
    } else {
      EXPECT_TRUE(ok) << g_lasterror;
    }
    if (g_program) delete_program(g_program);
    g_program = nullptr;
  }
}

// Lists are read without growing the parser's stacks: only nesting is
// limited, never length.
TEST_F(ParserTest, ListsOfAnyLengthParseInOrder) {
  const int n = 30000;
  std::string statements, functions, members, names, elements, args, params;
  for (int i = 0; i < n; i++) {
    std::string k = std::to_string(i);
    statements += k + ";\n";
    functions += "fun void f" + k + "() {}\n";
    members += "int m" + k + ";\n";
    names += (i ? ", v" : "v") + k;
    elements += (i ? ", " : "") + k;
    args += (i ? ", " : "") + k;
    params += (i ? ", int p" : "int p") + k;
  }
  auto count_sections = [](a_Program p) {
    int count = 0;
    for (; p; p = p->next) count++;
    return count;
  };
  auto parsed = [](const std::string& source) {
    bool ok = chip_parse("long.chip", nullptr, source.c_str());
    EXPECT_TRUE(ok) << g_lasterror;
    return ok;
  };

  ASSERT_TRUE(parsed(statements));
  a_Stmt_List list = g_program->section->stmt_list;
  for (int i = 0; i < n; i++, list = list->next) {
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->stmt->stmt_exp->primary.num, i);
  }
  EXPECT_EQ(list, nullptr);
  delete_program(g_program);

  ASSERT_TRUE(parsed(functions));
  EXPECT_EQ(count_sections(g_program), n);
  EXPECT_STREQ(S_name(g_program->next->section->func_def->name), "f1");
  delete_program(g_program);

  ASSERT_TRUE(parsed("class C {\n" + members + "}"));
  int count = 0;
  for (a_Stmt_List l = g_program->section->class_def->body->section->stmt_list; l; l = l->next) {
    count++;
  }
  EXPECT_EQ(count, n);
  delete_program(g_program);

  for (const std::string& source : {"int " + names + ";", "[" + elements + "];", "f(" + args + ");",
                                    "fun void g(" + params + ") {}"}) {
    ASSERT_TRUE(parsed(source)) << source.substr(0, 20);
    delete_program(g_program);
  }
  g_program = nullptr;
}

TEST_F(ParserTest, TheTreeOwnsEverythingItsParseAllocated) {
  size_t process_blocks = pool_block_count(nullptr);
  ASSERT_TRUE(chip_parse("own.chip", nullptr, "\"text\" => string s; fun void f(int a) { a++; }"));
  ASSERT_NE(g_program->pool, nullptr);
  EXPECT_GT(pool_block_count(g_program->pool), 10u);
  EXPECT_EQ(pool_block_count(nullptr), process_blocks);
  delete_program(g_program);
  g_program = nullptr;

  // a failed parse frees its partial tree itself
  EXPECT_FALSE(chip_parse("own.chip", nullptr, "int x; fun void f(int a) { a++; "));
  EXPECT_EQ(g_program, nullptr);
  EXPECT_EQ(pool_block_count(nullptr), process_blocks);
}

TEST_F(ParserTest, EachParseStartsAtLineOneCharacterOne) {
  EXPECT_EQ(parse("1;\n\n1 2 3 4 5 6 7 8 9;"), "error: [test.chip]:line(3).char(3): syntax error");
  EXPECT_EQ(parse("x y z;"), "error: [test.chip]:line(1).char(5): syntax error");
}

TEST_F(ParserTest, FileIsOpenedWithChipAppendedWhenNeeded) {
  std::string base = temp_path("parser_bad");
  write_file(base + ".chip", "1 2;");
  EXPECT_FALSE(chip_parse(base.c_str(), nullptr, nullptr));
  EXPECT_STREQ(g_lasterror, "[parser_bad.chip]:line(1).char(3): syntax error");
  EXPECT_EQ(std::string(g_filename), base + ".chip");

  std::string good = temp_path("parser_good.chip");
  write_file(good, "fun void f() {}\n");
  ASSERT_TRUE(chip_parse(good.c_str(), nullptr, nullptr));
  EXPECT_EQ(print_program(g_program), "(func fun instance void f () {})");
  delete_program(g_program);
  g_program = nullptr;

  std::string missing = temp_path("parser_missing");
  EXPECT_FALSE(chip_parse(missing.c_str(), nullptr, nullptr));
  EXPECT_STREQ(g_lasterror, "[parser_missing]: no such file or directory");
  EXPECT_EQ(std::string(g_filename), missing);  // the name is given back
  std::remove((base + ".chip").c_str());
  std::remove(good.c_str());
}

TEST_F(ParserTest, OpenCatChip) {
  std::string base = temp_path("opencat");
  write_file(base + ".chip", "1;");
  write_file(base + ".chip.x", "1;");
  struct Case {
    std::string path;
    size_t capacity;
    bool opens;
    std::string after;
  } cases[] = {
      {base, CHIP_FILENAME_MAX, true, base + ".chip"},
      {base + ".chip", CHIP_FILENAME_MAX, true, base + ".chip"},
      {base + ".chip.x", CHIP_FILENAME_MAX, true, base + ".chip.x"},
      {base + ".chip.y", CHIP_FILENAME_MAX, false, base + ".chip.y"},
      {base + ".CHIP.y", CHIP_FILENAME_MAX, false, base + ".CHIP.y"},
      {base, base.size() + 5, false, base},  // no room for ".chip" and the terminator
      {base, base.size() + 6, true, base + ".chip"},
  };
  for (const Case& c : cases) {
    char buffer[CHIP_FILENAME_MAX];
    std::snprintf(buffer, sizeof(buffer), "%s", c.path.c_str());
    FILE* f = open_cat_chip(buffer, c.capacity);
    EXPECT_EQ(f != nullptr, c.opens) << c.path;
    EXPECT_EQ(std::string(buffer), c.after) << c.path;
    if (f) std::fclose(f);
  }
  std::remove((base + ".chip").c_str());
  std::remove((base + ".chip.x").c_str());
}

TEST_F(ParserTest, OverlongNamesAreCutForMessagesAndNeverOpened) {
  // cut to 1023 characters, the last component keeps 16 of its letters
  std::string name = std::string(1000, 'd') + "/short/" + std::string(2000, 'e');
  EXPECT_TRUE(chip_parse(name.c_str(), nullptr, "1;"));
  EXPECT_EQ(std::string(g_filename), name.substr(0, CHIP_FILENAME_MAX - 1));
  delete_program(g_program);
  g_program = nullptr;

  EXPECT_FALSE(chip_parse(name.c_str(), nullptr, nullptr));
  EXPECT_EQ(g_program, nullptr);
  EXPECT_EQ(std::string(g_lasterror), "[" + std::string(16, 'e') + "]: no such file or directory");
}

TEST_F(ParserTest, AnOpenStreamIsRewoundAndLeftOpen) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("x => y;", f);  // the position is now at the end
  ASSERT_TRUE(chip_parse("stream.chip", f, nullptr));
  EXPECT_EQ(print_program(g_program), "(=> x y);");
  delete_program(g_program);
  g_program = nullptr;
  EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);  // still ours
  EXPECT_EQ(std::fgetc(f), 'x');
  std::fclose(f);
}

TEST_F(ParserTest, StreamAndCodeTogetherAreRefused) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("1;", f);
  EXPECT_FALSE(chip_parse("both.chip", f, "2;"));
  EXPECT_EQ(g_program, nullptr);
  std::fclose(f);
}

TEST_F(ParserTest, AScannerFaultEndsTheParse) {
  std::string path = temp_path("parser_write_only.chip");
  FILE* f = std::fopen(path.c_str(), "w");  // reading it fails
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(chip_parse("w.chip", f, nullptr));
  EXPECT_STREQ(g_lasterror, "[w.chip]: input in flex scanner failed");
  EXPECT_EQ(g_program, nullptr);
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(parse("after => fault;"), "(=> after fault);");  // the scanner recovers
}

TEST_F(ParserTest, ResetParseForgetsTheFile) {
  EXPECT_EQ(parse("1 1;"), "error: [test.chip]:line(1).char(3): syntax error");
  reset_parse();
  EM_error2(0, "later");
  EXPECT_STREQ(g_lasterror, "[chip]: later");
}

}  // namespace
