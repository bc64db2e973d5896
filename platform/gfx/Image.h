// Decoded images for textures and the interface: premultiplied RGBA8.
//
// Files are read through stb_image (PNG, JPEG and the other formats it
// knows). The dimensions are checked from the header before anything is
// decoded: images wider or taller than kLargestSide are refused, so a small
// hostile file cannot make us allocate gigabytes. Pixels come out as
// 8-bit R, G, B, A in that byte order, rows top-down, with the colour
// multiplied by alpha (rounded), which is what blending with
// (ONE, ONE_MINUS_SRC_ALPHA) expects.
//
// writePng() writes plain (not premultiplied) RGBA8 rows as given; tests
// use it for golden images and read-backs.
//
// Threads: free functions on values; any thread.
#ifndef PLATFORM_GFX_IMAGE_H
#define PLATFORM_GFX_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::gfx {

struct Image {
  static constexpr int kLargestSide = 4096;

  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 4 bytes, premultiplied

  // The image in a file, or none with the reason in *error.
  static std::optional<Image> load(const std::string& path, std::string* error = nullptr);
  // The image encoded in memory.
  static std::optional<Image> decode(std::string_view bytes, std::string* error = nullptr);
  // The same file's pixels without premultiplying (tools and tests).
  static std::optional<Image> loadStraight(const std::string& path, std::string* error = nullptr);
};

// Multiplies the colour of each RGBA8 pixel by its alpha, rounded.
void premultiply(std::vector<std::uint8_t>& rgba);

// Writes width x height RGBA8 rows (top-down) as a PNG file.
bool writePng(const std::string& path, int width, int height, const std::uint8_t* rgba,
              std::string* error = nullptr);

}  // namespace platform::gfx

#endif
