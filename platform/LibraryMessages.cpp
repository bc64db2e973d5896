#include "platform/LibraryMessages.h"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// Never destroyed: a library thread (SDL's audio thread probing ALSA) may
// still report while the process's static objects are torn down at exit.
struct Routing {
  std::mutex mutex;
  std::shared_ptr<const LibraryMessageSink> sink;  // under mutex
  bool routed = false;  // under mutex: a sink is set
  SDL_LogOutputFunction sdlOriginal = nullptr;
  void* sdlOriginalData = nullptr;
  bool sdlOriginalKnown = false;
};

Routing& routing() {
  static Routing* state = new Routing;
  return *state;
}

void deliver(const std::string& line) {
  std::shared_ptr<const LibraryMessageSink> sink;
  {
    std::lock_guard<std::mutex> lock(routing().mutex);
    sink = routing().sink;
  }
  if (sink && *sink) (*sink)(line);
}

std::string formatted(const char* format, va_list args) {
  if (!format) return std::string();
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  return std::string(text.data(), static_cast<std::size_t>(length));
}

void sdlMessage(void*, int, SDL_LogPriority, const char* message) {
  deliver(std::string("SDL: ") + (message ? message : ""));
}

// ALSA's library, the one SDL loads (same name, so the same copy).
using AlsaHandler = void (*)(const char* file, int line, const char* function, int err,
                             const char* format, ...);
using AlsaSetHandler = int (*)(AlsaHandler handler);
using AlsaStrerror = const char* (*)(int err);
std::atomic<AlsaStrerror> g_alsaStrerror{nullptr};

void alsaMessage(const char*, int, const char* function, int err, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = "ALSA: ";
  if (function) text += std::string(function) + ": ";
  text += formatted(format, args);
  va_end(args);
  const AlsaStrerror describe = g_alsaStrerror.load();
  if (err && describe) text += std::string(": ") + describe(err);
  deliver(text);
}

// SDL's log functions in the SDL library the process has already loaded
// (linked, or loaded by the audio layer when audio is first wanted); false
// while there is none. Nothing here loads SDL: a program that never plays
// sound starts without it.
struct SdlLog {
  decltype(&::SDL_LogGetOutputFunction) get = nullptr;
  decltype(&::SDL_LogSetOutputFunction) set = nullptr;
};

bool loadedSdlLog(SdlLog& log) {
  void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (!library) return false;
  log.get = reinterpret_cast<decltype(log.get)>(::dlsym(library, "SDL_LogGetOutputFunction"));
  log.set = reinterpret_cast<decltype(log.set)>(::dlsym(library, "SDL_LogSetOutputFunction"));
  // Only the reference taken above goes: the library stays loaded.
  ::dlclose(library);
  return log.get && log.set;
}

// Gives SDL's log the routing in force (under the mutex), when SDL is
// loaded; false when it is not.
bool applySdlRouting(Routing& r) {
  SdlLog log;
  if (!loadedSdlLog(log)) return false;
  if (!r.sdlOriginalKnown) {
    log.get(&r.sdlOriginal, &r.sdlOriginalData);
    r.sdlOriginalKnown = true;
  }
  if (r.routed) {
    log.set(sdlMessage, nullptr);
  } else {
    log.set(r.sdlOriginal, r.sdlOriginalData);
  }
  return true;
}

AlsaSetHandler alsaSetHandler() {
  static AlsaSetHandler set = []() -> AlsaSetHandler {
    void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    g_alsaStrerror = reinterpret_cast<AlsaStrerror>(::dlsym(library, "snd_strerror"));
    return reinterpret_cast<AlsaSetHandler>(::dlsym(library, "snd_lib_error_set_handler"));
  }();
  return set;
}

// Sets ALSA's error handler to the routing (loading its library); false
// when the library or its entry is missing.
bool applyAlsaRouting(bool routed) {
  AlsaSetHandler set = alsaSetHandler();
  if (!set) return false;
  return set(routed ? alsaMessage : nullptr) == 0;
}

}  // namespace

bool routeLibraryMessages(LibraryMessageSink sink) {
  const bool routed = static_cast<bool>(sink);
  Routing& r = routing();
  bool sdlLoaded = false;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    r.sink = routed ? std::make_shared<const LibraryMessageSink>(std::move(sink)) : nullptr;
    r.routed = routed;
    sdlLoaded = applySdlRouting(r);
  }
  // ALSA's library is the one SDL loads when it probes for a sound card:
  // its handler is set once SDL is there (now, or by sdlLibraryLoaded), so
  // that a process that never plays sound does not load it either.
  return sdlLoaded && applyAlsaRouting(routed);
}

void sdlLibraryLoaded() {
  Routing& r = routing();
  bool routed = false;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    routed = r.routed;
    if (routed) applySdlRouting(r);
  }
  if (routed) applyAlsaRouting(true);
}

}  // namespace platform
