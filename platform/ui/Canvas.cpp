#include "platform/ui/Canvas.h"

#include <cmath>
#include <numbers>

#include "platform/ui/Font.h"

namespace platform::ui {

namespace {

constexpr int kSamples = 4;  // per axis
constexpr double kMiterLimit = 10.0;
constexpr double kPi = std::numbers::pi;

double signedArea(const std::vector<Point>& polygon) {
  double area = 0;
  for (std::size_t i = 0, n = polygon.size(); i < n; i++) {
    const Point& a = polygon[i];
    const Point& b = polygon[(i + 1) % n];
    area += a.x * b.y - b.x * a.y;
  }
  return area / 2;
}

// Every stroke piece winds the same way, so that their union is what the
// non-zero rule fills (pieces winding against each other would cancel).
void orient(std::vector<Point>& polygon) {
  if (signedArea(polygon) < 0) std::reverse(polygon.begin(), polygon.end());
}

std::uint8_t toByte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

}  // namespace

Canvas::Canvas(int widthPixels, int heightPixels, double scale)
    : width_(std::max(0, widthPixels)),
      height_(std::max(0, heightPixels)),
      scale_(scale > 0 ? scale : 1.0),
      pixels_(static_cast<std::size_t>(width_) * height_ * 4, 0) {}

void Canvas::clear(Color color) {
  const std::uint8_t a = toByte(color.a);
  const std::uint8_t px[4] = {toByte(color.r * color.a), toByte(color.g * color.a),
                              toByte(color.b * color.a), a};
  for (std::size_t i = 0; i < pixels_.size(); i += 4) {
    for (int c = 0; c < 4; c++) pixels_[i + c] = px[c];
  }
}

void Canvas::save() { saved_.push_back(state_); }

void Canvas::restore() {
  if (saved_.empty()) return;
  state_ = saved_.back();
  saved_.pop_back();
}

void Canvas::translate(double dx, double dy) {
  state_.tx += dx;
  state_.ty += dy;
}

Point Canvas::toPixels(double x, double y) const {
  return {(x + state_.tx) * scale_, (y + state_.ty) * scale_};
}

void Canvas::beginPath() { path_.clear(); }

Canvas::Subpath& Canvas::current() {
  if (path_.empty() || path_.back().closed) {
    Subpath next;
    // A closed subpath's drawing goes on from its start point.
    if (!path_.empty() && !path_.back().points.empty()) {
      next.points.push_back(path_.back().points.front());
    }
    path_.push_back(std::move(next));
  }
  return path_.back();
}

void Canvas::moveTo(double x, double y) {
  Subpath next;
  next.points.push_back(toPixels(x, y));
  if (!path_.empty() && path_.back().points.size() == 1 && !path_.back().closed) {
    path_.back() = std::move(next);  // a lone moveTo is replaced
  } else {
    path_.push_back(std::move(next));
  }
}

void Canvas::lineTo(double x, double y) {
  Subpath& sub = current();
  sub.points.push_back(toPixels(x, y));
}

void Canvas::arcTo(double x1, double y1, double x2, double y2, double radius) {
  Subpath& sub = current();
  const Point p1 = toPixels(x1, y1);
  if (sub.points.empty()) {
    sub.points.push_back(p1);
    return;
  }
  const Point p0 = sub.points.back();
  const Point p2 = toPixels(x2, y2);
  const double r = radius * scale_;
  double v1x = p0.x - p1.x, v1y = p0.y - p1.y;
  double v2x = p2.x - p1.x, v2y = p2.y - p1.y;
  const double l1 = std::hypot(v1x, v1y), l2 = std::hypot(v2x, v2y);
  if (!(r > 0) || l1 < 1e-9 || l2 < 1e-9) {
    sub.points.push_back(p1);
    return;
  }
  v1x /= l1, v1y /= l1, v2x /= l2, v2y /= l2;
  const double cosTheta = std::clamp(v1x * v2x + v1y * v2y, -1.0, 1.0);
  const double theta = std::acos(cosTheta);
  if (theta < 1e-6 || std::fabs(theta - kPi) < 1e-6) {
    sub.points.push_back(p1);
    return;
  }
  const double t = r / std::tan(theta / 2);
  const Point t1{p1.x + v1x * t, p1.y + v1y * t};
  const Point t2{p1.x + v2x * t, p1.y + v2y * t};
  double bx = v1x + v2x, by = v1y + v2y;
  const double bl = std::hypot(bx, by);
  bx /= bl, by /= bl;
  const double d = r / std::sin(theta / 2);
  const Point c{p1.x + bx * d, p1.y + by * d};
  const double a1 = std::atan2(t1.y - c.y, t1.x - c.x);
  double delta = std::atan2(t2.y - c.y, t2.x - c.x) - a1;
  while (delta > kPi) delta -= 2 * kPi;
  while (delta < -kPi) delta += 2 * kPi;
  const int steps = std::max(2, static_cast<int>(std::ceil(std::fabs(delta) * std::sqrt(r) * 1.5)));
  sub.points.push_back(t1);
  for (int i = 1; i <= steps; i++) {
    const double a = a1 + delta * i / steps;
    sub.points.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
  }
}

void Canvas::addRect(const Rect& rect) {
  moveTo(rect.minX(), rect.minY());
  lineTo(rect.maxX(), rect.minY());
  lineTo(rect.maxX(), rect.maxY());
  lineTo(rect.minX(), rect.maxY());
  closePath();
}

void Canvas::addRoundedRect(const Rect& rect, double radius) {
  const double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
  moveTo(rect.minX(), rect.midY());
  arcTo(rect.minX(), rect.minY(), rect.midX(), rect.minY(), r);
  arcTo(rect.maxX(), rect.minY(), rect.maxX(), rect.midY(), r);
  arcTo(rect.maxX(), rect.maxY(), rect.midX(), rect.maxY(), r);
  arcTo(rect.minX(), rect.maxY(), rect.minX(), rect.midY(), r);
  closePath();
}

void Canvas::closePath() {
  if (!path_.empty() && !path_.back().closed && !path_.back().points.empty()) {
    path_.back().closed = true;
  }
}

bool Canvas::pathIsEmpty() const {
  for (const Subpath& sub : path_) {
    if (sub.points.size() > 1) return false;
  }
  return true;
}

void Canvas::drawPath(PathMode mode) {
  const bool fill = mode != PathMode::Stroke;
  const bool evenOdd = mode == PathMode::EOFill || mode == PathMode::EOFillStroke;
  const bool stroke =
      mode == PathMode::Stroke || mode == PathMode::FillStroke || mode == PathMode::EOFillStroke;
  if (fill) {
    std::vector<Polygon> polygons;
    for (const Subpath& sub : path_) {
      if (sub.points.size() > 2) polygons.push_back(sub.points);
    }
    fillPolygons(polygons, evenOdd, state_.fill);
  }
  if (stroke && state_.lineWidth > 0) fillPolygons(strokePolygons(), false, state_.stroke);
  path_.clear();
}

std::vector<Canvas::Polygon> Canvas::strokePolygons() const {
  std::vector<Polygon> pieces;
  const double hw = state_.lineWidth * scale_ / 2;
  for (const Subpath& sub : path_) {
    // Consecutive repeats carry no direction.
    std::vector<Point> pts;
    for (const Point& p : sub.points) {
      if (pts.empty() || std::hypot(p.x - pts.back().x, p.y - pts.back().y) > 1e-9) pts.push_back(p);
    }
    if (sub.closed && pts.size() > 1 &&
        std::hypot(pts.front().x - pts.back().x, pts.front().y - pts.back().y) <= 1e-9) {
      pts.pop_back();
    }
    const std::size_t n = pts.size();
    if (n < 2) continue;
    const std::size_t segments = sub.closed ? n : n - 1;
    auto normal = [&](std::size_t i) {
      const Point& a = pts[i];
      const Point& b = pts[(i + 1) % n];
      const double l = std::hypot(b.x - a.x, b.y - a.y);
      return Point{-(b.y - a.y) / l, (b.x - a.x) / l};
    };
    for (std::size_t i = 0; i < segments; i++) {
      const Point& a = pts[i];
      const Point& b = pts[(i + 1) % n];
      const Point nm = normal(i);
      Polygon quad = {{a.x + nm.x * hw, a.y + nm.y * hw},
                      {b.x + nm.x * hw, b.y + nm.y * hw},
                      {b.x - nm.x * hw, b.y - nm.y * hw},
                      {a.x - nm.x * hw, a.y - nm.y * hw}};
      orient(quad);
      pieces.push_back(std::move(quad));
    }
    // Joins at every vertex between two segments.
    for (std::size_t v = sub.closed ? 0 : 1; v < (sub.closed ? n : n - 1); v++) {
      const std::size_t before = (v + n - 1) % n;
      const Point n1 = normal(before);
      const Point n2 = normal(v);
      const Point& p = pts[v];
      const double cross = n1.x * n2.y - n1.y * n2.x;
      if (std::fabs(cross) < 1e-9 && n1.x * n2.x + n1.y * n2.y > 0) continue;  // straight on
      // The outer side is where the normals turn away from each other.
      const double side = cross > 0 ? -1.0 : 1.0;
      const Point o1{p.x + side * n1.x * hw, p.y + side * n1.y * hw};
      const Point o2{p.x + side * n2.x * hw, p.y + side * n2.y * hw};
      double mx = n1.x + n2.x, my = n1.y + n2.y;
      const double ml = std::hypot(mx, my);
      Polygon join;
      const double cosHalf = ml / 2;  // cosine of half the angle between normals
      if (ml > 1e-9 && 1.0 / cosHalf <= kMiterLimit) {
        mx /= ml, my /= ml;
        const double len = hw / cosHalf;
        join = {p, o1, {p.x + side * mx * len, p.y + side * my * len}, o2};
      } else {
        join = {p, o1, o2};
      }
      orient(join);
      pieces.push_back(std::move(join));
    }
  }
  return pieces;
}

void Canvas::fillPolygons(const std::vector<Polygon>& polygons, bool evenOdd, Color color) {
  struct Edge {
    double x0, y0, x1, y1;
    int dir;
  };
  std::vector<Edge> edges;
  double minY = height_, maxY = 0;
  for (const Polygon& poly : polygons) {
    for (std::size_t i = 0, n = poly.size(); i < n; i++) {
      const Point& a = poly[i];
      const Point& b = poly[(i + 1) % n];
      if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
        continue;
      }
      if (a.y == b.y) continue;
      if (a.y < b.y) {
        edges.push_back({a.x, a.y, b.x, b.y, 1});
      } else {
        edges.push_back({b.x, b.y, a.x, a.y, -1});
      }
      minY = std::min({minY, a.y, b.y});
      maxY = std::max({maxY, a.y, b.y});
    }
  }
  if (edges.empty() || width_ == 0 || height_ == 0) return;
  const bool aa = state_.antialias;
  const int samples = aa ? kSamples : 1;
  const int rowFirst = std::max(0, static_cast<int>(std::floor(minY)));
  const int rowLast = std::min(height_ - 1, static_cast<int>(std::ceil(maxY)));
  std::vector<int> coverage(static_cast<std::size_t>(width_));
  std::vector<std::pair<double, int>> crossings;
  const double alpha = color.a * state_.alpha;
  const double pr = color.r * alpha, pg = color.g * alpha, pb = color.b * alpha;
  const int full = samples * samples;
  for (int row = rowFirst; row <= rowLast; row++) {
    std::fill(coverage.begin(), coverage.end(), 0);
    bool any = false;
    for (int k = 0; k < samples; k++) {
      const double y = row + (k + 0.5) / samples;
      crossings.clear();
      for (const Edge& e : edges) {
        if (y < e.y0 || y >= e.y1) continue;
        crossings.push_back({e.x0 + (y - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0), e.dir});
      }
      if (crossings.empty()) continue;
      std::sort(crossings.begin(), crossings.end());
      int winding = 0;
      for (std::size_t i = 0; i + 1 < crossings.size(); i++) {
        winding += crossings[i].second;
        const bool inside = evenOdd ? (winding & 1) != 0 : winding != 0;
        if (!inside) continue;
        const double xa = crossings[i].first, xb = crossings[i + 1].first;
        const double limit = static_cast<double>(width_) * samples;
        double first = std::ceil(xa * samples - 0.5), last = std::ceil(xb * samples - 0.5);
        first = std::clamp(first, 0.0, limit);
        last = std::clamp(last, 0.0, limit);
        for (long s = static_cast<long>(first); s < static_cast<long>(last); s++) {
          coverage[static_cast<std::size_t>(s / samples)] += 1;
          any = true;
        }
      }
    }
    if (!any) continue;
    std::uint8_t* line = pixels_.data() + static_cast<std::size_t>(row) * width_ * 4;
    for (int x = 0; x < width_; x++) {
      const int cov = coverage[static_cast<std::size_t>(x)];
      if (cov == 0) continue;
      const double share = static_cast<double>(cov) / full;
      const double sa = alpha * share;
      std::uint8_t* px = line + x * 4;
      const double keep = 1.0 - sa;
      px[0] = toByte(pr * share + px[0] / 255.0 * keep);
      px[1] = toByte(pg * share + px[1] / 255.0 * keep);
      px[2] = toByte(pb * share + px[2] / 255.0 * keep);
      px[3] = toByte(sa + px[3] / 255.0 * keep);
    }
  }
}

