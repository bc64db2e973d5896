// The language classes of the strings, the banded waveguide, the mesh and
// the band-limited oscillators, driven by programs: every member and
// control with hostile values (-1e30, -1, 0, 0.5, 1, 2, 1e30, NaN, +-inf)
// keeps the output finite, and a normal note sounds afterwards (the
// machines run at 16 kHz).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syn_program_support.h"

namespace {

class SynStringsProgramTest : public SynProgramTest {
 protected:
  SynStringsProgramTest() : SynProgramTest("strings.chip") {}
};

struct HostileCase {
  const char* cls;
  std::vector<std::string> calls;  // with v standing for the hostile value
  const char* normal;              // a normal note afterwards
};

// The program: each call with each value, 20 samples after each, counting
// samples that are not finite; then the normal note, its loudest sample.
std::string hostile_program(const HostileCase& c) {
  // The engine's library is not loaded here: 1e30, infinity and NaN are
  // made by arithmetic, and tested by comparison.
  std::string source =
      "1.0 => float big;\n"
      "for (0 => int i; i < 30; i++) 10.0 *=> big;\n"
      "big * big * big * big * big * big * big * big * big * big * big => float inf;\n"
      "[-big, -1.0, 0.0, 0.5, 1.0, 2.0, big, inf - inf, inf, -inf] @=> float vals[];\n"
      "Step input => ";
  source += c.cls;
  source += " x => blackhole;\n0 => int bad;\n"
            "fun void run(int n) {\n"
            "  for (0 => int k; k < n; k++) {\n"
            "    x.last() => float y;\n"
            "    if (y != y || y == inf || y == -inf) 1 +=> bad;\n"
            "    1::samp => now;\n"
            "  }\n"
            "}\n"
            "for (0 => int i; i < vals.size(); i++) {\n"
            "  vals[i] => float v;\n";
  for (const std::string& call : c.calls) source += "  " + call + ";\n  run(20);\n";
  source += "}\n";
  source += c.normal;
  source += "\n0.0 => float peak;\n"
            "for (0 => int k; k < 2000; k++) {\n"
            "  x.last() => float y;\n"
            "  if (y < 0.0) -y => y;\n"
            "  if (y > peak) y => peak;\n"
            "  1::samp => now;\n"
            "}\n"
            "<<< \"bad\", bad, \"sounds\", peak > 0.0001, \"finite\", peak < 100.0 >>>;\n";
  return source;
}

std::vector<std::string> controls(std::initializer_list<int> numbers) {
  std::vector<std::string> calls;
  for (int n : numbers) {
    calls.push_back("x.controlChange(" + std::to_string(n) + ", v)");
    calls.push_back("x.controlChange(" + std::to_string(n) + ", v * 128.0)");
  }
  return calls;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(SynStringsProgramTest, EveryMemberAndControlSurvivesHostileValues) {
  const std::vector<std::string> input = {"v => input.next", "0.0 => input.next"};
  const HostileCase cases[] = {
      {"Bowed",
       join({"x.startBowing(v)", "x.stopBowing(v)", "x.bowPressure(v)", "x.bowPosition(v)",
             "x.vibratoFreq(v)", "x.vibratoGain(v)", "x.volume(v)", "x.noteOn(v)",
             "x.noteOff(v)", "x.freq(v)"},
            controls({1, 2, 4, 11, 128, 3})),
       "x.bowPressure(0.5); x.bowPosition(0.5); x.vibratoGain(0.0); x.volume(1.0); "
       "x.freq(220.0); x.noteOn(0.8);"},
      {"BandedWG",
       join({"x.pluck(v)", "x.startBowing(v)", "x.stopBowing(v)", "x.bowRate(v)",
             "x.bowPressure(v)", "x.bowMotion(v)", "x.integrationConstant(v)",
             "x.modesGain(v)", "x.strikePosition(v)", "x.noteOn(v)", "x.noteOff(v)",
             "x.freq(v)", "x.preset(-2147483647)", "x.preset(2147483647)"},
            controls({1, 2, 4, 8, 11, 16, 64, 65, 128, 3})),
       "x.bowPressure(0.0); x.modesGain(1.0); x.preset(0); x.freq(220.0); x.noteOn(0.8);"},
      {"Mandolin",
       join({"x.pluck(v)", "x.pluckPos(v)", "x.bodySize(v)", "x.stringDamping(v)",
             "x.stringDetune(v)", "x.afterTouch(v)", "x.noteOn(v)", "x.noteOff(v)",
             "x.freq(v)"},
            controls({1, 2, 4, 11, 128, 3})),
       "x.pluckPos(0.4); x.bodySize(1.0); x.stringDamping(0.8); x.stringDetune(0.05); "
       "x.freq(220.0); x.noteOn(0.8);"},
      {"Sitar", {"x.pluck(v)", "x.clear(v)", "x.noteOn(v)", "x.noteOff(v)", "x.freq(v)"},
       "x.noteOff(0.0); x.freq(220.0); x.noteOn(0.8);"},
      {"StifKarp",
       join({"x.pluck(v)", "x.clear(v)", "x.pickupPosition(v)", "x.stretch(v)", "x.sustain(v)",
             "x.baseLoopGain(v)", "x.noteOn(v)", "x.noteOff(v)", "x.freq(v)"},
            controls({1, 4, 11, 3})),
       "x.pickupPosition(0.4); x.stretch(0.9); x.baseLoopGain(0.995); x.freq(220.0); "
       "x.noteOn(0.8);"},
      {"Blit", {"x.freq(v)", "x.phase(v)", "x.harmonics(-2147483647 - 1)"},
       "x.harmonics(0); x.freq(220.0); x.phase(0.0);"},
      {"BlitSaw", {"x.freq(v)", "x.phase(v)", "x.harmonics(-2147483647 - 1)"},
       "x.harmonics(0); x.freq(220.0); x.phase(0.0);"},
      {"BlitSquare", {"x.freq(v)", "x.phase(v)", "x.harmonics(-2147483647 - 1)"},
       "x.harmonics(0); x.freq(220.0); x.phase(0.0);"},
      {"Mesh2D",
       join(join({"x.decay(v)", "x.noteOn(v, v)", "x.noteOn(0.0, v)", "x.inputPosition(v, v)",
                  "x.inputPosition(0.5, v)", "x.noteOff(v)", "x.nx(-2147483647 - 1)",
                  "x.ny(2147483647)", "x.nx(65547)"},
                 input),
            controls({1, 2, 4, 11, 128, 3})),
       "x.nx(5); x.ny(5); x.decay(0.999); x.inputPosition(0.5, 0.5); x.noteOn(0.0, 1.0);"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.cls);
    const Lines printed = run(hostile_program(c));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back(), "bad 0 sounds 1 finite 1 ");
    // Messages are reported, not repeated every sample.
    EXPECT_LT(printed.size(), 400u);
  }
}

TEST_F(SynStringsProgramTest, BareBLTSpeaksOnceAndRecords) {
  const Lines printed = run(
      "BLT b => blackhole;\n"
      "<<< b.freq(), b.phase(), b.harmonics() >>>;\n"
      "10::samp => now;\n"
      "<<< b.freq(-1.0), b.harmonics(-5), b.last() >>>;\n");
  const Lines want = {floats({220.0, 0.0}) + "0 ", "BLT is virtual!",
                      floats({220.0}) + "5 " + floats({0.0})};
  EXPECT_EQ(printed, want);
}

}  // namespace
