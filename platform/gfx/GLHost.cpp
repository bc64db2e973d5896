#include "platform/gfx/GLHost.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL.h>
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>

// Mesa (through EGL) and SDL keep some allocations to the end and unload
// the driver modules that made them; LeakSanitizer then reports them at exit
// from an "<unknown module>" that no suppression can name. Under
// AddressSanitizer every module loaded when a context has been made is
// therefore kept loaded (RTLD_NODELETE), and the suppressions below name
// them. Every program that makes a context through the host links this
// file; without the sanitizers the hooks are never called.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libSDL2-2.0.so\n"
         "leak:libEGL.so\n"
         "leak:libEGL_mesa.so\n"
         "leak:swrast_dri.so\n"
         "leak:libgallium\n"
         "leak:libglapi.so\n"
         "leak:libGLdispatch.so\n"
         "leak:libGLESv1_CM.so\n"
         "leak:libLLVM\n";
}

namespace platform::gfx {

namespace {

bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

std::string eglErrorText(const char* what) {
  char code[32];
  std::snprintf(code, sizeof code, " (EGL error 0x%04x)", static_cast<unsigned>(eglGetError()));
  return std::string(what) + code;
}

template <typename Fn>
void load(Fn& slot, const char* name) {
  slot = reinterpret_cast<Fn>(eglGetProcAddress(name));
}

// Surfaceless hosts of one process share one EGL display; it is terminated
// when the last of them goes.
std::mutex g_displayMutex;
int g_surfacelessHosts = 0;

#if defined(__SANITIZE_ADDRESS__)
int keepLoaded(struct dl_phdr_info* info, std::size_t, void*) {
  if (info->dlpi_name && info->dlpi_name[0] == '/') {
    dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
  return 0;
}
#endif

// See the note on the leak suppressions above.
void keepDriverModulesLoaded() {
#if defined(__SANITIZE_ADDRESS__)
  dl_iterate_phdr(keepLoaded, nullptr);
#endif
}

bool sizeIsSane(int width, int height) {
  return width > 0 && height > 0 && width <= 16384 && height <= 16384;
}

}  // namespace

bool FramebufferOES::complete() const {
  return genFramebuffers && deleteFramebuffers && bindFramebuffer && checkFramebufferStatus &&
         framebufferRenderbuffer && framebufferTexture2D && genRenderbuffers &&
         deleteRenderbuffers && bindRenderbuffer && renderbufferStorage;
}

const FramebufferOES& FramebufferOES::get() {
  static FramebufferOES table;
  static std::once_flag once;
  std::call_once(once, [] {
    load(table.genFramebuffers, "glGenFramebuffersOES");
    load(table.deleteFramebuffers, "glDeleteFramebuffersOES");
    load(table.bindFramebuffer, "glBindFramebufferOES");
    load(table.checkFramebufferStatus, "glCheckFramebufferStatusOES");
    load(table.framebufferRenderbuffer, "glFramebufferRenderbufferOES");
    load(table.framebufferTexture2D, "glFramebufferTexture2DOES");
    load(table.genRenderbuffers, "glGenRenderbuffersOES");
    load(table.deleteRenderbuffers, "glDeleteRenderbuffersOES");
    load(table.bindRenderbuffer, "glBindRenderbufferOES");
    load(table.renderbufferStorage, "glRenderbufferStorageOES");
  });
  return table;
}

bool hasCurrentContext() { return eglGetCurrentContext() != EGL_NO_CONTEXT; }

std::vector<std::uint8_t> readPixelsTopDown(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0 || !hasCurrentContext()) return {};
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  std::vector<std::uint8_t> pixels(row * static_cast<std::size_t>(height));
  GLint alignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  std::vector<std::uint8_t> row_buffer(row);
  for (int top = 0, bottom = height - 1; top < bottom; top++, bottom--) {
    std::uint8_t* a = pixels.data() + row * static_cast<std::size_t>(top);
    std::uint8_t* b = pixels.data() + row * static_cast<std::size_t>(bottom);
    std::memcpy(row_buffer.data(), a, row);
    std::memcpy(a, b, row);
    std::memcpy(b, row_buffer.data(), row);
  }
  return pixels;
}

// ---------------------------------------------------------------------------
// GLHost

std::unique_ptr<GLHost> GLHost::openWindow(const std::string& title, int width, int height,
                                           std::string* error) {
  if (!sizeIsSane(width, height)) {
    fail(error, "window size out of range");
    return nullptr;
  }
  // X11 would otherwise go through GLX, which has no ES 1 profile here.
  SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    fail(error, std::string("SDL video: ") + SDL_GetError());
    return nullptr;
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 1);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_Window* window =
      SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                       height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
  if (!window) {
    fail(error, std::string("SDL window: ") + SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context) {
    fail(error, std::string("GL ES 1.1 context: ") + SDL_GetError());
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  std::unique_ptr<GLHost> host(new GLHost());
  host->window_ = window;
  host->sdlContext_ = context;
  host->display_ = eglGetCurrentDisplay();
  if (host->display_ != EGL_NO_DISPLAY) {
    EGLint major = 0, minor = 0;
    // Initialising an initialised display only answers its version.
    if (eglInitialize(static_cast<EGLDisplay>(host->display_), &major, &minor)) {
      host->eglMajor_ = major;
      host->eglMinor_ = minor;
    }
  }
  SDL_GL_GetDrawableSize(window, &host->width_, &host->height_);
  keepDriverModulesLoaded();
  return host;
}

std::unique_ptr<GLHost> GLHost::openSurfaceless(int width, int height, std::string* error) {
  if (!sizeIsSane(width, height)) {
    fail(error, "pbuffer size out of range");
    return nullptr;
  }
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!clientExtensions || !std::strstr(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    fail(error, "EGL has no surfaceless platform");
    return nullptr;
  }
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) {
    fail(error, "eglGetPlatformDisplayEXT missing");
    return nullptr;
  }
  EGLDisplay display =
      getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
    fail(error, eglErrorText("surfaceless display"));
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_displayMutex);
    g_surfacelessHosts++;
  }
  std::unique_ptr<GLHost> host(new GLHost());
  host->display_ = display;
  host->eglMajor_ = major;
  host->eglMinor_ = minor;
  const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                     EGL_PBUFFER_BIT,
                                     EGL_RENDERABLE_TYPE,
                                     EGL_OPENGL_ES_BIT,
                                     EGL_RED_SIZE,
                                     8,
                                     EGL_GREEN_SIZE,
                                     8,
                                     EGL_BLUE_SIZE,
                                     8,
                                     EGL_ALPHA_SIZE,
                                     8,
                                     EGL_DEPTH_SIZE,
                                     16,
                                     EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglBindAPI(EGL_OPENGL_ES_API) ||
      !eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) {
    fail(error, eglErrorText("no ES 1 pbuffer configuration"));
    return nullptr;  // the destructor terminates the display
  }
  const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
  host->surface_ = eglCreatePbufferSurface(display, config, surfaceAttributes);
  if (host->surface_ == EGL_NO_SURFACE) {
    host->surface_ = nullptr;
    fail(error, eglErrorText("pbuffer"));
    return nullptr;
  }
  const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
  host->context_ = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (host->context_ == EGL_NO_CONTEXT) {
    host->context_ = nullptr;
    fail(error, eglErrorText("GL ES 1.1 context"));
    return nullptr;
  }
  if (!host->makeCurrent()) {
    fail(error, eglErrorText("eglMakeCurrent"));
    return nullptr;
  }
  host->width_ = width;
  host->height_ = height;
  keepDriverModulesLoaded();
  return host;
}

