// The emitter core: the emitter and its code, programs, the conversion into
// VM code with its dump, and the statements. See chip_emit.h.
//
// Stack words: an int or a reference takes one word on the register stack,
// a float, time or dur one double (also 8 bytes), a complex or polar two
// doubles; the pops at the end of an expression statement and after a
// for-loop's step count in those words, item by item.
#include "chip/emit/chip_emit.h"

#include <string>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_math.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

namespace {

// The type an expression leaves on the register stack: its conversion's
// target when the checker asked for one.
Chip_Type* emitted_type(a_Exp exp) { return exp->cast_to ? exp->cast_to : exp->type; }

// Register-stack words one item of an expression list leaves: a
// declaration one address per variable, an address one word, otherwise by
// the kind of its type (void 0, word or double 1, two doubles 2). -1 for a
// kind no instruction can pop.
long item_words(a_Exp exp) {
  if (exp->s_type == ae_exp_decl) return exp->decl.num_var_decls;
  if (exp->emit_var) return 1;
  Chip_Type* type = emitted_type(exp);
  if (!type) return 0;
  switch (chip_slot_kind(type)) {
    case CHIP_SLOT_VOID:
      return 0;
    case CHIP_SLOT_WORD:
    case CHIP_SLOT_FLOAT:
      return 1;
    case CHIP_SLOT_COMPLEX:
      return 2;
    default:
      return -1;
  }
}

// The byte size reported when an item cannot be popped.
int item_size(a_Exp exp) {
  Chip_Type* type = emitted_type(exp);
  return type ? static_cast<int>(type->size) : 0;
}

// When a condition's branch jumps.
enum Test_Sense { BRANCH_IF_ZERO, BRANCH_IF_NON_ZERO };

// The test of a condition whose value is on the register stack: a zero of
// its type, then the branch (target open) that compares the two. Null, with
// the statement's message, for a type that cannot be tested.
Chip_Instr_Branch_Op* emit_test(Chip_Emitter* emit, Chip_Type* type, Test_Sense sense,
                                const char* message, int line_no) {
  Chip_Instr_Branch_Op* branch = NULL;
  switch (type ? type->id : te_void) {
    case te_int:
      emit->append(new Chip_Instr_Reg_Push_Imm(0));
      if (sense == BRANCH_IF_ZERO)
        branch = new Chip_Instr_Branch_Eq_int(0);
      else
        branch = new Chip_Instr_Branch_Neq_int(0);
      break;
    case te_float:
    case te_time:
    case te_dur:
      emit->append(new Chip_Instr_Reg_Push_Imm2(0.0));
      if (sense == BRANCH_IF_ZERO)
        branch = new Chip_Instr_Branch_Eq_double(0);
      else
        branch = new Chip_Instr_Branch_Neq_double(0);
      break;
    default:
      EM_error2(line_no, message, type ? type->display_name().c_str() : "void");
      return NULL;
  }
  emit->append(branch);
  return branch;
}

// Opens a loop: its scope and the markers that separate its breaks and
// continues from those of the loops around it.
void open_loop(Chip_Emitter* emit) {
  emit->push_scope();
  emit->code->pending_continues.push_back(NULL);
  emit->code->pending_breaks.push_back(NULL);
}

// Patches the loop's continues to cont and its breaks to the next index, then
// closes its scope and drops its markers.
void close_loop(Chip_Emitter* emit, t_CPUINT cont) {
  std::vector<Chip_Instr_Goto*>& continues = emit->code->pending_continues;
  while (!continues.empty() && continues.back() != NULL) {
    continues.back()->set(cont);
    continues.pop_back();
  }
  const t_CPUINT after = emit->next_index();
  std::vector<Chip_Instr_Goto*>& breaks = emit->code->pending_breaks;
  while (!breaks.empty() && breaks.back() != NULL) {
    breaks.back()->set(after);
    breaks.pop_back();
  }
  emit->pop_scope();
  if (!continues.empty()) continues.pop_back();
  if (!breaks.empty()) breaks.pop_back();
}

// Pops the values an expression list left, one pop per item by the item's
// own size; a debug print leaves its printed values, popped in its place.
t_CPBOOL emit_pops(Chip_Emitter* emit, a_Exp items) {
  for (a_Exp item = items; item; item = item->next) {
    if (item->s_type == ae_exp_primary && item->primary.s_type == ae_primary_hack) {
      if (!emit_pops(emit, item->primary.exp)) return FALSE;
      continue;
    }
    const long words = item_words(item);
    if (words < 0) {
      EM_error2(item->line_no, "(emit): internal error: %i byte stack item unhandled...",
                item_size(item));
      return FALSE;
    }
    if (item->s_type == ae_exp_decl) {
      if (words > 0) emit->append(new Chip_Instr_Reg_Pop_Word3(words));
    } else if (words == 2) {
      emit->append(new Chip_Instr_Reg_Pop_Word3(2));
    } else if (words == 1) {
      if (!item->emit_var && chip_slot_kind(emitted_type(item)) == CHIP_SLOT_FLOAT)
        emit->append(new Chip_Instr_Reg_Pop_Word2);
      else
        emit->append(new Chip_Instr_Reg_Pop_Word);
    }
  }
  return TRUE;
}

// exp_stmt: exp_list ';' — the values are popped afterwards when asked.
// Whether an instruction emitted since index start can leave temporaries.
bool makes_temps_since(Chip_Emitter* emit, t_CPUINT start) {
  const std::vector<Chip_Instr*>& code = emit->code->instructions;
  for (t_CPUINT i = start; i < code.size(); i++) {
    if (code[i]->makes_temps()) return true;
  }
  return false;
}

// Releases the temporaries here when `made` (a condition or step that can
// make objects: without the release each pass of a loop would add its own
// until the enclosing statement ends).
void release_temps_if(Chip_Emitter* emit, bool made) {
  if (made) emit->append(new Chip_Instr_Release_Temps);
}

// An expression statement that may leave temporaries ends by releasing them.
t_CPBOOL emit_stmt_exp(Chip_Emitter* emit, a_Stmt stmt, t_CPBOOL pop) {
  const t_CPUINT start = emit->next_index();
  if (!emit_engine_emit_exp(emit, stmt->stmt_exp)) return FALSE;
  if (!pop) return TRUE;
  if (!emit_pops(emit, stmt->stmt_exp)) return FALSE;
  release_temps_if(emit, makes_temps_since(emit, start));
  return TRUE;
}

// A loop whose condition is tested before the body (while, until) or after
// it (do/while, do/until). `exit` is the sense that leaves a loop tested
// first; a do-loop branches back on the opposite sense. `kind` names the
// loop in the internal-error messages ("while", "until").
t_CPBOOL emit_cond_loop(Chip_Emitter* emit, t_CPBOOL is_do, a_Exp cond, a_Stmt body,
                        Test_Sense exit, const char* kind) {
  open_loop(emit);
  const t_CPUINT start = emit->next_index();
  std::string message = std::string("(emit): internal error: unhandled type '%s' in ") +
                        (is_do ? "do/" : "") + kind + " conditional";
  t_CPBOOL ok = TRUE;
  // Where a `continue` goes: the condition. A do-loop's test follows its
  // body, so a continue there must still test it (jumping to the body's
  // start would loop on without ever testing, and never end).
  t_CPUINT cont = start;
  if (!is_do) {
    Chip_Instr_Branch_Op* branch = NULL;
    ok = emit_engine_emit_exp(emit, cond);
    const bool made = ok && makes_temps_since(emit, start);
    if (ok) {
      branch = emit_test(emit, emitted_type(cond), exit, message.c_str(), cond->line_no);
      ok = branch != NULL;
    }
    release_temps_if(emit, ok && made);
    if (ok) ok = emit_engine_emit_stmt(emit, body, TRUE);
    if (ok) {
      emit->append(new Chip_Instr_Goto(start));
      branch->set(emit->next_index());
      release_temps_if(emit, made);
    }
  } else {
    ok = emit_engine_emit_stmt(emit, body, TRUE);
    cont = emit->next_index();
    if (ok) ok = emit_engine_emit_exp(emit, cond);
    if (ok && makes_temps_since(emit, cont)) {
      // The condition's temporaries go on both ways out of the test.
      Chip_Instr_Branch_Op* branch =
          emit_test(emit, emitted_type(cond), exit, message.c_str(), cond->line_no);
      ok = branch != NULL;
      if (ok) {
        release_temps_if(emit, true);
        emit->append(new Chip_Instr_Goto(start));
        branch->set(emit->next_index());
        release_temps_if(emit, true);
      }
    } else if (ok) {
      // Back to the start while the loop goes on.
      Test_Sense again = exit == BRANCH_IF_ZERO ? BRANCH_IF_NON_ZERO : BRANCH_IF_ZERO;
      Chip_Instr_Branch_Op* branch =
          emit_test(emit, emitted_type(cond), again, message.c_str(), cond->line_no);
      ok = branch != NULL;
      if (ok) branch->set(start);
    }
  }
  close_loop(emit, cont);
  return ok;
}

// while_stmt: WHILE '(' exp ')' stmt | DO stmt WHILE '(' exp ')' ';'
t_CPBOOL emit_stmt_while(Chip_Emitter* emit, a_Stmt_While_* stmt) {
  return emit_cond_loop(emit, stmt->is_do, stmt->cond, stmt->body, BRANCH_IF_ZERO, "while");
}

// until_stmt: UNTIL '(' exp ')' stmt | DO stmt UNTIL '(' exp ')' ';'
t_CPBOOL emit_stmt_until(Chip_Emitter* emit, a_Stmt_Until_* stmt) {
  return emit_cond_loop(emit, stmt->is_do, stmt->cond, stmt->body, BRANCH_IF_NON_ZERO, "until");
}

// for_stmt: FOR '(' stmt stmt exp? ')' stmt — the initial statement inside
// the loop's scope but before its start, the step after the body.
t_CPBOOL emit_stmt_for(Chip_Emitter* emit, a_Stmt_For_* stmt) {
  open_loop(emit);
  t_CPBOOL ok = !stmt->c1 || emit_engine_emit_stmt(emit, stmt->c1, TRUE);
  const t_CPUINT start = emit->next_index();
  t_CPUINT cont = start;
  Chip_Instr_Branch_Op* branch = NULL;
  bool made = false;
  if (ok && stmt->c2) {
    ok = emit_engine_emit_stmt(emit, stmt->c2, FALSE);
    made = ok && makes_temps_since(emit, start);
    a_Exp cond = stmt->c2->s_type == ae_stmt_exp ? stmt->c2->stmt_exp : NULL;
    if (ok && cond) {
      branch = emit_test(emit, emitted_type(cond), BRANCH_IF_ZERO,
                         "(emit): internal error: unhandled type '%s' in for conditional",
                         cond->line_no);
      ok = branch != NULL;
    }
    release_temps_if(emit, ok && made);
  }
  if (ok) ok = emit_engine_emit_stmt(emit, stmt->body, TRUE);
  if (ok) {
    cont = emit->next_index();
    ok = emit_engine_emit_exp(emit, stmt->c3);
  }
  if (ok && stmt->c3) {
    long words = 0;
    for (a_Exp item = stmt->c3; item; item = item->next) {
      const long n = item_words(item);
      if (n < 0) {
        EM_error2(item->line_no, "(emit): internal error: non-void type size %i unhandled...",
                  item_size(item));
        ok = FALSE;
        break;
      }
      words += n;
    }
    if (ok && words > 0) emit->append(new Chip_Instr_Reg_Pop_Word3(words));
  }
  if (ok) release_temps_if(emit, makes_temps_since(emit, cont));
  if (ok) {
    emit->append(new Chip_Instr_Goto(start));
    if (branch) branch->set(emit->next_index());
    release_temps_if(emit, made);
  }
  close_loop(emit, cont);
  return ok;
}

// loop_stmt: REPEAT '(' exp ')' stmt — the counter is a hidden local of the
// frame, so every shred and every call level counts on its own.
t_CPBOOL emit_stmt_loop(Chip_Emitter* emit, a_Stmt_Loop_* stmt) {
  emit->push_scope();
  Chip_Local* counter = emit->code->frame->alloc_local(CHIP_WORD_SIZE, "@repeat", FALSE);
  t_CPBOOL ok = emit_engine_emit_exp(emit, stmt->cond);
  emit->code->pending_continues.push_back(NULL);
  emit->code->pending_breaks.push_back(NULL);
  t_CPUINT start = emit->next_index();
  if (ok) {
    // The count, converted (a float count arrives as an int).
    Chip_Type* type = emitted_type(stmt->cond);
    if (!type || type->id != te_int) {
      EM_error2(stmt->cond->line_no,
                "(emit): internal error: unhandled type '%s' in while conditional",
                type ? type->display_name().c_str() : "void");
      ok = FALSE;
    }
  }
  if (ok) {
    emit->append(new Chip_Instr_Init_Loop_Counter(counter->offset));
    start = emit->next_index();
    emit->append(new Chip_Instr_Reg_Push_Mem(counter->offset, 0));
    emit->append(new Chip_Instr_Reg_Push_Imm(0));
    Chip_Instr_Branch_Op* branch = new Chip_Instr_Branch_Eq_int(0);
    emit->append(branch);
    // counter--, its value dropped.
    emit->append(new Chip_Instr_Reg_Push_Mem_Addr(counter->offset, 0));
    emit->append(new Chip_Instr_PreDec_int);
    emit->append(new Chip_Instr_Reg_Pop_Word);
    ok = emit_engine_emit_stmt(emit, stmt->body, TRUE);
    if (ok) {
      emit->append(new Chip_Instr_Goto(start));
      branch->set(emit->next_index());
    }
  }
  close_loop(emit, start);
  return ok;
}

// if_stmt: IF '(' exp ')' stmt [ELSE stmt]
t_CPBOOL emit_stmt_if(Chip_Emitter* emit, a_Stmt_If_* stmt) {
  emit->push_scope();
  const t_CPUINT start = emit->next_index();
  t_CPBOOL ok = emit_engine_emit_exp(emit, stmt->cond);
  const bool made = ok && makes_temps_since(emit, start);
  Chip_Instr_Branch_Op* branch = NULL;
  if (ok) {
    branch = emit_test(emit, emitted_type(stmt->cond), BRANCH_IF_ZERO,
                       "(emit): internal error: unhandled type '%s' in if condition",
                       stmt->cond->line_no);
    ok = branch != NULL;
  }
  // The condition's temporaries go on both branches.
  release_temps_if(emit, ok && made);
  if (ok) ok = emit_engine_emit_stmt(emit, stmt->if_body, TRUE);
  Chip_Instr_Goto* skip = NULL;
  if (ok) {
    skip = new Chip_Instr_Goto(0);
    emit->append(skip);
    branch->set(emit->next_index());
    release_temps_if(emit, made);
    if (stmt->else_body) ok = emit_engine_emit_stmt(emit, stmt->else_body, TRUE);
  }
  emit->pop_scope();
  if (ok) skip->set(emit->next_index());
  return ok;
}

// A forward goto whose target the enclosing construct patches.
void emit_pending_goto(Chip_Emitter* emit, std::vector<Chip_Instr_Goto*>& pending) {
  Chip_Instr_Goto* jump = new Chip_Instr_Goto(0);
  emit->append(jump);
  pending.push_back(jump);
}

}  // namespace

