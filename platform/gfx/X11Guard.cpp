#include "platform/gfx/X11Guard.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace platform::gfx {

namespace {

std::mutex g_mutex;
std::shared_ptr<const X11GuardHooks> g_hooks;  // under g_mutex
std::set<std::pair<int, int>> g_reported;      // under g_mutex
std::atomic<bool> g_windowLost{false};

std::shared_ptr<const X11GuardHooks> hooks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_hooks;
}

int onXError(Display* display, XErrorEvent* event) {
  return handleXError(display, event ? event->error_code : 0, event ? event->request_code : 0);
}

int onXIOError(Display* display) { return handleXIOError(display); }

}  // namespace

bool installX11Guard(X11GuardHooks given) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hooks = std::make_shared<const X11GuardHooks>(std::move(given));
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return false;
  // The Xlib SDL loaded (never a second copy): without it, nothing to guard.
  void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!xlib) return false;
  using SetError = XErrorHandler (*)(XErrorHandler);
  using SetIOError = XIOErrorHandler (*)(XIOErrorHandler);
  auto setError = reinterpret_cast<SetError>(::dlsym(xlib, "XSetErrorHandler"));
  auto setIOError = reinterpret_cast<SetIOError>(::dlsym(xlib, "XSetIOErrorHandler"));
  if (!setError || !setIOError) {
    ::dlclose(xlib);
    return false;
  }
  setError(onXError);
  setIOError(onXIOError);
  return true;  // the library stays loaded (SDL holds it too)
}

bool windowLost() { return g_windowLost.load(); }

int handleXError(Display*, int errorCode, int requestCode) {
  std::shared_ptr<const X11GuardHooks> h = hooks();
  bool first;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    first = g_reported.insert({errorCode, requestCode}).second;
  }
  if (first && h && h->report) {
    h->report("X error " + std::to_string(errorCode) + " on request " +
              std::to_string(requestCode));
  }
  if ((errorCode == BadWindow || errorCode == BadDrawable) && !g_windowLost.exchange(true)) {
    if (h && h->report) h->report("the window is gone: quitting");
    if (h && h->windowLost) h->windowLost();
  }
  return 0;
}

int handleXIOError(Display*) {
  std::shared_ptr<const X11GuardHooks> h = hooks();
  if (h && h->report) h->report("the connection to the display broke: quitting");
  if (h && h->connectionLost) h->connectionLost();
  return 0;  // Xlib ends the process when this returns
}

}  // namespace platform::gfx
