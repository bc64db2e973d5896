#include "Classes/FluvanePreferences.h"

#include <map>

#include "platform/UserDefaults.h"
#include "vxu/VXUtils.h"

namespace plist = platform::plist;
using Color = FluvanePreferences::Color;

const char* const FluvanePreferenceRootKey = "FluvanePreferenceRootKey";
const char* const FluvanePreferenceModeKey = "FluvanePreferenceModeKey";
const char* const FluvanePreferenceFingerColorKey = "FluvanePreferenceFingerColorKey";
const char* const FluvanePreferenceBreathColorKey = "FluvanePreferenceBreathColorKey";
const char* const FluvanePreferenceEnableAudioWhenSleepingKey =
    "FluvanePreferenceEnableAudioWhenSleepingKey";
const char* const FluvanePreferenceEnableMelodyUploadKey = "FluvanePreferenceEnableMelodyUploadKey";
const char* const FluvanePreferenceEnableTouchMode = "FluvanePreferenceEnableTouchMode";
const char* const FluvanePreferenceLayoutMode12 = "FluvanePreferenceLayoutMode12";
const char* const FluvanePreferenceUsername = "FluvanePreferenceUsername";
const char* const FluvanePreferencePassword = "FluvanePreferencePassword";
const char* const FluvanePreferenceSignedIn = "FluvanePreferenceSignedIn";

namespace {

const std::vector<std::string> kRoots = {
    "C",       "C#",       "D",       "D#",       "E",       "F",       "F#",       "G",
    "G#",      "A",        "A#",      "B",        "C (8va)", "C# (8va)", "D (8va)", "D# (8va)",
    "E (8va)", "F (8va)",  "F# (8va)", "G (8va)", "G# (8va)", "A (8va)", "A# (8va)", "B (8va)"};

const std::vector<std::string> kModes = {"Ionian",     "Dorian",  "Phrygian", "Lydian",
                                         "Mixolydian", "Aeolian", "Locrian",  "Valorian"};

// The scripts' numbering of the modes (not the list order).
const std::map<std::string, int> kModeNumbers = {
    {"Mixolydian", 0}, {"Aeolian", 1}, {"Locrian", 2}, {"Valorian", 3},
    {"Ionian", 4},     {"Dorian", 5},  {"Phrygian", 6}, {"Lydian", 7}};

const std::vector<std::string> kColors = {"blue", "brown", "cyan", "green",
                                          "radio", "red",  "yellow"};

const std::map<std::string, Color> kFingerColors = {
    {"red", {1, 0.25, 0.25, 1}},  {"blue", {0.5, 0.5, 1, 1}},     {"green", {0.5, 1, 0.25, 1}},
    {"cyan", {0, 1, 1, 1}},       {"yellow", {1, 1, 0.25, 1}},    {"brown", {0.75, 0.45, 0, 1}},
    {"radio", {0.75, 1, 0.25, 1}}};

const std::map<std::string, Color> kBreathColors = {
    {"red", {1, 0.25, 0.25, 1}},  {"blue", {0.25, 0.25, 1, 1}},   {"green", {0.5, 1, 0.25, 1}},
    {"cyan", {0.25, 1, 1, 1}},    {"yellow", {1, 1, 0.25, 1}},    {"brown", {0.75, 0.5, 0, 1}},
    {"radio", {0.75, 1, 0.25, 1}}};

std::optional<Color> lookup(const std::map<std::string, Color>& table, const std::string& name) {
  auto found = table.find(name);
  if (found == table.end()) return std::nullopt;
  return found->second;
}

}  // namespace

FluvanePreferences& FluvanePreferences::standardFluvanePreferences() {
  static FluvanePreferences* preferences = new FluvanePreferences();
  return *preferences;
}

FluvanePreferences::FluvanePreferences(platform::UserDefaults* defaults)
    : VXPreferences(defaults) {
  // The base registered only its own defaults while it was being built.
  registerDefaults();
}

plist::Dict FluvanePreferences::defaults() const {
  plist::Dict all = VXPreferences::defaults();
  const unsigned model = hardware_id();
  all[FluvanePreferenceRootKey] = plist::Value::string("C (8va)");
  all[FluvanePreferenceModeKey] = plist::Value::string("Ionian");
  all[FluvanePreferenceFingerColorKey] = plist::Value::string("blue");
  all[FluvanePreferenceBreathColorKey] = plist::Value::string("green");
  all[FluvanePreferenceEnableAudioWhenSleepingKey] = plist::Value::boolean(true);
  all[FluvanePreferenceEnableMelodyUploadKey] = plist::Value::integer(1);
  all[FluvanePreferenceEnableTouchMode] = plist::Value::boolean(model == 3 || model == 4);
  all[FluvanePreferenceLayoutMode12] = plist::Value::integer(1);
  all[FluvanePreferenceUsername] = plist::Value::string("");
  all[FluvanePreferencePassword] = plist::Value::string("");
  all[FluvanePreferenceSignedIn] = plist::Value::boolean(false);
  return all;
}

