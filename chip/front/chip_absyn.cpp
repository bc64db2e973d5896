#include "chip/front/chip_absyn.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chip/util/chip_errmsg.h"

// ---------------------------------------------------------------------------
// Pools.
//
// A pool made by new_pool is an arena: its blocks are carved one after the
// other out of large chunks, so a node costs a few instructions to allocate
// and the whole tree is released chunk by chunk. A single
// block given back early (checked_free) only leaves the pool's count of live
// blocks; its bytes go with the pool.
//
// The process-wide pool (no pool current) is different: what is allocated
// there lives as long as its user wants (a name list made for one look-up),
// so each of its blocks is a heap block of its own, linked into the pool's
// circular list and really freed by checked_free.
//
// Every block starts with a header telling the two apart: a block of the
// process-wide pool has both list links; an arena block has no `next` and
// points at its pool instead.

namespace {

struct alignas(std::max_align_t) Block {
  union {
    Block* prev;     // block of the process-wide pool: list neighbours
    a_Pool_* owner;  // arena block: its pool
  };
  Block* next;       // null on an arena block
};

struct alignas(std::max_align_t) Chunk {
  Chunk* next;  // the chunk allocated before this one
};

// Chunks start small (a one-line file's tree fits in the first) and double
// up to a size that keeps the heap's overhead per block negligible.
constexpr size_t first_chunk = 4096;
constexpr size_t largest_chunk = 64 * 1024;

}  // namespace

struct a_Pool_ {
  Block head;          // the process-wide pool: sentinel of its block list
  Chunk* chunks;       // an arena: its chunks, newest first
  char* bump;          // free room in the newest chunk: [bump, end)
  char* end;
  size_t next_chunk;   // size of the chunk allocated next
  size_t live;         // an arena: blocks allocated and not given back
};

namespace {

a_Pool_ process_pool = {{{&process_pool.head}, &process_pool.head}, nullptr, nullptr, nullptr, 0, 0};
// Each thread has its own current pool: a client thread may parse a file for
// the listener while the machine's thread releases another file's tree.
thread_local a_Pool current_pool = nullptr;

[[noreturn]] void out_of_memory() {
  EM_error2(0, "out of memory!\n");
  std::exit(1);
}

void unlink_block(Block* b) {
  b->prev->next = b->next;
  b->next->prev = b->prev;
}

void empty_process_pool() {
  Block* head = &process_pool.head;
  Block* b = head->next;
  while (b != head) {
    Block* next = b->next;
    std::free(b);
    b = next;
  }
  head->prev = head->next = head;
}

void free_chunks(a_Pool pool) {
  for (Chunk* c = pool->chunks; c;) {
    Chunk* next = c->next;
    std::free(c);
    c = next;
  }
  pool->chunks = nullptr;
  pool->bump = pool->end = nullptr;
  pool->live = 0;
}

// A heap block of its own, linked into the process-wide pool.
void* linked_alloc(size_t size) {
  Block* b = static_cast<Block*>(std::calloc(1, sizeof(Block) + size));
  if (!b) out_of_memory();
  Block* head = &process_pool.head;
  b->next = head;
  b->prev = head->prev;
  head->prev->next = b;
  head->prev = b;
  return b + 1;
}

// Room for `need` bytes (a multiple of the block alignment) in a new chunk.
void add_chunk(a_Pool pool, size_t need) {
  size_t size = pool->next_chunk ? pool->next_chunk : first_chunk;
  if (size < largest_chunk) pool->next_chunk = size * 2;
  if (size - sizeof(Chunk) < need) size = sizeof(Chunk) + need;
  Chunk* c = static_cast<Chunk*>(std::malloc(size));
  if (!c) out_of_memory();
  c->next = pool->chunks;
  pool->chunks = c;
  pool->bump = reinterpret_cast<char*>(c + 1);
  pool->end = reinterpret_cast<char*>(c) + size;
}

void* arena_alloc(a_Pool pool, size_t size) {
  constexpr size_t align = alignof(std::max_align_t);
  size_t need = (sizeof(Block) + size + align - 1) & ~(align - 1);
  if (static_cast<size_t>(pool->end - pool->bump) < need) add_chunk(pool, need);
  Block* b = reinterpret_cast<Block*>(pool->bump);
  pool->bump += need;
  std::memset(b + 1, 0, size);
  b->owner = pool;
  b->next = nullptr;
  pool->live++;
  return b + 1;
}

}  // namespace

