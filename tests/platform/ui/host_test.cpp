// The host on the offscreen driver: composited frames, touches (several at
// once, tap counts, cancelling), the window's letterbox, focus and close,
// the main run loop's wake-ups, controls, text input, toolbars and alerts.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/gfx/GLHost.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Toolbar.h"
#include "support/gl_test_support.h"
#include "ui_test_support.h"

using namespace platform::ui;

namespace {

std::shared_ptr<View> filled(const Rect& frame, Color color, int tag = 0) {
  auto v = std::make_shared<View>(frame);
  v->setBackgroundColor(color);
  v->setTag(tag);
  return v;
}

// Records the touches it hears.
class TouchRecorder : public View {
 public:
  using View::View;
  std::vector<std::string> heard;
  void touchesBegan(const Touches& t) override { note("began", t); }
  void touchesMoved(const Touches& t) override { note("moved", t); }
  void touchesEnded(const Touches& t) override { note("ended", t); }
  void touchesCancelled(const Touches& t) override { note("cancelled", t); }

 private:
  void note(const char* what, const Touches& touches) {
    std::string line = what;
    for (const Touch* t : touches) {
      line += " " + std::to_string(t->id) + "@" + std::to_string(static_cast<int>(t->locationIn(this).x)) +
              "x" + std::to_string(t->tapCount);
    }
    heard.push_back(line);
  }
};

struct LifeCycle : ApplicationDelegate {
  std::vector<std::string> calls;
  void applicationDidFinishLaunching(Application&) override { calls.push_back("launch"); }
  void applicationWillResignActive(Application&) override { calls.push_back("resign"); }
  void applicationDidBecomeActive(Application&) override { calls.push_back("active"); }
  void applicationWillTerminate(Application&) override { calls.push_back("terminate"); }
};

}  // namespace

class HostTest : public UiTest {};

// A window that cannot be opened (here no such video driver; under a window
// system, one that refuses) is an error the program can tell the player,
// not a crash in the half-built host's teardown; a host can be made after.
// In a child process of its own, where SDL has not started yet.
TEST(HostDeathTest, AWindowThatCannotOpenIsAnErrorNotACrash) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
        HostOptions options;
        options.scale = 1;
        std::string error;
        const bool failed = Application::create(options, &error) == nullptr;
        std::fprintf(stderr, "%s\n", error.c_str());
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        const bool again = Application::create(options, &error) != nullptr;
        std::_Exit(failed && again ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "SDL video");
}

TEST_F(HostTest, ViewsAreCompositedWithTheirDrawnAlpha) {
  window().addSubview(filled(Rect(10, 10, 40, 40), Color{1, 0, 0, 1}));
  auto half = filled(Rect(100, 10, 40, 40), Color{0, 1, 0, 1});
  half->setAlpha(0.5);
  window().addSubview(half);
  auto parent = filled(Rect(200, 200, 60, 60), Color{0, 0, 1, 1});
  parent->addSubview(filled(Rect(10, 10, 20, 20), Color::white()));
  parent->setCenter({100, 300});
  window().addSubview(parent);
  const auto frame = ui().frame();
  ASSERT_EQ(frame.size(), 320u * 480 * 4);
  auto px = [&](int x, int y) { return Automation::pixel(frame, 320, x, y); };
  EXPECT_EQ(px(30, 30), (std::array<int, 4>{255, 0, 0, 255}));
  EXPECT_NEAR(px(120, 30)[1], 128, 3);
  EXPECT_EQ(px(5, 5)[0], 0);
  // The subview moves with its parent (now at 70..130 x 270..330).
  EXPECT_EQ(px(90, 290), (std::array<int, 4>{255, 255, 255, 255}));
  EXPECT_EQ(px(120, 320)[2], 255);
  EXPECT_EQ(px(230, 230)[2], 0);
  // The nested pair, cropped to 64 x 64.
  std::vector<std::uint8_t> crop;
  for (int y = 268; y < 332; y++) {
    for (int x = 68; x < 132; x++) {
      for (int v : px(x, y)) crop.push_back(static_cast<std::uint8_t>(v));
    }
  }
  EXPECT_TRUE(gltest::matchesGolden("host_nested", crop, 64, 64));
}

