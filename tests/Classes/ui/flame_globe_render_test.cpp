// The globe drawn offscreen on a 320 x 480 frame: a test earth whose colour
// tells its latitude and longitude checks that the halves, the sphere's
// mapping, the place formula of the lights and picking all agree.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "Classes/FlameGlobe.h"
#include "VexelGraphics/VGNode.h"
#include "VexelGraphics/VGTexture.h"
#include "support/gl_test_support.h"
#include "tools/EarthHalves.h"
#include "vxu/VXBackgroundThread.h"

namespace {

// Colours of the test earth: around (lat0, lon0), red and green go up by
// 10 a degree of longitude and latitude from 128; blue is 255.
struct TestEarth {
  double lat0, lon0;
  double scale = 10;

  std::array<std::uint8_t, 4> colourAt(double latitude, double longitude) const {
    const auto level = [this](double v) {
      return static_cast<std::uint8_t>(std::clamp(std::lround(128 + scale * v), 0L, 255L));
    };
    return {level(wrap(longitude - lon0)), level(latitude - lat0), 255, 255};
  }
  // The place a colour tells.
  void decode(const std::array<int, 4>& c, double* latitude, double* longitude) const {
    *latitude = lat0 + (c[1] - 128) / scale;
    *longitude = lon0 + (c[0] - 128) / scale;
  }
  static double wrap(double degrees) {
    while (degrees > 180) degrees -= 360;
    while (degrees < -180) degrees += 360;
    return degrees;
  }

  // The two textures (hemisphere 0 = longitudes 0..180, hemisphere 1 =
  // -180..0), cut from an equirectangular map by the build's own cutter.
  std::array<GLuint, 2> textures() const {
    const int width = 2048, height = 1024, side = 1024;
    std::vector<std::uint8_t> map(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        const auto c = colourAt(90 - 180.0 * (y + 0.5) / height, -180 + 360.0 * (x + 0.5) / width);
        std::copy(c.begin(), c.end(), map.begin() + (static_cast<std::size_t>(y) * width + x) * 4);
      }
    }
    std::array<GLuint, 2> names{};
    for (int half = 0; half < 2; half++) {
      const std::vector<std::uint8_t> texels =
          earth::cutHalf(map.data(), width, height, half, side);
      names[1 - half] = VGTexture::createRGBATextureFromData(texels.data(), side, side);
    }
    return names;
  }
};

void drainSharedThread() {
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
}

class FlameGlobeDrawn : public gltest::GLTest {
 protected:
  FlameGlobeDrawn() : GLTest(320, 480) {}

  // A globe entered at the user's place (20, 40) with auto-follow off, so
  // that the camera stays at rotation 40, tilt -20; zoomed out.
  std::unique_ptr<FlameGlobe> enteredGlobe() {
    auto globe = std::make_unique<FlameGlobe>(services, true);
    EXPECT_TRUE(globe->texturesLoaded());
    globe->setMyFlameMarkerLati(20, 40);
    globe->startZoomOut();
    globe->rotateX(0, 0);
    drainSharedThread();
    while (!globe->zoomDone()) globe->update(1.0f);
    return globe;
  }

  std::vector<std::uint8_t> draw(FlameGlobe& globe) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The texels as they are, without the light's shading.
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    globe.render();
    glFinish();
    return frame();
  }

  FlameGlobeServices services;  // offline but for the light map
};

}  // namespace

TEST_F(FlameGlobeDrawn, ADoubleTapAtTheCentrePicksThePlaceDrawnThere) {
  auto globe = enteredGlobe();
  EXPECT_FLOAT_EQ(globe->rotationAngle(), 40.0f);
  EXPECT_FLOAT_EQ(globe->tiltAngle(), -20.0f);
  globe->filterPressed(2);  // region: picks at the screen centre
  draw(*globe);
  EXPECT_FALSE(globe->doDoubleTapProcess());
  const double lat = globe->tapLat(), lon = globe->tapLong();
  ASSERT_TRUE(std::isfinite(lat) && std::isfinite(lon));
  // The region marker stands at 0.95 of the radius above the place.
  EXPECT_NEAR(globe->regionNode().position().length(), 95.0f, 1e-3);

  // The earth alone (the region marker would cover the centre).
  globe->filterPressed(1);
  EXPECT_FALSE(globe->regionSelectionActive());
  const TestEarth earth{lat, lon};
  const std::array<GLuint, 2> textures = earth.textures();
  globe->setEarthTextures(textures[0], textures[1]);
  const std::vector<std::uint8_t> frame = draw(*globe);
  double drawnLat, drawnLon;
  earth.decode(gltest::pixelAt(frame, 320, 160, 240), &drawnLat, &drawnLon);
  EXPECT_NEAR(drawnLat, lat, 1.0);
  EXPECT_NEAR(drawnLon, lon, 1.0);

  // Off the centre: a tap above and right of it picks the place there (a
  // test earth of a wider range, 4 levels a degree).
  const TestEarth wide{lat, lon, 4};
  const std::array<GLuint, 2> wideTextures = wide.textures();
  globe->setEarthTextures(wideTextures[0], wideTextures[1]);
  const std::vector<std::uint8_t> wideFrame = draw(*globe);
  globe->filterPressed(2);
  globe->doubleTapEventAt(200, 200);
  draw(*globe);
  double offLat, offLon;
  wide.decode(gltest::pixelAt(wideFrame, 320, 200, 200), &offLat, &offLon);
  EXPECT_NEAR(globe->tapLat(), offLat, 1.0);
  EXPECT_NEAR(globe->tapLong(), offLon, 1.0);
  EXPECT_GT(globe->tapLat(), lat + 2);  // north is up
  EXPECT_GT(globe->tapLong(), lon + 2);  // east is right

  // A tap beside the globe changes nothing.
  const float pickedLat = globe->tapLat(), pickedLon = globe->tapLong();
  const Vector3 region = globe->regionNode().position();
  globe->doubleTapEventAt(2, 2);
  EXPECT_TRUE(globe->doDoubleTapProcess());
  draw(*globe);
  EXPECT_FALSE(globe->doDoubleTapProcess());
  EXPECT_EQ(globe->tapLat(), pickedLat);
  EXPECT_EQ(globe->tapLong(), pickedLon);
  EXPECT_EQ(globe->regionNode().position(), region);
}

