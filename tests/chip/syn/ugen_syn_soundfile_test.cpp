// The language classes WvIn, WaveLoop, WvOut, Chorus, PitShift, FM and the
// FM voices from programs: registration, recording a sine and reading it
// back, every format's output scale, automatic names, the shutdown hook
// closing what scripts left open (also through the chip program), and the
// members' values and messages. Files go to temporary folders only.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "chip/lib/ugen_osc.h"
#include "chip/syn/syn.h"
#include "chip/syn/syn_wvin.h"
#include "chip/syn/syn_wvout.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip_program_support.h"
#include "emit_test_support.h"
#include "sound_file_support.h"
#include "syn_program_support.h"

using namespace sound_files;

namespace {

class SoundFileProgramTest : public SynProgramTest {
 protected:
  SoundFileProgramTest() : SynProgramTest("sound.chip") {}

  void SetUp() override {
    SynProgramTest::SetUp();
    ASSERT_TRUE(load_test_module(env, osc_query, vmtest::SRATE));
    env->global()->commit();
    ASSERT_FALSE(dir.path().empty());
  }
  void TearDown() override {
    syn_close_open_writers();
    SynProgramTest::TearDown();
  }

  // source with every "$DIR" replaced by the temporary folder.
  std::string in_dir(std::string source) {
    for (size_t at; (at = source.find("$DIR")) != std::string::npos;) {
      source.replace(at, 4, dir.path());
    }
    return source;
  }

  // Runs source for n samples; the samples of the nodes linked into
  // blackhole, in the order linked, and what was printed.
  std::vector<std::vector<double>> render(const std::string& source, int n, Lines* printed) {
    vm = make_vm();
    Lines errors;
    Chip_VM_Code* code = compile(in_dir(source), &errors);
    EXPECT_NE(code, nullptr) << (errors.empty() ? "" : errors[0]);
    std::vector<std::vector<double>> out;
    if (!code) return out;
    Lines lines = printed_lines([&] {
      vm->spork(code, nullptr);
      for (int i = 0; i < n; i++) {
        vm->run(1);
        Chip_UGen* hole = vm->blackhole();
        out.resize(hole->num_src);
        for (size_t k = 0; k < hole->num_src; k++) out[k].push_back(hole->src_list[k]->last);
      }
    });
    if (printed) *printed = lines;
    return out;
  }

  Lines run_in_dir(const std::string& source) { return run(in_dir(source)); }

  Chip_Type* type(const char* name) { return env->global()->lookup_type(std::string(name), 0); }

