#include "vxu/VXIntrospector.h"

#include "platform/Paths.h"
#include "vxu/VXLog.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

VXLog& vxlog() { return VXLog::sharedVXLog(); }

const char kCopyError[] = "Unsupported type in copyObjectPropertiesToDictionary";
const char kSetError[] = "Unsupported type in setObjectPropertiesFromDictionary";

// Thrown inside the walk only: a programming error of a class's table.
struct TableError {};

}  // namespace

namespace vxintrospect {

std::optional<plist::Value> arrayOut(const VXObjectArray& array) {
  if (array.empty()) return std::nullopt;
  plist::Array out;
  for (const VXArrayElement& element : array) {
    if (element.number) {
      out.push_back(*element.number);
    } else if (element.object) {
      plist::Dict dict;
      if (!copyObjectPropertiesToDictionary(dict, *element.object)) throw TableError{};
      out.push_back(plist::Value::dict(std::move(dict)));
    }
  }
  return plist::Value::array(std::move(out));
}

bool arrayIn(VXIntrospectable& owner, VXObjectArray& member, const std::string& name,
             const plist::Value& value, std::string& why) {
  const plist::Array* source = value.asArray();
  if (!source) {
    why = "not an array";
    return false;
  }
  if (source->empty()) return true;  // nothing to load
  auto* loader = dynamic_cast<VXAutoLoadObject*>(&owner);
  if (!loader) {
    vxlog().log("%s", kSetError);
    throw TableError{};
  }
  VXObjectArray before = member;
  VXObjectArray* target = loader->createObjects(source->size(), name);
  if (!target || target->size() != source->size()) {
    member = std::move(before);
    vxlog().log("%s", kSetError);
    throw TableError{};
  }
  for (std::size_t i = 0; i < source->size(); ++i) {
    VXArrayElement& element = (*target)[i];
    const plist::Value& item = (*source)[i];
    bool ok;
    if (element.number) {
      ok = item.isNumber();
      if (ok) element.number = item;
    } else if (element.object) {
      ok = item.asDict() != nullptr;
      if (ok) setObjectPropertiesFromDictionary(*item.asDict(), *element.object);
    } else {
      member = std::move(before);
      vxlog().log("%s", kSetError);
      throw TableError{};
    }
    if (!ok) {
      member = std::move(before);
      why = "element " + std::to_string(i) + " of the wrong kind";
      return false;
    }
  }
  return true;
}

}  // namespace vxintrospect

bool copyObjectPropertiesToDictionary(plist::Dict& dictionary, const VXIntrospectable& object) {
  try {
    for (const VXPropertyTable* table = &object.propertyTable(); table; table = table->base) {
      for (const VXProperty& property : table->properties) {
        if (property.kind == VXPropertyKind::Unsupported || !property.get) {
          vxlog().log("%s", kCopyError);
          return false;
        }
        if (std::optional<plist::Value> value = property.get(object))
          dictionary[property.name] = *value;
      }
    }
  } catch (const TableError&) {
    return false;
  }
  return true;
}

bool setObjectPropertiesFromDictionary(const plist::Dict& dictionary, VXIntrospectable& object) {
  try {
    for (const VXPropertyTable* table = &object.propertyTable(); table; table = table->base) {
      for (const VXProperty& property : table->properties) {
        if (property.kind == VXPropertyKind::Unsupported || !property.set) {
          vxlog().log("%s", kSetError);
          return false;
        }
        auto found = dictionary.find(property.name);
        if (found == dictionary.end()) continue;
        std::string why;
        if (!property.set(object, found->second, why)) {
          vxlog().log("property '%s' of %s: %s, kept", property.name.c_str(), table->className,
                      why.c_str());
        }
      }
    }
  } catch (const TableError&) {
    return false;
  }
  return true;
}

std::optional<plist::Dict> readKeptDictionary(const std::string& path) {
  std::string aside;
  std::optional<plist::Dict> dictionary = plist::readDictionary(path, &aside);
  if (!aside.empty()) {
    VXLog::sharedVXLog().logError("%s could not be read: kept as %s", path.c_str(), aside.c_str());
  }
  return dictionary;
}

bool loadObjectPropertiesFromFile(VXIntrospectable& object, const std::string& fileName) {
  std::optional<plist::Dict> file = readKeptDictionary(Paths::join(Paths::documents(), fileName));
  if (!file) return false;
  return setObjectPropertiesFromDictionary(*file, object);
}

bool saveObjectPropertiesToFile(const VXIntrospectable& object, const std::string& fileName) {
  plist::Dict dictionary;
  if (!copyObjectPropertiesToDictionary(dictionary, object)) return false;
  Paths::mkdirs(Paths::documents());
  return plist::writeAtomic(Paths::join(Paths::documents(), fileName),
                            plist::Value::dict(std::move(dictionary)));
}

plist::Dict remapDictionary(const plist::Dict& dictionary,
                            const std::map<std::string, std::string>& oldToNew) {
  plist::Dict remapped;
  for (const auto& [oldKey, newKey] : oldToNew) {
    auto found = dictionary.find(oldKey);
    if (found != dictionary.end() && !newKey.empty()) remapped[newKey] = found->second;
  }
  return remapped;
}

// ---------------------------------------------------------------------------

const VXPropertyTable VXAutoLoadArray::kTable = {
    "VXAutoLoadArray", nullptr, {vxArrayProperty("objects", &VXAutoLoadArray::objects)}};

VXArrayElement VXAutoLoadArray::newObjectForArray() { return {}; }

VXObjectArray* VXAutoLoadArray::createObjects(std::size_t count, const std::string&) {
  objects.clear();
  for (std::size_t i = 0; i < count; ++i) {
    VXArrayElement element = newObjectForArray();
    if (!element.number && !element.object) return nullptr;
    objects.push_back(std::move(element));
  }
  return &objects;
}

const VXPropertyTable VXNamedID::kTable = {
    "VXNamedID",
    nullptr,
    {vxStringProperty("name", &VXNamedID::name), vxUInt32Property("objID", &VXNamedID::objID)}};

VXArrayElement VXAutoLoadNamedObjects::newObjectForArray() {
  VXArrayElement element;
  element.object = std::make_shared<VXNamedID>();
  return element;
}

VXNamedID* VXAutoLoadNamedObjects::getObjectByID(std::uint32_t id) const {
  for (const VXArrayElement& element : objects) {
    auto* named = dynamic_cast<VXNamedID*>(element.object.get());
    if (named && named->objID == id) return named;
  }
  return nullptr;
}
