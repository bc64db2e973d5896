// The desktop's synthetic breath: mixed into the microphone's samples of a
// wrapped audio unit, the same in both channels, rising and falling over
// 20 ms; and the count of rendered frames that is the automation's engine
// clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Classes/FluvaneMicInput.h"
#include "platform/RemoteIOUnit.h"

using namespace platform;

namespace {

// What the client's render callback heard from renderInput.
struct Heard {
  std::vector<std::int32_t> left, right;
};

AudioStatus render(void* refCon, RemoteIOUnit& unit, std::uint32_t, std::uint32_t frames,
                   AudioBufferList&) {
  auto* heard = static_cast<Heard*>(refCon);
  std::vector<std::int32_t> left(frames), right(frames);
  AudioBufferList input;
  input.numberBuffers = 2;
  input.buffers[0] = {1, frames * 4, left.data()};
  input.buffers[1] = {1, frames * 4, right.data()};
  AudioStatus status = unit.renderInput(frames, input);
  heard->left.insert(heard->left.end(), left.begin(), left.end());
  heard->right.insert(heard->right.end(), right.begin(), right.end());
  return status;
}

double peak(const std::vector<std::int32_t>& x, std::size_t from, std::size_t to) {
  double p = 0;
  for (std::size_t i = from; i < to && i < x.size(); i++) {
    p = std::max(p, std::fabs(x[i] / double(kFixedPointOne)));
  }
  return p;
}

TEST(FluvaneMicInput, BreathNoiseRisesInBothChannelsAndFramesAreCounted) {
  TestAudioHardware hw;
  FluvaneMicInput::install();
  std::shared_ptr<RemoteIOUnit> unit = RemoteIOUnit::create();
  ASSERT_TRUE(unit);
  Heard heard;
  ASSERT_EQ(unit->enableIO(AudioScope::Input, kInputElement, true), kAudioOK);
  ASSERT_EQ(unit->setRenderCallback(AudioScope::Input, kOutputElement, {&render, &heard}),
            kAudioOK);
  ASSERT_EQ(unit->setStreamFormat(AudioScope::Output, kInputElement, canonicalFormat(16000)),
            kAudioOK);
  ASSERT_EQ(unit->setStreamFormat(AudioScope::Input, kOutputElement, canonicalFormat(16000)),
            kAudioOK);
  ASSERT_EQ(unit->initialize(), kAudioOK);
  ASSERT_EQ(unit->start(), kAudioOK);
  std::shared_ptr<TestRemoteIOUnit> inner = hw.unit();
  ASSERT_TRUE(inner);

  const std::uint64_t before = FluvaneMicInput::framesRendered();
  FluvaneMicInput::setBreath(0);
  ASSERT_EQ(inner->pump(256), kAudioOK);
  EXPECT_EQ(FluvaneMicInput::framesRendered(), before + 256);
  EXPECT_EQ(peak(heard.left, 0, 256), 0.0);  // no breath: the input untouched

  // Full breath: 20 ms (320 samples) to rise, noise of peak 0.5 then.
  heard = {};
  FluvaneMicInput::setBreath(1.0);
  for (int i = 0; i < 4; i++) ASSERT_EQ(inner->pump(256), kAudioOK);
  EXPECT_EQ(FluvaneMicInput::framesRendered(), before + 5 * 256);
  EXPECT_EQ(heard.left, heard.right);
  EXPECT_LT(peak(heard.left, 0, 32), 0.06);
  EXPECT_GT(peak(heard.left, 400, 1024), 0.4);
  EXPECT_LE(peak(heard.left, 0, 1024), 0.5 + 1e-6);

  // Let go: silent again after the 20 ms fall.
  heard = {};
  FluvaneMicInput::setBreath(0);
  for (int i = 0; i < 2; i++) ASSERT_EQ(inner->pump(256), kAudioOK);
  EXPECT_GT(peak(heard.left, 0, 32), 0.3);
  EXPECT_EQ(peak(heard.left, 330, 512), 0.0);

  // Levels are held within 0..1.
  FluvaneMicInput::setBreath(7);
  EXPECT_EQ(FluvaneMicInput::breath(), 1.0);
  FluvaneMicInput::setBreath(NAN);
  EXPECT_EQ(FluvaneMicInput::breath(), 0.0);

  unit->stop();
  FluvaneMicInput::uninstall();
}

}  // namespace
