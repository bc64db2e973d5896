// The recording toolbar and the upload panel on a testing host, driven by
// taps: the bar goes in at the top expanded below its sibling, its items
// show what the controller allows (images and captions change with
// recording and playing), blowing collapses it out of sight and a breath
// that runs down brings it back, an upload shows the panel with its
// spinning indicator until the reply, Cancel in the panel aborts, and
// hideViews stops a recording and takes the bar away.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneStats.h"
#include "Classes/RecordingController.h"
#include "fluvane_service.h"
#include "Classes/recording_test_support.h"
#include "platform/AlertPresenter.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Toolbar.h"
#include "vxu/VXSecrets.h"
#include "vxu/ui/vxu_ui_test_support.h"
#include "vxu/vx_service_support.h"

using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::View;

namespace {

// Where a view lies on the screen (its frame in window coordinates).
Rect onScreen(const View& v) {
  const Rect b = v.bounds();
  const Point a = v.convertTo(Point{b.x(), b.y()}, nullptr);
  const Point z = v.convertTo(Point{b.x() + b.width(), b.y() + b.height()}, nullptr);
  return Rect(std::min(a.x, z.x), std::min(a.y, z.y), std::abs(z.x - a.x), std::abs(z.y - a.y));
}

class RecordingToolbar : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    // Icons told apart by their red: record 200, stop 100, play 50.
    resources_.addImage("recording_tool.png", 8, 8, 200);
    resources_.addImage("stop_tool.png", 8, 8, 100);
    resources_.addImage("play_tool.png", 8, 8, 50);
    previous_ = platform::AlertPresenter::install(presenter_);
    FluvaneStats::defaultFluvaneStats().setManualUploads(0);
    screen_ = std::make_shared<EAGLView>();
    window().addSubview(screen_);
    sibling_ = std::make_shared<View>(Rect(0, 436, 320, 44));
    screen_->addSubview(sibling_);
    controller_ = std::make_unique<RecordingController>(nullptr, screen_.get());
    controller_->insertViewsInside(screen_.get(), sibling_.get());
    ui().advance(1.0);
  }
  void TearDown() override {
    controller_.reset();
    settle();
    platform::AlertPresenter::install(previous_);
    FrameworkUiTest::TearDown();
  }

  platform::ui::Toolbar& bar() {
    View* holder = controller_->recordBar()->expandedToolBar.get();
    return static_cast<platform::ui::Toolbar&>(*holder->subviews().at(0));
  }
  platform::ui::BarItem& item(int tag) {
    for (const auto& i : bar().items()) {
      if (i->tag() == tag) return *i;
    }
    ADD_FAILURE() << "no item " << tag;
    return *bar().items().at(0);
  }
  // The red of an item's image (-1 without one).
  int imageRed(int tag) {
    platform::ui::ImageRef image = item(tag).image();
    return image ? image->pixels[0] : -1;
  }
  void tapItem(int tag) {
    platform::ui::Toolbar& b = bar();
    for (std::size_t i = 0; i < b.items().size(); i++) {
      if (b.items()[i]->tag() != tag) continue;
      const Rect r = b.itemRect(i);
      const Point p = b.convertTo(Point{r.midX(), r.midY()}, nullptr);
      ui().tap(p.x, p.y);
    }
  }
  void tapView(View& v) {
    const Rect r = onScreen(v);
    ui().tap(r.midX(), r.midY());
  }
  template <typename Done>
  bool waitFor(Done done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      ui().advance(0);
      std::this_thread::yield();
    }
    return true;
  }
  View* cancelButton() {
    for (const auto& v : controller_->uploadView()->subviews()) {
      auto* b = dynamic_cast<platform::ui::Button*>(v.get());
      if (b && b->title(platform::ui::ControlState::Normal) == std::optional<std::string>("Cancel")) return b;
    }
    return nullptr;
  }

  ScopedResources resources_;
  std::shared_ptr<platform::TestAlertPresenter> presenter_ =
      std::make_shared<platform::TestAlertPresenter>();
  std::shared_ptr<platform::AlertPresenter> previous_;
  std::shared_ptr<EAGLView> screen_;
  std::shared_ptr<View> sibling_;
  std::unique_ptr<RecordingController> controller_;
};

TEST_F(RecordingToolbar, GoesInAtTheTopExpandedBelowItsSibling) {
  VXMainToolbar* recordBar = controller_->recordBar();
  ASSERT_EQ(recordBar->superview(), screen_.get());
  const auto& views = screen_->subviews();
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0].get(), recordBar);
  EXPECT_EQ(views[1].get(), sibling_.get());
  EXPECT_EQ(recordBar->uiLocation, 1);
  EXPECT_TRUE(recordBar->isExpanded);
  // The bar fills the top edge; its items read in order, left to right.
  const Rect top = onScreen(bar());
  EXPECT_NEAR(top.y(), 0, 0.5);
  EXPECT_NEAR(top.width(), 320, 0.5);
  const Point first = bar().convertTo(Point{bar().itemRect(0).midX(), 22}, nullptr);
  const Point last = bar().convertTo(Point{bar().itemRect(3).midX(), 22}, nullptr);
  EXPECT_LT(first.x, last.x);
  EXPECT_EQ(bar().items()[0]->tag(), 4003);
  // Nothing recorded yet: only record may be pressed.
  EXPECT_TRUE(item(4003).enabled());
  EXPECT_FALSE(item(4004).enabled());
  EXPECT_FALSE(item(4005).enabled());
  EXPECT_FALSE(item(4006).enabled());
  EXPECT_EQ(imageRed(4003), 200);
  EXPECT_EQ(imageRed(4004), 50);
  EXPECT_EQ(controller_->recordLabel()->text(), "record");
  EXPECT_EQ(controller_->playLabel()->text(), "play");
  // The captions sit under the bar.
  EXPECT_GE(onScreen(*controller_->recordLabel()).y(), top.y() + top.height() - 0.5);
}

