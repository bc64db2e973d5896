// The analysis classes (UAna, UAnaBlob, the blob proxy) and the device-input
// classes (HidMsg, Hid): what scripts may name, and the native functions
// called as the machine calls them.
#include "chip/vm/chip_lang_uana.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/hidio.h"
#include "log_capture.h"
#include "type_check_support.h"
#include "vm_test_support.h"

namespace {

using vmtest::VMTest;

bool has_text(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// A packed argument block: ints and references one word each, floats one
// double each.
class Args {
 public:
  Args& i(t_CPINT v) { return put(static_cast<t_CPWORD>(v)); }
  Args& f(t_CPFLOAT v) { return put(v); }
  Args& o(Chip_Object* v) { return put(v); }
  void* data() { return m_bytes.empty() ? nullptr : m_bytes.data(); }

 private:
  template <typename T>
  Args& put(T v) {
    size_t at = m_bytes.size();
    m_bytes.resize(at + sizeof v);
    std::memcpy(m_bytes.data() + at, &v, sizeof v);
    return *this;
  }
  std::vector<unsigned char> m_bytes;
};

// ---------------------------------------------------------------------------
// What scripts see.

class UAnaCheckTest : public TypeCheckTest {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    ASSERT_TRUE(init_class_HID(env));
    env->global()->commit();
  }
  void TearDown() override {
    HidIn_forget_tilt_sensor();
    HidInManager::cleanup();
    TypeCheckTest::TearDown();
  }
};

TEST_F(UAnaCheckTest, ScriptsUseTheMembersOfTheClasses) {
  const char* accepted[] = {
      "UAna u; u.upchip() @=> UAnaBlob b; b.when() => time t; b.fvals() @=> float f[];"
      " b.cvals() @=> complex c[]; b.fval(0) => float x; b.cval(1) => complex y;",
      "UAna u; UAna v; u.fvals() @=> float f[]; u.cvals() @=> complex c[]; u.fval(2) => float x;"
      " u.cval(3) => complex y; u.isUpConnectedTo(v) => int k; u.gain(0.5);",
      "UAnaBlob b; b.m_when => time t; b.m_fvals @=> float f[]; b.m_cvals @=> complex c[];",
      "Hid h; HidMsg m; h.openTiltSensor() => int ok; h.openMouse(0); h.open(1, 0);"
      " h.recv(m) => int got; h.read(9, 0, m); h.send(m); h.good(); h.num(); h.name() => string s;"
      " h.printerr(0); h.can_wait();",
      "HidMsg m; m.isWheelMotion() => int w; m.is_axis_motion() + m.isButtonUp() => int k;"
      " m.deltaX + m.axis_position => int d; m.axisPosition + m.scaled_axis_position => float f;"
      " m.when => time t;",
      "Hid.readTiltSensor() @=> int a[]; Hid.globalTiltPollRate(10::ms) => dur d;"
      " Hid.globalTiltPollRate() => dur e; Hid.startCursorTrack() + Hid.stopCursorTrack() => int "
      "k;",
      "Hid.JOYSTICK + Hid.TILT_SENSOR + Hid.ACCELEROMETER + Hid.FORCE_FEEDBACK => int k;",
      "Hid h; h => now;",
  };
  for (const char* source : accepted) {
    CheckResult r = check_program(source);
    EXPECT_TRUE(r.ok) << source << "\n" << (r.lines.empty() ? "" : r.lines[0]);
  }
}

TEST_F(UAnaCheckTest, HiddenAndMissingMembersAreRefused) {
  struct Case {
    const char* source;
    const char* name;  // in the refusal
  };
  const Case refused[] = {
      // The analyser's blob member holds the engine's proxy: not visible.
      {"UAna u; u.m_blob @=> UAnaBlob b;", "m_blob"},
      {"UAna u; u.m_blob.when() => time t;", "m_blob"},
      {"HidMsg m; m.is_wheel_motion();", "is_wheel_motion"},
  };
  for (const Case& c : refused) {
    CheckResult r = check_program(c.source);
    EXPECT_FALSE(r.ok) << c.source;
    EXPECT_TRUE(has_text(r.lines, c.name)) << c.source;
  }
}

TEST_F(UAnaCheckTest, HidInIsADeprecatedNameOfHid) {
  CheckResult r = check_program("HidIn h; h.openTiltSensor();");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(has_text(r.lines, "deprecated: 'HidIn' --> use: 'Hid'..."));
}

// ---------------------------------------------------------------------------
// UAnaBlob

class UAnaBlobTest : public TypeCheckTest {};

TEST_F(UAnaBlobTest, ResultsReadBackAndZeroOutOfRange) {
  Chip_Object* blob = instantiate_and_initialize_object(&t_uanablob, nullptr);
  ASSERT_NE(blob, nullptr);
  blob->add_ref();
  uanablob_ctor(blob, nullptr, nullptr);

  Chip_DL_Return ret;
  uanablob_fvals(blob, nullptr, &ret, nullptr);
  Chip_Array8* fvals = static_cast<Chip_Array8*>(ret.v_object);
  uanablob_cvals(blob, nullptr, &ret, nullptr);
  Chip_Array16* cvals = static_cast<Chip_Array16*>(ret.v_object);
  ASSERT_NE(fvals, nullptr);
  ASSERT_NE(cvals, nullptr);
  EXPECT_EQ(fvals->size(), 8);
  EXPECT_EQ(cvals->size(), 8);
  EXPECT_EQ(fvals->type_ref->array_type, &t_float);
  EXPECT_EQ(cvals->type_ref->array_type, &t_complex);

  // The proxy reaches the same results.
  Chip_UAnaBlobProxy proxy(blob);
  EXPECT_EQ(&proxy.fvals(), fvals);
  EXPECT_EQ(&proxy.cvals(), cvals);
  proxy.when() = 12.5;
  fvals->set(3, 2.5);
  cvals->set(7, t_CPCOMPLEX{1.0, -2.0});

  uanablob_when(blob, nullptr, &ret, nullptr);
  EXPECT_EQ(ret.v_time, 12.5);

  struct Case {
    t_CPINT index;
    t_CPFLOAT fval;
    t_CPCOMPLEX cval;
  };
  const Case cases[] = {{3, 2.5, {0.0, 0.0}},
                        {7, 0.0, {1.0, -2.0}},
                        {0, 0.0, {0.0, 0.0}},
                        {8, 0.0, {0.0, 0.0}},
                        {-1, 0.0, {0.0, 0.0}}};
  for (const Case& c : cases) {
    Args args;
    args.i(c.index);
    ret.v_float = -99.0;
    uanablob_fval(blob, args.data(), &ret, nullptr);
    EXPECT_EQ(ret.v_float, c.fval) << c.index;
    ret.v_complex = t_CPCOMPLEX{-99.0, -99.0};
    uanablob_cval(blob, args.data(), &ret, nullptr);
    EXPECT_EQ(ret.v_complex.re, c.cval.re) << c.index;
    EXPECT_EQ(ret.v_complex.im, c.cval.im) << c.index;
  }

  // The destructor lets the arrays go and clears the members.
  uanablob_dtor(blob, nullptr);
  uanablob_fvals(blob, nullptr, &ret, nullptr);
  EXPECT_EQ(ret.v_object, nullptr);
  uanablob_when(blob, nullptr, &ret, nullptr);
  EXPECT_EQ(ret.v_time, 0.0);
  blob->release();  // the proxy still holds it
}

// ---------------------------------------------------------------------------
// UAna

// Analysis frames: the order analysers computed them in, and the time each
// wrote into its first float result.
std::vector<Chip_UAna*> g_tocks;

unsigned long counting_tock(Chip_Object*, Chip_UAna* uana, Chip_UAnaBlobProxy* blob,
                            Chip_VM_Shred*) {
  g_tocks.push_back(uana);
  blob->fvals().set(0, uana->tock_time + 0.5);
  return 1;
}

class UAnaTest : public VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    g_tocks.clear();
    // An analysis class with the counting tock (a plain UAna has none).
    test_ana = type_engine_import_uana_begin(env, "TestAna", "UAna", env->global(), nullptr,
                                             nullptr, nullptr, counting_tock, nullptr);
    ASSERT_NE(test_ana, nullptr);
    ASSERT_TRUE(type_engine_import_class_end(env));
    env->global()->commit();
    vm = make_vm();
    shred = vm->spork(code("s", {new vmtest::End}), nullptr);
    ASSERT_NE(shred, nullptr);
  }
  void TearDown() override {
    for (Chip_Object* blob : blobs) blob->release();
    for (Chip_UGen* n : held) n->disconnect(TRUE);
    for (Chip_UGen* n : held) n->release();
    VMTest::TearDown();
  }

  // A constructed node of the type (TestAna: an analyser with the counting
  // tock).
  Chip_UGen* node(Chip_Type* type) {
    Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
    EXPECT_NE(obj, nullptr);
    obj->add_ref();
    uana_ctor(obj, nullptr, shred);
    Chip_UGen* n = static_cast<Chip_UGen*>(obj);
    held.push_back(n);
    // Its blob goes after it (its destructor frees what the blob holds).
    Chip_Object* blob = blob_of(n);
    blob->add_ref();
    blobs.push_back(blob);
    return n;
  }
  Chip_UAna* analyser() {
    Chip_UGen* n = node(test_ana);
    EXPECT_TRUE(n->is_uana);
    return static_cast<Chip_UAna*>(n);
  }
  static Chip_Object* blob_of(Chip_UGen* n) {
    Chip_UAnaBlobProxy* proxy = nullptr;
    std::memcpy(&proxy, n->data + uana_offset_blob, sizeof proxy);
    return proxy->m_blob;
  }

  Chip_Object* upchip(Chip_UGen* a, Chip_VM_Shred* caller) {
    Chip_DL_Return ret;
    ret.v_object = nullptr;
    uana_upchip(a, nullptr, &ret, caller);
    return ret.v_object;
  }

  t_CPTIME& now() { return vm->shreduler()->now; }

  Chip_VM* vm = nullptr;
  Chip_VM_Shred* shred = nullptr;
  Chip_Type* test_ana = nullptr;
  std::vector<Chip_UGen*> held;
  std::vector<Chip_Object*> blobs;
};

