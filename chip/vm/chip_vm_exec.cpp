// The decoder and the machine's threaded loop over the decoded code.
#include "chip/vm/chip_vm_exec.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_ops.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

namespace {

// The operand readers of the list (chip_vm_ops.h). Each is instantiated for
// its line's class, which the decoder has matched exactly; FALSE: the line
// does not apply to this instruction (a variable of the other place).
template <class I>
bool none(Chip_Instr*, Chip_Decoded* d) {
  d->word = 0;
  return true;
}

template <class I>
bool own_word(Chip_Instr* instr, Chip_Decoded* d) {
  d->word = static_cast<I*>(instr)->get();
  return true;
}

template <class I>
bool own_double(Chip_Instr* instr, Chip_Decoded* d) {
  d->real = static_cast<I*>(instr)->get();
  return true;
}

template <class I>
bool frame_offset(Chip_Instr* instr, Chip_Decoded* d) {
  I* push = static_cast<I*>(instr);
  if (push->m_val2) return false;
  d->word = push->get();
  return true;
}

template <class I>
bool file_offset(Chip_Instr* instr, Chip_Decoded* d) {
  I* push = static_cast<I*>(instr);
  if (!push->m_val2) return false;
  d->word = push->get();
  return true;
}

template <class I>
bool word_bytes(Chip_Instr*, Chip_Decoded* d) {
  d->word = sizeof(t_CPWORD);
  return true;
}

template <class I>
bool double_bytes(Chip_Instr*, Chip_Decoded* d) {
  d->word = sizeof(t_CPFLOAT);
  return true;
}

template <class I>
bool counted_words(Chip_Instr* instr, Chip_Decoded* d) {
  d->word = static_cast<I*>(instr)->get() * sizeof(t_CPWORD);
  return true;
}

template <class I>
bool held_offsets(Chip_Instr* instr, Chip_Decoded* d) {
  d->word = 0;
  d->word2 = reinterpret_cast<t_CPUWORD>(static_cast<I*>(instr)->held());
  return true;
}

// One line of the list: the operation and how its operand is read.
struct Row {
  Chip_Op op;
  bool (*read)(Chip_Instr* instr, Chip_Decoded* d);
};

// The list's lines by their exact instruction class (a class may have more
// than one: the pushes of a variable of the frame and of the file).
const std::unordered_multimap<std::type_index, Row>& rows() {
  static const std::unordered_multimap<std::type_index, Row> table = {
#define CHIP_VM_OP_ROW(op, instr_class, operand) \
  {typeid(instr_class), {CHIP_OP_##op, &operand<instr_class>}},
      CHIP_VM_OPS(CHIP_VM_OP_ROW)
#undef CHIP_VM_OP_ROW
  };
  return table;
}

Chip_Decoded decode(Chip_Instr* instr) {
  Chip_Decoded d;
  d.handler = nullptr;
  d.op = CHIP_OP_EXECUTE;
  d.span = 1;
  d.places = 0;
  d.aux = 0;
  d.then_to = 0;
  d.else_to = 0;
  d.word = 0;
  d.word2 = 0;
  d.instr = instr;
  if (!instr) return d;
  auto [first, last] = rows().equal_range(std::type_index(typeid(*instr)));
  for (auto row = first; row != last; ++row) {
    if (row->second.read(instr, &d)) {
      d.op = row->second.op;
      break;
    }
  }
  return d;
}

// ---------------------------------------------------------------------------
// The fused runs' matchers (chip_vm_ops.h). Each looks at the instructions
// from `at` on (at least the run's length of them) and, when they are its
// run, fills the entry's operands and answers TRUE.

// The instruction at p is exactly of class I (a subclass is another
// instruction).
template <class I>
I* exactly(Chip_Instr* p) {
  return p && typeid(*p) == typeid(I) ? static_cast<I*>(p) : nullptr;
}

// A push of the function (PUSHES 1: the function itself; 2: its class and
// the static function), its code, the local depth and the call whose callee
// the emitter recorded as that function.
template <int PUSHES>
bool direct_call(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code*) {
  Chip_Func* func = nullptr;
  if (PUSHES == 1) {
    auto* push = exactly<Chip_Instr_Reg_Push_Imm>(at[0]);
    if (!push) return false;
    func = reinterpret_cast<Chip_Func*>(push->get());
  } else {
    auto* dot = exactly<Chip_Instr_Dot_Static_Func>(at[1]);
    if (!exactly<Chip_Instr_Reg_Push_Imm>(at[0]) || !dot) return false;
    func = dot->m_func;
  }
  auto* depth = exactly<Chip_Instr_Reg_Push_Imm>(at[PUSHES + 1]);
  auto* call = exactly<Chip_Instr_Func_Call>(at[PUSHES + 2]);
  if (!exactly<Chip_Instr_Func_To_Code>(at[PUSHES]) || !depth || !call || !func ||
      call->callee() != func || !func->code || func->code->native_func ||
      depth->get() > UINT32_MAX) {
    return false;
  }
  d->word = reinterpret_cast<t_CPUWORD>(func->code);
  d->aux = static_cast<std::uint32_t>(depth->get());
  d->word2 = reinterpret_cast<t_CPUWORD>(call->held());
  return true;
}

// An int comparison C, a push of 0 and Branch_Eq_int: the branch's target.
template <class C>
bool compare_else(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code* = nullptr) {
  auto* zero = exactly<Chip_Instr_Reg_Push_Imm>(at[1]);
  auto* branch = exactly<Chip_Instr_Branch_Eq_int>(at[2]);
  if (!exactly<C>(at[0]) || !zero || zero->get() != 0 || !branch) return false;
  d->word = branch->get();
  return true;
}

// The push of an int variable (of the file: BASE) and of an int immediate,
// then compare_else<C>: the variable's offset, the immediate in aux and the
// target in word2.
template <class C, bool BASE>
bool var_imm_else(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code*) {
  auto* var = exactly<Chip_Instr_Reg_Push_Mem>(at[0]);
  auto* imm = exactly<Chip_Instr_Reg_Push_Imm>(at[1]);
  if (!var || (var->m_val2 != 0) != BASE || !imm) return false;
  const t_CPWORD value = static_cast<t_CPWORD>(imm->get());
  if (value != static_cast<t_CPINT>(value) || !compare_else<C>(at + 2, d)) return false;
  d->word2 = d->word;
  d->word = var->get();
  d->aux = static_cast<std::uint32_t>(value);
  return true;
}

// The address of a variable (of the file: BASE), the assignment A and the
// pop P: the variable's offset.
template <class A, class P, bool BASE>
bool store(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code*) {
  auto* addr = exactly<Chip_Instr_Reg_Push_Mem_Addr>(at[0]);
  if (!addr || (addr->m_val2 != 0) != BASE || !exactly<A>(at[1]) || !exactly<P>(at[2])) {
    return false;
  }
  d->word = addr->get();
  return true;
}

// The address of an int variable (of the file: BASE), ++ or -- and the pop
// of one word: the variable's offset, and the step (+1 or -1) in aux.
template <bool BASE>
bool step(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code* = nullptr) {
  auto* addr = exactly<Chip_Instr_Reg_Push_Mem_Addr>(at[0]);
  if (!addr || (addr->m_val2 != 0) != BASE) return false;
  Chip_Instr* op = at[1];
  int delta = 0;
  if (exactly<Chip_Instr_PreInc_int>(op) || exactly<Chip_Instr_PostInc_int>(op)) {
    delta = 1;
  } else if (exactly<Chip_Instr_PreDec_int>(op) || exactly<Chip_Instr_PostDec_int>(op)) {
    delta = -1;
  } else {
    return false;
  }
  auto* pop3 = exactly<Chip_Instr_Reg_Pop_Word3>(at[2]);
  if (!exactly<Chip_Instr_Reg_Pop_Word>(at[2]) && !(pop3 && pop3->get() == 1)) return false;
  d->word = addr->get();
  d->aux = static_cast<std::uint32_t>(delta);
  return true;
}

// Where the fused operations on variables find their operands (the
// entry's places). The low byte: whether each variable is in the frame or
// among the file's variables (where the operation allows either), whether
// the second operand is an immediate the entry keeps in word2; or, for a
// loop's step, its delta (+1 or -1, as a signed byte). The high byte: a
// loop test's truth table, the orders in which its comparison holds.
enum : std::uint16_t {
  kFirstInFile = 1 << 0,   // the first operand (word)
  kSecondInFile = 1 << 1,  // the second (word2)
  kSecondIsImm = 1 << 2,   // the second is word2's own value
  kTargetInFile = 1 << 3,  // the variable written (aux)
  kTruthShift = 8,
};
constexpr unsigned kLess = 1, kEqual = 2, kGreater = 4;

// Whether a push or an address of a variable is of the file's variables.
template <class P>
bool of_file(const P* var) {
  return var->m_val2 != 0;
}

// A variable's offset, when it fits the entry's 32 bits.
bool offset32(t_CPUWORD offset, std::uint32_t* out) {
  if (offset > UINT32_MAX) return false;
  *out = static_cast<std::uint32_t>(offset);
  return true;
}

// The push at p as a second operand: of a variable (PUSH: of a word or of
// a double; in the file's variables or not as FILE says, unless any place
// will do) or of an immediate (IMM). Its offset or value goes in word2, and
// its place bits in places. With PUSH the same as IMM, only an immediate.
enum class Place { frame, file, any };
template <class PUSH, class IMM>
bool second_operand(Chip_Instr* p, Place place, Chip_Decoded* d) {
  if constexpr (!std::is_same_v<PUSH, IMM>) {
    if (auto* var = exactly<PUSH>(p)) {
      if (place != Place::any && of_file(var) != (place == Place::file)) return false;
      d->word2 = var->get();
      if (of_file(var)) d->places |= kSecondInFile;
      return true;
    }
  }
  auto* imm = exactly<IMM>(p);
  if (!imm) return false;
  if constexpr (std::is_same_v<IMM, Chip_Instr_Reg_Push_Imm2>) {
    const t_CPFLOAT value = imm->get();
    std::memcpy(&d->word2, &value, sizeof value);
  } else {
    d->word2 = imm->get();
  }
  d->places |= kSecondIsImm;
  return true;
}

// The push of a variable, of a variable or an immediate, the arithmetic O,
// the address of a variable, the assignment and the pop of its value, of
// words or (FLOAT) of doubles, every variable in the frame (BASE: among
// the file's): the first operand's offset in word, the second's offset or
// value in word2, the variable written in aux.
template <class O, bool FLOAT, bool BASE>
bool into(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code*) {
  using Push = std::conditional_t<FLOAT, Chip_Instr_Reg_Push_Mem2, Chip_Instr_Reg_Push_Mem>;
  using Imm = std::conditional_t<FLOAT, Chip_Instr_Reg_Push_Imm2, Chip_Instr_Reg_Push_Imm>;
  using Assign =
      std::conditional_t<FLOAT, Chip_Instr_Assign_Primitive2, Chip_Instr_Assign_Primitive>;
  using Pop = std::conditional_t<FLOAT, Chip_Instr_Reg_Pop_Word2, Chip_Instr_Reg_Pop_Word>;
  auto* first = exactly<Push>(at[0]);
  auto* target = exactly<Chip_Instr_Reg_Push_Mem_Addr>(at[3]);
  if (!first || of_file(first) != BASE || !exactly<O>(at[2]) || !target ||
      of_file(target) != BASE || !exactly<Assign>(at[4]) || !exactly<Pop>(at[5]) ||
      !offset32(target->get(), &d->aux)) {
    return false;
  }
  d->places = 0;
  if (!second_operand<Push, Imm>(at[1], BASE ? Place::file : Place::frame, d)) return false;
  d->word = first->get();
  return true;
}

// The push of an immediate (FLOAT: a double), the address of a variable,
// the arithmetic assignment O and the pop of its value: the variable's
// offset in aux, the immediate in word2.
template <class O, bool FLOAT>
bool imm_to(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code*) {
  using Imm = std::conditional_t<FLOAT, Chip_Instr_Reg_Push_Imm2, Chip_Instr_Reg_Push_Imm>;
  using Pop = std::conditional_t<FLOAT, Chip_Instr_Reg_Pop_Word2, Chip_Instr_Reg_Pop_Word>;
  auto* target = exactly<Chip_Instr_Reg_Push_Mem_Addr>(at[1]);
  if (!target || !exactly<O>(at[2]) || !exactly<Pop>(at[3]) ||
      !offset32(target->get(), &d->aux)) {
    return false;
  }
  d->places = of_file(target) ? kTargetInFile : 0;
  return second_operand<Imm, Imm>(at[0], Place::any, d);
}

// The truth table of an int comparison instruction; 0: not one.
unsigned truth_of(Chip_Instr* p) {
  if (exactly<Chip_Instr_Lt_int>(p)) return kLess;
  if (exactly<Chip_Instr_Le_int>(p)) return kLess | kEqual;
  if (exactly<Chip_Instr_Eq_int>(p)) return kEqual;
  if (exactly<Chip_Instr_Neq_int>(p)) return kLess | kGreater;
  if (exactly<Chip_Instr_Ge_int>(p)) return kEqual | kGreater;
  if (exactly<Chip_Instr_Gt_int>(p)) return kGreater;
  return 0;
}

// The goto at `go` to a loop's test: the push of an int variable, of
// another or of an immediate (SECOND: which of them may be), an int
// comparison, the push of 0 and Branch_Eq_int, its variables in `place`.
// The test's variable in word, its second operand in word2, the truth
// table in places' high byte, the variables' places in its low byte (where
// `place` is any), and the two ways on: past the test (the body) and the
// branch's target (the loop's end).
enum class Second { imm, var, either };
template <Second SECOND>
bool loop_test(Chip_Instr* go_instr, Place place, Chip_Decoded* d, const Chip_VM_Code* code) {
  auto* go = exactly<Chip_Instr_Goto>(go_instr);
  if (!go) return false;
  const t_CPUWORD test = go->get();
  if (test > code->num_instr || code->num_instr - test < 5 ||
      code->num_instr > UINT32_MAX / sizeof(Chip_Decoded)) {
    return false;
  }
  Chip_Instr* const* t = code->instr + test;
  auto* var = exactly<Chip_Instr_Reg_Push_Mem>(t[0]);
  auto* zero = exactly<Chip_Instr_Reg_Push_Imm>(t[3]);
  auto* branch = exactly<Chip_Instr_Branch_Eq_int>(t[4]);
  const unsigned truth = truth_of(t[2]);
  if (!var || (place != Place::any && of_file(var) != (place == Place::file)) || !truth ||
      !zero || zero->get() != 0 || !branch || branch->get() > code->num_instr) {
    return false;
  }
  const std::uint16_t low = d->places;
  d->places = of_file(var) ? kFirstInFile : 0;
  bool second = false;
  if (SECOND == Second::imm) {
    second = second_operand<Chip_Instr_Reg_Push_Imm, Chip_Instr_Reg_Push_Imm>(t[1], place, d);
  } else if (SECOND == Second::var) {
    second = exactly<Chip_Instr_Reg_Push_Mem>(t[1]) &&
             second_operand<Chip_Instr_Reg_Push_Mem, Chip_Instr_Reg_Push_Imm>(t[1], place, d);
  } else {
    second = second_operand<Chip_Instr_Reg_Push_Mem, Chip_Instr_Reg_Push_Imm>(t[1], place, d);
  }
  if (!second) return false;
  // Where the place is the line's, the low byte is the caller's (a step's
  // delta).
  if (place != Place::any) d->places = low;
  d->places |= static_cast<std::uint16_t>(truth << kTruthShift);
  d->word = var->get();
  d->then_to = static_cast<std::uint32_t>((test + 5) * sizeof(Chip_Decoded));
  d->else_to = static_cast<std::uint32_t>(branch->get() * sizeof(Chip_Decoded));
  return true;
}

// The statement `i++;` (or --) on a variable of the frame (BASE: of the
// file's) and a goto to a loop's test of that variable, its second operand
// a variable of the same place (VAR) or an immediate: the delta in places'
// low byte, the test as loop_test (the variable's offset in word); LT: the
// comparison is Lt_int. A loop that steps another variable than it tests
// is left to step<> and loop.
template <bool BASE, bool VAR, bool LT>
bool step_loop(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code* code) {
  auto* addr = exactly<Chip_Instr_Reg_Push_Mem_Addr>(at[0]);
  // step<> leaves the delta (+1 or -1) in aux.
  if (!addr || !step<BASE>(at, d)) return false;
  d->places = static_cast<std::uint8_t>(static_cast<std::int8_t>(d->aux));
  d->aux = 0;
  return loop_test<VAR ? Second::var : Second::imm>(at[3], BASE ? Place::file : Place::frame, d,
                                                    code) &&
         d->word == addr->get() && (!LT || (d->places >> kTruthShift) == kLess);
}

// A goto to a loop's test, its variables anywhere.
bool loop(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code* code) {
  return loop_test<Second::either>(at[0], Place::any, d, code);
}

struct Fused {
  Chip_Op op;
  t_CPUINT span;
  Chip_Op first;
  bool (*match)(Chip_Instr* const* at, Chip_Decoded* d, const Chip_VM_Code* code);
};

const Fused kFused[] = {
#define CHIP_VM_FUSED_ROW(op, span, first, matcher) \
  {CHIP_OP_##op, span, CHIP_OP_##first, &matcher},
    CHIP_VM_FUSED(CHIP_VM_FUSED_ROW)
#undef CHIP_VM_FUSED_ROW
};

// The indices some instruction of the code jumps to: the branches' and
// gotos' targets and the loops of an array's constructors.
// (Every instruction with a target of its own runs through its execute but
// the int branches and goto, which the list decodes.)
std::vector<bool> jump_targets(const Chip_VM_Code* code, const Chip_Decoded* decoded) {
  std::vector<bool> target(code->num_instr + 1, false);
  auto mark = [&](t_CPUWORD at) {
    if (at < target.size()) target[at] = true;
  };
  for (t_CPUINT i = 0; i < code->num_instr; i++) {
    const Chip_Op op = decoded[i].op;
    if (op == CHIP_OP_BRANCH_EQ_INT || op == CHIP_OP_BRANCH_NEQ_INT || op == CHIP_OP_GOTO) {
      mark(decoded[i].word);
    }
    if (op != CHIP_OP_EXECUTE) continue;
    Chip_Instr* instr = code->instr[i];
    if (auto* branch = dynamic_cast<Chip_Instr_Branch_Op*>(instr)) mark(branch->get());
    if (auto* top = dynamic_cast<Chip_Instr_Pre_Ctor_Array_Top*>(instr)) mark(top->get());
    if (auto* bottom = dynamic_cast<Chip_Instr_Pre_Ctor_Array_Bottom*>(instr)) mark(bottom->get());
  }
  return target;
}

// Fuses the runs the fused list finds in the decoded entries of code. A run
// is fused only where nothing jumps into it (a jump to its first instruction
// runs it whole).
void fuse(const Chip_VM_Code* code, Chip_Decoded* decoded) {
  const std::vector<bool> target = jump_targets(code, decoded);
  for (t_CPUINT i = 0; i < code->num_instr; i++) {
    for (const Fused& fused : kFused) {
      if (fused.first != decoded[i].op || fused.span > code->num_instr - i) continue;
      bool entered = false;
      for (t_CPUINT k = 1; k < fused.span; k++) entered = entered || target[i + k];
      if (entered) continue;
      Chip_Decoded d = decoded[i];
      if (!fused.match(code->instr + i, &d, code)) continue;
      d.op = fused.op;
      d.span = static_cast<std::uint8_t>(fused.span);
      decoded[i] = d;
      i += fused.span - 1;
      break;
    }
  }
}

// The code's decoded array with each entry's handler (handlers: the loop's
// labels by operation) filled in.
const Chip_Decoded* threaded(Chip_VM_Code* code, const void* const* handlers) {
  chip_decoded(code);
  Chip_Decoded* decoded = code->decoded;
  if (!decoded[0].handler) {
    const t_CPUINT n = code->num_instr ? code->num_instr : 1;
    for (t_CPUINT i = 0; i < n; i++) decoded[i].handler = handlers[decoded[i].op];
  }
  return decoded;
}

}  // namespace

const Chip_Decoded* chip_decoded(Chip_VM_Code* code) {
  if (!code->decoded) {
    auto* decoded = new Chip_Decoded[code->num_instr ? code->num_instr : 1];
    for (t_CPUINT i = 0; i < code->num_instr; i++) decoded[i] = decode(code->instr[i]);
    fuse(code, decoded);
    code->decoded = decoded;
  }
  return code->decoded;
}

void Chip_VM::run_shred(Chip_VM_Shred* shred) {
  shred->now = shred->wake_time;
  shred->instr = shred->code->instr;
  shred->is_running = TRUE;
  // A shred's first run enters its code: what the code pushes must fit on
  // the register stack (above what a spork put there), as for a call.
  if (shred->pc == 0 && shred->code == shred->start_code && !chip_reg_fits(shred, shred->code)) {
    chip_stack_overflow(shred);
    return;
  }
  m_executing = shred;

  try {
    run_decoded(shred);
  } catch (const std::bad_alloc&) {
    // Whatever the instruction was making could not be made: the shred
    // ends (its stacks go with it), the machine goes on.
    chip_out_of_memory(shred);
  } catch (const std::length_error&) {
    chip_out_of_memory(shred);
  }
  if (shred->is_abort && !shred->is_done) {
    EM_log(CP_LOG_SYSTEM, "aborting shred (id: %d)", (int)shred->id);
    shred->is_done = TRUE;
    shred->is_running = FALSE;
  }
  m_executing = nullptr;
}

// A handler without its line in the list would never run: it does not compile.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wunused-label"
void Chip_VM::run_decoded(Chip_VM_Shred* shred) {
  using namespace chip_ops;
  // Threaded: each operation ends by going straight to the next one's
  // handler (one indirect jump per operation, each predicted on its own).
  // The loop keeps its place in the decoded array (d), the register stack's
  // top and the frame's and the file's variables in locals (the frame's
  // base mirrors the memory stack's top, which only calls and returns
  // move); they go back to the shred before any instruction runs through
  // its own execute (which may call, return, yield or fail) and are read
  // again after it, and whenever the loop leaves. Calls and returns of
  // compiled code switch the code (and its array) here, without leaving the
  // loop; a call that would overflow a stack is left to the call
  // instruction's execute, which raises the exception as always.
  // One handler per operation of the lists (chip_vm_ops.h), in their order.
  static const void* const kHandlers[] = {
      &&op_EXECUTE,
#define CHIP_VM_OP_HANDLER(op, instr_class, operand) &&op_##op,
      CHIP_VM_OPS(CHIP_VM_OP_HANDLER)
#undef CHIP_VM_OP_HANDLER
#define CHIP_VM_FUSED_HANDLER(op, span, first, matcher) &&op_##op,
      CHIP_VM_FUSED(CHIP_VM_FUSED_HANDLER)
#undef CHIP_VM_FUSED_HANDLER
  };
  static_assert(sizeof kHandlers / sizeof *kHandlers == CHIP_OP_COUNT, "one handler per op");
  Chip_VM_Code* code = shred->code;
  const Chip_Decoded* ops = threaded(code, kHandlers);
  const Chip_Decoded* d = ops + shred->pc;
  unsigned char* sp = shred->reg->sp;
  unsigned char* mem = shred->mem->sp;
  unsigned char* base = shred->base_ref ? shred->base_ref->stack : nullptr;
  // What a call enters: the callee's code, its local depth, the held
  // offsets, where its arguments end on the register stack, the register
  // stack's top as the call instruction sees it, and the call's index.
  Chip_VM_Code* callee = nullptr;
  t_CPUWORD call_depth = 0;
  const Chip_Obj_Offsets* call_held = nullptr;
  unsigned char* call_args = nullptr;
  const unsigned char* call_sp = nullptr;
  t_CPUINT call_pc = 0;
  auto index = [&](const Chip_Decoded* at) { return static_cast<t_CPUINT>(at - ops); };
  auto keep = [&](t_CPUINT at) {
    shred->pc = at;
    shred->next_pc = at + 1;
    shred->reg->sp = sp;
  };

// On to the operation at d.
#define CHIP_DISPATCH() goto* d->handler
// On to the instruction after this entry's run.
#define CHIP_NEXT(span) \
  do {                  \
    d += (span);        \
    CHIP_DISPATCH();    \
  } while (0)
// On to `to` after a jump: going back (or staying), a stop or an abort is
// looked for first.
#define CHIP_JUMP(to)                       \
  do {                                      \
    const Chip_Decoded* to_ = ops + (to);   \
    const bool back_ = to_ <= d;            \
    d = to_;                                \
    if (back_) goto checkpoint;             \
    CHIP_DISPATCH();                        \
  } while (0)

  // A stop or an abort is looked for when the shred starts running and at
  // every jump back and call (a call enters at 0): code that does neither
  // runs straight to its end or to its next wait, so a request is seen as
  // soon as anything could repeat.
  // The three flags are read together, one test rather than three
  // branches on the way of every turn of a loop.
checkpoint:
  if (__builtin_expect((m_stop_requested.load(std::memory_order_relaxed) | shred->is_abort |
                        m_abort_requested.load(std::memory_order_relaxed)) == 0,
                       1)) {
    CHIP_DISPATCH();
  }
  if (m_stop_requested) {
    keep(index(d));
    return;
  }
  // The request is read before it is taken: an exchange at every jump back
  // would cost a locked instruction per turn of a loop.
  if (shred->is_abort || (m_abort_requested.load(std::memory_order_relaxed) &&
                          m_abort_requested.exchange(FALSE, std::memory_order_relaxed))) {
    EM_log(CP_LOG_SYSTEM, "aborting shred (id: %d)", (int)shred->id);
    shred->is_done = TRUE;
    shred->is_running = FALSE;
    keep(index(d));
    return;
  }
  CHIP_DISPATCH();

op_PUSH_IMM:
  push<t_CPWORD>(sp, static_cast<t_CPWORD>(d->word));
  CHIP_NEXT(1);
op_PUSH_IMM2:
  push<t_CPFLOAT>(sp, d->real);
  CHIP_NEXT(1);
op_PUSH_MEM:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(mem + d->word));
  CHIP_NEXT(1);
op_PUSH_MEM2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(mem + d->word));
  CHIP_NEXT(1);
op_PUSH_MEM_ADDR:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(mem + d->word));
  CHIP_NEXT(1);
op_PUSH_BASE:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(base + d->word));
  CHIP_NEXT(1);
