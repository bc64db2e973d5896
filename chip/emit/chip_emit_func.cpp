// Emission of function and class definitions.
//
// A definition is emitted into a code of its own while the code that
// contains it waits on the emitter's stack. Frames:
//   function code        [this (member functions)] args... locals...
//   class pre-constructor this locals...
// Each slot is a whole number of words (this: one word, arguments: their
// type's size), packed in declaration order; the code's arg_bytes is the
// byte total of `this` and the arguments, the part of the frame the caller
// fills.
//
// The VM codes made here outlive the emission: the function (or the class
// namespace) holds them with a reference, and they are records of the
// context being compiled, deleted with it. A class's static data block is
// such a record too (Chip_Static_Block below), so that it goes when the
// context goes, giving back the objects its variables still hold (none can
// be of the context's own classes: such an object would hold the context).
//
// A non-void function whose body runs off its end leaves a zero of its
// return type on the register stack, so that the caller always finds a value
// of the size it expects; a `return` jumps past that zero straight to the
// final Chip_Instr_Func_Return.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "chip/emit/chip_emit.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

namespace {

// The zero-filled static data of one class, owned by the context that
// compiled the class.
struct Chip_Static_Block;

// Every class's static data, for emit_engine_release_statics.
std::vector<Chip_Static_Block*>& static_blocks() {
  static std::vector<Chip_Static_Block*> blocks;
  return blocks;
}

struct Chip_Static_Block : Chip_VM_Object {
  explicit Chip_Static_Block(unsigned long size)
      : bytes(new (std::nothrow) unsigned char[size ? size : 1]()), size(size) {
    static_blocks().push_back(this);
  }
  ~Chip_Static_Block() override {
    std::vector<Chip_Static_Block*>& blocks = static_blocks();
    blocks.erase(std::remove(blocks.begin(), blocks.end(), this), blocks.end());
    std::vector<Chip_VM_Object*> held;
    take_objects(held);
    for (Chip_VM_Object* object : held) object->release();
    delete[] bytes;
  }

  // Moves the references its object variables hold into `out` (the slots
  // become null).
  void take_objects(std::vector<Chip_VM_Object*>& out) {
    for (unsigned long offset : obj_offsets) {
      if (!bytes || offset + sizeof(t_CPWORD) > size) continue;
      Chip_VM_Object* object = nullptr;
      std::memcpy(&object, bytes + offset, sizeof object);
      if (!object) continue;
      std::memset(bytes + offset, 0, sizeof object);
      out.push_back(object);
    }
  }

  unsigned char* bytes;
  unsigned long size;
  std::vector<unsigned long> obj_offsets;  // the object variables
};

}  // namespace

void emit_engine_release_statics() {
  // Every slot is emptied before anything is released: a release can free
  // an object whose class's file then goes, and its blocks with it.
  std::vector<Chip_VM_Object*> held;
  for (Chip_Static_Block* block : static_blocks()) block->take_objects(held);
  for (Chip_VM_Object* object : held) object->release();
}

