// The graphics library's messages go to the application log, one message
// per call (no trailing newline needed).
#ifndef VEXELGRAPHICS_VGLOG_H
#define VEXELGRAPHICS_VGLOG_H

void VG_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
