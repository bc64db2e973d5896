// The web-service client: signed form posts and what they are built of.
//
// VXHttpPost posts a form body to a URL and answers status, body and the
// "deflate" flag (platform::HttpClient does the exchange: only Host and
// Content-Length sent, TLS verified, no redirects, connect and stall
// time-outs, the reply capped at 16 MiB, an abort flag looked at every
// 36 ms). Status -1 means no usable reply; an abort prints "aborting
// VXHttpPost" to the console, an oversized reply is logged.
//
// The service's base (APP_URL) is FLUVANE_SERVICE_URL, else the first line
// of home()/service.conf; it must be an http or https URL (a trailing "/"
// is dropped). With none, VXServiceUrl() logs "no web service configured"
// and every call built on it fails at once with status -1, sending nothing.
//
// Request bodies are forms: every key and value escaped (every byte outside
// A-Z a-z 0-9 - . _ ~ as %XX), so no value can add or change a field. The
// signature (vexelRequestForDevice) is the SHA-1 hex of the device
// identifier, the secret and the values in byte order of their keys, all
// unescaped; the body is "device=<id>&" then "key=value&" per key in that
// order, then "d=<signature>".
//
// VXDeviceIdentifier() is the device's identifier at the service
// (platform::deviceIdentifier with the product name).
//
// Threads: every function may be called from any thread; the posting ones
// block (background threads only). VXHttpPostHelper's hooks and the
// listener run on the main run loop; a helper is made and destroyed on the
// main thread and uploads on one background thread at a time.
#ifndef VXU_VXHTTP_H
#define VXU_VXHTTP_H

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/HttpClient.h"

struct VXHttpPostResult {
  int status = -1;
  std::optional<std::string> body;  // none unless a reply came
  bool deflated = false;
};

using VXDictionary = std::map<std::string, std::string>;

VXHttpPostResult VXHttpPost(const std::string& url, std::string_view body,
                            const std::atomic<bool>* abortFlag = nullptr);

// The service base, or none (nothing logged).
std::optional<std::string> VXServiceBase();
// base + path, or none with the log line "no web service configured".
std::optional<std::string> VXServiceUrl(const std::string& path);

std::string VXDeviceIdentifier();
// Whether the service's host can be reached (false with no service).
bool isVexelReachable();

std::string base64encode(std::string_view data);
std::optional<std::string> base64decode(std::string_view text);

// "key=value" with both escaped.
std::string VXFormField(std::string_view key, std::string_view value);

// Signing a dictionary (see above).
std::string vexelRequestForDevice(const VXDictionary& dictionary, const std::string& device,
                                  const std::string& secret);
// The signature of the secret and the values alone.
std::string vexelHashForSharedSecret(const VXDictionary& dictionary, const std::string& secret);
// "key=value&" per key, then "d=<hash>".
std::string vexelRequestWithHash(const VXDictionary& dictionary, const std::string& hash);

// Posts the dictionary signed with SHA_HASH_SECRET for this device; the
// reply's text when the status is 200, none otherwise.
std::optional<std::string> VXHttpPostDictionary(const std::string& url,
                                                const VXDictionary& dictionary);
// VXHttpPostDictionary to base + APP_SERVER_LOCATION + "/<name>/" on the
// shared background thread; returns at once.
void uploadToRelativeUrlInBackground(const VXDictionary& dictionary, const std::string& name);

class VXHttpProgressListener {
 public:
  virtual ~VXHttpProgressListener() = default;
  virtual void currentHttpProgress(float progress) = 0;
};

// An upload as an object: data and URL, progress told to a listener, an
// abort, and the reply kept.
class VXHttpPostHelper {
 public:
  VXHttpPostHelper();
  virtual ~VXHttpPostHelper();
  VXHttpPostHelper(const VXHttpPostHelper&) = delete;
  VXHttpPostHelper& operator=(const VXHttpPostHelper&) = delete;

  // Who is told that the service cannot be reached (the application
  // delegate's alert); called on the main run loop.
  static void setNoNetworkHandler(std::function<void()> handler);

  void setPostData(std::string data) { postData_ = std::move(data); }
  void setPostURL(std::string url) { postURL_ = std::move(url); }
  const std::optional<std::string>& postData() const { return postData_; }
  const std::optional<std::string>& postURL() const { return postURL_; }
  void setHttpProgressListener(VXHttpProgressListener* listener) { listener_ = listener; }

  // Blocking: nothing unless URL and data are set. uploadAboutToBegin on the
  // main loop, the post (with this helper's abort flag), then, unless
  // aborted, uploadFinished on the main loop.
  void uploadData();
  void abort() { shouldAbortPost_ = true; }
  bool wasSuccessful() const;
  std::optional<std::string> getServerAnswer() const;
  // Writes the server's answer to Documents/<name> (one path component);
  // false when there is none or the write fails.
  bool saveDownloadedDataToFile(const std::string& name) const;
  const std::optional<VXHttpPostResult>& postResult() const { return postResult_; }

 protected:
  // Main loop; subclasses extend them.
  virtual void uploadAboutToBegin();
  virtual void uploadFinished();

 private:
  void onMainLoop(void (VXHttpPostHelper::*hook)());

  std::atomic<bool> shouldAbortPost_{false};
  std::optional<std::string> postData_;
  std::optional<std::string> postURL_;
  std::optional<VXHttpPostResult> postResult_;
  VXHttpProgressListener* listener_ = nullptr;
  std::shared_ptr<VXHttpPostHelper*> self_;  // the main loop's calls hold it weakly
};

#endif