TEST_F(UAnaTest, ANewAnalyserHasEightZeroResults) {
  Chip_UAna* a = analyser();
  ASSERT_NE(a->blobProxy(), nullptr);
  EXPECT_EQ(a->blobProxy()->m_blob->type_ref, &t_uanablob);
  Chip_DL_Return ret;
  uana_fvals(a, nullptr, &ret, shred);
  EXPECT_EQ(static_cast<Chip_Array8*>(ret.v_object)->size(), 8);
  uana_cvals(a, nullptr, &ret, shred);
  EXPECT_EQ(static_cast<Chip_Array16*>(ret.v_object)->size(), 8);
  for (t_CPINT index : {0, 7, 8, -1}) {
    Args args;
    args.i(index);
    ret.v_float = -1.0;
    uana_fval(a, args.data(), &ret, shred);
    EXPECT_EQ(ret.v_float, 0.0) << index;
    ret.v_complex = t_CPCOMPLEX{-1.0, -1.0};
    uana_cval(a, args.data(), &ret, shred);
    EXPECT_EQ(ret.v_complex.re, 0.0) << index;
    EXPECT_EQ(ret.v_complex.im, 0.0) << index;
  }
}

TEST_F(UAnaTest, UpchipAnalysesOncePerSampleAndAnswersTheBlob) {
  Chip_UAna* a = analyser();
  Chip_Object* blob = a->blobProxy()->m_blob;
  now() = 4.0;
  EXPECT_EQ(upchip(a, shred), blob);
  EXPECT_EQ(upchip(a, shred), blob);
  EXPECT_EQ(g_tocks.size(), 1u);
  EXPECT_EQ(a->blobProxy()->when(), 4.0);
  Args zero;
  zero.i(0);
  Chip_DL_Return ret;
  uana_fval(a, zero.data(), &ret, shred);
  EXPECT_EQ(ret.v_float, 4.5);

  now() = 5.0;
  EXPECT_EQ(upchip(a, shred), blob);
  EXPECT_EQ(g_tocks.size(), 2u);
  EXPECT_EQ(a->blobProxy()->when(), 5.0);
}

