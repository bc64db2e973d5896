// vx_demo without a display, pointed at the loopback stand-in of the
// service: it starts, asks for the server message and the information text,
// uploads signed statistics, writes its screen as a PNG and returns 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"
#include "vxu/vx_service_support.h"

TEST(VXDemo, RunsOffScreenAgainstTheService) {
  ConfiguredService service;
  service.stub.on("/fluvane/motd/", stub::Reply::text("###TITLE###Hi###BODY###B###URL###https://e.org/?"
                                                      "###ID###d1###OK_B###OK###CANCEL_B######"));
  service.stub.on("/fluvane/infotext/", stub::Reply::text("Info from the service"));
  service.stub.on("/fluvane/stats/", stub::Reply::text("17"));
  const std::string home = platform::Paths::join(platform::Paths::home(), "demo-home");
  platform::Paths::mkdirs(home);
  const std::string png = platform::Paths::join(home, "screen.png");
  ScopedEnv ownHome("FLUVANE_HOME", home.c_str());
  ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
  ScopedEnv audio("SDL_AUDIODRIVER", "dummy");
  ScopedEnv scale("FLUVANE_SCALE", nullptr);
  ScopedEnv resources("FLUVANE_RESOURCES", nullptr);
  const std::string command =
      std::string("'") + VX_DEMO_PROGRAM + "' --png '" + png + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string error;
  std::optional<platform::gfx::Image> frame = platform::gfx::Image::loadStraight(png, &error);
  ASSERT_TRUE(frame) << error;
  EXPECT_EQ(frame->width, 640);
  EXPECT_EQ(frame->height, 960);
  long lit = 0;
  for (std::size_t i = 0; i < frame->pixels.size(); i += 4) lit += frame->pixels[i + 2] > 40;
  EXPECT_GT(lit, 640 * 960 / 4);  // the backdrop and the views, not a black screen
  bool motd = false, info = false, stats = false;
  for (const auto& request : service.stub.requests()) {
    motd |= request.path == "/fluvane/motd/";
    info |= request.path == "/fluvane/infotext/";
    stats |= request.path == "/fluvane/stats/" && request.body.find("&d=") != std::string::npos;
  }
  EXPECT_TRUE(motd);
  EXPECT_TRUE(info);
  EXPECT_TRUE(stats);
}