TEST_F(HostTest, AnimationsShowInTheFrame) {
  auto v = filled(Rect(0, 0, 40, 40), Color::white());
  window().addSubview(v);
  Animator::shared().beginAnimations("move");
  Animator::shared().setAnimationDuration(1);
  Animator::shared().setAnimationCurve(AnimationCurve::Linear);
  v->setCenter({220, 20});
  Animator::shared().commitAnimations();
  EXPECT_EQ(probe(10, 20)[0], 255);
  ui().advance(0.5);
  EXPECT_EQ(probe(10, 20)[0], 0);
  EXPECT_EQ(probe(120, 20)[0], 255);
  ui().advance(0.6);
  EXPECT_EQ(probe(220, 20)[0], 255);
}

TEST_F(HostTest, TwoScalesGiveTheSamePicture) {
  makeHost(2);
  window().addSubview(filled(Rect(10, 10, 40, 40), Color{1, 0, 0, 1}));
  EXPECT_EQ(ui().frame().size(), 640u * 960 * 4);
  const auto small = ui().frameAt1x();
  EXPECT_EQ(Automation::pixel(small, 320, 30, 30), (std::array<int, 4>{255, 0, 0, 255}));
  EXPECT_EQ(Automation::pixel(small, 320, 60, 30)[0], 0);
}

TEST_F(HostTest, TouchesStayWithTheViewTheyBeganIn) {
  auto left = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
  auto right = std::make_shared<TouchRecorder>(Rect(200, 0, 100, 100));
  window().addSubview(left);
  window().addSubview(right);
  // Two fingers in one event, then the first moves over the other view.
  ui().touch({{1, TouchPhase::Began, {10, 10}, 1}, {2, TouchPhase::Began, {210, 10}, 1}});
  ui().touch({{1, TouchPhase::Moved, {250, 10}, 1}});
  ui().touch({{1, TouchPhase::Ended, {250, 10}, 1}, {2, TouchPhase::Cancelled, {210, 10}, 1}});
  EXPECT_EQ(left->heard, (std::vector<std::string>{"began 1@10x1", "moved 1@250x1", "ended 1@250x1"}));
  EXPECT_EQ(right->heard, (std::vector<std::string>{"began 2@10x1", "cancelled 2@10x1"}));
  EXPECT_EQ(app_->activeTouches(), 0u);
  // A second finger on a view without multiple touch is not its.
  left->heard.clear();
  ui().touch({{1, TouchPhase::Began, {10, 10}, 1}, {2, TouchPhase::Began, {20, 20}, 1}});
  EXPECT_EQ(left->heard, (std::vector<std::string>{"began 1@10x1"}));
  left->setMultipleTouchEnabled(true);
  ui().touch({{3, TouchPhase::Began, {30, 30}, 1}});
  EXPECT_EQ(left->heard.back(), "began 3@30x1");
  app_->cancelAllTouches();
  EXPECT_EQ(app_->activeTouches(), 0u);
}

TEST_F(HostTest, MousePressesCountTaps) {
  struct Press {
    double t;
    Point p;
    int count;
  };
  const Press presses[] = {{0.0, {50, 50}, 1},  {0.2, {55, 55}, 2},  {0.4, {55, 55}, 3},
                           {1.0, {55, 55}, 1},  {1.3, {80, 55}, 1},  {1.5, {80, 56}, 2}};
  for (const Press& p : presses) EXPECT_EQ(app_->tapCountForPress(p.p, p.t), p.count) << p.t;
}

