#include "platform/ui/Application.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <tuple>
#include <utility>

#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/gfx/GLHost.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Compositor.h"

namespace platform::ui {

namespace {

Application* g_shared = nullptr;
// The testing hosts' clock (seconds); only ever moves forward.
std::atomic<double> g_testTime{0.0};
std::once_flag g_testClockInstalled;

// The root view: while an alert is shown only the topmost one is reached.
class Window : public View {
 public:
  using View::View;
  std::string className() const override { return "Window"; }
  View* hitTest(Point p) override {
    for (auto it = subviews().rbegin(); it != subviews().rend(); ++it) {
      if (auto* alert = dynamic_cast<AlertView*>(it->get()); alert && !alert->hidden()) {
        return alert->hitTest(alert->fromSuperview(p));
      }
    }
    return View::hitTest(p);
  }
};

// The scale asked for: FLUVANE_SCALE (1 to 3), else 2.
double askedScale() {
  if (const char* text = std::getenv("FLUVANE_SCALE")) {
    char* end = nullptr;
    const double s = std::strtod(text, &end);
    if (end != text && s >= 1 && s <= 3) return s;
  }
  return 2;
}

// The video driver has no display (SDL's offscreen and dummy drivers):
// nothing to fit, and no events from outside.
bool noDisplay() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return !driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

// The usable area of the display the window opens on, or none when the
// video driver has no real display or cannot tell.
std::optional<SDL_Rect> usableArea(const HostOptions& options) {
  if (options.displayWidth > 0 && options.displayHeight > 0) {
    return SDL_Rect{0, 0, options.displayWidth, options.displayHeight};
  }
  if (noDisplay()) return std::nullopt;
  SDL_Rect area{};
  if (SDL_GetDisplayUsableBounds(0, &area) != 0 || area.w <= 0 || area.h <= 0) {
    return std::nullopt;
  }
  return area;
}

}  // namespace

double Application::fittingScale(double largest, double width, double height) {
  if (!(width > 0) || !(height > 0)) return largest;
  double s = std::min({largest, width / kScreenWidth, height / kScreenHeight});
  s = std::floor(s * 4) / 4;
  return std::max(1.0, s);
}

std::unique_ptr<Application> Application::create(const HostOptions& options,
                                                 std::string* error) {
  if (g_shared) {
    if (error) *error = "a host exists already";
    return nullptr;
  }
  std::unique_ptr<Application> app(new Application());
  app->testing_ = options.testing;
  const bool given = options.scale >= 1 && options.scale <= 3;
  app->scale_ = given ? options.scale : askedScale();
  if (options.compositing) {
    // The display is asked before the window opens (SDL counts the video
    // subsystem's users: the window's host takes its own).
    std::optional<SDL_Rect> area;
    if (!given && SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
      area = usableArea(options);
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    if (area) app->scale_ = fittingScale(app->scale_, area->w, area->h);
    const auto pixels = [](double s) {
      return std::pair<int, int>(static_cast<int>(std::lround(kScreenWidth * s)),
                                 static_cast<int>(std::lround(kScreenHeight * s)));
    };
    auto [w, h] = pixels(app->scale_);
    app->gl_ = gfx::GLHost::openWindow(options.title, w, h, error);
    if (!app->gl_) return nullptr;
    // The window's frame, once the window system tells it, counts too.
    auto* window = static_cast<SDL_Window*>(app->gl_->sdlWindow());
    int top = 0, left = 0, bottom = 0, right = 0;
    if (area && SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) == 0) {
      const double framed =
          fittingScale(app->scale_, area->w - left - right, area->h - top - bottom);
      if (framed < app->scale_) {
        app->scale_ = framed;
        std::tie(w, h) = pixels(framed);
        SDL_SetWindowSize(window, w, h);
      }
    }
    app->compositor_ = std::make_unique<Compositor>();
    app->displayEvents_ = !noDisplay();
    SDL_DisableScreenSaver();
    app->wakeEvent_ = SDL_RegisterEvents(1);
  }
  if (app->testing_) {
    std::call_once(g_testClockInstalled, [] {
      g_testTime = Clock::monotonic();
      RunLoop::main().setTimeSourceForTesting([] { return g_testTime.load(); });
    });
  }
  Animator::shared().reset();
  Animator* animator = &Animator::shared();
  Application* raw = app.get();
  animator->setClock([raw] { return raw->now(); });
  app->window_ = std::make_shared<Window>(Rect(0, 0, kScreenWidth, kScreenHeight));
  app->previousPresenter_ = AlertPresenter::install(std::make_shared<KitAlertPresenter>());
  if (app->gl_) {
    const std::uint32_t wake = app->wakeEvent_;
    RunLoop::main().setWakeHook([wake] {
      SDL_Event event{};
      event.type = wake;
      SDL_PushEvent(&event);
    });
  }
  g_shared = app.get();
  View::markScreenChanged();
  return app;
}

Application* Application::shared() { return g_shared; }

Application::~Application() {
  // A host whose window could not be opened (create gave up there) set up
  // nothing else: the run loop's hook, the animations' clock and the alert
  // presenter are someone else's, and there are no views to take down.
  if (!window_) return;
  RunLoop::main().setWakeHook(nullptr);
  if (TextField* field = TextField::firstResponder()) field->resignFirstResponder();
  Animator::shared().reset();
  Animator::shared().setClock(nullptr);
  AlertPresenter::install(previousPresenter_);
  touches_.clear();
  if (gl_) gl_->makeCurrent();
  compositor_.reset();
  // The views go before the window system.
  while (!window_->subviews().empty()) window_->subviews().back()->removeFromSuperview();
  window_.reset();
  gl_.reset();
  g_shared = nullptr;
}

double Application::now() const { return testing_ ? g_testTime.load() : Clock::monotonic(); }

void Application::advanceClock(double seconds) {
  if (testing_ && seconds > 0) g_testTime = g_testTime.load() + seconds;
}

void Application::launch() {
  if (launched_) return;
  launched_ = true;
  if (delegate_) delegate_->applicationDidFinishLaunching(*this);
}

void Application::terminate() {
  quit_ = true;
  if (!terminated_) {
    terminated_ = true;
    if (delegate_) delegate_->applicationWillTerminate(*this);
  }
  wakeLoop();
}

void Application::wakeLoop() {
  if (!gl_ || !displayEvents_) {
    RunLoop::main().stop();
    return;
  }
  SDL_Event event{};
  event.type = wakeEvent_;
  SDL_PushEvent(&event);
}

void Application::setActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  if (!active) cancelAllTouches();
  if (!delegate_) return;
  if (active) {
    delegate_->applicationDidBecomeActive(*this);
  } else {
    delegate_->applicationWillResignActive(*this);
  }
}