void Canvas::fillRect(const Rect& rect) {
  std::vector<Subpath> saved;
  saved.swap(path_);
  addRect(rect);
  drawPath(PathMode::Fill);
  path_.swap(saved);
}

void Canvas::strokeRect(const Rect& rect) {
  std::vector<Subpath> saved;
  saved.swap(path_);
  addRect(rect);
  drawPath(PathMode::Stroke);
  path_.swap(saved);
}

void Canvas::drawImage(const std::uint8_t* src, int w, int h, const Rect& into) {
  if (!src || w <= 0 || h <= 0 || into.isEmpty()) return;
  const Point a = toPixels(into.minX(), into.minY());
  const Point b = toPixels(into.maxX(), into.maxY());
  const int x0 = std::max(0, static_cast<int>(std::floor(a.x)));
  const int y0 = std::max(0, static_cast<int>(std::floor(a.y)));
  const int x1 = std::min(width_, static_cast<int>(std::ceil(b.x)));
  const int y1 = std::min(height_, static_cast<int>(std::ceil(b.y)));
  const double sx = w / (b.x - a.x), sy = h / (b.y - a.y);
  auto at = [&](int x, int y, int c) {
    x = std::clamp(x, 0, w - 1);
    y = std::clamp(y, 0, h - 1);
    return src[(static_cast<std::size_t>(y) * w + x) * 4 + c] / 255.0;
  };
  for (int y = y0; y < y1; y++) {
    const double v = (y + 0.5 - a.y) * sy - 0.5;
    if (v < -0.5 || v > h - 0.5) continue;
    const int iy = static_cast<int>(std::floor(v));
    const double fy = v - iy;
    for (int x = x0; x < x1; x++) {
      const double u = (x + 0.5 - a.x) * sx - 0.5;
      if (u < -0.5 || u > w - 0.5) continue;
      const int ix = static_cast<int>(std::floor(u));
      const double fx = u - ix;
      double s[4];
      for (int c = 0; c < 4; c++) {
        s[c] = (at(ix, iy, c) * (1 - fx) + at(ix + 1, iy, c) * fx) * (1 - fy) +
               (at(ix, iy + 1, c) * (1 - fx) + at(ix + 1, iy + 1, c) * fx) * fy;
        s[c] *= state_.alpha;
      }
      std::uint8_t* px = pixels_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
      const double keep = 1.0 - s[3];
      for (int c = 0; c < 4; c++) px[c] = toByte(s[c] + px[c] / 255.0 * keep);
    }
  }
}

