// Object and array instructions, run as hand-assembled code on a real
// machine: instantiation, allocation of nested arrays and the
// pre-constructor loop over their objects, array literals, indexed,
// multi-dimensional and keyed access, appending, and every run-time error
// (its exact text, the shred stopped, the machine going on). Reference
// counts are checked directly; AddressSanitizer sees any object freed too
// early or never.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <typeinfo>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<std::string> Lines;
typedef std::vector<Chip_Instr*> Instrs;

template <typename T>
void put(Chip_Shred_Stack* reg, T value) {
  std::memcpy(reg->sp, &value, sizeof value);
  reg->sp += sizeof value;
}

template <typename T>
T pop(Chip_Shred_Stack* reg) {
  T value;
  reg->sp -= sizeof value;
  std::memcpy(&value, reg->sp, sizeof value);
  return value;
}

template <typename T>
t_CPWORD word(T* ptr) {
  return reinterpret_cast<t_CPWORD>(ptr);
}

class ObjectInstrTest : public VMTest {
 protected:
  void TearDown() override {
    // Before the machines and the types go.
    for (Chip_Object* obj : kept) {
      if (obj) obj->release();
    }
    VMTest::TearDown();
  }

  // The class a checked program declared in the global namespace.
  Chip_Type* declare(const std::string& source, const std::string& name) {
    CheckResult result = check_program(source);
    EXPECT_TRUE(result.ok);
    return env->global()->lookup_type(name, -1);
  }

  // An object the test holds (one reference) until TearDown.
  template <typename T>
  T* hold(T* obj) {
    obj->add_ref();
    kept.push_back(obj);
    return obj;
  }

  // Test instructions that stand in for the rest of the instruction set.
  static Chip_Instr* push(t_CPWORD w) {
    return new Do([w](Chip_VM*, Chip_VM_Shred* s) { put(s->reg, w); });
  }
  static Chip_Instr* push_float(t_CPFLOAT d) {
    return new Do([d](Chip_VM*, Chip_VM_Shred* s) { put(s->reg, d); });
  }
  static Chip_Instr* push_complex(t_CPFLOAT re, t_CPFLOAT im) {
    return new Do([re, im](Chip_VM*, Chip_VM_Shred* s) { put(s->reg, t_CPCOMPLEX{re, im}); });
  }
  // Pushes the object the test kept at position i.
  Chip_Instr* push_kept(size_t i) {
    return new Do([this, i](Chip_VM*, Chip_VM_Shred* s) { put(s->reg, word(kept.at(i))); });
  }
  // Pops an object into kept (the test's reference).
  Chip_Instr* keep() {
    return new Do([this](Chip_VM*, Chip_VM_Shred* s) {
      auto* obj = reinterpret_cast<Chip_Object*>(pop<t_CPWORD>(s->reg));
      if (obj) obj->add_ref();
      kept.push_back(obj);
    });
  }
  template <typename T>
  static Chip_Instr* take(T* out) {
    return new Do([out](Chip_VM*, Chip_VM_Shred* s) { *out = pop<T>(s->reg); });
  }
  // Pops an address and stores value through it.
  template <typename T>
  static Chip_Instr* store(T value) {
    return new Do([value](Chip_VM*, Chip_VM_Shred* s) {
      *reinterpret_cast<T*>(pop<t_CPWORD>(s->reg)) = value;
    });
  }

  // Runs the instructions as one shred to its end; returns what was
  // printed. The shred must reach its end with an empty register stack.
  Lines run(Instrs instrs) {
    Chip_VM* vm = make_vm(TRUE, 0, FALSE);
    t_CPWORD depth = -1;
    instrs.push_back(new Do([&depth](Chip_VM*, Chip_VM_Shred* s) {
      depth = s->reg->sp - s->reg->stack;
    }));
    // The end of the statement: its temporaries go.
    instrs.push_back(new Chip_Instr_Release_Temps);
    instrs.push_back(new End);
    vm->spork(code("test.chip", instrs), nullptr);
    Lines lines = printed_lines([&] { vm->compute(); });
    EXPECT_EQ(depth, 0) << "the shred did not end balanced";
    return lines;
  }

