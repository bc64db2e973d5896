// Threads and mutexes: the engine's one way to start a background thread and
// one way to lock.
//
// XThread starts at most one POSIX thread in its life; destroying the wrapper
// cancels the thread at its next cancellation point and waits for it to end.
// XMutex is a plain, non-recursive lock that must be released by the thread
// that acquired it.
#ifndef CHIP_UTIL_THREAD_H
#define CHIP_UTIL_THREAD_H

#include <pthread.h>

#include "chip/util/chip_def.h"

class XThread {
 public:
  XThread();
  ~XThread();
  XThread(const XThread&) = delete;
  XThread& operator=(const XThread&) = delete;

  // Runs routine(arg) on a new thread with default attributes. TRUE when the
  // thread was created; on failure the wrapper holds no thread.
  t_CPBOOL start(void* (*routine)(void*), void* arg);

 private:
  pthread_t thread;
  bool started;
};

class XMutex {
 public:
  XMutex();
  ~XMutex();
  XMutex(const XMutex&) = delete;
  XMutex& operator=(const XMutex&) = delete;

  void acquire();
  void release();

 private:
  pthread_mutex_t mutex;
};

#endif
