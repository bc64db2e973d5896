#include "platform/LocationManager.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"

namespace platform {

namespace {

constexpr const char* kPermissionGranted = "granted";
constexpr const char* kPermissionDenied = "denied";

// A whole number text (leading and trailing blanks allowed).
bool parseNumber(const std::string& text, double& value) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  value = std::strtod(start, &end);
  if (end == start || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  return *end == '\0';
}

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (;;) {
    std::size_t comma = text.find(',', at);
    parts.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return parts;
}

std::string trimmed(std::string text) {
  while (!text.empty() && std::strchr(" \t\r\n", text.back())) text.pop_back();
  std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

bool LocationFix::isValid() const {
  return std::isfinite(latitude) && std::isfinite(longitude) && std::isfinite(horizontalAccuracy) &&
         std::isfinite(timestamp) && latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 &&
         longitude <= 180.0 && horizontalAccuracy >= 0.0;
}

// ---------------------------------------------------------------------------
// Providers

FixedLocationProvider::FixedLocationProvider(double latitude, double longitude, double accuracy) {
  place_.latitude = latitude;
  place_.longitude = longitude;
  place_.horizontalAccuracy = accuracy;
}

FixedLocationProvider::~FixedLocationProvider() { stop(); }

void FixedLocationProvider::start(RunLoop& loop, Outlets outlets) {
  stop();
  loop_ = &loop;
  outlets_ = std::move(outlets);
  // The first delivery comes from the loop, like every later one.
  timer_ = loop.addTimer(0.0, false, [this] {
    deliver();
    timer_ = loop_->addTimer(kRedeliverySeconds, true, [this] { deliver(); });
  });
}

void FixedLocationProvider::stop() {
  if (loop_ && timer_) loop_->cancel(timer_);
  timer_ = 0;
  loop_ = nullptr;
}

void FixedLocationProvider::deliver() {
  LocationFix fix = place_;
  fix.timestamp = Clock::now();
  if (outlets_.fix) outlets_.fix(fix);
}

void DeniedLocationProvider::start(RunLoop& loop, Outlets outlets) {
  loop.post([error = std::move(outlets.error)] {
    if (error) error(kLocationErrorDenied);
  });
}

void ScriptedLocationProvider::start(RunLoop& loop, Outlets outlets) {
  std::lock_guard<std::mutex> lock(mutex_);
  loop_ = &loop;
  outlets_ = std::move(outlets);
}

void ScriptedLocationProvider::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  loop_ = nullptr;
  outlets_ = {};
}

bool ScriptedLocationProvider::started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loop_ != nullptr;
}

void ScriptedLocationProvider::deliverFix(const LocationFix& fix) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!loop_) return;
  loop_->post([out = outlets_.fix, fix] {
    if (out) out(fix);
  });
}

void ScriptedLocationProvider::deliverError(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!loop_) return;
  loop_->post([out = outlets_.error, code] {
    if (out) out(code);
  });
}

// ---------------------------------------------------------------------------
// The manager

struct LocationManager::Shared {
  mutable std::mutex mutex;
  std::optional<LocationFix> last;
  LocationManagerDelegate* delegate = nullptr;  // null once the manager is gone
  bool delivering = false;                      // updates are on
};

LocationManager::LocationManager(LocationManagerDelegate* delegate,
                                 std::shared_ptr<LocationProvider> provider, RunLoop& loop,
                                 UserDefaults* defaults)
    : delegate_(delegate),
      provider_(std::move(provider)),
      loop_(loop),
      defaults_(defaults ? defaults : &UserDefaults::standard()),
      shared_(std::make_shared<Shared>()) {
  shared_->delegate = delegate_;
}

LocationManager::~LocationManager() {
  if (provider_) provider_->stop();
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->delegate = nullptr;
  shared_->delivering = false;
}

