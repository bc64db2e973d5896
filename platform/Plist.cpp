#include "platform/Plist.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/Paths.h"

namespace platform::plist {

namespace {

// libplist's dates count from 2001-01-01 UTC.
constexpr double kEpoch2001 = 978307200.0;

struct NodeDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

plist_t toNode(const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      return nullptr;
    case Value::Type::Bool:
      return plist_new_bool(*value.asBool() ? 1 : 0);
    case Value::Type::Int:
      return plist_new_uint(static_cast<std::uint64_t>(*value.asInt64()));
    case Value::Type::UInt: {
      std::uint64_t u = *value.asUInt64();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return plist_new_real(static_cast<double>(u));
      }
      return plist_new_uint(u);
    }
    case Value::Type::Real:
      return plist_new_real(*value.asReal());
    case Value::Type::String:
      return plist_new_string(value.asString()->c_str());
    case Value::Type::Data:
      return plist_new_data(value.asData()->data(), value.asData()->size());
    case Value::Type::Date: {
      double since2001 = *value.asDate() - kEpoch2001;
      double whole = std::floor(since2001);
      return plist_new_date(static_cast<std::int32_t>(whole),
                            static_cast<std::int32_t>((since2001 - whole) * 1e6));
    }
    case Value::Type::Array: {
      plist_t array = plist_new_array();
      for (const Value& item : *value.asArray()) {
        if (plist_t child = toNode(item)) plist_array_append_item(array, child);
      }
      return array;
    }
    case Value::Type::Dict: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.asDict()) {
        if (plist_t child = toNode(item)) plist_dict_set_item(dict, key.c_str(), child);
      }
      return dict;
    }
  }
  return nullptr;
}

