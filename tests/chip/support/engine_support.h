// An engine in process, as the chip program makes one to serve on-the-fly
// requests: a machine with audio off that keeps running without shreds
// (halt off), at 16 kHz, with dac and adc; a compiler for it; g_vm set while
// it lives. Requests are packets (in host order) as the Machine class and
// the client build them, carried out at once or queued for the machine.
#ifndef TESTS_CHIP_ENGINE_SUPPORT_H
#define TESTS_CHIP_ENGINE_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "chip/driver/chip_compile.h"
#include "chip/otf/chip_otf.h"
#include "chip/vm/chip_vm.h"

// A request packet: header, type, id, the token (cut to the buffer), and
// the size and length fields of a file transfer.
inline Net_Msg packet(t_CPUINT type, t_CPINT param, const std::string& token = "",
                      t_CPINT param2 = 0, t_CPINT length = 0) {
  Net_Msg msg;
  std::memset(&msg, 0, sizeof msg);
  msg.header = NET_HEADER;
  msg.type = type;
  msg.param = param;
  msg.param2 = param2;
  msg.length = length;
  std::memcpy(msg.buffer, token.data(), std::min(token.size(), sizeof msg.buffer));
  return msg;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vm = new Chip_VM;
    g_vm = vm;
    ASSERT_TRUE(vm->initialize(FALSE, FALSE, 16000, 256, 4, 0, 0, 2, 2, TRUE, 0));
    compiler = new Chip_Compiler;
    ASSERT_TRUE(compiler->initialize(vm));
    ASSERT_TRUE(vm->initialize_synthesis());
  }

  void TearDown() override {
    g_vm = nullptr;
    delete vm;
    delete compiler;
  }

  // Carries the request out at once (as the Machine class asks), or queues
  // it for the machine.
  t_CPUINT process(Net_Msg msg, t_CPUINT immediate = 1) {
    return otf_process_msg(vm, compiler, &msg, immediate, nullptr);
  }

  Chip_VM* vm = nullptr;
  Chip_Compiler* compiler = nullptr;
};

#endif
