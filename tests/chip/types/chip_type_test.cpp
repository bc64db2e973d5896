#include "chip/types/chip_type.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "chip/front/chip_parse.h"
#include "chip/util/chip_errmsg.h"
#include "log_capture.h"
#include "type_check_support.h"

namespace {

// A fresh environment per test; errors print as "[test.chip]:line(N): ...".
class TypeEnvTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    EM_reset("test.chip", nullptr);
  }
  void TearDown() override {
    for (a_Id_List list : lists) delete_id_list(list);
    if (tree) delete_program(tree);
    TypeCheckTest::TearDown();
  }
  // A dotted path owned by the fixture.
  a_Id_List path(const std::string& text) {
    unsigned long depth = 0;
    a_Id_List list = str2list(text, depth);
    lists.push_back(list);
    return list;
  }
  // Parses a source; the tree is freed after the test.
  a_Program parse(const std::string& source) {
    EXPECT_TRUE(chip_parse("test.chip", nullptr, source.c_str())) << source;
    tree = g_program;
    return tree;
  }
  std::vector<a_Id_List> lists;
  a_Program tree = nullptr;
};

Chip_Type* user_class(Chip_Context& context, const std::string& name, Chip_Namespace* owner) {
  Chip_Type* t = context.new_Chip_Type();
  t->id = te_user;
  t->name = name;
  t->owner = owner;
  t->parent = &t_object;
  t->size = CHIP_WORD_SIZE;
  return t;
}

// ---------------------------------------------------------------------------
// Type relations

TEST(TypeRelationTest, UserClassesAreEqualByNameAndOwningNamespace) {
  Chip_Context context;
  Chip_Namespace* here = context.new_Chip_Namespace();
  Chip_Namespace* there = context.new_Chip_Namespace();
  Chip_Type* foo = user_class(context, "Foo", here);
  Chip_Type* same = user_class(context, "Foo", here);
  Chip_Type* elsewhere = user_class(context, "Foo", there);
  Chip_Type* bar = user_class(context, "Bar", here);
  EXPECT_TRUE(equals(foo, same));
  EXPECT_FALSE(equals(foo, elsewhere));
  EXPECT_FALSE(equals(foo, bar));
  EXPECT_TRUE(*foo != *bar);
  // Built-ins of one id are equal whatever their names.
  Chip_Type renamed(te_int, "other", nullptr, CHIP_WORD_SIZE);
  EXPECT_TRUE(equals(&renamed, &t_int));
}

TEST(TypeRelationTest, IsaFollowsAncestorsAndNullConvertsToObjects) {
  Chip_Context context;
  Chip_Type* foo = user_class(context, "Foo", context.nspc);
  struct Case {
    Chip_Type* lhs;
    Chip_Type* rhs;
    t_CPBOOL expected;
  };
  const Case cases[] = {
      {&t_null, &t_string, TRUE},  {&t_null, &t_null, TRUE},     {&t_null, &t_int, FALSE},
      {&t_null, foo, TRUE},        {&t_fileio, &t_object, TRUE}, {&t_fileio, &t_io, TRUE},
      {&t_uana, &t_ugen, TRUE},    {&t_ugen, &t_uana, FALSE},    {&t_object, &t_fileio, FALSE},
      {foo, &t_object, TRUE},      {&t_int, &t_float, FALSE},    {&t_string, &t_object, TRUE},
      {&t_object, &t_null, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lhs->name + " isa " + c.rhs->name);
    EXPECT_EQ(isa(c.lhs, c.rhs), c.expected);
  }
  EXPECT_TRUE(isfunc(&t_function));
  EXPECT_FALSE(isfunc(&t_object));
}

