// The script classes of the integration store: their declaration into a new
// type environment (checked by type-checking programs that use them), the
// static functions of VXIgn over the process's store, and VXign_Queue
// objects over named record queues, including the contract breaches and
// null strings that must answer 0.
#include "vxu/vxign_lang.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "type_check_support.h"
#include "vx_log_capture.h"
#include "vxu/vxign.h"

namespace {

// An argument block: pointer-wide words (ints, references) and doubles.
class Args {
 public:
  Args& word(t_CPWORD w) { return put(&w, sizeof w); }
  Args& ref(const void* p) { return word(reinterpret_cast<t_CPWORD>(p)); }
  Args& dbl(double d) { return put(&d, sizeof d); }
  void* data() { return bytes_.empty() ? nullptr : bytes_.data(); }

 private:
  Args& put(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

class VXIgnClassesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env = fresh_type_env(16000);
    ASSERT_NE(env, nullptr);
    // Each test declares the classes into its own environment.
    Vexel_Integration::instance().vxign_query_called = false;
    Chip_DL_Query query;
    ASSERT_TRUE(vxign_query(&query));
    EXPECT_EQ(query.name, "VXIgn");
    env->global()->commit();
  }

  void TearDown() override {
    for (Chip_Object* o : held) o->release();
    held.clear();
    shutdown_type_env();
  }

  Chip_Object* hold(Chip_Object* o) {
    EXPECT_NE(o, nullptr);
    o->add_ref();
    held.push_back(o);
    return o;
  }
  Chip_String* str(const std::string& text) {
    Chip_Object* o = hold(instantiate_and_initialize_object(&t_string, nullptr));
    auto* s = static_cast<Chip_String*>(o);
    s->str = text;
    return s;
  }
  // A new VXign_Queue object, constructed.
  Chip_Object* queue_object() {
    Chip_Type* type = env->global()->lookup_type(std::string("VXign_Queue"), 0);
    EXPECT_NE(type, nullptr);
    Chip_Object* obj = hold(instantiate_and_initialize_object(type, nullptr));
    std::memset(obj->data + vxign_queue_offset_me, 0x5A, sizeof(t_CPWORD));  // stray bytes
    vxign_queue_ctor(obj, nullptr, nullptr);
    return obj;
  }

  static Chip_DL_Return call(f_sfun fn, Args args) {
    Chip_DL_Return ret;
    fn(args.data(), &ret, nullptr);
    return ret;
  }
  static Chip_DL_Return call(f_mfun fn, Chip_Object* self, Args args = Args()) {
    Chip_DL_Return ret;
    fn(self, args.data(), &ret, nullptr);
    return ret;
  }

  // Type-checks one program as the compiler's front half does.
  static bool check(const std::string& source) { return check_program(source, "vxign.chip").ok; }