GLHost::~GLHost() {
  if (window_) {
    if (sdlContext_) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(sdlContext_));
    SDL_DestroyWindow(static_cast<SDL_Window*>(window_));
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return;
  }
  auto display = static_cast<EGLDisplay>(display_);
  if (display == EGL_NO_DISPLAY) return;
  if (eglGetCurrentContext() == static_cast<EGLContext>(context_)) {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  if (context_) eglDestroyContext(display, static_cast<EGLContext>(context_));
  if (surface_) eglDestroySurface(display, static_cast<EGLSurface>(surface_));
  std::lock_guard<std::mutex> lock(g_displayMutex);
  if (--g_surfacelessHosts == 0) {
    eglTerminate(display);
    eglReleaseThread();
  }
}

bool GLHost::makeCurrent() {
  if (window_) {
    return SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window_),
                              static_cast<SDL_GLContext>(sdlContext_)) == 0;
  }
  auto surface = static_cast<EGLSurface>(surface_);
  return eglMakeCurrent(static_cast<EGLDisplay>(display_), surface, surface,
                        static_cast<EGLContext>(context_)) == EGL_TRUE;
}

void GLHost::present() {
  if (window_) {
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(window_));
  } else {
    glFinish();
  }
}

std::vector<std::uint8_t> GLHost::readPixels() const {
  return readPixelsTopDown(0, 0, width_, height_);
}

