// The desktop's input stand-ins driving the instrument screen the way a
// player does: mouse, right-click latches, the hole keys, Space, arrows and
// the joystick, through a testing host (no window) into EAGLView, whose
// covered holes reach a recording bridge.
#include <gtest/gtest.h>

#include <SDL.h>

#include <memory>
#include <string>
#include <vector>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneHostInput.h"
#include "platform/ui/Application.h"
#include "platform/ui/Automation.h"

using platform::ui::Application;
using platform::ui::Point;

namespace {

struct Bridge : FluvaneGfxBridge {
  std::vector<int> states, modes;
  float rate = -1, depth = -1;
  void setState(int mask) override { states.push_back(mask); }
  void setVibratoRate(float r) override { rate = r; }
  void setVibratoDepth(float d) override { depth = d; }
  void setFluvaneMode(int mode) override { modes.push_back(mode); }
};

struct Handler : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
};

class FluvaneHostInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FluvaneGfx::reset();
    platform::ui::HostOptions options;
    options.testing = true;
    options.compositing = false;
    std::string error;
    app_ = Application::create(options, &error);
    ASSERT_TRUE(app_) << error;
    view_ = std::make_shared<EAGLView>();
    app_->window().addSubview(view_);
    view_->msgDelegate = &handler_;
    view_->setChipBridge(&bridge_);
    FluvaneGfx::setChipBridge(&bridge_);
    input_ = std::make_unique<FluvaneHostInput>(
        [this](const std::vector<platform::ui::TouchInput>& set) { app_->dispatchTouches(set); },
        [this](double level) { breath_.push_back(level); });
  }
  void TearDown() override {
    input_.reset();
    view_.reset();
    app_.reset();
    FluvaneGfx::reset();
  }
  // Points of the screen, y down from the top, on each hole of layout 0.
  static constexpr Point kLeftLower{80, 400}, kLeftUpper{80, 100};
  static constexpr Point kRightLower{240, 400}, kRightUpper{240, 100};

  std::unique_ptr<Application> app_;
  std::shared_ptr<EAGLView> view_;
  Bridge bridge_;
  Handler handler_;
  std::unique_ptr<FluvaneHostInput> input_;
  std::vector<double> breath_;
};

TEST_F(FluvaneHostInputTest, KeysHoldHolesAlongsideTheMouse) {
  using Key = FluvaneHostInput::Key;
  input_->key(Key::D, true);             // hole 0
  input_->mouseDown(kRightUpper);        // hole 3
  input_->key(Key::E, true);             // hole 1
  input_->key(Key::E, true);             // held: nothing new
  input_->mouseUp(kRightUpper);
  input_->key(Key::K, true);             // hole 2
  input_->key(Key::I, true);             // hole 3
  input_->key(Key::D, false);
  input_->key(Key::E, false);
  input_->key(Key::K, false);
  input_->key(Key::I, false);
  EXPECT_EQ(bridge_.states, (std::vector<int>{1, 9, 11, 3, 7, 15, 14, 12, 8, 0}));
  EXPECT_TRUE(input_->fingers().empty());
}

TEST_F(FluvaneHostInputTest, ADragAcrossTheHalvesMovesTheFinger) {
  input_->mouseDown(kLeftLower);
  input_->mouseMove({100, 390});         // the same hole: nothing
  input_->mouseMove(kRightLower);        // off hole 0 and on hole 2 in one event
  input_->mouseMove(kRightUpper);
  input_->mouseUp(kRightUpper);
  EXPECT_EQ(bridge_.states, (std::vector<int>{1, 0, 4, 0, 8, 0}));
  // One began, so one collapse of the toolbar.
  int collapses = 0;
  for (int c : handler_.codes) collapses += c == 103;
  EXPECT_EQ(collapses, 1);
}

TEST_F(FluvaneHostInputTest, RightClickLatchesAndFreesTheHoleUnderIt) {
  input_->rightClick({30, 150});          // left upper: latched at its centre
  input_->mouseDown(kLeftUpper);          // a second finger on the same hole
  input_->mouseUp(kLeftUpper);
  input_->rightClick(kRightLower);
  input_->rightClick({10, 10});           // left upper again: freed
  EXPECT_EQ(bridge_.states, (std::vector<int>{2, 6, 4}));
  ASSERT_EQ(input_->fingers().size(), 1u);
  const Point centre = input_->fingers().begin()->second;
  EXPECT_EQ(FluvaneHostInput::holeAt(centre), 2);
  // Focus lost cancels keys and the mouse, not latches.
  input_->key(FluvaneHostInput::Key::E, true);
  input_->mouseDown(kRightUpper);
  input_->focusLost();
  EXPECT_EQ(FluvaneGfx::state(), 4);
  EXPECT_EQ(input_->fingers().size(), 1u);
}

TEST_F(FluvaneHostInputTest, HoleCentresLieOnTheirHolesInBothLayouts) {
  for (int layout : {0, 1}) {
    FluvaneGfx::setLayoutMode(layout);
    for (int hole = 0; hole < 4; hole++) {
      EXPECT_EQ(FluvaneHostInput::holeAt(FluvaneHostInput::holeCentre(hole)), hole)
          << "layout " << layout;
    }
  }
  FluvaneGfx::fluvaneGFXsetTouchMode(true);
  EXPECT_EQ(FluvaneHostInput::holeAt(FluvaneHostInput::holeCentre(4)), 4);
}

