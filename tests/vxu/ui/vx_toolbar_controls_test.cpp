// The main toolbar and the UI kit's controls: codes kept or passed on,
// expansion and fading, placement, the picker's list, the picker field,
// the tap view and the help pages.
#include <gtest/gtest.h>

#include "platform/ui/Animation.h"
#include "support/gl_test_support.h"
#include "vxu/vx_log_capture.h"
#include "vxu/ui/VXButtonPicker.h"
#include "vxu/ui/VXImageSequenceController.h"
#include "vxu/ui/VXMainToolbar.h"
#include "vxu/ui/VXScreens.h"
#include "vxu/ui/VXTapView.h"
#include "vxu_ui_test_support.h"

using namespace platform::ui;

namespace {

struct Recorder : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
};

struct Named : VXNamedItem {
  std::string name;
  explicit Named(std::string n) : name(std::move(n)) {}
  std::string getName() const override { return name; }
};

}  // namespace

class ToolbarTest : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    toolbar = makeMainToolbar();
    toolbar->msgDelegate = &up;
    window().addSubview(toolbar);
    toolbar->setUILocation(2);
  }
  std::shared_ptr<VXMainToolbar> toolbar;
  Recorder up;
};

TEST_F(ToolbarTest, OwnCodesAreKeptOthersPassedOn) {
  toolbar->receiveMsg(kVXMsgExpandToolbar);
  EXPECT_TRUE(toolbar->isExpanded);
  toolbar->receiveMsg(kVXMsgOpenSettings);  // from outside: never echoed
  EXPECT_TRUE(up.codes.empty());
  ui().advance(0.3);
  ui().tap(200, 458);  // "Settings", the third of four items
  EXPECT_EQ(up.codes, (std::vector<int>{1007}));
  ui().tap(300, 458);  // "Close"
  EXPECT_FALSE(toolbar->isExpanded);
  EXPECT_EQ(up.codes.size(), 1u);
}

TEST_F(ToolbarTest, PressesAreCountedWithTheToolbarsName) {
  TestAppDelegate delegate;
  toolbar->nameForStats = "mainTB";
  toolbar->toolbarButtonPressed(kVXMsgOpenInfo);
  EXPECT_EQ(delegate.stats.getFeatureUseCount("mainTB1004"), 1u);
}

TEST_F(ToolbarTest, ExpansionMovesTheBarAndTheButton) {
  EXPECT_EQ(toolbar->center(), (Point{160, 458}));
  EXPECT_EQ(toolbar->expandedToolBar->center(), (Point{160, 66}));  // out past the bottom
  ui().tap(40, 458);  // "Menu"
  EXPECT_TRUE(toolbar->isExpanded);
  EXPECT_EQ(toolbar->expandedToolBar->center(), (Point{160, 22}));
  EXPECT_EQ(toolbar->collapsedButton->alpha(), 0);
  EXPECT_EQ(Animator::shared().count(), 2u);  // animated: button and bar
  ui().advance(0.3);
  EXPECT_EQ(toolbar->expandedToolBar->drawnCenter(), (Point{160, 22}));
  // Location 1 (top): the bar turns a half turn and collapses upwards.
  toolbar->setUILocation(1);
  EXPECT_EQ(toolbar->center(), (Point{160, 22}));
  EXPECT_NEAR(toolbar->expandedToolBar->transform().a, -1, 1e-12);
  toolbar->receiveMsg(kVXMsgCollapseToolbar);
  EXPECT_EQ(toolbar->expandedToolBar->center(), (Point{160, -22}));
}

TEST_F(ToolbarTest, FadingTwiceAnimatesOnce) {
  toolbar->doExpand(true);
  ui().advance(0.3);
  const auto lines = printed_lines([&] {
    toolbar->fadeToolbar(true);
    EXPECT_EQ(Animator::shared().count(), 1u);
    toolbar->fadeToolbar(true);
    EXPECT_EQ(Animator::shared().count(), 1u);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"fadeToolbar: 1"}));
  EXPECT_EQ(toolbar->expandedToolBar->alpha(), 0);  // read at once
  ui().advance(0.6);
  toolbar->fadeToolbar(false);
  EXPECT_EQ(toolbar->expandedToolBar->alpha(), 1);
}

