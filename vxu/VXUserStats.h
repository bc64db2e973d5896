// The statistics base: usage counters kept in memory, time intervals
// counted, and the whole saved and loaded as property lists in Documents.
//
// Counters (all unsigned 32-bit, declared properties for the property-list
// form): statsID, app_launches, app_time and globe_time (whole seconds),
// globeViews, tutorialsWatched; plus feature-use counts by name. Every
// addition saturates at the largest value instead of wrapping. Intervals
// are measured on the steady clock (platform::Clock::monotonic), so a
// change of the wall clock neither adds nor loses time; an interval of 2.9 s
// adds 2.
//
// Files: "stats.plist" (the keyed form of serializeToDisk, or the property
// form of autoSerializeToDisk) and "features.plist" (feature name -> count).
// Their contents are input: a value of the wrong type or out of range keeps
// the counter and is logged; a missing or unreadable file leaves defaults
// (logged). Every write is atomic: a writer killed midway leaves the old
// file or the new one.
//
// Threads: the object is used on the main thread and read by the
// statistics upload on a background thread; every member takes the
// object's lock, and snapshot() answers a consistent copy for the upload.
// Subclasses take lock() around their own fields.
#ifndef VXU_VXUSERSTATS_H
#define VXU_VXUSERSTATS_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "vxu/VXIntrospector.h"

class VXUserStats : public VXIntrospectable {
 public:
  static constexpr const char* kStatsFileName = "stats.plist";        // USER_STATS_FILENAME
  static constexpr const char* kFeaturesFileName = "features.plist";  // USED_FEATURES_FILENAME
  static constexpr const char* kAppLaunchesKey = "VXUserStatsAppLaunchesKey";
  static constexpr const char* kAppTimeKey = "VXUserStatsAppTimeKey";

  // The shared statistics (created, and loaded from disk, on first use),
  // unless the application installed its own.
  static VXUserStats& defaultUserStats();
  static void installDefaultUserStats(std::shared_ptr<VXUserStats> stats);

  // Default values, then (when asked) deserializeFromDisk.
  explicit VXUserStats(bool deserialize = true);

  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }

  void setDefaultValues();
  virtual platform::plist::Dict statsDictionary() const;
  virtual void setStatsDictionary(const std::optional<platform::plist::Dict>& dictionary);
  static std::string getNewStatsFileName() { return kStatsFileName; }

  bool serializeToDisk() const;
  void deserializeFromDisk();
  bool autoSerializeToDisk() const;
  void autoDeserializeFromDisk();

  // Migration of a subclass's older file (none in the base).
  void importOldStats();
  virtual std::optional<std::string> getOldStatsFileName() const { return std::nullopt; }
  virtual std::optional<std::map<std::string, std::string>> getOldKeysToNewKeys() const {
    return std::nullopt;
  }

  void trackFeatureByName(const std::string& name);
  std::uint32_t getFeatureUseCount(const std::string& name) const;
  std::map<std::string, std::uint32_t> getFeaturesTracker() const;

  void startCountingAppTime();
  void stopCountingAppTime();
  void startCountingGlobeTime();
  void stopCountingGlobeTime();

  // A consistent copy of the property form and the features.
  struct Snapshot {
    platform::plist::Dict properties;
    std::map<std::string, std::uint32_t> features;
  };
  Snapshot snapshot() const;

  std::uint32_t statsID() const;
  void setStatsID(std::uint32_t id);
  std::uint32_t app_launches() const;
  void setApp_launches(std::uint32_t count);
  void incrementAppLaunches();
  std::uint32_t app_time() const;
  std::uint32_t globe_time() const;
  std::uint32_t globeViews() const;
  void incrementGlobeViews();
  std::uint32_t tutorialsWatched() const;
  void incrementTutorialsWatched();

  std::unique_lock<std::recursive_mutex> lock() const {
    return std::unique_lock<std::recursive_mutex>(mutex_);
  }

  // a + b, held at the largest unsigned 32-bit value.
  static std::uint32_t saturatingAdd(std::uint32_t a, std::uint64_t b);

 protected:
  // Stores the steady clock's time unless an interval runs.
  static void startCountingTime(std::optional<double>& start);
  // Ends the interval: its whole seconds when positive, else 0.
  static std::uint32_t stopCountingTime(std::optional<double>& start);

  mutable std::recursive_mutex mutex_;
  std::uint32_t statsID_ = 0;
  std::uint32_t app_launches_ = 0;
  std::uint32_t app_time_ = 0;
  std::uint32_t globe_time_ = 0;
  std::uint32_t globeViews_ = 0;
  std::uint32_t tutorialsWatched_ = 0;
  std::optional<double> appTimeStart_;
  std::optional<double> globeTimeStart_;
  std::optional<std::map<std::string, std::uint32_t>> featuresTracker_;
};

#endif
