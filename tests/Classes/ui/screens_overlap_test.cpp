// The instrument's screens as a player sees them, on the launched
// instrument: no text wider than its room (the settings' "Audio when
// asleep", the globe's "no melodies found"), nothing showing through a
// screen that covers another (the title under the settings, the sign-in
// form under the signed-in view), the globe's name without the instrument's
// title over it, the breath marker hidden under the expanded toolbar, the
// expanded toolbar on the globe clear of its love and skip buttons, and
// the blow hint and the upload panel clear of the holes of either layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneHostInput.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/ui/launched_instrument_support.h"
#include "Classes/ui/screen_probe_support.h"
#include "platform/ui/Toolbar.h"
#include "support/gl_test_support.h"

namespace {

using platform::ui::Rect;

bool intersects(const Rect& a, const Rect& b) {
  return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

// Brightness levels a box of the frame spans (0: one flat colour).
int levels(const std::vector<std::uint8_t>& frame, const Rect& box) {
  int low = 255 * 3, high = 0;
  for (int y = static_cast<int>(box.minY()); y < static_cast<int>(box.maxY()); y++) {
    for (int x = static_cast<int>(box.minX()); x < static_cast<int>(box.maxX()); x++) {
      const auto p = gltest::pixelAt(frame, 320, x, y);
      low = std::min(low, p[0] + p[1] + p[2]);
      high = std::max(high, p[0] + p[1] + p[2]);
    }
  }
  return high - low;
}

// Pixels of the box tinted by the breath marker's yellow, even faintly
// (through a translucent bar): red and green above blue (the bar itself
// is a little blue, its titles white).
int yellow(const std::vector<std::uint8_t>& frame, const Rect& box) {
  int count = 0;
  for (int y = static_cast<int>(box.minY()); y < static_cast<int>(box.maxY()); y++) {
    for (int x = static_cast<int>(box.minX()); x < static_cast<int>(box.maxX()); x++) {
      const auto p = gltest::pixelAt(frame, 320, x, y);
      if (p[0] - p[2] > 4 && p[1] - p[2] > 4) count++;
    }
  }
  return count;
}

// Where a hole's quads reach at rest (the ring is the hole's base size
// across, in the screen's units of 160 points).
Rect holeBox(int hole) {
  const platform::ui::Point c = FluvaneHostInput::holeCentre(hole);
  const double half = FluvaneGfx::FingerHole::get(hole)->baseSize / 2 * 160;
  return Rect(c.x - half, c.y - half, 2 * half, 2 * half);
}

// The box of an image view's ink (alpha above 8) on the screen.
Rect inkOnScreen(const platform::ui::ImageView& view) {
  const auto& image = *view.image();
  int x0 = image.width, y0 = image.height, x1 = -1, y1 = -1;
  for (int y = 0; y < image.height; y++) {
    for (int x = 0; x < image.width; x++) {
      if (image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 4 + 3] > 8) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
      }
    }
  }
  const Rect frame = probe::onScreen(view);
  const double sx = frame.width() / image.width, sy = frame.height() / image.height;
  return Rect(frame.minX() + x0 * sx, frame.minY() + y0 * sy, (x1 + 1 - x0) * sx,
              (y1 + 1 - y0) * sy);
}

class Screens : public LaunchedInstrumentTest {
 protected:
  void expectTextFits(const platform::ui::View& root, const char* what) {
    for (double scale : {1.0, 1.5, 2.0}) {
      for (const std::string& found : probe::overflowingText(root, scale)) {
        ADD_FAILURE() << what << ": " << found << " at " << scale;
      }
    }
  }
};

TEST_F(Screens, NoTextIsWiderThanItsRoom) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  expectTextFits(app->window(), "the launched screens");
  LoginViewController& login = delegate->fluvaneSettings->loginViewController();
  expectTextFits(*login.view(), "sign-in");
  expectTextFits(login.signedInView(), "signed in");
  SnippetGlobeViewController& globe = delegate->glView->snippetViewController();
  for (const char* name : {FlameGlobe::kOfflineName, FlameGlobe::kNoMelodiesName,
                           FlameGlobe::kUnreachableName, "Ana Flautista"}) {
    globe.setSnippetName(name);
    expectTextFits(*globe.view(), name);
  }
  expectTextFits(*delegate->recordingController->recordBar(), "recording toolbar");
  expectTextFits(*delegate->recordingController->uploadView(), "upload panel");
}

TEST_F(Screens, AScreenHidesWhatIsUnderIt) {
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  prefs.setSignedIn(false);
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  delegate->receiveMsg(4000);  // the settings
  ui->advance(1.0);
  // Right of the header "Settings", where the instrument's title lies below.
  EXPECT_LE(levels(ui->frame(), Rect(110, 10, 100, 24)), 2);

  // Signed in: the view covers the form's fields; their right half, clear
  // of the view's own words, is its background alone.
  prefs.setUsername("Ana");
  prefs.setSignedIn(true);
  delegate->fluvaneSettings->loginButtonPressed();
  ui->advance(1.0);
  LoginViewController& login = delegate->fluvaneSettings->loginViewController();
  ASSERT_NE(login.signedInView().superview(), nullptr);
  EXPECT_LE(levels(ui->frame(), Rect(200, 56, 100, 64)), 2);
  prefs.setSignedIn(false);
}

