#include "tools/HelpPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace help {
namespace {

constexpr double kMargin = 10;     // inside the band, above and below
constexpr double kSide = 10;       // left and right of the lines
constexpr double kTitleGap = 6;    // between the title and the caption
constexpr double kNumberGap = 4;   // between the caption and the number

const platform::ui::Font kTitleFont = platform::ui::Font::boldSystemFont(22);
const platform::ui::Font kCaptionFont = platform::ui::Font::systemFont(14);
const platform::ui::Font kNumberFont = platform::ui::Font::systemFont(12);

// The lines of a text, centred, from top down; answers the bottom.
double stack(const std::string& text, const platform::ui::Font& font, double top, double scale,
             std::vector<Line>& lines) {
  const double width = kPageWidth - 2 * kSide;
  const double height = font.lineHeight(scale);
  for (const std::string& line : font.wrap(text, width, scale)) {
    const double w = font.measure(line, scale).width;
    lines.push_back({line, font, platform::ui::Rect((kPageWidth - w) / 2, top, w, height)});
    top += height;
  }
  return top;
}

}  // namespace

const std::array<Page, kPageCount>& pages() {
  static const std::array<Page, kPageCount> kPages = {{
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
  }};
  return kPages;
}

Layout layoutPage(int index, double scale) {
  Layout layout;
  const Page& page = pages()[static_cast<std::size_t>(std::clamp(index, 0, kPageCount - 1))];
  // Laid out from 0, then the whole band moved to the screen's middle.
  double y = kMargin;
  y = stack(page.title, kTitleFont, y, scale, layout.title);
  y = stack(page.caption, kCaptionFont, y + kTitleGap, scale, layout.caption);
  char number[16];
  std::snprintf(number, sizeof number, "%d / %d", index + 1, kPageCount);
  const double w = kNumberFont.measure(number, scale).width;
  const double h = kNumberFont.lineHeight(scale);
  layout.number = {number, kNumberFont,
                   platform::ui::Rect(kPageWidth - kSide - w, y + kNumberGap, w, h)};
  const double height = y + kNumberGap + h + kMargin;
  const double top = std::round((kPageHeight - height) / 2);
  layout.band = platform::ui::Rect(0, top, kPageWidth, height);
  for (std::vector<Line>* lines : {&layout.title, &layout.caption}) {
    for (Line& line : *lines) line.box.origin.y += top;
  }
  layout.number.box.origin.y += top;
  return layout;
}

}  // namespace help
