// The built-in classes: what scripts may call on Object, string, arrays, IO,
// Shred, Event and UGen (checked by the type checker), and what the native
// member functions do when called on a machine's objects, by hand-made code
// for the shred members.
#include "chip/vm/chip_lang.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chip/lib/ugen_xxx.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "type_check_support.h"
#include "vm_test_support.h"

namespace {

using vmtest::Advance;
using vmtest::Do;
using vmtest::End;
using vmtest::Mark;
using vmtest::WaitOn;

// ---------------------------------------------------------------------------
// Registration and type checking

class LangTypeTest : public TypeCheckTest {};

TEST_F(LangTypeTest, MembersCheckWithTheirSignatures) {
  const char* const programs[] = {
      // Object
      "Object o; o.toString() @=> string s;",
      // string
      "\"ab\".length() => int n;",
      "\"  ab \" @=> string s; s.trim() @=> string t; s.ltrim() @=> t; s.rtrim() @=> t;",
      "\"aB\".upper() @=> string u; u.lower() @=> u; u.toString() @=> u;",
      // arrays of every element kind
      "int a[3]; a.size() => int n; a.size(4) => n; a.cap() => n; a.clear(); a.reset();",
      "float f[2]; f.popBack(); f.find(\"k\") => int n; f.erase(\"k\") => n;",
      "complex c[1]; c.size() => int n;",
      // IO's constants
      "IO.READ + IO.WRITE + IO.APPEND + IO.TRUNCATE + IO.BINARY => int mode;",
      // Shred
      "me.id() => int i; me.args() => int n; me.arg(0) @=> string a;",
      "me.running() => int r; me.done() => int d; me.yield(); me.clone(); me.exit();",
      // Event
      "Event e; e.signal(); e.broadcast(); e.can_wait() => int w;",
      // UGen
      "UGen u; u.gain(0.5) => float g; u.gain() => g; u.last() => g;",
      "UGen u; u.op(3) => int o; u.op() => o; u.channels() => int c; u.channels(2) => c;",
      "UGen u; u.chan(0) @=> UGen c; u.isConnectedTo(c) => int linked;",
  };
  for (const char* source : programs) {
    CheckResult result = check_program(source);
    EXPECT_TRUE(result.ok) << source << "\n" << ::testing::PrintToString(result.lines);
  }
}

TEST_F(LangTypeTest, WrongArgumentsAndMissingMembersAreRefused) {
  const struct {
    const char* source;
    const char* why;
  } cases[] = {
      {"\"ab\".length(1) => int n;", "for function 'string.length(...)'"},
      {"\"ab\".upper() => int n;", "cannot resolve operator '=>' on types 'string' and 'int'"},
      {"int a[3]; a.size(\"x\") => int n;", "for function 'int[].size(...)'"},
      {"int a[3]; a.find(1) => int n;", "for function 'int[].find(...)'"},
      {"me.arg(\"x\") @=> string s;", "for function 'Shred.arg(...)'"},
      {"UGen u; u.gain(\"x\");", "for function 'UGen.gain(...)'"},
      {"UGen u; u.chan() @=> UGen c;", "for function 'UGen.chan(...)'"},
      {"Event e; e.wait();", "for function 'Event.wait(...)'"},
      {"Object o; o.length() => int n;", "class 'Object' has no member 'length'"},
      {"\"ab\".find(\"a\") => int n;", "class 'string' has no member 'find'"},
  };
  for (const auto& c : cases) {
    CheckResult result = check_program(c.source);
    EXPECT_FALSE(result.ok) << c.source;
    bool found = false;
    for (const std::string& line : result.lines)
      found = found || line.find(c.why) != std::string::npos;
    EXPECT_TRUE(found) << c.source << "\n" << ::testing::PrintToString(result.lines);
  }
}

// Each member name leads to its native function, with its argument count.
TEST_F(LangTypeTest, MembersAreBoundToTheirNativeFunctions) {
  const struct {
    Chip_Type* type;
    const char* name;
    int args;
    f_mfun fn;
  } cases[] = {
      {&t_object, "toString", 0, object_toString},
      {&t_string, "length", 0, string_length},
      {&t_string, "upper", 0, string_upper},
      {&t_string, "lower", 0, string_lower},
      {&t_string, "ltrim", 0, string_ltrim},
      {&t_string, "rtrim", 0, string_rtrim},
      {&t_string, "trim", 0, string_trim},
      {&t_string, "toString", 0, string_toString},
      {&t_array, "clear", 0, array_clear},
      {&t_array, "reset", 0, array_reset},
      {&t_array, "popBack", 0, array_pop_back},
      {&t_array, "size", 0, array_get_size},
      {&t_array, "size", 1, array_set_size},
      {&t_array, "cap", 0, array_get_capacity_hack},
      {&t_array, "find", 1, array_find},
      {&t_array, "erase", 1, array_erase},
      {&t_io, "writeLine", 1, io_dummy},
      {&t_io, "readInt", 0, io_dummy},
      {&t_shred, "clone", 0, shred_clone},
      {&t_shred, "exit", 0, shred_exit},
      {&t_shred, "id", 0, shred_id},
      {&t_shred, "yield", 0, shred_yield},
      {&t_shred, "running", 0, shred_running},
      {&t_shred, "done", 0, shred_done},
      {&t_shred, "args", 0, shred_numArgs},
      {&t_shred, "arg", 1, shred_getArg},
      {&t_event, "signal", 0, event_signal},
      {&t_event, "broadcast", 0, event_broadcast},
      {&t_event, "wait", 1, event_wait},
      {&t_event, "can_wait", 0, event_can_wait},
      {&t_ugen, "gain", 1, ugen_gain},
      {&t_ugen, "gain", 0, ugen_cget_gain},
      {&t_ugen, "last", 0, ugen_last},
      {&t_ugen, "op", 1, ugen_op},
      {&t_ugen, "op", 0, ugen_cget_op},
      {&t_ugen, "channels", 1, ugen_numChannels},
      {&t_ugen, "channels", 0, ugen_cget_numChannels},
      {&t_ugen, "chan", 1, ugen_chan},
      {&t_ugen, "isConnectedTo", 1, ugen_connected},
  };
  for (const auto& c : cases) {
    Chip_Value* value = type_engine_find_value(c.type, c.name);
    ASSERT_NE(value, nullptr) << c.name;
    const Chip_Func* bound = nullptr;
    for (Chip_Func* f = value->func_ref; f; f = f->next) {
      int count = 0;
      for (a_Arg_List a = f->def->arg_list; a; a = a->next) count++;
      if (count == c.args) bound = f;
    }
    ASSERT_NE(bound, nullptr) << c.type->name << "." << c.name << " with " << c.args;
    ASSERT_NE(bound->code, nullptr) << c.name;
    EXPECT_EQ(bound->code->native_func, reinterpret_cast<void*>(c.fn))
        << c.type->name << "." << c.name << " with " << c.args;
  }
}

TEST_F(LangTypeTest, RegistrationRecordsWhatTheRuntimeUses) {
  // Object's hidden string slot is the first word of every object's data.
  EXPECT_EQ(Object_offset_string, 0);
  EXPECT_EQ(t_object.obj_size, sizeof(t_CPWORD));
  EXPECT_EQ(t_event.obj_size, t_object.obj_size);

  // can_wait's slot in Event's table.
  Chip_Value* can_wait = type_engine_find_value(&t_event, "can_wait");
  ASSERT_NE(can_wait, nullptr);
  ASSERT_NE(can_wait->func_ref, nullptr);
  EXPECT_EQ(Chip_Event::our_can_wait, static_cast<t_CPWORD>(can_wait->func_ref->vt_index));
  ASSERT_LT(static_cast<size_t>(Chip_Event::our_can_wait), t_event.info->obj_v_table.funcs.size());
  EXPECT_EQ(t_event.info->obj_v_table.funcs[Chip_Event::our_can_wait], can_wait->func_ref);

  // string's toString takes Object's slot.
  Chip_Value* object_ts = type_engine_find_value(&t_object, "toString");
  Chip_Value* string_ts = type_engine_find_value(&t_string, "toString");
  ASSERT_TRUE(object_ts && string_ts);
  EXPECT_NE(object_ts->func_ref, string_ts->func_ref);
  EXPECT_EQ(object_ts->func_ref->vt_index, string_ts->func_ref->vt_index);

  // The plain unit generator's description.
  Chip_UGen_Info* info = t_ugen.ugen_info;
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->tick, &__ugen_tick);
  EXPECT_EQ(info->pmsg, nullptr);
  EXPECT_EQ(info->tock, nullptr);
  EXPECT_EQ(info->num_ins, 1u);
  EXPECT_EQ(info->num_outs, 1u);
  EXPECT_EQ(info->num_ins_ana, 1u);
  EXPECT_EQ(info->num_outs_ana, 1u);
  SAMPLE out = 0;
  EXPECT_EQ(__ugen_tick(nullptr, 0.25f, &out, nullptr), 1u);
  EXPECT_EQ(out, 0.25f);

