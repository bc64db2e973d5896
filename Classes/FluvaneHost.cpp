#include "Classes/FluvaneHost.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "Classes/FluvaneAppDelegate.h"
#include "Classes/FluvaneAutomation.h"
#include "Classes/FluvaneHostInput.h"
#include "Classes/FluvaneMicInput.h"
#include "recorder/FluvaneRecordings.h"
#include "platform/Clock.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/SignalWatcher.h"
#include "platform/gfx/Image.h"
#include "platform/gfx/X11Guard.h"
#include "platform/ui/Application.h"
#include "vxu/VXLog.h"
#include "vxu/vxign.h"

#ifndef FLUVANE_SOURCE_DIR
#define FLUVANE_SOURCE_DIR "."
#endif
#ifndef FLUVANE_BUILD_DIR
#define FLUVANE_BUILD_DIR "build"
#endif

using platform::Paths;
using platform::ui::Application;
using platform::ui::Point;

namespace FluvaneHost {
namespace {

constexpr double kEngineRate = 16000.0;

struct Options {
  bool demo = false;
  bool verbose = false;
  std::string automate;  // a file, or "-" for standard input
  double seconds = -1;
};

void usage() {
  std::fprintf(stderr,
               "usage: fluvane [--automate FILE|-] [--demo] [--seconds S] [--verbose]\n"
               "  keys: E D I K hold the holes, Space blows, arrows tilt, Escape quits\n");
}

// The signal that asked the program to quit (0: none).
std::atomic<int> g_quitSignal{0};

// A quit asked from outside (a signal, a lost window): the termination steps
// on the main loop, as closing the window would.
void quitOnMainLoop() {
  platform::RunLoop::main().post([] {
    if (Application* app = Application::shared()) app->terminate();
  });
}

std::string absolute(const std::string& path, const std::string& base) {
  if (path.empty() || path[0] == '/') return path;
  return Paths::join(base, path);
}

bool readAll(const std::string& file, std::string& text) {
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  text = out.str();
  return true;
}

// The application as the automation sees it.
class Target : public FluvaneAutomationTarget {
 public:
  Target(Application& app, FluvaneAppDelegate& delegate, FluvaneHostInput& input,
         std::string folder)
      : app_(app), delegate_(delegate), input_(input), folder_(std::move(folder)) {}

  double engineSeconds() override {
    return static_cast<double>(FluvaneMicInput::framesRendered()) / kEngineRate;
  }
  void key(const std::string& name, bool down) override {
    using Key = FluvaneHostInput::Key;
    static const std::pair<const char*, Key> keys[] = {
        {"E", Key::E},         {"D", Key::D},         {"I", Key::I},
        {"K", Key::K},         {"Space", Key::Space}, {"Left", Key::Left},
        {"Right", Key::Right}, {"Up", Key::Up},       {"Down", Key::Down}};
    for (const auto& [text, k] : keys) {
      if (name == text) input_.key(k, down);
    }
  }
  void touch(double x, double y, FluvaneAutomationCommand::Phase phase) override {
    const Point p(x, y);
    switch (phase) {
      case FluvaneAutomationCommand::Phase::Down:
        input_.mouseDown(p);
        break;
      case FluvaneAutomationCommand::Phase::Move:
        input_.mouseMove(p);
        break;
      case FluvaneAutomationCommand::Phase::Up:
        input_.mouseUp(p);
        break;
    }
  }
  void breath(double level) override { FluvaneMicInput::setBreath(level); }
  void tilt(double x, double y) override {
    FluvaneHostInput::Tilt t;
    t.x = static_cast<float>(x);
    t.y = static_cast<float>(y);
    tilt_ = t;
  }
  // As the toolbar's buttons do: through the instrument screen, which turns
  // to and from the globe and hands every other code to the delegate.
  void message(int code) override {
    if (delegate_.glView) {
      delegate_.glView->receiveMsg(code);
    } else {
      delegate_.receiveMsg(code);
    }
  }
  std::optional<std::int32_t> integer(const std::string& key) override {
    return Vexel_Integration::instance().get_int(key);
  }
  std::optional<double> real(const std::string& key) override {
    return Vexel_Integration::instance().get_float(key);
  }
  bool shot(const std::string& path, std::string* error) override {
    const std::string file = absolute(path, folder_);
    const std::string folder = std::filesystem::path(file).parent_path().string();
    if (!Paths::isDirectory(folder)) {
      *error = "no such folder " + folder;
      return false;
    }
    std::vector<std::uint8_t> frame = app_.frame();
    const int w = static_cast<int>(std::lround(Application::kScreenWidth * app_.scale()));
    const int h = static_cast<int>(std::lround(Application::kScreenHeight * app_.scale()));
    if (frame.size() != static_cast<std::size_t>(w) * h * 4) {
      *error = "no picture (the window has no size)";
      return false;
    }
    return platform::gfx::writePng(file, w, h, frame.data(), error);
  }
  // The tilt a script set, which replaces the keys' tilt from then on.
  std::optional<FluvaneHostInput::Tilt> scriptTilt() const { return tilt_; }

