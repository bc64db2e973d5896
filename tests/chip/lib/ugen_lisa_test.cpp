// The live sampler on its own: sizing, playback copies at rates 1, -1 and
// 0.5, back-and-forth loops, ramps, recording with its ramps and loop,
// voices, tracking, and a table of hostile voices, durations, rates and
// positions after which the output is finite and the sampler recovers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "chip/lib/ugen_lisa.h"
#include "log_capture.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A sampler of n samples holding 0, 1, 2, ... n - 1.
void fill_ramp(LiSa_Obj& l, int n) {
  l.setDuration(n);
  for (int i = 0; i < n; i++) l.setValueAt(i, i);
}

TEST(LiSaTest, SizingResetsEverything) {
  LiSa_Obj l;
  EXPECT_EQ(l.tick(1.0f), 0.0f);  // no buffer yet
  EXPECT_EQ(l.setDuration(88200.0), 88200.0);
  EXPECT_EQ(l.size, 88200);
  EXPECT_EQ(l.loopEnd[0], 88199);
  EXPECT_EQ(l.loopEnd[199], 88199);
  EXPECT_EQ(l.loopEndRec, 88200);
  EXPECT_EQ(l.maxVoices, 10);
  EXPECT_EQ(l.loopRec, 1);
  const auto lines = printed_lines([&] { EXPECT_EQ(l.setDuration(5e7), 44100000.0); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "buffer size request too large, resizing");
  EXPECT_EQ(l.size, 44100000);
}

TEST(LiSaTest, RateOneCopiesMinusOneReversesHalfInterpolates) {
  LiSa_Obj l;
  fill_ramp(l, 64);
  l.setPlay(0, 1);
  for (int i = 0; i < 63; i++) EXPECT_EQ(l.tick(0.0f), float(i));
  // Rate -1 from the loop end plays backwards and wraps to the end.
  l.setPlayPos(0, 62.0);
  l.setRate(0, -1.0);
  for (int i = 62; i > 0; i--) EXPECT_EQ(l.tick(0.0f), float(i));
  // Rate 0.5: linear interpolation between neighbours.
  l.setPlayPos(0, 10.0);
  l.setRate(0, 0.5);
  for (int i = 0; i < 40; i++) EXPECT_FLOAT_EQ(l.tick(0.0f), 10.0f + 0.5f * i);
}

TEST(LiSaTest, BackAndForthReversesAtTheLoopPoints) {
  LiSa_Obj l;
  fill_ramp(l, 100);
  l.setLoopStart(0, 10);
  l.setLoopEnd(0, 20);
  l.bi[0] = 1;
  l.setPlayPos(0, 10.0);
  l.setPlay(0, 1);
  std::vector<float> out;
  for (int i = 0; i < 40; i++) out.push_back(l.tick(0.0f));
  for (int i = 0; i < 10; i++) EXPECT_EQ(out[i], 10.0f + i);
  // At the end the rate turns and the voice comes back down.
  EXPECT_EQ(out[10], 19.0f);
  EXPECT_EQ(out[11], 18.0f);
  for (float y : out) {
    EXPECT_GE(y, 10.0f);
    EXPECT_LE(y, 20.0f);
  }
  bool reversed_twice = false;
  for (int i = 0; i < 1000 && !reversed_twice; i++) {
    const double before = l.rate[0];
    l.tick(0.0f);
    reversed_twice = before < 0.0 && l.rate[0] > 0.0;
  }
  EXPECT_TRUE(reversed_twice);
}

TEST(LiSaTest, RampsFadeLinearlyAndTurnAround) {
  LiSa_Obj l;
  l.setDuration(5000);
  for (int i = 0; i < 5000; i++) l.setValueAt(1.0, i);
  l.setPlay(0, 1);
  l.rampDown(0, 1000.0);
  for (int i = 0; i < 1000; i++) {
    EXPECT_NEAR(l.tick(0.0f), (1000.0 - i) / 1000.0, 1e-6);
  }
  EXPECT_EQ(l.play[0], 0);
  EXPECT_EQ(l.tick(0.0f), 0.0f);
  // A fade-in during a fade-out continues from the current gain.
  l.setPlay(0, 1);
  l.rampDown(0, 1000.0);
  for (int i = 0; i < 300; i++) l.tick(0.0f);  // gain now 0.7
  l.rampUp(0, 1000.0);
  EXPECT_NEAR(l.tick(0.0f), 0.7, 1e-6);
  EXPECT_NEAR(l.tick(0.0f), 0.701, 1e-6);
}

TEST(LiSaTest, RecordingRampsAndLoops) {
  LiSa_Obj l;
  l.setDuration(1000);
  l.setRecRamp(100.0);
  l.record = 1;
  for (int i = 0; i < 1000; i++) l.tick(1.0f);
  EXPECT_EQ(l.valueAt(0.0), 0.0);
  EXPECT_FLOAT_EQ(l.valueAt(50.0), 0.5f);
  EXPECT_FLOAT_EQ(l.valueAt(500.0), 1.0f);
  // loop rec on: the index wraps at loop end rec.
  EXPECT_EQ(l.recordIndex, 1000);
  l.tick(1.0f);
  EXPECT_EQ(l.recordIndex, 1);
  // loop rec off: recording stops there.
  l.setDuration(10);
  l.loopRec = 0;
  l.record = 1;
  for (int i = 0; i < 11; i++) l.tick(2.0f);
  EXPECT_EQ(l.record, 0);
  EXPECT_EQ(l.valueAt(9.0), 2.0);
  // Feedback keeps part of the old sample.
  l.setDuration(4);
  l.feedback = 0.5;
  l.record = 1;
  for (int i = 0; i < 8; i++) l.tick(1.0f);
  EXPECT_FLOAT_EQ(l.valueAt(1.0), 1.5f);
}

TEST(LiSaTest, VoicesAndTracking) {
  LiSa_Obj l;
  fill_ramp(l, 101);
  EXPECT_EQ(l.getVoice(), 0);
  l.setPlay(0, 1);
  EXPECT_EQ(l.getVoice(), 1);
  l.setMaxVoices(1);
  EXPECT_EQ(l.getVoice(), -1);
  const auto lines = printed_lines([&] { EXPECT_EQ(l.setMaxVoices(300), 200); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "LiSa: MAXVOICES limited to  200.");
  l.setMaxVoices(10);
  // Track 1: the input picks the relative position in each loop.
  l.track = 1;
  EXPECT_FLOAT_EQ(l.tick(0.5f), 50.0f);
  EXPECT_FLOAT_EQ(l.tick(-0.25f), 25.0f);
  l.setPlay(1, 1);
  l.setLoopStart(1, 20);
  l.setLoopEnd(1, 40);
  EXPECT_FLOAT_EQ(l.tick(0.5f), 50.0f + 30.0f);
  // Track 2: voice 0 at the absolute position |x|.
  l.track = 2;
  l.voiceGain[0] = 2.0;
  EXPECT_FLOAT_EQ(l.tick(-12.5f), 25.0f);
  EXPECT_FLOAT_EQ(l.tick(1e9f), 200.0f);  // held to the loop end (100)
  EXPECT_FLOAT_EQ(l.tick(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_FLOAT_EQ(l.value(0, 10.5), 21.0);
}

TEST(LiSaTest, HostileVoicesDurationsRatesAndPositions) {
  // Voices outside 0..199 are refused.
  for (long v : {-1L, 200L, 1000000000L}) {
    const auto lines = printed_lines([&] { EXPECT_FALSE(LiSa_Obj::voiceOk(v)); });
    EXPECT_EQ(lines.size(), 1u);
  }
  // Before duration: nothing writes, everything answers 0.
  {
    LiSa_Obj l;
    printed_lines([&] {
      l.setValueAt(1.0, 0.0);
      EXPECT_EQ(l.valueAt(0.0), 0.0);
    });
    l.clear();
    l.setPlay(0, 1);
    l.record = 1;
    l.setRecPos(100.0);
    l.setLoopEnd(0, 1e9);
    EXPECT_EQ(l.value(0, 5.0), 0.0);
    EXPECT_EQ(l.tick(1.0f), 0.0f);
  }
  const double durations[] = {-1.0, 0.0, 1.0, kNaN, 1e12, -kInf, kInf};
  const double values[] = {1e30, -1e30, kNaN, kInf, -kInf, 1e308, -1e308, 0.0, 0.5};
  for (double d : durations) {
    SCOPED_TRACE(d);
    LiSa_Obj l;
    printed_lines([&] { l.setDuration(d); });
    if (!(d >= 0.0)) {
      EXPECT_EQ(l.buffer, nullptr);
    }
    for (double v : values) {
      SCOPED_TRACE(v);
      printed_lines([&] {
        l.setRate(0, v);
        l.setPlayPos(0, v);
        l.setLoopStart(0, v);
        l.setLoopEnd(0, v);
        l.setRecPos(v);
        l.setLoopEndRec(v);
        l.rampUp(0, v);
        l.rampDown(1, v);
        l.setRecRamp(v);
        l.setValueAt(v, v);
        l.valueAt(v);
        l.value(0, v);
      });
      EXPECT_GE(l.loopStart[0], 0);
      EXPECT_LE(l.loopStart[0], std::max(l.size - 1, 0));
      EXPECT_LE(l.loopEnd[0], std::max(l.size - 1, 0));
      EXPECT_LE(l.recordIndex, l.size);  // the next sample to record
      EXPECT_LE(l.loopEndRec, l.size);
      l.setPlay(0, 1);
      l.setPlay(1, 1);
      l.record = 1;
      for (int32_t t = 0; t < 3; t++) {
        l.track = t;
        for (int i = 0; i < 50; i++) ASSERT_TRUE(std::isfinite(l.tick(float(v))));
      }
      l.track = 0;
    }
    // Recovery: sized again, it plays what it records.
    l.setDuration(8);
    l.record = 1;
    for (int i = 0; i < 8; i++) l.tick(float(i));
    l.record = 0;
    l.setPlay(0, 1);
    for (int i = 0; i < 7; i++) EXPECT_EQ(l.tick(0.0f), float(i));
  }
}

}  // namespace