TEST_F(Screens, TheGlobesNameHasNoTitleOverIt) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  platform::ui::View* title = delegate->taggedView();
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->alpha(), 1.0);
  delegate->glView->receiveMsg(1002);
  ui->advance(1.0);
  EXPECT_EQ(title->alpha(), 0.0);
  EXPECT_EQ(title->drawnAlpha(), 0.0);
  EXPECT_TRUE(intersects(probe::onScreen(*title),
                         probe::onScreen(delegate->glView->snippetViewController().nameButton())));
  // The settings opened and closed on the globe leave it so.
  delegate->receiveMsg(4000);
  delegate->receiveMsg(4001);
  ui->advance(1.0);
  EXPECT_EQ(title->drawnAlpha(), 0.0);
  delegate->glView->receiveMsg(1001);
  ui->advance(1.0);
  EXPECT_EQ(title->drawnAlpha(), 1.0);
}

TEST_F(Screens, TheExpandedToolbarHidesTheBreathMarker) {
  FluvanePreferences::standardFluvanePreferences().setEnableTouchMode(false);
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  auto* bar = dynamic_cast<platform::ui::Toolbar*>(delegate->mainToolbar->expandedToolBar.get());
  ASSERT_NE(bar, nullptr);
  // The marker stands where the expanded toolbar's last item, Close, goes.
  delegate->receiveMsg(102);
  ui->advance(1.0);
  const Rect item = bar->itemRect(bar->items().size() - 1);
  const platform::ui::Point corner = bar->convertTo(item.origin, nullptr);
  const Rect close(corner.x, corner.y, item.width(), item.height());
  EXPECT_EQ(yellow(ui->frame(), close), 0);
  delegate->receiveMsg(103);
  ui->advance(1.0);
  EXPECT_GT(yellow(ui->frame(), close), 20) << "the marker, with the toolbar collapsed";
}

TEST_F(Screens, OnTheGlobeTheExpandedToolbarTakesItsOwnTaps) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  EAGLView& screen = *delegate->glView;
  auto* bar = dynamic_cast<platform::ui::Toolbar*>(delegate->mainToolbar->expandedToolBar.get());
  ASSERT_NE(bar, nullptr);
  screen.receiveMsg(1002);  // the globe
  delegate->receiveMsg(102);  // Menu: the toolbar expands over it
  ui->advance(1.0);
  ASSERT_EQ(screen.currentAppState(), EAGLView::kStateGlobe);
  // Every item's middle reaches the toolbar, not the globe's buttons.
  SnippetGlobeViewController& overlay = screen.snippetViewController();
  int globeItem = -1;
  for (std::size_t i = 0; i < bar->items().size(); i++) {
    const Rect item = bar->itemRect(i);
    const platform::ui::Point corner = bar->convertTo(item.origin, nullptr);
    const platform::ui::Point middle{corner.x + item.width() / 2, corner.y + item.height() / 2};
    platform::ui::View* hit = app->window().hitTest(middle);
    ASSERT_NE(hit, nullptr) << "item " << i;
    EXPECT_TRUE(hit == bar || hit->isDescendantOf(bar)) << "item " << i << " is covered";
    EXPECT_FALSE(intersects(probe::onScreen(overlay.loveButton()), Rect(corner.x, corner.y,
                                                                         item.width(),
                                                                         item.height())))
        << "love over item " << i;
    EXPECT_FALSE(intersects(probe::onScreen(overlay.skipButton()), Rect(corner.x, corner.y,
                                                                         item.width(),
                                                                         item.height())))
        << "skip over item " << i;
    if (bar->items()[i]->tag() == EAGLView::kMsgToggleGlobe) globeItem = static_cast<int>(i);
  }
  // A player's tap on Globe, where its title is drawn, turns back to the
  // instrument (it once pressed Skip instead).
  ASSERT_GE(globeItem, 0);
  const Rect item = bar->itemRect(static_cast<std::size_t>(globeItem));
  const platform::ui::Point corner = bar->convertTo(item.origin, nullptr);
  ui->tap(corner.x + item.width() / 2, corner.y + item.height() * 0.7);
  ui->advance(1.0);
  EXPECT_EQ(screen.currentAppState(), 0);
}

TEST_F(Screens, TheBlowHintAndTheUploadPanelLeaveTheHolesClear) {
  FluvanePreferences::standardFluvanePreferences().setEnableTouchMode(false);
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  const platform::ui::ImageView& hint = *delegate->blowableHelp->windView;
  ASSERT_TRUE(hint.image());
  ASSERT_FALSE(hint.hidden());
  const Rect ink = inkOnScreen(hint);
  const Rect panel = probe::onScreen(*delegate->recordingController->uploadView());
  for (int layout : {0, 1}) {
    FluvaneGfx::setLayoutMode(layout);
    for (int hole = 0; hole < 4; hole++) {
      EXPECT_FALSE(intersects(ink, holeBox(hole))) << "hint, layout " << layout << " hole " << hole;
      EXPECT_FALSE(intersects(panel, holeBox(hole)))
          << "upload panel, layout " << layout << " hole " << hole;
    }
  }
}

}  // namespace
