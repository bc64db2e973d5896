// make_fluvane_art <dir>: draws the instrument's resources into dir.
//
//  - flare1.bw .. flare6.bw: the six one-channel textures of the instrument
//    graphics (SGI images, run-length encoded), computed from radial
//    formulas: a soft dot (the recording light), a four-ray sparkle, the
//    holes' outer ring, the holes' glowing disc, a wide halo and the thin
//    ripple ring.
//  - hint_blow.png, hint_touch.png: the blow hint's two drawings (blow into
//    the microphone at the bottom; touch the yellow area at the top left).
//  - toolbar_globe.png, toolbar_info.png, toolbar_settings.png,
//    toolbar_help.png: the toolbar's icons, white line art.
//  - recording_tool.png, stop_tool.png, play_tool.png, upload_tool.png,
//    mail_tool.png: the recording toolbar's icons (a red dot, a square, a
//    triangle, an arrow up out of a tray, an envelope).
//  - help0.png .. help5.png: the help pages: the instrument screen drawn off
//    screen by the instrument graphics themselves (in the state each page
//    explains), with a title and a caption over it.
// Everything is drawn here from shapes and formulas; nothing is copied.
#include <GLES/gl.h>
#include <numbers>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Classes/FluvaneGfx.h"
#include "platform/Paths.h"
#include "platform/gfx/GLHost.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Font.h"
#include "tools/SgiWriter.h"

using platform::ui::Canvas;
using platform::ui::Color;
using platform::ui::Font;
using platform::ui::PathMode;
using platform::ui::Point;
using platform::ui::Rect;

