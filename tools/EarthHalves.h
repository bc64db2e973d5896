// The globe's earth textures cut from one equirectangular map of the whole
// earth (longitude -180 at the left edge, north at the top).
//
// The sphere of the globe maps each hemisphere's texture across 180 degrees
// of longitude, u growing eastwards, and from the north pole at row 0 to the
// south pole at the last row. Half 0 covers longitudes -180..0 (the file
// "land_shallow_topo_2048_00", drawn on the sphere's second hemisphere),
// half 1 covers 0..180 ("land_shallow_topo_2048_01", the first hemisphere).
//
// Each texel of a side x side half is sampled at its centre from the map,
// bilinearly, wrapping around in longitude and clamped at the poles; a map
// of 2 side x side pixels is therefore copied exactly.
#ifndef TOOLS_EARTHHALVES_H
#define TOOLS_EARTHHALVES_H

#include <cstdint>
#include <vector>

namespace earth {

// side x side RGBA8 texels (rows top-down) of half 0 or 1 of a map of
// width x height RGBA8 pixels. Empty for a bad half, side or map.
std::vector<std::uint8_t> cutHalf(const std::uint8_t* map, int width, int height, int half,
                                  int side);

// Peak signal-to-noise ratio in dB of the RGB channels of two images of
// the same number of RGBA8 texels (alpha is not compared); infinity when
// they are equal, 0 for images of different sizes.
double psnrRgb(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace earth

#endif
