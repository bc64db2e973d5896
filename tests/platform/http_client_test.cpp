// The HTTP client against the loopback stand-in of the service: the exact
// request, replies and their flags, and every way an exchange can fail
// (refused, dropped, stalled, aborted, endless, untrusted).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "platform/HttpClient.h"
#include "service_stub.h"
#include "test_certificate.h"

using platform::HttpClient;
using platform::HttpLimits;
using platform::HttpResult;

namespace {

// A port on 127.0.0.1 that nothing listens on.
int closedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class CaFile {
 public:
  explicit CaFile(const std::string& path) { setenv("FLUVANE_CA_FILE", path.c_str(), 1); }
  ~CaFile() { unsetenv("FLUVANE_CA_FILE"); }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(HttpClient, SendsTheBodyAsItIsWithOnlyHostAndContentLength) {
  stub::ServiceStub service;
  ASSERT_TRUE(service.listening());
  stub::Reply reply = stub::Reply::text("hello");
  reply.headers = {{"Content-Encoding", "deflate"}};
  service.on("/fluvane/motd/", reply);

  const std::string body = "device=X&v=a%2Bb%3Dc&empty=";
  HttpResult result = HttpClient::post(service.baseUrl() + "/fluvane/motd/", body);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.body, std::optional<std::string>("hello"));
  EXPECT_TRUE(result.deflated);
  EXPECT_EQ(result.failure, HttpResult::Failure::None);

  std::vector<stub::Request> requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/fluvane/motd/");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_EQ(requests[0].headerNames(), (std::vector<std::string>{"content-length", "host"}));
  EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(body.size()));
}

TEST(HttpClient, AnEmptyBodyIsStillAPostOfLengthZero) {
  stub::ServiceStub service;
  service.on("/so/", stub::Reply::text("x"));
  HttpResult result = HttpClient::post(service.baseUrl() + "/so/?objectname=a", "");
  EXPECT_EQ(result.status, 200);
  ASSERT_EQ(service.requestCount(), 1u);
  stub::Request request = service.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.query, "objectname=a");
  EXPECT_EQ(request.header("Content-Length"), "0");
}

TEST(HttpClient, OtherStatusesKeepTheirBodyAndRedirectsAreNotFollowed) {
  stub::ServiceStub service;
  stub::Reply moved = stub::Reply::text("see there", 302);
  moved.headers = {{"Location", service.baseUrl() + "/elsewhere/"}};
  service.on("/moved/", moved);
  stub::Reply upper = stub::Reply::text("zz", 500);
  upper.headers = {{"Content-Encoding", "Deflate"}};
  service.on("/upper/", upper);

  HttpResult result = HttpClient::post(service.baseUrl() + "/moved/", "a=1");
  EXPECT_EQ(result.status, 302);
  EXPECT_EQ(result.body, std::optional<std::string>("see there"));
  result = HttpClient::post(service.baseUrl() + "/missing/", "a=1");
  EXPECT_EQ(result.status, 404);
  EXPECT_EQ(result.body, std::optional<std::string>(""));
  // The encoding's value is compared exactly.
  result = HttpClient::post(service.baseUrl() + "/upper/", "a=1");
  EXPECT_EQ(result.status, 500);
  EXPECT_FALSE(result.deflated);
  EXPECT_EQ(service.requestCount(), 3u);
}

TEST(HttpClient, OnlyHttpAndHttpsUrlsAreTried) {
  for (const char* url :
       {"file:///etc/passwd", "ftp://127.0.0.1/", "gopher://x/", "", "127.0.0.1"}) {
    HttpResult result = HttpClient::post(url, "a=1");
    EXPECT_EQ(result.status, -1) << url;
    EXPECT_EQ(result.failure, HttpResult::Failure::BadUrl) << url;
    EXPECT_FALSE(result.body) << url;
  }
}

TEST(HttpClient, ARefusedOrDroppedConnectionIsStatusMinusOne) {
  HttpResult refused =
      HttpClient::post("http://127.0.0.1:" + std::to_string(closedPort()) + "/x/", "a=1");
  EXPECT_EQ(refused.status, -1);
  EXPECT_EQ(refused.failure, HttpResult::Failure::Transport);
  EXPECT_FALSE(refused.body);

  stub::ServiceStub service;
  stub::Reply drop;
  drop.drop = true;
  service.on("/drop/", drop);
  HttpResult dropped = HttpClient::post(service.baseUrl() + "/drop/", "a=1");
  EXPECT_EQ(dropped.status, -1);
  EXPECT_EQ(dropped.failure, HttpResult::Failure::Transport);
  EXPECT_EQ(service.requestCount(), 1u);
}