op_PUSH_BASE2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(base + d->word));
  CHIP_NEXT(1);
op_PUSH_BASE_ADDR:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(base + d->word));
  CHIP_NEXT(1);
op_POP:
op_POP2:
op_POP_WORDS:
  sp -= d->word;
  CHIP_NEXT(1);
op_ASSIGN:
  assign_top<t_CPWORD>(sp);
  CHIP_NEXT(1);
op_ASSIGN2:
  assign_top<t_CPFLOAT>(sp);
  CHIP_NEXT(1);
op_ADD_INT:
  int_binary(sp, add_int);
  CHIP_NEXT(1);
op_MINUS_INT:
  int_binary(sp, minus_int);
  CHIP_NEXT(1);
op_TIMES_INT:
  int_binary(sp, times_int);
  CHIP_NEXT(1);
op_LT_INT:
  int_binary(sp, lt<t_CPINT>);
  CHIP_NEXT(1);
op_GT_INT:
  int_binary(sp, gt<t_CPINT>);
  CHIP_NEXT(1);
op_LE_INT:
  int_binary(sp, le<t_CPINT>);
  CHIP_NEXT(1);
op_GE_INT:
  int_binary(sp, ge<t_CPINT>);
  CHIP_NEXT(1);
op_EQ_INT:
  int_binary(sp, eq<t_CPINT>);
  CHIP_NEXT(1);
