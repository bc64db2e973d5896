// The globe's model without GL: the snippet pipeline, filters, votes,
// lights and the camera, driven update by update as the instrument screen
// drives it, with the service calls answered by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Classes/FlameGlobe.h"
#include "vxu/VXBackgroundThread.h"

namespace {

// The service and player as the test answers them; every call is counted.
struct FakeService {
  std::mutex mutex;
  bool configured = true;
  bool reachable = true;
  int reachableChecks = 0;
  std::vector<std::unique_ptr<FluvaneSnippetInfo>> snippets;  // answered in order
  struct Request {
    int filter;
    double latitude, longitude, radius;
  };
  std::vector<Request> requests;
  std::vector<std::pair<int, bool>> votes;
  std::vector<std::string> played;
  int stops = 0;
  int listened = 0;
  std::vector<FluvaneLightPoint> lights;
  // A download that waits for release() (a stalled post); it gives up when
  // its abort flag turns true.
  bool stall = false;
  bool released = false;
  std::condition_variable cv;

  void release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    cv.notify_all();
  }

  void add(int id, double latitude, double longitude, const std::string& name) {
    auto s = std::make_unique<FluvaneSnippetInfo>();
    s->snippetId = id;
    s->latitude = latitude;
    s->longitude = longitude;
    s->name = name;
    s->snippetData = "packet " + std::to_string(id);
    std::lock_guard<std::mutex> lock(mutex);
    snippets.push_back(std::move(s));
  }

  FlameGlobeServices services() {
    FlameGlobeServices s;
    s.configured = [this] {
      std::lock_guard<std::mutex> lock(mutex);
      return configured;
    };
    s.reachable = [this] {
      std::lock_guard<std::mutex> lock(mutex);
      reachableChecks++;
      return reachable;
    };
    s.getSnippet = [this](int filter, double latitude, double longitude, double radius,
                          const std::atomic<bool>* abort) {
      std::unique_lock<std::mutex> lock(mutex);
      requests.push_back({filter, latitude, longitude, radius});
      if (stall) {
        // Woken by release(); the abort flag is looked at each time round,
        // as the HTTP client looks at it every 36 ms.
        while (!released && !*abort) cv.wait_for(lock, std::chrono::milliseconds(5));
        if (*abort) return std::unique_ptr<FluvaneSnippetInfo>();
      }
      if (snippets.empty()) return std::unique_ptr<FluvaneSnippetInfo>();
      auto first = std::move(snippets.front());
      snippets.erase(snippets.begin());
      return first;
    };
    s.getMap = [this](int maxCount, const std::atomic<bool>*) {
      std::lock_guard<std::mutex> lock(mutex);
      EXPECT_EQ(maxCount, 1000);
      return lights;
    };
    s.uploadVote = [this](int id, bool love) {
      std::lock_guard<std::mutex> lock(mutex);
      votes.push_back({id, love});
    };
    s.playTune = [this](const std::string& packet) { played.push_back(packet); };
    s.stopTune = [this] { stops++; };
    s.snippetListened = [this] { listened++; };
    return s;
  }
};

// The screen as the globe tells it.
struct FakeScreen : FlameGlobeScreen {
  std::vector<std::string> names;
  std::vector<int> filters;
  int closes = 0;
  void setSnippetName(const std::string& name) override { names.push_back(name); }
  void setActiveFilter(int button) override { filters.push_back(button); }
  void closeFilters() override { closes++; }
};

// Waits until the globe's snippet download has finished (no time limit but
// the test's: the fake answers at once unless it stalls).
void finishDownload(const FlameGlobe& globe) {
  while (globe.downloadingInProgress()) std::this_thread::yield();
}

// Runs what the shared background thread holds (votes, light downloads).
void drainSharedThread() {
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([] {}, true);
}

class FlameGlobeModel : public ::testing::Test {
 protected:
  void SetUp() override {
    globe = std::make_unique<FlameGlobe>(service.services(), false);
    globe->setSnippetViewController(&screen);
  }
  void TearDown() override { globe.reset(); }

