#include "Classes/FluvaneStats.h"

#include <limits>
#include <memory>

#include "vxu/VXLog.h"

namespace plist = platform::plist;

const VXPropertyTable FluvaneStats::kTable = {
    "FluvaneStats",
    &VXUserStats::kTable,
    {
        vxStringProperty("fluvaneName", &FluvaneStats::fluvaneName_),
        vxUInt32Property("fluvaneTime", &FluvaneStats::fluvaneTime_),
        vxUInt32Property("globeTime", &FluvaneStats::globeTime_),
        vxUInt32Property("snippetsUploaded", &FluvaneStats::snippetsUploaded_),
        vxUInt32Property("snippetsListened", &FluvaneStats::snippetsListened_),
        vxUInt32Property("appLaunchesSince1_2", &FluvaneStats::appLaunchesSince1_2_),
        vxUInt32Property("manualUploads", &FluvaneStats::manualUploads_),
    }};

FluvaneStats& FluvaneStats::defaultFluvaneStats() {
  // Made once and handed to the framework as its statistics as well.
  static FluvaneStats* stats = [] {
    auto made = std::make_shared<FluvaneStats>();
    VXUserStats::installDefaultUserStats(made);
    return made.get();
  }();
  return *stats;
}

FluvaneStats::FluvaneStats(bool deserialize) : VXUserStats(false) {
  // The base's constructor cannot reach this class's fields: load here.
  if (deserialize) deserializeFromDisk();
}

plist::Dict FluvaneStats::statsDictionary() const {
  auto guard = lock();
  plist::Dict dictionary = {
      {kNameKey, plist::Value::string(fluvaneName_.value_or(""))},
      {kFluvaneTimeKey, plist::Value::unsignedInteger(fluvaneTime_)},
      {kGlobeViewsKey, plist::Value::unsignedInteger(globeViews_)},
      {kGlobeTimeKey, plist::Value::unsignedInteger(globeTime_)},
      {kSnippetsUploadedKey, plist::Value::unsignedInteger(snippetsUploaded_)},
      {kSnippetsListenedKey, plist::Value::unsignedInteger(snippetsListened_)},
      {kTutorialsWatchedKey, plist::Value::unsignedInteger(tutorialsWatched_)},
      {kAppLaunchesSince1_2Key, plist::Value::unsignedInteger(appLaunchesSince1_2_)},
      {kManualUploadsKey, plist::Value::unsignedInteger(manualUploads_)},
  };
  for (auto& [key, value] : VXUserStats::statsDictionary()) dictionary[key] = value;
  return dictionary;
}

void FluvaneStats::setStatsDictionary(const std::optional<plist::Dict>& dictionary) {
  auto guard = lock();
  VXUserStats::setStatsDictionary(dictionary);
  auto find = [&](const char* key) -> const plist::Value* {
    if (!dictionary) return nullptr;
    auto found = dictionary->find(key);
    return found == dictionary->end() ? nullptr : &found->second;
  };
  // A missing or wrongly typed counter reads 0.
  auto take = [&](const char* key, std::uint32_t& field) {
    const plist::Value* value = find(key);
    // Counters are whole numbers: a boolean or a real is the wrong type.
    const bool whole = value && (value->type() == plist::Value::Type::Int ||
                                 value->type() == plist::Value::Type::UInt);
    std::optional<std::uint64_t> u = whole ? value->asUInt64() : std::optional<std::uint64_t>();
    if (value && (!u || *u > std::numeric_limits<std::uint32_t>::max())) {
      VXLog::sharedVXLog().log("stats value '%s' is not an unsigned 32-bit number, read as 0",
                               key);
    }
    field = u && *u <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(*u)
                                                                  : 0;
  };
  const plist::Value* name = find(kNameKey);
  if (name && !name->asString()) {
    VXLog::sharedVXLog().log("stats value '%s' is not a text, read as empty", kNameKey);
  }
  fluvaneName_ = name && name->asString() ? *name->asString() : std::string();
  take(kFluvaneTimeKey, fluvaneTime_);
  take(kGlobeViewsKey, globeViews_);
  take(kGlobeTimeKey, globeTime_);
  take(kSnippetsUploadedKey, snippetsUploaded_);
  take(kSnippetsListenedKey, snippetsListened_);
  take(kTutorialsWatchedKey, tutorialsWatched_);
  take(kAppLaunchesSince1_2Key, appLaunchesSince1_2_);
  take(kManualUploadsKey, manualUploads_);
  fluvaneTimeStart_.reset();
  globeTimeStart_.reset();
}

void FluvaneStats::startCountingFluvaneTime() {
  auto guard = lock();
  startCountingTime(fluvaneTimeStart_);
}

void FluvaneStats::stopCountingFluvaneTime() {
  auto guard = lock();
  fluvaneTime_ = saturatingAdd(fluvaneTime_, stopCountingTime(fluvaneTimeStart_));
}

FluvaneStats::Upload FluvaneStats::uploadCopy() const {
  auto guard = lock();
  Upload copy;
  copy.app_launches = app_launches_;
  copy.app_time = app_time_;
  copy.fluvaneName = fluvaneName_.value_or("");
  copy.globeViews = globeViews_;
  copy.snippetsListened = snippetsListened_;
  copy.snippetsUploaded = snippetsUploaded_;
  return copy;
}

std::string FluvaneStats::fluvaneName() const {
  auto guard = lock();
  return fluvaneName_.value_or("");
}
void FluvaneStats::setFluvaneName(const std::string& name) {
  auto guard = lock();
  fluvaneName_ = name;
}

#define FLUVANE_STATS_COUNTER(getter, setter, field)      \
  std::uint32_t FluvaneStats::getter() const {            \
    auto guard = lock();                                  \
    return field;                                         \
  }                                                       \
  void FluvaneStats::setter(std::uint32_t value) {        \
    auto guard = lock();                                  \
    field = value;                                        \
  }
FLUVANE_STATS_COUNTER(fluvaneTime, setFluvaneTime, fluvaneTime_)
FLUVANE_STATS_COUNTER(globeTime, setGlobeTime, globeTime_)
FLUVANE_STATS_COUNTER(snippetsUploaded, setSnippetsUploaded, snippetsUploaded_)
FLUVANE_STATS_COUNTER(snippetsListened, setSnippetsListened, snippetsListened_)
FLUVANE_STATS_COUNTER(appLaunchesSince1_2, setAppLaunchesSince1_2, appLaunchesSince1_2_)
FLUVANE_STATS_COUNTER(manualUploads, setManualUploads, manualUploads_)
#undef FLUVANE_STATS_COUNTER

void FluvaneStats::setGlobeViews(std::uint32_t count) {
  auto guard = lock();
  globeViews_ = count;
}
void FluvaneStats::setTutorialsWatched(std::uint32_t count) {
  auto guard = lock();
  tutorialsWatched_ = count;
}
void FluvaneStats::incrementAppLaunchesSince1_2() {
  auto guard = lock();
  appLaunchesSince1_2_ = saturatingAdd(appLaunchesSince1_2_, 1);
}
void FluvaneStats::incrementSnippetsUploaded() {
  auto guard = lock();
  snippetsUploaded_ = saturatingAdd(snippetsUploaded_, 1);
}
void FluvaneStats::incrementSnippetsListened() {
  auto guard = lock();
  snippetsListened_ = saturatingAdd(snippetsListened_, 1);
}
void FluvaneStats::incrementManualUploads() {
  auto guard = lock();
  manualUploads_ = saturatingAdd(manualUploads_, 1);
}
