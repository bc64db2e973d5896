// make_globe_images: draws the globe's images from first principles, as
// PNGs for pvrtc_encode.
//
//   make_globe_images output-directory
//
// Writes:
//  - land_shallow_topo_2048_00.png, _01.png: the western and eastern
//    halves of an imaginary earth (2048 x 2048 each; north at the top, the
//    western half from longitude -180 to 0, the eastern from 0 to 180).
//    Continents, mountains, shallow seas and ice come from fractal value
//    noise on the unit sphere, so the halves meet without a seam.
//  - earth_ping.png (64 x 64): a soft round glow for the note particles.
//  - marker_texture_sq.png (64 x 64): a beam, bright along its middle.
//  - marker2.png (64 x 64): a glowing ring for sprites and the base marker.
//  - region_marker.png (128 x 128): a thin ring with a faint fill.
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

constexpr double kPi = 3.14159265358979323846;

std::uint32_t hash(int x, int y, int z) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^
                    static_cast<std::uint32_t>(y) * 0xd8163841u ^
                    static_cast<std::uint32_t>(z) * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return h;
}

double lattice(int x, int y, int z) { return (hash(x, y, z) & 0xFFFFFF) / double(0xFFFFFF); }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise in 0..1, continuous in 3D.
double noise(double x, double y, double z) {
  const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y)),
            zi = static_cast<int>(std::floor(z));
  const double fx = smooth(x - xi), fy = smooth(y - yi), fz = smooth(z - zi);
  double result = 0;
  for (int corner = 0; corner < 8; corner++) {
    const int dx = corner & 1, dy = (corner >> 1) & 1, dz = (corner >> 2) & 1;
    const double w = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy) * (dz ? fz : 1 - fz);
    result += w * lattice(xi + dx, yi + dy, zi + dz);
  }
  return result;
}

double fractal(double x, double y, double z, int octaves) {
  double sum = 0, amplitude = 0.5, frequency = 1, total = 0;
  for (int i = 0; i < octaves; i++) {
    sum += amplitude * noise(x * frequency + 17.3 * i, y * frequency, z * frequency);
    total += amplitude;
    amplitude *= 0.5;
    frequency *= 2.03;
  }
  return sum / total;
}

struct Rgb {
  double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// The colour of the imaginary earth at a latitude and longitude (degrees).
Rgb earthAt(double latitude, double longitude) {
  const double lat = latitude * kPi / 180, lon = longitude * kPi / 180;
  const double x = std::cos(lat) * std::sin(lon), y = std::sin(lat),
               z = std::cos(lat) * std::cos(lon);
  const double height = fractal(1.6 * x + 4, 1.6 * y + 4, 1.6 * z + 4, 7);
  const double detail = fractal(9 * x, 9 * y, 9 * z, 3);
  const double sea = 0.52;
  Rgb colour;
  if (height < sea) {
    const double depth = (sea - height) / sea;
    colour = mix(Rgb{38, 96, 160}, Rgb{8, 26, 80}, std::pow(depth * 4, 0.6));
  } else {
    const double up = (height - sea) / (1 - sea);
    const double dryness = fractal(3 * x + 9, 3 * y, 3 * z, 4);
    const Rgb lowland = mix(Rgb{58, 110, 48}, Rgb{150, 130, 82}, (dryness - 0.4) * 3);
    colour = mix(lowland, Rgb{120, 104, 90}, up * 2.2);
    colour = mix(colour, Rgb{235, 235, 240}, (up - 0.55) * 4);
  }
  const double ice = std::fabs(latitude) + 8 * (detail - 0.5);
  colour = mix(colour, Rgb{240, 244, 250}, (ice - 68) / 6);
  const double shade = 0.9 + 0.2 * detail;
  return {colour.r * shade, colour.g * shade, colour.b * shade};
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

bool earthHalf(const std::string& directory, const std::string& name, double firstLongitude) {
  const int side = 2048;
  Pixels pixels(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; y++) {
    const double latitude = 90 - 180 * (y + 0.5) / side;
    for (int x = 0; x < side; x++) {
      const double longitude = firstLongitude + 180 * (x + 0.5) / side;
      put(pixels, side, x, y, earthAt(latitude, longitude), 1);
    }
  }
  return write(directory, name, side, pixels);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_globe_images output-directory\n");
    return 2;
  }
  const std::string directory = argv[1];
  if (!platform::Paths::mkdirs(directory)) {
    std::fprintf(stderr, "make_globe_images: cannot make %s\n", directory.c_str());
    return 1;
  }
  bool ok = earthHalf(directory, "land_shallow_topo_2048_00.png", -180) &&
            earthHalf(directory, "land_shallow_topo_2048_01.png", 0);
  ok = ok && round(directory, "earth_ping.png", 64, [](double r, double, double* b, double* a) {
         *b = 1;
         *a = std::pow(std::max(0.0, 1 - r), 1.5);
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
  return ok ? 0 : 1;
}
