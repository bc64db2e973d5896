// Calls, returns, pre-constructors, sporking, time and events on a real
// machine.
//
// Shreds run hand-assembled code: the call instructions under test, the
// stack and arithmetic instructions for function bodies, and small test
// instructions (vmtest::Do) that look at the stacks while the shred runs.
// Objects passed around are Watched objects, whose destruction is counted,
// so a frame or a spork that fails to hold its arguments shows up as an
// early death here (and as a use after free under the address sanitizer).
#include "chip/vm/chip_instr_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "vm_test_support.h"

namespace {

using vmtest::Do;
using vmtest::End;
using vmtest::Mark;
using Lines = std::vector<std::string>;

const t_CPWORD W = sizeof(t_CPWORD);

// An object whose destruction is counted.
struct Watched : Chip_Object {
  explicit Watched(int* deaths) : deaths(deaths) {}
  ~Watched() override { ++*deaths; }
  int* deaths;
};

// Pushes an int (sign-extended) or a pointer.
template <typename T>
Chip_Instr* imm(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return new Chip_Instr_Reg_Push_Imm(reinterpret_cast<t_CPUWORD>(value));
  } else {
    return new Chip_Instr_Reg_Push_Imm(static_cast<t_CPUWORD>(static_cast<t_CPWORD>(value)));
  }
}

t_CPWORD word_at(const unsigned char* addr) { return chip_load<t_CPWORD>(addr); }

// The words left on the register stack, bottom first; empties the stack.
std::vector<t_CPWORD> take_reg(Chip_VM_Shred* shred) {
  std::vector<t_CPWORD> words;
  for (unsigned char* p = shred->reg->stack; p < shred->reg->sp; p += W)
    words.push_back(word_at(p));
  shred->reg->sp = shred->reg->stack;
  return words;
}

t_CPWORD word_of(double value) {
  t_CPWORD word;
  std::memcpy(&word, &value, sizeof word);
  return word;
}

std::string overflow_line(int id, const std::string& name, int pc) {
  return "[chip](VM): Exception StackOverflow in shred[id=" + std::to_string(id) + ":" + name +
         "], PC=[" + std::to_string(pc) + "]";
}

class CallInstrTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm(FALSE, 0, FALSE);
  }

  void TearDown() override {
    for (Chip_Func* func : funcs) func->release();
    VMTest::TearDown();
  }

  // Code of a function with the given argument bytes (`this` included).
  Chip_VM_Code* fcode(const std::string& name, t_CPUWORD arg_bytes, bool need_this,
                      std::vector<Chip_Instr*> instrs) {
    Chip_VM_Code* c = code(name, std::move(instrs));
    c->stack_depth = arg_bytes;
    c->need_this = need_this;
    return c;
  }

  // A function; its code is set once the code (which may call it) exists.
  Chip_Func* func(bool member = false) {
    Chip_Func* f = new Chip_Func;
    f->add_ref();
    f->is_member = member;
    funcs.push_back(f);
    return f;
  }

  // A native function's code.
  Chip_VM_Code* native(const std::string& name, void* fn, t_CPUINT kind, t_CPUWORD arg_bytes,
                       bool need_this) {
    Chip_VM_Code* c = fcode(name, arg_bytes, need_this, {});
    c->native_func = fn;
    c->native_func_type = kind;
    return c;
  }

  // Sporks code as a top-level shred the test keeps; nothing runs yet.
  Chip_VM_Shred* start(Chip_VM_Code* c) { return hold_spork(vm, c); }

  // Sporks code and runs what is due now; the lines printed meanwhile.
  Lines run(Chip_VM_Code* c, Chip_VM_Shred** shred = nullptr) { return run_held(vm, c, shred); }

  Chip_VM* vm = nullptr;
  std::vector<Chip_Func*> funcs;
  int deaths = 0;
};

