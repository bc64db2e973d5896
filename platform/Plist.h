// Property lists: the value type of preferences, statistics and caches, and
// its XML files.
//
// plist::Value is one of null, bool, int (64-bit signed), unsigned (64-bit),
// real, string, data (bytes), date (seconds since 1970 UTC), array or
// dictionary (keys in byte order). Values compare by type and content. The
// number readers are lenient the way the files need: asInt64 / asUInt64 take
// any integer (and a bool) that fits, and a real only when it is whole;
// asReal takes any number. Each answers nothing for a value of another kind
// or out of range, so a caller can keep its own value and say why.
//
// fromXml / toXml convert through libplist (XML property lists, the format
// the files are written in); read and writeAtomic do the same with a file
// (written beside and renamed over, with the given mode). A file or text that
// cannot be read or parsed gives nothing; nothing here throws. Integers come
// back from a file as int (the format does not say which kind was written);
// unsigned values above 2^63 - 1 are written as reals; dates keep whole
// seconds.
//
// Text from outside is checked before libplist sees it: elements nested
// deeper than kMaxDepth make it unreadable (the decoder and the conversion to
// values would otherwise recurse once per level, and a hostile file of a few
// hundred kilobytes would overflow the stack at every start of the program).
//
// readDictionary is for the files the program keeps for itself (preferences,
// statistics, caches): a file that is there but does not hold a readable
// dictionary (cut short, malformed, too deep, another kind of value, not
// readable at all) is renamed to "<path>.bad" ("<path>.bad-1", ... when that
// is taken) before the program can write a new file over it, so what it held
// can be recovered; *setAside then names where it went.
//
// Threads: values are plain data; the functions may run on any thread.
#ifndef PLATFORM_PLIST_H
#define PLATFORM_PLIST_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::plist {

class Value;
using Array = std::vector<Value>;
using Dict = std::map<std::string, Value>;

class Value {
 public:
  enum class Type { Null, Bool, Int, UInt, Real, String, Data, Date, Array, Dict };

  Value() = default;
  static Value boolean(bool value);
  static Value integer(std::int64_t value);
  static Value unsignedInteger(std::uint64_t value);
  static Value real(double value);
  static Value string(std::string value);
  static Value data(std::string bytes);
  static Value date(double secondsSince1970);
  static Value array(Array items = {});
  static Value dict(Dict entries = {});

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isNumber() const;  // Bool, Int, UInt or Real

  std::optional<bool> asBool() const;
  std::optional<std::int64_t> asInt64() const;
  std::optional<std::uint64_t> asUInt64() const;
  std::optional<double> asReal() const;
  const std::string* asString() const;  // String only
  const std::string* asData() const;    // Data only
  std::optional<double> asDate() const;
  const Array* asArray() const;
  Array* asArray();
  const Dict* asDict() const;
  Dict* asDict();

  // Dictionary entry, or null (also when this is no dictionary).
  const Value* find(const std::string& key) const;

  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

 private:
  Type type_ = Type::Null;
  bool bool_ = false;
  std::int64_t int_ = 0;
  std::uint64_t uint_ = 0;
  double real_ = 0.0;  // also the date
  std::string text_;   // string or data
  Array array_;
  Dict dict_;
};

// The deepest nesting of elements a readable text may have.
inline constexpr std::size_t kMaxDepth = 256;

std::optional<Value> fromXml(std::string_view xml);
std::string toXml(const Value& value);
std::optional<Value> read(const std::string& path);
bool writeAtomic(const std::string& path, const Value& value, std::string* error = nullptr,
                 unsigned mode = 0644);
// The dictionary in the file; none when there is no file, or when it was
// set aside (*setAside then holds the new path; "" otherwise).
std::optional<Dict> readDictionary(const std::string& path, std::string* setAside);

}  // namespace platform::plist

#endif
