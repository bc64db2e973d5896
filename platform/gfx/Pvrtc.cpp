#include "platform/gfx/Pvrtc.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace platform::gfx {

namespace {

using Colour = std::array<int, 4>;  // r, g, b, a, 0..255

bool sideIsValid(int side) { return side >= 8 && (side & (side - 1)) == 0; }

int expand5(int v) { return (v << 3) | (v >> 2); }
int expand4(int v) { return (v << 4) | v; }
int expand3to4(int v) { return (v << 1) | (v >> 2); }

std::uint32_t readWord(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void writeWord(std::uint8_t* p, std::uint32_t word) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<std::uint8_t>(word >> (8 * i));
}

// Colour A of a colour word: bits 15..1.
Colour colourA(std::uint32_t word) {
  if (word & 0x8000u) {
    int b4 = (word >> 1) & 0xF;
    return {expand5((word >> 10) & 0x1F), expand5((word >> 5) & 0x1F),
            expand5((b4 << 1) | (b4 >> 3)), 255};
  }
  return {expand4((word >> 8) & 0xF), expand4((word >> 4) & 0xF),
          expand4(expand3to4((word >> 1) & 0x7)), expand4(((word >> 12) & 0x7) << 1)};
}

// Colour B of a colour word: bits 31..16.
Colour colourB(std::uint32_t word) {
  if (word & 0x80000000u) {
    return {expand5((word >> 26) & 0x1F), expand5((word >> 21) & 0x1F),
            expand5((word >> 16) & 0x1F), 255};
  }
  return {expand4((word >> 24) & 0xF), expand4((word >> 20) & 0xF), expand4((word >> 16) & 0xF),
          expand4(((word >> 28) & 0x7) << 1)};
}

int quantise(int value, int levels) {
  value = std::clamp(value, 0, 255);
  return (value * levels + 127) / 255;
}

// The colour words of all blocks, row-major by block, and from them the two
// upscaled images in sixteenths (bilinear weights are quarters each way).
struct Planes {
  int side = 0;
  int blocks = 0;
  std::vector<Colour> a, b;  // per block, row-major

  Colour sample(const std::vector<Colour>& plane, int x, int y) const {
    const int xx = x - 2, yy = y - 2;
    const int bx0 = (xx >= 0 ? xx / 4 : (xx - 3) / 4);
    const int by0 = (yy >= 0 ? yy / 4 : (yy - 3) / 4);
    const int fx = xx - 4 * bx0, fy = yy - 4 * by0;
    const int mask = blocks - 1;
    const int x0 = bx0 & mask, x1 = (bx0 + 1) & mask;
    const int y0 = by0 & mask, y1 = (by0 + 1) & mask;
    const Colour& c00 = plane[y0 * blocks + x0];
    const Colour& c10 = plane[y0 * blocks + x1];
    const Colour& c01 = plane[y1 * blocks + x0];
    const Colour& c11 = plane[y1 * blocks + x1];
    Colour out{};
    for (int c = 0; c < 4; c++) {
      out[c] = c00[c] * (4 - fx) * (4 - fy) + c10[c] * fx * (4 - fy) + c01[c] * (4 - fx) * fy +
               c11[c] * fx * fy;
    }
    return out;
  }
};

// A texel from the two upscaled colours (in sixteenths) and its weight of B
// in eighths; rounded to nearest.
void blend(const Colour& a16, const Colour& b16, int weight, std::uint8_t* out) {
  for (int c = 0; c < 4; c++) {
    out[c] = static_cast<std::uint8_t>((a16[c] * (8 - weight) + b16[c] * weight + 64) / 128);
  }
}

constexpr int kStandardWeights[4] = {0, 3, 5, 8};
constexpr int kPunchThroughWeights[4] = {0, 4, 4, 8};

}  // namespace

int pvrtc4SideForLength(std::uint64_t length, int largestSide) {
  if (length < 32 || length > (std::uint64_t{1} << 40)) return 0;
  const int side = static_cast<int>(2.0 * std::sqrt(static_cast<double>(length) / 2.0));
  if (!sideIsValid(side) || side > largestSide) return 0;
  if (static_cast<std::uint64_t>(side) * static_cast<std::uint64_t>(side) / 2 != length) return 0;
  return side;
}

std::uint32_t pvrtcBlockIndex(std::uint32_t bx, std::uint32_t by) {
  std::uint32_t index = 0;
  for (int bit = 0; bit < 16; bit++) {
    index |= ((by >> bit) & 1u) << (2 * bit);
    index |= ((bx >> bit) & 1u) << (2 * bit + 1);
  }
  return index;
}

