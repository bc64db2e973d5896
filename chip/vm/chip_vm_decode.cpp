#include "chip/vm/chip_vm_decode.h"

#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

namespace {

// The operand-free instructions run inline, by their exact class.
const std::unordered_map<std::type_index, Chip_Op>& plain_ops() {
  static const std::unordered_map<std::type_index, Chip_Op> ops = {
      {typeid(Chip_Instr_Reg_Pop_Word), CHIP_OP_POP},
      {typeid(Chip_Instr_Reg_Pop_Word2), CHIP_OP_POP},
      {typeid(Chip_Instr_Assign_Primitive), CHIP_OP_ASSIGN},
      {typeid(Chip_Instr_Assign_Primitive2), CHIP_OP_ASSIGN2},
      {typeid(Chip_Instr_Add_int), CHIP_OP_ADD_INT},
      {typeid(Chip_Instr_Minus_int), CHIP_OP_MINUS_INT},
      {typeid(Chip_Instr_Times_int), CHIP_OP_TIMES_INT},
      {typeid(Chip_Instr_Lt_int), CHIP_OP_LT_INT},
      {typeid(Chip_Instr_Gt_int), CHIP_OP_GT_INT},
      {typeid(Chip_Instr_Le_int), CHIP_OP_LE_INT},
      {typeid(Chip_Instr_Ge_int), CHIP_OP_GE_INT},
      {typeid(Chip_Instr_Eq_int), CHIP_OP_EQ_INT},
      {typeid(Chip_Instr_Neq_int), CHIP_OP_NEQ_INT},
      {typeid(Chip_Instr_PreInc_int), CHIP_OP_PREINC_INT},
      {typeid(Chip_Instr_PostInc_int), CHIP_OP_POSTINC_INT},
      {typeid(Chip_Instr_PreDec_int), CHIP_OP_PREDEC_INT},
      {typeid(Chip_Instr_PostDec_int), CHIP_OP_POSTDEC_INT},
      {typeid(Chip_Instr_Add_double), CHIP_OP_ADD_FLOAT},
      {typeid(Chip_Instr_Minus_double), CHIP_OP_MINUS_FLOAT},
      {typeid(Chip_Instr_Times_double), CHIP_OP_TIMES_FLOAT},
      {typeid(Chip_Instr_Divide_double), CHIP_OP_DIVIDE_FLOAT},
      {typeid(Chip_Instr_Lt_double), CHIP_OP_LT_FLOAT},
      {typeid(Chip_Instr_Gt_double), CHIP_OP_GT_FLOAT},
      {typeid(Chip_Instr_Le_double), CHIP_OP_LE_FLOAT},
      {typeid(Chip_Instr_Ge_double), CHIP_OP_GE_FLOAT},
      {typeid(Chip_Instr_Eq_double), CHIP_OP_EQ_FLOAT},
      {typeid(Chip_Instr_Neq_double), CHIP_OP_NEQ_FLOAT},
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
  auto plain = plain_ops().find(type);
  if (plain != plain_ops().end()) {
    d.op = plain->second;
    if (type == typeid(Chip_Instr_Reg_Pop_Word)) d.word = sizeof(t_CPWORD);
    if (type == typeid(Chip_Instr_Reg_Pop_Word2)) d.word = sizeof(t_CPFLOAT);
    return d;
  }
  if (type == typeid(Chip_Instr_Reg_Push_Imm)) {
    d.op = CHIP_OP_PUSH_IMM;
    d.word = static_cast<Chip_Instr_Reg_Push_Imm*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Reg_Push_Imm2)) {
    d.op = CHIP_OP_PUSH_IMM2;
    d.real = static_cast<Chip_Instr_Reg_Push_Imm2*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Reg_Pop_Word3)) {
    d.op = CHIP_OP_POP;
    d.word = static_cast<Chip_Instr_Reg_Pop_Word3*>(instr)->get() * sizeof(t_CPWORD);
  } else if (type == typeid(Chip_Instr_Reg_Push_Mem) || type == typeid(Chip_Instr_Reg_Push_Mem2) ||
             type == typeid(Chip_Instr_Reg_Push_Mem_Addr)) {
    auto* mem = static_cast<Chip_Instr_Reg_Push_Mem_Op*>(instr);
    const bool base = mem->m_val2 != 0;
    if (type == typeid(Chip_Instr_Reg_Push_Mem)) {
      d.op = base ? CHIP_OP_PUSH_BASE : CHIP_OP_PUSH_MEM;
    } else if (type == typeid(Chip_Instr_Reg_Push_Mem2)) {
      d.op = base ? CHIP_OP_PUSH_BASE2 : CHIP_OP_PUSH_MEM2;
    } else {
      d.op = base ? CHIP_OP_PUSH_BASE_ADDR : CHIP_OP_PUSH_MEM_ADDR;
    }
    d.word = mem->get();
  } else if (type == typeid(Chip_Instr_Branch_Eq_int)) {
    d.op = CHIP_OP_BRANCH_EQ_INT;
    d.word = static_cast<Chip_Instr_Branch_Op*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Branch_Neq_int)) {
    d.op = CHIP_OP_BRANCH_NEQ_INT;
    d.word = static_cast<Chip_Instr_Branch_Op*>(instr)->get();
  } else if (type == typeid(Chip_Instr_Goto)) {
    d.op = CHIP_OP_GOTO;
    d.word = static_cast<Chip_Instr_Branch_Op*>(instr)->get();
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
