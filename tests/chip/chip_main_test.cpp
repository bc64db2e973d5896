// The chip program's command line, run through the built program: options,
// usage and version texts, exit statuses, file tokens with colons, spork
// counts and the code dump.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "chip_program_support.h"

namespace {

// out: standard output and error together.
typedef CommandRun ChipRun;

// env: variable settings put before the command ("A=1 B=2 ").
ChipRun run_chip(const std::string& args, const std::string& env = "") {
  ChipRun run = run_command(env + "'" + chip_program() + "' " + args + " 2>&1");
  // A fresh home's first run notes that it creates the log directory.
  const std::string note = "log directory doesn't exist, creating...\n";
  if (run.out.rfind(note, 0) == 0) run.out.erase(0, note.size());
  return run;
}

// A script in the test's temporary directory.
std::string script(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

const char kUsageHead[] = "usage: chip --[options|commands] [+-=^] file1 file2 file3 ...\n";
const char kVersionBlock[] =
    "chip version: 1.2.1.2 (fluvane)\n   exe target: mac os x : intel\n";

TEST(ChipMainTest, NoInputFilesIsAnError) {
  ChipRun run = run_chip("");
  EXPECT_EQ(run.status, 1);
  // (A fresh home adds a note about creating the log directory first.)
  EXPECT_NE(run.out.find("[chip]: no input files... (try --help)\n"), std::string::npos) << run.out;
}

TEST(ChipMainTest, HelpAndVersionExitWithTwo) {
  for (const char* flag : {"--help", "-h", "--about"}) {
    ChipRun run = run_chip(flag);
    EXPECT_EQ(run.status, 2) << flag;
    EXPECT_EQ(run.out.rfind(kUsageHead, 0), 0u) << flag;
    EXPECT_NE(run.out.find(std::string("\n\n") + kVersionBlock), std::string::npos) << flag;
  }
  ChipRun run = run_chip("--version");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.rfind(std::string("\n") + kVersionBlock, 0), 0u) << run.out;
}

TEST(ChipMainTest, InvalidFlagPrintsUsage) {
  ChipRun run = run_chip("--frobnicate");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind(std::string("[chip]: invalid flag '--frobnicate'\n") + kUsageHead, 0), 0u)
      << run.out;
}

TEST(ChipMainTest, RefusedSettings) {
  struct Case {
    const char* args;
    const char* first_line;
  } cases[] = {
      {"--empty", "[chip]: '--empty' can only be used with shell...\n"},
      {"--deprecate:maybe x.chip", "[chip]: invalid arguments for '--deprecate'...\n"},
  };
  for (const Case& c : cases) {
    ChipRun run = run_chip(c.args);
    EXPECT_EQ(run.status, 1) << c.args;
    EXPECT_EQ(run.out.rfind(c.first_line, 0), 0u) << c.args << ": " << run.out;
  }
  ChipRun shell = run_chip("--shell");
  EXPECT_EQ(shell.status, 1);
}

// The buffer size is raised to a power of two; 0 keeps the default. A
// program reads it back as the length of one buffer.
TEST(ChipMainTest, BufsizeIsRoundedUpToAPowerOfTwo) {
  std::string file = script("bufsize.chip", "<<< \"ran\" >>>;\n");
  for (const char* flag : {"--bufsize100", "-b100", "--bufsize0", "--bufsize1"}) {
    ChipRun run = run_chip(std::string("--silent ") + flag + " " + file);
    EXPECT_EQ(run.status, 0) << flag << ": " << run.out;
    EXPECT_EQ(run.out, "\"ran\" : (string)\n") << flag;
  }
}

// A file token "name:a:b": the file is compiled once per spork and each
// shred gets the arguments; a count before it sporks it that many times,
// a count of 0 compiles it and sporks nothing.
TEST(ChipMainTest, FileArgumentsAndCounts) {
  std::string file = script("hello_args.chip", "<<< \"hi\" >>>;\n");
  ChipRun run = run_chip("--silent " + file + ":one:two");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "\"hi\" : (string)\n");

  run = run_chip("--silent --2 " + file + " " + file);
  EXPECT_EQ(run.out, "\"hi\" : (string)\n\"hi\" : (string)\n\"hi\" : (string)\n");

  run = run_chip("--silent --0 " + file);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");

  run = run_chip("--silent :nofile");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("[chip]: malformed filename with argument list...\n    -->  ':nofile'", 0), 0u);
}

// An argument beginning with "@" is a host, never a file.
TEST(ChipMainTest, HostArgumentIsNotCompiled) {
  std::string file = script("host.chip", "<<< 1 >>>;\n");
  ChipRun run = run_chip("--silent @localhost " + file);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "1 :(int)\n");
}

// --dump lists the instructions of the files after it; --nodump stops it.
TEST(ChipMainTest, DumpListsTheCode) {
  std::string file = script("dump.chip", "1;\n");
  ChipRun run = run_chip("--silent --dump " + file);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("dumping "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("-------\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[0] "), std::string::npos) << run.out;

  run = run_chip("--silent --dump --nodump " + file);
  EXPECT_EQ(run.out, "");
}