 private:
  Application& app_;
  FluvaneAppDelegate& delegate_;
  FluvaneHostInput& input_;
  std::string folder_;
  std::optional<FluvaneHostInput::Tilt> tilt_;
};

}  // namespace

bool writeWav(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
              std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  auto u32 = [&](std::uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
  };
  auto u16 = [&](std::uint16_t v) {
    const char b[2] = {char(v), char(v >> 8)};
    out.write(b, 2);
  };
  const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);  // PCM
  u16(2);  // stereo
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate) * 4);
  u16(4);
  u16(16);
  out.write("data", 4);
  u32(bytes);
  for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
  out.flush();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool rawToWav(const std::string& rawPath, const std::string& wavPath, int rate,
              std::string* error) {
  std::ifstream in(rawPath, std::ios::binary);
  if (!in) {
    if (error) *error = "no sound was written to " + rawPath;
    return false;
  }
  std::vector<std::int16_t> samples;
  std::int32_t s = 0;
  while (in.read(reinterpret_cast<char*>(&s), sizeof s)) {
    samples.push_back(static_cast<std::int16_t>(s >> 16));
  }
  if (samples.size() % 2) samples.pop_back();
  return writeWav(wavPath, samples, rate, error);
}

int main(int argc, char** argv) {
  // First of all, before any thread starts: the quit signals become events.
  platform::SignalWatcher signals([](int signal) {
    int none = 0;
    if (!g_quitSignal.compare_exchange_strong(none, signal)) return;  // quitting already
    quitOnMainLoop();
  });
  Options options;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (arg == "--demo") {
      options.demo = true;
    } else if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
    } else if (arg == "--automate" && i + 1 < argc) {
      options.automate = argv[++i];
    } else if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      options.seconds = std::strtod(argv[++i], &end);
      if (!end || *end || !std::isfinite(options.seconds) || options.seconds < 0) {
        usage();
        return 2;
      }
    } else {
      usage();
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  // One instance per home, before anything in it is touched (the log's
  // rotation included).
  const std::string home = Paths::home();
  Paths::mkdirs(home);
  platform::InstanceLock instance;
  {
    std::string owner, error;
    switch (instance.acquire(Paths::join(home, "fluvane.lock"), &owner, &error)) {
      case platform::InstanceLock::Result::Acquired:
        break;
      case platform::InstanceLock::Result::Taken:
        std::fprintf(stderr, "fluvane: Fluvane is already running%s%s (its folder: %s)\n",
                     owner.empty() ? "" : " as process ", owner.c_str(), home.c_str());
        return 1;
      case platform::InstanceLock::Result::Failed:
        std::fprintf(stderr, "fluvane: cannot use the folder %s: %s\n", home.c_str(),
                     error.c_str());
        return 1;
    }
  }
  VXLog::quietSharedConsole(!options.verbose);
  const std::string startFolder = Paths::startDirectory();
  std::string outputFolder = startFolder;
  std::string script;
  std::string rawPath, wavPath;
  std::vector<std::string> recordingsBefore;
  if (options.demo) {
    options.automate = Paths::join(FLUVANE_SOURCE_DIR, "examples/demo.fluvane");
    outputFolder = Paths::join(FLUVANE_BUILD_DIR, "demo");
    Paths::mkdirs(outputFolder);
    rawPath = Paths::join(outputFolder, "fluvane-demo.raw");
    wavPath = Paths::join(outputFolder, "fluvane-demo.wav");
    Paths::remove(rawPath);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", rawPath.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    recordingsBefore = Paths::listDir(FluvaneRecordings::recordingsDir());
  }
  std::optional<std::vector<FluvaneAutomationCommand>> commands;
  if (!options.automate.empty()) {
    if (!readAll(options.automate, script)) {
      std::fprintf(stderr, "fluvane: cannot read %s\n", options.automate.c_str());
      return 2;
    }
    std::string error;
    commands = parseFluvaneAutomation(script, &error);
    if (!commands) {
      std::fprintf(stderr, "fluvane: %s: %s\n", options.automate.c_str(), error.c_str());
      return 2;
    }
  }
  // No display: off screen. No sound card: the disk driver.
  if (!std::getenv("SDL_VIDEODRIVER") && !std::getenv("DISPLAY") &&
      !std::getenv("WAYLAND_DISPLAY")) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    recordingsBefore = Paths::listDir(FluvaneRecordings::recordingsDir());
  }
  if (!std::getenv("SDL_AUDIODRIVER") && !Paths::exists("/dev/snd")) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    if (!std::getenv("SDL_DISKAUDIOFILE")) setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  }
  VXLog::sharedVXLog().setDetailsToConsole(options.verbose);
  FluvaneMicInput::install();

  // The signals are the watcher's; SDL is not to take them for itself.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  platform::ui::HostOptions hostOptions;
  std::string error;
  std::unique_ptr<Application> app = Application::create(hostOptions, &error);
  if (!app) {
    std::fprintf(stderr, "fluvane: %s\n", error.c_str());
    return 1;
  }
  platform::gfx::X11GuardHooks x11;
  x11.report = [](const std::string& line) { VXLog::sharedVXLog().logError("%s", line.c_str()); };
  x11.windowLost = quitOnMainLoop;
  x11.connectionLost = [] {
    // Inside Xlib, which ends the process after this: the steps now.
    if (Application* shared = Application::shared()) shared->terminate();
    VXLog::sharedVXLog().flushLog();
    std::fflush(nullptr);
    std::_Exit(1);
  };
  platform::gfx::installX11Guard(std::move(x11));
  int status = 0;
  bool engineStillRuns = false;
  {
    FluvaneAppDelegate delegate;
    if (commands) delegate.setOffersTutorial(false);
    FluvaneHostInput input(
        [&app](const std::vector<platform::ui::TouchInput>& touches) {
          app->dispatchTouches(touches);
        },
        [](double level) { FluvaneMicInput::setBreath(level); });
    FluvaneHostInput::enableJoysticks();
    app->setEventFilter([&](const void* event) { return input.handleEvent(event, *app); });
    app->setDelegate(&delegate);

    std::unique_ptr<Target> target;
    std::unique_ptr<FluvaneAutomationRunner> runner;
    if (commands) {
      target = std::make_unique<Target>(*app, delegate, input, outputFolder);
      runner = std::make_unique<FluvaneAutomationRunner>(
          std::move(*commands), *target, [] { return platform::Clock::monotonic(); });
    }
    app->launch();
    input.setWheelSink([&delegate](double notches) {
      if (delegate.glView) delegate.glView->scrollWheel(notches);
    });
    if (delegate.glView) {
      delegate.glView->setAccelerometerSource([&input, &target]() -> std::array<float, 3> {
        FluvaneHostInput::Tilt t = input.tilt();
        if (target && target->scriptTilt()) t = *target->scriptTilt();
        return {t.x, t.y, t.z};
      });
    }
    platform::RunLoop::TimerId stepper = 0;
    if (runner) {
      stepper = platform::RunLoop::main().addTimer(0.005, true, [&] {
        if (runner->finished()) return;
        if (std::optional<int> done = runner->step()) {
          for (const std::string& line : runner->messages()) {
            std::fprintf(stderr, "fluvane: %s\n", line.c_str());
          }
          status = *done;
          app->terminate();
        }
      });
    }
    if (options.seconds >= 0) {
      platform::RunLoop::main().addTimer(options.seconds, false, [&] { app->terminate(); });
    }
    app->run();
    if (stepper) platform::RunLoop::main().cancel(stepper);
    app->setEventFilter(nullptr);
    app->setDelegate(nullptr);
    if (g_quitSignal.load() != 0 && status == 0) status = 128 + g_quitSignal.load();
    engineStillRuns = delegate.chipBridge() && delegate.chipBridge()->alive();
    if (engineStillRuns || platform::gfx::windowLost()) {
      // The engine's thread would be waited for without end below; a lost
      // window would only meet the same errors again when torn down. The
      // termination steps have run: leave.
      VXLog::sharedVXLog().flushLog();
      std::fflush(nullptr);
      std::_Exit(status == 0 ? 1 : status);
    }
  }
  app.reset();
  FluvaneMicInput::uninstall();
  if (options.demo && status == 0) {
    if (!rawToWav(rawPath, wavPath, static_cast<int>(kEngineRate), &error)) {
      std::fprintf(stderr, "fluvane: %s\n", error.c_str());
      return 1;
    }
    Paths::remove(rawPath);
    std::printf("%s\n%s\n", wavPath.c_str(),
                Paths::join(outputFolder, "fluvane-demo.png").c_str());
    // The phrase the demo recorded, as kept under Documents/recordings.
    for (const std::string& name : Paths::listDir(FluvaneRecordings::recordingsDir())) {
      if (std::find(recordingsBefore.begin(), recordingsBefore.end(), name) ==
          recordingsBefore.end()) {
        std::printf("%s\n", Paths::join(FluvaneRecordings::recordingsDir(), name).c_str());
      }
    }
  }
  return status;
}

}  // namespace FluvaneHost