TEST(CallInstrNamesTest, NamesAndOperandTexts) {
  Chip_VM_Code pre_ctor;
  const struct {
    Chip_Instr* instr;
    const char* name;
    const char* params;
  } cases[] = {
      {new Chip_Instr_Func_To_Code, "Chip_Instr_Func_To_Code", ""},
      {new Chip_Instr_Func_Call(Chip_Obj_Offsets{0, 16}), "Chip_Instr_Func_Call", ""},
      {new Chip_Instr_Func_Call_Member(8), "Chip_Instr_Func_Call_Member", "8"},
      {new Chip_Instr_Func_Call_Static(16), "Chip_Instr_Func_Call_Static", "16"},
      {new Chip_Instr_Func_Return, "Chip_Instr_Func_Return", ""},
      {new Chip_Instr_Pre_Constructor(&pre_ctor, 24), "Chip_Instr_Pre_Constructor", ""},
      {new Chip_Instr_Spork(24, {8}), "Chip_Instr_Spork", "24"},
      {new Chip_Instr_Time_Advance, "Chip_Instr_Time_Advance", ""},
      {new Chip_Instr_Event_Wait, "Chip_Instr_Event_Wait", ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.instr->name(), c.name);
    EXPECT_STREQ(c.instr->params(), c.params) << c.name;
    delete c.instr;
  }
}

// ---------------------------------------------------------------------------
// Compiled calls

// fact(n): n > 1 ? n * fact(n - 1) : 1, through Func_To_Code and Func_Call;
// both stacks are back where they started once the outermost call returns.
TEST_F(CallInstrTest, RecursiveFactorialReturnsThroughEveryFrame) {
  Chip_Func* fact = func();
  fact->code = fcode("fact( ... )", W, false,
                     {new Chip_Instr_Reg_Push_Mem(0, 0), imm(1), new Chip_Instr_Gt_int, imm(0),
                      new Chip_Instr_Branch_Eq_int(15),
                      // n * fact(n - 1)
                      new Chip_Instr_Reg_Push_Mem(0, 0), new Chip_Instr_Reg_Push_Mem(0, 0), imm(1),
                      new Chip_Instr_Minus_int, imm(fact), new Chip_Instr_Func_To_Code, imm(W),
                      new Chip_Instr_Func_Call, new Chip_Instr_Times_int, new Chip_Instr_Goto(16),
                      // 15: 1
                      imm(1),
                      // 16
                      new Chip_Instr_Func_Return});
  const struct {
    t_CPWORD n;
    t_CPWORD expected;
  } cases[] = {{1, 1}, {2, 2}, {5, 120}, {12, 479001600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    std::vector<t_CPWORD> result;
    t_CPWORD mem_used = -1;
    run(code("main", {imm(c.n), imm(fact), new Chip_Instr_Func_To_Code, imm(0),
                      new Chip_Instr_Func_Call, new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                        mem_used = shred->mem->sp - shred->mem->stack;
                        result = take_reg(shred);
                      }),
                      new End}));
    EXPECT_EQ(result, std::vector<t_CPWORD>{c.expected});
    EXPECT_EQ(mem_used, 0);
  }
}

// A member function gets the object as `this` at offset 0 and its arguments
// after it in source order; its frame begins above the caller's locals,
// which it leaves alone.
TEST_F(CallInstrTest, MemberFunctionFrameHasThisFirstAndSparesTheCallersLocals) {
  Watched object(&deaths);
  std::vector<t_CPWORD> frame;
  t_CPWORD lift = 0;
  unsigned char* caller_base = nullptr;
  Chip_VM_Code* method = fcode("Foo.m( ... )", 3 * W, true,
                               {new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                                  for (int i = 0; i < 3; i++)
                                    frame.push_back(word_at(shred->mem->sp + i * W));
                                  lift = shred->mem->sp - caller_base;
                                }),
                                new Chip_Instr_Func_Return});
  std::vector<t_CPWORD> locals, rest;
  run(code("main", {new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                      caller_base = shred->mem->sp;
                      chip_store<t_CPWORD>(caller_base, 0x1111);
                      chip_store<t_CPWORD>(caller_base + W, 0x2222);
                    }),
                    imm(11), imm(22), imm(&object), imm(method), imm(2 * W),
                    new Chip_Instr_Func_Call, new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                      locals = {word_at(shred->mem->sp), word_at(shred->mem->sp + W)};
                      EXPECT_EQ(shred->mem->sp, caller_base);
                      rest = take_reg(shred);
                    }),
                    new End}));
  EXPECT_EQ(frame, (std::vector<t_CPWORD>{reinterpret_cast<t_CPWORD>(&object), 11, 22}));
  EXPECT_GE(lift, 2 * W);
  EXPECT_EQ(locals, (std::vector<t_CPWORD>{0x1111, 0x2222}));
  EXPECT_TRUE(rest.empty());
}