// ---------------------------------------------------------------------------
// Code, emitter

Chip_Code::Chip_Code()
    : arg_bytes(0),
      reg_live(0),
      reg_need(CHIP_EMIT_REG_MARGIN),
      needs_this(FALSE),
      frame(new Chip_Frame) {}

Chip_Code::~Chip_Code() { delete frame; }

void Chip_Code::discard_instructions() {
  for (Chip_Instr* instr : instructions) delete instr;
  instructions.clear();
  pending_breaks.clear();
  pending_continues.clear();
  pending_returns.clear();
}

Chip_Emitter::Chip_Emitter()
    : env(NULL), code(NULL), context(NULL), nspc(NULL), func(NULL), dump_code(FALSE) {}

Chip_Emitter::~Chip_Emitter() {
  for (Chip_Local* local : popped_locals) delete local;
}

void Chip_Emitter::append(Chip_Instr* instr) {
  CHIP_CHECK(code != NULL);
  code->instructions.push_back(instr);
}

t_CPUINT Chip_Emitter::next_index() {
  CHIP_CHECK(code != NULL);
  return static_cast<t_CPUINT>(code->instructions.size());
}

void Chip_Emitter::push_scope() {
  CHIP_CHECK(code != NULL);
  code->frame->push_scope();
}

void Chip_Emitter::pop_scope() {
  CHIP_CHECK(code != NULL);
  for (Chip_Local* local : popped_locals) delete local;
  popped_locals.clear();
  code->frame->pop_scope(popped_locals);
}

