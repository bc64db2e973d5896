// The recorder and player in process: packets refused before they play, the
// clamp of each field, the queue's limit, skipping, the snapshot limit, and
// the threads around it (the audio thread recording while the upload thread
// drains; skip from another thread; two writers of the playback queue).
#include "recorder/FluvaneVCR.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::vector<int> g_tunes;
std::mutex g_tunesMutex;
void recordTune(int pitch) {
  std::lock_guard<std::mutex> lock(g_tunesMutex);
  g_tunes.push_back(pitch);
}

class FluvaneVCRTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FluvaneVCR_setHost({});
    FluvaneVCR_setTuneCallback(recordTune);
    std::lock_guard<std::mutex> lock(g_tunesMutex);
    g_tunes.clear();
  }
  void TearDown() override {
    FluvaneVCR_setTuneCallback(nullptr);
    FluvaneVCR_setHost({});
  }
  std::vector<int> tunes() {
    std::lock_guard<std::mutex> lock(g_tunesMutex);
    return g_tunes;
  }
};

std::unique_ptr<FluvaneSnippet> snippetWithPacket(std::string packet) {
  auto s = std::make_unique<FluvaneSnippet>();
  s->packet = std::move(packet);
  return s;
}

std::string packetOf(uint32_t header, size_t entries) {
  FluvaneSnippet s;
  s.header = header;
  s.snapshots.assign(entries, {1.0f, 0x11223344u});
  prepare(s);
  return s.packet;
}

TEST_F(FluvaneVCRTest, HeaderAndVersionDecideBeforePlaying) {
  struct Case {
    uint32_t header;
    int played;
  };
  // Version is bits 8-15; the lowest byte plays no part.
  const Case cases[] = {{0xFEED0101u, 1}, {0xFEED01FFu, 1}, {0xFEED0001u, 1},
                        {0xFEED0201u, 0}, {0xFEEDFF01u, 0}, {0xFEEE0101u, 0},
                        {0x0101EDFEu, 0}};
  for (const Case& c : cases) {
    FluvaneVCR vcr;
    std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(packetOf(c.header, 2));
    ASSERT_TRUE(vcr.enqueue(s));
    size_t before = tunes().size();
    EXPECT_EQ(vcr.playNext(), c.played) << std::hex << c.header;
    EXPECT_EQ(vcr.more(), c.played == 1);
    // A refused packet ends the tune at once.
    EXPECT_EQ(tunes().size() - before, c.played ? 0u : 1u);
    if (!c.played) {
      EXPECT_EQ(tunes().back(), -1);
    }
  }
}

TEST_F(FluvaneVCRTest, MalformedQueuedPacketsNeverRead) {
  for (size_t length : {0u, 15u, 16u, 23u, 28u}) {
    FluvaneVCR vcr;
    std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(std::string(length, '\xED'));
    ASSERT_TRUE(vcr.enqueue(s));
    EXPECT_EQ(vcr.playNext(), 0) << length;
    EXPECT_EQ(vcr.getDelta(), -1.0);
    EXPECT_EQ(vcr.getRoot(), 0);
  }
}

TEST_F(FluvaneVCRTest, PackClampsEachField) {
  struct Case {
    int state;
    double x, y, breath;
    uint32_t packed;
  };
  const Case cases[] = {
      {5, 1.0, 0.5, 0.25, 5u | 32u << 8 | 12u << 16 | 64u << 24},
      {5, -1.0, -0.5, 2.5, 5u | 255u << 8},
      {300, 25.0, 2.0, -3.0, 255u | 255u << 16 | 255u << 24},
      {-1, 0.0, 0.0, 0.0, 0u},
      {15, 19.9, 1.99, 1.99, 15u | 254u << 8 | 254u << 16 | 254u << 24},
      {15, 1e300, -1e300, 0.0 / 0.0, 15u | 255u << 16},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FluvaneVCR::pack(c.state, c.x, c.y, c.breath), c.packed) << c.state;
  }
}

