// Arithmetic, bitwise, logical, comparison, branch and conversion
// instructions, run as shreds on a real machine: each case pushes its
// operands, runs the instruction and reads back the whole register stack
// (so a wrong width pushed or popped shows as well as a wrong value).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_string.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "vm_test_support.h"

using namespace vmtest;

namespace {

typedef std::vector<unsigned char> Bytes;

const t_CPINT IMAX = INT32_MAX;
const t_CPINT IMIN = INT32_MIN;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();
const double PI = 3.141592653589793;

template <typename T>
Bytes bytes_of(T value) {
  Bytes out(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

// Stack images: an int word (sign-extended), an address word, a double, a
// pair of doubles (complex or polar).
Bytes W(t_CPINT value) { return bytes_of<t_CPWORD>(value); }
Bytes A(const void* addr) { return bytes_of<t_CPWORD>(reinterpret_cast<t_CPWORD>(addr)); }
Bytes F(double value) { return bytes_of(value); }
Bytes C(double a, double b) { return bytes_of(t_CPCOMPLEX{a, b}); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<double> doubles(const Bytes& b) {
  std::vector<double> out(b.size() / sizeof(double));
  if (!out.empty()) std::memcpy(out.data(), b.data(), out.size() * sizeof(double));
  return out;
}

// Readable form of a stack image for failure messages: its words, then its
// doubles.
std::string show(const Bytes& b) {
  std::string text = "[";
  for (size_t i = 0; i + sizeof(t_CPWORD) <= b.size(); i += sizeof(t_CPWORD)) {
    t_CPWORD w;
    std::memcpy(&w, &b[i], sizeof w);
    text += " " + std::to_string(static_cast<long long>(w));
  }
  text += " ] as doubles [";
  for (double d : doubles(b)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %.17g", d);
    text += buf;
  }
  return text + " ]";
}

// Pushes fixed bytes (a case's operands) onto the register stack.
class PushBytes : public Chip_Instr {
 public:
  explicit PushBytes(Bytes bytes) : m_bytes(std::move(bytes)) {}
  void execute(Chip_VM*, Chip_VM_Shred* shred) override {
    if (!m_bytes.empty()) std::memcpy(shred->reg->sp, m_bytes.data(), m_bytes.size());
    shred->reg->sp += m_bytes.size();
  }

 private:
  Bytes m_bytes;
};

typedef Chip_Instr* (*Maker)();
template <typename T>
Chip_Instr* make() {
  return new T;
}

typedef Chip_Instr* (*BranchMaker)(t_CPUWORD);
template <typename T>
Chip_Instr* make_branch(t_CPUWORD target) {
  return new T(target);
}

std::string name_of(Maker maker) {
  std::unique_ptr<Chip_Instr> instr(maker());
  return instr->name();
}

class MathInstrTest : public VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    vm = make_vm(FALSE, 0, FALSE);
  }

  // Runs operands pushed, then instrs, as one shred; returns the register
  // stack as the shred left it.
  Bytes run(const Bytes& operands, std::vector<Chip_Instr*> instrs) {
    Bytes stack;
    bool finished = false;
    instrs.insert(instrs.begin(), new PushBytes(operands));
    instrs.push_back(new Do([&](Chip_VM*, Chip_VM_Shred* shred) {
      stack.assign(shred->reg->stack, shred->reg->sp);
      finished = true;
    }));
    instrs.push_back(new End);
    EXPECT_TRUE(vm->spork(code("case", instrs), nullptr));
    vm->compute();
    EXPECT_TRUE(finished);
    return stack;
  }

  Bytes run(const Bytes& operands, Maker maker) { return run(operands, {maker()}); }

  Chip_VM* vm = nullptr;
};

// Exact comparison of stack images, except that NaN doubles match any NaN.
void expect_stack(const Bytes& expected, const Bytes& actual) {
  if (expected.size() == actual.size()) {
    std::vector<double> e = doubles(expected), a = doubles(actual);
    bool nan_match = !e.empty();
    for (size_t i = 0; i < e.size(); i++) {
      if (std::isnan(e[i]) ? !std::isnan(a[i])
                           : std::memcmp(&e[i], &a[i], sizeof(double)) != 0) {
        nan_match = false;
      }
    }
    if (nan_match) return;
  }
  EXPECT_EQ(show(expected), show(actual));
}

// ---------------------------------------------------------------------------
// int operators. Each row runs the binary instruction on (left, right) and,
// where the row names one, the assigning form on a variable holding left;
// both give the same arithmetic.

struct IntCase {
  Maker op;
  Maker assign;  // or null
  t_CPINT left, right, expected;
};

TEST_F(MathInstrTest, IntOperatorsWrapAt32BitsAndNeverTrap) {
  const IntCase cases[] = {
      {make<Chip_Instr_Add_int>, make<Chip_Instr_Add_int_Assign>, IMAX, 1, IMIN},
      {make<Chip_Instr_Add_int>, make<Chip_Instr_Add_int_Assign>, -1, -1, -2},
      {make<Chip_Instr_Add_int>, make<Chip_Instr_Add_int_Assign>, IMIN, IMIN, 0},
      {make<Chip_Instr_Minus_int>, make<Chip_Instr_Minus_int_Assign>, IMIN, 1, IMAX},
      {make<Chip_Instr_Minus_int>, make<Chip_Instr_Minus_int_Assign>, 3, 5, -2},
      {make<Chip_Instr_Times_int>, make<Chip_Instr_Times_int_Assign>, 65536, 65536, 0},
      {make<Chip_Instr_Times_int>, make<Chip_Instr_Times_int_Assign>, 46341, 46341, -2147479015},
      {make<Chip_Instr_Times_int>, make<Chip_Instr_Times_int_Assign>, -3, 7, -21},
      // Division truncates toward zero; the remainder takes the left's sign.
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, 7, -2, -3},
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, -7, 2, -3},
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, -7, -2, 3},
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, IMAX, -1, -IMAX},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, 7, -2, 1},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, -7, 2, -1},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, -7, -2, -1},
      // The two quotients that overflow wrap instead of trapping; division
      // by zero gives 0 and the remainder the left operand.
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, IMIN, -1, IMIN},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, IMIN, -1, 0},
      {make<Chip_Instr_Divide_int>, make<Chip_Instr_Divide_int_Assign>, 7, 0, 0},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, 7, 0, 7},
      {make<Chip_Instr_Mod_int>, make<Chip_Instr_Mod_int_Assign>, IMIN, 0, IMIN},
      // Bitwise operators on the 32-bit patterns.
      {make<Chip_Instr_Binary_And>, make<Chip_Instr_Binary_And_Assign>, -1, 0x0F, 15},
      {make<Chip_Instr_Binary_And>, make<Chip_Instr_Binary_And_Assign>, 0x0FF0, 0x00FF, 0x00F0},
      {make<Chip_Instr_Binary_Or>, make<Chip_Instr_Binary_Or_Assign>, 0x0F00, 0x00F0, 0x0FF0},
      {make<Chip_Instr_Binary_Or>, make<Chip_Instr_Binary_Or_Assign>, IMIN, 1, IMIN + 1},
      {make<Chip_Instr_Binary_Xor>, make<Chip_Instr_Binary_Xor_Assign>, -1, 0x0F, -16},
      {make<Chip_Instr_Binary_Xor>, make<Chip_Instr_Binary_Xor_Assign>, 5, 5, 0},
      // Shift counts are the low 8 bits of the right operand; 32 and more
      // shift every bit out.
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 3, 1, 6},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, 31, IMIN},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, -1, 4, -16},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 0x40000000, 1, IMIN},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, 32, 0},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, 255, 0},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, -1, 0},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, 256, 1},
      {make<Chip_Instr_Binary_Shift_Left>, make<Chip_Instr_Binary_Shift_Left_Assign>, 1, 257, 2},
      // The plain right shift is logical (its assigning form is arithmetic:
      // its own table below).
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, 16, 2, 4},
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, -8, 1, 2147483644},
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, -1, 31, 1},
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, -8, 32, 0},
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, -8, -1, 0},
      {make<Chip_Instr_Binary_Shift_Right>, nullptr, 16, 256, 16},
      // Logical operators give 1 or 0.
      {make<Chip_Instr_And>, nullptr, 2, 3, 1},
      {make<Chip_Instr_And>, nullptr, 0, 5, 0},
      {make<Chip_Instr_And>, nullptr, 5, 0, 0},
      {make<Chip_Instr_And>, nullptr, IMIN, -1, 1},
      {make<Chip_Instr_Or>, nullptr, 0, 0, 0},
      {make<Chip_Instr_Or>, nullptr, 0, -3, 1},
      {make<Chip_Instr_Or>, nullptr, 7, 0, 1},
      // Comparisons are signed.
      {make<Chip_Instr_Lt_int>, nullptr, -1, 1, 1},
      {make<Chip_Instr_Lt_int>, nullptr, 1, -1, 0},
      {make<Chip_Instr_Lt_int>, nullptr, 2, 2, 0},
      {make<Chip_Instr_Gt_int>, nullptr, 1, -1, 1},
      {make<Chip_Instr_Gt_int>, nullptr, IMIN, IMAX, 0},
      {make<Chip_Instr_Gt_int>, nullptr, 2, 2, 0},
      {make<Chip_Instr_Le_int>, nullptr, 2, 2, 1},
      {make<Chip_Instr_Le_int>, nullptr, 3, 2, 0},
      {make<Chip_Instr_Le_int>, nullptr, -3, 2, 1},
      {make<Chip_Instr_Ge_int>, nullptr, 2, 2, 1},
      {make<Chip_Instr_Ge_int>, nullptr, 1, 2, 0},
      {make<Chip_Instr_Ge_int>, nullptr, 1, -2, 1},
      {make<Chip_Instr_Eq_int>, nullptr, 5, 5, 1},
      {make<Chip_Instr_Eq_int>, nullptr, 5, -5, 0},
      {make<Chip_Instr_Neq_int>, nullptr, 5, 5, 0},
      {make<Chip_Instr_Neq_int>, nullptr, 5, -5, 1},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " " + std::to_string(c.left) + ", " + std::to_string(c.right));
    expect_stack(W(c.expected), run(W(c.left) + W(c.right), c.op));
    if (!c.assign) continue;
    SCOPED_TRACE(name_of(c.assign));
    t_CPWORD target = c.left;
    expect_stack(W(c.expected), run(W(c.right) + A(&target), c.assign));
    EXPECT_EQ(target, static_cast<t_CPWORD>(c.expected));
  }
}

