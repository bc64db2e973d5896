// The instrument's web calls against the loopback stand-in of the service,
// which models the six endpoints and checks every digest itself.
#include "recorder/FluvaneWebCalls.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fluvane_service.h"
#include "vxu/VXSecrets.h"
#include "vxu/vx_service_support.h"

namespace {

std::string packetOf(size_t entries, uint32_t root = 60) {
  FluvaneSnippet s;
  s.root = root;
  s.duration = 800.0f;
  for (size_t i = 0; i < entries; i++) s.snapshots.push_back({100.0f * i, static_cast<uint32_t>(1 + i)});
  prepare(s);
  return s.packet;
}

class FluvaneWebCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SnippetUploadHelper::setLocationSource([this] { return fix_; });
    SnippetUploadHelper::setPlayerNameSource([this] { return name_; });
    SnippetUploadHelper::setUploadCounter([this] { counted_++; });
  }
  void TearDown() override {
    SnippetUploadHelper::setLocationSource(nullptr);
    SnippetUploadHelper::setPlayerNameSource(nullptr);
    SnippetUploadHelper::setUploadCounter(nullptr);
  }
  stub::Request last() const { return service_.stub.requests().back(); }

  ConfiguredService service_;
  stub::FluvaneService model_{service_.stub, SHA_HASH_SECRET};
  std::optional<platform::LocationFix> fix_;
  std::string name_ = "Ann";
  int counted_ = 0;
};

// ---------------------------------------------------------------------------
// Policy

TEST_F(FluvaneWebCallsTest, PolicyOfSixWholeNumbersSetsEveryField) {
  model_.setPolicy("60:4:20:62:3:120\n");
  VXFluvanePref pref;
  EXPECT_EQ(getFluvanePreference(&pref), 0);
  EXPECT_EQ(pref, (VXFluvanePref{60, 4, 20, 62, 3, 120}));
  EXPECT_EQ(last().path, "/fluvane/getpreference1.2/");
  EXPECT_EQ(last().body, "device=dev-1");
}

TEST_F(FluvaneWebCallsTest, PolicyRepliesThatChangeNothing) {
  const VXFluvanePref before{10, 2, 12, 1, 1, 99};
  struct Case {
    const char* reply;
    int result;
  };
  const Case cases[] = {
      {"1:2:3", 0},                         // fewer than six parts
      {"", 0},
      {"0:8:30:-1:-1:300", kPolicyRefused},   // frequency below 1
      {"300:8:0:-1:-1:300", kPolicyRefused},  // maximum below 1
      {"300:8:30:-1:-1:0", kPolicyRefused},   // manual time below 1
      {"300:31:30:-1:-1:300", kPolicyRefused},  // minimum above maximum
      {"300:-1:30:-1:-1:300", kPolicyRefused},  // minimum negative
      {"300:8:30:128:-1:300", kPolicyRefused},  // root
      {"300:8:30:-2:-1:300", kPolicyRefused},
      {"300:8:30:-1:8:300", kPolicyRefused},  // mode
      {"300:8:30:-1:-2:300", kPolicyRefused},
      {"1.5:8:30:-1:-1:300", kPolicyRefused},  // not whole
      {"nan:8:30:-1:-1:300", kPolicyRefused},
      {"99999999999:8:30:-1:-1:300", kPolicyRefused},
      {"300:8:30:-1:-1:", kPolicyRefused},
      {"300:8x:30:-1:-1:300", kPolicyRefused},
  };
  for (const Case& c : cases) {
    service_.stub.on("/fluvane/getpreference1.2/", stub::Reply::text(c.reply));
    VXFluvanePref pref = before;
    EXPECT_EQ(getFluvanePreference(&pref), c.result) << c.reply;
    EXPECT_EQ(pref, before) << c.reply;
  }
  // Parts beyond the sixth are ignored.
  service_.stub.on("/fluvane/getpreference1.2/", stub::Reply::text("300:8:30:-1:-1:300:7:x"));
  VXFluvanePref pref = before;
  EXPECT_EQ(getFluvanePreference(&pref), 0);
  EXPECT_EQ(pref, VXFluvanePref{});
}

