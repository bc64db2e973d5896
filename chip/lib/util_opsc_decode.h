// Open Sound Control: the datagram decoder.
//
// Decoding. osc_decode checks a datagram completely before anything is
// delivered, in 64-bit arithmetic: a bundle of at least 16 bytes beginning
// "#bundle", element sizes that are positive multiples of 4 inside their
// bundle, address and type strings that end inside their message, and
// arguments (strings and blobs included) inside it. A datagram with any
// fault is dropped whole. A message without type tags matches no space.
#ifndef CHIP_UTIL_OPSC_DECODE_H
#define CHIP_UTIL_OPSC_DECODE_H

#include <cstddef>
#include <vector>

// One message of a datagram (pointers into it).
struct OSC_Message {
  const char* address;  // zero-terminated inside the message
  const char* types;    // the tags after ',' (zero-terminated), or null: untyped
  const char* data;     // first argument
  size_t data_len;      // bytes from data to the end of the message
};

// Splits a datagram into its messages (in order, bundles walked to any
// depth up to 64). FALSE, with out left empty, when anything in it is
// malformed.
bool osc_decode(const char* datagram, size_t len, std::vector<OSC_Message>* out);

#endif
