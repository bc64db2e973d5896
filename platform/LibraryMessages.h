// The messages that the libraries under the platform print on their own.
//
// SDL writes its log (SDL_Log: "You are using the SDL disk i/o audio
// driver!") and ALSA's library its errors ("ALSA lib confmisc.c:855:
// (parse_card) cannot find card '0'", while SDL probes for a sound card)
// straight to standard error, where a user sees them before the one line
// that matters. routeLibraryMessages hands each of them, as one line of
// text, to the sink instead (the application log keeps them as details):
// SDL's through SDL_LogSetOutputFunction, ALSA's through its error handler
// (snd_lib_error_set_handler), reached in the library SDL itself loads, so
// nothing here links it; without it there is nothing to route. Nothing here
// links SDL either: its log is reached in the copy the process has loaded,
// and a process that loads SDL later (the audio layer, when audio is first
// wanted) calls sdlLibraryLoaded so that the routing reaches it then.
//
// Threads: the sink is called on whichever thread the library reports
// from; install once at start, before the libraries are used.
#ifndef PLATFORM_LIBRARYMESSAGES_H
#define PLATFORM_LIBRARYMESSAGES_H

#include <functional>
#include <string>

namespace platform {

using LibraryMessageSink = std::function<void(const std::string& line)>;

// Routes SDL's and ALSA's messages to sink (an empty sink: back to their
// own printing). True when ALSA's handler could be set too: only once SDL
// is loaded, since ALSA's library is the one SDL loads.
bool routeLibraryMessages(LibraryMessageSink sink);

// SDL has just been loaded: its log gets the routing in force, if any.
void sdlLibraryLoaded();

}  // namespace platform

#endif