// The assigning right shift is arithmetic: the sign bit fills the vacated
// bits, and every bit shifted out leaves 0 or -1.
TEST_F(MathInstrTest, ShiftRightAssignIsArithmetic) {
  struct Case {
    t_CPINT target, count, expected;
  } cases[] = {
      {-8, 1, -4},  {16, 2, 4},     {-8, 40, -1},  {8, 40, 0},
      {-8, -1, -1}, {IMIN, 31, -1}, {IMIN, 32, -1}, {-8, 256, -8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target) + " >>= " + std::to_string(c.count));
    t_CPWORD target = c.target;
    expect_stack(W(c.expected),
                 run(W(c.count) + A(&target), make<Chip_Instr_Binary_Shift_Right_Assign>));
    EXPECT_EQ(target, static_cast<t_CPWORD>(c.expected));
  }
}

TEST_F(MathInstrTest, IntUnaryOperators) {
  struct Case {
    Maker op;
    t_CPINT in, out;
  } cases[] = {
      {make<Chip_Instr_Negate_int>, 5, -5},
      {make<Chip_Instr_Negate_int>, 0, 0},
      {make<Chip_Instr_Negate_int>, IMIN, IMIN},
      {make<Chip_Instr_Complement_int>, 0, -1},
      {make<Chip_Instr_Complement_int>, IMAX, IMIN},
      {make<Chip_Instr_Not_int>, 0, 1},
      {make<Chip_Instr_Not_int>, 7, 0},
      {make<Chip_Instr_Not_int>, IMIN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " " + std::to_string(c.in));
    expect_stack(W(c.out), run(W(c.in), c.op));
  }
}

