// The audio layer on the test audio hardware: set-up and its failures, the
// render callback's blocks, conversions and gains, interruptions, route
// changes and the start/stop/resume lifecycle.
#include "vxu/vxall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "platform/AudioSession.h"
#include "platform/RemoteIOUnit.h"
#include "vx_log_capture.h"
#include "vxu/VXUtils.h"
#include "vxu/vxign.h"

using platform::TestAudioHardware;
using platform::TestAudioSession;
using platform::TestRemoteIOUnit;
using platform::TestUnitOp;

namespace {

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// What the engine saw: the length and the first left sample of each block.
struct Engine {
  std::vector<unsigned long> blocks;
  std::vector<float> firstLeft;
  std::vector<float> input;  // every sample seen, interleaved
  std::vector<float> output;  // written in order, repeated when shorter
  static void callback(float* buffer, unsigned long frames, void* user) {
    Engine& e = *static_cast<Engine*>(user);
    e.blocks.push_back(frames);
    e.firstLeft.push_back(buffer[0]);
    for (unsigned long i = 0; i < frames * 2; i++) {
      e.input.push_back(buffer[i]);
      if (!e.output.empty()) buffer[i] = e.output[(e.input.size() - 1) % e.output.size()];
    }
  }
};

// A device of the tables: the machine name and the system version.
void playDevice(const char* machine, const char* osVersion = "3.0") {
  setenv("FLUVANE_MACHINE", machine, 1);
  setenv("FLUVANE_OS_VERSION", osVersion, 1);
  reset_device_facts();
}

class VXALLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VXALL::resetForTesting();
    playDevice("iPhone1,2");
  }
  void TearDown() override {
    VXALL::resetForTesting();
    unsetenv("FLUVANE_MACHINE");
    unsetenv("FLUVANE_OS_VERSION");
    reset_device_facts();
  }

  TestAudioSession& session() { return hw.session(); }
  TestRemoteIOUnit& unit() { return *hw.unit(); }

  // init and start with the engine; both must succeed.
  void startAudio(const char* route = "Speaker") {
    session().setRouteName(std::string(route));
    session().setCurrentSampleRate(16000.0);
    ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
    ASSERT_TRUE(VXALL::start(&Engine::callback, &engine));
  }

  TestAudioHardware hw;
  Engine engine;
};

// ---------------------------------------------------------------------------
// Set-up

TEST_F(VXALLTest, InitSetsUpSessionUnitAndStore) {
  session().setCurrentSampleRate(16000.0);
  std::vector<std::string> lines = printed_lines([] { EXPECT_TRUE(VXALL::init(16000.0, 256, 2)); });

  EXPECT_TRUE(VXALL::m_hasInit);
  EXPECT_FALSE(VXALL::m_isRunning);
  EXPECT_TRUE(session().active());
  EXPECT_EQ(session().category(), platform::kCategoryLiveAudio);
  EXPECT_EQ(session().routeOverride(), platform::kRouteOverrideSpeaker);
  EXPECT_FLOAT_EQ(session().preferredBufferDuration(), 0.016f);
  EXPECT_EQ(session().preferredSampleRate(), 16000.0);
  EXPECT_EQ(session().routeChangeListenerCount(), 1u);
  EXPECT_EQ(VXALL::m_hwSampleRate, 16000.0);
  EXPECT_EQ(VXALL::m_frameSize, 256u);
  EXPECT_EQ(VXALL::m_currentRoute, std::optional<std::string>("Speaker"));

  EXPECT_TRUE(unit().inputEnabled());
  EXPECT_TRUE(unit().initialized());
  EXPECT_FALSE(unit().isRunning());
  EXPECT_EQ(unit().clientFormat(), platform::canonicalFormat(16000.0));
  EXPECT_EQ(unit().inputFormat(), platform::canonicalFormat(16000.0));

  EXPECT_EQ(Vexel_Integration::instance().get_int(VXIGN_IPHONE_GENERATION_KEY), 3);
  EXPECT_EQ(Vexel_Integration::instance().get_int(VXIGN_GENERATION_KEY), 3);

  std::vector<std::string> expected = {
      "route is 'Speaker'",
      "using iPhone 3G VXALL configuration",
      "route = 'Speaker' : output gain = 0.800000 : input gain = 1.250000",
  };
  EXPECT_EQ(lines, expected);

  lines = printed_lines([] { EXPECT_FALSE(VXALL::init(16000.0, 256, 2)); });
  EXPECT_EQ(lines, std::vector<std::string>{"init called when already has init"});
}

