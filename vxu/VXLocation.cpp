#include "vxu/VXLocation.h"

#include <ctime>

#include "platform/Clock.h"
#include "vxu/VXLog.h"

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

// "2030-01-01 12:00:00 +0000".
std::string describeTime(double time) {
  std::time_t seconds = static_cast<std::time_t>(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return text;
}

std::shared_ptr<platform::LocationProvider> configured() {
  std::string problem;
  std::shared_ptr<platform::LocationProvider> provider =
      platform::LocationManager::configuredProvider(&problem);
  if (!provider && !problem.empty())
    vxlog().log("location configuration refused: %s", problem.c_str());
  return provider;
}

}  // namespace

vexelLocation& vexelLocation::sharedInstance() {
  static vexelLocation* instance = new vexelLocation(configured());
  return *instance;
}

vexelLocation::vexelLocation(std::shared_ptr<platform::LocationProvider> provider,
                             platform::RunLoop& loop, platform::UserDefaults* defaults)
    : manager_(
          std::make_unique<platform::LocationManager>(this, std::move(provider), loop, defaults)) {}

vexelLocation::~vexelLocation() = default;

void vexelLocation::startUpdatingLocation() {
  if (denied() || started_) return;
  started_ = true;
  manager_->startUpdatingLocation();
}

void vexelLocation::stopUpdatingLocation() {
  manager_->stopUpdatingLocation();
  started_ = false;
}

std::optional<std::string> vexelLocation::getStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

bool vexelLocation::denied() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return denied_;
}

std::optional<platform::LocationFix> vexelLocation::getLocation(int accuracy) const {
  std::optional<platform::LocationFix> fix = manager_->location();
  if (denied() || !fix) return std::nullopt;
  vxlog().log("vexel Location requested with accuracy: %d", accuracy);
  if (!fix->isValid()) {
    vxlog().log("core location did not return valid data");
    return std::nullopt;
  }
  if (!(platform::Clock::now() < fix->timestamp + kStaleSeconds)) {
    vxlog().log("core location returned data too stale: %s", describeTime(fix->timestamp).c_str());
    return std::nullopt;
  }
  if (fix->horizontalAccuracy <= accuracy) {
    vxlog().log("core location returned valid data");
    return fix;
  }
  vxlog().log("core location returned data outside of accuracy requirement: %f",
              fix->horizontalAccuracy);
  return std::nullopt;
}

void vexelLocation::didUpdateToLocation(const platform::LocationFix& fix,
                                        const std::optional<platform::LocationFix>&) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = "OK";
  }
  if (fix.isValid() && delegate_) delegate_->newLocationUpdate(fix);
}

void vexelLocation::didFailWithError(int code) {
  if (code == platform::kLocationErrorDenied) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_ = "kCLErrorDenied";
      denied_ = true;
    }
    vxlog().log("core location returned kCLErrorDenied");
    stopUpdatingLocation();
  } else if (code == platform::kLocationErrorUnknown) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_ = "kCLErrorLocationUnknown";
    }
    vxlog().log("core location returned kCLErrorLocationUnknown");
  }
}
