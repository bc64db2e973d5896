#include "absyn_print_support.h"

#include <charconv>

namespace {

std::string join_exps(a_Exp exp, const char* separator) {
  std::string out;
  for (a_Exp e = exp; e; e = e->next) {
    if (e != exp) out += separator;
    out += print_exp(e);
  }
  return out;
}

std::string float_text(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof(buf), v);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".eni") == std::string::npos) s += ".0";
  return s;
}

// The bracket pairs of a subscript or declaration: one expression per pair.
std::string print_dims(a_Array_Sub a) {
  if (!a) return "";
  if (a->err_num) return "[err " + std::to_string(a->err_num) + "]";
  std::string out;
  a_Exp e = a->exp_list;
  for (int i = 0; i < a->depth; i++) {
    out += "[";
    if (e) {
      out += print_exp(e);
      e = e->next;
    }
    out += "]";
  }
  return out;
}

std::string print_var_decl(a_Var_Decl v) { return std::string(S_name(v->name)) + print_dims(v->array); }

std::string print_stmt_list(a_Stmt_List list) {
  std::string out;
  for (a_Stmt_List l = list; l; l = l->next) {
    if (l != list) out += " ";
    out += print_stmt(l->stmt);
  }
  return out;
}

std::string print_opt_stmt(a_Stmt s) { return s ? print_stmt(s) : ";"; }

std::string op_text(int op) {
  if (op == ae_op_arrow_left) return "<-";
  if (op == ae_op_arrow_right) return "->";
  return op2str(op);
}

std::string print_primary(a_Exp e) {
  const a_Exp_Primary_& p = e->primary;
  switch (p.s_type) {
    case ae_primary_var: return S_name(p.var);
    case ae_primary_num: return std::to_string(p.num);
    case ae_primary_float: return float_text(p.fnum);
    case ae_primary_str: return std::string("\"") + p.str + "\"";
    case ae_primary_array:
      if (p.array->err_num) return print_dims(p.array);
      return "[" + join_exps(p.array->exp_list, ", ") + "]";
    case ae_primary_hack: return "(<<< " + join_exps(p.exp, ", ") + " >>>)";
    case ae_primary_complex:
      return "#(" + print_exp(p.complex->re) + " " + print_exp(p.complex->im) + ")";
    case ae_primary_polar:
      return "%(" + print_exp(p.polar->mod) + " " + print_exp(p.polar->phase) + ")";
    case ae_primary_nil: return "()";
  }
  return "<primary " + std::to_string(p.s_type) + ">";
}

c_constr decl_name(int code) {
  switch (code) {
    case ae_key_func: return "fun";
    case ae_key_public: return "public";
    case ae_key_protected: return "protected";
    case ae_key_private: return "private";
    case ae_key_static: return "static";
    case ae_key_instance: return "instance";
    case ae_key_abstract: return "pure";
  }
  return "?";
}

std::string print_func_def(a_Func_Def f) {
  std::string out = "(func ";
  out += decl_name(f->func_decl);
  out += " ";
  out += decl_name(f->static_decl);
  out += " " + print_type_decl(f->type_decl) + " " + S_name(f->name) + " (";
  for (a_Arg_List a = f->arg_list; a; a = a->next) {
    if (a != f->arg_list) out += ", ";
    out += print_type_decl(a->type_decl) + " " + print_var_decl(a->var_decl);
  }
  out += ") " + print_opt_stmt(f->code) + ")";
  return out;
}

std::string print_class_def(a_Class_Def c) {
  std::string out = c->iface ? "(interface " : "(class ";
  out += decl_name(c->decl);
  out += " " + print_id_list(c->name, ",");
  if (c->ext && c->ext->extend_id) out += " (extends " + print_id_list(c->ext->extend_id, ".") + ")";
  if (c->ext && c->ext->impl_list) out += " (implements " + print_id_list(c->ext->impl_list, " ") + ")";
  out += " {";
  for (a_Class_Body b = c->body; b; b = b->next) {
    if (b != c->body) out += " ";
    out += print_section(b->section);
  }
  out += "})";
  return out;
}

}  // namespace

std::string print_id_list(a_Id_List list, const char* separator) {
  std::string out;
  for (a_Id_List l = list; l; l = l->next) {
    if (l != list) out += separator;
    out += S_name(l->id);
  }
  return out;
}

std::string print_type_decl(a_Type_Decl type) {
  if (!type) return "same";
  std::string out = print_id_list(type->name_list, ".");
  if (type->ref) out += "@";
  return out + print_dims(type->array);
}

std::string print_exp_list(a_Exp exp) { return exp ? join_exps(exp, ", ") : "_"; }

