// Stack, memory, member-access and control instructions, and the shared
// stack helpers.
//
// Most cases execute one instruction on a stand-alone shred (its stacks
// emptied first) and compare the whole register stack afterwards, slot by
// slot (8-byte slots; doubles compared by their bits). Whole programs of
// hand-assembled code run on a real machine for locals and globals, the
// run-time exceptions and the end of code.
#include "chip/vm/chip_instr_stack.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<std::string> Lines;
typedef std::vector<t_CPUWORD> Slots;

// The bits of a double as one slot.
t_CPUWORD bits(double value) { return chip_load<t_CPUWORD>(&value); }
t_CPUWORD word(t_CPWORD value) { return static_cast<t_CPUWORD>(value); }
t_CPUWORD ptr(const void* p) { return reinterpret_cast<t_CPUWORD>(p); }

// An object whose destruction is counted.
struct Counted : Chip_Object {
  explicit Counted(int* deaths) : deaths(deaths) {}
  ~Counted() override { ++*deaths; }
  int* deaths;
};

class InstrStackTest : public VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm();
    shred = new Chip_VM_Shred;
    shred->add_ref();
    ASSERT_TRUE(shred->initialize(code("unit", {new End})));
    shred->vm_ref = vm;
    shred->base_ref = shred->mem;
    shred->id = 7;
    shred->name = "unit";
    // An object with 48 bytes of member data: a word at 0, a double at 8,
    // a complex at 16, zeros from 32.
    object = new Chip_Object;
    object->add_ref();
    object->size = 48;
    object->data = static_cast<unsigned char*>(std::calloc(48, 1));
    chip_store<t_CPWORD>(object->data, -3);
    chip_store<t_CPFLOAT>(object->data + 8, 0.25);
    chip_store<t_CPCOMPLEX>(object->data + 16, t_CPCOMPLEX{1.5, -2.0});
  }

  void TearDown() override {
    object->release();
    shred->release();
    VMTest::TearDown();
  }

  // Empties both stacks, runs prepare (which pushes the operands and sets
  // memory up), executes instr (then deletes it) and returns the register
  // stack.
  Slots after(const std::function<void()>& prepare, Chip_Instr* instr) {
    std::unique_ptr<Chip_Instr> owned(instr);
    shred->reg->sp = shred->reg->stack;
    shred->mem->sp = shred->mem->stack;
    prepare();
    owned->execute(vm, shred);
    return reg_slots();
  }
  Slots after(Chip_Instr* instr) {
    return after([] {}, instr);
  }

  Slots reg_slots() const {
    Slots slots;
    for (unsigned char* p = shred->reg->stack; p < shred->reg->sp; p += sizeof(t_CPUWORD)) {
      slots.push_back(chip_load<t_CPUWORD>(p));
    }
    return slots;
  }

  void push(t_CPWORD value) { chip_push_word(shred->reg, value); }
  void push_ptr(const void* p) { chip_push_ptr(shred->reg, p); }
  void push_float(double value) { chip_push_float(shred->reg, value); }

  // A finished run of hand-made code on the machine: the register stack at
  // the instruction before the code's final EOC (when it got there) and the
  // lines printed.
  struct Run {
    bool finished = false;
    Slots reg;
    Lines lines;
  };

  // Code of instrs, then a snapshot of the register stack and the real EOC.
  Chip_VM_Code* program(const std::string& name, std::vector<Chip_Instr*> instrs, Run* run) {
    instrs.push_back(new Do([run](Chip_VM*, Chip_VM_Shred* s) {
      run->finished = true;
      for (unsigned char* p = s->reg->stack; p < s->reg->sp; p += sizeof(t_CPUWORD)) {
        run->reg.push_back(chip_load<t_CPUWORD>(p));
      }
    }));
    instrs.push_back(new Chip_Instr_EOC);
    return code(name, instrs);
  }

  // Runs the machine until every shred is gone.
  Lines run_machine() {
    return printed_lines([&] {
      for (int pass = 0; pass < 10 && vm->num_shreds() > 0; pass++) vm->run(1);
    });
  }

  Chip_VM* vm = nullptr;
  Chip_VM_Shred* shred = nullptr;
  Chip_Object* object = nullptr;
};

// ---------------------------------------------------------------------------
// Shared helpers