TEST_F(RecordingToolbar, TheItemsFollowRecordingAndPlaying) {
  tapItem(4004);  // disabled: nothing happens
  EXPECT_FALSE(controller_->isPlaying());
  tapItem(4003);
  ASSERT_TRUE(controller_->isRecording());
  EXPECT_EQ(imageRed(4003), 100);
  EXPECT_EQ(controller_->recordLabel()->text(), "stop");
  tapItem(4003);
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_EQ(imageRed(4003), 200);
  controller_->recordedSnipet(aRecording());
  EXPECT_TRUE(item(4004).enabled());
  EXPECT_TRUE(item(4005).enabled());
  EXPECT_TRUE(item(4006).enabled());
  tapItem(4004);
  ASSERT_TRUE(controller_->isPlaying());
  EXPECT_EQ(imageRed(4004), 100);
  EXPECT_EQ(controller_->playLabel()->text(), "stop");
  EXPECT_FALSE(item(4003).enabled());
  EXPECT_FALSE(item(4005).enabled());
  tapItem(4004);
  EXPECT_FALSE(controller_->isPlaying());
  EXPECT_EQ(imageRed(4004), 50);
  EXPECT_EQ(controller_->playLabel()->text(), "play");
}

TEST_F(RecordingToolbar, BlowingCollapsesItOutOfSightAndItComesBack) {
  controller_->receiveMsg(4002);
  EXPECT_TRUE(controller_->fadedBar());
  EXPECT_FALSE(controller_->recordBar()->isExpanded);
  ui().advance(1.0);
  const Rect gone = onScreen(bar());
  EXPECT_LE(gone.y() + gone.height(), 0.5);
  EXPECT_LE(onScreen(*controller_->recordLabel()).y() + 14, 0.5);
  controller_->receiveMsg(4002);  // collapsed: nothing more
  controller_->receiveMsg(4007);
  EXPECT_FALSE(controller_->fadedBar());
  ui().advance(1.0);
  EXPECT_NEAR(onScreen(bar()).y(), 0, 0.5);
}

TEST_F(RecordingToolbar, AnUploadShowsThePanelUntilTheReply) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  controller_->recordedSnipet(aRecording());
  tapItem(4005);
  ASSERT_TRUE(controller_->isUploading());
  View* panel = controller_->uploadView();
  EXPECT_EQ(panel->superview(), screen_.get());
  platform::ui::ActivityIndicator* spinner = controller_->uploadIndicatorView();
  EXPECT_TRUE(spinner->isAnimating());
  EXPECT_FALSE(spinner->hidden());
  ASSERT_TRUE(waitFor([&] { return !controller_->isUploading(); }));
  EXPECT_TRUE(controller_->hasUploadedMelody());
  EXPECT_FALSE(spinner->isAnimating());
  EXPECT_FALSE(item(4005).enabled());
  // The panel fades, then leaves the screen.
  ui().advance(1.0);
  EXPECT_EQ(panel->superview(), nullptr);
  EXPECT_EQ(model.snippets().size(), 1u);
}

TEST_F(RecordingToolbar, CancelInThePanelAbortsTheUpload) {
  ConfiguredService service;
  stub::Reply held = stub::Reply::text("never\nsent");
  held.hold = true;
  service.stub.on("/fluvane/uploadsnippet/", held);
  controller_->recordedSnipet(aRecording());
  tapItem(4005);
  ASSERT_TRUE(controller_->isUploading());
  // The indicator turns while the upload waits.
  const int lead = controller_->uploadIndicatorView()->leadSpoke();
  ui().advance(platform::ui::ActivityIndicator::kStepSeconds * 1.5);
  EXPECT_NE(controller_->uploadIndicatorView()->leadSpoke(), lead);
  ui().advance(1.0);  // faded in
  View* cancel = cancelButton();
  ASSERT_NE(cancel, nullptr);
  tapView(*cancel);
  EXPECT_FALSE(controller_->isUploading());
  EXPECT_FALSE(controller_->uploadIndicatorView()->isAnimating());
  EXPECT_TRUE(controller_->recording());
  EXPECT_TRUE(item(4005).enabled());
  ui().advance(1.0);
  EXPECT_EQ(controller_->uploadView()->superview(), nullptr);
}

TEST_F(RecordingToolbar, HidingStopsARecordingAndTakesTheBarAway) {
  tapItem(4003);
  ASSERT_TRUE(controller_->isRecording());
  controller_->hideViews();
  EXPECT_FALSE(controller_->isRecording());
  EXPECT_EQ(controller_->recordBar()->superview(), nullptr);
  EXPECT_EQ(controller_->recordLabel()->text(), "record");
  // In again, expanded even when it was collapsed.
  controller_->receiveMsg(4002);
  controller_->insertViewsInside(screen_.get(), sibling_.get());
  EXPECT_TRUE(controller_->recordBar()->isExpanded);
  EXPECT_FALSE(controller_->fadedBar());
}

}  // namespace