TEST_F(FluvaneWebCallsTest, PolicyFailures) {
  service_.stub.on("/fluvane/getpreference1.2/", stub::Reply::text("300:8:30:-1:-1:300", 404));
  VXFluvanePref pref{1, 0, 1, 0, 0, 1};
  EXPECT_EQ(getFluvanePreference(&pref), kPolicyFailed);
  stub::Reply drop;
  drop.drop = true;
  service_.stub.on("/fluvane/getpreference1.2/", drop);
  EXPECT_EQ(getFluvanePreference(&pref), kPolicyFailed);
  EXPECT_EQ(pref, (VXFluvanePref{1, 0, 1, 0, 0, 1}));
}

// ---------------------------------------------------------------------------
// Snippet offers

TEST_F(FluvaneWebCallsTest, SnippetOfferIsReadAndItsIdTruncated) {
  std::string packet = packetOf(3);
  service_.stub.on("/fluvane/getsnippet/",
                   stub::Reply::text("17.9:48.5:-2.25:A name:" + stub::base64Of(packet) + "\n"));
  std::unique_ptr<FluvaneSnippetInfo> info = getFluvaneSnippet(2, 48.5, 2.25, 100.0);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->snippetId, 17);
  EXPECT_EQ(info->latitude, 48.5);
  EXPECT_EQ(info->longitude, -2.25);
  EXPECT_EQ(info->name, "A name");
  EXPECT_EQ(info->snippetData, packet);
  EXPECT_EQ(last().body, "device=dev-1&mode=2&lat=48.500000&long=2.250000&radius=100.000000");

  service_.stub.on("/fluvane/getsnippet/", stub::Reply::text("-17.9:0:0:n:" +
                                                             stub::base64Of(packet)));
  info = getFluvaneSnippet(0, 0, 0, 0);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->snippetId, -17);
}

TEST_F(FluvaneWebCallsTest, HostileSnippetOffersAreRefused) {
  const std::string b64 = stub::base64Of(packetOf(1));
  const std::string cases[] = {
      "1:2:3:name:" + b64 + ":extra",  // six fields
      "1:2:3:" + b64,                  // four
      "nan:1:1:n:" + b64,
      "inf:1:1:n:" + b64,
      "1e20:1:1:n:" + b64,
      "2147483648:1:1:n:" + b64,
      "x:1:1:n:" + b64,
      "1:nan:1:n:" + b64,
      "1:91:1:n:" + b64,
      "1:1:-180.5:n:" + b64,
      "1:1:1e400:n:" + b64,
      "1:1:1:n:" + b64.substr(0, b64.size() - 1) + "*",
      "1:1:1:n:" + b64 + "A",
      "1:1:1:n:AB=A",
  };
  for (const std::string& reply : cases) {
    service_.stub.on("/fluvane/getsnippet/", stub::Reply::text(reply));
    EXPECT_FALSE(getFluvaneSnippet(0, 0, 0, 0)) << reply;
  }
  service_.stub.on("/fluvane/getsnippet/", stub::Reply::text("1:1:1:n:" + b64, 500));
  EXPECT_FALSE(getFluvaneSnippet(0, 0, 0, 0));
}

TEST_F(FluvaneWebCallsTest, ModelledServiceHandsBackWhatWasUploaded) {
  // Nothing stored: no offer.
  EXPECT_FALSE(getFluvaneSnippet(0, 0, 0, 0));
  int id = model_.seed("10.5", "20.25", "Seed", packetOf(4, 64));
  std::unique_ptr<FluvaneSnippetInfo> info = getFluvaneSnippet(0, 0, 0, 0);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->snippetId, id);
  EXPECT_EQ(info->snippetData, packetOf(4, 64));
}

// ---------------------------------------------------------------------------
// Light map

