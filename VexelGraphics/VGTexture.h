// Texture loaders: each answers a GL texture name, 0 on failure (after a
// log line); binding 0 draws untextured, so a caller can keep the 0.
//
// Compressed textures are raw PVRTC 4 bpp files of the resource bundle
// (Paths::resources()): square, no header, side = 2 x sqrt(length / 2).
// GL here has no PVRTC, so the data is decoded in software to RGBA8 and
// uploaded with glTexImage2D; the file's length must be exactly
// side x side / 2 for a power-of-two side from 8 to GL_MAX_TEXTURE_SIZE,
// and is checked before the file is read (decoding expands it eightfold).
// Without alpha, every texel is opaque. The mipmap flag turns on
// GL_GENERATE_MIPMAP.
//
// Images go through platform::gfx::Image (stb_image, premultiplied RGBA8,
// at most 4096 x 4096); sizes that are not powers of two are allowed (Mesa
// has GL_OES_texture_npot).
//
// Every loader first checks for a current GL context (without one
// glGenTextures writes nothing and reports no error), and a name GL did not
// give is never answered. A texture made before a later step fails is
// deleted again.
//
// Threads: the context's thread.
#ifndef VEXELGRAPHICS_VGTEXTURE_H
#define VEXELGRAPHICS_VGTEXTURE_H

#include <GLES/gl.h>

#include <cstdint>
#include <string>

namespace platform::gfx {
struct Image;
}

class VGTexture {
 public:
  static GLuint loadCompressedTexture(const std::string& name, bool hasAlpha = false,
                                      bool hasMipmaps = false);
  static GLuint createEmptyTexture(float side);
  static GLuint createRGBATextureFromData(const std::uint8_t* pixels, int width, int height);
  static GLuint loadTexture(const std::string& name);
  static GLuint loadTextureFromImage(const platform::gfx::Image& image);
  static void releaseTexture(GLuint name);
};

#endif