op_NEQ_INT:
  int_binary(sp, neq<t_CPINT>);
  CHIP_NEXT(1);
op_PREINC_INT:
  step_int(sp, 1, true);
  CHIP_NEXT(1);
op_POSTINC_INT:
  step_int(sp, 1, false);
  CHIP_NEXT(1);
op_PREDEC_INT:
  step_int(sp, -1, true);
  CHIP_NEXT(1);
op_POSTDEC_INT:
  step_int(sp, -1, false);
  CHIP_NEXT(1);
op_ADD_FLOAT:
  float_binary(sp, add_float);
  CHIP_NEXT(1);
op_MINUS_FLOAT:
  float_binary(sp, minus_float);
  CHIP_NEXT(1);
op_TIMES_FLOAT:
  float_binary(sp, times_float);
  CHIP_NEXT(1);
op_DIVIDE_FLOAT:
  float_binary(sp, divide_float);
  CHIP_NEXT(1);
op_LT_FLOAT:
  compare<t_CPFLOAT>(sp, lt<t_CPFLOAT>);
  CHIP_NEXT(1);
op_GT_FLOAT:
  compare<t_CPFLOAT>(sp, gt<t_CPFLOAT>);
  CHIP_NEXT(1);
op_LE_FLOAT:
  compare<t_CPFLOAT>(sp, le<t_CPFLOAT>);
  CHIP_NEXT(1);