// Increments pop the variable's address and push its new (pre) or old
// (post) value; Dec_int_Addr works on its own address, stacks untouched.
TEST_F(MathInstrTest, IncrementsAndLoopCounter) {
  struct Case {
    Maker op;
    t_CPINT before, pushed, after;
  } cases[] = {
      {make<Chip_Instr_PreInc_int>, 5, 6, 6},
      {make<Chip_Instr_PostInc_int>, 5, 5, 6},
      {make<Chip_Instr_PreDec_int>, 5, 4, 4},
      {make<Chip_Instr_PostDec_int>, 5, 5, 4},
      {make<Chip_Instr_PreInc_int>, IMAX, IMIN, IMIN},
      {make<Chip_Instr_PostDec_int>, IMIN, IMIN, IMAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " " + std::to_string(c.before));
    t_CPWORD var = c.before;
    expect_stack(W(c.pushed), run(A(&var), c.op));
    EXPECT_EQ(var, static_cast<t_CPWORD>(c.after));
  }

  for (t_CPINT start : {3, IMIN}) {
    t_CPWORD counter = start;
    expect_stack(W(42), run(W(42), {new Chip_Instr_Dec_int_Addr(reinterpret_cast<t_CPUWORD>(&counter))}));
    EXPECT_EQ(counter, static_cast<t_CPWORD>(start == IMIN ? IMAX : start - 1));
  }
}

