// Arrays: the three element kinds, the index and key parts, bounds, and the
// counting of object elements.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_oo.h"

// An element whose destruction is recorded.
struct ArrayProbe : Chip_Object {
  explicit ArrayProbe(int* deaths) : deaths(deaths) {}
  ~ArrayProbe() override { (*deaths)++; }
  int* deaths;
};

namespace {

t_CPUWORD word(Chip_Object* obj) { return reinterpret_cast<t_CPUWORD>(obj); }

// The three classes through one interface, for the cases they share.
struct Kind {
  const char* name;
  t_CPWORD tag;
  std::unique_ptr<Chip_Array> (*make)(t_CPWORD capacity);
  // Appends a non-zero element; reads element i as a double (false when
  // refused).
  void (*push)(Chip_Array* array, double value);
  bool (*get)(Chip_Array* array, t_CPWORD i, double* out);
  bool (*set)(Chip_Array* array, t_CPWORD i, double value);
  bool (*has_addr)(Chip_Array* array, t_CPWORD i);
  bool (*pop)(Chip_Array* array);
  // Reads and addresses by key.
  double (*get_key)(Chip_Array* array, const std::string& key);
  void (*put_key)(Chip_Array* array, const std::string& key, double value);
  void (*zero)(Chip_Array* array, t_CPUWORD start, t_CPUWORD end);
};

// Test listings show the kind's name rather than its bytes.
void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

template <typename A>
A* as(Chip_Array* array) {
  return static_cast<A*>(array);
}

const Kind kKinds[] = {
    {"int", CHIP_ARRAY_KIND_WORD,
     [](t_CPWORD c) -> std::unique_ptr<Chip_Array> {
       return std::make_unique<Chip_Array4>(FALSE, c);
     },
     [](Chip_Array* a, double v) { as<Chip_Array4>(a)->push_back(static_cast<t_CPUWORD>(v)); },
     [](Chip_Array* a, t_CPWORD i, double* out) {
       t_CPUWORD w = 77;
       if (!as<Chip_Array4>(a)->get(i, &w)) return false;
       *out = static_cast<double>(w);
       return true;
     },
     [](Chip_Array* a, t_CPWORD i, double v) {
       return as<Chip_Array4>(a)->set(i, static_cast<t_CPUWORD>(v)) == 1;
     },
     [](Chip_Array* a, t_CPWORD i) { return as<Chip_Array4>(a)->addr(i) != nullptr; },
     [](Chip_Array* a) { return as<Chip_Array4>(a)->pop_back() == 1; },
     [](Chip_Array* a, const std::string& k) {
       t_CPUWORD w = 77;
       EXPECT_EQ(as<Chip_Array4>(a)->get(k, &w), 1);
       return static_cast<double>(w);
     },
     [](Chip_Array* a, const std::string& k, double v) {
       *as<Chip_Array4>(a)->addr(k) = static_cast<t_CPUWORD>(v);
     },
     [](Chip_Array* a, t_CPUWORD s, t_CPUWORD e) { as<Chip_Array4>(a)->zero(s, e); }},
    {"float", CHIP_ARRAY_KIND_FLOAT,
     [](t_CPWORD c) -> std::unique_ptr<Chip_Array> { return std::make_unique<Chip_Array8>(c); },
     [](Chip_Array* a, double v) { as<Chip_Array8>(a)->push_back(v); },
     [](Chip_Array* a, t_CPWORD i, double* out) {
       t_CPFLOAT f = 77.0;
       if (!as<Chip_Array8>(a)->get(i, &f)) return false;
       *out = f;
       return true;
     },
     [](Chip_Array* a, t_CPWORD i, double v) { return as<Chip_Array8>(a)->set(i, v) == 1; },
     [](Chip_Array* a, t_CPWORD i) { return as<Chip_Array8>(a)->addr(i) != nullptr; },
     [](Chip_Array* a) { return as<Chip_Array8>(a)->pop_back() == 1; },
     [](Chip_Array* a, const std::string& k) {
       t_CPFLOAT f = 77.0;
       EXPECT_EQ(as<Chip_Array8>(a)->get(k, &f), 1);
       return f;
     },
     [](Chip_Array* a, const std::string& k, double v) { *as<Chip_Array8>(a)->addr(k) = v; },
     [](Chip_Array* a, t_CPUWORD s, t_CPUWORD e) { as<Chip_Array8>(a)->zero(s, e); }},
    {"complex", CHIP_ARRAY_KIND_COMPLEX,
     [](t_CPWORD c) -> std::unique_ptr<Chip_Array> { return std::make_unique<Chip_Array16>(c); },
     [](Chip_Array* a, double v) { as<Chip_Array16>(a)->push_back(t_CPCOMPLEX{v, -v}); },
     [](Chip_Array* a, t_CPWORD i, double* out) {
       t_CPCOMPLEX c{77.0, 77.0};
       if (!as<Chip_Array16>(a)->get(i, &c)) return false;
       // Both halves travel: the imaginary part mirrors the real one.
       EXPECT_EQ(c.im, -c.re);
       *out = c.re;
       return true;
     },
     [](Chip_Array* a, t_CPWORD i, double v) {
       return as<Chip_Array16>(a)->set(i, t_CPCOMPLEX{v, -v}) == 1;
     },
     [](Chip_Array* a, t_CPWORD i) { return as<Chip_Array16>(a)->addr(i) != nullptr; },
     [](Chip_Array* a) { return as<Chip_Array16>(a)->pop_back() == 1; },
     [](Chip_Array* a, const std::string& k) {
       t_CPCOMPLEX c{77.0, 77.0};
       EXPECT_EQ(as<Chip_Array16>(a)->get(k, &c), 1);
       EXPECT_EQ(c.im, -c.re);
       return c.re;
     },
     [](Chip_Array* a, const std::string& k, double v) {
       *as<Chip_Array16>(a)->addr(k) = t_CPCOMPLEX{v, -v};
     },
     [](Chip_Array* a, t_CPUWORD s, t_CPUWORD e) { as<Chip_Array16>(a)->zero(s, e); }},
};

class ArrayKindTest : public ::testing::TestWithParam<Kind> {};

TEST_P(ArrayKindTest, StartsWithZeroedElementsAndAnEmptyMap) {
  const Kind& k = GetParam();
  auto array = k.make(3);
  EXPECT_EQ(array->size(), 3);
  EXPECT_GE(array->capacity(), 3);
  EXPECT_EQ(array->data_type_size(), k.tag);
  for (t_CPWORD i = 0; i < 3; i++) {
    double v = -1;
    ASSERT_TRUE(k.get(array.get(), i, &v));
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_EQ(array->find(""), 0);
  EXPECT_EQ(k.make(0)->size(), 0);
}

TEST_P(ArrayKindTest, IndexesAreValidBelowTheSizeOnly) {
  const Kind& k = GetParam();
  auto array = k.make(0);
  // Grown by appending, the vector allocates ahead of its elements: the
  // slots past the size must stay out of reach.
  for (double v : {1.0, 2.0, 3.0}) k.push(array.get(), v);
  ASSERT_EQ(array->size(), 3);
  ASSERT_GT(array->capacity(), array->size());

  for (t_CPWORD bad : {t_CPWORD{-1}, t_CPWORD{3}, array->capacity() - 1, array->capacity()}) {
    SCOPED_TRACE(bad);
    double v = 42.0;
    EXPECT_FALSE(k.get(array.get(), bad, &v));
    EXPECT_EQ(v, 42.0);  // untouched
    EXPECT_FALSE(k.set(array.get(), bad, 9.0));
    EXPECT_FALSE(k.has_addr(array.get(), bad));
  }
  EXPECT_EQ(array->size(), 3);

  EXPECT_TRUE(k.set(array.get(), 2, 9.0));
  double v = 0;
  ASSERT_TRUE(k.get(array.get(), 2, &v));
  EXPECT_EQ(v, 9.0);
  ASSERT_TRUE(k.get(array.get(), 0, &v));
  EXPECT_EQ(v, 1.0);
}

TEST_P(ArrayKindTest, PopBackShortensUntilEmpty) {
  const Kind& k = GetParam();
  auto array = k.make(0);
  k.push(array.get(), 5.0);
  EXPECT_EQ(array->size(), 1);
  EXPECT_TRUE(k.pop(array.get()));
  EXPECT_EQ(array->size(), 0);
  EXPECT_FALSE(k.pop(array.get()));
  // A slot freed by pop_back reads zero when the array grows again.
  array->set_size(1);
  double v = -1;
  ASSERT_TRUE(k.get(array.get(), 0, &v));
  EXPECT_EQ(v, 0.0);
}

TEST_P(ArrayKindTest, ResizingZeroesDroppedAndNewElements) {
  const Kind& k = GetParam();
  auto array = k.make(4);
  for (t_CPWORD i = 0; i < 4; i++) k.set(array.get(), i, static_cast<double>(i + 1));
  EXPECT_EQ(array->set_size(2), 2);
  EXPECT_EQ(array->size(), 2);
  EXPECT_EQ(array->set_size(4), 4);
  std::vector<double> seen;
  for (t_CPWORD i = 0; i < 4; i++) {
    double v = -1;
    ASSERT_TRUE(k.get(array.get(), i, &v));
    seen.push_back(v);
  }
  EXPECT_EQ(seen, (std::vector<double>{1.0, 2.0, 0.0, 0.0}));
  EXPECT_GE(array->set_capacity(6), 6);
  EXPECT_EQ(array->size(), 6);
}

TEST_P(ArrayKindTest, ClearZeroesElementsButKeepsSizeAndMap) {
  const Kind& k = GetParam();
  auto array = k.make(2);
  k.set(array.get(), 0, 3.0);
  k.set(array.get(), 1, 4.0);
  k.put_key(array.get(), "kept", 5.0);
  array->clear();
  EXPECT_EQ(array->size(), 2);
  for (t_CPWORD i = 0; i < 2; i++) {
    double v = -1;
    ASSERT_TRUE(k.get(array.get(), i, &v));
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_EQ(k.get_key(array.get(), "kept"), 5.0);
}

TEST_P(ArrayKindTest, ReadingAKeyNeverInsertsAddressingDoes) {
  const Kind& k = GetParam();
  auto array = k.make(0);
  EXPECT_EQ(k.get_key(array.get(), "missing"), 0.0);
  EXPECT_EQ(array->find("missing"), 0);
  k.put_key(array.get(), "there", 6.0);
  EXPECT_EQ(k.get_key(array.get(), "there"), 6.0);
  EXPECT_EQ(array->find("there"), 1);
  EXPECT_EQ(array->erase("there"), 1);
  EXPECT_EQ(array->erase("there"), 0);
  EXPECT_EQ(array->find("there"), 0);
  // The key part is separate from the indexed part.
  EXPECT_EQ(array->size(), 0);
}

TEST_P(ArrayKindTest, ZeroingPastTheSizeIsAnEngineFault) {
  const Kind& k = GetParam();
  auto array = k.make(0);
  for (double v : {1.0, 2.0, 3.0}) k.push(array.get(), v);
  ASSERT_GT(array->capacity(), array->size());
  EXPECT_DEATH(k.zero(array.get(), 0, static_cast<t_CPUWORD>(array->size()) + 1), "internal error");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArrayKindTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param.name);
                         });

TEST(ArrayTest, NegativeSizesAreEngineFaults) {
  EXPECT_DEATH(Chip_Array8(-1), "capacity >= 0");
  Chip_Array4 ints(FALSE, 1);
  EXPECT_DEATH(ints.set_size(-1), "size >= 0");
}

TEST(ArrayTest, ElementKindFollowsTheTypeKind) {
  struct Case {
    Chip_Type* type;
    t_CPWORD kind;
  } const cases[] = {
      {&t_int, CHIP_ARRAY_KIND_WORD},      {&t_float, CHIP_ARRAY_KIND_FLOAT},
      {&t_time, CHIP_ARRAY_KIND_FLOAT},    {&t_dur, CHIP_ARRAY_KIND_FLOAT},
      {&t_complex, CHIP_ARRAY_KIND_COMPLEX}, {&t_polar, CHIP_ARRAY_KIND_COMPLEX},
      {&t_string, CHIP_ARRAY_KIND_WORD},   {&t_object, CHIP_ARRAY_KIND_WORD},
      {&t_event, CHIP_ARRAY_KIND_WORD},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chip_array_kind(c.type), c.kind) << c.type->name;
  }
}