TEST_F(UAnaTest, APlainUAnaHasABlobButNoAnalysis) {
  Chip_UGen* plain = node(&t_uana);
  EXPECT_FALSE(plain->is_uana);
  now() = 2.0;
  EXPECT_EQ(upchip(plain, shred), blob_of(plain));
  EXPECT_TRUE(g_tocks.empty());
}

TEST_F(UAnaTest, UpchipBringsUpstreamAnalysersUpToDateFirst) {
  Chip_UAna* up = analyser();
  Chip_UAna* down = analyser();
  ASSERT_TRUE(down->add(up, 1));  // up =^ down

  Chip_DL_Return ret;
  Args right;
  right.o(down);
  uana_connected(up, right.data(), &ret, shred);
  EXPECT_EQ(ret.v_int, 1);
  Args left;
  left.o(up);
  uana_connected(down, left.data(), &ret, shred);
  EXPECT_EQ(ret.v_int, 0);
  Args none;
  none.o(nullptr);
  uana_connected(up, none.data(), &ret, shred);
  EXPECT_EQ(ret.v_int, 0);

  now() = 1.0;
  upchip(down, shred);
  ASSERT_EQ(g_tocks.size(), 2u);
  EXPECT_EQ(g_tocks[0], up);
  EXPECT_EQ(g_tocks[1], down);
  EXPECT_EQ(down->getIncomingBlob(0), up->blobProxy());
}

