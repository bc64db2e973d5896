// The on-the-fly request processing.
#include "chip/otf/chip_otf.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "chip/util/util_string.h"
#include "chip/vm/chip_vm.h"

namespace {

f_otf_compile g_compile = nullptr;

}  // namespace

void otf_set_compile(f_otf_compile compile) { g_compile = compile; }

t_CPUINT otf_process_msg(Chip_VM* vm, Chip_Compiler* compiler, Net_Msg* msg, t_CPUINT immediate,
                         void*) {
  if (!vm || !msg) return 0;
  Chip_Msg* request = new Chip_Msg;

  if (msg->type == OTF_ADD || msg->type == OTF_REPLACE) {
    // The token must end inside the buffer.
    size_t len = strnlen(msg->buffer, NET_BUFFER_SIZE);
    std::string token(msg->buffer, len);
    std::string filename;
    std::vector<std::string> args;
    if (len == NET_BUFFER_SIZE || !extract_args(token, filename, args)) {
      EM_printf("[chip]: malformed filename with argument list...\n");
      EM_printf("    -->  '%s'", token.c_str());
      delete request;
      return 0;
    }
    if (!args.empty()) {
      std::memset(msg->buffer, 0, NET_BUFFER_SIZE);
      std::memcpy(msg->buffer, filename.c_str(),
                  std::min(filename.size(), size_t(NET_BUFFER_SIZE - 1)));
      request->args = new std::vector<std::string>(args);
    }
    if (msg->param2 != 0 && msg->param2 != -1) {
      // A source streamed over the connection: not received by this engine.
      EM_printf("[chip]: incoming source transfer '%s' failed...\n", mini(filename.c_str()));
      delete request;
      return 0;
    }
    Chip_VM_Code* code = nullptr;
    if (!g_compile || !g_compile(compiler, filename, nullptr, &code) || !code) {
      if (!g_compile)
        EM_printf("[chip]: no compiler for incoming source '%s'...\n", filename.c_str());
      delete request;
      return 0;
    }
    code->name += filename;
    request->kind = msg->type;
    request->code = code;
    if (msg->type == OTF_REPLACE) request->param = static_cast<t_CPUINT>(msg->param);
  } else if (msg->type == OTF_REMOVE || msg->type == OTF_REMOVEALL || msg->type == OTF_STATUS ||
             msg->type == OTF_KILL || msg->type == OTF_TIME || msg->type == OTF_RESET_ID) {
    request->kind = msg->type;
    request->param = static_cast<t_CPUINT>(msg->param);
  } else if (msg->type == OTF_ABORT) {
    vm->abort_current_shred();
    delete request;
    return 1;
  } else {
    EM_printf("[chip]: unrecognized incoming command from network: '%i'\n",
              static_cast<int>(msg->type));
    delete request;
    return 0;
  }

  // The machine owns the request from here.
  if (immediate) return vm->process_msg(request);
  vm->queue_msg(request, 1);
  return 1;
}