void* checked_malloc(size_t size) {
  if (size == 0) return nullptr;
  if (size > SIZE_MAX / 2) out_of_memory();
  a_Pool pool = current_pool;
  return pool ? arena_alloc(pool, size) : linked_alloc(size);
}

c_str checked_strdup(c_constr text) {
  size_t len = std::strlen(text);
  c_str copy = static_cast<c_str>(checked_malloc(len + 1));
  std::memcpy(copy, text, len + 1);
  return copy;
}

void checked_free(void* block) {
  if (!block) return;
  Block* b = static_cast<Block*>(block) - 1;
  if (!b->next) {
    b->owner->live--;
    return;
  }
  unlink_block(b);
  std::free(b);
}

a_Pool new_pool() {
  a_Pool pool = static_cast<a_Pool>(std::calloc(1, sizeof(a_Pool_)));
  if (!pool) out_of_memory();
  return pool;
}

a_Pool set_current_pool(a_Pool pool) {
  a_Pool previous = current_pool;
  current_pool = pool;
  return previous;
}

void delete_pool(a_Pool pool) {
  if (!pool) {
    empty_process_pool();
    return;
  }
  free_chunks(pool);
  if (current_pool == pool) current_pool = nullptr;
  std::free(pool);
}

size_t pool_block_count(a_Pool pool) {
  if (pool) return pool->live;
  const Block* head = &process_pool.head;
  size_t n = 0;
  for (const Block* b = head->next; b != head; b = b->next) n++;
  return n;
}

void delete_program(a_Program program) {
  if (program && program->pool) delete_pool(program->pool);
}

// ---------------------------------------------------------------------------
// Operators.

c_constr op2str(int op) {
  static const char* const spellings[] = {
      "+",   "-",   "*",   "/",    "==",   "!=",  "<",   "<=",      ">",      ">=",
      "&&",  "||",  "|",   "&",    "<<",   ">>",  "%",   "^",       "=>",     "+=>",
      "-=>", "*=>", "/=>", "&=>",  "|=>",  "^=>", ">>=>", "<<=>",   "%=>",    "->",
      "++",  "--",  "~",   "!",    "@=>",  "=<",  "=^",  "spork ~", "typeof", "sizeof",
      "new"};
  const int spelled = static_cast<int>(sizeof(spellings) / sizeof(spellings[0]));
  if (op < 0 || op >= spelled) return "[non-existent operator]";
  return spellings[op];
}

// ---------------------------------------------------------------------------
// Constructors.

namespace {

template <typename T>
T* new_node() {
  return static_cast<T*>(checked_malloc(sizeof(T)));
}

a_Stmt new_stmt(int s_type, int pos) {
  a_Stmt a = new_node<a_Stmt_>();
  a->s_type = s_type;
  a->line_no = pos;
  return a;
}

a_Exp new_exp(int s_type, int meta_kind, int pos) {
  a_Exp a = new_node<a_Exp_>();
  a->s_type = s_type;
  a->meta_kind = meta_kind;
  a->line_no = pos;
  return a;
}

a_Exp new_primary(int s_type, int meta_kind, int pos) {
  a_Exp a = new_exp(ae_exp_primary, meta_kind, pos);
  a->primary.s_type = s_type;
  a->primary.line_no = pos;
  a->primary.self = a;
  return a;
}

a_Section new_section(int s_type, int pos) {
  a_Section a = new_node<a_Section_>();
  a->s_type = s_type;
  a->line_no = pos;
  return a;
}

}  // namespace

a_Program new_program(a_Section section, int pos) { return prepend_program(section, nullptr, pos); }

a_Program prepend_program(a_Section section, a_Program next, int pos) {
  a_Program a = new_node<a_Program_>();
  a->section = section;
  a->next = next;
  a->line_no = pos;
  return a;
}

a_Section new_section_stmt(a_Stmt_List list, int pos) {
  a_Section a = new_section(ae_section_stmt, pos);
  a->stmt_list = list;
  return a;
}

