// Request signing, escaping and the dictionary upload, the service base
// from the configuration, and the upload helper's hooks and abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "vx_log_capture.h"
#include "vx_service_support.h"
#include "vxu/VXHttp.h"
#include "vxu/VXSecrets.h"

using platform::Paths;
using platform::RunLoop;
using platform::sha1Hex;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(VXHttpSigning, TheSignedBodyOfADictionary) {
  const std::string secret = "s3cr3t";
  struct Case {
    VXDictionary dictionary;
    std::string device, body, signed_;
  };
  const Case cases[] = {
      {{{"b", "2"}, {"a", "1"}}, "X", "device=X&a=1&b=2&d=", "Xs3cr3t12"},
      // Upper case sorts first.
      {{{"a", "lower"}, {"B", "upper"}}, "X", "device=X&B=upper&a=lower&d=", "Xs3cr3tupperlower"},
      {{}, "X", "device=X&d=", "Xs3cr3t"},
      // Escaped in the body, signed as they are.
      {{{"name", "a+b=c&d"}, {"k y", "\xc3\xa9"}},
       "dev/1",
       "device=dev%2F1&k%20y=%C3%A9&name=a%2Bb%3Dc%26d&d=",
       "dev/1s3cr3t\xc3\xa9"
       "a+b=c&d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vexelRequestForDevice(c.dictionary, c.device, secret), c.body + sha1Hex(c.signed_));
  }
  VXDictionary two{{"b", "2"}, {"a", "1"}};
  EXPECT_EQ(vexelHashForSharedSecret(two, secret), sha1Hex("s3cr3t12"));
  EXPECT_EQ(vexelRequestWithHash(two, "abc"), "a=1&b=2&d=abc");
  EXPECT_EQ(VXFormField("a b", "x&y=z"), "a%20b=x%26y%3Dz");
  EXPECT_EQ(base64encode("fo"), "Zm8=");
  EXPECT_EQ(base64decode("Zm9vYmE="), std::optional<std::string>("fooba"));
}

TEST(VXServiceBase, FromTheEnvironmentElseTheHomeFileElseNone) {
  std::string conf = Paths::join(Paths::home(), "service.conf");
  Paths::mkdirs(Paths::home());
  {
    ScopedEnv env("FLUVANE_SERVICE_URL", "https://service.example/base//");
    EXPECT_EQ(VXServiceBase(), std::optional<std::string>("https://service.example/base"));
    EXPECT_EQ(VXServiceUrl("/fluvane/motd/"),
              std::optional<std::string>("https://service.example/base/fluvane/motd/"));
  }
  ScopedEnv unset("FLUVANE_SERVICE_URL", nullptr);
  ASSERT_TRUE(Paths::writeAtomic(conf, "  http://127.0.0.1:9  \nsecond line\n"));
  EXPECT_EQ(VXServiceBase(), std::optional<std::string>("http://127.0.0.1:9"));
  ASSERT_TRUE(Paths::writeAtomic(conf, "ftp://127.0.0.1/\n"));
  EXPECT_FALSE(VXServiceBase());
  Paths::remove(conf);
  EXPECT_FALSE(VXServiceBase());
  std::vector<std::string> lines = printed_lines([] { EXPECT_FALSE(VXServiceUrl("/x/")); });
  EXPECT_EQ(lines, std::vector<std::string>{"no web service configured"});
  EXPECT_FALSE(isVexelReachable());
}

TEST(VXHttpPostDictionary, PostsTheSignedFormAndAnswersA200sText) {
  ConfiguredService service;
  service.stub.on("/fluvane/stats/", stub::Reply::text("4711"));
  VXDictionary stats{{"app_launches", "3"}, {"model", "iPhone1,2"}, {"note", "a&b"}};
  std::optional<std::string> answer;
  std::vector<std::string> lines = printed_lines(
      [&] { answer = VXHttpPostDictionary(*VXServiceUrl("/fluvane/stats/"), stats); });
  EXPECT_EQ(answer, std::optional<std::string>("4711"));
  ASSERT_EQ(service.stub.requestCount(), 1u);
  EXPECT_EQ(service.stub.requests()[0].body,
            "device=dev-1&app_launches=3&model=iPhone1%2C2&note=a%26b&d=" +
                sha1Hex(std::string("dev-1") + SHA_HASH_SECRET + "3" + "iPhone1,2" + "a&b"));
  EXPECT_TRUE(contains(lines, "Uploading dictionary"));
  // The body goes to the log (a quiet console leaves it out), not straight
  // to the terminal.
  EXPECT_TRUE(contains(lines, "body data: " + service.stub.requests()[0].body));
  EXPECT_TRUE(contains(lines, "Done uploading dictionary to " + service.stub.baseUrl() +
                                  "/fluvane/stats/, http code: 200"));
  for (const std::string& line : lines) EXPECT_EQ(line.find(SHA_HASH_SECRET), std::string::npos);

  service.stub.on("/fluvane/stats/", stub::Reply::text("no", 500));
  EXPECT_FALSE(VXHttpPostDictionary(*VXServiceUrl("/fluvane/stats/"), stats));
}

TEST(VXHttpPostDictionary, InTheBackgroundToTheProductPath) {
  ConfiguredService service;
  service.stub.on("/fluvane/features/", stub::Reply::text("ok"));
  uploadToRelativeUrlInBackground({{"k", "v"}}, "features");
  ASSERT_TRUE(service.stub.waitForRequests(1));
  EXPECT_EQ(service.stub.requests()[0].path, "/fluvane/features/");
}

struct Progress : VXHttpProgressListener {
  std::vector<float> values;
  void currentHttpProgress(float progress) override { values.push_back(progress); }
};

TEST(VXHttpPostHelper, HooksOnTheMainLoopAndTheAnswerSaved) {
  ConfiguredService service;
  service.stub.on("/fluvane/uploadsnippet/", stub::Reply::text("saved 12"));
  VXHttpPostHelper helper;
  Progress progress;
  helper.setHttpProgressListener(&progress);
  helper.uploadData();  // nothing to do: neither URL nor data
  EXPECT_EQ(service.stub.requestCount(), 0u);
  helper.setPostURL(*VXServiceUrl("/fluvane/uploadsnippet/"));
  helper.setPostData("snippet=abc");
  std::async(std::launch::async, [&] { helper.uploadData(); }).get();
  RunLoop::main().runUntilIdle();
  EXPECT_EQ(progress.values, (std::vector<float>{0.0f, 1.0f}));
  EXPECT_TRUE(helper.wasSuccessful());
  EXPECT_EQ(helper.getServerAnswer(), std::optional<std::string>("saved 12"));
  EXPECT_TRUE(helper.saveDownloadedDataToFile("answer.txt"));
  EXPECT_EQ(Paths::readFile(Paths::join(Paths::documents(), "answer.txt")), "saved 12");
  EXPECT_FALSE(helper.saveDownloadedDataToFile("../escape.txt"));
  EXPECT_FALSE(Paths::exists(Paths::join(Paths::home(), "escape.txt")));
}

TEST(VXHttpPostHelper, AnAbortSkipsTheFinishHook) {
  ConfiguredService service;
  stub::Reply silent;
  silent.hold = true;
  service.stub.on("/fluvane/uploadsnippet/", silent);
  VXHttpPostHelper helper;
  Progress progress;
  helper.setHttpProgressListener(&progress);
  helper.setPostURL(*VXServiceUrl("/fluvane/uploadsnippet/"));
  helper.setPostData("snippet=abc");
  std::vector<std::string> lines = printed_lines([&] {
    auto upload = std::async(std::launch::async, [&] { helper.uploadData(); });
    ASSERT_TRUE(service.stub.waitForRequests(1));
    helper.abort();
    upload.get();
    RunLoop::main().runUntilIdle();
  });
  // Told in the log, which a player's quiet console keeps off the terminal.
  EXPECT_TRUE(contains(lines, "aborting VXHttpPost"));
  EXPECT_EQ(progress.values, std::vector<float>{0.0f});
  EXPECT_FALSE(helper.wasSuccessful());
  EXPECT_FALSE(helper.getServerAnswer());
  service.stub.release();
}

}  // namespace