TEST_F(FluvaneWebCallsTest, LightMapPaletteAndPoints) {
  service_.stub.on("/fluvane/fluvanemapcolor/",
                   stub::Reply::text("42\n"
                                     "10|20|30|40:50|60|70|80:1|2|3\n"
                                     "1.5:2.5:7:1\n"
                                     "3.5:4.5:8:7\n"
                                     "5:6:9\n"
                                     "7:8:10:2\n"));
  int count = 100;
  int value = 0;
  std::vector<FluvaneLightPoint> points = getFluvaneMap(&count, &value);
  EXPECT_EQ(last().body, "count=100&device=dev-1");
  EXPECT_EQ(value, 42);
  ASSERT_EQ(count, 3);  // one less than the four point lines
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].latitude, 1.5);
  EXPECT_EQ(points[0].value, 7);
  EXPECT_EQ(points[0].colorIndex, 1);
  EXPECT_EQ(points[0].red, 50);
  EXPECT_EQ(points[0].alpha, 80);
  // Index 7 is outside the three entries: entry 0.
  EXPECT_EQ(points[1].colorIndex, 0);
  EXPECT_EQ(points[1].red, 10);
  EXPECT_EQ(points[1].alpha, 40);
  // Entry 2 has three parts: all zero.
  EXPECT_EQ(points[2].colorIndex, 2);
  EXPECT_EQ(points[2].red, 0);
  EXPECT_EQ(points[2].alpha, 0);
}

TEST_F(FluvaneWebCallsTest, HostileLightMapsGiveNoPoints) {
  const char* const cases[] = {"", "5", "5\n", "5\n\n1:2:3:0", "5\n\n\n"};
  for (const char* reply : cases) {
    service_.stub.on("/fluvane/fluvanemapcolor/", stub::Reply::text(reply));
    int count = 10;
    int value = -1;
    EXPECT_TRUE(getFluvaneMap(&count, &value).empty()) << reply;
    EXPECT_EQ(count, 0) << reply;
  }
  // Points that are not numbers are skipped; a negative index takes entry 0.
  service_.stub.on("/fluvane/fluvanemapcolor/",
                   stub::Reply::text("1\n9|9|9|9\nnan:1:1:0\n1:inf:1:0\nx:1:1:0\n1:1:1:-1\n"));
  int count = 10;
  int value = 0;
  std::vector<FluvaneLightPoint> points = getFluvaneMap(&count, &value);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(points[0].colorIndex, 0);
  EXPECT_EQ(points[0].red, 9);
  service_.stub.on("/fluvane/fluvanemapcolor/", stub::Reply::text("1\n1|1|1|1\n1:1:1:0", 503));
  count = 10;
  EXPECT_TRUE(getFluvaneMap(&count, &value).empty());
  EXPECT_EQ(count, 0);
}

// ---------------------------------------------------------------------------
// Snippet upload

TEST_F(FluvaneWebCallsTest, NameWithFormCharactersArrivesWholeAndSigned) {
  name_ = "a&b=c";
  fix_ = platform::LocationFix{48.8566, 2.3522, 10.0, 0.0};
  FluvaneSnippet s = *snippetFromPacket(packetOf(3));
  SnippetUploadHelper helper;
  ASSERT_TRUE(helper.prepareSnippetUpload(s, true, false));
  EXPECT_TRUE(helper.uploadNow());
  EXPECT_EQ(model_.refusedDigests(), 0);
  std::vector<stub::StoredSnippet> stored = model_.snippets();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].name, "a&b=c");
  EXPECT_EQ(stored[0].packet, s.packet);
  EXPECT_EQ(stored[0].latitude, "48.856600");
  EXPECT_EQ(stored[0].longitude, "2.352200");
  EXPECT_EQ(stored[0].mode, "0");
  EXPECT_EQ(stored[0].device, "dev-1");
  EXPECT_EQ(counted_, 1);
  stub::Form form = stub::parseForm(last().body);
  EXPECT_EQ(form.size(), 7u);
  // The reply's subject and body are kept for the mail.
  EXPECT_EQ(helper.getServerAnswer().value_or("").substr(0, 14), "Your melody #1");
}

TEST_F(FluvaneWebCallsTest, AnonymousManualUploadWithoutAFix) {
  name_ = "";
  FluvaneSnippet s = *snippetFromPacket(packetOf(1));
  SnippetUploadHelper helper;
  ASSERT_TRUE(helper.prepareSnippetUpload(s, false, true));
  EXPECT_TRUE(helper.uploadNow());
  std::vector<stub::StoredSnippet> stored = model_.snippets();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].name, "(Anonymous)");
  EXPECT_EQ(stored[0].mode, "1");
  EXPECT_EQ(stored[0].latitude, "0.000000");
  EXPECT_EQ(stored[0].longitude, "0.000000");
}