void Application::showAlert(std::shared_ptr<AlertView> alert) {
  if (!alert || alert->answered()) return;
  cancelAllTouches();
  window_->addSubview(std::move(alert));
}

std::vector<AlertView*> Application::alerts() const {
  std::vector<AlertView*> shown;
  for (const auto& view : window_->subviews()) {
    if (auto* alert = dynamic_cast<AlertView*>(view.get())) shown.push_back(alert);
  }
  return shown;
}

AlertView* Application::topAlert() const {
  auto shown = alerts();
  return shown.empty() ? nullptr : shown.back();
}

void Application::step() {
  RunLoop::main().runUntilIdle();
  Animator::shared().tick(now());
  window_->layoutIfNeeded();
}

void Application::drawFrameContent() {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (glDrawer_) glDrawer_();
  compositor_->draw(*window_, scale_);
}

bool Application::render() {
  if (!gl_ || !compositor_) return false;
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(gl_->sdlWindow()), &dw, &dh);
  if (dw <= 0 || dh <= 0) return false;  // minimised: nothing to draw into
  gl_->makeCurrent();
  window_->layoutIfNeeded();
  // The whole drawable black, the content letterboxed in it.
  glViewport(0, 0, dw, dh);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  const double s = std::min(dw / kScreenWidth, dh / kScreenHeight);
  const int cw = static_cast<int>(std::lround(kScreenWidth * s));
  const int ch = static_cast<int>(std::lround(kScreenHeight * s));
  const int ox = (dw - cw) / 2, oy = (dh - ch) / 2;
  glViewport(ox, dh - oy - ch, cw, ch);
  glEnable(GL_SCISSOR_TEST);
  glScissor(ox, dh - oy - ch, cw, ch);
  drawFrameContent();
  glDisable(GL_SCISSOR_TEST);
  View::takeScreenChanged();
  lastFrame_ = now();
  return true;
}

std::vector<std::uint8_t> Application::frame() {
  if (!render()) return {};
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(gl_->sdlWindow()), &dw, &dh);
  const double s = std::min(dw / kScreenWidth, dh / kScreenHeight);
  const int cw = static_cast<int>(std::lround(kScreenWidth * s));
  const int ch = static_cast<int>(std::lround(kScreenHeight * s));
  const int ox = (dw - cw) / 2, oy = (dh - ch) / 2;
  return gfx::readPixelsTopDown(ox, dh - oy - ch, cw, ch);
}

double Application::secondsUntilFrameAllowed() const {
  if (lastFrame_ < 0) return 0;
  return std::max(0.0, lastFrame_ + kFrameInterval - kFrameSlack - now());
}