TEST_F(InstrStackTest, HelpersPushAndPopEveryKind) {
  Chip_Shred_Stack* reg = shred->reg;
  reg->sp = reg->stack;
  chip_push_int(reg, -1);
  // Sign-extended into the whole word.
  EXPECT_EQ(chip_top_word(reg), static_cast<t_CPWORD>(-1));
  chip_push_word(reg, static_cast<t_CPWORD>(0x100000005LL));
  chip_push_float(reg, -0.5);
  chip_push_complex(reg, t_CPCOMPLEX{1.0, 2.0});
  chip_push_polar(reg, t_CPPOLAR{3.0, 0.25});
  chip_push_ptr(reg, object);
  EXPECT_EQ(reg->sp - reg->stack, 8 + 8 + 8 + 16 + 16 + 8);

  EXPECT_EQ(chip_pop_ptr<Chip_Object>(reg), object);
  t_CPPOLAR polar = chip_pop_polar(reg);
  EXPECT_EQ(polar.modulus, 3.0);
  EXPECT_EQ(polar.phase, 0.25);
  t_CPCOMPLEX complex = chip_pop_complex(reg);
  EXPECT_EQ(complex.re, 1.0);
  EXPECT_EQ(complex.im, 2.0);
  EXPECT_EQ(chip_pop_float(reg), -0.5);
  // An int pop keeps the low 32 bits.
  EXPECT_EQ(chip_pop_int(reg), 5);
  EXPECT_EQ(chip_pop_int(reg), -1);
  EXPECT_EQ(reg->sp, reg->stack);
}

TEST_F(InstrStackTest, RuntimeExceptionPrintsTheMessageAndStopsTheShred) {
  shred->is_running = TRUE;
  shred->is_done = FALSE;
  Lines lines = printed_lines([&] {
    chip_runtime_exception(shred, "[chip](VM): Oops: shred[id=%d:%s], PC=[%d]\n", 7, "unit", 3);
  });
  EXPECT_EQ(lines, Lines({"[chip](VM): Oops: shred[id=7:unit], PC=[3]"}));
  EXPECT_FALSE(shred->is_running);
  EXPECT_TRUE(shred->is_done);
}

TEST_F(InstrStackTest, SlotKindFollowsTheType) {
  struct Case {
    Chip_Type* type;
    t_CPUWORD kind;
    t_CPUWORD width;
  } cases[] = {
      {&t_void, 0, 0},   {&t_int, 4, 8},       {&t_float, 8, 8},   {&t_time, 8, 8},
      {&t_dur, 8, 8},    {&t_complex, 16, 16}, {&t_polar, 16, 16}, {&t_string, 4, 8},
      {&t_object, 4, 8}, {&t_null, 4, 8},      {&t_event, 4, 8},   {&t_ugen, 4, 8},
      {&t_shred, 4, 8},  {&t_class, 4, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chip_slot_kind(c.type), c.kind) << c.type->name;
    EXPECT_EQ(chip_slot_width(c.kind), c.width) << c.type->name;
  }
  EXPECT_DEATH(chip_slot_width(12), "internal error");
}

// ---------------------------------------------------------------------------
// Names and operand texts

