// The process's location service: the platform's location manager with the
// rules the application needs of a fix.
//
// getLocation(accuracy) hands out the last fix only when the user did not
// deny access, the fix is valid (finite numbers, latitude within +-90,
// longitude within +-180, a non-negative accuracy), less than an hour old
// and at least as accurate as asked; each refusal logs why ("core location
// did not return valid data", "core location returned data too stale: ...",
// "core location returned data outside of accuracy requirement: ..."). The
// status is "OK" after a fix, "kCLErrorDenied" after a denial (which stops
// updates for good) and "kCLErrorLocationUnknown" when no place is known;
// none before any of them.
//
// The shared instance takes its provider from the configuration
// (FLUVANE_LOCATION or home()/location.conf; a refused configuration is
// logged and counts as none). Tests build instances over a provider and a
// loop of their own.
//
// Threads: made, started and stopped on the loop's thread, where the
// manager's callbacks arrive; getLocation, getStatus and denied may be
// called from any thread (the background thread preparing uploads).
#ifndef VXU_VXLOCATION_H
#define VXU_VXLOCATION_H

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/LocationManager.h"

class VXLocationDelegate {
 public:
  virtual ~VXLocationDelegate() = default;
  virtual void newLocationUpdate(const platform::LocationFix& fix) = 0;
};

class vexelLocation : public platform::LocationManagerDelegate {
 public:
  static constexpr double kStaleSeconds = 3600.0;

  static vexelLocation& sharedInstance();

  explicit vexelLocation(std::shared_ptr<platform::LocationProvider> provider,
                         platform::RunLoop& loop = platform::RunLoop::main(),
                         platform::UserDefaults* defaults = nullptr);
  ~vexelLocation() override;

  void startUpdatingLocation();
  void stopUpdatingLocation();
  std::optional<std::string> getStatus() const;
  std::optional<platform::LocationFix> getLocation(int accuracy) const;
  bool denied() const;
  bool started() const { return started_; }
  bool locationServicesEnabled() const { return manager_->locationServicesEnabled(); }
  // Told of each valid new fix on the loop's thread; not owned.
  void setDelegate(VXLocationDelegate* delegate) { delegate_ = delegate; }

  void didUpdateToLocation(const platform::LocationFix& fix,
                           const std::optional<platform::LocationFix>& previous) override;
  void didFailWithError(int code) override;

 private:
  mutable std::mutex mutex_;  // status and denied
  std::optional<std::string> status_;
  bool denied_ = false;
  bool started_ = false;
  VXLocationDelegate* delegate_ = nullptr;
  std::unique_ptr<platform::LocationManager> manager_;
};

#endif