bool Application::drawIfNeeded() {
  const bool animating = Animator::shared().running();
  const bool due = continuous_ && (lastFrame_ < 0 || now() - lastFrame_ >= kFrameInterval);
  if (!View::takeScreenChanged() && !animating && !due) return false;
  if (secondsUntilFrameAllowed() > 0) {
    // Too soon after the last picture: the change waits for the next one.
    View::markScreenChanged();
    return false;
  }
  if (!render()) return false;
  gl_->present();
  framesPresented_++;
  return true;
}

int Application::run() {
  launch();
  while (!quit_) {
    step();
    if (quit_) break;
    const bool animating = Animator::shared().running();
    const bool drawn = drawIfNeeded();
    // Wait for input, a post, the next timer or the next frame.
    double wait = 1.0;
    const double timer = RunLoop::main().secondsUntilNextTimer();
    if (timer >= 0) wait = std::min(wait, timer);
    // A change or an animation waiting for its frame: until that frame.
    if (animating || (!drawn && View::takeScreenChanged())) {
      View::markScreenChanged();
      wait = std::min(wait, std::max(secondsUntilFrameAllowed(), 0.001));
    }
    if (continuous_) wait = std::min(wait, kFrameInterval);
    if (!gl_ || !displayEvents_) {
      // No window, or one without a display (SDL waits for such a window's
      // events by polling every millisecond): the run loop's own wait,
      // then whatever SDL holds (events pushed to it).
      RunLoop::main().runFor(std::max(wait, 0.001));
      SDL_Event event;
      while (gl_ && !quit_ && SDL_PollEvent(&event)) handleEvent(&event);
      continue;
    }
    SDL_Event event;
    const int ms = static_cast<int>(std::ceil(std::max(0.0, wait) * 1000));
    if (SDL_WaitEventTimeout(&event, ms)) {
      handleEvent(&event);
      while (!quit_ && SDL_PollEvent(&event)) handleEvent(&event);
    }
  }
  if (!terminated_) terminate();
  return 0;
}

std::optional<Point> Application::windowToPoints(double x, double y) const {
  if (!gl_) return Point{x, y};
  auto* window = static_cast<SDL_Window*>(gl_->sdlWindow());
  int ww = 0, wh = 0, dw = 0, dh = 0;
  SDL_GetWindowSize(window, &ww, &wh);
  SDL_GL_GetDrawableSize(window, &dw, &dh);
  return letterboxToPoints(x, y, ww, wh, dw, dh);
}

std::optional<Point> Application::letterboxToPoints(double x, double y, int ww, int wh, int dw,
                                                    int dh) {
  // A minimised window has no size: nothing to map onto (and no dividing by
  // it).
  if (ww <= 0 || wh <= 0 || dw <= 0 || dh <= 0) return std::nullopt;
  const double px = x * dw / ww, py = y * dh / wh;
  const double s = std::min(dw / kScreenWidth, dh / kScreenHeight);
  const double ox = (dw - kScreenWidth * s) / 2, oy = (dh - kScreenHeight * s) / 2;
  const Point p{(px - ox) / s, (py - oy) / s};
  if (p.x < 0 || p.y < 0 || p.x >= kScreenWidth || p.y >= kScreenHeight) return std::nullopt;
  return p;
}

int Application::tapCountForPress(Point p, double time) {
  if (lastPressTime_ >= 0 && time - lastPressTime_ <= kTapInterval &&
      std::hypot(p.x - lastPress_.x, p.y - lastPress_.y) <= kTapDistance) {
    lastTapCount_++;
  } else {
    lastTapCount_ = 1;
  }
  lastPressTime_ = time;
  lastPress_ = p;
  return lastTapCount_;
}

