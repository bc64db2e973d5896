// Object creation: the run-time class chosen for each type, the virtual
// table, member storage and type reference every object gets, and the
// behaviour and channel nodes of unit generators.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>

#include "chip/lib/ugen_xxx.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_lang.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "type_check_support.h"
#include "xxx_module_support.h"

namespace {

class InstantiateTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(load_xxx_module(env, TEST_SRATE));
  }
  void TearDown() override {
    xxx_forget_types();
    TypeCheckTest::TearDown();
  }

  // The class a checked program declared in the global namespace.
  Chip_Type* declared(const std::string& source, const std::string& name) {
    CheckResult result = check_program(source);
    EXPECT_TRUE(result.ok);
    return env->global()->lookup_type(name, -1);
  }
};

TEST_F(InstantiateTest, EachKindOfTypeGetsItsRunTimeClass) {
  Chip_Type* my_event = declared("public class MyEvent extends Event { int n; }", "MyEvent");
  ASSERT_NE(my_event, nullptr);
  struct Case {
    Chip_Type* type;
    const std::type_info& made;
  } const cases[] = {
      {&t_object, typeid(Chip_Object)}, {&t_string, typeid(Chip_String)},
      {&t_event, typeid(Chip_Event)},   {my_event, typeid(Chip_Event)},
      {&t_shred, typeid(Chip_VM_Shred)}, {&t_ugen, typeid(Chip_UGen)},
      {g_t_dac, typeid(Chip_UGen)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type->name);
    t_CPUWORD type_refs = c.type->m_ref_count;
    Chip_Object* obj = instantiate_and_initialize_object(c.type, nullptr);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(typeid(*obj), c.made);
    // The receiver takes the first reference.
    EXPECT_EQ(obj->m_ref_count, 0u);
    EXPECT_EQ(obj->type_ref, c.type);
    EXPECT_EQ(c.type->m_ref_count, type_refs + 1);
    obj->add_ref();
    obj->release();
    EXPECT_EQ(c.type->m_ref_count, type_refs);
  }
}

TEST_F(InstantiateTest, AnObjectSharesItsClassTableAndGetsZeroedMembers) {
  Chip_Type* foo = declared(
      "public class Foo { int a; float b; string s; fun void f() {} fun int g() { return 1; } }",
      "Foo");
  ASSERT_NE(foo, nullptr);
  ASSERT_GT(foo->obj_size, 0u);
  // Object's members come first (toString).
  const size_t inherited = t_object.info->obj_v_table.funcs.size();
  ASSERT_EQ(foo->info->obj_v_table.funcs.size(), inherited + 2);
  Chip_Object* obj = instantiate_and_initialize_object(foo, nullptr);
  ASSERT_NE(obj, nullptr);
  obj->add_ref();
  ASSERT_NE(obj->vtable, nullptr);
  // The class's own table, shared by its objects.
  EXPECT_EQ(obj->vtable, &foo->info->obj_v_table);
  EXPECT_FALSE(obj->owns_vtable);
  EXPECT_EQ(obj->size, foo->obj_size);
  ASSERT_NE(obj->data, nullptr);
  for (t_CPUWORD i = 0; i < obj->size; i++) EXPECT_EQ(obj->data[i], 0) << i;
  // A second object uses the same table; freeing either leaves it alone.
  Chip_Object* other = instantiate_and_initialize_object(foo, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->vtable, obj->vtable);
  other->add_ref();
  other->release();
  obj->release();
  EXPECT_EQ(foo->info->obj_v_table.funcs.size(), inherited + 2);

  // A plain object has only Object's hidden string slot, null.
  Chip_Object* plain = instantiate_and_initialize_object(&t_object, nullptr);
  EXPECT_EQ(plain->size, sizeof(Chip_Object*));
  ASSERT_NE(plain->data, nullptr);
  EXPECT_EQ(*reinterpret_cast<Chip_Object**>(plain->data), nullptr);
  plain->add_ref();
  plain->release();
}

TEST_F(InstantiateTest, AStringStartsEmpty) {
  auto* s = static_cast<Chip_String*>(instantiate_and_initialize_object(&t_string, nullptr));
  s->add_ref();
  EXPECT_EQ(s->str, "");
  s->release();
}

TEST_F(InstantiateTest, AUnitGeneratorTakesItsClassBehaviour) {
  Chip_UGen* ugen = static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, nullptr));
  ugen->add_ref();
  EXPECT_EQ(ugen->tick, t_ugen.ugen_info->tick);
  EXPECT_NE(ugen->tick, nullptr);
  EXPECT_EQ(ugen->multi_chan_size, 0u);
  EXPECT_EQ(ugen->shred, nullptr);
  EXPECT_FALSE(ugen->is_uana);
  ugen->release();
}