std::string GLHost::glVersion() const {
  const GLubyte* text = glGetString(GL_VERSION);
  return text ? reinterpret_cast<const char*>(text) : "";
}

std::string GLHost::eglVersion() const {
  return std::to_string(eglMajor_) + "." + std::to_string(eglMinor_);
}

// ---------------------------------------------------------------------------
// FrameBuffer

std::unique_ptr<FrameBuffer> FrameBuffer::create(int width, int height, std::string* error) {
  const FramebufferOES& oes = FramebufferOES::get();
  if (!hasCurrentContext()) {
    fail(error, "no current GL context");
    return nullptr;
  }
  if (!oes.complete()) {
    fail(error, "the OES frame-buffer functions are missing");
    return nullptr;
  }
  GLint largest = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_OES, &largest);
  if (width <= 0 || height <= 0 || width > largest || height > largest) {
    fail(error, "frame-buffer size out of range");
    return nullptr;
  }
  std::unique_ptr<FrameBuffer> buffer(new FrameBuffer());
  buffer->width_ = width;
  buffer->height_ = height;
  oes.genFramebuffers(1, &buffer->framebuffer_);
  oes.genRenderbuffers(1, &buffer->colour_);
  oes.genRenderbuffers(1, &buffer->depth_);
  oes.bindFramebuffer(GL_FRAMEBUFFER_OES, buffer->framebuffer_);
  oes.bindRenderbuffer(GL_RENDERBUFFER_OES, buffer->colour_);
  oes.renderbufferStorage(GL_RENDERBUFFER_OES, GL_RGBA8_OES, width, height);
  oes.framebufferRenderbuffer(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES,
                              buffer->colour_);
  oes.bindRenderbuffer(GL_RENDERBUFFER_OES, buffer->depth_);
  oes.renderbufferStorage(GL_RENDERBUFFER_OES, GL_DEPTH_COMPONENT16_OES, width, height);
  oes.framebufferRenderbuffer(GL_FRAMEBUFFER_OES, GL_DEPTH_ATTACHMENT_OES, GL_RENDERBUFFER_OES,
                              buffer->depth_);
  GLenum status = oes.checkFramebufferStatus(GL_FRAMEBUFFER_OES);
  oes.bindRenderbuffer(GL_RENDERBUFFER_OES, 0);
  oes.bindFramebuffer(GL_FRAMEBUFFER_OES, 0);
  if (status != GL_FRAMEBUFFER_COMPLETE_OES) {
    char text[64];
    std::snprintf(text, sizeof text, "frame buffer incomplete (0x%04x)", status);
    fail(error, text);
    return nullptr;
  }
  return buffer;
}

FrameBuffer::~FrameBuffer() {
  const FramebufferOES& oes = FramebufferOES::get();
  if (!hasCurrentContext() || !oes.complete()) return;
  if (depth_) oes.deleteRenderbuffers(1, &depth_);
  if (colour_) oes.deleteRenderbuffers(1, &colour_);
  if (framebuffer_) oes.deleteFramebuffers(1, &framebuffer_);
}

void FrameBuffer::bind() {
  FramebufferOES::get().bindFramebuffer(GL_FRAMEBUFFER_OES, framebuffer_);
  glViewport(0, 0, width_, height_);
}

void FrameBuffer::unbind() { FramebufferOES::get().bindFramebuffer(GL_FRAMEBUFFER_OES, 0); }

std::vector<std::uint8_t> FrameBuffer::read() {
  const FramebufferOES& oes = FramebufferOES::get();
  GLint previous = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING_OES, &previous);
  oes.bindFramebuffer(GL_FRAMEBUFFER_OES, framebuffer_);
  std::vector<std::uint8_t> pixels = readPixelsTopDown(0, 0, width_, height_);
  oes.bindFramebuffer(GL_FRAMEBUFFER_OES, static_cast<GLuint>(previous));
  return pixels;
}

}  // namespace platform::gfx
