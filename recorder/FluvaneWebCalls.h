// The instrument's calls to its web service: the statistics upload, the
// vote on a heard snippet, the recording policy, one snippet to play on the
// globe, the globe's light map, and the snippet upload (SnippetUploadHelper).
//
// Every call posts a form to base + "/fluvane" + its endpoint through
// VXHttpPost (so with no service configured it fails at once). Every value
// in a body is percent-escaped, so a name with "&" or "=" arrives whole;
// digests are taken over the unescaped texts. Numbers are written in the C
// locale ("%f": six decimals) and replies read in it, whatever the process's
// locale. Anything but a 200 reply is failure.
//
// Replies are checked before they are believed:
//  - policy: six ":"-separated whole numbers, in range (frequency, maximum
//    and manual time at least 1, minimum 0..maximum, root -1 or 0..127,
//    mode -1 or 0..7); fewer parts leave the record as it was (0 answered),
//    a bad part leaves it too and answers kPolicyRefused;
//  - snippet: exactly five parts; an id that is not a finite number within
//    32 bits, a coordinate that is not finite or out of range, or Base64
//    with a foreign character or a broken group refuse the reply;
//  - light map: fewer than two lines, or a palette without entries, give no
//    points; a palette entry without four parts is all zero; a point whose
//    colour index is outside the palette takes entry 0.
//
// Threads: every call blocks and runs on a background thread; they share no
// state. SnippetUploadHelper: see VXHttpPostHelper.
#ifndef RECORDER_FLUVANEWEBCALLS_H
#define RECORDER_FLUVANEWEBCALLS_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recorder/FluvaneSnippet.h"
#include "platform/LocationManager.h"
#include "vxu/VXHttp.h"

// The recording policy: six ints, in this order.
struct VXFluvanePref {
  int32_t uploadFrequency = 300;
  int32_t minLength = 8;
  int32_t maxLength = 30;
  int32_t root = -1;
  int32_t mode = -1;
  int32_t maxManualTime = 300;

  bool operator==(const VXFluvanePref&) const = default;
};

// Whether every field is a value the scripts may use (see above).
bool validFluvanePref(const VXFluvanePref& pref);

struct FluvaneSnippetInfo {
  double latitude = 0.0;
  double longitude = 0.0;
  std::string name;
  std::string snippetData;  // the packet, decoded
  int32_t snippetId = 0;
};

struct FluvaneLightPoint {
  double latitude = 0.0;
  double longitude = 0.0;
  int32_t value = 0;
  uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  uint8_t colorIndex = 0;
};

// The ten fields of the statistics upload.
struct FluvaneStatsReport {
  long long applaunch = 0;
  long long apptime = 0;  // seconds
  std::string model;
  std::string sysv;
  std::string name;
  std::string appv;
  long long globeviews = 0;
  long long snippetsListened = 0;
  long long snippetsUploaded = 0;
  int hardware = 0;
};

inline constexpr int kPolicyFailed = -200;
inline constexpr int kPolicyRefused = -300;

// The grammars alone.
// 0: pref set (six valid parts) or left (fewer parts); kPolicyRefused: a
// part that is not a whole number in range (pref left).
int parseFluvanePreference(std::string_view body, VXFluvanePref* pref);
std::optional<FluvaneSnippetInfo> parseFluvaneSnippet(std::string_view body);
std::vector<FluvaneLightPoint> parseFluvaneMap(std::string_view body, int* value);

VXHttpPostResult uploadFluvaneStats(const std::string& deviceId, const FluvaneStatsReport& stats);
void uploadVote(int snippetId, bool vote);
// 0, kPolicyFailed (no 200 reply, the connection's failure included) or
// kPolicyRefused.
int getFluvanePreference(VXFluvanePref* pref);
// The globe's two downloads give up when *abortFlag turns true (exit).
std::unique_ptr<FluvaneSnippetInfo> getFluvaneSnippet(int mode, double latitude, double longitude,
                                                      double radius,
                                                      const std::atomic<bool>* abortFlag = nullptr);
// count: points asked for in, points returned out; value: the first line.
std::vector<FluvaneLightPoint> getFluvaneMap(int* count, int* value,
                                             const std::atomic<bool>* abortFlag = nullptr);

// The upload of one recorded snippet.
class SnippetUploadHelper : public VXHttpPostHelper {
 public:
  // Where the player's name comes from (the statistics' fluvaneName) and
  // who counts an upload the service took (snippetsUploaded); set by the
  // application at start.
  static void setPlayerNameSource(std::function<std::string()> source);
  static void setUploadCounter(std::function<void()> counter);
  // Where a fix comes from: the shared location service asked for 3000 m by
  // default; tests (and hosts without one) put their own.
  using LocationSource = std::function<std::optional<platform::LocationFix>()>;
  static void setLocationSource(LocationSource source);

  // Builds URL and body for the snippet's packet (prepared). False, with
  // "no gps, no upload..." and nothing set, when needLocation and there is no
  // fix of 3000 m; the snippet stays the caller's either way.
  bool prepareSnippetUpload(const FluvaneSnippet& snippet, bool needLocation,
                            bool manualRecording);
  // uploadData, then (on this thread) counts a 200 reply and logs "Done
  // uploading Fluvane snippet, http code: %d"; true for a 200 reply.
  bool uploadNow();

  // The body and digest, for given values (what prepareSnippetUpload uses).
  static std::string uploadBody(const std::string& device, double latitude, double longitude,
                                std::string_view packet, const std::string& name, bool manual);

 protected:
  void uploadFinished() override;
};

#endif