// ---------------------------------------------------------------------------
// float (also time and dur)

TEST_F(MathInstrTest, FloatOperatorsFollowIEEE) {
  struct Case {
    Maker op;
    Maker assign;
    double left, right, expected;
  } cases[] = {
      {make<Chip_Instr_Add_double>, make<Chip_Instr_Add_double_Assign>, 0.5, 0.25, 0.75},
      {make<Chip_Instr_Minus_double>, make<Chip_Instr_Minus_double_Assign>, 10, 4, 6},
      {make<Chip_Instr_Times_double>, make<Chip_Instr_Times_double_Assign>, 1.5, -2, -3},
      {make<Chip_Instr_Divide_double>, make<Chip_Instr_Divide_double_Assign>, 10, 4, 2.5},
      {make<Chip_Instr_Divide_double>, make<Chip_Instr_Divide_double_Assign>, 1, 0, INF},
      {make<Chip_Instr_Divide_double>, make<Chip_Instr_Divide_double_Assign>, -1, 0, -INF},
      {make<Chip_Instr_Divide_double>, make<Chip_Instr_Divide_double_Assign>, 0, 0, NaN},
      {make<Chip_Instr_Mod_double>, make<Chip_Instr_Mod_double_Assign>, 7.5, 2, 1.5},
      {make<Chip_Instr_Mod_double>, make<Chip_Instr_Mod_double_Assign>, -7.5, 2, -1.5},
      {make<Chip_Instr_Mod_double>, make<Chip_Instr_Mod_double_Assign>, 7.5, -2, 1.5},
      {make<Chip_Instr_Mod_double>, make<Chip_Instr_Mod_double_Assign>, 1, 0, NaN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " " + std::to_string(c.left) + ", " + std::to_string(c.right));
    expect_stack(F(c.expected), run(F(c.left) + F(c.right), c.op));
    SCOPED_TRACE(name_of(c.assign));
    double target = c.left;
    expect_stack(F(c.expected), run(F(c.right) + A(&target), c.assign));
    expect_stack(F(c.expected), F(target));
  }

  // Negation flips the sign, zero included.
  for (double v : {2.5, 0.0, -INF}) {
    SCOPED_TRACE(v);
    expect_stack(F(-v), run(F(v), make<Chip_Instr_Negate_double>));
  }
}

// Every comparison with NaN is false except inequality.
TEST_F(MathInstrTest, FloatComparisons) {
  struct Case {
    Maker op;
    double left, right;
    t_CPINT expected;
  } cases[] = {
      {make<Chip_Instr_Lt_double>, 1, 2, 1},     {make<Chip_Instr_Lt_double>, 2, 1, 0},
      {make<Chip_Instr_Lt_double>, NaN, NaN, 0}, {make<Chip_Instr_Lt_double>, NaN, 1, 0},
      {make<Chip_Instr_Gt_double>, 2, 1, 1},     {make<Chip_Instr_Gt_double>, 1, 2, 0},
      {make<Chip_Instr_Gt_double>, NaN, NaN, 0}, {make<Chip_Instr_Le_double>, 2, 2, 1},
      {make<Chip_Instr_Le_double>, 3, 2, 0},     {make<Chip_Instr_Le_double>, NaN, NaN, 0},
      {make<Chip_Instr_Ge_double>, 2, 2, 1},     {make<Chip_Instr_Ge_double>, 1, 2, 0},
      {make<Chip_Instr_Ge_double>, NaN, NaN, 0}, {make<Chip_Instr_Eq_double>, 2, 2, 1},
      {make<Chip_Instr_Eq_double>, 0.0, -0.0, 1}, {make<Chip_Instr_Eq_double>, 1, 2, 0},
      {make<Chip_Instr_Eq_double>, NaN, NaN, 0}, {make<Chip_Instr_Neq_double>, 2, 2, 0},
      {make<Chip_Instr_Neq_double>, 1, 2, 1},    {make<Chip_Instr_Neq_double>, NaN, NaN, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " " + std::to_string(c.left) + ", " + std::to_string(c.right));
    expect_stack(W(c.expected), run(F(c.left) + F(c.right), c.op));
  }
}

