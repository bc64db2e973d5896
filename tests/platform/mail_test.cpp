// Opening URLs and composing mail: only web and mail URLs leave, the .eml
// keeps everything privately, subject and body cannot add fields to the
// mailto: URL, and a long body is cut at a line end to fit one argument.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <memory>
#include <string>
#include <vector>

#include "platform/Digest.h"
#include "platform/MailComposer.h"
#include "platform/Paths.h"
#include "platform/UrlOpener.h"
#include "support/mailto_fields.h"

using namespace platform;

namespace {

class MailTest : public ::testing::Test {
 protected:
  void SetUp() override { previous = UrlOpener::install(opener); }
  void TearDown() override { UrlOpener::install(previous); }
  std::shared_ptr<RecordingUrlOpener> opener = std::make_shared<RecordingUrlOpener>();
  std::shared_ptr<UrlOpener> previous;
};

using mailto::fieldNames;
using mailto::unescape;
// The value of a field as sent, still escaped.
const auto field = mailto::rawField;

TEST(UrlOpener, OnlyWebAndMailUrlsOfOneArgumentAreOpened) {
  RecordingUrlOpener opener;
  struct Case {
    std::string url;
    bool opened;
  };
  const Case cases[] = {
      {"http://example.org/", true},
      {"HTTPS://example.org/a?b=c", true},
      {"mailto:a@b.org?subject=x", true},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"-e http://x", false},
      {"https://x/\nmore", false},
      {"mailto:" + std::string(UrlOpener::kMaxUrlBytes - 7, 'a'), true},
      {"mailto:" + std::string(UrlOpener::kMaxUrlBytes - 6, 'a'), false},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(opener.open(c.url, &problem), c.opened) << c.url.substr(0, 40);
    EXPECT_EQ(problem.empty(), c.opened) << c.url.substr(0, 40);
  }
  EXPECT_EQ(opener.urls().size(), 4u);
}

// The program the desktop runs is not left with the quit signals the host
// blocks (it could then not be ended with SIGTERM), nor with the signals
// the process ignores: it starts with them unblocked, at their defaults.
TEST(UrlOpener, TheDesktopProgramStartsWithNoSignalBlocked) {
  const std::string folder = Paths::join(Paths::home(), "opener");
  ASSERT_TRUE(Paths::mkdirs(folder));
  const std::string program = Paths::join(folder, "opener.sh");
  ASSERT_TRUE(Paths::writeAtomic(program,
                                 // bash keeps the mask it is given (dash
                                 // clears it, which would hide the fault).
                                 "#!/bin/bash\n"
                                 "grep -E '^Sig(Blk|Ign)' /proc/$$/status > \"$0.tmp\"\n"
                                 "mv \"$0.tmp\" \"$0.out\"\n",
                                 nullptr, 0755));
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO), 0);
  sigset_t quit, before;
  sigemptyset(&quit);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&quit, signal);
  pthread_sigmask(SIG_BLOCK, &quit, &before);
  void (*pipeBefore)(int) = std::signal(SIGPIPE, SIG_IGN);
  XdgUrlOpener opener(program);
  const bool opened = opener.open("https://example.org/");
  std::signal(SIGPIPE, pipeBefore);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_TRUE(opened);
  pollfd wait{watch, POLLIN, 0};
  while (!Paths::exists(program + ".out") && ::poll(&wait, 1, 20000) > 0) {
    char events[4096];
    if (::read(watch, events, sizeof events) <= 0) break;
  }
  ::close(watch);
  std::optional<std::string> status = Paths::readFile(program + ".out");
  ASSERT_TRUE(status);
  // The masks as the kernel shows them: 16 hexadecimal digits, bit n - 1
  // for signal n (the shell may block SIGCHLD for a moment itself).
  auto mask = [&](const char* name) {
    const std::size_t at = status->find(name);
    return at == std::string::npos ? ~0ull
                                   : std::stoull(status->substr(at + 8, 16), nullptr, 16);
  };
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    EXPECT_EQ(mask("SigBlk:\t") & (1ull << (signal - 1)), 0u) << signal << "\n" << *status;
    EXPECT_EQ(mask("SigIgn:\t") & (1ull << (signal - 1)), 0u) << signal << "\n" << *status;
  }
}

TEST(UrlOpener, AMissingProgramIsReported) {
  XdgUrlOpener opener("fluvane-no-such-opener");
  std::string problem;
  EXPECT_FALSE(opener.open("https://example.org/", &problem));
  EXPECT_NE(problem.find("fluvane-no-such-opener"), std::string::npos);
  problem.clear();
  EXPECT_FALSE(opener.open("ftp://example.org/", &problem));
  EXPECT_NE(problem, "");
}

