// Where the textures and images are found: FLUVANE_RESOURCES, else
// share/fluvane beside the running program's folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Paths.h"

TEST(PathsResources, EnvironmentOverridesTheFolderBesideTheProgram) {
  unsetenv("FLUVANE_RESOURCES");
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(platform::Paths::resources(),
            (program.parent_path().parent_path() / "share" / "fluvane").string());
  setenv("FLUVANE_RESOURCES", "/some/where", 1);
  EXPECT_EQ(platform::Paths::resources(), "/some/where");
  setenv("FLUVANE_RESOURCES", "", 1);
  EXPECT_NE(platform::Paths::resources(), "");
  unsetenv("FLUVANE_RESOURCES");
}