  // Enters the globe and runs the entry zoom to its end.
  void enter() {
    globe->startZoomOut();
    drainSharedThread();
    while (!globe->zoomDone()) step();
  }
  // One update; a download it starts is finished before it returns.
  void step(float f = 1.0f) {
    globe->update(f);
    finishDownload(*globe);
  }
  // Updates until a snippet plays (at most n).
  bool stepUntilPlaying(int n = 200) {
    for (int i = 0; i < n && !globe->playbackTuneActive(); i++) step();
    return globe->playbackTuneActive();
  }

  FakeService service;
  FakeScreen screen;
  std::unique_ptr<FlameGlobe> globe;
};

}  // namespace

TEST_F(FlameGlobeModel, StartsHiddenAndZoomsOutOnEntry) {
  EXPECT_EQ(globe->globeState(), 2);
  EXPECT_FALSE(globe->zoomDone());
  globe->setMyFlameMarkerLati(40.0f, -70.0f);
  globe->startZoomOut();
  EXPECT_EQ(globe->globeState(), 0);
  EXPECT_FLOAT_EQ(globe->zoomFactor(), 1.0f);
  EXPECT_FLOAT_EQ(globe->rotationAngle(), -70.0f);
  EXPECT_FLOAT_EQ(globe->tiltAngle(), -40.0f);
  int updates = 0;
  while (!globe->zoomDone()) {
    step();
    updates++;
  }
  EXPECT_EQ(updates, 34);  // 1.0 in steps of 0.03
  EXPECT_EQ(globe->globeState(), 1);
  EXPECT_EQ(globe->zoomFactor(), 0.0f);
}

TEST_F(FlameGlobeModel, ThePipelinePassesItsStatesInOrder) {
  service.add(7, 10, 20, "Ann");
  service.add(8, -30, 40, "Bob");
  enter();  // the first update downloads, the snippet waits, then plays
  ASSERT_TRUE(stepUntilPlaying());
  EXPECT_EQ(globe->currentSnippetName(), "Ann");
  ASSERT_EQ(service.played.size(), 1u);
  EXPECT_EQ(service.played[0], "packet 7");
  EXPECT_EQ(service.listened, 1);
  EXPECT_FLOAT_EQ(globe->targetRotation(), 30.0f);
  EXPECT_FLOAT_EQ(globe->targetTilt(), 0.0f);
  // While Ann plays, Bob is downloaded and waits.
  step();
  step();
  EXPECT_TRUE(globe->hasWaitingSnippet());
  // Ann ends: she fades out for 1.0 (60 updates at factor 1), then Bob.
  globe->finishedPlayingTune();
  EXPECT_FALSE(globe->playbackTuneActive());
  EXPECT_FLOAT_EQ(globe->snippetFadeOutTimer(), 1.0f);
  int fading = 0;
  while (!globe->playbackTuneActive() && fading < 100) {
    EXPECT_TRUE(globe->hasCurrentSnippet() || globe->snippetFadeOutTimer() == 0.0f);
    step();
    fading++;
  }
  EXPECT_GE(fading, 59);
  EXPECT_LE(fading, 61);
  EXPECT_EQ(globe->currentSnippetName(), "Bob");
  ASSERT_EQ(service.played.size(), 2u);
  EXPECT_EQ(service.played[1], "packet 8");
  EXPECT_FLOAT_EQ(globe->targetTilt(), -20.0f);  // southern: latitude + 10
  // The screen saw the names in order ("no melodies found" while the
  // service had nothing more).
  ASSERT_GE(screen.names.size(), 2u);
  EXPECT_EQ(screen.names.front(), "Ann");
}

TEST_F(FlameGlobeModel, NoMelodiesWaitsTwoSecondsBetweenRequests) {
  enter();
  service.requests.clear();
  for (int i = 0; i < 300; i++) step();
  EXPECT_EQ(globe->currentSnippetName(), FlameGlobe::kNoMelodiesName);
  // One request, then one per 60 updates.
  EXPECT_GE(service.requests.size(), 4u);
  EXPECT_LE(service.requests.size(), 6u);
}