std::shared_ptr<LocationProvider> LocationManager::providerFor(const std::string& given,
                                                               std::string* problem) {
  std::string text = trimmed(given);
  if (text == "denied") return std::make_shared<DeniedLocationProvider>();
  std::vector<std::string> parts = splitCommas(text);
  double values[3] = {0.0, 0.0, 100.0};
  bool ok = parts.size() == 2 || parts.size() == 3;
  for (std::size_t i = 0; ok && i < parts.size(); ++i)
    ok = parseNumber(trimmed(parts[i]), values[i]);
  if (ok) {
    LocationFix fix;
    fix.latitude = values[0];
    fix.longitude = values[1];
    fix.horizontalAccuracy = values[2];
    ok = fix.isValid();
  }
  if (!ok) {
    if (problem) *problem = "not a place (latitude,longitude[,accuracy]): '" + text + "'";
    return nullptr;
  }
  return std::make_shared<FixedLocationProvider>(values[0], values[1], values[2]);
}

std::shared_ptr<LocationProvider> LocationManager::configuredProvider(std::string* problem) {
  const char* given = std::getenv("FLUVANE_LOCATION");
  if (given && *given) return providerFor(given, problem);
  std::optional<std::string> file = Paths::readFile(Paths::join(Paths::home(), "location.conf"));
  if (!file) return nullptr;
  std::string line = file->substr(0, file->find('\n'));
  if (trimmed(line).empty()) return nullptr;
  return providerFor(line, problem);
}

void LocationManager::report(int code) {
  loop_.post([weak = std::weak_ptr<Shared>(shared_), code] {
    std::shared_ptr<Shared> shared = weak.lock();
    if (!shared) return;
    LocationManagerDelegate* delegate;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      delegate = shared->delegate;
    }
    if (delegate) delegate->didFailWithError(code);
  });
}

void LocationManager::beginDeliveries() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->delivering = true;
  }
  std::weak_ptr<Shared> weak(shared_);
  LocationProvider::Outlets outlets;
  outlets.fix = [weak](const LocationFix& fix) {
    std::shared_ptr<Shared> shared = weak.lock();
    if (!shared) return;
    LocationManagerDelegate* delegate;
    std::optional<LocationFix> previous;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      if (!shared->delivering) return;
      previous = shared->last;
      shared->last = fix;
      delegate = shared->delegate;
    }
    if (delegate) delegate->didUpdateToLocation(fix, previous);
  };
  outlets.error = [weak](int code) {
    std::shared_ptr<Shared> shared = weak.lock();
    if (!shared) return;
    LocationManagerDelegate* delegate;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      if (!shared->delivering) return;
      delegate = shared->delegate;
    }
    if (delegate) delegate->didFailWithError(code);
  };
  provider_->start(loop_, std::move(outlets));
}

void LocationManager::startUpdatingLocation() {
  if (started_) return;
  started_ = true;
  if (!provider_) {
    report(kLocationErrorUnknown);
    return;
  }
  std::optional<std::string> permission = defaults_->stringForKey(kPermissionKey);
  if (permission && *permission == kPermissionGranted) {
    beginDeliveries();
    return;
  }
  if (permission && *permission == kPermissionDenied) {
    report(kLocationErrorDenied);
    return;
  }
  if (asking_) return;
  std::shared_ptr<AlertPresenter> presenter = AlertPresenter::installed();
  if (!presenter) {
    report(kLocationErrorUnknown);
    return;
  }
  asking_ = true;
  Alert alert;
  alert.title = "Allow \u201CFluvane\u201D to use your current location?";
  alert.cancelButton = "Don't Allow";
  alert.otherButtons = {"OK"};
  // The answer may come after the manager is gone: it then only remembers.
  std::weak_ptr<Shared> weak(shared_);
  presenter->present(alert, [this, weak, defaults = defaults_](int index) {
    bool granted = index == 1;
    defaults->setString(kPermissionKey, granted ? kPermissionGranted : kPermissionDenied);
    if (!weak.lock()) return;
    asking_ = false;
    if (!started_) return;
    if (granted) {
      beginDeliveries();
    } else {
      report(kLocationErrorDenied);
    }
  });
}

void LocationManager::stopUpdatingLocation() {
  if (!started_) return;
  started_ = false;
  if (provider_) provider_->stop();
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->delivering = false;
}

std::optional<LocationFix> LocationManager::location() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->last;
}

}  // namespace platform
