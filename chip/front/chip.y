/* Grammar of the Chip language.
 *
 * An LALR(1) grammar without error productions: the first syntax error
 * ends the parse. Every node records the scanner's current line (POS) at the
 * moment of its reduction. Lists are left-recursive, so that the parser's
 * stack holds one list however long it grows (only nesting is limited by
 * the stack), and are built by appending to their last node (the reductions
 * carry the first and the last node), so they come out in source order.
 * Expression levels run from the loosest
 * binding (comma lists) to the tightest (postfix and primary expressions);
 * every binary level is left-associative. The binary levels between the
 * conditional and the unary expressions share one rule and are told apart by
 * the operators' declared precedences, which settle exactly the conflicts
 * between two binary operators (or a binary operator and a cast) and no
 * other: %expect counts only the conflicts listed below.
 *
 * The grammar has 74 shift/reduce conflicts, all resolved by shifting, which
 * is the intended reading:
 *   - 68, 34 at the top level and 34 in class bodies (one per token that can
 *     start a statement): a statement list followed by another statement
 *     keeps growing rather than closing its section;
 *   - 1: "else" binds to the nearest "if";
 *   - 4 (one per form of declaration): in "int a, b" the comma continues
 *     the declaration list;
 *   - 1: "[a][b]" is one subscript of two pairs, not a subscript of "[a]".
 * %expect pins their number so that a new conflict breaks the build.
 */

%{
#include "chip/front/chip_absyn.h"
#include "chip/front/chip_parse.h"
#include "chip/util/chip_errmsg.h"

#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
#define POS EM_lineNum

void yyerror(const char* msg);
%}

%code requires {
#include "chip/front/chip_absyn.h"

// A list being read: its first and its last node.
template <class Node>
struct Chip_List_Build {
  Node head;
  Node tail;
};
}

%code {
namespace {

template <class Node>
Chip_List_Build<Node> list_start(Node node) {
  return Chip_List_Build<Node>{node, node};
}

// Links node after the list's last node. The node's own `next` is kept, as
// prepending kept it (a parenthesised comma list stays whole).
template <class Node>
Chip_List_Build<Node> list_append(Chip_List_Build<Node> list, Node node) {
  list.tail->next = node;
  list.tail = node;
  return list;
}

}  // namespace
}

%expect 74

%union {
  t_CPINT ival;
  t_CPFLOAT fval;
  c_str sval;
  Chip_List_Build<a_Program> program;
  a_Section section;
  Chip_List_Build<a_Stmt_List> stmt_list;
  a_Class_Def class_def;
  a_Class_Ext class_ext;
  a_Class_Body class_body;
  Chip_List_Build<a_Class_Body> class_sections;
  a_Stmt stmt;
  a_Exp exp;
  Chip_List_Build<a_Exp> exp_list;
  a_Func_Def func_def;
  Chip_List_Build<a_Var_Decl_List> var_decl_list;
  a_Var_Decl var_decl;
  a_Type_Decl type_decl;
  Chip_List_Build<a_Arg_List> arg_list;
  a_Id_List id_name;
  Chip_List_Build<a_Id_List> id_list;
  a_Array_Sub array_sub;
  a_Complex complex_exp;
  a_Polar polar_exp;
}

%token <sval> T_ID "identifier" T_STRING "string literal"
%token <ival> T_INT "integer literal"
%token <fval> T_FLOAT "float literal"

