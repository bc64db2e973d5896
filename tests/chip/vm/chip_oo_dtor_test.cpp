// Freeing a language object runs the native destructors of its classes.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_lang.h"
#include "chip/vm/chip_lang_uana.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/hidio.h"
#include "log_capture.h"
#include "module_test_support.h"
#include "type_check_support.h"
#include "vm_test_support.h"

namespace {

// The destructors that ran, in order, and the objects they ran on.
std::vector<std::string> g_ran;
std::vector<Chip_Object*> g_selves;

void note(const char* name, Chip_Object* self) {
  g_ran.push_back(name);
  g_selves.push_back(self);
}

// The base takes and drops a reference to the object, as a destructor that
// unhooks it from a queue would.
void base_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  EXPECT_EQ(SHRED, nullptr);
  SELF->add_ref();
  SELF->release();
  note("base", SELF);
}
void mid_dtor(Chip_Object* SELF, Chip_VM_Shred*) { note("mid", SELF); }
void leaf_dtor(Chip_Object* SELF, Chip_VM_Shred*) { note("leaf", SELF); }
void bad_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  note("bad", SELF);
  throw std::runtime_error("bad dtor gave up");
}

// DtorBase <- DtorMid <- DtorLeaf, DtorMid <- DtorPlain (no destructor of
// its own), DtorBase <- DtorBad (a destructor that throws).
class DtorTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    g_ran.clear();
    g_selves.clear();
    struct Class {
      const char* name;
      const char* parent;
      f_dtor dtor;
    };
    const Class classes[] = {{"DtorBase", "Object", base_dtor},
                             {"DtorMid", "DtorBase", mid_dtor},
                             {"DtorLeaf", "DtorMid", leaf_dtor},
                             {"DtorPlain", "DtorMid", nullptr},
                             {"DtorBad", "DtorBase", bad_dtor}};
    for (const Class& c : classes) {
      ASSERT_NE(type_engine_import_class_begin(env, c.name, c.parent, env->global(), nullptr,
                                               c.dtor),
                nullptr)
          << c.name;
      ASSERT_TRUE(type_engine_import_class_end(env)) << c.name;
    }
    env->global()->commit();
  }

  // A new object of the class, referenced once (its constructor never ran).
  Chip_Object* make(const char* name) {
    Chip_Type* type = env->global()->lookup_type(std::string(name));
    EXPECT_NE(type, nullptr) << name;
    Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
    EXPECT_NE(obj, nullptr) << name;
    obj->add_ref();
    return obj;
  }
};

TEST_F(DtorTest, TheLastReleaseRunsEachDestructorOnceMostDerivedFirst) {
  struct Case {
    const char* type;
    std::vector<std::string> ran;
  };
  const Case cases[] = {{"DtorBase", {"base"}},
                        {"DtorMid", {"mid", "base"}},
                        {"DtorLeaf", {"leaf", "mid", "base"}},
                        {"DtorPlain", {"mid", "base"}}};
  for (const Case& c : cases) {
    g_ran.clear();
    g_selves.clear();
    Chip_Object* obj = make(c.type);
    obj->add_ref();
    obj->release();
    EXPECT_TRUE(g_ran.empty()) << c.type << ": still referenced";
    obj->release();
    EXPECT_EQ(g_ran, c.ran) << c.type;
    for (Chip_Object* self : g_selves) EXPECT_EQ(self, obj) << c.type;
  }
}

TEST_F(DtorTest, AThrowingDestructorIsReportedAndTheOthersStillRun) {
  Chip_Object* obj = make("DtorBad");
  std::vector<std::string> lines = printed_lines([&] { obj->release(); });
  EXPECT_EQ(g_ran, (std::vector<std::string>{"bad", "base"}));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("NativeException"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("bad dtor gave up"), std::string::npos) << lines[0];
}

TEST_F(DtorTest, ObjectsWithoutANamespacedTypeRunNothing) {
  Chip_Object* bare = new Chip_Object;
  bare->add_ref();
  bare->release();
  EXPECT_TRUE(g_ran.empty());
}

// What the built-in classes own goes with the object.
class BuiltinDtorTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    ASSERT_TRUE(init_class_HID(env));
    env->global()->commit();
    vm = make_vm();
    shred = vm->spork(code("s", {new vmtest::End}), nullptr);
    ASSERT_NE(shred, nullptr);
  }

  // A new object of the class, referenced once, with the native
  // pre-constructors of its classes run (base class first).
  Chip_Object* make(const char* name) {
    Chip_Type* type = env->global()->lookup_type(std::string(name));
    EXPECT_NE(type, nullptr) << name;
    Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
    EXPECT_NE(obj, nullptr) << name;
    obj->add_ref();
    construct(obj, type, shred);
    return obj;
  }

  void TearDown() override {
    HidInManager::cleanup();
    VMTest::TearDown();
  }

  Chip_VM* vm = nullptr;
  Chip_VM_Shred* shred = nullptr;
};

TEST_F(BuiltinDtorTest, AnObjectLetsItsCachedStringGo) {
  Chip_Object* obj = make("Object");
  auto* label = static_cast<Chip_String*>(instantiate_and_initialize_object(&t_string, nullptr));
  ASSERT_NE(label, nullptr);
  label->add_ref();  // the test's
  label->add_ref();  // the cache's
  std::memcpy(obj->data + Object_offset_string, &label, sizeof label);
  obj->release();
  EXPECT_EQ(label->m_ref_count, 1u);
  label->release();
}

TEST_F(BuiltinDtorTest, AnAnalyserLetsItsBlobAndTheBlobItsArraysGo) {
  Chip_Object* ana = make("UAna");
  // A plain UAna has no tock: its node is a Chip_UGen, the proxy in its member.
  Chip_UAnaBlobProxy* proxy = nullptr;
  std::memcpy(&proxy, ana->data + uana_offset_blob, sizeof proxy);
  ASSERT_NE(proxy, nullptr);
  Chip_Object* blob = proxy->m_blob;
  Chip_Array8* fvals = &proxy->fvals();
  blob->add_ref();
  fvals->add_ref();
  ana->release();
  EXPECT_EQ(blob->m_ref_count, 1u);
  blob->release();
  EXPECT_EQ(fvals->m_ref_count, 1u);
  fvals->release();
}

// Under the leak checker: nothing of these is left behind.
TEST_F(BuiltinDtorTest, BuiltinObjectsLeaveNothingBehind) {
  for (const char* name : {"UAna", "UAnaBlob", "Pan2", "Mix2", "Gain", "Hid", "HidMsg", "Object"}) {
    Chip_Object* obj = make(name);
    obj->release();
  }
  // Never constructed: every destructor finds 0 in its members.
  for (const char* name : {"UAna", "UAnaBlob", "Hid", "Object"}) {
    Chip_Type* type = env->global()->lookup_type(std::string(name));
    ASSERT_NE(type, nullptr) << name;
    Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
    ASSERT_NE(obj, nullptr) << name;
    obj->add_ref();
    obj->release();
  }
}

}  // namespace
