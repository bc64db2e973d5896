// Open Sound Control: the port listeners and their threads.
#include "chip/lib/util_opsc_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_vm.h"

UDP_Subscriber::~UDP_Subscriber() = default;

bool UDP_Subscriber::subscribe(int port) {
  if (this->port() >= 0) return false;
  if (UDP_Port_Manager::instance()->subscribe(this, port)) return true;
  set_port(-1);
  return false;
}

bool UDP_Subscriber::unsubscribe() {
  if (port() < 0) return false;
  return UDP_Port_Manager::instance()->unsubscribe(this);
}

UDP_Port_Listener::UDP_Port_Listener(int port)
    : m_port(port), m_socket(nullptr), m_stop(false), m_wake{-1, -1}, m_buffer(8192) {}

UDP_Port_Listener::~UDP_Port_Listener() {
  m_stop.store(true);
  if (m_wake[1] >= 0) {
    char byte = 'q';
    ssize_t n = write(m_wake[1], &byte, 1);
    (void)n;
  }
  if (m_thread.joinable()) m_thread.join();
  if (m_wake[0] >= 0) close(m_wake[0]);
  if (m_wake[1] >= 0) close(m_wake[1]);
  cp_close(m_socket);
}

bool UDP_Port_Listener::init() {
  m_socket = cp_udp_create();
  if (!m_socket || !cp_bind(m_socket, m_port, nullptr)) {
    EM_log(CP_LOG_SYSTEM, "(via OSC): cannot bind to port %d!", m_port);
    return false;
  }
  if (pipe2(m_wake, O_CLOEXEC) != 0) {
    m_wake[0] = m_wake[1] = -1;
    EM_log(CP_LOG_SYSTEM, "(via OSC): cannot start the listener on port %d!", m_port);
    return false;
  }
  m_thread = std::thread([this] { run(); });
  return true;
}

bool UDP_Port_Listener::add(UDP_Subscriber* subscriber) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (std::find(m_subscribers.begin(), m_subscribers.end(), subscriber) != m_subscribers.end()) {
    EM_log(CP_LOG_INFO, "UDP_Port_Listener::add - error subscriber already exists");
    return false;
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener: adding subscriber");
  m_subscribers.push_back(subscriber);
  subscriber->set_port(m_port);
  return true;
}

bool UDP_Port_Listener::drop(UDP_Subscriber* subscriber) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto at = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber);
  if (at == m_subscribers.end()) return false;
  EM_log(CP_LOG_INFO, "UDP_Port_Listener: dropping subscriber");
  m_subscribers.erase(at);
  subscriber->set_port(-1);
  return true;
}

size_t UDP_Port_Listener::count() {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_subscribers.size();
}

void UDP_Port_Listener::drop_all() {
  std::lock_guard<std::mutex> guard(m_mutex);
  for (UDP_Subscriber* subscriber : m_subscribers) subscriber->set_port(-1);
  m_subscribers.clear();
}

int UDP_Port_Listener::recv_mesg() {
  struct sockaddr_in from;
  int from_len = sizeof from;
  int n = cp_recvfrom(m_socket, m_buffer.data(), static_cast<int>(m_buffer.size()),
                      reinterpret_cast<struct sockaddr*>(&from), &from_len);
  if (n < 0) {
    // Errors a remote host can cause (an ICMP report of an earlier send,
    // no memory for a moment) pass; a broken socket ends the listener.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED || errno == ENOMEM ||
        errno == ENOBUFS || errno == EINTR) {
      return 0;
    }
    EM_log(CP_LOG_SYSTEM, "(via OSC): receive on port %d failed: %s", m_port, std::strerror(errno));
    return -1;
  }
  // An empty datagram carries nothing.
  if (n == 0) return 0;
  std::lock_guard<std::mutex> guard(m_mutex);
  for (UDP_Subscriber* subscriber : m_subscribers) subscriber->onReceive(m_buffer.data(), n);
  return n;
}

void UDP_Port_Listener::run() {
  if (Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) {
    Chip_VM::set_priority(Chip_VM::our_priority, nullptr);
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener:: starting receive loop\n");
  struct pollfd fds[2];
  fds[0].fd = m_socket->descriptor;
  fds[0].events = POLLIN;
  fds[1].fd = m_wake[0];
  fds[1].events = POLLIN;
  while (!m_stop.load()) {
    fds[0].revents = fds[1].revents = 0;
    int rc = poll(fds, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents || m_stop.load()) break;
    if (fds[0].revents & (POLLIN | POLLERR)) {
      if (recv_mesg() < 0) break;
    } else if (fds[0].revents & POLLNVAL) {
      break;
    }
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener:: receive loop terminated\n");
}

UDP_Port_Manager* UDP_Port_Manager::instance() {
  // Never destroyed: listeners still open at exit are joined by the
  // driver's detach, and a static destructor must not join threads.
  static UDP_Port_Manager* manager = new UDP_Port_Manager;
  return manager;
}

bool UDP_Port_Manager::subscribe(UDP_Subscriber* subscriber, int port) {
  if (port < 0 || port > 65535) {
    EM_log(CP_LOG_SYSTEM, "(via OSC): port %d outside 0..65535", port);
    return false;
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  auto at = m_listeners.find(port);
  if (at == m_listeners.end()) {
    EM_log(CP_LOG_INFO, "PortManager:  starting Listener on %d", port);
    auto listener = std::make_unique<UDP_Port_Listener>(port);
    if (!listener->init()) return false;
    at = m_listeners.emplace(port, std::move(listener)).first;
  }
  return at->second->add(subscriber);
}

bool UDP_Port_Manager::unsubscribe(UDP_Subscriber* subscriber) {
  int port = subscriber->port();
  if (port < 0) {
    EM_log(CP_LOG_INFO, "error, subscriber's port < 0, return false");
    return false;
  }
  std::unique_ptr<UDP_Port_Listener> closing;
  bool dropped;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto at = m_listeners.find(port);
    if (at == m_listeners.end()) {
      EM_log(CP_LOG_INFO, "error, cannot unsubscribe: port %d not in use", port);
      return false;
    }
    dropped = at->second->drop(subscriber);
    if (at->second->count() == 0) {
      EM_log(CP_LOG_INFO, "PortManager: Listener on port %d is empty - removing", port);
      closing = std::move(at->second);
      m_listeners.erase(at);
    }
  }
  // Joined outside the map's lock.
  closing.reset();
  return dropped;
}

void UDP_Port_Manager::detach_all() {
  std::map<int, std::unique_ptr<UDP_Port_Listener>> closing;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    closing.swap(m_listeners);
  }
  for (auto& entry : closing) entry.second->drop_all();
  closing.clear();
}

bool UDP_Port_Manager::has_listener(int port) {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_listeners.count(port) != 0;
}

void opsc_detach() { UDP_Port_Manager::instance()->detach_all(); }
