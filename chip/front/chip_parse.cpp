#include "chip/front/chip_parse.h"

#include <cstring>

#include "chip/front/chip_tab.h"
#include "chip/util/chip_errmsg.h"

a_Program g_program = nullptr;
char g_filename[CHIP_FILENAME_MAX] = "";

namespace {

// Copies text into g_filename; FALSE when it had to be cut.
t_CPBOOL set_filename(c_constr text) {
  size_t len = std::strlen(text);
  if (len >= sizeof(g_filename)) {
    std::memcpy(g_filename, text, sizeof(g_filename) - 1);
    g_filename[sizeof(g_filename) - 1] = '\0';
    return FALSE;
  }
  std::memcpy(g_filename, text, len + 1);
  return TRUE;
}

// A read stream holding code: a temporary file, or the text itself in
// memory when no temporary file can be made.
FILE* code_stream(c_constr code) {
  size_t len = std::strlen(code);
  FILE* f = std::tmpfile();
  if (f) {
    if (std::fwrite(code, 1, len, f) == len && std::fflush(f) == 0) return f;
    std::fclose(f);
  }
  return fmemopen(const_cast<char*>(code), len, "r");
}

// Opens the file fname names (as open_cat_chip, then by the name as given),
// leaving its name in g_filename; null when there is none. A name that was
// cut is never opened: it would name another file.
FILE* open_named(c_constr fname) {
  t_CPBOOL name_fits = set_filename(fname);
  if (!name_fits) return nullptr;
  FILE* fd = open_cat_chip(g_filename, sizeof(g_filename));
  if (fd) return fd;
  set_filename(fname);
  return std::fopen(g_filename, "r");
}

// Measures how deep a tree nests, stopping at the first node deeper than
// CHIP_MAX_NESTING (its own recursion is bounded the same way), which it
// reports.
class Nesting_Check {
 public:
  t_CPBOOL program(a_Program prog) {
    for (; prog; prog = prog->next) {
      if (!section(prog->section, 1)) return FALSE;
    }
    return TRUE;
  }

 private:
  static t_CPBOOL within(int depth, int line, c_constr what) {
    if (depth <= CHIP_MAX_NESTING) return TRUE;
    EM_error2(line, "%s nested too deeply", what);
    return FALSE;
  }

  t_CPBOOL section(a_Section sec, int depth) {
    switch (sec->s_type) {
      case ae_section_stmt: return stmt_list(sec->stmt_list, depth);
      case ae_section_func: return !sec->func_def->code || stmt(sec->func_def->code, depth);
      case ae_section_class: return class_def(sec->class_def, depth);
      default: return TRUE;
    }
  }

  t_CPBOOL class_def(a_Class_Def def, int depth) {
    if (!within(depth, def->line_no, "class definition")) return FALSE;
    for (a_Class_Body body = def->body; body; body = body->next) {
      if (!section(body->section, depth + 1)) return FALSE;
    }
    return TRUE;
  }

  t_CPBOOL stmt_list(a_Stmt_List list, int depth) {
    for (; list; list = list->next) {
      if (!stmt(list->stmt, depth)) return FALSE;
    }
    return TRUE;
  }

  t_CPBOOL stmt(a_Stmt s, int depth) {
    if (!s) return TRUE;
    if (!within(depth, s->line_no, "statement")) return FALSE;
    const int in = depth + 1;
    switch (s->s_type) {
      case ae_stmt_exp: return exp(s->stmt_exp, depth);  // the statement is its expression
      case ae_stmt_while: return exp(s->stmt_while.cond, in) && stmt(s->stmt_while.body, in);
      case ae_stmt_until: return exp(s->stmt_until.cond, in) && stmt(s->stmt_until.body, in);
      case ae_stmt_for:
        return stmt(s->stmt_for.c1, in) && stmt(s->stmt_for.c2, in) &&
               exp(s->stmt_for.c3, in) && stmt(s->stmt_for.body, in);
      case ae_stmt_loop: return exp(s->stmt_loop.cond, in) && stmt(s->stmt_loop.body, in);
      case ae_stmt_if:
        return exp(s->stmt_if.cond, in) && stmt(s->stmt_if.if_body, in) &&
               stmt(s->stmt_if.else_body, in);
      case ae_stmt_code: return stmt_list(s->stmt_code.stmt_list, in);
      case ae_stmt_return: return exp(s->stmt_return.val, in);
      default: return TRUE;
    }
  }

