#include "platform/Digest.h"

#include <openssl/evp.h>

namespace platform {

std::array<std::uint8_t, 20> sha1(std::string_view data) {
  std::array<std::uint8_t, 20> digest{};
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
  return digest;
}

std::string sha1Hex(std::string_view data) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(40);
  for (std::uint8_t byte : sha1(data)) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string base64Encode(std::string_view data) {
  std::string text;
  text.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    std::uint32_t group = (std::uint32_t(std::uint8_t(data[i])) << 16) |
                          (std::uint32_t(std::uint8_t(data[i + 1])) << 8) |
                          std::uint8_t(data[i + 2]);
    text += kAlphabet[group >> 18];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  std::size_t rest = data.size() - i;
  if (rest > 0) {
    std::uint32_t group = std::uint32_t(std::uint8_t(data[i])) << 16;
    if (rest == 2) group |= std::uint32_t(std::uint8_t(data[i + 1])) << 8;
    text += kAlphabet[group >> 18];
    text += kAlphabet[(group >> 12) & 63];
    text += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::optional<std::string> base64Decode(std::string_view text) {
  std::size_t groups = text.size() / 4;
  std::string data;
  data.reserve(groups * 3);
  for (std::size_t g = 0; g < groups; ++g) {
    std::string_view group = text.substr(g * 4, 4);
    bool last = g + 1 == groups;
    // Padding: "xy==" or "xyz=", in the last group only.
    std::size_t padding = 0;
    if (last && group[3] == '=') padding = group[2] == '=' ? 2 : 1;
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int value = k >= 4 - padding ? 0 : sextet(group[k]);
      if (value < 0) return std::nullopt;
      bits = (bits << 6) | std::uint32_t(value);
    }
    data += char(bits >> 16);
    if (padding < 2) data += char((bits >> 8) & 255);
    if (padding < 1) data += char(bits & 255);
  }
  return data;
}

std::string escapeValue(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                 (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                 byte == '~';
    if (plain) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    }
  }
  return escaped;
}

}  // namespace platform