op_GE_FLOAT:
  compare<t_CPFLOAT>(sp, ge<t_CPFLOAT>);
  CHIP_NEXT(1);
op_EQ_FLOAT:
  compare<t_CPFLOAT>(sp, eq<t_CPFLOAT>);
  CHIP_NEXT(1);
op_NEQ_FLOAT:
  compare<t_CPFLOAT>(sp, neq<t_CPFLOAT>);
  CHIP_NEXT(1);
op_BRANCH_EQ_INT:
  if (branch_taken<t_CPWORD>(sp, int_eq)) CHIP_JUMP(d->word);
  CHIP_NEXT(1);
op_BRANCH_NEQ_INT:
  if (branch_taken<t_CPWORD>(sp, int_neq)) CHIP_JUMP(d->word);
  CHIP_NEXT(1);
op_GOTO:
  CHIP_JUMP(d->word);

// The fused comparisons: the comparison, then the branch taken when it is
// false (the push of 0 and the pops cancel out).
#define CHIP_COMPARE_ELSE(test)                            \
  do {                                                     \
    sp -= 2 * WORD;                                        \
    if (!test(load_int(sp), load_int(sp + WORD))) CHIP_JUMP(d->word); \
    CHIP_NEXT(3);                                          \
  } while (0)
op_LT_INT_ELSE:
  CHIP_COMPARE_ELSE(lt<t_CPINT>);