TEST_F(FluvaneVCRTest, StartTimeKeepsItsPrecisionPastTheInt32Range) {
  // 40 hours at 16 kHz is beyond 2^31 samples.
  const double start = 40.0 * 3600.0 * 16000.0 + 0.5;
  FluvaneVCR vcr;
  vcr.record(60, 0, start);
  vcr.snapshot(start, 1, 0, 0, 0);
  vcr.stop(start + 1600.0, false);
  std::unique_ptr<FluvaneSnippet> s = vcr.dequeue();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->duration, 1600.0f);
}

TEST_F(FluvaneVCRTest, FullQueuesRefuse) {
  FluvaneVCR vcr;
  for (size_t i = 0; i < FluvaneVCR::kQueueSlots; i++) {
    std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(packetOf(kSnippetHeader, 1));
    s->root = static_cast<uint32_t>(i);
    ASSERT_TRUE(vcr.enqueue(s)) << i;
  }
  std::unique_ptr<FluvaneSnippet> extra = snippetWithPacket(packetOf(kSnippetHeader, 1));
  EXPECT_FALSE(vcr.enqueue(extra));
  ASSERT_TRUE(extra);  // left with the caller
  // Nothing was overwritten: the oldest is still first.
  EXPECT_EQ(vcr.dequeue()->root, 0u);
  EXPECT_TRUE(vcr.enqueue(extra));

  // A full record queue hands the recording to the unsent hook.
  std::vector<std::unique_ptr<FluvaneSnippet>> unsent;
  FluvaneVCRHost host;
  host.unsent = [&](std::unique_ptr<FluvaneSnippet> s) { unsent.push_back(std::move(s)); };
  FluvaneVCR_setHost(host);
  vcr.record(61, 0, 0.0);
  vcr.snapshot(0.0, 3, 0, 0, 0);
  vcr.stop(10.0, false);
  ASSERT_EQ(unsent.size(), 1u);
  EXPECT_EQ(unsent[0]->root, 61u);
}

TEST_F(FluvaneVCRTest, RecordingStopsAtTheSnapshotLimit) {
  int reached = 0;
  FluvaneVCRHost host;
  host.maxRecordingReached = [&] { reached++; };
  FluvaneVCR_setHost(host);
  FluvaneVCR vcr;
  vcr.record(60, 0, 0.0);
  for (size_t i = 0; i < kMaxSnapshots + 10; i++) {
    vcr.snapshot(static_cast<double>(i), static_cast<int>(i % 2), 0, 0, 0);
  }
  EXPECT_FALSE(vcr.recording());
  EXPECT_EQ(reached, 1);
  std::unique_ptr<FluvaneSnippet> s = vcr.dequeue();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->snapshots.size(), kMaxSnapshots);
  EXPECT_FALSE(vcr.dequeue());
  ASSERT_TRUE(prepare(*s));
  EXPECT_EQ(s->packet.size(), 16 + 8 * kMaxSnapshots);
}

TEST_F(FluvaneVCRTest, SkipIsHonouredByThePlayingSide) {
  FluvaneVCR vcr;
  std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(packetOf(kSnippetHeader, 5));
  ASSERT_TRUE(vcr.enqueue(s));
  ASSERT_EQ(vcr.playNext(), 1);
  vcr.next();
  EXPECT_TRUE(vcr.more());
  vcr.skip();
  EXPECT_FALSE(vcr.more());
  EXPECT_TRUE(vcr.skipped());
  EXPECT_EQ(vcr.getDelta(), -1.0);
  // A skip before a snippet starts does not carry over to it.
  vcr.skip();
  std::unique_ptr<FluvaneSnippet> t = snippetWithPacket(packetOf(kSnippetHeader, 2));
  ASSERT_TRUE(vcr.enqueue(t));
  ASSERT_EQ(vcr.playNext(), 1);
  EXPECT_TRUE(vcr.more());
  EXPECT_FALSE(vcr.skipped());
}