TEST_F(ToolbarTest, HidingKeepsTheExpansion) {
  toolbar->doExpand(true);
  toolbar->receiveMsg(kVXMsgHideToolbar);
  EXPECT_TRUE(toolbar->hidden());
  toolbar->receiveMsg(kVXMsgShowToolbar);
  EXPECT_FALSE(toolbar->hidden());
  EXPECT_FALSE(toolbar->expandedToolBar->hidden());
  EXPECT_TRUE(toolbar->collapsedButton->hidden());
  // An expansion made while hidden is in place once shown.
  toolbar->doExpand(false);
  toolbar->doHide(true);
  toolbar->doExpand(true);
  toolbar->doHide(false);
  ui().advance(0.3);
  EXPECT_EQ(toolbar->expandedToolBar->drawnCenter(), (Point{160, 22}));
}

TEST_F(ToolbarTest, SavedStateIsRestored) {
  toolbar->doExpand(true);
  toolbar->saveToolbarState();
  toolbar->doExpand(false);
  EXPECT_FALSE(toolbar->isExpanded);
  toolbar->restoreToolbarState();
  EXPECT_TRUE(toolbar->isExpanded);
}

TEST_F(ToolbarTest, ViewTree) {
  ui().advance(0.3);
  EXPECT_EQ(ui().viewTree(),
            "Window tag=0 (0,0,320,480) alpha=1\n"
            "  VXMainToolbar tag=0 (0,436,320,44) alpha=1\n"
            "    Toolbar tag=0 (0,44,320,44) alpha=1 '1004:Info|1006:Help|1007:Settings|103:Close'\n"
            "    VXTransparentButton tag=102 (6,6,70,32) alpha=1 'Menu'\n");
}

TEST_F(ToolbarTest, TransparentButtonGolden) {
  auto button = std::make_shared<VXTransparentButton>(Rect(100, 100, 64, 64));
  window().addSubview(button);
  const auto frame = ui().frame();
  std::vector<std::uint8_t> crop;
  for (int y = 100; y < 164; y++) {
    for (int x = 100; x < 164; x++) {
      for (int v : Automation::pixel(frame, 320, x, y)) crop.push_back(static_cast<std::uint8_t>(v));
    }
  }
  EXPECT_TRUE(gltest::matchesGolden("transparent_button", crop, 64, 64));
}

class KitControlsTest : public FrameworkUiTest {};

TEST_F(KitControlsTest, PickerListGeometry) {
  VXButtonPicker picker(Rect(0, 0, 200, 40));
  picker.setList({std::string("a"), std::string("b"), std::string("c")});
  EXPECT_EQ(picker.listView->bounds().height(), 104);
  ASSERT_EQ(picker.listView->subviews().size(), 4u);  // background and three items
  View* third = picker.listView->viewWithTag(3);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->frame().y(), 68);
  EXPECT_EQ(static_cast<VXTransparentButton*>(third)->roundedCorners, 12);
  EXPECT_EQ(static_cast<VXTransparentButton*>(picker.listView->viewWithTag(1))->roundedCorners, 0);
  // An empty list is 0 high, not -4.
  picker.setList({});
  EXPECT_EQ(picker.listView->bounds().height(), 0);
  EXPECT_EQ(picker.listBackground->bounds().height(), 0);
}

TEST_F(KitControlsTest, ChoosingAnItemSelectsItAndTellsTheTargets) {
  auto picker = std::make_shared<VXButtonPicker>(Rect(20, 100, 200, 40));
  picker->setList({std::make_shared<Named>("first"), std::string("second")});
  int changes = 0;
  picker->addTarget([&](Control&) { changes++; }, kValueChanged);
  window().addSubview(picker);
  ui().tap(100, 120);
  ASSERT_TRUE(picker->listShown);
  EXPECT_EQ(picker->roundedCorners, 3);
  EXPECT_EQ(picker->listView->frame().origin, (Point{20, 140}));
  // Item 0 spans 136..176 in the window.
  ui().tap(100, 160);
  EXPECT_EQ(picker->getSelectedIndex(), 0);
  EXPECT_EQ(picker->currentTitle(), "first");
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(picker->listShown);
  EXPECT_EQ(picker->roundedCorners, 15);
  EXPECT_EQ(picker->listView->superview(), nullptr);
  picker->selectItem(1);
  EXPECT_EQ(picker->currentTitle(), "second");
  picker->selectItem(5);
  EXPECT_EQ(picker->currentTitle(), "");
  EXPECT_EQ(picker->getSelectedIndex(), 5);
  picker->enableItem(1, false);
  EXPECT_FALSE(static_cast<Control*>(picker->listView->viewWithTag(2))->enabled());
}

