// The instrument bridge: the keys' start values and their writers, the
// route switch by device, the recording policy's order, the launch's
// scripts and arguments, and the relayed tune and max-recording calls,
// which reach only listeners that still live.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "platform/RunLoop.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

using platform::RunLoop;

namespace {

Vexel_Integration& store() { return Vexel_Integration::instance(); }

// The bridge writes the keys of the process's store; each test starts from
// an empty one and leaves it empty, so that no other test (in this program,
// in any order) sees a key it never wrote.
class FluvaneChipBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store().clear_values();
    setMachine("iPhone1,2");
    VXALL::resetForTesting();
  }
  void TearDown() override {
    RunLoop::main().runUntilIdle();
    VXALL::resetForTesting();
    unsetenv("FLUVANE_MACHINE");
    reset_device_facts();
    store().clear_values();
  }
  static void setMachine(const char* machine) {
    setenv("FLUVANE_MACHINE", machine, 1);
    reset_device_facts();
  }
};

TEST_F(FluvaneChipBridgeTest, StartValues) {
  // Leftovers of an earlier bridge are overwritten.
  store().set_int(VXIGN_ROOT_KEY, 99);
  store().set_float(VXIGN_ECHO_KEY, 0.9);
  FluvaneChipBridge bridge;
  struct IntCase {
    const std::string* key;
    int value;
  };
  for (IntCase c : {IntCase{&VXIGN_FINGER_STATE_KEY, 0}, IntCase{&VXIGN_ROOT_KEY, 60},
                    IntCase{&VXIGN_MODE_KEY, 4}, IntCase{&VXIGN_APPSTATE_KEY, 0},
                    IntCase{&VXIGN_ENABLE_SNIPPET_UPLOAD_KEY, 1},
                    IntCase{&VXIGN_ENABLE_TOUCH_MODE_KEY, 0},
                    IntCase{&VXIGN_MANUAL_RECORD_COMMAND_KEY, 0},
                    IntCase{&VXIGN_MAX_RECORDING_REACHED_KEY, 0},
                    IntCase{&VXIGN_UPLOAD_FREQUENCY_KEY, 5},
                    IntCase{&VXIGN_UPLOAD_MIN_LENGTH_KEY, 8},
                    IntCase{&VXIGN_UPLOAD_MAX_LENGTH_KEY, 30},
                    IntCase{&VXIGN_UPLOAD_PREFERRED_ROOT_KEY, -1},
                    IntCase{&VXIGN_UPLOAD_PREFERRED_MODE_KEY, -1}}) {
    EXPECT_TRUE(store().has_int(*c.key)) << *c.key;
    EXPECT_EQ(store().get_int(*c.key), c.value) << *c.key;
  }
  EXPECT_DOUBLE_EQ(store().get_float(VXIGN_ECHO_KEY), 0.2);
  EXPECT_TRUE(store().has_float(VXIGN_VIBRATO_RATE_KEY));
  EXPECT_EQ(store().get_float(VXIGN_VIBRATO_RATE_KEY), 0.0);
  EXPECT_TRUE(store().has_float(VXIGN_VIBRATO_DEPTH_KEY));
  // Unset until first written.
  EXPECT_FALSE(store().has_int(VXIGN_VIBRATO_ENABLE_KEY));
  EXPECT_FALSE(store().has_float(VXIGN_BREATH_SENSITIVITY_KEY));
  EXPECT_FALSE(store().has_int(VXIGN_MAX_MANUAL_RECORD_TIME_KEY));
  EXPECT_EQ(FluvaneChipBridge::getChipBridge(), &bridge);
}

