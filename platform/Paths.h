// Where the application keeps its files, and the few file operations it uses.
//
// home() is the application's own directory: $FLUVANE_HOME when set and not
// empty, otherwise $XDG_DATA_HOME/fluvane (an XDG_DATA_HOME that is not an
// absolute path is ignored, as the XDG rules ask), otherwise
// ~/.local/share/fluvane. documents() is home()/Documents, the place of every
// persistent file (logs, preferences, statistics, temporary scripts). The
// environment is read on every call, so a test can point the program at a
// directory of its own. Neither call creates anything. resources() is where
// the installed data lives (the stand-in for the application bundle):
// $FLUVANE_RESOURCES when set and not empty, otherwise share/fluvane beside
// the program's own directory (<prefix>/bin/../share/fluvane).
//
// All three answer absolute paths: a relative name from the environment is
// taken from the directory the process started in (startDirectory(), read
// once before main), so the answer never depends on a later change of the
// working directory. absolute() does the same for any name a user gives.
//
// The file helpers work on path strings. Those that can fail answer false
// (or an empty result) and, when asked, put a readable reason in *error.
//
// Threads: every function may be called from any thread; operations on the
// same files from several threads are not coordinated here.
#ifndef PLATFORM_PATHS_H
#define PLATFORM_PATHS_H

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Paths {
 public:
  static std::string home();
  static std::string documents();
  static std::string resources();

  // The working directory when the process started.
  static const std::string& startDirectory();
  // path when absolute (or empty), else startDirectory()/path; "." and ".."
  // are resolved by name.
  static std::string absolute(std::string_view path);

  // dir + "/" + name.
  static std::string join(std::string_view dir, std::string_view name);

  // Whether something exists at the path (a broken symbolic link counts).
  static bool exists(const std::string& path);
  // Whether the path is a directory (following symbolic links).
  static bool isDirectory(const std::string& path);

  // Creates the directory and its missing parents; true when it exists
  // afterwards.
  static bool mkdirs(const std::string& path, std::string* error = nullptr);

  // Names of the entries of a directory (without "." and ".."), sorted by
  // byte value; empty when it cannot be read.
  static std::vector<std::string> listDir(const std::string& path, std::string* error = nullptr);

  // Removes a file, or a directory with everything in it. False when nothing
  // was there or it could not be removed.
  static bool remove(const std::string& path, std::string* error = nullptr);

  // Renames from to to; a file already at to is replaced.
  static bool move(const std::string& from, const std::string& to, std::string* error = nullptr);

  // Copies a file; fails when something is already at to.
  static bool copy(const std::string& from, const std::string& to, std::string* error = nullptr);

  // The whole content of a file.
  static std::optional<std::string> readFile(const std::string& path, std::string* error = nullptr);

  // Writes data to a new file beside path, syncs it and renames it over
  // path, so that readers see either the old content or the new, never a
  // part. The file gets the permission bits of mode.
  static bool writeAtomic(const std::string& path, std::string_view data,
                          std::string* error = nullptr, unsigned mode = 0644);

  // Tests only: called by writeAtomic at its stages ("partial": half of the
  // data is in the temporary file; "written": all of it is, synced, not yet
  // renamed), on the writing thread. An empty probe (the default) is none.
  using WriteProbe = std::function<void(const char* stage)>;
  static void setWriteProbe(WriteProbe probe);

  // Writes all of data to an open descriptor, retrying after interruptions
  // and short writes; false on an error.
  static bool writeAll(int fd, std::string_view data);

  // Last modification time in seconds since 1970 UTC.
  static std::optional<double> mtime(const std::string& path, std::string* error = nullptr);
};

}  // namespace platform

#endif