TEST_F(FlameGlobeModel, AnUnreachableServiceIsCheckedAtMostOnceEveryTwoSeconds) {
  service.reachable = false;
  int alerts = 0;
  globe->setUnreachableHandler([&] { alerts++; });
  enter();
  const int before = service.reachableChecks;
  for (int i = 0; i < 300; i++) step();
  const int checks = service.reachableChecks - before;
  EXPECT_GE(checks, 1);
  EXPECT_LE(checks, 300 / 60 + 1);
  EXPECT_TRUE(service.requests.empty());
  EXPECT_EQ(globe->currentSnippetName(), FlameGlobe::kUnreachableName);
  ASSERT_FALSE(screen.names.empty());
  EXPECT_EQ(screen.names.back(), FlameGlobe::kUnreachableName);
  // The alert once per entry.
  EXPECT_EQ(alerts, 1);
  globe->globeExit();
  enter();
  for (int i = 0; i < 100; i++) step();
  EXPECT_EQ(alerts, 2);
}

TEST_F(FlameGlobeModel, WithNoServiceConfiguredNothingIsAskedAndTheNameSaysOffline) {
  service.configured = false;
  service.lights = {FluvaneLightPoint{}};
  enter();
  for (int i = 0; i < 200; i++) step();
  EXPECT_EQ(service.reachableChecks, 0);
  EXPECT_TRUE(service.requests.empty());
  EXPECT_EQ(globe->lightCount(), 0);
  EXPECT_EQ(globe->currentSnippetName(), FlameGlobe::kOfflineName);
}

TEST_F(FlameGlobeModel, AFilterChangeDuringADownloadDiscardsItsResult) {
  service.add(1, 0, 0, "old filter");
  service.stall = true;
  globe->startZoomOut();
  globe->update(1.0f);  // starts the download, which stalls
  ASSERT_TRUE(globe->downloadingInProgress());
  globe->filterPressed(3);  // filter id 3: purge
  EXPECT_EQ(globe->currentFilterId(), 3);
  EXPECT_TRUE(globe->purgePending());
  globe->update(1.0f);  // the purge waits for the download
  EXPECT_TRUE(globe->purgePending());
  service.add(2, 5, 5, "new filter");
  service.release();
  finishDownload(*globe);
  EXPECT_FALSE(globe->hasWaitingSnippet());  // thrown away
  ASSERT_TRUE(stepUntilPlaying());
  EXPECT_EQ(globe->currentSnippetName(), "new filter");
  ASSERT_GE(service.requests.size(), 2u);
  EXPECT_EQ(service.requests[0].filter, 0);
  EXPECT_EQ(service.requests.back().filter, 3);
}

TEST_F(FlameGlobeModel, FiltersMapToIdsAndTheCurrentOneChangesNothing) {
  service.add(1, 0, 0, "a");
  enter();
  ASSERT_TRUE(stepUntilPlaying());
  const struct {
    int button, filterId;
  } table[] = {{5, 1}, {4, 2}, {3, 3}, {1, 0}};
  for (const auto& row : table) {
    screen.filters.clear();
    globe->filterPressed(row.button);
    EXPECT_EQ(globe->currentFilterId(), row.filterId) << row.button;
    ASSERT_EQ(screen.filters.size(), 1u);
    EXPECT_EQ(screen.filters[0], row.button);
    step();  // the purge
    EXPECT_FALSE(globe->purgePending());
  }
  // Pressing the current filter: no purge, the snippet plays on.
  service.add(2, 0, 0, "b");
  ASSERT_TRUE(stepUntilPlaying());
  const int stops = service.stops;
  screen.filters.clear();
  globe->filterPressed(1);
  EXPECT_FALSE(globe->purgePending());
  EXPECT_TRUE(screen.filters.empty());
  step();
  EXPECT_TRUE(globe->playbackTuneActive());
  EXPECT_EQ(service.stops, stops);
  // The name button and unknown indexes only close the list (0.15 s).
  const int closes = screen.closes;
  globe->filterPressed(0);
  globe->filterPressed(9);
  EXPECT_EQ(globe->currentFilterId(), 0);
  for (int i = 0; i < 5; i++) step();
  EXPECT_EQ(screen.closes, closes + 1);
}