TEST_F(FluvaneVCRTest, DownloadsChecksLengthAndCallsBackOnRefusal) {
  // No playback VCR: nothing happens at all.
  FluvaneVCR_shutdown();
  downloadSnippet(packetOf(kSnippetHeader, 1), recordTune);
  EXPECT_TRUE(tunes().empty());

  auto player = std::make_shared<FluvaneVCR>();
  ASSERT_TRUE(FluvaneVCR_usePlayback(player));
  EXPECT_FALSE(FluvaneVCR_usePlayback(std::make_shared<FluvaneVCR>()));
  EXPECT_EQ(FluvaneVCR_playback(), player);
  for (size_t length : {23u, 28u, 16u}) {
    downloadSnippet(std::string(length, '\x01'), recordTune);
    ASSERT_EQ(tunes().size(), 1u) << length;
    EXPECT_EQ(tunes().back(), -1);
    g_tunes.clear();
    EXPECT_FALSE(player->dequeue());
  }
  downloadSnippet(packetOf(kSnippetHeader, 1), recordTune);
  EXPECT_TRUE(tunes().empty());
  EXPECT_EQ(player->playNext(), 1);
  EXPECT_EQ(player->getState(), 0x44);
  // The queued copy owns its bytes: onNote reaches the stored callback.
  EXPECT_EQ(FluvaneVCR_tuneCallback(), &recordTune);
  FluvaneVCR_shutdown();
  EXPECT_FALSE(FluvaneVCR_playback());
}

// ---------------------------------------------------------------------------
// Threads (ThreadSanitizer group)

TEST_F(FluvaneVCRTest, AudioThreadRecordsWhileTheUploadThreadDrains) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<uint32_t> roots;
  FluvaneVCRHost host;
  host.recorded = [&](std::unique_ptr<FluvaneSnippet> s) {
    EXPECT_EQ(s->packet.size(), 16 + 8 * s->snapshots.size());
    std::lock_guard<std::mutex> lock(mutex);
    roots.push_back(s->root);
    arrived.notify_all();
  };
  FluvaneVCR_setHost(host);
  auto vcr = std::make_shared<FluvaneVCR>();
  vcr->startUploadThread();
  const int kRecordings = 200;
  std::thread audio([&] {
    double now = 0.0;
    for (int r = 0; r < kRecordings; r++) {
      vcr->record(r % 128, 0, now);
      for (int i = 0; i < 20; i++) {
        vcr->snapshot(now, i % 3, 0.1 * i, 0.2, 0.5);
        now += 16.0;
      }
      vcr->stop(now, false);
    }
  });
  audio.join();
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return roots.size() == kRecordings; }));
    for (int r = 0; r < kRecordings; r++) EXPECT_EQ(roots[r], static_cast<uint32_t>(r % 128));
  }
  vcr->stopUploadThread();
}

TEST_F(FluvaneVCRTest, StoppingTheUploadThreadHandsOverWhatIsQueued) {
  std::atomic<int> unsent{0};
  FluvaneVCRHost host;
  std::atomic<bool> block{true};
  std::atomic<int> aborted{0};
  // The consumer stays busy until aborted, so the rest stays queued.
  host.recorded = [&](std::unique_ptr<FluvaneSnippet>) {
    while (block) std::this_thread::yield();
  };
  host.abortRecorded = [&] {
    aborted++;
    block = false;
  };
  host.unsent = [&](std::unique_ptr<FluvaneSnippet> s) {
    EXPECT_FALSE(s->packet.empty());
    unsent++;
  };
  FluvaneVCR_setHost(host);
  FluvaneVCR vcr;
  vcr.startUploadThread();
  for (int r = 0; r < 5; r++) {
    vcr.record(60, 0, 0.0);
    vcr.snapshot(0.0, 1, 0, 0, 0);
    vcr.stop(1.0, false);
  }
  vcr.stopUploadThread();
  EXPECT_EQ(aborted, 1);
  // One was being handed on; at most that one is not in the outbox.
  EXPECT_GE(unsent, 4);
  EXPECT_LE(unsent, 5);
}

