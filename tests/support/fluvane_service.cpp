#include "fluvane_service.h"

#include <openssl/evp.h>

#include <cstdio>

namespace stub {

std::string percentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '%' && i + 2 < text.size()) {
      auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
      };
      int hi = hex(text[i + 1]), lo = hex(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Form parseForm(const std::string& body) {
  Form form;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(start, end - start);
    size_t eq = pair.find('=');
    if (!pair.empty()) {
      if (eq == std::string::npos) {
        form[percentDecode(pair)] = "";
      } else {
        form[percentDecode(pair.substr(0, eq))] = percentDecode(pair.substr(eq + 1));
      }
    }
    start = end + 1;
  }
  return form;
}

std::string sha1HexOf(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < length; i++) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

std::string base64Of(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
  out.resize(n);
  return out;
}

bool base64From(const std::string& text, std::string* data) {
  if (text.size() % 4 != 0) return false;
  std::string out(text.size() / 4 * 3 + 1, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return false;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  out.resize(static_cast<size_t>(n) - padding);
  *data = out;
  return true;
}

FluvaneService::FluvaneService(ServiceStub& stub, std::string secret)
    : secret_(std::move(secret)) {
  stub.handle("/fluvane/uploadsnippet/", [this](const Request& r) { return upload(r); });
  stub.handle("/fluvane/getsnippet/", [this](const Request& r) { return getSnippet(r); });
  stub.handle("/fluvane/getpreference1.2/", [this](const Request&) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Reply::text(policy_);
  });
  stub.handle("/fluvane/fluvanemapcolor/", [this](const Request& r) { return map(r); });
  stub.handle("/fluvane/vote/", [this](const Request& r) { return vote(r); });
  stub.handle("/fluvane/fluvanestats/", [this](const Request& r) { return statsUpload(r); });
}

void FluvaneService::setPolicy(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  policy_ = std::move(text);
}

int FluvaneService::seed(const std::string& latitude, const std::string& longitude,
                         const std::string& name, const std::string& packet) {
  std::lock_guard<std::mutex> lock(mutex_);
  StoredSnippet s;
  s.id = static_cast<int>(snippets_.size()) + 1;
  s.latitude = latitude;
  s.longitude = longitude;
  s.name = name;
  s.packet = packet;
  s.mode = "0";
  snippets_.push_back(s);
  return s.id;
}

std::vector<StoredSnippet> FluvaneService::snippets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snippets_;
}

std::vector<std::pair<std::string, std::string>> FluvaneService::votes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return votes_;
}

std::vector<Form> FluvaneService::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

int FluvaneService::refusedDigests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refused_;
}

Reply FluvaneService::upload(const Request& request) {
  Form f = parseForm(request.body);
  std::string digest = sha1HexOf(f["latitude"] + f["longitude"] + secret_ + f["device"] +
                                 f["snippet"] + f["fluvaneName"] + f["mode"]);
  std::lock_guard<std::mutex> lock(mutex_);
  if (digest != f["d"]) {
    refused_++;
    return Reply::text("bad digest", 403);
  }
  std::string packet;
  if (!base64From(f["snippet"], &packet) || packet.size() < 24 || (packet.size() - 16) % 8) {
    return Reply::text("bad snippet", 400);
  }
  StoredSnippet s;
  s.id = static_cast<int>(snippets_.size()) + 1;
  s.latitude = f["latitude"];
  s.longitude = f["longitude"];
  s.name = f["fluvaneName"];
  s.packet = packet;
  s.mode = f["mode"];
  s.device = f["device"];
  snippets_.push_back(s);
  return Reply::text("Your melody #" + std::to_string(s.id) +
                     "\nListen to it at https://fluvane.org/s/" + std::to_string(s.id) + "\n");
}

Reply FluvaneService::getSnippet(const Request&) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (snippets_.empty()) return Reply::text("", 404);
  const StoredSnippet& s = snippets_[nextToServe_++ % snippets_.size()];
  std::string lat = s.latitude.empty() ? "0" : s.latitude;
  std::string lon = s.longitude.empty() ? "0" : s.longitude;
  return Reply::text(std::to_string(s.id) + ":" + lat + ":" + lon + ":" + s.name + ":" +
                     base64Of(s.packet));
}

Reply FluvaneService::map(const Request&) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string body = std::to_string(snippets_.size()) + "\n255|255|255|255:255|128|0|255\n";
  for (const StoredSnippet& s : snippets_) {
    body += (s.latitude.empty() ? "0" : s.latitude) + ":" +
            (s.longitude.empty() ? "0" : s.longitude) + ":" + std::to_string(s.id) + ":" +
            std::to_string(s.id % 2) + "\n";
  }
  return Reply::text(body);
}

Reply FluvaneService::vote(const Request& request) {
  Form f = parseForm(request.body);
  std::lock_guard<std::mutex> lock(mutex_);
  votes_.emplace_back(f["sid"], f["vote"]);
  return Reply::text("1");
}

Reply FluvaneService::statsUpload(const Request& request) {
  Form f = parseForm(request.body);
  std::string input = f["device"] + secret_;
  for (const auto& [key, value] : f) {
    if (key != "device" && key != "d") input += value;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (sha1HexOf(input) != f["d"]) {
    refused_++;
    return Reply::text("bad digest", 403);
  }
  stats_.push_back(f);
  return Reply::text(std::to_string(stats_.size()));
}

}  // namespace stub
