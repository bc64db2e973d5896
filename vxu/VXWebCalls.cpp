#include "vxu/VXWebCalls.h"

#include <arpa/inet.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <vector>

#include "platform/Digest.h"
#include "platform/HttpClient.h"
#include "platform/Reachability.h"
#include "vxu/VXConfig.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLog.h"
#include "vxu/VXSecrets.h"

namespace {

std::optional<std::string> productUrl(const std::string& call) {
  return VXServiceUrl(std::string(APP_SERVER_LOCATION) + call);
}

std::string number(long long value) { return std::to_string(value); }

// 200 with a non-empty body: the body.
std::optional<std::string> nonEmptyBody(const std::optional<std::string>& url,
                                        const std::string& body) {
  if (!url) return std::nullopt;
  VXHttpPostResult result = VXHttpPost(*url, body);
  if (result.status != 200 || !result.body || result.body->empty()) return std::nullopt;
  return result.body;
}

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

int handleAuth(const std::string& path, const std::string& user, const std::string& password) {
  std::optional<std::string> url = VXServiceUrl(path);
  if (!url) return -1;
  std::string lowerUrl = *url;
  for (char& c : lowerUrl) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string host = platform::hostOfUrl(*url);
  if (lowerUrl.rfind("https://", 0) != 0 && !isLoopbackHost(host)) {
    VXLog::sharedVXLog().log("refusing to send a password over plain http to %s", host.c_str());
    return -1;
  }
  std::string device = VXDeviceIdentifier();
  std::string signature = platform::sha1Hex(user + password + VEXEL_SHA_HASH_SECRET + device);
  std::string body = VXFormField("h", user) + "&" + VXFormField("p", password) + "&" +
                     VXFormField("device", device) + "&d=" + signature;
  VXHttpPostResult result = VXHttpPost(*url, body);
  return parseAuthReply(result.status, result.body);
}

}  // namespace

VXServerMessage parseServerMessage(std::string_view reply) {
  static const char* const kMarkers[] = {"###TITLE###", "###BODY###", "###URL###",
                                         "###ID###",    "###OK_B###", "###CANCEL_B###"};
  VXServerMessage none;
  std::size_t starts[6];
  std::size_t ends[6];
  for (int i = 0; i < 6; ++i) {
    std::size_t at = reply.find(kMarkers[i]);
    if (at == std::string_view::npos) return none;
    starts[i] = at;
    ends[i] = at + std::string_view(kMarkers[i]).size();
    // Each marker after the end of the one before.
    if (i > 0 && starts[i] < ends[i - 1]) return none;
  }
  std::size_t close = reply.rfind("###");
  if (close == std::string_view::npos || close < ends[5]) return none;
  auto field = [&](int i) {
    std::size_t end = i < 5 ? starts[i + 1] : close;
    return std::string(reply.substr(ends[i], end - ends[i]));
  };
  VXServerMessage message;
  message.title = field(0);
  message.body = field(1);
  message.url = field(2);
  message.messageID = field(3);
  message.okTitle = field(4);
  message.cancelTitle = field(5);
  return message;
}

int parseAuthReply(int status, const std::optional<std::string>& body) {
  if (status != 200 || !body || body->empty()) return -1;
  const std::string& text = *body;
  std::size_t at = 0;
  bool negative = false;
  if (text[at] == '-' || text[at] == '+') negative = text[at++] == '-';
  if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
  long long value = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > INT_MAX) return -1;
  }
  return static_cast<int>(negative ? -value : value);
}

VXServerMessage getServerMessage(const std::string& device, int appid, int affiliation) {
  std::optional<std::string> url = productUrl("/motd/");
  if (!url) return {};
  std::string body = VXFormField("device", device) + "&affiliation=" + number(affiliation) +
                     "&appid=" + number(appid);
  VXHttpPostResult result = VXHttpPost(*url, body);
  if (result.status != 200 || !result.body) return {};
  return parseServerMessage(*result.body);
}

std::optional<std::string> getFile(const std::string& path) {
  return nonEmptyBody(productUrl("/getFile/"), VXFormField("path", path));
}

std::optional<VXRichContent> getRichContent(const std::string& device, int appid,
                                            const std::string& contentID) {
  std::optional<std::string> text = nonEmptyBody(
      productUrl("/getRichContent/"), VXFormField("device", device) + "&appid=" + number(appid) +
                                          "&" + VXFormField("contentID", contentID));
  if (!text) return std::nullopt;
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text->find('\n', at);
    lines.push_back(text->substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (lines.size() <= 3) return std::nullopt;
  VXRichContent content;
  content.title = lines[0];
  content.text = lines[1];
  content.link = lines[2];
  content.data = getFile(lines[3]);
  return content;
}

std::optional<std::string> getSplashScreen(const std::string& device, int appid, int affiliation,
                                           double lastTime) {
  char lasttime[64];
  std::snprintf(lasttime, sizeof lasttime, "%f", lastTime);
  return nonEmptyBody(productUrl("/splashscreen/"),
                      VXFormField("device", device) + "&affiliation=" + number(affiliation) +
                          "&appid=" + number(appid) + "&" + VXFormField("lasttime", lasttime));
}

std::optional<std::string> getInfoText(const std::string& device, int appid, int affiliation) {
  std::optional<std::string> url = productUrl("/infotext/");
  if (!url) return std::nullopt;
  VXHttpPostResult result =
      VXHttpPost(*url, VXFormField("device", device) + "&affiliation=" + number(affiliation) +
                           "&appid=" + number(appid));
  if (result.status != 200) return std::nullopt;
  return result.body.value_or(std::string());
}

int VXLogin(const std::string& user, const std::string& password) {
  return handleAuth("/vexel/login/", user, password);
}

int VXLogout(const std::string& user, const std::string& password) {
  return handleAuth("/vexel/logout/", user, password);
}

std::optional<std::string> VXCurrentAuthState() {
  return nonEmptyBody(VXServiceUrl("/vexel/authstate/"),
                      VXFormField("device", VXDeviceIdentifier()));
}