op_GT_INT_ELSE:
  CHIP_COMPARE_ELSE(gt<t_CPINT>);
op_LE_INT_ELSE:
  CHIP_COMPARE_ELSE(le<t_CPINT>);
op_GE_INT_ELSE:
  CHIP_COMPARE_ELSE(ge<t_CPINT>);
op_EQ_INT_ELSE:
  CHIP_COMPARE_ELSE(eq<t_CPINT>);
op_NEQ_INT_ELSE:
  CHIP_COMPARE_ELSE(neq<t_CPINT>);
#undef CHIP_COMPARE_ELSE

// The fused tests of an int variable against an immediate.
#define CHIP_VAR_IMM_ELSE(at, test)                                                     \
  do {                                                                                  \
    if (!test(load_int((at) + d->word), static_cast<t_CPINT>(d->aux))) CHIP_JUMP(d->word2); \
    CHIP_NEXT(5);                                                                       \
  } while (0)
op_LT_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, lt<t_CPINT>);
op_GT_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, gt<t_CPINT>);
op_LE_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, le<t_CPINT>);
op_GE_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, ge<t_CPINT>);
op_EQ_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, eq<t_CPINT>);
op_NEQ_MEM_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(mem, neq<t_CPINT>);
op_LT_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, lt<t_CPINT>);
op_GT_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, gt<t_CPINT>);
op_LE_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, le<t_CPINT>);
op_GE_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, ge<t_CPINT>);
op_EQ_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, eq<t_CPINT>);
op_NEQ_BASE_IMM_ELSE:
  CHIP_VAR_IMM_ELSE(base, neq<t_CPINT>);
