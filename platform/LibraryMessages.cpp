#include "platform/LibraryMessages.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

namespace {

std::mutex g_mutex;
std::shared_ptr<const LibraryMessageSink> g_sink;  // under g_mutex
SDL_LogOutputFunction g_sdlOriginal = nullptr;
void* g_sdlOriginalData = nullptr;
bool g_sdlOriginalKnown = false;

void deliver(const std::string& line) {
  std::shared_ptr<const LibraryMessageSink> sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_sink;
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
AlsaStrerror g_alsaStrerror = nullptr;

void alsaMessage(const char*, int, const char* function, int err, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = "ALSA: ";
  if (function) text += std::string(function) + ": ";
  text += formatted(format, args);
  va_end(args);
  if (err && g_alsaStrerror) text += std::string(": ") + g_alsaStrerror(err);
  deliver(text);
}

AlsaSetHandler alsaSetHandler() {
  static AlsaSetHandler set = [] () -> AlsaSetHandler {
    void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    g_alsaStrerror = reinterpret_cast<AlsaStrerror>(::dlsym(library, "snd_strerror"));
    return reinterpret_cast<AlsaSetHandler>(::dlsym(library, "snd_lib_error_set_handler"));
  }();
  return set;
}

}  // namespace

bool routeLibraryMessages(LibraryMessageSink sink) {
  const bool routed = static_cast<bool>(sink);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sink = routed ? std::make_shared<const LibraryMessageSink>(std::move(sink)) : nullptr;
    if (!g_sdlOriginalKnown) {
      SDL_LogGetOutputFunction(&g_sdlOriginal, &g_sdlOriginalData);
      g_sdlOriginalKnown = true;
    }
  }
  if (routed) {
    SDL_LogSetOutputFunction(sdlMessage, nullptr);
  } else {
    SDL_LogSetOutputFunction(g_sdlOriginal, g_sdlOriginalData);
  }
  AlsaSetHandler set = alsaSetHandler();
  if (!set) return false;
  return set(routed ? alsaMessage : nullptr) == 0;
}

}  // namespace platform
