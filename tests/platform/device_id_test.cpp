// The device identifier and the host of a URL.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/DeviceId.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/Reachability.h"

using namespace platform;

namespace {

bool lowerHex40(const std::string& id) {
  if (id.size() != 40) return false;
  for (char c : id) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
  }
  return true;
}

TEST(DeviceId, ADigestOfTheMachineIdAndTheProductOrTheOverride) {
  unsetenv("FLUVANE_DEVICE_ID");
  std::string id = deviceIdentifier("Fluvane");
  EXPECT_TRUE(lowerHex40(id)) << id;
  EXPECT_EQ(deviceIdentifier("Fluvane"), id);
  EXPECT_NE(deviceIdentifier("Other"), id);
  // The machine id itself never shows.
  if (auto machine = Paths::readFile("/etc/machine-id")) {
    std::string line = machine->substr(0, machine->find('\n'));
    EXPECT_EQ(id, sha1Hex(line + "Fluvane"));
    EXPECT_EQ(id.find(line), std::string::npos);
  }
  EXPECT_EQ(deviceIdentifierFor("abc", "Fluvane"), sha1Hex("abcFluvane"));
  setenv("FLUVANE_DEVICE_ID", "test-device", 1);
  EXPECT_EQ(deviceIdentifier("Fluvane"), "test-device");
  unsetenv("FLUVANE_DEVICE_ID");
}

TEST(Reachability, HostsOfUrlsAndTheTestOverride) {
  EXPECT_EQ(hostOfUrl("https://service.example.org/fluvane/motd/"), "service.example.org");
  EXPECT_EQ(hostOfUrl("http://127.0.0.1:8080"), "127.0.0.1");
  EXPECT_EQ(hostOfUrl("http://user@host:1/x"), "host");
  EXPECT_EQ(hostOfUrl("http://[::1]:80/"), "::1");
  EXPECT_EQ(hostOfUrl("no url"), "");
  Reachability::setOverride([](const std::string& host) { return host == "up"; });
  EXPECT_TRUE(Reachability::isReachable("up"));
  EXPECT_FALSE(Reachability::isReachable("down"));
  Reachability::setOverride(nullptr);
  EXPECT_TRUE(Reachability::isReachable("127.0.0.1"));  // loopback, no name lookup
  EXPECT_FALSE(Reachability::isReachable(""));
}

}  // namespace