  // Runs the instructions as shred 1 ("bad.chip"), whose last instruction
  // must stop it, then shred 2 ("good.chip"); returns what was printed.
  Lines run_failing(Instrs instrs) {
    Chip_VM* vm = make_vm(TRUE, 0, FALSE);
    instrs.push_back(new Mark(&trace, "after"));
    instrs.push_back(new End);
    vm->spork(code("bad.chip", instrs), nullptr);
    vm->spork(code("good.chip", {new Mark(&trace, "good"), new End}), nullptr);
    Lines lines = printed_lines([&] { vm->compute(); });
    // Nothing after the failing instruction ran, the next shred did, and
    // both were freed.
    EXPECT_EQ(trace, Trace{"good@0"});
    EXPECT_EQ(vm->num_shreds(), 0u);
    trace.clear();
    return lines;
  }

  std::vector<Chip_Object*> kept;
};

// ---------------------------------------------------------------------------
// Names and dump texts

TEST_F(ObjectInstrTest, NamesAndParamsOfEveryClass) {
  // Type names at the cut-off lengths of the two array-building texts.
  std::string n63 = "C" + std::string(62, 'a'), n64 = "C" + std::string(63, 'b');
  std::string n44 = "D" + std::string(43, 'c'), n45 = "D" + std::string(44, 'd');
  for (const std::string& n : {n63, n64, n44, n45}) {
    ASSERT_TRUE(check_program("public class " + n + " {}").ok);
  }
  auto type = [&](const std::string& n) { return env->global()->lookup_type(n, -1); };

  struct Case {
    Chip_Instr* instr;
    const char* name;
    std::string params;
  } cases[] = {
      {new Chip_Instr_Instantiate_Object(&t_event), "Chip_Instr_Instantiate_Object", "Event"},
      {new Chip_Instr_Pre_Ctor_Array_Top(&t_object, 7), "Chip_Instr_Pre_Ctor_Array_Top",
       "val=7, type=\"Object\""},
      {new Chip_Instr_Pre_Ctor_Array_Top(nullptr), "Chip_Instr_Pre_Ctor_Array_Top",
       "val=0, type=\"[empty]\""},
      {new Chip_Instr_Pre_Ctor_Array_Bottom(3), "Chip_Instr_Pre_Ctor_Array_Bottom", "3"},
      {new Chip_Instr_Pre_Ctor_Array_Post, "Chip_Instr_Pre_Ctor_Array_Post", ""},
      {new Chip_Instr_Array_Alloc(2, &t_float, 16, FALSE), "Chip_Instr_Array_Alloc", "float"},
      {new Chip_Instr_Array_Alloc(1, type(n63), 0, FALSE), "Chip_Instr_Array_Alloc", n63},
      {new Chip_Instr_Array_Alloc(1, type(n64), 0, TRUE), "Chip_Instr_Array_Alloc",
       n64.substr(0, 60) + "..."},
      {new Chip_Instr_Array_Init(&t_int, 3), "Chip_Instr_Array_Init", "int[3]"},
      {new Chip_Instr_Array_Init(type(n44), 12), "Chip_Instr_Array_Init", n44 + "[12]"},
      {new Chip_Instr_Array_Init(type(n45), 2), "Chip_Instr_Array_Init",
       n45.substr(0, 45) + "...[2]"},
      {new Chip_Instr_Array_Access(8, 1), "Chip_Instr_Array_Access",
       "size=8, emit_addr=1 istr=0"},
      {new Chip_Instr_Array_Map_Access(16, 0), "Chip_Instr_Array_Map_Access",
       "size=16, emit_addr=0"},
      {new Chip_Instr_Array_Access_Multi(3, 4, 1), "Chip_Instr_Array_Access_Multi",
       "depth=3, size=4, emit_addr=1"},
      {new Chip_Instr_Array_Append(16), "Chip_Instr_Array_Append", "16"},
  };
  for (Case& c : cases) {
    EXPECT_STREQ(c.instr->name(), c.name);
    EXPECT_EQ(c.instr->params(), c.params) << c.name;
    delete c.instr;
  }
}

// ---------------------------------------------------------------------------
// Instantiation and allocation