a_Section new_section_func_def(a_Func_Def func_def, int pos) {
  a_Section a = new_section(ae_section_func, pos);
  a->func_def = func_def;
  return a;
}

a_Section new_section_class_def(a_Class_Def class_def, int pos) {
  a_Section a = new_section(ae_section_class, pos);
  a->class_def = class_def;
  return a;
}

a_Class_Body new_class_body(a_Section section, int pos) { return prepend_class_body(section, nullptr, pos); }

a_Class_Body prepend_class_body(a_Section section, a_Class_Body next, int pos) {
  a_Class_Body a = new_node<a_Class_Body_>();
  a->section = section;
  a->next = next;
  a->line_no = pos;
  return a;
}

a_Stmt_List new_stmt_list(a_Stmt stmt, int pos) { return prepend_stmt_list(stmt, nullptr, pos); }

a_Stmt_List prepend_stmt_list(a_Stmt stmt, a_Stmt_List next, int pos) {
  a_Stmt_List a = new_node<a_Stmt_List_>();
  a->stmt = stmt;
  a->next = next;
  a->line_no = pos;
  return a;
}

a_Stmt new_stmt_from_expression(a_Exp exp, int pos) {
  a_Stmt a = new_stmt(ae_stmt_exp, pos);
  a->stmt_exp = exp;
  return a;
}

namespace {

a_Stmt new_while(int is_do, a_Exp cond, a_Stmt body, int pos) {
  a_Stmt a = new_stmt(ae_stmt_while, pos);
  a->stmt_while.is_do = is_do;
  a->stmt_while.cond = cond;
  a->stmt_while.body = body;
  a->stmt_while.line_no = pos;
  a->stmt_while.self = a;
  return a;
}

a_Stmt new_until(int is_do, a_Exp cond, a_Stmt body, int pos) {
  a_Stmt a = new_stmt(ae_stmt_until, pos);
  a->stmt_until.is_do = is_do;
  a->stmt_until.cond = cond;
  a->stmt_until.body = body;
  a->stmt_until.line_no = pos;
  a->stmt_until.self = a;
  return a;
}

}  // namespace

a_Stmt new_stmt_from_while(a_Exp cond, a_Stmt body, int pos) { return new_while(0, cond, body, pos); }
a_Stmt new_stmt_from_do_while(a_Exp cond, a_Stmt body, int pos) { return new_while(1, cond, body, pos); }
a_Stmt new_stmt_from_until(a_Exp cond, a_Stmt body, int pos) { return new_until(0, cond, body, pos); }
a_Stmt new_stmt_from_do_until(a_Exp cond, a_Stmt body, int pos) { return new_until(1, cond, body, pos); }

a_Stmt new_stmt_from_for(a_Stmt c1, a_Stmt c2, a_Exp c3, a_Stmt body, int pos) {
  a_Stmt a = new_stmt(ae_stmt_for, pos);
  a->stmt_for.c1 = c1;
  a->stmt_for.c2 = c2;
  a->stmt_for.c3 = c3;
  a->stmt_for.body = body;
  a->stmt_for.line_no = pos;
  a->stmt_for.self = a;
  return a;
}

a_Stmt new_stmt_from_loop(a_Exp cond, a_Stmt body, int pos) {
  a_Stmt a = new_stmt(ae_stmt_loop, pos);
  a->stmt_loop.cond = cond;
  a->stmt_loop.body = body;
  a->stmt_loop.line_no = pos;
  a->stmt_loop.self = a;
  return a;
}

a_Stmt new_stmt_from_if(a_Exp cond, a_Stmt if_body, a_Stmt else_body, int pos) {
  a_Stmt a = new_stmt(ae_stmt_if, pos);
  a->stmt_if.cond = cond;
  a->stmt_if.if_body = if_body;
  a->stmt_if.else_body = else_body;
  a->stmt_if.line_no = pos;
  a->stmt_if.self = a;
  return a;
}

a_Stmt new_stmt_from_code(a_Stmt_List stmt_list, int pos) {
  a_Stmt a = new_stmt(ae_stmt_code, pos);
  a->stmt_code.stmt_list = stmt_list;
  a->stmt_code.line_no = pos;
  a->stmt_code.self = a;
  return a;
}