TEST(ArrayTest, IntArraysStoreSignExtendedWordsUntouched) {
  // Integers are not references: nothing is counted when they are stored,
  // replaced or dropped (a count would dereference them).
  Chip_Array4 ints(FALSE, 2);
  t_CPWORD minus_one = -1;
  EXPECT_EQ(ints.set(0, static_cast<t_CPUWORD>(minus_one)), 1);
  EXPECT_EQ(ints.set(0, 0x1234), 1);
  ints.push_back(static_cast<t_CPUWORD>(t_CPWORD{-7}));
  *ints.addr("k") = 0x4321;
  t_CPUWORD w = 0;
  ASSERT_EQ(ints.get(2, &w), 1);
  EXPECT_EQ(static_cast<t_CPWORD>(w), -7);
  EXPECT_EQ(ints.pop_back(), 1);
  EXPECT_EQ(ints.erase("k"), 1);
  ints.set_size(0);
}

// Object arrays hold one reference per stored element.
class ObjectArrayTest : public ::testing::Test {
 protected:
  // A probe the test itself holds (count 1).
  ArrayProbe* held() {
    ArrayProbe* p = new ArrayProbe(&deaths);
    p->add_ref();
    return p;
  }
  int deaths = 0;
};

TEST_F(ObjectArrayTest, SetReferencesTheNewAndReleasesTheOld) {
  auto* array = new Chip_Array4(TRUE, 2);
  ArrayProbe* a = held();
  ArrayProbe* b = held();
  ASSERT_EQ(array->set(0, word(a)), 1);
  EXPECT_EQ(a->m_ref_count, 2u);
  // Over itself: alive, count unchanged.
  ASSERT_EQ(array->set(0, word(a)), 1);
  EXPECT_EQ(a->m_ref_count, 2u);
  ASSERT_EQ(array->set(0, word(b)), 1);
  EXPECT_EQ(a->m_ref_count, 1u);
  EXPECT_EQ(b->m_ref_count, 2u);
  // An element only the array holds goes with it.
  ASSERT_EQ(array->set(1, word(a)), 1);
  a->release();
  EXPECT_EQ(deaths, 0);
  ASSERT_EQ(array->set(1, 0), 1);
  EXPECT_EQ(deaths, 1);
  // Refused stores take no reference.
  EXPECT_EQ(array->set(2, word(b)), 0);
  EXPECT_EQ(b->m_ref_count, 2u);
  delete array;
  EXPECT_EQ(b->m_ref_count, 1u);
  b->release();
  EXPECT_EQ(deaths, 2);
}