TEST_F(FlameGlobeModel, TheRegionButtonAlwaysRePicksAtTheScreenCentre) {
  // Without region selection a double tap picks nothing.
  globe->doubleTapEventAt(100, 100);
  EXPECT_FALSE(globe->doDoubleTapProcess());
  for (int round = 0; round < 2; round++) {
    screen.filters.clear();
    globe->filterPressed(2);
    EXPECT_EQ(globe->currentFilterId(), 4);
    EXPECT_TRUE(globe->regionSelectionActive());
    EXPECT_TRUE(globe->doDoubleTapProcess());
    ASSERT_EQ(screen.filters.size(), 1u);
    EXPECT_EQ(screen.filters[0], 2);
  }
  // Another filter ends region selection.
  globe->filterPressed(3);
  EXPECT_FALSE(globe->regionSelectionActive());
  EXPECT_EQ(globe->currentFilterId(), 3);
}

TEST_F(FlameGlobeModel, TheRegionRequestsRadiusFollowsTheZoom) {
  globe->filterPressed(2);
  enter();
  service.requests.clear();
  for (int i = 0; i < 70 && service.requests.empty(); i++) step();
  ASSERT_FALSE(service.requests.empty());
  EXPECT_EQ(service.requests[0].filter, 4);
  EXPECT_DOUBLE_EQ(service.requests[0].radius, 12.0);
  globe->scaleGlobe(5.0f);  // clamped to 0.93
  EXPECT_FLOAT_EQ(globe->zoomFactor(), 0.93f);
  service.requests.clear();
  for (int i = 0; i < 70 && service.requests.empty(); i++) step();
  ASSERT_FALSE(service.requests.empty());
  EXPECT_NEAR(service.requests[0].radius, 6.42, 1e-6);
}

TEST_F(FlameGlobeModel, LoveAndSkipVoteOncePerSnippet) {
  // A skip while nothing plays stops the player and sends no vote.
  globe->tuneSkipped();
  EXPECT_EQ(service.stops, 1);
  service.add(41, 0, 0, "x");
  enter();
  ASSERT_TRUE(stepUntilPlaying());
  globe->tuneLoved();
  globe->tuneLoved();
  drainSharedThread();
  ASSERT_EQ(service.votes.size(), 1u);
  EXPECT_EQ(service.votes[0], std::make_pair(41, true));
  EXPECT_TRUE(globe->playbackTuneActive());  // love goes on playing
  globe->tuneSkipped();
  globe->tuneSkipped();
  globe->tuneLoved();
  drainSharedThread();
  ASSERT_EQ(service.votes.size(), 2u);
  EXPECT_EQ(service.votes[1], std::make_pair(41, false));
  EXPECT_FALSE(globe->playbackTuneActive());
  EXPECT_EQ(globe->currentSnippetName(), "");
  EXPECT_FLOAT_EQ(globe->snippetFadeOutTimer(), 0.1f);
  EXPECT_EQ(service.stops, 3);
}

TEST_F(FlameGlobeModel, LightsLightUpTwoPerUpdateAndStopAtAThousand) {
  for (int i = 0; i < 1500; i++) {
    FluvaneLightPoint p;
    p.latitude = i % 90;
    p.longitude = i % 180;
    service.lights.push_back(p);
  }
  globe->startZoomOut();
  drainSharedThread();
  EXPECT_EQ(globe->lightCount(), 1000);
  EXPECT_EQ(globe->lightUpCounter(), 0);
  globe->update(1.0f);
  EXPECT_EQ(globe->lightUpCounter(), 2);
  for (int i = 0; i < 600; i++) globe->update(1.0f);
  EXPECT_EQ(globe->lightUpCounter(), 1000);
  finishDownload(*globe);
}