TEST_F(UAnaTest, UpchipWithoutShredOrMachineIsRefused) {
  Chip_UAna* a = analyser();
  Chip_VM_Shred* orphan = new Chip_VM_Shred;
  orphan->add_ref();
  struct Case {
    Chip_VM_Shred* caller;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, "UAna.upchip() encountered NULL shred; operation aborting!"},
      {orphan, "UAna.upchip() encountered NULL VM ref; operation aborting!"},
  };
  for (const Case& c : cases) {
    Chip_DL_Return ret;
    ret.v_int = 12345;
    std::vector<std::string> lines =
        printed_lines([&] { uana_upchip(a, nullptr, &ret, c.caller); });
    EXPECT_TRUE(has_text(lines, c.message));
    EXPECT_EQ(ret.v_int, 12345);  // result not set
  }
  EXPECT_TRUE(g_tocks.empty());
  orphan->release();
}

// ---------------------------------------------------------------------------
// HidMsg and Hid

class HidClassTest : public VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    ASSERT_TRUE(init_class_HID(env));
    env->global()->commit();
    vm = make_vm();
    shred = vm->spork(code("s", {new vmtest::End}), nullptr);
  }
  void TearDown() override {
    for (Chip_Object* obj : objects) obj->release();
    HidIn_forget_tilt_sensor();
    HidInManager::cleanup();
    VMTest::TearDown();
  }

  Chip_Object* make(const char* type_name) {
    Chip_Type* type = env->global()->lookup_type(type_name);
    EXPECT_NE(type, nullptr) << type_name;
    Chip_Object* obj = instantiate_and_initialize_object(type, shred);
    obj->add_ref();
    if (type->info->pre_ctor && type->info->pre_ctor->native_func) {
      reinterpret_cast<f_ctor>(type->info->pre_ctor->native_func)(obj, nullptr, shred);
    }
    objects.push_back(obj);
    return obj;
  }

  t_CPWORD call(f_mfun fn, Chip_Object* self, Args args = Args()) {
    Chip_DL_Return ret;
    fn(self, args.data(), &ret, shred);
    return ret.v_int;
  }

  static t_CPWORD word(Chip_Object* obj, t_CPWORD offset) {
    t_CPWORD value;
    std::memcpy(&value, obj->data + offset, sizeof value);
    return value;
  }
  static t_CPFLOAT dbl(Chip_Object* obj, t_CPWORD offset) {
    t_CPFLOAT value;
    std::memcpy(&value, obj->data + offset, sizeof value);
    return value;
  }

  Chip_VM* vm = nullptr;
  Chip_VM_Shred* shred = nullptr;
  std::vector<Chip_Object*> objects;
};

TEST_F(HidClassTest, MessagePredicatesCompareTheType) {
  Chip_Object* m = make("HidMsg");
  struct Predicate {
    f_mfun fn;
    t_CPINT type;
  };
  const Predicate predicates[] = {{HidMsg_is_axis_motion, 0}, {HidMsg_is_button_down, 1},
                                  {HidMsg_is_button_up, 2},   {HidMsg_is_mouse_motion, 5},
                                  {HidMsg_is_hat_motion, 3},  {HidMsg_is_wheel_motion, 6}};
  for (t_CPINT type = -1; type <= 12; type++) {
    HidMsg record;
    record.type = type;
    HidMsg_from_record(m, record);
    for (const Predicate& p : predicates) {
      EXPECT_EQ(call(p.fn, m), p.type == type ? 1 : 0) << type;
    }
  }
}

