// The remote audio client against a server of the test's own on a free
// loopback port.
#include "vxu/RemoteAudioClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "loopback_port.h"

namespace {

const size_t kBlockBytes = 256 * 2 * sizeof(float);

// Doubles every sample and keeps a copy of each input block.
class Doubler : public RemoteAudioClientDelegate {
 public:
  void render(unsigned frames, const float* input, float* output) override {
    std::lock_guard<std::mutex> lock(mutex);
    frame_counts.push_back(frames);
    inputs.emplace_back(input, input + frames * 2);
    for (unsigned k = 0; k < frames * 2; k++) output[k] = input[k] * 2;
  }
  std::mutex mutex;
  std::vector<unsigned> frame_counts;
  std::vector<std::vector<float>> inputs;
};

class Server {
 public:
  Server() {
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listen, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
    listen(m_listen, 1);
    socklen_t len = sizeof a;
    getsockname(m_listen, reinterpret_cast<struct sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Server() {
    if (fd >= 0) close(fd);
    close(m_listen);
  }
  bool accept_client() {
    struct pollfd p = {m_listen, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    fd = accept(m_listen, nullptr, nullptr);
    return fd >= 0;
  }
  void send_bytes(const void* data, size_t n) {
    ASSERT_EQ(send(fd, data, n, MSG_NOSIGNAL), static_cast<ssize_t>(n));
  }
  // Reads exactly n bytes (or fewer when the client closes or stays silent).
  std::vector<char> read_bytes(size_t n) {
    std::vector<char> data(n);
    size_t got = 0;
    while (got < n) {
      struct pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) break;
      ssize_t r = recv(fd, data.data() + got, n - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    data.resize(got);
    return data;
  }
  int port = 0;
  int fd = -1;

 private:
  int m_listen = -1;
};

bool wait_until(const std::function<bool()>& done, int ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(RemoteAudioClient, ExchangesBlocksOf256FramesWhateverIsAsked) {
  Server server;
  auto doubler = std::make_shared<Doubler>();
  RemoteAudioClient client;
  client.delegate = doubler;
  client.port = server.port;
  ASSERT_TRUE(client.startAudio(48000, 512, true, true));
  EXPECT_EQ(client.bufferSize(), 256);
  // A second start is refused while the first runs.
  EXPECT_FALSE(client.startAudio(44100, 256, true, true));
  ASSERT_TRUE(server.accept_client());
  std::vector<float> block(512);
  for (size_t round = 0; round < 3; round++) {
    for (size_t k = 0; k < block.size(); k++) block[k] = static_cast<float>(round * 1000 + k);
    server.send_bytes(block.data(), kBlockBytes);
    std::vector<char> back = server.read_bytes(kBlockBytes);
    ASSERT_EQ(back.size(), kBlockBytes);
    const float* samples = reinterpret_cast<const float*>(back.data());
    for (size_t k = 0; k < block.size(); k++) ASSERT_EQ(samples[k], 2 * block[k]) << k;
  }
  // A short last block: its end is silence, not the previous block.
  server.send_bytes(block.data(), 100);
  shutdown(server.fd, SHUT_WR);
  EXPECT_EQ(server.read_bytes(100).size(), 100u);
  // The closed server ends the thread.
  EXPECT_TRUE(wait_until([&] { return !client.isExchanging(); }));
  EXPECT_TRUE(client.stopAudio());
  std::lock_guard<std::mutex> lock(doubler->mutex);
  ASSERT_EQ(doubler->inputs.size(), 4u);
  for (unsigned frames : doubler->frame_counts) EXPECT_EQ(frames, 256u);
  const std::vector<float>& last = doubler->inputs.back();
  for (size_t k = 0; k < 25; k++) EXPECT_EQ(last[k], block[k]);
  for (size_t k = 25; k < last.size(); k++) ASSERT_EQ(last[k], 0.0f) << k;
}

// A server that sends nothing: stopping wakes the blocked read at once.
TEST(RemoteAudioClient, StopsPromptlyWhileTheServerIsSilent) {
  Server server;
  RemoteAudioClient client;
  client.delegate = std::make_shared<Doubler>();
  client.port = server.port;
  ASSERT_TRUE(client.startAudioWithDefaultParameters());
  ASSERT_TRUE(server.accept_client());
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.stopAudio());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_FALSE(client.isExchanging());
  // The server sees the connection end.
  EXPECT_TRUE(server.read_bytes(1).empty());
  // Stopped, it may start again.
  Server again;
  client.port = again.port;
  EXPECT_TRUE(client.startAudio(44100, 256, true, true));
  EXPECT_TRUE(client.stopAudio());
}

TEST(RemoteAudioClient, NoServerMeansNo) {
  RemoteAudioClient client;
  client.port = free_loopback_port(SOCK_STREAM);
  EXPECT_FALSE(client.startAudioWithDefaultParameters());
  EXPECT_FALSE(client.isExchanging());
  EXPECT_TRUE(client.stopAudio());
}

}  // namespace