TEST_F(FlameGlobeModel, TheCameraKeepsItsRangesAndRates) {
  enter();
  // Drags at the closest zoom turn at 0.256 of the far view's rate.
  globe->rotateX(100, 0);
  EXPECT_FLOAT_EQ(globe->rotationAngle(), 25.0f);
  EXPECT_FALSE(globe->autoFollowMode());
  globe->scaleGlobe(0.93f);
  const float before = globe->rotationAngle();
  globe->rotateX(100, 0);
  EXPECT_NEAR(globe->rotationAngle() - before, 0.256f * 25.0f, 1e-4);
  // Spinning either way keeps the angle in 0..360.
  for (float speed : {400.0f, -400.0f}) {
    globe->setRotationSpeedX(speed, 0);
    for (int i = 0; i < 100; i++) {
      step();
      EXPECT_GE(globe->rotationAngle(), 0.0f);
      EXPECT_LE(globe->rotationAngle(), 360.0f);
    }
  }
  // A tilt beyond 80 loses its speed at once and moves a tenth back.
  globe->scaleGlobe(-1.0f);
  globe->rotateX(0, 400);  // tilt += 100
  const float tilt = globe->tiltAngle();
  ASSERT_GT(tilt, 80.0f);
  globe->setRotationSpeedX(0, 10);  // 3 degrees per update
  step();
  EXPECT_EQ(globe->tiltSpeed(), 0.0f);
  EXPECT_NEAR(globe->tiltAngle(), (tilt + 3) + 0.1f * (80 - (tilt + 3)), 1e-3);
  // Not-finite input is ignored.
  const float rotation = globe->rotationAngle();
  globe->rotateX(NAN, 1);
  globe->setRotationSpeedX(INFINITY, 0);
  globe->scaleGlobe(NAN);
  EXPECT_EQ(globe->rotationAngle(), rotation);
  EXPECT_TRUE(std::isfinite(globe->rotationSpeed()));
  EXPECT_TRUE(std::isfinite(globe->zoomFactor()));
  // After 5 s without touches auto-follow resumes.
  for (int i = 0; i < 151; i++) step();
  EXPECT_TRUE(globe->autoFollowMode());
}

TEST_F(FlameGlobeModel, ANonFinitePlaceNeverReachesTheAngles) {
  service.add(3, NAN, INFINITY, "nowhere");
  globe->setMyFlameMarkerLati(NAN, 3);
  enter();
  ASSERT_TRUE(stepUntilPlaying());
  for (int i = 0; i < 50; i++) step();
  EXPECT_TRUE(std::isfinite(globe->rotationAngle()));
  EXPECT_TRUE(std::isfinite(globe->tiltAngle()));
  EXPECT_TRUE(std::isfinite(globe->targetRotation()));
  EXPECT_TRUE(globe->notePosition().isFinite());
}

TEST_F(FlameGlobeModel, LeavingStopsWhatPlaysAndKeepsWhatWaits) {
  service.add(1, 0, 0, "a");
  service.add(2, 0, 0, "b");
  enter();
  ASSERT_TRUE(stepUntilPlaying());
  step();
  ASSERT_TRUE(globe->hasWaitingSnippet());
  const int stops = service.stops;
  globe->globeExit();
  EXPECT_EQ(service.stops, stops + 1);
  EXPECT_FALSE(globe->hasCurrentSnippet());
  EXPECT_TRUE(globe->hasWaitingSnippet());
  EXPECT_EQ(globe->globeState(), 2);
  const std::size_t requests = service.requests.size();
  for (int i = 0; i < 100; i++) step();
  EXPECT_EQ(service.requests.size(), requests);  // the pipeline rests
}

TEST(FlameGlobeExit, AStalledDownloadIsAbortedAndJoined) {
  FakeService service;
  service.stall = true;
  auto globe = std::make_unique<FlameGlobe>(service.services(), false);
  globe->startZoomOut();
  globe->update(1.0f);
  ASSERT_TRUE(globe->downloadingInProgress());
  for (;;) {  // until the post is in flight
    std::lock_guard<std::mutex> lock(service.mutex);
    if (!service.requests.empty()) break;
  }
  globe.reset();  // returns only once the download gave up
  std::lock_guard<std::mutex> lock(service.mutex);
  EXPECT_EQ(service.requests.size(), 1u);
  EXPECT_FALSE(service.released);
}

