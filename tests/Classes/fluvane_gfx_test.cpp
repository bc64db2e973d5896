// The instrument graphics' input state, without drawing: touches to holes,
// tilt to vibrato, covering and uncovering, playback display, breath and
// ripples, the shared breath across threads, and the SGI image reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Classes/FluvaneGfx.h"
#include "tools/SgiWriter.h"
#include "vxu/ui/VXUIUtils.h"

namespace {

struct RecordingBridge : FluvaneGfxBridge {
  std::vector<int> states;
  std::vector<float> rates, depths;
  void setState(int mask) override { states.push_back(mask); }
  void setVibratoRate(float rate) override { rates.push_back(rate); }
  void setVibratoDepth(float depth) override { depths.push_back(depth); }
  void setFluvaneMode(int mode) override { modes.push_back(mode); }
  std::vector<int> modes;
};

struct RecordingHandler : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
  int count(int code) const {
    int n = 0;
    for (int c : codes) n += c == code;
    return n;
  }
};

class FluvaneGfxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FluvaneGfx::reset();
    FluvaneGfx::setChipBridge(&bridge_);
    FluvaneGfx::fluvaneGfxSetMessageHandler(&handler_);
  }
  void TearDown() override { FluvaneGfx::reset(); }
  RecordingBridge bridge_;
  RecordingHandler handler_;
};

TEST_F(FluvaneGfxTest, TouchesMapToHolesInBothLayoutsAndTouchMode) {
  struct Case {
    int layout;
    bool touchMode;
    int x, y;
    int hole;
  };
  const Case cases[] = {
      // Layout 0: halves at x 160, y 240.
      {0, false, 0, 0, 0},        {0, false, 159, 239, 0},   {0, false, 159, 240, 1},
      {0, false, 160, 239, 2},    {0, false, 160, 240, 3},   {0, false, 319, 479, 3},
      {0, false, 100, 450, 1},    {0, true, 100, 450, 4},    {0, true, 100, 400, 1},
      {0, true, 160, 450, 3},     {0, true, 159, 401, 4},
      // Layout 1: the right side splits at 298, the left at 232/233.
      {1, false, 200, 297, 2},    {1, false, 200, 298, 3},   {1, false, 100, 232, 0},
      {1, false, 100, 233, 1},    {1, false, 160, 0, 2},     {1, true, 100, 450, 4},
      {1, true, 200, 450, 3},
      // Any other layout number is layout 0.
      {2, false, 100, 233, 0},    {-1, false, 200, 297, 3},
  };
  for (const Case& c : cases) {
    FluvaneGfx::setLayoutMode(c.layout);
    FluvaneGfx::fluvaneGFXsetTouchMode(c.touchMode);
    EXPECT_EQ(FluvaneGfx::getQuadrant(c.x, c.y), c.hole)
        << "layout " << c.layout << " touch " << c.touchMode << " (" << c.x << ", " << c.y << ")";
  }
}

TEST_F(FluvaneGfxTest, TiltGivesVibratoRateAndDepth) {
  struct Case {
    float x, y;
    float rate, depth;
  };
  const Case cases[] = {
      {-1.2f, 0, 2.0f, 0.5f / 2.4f}, {1.2f, 0, 8.0f, 0.5f / 2.4f}, {0, -1, 5.0f, 0},
      {0, -0.5f, 5.0f, 0},           {0, -0.51f, 5.0f, 0},        {0.6f, 1.9f, 6.5f, 1.0f},
  };
  for (const Case& c : cases) {
    bridge_.rates.clear();
    bridge_.depths.clear();
    FluvaneGfx::setAccelerometer(c.x, c.y, 0.3f);
    ASSERT_EQ(bridge_.rates.size(), 1u);
    ASSERT_EQ(bridge_.depths.size(), 1u);
    EXPECT_NEAR(bridge_.rates[0], c.rate, 1e-5) << c.x << ", " << c.y;
    EXPECT_NEAR(bridge_.depths[0], c.depth, 1e-5) << c.x << ", " << c.y;
  }
}