  TempDir dir;
};

std::string quoted(const std::string& text) { return "\"" + text + "\" : (string)"; }

TEST_F(SoundFileProgramTest, ClassesAreRegisteredUnderTheirParents) {
  const struct {
    const char* name;
    const char* parent;
  } cases[] = {{"WvIn", "UGen"},   {"WaveLoop", "WvIn"}, {"WvOut", "UGen"},
               {"Chorus", "UGen"}, {"PitShift", "UGen"}, {"FM", "SynInstrument"},
               {"BeeThree", "FM"}, {"FMVoices", "FM"},   {"HevyMetl", "FM"},
               {"PercFlut", "FM"}, {"Rhodey", "FM"},     {"TubeBell", "FM"},
               {"Wurley", "FM"}};
  for (const auto& c : cases) {
    Chip_Type* t = type(c.name);
    ASSERT_NE(t, nullptr) << c.name;
    EXPECT_EQ(t->parent->name, c.parent) << c.name;
  }
  EXPECT_NE(WvIn_offset_data, FRAME_NO_OFFSET);
  EXPECT_NE(WvOut_offset_data, FRAME_NO_OFFSET);
}

// A sine recorded through WvOut reads back, sample for sample, through
// WvIn in the same program (16-bit: within one step).
TEST_F(SoundFileProgramTest, ARecordedSineReadsBack) {
  Lines printed;
  auto out = render(
      "SinOsc s => WvOut w => blackhole; 500 => s.freq;\n"
      "<<< w.wavFilename(\"$DIR/sine\") >>>;\n"
      "2000::samp => now; w.closeFile(); <<< w.filename() >>>;\n"
      "WvIn r => blackhole; <<< r.path(\"$DIR/sine.wav\"), r.rate() >>>;\n"
      "1::second => now;\n",
      4100, &printed);
  ASSERT_EQ(printed.size(), 3u);
  EXPECT_EQ(printed[0], quoted(dir.file("sine")));
  EXPECT_EQ(printed[1], quoted(""));
  EXPECT_EQ(printed[2], dir.file("sine.wav") + " 1.000000 ");
  ASSERT_EQ(out.size(), 2u);
  // The writer passes its input through; the reader, linked 2000 samples
  // later (its samples counted from then), plays what was written.
  ASSERT_EQ(out[1].size(), 2100u);
  for (int i = 0; i < 2000; i++) {
    ASSERT_NEAR(out[1][i], out[0][i], 1.0 / 32767.0 + 1e-6) << i;
  }
  EXPECT_NEAR(out[0][4], std::sin(2.0 * M_PI * 500.0 * 4 / 16000.0), 1e-4);
  EXPECT_EQ(syn_open_writer_count(), 0u);
}

// Every format plays at a full scale of 1 through WvIn: 16-bit files and
// the tables by 1/32767, 8-bit by 1/127, 32-bit by 1/2147483647, floats as
// they are.
TEST_F(SoundFileProgramTest, EveryFormatPlaysAtFullScaleOne) {
  const struct {
    int type, format;
    const char* ext;
  } files[] = {{WvOut::WAV, WvOut::SINT8, ".wav"},   {WvOut::SND, WvOut::SINT8, ".snd"},
               {WvOut::WAV, WvOut::SINT16, ".wav"},  {WvOut::AIF, WvOut::SINT32, ".aif"},
               {WvOut::WAV, WvOut::FLOAT32, ".wav"}, {WvOut::SND, WvOut::FLOAT64, ".snd"},
               {WvOut::MAT, WvOut::FLOAT64, ".mat"}};
  std::string source;
  for (size_t i = 0; i < sizeof files / sizeof files[0]; i++) {
    const std::string name = dir.file("scale" + std::to_string(i));
    printed_lines([&] {
      WvOut w;
      w.openFile(name.c_str(), 1, files[i].type, files[i].format);
      for (float s : {1.0f, -1.0f, 0.5f, 0.0f}) w.tick(s);
    });
    source += "WvIn r" + std::to_string(i) + " => blackhole; r" + std::to_string(i) + ".path(\"" +
              name + files[i].ext + "\"); 1.0 => r" + std::to_string(i) + ".rate;\n";
  }
  auto out = render(source + "1::second => now;\n", 5, nullptr);
  ASSERT_EQ(out.size(), sizeof files / sizeof files[0]);
  for (size_t i = 0; i < out.size(); i++) {
    const double want[] = {1.0, -1.0, 0.5, 0.0, 0.0};
    for (int n = 0; n < 5; n++) EXPECT_NEAR(out[i][n], want[n], 0.005) << i << " " << n;
  }
}

TEST_F(SoundFileProgramTest, TablesAndLoopsFromAProgram) {
  Lines printed;
  auto out = render(
      "WvIn r => blackhole; r.path(\"special:sinewave\"); 1.0 => r.rate;\n"
      "WaveLoop l => blackhole; <<< l.freq(440.0) >>>; l.path(\"special:sinewave\");\n"
      "<<< l.rate(), l.freq(440.0), l.rate() >>>;\n"
      "WaveLoop p; p.path(\"special:sinewave\");\n"
      "<<< p.addPhase(0.5), p.addPhase(0.75), p.addPhaseOffset(0.25), p.addPhaseOffset() >>>;\n"
      "WvIn bad => blackhole; <<< bad.path(\"special:nonesuch\") >>>;\n"
      "1::second => now;\n",
      1100, &printed);
  const Lines want = {"440.000000 :(float)",
                      floats({22050.0 / 16000.0, 440.0, double(float(1024.0 * 440.0 / 16000.0))}),
                      floats({0.5, 0.25, 256.0, 256.0}),
                      "[chip](via WvIn): Error reading file (special:nonesuch).",
                      quoted("special:nonesuch")};
  EXPECT_EQ(printed, want);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_NEAR(out[0][256], 1.0, 1e-6);
  for (int n = 1024; n < 1100; n++) EXPECT_EQ(out[0][n], out[0][1023]);
  for (double y : out[2]) EXPECT_EQ(y, 0.0);
}

TEST_F(SoundFileProgramTest, RecordSwitchesWritingNotThePassThrough) {
  Lines printed;
  auto out = render(
      "Step s => WvOut w => blackhole; 0.5 => s.next; w.sndFilename(\"$DIR/rec\");\n"
      "<<< w.record(5), w.record() >>>; 10::samp => now;\n"
      "<<< w.record(0) >>>; 10::samp => now; w.closeFile();\n"
      "WvOut never; <<< never.closeFile(), never.filename() >>>;\n"
      "1::second => now;\n",
      30, &printed);
  const Lines want = {"1 1 ", "0 :(int)", "  "};
  EXPECT_EQ(printed, want);
  for (double y : out[0]) EXPECT_EQ(y, 0.5);
  EXPECT_EQ(read_file(dir.file("rec.snd")).size(), 40u + 2u * 10u);
}

// "special:auto" becomes "<prefix>(<ctime with h and m>)<extension>".
TEST_F(SoundFileProgramTest, AutomaticNames) {
  // The shred stays alive, so its writer does: each new name closes the file
  // of the one before, leaving one open.
  Lines printed;
  render(
      "WvOut a; <<< a.autoPrefix() >>>; a.autoPrefix(\"$DIR/take\");\n"
      "<<< a.wavFilename(\"special:auto\") >>>; <<< a.aifFilename(\"x special:auto\") >>>;\n"
      "<<< a.matFilename(\"special:auto\") >>>; 1::second => now;\n",
      1, &printed);
  ASSERT_GE(printed.size(), 4u);
  EXPECT_EQ(printed[0], quoted("chip-session"));
  const std::string stamp =
      R"(\((Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
      R"([ 0-9][0-9] [0-9]{2}h[0-9]{2}m[0-9]{2} [0-9]{4}\))";
  const struct {
    size_t line;
    const char* ext;
  } names[] = {{1, "\\.wav"}, {2, "\\.aiff"}, {printed.size() - 1, "\\.mat"}};
  for (const auto& n : names) {
    std::smatch m;
    const std::regex pattern("\"(" + dir.path() + "/take" + stamp + n.ext + ")\" : \\(string\\)");
    ASSERT_TRUE(std::regex_match(printed[n.line], m, pattern)) << printed[n.line];
    EXPECT_TRUE(std::filesystem::exists(m[1].str())) << m[1].str();
  }
  EXPECT_EQ(syn_open_writer_count(), 1u);
  // A prefix that leaves no room in the automatic name's buffer is refused.
  printed = run("WvOut b; b.autoPrefix(\"" + std::string(1100, 'q') +
                "\"); <<< b.wavFilename(\"special:auto\") >>>;\n");
  const Lines refused = {"[chip](via WvOut): Automatic file name too long for its prefix.",
                         quoted("")};
  EXPECT_EQ(printed, refused);
}

// The shutdown hook finishes every file scripts left open: their headers
// hold the final sizes, the map is emptied, a second call finds nothing.
TEST_F(SoundFileProgramTest, ShutdownClosesEveryOpenWriter) {
  // The program still runs (its writers alive) when the hook is called.
  render(
      "Step s => WvOut a => blackhole; s => WvOut b => blackhole; 0.25 => s.next;\n"
      "a.wavFilename(\"$DIR/a\"); b.aifFilename(\"$DIR/b\"); 1::second => now;\n",
      100, nullptr);
  EXPECT_EQ(syn_open_writer_count(), 2u);
  ASSERT_EQ(read_file(dir.file("a.wav")).size(), 44u);  // nothing written yet
  EXPECT_TRUE(syn_detach(0, nullptr));
  EXPECT_EQ(syn_open_writer_count(), 0u);
  const Bytes a = read_file(dir.file("a.wav")), b = read_file(dir.file("b.aif"));
  ASSERT_EQ(a.size(), 44u + 200u);
  EXPECT_EQ(get32(a, 40, false), 200u);
  EXPECT_EQ(get32(a, 4, false), 236u);
  ASSERT_EQ(b.size(), 54u + 200u);
  EXPECT_EQ(get32(b, 22, true), 100u);
  EXPECT_TRUE(syn_detach(0, nullptr));
}

// The same at the end of the chip program (its shutdown calls the hook).
TEST_F(SoundFileProgramTest, TheChipProgramClosesFilesAtShutdown) {
  ASSERT_TRUE(write_file(dir.file("two.chip"), [] {
    const std::string s =
        "SinOsc s => WvOut a => blackhole; s => WvOut b => blackhole;\n"
        "a.sndFilename(\"one\"); b.wavFilename(\"special:auto\");\n"
        "1000::samp => now;\n";
    return Bytes(s.begin(), s.end());
  }()));
  CommandRun run = run_command("cd '" + dir.path() + "' && FLUVANE_HOME='" + dir.path() + "' '" +
                               chip_program() + "' --silent --srate16000 two.chip 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  const Bytes one = read_file(dir.file("one.snd"));
  ASSERT_EQ(one.size(), 40u + 2000u);
  EXPECT_EQ(get32(one, 8, true), 2000u);
  int automatic = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("chip-session(", 0) != 0) continue;
    automatic++;
    EXPECT_EQ(name.substr(name.size() - 5), ").wav");
    const Bytes wav = read_file(entry.path().string());
    ASSERT_EQ(wav.size(), 44u + 2000u);
    EXPECT_EQ(get32(wav, 40, false), 2000u);
  }
  EXPECT_EQ(automatic, 1);
}