// ---------------------------------------------------------------------------
// complex and polar

struct Pair2 {
  double a, b;
};

void expect_pair_near(Pair2 expected, const Bytes& stack, double tol) {
  ASSERT_EQ(stack.size(), 2 * sizeof(double)) << show(stack);
  std::vector<double> got = doubles(stack);
  EXPECT_NEAR(got[0], expected.a, tol);
  EXPECT_NEAR(got[1], expected.b, tol);
}

TEST_F(MathInstrTest, ComplexAndPolarOperators) {
  const double R2 = std::sqrt(2.0);
  struct Case {
    Maker op;
    Maker assign;
    Pair2 left, right, expected;
  } cases[] = {
      {make<Chip_Instr_Add_complex>, make<Chip_Instr_Add_complex_Assign>, {1, 2}, {3, 4}, {4, 6}},
      {make<Chip_Instr_Minus_complex>, make<Chip_Instr_Minus_complex_Assign>, {1, 2}, {3, 4}, {-2, -2}},
      {make<Chip_Instr_Times_complex>, make<Chip_Instr_Times_complex_Assign>, {1, 2}, {3, 4}, {-5, 10}},
      {make<Chip_Instr_Divide_complex>, make<Chip_Instr_Divide_complex_Assign>, {1, 2}, {3, 4}, {0.44, 0.08}},
      // Sum and difference go through rectangular form, the phase landing in
      // (-pi, pi].
      {make<Chip_Instr_Add_polar>, make<Chip_Instr_Add_polar_Assign>, {1, 0}, {1, PI / 2}, {R2, PI / 4}},
      {make<Chip_Instr_Minus_polar>, make<Chip_Instr_Minus_polar_Assign>, {1, 0}, {1, PI / 2}, {R2, -PI / 4}},
      {make<Chip_Instr_Minus_polar>, make<Chip_Instr_Minus_polar_Assign>, {1, 0}, {2, 0}, {1, PI}},
      {make<Chip_Instr_Add_polar>, make<Chip_Instr_Add_polar_Assign>, {2, 0}, {-1, 0}, {1, 0}},
      // Product and quotient stay polar, the phase unnormalised.
      {make<Chip_Instr_Times_polar>, make<Chip_Instr_Times_polar_Assign>, {2, 1}, {3, 2}, {6, 3}},
      {make<Chip_Instr_Times_polar>, make<Chip_Instr_Times_polar_Assign>, {1, 3}, {1, 3}, {1, 6}},
      {make<Chip_Instr_Divide_polar>, make<Chip_Instr_Divide_polar_Assign>, {6, 3}, {3, 2}, {2, 1}},
      {make<Chip_Instr_Divide_polar>, make<Chip_Instr_Divide_polar_Assign>, {1, -3}, {1, 4}, {1, -7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.op) + " (" + std::to_string(c.left.a) + ", " + std::to_string(c.left.b) +
                 "), (" + std::to_string(c.right.a) + ", " + std::to_string(c.right.b) + ")");
    expect_pair_near(c.expected, run(C(c.left.a, c.left.b) + C(c.right.a, c.right.b), c.op), 1e-12);
    SCOPED_TRACE(name_of(c.assign));
    t_CPCOMPLEX target{c.left.a, c.left.b};
    expect_pair_near(c.expected, run(C(c.right.a, c.right.b) + A(&target), c.assign), 1e-12);
    expect_pair_near(c.expected, bytes_of(target), 1e-12);
  }

  // Opposite vectors cancel to a modulus of (about) zero.
  Bytes sum = run(C(2, 0) + C(2, PI), make<Chip_Instr_Add_polar>);
  ASSERT_EQ(sum.size(), 2 * sizeof(double));
  EXPECT_NEAR(doubles(sum)[0], 0.0, 1e-12);
}

// ---------------------------------------------------------------------------
// conversions

