// Device facts: every device of the model table and several system versions
// played through the environment overrides, the caches, and the defaults
// from the build and uname.
#include "vxu/VXUtils.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kOverrides[] = {"FLUVANE_BUILD_VERSION", "FLUVANE_BUNDLE_VERSION",
                                  "FLUVANE_PRODUCT_NAME", "FLUVANE_MACHINE", "FLUVANE_OS_VERSION"};

// Each test starts without overrides and with empty caches, and leaves it so.
class DeviceFactsTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    for (const char* name : kOverrides) unsetenv(name);
    reset_device_facts();
  }
  static void play(const char* name, const char* value) {
    setenv(name, value, 1);
    reset_device_facts();
  }
};

TEST_F(DeviceFactsTest, EachMachineNameOfTheTableGivesItsModelAndGeneration) {
  struct Case {
    const char* machine;
    unsigned id;
    int generation;
  };
  const Case cases[] = {{"iPhone1,1", 1, 2}, {"iPhone1,2", 2, 3}, {"iPod1,1", 3, 3},
                        {"iPod2,1", 4, 3},   {"iPhone2,1", 0, 3}, {"x86_64", 0, 3},
                        {"iphone1,1", 0, 3}, {"", 0, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    play("FLUVANE_MACHINE", c.machine);
    EXPECT_EQ(hardware_id(), c.id);
    EXPECT_EQ(device_generation(), c.generation);
    EXPECT_EQ(hardware_id_for_machine(c.machine), c.id);
  }
}

TEST_F(DeviceFactsTest, SystemVersionsAndTheOs21Test) {
  struct Case {
    const char* text;
    int components[6];
    bool os21;
  };
  const Case cases[] = {
      {"2.2.1", {2, 2, 1, -1, -1, -1}, true},
      {"3.0", {3, 0, -1, -1, -1, -1}, true},
      {"2.0.2", {2, 0, 2, -1, -1, -1}, false},
      {"2.1", {2, 1, -1, -1, -1, -1}, true},
      {"1.9", {1, 9, -1, -1, -1, -1}, false},
      {"1.2.3.4.5.6.7", {1, 2, 3, 4, 5, 6}, false},
      {"6.1.0-18-amd64", {6, 1, 0, -1, -1, -1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    play("FLUVANE_OS_VERSION", c.text);
    const int* v = os_version();
    EXPECT_EQ(std::vector<int>(v, v + 6), std::vector<int>(c.components, c.components + 6));
    EXPECT_EQ(os_2_1_or_later(), c.os21);
  }
}

TEST_F(DeviceFactsTest, FactsAreKeptAfterTheFirstCall) {
  play("FLUVANE_MACHINE", "iPhone1,1");
  play("FLUVANE_PRODUCT_NAME", "Kazoo");
  setenv("FLUVANE_OS_VERSION", "2.2", 1);
  ASSERT_EQ(hardware_id(), 1u);
  ASSERT_EQ(product_name(), "Kazoo");
  ASSERT_EQ(os_version()[1], 2);

  setenv("FLUVANE_MACHINE", "iPod1,1", 1);
  setenv("FLUVANE_PRODUCT_NAME", "Other", 1);
  setenv("FLUVANE_OS_VERSION", "3.0", 1);
  EXPECT_EQ(hardware_id(), 1u);
  EXPECT_EQ(product_name(), "Kazoo");
  EXPECT_EQ(os_version()[0], 2);
}

TEST_F(DeviceFactsTest, AVersionNotStartingWithANumberIsReadAgain) {
  play("FLUVANE_OS_VERSION", "beta");
  EXPECT_EQ(os_version()[0], -1);
  EXPECT_FALSE(os_2_1_or_later());
  setenv("FLUVANE_OS_VERSION", "3.1", 1);
  EXPECT_EQ(os_version()[0], 3);
  EXPECT_EQ(os_version()[1], 1);

  int out[6];
  EXPECT_FALSE(parse_os_version(".5", out));
  EXPECT_EQ(out[0], -1);
  EXPECT_TRUE(parse_os_version("4..2", out));  // dots between components are skipped
  EXPECT_EQ(out[1], 2);
  EXPECT_FALSE(parse_os_version("", out));
  EXPECT_FALSE(parse_os_version(nullptr, out));
}

TEST_F(DeviceFactsTest, BuildAndProductFromTheBuildOrTheOverrides) {
  EXPECT_EQ(build_id(), "1.0 (1.0)");
  EXPECT_EQ(product_name(), "Fluvane");
  play("FLUVANE_BUILD_VERSION", "2.3b");
  play("FLUVANE_BUNDLE_VERSION", "417");
  play("FLUVANE_PRODUCT_NAME", "Fluvane Lite");
  EXPECT_EQ(build_id(), "2.3b (417)");
  EXPECT_EQ(product_name(), "Fluvane Lite");
}

TEST_F(DeviceFactsTest, WithoutOverridesTheMachineAndVersionComeFromUname) {
  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(hardware_id(), hardware_id_for_machine(names.machine));
  int expected[6];
  parse_os_version(names.release, expected);
  const int* v = os_version();
  EXPECT_EQ(std::vector<int>(v, v + 6), std::vector<int>(expected, expected + 6));
}

TEST_F(DeviceFactsTest, FirstCallsFromManyThreadsAgree) {
  play("FLUVANE_MACHINE", "iPod2,1");
  std::vector<unsigned> ids(8);
  std::vector<const std::string*> builds(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ids.size(); ++i) {
    threads.emplace_back([&, i] {
      ids[i] = hardware_id();
      builds[i] = &build_id();
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(ids[i], 4u);
    EXPECT_EQ(builds[i], builds[0]);
  }
}

}  // namespace
