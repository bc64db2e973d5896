// The language classes JCRev, NRev and KestRev: registration by the toolkit
// module, the `mix` setter and getter from a program, and the dry path of a
// program's reverberator on a machine that plays known input through adc.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"
#include "emit_test_support.h"
#include "syn_program_support.h"

namespace {

// Programs with the toolkit module loaded (at the machines' 16 kHz).
class SynReverbProgramTest : public SynProgramTest {
 protected:
  SynReverbProgramTest() : SynProgramTest("reverb.chip") {}
};

TEST_F(SynReverbProgramTest, MixIsSetAndReadFromAProgramAsGiven) {
  Lines printed =
      run("JCRev j; NRev n; KestRev k;\n"
          "<<< j.mix(), n.mix(), k.mix() >>>;\n"
          "<<< j.mix(2.0), n.mix(-0.5), k.mix(0.25) >>>;\n"
          "<<< j.mix(), n.mix(), k.mix() >>>;\n"
          "<<< j.mix(10000000.0) >>>;\n");
  // The stored values are single precision; a mix beyond any sense is held
  // to the largest magnitude, with a message.
  Lines want = {floats({double(0.3f), double(0.3f), 0.5}), floats({2.0, -0.5, 0.25}),
                floats({2.0, -0.5, 0.25}),
                "[chip](via SYN): JCRev: setEffectMix parameter is out of range!",
                "1000000.000000 :(float)"};
  EXPECT_EQ(printed, want);
}

// A machine that plays its own audio callback, so adc carries known input.
class SynReverbMachineTest : public SynReverbProgramTest {
 protected:
  static const t_CPUINT kFrames = 8;
};

TEST_F(SynReverbMachineTest, TheDryShareOfTheInputComesOutBeforeAnyEcho) {
  // Every wet path is longer than the callback, so the first samples are
  // (1 - mix) times the input, adc's mean of (i + 1, 10 (i + 1)).
  struct Case {
    const char* cls;
    const char* mix;
    double share;
  };
  const Case cases[] = {{"JCRev", "0.0", 1.0},   {"NRev", "0.0", 1.0},   {"KestRev", "0.0", 1.0},
                        {"JCRev", "0.25", 0.75}, {"NRev", "0.25", 0.75}, {"KestRev", "0.25", 0.75},
                        {"JCRev", "1.0", 0.0},   {"NRev", "1.0", 0.0},   {"KestRev", "1.0", 0.0}};
  std::string source, print = "<<< adc.last()";
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "r" + std::to_string(n++);
    source += std::string("adc => ") + c.cls + " " + name + " => blackhole;\n";
    source += std::string(c.mix) + " => " + name + ".mix;\n";
    print += ", " + name + ".last()";
  }
  // Each line: the input and every output of the sample before.
  source += "for (0 => int i; i < 7; i++) {\n  1::samp => now;\n  " + print + " >>>;\n}\n";

  Chip_VM* machine = make_rt_vm(kFrames);
  ASSERT_NE(machine, nullptr);
  Chip_VM_Code* code = compile(source);
  ASSERT_NE(code, nullptr) << source;
  ASSERT_NE(machine->spork(code, nullptr), nullptr);
  Lines printed = printed_lines([&] { play_ramp(machine, kFrames); });

  Lines want;
  for (int i = 0; i < 7; i++) {
    double in = 5.5 * (i + 1);
    std::string line = floats({in});
    for (const Case& c : cases) line += floats({double(static_cast<float>(c.share * in))});
    want.push_back(line);
  }
  EXPECT_EQ(printed, want) << source;
}

}  // namespace
