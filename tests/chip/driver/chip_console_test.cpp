// What the chip program shows on its terminal, run as a user runs it: the
// script's output and, when it cannot go on, the one line that says why.
// The audio layer's notes, SDL's and ALSA's own lines go to the log file
// (Documents/log/current.log), and to the terminal only with --verbose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "chip_program_support.h"

namespace {

// Standard output and error together, without a fresh home's first note.
CommandRun runChip(const std::string& env, const std::string& args) {
  CommandRun run = run_command(env + " '" + chip_program() + "' " + args + " 2>&1");
  const std::string note = "log directory doesn't exist, creating...\n";
  if (run.out.rfind(note, 0) == 0) run.out.erase(0, note.size());
  return run;
}

std::string script(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

std::string logFile() {
  std::ifstream in(std::string(std::getenv("FLUVANE_HOME")) + "/Documents/log/current.log");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ChipConsole, APlainRunShowsTheScriptAndTheReasonItStops) {
  const std::string file = script("console.chip",
                                  "<<< \"hi\" >>>;\n10::ms => now;\n<<< \"bye\" >>>;\n");
  // A sound output that runs (SDL's disk driver): the script's lines only.
  const std::string disk = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null";
  CommandRun played = runChip(disk, file);
  EXPECT_EQ(played.status, 0);
  EXPECT_EQ(played.out, "\"hi\" : (string)\n\"bye\" : (string)\n");
  EXPECT_NE(logFile().find("SDL: You are using the SDL disk i/o audio driver!"), std::string::npos);

  // No sound card ALSA can find: the script's line, then the reason.
  const std::string noCard = "SDL_AUDIODRIVER=alsa ALSA_CONFIG_PATH=/nonexistent/alsa.conf";
  CommandRun silent = runChip(noCard, file);
  EXPECT_EQ(silent.status, 1);
  EXPECT_EQ(silent.out,
            "\"hi\" : (string)\n[chip]: cannot open audio output (option: use --silent/-s)\n");
  EXPECT_NE(logFile().find("ALSA: "), std::string::npos);

  // --verbose shows them.
  CommandRun verbose = runChip(noCard, "--verbose " + file);
  EXPECT_EQ(verbose.status, 1);
  EXPECT_NE(verbose.out.find("ALSA: "), std::string::npos) << verbose.out;
  EXPECT_NE(verbose.out.find("couldn't start audio unit"), std::string::npos) << verbose.out;
}

}  // namespace