  // IO's constants.
  const struct {
    const char* name;
    t_CPWORD value;
  } constants[] = {{"READ", 1}, {"WRITE", 2}, {"APPEND", 4}, {"TRUNCATE", 8}, {"BINARY", 32}};
  for (const auto& c : constants) {
    Chip_Value* v = type_engine_find_value(&t_io, c.name);
    ASSERT_NE(v, nullptr) << c.name;
    ASSERT_NE(v->addr, nullptr) << c.name;
    EXPECT_EQ(*static_cast<t_CPWORD*>(v->addr), c.value) << c.name;
  }
}

TEST_F(LangTypeTest, EachClassIsLoggedOnceAtStartUp) {
  std::vector<std::string> lines;
  vmtest::at_log_level(CP_LOG_SEVERE, [&] { lines = printed_lines([] { fresh_type_env(); }); });
  for (const char* name : {"object", "array", "string", "ugen", "shred", "event", "io"}) {
    const std::string wanted = std::string("class '") + name + "'";
    int seen = 0;
    for (const std::string& line : lines) {
      if (line.find(wanted) != std::string::npos) seen++;
    }
    EXPECT_EQ(seen, 1) << wanted;
  }
}

// The abstract IO members and Event.wait called as a method are the
// script's mistakes: the calling shred ends with an exception (with no shred,
// only the report), and the engine goes on.
TEST(LangTest, AbstractMembersStopTheCallingShred) {
  const struct {
    const char* label;
    f_mfun fn;
    const char* text;
  } cases[] = {
      {"IO", io_dummy, "AbstractMethodException: (IO member function)"},
      {"Event.wait", event_wait,
       "InvalidMethodException: (Event.wait: chip the event to now instead)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Chip_VM_Shred shred;
    shred.id = 4;
    shred.name = "caller";
    shred.pc = 7;
    shred.is_running = TRUE;
    Chip_DL_Return ret;
    std::vector<std::string> lines = printed_lines([&] { c.fn(nullptr, nullptr, &ret, &shred); });
    EXPECT_EQ(lines, std::vector<std::string>{std::string("[chip](VM): ") + c.text +
                                              " in shred[id=4:caller], PC=[7]"});
    EXPECT_FALSE(shred.is_running);
    EXPECT_TRUE(shred.is_done);
    lines = printed_lines([&] { c.fn(nullptr, nullptr, &ret, nullptr); });
    EXPECT_EQ(lines, std::vector<std::string>{std::string("[chip](VM): ") + c.text});
  }
}

// ---------------------------------------------------------------------------
// Native functions on a machine's objects

// Packed arguments: words for ints and references, doubles for floats.
struct Args {
  Args& word(t_CPWORD w) { return put(&w, sizeof w); }
  Args& object(void* p) { return word(reinterpret_cast<t_CPWORD>(p)); }
  Args& real(t_CPFLOAT f) { return put(&f, sizeof f); }
  void* data() { return bytes.empty() ? nullptr : bytes.data(); }

  Args& put(const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  std::vector<unsigned char> bytes;
};

// Objects made by a test and held until its end.
class LangVMTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm(FALSE, 0, TRUE);
  }
  void TearDown() override {
    for (Chip_Object* o : held) o->release();
    VMTest::TearDown();
  }

  template <typename T = Chip_Object>
  T* hold(Chip_Object* o) {
    EXPECT_NE(o, nullptr);
    if (o) {
      o->add_ref();
      held.push_back(o);
    }
    return static_cast<T*>(o);
  }
  template <typename T = Chip_Object>
  T* make(Chip_Type* type) {
    return hold<T>(instantiate_and_initialize_object(type, nullptr));
  }
  Chip_String* str(const std::string& text) {
    Chip_String* s = make<Chip_String>(&t_string);
    s->str = text;
    return s;
  }
  // Calls a member function; the result slot.
  Chip_DL_Return call(f_mfun fn, Chip_Object* self, Args args = Args(),
                      Chip_VM_Shred* shred = nullptr) {
    Chip_DL_Return ret;
    fn(self, args.data(), &ret, shred);
    return ret;
  }
  // A member function's string result, held.
  std::string text(f_mfun fn, Chip_Object* self, Args args = Args(),
                   Chip_VM_Shred* shred = nullptr) {
    Chip_String* s = static_cast<Chip_String*>(call(fn, self, args, shred).v_object);
    if (!s) return "<null>";
    hold(s);
    return s->str;
  }

  Chip_VM* vm = nullptr;
  std::vector<Chip_Object*> held;
};

