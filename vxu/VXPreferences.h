// The preferences base: the application's settings over the standard user
// defaults, with defaults registered so that every getter has a value from
// the first start.
//
// defaults() gives the registered values ("VXPreferencesInfoBoxTextKey":
// "Welcome to <product name>."); a subclass adds its own entries to a copy
// of the base's and calls registerDefaults() once it is built. A stored
// value of the wrong kind (a hand-edited file) reads as the registered one,
// logged. A preferences file the store could not read and set aside
// (UserDefaults::setAside) is reported once as an error of the log.
//
// Threads: any thread (the user defaults lock).
#ifndef VXU_VXPREFERENCES_H
#define VXU_VXPREFERENCES_H

#include <string>

#include "platform/Plist.h"

namespace platform {
class UserDefaults;
}

// Keys of the framework kept in the user defaults.
extern const char* const VXPreferencesInfoBoxTextKey;
extern const char* const VXPreferencesLastInfoTextCache;
extern const char* const VXPreferencesUseServerSplashScreen;
extern const char* const VXPreferencesSplashScreenDate;
extern const char* const VXPreferencesUseServerInfoAdd;
extern const char* const VXPreferencesInfoAddDate;
extern const char* const VXPreferencesLastServerMessageId;

class VXPreferences {
 public:
  // The shared preferences over the standard user defaults.
  // (Applications use their own subclass's shared instance, as the
  // instrument's FluvanePreferences does; this one is for an application
  // without a subclass.)
  static VXPreferences& standardPreferences();

  // defaults: null means the standard user defaults. Registers the base's
  // defaults.
  explicit VXPreferences(platform::UserDefaults* defaults = nullptr);
  virtual ~VXPreferences() = default;

  virtual platform::plist::Dict defaults() const;
  // Registers defaults() (again, for a subclass's additions).
  void registerDefaults();
  // Writes the user defaults to disk now.
  bool synchronize();

  std::string infoBoxText() const;
  void setInfoBoxText(const std::string& text);

 protected:
  // The stored string, else the registered one (a stored value of another
  // kind is logged and passed over).
  std::string stringForKey(const std::string& key) const;
  platform::UserDefaults& userDefaults() const { return *defaults_; }

 private:
  platform::UserDefaults* defaults_;
};

#endif
