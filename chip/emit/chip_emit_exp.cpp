// Emission of expressions.
//
// Every expression leaves its value on the register stack (one word for an
// int or a reference, one double for float, time and dur, two doubles for
// complex and polar), or the address of its variable when the checker marked
// it emit_var (the target of an assignment, of ++ or --). Widths are chosen
// by kind tag (chip_slot_kind, chip_array_kind), never by byte size: an int
// and a float are both 8 bytes wide.
//
// String literals: the emitter makes one string object per literal and the
// instruction that pushes it holds a reference on it for as long as the code
// exists, so the object can never be freed under the code; assignment into a
// string variable copies the text (Chip_Instr_Assign_String), so the literal
// itself never changes.
//
// Calls of compiled code tell the call instruction which argument words of
// the callee's frame are objects (chip_call_obj_offsets): the frame holds a
// reference on each while it lives. A spork tells the same of the argument
// bytes it hands to the child shred.
#include <cstdio>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "chip/emit/chip_emit.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_instr_string.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"

// Pushes an object that the code itself holds: a string literal's object,
// or the code a spork starts. It is a Chip_Instr_Reg_Push_Imm of the
// object's pointer (and named as one in dumps) that holds a reference on the
// object, given back when the code owning the instruction is deleted.
class Chip_Instr_Reg_Push_Held : public Chip_Instr_Reg_Push_Imm {
 public:
  explicit Chip_Instr_Reg_Push_Held(Chip_VM_Object* object)
      : Chip_Instr_Reg_Push_Imm(reinterpret_cast<t_CPUWORD>(object)), m_object(object) {
    m_object->add_ref();
  }
  ~Chip_Instr_Reg_Push_Held() override { m_object->release(); }
  Chip_Instr_Reg_Push_Held(const Chip_Instr_Reg_Push_Held&) = delete;
  Chip_Instr_Reg_Push_Held& operator=(const Chip_Instr_Reg_Push_Held&) = delete;
  const char* name() const override { return "Chip_Instr_Reg_Push_Imm"; }

 private:
  Chip_VM_Object* m_object;
};

