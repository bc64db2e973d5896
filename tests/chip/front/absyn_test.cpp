// Syntax-tree constructors, operators, symbols and the allocation pools.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "absyn_print_support.h"
#include "chip/front/chip_absyn.h"
#include "chip/front/chip_symbol.h"
#include "support/leak_check.h"

namespace {

// Each test builds its nodes in a pool of its own and frees it at the end.
class AbsynTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = set_current_pool(pool_ = new_pool()); }
  void TearDown() override {
    set_current_pool(previous_);
    delete_pool(pool_);
  }
  a_Pool pool_ = nullptr;
  a_Pool previous_ = nullptr;
};

TEST(SymbolTest, EqualTextsGiveOneSymbol) {
  std::string text = "osc";
  S_Symbol a = insert_symbol(text.c_str());
  text[0] = 'x';  // the symbol keeps its own copy
  S_Symbol b = insert_symbol("osc");
  EXPECT_EQ(a, b);
  EXPECT_STREQ(S_name(a), "osc");
  EXPECT_NE(insert_symbol("osc2"), a);
  EXPECT_EQ(insert_symbol(""), insert_symbol(""));
  EXPECT_STREQ(S_name(insert_symbol("")), "");
}

TEST(SymbolTest, BucketHashTakesCharactersAsSigned) {
  struct Case {
    const char* text;
    t_CPUINT bucket;
  } cases[] = {
      {"", 0},
      {"a", 97},
      {"ab", 24542},          // (97 * 65599 + 98) mod 65347
      {"Fluvane", 18149},
      {"\xff", 35720},        // -1 wraps to 0xFFFFFFFF, not 255
  };
  for (const Case& c : cases) EXPECT_EQ(S_bucket(c.text), c.bucket) << c.text;
}

TEST(SymbolTest, TextsSharingABucketStayDistinct) {
  // Look for a second text in the same bucket as the first.
  std::string first = "k0";
  std::string second;
  t_CPUINT target = S_bucket(first.c_str());
  for (int i = 1; i < 2000000 && second.empty(); i++) {
    std::string candidate = "k" + std::to_string(i);
    if (S_bucket(candidate.c_str()) == target) second = candidate;
  }
  ASSERT_FALSE(second.empty());
  S_Symbol a = insert_symbol(first.c_str());
  S_Symbol b = insert_symbol(second.c_str());
  EXPECT_NE(a, b);
  EXPECT_EQ(insert_symbol(first.c_str()), a);
  EXPECT_EQ(insert_symbol(second.c_str()), b);
  EXPECT_EQ(S_name(b), second);
}

TEST(OperatorTest, SpellingsFollowTheIds) {
  const char* expected[] = {
      "+",   "-",   "*",   "/",    "==",  "!=",  "<",    "<=",      ">",      ">=",
      "&&",  "||",  "|",   "&",    "<<",  ">>",  "%",    "^",       "=>",     "+=>",
      "-=>", "*=>", "/=>", "&=>",  "|=>", "^=>", ">>=>", "<<=>",    "%=>",    "->",
      "++",  "--",  "~",   "!",    "@=>", "=<",  "=^",   "spork ~", "typeof", "sizeof",
      "new"};
  for (int op = 0; op <= ae_op_new; op++) EXPECT_STREQ(op2str(op), expected[op]) << op;
  EXPECT_EQ(ae_op_count, 43);
  for (int op : {int(ae_op_arrow_left), int(ae_op_arrow_right), 43, 100, -1}) {
    EXPECT_STREQ(op2str(op), "[non-existent operator]") << op;
  }
}

TEST_F(AbsynTest, CheckedMallocIsZeroFilledAndZeroSizeIsNull) {
  EXPECT_EQ(checked_malloc(0), nullptr);
  unsigned char* p = static_cast<unsigned char*>(checked_malloc(64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; i++) ASSERT_EQ(p[i], 0) << i;
  double* d = static_cast<double*>(checked_malloc(sizeof(double)));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(d) % alignof(std::max_align_t), 0u);
}

TEST(AbsynDeathTest, OutOfMemoryEndsTheProcess) {
  EXPECT_EXIT(
      {
        skip_leak_check_at_exit();
        checked_malloc(SIZE_MAX);
      },
      ::testing::ExitedWithCode(1), "out of memory!");
}

TEST(AbsynDeathTest, SecondArrayPartOnATypeIsFatal) {
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  a_Type_Decl t = new_type_decl(new_id_list("int", 1), 0, 1);
  add_type_decl_array(t, new_array_sub(nullptr, 1), 1);
  EXPECT_DEATH(add_type_decl_array(t, new_array_sub(nullptr, 1), 1), "a->array == NULL");
  set_current_pool(previous);
  delete_pool(pool);
}