  t_CPBOOL array_sub(a_Array_Sub sub, int depth) { return !sub || exp(sub->exp_list, depth); }

  // Every expression of a list, at the same depth.
  t_CPBOOL exp(a_Exp e, int depth) {
    for (; e; e = e->next) {
      if (!within(depth, e->line_no, "expression")) return FALSE;
      if (!exp_parts(e, depth + 1)) return FALSE;
    }
    return TRUE;
  }

  t_CPBOOL exp_parts(a_Exp e, int in) {
    switch (e->s_type) {
      case ae_exp_binary: return exp(e->binary.lhs, in) && exp(e->binary.rhs, in);
      case ae_exp_unary:
        return exp(e->unary.exp, in) && array_sub(e->unary.array, in) && stmt(e->unary.code, in);
      case ae_exp_cast: return exp(e->cast.exp, in);
      case ae_exp_postfix: return exp(e->postfix.exp, in);
      case ae_exp_dur: return exp(e->dur.base, in) && exp(e->dur.unit, in);
      case ae_exp_array: return exp(e->array.base, in) && array_sub(e->array.indices, in);
      case ae_exp_func_call: return exp(e->func_call.func, in) && exp(e->func_call.args, in);
      case ae_exp_dot_member: return exp(e->dot_member.base, in);
      case ae_exp_if:
        return exp(e->exp_if.cond, in) && exp(e->exp_if.if_exp, in) &&
               exp(e->exp_if.else_exp, in);
      case ae_exp_decl:
        for (a_Var_Decl_List list = e->decl.var_decl_list; list; list = list->next) {
          if (!array_sub(list->var_decl->array, in)) return FALSE;
        }
        return TRUE;
      case ae_exp_primary:
        switch (e->primary.s_type) {
          case ae_primary_array: return array_sub(e->primary.array, in);
          case ae_primary_hack: return exp(e->primary.exp, in);
          case ae_primary_complex: return exp(e->primary.complex->re, in);
          case ae_primary_polar: return exp(e->primary.polar->mod, in);
          default: return TRUE;
        }
      default: return TRUE;
    }
  }
};

}  // namespace

FILE* open_cat_chip(c_str path, size_t capacity) {
  FILE* fd = std::fopen(path, "rb");
  if (fd) return fd;
  if (std::strstr(path, ".chip") || std::strstr(path, ".CHIP")) return nullptr;
  static const char suffix[] = ".chip";
  size_t len = std::strlen(path);
  if (len + sizeof(suffix) > capacity) return nullptr;
  std::memcpy(path + len, suffix, sizeof(suffix));
  return std::fopen(path, "rb");
}

t_CPBOOL chip_parse(c_constr fname, FILE* fd, c_constr code) {
  if (fd && code) {
    EM_printf("[chip](via parser): (internal) both fd and code specified!\n");
    return FALSE;
  }

  FILE* owned = nullptr;
  if (code) {
    owned = code_stream(code);
    if (!owned) {
      EM_reset(fname, nullptr);
      EM_error2(0, "cannot make a stream for the source text");
      return FALSE;
    }
    fd = owned;
  }

  if (fd) {
    set_filename(fname);
  } else {
    fd = owned = open_named(fname);
  }

  EM_reset(g_filename, fd);

  if (!fd) {
    EM_error2(0, "no such file or directory");
    return FALSE;
  }

  std::rewind(fd);
  g_program = nullptr;

  // Everything the parse allocates goes to the tree's own pool.
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  chip_lex_begin(fd);
  int result = yyparse();
  t_CPBOOL ok = result == 0 && !chip_lex_failed() && g_program != nullptr;
  chip_lex_end();
  set_current_pool(previous);
  if (ok) ok = Nesting_Check().program(g_program);

  if (ok) {
    g_program->pool = pool;
  } else {
    g_program = nullptr;
    delete_pool(pool);
  }

  if (owned) std::fclose(owned);
  return ok;
}

t_CPBOOL chip_source_exists(c_constr fname) {
  FILE* fd = open_named(fname);
  if (fd) {
    std::fclose(fd);
    return TRUE;
  }
  EM_reset(g_filename, nullptr);
  EM_error2(0, "no such file or directory");
  return FALSE;
}

void reset_parse() { EM_change_file(nullptr); }