TEST_F(LangVMTest, StringMembersMakeNewStringsAndKeepTheReceiver) {
  const struct {
    const char* in;
    f_mfun fn;
    const char* out;
  } cases[] = {
      {"  ab  ", string_trim, "ab"},    {"  ab  ", string_ltrim, "ab  "},
      {"  ab  ", string_rtrim, "  ab"}, {"\t a b\t", string_trim, "a b"},
      {" \t ", string_trim, ""},        {"aB1", string_upper, "AB1"},
      {"aB1", string_lower, "ab1"},     {"", string_upper, ""},
  };
  for (const auto& c : cases) {
    Chip_String* self = str(c.in);
    Chip_String* result = static_cast<Chip_String*>(call(c.fn, self).v_object);
    ASSERT_NE(result, nullptr);
    hold(result);
    EXPECT_NE(result, self) << c.in;
    EXPECT_EQ(result->str, c.out) << '"' << c.in << '"';
    EXPECT_EQ(result->type_ref, &t_string);
    EXPECT_EQ(self->str, c.in);
  }
  EXPECT_EQ(call(string_length, str("")).v_int, 0);
  EXPECT_EQ(call(string_length, str("a\tb c")).v_int, 5);
  Chip_String* s = str("x");
  EXPECT_EQ(call(string_toString, s).v_object, s);
}