TEST_F(HidClassTest, ConstantsNameDeviceAndMessageTypes) {
  Chip_Type* hid = env->global()->lookup_type("Hid");
  ASSERT_NE(hid, nullptr);
  const struct {
    const char* name;
    t_CPWORD value;
  } constants[] = {{"JOYSTICK", 1},       {"KEYBOARD", 3},         {"MOUSE", 2},
                   {"WII_REMOTE", 4},     {"TILT_SENSOR", 5},      {"TABLET", 6},
                   {"AXIS_MOTION", 0},    {"BUTTON_DOWN", 1},      {"BUTTON_UP", 2},
                   {"JOYSTICK_HAT", 3},   {"JOYSTICK_BALL", 4},    {"MOUSE_MOTION", 5},
                   {"MOUSE_WHEEL", 6},    {"DEVICE_CONNECTED", 7}, {"DEVICE_DISCONNECTED", 8},
                   {"ACCELEROMETER", 9},  {"LED", 11},             {"FORCE_FEEDBACK", 12}};
  for (const auto& c : constants) {
    Chip_Value* value = type_engine_find_value(hid, c.name);
    ASSERT_NE(value, nullptr) << c.name;
    ASSERT_NE(value->addr, nullptr) << c.name;
    EXPECT_EQ(*static_cast<t_CPWORD*>(value->addr), c.value) << c.name;
  }
}

TEST_F(HidClassTest, RecordsSpreadOverTheMessageMembers) {
  Chip_Object* m = make("HidMsg");
  HidMsg record;
  record.device_type = CP_HID_DEV_MOUSE;
  record.device_num = 3;
  record.type = CP_HID_MOUSE_MOTION;
  record.which = 2;
  record.idata[0] = -5;
  record.idata[1] = 6;
  record.idata[2] = 7;
  record.idata[3] = 8;
  record.fdata[0] = 0.25;
  record.fdata[1] = 0.75;
  HidMsg_from_record(m, record);
  struct IntMember {
    t_CPWORD offset;
    t_CPWORD value;
  };
  const IntMember ints[] = {
      {HidMsg_offset_device_type, CP_HID_DEV_MOUSE},
      {HidMsg_offset_device_num, 3},
      {HidMsg_offset_type, CP_HID_MOUSE_MOTION},
      {HidMsg_offset_which, 2},
      {HidMsg_offset_idata, -5},
      {HidMsg_offset_deltax, -5},
      {HidMsg_offset_deltay, 6},
      {HidMsg_offset_cursorx, 7},
      {HidMsg_offset_cursory, 8},
      {HidMsg_offset_axis_position, -5},
      {HidMsg_offset_hat_position, -5},
      {HidMsg_offset_key, 6},
      {HidMsg_offset_ascii, 7},
      {HidMsg_offset_x, -5},
      {HidMsg_offset_y, 6},
      {HidMsg_offset_z, 7},
  };
  for (const IntMember& member : ints) {
    EXPECT_EQ(word(m, member.offset), member.value) << member.offset;
  }
  EXPECT_EQ(dbl(m, HidMsg_offset_fdata), 0.25);
  EXPECT_EQ(dbl(m, HidMsg_offset_scaledcursorx), 0.25);
  EXPECT_EQ(dbl(m, HidMsg_offset_scaledcursory), 0.75);
  EXPECT_EQ(dbl(m, HidMsg_offset_axis_position2), 0.25);
  EXPECT_EQ(dbl(m, HidMsg_offset_scaled_axis_position), 0.25);
  EXPECT_EQ(dbl(m, HidMsg_offset_when), 0.0);  // not written

  // Sending takes the first five members only.
  HidMsg back;
  back.idata[1] = 99;
  HidMsg_to_record(m, &back);
  EXPECT_EQ(back.device_type, CP_HID_DEV_MOUSE);
  EXPECT_EQ(back.which, 2);
  EXPECT_EQ(back.idata[0], -5);
  EXPECT_EQ(back.idata[1], 0);
  EXPECT_EQ(back.fdata[0], 0.0);
}