TEST_F(SoundFileProgramTest, EffectMembersFromAProgram) {
  Lines printed =
      run("Chorus c; PitShift p;\n"
          "<<< c.modFreq(), c.modDepth(), c.baseDelay() / samp, c.mix() >>>;\n"
          "<<< c.mix(-0.5), c.mix(1.5), c.modFreq(2.0), c.modDepth(0.25) >>>;\n"
          "c.max(4000::samp, 0.5); <<< c.baseDelay(10000::samp) / samp >>>;\n"
          "<<< p.shift(), p.shift(1.0), p.shift(2.0), p.mix(0.25), p.effectMix() >>>;\n"
          "<<< p.effectMix(2.0), p.mix() >>>;\n");
  const Lines want = {floats({0.25, 0.5, 3000.0, 0.5}),
                      "[chip](via SYN): Chorus: setEffectMix parameter is less than zero!",
                      "[chip](via SYN): Chorus: setEffectMix parameter is greater than 1.0!",
                      floats({0.0, 1.0, 2.0, 0.25}),
                      "10000.000000 :(float)",
                      floats({0.0, 1.0, 2.0, 0.25, 0.25}),
                      "[chip](via SYN): PitShift: setEffectMix parameter is greater than 1.0!",
                      floats({1.0, 1.0})};
  EXPECT_EQ(printed, want);
}

