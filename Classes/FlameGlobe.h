// The globe: a lit, textured earth with the lights of other players, on
// which the listener hears their snippets one after the other.
//
// Model. The globe keeps the light points of the last light-map download
// (at most kMaxLights; they light up two per update) and a pipeline of
// snippets: none, then downloading (on the globe's own background thread,
// one at a time), then waiting, then current and playing (handed to the
// tune player), then fading out (after its end, a skip or a purge), then
// released; the waiting one is switched in only when nothing plays and the
// fade timer is exactly 0. Filters (filterPressed) choose what the next
// download asks for; a changed filter or a picked region purges what
// plays and what waits. Love and skip vote once per snippet on the shared
// background thread.
//
// Camera. rotateX / setRotationSpeedX / scaleGlobe are drag, flick and
// pinch in points of the 320 x 480 screen; doubleTapEventAt picks a place
// for the region filter in the next drawn frame. Between touches the globe
// follows the playing snippet's place (auto-follow).
//
// Drawing. render() draws with GL ES 1.1 fixed-function state on the
// context's thread: the sphere (two hemispheres of kSphereVertices
// triangle-strip vertices with the earth's two halves), the region marker,
// the playing snippet's marker and bursts, and the lights.
//
// A place (latitude, longitude in degrees) lies on the sphere of radius R
// at R x placeNormal(latitude, longitude); the sphere's texture mapping
// puts the same place's texel there, and picking inverts it.
//
// Robustness (beyond the plain behaviour):
//  - a service that cannot be reached waits 2 s between checks, like an
//    empty reply, and shows kUnreachableName; with no service configured
//    nothing is requested and the name reads kOfflineName;
//  - non-finite places, targets and speeds are ignored, so the angles stay
//    finite;
//  - zero axes (the camera looking along the marker, the region marker at
//    a pole) take a perpendicular instead of a NaN orientation;
//  - the destructor aborts the post in flight, stops and joins the globe's
//    own thread, and frees every scene object and texture; work still
//    queued on the shared thread holds only what it owns.
//
// Threads: everything but the downloads and votes runs on the main thread.
// The snippet state is guarded by one mutex, the light points by another,
// never both at once. The screen (setSnippetName and friends) is called on
// the main thread only: a background step leaves its news for the next
// update.
#ifndef CLASSES_FLAMEGLOBE_H
#define CLASSES_FLAMEGLOBE_H

#include <GLES/gl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/FluvaneWebCalls.h"
#include "VexelGraphics/VGVector3.h"

class VXBackgroundThread;
class VGMesh;
class VGNode;
class VGParticleEmitterPointSingleFire;
class VGParticleEmitterPointSwirl;
class VGParticleSystem;
class VGRenderObject;

// What the globe tells its screen (the globe screen's controller).
class FlameGlobeScreen {
 public:
  virtual ~FlameGlobeScreen() = default;
  virtual void setSnippetName(const std::string& name) = 0;
  virtual void setActiveFilter(int button) = 0;
  virtual void closeFilters() = 0;
};

// The service calls and the player the globe uses. Every member may be
// left empty: an empty call does nothing and answers nothing.
struct FlameGlobeServices {
  // A service is configured (no request is ever made without one).
  std::function<bool()> configured;
  // The service's host can be reached (a name lookup).
  std::function<bool()> reachable;
  // One snippet for the filter (place and radius for the region filter),
  // or none; the post gives up when *abort turns true.
  std::function<std::unique_ptr<FluvaneSnippetInfo>(int filter, double latitude, double longitude,
                                                    double radius, const std::atomic<bool>* abort)>
      getSnippet;
  // At most maxCount light points (abort as above).
  std::function<std::vector<FluvaneLightPoint>(int maxCount, const std::atomic<bool>* abort)>
      getMap;
  // A vote on a snippet: love (true) or skip (false).
  std::function<void(int snippetId, bool love)> uploadVote;
  // Plays a snippet packet, reporting to the globe's finishedPlayingTune and
  // playedNote on the main thread; stops it.
  std::function<void(const std::string& packet)> playTune;
  std::function<void()> stopTune;
  // A snippet was listened to (statistics).
  std::function<void()> snippetListened;

  // The service calls of the instrument (FluvaneWebCalls) against the
  // configured service; the player and the statistics are left to the
  // caller.
  static FlameGlobeServices standard();
};

