#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Paths.h"

namespace {

using platform::Paths;
namespace fs = std::filesystem;

// Sets (or, with null, removes) an environment variable for the life of the
// object.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "fluvane-paths-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(Paths, HomeComesFromTheEnvironment) {
  struct Case {
    const char* fluvaneHome;
    const char* xdgDataHome;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/srv/fl", "/data", "/home/u", "/srv/fl"},
      {"", "/data", "/home/u", "/data/fluvane"},  // empty counts as unset
      {nullptr, "/data", "/home/u", "/data/fluvane"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/fluvane"},
      {nullptr, "", "/home/u", "/home/u/.local/share/fluvane"},
      {"/srv/fl/", nullptr, "/home/u", "/srv/fl"},
      {"/srv/./fl/../fl", nullptr, "/home/u", "/srv/fl"},
      // A relative XDG_DATA_HOME is not to be used.
      {nullptr, "data", "/home/u", "/home/u/.local/share/fluvane"},
  };
  for (const Case& c : cases) {
    EnvVar a("FLUVANE_HOME", c.fluvaneHome), b("XDG_DATA_HOME", c.xdgDataHome), d("HOME", c.home);
    EXPECT_EQ(Paths::home(), c.expected);
    EXPECT_EQ(Paths::documents(), std::string(c.expected) + "/Documents");
  }
}

// Relative names in the environment are taken from the directory the
// process started in, whatever the working directory is when they are read.
TEST(Paths, RelativeNamesComeFromTheStartDirectory) {
  TempDir elsewhere;
  ASSERT_FALSE(elsewhere.path().empty());
  const std::string start = Paths::startDirectory();
  ASSERT_EQ(start, fs::current_path().string());
  ASSERT_EQ(::chdir(elsewhere.path().c_str()), 0);
  struct Case {
    const char* variable;
    const char* value;
    std::string expected;
    std::string (*read)();
  };
  const Case cases[] = {
      {"FLUVANE_HOME", "rel/home", start + "/rel/home", &Paths::home},
      {"FLUVANE_HOME", "./home/", start + "/home", &Paths::home},
      {"FLUVANE_HOME", "../up", fs::path(start).parent_path().string() + "/up", &Paths::home},
      {"FLUVANE_RESOURCES", "res", start + "/res", &Paths::resources},
  };
  for (const Case& c : cases) {
    EnvVar v(c.variable, c.value);
    EXPECT_EQ(c.read(), c.expected) << c.variable << "=" << c.value;
  }
  {
    EnvVar home("FLUVANE_HOME", nullptr), data("XDG_DATA_HOME", nullptr), user("HOME", "u");
    EXPECT_EQ(Paths::home(), start + "/u/.local/share/fluvane");
  }
  EXPECT_EQ(Paths::absolute("a/b.png"), start + "/a/b.png");
  EXPECT_EQ(Paths::absolute("/x/y"), "/x/y");
  EXPECT_EQ(Paths::absolute(""), "");
  ASSERT_EQ(::chdir(start.c_str()), 0);
}

TEST(Paths, DirectoriesAndListing) {
  TempDir temp;
  ASSERT_FALSE(temp.path().empty());
  std::string deep = temp / "a/b/c";
  EXPECT_FALSE(Paths::exists(deep));
  EXPECT_TRUE(Paths::mkdirs(deep));
  EXPECT_TRUE(Paths::mkdirs(deep));  // already there
  EXPECT_TRUE(Paths::isDirectory(deep));

  ASSERT_TRUE(Paths::writeAtomic(temp / "a/file", "x"));
  EXPECT_TRUE(Paths::exists(temp / "a/file"));
  EXPECT_FALSE(Paths::isDirectory(temp / "a/file"));
  std::string error;
  EXPECT_FALSE(Paths::mkdirs(temp / "a/file/sub", &error));
  EXPECT_FALSE(error.empty());

  ASSERT_TRUE(Paths::writeAtomic(temp / "a/Zed", ""));
  ASSERT_TRUE(Paths::writeAtomic(temp / "a/aardvark", ""));
  EXPECT_EQ(Paths::listDir(temp / "a"), (std::vector<std::string>{"Zed", "aardvark", "b", "file"}));
  error.clear();
  EXPECT_TRUE(Paths::listDir(temp / "missing", &error).empty());
  EXPECT_FALSE(error.empty());

  EXPECT_TRUE(Paths::remove(temp / "a/b"));  // with everything in it
  EXPECT_FALSE(Paths::exists(deep));
  error.clear();
  EXPECT_FALSE(Paths::remove(temp / "a/b", &error));
  EXPECT_FALSE(error.empty());
}

TEST(Paths, FileContentMoveCopyAndTime) {
  TempDir temp;
  ASSERT_FALSE(temp.path().empty());
  std::string one = temp / "one", two = temp / "two", three = temp / "three";

  ASSERT_TRUE(Paths::writeAtomic(one, std::string("first\0line\n", 11)));
  EXPECT_EQ(Paths::readFile(one), std::string("first\0line\n", 11));
  ASSERT_TRUE(Paths::writeAtomic(one, "second"));  // replaces
  EXPECT_EQ(Paths::readFile(one), "second");
  EXPECT_EQ(Paths::listDir(temp.path()), std::vector<std::string>{"one"});  // no temporary left
  struct stat info {};
  ASSERT_EQ(stat(one.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  EXPECT_TRUE(Paths::copy(one, two));
  EXPECT_EQ(Paths::readFile(two), "second");
  std::string error;
  EXPECT_FALSE(Paths::copy(one, two, &error));  // never over an existing file
  EXPECT_FALSE(error.empty());

  ASSERT_TRUE(Paths::writeAtomic(three, "third"));
  EXPECT_TRUE(Paths::move(three, two));  // replaces
  EXPECT_FALSE(Paths::exists(three));
  EXPECT_EQ(Paths::readFile(two), "third");
  EXPECT_FALSE(Paths::move(three, one));
  EXPECT_FALSE(Paths::readFile(three).has_value());

  fs::last_write_time(one, fs::file_time_type::clock::now() - std::chrono::hours(48));
  std::optional<double> oldTime = Paths::mtime(one), newTime = Paths::mtime(two);
  ASSERT_TRUE(oldTime && newTime);
  EXPECT_NEAR(*newTime - *oldTime, 48 * 3600.0, 60.0);
  EXPECT_GT(*newTime, 1.5e9);  // seconds since 1970
  EXPECT_FALSE(Paths::mtime(three).has_value());

  EXPECT_FALSE(Paths::writeAtomic(temp / "no/such/dir/file", "x", &error));
}

}  // namespace

namespace {

TEST(Paths, AtomicWritesTakeTheModeAskedFor) {
  TempDir temp;
  ASSERT_FALSE(temp.path().empty());
  ASSERT_TRUE(Paths::writeAtomic(temp / "private", "secret", nullptr, 0600));
  struct stat info {};
  ASSERT_EQ(stat((temp / "private").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Paths::readFile(temp / "private"), "secret");
}

TEST(Paths, ResourcesComeFromTheEnvironmentOrBesideTheProgram) {
  {
    EnvVar given("FLUVANE_RESOURCES", "/opt/fluvane/res");
    EXPECT_EQ(Paths::resources(), "/opt/fluvane/res");
  }
  EnvVar unset("FLUVANE_RESOURCES", nullptr);
  fs::path program = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(Paths::resources(), (program.parent_path().parent_path() / "share/fluvane").string());
}

}  // namespace