TEST_F(VXALLTest, InitCapsTheBlockAndTakesFullDuplexAndHeadsets) {
  VXALL::setFullDuplex(true);
  session().setRouteName(std::string("Headset"));
  ASSERT_TRUE(VXALL::init(16000.0, 10000, 2));
  EXPECT_EQ(VXALL::m_frameSize, 4096u);
  EXPECT_EQ(session().category(), platform::kCategoryPlayAndRecord);
  EXPECT_EQ(session().routeOverride(), platform::kRouteOverrideNone);
  EXPECT_EQ(VXALL::m_outputGain, 1.0);
}

TEST_F(VXALLTest, InitOnTheFirstGenerationPhoneBeforeOs21) {
  playDevice("iPhone1,1", "2.0.2");
  session().setOtherAudioPlaying(true);  // not asked before 2.1
  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  EXPECT_EQ(VXALL::m_iphoneGeneration, 2);
  EXPECT_EQ(Vexel_Integration::instance().get_int(VXIGN_GENERATION_KEY), 2);
  EXPECT_EQ(session().routeOverrideSets(), 0);
  EXPECT_EQ(VXALL::m_inputGain, 1.5);
}

// Each failing step of init: its message, false, nothing initialised.
TEST_F(VXALLTest, EachFailingSessionStepGivesItsMessage) {
  using Op = TestAudioSession::Op;
  struct Row {
    Op op;
    std::string message;
  } rows[] = {
      {Op::Initialize, "couldn't initialize audio session"},
      {Op::GetOtherAudioIsPlaying, "VXALL: other audio playing"},
      {Op::SetActive, "couldn't set audio session active"},
      {Op::SetCategory, "couldn't set audio category"},
      {Op::SetRouteOverride, "couldn't set speaker override"},
      {Op::AddRouteChangeListener, "couldn't set property listener"},
      {Op::GetCurrentSampleRate, "couldn't get hw sample rate"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    VXALL::resetForTesting();
    TestAudioHardware fresh;
    fresh.session().fail(row.op);
    std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXALL::init(16000.0, 256, 2)); });
    EXPECT_EQ(lines, std::vector<std::string>{row.message});
    EXPECT_FALSE(VXALL::m_hasInit);
    EXPECT_EQ(fresh.unitsCreated(), 0);
  }
}

TEST_F(VXALLTest, OtherAudioPlayingStopsInit) {
  session().setOtherAudioPlaying(true);
  std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXALL::init(16000.0, 256, 2)); });
  EXPECT_EQ(lines, std::vector<std::string>{"VXALL: other audio playing"});
  EXPECT_FALSE(session().active());
}

TEST_F(VXALLTest, AFailingRouteReadIsLoggedAndInitGoesOn) {
  session().fail(TestAudioSession::Op::GetRoute);
  std::vector<std::string> lines = printed_lines([] { EXPECT_TRUE(VXALL::init(16000.0, 256, 2)); });
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "couldn't get new audio route"), 2);
  EXPECT_TRUE(hasLine(lines, "VXALL: warning: unknown route, using default output gain"));
  EXPECT_TRUE(hasLine(lines, "route = '(unknown)' : output gain = 1.000000 : input gain = 1.250000"));
}

