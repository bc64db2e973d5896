// Helpers of the web-service tests: the loopback stand-in as the configured
// service for a test's life, and environment variables set for a scope.
#ifndef TESTS_VXU_VX_SERVICE_SUPPORT_H
#define TESTS_VXU_VX_SERVICE_SUPPORT_H

#include <cstdlib>
#include <optional>
#include <string>

#include "service_stub.h"

// Sets (or, with null, removes) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A stand-in of the service over plain HTTP, configured as the service
// (FLUVANE_SERVICE_URL), with a fixed device identifier.
struct ConfiguredService {
  stub::ServiceStub stub;
  ScopedEnv url{"FLUVANE_SERVICE_URL", stub.baseUrl().c_str()};
  ScopedEnv device{"FLUVANE_DEVICE_ID", "dev-1"};
};

#endif
