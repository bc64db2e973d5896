// The loopback stand-in of the web service, for tests (and for a person
// trying the features by hand through fluvane-devservice).
//
// A ServiceStub listens on 127.0.0.1 on a free port, over HTTP or over HTTPS
// with a TestCertificate. It records every request (method, path, raw
// target and query, headers as received, raw body) and answers each path
// from a table set with on(), or through a handler set with handle(); a
// path with neither gets 404 with an empty body. A reply can:
//  - carry a status, extra headers and a body;
//  - wait before answering: for a time (delaySeconds) or until the test
//    calls release() (hold), so a client can be caught mid-request;
//  - trickle its body one byte every trickleSeconds (with its full length
//    announced);
//  - send a chunked body that never ends (endless);
//  - drop the connection without any reply (drop).
// Every wait ends when the stub is destroyed, so a test never hangs on it.
// Nothing is ever sent past the loopback interface.
//
// Threads: the server answers on threads of its own; every member may be
// called from any thread.
#ifndef TESTS_SUPPORT_SERVICE_STUB_H
#define TESTS_SUPPORT_SERVICE_STUB_H

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace stub {

class TestCertificate;

struct Reply {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  double delaySeconds = 0.0;
  bool hold = false;
  double trickleSeconds = 0.0;  // > 0: one byte at a time
  bool endless = false;
  bool drop = false;

  static Reply text(std::string body, int status = 200) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
  }
};

struct Request {
  std::string method;
  std::string path;                                          // without the query
  std::string target;                                        // as sent: path and query
  std::string query;                                         // after "?", as sent
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent
  std::string body;

  // The header's value ("" when absent); names compare without case.
  std::string header(const std::string& name) const;
  // The names, lower-cased and sorted.
  std::vector<std::string> headerNames() const;
};

class ServiceStub {
 public:
  using Handler = std::function<Reply(const Request&)>;

  // Over HTTPS with cert when given, else plain HTTP; on port when given
  // (not listening when it is taken), else on a free one.
  explicit ServiceStub(const TestCertificate* cert = nullptr, int port = 0);
  ~ServiceStub();
  ServiceStub(const ServiceStub&) = delete;
  ServiceStub& operator=(const ServiceStub&) = delete;

  bool listening() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>" (an address
  // the certificate names, so no name is looked up).
  std::string baseUrl() const;

  void on(const std::string& path, Reply reply);
  // Answers the path by calling handler (on the server's thread, without
  // the stub's lock); a reply set with on() for the same path wins, so a
  // test can make a modelled endpoint fail.
  void handle(const std::string& path, Handler handler);
  // Forgets the on() reply of a path (a handler answers again).
  void clear(const std::string& path);
  std::vector<Request> requests() const;
  std::size_t requestCount() const;
  // Waits until count requests have arrived (the last may still be held);
  // false when timeoutSeconds ran out first.
  bool waitForRequests(std::size_t count, double timeoutSeconds = 10.0) const;
  // Lets every held reply (and those still to come) go.
  void release();

 private:
  struct Server;
  void answer(const void* request, void* response);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::string, Reply> replies_;
  std::map<std::string, Handler> handlers_;
  std::vector<Request> requests_;
  bool released_ = false;
  bool stopping_ = false;
  bool https_ = false;
  int port_ = 0;
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

}  // namespace stub

#endif
