#include "VexelGraphics/VGLog.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<VGLogSink> g_sink{nullptr};

}  // namespace

void VG_set_log_sink(VGLogSink sink) { g_sink.store(sink); }

void VG_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (VGLogSink sink = g_sink.load()) {
    sink(format, args);
  } else {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
  }
  va_end(args);
}
