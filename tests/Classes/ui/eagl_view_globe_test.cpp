// The instrument screen's globe state on a testing host: the overlay comes
// and goes with the transitions, and drags, flicks, double taps and the
// wheel reach the globe as its gestures.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneStats.h"
#include "vxu/ui/vxu_ui_test_support.h"
#include "vxu/vx_service_support.h"

namespace {

class EAGLViewGlobe : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    view = std::make_shared<EAGLView>();
    window().addSubview(view);
  }
  void TearDown() override {
    view->removeFromSuperview();
    view.reset();
    FrameworkUiTest::TearDown();
  }
  // Enters the globe and runs its entry zoom.
  void enter() {
    view->transitionToEarth();
    while (!view->flameGlobe().zoomDone()) view->drawView();
  }

  ScopedEnv offline{"FLUVANE_SERVICE_URL", nullptr};
  std::shared_ptr<EAGLView> view;
};

}  // namespace

TEST_F(EAGLViewGlobe, TheOverlayComesAndGoesWithTheGlobe) {
  const std::uint32_t views = FluvaneStats::defaultFluvaneStats().globeViews();
  view->transitionToEarth();
  EXPECT_EQ(view->currentAppState(), EAGLView::kStateGlobe);
  EXPECT_EQ(view->flameGlobe().globeState(), 0);
  EXPECT_EQ(view->snippetViewController().view()->superview(), view.get());
  EXPECT_EQ(FluvaneStats::defaultFluvaneStats().globeViews(), views + 1);
  for (int i = 0; i < 70; i++) {
    view->drawView();
    while (view->flameGlobe().downloadingInProgress()) std::this_thread::yield();
  }
  // Offline: the name says so, and no alert is shown.
  EXPECT_EQ(view->snippetViewController().nameButton().currentTitle(), FlameGlobe::kOfflineName);
  EXPECT_TRUE(ui().alerts().empty());
  view->transitionFromEarth();
  EXPECT_EQ(view->currentAppState(), EAGLView::kStateInstrument);
  EXPECT_EQ(view->flameGlobe().globeState(), 2);
  EXPECT_EQ(view->snippetViewController().view()->superview(), nullptr);
}

TEST_F(EAGLViewGlobe, DragsFlicksAndTheWheelTurnAndZoom) {
  enter();
  const float rotation = view->flameGlobe().rotationAngle();
  // A drag of 40 points to the left turns by 40 x 0.25 (at zoom 0).
  ui().touch({{1, platform::ui::TouchPhase::Began, {200, 300}, 1}});
  ui().touch({{1, platform::ui::TouchPhase::Moved, {160, 300}, 1}});
  EXPECT_FLOAT_EQ(view->flameGlobe().rotationAngle(), rotation + 10.0f);
  EXPECT_FALSE(view->flameGlobe().autoFollowMode());
  // Released while moving: it spins on.
  ui().touch({{1, platform::ui::TouchPhase::Ended, {150, 300}, 1}});
  EXPECT_FLOAT_EQ(view->flameGlobe().rotationSpeed(), 10 * 0.3f);
  // Three notches of the wheel: 60 points of pinch.
  view->scrollWheel(3);
  EXPECT_NEAR(view->flameGlobe().zoomFactor(), 60 * 0.002, 1e-6);
  view->scrollWheel(-10);
  EXPECT_EQ(view->flameGlobe().zoomFactor(), 0.0f);
  // Two fingers spreading by 50 points zoom in by 0.1.
  ui().touch({{1, platform::ui::TouchPhase::Began, {100, 200}, 1},
              {2, platform::ui::TouchPhase::Began, {200, 200}, 1}});
  ui().touch({{1, platform::ui::TouchPhase::Moved, {75, 200}, 1},
              {2, platform::ui::TouchPhase::Moved, {225, 200}, 1}});
  EXPECT_NEAR(view->flameGlobe().zoomFactor(), 0.1, 1e-6);
}

TEST_F(EAGLViewGlobe, ADoubleTapPicksOnlyWithTheRegionFilter) {
  enter();
  ui().doubleTap(160, 300);
  EXPECT_FALSE(view->flameGlobe().doDoubleTapProcess());
  view->flameGlobe().filterPressed(2);
  view->drawGL();  // the pick at the centre
  EXPECT_FALSE(view->flameGlobe().doDoubleTapProcess());
  ui().doubleTap(160, 300);
  EXPECT_TRUE(view->flameGlobe().doDoubleTapProcess());
}
