#include "vxu/VXServerObject.h"

#include <cstdint>
#include <limits>

#include "platform/Clock.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UserDefaults.h"
#include "vxu/VXConfig.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLog.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

constexpr const char* kCacheKey = "VXServerObjectCacheKey";
constexpr const char* kLastModificationKey = "VXServerObjectLastModificationKey";

VXLog& vxlog() { return VXLog::sharedVXLog(); }

bool onePathComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Decimal digits from at up to one of the stop characters: the number and
// the stop character's position. None for no digits, another character,
// overflow, or no stop character.
bool readLength(std::string_view data, std::size_t& at, std::string_view stops, std::size_t& value,
                char& stop) {
  value = 0;
  std::size_t digits = 0;
  for (; at < data.size(); ++at) {
    char c = data[at];
    if (stops.find(c) != std::string_view::npos) {
      stop = c;
      ++at;
      return digits > 0;
    }
    if (c < '0' || c > '9') return false;
    std::size_t digit = static_cast<std::size_t>(c - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
    ++digits;
  }
  return false;
}

std::string shortened(std::string_view text) {
  return text.size() <= 200 ? std::string(text) : std::string(text.substr(0, 200)) + "...";
}

}  // namespace

VXServerObject::VXServerObject(std::string name, std::map<std::string, int> fieldTypes,
                               platform::UserDefaults* defaults)
    : name_(std::move(name)),
      fieldTypes_(std::move(fieldTypes)),
      defaults_(defaults ? defaults : &platform::UserDefaults::standard()),
      userDefaultsKey_("VXServerObject-" + name_) {
  std::optional<plist::Dict> cache = defaults_->dictionaryForKey(userDefaultsKey_);
  if (!cache) return;
  auto values = cache->find(kCacheKey);
  if (values != cache->end() && values->second.asDict()) {
    std::map<std::string, std::string> object;
    for (const auto& [key, value] : *values->second.asDict()) {
      if (value.asString()) object[key] = *value.asString();
    }
    object_ = std::move(object);
  }
  auto date = cache->find(kLastModificationKey);
  if (date != cache->end() && date->second.asDate()) lastModification_ = *date->second.asDate();
}

std::string VXServerObject::directory() const {
  return Paths::join(Paths::join(Paths::documents(), "so"), name_);
}

std::string VXServerObject::requestQuery() const {
  long long since = forceUpdate_ ? 0 : static_cast<long long>(lastModification_);
  return "device=" + platform::escapeValue(VXDeviceIdentifier()) +
         "&objectname=" + platform::escapeValue(name_) + "&lastmodified=" + std::to_string(since);
}

std::optional<std::string> VXServerObject::doRequest(const std::string& baseUrl) {
  VXHttpPostResult result = VXHttpPost(baseUrl + "?" + requestQuery(), "");
  if (result.status != 200) return std::nullopt;
  return result.body;
}

bool VXServerObject::parseData(std::string_view data) {
  newObject_.clear();
  newFiles_.clear();
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t slash = data.find('/', at);
    if (slash == std::string_view::npos) return false;
    std::string key(data.substr(at, slash - at));
    vxlog().log("key = %s", shortened(key).c_str());
    auto field = fieldTypes_.find(key);
    if (field == fieldTypes_.end()) return false;
    at = slash + 1;

    std::size_t valueLength = 0, fileLength = 0;
    char stop = 0;
    if (!readLength(data, at, "/:", valueLength, stop)) return false;
    bool hasFile = stop == '/';
    if (hasFile && (!readLength(data, at, ":", fileLength, stop))) return false;
    if (valueLength > data.size() - at) return false;
    std::string value(data.substr(at, valueLength));
    at += valueLength;
    if (hasFile && fileLength > data.size() - at) return false;
    std::string_view file = hasFile ? data.substr(at, fileLength) : std::string_view();
    at += fileLength;

    vxlog().log("value1 = %s", shortened(value).c_str());
    int type = field->second;
    if (type == kFileField && hasFile) {
      if (!onePathComponent(value)) {
        vxlog().log("server object %s: not a file name: '%s'", name_.c_str(),
                    shortened(value).c_str());
        return false;
      }
      vxlog().log("value2 = <%zu bytes>", file.size());
      newFiles_[value] = std::string(file);
    }
    if (type == kTextField || type == kFileField) newObject_[key] = value;
  }
  return true;
}

bool VXServerObject::update() {
  std::optional<std::string> base =
      VXServiceUrl(std::string(APP_SERVER_LOCATION) + APP_SERVER_OBJECT_PATH);
  if (!base) return false;
  std::optional<std::string> reply = doRequest(*base);
  if (!reply || reply->empty()) return false;
  bool complete = parseData(*reply);
  if (onePathComponent(name_)) {
    Paths::mkdirs(directory());
  } else {
    vxlog().log("server object name is not a file name: '%s'", name_.c_str());
  }
  if (!complete) return false;
  keep();
  return true;
}

void VXServerObject::keep() {
  object_ = newObject_;
  lastModification_ = platform::Clock::now();
  plist::Dict values;
  for (const auto& [key, value] : newObject_) values[key] = plist::Value::string(value);
  defaults_->setObject(
      userDefaultsKey_,
      plist::Value::dict({{kCacheKey, plist::Value::dict(std::move(values))},
                          {kLastModificationKey, plist::Value::date(lastModification_)}}));
  if (!cacheOnDisk_ || !onePathComponent(name_)) return;
  for (const auto& [file, bytes] : newFiles_) {
    std::string error;
    if (!Paths::writeAtomic(Paths::join(directory(), file), bytes, &error, 0600)) {
      vxlog().log("server object %s: cannot write %s (%s)", name_.c_str(), file.c_str(),
                  error.c_str());
    }
  }
}