TEST_F(HostTest, MouseEventsAreOneTouch) {
  auto target = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
  window().addSubview(target);
  auto send = [&](Uint32 type, int x, int y) {
    SDL_Event e{};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
      e.motion.x = x;
      e.motion.y = y;
    } else {
      e.button.button = SDL_BUTTON_LEFT;
      e.button.x = x;
      e.button.y = y;
    }
    app_->handleEvent(&e);
  };
  send(SDL_MOUSEBUTTONDOWN, 40, 40);
  send(SDL_MOUSEMOTION, 60, 40);
  send(SDL_MOUSEBUTTONUP, 60, 40);
  send(SDL_MOUSEBUTTONDOWN, 45, 41);  // within 10 points of the last press
  SDL_Event leave{};
  leave.type = SDL_WINDOWEVENT;
  leave.window.event = SDL_WINDOWEVENT_LEAVE;
  app_->handleEvent(&leave);
  EXPECT_EQ(target->heard, (std::vector<std::string>{"began 1@40x1", "moved 1@60x1", "ended 1@60x1",
                                                     "began 1@45x2", "cancelled 1@45x2"}));
}

TEST_F(HostTest, TheContentIsLetterboxedAndAnEmptyWindowTakesNoInput) {
  struct Case {
    double x, y;
    int ww, wh, dw, dh;
    std::optional<Point> expected;
  };
  const Case cases[] = {
      {10, 20, 320, 480, 320, 480, Point{10, 20}},
      {10, 20, 320, 480, 640, 960, Point{10, 20}},     // two pixels per window unit
      {160, 0, 640, 480, 640, 480, Point{0, 0}},       // bars left and right
      {100, 10, 640, 480, 640, 480, std::nullopt},     // on the bar
      {20, 250, 320, 960, 320, 960, Point{20, 10}},    // bars above and below
      {10, 10, 0, 0, 0, 0, std::nullopt},              // minimised
      {10, 10, 320, 480, 0, 480, std::nullopt},
      {10, 10, 320, 0, 320, 480, std::nullopt},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(Application::letterboxToPoints(k.x, k.y, k.ww, k.wh, k.dw, k.dh), k.expected)
        << k.x << "," << k.y << " in " << k.ww << "x" << k.wh;
  }
  // As made: one window unit per point; a resized window still draws the
  // whole content.
  EXPECT_EQ(app_->windowToPoints(10, 20), (std::optional<Point>(Point{10, 20})));
  SDL_SetWindowSize(static_cast<SDL_Window*>(app_->glHost()->sdlWindow()), 640, 480);
  window().addSubview(filled(Rect(0, 0, 320, 480), Color::white()));
  const auto frame = ui().frame();
  ASSERT_EQ(frame.size(), 320u * 480 * 4);
  EXPECT_EQ(Automation::pixel(frame, 320, 5, 5), (std::array<int, 4>{255, 255, 255, 255}));
}