TEST_F(InstrStackTest, NamesAndOperandTexts) {
  static int import_var = 0;
  Chip_Func func;
  const std::string import_addr = std::to_string(reinterpret_cast<long>(&import_var));
  const std::string func_addr = std::to_string(reinterpret_cast<long>(&func));
  struct Case {
    std::unique_ptr<Chip_Instr> instr;
    const char* name;
    std::string params;
  };
  std::vector<Case> cases;
  auto add = [&](Chip_Instr* instr, const char* name, std::string params) {
    cases.push_back({std::unique_ptr<Chip_Instr>(instr), name, std::move(params)});
  };
  add(new Chip_Instr_Reg_Push_Imm(word(-2)), "Chip_Instr_Reg_Push_Imm", "-2");
  add(new Chip_Instr_Reg_Push_Imm2(1.25), "Chip_Instr_Reg_Push_Imm2", "1.250000");
  add(new Chip_Instr_Reg_Dup_Last, "Chip_Instr_Reg_Dup_Last", "");
  add(new Chip_Instr_Reg_Push_Now, "Chip_Instr_Reg_Push_Now", "");
  add(new Chip_Instr_Reg_Push_Me, "Chip_Instr_Reg_Push_Me", "");
  add(new Chip_Instr_Reg_Push_This, "Chip_Instr_Reg_Push_This", "");
  add(new Chip_Instr_Reg_Push_Maybe, "Chip_Instr_Reg_Push_Maybe", "0");
  add(new Chip_Instr_Reg_Push_Deref(4096, 4), "Chip_Instr_Reg_Push_Deref", "4096");
  add(new Chip_Instr_Reg_Push_Mem(16, 1), "Chip_Instr_Reg_Push_Mem", "src=16, base=1");
  add(new Chip_Instr_Reg_Push_Mem2(8, 0), "Chip_Instr_Reg_Push_Mem2", "src=8, base=0");
  add(new Chip_Instr_Reg_Push_Mem4(24, 0), "Chip_Instr_Reg_Push_Mem4", "src=24, base=0");
  add(new Chip_Instr_Reg_Push_Mem_Addr(32, 1), "Chip_Instr_Reg_Push_Mem_Addr", "src=32, base=1");
  add(new Chip_Instr_Reg_Pop_Word, "Chip_Instr_Reg_Pop_Word", "");
  add(new Chip_Instr_Reg_Pop_Word2, "Chip_Instr_Reg_Pop_Word2", "");
  add(new Chip_Instr_Reg_Pop_Word3(3), "Chip_Instr_Reg_Pop_Word3", "3");
  add(new Chip_Instr_Mem_Set_Imm(8, 99), "Chip_Instr_Mem_Set_Imm", "offset=8, value=99");
  add(new Chip_Instr_Mem_Push_Imm(12), "Chip_Instr_Mem_Push_Imm", "12");
  add(new Chip_Instr_Alloc_Word(8), "Chip_Instr_Alloc_Word", "8");
  add(new Chip_Instr_Alloc_Word2(16), "Chip_Instr_Alloc_Word2", "16");
  add(new Chip_Instr_Alloc_Word4(24), "Chip_Instr_Alloc_Word4", "24");
  add(new Chip_Instr_Alloc_Member_Word(0), "Chip_Instr_Alloc_Member_Word", "0");
  add(new Chip_Instr_Alloc_Member_Word2(8), "Chip_Instr_Alloc_Member_Word2", "8");
  add(new Chip_Instr_Alloc_Member_Word4(16), "Chip_Instr_Alloc_Member_Word4", "16");
  add(new Chip_Instr_Assign_Primitive, "Chip_Instr_Assign_Primitive", "");
  add(new Chip_Instr_Assign_Primitive2, "Chip_Instr_Assign_Primitive2", "");
  add(new Chip_Instr_Assign_Primitive4, "Chip_Instr_Assign_Primitive4", "");
  add(new Chip_Instr_Assign_Object, "Chip_Instr_Assign_Object", "");
  add(new Chip_Instr_Dot_Member_Data(16, 8, 1), "Chip_Instr_Dot_Member_Data",
      "offset=16, size=8, emit_addr=1");
  add(new Chip_Instr_Dot_Member_Func(3), "Chip_Instr_Dot_Member_Func", "offset=3");
  add(new Chip_Instr_Dot_Static_Data(8, 16, 0), "Chip_Instr_Dot_Static_Data",
      "offset=8, size=16, emit_addr=0");
  add(new Chip_Instr_Dot_Static_Import_Data(&import_var, 4, 1), "Chip_Instr_Dot_Static_Import_Data",
      "addr=" + import_addr + ", size=4, emit_addr=1");
  add(new Chip_Instr_Dot_Static_Func(&func), "Chip_Instr_Dot_Static_Func", "func=" + func_addr);
  add(new Chip_Instr_Dot_Cmp_First(1, 0), "Chip_Instr_Dot_Cmp_First", "is_mem=1, emit_addr=0");
  add(new Chip_Instr_Dot_Cmp_Second(0, 0), "Chip_Instr_Dot_Cmp_Second", "is_mem=0, emit_addr=0");
  add(new Chip_Instr_ADC, "Chip_Instr_ADC", "");
  add(new Chip_Instr_DAC, "Chip_Instr_DAC", "");
  add(new Chip_Instr_Bunghole, "Chip_Instr_Bunghole", "");
  add(new Chip_Instr_Init_Loop_Counter(2048), "Chip_Instr_Init_Loop_Counter", "2048");
  add(new Chip_Instr_EOC, "Chip_Instr_EOC", "");
  add(new Chip_Instr_IO_in_int, "Chip_Instr_IO_in_int", "");
  add(new Chip_Instr_IO_in_float, "Chip_Instr_IO_in_float", "");
  add(new Chip_Instr_IO_in_string, "Chip_Instr_IO_in_string", "");
  add(new Chip_Instr_IO_out_int, "Chip_Instr_IO_out_int", "");
  add(new Chip_Instr_IO_out_float, "Chip_Instr_IO_out_float", "");
  add(new Chip_Instr_IO_out_string, "Chip_Instr_IO_out_string", "");
  ASSERT_EQ(cases.size(), 45u);
  for (const Case& c : cases) {
    EXPECT_STREQ(c.instr->name(), c.name);
    EXPECT_EQ(c.instr->params(), c.params) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Register-stack pushes

TEST_F(InstrStackTest, PushesLeaveTheirValueOnTop) {
  t_CPWORD int_var = -9;
  t_CPFLOAT float_var = 0.75;
  shred->now = 123.5;
  // Something below every push, which must stay.
  auto below = [&] { push(5); };
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Imm(word(-5))), (Slots{5, word(-5)}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Imm2(2.5)), (Slots{5, bits(2.5)}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Dup_Last), (Slots{5, 5}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Now), (Slots{5, bits(123.5)}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Me), (Slots{5, ptr(shred)}));
  auto this_in_frame = [&] {
    below();
    chip_store<t_CPWORD>(shred->mem->sp, ptr(object));
  };
  EXPECT_EQ(after(this_in_frame, new Chip_Instr_Reg_Push_This), (Slots{5, ptr(object)}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Deref(ptr(&int_var), 4)), (Slots{5, word(-9)}));
  EXPECT_EQ(after(below, new Chip_Instr_Reg_Push_Deref(ptr(&float_var), 8)),
            (Slots{5, bits(0.75)}));
  EXPECT_EQ(after(below, new Chip_Instr_ADC), (Slots{5, ptr(vm->adc())}));
  EXPECT_EQ(after(below, new Chip_Instr_DAC), (Slots{5, ptr(vm->dac())}));
  EXPECT_EQ(after(below, new Chip_Instr_Bunghole), (Slots{5, ptr(vm->blackhole())}));
  EXPECT_NE(vm->dac(), nullptr);
}

