// The window system's fatal errors, turned into an orderly end.
//
// Under X11, Xlib's default handlers print an error and call exit(): when
// another client destroys the program's window ("X Error of failed request:
// BadWindow") or the connection to the display breaks (the server goes, the
// client is killed), the program would end on the spot, without its
// termination steps (recordings, statistics, preferences saved; the engine
// stopped). installX11Guard, when SDL's video driver is x11, puts handlers
// of its own in their place, through the Xlib that SDL loaded (nothing here
// links it):
//  - an X error is reported (one line per kind of error, not one per
//    request); when it says the window or its drawable is gone (BadWindow,
//    BadDrawable), windowLost runs, on the thread Xlib reported it on, where
//    the window system must not be used (post the quit to the main loop).
//    The process goes on; windowLost() reads true from then on.
//  - a broken connection is reported and connectionLost runs (the
//    termination steps, without the window system). Xlib allows no return
//    to the program after it: the process then ends with status 1.
// After a lost window the host should end without tearing the window down
// (SDL would only meet the same errors again, with Xlib's own handler back).
//
// handleXError and handleXIOError are the handlers themselves, for tests:
// the hooks are kept whatever the driver, and they act on them.
//
// Threads: install on the main thread after the window is made; the hooks
// run on the thread Xlib reports on.
#ifndef PLATFORM_GFX_X11GUARD_H
#define PLATFORM_GFX_X11GUARD_H

#include <functional>
#include <string>

typedef struct _XDisplay Display;

namespace platform::gfx {

struct X11GuardHooks {
  std::function<void(const std::string& line)> report;
  std::function<void()> windowLost;
  std::function<void()> connectionLost;
};

// True when the video driver is x11 and the handlers are in place.
bool installX11Guard(X11GuardHooks hooks);
// Whether an X error said the window is gone.
bool windowLost();

// The handlers (error_code and request_code as in XErrorEvent).
int handleXError(Display* display, int errorCode, int requestCode);
int handleXIOError(Display* display);

}  // namespace platform::gfx

#endif
