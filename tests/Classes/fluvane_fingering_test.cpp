// Fingering to pitch, the way a player makes it: the real engine runs the
// instrument's four embedded scripts on the test audio hardware, the test
// pumps breath noise into the microphone, covers the holes through the
// instrument graphics, and measures the fundamental of what comes out
// (autocorrelation over a steady 200 ms). The expected notes come from this
// test's own chart and scales (docs/fingering.md), not from the scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/running_instrument_support.h"
#include "Classes/fluvane_pitch_support.h"
#include "Classes/FluvaneGfx.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

using platform::RunLoop;
using platform::TestAudioHardware;

namespace {


// The chart: the degree each open hole adds.
constexpr int kWeights[4] = {1, 3, 2, 4};

int expectedNote(int mask, int root, const std::vector<int>& scale) {
  int degree = 0;
  for (int hole = 0; hole < 4; hole++) {
    if (!(mask & (1 << hole))) degree += kWeights[hole];
  }
  return root + 12 * (degree / 7) + scale[degree % 7];
}

const std::vector<int> kIonian = {0, 2, 4, 5, 7, 9, 11};
const std::vector<int> kDorian = {0, 2, 3, 5, 7, 9, 10};
const std::vector<int> kValorian = {0, 2, 3, 6, 7, 9, 10};


class FluvaneFingeringTest : public RunningInstrumentTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(startInstrument());
  }
  void TearDown() override {
    stopInstrument();
  }

  // Plays seconds of sound with breath noise of peak level on the
  // microphone (0: silence); answers the output's left channel.
  std::vector<double> play(double seconds, double breath) {
    std::vector<double> out;
    const auto buffers = static_cast<int>(std::ceil(seconds * kPitchRate / kBuffer));
    std::vector<std::int32_t> input(kBuffer * 2);
    const double gain = VXALL::m_outputGain.load();
    for (int b = 0; b < buffers; b++) {
      for (std::uint32_t i = 0; i < kBuffer; i++) {
        noise = noise * 1664525u + 1013904223u;
        const double v = breath * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
        input[2 * i] = input[2 * i + 1] = static_cast<std::int32_t>(v * (1 << 24));
      }
      EXPECT_EQ(unit->pump(kBuffer, input), platform::kAudioOK);
      for (std::int32_t s : unit->outputLeft()) out.push_back(s / double(1 << 24) / gain);
    }
    return out;
  }

  // The last 200 ms of a held note.
  static std::vector<double> steady(const std::vector<double>& x) {
    const std::size_t n = static_cast<std::size_t>(0.2 * kPitchRate) + 700;
    return std::vector<double>(x.end() - static_cast<long>(std::min(n, x.size())), x.end());
  }

  void expectPitch(int mask, int note, const std::string& what) {
    finger(mask);
    std::vector<double> sound = steady(play(0.6, 0.4));
    const double f = fundamental(sound);
    ASSERT_GT(f, 0) << what << ": no steady tone; level " << rmsDbfs(sound) << " dBFS";
    EXPECT_NEAR(cents(f, note), 0.0, 10.0) << what << ": " << f << " Hz for note " << note;
  }

  std::uint32_t noise = 12345;
};

TEST_F(FluvaneFingeringTest, EveryMaskAtTheDefaultKey) {
  bridge->setRoot("C (8va)");
  bridge->setMode("Ionian");
  for (int mask = 15; mask >= 0; mask--) {
    expectPitch(mask, expectedNote(mask, 72, kIonian), "Ionian 72 mask " + std::to_string(mask));
  }
}

TEST_F(FluvaneFingeringTest, OtherKeysAndModes) {
  struct Case {
    const char* root;
    int midi;
    const char* mode;
    const std::vector<int>* scale;
    int mask;
  };
  for (const Case& c : {Case{"C", 60, "Dorian", &kDorian, 15}, Case{"C", 60, "Dorian", &kDorian, 9},
                        Case{"C", 60, "Dorian", &kDorian, 3}, Case{"C", 60, "Dorian", &kDorian, 0},
                        Case{"B (8va)", 83, "Valorian", &kValorian, 15},
                        Case{"B (8va)", 83, "Valorian", &kValorian, 12},
                        Case{"B (8va)", 83, "Valorian", &kValorian, 6},
                        Case{"B (8va)", 83, "Valorian", &kValorian, 1}}) {
    bridge->setRoot(c.root);
    bridge->setMode(c.mode);
    expectPitch(c.mask, expectedNote(c.mask, c.midi, *c.scale),
                std::string(c.mode) + " " + c.root + " mask " + std::to_string(c.mask));
  }
}

TEST_F(FluvaneFingeringTest, NoBreathIsSilentAndTheBlowAreaSounds) {
  finger(15);
  std::vector<double> quiet = play(0.5, 0.0);
  EXPECT_LT(rmsDbfs(quiet), -60.0);
  // The blow area counts as full breath, with no input at all.
  bridge->setEnableTouchMode(true);
  finger(15 | 16);
  std::vector<double> blown = steady(play(0.6, 0.0));
  const double level = rmsDbfs(blown);
  EXPECT_GT(level, -30.0);
  const double f = fundamental(blown);
  EXPECT_NEAR(cents(f, 60), 0.0, 10.0) << f;  // root 60, all holes covered
  // Letting go: the tone stops, the echo and the room ring on, fading.
  finger(15);
  play(1.0, 0.0);
  EXPECT_LT(rmsDbfs(play(0.3, 0.0)), level - 20.0);
}

TEST_F(FluvaneFingeringTest, HostileKeysAreHeldInRange) {
  // Any integer may sit in the mode and root keys: the scripts clamp.
  Vexel_Integration::instance().set_int(VXIGN_MODE_KEY, 1000);  // -> 7, Lydian
  Vexel_Integration::instance().set_int(VXIGN_ROOT_KEY, 72);
  expectPitch(8, expectedNote(8, 72, {0, 2, 4, 6, 7, 9, 11}), "mode 1000");
  Vexel_Integration::instance().set_int(VXIGN_MODE_KEY, -5);  // -> 0, Mixolydian
  expectPitch(8, expectedNote(8, 72, {0, 2, 4, 5, 7, 9, 10}), "mode -5");
  // The breath sensitivity and vibrato rate read 0 until written.
  EXPECT_FALSE(Vexel_Integration::instance().has_float(VXIGN_BREATH_SENSITIVITY_KEY));
  EXPECT_GT(rmsDbfs(steady(play(0.3, 0.4))), -30.0);
}

}  // namespace
