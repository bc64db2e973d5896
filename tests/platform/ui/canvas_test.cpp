// The software canvas: coverage antialiasing, the five path modes, tangent
// arcs, strokes and their joins, images and text, checked by pixel probes
// and one small golden image.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/ui/Canvas.h"
#include "platform/ui/Font.h"
#include "support/gl_test_support.h"

using platform::ui::Canvas;
using platform::ui::Color;
using platform::ui::Font;
using platform::ui::PathMode;
using platform::ui::Rect;

namespace {

std::array<int, 4> at(const Canvas& c, int x, int y) {
  return gltest::pixelAt(c.pixels(), c.width(), x, y);
}

// Ink (alpha) inside and outside a box of pixels.
struct Ink {
  long inside = 0;
  long outside = 0;
};
Ink inkAround(const Canvas& c, int x0, int y0, int x1, int y1) {
  Ink ink;
  for (int y = 0; y < c.height(); y++) {
    for (int x = 0; x < c.width(); x++) {
      const int a = at(c, x, y)[3];
      if (x >= x0 && x < x1 && y >= y0 && y < y1) {
        ink.inside += a;
      } else {
        ink.outside += a;
      }
    }
  }
  return ink;
}

}  // namespace

TEST(CanvasTest, FillsWithCoverageAtTheEdges) {
  Canvas c(8, 8);
  c.setFillColor(Color{1, 0, 0, 1});
  c.fillRect(Rect(2, 2, 3.5, 4));
  EXPECT_EQ(at(c, 3, 3), (std::array<int, 4>{255, 0, 0, 255}));
  // The column cut in half is half covered (premultiplied red).
  EXPECT_EQ(at(c, 5, 3), (std::array<int, 4>{128, 0, 0, 128}));
  EXPECT_EQ(at(c, 6, 3)[3], 0);
  EXPECT_EQ(at(c, 1, 3)[3], 0);
  // Without antialiasing only the pixel's centre counts.
  Canvas hard(8, 8);
  hard.setShouldAntialias(false);
  hard.setFillColor(Color{1, 0, 0, 1});
  hard.fillRect(Rect(2, 2, 3.4, 4));
  EXPECT_EQ(at(hard, 5, 3)[3], 0);
  EXPECT_EQ(at(hard, 4, 3)[3], 255);
}

TEST(CanvasTest, TheFivePathModes) {
  // Two nested squares wound the same way: the non-zero rule fills the hole,
  // the even-odd rule leaves it; strokes follow the outlines.
  struct Case {
    PathMode mode;
    int hole;     // alpha in the middle
    int ring;     // alpha between the squares
    int outline;  // red on the outer outline
  };
  const Case cases[] = {{PathMode::Fill, 255, 255, 0},         {PathMode::EOFill, 0, 255, 0},
                        {PathMode::Stroke, 0, 0, 255},         {PathMode::FillStroke, 255, 255, 255},
                        {PathMode::EOFillStroke, 0, 255, 255}};
  for (const Case& k : cases) {
    Canvas c(40, 40);
    c.setFillColor(Color{0, 0, 1, 1});
    c.setStrokeColor(Color{1, 0, 0, 1});
    c.setLineWidth(2);
    c.beginPath();
    c.addRect(Rect(4, 4, 32, 32));
    c.addRect(Rect(14, 14, 12, 12));
    c.drawPath(k.mode);
    SCOPED_TRACE(static_cast<int>(k.mode));
    EXPECT_EQ(at(c, 20, 20)[3], k.hole);
    EXPECT_EQ(at(c, 9, 20)[3], k.ring);
    EXPECT_EQ(at(c, 4, 20)[0], k.outline);
    EXPECT_TRUE(c.pathIsEmpty());
  }
}

TEST(CanvasTest, TangentArcsRoundTheCorners) {
  Canvas c(40, 40);
  c.setFillColor(Color::white());
  c.beginPath();
  c.addRoundedRect(Rect(0, 0, 40, 40), 12);
  c.drawPath(PathMode::Fill);
  EXPECT_EQ(at(c, 0, 0)[3], 0);
  EXPECT_EQ(at(c, 2, 2)[3], 0);
  EXPECT_EQ(at(c, 39, 39)[3], 0);
  EXPECT_EQ(at(c, 20, 1)[3], 255);
  EXPECT_EQ(at(c, 6, 6)[3], 255);
  // A radius larger than half a side is held at half: a circle, not a
  // shape folded over itself.
  Canvas round(40, 40);
  round.setFillColor(Color::white());
  round.beginPath();
  round.addRoundedRect(Rect(0, 0, 40, 40), 500);
  round.drawPath(PathMode::Fill);
  EXPECT_EQ(at(round, 20, 20)[3], 255);
  EXPECT_EQ(at(round, 3, 3)[3], 0);
  EXPECT_EQ(at(round, 20, 1)[3], 255);
}