void Chip_Emitter::reg_at(t_CPUWORD live) {
  CHIP_CHECK(code != NULL);
  code->reg_live = live;
  if (live + CHIP_EMIT_REG_MARGIN > code->reg_need) code->reg_need = live + CHIP_EMIT_REG_MARGIN;
}

t_CPBOOL Chip_Emitter::find_dur(const std::string& name, t_CPDUR* out) {
  return find_dur(insert_symbol(name.c_str()), out);
}

t_CPBOOL Chip_Emitter::find_dur(S_Symbol name, t_CPDUR* out) {
  CHIP_CHECK(env != NULL);
  CHIP_CHECK(out != NULL);
  *out = 0;
  Chip_Value* value = env->global()->lookup_value(name);
  if (!value || !value->type || !equals(value->type, &t_dur) || !value->addr) return FALSE;
  *out = *static_cast<t_CPDUR*>(value->addr);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Engine

Chip_Emitter* emit_engine_init(Chip_Env* env) {
  EM_log(CP_LOG_SEVERE, "initializing emitter...");
  Chip_Emitter* emit = new Chip_Emitter;
  emit->env = env;
  return emit;
}

t_CPBOOL emit_engine_shutdown(Chip_Emitter*& emit) {
  if (!emit) return FALSE;
  EM_log(CP_LOG_SEVERE, "shutting down emitter...");
  emit_engine_release_statics();
  // A holder may never have taken a reference.
  if (emit->m_ref_count > 0)
    emit->release();
  else
    delete emit;
  emit = NULL;
  return TRUE;
}

// program: section+ — the file's top level, its functions and classes.
Chip_VM_Code* emit_engine_emit_prog(Chip_Emitter* emit, a_Program prog, te_HowMuch how_much) {
  CHIP_CHECK(emit->code == NULL);
  CHIP_CHECK(emit->stack.size() == 0);
  CHIP_CHECK(emit->env->context != NULL);
  CHIP_CHECK(emit->env->context->nspc->pre_ctor == NULL);

  EM_log(CP_LOG_FINER, "(pass 4) emitting VM code '%s'...",
         emit->env->context->filename.c_str());
  EM_pushlog();
  EM_log(CP_LOG_FINER, "target: %s", howmuch2str(how_much));

  emit->code = new Chip_Code;
  emit->context = emit->env->context;
  emit->nspc = emit->context->nspc;
  emit->func = NULL;
  emit->stack.clear();
  emit->code->needs_this = TRUE;

  t_CPBOOL ok = TRUE;
  for (a_Program section = prog; ok && section; section = section->next) {
    a_Section s = section->section;
    switch (s->s_type) {
      case ae_section_stmt:
        if (how_much != te_do_classes_only) ok = emit_engine_emit_stmt_list(emit, s->stmt_list);
        break;
      case ae_section_func:
        if (how_much != te_do_classes_only) ok = emit_engine_emit_func_def(emit, s->func_def);
        break;
      case ae_section_class:
        if (how_much != te_do_no_classes) ok = emit_engine_emit_class_def(emit, s->class_def);
        break;
      default:
        EM_error2(0, "internal compiler error: unrecognized program section...");
        ok = FALSE;
        break;
    }
  }

  if (ok) {
    emit->append(new Chip_Instr_EOC);
    CHIP_CHECK(emit->context->nspc->pre_ctor == NULL);
    // The file's code is a record of its context, like every code the
    // compilation made; a shred started from it holds the context.
    Chip_VM_Code* vm_code =
        emit_to_code(emit->code, emit->context->new_Chip_VM_Code(), emit->dump_code);
    vm_code->keeper = emit->context;
    emit->context->nspc->pre_ctor = vm_code;
    vm_code->add_ref();
  } else {
    // Nothing will run these: free them rather than leak them.
    emit->code->discard_instructions();
  }

  Chip_VM_Code* result = emit->context->nspc->pre_ctor;
  delete emit->code;
  emit->code = NULL;
  EM_poplog();
  return result;
}

Chip_VM_Code* emit_to_code(Chip_Code* code, Chip_VM_Code* target, t_CPBOOL dump) {
  EM_log(CP_LOG_FINER, "emitting code: %d VM instructions...",
         static_cast<int>(code->instructions.size()));
  Chip_VM_Code* vm_code = target ? target : new Chip_VM_Code;
  CHIP_CHECK(vm_code->num_instr == 0);

  vm_code->num_instr = static_cast<t_CPUINT>(code->instructions.size());
  vm_code->instr = new Chip_Instr*[vm_code->num_instr];
  for (t_CPUINT i = 0; i < vm_code->num_instr; i++) vm_code->instr[i] = code->instructions[i];
  vm_code->stack_depth = code->arg_bytes;
  vm_code->reg_depth = code->reg_need;
  vm_code->need_this = code->needs_this;
  vm_code->name = code->name;
  vm_code->obj_locals = code->obj_locals;
  const t_CPUWORD depth = code->frame->next_offset;
  vm_code->frame_depth = depth;
  for (Chip_Instr_Unary_Op* push : code->depth_pushes) push->set(depth);
  for (Chip_Instr_Pre_Constructor* ctor : code->depth_ctors) ctor->set_stack_offset(depth);

  if (dump) {
    EM_error2(0, "dumping %s:", code->name.c_str());
    EM_error2(0, "-------");
    for (t_CPUINT i = 0; i < vm_code->num_instr; i++) {
      Chip_Instr* instr = vm_code->instr[i];
      EM_error2(0, "[%i] %s( %s )", static_cast<int>(i), instr->name(), instr->params());
    }
    EM_error2(0, "-------\n");
  }
  return vm_code;
}

// ---------------------------------------------------------------------------
// Statements

t_CPBOOL emit_engine_emit_stmt_list(Chip_Emitter* emit, a_Stmt_List list) {
  for (; list; list = list->next) {
    if (!emit_engine_emit_stmt(emit, list->stmt, TRUE)) return FALSE;
  }
  return TRUE;
}

namespace {

t_CPBOOL emit_stmt_kind(Chip_Emitter* emit, a_Stmt stmt, t_CPBOOL pop);

}  // namespace

// stmt: one statement of any kind.
t_CPBOOL emit_engine_emit_stmt(Chip_Emitter* emit, a_Stmt stmt, t_CPBOOL pop) {
  if (!stmt) return TRUE;
  // Every statement starts with nothing of its own on the register stack,
  // and what follows it (a loop's step or condition) starts afresh too.
  emit->reg_at(0);
  const t_CPBOOL ok = emit_stmt_kind(emit, stmt, pop);
  if (emit->code) emit->code->reg_live = 0;
  return ok;
}

namespace {

t_CPBOOL emit_stmt_kind(Chip_Emitter* emit, a_Stmt stmt, t_CPBOOL pop) {
  switch (stmt->s_type) {
    case ae_stmt_exp:
      return emit_stmt_exp(emit, stmt, pop);
    case ae_stmt_while:
      return emit_stmt_while(emit, &stmt->stmt_while);
    case ae_stmt_until:
      return emit_stmt_until(emit, &stmt->stmt_until);
    case ae_stmt_for:
      return emit_stmt_for(emit, &stmt->stmt_for);
    case ae_stmt_loop:
      return emit_stmt_loop(emit, &stmt->stmt_loop);
    case ae_stmt_if:
      return emit_stmt_if(emit, &stmt->stmt_if);
    case ae_stmt_code:
      // code_segment: '{' stmt_list? '}' — no scope of its own.
      return emit_engine_emit_stmt_list(emit, stmt->stmt_code.stmt_list);
    case ae_stmt_break:
      emit_pending_goto(emit, emit->code->pending_breaks);
      return TRUE;
    case ae_stmt_continue:
      emit_pending_goto(emit, emit->code->pending_continues);
      return TRUE;
    case ae_stmt_return:
      // return_stmt: RETURN exp? ';' — the function's end patches the jump.
      if (stmt->stmt_return.val && !emit_engine_emit_exp(emit, stmt->stmt_return.val))
        return FALSE;
      emit_pending_goto(emit, emit->code->pending_returns);
      return TRUE;
    default:
      // switch, case and labels: the checker refuses them first.
      return FALSE;
  }
}

}  // namespace