TEST_F(VXALLTest, EachFailingUnitStepGivesItsMessage) {
  struct Row {
    TestUnitOp op;
    std::string message;
  } rows[] = {
      {TestUnitOp::Create, "couldn't open the remote I/O unit"},
      {TestUnitOp::EnableIO, "couldn't enable input on the remote I/O unit"},
      {TestUnitOp::SetRenderCallback, "couldn't set remote i/o render callback"},
      {TestUnitOp::GetStreamFormat, "couldn't get the remote I/O unit's output client format"},
      {TestUnitOp::SetStreamFormat, "couldn't set the remote I/O unit's input client format"},
      {TestUnitOp::Initialize, "couldn't initialize the remote I/O unit"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    VXALL::resetForTesting();
    TestAudioHardware fresh;
    fresh.fail(row.op);
    std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXALL::init(16000.0, 256, 2)); });
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], row.message);
    EXPECT_EQ(lines.back(), "couldn't setup remote i/o unit");
    EXPECT_FALSE(VXALL::m_hasInit);
  }
}

// ---------------------------------------------------------------------------
// Gains

TEST_F(VXALLTest, GainsByRouteAndGeneration) {
  struct Row {
    int generation;
    const char* route;
    double output;  // output gain before: 7.0
    double input;   // input gain before: 9.0
    bool warning;
  } rows[] = {
      {2, "Receiver", 1.0, 1.5, false},      {3, "Receiver", 6.0, 1.25, false},
      {2, "Speaker", 1.0, 1.5, false},       {3, "Speaker", 0.8, 1.25, false},
      {2, "Headset", 1.0, 1.5, false},       {3, "HeadsetInOut", 1.0, 1.25, false},
      {3, "Headphone", 1.0, 1.25, false},    {3, "ReceiverAndMicrophone", 6.0, 1.25, false},
      {2, "LineOut", 7.0, 1.5, true},        {3, "LineOut", 7.0, 1.25, true},
      {4, "Receiver", 7.0, 9.0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.generation) + " " + row.route);
    VXALL::m_iphoneGeneration = row.generation;
    VXALL::m_currentRoute = row.route;
    VXALL::m_outputGain = 7.0;
    VXALL::m_inputGain = 9.0;
    std::vector<std::string> lines = printed_lines([] { VXALL::configureGains(); });
    EXPECT_EQ(VXALL::m_outputGain, row.output);
    EXPECT_EQ(VXALL::m_inputGain, row.input);
    EXPECT_EQ(hasLine(lines, "VXALL: warning: unknown route, using default output gain"), row.warning);
  }
}

// ---------------------------------------------------------------------------
// Render callback

TEST_F(VXALLTest, ABufferIsHandedToTheEngineInBlocksOfTheFrameSize) {
  startAudio();
  // Left sample i is i / 2^24 of full scale before the input gain.
  std::vector<std::int32_t> input(600 * 2);
  for (int i = 0; i < 600; i++) input[2 * i] = i * 1000;
  ASSERT_EQ(unit().pump(600, input), platform::kAudioOK);

  EXPECT_EQ(engine.blocks, (std::vector<unsigned long>{256, 256, 88}));
  ASSERT_EQ(engine.firstLeft.size(), 3u);
  EXPECT_FLOAT_EQ(engine.firstLeft[1], 256000 * 1.25f / 16777216.0f);
  EXPECT_FLOAT_EQ(engine.firstLeft[2], 512000 * 1.25f / 16777216.0f);
}

TEST_F(VXALLTest, ConversionsApplyTheInputAndOutputGains) {
  startAudio("Receiver");  // generation 3: input 1.25, output 6.0
  std::vector<std::int32_t> input = {1 << 23, -(1 << 22), 0, 1 << 24};
  engine.output = {0.5f, -0.25f, 1.0f / 3.0f, 0.0f};
  ASSERT_EQ(unit().pump(2, input), platform::kAudioOK);

  std::vector<float> expectedIn = {0.625f, -0.3125f, 0.0f, 1.25f};
  ASSERT_EQ(engine.input.size(), expectedIn.size());
  for (size_t i = 0; i < expectedIn.size(); i++) EXPECT_FLOAT_EQ(engine.input[i], expectedIn[i]) << i;

  const float g = (float)(6.0 * 16777216.0);
  EXPECT_EQ(unit().outputLeft(), (std::vector<std::int32_t>{50331648, (std::int32_t)(1.0f / 3.0f * g)}));
  EXPECT_EQ(unit().outputRight(), (std::vector<std::int32_t>{-25165824, 0}));
}

