#include "VexelGraphics/VGLog.h"

#include <cstdarg>

#include "vxu/VXLog.h"

void VG_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VXLog::sharedVXLog().logArgs(format, args);
  va_end(args);
}