TEST(PoolTest, BlocksBelongToTheCurrentPool) {
  a_Pool a = new_pool();
  a_Pool b = new_pool();
  size_t process_blocks = pool_block_count(nullptr);

  a_Pool before = set_current_pool(a);
  checked_malloc(8);
  c_str text = checked_strdup("sine");
  EXPECT_EQ(set_current_pool(b), a);
  void* in_b = checked_malloc(16);
  set_current_pool(before);

  EXPECT_STREQ(text, "sine");
  EXPECT_EQ(pool_block_count(a), 2u);
  EXPECT_EQ(pool_block_count(b), 1u);
  EXPECT_EQ(pool_block_count(nullptr), process_blocks);

  checked_free(text);  // single blocks go back to their own pool
  checked_free(in_b);
  checked_free(nullptr);
  EXPECT_EQ(pool_block_count(a), 1u);
  EXPECT_EQ(pool_block_count(b), 0u);
  delete_pool(a);
  delete_pool(b);
}

// Blocks of every size, small ones filling several chunks and one larger
// than any chunk, come zero-filled, aligned and apart from each other; the
// pool counts them until they are given back.
TEST(PoolTest, BlocksOfAnySizeAreZeroedAlignedAndApart) {
  a_Pool pool = new_pool();
  a_Pool before = set_current_pool(pool);
  struct Block {
    unsigned char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  for (size_t i = 0; i < 3000; i++) {
    size_t size = i == 1500 ? 200000 : 1 + i % 97;
    auto* p = static_cast<unsigned char*>(checked_malloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << i;
    for (size_t k = 0; k < size; k++) ASSERT_EQ(p[k], 0) << i << " " << k;
    std::memset(p, static_cast<int>(i & 0xff), size);
    blocks.push_back({p, size});
  }
  set_current_pool(before);
  for (size_t i = 0; i < blocks.size(); i++) {  // no block overwrote another
    for (size_t k = 0; k < blocks[i].size; k++) ASSERT_EQ(blocks[i].p[k], i & 0xff) << i;
  }
  EXPECT_EQ(pool_block_count(pool), 3000u);
  checked_free(blocks[1500].p);
  checked_free(blocks[0].p);
  EXPECT_EQ(pool_block_count(pool), 2998u);
  delete_pool(pool);
}

TEST(PoolTest, DeletingTheCurrentPoolFallsBackToTheProcessPool) {
  a_Pool a = new_pool();
  a_Pool before = set_current_pool(a);
  delete_pool(a);
  size_t process_blocks = pool_block_count(nullptr);
  void* p = checked_malloc(4);  // must not land in the freed pool
  EXPECT_EQ(pool_block_count(nullptr), process_blocks + 1);
  checked_free(p);
  set_current_pool(before);
}

TEST_F(AbsynTest, ConstructorsSetKindMetaLineAndSelf) {
  a_Exp x = new_exp_from_id("x", 3);
  a_Exp one = new_exp_from_int(1, 4);
  EXPECT_EQ(x->s_type, ae_exp_primary);
  EXPECT_EQ(x->primary.s_type, ae_primary_var);
  EXPECT_EQ(x->primary.var, insert_symbol("x"));
  EXPECT_EQ(x->primary.self, x);
  EXPECT_EQ(x->line_no, 3);
  EXPECT_EQ(x->primary.line_no, 3);

  struct Case {
    const char* name;
    a_Exp exp;
    int s_type;
    int meta;
  } cases[] = {
      {"binary", new_exp_from_binary(x, ae_op_plus, one, 5), ae_exp_binary, ae_meta_value},
      {"unary of variable", new_exp_from_unary(ae_op_minus, x, 5), ae_exp_unary, ae_meta_var},
      {"unary of value", new_exp_from_unary(ae_op_minus, one, 5), ae_exp_unary, ae_meta_value},
      {"postfix", new_exp_from_postfix(one, ae_op_plusplus, 5), ae_exp_postfix, ae_meta_var},
      {"cast", new_exp_from_cast(new_type_decl(new_id_list("float", 5), 0, 5), x, 5), ae_exp_cast,
       ae_meta_value},
      {"array index", new_exp_from_array(x, new_array_sub(one, 5), 5), ae_exp_array, ae_meta_var},
      {"member", new_exp_from_member_dot(x, "freq", 5), ae_exp_dot_member, ae_meta_var},
      {"call", new_exp_from_func_call(x, nullptr, 5), ae_exp_func_call, ae_meta_value},
      {"dur", new_exp_from_dur(one, x, 5), ae_exp_dur, ae_meta_value},
      {"decl", new_exp_decl(nullptr, new_var_decl_list(new_var_decl("v", nullptr, 5), 5), 0, 5),
       ae_exp_decl, ae_meta_var},
      {"if: both variables", new_exp_from_if(one, x, new_exp_from_id("y", 5), 5), ae_exp_if, ae_meta_var},
      {"if: variable and value", new_exp_from_if(one, x, one, 5), ae_exp_if, ae_meta_value},
      {"if: value and variable", new_exp_from_if(one, one, x, 5), ae_exp_if, ae_meta_value},
      {"string", new_exp_from_str(checked_strdup("a\\n"), 5), ae_exp_primary, ae_meta_value},
      {"nil", new_exp_from_nil(5), ae_exp_primary, ae_meta_value},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.exp->s_type, c.s_type);
    EXPECT_EQ(c.exp->meta_kind, c.meta);
    EXPECT_EQ(c.exp->line_no, 5);
    EXPECT_EQ(c.exp->next, nullptr);
    EXPECT_EQ(c.exp->type, nullptr);
  }
  EXPECT_EQ(cases[0].exp->binary.self, cases[0].exp);
  EXPECT_EQ(cases[0].exp->binary.line_no, 5);
  EXPECT_EQ(cases[6].exp->dot_member.member_name, insert_symbol("freq"));
  EXPECT_STREQ(cases[13].exp->primary.str, "a\\n");
}

TEST_F(AbsynTest, StatementsPointBackToThemselves) {
  a_Exp c = new_exp_from_id("c", 1);
  a_Stmt body = new_stmt_from_code(nullptr, 2);
  a_Stmt stmts[] = {
      new_stmt_from_while(c, body, 7),  new_stmt_from_do_while(c, body, 7),
      new_stmt_from_until(c, body, 7),  new_stmt_from_do_until(c, body, 7),
      new_stmt_from_for(nullptr, nullptr, nullptr, body, 7),
      new_stmt_from_loop(c, body, 7),   new_stmt_from_if(c, body, nullptr, 7),
      new_stmt_from_break(7),           new_stmt_from_continue(7),
      new_stmt_from_return(nullptr, 7),
  };
  EXPECT_EQ(stmts[0]->stmt_while.self, stmts[0]);
  EXPECT_EQ(stmts[0]->stmt_while.is_do, 0);
  EXPECT_EQ(stmts[1]->stmt_while.is_do, 1);
  EXPECT_EQ(stmts[2]->stmt_until.is_do, 0);
  EXPECT_EQ(stmts[3]->stmt_until.is_do, 1);
  EXPECT_EQ(stmts[4]->stmt_for.self, stmts[4]);
  EXPECT_EQ(stmts[5]->stmt_loop.self, stmts[5]);
  EXPECT_EQ(stmts[6]->stmt_if.self, stmts[6]);
  EXPECT_EQ(stmts[7]->stmt_break.self, stmts[7]);
  EXPECT_EQ(stmts[8]->stmt_continue.self, stmts[8]);
  EXPECT_EQ(stmts[9]->stmt_return.self, stmts[9]);
  EXPECT_EQ(body->stmt_code.self, body);
  for (a_Stmt s : stmts) EXPECT_EQ(s->line_no, 7);
  EXPECT_EQ(stmts[9]->stmt_return.line_no, 7);
}

TEST_F(AbsynTest, ComplexAndPolarTakeTheFirstTwoOfAList) {
  a_Exp re = new_exp_from_int(1, 1);
  prepend_expression(re, new_exp_from_int(2, 1), 1);
  a_Exp c = new_exp_from_complex(new_complex(re, 1), 1);
  EXPECT_EQ(c->primary.s_type, ae_primary_complex);
  EXPECT_EQ(c->primary.complex->re, re);
  EXPECT_EQ(c->primary.complex->im, re->next);
  EXPECT_EQ(c->primary.complex->self, c);

  a_Polar empty = new_polar(nullptr, 1);
  EXPECT_EQ(empty->mod, nullptr);
  EXPECT_EQ(empty->phase, nullptr);
  a_Exp p = new_exp_from_polar(empty, 1);
  EXPECT_EQ(p->primary.s_type, ae_primary_polar);
  EXPECT_EQ(empty->self, p);
}

// The bracket pairs of x[..][..]: built last pair first, each earlier pair
// prepended.
TEST_F(AbsynTest, PrependArraySubKeepsSourceOrderAndFlagsMixes) {
  auto one = [] { return new_exp_from_int(1, 9); };
  auto list = [] { return prepend_expression(new_exp_from_int(1, 9), new_exp_from_int(2, 9), 9); };
  struct Case {
    const char* name;
    a_Array_Sub last;
    a_Exp front;
    int depth;
    int err_num;
    int err_pos;
    size_t freed;  // expression nodes given back
    const char* printed;
  } cases[] = {
      {"filled before filled", new_array_sub(new_exp_from_int(2, 1), 1), one(), 2, 0, 0, 0, "[1][2]"},
      {"empty before empty", new_array_sub(nullptr, 1), nullptr, 2, 0, 0, 0, "[][]"},
      {"list before filled", new_array_sub(new_exp_from_int(2, 1), 1), list(), 1, 1, 9, 2, "[err 1]"},
      {"empty before filled", new_array_sub(new_exp_from_int(2, 1), 1), nullptr, 1, 2, 12, 0, "[err 2]"},
      {"filled before empty", new_array_sub(nullptr, 1), one(), 1, 2, 12, 1, "[err 2]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t blocks = pool_block_count(pool_);
    a_Array_Sub a = prepend_array_sub(c.last, c.front, 12);
    EXPECT_EQ(a, c.last);
    EXPECT_EQ(a->depth, c.depth);
    EXPECT_EQ(a->err_num, c.err_num);
    EXPECT_EQ(a->err_pos, c.err_pos);
    EXPECT_EQ(pool_block_count(pool_), blocks - c.freed);
    std::string dims = print_exp(new_exp_from_array(new_exp_from_id("x", 1), a, 1));
    EXPECT_EQ(dims, std::string("([] x ") + c.printed + ")");
  }
}

TEST_F(AbsynTest, PrependArraySubAfterAnErrorOnlyFreesTheNewPair) {
  a_Exp list = prepend_expression(new_exp_from_int(1, 3), new_exp_from_int(2, 3), 3);
  a_Array_Sub a = prepend_array_sub(new_array_sub(new_exp_from_int(3, 4), 4), list, 5);
  ASSERT_EQ(a->err_num, 1);
  EXPECT_EQ(a->err_pos, 3);
  size_t blocks = pool_block_count(pool_);
  prepend_array_sub(a, new_exp_from_int(0, 6), 6);
  EXPECT_EQ(pool_block_count(pool_), blocks);  // allocated then freed
  EXPECT_EQ(a->err_num, 1);
  EXPECT_EQ(a->err_pos, 3);
  EXPECT_EQ(a->depth, 1);
}

TEST_F(AbsynTest, CleanExpFreesTheWholeChainOnly) {
  a_Exp inner = new_exp_from_id("kept", 1);
  a_Exp chain = prepend_expression(new_exp_from_unary(ae_op_minus, inner, 1),
                                   prepend_expression(new_exp_from_int(2, 1), new_exp_from_int(3, 1), 1), 1);
  size_t blocks = pool_block_count(pool_);
  clean_exp(chain);
  EXPECT_EQ(pool_block_count(pool_), blocks - 3);
  EXPECT_EQ(inner->primary.var, insert_symbol("kept"));  // still valid
  clean_exp(nullptr);
}

TEST_F(AbsynTest, IdListsAndTheirDeletion) {
  a_Id_List l = prepend_id_list("P", new_id_list("Q", 2), 2);
  EXPECT_EQ(print_id_list(l, "."), "P.Q");
  EXPECT_EQ(l->id, insert_symbol("P"));
  size_t blocks = pool_block_count(pool_);
  delete_id_list(l);
  EXPECT_EQ(pool_block_count(pool_), blocks - 2);
  EXPECT_EQ(insert_symbol("Q")->name, S_name(insert_symbol("Q")));
}

TEST_F(AbsynTest, DefinitionsCarryTheirParts) {
  a_Type_Decl ret = add_type_decl_array(new_type_decl(new_id_list("int", 1), 0, 1), new_array_sub(nullptr, 1), 1);
  a_Arg_List args = new_arg_list(new_type_decl(new_id_list("float", 1), 1, 1), new_var_decl("b", nullptr, 1), 1);
  a_Func_Def f = new_func_def(ae_key_func, ae_key_static, ret, "g", args, nullptr, 4);
  EXPECT_EQ(f->name, insert_symbol("g"));
  EXPECT_EQ(f->line_no, 4);
  EXPECT_EQ(print_section(new_section_func_def(f, 4)), "(func fun static int[] g (float@ b) ;)");

  a_Class_Def c = new_iface_def(ae_key_public, new_id_list("I", 1),
                                new_class_ext(nullptr, new_id_list("J", 1), 1), nullptr, 1);
  EXPECT_EQ(c->iface, 1);
  EXPECT_EQ(new_class_def(ae_key_private, new_id_list("C", 1), nullptr, nullptr, 1)->iface, 0);
  EXPECT_EQ(print_section(new_section_class_def(c, 1)), "(interface public I (implements J) {})");
}

TEST_F(AbsynTest, ProgramWithoutItsOwnPoolIsLeftAlone) {
  a_Program p = new_program(new_section_stmt(new_stmt_list(new_stmt_from_break(1), 1), 1), 1);
  size_t blocks = pool_block_count(pool_);
  delete_program(p);  // built by hand: belongs to the test's pool
  delete_program(nullptr);
  EXPECT_EQ(pool_block_count(pool_), blocks);
  EXPECT_EQ(print_program(p), "break;");
}

}  // namespace