// ---------------------------------------------------------------------------
// Native calls

struct NativeSeen {
  std::string form;
  Chip_Object* self = nullptr;
  const unsigned char* args = nullptr;
  Chip_VM_Shred* shred = nullptr;
  t_CPWORD arg0 = 0;
  double arg1 = 0;
  int calls = 0;
};
NativeSeen seen;

void see(const char* form, Chip_Object* self, void* args, Chip_VM_Shred* shred) {
  seen.form = form;
  seen.self = self;
  seen.args = static_cast<const unsigned char*>(args);
  seen.shred = shred;
  seen.arg0 = word_at(seen.args);
  seen.arg1 = chip_load<double>(seen.args + W);
  seen.calls++;
}

void native_ctor(Chip_Object* self, void* args, Chip_VM_Shred* shred) {
  see("ctor", self, args, shred);
}
void native_mfun(Chip_Object* self, void* args, Chip_DL_Return* ret, Chip_VM_Shred* shred) {
  see("mfun", self, args, shred);
  ret->v_float = 2.5;
}
void native_mfun_self(Chip_Object* self, void* args, Chip_DL_Return* ret, Chip_VM_Shred* shred) {
  see("mfun", self, args, shred);
  ret->v_object = self;
}
void native_sfun(void* args, Chip_DL_Return* ret, Chip_VM_Shred* shred) {
  see("sfun", nullptr, args, shred);
  ret->v_complex = {1.5, -2.0};
}

// Arguments int 5 and float 0.25 (and `this` for members) reach the native
// function in its own shape, in the memory stack above the caller's locals;
// exactly the result's bytes are pushed, and the memory stack is restored.
TEST_F(CallInstrTest, NativeCallsPassSelfArgsAndShredAndPushTheResultBytes) {
  Watched object(&deaths);
  const t_CPWORD self = reinterpret_cast<t_CPWORD>(&object);
  const struct {
    const char* label;
    void* fn;
    t_CPUINT kind;
    bool member;
    t_CPUWORD ret_size;
    std::vector<t_CPWORD> pushed;
  } cases[] = {
      {"member float",
       reinterpret_cast<void*>(&native_mfun),
       Chip_VM_Code::NATIVE_MFUN,
       true,
       8,
       {word_of(2.5)}},
      {"member object",
       reinterpret_cast<void*>(&native_mfun_self),
       Chip_VM_Code::NATIVE_MFUN,
       true,
       8,
       {self}},
      {"member void",
       reinterpret_cast<void*>(&native_mfun),
       Chip_VM_Code::NATIVE_MFUN,
       true,
       0,
       {}},
      {"constructor",
       reinterpret_cast<void*>(&native_ctor),
       Chip_VM_Code::NATIVE_CTOR,
       true,
       0,
       {}},
      {"static complex",
       reinterpret_cast<void*>(&native_sfun),
       Chip_VM_Code::NATIVE_SFUN,
       false,
       16,
       {word_of(1.5), word_of(-2.0)}},
      {"static float",
       reinterpret_cast<void*>(&native_sfun),
       Chip_VM_Code::NATIVE_SFUN,
       false,
       8,
       {word_of(1.5)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    seen = NativeSeen();
    Chip_VM_Code* fn = native(c.label, c.fn, c.kind, (c.member ? 3 : 2) * W, c.member);
    std::vector<Chip_Instr*> instrs = {imm(5), new Chip_Instr_Reg_Push_Imm2(0.25)};
    if (c.member) instrs.push_back(imm(&object));
    instrs.push_back(imm(fn));
    instrs.push_back(imm(3 * W));  // three words of the caller's locals
    if (c.member) {
      instrs.push_back(new Chip_Instr_Func_Call_Member(c.ret_size));
    } else {
      instrs.push_back(new Chip_Instr_Func_Call_Static(c.ret_size));
    }
    std::vector<t_CPWORD> pushed;
    t_CPWORD mem_used = -1;
    const unsigned char* mem_base = nullptr;
    instrs.push_back(new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
      mem_base = shred->mem->stack;
      mem_used = shred->mem->sp - shred->mem->stack;
      pushed = take_reg(shred);
    }));
    instrs.push_back(new End);
    Chip_VM_Shred* shred = nullptr;
    run(code("main", instrs), &shred);

    ASSERT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.form, c.kind == Chip_VM_Code::NATIVE_CTOR ? "ctor" : c.member ? "mfun" : "sfun");
    EXPECT_EQ(seen.self, c.member ? &object : nullptr);
    EXPECT_EQ(seen.shred, shred);
    EXPECT_EQ(seen.args, mem_base + (c.member ? 4 : 3) * W);
    EXPECT_EQ(seen.arg0, 5);
    EXPECT_EQ(seen.arg1, 0.25);
    EXPECT_EQ(pushed, c.pushed);
    EXPECT_EQ(mem_used, 0);
  }
}

