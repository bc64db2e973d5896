// Syntax tree of one Chip source.
//
// Plain records built bottom-up by the parser's reductions, one constructor
// per node form; the scan passes, the type checker and the emitter read them
// and write their results into the slots reserved for them (typed pointers to
// Chip_Type, Chip_Value, Chip_Func ..., left null by the parser). Every node
// records the source line current when it was built; the kind-specific body of
// a statement or expression also carries its own line and a `self` pointer
// back to the enclosing node. Lists are singly linked through `next`, in
// source order.
//
// Memory: every node is a zero-filled block from checked_malloc, and every
// block belongs to an allocation pool: the pool current on its thread when it is
// allocated (set_current_pool). A pool is an arena: blocks are cut one after
// the other from large chunks and freed all at once with the pool. chip_parse
// gives each parse its own pool and hands it over with the tree
// (a_Program_::pool); delete_program frees the whole tree at once. Blocks
// allocated while no pool is current go to a process-wide pool that is never
// emptied, where each block is a heap block of its own. Single blocks can be
// given back early with checked_free (clean_exp and delete_id_list do so): a
// block of the process-wide pool is freed at once, one of an arena only
// leaves its pool's count of live blocks and is freed with the pool.
//
// The module also holds the operator vocabulary (ae_Operator and op2str).
#ifndef CHIP_CHIP_ABSYN_H
#define CHIP_CHIP_ABSYN_H

#include <cstddef>

#include "chip/front/chip_symbol.h"
#include "chip/util/chip_def.h"

// Records of the type system that later passes hang on the tree.
struct Chip_Type;
struct Chip_Value;
struct Chip_Func;
struct Chip_Namespace;

// ---------------------------------------------------------------------------
// Operators: the ids are fixed (0 to 42), op2str gives the spelling.
enum ae_Operator {
  ae_op_plus = 0,         // +
  ae_op_minus,            // -
  ae_op_times,            // *
  ae_op_divide,           // /
  ae_op_eq,               // ==
  ae_op_neq,              // !=
  ae_op_lt,               // <
  ae_op_le,               // <=
  ae_op_gt,               // >
  ae_op_ge,               // >=
  ae_op_and,              // &&   10
  ae_op_or,               // ||
  ae_op_s_or,             // |
  ae_op_s_and,            // &
  ae_op_shift_left,       // <<
  ae_op_shift_right,      // >>
  ae_op_percent,          // %
  ae_op_s_xor,            // ^
  ae_op_chip,             // =>
  ae_op_plus_chip,        // +=>
  ae_op_minus_chip,       // -=>  20
  ae_op_times_chip,       // *=>
  ae_op_divide_chip,      // /=>
  ae_op_s_and_chip,       // &=>
  ae_op_s_or_chip,        // |=>
  ae_op_s_xor_chip,       // ^=>
  ae_op_shift_right_chip, // >>=>
  ae_op_shift_left_chip,  // <<=>
  ae_op_percent_chip,     // %=>
  ae_op_s_chip,           // -> (spelled, but no source form)
  ae_op_plusplus,         // ++   30
  ae_op_minusminus,       // --
  ae_op_tilda,            // ~
  ae_op_exclamation,      // !
  ae_op_at_chip,          // @=>
  ae_op_unchip,           // =< and !=>
  ae_op_upchip,           // =^
  ae_op_spork,            // spork ~
  ae_op_typeof,           // typeof
  ae_op_sizeof,           // sizeof
  ae_op_new,              // new  40
  ae_op_arrow_left,       // <- (no spelling)
  ae_op_arrow_right,      // -> (no spelling)
  ae_op_count             // number of ids
};

// The spelling of an operator; "[non-existent operator]" for an id without one.
c_constr op2str(int op);

// Declaration keyword codes of function and class definitions.
enum ae_Keyword {
  ae_key_func = 2,       // fun / function
  ae_key_public = 3,
  ae_key_protected = 4,
  ae_key_private = 5,    // also the default of a class
  ae_key_static = 6,
  ae_key_instance = 7,   // no static keyword
  ae_key_abstract = 8    // pure
};

// Kinds of sections, statements, expressions and primaries.
enum ae_Section_Type { ae_section_stmt = 0, ae_section_func, ae_section_class };