TEST_F(LangVMTest, ObjectToStringNamesTheTypeAndAddress) {
  char hex[32];
  Chip_Object* object = make(&t_object);
  std::snprintf(hex, sizeof hex, "%lx",
                static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(object)));
  EXPECT_EQ(text(object_toString, object), std::string("Object:") + hex);
  // A fresh string per call.
  Chip_String* first = chip_object_to_string(object, nullptr);
  Chip_String* second = chip_object_to_string(object, nullptr);
  hold(first);
  hold(second);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->str, second->str);

  // An int[] array, and an object without a type.
  Chip_Type* int_array = new_array_type(env, &t_array, 1, &t_int, env->global());
  Chip_Array4* array = hold<Chip_Array4>(new Chip_Array4(FALSE, 2));
  ASSERT_TRUE(initialize_object(array, int_array));
  std::snprintf(hex, sizeof hex, "%lx",
                static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(array)));
  EXPECT_EQ(text(object_toString, array), std::string("int[]:") + hex);
  Chip_Object* bare = hold(new Chip_Object);
  std::snprintf(hex, sizeof hex, "%lx",
                static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(bare)));
  EXPECT_EQ(text(object_toString, bare), std::string("[VOID]:") + hex);

  // A string stored in "@string" is the answer; freeing the object releases
  // it (the class's destructor runs on the last release).
  Chip_Object* cached = instantiate_and_initialize_object(&t_object, nullptr);
  ASSERT_NE(cached, nullptr);
  cached->add_ref();
  Chip_String* label = str("label");
  label->add_ref();
  *reinterpret_cast<Chip_Object**>(cached->data + Object_offset_string) = label;
  EXPECT_EQ(call(object_toString, cached).v_object, label);
  const t_CPUWORD count = label->m_ref_count;
  cached->release();
  EXPECT_EQ(label->m_ref_count, count - 1);
}

