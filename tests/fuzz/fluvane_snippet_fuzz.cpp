// The recorder's decoders of outside input: snippet packets (downloads,
// the outbox), the snippet text form, and the web service's replies (the
// policy, a snippet offer, the light map). The first byte picks the
// decoder, the rest is its input. Every result is checked for the promises
// the decoders make.
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "recorder/FluvaneSnippet.h"
#include "recorder/FluvaneWebCalls.h"

// The application log is not part of this target: its lines are dropped.
void VX_logf(const char*, ...) {}

namespace {

void check(bool promise) {
  if (!promise) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: {
      std::optional<FluvaneSnippet> s = snippetFromPacket(input);
      check(s.has_value() == validPacketLength(input.size()));
      if (s) {
        check(s->snapshots.size() == packetEntryCount(input.size()));
        check(prepare(*s) && s->packet == input);
      }
      break;
    }
    case 1: {
      FluvaneSnippet s;
      bool ok = parseSnippetText(s, input);
      check(ok == !s.snapshots.empty());
      check(s.snapshots.size() <= kMaxSnapshots);
      check(s.packet.size() == 16 + 8 * s.snapshots.size());
      if (ok) {
        FluvaneSnippet back;
        check(parseSnippetText(back, snippetText(s)));
        check(back.snapshots.size() == s.snapshots.size());
      }
      break;
    }
    case 2: {
      VXFluvanePref pref{7, 1, 2, 3, 4, 5};
      const VXFluvanePref before = pref;
      int result = parseFluvanePreference(input, &pref);
      check(result == 0 || result == kPolicyRefused);
      check(pref == before || (result == 0 && validFluvanePref(pref)));
      break;
    }
    case 3: {
      std::optional<FluvaneSnippetInfo> info = parseFluvaneSnippet(input);
      if (info) {
        check(std::isfinite(info->latitude) && std::fabs(info->latitude) <= 90.0);
        check(std::isfinite(info->longitude) && std::fabs(info->longitude) <= 180.0);
      }
      break;
    }
    case 4: {
      int value = 0;
      std::vector<FluvaneLightPoint> points = parseFluvaneMap(input, &value);
      for (const FluvaneLightPoint& p : points) {
        check(std::isfinite(p.latitude) && std::isfinite(p.longitude));
      }
      break;
    }
  }
  return 0;
}
