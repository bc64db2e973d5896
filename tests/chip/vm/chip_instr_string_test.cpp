// String, unit-generator link and print instructions, run as hand-made code
// on a real machine: values are pushed by test instructions, the register
// stack is captured at the end of the shred, and what the engine printed is
// read back from the application log.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_string.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "vm_test_support.h"

namespace {

using vmtest::Do;
using vmtest::End;
using vmtest::Mark;

typedef std::vector<std::string> Lines;
typedef std::vector<unsigned char> Bytes;

const double kPi = 3.141592653589793;

template <typename T>
Bytes bytes_of(T value) {
  Bytes out(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

Bytes word(t_CPWORD w) { return bytes_of(w); }
Bytes ref(const void* p) { return bytes_of(reinterpret_cast<t_CPWORD>(p)); }
Bytes dbl(double d) { return bytes_of(d); }
Bytes cpx(double a, double b) { return bytes_of(t_CPCOMPLEX{a, b}); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Test instruction: pushes raw bytes on the register stack.
Chip_Instr* push(Bytes value) {
  return new Do([value](Chip_VM*, Chip_VM_Shred* shred) {
    if (!value.empty()) std::memcpy(shred->reg->sp, value.data(), value.size());
    shred->reg->sp += value.size();
  });
}

std::string hex(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%lx",
                static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(p)));
  return text;
}

class StringInstrTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm();
  }

  void TearDown() override {
    for (Chip_Object* object : held) object->release();
    VMTest::TearDown();
  }

  // Runs instrs as one shred named "str", followed by a second shred that
  // marks "after", so every run also shows that the machine goes on.
  // finished tells whether the first shred got past its last instruction;
  // stack then holds its register stack. Returns what was printed.
  Lines run(std::vector<Chip_Instr*> instrs) {
    finished = false;
    stack.clear();
    trace.clear();
    instrs.push_back(new Do([this](Chip_VM*, Chip_VM_Shred* shred) {
      finished = true;
      stack.assign(shred->reg->stack, shred->reg->sp);
      // The statement ends; the test takes over the temporaries it made.
      for (const Chip_VM_Shred::Temp& temp : shred->temps) {
        hold(static_cast<Chip_Object*>(temp.object));
      }
      chip_release_temps(shred);
    }));
    instrs.push_back(new End);
    Chip_VM_Code* first = code("str", instrs);
    Chip_VM_Code* second = code("after", {new Mark(&trace, "after"), new End});
    Lines lines = printed_lines([&] {
      last_id = static_cast<int>(vm->spork(first, nullptr)->id);
      vm->spork(second, nullptr);
      vm->compute();
    });
    EXPECT_EQ(trace, vmtest::Trace{"after@0"});
    return lines;
  }

  // The message of a null operand raised by instruction pc of the last run.
  std::string npe(const std::string& what, int pc) {
    return "[chip](VM): NullPointerException: (" + what + ") in shred[id=" +
           std::to_string(last_id) + ":str], PC=[" + std::to_string(pc) + "]";
  }

  // Asserts that the last run stopped at pc with exactly that message.
  void expect_stopped(const Lines& lines, const std::string& message) {
    EXPECT_FALSE(finished);
    EXPECT_EQ(lines, Lines{message});
  }

  // A string held by the test until TearDown.
  Chip_String* str(const std::string& text) {
    auto* s = static_cast<Chip_String*>(instantiate_and_initialize_object(&t_string, nullptr));
    s->str = text;
    hold(s);
    return s;
  }

  template <typename T>
  T* hold(T* object) {
    object->add_ref();
    held.push_back(object);
    return object;
  }

  // The word at position i (from the bottom) of the captured stack.
  t_CPWORD word_at(size_t i) const {
    t_CPWORD w = 0;
    if (stack.size() >= (i + 1) * sizeof w) std::memcpy(&w, stack.data() + i * sizeof w, sizeof w);
    return w;
  }

  // The captured stack as one string object left there by the instruction
  // (taken over by the test).
  Chip_String* result_string() {
    EXPECT_EQ(stack.size(), sizeof(t_CPWORD));
    auto* s = reinterpret_cast<Chip_String*>(word_at(0));
    // Made for its statement, and taken over by the test (above) when the
    // statement ended: the test's reference is its only one.
    if (s) {
      EXPECT_EQ(s->m_ref_count, 1u);
    }
    return s;
  }

  Chip_VM* vm = nullptr;
  bool finished = false;
  Bytes stack;
  int last_id = 0;
  std::vector<Chip_Object*> held;
};