#undef CHIP_VAR_IMM_ELSE

// `value => variable;`: the value popped into the variable.
op_STORE_MEM:
  pop_into<t_CPWORD>(sp, mem + d->word);
  CHIP_NEXT(3);
op_STORE_BASE:
  pop_into<t_CPWORD>(sp, base + d->word);
  CHIP_NEXT(3);
op_STORE_MEM2:
  pop_into<t_CPFLOAT>(sp, mem + d->word);
  CHIP_NEXT(3);
op_STORE_BASE2:
  pop_into<t_CPFLOAT>(sp, base + d->word);
  CHIP_NEXT(3);

// `i++;` and the like: the variable stepped in place.
op_STEP_MEM:
  step_in_place(mem + d->word, static_cast<t_CPINT>(d->aux));
  CHIP_NEXT(3);
op_STEP_BASE:
  step_in_place(base + d->word, static_cast<t_CPINT>(d->aux));
  CHIP_NEXT(3);

// The fused operations on variables. The second operand is read where a
// variable would be, or, for an immediate, from the entry itself.
#define CHIP_SECOND(root)                                                                \
  ((d->places & kSecondIsImm) ? reinterpret_cast<const unsigned char*>(&d->word2) \
                              : (root) + d->word2)

// `x + y => z;` and the like, every variable in the frame or every one in
// the file's: the result stored, nothing left on the stack.
#define CHIP_INT_INTO(op, root)                                                    \
  do {                                                                             \
    store_int((root) + d->aux, op(load_int((root) + d->word), load_int(CHIP_SECOND(root)))); \
    CHIP_NEXT(6);                                                                  \
  } while (0)
