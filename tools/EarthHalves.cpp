#include "tools/EarthHalves.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace earth {

std::vector<std::uint8_t> cutHalf(const std::uint8_t* map, int width, int height, int half,
                                  int side) {
  if (map == nullptr || width < 1 || height < 1 || side < 1 || (half != 0 && half != 1)) {
    return {};
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(side) * side * 4);
  const auto at = [&](int x, int y, int c) {
    x = ((x % width) + width) % width;
    y = std::clamp(y, 0, height - 1);
    return double(map[(static_cast<std::size_t>(y) * width + x) * 4 + c]);
  };
  for (int ty = 0; ty < side; ty++) {
    // The texel's centre in map pixels: longitude and latitude are linear in
    // x and y, so only the half's offset and the scale differ.
    const double my = (ty + 0.5) * height / side - 0.5;
    const int y0 = static_cast<int>(std::floor(my));
    const double fy = my - y0;
    for (int tx = 0; tx < side; tx++) {
      const double mx = (half + (tx + 0.5) / side) * width / 2.0 - 0.5;
      const int x0 = static_cast<int>(std::floor(mx));
      const double fx = mx - x0;
      std::uint8_t* texel = out.data() + (static_cast<std::size_t>(ty) * side + tx) * 4;
      for (int c = 0; c < 4; c++) {
        const double top = at(x0, y0, c) * (1 - fx) + at(x0 + 1, y0, c) * fx;
        const double bottom = at(x0, y0 + 1, c) * (1 - fx) + at(x0 + 1, y0 + 1, c) * fx;
        texel[c] = static_cast<std::uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  return out;
}

double psnrRgb(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty() || a.size() % 4 != 0) {
    return 0;
  }
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); i++) {
    if (i % 4 != 3) {
      const double d = double(a[i]) - double(b[i]);
      sum += d * d;
    }
  }
  if (sum == 0) {
    return std::numeric_limits<double>::infinity();
  }
  const double mse = sum / (a.size() / 4 * 3);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace earth