TEST_F(TypeEnvTest, ArrayTypesCompareByDepthAndElement) {
  Chip_Type* ints = new_array_type(env, &t_array, 1, &t_int, env->global());
  Chip_Type* ints_again = new_array_type(env, &t_array, 1, &t_int, env->global());
  Chip_Type* ints2 = new_array_type(env, &t_array, 2, &t_int, env->global());
  Chip_Type* floats = new_array_type(env, &t_array, 1, &t_float, env->global());
  EXPECT_TRUE(equals(ints, ints_again));
  EXPECT_FALSE(equals(ints, ints2));
  EXPECT_FALSE(equals(ints, floats));
  EXPECT_TRUE(isa(&t_null, ints2));
  EXPECT_TRUE(isa(ints, &t_object));
  EXPECT_EQ(ints2->display_name(), "int[][]");
  EXPECT_EQ(ints2->name, "int");
  EXPECT_EQ(ints2->size, t_array.size);
  EXPECT_EQ(ints2->info, t_array.info);
  EXPECT_EQ(ints2->id, te_array);
  // Made by the current context.
  EXPECT_EQ(ints->registry, &env->context->new_types);
}

TEST_F(TypeEnvTest, PrimitiveTypesAreTheNumbersNotArraysNullOrVoid) {
  Chip_Type* floats = new_array_type(env, &t_array, 1, &t_float, env->global());
  struct Case {
    Chip_Type* type;
    t_CPBOOL prim;
  };
  const Case cases[] = {
      {&t_int, TRUE},   {&t_float, TRUE},   {&t_dur, TRUE},     {&t_time, TRUE},
      {&t_polar, TRUE}, {&t_complex, TRUE}, {floats, FALSE},    {&t_null, FALSE},
      {&t_void, FALSE}, {&t_string, FALSE}, {&t_object, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type->display_name());
    EXPECT_EQ(type_engine_check_primitive(c.type), c.prim);
    EXPECT_EQ(isprim(c.type), c.prim);
    EXPECT_EQ(isobj(c.type), !c.prim);
  }
}

TEST(TypeRelationTest, BuiltInSizesUseEightByteWords) {
  EXPECT_EQ(t_void.size, 0u);
  EXPECT_EQ(t_int.size, 8u);
  EXPECT_EQ(t_float.size, 8u);
  EXPECT_EQ(t_dur.size, 8u);
  EXPECT_EQ(t_complex.size, 16u);
  EXPECT_EQ(t_polar.size, 16u);
  EXPECT_EQ(t_null.size, 8u);
  EXPECT_EQ(t_string.size, 8u);
  EXPECT_EQ(t_fileio.parent, &t_io);
  EXPECT_EQ(t_uana.parent, &t_ugen);
}

TEST(TypeRecordTest, FreshRecordsHaveTheirDefaults) {
  Chip_Context context;
  Chip_Func* f = context.new_Chip_Func();
  EXPECT_EQ(f->vt_index, ULONG_MAX);
  EXPECT_EQ(f->next, nullptr);
  Chip_Value* v = context.new_Chip_Value(&t_int, "x");
  EXPECT_TRUE(v->is_decl_checked);
  EXPECT_FALSE(v->is_const);
  EXPECT_EQ(v->overload_count, 0u);
  Chip_Type* t = context.new_Chip_Type();
  EXPECT_EQ(t->id, te_null);
  EXPECT_TRUE(t->is_complete);
  EXPECT_EQ(context.new_types.size(), 1u);
  EXPECT_EQ(context.new_values.size(), 1u);
  EXPECT_EQ(context.new_funcs.size(), 1u);
  EXPECT_EQ(context.new_nspc.size(), 1u);  // the file's own namespace
}

// ---------------------------------------------------------------------------
// Scopes

TEST(ScopeTest, OutermostNamesWaitInTheCommitMap) {
  Chip_Context context;
  Chip_Value* a = context.new_Chip_Value(&t_int, "a");
  Chip_Value* b = context.new_Chip_Value(&t_int, "b");
  S_Symbol sa = insert_symbol("a");
  S_Symbol sb = insert_symbol("b");
  Chip_Scope<Chip_Value*> scope;
  scope.push();
  scope.add(sa, a);
  EXPECT_EQ(a->m_ref_count, 1u);
  EXPECT_EQ(scope.lookup(sa, 0), a);  // only level: the commit map too
  scope.push();
  scope.add("b", b);
  EXPECT_EQ(scope.lookup(sa, 0), nullptr);
  EXPECT_EQ(scope.lookup(sa, 1), a);
  EXPECT_EQ(scope.lookup(sa, -1), a);
  EXPECT_EQ(scope.lookup(sb, 0), b);
  EXPECT_EQ(scope.lookup(sb, -1), nullptr);
  scope.pop();
  EXPECT_EQ(scope.lookup(sb, 1), nullptr);

  scope.rollback();
  EXPECT_EQ(scope.lookup(sa, 1), nullptr);

  scope.add(sa, a);
  scope.commit();
  EXPECT_TRUE(scope.pending().empty());
  scope.rollback();
  EXPECT_EQ(scope.lookup(sa, -1), a);
  EXPECT_EQ(scope.lookup(sa, 0), a);
}