TEST_F(FluvaneGfxTest, CoveringTellsTheBridgeTheMaskOnceEach) {
  FluvaneGfx::FingerHole::get(0)->keyOn();
  FluvaneGfx::FingerHole::get(0)->keyOn();  // already covered: nothing
  FluvaneGfx::FingerHole::get(3)->keyOn();
  FluvaneGfx::FingerHole::get(0)->keyOff();
  FluvaneGfx::FingerHole::get(2)->keyOff();  // not covered: nothing
  FluvaneGfx::FingerHole::get(4)->keyOn();
  EXPECT_EQ(bridge_.states, (std::vector<int>{1, 9, 8, 24}));
  EXPECT_EQ(FluvaneGfx::state(), 24);
  EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(3)->targetScale, 1.1f);
  EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(0)->targetScale, 0.5f);
  // The blow area is inverted: covered it shrinks.
  EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(4)->targetScale, 0.5f);
  EXPECT_NE(FluvaneGfx::FingerHole::get(5), nullptr);
  EXPECT_EQ(FluvaneGfx::FingerHole::get(6), nullptr);
  EXPECT_EQ(FluvaneGfx::FingerHole::get(-1), nullptr);
}

TEST_F(FluvaneGfxTest, PlaybackShowsStatesWithoutTellingTheBridge) {
  FluvaneGfx::FingerHole::get(1)->keyOn();
  bridge_.states.clear();
  FluvaneGfx::gfxPlaybackStateChangedCallback(5);  // not playing: ignored
  EXPECT_TRUE(FluvaneGfx::FingerHole::get(1)->covered);
  EXPECT_FALSE(FluvaneGfx::FingerHole::get(0)->covered);

  FluvaneGfx::gfxSetIsPlaying(true);
  FluvaneGfx::gfxPlaybackStateChangedCallback(5);
  const bool expected[] = {true, false, true, false, false};
  for (int i = 0; i < 5; i++) EXPECT_EQ(FluvaneGfx::FingerHole::get(i)->covered, expected[i]);
  FluvaneGfx::FingerHole::get(3)->keyOn();  // a touch while playing: shown only
  FluvaneGfx::gfxPlaybackStateChangedCallback(-1);
  for (int i = 0; i < 5; i++) {
    EXPECT_FALSE(FluvaneGfx::FingerHole::get(i)->covered) << i;
    EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(i)->targetScale, i == 4 ? 1.1f : 0.5f) << i;
  }
  EXPECT_TRUE(bridge_.states.empty());
  EXPECT_EQ(FluvaneGfx::state(), 2);
}

TEST_F(FluvaneGfxTest, SteadyBreathStartsOneRipplePerSeventeenFrames) {
  std::vector<int> rippleFrames;
  std::size_t before = 0;
  for (int frame = 1; frame <= 170; frame++) {
    FluvaneGfx::breathControl(0.5f);
    FluvaneGfx::advanceFrame();
    const std::size_t now = FluvaneGfx::rippleCount();
    if (now > before) rippleFrames.push_back(frame);
    before = now;
  }
  ASSERT_EQ(rippleFrames.size(), 10u);
  for (std::size_t i = 0; i < rippleFrames.size(); i++) {
    EXPECT_EQ(rippleFrames[i], 1 + 17 * static_cast<int>(i));
  }
  EXPECT_EQ(handler_.count(FluvaneGfx::kMsgBreathRipple), 10);
  EXPECT_EQ(handler_.count(FluvaneGfx::kMsgBreathRanDown), 0);
  // Ripples grow out of the screen and are freed: at most six live at once.
  EXPECT_LE(FluvaneGfx::rippleCount(), 6u);
}

TEST_F(FluvaneGfxTest, BreathRunsDownOnceAndLeaks) {
  FluvaneGfx::breathControl(2.0f);
  EXPECT_EQ(FluvaneGfx::breathTimer(), 45);
  FluvaneGfx::breathControl(5.0f);
  EXPECT_FLOAT_EQ(FluvaneGfx::breathIntegral(), 3.0f);  // clamped
  FluvaneGfx::breathControl(NAN);
  EXPECT_FLOAT_EQ(FluvaneGfx::breathIntegral(), 3.0f);
  int ranDownAt = -1;
  for (int frame = 1; frame <= 100; frame++) {
    FluvaneGfx::advanceFrame();
    if (handler_.count(FluvaneGfx::kMsgBreathRanDown) == 1 && ranDownAt < 0) ranDownAt = frame;
  }
  EXPECT_EQ(ranDownAt, 45);
  EXPECT_EQ(handler_.count(FluvaneGfx::kMsgBreathRanDown), 1);
  EXPECT_EQ(FluvaneGfx::breathTimer(), 0);
  EXPECT_NEAR(FluvaneGfx::breathIntegral(), 3.0 * std::pow(0.9, 100), 1e-6);
  // A weak breath adds but does not restart the timer.
  FluvaneGfx::breathControl(0.1f);
  EXPECT_EQ(FluvaneGfx::breathTimer(), 0);
  // Ripples while the timer ran reported 4002; no breath after: no ripple.
  const int ripples = handler_.count(FluvaneGfx::kMsgBreathRipple);
  EXPECT_GE(ripples, 1);
}

