// The six help pages of the instrument: what each shows (the instrument in a
// state: holes covered, breath, touch mode, layout) and the words over it,
// and where those words go.
//
// A page is the 320 x 480-point instrument screen with a darkened band
// across it holding, top down, the title (bold 22 points, centred, wrapped
// to the band's width less 20), the caption (14 points, the same) and the
// page number ("3 / 6", 12 points, at the right). The band is as tall as
// its words and centred on the screen's middle; every line is measured at
// the scale the page is drawn at, so a title that wraps pushes the caption
// down instead of running into it. make_fluvane_art draws the pages from
// this layout at 1, 2 and 3 times the points ("help2.png", "help2@2x.png",
// "help2@3x.png").
#ifndef TOOLS_HELPPAGES_H
#define TOOLS_HELPPAGES_H

#include <array>
#include <string>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace help {

constexpr int kPageCount = 6;
constexpr double kPageWidth = 320;
constexpr double kPageHeight = 480;

struct Page {
  const char* title;
  const char* caption;
  int mask;        // holes covered
  bool touchMode;  // the blow area shown
  int breathFrames;
  int layout;
};

const std::array<Page, kPageCount>& pages();

// One line of words: its text, font and box (top-left, measured size) in
// points.
struct Line {
  std::string text;
  platform::ui::Font font;
  platform::ui::Rect box;
};

struct Layout {
  platform::ui::Rect band;
  std::vector<Line> title;
  std::vector<Line> caption;
  Line number;
};

// The words of page index (0..5) laid out for drawing at scale.
Layout layoutPage(int index, double scale);

}  // namespace help

#endif