bool FluvanePreferences::boolFor(const char* key) const { return userDefaults().boolForKey(key); }

int FluvanePreferences::intFor(const char* key) const {
  return static_cast<int>(userDefaults().integerForKey(key));
}

std::string FluvanePreferences::root() const { return stringForKey(FluvanePreferenceRootKey); }
void FluvanePreferences::setRoot(const std::string& name) {
  userDefaults().setString(FluvanePreferenceRootKey, name);
}
std::string FluvanePreferences::mode() const { return stringForKey(FluvanePreferenceModeKey); }
void FluvanePreferences::setMode(const std::string& name) {
  userDefaults().setString(FluvanePreferenceModeKey, name);
}
std::string FluvanePreferences::fingerColor() const {
  return stringForKey(FluvanePreferenceFingerColorKey);
}
void FluvanePreferences::setFingerColor(const std::string& name) {
  userDefaults().setString(FluvanePreferenceFingerColorKey, name);
}
std::string FluvanePreferences::breathColor() const {
  return stringForKey(FluvanePreferenceBreathColorKey);
}
void FluvanePreferences::setBreathColor(const std::string& name) {
  userDefaults().setString(FluvanePreferenceBreathColorKey, name);
}
bool FluvanePreferences::enableAudioWhenSleeping() const {
  return boolFor(FluvanePreferenceEnableAudioWhenSleepingKey);
}
void FluvanePreferences::setEnableAudioWhenSleeping(bool on) {
  userDefaults().setBool(FluvanePreferenceEnableAudioWhenSleepingKey, on);
}
int FluvanePreferences::enableMelodyUpload() const {
  return intFor(FluvanePreferenceEnableMelodyUploadKey);
}
void FluvanePreferences::setEnableMelodyUpload(int choice) {
  userDefaults().setInteger(FluvanePreferenceEnableMelodyUploadKey, choice);
}
bool FluvanePreferences::enableTouchMode() const {
  return boolFor(FluvanePreferenceEnableTouchMode);
}
void FluvanePreferences::setEnableTouchMode(bool on) {
  userDefaults().setBool(FluvanePreferenceEnableTouchMode, on);
}
int FluvanePreferences::getLayoutMode() const { return intFor(FluvanePreferenceLayoutMode12); }
void FluvanePreferences::setLayoutMode(int layout) {
  userDefaults().setInteger(FluvanePreferenceLayoutMode12, layout);
}
std::string FluvanePreferences::getUsername() const {
  return stringForKey(FluvanePreferenceUsername);
}
void FluvanePreferences::setUsername(const std::string& name) {
  userDefaults().setString(FluvanePreferenceUsername, name);
}
std::string FluvanePreferences::getPassword() const {
  return stringForKey(FluvanePreferencePassword);
}
void FluvanePreferences::setPassword(const std::string& password) {
  userDefaults().setString(FluvanePreferencePassword, password);
}
bool FluvanePreferences::isSignedIn() const { return boolFor(FluvanePreferenceSignedIn); }
void FluvanePreferences::setSignedIn(bool signedIn) {
  userDefaults().setBool(FluvanePreferenceSignedIn, signedIn);
}

const std::vector<std::string>& FluvanePreferences::availableRoots() { return kRoots; }
const std::vector<std::string>& FluvanePreferences::availableModes() { return kModes; }
const std::vector<std::string>& FluvanePreferences::availableFingerColors() { return kColors; }
const std::vector<std::string>& FluvanePreferences::availableBreathColors() { return kColors; }

int FluvanePreferences::rootIndexForRootName(const std::string& name) {
  for (std::size_t i = 0; i < kRoots.size(); i++) {
    if (kRoots[i] == name) return 60 + static_cast<int>(i);
  }
  return 0;
}

int FluvanePreferences::modeIndexForModeName(const std::string& name) {
  auto found = kModeNumbers.find(name);
  return found == kModeNumbers.end() ? 0 : found->second;
}

std::optional<Color> FluvanePreferences::uiColorForColorName(const std::string& name) {
  return lookup(kFingerColors, name);
}
std::optional<Color> FluvanePreferences::fingerColorForFingerColorName(const std::string& name) {
  return lookup(kFingerColors, name);
}
std::optional<Color> FluvanePreferences::breathColorForBreathColorName(const std::string& name) {
  return lookup(kBreathColors, name);
}