TEST_F(FluvaneGfxTest, HolesEaseTowardTheirTargetAndLayoutsMoveThem) {
  FluvaneGfx::FingerHole* hole = FluvaneGfx::FingerHole::get(2);
  EXPECT_FLOAT_EQ(hole->currentScale, 1.5f);
  EXPECT_FLOAT_EQ(hole->centre.size, 2 * 0.3f * 1.5f);
  FluvaneGfx::advanceFrame();
  EXPECT_FLOAT_EQ(hole->currentScale, 1.5f + (0.5f - 1.5f) * 0.375f);
  EXPECT_FLOAT_EQ(hole->centre.size, 2 * 0.3f * hole->currentScale);
  EXPECT_FLOAT_EQ(hole->outer.size, 0.85f * 0.3f);
  EXPECT_FLOAT_EQ(hole->y, -0.65f);
  FluvaneGfx::setLayoutMode(1);
  EXPECT_FLOAT_EQ(hole->y, -0.2f);
  EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(3)->y, 0.9f);
  EXPECT_EQ(FluvaneGfx::FingerHole::get(4)->mask, 16);
  EXPECT_TRUE(FluvaneGfx::FingerHole::get(4)->inverted);
  // The blow area is drawn and eased only in touch mode.
  const float blowScale = FluvaneGfx::FingerHole::get(4)->currentScale;
  FluvaneGfx::advanceFrame();
  EXPECT_FLOAT_EQ(FluvaneGfx::FingerHole::get(4)->currentScale, blowScale);
  FluvaneGfx::fluvaneGFXsetTouchMode(true);
  FluvaneGfx::advanceFrame();
  EXPECT_NE(FluvaneGfx::FingerHole::get(4)->currentScale, blowScale);
}

// The breath is added on the audio thread while the frame decays and counts
// it down on the main thread: nothing is lost, nothing exceeds the limit.
TEST(FluvaneGfxSharedBreath, AddsFromTwoThreadsAreNeverLost) {
  FluvaneGfx::reset();
  constexpr int kAdds = 1408;
  constexpr float kStep = 1.0f / 1024;  // exact in binary
  auto add = [] {
    for (int i = 0; i < kAdds; i++) FluvaneGfx::breathControl(kStep);
  };
  std::thread a(add), b(add);
  a.join();
  b.join();
  EXPECT_EQ(FluvaneGfx::breathIntegral(), 2 * kAdds * kStep);
  FluvaneGfx::reset();
}

TEST(FluvaneGfxSharedBreath, AudioAndFrameShareTheIntegralAndTimer) {
  FluvaneGfx::reset();
  RecordingHandler handler;
  FluvaneGfx::fluvaneGfxSetMessageHandler(&handler);
  std::thread audio([] {
    for (int i = 0; i < 20000; i++) FluvaneGfx::breathControl(i % 3 == 0 ? 0.5f : 0.01f);
  });
  for (int frame = 0; frame < 2000; frame++) {
    FluvaneGfx::advanceFrame();
    const float integral = FluvaneGfx::breathIntegral();
    ASSERT_GE(integral, 0.0f);
    ASSERT_LE(integral, FluvaneGfx::kBreathMax);
    const int timer = FluvaneGfx::breathTimer();
    ASSERT_GE(timer, 0);
    ASSERT_LE(timer, FluvaneGfx::kBreathTimerFrames);
  }
  audio.join();
  EXPECT_LE(FluvaneGfx::rippleCount(), 6u);
  FluvaneGfx::reset();
}

// --- The SGI reader ---

std::vector<std::uint8_t> gradient(unsigned w, unsigned h) {
  std::vector<std::uint8_t> pixels(std::size_t{w} * h);
  for (unsigned y = 0; y < h; y++) {
    for (unsigned x = 0; x < w; x++) {
      // Runs and literals both: flat bands with a ramp between.
      pixels[std::size_t{y} * w + x] = static_cast<std::uint8_t>(x < w / 3 ? 7 : x * 5 + y);
    }
  }
  return pixels;
}

