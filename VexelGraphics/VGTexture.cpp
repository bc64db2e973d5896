#include "VexelGraphics/VGTexture.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "VexelGraphics/VGLog.h"
#include "platform/Paths.h"
#include "platform/gfx/GLHost.h"
#include "platform/gfx/Image.h"
#include "platform/gfx/Pvrtc.h"

namespace {

void clearErrors() {
  // A handful at most: each call answers (and clears) one recorded error.
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; i++) {
  }
}

GLint largestSide() {
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  return largest;
}

bool haveContext(const char* who) {
  if (platform::gfx::hasCurrentContext()) return true;
  VG_log("%s failed: no current GL context. ", who);
  return false;
}

// A new texture, bound, with its filters and mipmap generation set; 0
// (logged) when GL refuses.
GLuint makeTexture(const char* who, bool mipmaps) {
  clearErrors();
  GLuint name = 0;
  glGenTextures(1, &name);
  if (name != 0) {
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, mipmaps ? GL_TRUE : GL_FALSE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  }
  if (name == 0 || glGetError() != GL_NO_ERROR) {
    VG_log("%s failed: glBindTexture() failed. ", who);
    if (name != 0) glDeleteTextures(1, &name);
    return 0;
  }
  return name;
}

// Uploads level 0 into the bound texture; deletes it (logged) on an error.
GLuint upload(GLuint name, const char* who, const char* call, GLenum format, int width, int height,
              const void* pixels) {
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format,
               GL_UNSIGNED_BYTE, pixels);
  const GLenum error = glGetError();
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  if (error != GL_NO_ERROR) {
    VG_log("%s failed: %s failed. ", who, call);
    glDeleteTextures(1, &name);
    return 0;
  }
  return name;
}

bool sizeFits(long long width, long long height) {
  const long long largest = largestSide();
  return width > 0 && height > 0 && width <= largest && height <= largest;
}

}  // namespace

GLuint VGTexture::loadCompressedTexture(const std::string& name, bool hasAlpha, bool hasMipmaps) {
  static const char* const who = "loadCompressedTexture";
  VG_log("Loading compressed texture at path \"%s\"", name.c_str());
  const std::string path = platform::Paths::join(platform::Paths::resources(), name);
  std::error_code code;
  if (name.empty() || !std::filesystem::is_regular_file(path, code)) {
    VG_log("texture file not found in bundle!");
    return 0;
  }
  if (!haveContext(who)) return 0;
  const std::uintmax_t length = std::filesystem::file_size(path, code);
  const int side = code ? 0 : platform::gfx::pvrtc4SideForLength(length, largestSide());
  if (side == 0) {
    VG_log("%s failed: %llu bytes is no square 4 bpp texture of 8 to %d texels. ", who,
           static_cast<unsigned long long>(code ? 0 : length), static_cast<int>(largestSide()));
    return 0;
  }
  std::string reason;
  const std::optional<std::string> data = platform::Paths::readFile(path, &reason);
  if (!data || data->size() != length) {
    VG_log("%s failed: cannot read \"%s\". ", who, name.c_str());
    return 0;
  }
  const std::vector<std::uint8_t> rgba = platform::gfx::decodePvrtc4(
      reinterpret_cast<const std::uint8_t*>(data->data()), data->size(), side, hasAlpha);
  const GLuint texture = makeTexture(who, hasMipmaps);
  if (texture == 0) return 0;
  return upload(texture, who, "glCompressedTexImage2D()", GL_RGBA, side, side, rgba.data());
}

GLuint VGTexture::createEmptyTexture(float side) {
  static const char* const who = "createEmptyTexture";
  if (!haveContext(who)) return 0;
  if (!std::isfinite(side) || !(side >= 1.0f) || !sizeFits(static_cast<long long>(side), 1)) {
    VG_log("%s failed: no texture of side %g. ", who, static_cast<double>(side));
    return 0;
  }
  const auto pixels = static_cast<std::size_t>(side);
  const std::vector<std::uint8_t> zeros(pixels * pixels * 3, 0);
  const GLuint texture = makeTexture(who, false);
  if (texture == 0) return 0;
  return upload(texture, who, "glCompressedTexImage2D()", GL_RGB, static_cast<int>(pixels),
                static_cast<int>(pixels), zeros.data());
}

GLuint VGTexture::createRGBATextureFromData(const std::uint8_t* pixels, int width, int height) {
  static const char* const who = "createTextureFromData";
  if (!haveContext(who)) return 0;
  if (!pixels || !sizeFits(width, height)) {
    VG_log("%s failed: no texture of %d x %d. ", who, width, height);
    return 0;
  }
  const GLuint texture = makeTexture(who, false);
  if (texture == 0) return 0;
  return upload(texture, who, "glTexImage2D()", GL_RGBA, width, height, pixels);
}

GLuint VGTexture::loadTexture(const std::string& name) {
  VG_log("Loading texture at path \"%s\"", name.c_str());
  std::string reason;
  std::optional<platform::gfx::Image> image;
  if (!name.empty()) {
    image = platform::gfx::Image::load(platform::Paths::join(platform::Paths::resources(), name),
                                       &reason);
  }
  if (!image) {
    VG_log("Texture load failed!");
    if (!reason.empty()) VG_log("loadTexture: %s", reason.c_str());
    return 0;
  }
  return loadTextureFromImage(*image);
}

GLuint VGTexture::loadTextureFromImage(const platform::gfx::Image& image) {
  static const char* const who = "loadTexture";
  if (!haveContext(who)) return 0;
  const std::uint64_t bytes = static_cast<std::uint64_t>(image.width > 0 ? image.width : 0) *
                              static_cast<std::uint64_t>(image.height > 0 ? image.height : 0) * 4;
  if (!sizeFits(image.width, image.height) || image.pixels.size() != bytes) {
    VG_log("Texture load failed!");
    return 0;
  }
  const GLuint texture = makeTexture(who, false);
  if (texture == 0) return 0;
  return upload(texture, who, "glTexImage2D()", GL_RGBA, image.width, image.height,
                image.pixels.data());
}

void VGTexture::releaseTexture(GLuint name) {
  if (name != 0 && platform::gfx::hasCurrentContext()) glDeleteTextures(1, &name);
}
