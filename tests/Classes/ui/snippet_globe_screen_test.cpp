// The globe's overlay driven by taps: the filter list's closed, open and
// closing states, what reaches the globe, and what the globe shows on it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Classes/FlameGlobe.h"
#include "Classes/SnippetGlobeViewController.h"
#include "vxu/ui/vxu_ui_test_support.h"

namespace {

class SnippetGlobeScreen : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    globe = std::make_unique<FlameGlobe>(FlameGlobeServices{}, false);
    screen = std::make_unique<SnippetGlobeViewController>();
    screen->setGlobe(globe.get());
    globe->setSnippetViewController(screen.get());
    window().addSubview(screen->view());
  }
  void TearDown() override {
    screen->view()->removeFromSuperview();
    screen.reset();
    globe.reset();
    FrameworkUiTest::TearDown();
  }
  void press(platform::ui::Button& button) {
    const platform::ui::Rect f = button.frame();
    ui().tap(f.x() + f.width() / 2, f.y() + f.height() / 2);
  }
  // Lets the globe's close timer (0.15 s) run out.
  void runGlobe() {
    for (int i = 0; i < 6; i++) globe->update(1.0f);
  }
  bool listShown() {
    for (int i = 1; i <= 5; i++) {
      if (screen->filter(i).hidden() != !screen->filtersVisible()) return false;
    }
    return !screen->filter(1).hidden();
  }

  std::unique_ptr<FlameGlobe> globe;
  std::unique_ptr<SnippetGlobeViewController> screen;
};

}  // namespace

TEST_F(SnippetGlobeScreen, TheListOpensClosesAndIgnoresPressesWhileClosing) {
  ASSERT_TRUE(screen->buttonImage());
  ASSERT_TRUE(screen->topImage());
  // state before, button pressed (0 = name, 1..5 = filter), then: list
  // open, closing, the globe's filter id.
  const struct {
    const char* what;
    int button;
    bool open, closing;
    int filterId;
  } table[] = {
      {"closed, name: opens", 0, true, false, 0},
      {"open, filter 3: chosen, closing", 3, true, true, 3},
      {"closing, filter 5: ignored", 5, true, true, 3},
      {"closing, name: ignored", 0, true, true, 3},
  };
  for (const auto& row : table) {
    press(row.button == 0 ? screen->nameButton() : screen->filter(row.button));
    EXPECT_EQ(screen->filtersVisible(), row.open) << row.what;
    EXPECT_EQ(listShown(), row.open) << row.what;
    EXPECT_EQ(screen->closingFilters(), row.closing) << row.what;
    EXPECT_EQ(globe->currentFilterId(), row.filterId) << row.what;
  }
  EXPECT_EQ(screen->nameButton().image(platform::ui::ControlState::Normal), screen->topImage());
  runGlobe();  // closeFilters
  EXPECT_FALSE(screen->filtersVisible());
  EXPECT_FALSE(screen->closingFilters());
  EXPECT_FALSE(listShown());
  EXPECT_EQ(screen->nameButton().image(platform::ui::ControlState::Normal),
            screen->buttonImage());
  EXPECT_EQ(screen->nameButton().image(platform::ui::ControlState::Highlighted),
            screen->buttonImage());
  // Filter 3 is shown active (green), the others white.
  EXPECT_EQ(screen->filter(3).currentTitleColor().g, 1.0);
  EXPECT_LT(screen->filter(3).currentTitleColor().r, 1.0);
  EXPECT_EQ(screen->filter(1).currentTitleColor(), platform::ui::Color::white());

  // The name button while open closes the list without changing the filter.
  press(screen->nameButton());
  press(screen->nameButton());
  EXPECT_TRUE(screen->closingFilters());
  runGlobe();
  EXPECT_FALSE(screen->filtersVisible());
  EXPECT_EQ(globe->currentFilterId(), 3);
}

TEST_F(SnippetGlobeScreen, TheGlobesNewsShowOnTheButtons) {
  screen->setSnippetName("Ann");
  EXPECT_EQ(screen->nameButton().title(platform::ui::ControlState::Normal), "Ann");
  EXPECT_EQ(screen->nameButton().title(platform::ui::ControlState::Highlighted), "Ann");
  for (int active : {1, 5, 0, 6}) {
    screen->setActiveFilter(active);
    for (int i = 1; i <= 5; i++) {
      const bool green = i == active;
      EXPECT_EQ(screen->filter(i).currentTitleColor() == platform::ui::Color::white(), !green)
          << active << " " << i;
    }
  }
  // Love and skip reach the globe (with nothing playing: a stop, no vote).
  int stops = 0;
  FlameGlobeServices services;
  services.stopTune = [&] { stops++; };
  FlameGlobe other(services, false);
  screen->setGlobe(&other);
  press(screen->skipButton());
  press(screen->loveButton());
  EXPECT_EQ(stops, 1);
  screen->setGlobe(globe.get());
  EXPECT_TRUE(screen->shouldAutorotateToInterfaceOrientation(1));
  EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(3));
}

TEST_F(SnippetGlobeScreen, TouchesBesideTheButtonsGoOnToTheGlobe) {
  EXPECT_EQ(screen->view()->hitTest(platform::ui::Point{160, 300}), nullptr);
  EXPECT_EQ(screen->view()->hitTest(platform::ui::Point{160, 20}), &screen->nameButton());
}
