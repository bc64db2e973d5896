#include "platform/gfx/Image.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <climits>

#include "platform/Paths.h"

namespace platform::gfx {

namespace {

std::optional<Image> refuse(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return std::nullopt;
}

std::optional<Image> decodeImage(std::string_view bytes, bool premultiplied, std::string* error) {
  if (bytes.empty()) return refuse(error, "empty image data");
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    return refuse(error, "image data too large");
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) {
    return refuse(error, std::string("not an image: ") + stbi_failure_reason());
  }
  if (width <= 0 || height <= 0 || width > Image::kLargestSide || height > Image::kLargestSide) {
    return refuse(error, "image of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels is larger than " + std::to_string(Image::kLargestSide) +
                             " on a side");
  }
  stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, 4);
  if (!pixels) return refuse(error, std::string("cannot decode: ") + stbi_failure_reason());
  Image image;
  image.width = width;
  image.height = height;
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  image.pixels.assign(pixels, pixels + size);
  stbi_image_free(pixels);
  if (premultiplied) premultiply(image.pixels);
  return image;
}

std::optional<Image> loadImage(const std::string& path, bool premultiplied, std::string* error) {
  std::string reason;
  std::optional<std::string> bytes = Paths::readFile(path, &reason);
  if (!bytes) return refuse(error, path + ": " + reason);
  return decodeImage(*bytes, premultiplied, error);
}

}  // namespace

std::optional<Image> Image::load(const std::string& path, std::string* error) {
  return loadImage(path, true, error);
}

std::optional<Image> Image::decode(std::string_view bytes, std::string* error) {
  return decodeImage(bytes, true, error);
}

std::optional<Image> Image::loadStraight(const std::string& path, std::string* error) {
  return loadImage(path, false, error);
}

void premultiply(std::vector<std::uint8_t>& rgba) {
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
    const unsigned alpha = rgba[i + 3];
    for (std::size_t c = 0; c < 3; c++) {
      rgba[i + c] = static_cast<std::uint8_t>((rgba[i + c] * alpha + 127) / 255);
    }
  }
}

bool writePng(const std::string& path, int width, int height, const std::uint8_t* rgba,
              std::string* error) {
  if (width <= 0 || height <= 0 || !rgba) {
    if (error) *error = "nothing to write";
    return false;
  }
  if (!stbi_write_png(path.c_str(), width, height, 4, rgba, width * 4)) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace platform::gfx