TEST_F(LangVMTest, ArrayMembers) {
  Chip_Array4* ints = hold<Chip_Array4>(new Chip_Array4(FALSE, 3));
  ints->set(0, 7);
  EXPECT_EQ(call(array_get_size, ints).v_int, 3);
  EXPECT_EQ(call(array_get_capacity_hack, ints).v_int, 3);
  EXPECT_EQ(call(array_set_size, ints, Args().word(5)).v_int, 5);
  EXPECT_EQ(call(array_get_capacity_hack, ints).v_int, 5);

  // A negative size is refused with its message.
  testing::internal::CaptureStderr();
  const t_CPWORD kept = call(array_set_size, ints, Args().word(-1)).v_int;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[chip](via array): attempt to set negative array size!\n");
  EXPECT_EQ(kept, 5);
  t_CPUWORD first = 0;
  ASSERT_TRUE(ints->get(0, &first));
  EXPECT_EQ(first, 7u);

  // clear keeps the size; reset leaves eight zeros.
  call(array_clear, ints);
  EXPECT_EQ(ints->size(), 5);
  ASSERT_TRUE(ints->get(0, &first));
  EXPECT_EQ(first, 0u);
  ints->set(1, 9);
  call(array_reset, ints);
  ASSERT_EQ(ints->size(), 8);
  for (t_CPWORD i = 0; i < 8; i++) {
    t_CPUWORD v = 1;
    ASSERT_TRUE(ints->get(i, &v));
    EXPECT_EQ(v, 0u) << i;
  }

  // The associative part.
  *ints->addr(std::string("k")) = 3;
  EXPECT_EQ(call(array_find, ints, Args().object(str("k"))).v_int, 1);
  EXPECT_EQ(call(array_find, ints, Args().object(str("j"))).v_int, 0);
  EXPECT_EQ(call(array_find, ints, Args().object(nullptr)).v_int, 0);
  EXPECT_EQ(call(array_erase, ints, Args().object(str("k"))).v_int, 1);
  EXPECT_EQ(call(array_erase, ints, Args().object(str("k"))).v_int, 0);
  EXPECT_EQ(call(array_erase, ints, Args().object(nullptr)).v_int, 0);

  // popBack on each element kind.
  Chip_Array* arrays[] = {hold<Chip_Array>(new Chip_Array4(TRUE, 1)),
                          hold<Chip_Array>(new Chip_Array8(1)),
                          hold<Chip_Array>(new Chip_Array16(1))};
  for (Chip_Array* a : arrays) {
    EXPECT_EQ(call(array_pop_back, a).v_int, 1) << a->data_type_size();
    EXPECT_EQ(a->size(), 0) << a->data_type_size();
    EXPECT_EQ(call(array_pop_back, a).v_int, 0) << a->data_type_size();
  }
}