a_Stmt new_stmt_from_break(int pos) {
  a_Stmt a = new_stmt(ae_stmt_break, pos);
  a->stmt_break.line_no = pos;
  a->stmt_break.self = a;
  return a;
}

a_Stmt new_stmt_from_continue(int pos) {
  a_Stmt a = new_stmt(ae_stmt_continue, pos);
  a->stmt_continue.line_no = pos;
  a->stmt_continue.self = a;
  return a;
}

a_Stmt new_stmt_from_return(a_Exp val, int pos) {
  a_Stmt a = new_stmt(ae_stmt_return, pos);
  a->stmt_return.val = val;
  a->stmt_return.line_no = pos;
  a->stmt_return.self = a;
  return a;
}

a_Exp new_exp_from_binary(a_Exp lhs, int op, a_Exp rhs, int pos) {
  a_Exp a = new_exp(ae_exp_binary, ae_meta_value, pos);
  a->binary.lhs = lhs;
  a->binary.op = op;
  a->binary.rhs = rhs;
  a->binary.line_no = pos;
  a->binary.self = a;
  return a;
}

a_Exp new_exp_from_unary(int op, a_Exp exp, int pos) {
  a_Exp a = new_exp(ae_exp_unary, exp ? exp->meta_kind : ae_meta_value, pos);
  a->unary.op = op;
  a->unary.exp = exp;
  a->unary.line_no = pos;
  a->unary.self = a;
  return a;
}

a_Exp new_exp_from_unary2(int op, a_Type_Decl type, a_Array_Sub array, int pos) {
  a_Exp a = new_exp(ae_exp_unary, ae_meta_value, pos);
  a->unary.op = op;
  a->unary.type = type;
  a->unary.array = array;
  a->unary.line_no = pos;
  a->unary.self = a;
  return a;
}

a_Exp new_exp_from_unary3(int op, a_Stmt code, int pos) {
  a_Exp a = new_exp(ae_exp_unary, ae_meta_value, pos);
  a->unary.op = op;
  a->unary.code = code;
  a->unary.line_no = pos;
  a->unary.self = a;
  return a;
}

a_Exp new_exp_from_cast(a_Type_Decl type, a_Exp exp, int pos) {
  a_Exp a = new_exp(ae_exp_cast, ae_meta_value, pos);
  a->cast.type = type;
  a->cast.exp = exp;
  a->cast.line_no = pos;
  a->cast.self = a;
  return a;
}

a_Exp new_exp_from_postfix(a_Exp exp, int op, int pos) {
  a_Exp a = new_exp(ae_exp_postfix, ae_meta_var, pos);
  a->postfix.exp = exp;
  a->postfix.op = op;
  a->postfix.line_no = pos;
  a->postfix.self = a;
  return a;
}

a_Exp new_exp_from_dur(a_Exp base, a_Exp unit, int pos) {
  a_Exp a = new_exp(ae_exp_dur, ae_meta_value, pos);
  a->dur.base = base;
  a->dur.unit = unit;
  a->dur.line_no = pos;
  a->dur.self = a;
  return a;
}

a_Exp new_exp_from_array(a_Exp base, a_Array_Sub indices, int pos) {
  a_Exp a = new_exp(ae_exp_array, ae_meta_var, pos);
  a->array.base = base;
  a->array.indices = indices;
  a->array.line_no = pos;
  a->array.self = a;
  return a;
}

a_Exp new_exp_from_func_call(a_Exp func, a_Exp args, int pos) {
  a_Exp a = new_exp(ae_exp_func_call, ae_meta_value, pos);
  a->func_call.func = func;
  a->func_call.args = args;
  a->func_call.line_no = pos;
  a->func_call.self = a;
  return a;
}

a_Exp new_exp_from_member_dot(a_Exp base, c_constr member, int pos) {
  a_Exp a = new_exp(ae_exp_dot_member, ae_meta_var, pos);
  a->dot_member.base = base;
  a->dot_member.member_name = insert_symbol(member);
  a->dot_member.line_no = pos;
  a->dot_member.self = a;
  return a;
}

