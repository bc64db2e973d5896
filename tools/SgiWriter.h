// Writes one-channel Silicon Graphics image files (8 bits, run-length
// encoded or verbatim), the format of the instrument's flare textures. Used
// by the art tool and by the tests that build good and hostile files.
#ifndef TOOLS_SGIWRITER_H
#define TOOLS_SGIWRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sgi {

inline void put16(std::vector<std::uint8_t>& out, std::size_t at, unsigned v) {
  out[at] = static_cast<std::uint8_t>(v >> 8);
  out[at + 1] = static_cast<std::uint8_t>(v);
}
inline void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; i++) out[at + static_cast<std::size_t>(i)] =
      static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// The 512-byte header: magic 474, storage, 1 byte per channel, dimension 2,
// the sizes, pixel range 0..255, the name.
inline std::vector<std::uint8_t> header(bool rle, unsigned width, unsigned height) {
  std::vector<std::uint8_t> out(512, 0);
  put16(out, 0, 474);
  out[2] = rle ? 1 : 0;
  out[3] = 1;
  put16(out, 4, 2);
  put16(out, 6, width);
  put16(out, 8, height);
  put16(out, 10, 1);
  put32(out, 12, 0);
  put32(out, 16, 255);
  const char name[] = "fluvane";
  for (std::size_t i = 0; i < sizeof name - 1; i++) {
    out[24 + i] = static_cast<std::uint8_t>(name[i]);
  }
  return out;
}

// One row packed: runs of three or more equal bytes repeat, the rest go
// literally, at most 127 bytes a packet, a zero count at the end.
inline std::vector<std::uint8_t> packRow(const std::uint8_t* row, std::size_t n) {
  std::vector<std::uint8_t> out;
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && run < 127 && row[i + run] == row[i]) run++;
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    std::size_t start = i, count = 0;
    while (i < n && count < 127) {
      if (i + 2 < n && row[i] == row[i + 1] && row[i] == row[i + 2]) break;
      i++;
      count++;
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    out.insert(out.end(), row + start, row + start + count);
  }
  out.push_back(0);
  return out;
}

// Appends bytes (resize and copy: GCC 12 warns wrongly about insert here).
inline void append(std::vector<std::uint8_t>& out, const std::uint8_t* p, std::size_t n) {
  const std::size_t at = out.size();
  out.resize(at + n);
  for (std::size_t i = 0; i < n; i++) out[at + i] = p[i];
}

// A whole file of width x height bytes, rows bottom-up as given.
inline std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& pixels, unsigned width,
                                        unsigned height, bool rle = true) {
  const std::vector<std::uint8_t> head = header(rle, width, height);
  std::vector<std::uint8_t> out;
  // Room for the worst case: every byte a literal, a count per 127 bytes.
  out.reserve(512 + 8u * height + std::size_t{height} * (width + width / 127 + 2));
  append(out, head.data(), head.size());
  if (!rle) {
    append(out, pixels.data(), pixels.size());
    return out;
  }
  const std::size_t tables = 512 + 8u * height;
  out.resize(tables, 0);
  for (unsigned y = 0; y < height; y++) {
    std::vector<std::uint8_t> packed = packRow(pixels.data() + std::size_t{y} * width, width);
    put32(out, 512 + 4u * y, static_cast<std::uint32_t>(out.size()));
    put32(out, 512 + 4u * height + 4u * y, static_cast<std::uint32_t>(packed.size()));
    append(out, packed.data(), packed.size());
  }
  return out;
}

}  // namespace sgi

#endif
