// A snippet: one recorded performance, as a timed list of packed snapshots
// of the finger mask, breath and tilt (not audio).
//
// The packet is what travels to and from the web service and what keeping
// writes to disk: four little-endian words (header, root, mode, duration as
// a 32-bit float, in engine samples) and then one 8-byte entry per snapshot
// (delta as a 32-bit float, packed state as a u32). A packet is playable
// when it is 16 bytes plus at least one and at most kMaxSnapshots entries;
// every reader checks that before it reads a field, and reads each field
// byte by byte as little-endian, whatever the machine.
//
// The text form (the help tune, a debug dump) is a first line
// "header: %d, root: %d, mode: %d, duration: %f, snapshots: %d" and one
// "s %f %d" line per snapshot (delta, packed state as a signed int); numbers
// are written and read in the C locale whatever the process's locale.
//
// Packed state (u32): bits 0-7 finger mask, 8-15 breath x 128, 16-23 tilt X
// x 12.8, 24-31 tilt Y x 128.
//
// Threads: a snippet is owned by one thread at a time; the functions here
// share no state.
#ifndef RECORDER_FLUVANESNIPPET_H
#define RECORDER_FLUVANESNIPPET_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FluvaneSnapshot {
  float delta = 0.0f;   // engine samples since the previous snapshot
  uint32_t state = 0;   // packed state
};

inline constexpr size_t SNIPPET_HEADER_SIZE = 16;
inline constexpr size_t SNAPSHOT_PACKET_SIZE = 8;
inline constexpr uint32_t kSnippetHeader = 0xFEED0101u;
// A recording stops at this many snapshots; longer packets are refused.
inline constexpr size_t kMaxSnapshots = 65536;

struct FluvaneSnippet {
  uint32_t header = kSnippetHeader;
  uint32_t root = 60;
  uint32_t mode = 0;
  float duration = 0.0f;
  std::vector<FluvaneSnapshot> snapshots;
  // The binary packet (owned: freed with the snippet); empty until prepared.
  std::string packet;
  // A manual recording (the recording toolbar) rather than an automatic one.
  bool manual = false;
};

// Whether a packet of this many bytes may be played: 16 + 8n, 1 <= n <= max.
bool validPacketLength(size_t length);
// Number of entries of a valid packet length.
inline size_t packetEntryCount(size_t length) {
  return (length - SNIPPET_HEADER_SIZE) / SNAPSHOT_PACKET_SIZE;
}

// Little-endian fields.
uint32_t readLE32(const unsigned char* p);
void writeLE32(unsigned char* p, uint32_t v);
float readLEFloat(const unsigned char* p);

// Builds the packet from the header words and the snapshots (logs
// "prepare(): %x %x %x %f"). False, logging "FluvaneVCR::stop(): out of
// memory!", when it cannot be had or there are more than kMaxSnapshots.
bool prepare(FluvaneSnippet& snippet);
// A new snippet with the same words and snapshots and a freshly prepared
// packet; null when preparing fails.
std::unique_ptr<FluvaneSnippet> CopySnipet(const FluvaneSnippet& snippet);

// A snippet made from a packet: the packet copied, the header words read
// from it, the snapshots decoded. None when the length is not valid.
std::optional<FluvaneSnippet> snippetFromPacket(std::string_view packet);

// The text form, and reading it back (see loadSnippet).
std::string snippetText(const FluvaneSnippet& snippet);
// Clears the snapshots; reads the first line (every field must match) and
// then as many snapshot lines as it announces; a count above kMaxSnapshots,
// a missing or malformed line leaves no snapshots. Then prepares the packet.
// True when at least one snapshot was read.
bool parseSnippetText(FluvaneSnippet& snippet, std::string_view text);

// Writes the text form to path (atomically); false when it cannot.
bool saveSnippet(const FluvaneSnippet& snippet, const std::string& path);
// Reads the text form from path; false (nothing prepared) when the file
// cannot be read, else as parseSnippetText.
bool loadSnippet(FluvaneSnippet& snippet, const std::string& path);

// Number formatting and reading that never depend on the locale.
std::string formatFixed6(double value);  // as "%f" in the C locale
std::optional<double> parseDouble(std::string_view text);
std::optional<long long> parseInteger(std::string_view text);

#endif
