// Location services: where the device is, as far as the configuration says.
//
// A LocationManager delivers fixes and errors to its delegate on a run loop
// (the main one unless told otherwise), from a provider:
//  - FixedLocationProvider: a configured place. Its fix is stamped with the
//    time it is delivered, when updates start and every 10 minutes after,
//    so a fixed place never grows stale.
//  - no provider (null): updates report error 0 (location unknown).
//  - DeniedLocationProvider: updates report error 1 (access denied).
//  - ScriptedLocationProvider (tests): fixes and errors a test hands over.
// configuredProvider() reads FLUVANE_LOCATION, else the first line of
// home()/location.conf: "lat,lon[,accuracy]" in degrees and metres
// (accuracy 100 m when not given) or "denied". Latitude outside +-90,
// longitude outside +-180, a negative accuracy, a non-finite number or any
// other text refuses the configuration (null, and *problem says why).
//
// Permission is asked once, on the first start of updates, through the
// installed alert presenter ("Allow “Fluvane” to use your current
// location?" with "Don't Allow" (0) and "OK" (1)); the answer is kept in
// the user defaults under kPermissionKey and asked no more. A refusal
// reports error 1. With no presenter to ask, updates report error 0 and
// nothing is remembered.
//
// location() is the last fix delivered (whatever it holds); validity and
// age are for the caller to judge (LocationFix::isValid checks the numbers).
//
// Threads: the manager is made, started and stopped on its loop's thread,
// where the delegate is called; location() may be read from any thread.
#ifndef PLATFORM_LOCATIONMANAGER_H
#define PLATFORM_LOCATIONMANAGER_H

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/RunLoop.h"

namespace platform {

class UserDefaults;

struct LocationFix {
  double latitude = 0.0;
  double longitude = 0.0;
  double horizontalAccuracy = -1.0;  // metres; negative: invalid
  double timestamp = 0.0;            // seconds since 1970

  // Finite numbers, latitude within +-90, longitude within +-180 and a
  // non-negative accuracy.
  bool isValid() const;
};

constexpr int kLocationErrorUnknown = 0;
constexpr int kLocationErrorDenied = 1;

class LocationManagerDelegate {
 public:
  virtual ~LocationManagerDelegate() = default;
  virtual void didUpdateToLocation(const LocationFix& fix,
                                   const std::optional<LocationFix>& previous) = 0;
  virtual void didFailWithError(int code) = 0;
};

// Where fixes come from. start hands the provider its two outlets, which it
// calls on the loop; stop ends the deliveries.
class LocationProvider {
 public:
  struct Outlets {
    std::function<void(const LocationFix&)> fix;
    std::function<void(int code)> error;
  };
  virtual ~LocationProvider() = default;
  virtual void start(RunLoop& loop, Outlets outlets) = 0;
  virtual void stop() = 0;
};

class FixedLocationProvider : public LocationProvider {
 public:
  static constexpr double kRedeliverySeconds = 600.0;
  FixedLocationProvider(double latitude, double longitude, double accuracy);
  ~FixedLocationProvider() override;
  void start(RunLoop& loop, Outlets outlets) override;
  void stop() override;
  LocationFix place() const { return place_; }

 private:
  void deliver();
  LocationFix place_;
  RunLoop* loop_ = nullptr;
  RunLoop::TimerId timer_ = 0;
  Outlets outlets_;
};

class DeniedLocationProvider : public LocationProvider {
 public:
  void start(RunLoop& loop, Outlets outlets) override;
  void stop() override {}
};

class ScriptedLocationProvider : public LocationProvider {
 public:
  void start(RunLoop& loop, Outlets outlets) override;
  void stop() override;
  // Posted to the loop while started; dropped otherwise.
  void deliverFix(const LocationFix& fix);
  void deliverError(int code);
  bool started() const;

 private:
  mutable std::mutex mutex_;
  RunLoop* loop_ = nullptr;
  Outlets outlets_;
};

class LocationManager {
 public:
  static constexpr const char* kPermissionKey = "LocationServicesPermission";

  // defaults: where the permission is kept (null: the standard defaults).
  LocationManager(LocationManagerDelegate* delegate, std::shared_ptr<LocationProvider> provider,
                  RunLoop& loop = RunLoop::main(), UserDefaults* defaults = nullptr);
  ~LocationManager();
  LocationManager(const LocationManager&) = delete;
  LocationManager& operator=(const LocationManager&) = delete;

  // The provider the configuration names (see above); null for none.
  static std::shared_ptr<LocationProvider> configuredProvider(std::string* problem = nullptr);
  // The rule itself, for one configuration text.
  static std::shared_ptr<LocationProvider> providerFor(const std::string& text,
                                                       std::string* problem);

  void startUpdatingLocation();
  void stopUpdatingLocation();
  bool locationServicesEnabled() const { return provider_ != nullptr; }
  std::optional<LocationFix> location() const;

 private:
  struct Shared;
  void beginDeliveries();
  void report(int code);

  LocationManagerDelegate* delegate_;
  std::shared_ptr<LocationProvider> provider_;
  RunLoop& loop_;
  UserDefaults* defaults_;
  std::shared_ptr<Shared> shared_;
  bool started_ = false;
  bool asking_ = false;
};

}  // namespace platform

#endif