TEST_F(MathInstrTest, Conversions) {
  struct Case {
    Maker op;
    Bytes in, out;
  } exact[] = {
      // float to int truncates toward zero, saturates, and takes NaN to 0.
      {make<Chip_Instr_Cast_double2int>, F(3.9), W(3)},
      {make<Chip_Instr_Cast_double2int>, F(-3.9), W(-3)},
      {make<Chip_Instr_Cast_double2int>, F(-0.5), W(0)},
      {make<Chip_Instr_Cast_double2int>, F(2147483647.9), W(IMAX)},
      {make<Chip_Instr_Cast_double2int>, F(-2147483647.9), W(-2147483647)},
      {make<Chip_Instr_Cast_double2int>, F(-2147483648.9), W(IMIN)},
      {make<Chip_Instr_Cast_double2int>, F(1e10), W(IMAX)},
      {make<Chip_Instr_Cast_double2int>, F(-1e10), W(IMIN)},
      {make<Chip_Instr_Cast_double2int>, F(INF), W(IMAX)},
      {make<Chip_Instr_Cast_double2int>, F(-INF), W(IMIN)},
      {make<Chip_Instr_Cast_double2int>, F(NaN), W(0)},
      {make<Chip_Instr_Cast_int2double>, W(-7), F(-7)},
      {make<Chip_Instr_Cast_int2double>, W(IMIN), F(-2147483648.0)},
      {make<Chip_Instr_Cast_int2complex>, W(-3), C(-3, 0)},
      // A negative int keeps its sign as the modulus.
      {make<Chip_Instr_Cast_int2polar>, W(-3), C(-3, 0)},
      {make<Chip_Instr_Cast_double2complex>, F(1.5), C(1.5, 0)},
      {make<Chip_Instr_Cast_double2polar>, F(-1.5), C(-1.5, 0)},
      {make<Chip_Instr_Cast_complex2polar>, C(3, 4), C(5, std::atan2(4.0, 3.0))},
      {make<Chip_Instr_Cast_complex2polar>, C(-1, 0), C(1, PI)},
      {make<Chip_Instr_Cast_complex2polar>, C(0, 0), C(0, 0)},
  };
  for (const Case& c : exact) {
    SCOPED_TRACE(name_of(c.op) + " " + show(c.in));
    expect_stack(c.out, run(c.in, c.op));
  }

  expect_pair_near({0, 2}, run(C(2, PI / 2), make<Chip_Instr_Cast_polar2complex>), 1e-12);
  expect_pair_near({-1, 0}, run(C(1, PI), make<Chip_Instr_Cast_polar2complex>), 1e-12);
  // There and back.
  expect_pair_near({-3, 4},
                   run(C(-3, 4), {new Chip_Instr_Cast_complex2polar, new Chip_Instr_Cast_polar2complex}),
                   1e-12);
}

// ---------------------------------------------------------------------------
// branches

