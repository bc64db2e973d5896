#include "chip/util/util_string.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string itoa(long val) {
  // The same digits as printf's "%li", without parsing a format each time.
  char buffer[24];
  std::to_chars_result end = std::to_chars(buffer, buffer + sizeof(buffer), val);
  return std::string(buffer, end.ptr);
}

std::string ftoa(double val, unsigned long digits) {
  if (digits > 32) digits = 32;
  int precision = static_cast<int>(digits);
  // Large values need more than any fixed buffer: size the text first.
  int n = std::snprintf(nullptr, 0, "%.*f", precision, val);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, "%.*f", precision, val);
  return out;
}

std::string ltrim(const std::string& val) {
  size_t start = 0;
  while (start < val.size() && is_blank(val[start])) start++;
  return val.substr(start);
}

std::string rtrim(const std::string& val) {
  size_t end = val.size();
  while (end > 0 && is_blank(val[end - 1])) end--;
  return val.substr(0, end);
}

std::string trim(const std::string& val) { return rtrim(ltrim(val)); }

std::string tolower(const std::string& val) {
  std::string out = val;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string toupper(const std::string& val) {
  std::string out = val;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

t_CPBOOL extract_args(const std::string& token, std::string& filename,
                      std::vector<std::string>& args) {
  args.clear();
  filename = "";

  std::string text = trim(token);
  // escaped[i]: text[i] is a colon written as "\:", part of a name rather
  // than a separator. Only "\:" is rewritten; other backslashes stay.
  std::vector<bool> escaped(text.size(), false);
  if (text.find('\\') != std::string::npos) {
    std::string rewritten;
    std::vector<bool> marks;
    for (size_t i = 0; i < text.size(); i++) {
      if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ':') {
        rewritten += ':';
        marks.push_back(true);
        i++;
      } else {
        rewritten += text[i];
        marks.push_back(false);
      }
    }
    text.swap(rewritten);
    escaped.swap(marks);
  }

  // The first piece is the file name, every later one an argument (empty
  // pieces included).
  auto take = [&](std::string piece) {
    if (filename.empty()) {
      filename = std::move(piece);
    } else {
      args.push_back(std::move(piece));
    }
  };

  size_t start = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != ':' || escaped[i]) continue;
    if (i == 0) return FALSE;
    take(text.substr(start, i - start));
    start = i + 1;
  }
  take(text.substr(start));
  return TRUE;
}
