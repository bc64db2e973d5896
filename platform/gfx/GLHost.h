// The GL ES 1.1 host: a context, the surface it draws into, and the few
// entry points and read-backs around it that the drawing code needs.
//
// Two ways to get a context, one interface:
//  - openWindow(): an SDL2 window whose ES 1.1 context is made through EGL
//    (on X11 too). With SDL_VIDEODRIVER=offscreen the same code runs with
//    no display at all, which is how the tests reach it.
//  - openSurfaceless(): a plain EGL pbuffer on Mesa's surfaceless platform,
//    for programs and tests that want pictures without SDL.
// Either way the new context is current on the calling thread, which then
// owns it: every GL call, and every member of the host except the plain
// getters, belongs on that thread.
//
// Frame buffers of the OES extension are not exported by the GL ES 1 library
// (only reachable through eglGetProcAddress): FramebufferOES loads them once,
// and FrameBuffer wraps one off-screen target (colour and 16-bit depth) for
// frames that must not go to the window.
//
// Read-back: readPixels() answers RGBA8 rows top-down (GL's own rows run
// bottom-up), so the bytes can be written to a PNG as they are.
#ifndef PLATFORM_GFX_GLHOST_H
#define PLATFORM_GFX_GLHOST_H

#include <GLES/gl.h>
#include <GLES/glext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::gfx {

// The OES frame-buffer functions, fetched through eglGetProcAddress.
struct FramebufferOES {
  PFNGLGENFRAMEBUFFERSOESPROC genFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSOESPROC deleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFEROESPROC bindFramebuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSOESPROC checkFramebufferStatus = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFEROESPROC framebufferRenderbuffer = nullptr;
  PFNGLFRAMEBUFFERTEXTURE2DOESPROC framebufferTexture2D = nullptr;
  PFNGLGENRENDERBUFFERSOESPROC genRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSOESPROC deleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFEROESPROC bindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEOESPROC renderbufferStorage = nullptr;

  // Every entry point was found.
  bool complete() const;

  // The process's table, loaded on first use (any thread; the pointers do
  // not depend on the context).
  static const FramebufferOES& get();
};

// Whether a GL context is current on the calling thread.
bool hasCurrentContext();

// RGBA8 pixels of the rectangle (x, y, w, h) of the bound frame buffer, in
// GL's window coordinates, rows turned top-down. Empty for an empty
// rectangle or without a current context.
std::vector<std::uint8_t> readPixelsTopDown(int x, int y, int width, int height);

class GLHost {
 public:
  // An SDL2 window of width x height pixels with an ES 1.1 context (depth 16)
  // made through EGL. Null, with the reason in *error, when SDL or the
  // context cannot be started.
  static std::unique_ptr<GLHost> openWindow(const std::string& title, int width, int height,
                                            std::string* error = nullptr);
  // An EGL pbuffer of width x height pixels on the surfaceless platform,
  // with an ES 1.1 context (depth 16). Null, with the reason, on failure.
  static std::unique_ptr<GLHost> openSurfaceless(int width, int height,
                                                 std::string* error = nullptr);

  ~GLHost();
  GLHost(const GLHost&) = delete;
  GLHost& operator=(const GLHost&) = delete;

  // Makes the context current on the calling thread; false when EGL refuses.
  bool makeCurrent();
  // Shows the frame drawn so far (window: swaps; pbuffer: finishes).
  void present();

  // Size of the drawable in pixels.
  int width() const { return width_; }
  int height() const { return height_; }
  bool isWindow() const { return window_ != nullptr; }
  // The SDL_Window of a window host (null for a pbuffer).
  void* sdlWindow() const { return window_; }

  // The whole drawable (frame buffer 0), top-down RGBA8.
  std::vector<std::uint8_t> readPixels() const;

  // "OpenGL ES-CM 1.1 Mesa ...", and EGL's "major.minor".
  std::string glVersion() const;
  std::string eglVersion() const;

 private:
  GLHost() = default;

  void* display_ = nullptr;     // EGLDisplay
  void* surface_ = nullptr;     // EGLSurface (pbuffer only)
  void* context_ = nullptr;     // EGLContext (pbuffer only)
  void* window_ = nullptr;      // SDL_Window
  void* sdlContext_ = nullptr;  // SDL_GLContext
  int eglMajor_ = 0;
  int eglMinor_ = 0;
  int width_ = 0;
  int height_ = 0;
};

// One off-screen target of the OES extension: an RGBA8 colour buffer and a
// 16-bit depth buffer. Created, bound and read on the context's thread; the
// destructor deletes the buffers (the context must still be current).
class FrameBuffer {
 public:
  // Null, with the reason, when the extension is missing, the size is not
  // 1..GL_MAX_RENDERBUFFER_SIZE or the buffer is incomplete.
  static std::unique_ptr<FrameBuffer> create(int width, int height, std::string* error = nullptr);
  ~FrameBuffer();
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Draws go here (and the viewport covers the buffer) until unbind().
  void bind();
  // Back to frame buffer 0.
  void unbind();
  // The buffer's pixels, top-down RGBA8 (binds it for the read).
  std::vector<std::uint8_t> read();

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  FrameBuffer() = default;
  GLuint framebuffer_ = 0;
  GLuint colour_ = 0;
  GLuint depth_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace platform::gfx

#endif
