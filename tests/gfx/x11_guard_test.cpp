// The window system's errors as the guard takes them (its handlers called
// as Xlib would call them): a lost window is reported once and asks for the
// quit once, the process goes on; other errors are only reported, once per
// kind; a broken connection runs the termination hook. Off an X display
// (the tests' offscreen driver) nothing is installed in Xlib.
#include "platform/gfx/X11Guard.h"

#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool) would clash with its names.
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>

#include <string>
#include <vector>

namespace gfx = platform::gfx;

namespace {

TEST(X11Guard, ErrorsEndInTheHostsStepsNotInExit) {
  std::vector<std::string> lines;
  int lost = 0, broken = 0;
  gfx::X11GuardHooks hooks;
  hooks.report = [&](const std::string& line) { lines.push_back(line); };
  hooks.windowLost = [&] { lost++; };
  hooks.connectionLost = [&] { broken++; };
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  EXPECT_FALSE(gfx::installX11Guard(hooks));  // offscreen: Xlib is not in use
  SDL_QuitSubSystem(SDL_INIT_VIDEO);

  EXPECT_EQ(gfx::handleXError(nullptr, BadAlloc, X_CreatePixmap), 0);
  EXPECT_EQ(gfx::handleXError(nullptr, BadAlloc, X_CreatePixmap), 0);
  EXPECT_EQ(lines, (std::vector<std::string>{"X error 11 on request 53"}));
  EXPECT_EQ(lost, 0);
  EXPECT_FALSE(gfx::windowLost());

  // Another client destroyed the window: the drawing that follows fails
  // request after request; the quit is asked for once.
  EXPECT_EQ(gfx::handleXError(nullptr, BadWindow, X_ConfigureWindow), 0);
  EXPECT_EQ(gfx::handleXError(nullptr, BadDrawable, X_PutImage), 0);
  EXPECT_EQ(gfx::handleXError(nullptr, BadDrawable, X_PutImage), 0);
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(gfx::windowLost());
  EXPECT_EQ(lines, (std::vector<std::string>{"X error 11 on request 53", "X error 3 on request 12",
                                             "the window is gone: quitting",
                                             "X error 9 on request 72"}));

  EXPECT_EQ(gfx::handleXIOError(nullptr), 0);
  EXPECT_EQ(broken, 1);
  EXPECT_EQ(lines.back(), "the connection to the display broke: quitting");
}

}  // namespace
