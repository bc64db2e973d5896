#include "chip/vm/chip_oo.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

// An object that counts how often it was destroyed (outside the unnamed
// namespace, so that its run-time name reads plainly in the log).
struct OoCounted : Chip_VM_Object {
  explicit OoCounted(int* deaths) : deaths(deaths) {}
  ~OoCounted() override { (*deaths)++; }
  int* deaths;
};

// A link of a chain: holds the next object and lets go of it when freed.
struct OoLink : Chip_VM_Object {
  OoLink(int* deaths, Chip_VM_Object* next) : deaths(deaths), next(next) {
    if (next) next->add_ref();
  }
  ~OoLink() override {
    (*deaths)++;
    if (next) next->release();
  }
  int* deaths;
  Chip_VM_Object* next;
};

namespace {

using Counted = OoCounted;

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ObjectModelTest, CountsFromZeroAndTheLastReleaseFreesOnce) {
  int deaths = 0;
  Counted* obj = new Counted(&deaths);
  EXPECT_EQ(obj->m_ref_count, 0u);
  obj->add_ref();
  obj->add_ref();
  EXPECT_EQ(obj->m_ref_count, 2u);
  obj->release();
  EXPECT_EQ(obj->m_ref_count, 1u);
  EXPECT_EQ(deaths, 0);
  obj->release();
  EXPECT_EQ(deaths, 1);
}

TEST(ObjectModelTest, ReleasingWithoutAReferenceIsAnEngineFault) {
  int deaths = 0;
  Counted obj(&deaths);
  EXPECT_DEATH(obj.release(), "m_ref_count > 0");
}

TEST(ObjectModelTest, LockedObjectsSurviveOnlyWhileLocksAreInEffect) {
  int deaths = 0;
  Counted* obj = new Counted(&deaths);
  obj->lock();
  obj->add_ref();
  EXPECT_DEATH(obj->release(), "internal error: releasing locked VM object!");
  Chip_VM_Object::unlock_all();
  obj->release();
  EXPECT_EQ(deaths, 1);
  Chip_VM_Object::lock_all();
}

TEST(ObjectModelTest, LockSwitchesAreLoggedAtLevelTwo) {
  int saved = g_loglevel;
  g_loglevel = CP_LOG_SYSTEM;
  std::vector<std::string> lines = printed_lines([] {
    Chip_VM_Object::unlock_all();
    Chip_VM_Object::lock_all();
  });
  g_loglevel = saved;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(ends_with(lines[0], "unprotecting special objects...")) << lines[0];
  EXPECT_TRUE(ends_with(lines[1], "locking down special objects...")) << lines[1];
  EXPECT_NE(lines[0].find("(2:"), std::string::npos) << lines[0];
  EXPECT_EQ(Chip_VM_Object::our_locks_in_effect, static_cast<t_CPUWORD>(TRUE));
}

TEST(ObjectModelTest, AllocationLinesPrintOnlyAtTheTopLevels) {
  int deaths = 0;
  int saved = g_loglevel;
  g_loglevel = CP_LOG_ALL;
  std::vector<std::string> lines = printed_lines([&] {
    Counted* obj = new Counted(&deaths);
    obj->add_ref();
    obj->release();
  });
  g_loglevel = saved;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("adding 'OoCounted' (0x"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("freeing 'OoCounted' (0x"), std::string::npos) << lines[1];
  std::vector<std::string> quiet = printed_lines([&] {
    Counted* obj = new Counted(&deaths);
    obj->add_ref();
    obj->release();
  });
  EXPECT_TRUE(quiet.empty());
  EXPECT_EQ(deaths, 2);
}

TEST(ObjectModelTest, AnObjectReleasesItsTypeOnceAndFreesItsData) {
  Chip_Type* type = new Chip_Type(te_user, "Thing", nullptr, CHIP_WORD_SIZE);
  type->add_ref();
  Chip_Object* obj = new Chip_Object();
  EXPECT_EQ(obj->type_ref, nullptr);
  EXPECT_EQ(obj->vtable, nullptr);
  obj->type_ref = type;
  type->add_ref();
  obj->size = 16;
  obj->data = static_cast<unsigned char*>(calloc(1, 16));
  obj->vtable = new Chip_VTable();
  obj->add_ref();
  obj->release();
  EXPECT_EQ(type->m_ref_count, 1u);
  type->release();
}

TEST(ObjectModelTest, ARecordOfAContextIsFreedByItsContextOnly) {
  Chip_Context* context = new Chip_Context();
  Chip_Type* type = context->new_Chip_Type();
  EXPECT_EQ(type->registry, &context->new_types);
  type->add_ref();
  type->release();
  // Still alive and still listed: the context owns it.
  ASSERT_EQ(context->new_types.size(), 1u);
  EXPECT_EQ(context->new_types[0], type);
  EXPECT_EQ(type->id, te_null);
  context->add_ref();
  context->release();  // frees the context and its records
}

// Freeing the head of a long chain frees every link, one after the other:
// the native stack does not grow with the chain's length.
TEST(ObjectModelTest, FreeingALongChainDoesNotNest) {
  int deaths = 0;
  const int length = 1000000;
  Chip_VM_Object* head = nullptr;
  for (int i = 0; i < length; i++) {
    Chip_VM_Object* link = new OoLink(&deaths, head);
    if (head) head->release();
    link->add_ref();
    head = link;
  }
  EXPECT_EQ(deaths, 0);
  head->release();
  EXPECT_EQ(deaths, length);
}

// A log that writes only when it is flushed.
std::string g_pending;
void pending_vlogf(c_constr fmt, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, fmt, args);
  g_pending += text;
}
void pending_flush() {
  std::fputs(g_pending.c_str(), stderr);
  g_pending.clear();
}

void fault_after_a_line() {
  static const EM_Sink sink{pending_vlogf, pending_flush};
  EM_set_sink(&sink);
  EM_printf("the line before the fault\n");
  CHIP_CHECK(1 == 2);
}

// An internal-error abort first writes out what the log still holds, so
// the lines before the fault are not lost.
TEST(ObjectModelDeathTest, AnInternalErrorFlushesTheLogFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(fault_after_a_line(),
               "the line before the fault\n"
               "\\[chip\\]: internal error: .*assertion '1 == 2' failed");
}

}  // namespace
