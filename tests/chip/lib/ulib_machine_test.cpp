// The Machine class where scripts cannot show it: the crash of the whole
// program, and calls made when no machine was there to store.
#include "chip/lib/ulib_machine.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <fstream>
#include <string>

#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "process_support.h"

namespace {

TEST(MachineCrash, WritesItsLineAndAborts) {
  std::ofstream(::testing::TempDir() + "crash.chip") << R"(
<<< "before" >>>;
Machine.crash();
<<< "after" >>>;
)";
  ChipProcess chip(::testing::TempDir(), {"crash.chip"});
  const std::string& out = chip.finish();
  EXPECT_EQ(chip.signal(), SIGABRT) << out;
  size_t before = out.find("\"before\" : (string)\n");
  size_t crashing = out.find("[chip]: crashing...\n");
  ASSERT_NE(before, std::string::npos) << out;
  ASSERT_NE(crashing, std::string::npos) << out;
  EXPECT_LT(before, crashing);
  EXPECT_EQ(out.find("after"), std::string::npos) << out;
}

t_CPUINT g_handled = 0;
t_CPUINT count_handler(Chip_VM*, Chip_Compiler*, Net_Msg* msg, t_CPUINT immediate, void*) {
  g_handled++;
  EXPECT_EQ(immediate, 1u);
  EXPECT_EQ(msg->header, NET_HEADER);
  return 7;
}

TEST(MachineModule, CallsWithoutAMachineAnswerZero) {
  Chip_VM* saved = g_vm;
  g_vm = nullptr;
  machine_init(nullptr, count_handler);
  Chip_String path("x.chip");
  t_CPWORD args[2] = {reinterpret_cast<t_CPWORD>(&path), 0};
  std::vector<std::string> printed = printed_lines([&] {
    Chip_DL_Return r;
    machine_add_impl(args, &r, nullptr);
    EXPECT_EQ(r.v_int, 0);
    machine_status_impl(nullptr, &r, nullptr);
    EXPECT_EQ(r.v_int, 0);
  });
  EXPECT_EQ(g_handled, 0u);
  EXPECT_EQ(printed,
            (std::vector<std::string>{"[chip]: Machine.add: no virtual machine to ask...",
                                      "[chip]: Machine.status: no virtual machine to ask..."}));
  g_vm = saved;
}

TEST(MachineModule, PacketsCarryTheTypeIdAndPath) {
  Chip_VM vm;
  Chip_VM* saved = g_vm;
  g_vm = &vm;
  static Net_Msg seen;
  machine_init(nullptr, [](Chip_VM*, Chip_Compiler*, Net_Msg* msg, t_CPUINT, void*) -> t_CPUINT {
    seen = *msg;
    return 0xFFFFFFF0;
  });
  g_vm = saved;
  Chip_String path("f.chip:a:b");
  t_CPWORD args[2] = {-1, reinterpret_cast<t_CPWORD>(&path)};
  Chip_DL_Return r;
  machine_remove_impl(args, &r, nullptr);
  EXPECT_EQ(r.v_int, -16);
  EXPECT_EQ(seen.type, 2u);
  EXPECT_EQ(seen.param, -1);
  EXPECT_EQ(seen.buffer[0], '\0');
  machine_replace_impl(args, &r, nullptr);
  EXPECT_EQ(seen.type, 4u);
  EXPECT_EQ(seen.param, -1);
  EXPECT_STREQ(seen.buffer, "f.chip:a:b");
  EXPECT_EQ(seen.param2, 0);
  // A path of 511 characters fits with its zero.
  Chip_String longest(std::string(511, 'p'));
  args[0] = reinterpret_cast<t_CPWORD>(&longest);
  machine_add_impl(args, &r, nullptr);
  EXPECT_EQ(seen.type, 1u);
  EXPECT_EQ(std::strlen(seen.buffer), 511u);
  machine_init(nullptr, nullptr);
}

}  // namespace