%token T_PLUSPLUS "++" T_MINUSMINUS "--" T_POUND_PAREN "#(" T_PERCENT_PAREN "%("
%token T_COMMA "," T_COLON ":" T_DOT "." T_SEMICOLON ";"
%token T_PLUS "+" T_MINUS "-" T_TIMES "*" T_DIVIDE "/" T_PERCENT "%"
%token T_POUND "#" T_DOLLAR "$" T_COLONCOLON "::"
%token T_EQ "==" T_NEQ "!=" T_LT "<" T_GT ">" T_LE "<=" T_GE ">="
%token T_AND "&&" T_OR "||" T_S_AND "&" T_S_OR "|" T_S_XOR "^"
%token T_SHIFT_RIGHT ">>" T_SHIFT_LEFT "<<" T_ASSIGN "="
%token T_LPAREN "(" T_RPAREN ")" T_LBRACK "[" T_RBRACK "]" T_LBRACE "{" T_RBRACE "}"
%token T_QUESTION "?" T_EXCLAMATION "!" T_TILDE "~"
%token T_CHIP "=>" T_UNCHIP "=<" T_UPCHIP "=^" T_AT_CHIP "@=>"
%token T_PLUS_CHIP "+=>" T_MINUS_CHIP "-=>" T_TIMES_CHIP "*=>" T_DIVIDE_CHIP "/=>"
%token T_S_AND_CHIP "&=>" T_S_OR_CHIP "|=>" T_S_XOR_CHIP "^=>"
%token T_SHIFT_RIGHT_CHIP ">>=>" T_SHIFT_LEFT_CHIP "<<=>" T_PERCENT_CHIP "%=>"
%token T_AT_SYM "@" T_ATAT_SYM "@@" T_ARROW_RIGHT "->" T_ARROW_LEFT "<-"
%token T_L_HACK "<<<" T_R_HACK ">>>"

%token T_FOR "for" T_WHILE "while" T_UNTIL "until" T_REPEAT "repeat"
%token T_CONTINUE "continue" T_BREAK "break" T_IF "if" T_ELSE "else" T_DO "do"
%token T_RETURN "return" T_FUNCTION "fun" T_NEW "new" T_CLASS "class"
%token T_INTERFACE "interface" T_EXTENDS "extends" T_IMPLEMENTS "implements"
%token T_PUBLIC "public" T_PROTECTED "protected" T_PRIVATE "private"
%token T_STATIC "static" T_PURE "pure" T_CONST "const" T_SPORK "spork"
%token T_TYPEOF "typeof"
/* Never produced by the scanner. */
%token T_SIZEOF "sizeof" T_SAME "same"

%type <program> program
%type <section> section class_section
%type <stmt_list> statement_list
%type <class_def> class_def
%type <class_ext> class_ext iface_ext
%type <class_body> class_body
%type <class_sections> class_sections
%type <id_list> id_list
%type <id_name> dotted_name
%type <func_def> func_def
%type <ival> class_access func_keyword static_keyword
%type <ival> chip_operator arrow_operator unary_operator
%type <type_decl> plain_type bracketed_type type_decl return_type
%type <arg_list> arg_list
%type <stmt> statement jump_statement selection_statement loop_statement
%type <stmt> code_block expression_statement
%type <exp_list> expression
%type <exp> chip_expression arrow_expression decl_expression
%type <exp> arrow_with_operator conditional_with_question
%type <exp> conditional_expression binary_expression unary_expression
%type <exp> unary_expression_prefixed postfix_with_suffix dur_with_unit
%type <exp> dur_expression postfix_expression primary_expression
%type <var_decl_list> var_decl_list
%type <var_decl> var_decl
%type <array_sub> array_sub empty_brackets
%type <complex_exp> complex_literal
%type <polar_exp> polar_literal

/* Binary operators, loosest first; all associate to the left. */
%left "||"
%left "&&"
%left "|"
%left "^"
%left "&"
%left "==" "!="
%left "<" ">" "<=" ">="
%left "<<" ">>"
%left "+" "-"
%left "*" "/" "%"
%left "~"
%precedence "$"

%start program

%%

/* ---- program and classes ---- */

program
  : section                 { $$ = list_start(new_program($1, POS)); g_program = $$.head; }
  | program section         { $$ = list_append($1, new_program($2, POS)); g_program = $$.head; }
  ;

section
  : statement_list          { $$ = new_section_stmt($1.head, POS); }
  | func_def                { $$ = new_section_func_def($1, POS); }
  | class_def               { $$ = new_section_class_def($1, POS); }
  ;

