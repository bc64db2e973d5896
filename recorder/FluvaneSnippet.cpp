#include "recorder/FluvaneSnippet.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/Paths.h"
#include "vxu/VXLog.h"

using platform::Paths;

bool validPacketLength(size_t length) {
  if (length < SNIPPET_HEADER_SIZE + SNAPSHOT_PACKET_SIZE) return false;
  if ((length - SNIPPET_HEADER_SIZE) % SNAPSHOT_PACKET_SIZE != 0) return false;
  return packetEntryCount(length) <= kMaxSnapshots;
}

uint32_t readLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void writeLE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

float readLEFloat(const unsigned char* p) {
  uint32_t bits = readLE32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

namespace {

uint32_t floatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

}  // namespace

bool prepare(FluvaneSnippet& snippet) {
  if (snippet.snapshots.size() > kMaxSnapshots) {
    VX_logf("FluvaneVCR::stop(): out of memory!\n");
    return false;
  }
  size_t size = SNIPPET_HEADER_SIZE + SNAPSHOT_PACKET_SIZE * snippet.snapshots.size();
  std::string packet;
  try {
    packet.resize(size);
  } catch (const std::bad_alloc&) {
    VX_logf("FluvaneVCR::stop(): out of memory!\n");
    return false;
  }
  auto* p = reinterpret_cast<unsigned char*>(packet.data());
  writeLE32(p, snippet.header);
  writeLE32(p + 4, snippet.root);
  writeLE32(p + 8, snippet.mode);
  writeLE32(p + 12, floatBits(snippet.duration));
  p += SNIPPET_HEADER_SIZE;
  for (const FluvaneSnapshot& s : snippet.snapshots) {
    writeLE32(p, floatBits(s.delta));
    writeLE32(p + 4, s.state);
    p += SNAPSHOT_PACKET_SIZE;
  }
  snippet.packet = std::move(packet);
  VX_logf("prepare(): %x %x %x %f\n", snippet.header, snippet.root, snippet.mode,
          static_cast<double>(snippet.duration));
  return true;
}

std::unique_ptr<FluvaneSnippet> CopySnipet(const FluvaneSnippet& snippet) {
  try {
    auto copy = std::make_unique<FluvaneSnippet>();
    copy->header = snippet.header;
    copy->root = snippet.root;
    copy->mode = snippet.mode;
    copy->duration = snippet.duration;
    copy->snapshots = snippet.snapshots;
    copy->manual = snippet.manual;
    if (!prepare(*copy)) return nullptr;
    return copy;
  } catch (const std::bad_alloc&) {
    VX_logf("FluvaneVCR::stop(): out of memory!\n");
    return nullptr;
  }
}

std::optional<FluvaneSnippet> snippetFromPacket(std::string_view packet) {
  if (!validPacketLength(packet.size())) return std::nullopt;
  FluvaneSnippet snippet;
  snippet.packet.assign(packet.data(), packet.size());
  const auto* p = reinterpret_cast<const unsigned char*>(snippet.packet.data());
  snippet.header = readLE32(p);
  snippet.root = readLE32(p + 4);
  snippet.mode = readLE32(p + 8);
  snippet.duration = readLEFloat(p + 12);
  size_t count = packetEntryCount(packet.size());
  snippet.snapshots.resize(count);
  for (size_t i = 0; i < count; i++) {
    const unsigned char* e = p + SNIPPET_HEADER_SIZE + SNAPSHOT_PACKET_SIZE * i;
    snippet.snapshots[i] = {readLEFloat(e), readLE32(e + 4)};
  }
  return snippet;
}

// ---------------------------------------------------------------------------
// Numbers in the C locale

std::string formatFixed6(double value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return std::string(buffer, result.ptr);
}

std::optional<double> parseDouble(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0.0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<long long> parseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// ---------------------------------------------------------------------------
// Text form

std::string snippetText(const FluvaneSnippet& snippet) {
  std::string text = "header: " + std::to_string(static_cast<int32_t>(snippet.header)) +
                     ", root: " + std::to_string(static_cast<int32_t>(snippet.root)) +
                     ", mode: " + std::to_string(static_cast<int32_t>(snippet.mode)) +
                     ", duration: " + formatFixed6(snippet.duration) +
                     ", snapshots: " + std::to_string(snippet.snapshots.size()) + "\n";
  for (const FluvaneSnapshot& s : snippet.snapshots) {
    text += "s " + formatFixed6(s.delta) + " " + std::to_string(static_cast<int32_t>(s.state)) +
            "\n";
  }
  return text;
}

namespace {

// Takes the literal prefix from text; false when it is not there.
bool take(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

// Takes the text up to the delimiter (or the end when delimiter is empty).
std::string_view field(std::string_view& text, std::string_view delimiter) {
  size_t end = delimiter.empty() ? text.size() : text.find(delimiter);
  if (end == std::string_view::npos) end = text.size();
  std::string_view f = text.substr(0, end);
  text.remove_prefix(end);
  return f;
}

std::optional<int32_t> int32Field(std::string_view text) {
  std::optional<long long> v = parseInteger(text);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<float> floatField(std::string_view text) {
  std::optional<double> v = parseDouble(text);
  if (!v || !std::isfinite(*v) || std::fabs(*v) > 3.4e38) return std::nullopt;
  return static_cast<float>(*v);
}

// The next line (without its "\n"), or none at the end.
std::optional<std::string_view> nextLine(std::string_view& text) {
  if (text.empty()) return std::nullopt;
  size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

}  // namespace

bool parseSnippetText(FluvaneSnippet& snippet, std::string_view text) {
  snippet.snapshots.clear();
  size_t count = 0;
  std::optional<std::string_view> first = nextLine(text);
  if (first) {
    std::string_view line = *first;
    std::optional<int32_t> header, root, mode, n;
    std::optional<float> duration;
    if (take(line, "header: ") && (header = int32Field(field(line, ","))) &&
        take(line, ", root: ") && (root = int32Field(field(line, ","))) &&
        take(line, ", mode: ") && (mode = int32Field(field(line, ","))) &&
        take(line, ", duration: ") && (duration = floatField(field(line, ","))) &&
        take(line, ", snapshots: ") && (n = int32Field(field(line, "")))) {
      snippet.header = static_cast<uint32_t>(*header);
      snippet.root = static_cast<uint32_t>(*root);
      snippet.mode = static_cast<uint32_t>(*mode);
      snippet.duration = *duration;
      // A count beyond what a recording can hold is refused before anything
      // is reserved for it.
      if (*n > 0 && static_cast<size_t>(*n) <= kMaxSnapshots) count = static_cast<size_t>(*n);
    }
  }
  for (size_t i = 0; i < count; i++) {
    std::optional<std::string_view> next = nextLine(text);
    std::optional<float> delta;
    std::optional<int32_t> state;
    std::string_view line = next.value_or(std::string_view());
    if (!next || !take(line, "s ") || !(delta = floatField(field(line, " "))) ||
        !take(line, " ") || !(state = int32Field(field(line, "")))) {
      snippet.snapshots.clear();
      count = 0;
      break;
    }
    snippet.snapshots.push_back({*delta, static_cast<uint32_t>(*state)});
  }
  prepare(snippet);
  return count > 0;
}

bool saveSnippet(const FluvaneSnippet& snippet, const std::string& path) {
  return Paths::writeAtomic(path, snippetText(snippet));
}

bool loadSnippet(FluvaneSnippet& snippet, const std::string& path) {
  std::optional<std::string> text = Paths::readFile(path);
  if (!text) {
    snippet.snapshots.clear();
    return false;
  }
  return parseSnippetText(snippet, *text);
}