TEST_F(ObjectInstrTest, InstantiationPushesAnUnreferencedObjectOfTheType) {
  Chip_Type* foo = declare("public class Foo { int x; float y; }", "Foo");
  ASSERT_NE(foo, nullptr);
  EXPECT_EQ(run({new Chip_Instr_Instantiate_Object(foo), keep(),
                 new Chip_Instr_Instantiate_Object(&t_string), keep()}),
            Lines{});
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(typeid(*kept[0]), typeid(Chip_Object));
  EXPECT_EQ(kept[0]->type_ref, foo);
  EXPECT_EQ(kept[0]->size, foo->obj_size);
  EXPECT_EQ(typeid(*kept[1]), typeid(Chip_String));
  // The test's reference is the only one.
  EXPECT_EQ(kept[0]->m_ref_count, 1u);
  EXPECT_EQ(kept[1]->m_ref_count, 1u);
}

// The innermost arrays are chosen by the element type's kind: int and float
// are both 8 bytes wide, yet only a float array stores doubles.
TEST_F(ObjectInstrTest, EachElementKindAllocatesItsArrayClass) {
  struct Case {
    Chip_Type* type;
    const std::type_info& made;
    bool is_obj;
  } const cases[] = {
      {&t_int, typeid(Chip_Array4), false},     {&t_float, typeid(Chip_Array8), false},
      {&t_time, typeid(Chip_Array8), false},    {&t_dur, typeid(Chip_Array8), false},
      {&t_complex, typeid(Chip_Array16), false}, {&t_polar, typeid(Chip_Array16), false},
      {&t_object, typeid(Chip_Array4), true},   {&t_string, typeid(Chip_Array4), true},
  };
  Instrs instrs;
  for (const Case& c : cases) {
    // A reference declaration: no elements are made.
    instrs.insert(instrs.end(), {push(3), new Chip_Instr_Array_Alloc(1, c.type, 0, TRUE), keep()});
  }
  EXPECT_EQ(run(instrs), Lines{});
  ASSERT_EQ(kept.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(cases[i].type->name);
    auto* array = static_cast<Chip_Array*>(kept[i]);
    EXPECT_EQ(typeid(*array), cases[i].made);
    EXPECT_EQ(array->size(), 3);
    EXPECT_EQ(array->type_ref, &t_array);
    if (cases[i].made == typeid(Chip_Array4)) {
      auto* words = static_cast<Chip_Array4*>(array);
      EXPECT_EQ(words->m_is_obj != 0, cases[i].is_obj);
      for (t_CPWORD j = 0; j < 3; j++) EXPECT_EQ(words->m_vector[j], 0u);
    }
  }
}

TEST_F(ObjectInstrTest, NestedArraysAreAllocatedAndReachedByEveryForm) {
  t_CPWORD direct = 0, multi = 0, row_item = 0;
  t_CPFLOAT f = 0.0;
  t_CPCOMPLEX c{0, 0};
  EXPECT_EQ(run({
                // int a[2][3]; a[1][2] = 42 (through an address)
                push(2), push(3), new Chip_Instr_Array_Alloc(2, &t_int, 0, FALSE), keep(),  //
                push_kept(0), push(1), push(2), new Chip_Instr_Array_Access_Multi(2, 4, 1),
                store<t_CPWORD>(42),
                // the value through both forms of access
                push_kept(0), push(1), push(2), new Chip_Instr_Array_Access_Multi(2, 4, 0),
                take(&multi),                                                      //
                push_kept(0), push(1), new Chip_Instr_Array_Access(4, 0), keep(),  // a[1]
                push_kept(1), push(2), new Chip_Instr_Array_Access(4, 0), take(&direct),
                push_kept(1), push(0), new Chip_Instr_Array_Access(4, 0), take(&row_item),
                // float b[2][2][2]; b[1][0][1] = 2.5; complex c[2][1]; c[1][0] = #(1, -2)
                push(2), push(2), push(2), new Chip_Instr_Array_Alloc(3, &t_float, 0, FALSE),
                keep(),  //
                push_kept(2), push(1), push(0), push(1), new Chip_Instr_Array_Access_Multi(3, 8, 1),
                store<t_CPFLOAT>(2.5),  //
                push_kept(2), push(1), push(0), push(1), new Chip_Instr_Array_Access_Multi(3, 8, 0),
                take(&f),  //
                push(2), push(1), new Chip_Instr_Array_Alloc(2, &t_complex, 0, FALSE), keep(),
                push_kept(3), push(1), push(0), new Chip_Instr_Array_Access_Multi(2, 16, 1),
                store(t_CPCOMPLEX{1, -2}),  //
                push_kept(3), push(1), push(0), new Chip_Instr_Array_Access_Multi(2, 16, 0),
                take(&c),
            }),
            Lines{});
  EXPECT_EQ(multi, 42);
  EXPECT_EQ(direct, 42);
  EXPECT_EQ(row_item, 0);
  EXPECT_EQ(f, 2.5);
  EXPECT_EQ(c.re, 1.0);
  EXPECT_EQ(c.im, -2.0);

  // The outer array holds its rows, one reference each.
  auto* outer = static_cast<Chip_Array4*>(kept[0]);
  ASSERT_EQ(outer->size(), 2);
  EXPECT_TRUE(outer->m_is_obj);
  for (t_CPWORD i = 0; i < 2; i++) {
    auto* row = reinterpret_cast<Chip_Array4*>(outer->m_vector[i]);
    ASSERT_EQ(typeid(*row), typeid(Chip_Array4));
    EXPECT_FALSE(row->m_is_obj);
    EXPECT_EQ(row->size(), 3);
    // Row 1 is also held by the test.
    EXPECT_EQ(row->m_ref_count, i == 1 ? 2u : 1u);
  }
  EXPECT_EQ(kept[1], reinterpret_cast<Chip_Object*>(outer->m_vector[1]));
}

