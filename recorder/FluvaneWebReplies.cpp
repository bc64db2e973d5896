// The reply grammars of the instrument's web calls (and the policy's
// check), apart from the calls so they can be fuzzed without a network.
#include <charconv>
#include <cmath>

#include "recorder/FluvaneWebCalls.h"
#include "platform/Digest.h"

namespace {

std::string_view trimNewlines(std::string_view text) {
  while (!text.empty() && (text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// A whole decimal number within 32 bits.
std::optional<int32_t> wholeNumber(std::string_view text) {
  std::optional<long long> v = parseInteger(trimSpaces(text));
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

// The leading integer of a text, 0 when there is none (clamped to 32 bits).
int32_t leadingInt(std::string_view text) {
  text = trimSpaces(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    return !text.empty() && text.front() == '-' ? INT32_MIN : INT32_MAX;
  }
  if (result.ec != std::errc()) return 0;
  if (value < INT32_MIN) return INT32_MIN;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

std::optional<double> finiteNumber(std::string_view text) {
  std::optional<double> v = parseDouble(trimSpaces(text));
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

}  // namespace

bool validFluvanePref(const VXFluvanePref& p) {
  return p.uploadFrequency >= 1 && p.maxLength >= 1 && p.maxManualTime >= 1 &&
         p.minLength >= 0 && p.minLength <= p.maxLength && p.root >= -1 && p.root <= 127 &&
         p.mode >= -1 && p.mode <= 7;
}

int parseFluvanePreference(std::string_view body, VXFluvanePref* pref) {
  std::vector<std::string_view> parts = split(trimNewlines(body), ':');
  if (parts.size() < 6) return 0;
  int32_t values[6];
  for (size_t i = 0; i < 6; i++) {
    std::optional<int32_t> v = wholeNumber(parts[i]);
    if (!v) return kPolicyRefused;
    values[i] = *v;
  }
  VXFluvanePref read{values[0], values[1], values[2], values[3], values[4], values[5]};
  if (!validFluvanePref(read)) return kPolicyRefused;
  *pref = read;
  return 0;
}

std::optional<FluvaneSnippetInfo> parseFluvaneSnippet(std::string_view body) {
  std::vector<std::string_view> parts = split(trimNewlines(body), ':');
  if (parts.size() != 5) return std::nullopt;
  std::optional<double> id = finiteNumber(parts[0]);
  std::optional<double> latitude = finiteNumber(parts[1]);
  std::optional<double> longitude = finiteNumber(parts[2]);
  if (!id || std::trunc(*id) < INT32_MIN || std::trunc(*id) > INT32_MAX) return std::nullopt;
  if (!latitude || std::fabs(*latitude) > 90.0) return std::nullopt;
  if (!longitude || std::fabs(*longitude) > 180.0) return std::nullopt;
  if (parts[4].size() % 4 != 0) return std::nullopt;
  std::optional<std::string> data = platform::base64Decode(parts[4]);
  if (!data) return std::nullopt;
  FluvaneSnippetInfo info;
  info.snippetId = static_cast<int32_t>(std::trunc(*id));
  info.latitude = *latitude;
  info.longitude = *longitude;
  info.name = std::string(parts[3]);
  info.snippetData = std::move(*data);
  return info;
}

std::vector<FluvaneLightPoint> parseFluvaneMap(std::string_view body, int* value) {
  std::vector<FluvaneLightPoint> points;
  std::vector<std::string_view> lines = split(trimNewlines(body), '\n');
  if (lines.empty()) return points;
  if (value) *value = leadingInt(lines[0]);
  if (lines.size() < 2) return points;
  struct Colour {
    uint8_t r = 0, g = 0, b = 0, a = 0;
  };
  std::vector<Colour> palette;
  if (!trimSpaces(lines[1]).empty()) {
    for (std::string_view entry : split(lines[1], ':')) {
      Colour colour;
      std::vector<std::string_view> parts = split(entry, '|');
      if (parts.size() == 4) {
        colour = {static_cast<uint8_t>(leadingInt(parts[0])),
                  static_cast<uint8_t>(leadingInt(parts[1])),
                  static_cast<uint8_t>(leadingInt(parts[2])),
                  static_cast<uint8_t>(leadingInt(parts[3]))};
      }
      palette.push_back(colour);
    }
  }
  if (palette.empty()) return points;
  points.reserve(lines.size() - 2);
  for (size_t i = 2; i < lines.size(); i++) {
    std::vector<std::string_view> parts = split(lines[i], ':');
    if (parts.size() != 4) continue;
    std::optional<double> latitude = finiteNumber(parts[0]);
    std::optional<double> longitude = finiteNumber(parts[1]);
    if (!latitude || !longitude) continue;
    int32_t index = leadingInt(parts[3]);
    if (index < 0 || static_cast<size_t>(index) >= palette.size()) index = 0;
    FluvaneLightPoint point;
    point.latitude = *latitude;
    point.longitude = *longitude;
    point.value = leadingInt(parts[2]);
    point.red = palette[index].r;
    point.green = palette[index].g;
    point.blue = palette[index].b;
    point.alpha = palette[index].a;
    point.colorIndex = static_cast<uint8_t>(index);
    points.push_back(point);
  }
  return points;
}