std::string print_exp(a_Exp e) {
  if (!e) return "_";
  switch (e->s_type) {
    case ae_exp_binary:
      return "(" + op_text(e->binary.op) + " " + print_exp(e->binary.lhs) + " " +
             print_exp(e->binary.rhs) + ")";
    case ae_exp_unary: {
      const a_Exp_Unary_& u = e->unary;
      if (u.op == ae_op_new) return "(new " + print_type_decl(u.type) + print_dims(u.array) + ")";
      if (u.code) return "(" + op_text(u.op) + " " + print_stmt(u.code) + ")";
      return "(" + op_text(u.op) + " " + print_exp(u.exp) + ")";
    }
    case ae_exp_cast:
      return "($ " + print_exp(e->cast.exp) + " " + print_type_decl(e->cast.type) + ")";
    case ae_exp_postfix:
      return "(post" + op_text(e->postfix.op) + " " + print_exp(e->postfix.exp) + ")";
    case ae_exp_dur:
      return "(:: " + print_exp(e->dur.base) + " " + print_exp(e->dur.unit) + ")";
    case ae_exp_primary: return print_primary(e);
    case ae_exp_array:
      return "([] " + print_exp(e->array.base) + " " + print_dims(e->array.indices) + ")";
    case ae_exp_func_call: {
      std::string out = "(call " + print_exp(e->func_call.func);
      for (a_Exp a = e->func_call.args; a; a = a->next) out += " " + print_exp(a);
      return out + ")";
    }
    case ae_exp_dot_member:
      return "(. " + print_exp(e->dot_member.base) + " " + S_name(e->dot_member.member_name) + ")";
    case ae_exp_if:
      return "(? " + print_exp(e->exp_if.cond) + " " + print_exp(e->exp_if.if_exp) + " " +
             print_exp(e->exp_if.else_exp) + ")";
    case ae_exp_decl: {
      std::string out = "(decl ";
      if (e->decl.is_static) out += "static ";
      out += print_type_decl(e->decl.type);
      for (a_Var_Decl_List v = e->decl.var_decl_list; v; v = v->next) out += " " + print_var_decl(v->var_decl);
      return out + ")";
    }
  }
  return "<exp " + std::to_string(e->s_type) + ">";
}

std::string print_stmt(a_Stmt s) {
  if (!s) return ";";
  switch (s->s_type) {
    case ae_stmt_exp: return print_exp_list(s->stmt_exp) + ";";
    case ae_stmt_while:
      if (s->stmt_while.is_do)
        return "(do " + print_stmt(s->stmt_while.body) + " while " + print_exp_list(s->stmt_while.cond) + ")";
      return "(while " + print_exp_list(s->stmt_while.cond) + " " + print_stmt(s->stmt_while.body) + ")";
    case ae_stmt_until:
      if (s->stmt_until.is_do)
        return "(do " + print_stmt(s->stmt_until.body) + " until " + print_exp_list(s->stmt_until.cond) + ")";
      return "(until " + print_exp_list(s->stmt_until.cond) + " " + print_stmt(s->stmt_until.body) + ")";
    case ae_stmt_for:
      return "(for " + print_opt_stmt(s->stmt_for.c1) + " " + print_opt_stmt(s->stmt_for.c2) + " " +
             print_exp_list(s->stmt_for.c3) + " " + print_stmt(s->stmt_for.body) + ")";
    case ae_stmt_loop:
      return "(repeat " + print_exp_list(s->stmt_loop.cond) + " " + print_stmt(s->stmt_loop.body) + ")";
    case ae_stmt_if: {
      std::string out = "(if " + print_exp_list(s->stmt_if.cond) + " " + print_stmt(s->stmt_if.if_body);
      if (s->stmt_if.else_body) out += " else " + print_stmt(s->stmt_if.else_body);
      return out + ")";
    }
    case ae_stmt_code: return "{" + print_stmt_list(s->stmt_code.stmt_list) + "}";
    case ae_stmt_break: return "break;";
    case ae_stmt_continue: return "continue;";
    case ae_stmt_return:
      if (!s->stmt_return.val) return "return;";
      return "(return " + print_exp_list(s->stmt_return.val) + ")";
  }
  return "<stmt " + std::to_string(s->s_type) + ">";
}

std::string print_section(a_Section section) {
  switch (section->s_type) {
    case ae_section_stmt: return print_stmt_list(section->stmt_list);
    case ae_section_func: return print_func_def(section->func_def);
    case ae_section_class: return print_class_def(section->class_def);
  }
  return "<section>";
}

std::string print_program(a_Program program) {
  std::string out;
  for (a_Program p = program; p; p = p->next) {
    if (p != program) out += "\n";
    out += print_section(p->section);
  }
  return out;
}