class FlameGlobe {
 public:
  static constexpr int kMaxLights = 1000;
  static constexpr int kSphereVertices = 478;  // per hemisphere
  static constexpr float kRadius = 100.0f;
  static constexpr const char* kNoMelodiesName = "no melodies found";
  static constexpr const char* kOfflineName = "offline";
  static constexpr const char* kUnreachableName = "service unreachable";

  // withGraphics: build the scene objects and load the textures (a GL
  // context must be current); without, a model that draws nothing and
  // counts its textures as loaded (tests and headless runs).
  explicit FlameGlobe(FlameGlobeServices services, bool withGraphics = true);
  ~FlameGlobe();
  FlameGlobe(const FlameGlobe&) = delete;
  FlameGlobe& operator=(const FlameGlobe&) = delete;

  // --- Per frame (main thread) ---
  // True when the next frame differs from the last: the camera moves, the
  // marker, the region marker, particles or lights show.
  bool update(float stepFactor);
  void render();

  // --- Entering and leaving ---
  void startZoomOut();
  void globeExit();
  void setMyFlameMarkerLati(float latitude, float longitude);

  // --- Touches, in points of the 320 x 480 screen ---
  void rotateX(float dx, float dy);
  void setRotationSpeedX(float dx, float dy);
  void scaleGlobe(float change);
  void doubleTapEventAt(float x, float y);

  // --- From the screen ---
  void filterPressed(int button);
  void tuneLoved();
  void tuneSkipped();

  // --- From the player (main thread) ---
  void finishedPlayingTune();
  void playedNote(int note);

  void setSnippetViewController(FlameGlobeScreen* screen) { screen_ = screen; }
  // Called once per entry when the service cannot be reached (the
  // instrument screen shows its alert).
  void setUnreachableHandler(std::function<void()> handler) { onUnreachable_ = std::move(handler); }

  // --- State, read by the screen and the tests ---
  int globeState() const { return globeState_; }
  bool zoomDone() const { return zoomDone_; }
  float zoomFactor() const { return zoomFactor_; }
  float rotationAngle() const { return rotationAngle_; }
  float tiltAngle() const { return tiltAngle_; }
  float rotationSpeed() const { return rotationSpeed_; }
  float tiltSpeed() const { return tiltSpeed_; }
  bool autoFollowMode() const { return autoFollowMode_; }
  float targetRotation() const { return targetRotation_; }
  float targetTilt() const { return targetTilt_; }
  int currentFilterId() const { return currentFilterId_; }
  bool regionSelectionActive() const { return regionSelectionActive_; }
  bool doDoubleTapProcess() const { return doDoubleTapProcess_; }
  float tapLat() const { return tapLat_; }
  float tapLong() const { return tapLong_; }
  bool texturesLoaded() const { return texturesLoaded_; }
  float snippetFadeOutTimer() const { return snippetFadeOutTimer_; }
  bool playbackTuneActive() const;
  bool downloadingInProgress() const;
  bool purgePending() const;
  bool hasCurrentSnippet() const;
  bool hasWaitingSnippet() const;
  std::string currentSnippetName() const;
  int lightCount() const;
  int lightUpCounter() const;
  const VGNode& regionNode() const { return *regionNode_; }
  const Vector3& notePosition() const;
  // Particles alive: the played notes', the swirls' (0 without graphics).
  std::size_t liveNoteParticles() const;
  std::size_t liveSwirlParticles() const;
  // The orientation render() gave the marker in its last frame (w, x, y, z).
  const float* markerOrientation() const { return markerOrientation_; }

  // --- Geometry ---
  // The unit normal of a place; R x this is the point on the sphere.
  static Vector3 placeNormal(double latitude, double longitude);
  // The sphere's arrays: 2 x kSphereVertices vertices (3 floats each for
  // positions and normals, 2 for texture coordinates), hemisphere 0 first.
  static const float* sphereVertices();
  static const float* sphereNormals();
  static const float* sphereTexCoords();
  // The half-size s of a light of this weight (flicker u in [0, 1)) at
  // this zoom, before the pole's shrinking.
  static float lightSize(int value, float flicker, float zoomFactor);
  // The light arrays as the last render() filled them (6 vertices a light).
  const float* lightVertices() const { return lightVertices_.data(); }

  // Replaces the earth's textures (tests draw test earths); the globe
  // deletes them with its own.
  void setEarthTextures(GLuint hemisphere0, GLuint hemisphere1);