class_def
  : class_access "class" id_list "{" class_body "}"
      { $$ = new_class_def($1, $3.head, NULL, $5, POS); }
  | class_access "class" id_list class_ext "{" class_body "}"
      { $$ = new_class_def($1, $3.head, $4, $6, POS); }
  | class_access "interface" id_list "{" class_body "}"
      { $$ = new_iface_def($1, $3.head, NULL, $5, POS); }
  | class_access "interface" id_list iface_ext "{" class_body "}"
      { $$ = new_iface_def($1, $3.head, $4, $6, POS); }
  ;

class_ext
  : "implements" id_list                          { $$ = new_class_ext(NULL, $2.head, POS); }
  | "implements" id_list "extends" dotted_name    { $$ = new_class_ext($4, $2.head, POS); }
  | "extends" dotted_name                         { $$ = new_class_ext($2, NULL, POS); }
  | "extends" dotted_name "implements" id_list    { $$ = new_class_ext($2, $4.head, POS); }
  ;

iface_ext
  : "extends" id_list       { $$ = new_class_ext(NULL, $2.head, POS); }
  ;

class_body
  : class_sections          { $$ = $1.head; }
  | %empty                  { $$ = NULL; }
  ;

class_sections
  : class_section                   { $$ = list_start(new_class_body($1, POS)); }
  | class_sections class_section    { $$ = list_append($1, new_class_body($2, POS)); }
  ;

class_section
  : statement_list          { $$ = new_section_stmt($1.head, POS); }
  | func_def                { $$ = new_section_func_def($1, POS); }
  | class_def               { $$ = new_section_class_def($1, POS); }
  ;

id_list
  : T_ID                    { $$ = list_start(new_id_list($1, POS)); }
  | id_list "," T_ID        { $$ = list_append($1, new_id_list($3, POS)); }
  ;

dotted_name
  : T_ID                    { $$ = new_id_list($1, POS); }
  | T_ID "." dotted_name    { $$ = prepend_id_list($1, $3, POS); }
  ;

func_def
  : func_keyword static_keyword return_type T_ID "(" arg_list ")" code_block
      { $$ = new_func_def($1, $2, $3, $4, $6.head, $8, POS); }
  | func_keyword static_keyword return_type T_ID "(" ")" code_block
      { $$ = new_func_def($1, $2, $3, $4, NULL, $7, POS); }
  | func_keyword static_keyword return_type T_ID "(" arg_list ")" ";"
      { $$ = new_func_def($1, $2, $3, $4, $6.head, NULL, POS); }
  | func_keyword static_keyword return_type T_ID "(" ")" ";"
      { $$ = new_func_def($1, $2, $3, $4, NULL, NULL, POS); }
  ;

class_access
  : "public"                { $$ = ae_key_public; }
  | "private"               { $$ = ae_key_private; }
  | %empty                  { $$ = ae_key_private; }
  ;

func_keyword
  : "fun"                   { $$ = ae_key_func; }
  | "public"                { $$ = ae_key_public; }
  | "protected"             { $$ = ae_key_protected; }
  | "private"               { $$ = ae_key_private; }
  ;

static_keyword
  : "static"                { $$ = ae_key_static; }
  | "pure"                  { $$ = ae_key_abstract; }
  | %empty                  { $$ = ae_key_instance; }
  ;

plain_type
  : T_ID                    { $$ = new_type_decl(new_id_list($1, POS), 0, POS); }
  | T_ID "@"                { $$ = new_type_decl(new_id_list($1, POS), 1, POS); }
  ;

bracketed_type
  : "<" dotted_name ">"     { $$ = new_type_decl($2, 0, POS); }
  | "<" dotted_name ">" "@" { $$ = new_type_decl($2, 1, POS); }
  ;

type_decl
  : plain_type              { $$ = $1; }
  | bracketed_type          { $$ = $1; }
  ;

return_type
  : type_decl                   { $$ = $1; }
  | type_decl empty_brackets    { $$ = add_type_decl_array($1, $2, POS); }
  ;

arg_list
  : type_decl var_decl                  { $$ = list_start(new_arg_list($1, $2, POS)); }
  | arg_list "," type_decl var_decl     { $$ = list_append($1, new_arg_list($3, $4, POS)); }
  ;

/* ---- statements ---- */