TEST_F(VXALLTest, OutputBeyondFullScaleSaturates) {
  startAudio("Receiver");  // 6.0: 128.0 is beyond the 32-bit range
  engine.output = {128.0f, -128.0f, std::numeric_limits<float>::quiet_NaN(), 1e30f};
  ASSERT_EQ(unit().pump(2), platform::kAudioOK);
  EXPECT_EQ(unit().outputLeft(), (std::vector<std::int32_t>{INT32_MAX, 0}));
  EXPECT_EQ(unit().outputRight(), (std::vector<std::int32_t>{INT32_MIN, INT32_MAX}));
}

TEST_F(VXALLTest, MutedOutputIsSilentAndTheEngineDoesNotRun) {
  startAudio();
  engine.output = {0.5f};
  VXALL::m_isMute = true;
  ASSERT_EQ(unit().pump(300, std::vector<std::int32_t>(600, 1 << 20)), platform::kAudioOK);
  EXPECT_TRUE(engine.blocks.empty());
  EXPECT_EQ(unit().outputLeft(), std::vector<std::int32_t>(300, 0));
  EXPECT_EQ(unit().outputRight(), std::vector<std::int32_t>(300, 0));

  VXALL::m_isMute = false;
  ASSERT_EQ(unit().pump(300), platform::kAudioOK);
  EXPECT_EQ(engine.blocks.size(), 2u);
}

TEST_F(VXALLTest, OversizedBuffersAreProcessedUpToTheCapacity) {
  startAudio();
  engine.output = {0.25f};
  ASSERT_EQ(unit().pump(5000), platform::kAudioOK);
  unsigned long total = 0;
  for (unsigned long b : engine.blocks) total += b;
  EXPECT_EQ(total, 4096u);
  for (const std::vector<std::int32_t>& buffer : unit().output()) {
    EXPECT_EQ(buffer[4095], (std::int32_t)(0.25f * (float)(0.8 * 16777216.0)));
    EXPECT_EQ(std::vector<std::int32_t>(buffer.begin() + 4096, buffer.end()), std::vector<std::int32_t>(904, 0));
  }
}

TEST_F(VXALLTest, OtherThanTwoBuffersAreSilentWithoutTheEngine) {
  startAudio();
  engine.output = {0.25f};
  for (std::uint32_t count : {1u, 3u}) {
    SCOPED_TRACE(count);
    ASSERT_EQ(unit().pump(64, std::vector<std::int32_t>(128, 1 << 20), count), platform::kAudioOK);
    EXPECT_TRUE(engine.blocks.empty());
    for (const std::vector<std::int32_t>& buffer : unit().output()) {
      EXPECT_EQ(buffer, std::vector<std::int32_t>(64, 0));
    }
  }
}

TEST_F(VXALLTest, RenderErrorsAndNewFrameCountsAreLogged) {
  startAudio();
  std::vector<std::string> lines = printed_lines([&] {
    unit().pump(256);
    unit().pump(256);
    unit().pump(128);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"VXALL: RIO requested 256 frames", "VXALL: RIO requested 128 frames"}));

  hw.fail(TestUnitOp::RenderInput, -7);
  lines = printed_lines([&] { EXPECT_EQ(unit().pump(128), -7); });
  EXPECT_EQ(lines, std::vector<std::string>{"VXALL: render procedure encountered error -7"});
}

// ---------------------------------------------------------------------------
// Lifecycle