TEST_F(FluvaneHostInputTest, PlaybackIgnoresFingers) {
  view_->setPlayback(true);
  input_->key(FluvaneHostInput::Key::D, true);
  input_->mouseDown(kRightLower);
  EXPECT_TRUE(bridge_.states.empty());
  EXPECT_EQ(FluvaneGfx::state(), 0);
}

TEST_F(FluvaneHostInputTest, SpaceBreathesAndArrowsTilt) {
  using Key = FluvaneHostInput::Key;
  input_->key(Key::Space, true);
  input_->key(Key::Space, false);
  EXPECT_EQ(breath_, (std::vector<double>{FluvaneHostInput::kSpaceBreath, 0.0}));

  struct Case {
    std::vector<Key> keys;
    float axisX, axisY;
    float x, y;
  };
  const Case cases[] = {
      {{}, 0, 0, 0, -1},                    // upright: no vibrato depth
      {{Key::Left}, 0, 0, -1.2f, -1},       {{Key::Right}, 0, 0, 1.2f, -1},
      {{Key::Left, Key::Right}, 0, 0, 0, -1},
      {{Key::Up}, 0, 0, 0, 0.7f},           {{Key::Right, Key::Up}, 0, 0, 1.2f, 0.7f},
      {{Key::Down}, 0, 0, 0, -1},           {{}, 0.5f, 0, 0.6f, -1},
      {{}, -1, -1, -1.2f, 0.7f},            {{}, 0, 1, 0, -1},
  };
  for (const Case& c : cases) {
    FluvaneHostInput in({});
    for (Key k : c.keys) in.key(k, true);
    in.joystickAxis(0, c.axisX);
    in.joystickAxis(1, c.axisY);
    const FluvaneHostInput::Tilt t = in.tilt();
    EXPECT_FLOAT_EQ(t.x, c.x);
    EXPECT_FLOAT_EQ(t.y, c.y);
    EXPECT_FLOAT_EQ(t.z, 0);
  }
}

TEST_F(FluvaneHostInputTest, TheFrameTimerSmoothsTheTiltIntoVibrato) {
  FluvaneHostInput in({});
  in.key(FluvaneHostInput::Key::Left, true);
  view_->setAccelerometerSource([&in] {
    const FluvaneHostInput::Tilt t = in.tilt();
    return std::array<float, 3>{t.x, t.y, t.z};
  });
  view_->startAnimation();
  platform::ui::Automation automation(*app_);
  automation.advance(1.0 / 30 + 0.005);
  // One sample: a quarter of the way from rest.
  EXPECT_FLOAT_EQ(view_->smoothedAcceleration()[0], 0.25f * -1.2f);
  EXPECT_FLOAT_EQ(view_->smoothedAcceleration()[1], 0.25f * -1.0f);
  automation.advance(3.0);
  EXPECT_NEAR(bridge_.rate, 2.0, 1e-3);
  EXPECT_FLOAT_EQ(bridge_.depth, 0);
  view_->stopAnimation();
}

TEST_F(FluvaneHostInputTest, SdlEventsMapToFingersKeysAndQuit) {
  auto send = [this](SDL_Event e) { return input_->handleEvent(&e, *app_); };
  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.keysym.sym = SDLK_k;
  EXPECT_TRUE(send(key));
  key.key.repeat = 1;
  EXPECT_TRUE(send(key));  // a repeat changes nothing
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.button = SDL_BUTTON_RIGHT;
  click.button.x = 80;
  click.button.y = 100;
  EXPECT_TRUE(send(click));
  key.type = SDL_KEYUP;
  key.key.repeat = 0;
  EXPECT_TRUE(send(key));
  EXPECT_EQ(bridge_.states, (std::vector<int>{4, 6, 2}));
  SDL_Event other{};
  other.type = SDL_KEYDOWN;
  other.key.keysym.sym = SDLK_q;
  EXPECT_FALSE(send(other));  // not ours: the kit hears it
  EXPECT_FALSE(app_->terminated());
  other.key.keysym.sym = SDLK_ESCAPE;
  EXPECT_TRUE(send(other));
  EXPECT_TRUE(app_->terminated());
}

TEST(FluvaneHostLetterbox, WindowPointsMapIntoThePortraitScreen) {
  struct Case {
    double x, y;
    int ww, wh, dw, dh;
    bool inside;
    double px, py;
  };
  const Case cases[] = {
      {160, 240, 320, 480, 640, 960, true, 160, 240},  // scale 2, no bars
      {500, 450, 1000, 900, 1000, 900, true, 160, 240},  // bars left and right
      {199, 450, 1000, 900, 1000, 900, false, 0, 0},     // on the left bar
      {200, 0, 1000, 900, 1000, 900, true, 0, 0},
      {10, 10, 0, 0, 0, 0, false, 0, 0},                 // minimised: no size
      {10, 10, 320, 480, 0, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    auto p = Application::letterboxToPoints(c.x, c.y, c.ww, c.wh, c.dw, c.dh);
    ASSERT_EQ(p.has_value(), c.inside) << c.x << "," << c.y << " in " << c.ww << "x" << c.wh;
    if (p) {
      EXPECT_NEAR(p->x, c.px, 1e-9);
      EXPECT_NEAR(p->y, c.py, 1e-9);
    }
  }
}

}  // namespace
