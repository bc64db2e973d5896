// Reading a composed mailto: URL in tests: the names of its fields in order,
// and a field's value as sent (percent-escaped) or decoded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace mailto {

// Every name=value part after the '?', in order.
inline std::vector<std::pair<std::string, std::string>> parts(const std::string& url) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string rest = url.substr(url.find('?') + 1);
  std::size_t at = 0;
  for (;;) {
    std::size_t end = rest.find('&', at);
    std::string part = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::size_t eq = part.find('=');
    out.emplace_back(part.substr(0, eq), eq == std::string::npos ? "" : part.substr(eq + 1));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return out;
}

inline std::vector<std::string> fieldNames(const std::string& url) {
  std::vector<std::string> names;
  for (const auto& part : parts(url)) names.push_back(part.first);
  return names;
}

// The value of a field as it stands in the URL ("" when absent).
inline std::string rawField(const std::string& url, const std::string& name) {
  for (const auto& part : parts(url))
    if (part.first == name) return part.second;
  return "";
}

inline std::string unescape(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

inline std::string field(const std::string& url, const std::string& name) {
  return unescape(rawField(url, name));
}

}  // namespace mailto
