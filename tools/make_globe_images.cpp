// make_globe_images: draws the globe's images from first principles, as
// PNGs for pvrtc_encode.
//
//   make_globe_images output-directory [button-directory]
//
// Writes (the earth's halves come from a map: make_earth_halves):
//  - earth_ping.png (64 x 64): a soft round glow for the note particles.
//  - marker_texture_sq.png (64 x 64): a beam, bright along its middle.
//  - marker2.png (64 x 64): a glowing ring for sprites and the base marker.
//  - region_marker.png (128 x 128): a thin ring with a faint fill.
//  - into the button directory (default: the output directory), the globe
//    screen's name button: fluvanename.png (256 x 64, a rounded dark pill
//    with a small arrow at its right end, where the title leaves room) and
//    fluvanename_top.png (the same, rounded only at the top: the list of
//    filters opens below it).
// Everything is deterministic: the same files on every machine.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"

namespace {

struct Rgb {
  double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

using Pixels = std::vector<std::uint8_t>;

void put(Pixels& pixels, int side, int x, int y, Rgb c, double alpha) {
  std::uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * side + x) * 4;
  p[0] = static_cast<std::uint8_t>(std::clamp(c.r, 0.0, 255.0));
  p[1] = static_cast<std::uint8_t>(std::clamp(c.g, 0.0, 255.0));
  p[2] = static_cast<std::uint8_t>(std::clamp(c.b, 0.0, 255.0));
  p[3] = static_cast<std::uint8_t>(std::clamp(alpha * 255, 0.0, 255.0));
}

bool write(const std::string& directory, const std::string& name, int side, const Pixels& pixels) {
  std::string error;
  if (!platform::gfx::writePng(platform::Paths::join(directory, name), side, side, pixels.data(),
                               &error)) {
    std::fprintf(stderr, "make_globe_images: %s\n", error.c_str());
    return false;
  }
  return true;
}

// A round image from a function of the distance to the centre (0 at the
// centre, 1 at the edge) giving brightness and alpha.
template <typename Fn>
bool round(const std::string& directory, const std::string& name, int side, Fn shape) {
  Pixels pixels(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const double dx = (x + 0.5 - side / 2.0) / (side / 2.0);
      const double dy = (y + 0.5 - side / 2.0) / (side / 2.0);
      double brightness = 0, alpha = 0;
      shape(std::sqrt(dx * dx + dy * dy), dx, &brightness, &alpha);
      put(pixels, side, x, y, Rgb{255 * brightness, 255 * brightness, 255 * brightness}, alpha);
    }
  }
  return write(directory, name, side, pixels);
}

// The name button's background: a dark, translucent rounded rectangle with
// a light rim and a small arrow near its right end (pointing down when
// closed, up when the list is open).
bool nameButton(const std::string& directory, const std::string& name, bool open) {
  const int width = 256, height = 64;
  const double radius = 24, rim = 2.5;
  Pixels pixels(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      const double px = x + 0.5, py = y + 0.5;
      // Distance outside the rounded rectangle (negative inside).
      const double cx = std::clamp(px, radius, width - radius);
      const double cy = open ? std::max(py, radius) : std::clamp(py, radius, height - radius);
      const double inside = radius - std::hypot(px - cx, py - cy);
      const double coverage = std::clamp(inside + 0.5, 0.0, 1.0);
      const double edge = std::clamp(rim - inside + 0.5, 0.0, 1.0);
      Rgb colour = mix(Rgb{20, 24, 40}, Rgb{200, 210, 235}, edge);
      double alpha = coverage * (0.7 + 0.3 * edge);
      // The arrow: a small triangle centred 16 points from the right end.
      const double ax = px - (width - 24), ay = (py - height / 2.0) * (open ? -1 : 1);
      if (ay > -6 && ay < 6 && std::fabs(ax) < (6 - ay) * 0.8) {
        colour = Rgb{230, 235, 250};
        alpha = coverage;
      }
      put(pixels, width, x, y, colour, alpha);
    }
  }
  std::string error;
  if (!platform::gfx::writePng(platform::Paths::join(directory, name), width, height,
                               pixels.data(), &error)) {
    std::fprintf(stderr, "make_globe_images: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_globe_images output-directory [button-directory]\n");
    return 2;
  }
  const std::string directory = argv[1];
  const std::string buttons = argc == 3 ? argv[2] : argv[1];
  for (const std::string& folder : {directory, buttons}) {
    if (!platform::Paths::mkdirs(folder)) {
      std::fprintf(stderr, "make_globe_images: cannot make %s\n", folder.c_str());
      return 1;
    }
  }
  // The globe reads the glow without alpha (and adds it to the screen), so
  // its shape is in its brightness; alpha follows for a reader that keeps it.
  bool ok = round(directory, "earth_ping.png", 64, [](double r, double, double* b, double* a) {
         *b = std::pow(std::max(0.0, 1 - r), 1.5);
         *a = *b;
       });
  ok = ok &&
       round(directory, "marker_texture_sq.png", 64, [](double, double dx, double* b, double* a) {
         const double across = std::max(0.0, 1 - std::fabs(dx));
         *b = 0.6 + 0.4 * across;
         *a = across * across;
       });
  ok = ok && round(directory, "marker2.png", 64, [](double r, double, double* b, double* a) {
         *b = 1;
         const double ring = std::exp(-std::pow((r - 0.6) / 0.15, 2));
         *a = std::clamp(std::max(ring, 0.5 * std::max(0.0, 1 - r / 0.4)), 0.0, 1.0);
       });
  ok = ok && round(directory, "region_marker.png", 128, [](double r, double, double* b, double* a) {
         *b = 1;
         const double ring = std::exp(-std::pow((r - 0.85) / 0.05, 2));
         *a = r < 1 ? std::max(ring, 0.15) : ring;
       });
  ok = ok && nameButton(buttons, "fluvanename.png", false) &&
       nameButton(buttons, "fluvanename_top.png", true);
  return ok ? 0 : 1;
}
