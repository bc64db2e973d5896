// The UI kit's software canvas: 2D drawing into premultiplied RGBA8 pixels.
//
// A canvas is width x height pixels at a scale of pixels per point; callers
// draw in points (the y axis down) and the canvas maps them through its
// current translation and the scale. The drawing state (fill and stroke
// colours, line width, global alpha, antialiasing, translation) is saved
// and restored as a stack.
//
// Paths are made of subpaths: moveTo, lineTo, the tangent arcTo (a line
// from the current point to where a circle of the radius touches the line
// towards (x1, y1), then the arc to where it touches the line from there
// towards (x2, y2); a radius of 0, or three points in one line, give the
// line to (x1, y1)), addRect and closePath. drawPath draws the path with
// one of the five modes and empties it: fill (non-zero winding), even-odd
// fill, stroke, fill then stroke, even-odd fill then stroke, numbered 0 to 4
// as the platform numbers them. Strokes are centred on the path, with
// mitred joins (limit 10, bevelled beyond) and butt ends.
//
// Antialiasing is by coverage: each pixel is sampled 4 x 4 times and
// painted with the share of samples inside; with antialiasing off only the
// pixel's centre counts. Everything is integer-exact and deterministic, so
// pictures never depend on a library version. Colours are blended
// source-over onto the premultiplied pixels.
//
// Images (premultiplied RGBA8) are drawn into a rectangle with bilinear
// filtering; text is drawn as a coverage mask (see Font) in a colour.
//
// Threads: a canvas is used by one thread at a time.
#ifndef PLATFORM_UI_CANVAS_H
#define PLATFORM_UI_CANVAS_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"

namespace platform::ui {

class Font;

enum class PathMode { Fill = 0, EOFill = 1, Stroke = 2, FillStroke = 3, EOFillStroke = 4 };

class Canvas {
 public:
  // A transparent canvas; sizes below 0 count as 0.
  Canvas(int widthPixels, int heightPixels, double scale = 1.0);

  int width() const { return width_; }
  int height() const { return height_; }
  double scale() const { return scale_; }
  // Premultiplied RGBA8, rows top-down.
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }
  std::vector<std::uint8_t>& pixels() { return pixels_; }

  // Every pixel set to the colour (no blending).
  void clear(Color color = Color::clear());

  void save();
  void restore();
  void translate(double dx, double dy);
  void setFillColor(Color color) { state_.fill = color; }
  void setStrokeColor(Color color) { state_.stroke = color; }
  void setLineWidth(double width) { state_.lineWidth = width < 0 ? 0 : width; }
  void setAlpha(double alpha) { state_.alpha = std::clamp(alpha, 0.0, 1.0); }
  void setShouldAntialias(bool on) { state_.antialias = on; }
  double lineWidth() const { return state_.lineWidth; }

  void beginPath();
  void moveTo(double x, double y);
  void lineTo(double x, double y);
  void arcTo(double x1, double y1, double x2, double y2, double radius);
  void addRect(const Rect& rect);
  // A rectangle with corners rounded by the radius (at most half the
  // shorter side).
  void addRoundedRect(const Rect& rect, double radius);
  void closePath();
  bool pathIsEmpty() const;
  void drawPath(PathMode mode);

  void fillRect(const Rect& rect);
  void strokeRect(const Rect& rect);

  // pixels: w x h premultiplied RGBA8 rows.
  void drawImage(const std::uint8_t* pixels, int w, int h, const Rect& into);
  // An 8-bit coverage mask of w x h pixels, its top-left at the point, in
  // the colour.
  void drawMask(const std::uint8_t* coverage, int w, int h, Point topLeft, Color color);
  // One line of text, its top-left at the point.
  void drawText(const std::string& text, const Font& font, Point topLeft, Color color);

 private:
  struct State {
    Color fill = Color::black();
    Color stroke = Color::black();
    double lineWidth = 1.0;
    double alpha = 1.0;
    bool antialias = true;
    double tx = 0, ty = 0;  // points
  };
  struct Subpath {
    std::vector<Point> points;  // pixels
    bool closed = false;
  };
  using Polygon = std::vector<Point>;

  Point toPixels(double x, double y) const;
  Subpath& current();
  void fillPolygons(const std::vector<Polygon>& polygons, bool evenOdd, Color color);
  std::vector<Polygon> strokePolygons() const;

  int width_;
  int height_;
  double scale_;
  std::vector<std::uint8_t> pixels_;
  State state_;
  std::vector<State> saved_;
  std::vector<Subpath> path_;
};

}  // namespace platform::ui

#endif