TEST_F(FluvaneChipBridgeTest, SettersWriteTheirKeys) {
  FluvaneChipBridge bridge;
  bridge.setState(13);
  bridge.setEcho(0.5f);
  bridge.setVibratoRate(3.5f);
  bridge.setVibratoDepth(0.25f);
  bridge.setEnableVibrato(true);
  bridge.setBreathSensitivity(1.5f);
  bridge.setEnableSnippetUpload(false);
  bridge.setEnableTouchMode(true);
  bridge.sendManualRecordingCommand(2);
  bridge.setRoot("B (8va)");
  bridge.setMode("Lydian");
  EXPECT_EQ(store().get_int(VXIGN_FINGER_STATE_KEY), 13);
  EXPECT_DOUBLE_EQ(store().get_float(VXIGN_ECHO_KEY), 0.5);
  EXPECT_DOUBLE_EQ(store().get_float(VXIGN_VIBRATO_RATE_KEY), 3.5);
  EXPECT_DOUBLE_EQ(store().get_float(VXIGN_VIBRATO_DEPTH_KEY), 0.25);
  EXPECT_EQ(store().get_int(VXIGN_VIBRATO_ENABLE_KEY), 1);
  EXPECT_DOUBLE_EQ(store().get_float(VXIGN_BREATH_SENSITIVITY_KEY), 1.5);
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY), 0);
  EXPECT_EQ(store().get_int(VXIGN_ENABLE_TOUCH_MODE_KEY), 1);
  EXPECT_EQ(store().get_int(VXIGN_MANUAL_RECORD_COMMAND_KEY), 2);
  EXPECT_EQ(store().get_int(VXIGN_ROOT_KEY), 83);
  EXPECT_EQ(store().get_int(VXIGN_MODE_KEY), 7);
  bridge.setRoot("not a root");
  bridge.setMode("not a mode");
  EXPECT_EQ(store().get_int(VXIGN_ROOT_KEY), 0);
  EXPECT_EQ(store().get_int(VXIGN_MODE_KEY), 0);
  bridge.setEnableVibrato(false);
  EXPECT_EQ(store().get_int(VXIGN_VIBRATO_ENABLE_KEY), 0);

  // The policy's six values go out in their order.
  bridge.setFluvaneRecordingConfiguration({1, 2, 3, 4, 5, 6});
  const std::string* keys[] = {&VXIGN_UPLOAD_FREQUENCY_KEY, &VXIGN_UPLOAD_MIN_LENGTH_KEY,
                               &VXIGN_UPLOAD_MAX_LENGTH_KEY, &VXIGN_UPLOAD_PREFERRED_ROOT_KEY,
                               &VXIGN_UPLOAD_PREFERRED_MODE_KEY,
                               &VXIGN_MAX_MANUAL_RECORD_TIME_KEY};
  for (int i = 0; i < 6; i++) EXPECT_EQ(store().get_int(*keys[i]), i + 1) << *keys[i];
}

TEST_F(FluvaneChipBridgeTest, TheAppStateSwitchesTheRouteOnlyOnTheFirstPhone) {
  struct Case {
    const char* machine;
    int mode;
    bool fullDuplexAfter;
  };
  for (Case c : {Case{"iPhone1,1", 2, false}, Case{"iPhone1,1", 1, true},
                 Case{"iPhone1,2", 2, true}, Case{"iPod2,1", 2, true}}) {
    setMachine(c.machine);
    VXALL::resetForTesting();
    VXALL::m_fullDuplex = true;
    if (c.mode == 1) VXALL::m_fullDuplex = false;
    const bool before = VXALL::m_fullDuplex.load();
    FluvaneChipBridge bridge;
    bridge.setFluvaneMode(c.mode);
    EXPECT_EQ(store().get_int(VXIGN_APPSTATE_KEY), c.mode) << c.machine;
    if (std::string(c.machine) == "iPhone1,1") {
      EXPECT_EQ(VXALL::m_fullDuplex.load(), c.fullDuplexAfter) << c.machine;
    } else {
      EXPECT_EQ(VXALL::m_fullDuplex.load(), before) << c.machine;
    }
  }
}

TEST_F(FluvaneChipBridgeTest, TheLaunchHandsElevenArgumentsInOrder) {
  FluvaneChipBridge bridge;
  EXPECT_EQ(FluvaneChipBridge::scriptNames(),
            (std::vector<std::string>{"iPhone.chip", "Razede.chip", "Fluvane.chip",
                                      "driver.chip"}));
  bridge.setBufferSize(256);
  bridge.setAdaptiveBufferSize(256);
  std::vector<std::string> args = bridge.engineArguments({"/t/1", "/t/2", "/t/3", "/t/4"});
  EXPECT_EQ(args, (std::vector<std::string>{"chip", "--out2", "--in2", "--bufsize256",
                                            "--bufnum6", "--srate16000", "--adaptive256", "/t/1",
                                            "/t/2", "/t/3", "/t/4"}));
}

struct TuneListener : FluvaneChipBridgeCallback {
  std::vector<int> notes;
  int finished = 0;
  void finishedPlayingTune() override { finished++; }
  void playedNote(int note) override { notes.push_back(note); }
};