a_Exp new_exp_from_if(a_Exp cond, a_Exp if_exp, a_Exp else_exp, int pos) {
  bool both_vars = if_exp && else_exp && if_exp->meta_kind == ae_meta_var &&
                   else_exp->meta_kind == ae_meta_var;
  a_Exp a = new_exp(ae_exp_if, both_vars ? ae_meta_var : ae_meta_value, pos);
  a->exp_if.cond = cond;
  a->exp_if.if_exp = if_exp;
  a->exp_if.else_exp = else_exp;
  a->exp_if.line_no = pos;
  a->exp_if.self = a;
  return a;
}

a_Exp new_exp_decl(a_Type_Decl type, a_Var_Decl_List var_decl_list, int is_static, int pos) {
  a_Exp a = new_exp(ae_exp_decl, ae_meta_var, pos);
  a->decl.type = type;
  a->decl.var_decl_list = var_decl_list;
  a->decl.is_static = is_static;
  a->decl.line_no = pos;
  a->decl.self = a;
  return a;
}

a_Exp new_exp_from_id(c_constr name, int pos) {
  a_Exp a = new_primary(ae_primary_var, ae_meta_var, pos);
  a->primary.var = insert_symbol(name);
  return a;
}

a_Exp new_exp_from_int(t_CPINT num, int pos) {
  a_Exp a = new_primary(ae_primary_num, ae_meta_value, pos);
  a->primary.num = num;
  return a;
}

a_Exp new_exp_from_float(t_CPFLOAT fnum, int pos) {
  a_Exp a = new_primary(ae_primary_float, ae_meta_value, pos);
  a->primary.fnum = fnum;
  return a;
}

a_Exp new_exp_from_str(c_str str, int pos) {
  a_Exp a = new_primary(ae_primary_str, ae_meta_value, pos);
  a->primary.str = str;
  return a;
}

a_Exp new_exp_from_array_lit(a_Array_Sub array, int pos) {
  a_Exp a = new_primary(ae_primary_array, ae_meta_value, pos);
  a->primary.array = array;
  return a;
}

a_Exp new_exp_from_hack(a_Exp exp, int pos) {
  a_Exp a = new_primary(ae_primary_hack, ae_meta_value, pos);
  a->primary.exp = exp;
  return a;
}

a_Exp new_exp_from_complex(a_Complex complex, int pos) {
  a_Exp a = new_primary(ae_primary_complex, ae_meta_value, pos);
  a->primary.complex = complex;
  complex->self = a;
  return a;
}

a_Exp new_exp_from_polar(a_Polar polar, int pos) {
  a_Exp a = new_primary(ae_primary_polar, ae_meta_value, pos);
  a->primary.polar = polar;
  polar->self = a;
  return a;
}

a_Exp new_exp_from_nil(int pos) { return new_primary(ae_primary_nil, ae_meta_value, pos); }

a_Exp prepend_expression(a_Exp exp, a_Exp next, int) {
  exp->next = next;
  return exp;
}

a_Type_Decl new_type_decl(a_Id_List name_list, int ref, int pos) {
  a_Type_Decl a = new_node<a_Type_Decl_>();
  a->name_list = name_list;
  a->ref = ref;
  a->line_no = pos;
  return a;
}

a_Type_Decl add_type_decl_array(a_Type_Decl a, a_Array_Sub array, int) {
  if (a->array != nullptr) {
    // The process stops at once: the message goes straight to standard
    // error, where it cannot be lost in the log's queue.
    std::fprintf(stderr, "[chip]: internal error: %s:%d: assertion 'a->array == NULL' failed\n",
                 __FILE__, __LINE__);
    std::abort();
  }
  a->array = array;
  return a;
}

a_Var_Decl new_var_decl(c_constr name, a_Array_Sub array, int pos) {
  a_Var_Decl a = new_node<a_Var_Decl_>();
  a->name = insert_symbol(name);
  a->array = array;
  a->line_no = pos;
  return a;
}

a_Var_Decl_List new_var_decl_list(a_Var_Decl var_decl, int pos) {
  return prepend_var_decl_list(var_decl, nullptr, pos);
}