// The window opens at the largest scale (a quarter step) that fits the
// display's usable area, and mouse positions still land on their points.
TEST_F(HostTest, TheWindowFitsTheDisplay) {
  struct Case {
    double largest, width, height, scale;
  };
  const Case cases[] = {
      {2, 1920, 1080, 2},      // roomy: as asked
      {3, 1920, 1200, 2.5},    // 1200 / 480
      {2, 1024, 768, 1.5},     // 768 / 480 = 1.6, down to a quarter step
      {2, 1024, 740, 1.5},     // a panel takes 28
      {2, 800, 600, 1.25},
      {2, 320, 480, 1},
      {2, 300, 400, 1},        // smaller than the content: 1 at least
      {2, 0, 0, 2},            // unknown: as asked
      {1.5, 3000, 3000, 1.5},  // never above what was asked
  };
  for (const Case& k : cases) {
    EXPECT_EQ(Application::fittingScale(k.largest, k.width, k.height), k.scale)
        << k.width << "x" << k.height;
  }

  automation_.reset();
  app_.reset();
  unsetenv("FLUVANE_SCALE");
  HostOptions options;
  options.testing = true;
  options.displayWidth = 1024;
  options.displayHeight = 768;
  std::string error;
  app_ = Application::create(options, &error);
  ASSERT_TRUE(app_) << error;
  automation_ = std::make_unique<Automation>(*app_);
  EXPECT_EQ(app_->scale(), 1.5);
  auto* sdlWindow = static_cast<SDL_Window*>(app_->glHost()->sdlWindow());
  int w = 0, h = 0;
  SDL_GetWindowSize(sdlWindow, &w, &h);
  EXPECT_EQ(w, 480);
  EXPECT_EQ(h, 720);
  // A press at (120, 600) of the window is the point (80, 400).
  auto recorder = std::make_shared<TouchRecorder>(Rect(60, 380, 40, 40));
  window().addSubview(recorder);
  EXPECT_EQ(app_->windowToPoints(120, 600), (std::optional<Point>(Point{80, 400})));
  SDL_Event press{};
  press.type = SDL_MOUSEBUTTONDOWN;
  press.button.button = SDL_BUTTON_LEFT;
  press.button.x = 120;
  press.button.y = 600;
  app_->handleEvent(&press);
  ASSERT_EQ(recorder->heard.size(), 1u);
  EXPECT_EQ(recorder->heard[0], "began 1@20x1");
  // The frame is drawn at that scale.
  EXPECT_EQ(ui().frame().size(), 480u * 720 * 4);
  // A scale the caller gives is taken as it is.
  automation_.reset();
  app_.reset();
  options.scale = 2;
  app_ = Application::create(options, &error);
  ASSERT_TRUE(app_) << error;
  EXPECT_EQ(app_->scale(), 2);
}

TEST_F(HostTest, FocusAndCloseReachTheDelegate) {
  LifeCycle life;
  app_->setDelegate(&life);
  app_->launch();
  app_->launch();
  auto send = [&](Uint8 what) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    app_->handleEvent(&e);
  };
  send(SDL_WINDOWEVENT_FOCUS_LOST);
  send(SDL_WINDOWEVENT_MINIMIZED);
  send(SDL_WINDOWEVENT_RESTORED);
  send(SDL_WINDOWEVENT_CLOSE);
  EXPECT_EQ(life.calls, (std::vector<std::string>{"launch", "resign", "active", "terminate"}));
  app_->terminate();
  EXPECT_EQ(life.calls.size(), 4u);
  app_->setDelegate(nullptr);
}

TEST_F(HostTest, RunWakesForPostsAndReturnsAfterTheTerminationSteps) {
  LifeCycle life;
  app_->setDelegate(&life);
  std::atomic<bool> served{false};
  std::thread other([&] {
    platform::RunLoop::main().post([&] {
      served = true;
      app_->terminate();
    });
  });
  EXPECT_EQ(app_->run(), 0);
  other.join();
  EXPECT_TRUE(served);
  EXPECT_EQ(life.calls, (std::vector<std::string>{"launch", "terminate"}));
  app_->setDelegate(nullptr);
}

TEST_F(HostTest, TimersOfTheMainLoopRunOnTheTestClock) {
  int fired = 0;
  platform::RunLoop::main().addTimer(1.0, false, [&] { fired++; });
  ui().advance(0.9);
  EXPECT_EQ(fired, 0);
  ui().advance(0.2);
  EXPECT_EQ(fired, 1);
}

TEST_F(HostTest, ButtonsSendTheirActions) {
  auto button = std::make_shared<Button>(Rect(10, 10, 100, 40));
  button->setTitle("Press");
  std::vector<std::string> events;
  button->addTarget([&](Control&) { events.push_back("down"); }, kTouchDown);
  button->addTarget([&](Control&) { events.push_back("up inside"); }, kTouchUpInside);
  button->addTarget([&](Control&) { events.push_back("up outside"); }, kTouchUpOutside);
  window().addSubview(button);
  ui().tap(50, 30);
  ui().drag({50, 30}, {300, 300});
  EXPECT_EQ(events, (std::vector<std::string>{"down", "up inside", "down", "up outside"}));
  button->setEnabled(false);
  ui().tap(50, 30);
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(button->currentTitle(), "Press");
}