TEST_F(FluvaneChipBridgeTest, TuneReportsReachALivingListenerOnTheMainLoop) {
  FluvaneChipBridge bridge;
  auto listener = std::make_shared<TuneListener>();
  bridge.playTune({1, 2, 3}, listener);
  bridge.tuneCallback(60);
  bridge.tuneCallback(62);
  EXPECT_TRUE(listener->notes.empty());  // only through the main loop
  bridge.tuneCallback(-1);
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(listener->notes, (std::vector<int>{60, 62}));
  EXPECT_EQ(listener->finished, 1);

  // A report posted for a listener that is gone when the loop runs is dropped.
  bridge.tuneCallback(64);
  listener.reset();
  RunLoop::main().runUntilIdle();

  // A new tune's listener does not hear reports made for the old one.
  auto first = std::make_shared<TuneListener>();
  auto second = std::make_shared<TuneListener>();
  bridge.playTune({}, first);
  bridge.tuneCallback(70);
  bridge.playTune({}, second);
  RunLoop::main().runUntilIdle();
  EXPECT_TRUE(first->notes.empty());
  EXPECT_TRUE(second->notes.empty());
  bridge.tuneCallback(71);
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(second->notes, std::vector<int>{71});

  // Without a listener nothing is posted.
  bridge.playTune({}, nullptr);
  bridge.tuneCallback(1);
  EXPECT_EQ(RunLoop::main().runUntilIdle(), 0u);
}

TEST_F(FluvaneChipBridgeTest, TuneReportsFromTheAudioThreadWhileListenersChange) {
  FluvaneChipBridge bridge;
  auto listener = std::make_shared<TuneListener>();
  bridge.playTune({}, listener);
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  // The player reports on its own thread without waiting for the main one,
  // then once per round of the main thread until the main thread has
  // replaced the listener a few times while reports came in. (Reporting on
  // without a pause could keep the main loop from ever being idle.)
  std::thread audio([&] {
    int i = 0;
    for (; i < 2000; i++) bridge.tuneCallback(i % 5 == 4 ? -1 : i);
    for (int seen = rounds.load(); seen < 10; i++) {
      bridge.tuneCallback(i % 5 == 4 ? -1 : i);
      while (rounds.load() == seen) std::this_thread::yield();
      seen = rounds.load();
    }
    done = true;
  });
  while (!done) {
    // Meanwhile the main thread replaces the listener and serves the loop.
    listener = std::make_shared<TuneListener>();
    bridge.playTune({}, listener);
    RunLoop::main().runUntilIdle();
    rounds++;
  }
  audio.join();
  RunLoop::main().runUntilIdle();
  EXPECT_GE(rounds.load(), 10);
}

TEST_F(FluvaneChipBridgeTest, MaxRecordingReachedRunsTheHandlerOnTheMainLoop) {
  int reached = 0;
  {
    FluvaneChipBridge bridge;
    bridge.setRecordingMaxTimeReachedHandler([&] { reached++; });
    store().set_int(VXIGN_MAX_RECORDING_REACHED_KEY, 1);  // as a script would
    EXPECT_EQ(reached, 0);
    RunLoop::main().runUntilIdle();
    EXPECT_EQ(reached, 1);
    // Posted, then the bridge goes: nothing runs.
    store().set_int(VXIGN_MAX_RECORDING_REACHED_KEY, 1);
  }
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(reached, 1);
  // And the key no longer reaches a gone bridge.
  store().set_int(VXIGN_MAX_RECORDING_REACHED_KEY, 1);
  EXPECT_EQ(RunLoop::main().runUntilIdle(), 0u);
}

TEST_F(FluvaneChipBridgeTest, TheMicPowerReachesTheBreathDisplay) {
  FluvaneGfx::reset();
  FluvaneChipBridge bridge;
  EXPECT_EQ(FluvaneGfx::breathIntegral(), 0.0f);
  store().set_float(VXIGN_MIC_POWER_KEY, 0.25);  // as the device script does
  EXPECT_FLOAT_EQ(FluvaneGfx::breathIntegral(), 0.25f);
  // The graphics cover holes through the bridge.
  FluvaneGfx::FingerHole::get(1)->keyOn();
  FluvaneGfx::FingerHole::get(3)->keyOn();
  EXPECT_EQ(store().get_int(VXIGN_FINGER_STATE_KEY), 2 | 8);
  FluvaneGfx::FingerHole::get(1)->keyOff();
  EXPECT_EQ(store().get_int(VXIGN_FINGER_STATE_KEY), 8);
  FluvaneGfx::reset();
}

}  // namespace
