// The one-channel SGI image reader of the instrument graphics, apart from
// the drawing so that the fuzz target can build it alone.
#include <algorithm>
#include <new>
#include <string>

#include "Classes/FluvaneGfx.h"

namespace FluvaneGfx {
namespace {

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}
unsigned be16(const std::uint8_t* p) { return (unsigned{p[0]} << 8) | unsigned{p[1]}; }

Luminance fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return {};
}

}  // namespace

Luminance decodeLuminance(const std::uint8_t* data, std::size_t size, std::string* error) {
  if (!data || size < 512) return fail(error, "shorter than its 512-byte header");
  if (size > kLargestImageFile) return fail(error, "larger than any image it could hold");
  if (be16(data) != 474) return fail(error, "not an SGI image (magic)");
  const unsigned storage = data[2];
  const unsigned bytesPerChannel = data[3];
  const unsigned dimension = be16(data + 4);
  unsigned xsize = be16(data + 6), ysize = be16(data + 8), zsize = be16(data + 10);
  if (storage > 1) return fail(error, "unknown storage");
  if (bytesPerChannel != 1) return fail(error, "not 8 bits per channel");
  if (dimension < 1 || dimension > 3) return fail(error, "bad dimension");
  if (dimension == 1) ysize = 1;
  if (dimension < 3) zsize = 1;
  if (zsize != 1) return fail(error, "not a one-channel image");
  if (xsize < 1 || ysize < 1) return fail(error, "empty image");
  if (xsize > kLargestSide || ysize > kLargestSide) return fail(error, "larger than 4096");

  const std::size_t width = xsize, height = ysize, rows = ysize * std::size_t{zsize};
  Luminance out;
  out.pixels.reset(new (std::nothrow) std::uint8_t[width * height]);
  if (!out.pixels) return fail(error, "out of memory");
  out.width = static_cast<int>(xsize);
  out.height = static_cast<int>(ysize);
  out.channels = static_cast<int>(zsize);

  if (storage == 0) {
    if (size - 512 < width * height) return fail(error, "pixels run past the end of the file");
    std::copy(data + 512, data + 512 + width * height, out.pixels.get());
    return out;
  }
  // Run-length encoded: row starts, then row lengths, 4 bytes each.
  const std::size_t tables = 512 + 8 * rows;
  if (tables > size) return fail(error, "row tables run past the end of the file");
  for (std::size_t row = 0; row < height; row++) {
    const std::size_t start = be32(data + 512 + 4 * row);
    const std::size_t length = be32(data + 512 + 4 * rows + 4 * row);
    if (start >= size || length > size - start) {
      return fail(error, "row " + std::to_string(row) + " lies outside the file");
    }
    const std::uint8_t* p = data + start;
    const std::uint8_t* end = p + length;
    std::uint8_t* dst = out.pixels.get() + row * width;
    std::size_t filled = 0;
    while (p < end) {
      const unsigned count = *p & 0x7fu;
      const bool literal = (*p & 0x80u) != 0;
      p++;
      if (count == 0) break;
      if (count > width - filled) {
        return fail(error, "row " + std::to_string(row) + " runs past its width");
      }
      if (literal) {
        if (static_cast<std::size_t>(end - p) < count) {
          return fail(error, "row " + std::to_string(row) + " runs past its length");
        }
        std::copy(p, p + count, dst + filled);
        p += count;
      } else {
        if (p >= end) return fail(error, "row " + std::to_string(row) + " runs past its length");
        std::fill(dst + filled, dst + filled + count, *p);
        p++;
      }
      filled += count;
    }
    if (filled != width) return fail(error, "row " + std::to_string(row) + " is short");
  }
  return out;
}

}  // namespace FluvaneGfx