TEST_F(ObjectInstrTest, EmptyArraysAreAllocated) {
  Chip_Type* foo = declare("public class Foo { int x; }", "Foo");
  EXPECT_EQ(run({push(0), new Chip_Instr_Array_Alloc(1, &t_int, 0, FALSE), keep(),
                 // an object array of size 0: no table, the loop runs no time
                 push(0), new Chip_Instr_Array_Alloc(1, foo, 0, FALSE),
                 new Chip_Instr_Pre_Ctor_Array_Top(foo, 8), new Mark(&trace, "loop"),
                 new Chip_Instr_Pre_Ctor_Array_Bottom(5), new Chip_Instr_Pre_Ctor_Array_Post,
                 keep()}),
            Lines{});
  EXPECT_EQ(static_cast<Chip_Array*>(kept[0])->size(), 0);
  EXPECT_EQ(static_cast<Chip_Array*>(kept[1])->size(), 0);
  EXPECT_EQ(trace, Trace{});
}

// Foo f[2][3]: six objects, instantiated in row order, each held once by
// its slot.
TEST_F(ObjectInstrTest, ThePreConstructorLoopFillsEveryObjectSlot) {
  Chip_Type* foo = declare("public class Foo { int x; }", "Foo");
  std::vector<Chip_Object*> made;
  std::vector<t_CPWORD> depths;
  EXPECT_EQ(run({
                push(2), push(3),                              // 0, 1
                new Chip_Instr_Array_Alloc(2, foo, 0, FALSE),  // 2
                new Chip_Instr_Pre_Ctor_Array_Top(foo, 6),     // 3
                new Do([&](Chip_VM*, Chip_VM_Shred* s) {       // 4: the pre-constructor's place
                  made.push_back(*reinterpret_cast<Chip_Object**>(s->reg->sp - sizeof(t_CPWORD)));
                  depths.push_back(s->reg->sp - s->reg->stack);
                }),
                new Chip_Instr_Pre_Ctor_Array_Bottom(3),  // 5
                new Chip_Instr_Pre_Ctor_Array_Post,       // 6
                keep(),
            }),
            Lines{});
  ASSERT_EQ(made.size(), 6u);
  // Array, table, index, count and the object.
  for (t_CPWORD d : depths) EXPECT_EQ(d, 5 * static_cast<t_CPWORD>(sizeof(t_CPWORD)));
  auto* outer = static_cast<Chip_Array4*>(kept[0]);
  for (t_CPWORD i = 0; i < 2; i++) {
    auto* row = reinterpret_cast<Chip_Array4*>(outer->m_vector[i]);
    EXPECT_TRUE(row->m_is_obj);
    for (t_CPWORD j = 0; j < 3; j++) {
      auto* obj = reinterpret_cast<Chip_Object*>(row->m_vector[j]);
      EXPECT_EQ(obj, made[i * 3 + j]);
      EXPECT_EQ(obj->type_ref, foo);
      EXPECT_EQ(obj->m_ref_count, 1u);
    }
  }
}

