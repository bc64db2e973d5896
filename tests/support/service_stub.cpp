#include "service_stub.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "test_certificate.h"

namespace stub {

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The server's side of the connection the request came on: the socket
// whose own port is localPort and whose peer's port is remotePort.
int findConnection(int localPort, int remotePort) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int found = -1;
  while (dirent* entry = readdir(dir)) {
    int fd = std::atoi(entry->d_name);
    if (fd <= 2) continue;
    sockaddr_in self{}, peer{};
    socklen_t length = sizeof self;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) != 0) continue;
    if (self.sin_family != AF_INET || ntohs(self.sin_port) != localPort) continue;
    length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
    if (ntohs(peer.sin_port) == remotePort) {
      found = fd;
      break;
    }
  }
  closedir(dir);
  return found;
}

// Headers cpp-httplib adds to a request for its handlers.
bool pseudoHeader(const std::string& name) {
  std::string n = lower(name);
  return n == "remote_addr" || n == "remote_port" || n == "local_addr" || n == "local_port";
}

}  // namespace

std::string Request::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (lower(key) == lower(name)) return value;
  }
  return "";
}

std::vector<std::string> Request::headerNames() const {
  std::vector<std::string> names;
  for (const auto& entry : headers) names.push_back(lower(entry.first));
  std::sort(names.begin(), names.end());
  return names;
}

struct ServiceStub::Server {
  std::unique_ptr<httplib::Server> http;
};

ServiceStub::ServiceStub(const TestCertificate* cert, int wantedPort)
    : server_(std::make_unique<Server>()) {
  // A dropped connection must not end the test program when written to.
  signal(SIGPIPE, SIG_IGN);
  if (cert) {
    https_ = true;
    server_->http = std::make_unique<httplib::SSLServer>(cert->certificate(), cert->key());
  } else {
    server_->http = std::make_unique<httplib::Server>();
  }
  httplib::Server& http = *server_->http;
  if (!http.is_valid()) return;
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    answer(&request, &response);
  };
  http.Post(".*", handler);
  http.Get(".*", handler);
  http.Put(".*", handler);
  http.Delete(".*", handler);
  // A port asked for is this server's alone: without SO_REUSEPORT (which
  // the library sets by default) a second server would share it silently.
  if (wantedPort > 0) {
    http.set_socket_options([](socket_t sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
  }
  int port = wantedPort > 0 ? (http.bind_to_port("127.0.0.1", wantedPort) ? wantedPort : 0)
                            : http.bind_to_any_port("127.0.0.1");
  if (port <= 0) return;
  port_ = port;
  thread_ = std::thread([&http] { http.listen_after_bind(); });
  // A stop() that comes before the listening loop has started is lost (the
  // loop then waits in accept for ever): a stub is only handed out once its
  // loop runs.
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!http.is_running() && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
  }
}

ServiceStub::~ServiceStub() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    released_ = true;
  }
  changed_.notify_all();
  if (server_->http) server_->http->stop();
  if (thread_.joinable()) thread_.join();
}

std::string ServiceStub::baseUrl() const {
  return std::string(https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

void ServiceStub::on(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

void ServiceStub::handle(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[path] = std::move(handler);
}

void ServiceStub::clear(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.erase(path);
}

std::vector<Request> ServiceStub::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t ServiceStub::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

bool ServiceStub::waitForRequests(std::size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                           [&] { return requests_.size() >= count; });
}

void ServiceStub::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void ServiceStub::answer(const void* requestPointer, void* responsePointer) {
  const auto& request = *static_cast<const httplib::Request*>(requestPointer);
  auto& response = *static_cast<httplib::Response*>(responsePointer);

  Request record;
  record.method = request.method;
  record.path = request.path;
  record.target = request.target;
  std::size_t question = request.target.find('?');
  if (question != std::string::npos) record.query = request.target.substr(question + 1);
  for (const auto& [name, value] : request.headers) {
    if (!pseudoHeader(name)) record.headers.emplace_back(name, value);
  }
  record.body = request.body;

  Reply reply;
  Handler handler;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = replies_.find(request.path);
    if (it != replies_.end()) {
      reply = it->second;
    } else if (auto h = handlers_.find(request.path); h != handlers_.end()) {
      handler = h->second;
    } else {
      reply.status = 404;
    }
  }
  if (handler) reply = handler(record);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(record);
  }
  changed_.notify_all();

  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (reply.delaySeconds > 0) {
      changed_.wait_for(lock, std::chrono::duration<double>(reply.delaySeconds),
                        [this] { return stopping_; });
    }
    if (reply.hold) changed_.wait(lock, [this] { return released_ || stopping_; });
  }

  if (reply.drop) {
    int fd = findConnection(request.local_port, request.remote_port);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
    return;
  }

  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  if (reply.endless) {
    response.set_chunked_content_provider("application/octet-stream",
                                          [this](size_t, httplib::DataSink& sink) {
                                            static const std::string block(64 * 1024, 'x');
                                            {
                                              std::lock_guard<std::mutex> lock(mutex_);
                                              if (stopping_) return false;
                                            }
                                            return sink.write(block.data(), block.size());
                                          });
  } else if (reply.trickleSeconds > 0) {
    std::string body = reply.body;
    double interval = reply.trickleSeconds;
    response.set_content_provider(
        body.size(), "application/octet-stream",
        [this, body, interval](size_t offset, size_t, httplib::DataSink& sink) {
          {
            std::unique_lock<std::mutex> lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::duration<double>(interval),
                                  [this] { return stopping_; })) {
              return false;
            }
          }
          return sink.write(body.data() + offset, 1);
        });
  } else {
    response.body = reply.body;
  }
}

}  // namespace stub
