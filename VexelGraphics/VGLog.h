// The graphics library's messages, one message per call (no trailing
// newline needed). The library knows no application log: its host installs
// a sink (the instrument and the demonstration hand it the framework's
// log); without one, each message is a line on standard error.
//
// Threads: the sink is installed before the library is used and not changed
// while another thread draws; VG_log may be called from any thread the
// sink accepts.
#ifndef VEXELGRAPHICS_VGLOG_H
#define VEXELGRAPHICS_VGLOG_H

#include <cstdarg>

// Receives one message: format and its arguments.
using VGLogSink = void (*)(const char* format, va_list args);

// Installs the sink (null: standard error again).
void VG_set_log_sink(VGLogSink sink);

void VG_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