TEST_F(ObjectInstrTest, AReferenceDeclarationMakesNoObjects) {
  Chip_Type* foo = declare("public class Foo { int x; }", "Foo");
  // Only the array is pushed: no loop operands follow it.
  EXPECT_EQ(run({push(4), new Chip_Instr_Array_Alloc(1, foo, 0, TRUE), keep()}), Lines{});
  auto* array = static_cast<Chip_Array4*>(kept[0]);
  EXPECT_TRUE(array->m_is_obj);
  EXPECT_EQ(array->m_vector, std::vector<t_CPUWORD>(4, 0));
}

// ---------------------------------------------------------------------------
// Literals

TEST_F(ObjectInstrTest, ALiteralMakesAnArrayOfItsValuesInOrder) {
  Instrs make_objects = {new Chip_Instr_Instantiate_Object(&t_object),
                         new Chip_Instr_Instantiate_Object(&t_object)};
  Instrs instrs = {push(1), push(-2), push(3), new Chip_Instr_Array_Init(&t_int, 3), keep(),
                   push_float(0.5), push_float(-1.5), new Chip_Instr_Array_Init(&t_float, 2),
                   keep(), push_complex(1, 2), new Chip_Instr_Array_Init(&t_polar, 1), keep(),
                   new Chip_Instr_Array_Init(&t_int, 0), keep()};
  instrs.insert(instrs.end(), make_objects.begin(), make_objects.end());
  instrs.insert(instrs.end(), {new Chip_Instr_Array_Init(&t_object, 2), keep()});
  EXPECT_EQ(run(instrs), Lines{});

  auto* ints = static_cast<Chip_Array4*>(kept[0]);
  ASSERT_EQ(typeid(*ints), typeid(Chip_Array4));
  EXPECT_FALSE(ints->m_is_obj);
  EXPECT_EQ(ints->m_vector, (std::vector<t_CPUWORD>{1, static_cast<t_CPUWORD>(-2), 3}));
  EXPECT_EQ(ints->type_ref, &t_array);
  auto* floats = static_cast<Chip_Array8*>(kept[1]);
  ASSERT_EQ(typeid(*floats), typeid(Chip_Array8));
  EXPECT_EQ(floats->m_vector, (std::vector<t_CPFLOAT>{0.5, -1.5}));
  auto* polars = static_cast<Chip_Array16*>(kept[2]);
  ASSERT_EQ(typeid(*polars), typeid(Chip_Array16));
  ASSERT_EQ(polars->size(), 1);
  EXPECT_EQ(polars->m_vector[0].re, 1.0);
  EXPECT_EQ(polars->m_vector[0].im, 2.0);
  EXPECT_EQ(static_cast<Chip_Array*>(kept[3])->size(), 0);
  // Each object's one reference is its slot's.
  auto* objects = static_cast<Chip_Array4*>(kept[4]);
  EXPECT_TRUE(objects->m_is_obj);
  ASSERT_EQ(objects->size(), 2);
  for (t_CPUWORD w : objects->m_vector) {
    EXPECT_EQ(reinterpret_cast<Chip_Object*>(w)->m_ref_count, 1u);
  }
}

// ---------------------------------------------------------------------------
// Keyed access

TEST_F(ObjectInstrTest, MapAccessReadsZeroForMissingKeysAndAddressingInserts) {
  auto* floats = hold(new Chip_Array8(2));
  auto* ints = hold(new Chip_Array4(FALSE, 0));
  auto* key = hold(new Chip_String("pitch"));
  auto* other = hold(new Chip_String("other"));
  t_CPFLOAT before = -1, after = -1;
  t_CPWORD i_before = -1, i_after = -1;
  EXPECT_EQ(run({
                push(word(floats)), push(word(key)), new Chip_Instr_Array_Map_Access(8, 0),
                take(&before),  //
                push(word(floats)), push(word(key)), new Chip_Instr_Array_Map_Access(8, 1),
                store<t_CPFLOAT>(440.0),  //
                push(word(floats)), push(word(key)), new Chip_Instr_Array_Map_Access(8, 0),
                take(&after),  //
                push(word(ints)), push(word(other)), new Chip_Instr_Array_Map_Access(4, 0),
                take(&i_before),  //
                push(word(ints)), push(word(other)), new Chip_Instr_Array_Map_Access(4, 1),
                store<t_CPWORD>(-7),  //
                push(word(ints)), push(word(other)), new Chip_Instr_Array_Map_Access(4, 0),
                take(&i_after),
            }),
            Lines{});
  EXPECT_EQ(before, 0.0);
  EXPECT_EQ(after, 440.0);
  EXPECT_EQ(i_before, 0);
  EXPECT_EQ(i_after, -7);
  // The map part only: the indexed part is untouched.
  EXPECT_EQ(floats->m_map.size(), 1u);
  EXPECT_EQ(floats->m_vector, (std::vector<t_CPFLOAT>{0.0, 0.0}));
  EXPECT_EQ(ints->size(), 0);
}

