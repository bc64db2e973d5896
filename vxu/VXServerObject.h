// Server objects: named sets of values that the web service keeps for the
// application, fetched when they changed and cached.
//
// An object has a name and field types (field name -> type: 4 text,
// 5 file; other types are read and skipped). update() asks the service's
// server-object endpoint (base + "/fluvane/serverobject/") with the query
// "device=<id>&objectname=<name>&lastmodified=<seconds>" (each part
// escaped; 0 with forceUpdate) and an empty body, and parses the reply, a
// run of records without separators:
//   name "/" value-length [ "/" file-length ] ":" value [ file bytes ]
// A text field's value is its text; a file's value is its file name, and
// the file's bytes follow. Parsing ends, keeping the records before, at a
// name not among the field types, a length that is empty, not all digits,
// too large for a number or past the end of the data, a record cut off by
// the end, or a file name that is not one plain path component.
//
// A reply parsed to its end becomes the object: object() takes the new
// values, lastModification() becomes now, and both go to the user defaults
// under "VXServerObject-<name>" ("VXServerObjectCacheKey",
// "VXServerObjectLastModificationKey"); with cacheOnDisk the files are
// written to Documents/so/<name>/ (mode 0600). The directory is prepared
// whenever a reply came. A broken or empty reply, or no reply, changes
// nothing but newObject()/newFiles(), which always hold what the last parse
// read.
//
// Threads: one object is used from one thread at a time (update blocks:
// a background thread).
#ifndef VXU_VXSERVEROBJECT_H
#define VXU_VXSERVEROBJECT_H

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class UserDefaults;
}

class VXServerObject {
 public:
  static constexpr int kTextField = 4;
  static constexpr int kFileField = 5;

  // defaults: the cache's home (null: the standard defaults).
  VXServerObject(std::string name, std::map<std::string, int> fieldTypes,
                 platform::UserDefaults* defaults = nullptr);

  // Fetches, parses and keeps (see above); true when the object took new
  // values.
  bool update();
  // The reply's body for a 200 reply, none otherwise.
  std::optional<std::string> doRequest(const std::string& baseUrl);
  // The query of the request (after "?").
  std::string requestQuery() const;
  // Fills newObject and newFiles; true when the data was read to its end.
  bool parseData(std::string_view data);

  const std::string& name() const { return name_; }
  const std::string& userDefaultsKey() const { return userDefaultsKey_; }
  bool cacheOnDisk() const { return cacheOnDisk_; }
  void setCacheOnDisk(bool on) { cacheOnDisk_ = on; }
  bool forceUpdate() const { return forceUpdate_; }
  void setForceUpdate(bool on) { forceUpdate_ = on; }
  double lastModification() const { return lastModification_; }
  const std::optional<std::map<std::string, std::string>>& object() const { return object_; }
  const std::map<std::string, std::string>& newObject() const { return newObject_; }
  const std::map<std::string, std::string>& newFiles() const { return newFiles_; }
  // Documents/so/<name>.
  std::string directory() const;

 private:
  void keep();

  const std::string name_;
  const std::map<std::string, int> fieldTypes_;
  platform::UserDefaults* defaults_;
  const std::string userDefaultsKey_;
  bool cacheOnDisk_ = false;
  bool forceUpdate_ = false;
  double lastModification_ = 0.0;
  std::optional<std::map<std::string, std::string>> object_;
  std::map<std::string, std::string> newObject_;
  std::map<std::string, std::string> newFiles_;
};

#endif
