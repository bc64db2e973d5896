// The UI base: message codes up the chain, feature counting, finding items
// by tag, bar items, opening and closing sub-views, rounded rectangles and
// their clamps, the touch-swallowing view and the screen controllers.
#include <gtest/gtest.h>

#include "platform/UserDefaults.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Canvas.h"
#include "vxu/VXPreferences.h"
#include "vxu/ui/VXButtonPicker.h"
#include "vxu/ui/VXUIUtils.h"
#include "vxu/ui/VXUIViewController.h"
#include "vxu_ui_test_support.h"

using namespace platform::ui;

namespace {

struct Recorder : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
};

int alphaAt(const Canvas& c, int x, int y) {
  return c.pixels()[(static_cast<std::size_t>(y) * c.width() + x) * 4 + 3];
}

}  // namespace

class UiBaseTest : public FrameworkUiTest {};

TEST_F(UiBaseTest, ButtonPressesCountFeaturesAndGoUpTheChain) {
  TestAppDelegate delegate;
  Recorder up;
  VXUIViewController controller;
  controller.msgDelegate = &up;
  auto button = std::make_shared<Button>(Rect(0, 0, 50, 50));
  button->setTag(kVXMsgOpenSettings);
  controller.connectButton(*button);
  window().addSubview(button);
  ui().tap(10, 10);
  EXPECT_EQ(up.codes, (std::vector<int>{1007}));
  EXPECT_EQ(delegate.stats.getFeatureUseCount("settings1007"), 0u);
  EXPECT_TRUE(delegate.stats.getFeaturesTracker().empty());
  controller.nameForStats = "settings";
  ui().tap(10, 10);
  EXPECT_EQ(up.codes, (std::vector<int>{1007, 1007}));
  EXPECT_EQ(delegate.stats.getFeatureUseCount("settings1007"), 1u);
}

TEST_F(UiBaseTest, SubItemsAreFoundByTag) {
  auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
  auto middle = std::make_shared<View>(Rect(0, 0, 320, 100));
  auto bar = std::make_shared<Toolbar>(Rect(0, 0, 320, 44));
  bar->setItems({std::make_shared<BarItem>("A", 11), std::make_shared<BarItem>("B", 12)});
  middle->addSubview(bar);
  root->addSubview(middle);
  auto deep = std::make_shared<View>(Rect(0, 0, 1, 1));
  deep->setTag(12);
  root->addSubview(deep);  // later in the order than the bar's item
  VXSubItem found = getSubItemWithTag(root.get(), 12);
  ASSERT_NE(found.item, nullptr);
  EXPECT_EQ(found.item->title(), "B");
  EXPECT_EQ(getSubItemWithTag(root.get(), 0).view, root.get());
  EXPECT_FALSE(getSubItemWithTag(nullptr, 12));
  EXPECT_FALSE(getSubItemWithTag(root.get(), 99));
  // Bar items change; views with the tag are left alone.
  updateUIBarItem(root.get(), 11, false, std::string("no-such-image.png"));
  EXPECT_FALSE(bar->items()[0]->enabled());
  EXPECT_EQ(bar->items()[0]->image(), nullptr);
  auto button = std::make_shared<Button>(Rect(0, 0, 1, 1));
  button->setTag(40);
  root->addSubview(button);
  updateUIBarItem(root.get(), 40, false);
  EXPECT_TRUE(button->enabled());
}

TEST_F(UiBaseTest, SubViewsOpenAndCloseWithTheirAnimations) {
  auto parent = std::make_shared<View>(Rect(0, 0, 320, 480));
  auto bar = std::make_shared<View>(Rect(0, 400, 320, 80));
  parent->addSubview(bar);
  window().addSubview(parent);
  auto sub = std::make_shared<View>(Rect(0, 0, 320, 400));
  sub->setHidden(true);
  openSubView(sub, parent.get(), bar.get(), true);
  EXPECT_EQ(parent->subviews()[0], sub);  // below the sibling
  EXPECT_FALSE(sub->hidden());
  EXPECT_TRUE(sub->exclusiveTouch());
  EXPECT_EQ(sub->alpha(), 1);
  EXPECT_EQ(sub->drawnAlpha(), 0);
  ui().advance(0.74);
  EXPECT_LT(sub->drawnAlpha(), 1);
  ui().advance(0.02);
  EXPECT_EQ(sub->drawnAlpha(), 1);
  std::string name;
  void* context = nullptr;
  closeSubView(sub.get(), [&](const std::string& n, bool, void* c) {
    name = n;
    context = c;
  });
  EXPECT_EQ(sub->alpha(), 0);
  ui().advance(0.51);
  EXPECT_EQ(name, "kOpenSubViewAnimation");
  EXPECT_EQ(context, sub.get());
  EXPECT_EQ(sub->superview(), parent.get());
  // Without a delegate: at once.
  openSubView(sub, parent.get(), nullptr, false);
  EXPECT_EQ(sub->drawnAlpha(), 1);
  closeSubView(sub.get());
  EXPECT_EQ(sub->drawnAlpha(), 0);
}

