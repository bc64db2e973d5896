// Keeping recordings and the outbox: the service down, a recording waits;
// the service up, it goes once at the next drain, oldest first; the cap.
// And the recording policy's file.
#include "recorder/FluvaneRecordings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "recorder/FluvaneRecordingConfiguration.h"
#include "recorder/FluvaneWebCalls.h"
#include "fluvane_service.h"
#include "platform/Paths.h"
#include "platform/Plist.h"
#include "vxu/VXSecrets.h"
#include "vxu/vx_service_support.h"
#include "vxu/vxign.h"

namespace {

using platform::Paths;

FluvaneSnippet snippetWithRoot(uint32_t root, bool manual = false) {
  FluvaneSnippet s;
  s.root = root;
  s.manual = manual;
  s.snapshots = {{0.0f, 1}, {160.0f, 2}};
  prepare(s);
  return s;
}

class FluvaneRecordingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(FluvaneRecordings::outboxDir());
    std::filesystem::remove_all(FluvaneRecordings::recordingsDir());
    FluvaneRecordings::allowUploads();
    SnippetUploadHelper::setLocationSource(
        [] { return platform::LocationFix{1.0, 2.0, 10.0, 0.0}; });
  }
  void TearDown() override { SnippetUploadHelper::setLocationSource(nullptr); }
};

TEST_F(FluvaneRecordingsTest, EveryRecordingIsKeptAsItsPacket) {
  FluvaneSnippet s = snippetWithRoot(61);
  std::optional<std::string> a = FluvaneRecordings::keep(s);
  std::optional<std::string> b = FluvaneRecordings::keep(s);
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);  // the same millisecond gets a second name
  EXPECT_EQ(Paths::readFile(*a).value_or(""), s.packet);
  std::string name = std::filesystem::path(*a).filename().string();
  // yyyy-MM-dd-HH-mm-ss-SSS
  ASSERT_EQ(name.size(), 23u) << name;
  for (size_t i : {4u, 7u, 10u, 13u, 16u, 19u}) EXPECT_EQ(name[i], '-') << name;
}

TEST_F(FluvaneRecordingsTest, ServiceDownTheRecordingWaitsThenGoesOnceOldestFirst) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  service.stub.on("/fluvane/uploadsnippet/", stub::Reply::text("down", 503));

  for (uint32_t root : {70u, 71u, 72u}) {
    FluvaneRecordings::handleRecorded(std::make_unique<FluvaneSnippet>(snippetWithRoot(root)));
  }
  EXPECT_EQ(FluvaneRecordings::outbox().size(), 3u);
  EXPECT_EQ(std::filesystem::directory_iterator(FluvaneRecordings::recordingsDir()) !=
                std::filesystem::directory_iterator(),
            true);
  // Still down: a drain sends nothing and keeps everything.
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 0u);
  EXPECT_EQ(FluvaneRecordings::outbox().size(), 3u);

  service.stub.clear("/fluvane/uploadsnippet/");
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 3u);
  EXPECT_TRUE(FluvaneRecordings::outbox().empty());
  std::vector<stub::StoredSnippet> stored = model.snippets();
  ASSERT_EQ(stored.size(), 3u);
  for (size_t i = 0; i < 3; i++) EXPECT_EQ(snippetFromPacket(stored[i].packet)->root, 70 + i);
  // Sent once: another drain sends nothing.
  EXPECT_EQ(FluvaneRecordings::drainOutbox(FluvaneRecordings::uploadSnippet), 0u);
  EXPECT_EQ(model.snippets().size(), 3u);
}

TEST_F(FluvaneRecordingsTest, ASuccessfulUploadDrainsTheOutboxAfterIt) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  FluvaneRecordings::addToOutbox(snippetWithRoot(50, true));
  FluvaneRecordings::handleRecorded(std::make_unique<FluvaneSnippet>(snippetWithRoot(51)));
  std::vector<stub::StoredSnippet> stored = model.snippets();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(snippetFromPacket(stored[0].packet)->root, 51u);
  EXPECT_EQ(snippetFromPacket(stored[1].packet)->root, 50u);
  EXPECT_EQ(stored[1].mode, "1");  // the outbox remembers a manual recording
  EXPECT_TRUE(FluvaneRecordings::outbox().empty());
}

