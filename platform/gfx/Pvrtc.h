// PVRTC at 4 bits per pixel, decoded in software (Mesa has no PVRTC) and
// encoded by a simple encoder of our own.
//
// The data of a square texture of side x side texels (side a power of two,
// at least 8) is side * side / 2 bytes: one 8-byte block per 4 x 4 texels,
// the blocks in Morton order (block (bx, by) at the index whose bits
// interleave those of by, in the even places, and bx, in the odd ones).
// A block is two little-endian 32-bit words:
//  - modulation: 2 bits per texel, row-major from the least significant
//    bits (texel (x, y) of the block at bit 2 * (4y + x));
//  - colour: colour B in bits 31..16 (bit 31 set: opaque RGB 5:5:5, else
//    ARGB 3:4:4:4), colour A in bits 15..1 (bit 15 set: opaque RGB 5:5:4,
//    else ARGB 3:4:4:3), and the mode in bit 0.
// Colours A and B of all blocks form two images at a quarter of the
// resolution; each is upscaled bilinearly with a block's value at texel
// (4bx + 2, 4by + 2) and wrap-around at the edges. A texel then blends its
// A and B by its modulation value m: in standard mode (bit 0 clear) with
// weights 0, 3/8, 5/8, 1 for B; in punch-through mode with 0, 1/2, 1/2 and
// 1, where m = 2 also makes the texel transparent (alpha 0).
//
// Without alpha (the RGB format) every decoded texel is opaque.
//
// Threads: pure functions; any thread.
#ifndef PLATFORM_GFX_PVRTC_H
#define PLATFORM_GFX_PVRTC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::gfx {

// The side of a square 4 bpp texture of that many bytes, by the file rule
// side = 2 * sqrt(length / 2) truncated; 0 unless the length is exactly
// side * side / 2 for a power-of-two side from 8 to largestSide.
int pvrtc4SideForLength(std::uint64_t length, int largestSide);

// The index of block (bx, by) in Morton order.
std::uint32_t pvrtcBlockIndex(std::uint32_t bx, std::uint32_t by);

// Decodes side * side / 2 bytes into side * side RGBA8 texels (rows
// top-down: row 0 is the first row of the data). Empty when the side is not
// a power of two of at least 8 or the length does not match it.
std::vector<std::uint8_t> decodePvrtc4(const std::uint8_t* data, std::size_t length, int side,
                                       bool hasAlpha);

// Encodes side * side RGBA8 texels (straight alpha) as 4 bpp data in
// standard mode. Empty when the side is not a power of two of at least 8.
std::vector<std::uint8_t> encodePvrtc4(const std::uint8_t* rgba, int side);

// One block's colour word from two RGBA8 colours, each stored opaque when
// its alpha is 255 and translucent otherwise, quantised to nearest.
std::uint32_t pvrtcColourWord(const std::uint8_t a[4], const std::uint8_t b[4], bool punchThrough);

}  // namespace platform::gfx

#endif