// ---------------------------------------------------------------------------
// Names and operand texts

TEST_F(StringInstrTest, NamesAndParams) {
  Chip_Type* floats = new_array_type(env, &t_array, 2, &t_float, env->global());
  struct Case {
    Chip_Instr* instr;
    const char* name;
    const char* params;
  } cases[] = {
      {new Chip_Instr_Assign_String, "Chip_Instr_Assign_String", ""},
      {new Chip_Instr_Add_string, "Chip_Instr_Add_string", ""},
      {new Chip_Instr_Add_string_int, "Chip_Instr_Add_string_int", ""},
      {new Chip_Instr_Add_string_float, "Chip_Instr_Add_string_float", ""},
      {new Chip_Instr_Add_int_string, "Chip_Instr_Add_int_string", ""},
      {new Chip_Instr_Add_float_string, "Chip_Instr_Add_float_string", ""},
      {new Chip_Instr_Add_string_Assign, "Chip_Instr_Add_string_Assign", ""},
      {new Chip_Instr_Add_int_string_Assign, "Chip_Instr_Add_int_string_Assign", ""},
      {new Chip_Instr_Add_float_string_Assign, "Chip_Instr_Add_float_string_Assign", ""},
      {new Chip_Instr_Op_string(7), "Chip_Instr_Op_string", "7"},
      {new Chip_Instr_Cast_object2string, "Chip_Instr_Cast_object2string", ""},
      {new Chip_Instr_UGen_Link(TRUE), "Chip_Instr_UGen_Link", ""},
      {new Chip_Instr_UGen_UnLink, "Chip_Instr_UGen_UnLink", ""},
      {new Chip_Instr_Hack(&t_int), "Chip_Instr_Hack", "(int)"},
      {new Chip_Instr_Hack(floats), "Chip_Instr_Hack", "(float[][])"},
      {new Chip_Instr_Gack({&t_int, &t_string}), "Chip_Instr_Gack", "( many types )"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.instr->name(), c.name);
    EXPECT_STREQ(c.instr->params(), c.params) << c.name;
    delete c.instr;
  }
}

// ---------------------------------------------------------------------------
// Printing

