// The Open Sound Control wire format's words: big-endian 32-bit words and
// strings padded with zeros to a multiple of 4 bytes. Shared by the writer,
// the decoder and the address spaces' queues.
#ifndef CHIP_UTIL_OPSC_WIRE_H
#define CHIP_UTIL_OPSC_WIRE_H

#include <arpa/inet.h>

#include <cstddef>
#include <cstring>

#include "chip/util/chip_def.h"

namespace osc_wire {

// Bytes a string of len characters takes with its terminator, padded to 4.
inline size_t padded(size_t len) { return (len + 4) & ~static_cast<size_t>(3); }

inline void put_word(char* at, t_CPUINT value) {
  t_CPUINT big = htonl(value);
  std::memcpy(at, &big, 4);
}

inline t_CPUINT get_word(const char* at) {
  t_CPUINT big;
  std::memcpy(&big, at, 4);
  return ntohl(big);
}

}  // namespace osc_wire

#endif