// ---------------------------------------------------------------------------
// Pre-constructors

// The new object (count 0, as instantiation hands it over) is `this` of the
// class's pre-constructor, compiled or native, and stays on the register
// stack alive and unheld as the value of the expression.
TEST_F(CallInstrTest, PreConstructorRunsOnACopyAndLeavesTheObject) {
  Watched object(&deaths);
  t_CPWORD compiled_this = 0;
  t_CPUWORD count_inside = 99;
  t_CPWORD lift = 0;
  Chip_VM_Code* compiled = fcode("class Foo", W, true,
                                 {new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                                    compiled_this = word_at(shred->mem->sp);
                                    count_inside = object.m_ref_count;
                                    lift = shred->mem->sp - shred->mem->stack;
                                  }),
                                  new Chip_Instr_Func_Return});
  Chip_VM_Code* natively = native("class Bar", reinterpret_cast<void*>(&native_ctor),
                                  Chip_VM_Code::NATIVE_CTOR, W, true);

  for (Chip_VM_Code* pre_ctor : {compiled, natively}) {
    SCOPED_TRACE(pre_ctor->name);
    seen = NativeSeen();
    std::vector<t_CPWORD> left;
    t_CPWORD mem_used = -1;
    run(code("main", {imm(&object), new Chip_Instr_Pre_Constructor(pre_ctor, 2 * W),
                      new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                        mem_used = shred->mem->sp - shred->mem->stack;
                        left = take_reg(shred);
                      }),
                      new End}));
    EXPECT_EQ(left, std::vector<t_CPWORD>{reinterpret_cast<t_CPWORD>(&object)});
    EXPECT_EQ(mem_used, 0);
    EXPECT_EQ(object.m_ref_count, 0u);
    EXPECT_EQ(deaths, 0);
  }
  EXPECT_EQ(compiled_this, reinterpret_cast<t_CPWORD>(&object));
  EXPECT_EQ(count_inside, 0u);
  EXPECT_GE(lift, 2 * W);
  EXPECT_EQ(seen.form, "ctor");
  EXPECT_EQ(seen.self, &object);
}

// ---------------------------------------------------------------------------
// Object arguments held by the frame

