// The help pages as the build draws them: on every page, at every scale,
// the title's lines come before the caption's and the caption's before the
// page number, none overlaps another, and all lie inside the band and the
// page (a wrapped title once ran into its caption); and a window of scale
// 2 or 3 gets the pages drawn for it.
#include <gtest/gtest.h>

#include <vector>

#include "platform/ui/Controls.h"
#include "tools/HelpPages.h"

namespace {

using platform::ui::Rect;

// Boxes that share more than an edge (within rounding).
bool overlap(const Rect& a, const Rect& b) {
  constexpr double e = 1e-6;
  return a.minX() < b.maxX() - e && b.minX() < a.maxX() - e && a.minY() < b.maxY() - e &&
         b.minY() < a.maxY() - e;
}

bool inside(const Rect& inner, const Rect& outer) {
  return inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() &&
         inner.minY() >= outer.minY() && inner.maxY() <= outer.maxY();
}

TEST(HelpPages, NoLineRunsIntoAnother) {
  ASSERT_TRUE(platform::ui::Font::available());
  const Rect page(0, 0, help::kPageWidth, help::kPageHeight);
  for (double scale : {1.0, 2.0, 3.0}) {
    for (int i = 0; i < help::kPageCount; i++) {
      const help::Layout layout = help::layoutPage(i, scale);
      ASSERT_FALSE(layout.title.empty());
      ASSERT_FALSE(layout.caption.empty());
      std::vector<Rect> boxes;
      for (const auto& line : layout.title) boxes.push_back(line.box);
      for (const auto& line : layout.caption) boxes.push_back(line.box);
      boxes.push_back(layout.number.box);
      for (std::size_t a = 0; a < boxes.size(); a++) {
        EXPECT_TRUE(inside(boxes[a], layout.band)) << "page " << i << " line " << a;
        for (std::size_t b = a + 1; b < boxes.size(); b++) {
          EXPECT_FALSE(overlap(boxes[a], boxes[b]))
              << "page " << i << " lines " << a << " and " << b << " at " << scale;
          EXPECT_LE(boxes[a].maxY(), boxes[b].minY() + 1e-6) << "page " << i;
        }
      }
      EXPECT_TRUE(inside(layout.band, page)) << "page " << i;
    }
  }
  // The third page's title wraps: its caption starts below both lines.
  const help::Layout third = help::layoutPage(2, 2);
  EXPECT_EQ(third.title.size(), 2u);
  EXPECT_GE(third.caption.front().box.minY(), third.title.back().box.maxY());
}

TEST(HelpPages, AWindowGetsThePagesDrawnForItsScale) {
  const struct {
    double scale;
    int width;
  } cases[] = {{1, 320}, {1.5, 640}, {2, 640}, {2.5, 960}, {3, 960}};
  for (const auto& k : cases) {
    platform::ui::ImageRef page = platform::ui::resourceImage("help2.png", k.scale);
    ASSERT_TRUE(page) << k.scale;
    EXPECT_EQ(page->width, k.width) << k.scale;
    EXPECT_EQ(page->height, k.width * 3 / 2) << k.scale;
  }
  // A resource drawn at one scale only is found at any.
  EXPECT_TRUE(platform::ui::resourceImage("fluvanename.png", 3));
}

}  // namespace