TEST_F(InstrStackTest, PushMemReadsLocalsAtTheFrameAndGlobalsAtTheBase) {
  // The frame starts two words above the base of the globals.
  unsigned char* base = shred->mem->stack;
  auto memory = [&] {
    chip_store<t_CPWORD>(base, 11);
    chip_store<t_CPWORD>(base + 8, 22);
    shred->mem->sp = base + 16;
    chip_store<t_CPWORD>(base + 16, 33);
    chip_store<t_CPFLOAT>(base + 24, -1.5);
    chip_store<t_CPCOMPLEX>(base + 32, t_CPCOMPLEX{4.0, 5.0});
  };
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem(0, 0)), (Slots{33}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem(8, 1)), (Slots{22}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem2(8, 0)), (Slots{bits(-1.5)}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem4(16, 0)), (Slots{bits(4.0), bits(5.0)}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem2(16, 1)), (Slots{33}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem_Addr(8, 0)), (Slots{ptr(base + 24)}));
  EXPECT_EQ(after(memory, new Chip_Instr_Reg_Push_Mem_Addr(8, 1)), (Slots{ptr(base + 8)}));
}

TEST_F(InstrStackTest, MaybeDrawsOneRandomNumberPerExecution) {
  const int n = 1000;
  std::srand(1234);
  std::vector<t_CPUWORD> expected;
  for (int i = 0; i < n; i++) {
    expected.push_back(static_cast<float>(std::rand()) * (1.0f / 2147483648.0f) > 0.5f ? 1 : 0);
  }
  std::srand(1234);
  Chip_Instr_Reg_Push_Maybe maybe;
  shred->reg->sp = shred->reg->stack;
  for (int i = 0; i < n; i++) maybe.execute(vm, shred);
  Slots got = reg_slots();
  EXPECT_EQ(got, expected);
  int ones = 0;
  for (t_CPUWORD v : got) ones += static_cast<int>(v);
  EXPECT_GT(ones, n * 4 / 10);
  EXPECT_LT(ones, n * 6 / 10);
}

// ---------------------------------------------------------------------------
// Pops

TEST_F(InstrStackTest, PopsDropWordsAndDoubles) {
  auto three = [&] {
    push(1);
    push_float(2.0);
    push(3);
  };
  EXPECT_EQ(after(three, new Chip_Instr_Reg_Pop_Word), (Slots{1, bits(2.0)}));
  EXPECT_EQ(after(three, new Chip_Instr_Reg_Pop_Word2), (Slots{1, bits(2.0)}));
  EXPECT_EQ(after(three, new Chip_Instr_Reg_Pop_Word3(0)), (Slots{1, bits(2.0), 3}));
  EXPECT_EQ(after(three, new Chip_Instr_Reg_Pop_Word3(2)), (Slots{1}));
  EXPECT_EQ(after(three, new Chip_Instr_Reg_Pop_Word3(3)), (Slots{}));
}

// ---------------------------------------------------------------------------
// Memory stack and declarations

TEST_F(InstrStackTest, MemoryStackImmediates) {
  unsigned char* base = shred->mem->stack;
  after([] {}, new Chip_Instr_Mem_Set_Imm(16, word(-4)));
  EXPECT_EQ(chip_load<t_CPWORD>(base + 16), -4);
  EXPECT_EQ(shred->mem->sp, base);
  after([] {}, new Chip_Instr_Mem_Push_Imm(77));
  EXPECT_EQ(chip_load<t_CPWORD>(base), 77);
  EXPECT_EQ(shred->mem->sp, base + 8);
  EXPECT_EQ(reg_slots(), Slots{});
}

