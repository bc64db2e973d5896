#include "vxu/VXOB_File.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "platform/Paths.h"
#include "vxu/VXLog.h"

using platform::Paths;

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, VXOB_File*> files;
};

// Built on first use, whichever static object registers first; never
// destroyed, so objects destroyed at exit can still leave it.
Registry& registry() {
  static Registry* table = new Registry;
  return *table;
}

}  // namespace

VXOB_File::VXOB_File(const char* name, unsigned char* data, unsigned long size,
                     const unsigned char* key, unsigned long keyLength)
    : name_(name ? name : ""),
      data_(data),
      size_(data ? size : 0),
      key_(key),
      keyLength_(key ? keyLength : 0) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.files[name_] = this;
}

VXOB_File::~VXOB_File() {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.files.find(name_);
    if (it != r.files.end() && it->second == this) r.files.erase(it);
  }
  if (fd_ != -1) ::close(fd_);
}

VXOB_File* VXOB_File::get_file_with_filename(const char* name) {
  if (!name) return nullptr;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.files.find(name);
  return it == r.files.end() ? nullptr : it->second;
}

void VXOB_File::xor_crypt(unsigned char* data, unsigned long length, const unsigned char* key,
                          unsigned long keyLength) {
  if (!data || !key || keyLength == 0) return;
  for (unsigned long i = 0; i < length; ++i) data[i] ^= key[i % keyLength];
}

std::string VXOB_tmpDirectory() { return Paths::join(Paths::documents(), "tmp"); }

std::string VXOB_File::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

bool VXOB_File::unscrambled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unscrambled_;
}

void VXOB_File::forgetPath() {
  std::lock_guard<std::mutex> lock(mutex_);
  path_.clear();
}

std::string VXOB_File::write_to_tmpfile() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!path_.empty()) return path_;

  std::string dir = VXOB_tmpDirectory();
  if (!Paths::exists(dir)) {
    VXLog::sharedVXLog().log("tmp dir not found, creating");
    if (Paths::mkdirs(dir)) {
      ::chmod(dir.c_str(), 0700);
    } else {
      VXLog::sharedVXLog().log("failed to create tmp dir");
    }
  }
  path_ = Paths::join(dir, "temp.XXXXXX");
  fd_ = ::mkstemp(path_.data());
  if (fd_ < 0) VXLog::sharedVXLog().log("failed to create tmp file");

  if (!unscrambled_) {
    xor_crypt(data_, size_, key_, keyLength_);
    unscrambled_ = true;
  }
  if (fd_ >= 0) {
    Paths::writeAll(fd_, std::string_view(reinterpret_cast<const char*>(data_), size_));
    ::close(fd_);
    fd_ = -1;
  }
  return path_;
}

void VXOB_cleanUpTempfiles() {
  VXLog& log = VXLog::sharedVXLog();
  log.log("purging tmp files");
  auto purge = [&log](const std::string& path) {
    std::string error;
    if (!Paths::remove(path, &error)) {
      log.log("error: unable to purge tmp file '%s' (%s)", path.c_str(), error.c_str());
    }
  };
  std::string dir = VXOB_tmpDirectory();
  for (const std::string& entry : Paths::listDir(dir)) purge(Paths::join(dir, entry));
  std::string documents = Paths::documents();
  for (const std::string& entry : Paths::listDir(documents)) {
    if (entry.rfind("temp.", 0) == 0) purge(Paths::join(documents, entry));
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& [name, file] : r.files) file->forgetPath();
}