std::uint32_t pvrtcColourWord(const std::uint8_t a[4], const std::uint8_t b[4], bool punchThrough) {
  std::uint32_t word = punchThrough ? 1u : 0u;
  if (a[3] == 255) {
    word |= 0x8000u | static_cast<std::uint32_t>(quantise(a[0], 31)) << 10 |
            static_cast<std::uint32_t>(quantise(a[1], 31)) << 5 |
            static_cast<std::uint32_t>(quantise(a[2], 15)) << 1;
  } else {
    word |= static_cast<std::uint32_t>(quantise(a[3], 7)) << 12 |
            static_cast<std::uint32_t>(quantise(a[0], 15)) << 8 |
            static_cast<std::uint32_t>(quantise(a[1], 15)) << 4 |
            static_cast<std::uint32_t>(quantise(a[2], 7)) << 1;
  }
  if (b[3] == 255) {
    word |= 0x80000000u | static_cast<std::uint32_t>(quantise(b[0], 31)) << 26 |
            static_cast<std::uint32_t>(quantise(b[1], 31)) << 21 |
            static_cast<std::uint32_t>(quantise(b[2], 31)) << 16;
  } else {
    word |= static_cast<std::uint32_t>(quantise(b[3], 7)) << 28 |
            static_cast<std::uint32_t>(quantise(b[0], 15)) << 24 |
            static_cast<std::uint32_t>(quantise(b[1], 15)) << 20 |
            static_cast<std::uint32_t>(quantise(b[2], 15)) << 16;
  }
  return word;
}

std::vector<std::uint8_t> decodePvrtc4(const std::uint8_t* data, std::size_t length, int side,
                                       bool hasAlpha) {
  if (!data || !sideIsValid(side)) return {};
  const std::size_t expected = static_cast<std::size_t>(side) * static_cast<std::size_t>(side) / 2;
  if (length != expected) return {};
  Planes planes;
  planes.side = side;
  planes.blocks = side / 4;
  const int blocks = planes.blocks;
  const std::size_t count = static_cast<std::size_t>(blocks) * static_cast<std::size_t>(blocks);
  planes.a.resize(count);
  planes.b.resize(count);
  std::vector<std::uint32_t> modulation(count);
  std::vector<bool> punchThrough(count);
  for (int by = 0; by < blocks; by++) {
    for (int bx = 0; bx < blocks; bx++) {
      const std::uint8_t* block = data + 8 * static_cast<std::size_t>(pvrtcBlockIndex(bx, by));
      const std::uint32_t colour = readWord(block + 4);
      const std::size_t at = static_cast<std::size_t>(by) * blocks + bx;
      modulation[at] = readWord(block);
      planes.a[at] = colourA(colour);
      planes.b[at] = colourB(colour);
      punchThrough[at] = colour & 1u;
    }
  }
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const std::size_t at = static_cast<std::size_t>(y / 4) * blocks + x / 4;
      const int m = (modulation[at] >> (2 * ((y % 4) * 4 + x % 4))) & 3;
      const Colour a16 = planes.sample(planes.a, x, y);
      const Colour b16 = planes.sample(planes.b, x, y);
      std::uint8_t* out = rgba.data() + (static_cast<std::size_t>(y) * side + x) * 4;
      blend(a16, b16, punchThrough[at] ? kPunchThroughWeights[m] : kStandardWeights[m], out);
      if (punchThrough[at] && m == 2) out[3] = 0;
      if (!hasAlpha) out[3] = 255;
    }
  }
  return rgba;
}