a_Var_Decl_List prepend_var_decl_list(a_Var_Decl var_decl, a_Var_Decl_List next, int pos) {
  a_Var_Decl_List a = new_node<a_Var_Decl_List_>();
  a->var_decl = var_decl;
  a->next = next;
  a->line_no = pos;
  return a;
}

a_Arg_List new_arg_list(a_Type_Decl type_decl, a_Var_Decl var_decl, int pos) {
  return prepend_arg_list(type_decl, var_decl, nullptr, pos);
}

a_Arg_List prepend_arg_list(a_Type_Decl type_decl, a_Var_Decl var_decl, a_Arg_List next, int pos) {
  a_Arg_List a = new_node<a_Arg_List_>();
  a->type_decl = type_decl;
  a->var_decl = var_decl;
  a->next = next;
  a->line_no = pos;
  return a;
}

a_Id_List new_id_list(c_constr name, int pos) { return prepend_id_list(name, nullptr, pos); }

a_Id_List prepend_id_list(c_constr name, a_Id_List next, int pos) {
  a_Id_List a = new_node<a_Id_List_>();
  a->id = insert_symbol(name);
  a->next = next;
  a->line_no = pos;
  return a;
}

void delete_id_list(a_Id_List list) {
  while (list) {
    a_Id_List next = list->next;
    checked_free(list);
    list = next;
  }
}

a_Array_Sub new_array_sub(a_Exp exp, int pos) {
  a_Array_Sub a = new_node<a_Array_Sub_>();
  a->depth = 1;
  a->exp_list = exp;
  a->line_no = pos;
  return a;
}

a_Array_Sub prepend_array_sub(a_Array_Sub a, a_Exp exp, int pos) {
  if (a->err_num) {
    clean_exp(exp);
  } else if (exp && exp->next) {
    // a list inside a pair that is not the last
    a->err_num = 1;
    a->err_pos = exp->line_no;
    clean_exp(exp);
  } else if (exp && a->exp_list) {
    exp->next = a->exp_list;
    a->exp_list = exp;
    a->depth++;
  } else if (!exp && !a->exp_list) {
    a->depth++;
  } else {
    // an empty pair mixed with a filled one
    a->err_num = 2;
    a->err_pos = pos;
    clean_exp(exp);
  }
  return a;
}

a_Complex new_complex(a_Exp exp, int pos) {
  a_Complex a = new_node<a_Complex_>();
  a->re = exp;
  if (exp) a->im = exp->next;
  a->line_no = pos;
  return a;
}

a_Polar new_polar(a_Exp exp, int pos) {
  a_Polar a = new_node<a_Polar_>();
  a->mod = exp;
  if (exp) a->phase = exp->next;
  a->line_no = pos;
  return a;
}

a_Class_Def new_class_def(int decl, a_Id_List name, a_Class_Ext ext, a_Class_Body body, int pos) {
  a_Class_Def a = new_node<a_Class_Def_>();
  a->decl = decl;
  a->name = name;
  a->ext = ext;
  a->body = body;
  a->line_no = pos;
  return a;
}

a_Class_Def new_iface_def(int decl, a_Id_List name, a_Class_Ext ext, a_Class_Body body, int pos) {
  a_Class_Def a = new_class_def(decl, name, ext, body, pos);
  a->iface = 1;
  return a;
}

a_Class_Ext new_class_ext(a_Id_List extend_id, a_Id_List impl_list, int pos) {
  a_Class_Ext a = new_node<a_Class_Ext_>();
  a->extend_id = extend_id;
  a->impl_list = impl_list;
  a->line_no = pos;
  return a;
}

a_Func_Def new_func_def(int func_decl, int static_decl, a_Type_Decl type_decl, c_constr name,
                        a_Arg_List arg_list, a_Stmt code, int pos) {
  a_Func_Def a = new_node<a_Func_Def_>();
  a->func_decl = func_decl;
  a->static_decl = static_decl;
  a->type_decl = type_decl;
  a->name = insert_symbol(name);
  a->arg_list = arg_list;
  a->code = code;
  a->line_no = pos;
  return a;
}

void clean_exp(a_Exp exp) {
  while (exp) {
    a_Exp next = exp->next;
    checked_free(exp);
    exp = next;
  }
}