TEST_F(VXALLTest, StartStopAndResume) {
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_FALSE(VXALL::start(&Engine::callback, &engine));
    EXPECT_FALSE(VXALL::resume());
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"start called when not inited", "resume called when not inited"}));

  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  lines = printed_lines([&] { EXPECT_FALSE(VXALL::start(nullptr, &engine)); });
  EXPECT_EQ(lines, std::vector<std::string>{"callback != NULL"});

  ASSERT_TRUE(VXALL::start(&Engine::callback, &engine));
  EXPECT_TRUE(unit().isRunning());
  lines = printed_lines([&] {
    EXPECT_FALSE(VXALL::start(&Engine::callback, &engine));
    EXPECT_FALSE(VXALL::resume());
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"start called when already running", "resume called when already running"}));

  VXALL::stop();
  EXPECT_FALSE(VXALL::m_isRunning);
  EXPECT_FALSE(unit().isRunning());
  VXALL::stop();  // nothing more
  EXPECT_EQ(unit().stops(), 1);

  EXPECT_TRUE(VXALL::resume());
  EXPECT_TRUE(VXALL::m_isRunning);
  EXPECT_TRUE(unit().isRunning());
  EXPECT_EQ(hw.unitsCreated(), 1);
}

TEST_F(VXALLTest, AUnitThatDoesNotStartFailsStartAndResume) {
  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  hw.fail(TestUnitOp::Start);
  std::vector<std::string> lines = printed_lines([&] {
    EXPECT_FALSE(VXALL::start(&Engine::callback, &engine));
    EXPECT_FALSE(VXALL::resume());
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"couldn't start audio unit...", "couldn't start audio unit..."}));
  EXPECT_FALSE(VXALL::m_isRunning);
}

TEST_F(VXALLTest, ResumeOnAMusicPlayerBuildsAFreshUnit) {
  playDevice("iPod2,1");
  startAudio();
  VXALL::stop();
  std::shared_ptr<TestRemoteIOUnit> first = hw.unit();
  ASSERT_TRUE(VXALL::resume());
  EXPECT_EQ(hw.unitsCreated(), 2);
  EXPECT_TRUE(first->disposed());
  EXPECT_TRUE(unit().isRunning());

  VXALL::stop();
  hw.fail(TestUnitOp::Initialize);
  std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXALL::resume()); });
  EXPECT_EQ(lines.back(), "couldn't setup remote i/o unit");
  EXPECT_FALSE(VXALL::m_isRunning);
}

TEST_F(VXALLTest, InterruptionStopsTheUnitAndItsEndStartsAFreshOne) {
  startAudio();
  std::vector<std::string> lines = printed_lines([&] { session().beginInterruption(); });
  EXPECT_EQ(lines, std::vector<std::string>{"Session interrupted --- Begin Interruption ---"});
  EXPECT_TRUE(VXALL::m_isInterrupted);
  EXPECT_TRUE(VXALL::m_isRunning);
  EXPECT_FALSE(unit().isRunning());
  EXPECT_EQ(unit().pump(64), platform::kAudioErrNotRunning);

  std::shared_ptr<TestRemoteIOUnit> first = hw.unit();
  lines = printed_lines([&] { session().endInterruption(); });
  EXPECT_EQ(lines, std::vector<std::string>{"Session interrupted --- End Interruption ---"});
  EXPECT_FALSE(VXALL::m_isInterrupted);
  EXPECT_TRUE(first->disposed());
  EXPECT_EQ(hw.unitsCreated(), 2);
  EXPECT_TRUE(unit().isRunning());
  ASSERT_EQ(unit().pump(64), platform::kAudioOK);
  EXPECT_EQ(engine.blocks, std::vector<unsigned long>{64});
}

TEST_F(VXALLTest, ResumeDuringAnInterruptionFails) {
  startAudio();
  VXALL::stop();
  session().beginInterruption();
  std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXALL::resume()); });
  EXPECT_EQ(lines, std::vector<std::string>{"resume called when interrupted"});
  EXPECT_FALSE(VXALL::m_isRunning);
  EXPECT_FALSE(unit().isRunning());
}

// ---------------------------------------------------------------------------
// Route changes