TEST(HttpClient, AStalledServerTimesOut) {
  stub::ServiceStub service;
  stub::Reply silent;
  silent.hold = true;
  service.on("/silent/", silent);
  HttpLimits limits;
  limits.stallTimeout = 0.2;  // the production value is 30 s
  HttpResult result = HttpClient::post(service.baseUrl() + "/silent/", "a=1", nullptr, limits);
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.failure, HttpResult::Failure::Transport);
  EXPECT_EQ(result.error, "the server stalled");
  EXPECT_EQ(HttpLimits().stallTimeout, 30.0);
  EXPECT_EQ(HttpLimits().connectTimeout, 10.0);
  service.release();
}

// An abort set while the client waits ends the post within 100 ms, on a
// silent server and on one that trickles its reply.
TEST(HttpClient, AnAbortEndsThePostQuickly) {
  stub::ServiceStub service;
  stub::Reply silent;
  silent.hold = true;
  service.on("/silent/", silent);
  stub::Reply trickle = stub::Reply::text(std::string(10000, 't'));
  trickle.trickleSeconds = 0.005;
  service.on("/trickle/", trickle);

  for (const char* path : {"/silent/", "/trickle/"}) {
    std::atomic<bool> abortFlag{false};
    std::size_t before = service.requestCount();
    auto post = std::async(std::launch::async, [&] {
      return HttpClient::post(service.baseUrl() + path, "a=1", &abortFlag);
    });
    ASSERT_TRUE(service.waitForRequests(before + 1)) << path;
    auto start = std::chrono::steady_clock::now();
    abortFlag = true;
    HttpResult result = post.get();
    double took = secondsSince(start);
    EXPECT_LT(took, 0.1) << path;
    EXPECT_EQ(result.status, -1) << path;
    EXPECT_EQ(result.failure, HttpResult::Failure::Aborted) << path;
    EXPECT_FALSE(result.body) << path;
  }
  service.release();
}

TEST(HttpClient, RepliesAreCappedAsTheyArrive) {
  stub::ServiceStub service;
  stub::Reply endless;
  endless.endless = true;
  service.on("/endless/", endless);
  service.on("/thousand/", stub::Reply::text(std::string(1000, 'k')));

  HttpLimits limits;
  limits.maxBody = 1 << 20;
  HttpResult result = HttpClient::post(service.baseUrl() + "/endless/", "a=1", nullptr, limits);
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.failure, HttpResult::Failure::TooLarge);
  EXPECT_FALSE(result.body);

  limits.maxBody = 1000;
  result = HttpClient::post(service.baseUrl() + "/thousand/", "a=1", nullptr, limits);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.body->size(), 1000u);
  limits.maxBody = 999;
  result = HttpClient::post(service.baseUrl() + "/thousand/", "a=1", nullptr, limits);
  EXPECT_EQ(result.failure, HttpResult::Failure::TooLarge);
  // The production cap is 16 MiB.
  EXPECT_EQ(HttpLimits().maxBody, 16u * 1024 * 1024);
}

TEST(HttpClient, HttpsWithTheTrustedTestCertificateOnly) {
  stub::TestCertificate certificate;
  stub::TestCertificate stranger;
  ASSERT_TRUE(certificate.valid());
  ASSERT_TRUE(stranger.valid());
  stub::ServiceStub service(&certificate);
  ASSERT_TRUE(service.listening());
  service.on("/secure/", stub::Reply::text("over tls"));
  const std::string url = service.baseUrl() + "/secure/";

  {
    CaFile trusted(certificate.pemPath());
    HttpResult result = HttpClient::post(url, "p=secret");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, std::optional<std::string>("over tls"));
  }
  {
    CaFile other(stranger.pemPath());
    HttpResult result = HttpClient::post(url, "p=secret");
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.failure, HttpResult::Failure::Transport);
  }
  // With the system's certificates alone the test certificate is unknown.
  HttpResult result = HttpClient::post(url, "p=secret");
  EXPECT_EQ(result.status, -1);
  // Only the trusted exchange reached the handler.
  ASSERT_EQ(service.requestCount(), 1u);
  EXPECT_EQ(service.requests()[0].body, "p=secret");
}

}  // namespace
