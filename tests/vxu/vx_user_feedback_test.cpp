// Feedback and registration mail through a recording opener: the report's
// lines, a megabyte of log cut to fit, "&bcc=" kept inside the body, memory
// past 2 GiB, and no secret or password anywhere in the mail.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/UrlOpener.h"
#include "support/mailto_fields.h"
#include "vx_service_support.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLog.h"
#include "vxu/VXSecrets.h"
#include "vxu/VXUserFeedback.h"
#include "vxu/VXWebCalls.h"

using platform::Paths;

namespace {

using mailto::field;
using mailto::fieldNames;

std::string newestMail() {
  std::string dir = Paths::join(Paths::documents(), "mail");
  std::vector<std::string> names = Paths::listDir(dir);
  return names.empty() ? "" : *Paths::readFile(Paths::join(dir, names.back()));
}

class FeedbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = platform::UrlOpener::install(opener);
    Paths::remove(Paths::join(Paths::documents(), "mail"));
  }
  void TearDown() override { platform::UrlOpener::install(previous); }
  std::shared_ptr<platform::RecordingUrlOpener> opener =
      std::make_shared<platform::RecordingUrlOpener>();
  std::shared_ptr<platform::UrlOpener> previous;
  ScopedEnv device{"FLUVANE_DEVICE_ID", "dev-1"};
  ScopedEnv machine{"FLUVANE_MACHINE", "iPhone1,2"};
};

TEST_F(FeedbackTest, TheReportsLinesInOrder) {
  VXUserFeedback::setGraphicsVersion(1, 5);
  std::string report = VXUserFeedback::feedbackReport(1);
  const char* expectedStarts[] = {"Report type: Crash\n",
                                  "Product: Fluvane\n",
                                  "Build: 1.0 (1.0)\n",
                                  "Device Model: iPhone1,2\n",
                                  "Device System: ",
                                  "OS version: ",
                                  "Device ID: dev-1\n",
                                  "Location Services Enabled: ",
                                  "Location Services Status: ",
                                  "EAGL Version: 1.5\n",
                                  "VExel is reachable: ",
                                  "physical memory: ",
                                  "real memory available: ",
                                  "*** Begin Log ***\n",
                                  "*** End Log ***\n"};
  std::size_t at = 0;
  for (const char* start : expectedStarts) {
    std::size_t found = report.find(start, at);
    ASSERT_NE(found, std::string::npos) << start;
    at = found;
  }
  EXPECT_EQ(VXUserFeedback::feedbackReport(7).find("Report type"), std::string::npos);
  EXPECT_EQ(VXUserFeedback::feedbackReport(0).rfind("Report type: General\n", 0), 0u);
  EXPECT_EQ(VXUserFeedback::feedbackReport(2).rfind("Report type: Freeze\n", 0), 0u);
}

TEST(FeedbackMemory, SixtyFourBitCounts) {
  VXMemoryFacts facts = VXUserFeedback::parseMeminfo(
      "MemTotal:       16303524 kB\nMemFree:          100 kB\nMemAvailable:    3145728 kB\n");
  EXPECT_EQ(facts.physical, 16303524ull * 1024);
  EXPECT_EQ(facts.available, 3221225472ull);  // 3 GiB: past a 32-bit int
  VXMemoryFacts real = VXUserFeedback::memoryFacts();
  EXPECT_GT(real.physical, 0u);
}

TEST_F(FeedbackTest, AMegabyteLogAndAnAmpersandStayInTheBody) {
  VXLog& log = VXLog::sharedVXLog();
  log.log("user typed &bcc=evil@example.com&cc=x into a field");
  for (int i = 0; i < 20000; ++i) log.log("filler line %d of the log to pass a megabyte in all", i);
  // A saved log that cannot be read keeps its begin and end lines.
  std::string saved = log.savedLogDirectory();
  ASSERT_FALSE(saved.empty());
  ASSERT_TRUE(Paths::mkdirs(Paths::join(saved, "saved_unreadable.log")));
  ASSERT_TRUE(Paths::writeAtomic(Paths::join(saved, "saved_2030.log"), "old run\n"));

  ASSERT_TRUE(VXUserFeedback::generateFeedbackEmailWithType(0));
  ASSERT_EQ(opener->urls().size(), 1u);
  const std::string url = opener->urls()[0];
  EXPECT_EQ(url.rfind("mailto:feedback@fluvane.org?", 0), 0u);
  EXPECT_LE(url.size(), platform::UrlOpener::kMaxUrlBytes);
  EXPECT_EQ(fieldNames(url), (std::vector<std::string>{"subject", "body"}));
  EXPECT_EQ(field(url, "subject"), "Fluvane Feedback");
  std::string body = field(url, "body");
  EXPECT_EQ(body.rfind("\n\ndebug information\n--------------------\nReport type: General\n", 0),
            0u);
  EXPECT_NE(body.find("user typed &bcc=evil@example.com&cc=x into a field"), std::string::npos);
  EXPECT_NE(body.find("Full report: " + Paths::join(Paths::documents(), "mail/feedback-")),
            std::string::npos);

  std::string eml = newestMail();
  EXPECT_GT(eml.size(), 1000000u);
  EXPECT_NE(
      eml.find("*** Begin Log (saved_2030.log) ***\r\nold run\r\n*** End Log (saved_2030.log) ***"),
      std::string::npos);
  EXPECT_NE(
      eml.find(
          "*** Begin Log (saved_unreadable.log) ***\r\n*** End Log (saved_unreadable.log) ***"),
      std::string::npos);
  // The saved logs went with the report.
  EXPECT_TRUE(Paths::listDir(saved).empty());
}

TEST_F(FeedbackTest, NoSecretOrPasswordReachesTheMail) {
  ConfiguredService service;
  service.stub.on("/vexel/login/", stub::Reply::text("1"));
  service.stub.on("/fluvane/stats/", stub::Reply::text("1"));
  const std::string password = "correct horse battery";
  ASSERT_EQ(VXLogin("someone", password), 1);
  ASSERT_TRUE(VXHttpPostDictionary(*VXServiceUrl("/fluvane/stats/"), {{"k", "v"}}));
  ASSERT_TRUE(VXUserFeedback::generateFeedbackEmailWithType(0));
  std::string eml = newestMail();
  std::string url = opener->urls().back();
  for (const std::string& secret :
       {std::string(SHA_HASH_SECRET), std::string(VEXEL_SHA_HASH_SECRET), password,
        platform::escapeValue(password)}) {
    EXPECT_EQ(eml.find(secret), std::string::npos) << secret;
    EXPECT_EQ(url.find(secret), std::string::npos) << secret;
  }
}

TEST_F(FeedbackTest, RegistrationCarriesTheDeviceBetweenBraces) {
  ASSERT_TRUE(VXUserFeedback::generateRegisterEmail());
  ASSERT_EQ(opener->urls().size(), 1u);
  const std::string url = opener->urls()[0];
  EXPECT_EQ(url.rfind("mailto:register@fluvane.org?", 0), 0u);
  EXPECT_EQ(field(url, "subject"), "Fluvane Register");
  EXPECT_EQ(field(url, "body"),
            "Press Send to register, you will receive a new message to validate your account.\n\n"
            "Registration Information\n--------------------\nProduct: Fluvane\n{{{dev-1}}}\n\n");
  EXPECT_NE(newestMail().find("{{{dev-1}}}"), std::string::npos);
}

}  // namespace