// The caller's variable holds the object (count 1). The frame holds it too
// while the callee runs, whatever the callee does with its argument; the
// frame's reference goes when it returns. Giving back never frees at once: a
// fresh argument (count 0) the callee returns comes back alive, held by the
// caller's statement, and is freed when that statement ends with nobody
// having stored it.
TEST_F(CallInstrTest, FramesHoldTheirObjectArgumentsUntilTheyReturn) {
  Watched* other = new Watched(&deaths);
  other->add_ref();  // the test's
  enum Returned { ARGUMENT, NULL_REF, OTHER };
  const struct {
    const char* label;
    t_CPUWORD caller_holds;
    // The callee's body after the count is looked at; it returns a word.
    std::vector<Chip_Instr*> body;
    t_CPUWORD count_inside;
    t_CPUWORD count_after;  // once the call returned, before its statement ends
    bool freed_by_statement_end;
    Returned returned;
  } cases[] = {
      {"drops it (null @=> p)",
       1,
       {imm(0), new Chip_Instr_Reg_Push_Mem_Addr(0, 0), new Chip_Instr_Assign_Object},
       2,
       1,
       false,
       NULL_REF},
      {"returns it", 0, {new Chip_Instr_Reg_Push_Mem(0, 0)}, 1, 1, true, ARGUMENT},
      {"replaces it",
       1,
       {imm(other), new Chip_Instr_Reg_Push_Mem_Addr(0, 0), new Chip_Instr_Assign_Object},
       2,
       1,
       false,
       OTHER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Watched* object = new Watched(&deaths);
    for (t_CPUWORD i = 0; i < c.caller_holds; i++) object->add_ref();
    t_CPUWORD inside = 99;
    t_CPUWORD after = 99;
    std::vector<Chip_Instr*> body = {
        new Do([&](Chip_VM*, Chip_VM_Shred*) { inside = object->m_ref_count; })};
    body.insert(body.end(), c.body.begin(), c.body.end());
    body.push_back(new Chip_Instr_Func_Return);
    Chip_Func* callee = func();
    callee->code = fcode("f( ... )", W, false, body);
    std::vector<t_CPWORD> returned;
    run(code("main", {imm(object), imm(callee), new Chip_Instr_Func_To_Code, imm(0),
                      new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}),
                      new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                        returned = take_reg(shred);
                        after = object->m_ref_count;
                      }),
                      new Chip_Instr_Release_Temps, new End}));
    EXPECT_EQ(inside, c.count_inside);
    EXPECT_EQ(after, c.count_after);
    const Chip_Object* expected = c.returned == ARGUMENT ? object
                                  : c.returned == OTHER  ? other
                                                         : nullptr;
    EXPECT_EQ(returned, std::vector<t_CPWORD>{reinterpret_cast<t_CPWORD>(expected)});
    // A replacement's reference from the frame's slot is given back unfreed.
    EXPECT_EQ(other->m_ref_count, 1u);
    if (c.freed_by_statement_end) {
      EXPECT_EQ(deaths, 1);
    } else {
      EXPECT_EQ(deaths, 0);
      for (t_CPUWORD i = 0; i < c.caller_holds; i++) object->release();
      EXPECT_EQ(deaths, 1);
    }
    deaths = 0;
  }
  other->release();
  EXPECT_EQ(deaths, 1);
}

// A member call holds `this` like any object argument.
TEST_F(CallInstrTest, MemberCallHoldsThis) {
  Watched* object = new Watched(&deaths);
  object->add_ref();
  t_CPUWORD inside = 0;
  Chip_VM_Code* method =
      fcode("Foo.m( ... )", W, true,
            {new Do([&](Chip_VM*, Chip_VM_Shred*) { inside = object->m_ref_count; }),
             new Chip_Instr_Func_Return});
  run(code("main", {imm(object), imm(method), imm(0), new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}),
                    new End}));
  EXPECT_EQ(inside, 2u);
  EXPECT_EQ(object->m_ref_count, 1u);
  object->release();
  EXPECT_EQ(deaths, 1);
}

// A shred that ends inside calls (here: killed while a callee sleeps) has
// its frames' references released by chip_release_frames, which also
// unwinds the memory stack to the start code.
TEST_F(CallInstrTest, ReleasingTheFramesOfAShredStoppedInsideCalls) {
  Watched* object = new Watched(&deaths);
  object->add_ref();  // the test's own reference
  Chip_VM_Code* inner =
      fcode("g( ... )", W, false, {new vmtest::Advance(100), new Chip_Instr_Func_Return});
  Chip_VM_Code* outer =
      fcode("f( ... )", W, false,
            {new Chip_Instr_Reg_Push_Mem(0, 0), imm(inner), imm(W),
             new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}), new Chip_Instr_Func_Return});
  Chip_VM_Code* top = code("main", {imm(object), imm(outer), imm(0),
                                    new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}), new End});
  Chip_VM_Shred* shred = nullptr;
  run(top, &shred);
  ASSERT_EQ(shred->code, inner);
  EXPECT_EQ(object->m_ref_count, 3u);

  chip_release_frames(shred);
  EXPECT_EQ(object->m_ref_count, 1u);
  EXPECT_EQ(shred->code, top);
  EXPECT_EQ(shred->mem->sp, shred->mem->stack);
  chip_release_frames(shred);  // nothing left to release
  EXPECT_EQ(object->m_ref_count, 1u);
  object->release();
  EXPECT_EQ(deaths, 1);
}

// ---------------------------------------------------------------------------
// Stack overflow