#define CHIP_FLOAT_INTO(op, root)                                                    \
  do {                                                                               \
    chip_store<t_CPFLOAT>((root) + d->aux, op(chip_load<t_CPFLOAT>((root) + d->word), \
                                              chip_load<t_CPFLOAT>(CHIP_SECOND(root)))); \
    CHIP_NEXT(6);                                                                    \
  } while (0)
op_ADD_INT_INTO:
  CHIP_INT_INTO(add_int, mem);
op_ADD_INT_INTO_BASE:
  CHIP_INT_INTO(add_int, base);
op_MINUS_INT_INTO:
  CHIP_INT_INTO(minus_int, mem);
op_MINUS_INT_INTO_BASE:
  CHIP_INT_INTO(minus_int, base);
op_TIMES_INT_INTO:
  CHIP_INT_INTO(times_int, mem);
op_TIMES_INT_INTO_BASE:
  CHIP_INT_INTO(times_int, base);
op_ADD_FLOAT_INTO:
  CHIP_FLOAT_INTO(add_float, mem);
op_ADD_FLOAT_INTO_BASE:
  CHIP_FLOAT_INTO(add_float, base);
op_MINUS_FLOAT_INTO:
  CHIP_FLOAT_INTO(minus_float, mem);
op_MINUS_FLOAT_INTO_BASE:
  CHIP_FLOAT_INTO(minus_float, base);
op_TIMES_FLOAT_INTO:
  CHIP_FLOAT_INTO(times_float, mem);
op_TIMES_FLOAT_INTO_BASE:
  CHIP_FLOAT_INTO(times_float, base);
op_DIVIDE_FLOAT_INTO:
  CHIP_FLOAT_INTO(divide_float, mem);
op_DIVIDE_FLOAT_INTO_BASE:
  CHIP_FLOAT_INTO(divide_float, base);
#undef CHIP_INT_INTO
#undef CHIP_FLOAT_INTO

// `3 +=> x;` and the like: the variable changed in place.
#define CHIP_INT_TO(op)                                                           \
  do {                                                                            \
    unsigned char* target_ = ((d->places & kTargetInFile) ? base : mem) + d->aux; \
    store_int(target_, op(load_int(target_), word_int(static_cast<t_CPWORD>(d->word2)))); \
    CHIP_NEXT(4);                                                                 \
  } while (0)
#define CHIP_FLOAT_TO(op)                                                         \
  do {                                                                            \
    unsigned char* target_ = ((d->places & kTargetInFile) ? base : mem) + d->aux; \
    chip_store<t_CPFLOAT>(target_, op(chip_load<t_CPFLOAT>(target_),              \
                                      chip_load<t_CPFLOAT>(&d->word2)));          \
    CHIP_NEXT(4);                                                                 \
  } while (0)
op_ADD_INT_TO:
  CHIP_INT_TO(add_int);
op_MINUS_INT_TO:
  CHIP_INT_TO(minus_int);
op_ADD_FLOAT_TO:
  CHIP_FLOAT_TO(add_float);
op_MINUS_FLOAT_TO:
  CHIP_FLOAT_TO(minus_float);
#undef CHIP_INT_TO
#undef CHIP_FLOAT_TO

// The end of a loop's turn: the step (the STEP_ forms: of the variable
// tested, in the frame or in the file's), then the loop's test, then on to
// the body or past the loop's end, a stop or an abort looked for first as
// at every jump back. The comparison finds one of the three orders; the
// truth table says whether the test holds in it.
// The way on is a branch, not a select: a select would make the next
// entry wait for the test's operands, the branch lets the processor guess it
// and run on.
#define CHIP_LOOP_TEST(left, right)                                              \
  do {                                                                           \
    const t_CPINT l_ = (left), r_ = (right);                                     \
    const unsigned order_ = l_ < r_ ? kLess : l_ == r_ ? kEqual : kGreater;      \
    if (__builtin_expect(((d->places >> kTruthShift) & order_) != 0, 1)) {      \
      d = reinterpret_cast<const Chip_Decoded*>(reinterpret_cast<const char*>(ops) + d->then_to); \
      goto checkpoint;                                                           \
    }                                                                            \
    d = reinterpret_cast<const Chip_Decoded*>(reinterpret_cast<const char*>(ops) + d->else_to); \
    goto checkpoint;                                                             \
  } while (0)
#define CHIP_LOOP_STEP(root, right)                                              \
  do {                                                                           \
    unsigned char* var_ = (root) + d->word;                                      \
    const t_CPINT stepped_ =                                                     \
        add_int(load_int(var_), static_cast<std::int8_t>(d->places & 0xff));     \
    store_int(var_, stepped_);                                                   \
    CHIP_LOOP_TEST(stepped_, right);                                             \
  } while (0)