statement_list
  : statement                   { $$ = list_start(new_stmt_list($1, POS)); }
  | statement_list statement    { $$ = list_append($1, new_stmt_list($2, POS)); }
  ;

statement
  : expression_statement
  | loop_statement
  | selection_statement
  | jump_statement
  | code_block
  ;

jump_statement
  : "return" ";"                { $$ = new_stmt_from_return(NULL, POS); }
  | "return" expression ";"     { $$ = new_stmt_from_return($2.head, POS); }
  | "break" ";"                 { $$ = new_stmt_from_break(POS); }
  | "continue" ";"              { $$ = new_stmt_from_continue(POS); }
  ;

selection_statement
  : "if" "(" expression ")" statement
      { $$ = new_stmt_from_if($3.head, $5, NULL, POS); }
  | "if" "(" expression ")" statement "else" statement
      { $$ = new_stmt_from_if($3.head, $5, $7, POS); }
  ;

loop_statement
  : "while" "(" expression ")" statement
      { $$ = new_stmt_from_while($3.head, $5, POS); }
  | "do" statement "while" "(" expression ")" ";"
      { $$ = new_stmt_from_do_while($5.head, $2, POS); }
  | "for" "(" expression_statement expression_statement ")" statement
      { $$ = new_stmt_from_for($3, $4, NULL, $6, POS); }
  | "for" "(" expression_statement expression_statement expression ")" statement
      { $$ = new_stmt_from_for($3, $4, $5.head, $7, POS); }
  | "until" "(" expression ")" statement
      { $$ = new_stmt_from_until($3.head, $5, POS); }
  | "do" statement "until" "(" expression ")" ";"
      { $$ = new_stmt_from_do_until($5.head, $2, POS); }
  | "repeat" "(" expression ")" statement
      { $$ = new_stmt_from_loop($3.head, $5, POS); }
  ;

code_block
  : "{" "}"                     { $$ = new_stmt_from_code(NULL, POS); }
  | "{" statement_list "}"      { $$ = new_stmt_from_code($2.head, POS); }
  ;

expression_statement
  : ";"                         { $$ = NULL; }
  | expression ";"              { $$ = new_stmt_from_expression($1.head, POS); }
  ;

/* ---- expressions, loosest binding first ---- */

expression
  : chip_expression                     { $$ = list_start($1); }
  | expression "," chip_expression      { $$ = list_append($1, $3); }
  ;

/* Each level's first operand reaches it without passing the levels in
 * between when no operator of theirs follows: a chip expression starts from a
 * declaration expression or from an arrow expression that has an arrow, a
 * declaration expression from a binary expression or from a conditional
 * expression that has its "?". */
chip_expression
  : decl_expression
  | arrow_with_operator
  | chip_expression chip_operator arrow_expression
      { $$ = new_exp_from_binary($1, $2, $3, POS); }
  ;

chip_operator
  : "=>"        { $$ = ae_op_chip; }
  | "@=>"       { $$ = ae_op_at_chip; }
  | "+=>"       { $$ = ae_op_plus_chip; }
  | "-=>"       { $$ = ae_op_minus_chip; }
  | "*=>"       { $$ = ae_op_times_chip; }
  | "/=>"       { $$ = ae_op_divide_chip; }
  | ">>=>"      { $$ = ae_op_shift_right_chip; }
  | "<<=>"      { $$ = ae_op_shift_left_chip; }
  | "%=>"       { $$ = ae_op_percent_chip; }
  | "=<"        { $$ = ae_op_unchip; }
  | "=^"        { $$ = ae_op_upchip; }
  | "&=>"       { $$ = ae_op_s_and_chip; }
  | "|=>"       { $$ = ae_op_s_or_chip; }
  | "^=>"       { $$ = ae_op_s_xor_chip; }
  ;

arrow_expression
  : decl_expression
  | arrow_with_operator
  ;

arrow_with_operator
  : arrow_expression arrow_operator decl_expression
      { $$ = new_exp_from_binary($1, $2, $3, POS); }
  ;

arrow_operator
  : "<-"        { $$ = ae_op_arrow_left; }
  | "->"        { $$ = ae_op_arrow_right; }
  ;

