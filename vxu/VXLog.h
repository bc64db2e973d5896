// (placeholder: the application log is being written; only the C entries are declared)
#ifndef VXU_VXLOG_H
#define VXU_VXLOG_H
#include <cstdarg>
void VX_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void VX_vlogf(const char* format, va_list args);
#endif
