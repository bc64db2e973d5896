#include "vxu/VXLog.h"
#include <cstdio>
void VX_vlogf(const char* format, va_list args) { std::vfprintf(stderr, format, args); }
void VX_logf(const char* format, ...) { va_list a; va_start(a, format); VX_vlogf(format, a); va_end(a); }
