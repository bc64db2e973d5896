// vx_demo started in a folder with relative names, as a person types them:
// the picture asked for lands in that folder and the home holds the run's
// files, whatever the engine's thread does; nothing is written beside the
// installed resources.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Paths.h"

using platform::Paths;

TEST(VXDemoPaths, RelativeNamesAreTakenFromTheStartFolder) {
  const std::string folder = Paths::join(Paths::home(), "demo-relative");
  Paths::remove(folder);
  ASSERT_TRUE(Paths::mkdirs(folder));
  const std::string command = "cd '" + folder +
                              "' && FLUVANE_HOME=home SDL_VIDEODRIVER=offscreen "
                              "SDL_AUDIODRIVER=dummy FLUVANE_SCALE=1 FLUVANE_SERVICE_URL= '" +
                              VX_DEMO_PROGRAM + "' --png out.png 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_TRUE(Paths::exists(Paths::join(folder, "out.png")));
  EXPECT_TRUE(Paths::exists(Paths::join(folder, "home/Documents/log/current.log")));
  // Found there, they are taken away again (the next run starts clean).
  for (const char* stray : {"out.png", "home"}) {
    EXPECT_FALSE(Paths::remove(Paths::join(Paths::resources(), stray))) << stray;
  }
}