TEST_F(FlameGlobeDrawn, ALightIsDrawnOnItsPlace) {
  // The place at the centre, as the pick finds it.
  double lat, lon;
  {
    auto globe = enteredGlobe();
    globe->filterPressed(2);
    draw(*globe);
    lat = globe->tapLat();
    lon = globe->tapLong();
  }
  const TestEarth earth{lat, lon};
  // Without lights, then with one 4 degrees away and one at the pole.
  auto dark = enteredGlobe();
  std::array<GLuint, 2> textures = earth.textures();
  dark->setEarthTextures(textures[0], textures[1]);
  const std::vector<std::uint8_t> before = draw(*dark);
  dark.reset();

  FluvaneLightPoint light;
  light.latitude = lat + 4;
  light.longitude = lon + 4;
  light.value = 500;
  light.red = light.green = light.blue = light.alpha = 255;
  FluvaneLightPoint pole = light;
  pole.latitude = 90;
  services.configured = [] { return true; };
  services.reachable = [] { return true; };
  services.getMap = [&](int, const std::atomic<bool>*) {
    return std::vector<FluvaneLightPoint>{light, pole};
  };
  auto lit = enteredGlobe();
  ASSERT_EQ(lit->lightUpCounter(), 2);
  textures = earth.textures();
  lit->setEarthTextures(textures[0], textures[1]);
  const std::vector<std::uint8_t> after = draw(*lit);

  // The light is where the frames differ; its centre shows its place.
  double sx = 0, sy = 0;
  int changed = 0;
  for (int y = 0; y < 480; y++) {
    for (int x = 0; x < 320; x++) {
      if (gltest::pixelAt(before, 320, x, y) != gltest::pixelAt(after, 320, x, y)) {
        sx += x;
        sy += y;
        changed++;
      }
    }
  }
  ASSERT_GT(changed, 20);
  const int cx = static_cast<int>(std::lround(sx / changed));
  const int cy = static_cast<int>(std::lround(sy / changed));
  double drawnLat, drawnLon;
  earth.decode(gltest::pixelAt(before, 320, cx, cy), &drawnLat, &drawnLon);
  EXPECT_NEAR(drawnLat, light.latitude, 1.5) << cx << "," << cy;
  EXPECT_NEAR(drawnLon, light.longitude, 1.5) << cx << "," << cy;

  // The light at the pole has no size: its six corners are its centre.
  const float* v = lit->lightVertices() + 18;
  for (int k = 0; k < 6; k++) {
    EXPECT_NEAR(v[3 * k], 0.0f, 1e-4);
    EXPECT_NEAR(v[3 * k + 1], -100.0f, 1e-4);
    EXPECT_NEAR(v[3 * k + 2], 0.0f, 1e-4);
  }
}

TEST_F(FlameGlobeDrawn, AMarkerSeenAlongItsAxisStaysFinite) {
  // A snippet at (0, 0) with the camera at rotation 0, tilt 0: the
  // reference point lies on the marker's axis (n x d = 0).
  services.configured = [] { return true; };
  services.reachable = [] { return true; };
  services.getSnippet = [](int, double, double, double, const std::atomic<bool>*) {
    auto s = std::make_unique<FluvaneSnippetInfo>();
    s->name = "on the axis";
    return s;
  };
  services.playTune = [](const std::string&) {};
  FlameGlobe globe(services, true);
  globe.setMyFlameMarkerLati(0, 0);
  globe.startZoomOut();
  globe.rotateX(0, 0);
  for (int i = 0; i < 200 && !globe.playbackTuneActive(); i++) {
    globe.update(1.0f);
    while (globe.downloadingInProgress()) {
    }
  }
  ASSERT_TRUE(globe.playbackTuneActive());
  EXPECT_EQ(globe.rotationAngle(), 0.0f);
  EXPECT_EQ(globe.tiltAngle(), 0.0f);
  for (int frame = 0; frame < 3; frame++) {
    draw(globe);
    const float* q = globe.markerOrientation();
    const float norm = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
    ASSERT_TRUE(std::isfinite(norm));
    EXPECT_NEAR(norm, 1.0f, 1e-4);
    globe.update(1.0f);
  }
  // Where the axis is not degenerate the marker's y axis is the place's
  // normal: (0, 0, 1) turned by the orientation.
  const float* q = globe.markerOrientation();
  const Quaternion orientation(q[0], q[1], q[2], q[3]);
  const Vector3 up = orientation * Vector3::UNIT_Y;
  EXPECT_NEAR(up.z, 1.0f, 1e-3);
}