namespace {

c_constr dname(Chip_Type* type) { return type->display_name().c_str(); }

// The type a value has once pushed: the implicit conversion's, if any.
Chip_Type* pushed_type(a_Exp exp) { return exp->cast_to ? exp->cast_to : exp->type; }

// An int immediate, sign-extended into a word.
t_CPUWORD int_imm(t_CPINT value) { return static_cast<t_CPUWORD>(static_cast<t_CPWORD>(value)); }

// A pointer immediate.
t_CPUWORD ptr_imm(const void* ptr) { return reinterpret_cast<t_CPUWORD>(ptr); }

// The class a type stands for: a class value (of type Class) names it.
Chip_Type* class_or_self(Chip_Type* type) {
  if (!isa(type, &t_class)) return type;
  if (type->array_type) return type->array_type;
  if (type->def && type->def->type) return type->def->type;
  return type;
}

// Byte offsets of the object words among a function's arguments, counted from
// `first` (the bytes of `this` before them, if any).
Chip_Obj_Offsets obj_arg_offsets(Chip_Func* func, t_CPUWORD first) {
  Chip_Obj_Offsets offsets;
  t_CPUWORD offset = first;
  for (a_Arg_List arg = func->def ? func->def->arg_list : nullptr; arg; arg = arg->next) {
    if (!arg->type) continue;
    if (isobj(arg->type)) offsets.push_back(offset);
    offset += arg->type->size;
  }
  return offsets;
}

// The object words a compiled frame of func holds: `this` (at 0) for a
// member function and the object arguments after it.
Chip_Obj_Offsets frame_obj_offsets(Chip_Func* func) {
  Chip_Obj_Offsets offsets;
  if (func->is_member) offsets.push_back(0);
  for (t_CPUWORD offset : obj_arg_offsets(func, func->is_member ? CHIP_WORD_SIZE : 0)) {
    offsets.push_back(offset);
  }
  return offsets;
}

// Whether func runs native code (an imported function).
t_CPBOOL is_native(Chip_Func* func) {
  return func->code && func->code->native_func_type != Chip_VM_Code::NATIVE_NONE;
}

// The test of a condition value against zero (Branch_Eq: leave when zero);
// null (after the message) for a type that cannot be tested.
Chip_Instr_Branch_Op* emit_zero_test(Chip_Emitter* emit, a_Exp cond) {
  Chip_Type* t = pushed_type(cond);
  switch (t->id) {
    case te_int: {
      emit->append(new Chip_Instr_Reg_Push_Imm(0));
      auto* branch = new Chip_Instr_Branch_Eq_int(0);
      emit->append(branch);
      return branch;
    }
    case te_float:
    case te_time:
    case te_dur: {
      emit->append(new Chip_Instr_Reg_Push_Imm2(0.0));
      auto* branch = new Chip_Instr_Branch_Eq_double(0);
      emit->append(branch);
      return branch;
    }
    default:
      EM_error2(cond->line_no, "(emit): internal error: unhandled type '%s' in if condition",
                t->name.c_str());
      return nullptr;
  }
}

// The function's arguments and the function itself (with the object of a
// member function), as a call and a spork push them.
t_CPBOOL emit_call_operands(Chip_Emitter* emit, a_Exp_Func_Call_* call) {
  if (!emit_engine_emit_exp(emit, call->args)) {
    EM_error2(call->line_no, "(emit): internal error in emitting function call arguments...");
    return FALSE;
  }
  if (!emit_engine_emit_exp(emit, call->func)) {
    EM_error2(call->line_no, "(emit): internal error in evaluating function call...");
    return FALSE;
  }
  return TRUE;
}

// A cast `(T) e` / `e $ T`: the operand, then its conversion.
t_CPBOOL emit_exp_cast(Chip_Emitter* emit, a_Exp_Cast_* cast) {
  if (!emit_engine_emit_exp(emit, cast->exp)) return FALSE;
  return emit_engine_emit_cast(emit, cast->self->type, pushed_type(cast->exp));
}

// A string literal: one object per literal, held by the code.
t_CPBOOL emit_string_literal(Chip_Emitter* emit, a_Exp_Primary_* exp) {
  c_constr text = exp->str ? exp->str : "";
  Chip_String* str = new Chip_String(text);
  if (!initialize_object(str, &t_string)) {
    delete str;
    std::fprintf(stderr, "[chip](emitter): OutOfMemory: while allocating string literal '%s'\n",
                 text);
    return FALSE;
  }
  emit->append(new Chip_Instr_Reg_Push_Held(str));
  return TRUE;
}

// A name: the reserved values, the folded dur constants, else the symbol.
t_CPBOOL emit_name(Chip_Emitter* emit, a_Exp_Primary_* exp) {
  static const S_Symbol s_now = insert_symbol("now");
  static const S_Symbol s_this = insert_symbol("this");
  static const S_Symbol s_me = insert_symbol("me");
  static const S_Symbol s_true = insert_symbol("true");
  static const S_Symbol s_false = insert_symbol("false");
  static const S_Symbol s_maybe = insert_symbol("maybe");
  static const S_Symbol s_null = insert_symbol("null");
  static const S_Symbol s_NULL = insert_symbol("NULL");
  static const S_Symbol s_pi = insert_symbol("pi");
  static const S_Symbol s_dac = insert_symbol("dac");
  static const S_Symbol s_adc = insert_symbol("adc");
  static const S_Symbol s_bunghole = insert_symbol("bunghole");
  static const S_Symbol s_blackhole = insert_symbol("blackhole");

  S_Symbol var = exp->var;
  if (var == s_now) {
    emit->append(new Chip_Instr_Reg_Push_Now);
  } else if (var == s_this) {
    emit->append(new Chip_Instr_Reg_Push_This);
  } else if (var == s_me) {
    emit->append(new Chip_Instr_Reg_Push_Me);
  } else if (var == s_true) {
    emit->append(new Chip_Instr_Reg_Push_Imm(1));
  } else if (var == s_false) {
    emit->append(new Chip_Instr_Reg_Push_Imm(0));
  } else if (var == s_maybe) {
    emit->append(new Chip_Instr_Reg_Push_Maybe);
  } else if (var == s_null || var == s_NULL) {
    emit->append(new Chip_Instr_Reg_Push_Imm(0));
  } else if (var == s_pi) {
    emit->append(new Chip_Instr_Reg_Push_Imm2(3.141592653589793));
  } else if (var == s_dac) {
    emit->append(new Chip_Instr_DAC);
  } else if (var == s_adc) {
    emit->append(new Chip_Instr_ADC);
  } else if (var == s_bunghole || var == s_blackhole) {
    emit->append(new Chip_Instr_Bunghole);
  } else {
    t_CPDUR dur = 0;
    if (emit->find_dur(var, &dur)) {
      emit->append(new Chip_Instr_Reg_Push_Imm2(dur));
      return TRUE;
    }
    return emit_engine_emit_symbol(emit, var, exp->value, exp->self->emit_var, exp->line_no);
  }
  return TRUE;
}

// The register-stack bytes an item of an expression list leaves: a word per
// variable of a declaration, a word for an address, the printed values of a
// debug print, otherwise its (converted) value.
t_CPUWORD item_bytes(a_Exp exp) {
  if (exp->s_type == ae_exp_decl) return exp->decl.num_var_decls * CHIP_WORD_SIZE;
  if (exp->emit_var) return CHIP_WORD_SIZE;
  if (exp->s_type == ae_exp_primary && exp->primary.s_type == ae_primary_hack) {
    t_CPUWORD bytes = 0;
    for (a_Exp e = exp->primary.exp; e; e = e->next) bytes += item_bytes(e);
    return bytes;
  }
  Chip_Type* type = pushed_type(exp);
  return type ? chip_slot_width(chip_slot_kind(type)) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// exp (, exp)*: each expression of a list by kind, then its implicit
// conversion. The items' values pile up on the register stack: each item
// starts above those before it (the code's register-stack bound).
t_CPBOOL emit_engine_emit_exp(Chip_Emitter* emit, a_Exp exp) {
  t_CPUWORD live = emit->code->reg_live;
  for (; exp; exp = exp->next) {
    emit->reg_at(live);
    t_CPBOOL ok = FALSE;
    switch (exp->s_type) {
      case ae_exp_binary: ok = emit_engine_emit_exp_binary(emit, &exp->binary); break;
      case ae_exp_unary: ok = emit_engine_emit_exp_unary(emit, &exp->unary); break;
      case ae_exp_cast: ok = emit_exp_cast(emit, &exp->cast); break;
      case ae_exp_postfix: ok = emit_engine_emit_exp_postfix(emit, &exp->postfix); break;
      case ae_exp_dur: ok = emit_engine_emit_exp_dur(emit, &exp->dur); break;
      case ae_exp_primary: ok = emit_engine_emit_exp_primary(emit, &exp->primary); break;
      case ae_exp_array: ok = emit_engine_emit_exp_array(emit, &exp->array); break;
      case ae_exp_func_call: ok = emit_engine_emit_exp_func_call(emit, &exp->func_call, FALSE); break;
      case ae_exp_dot_member: ok = emit_engine_emit_exp_dot_member(emit, &exp->dot_member); break;
      case ae_exp_if: ok = emit_engine_emit_exp_if(emit, &exp->exp_if); break;
      case ae_exp_decl: ok = emit_engine_emit_exp_decl(emit, &exp->decl, TRUE); break;
      default:
        EM_error2(exp->line_no, "(emit): internal error: unhandled expression type '%i'...",
                  exp->s_type);
        return FALSE;
    }
    if (!ok) return FALSE;
    if (exp->cast_to && !emit_engine_emit_cast(emit, exp->cast_to, exp->type)) return FALSE;
    live += item_bytes(exp);
    emit->reg_at(live);
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Primary: name | int | float | "string" | [ literal ] | <<< list >>> |
// #(re, im) | %(mag, phase) | ().
t_CPBOOL emit_engine_emit_exp_primary(Chip_Emitter* emit, a_Exp_Primary_* exp) {
  switch (exp->s_type) {
    case ae_primary_var: return emit_name(emit, exp);
    case ae_primary_num: emit->append(new Chip_Instr_Reg_Push_Imm(int_imm(exp->num))); return TRUE;
    case ae_primary_float: emit->append(new Chip_Instr_Reg_Push_Imm2(exp->fnum)); return TRUE;
    case ae_primary_str: return emit_string_literal(emit, exp);
    case ae_primary_array: return emit_engine_emit_array_lit(emit, exp->array);
    case ae_primary_nil: return TRUE;
    case ae_primary_hack: {
      // The values stay on the stack: the statement pops them.
      if (!emit_engine_emit_exp(emit, exp->exp)) return FALSE;
      std::vector<Chip_Type*> types;
      for (a_Exp e = exp->exp; e; e = e->next) types.push_back(pushed_type(e));
      emit->append(new Chip_Instr_Gack(types));
      return TRUE;
    }
    case ae_primary_complex: return emit_engine_emit_exp(emit, exp->complex->re);
    case ae_primary_polar: return emit_engine_emit_exp(emit, exp->polar->mod);
    default:
      EM_error2(exp->line_no, "(emit): internal error: unhandled primary type '%i'...", exp->s_type);
      return FALSE;
  }
}

// ---------------------------------------------------------------------------
// A name bound to a value: a member or static of the class (through `this`),
// a variable (its value or address), a function.
t_CPBOOL emit_engine_emit_symbol(Chip_Emitter* emit, S_Symbol symbol, Chip_Value* v,
                                 t_CPBOOL emit_var, int line_no) {
  if (!v) {
    EM_error2(line_no, "(emit): internal error: undefined symbol '%s'...", S_name(symbol));
    return FALSE;
  }

  if (v->owner_class && (v->is_member || v->is_static)) {
    // `x` inside a class is `this.x`.
    CHIP_CHECK(isa(emit->env->class_def, v->owner_class));
    a_Exp_ base;
    a_Exp_ member;
    std::memset(&base, 0, sizeof base);
    std::memset(&member, 0, sizeof member);
    base.s_type = ae_exp_primary;
    base.meta_kind = ae_meta_value;
    base.type = v->owner_class;
    base.line_no = line_no;
    base.primary.s_type = ae_primary_var;
    base.primary.var = insert_symbol("this");
    base.primary.line_no = line_no;
    base.primary.self = &base;
    member.s_type = ae_exp_dot_member;
    member.meta_kind = ae_meta_var;
    member.type = v->type;
    member.emit_var = emit_var;
    member.line_no = line_no;
    member.dot_member.base = &base;
    member.dot_member.t_base = v->owner_class;
    // Every overload's value bears the written name; the function's own
    // name (name@N@class) finds the overload the checker chose.
    const std::string& name = v->func_ref ? v->func_ref->name : v->name;
    member.dot_member.member_name = insert_symbol(name.c_str());
    member.dot_member.line_no = line_no;
    member.dot_member.self = &member;
    if (!emit_engine_emit_exp_dot_member(emit, &member.dot_member)) {
      EM_error2(line_no, "(emit): internal error: symbol transformation failed...");
      return FALSE;
    }
    return TRUE;
  }

  if (v->addr && !v->func_ref) {
    // A value with storage of its own (the environment's globals, imported
    // data): read or addressed where it lives.
    emit->append(new Chip_Instr_Dot_Static_Import_Data(v->addr, chip_slot_kind(v->type), emit_var));
    return TRUE;
  }

  const t_CPUWORD base = v->is_context_global ? 1 : 0;
  if (emit_var) {
    emit->append(new Chip_Instr_Reg_Push_Mem_Addr(v->offset, base));
    return TRUE;
  }
  if (v->func_ref) {
    emit->append(new Chip_Instr_Reg_Push_Imm(ptr_imm(v->func_ref)));
    return TRUE;
  }
  switch (chip_slot_kind(v->type)) {
    case CHIP_SLOT_WORD: emit->append(new Chip_Instr_Reg_Push_Mem(v->offset, base)); return TRUE;
    case CHIP_SLOT_FLOAT: emit->append(new Chip_Instr_Reg_Push_Mem2(v->offset, base)); return TRUE;
    case CHIP_SLOT_COMPLEX: emit->append(new Chip_Instr_Reg_Push_Mem4(v->offset, base)); return TRUE;
    default:
      EM_error2(line_no, "(emit): internal error: symbol '%s' has size '%i'...", S_name(symbol),
                static_cast<int>(v->type->size));
      return FALSE;
  }
}

// ---------------------------------------------------------------------------
// Declaration: Type [@] name ([sizes])? (, name ...)*. Each variable leaves
// one word: its address, or the object it was given. A declaration that is
// an assignment target (`"a" => string s`) must leave the address and makes
// no object: the assignment gives the variable its value (a string variable
// gets a string object of its own from Chip_Instr_Assign_String).
t_CPBOOL emit_engine_emit_exp_decl(Chip_Emitter* emit, a_Exp_Decl_* decl, t_CPBOOL first_exp) {
  (void)first_exp;
  const t_CPBOOL is_ref = decl->type && decl->type->ref;
  const t_CPBOOL is_target = decl->self && decl->self->emit_var;
  // Each variable is made above the words the ones before it left.
  t_CPUWORD live = emit->code->reg_live;
  for (a_Var_Decl_List list = decl->var_decl_list; list; list = list->next) {
    emit->reg_at(live);
    live += CHIP_WORD_SIZE;
    a_Var_Decl var_decl = list->var_decl;
    Chip_Value* value = var_decl->value;
    CHIP_CHECK(value != NULL);
    Chip_Type* t = value->type;

    t_CPBOOL instantiated = FALSE;
    if (isobj(t) && !is_target) {
      if (var_decl->array) {
        if (var_decl->array->exp_list) {
          if (!emit_engine_instantiate_object(emit, t, var_decl->array, is_ref)) return FALSE;
          instantiated = TRUE;
        }
      } else if (!is_ref) {
        if (!emit_engine_instantiate_object(emit, t, nullptr, is_ref)) return FALSE;
        instantiated = TRUE;
      }
    }

    const t_CPUWORD kind = chip_slot_kind(t);
    if (kind != CHIP_SLOT_WORD && kind != CHIP_SLOT_FLOAT && kind != CHIP_SLOT_COMPLEX) {
      EM_error2(decl->line_no, "(emit): unhandle decl size of '%i'...", static_cast<int>(t->size));
      return FALSE;
    }
    if (value->is_member) {
      if (isobj(t) && emit->env->class_def && emit->env->class_def->info)
        emit->env->class_def->info->obj_members.push_back(value->offset);
      if (kind == CHIP_SLOT_WORD) emit->append(new Chip_Instr_Alloc_Member_Word(value->offset));
      if (kind == CHIP_SLOT_FLOAT) emit->append(new Chip_Instr_Alloc_Member_Word2(value->offset));
      if (kind == CHIP_SLOT_COMPLEX) emit->append(new Chip_Instr_Alloc_Member_Word4(value->offset));
    } else if (decl->is_static && emit->env->class_def) {
      if (isobj(t) && emit->env->class_def->info)
        emit->env->class_def->info->obj_statics.push_back(value->offset);
      emit->append(new Chip_Instr_Reg_Push_Imm(ptr_imm(emit->env->class_def)));
      emit->append(new Chip_Instr_Dot_Static_Data(value->offset, kind, 1));
    } else {
      Chip_Local* local =
          emit->code->frame->alloc_local(static_cast<t_CPUINT>(t->size), value->name, is_ref);
      if (!local) {
        EM_error2(decl->line_no, "(emit): internal error: cannot allocate local '%s'...",
                  value->name.c_str());
        return FALSE;
      }
      value->offset = local->offset;
      if (isobj(t)) {
        // The frame holds the local's object: cleared on entry, given back
        // when the frame ends; in a loop, the last pass's object goes first.
        emit->code->obj_locals.push_back(local->offset);
        if (!emit->code->pending_breaks.empty())
          emit->append(new Chip_Instr_Release_Local(local->offset));
      }
      if (kind == CHIP_SLOT_WORD) emit->append(new Chip_Instr_Alloc_Word(local->offset));
      if (kind == CHIP_SLOT_FLOAT) emit->append(new Chip_Instr_Alloc_Word2(local->offset));
      if (kind == CHIP_SLOT_COMPLEX) emit->append(new Chip_Instr_Alloc_Word4(local->offset));
    }

    if (instantiated) emit->append(new Chip_Instr_Assign_Object);
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// A new object of type (with its pre-constructors), or an array of the sizes
// in array (with a pre-constructor loop over object elements unless is_ref).
t_CPBOOL emit_engine_instantiate_object(Chip_Emitter* emit, Chip_Type* type, a_Array_Sub array,
                                        t_CPBOOL is_ref) {
  if (type->array_depth == 0) {
    emit->append(new Chip_Instr_Instantiate_Object(type));
    return emit_engine_pre_constructor(emit, type);
  }
  if (!emit_engine_emit_exp(emit, array ? array->exp_list : nullptr)) return FALSE;
  Chip_Type* elem = type->array_type;
  emit->append(new Chip_Instr_Array_Alloc(static_cast<t_CPUINT>(type->array_depth), elem,
                                          emit->code->frame->next_offset, is_ref));
  if (isobj(elem) && !is_ref) return emit_engine_pre_constructor_array(emit, elem);
  return TRUE;
}

// The pre-constructors of type, root class first, on the object on top.
t_CPBOOL emit_engine_pre_constructor(Chip_Emitter* emit, Chip_Type* type) {
  if (type->parent && !emit_engine_pre_constructor(emit, type->parent)) return FALSE;
  if (type->has_constructor) {
    CHIP_CHECK(type->info->pre_ctor != NULL);
    auto* ctor = new Chip_Instr_Pre_Constructor(type->info->pre_ctor, emit->code->frame->next_offset);
    emit->code->depth_ctors.push_back(ctor);
    emit->append(ctor);
  }
  return TRUE;
}

// Top(post) <pre-constructors> Bottom(top) Post: once per element of a
// fresh object array.
t_CPBOOL emit_engine_pre_constructor_array(Chip_Emitter* emit, Chip_Type* type) {
  t_CPUINT top_index = emit->next_index();
  auto* top = new Chip_Instr_Pre_Ctor_Array_Top(type);
  emit->append(top);
  if (!emit_engine_pre_constructor(emit, type)) return FALSE;
  emit->append(new Chip_Instr_Pre_Ctor_Array_Bottom(top_index));
  top->set(emit->next_index());
  emit->append(new Chip_Instr_Pre_Ctor_Array_Post);
  return TRUE;
}

// ---------------------------------------------------------------------------
// base.member: a component of a complex or polar value, a static or member
// function, static or member data.
t_CPBOOL emit_engine_emit_exp_dot_member(Chip_Emitter* emit, a_Exp_Dot_Member_* member) {
  Chip_Type* t_base = member->t_base ? member->t_base : member->base->type;
  const t_CPBOOL emit_var = member->self->emit_var;
  const t_CPBOOL base_is_var = member->base->meta_kind == ae_meta_var;

  if (t_base->id == te_complex || t_base->id == te_polar) {
    const t_CPBOOL is_complex = t_base->id == te_complex;
    if (base_is_var) {
      member->base->emit_var = TRUE;
    } else if (emit_var) {
      EM_error2(member->line_no, is_complex
                                     ? "(emit): cannot assign value to literal 'complex' value..."
                                     : "(emit): cannot assign value to literal 'polar' value...");
      return FALSE;
    }
    if (!emit_engine_emit_exp(emit, member->base)) return FALSE;
    c_constr name = S_name(member->member_name);
    const t_CPBOOL first = is_complex ? !std::strcmp(name, "re") : !std::strcmp(name, "mag");
    if (first) {
      emit->append(new Chip_Instr_Dot_Cmp_First(base_is_var, emit_var));
    } else {
      emit->append(new Chip_Instr_Dot_Cmp_Second(base_is_var, emit_var));
    }
    return TRUE;
  }

  Chip_Type* the_class = class_or_self(t_base);
  Chip_Value* value = type_engine_find_value(the_class, member->member_name);
  if (!value) {
    EM_error2(member->line_no, "(emit): internal error: class '%s' has no member '%s'...",
              dname(the_class), S_name(member->member_name));
    return FALSE;
  }

  if (value->func_ref) {
    Chip_Func* func = value->func_ref;
    if (!func->is_member) {
      emit->append(new Chip_Instr_Reg_Push_Imm(ptr_imm(the_class)));
      emit->append(new Chip_Instr_Dot_Static_Func(func));
      return TRUE;
    }
    // The object serves both as `this` and to find the function.
    if (!emit_engine_emit_exp(emit, member->base)) return FALSE;
    emit->append(new Chip_Instr_Reg_Dup_Last);
    emit->append(new Chip_Instr_Dot_Member_Func(func->vt_index));
    return TRUE;
  }

  const t_CPUWORD kind = chip_slot_kind(value->type);
  if (!value->is_member) {
    if (value->addr) {
      emit->append(new Chip_Instr_Dot_Static_Import_Data(value->addr, kind, emit_var));
    } else {
      // The static data lives with the class that declared the variable,
      // which may be an ancestor of the class named or of the object's.
      Chip_Type* owner = value->owner_class ? value->owner_class : the_class;
      emit->append(new Chip_Instr_Reg_Push_Imm(ptr_imm(owner)));
      emit->append(new Chip_Instr_Dot_Static_Data(value->offset, kind, emit_var));
    }
    return TRUE;
  }
  if (!emit_engine_emit_exp(emit, member->base)) return FALSE;
  emit->append(new Chip_Instr_Dot_Member_Data(value->offset, kind, emit_var));
  return TRUE;
}

// ---------------------------------------------------------------------------
// base[i] ... : one index, a string key, or several indices at once.
t_CPBOOL emit_engine_emit_exp_array(Chip_Emitter* emit, a_Exp_Array_* array) {
  Chip_Type* base_type = array->base->type;
  Chip_Type* type = array->self->type;
  const long depth =
      static_cast<long>(base_type->array_depth) - static_cast<long>(type->array_depth);
  if (depth <= 0) {
    EM_error2(array->line_no, "(emit): internal error: array with 0 depth...");
    return FALSE;
  }
  if (!array->indices) {
    EM_error2(array->line_no, "(emit): internal error: NULL array sub...");
    return FALSE;
  }
  if (!array->indices->exp_list) {
    EM_error2(array->line_no, "(emit): internal error: NULL array exp...");
    return FALSE;
  }
  if (!emit_engine_emit_exp(emit, array->base)) return FALSE;
  if (!emit_engine_emit_exp(emit, array->indices->exp_list)) return FALSE;

  const t_CPUINT kind = static_cast<t_CPUINT>(chip_array_kind(type));
  if (kind != CHIP_SLOT_WORD && kind != CHIP_SLOT_FLOAT && kind != CHIP_SLOT_COMPLEX) {
    EM_error2(array->line_no, "(emit): internal error: array with datasize of %i...",
              static_cast<int>(type->size));
    return FALSE;
  }
  const t_CPUINT emit_var = array->self->emit_var ? 1 : 0;
  if (depth > 1) {
    emit->append(new Chip_Instr_Array_Access_Multi(static_cast<t_CPUINT>(depth), kind, emit_var));
  } else if (isa(pushed_type(array->indices->exp_list), &t_string)) {
    emit->append(new Chip_Instr_Array_Map_Access(kind, emit_var));
  } else {
    emit->append(new Chip_Instr_Array_Access(kind, emit_var, 0));
  }
  return TRUE;
}

// [a, b, ...]: the elements, then one array of them.
t_CPBOOL emit_engine_emit_array_lit(Chip_Emitter* emit, a_Array_Sub array) {
  a_Exp list = array ? array->exp_list : nullptr;
  if (!emit_engine_emit_exp(emit, list)) return FALSE;
  t_CPUINT count = 0;
  for (a_Exp e = list; e; e = e->next) count++;
  Chip_Type* elem = list ? pushed_type(list) : &t_int;
  emit->append(new Chip_Instr_Array_Init(elem, count));
  return TRUE;
}

// n::unit.
t_CPBOOL emit_engine_emit_exp_dur(Chip_Emitter* emit, a_Exp_Dur_* dur) {
  if (!emit_engine_emit_exp(emit, dur->base)) return FALSE;
  if (isa(pushed_type(dur->base), &t_int)) emit->append(new Chip_Instr_Cast_int2double);
  if (!emit_engine_emit_exp(emit, dur->unit)) return FALSE;
  emit->append(new Chip_Instr_Times_double);
  return TRUE;
}

// ---------------------------------------------------------------------------
// exp++ | exp--.
t_CPBOOL emit_engine_emit_exp_postfix(Chip_Emitter* emit, a_Exp_Postfix_* postfix) {
  if (!emit_engine_emit_exp(emit, postfix->exp)) return FALSE;
  Chip_Type* t = postfix->exp->type;
  switch (postfix->op) {
    case ae_op_plusplus:
      if (!isa(t, &t_int)) {
        EM_error2(postfix->line_no, "(emit): internal error: unhandled type '%s' for post '++' operator",
                  dname(t));
        return FALSE;
      }
      emit->append(new Chip_Instr_PostInc_int);
      return TRUE;
    case ae_op_minusminus:
      if (!isa(t, &t_int)) {
        EM_error2(postfix->line_no, "(emit): internal error: unhandled type '%s' for post '--' operator",
                  dname(t));
        return FALSE;
      }
      emit->append(new Chip_Instr_PostDec_int);
      return TRUE;
    default:
      EM_error2(postfix->line_no, "(emit): internal error: unhandled postfix operator '%s'",
                op2str(postfix->op));
      return FALSE;
  }
}

// - exp | ++ exp | -- exp | ~ exp | ! exp | spork ~ call | new Type[...].
t_CPBOOL emit_engine_emit_exp_unary(Chip_Emitter* emit, a_Exp_Unary_* unary) {
  if (unary->op != ae_op_spork && unary->exp && !emit_engine_emit_exp(emit, unary->exp)) {
    return FALSE;
  }
  Chip_Type* t = unary->self->type;
  CHIP_CHECK(t != NULL);
  Chip_Type* operand = unary->exp ? unary->exp->type : t;

  switch (unary->op) {
    case ae_op_minus:
      if (isa(operand, &t_int)) {
        emit->append(new Chip_Instr_Negate_int);
      } else if (isa(operand, &t_float)) {
        emit->append(new Chip_Instr_Negate_double);
      } else {
        EM_error2(unary->line_no, "(emit): internal error: unhandled type '%s' for unary '-' operator",
                  dname(operand));
        return FALSE;
      }
      return TRUE;
    case ae_op_plusplus:
      if (!unary->exp || unary->exp->meta_kind != ae_meta_var) {
        EM_error2(unary->line_no, "(emit): target for '++' not mutable...");
        return FALSE;
      }
      if (!isa(operand, &t_int)) {
        EM_error2(unary->line_no, "(emit): internal error: unhandled type '%s' for pre '++'' operator",
                  dname(operand));
        return FALSE;
      }
      emit->append(new Chip_Instr_PreInc_int);
      return TRUE;
    case ae_op_minusminus:
      if (!unary->exp || unary->exp->meta_kind != ae_meta_var) {
        EM_error2(unary->line_no, "(emit): target for '--' not mutable...");
        return FALSE;
      }
      if (!isa(operand, &t_int)) {
        EM_error2(unary->line_no, "(emit): internal error: unhandled type '%s' for pre '--' operator",
                  dname(operand));
        return FALSE;
      }
      emit->append(new Chip_Instr_PreDec_int);
      return TRUE;
    case ae_op_tilda:
      if (!isa(operand, &t_int)) {
        EM_error2(unary->line_no, "(emit): internal error: unhandled type '%s' for '~' operator",
                  dname(operand));
        return FALSE;
      }
      emit->append(new Chip_Instr_Complement_int);
      return TRUE;
    case ae_op_exclamation:
      if (!isa(operand, &t_int)) {
        EM_error2(unary->line_no, "(emit): internal error: unhandled type '%s' for '!' operator",
                  dname(operand));
        return FALSE;
      }
      emit->append(new Chip_Instr_Not_int);
      return TRUE;
    case ae_op_spork:
      if (unary->exp && unary->exp->s_type == ae_exp_func_call) {
        return emit_engine_emit_spork(emit, &unary->exp->func_call);
      }
      EM_error2(unary->line_no, "(emit): internal error: sporking non-function call...");
      return FALSE;
    case ae_op_new:
      if (isobj(t)) {
        return emit_engine_instantiate_object(emit, t, unary->array,
                                              unary->type ? unary->type->ref : FALSE);
      }
      return TRUE;
    default:
      EM_error2(unary->line_no, "(emit): internal error: unhandled unary op '%s", op2str(unary->op));
      return FALSE;
  }
}

// cond ? a : b.
t_CPBOOL emit_engine_emit_exp_if(Chip_Emitter* emit, a_Exp_If_* exp_if) {
  // The test takes the condition off the stack: either branch starts where
  // the condition did.
  const t_CPUWORD live = emit->code->reg_live;
  emit->push_scope();
  if (!emit_engine_emit_exp(emit, exp_if->cond)) return FALSE;
  Chip_Instr_Branch_Op* branch = emit_zero_test(emit, exp_if->cond);
  if (!branch) return FALSE;
  emit->reg_at(live);
  if (!emit_engine_emit_exp(emit, exp_if->if_exp)) return FALSE;
  auto* skip = new Chip_Instr_Goto(0);
  emit->append(skip);
  branch->set(emit->next_index());
  emit->reg_at(live);
  if (!emit_engine_emit_exp(emit, exp_if->else_exp)) return FALSE;
  emit->pop_scope();
  skip->set(emit->next_index());
  return TRUE;
}

// ---------------------------------------------------------------------------
// func(args): the arguments (unless sporked), the function, the call.
t_CPBOOL emit_engine_emit_exp_func_call(Chip_Emitter* emit, a_Exp_Func_Call_* func_call,
                                        t_CPBOOL spork) {
  if (!spork && !emit_engine_emit_exp(emit, func_call->args)) {
    EM_error2(func_call->line_no, "(emit): internal error in emitting function call arguments...");
    return FALSE;
  }
  if (!emit_engine_emit_exp(emit, func_call->func)) {
    EM_error2(func_call->line_no, "(emit): internal error in evaluating function call...");
    return FALSE;
  }
  return emit_engine_emit_exp_func_call(emit, func_call->cp_func, func_call->ret_type,
                                        func_call->line_no, spork);
}

// The call proper: the function (and its object) and the arguments are on
// the register stack.
t_CPBOOL emit_engine_emit_exp_func_call(Chip_Emitter* emit, Chip_Func* func, Chip_Type* type,
                                        int line_no, t_CPBOOL spork) {
  CHIP_CHECK(func != NULL);
  // The callee is known here when the instruction just emitted pushes func
  // itself (a function named directly, or a class's static function): the
  // machine then calls its code without pushing it. A member function is
  // found through its object at run time; a sporked call finds its function
  // on the child's stack.
  Chip_Func* callee = nullptr;
  if (!spork && !emit->code->instructions.empty()) {
    Chip_Instr* last = emit->code->instructions.back();
    if (typeid(*last) == typeid(Chip_Instr_Reg_Push_Imm) &&
        static_cast<Chip_Instr_Reg_Push_Imm*>(last)->get() == ptr_imm(func)) {
      callee = func;
    } else if (typeid(*last) == typeid(Chip_Instr_Dot_Static_Func) &&
               static_cast<Chip_Instr_Dot_Static_Func*>(last)->m_func == func) {
      callee = func;
    }
  }
  emit->append(new Chip_Instr_Func_To_Code);
  auto* depth = new Chip_Instr_Reg_Push_Imm(emit->code->frame->next_offset);
  emit->code->depth_pushes.push_back(depth);
  emit->append(depth);
  if (is_native(func)) {
    const t_CPUWORD ret = type ? chip_slot_kind(type) : CHIP_SLOT_VOID;
    if (ret != CHIP_SLOT_VOID && ret != CHIP_SLOT_WORD && ret != CHIP_SLOT_FLOAT &&
        ret != CHIP_SLOT_COMPLEX) {
      EM_error2(line_no, "(emit): internal error: %i func call not handled",
                static_cast<int>(type->size));
      return FALSE;
    }
    const t_CPBOOL ret_obj = type && isobj(type);
    if (func->is_member) {
      // The object's table may hold a script class's override of the
      // native function, found only at run time: the instruction then
      // calls that compiled code, whose frame holds `this` and the object
      // arguments as any compiled member call's does.
      emit->append(new Chip_Instr_Func_Call_Member(ret, ret_obj, frame_obj_offsets(func)));
    } else {
      emit->append(new Chip_Instr_Func_Call_Static(ret, ret_obj));
    }
    return TRUE;
  }
  emit->append(new Chip_Instr_Func_Call(frame_obj_offsets(func), callee));
  return TRUE;
}

// spork ~ func(args): the operands in the current code, the call in a code
// of its own that the child shred runs.
t_CPBOOL emit_engine_emit_spork(Chip_Emitter* emit, a_Exp_Func_Call_* exp) {
  if (!emit_call_operands(emit, exp)) return FALSE;
  Chip_Func* func = exp->cp_func;
  CHIP_CHECK(func != NULL);

  emit->stack.push_back(emit->code);
  emit->code = new Chip_Code;
  emit->code->name = "spork~exp";
  emit->code->needs_this = func->is_member;

  auto* mem_push = new Chip_Instr_Mem_Push_Imm(0);
  emit->append(mem_push);
  t_CPBOOL ok = emit_engine_emit_exp_func_call(emit, func, exp->ret_type, exp->line_no, TRUE);
  Chip_VM_Code* code = nullptr;
  if (ok) {
    emit->append(new Chip_Instr_EOC);
    mem_push->set(emit->code->arg_bytes);
    // The pushing instruction below holds the code; the call expression
    // only records it.
    code = emit_to_code(emit->code, nullptr, emit->dump_code);
    // The child shred holds the context whose functions it runs.
    code->keeper = emit->env->context;
    exp->pass_slot = code;
  }
  delete emit->code;
  CHIP_CHECK(emit->stack.size() > 0);
  emit->code = emit->stack.back();
  emit->stack.pop_back();
  if (!ok) return FALSE;

  // The bytes the child takes from the parent's register stack, and which
  // of them are objects.
  t_CPUWORD arg_bytes = 0;
  for (a_Exp arg = exp->args; arg; arg = arg->next) {
    arg_bytes += chip_slot_width(chip_slot_kind(pushed_type(arg)));
  }
  emit->append(new Chip_Instr_Reg_Push_Held(code));
  emit->append(new Chip_Instr_Spork(arg_bytes, obj_arg_offsets(func, 0)));
  return TRUE;
}