decl_expression
  : binary_expression
  | conditional_with_question
  | type_decl var_decl_list                 { $$ = new_exp_decl($1, $2.head, 0, POS); }
  | "static" type_decl var_decl_list        { $$ = new_exp_decl($2, $3.head, 1, POS); }
  | "same" var_decl_list                    { $$ = new_exp_decl(NULL, $2.head, 0, POS); }
  | "static" "same" var_decl_list           { $$ = new_exp_decl(NULL, $3.head, 1, POS); }
  ;

var_decl_list
  : var_decl                        { $$ = list_start(new_var_decl_list($1, POS)); }
  | var_decl_list "," var_decl      { $$ = list_append($1, new_var_decl_list($3, POS)); }
  ;

var_decl
  : T_ID                    { $$ = new_var_decl($1, NULL, POS); }
  | T_ID array_sub          { $$ = new_var_decl($1, $2, POS); }
  | T_ID empty_brackets     { $$ = new_var_decl($1, $2, POS); }
  ;

array_sub
  : "[" expression "]"              { $$ = new_array_sub($2.head, POS); }
  | "[" expression "]" array_sub    { $$ = prepend_array_sub($4, $2.head, POS); }
  ;

empty_brackets
  : "[" "]"                         { $$ = new_array_sub(NULL, POS); }
  | empty_brackets "[" "]"          { $$ = prepend_array_sub($1, NULL, POS); }
  ;

complex_literal
  : "#(" expression ")"     { $$ = new_complex($2.head, POS); }
  ;

polar_literal
  : "%(" expression ")"     { $$ = new_polar($2.head, POS); }
  ;

conditional_expression
  : binary_expression
  | conditional_with_question
  ;

conditional_with_question
  : binary_expression "?" expression ":" conditional_expression
      { $$ = new_exp_from_if($1, $3.head, $5, POS); }
  ;

/* Every binary level in one rule: the operators' precedences (declared
 * above, loosest first) and left associativity give the same trees as one
 * rule per level would, with far fewer reductions per operand. A cast
 * ("$" and a type) binds tighter than every binary operator. */
binary_expression
  : primary_expression
  | postfix_with_suffix
  | dur_with_unit
  | unary_expression_prefixed
  | binary_expression "||" binary_expression    { $$ = new_exp_from_binary($1, ae_op_or, $3, POS); }
  | binary_expression "&&" binary_expression    { $$ = new_exp_from_binary($1, ae_op_and, $3, POS); }
  | binary_expression "|" binary_expression     { $$ = new_exp_from_binary($1, ae_op_s_or, $3, POS); }
  | binary_expression "^" binary_expression     { $$ = new_exp_from_binary($1, ae_op_s_xor, $3, POS); }
  | binary_expression "&" binary_expression     { $$ = new_exp_from_binary($1, ae_op_s_and, $3, POS); }
  | binary_expression "==" binary_expression    { $$ = new_exp_from_binary($1, ae_op_eq, $3, POS); }
  | binary_expression "!=" binary_expression    { $$ = new_exp_from_binary($1, ae_op_neq, $3, POS); }
  | binary_expression "<" binary_expression     { $$ = new_exp_from_binary($1, ae_op_lt, $3, POS); }
  | binary_expression ">" binary_expression     { $$ = new_exp_from_binary($1, ae_op_gt, $3, POS); }
  | binary_expression "<=" binary_expression    { $$ = new_exp_from_binary($1, ae_op_le, $3, POS); }
  | binary_expression ">=" binary_expression    { $$ = new_exp_from_binary($1, ae_op_ge, $3, POS); }
  | binary_expression "<<" binary_expression    { $$ = new_exp_from_binary($1, ae_op_shift_left, $3, POS); }
  | binary_expression ">>" binary_expression    { $$ = new_exp_from_binary($1, ae_op_shift_right, $3, POS); }
  | binary_expression "+" binary_expression     { $$ = new_exp_from_binary($1, ae_op_plus, $3, POS); }
  | binary_expression "-" binary_expression     { $$ = new_exp_from_binary($1, ae_op_minus, $3, POS); }
  | binary_expression "*" binary_expression     { $$ = new_exp_from_binary($1, ae_op_times, $3, POS); }
  | binary_expression "/" binary_expression     { $$ = new_exp_from_binary($1, ae_op_divide, $3, POS); }
  | binary_expression "%" binary_expression     { $$ = new_exp_from_binary($1, ae_op_percent, $3, POS); }
  | binary_expression "~" binary_expression     { $$ = new_exp_from_binary($1, ae_op_tilda, $3, POS); }
  | binary_expression "$" type_decl             { $$ = new_exp_from_cast($3, $1, POS); }
  ;

