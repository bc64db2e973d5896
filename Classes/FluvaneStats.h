// The instrument's statistics: the framework's counters plus the player's
// chosen name and the instrument's own counters (instrument and globe time,
// snippets uploaded and listened to, launches since version 1.2, manual
// uploads). Stored in "stats.plist" in the keyed form; counters as unsigned
// numbers. A value of the wrong type (or out of range) in the file counts
// as missing: 0 for a counter, the empty string for the name.
//
// The statistics upload runs on a background thread: it is handed an
// Upload, a copy taken on the main thread, and never reads the object.
//
// defaultFluvaneStats() is the one instance, loaded from disk on first use
// and installed as the framework's default statistics, so the framework's
// code counts into the same object.
//
// Threads: main thread; every member takes the object's lock.
#ifndef CLASSES_FLUVANESTATS_H
#define CLASSES_FLUVANESTATS_H

#include <cstdint>
#include <optional>
#include <string>

#include "vxu/VXUserStats.h"

class FluvaneStats : public VXUserStats {
 public:
  static constexpr const char* kNameKey = "FluvaneStatsFluvaneNameKey";
  static constexpr const char* kFluvaneTimeKey = "FluvaneStatsFluvaneTimeKey";
  static constexpr const char* kGlobeViewsKey = "FluvaneStatsGlobeViewsKey";
  static constexpr const char* kGlobeTimeKey = "FluvaneStatsGlobeTimeKey";
  static constexpr const char* kSnippetsUploadedKey = "FluvaneStatsSnippetsUploadedKey";
  static constexpr const char* kSnippetsListenedKey = "FluvaneStatsSnippetsListenedKey";
  static constexpr const char* kTutorialsWatchedKey = "FluvaneStatsTutorialsWatchedKey";
  static constexpr const char* kAppLaunchesSince1_2Key = "FluvaneStatsAppLaunchesSince1_2Key";
  static constexpr const char* kManualUploadsKey = "FluvaneStatsManualUploadsKey";

  static FluvaneStats& defaultFluvaneStats();

  // Default values, then (when asked) "stats.plist".
  explicit FluvaneStats(bool deserialize = true);

  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }

  platform::plist::Dict statsDictionary() const override;
  void setStatsDictionary(const std::optional<platform::plist::Dict>& dictionary) override;

  void startCountingFluvaneTime();
  void stopCountingFluvaneTime();

  // What the statistics upload sends, copied under the lock.
  struct Upload {
    std::uint32_t app_launches = 0;
    std::uint32_t app_time = 0;
    std::string fluvaneName;
    std::uint32_t globeViews = 0;
    std::uint32_t snippetsListened = 0;
    std::uint32_t snippetsUploaded = 0;
  };
  Upload uploadCopy() const;

  std::string fluvaneName() const;
  void setFluvaneName(const std::string& name);
  std::uint32_t fluvaneTime() const;
  void setFluvaneTime(std::uint32_t seconds);
  std::uint32_t globeTime() const;
  void setGlobeTime(std::uint32_t seconds);
  std::uint32_t snippetsUploaded() const;
  void setSnippetsUploaded(std::uint32_t count);
  std::uint32_t snippetsListened() const;
  void setSnippetsListened(std::uint32_t count);
  std::uint32_t appLaunchesSince1_2() const;
  void setAppLaunchesSince1_2(std::uint32_t count);
  std::uint32_t manualUploads() const;
  void setManualUploads(std::uint32_t count);
  void setGlobeViews(std::uint32_t count);
  void setTutorialsWatched(std::uint32_t count);
  // Each adds one, held at the largest value.
  void incrementAppLaunchesSince1_2();
  void incrementSnippetsUploaded();
  void incrementSnippetsListened();
  void incrementManualUploads();

 private:
  std::optional<std::string> fluvaneName_;
  std::uint32_t fluvaneTime_ = 0;
  std::uint32_t globeTime_ = 0;
  std::uint32_t snippetsUploaded_ = 0;
  std::uint32_t snippetsListened_ = 0;
  std::uint32_t appLaunchesSince1_2_ = 0;
  std::uint32_t manualUploads_ = 0;
  std::optional<double> fluvaneTimeStart_;
};

#endif
