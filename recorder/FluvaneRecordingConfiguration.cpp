#include "recorder/FluvaneRecordingConfiguration.h"

#include "platform/Paths.h"
#include "platform/Plist.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXIntrospector.h"
#include "vxu/VXLog.h"
#include "vxu/vxign.h"

using platform::Paths;

namespace plist = platform::plist;

namespace {

// File keys and integration keys, in the policy's order.
constexpr const char* kFileKeys[6] = {
    "VXRecConfUploadFrequencyKey", "VXRecConfMinlengthKey", "VXRecConfMaxlengthKey",
    "VXRecConfRootKey",            "VXRecConfModeKey",      "VXRecConfRecordingMaxLength"};
constexpr const char* kIntegrationKeys[6] = {
    "Fluvane: snippet upload frequency", "Fluvane: snippet upload min length",
    "Fluvane: snippet upload max length", "Fluvane: snippet preferred root",
    "Fluvane: snippet preferred mode",   "Fluvane: max manual record time"};

int32_t* field(VXFluvanePref& p, int i) {
  int32_t* fields[6] = {&p.uploadFrequency, &p.minLength, &p.maxLength,
                        &p.root,            &p.mode,      &p.maxManualTime};
  return fields[i];
}

}  // namespace

FluvaneRecordingConfiguration& FluvaneRecordingConfiguration::getInstance() {
  static FluvaneRecordingConfiguration* instance = new FluvaneRecordingConfiguration;
  return *instance;
}

std::string FluvaneRecordingConfiguration::path() {
  return Paths::join(Paths::documents(), "recordConfig.plist");
}

void FluvaneRecordingConfiguration::loadFromDisk(Pusher pusher) {
  FluvaneRecordingConfiguration& instance = getInstance();
  {
    std::lock_guard<std::mutex> lock(instance.mutex_);
    instance.pusher_ = std::move(pusher);
  }
  instance.loadConfigData();
  instance.notifyChip();
}

void FluvaneRecordingConfiguration::launchUpdateThread() {
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(
      [] { getInstance().downloadRecordConfig(); });
}

bool FluvaneRecordingConfiguration::loadConfigData() {
  std::string file = path();
  VXLog::sharedVXLog().log("deserializing recording configuration from %s", file.c_str());
  if (!Paths::exists(file)) return false;
  std::optional<plist::Dict> value = readKeptDictionary(file);
  VXFluvanePref read;
  bool ok = value.has_value();
  for (int i = 0; ok && i < 6; i++) {
    auto found = value->find(kFileKeys[i]);
    const plist::Value* entry = found == value->end() ? nullptr : &found->second;
    if (!entry) {
      ok = i == 5;  // the manual time is optional
      break;
    }
    std::optional<int64_t> n = entry->asInt64();
    if (!n || *n < INT32_MIN || *n > INT32_MAX) {
      ok = false;
      break;
    }
    *field(read, i) = static_cast<int32_t>(*n);
  }
  if (!ok || !validFluvanePref(read)) {
    VXLog::sharedVXLog().log("deserializing recording configuration failed");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = read;
  known_ = true;
  return true;
}

bool FluvaneRecordingConfiguration::saveConfigData() {
  std::string file = path();
  VXLog::sharedVXLog().log("serializing recording configuration to %s", file.c_str());
  VXFluvanePref pref = policy();
  plist::Dict dict;
  for (int i = 0; i < 6; i++) dict[kFileKeys[i]] = plist::Value::integer(*field(pref, i));
  Paths::mkdirs(Paths::documents());
  return plist::writeAtomic(file, plist::Value::dict(std::move(dict)));
}

int FluvaneRecordingConfiguration::downloadRecordConfig() {
  VXFluvanePref pref = policy();
  int result = getFluvanePreference(&pref);
  if (result != 0) {
    VXLog::sharedVXLog().log("downloadRecordConfig failed");
    return result;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    config_ = pref;
    known_ = true;
  }
  saveConfigData();
  notifyChip();
  return 0;
}

void FluvaneRecordingConfiguration::notifyChip() {
  VXFluvanePref pref;
  Pusher pusher;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!known_) return;
    pref = config_;
    pusher = pusher_;
  }
  if (pusher) {
    pusher(pref);
  } else {
    writeKeys(pref);
  }
}

VXFluvanePref FluvaneRecordingConfiguration::policy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_;
}

void FluvaneRecordingConfiguration::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = VXFluvanePref{};
  known_ = false;
  pusher_ = nullptr;
}

void FluvaneRecordingConfiguration::writeKeys(const VXFluvanePref& pref) {
  VXFluvanePref copy = pref;
  Vexel_Integration& store = Vexel_Integration::instance();
  for (int i = 0; i < 6; i++) store.set_int(kIntegrationKeys[i], *field(copy, i));
}