TEST(CanvasTest, ArcToWithNoRadiusOrInALineIsALine) {
  Canvas c(20, 20);
  c.setStrokeColor(Color::white());
  c.setLineWidth(2);
  c.beginPath();
  c.moveTo(2, 10);
  c.arcTo(10, 10, 18, 10, 5);  // three points in one line
  c.lineTo(18, 10);
  c.drawPath(PathMode::Stroke);
  EXPECT_EQ(at(c, 10, 9)[3], 255);
  EXPECT_EQ(at(c, 10, 12)[3], 0);
}

TEST(CanvasTest, MitredJoinsFillTheCorners) {
  Canvas c(20, 20);
  c.setStrokeColor(Color::white());
  c.setLineWidth(4);
  c.strokeRect(Rect(4, 4, 12, 12));
  EXPECT_EQ(at(c, 2, 2)[3], 255);  // the outer corner of a mitred join
  EXPECT_EQ(at(c, 10, 10)[3], 0);
  EXPECT_EQ(at(c, 0, 0)[3], 0);
}

TEST(CanvasTest, SaveAndRestoreTheState) {
  Canvas c(10, 10, 2.0);
  c.setFillColor(Color{1, 0, 0, 1});
  c.save();
  c.translate(2, 2);
  c.setFillColor(Color{0, 1, 0, 1});
  c.setAlpha(0.5);
  c.fillRect(Rect(0, 0, 1, 1));  // points 2..3 = pixels 4..6
  c.restore();
  c.fillRect(Rect(0, 0, 1, 1));
  EXPECT_EQ(at(c, 4, 4), (std::array<int, 4>{0, 128, 0, 128}));
  EXPECT_EQ(at(c, 1, 1), (std::array<int, 4>{255, 0, 0, 255}));
  EXPECT_EQ(at(c, 3, 3)[3], 0);
}

TEST(CanvasTest, ImagesAreScaledIntoTheirRectangle) {
  const std::uint8_t pixels[] = {255, 0, 0, 255, 0, 0, 255, 255};  // red, blue
  Canvas c(8, 4);
  c.drawImage(pixels, 2, 1, Rect(0, 0, 8, 4));
  EXPECT_EQ(at(c, 0, 2), (std::array<int, 4>{255, 0, 0, 255}));
  EXPECT_EQ(at(c, 7, 2), (std::array<int, 4>{0, 0, 255, 255}));
  EXPECT_GT(at(c, 4, 2)[0], 0);
  EXPECT_GT(at(c, 4, 2)[2], 0);
}

TEST(CanvasTest, TextInkStaysInItsBox) {
  ASSERT_TRUE(Font::available());
  const Font font = Font::systemFont(16);
  const auto size = font.measure("Fluvane", 2.0);
  EXPECT_GT(size.width, 30);
  EXPECT_LT(size.width, 90);
  Canvas c(200, 60, 2.0);
  c.drawText("Fluvane", font, {10, 5}, Color::white());
  const Ink ink = inkAround(c, 20, 10, 20 + static_cast<int>(size.width * 2) + 2,
                            10 + static_cast<int>(size.height * 2) + 2);
  EXPECT_GT(ink.inside, 255 * 40);
  EXPECT_EQ(ink.outside, 0);
}

TEST(CanvasTest, WrappingBreaksAtSpacesAndLongWords) {
  const Font font = Font::systemFont(16);
  const auto lines = font.wrap("one two three four\nfive", 80, 2.0);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "five");
  for (const auto& line : lines) EXPECT_LE(font.measure(line, 2.0).width, 80);
  const auto cut = font.wrap("abcdefghijklmnopqrstuvwxyz", 40, 2.0);
  EXPECT_GT(cut.size(), 2u);
  std::string joined;
  for (const auto& piece : cut) joined += piece;
  EXPECT_EQ(joined, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(font.wrap("", 40, 2.0), std::vector<std::string>{""});
}

TEST(CanvasTest, RoundedPanelGolden) {
  Canvas c(64, 64);
  c.clear(Color::black());
  c.setFillColor(Color{0.2, 0.4, 0.9, 0.8});
  c.setStrokeColor(Color::white(0.7));
  c.setLineWidth(2);
  c.beginPath();
  c.addRoundedRect(Rect(6, 6, 52, 40), 10);
  c.drawPath(PathMode::FillStroke);
  c.setFillColor(Color{1, 0.5, 0, 1});
  c.beginPath();
  c.moveTo(10, 60);
  c.lineTo(32, 48);
  c.lineTo(54, 60);
  c.closePath();
  c.drawPath(PathMode::Fill);
  EXPECT_TRUE(gltest::matchesGolden("canvas_panel", c.pixels(), 64, 64));
}
