#include "vxu/VXHttp.h"

#include <cstdlib>
#include <mutex>

#include "platform/DeviceId.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/Reachability.h"
#include "platform/RunLoop.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXConfig.h"
#include "vxu/VXLog.h"
#include "vxu/VXSecrets.h"
#include "vxu/VXUtils.h"

using platform::Paths;

namespace {

std::mutex g_mutex;
std::function<void()> g_noNetworkHandler;

VXLog& vxlog() { return VXLog::sharedVXLog(); }

std::string trimmed(std::string text) {
  while (!text.empty() && std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos) {
    text.pop_back();
  }
  std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

VXHttpPostResult VXHttpPost(const std::string& url, std::string_view body,
                            const std::atomic<bool>* abortFlag) {
  platform::HttpResult reply =
      platform::HttpClient::post(url, body, abortFlag, platform::HttpLimits{});
  switch (reply.failure) {
    case platform::HttpResult::Failure::Aborted:
      // Through the log, as every other line: a player's quiet console
      // does not show it, the log file and --verbose do.
      vxlog().log("aborting VXHttpPost");
      break;
    case platform::HttpResult::Failure::TooLarge:
      vxlog().log("reply dropped: %s", reply.error.c_str());
      break;
    default:
      break;
  }
  VXHttpPostResult result;
  result.status = reply.status;
  result.body = std::move(reply.body);
  result.deflated = reply.deflated;
  return result;
}

std::optional<std::string> VXServiceBase() {
  std::string base;
  const char* given = std::getenv("FLUVANE_SERVICE_URL");
  if (given && *given) {
    base = trimmed(given);
  } else if (auto file = Paths::readFile(Paths::join(Paths::home(), "service.conf"))) {
    base = trimmed(file->substr(0, file->find('\n')));
  }
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (base.empty() || !platform::isHttpUrl(base)) return std::nullopt;
  return base;
}

std::optional<std::string> VXServiceUrl(const std::string& path) {
  std::optional<std::string> base = VXServiceBase();
  if (!base) {
    vxlog().log("no web service configured");
    return std::nullopt;
  }
  return *base + path;
}

std::string VXDeviceIdentifier() { return platform::deviceIdentifier(product_name()); }

bool isVexelReachable() {
  std::optional<std::string> base = VXServiceBase();
  return base && platform::Reachability::isReachable(platform::hostOfUrl(*base));
}

std::string base64encode(std::string_view data) { return platform::base64Encode(data); }

std::optional<std::string> base64decode(std::string_view text) {
  return platform::base64Decode(text);
}

std::string VXFormField(std::string_view key, std::string_view value) {
  return platform::escapeValue(key) + "=" + platform::escapeValue(value);
}

std::string vexelHashForSharedSecret(const VXDictionary& dictionary, const std::string& secret) {
  std::string input = secret;
  for (const auto& entry : dictionary) input += entry.second;
  return platform::sha1Hex(input);
}

std::string vexelRequestWithHash(const VXDictionary& dictionary, const std::string& hash) {
  std::string body;
  for (const auto& [key, value] : dictionary) body += VXFormField(key, value) + "&";
  return body + "d=" + hash;
}

std::string vexelRequestForDevice(const VXDictionary& dictionary, const std::string& device,
                                  const std::string& secret) {
  std::string input = device + secret;
  for (const auto& entry : dictionary) input += entry.second;
  return VXFormField("device", device) + "&" +
         vexelRequestWithHash(dictionary, platform::sha1Hex(input));
}

std::optional<std::string> VXHttpPostDictionary(const std::string& url,
                                                const VXDictionary& dictionary) {
  vxlog().log("Uploading dictionary");
  std::string body = vexelRequestForDevice(dictionary, VXDeviceIdentifier(), SHA_HASH_SECRET);
  vxlog().log("body data: %s", body.c_str());
  VXHttpPostResult result = VXHttpPost(url, body);
  vxlog().log("Done uploading dictionary to %s, http code: %d", url.c_str(), result.status);
  if (result.status != 200 || !result.body) return std::nullopt;
  return result.body;
}

void uploadToRelativeUrlInBackground(const VXDictionary& dictionary, const std::string& name) {
  std::optional<std::string> url =
      VXServiceUrl(std::string(APP_SERVER_LOCATION) + "/" + name + "/");
  if (!url) return;
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(
      [dictionary, url = *url] { VXHttpPostDictionary(url, dictionary); });
}

// ---------------------------------------------------------------------------
// VXHttpPostHelper

VXHttpPostHelper::VXHttpPostHelper() : self_(std::make_shared<VXHttpPostHelper*>(this)) {}

VXHttpPostHelper::~VXHttpPostHelper() = default;

void VXHttpPostHelper::setNoNetworkHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_noNetworkHandler = std::move(handler);
}

void VXHttpPostHelper::onMainLoop(void (VXHttpPostHelper::*hook)()) {
  platform::RunLoop::main().post([weak = std::weak_ptr<VXHttpPostHelper*>(self_), hook] {
    if (std::shared_ptr<VXHttpPostHelper*> self = weak.lock()) ((*self)->*hook)();
  });
}

void VXHttpPostHelper::uploadData() {
  if (!postURL_ || !postData_) return;
  onMainLoop(&VXHttpPostHelper::uploadAboutToBegin);
  if (!isVexelReachable()) {
    std::function<void()> handler;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      handler = g_noNetworkHandler;
    }
    if (handler) platform::RunLoop::main().post(handler);
  }
  postResult_ = VXHttpPost(*postURL_, *postData_, &shouldAbortPost_);
  if (shouldAbortPost_) return;
  onMainLoop(&VXHttpPostHelper::uploadFinished);
}

bool VXHttpPostHelper::wasSuccessful() const { return postResult_ && postResult_->status == 200; }

std::optional<std::string> VXHttpPostHelper::getServerAnswer() const {
  if (!wasSuccessful()) return std::nullopt;
  return postResult_->body.value_or(std::string());
}

bool VXHttpPostHelper::saveDownloadedDataToFile(const std::string& name) const {
  std::optional<std::string> answer = getServerAnswer();
  if (!answer) return false;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    vxlog().log("not a file name: '%s'", name.c_str());
    return false;
  }
  Paths::mkdirs(Paths::documents());
  return Paths::writeAtomic(Paths::join(Paths::documents(), name), *answer);
}

void VXHttpPostHelper::uploadAboutToBegin() {
  if (listener_) listener_->currentHttpProgress(0.0f);
}

void VXHttpPostHelper::uploadFinished() {
  if (listener_) listener_->currentHttpProgress(1.0f);
}