// Members called by the machine's native-call instruction, as compiled code
// calls them: arguments, then the object, then the function's code and the
// caller's local depth on the register stack; the result comes back there.
TEST_F(LangVMTest, MembersRunThroughTheCallInstruction) {
  auto imm = [](t_CPWORD w) { return new Chip_Instr_Reg_Push_Imm(static_cast<t_CPUWORD>(w)); };
  auto ptr = [&](void* p) { return imm(reinterpret_cast<t_CPWORD>(p)); };
  // The overload of type.name with `args` arguments.
  auto code_of = [](Chip_Type* type, const char* name, int args) -> Chip_VM_Code* {
    for (Chip_Func* f = type_engine_find_value(type, name)->func_ref; f; f = f->next) {
      int count = 0;
      for (a_Arg_List a = f->def->arg_list; a; a = a->next) count++;
      if (count == args) return f->code;
    }
    return nullptr;
  };
  auto call = [&](Chip_VM_Code* c, t_CPUWORD ret) -> std::vector<Chip_Instr*> {
    EXPECT_NE(c, nullptr);
    return {ptr(c), imm(0), new Chip_Instr_Func_Call_Member(ret)};
  };
  auto append = [](std::vector<Chip_Instr*>& to, std::vector<Chip_Instr*> more) {
    to.insert(to.end(), more.begin(), more.end());
  };

  Chip_String* padded = str(" ab ");
  Chip_UGen* ugen = make<Chip_UGen>(&t_ugen);
  Chip_Array4* array = hold<Chip_Array4>(new Chip_Array4(FALSE, 2));
  vmtest::Trace trace;
  std::string trimmed;
  t_CPFLOAT gain = 0;
  t_CPWORD size = 0;

  std::vector<Chip_Instr*> body;
  append(body, {ptr(padded)});
  append(body, call(code_of(&t_string, "trim", 0), sizeof(Chip_Object*)));
  append(body, {new Do([&](Chip_VM*, Chip_VM_Shred* me) {
                  Chip_String* s = static_cast<Chip_String*>(chip_pop<Chip_Object*>(me->reg));
                  trimmed = s ? hold<Chip_String>(s)->str : "<null>";
                }),
                new Chip_Instr_Reg_Push_Imm2(0.25), ptr(ugen)});
  append(body, call(code_of(&t_ugen, "gain", 1), sizeof(t_CPFLOAT)));
  append(body, {new Do([&](Chip_VM*, Chip_VM_Shred* me) { gain = chip_pop_float(me->reg); }),
                imm(5), ptr(array)});
  append(body, call(code_of(&t_array, "size", 1), sizeof(t_CPWORD)));
  append(body, {new Do([&](Chip_VM*, Chip_VM_Shred* me) {
                  size = chip_pop_word(me->reg);
                  // `me`: the shred itself.
                  chip_push<Chip_Object*>(me->reg, me);
                }),
                new Mark(&trace, "before yield")});
  append(body, call(code_of(&t_shred, "yield", 0), 0));
  append(body, {new Mark(&trace, "after yield"), new End});

  vm->spork(code("calls", body), nullptr);
  vm->spork(code("other", {new Mark(&trace, "other"), new End}), nullptr);
  vm->compute();
  EXPECT_EQ(trimmed, "ab");
  EXPECT_EQ(gain, 0.25);
  EXPECT_EQ(ugen->gain, 0.25f);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(array->size(), 5);
  EXPECT_EQ(trace, (vmtest::Trace{"before yield@0", "other@0", "after yield@0"}));
}

TEST_F(LangVMTest, EventMembers) {
  Chip_Event* event = make<Chip_Event>(&t_event);
  EXPECT_EQ(call(event_can_wait, event).v_int, 1);

  vmtest::Trace trace;
  auto waiter = [&](const std::string& tag) {
    return code(tag, {new WaitOn(event), new Mark(&trace, tag), new End});
  };
  auto* first = vm->spork(waiter("a"), nullptr);
  auto* second = vm->spork(waiter("b"), nullptr);
  vm->compute();
  ASSERT_EQ(event->num_waiting(), 2u);
  EXPECT_EQ(first->event, event);
  EXPECT_EQ(second->event, event);

  call(event_signal, event);
  vm->compute();
  EXPECT_EQ(trace, (vmtest::Trace{"a@0"}));
  vm->spork(waiter("c"), nullptr);
  vm->compute();
  call(event_broadcast, event);
  vm->compute();
  EXPECT_EQ(trace, (vmtest::Trace{"a@0", "b@0", "c@0"}));
  EXPECT_EQ(event->num_waiting(), 0u);
}