// The same with the test `<`.
#define CHIP_LT_LOOP_STEP(root, right)                                           \
  do {                                                                           \
    unsigned char* var_ = (root) + d->word;                                      \
    const t_CPINT stepped_ =                                                     \
        add_int(load_int(var_), static_cast<std::int8_t>(d->places & 0xff));     \
    store_int(var_, stepped_);                                                   \
    if (__builtin_expect(stepped_ < (right), 1)) {                               \
      d = reinterpret_cast<const Chip_Decoded*>(reinterpret_cast<const char*>(ops) + d->then_to); \
      goto checkpoint;                                                           \
    }                                                                            \
    d = reinterpret_cast<const Chip_Decoded*>(reinterpret_cast<const char*>(ops) + d->else_to); \
    goto checkpoint;                                                             \
  } while (0)
op_STEP_LT_LOOP:
  CHIP_LT_LOOP_STEP(mem, word_int(static_cast<t_CPWORD>(d->word2)));
op_STEP_LT_LOOP_VAR:
  CHIP_LT_LOOP_STEP(mem, load_int(mem + d->word2));
op_STEP_LT_LOOP_BASE:
  CHIP_LT_LOOP_STEP(base, word_int(static_cast<t_CPWORD>(d->word2)));
op_STEP_LT_LOOP_BASE_VAR:
  CHIP_LT_LOOP_STEP(base, load_int(base + d->word2));
op_STEP_LOOP:
  CHIP_LOOP_STEP(mem, word_int(static_cast<t_CPWORD>(d->word2)));
op_STEP_LOOP_VAR:
  CHIP_LOOP_STEP(mem, load_int(mem + d->word2));
op_STEP_LOOP_BASE:
  CHIP_LOOP_STEP(base, word_int(static_cast<t_CPWORD>(d->word2)));
op_STEP_LOOP_BASE_VAR:
  CHIP_LOOP_STEP(base, load_int(base + d->word2));
op_LOOP:
  CHIP_LOOP_TEST(load_int(((d->places & kFirstInFile) ? base : mem) + d->word),
                 load_int(CHIP_SECOND((d->places & kSecondInFile) ? base : mem)));
#undef CHIP_LOOP_STEP
#undef CHIP_LT_LOOP_STEP
#undef CHIP_LOOP_TEST
#undef CHIP_SECOND

op_FUNC_TO_CODE: {
  Chip_Func* func = chip_load<Chip_Func*>(sp - WORD);
  if (!func) goto op_EXECUTE;  // its execute stops on the broken invariant
  chip_store<Chip_VM_Code*>(sp - WORD, func->code);
  CHIP_NEXT(1);
}

// Calls of compiled code. The stack form finds the code and the local depth
// on the register stack; the fused forms know them from the decoder.
op_FUNC_CALL:
  callee = chip_load<Chip_VM_Code*>(sp - 2 * WORD);
  call_depth = chip_load<t_CPUWORD>(sp - WORD);
  call_held = reinterpret_cast<const Chip_Obj_Offsets*>(d->word2);
  call_args = sp - 2 * WORD;
  call_sp = sp;
  call_pc = index(d);
  goto enter;
op_CALL_FUNC:
  call_pc = index(d) + 3;  // the call instruction ends the run
  goto known_callee;
op_CALL_STATIC:
  call_pc = index(d) + 4;
known_callee:
  callee = reinterpret_cast<Chip_VM_Code*>(d->word);
  call_depth = d->aux;
  call_held = reinterpret_cast<const Chip_Obj_Offsets*>(d->word2);
  call_args = sp;
  call_sp = sp + 2 * WORD;  // the code and the depth, had they been pushed
  goto enter;
enter: {
  unsigned char* reg_top = nullptr;
  unsigned char* frame = chip_enter_frame(shred, callee, call_depth, call_held, call_args,
                                          call_sp, call_pc + 1, &reg_top);
  if (!frame) {
    // An overflow: the call instruction itself raises it, from its index,
    // with the code and the depth on the register stack.
    if (call_args == sp) {
      push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(callee));
      push<t_CPWORD>(sp, static_cast<t_CPWORD>(call_depth));
    }
    d = ops + call_pc;
    goto op_EXECUTE;
  }
  sp = reg_top;
  mem = frame;
  shred->code = callee;
  shred->instr = callee->instr;
  code = callee;
  ops = code->decoded;
  if (!ops || !ops->handler) ops = threaded(code, kHandlers);
  d = ops;
  goto checkpoint;
}

op_FUNC_RETURN: {
  t_CPUINT return_pc = 0;
  Chip_VM_Code* caller = chip_leave_frame(shred, code, &return_pc);
  mem = shred->mem->sp;
  shred->code = caller;
  shred->instr = caller->instr;
  code = caller;
  ops = code->decoded;
  if (!ops || !ops->handler) ops = threaded(code, kHandlers);
  d = ops + return_pc;
  CHIP_DISPATCH();
}

op_EXECUTE: {
  const t_CPUINT pc = index(d);
  keep(pc);
  d->instr->execute(this, shred);
  const t_CPUINT next = shred->next_pc;
  sp = shred->reg->sp;
  mem = shred->mem->sp;
  base = shred->base_ref ? shred->base_ref->stack : nullptr;
  if (!shred->is_running || !shred->code) {
    // Yielded, finished or failed: it resumes at the next instruction.
    shred->pc = next;
    shred->next_pc = next + 1;
    return;
  }
  if (shred->code != code) {
    code = shred->code;
    ops = threaded(code, kHandlers);
    // Entered or left code: its index is not comparable with this one's.
    d = ops + next;
    if (next == 0) goto checkpoint;
    CHIP_DISPATCH();
  }
  CHIP_JUMP(next);
}
#undef CHIP_DISPATCH
#undef CHIP_NEXT
#undef CHIP_JUMP
}
#pragma GCC diagnostic pop