std::vector<std::uint8_t> encodePvrtc4(const std::uint8_t* rgba, int side) {
  if (!rgba || !sideIsValid(side)) return {};
  const int blocks = side / 4;
  const std::size_t count = static_cast<std::size_t>(blocks) * blocks;
  std::vector<std::uint32_t> colourWords(count);
  Planes planes;
  planes.side = side;
  planes.blocks = blocks;
  planes.a.resize(count);
  planes.b.resize(count);
  auto texel = [&](int x, int y) {
    x &= side - 1;
    y &= side - 1;
    return rgba + (static_cast<std::size_t>(y) * side + x) * 4;
  };
  // A and B per block: the extremes along the main axis of the colours of
  // a 6 x 6 neighbourhood around the block.
  for (int by = 0; by < blocks; by++) {
    for (int bx = 0; bx < blocks; bx++) {
      double mean[4] = {0, 0, 0, 0};
      for (int y = 4 * by - 1; y < 4 * by + 5; y++) {
        for (int x = 4 * bx - 1; x < 4 * bx + 5; x++) {
          for (int c = 0; c < 4; c++) mean[c] += texel(x, y)[c];
        }
      }
      for (double& m : mean) m /= 36.0;
      double cov[4][4] = {};
      for (int y = 4 * by - 1; y < 4 * by + 5; y++) {
        for (int x = 4 * bx - 1; x < 4 * bx + 5; x++) {
          double d[4];
          for (int c = 0; c < 4; c++) d[c] = texel(x, y)[c] - mean[c];
          for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) cov[i][j] += d[i] * d[j];
        }
      }
      double axis[4] = {0.5, 0.5, 0.5, 0.5};
      for (int step = 0; step < 8; step++) {
        double next[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; i++)
          for (int j = 0; j < 4; j++) next[i] += cov[i][j] * axis[j];
        double length = std::sqrt(next[0] * next[0] + next[1] * next[1] + next[2] * next[2] +
                                  next[3] * next[3]);
        if (length < 1e-9) break;
        for (int i = 0; i < 4; i++) axis[i] = next[i] / length;
      }
      double low = 0, high = 0;
      for (int y = 4 * by - 1; y < 4 * by + 5; y++) {
        for (int x = 4 * bx - 1; x < 4 * bx + 5; x++) {
          double t = 0;
          for (int c = 0; c < 4; c++) t += (texel(x, y)[c] - mean[c]) * axis[c];
          low = std::min(low, t);
          high = std::max(high, t);
        }
      }
      std::uint8_t a[4], b[4];
      for (int c = 0; c < 4; c++) {
        a[c] =
            static_cast<std::uint8_t>(std::clamp(std::lround(mean[c] + low * axis[c]), 0L, 255L));
        b[c] =
            static_cast<std::uint8_t>(std::clamp(std::lround(mean[c] + high * axis[c]), 0L, 255L));
      }
      // Nearly opaque colours are stored opaque: the translucent forms
      // cannot reach full alpha.
      if (a[3] >= 247) a[3] = 255;
      if (b[3] >= 247) b[3] = 255;
      const std::size_t at = static_cast<std::size_t>(by) * blocks + bx;
      colourWords[at] = pvrtcColourWord(a, b, false);
      planes.a[at] = colourA(colourWords[at]);
      planes.b[at] = colourB(colourWords[at]);
    }
  }
  // Each texel's upscaled A and B in sixteenths, kept up to date as blocks
  // change (the upscaling is linear in the blocks' colours), and its weight
  // of B in eighths.
  const std::size_t texels = static_cast<std::size_t>(side) * side;
  // (Plain arrays, 4 channels a texel: the loops below also run in
  // unoptimised sanitizer builds, at every build.)
  std::vector<int> upA(4 * texels), upB(4 * texels);
  std::vector<std::uint8_t> weights(texels);
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const std::size_t t = static_cast<std::size_t>(y) * side + x;
      const Colour a16 = planes.sample(planes.a, x, y), b16 = planes.sample(planes.b, x, y);
      std::copy(a16.begin(), a16.end(), upA.begin() + 4 * t);
      std::copy(b16.begin(), b16.end(), upB.begin() + 4 * t);
    }
  }
  // Per texel, the modulation whose blend comes closest to the image.
  std::vector<std::uint32_t> modulation(count);
  auto chooseModulation = [&] {
    std::fill(modulation.begin(), modulation.end(), 0u);
    for (int y = 0; y < side; y++) {
      for (int x = 0; x < side; x++) {
        const std::size_t t = static_cast<std::size_t>(y) * side + x;
        const std::uint8_t* want = rgba + 4 * t;
        const int* a16 = upA.data() + 4 * t;
        const int* b16 = upB.data() + 4 * t;
        int best = 0;
        int bestError = 0;
        for (int m = 0; m < 4; m++) {
          const int w = kStandardWeights[m];
          int error = 0;
          for (int c = 0; c < 4; c++) {
            // As blend() rounds; the sums are never negative.
            const int got = (a16[c] * (8 - w) + b16[c] * w + 64) >> 7;
            error += (got - want[c]) * (got - want[c]);
          }
          if (m == 0 || error < bestError) {
            bestError = error;
            best = m;
          }
        }
        const std::size_t at = static_cast<std::size_t>(y / 4) * blocks + x / 4;
        modulation[at] |= static_cast<std::uint32_t>(best) << (2 * ((y % 4) * 4 + x % 4));
        weights[t] = static_cast<std::uint8_t>(kStandardWeights[best]);
      }
    }
  };
  chooseModulation();
  // The fit above sees each block alone, yet every texel blends four
  // blocks' colours, and near an edge two of them are the opposite edge's
  // (the upscaling wraps around). Each pass refits every block's A and B,
  // by least squares against the image over the 7 x 7 texels it reaches
  // (wrapping around as the decoder does), with its neighbours as they
  // stand; then the modulation is chosen anew for the refitted colours.
  // The blocks are refitted in place, each seeing its neighbours' new
  // colours, which converges in a few passes.
  constexpr int kRefinePasses = 3;
  // A block's bilinear weight in quarters at 3 texels before its centre to
  // 3 after, each way.
  constexpr int kPhi[7] = {1, 2, 3, 4, 3, 2, 1};
  for (int pass = 0; pass < kRefinePasses; pass++) {
    for (int by = 0; by < blocks; by++) {
      for (int bx = 0; bx < blocks; bx++) {
        const std::size_t at = static_cast<std::size_t>(by) * blocks + bx;
        const Colour oldA = planes.a[at], oldB = planes.b[at];
        const int* ownA = oldA.data();
        const int* ownB = oldB.data();
        // Decoded texels in 128ths: the sum over blocks of (bilinear
        // weight in sixteenths) x ((8 - w) A + w B). With this block's
        // share p A + q B taken out, the rest r must be matched by it.
        double spp = 0, spq = 0, sqq = 0, spr[4] = {}, sqr[4] = {};
        for (int dy = -3; dy <= 3; dy++) {
          const int y = (4 * by + 2 + dy) & (side - 1);
          for (int dx = -3; dx <= 3; dx++) {
            const int x = (4 * bx + 2 + dx) & (side - 1);
            const std::size_t t = static_cast<std::size_t>(y) * side + x;
            const int phi = kPhi[dy + 3] * kPhi[dx + 3];
            const int w = weights[t];
            const int p = phi * (8 - w), q = phi * w;
            spp += p * p;
            spq += p * q;
            sqq += q * q;
            const int* a16 = upA.data() + 4 * t;
            const int* b16 = upB.data() + 4 * t;
            for (int c = 0; c < 4; c++) {
              const int rest = (a16[c] - phi * ownA[c]) * (8 - w) + (b16[c] - phi * ownB[c]) * w;
              const double r = 128 * rgba[4 * t + c] - rest;
              spr[c] += p * r;
              sqr[c] += q * r;
            }
          }
        }
        // A little pull towards the current colours keeps the system
        // solvable when the texels use only A or only B.
        const double lambda = 1e-3 * (spp + sqq);
        const double m00 = spp + lambda, m11 = sqq + lambda, det = m00 * m11 - spq * spq;
        std::uint8_t a[4], b[4];
        for (int c = 0; c < 4; c++) {
          const double ra = spr[c] + lambda * ownA[c], rb = sqr[c] + lambda * ownB[c];
          const double va = (m11 * ra - spq * rb) / det, vb = (m00 * rb - spq * ra) / det;
          a[c] = static_cast<std::uint8_t>(std::clamp(std::lround(va), 0L, 255L));
          b[c] = static_cast<std::uint8_t>(std::clamp(std::lround(vb), 0L, 255L));
        }
        if (a[3] >= 247) a[3] = 255;
        if (b[3] >= 247) b[3] = 255;
        colourWords[at] = pvrtcColourWord(a, b, false);
        planes.a[at] = colourA(colourWords[at]);
        planes.b[at] = colourB(colourWords[at]);
        int deltaA[4], deltaB[4];
        bool changed = false;
        for (int c = 0; c < 4; c++) {
          deltaA[c] = planes.a[at][c] - ownA[c];
          deltaB[c] = planes.b[at][c] - ownB[c];
          changed = changed || deltaA[c] != 0 || deltaB[c] != 0;
        }
        if (!changed) continue;
        for (int dy = -3; dy <= 3; dy++) {
          const int y = (4 * by + 2 + dy) & (side - 1);
          for (int dx = -3; dx <= 3; dx++) {
            const int x = (4 * bx + 2 + dx) & (side - 1);
            const int phi = kPhi[dy + 3] * kPhi[dx + 3];
            int* a16 = upA.data() + 4 * (static_cast<std::size_t>(y) * side + x);
            int* b16 = upB.data() + 4 * (static_cast<std::size_t>(y) * side + x);
            for (int c = 0; c < 4; c++) {
              a16[c] += phi * deltaA[c];
              b16[c] += phi * deltaB[c];
            }
          }
        }
      }
    }
    chooseModulation();
  }
  std::vector<std::uint8_t> data(count * 8);
  for (int by = 0; by < blocks; by++) {
    for (int bx = 0; bx < blocks; bx++) {
      const std::size_t at = static_cast<std::size_t>(by) * blocks + bx;
      std::uint8_t* block = data.data() + 8 * static_cast<std::size_t>(pvrtcBlockIndex(bx, by));
      writeWord(block, modulation[at]);
      writeWord(block + 4, colourWords[at]);
    }
  }
  return data;
}

}  // namespace platform::gfx