// Endless recursion ends its shred with StackOverflow from whichever stack
// runs out first: the memory stack for a plain recursion, the register
// stack when each level leaves values behind (`1 + f()` and the like).
// Neither stack is written past its end; another shred runs on.
TEST_F(CallInstrTest, EndlessRecursionStopsAtTheLimitOfEitherStack) {
  const struct {
    const char* label;
    t_CPWORD words_left_per_level;
    bool register_limit;
  } cases[] = {{"memory stack", 0, false}, {"register stack", 4, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    trace.clear();
    // The deepest level reached, as its first instruction sees the stacks
    // (a finished shred's stacks are gone once it is freed).
    t_CPWORD deepest_reg = 0, deepest_mem = 0, reg_limit = 0, reg_size = 0, mem_limit = 0;
    Chip_Func* f = func();
    std::vector<Chip_Instr*> body;
    body.push_back(new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
      deepest_reg = shred->reg->sp - shred->reg->stack;
      deepest_mem = shred->mem->sp - shred->mem->stack;
      reg_limit = shred->reg->sp_max - shred->reg->stack;
      reg_size = static_cast<t_CPWORD>(shred->reg->size);
      mem_limit = shred->mem->sp_max - shred->mem->stack;
    }));
    for (t_CPWORD i = 0; i < c.words_left_per_level; i++) body.push_back(imm(i));
    body.insert(body.end(), {imm(f), new Chip_Instr_Func_To_Code, imm(0), new Chip_Instr_Func_Call,
                             new Chip_Instr_Func_Return});
    const int call_pc = static_cast<int>(body.size()) - 2;
    f->code = fcode("f( ... )", 0, false, body);
    Chip_VM_Shred* deep =
        start(code("deep", {imm(f), new Chip_Instr_Func_To_Code, imm(0), new Chip_Instr_Func_Call,
                            new Mark(&trace, "deep"), new End}));
    const int id = static_cast<int>(deep->id);
    start(code("other", {new Mark(&trace, "other"), new End}));
    Lines lines = printed_lines([&] { vm->compute(); });

    EXPECT_EQ(lines, Lines{overflow_line(id, "deep", call_pc)});
    EXPECT_TRUE(deep->is_done);
    EXPECT_TRUE(deep->is_dumped);
    EXPECT_EQ(trace, vmtest::Trace{"other@0"});
    // The call that failed found the register stack past its limit (the
    // level's words, then the code and the local depth) only in the
    // register case; no level ever reached past either stack's limit.
    EXPECT_EQ(deepest_reg + (c.words_left_per_level + 2) * W > reg_limit, c.register_limit);
    EXPECT_LE(deepest_reg, reg_size);
    EXPECT_LE(deepest_mem, mem_limit);
  }
}

