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