TEST_F(VXALLTest, ARouteChangeToTheSameNameOnlyChecksTheReason) {
  startAudio();
  int told = 0;
  VXALL::addDeviceListener([&told] { told++; });
  struct Row {
    std::optional<std::int32_t> reason;
    int told;
  } rows[] = {{1, 1}, {2, 1}, {3, 0}, {std::nullopt, 0}};
  for (const Row& row : rows) {
    told = 0;
    std::vector<std::string> lines =
        printed_lines([&] { session().changeRoute(std::string("Speaker"), row.reason); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(told, row.told);
  }
  EXPECT_EQ(hw.unitsCreated(), 1);
  EXPECT_TRUE(unit().isRunning());

  platform::RouteChange bad;
  bad.dataSize = 8;
  bad.dictionary[platform::kRouteChangeReasonKey] = 1;
  told = 0;
  std::vector<std::string> lines = printed_lines([&] { session().fireRouteChange(bad); });
  EXPECT_EQ(lines, std::vector<std::string>{"invalid data size in propListener"});
  EXPECT_EQ(told, 0);
}

TEST_F(VXALLTest, ANewRouteRebuildsAStoppedFirstUnit) {
  startAudio();
  std::shared_ptr<TestRemoteIOUnit> first = hw.unit();
  int told = 0;
  VXALL::addDeviceListener([&told] { told++; });
  std::vector<std::string> lines = printed_lines([&] { session().changeRoute(std::string("Headphone"), 1); });
  EXPECT_EQ(lines, (std::vector<std::string>{"new route is 'Headphone'", "using iPhone 3G VXALL configuration",
                                             "route = 'Headphone' : output gain = 1.000000 : input gain = 1.250000"}));
  EXPECT_EQ(first->stops(), 1);
  EXPECT_TRUE(first->disposed());
  EXPECT_EQ(hw.unitsCreated(), 2);
  EXPECT_TRUE(unit().isRunning());
  EXPECT_EQ(session().routeOverride(), platform::kRouteOverrideNone);
  EXPECT_EQ(told, 1);

  // Stopped: rebuilt but not started.
  VXALL::stop();
  session().changeRoute(std::string("Receiver"), 2);
  EXPECT_EQ(hw.unitsCreated(), 3);
  EXPECT_FALSE(unit().isRunning());
  EXPECT_EQ(VXALL::m_outputGain, 6.0);
  EXPECT_EQ(session().routeOverride(), platform::kRouteOverrideSpeaker);
}

TEST_F(VXALLTest, RouteChangesDuringAnInterruptionKeepTheUnit) {
  startAudio();
  session().beginInterruption();
  session().changeRoute(std::string("Headset"), 4);
  EXPECT_EQ(hw.unitsCreated(), 1);
  EXPECT_EQ(VXALL::m_currentRoute, std::optional<std::string>("Speaker"));
}

TEST_F(VXALLTest, EachFailingRouteChangeStepGivesItsMessage) {
  struct Row {
    std::optional<TestAudioSession::Op> sessionOp;
    std::optional<TestUnitOp> unitOp;
    std::string message;
  } rows[] = {
      {TestAudioSession::Op::GetRoute, std::nullopt, "couldn't get new audio route"},
      {std::nullopt, TestUnitOp::Dispose, "couldn't dispose remote i/o unit"},
      {TestAudioSession::Op::SetRouteOverride, std::nullopt, "couldn't set speaker override"},
      {TestAudioSession::Op::GetCurrentSampleRate, std::nullopt, "couldn't get new sample rate"},
      {std::nullopt, TestUnitOp::Start, "couldn't start unit"},
      {std::nullopt, TestUnitOp::EnableIO, "couldn't setup remote i/o unit"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    VXALL::resetForTesting();
    TestAudioHardware fresh;
    fresh.session().setRouteName(std::string("Speaker"));
    ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
    ASSERT_TRUE(VXALL::start(&Engine::callback, &engine));
    if (row.sessionOp) fresh.session().fail(*row.sessionOp);
    if (row.unitOp) fresh.fail(*row.unitOp);
    std::vector<std::string> lines =
        printed_lines([&] { fresh.session().changeRoute(std::string("Receiver"), 1); });
    EXPECT_TRUE(hasLine(lines, row.message));
  }
}

// ---------------------------------------------------------------------------
// Output route, category and vibration

TEST_F(VXALLTest, SpeakerRequestsFollowTheRoute) {
  session().setRouteName(std::nullopt);
  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  int sets = session().routeOverrideSets();
  VXALL::setAudioOutput(kVXAudioOutputSpeaker);  // no route known: nothing
  EXPECT_EQ(session().routeOverrideSets(), sets);

  struct Row {
    const char* route;
    VXAudioOutput output;
    std::uint32_t override;
  } rows[] = {
      {"Speaker", kVXAudioOutputSpeaker, platform::kRouteOverrideSpeaker},
      {"Receiver", kVXAudioOutputSpeaker, platform::kRouteOverrideSpeaker},
      {"Headset", kVXAudioOutputSpeaker, platform::kRouteOverrideNone},
      {"Headphone", kVXAudioOutputSpeaker, platform::kRouteOverrideNone},
      {"Receiver", kVXAudioOutputDefault, platform::kRouteOverrideNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.route);
    session().setRouteOverride(row.override == 0 ? platform::kRouteOverrideSpeaker : 0);
    VXALL::m_currentRoute = row.route;
    VXALL::setAudioOutput(row.output);
    EXPECT_EQ(session().routeOverride(), row.override);
  }

  session().fail(TestAudioSession::Op::SetRouteOverride);
  std::vector<std::string> lines = printed_lines([] { VXALL::setAudioOutput(kVXAudioOutputDefault); });
  EXPECT_EQ(lines, std::vector<std::string>{"couldn't set speaker override"});
}

TEST_F(VXALLTest, FullDuplexSwitchesTheCategoryOnceInitialised) {
  VXALL::setFullDuplex(true);  // stored only
  EXPECT_EQ(session().category(), platform::kCategoryLiveAudio);
  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  EXPECT_EQ(session().category(), platform::kCategoryPlayAndRecord);
  VXALL::setFullDuplex(false);
  EXPECT_EQ(session().category(), platform::kCategoryLiveAudio);

  session().fail(TestAudioSession::Op::GetCategory);
  std::vector<std::string> lines = printed_lines([] { VXALL::setFullDuplex(true); });
  EXPECT_EQ(lines, std::vector<std::string>{"couldn't get audio category"});
  session().clearFailures();
  session().fail(TestAudioSession::Op::SetCategory);
  lines = printed_lines([] { VXALL::setFullDuplex(true); });
  EXPECT_EQ(lines, std::vector<std::string>{"couldn't set audio category"});
  lines = printed_lines([] { VXALL::setFullDuplex(false); });  // already live: not set
  EXPECT_TRUE(lines.empty());
}

TEST_F(VXALLTest, VibratePlaysTheVibrationSound) {
  VXALL::vibrate();
  EXPECT_EQ(session().systemSoundsPlayed(), std::vector<std::uint32_t>{4095});
}

}  // namespace

// On the SDL back end with the dummy driver: the engine is called on the
// audio thread with blocks of at most the frame size, and stop ends it.
TEST(VXALLSdlTest, RunsOnTheDummyDriver) {
  VXALL::resetForTesting();
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    unsigned long largest = 0;
  } counter;
  VXALLCallback callback = [](float* buffer, unsigned long frames, void* user) {
    Counter& c = *static_cast<Counter*>(user);
    std::fill(buffer, buffer + frames * 2, 0.0f);
    std::lock_guard<std::mutex> lock(c.mutex);
    c.calls++;
    c.largest = std::max(c.largest, frames);
    c.changed.notify_all();
  };
  ASSERT_TRUE(VXALL::init(16000.0, 256, 2));
  ASSERT_TRUE(VXALL::start(callback, &counter));
  {
    std::unique_lock<std::mutex> lock(counter.mutex);
    EXPECT_TRUE(counter.changed.wait_for(lock, std::chrono::seconds(10), [&] { return counter.calls >= 3; }));
    EXPECT_LE(counter.largest, 256u);
  }
  VXALL::stop();
  EXPECT_FALSE(VXALL::m_isRunning);
  VXALL::resetForTesting();
  unsetenv("SDL_AUDIODRIVER");
}
