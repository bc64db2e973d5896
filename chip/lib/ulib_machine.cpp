// The module "Machine": the script class Machine.
#include "chip/lib/ulib_machine.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"

namespace {

Chip_VM* the_vm = nullptr;
Chip_Compiler* the_compiler = nullptr;
f_otf_handler the_func = nullptr;

// Copies the path into the packet; FALSE (with a message) when it is null
// or does not fit.
bool put_path(Net_Msg* msg, Chip_String* path, const char* what) {
  if (!path) {
    EM_printf("[chip]: Machine.%s: null path...\n", what);
    return false;
  }
  size_t len = path->str.size();
  if (len >= NET_BUFFER_SIZE || std::memchr(path->str.data(), 0, len)) {
    EM_printf("[chip]: Machine.%s: path too long (%zu characters, at most %d)...\n", what, len,
              NET_BUFFER_SIZE - 1);
    return false;
  }
  std::memcpy(msg->buffer, path->str.c_str(), len + 1);
  return true;
}

// Hands the packet to the handler at once; 0 when there is none.
t_CPINT process(Net_Msg* msg, const char* what) {
  if (!the_vm || !the_func) {
    EM_printf("[chip]: Machine.%s: no virtual machine to ask...\n", what);
    return 0;
  }
  return static_cast<t_CPINT>(the_func(the_vm, the_compiler, msg, 1, nullptr));
}

}  // namespace

t_CPBOOL machine_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  QUERY->setname(QUERY, "Machine");
  type_engine_register_deprecate(env, "machine", "Machine");
  QUERY->begin_class(QUERY, "Machine", "Object");
  QUERY->add_sfun(QUERY, machine_add_impl, "int", "add");
  QUERY->add_arg(QUERY, "string", "path");
  QUERY->add_sfun(QUERY, machine_remove_impl, "int", "remove");
  QUERY->add_arg(QUERY, "int", "id");
  QUERY->add_sfun(QUERY, machine_replace_impl, "int", "replace");
  QUERY->add_arg(QUERY, "int", "id");
  QUERY->add_arg(QUERY, "string", "path");
  QUERY->add_sfun(QUERY, machine_crash_impl, "void", "crash");
  QUERY->add_sfun(QUERY, machine_status_impl, "int", "status");
  QUERY->end_class(QUERY);
  return TRUE;
}

t_CPBOOL machine_init(Chip_Compiler* compiler, f_otf_handler handler) {
  the_vm = g_vm;
  the_compiler = compiler;
  the_func = handler;
  return TRUE;
}

void machine_add_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Net_Msg msg = net_msg(1, 0);
  RETURN->v_int = put_path(&msg, GET_NEXT_STRING(ARGS), "add") ? process(&msg, "add") : 0;
}

void machine_remove_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Net_Msg msg = net_msg(2, GET_NEXT_INT(ARGS));
  RETURN->v_int = process(&msg, "remove");
}

void machine_replace_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT id = GET_NEXT_INT(ARGS);
  Net_Msg msg = net_msg(4, id);
  RETURN->v_int = put_path(&msg, GET_NEXT_STRING(ARGS), "replace") ? process(&msg, "replace") : 0;
}

void machine_status_impl(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Net_Msg msg = net_msg(5, 0);
  RETURN->v_int = process(&msg, "status");
}

void machine_crash_impl(void*, Chip_DL_Return*, Chip_VM_Shred*) {
  // What the script printed before comes first; the line itself bypasses
  // the log, whose thread would not live to write it.
  EM_flush();
  static const char line[] = "[chip]: crashing...\n";
  ssize_t n = write(STDERR_FILENO, line, sizeof line - 1);
  (void)n;
  std::abort();
}
