#include "vxu/VXPreferences.h"

#include <mutex>
#include <set>
#include <string>

#include "platform/UserDefaults.h"
#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"

namespace plist = platform::plist;

const char* const VXPreferencesInfoBoxTextKey = "VXPreferencesInfoBoxTextKey";
const char* const VXPreferencesLastInfoTextCache = "VXPreferencesLastInfoTextCache";
const char* const VXPreferencesUseServerSplashScreen = "VXPreferencesUseServerSplashScreen";
const char* const VXPreferencesSplashScreenDate = "VXPreferencesSplashScreenDate";
const char* const VXPreferencesUseServerInfoAdd = "VXPreferencesUseServerInfoAdd";
const char* const VXPreferencesInfoAddDate = "VXPreferencesInfoAddDate";
const char* const VXPreferencesLastServerMessageId = "VXPreferencesLastServerMessageId";

VXPreferences& VXPreferences::standardPreferences() {
  static VXPreferences* preferences = new VXPreferences();
  return *preferences;
}

VXPreferences::VXPreferences(platform::UserDefaults* defaults)
    : defaults_(defaults ? defaults : &platform::UserDefaults::standard()) {
  registerDefaults();
  // An unreadable file was set aside: said once (several preference objects
  // share one store), where the player sees it.
  static std::mutex reportedMutex;
  static std::set<std::string> reported;
  const std::string& aside = defaults_->setAside();
  std::lock_guard<std::mutex> lock(reportedMutex);
  if (!aside.empty() && reported.insert(aside).second) {
    VXLog::sharedVXLog().logError("the settings in %s could not be read: kept as %s, defaults in use",
                                  defaults_->path().c_str(), aside.c_str());
  }
}

plist::Dict VXPreferences::defaults() const {
  return {
      {VXPreferencesInfoBoxTextKey, plist::Value::string("Welcome to " + product_name() + ".")}};
}

void VXPreferences::registerDefaults() { defaults_->registerDefaults(defaults()); }

bool VXPreferences::synchronize() { return defaults_->synchronize(); }

std::string VXPreferences::stringForKey(const std::string& key) const {
  std::optional<plist::Value> stored = defaults_->object(key);
  if (stored && stored->asString()) return *stored->asString();
  plist::Dict registered = defaults();
  auto fallback = registered.find(key);
  std::string value = fallback != registered.end() && fallback->second.asString()
                          ? *fallback->second.asString()
                          : std::string();
  if (stored)
    VXLog::sharedVXLog().log("preference '%s' is not a text, using its default", key.c_str());
  return value;
}

std::string VXPreferences::infoBoxText() const { return stringForKey(VXPreferencesInfoBoxTextKey); }

void VXPreferences::setInfoBoxText(const std::string& text) {
  defaults_->setString(VXPreferencesInfoBoxTextKey, text);
}
