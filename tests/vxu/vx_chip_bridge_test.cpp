// The engine bridge with the real engine on the test audio hardware and the
// embedded test scripts: the ready key reaches the delegate on the main
// loop, the script's microphone level reaches micPower on the audio thread,
// pause and resume reach the audio layer once each, and a shutdown while
// the engine runs stops it, joins its thread and deletes the scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioSession.h"
#include "platform/Paths.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "vx_log_capture.h"
#include "vxu/VXChipBridge.h"
#include "vxu/VXOB_File.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

using platform::RunLoop;
using platform::TestAudioHardware;

namespace {

struct Delegate : VXChipBridgeDelegate {
  int ready = 0;
  int finished = 0;
  bool waiting = false;  // the test serves the main loop until ready
  void chipReady() override {
    ready++;
    if (waiting) RunLoop::main().stop();
    waiting = false;
  }
  void chipFinished() override { finished++; }
};

// Records micPower's values and the threads they came on.
class RecordingBridge : public VXChipBridge {
 public:
  void micPower(float power) override {
    std::lock_guard<std::mutex> lock(mutex);
    powers.push_back(power);
    threads.push_back(std::this_thread::get_id());
  }
  std::mutex mutex;
  std::vector<float> powers;
  std::vector<std::thread::id> threads;
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class VXChipBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("FLUVANE_MACHINE", "iPhone1,2", 1);
    setenv("FLUVANE_OS_VERSION", "3.0", 1);
    reset_device_facts();
    VXALL::resetForTesting();
    // Each engine run of a test declares the script classes anew.
    Vexel_Integration::instance().vxign_query_called = false;
  }
  void TearDown() override {
    VXALL::resetForTesting();
    unsetenv("FLUVANE_MACHINE");
    unsetenv("FLUVANE_OS_VERSION");
    reset_device_facts();
  }

  // Serves the main loop until the delegate is told the engine is ready
  // (or 30 s pass).
  void serveMainLoopUntilReady() {
    if (delegate.ready > 0) return;
    delegate.waiting = true;
    RunLoop::main().runFor(30.0);
  }

  // Starts the engine and waits until it is ready and its audio runs.
  void startEngine(VXChipBridge& bridge, const std::vector<std::string>& names = {}) {
    bridge.setDelegate(&delegate);
    bridge.startChipWithFiles(names);
    EXPECT_TRUE(bridge.alive());
    serveMainLoopUntilReady();
    ASSERT_EQ(delegate.ready, 1);
    ASSERT_TRUE(hw.waitForRunning(true));
  }

  // One buffer of microphone input, both channels at level (8.24).
  static std::vector<std::int32_t> input(double level, std::uint32_t frames) {
    return std::vector<std::int32_t>(frames * 2, static_cast<std::int32_t>(level * (1 << 24)));
  }

  TestAudioHardware hw;
  Delegate delegate;
};

TEST_F(VXChipBridgeTest, ReadyKeyMicPowerPauseResumeAndShutdownWhileRunning) {
  RecordingBridge bridge;
  EXPECT_EQ(VXChipBridge::getChipBridge(), &bridge);
  ASSERT_NO_FATAL_FAILURE(startEngine(bridge));

  // The script reports the microphone's level through the store; micPower
  // runs on the audio thread (here: the pumping thread) before setFloat
  // returns, so the value is there when the buffer is done.
  std::shared_ptr<platform::TestRemoteIOUnit> unit = hw.unit();
  for (int i = 0; i < 4; ++i) ASSERT_EQ(unit->pump(256, input(0.25, 256)), platform::kAudioOK);
  {
    std::lock_guard<std::mutex> lock(bridge.mutex);
    ASSERT_GE(bridge.powers.size(), 8u);
    EXPECT_NEAR(bridge.powers.back(), 0.25 * VXALL::m_inputGain.load(), 1e-6);
    for (std::thread::id id : bridge.threads) EXPECT_EQ(id, std::this_thread::get_id());
  }
  EXPECT_NEAR(Vexel_Integration::instance().get_float(VXIGN_MIC_POWER_KEY),
              0.25 * VXALL::m_inputGain.load(), 1e-6);

  // Pause twice, resume once: the audio layer stops once and starts again once.
  int starts = unit->starts(), stops = unit->stops();
  bridge.pauseChip();
  bridge.pauseChip();
  EXPECT_TRUE(bridge.paused());
  EXPECT_EQ(unit->stops(), stops + 1);
  EXPECT_FALSE(unit->isRunning());
  bridge.resumeChip();
  bridge.resumeChip();
  EXPECT_FALSE(bridge.paused());
  EXPECT_EQ(unit->starts(), starts + 1);
  EXPECT_TRUE(unit->isRunning());
  bridge.muteChip(true);
  EXPECT_TRUE(VXALL::m_isMute.load());
  bridge.muteChip(false);
  ASSERT_EQ(unit->pump(256, input(0.5, 256)), platform::kAudioOK);

  // Shutdown while the engine runs: stopped, joined, scripts deleted.
  ASSERT_FALSE(platform::Paths::listDir(VXOB_tmpDirectory()).empty());
  std::vector<std::string> lines = printed_lines([&] { bridge.shutdownChip(); });
  EXPECT_FALSE(bridge.alive());
  EXPECT_TRUE(contains(lines, "stopping chip")) << lines.size();
  EXPECT_TRUE(contains(lines, "chip finished..."));
  EXPECT_TRUE(contains(lines, "purging tmp files"));
  EXPECT_TRUE(platform::Paths::listDir(VXOB_tmpDirectory()).empty());
  EXPECT_FALSE(unit->isRunning());
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(delegate.finished, 1);
  // After the engine, pause and resume do nothing; a second shutdown has
  // nothing left to delete.
  bridge.pauseChip();
  EXPECT_FALSE(bridge.paused());
  lines = printed_lines([&] { bridge.shutdownChip(); });
  EXPECT_FALSE(contains(lines, "purging tmp files"));
}

