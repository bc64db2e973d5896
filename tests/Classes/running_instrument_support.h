// The instrument's engine as the in-process instrument tests start from it:
// the real bridge runs the four embedded scripts on the test audio hardware
// and has said it is ready. A fixture derives from RunningInstrumentTest and
// calls startInstrument() in its SetUp (before or after its own steps) and
// stopInstrument() in its TearDown.
#ifndef TESTS_CLASSES_RUNNING_INSTRUMENT_SUPPORT_H
#define TESTS_CLASSES_RUNNING_INSTRUMENT_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneGfx.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

class RunningInstrumentTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kBuffer = 256;

  struct Ready : VXChipBridgeDelegate {
    int ready = 0;
    void chipReady() override { ready++; }
    void chipFinished() override {}
  };

  // Starts the engine on the first phone's audio route and pumps until the
  // device script says the engine is ready (once the first buffer played).
  void startInstrument() {
    setenv("FLUVANE_MACHINE", "iPhone1,2", 1);
    reset_device_facts();
    VXALL::resetForTesting();
    Vexel_Integration::instance().vxign_query_called = false;
    FluvaneGfx::reset();
    bridge = std::make_unique<FluvaneChipBridge>();
    bridge->setDelegate(&ready);
    bridge->launchEngine();
    ASSERT_TRUE(hw.waitForRunning(true)) << "the scripts did not start";
    unit = hw.unit();
    for (int i = 0; i < 64 && ready.ready == 0; i++) {
      ASSERT_EQ(unit->pump(kBuffer), platform::kAudioOK);
      platform::RunLoop::main().runUntilIdle();
    }
    ASSERT_EQ(ready.ready, 1);
  }

  void stopInstrument() {
    if (bridge) bridge->shutdownChip();
    bridge.reset();
    FluvaneGfx::reset();
    VXALL::resetForTesting();
    unsetenv("FLUVANE_MACHINE");
    reset_device_facts();
  }

  // Covers exactly the holes of mask (through the graphics, as touches do).
  static void finger(int mask) {
    for (int hole = 0; hole < 5; hole++) {
      FluvaneGfx::FingerHole* h = FluvaneGfx::FingerHole::get(hole);
      if (mask & (1 << hole)) {
        h->keyOn();
      } else {
        h->keyOff();
      }
    }
  }

  platform::TestAudioHardware hw;
  Ready ready;
  std::unique_ptr<FluvaneChipBridge> bridge;
  std::shared_ptr<platform::TestRemoteIOUnit> unit;
};

#endif  // TESTS_CLASSES_RUNNING_INSTRUMENT_SUPPORT_H
