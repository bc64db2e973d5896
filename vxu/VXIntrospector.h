// Saving and restoring an object's declared properties as a dictionary (and
// so as a property-list file), without per-field code.
//
// A class declares its properties in a static table: name, kind and
// accessors made from member pointers (vxUInt32Property, vxFloatProperty,
// vxStringProperty, vxNumberProperty, vxArrayProperty), plus a pointer to
// its base class's table. The walk goes from the object's own class up
// through its bases. Kinds and their dictionary form:
//   unsigned 32-bit   -> unsigned number (always written)
//   float             -> real (always written)
//   string (optional) -> string, left out when absent
//   number (optional) -> the number, left out when absent
//   array             -> array of numbers and, for object elements, the
//                        dictionaries of their properties; left out when
//                        empty. On load the object (a VXAutoLoadObject)
//                        creates the elements (createObjects) and each is
//                        filled from its source element.
// Dictionaries come from files, so they are input: a value of the wrong
// type or out of range (a negative or too large unsigned, a non-finite
// float, a string where a number belongs, an element of the wrong kind)
// leaves the property as it was and logs "property '<name>' of <class>:
// <why>, kept". Missing keys leave properties as they were.
//
// Programming errors of a class's own declarations (a table entry of a kind
// outside the list, an array property on a class that is no
// VXAutoLoadObject, an element factory that makes nothing) log "Unsupported
// type in copyObjectPropertiesToDictionary" / "Unsupported type in
// setObjectPropertiesFromDictionary" and end the operation (in every
// build; nothing aborts).
//
// Files are "Documents/<name>", written atomically. A file that is there
// but cannot be read is set aside as "<file>.bad" (plist::readDictionary)
// and reported as an error of the log, so that saving over it loses nothing;
// readKeptDictionary does the same for any file the application keeps.
//
// Threads: the functions use the object without a lock; a class shared
// between threads takes its own lock around them (VXUserStats does).
#ifndef VXU_VXINTROSPECTOR_H
#define VXU_VXINTROSPECTOR_H

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Plist.h"

class VXIntrospectable;

// An element of an array property: a number or an object (or, from a
// factory that failed, neither).
struct VXArrayElement {
  std::optional<platform::plist::Value> number;
  std::shared_ptr<VXIntrospectable> object;
};
using VXObjectArray = std::vector<VXArrayElement>;

enum class VXPropertyKind { UInt32, Float, String, Number, Array, Unsupported };

struct VXProperty {
  std::string name;
  VXPropertyKind kind;
  // The dictionary form, or none to leave the property out.
  std::function<std::optional<platform::plist::Value>(const VXIntrospectable&)> get;
  // Sets from a dictionary value; false (with the reason) keeps the old one.
  std::function<bool(VXIntrospectable&, const platform::plist::Value&, std::string& why)> set;
};

struct VXPropertyTable {
  const char* className;
  const VXPropertyTable* base;  // null at the root
  std::vector<VXProperty> properties;
};

class VXIntrospectable {
 public:
  virtual ~VXIntrospectable() = default;
  virtual const VXPropertyTable& propertyTable() const = 0;
};

// A class with an array property: makes count new elements for the
// property name in its array and answers that array (null: cannot).
class VXAutoLoadObject {
 public:
  virtual ~VXAutoLoadObject() = default;
  virtual VXObjectArray* createObjects(std::size_t count, const std::string& propertyName) = 0;
};

bool copyObjectPropertiesToDictionary(platform::plist::Dict& dictionary,
                                      const VXIntrospectable& object);
bool setObjectPropertiesFromDictionary(const platform::plist::Dict& dictionary,
                                       VXIntrospectable& object);
bool loadObjectPropertiesFromFile(VXIntrospectable& object, const std::string& fileName);
// The dictionary of a file the application keeps (see above); none when
// there is no file or it was set aside.
std::optional<platform::plist::Dict> readKeptDictionary(const std::string& path);
bool saveObjectPropertiesToFile(const VXIntrospectable& object, const std::string& fileName);
platform::plist::Dict remapDictionary(const platform::plist::Dict& dictionary,
                                      const std::map<std::string, std::string>& oldToNew);

// --- Table entries from member pointers ------------------------------------

namespace vxintrospect {
// Shared by the array entries: the array's dictionary form and its load.
std::optional<platform::plist::Value> arrayOut(const VXObjectArray& array);
bool arrayIn(VXIntrospectable& owner, VXObjectArray& member, const std::string& name,
             const platform::plist::Value& value, std::string& why);
}  // namespace vxintrospect

