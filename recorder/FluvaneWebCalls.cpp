#include "recorder/FluvaneWebCalls.h"

#include <atomic>
#include <mutex>

#include "platform/Digest.h"
#include "vxu/VXConfig.h"
#include "vxu/VXLocation.h"
#include "vxu/VXLog.h"
#include "vxu/VXSecrets.h"

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

std::optional<std::string> endpoint(const char* path) {
  return VXServiceUrl(std::string(APP_SERVER_LOCATION) + path);
}

VXHttpPostResult post(const char* path, const std::string& body,
                      const std::atomic<bool>* abortFlag = nullptr) {
  std::optional<std::string> url = endpoint(path);
  if (!url) return VXHttpPostResult{};
  return VXHttpPost(*url, body, abortFlag);
}

std::mutex g_hooksMutex;
std::function<std::string()> g_nameSource;
std::function<void()> g_uploadCounter;
SnippetUploadHelper::LocationSource g_locationSource;

}  // namespace

// ---------------------------------------------------------------------------
// The calls

VXHttpPostResult uploadFluvaneStats(const std::string& deviceId, const FluvaneStatsReport& s) {
  vxlog().log("Uploading Fluvane stats");
  VXDictionary fields{{"applaunch", std::to_string(s.applaunch)},
                      {"apptime", std::to_string(s.apptime)},
                      {"model", s.model},
                      {"sysv", s.sysv},
                      {"name", s.name},
                      {"appv", s.appv},
                      {"globeviews", std::to_string(s.globeviews)},
                      {"snippets_listened", std::to_string(s.snippetsListened)},
                      {"snippets_uploaded", std::to_string(s.snippetsUploaded)},
                      {"hardware", std::to_string(s.hardware)}};
  VXHttpPostResult result =
      post("/fluvanestats/", vexelRequestForDevice(fields, deviceId, SHA_HASH_SECRET));
  vxlog().log("Done uploading Fluvane stats, http code: %d", result.status);
  return result;
}

void uploadVote(int snippetId, bool vote) {
  vxlog().log("uploading vote for snippet");
  std::string body = "sid=" + std::to_string(snippetId) + "&vote=" + (vote ? "1" : "0") + "&" +
                     VXFormField("device", VXDeviceIdentifier());
  VXHttpPostResult result = post("/vote/", body);
  vxlog().log("done uploading vote, http code: %d", result.status);
}

int getFluvanePreference(VXFluvanePref* pref) {
  vxlog().log("requesting fluvane preference");
  VXHttpPostResult result = post("/getpreference1.2/", VXFormField("device", VXDeviceIdentifier()));
  if (result.status != 200) return kPolicyFailed;
  return parseFluvanePreference(result.body.value_or(""), pref);
}

std::unique_ptr<FluvaneSnippetInfo> getFluvaneSnippet(int mode, double latitude, double longitude,
                                                      double radius,
                                                      const std::atomic<bool>* abortFlag) {
  vxlog().log("requesting fluvane snippet");
  std::string body = VXFormField("device", VXDeviceIdentifier()) +
                     "&mode=" + std::to_string(mode) + "&lat=" + formatFixed6(latitude) +
                     "&long=" + formatFixed6(longitude) + "&radius=" + formatFixed6(radius);
  VXHttpPostResult result = post("/getsnippet/", body, abortFlag);
  std::unique_ptr<FluvaneSnippetInfo> info;
  if (result.status == 200 && result.body) {
    if (std::optional<FluvaneSnippetInfo> parsed = parseFluvaneSnippet(*result.body)) {
      info = std::make_unique<FluvaneSnippetInfo>(std::move(*parsed));
    } else {
      vxlog().log("fluvane snippet reply refused");
    }
  }
  vxlog().log("Received fluvane snippet, http code: %d", result.status);
  return info;
}

std::vector<FluvaneLightPoint> getFluvaneMap(int* count, int* value,
                                             const std::atomic<bool>* abortFlag) {
  vxlog().log("requesting light map");
  int asked = count ? *count : 0;
  if (count) *count = 0;
  std::string body =
      "count=" + std::to_string(asked) + "&" + VXFormField("device", VXDeviceIdentifier());
  VXHttpPostResult result = post("/fluvanemapcolor/", body, abortFlag);
  if (result.status == -1 && !result.body) {
    vxlog().log("VXHttpPostResult returned nil. No lightmap data available.");
    return {};
  }
  std::vector<FluvaneLightPoint> points;
  if (result.status == 200) points = parseFluvaneMap(result.body.value_or(""), value);
  if (count) *count = static_cast<int>(points.size());
  vxlog().log("Received lighter map, http code: %d", result.status);
  return points;
}

// ---------------------------------------------------------------------------
// SnippetUploadHelper

void SnippetUploadHelper::setPlayerNameSource(std::function<std::string()> source) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_nameSource = std::move(source);
}

void SnippetUploadHelper::setUploadCounter(std::function<void()> counter) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_uploadCounter = std::move(counter);
}

std::string SnippetUploadHelper::uploadBody(const std::string& device, double latitude,
                                            double longitude, std::string_view packet,
                                            const std::string& name, bool manual) {
  std::string snippet = base64encode(packet);
  std::string lat = formatFixed6(latitude);
  std::string lon = formatFixed6(longitude);
  std::string flag = manual ? "1" : "0";
  std::string digest =
      platform::sha1Hex(lat + lon + SHA_HASH_SECRET + device + snippet + name + flag);
  return VXFormField("device", device) + "&latitude=" + lat + "&longitude=" + lon +
         "&d=" + digest + "&" + VXFormField("snippet", snippet) + "&" +
         VXFormField("fluvaneName", name) + "&mode=" + flag;
}

void SnippetUploadHelper::setLocationSource(LocationSource source) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_locationSource = std::move(source);
}

bool SnippetUploadHelper::prepareSnippetUpload(const FluvaneSnippet& snippet, bool needLocation,
                                               bool manualRecording) {
  LocationSource source;
  {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    source = g_locationSource;
  }
  std::optional<platform::LocationFix> fix =
      source ? source() : vexelLocation::sharedInstance().getLocation(3000);
  vxlog().log("preparing snippet upload of size: %zu", snippet.packet.size());
  if (needLocation && !fix) {
    vxlog().log("no gps, no upload...");
    return false;
  }
  double latitude = fix ? fix->latitude : 0.0;
  double longitude = fix ? fix->longitude : 0.0;
  std::string name;
  {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    if (g_nameSource) name = g_nameSource();
  }
  if (name.empty()) name = "(Anonymous)";
  std::optional<std::string> url = endpoint("/uploadsnippet/");
  if (!url) return false;
  setPostData(uploadBody(VXDeviceIdentifier(), latitude, longitude, snippet.packet, name,
                         manualRecording));
  setPostURL(*url);
  return true;
}

bool SnippetUploadHelper::uploadNow() {
  uploadData();
  const std::optional<VXHttpPostResult>& result = postResult();
  if (!result) return false;
  bool ok = result->status == 200;
  if (ok) {
    std::function<void()> counter;
    {
      std::lock_guard<std::mutex> lock(g_hooksMutex);
      counter = g_uploadCounter;
    }
    if (counter) counter();
  }
  vxlog().log("Done uploading Fluvane snippet, http code: %d", result->status);
  return ok;
}

void SnippetUploadHelper::uploadFinished() { VXHttpPostHelper::uploadFinished(); }
