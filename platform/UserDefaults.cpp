#include "platform/UserDefaults.h"

#include <cstdlib>

#include "platform/Paths.h"

namespace platform {

namespace {

UserDefaults* g_standard = nullptr;

void synchronizeStandardAtExit() {
  if (g_standard) g_standard->synchronize();
}

}  // namespace

UserDefaults& UserDefaults::standard() {
  static UserDefaults* defaults = [] {
    auto* made = new UserDefaults(Paths::join(Paths::home(), kFileName));
    g_standard = made;
    std::atexit(synchronizeStandardAtExit);
    return made;
  }();
  return *defaults;
}

UserDefaults::UserDefaults(std::string path, double writeDelay)
    : path_(std::move(path)), writeDelay_(writeDelay) {
  if (std::optional<plist::Dict> stored = plist::readDictionary(path_, &setAside_)) {
    values_ = std::move(*stored);
  }
  worker_ = std::make_unique<Worker>("defaults");
}

UserDefaults::~UserDefaults() {
  worker_.reset();  // a scheduled write that has not run is dropped here ...
  bool dirty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty = dirty_;
  }
  if (dirty) writeNow();  // ... and made now instead
}

void UserDefaults::registerDefaults(const plist::Dict& defaults) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

std::optional<plist::Value> UserDefaults::object(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it != values_.end()) return it->second;
  auto reg = registered_.find(key);
  if (reg != registered_.end()) return reg->second;
  return std::nullopt;
}

void UserDefaults::setObject(const std::string& key, plist::Value value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[key] = std::move(value);
    dirty_ = true;
  }
  changed();
}

void UserDefaults::removeObject(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (values_.erase(key) == 0) return;
    dirty_ = true;
  }
  changed();
}

bool UserDefaults::boolForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  return value ? value->asBool().value_or(false) : false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  if (!value) return 0;
  if (auto i = value->asInt64()) return *i;
  return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  return value ? value->asReal().value_or(0.0) : 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  if (!value || !value->asString()) return std::nullopt;
  return *value->asString();
}

std::optional<double> UserDefaults::dateForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  return value ? value->asDate() : std::nullopt;
}

std::optional<plist::Dict> UserDefaults::dictionaryForKey(const std::string& key) const {
  std::optional<plist::Value> value = object(key);
  if (!value || !value->asDict()) return std::nullopt;
  return *value->asDict();
}

void UserDefaults::setBool(const std::string& key, bool value) {
  setObject(key, plist::Value::boolean(value));
}
void UserDefaults::setInteger(const std::string& key, std::int64_t value) {
  setObject(key, plist::Value::integer(value));
}
void UserDefaults::setDouble(const std::string& key, double value) {
  setObject(key, plist::Value::real(value));
}
void UserDefaults::setString(const std::string& key, std::string value) {
  setObject(key, plist::Value::string(std::move(value)));
}
void UserDefaults::setDate(const std::string& key, double secondsSince1970) {
  setObject(key, plist::Value::date(secondsSince1970));
}

void UserDefaults::changed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (scheduled_) return;
    scheduled_ = true;
  }
  scheduleWrite();
}

void UserDefaults::scheduleWrite() {
  worker_->performAfter(writeDelay_, [this] {
    bool ok = writeNow();
    bool again;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A change made while the file was written rides on the next write; a
      // write that failed waits for the next change (or synchronize).
      again = ok && dirty_;
      if (!again) scheduled_ = false;
    }
    if (again) {
      scheduleWrite();
    } else {
      written_.notify_all();
    }
  });
}

bool UserDefaults::synchronize() { return writeNow(); }

bool UserDefaults::writeNow() {
  std::lock_guard<std::mutex> writing(writeMutex_);
  plist::Dict snapshot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot = values_;
    dirty_ = false;
  }
  std::size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) Paths::mkdirs(path_.substr(0, slash));
  bool ok = plist::writeAtomic(path_, plist::Value::dict(std::move(snapshot)), nullptr, 0600);
  if (!ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_ = true;  // still to be written
  }
  return ok;
}

void UserDefaults::waitForPendingWrite() {
  std::unique_lock<std::mutex> lock(mutex_);
  written_.wait(lock, [this] { return !scheduled_; });
}

}  // namespace platform
