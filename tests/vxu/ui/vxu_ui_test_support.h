// Shared pieces of the framework's screen tests: a testing host (offscreen
// GL, scale 1) with the automation interface, a delegate with a main view
// and statistics of its own, settling of background work, and resources
// in a folder of the test's own.
#ifndef TESTS_VXU_UI_VXU_UI_TEST_SUPPORT_H
#define TESTS_VXU_UI_VXU_UI_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Application.h"
#include "platform/ui/Automation.h"
#include "vxu/ui/VXAppDelegate.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXUserStats.h"

// A delegate with a main view on the window, statistics of its own and an
// application id.
class TestAppDelegate : public VXAppDelegate {
 public:
  TestAppDelegate() : stats(false) {
    mainView = std::make_shared<VXMainView>(platform::ui::Rect(0, 0, 320, 480));
  }
  platform::ui::View* getMainView() override { return withMainView ? mainView.get() : nullptr; }
  VXUserStats* getStats() override { return withStats ? &stats : nullptr; }
  int getAppID() override { return 7; }
  bool askUserToWatchTutorial() override { return askTutorial; }
  std::optional<std::string> infoAddDefaultURL() override { return addInUrl; }

  std::shared_ptr<VXMainView> mainView;
  VXUserStats stats;
  bool withMainView = true;
  bool withStats = true;
  bool askTutorial = false;
  std::optional<std::string> addInUrl;
};

class FrameworkUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ui::HostOptions options;
    options.testing = true;
    options.scale = 1;
    std::string error;
    app_ = platform::ui::Application::create(options, &error);
    ASSERT_TRUE(app_) << error;
    ui_ = std::make_unique<platform::ui::Automation>(*app_);
  }
  void TearDown() override {
    settle();
    ui_.reset();
    app_.reset();
  }
  // Lets the shared background thread finish what was posted, then serves
  // what it posted back to the main loop (twice: work may go back and forth).
  void settle() {
    for (int i = 0; i < 2; i++) {
      VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
      if (ui_) ui_->advance(0);
    }
  }
  platform::ui::Automation& ui() { return *ui_; }
  platform::ui::View& window() { return app_->window(); }

  std::unique_ptr<platform::ui::Application> app_;
  std::unique_ptr<platform::ui::Automation> ui_;
};

// A resource folder of the test's own (FLUVANE_RESOURCES) for its life.
class ScopedResources {
 public:
  ScopedResources() {
    dir_ = platform::Paths::join(platform::Paths::home(), "resources");
    platform::Paths::mkdirs(dir_);
    setenv("FLUVANE_RESOURCES", dir_.c_str(), 1);
  }
  ~ScopedResources() { unsetenv("FLUVANE_RESOURCES"); }
  // A plain w x h PNG of one colour.
  std::string addImage(const std::string& name, int w, int h, std::uint8_t red) const {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
      pixels[i] = red;
      pixels[i + 3] = 255;
    }
    const std::string path = platform::Paths::join(dir_, name);
    platform::gfx::writePng(path, w, h, pixels.data());
    return path;
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

#endif
