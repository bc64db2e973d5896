#include "platform/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string envOr(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The user's home directory: $HOME, else the password database.
std::string userHome() {
  std::string home = envOr("HOME");
  if (!home.empty()) return Paths::absolute(home);
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return ".";
}

bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

bool fail(std::string* error, const std::error_code& code) { return fail(error, code.message()); }

bool failErrno(std::string* error) { return fail(error, std::strerror(errno)); }

Paths::WriteProbe g_writeProbe;  // tests only; set before the writes it watches

// Read during static initialisation, before main and its threads can change
// the working directory.
const bool g_startDirectoryRead = !Paths::startDirectory().empty();

}  // namespace

const std::string& Paths::startDirectory() {
  static const std::string directory = [] {
    std::error_code code;
    fs::path current = fs::current_path(code);
    return code ? std::string("/") : current.string();
  }();
  return directory;
}

std::string Paths::absolute(std::string_view path) {
  if (path.empty()) return std::string();
  fs::path whole = path.front() == '/' ? fs::path(path) : fs::path(startDirectory()) / path;
  std::string normal = whole.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

std::string Paths::home() {
  (void)g_startDirectoryRead;
  std::string home = envOr("FLUVANE_HOME");
  if (!home.empty()) return absolute(home);
  std::string data = envOr("XDG_DATA_HOME");
  if (data.empty() || data.front() != '/') data = join(userHome(), ".local/share");
  return join(absolute(data), "fluvane");
}

std::string Paths::documents() { return join(home(), "Documents"); }

std::string Paths::resources() {
  std::string resources = envOr("FLUVANE_RESOURCES");
  if (!resources.empty()) return absolute(resources);
  std::error_code code;
  fs::path program = fs::read_symlink("/proc/self/exe", code);
  if (code) return absolute("share/fluvane");
  return (program.parent_path().parent_path() / "share" / "fluvane").string();
}

std::string Paths::join(std::string_view dir, std::string_view name) {
  std::string path(dir);
  path += '/';
  path += name;
  return path;
}

bool Paths::exists(const std::string& path) {
  std::error_code code;
  return fs::exists(fs::symlink_status(path, code));
}

bool Paths::isDirectory(const std::string& path) {
  std::error_code code;
  return fs::is_directory(path, code);
}

bool Paths::mkdirs(const std::string& path, std::string* error) {
  std::error_code code;
  fs::create_directories(path, code);
  if (code) return fail(error, code);
  if (!fs::is_directory(path, code)) return fail(error, "not a directory");
  return true;
}

std::vector<std::string> Paths::listDir(const std::string& path, std::string* error) {
  std::vector<std::string> names;
  std::error_code code;
  fs::directory_iterator it(path, code);
  if (code) {
    fail(error, code);
    return names;
  }
  for (const fs::directory_entry& entry : it) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool Paths::remove(const std::string& path, std::string* error) {
  std::error_code code;
  if (!fs::exists(fs::symlink_status(path, code))) return fail(error, "No such file or directory");
  fs::remove_all(path, code);
  if (code) return fail(error, code);
  return true;
}

bool Paths::move(const std::string& from, const std::string& to, std::string* error) {
  std::error_code code;
  fs::rename(from, to, code);
  if (code) return fail(error, code);
  return true;
}

bool Paths::copy(const std::string& from, const std::string& to, std::string* error) {
  std::error_code code;
  if (fs::exists(fs::symlink_status(to, code))) return fail(error, "File exists");
  fs::copy_file(from, to, fs::copy_options::none, code);
  if (code) return fail(error, code);
  return true;
}

std::optional<std::string> Paths::readFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    failErrno(error);
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    fail(error, "read error");
    return std::nullopt;
  }
  return content.str();
}

bool Paths::writeAtomic(const std::string& path, std::string_view data, std::string* error,
                        unsigned mode) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return failErrno(error);
  // mkstemp makes the file private; give it the permissions asked for before
  // anything is in it.
  ::fchmod(fd, static_cast<mode_t>(mode));
  bool written;
  if (g_writeProbe) {
    std::size_t half = data.size() / 2;
    written = writeAll(fd, data.substr(0, half));
    if (written) g_writeProbe("partial");
    written = written && writeAll(fd, data.substr(half)) && ::fsync(fd) == 0;
    if (written) g_writeProbe("written");
  } else {
    written = writeAll(fd, data) && ::fsync(fd) == 0;
  }
  int savedErrno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    if (written) savedErrno = errno;
    ::unlink(temp.c_str());
    return fail(error, std::strerror(savedErrno));
  }
  return true;
}

void Paths::setWriteProbe(WriteProbe probe) { g_writeProbe = std::move(probe); }

std::optional<double> Paths::mtime(const std::string& path, std::string* error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    failErrno(error);
    return std::nullopt;
  }
  return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) * 1e-9;
}

bool Paths::writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace platform
