// make_fluvane_art <dir>: draws the instrument's resources into dir.
//
//  - flare1.bw .. flare6.bw: the six one-channel textures of the instrument
//    graphics (SGI images, run-length encoded), computed from radial
//    formulas: a soft dot (the recording light), a four-ray sparkle, the
//    holes' outer ring, the holes' glowing disc, a wide halo and the thin
//    ripple ring.
//  - hint_blow.png, hint_touch.png: the blow hint's two drawings (blow into
//    the microphone at the bottom; touch the yellow area at the top left),
//    also at 2 and 3 pixels a point (hint_blow@2x.png, ...).
//  - toolbar_globe.png, toolbar_info.png, toolbar_settings.png,
//    toolbar_help.png: the toolbar's icons, white line art.
//  - recording_tool.png, stop_tool.png, play_tool.png, upload_tool.png,
//    mail_tool.png: the recording toolbar's icons (a red dot, a square, a
//    triangle, an arrow up out of a tray, an envelope).
//  - help0.png .. help5.png: the help pages (tools/HelpPages.h): the
//    instrument screen drawn off screen by the instrument graphics
//    themselves (in the state each page explains), with its words over it;
//    also at 2 and 3 pixels a point (help0@2x.png, ...).
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
#include "tools/HelpPages.h"
#include "tools/SgiWriter.h"

using platform::ui::Canvas;
using platform::ui::Color;
using platform::ui::Font;
using platform::ui::PathMode;
using platform::ui::Point;
using platform::ui::Rect;

namespace {

constexpr int kFlareSide = 128;
// The blow hint's size in points (the instrument places it between the
// holes: FluvaneAppDelegate).
constexpr int kBlowHintWidth = 80;
constexpr int kBlowHintHeight = 120;
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

// A triangle filled in the canvas's fill colour.
void fillTriangle(Canvas& c, Point a, Point b, Point d) {
  c.beginPath();
  c.moveTo(a.x, a.y);
  c.lineTo(b.x, b.y);
  c.lineTo(d.x, d.y);
  c.closePath();
  c.drawPath(PathMode::Fill);
}

// The name of a resource drawn at a scale: "name.png", "name@2x.png", ...
std::string scaledName(const std::string& name, int scale) {
  if (scale == 1) return name;
  const std::size_t dot = name.rfind('.');
  return name.substr(0, dot) + "@" + std::to_string(scale) + "x" + name.substr(dot);
}

// The blow hint, narrow enough to stand between the holes of either
// layout above the mouthpiece: the word, breath lines rising, an arrow
// down to the microphone. The touch hint: a fingertip on the blow area at
// the top left. Each at 1, 2 and 3 pixels a point.
bool writeHints(const std::string& dir) {
  const bool fonts = Font::available();
  for (int scale = 1; scale <= 3; scale++) {
    {
      Canvas c(kBlowHintWidth * scale, kBlowHintHeight * scale, scale);
      const Color green{0.6, 1.0, 0.4, 0.9};
      if (fonts) {
        const Font font = Font::boldSystemFont(16);
        const double w = font.measure("blow", scale).width;
        c.drawText("blow", font, {(kBlowHintWidth - w) / 2, 0}, Color::white());
      }
      c.setStrokeColor(green);
      c.setLineWidth(4);
      for (int i = 0; i < 3; i++) {
        c.beginPath();
        const double x = 20 + 20 * i;
        c.moveTo(x, 88);
        for (int k = 1; k <= 8; k++) c.lineTo(x + 6 * std::sin(k * 0.9), 88 - k * 8);
        c.drawPath(PathMode::Stroke);
      }
      c.setFillColor(green);
      fillTriangle(c, {22, 94}, {58, 94}, {40, 116});
      if (!save(c, dir, scaledName("hint_blow.png", scale))) return false;
    }
    {
      Canvas c(200 * scale, 120 * scale, scale);
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
      if (!save(c, dir, scaledName("hint_touch.png", scale))) return false;
    }
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
      {"play_tool.png", [](Canvas& c) { fillTriangle(c, {14, 10}, {34, 22}, {14, 34}); }},
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

// The help pages (tools/HelpPages.h): the instrument screen in each page's
// state, drawn by its own graphics at 1, 2 and 3 pixels a point, with its
// words over it.
bool writeHelpPages(const std::string& dir) {
  setenv("FLUVANE_RESOURCES", dir.c_str(), 1);  // the flares just written
  const bool fonts = Font::available();
  for (int scale = 1; scale <= 3; scale++) {
    const int width = static_cast<int>(help::kPageWidth) * scale;
    const int height = static_cast<int>(help::kPageHeight) * scale;
    std::string error;
    auto host = platform::gfx::GLHost::openSurfaceless(width, height, &error);
    if (!host) {
      std::fprintf(stderr, "make_fluvane_art: no GL context for the help pages: %s\n",
                   error.c_str());
      return false;
    }
    for (int i = 0; i < help::kPageCount; i++) {
      const help::Page& page = help::pages()[static_cast<std::size_t>(i)];
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
      glViewport(0, 0, width, height);
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

      Canvas c(width, height, scale);
      c.drawImage(shot.data(), width, height, Rect(0, 0, help::kPageWidth, help::kPageHeight));
      const help::Layout layout = help::layoutPage(i, scale);
      // The band darkens the screen behind the words, fading in and out
      // over 12 points above and below so it cuts no hole with an edge.
      const Rect band = layout.band;
      c.setFillColor(Color{0, 0, 0, 0.6});
      c.fillRect(band);
      for (int step = 0; step < 12; step++) {
        c.setFillColor(Color{0, 0, 0, 0.6 * (12 - step) / 13.0});
        c.fillRect(Rect(band.minX(), band.minY() - 1 - step, band.width(), 1));
        c.fillRect(Rect(band.minX(), band.maxY() + step, band.width(), 1));
      }
      if (fonts) {
        for (const help::Line& line : layout.title) {
          c.drawText(line.text, line.font, line.box.origin, Color::white());
        }
        for (const help::Line& line : layout.caption) {
          c.drawText(line.text, line.font, line.box.origin, Color::white(0.9));
        }
        c.drawText(layout.number.text, layout.number.font, layout.number.box.origin,
                   Color::white(0.6));
      }
      if (!save(c, dir, scaledName("help" + std::to_string(i) + ".png", scale))) return false;
    }
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
