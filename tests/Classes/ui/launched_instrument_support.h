// The whole instrument on a testing host (off screen, scale 1, composited):
// the application delegate launched with the real engine on the test audio
// hardware. A fixture derives from LaunchedInstrumentTest, may change the
// preferences or the service first, and calls launchUntilReady(); play()
// then moves the engine and the screen's clock together, as a player's
// seconds would.
#ifndef TESTS_CLASSES_UI_LAUNCHED_INSTRUMENT_SUPPORT_H
#define TESTS_CLASSES_UI_LAUNCHED_INSTRUMENT_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "Classes/FluvaneAppDelegate.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Automation.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

class LaunchedInstrumentTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kBuffer = 256;
  static constexpr double kEngineRate = 16000;

  void SetUp() override {
    setenv("FLUVANE_MACHINE", "iPhone1,2", 1);
    reset_device_facts();
    VXALL::resetForTesting();
    Vexel_Integration::instance().vxign_query_called = false;
    platform::ui::HostOptions options;
    options.testing = true;
    options.scale = 1;
    std::string error;
    app = platform::ui::Application::create(options, &error);
    ASSERT_TRUE(app) << error;
    ui = std::make_unique<platform::ui::Automation>(*app);
    delegate = std::make_unique<FluvaneAppDelegate>();
    delegate->setOffersTutorial(false);
    app->setDelegate(delegate.get());
  }
  void TearDown() override {
    if (app && !app->terminated()) app->terminate();
    if (app) app->setDelegate(nullptr);
    delegate.reset();
    ui.reset();
    app.reset();
    VXALL::resetForTesting();
    unsetenv("FLUVANE_MACHINE");
    reset_device_facts();
  }

  // Launches, then plays buffers until the scripts say the engine is ready.
  void launchUntilReady() {
    app->launch();
    ASSERT_TRUE(hw.waitForRunning(true)) << "the engine did not start its audio";
    unit = hw.unit();
    for (int i = 0; i < 64 && !delegate->m_chipReady; i++) {
      ASSERT_EQ(unit->pump(kBuffer), platform::kAudioOK);
      platform::RunLoop::main().runUntilIdle();
    }
    ASSERT_TRUE(delegate->m_chipReady);
  }

  // The engine plays seconds of sound while the screen's clock moves as
  // far, one buffer at a time.
  void play(double seconds) {
    const int buffers = static_cast<int>(std::ceil(seconds * kEngineRate / kBuffer));
    for (int i = 0; i < buffers; i++) {
      ASSERT_EQ(unit->pump(kBuffer), platform::kAudioOK);
      ui->advance(kBuffer / kEngineRate);
    }
  }

  platform::TestAudioHardware hw;
  std::unique_ptr<platform::ui::Application> app;
  std::unique_ptr<platform::ui::Automation> ui;
  std::unique_ptr<FluvaneAppDelegate> delegate;
  std::shared_ptr<platform::TestRemoteIOUnit> unit;
};

#endif  // TESTS_CLASSES_UI_LAUNCHED_INSTRUMENT_SUPPORT_H