// A recording the engine left running when it stopped (the program quit)
// is ended as a stop at the last time the script called snapshot, and goes
// to the unsent hook like one that was queued.
TEST_F(FluvaneVCRTest, ARecordingLeftRunningEndsWithTheUploadThread) {
  std::vector<std::unique_ptr<FluvaneSnippet>> unsent;
  FluvaneVCRHost host;
  host.unsent = [&](std::unique_ptr<FluvaneSnippet> s) { unsent.push_back(std::move(s)); };
  FluvaneVCR_setHost(host);
  {
    FluvaneVCR vcr;
    vcr.startUploadThread();
    vcr.record(62, 3, 1000.0);
    vcr.snapshot(1000.0, 15, 0, 0, 0.5);
    vcr.snapshot(1800.0, 7, 0, 0, 0.5);
    vcr.snapshot(4200.0, 7, 0, 0, 0.5);  // unchanged: not stored, but seen
    vcr.stopUploadThread();
    EXPECT_FALSE(vcr.recording());
  }
  ASSERT_EQ(unsent.size(), 1u);
  const FluvaneSnippet& s = *unsent[0];
  EXPECT_EQ(s.root, 62u);
  EXPECT_EQ(s.mode, 3u);
  EXPECT_FLOAT_EQ(s.duration, 3200.0f);
  ASSERT_EQ(s.snapshots.size(), 2u);
  EXPECT_FLOAT_EQ(s.snapshots[1].delta, 800.0f);
  EXPECT_EQ(s.packet.size(), 16u + 2 * 8u);
  // A VCR that records nothing hands nothing on.
  unsent.clear();
  FluvaneVCR idle;
  idle.startUploadThread();
  idle.stopUploadThread();
  EXPECT_TRUE(unsent.empty());
}

TEST_F(FluvaneVCRTest, SkipDuringPlaybackFromAnotherThread) {
  FluvaneVCR vcr;
  for (int round = 0; round < 50; round++) {
    std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(packetOf(kSnippetHeader, 1000));
    ASSERT_TRUE(vcr.enqueue(s));
    ASSERT_EQ(vcr.playNext(), 1);
    std::thread main([&] { vcr.skip(); });
    size_t steps = 0;
    while (vcr.more()) {
      EXPECT_GE(vcr.getDelta(), 0.0);
      vcr.next();
      steps++;
    }
    main.join();
    EXPECT_LE(steps, 1000u);
  }
}

TEST_F(FluvaneVCRTest, TwoWritersFeedThePlaybackQueue) {
  FluvaneVCR vcr;
  const int kEach = 400;
  std::atomic<int> refused{0};
  auto writer = [&](uint32_t root) {
    for (int i = 0; i < kEach; i++) {
      std::unique_ptr<FluvaneSnippet> s = snippetWithPacket(packetOf(kSnippetHeader, 1));
      s->root = root;
      while (!vcr.enqueue(s)) {
        refused++;
        std::this_thread::yield();
      }
    }
  };
  std::thread globe(writer, 1u);
  std::thread main(writer, 2u);
  int played[3] = {0, 0, 0};
  int total = 0;
  while (total < 2 * kEach) {
    if (std::unique_ptr<FluvaneSnippet> s = vcr.dequeue()) {
      ASSERT_TRUE(s->root == 1 || s->root == 2);
      played[s->root]++;
      total++;
    } else {
      std::this_thread::yield();
    }
  }
  globe.join();
  main.join();
  EXPECT_EQ(played[1], kEach);
  EXPECT_EQ(played[2], kEach);
}

}  // namespace
