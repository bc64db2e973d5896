// The globe against the loopback stand-in of the service: its light map,
// snippets and votes over HTTP, as the instrument's web calls make them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Classes/FlameGlobe.h"
#include "fluvane_service.h"
#include "platform/Reachability.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXSecrets.h"
#include "vxu/vx_service_support.h"

namespace {

// A packet of no snapshots: 16 bytes of header.
const std::string kPacket(16, '\0');

class FlameGlobeService : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::Reachability::setOverride([](const std::string&) { return true; });
    services_ = FlameGlobeServices::standard();
    services_.playTune = [this](const std::string& packet) { played_.push_back(packet); };
    services_.stopTune = [] {};
  }
  void TearDown() override { platform::Reachability::setOverride(previous_); }

  void step(FlameGlobe& globe) {
    globe.update(1.0f);
    while (globe.downloadingInProgress()) std::this_thread::yield();
  }

  ConfiguredService service_;
  stub::FluvaneService model_{service_.stub, SHA_HASH_SECRET};
  platform::Reachability::Override previous_;
  FlameGlobeServices services_;
  std::vector<std::string> played_;
};

}  // namespace

TEST_F(FlameGlobeService, LightsSnippetsAndVotesGoThroughTheService) {
  const int first = model_.seed("48.2", "16.4", "Vienna", kPacket);
  model_.seed("-33.9", "151.2", "Sydney", kPacket);
  FlameGlobe globe(services_, false);
  globe.startZoomOut();
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
  EXPECT_EQ(globe.lightCount(), 2);
  for (int i = 0; i < 100 && !globe.playbackTuneActive(); i++) step(globe);
  ASSERT_TRUE(globe.playbackTuneActive());
  EXPECT_EQ(globe.currentSnippetName(), "Vienna");
  ASSERT_EQ(played_.size(), 1u);
  EXPECT_EQ(played_[0], kPacket);
  globe.tuneLoved();
  globe.tuneSkipped();
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
  const auto votes = model_.votes();
  ASSERT_EQ(votes.size(), 2u);
  EXPECT_EQ(votes[0], std::make_pair(std::to_string(first), std::string("1")));
  EXPECT_EQ(votes[1], std::make_pair(std::to_string(first), std::string("0")));
}

TEST_F(FlameGlobeService, AnUnreachableServiceIsNotAsked) {
  platform::Reachability::setOverride([](const std::string&) { return false; });
  model_.seed("1", "2", "x", kPacket);
  FlameGlobe globe(services_, false);
  globe.startZoomOut();
  for (int i = 0; i < 300; i++) step(globe);
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
  EXPECT_TRUE(service_.stub.requests().empty());
  EXPECT_EQ(globe.currentSnippetName(), FlameGlobe::kUnreachableName);
  EXPECT_EQ(globe.lightCount(), 0);
}