TEST_F(MailTest, AnAmpersandStaysInsideTheBody) {
  MailMessage message{"feedback", "feedback@fluvane.org", "Fluvane Feedback",
                      "log line with &bcc=evil@example.com&cc=x\nsecond = line?\n"};
  ComposedMail composed;
  std::string problem;
  ASSERT_TRUE(MailComposer::send(message, &composed, &problem)) << problem;
  ASSERT_EQ(opener->urls(), std::vector<std::string>{composed.url});
  EXPECT_EQ(composed.url.rfind("mailto:feedback@fluvane.org?", 0), 0u);
  EXPECT_EQ(fieldNames(composed.url), (std::vector<std::string>{"subject", "body"}));
  EXPECT_EQ(field(composed.url, "subject"), "Fluvane%20Feedback");
  EXPECT_EQ(field(composed.url, "body"), escapeValue(message.body));
  EXPECT_FALSE(composed.bodyCut);

  // The .eml: private, with its headers and the whole body.
  struct stat info {};
  ASSERT_EQ(stat(composed.emlPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(composed.emlPath.rfind(Paths::join(Paths::documents(), "mail/feedback-"), 0), 0u);
  std::string eml = *Paths::readFile(composed.emlPath);
  for (const char* header :
       {"To: feedback@fluvane.org\r\n", "Subject: Fluvane Feedback\r\n", "MIME-Version: 1.0\r\n",
        "Content-Type: text/plain; charset=UTF-8\r\n", "Date: "}) {
    EXPECT_NE(eml.find(header), std::string::npos) << header;
  }
  EXPECT_NE(eml.find("\r\n\r\nlog line with &bcc=evil@example.com&cc=x\r\nsecond = line?\r\n"),
            std::string::npos);
}

TEST_F(MailTest, AMegabyteLogIsCutAtALineEndAndNamesTheFile) {
  std::string body = "Report type: General\nProduct: Fluvane\n*** Begin Log ***\n";
  for (int i = 0; body.size() < 1000000; ++i)
    body += "[2030.01.01 12:00:00.000] line " + std::to_string(i) + "\n";
  body += "*** End Log ***\n";
  MailMessage message{"feedback", "feedback@fluvane.org", "Fluvane Feedback", body};
  ComposedMail composed;
  ASSERT_TRUE(MailComposer::send(message, &composed));
  EXPECT_TRUE(composed.bodyCut);
  EXPECT_LE(composed.url.size(), UrlOpener::kMaxUrlBytes);
  EXPECT_GT(composed.url.size(), UrlOpener::kMaxUrlBytes - 200);  // as much as fits

  std::string sentBody = field(composed.url, "body");
  std::string tail = escapeValue("Full report: " + composed.emlPath + "\n");
  ASSERT_GE(sentBody.size(), tail.size());
  EXPECT_EQ(sentBody.substr(sentBody.size() - tail.size()), tail);
  std::string kept = sentBody.substr(0, sentBody.size() - tail.size());
  // Whole lines from the start: the report lines, then the log's beginning.
  std::string decoded = unescape(kept);
  EXPECT_GT(decoded.size(), 40000u);
  EXPECT_EQ(body.rfind(decoded, 0), 0u);
  EXPECT_EQ(decoded.back(), '\n');
  // The .eml has everything.
  std::string eml = *Paths::readFile(composed.emlPath);
  EXPECT_NE(eml.find("*** End Log ***\r\n"), std::string::npos);
}

TEST_F(MailTest, HeadersCannotBeAddedAndAddressesArePlain) {
  MailMessage message{"register", "register@fluvane.org", "Evil\r\nBcc: x@y.org", "b"};
  ComposedMail composed;
  ASSERT_TRUE(MailComposer::send(message, &composed));
  std::string eml = *Paths::readFile(composed.emlPath);
  EXPECT_EQ(eml.find("\r\nBcc:"), std::string::npos);
  EXPECT_NE(eml.find("Subject: Evil  Bcc: x@y.org\r\n"), std::string::npos);

  std::string problem;
  MailMessage bad{"register", "a@b.org?bcc=c@d.org", "s", "b"};
  EXPECT_FALSE(MailComposer::send(bad, nullptr, &problem));
  EXPECT_NE(problem, "");
  EXPECT_EQ(opener->urls().size(), 1u);
}

}  // namespace
