// The libraries' own printing routed to a sink: SDL's log and ALSA's error
// handler hand their lines over instead of writing to standard error, and
// an empty sink gives them back their own printing.
#include "platform/LibraryMessages.h"

#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LibraryMessages, SdlAndAlsaLinesReachTheSink) {
  std::vector<std::string> lines;
  const bool alsa = platform::routeLibraryMessages(
      [&](const std::string& line) { lines.push_back(line); });
  SDL_LogCritical(SDL_LOG_CATEGORY_AUDIO, "You are using the %s driver!", "disk");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "SDL: You are using the disk driver!");

  // ALSA's library is there wherever SDL's ALSA driver can run; its own
  // reporting entry reaches the handler set above.
  void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_EQ(alsa, library != nullptr);
  if (library) {
    using Report = void (**)(const char*, int, const char*, int, const char*, ...);
    auto report = reinterpret_cast<Report>(::dlsym(library, "snd_lib_error"));
    ASSERT_TRUE(report && *report);
    (*report)("confmisc.c", 855, "parse_card", 0, "cannot find card '%d'", 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "ALSA: parse_card: cannot find card '0'");
    ::dlclose(library);
  }

  platform::routeLibraryMessages({});
  SDL_LogCritical(SDL_LOG_CATEGORY_AUDIO, "back to standard error");
  EXPECT_EQ(lines.size(), alsa ? 2u : 1u);
}

// A process that loads SDL after routing was set (the chip program, whose
// audio layer loads SDL when audio is first wanted) gets the routing when
// it reports the load: SDL's own log function, set anew by the load, is
// replaced again.
TEST(LibraryMessages, SdlLoadedLaterGetsTheRoutingInForce) {
  std::vector<std::string> lines;
  platform::routeLibraryMessages([&](const std::string& line) { lines.push_back(line); });
  // As a freshly loaded SDL: its own printing.
  SDL_LogOutputFunction mine = nullptr;
  void* mine_data = nullptr;
  SDL_LogGetOutputFunction(&mine, &mine_data);
  SDL_LogSetOutputFunction([](void*, int, SDL_LogPriority, const char*) {}, nullptr);
  SDL_LogCritical(SDL_LOG_CATEGORY_AUDIO, "before the load is reported");
  EXPECT_TRUE(lines.empty());

  platform::sdlLibraryLoaded();
  SDL_LogCritical(SDL_LOG_CATEGORY_AUDIO, "after");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "SDL: after");

  // Without a sink, a reported load leaves SDL's printing alone.
  platform::routeLibraryMessages({});
  SDL_LogOutputFunction restored = nullptr;
  void* restored_data = nullptr;
  SDL_LogGetOutputFunction(&restored, &restored_data);
  platform::sdlLibraryLoaded();
  SDL_LogOutputFunction after = nullptr;
  void* after_data = nullptr;
  SDL_LogGetOutputFunction(&after, &after_data);
  EXPECT_EQ(after, restored);
  EXPECT_NE(after, mine);
}

}  // namespace
