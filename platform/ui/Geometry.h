// Points, sizes, rectangles, affine transforms and colours of the UI kit.
//
// Coordinates are points: the screen is 320 x 480 points, drawn at a scale
// of pixels per point that the host chooses. The y axis points down (top is
// the smaller y). A transform maps (x, y) to (a x + c y + tx, b x + d y + ty)
// and concatenates like the platform's: t1.then(t2) applies t1 first.
// Colours are straight (not premultiplied) components from 0 to 1.
//
// Threads: plain values; any thread.
#ifndef PLATFORM_UI_GEOMETRY_H
#define PLATFORM_UI_GEOMETRY_H

#include <algorithm>
#include <cmath>

namespace platform::ui {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  Rect() = default;
  Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  bool operator==(const Rect&) const = default;

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  // Shrunk by dx on the left and right and dy on top and bottom; a side
  // that would turn negative stays 0, centred where the rectangle was.
  Rect insetBy(double dx, double dy) const {
    dx = std::min(dx, size.width / 2);
    dy = std::min(dy, size.height / 2);
    return Rect(origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy);
  }
};

struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  bool operator==(const AffineTransform&) const = default;
  static AffineTransform identity() { return {}; }
  static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  static AffineTransform rotation(double radians) {
    double cs = std::cos(radians), sn = std::sin(radians);
    return {cs, sn, -sn, cs, 0, 0};
  }
  bool isIdentity() const { return *this == AffineTransform{}; }
  Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  // This transform, then next.
  AffineTransform then(const AffineTransform& n) const {
    return {a * n.a + b * n.c,        a * n.b + b * n.d,        c * n.a + d * n.c,
            c * n.b + d * n.d,        tx * n.a + ty * n.c + n.tx, tx * n.b + ty * n.d + n.ty};
  }
  // This transform turned further by radians (the turn applied first).
  AffineTransform rotated(double radians) const { return rotation(radians).then(*this); }
  double determinant() const { return a * d - b * c; }
  // The inverse; the identity for a singular transform.
  AffineTransform inverted() const {
    double det = determinant();
    if (std::fabs(det) < 1e-12) return {};
    return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
  }
};

struct Color {
  double r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Color&) const = default;
  static Color white(double alpha = 1) { return {1, 1, 1, alpha}; }
  static Color black(double alpha = 1) { return {0, 0, 0, alpha}; }
  static Color gray() { return {0.5, 0.5, 0.5, 1}; }
  static Color clear() { return {0, 0, 0, 0}; }
};

}  // namespace platform::ui

#endif
