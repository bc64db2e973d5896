// A parenthesised text form of syntax trees, for tests.
//
// Operators print prefix with their operands, so that grouping shows:
// `1 + 2 * 3;` prints as `(+ 1 (* 2 3));`. Forms:
//   expressions  (op a b), (op a) for unary, (post++ a), ($ exp type),
//                (:: base unit), ([] base [i][j]), (call f args...),
//                (. base member), (? c a b), (decl [static] type vars...),
//                (new type[dims]), (spork ~ {block}), names, 1, 1.5, "text",
//                [a, b] array literals, #(re im), %(mod phase), (<<< a, b >>>), ()
//   statements   exps;  ;  {s1 s2}  (if c s [else s])  (while c s)
//                (do s while c)  (until c s)  (do s until c)  (repeat c s)
//                (for s1 s2 step s)  break;  continue;  return;  (return e)
//   sections     statements joined by a blank,
//                (func decl static type name (args) body),
//                (class|interface access names [(extends P)] [(implements I...)] {body})
// Sections of a program are joined by newlines. An array part with an error
// prints as [err N].
#ifndef TESTS_CHIP_ABSYN_PRINT_SUPPORT_H
#define TESTS_CHIP_ABSYN_PRINT_SUPPORT_H

#include <string>

#include "chip/front/chip_absyn.h"

std::string print_program(a_Program program);
std::string print_section(a_Section section);
std::string print_stmt(a_Stmt stmt);
// One expression (its next chain is not followed).
std::string print_exp(a_Exp exp);
// An expression and its next chain, joined by ", ".
std::string print_exp_list(a_Exp exp);
std::string print_type_decl(a_Type_Decl type);
std::string print_id_list(a_Id_List list, const char* separator);

#endif