TEST_F(FluvaneRecordingsTest, NoFixNoUploadTheRecordingWaits) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  SnippetUploadHelper::setLocationSource([] { return std::nullopt; });
  FluvaneRecordings::handleRecorded(std::make_unique<FluvaneSnippet>(snippetWithRoot(52)));
  EXPECT_EQ(service.stub.requestCount(), 0u);
  EXPECT_EQ(FluvaneRecordings::outbox().size(), 1u);
}

TEST_F(FluvaneRecordingsTest, OutboxKeepsTheNewest200) {
  for (uint32_t i = 0; i < FluvaneRecordings::kOutboxCap + 5; i++) {
    ASSERT_TRUE(FluvaneRecordings::addToOutbox(snippetWithRoot(i % 100)));
  }
  std::vector<std::string> names = FluvaneRecordings::outbox();
  ASSERT_EQ(names.size(), FluvaneRecordings::kOutboxCap);
  std::vector<uint32_t> roots;
  FluvaneRecordings::drainOutbox([&](const FluvaneSnippet& s) {
    roots.push_back(s.root);
    return true;
  });
  ASSERT_EQ(roots.size(), FluvaneRecordings::kOutboxCap);
  EXPECT_EQ(roots.front(), 5u);  // the five oldest were dropped
  EXPECT_EQ(roots.back(), (FluvaneRecordings::kOutboxCap + 4) % 100);
}

TEST_F(FluvaneRecordingsTest, ABrokenOutboxFileIsSetAside) {
  Paths::mkdirs(FluvaneRecordings::outboxDir());
  Paths::writeAtomic(Paths::join(FluvaneRecordings::outboxDir(), "0000-broken"), "abc");
  FluvaneRecordings::addToOutbox(snippetWithRoot(9));
  std::vector<uint32_t> roots;
  EXPECT_EQ(FluvaneRecordings::drainOutbox([&](const FluvaneSnippet& s) {
              roots.push_back(s.root);
              return true;
            }),
            1u);
  EXPECT_EQ(roots, std::vector<uint32_t>{9});
  EXPECT_TRUE(Paths::exists(Paths::join(FluvaneRecordings::outboxDir(), "0000-broken.bad")));
  EXPECT_TRUE(FluvaneRecordings::outbox().empty());
}

TEST_F(FluvaneRecordingsTest, OfflineEveryRecordingIsSavedAndWaits) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  FluvaneRecordings::handleRecorded(std::make_unique<FluvaneSnippet>(snippetWithRoot(53)));
  EXPECT_EQ(FluvaneRecordings::outbox().size(), 1u);
  EXPECT_TRUE(std::filesystem::directory_iterator(FluvaneRecordings::recordingsDir()) !=
              std::filesystem::directory_iterator());
}

// ---------------------------------------------------------------------------
// The recording policy's file

namespace plist = platform::plist;

class RecordingPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FluvaneRecordingConfiguration::getInstance().reset();
    Paths::remove(FluvaneRecordingConfiguration::path());
    pushed_.clear();
  }
  void TearDown() override { FluvaneRecordingConfiguration::getInstance().reset(); }
  void writeFile(const std::vector<std::pair<std::string, plist::Value>>& entries) {
    plist::Dict dict;
    for (const auto& [key, value] : entries) dict[key] = value;
    Paths::mkdirs(Paths::documents());
    ASSERT_TRUE(plist::writeAtomic(FluvaneRecordingConfiguration::path(),
                                   plist::Value::dict(std::move(dict))));
  }
  FluvaneRecordingConfiguration::Pusher pusher() {
    return [this](const VXFluvanePref& p) { pushed_.push_back(p); };
  }
  std::vector<VXFluvanePref> pushed_;
};

std::vector<std::pair<std::string, plist::Value>> fullFile() {
  return {{"VXRecConfUploadFrequencyKey", plist::Value::integer(60)},
          {"VXRecConfMinlengthKey", plist::Value::integer(4)},
          {"VXRecConfMaxlengthKey", plist::Value::integer(20)},
          {"VXRecConfRootKey", plist::Value::integer(62)},
          {"VXRecConfModeKey", plist::Value::integer(2)},
          {"VXRecConfRecordingMaxLength", plist::Value::integer(90)}};
}