TEST_F(ObjectArrayTest, DroppingElementsReleasesEachOnce) {
  // Each way of dropping an element, on an array holding the only
  // reference of four probes and the test's references of two more.
  struct Case {
    const char* name;
    void (*drop)(Chip_Array4* array);
    int freed;  // of the four slots 0..3
  } const cases[] = {
      {"zero 1..3", [](Chip_Array4* a) { a->zero(1, 3); }, 2},
      {"clear", [](Chip_Array4* a) { a->clear(); }, 4},
      {"pop_back", [](Chip_Array4* a) { a->pop_back(); }, 1},
      {"set_size 2", [](Chip_Array4* a) { a->set_size(2); }, 2},
      {"set_capacity 0", [](Chip_Array4* a) { a->set_capacity(0); }, 4},
      {"erase key", [](Chip_Array4* a) { a->erase("key"); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    deaths = 0;
    auto* array = new Chip_Array4(TRUE, 4);
    for (t_CPWORD i = 0; i < 4; i++) {
      ArrayProbe* p = held();
      array->set(i, word(p));
      p->release();
    }
    // The key part takes its reference from the caller (stores through addr).
    ArrayProbe* keyed = held();
    *array->addr("key") = word(keyed);
    keyed->add_ref();
    c.drop(array);
    EXPECT_EQ(deaths, c.freed);
    bool erased = array->find("key") == 0;
    EXPECT_EQ(keyed->m_ref_count, erased ? 1u : 2u);
    // Destruction releases what remains, in both parts.
    delete array;
    EXPECT_EQ(deaths, 4);
    EXPECT_EQ(keyed->m_ref_count, 1u);
    keyed->release();
  }
}

TEST_F(ObjectArrayTest, PushBackHandsTheCallersReferenceToTheArray) {
  auto* array = new Chip_Array4(TRUE, 0);
  ArrayProbe* p = held();
  array->push_back(word(p));
  EXPECT_EQ(p->m_ref_count, 1u);
  // The reference pushed in is the one pop_back gives back.
  EXPECT_EQ(array->pop_back(), 1);
  EXPECT_EQ(deaths, 1);
  p = held();
  array->push_back(word(p));
  array->push_back(0);  // a null element is fine
  delete array;
  EXPECT_EQ(deaths, 2);
}

}  // namespace