TEST(ScopeTest, PoppingTheLastLevelIsAnEngineFault) {
  Chip_Scope<Chip_Type*> scope;
  scope.push();
  scope.pop();
  EXPECT_DEATH(scope.pop(), "scope.size\\(\\) != 0");
  EXPECT_DEATH(scope.lookup("x", 1), "scope.size\\(\\) != 0");
}

TEST(ScopeTest, NamespaceLookupsClimbThroughParents) {
  Chip_Context context;
  Chip_Namespace* outer = context.new_Chip_Namespace();
  Chip_Namespace* inner = context.new_Chip_Namespace();
  inner->parent = outer;
  Chip_Value* v = context.new_Chip_Value(&t_int, "v");
  outer->value.add("v", v);
  outer->commit();
  EXPECT_EQ(inner->lookup_value("v", 1), v);
  EXPECT_EQ(inner->lookup_value("v", 0), nullptr);
  EXPECT_EQ(inner->lookup_value("v", -1), nullptr);
  EXPECT_EQ(outer->lookup_type("v", 1), nullptr);
}

// ---------------------------------------------------------------------------
// Environment start-up

TEST_F(TypeEnvTest, InitDefinesTheGlobalValues) {
  struct Case {
    const char* key;
    const char* name;
    Chip_Type* type;
    double value;  // NAN: not checked
    t_CPBOOL is_const;
  };
  const double sr = TEST_SRATE;
  const Case cases[] = {
      {"samp", "samp", &t_dur, 1.0, TRUE},
      {"ms", "ms", &t_dur, sr / 1000.0, TRUE},
      {"second", "second", &t_dur, sr, TRUE},
      {"minute", "minute", &t_dur, sr * 60, TRUE},
      {"week", "week", &t_dur, sr * 60 * 60 * 24 * 7, TRUE},
      {"pi", "pi", &t_float, 3.141592653589793, TRUE},
      {"maybe", "maybe", &t_int, 0.5, FALSE},
      {"t_zero", "time_zero", &t_time, 0.0, TRUE},
      {"d_zero", "dur_zero", &t_dur, 0.0, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Chip_Value* v = env->global()->lookup_value(c.key, -1);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name, c.name);
    EXPECT_EQ(v->type, c.type);
    EXPECT_EQ(v->is_const, c.is_const);
    EXPECT_DOUBLE_EQ(*static_cast<double*>(v->addr), c.value);
  }
  Chip_Value* yes = env->global()->lookup_value("true", -1);
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(*static_cast<t_CPWORD*>(yes->addr), 1);
  Chip_Value* global = env->global()->lookup_value("global", -1);
  ASSERT_NE(global, nullptr);
  EXPECT_EQ(global->addr, env->global());
  EXPECT_EQ(env->global()->lookup_value("null", -1)->type, &t_null);
  // Everything was committed.
  EXPECT_TRUE(env->global()->value.pending().empty());
  EXPECT_TRUE(env->global()->type.pending().empty());
}

TEST_F(TypeEnvTest, InitRegistersTheBuiltInTypesAndTheirNamespaces) {
  for (const char* name :
       {"void",      "int",    "float",  "time",  "dur",      "complex", "polar",
        "Object",    "string", "UGen",   "UAna",  "UAnaBlob", "Shred",   "Thread",
        "@function", "Class",  "@array", "Event", "IO",       "FileIO"}) {
    SCOPED_TRACE(name);
    Chip_Type* t = env->global()->lookup_type(name, -1);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->m_locked);
  }
  EXPECT_EQ(env->global()->lookup_type("@null", -1), nullptr);
  for (Chip_Type* t : {&t_object, &t_array, &t_string, &t_ugen, &t_uana, &t_uanablob, &t_shred,
                       &t_event, &t_io, &t_class, &t_thread}) {
    EXPECT_NE(t->info, nullptr) << t->name;
  }
  EXPECT_EQ(t_int.info, nullptr);
  EXPECT_EQ(env->global()->name, "global");
  EXPECT_EQ(env->global_context.filename, "@[global]");
  // The class names are values too.
  Chip_Value* object = env->global()->lookup_value("Object", -1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->type->array_type, &t_object);
}