TEST_F(FluvaneWebCallsTest, AutomaticUploadWithoutAFixIsNotPrepared) {
  FluvaneSnippet s = *snippetFromPacket(packetOf(1));
  SnippetUploadHelper helper;
  EXPECT_FALSE(helper.prepareSnippetUpload(s, true, false));
  EXPECT_FALSE(helper.postURL());
  EXPECT_FALSE(helper.postData());
  EXPECT_FALSE(helper.uploadNow());
  EXPECT_EQ(service_.stub.requestCount(), 0u);
  EXPECT_EQ(counted_, 0);
}

TEST_F(FluvaneWebCallsTest, OnlyAcceptedUploadsCount) {
  FluvaneSnippet s = *snippetFromPacket(packetOf(1));
  for (int status : {500, 404, 403}) {
    service_.stub.on("/fluvane/uploadsnippet/", stub::Reply::text("no", status));
    SnippetUploadHelper helper;
    ASSERT_TRUE(helper.prepareSnippetUpload(s, false, true));
    EXPECT_FALSE(helper.uploadNow());
  }
  EXPECT_EQ(counted_, 0);
  // A digest the service does not accept is refused by the model itself.
  service_.stub.clear("/fluvane/uploadsnippet/");
  SnippetUploadHelper helper;
  ASSERT_TRUE(helper.prepareSnippetUpload(s, false, true));
  std::string body = *helper.postData();
  body.replace(body.find("&d=") + 3, 1, body[body.find("&d=") + 3] == 'a' ? "b" : "a");
  helper.setPostData(body);
  EXPECT_FALSE(helper.uploadNow());
  EXPECT_EQ(model_.refusedDigests(), 1);
  EXPECT_EQ(counted_, 0);
}

// ---------------------------------------------------------------------------
// Statistics and votes

TEST_F(FluvaneWebCallsTest, StatisticsAreSignedAndAccepted) {
  FluvaneStatsReport report;
  report.applaunch = 3;
  report.apptime = 125;
  report.model = "Desktop";
  report.sysv = "6.1";
  report.name = "x&y=z";
  report.appv = "1.0";
  report.globeviews = 2;
  report.snippetsListened = 4;
  report.snippetsUploaded = 1;
  report.hardware = 3;
  VXHttpPostResult result = uploadFluvaneStats("dev-1", report);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(model_.refusedDigests(), 0);
  std::vector<stub::Form> stats = model_.stats();
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0]["name"], "x&y=z");
  EXPECT_EQ(stats[0]["snippets_listened"], "4");
  EXPECT_EQ(stats[0]["hardware"], "3");
  EXPECT_EQ(stats[0].size(), 12u);  // ten fields, device and d
}

TEST_F(FluvaneWebCallsTest, VotesCarryIdAndChoice) {
  uploadVote(17, true);
  uploadVote(-3, false);
  std::vector<std::pair<std::string, std::string>> votes = model_.votes();
  ASSERT_EQ(votes.size(), 2u);
  EXPECT_EQ(votes[0], std::make_pair(std::string("17"), std::string("1")));
  EXPECT_EQ(votes[1], std::make_pair(std::string("-3"), std::string("0")));
  EXPECT_EQ(last().body, "sid=-3&vote=0&device=dev-1");
}

TEST(FluvaneWebCallsOffline, EveryCallFailsAtOnceWithoutAService) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  ScopedEnv home("FLUVANE_HOME", ::testing::TempDir().c_str());
  VXFluvanePref pref;
  EXPECT_EQ(getFluvanePreference(&pref), kPolicyFailed);
  EXPECT_FALSE(getFluvaneSnippet(0, 0, 0, 0));
  int count = 5;
  EXPECT_TRUE(getFluvaneMap(&count, nullptr).empty());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(uploadFluvaneStats("d", {}).status, -1);
  FluvaneSnippet s = *snippetFromPacket(packetOf(1));
  SnippetUploadHelper helper;
  EXPECT_FALSE(helper.prepareSnippetUpload(s, false, true));
}

}  // namespace
