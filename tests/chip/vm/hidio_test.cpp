// Device input: the stub drivers of this platform, opened devices shared by
// readers, the manager's lists and its polling thread.
#include "chip/vm/hidio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

namespace {

// Whether some printed line ends with text.
bool has_line(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.size() >= text.size() &&
        line.compare(line.size() - text.size(), text.size(), text) == 0) {
      return true;
    }
  }
  return false;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

int accept_device(int) { return 0; }

class HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLevel = g_loglevel;
    EM_setlog(CP_LOG_INFO);
  }
  void TearDown() override {
    for (HidIn* hin : readers) delete hin;
    readers.clear();
    HidInManager::cleanup();
    EM_setlog(savedLevel);
  }

  HidIn* reader() {
    readers.push_back(new HidIn);
    return readers.back();
  }

  std::vector<HidIn*> readers;
  int savedLevel = 0;
};

TEST_F(HidTest, OnlyTiltSensorZeroOpens) {
  struct Case {
    long type;
    long num;
    std::vector<std::string> expected;  // line endings, in any order
  };
  const Case cases[] = {
      {CP_HID_DEV_JOYSTICK,
       0,
       {"PhyHidDevIn: open() failed -> invalid joystick number 0",
        "HidIn: couldn't open joystick 0..."}},
      {CP_HID_DEV_MOUSE,
       0,
       {"PhyHidDevIn: open() failed -> invalid mouse number 0", "HidIn: couldn't open mouse 0..."}},
      {CP_HID_DEV_KEYBOARD,
       2,
       {"PhyHidDevIn: open() failed -> invalid keyboard number 2",
        "HidIn: couldn't open keyboard 2..."}},
      {CP_HID_DEV_WIIREMOTE,
       0,
       {"PhyHidDevIn: open() failed -> invalid wii remote number 0",
        "HidIn: couldn't open wii remote 0..."}},
      {CP_HID_DEV_TILTSENSOR,
       1,
       {"PhyHidDevIn: open() failed -> invalid tilt sensor number 1",
        "HidIn: couldn't open tilt sensor 1..."}},
      {CP_HID_DEV_TABLET, 0, {"PhyHidDevIn: open() failed ->  does not support open"}},
      {CP_HID_DEV_NONE, 0, {"HidInManager: open() failed -> invalid type '0'..."}},
      {CP_HID_DEV_COUNT, 0, {"HidInManager: open() failed -> invalid type '7'..."}},
      {-1, 0, {"HidInManager: open() failed -> invalid type '-1'..."}},
  };
  for (const Case& c : cases) {
    HidIn* hin = reader();
    t_CPBOOL ok = TRUE;
    std::vector<std::string> lines = printed_lines([&] { ok = hin->open(c.type, c.num); });
    EXPECT_FALSE(ok) << c.type << " " << c.num;
    EXPECT_FALSE(hin->m_valid);
    for (const std::string& text : c.expected) {
      EXPECT_TRUE(has_line(lines, text)) << text << "\nprinted:\n" << joined(lines);
    }
    // Nothing is kept of a failed open.
    if (c.type >= 1 && c.type < CP_HID_DEV_COUNT && c.num < HID_MATRIX_SLOTS) {
      EXPECT_EQ(HidInManager::the_matrix[c.type][c.num], nullptr);
    }
  }
  // An invalid type never reaches a device.
  HidIn* hin = reader();
  std::vector<std::string> lines = printed_lines([&] { hin->open(0, 0); });
  EXPECT_FALSE(has_line(lines, "HidIn: couldn't open  0..."));
}

TEST_F(HidTest, TiltSensorZeroIsSharedAndSilent) {
  HidIn* a = reader();
  HidIn* b = reader();
  ASSERT_TRUE(a->open(CP_HID_DEV_TILTSENSOR, 0));
  ASSERT_TRUE(b->open(CP_HID_DEV_TILTSENSOR, 0));
  EXPECT_TRUE(a->m_valid);
  EXPECT_EQ(a->phin, b->phin);
  EXPECT_EQ(HidInManager::the_matrix[CP_HID_DEV_TILTSENSOR][0], a->phin);
  EXPECT_NE(a->m_buffer_in, b->m_buffer_in);

  // The stub gives no name: logged, and one blank.
  std::string name;
  std::vector<std::string> lines = printed_lines([&] { name = a->name(); });
  EXPECT_EQ(name, " ");
  EXPECT_TRUE(has_line(lines, "PhyHidDevIn: name() failed -> invalid tilt sensor number 0"))
      << joined(lines);

  // read succeeds and leaves the message as prepared; send is not supported.
  HidMsg msg;
  msg.idata[1] = 42;
  msg.fdata[2] = 0.5;
  EXPECT_TRUE(a->read(CP_HID_ACCELEROMETER, 0, &msg));
  EXPECT_EQ(msg.idata[1], 42);
  EXPECT_EQ(msg.fdata[2], 0.5);
  lines = printed_lines([&] { EXPECT_FALSE(a->send(&msg)); });
  EXPECT_TRUE(has_line(lines, "PhyHidDevIn: send() failed -> tilt sensor does not support send"))
      << joined(lines);

  // Nothing ever arrives from the stub.
  EXPECT_EQ(a->recv(&msg), 0u);
  EXPECT_TRUE(a->empty());
}

