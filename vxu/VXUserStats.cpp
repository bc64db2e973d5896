#include "vxu/VXUserStats.h"

#include <limits>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "vxu/VXLog.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

std::string documentsFile(const std::string& name) { return Paths::join(Paths::documents(), name); }

std::mutex g_defaultMutex;
std::shared_ptr<VXUserStats> g_default;

}  // namespace

const VXPropertyTable VXUserStats::kTable = {
    "VXUserStats",
    nullptr,
    {
        vxUInt32Property("statsID", &VXUserStats::statsID_),
        vxUInt32Property("app_launches", &VXUserStats::app_launches_),
        vxUInt32Property("app_time", &VXUserStats::app_time_),
        vxUInt32Property("globe_time", &VXUserStats::globe_time_),
        vxUInt32Property("globeViews", &VXUserStats::globeViews_),
        vxUInt32Property("tutorialsWatched", &VXUserStats::tutorialsWatched_),
    }};

VXUserStats& VXUserStats::defaultUserStats() {
  std::lock_guard<std::mutex> lock(g_defaultMutex);
  if (!g_default) g_default = std::make_shared<VXUserStats>();
  return *g_default;
}

void VXUserStats::installDefaultUserStats(std::shared_ptr<VXUserStats> stats) {
  std::lock_guard<std::mutex> lock(g_defaultMutex);
  g_default = std::move(stats);
}

VXUserStats::VXUserStats(bool deserialize) {
  setDefaultValues();
  if (deserialize) VXUserStats::deserializeFromDisk();
}

std::uint32_t VXUserStats::saturatingAdd(std::uint32_t a, std::uint64_t b) {
  std::uint64_t sum = static_cast<std::uint64_t>(a) + b;
  if (sum < b || sum > std::numeric_limits<std::uint32_t>::max())
    return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(sum);
}

void VXUserStats::setDefaultValues() {
  auto guard = lock();
  statsID_ = app_launches_ = app_time_ = globe_time_ = globeViews_ = tutorialsWatched_ = 0;
  appTimeStart_.reset();
  globeTimeStart_.reset();
  featuresTracker_.reset();
}

plist::Dict VXUserStats::statsDictionary() const {
  auto guard = lock();
  return {{kAppLaunchesKey, plist::Value::unsignedInteger(app_launches_)},
          {kAppTimeKey, plist::Value::unsignedInteger(app_time_)}};
}

void VXUserStats::setStatsDictionary(const std::optional<plist::Dict>& dictionary) {
  auto guard = lock();
  auto take = [&](const char* key, std::uint32_t& field) {
    const plist::Value* value = nullptr;
    if (dictionary) {
      auto found = dictionary->find(key);
      if (found != dictionary->end()) value = &found->second;
    }
    if (!value) {
      field = 0;
      return;
    }
    std::optional<std::uint64_t> u = value->isNumber() ? value->asUInt64() : std::nullopt;
    if (!u || *u > std::numeric_limits<std::uint32_t>::max()) {
      vxlog().log("stats value '%s' is not an unsigned 32-bit number, kept", key);
      return;
    }
    field = static_cast<std::uint32_t>(*u);
  };
  take(kAppLaunchesKey, app_launches_);
  take(kAppTimeKey, app_time_);
}

bool VXUserStats::serializeToDisk() const {
  std::string path = documentsFile(kStatsFileName);
  vxlog().log("serializing stats to %s", path.c_str());
  Paths::mkdirs(Paths::documents());
  return plist::writeAtomic(path, plist::Value::dict(statsDictionary()));
}

void VXUserStats::deserializeFromDisk() {
  std::string path = documentsFile(kStatsFileName);
  vxlog().log("deserializing stats from %s", path.c_str());
  std::optional<plist::Dict> dictionary = readKeptDictionary(path);
  if (!dictionary) vxlog().log("stats deserialization failed, using default stats");
  setStatsDictionary(dictionary);
}

bool VXUserStats::autoSerializeToDisk() const {
  std::string path = documentsFile(kStatsFileName);
  vxlog().log("auto serializing stats to %s", path.c_str());
  Snapshot copy = snapshot();
  Paths::mkdirs(Paths::documents());
  bool ok = plist::writeAtomic(path, plist::Value::dict(std::move(copy.properties)));
  auto guard = lock();
  if (featuresTracker_) {
    plist::Dict features;
    for (const auto& [name, count] : copy.features)
      features[name] = plist::Value::unsignedInteger(count);
    ok = plist::writeAtomic(documentsFile(kFeaturesFileName),
                            plist::Value::dict(std::move(features))) &&
         ok;
  }
  return ok;
}

