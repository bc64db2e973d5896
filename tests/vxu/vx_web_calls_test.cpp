// The framework's web calls: the server-message grammar, rich content,
// information text, sign-in replies and forms, and every call against the
// loopback stand-in (and with no service configured).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Digest.h"
#include "vx_log_capture.h"
#include "vx_service_support.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLog.h"
#include "vxu/VXSecrets.h"
#include "vxu/VXWebCalls.h"

using platform::sha1Hex;

namespace {

TEST(ServerMessageGrammar, FieldsBetweenTheMarkersOrNone) {
  struct Case {
    std::string reply;
    bool valid;
    std::vector<std::string> fields;  // title, body, url, id, ok, cancel
  };
  const Case cases[] = {
      {"###TITLE###Hello###BODY###News###URL###http://x/###ID###7###OK_B###Go###CANCEL_B###No###",
       true,
       {"Hello", "News", "http://x/", "7", "Go", "No"}},
      {"junk before###TITLE######BODY######URL######ID###8###OK_B######CANCEL_B######junk after",
       true,
       {"", "", "", "8", "", ""}},
      // A field may hold three hashes of its own.
      {"###TITLE###a###b###BODY###c###URL###u###ID###9###OK_B###o###CANCEL_B###c###",
       true,
       {"a###b", "c", "u", "9", "o", "c"}},
      {"###TITLE###t###BODY###b###URL###u###OK_B###o###CANCEL_B###c###", false, {}},  // no ID
      {"###TITLE###t###BODY###b###URL###u###ID###1###OK_B###o###CANCEL_B###c",
       false,
       {}},  // no close
      {"###BODY###b###TITLE###t###URL###u###ID###1###OK_B###o###CANCEL_B###c###", false, {}},
      {"###TITLE###t###BODY###b###URL###u###ID###1###CANCEL_B###c###OK_B###o###", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    VXServerMessage m = parseServerMessage(c.reply);
    EXPECT_EQ(m.valid(), c.valid) << c.reply;
    if (!c.valid) {
      EXPECT_FALSE(m.title || m.body || m.url || m.messageID || m.okTitle || m.cancelTitle)
          << c.reply;
      continue;
    }
    EXPECT_EQ(std::vector<std::string>(
                  {*m.title, *m.body, *m.url, *m.messageID, *m.okTitle, *m.cancelTitle}),
              c.fields)
        << c.reply;
  }
}

TEST(SignInReplies, TheLeadingNumberOfA200OrMinusOne) {
  struct Case {
    int status;
    std::optional<std::string> body;
    int result;
  };
  const Case cases[] = {
      {200, "1", 1},          {200, "42 welcome", 42},  {200, "0", 0},           {200, "-3", -3},
      {200, "", -1},          {200, "welcome", -1},     {200, std::nullopt, -1}, {404, "1", -1},
      {-1, std::nullopt, -1}, {200, "99999999999", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseAuthReply(c.status, c.body), c.result) << c.body.value_or("(none)");
}

class WebCallsTest : public ::testing::Test {
 protected:
  ConfiguredService service;
  stub::ServiceStub& stub() { return service.stub; }
  stub::Request last() { return stub().requests().back(); }
};

TEST_F(WebCallsTest, ServerMessageFormAndReply) {
  stub().on(
      "/fluvane/motd/",
      stub::Reply::text("###TITLE###T###BODY###B###URL###U###ID###5###OK_B###O###CANCEL_B###C###"));
  VXServerMessage message = getServerMessage("dev&1", 3, 2);
  EXPECT_EQ(message.messageID, std::optional<std::string>("5"));
  EXPECT_EQ(last().body, "device=dev%261&affiliation=2&appid=3");
  stub().on("/fluvane/motd/", stub::Reply::text("###TITLE###T###BODY###B", 200));
  EXPECT_FALSE(getServerMessage("d", 3, 2).valid());
  stub().on("/fluvane/motd/",
            stub::Reply::text(
                "###TITLE###T###BODY###B###URL###U###ID###5###OK_B###O###CANCEL_B###C###", 500));
  EXPECT_FALSE(getServerMessage("d", 3, 2).valid());
}

TEST_F(WebCallsTest, FilesAndRichContent) {
  stub().on("/fluvane/getFile/", stub::Reply::text(std::string("\x89PNG\0data", 9)));
  EXPECT_EQ(getFile("images/a b.png"), std::optional<std::string>(std::string("\x89PNG\0data", 9)));
  EXPECT_EQ(last().body, "path=images%2Fa%20b.png");

  stub().on("/fluvane/getRichContent/",
            stub::Reply::text("Title\nBody text\nhttp://link/\nimages/rc.png"));
  std::optional<VXRichContent> content = getRichContent("d", 3, "c&1");
  ASSERT_TRUE(content);
  EXPECT_EQ(content->title, "Title");
  EXPECT_EQ(content->text, "Body text");
  EXPECT_EQ(content->link, "http://link/");
  EXPECT_EQ(content->data, std::optional<std::string>(std::string("\x89PNG\0data", 9)));
  std::vector<stub::Request> requests = stub().requests();
  EXPECT_EQ(requests[requests.size() - 2].body, "device=d&appid=3&contentID=c%261");
  EXPECT_EQ(requests.back().body, "path=images%2Frc.png");

  // Exactly three lines: none; a file that cannot be fetched: no data.
  stub().on("/fluvane/getRichContent/", stub::Reply::text("Title\nBody\nhttp://link/"));
  EXPECT_FALSE(getRichContent("d", 3, "c"));
  stub().on("/fluvane/getRichContent/", stub::Reply::text("T\nB\nL\nmissing.png"));
  stub().on("/fluvane/getFile/", stub::Reply::text("", 404));
  content = getRichContent("d", 3, "c");
  ASSERT_TRUE(content);
  EXPECT_FALSE(content->data);
  EXPECT_FALSE(getFile("x"));
  stub().on("/fluvane/getFile/", stub::Reply::text(""));
  EXPECT_FALSE(getFile("x"));  // empty is nothing
}

TEST_F(WebCallsTest, SplashAndInformationText) {
  stub().on("/fluvane/splashscreen/", stub::Reply::text("IMG"));
  EXPECT_EQ(getSplashScreen("d", 3, 2, 1234.5), std::optional<std::string>("IMG"));
  EXPECT_EQ(last().body, "device=d&affiliation=2&appid=3&lasttime=1234.500000");

  struct Case {
    int status;
    std::string body;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {200, "Hello there", "Hello there"}, {200, "", ""}, {404, "Not here", std::nullopt}};
  for (const Case& c : cases) {
    stub().on("/fluvane/infotext/", stub::Reply::text(c.body, c.status));
    EXPECT_EQ(getInfoText("d", 3, 2), c.text) << c.status;
  }
  EXPECT_EQ(last().body, "device=d&affiliation=2&appid=3");
}

TEST_F(WebCallsTest, SignInEscapesSignsAndNeverLogsThePassword) {
  stub().on("/vexel/login/", stub::Reply::text("1"));
  stub().on("/vexel/logout/", stub::Reply::text("0"));
  const std::string password = "pa&ss=w/rd+1";
  int result = 0;
  std::vector<std::string> lines = printed_lines([&] { result = VXLogin("a+b=c", password); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(last().path, "/vexel/login/");
  EXPECT_EQ(last().body, "h=a%2Bb%3Dc&p=pa%26ss%3Dw%2Frd%2B1&device=dev-1&d=" +
                             sha1Hex("a+b=c" + password + VEXEL_SHA_HASH_SECRET + "dev-1"));
  EXPECT_EQ(VXLogout("a+b=c", password), 0);
  EXPECT_EQ(last().path, "/vexel/logout/");

  // A failed post or an answer without a number is never a success.
  stub().on("/vexel/login/", stub::Reply::text("1", 500));
  EXPECT_EQ(VXLogin("u", "p"), -1);
  stub().on("/vexel/login/", stub::Reply::text("denied"));
  EXPECT_EQ(VXLogin("u", "p"), -1);

  stub().on("/vexel/authstate/", stub::Reply::text("signed in as a+b=c"));
  EXPECT_EQ(VXCurrentAuthState(), std::optional<std::string>("signed in as a+b=c"));
  EXPECT_EQ(last().body, "device=dev-1");

  VXLog::sharedVXLog().flushLog();
  for (const std::string& entry : VXLog::sharedVXLog().logEntries()) {
    EXPECT_EQ(entry.find(password), std::string::npos) << entry;
    EXPECT_EQ(entry.find(VEXEL_SHA_HASH_SECRET), std::string::npos) << entry;
  }
}

TEST(WebCallsPlainHttp, APasswordGoesOverPlainHttpOnlyToThisMachine) {
  ScopedEnv url("FLUVANE_SERVICE_URL", "http://service.example.org");
  std::vector<std::string> lines = printed_lines([] { EXPECT_EQ(VXLogin("u", "p"), -1); });
  EXPECT_EQ(lines, std::vector<std::string>{
                       "refusing to send a password over plain http to service.example.org"});
}

TEST(WebCallsUnconfigured, EveryCallFailsAtOnceWithOneLine) {
  ScopedEnv url("FLUVANE_SERVICE_URL", nullptr);
  std::vector<std::string> lines = printed_lines([] {
    EXPECT_FALSE(getServerMessage("d", 1, 1).valid());
    EXPECT_FALSE(getFile("x"));
    EXPECT_FALSE(getRichContent("d", 1, "c"));
    EXPECT_FALSE(getSplashScreen("d", 1, 1, 0));
    EXPECT_FALSE(getInfoText("d", 1, 1));
    EXPECT_EQ(VXLogin("u", "p"), -1);
    EXPECT_EQ(VXLogout("u", "p"), -1);
    EXPECT_FALSE(VXCurrentAuthState());
  });
  EXPECT_EQ(lines, std::vector<std::string>(8, "no web service configured"));
}

}  // namespace
