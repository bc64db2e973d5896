#include "platform/DeviceId.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/Digest.h"
#include "platform/Paths.h"

namespace platform {

namespace {

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// A random id kept under home(), made on first need.
std::string localMachineId() {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::string path = Paths::join(Paths::home(), "device-id");
  if (auto text = Paths::readFile(path)) {
    std::string id = firstLine(*text);
    if (!id.empty()) return id;
  }
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 32; ++i) id += kHex[random() & 15];
  Paths::mkdirs(Paths::home());
  Paths::writeAtomic(path, id + "\n", nullptr, 0600);
  return id;
}

}  // namespace

std::string deviceIdentifierFor(std::string_view machineId, std::string_view productName) {
  std::string input(machineId);
  input += productName;
  return sha1Hex(input);
}

std::string deviceIdentifier(std::string_view productName) {
  const char* given = std::getenv("FLUVANE_DEVICE_ID");
  if (given && *given) return given;
  for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    if (auto text = Paths::readFile(file)) {
      std::string id = firstLine(*text);
      if (!id.empty()) return deviceIdentifierFor(id, productName);
    }
  }
  return deviceIdentifierFor(localMachineId(), productName);
}

}  // namespace platform