// A call whose frame would begin past the end of the memory stack raises
// StackOverflow before writing anything, and a native function is then not
// called.
TEST_F(CallInstrTest, AFrameBeyondTheEndOfTheStackIsRefusedUnwritten) {
  Chip_VM_Code* compiled = fcode("f( ... )", 2 * W, false, {new Chip_Instr_Func_Return});
  Chip_VM_Code* member =
      native("m", reinterpret_cast<void*>(&native_mfun), Chip_VM_Code::NATIVE_MFUN, 2 * W, true);
  Chip_VM_Code* stat =
      native("s", reinterpret_cast<void*>(&native_sfun), Chip_VM_Code::NATIVE_SFUN, 2 * W, false);
  const t_CPWORD huge = 1 << 20;
  const struct {
    const char* label;
    Chip_VM_Code* callee;
    Chip_Instr* call;
  } cases[] = {
      {"compiled", compiled, new Chip_Instr_Func_Call},
      {"native member", member, new Chip_Instr_Func_Call_Member(8)},
      {"native static", stat, new Chip_Instr_Func_Call_Static(8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    trace.clear();
    seen = NativeSeen();
    Chip_VM_Shred* shred = nullptr;
    Lines lines = run(code("big", {imm(1), imm(2), imm(c.callee), imm(huge), c.call,
                                   new Mark(&trace, "after"), new End}),
                      &shred);
    EXPECT_EQ(lines, Lines{overflow_line(last_id, "big", 4)});
    EXPECT_TRUE(shred->is_done);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(seen.calls, 0);
  }
}

// ---------------------------------------------------------------------------
// Spork

// The child gets the arguments (and `this` for a member function) and holds
// its object arguments until it ends, so they outlive the parent's frame
// and its variables; the parent gets the child at once and runs on. The
// child's references go when it ends: objects nobody else holds are freed.
TEST_F(CallInstrTest, SporkedArgumentsOutliveTheParentsFrame) {
  Watched* object = new Watched(&deaths);
  std::vector<t_CPWORD> child_frame;
  t_CPUWORD count_in_child = 0;
  Chip_Func* g = func();
  g->code = fcode("g( ... )", 2 * W, false,
                  {new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                     child_frame = {word_at(shred->mem->sp), word_at(shred->mem->sp + W)};
                     count_in_child = object->m_ref_count;
                   }),
                   new Chip_Instr_Func_Return});
  Chip_VM_Code* spork_exp =
      code("spork~exp", {new Chip_Instr_Mem_Push_Imm(0), new Chip_Instr_Func_To_Code, imm(0),
                         new Chip_Instr_Func_Call(Chip_Obj_Offsets{W}), new Chip_Instr_EOC});
  // h(Foo q) { spork ~ g(7, q); null @=> q; }
  Chip_VM_Shred* child = nullptr;
  Chip_VM_Shred* child_parent = nullptr;
  std::string child_name;
  Chip_VM_Code* h =
      fcode("h( ... )", W, false,
            {imm(7), new Chip_Instr_Reg_Push_Mem(0, 0), imm(g), imm(spork_exp),
             new Chip_Instr_Spork(2 * W, {W}), new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
               child = chip_pop_ptr<Chip_VM_Shred>(shred->reg);
               child_parent = child->parent;
               child_name = child->name;
             }),
             imm(0), new Chip_Instr_Reg_Push_Mem_Addr(0, 0), new Chip_Instr_Assign_Object,
             new Chip_Instr_Reg_Pop_Word, new Chip_Instr_Func_Return});
  // Foo local; h(local); null @=> local; 10::samp => now;
  Chip_VM_Shred* parent = nullptr;
  run(code("parent", {imm(object), new Chip_Instr_Alloc_Word(0), new Chip_Instr_Assign_Object,
                      new Chip_Instr_Reg_Pop_Word, new Chip_Instr_Reg_Push_Mem(0, 0), imm(h),
                      imm(W), new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}), imm(0),
                      new Chip_Instr_Reg_Push_Mem_Addr(0, 0), new Chip_Instr_Assign_Object,
                      new Chip_Instr_Reg_Pop_Word, new vmtest::Advance(10), new End}),
      &parent);

  ASSERT_NE(child, nullptr);  // gone by now: the machine freed it when it ended
  EXPECT_EQ(child_parent, parent);
  EXPECT_EQ(child_name, "spork~exp");
  EXPECT_EQ(child_frame, (std::vector<t_CPWORD>{7, reinterpret_cast<t_CPWORD>(object)}));
  EXPECT_EQ(count_in_child, 2u);  // the spork's reference and the child's frame's
  EXPECT_EQ(deaths, 1);           // freed when the child ended
  EXPECT_FALSE(parent->is_done);
}

TEST_F(CallInstrTest, SporkedMemberFunctionGetsAndHoldsThis) {
  Watched* object = new Watched(&deaths);
  std::vector<t_CPWORD> child_frame;
  t_CPUWORD count_in_child = 0;
  Chip_Func* m = func(true);
  m->code = fcode("Foo.m( ... )", 2 * W, true,
                  {new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
                     child_frame = {word_at(shred->mem->sp), word_at(shred->mem->sp + W)};
                     count_in_child = object->m_ref_count;
                   }),
                   new Chip_Instr_Func_Return});
  Chip_VM_Code* spork_exp =
      code("spork~exp", {new Chip_Instr_Mem_Push_Imm(0), new Chip_Instr_Func_To_Code, imm(0),
                         new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}), new Chip_Instr_EOC});
  run(code("parent", {imm(5), imm(object), imm(m), imm(spork_exp), new Chip_Instr_Spork(W),
                      new Chip_Instr_Reg_Pop_Word, new vmtest::Advance(10), new End}));
  EXPECT_EQ(child_frame, (std::vector<t_CPWORD>{reinterpret_cast<t_CPWORD>(object), 5}));
  EXPECT_EQ(count_in_child, 2u);
  EXPECT_EQ(deaths, 1);
}