TEST_F(HidClassTest, OnlyTheTiltSensorOpens) {
  Chip_Object* h = make("Hid");
  HidIn* hin = nullptr;
  std::memcpy(&hin, h->data + HidIn_offset_data, sizeof hin);
  ASSERT_NE(hin, nullptr);
  EXPECT_EQ(hin->SELF, h);

  struct Case {
    f_mfun fn;
    Args args;
    t_CPWORD opened;
    const char* report;  // "" when none
  };
  const Case cases[] = {
      {HidIn_open_joystick, Args().i(0), 0, "HidIn: couldn't open joystick 0..."},
      {HidIn_open_mouse, Args().i(0), 0, "HidIn: couldn't open mouse 0..."},
      {HidIn_open_keyboard, Args().i(1), 0, "HidIn: couldn't open keyboard 1..."},
      {HidIn_open, Args().i(CP_HID_DEV_WIIREMOTE).i(0), 0, "HidIn: couldn't open wii remote 0..."},
      {HidIn_open, Args().i(CP_HID_DEV_TILTSENSOR).i(1), 0,
       "HidIn: couldn't open tilt sensor 1..."},
      {HidIn_open_tiltsensor, Args(), 1, ""},
  };
  for (const Case& c : cases) {
    t_CPWORD opened = -1;
    std::vector<std::string> lines = printed_lines([&] { opened = call(c.fn, h, c.args); });
    EXPECT_EQ(opened, c.opened) << c.report;
    EXPECT_EQ(call(HidIn_good, h), c.opened);
    EXPECT_EQ(call(HidIn_num, h), c.opened ? 0 : -1);
    if (*c.report) {
      EXPECT_TRUE(has_text(lines, c.report)) << c.report;
    }
  }
  // The open tilt sensor: silent, nameless, waiting possible.
  Chip_DL_Return ret;
  HidIn_name(h, nullptr, &ret, shred);
  ASSERT_NE(ret.v_object, nullptr);
  EXPECT_EQ(static_cast<Chip_String*>(ret.v_object)->str, " ");
  ret.v_object->add_ref();
  ret.v_object->release();
  Chip_Object* m = make("HidMsg");
  EXPECT_EQ(call(HidIn_recv, h, Args().o(m)), 0);
  EXPECT_EQ(call(HidIn_read, h, Args().i(CP_HID_ACCELEROMETER).i(0).o(m)), 1);
  EXPECT_EQ(call(HidIn_send, h, Args().o(m)), 0);
  EXPECT_EQ(call(HidIn_can_wait, h), 1);
  // Waiting on the object asks this can_wait: it takes Event's slot.
  ASSERT_GE(Chip_Event::our_can_wait, 0);
  Chip_Func* can_wait = h->vtable->funcs.at(static_cast<size_t>(Chip_Event::our_can_wait));
  ASSERT_NE(can_wait->code, nullptr);
  EXPECT_EQ(can_wait->code->native_func, reinterpret_cast<void*>(HidIn_can_wait));

  // printerr(0) suppresses output, printerr(1) lets it through.
  call(HidIn_printerr, h, Args().i(0));
  EXPECT_TRUE(hin->m_suppress_output);
  call(HidIn_printerr, h, Args().i(1));
  EXPECT_FALSE(hin->m_suppress_output);
}

TEST_F(HidClassTest, StaticFunctionsAnswerThePlatformStubs) {
  for (int call_no = 0; call_no < 2; call_no++) {
    Chip_DL_Return ret;
    HidIn_read_tilt_sensor(nullptr, &ret, shred);
    Chip_Array4* arr = static_cast<Chip_Array4*>(ret.v_object);
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(arr->size(), 3);
    EXPECT_FALSE(arr->m_is_obj);
    for (t_CPWORD i = 0; i < 3; i++) {
      t_CPUWORD v = 1;
      arr->get(i, &v);
      EXPECT_EQ(v, 0u);
    }
    EXPECT_EQ(arr->m_ref_count, 1u);
    arr->release();
  }

  // Minus one microsecond, in samples.
  const t_CPFLOAT rate = vm->srate();
  Chip_DL_Return ret;
  Args d;
  d.f(rate / 100.0);
  HidIn_ctrl_tiltPollRate(d.data(), &ret, shred);
  EXPECT_DOUBLE_EQ(ret.v_dur, -rate / 1000000.0);
  HidIn_cget_tiltPollRate(nullptr, &ret, shred);
  EXPECT_DOUBLE_EQ(ret.v_dur, -rate / 1000000.0);
  ret.v_dur = 7.0;
  HidIn_cget_tiltPollRate(nullptr, &ret, nullptr);
  EXPECT_EQ(ret.v_dur, 0.0);

  ret.v_int = 7;
  HidIn_start_cursor_track(nullptr, &ret, shred);
  EXPECT_EQ(ret.v_int, 0);
  ret.v_int = 7;
  HidIn_stop_cursor_track(nullptr, &ret, shred);
  EXPECT_EQ(ret.v_int, 0);
}

}  // namespace
