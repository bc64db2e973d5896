// vx_demo: a small application on the framework's base delegate.
//
// It opens the 320 x 480-point window (x FLUVANE_SCALE, resizable,
// letterboxed), starts the engine from its embedded scripts, and shows the
// main toolbar, the information, help and settings screens, alerts and
// sheets. Pointed at a web service (FLUVANE_SERVICE_URL, e.g. the
// fluvane-devservice stand-in) it shows the server message and the
// information text and uploads signed statistics.
//
// Without a display it runs off screen (SDL's offscreen driver). Options:
//   --png <file>      once the start is over (a frame drawn, the engine
//                     ready and the start's service calls answered) write
//                     the screen as a PNG and quit
//   --seconds <s>     quit after s seconds (with --png: the longest wait for
//                     the start to be over; default 120)
//   --help-pages <dir>  draw the help pages into dir and quit (build step)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <GLES/gl.h>

#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Application.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Font.h"
#include "vxu/ui/VXAppDelegate.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXConfig.h"
#include "vxu/VXLog.h"
#include "vxu/ui/VXScreens.h"

using namespace platform::ui;

namespace {

// The help pages, drawn from shapes and text.
bool drawHelpPages(const std::string& dir) {
  const char* pages[][2] = {
      {"Welcome", "Tap Menu to open the toolbar. Info shows the news from the service, "
                  "Settings the key."},
      {"Listening", "The tone comes from a Chip script running in the engine. Tap Done to "
                    "close the help."},
  };
  platform::Paths::mkdirs(dir);
  for (int i = 0; i < 2; i++) {
    Canvas canvas(320, 480, 1.0);
    canvas.clear(Color{0.04, 0.1, 0.2, 1});
    canvas.setFillColor(Color{0.2, 0.5, 0.8, 0.6});
    canvas.setStrokeColor(Color::white(0.8));
    canvas.setLineWidth(3);
    canvas.beginPath();
    canvas.addRoundedRect(Rect(20, 80, 280, 300), 24);
    canvas.drawPath(PathMode::FillStroke);
    const Font title = Font::boldSystemFont(24);
    const Font body = Font::systemFont(16);
    canvas.drawText(pages[i][0], title, {40, 100}, Color::white());
    double y = 150;
    for (const std::string& line : body.wrap(pages[i][1], 240, 1.0)) {
      canvas.drawText(line, body, {40, y}, Color::white());
      y += body.lineHeight(1.0);
    }
    std::vector<std::uint8_t> straight = canvas.pixels();
    for (std::size_t p = 0; p < straight.size(); p += 4) {
      const int a = straight[p + 3];
      for (int c = 0; c < 3 && a > 0; c++) straight[p + c] = static_cast<std::uint8_t>(
          std::min(255, (straight[p + c] * 255 + a / 2) / a));
    }
    std::string error;
    const std::string path = platform::Paths::join(dir, "help" + std::to_string(i) + ".png");
    if (!platform::gfx::writePng(path, 320, 480, straight.data(), &error)) {
      std::fprintf(stderr, "vx_demo: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

class DemoDelegate : public VXAppDelegate {
 public:
  DemoDelegate() {
    mainView_ = std::make_shared<VXMainView>(Rect(0, 0, 320, 480));
    auto title = std::make_shared<Label>(Rect(20, 40, 280, 40));
    title->setText(product_name_text());
    title->setFont(Font::boldSystemFont(28));
    title->setTextColor(Color::white());
    title->setTextAlignment(TextAlignment::Center);
    mainView_->addSubview(title);
    vexelBar = makeMainToolbar();
    infoControler = makeInfoScreen();
    settingsControler = makeSettingsScreen();
    helpController = makeHelpScreen();
    splashView = makeSplashView();
    m_helpScreens = 2;
  }

  // True once a frame has been drawn and the engine's launch point has
  // posted the start's service calls.
  bool started() const { return framesDrawn_ > 0 && launched_; }

  void launchBackGroundThreads(int launchPoint) override {
    VXAppDelegate::launchBackGroundThreads(launchPoint);
    if (launchPoint == 2) launched_ = true;
  }

  View* getMainView() override { return mainView_.get(); }
  VXUserStats* getStats() override { return &VXUserStats::defaultUserStats(); }
  int getAppID() override { return 1; }
  std::optional<std::string> infoAddDefaultURL() override { return std::string(APP_HOME_PAGE); }
  std::optional<std::vector<std::string>> chipPrograms() override {
    return std::vector<std::string>{"demo.chip"};
  }
  bool askUserToWatchTutorial() override {
    // Offered on the first start only.
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (defaults.boolForKey("VXDemoTutorialOffered")) return false;
    defaults.setBool("VXDemoTutorialOffered", true);
    return true;
  }

  void applicationDidFinishLaunching(Application& app) override {
    app.window().addSubview(mainView_);
    if (VXUserStats* stats = getStats()) stats->startCountingAppTime();
    // A slowly turning fan of colour under the views: the GL frame.
    app.setGLFrameDrawer([this, &app] {
      drawBackdrop(app.now());
      framesDrawn_++;
    });
    app.setContinuousFrames(true);
    VXAppDelegate::applicationDidFinishLaunching(app);
  }

 private:
  static std::string product_name_text() { return "Fluvane demo"; }

  static void drawBackdrop(double time) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrthof(-1, 1, -1.5f, 1.5f, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(static_cast<GLfloat>(std::fmod(time * 12.0, 360.0)), 0, 0, 1);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    GLfloat vertices[2 * 8];
    GLfloat colours[4 * 8];
    vertices[0] = vertices[1] = 0;
    colours[0] = 0.1f, colours[1] = 0.2f, colours[2] = 0.4f, colours[3] = 1;
    for (int i = 1; i < 8; i++) {
      const double a = (i - 1) * 2 * 3.14159265358979323846 / 6;
      vertices[2 * i] = static_cast<GLfloat>(1.4 * std::cos(a));
      vertices[2 * i + 1] = static_cast<GLfloat>(1.4 * std::sin(a));
      colours[4 * i] = static_cast<GLfloat>(0.05 + 0.1 * (i % 2));
      colours[4 * i + 1] = 0.08f;
      colours[4 * i + 2] = static_cast<GLfloat>(0.2 + 0.15 * (i % 3));
      colours[4 * i + 3] = 1;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, vertices);
    glColorPointer(4, GL_FLOAT, 0, colours);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 8);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
  }

  std::shared_ptr<VXMainView> mainView_;
  long framesDrawn_ = 0;
  bool launched_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::string png;
  double seconds = -1;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (arg == "--png" && i + 1 < argc) {
      png = argv[++i];
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--help-pages" && i + 1 < argc) {
      return drawHelpPages(argv[++i]) ? 0 : 1;
    } else {
      std::fprintf(stderr, "usage: vx_demo [--png <file>] [--seconds <s>] [--help-pages <dir>]\n");
      return 2;
    }
  }
  // No display: the same program off screen.
  if (!std::getenv("SDL_VIDEODRIVER") && !std::getenv("DISPLAY") &&
      !std::getenv("WAYLAND_DISPLAY")) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
  }
  VXLog::sharedVXLog();
  HostOptions options;
  std::string error;
  std::unique_ptr<Application> app = Application::create(options, &error);
  if (!app) {
    std::fprintf(stderr, "vx_demo: %s\n", error.c_str());
    return 1;
  }
  int status = 0;
  {
    DemoDelegate delegate;
    app->setDelegate(&delegate);
    if (!png.empty() && seconds < 0) seconds = 120;
    auto writeFrame = [&] {
      std::vector<std::uint8_t> frame = app->frame();
      const int w = static_cast<int>(std::lround(320 * app->scale()));
      const int h = static_cast<int>(std::lround(480 * app->scale()));
      std::string problem;
      if (frame.size() != static_cast<std::size_t>(w) * h * 4 ||
          !platform::gfx::writePng(png, w, h, frame.data(), &problem)) {
        std::fprintf(stderr, "vx_demo: cannot write %s %s\n", png.c_str(), problem.c_str());
        status = 1;
      }
    };
    platform::RunLoop& loop = platform::RunLoop::main();
    platform::RunLoop::TimerId poll = 0;
    if (!png.empty()) {
      // The picture waits for the start, not for the clock: on a slow or
      // busy machine the start may take longer than any fixed delay.
      poll = loop.addTimer(0.05, true, [&] {
        if (!delegate.started()) return;
        // The service calls run one after another on the background thread:
        // an empty call queued after them returns once they are answered.
        VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
        // One more turn of the loop lets the answers reach the screen.
        loop.addTimer(0, false, [&] {
          writeFrame();
          app->terminate();
        });
        loop.cancel(poll);
      });
    }
    if (seconds >= 0) {
      loop.addTimer(seconds, false, [&] {
        if (!png.empty()) {
          std::fprintf(stderr, "vx_demo: the start was not over after %g s\n", seconds);
          status = 1;
        }
        app->terminate();
      });
    }
    app->run();
    app->setDelegate(nullptr);
  }
  app.reset();
  return status;
}