// A child freed before it ever ran (its parent ended first) releases what it
// held.
TEST_F(CallInstrTest, AChildThatNeverRanReleasesItsArguments) {
  Watched* object = new Watched(&deaths);
  Chip_Func* g = func();
  g->code = fcode("g( ... )", W, false, {new Chip_Instr_Func_Return});
  Chip_VM_Code* spork_exp =
      code("spork~exp", {new Chip_Instr_Mem_Push_Imm(0), new Chip_Instr_Func_To_Code, imm(0),
                         new Chip_Instr_Func_Call(Chip_Obj_Offsets{0}), new Chip_Instr_EOC});
  run(code("parent", {imm(object), imm(g), imm(spork_exp), new Chip_Instr_Spork(W, {0}), new End}));
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(vm->num_shreds(), 0u);
}

// ---------------------------------------------------------------------------
// Time and events

Chip_Instr* record_time(vmtest::Trace* trace, const std::string& tag) {
  return new Do([trace, tag](Chip_VM* vm, Chip_VM_Shred* shred) {
    char text[64];
    std::snprintf(text, sizeof text, "%s=%g@%g", tag.c_str(), chip_pop_float(shred->reg),
                  vm->shreduler()->now);
    trace->push_back(text);
  });
}

// Advancing time suspends the shred until then, with the time as the value
// of the expression; advancing to now only lets the other shreds due now go
// first.
TEST_F(CallInstrTest, TimeAdvanceSleepsUntilTheTimeOrYields) {
  start(code("a", {new Chip_Instr_Reg_Push_Imm2(0.0), new Chip_Instr_Time_Advance,
                   record_time(&trace, "a"), new Chip_Instr_Reg_Push_Imm2(12.0),
                   new Chip_Instr_Time_Advance, record_time(&trace, "a"), new End}));
  start(code("b", {new Mark(&trace, "b"), new End}));
  vm->run(20);
  EXPECT_EQ(trace, (vmtest::Trace{"b@0", "a=0@0", "a=12@12"}));
}

// Each exception stops its shred where it is (the instruction after it does
// not run) with its message; the machine and its other shreds go on.
TEST_F(CallInstrTest, TimeIntoThePastAndNullEventWaitStopTheShred) {
  const struct {
    const char* name;
    std::vector<Chip_Instr*> instrs;
    std::string message;  // the line before " in shred[...]"
    int pc;
  } cases[] = {
      {"past",
       {new Chip_Instr_Reg_Push_Now, new Chip_Instr_Reg_Push_Imm2(3.0), new Chip_Instr_Add_double,
        new Chip_Instr_Time_Advance, new Chip_Instr_Reg_Pop_Word2,
        new Chip_Instr_Reg_Push_Imm2(2.5), new Chip_Instr_Time_Advance, new Mark(&trace, "past"),
        new End},
       "[chip](VM): DestTimeNegativeException: '2.500000'",
       6},
      {"nowait",
       {imm(0), new Chip_Instr_Event_Wait, new Mark(&trace, "nowait"), new End},
       "[chip](VM): NullPointerException: (null Event wait)",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    const int t0 = static_cast<int>(vm->shreduler()->now);
    Chip_VM_Shred* shred = start(code(c.name, c.instrs));
    const int id = static_cast<int>(shred->id);
    start(code("other", {new vmtest::Advance(5), new Mark(&trace, "other"), new End}));
    Lines lines = printed_lines([&] { vm->run(6); });
    EXPECT_EQ(lines, Lines{c.message + " in shred[id=" + std::to_string(id) + ":" + c.name +
                           "], PC=[" + std::to_string(c.pc) + "]"});
    EXPECT_TRUE(shred->is_done);
    EXPECT_EQ(trace, vmtest::Trace{"other@" + std::to_string(t0 + 5)});
  }
}

// Waiting on an event blocks the shred until the event is signalled; the
// shred then finds the time on its register stack.
TEST_F(CallInstrTest, EventWaitBlocksUntilSignalled) {
  auto* event = static_cast<Chip_Event*>(instantiate_and_initialize_object(&t_event, nullptr));
  event->add_ref();
  Chip_VM_Shred* shred = start(code(
      "waiter", {imm(event), new Chip_Instr_Event_Wait, record_time(&trace, "woke"), new End}));
  vm->run(4);
  EXPECT_TRUE(trace.empty());
  EXPECT_TRUE(vm->shreduler()->is_blocked(shred));
  event->signal();
  vm->compute();
  EXPECT_EQ(trace, vmtest::Trace{"woke=4@4"});
  EXPECT_TRUE(shred->is_done);
  event->release();
}

}  // namespace