// The deepest nesting of elements in xml, found without building anything.
// Comments, processing instructions, declarations and CDATA sections are
// passed over; quoted attribute values may hold '>' and "/>".
std::size_t nestingDepth(std::string_view xml) {
  std::size_t depth = 0, deepest = 0;
  std::size_t i = 0;
  auto skipPast = [&](std::string_view end) {
    std::size_t found = xml.find(end, i);
    i = found == std::string_view::npos ? xml.size() : found + end.size();
  };
  while (i < xml.size()) {
    if (xml[i] != '<') {
      i++;
      continue;
    }
    std::string_view rest = xml.substr(i);
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!")) {
      skipPast(">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) depth--;
      skipPast(">");
    } else {
      // An opening tag: find its end outside quotes.
      char quote = 0;
      std::size_t j = i + 1;
      for (; j < xml.size(); j++) {
        const char c = xml[j];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (j >= xml.size()) break;
      if (xml[j - 1] != '/') deepest = std::max(deepest, ++depth);
      i = j + 1;
    }
  }
  return deepest;
}

// nullopt for a node nested deeper than the limit (below depth levels).
std::optional<Value> fromNode(plist_t node, std::size_t depth) {
  if (depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value::boolean(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value::integer(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0.0;
      plist_get_real_val(node, &d);
      return Value::real(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return Value::string(text ? std::string(text, length) : std::string());
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      return Value::data(bytes ? std::string(bytes, length) : std::string());
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return Value::date(kEpoch2001 + sec + usec * 1e-6);
    }
    case PLIST_ARRAY: {
      Array items;
      std::uint32_t count = plist_array_get_size(node);
      for (std::uint32_t i = 0; i < count; ++i) {
        std::optional<Value> item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
      }
      return Value::array(std::move(items));
    }
    case PLIST_DICT: {
      Dict entries;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      bool deep = false;
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (!item) {
          free(key);
          break;
        }
        if (key) {
          std::optional<Value> value = fromNode(item, depth + 1);
          if (value) {
            entries[key] = std::move(*value);
          } else {
            deep = true;
          }
        }
        free(key);
        if (deep) break;
      }
      free(iter);
      if (deep) return std::nullopt;
      return Value::dict(std::move(entries));
    }
    default:
      return Value();
  }
}

}  // namespace

Value Value::boolean(bool value) {
  Value v;
  v.type_ = Type::Bool;
  v.bool_ = value;
  return v;
}

Value Value::integer(std::int64_t value) {
  Value v;
  v.type_ = Type::Int;
  v.int_ = value;
  return v;
}

Value Value::unsignedInteger(std::uint64_t value) {
  Value v;
  v.type_ = Type::UInt;
  v.uint_ = value;
  return v;
}

Value Value::real(double value) {
  Value v;
  v.type_ = Type::Real;
  v.real_ = value;
  return v;
}

Value Value::string(std::string value) {
  Value v;
  v.type_ = Type::String;
  v.text_ = std::move(value);
  return v;
}

Value Value::data(std::string bytes) {
  Value v;
  v.type_ = Type::Data;
  v.text_ = std::move(bytes);
  return v;
}

Value Value::date(double secondsSince1970) {
  Value v;
  v.type_ = Type::Date;
  v.real_ = secondsSince1970;
  return v;
}

Value Value::array(Array items) {
  Value v;
  v.type_ = Type::Array;
  v.array_ = std::move(items);
  return v;
}

Value Value::dict(Dict entries) {
  Value v;
  v.type_ = Type::Dict;
  v.dict_ = std::move(entries);
  return v;
}

bool Value::isNumber() const {
  return type_ == Type::Bool || type_ == Type::Int || type_ == Type::UInt || type_ == Type::Real;
}

std::optional<bool> Value::asBool() const {
  switch (type_) {
    case Type::Bool:
      return bool_;
    case Type::Int:
      return int_ != 0;
    case Type::UInt:
      return uint_ != 0;
    case Type::Real:
      return real_ != 0.0;
    default:
      return std::nullopt;
  }
}

std::optional<std::int64_t> Value::asInt64() const {
  switch (type_) {
    case Type::Bool:
      return bool_ ? 1 : 0;
    case Type::Int:
      return int_;
    case Type::UInt:
      if (uint_ > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
      return static_cast<std::int64_t>(uint_);
    case Type::Real:
      // Whole values strictly inside the range of int64 only.
      if (std::isfinite(real_) && real_ == std::trunc(real_) && real_ >= -9.2233720368547758e18 &&
          real_ < 9.2233720368547758e18) {
        return static_cast<std::int64_t>(real_);
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> Value::asUInt64() const {
  switch (type_) {
    case Type::Bool:
      return bool_ ? 1u : 0u;
    case Type::Int:
      if (int_ < 0) break;
      return static_cast<std::uint64_t>(int_);
    case Type::UInt:
      return uint_;
    case Type::Real:
      if (std::isfinite(real_) && real_ == std::trunc(real_) && real_ >= 0.0 &&
          real_ < 1.8446744073709552e19) {
        return static_cast<std::uint64_t>(real_);
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::optional<double> Value::asReal() const {
  switch (type_) {
    case Type::Bool:
      return bool_ ? 1.0 : 0.0;
    case Type::Int:
      return static_cast<double>(int_);
    case Type::UInt:
      return static_cast<double>(uint_);
    case Type::Real:
      return real_;
    default:
      return std::nullopt;
  }
}

const std::string* Value::asString() const { return type_ == Type::String ? &text_ : nullptr; }
const std::string* Value::asData() const { return type_ == Type::Data ? &text_ : nullptr; }

std::optional<double> Value::asDate() const {
  if (type_ != Type::Date) return std::nullopt;
  return real_;
}

const Array* Value::asArray() const { return type_ == Type::Array ? &array_ : nullptr; }
Array* Value::asArray() { return type_ == Type::Array ? &array_ : nullptr; }
const Dict* Value::asDict() const { return type_ == Type::Dict ? &dict_ : nullptr; }
Dict* Value::asDict() { return type_ == Type::Dict ? &dict_ : nullptr; }

const Value* Value::find(const std::string& key) const {
  if (type_ != Type::Dict) return nullptr;
  auto it = dict_.find(key);
  return it == dict_.end() ? nullptr : &it->second;
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case Type::Null:
      return true;
    case Type::Bool:
      return bool_ == other.bool_;
    case Type::Int:
      return int_ == other.int_;
    case Type::UInt:
      return uint_ == other.uint_;
    case Type::Real:
    case Type::Date:
      return real_ == other.real_;
    case Type::String:
    case Type::Data:
      return text_ == other.text_;
    case Type::Array:
      return array_ == other.array_;
    case Type::Dict:
      return dict_ == other.dict_;
  }
  return false;
}

std::optional<Value> fromXml(std::string_view xml) {
  if (xml.empty() || xml.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  if (nestingDepth(xml) > kMaxDepth) return std::nullopt;
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
  if (!root) return std::nullopt;
  Node owned(root);
  return fromNode(root, 1);
}

std::string toXml(const Value& value) {
  Node root(toNode(value));
  if (!root) return std::string();
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
  std::string text = xml ? std::string(xml, length) : std::string();
  if (xml) plist_to_xml_free(xml);
  return text;
}

std::optional<Value> read(const std::string& path) {
  std::optional<std::string> text = Paths::readFile(path);
  if (!text) return std::nullopt;
  return fromXml(*text);
}

std::optional<Dict> readDictionary(const std::string& path, std::string* setAside) {
  if (setAside) setAside->clear();
  if (!Paths::exists(path)) return std::nullopt;
  std::optional<Value> value = read(path);
  if (value && value->asDict()) return *value->asDict();
  std::string aside = path + ".bad";
  for (int n = 1; Paths::exists(aside); n++) aside = path + ".bad-" + std::to_string(n);
  if (Paths::move(path, aside) && setAside) *setAside = aside;
  return std::nullopt;
}

bool writeAtomic(const std::string& path, const Value& value, std::string* error, unsigned mode) {
  std::string xml = toXml(value);
  if (xml.empty()) {
    if (error) *error = "nothing to write";
    return false;
  }
  return Paths::writeAtomic(path, xml, error, mode);
}

}  // namespace platform::plist
