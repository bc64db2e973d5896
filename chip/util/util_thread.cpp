#include "chip/util/util_thread.h"

XThread::XThread() : thread(), started(false) {}

XThread::~XThread() {
  if (started) {
    pthread_cancel(thread);
    pthread_join(thread, nullptr);
  }
}

t_CPBOOL XThread::start(void* (*routine)(void*), void* arg) {
  if (started) return FALSE;
  started = pthread_create(&thread, nullptr, routine, arg) == 0;
  return started ? TRUE : FALSE;
}

XMutex::XMutex() { pthread_mutex_init(&mutex, nullptr); }

XMutex::~XMutex() { pthread_mutex_destroy(&mutex); }

void XMutex::acquire() { pthread_mutex_lock(&mutex); }

void XMutex::release() { pthread_mutex_unlock(&mutex); }
