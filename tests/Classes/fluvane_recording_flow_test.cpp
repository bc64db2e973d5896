// Recording end to end: the real engine runs the instrument's four scripts
// on the test audio hardware; the test fingers a phrase (touch mode, the
// blow area as breath) between the manual record commands, and the
// recording comes out at the other end: uploaded to the modelled service
// with the same states, or, offline, saved and waiting in the outbox. The
// recorded packet then plays back through the bridge to a listener.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/running_instrument_support.h"
#include "Classes/FluvaneGfx.h"
#include "recorder/FluvaneRecordings.h"
#include "recorder/FluvaneWebCalls.h"
#include "fluvane_service.h"
#include "platform/Paths.h"
#include "platform/RemoteIOUnit.h"
#include "platform/RunLoop.h"
#include "vxu/VXSecrets.h"
#include "vxu/VXUtils.h"
#include "vxu/vx_service_support.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

using platform::RunLoop;
using platform::TestAudioHardware;

namespace {

const int kPhrase[] = {15, 7, 3, 1};


struct Listener : FluvaneChipBridgeCallback {
  std::vector<int> notes;
  int finished = 0;
  void finishedPlayingTune() override { finished++; }
  void playedNote(int note) override { notes.push_back(note); }
};

// Waits (the audio pumped meanwhile when a unit is given) until done says
// so; false after the time-out.
template <typename Done>
bool waitFor(Done done, double seconds = 20.0) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    RunLoop::main().runUntilIdle();
    std::this_thread::yield();
  }
  return true;
}

class FluvaneRecordingFlowTest : public RunningInstrumentTest {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(FluvaneRecordings::outboxDir());
    std::filesystem::remove_all(FluvaneRecordings::recordingsDir());
    SnippetUploadHelper::setLocationSource(
        [] { return platform::LocationFix{46.2, 6.1, 20.0, 0.0}; });
    ASSERT_NO_FATAL_FAILURE(startInstrument());
    bridge->setEnableTouchMode(true);
  }
  void TearDown() override {
    stopInstrument();
    SnippetUploadHelper::setLocationSource(nullptr);
  }

  void pump(int buffers) {
    for (int b = 0; b < buffers; b++) {
      ASSERT_EQ(unit->pump(kBuffer), platform::kAudioOK);
      RunLoop::main().runUntilIdle();
    }
  }

  // Records the phrase manually: each mask held for 8 buffers with the
  // blow area pressed.
  void recordPhrase() {
    bridge->sendManualRecordingCommand(1);
    for (int mask : kPhrase) {
      finger(mask | 16);
      pump(8);
    }
    bridge->sendManualRecordingCommand(2);
    pump(2);
    finger(0);
  }

};

void expectPhrase(const std::string& packet) {
  std::optional<FluvaneSnippet> s = snippetFromPacket(packet);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->root, 60u);
  std::vector<int> masks;
  for (const FluvaneSnapshot& snap : s->snapshots) {
    EXPECT_EQ((snap.state >> 8) & 0xFF, 128u);  // full breath
    int mask = static_cast<int>(snap.state & 0xFF);
    if (masks.empty() || masks.back() != mask) masks.push_back(mask);
  }
  EXPECT_EQ(masks, std::vector<int>(std::begin(kPhrase), std::end(kPhrase)));
  // About 8 buffers (128 ms at 16 kHz) between the changes.
  for (size_t i = 1; i < s->snapshots.size(); i++) {
    EXPECT_NEAR(s->snapshots[i].delta, 8 * 256.0, 2 * 256.0);
  }
}

TEST_F(FluvaneRecordingFlowTest, ARecordedPhraseReachesTheServiceWithItsStates) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  recordPhrase();
  ASSERT_TRUE(waitFor([&] { return !model.snippets().empty(); }));
  std::vector<stub::StoredSnippet> stored = model.snippets();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].latitude, "46.200000");
  expectPhrase(stored[0].packet);
  EXPECT_EQ(model.refusedDigests(), 0);
  // Kept as well, and nothing waits.
  EXPECT_TRUE(FluvaneRecordings::outbox().empty());
  EXPECT_FALSE(std::filesystem::is_empty(FluvaneRecordings::recordingsDir()));

  // The same packet plays back through the bridge to a listener.
  auto listener = std::make_shared<Listener>();
  std::vector<std::uint8_t> bytes(stored[0].packet.begin(), stored[0].packet.end());
  bridge->playTune(bytes, listener);
  for (int i = 0; i < 200 && listener->finished == 0; i++) pump(4);
  EXPECT_EQ(listener->finished, 1);
  EXPECT_EQ(listener->notes.size(), 4u);
}

TEST_F(FluvaneRecordingFlowTest, OfflineTheRecordingIsSavedAndWaits) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  recordPhrase();
  ASSERT_TRUE(waitFor([] { return FluvaneRecordings::outbox().size() == 1; }));
  std::string path =
      (std::filesystem::path(FluvaneRecordings::outboxDir()) / FluvaneRecordings::outbox()[0])
          .string();
  std::optional<std::string> packet = platform::Paths::readFile(path);
  ASSERT_TRUE(packet);
  expectPhrase(*packet);
  EXPECT_FALSE(std::filesystem::is_empty(FluvaneRecordings::recordingsDir()));
}

TEST_F(FluvaneRecordingFlowTest, ThePolicyRecordsAutomatically) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  // Every second, at least 0 and at most 1 s long, any key and mode.
  bridge->setFluvaneRecordingConfiguration({1, 0, 1, -1, -1, 300});
  finger(15 | 16);
  pump(63);  // about one second: the first recording starts with the breath
  finger(7 | 16);
  pump(63);
  finger(0);
  pump(4);
  ASSERT_TRUE(waitFor([&] { return !model.snippets().empty(); }));
  std::optional<FluvaneSnippet> s = snippetFromPacket(model.snippets()[0].packet);
  ASSERT_TRUE(s);
  EXPECT_EQ(model.snippets()[0].mode, "0");  // automatic
  EXPECT_NEAR(s->duration, 16000.0, 64.0);
  // Without upload enabled nothing more is recorded.
  bridge->setEnableSnippetUpload(false);
  size_t before = model.snippets().size();
  finger(15 | 16);
  pump(190);
  finger(0);
  pump(4);
  EXPECT_LE(model.snippets().size(), before + 1);  // one may have been under way
}

TEST_F(FluvaneRecordingFlowTest, AMalformedTuneEndsAtOnce) {
  auto listener = std::make_shared<Listener>();
  bridge->playTune(std::vector<std::uint8_t>(23, 1), listener);
  ASSERT_TRUE(waitFor([&] { return listener->finished == 1; }, 5.0));
  EXPECT_TRUE(listener->notes.empty());
}

}  // namespace