TEST_F(StringInstrTest, PrintFormatOfEveryType) {
  Chip_String* hi = str("hi");
  Chip_Object* obj = hold(instantiate_and_initialize_object(&t_object, nullptr));
  Chip_Type* ints = new_array_type(env, &t_array, 1, &t_int, env->global());
  // A 16-byte type that is neither complex nor polar.
  Chip_Type pair(te_user, "Pair", nullptr, 16);
  char address[32];
  std::snprintf(address, sizeof address, "%ld", static_cast<long>(reinterpret_cast<t_CPWORD>(obj)));

  struct Case {
    Chip_Type* type;
    Bytes value;
    std::string line;
  } cases[] = {
      {&t_int, word(5), "5 :(int)"},
      {&t_int, word(-7), "-7 :(int)"},
      {&t_int, word(INT_MIN), "-2147483648 :(int)"},
      {&t_float, dbl(1.5), "1.500000 :(float)"},
      {&t_time, dbl(44100), "44100.000000 :(time)"},
      {&t_dur, dbl(-0.25), "-0.250000 :(dur)"},
      {&t_complex, cpx(1, 2), "#(1.0000,2.0000) :(complex)"},
      {&t_polar, cpx(2, kPi / 2), "%(2.0000,0.5000*pi) :(polar)"},
      {&t_string, ref(hi), "\"hi\" : (string)"},
      {&t_string, ref(nullptr), "null : (string)"},
      {&t_null, ref(nullptr), "0 :(@null)"},
      {&t_object, ref(obj), std::string(address) + " :(Object)"},
      {ints, ref(nullptr), "0 :(int[])"},
      {&t_void, Bytes{}, "... :(void)"},
      {&pair, cpx(1, 2), "[chip]: internal error printing 16-byte primitive..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // Both print instructions, alone and through a one-value list; the value
    // stays on the stack.
    Lines lines = run({push(c.value), new Chip_Instr_Hack(c.type), new Chip_Instr_Gack({c.type})});
    EXPECT_EQ(lines, (Lines{c.line, c.line}));
    EXPECT_TRUE(finished);
    EXPECT_EQ(stack, c.value);
  }
}

TEST_F(StringInstrTest, PrintListInSourceOrder) {
  Chip_String* a = str("a");
  Chip_Object* obj = hold(instantiate_and_initialize_object(&t_object, nullptr));
  Chip_Type pair(te_user, "Pair", nullptr, 16);

  struct Case {
    std::vector<Chip_Type*> types;
    Bytes values;
    std::string line;
  } cases[] = {
      {{&t_int, &t_string, &t_float}, concat({word(1), ref(a), dbl(2.5)}), "1 a 2.500000 "},
      {{&t_complex, &t_polar, &t_int},
       concat({cpx(1, -2), cpx(3, kPi), word(-4)}),
       "#(1.0000,-2.0000) %(3.0000,1.0000*pi) -4 "},
      {{&t_object, &t_null, &t_string}, concat({ref(obj), ref(nullptr), ref(nullptr)}),
       "0x" + hex(obj) + " 0x0 null "},
      {{&t_dur, &t_void, &pair, &t_time}, concat({dbl(2), cpx(7, 8), dbl(3)}),
       "2.000000 ... 3.000000 "},
      {{}, Bytes{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // Something below the printed values must not be read.
    Bytes below = word(99);
    Lines lines = run({push(below), push(c.values), new Chip_Instr_Gack(c.types)});
    EXPECT_EQ(lines, Lines{c.line});
    EXPECT_TRUE(finished);
    EXPECT_EQ(stack, concat({below, c.values}));
  }
}

// ---------------------------------------------------------------------------
// Concatenation

TEST_F(StringInstrTest, ConcatenationMakesANewString) {
  Chip_String* x = str("x");
  Chip_String* ab = str("ab");
  struct Case {
    Chip_Instr* instr;
    Bytes left, right;
    std::string text;
  } cases[] = {
      {new Chip_Instr_Add_string, ref(x), ref(ab), "xab"},
      {new Chip_Instr_Add_string, ref(x), ref(x), "xx"},
      {new Chip_Instr_Add_string_int, ref(x), word(5), "x5"},
      {new Chip_Instr_Add_string_int, ref(x), word(INT_MIN), "x-2147483648"},
      {new Chip_Instr_Add_string_float, ref(x), dbl(1.5), "x1.5000"},
      {new Chip_Instr_Add_string_float, ref(x), dbl(-0.00004), "x-0.0000"},
      {new Chip_Instr_Add_int_string, word(-12), ref(ab), "-12ab"},
      {new Chip_Instr_Add_float_string, dbl(2.25), ref(ab), "2.2500ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Lines lines = run({push(c.left), push(c.right), c.instr});
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(finished);
    Chip_String* result = result_string();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->str, c.text);
    EXPECT_NE(result, x);
    EXPECT_NE(result, ab);
  }
  EXPECT_EQ(x->str, "x");
  EXPECT_EQ(ab->str, "ab");
}

TEST_F(StringInstrTest, ConcatenationWithANullStringEndsTheShred) {
  Chip_String* x = str("x");
  struct Case {
    Chip_Instr* instr;
    Bytes left, right;
    std::string what;
  } cases[] = {
      {new Chip_Instr_Add_string, ref(nullptr), ref(x), "string + string"},
      {new Chip_Instr_Add_string, ref(x), ref(nullptr), "string + string"},
      {new Chip_Instr_Add_string_int, ref(nullptr), word(1), "string + int"},
      {new Chip_Instr_Add_string_float, ref(nullptr), dbl(1), "string + float"},
      {new Chip_Instr_Add_int_string, word(1), ref(nullptr), "int + string"},
      {new Chip_Instr_Add_float_string, dbl(1), ref(nullptr), "int + string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instr->name());
    Lines lines = run({push(c.left), push(c.right), c.instr});
    expect_stopped(lines, npe(c.what, 2));
  }
}

TEST_F(StringInstrTest, AppendingExtendsTheVariablesOwnObject) {
  Chip_String* y = str("y");
  struct Case {
    Chip_Instr* instr;
    Bytes value;  // empty: the variable's own string
    std::string text;
  } cases[] = {
      {new Chip_Instr_Add_string_Assign, ref(y), "xy"},
      {new Chip_Instr_Add_string_Assign, {}, "xx"},
      {new Chip_Instr_Add_int_string_Assign, word(-5), "x-5"},
      {new Chip_Instr_Add_float_string_Assign, dbl(1.5), "x1.5000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Chip_String* x = str("x");
    Chip_Object* var = x;
    Bytes value = c.value.empty() ? ref(x) : c.value;
    Lines lines = run({push(value), push(ref(&var)), c.instr});
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(finished);
    EXPECT_EQ(var, x);
    EXPECT_EQ(x->str, c.text);
    EXPECT_EQ(stack, ref(x));
  }
  EXPECT_EQ(y->str, "y");
}

TEST_F(StringInstrTest, AppendingToANullStringEndsTheShred) {
  Chip_String* x = str("x");
  struct Case {
    Chip_Instr* instr;
    Bytes value;
    bool null_var;
    std::string what;
  } cases[] = {
      {new Chip_Instr_Add_string_Assign, ref(x), true, "string + string"},
      {new Chip_Instr_Add_string_Assign, ref(nullptr), false, "string + string"},
      {new Chip_Instr_Add_int_string_Assign, word(1), true, ""},
      {new Chip_Instr_Add_float_string_Assign, dbl(1), true, "string + string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instr->name());
    Chip_String* target = str("t");
    Chip_Object* var = c.null_var ? nullptr : target;
    Lines lines = run({push(c.value), push(ref(&var)), c.instr});
    expect_stopped(lines, npe(c.what, 2));
    EXPECT_EQ(target->str, "t");
  }
}

// ---------------------------------------------------------------------------
// Assignment

TEST_F(StringInstrTest, AssignmentCopiesTextIntoTheVariablesObject) {
  Chip_String* right = str("new");
  Chip_String* old = str("old");

  // A string into a string: the same object, the new text.
  Chip_Object* var = old;
  run({push(ref(right)), push(ref(&var)), new Chip_Instr_Assign_String});
  ASSERT_TRUE(finished);
  EXPECT_EQ(var, old);
  EXPECT_EQ(old->str, "new");
  EXPECT_EQ(stack, ref(old));

  // A string into null: a new object, referenced by the variable (and by
  // the test, which took over its statement's temporary).
  var = nullptr;
  run({push(ref(right)), push(ref(&var)), new Chip_Instr_Assign_String});
  ASSERT_TRUE(finished);
  ASSERT_NE(var, nullptr);
  EXPECT_NE(var, right);
  EXPECT_EQ(static_cast<Chip_String*>(var)->str, "new");
  EXPECT_EQ(var->m_ref_count, 2u);
  EXPECT_EQ(stack, ref(var));
  var->release();

  // Null into a string: the variable drops its object.
  old->str = "old";
  var = old;
  old->add_ref();  // the variable's reference
  ASSERT_EQ(old->m_ref_count, 2u);
  run({push(ref(nullptr)), push(ref(&var)), new Chip_Instr_Assign_String});
  ASSERT_TRUE(finished);
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(old->m_ref_count, 1u);
  EXPECT_EQ(old->str, "old");
  EXPECT_EQ(stack, ref(nullptr));

  // Null into null: nothing.
  Lines lines = run({push(ref(nullptr)), push(ref(&var)), new Chip_Instr_Assign_String});
  EXPECT_TRUE(lines.empty());
  ASSERT_TRUE(finished);
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(stack, ref(nullptr));
}

// ---------------------------------------------------------------------------
// Comparison

TEST_F(StringInstrTest, ComparisonOfTexts) {
  enum { EQ = 4, NEQ, LT, LE, GT, GE };
  struct Case {
    t_CPUWORD op;
    std::string left, right;
    t_CPWORD result;
  } cases[] = {
      {LT, "abc", "abd", 1}, {LT, "ab", "abc", 1},  {LT, "B", "a", 1},
      {LT, "abd", "abc", 0}, {LT, "abc", "abc", 0}, {LE, "abc", "abc", 1},
      {LE, "abd", "abc", 0}, {GT, "abc", "ab", 1},  {GT, "ab", "ab", 0},
      {GE, "ab", "ab", 1},   {GE, "a", "b", 0},     {EQ, "ab", "ab", 1},
      {EQ, "ab", "ba", 0},   {NEQ, "ab", "ba", 1},  {NEQ, "", "", 0},
      {LT, "", "a", 1},      // the empty text is smallest
      {GT, "\xff", "a", 1},  // bytes compare unsigned
      {EQ, std::string("a\0b", 3), std::string("a\0c", 3), 0},  // the whole text counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left + " " + std::to_string(c.op) + " " + c.right);
    Lines lines =
        run({push(ref(str(c.left))), push(ref(str(c.right))), new Chip_Instr_Op_string(c.op)});
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(finished);
    EXPECT_EQ(stack, word(c.result));
  }
}

TEST_F(StringInstrTest, ComparisonRefusesNullsAndOtherOperators) {
  Chip_String* a = str("a");
  Lines lines = run({push(ref(a)), push(ref(nullptr)), new Chip_Instr_Op_string(4)});
  expect_stopped(lines, npe("during string op", 2));
  lines = run({push(ref(nullptr)), push(ref(a)), new Chip_Instr_Op_string(5)});
  expect_stopped(lines, npe("during string op", 2));

  for (t_CPUWORD op : {0, 3, 10}) {
    lines = run({push(ref(a)), push(ref(a)), new Chip_Instr_Op_string(op)});
    expect_stopped(lines, "[chip](VM): InvalidStringOpException: '" + std::to_string(op) +
                              "' in shred[id=" + std::to_string(last_id) + ":str], PC=[2]");
  }
}

// ---------------------------------------------------------------------------
// Object to string

TEST_F(StringInstrTest, ObjectToString) {
  Chip_Object* obj = hold(instantiate_and_initialize_object(&t_object, nullptr));
  Chip_Type* ints = new_array_type(env, &t_array, 1, &t_int, env->global());
  Chip_Array4* arr = hold(new Chip_Array4(FALSE, 0));
  ASSERT_TRUE(initialize_object(arr, ints));

  struct Case {
    Chip_Object* object;
    std::string text;
  } cases[] = {{obj, "Object:" + hex(obj)}, {arr, "int[]:" + hex(arr)}};
  for (const Case& c : cases) {
    Lines lines = run({push(ref(c.object)), new Chip_Instr_Cast_object2string});
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(finished);
    Chip_String* result = result_string();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->str, c.text);
  }

  Lines lines = run({push(ref(nullptr)), new Chip_Instr_Cast_object2string});
  expect_stopped(lines, npe("object to string", 1));
}

// ---------------------------------------------------------------------------
// Unit-generator links

class LinkTest : public StringInstrTest {
 protected:
  Chip_UGen* ugen(Chip_Type* type = &t_ugen) {
    return hold(static_cast<Chip_UGen*>(instantiate_and_initialize_object(type, nullptr)));
  }
};

TEST_F(LinkTest, LinksChainAndUnlinkLeavesTheRightNode) {
  Chip_UGen* a = ugen();
  Chip_UGen* b = ugen();
  Chip_UGen* c = ugen();

  // a => b => c
  Lines lines = run({push(ref(a)), push(ref(b)), new Chip_Instr_UGen_Link(FALSE), push(ref(c)),
                     new Chip_Instr_UGen_Link(FALSE)});
  EXPECT_TRUE(lines.empty());
  ASSERT_TRUE(finished);
  EXPECT_EQ(stack, ref(c));
  EXPECT_TRUE(b->is_connected_from(a));
  EXPECT_TRUE(c->is_connected_from(b));
  EXPECT_FALSE(c->is_connected_from(a));
  EXPECT_EQ(b->num_src_uana, 0u);

  // a =< b
  run({push(ref(a)), push(ref(b)), new Chip_Instr_UGen_UnLink});
  ASSERT_TRUE(finished);
  EXPECT_EQ(stack, ref(b));
  EXPECT_FALSE(b->is_connected_from(a));
  EXPECT_TRUE(c->is_connected_from(b));
  c->remove(b);
}

TEST_F(LinkTest, UpchipAlsoCarriesAnalysis) {
  Chip_UGen* a = ugen(&t_uana);
  Chip_UGen* b = ugen(&t_uana);
  run({push(ref(a)), push(ref(b)), new Chip_Instr_UGen_Link(TRUE)});
  ASSERT_TRUE(finished);
  EXPECT_EQ(stack, ref(b));
  EXPECT_TRUE(b->is_connected_from(a));
  ASSERT_EQ(b->num_src_uana, 1u);
  EXPECT_EQ(b->src_uana_list[0], a);
  b->remove(a);
  EXPECT_EQ(b->num_src_uana, 0u);
}

TEST_F(LinkTest, NullNodesEndTheShred) {
  Chip_UGen* a = ugen();
  struct Case {
    Chip_Instr* instr;
    const void* left;
    const void* right;
    std::string what;
  } cases[] = {
      {new Chip_Instr_UGen_Link(FALSE), a, nullptr, "UGen link"},
      {new Chip_Instr_UGen_Link(TRUE), nullptr, a, "UGen link"},
      {new Chip_Instr_UGen_UnLink, nullptr, a, "UGen unlink"},
      {new Chip_Instr_UGen_UnLink, a, nullptr, "UGen unlink"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines lines = run({push(ref(c.left)), push(ref(c.right)), c.instr});
    expect_stopped(lines, npe(c.what, 2));
  }
  EXPECT_EQ(a->num_src, 0u);
  EXPECT_EQ(a->m_num_dest, 0u);
}

}  // namespace