enum ae_Stmt_Type {
  ae_stmt_exp = 0,
  ae_stmt_while,
  ae_stmt_until,
  ae_stmt_for,
  ae_stmt_loop,
  ae_stmt_if,
  ae_stmt_code,
  ae_stmt_switch,     // never built by the parser
  ae_stmt_break,
  ae_stmt_continue,
  ae_stmt_return,
  ae_stmt_case,       // never built by the parser
  ae_stmt_gotolabel   // never built by the parser
};

enum ae_Exp_Type {
  ae_exp_binary = 0,
  ae_exp_unary,
  ae_exp_cast,
  ae_exp_postfix,
  ae_exp_dur,
  ae_exp_primary,
  ae_exp_array,
  ae_exp_func_call,
  ae_exp_dot_member,
  ae_exp_if,
  ae_exp_decl
};

enum ae_Exp_Meta { ae_meta_value = 0, ae_meta_var };

enum ae_Exp_Primary_Type {
  ae_primary_var = 0,
  ae_primary_num = 1,
  ae_primary_float = 2,
  ae_primary_str = 3,
  ae_primary_array = 4,
  // 5 is not used
  ae_primary_hack = 6,
  ae_primary_complex = 7,
  ae_primary_polar = 8,
  ae_primary_nil = 9
};

// ---------------------------------------------------------------------------
// Node types.
typedef struct a_Program_* a_Program;
typedef struct a_Section_* a_Section;
typedef struct a_Class_Body_* a_Class_Body;
typedef struct a_Stmt_List_* a_Stmt_List;
typedef struct a_Stmt_* a_Stmt;
typedef struct a_Exp_* a_Exp;
typedef struct a_Type_Decl_* a_Type_Decl;
typedef struct a_Var_Decl_* a_Var_Decl;
typedef struct a_Var_Decl_List_* a_Var_Decl_List;
typedef struct a_Arg_List_* a_Arg_List;
typedef struct a_Id_List_* a_Id_List;
typedef struct a_Array_Sub_* a_Array_Sub;
typedef struct a_Complex_* a_Complex;
typedef struct a_Polar_* a_Polar;
typedef struct a_Func_Def_* a_Func_Def;
typedef struct a_Class_Def_* a_Class_Def;
typedef struct a_Class_Ext_* a_Class_Ext;
typedef struct a_Pool_* a_Pool;