namespace {

constexpr int kFlareSide = 128;
constexpr double kPi = std::numbers::pi;

double smoothstep(double a, double b, double x) {
  const double t = std::clamp((x - a) / (b - a), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// A flare from a formula of the radius (0 centre, 1 edge) and the angle.
bool writeFlare(const std::string& path, const std::function<double(double, double)>& alpha) {
  std::vector<std::uint8_t> pixels(kFlareSide * kFlareSide);
  for (int y = 0; y < kFlareSide; y++) {
    for (int x = 0; x < kFlareSide; x++) {
      const double dx = (x + 0.5) / kFlareSide * 2 - 1, dy = (y + 0.5) / kFlareSide * 2 - 1;
      const double r = std::sqrt(dx * dx + dy * dy);
      const double a = r >= 1 ? 0 : std::clamp(alpha(r, std::atan2(dy, dx)), 0.0, 1.0);
      pixels[static_cast<std::size_t>(y * kFlareSide + x)] =
          static_cast<std::uint8_t>(std::lround(a * 255));
    }
  }
  const std::vector<std::uint8_t> file = sgi::encode(pixels, kFlareSide, kFlareSide, true);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

bool writeFlares(const std::string& dir) {
  const std::function<double(double, double)> flares[6] = {
      // 1: a soft dot with a glow.
      [](double r, double) { return 1 - smoothstep(0.45, 0.6, r) + 0.35 * std::exp(-r * r * 6); },
      // 2: a sparkle of four rays.
      [](double r, double a) {
        const double rays = std::pow(std::fabs(std::cos(2 * a)), 40) * (1 - r);
        return std::exp(-r * r * 30) + rays;
      },
      // 3: the holes' outer ring.
      [](double r, double) {
        return std::exp(-std::pow((r - 0.82) / 0.07, 2)) + 0.15 * (1 - smoothstep(0.8, 0.95, r));
      },
      // 4: a glowing disc (the holes' ring and centre).
      [](double r, double) { return std::pow(1 - r, 1.6) + 0.25 * (1 - smoothstep(0.3, 0.5, r)); },
      // 5: a wide halo.
      [](double r, double) { return 0.8 * std::exp(-r * r * 3) * (1 - r); },
      // 6: the thin ripple ring.
      [](double r, double) {
        return std::exp(-std::pow((r - 0.9) / 0.04, 2)) + 0.08 * smoothstep(0.2, 0.88, r);
      },
  };
  for (int i = 0; i < 6; i++) {
    const std::string path = platform::Paths::join(dir, "flare" + std::to_string(i + 1) + ".bw");
    if (!writeFlare(path, flares[i])) {
      std::fprintf(stderr, "make_fluvane_art: cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

// Premultiplied canvas pixels to plain RGBA for a PNG.
std::vector<std::uint8_t> straight(const Canvas& canvas) {
  std::vector<std::uint8_t> px = canvas.pixels();
  for (std::size_t p = 0; p < px.size(); p += 4) {
    const int a = px[p + 3];
    for (int c = 0; c < 3 && a > 0; c++) {
      px[p + c] = static_cast<std::uint8_t>(std::min(255, (px[p + c] * 255 + a / 2) / a));
    }
  }
  return px;
}

bool save(const Canvas& canvas, const std::string& dir, const std::string& name) {
  std::string error;
  const std::vector<std::uint8_t> px = straight(canvas);
  if (!platform::gfx::writePng(platform::Paths::join(dir, name), canvas.width(), canvas.height(),
                               px.data(), &error)) {
    std::fprintf(stderr, "make_fluvane_art: %s: %s\n", name.c_str(), error.c_str());
    return false;
  }
  return true;
}

void drawCentredText(Canvas& canvas, const std::string& text, const Font& font, double top,
                     double width, Color color) {
  double y = top;
  for (const std::string& line : font.wrap(text, width - 20, 1.0)) {
    const double w = font.measure(line, 1.0).width;
    canvas.drawText(line, font, {(canvas.width() - w) / 2, y}, color);
    y += font.lineHeight(1.0);
  }
}

// The blow hint: breath lines rising into the microphone at the bottom
// middle; the touch hint: a fingertip on the blow area at the top left.
bool writeHints(const std::string& dir) {
  const bool fonts = Font::available();
  {
    Canvas c(200, 120);
    c.setStrokeColor(Color{0.6, 1.0, 0.4, 0.9});
    c.setLineWidth(4);
    for (int i = 0; i < 3; i++) {
      c.beginPath();
      const double x = 70 + 30 * i;
      c.moveTo(x, 10);
      for (int k = 1; k <= 8; k++) c.lineTo(x + 8 * std::sin(k * 0.9), 10 + k * 8);
      c.drawPath(PathMode::Stroke);
    }
    c.setFillColor(Color{0.6, 1.0, 0.4, 0.9});
    c.beginPath();
    c.moveTo(80, 88);
    c.lineTo(120, 88);
    c.lineTo(100, 112);
    c.closePath();
    c.drawPath(PathMode::Fill);
    if (fonts) c.drawText("blow", Font::boldSystemFont(16), {10, 40}, Color::white());
    if (!save(c, dir, "hint_blow.png")) return false;
  }
  {
    Canvas c(200, 120);
    c.setFillColor(Color{0.7, 0.7, 0.1, 0.9});
    c.beginPath();
    c.addRoundedRect(Rect(20, 10, 60, 90), 28);
    c.drawPath(PathMode::Fill);
    c.setStrokeColor(Color::white(0.9));
    c.setLineWidth(3);
    c.beginPath();
    c.addRoundedRect(Rect(35, 20, 30, 40), 14);
    c.drawPath(PathMode::Stroke);
    if (fonts) c.drawText("touch", Font::boldSystemFont(16), {100, 40}, Color::white());
    if (!save(c, dir, "hint_touch.png")) return false;
  }
  return true;
}

bool writeToolbarIcons(const std::string& dir) {
  const Color ink = Color::white(0.95);
  struct Icon {
    const char* name;
    std::function<void(Canvas&)> draw;
  };
  const Icon icons[] = {
      {"toolbar_globe.png",
       [](Canvas& c) {
         c.beginPath();
         c.addRoundedRect(Rect(6, 6, 32, 32), 16);
         c.drawPath(PathMode::Stroke);
         c.beginPath();
         c.addRoundedRect(Rect(15, 6, 14, 32), 7);
         c.moveTo(6, 22);
         c.lineTo(38, 22);
         c.drawPath(PathMode::Stroke);
       }},
      {"toolbar_info.png",
       [](Canvas& c) {
         c.beginPath();
         c.addRoundedRect(Rect(6, 6, 32, 32), 16);
         c.drawPath(PathMode::Stroke);
         c.fillRect(Rect(20, 19, 4, 13));
         c.fillRect(Rect(20, 12, 4, 4));
       }},
      {"toolbar_settings.png",
       [](Canvas& c) {
         for (int i = 0; i < 8; i++) {
           const double a = i * kPi / 4;
           c.beginPath();
           c.moveTo(22 + 10 * std::cos(a), 22 + 10 * std::sin(a));
           c.lineTo(22 + 16 * std::cos(a), 22 + 16 * std::sin(a));
           c.drawPath(PathMode::Stroke);
         }
         c.beginPath();
         c.addRoundedRect(Rect(12, 12, 20, 20), 10);
         c.drawPath(PathMode::Stroke);
       }},
      {"toolbar_help.png",
       [](Canvas& c) {
         c.beginPath();
         c.moveTo(15, 16);
         c.arcTo(15, 8, 22, 8, 7);
         c.arcTo(29, 8, 29, 15, 7);
         c.arcTo(29, 22, 22, 24, 7);
         c.lineTo(22, 29);
         c.drawPath(PathMode::Stroke);
         c.fillRect(Rect(20, 33, 4, 4));
       }},
      {"recording_tool.png",
       [](Canvas& c) {
         c.setFillColor(Color{0.9, 0.12, 0.1, 1});
         c.beginPath();
         c.addRoundedRect(Rect(10, 10, 24, 24), 12);
         c.drawPath(PathMode::Fill);
       }},
      {"stop_tool.png", [](Canvas& c) { c.fillRect(Rect(12, 12, 20, 20)); }},
      {"play_tool.png",
       [](Canvas& c) {
         c.beginPath();
         c.moveTo(14, 10);
         c.lineTo(34, 22);
         c.lineTo(14, 34);
         c.closePath();
         c.drawPath(PathMode::Fill);
       }},
      {"upload_tool.png",
       [](Canvas& c) {
         c.beginPath();
         c.moveTo(22, 28);
         c.lineTo(22, 8);
         c.moveTo(14, 16);
         c.lineTo(22, 8);
         c.lineTo(30, 16);
         c.moveTo(8, 26);
         c.lineTo(8, 36);
         c.lineTo(36, 36);
         c.lineTo(36, 26);
         c.drawPath(PathMode::Stroke);
       }},
      {"mail_tool.png",
       [](Canvas& c) {
         c.beginPath();
         c.addRect(Rect(7, 12, 30, 20));
         c.moveTo(7, 12);
         c.lineTo(22, 24);
         c.lineTo(37, 12);
         c.drawPath(PathMode::Stroke);
       }},
  };
  for (const Icon& icon : icons) {
    Canvas c(44, 44);
    c.setStrokeColor(ink);
    c.setFillColor(ink);
    c.setLineWidth(3);
    icon.draw(c);
    if (!save(c, dir, icon.name)) return false;
  }
  return true;
}

// One help page: the instrument screen in a state, captured, then labelled.
struct Page {
  const char* title;
  const char* caption;
  int mask;        // holes covered
  bool touchMode;  // the blow area shown
  int breathFrames;
  int layout;
};

bool writeHelpPages(const std::string& dir) {
  std::string error;
  auto host = platform::gfx::GLHost::openSurfaceless(320, 480, &error);
  if (!host) {
    std::fprintf(stderr, "make_fluvane_art: no GL context for the help pages: %s\n",
                 error.c_str());
    return false;
  }
  setenv("FLUVANE_RESOURCES", dir.c_str(), 1);  // the flares just written
  FluvaneGfx::reset();
  FluvaneGfx::initialize();
  const Page pages[6] = {
      {"Welcome to Fluvane",
       "Blow gently into the microphone to play. On a computer, hold Space to blow.", 0, false,
       0, 0},
      {"Four holes",
       "Cover the holes with your fingers: the keys E and D hold the left ones, I and K the "
       "right ones, or use the mouse. A right-click keeps a hole covered.",
       15, false, 0, 0},
      {"Fingerings make the tune",
       "Each pattern of covered holes plays a step of the scale. All four covered is the "
       "key note; lift fingers to climb.",
       9, false, 0, 0},
      {"Your breath",
       "Ripples rise while you blow. Blow harder for a louder note; stop and the note fades.",
       3, false, 60, 0},
      {"Tilt for vibrato",
       "Tilt left or right (the arrow keys or a joystick) to slow or speed the vibrato, tilt "
       "up for more of it. Listen to a tune played for you.",
       6, false, 20, 0},
      {"Touch mode",
       "Can't blow? In touch mode the yellow area at the top left blows for you. Choose key, "
       "mode and layout in the settings.",
       16 + 1, true, 0, 1},
  };
  const bool fonts = Font::available();
  for (int i = 0; i < 6; i++) {
    const Page& page = pages[i];
    FluvaneGfx::reset();
    FluvaneGfx::initialize();
    FluvaneGfx::setLayoutMode(page.layout);
    FluvaneGfx::fluvaneGFXsetTouchMode(page.touchMode);
    for (int h = 0; h < FluvaneGfx::kHoleCount; h++) {
      if (page.mask & (1 << h)) FluvaneGfx::FingerHole::get(h)->keyOn();
    }
    for (int f = 0; f < 30 + page.breathFrames; f++) {
      if (f >= 30 - page.breathFrames && page.breathFrames) FluvaneGfx::breathControl(0.6f);
      FluvaneGfx::advanceFrame();
    }
    glViewport(0, 0, 320, 480);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrthof(-1, 1, -1.5f, 1.5f, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    FluvaneGfx::drawFrame();
    glFinish();
    std::vector<std::uint8_t> shot = host->readPixels();
    for (std::size_t p = 3; p < shot.size(); p += 4) shot[p] = 255;

    Canvas c(320, 480);
    c.drawImage(shot.data(), 320, 480, Rect(0, 0, 320, 480));
    // A band for the words, darkening the screen behind them.
    c.setFillColor(Color{0, 0, 0, 0.6});
    c.fillRect(Rect(0, 170, 320, 150));
    if (fonts) {
      drawCentredText(c, page.title, Font::boldSystemFont(22), 180, 320, Color::white());
      drawCentredText(c, page.caption, Font::systemFont(14), 215, 320, Color::white(0.9));
      char number[16];
      std::snprintf(number, sizeof number, "%d / 6", i + 1);
      c.drawText(number, Font::systemFont(12), {272, 298}, Color::white(0.6));
    }
    if (!save(c, dir, "help" + std::to_string(i) + ".png")) return false;
  }
  FluvaneGfx::reset();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fluvane_art <dir>\n");
    return 2;
  }
  const std::string dir = argv[1];
  platform::Paths::mkdirs(dir);
  if (!writeFlares(dir) || !writeHints(dir) || !writeToolbarIcons(dir) || !writeHelpPages(dir)) {
    return 1;
  }
  return 0;
}
