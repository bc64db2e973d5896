#include "platform/ui/Font.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Paths.h"

namespace platform::ui {

namespace {

std::mutex g_mutex;  // SDL_ttf and the cache

const char* faceFile(bool bold) { return bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf"; }

std::string findFace(bool bold) {
  const std::string name = faceFile(bold);
  for (const std::string& dir :
       {Paths::join(Paths::resources(), "fonts"), std::string("/usr/share/fonts/truetype/dejavu")}) {
    std::string path = Paths::join(dir, name);
    if (Paths::exists(path)) return path;
  }
  return "";
}

// Opened faces by (bold, pixel size), kept for the process.
TTF_Font* face(bool bold, int pixels) {
  static std::map<std::pair<bool, int>, TTF_Font*> faces;
  static bool started = false, warned = false;
  if (!started) {
    started = true;
    if (TTF_Init() != 0) std::fprintf(stderr, "SDL_ttf: %s\n", TTF_GetError());
  }
  if (!TTF_WasInit()) return nullptr;
  pixels = std::clamp(pixels, 1, 1000);
  auto key = std::make_pair(bold, pixels);
  auto found = faces.find(key);
  if (found != faces.end()) return found->second;
  const std::string path = findFace(bold);
  TTF_Font* font = path.empty() ? nullptr : TTF_OpenFont(path.c_str(), pixels);
  if (!font && !warned) {
    warned = true;
    std::fprintf(stderr, "font %s not found: text is not drawn\n", faceFile(bold));
  }
  faces[key] = font;
  return font;
}

int pixelSize(double points, double scale) {
  return static_cast<int>(std::lround(points * scale));
}

// Byte length of the UTF-8 character starting at s[i].
std::size_t charLength(const std::string& s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  return std::min(n, s.size() - i);
}

}  // namespace

bool Font::available() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return face(false, 16) != nullptr;
}

Size Font::measure(const std::string& text, double scale) const {
  std::lock_guard<std::mutex> lock(g_mutex);
  TTF_Font* f = face(bold_, pixelSize(points_, scale));
  if (!f) return {};
  int w = 0, h = TTF_FontHeight(f);
  if (!text.empty()) TTF_SizeUTF8(f, text.c_str(), &w, &h);
  return {w / scale, h / scale};
}

double Font::lineHeight(double scale) const {
  std::lock_guard<std::mutex> lock(g_mutex);
  TTF_Font* f = face(bold_, pixelSize(points_, scale));
  return f ? TTF_FontLineSkip(f) / scale : 0.0;
}

std::vector<std::string> Font::wrap(const std::string& text, double width, double scale) const {
  std::vector<std::string> lines;
  auto fits = [&](const std::string& line) { return measure(line, scale).width <= width; };
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string paragraph = text.substr(start, end - start);
    std::string line;
    std::size_t i = 0;
    bool placed = false;
    while (i < paragraph.size()) {
      std::size_t space = paragraph.find(' ', i);
      if (space == std::string::npos) space = paragraph.size();
      const std::string word = paragraph.substr(i, space - i);
      const std::string joined = line.empty() ? word : line + " " + word;
      if (fits(joined)) {
        line = joined;
      } else {
        if (!line.empty()) lines.push_back(line);
        line.clear();
        // A word too wide for a line of its own is cut between characters.
        std::string piece;
        for (std::size_t k = 0; k < word.size();) {
          const std::size_t n = charLength(word, k);
          const std::string next = piece + word.substr(k, n);
          if (!piece.empty() && !fits(next)) {
            lines.push_back(piece);
            piece = word.substr(k, n);
          } else {
            piece = next;
          }
          k += n;
        }
        line = piece;
      }
      placed = true;
      i = space + 1;
    }
    if (!line.empty() || !placed) lines.push_back(line);
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

Font::Mask Font::render(const std::string& text, double scale) const {
  Mask mask;
  if (text.empty()) return mask;
  std::lock_guard<std::mutex> lock(g_mutex);
  TTF_Font* f = face(bold_, pixelSize(points_, scale));
  if (!f) return mask;
  SDL_Surface* surface = TTF_RenderUTF8_Blended(f, text.c_str(), SDL_Color{255, 255, 255, 255});
  if (!surface) return mask;
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(surface);
  if (!argb) return mask;
  mask.width = argb->w;
  mask.height = argb->h;
  mask.coverage.resize(static_cast<std::size_t>(argb->w) * argb->h);
  SDL_LockSurface(argb);
  for (int y = 0; y < argb->h; y++) {
    const auto* row =
        reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(argb->pixels) +
                                               static_cast<std::size_t>(y) * argb->pitch);
    for (int x = 0; x < argb->w; x++) {
      mask.coverage[static_cast<std::size_t>(y) * argb->w + x] =
          static_cast<std::uint8_t>(row[x] >> 24);
    }
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
  return mask;
}

}  // namespace platform::ui
