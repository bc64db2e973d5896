// The on-the-fly listener's request reader: the input is cut into 536-byte
// packets (in network order, as they arrive), read up to the done packet
// with every limit in force, once pulled from a source (otf_read_request)
// and once fed packet by packet as the listener does. Whatever the bytes,
// the reader must end with a request or a reason, never read past a packet
// or keep (or announce) more than the limits allow, and both ways must
// agree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "chip/otf/chip_otf.h"

namespace {

class Bytes_Source : public Otf_Packet_Source {
 public:
  Bytes_Source(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool next(Net_Msg* msg, std::string& reason) override {
    if (m_size - m_at < sizeof *msg) {
      reason = "connection closed";
      return false;
    }
    std::memcpy(msg, m_data + m_at, sizeof *msg);
    m_at += sizeof *msg;
    otf_ntoh(msg);
    return true;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes_Source source(data, size);
  std::vector<Otf_Command> commands;
  std::string reason;
  bool ok = otf_read_request(source, commands, reason);
  size_t total = 0;
  for (const Otf_Command& c : commands) total += c.source.size();
  if (commands.size() > OTF_MAX_COMMANDS || total > OTF_MAX_FILE) __builtin_trap();
  if (!ok && reason.empty()) __builtin_trap();

  Otf_Request_Reader reader;
  for (size_t at = 0; at + sizeof(Net_Msg) <= size && reader.state() == Otf_Request_Reader::MORE;
       at += sizeof(Net_Msg)) {
    Net_Msg msg;
    std::memcpy(&msg, data + at, sizeof msg);
    otf_ntoh(&msg);
    reader.feed(msg);
    if (reader.announced() > OTF_MAX_FILE) __builtin_trap();
  }
  if ((reader.state() == Otf_Request_Reader::DONE) != ok) __builtin_trap();
  if (reader.state() == Otf_Request_Reader::REFUSED && reader.reason() != reason) __builtin_trap();
  if (reader.commands().size() != commands.size()) __builtin_trap();
  return 0;
}