TEST_F(HidTest, PostedMessagesReachEveryReader) {
  HidIn* a = reader();
  HidIn* b = reader();
  ASSERT_TRUE(a->open(CP_HID_DEV_TILTSENSOR, 0));
  ASSERT_TRUE(b->open(CP_HID_DEV_TILTSENSOR, 0));
  HidMsg posted;
  posted.type = CP_HID_ACCELEROMETER;
  posted.idata[0] = 7;
  a->phin->cbuf->put(&posted, 1);

  for (HidIn* hin : {a, b}) {
    EXPECT_FALSE(hin->empty());
    HidMsg got;
    EXPECT_EQ(hin->recv(&got), 1u);
    EXPECT_EQ(got.type, CP_HID_ACCELEROMETER);
    EXPECT_EQ(got.idata[0], 7);
    EXPECT_EQ(hin->recv(&got), 0u);
    EXPECT_TRUE(hin->empty());
  }
}

TEST_F(HidTest, ClosedReaderAnswersNothing) {
  HidIn* hin = reader();
  HidMsg msg;
  EXPECT_EQ(hin->name(), " ");
  EXPECT_EQ(hin->recv(&msg), 0u);
  EXPECT_TRUE(hin->empty());
  EXPECT_FALSE(hin->read(CP_HID_ACCELEROMETER, 0, &msg));
  EXPECT_FALSE(hin->send(&msg));

  // A failed second open leaves the reader closed.
  ASSERT_TRUE(hin->open(CP_HID_DEV_TILTSENSOR, 0));
  EXPECT_FALSE(hin->open(CP_HID_DEV_MOUSE, 0));
  EXPECT_FALSE(hin->m_valid);
  EXPECT_EQ(hin->name(), " ");
}

TEST_F(HidTest, DeviceListsGrowForLargeNumbers) {
  HidInManager::init();
  HidDriver& tablet = HidInManager::default_drivers[CP_HID_DEV_TABLET];
  tablet.open = accept_device;
  tablet.close = accept_device;
  ASSERT_EQ(HidInManager::the_matrix[CP_HID_DEV_TABLET].size(), size_t{HID_MATRIX_SLOTS});

  HidIn* a = reader();
  ASSERT_TRUE(a->open(CP_HID_DEV_TABLET, 1024));
  EXPECT_EQ(HidInManager::the_matrix[CP_HID_DEV_TABLET].size(), 2048u);
  EXPECT_EQ(HidInManager::the_matrix[CP_HID_DEV_TABLET][1024], a->phin);
  HidIn* b = reader();
  ASSERT_TRUE(b->open(CP_HID_DEV_TABLET, 5000));
  EXPECT_EQ(HidInManager::the_matrix[CP_HID_DEV_TABLET].size(), 5001u);
  EXPECT_EQ(b->m_num, 5000);

  // A negative number is refused without touching the lists.
  HidIn* c = reader();
  EXPECT_FALSE(c->open(CP_HID_DEV_TABLET, -1));
  EXPECT_EQ(HidInManager::the_matrix[CP_HID_DEV_TABLET].size(), 5001u);
}

TEST_F(HidTest, PollingThreadPausesBetweenPollsAndStops) {
  EXPECT_EQ(HidInManager::the_thread, nullptr);
  HidIn* hin = reader();
  ASSERT_TRUE(hin->open(CP_HID_DEV_TILTSENSOR, 0));
  ASSERT_NE(HidInManager::the_thread, nullptr);
  EXPECT_TRUE(HidInManager::thread_going);

  // Three polls after the first one take at least two pauses: a thread
  // that spins would make them at once.
  ASSERT_TRUE(HidInManager::wait_for_polls(1, 5000));
  const auto start = std::chrono::steady_clock::now();
  const unsigned long first = HidInManager::poll_count();
  ASSERT_TRUE(HidInManager::wait_for_polls(first + 3, 5000));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(2 * HID_POLL_INTERVAL_MS - 1));

  delete hin;
  readers.clear();
  std::vector<std::string> lines = printed_lines([] { HidInManager::cleanup(); });
  EXPECT_TRUE(has_line(lines, "HID thread exiting...")) << joined(lines);
  EXPECT_EQ(HidInManager::the_thread, nullptr);
  EXPECT_FALSE(HidInManager::thread_going);
  EXPECT_FALSE(HidInManager::has_init);

  // A later open starts afresh, thread included.
  HidIn* again = reader();
  EXPECT_TRUE(again->open(CP_HID_DEV_TILTSENSOR, 0));
  EXPECT_NE(HidInManager::the_thread, nullptr);
}

TEST(HidDriverStubs, CursorTrackingAndPollRateAreUnsupported) {
  EXPECT_EQ(Mouse_start_cursor_track(), -1);
  EXPECT_EQ(Mouse_stop_cursor_track(), -1);
  EXPECT_EQ(TiltSensor_setPollRate(1000), -1);
  EXPECT_EQ(TiltSensor_getPollRate(), -1);
}

}  // namespace
