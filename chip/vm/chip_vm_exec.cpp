// The decoder and the machine's threaded loop over the decoded code.
#include "chip/vm/chip_vm_exec.h"

#include <new>
#include <stdexcept>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
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
  d.op = CHIP_OP_EXECUTE;
  d.word = 0;
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

}  // namespace

const Chip_Decoded* chip_decoded(Chip_VM_Code* code) {
  if (!code->decoded) {
    auto* decoded = new Chip_Decoded[code->num_instr ? code->num_instr : 1];
    for (t_CPUINT i = 0; i < code->num_instr; i++) decoded[i] = decode(code->instr[i]);
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
  // The loop keeps the shred's place, the register stack's top and the
  // frame's and the file's variables in locals; they go back to the shred
  // before any instruction runs through its own execute (which may call,
  // return, yield or fail) and are read again after it, and whenever the
  // loop leaves.
  // One handler per operation of the list (chip_vm_ops.h), in its order.
  static const void* const kHandlers[] = {
      &&op_EXECUTE,
#define CHIP_VM_OP_HANDLER(op, instr_class, operand) &&op_##op,
      CHIP_VM_OPS(CHIP_VM_OP_HANDLER)
#undef CHIP_VM_OP_HANDLER
  };
  static_assert(sizeof kHandlers / sizeof *kHandlers == CHIP_OP_COUNT, "one handler per op");
  Chip_VM_Code* code = shred->code;
  const Chip_Decoded* ops = chip_decoded(code);
  t_CPUINT pc = shred->pc;
  t_CPUINT next = pc + 1;
  const Chip_Decoded* d = nullptr;
  unsigned char* sp = shred->reg->sp;
  unsigned char* mem = shred->mem->sp;
  unsigned char* base = shred->base_ref ? shred->base_ref->stack : nullptr;
  auto keep = [&](t_CPUINT at) {
    shred->pc = at;
    shred->next_pc = at + 1;
    shred->reg->sp = sp;
  };

// On to the instruction after this one.
#define CHIP_NEXT()          \
  do {                       \
    pc = next;               \
    d = &ops[pc];            \
    next = pc + 1;           \
    goto* kHandlers[d->op];  \
  } while (0)
// On to next after a jump or a call: going back, a stop or an abort is
// looked for first.
#define CHIP_JUMPED()      \
  do {                     \
    if (next <= pc) {      \
      pc = next;           \
      goto checkpoint;     \
    }                      \
    CHIP_NEXT();           \
  } while (0)

  // A stop or an abort is looked for when the shred starts running and at
  // every jump back and call (a call enters at 0): code that does neither
  // runs straight to its end or to its next wait, so a request is seen as
  // soon as anything could repeat.
checkpoint:
  if (m_stop_requested) {
    keep(pc);
    return;
  }
  // The request is read before it is taken: an exchange at every jump back
  // would cost a locked instruction per turn of a loop.
  if (shred->is_abort || (m_abort_requested.load(std::memory_order_relaxed) &&
                          m_abort_requested.exchange(FALSE, std::memory_order_relaxed))) {
    EM_log(CP_LOG_SYSTEM, "aborting shred (id: %d)", (int)shred->id);
    shred->is_done = TRUE;
    shred->is_running = FALSE;
    keep(pc);
    return;
  }
  d = &ops[pc];
  next = pc + 1;
  goto* kHandlers[d->op];

op_PUSH_IMM:
  push<t_CPWORD>(sp, static_cast<t_CPWORD>(d->word));
  CHIP_NEXT();
op_PUSH_IMM2:
  push<t_CPFLOAT>(sp, d->real);
  CHIP_NEXT();
op_PUSH_MEM:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(mem + d->word));
  CHIP_NEXT();
op_PUSH_MEM2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(mem + d->word));
  CHIP_NEXT();
op_PUSH_MEM_ADDR:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(mem + d->word));
  CHIP_NEXT();
op_PUSH_BASE:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(base + d->word));
  CHIP_NEXT();
op_PUSH_BASE2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(base + d->word));
  CHIP_NEXT();
op_PUSH_BASE_ADDR:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(base + d->word));
  CHIP_NEXT();
op_POP:
op_POP2:
op_POP_WORDS:
  sp -= d->word;
  CHIP_NEXT();
op_ASSIGN:
  assign_top<t_CPWORD>(sp);
  CHIP_NEXT();
op_ASSIGN2:
  assign_top<t_CPFLOAT>(sp);
  CHIP_NEXT();
op_ADD_INT:
  int_binary(sp, add_int);
  CHIP_NEXT();
op_MINUS_INT:
  int_binary(sp, minus_int);
  CHIP_NEXT();
op_TIMES_INT:
  int_binary(sp, times_int);
  CHIP_NEXT();
op_LT_INT:
  int_binary(sp, lt<t_CPINT>);
  CHIP_NEXT();
op_GT_INT:
  int_binary(sp, gt<t_CPINT>);
  CHIP_NEXT();
op_LE_INT:
  int_binary(sp, le<t_CPINT>);
  CHIP_NEXT();
op_GE_INT:
  int_binary(sp, ge<t_CPINT>);
  CHIP_NEXT();
op_EQ_INT:
  int_binary(sp, eq<t_CPINT>);
  CHIP_NEXT();
op_NEQ_INT:
  int_binary(sp, neq<t_CPINT>);
  CHIP_NEXT();
op_PREINC_INT:
  step_int(sp, 1, true);
  CHIP_NEXT();
op_POSTINC_INT:
  step_int(sp, 1, false);
  CHIP_NEXT();
op_PREDEC_INT:
  step_int(sp, -1, true);
  CHIP_NEXT();
op_POSTDEC_INT:
  step_int(sp, -1, false);
  CHIP_NEXT();
op_ADD_FLOAT:
  float_binary(sp, add_float);
  CHIP_NEXT();
op_MINUS_FLOAT:
  float_binary(sp, minus_float);
  CHIP_NEXT();
op_TIMES_FLOAT:
  float_binary(sp, times_float);
  CHIP_NEXT();
op_DIVIDE_FLOAT:
  float_binary(sp, divide_float);
  CHIP_NEXT();
op_LT_FLOAT:
  compare<t_CPFLOAT>(sp, lt<t_CPFLOAT>);
  CHIP_NEXT();
op_GT_FLOAT:
  compare<t_CPFLOAT>(sp, gt<t_CPFLOAT>);
  CHIP_NEXT();
op_LE_FLOAT:
  compare<t_CPFLOAT>(sp, le<t_CPFLOAT>);
  CHIP_NEXT();
op_GE_FLOAT:
  compare<t_CPFLOAT>(sp, ge<t_CPFLOAT>);
  CHIP_NEXT();
op_EQ_FLOAT:
  compare<t_CPFLOAT>(sp, eq<t_CPFLOAT>);
  CHIP_NEXT();
op_NEQ_FLOAT:
  compare<t_CPFLOAT>(sp, neq<t_CPFLOAT>);
  CHIP_NEXT();
op_BRANCH_EQ_INT:
  if (branch_taken<t_CPWORD>(sp, int_eq)) next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_BRANCH_NEQ_INT:
  if (branch_taken<t_CPWORD>(sp, int_neq)) next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_GOTO:
  next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_EXECUTE:
  keep(pc);
  d->instr->execute(this, shred);
  next = shred->next_pc;
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
    ops = chip_decoded(code);
  }
  CHIP_JUMPED();
#undef CHIP_NEXT
#undef CHIP_JUMPED
}
#pragma GCC diagnostic pop
