#include "chip/vm/chip_vm_decode.h"

#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

namespace {

struct Plain {
  Chip_Op op;
  t_CPUWORD word;  // the operand the class implies (the bytes a pop drops)
};

// The instructions without operands of their own that run inline, by their
// exact class.
const std::unordered_map<std::type_index, Plain>& plain_ops() {
  static const std::unordered_map<std::type_index, Plain> ops = {
      {typeid(Chip_Instr_Reg_Pop_Word), {CHIP_OP_POP, sizeof(t_CPWORD)}},
      {typeid(Chip_Instr_Reg_Pop_Word2), {CHIP_OP_POP, sizeof(t_CPFLOAT)}},
      {typeid(Chip_Instr_Assign_Primitive), {CHIP_OP_ASSIGN, 0}},
      {typeid(Chip_Instr_Assign_Primitive2), {CHIP_OP_ASSIGN2, 0}},
      {typeid(Chip_Instr_Add_int), {CHIP_OP_ADD_INT, 0}},
      {typeid(Chip_Instr_Minus_int), {CHIP_OP_MINUS_INT, 0}},
      {typeid(Chip_Instr_Times_int), {CHIP_OP_TIMES_INT, 0}},
      {typeid(Chip_Instr_Lt_int), {CHIP_OP_LT_INT, 0}},
      {typeid(Chip_Instr_Gt_int), {CHIP_OP_GT_INT, 0}},
      {typeid(Chip_Instr_Le_int), {CHIP_OP_LE_INT, 0}},
      {typeid(Chip_Instr_Ge_int), {CHIP_OP_GE_INT, 0}},
      {typeid(Chip_Instr_Eq_int), {CHIP_OP_EQ_INT, 0}},
      {typeid(Chip_Instr_Neq_int), {CHIP_OP_NEQ_INT, 0}},
      {typeid(Chip_Instr_PreInc_int), {CHIP_OP_PREINC_INT, 0}},
      {typeid(Chip_Instr_PostInc_int), {CHIP_OP_POSTINC_INT, 0}},
      {typeid(Chip_Instr_PreDec_int), {CHIP_OP_PREDEC_INT, 0}},
      {typeid(Chip_Instr_PostDec_int), {CHIP_OP_POSTDEC_INT, 0}},
      {typeid(Chip_Instr_Add_double), {CHIP_OP_ADD_FLOAT, 0}},
      {typeid(Chip_Instr_Minus_double), {CHIP_OP_MINUS_FLOAT, 0}},
      {typeid(Chip_Instr_Times_double), {CHIP_OP_TIMES_FLOAT, 0}},
      {typeid(Chip_Instr_Divide_double), {CHIP_OP_DIVIDE_FLOAT, 0}},
      {typeid(Chip_Instr_Lt_double), {CHIP_OP_LT_FLOAT, 0}},
      {typeid(Chip_Instr_Gt_double), {CHIP_OP_GT_FLOAT, 0}},
      {typeid(Chip_Instr_Le_double), {CHIP_OP_LE_FLOAT, 0}},
      {typeid(Chip_Instr_Ge_double), {CHIP_OP_GE_FLOAT, 0}},
      {typeid(Chip_Instr_Eq_double), {CHIP_OP_EQ_FLOAT, 0}},
      {typeid(Chip_Instr_Neq_double), {CHIP_OP_NEQ_FLOAT, 0}},
  };
  return ops;
}

// The jumps that run inline; their operand is the target.
const std::unordered_map<std::type_index, Chip_Op>& jump_ops() {
  static const std::unordered_map<std::type_index, Chip_Op> ops = {
      {typeid(Chip_Instr_Branch_Eq_int), CHIP_OP_BRANCH_EQ_INT},
      {typeid(Chip_Instr_Branch_Neq_int), CHIP_OP_BRANCH_NEQ_INT},
      {typeid(Chip_Instr_Goto), CHIP_OP_GOTO},
  };
  return ops;
}

// The pushes of a variable, by class: from the frame, from the file.
struct Push {
  Chip_Op mem;
  Chip_Op base;
};

const std::unordered_map<std::type_index, Push>& push_ops() {
  static const std::unordered_map<std::type_index, Push> ops = {
      {typeid(Chip_Instr_Reg_Push_Mem), {CHIP_OP_PUSH_MEM, CHIP_OP_PUSH_BASE}},
      {typeid(Chip_Instr_Reg_Push_Mem2), {CHIP_OP_PUSH_MEM2, CHIP_OP_PUSH_BASE2}},
      {typeid(Chip_Instr_Reg_Push_Mem_Addr), {CHIP_OP_PUSH_MEM_ADDR, CHIP_OP_PUSH_BASE_ADDR}},
  };
  return ops;
}

Chip_Decoded decode(Chip_Instr* instr) {
  Chip_Decoded d;
  d.op = CHIP_OP_EXECUTE;
  d.word = 0;
  d.instr = instr;
  if (!instr) return d;
  const std::type_index type(typeid(*instr));
  if (auto plain = plain_ops().find(type); plain != plain_ops().end()) {
    d.op = plain->second.op;
    d.word = plain->second.word;
  } else if (auto jump = jump_ops().find(type); jump != jump_ops().end()) {
    d.op = jump->second;
    d.word = static_cast<Chip_Instr_Branch_Op*>(instr)->get();
  } else if (auto push = push_ops().find(type); push != push_ops().end()) {
    auto* mem = static_cast<Chip_Instr_Reg_Push_Mem_Op*>(instr);
    d.op = mem->m_val2 ? push->second.base : push->second.mem;
    d.word = mem->get();
  } else if (type == typeid(Chip_Instr_Reg_Push_Imm)) {
    d.op = CHIP_OP_PUSH_IMM;
    d.word = static_cast<Chip_Instr_Reg_Push_Imm*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Reg_Push_Imm2)) {
    d.op = CHIP_OP_PUSH_IMM2;
    d.real = static_cast<Chip_Instr_Reg_Push_Imm2*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Reg_Pop_Word3)) {
    d.op = CHIP_OP_POP;
    d.word = static_cast<Chip_Instr_Reg_Pop_Word3*>(instr)->get() * sizeof(t_CPWORD);
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