  Chip_Env* env = nullptr;
  std::vector<Chip_Object*> held;
};

TEST_F(VXIgnClassesTest, ScriptsSeeTheDeclaredSignatures) {
  Chip_Type* vxign = env->global()->lookup_type(std::string("VXIgn"), 0);
  Chip_Type* queue = env->global()->lookup_type(std::string("VXign_Queue"), 0);
  ASSERT_NE(vxign, nullptr);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(vxign->parent, &t_object);
  EXPECT_EQ(queue->parent, &t_object);
  EXPECT_NE(vxign_queue_offset_me, -1);
  EXPECT_GE(queue->obj_size, vxign_queue_offset_me + sizeof(t_CPWORD));

  EXPECT_TRUE(check(
      "VXIgn.getFloat(\"a\") => float f;\n"
      "VXIgn.setFloat(\"a\", 0.5) => f;\n"
      "VXIgn.getInt(\"b\") => int i;\n"
      "VXIgn.setInt(\"b\", 3) => i;\n"
      "VXIgn.callExternal(\"iPhone: vibrate\");\n"
      "VXign_Queue q;\n"
      "q.register(\"notes\");\n"
      "q.hasMore() => i;\n"
      "q.next();\n"
      "q.getFloatByName(\"gain\") => f;\n"
      "q.getFloatByParamIndex(0) => f;\n"
      "q.getInt(\"note\") => i;\n"));
  struct Wrong {
    const char* source;
  };
  const Wrong wrong[] = {{"VXIgn.setFloat(\"a\");\n"},
                         {"VXIgn.getInt(3);\n"},
                         {"VXIgn.getInt(\"b\") => string s;\n"},
                         {"VXign_Queue q; q.getFloatByParamIndex(\"x\");\n"},
                         {"VXign_Queue q; q.@me;\n"}};
  for (const Wrong& w : wrong) {
    SCOPED_TRACE(w.source);
    printed_lines([&] { EXPECT_FALSE(check(w.source)); });
  }
}

TEST_F(VXIgnClassesTest, SecondDeclarationInOneProcessIsRefused) {
  Chip_DL_Query query;
  std::vector<std::string> lines = printed_lines([&] { EXPECT_FALSE(vxign_query(&query)); });
  EXPECT_EQ(lines, std::vector<std::string>{"vxign.vxign_query_called == false"});
}

TEST_F(VXIgnClassesTest, StaticFunctionsReadAndWriteTheStore) {
  Vexel_Integration& store = Vexel_Integration::instance();
  EXPECT_EQ(call(getFloat_impl, Args().ref(str("lang: never"))).v_float, 0.0);
  EXPECT_EQ(call(getInt_impl, Args().ref(str("lang: never"))).v_int, 0);

  struct Seen {
    int calls = 0;
    double value = -1;
  } seen;
  store.register_set_callback("lang: f", {[](void* u, const char* key) {
                                            auto* s = static_cast<Seen*>(u);
                                            ++s->calls;
                                            s->value = Vexel_Integration::instance().get_float(key);
                                          },
                                          &seen});
  EXPECT_EQ(call(setFloat_impl, Args().ref(str("lang: f")).dbl(0.5)).v_float, 0.5);
  EXPECT_EQ(seen.calls, 1);  // before the call returned, with the new value
  EXPECT_EQ(seen.value, 0.5);
  EXPECT_EQ(store.get_float("lang: f"), 0.5);
  EXPECT_EQ(call(getFloat_impl, Args().ref(str("lang: f"))).v_float, 0.5);

  EXPECT_EQ(call(setInt_impl, Args().ref(str("lang: i")).word(-42)).v_int, -42);
  EXPECT_EQ(store.get_int("lang: i"), -42);
  store.set_int("lang: i", 7);
  EXPECT_EQ(call(getInt_impl, Args().ref(str("lang: i"))).v_int, 7);

  int fired = 0;
  store.register_key_callback("lang: fire", {[](void* u, const char*) { ++*static_cast<int*>(u); },
                                             &fired});
  call(callExternal_impl, Args().ref(str("lang: fire")));
  call(callExternal_impl, Args().ref(str("lang: nobody")));
  EXPECT_EQ(fired, 1);
  // The records point into this test's frame.
  store.register_set_callback("lang: f", {nullptr, nullptr});
  store.register_key_callback("lang: fire", {nullptr, nullptr});
}

TEST_F(VXIgnClassesTest, NullStringsAreNoKey) {
  int fired = 0;
  Vexel_Integration::instance().register_key_callback(
      "", {[](void* u, const char*) { ++*static_cast<int*>(u); }, &fired});
  EXPECT_EQ(call(getFloat_impl, Args().ref(nullptr)).v_float, 0.0);
  EXPECT_EQ(call(setFloat_impl, Args().ref(nullptr).dbl(2.0)).v_float, 0.0);
  EXPECT_EQ(call(getInt_impl, Args().ref(nullptr)).v_int, 0);
  EXPECT_EQ(call(setInt_impl, Args().ref(nullptr).word(5)).v_int, 0);
  call(callExternal_impl, Args().ref(nullptr));
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(Vexel_Integration::instance().get_float(""), 0.0);
  EXPECT_EQ(Vexel_Integration::instance().get_int(""), 0);

  Chip_Object* q = queue_object();
  call(vxign_queue_register_impl, q, Args().ref(nullptr));
  EXPECT_EQ(call(vxign_queue_hasMore_impl, q).v_int, 0);
  Vexel_Integration::instance().register_key_callback("", {nullptr, nullptr});
}

struct Record {
  float gain;
  int32_t note;
};

TEST_F(VXIgnClassesTest, AQueueObjectWithoutAQueueAnswersZero) {
  Chip_Object* unregistered = queue_object();
  Chip_Object* unknown = queue_object();
  // A name new to the process's store (also when the test is repeated).
  static int run = 0;
  std::string name = "lang: no such queue " + std::to_string(++run);
  EXPECT_FALSE(Vexel_Integration::instance().has_queue_entry(name));
  call(vxign_queue_register_impl, unknown, Args().ref(str(name)));
  EXPECT_TRUE(Vexel_Integration::instance().has_queue_entry(name));

  for (Chip_Object* q : {unregistered, unknown}) {
    call(vxign_queue_next_impl, q);
    EXPECT_EQ(call(vxign_queue_hasMore_impl, q).v_int, 0);
    EXPECT_EQ(call(vxign_queue_getFloatByName_impl, q, Args().ref(str("gain"))).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getFloatByParamIndex_impl, q, Args().word(0)).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getInt_impl, q, Args().ref(str("note"))).v_int, 0);
  }
}

