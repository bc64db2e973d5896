// The on-the-fly request processing in process, on a machine and compiler
// of the test's own: packets as the Machine class builds them, and the
// packets that must be refused.
#include "chip/otf/chip_otf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "chip/driver/chip_compile.h"
#include "chip/vm/chip_vm.h"
#include "engine_support.h"
#include "log_capture.h"

namespace {

class OtfProcess : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir = ::testing::TempDir();
    std::ofstream(dir + "otf_child.chip") << "<<< \"child\", me.args() >>>;\n1::second => now;\n";
  }

  std::string dir;
};

TEST_F(OtfProcess, AddCompilesAndSporksWithTheArguments) {
  t_CPUINT id = 0;
  printed_lines([&] { id = process(packet(OTF_ADD, 0, dir + "otf_child.chip:one:two")); });
  EXPECT_EQ(id, 1u);
  Chip_VM_Shred* shred = vm->shreduler()->lookup(id);
  ASSERT_NE(shred, nullptr);
  EXPECT_EQ(shred->args, (std::vector<std::string>{"one", "two"}));
  EXPECT_NE(shred->name.find("otf_child.chip"), std::string::npos);
  EXPECT_EQ(process(packet(OTF_STATUS, 0)), 0xFFFFFFF0u);
  printed_lines([&] { EXPECT_EQ(process(packet(OTF_REMOVE, -1)), 1u); });
}

TEST_F(OtfProcess, QueuedRequestsWaitForTheMachine) {
  EXPECT_EQ(process(packet(OTF_ADD, 0, dir + "otf_child.chip"), 0), 1u);
  EXPECT_EQ(vm->num_shreds(), 0u);
  printed_lines([&] { vm->compute(); });
  EXPECT_EQ(vm->num_shreds(), 1u);
}

TEST_F(OtfProcess, BadPacketsAreRefused) {
  struct Case {
    const char* name;
    Net_Msg msg;
    std::vector<std::string> printed;
  };
  Net_Msg unterminated = packet(OTF_ADD, 0);
  std::memset(unterminated.buffer, 'a', sizeof unterminated.buffer);
  Net_Msg streamed = packet(OTF_ADD, 0, "dir/streamed.chip:x");
  streamed.param2 = 100;
  std::vector<Case> cases = {
      {"type 6", packet(6, 0), {"[chip]: unrecognized incoming command from network: '6'"}},
      {"type 12", packet(12, 0), {"[chip]: unrecognized incoming command from network: '12'"}},
      {"no file name",
       packet(OTF_ADD, 0, ":abc"),
       {"[chip]: malformed filename with argument list...", "    -->  ':abc'"}},
      {"no zero in the buffer",
       unterminated,
       {"[chip]: malformed filename with argument list...",
        "    -->  '" + std::string(sizeof unterminated.buffer, 'a') + "'"}},
      {"a streamed source",
       streamed,
       {"[chip]: incoming source transfer 'streamed.chip' failed..."}},
      {"a file that does not compile",
       packet(OTF_REPLACE, 1, dir + "no_such.chip"),
       {"[no_such.chip]: no such file or directory"}},
  };
  for (const Case& c : cases) {
    t_CPUINT result = 99;
    std::vector<std::string> printed = printed_lines([&] { result = process(c.msg); });
    EXPECT_EQ(result, 0u) << c.name;
    EXPECT_EQ(printed, c.printed) << c.name;
  }
  EXPECT_EQ(vm->num_shreds(), 0u);
}

TEST_F(OtfProcess, AbortAnswersOneAtOnce) {
  printed_lines([&] { EXPECT_EQ(process(packet(OTF_ABORT, 0), 0), 1u); });
}

}  // namespace