TEST(FluvaneLuminance, ReadsRunLengthAndVerbatimFiles) {
  for (bool rle : {true, false}) {
    for (unsigned w : {1u, 3u, 200u, 300u}) {
      const unsigned h = 5;
      const std::vector<std::uint8_t> pixels = gradient(w, h);
      const std::vector<std::uint8_t> file = sgi::encode(pixels, w, h, rle);
      std::string error;
      FluvaneGfx::Luminance image = FluvaneGfx::decodeLuminance(file.data(), file.size(), &error);
      ASSERT_TRUE(image.pixels) << error << " rle " << rle << " width " << w;
      EXPECT_EQ(image.width, static_cast<int>(w));
      EXPECT_EQ(image.height, static_cast<int>(h));
      EXPECT_EQ(image.channels, 1);
      EXPECT_EQ(std::vector<std::uint8_t>(image.pixels.get(), image.pixels.get() + w * h),
                pixels);
    }
  }
}

TEST(FluvaneLuminance, RefusesHostileFiles) {
  const unsigned w = 16, h = 4;
  const std::vector<std::uint8_t> good = sgi::encode(gradient(w, h), w, h, true);
  const std::vector<std::uint8_t> goodRaw = sgi::encode(gradient(w, h), w, h, false);
  const std::size_t starts = 512, lengths = 512 + 4 * h;
  const std::size_t firstRow = 512 + 8 * h;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
  };
  std::vector<Case> cases;
  auto edit = [&](const char* name, const std::vector<std::uint8_t>& base, auto change) {
    std::vector<std::uint8_t> f = base;
    change(f);
    cases.push_back({name, f});
  };
  edit("empty", good, [](auto& f) { f.clear(); });
  edit("header only half", good, [](auto& f) { f.resize(300); });
  edit("wrong magic", good, [](auto& f) { sgi::put16(f, 0, 475); });
  edit("two bytes per channel", good, [](auto& f) { f[3] = 2; });
  edit("unknown storage", good, [](auto& f) { f[2] = 7; });
  edit("dimension 0", good, [](auto& f) { sgi::put16(f, 4, 0); });
  edit("three channels", good, [](auto& f) {
    sgi::put16(f, 4, 3);
    sgi::put16(f, 10, 3);
  });
  edit("width 0", good, [](auto& f) { sgi::put16(f, 6, 0); });
  edit("height 0", good, [](auto& f) { sgi::put16(f, 8, 0); });
  edit("width above 4096", good, [](auto& f) { sgi::put16(f, 6, 4097); });
  edit("height 65535", good, [](auto& f) { sgi::put16(f, 8, 65535); });
  edit("tables cut off", good, [&](auto& f) { f.resize(512 + 8 * h - 1); });
  edit("row start past the end", good, [&](auto& f) { sgi::put32(f, starts + 4, 0xfffffff0u); });
  edit("row length past the end", good, [&](auto& f) { sgi::put32(f, lengths, 0x7fffffffu); });
  edit("row start + length wraps", good, [&](auto& f) {
    sgi::put32(f, starts, static_cast<std::uint32_t>(f.size() - 2));
    sgi::put32(f, lengths, 0xffffffffu);
  });
  edit("run wider than the row", good, [&](auto& f) { f[firstRow] = 0x7f; });
  edit("literal wider than the row", good, [&](auto& f) { f[firstRow] = 0xff; });
  edit("literal past the row's length", good, [&](auto& f) {
    sgi::put32(f, lengths, 2);
    f[firstRow] = 0x85;
  });
  edit("repeat without its byte", good, [&](auto& f) {
    sgi::put32(f, lengths, 1);
    f[firstRow] = 0x05;
  });
  edit("short row", good, [&](auto& f) { f[firstRow] = 0; });
  edit("verbatim pixels cut off", goodRaw, [&](auto& f) { f.pop_back(); });
  edit("verbatim huge sizes", goodRaw, [&](auto& f) {
    sgi::put16(f, 6, 4096);
    sgi::put16(f, 8, 4096);
  });
  for (const Case& c : cases) {
    std::string error;
    FluvaneGfx::Luminance image =
        FluvaneGfx::decodeLuminance(c.file.data(), c.file.size(), &error);
    EXPECT_FALSE(image.pixels) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  // The unchanged files still read, so every case above failed for its edit.
  EXPECT_TRUE(FluvaneGfx::decodeLuminance(good.data(), good.size()).pixels);
  EXPECT_TRUE(FluvaneGfx::decodeLuminance(goodRaw.data(), goodRaw.size()).pixels);
  EXPECT_FALSE(FluvaneGfx::decodeLuminance(nullptr, 0).pixels);
}

TEST(FluvaneLuminance, AMissingFileGivesNull) {
  FluvaneGfx::Luminance image = FluvaneGfx::loadLuminance("/nonexistent/flare1.bw");
  EXPECT_FALSE(image.pixels);
}

}  // namespace