void Canvas::drawMask(const std::uint8_t* coverage, int w, int h, Point topLeft, Color color) {
  if (!coverage || w <= 0 || h <= 0) return;
  const Point origin = toPixels(topLeft.x, topLeft.y);
  const int ox = static_cast<int>(std::lround(origin.x));
  const int oy = static_cast<int>(std::lround(origin.y));
  const double alpha = color.a * state_.alpha;
  for (int y = 0; y < h; y++) {
    const int py = oy + y;
    if (py < 0 || py >= height_) continue;
    for (int x = 0; x < w; x++) {
      const int px = ox + x;
      if (px < 0 || px >= width_) continue;
      const double share = coverage[static_cast<std::size_t>(y) * w + x] / 255.0;
      if (share <= 0) continue;
      const double sa = alpha * share;
      std::uint8_t* p = pixels_.data() + (static_cast<std::size_t>(py) * width_ + px) * 4;
      const double keep = 1.0 - sa;
      p[0] = toByte(color.r * sa + p[0] / 255.0 * keep);
      p[1] = toByte(color.g * sa + p[1] / 255.0 * keep);
      p[2] = toByte(color.b * sa + p[2] / 255.0 * keep);
      p[3] = toByte(sa + p[3] / 255.0 * keep);
    }
  }
}

void Canvas::drawText(const std::string& text, const Font& font, Point topLeft, Color color) {
  Font::Mask mask = font.render(text, scale_);
  drawMask(mask.coverage.data(), mask.width, mask.height, topLeft, color);
}

}  // namespace platform::ui
