// A testing host for the UI kit's tests: the offscreen GL window at a
// scale of 1 (quick pictures) with the automation interface.
#ifndef TESTS_PLATFORM_UI_UI_TEST_SUPPORT_H
#define TESTS_PLATFORM_UI_UI_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "platform/ui/Application.h"
#include "platform/ui/Automation.h"

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { makeHost(1); }
  void TearDown() override {
    automation_.reset();
    app_.reset();
  }
  void makeHost(double scale) {
    automation_.reset();
    app_.reset();
    platform::ui::HostOptions options;
    options.testing = true;
    options.scale = scale;
    std::string error;
    app_ = platform::ui::Application::create(options, &error);
    ASSERT_TRUE(app_) << error;
    automation_ = std::make_unique<platform::ui::Automation>(*app_);
  }
  platform::ui::View& window() { return app_->window(); }
  platform::ui::Automation& ui() { return *automation_; }
  std::array<int, 4> probe(int x, int y) {
    return platform::ui::Automation::pixel(ui().frame(), 320, x, y);
  }

  std::unique_ptr<platform::ui::Application> app_;
  std::unique_ptr<platform::ui::Automation> automation_;
};

#endif