TEST_F(VXChipBridgeTest, AnUnknownScriptIsSkippedNotHandedOn) {
  VXChipBridge bridge;
  std::vector<std::string> lines;
  ASSERT_NO_FATAL_FAILURE(lines = printed_lines([&] { startEngine(bridge, {"missing.chip"}); }));
  EXPECT_TRUE(contains(lines, "embedded script 'missing.chip' not found: skipped"));
  EXPECT_EQ(delegate.ready, 1);
  bridge.shutdownChip();
  EXPECT_FALSE(bridge.alive());
}

TEST_F(VXChipBridgeTest, AShutdownRightAfterTheStartStillEndsTheEngine) {
  VXChipBridge bridge;
  bridge.setDelegate(&delegate);
  bridge.startChipWithFiles({});
  bridge.shutdownChip();
  EXPECT_FALSE(bridge.alive());
  EXPECT_FALSE(hw.unit() && hw.unit()->isRunning());
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(delegate.finished, 1);
  EXPECT_TRUE(platform::Paths::listDir(VXOB_tmpDirectory()).empty());
}

TEST_F(VXChipBridgeTest, TheArgumentListIsFixed) {
  VXChipBridge bridge;
  EXPECT_EQ(bridge.engineArguments({"/a", "/b"}),
            (std::vector<std::string>{"chip", "--out2", "--in2", "--bufsize1024", "--bufnum6",
                                      "--srate16000", "--adaptive1024", "/a", "/b"}));
  bridge.setBufferSize(256);
  bridge.setAdaptiveBufferSize(256);
  EXPECT_EQ(bridge.engineArguments({})[3], "--bufsize256");
  EXPECT_EQ(bridge.engineArguments({})[6], "--adaptive256");
}

TEST_F(VXChipBridgeTest, DeviceKeysAndRouteSwitching) {
  VXChipBridge bridge;
  Vexel_Integration& store = Vexel_Integration::instance();
  platform::TestAudioSession& session = hw.session();
  ASSERT_EQ(session.initialize({}), platform::kAudioOK);

  // The key callbacks set the category whatever the switching policy says.
  store.call_external(VXIGN_SWITCH_TO_RECEIVER_KEY);
  EXPECT_EQ(session.category(), platform::kCategoryPlayAndRecord);
  store.call_external(VXIGN_SWITCH_TO_SPEAKER_KEY);
  EXPECT_EQ(session.category(), platform::kCategoryLiveAudio);
  session.fail(platform::TestAudioSession::Op::SetCategory);
  std::vector<std::string> lines =
      printed_lines([&] { store.call_external(VXIGN_SWITCH_TO_RECEIVER_KEY); });
  EXPECT_TRUE(contains(lines, "couldn't set audio category"));
  session.clearFailures();
  store.call_external(VXIGN_VIBRATE_KEY);
  EXPECT_EQ(session.systemSoundsPlayed(), std::vector<std::uint32_t>{VXALL::kVibrateSound});

  // On OS 2.1 and later the methods never switch (and never before the
  // engine runs).
  EXPECT_TRUE(bridge.allowSpeakerAndMic());
  store.set_int(VXIGN_IPHONE_GENERATION_KEY, 3);
  EXPECT_FALSE(bridge.allowSwitch());
  bridge.switchToReceiverAndMicrophone();
  EXPECT_EQ(session.category(), platform::kCategoryLiveAudio);
}

TEST_F(VXChipBridgeTest, OlderSystemsSwitchOnLaterPhonesOnly) {
  setenv("FLUVANE_OS_VERSION", "2.0.2", 1);
  reset_device_facts();
  struct Case {
    int generation;
    bool allowed;
  };
  for (Case c : {Case{2, false}, Case{3, true}}) {
    Vexel_Integration::instance().set_int(VXIGN_IPHONE_GENERATION_KEY, c.generation);
    VXChipBridge bridge;
    EXPECT_FALSE(bridge.allowSpeakerAndMic());
    EXPECT_EQ(bridge.allowSwitch(), c.allowed);
    // Cached: a later change of the key does not move it.
    Vexel_Integration::instance().set_int(VXIGN_IPHONE_GENERATION_KEY, 5 - c.generation);
    EXPECT_EQ(bridge.allowSwitch(), c.allowed);
  }
}

TEST_F(VXChipBridgeTest, ASecondBridgeIsRefusedAndAGoneBridgeAnswersNoKey) {
  {
    VXChipBridge first;
    std::vector<std::string> lines = printed_lines([] { VXChipBridge second; });
    EXPECT_TRUE(contains(lines, "gChipBridge == nil"));
    EXPECT_EQ(VXChipBridge::getChipBridge(), &first);
    // The second one's end withdrew nothing of the first.
    Vexel_Integration::instance().call_external(VXIGN_CHIP_READY_KEY);
    RunLoop::main().runUntilIdle();
  }
  EXPECT_EQ(VXChipBridge::getChipBridge(), nullptr);
  // The callbacks went with the bridge: firing the keys does nothing.
  Vexel_Integration::instance().call_external(VXIGN_CHIP_READY_KEY);
  Vexel_Integration::instance().set_float(VXIGN_MIC_POWER_KEY, 0.5);
  EXPECT_EQ(RunLoop::main().runUntilIdle(), 0u);
}

}  // namespace