TEST_F(ObjectInstrTest, ReadingAMissingKeyDoesNotInsertIt) {
  auto* floats = hold(new Chip_Array16(0));
  auto* key = hold(new Chip_String("nope"));
  t_CPCOMPLEX value{1, 1};
  EXPECT_EQ(run({push(word(floats)), push(word(key)), new Chip_Instr_Array_Map_Access(16, 0),
                 take(&value)}),
            Lines{});
  EXPECT_EQ(value.re, 0.0);
  EXPECT_EQ(value.im, 0.0);
  EXPECT_EQ(floats->find("nope"), 0);
}

// ---------------------------------------------------------------------------
// Appending

TEST_F(ObjectInstrTest, AppendsChainAndLeaveTheArray) {
  auto* ints = hold(new Chip_Array4(FALSE, 1));
  auto* floats = hold(new Chip_Array8(0));
  auto* complexes = hold(new Chip_Array16(0));
  EXPECT_EQ(run({push(word(ints)), push(5), new Chip_Instr_Array_Append(4), push(-6),
                 new Chip_Instr_Array_Append(4), keep(),  //
                 push(word(floats)), push_float(0.25), new Chip_Instr_Array_Append(8), keep(),
                 push(word(complexes)), push_complex(3, 4), new Chip_Instr_Array_Append(16),
                 keep()}),
            Lines{});
  // The same arrays came back.
  EXPECT_EQ(kept[3], ints);
  EXPECT_EQ(kept[4], floats);
  EXPECT_EQ(kept[5], complexes);
  EXPECT_EQ(ints->m_vector, (std::vector<t_CPUWORD>{0, 5, static_cast<t_CPUWORD>(-6)}));
  EXPECT_EQ(floats->m_vector, (std::vector<t_CPFLOAT>{0.25}));
  ASSERT_EQ(complexes->size(), 1);
  EXPECT_EQ(complexes->m_vector[0].re, 3.0);
  EXPECT_EQ(complexes->m_vector[0].im, 4.0);
}

// An appended object is held by the array: a new one (no other holder)
// lives as long as its slot, a held one gains a reference, and dropping the
// slots gives each reference back.
TEST_F(ObjectInstrTest, AppendRetainsTheObjectsItStores) {
  auto* objects = hold(new Chip_Array4(TRUE, 0));
  auto* shared = hold(new Chip_Object);
  EXPECT_EQ(run({push(word(objects)), new Chip_Instr_Instantiate_Object(&t_event),
                 new Chip_Instr_Array_Append(4), push(word(shared)),
                 new Chip_Instr_Array_Append(4), push(0), new Chip_Instr_Array_Append(4),
                 keep()}),
            Lines{});
  ASSERT_EQ(objects->size(), 3);
  auto* fresh = reinterpret_cast<Chip_Object*>(objects->m_vector[0]);
  EXPECT_EQ(typeid(*fresh), typeid(Chip_Event));
  EXPECT_EQ(fresh->m_ref_count, 1u);
  EXPECT_EQ(objects->m_vector[1], static_cast<t_CPUWORD>(word(shared)));
  EXPECT_EQ(shared->m_ref_count, 2u);
  EXPECT_EQ(objects->m_vector[2], 0u);
  // The null slot, then the shared object's reference, then the fresh
  // object (freed: AddressSanitizer would see a second release).
  EXPECT_EQ(objects->pop_back(), 1);
  EXPECT_EQ(objects->pop_back(), 1);
  EXPECT_EQ(shared->m_ref_count, 1u);
  EXPECT_EQ(objects->pop_back(), 1);
}

// ---------------------------------------------------------------------------
// Run-time errors: each message, the shred stopped, the machine going on.