 private:
  struct Lights;
  struct Shared;

  void loadTextures();
  void buildScene();
  void setEarthCamera();
  void processDoubleTapEvent();
  void renderFluvaneLights();
  void updateAutoFollow();
  void updateEmitters();
  void burstAt(double latitude, double longitude);
  void startNewDownload();
  void startNewDownloadFluvaneLights();
  void downloadFluvaneSnippet(int filter, double latitude, double longitude, double radius);
  void setNameLocked(const std::string& name);
  void pushNameToScreen();
  void stopPlayingLocked();

  FlameGlobeServices services_;
  bool withGraphics_;
  FlameGlobeScreen* screen_ = nullptr;
  std::function<void()> onUnreachable_;

  // View state (main thread).
  int globeState_ = 2;
  float zoomFactor_ = 0.0f;
  bool zoomDone_ = false;
  float rotationAngle_ = 0.0f;
  float tiltAngle_ = 0.0f;
  float rotationSpeed_ = 0.0f;
  float tiltSpeed_ = 0.0f;
  bool autoFollowMode_ = true;
  float autoFollowModeStartTimer_ = 0.0f;
  float targetRotation_ = 0.0f;
  float targetTilt_ = 0.0f;
  float myFlameLat_ = 0.0f;
  float myFlameLong_ = 0.0f;

  // Snippet pipeline: guarded by mutex_ where a background step shares it.
  mutable std::mutex mutex_;
  std::unique_ptr<FluvaneSnippetInfo> otherFlames_;
  std::unique_ptr<FluvaneSnippetInfo> newOtherFlames_;
  bool downloadingInProgress_ = false;
  float downloadCooldown_ = 0.0f;
  bool purgeDownloadedSnippets_ = false;
  bool playbackTuneActive_ = false;
  std::string currentSnippetName_;
  bool nameChanged_ = false;
  bool unreachableSeen_ = false;    // this entry's unreachable report is due
  bool unreachableShown_ = false;   // and was given
  float snippetFadeOutTimer_ = 0.0f;
  bool tuneWasLoved_ = false;
  bool tuneWasSkipped_ = false;
  int currentFilterId_ = 0;
  std::atomic<bool> abort_{false};
  std::unique_ptr<VXBackgroundThread> backgroundThread_;

  // Light points: shared with the shared thread's downloads.
  std::shared_ptr<Lights> lights_;

  // Region selection.
  bool regionSelectionActive_ = false;
  bool doDoubleTapProcess_ = false;
  float tapX_ = 0.0f;
  float tapY_ = 0.0f;
  float tapLat_ = 0.0f;
  float tapLong_ = 0.0f;
  float regionAnimTimer_ = 0.0f;
  float filterCloseTimer_ = 0.0f;
  float markerAnimation_ = 0.0f;

  // Drawing objects.
  GLuint earthTextures_[2] = {0, 0};
  bool texturesLoaded_ = false;
  GLuint particleTexture_ = 0;
  GLuint markerTexture_ = 0;
  GLuint markerTexture2_ = 0;
  GLuint markerTexture3_ = 0;
  std::unique_ptr<VGParticleSystem> particleSystem_;
  std::unique_ptr<VGParticleEmitterPointSingleFire> noteEmitter_;
  std::unique_ptr<VGNode> particleNode_;
  std::unique_ptr<VGParticleSystem> swirlSystem_;
  std::unique_ptr<VGParticleEmitterPointSwirl> swirlEmitter_;
  std::unique_ptr<VGParticleEmitterPointSwirl> swirlEmitter2_;
  std::unique_ptr<VGNode> swirlNode_;
  std::unique_ptr<VGMesh> markerMesh1_;
  std::unique_ptr<VGRenderObject> markerRO_;
  std::unique_ptr<VGNode> markerNode_;
  std::unique_ptr<VGMesh> markerMesh2_;
  std::unique_ptr<VGRenderObject> markerRO2_;
  std::unique_ptr<VGMesh> regionMesh_;
  std::unique_ptr<VGRenderObject> regionRO_;
  std::unique_ptr<VGNode> regionNode_;
  float markerOrientation_[4] = {1, 0, 0, 0};
  std::vector<float> lightVertices_;
  std::vector<float> lightTexCoords_;
  std::vector<std::uint8_t> lightColours_;
};

#endif