// A file that does not compile stops the run with status 1 and its message.
TEST(ChipMainTest, CompileErrorExitsWithOne) {
  std::string file = script("bad.chip", "int x;\nx => undefined_name;\n");
  ChipRun run = run_chip("--silent " + file);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("[bad.chip]:line(2)"), std::string::npos) << run.out;
}

// Every file is compiled before any runs: a failing file in either place
// stops the run, and the good file prints nothing.
TEST(ChipMainTest, AFailingFileStopsTheFilesBesideIt) {
  std::string good = script("good.chip", "<<< \"good ran\" >>>;\n");
  std::string bad = script("bad2.chip", "<<< 1 >>>;\nundefined_name => int x;\n");
  for (const std::string& args : {good + " " + bad, bad + " " + good}) {
    ChipRun run = run_chip("--silent " + args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_NE(run.out.find("[bad2.chip]:line(2)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("good ran"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("1 :(int)"), std::string::npos) << run.out;
  }
}

// ---------------------------------------------------------------------------
// Real-time audio through SDL's disk driver: the device writes what it plays
// to a file of interleaved 32-bit stereo frames (full scale 2^31) and reads
// the microphone from another.

const double kFullScale = 2147483648.0;

// The frames of a file of interleaved 32-bit stereo samples.
std::vector<std::int32_t> read_s32(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::int32_t> samples;
  std::int32_t v;
  while (in.read(reinterpret_cast<char*>(&v), sizeof v)) samples.push_back(v);
  return samples;
}

std::string disk_env(const std::string& out, const std::string& in = "") {
  std::string env = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" + out + "' ";
  if (!in.empty()) env += "SDL_DISKAUDIOFILEIN='" + in + "' ";
  return env;
}

// A sine played into dac comes out of the device on both channels, sample
// for sample: 0.5 sin(2 pi 441 n / 44100) from its first (zero) sample on.
TEST(ChipAudioTest, ASinePlayedIntoDacReachesTheDevice) {
  const std::string out = ::testing::TempDir() + "dac_out.raw";
  std::remove(out.c_str());
  std::string file = script("sine_out.chip",
                            "SinOsc s => dac; 441 => s.freq; 0.5 => s.gain; 100::ms => now;\n");
  ChipRun run = run_chip("--srate44100 " + file, disk_env(out));
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::int32_t> samples = read_s32(out);
  size_t first = 0;
  while (first < samples.size() && samples[first] == 0) first += 2;
  ASSERT_LT(first, samples.size()) << "nothing sounded";
  // The first sample of the sine is 0: the first sounding one is n = 1.
  const size_t frames = 4000;
  ASSERT_GE(samples.size(), first + 2 * frames);
  for (size_t i = 0; i < frames; i++) {
    const double n = static_cast<double>(i + 1);
    const double expected = 0.5 * std::sin(2.0 * M_PI * 441.0 * n / 44100.0);
    const size_t at = first + 2 * i;
    ASSERT_NEAR(samples[at] / kFullScale, expected, 1e-6) << "frame " << i;
    ASSERT_EQ(samples[at], samples[at + 1]) << "frame " << i;
  }
}

// adc carries the device's input: a script that links adc to dac plays the
// input file back, scaled by the route's input gain (1.25 on this route).
TEST(ChipAudioTest, AdcCarriesTheDevicesInput) {
  const std::string in = ::testing::TempDir() + "adc_in.raw";
  const std::string out = ::testing::TempDir() + "adc_out.raw";
  std::remove(out.c_str());
  std::vector<std::int32_t> input;
  for (int i = 0; i < 8000; i++) {
    input.push_back(static_cast<std::int32_t>(0.25 * std::sin(2.0 * M_PI * 300.0 * i / 44100.0) *
                                              kFullScale));
    input.push_back(static_cast<std::int32_t>(-0.125 * kFullScale));
  }
  {
    std::ofstream file(in, std::ios::binary);
    file.write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size() * sizeof input[0]));
  }
  std::string file = script("adc_through.chip", "adc => dac; 100::ms => now;\n");
  ChipRun run = run_chip("--srate44100 " + file, disk_env(out, in));
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<std::int32_t> samples = read_s32(out);
  // The right channel is constant: find where it starts, then the left
  // channel from there is the input's, frame for frame.
  size_t first = 1;
  while (first < samples.size() && samples[first] == 0) first += 2;
  ASSERT_LT(first, samples.size()) << "nothing sounded";
  first -= 1;
  ASSERT_GE(samples.size(), first + 2 * 2000);
  // The input is read in whole buffers: find the input frame the first
  // sounding frame came from (the sine is distinct enough over 16 frames).
  const double gain = 1.25;
  size_t offset = input.size();
  for (size_t k = 0; k + 32 < input.size() && offset == input.size(); k += 2) {
    bool same = true;
    for (size_t j = 0; j < 32 && same; j += 2) {
      same = std::fabs(samples[first + j] / kFullScale - gain * input[k + j] / kFullScale) < 1e-6;
    }
    if (same) offset = k;
  }
  ASSERT_LT(offset, input.size()) << "the output is not the input";
  for (size_t j = 0; j < 2 * 2000 && offset + j < input.size(); j++) {
    ASSERT_NEAR(samples[first + j] / kFullScale, gain * input[offset + j] / kFullScale, 1e-6)
        << "sample " << j;
  }
}

}  // namespace