TEST_F(ObjectInstrTest, EveryRunTimeErrorStopsTheShredAndTheMachineGoesOn) {
  Chip_Type* foo = declare("public class Foo { int x; }", "Foo");
  auto* ints = hold(new Chip_Array4(FALSE, 3));
  auto* floats = hold(new Chip_Array8(2));
  // A two-dimensional array whose second row is null.
  auto* rows = hold(new Chip_Array4(TRUE, 2));
  rows->set(0, static_cast<t_CPUWORD>(word(new Chip_Array4(FALSE, 2))));
  auto* key = hold(new Chip_String("k"));

  const std::string npe_access =
      "[chip](VM): NullPointerException: (array access) in shred[id=1:bad.chip], PC=[";
  const std::string oob = "[chip](VM): ArrayOutofBounds: in shred[id=1:bad.chip], PC=[";
  const std::string note = "[chip](VM):     (note: in shred[id=1:bad.chip])";
  struct Case {
    const char* what;
    Instrs instrs;
    Lines lines;
  } cases[] = {
      {"index at the size",
       {push(word(ints)), push(3), new Chip_Instr_Array_Access(4, 0)},
       {oob + "2], index=[3]"}},
      {"negative index",
       {push(word(floats)), push(-1), new Chip_Instr_Array_Access(8, 1)},
       {oob + "2], index=[-1]"}},
      {"null array", {push(0), push(0), new Chip_Instr_Array_Access(4, 0)}, {npe_access + "2]"}},
      {"null multi-dimensional array",
       {push(0), push(0), push(0), new Chip_Instr_Array_Access_Multi(2, 4, 0)},
       {npe_access + "3]", "[chip](VM): (array dimension where exception occurred: 0)"}},
      {"null row",
       {push(word(rows)), push(1), push(0), new Chip_Instr_Array_Access_Multi(2, 4, 0)},
       {npe_access + "3]", "[chip](VM): (array dimension where exception occurred: 1)"}},
      {"outer index out of bounds",
       {push(word(rows)), push(2), push(0), new Chip_Instr_Array_Access_Multi(2, 4, 1)},
       {oob + "3], index=[2]"}},
      {"inner index out of bounds",
       {push(word(rows)), push(0), push(-5), new Chip_Instr_Array_Access_Multi(2, 4, 0)},
       {oob + "3], index=[-5]"}},
      {"null map",
       {push(0), push(word(key)), new Chip_Instr_Array_Map_Access(8, 0)},
       {"[chip](VM): NullPointerException: (map access) in shred[id=1:bad.chip], PC=[2]"}},
      {"null key",
       {push(word(floats)), push(0), new Chip_Instr_Array_Map_Access(8, 1)},
       {"[chip](VM): NullPointerException: (map access) in shred[id=1:bad.chip], PC=[2]"}},
      {"append to null",
       {push(0), push(5), new Chip_Instr_Array_Append(4)},
       {"[chip](VM): NullPointerException: (array append) in shred[id=1:bad.chip], PC=[2]"}},
      {"negative size",
       {push(-1), new Chip_Instr_Array_Alloc(1, &t_int, 0, FALSE)},
       {"[chip](VM): NegativeArraySize: while allocating arrays...", note}},
      // The inner size is refused before any table is sized from the
      // (negative) product.
      {"negative inner size of objects",
       {push(2), push(-3), new Chip_Instr_Array_Alloc(2, foo, 0, FALSE)},
       {"[chip](VM): NegativeArraySize: while allocating arrays...", note}},
      {"negative size behind an empty dimension",
       {push(0), push(-3), new Chip_Instr_Array_Alloc(2, &t_float, 0, FALSE)},
       {"[chip](VM): NegativeArraySize: while allocating arrays...", note}},
      // 65536 * 65536 exceeds 2^31 - 1 before anything is allocated.
      {"too many objects",
       {push(65536), push(65536), new Chip_Instr_Array_Alloc(2, foo, 0, FALSE)},
       {"[chip](VM): OverFlow: requested array size too big...", note}},
      {"too many ints",
       {push(65536), push(65536), push(1), new Chip_Instr_Array_Alloc(3, &t_int, 0, FALSE)},
       {"[chip](VM): OverFlow: requested array size too big...", note}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run_failing(c.instrs), c.lines);
  }
}

}  // namespace
