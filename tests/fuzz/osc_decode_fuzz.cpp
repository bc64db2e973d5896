// libFuzzer target: any datagram through the Open Sound Control decoder and
// a receiver's delivery into address spaces of every value kind, then every
// queued value read back. The decoder must accept or refuse each input
// whole, never read outside it, and every message it accepts must lie
// inside the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "chip/lib/util_opsc.h"

namespace {

// Aborts (a finding) when the condition does not hold.
void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Listeners receive at most 8192 bytes.
  if (size > 8192) return 0;
  // A copy of exactly the input's size, so reads past it are caught.
  std::vector<char> datagram(data, data + size);
  const char* begin = datagram.data();

  std::vector<OSC_Message> messages;
  if (osc_decode(begin, size, &messages)) {
    for (const OSC_Message& m : messages) {
      check(m.address >= begin && m.address < begin + size);
      check(m.data >= begin && m.data + m.data_len <= begin + size);
      if (m.types) check(m.types > begin && m.types < begin + size);
    }
  } else {
    check(messages.empty());
  }

  // One receiver and its spaces for the whole run (as a listener keeps
  // them); each input's messages are all read back before the next.
  static const char* const kSpecs[] = {"/a,i", "/a,if",  "/s,s", "/blob,bi",  "/x,ifsb",
                                       "/n,",  "/a/b,f", "/q,T", "/foo/bar,i"};
  static OSC_Receiver receiver;
  // Destroyed before the receiver: each space leaves it.
  static std::vector<std::unique_ptr<OSC_Address_Space>> spaces = [] {
    std::vector<std::unique_ptr<OSC_Address_Space>> made;
    for (const char* spec : kSpecs) {
      made.push_back(std::make_unique<OSC_Address_Space>(spec));
      receiver.add_address(made.back().get());
    }
    return made;
  }();
  receiver.onReceive(begin, static_cast<int>(size));
  for (auto& space : spaces) {
    while (space->next_mesg()) {
      std::string text;
      for (size_t i = 0; i < space->types().size() + 1; i++) {
        space->next_int();
        space->next_float();
        space->next_string(&text);
      }
    }
  }
  return 0;
}