TEST_F(RecordingPolicyTest, AFullFileIsLoadedAndPushed) {
  writeFile(fullFile());
  FluvaneRecordingConfiguration::loadFromDisk(pusher());
  ASSERT_EQ(pushed_.size(), 1u);
  EXPECT_EQ(pushed_[0], (VXFluvanePref{60, 4, 20, 62, 2, 90}));
}

TEST_F(RecordingPolicyTest, WithoutTheManualTimeTheOtherFiveApply) {
  auto entries = fullFile();
  entries.pop_back();
  writeFile(entries);
  FluvaneRecordingConfiguration::loadFromDisk(pusher());
  ASSERT_EQ(pushed_.size(), 1u);
  EXPECT_EQ(pushed_[0], (VXFluvanePref{60, 4, 20, 62, 2, 300}));
}

TEST_F(RecordingPolicyTest, FilesThatChangeNothing) {
  struct Case {
    const char* key;
    std::optional<plist::Value> value;  // none: the key is left out
  };
  const Case cases[] = {{"VXRecConfModeKey", std::nullopt},
                        {"VXRecConfUploadFrequencyKey", std::nullopt},
                        {"VXRecConfModeKey", plist::Value::integer(9)},
                        {"VXRecConfRootKey", plist::Value::integer(200)},
                        {"VXRecConfUploadFrequencyKey", plist::Value::integer(0)},
                        {"VXRecConfMinlengthKey", plist::Value::integer(21)},
                        {"VXRecConfMaxlengthKey", plist::Value::string("30")},
                        {"VXRecConfRecordingMaxLength", plist::Value::real(1.5)},
                        {"VXRecConfRecordingMaxLength", plist::Value::integer(1LL << 40)}};
  for (const Case& c : cases) {
    FluvaneRecordingConfiguration::getInstance().reset();
    pushed_.clear();
    auto entries = fullFile();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->first != c.key) continue;
      if (c.value) {
        it->second = *c.value;
      } else {
        entries.erase(it);
      }
      break;
    }
    writeFile(entries);
    FluvaneRecordingConfiguration::loadFromDisk(pusher());
    EXPECT_TRUE(pushed_.empty()) << c.key;
    EXPECT_EQ(FluvaneRecordingConfiguration::getInstance().policy(), VXFluvanePref{}) << c.key;
  }
}

TEST_F(RecordingPolicyTest, NoFileNoNetworkTheBridgeValuesStay) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  Vexel_Integration::instance().set_int("Fluvane: snippet upload frequency", 5);
  FluvaneRecordingConfiguration::loadFromDisk(nullptr);
  EXPECT_NE(FluvaneRecordingConfiguration::getInstance().downloadRecordConfig(), 0);
  EXPECT_EQ(Vexel_Integration::instance().get_int("Fluvane: snippet upload frequency"), 5);
}

TEST_F(RecordingPolicyTest, ADownloadIsStoredAndPushed) {
  ConfiguredService service;
  stub::FluvaneService model(service.stub, SHA_HASH_SECRET);
  model.setPolicy("120:5:25:-1:4:200");
  FluvaneRecordingConfiguration::loadFromDisk(nullptr);
  EXPECT_EQ(FluvaneRecordingConfiguration::getInstance().downloadRecordConfig(), 0);
  Vexel_Integration& store = Vexel_Integration::instance();
  EXPECT_EQ(store.get_int("Fluvane: snippet upload frequency"), 120);
  EXPECT_EQ(store.get_int("Fluvane: snippet preferred mode"), 4);
  EXPECT_EQ(store.get_int("Fluvane: max manual record time"), 200);
  // Stored: a fresh load reads the same.
  FluvaneRecordingConfiguration::getInstance().reset();
  FluvaneRecordingConfiguration::loadFromDisk(pusher());
  ASSERT_EQ(pushed_.size(), 1u);
  EXPECT_EQ(pushed_[0], (VXFluvanePref{120, 5, 25, -1, 4, 200}));
  // A reply of three fields changes nothing.
  model.setPolicy("1:2:3");
  EXPECT_EQ(FluvaneRecordingConfiguration::getInstance().downloadRecordConfig(), 0);
  EXPECT_EQ(FluvaneRecordingConfiguration::getInstance().policy(),
            (VXFluvanePref{120, 5, 25, -1, 4, 200}));
}

}  // namespace