void Application::dispatchTouches(const std::vector<TouchInput>& inputs) {
  // Touches grouped by the view they belong to, in order of first mention.
  std::vector<std::pair<std::shared_ptr<View>, std::vector<int>>> groups;
  auto groupFor = [&](const std::shared_ptr<View>& view) -> std::vector<int>& {
    for (auto& g : groups) {
      if (g.first == view) return g.second;
    }
    groups.push_back({view, {}});
    return groups.back().second;
  };
  TouchPhase phase = TouchPhase::Began;
  const double time = now();
  for (const TouchInput& input : inputs) {
    phase = input.phase;
    if (input.phase == TouchPhase::Began) {
      if (touches_.count(input.id)) continue;  // that finger is down already
      View* hit = window_->hitTest(input.location);
      if (!hit) continue;
      std::shared_ptr<View> view = hit->weak_from_this().lock();
      if (!view) continue;
      bool refused = false;
      for (const auto& [id, t] : touches_) {
        std::shared_ptr<View> other = t.view.lock();
        if (!other) continue;
        if (other == view && !view->multipleTouchEnabled()) refused = true;
        if (other != view && (other->exclusiveTouch() || view->exclusiveTouch())) refused = true;
      }
      if (refused) continue;
      Touch touch;
      touch.id = input.id;
      touch.phase = TouchPhase::Began;
      touch.location = touch.previousLocation = input.location;
      touch.tapCount = input.tapCount;
      touch.timestamp = time;
      touch.view = view;
      touches_[input.id] = touch;
      groupFor(view).push_back(input.id);
    } else {
      auto found = touches_.find(input.id);
      if (found == touches_.end()) continue;
      Touch& touch = found->second;
      touch.previousLocation = touch.location;
      touch.location = input.location;
      touch.phase = input.phase;
      touch.timestamp = time;
      std::shared_ptr<View> view = touch.view.lock();
      if (!view) {
        touches_.erase(found);
        continue;
      }
      groupFor(view).push_back(input.id);
    }
  }
  // Each view hears its touches; ended and cancelled ones go afterwards.
  std::vector<Touch> finished;
  for (auto& [view, ids] : groups) {
    std::vector<Touch> copies;
    for (int id : ids) copies.push_back(touches_[id]);
    Touches list;
    for (const Touch& t : copies) list.push_back(&t);
    const TouchPhase p = copies.front().phase;
    switch (p) {
      case TouchPhase::Began:
        view->touchesBegan(list);
        break;
      case TouchPhase::Moved:
      case TouchPhase::Stationary:
        view->touchesMoved(list);
        break;
      case TouchPhase::Ended:
        view->touchesEnded(list);
        break;
      case TouchPhase::Cancelled:
        view->touchesCancelled(list);
        break;
    }
    for (int id : ids) {
      auto found = touches_.find(id);
      if (found != touches_.end() && (found->second.phase == TouchPhase::Ended ||
                                      found->second.phase == TouchPhase::Cancelled)) {
        touches_.erase(found);
      }
    }
  }
  (void)phase;
}

void Application::cancelAllTouches() {
  std::vector<TouchInput> cancel;
  for (const auto& [id, t] : touches_) cancel.push_back({id, TouchPhase::Cancelled, t.location, 1});
  if (!cancel.empty()) dispatchTouches(cancel);
  touches_.clear();
  mouseDown_ = false;
}

void Application::keyEscape() {
  if (AlertView* alert = topAlert()) {
    alert->handleEscape();
    return;
  }
  // Escape leaves a text field as Return does, keeping what was typed.
  if (TextField* field = TextField::firstResponder()) field->returnPressed();
}

void Application::keyReturn() {
  if (AlertView* alert = topAlert()) {
    alert->handleReturn();
    return;
  }
  if (TextField* field = TextField::firstResponder()) field->returnPressed();
}

void Application::keyBackspace() {
  if (TextField* field = TextField::firstResponder()) field->deleteBackward();
}

void Application::textInput(const std::string& text) {
  if (topAlert()) return;
  if (TextField* field = TextField::firstResponder()) field->insertText(text);
}

void Application::handleEvent(const void* raw) {
  const SDL_Event& e = *static_cast<const SDL_Event*>(raw);
  if (eventFilter_ && eventFilter_(raw)) return;
  switch (e.type) {
    case SDL_QUIT:
      terminate();
      break;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          terminate();
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_MINIMIZED:
          setActive(false);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_RESTORED:
          setActive(true);
          break;
        case SDL_WINDOWEVENT_LEAVE:
          if (mouseDown_) cancelAllTouches();
          break;
        default:
          break;
      }
      View::markScreenChanged();
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (e.button.button == SDL_BUTTON_LEFT && !mouseDown_) {
        if (auto p = windowToPoints(e.button.x, e.button.y)) {
          mouseDown_ = true;
          dispatchTouches({{1, TouchPhase::Began, *p, tapCountForPress(*p, now())}});
        }
      }
      break;
    case SDL_MOUSEMOTION:
      if (mouseDown_) {
        if (auto p = windowToPoints(e.motion.x, e.motion.y)) {
          dispatchTouches({{1, TouchPhase::Moved, *p, lastTapCount_}});
        }
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (e.button.button == SDL_BUTTON_LEFT && mouseDown_) {
        mouseDown_ = false;
        auto p = windowToPoints(e.button.x, e.button.y);
        if (p) {
          dispatchTouches({{1, TouchPhase::Ended, *p, lastTapCount_}});
        } else {
          cancelAllTouches();
        }
      }
      break;
    case SDL_KEYDOWN:
      switch (e.key.keysym.sym) {
        case SDLK_ESCAPE:
          keyEscape();
          break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
          keyReturn();
          break;
        case SDLK_BACKSPACE:
          keyBackspace();
          break;
        default:
          break;
      }
      break;
    case SDL_TEXTINPUT:
      textInput(e.text.text);
      break;
    default:
      break;
  }
}

}  // namespace platform::ui
