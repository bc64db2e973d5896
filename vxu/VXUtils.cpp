#include "vxu/VXUtils.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

// What the bundle's Info values are on the phone: facts of this build.
const char kBuildVersion[] = "1.0";   // VXBuildVersion
const char kBundleVersion[] = "1.0";  // CFBundleVersion
const char kProductName[] = "Fluvane";  // CFBundleName

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : fallback;
}

std::string uname_field(bool machine) {
  struct utsname names;
  if (uname(&names) != 0) return "";
  return machine ? names.machine : names.release;
}

// Every cache under one lock: the facts are asked for rarely.
struct Facts {
  std::mutex lock;
  std::optional<std::string> build_id;
  std::optional<std::string> product_name;
  std::optional<unsigned> hardware_id;
  int os_version[6] = {-1, -1, -1, -1, -1, -1};
  bool os_version_read = false;
};

Facts& facts() {
  static Facts f;
  return f;
}

}  // namespace

const std::string& build_id() {
  Facts& f = facts();
  std::lock_guard<std::mutex> guard(f.lock);
  if (!f.build_id) {
    f.build_id = env_or("FLUVANE_BUILD_VERSION", kBuildVersion) + " (" +
                 env_or("FLUVANE_BUNDLE_VERSION", kBundleVersion) + ")";
  }
  return *f.build_id;
}

const std::string& product_name() {
  Facts& f = facts();
  std::lock_guard<std::mutex> guard(f.lock);
  if (!f.product_name) f.product_name = env_or("FLUVANE_PRODUCT_NAME", kProductName);
  return *f.product_name;
}

unsigned hardware_id_for_machine(const std::string& machine) {
  static const struct {
    const char* machine;
    unsigned id;
  } kModels[] = {{"iPhone1,1", 1}, {"iPhone1,2", 2}, {"iPod1,1", 3}, {"iPod2,1", 4}};
  for (const auto& model : kModels) {
    if (machine == model.machine) return model.id;
  }
  return 0;
}

unsigned hardware_id() {
  Facts& f = facts();
  std::lock_guard<std::mutex> guard(f.lock);
  if (!f.hardware_id) {
    const char* machine = std::getenv("FLUVANE_MACHINE");
    f.hardware_id = hardware_id_for_machine(machine ? machine : uname_field(true));
  }
  return *f.hardware_id;
}

bool parse_os_version(const char* text, int components[6]) {
  for (int i = 0; i < 6; ++i) components[i] = -1;
  const char* p = text ? text : "";
  for (int i = 0; i < 6; ++i) {
    while (i > 0 && *p == '.') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) break;
    long value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      if (value < 100000000) value = value * 10 + (*p - '0');
      ++p;
    }
    components[i] = static_cast<int>(value);
  }
  return components[0] != -1;
}

const int* os_version() {
  Facts& f = facts();
  std::lock_guard<std::mutex> guard(f.lock);
  if (!f.os_version_read) {
    const char* text = std::getenv("FLUVANE_OS_VERSION");
    std::string release = text ? std::string(text) : uname_field(false);
    f.os_version_read = parse_os_version(release.c_str(), f.os_version);
  }
  return f.os_version;
}

std::string device_model() { return env_or("FLUVANE_MACHINE", uname_field(true)); }

std::string system_name() {
  struct utsname names;
  return uname(&names) == 0 ? names.sysname : "";
}

std::string system_version() { return env_or("FLUVANE_OS_VERSION", uname_field(false)); }

int device_generation() { return hardware_id() == 1 ? 2 : 3; }

bool is_os_2_1_or_later(const int components[6]) {
  return components[0] > 2 || (components[0] == 2 && components[1] > 0);
}

bool os_2_1_or_later() { return is_os_2_1_or_later(os_version()); }

void reset_device_facts() {
  Facts& f = facts();
  std::lock_guard<std::mutex> guard(f.lock);
  f.build_id.reset();
  f.product_name.reset();
  f.hardware_id.reset();
  for (int& c : f.os_version) c = -1;
  f.os_version_read = false;
}