TEST_F(LangVMTest, ShredIdentityAndArguments) {
  Chip_VM_Shred* seen = nullptr;
  std::vector<std::string> texts;
  std::vector<t_CPWORD> ints;
  Chip_VM_Code* body =
      code("args", {new Do([&](Chip_VM*, Chip_VM_Shred* me) {
                      seen = me;
                      ints.push_back(call(shred_id, me, Args(), me).v_int);
                      ints.push_back(call(shred_numArgs, me, Args(), me).v_int);
                      ints.push_back(call(shred_running, me, Args(), me).v_int);
                      ints.push_back(call(shred_done, me, Args(), me).v_int);
                      for (t_CPWORD i : {0, 1, 2, -1}) {
                        texts.push_back(text(shred_getArg, me, Args().word(i), me));
                      }
                    }),
                    new End});
  Chip_VM_Shred* shred = new Chip_VM_Shred;
  ASSERT_TRUE(shred->initialize(body));
  shred->args = {"x", "yz"};
  vm->spork(shred);
  vm->spork(body, nullptr);
  vm->compute();
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(ints, (std::vector<t_CPWORD>{1, 2, 1, 0, 2, 0, 1, 0}));
  EXPECT_EQ(texts, (std::vector<std::string>{"x", "yz", "", "", "", "", "", ""}));
}

TEST_F(LangVMTest, YieldLetsTheShredsDueNowRunFirst) {
  vmtest::Trace trace;
  Chip_VM_Code* yielder =
      code("y", {new Mark(&trace, "y1"),
                 new Do([&](Chip_VM*, Chip_VM_Shred* me) { call(shred_yield, me, Args(), me); }),
                 new Mark(&trace, "y2"), new End});
  Chip_VM_Code* other = code("o", {new Mark(&trace, "o"), new End});
  vm->spork(yielder, nullptr);
  vm->spork(other, nullptr);
  vm->compute();
  EXPECT_EQ(trace, (vmtest::Trace{"y1@0", "o@0", "y2@0"}));
}

TEST_F(LangVMTest, YieldOnAnotherShredDoesNothing) {
  // One shred waits in the time list, one on an event; a third calls yield
  // on both of them.
  Chip_Event* event = make<Chip_Event>(&t_event);
  vmtest::Trace trace;
  Chip_VM_Shred* sleeper =
      vm->spork(code("s", {new Advance(10), new Mark(&trace, "s"), new End}), nullptr);
  Chip_VM_Shred* waiter =
      vm->spork(code("w", {new WaitOn(event), new Mark(&trace, "w"), new End}), nullptr);
  vm->compute();
  Chip_VM_Shreduler* s = vm->shreduler();
  ASSERT_TRUE(s->is_listed(sleeper));
  ASSERT_TRUE(s->is_blocked(waiter));

  vm->spork(code("caller", {new Do([&](Chip_VM*, Chip_VM_Shred* me) {
                              call(shred_yield, sleeper, Args(), me);
                              call(shred_yield, waiter, Args(), me);
                              trace.push_back(me->is_running ? "caller running" : "caller stopped");
                            }),
                            new End}),
            nullptr);
  vm->compute();
  EXPECT_TRUE(s->is_listed(sleeper));
  EXPECT_FALSE(s->is_blocked(sleeper));
  EXPECT_TRUE(s->is_blocked(waiter));
  EXPECT_FALSE(s->is_listed(waiter));
  EXPECT_EQ(sleeper->wake_time, 10.0);

  vm->run(11);
  call(event_signal, event);
  vm->compute();
  EXPECT_EQ(trace, (vmtest::Trace{"caller running", "s@10", "w@11"}));
}

