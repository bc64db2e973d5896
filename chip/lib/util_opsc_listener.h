// Open Sound Control: the port listeners and their threads.
//
// Receiving. UDP_Port_Manager keeps one UDP_Port_Listener per port; each
// listener owns its bound socket and a thread that waits (poll) on the
// socket and a wake-up pipe, and hands every datagram to each subscriber of
// its port. Empty datagrams and transient receive errors are ignored, so
// no remote host can silence a port. Destroying a listener wakes its
// thread, which finishes the datagram it is on, and joins it; the driver's
// detach (opsc_detach) does that for every listener still open. A port
// whose bind fails is reported and keeps no listener.
//
// Threads and locks: each listener's thread delivers under the listener's
// mutex (its subscriber list); the machine thread takes the same mutex to
// subscribe and unsubscribe. Plain std::thread and std::mutex: listeners
// are joined, never cancelled.
#ifndef CHIP_UTIL_OPSC_LISTENER_H
#define CHIP_UTIL_OPSC_LISTENER_H

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "chip/lib/util_network.h"

class UDP_Subscriber {
 public:
  virtual ~UDP_Subscriber();
  // The subscribed port, -1 when none.
  virtual int port() const = 0;
  virtual void set_port(int port) = 0;
  // One datagram (listener thread).
  virtual void onReceive(const char* buffer, int len) = 0;
  // FALSE when subscribed already or the port cannot be bound.
  virtual bool subscribe(int port);
  // FALSE when not subscribed.
  virtual bool unsubscribe();
};

class UDP_Port_Listener {
 public:
  explicit UDP_Port_Listener(int port);
  // Stops the thread (waking it) and joins it, then closes the socket.
  ~UDP_Port_Listener();
  UDP_Port_Listener(const UDP_Port_Listener&) = delete;
  UDP_Port_Listener& operator=(const UDP_Port_Listener&) = delete;

  // Binds the port and starts the thread; FALSE (logged) when the bind
  // fails.
  bool init();
  bool add(UDP_Subscriber* subscriber);
  bool drop(UDP_Subscriber* subscriber);
  size_t count();
  // Drops every subscriber (their ports become -1).
  void drop_all();
  // Receives and delivers one datagram; the bytes received (0 for an empty
  // datagram or a transient error, -1 for a fatal error).
  int recv_mesg();

 private:
  void run();

  int m_port;
  ck_socket m_socket;
  std::thread m_thread;
  std::mutex m_mutex;  // the subscriber list; held while they decode
  std::vector<UDP_Subscriber*> m_subscribers;
  std::atomic<bool> m_stop;
  int m_wake[2];
  std::vector<char> m_buffer;
};

class UDP_Port_Manager {
 public:
  static UDP_Port_Manager* instance();

  bool subscribe(UDP_Subscriber* subscriber, int port);
  bool unsubscribe(UDP_Subscriber* subscriber);
  // Stops and joins every listener; their subscribers are left unsubscribed.
  void detach_all();
  // Whether a listener is open on port (tests).
  bool has_listener(int port);

 private:
  std::mutex m_mutex;  // the map
  std::map<int, std::unique_ptr<UDP_Port_Listener>> m_listeners;
};

// Joins every Open Sound Control listener (the driver's detach).
void opsc_detach();

#endif
