// The emitter: the last compiler pass, from a checked syntax tree to code.
//
// After the scan passes and the type checker have annotated a program with
// types, values and functions, the emitter walks the tree once and appends
// instructions to the code under construction (Chip_Code). A finished code is
// copied into a Chip_VM_Code by emit_to_code; the instructions are shared,
// not cloned, so after a successful emission they belong to the VM code.
//
// Chip_Emitter holds the state of one walk: the environment, the current
// code, the codes suspended while a function, class or spork body is emitted
// (`stack`, innermost last), and the locals released by the last scope pop.
// Each code owns a frame (chip_frame.h) that hands out byte offsets of
// locals on a shred's memory stack, and three lists of forward gotos whose
// targets are still open: breaks and continues (patched by the enclosing
// loop; null entries separate the gotos of nested loops) and returns
// (patched by the function definition).
//
// Every emit routine returns a truth value; the first failure reports itself
// through EM_error2 at the node's line and travels back to
// emit_engine_emit_prog, which discards the partial code (the instructions
// appended before the failure are not freed).
//
// The routines are split over several files: statements and programs
// (chip_emit.cpp), expressions (chip_emit_exp.cpp), operators and casts
// (chip_emit_op.cpp), function and class definitions (chip_emit_func.cpp).
#ifndef CHIP_CHIP_EMIT_H
#define CHIP_CHIP_EMIT_H

#include <string>
#include <vector>

#include "chip/emit/chip_frame.h"
#include "chip/front/chip_absyn.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"

class Chip_Instr;
class Chip_Instr_Goto;
struct Chip_VM_Code;

// ---------------------------------------------------------------------------
// Code under construction.
class Chip_Instr_Pre_Constructor;
class Chip_Instr_Unary_Op;

// Register-stack depth. Each code records an upper bound of the bytes its
// own instructions push on the register stack above the depth at its entry
// (reg_need), which the machine checks once when the code is entered (a call,
// a shred's start) instead of on every push. The bound follows the values
// that wait on the stack while an expression is evaluated: reg_live is the
// depth, in bytes, at which the expression being emitted starts (0 at every
// statement), each item of an expression list adds the bytes it leaves, and
// wherever values can pile up (after each item of a list, before each
// variable of a declaration) the depth plus CHIP_EMIT_REG_MARGIN counts
// towards reg_need. The margin covers what any one construct pushes on top
// of the values of its operands (the call words, an object under
// construction with its pre-constructor call, the array-building words).
enum { CHIP_EMIT_REG_MARGIN = 128 };

struct Chip_Code {
  // Everything zeroed; a new frame with an empty name.
  Chip_Code();
  // Destroys the frame (and its locals) and the vectors, not the instructions.
  ~Chip_Code();
  Chip_Code(const Chip_Code&) = delete;
  Chip_Code& operator=(const Chip_Code&) = delete;

  // Deletes the instructions appended so far and clears the list: for a code
  // whose emission failed (a converted code shares them with its VM code
  // and must never be discarded).
  void discard_instructions();

  std::string name;        // the VM code's name and the title of its dump
  t_CPUINT arg_bytes;      // bytes of `this` and the arguments (functions)
  t_CPUWORD reg_live;      // register bytes below the expression being emitted
  t_CPUWORD reg_need;      // the bound of the register bytes the code pushes
  t_CPBOOL needs_this;     // program code, member functions, class bodies
  Chip_Frame* frame;       // locals, owned
  std::vector<t_CPUWORD> obj_locals;  // offsets of the locals holding objects
  // Calls made from this code take the frame's whole depth as their local
  // depth, so a callee's frame never lies over a local declared later in
  // the code; the depth is known once the code ends, and patched in then.
  std::vector<Chip_Instr_Unary_Op*> depth_pushes;
  std::vector<Chip_Instr_Pre_Constructor*> depth_ctors;
  std::vector<Chip_Instr*> instructions;  // index = jump address
  std::vector<Chip_Instr_Goto*> pending_breaks;     // null: loop marker
  std::vector<Chip_Instr_Goto*> pending_continues;  // null: loop marker
  std::vector<Chip_Instr_Goto*> pending_returns;
};

// ---------------------------------------------------------------------------
// The emitter's state.
struct Chip_Emitter : Chip_VM_Object {
  Chip_Emitter();
  // Frees the two vectors only: no code, frame or instruction.
  ~Chip_Emitter() override;

  // Appends to the current code's instructions.
  void append(Chip_Instr* instr);
  // The index the next appended instruction will get.
  t_CPUINT next_index();
  // Opens a scope in the current code's frame.
  void push_scope();
  // Clears popped_locals, then pops the frame's innermost scope into it.
  void pop_scope();
  // A global value `name` of type dur: its constant into *out, TRUE;
  // otherwise *out = 0, FALSE.
  t_CPBOOL find_dur(const std::string& name, t_CPDUR* out);
  t_CPBOOL find_dur(S_Symbol name, t_CPDUR* out);
  // The register-stack bound (see above): the current code's reg_live
  // becomes `live`, and its reg_need covers it plus the margin.
  void reg_at(t_CPUWORD live);

  Chip_Env* env;                    // the environment it was made for
  Chip_Code* code;                  // the code being filled, or null
  Chip_Context* context;            // the context being emitted
  Chip_Namespace* nspc;             // the context's namespace
  Chip_Func* func;                  // null when a program emission starts
  std::vector<Chip_Code*> stack;    // suspended codes, innermost last
  std::vector<Chip_Local*> popped_locals;  // released by the last pop_scope (owned)
  t_CPBOOL dump_code;               // emit_to_code prints each code
};

