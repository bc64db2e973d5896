// Text of the UI kit: DejaVu Sans (regular and bold) through SDL2_ttf.
//
// A Font is a face (regular or bold) and a size in points; it is rendered
// at points x scale pixels, so text is as sharp as the screen it lands on.
// The kit's "system font" is DejaVu Sans; systemFont(16) is the size the
// controls use. The font files are looked for in the resources' "fonts"
// folder first, then in fonts-dejavu-core's folder; without them text
// measures 0 wide and draws nothing (logged once).
//
// Lines are measured and rendered as one run each; wrap() breaks a text at
// spaces (and at every "\n") into lines no wider than a width, breaking a
// word that alone is too wide between characters. render() answers an 8-bit
// coverage mask, drawn by Canvas::drawMask in any colour.
//
// Threads: SDL_ttf is not thread-safe; fonts are opened and used under one
// process-wide lock, so any thread may measure and render.
#ifndef PLATFORM_UI_FONT_H
#define PLATFORM_UI_FONT_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace platform::ui {

class Font {
 public:
  Font() = default;
  Font(double points, bool bold) : points_(points), bold_(bold) {}
  static Font systemFont(double points) { return Font(points, false); }
  static Font boldSystemFont(double points) { return Font(points, true); }

  double pointSize() const { return points_; }
  bool bold() const { return bold_; }
  bool operator==(const Font&) const = default;

  // Whether the font files were found (and SDL_ttf started).
  static bool available();

  // Size of one line in points when drawn at the scale.
  Size measure(const std::string& text, double scale) const;
  // Height of a line in points.
  double lineHeight(double scale) const;
  std::vector<std::string> wrap(const std::string& text, double width, double scale) const;

  struct Mask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> coverage;
  };
  Mask render(const std::string& text, double scale) const;

 private:
  double points_ = 16;
  bool bold_ = false;
};

}  // namespace platform::ui

#endif