TEST(TypeEnvLifecycleTest, ShutdownReleasesTheBuiltInNamespacesAndInitAgainWorks) {
  shutdown_type_env();
  Chip_Env* env = type_engine_init(8000);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(Chip_Env::instance(), env);
  EXPECT_NE(t_object.info, nullptr);
  type_engine_shutdown(env);
  EXPECT_EQ(Chip_Env::instance(), nullptr);
  EXPECT_EQ(t_object.info, nullptr);
  EXPECT_EQ(t_class.info, nullptr);
  env = type_engine_init(16000);
  Chip_Value* second = env->global()->lookup_value("second", -1);
  EXPECT_DOUBLE_EQ(*static_cast<double*>(second->addr), 16000.0);
  shutdown_type_env();
}

TEST_F(TypeEnvTest, ResetClosesWhatAFailedCompilationLeftOpen) {
  a_Stmt loop = new_stmt_from_break(1);
  env->breaks.push_back(loop);
  env->global()->value.push();
  env->global()->value.push();
  env->class_scope = 3;
  env->curr = nullptr;
  env->reset();
  EXPECT_TRUE(env->breaks.empty());
  EXPECT_EQ(env->global()->value.depth(), 1u);
  EXPECT_EQ(env->curr, env->global());
  EXPECT_EQ(env->class_scope, 0u);
  EXPECT_EQ(env->nspc_stack, std::vector<Chip_Namespace*>{env->global()});
  EXPECT_EQ(env->class_stack, std::vector<Chip_Type*>{nullptr});
  // The global values survive.
  EXPECT_NE(env->global()->lookup_value("pi", 1), nullptr);
}

// ---------------------------------------------------------------------------
// Contexts

TEST_F(TypeEnvTest, LoadingAContextEntersItsNamespaceAndUnloadingRestores) {
  Chip_Context* context = type_engine_make_context(nullptr, "/some/dir/piece.chip");
  // Held by the test: unloading alone would free it.
  context->add_ref();
  EXPECT_EQ(context->nspc->name, "piece.chip");
  ASSERT_TRUE(type_engine_load_context(env, context));
  EXPECT_EQ(env->context, context);
  EXPECT_EQ(env->curr, context->nspc);
  EXPECT_EQ(context->nspc->parent, env->global());
  EXPECT_EQ(context->nspc->value.depth(), 2u);
  // A file-level value is visible from the file, not from the global space.
  Chip_Value* v = context->new_Chip_Value(&t_int, "x");
  context->nspc->value.add("x", v);
  EXPECT_EQ(type_engine_find_value(env, "x", 1), v);
  EXPECT_EQ(type_engine_find_value(env, "pi", 1)->name, "pi");
  EXPECT_EQ(type_engine_find_value(env, "pi", 0), nullptr);
  ASSERT_TRUE(type_engine_unload_context(env));
  EXPECT_EQ(env->context, &env->global_context);
  EXPECT_EQ(env->curr, env->global());
  EXPECT_TRUE(env->contexts.empty());
  EXPECT_EQ(context->nspc->value.depth(), 1u);
  context->release();
}

TEST_F(TypeEnvTest, CheckingAContextWithoutATreeIsAnInternalError) {
  Chip_Context* context = type_engine_make_context(nullptr, "empty.chip");
  type_engine_load_context(env, context);
  t_CPBOOL ok = TRUE;
  std::vector<std::string> lines =
      printed_lines([&] { ok = type_engine_check_context(env, context); });
  EXPECT_FALSE(ok);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("internal error: context->parse_tree NULL!"), std::string::npos);
  type_engine_unload_context(env);
}

// ---------------------------------------------------------------------------
// Lookups