namespace {

// Makes obj a record of the context being compiled: freed with the context,
// never by its last release.
void own_record(Chip_Emitter* emit, Chip_VM_Object* obj) {
  Chip_Context* context = emit->env->context;
  CHIP_CHECK(context != NULL);
  obj->registry = &context->new_funcs;
  context->new_funcs.push_back(obj);
}

// Suspends the current code and makes `code` current.
void enter_code(Chip_Emitter* emit, Chip_Code* code) {
  emit->stack.push_back(emit->code);
  emit->code = code;
}

// Destroys the current code and resumes the suspended one.
void leave_code(Chip_Emitter* emit) {
  CHIP_CHECK(emit->stack.size());
  delete emit->code;
  emit->code = emit->stack.back();
  emit->stack.pop_back();
}

// Pushes a zero of type's kind (nothing for void).
t_CPBOOL emit_zero_of(Chip_Emitter* emit, Chip_Type* type, int line_no) {
  switch (chip_slot_kind(type)) {
    case CHIP_SLOT_VOID:
      return TRUE;
    case CHIP_SLOT_WORD:
      emit->append(new Chip_Instr_Reg_Push_Imm(0));
      return TRUE;
    case CHIP_SLOT_FLOAT:
      emit->append(new Chip_Instr_Reg_Push_Imm2(0.0));
      return TRUE;
    case CHIP_SLOT_COMPLEX:
      emit->append(new Chip_Instr_Reg_Push_Imm2(0.0));
      emit->append(new Chip_Instr_Reg_Push_Imm2(0.0));
      return TRUE;
    default:
      EM_error2(line_no, "(emit): internal error: return type of size %i unhandled...",
                static_cast<int>(type->size));
      return FALSE;
  }
}

// The body of a function definition in the (already current) function code:
// `this`, the arguments, the statements, the fall-off zero and the return.
t_CPBOOL emit_func_body(Chip_Emitter* emit, a_Func_Def func_def, Chip_Func* func) {
  Chip_Code* code = emit->code;

  if (func->is_member) {
    code->arg_bytes += CHIP_WORD_SIZE;
    if (!code->frame->alloc_local(CHIP_WORD_SIZE, "this", TRUE)) {
      EM_error2(func_def->line_no, "(emit): internal error: cannot allocate local 'this'...");
      return FALSE;
    }
  }

  for (a_Arg_List arg = func_def->arg_list; arg; arg = arg->next) {
    Chip_Type* type = arg->type;
    CHIP_CHECK(type != NULL);
    code->arg_bytes += type->size;
    Chip_Local* local = code->frame->alloc_local(
        type->size, S_name(arg->var_decl->name), arg->type_decl ? arg->type_decl->ref : FALSE);
    if (!local) {
      EM_error2(func_def->line_no, "(emit): internal error: cannot allocate local '%s'...",
                S_name(arg->var_decl->name));
      return FALSE;
    }
    if (arg->var_decl->value) arg->var_decl->value->offset = local->offset;
  }

  // A body written as ';' is empty.
  if (func_def->code && !emit_engine_emit_stmt(emit, func_def->code, FALSE)) return FALSE;

  // Running off the end of a non-void function still returns a value.
  if (!emit_zero_of(emit, func_def->ret_type ? func_def->ret_type : &t_void, func_def->line_no)) {
    return FALSE;
  }

  const t_CPUINT end = emit->next_index();
  for (Chip_Instr_Goto* jump : code->pending_returns) {
    if (jump) jump->set(end);
  }
  code->pending_returns.clear();
  emit->append(new Chip_Instr_Func_Return());
  return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// func_def: `fun` type name ( args ) { body }
//
// Global functions also get a slot in the enclosing code's frame that holds
// the function. Member and static functions of a class are reached through
// the class (virtual table, or the type), so they get none.
t_CPBOOL emit_engine_emit_func_def(Chip_Emitter* emit, a_Func_Def func_def) {
  CHIP_CHECK(emit != NULL && emit->env != NULL && func_def != NULL);
  Chip_Env* env = emit->env;
  Chip_Func* func = func_def->cp_func;
  CHIP_CHECK(func != NULL);

  if (func->code) {
    // An imported function carries its native code: nothing to emit.
    if (func->code->native_func) return TRUE;
    EM_error2(func_def->line_no, "(emit): function '%s' already emitted...",
              S_name(func_def->name));
    return FALSE;
  }
  if (env->func) {
    EM_error2(func_def->line_no, "(emit): internal error: nested function definition...");
    return FALSE;
  }

  if (!env->class_def) {
    Chip_Value* value = func->value_ref;
    CHIP_CHECK(value != NULL);
    Chip_Local* local = emit->code->frame->alloc_local(
        static_cast<t_CPUINT>(value->type->size), value->name, TRUE);
    if (!local) {
      EM_error2(func_def->line_no, "(emit): internal error: cannot allocate local '%s'...",
                value->name.c_str());
      return FALSE;
    }
    value->offset = local->offset;
    emit->append(new Chip_Instr_Mem_Set_Imm(local->offset, reinterpret_cast<t_CPUWORD>(func)));
  }

  Chip_Func* outer_func = emit->func;
  env->func = func;
  emit->func = func;

  Chip_Code* code = new Chip_Code();
  code->name = env->class_def ? env->class_def->name + "." : std::string();
  code->name += func->name + "( ... )";
  code->needs_this = func->is_member;
  enter_code(emit, code);

  t_CPBOOL ok = emit_func_body(emit, func_def, func);
  if (ok) {
    Chip_VM_Code* vm_code = emit_to_code(code, NULL, emit->dump_code);
    own_record(emit, vm_code);
    vm_code->add_ref();
    func->code = vm_code;
  }

  env->func = nullptr;
  emit->func = outer_func;
  leave_code(emit);
  return ok;
}

// ---------------------------------------------------------------------------
// class_def: `class` name [extends parent] { body }
//
// The body is the class's pre-constructor: it runs on every new instance
// (after the parent's) with the instance as `this`. Function definitions in
// the body become codes of their own; nested classes are emitted while this
// class is current.
t_CPBOOL emit_engine_emit_class_def(Chip_Emitter* emit, a_Class_Def class_def) {
  CHIP_CHECK(emit != NULL && emit->env != NULL && class_def != NULL);
  Chip_Env* env = emit->env;
  Chip_Type* type = class_def->type;
  CHIP_CHECK(type != NULL && type->info != NULL);
  Chip_Namespace* nspc = type->info;

  if (nspc->pre_ctor && nspc->pre_ctor->num_instr > 0) {
    EM_error2(class_def->line_no, "(emit): class '%s' already emitted...", type->name.c_str());
    return FALSE;
  }
  // The checker leaves no code for a class written in source: the
  // pre-constructor is made here.
  if (!nspc->pre_ctor) {
    Chip_VM_Code* pre_ctor = new Chip_VM_Code();
    own_record(emit, pre_ctor);
    nspc->pre_ctor = pre_ctor;
  }

  env->class_stack.push_back(env->class_def);
  env->class_def = type;

  Chip_Code* code = new Chip_Code();
  code->name = "class " + type->name;
  code->needs_this = TRUE;
  code->arg_bytes = CHIP_WORD_SIZE;
  enter_code(emit, code);

  t_CPBOOL ok = TRUE;
  if (!code->frame->alloc_local(CHIP_WORD_SIZE, "this", TRUE)) {
    EM_error2(class_def->line_no, "(emit): internal error: cannot allocate local 'this'...");
    ok = FALSE;
  }

  for (a_Class_Body body = class_def->body; body && ok; body = body->next) {
    a_Section section = body->section;
    switch (section->s_type) {
      case ae_section_stmt:
        ok = emit_engine_emit_stmt_list(emit, section->stmt_list);
        break;
      case ae_section_func:
        ok = emit_engine_emit_func_def(emit, section->func_def);
        break;
      case ae_section_class:
        ok = emit_engine_emit_class_def(emit, section->class_def);
        break;
      default:
        EM_error2(section->line_no,
                  "(emit): internal error: unrecognized section in class definition...");
        ok = FALSE;
        break;
    }
  }

  if (ok) {
    emit->append(new Chip_Instr_Func_Return());
    emit_to_code(code, nspc->pre_ctor, emit->dump_code);
    nspc->pre_ctor->add_ref();

    Chip_Static_Block* block = new Chip_Static_Block(nspc->class_data_size);
    if (!block->bytes) {
      delete block;
      std::fprintf(stderr, "[chip](emitter): OutOfMemory: while allocating static data '%s'\n",
                   type->name.c_str());
      ok = FALSE;
    } else {
      own_record(emit, block);
      block->add_ref();
      block->obj_offsets = nspc->obj_statics;
      nspc->class_data = block->bytes;
    }
  }
  if (!ok && nspc->pre_ctor) {
    if (nspc->pre_ctor->m_ref_count > 0) nspc->pre_ctor->release();
    nspc->pre_ctor = nullptr;
  }

  env->class_def = env->class_stack.back();
  env->class_stack.pop_back();
  leave_code(emit);
  return ok;
}
