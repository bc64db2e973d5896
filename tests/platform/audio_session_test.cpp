#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioSession.h"

namespace {

using namespace platform;
using Op = TestAudioSession::Op;

TEST(AudioSession, FourCharacterCodesPackBigEndian) {
  EXPECT_EQ(fourCC("live"), 0x6c697665u);
  EXPECT_EQ(kCategoryPlayAndRecord, 0x706c6172u);
  EXPECT_EQ(kRouteOverrideSpeaker, 0x73706b72u);
}

TEST(TestAudioSession, EverythingButInitializeNeedsInitializeFirst) {
  TestAudioSession session;
  bool playing = true;
  std::uint32_t category = 0;
  std::optional<std::string> route;
  double rate = 0;
  EXPECT_EQ(session.setActive(true), kAudioErrNotInitialized);
  EXPECT_EQ(session.getOtherAudioIsPlaying(playing), kAudioErrNotInitialized);
  EXPECT_EQ(session.getCategory(category), kAudioErrNotInitialized);
  EXPECT_EQ(session.getRoute(route), kAudioErrNotInitialized);
  EXPECT_EQ(session.getCurrentSampleRate(rate), kAudioErrNotInitialized);
  EXPECT_EQ(session.addRouteChangeListener([](const RouteChange&) {}), kAudioErrNotInitialized);
  EXPECT_FALSE(session.active());

  ASSERT_EQ(session.initialize(nullptr), kAudioOK);
  EXPECT_TRUE(session.initialized());
  EXPECT_EQ(session.initialize(nullptr), kAudioErrAlreadyInitialized);
}

TEST(TestAudioSession, PropertiesRoundTripAndRejectForeignValues) {
  TestAudioSession session;
  ASSERT_EQ(session.initialize(nullptr), kAudioOK);
  EXPECT_EQ(session.setActive(true), kAudioOK);
  EXPECT_TRUE(session.active());
  EXPECT_EQ(session.setActiveCalls(), 1);

  bool playing = true;
  EXPECT_EQ(session.getOtherAudioIsPlaying(playing), kAudioOK);
  EXPECT_FALSE(playing);
  session.setOtherAudioPlaying(true);
  EXPECT_EQ(session.getOtherAudioIsPlaying(playing), kAudioOK);
  EXPECT_TRUE(playing);

  std::uint32_t category = 0;
  EXPECT_EQ(session.setCategory(kCategoryPlayAndRecord), kAudioOK);
  EXPECT_EQ(session.getCategory(category), kAudioOK);
  EXPECT_EQ(category, kCategoryPlayAndRecord);
  EXPECT_EQ(session.setCategory(fourCC("solo")), kAudioErrInvalidValue);
  EXPECT_EQ(session.category(), kCategoryPlayAndRecord);

  std::optional<std::string> route;
  EXPECT_EQ(session.getRoute(route), kAudioOK);
  EXPECT_EQ(route, std::optional<std::string>("Speaker"));
  session.setRouteName(std::nullopt);
  EXPECT_EQ(session.getRoute(route), kAudioOK);
  EXPECT_FALSE(route.has_value());

  EXPECT_EQ(session.setRouteOverride(kRouteOverrideSpeaker), kAudioOK);
  EXPECT_EQ(session.setRouteOverride(kRouteOverrideNone), kAudioOK);
  EXPECT_EQ(session.setRouteOverride(7), kAudioErrInvalidValue);
  EXPECT_EQ(session.routeOverride(), kRouteOverrideNone);
  EXPECT_EQ(session.routeOverrideSets(), 2);

  EXPECT_EQ(session.setPreferredBufferDuration(0.016f), kAudioOK);
  EXPECT_EQ(session.setPreferredBufferDuration(-1.0f), kAudioErrInvalidValue);
  EXPECT_FLOAT_EQ(session.preferredBufferDuration(), 0.016f);
  EXPECT_EQ(session.setPreferredSampleRate(16000.0), kAudioOK);
  EXPECT_EQ(session.setPreferredSampleRate(0.0), kAudioErrInvalidValue);
  EXPECT_EQ(session.preferredSampleRate(), 16000.0);

  double rate = 0;
  EXPECT_EQ(session.getCurrentSampleRate(rate), kAudioOK);
  EXPECT_EQ(rate, 44100.0);  // the hardware's, not the preferred one
  session.setCurrentSampleRate(16000.0);
  EXPECT_EQ(session.getCurrentSampleRate(rate), kAudioOK);
  EXPECT_EQ(rate, 16000.0);

  session.playSystemSound(4095);
  EXPECT_EQ(session.systemSoundsPlayed(), std::vector<std::uint32_t>{4095});
}

// Each failing operation answers the injected status and changes nothing;
// clearing the failure makes it work again.
TEST(TestAudioSession, EachOperationCanBeMadeToFail) {
  struct Case {
    Op op;
    std::function<AudioStatus(TestAudioSession&)> call;
  };
  bool playing = false;
  std::uint32_t category = 0;
  std::optional<std::string> route;
  double rate = 0;
  const std::vector<Case> cases = {
      {Op::SetActive, [](TestAudioSession& s) { return s.setActive(true); }},
      {Op::GetOtherAudioIsPlaying, [&](TestAudioSession& s) { return s.getOtherAudioIsPlaying(playing); }},
      {Op::GetCategory, [&](TestAudioSession& s) { return s.getCategory(category); }},
      {Op::SetCategory, [](TestAudioSession& s) { return s.setCategory(kCategoryPlayAndRecord); }},
      {Op::GetRoute, [&](TestAudioSession& s) { return s.getRoute(route); }},
      {Op::SetRouteOverride, [](TestAudioSession& s) { return s.setRouteOverride(kRouteOverrideSpeaker); }},
      {Op::SetPreferredBufferDuration, [](TestAudioSession& s) { return s.setPreferredBufferDuration(0.5f); }},
      {Op::SetPreferredSampleRate, [](TestAudioSession& s) { return s.setPreferredSampleRate(8000.0); }},
      {Op::GetCurrentSampleRate, [&](TestAudioSession& s) { return s.getCurrentSampleRate(rate); }},
      {Op::AddRouteChangeListener,
       [](TestAudioSession& s) { return s.addRouteChangeListener([](const RouteChange&) {}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op));
    TestAudioSession session;
    ASSERT_EQ(session.initialize(nullptr), kAudioOK);
    session.fail(c.op, -42);
    EXPECT_EQ(c.call(session), -42);
    EXPECT_FALSE(session.active());
    EXPECT_EQ(session.setActiveCalls(), 0);
    EXPECT_EQ(session.category(), kCategoryLiveAudio);
    EXPECT_EQ(session.routeOverrideSets(), 0);
    EXPECT_EQ(session.preferredBufferDuration(), 0.0f);
    EXPECT_EQ(session.preferredSampleRate(), 0.0);
    EXPECT_EQ(session.routeChangeListenerCount(), 0u);
    session.clearFailure(c.op);
    EXPECT_EQ(c.call(session), kAudioOK);
  }

  TestAudioSession session;
  session.fail(Op::Initialize);  // no status given: a failure all the same
  EXPECT_NE(session.initialize(nullptr), kAudioOK);
  EXPECT_FALSE(session.initialized());
  session.clearFailures();
  EXPECT_EQ(session.initialize(nullptr), kAudioOK);
}

TEST(TestAudioSession, TheTestFiresInterruptionsAndRouteChanges) {
  TestAudioSession session;
  std::vector<std::uint32_t> states;
  ASSERT_EQ(session.initialize([&](std::uint32_t state) { states.push_back(state); }), kAudioOK);
  session.beginInterruption();
  session.endInterruption();
  EXPECT_EQ(states, (std::vector<std::uint32_t>{kBeginInterruption, kEndInterruption}));

  // Listeners run in the order added, with no lock held: they may use the
  // session, the way a route-change listener reads the new route.
  std::vector<std::string> seen;
  ASSERT_EQ(session.addRouteChangeListener([&](const RouteChange& change) {
    std::optional<std::string> route;
    EXPECT_EQ(session.getRoute(route), kAudioOK);
    auto reason = change.dictionary.find(kRouteChangeReasonKey);
    seen.push_back("first " + route.value_or("(none)") + " " +
                   (reason == change.dictionary.end() ? std::string("-") : std::to_string(reason->second)) + " " +
                   std::to_string(change.dataSize));
  }), kAudioOK);
  ASSERT_EQ(session.addRouteChangeListener([&](const RouteChange&) { seen.push_back("second"); }), kAudioOK);

  session.changeRoute("Headphone", kRouteChangeReasonNewDeviceAvailable);
  session.changeRoute(std::nullopt, std::nullopt);
  session.fireRouteChange(RouteChange{8, {}});
  EXPECT_EQ(seen, (std::vector<std::string>{"first Headphone 1 4", "second", "first (none) - 4", "second",
                                            "first (none) - 8", "second"}));
}

TEST(AudioSession, InstallReplacesTheSharedSessionUntilPutBack) {
  auto test = std::make_shared<TestAudioSession>();
  std::shared_ptr<AudioSession> previous = AudioSession::install(test);
  EXPECT_EQ(&AudioSession::shared(), test.get());
  AudioSession::install(previous);
  EXPECT_NE(&AudioSession::shared(), test.get());
  EXPECT_NE(dynamic_cast<SdlAudioSession*>(&AudioSession::shared()), nullptr);  // the default back end
}

TEST(SdlAudioSession, DummyDriverAnswersEveryProperty) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  SdlAudioSession session;
  bool playing = true;
  EXPECT_EQ(session.getOtherAudioIsPlaying(playing), kAudioErrNotInitialized);
  ASSERT_EQ(session.initialize(nullptr), kAudioOK);
  EXPECT_EQ(session.initialize(nullptr), kAudioErrAlreadyInitialized);
  EXPECT_EQ(session.setActive(true), kAudioOK);

  EXPECT_EQ(session.getOtherAudioIsPlaying(playing), kAudioOK);
  EXPECT_FALSE(playing);

  std::uint32_t category = 0;
  EXPECT_EQ(session.setCategory(kCategoryPlayAndRecord), kAudioOK);
  EXPECT_EQ(session.setCategory(fourCC("solo")), kAudioErrInvalidValue);
  EXPECT_EQ(session.getCategory(category), kAudioOK);
  EXPECT_EQ(category, kCategoryPlayAndRecord);

  std::optional<std::string> route;
  EXPECT_EQ(session.getRoute(route), kAudioOK);
  ASSERT_TRUE(route.has_value());
  EXPECT_FALSE(route->empty());
  EXPECT_EQ(session.setRouteOverride(kRouteOverrideSpeaker), kAudioOK);

  double rate = 0;
  EXPECT_EQ(session.getCurrentSampleRate(rate), kAudioOK);
  EXPECT_EQ(rate, 44100.0);
  EXPECT_EQ(session.setPreferredSampleRate(16000.0), kAudioOK);
  EXPECT_EQ(session.setPreferredBufferDuration(0.016f), kAudioOK);
  EXPECT_EQ(session.getCurrentSampleRate(rate), kAudioOK);
  EXPECT_EQ(rate, 16000.0);  // SDL converts: the hardware runs what is asked
  EXPECT_FLOAT_EQ(session.preferredBufferDuration(), 0.016f);
  EXPECT_EQ(session.addRouteChangeListener([](const RouteChange&) {}), kAudioOK);
}

}  // namespace
