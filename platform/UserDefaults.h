// User defaults: the application's small, typed settings, kept in a
// property-list file.
//
// A UserDefaults object holds a dictionary read from its file at creation
// and the registered
// defaults, which live in memory only and answer for keys never set. The
// typed getters answer the stored value, else the registered one, else
// their zero; a value of the wrong kind (a file edited by hand) reads as
// absent. Every change schedules a write of the whole dictionary writeDelay
// seconds later on the object's own thread (changes in between ride along);
// synchronize() writes at once. Every write goes to a file beside and is
// renamed over the old one, mode 0600, so a crash loses at most the last
// moments and never the file. The standard object (standard()) lives in
// home()/Preferences.plist, is created on first use, writes its pending
// changes at normal process exit and is never destroyed.
//
// A file that is there but cannot be read (cut short, malformed, nested too
// deep) is not silently replaced: it is set aside as "<file>.bad" (see
// plist::readDictionary), the object starts empty, and setAside() names
// where it went, for the application to report.
//
// Threads: every member may be called from any thread. A destroyed object
// first writes what is pending.
#ifndef PLATFORM_USERDEFAULTS_H
#define PLATFORM_USERDEFAULTS_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Plist.h"
#include "platform/Worker.h"

namespace platform {

class UserDefaults {
 public:
  static UserDefaults& standard();
  static constexpr const char* kFileName = "Preferences.plist";

  explicit UserDefaults(std::string path, double writeDelay = 0.5);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // Adds to (or replaces in) the registered defaults.
  void registerDefaults(const plist::Dict& defaults);

  // The stored value, else the registered one.
  std::optional<plist::Value> object(const std::string& key) const;
  void setObject(const std::string& key, plist::Value value);
  void removeObject(const std::string& key);

  bool boolForKey(const std::string& key) const;
  std::int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<double> dateForKey(const std::string& key) const;
  std::optional<plist::Dict> dictionaryForKey(const std::string& key) const;

  void setBool(const std::string& key, bool value);
  void setInteger(const std::string& key, std::int64_t value);
  void setDouble(const std::string& key, double value);
  void setString(const std::string& key, std::string value);
  void setDate(const std::string& key, double secondsSince1970);

  // Writes the dictionary now; false when the file could not be written.
  bool synchronize();
  // Tests: waits until no scheduled write is left.
  void waitForPendingWrite();

  const std::string& path() const { return path_; }
  // Where an unreadable file was moved at creation; "" when none was.
  const std::string& setAside() const { return setAside_; }

 private:
  void changed();  // with nothing locked
  void scheduleWrite();
  bool writeNow();

  const std::string path_;
  const double writeDelay_;
  std::string setAside_;
  mutable std::mutex mutex_;
  plist::Dict values_;
  plist::Dict registered_;
  bool dirty_ = false;
  bool scheduled_ = false;
  std::condition_variable written_;
  std::mutex writeMutex_;           // one file write at a time
  std::unique_ptr<Worker> worker_;  // declared last: stops first
};

}  // namespace platform

#endif