TEST_F(InstrStackTest, DeclarationsZeroExactlyTheirVariable) {
  struct Case {
    const char* label;
    std::function<Chip_Instr*()> make;
    bool member;
    size_t width;
  } cases[] = {
      {"Alloc_Word", [] { return new Chip_Instr_Alloc_Word(16); }, false, 8},
      {"Alloc_Word2", [] { return new Chip_Instr_Alloc_Word2(16); }, false, 8},
      {"Alloc_Word4", [] { return new Chip_Instr_Alloc_Word4(16); }, false, 16},
      {"Alloc_Member_Word", [] { return new Chip_Instr_Alloc_Member_Word(16); }, true, 8},
      {"Alloc_Member_Word2", [] { return new Chip_Instr_Alloc_Member_Word2(16); }, true, 8},
      {"Alloc_Member_Word4", [] { return new Chip_Instr_Alloc_Member_Word4(16); }, true, 16},
  };
  for (const Case& c : cases) {
    // The frame (mem->sp) starts one word up; `this` is its first word.
    unsigned char* frame = shred->mem->stack + 8;
    unsigned char* block = c.member ? object->data : frame;
    Slots got = after(
        [&] {
          std::memset(object->data, 0xAB, 48);
          std::memset(shred->mem->stack, 0xAB, 128);
          shred->mem->sp = frame;
          chip_store<Chip_Object*>(frame, object);
        },
        c.make());
    EXPECT_EQ(got, (Slots{ptr(block + 16)})) << c.label;
    // Bytes 8 to 40 of the block: only the variable's are cleared.
    for (size_t i = 8; i < 40; i++) {
      const bool cleared = i >= 16 && i < 16 + c.width;
      EXPECT_EQ(block[i], cleared ? 0 : 0xAB) << c.label << " byte " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Assignment

TEST_F(InstrStackTest, AssignPrimitiveStoresAndKeepsTheValue) {
  unsigned char var[24];
  std::memset(var, 0xCD, sizeof var);
  auto int_operands = [&] {
    push(-6);
    push_ptr(var);
  };
  EXPECT_EQ(after(int_operands, new Chip_Instr_Assign_Primitive), (Slots{word(-6)}));
  EXPECT_EQ(chip_load<t_CPWORD>(var), -6);
  EXPECT_EQ(var[8], 0xCD);

  auto float_operands = [&] {
    push_float(0.125);
    push_ptr(var);
  };
  EXPECT_EQ(after(float_operands, new Chip_Instr_Assign_Primitive2), (Slots{bits(0.125)}));
  EXPECT_EQ(chip_load<t_CPFLOAT>(var), 0.125);
  EXPECT_EQ(var[8], 0xCD);

  auto complex_operands = [&] {
    push_float(3.0);
    push_float(-4.0);
    push_ptr(var);
  };
  EXPECT_EQ(after(complex_operands, new Chip_Instr_Assign_Primitive4),
            (Slots{bits(3.0), bits(-4.0)}));
  EXPECT_EQ(chip_load<t_CPFLOAT>(var), 3.0);
  EXPECT_EQ(chip_load<t_CPFLOAT>(var + 8), -4.0);
  EXPECT_EQ(var[16], 0xCD);
}

TEST_F(InstrStackTest, AssignObjectCountsReferences) {
  int deaths = 0;
  Counted* a = new Counted(&deaths);
  Counted* b = new Counted(&deaths);
  Chip_Object* var = nullptr;
  auto assign = [&](Chip_Object* value) {
    return after(
        [&] {
          push_ptr(value);
          push_ptr(&var);
        },
        new Chip_Instr_Assign_Object);
  };

  EXPECT_EQ(assign(a), (Slots{ptr(a)}));
  EXPECT_EQ(var, a);
  EXPECT_EQ(a->m_ref_count, 1u);
  // The object the variable already holds: kept, count unchanged.
  EXPECT_EQ(assign(a), (Slots{ptr(a)}));
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(a->m_ref_count, 1u);
  // Another object: the old one is released (and freed).
  EXPECT_EQ(assign(b), (Slots{ptr(b)}));
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(b->m_ref_count, 1u);
  // null: the variable lets go.
  EXPECT_EQ(assign(nullptr), (Slots{0}));
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(deaths, 2);
}

// ---------------------------------------------------------------------------
// Member and static access

TEST_F(InstrStackTest, MemberDataPushesTheValueOrTheAddressByKind) {
  unsigned char* data = object->data;
  // A word below the object, which must stay.
  auto operands = [&] {
    push(1);
    push_ptr(object);
  };
  struct Case {
    t_CPUWORD offset, kind, emit_addr;
    Slots expected;
  } cases[] = {
      {0, CHIP_SLOT_WORD, 0, {1, word(-3)}},
      {8, CHIP_SLOT_FLOAT, 0, {1, bits(0.25)}},
      {16, CHIP_SLOT_COMPLEX, 0, {1, bits(1.5), bits(-2.0)}},
      {0, CHIP_SLOT_VOID, 0, {1}},
      {8, CHIP_SLOT_FLOAT, 1, {1, ptr(data + 8)}},
      {16, CHIP_SLOT_COMPLEX, 1, {1, ptr(data + 16)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(after(operands, new Chip_Instr_Dot_Member_Data(c.offset, c.kind, c.emit_addr)),
              c.expected)
        << "offset " << c.offset << " kind " << c.kind << " emit_addr " << c.emit_addr;
  }
}

TEST_F(InstrStackTest, MemberFunctionsComeFromTheObjectsTable) {
  Chip_Func f0, f1;
  object->vtable = new Chip_VTable;
  object->vtable->funcs = {&f0, &f1};
  // As emitted for obj.f(): the base, a copy for `this`, the lookup.
  auto base = [&] { push_ptr(object); };
  auto base_and_copy = [&] {
    base();
    chip_push_word(shred->reg, chip_top_word(shred->reg));
  };
  EXPECT_EQ(after(base_and_copy, new Chip_Instr_Dot_Member_Func(1)),
            (Slots{ptr(object), ptr(&f1)}));
  EXPECT_EQ(after(base, new Chip_Instr_Dot_Member_Func(0)), (Slots{ptr(&f0)}));
  EXPECT_DEATH(after(base, new Chip_Instr_Dot_Member_Func(2)), "funcs.size");
}

TEST_F(InstrStackTest, StaticDataLivesInTheClassNamespace) {
  unsigned char class_data[32] = {};
  chip_store<t_CPWORD>(class_data, 41);
  chip_store<t_CPCOMPLEX>(class_data + 16, t_CPCOMPLEX{0.5, 0.75});
  Chip_Type* type = new Chip_Type(te_user, "Holder", &t_object, CHIP_WORD_SIZE);
  type->add_ref();
  type->info = new Chip_Namespace;
  type->info->add_ref();
  type->info->class_data = class_data;
  type->info->class_data_size = sizeof class_data;
  auto klass = [&] {
    push(9);
    push_ptr(type);
  };

  EXPECT_EQ(after(klass, new Chip_Instr_Dot_Static_Data(0, CHIP_SLOT_WORD, 0)), (Slots{9, 41}));
  EXPECT_EQ(after(klass, new Chip_Instr_Dot_Static_Data(16, CHIP_SLOT_COMPLEX, 0)),
            (Slots{9, bits(0.5), bits(0.75)}));
  EXPECT_EQ(after(klass, new Chip_Instr_Dot_Static_Data(8, CHIP_SLOT_FLOAT, 1)),
            (Slots{9, ptr(class_data + 8)}));
  // A value reaching past the block is an engine fault.
  EXPECT_DEATH(after(klass, new Chip_Instr_Dot_Static_Data(24, CHIP_SLOT_COMPLEX, 0)),
               "class_data_size");
  // A static function: the class word is replaced by the function.
  Chip_Func func;
  EXPECT_EQ(after(klass, new Chip_Instr_Dot_Static_Func(&func)), (Slots{9, ptr(&func)}));
  type->release();
}

TEST_F(InstrStackTest, ImportedStaticDataIsReadAtItsAddress) {
  static t_CPWORD import_int = -12;
  static t_CPFLOAT import_float = 6.5;
  auto below = [&] { push(2); };
  EXPECT_EQ(after(below, new Chip_Instr_Dot_Static_Import_Data(&import_int, CHIP_SLOT_WORD, 0)),
            (Slots{2, word(-12)}));
  EXPECT_EQ(after(below, new Chip_Instr_Dot_Static_Import_Data(&import_float, CHIP_SLOT_FLOAT, 0)),
            (Slots{2, bits(6.5)}));
  EXPECT_EQ(after(below, new Chip_Instr_Dot_Static_Import_Data(&import_float, CHIP_SLOT_FLOAT, 1)),
            (Slots{2, ptr(&import_float)}));
}

TEST_F(InstrStackTest, ComplexPartsFromVariablesAndValues) {
  t_CPCOMPLEX var{7.0, -8.0};
  auto address = [&] {
    push(1);
    push_ptr(&var);
  };
  auto value = [&] {
    push(1);
    push_float(7.0);
    push_float(-8.0);
  };
  struct Case {
    bool second, is_mem, emit_addr;
    Slots expected;
  } cases[] = {
      {false, true, true, {1, ptr(&var)}},   {true, true, true, {1, ptr(&var.im)}},
      {false, true, false, {1, bits(7.0)}},  {true, true, false, {1, bits(-8.0)}},
      {false, false, false, {1, bits(7.0)}}, {true, false, false, {1, bits(-8.0)}},
  };
  for (const Case& c : cases) {
    Chip_Instr* instr =
        c.second ? static_cast<Chip_Instr*>(new Chip_Instr_Dot_Cmp_Second(c.is_mem, c.emit_addr))
                 : new Chip_Instr_Dot_Cmp_First(c.is_mem, c.emit_addr);
    Slots got = c.is_mem ? after(address, instr) : after(value, instr);
    EXPECT_EQ(got, c.expected) << (c.second ? "second" : "first") << " is_mem " << c.is_mem
                               << " emit_addr " << c.emit_addr;
  }
  EXPECT_DEATH(after(value, new Chip_Instr_Dot_Cmp_Second(0, 1)), "internal error");
}

// ---------------------------------------------------------------------------
// Control

TEST_F(InstrStackTest, LoopCounterHoldsTheMagnitude) {
  struct Case {
    t_CPINT n, counter;
  } cases[] = {{-3, 3},           {0, 0}, {5, 5}, {INT_MAX, INT_MAX}, {-INT_MAX, INT_MAX},
               {INT_MIN, INT_MIN}};
  // The counter is the local at offset 16 of the running frame (mem->sp).
  unsigned char* cell = shred->mem->stack + 16;
  for (const Case& c : cases) {
    chip_store<t_CPWORD>(cell, 12345);
    EXPECT_EQ(after([&] { chip_push_int(shred->reg, c.n); }, new Chip_Instr_Init_Loop_Counter(16)),
              Slots{})
        << c.n;
    EXPECT_EQ(chip_load<t_CPWORD>(cell), static_cast<t_CPWORD>(c.counter)) << c.n;
    // The loop reads it back as an int.
    EXPECT_EQ(after(new Chip_Instr_Reg_Push_Mem(16, 0)), (Slots{word(c.counter)})) << c.n;
  }
}

TEST_F(InstrStackTest, ACountedLoopOfMinusThreeRunsThreeTimes) {
  // repeat (-3) { body }, as the emitter lays it out: the counter in the
  // frame's local at offset 8.
  Run run;
  Chip_VM_Code* c = program(
      "repeat",
      {new Chip_Instr_Reg_Push_Imm(word(-3)), new Chip_Instr_Init_Loop_Counter(8),
       new Chip_Instr_Reg_Push_Mem(8, 0), new Chip_Instr_Reg_Push_Imm(0),
       new Chip_Instr_Branch_Eq_int(10), new Chip_Instr_Reg_Push_Mem_Addr(8, 0),
       new Chip_Instr_PreDec_int, new Chip_Instr_Reg_Pop_Word, new Mark(&trace, "body"),
       new Chip_Instr_Goto(2)},
      &run);
  vm->spork(c, nullptr);
  EXPECT_EQ(run_machine(), Lines{});
  EXPECT_EQ(trace, Trace({"body@0", "body@0", "body@0"}));
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.reg, Slots{});
}

TEST_F(InstrStackTest, StreamOperatorsLeaveEverythingAlone) {
  std::vector<std::unique_ptr<Chip_Instr>> instrs;
  instrs.emplace_back(new Chip_Instr_IO_in_int);
  instrs.emplace_back(new Chip_Instr_IO_in_float);
  instrs.emplace_back(new Chip_Instr_IO_in_string);
  instrs.emplace_back(new Chip_Instr_IO_out_int);
  instrs.emplace_back(new Chip_Instr_IO_out_float);
  instrs.emplace_back(new Chip_Instr_IO_out_string);
  shred->reg->sp = shred->reg->stack;
  push(4);
  push_float(1.0);
  unsigned char* mem_sp = shred->mem->sp;
  shred->is_running = TRUE;
  shred->is_done = FALSE;
  shred->next_pc = 6;
  for (auto& instr : instrs) {
    instr->execute(vm, shred);
    EXPECT_EQ(reg_slots(), (Slots{4, bits(1.0)})) << instr->name();
    EXPECT_EQ(shred->mem->sp, mem_sp) << instr->name();
    EXPECT_TRUE(shred->is_running) << instr->name();
    EXPECT_FALSE(shred->is_done) << instr->name();
    EXPECT_EQ(shred->next_pc, 6u) << instr->name();
  }
}

// ---------------------------------------------------------------------------
// Programs on the machine

TEST_F(InstrStackTest, LocalsOfEveryKindAreDeclaredAssignedAndRead) {
  Run run;
  // int i = -7; float f = 2.5; complex c = #(1, 2); then i, f, c.
  Chip_VM_Code* c =
      program("locals",
              {new Chip_Instr_Reg_Push_Imm(word(-7)), new Chip_Instr_Alloc_Word(0),
               new Chip_Instr_Assign_Primitive, new Chip_Instr_Reg_Pop_Word,
               new Chip_Instr_Reg_Push_Imm2(2.5), new Chip_Instr_Alloc_Word2(8),
               new Chip_Instr_Assign_Primitive2, new Chip_Instr_Reg_Pop_Word2,
               new Chip_Instr_Reg_Push_Imm2(1.0), new Chip_Instr_Reg_Push_Imm2(2.0),
               new Chip_Instr_Alloc_Word4(16), new Chip_Instr_Assign_Primitive4,
               new Chip_Instr_Reg_Pop_Word3(2), new Chip_Instr_Reg_Push_Mem(0, 0),
               new Chip_Instr_Reg_Push_Mem2(8, 0), new Chip_Instr_Reg_Push_Mem4(16, 0)},
              &run);
  vm->spork(c, nullptr);
  EXPECT_EQ(run_machine(), Lines{});
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.reg, (Slots{word(-7), bits(2.5), bits(1.0), bits(2.0)}));
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(InstrStackTest, ASporkedShredReadsItsParentsGlobals) {
  Run child_run;
  // The child's own frame sits one word up, so a local and a global at
  // offset 0 differ.
  Chip_VM_Code* child = program("child",
                                {new Chip_Instr_Mem_Push_Imm(5), new Chip_Instr_Reg_Push_Mem(0, 1),
                                 new Chip_Instr_Reg_Push_Mem(0, 0)},
                                &child_run);
  Run parent_run;
  Chip_VM_Code* parent = program("parent",
                                 {new Chip_Instr_Reg_Push_Imm(99), new Chip_Instr_Alloc_Word(0),
                                  new Chip_Instr_Assign_Primitive, new Chip_Instr_Reg_Pop_Word,
                                  new Spork(child), new Advance(1)},
                                 &parent_run);
  vm->spork(parent, nullptr);
  EXPECT_EQ(run_machine(), Lines{});
  EXPECT_TRUE(parent_run.finished);
  ASSERT_TRUE(child_run.finished);
  EXPECT_EQ(child_run.reg, (Slots{99, 0}));
}

TEST_F(InstrStackTest, EndOfCodeEndsTheShred) {
  auto running = [&] {
    shred->is_running = TRUE;
    shred->is_done = FALSE;
  };
  EXPECT_EQ(after(running, new Chip_Instr_EOC), Slots{});
  EXPECT_FALSE(shred->is_running);
  EXPECT_TRUE(shred->is_done);

  vm->spork(code("ends", {new Chip_Instr_EOC, new Mark(&trace, "after")}), nullptr);
  vm->spork(code("other", {new Mark(&trace, "other"), new Chip_Instr_EOC}), nullptr);
  EXPECT_EQ(run_machine(), Lines{});
  EXPECT_EQ(trace, Trace({"other@0"}));
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(InstrStackTest, NullObjectsStopTheShredAndTheMachineGoesOn) {
  struct Case {
    std::function<Chip_Instr*()> make;
    std::string format;  // with <id> and <name> to fill
  } cases[] = {
      {[] { return new Chip_Instr_Dot_Member_Data(16, CHIP_SLOT_FLOAT, 0); },
       "[chip](VM): NullPointerException: shred[id=<id>:<name>:(16)], PC=[1]"},
      {[] { return new Chip_Instr_Dot_Member_Func(0); },
       "[chip](VM): NullPointerException: shred[id=<id>:<name>], PC=[1]"},
  };
  for (const Case& c : cases) {
    trace.clear();
    Chip_VM_Shred* failing =
        vm->spork(code("null_access", {new Chip_Instr_Reg_Push_Imm(0), c.make(),
                                       new Mark(&trace, "after"), new Chip_Instr_EOC}),
                  nullptr);
    ASSERT_NE(failing, nullptr);
    std::string expected = c.format;
    expected.replace(expected.find("<id>"), 4, std::to_string(failing->id));
    expected.replace(expected.find("<name>"), 6, "null_access");
    vm->spork(code("other", {new Mark(&trace, "other"), new Chip_Instr_EOC}), nullptr);
    EXPECT_EQ(run_machine(), Lines{expected});
    EXPECT_EQ(trace, Trace({"other@0"}));
    EXPECT_EQ(vm->num_shreds(), 0u);
  }
}

}  // namespace