TEST_F(HostTest, LabelTextIsInkInsideItsBox) {
  auto label = std::make_shared<Label>(Rect(20, 100, 200, 60));
  label->setText("Wrapped words over two lines at least");
  label->setNumberOfLines(0);
  label->setFont(Font::systemFont(16));
  label->setTextColor(Color::white());
  window().addSubview(label);
  const auto frame = ui().frame();
  long inside = 0, outside = 0;
  for (int y = 0; y < 480; y++) {
    for (int x = 0; x < 320; x++) {
      const int v = Automation::pixel(frame, 320, x, y)[0];
      if (x >= 20 && x < 220 && y >= 100 && y < 160) {
        inside += v;
      } else {
        outside += v;
      }
    }
  }
  EXPECT_GT(inside, 255 * 100);
  EXPECT_EQ(outside, 0);
  // Two lines: ink in the upper and in the lower half.
  long upper = 0, lower = 0;
  for (int x = 20; x < 220; x++) {
    for (int y = 100; y < 130; y++) upper += Automation::pixel(frame, 320, x, y)[0];
    for (int y = 130; y < 160; y++) lower += Automation::pixel(frame, 320, x, y)[0];
  }
  EXPECT_GT(upper, 0);
  EXPECT_GT(lower, 0);
}

// A button's title keeps to the room its insets leave (an image's arrow,
// say), drawn smaller when it is too wide for it.
TEST_F(HostTest, AButtonsTitleKeepsToItsRoom) {
  auto button = std::make_shared<Button>(Rect(20, 100, 160, 40));
  button->setTitle(std::string("A rather wide title"));
  button->setTitleColor(Color::white());
  button->setTitleInsets(0, 40);
  button->setShrinksTitleToFit(true);
  window().addSubview(button);
  EXPECT_EQ(button->titleRoom(), Rect(0, 0, 120, 40));
  EXPECT_LT(button->titleFont(1).pointSize(), button->font().pointSize());
  EXPECT_GE(button->titleFont(1).pointSize(),
            button->font().pointSize() * Button::kSmallestTitleShare);
  const auto frame = ui().frame();
  long inside = 0, beyond = 0;
  for (int y = 100; y < 140; y++) {
    for (int x = 0; x < 320; x++) {
      const int v = Automation::pixel(frame, 320, x, y)[0];
      (x >= 20 && x < 140 ? inside : beyond) += v;
    }
  }
  EXPECT_GT(inside, 255 * 20);
  EXPECT_EQ(beyond, 0);
  // Without shrinking, the same title runs past the room.
  button->setShrinksTitleToFit(false);
  EXPECT_EQ(button->titleFont(1), button->font());
}