// A tock function, to make the UAna class an analyser class.
unsigned long test_tock(Chip_Object*, Chip_UAna*, Chip_UAnaBlobProxy*, Chip_VM_Shred*) { return 1; }

TEST_F(InstantiateTest, AClassWithATockMakesAnAnalyser) {
  ASSERT_NE(t_uana.ugen_info, nullptr);
  f_tock saved = t_uana.ugen_info->tock;
  t_uana.ugen_info->tock = test_tock;
  Chip_Object* obj = instantiate_and_initialize_object(&t_uana, nullptr);
  t_uana.ugen_info->tock = saved;
  ASSERT_EQ(typeid(*obj), typeid(Chip_UAna));
  auto* uana = static_cast<Chip_UAna*>(obj);
  uana->add_ref();
  EXPECT_EQ(uana->tock, test_tock);
  EXPECT_TRUE(uana->is_uana);
  uana->release();
}

TEST_F(InstantiateTest, AMultichannelNodeOwnsOneNodePerChannel) {
  Chip_UGen* dac = static_cast<Chip_UGen*>(instantiate_and_initialize_object(g_t_dac, nullptr));
  dac->add_ref();
  ASSERT_EQ(dac->multi_chan_size, 2u);
  for (unsigned long i = 0; i < 2; i++) {
    Chip_UGen* chan = dac->multi_chan[i];
    ASSERT_NE(chan, nullptr);
    EXPECT_NE(chan, dac);
    EXPECT_EQ(typeid(*chan), typeid(Chip_UGen));
    EXPECT_EQ(chan->type_ref, &t_ugen);
    EXPECT_EQ(chan->owner, dac);
    EXPECT_EQ(chan->m_ref_count, 1u);
    EXPECT_EQ(chan->multi_chan_size, 0u);
  }
  EXPECT_NE(dac->multi_chan[0], dac->multi_chan[1]);
  // Releasing the node frees its channels with it (AddressSanitizer sees
  // any that stay).
  dac->release();
}

// Creation for a running shred: with a machine that processes blocks.
class InstantiateForShredTest : public InstantiateTest {
 protected:
  void SetUp() override {
    InstantiateTest::SetUp();
    vm = new Chip_VM();
    vm->add_ref();
    ASSERT_TRUE(vm->initialize(FALSE, FALSE, 16000, 256, 4, 0, 0, 2, 2, TRUE, 64));
    g_vm = vm;
    auto* code = new Chip_VM_Code();
    code->instr = new Chip_Instr*[0];
    shred = vm->spork(code, nullptr);
    shred->add_ref();
  }
  void TearDown() override {
    vm->free(shred, TRUE, TRUE);
    vm->release_dump();
    shred->release();
    vm->shutdown();
    Chip_VM_Object::lock_all();
    g_vm = nullptr;
    vm->release();
    InstantiateTest::TearDown();
  }
  Chip_VM* vm = nullptr;
  Chip_VM_Shred* shred = nullptr;
};

TEST_F(InstantiateForShredTest, NodesAreSizedForTheBlockAndOwnedByTheShred) {
  Chip_UGen* adc = static_cast<Chip_UGen*>(instantiate_and_initialize_object(g_t_adc, shred));
  adc->add_ref();
  EXPECT_EQ(adc->shred, shred);
  EXPECT_EQ(adc->size_v, 64u);
  EXPECT_NE(adc->current_v, nullptr);
  // The class's block tick and flags come with its tick (UGen's, inherited).
  EXPECT_EQ(adc->tick, &__ugen_tick);
  EXPECT_EQ(adc->tick_v, &__ugen_tick_v);
  EXPECT_EQ(adc->block, static_cast<unsigned long>(CHIP_BLOCK_EXACT));
  // The node and its two channel nodes are the shred's.
  ASSERT_EQ(adc->multi_chan_size, 2u);
  EXPECT_EQ(shred->ugens.size(), 3u);
  EXPECT_EQ(shred->ugens.count(adc), 1u);
  for (unsigned long i = 0; i < 2; i++) {
    EXPECT_EQ(adc->multi_chan[i]->shred, shred);
    EXPECT_EQ(shred->ugens.count(adc->multi_chan[i]), 1u);
  }
  // Freed nodes leave the shred's registry.
  adc->release();
  EXPECT_TRUE(shred->ugens.empty());

  // Without a shred the machine is g_vm: the same block size, no owner.
  auto* free_node = static_cast<Chip_UGen*>(instantiate_and_initialize_object(&t_ugen, nullptr));
  free_node->add_ref();
  EXPECT_EQ(free_node->size_v, 64u);
  EXPECT_EQ(free_node->shred, nullptr);
  EXPECT_TRUE(shred->ugens.empty());
  free_node->release();
}

}  // namespace
