// The launched instrument draws a picture only when something changed: left
// alone it draws none (once the breath marker has come to rest), a breath's
// ripples draw one a tick, and a covered hole draws while it eases and the
// marker pulses again. Counted in ticks of the test's clock, not timed.
#include <gtest/gtest.h>

#include "Classes/FluvaneGfx.h"
#include "Classes/ui/launched_instrument_support.h"

namespace {

class FramesDrawn : public LaunchedInstrumentTest {
 protected:
  // Frames the host's loop draws over ticks of the instrument's 30 Hz
  // timer, each after during() ran.
  template <typename During>
  int framesOver(int ticks, During during) {
    int drawn = 0;
    for (int i = 0; i < ticks; i++) {
      during();
      play(1.0 / 30);
      if (app->drawIfNeeded()) drawn++;
    }
    return drawn;
  }
  int framesOver(int ticks) {
    return framesOver(ticks, [] {});
  }
  static constexpr int kSecond = 30;
};

TEST_F(FramesDrawn, OnlyAChangeDrawsAPicture) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  ASSERT_TRUE(delegate->glView->animating());
  // The launch's hint and the breath marker's pulse, then rest.
  EXPECT_GT(framesOver(FluvaneGfx::kMarkerPulseFrames + 2 * kSecond), 0);
  EXPECT_EQ(framesOver(3 * kSecond), 0) << "nothing moves";

  // Blowing: ripples rise, a picture every tick.
  EXPECT_GE(framesOver(kSecond, [] { FluvaneGfx::breathControl(0.5f); }), kSecond - 1);
  EXPECT_GT(FluvaneGfx::rippleCount(), 0u);
  // The ripples fade and go, the marker pulses on and rests again.
  framesOver(FluvaneGfx::kMarkerPulseFrames + 4 * kSecond);
  EXPECT_EQ(FluvaneGfx::rippleCount(), 0u);
  EXPECT_EQ(framesOver(3 * kSecond), 0) << "nothing moves after the breath";

  // A hole covered: drawn while it eases and the marker asks for breath.
  FluvaneGfx::FingerHole::get(1)->keyOn();
  EXPECT_GE(framesOver(kSecond), kSecond - 1);
  FluvaneGfx::FingerHole::get(1)->keyOff();
  framesOver(FluvaneGfx::kMarkerPulseFrames + kSecond);
  EXPECT_EQ(framesOver(3 * kSecond), 0) << "nothing moves after the touch";
}

}  // namespace