TEST_F(HostTest, TextFieldsTakeTypingWhileEditing) {
  auto field = std::make_shared<TextField>(Rect(10, 10, 200, 30));
  window().addSubview(field);
  int returns = 0;
  field->onReturn = [&](TextField&) { returns++; };
  ui().typeText("ignored");
  EXPECT_EQ(field->text(), "");
  ui().tap(50, 20);
  EXPECT_TRUE(field->isFirstResponder());
  ui().typeText("pa\x01ss\xC3\xA9");
  ui().backspace();
  EXPECT_EQ(field->text(), "pass");
  field->setSecureTextEntry(true);
  EXPECT_EQ(field->displayText(), "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
  EXPECT_EQ(ui().viewTree().find("pass"), std::string::npos);
  ui().enter();
  EXPECT_EQ(returns, 1);
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(HostTest, TextViewsScrollWhenDragged) {
  auto text = std::make_shared<TextView>(Rect(0, 0, 200, 100));
  std::string body;
  for (int i = 0; i < 30; i++) body += "line " + std::to_string(i) + "\n";
  text->setText(body);
  window().addSubview(text);
  EXPECT_GT(text->contentHeight(), 300);
  ui().drag({100, 90}, {100, 40});
  EXPECT_NEAR(text->contentOffset(), 50, 1e-9);
  ui().drag({100, 10}, {100, 90});
  EXPECT_EQ(text->contentOffset(), 0);
  text->setContentOffset(1e9);
  EXPECT_NEAR(text->contentOffset(), text->contentHeight() - 100, 1e-9);
}

TEST_F(HostTest, ToolbarItemsActWhenTapped) {
  auto bar = std::make_shared<Toolbar>(Rect(0, 436, 320, 44));
  std::vector<int> pressed;
  auto act = [&](BarItem& item) { pressed.push_back(item.tag()); };
  bar->setItems({std::make_shared<BarItem>("A", 1, act), std::make_shared<BarItem>("B", 2, act),
                 std::make_shared<BarItem>("C", 3, act), std::make_shared<BarItem>("D", 4, act)});
  window().addSubview(bar);
  EXPECT_EQ(bar->itemRect(1), Rect(80, 0, 80, 44));
  ui().tap(120, 450);
  bar->items()[2]->setEnabled(false);
  ui().tap(200, 450);
  ui().drag({10, 450}, {300, 450});  // began on A, ended on D: nothing
  EXPECT_EQ(pressed, (std::vector<int>{2}));
  EXPECT_NE(ui().viewTree().find("'1:A|2:B|3:C(off)|4:D'"), std::string::npos);
}

TEST_F(HostTest, AlertButtonNumbering) {
  struct Case {
    AlertStyle style;
    std::optional<std::string> cancel;
    std::vector<std::string> others;
    std::vector<std::string> byIndex;
    int cancelIndex;
  };
  const Case cases[] = {
      {AlertStyle::Alert, "Cancel", {"A", "B"}, {"Cancel", "A", "B"}, 0},
      {AlertStyle::Alert, std::nullopt, {"A", "B"}, {"A", "B"}, -1},
      {AlertStyle::Alert, "OK", {}, {"OK"}, 0},
      {AlertStyle::ActionSheet, "Cancel", {"A", "B"}, {"A", "B", "Cancel"}, 2},
      {AlertStyle::ActionSheet, "Cancel", {}, {"Cancel"}, 0},
      {AlertStyle::ActionSheet, std::nullopt, {"A"}, {"A"}, -1},
  };
  for (const Case& k : cases) {
    AlertView alert(k.style, "T", "M", k.cancel, k.others, nullptr);
    EXPECT_EQ(alert.buttonTitles(), k.byIndex);
    EXPECT_EQ(alert.cancelButtonIndex(), k.cancelIndex);
  }
}

// Every line of an alert's title and message is drawn at each scale a
// window may have (a label leaves out the lines its height cannot hold):
// at 1.5, the scale of a 1024 x 768 screen, a message's last line was lost.
TEST_F(HostTest, AnAlertShowsAllItsTextAtEveryScale) {
  const std::string message = "A message from the development service.";
  for (double scale : {1.0, 1.5, 1.6, 2.0, 2.5, 3.0}) {
    makeHost(scale);
    auto alert = std::make_shared<AlertView>(AlertStyle::Alert, "Hello", message, "Later",
                                             std::vector<std::string>{"Open"}, nullptr);
    ASSERT_EQ(alert->subviews().size(), 1u);
    int labels = 0;
    for (const auto& part : alert->subviews()[0]->subviews()) {
      const auto* label = dynamic_cast<const Label*>(part.get());
      if (!label) continue;
      labels++;
      const double width = label->bounds().width();
      const std::size_t lines = label->font().wrap(label->text(), width, scale).size();
      // The label draws as many whole lines as its height holds, one at least.
      const auto room = std::max<std::size_t>(
          1, static_cast<std::size_t>(label->bounds().height() / label->font().lineHeight(scale)));
      EXPECT_GE(room, lines) << label->text() << " at " << scale;
    }
    EXPECT_EQ(labels, 2) << scale;
  }
}

TEST_F(HostTest, AlertsAreModalAndAnsweredByTapAndKeys) {
  std::vector<int> touched;
  auto button = std::make_shared<Button>(Rect(0, 0, 320, 480));
  button->addTarget([&](Control&) { touched.push_back(1); }, kTouchUpInside);
  window().addSubview(button);
  std::vector<int> answers;
  auto record = [&](int i) { answers.push_back(i); };
  auto alert = std::make_shared<AlertView>(AlertStyle::Alert, "Title", "Message", "Cancel",
                                           std::vector<std::string>{"Yes", "No"}, record);
  alert->show();
  ASSERT_EQ(ui().alerts().size(), 1u);
  EXPECT_EQ(ui().alerts()[0].buttons, (std::vector<std::string>{"Cancel", "Yes", "No"}));
  ui().tap(5, 5);  // on the backdrop: swallowed
  EXPECT_TRUE(touched.empty());
  ui().enter();  // Return: the first other button
  EXPECT_EQ(answers, (std::vector<int>{1}));
  EXPECT_TRUE(ui().alerts().empty());
  // Escape: cancel (the sheet's is last); a sheet's button by tap.
  auto sheet = std::make_shared<AlertView>(AlertStyle::ActionSheet, "Sheet", "", "Cancel",
                                           std::vector<std::string>{"One"}, record);
  sheet->show();
  ui().escape();
  sheet = std::make_shared<AlertView>(AlertStyle::ActionSheet, "Sheet", "", "Cancel",
                                      std::vector<std::string>{"One"}, record);
  sheet->show();
  View* one = sheet->button(0);
  ASSERT_NE(one, nullptr);
  const Point p = one->convertTo({10, 10}, nullptr);
  ui().tap(p.x, p.y);
  EXPECT_EQ(answers, (std::vector<int>{1, 1, 0}));
  EXPECT_FALSE(sheet->dismissWithButton(0));  // once only
  // Escape on an alert without cancel does nothing.
  auto plain = std::make_shared<AlertView>(AlertStyle::Alert, "Plain", "", std::nullopt,
                                           std::vector<std::string>{"Go"}, record);
  plain->show();
  ui().escape();
  EXPECT_EQ(ui().alerts().size(), 1u);
  EXPECT_TRUE(ui().answer(0));
  EXPECT_EQ(answers.back(), 0);
  ui().tap(5, 5);
  EXPECT_EQ(touched.size(), 1u);
}

TEST_F(HostTest, ThePlatformsAlertsAreTheKits) {
  int answer = -1;
  platform::Alert alert{"Allow?", "Where you are", std::string("Don't Allow"), {"OK"}};
  platform::AlertPresenter::installed()->present(alert, [&](int i) { answer = i; });
  ASSERT_EQ(ui().alerts().size(), 1u);
  EXPECT_EQ(ui().alerts()[0].title, "Allow?");
  EXPECT_TRUE(ui().answer(1));
  EXPECT_EQ(answer, 1);
}

TEST_F(HostTest, TheDumpShowsAlerts) {
  window().addSubview(filled(Rect(0, 0, 10, 10), Color::white(), 3));
  auto alert = std::make_shared<AlertView>(AlertStyle::Alert, "Hi", "", "OK",
                                           std::vector<std::string>{}, nullptr);
  alert->show();
  const std::string tree = ui().viewTree();
  EXPECT_EQ(tree.substr(0, tree.find('\n', tree.find('\n') + 1) + 1),
            "Window tag=0 (0,0,320,480) alpha=1\n"
            "  View tag=3 (0,0,10,10) alpha=1\n");
  EXPECT_NE(tree.find("  AlertView tag=0 (0,0,320,480) alpha=1 'Hi'\n"), std::string::npos);
  EXPECT_NE(tree.find("AlertButton tag=0"), std::string::npos);
}