TEST_F(LangVMTest, ExitEndsTheCallerAfterItsInstructionAndAnotherBeforeItsNext) {
  vmtest::Trace trace;
  Chip_VM_Shred* sleeper =
      vm->spork(code("s", {new Advance(5), new Mark(&trace, "s"), new End}), nullptr);
  vm->spork(code("e", {new Do([&](Chip_VM*, Chip_VM_Shred* me) {
                         call(shred_exit, sleeper, Args(), me);
                         call(shred_exit, me, Args(), me);
                         trace.push_back(call(shred_done, me, Args(), me).v_int ? "done" : "alive");
                       }),
                       new Mark(&trace, "e"), new End}),
            nullptr);
  vm->run(10);
  EXPECT_EQ(trace, (vmtest::Trace{"done"}));
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(LangVMTest, UGenGainAndOpReachEveryChannel) {
  ASSERT_NE(g_t_dac, nullptr);
  Chip_UGen* stereo = make<Chip_UGen>(g_t_dac);
  ASSERT_EQ(stereo->multi_chan_size, 2u);
  Chip_DL_Return r = call(ugen_gain, stereo, Args().real(0.5));
  EXPECT_EQ(r.v_float, 0.5);
  for (unsigned long i = 0; i < 2; i++) EXPECT_EQ(stereo->multi_chan[i]->gain, 0.5f) << i;
  EXPECT_EQ(call(ugen_cget_gain, stereo).v_float, 0.5);
  // Narrowed to single precision.
  EXPECT_EQ(call(ugen_gain, stereo, Args().real(0.1)).v_float, static_cast<double>(0.1f));

  EXPECT_EQ(call(ugen_op, stereo, Args().word(3)).v_int, 3);
  EXPECT_EQ(stereo->op, 3);
  for (unsigned long i = 0; i < 2; i++) EXPECT_EQ(stereo->multi_chan[i]->op, 3) << i;
  EXPECT_EQ(call(ugen_op, stereo, Args().word(-1)).v_int, -1);
  EXPECT_EQ(call(ugen_cget_op, stereo).v_int, -1);

  Chip_UGen* mono = make<Chip_UGen>(&t_ugen);
  mono->last = 0.75f;
  EXPECT_EQ(call(ugen_last, mono).v_float, 0.75);
  EXPECT_EQ(call(ugen_gain, mono, Args().real(2.0)).v_float, 2.0);
  EXPECT_EQ(mono->gain, 2.0f);
}

TEST_F(LangVMTest, UGenChannels) {
  Chip_UGen* mono = make<Chip_UGen>(&t_ugen);
  Chip_UGen* stereo = make<Chip_UGen>(g_t_dac);
  const struct {
    Chip_UGen* ugen;
    t_CPWORD index;
    Chip_UGen* expected;
  } chans[] = {
      {mono, 0, mono},
      {mono, 1, nullptr},
      {mono, -1, nullptr},
      {stereo, 0, stereo->multi_chan[0]},
      {stereo, 1, stereo->multi_chan[1]},
      {stereo, 2, nullptr},
      {stereo, -1, nullptr},
  };
  for (const auto& c : chans) {
    EXPECT_EQ(call(ugen_chan, c.ugen, Args().word(c.index)).v_object, c.expected) << c.index;
  }
  EXPECT_EQ(call(ugen_cget_numChannels, mono).v_int, 1);
  EXPECT_EQ(call(ugen_cget_numChannels, stereo).v_int, 2);

  // Changing the count is refused.
  t_CPWORD count = 0;
  std::vector<std::string> lines =
      printed_lines([&] { count = call(ugen_numChannels, stereo, Args().word(4)).v_int; });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("setting .numChannels is not yet supported (use the command line)..."),
            std::string::npos);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(stereo->multi_chan_size, 2u);
}

TEST_F(LangVMTest, UGenIsConnectedTo) {
  Chip_UGen* a = make<Chip_UGen>(&t_ugen);
  Chip_UGen* b = make<Chip_UGen>(&t_ugen);
  Chip_UGen* stereo = make<Chip_UGen>(g_t_dac);
  ASSERT_TRUE(b->add(a, 0));
  ASSERT_TRUE(stereo->add(b, 0));
  const struct {
    Chip_UGen* left;
    Chip_UGen* right;
    t_CPWORD linked;
  } cases[] = {{a, b, 1}, {b, a, 0}, {a, nullptr, 0}, {b, stereo, 1}, {a, stereo, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(call(ugen_connected, c.left, Args().object(c.right)).v_int, c.linked);
  }
  b->disconnect(TRUE);
  stereo->disconnect(TRUE);
}

}  // namespace