TEST_F(TypeEnvTest, TypePathsResolveThroughMemberNamespacesAndAncestors) {
  // A class declared inside Object is found from string, its descendant.
  Chip_Type* inner = user_class(*env->context, "Inner", t_object.info);
  t_object.info->type.add("Inner", inner);
  std::vector<std::string> lines;
  Chip_Type* found = nullptr;
  lines = printed_lines([&] { found = type_engine_find_type(env, path("string.Inner")); });
  EXPECT_EQ(found, inner);
  EXPECT_TRUE(lines.empty());

  struct Case {
    const char* path;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"Nope", {"[test.chip]: undefined type 'Nope'..."}},
      {"int.x", {"[test.chip]: undefined type 'x'..."}},
      {"Object.Nope.z",
       {"[test.chip]: undefined type 'Nope.z'...",
        "[test.chip]: ...(cannot find class 'Nope' in namespace 'Object')"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    a_Id_List p = path(c.path);
    lines = printed_lines([&] { found = type_engine_find_type(env, p); });
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(TypeEnvTest, MemberValuesAreFoundInTheClassOrItsAncestors) {
  Chip_Value* member = env->context->new_Chip_Value(&t_int, "count");
  t_object.info->value.add("count", member);
  EXPECT_EQ(type_engine_find_value(&t_string, "count"), member);
  EXPECT_EQ(type_engine_find_value(&t_object, insert_symbol("count")), member);
  EXPECT_EQ(type_engine_find_value(&t_string, "nothing"), nullptr);
  EXPECT_EQ(type_engine_find_value(&t_int, "count"), nullptr);
  // FileIO has no namespace of its own: the search ends there.
  EXPECT_EQ(type_engine_find_value(&t_fileio, "count"), nullptr);
}

TEST_F(TypeEnvTest, NamespacesOfPaths) {
  EXPECT_EQ(type_engine_find_nspc(env, nullptr), env->global());
  EXPECT_EQ(type_engine_find_nspc(env, path("global")), env->global());
  EXPECT_EQ(type_engine_find_nspc(env, path("global.Object")), t_object.info);
  EXPECT_EQ(type_engine_find_nspc(env, path("UGen")), t_ugen.info);
  Chip_Namespace* n = env->global();
  std::vector<std::string> lines =
      printed_lines([&] { n = type_engine_find_nspc(env, path("int")); });
  EXPECT_EQ(n, nullptr);
  EXPECT_EQ(lines,
            std::vector<std::string>{
                "[test.chip]: primitive type 'int' has no namespace and cannot be extended..."});
}

TEST_F(TypeEnvTest, DeprecatedNamesDependOnTheLevel) {
  type_engine_register_deprecate(env, "Thing", "Object");
  type_engine_register_deprecate(env, "oldpi", "pi");
  std::string to;
  EXPECT_TRUE(type_engine_get_deprecate(env, "Thing", to));
  EXPECT_EQ(to, "Object");
  EXPECT_FALSE(type_engine_get_deprecate(env, "Object", to));

  struct Case {
    int level;
    bool type_found;
    std::vector<std::string> type_lines;
    std::vector<std::string> value_lines;
  };
  const Case cases[] = {
      {0,
       false,
       {"[test.chip]: undefined type 'Thing'..."},
       {"[test.chip]:line(4): deprecated: 'oldpi' --> use: 'pi'..."}},
      {1,
       true,
       {"[test.chip]: deprecated: 'Thing' --> use: 'Object'..."},
       {"[test.chip]:line(4): deprecated: 'oldpi' --> use: 'pi'..."}},
      {2, true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    env->deprecate_level = c.level;
    Chip_Type* t = nullptr;
    a_Id_List p = path("Thing");
    std::vector<std::string> lines = printed_lines([&] { t = type_engine_find_type(env, p); });
    EXPECT_EQ(t, c.type_found ? &t_object : nullptr);
    EXPECT_EQ(lines, c.type_lines);
    Chip_Value* v = nullptr;
    lines = printed_lines([&] { v = type_engine_find_value(env, "oldpi", 1, 4); });
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name, "pi");
    EXPECT_EQ(lines, c.value_lines);
  }
}

// ---------------------------------------------------------------------------
// Reserved words

TEST_F(TypeEnvTest, ReservedWordsNameTheirTable) {
  struct Case {
    const char* name;
    const char* line;  // null: not reserved
  };
  const Case cases[] = {
      {"now", "[test.chip]:line(3): illegal re-declaration of reserved value 'now'."},
      {"pi", "[test.chip]:line(3): illegal re-declaration of reserved value 'pi'."},
      {"dac", "[test.chip]:line(3): illegal re-declaration of reserved value 'dac'."},
      {"for", "[test.chip]:line(3): illegal use of keyword 'for'."},
      {"continue", "[test.chip]:line(3): illegal use of keyword 'continue'."},
      {"same", "[test.chip]:line(3): illegal use of reserved type id 'same'."},
      {"int", "[test.chip]:line(3): illegal use of reserved type id 'int'."},
      {"do", nullptr},
      {"foo", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    t_CPBOOL reserved = FALSE;
    std::vector<std::string> lines =
        printed_lines([&] { reserved = type_engine_check_reserved(env, c.name, 3); });
    EXPECT_EQ(reserved, c.line != nullptr);
    EXPECT_EQ(lines, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    t_CPBOOL by_symbol = type_engine_check_reserved(env, insert_symbol(c.name), 3);
    EXPECT_EQ(by_symbol, reserved);
  }
  EXPECT_EQ(env->key_words.size(), 19u);
  EXPECT_EQ(env->key_values.size(), 21u);
  EXPECT_EQ(env->key_types.size(), 4u);
}

// ---------------------------------------------------------------------------
// Text routines

TEST(TypeTextTest, EscapeSequences) {
  EM_reset("test.chip", nullptr);
  struct Case {
    const char* in;
    std::string out;  // result bytes; empty with line set: refused
    const char* line;
  };
  const Case cases[] = {
      {"plain", "plain", nullptr},
      {"a\\nb\\tc", "a\nb\tc", nullptr},
      {"\\'\\\"\\\\", "'\"\\", nullptr},
      {"\\a\\b\\f\\r\\v", "\a\b\f\r\v", nullptr},
      {"\\0a", std::string("\0a", 2), nullptr},
      {"\\08",
       std::string("\0"
                   "8",
                   2),
       nullptr},
      {"\\101", "A", nullptr},
      {"\\777", "\xff", nullptr},
      {"\\18x", "", "[test.chip]:line(5): malformed octal escape sequence '\\18x'"},
      {"\\1", "", "[test.chip]:line(5): malformed octal escape sequence '\\1'"},
      {"\\x41", "", "[test.chip]:line(5): hex escape sequence not (yet) supported (use octal!)"},
      {"\\q", "", "[test.chip]:line(5): unrecognized escape sequence '\\q'"},
      {"end\\", "", "[test.chip]:line(5): invalid: string ends with escape charactor '\\'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::vector<char> buf(c.in, c.in + std::strlen(c.in) + 1);
    t_CPBOOL ok = FALSE;
    std::vector<std::string> lines = printed_lines([&] { ok = escape_str(buf.data(), 5); });
    if (c.line) {
      EXPECT_FALSE(ok);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], c.line);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(lines.empty());
      EXPECT_EQ(std::string(buf.data(), c.out.size() + 1), c.out + std::string(1, '\0'));
    }
  }
}

TEST(TypeTextTest, PathsSplitIntoNamesAndDepth) {
  EM_reset("test.chip", nullptr);
  struct Case {
    const char* text;
    const char* dotted;  // null: refused
    unsigned long depth;
    const char* line;
  };
  const Case cases[] = {
      {"Object", "Object", 0, nullptr},
      {"a.b[][]", "a.b", 2, nullptr},
      {"float[]", "float", 1, nullptr},
      {"x_1.Y2.z", "x_1.Y2.z", 0, nullptr},
      {"a..b", nullptr, 0, "[test.chip]: path 'a..b' must not begin or end with '.'"},
      {".a", nullptr, 0, "[test.chip]: path '.a' must not begin or end with '.'"},
      {"a.", nullptr, 0, "[test.chip]: path 'a.' must not begin or end with '.'"},
      {"[]", nullptr, 0, "[test.chip]: illegal character ']' in path '[]'..."},
      {"a-b", nullptr, 0, "[test.chip]: illegal character '-' in path 'a-b'..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    unsigned long depth = 99;
    a_Id_List list = nullptr;
    std::vector<std::string> lines = printed_lines([&] { list = str2list(c.text, depth); });
    if (c.dotted) {
      ASSERT_NE(list, nullptr);
      EXPECT_STREQ(type_path(list), c.dotted);
      EXPECT_EQ(depth, c.depth);
      EXPECT_TRUE(lines.empty());
      delete_id_list(list);
    } else {
      EXPECT_EQ(list, nullptr);
      EXPECT_EQ(lines, std::vector<std::string>{c.line});
    }
  }
}

TEST(TypeTextTest, PassSelectorsAndArraySubscripts) {
  EM_reset("test.chip", nullptr);
  EXPECT_STREQ(howmuch2str(te_do_all), "ALL");
  EXPECT_STREQ(howmuch2str(te_do_classes_only), "CLASSES_ONLY");
  EXPECT_STREQ(howmuch2str(te_do_no_classes), "ALL_EXCEPT_CLASSES");
  EXPECT_STREQ(howmuch2str(static_cast<te_HowMuch>(7)), "[INVALID]");

  struct Case {
    int err_num;
    const char* line;
  };
  const Case cases[] = {
      {0, nullptr},
      {1, "[test.chip]:line(9): invalid format for array init [...][...]..."},
      {2, "[test.chip]:line(9): partially empty array init [...][]..."},
      {5, "[test.chip]:line(9): internal error: unrecognized array error..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err_num);
    a_Array_Sub_ sub{};
    sub.depth = 1;
    sub.line_no = 9;
    sub.err_num = c.err_num;
    t_CPBOOL ok = FALSE;
    std::vector<std::string> lines = printed_lines([&] { ok = verify_array(&sub); });
    EXPECT_EQ(ok, c.line == nullptr);
    EXPECT_EQ(lines, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
}

// ---------------------------------------------------------------------------
// Function signatures and class definitions

TEST_F(TypeEnvTest, FunctionSignaturesCompareKeywordAndArgumentTypes) {
  a_Program prog = parse(
      "fun void a(int x, float y) {}\n"
      "fun int b(int x, float y) {}\n"
      "fun void c(int x, int y) {}\n"
      "fun void d(int x) {}\n"
      "public void e(int x, float y) {}\n");
  std::vector<a_Func_Def> defs;
  for (a_Program p = prog; p; p = p->next) {
    a_Func_Def def = p->section->func_def;
    // What scan pass 1 would have resolved.
    for (a_Arg_List arg = def->arg_list; arg; arg = arg->next) {
      arg->type =
          std::strcmp(S_name(arg->type_decl->name_list->id), "int") == 0 ? &t_int : &t_float;
    }
    defs.push_back(def);
  }
  ASSERT_EQ(defs.size(), 5u);
  struct Case {
    int lhs, rhs;
    t_CPBOOL same;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {0, 1, TRUE, {}},  // return types are not compared
      {0, 2, FALSE, {"[test.chip]:line(7): function signatures differ in argument 2's type..."}},
      {0, 3, FALSE, {"[test.chip]:line(7): function signatures differ in number of arguments..."}},
      {3, 0, FALSE, {"[test.chip]:line(7): function signatures differ in number of arguments..."}},
      {0,
       4,
       FALSE,
       {"[test.chip]:line(7): function signatures differ in access modifiers...",
        "[test.chip]:line(7): (both must be one of public/private/protected/function)..."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lhs << " vs " << c.rhs);
    std::string err;
    t_CPBOOL same = FALSE;
    std::vector<std::string> lines = printed_lines(
        [&] { same = type_engine_compat_func(defs[c.lhs], defs[c.rhs], 7, err, TRUE); });
    EXPECT_EQ(same, c.same);
    EXPECT_EQ(lines, c.lines);
    lines =
        printed_lines([&] { type_engine_compat_func(defs[c.lhs], defs[c.rhs], 7, err, FALSE); });
    EXPECT_TRUE(lines.empty());
  }
}

TEST_F(TypeEnvTest, ClassDefinitionsNeedACompleteObjectParent) {
  struct Case {
    const char* source;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"class A extends Nope {}",
       {"[test.chip]:line(1): undefined type 'Nope'...",
        "[test.chip]:line(1): undefined super class 'Nope' in definition of class 'A'"}},
      {"class B extends int {}",
       {"[test.chip]:line(1): cannot extend primitive type 'int'",
        "[test.chip]:line(1): ...(note: primitives types are 'int', 'float', 'time', and 'dur')"}},
      {"class C extends Pending {}",
       {"[test.chip]:line(1): cannot extend incomplete type 'Pending'",
        "[test.chip]:line(1): ...(note: the parent's declaration must preceed child's)"}},
  };
  // A class whose definition is still being scanned.
  Chip_Type* pending = user_class(*env->context, "Pending", env->global());
  pending->is_complete = FALSE;
  env->global()->type.add("Pending", pending);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    a_Program prog = parse(c.source);
    t_CPBOOL ok = TRUE;
    std::vector<std::string> lines =
        printed_lines([&] { ok = type_engine_check_class_def(env, prog->section->class_def); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(lines, c.lines);
    delete_program(tree);
    tree = nullptr;
  }
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Whole programs through the pipeline

Chip_Type* global_type(const char* name) { return type_env()->global()->lookup_type(name, -1); }

TEST_F(TypeCheckTest, AParentMustBeDefinedBeforeItsChild) {
  CheckResult r = check_program("class C extends D {}\nclass D {}");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.lines,
            (std::vector<std::string>{
                "[test.chip]:line(1): cannot extend incomplete type 'D'",
                "[test.chip]:line(1): ...(note: the parent's declaration must preceed child's)"}));
  EXPECT_TRUE(check_program("class D {}\nclass C extends D {}").ok);
}

TEST_F(TypeCheckTest, ClassesGetConstructorsSizesAndCompleteness) {
  // One public class per file.
  for (const char* source : {"public class M { int a; float b; fun void f() {} int c; }",
                             "public class N extends M { complex d; }",
                             "public class F { fun int g() { return 1; } }"}) {
    CheckResult r = check_program(source);
    ASSERT_TRUE(r.ok) << source << testing::PrintToString(r.lines);
  }
  Chip_Type* m = global_type("M");
  Chip_Type* n = global_type("N");
  Chip_Type* f = global_type("F");
  ASSERT_TRUE(m && n && f);
  EXPECT_TRUE(m->has_constructor);
  EXPECT_FALSE(f->has_constructor);
  EXPECT_TRUE(m->is_complete);
  EXPECT_TRUE(n->is_complete);
  EXPECT_EQ(n->parent, m);
  EXPECT_EQ(m->parent, &t_object);
  EXPECT_EQ(m->obj_size, t_object.obj_size + 24);
  EXPECT_EQ(n->obj_size, m->obj_size + 16);
  EXPECT_TRUE(isa(n, &t_object));
}

TEST_F(TypeCheckTest, OnlyFilesThatCheckLeaveTheirPublicClassesBehind) {
  EXPECT_FALSE(check_program("public class Q { }\n1 => true;").ok);
  EXPECT_EQ(global_type("Q"), nullptr);
  CheckResult r = check_program("Q q;");
  EXPECT_FALSE(r.ok);
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines[0], "[test.chip]:line(1): undefined type 'Q'...");

  EXPECT_TRUE(check_program("public class P { int v; }", "p.chip").ok);
  EXPECT_TRUE(check_program("P p; 3 => p.v;", "use.chip").ok);
  // A fresh environment forgets them.
  fresh_type_env();
  EXPECT_EQ(global_type("P"), nullptr);
  EXPECT_FALSE(check_program("P p;").ok);
}

TEST_F(TypeCheckTest, AFailedCompilationLeavesNoLoopOpenForTheNext) {
  EXPECT_FALSE(check_program("while (true) { 1 => true; }").ok);
  CheckResult r = check_program("break;");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.lines,
            std::vector<std::string>{
                "[test.chip]:line(1): 'break' found outside of for/while/until/switch..."});
  EXPECT_TRUE(type_env()->breaks.empty());
}

TEST_F(TypeCheckTest, SyntaxErrorsStopBeforeTheTypeSystem) {
  size_t contexts = type_env()->live_contexts.size();
  CheckResult r = check_program("int x = ;");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.lines.empty());
  EXPECT_EQ(type_env()->live_contexts.size(), contexts);
}

}  // namespace
