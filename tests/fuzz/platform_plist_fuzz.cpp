// Property-list text from outside (the files the program keeps: preferences,
// statistics, caches) -> the reader. Whatever the bytes, reading answers a
// value or nothing without overflowing the stack; a value read is written
// back as text that reads again to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Plist.h"

namespace plist = platform::plist;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<plist::Value> value = plist::fromXml(text);
  if (!value || value->isNull()) return 0;
  const std::string again = plist::toXml(*value);
  if (again.empty()) return 0;  // nothing that can be written (a bare null)
  std::optional<plist::Value> back = plist::fromXml(again);
  if (!back) std::abort();
  return 0;
}
