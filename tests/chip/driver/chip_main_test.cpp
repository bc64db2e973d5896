// The chip program's command line, run through the built program: options,
// usage and version texts, exit statuses, file tokens with colons, spork
// counts and the code dump.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "chip/driver/chip_main.h"
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

// The version block names the platform the program runs on, as uname does.
std::string version_block() {
  struct utsname u;
  EXPECT_EQ(uname(&u), 0);
  std::string system = u.sysname;
  for (char& c : system) c = (char)std::tolower((unsigned char)c);
  return "chip version: 1.2.1.2 (fluvane)\n   exe target: " + system + " : " + u.machine + "\n";
}

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
    EXPECT_NE(run.out.find("\n\n" + version_block()), std::string::npos) << flag;
    EXPECT_NE(run.out.find("the engine sleeps until the next command; its time then\n"
                           "    jumps to the moment the command arrived)\n"),
              std::string::npos)
        << flag;
    // The options the README names beyond the classic list.
    for (const char* option : {"standalone:", "bind<address>:", "adaptive<N>:"}) {
      EXPECT_NE(run.out.find(option), std::string::npos) << flag << " " << option;
    }
  }
  ChipRun run = run_chip("--version");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.rfind("\n" + version_block(), 0), 0u) << run.out;
  EXPECT_NE(run.out.find("exe target: linux : "), std::string::npos) << run.out;
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
}

// A number the machine cannot honour is refused rather than wrapped around
// or turned into an allocation that cannot be made: one line naming the
// argument and the largest value the option accepts, status 1, before any
// file is read. Values at the limits run.
TEST(ChipMainTest, OutOfRangeOptionValuesAreRefused) {
  struct Case {
    const char* arg;
    long largest;
  } cases[] = {
      {"--bufsize2147483647", 65536}, {"-b65537", 65536},
      {"--out2147483647", 128},       {"-o129", 128},
      {"--in4294967297", 128},        {"--channels200", 128},
      {"--srate99999999999999", 1000000},
      {"-r-99999999999999", 1000000},  // beyond 32 bits either way
      {"--adaptive2147483647", 65536},
      {"--bufnum4294967296", 2147483647},
      {"--dac99999999999", 2147483647},
      {"--level2147483648", 2147483647},
      {"--port-2147483649", 2147483647},
      {"--verbose99999999999999999999", 2147483647},
      {"--1001", 1000},               // a spork count
  };
  for (const Case& c : cases) {
    ChipRun run = run_chip(std::string("--silent ") + c.arg + " nowhere.chip");
    EXPECT_EQ(run.status, 1) << c.arg;
    EXPECT_EQ(run.out, std::string("[chip]: value out of range in '") + c.arg +
                           "' (largest accepted: " + std::to_string(c.largest) + ")...\n")
        << c.arg;
  }
  std::string file = script("limits.chip", "1::samp => now;\n");
  ChipRun run = run_chip("--silent --bufsize65536 --adaptive65536 --out128 --in128 --srate1000000 "
                         "--1000 " + file);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "");
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

// A program is limited in how deeply it nests, never in how long it is:
// 20,000 statements and 12,000 functions in one file run; an expression
// nested past the limit is a compile error.
TEST(ChipMainTest, LongProgramsRunAndOverlyDeepOnesAreRefused) {
  std::string text = "0 => int x;\n";
  for (int i = 0; i < 20000; i++) text += "x++;\n";
  for (int i = 0; i < 12000; i++) {
    text += "fun int f" + std::to_string(i) + "() { return " + std::to_string(i) + "; }\n";
  }
  text += "<<< x, f11999() >>>;\n";
  ChipRun run = run_chip("--silent " + script("long_program.chip", text));
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 300);
  EXPECT_EQ(run.out, "20000 11999 \n");

  std::string deep = "<<< \"never\" >>>;\n1";
  for (int i = 0; i < 100000; i++) deep += " + 1";
  run = run_chip("--silent " + script("deep_program.chip", deep + ";\n"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "[deep_program.chip]:line(2): expression nested too deeply\n");
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
  std::vector<std::int32_t> raw = read_s32(out);
  // The right channel is constant while input flows; on a busy machine the
  // capture side can fall behind, and the layer then plays silent frames
  // (both channels 0) until input arrives again. Leave those out: what is
  // left is the input, frame for frame.
  std::vector<std::int32_t> samples;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    if (raw[i + 1] == 0) continue;
    samples.push_back(raw[i]);
    samples.push_back(raw[i + 1]);
  }
  ASSERT_GE(samples.size(), 2u * 2000) << "nothing sounded";
  // The input is read in whole buffers: find the input frame the first
  // sounding frame came from (the sine is distinct enough over 16 frames).
  const double gain = 1.25;
  size_t offset = input.size();
  for (size_t k = 0; k + 32 < input.size() && offset == input.size(); k += 2) {
    bool same = true;
    for (size_t j = 0; j < 32 && same; j += 2) {
      same = std::fabs(samples[j] / kFullScale - gain * input[k + j] / kFullScale) < 1e-6;
    }
    if (same) offset = k;
  }
  ASSERT_LT(offset, input.size()) << "the output is not the input";
  for (size_t j = 0; j < 2 * 2000 && offset + j < input.size(); j++) {
    ASSERT_NEAR(samples[j] / kFullScale, gain * input[offset + j] / kFullScale, 1e-6)
        << "sample " << j;
  }
}

