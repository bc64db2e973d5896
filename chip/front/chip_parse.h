// Parsing one Chip source into a syntax tree.
//
// chip_parse runs the generated LALR(1) parser (chip.y) over the generated
// scanner (chip.lex) on a file, an open stream or a code string, and leaves
// the root of the tree in g_program. Everything the parse allocates belongs to
// a pool of its own: on success the pool travels with the tree (the caller
// owns the tree and frees it with delete_program); on failure chip_parse frees
// the partial tree itself and g_program stays null. The first syntax error
// ends the parse; errors are reported through the error module with the file
// name, line and character.
//
// Not re-entrant: the scanner state, g_program, g_filename and the error
// module's position state are process-wide, and one parse runs at a time.
#ifndef CHIP_CHIP_PARSE_H
#define CHIP_CHIP_PARSE_H

#include <cstddef>
#include <cstdio>

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"

// Capacity of g_filename, terminator included.
enum { CHIP_FILENAME_MAX = 1024 };

// Deepest nesting a source may have: expressions inside expressions (a
// chain `a + b + c ...` nests one level per operator), statements inside
// statements, class definitions inside class definitions, counted together
// from the top of the file. The passes after the parser recurse once per
// level, so a deeper tree could exhaust the native stack; it is refused
// with "expression nested too deeply" (or "statement ...", "class
// definition ...") at the line where the limit is passed. The parser's own
// stack (10000 entries) limits some nestings earlier ("memory exhausted").
enum { CHIP_MAX_NESTING = 2000 };

// Root of the tree of the last successful parse (null before each parse and
// after a failed one).
extern a_Program g_program;
// Name of the file being parsed. A name that does not fit is cut for the
// messages of a stream or code parse, and refused when the file itself would
// have to be opened by that name.
extern char g_filename[CHIP_FILENAME_MAX];

// Parses one source. fname is always given; fd is an open stream (rewound
// before parsing, not closed) or null; code is the source text or null. With
// neither, the file fname is opened (see open_cat_chip). Returns TRUE when the
// source parsed, and nests no deeper than CHIP_MAX_NESTING, with the tree in
// g_program.
t_CPBOOL chip_parse(c_constr fname, FILE* fd, c_constr code);

// Whether the file fname can be opened as chip_parse would open it; FALSE
// after the same "no such file or directory" error. The driver checks every
// file this way before it opens the audio device.
t_CPBOOL chip_source_exists(c_constr fname);

// Forgets the current file for error messages.
void reset_parse();

// Opens path for binary reading. When that fails and path contains neither
// ".chip" nor ".CHIP", appends ".chip" to path in place (only if the result
// fits in capacity bytes) and tries once more. Returns the stream or null.
FILE* open_cat_chip(c_str path, size_t capacity = CHIP_FILENAME_MAX);

// ---------------------------------------------------------------------------
// Scanner entry points (chip.lex), for the parser and for tests.

// Running character position after the current token (each source starts
// at 1).
extern int char_pos;

// Points the scanner at a new source: position 1, fault flag cleared.
void chip_lex_begin(FILE* stream);
// Releases the scanner's buffers; the next chip_lex_begin starts afresh.
void chip_lex_end();
// TRUE when a scanner fault ended the current source (it was reported
// through EM_error2 at line 0, and the parser was given end of input).
t_CPBOOL chip_lex_failed();
// The next token kind (0 at end of input); its value is in yylval.
int yylex();

#endif
