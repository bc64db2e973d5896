// The desktop input through a real window of the host (SDL's offscreen
// driver): window positions go through the letterbox to the screen's points
// and onto the holes; positions on the bars make no touch.
#include <gtest/gtest.h>

#include <SDL.h>

#include <memory>
#include <string>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneHostInput.h"
#include "platform/gfx/GLHost.h"
#include "platform/ui/Application.h"

using platform::ui::Application;

namespace {

TEST(FluvaneHostWindow, MousePositionsGoThroughTheLetterboxOntoTheHoles) {
  FluvaneGfx::reset();
  platform::ui::HostOptions options;
  options.testing = true;
  options.scale = 2;
  std::string error;
  std::unique_ptr<Application> app = Application::create(options, &error);
  ASSERT_TRUE(app) << error;
  auto view = std::make_shared<EAGLView>();
  app->window().addSubview(view);
  FluvaneHostInput input([&](const std::vector<platform::ui::TouchInput>& set) {
    app->dispatchTouches(set);
  });
  app->setEventFilter([&](const void* e) { return input.handleEvent(e, *app); });
  auto click = [&](Uint32 type, int x, int y) {
    SDL_Event e{};
    e.type = type;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
    app->handleEvent(&e);
  };
  // 640 x 960 pixels for 320 x 480 points: (160, 800) is (80, 400), hole 0.
  click(SDL_MOUSEBUTTONDOWN, 160, 800);
  EXPECT_EQ(FluvaneGfx::state(), 1);
  click(SDL_MOUSEBUTTONUP, 160, 800);
  EXPECT_EQ(FluvaneGfx::state(), 0);

  // A wider window: the content keeps its shape between black bars.
  auto* window = static_cast<SDL_Window*>(app->glHost()->sdlWindow());
  SDL_SetWindowSize(window, 1280, 960);
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  ASSERT_EQ(w, 1280) << "the offscreen driver keeps the size asked for";
  {
    click(SDL_MOUSEBUTTONDOWN, 100, 800);  // on the left bar: nothing
    EXPECT_EQ(FluvaneGfx::state(), 0);
    EXPECT_TRUE(input.fingers().empty());
    click(SDL_MOUSEBUTTONDOWN, 320 + 480, 200);  // (240, 100): hole 3
    EXPECT_EQ(FluvaneGfx::state(), 8);
    click(SDL_MOUSEBUTTONUP, 320 + 480, 200);
  }
  EXPECT_EQ(FluvaneGfx::state(), 0);
  app->setEventFilter(nullptr);
  view.reset();
  app.reset();
  FluvaneGfx::reset();
}

}  // namespace
