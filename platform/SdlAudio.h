// SDL2's audio functions, reached through the library loaded when audio is
// first wanted.
//
// The audio session and the RemoteIO unit (AudioSession.h, RemoteIOUnit.h)
// call SDL's audio subsystem through this table instead of linking SDL
// itself: SDL2 brings some fifty shared libraries (X11, Wayland, PulseAudio,
// ...) whose loading would otherwise be the largest part of starting any
// program that only might play sound, such as the chip program run
// --silent. sdlAudio() loads the library the first time it is asked (a
// process that links SDL already gets that same library) and answers the
// table, or null when SDL cannot be loaded, which the callers report as a
// device that does not open. The list below is the one place that names
// the functions used.
//
// Threads: any thread; the library is loaded once.
#ifndef PLATFORM_SDLAUDIO_H
#define PLATFORM_SDLAUDIO_H

#include <SDL.h>

namespace platform {

#define PLATFORM_SDL_AUDIO_FUNCTIONS(X) \
  X(SDL_InitSubSystem)                  \
  X(SDL_QuitSubSystem)                  \
  X(SDL_GetDefaultAudioInfo)            \
  X(SDL_GetNumAudioDevices)             \
  X(SDL_GetAudioDeviceName)             \
  X(SDL_GetCurrentAudioDriver)          \
  X(SDL_free)                           \
  X(SDL_OpenAudioDevice)                \
  X(SDL_PauseAudioDevice)               \
  X(SDL_CloseAudioDevice)               \
  X(SDL_LockAudioDevice)                \
  X(SDL_UnlockAudioDevice)

struct SdlAudioApi {
#define PLATFORM_SDL_AUDIO_MEMBER(name) decltype(&::name) name;
  PLATFORM_SDL_AUDIO_FUNCTIONS(PLATFORM_SDL_AUDIO_MEMBER)
#undef PLATFORM_SDL_AUDIO_MEMBER
};

// The functions, loaded on first use; null when SDL2 cannot be loaded.
const SdlAudioApi* sdlAudio();

}  // namespace platform

#endif