void VXUserStats::autoDeserializeFromDisk() {
  importOldStats();
  std::string path = documentsFile(kStatsFileName);
  vxlog().log("auto deserializing stats from %s", path.c_str());
  std::optional<plist::Dict> file = readKeptDictionary(path);
  auto guard = lock();
  if (file) {
    setObjectPropertiesFromDictionary(*file, *this);
  } else {
    vxlog().log("auto stats deserialization failed, using default stats");
  }
  std::optional<plist::Dict> features = readKeptDictionary(documentsFile(kFeaturesFileName));
  if (!features) return;
  if (!featuresTracker_) featuresTracker_.emplace();
  for (const auto& [name, count] : *features) {
    std::optional<std::uint64_t> u = count.isNumber() ? count.asUInt64() : std::nullopt;
    if (!u || *u > std::numeric_limits<std::uint32_t>::max()) {
      vxlog().log("feature count '%s' is not an unsigned 32-bit number, skipped", name.c_str());
      continue;
    }
    (*featuresTracker_)[name] = static_cast<std::uint32_t>(*u);
  }
}

void VXUserStats::importOldStats() {
  std::optional<std::string> name = getOldStatsFileName();
  if (!name) return;
  std::string path = documentsFile(*name);
  if (!Paths::exists(path)) return;
  vxlog().log("importing stats from %s", path.c_str());
  std::optional<plist::Value> file = plist::read(path);
  std::optional<std::map<std::string, std::string>> keys = getOldKeysToNewKeys();
  if (file && file->asDict() && keys) {
    auto guard = lock();
    setObjectPropertiesFromDictionary(remapDictionary(*file->asDict(), *keys), *this);
  }
  Paths::remove(path);
}

void VXUserStats::trackFeatureByName(const std::string& name) {
  auto guard = lock();
  if (!featuresTracker_) featuresTracker_.emplace();
  std::uint32_t& count = (*featuresTracker_)[name];
  count = saturatingAdd(count, 1);
}

std::uint32_t VXUserStats::getFeatureUseCount(const std::string& name) const {
  auto guard = lock();
  if (!featuresTracker_) return 0;
  auto found = featuresTracker_->find(name);
  return found == featuresTracker_->end() ? 0 : found->second;
}

std::map<std::string, std::uint32_t> VXUserStats::getFeaturesTracker() const {
  auto guard = lock();
  return featuresTracker_.value_or(std::map<std::string, std::uint32_t>());
}

void VXUserStats::startCountingTime(std::optional<double>& start) {
  if (!start) start = platform::Clock::monotonic();
}

std::uint32_t VXUserStats::stopCountingTime(std::optional<double>& start) {
  if (!start) return 0;
  double elapsed = platform::Clock::monotonic() - *start;
  start.reset();
  if (!(elapsed > 0.0)) return 0;
  if (elapsed >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return static_cast<std::uint32_t>(elapsed);
}

void VXUserStats::startCountingAppTime() {
  auto guard = lock();
  startCountingTime(appTimeStart_);
}

void VXUserStats::stopCountingAppTime() {
  auto guard = lock();
  app_time_ = saturatingAdd(app_time_, stopCountingTime(appTimeStart_));
}

void VXUserStats::startCountingGlobeTime() {
  auto guard = lock();
  startCountingTime(globeTimeStart_);
}

void VXUserStats::stopCountingGlobeTime() {
  auto guard = lock();
  globe_time_ = saturatingAdd(globe_time_, stopCountingTime(globeTimeStart_));
}

VXUserStats::Snapshot VXUserStats::snapshot() const {
  auto guard = lock();
  Snapshot copy;
  copyObjectPropertiesToDictionary(copy.properties, *this);
  copy.features = featuresTracker_.value_or(std::map<std::string, std::uint32_t>());
  return copy;
}

std::uint32_t VXUserStats::statsID() const {
  auto guard = lock();
  return statsID_;
}
void VXUserStats::setStatsID(std::uint32_t id) {
  auto guard = lock();
  statsID_ = id;
}
std::uint32_t VXUserStats::app_launches() const {
  auto guard = lock();
  return app_launches_;
}
void VXUserStats::setApp_launches(std::uint32_t count) {
  auto guard = lock();
  app_launches_ = count;
}
void VXUserStats::incrementAppLaunches() {
  auto guard = lock();
  app_launches_ = saturatingAdd(app_launches_, 1);
}
std::uint32_t VXUserStats::app_time() const {
  auto guard = lock();
  return app_time_;
}
std::uint32_t VXUserStats::globe_time() const {
  auto guard = lock();
  return globe_time_;
}
std::uint32_t VXUserStats::globeViews() const {
  auto guard = lock();
  return globeViews_;
}
void VXUserStats::incrementGlobeViews() {
  auto guard = lock();
  globeViews_ = saturatingAdd(globeViews_, 1);
}
std::uint32_t VXUserStats::tutorialsWatched() const {
  auto guard = lock();
  return tutorialsWatched_;
}
void VXUserStats::incrementTutorialsWatched() {
  auto guard = lock();
  tutorialsWatched_ = saturatingAdd(tutorialsWatched_, 1);
}