// ---------------------------------------------------------------------------
// Engine, programs, conversion and statements (chip_emit.cpp).

// Logs "initializing emitter..." and makes an empty emitter for env.
Chip_Emitter* emit_engine_init(Chip_Env* env);
// Releases the emitter (deleted by its last holder) and clears the pointer.
t_CPBOOL emit_engine_shutdown(Chip_Emitter*& emit);
// Gives back the objects that classes' static variables hold (their slots
// become null). Called when the emitter shuts down, before the type
// environment: the objects' types must still exist when they go.
void emit_engine_release_statics();
// Emits a whole program into a new VM code of the current context (one of
// its records, whose keeper is the context), stored (referenced) as the
// pre_ctor of the context's namespace; null on failure.
Chip_VM_Code* emit_engine_emit_prog(Chip_Emitter* emit, a_Program prog,
                                    te_HowMuch how_much = te_do_all);
// Copies code's instructions into target (an empty VM code), or into a new
// VM code when target is null; prints the dump when dump is set.
Chip_VM_Code* emit_to_code(Chip_Code* code, Chip_VM_Code* target = NULL,
                           t_CPBOOL dump = FALSE);
// One statement; pop: remove an expression statement's values afterwards.
t_CPBOOL emit_engine_emit_stmt(Chip_Emitter* emit, a_Stmt stmt, t_CPBOOL pop = TRUE);
// Each statement of a list with pop on; stops at the first failure.
t_CPBOOL emit_engine_emit_stmt_list(Chip_Emitter* emit, a_Stmt_List list);

// ---------------------------------------------------------------------------
// Expressions (chip_emit_exp.cpp).

// An expression list (each item's cast_to conversion included); a null list
// succeeds with nothing emitted.
t_CPBOOL emit_engine_emit_exp(Chip_Emitter* emit, a_Exp exp);
t_CPBOOL emit_engine_emit_exp_primary(Chip_Emitter* emit, a_Exp_Primary_* exp);
t_CPBOOL emit_engine_emit_symbol(Chip_Emitter* emit, S_Symbol symbol, Chip_Value* v,
                                 t_CPBOOL emit_var, int line_no);
t_CPBOOL emit_engine_emit_exp_decl(Chip_Emitter* emit, a_Exp_Decl_* decl, t_CPBOOL first_exp);
t_CPBOOL emit_engine_instantiate_object(Chip_Emitter* emit, Chip_Type* type, a_Array_Sub array,
                                        t_CPBOOL is_ref);
t_CPBOOL emit_engine_pre_constructor(Chip_Emitter* emit, Chip_Type* type);
t_CPBOOL emit_engine_pre_constructor_array(Chip_Emitter* emit, Chip_Type* type);
t_CPBOOL emit_engine_emit_exp_dot_member(Chip_Emitter* emit, a_Exp_Dot_Member_* member);
t_CPBOOL emit_engine_emit_exp_array(Chip_Emitter* emit, a_Exp_Array_* array);
t_CPBOOL emit_engine_emit_array_lit(Chip_Emitter* emit, a_Array_Sub array);
t_CPBOOL emit_engine_emit_exp_dur(Chip_Emitter* emit, a_Exp_Dur_* dur);
t_CPBOOL emit_engine_emit_exp_postfix(Chip_Emitter* emit, a_Exp_Postfix_* postfix);
t_CPBOOL emit_engine_emit_exp_unary(Chip_Emitter* emit, a_Exp_Unary_* unary);
t_CPBOOL emit_engine_emit_exp_if(Chip_Emitter* emit, a_Exp_If_* exp_if);
// A call expression: arguments (unless spork), the function, the call.
t_CPBOOL emit_engine_emit_exp_func_call(Chip_Emitter* emit, a_Exp_Func_Call_* func_call,
                                        t_CPBOOL spork = FALSE);
// The call proper of func (the function and its arguments already pushed).
t_CPBOOL emit_engine_emit_exp_func_call(Chip_Emitter* emit, Chip_Func* func, Chip_Type* type,
                                        int line_no, t_CPBOOL spork = FALSE);
t_CPBOOL emit_engine_emit_spork(Chip_Emitter* emit, a_Exp_Func_Call_* exp);

// ---------------------------------------------------------------------------
// Operators and casts (chip_emit_op.cpp).

t_CPBOOL emit_engine_emit_exp_binary(Chip_Emitter* emit, a_Exp_Binary_* binary);
t_CPBOOL emit_engine_emit_op(Chip_Emitter* emit, ae_Operator op, a_Exp lhs, a_Exp rhs,
                             a_Exp_Binary_* binary);
t_CPBOOL emit_engine_emit_op_chip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs,
                                  a_Exp_Binary_* binary);
t_CPBOOL emit_engine_emit_op_at_chip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs);
t_CPBOOL emit_engine_emit_op_unchip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs);
t_CPBOOL emit_engine_emit_op_upchip(Chip_Emitter* emit, a_Exp lhs, a_Exp rhs);
// The conversion from `from` to `to`, when there is one.
t_CPBOOL emit_engine_emit_cast(Chip_Emitter* emit, Chip_Type* to, Chip_Type* from);

// ---------------------------------------------------------------------------
// Function and class definitions (chip_emit_func.cpp).

t_CPBOOL emit_engine_emit_func_def(Chip_Emitter* emit, a_Func_Def func_def);
t_CPBOOL emit_engine_emit_class_def(Chip_Emitter* emit, a_Class_Def class_def);

#endif  // CHIP_CHIP_EMIT_H