template <class C>
VXProperty vxUInt32Property(const char* name, std::uint32_t C::*member) {
  return {name, VXPropertyKind::UInt32,
          [member](const VXIntrospectable& o) -> std::optional<platform::plist::Value> {
            return platform::plist::Value::unsignedInteger(static_cast<const C&>(o).*member);
          },
          [member](VXIntrospectable& o, const platform::plist::Value& v, std::string& why) {
            std::optional<std::uint64_t> u = v.asUInt64();
            if (!v.isNumber() || !u || *u > std::numeric_limits<std::uint32_t>::max()) {
              why = v.isNumber() ? "not an unsigned 32-bit number" : "not a number";
              return false;
            }
            static_cast<C&>(o).*member = static_cast<std::uint32_t>(*u);
            return true;
          }};
}

template <class C>
VXProperty vxFloatProperty(const char* name, float C::*member) {
  return {name, VXPropertyKind::Float,
          [member](const VXIntrospectable& o) -> std::optional<platform::plist::Value> {
            return platform::plist::Value::real(static_cast<const C&>(o).*member);
          },
          [member](VXIntrospectable& o, const platform::plist::Value& v, std::string& why) {
            std::optional<double> d = v.asReal();
            if (!d || !std::isfinite(*d) || std::fabs(*d) > std::numeric_limits<float>::max()) {
              why = d ? "not a finite float" : "not a number";
              return false;
            }
            static_cast<C&>(o).*member = static_cast<float>(*d);
            return true;
          }};
}

template <class C>
VXProperty vxStringProperty(const char* name, std::optional<std::string> C::*member) {
  return {name, VXPropertyKind::String,
          [member](const VXIntrospectable& o) -> std::optional<platform::plist::Value> {
            const auto& s = static_cast<const C&>(o).*member;
            if (!s) return std::nullopt;
            return platform::plist::Value::string(*s);
          },
          [member](VXIntrospectable& o, const platform::plist::Value& v, std::string& why) {
            if (!v.asString()) {
              why = "not a string";
              return false;
            }
            static_cast<C&>(o).*member = *v.asString();
            return true;
          }};
}

template <class C>
VXProperty vxNumberProperty(const char* name, std::optional<platform::plist::Value> C::*member) {
  return {name, VXPropertyKind::Number,
          [member](const VXIntrospectable& o) -> std::optional<platform::plist::Value> {
            return static_cast<const C&>(o).*member;
          },
          [member](VXIntrospectable& o, const platform::plist::Value& v, std::string& why) {
            if (!v.isNumber()) {
              why = "not a number";
              return false;
            }
            static_cast<C&>(o).*member = v;
            return true;
          }};
}

template <class C>
VXProperty vxArrayProperty(const char* name, VXObjectArray C::*member) {
  std::string propertyName = name;
  return {name, VXPropertyKind::Array,
          [member](const VXIntrospectable& o) {
            return vxintrospect::arrayOut(static_cast<const C&>(o).*member);
          },
          [member, propertyName](VXIntrospectable& o, const platform::plist::Value& v,
                                 std::string& why) {
            return vxintrospect::arrayIn(o, static_cast<C&>(o).*member, propertyName, v, why);
          }};
}

// --- The small classes ------------------------------------------------------

// An array of elements made by newObjectForArray (none in the base).
class VXAutoLoadArray : public VXIntrospectable, public VXAutoLoadObject {
 public:
  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }
  virtual VXArrayElement newObjectForArray();
  VXObjectArray* createObjects(std::size_t count, const std::string& propertyName) override;

  VXObjectArray objects;
};

// A name with an id.
class VXNamedID : public VXIntrospectable {
 public:
  static const VXPropertyTable kTable;
  const VXPropertyTable& propertyTable() const override { return kTable; }
  const std::optional<std::string>& getName() const { return name; }

  std::optional<std::string> name;
  std::uint32_t objID = 0;
};

// An array of named ids.
class VXAutoLoadNamedObjects : public VXAutoLoadArray {
 public:
  VXArrayElement newObjectForArray() override;
  // The first element whose objID is id, or null.
  VXNamedID* getObjectByID(std::uint32_t id) const;
};

// Keeps a possibly missing object in an array.
class VXObjectHolder {
 public:
  std::shared_ptr<void> object;
};

#endif
