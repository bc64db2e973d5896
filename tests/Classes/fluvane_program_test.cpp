// The fluvane program as a player meets it, through the process: off screen,
// with SDL's disk audio driver and a file of noise as the microphone, an
// automation script covers the holes by keys, checks the finger-state key
// and takes two pictures. The sound it wrote has the two fingerings'
// pitches, the pictures differ at the holes that changed, and a failed
// expectation makes the program exit with 1.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Classes/fluvane_pitch_support.h"
#include "platform/Paths.h"
#include "platform/gfx/Image.h"

using platform::Paths;

namespace {

// Runs the program with the script in a fresh home; answers its exit status.
int runFluvane(const std::string& folder, const std::string& script, const std::string& output,
               const std::string& microphone) {
  const std::string scriptPath = Paths::join(folder, "play.fluvane");
  std::ofstream(scriptPath) << script;
  const std::string home = Paths::join(folder, "home");
  Paths::mkdirs(home);
  const std::string command =
      "cd '" + folder + "' && FLUVANE_HOME='" + home +
      "' SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=disk FLUVANE_SCALE=1"
      " SDL_DISKAUDIOFILE='" + output + "' SDL_DISKAUDIOFILEIN='" + microphone +
      "' '" FLUVANE_PROGRAM "' --automate play.fluvane 2> '" + folder + "/stderr.txt'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Noise of peak level, 32-bit stereo at 16 kHz, as the disk driver reads it.
void writeNoise(const std::string& path, double seconds, double level) {
  std::ofstream out(path, std::ios::binary);
  std::uint32_t state = 777;
  for (long i = 0; i < static_cast<long>(seconds * kPitchRate); i++) {
    state = state * 1664525u + 1013904223u;
    const double v = level * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    const auto sample = static_cast<std::int32_t>(v * 2147483647.0);
    out.write(reinterpret_cast<const char*>(&sample), 4);
    out.write(reinterpret_cast<const char*>(&sample), 4);
  }
}

// The left channel of the disk driver's output, from second from to to.
std::vector<double> readOutput(const std::string& path, double from, double to) {
  std::ifstream in(path, std::ios::binary);
  std::vector<double> left;
  std::int32_t frame[2];
  long index = 0;
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
    const double t = index++ / kPitchRate;
    if (t >= from && t < to) left.push_back(frame[0] / 2147483648.0);
  }
  return left;
}

// Mean difference of the pictures' pixels in a box around a point (points).
double differenceAround(const platform::gfx::Image& a, const platform::gfx::Image& b, double x,
                        double y) {
  double sum = 0;
  int count = 0;
  for (int py = static_cast<int>(y) - 30; py <= static_cast<int>(y) + 30; py++) {
    for (int px = static_cast<int>(x) - 30; px <= static_cast<int>(x) + 30; px++) {
      if (px < 0 || py < 0 || px >= a.width || py >= a.height) continue;
      const std::size_t i = (static_cast<std::size_t>(py) * a.width + px) * 4;
      for (int c = 0; c < 3; c++) sum += std::abs(a.pixels[i + c] - b.pixels[i + c]);
      count++;
    }
  }
  return count ? sum / (3 * count) : 0;
}

// A hole's centre in points, default layout (1) of a fresh install.
struct Centre {
  double x, y;
};
Centre holeCentre(double x, double y) { return {(x + 1) / 2 * 320, (1.5 - y) / 3 * 480}; }

TEST(FluvaneProgram, TwoFingeringsByKeysThroughTheProcess) {
  const std::string folder = Paths::join(Paths::home(), "program-run");
  Paths::mkdirs(folder);
  const std::string microphone = Paths::join(folder, "breath.raw");
  const std::string output = Paths::join(folder, "out.raw");
  writeNoise(microphone, 8.0, 0.5);
  const int status = runFluvane(folder,
                                "# all four holes, then the two lower ones open\n"
                                "key E down\nkey D down\nkey I down\nkey K down\n"
                                "wait 1.0\n"
                                "expect int Fluvane: Finger state 15\n"
                                "shot covered.png\n"
                                "key D up\nkey K up\n"
                                "wait 1.0\n"
                                "expect int Fluvane: Finger state 10\n"
                                "shot open.png\n"
                                "quit\n",
                                output, microphone);
  ASSERT_EQ(status, 0) << "see " << folder << "/stderr.txt";

  // Root C (8va), Ionian: all covered is 72; holes 0 and 2 open add 1 + 2
  // degrees, the fourth: 77. The keys reach the engine a little after the
  // engine time the script names (the main loop's turn), so the notes are
  // looked for in steady windows of the sound rather than at fixed times:
  // first 72, later 77.
  std::vector<double> all = readOutput(output, 0, 60);
  std::vector<int> notes;
  const std::size_t window = 4000;
  for (std::size_t at = 0; at + window <= all.size(); at += window / 2) {
    const double f = fundamental(std::vector<double>(all.begin() + static_cast<long>(at),
                                                     all.begin() + static_cast<long>(at + window)));
    for (int note : {72, 77}) {
      if (f > 0 && std::fabs(cents(f, note)) <= 10 && (notes.empty() || notes.back() != note)) {
        notes.push_back(note);
      }
    }
  }
  EXPECT_EQ(notes, (std::vector<int>{72, 77}));

  std::string error;
  std::optional<platform::gfx::Image> covered =
      platform::gfx::Image::loadStraight(Paths::join(folder, "covered.png"), &error);
  ASSERT_TRUE(covered) << error;
  std::optional<platform::gfx::Image> open =
      platform::gfx::Image::loadStraight(Paths::join(folder, "open.png"), &error);
  ASSERT_TRUE(open) << error;
  ASSERT_EQ(covered->width, 320);
  ASSERT_EQ(open->height, 480);
  // Holes 0 (left lower) and 2 (right lower) were opened: they look different.
  // The upper holes stayed covered: they differ much less (ripples may pass).
  const double upper = std::max(differenceAround(*covered, *open, holeCentre(-0.5, 0.5).x,
                                                 holeCentre(-0.5, 0.5).y),
                                differenceAround(*covered, *open, holeCentre(0.5, 0.9).x,
                                                 holeCentre(0.5, 0.9).y));
  for (Centre c : {holeCentre(-0.5, -0.7), holeCentre(0.5, -0.2)}) {
    const double changed = differenceAround(*covered, *open, c.x, c.y);
    EXPECT_GT(changed, 15.0) << c.x << "," << c.y;
    EXPECT_GT(changed, 2 * upper) << c.x << "," << c.y;
  }
}

TEST(FluvaneProgram, AFailedExpectationExitsWithOne) {
  const std::string folder = Paths::join(Paths::home(), "program-fail");
  Paths::mkdirs(folder);
  const int status = runFluvane(
      folder, "key E down\nwait 0.2\nexpect int Fluvane: Finger state 9\n", "/dev/null",
      "/nonexistent");
  EXPECT_EQ(status, 1);
  std::ifstream err(Paths::join(folder, "stderr.txt"));
  std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("line 3: 'Fluvane: Finger state': expected 9, found 2"), std::string::npos)
      << text;
  // A script that does not parse runs nothing.
  EXPECT_EQ(runFluvane(folder, "wait forever\n", "/dev/null", "/nonexistent"), 2);
}

}  // namespace