// Statement bodies.
struct a_Stmt_While_ {
  int is_do;        // 0 while, 1 do-while
  a_Exp cond;
  a_Stmt body;
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Until_ {
  int is_do;        // 0 until, 1 do-until
  a_Exp cond;
  a_Stmt body;
  int line_no;
  a_Stmt self;
};
struct a_Stmt_For_ {
  a_Stmt c1;        // initial statement (null for ";")
  a_Stmt c2;        // condition statement (null for ";")
  a_Exp c3;         // step, or null
  a_Stmt body;
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Loop_ {
  a_Exp cond;       // repeat count
  a_Stmt body;
  int line_no;
  a_Stmt self;
};
struct a_Stmt_If_ {
  a_Exp cond;
  a_Stmt if_body;
  a_Stmt else_body; // or null
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Code_ {
  a_Stmt_List stmt_list;  // null for an empty block
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Break_ {
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Continue_ {
  int line_no;
  a_Stmt self;
};
struct a_Stmt_Return_ {
  a_Exp val;        // or null
  int line_no;
  a_Stmt self;
};

struct a_Stmt_ {
  int s_type;       // ae_Stmt_Type
  union {
    a_Exp stmt_exp;  // expression list; no line or self of its own
    a_Stmt_While_ stmt_while;
    a_Stmt_Until_ stmt_until;
    a_Stmt_For_ stmt_for;
    a_Stmt_Loop_ stmt_loop;
    a_Stmt_If_ stmt_if;
    a_Stmt_Code_ stmt_code;
    a_Stmt_Break_ stmt_break;
    a_Stmt_Continue_ stmt_continue;
    a_Stmt_Return_ stmt_return;
  };
  int line_no;
};

// Expression bodies.
struct a_Exp_Binary_ {
  a_Exp lhs;
  int op;                 // ae_Operator
  a_Exp rhs;
  Chip_Func* cp_func;     // operator function chosen by the checker
  int line_no;
  a_Exp self;
};
struct a_Exp_Unary_ {
  int op;                 // ae_Operator
  a_Exp exp;
  a_Type_Decl type;       // for new
  a_Array_Sub array;      // for new
  a_Stmt code;            // for spork ~ { ... }
  int line_no;
  a_Exp self;
};
struct a_Exp_Cast_ {
  a_Type_Decl type;
  a_Exp exp;
  int line_no;
  a_Exp self;
};
struct a_Exp_Postfix_ {
  a_Exp exp;
  int op;                 // ae_Operator
  int line_no;
  a_Exp self;
};
struct a_Exp_Dur_ {
  a_Exp base;
  a_Exp unit;
  int line_no;
  a_Exp self;
};
struct a_Exp_Primary_ {
  int s_type;             // ae_Exp_Primary_Type
  Chip_Value* value;      // value found for a name (checker)
  union {
    S_Symbol var;
    t_CPINT num;
    t_CPFLOAT fnum;
    c_str str;            // text between the quotes, escapes kept
    a_Array_Sub array;
    a_Exp exp;            // debug print list
    a_Complex complex;
    a_Polar polar;
  };
  int line_no;
  a_Exp self;
};
struct a_Exp_Array_ {
  a_Exp base;
  a_Array_Sub indices;
  int line_no;
  a_Exp self;
};
struct a_Exp_Func_Call_ {
  a_Exp func;
  a_Exp args;             // or null
  Chip_Type* ret_type;    // checker
  Chip_Func* cp_func;     // checker
  void* pass_slot;        // reserved for later passes
  int line_no;
  a_Exp self;
};
struct a_Exp_Dot_Member_ {
  a_Exp base;
  Chip_Type* t_base;      // base's type (checker)
  S_Symbol member_name;
  int line_no;
  a_Exp self;
};
struct a_Exp_If_ {
  a_Exp cond;
  a_Exp if_exp;
  a_Exp else_exp;
  int line_no;
  a_Exp self;
};
struct a_Exp_Decl_ {
  a_Type_Decl type;       // null for the `same` form
  a_Var_Decl_List var_decl_list;
  int num_var_decls;      // scan pass 1
  int is_static;
  Chip_Type* cp_type;     // resolved type, a counted reference (scan pass 1)
  int line_no;
  a_Exp self;
};

struct a_Exp_ {
  int s_type;             // ae_Exp_Type
  int meta_kind;          // ae_Exp_Meta
  Chip_Type* type;        // checker
  void* pass_slot;        // reserved for later passes; the parser leaves it null
  a_Exp next;             // next expression of a comma list
  int list_count;         // checker
  Chip_Type* cast_to;     // implicit conversion (checker)
  int emit_var;           // emit the address rather than the value (checker)
  union {
    a_Exp_Binary_ binary;
    a_Exp_Unary_ unary;
    a_Exp_Cast_ cast;
    a_Exp_Postfix_ postfix;
    a_Exp_Dur_ dur;
    a_Exp_Primary_ primary;
    a_Exp_Array_ array;
    a_Exp_Func_Call_ func_call;
    a_Exp_Dot_Member_ dot_member;
    a_Exp_If_ exp_if;
    a_Exp_Decl_ decl;
  };
  int line_no;
};

// Declarations, types and small records.
struct a_Type_Decl_ {
  a_Id_List name_list;    // dotted name
  a_Array_Sub array;      // or null
  int ref;                // 1 when written with a trailing @
  int line_no;
};
struct a_Var_Decl_ {
  S_Symbol name;
  a_Array_Sub array;      // or null
  Chip_Value* value;      // scan pass 2
  void* addr;             // reserved for later passes (copied into the value)
  int line_no;
};
struct a_Var_Decl_List_ {
  a_Var_Decl var_decl;
  a_Var_Decl_List next;
  int line_no;
};
struct a_Arg_List_ {
  a_Type_Decl type_decl;
  a_Var_Decl var_decl;
  Chip_Type* type;        // scan passes
  a_Arg_List next;
  int line_no;
};
struct a_Id_List_ {
  S_Symbol id;
  a_Id_List next;
  int line_no;
};
struct a_Array_Sub_ {
  int depth;              // number of bracket pairs
  a_Exp exp_list;         // one expression per pair, or a literal's elements
  int line_no;
  int err_num;            // 1: a list in a pair; 2: empty and filled pairs mixed
  int err_pos;
};
struct a_Complex_ {
  a_Exp re;
  a_Exp im;
  int line_no;
  a_Exp self;
};
struct a_Polar_ {
  a_Exp mod;
  a_Exp phase;
  int line_no;
  a_Exp self;
};

// Definitions.
struct a_Func_Def_ {
  int func_decl;          // ae_Keyword
  int static_decl;        // ae_Keyword
  a_Type_Decl type_decl;  // written return type
  Chip_Type* ret_type;    // scan passes
  S_Symbol name;
  a_Arg_List arg_list;    // or null
  a_Stmt code;            // code block, or null for a body written as ';'
  Chip_Func* cp_func;     // function made for it (scan pass 2)
  int stack_depth;        // size of the arguments (scan pass 2)
  void* pass_slot;        // reserved for later passes
  int line_no;
};
struct a_Class_Ext_ {
  a_Id_List extend_id;    // parent (dotted), or null
  a_Id_List impl_list;    // interfaces, or null
  int line_no;
};
struct a_Class_Body_ {
  a_Section section;
  a_Class_Body next;
  int line_no;
};
struct a_Class_Def_ {
  int decl;               // ae_Keyword
  a_Id_List name;
  a_Class_Ext ext;        // or null
  a_Class_Body body;      // or null
  Chip_Type* type;        // scan pass 0
  int iface;              // 1 for an interface
  Chip_Namespace* home;   // where to define it (scan pass 0); null: current
  int line_no;
};

// Top level.
struct a_Stmt_List_ {
  a_Stmt stmt;
  a_Stmt_List next;
  int line_no;
};
struct a_Section_ {
  int s_type;             // ae_Section_Type
  union {
    a_Stmt_List stmt_list;
    a_Func_Def func_def;
    a_Class_Def class_def;
  };
  int line_no;
};
struct a_Program_ {
  a_Section section;
  a_Program next;
  int line_no;
  a_Pool pool;            // on the first node of a parsed tree: its pool
};

// ---------------------------------------------------------------------------
// Allocation.

// A zero-filled block of the current pool; size 0 gives null. When memory
// runs out it reports "out of memory!" and ends the process with status 1.
void* checked_malloc(size_t size);
// A copy of a text in the current pool.
c_str checked_strdup(c_constr text);
// Gives one block back to its pool (null is ignored).
void checked_free(void* block);

// A new, empty pool.
a_Pool new_pool();
// Makes pool current (null: the process-wide pool); returns the previous one.
a_Pool set_current_pool(a_Pool pool);
// Frees every block still in a pool, then the pool itself. The process-wide
// pool (null) is only emptied.
void delete_pool(a_Pool pool);
// Number of live blocks of a pool, those given back excluded (null: the
// process-wide pool).
size_t pool_block_count(a_Pool pool);
// Frees a tree made by chip_parse, with everything its parse allocated.
// A tree without a pool of its own (built by hand) is left alone.
void delete_program(a_Program program);

// ---------------------------------------------------------------------------
// Constructors: each takes the parser's values and the current line.
a_Program new_program(a_Section section, int pos);
a_Program prepend_program(a_Section section, a_Program next, int pos);
a_Section new_section_stmt(a_Stmt_List list, int pos);
a_Section new_section_func_def(a_Func_Def func_def, int pos);
a_Section new_section_class_def(a_Class_Def class_def, int pos);
a_Class_Body new_class_body(a_Section section, int pos);
a_Class_Body prepend_class_body(a_Section section, a_Class_Body next, int pos);
a_Stmt_List new_stmt_list(a_Stmt stmt, int pos);
a_Stmt_List prepend_stmt_list(a_Stmt stmt, a_Stmt_List next, int pos);

a_Stmt new_stmt_from_expression(a_Exp exp, int pos);
a_Stmt new_stmt_from_while(a_Exp cond, a_Stmt body, int pos);
a_Stmt new_stmt_from_do_while(a_Exp cond, a_Stmt body, int pos);
a_Stmt new_stmt_from_until(a_Exp cond, a_Stmt body, int pos);
a_Stmt new_stmt_from_do_until(a_Exp cond, a_Stmt body, int pos);
a_Stmt new_stmt_from_for(a_Stmt c1, a_Stmt c2, a_Exp c3, a_Stmt body, int pos);
a_Stmt new_stmt_from_loop(a_Exp cond, a_Stmt body, int pos);
a_Stmt new_stmt_from_if(a_Exp cond, a_Stmt if_body, a_Stmt else_body, int pos);
a_Stmt new_stmt_from_code(a_Stmt_List stmt_list, int pos);
a_Stmt new_stmt_from_break(int pos);
a_Stmt new_stmt_from_continue(int pos);
a_Stmt new_stmt_from_return(a_Exp val, int pos);

a_Exp new_exp_from_binary(a_Exp lhs, int op, a_Exp rhs, int pos);
a_Exp new_exp_from_unary(int op, a_Exp exp, int pos);
a_Exp new_exp_from_unary2(int op, a_Type_Decl type, a_Array_Sub array, int pos);
a_Exp new_exp_from_unary3(int op, a_Stmt code, int pos);
a_Exp new_exp_from_cast(a_Type_Decl type, a_Exp exp, int pos);
a_Exp new_exp_from_postfix(a_Exp exp, int op, int pos);
a_Exp new_exp_from_dur(a_Exp base, a_Exp unit, int pos);
a_Exp new_exp_from_array(a_Exp base, a_Array_Sub indices, int pos);
a_Exp new_exp_from_func_call(a_Exp func, a_Exp args, int pos);
a_Exp new_exp_from_member_dot(a_Exp base, c_constr member, int pos);
a_Exp new_exp_from_if(a_Exp cond, a_Exp if_exp, a_Exp else_exp, int pos);
a_Exp new_exp_decl(a_Type_Decl type, a_Var_Decl_List var_decl_list, int is_static, int pos);
a_Exp new_exp_from_id(c_constr name, int pos);
a_Exp new_exp_from_int(t_CPINT num, int pos);
a_Exp new_exp_from_float(t_CPFLOAT fnum, int pos);
a_Exp new_exp_from_str(c_str str, int pos);
a_Exp new_exp_from_array_lit(a_Array_Sub array, int pos);
a_Exp new_exp_from_hack(a_Exp exp, int pos);
a_Exp new_exp_from_complex(a_Complex complex, int pos);
a_Exp new_exp_from_polar(a_Polar polar, int pos);
a_Exp new_exp_from_nil(int pos);
// Comma lists: exp's next becomes next; returns exp.
a_Exp prepend_expression(a_Exp exp, a_Exp next, int pos);

a_Type_Decl new_type_decl(a_Id_List name_list, int ref, int pos);
// Attaches the array part of a type; a second one is a fatal internal error.
a_Type_Decl add_type_decl_array(a_Type_Decl type_decl, a_Array_Sub array, int pos);
a_Var_Decl new_var_decl(c_constr name, a_Array_Sub array, int pos);
a_Var_Decl_List new_var_decl_list(a_Var_Decl var_decl, int pos);
a_Var_Decl_List prepend_var_decl_list(a_Var_Decl var_decl, a_Var_Decl_List next, int pos);
a_Arg_List new_arg_list(a_Type_Decl type_decl, a_Var_Decl var_decl, int pos);
a_Arg_List prepend_arg_list(a_Type_Decl type_decl, a_Var_Decl var_decl, a_Arg_List next, int pos);
a_Id_List new_id_list(c_constr name, int pos);
a_Id_List prepend_id_list(c_constr name, a_Id_List next, int pos);
// Frees every node of an id list (not the symbols).
void delete_id_list(a_Id_List list);

// One bracket pair: depth 1, exp_list = exp (null for []; a comma list for
// an array literal).
a_Array_Sub new_array_sub(a_Exp exp, int pos);
// Adds one more bracket pair in front. A list in that pair sets err_num 1
// (err_pos: the list's line); an empty pair mixed with filled ones sets
// err_num 2 (err_pos: pos). Expressions that cannot be kept are freed.
a_Array_Sub prepend_array_sub(a_Array_Sub array, a_Exp exp, int pos);
a_Complex new_complex(a_Exp exp, int pos);
a_Polar new_polar(a_Exp exp, int pos);

a_Class_Def new_class_def(int decl, a_Id_List name, a_Class_Ext ext, a_Class_Body body, int pos);
a_Class_Def new_iface_def(int decl, a_Id_List name, a_Class_Ext ext, a_Class_Body body, int pos);
a_Class_Ext new_class_ext(a_Id_List extend_id, a_Id_List impl_list, int pos);
a_Func_Def new_func_def(int func_decl, int static_decl, a_Type_Decl type_decl, c_constr name,
                        a_Arg_List arg_list, a_Stmt code, int pos);

// Frees exp and every expression after it on its next chain (the nodes only,
// not what they point to).
void clean_exp(a_Exp exp);

#endif
