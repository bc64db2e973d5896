// Blocks of audio exchanged with a local server.
#include "vxu/RemoteAudioClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

RemoteAudioClient::~RemoteAudioClient() { stopAudio(); }

bool RemoteAudioClient::startAudioWithDefaultParameters() {
  return startAudio(44100, 256, true, true);
}

bool RemoteAudioClient::startAudio(unsigned, unsigned, bool, bool) {
  // A second start would lose the first thread.
  if (m_thread.joinable() || m_dataSocket >= 0) return false;
  m_bufferSize = kBlockFrames;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::perror("cannot create socket");
    return false;
  }
  struct sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
  } while (rc < 0 && errno == EINTR);
  if (port < 1 || port > 65535 || rc != 0) {
    std::perror("connect failed");
    close(fd);
    return false;
  }
  m_dataSocket = fd;
  m_doStopAudioThread = false;
  m_exchanging = true;
  m_thread = std::thread([this] { audioThread(); });
  return true;
}

bool RemoteAudioClient::stopAudio() {
  if (m_thread.joinable()) {
    m_doStopAudioThread = true;
    // Wakes a read that waits for the server.
    if (m_dataSocket >= 0) shutdown(m_dataSocket, SHUT_RDWR);
    m_thread.join();
  }
  if (m_dataSocket >= 0) {
    int fd = m_dataSocket;
    m_dataSocket = -1;
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }
  return true;
}

void RemoteAudioClient::audioThread() {
  std::fprintf(stderr, "entering audio thread\n");
  const size_t bytes = static_cast<size_t>(m_bufferSize) * 2 * sizeof(float);
  std::vector<float> input(static_cast<size_t>(m_bufferSize) * 2);
  std::vector<float> output(input.size());
  char* in = reinterpret_cast<char*>(input.data());
  const char* out = reinterpret_cast<const char*>(output.data());
  while (!m_doStopAudioThread) {
    size_t got = 0;
    while (got < bytes) {
      ssize_t n = recv(m_dataSocket, in + got, bytes - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    // The server closed (or the socket was shut down): nothing more comes.
    if (got == 0 || m_doStopAudioThread) break;
    // A short block: the rest of the input is silence, not the last block.
    std::memset(in + got, 0, bytes - got);
    if (delegate) delegate->render(static_cast<unsigned>(m_bufferSize), input.data(),
                                   output.data());
    size_t sent = 0;
    bool failed = false;
    while (sent < got) {
      ssize_t n = send(m_dataSocket, out + sent, got - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = true;
        break;
      }
      sent += static_cast<size_t>(n);
    }
    if (failed || got < bytes) break;
  }
  m_exchanging = false;
  std::fprintf(stderr, "exiting audio thread\n");
}
