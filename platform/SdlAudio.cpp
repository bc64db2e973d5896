#include "platform/SdlAudio.h"

#include <dlfcn.h>

#include "platform/LibraryMessages.h"

namespace platform {

namespace {

// The table, or null when the library or one of its functions is missing.
const SdlAudioApi* load() {
  void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static SdlAudioApi api;
  bool complete = true;
#define PLATFORM_SDL_AUDIO_LOAD(name)                                   \
  api.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  complete = complete && api.name != nullptr;
  PLATFORM_SDL_AUDIO_FUNCTIONS(PLATFORM_SDL_AUDIO_LOAD)
#undef PLATFORM_SDL_AUDIO_LOAD
  // The library stays loaded for the whole process, as a linked one would;
  // its log reports where the other libraries' messages go.
  sdlLibraryLoaded();
  return complete ? &api : nullptr;
}

}  // namespace

const SdlAudioApi* sdlAudio() {
  static const SdlAudioApi* const api = load();
  return api;
}

}  // namespace platform