TEST(FlameGlobeGeometry, LightSizes) {
  // 2000 and 5000 enlarge alike (factor 11); the flicker and zoom scale.
  EXPECT_FLOAT_EQ(FlameGlobe::lightSize(2000, 0.5f, 0), FlameGlobe::lightSize(5000, 0.5f, 0));
  EXPECT_FLOAT_EQ(FlameGlobe::lightSize(2000, 0, 0), 11 * FlameGlobe::lightSize(0, 0, 0));
  EXPECT_FLOAT_EQ(FlameGlobe::lightSize(0, 0, 0), 0.6f * 3 * 0.75f);
  EXPECT_FLOAT_EQ(FlameGlobe::lightSize(0, 0.999f, 0.5f), (0.6f + 0.4f * 0.999f) * 1.8f * 0.75f);
  EXPECT_FLOAT_EQ(FlameGlobe::lightSize(1000, 0, 0), 6 * FlameGlobe::lightSize(0, 0, 0));
}

TEST(FlameGlobeGeometry, PlacesLieOnTheSphereAndTheSphereHasItsCounts) {
  const Vector3 north = FlameGlobe::placeNormal(90, 0);
  EXPECT_NEAR(north.y, -1.0f, 1e-6);
  const Vector3 zero = FlameGlobe::placeNormal(0, 0);
  EXPECT_NEAR(zero.z, 1.0f, 1e-6);
  const Vector3 east = FlameGlobe::placeNormal(0, 90);
  EXPECT_NEAR(east.x, -1.0f, 1e-6);

  const float* v = FlameGlobe::sphereVertices();
  const float* n = FlameGlobe::sphereNormals();
  const float* uv = FlameGlobe::sphereTexCoords();
  const int per = FlameGlobe::kSphereVertices;
  ASSERT_EQ(per, 16 * 28 + 15 * 2);
  for (int h = 0; h < 2; h++) {
    const int base = h * per;
    int zeroNormals = 0;
    for (int i = base; i < base + per; i++) {
      const float r = std::sqrt(v[3 * i] * v[3 * i] + v[3 * i + 1] * v[3 * i + 1] +
                                v[3 * i + 2] * v[3 * i + 2]);
      EXPECT_NEAR(r, 100.0f, 1e-3) << i;
      if (n[3 * i] == 0 && n[3 * i + 1] == 0 && n[3 * i + 2] == 0) zeroNormals++;
    }
    EXPECT_EQ(zeroNormals, 16 * 2) << h;  // the closing copies
    // The first vertex: ring 0 (y = +100), u at its edge, v at its top.
    EXPECT_NEAR(v[3 * base + 1], 100.0f, 1e-3);
    EXPECT_FLOAT_EQ(uv[2 * base], 0.001f);
    EXPECT_FLOAT_EQ(uv[2 * base + 1], 0.9995f);
    // Band 0 ends with its last vertex three times (26, 27 copy 25); band
    // 1 begins with its first three times (28, 29, 30).
    for (int c = 0; c < 3; c++) {
      EXPECT_EQ(v[3 * (base + 26) + c], v[3 * (base + 25) + c]);
      EXPECT_EQ(v[3 * (base + 27) + c], v[3 * (base + 25) + c]);
      EXPECT_EQ(v[3 * (base + 29) + c], v[3 * (base + 28) + c]);
      EXPECT_EQ(v[3 * (base + 30) + c], v[3 * (base + 28) + c]);
    }
    EXPECT_FLOAT_EQ(uv[2 * (base + 26)], 0.0f);
    EXPECT_FLOAT_EQ(uv[2 * (base + 25)], 0.9995f);
    // The last vertex is the south pole's copy (y = -100).
    EXPECT_NEAR(v[3 * (base + per - 1) + 1], -100.0f, 1e-3);
  }
  // Hemisphere 1 starts where hemisphere 0's columns end (phi = -pi).
  for (int c = 0; c < 3; c++) EXPECT_NEAR(v[3 * (per + 1) + c], v[3 * 25 + c], 1e-3);
}