TEST_F(MathInstrTest, BranchesPopTheirOperandsAndJumpWhenTheTestHolds) {
  // Code: 0 push, 1 branch, 2 "fell through", 3 end, 4 "jumped", 5 end.
  struct Case {
    BranchMaker op;
    Bytes operands;
    t_CPUWORD target;
    bool jumps;
    Bytes left;  // stack at the landing point
  } cases[] = {
      {make_branch<Chip_Instr_Branch_Eq_int>, W(5) + W(5), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Eq_int>, W(5) + W(-5), 4, false, {}},
      {make_branch<Chip_Instr_Branch_Neq_int>, W(5) + W(-5), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Neq_int>, W(5) + W(5), 4, false, {}},
      {make_branch<Chip_Instr_Branch_Eq_double>, F(1.5) + F(1.5), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Eq_double>, F(0.0) + F(-0.0), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Eq_double>, F(NaN) + F(NaN), 4, false, {}},
      {make_branch<Chip_Instr_Branch_Neq_double>, F(1) + F(2), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Neq_double>, F(NaN) + F(NaN), 4, true, {}},
      {make_branch<Chip_Instr_Branch_Neq_double>, F(2) + F(2), 4, false, {}},
      {make_branch<Chip_Instr_Goto>, W(9), 4, true, W(9)},
      // A jump to the next instruction is a plain advance.
      {make_branch<Chip_Instr_Goto>, W(9), 2, false, W(9)},
      {make_branch<Chip_Instr_Branch_Eq_int>, W(1) + W(1), 2, false, {}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Chip_Instr> probe(c.op(c.target));
    SCOPED_TRACE(std::string(probe->name()) + " " + show(c.operands) + " to " + std::to_string(c.target));
    std::string landed;
    Bytes stack;
    auto land = [&](const char* where) {
      return new Do([&, where](Chip_VM*, Chip_VM_Shred* shred) {
        landed = where;
        stack.assign(shred->reg->stack, shred->reg->sp);
      });
    };
    vm->spork(code("branch", {new PushBytes(c.operands), c.op(c.target), land("fell"), new End,
                              land("jumped"), new End}),
              nullptr);
    vm->compute();
    EXPECT_EQ(landed, c.jumps ? "jumped" : "fell");
    expect_stack(c.left, stack);
  }
}

// ---------------------------------------------------------------------------
// names and operand texts

TEST_F(MathInstrTest, NamesAndParams) {
#define ENTRY(T) {std::shared_ptr<Chip_Instr>(new T), #T}
  struct Entry {
    std::shared_ptr<Chip_Instr> instr;
    const char* name;
  } entries[] = {
      ENTRY(Chip_Instr_Add_int), ENTRY(Chip_Instr_Minus_int), ENTRY(Chip_Instr_Times_int),
      ENTRY(Chip_Instr_Divide_int), ENTRY(Chip_Instr_Mod_int), ENTRY(Chip_Instr_PreInc_int),
      ENTRY(Chip_Instr_PostInc_int), ENTRY(Chip_Instr_PreDec_int), ENTRY(Chip_Instr_PostDec_int),
      ENTRY(Chip_Instr_Dec_int_Addr), ENTRY(Chip_Instr_Complement_int), ENTRY(Chip_Instr_Negate_int),
      ENTRY(Chip_Instr_Not_int), ENTRY(Chip_Instr_Add_double), ENTRY(Chip_Instr_Minus_double),
      ENTRY(Chip_Instr_Times_double), ENTRY(Chip_Instr_Divide_double), ENTRY(Chip_Instr_Mod_double),
      ENTRY(Chip_Instr_Negate_double), ENTRY(Chip_Instr_Add_complex), ENTRY(Chip_Instr_Minus_complex),
      ENTRY(Chip_Instr_Times_complex), ENTRY(Chip_Instr_Divide_complex), ENTRY(Chip_Instr_Add_polar),
      ENTRY(Chip_Instr_Minus_polar), ENTRY(Chip_Instr_Times_polar), ENTRY(Chip_Instr_Divide_polar),
      ENTRY(Chip_Instr_Add_int_Assign), ENTRY(Chip_Instr_Minus_int_Assign),
      ENTRY(Chip_Instr_Times_int_Assign), ENTRY(Chip_Instr_Divide_int_Assign),
      ENTRY(Chip_Instr_Mod_int_Assign), ENTRY(Chip_Instr_Add_double_Assign),
      ENTRY(Chip_Instr_Minus_double_Assign), ENTRY(Chip_Instr_Times_double_Assign),
      ENTRY(Chip_Instr_Divide_double_Assign), ENTRY(Chip_Instr_Mod_double_Assign),
      ENTRY(Chip_Instr_Add_complex_Assign), ENTRY(Chip_Instr_Minus_complex_Assign),
      ENTRY(Chip_Instr_Times_complex_Assign), ENTRY(Chip_Instr_Divide_complex_Assign),
      ENTRY(Chip_Instr_Add_polar_Assign), ENTRY(Chip_Instr_Minus_polar_Assign),
      ENTRY(Chip_Instr_Times_polar_Assign), ENTRY(Chip_Instr_Divide_polar_Assign),
      ENTRY(Chip_Instr_Binary_And), ENTRY(Chip_Instr_Binary_Or), ENTRY(Chip_Instr_Binary_Xor),
      ENTRY(Chip_Instr_Binary_Shift_Right), ENTRY(Chip_Instr_Binary_Shift_Left),
      ENTRY(Chip_Instr_Binary_And_Assign), ENTRY(Chip_Instr_Binary_Or_Assign),
      ENTRY(Chip_Instr_Binary_Xor_Assign), ENTRY(Chip_Instr_Binary_Shift_Right_Assign),
      ENTRY(Chip_Instr_Binary_Shift_Left_Assign), ENTRY(Chip_Instr_And), ENTRY(Chip_Instr_Or),
      ENTRY(Chip_Instr_Lt_int), ENTRY(Chip_Instr_Gt_int), ENTRY(Chip_Instr_Le_int),
      ENTRY(Chip_Instr_Ge_int), ENTRY(Chip_Instr_Eq_int), ENTRY(Chip_Instr_Neq_int),
      ENTRY(Chip_Instr_Lt_double), ENTRY(Chip_Instr_Gt_double), ENTRY(Chip_Instr_Le_double),
      ENTRY(Chip_Instr_Ge_double), ENTRY(Chip_Instr_Eq_double), ENTRY(Chip_Instr_Neq_double),
      ENTRY(Chip_Instr_Branch_Eq_int), ENTRY(Chip_Instr_Branch_Neq_int),
      ENTRY(Chip_Instr_Branch_Eq_double), ENTRY(Chip_Instr_Branch_Neq_double), ENTRY(Chip_Instr_Goto),
      ENTRY(Chip_Instr_Cast_double2int), ENTRY(Chip_Instr_Cast_int2double),
      ENTRY(Chip_Instr_Cast_int2complex), ENTRY(Chip_Instr_Cast_int2polar),
      ENTRY(Chip_Instr_Cast_double2complex), ENTRY(Chip_Instr_Cast_double2polar),
      ENTRY(Chip_Instr_Cast_complex2polar), ENTRY(Chip_Instr_Cast_polar2complex),
  };
#undef ENTRY
  EXPECT_EQ(std::size(entries), 82u);
  for (const Entry& e : entries) {
    EXPECT_STREQ(e.instr->name(), e.name);
    // Default-made: branch targets and the loop counter's address are 0.
    bool has_operand = dynamic_cast<Chip_Instr_Branch_Op*>(e.instr.get()) ||
                       dynamic_cast<Chip_Instr_Unary_Op*>(e.instr.get());
    EXPECT_STREQ(e.instr->params(), has_operand ? "0" : "") << e.name;
  }

  EXPECT_STREQ(Chip_Instr_Goto(17).params(), "17");
  EXPECT_STREQ(Chip_Instr_Branch_Neq_double(4000000000u).params(), "4000000000");
  EXPECT_STREQ(Chip_Instr_Dec_int_Addr(123456).params(), "123456");
  // The bases the emitter relies on.
  Chip_Instr_Add_int add;
  Chip_Instr_Cast_int2double cast;
  EXPECT_NE(dynamic_cast<Chip_Instr_Binary_Op*>(static_cast<Chip_Instr*>(&add)), nullptr);
  EXPECT_EQ(dynamic_cast<Chip_Instr_Binary_Op*>(static_cast<Chip_Instr*>(&cast)), nullptr);
}

// ---------------------------------------------------------------------------
// Results as the print statement shows them.

TEST_F(MathInstrTest, PrintedResults) {
  struct Case {
    Bytes operands;
    std::vector<Maker> ops;
    Chip_Type* type;
    const char* line;
  } cases[] = {
      {W(IMAX) + W(1), {make<Chip_Instr_Add_int>}, &t_int, "-2147483648 :(int)"},
      {W(IMIN) + W(-1), {make<Chip_Instr_Divide_int>}, &t_int, "-2147483648 :(int)"},
      {W(-8) + W(1), {make<Chip_Instr_Binary_Shift_Right>}, &t_int, "2147483644 :(int)"},
      {F(1e10), {make<Chip_Instr_Cast_double2int>}, &t_int, "2147483647 :(int)"},
      {W(7), {make<Chip_Instr_Cast_int2double>}, &t_float, "7.000000 :(float)"},
      {C(1, 2) + C(3, 4), {make<Chip_Instr_Times_complex>}, &t_complex, "#(-5.0000,10.0000) :(complex)"},
      {C(2, 1) + C(3, 2), {make<Chip_Instr_Times_polar>}, &t_polar, "%(6.0000,0.9549*pi) :(polar)"},
      {W(-3), {make<Chip_Instr_Cast_int2polar>}, &t_polar, "%(-3.0000,0.0000*pi) :(polar)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<Chip_Instr*> instrs;
    for (Maker m : c.ops) instrs.push_back(m());
    instrs.push_back(new Chip_Instr_Hack(c.type));
    std::vector<std::string> lines = printed_lines([&] { run(c.operands, instrs); });
    EXPECT_EQ(lines, std::vector<std::string>{c.line});
  }
}

}  // namespace
