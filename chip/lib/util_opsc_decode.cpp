// Open Sound Control: the datagram decoder.
#include "chip/lib/util_opsc_decode.h"

#include <cstdint>

#include "chip/lib/util_opsc_wire.h"

using namespace osc_wire;

namespace {

const size_t kMaxBundleDepth = 64;

// The length of a zero-terminated string that starts at `at` and must end
// before `end`; -1 when no zero lies inside.
long string_in(const char* at, const char* end) {
  if (at >= end) return -1;
  const void* zero = std::memchr(at, 0, static_cast<size_t>(end - at));
  return zero ? static_cast<const char*>(zero) - at : -1;
}

bool decode_message(const char* msg, size_t size, std::vector<OSC_Message>* out) {
  const char* end = msg + size;
  long address_len = string_in(msg, end);
  if (address_len < 0) return false;
  OSC_Message m{msg, nullptr, nullptr, 0};
  uint64_t at = padded(static_cast<size_t>(address_len));
  if (at > size) return false;
  if (at < size && msg[at] == ',') {
    long types_len = string_in(msg + at, end);
    if (types_len < 0) return false;
    m.types = msg + at + 1;
    uint64_t data = at + padded(static_cast<size_t>(types_len));
    if (data > size) return false;
    // Every argument must lie inside the message.
    uint64_t cursor = data;
    for (const char* tag = m.types; *tag; tag++) {
      switch (*tag) {
        case 'i':
        case 'f':
          if (cursor + 4 > size) return false;
          cursor += 4;
          break;
        case 's': {
          long len = string_in(msg + cursor, end);
          if (len < 0) return false;
          cursor += padded(static_cast<size_t>(len));
          if (cursor > size) return false;
          break;
        }
        case 'b': {
          if (cursor + 4 > size) return false;
          int32_t blob = static_cast<int32_t>(get_word(msg + cursor));
          if (blob < 0) return false;
          uint64_t bytes = (static_cast<uint64_t>(blob) + 3) & ~static_cast<uint64_t>(3);
          if (cursor + 4 + bytes > size) return false;
          cursor += 4 + bytes;
          break;
        }
        default:
          break;
      }
    }
    m.data = msg + data;
    m.data_len = size - data;
  } else {
    m.data = msg + at;
    m.data_len = size - at;
  }
  out->push_back(m);
  return true;
}

bool decode_bundle(const char* bundle, size_t size, size_t depth, std::vector<OSC_Message>* out) {
  if (depth > kMaxBundleDepth) return false;
  if (size < 16 || std::memcmp(bundle, "#bundle\0", 8) != 0) return false;
  uint64_t at = 16;
  while (at < size) {
    if (at + 4 > size) return false;
    int32_t element = static_cast<int32_t>(get_word(bundle + at));
    if (element <= 0 || element % 4 != 0) return false;
    at += 4;
    if (at + static_cast<uint64_t>(element) > size) return false;
    const char* start = bundle + at;
    bool ok = start[0] == '#' ? decode_bundle(start, static_cast<size_t>(element), depth + 1, out)
                              : decode_message(start, static_cast<size_t>(element), out);
    if (!ok) return false;
    at += static_cast<uint64_t>(element);
  }
  return true;
}

}  // namespace

bool osc_decode(const char* datagram, size_t len, std::vector<OSC_Message>* out) {
  out->clear();
  if (!datagram || len == 0) return false;
  bool ok = datagram[0] == '#' ? decode_bundle(datagram, len, 1, out)
                               : decode_message(datagram, len, out);
  if (!ok) out->clear();
  return ok;
}