TEST_F(VXIgnClassesTest, ARegisteredQueueObjectReadsTheRecords) {
  VXign_Queue queue(sizeof(Record), 8);
  ASSERT_TRUE(queue.declare_member("gain", kVXIgnTypeFloat, offsetof(Record, gain)));
  ASSERT_TRUE(queue.declare_member("note", kVXIgnTypeInt, offsetof(Record, note)));
  Vexel_Integration::instance().set_queue("lang: notes", &queue);

  Chip_Object* q = queue_object();
  call(vxign_queue_register_impl, q, Args().ref(str("lang: notes")));
  EXPECT_EQ(call(vxign_queue_hasMore_impl, q).v_int, 0);
  Record a{0.75f, 64}, b{-0.5f, 67};
  queue.push(&a);
  queue.push(&b);

  EXPECT_EQ(call(vxign_queue_hasMore_impl, q).v_int, 1);
  call(vxign_queue_next_impl, q);
  EXPECT_EQ(call(vxign_queue_getFloatByName_impl, q, Args().ref(str("gain"))).v_float, 0.75);
  EXPECT_EQ(call(vxign_queue_getInt_impl, q, Args().ref(str("note"))).v_int, 64);
  call(vxign_queue_next_impl, q);
  EXPECT_EQ(call(vxign_queue_getFloatByParamIndex_impl, q, Args().word(0)).v_float, -0.5);
  EXPECT_EQ(call(vxign_queue_hasMore_impl, q).v_int, 0);

  // Breaches answer 0 and the process goes on.
  printed_lines([&] {
    EXPECT_EQ(call(vxign_queue_getFloatByParamIndex_impl, q, Args().word(2)).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getFloatByParamIndex_impl, q, Args().word(-1)).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getFloatByParamIndex_impl, q, Args().word(1)).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getFloatByName_impl, q, Args().ref(str("note"))).v_float, 0.0);
    EXPECT_EQ(call(vxign_queue_getInt_impl, q, Args().ref(str("gain"))).v_int, 0);
    EXPECT_EQ(call(vxign_queue_getInt_impl, q, Args().ref(nullptr)).v_int, 0);
  });
  Vexel_Integration::instance().set_queue("lang: notes", nullptr);
}

}  // namespace