TEST_F(UiBaseTest, RoundedRectCornersFollowTheMask) {
  struct Case {
    int mask;
    bool topLeft, topRight, bottomRight, bottomLeft;  // rounded (corner pixel empty)
  };
  const Case cases[] = {{3, true, true, false, false},
                        {15, true, true, true, true},
                        {12, false, false, true, true},
                        {0, false, false, false, false}};
  for (const Case& k : cases) {
    Canvas c(44, 44);
    c.setFillColor(Color::white());
    drawRoundedRect(c, Rect(0, 0, 44, 44), 10, 2, PathMode::Fill, k.mask);
    SCOPED_TRACE(k.mask);
    // The inset rectangle is 2..42; its corner pixels.
    EXPECT_EQ(alphaAt(c, 2, 2) == 0, k.topLeft);
    EXPECT_EQ(alphaAt(c, 41, 2) == 0, k.topRight);
    EXPECT_EQ(alphaAt(c, 41, 41) == 0, k.bottomRight);
    EXPECT_EQ(alphaAt(c, 2, 41) == 0, k.bottomLeft);
    EXPECT_EQ(alphaAt(c, 22, 22), 255);
    EXPECT_EQ(alphaAt(c, 1, 22), 0);
  }
}

TEST_F(UiBaseTest, RoundedRectClampsRadiusAndInset) {
  // A radius over half the side makes a circle, not a shape folded over
  // itself: the middle is filled and nothing lands outside the rectangle.
  Canvas c(40, 40);
  c.setFillColor(Color::white());
  drawRoundedRect(c, Rect(10, 10, 20, 20), 100, 1, PathMode::Fill, 15);
  EXPECT_EQ(alphaAt(c, 20, 20), 255);
  long outside = 0;
  for (int y = 0; y < 40; y++) {
    for (int x = 0; x < 40; x++) {
      if (x < 10 || x >= 30 || y < 10 || y >= 30) outside += alphaAt(c, x, y);
    }
  }
  EXPECT_EQ(outside, 0);
  // A rectangle narrower than twice the line width shrinks to its middle
  // line instead of turning inside out.
  Canvas thin(40, 40);
  thin.setStrokeColor(Color::white());
  drawRoundedRect(thin, Rect(10, 10, 3, 20), 7, 2, PathMode::Stroke, 15);
  long ink = 0, beyond = 0;
  for (int y = 0; y < 40; y++) {
    for (int x = 0; x < 40; x++) {
      const int a = alphaAt(thin, x, y);
      ink += a;
      if (x < 9 || x > 13 || y < 9 || y > 31) beyond += a;
    }
  }
  EXPECT_GT(ink, 0);
  EXPECT_EQ(beyond, 0);
}

TEST_F(UiBaseTest, NoTouchViewTellsOfTouchesOutsidePickers) {
  Recorder up;
  auto guard = std::make_shared<VXNoTouchView>(Rect(0, 0, 320, 480));
  guard->msgDelegate = &up;
  auto picker = std::make_shared<VXButtonPicker>(Rect(20, 20, 200, 40));
  picker->setList({std::string("a"), std::string("b")});
  guard->addSubview(picker);
  window().addSubview(guard);
  ui().tap(50, 40);
  EXPECT_TRUE(up.codes.empty());
  EXPECT_TRUE(picker->listShown);
  ui().tap(300, 400);
  EXPECT_EQ(up.codes, (std::vector<int>{104}));
}

TEST_F(UiBaseTest, ControllersTurnTheirViewInLandscape) {
  VXUIViewController portrait;
  portrait.setView(std::make_shared<View>(Rect(0, 0, 100, 50)));
  EXPECT_TRUE(portrait.checkRotation);
  EXPECT_TRUE(portrait.view()->transform().isIdentity());
  EXPECT_FALSE(portrait.checkRotation);
  app_->setStatusBarOrientation(3);
  VXUIViewController landscape;
  landscape.setView(std::make_shared<View>(Rect(0, 0, 100, 50)));
  auto view = landscape.view();
  EXPECT_EQ(view->center(), (Point{160, 240}));
  EXPECT_NEAR(view->transform().b, 1, 1e-12);
  landscape.view();  // once only
  EXPECT_NEAR(view->transform().b, 1, 1e-12);
}

TEST_F(UiBaseTest, InfoScreenKeepsItsText) {
  platform::UserDefaults::standard().removeObject(VXPreferencesLastInfoTextCache);
  VXInfoViewControler info;
  info.messageTextView = std::make_shared<TextView>(Rect(0, 0, 200, 100));
  info.awakeFromNib();
  EXPECT_EQ(info.messageTextView->text(), "Welcome to Fluvane.");
  info.setInfoMessage("News of the day");
  VXInfoViewControler again;
  again.messageTextView = std::make_shared<TextView>(Rect(0, 0, 200, 100));
  again.awakeFromNib();
  EXPECT_EQ(again.messageTextView->text(), "News of the day");
  // The issue report asks first: Cancel 0, Yes 1.
  info.reportIssueButtonPressed();
  ASSERT_EQ(ui().alerts().size(), 1u);
  EXPECT_EQ(ui().alerts()[0].title, "Report Issue");
  EXPECT_EQ(ui().alerts()[0].buttons, (std::vector<std::string>{"Cancel", "Yes"}));
  ui().answer(0);
  EXPECT_TRUE(ui().alerts().empty());
}
