// A melody downloaded from the service and played on the globe, then back to
// the instrument, on the whole launched instrument: the frames on either side
// are still textured. What the globe's particles left in the GL state reached
// every later draw once (a grey earth, no overlay, a black instrument), so
// the flow is checked, not a single frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "Classes/FluvaneHostInput.h"
#include "Classes/ui/launched_instrument_support.h"
#include "Classes/ui/screen_probe_support.h"
#include "fluvane_service.h"
#include "support/gl_test_support.h"
#include "vxu/VXSecrets.h"
#include "vxu/vx_service_support.h"

namespace {

// A melody of six notes, half a second apart: the holes closed one by one,
// then opened again, with steady breath.
std::string melody() {
  std::string packet;
  const auto word = [&packet](std::uint32_t v) {
    for (int i = 0; i < 4; i++) packet += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const auto bits = [](float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  };
  const std::uint32_t masks[] = {1, 3, 7, 15, 7, 3};
  word(0xFEED0101u);
  word(60);
  word(4);
  word(bits(6 * 8000.0f));
  for (int i = 0; i < 6; i++) {
    word(bits(i == 0 ? 0.0f : 8000.0f));
    word(masks[i] | 96u << 8);
  }
  return packet;
}

class GlobeMelodyFlow : public LaunchedInstrumentTest {
 protected:
  // Plays on until done() or 60 s of the engine's time.
  template <typename Done>
  bool playUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int frame = 0; frame < 60 * 30; frame++) {
      if (done()) return true;
      play(1.0 / 30);
      if (std::chrono::steady_clock::now() > end) break;
      std::this_thread::yield();
    }
    return done();
  }

  ConfiguredService service;
  stub::FluvaneService model{service.stub, SHA_HASH_SECRET};
};

TEST_F(GlobeMelodyFlow, TheGlobeAndTheInstrumentKeepTheirPicturesAfterAMelody) {
  model.seed("48.2", "16.4", "Ana", melody());
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  EAGLView& screen = *delegate->glView;
  FlameGlobe& globe = screen.flameGlobe();
  screen.receiveMsg(1002);  // the toolbar's Globe
  ASSERT_TRUE(playUntil([&] { return globe.playbackTuneActive() && globe.liveNoteParticles(); }))
      << "no note of the downloaded melody flew";
  ASSERT_GT(globe.liveSwirlParticles(), 0u);
  EXPECT_EQ(globe.currentSnippetName(), "Ana");

  // The earth, in a frame after one with the melody's particles: coloured
  // and detailed (about 40 and 3.5 here), not a grey shading (4 and 0.9).
  ui->frame();
  play(1.0 / 30);
  const std::vector<std::uint8_t> onGlobe = ui->frame();
  const gltest::RegionStats earth = gltest::regionStats(onGlobe, 320, 480, 60, 140, 200, 200);
  EXPECT_GT(earth.colourfulness, 15);
  EXPECT_GT(earth.detail, 2);
  // The overlay: Love's title is drawn.
  const platform::ui::Rect love = probe::onScreen(screen.snippetViewController().loveButton());
  EXPECT_GT(gltest::regionStats(onGlobe, 320, 480, static_cast<int>(love.minX()),
                                static_cast<int>(love.minY()), static_cast<int>(love.width()),
                                static_cast<int>(love.height()))
                .spread,
            20);

  // Back on the instrument: the holes are drawn with their flares.
  screen.receiveMsg(1001);
  play(0.5);
  const std::vector<std::uint8_t> onInstrument = ui->frame();
  for (int hole = 0; hole < 4; hole++) {
    const platform::ui::Point c = FluvaneHostInput::holeCentre(hole);
    const gltest::RegionStats drawn = gltest::regionStats(
        onInstrument, 320, 480, static_cast<int>(c.x) - 25, static_cast<int>(c.y) - 25, 50, 50);
    EXPECT_GT(drawn.brightness, 15) << "hole " << hole;
    EXPECT_GT(drawn.spread, 6) << "hole " << hole;
    EXPECT_GT(drawn.blue, drawn.red) << "hole " << hole;  // the finger colour, blue
  }
}

}  // namespace