/* An operand of a binary operator goes straight to a binary_expression from
 * the level where it is complete (a primary expression, a postfix or a
 * duration form, a prefixed form) without the levels in between. */
unary_expression
  : dur_expression
  | unary_expression_prefixed
  ;

unary_expression_prefixed
  : "++" unary_expression               { $$ = new_exp_from_unary(ae_op_plusplus, $2, POS); }
  | "--" unary_expression               { $$ = new_exp_from_unary(ae_op_minusminus, $2, POS); }
  | unary_operator unary_expression     { $$ = new_exp_from_unary($1, $2, POS); }
  | "typeof" unary_expression           { $$ = new_exp_from_unary(ae_op_typeof, $2, POS); }
  | "sizeof" unary_expression           { $$ = new_exp_from_unary(ae_op_sizeof, $2, POS); }
  | "new" type_decl                     { $$ = new_exp_from_unary2(ae_op_new, $2, NULL, POS); }
  | "new" type_decl array_sub           { $$ = new_exp_from_unary2(ae_op_new, $2, $3, POS); }
  | "spork" "~" code_block              { $$ = new_exp_from_unary3(ae_op_spork, $3, POS); }
  ;

unary_operator
  : "+"             { $$ = ae_op_plus; }
  | "-"             { $$ = ae_op_minus; }
  | "~"             { $$ = ae_op_tilda; }
  | "!"             { $$ = ae_op_exclamation; }
  | "*"             { $$ = ae_op_times; }
  | "spork" "~"     { $$ = ae_op_spork; }
  ;

dur_expression
  : postfix_expression
  | dur_with_unit
  ;

dur_with_unit
  : dur_expression "::" postfix_expression  { $$ = new_exp_from_dur($1, $3, POS); }
  ;

postfix_expression
  : primary_expression
  | postfix_with_suffix
  ;

postfix_with_suffix
  : postfix_expression array_sub            { $$ = new_exp_from_array($1, $2, POS); }
  | postfix_expression "(" ")"              { $$ = new_exp_from_func_call($1, NULL, POS); }
  | postfix_expression "(" expression ")"   { $$ = new_exp_from_func_call($1, $3.head, POS); }
  | postfix_expression "." T_ID             { $$ = new_exp_from_member_dot($1, $3, POS); }
  | postfix_expression "++"                 { $$ = new_exp_from_postfix($1, ae_op_plusplus, POS); }
  | postfix_expression "--"                 { $$ = new_exp_from_postfix($1, ae_op_minusminus, POS); }
  ;

primary_expression
  : T_ID                    { $$ = new_exp_from_id($1, POS); }
  | T_INT                   { $$ = new_exp_from_int($1, POS); }
  | T_FLOAT                 { $$ = new_exp_from_float($1, POS); }
  | T_STRING                { $$ = new_exp_from_str($1, POS); }
  | array_sub               { $$ = new_exp_from_array_lit($1, POS); }
  | complex_literal         { $$ = new_exp_from_complex($1, POS); }
  | polar_literal           { $$ = new_exp_from_polar($1, POS); }
  | "<<<" expression ">>>"  { $$ = new_exp_from_hack($2.head, POS); }
  | "(" expression ")"      { $$ = $2.head; }
  | "(" ")"                 { $$ = new_exp_from_nil(POS); }
  ;

%%

void yyerror(const char* msg) {
  // After a scanner fault the parser only sees a cut-off source: that fault
  // was the error, so it is not reported a second time.
  if (chip_lex_failed()) return;
  EM_error(EM_tokPos, "%s", msg);
}