TEST_F(KitControlsTest, PickerFieldActsLikeAButton) {
  auto field = std::make_shared<VXPickerTextField>(Rect(10, 10, 200, 30));
  int presses = 0;
  field->addTarget([&](Control&) { presses++; }, kTouchUpInside);
  window().addSubview(field);
  ui().touch({{1, TouchPhase::Began, {20, 20}, 1}});
  EXPECT_TRUE(field->highlighted());
  ui().touch({{1, TouchPhase::Ended, {20, 20}, 1}});
  EXPECT_FALSE(field->highlighted());
  EXPECT_EQ(presses, 1);
  EXPECT_FALSE(field->isFirstResponder());
  ui().typeText("x");
  EXPECT_EQ(field->text(), "");
}

TEST_F(KitControlsTest, TapViewTellsItsDelegate) {
  struct Taps : VXTapViewDelegate {
    int taps = 0;
    void setMessageDelegate(MessageHandlerDelegate*) override {}
    void tapViewTapped(VXTapView*) override { taps++; }
  } taps;
  auto view = std::make_shared<VXTapView>(Rect(0, 0, 100, 100));
  view->delegate = &taps;
  window().addSubview(view);
  ui().doubleTap(50, 50);
  EXPECT_EQ(taps.taps, 2);
  ui().touch({{1, TouchPhase::Began, {50, 50}, 0}});
  ui().touch({{1, TouchPhase::Ended, {50, 50}, 0}});
  EXPECT_EQ(taps.taps, 2);
}

TEST_F(KitControlsTest, HelpPages) {
  ScopedResources resources;
  resources.addImage("page0.png", 8, 8, 200);
  resources.addImage("page2.png", 8, 8, 100);
  auto help = makeHelpScreen();
  Recorder up;
  help->msgDelegate = &up;
  window().addSubview(help->view);
  // A missing page keeps its place and shows nothing.
  help->setImages("page", ".png", 3);
  ASSERT_EQ(help->imageCount(), 3u);
  help->viewWillAppear();
  EXPECT_TRUE(help->helpToolbar->isExpanded);
  EXPECT_NE(help->helpImageView->image(), nullptr);
  help->receiveMsg(kVXMsgNextImage);
  EXPECT_EQ(help->currentImageIndex(), 1);
  EXPECT_EQ(help->helpImageView->image(), nullptr);
  EXPECT_EQ(help->helpImageView->backgroundColor().a, 0);
  EXPECT_FALSE(getSubItemWithTag(help->helpToolbar.get(), kVXMsgNextImage).item->enabled());
  EXPECT_FALSE(getSubItemWithTag(help->helpToolbar.get(), kVXMsgPreviousImage).item->enabled());
  // One page: previous is off, next finishes.
  up.codes.clear();
  help->setImages("page", ".png", 1);
  EXPECT_FALSE(getSubItemWithTag(help->helpToolbar.get(), kVXMsgPreviousImage).item->enabled());
  EXPECT_TRUE(getSubItemWithTag(help->helpToolbar.get(), kVXMsgNextImage).item->enabled());
  help->receiveMsg(kVXMsgNextImage);
  EXPECT_EQ(up.codes, (std::vector<int>{301, 300}));
  help->receiveMsg(kVXMsgFinishImageSequence);
  EXPECT_EQ(up.codes.back(), 300);
  // No pages at all.
  help->setImages("page", ".png", 0);
  EXPECT_EQ(help->currentImageIndex(), -1);
  // The help bar's items read upright: the bar is turned back inside its
  // turned holder.
  ui().advance(0.3);
  Point p = help->helpToolbar->expandedToolBar->subviews()[0]->convertTo({10, 10}, nullptr);
  EXPECT_NEAR(p.x, 10, 1e-9);
  EXPECT_NEAR(p.y, 10, 1e-9);
}
