#include "chip/front/chip_symbol.h"

#include <cstdlib>
#include <cstring>

#include "chip/util/chip_errmsg.h"

namespace {

S_Symbol hashtable[S_TABLE_SIZE];

// Symbols live for the whole process, so they are not allocated from a
// tree's pool.
void* symbol_alloc(size_t size) {
  void* p = std::calloc(1, size);
  if (!p) {
    EM_error2(0, "out of memory!\n");
    std::exit(1);
  }
  return p;
}

}  // namespace

t_CPUINT S_bucket(c_constr name) {
  t_CPUINT h = 0;
  for (c_constr s = name; *s; s++) {
    h = h * 65599u + static_cast<t_CPUINT>(static_cast<int32_t>(static_cast<signed char>(*s)));
  }
  return h % S_TABLE_SIZE;
}

S_Symbol insert_symbol(c_constr name) {
  t_CPUINT index = S_bucket(name);
  for (S_Symbol sym = hashtable[index]; sym; sym = sym->next) {
    if (std::strcmp(sym->name, name) == 0) return sym;
  }
  size_t len = std::strlen(name);
  S_Symbol sym = static_cast<S_Symbol>(symbol_alloc(sizeof(S_Symbol_)));
  sym->name = static_cast<c_str>(symbol_alloc(len + 1));
  std::memcpy(sym->name, name, len + 1);
  sym->next = hashtable[index];
  hashtable[index] = sym;
  return sym;
}

c_str S_name(S_Symbol sym) { return sym->name; }