TEST_F(SoundFileProgramTest, FmMembersFromAProgram) {
  Lines printed;
  auto out = render(
      "Rhodey r => blackhole; TubeBell t; PercFlut f; FMVoices v; FM bare => blackhole;\n"
      "<<< r.controlOne(), r.controlTwo(), r.controlOne(0.5), r.freq(), t.freq(), f.freq(), "
      "v.freq() >>>;\n"
      "<<< r.lfoSpeed(5.0), r.lfoSpeed(), r.lfoDepth(0.25), r.afterTouch(0.5) >>>;\n"
      "<<< v.spectralTilt(1.0) >>>;\n"
      "<<< r.afterTouch(1.5) >>>;\n"
      "r.noteOn(0.8); 1::second => now;\n",
      200, &printed);
  const Lines want = {floats({0.5, 0.5, 0.5, 440.0, 220.0, 220.0, 110.0}),
                      floats({5.0, 5.0, 0.25, 0.5}),
                      "[chip](via SYN): Phonemes: formantFrequency index is greater than 31!",
                      "[chip](via SYN): Phonemes: formantFrequency index is greater than 31!",
                      "[chip](via SYN): Phonemes: formantFrequency index is greater than 31!",
                      "1.000000 :(float)",
                      "[chip](via SYN): FM: Control value greater than 128.0!",
                      "1.000000 :(float)",
                      "[chip](via SYN): error : FM tick is virtual!"};
  EXPECT_EQ(printed, want);
  ASSERT_EQ(out.size(), 2u);
  double energy = 0.0;
  for (double y : out[0]) energy += y * y;
  EXPECT_GT(energy, 0.0);
  for (double y : out[1]) EXPECT_EQ(y, 0.0);
}

}  // namespace