// A missing file is the one thing a user sees: it is reported before the
// audio device opens (with --verbose, opening it prints its configuration).
TEST(ChipAudioTest, AMissingFileIsReportedBeforeTheDeviceOpens) {
  const std::string out = ::testing::TempDir() + "missing_out.raw";
  std::string good = script("present.chip", "<<< 1 >>>;\n");
  ChipRun run = run_chip("--verbose1 " + good + " nowhere/missing.chip", disk_env(out));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "[missing.chip]: no such file or directory\n");
}

// A device that cannot be started (here the disk driver cannot create its
// file) ends the run: the file's shred runs until it first waits, then the
// program says why it stops and exits with 1 instead of waiting for
// callbacks that never come.
TEST(ChipAudioTest, AnOutputThatCannotStartEndsTheRun) {
  std::string file = script("no_device.chip",
                            "<<< \"before\" >>>;\n1::second => now;\n<<< \"after\" >>>;\n");
  ChipRun run = run_chip(file, disk_env(::testing::TempDir() + "no/such/dir/out.raw"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("\"before\" : (string)\n", 0), 0u) << run.out;
  const std::string last = "[chip]: cannot open audio output (option: use --silent/-s)\n";
  ASSERT_GE(run.out.size(), last.size()) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last) << run.out;
  EXPECT_EQ(run.out.find("after"), std::string::npos) << run.out;
}

// The audio layer's configuration (route, gains, device generation) is kept
// in the log file; the console shows it only with --verbose.
TEST(ChipAudioTest, TheAudioConfigurationReachesTheConsoleOnlyWhenVerbose) {
  const std::string out = ::testing::TempDir() + "verbose_out.raw";
  std::string file = script("quiet.chip", "<<< \"hi\" >>>;\n");
  const std::string log = std::string(std::getenv("FLUVANE_HOME")) + "/Documents/log/current.log";
  const char kConfiguration[] = "VXALL configuration";

  ChipRun quiet = run_chip(file, disk_env(out));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "\"hi\" : (string)\n");
  std::ifstream in(log);
  std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find(kConfiguration), std::string::npos) << logged;

  ChipRun verbose = run_chip("--verbose1 " + file, disk_env(out));
  EXPECT_EQ(verbose.status, 0);
  EXPECT_NE(verbose.out.find(kConfiguration), std::string::npos) << verbose.out;
  EXPECT_NE(verbose.out.find("route = "), std::string::npos) << verbose.out;
}

}  // namespace

namespace {

// The broken-pipe handler notes the signal once. With standard error itself
// the broken pipe, each note raises the signal again; noting every one would
// keep the process busy forever (the child's alarm would then end it).
TEST(ChipSignalTest, ABrokenStandardErrorIsNotedOnce) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);
    int fds[2];
    if (pipe(fds) != 0) _exit(3);
    close(fds[0]);
    dup2(fds[1], STDERR_FILENO);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = signal_pipe;
    sigaction(SIGPIPE, &action, nullptr);
    raise(SIGPIPE);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the handler kept the process busy";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
