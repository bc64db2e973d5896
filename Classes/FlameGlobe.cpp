#include "Classes/FlameGlobe.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "VexelGraphics/VGGLU.h"
#include "VexelGraphics/VGLog.h"
#include "VexelGraphics/VGLine.h"
#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGMesh.h"
#include "VexelGraphics/VGNode.h"
#include "VexelGraphics/VGParticleAnimator.h"
#include "VexelGraphics/VGParticleEmitter.h"
#include "VexelGraphics/VGParticleRenderer.h"
#include "VexelGraphics/VGParticleSystem.h"
#include "VexelGraphics/VGQuaternion.h"
#include "VexelGraphics/VGRenderObject.h"
#include "VexelGraphics/VGTexture.h"
#include "platform/gfx/GLHost.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLog.h"
#include "vxu/VXLog.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr float kUpdateStep = 1.0f / 30.0f;
constexpr int kSphereFloats3 = 2 * FlameGlobe::kSphereVertices * 3;
constexpr int kSphereFloats2 = 2 * FlameGlobe::kSphereVertices * 2;

// The sphere: built once for the process (every globe draws the same one).
struct Sphere {
  std::array<float, kSphereFloats3> vertices{};
  std::array<float, kSphereFloats3> normals{};
  std::array<float, kSphereFloats2> uvs{};

  explicit Sphere(float r) {
    for (int h = 0; h < 2; h++) {
      // The counters start again for each hemisphere, written after the
      // first one.
      int iVertex = h * FlameGlobe::kSphereVertices * 3;
      int iNormal = iVertex;
      int iUV = h * FlameGlobe::kSphereVertices * 2;
      const auto emit = [&](int ring, int column, bool closing) {
        const double theta = (1.0 - ring / 16.0) * kPi;
        const double phi = column == 12 ? -(h + 1) * kPi : -(column / 12.0) * kPi - h * kPi;
        const float n[3] = {float(std::sin(theta) * std::sin(phi)), float(-std::cos(theta)),
                            float(std::sin(theta) * std::cos(phi))};
        for (int c = 0; c < 3; c++) vertices[iVertex++] = r * n[c];
        if (closing) {  // the closing copies keep zero normals and (0, 0)
          iNormal += 3;
          iUV += 2;
          return;
        }
        for (int c = 0; c < 3; c++) normals[iNormal++] = n[c];
        uvs[iUV++] = column == 0 ? 0.001f : column == 12 ? 0.9995f : float(column / 12.0);
        uvs[iUV++] = ring == 0 ? 0.9995f : ring == 16 ? 0.001f : float(1.0 - ring / 16.0);
      };
      for (int band = 0; band < 16; band++) {
        for (int column = 0; column <= 12; column++) {
          emit(band, column, false);
          if (band > 0 && column == 0) {  // joined to the band before
            emit(band, column, false);
            emit(band, column, false);
          }
          emit(band + 1, column, false);
        }
        emit(band + 1, 12, true);
        emit(band + 1, 12, true);
      }
    }
  }
};

const Sphere& sphere() {
  static const Sphere instance(FlameGlobe::kRadius);
  return instance;
}

// A unit axis across a and b (a x b normalised); when a and b are parallel
// or one is zero, any unit axis at right angles to a.
Vector3 crossAxis(const Vector3& a, const Vector3& b) {
  Vector3 axis = a.crossProduct(b);
  if (!(axis.length() >= 1e-6f)) return a.perpendicular();
  axis.normalise();
  return axis;
}

Quaternion aroundAxis(float degrees, const Vector3& axis) {
  Quaternion q;
  q.FromAngleAxis(static_cast<float>(degrees * 2 * kPi / 360), axis);
  return q;
}

float wrapAnimation(float value) {
  return value >= float(2 * kPi) ? value - float(2 * kPi) : value;
}

}  // namespace

// The light points, shared with the downloads on the shared thread, which
// may outlive the globe.
struct FlameGlobe::Lights {
  std::mutex mutex;
  std::vector<FluvaneLightPoint> points;
  int lightUpCounter = 0;
  bool downloading = false;
  std::atomic<bool> abort{false};
};

FlameGlobeServices FlameGlobeServices::standard() {
  FlameGlobeServices s;
  s.configured = [] { return VXServiceBase().has_value(); };
  s.reachable = [] { return isVexelReachable(); };
  s.getSnippet = [](int filter, double latitude, double longitude, double radius,
                    const std::atomic<bool>* abort) {
    return getFluvaneSnippet(filter, latitude, longitude, radius, abort);
  };
  s.getMap = [](int maxCount, const std::atomic<bool>* abort) {
    int count = maxCount, value = 0;
    return getFluvaneMap(&count, &value, abort);
  };
  s.uploadVote = [](int snippetId, bool love) { ::uploadVote(snippetId, love); };
  return s;
}

Vector3 FlameGlobe::placeNormal(double latitude, double longitude) {
  const double theta = (90.0 - latitude) / 90.0 * kPi / 2;
  const double phi = longitude / -180.0 * kPi;
  return Vector3(float(std::sin(theta) * std::sin(phi)), float(-std::cos(theta)),
                 float(std::sin(theta) * std::cos(phi)));
}

const float* FlameGlobe::sphereVertices() { return sphere().vertices.data(); }
const float* FlameGlobe::sphereNormals() { return sphere().normals.data(); }
const float* FlameGlobe::sphereTexCoords() { return sphere().uvs.data(); }

float FlameGlobe::lightSize(int value, float flicker, float zoomFactor) {
  const float base = 0.2f, variation = 0.8f;
  const float s0 = base + 0.5f * variation + flicker * 0.5f * variation;
  const float m = value > 2000 ? 40.0f : value * 0.02f;
  return (s0 + 0.25f * m * s0) * (3.0f - 2.4f * zoomFactor) * 0.75f;
}

FlameGlobe::FlameGlobe(FlameGlobeServices services, bool withGraphics)
    : services_(std::move(services)),
      withGraphics_(withGraphics),
      backgroundThread_(std::make_unique<VXBackgroundThread>("FlameGlobe")),
      lights_(std::make_shared<Lights>()) {
  // The graphics library's messages (textures that do not load) go to the
  // application log.
  VG_set_log_sink(VX_vlogMessage);
  sphere();
  lightVertices_.assign(kMaxLights * 6 * 3, 0.0f);
  lightTexCoords_.assign(kMaxLights * 6 * 2, 0.0f);
  lightColours_.assign(kMaxLights * 6 * 4, 0);
  buildScene();
  if (withGraphics_) {
    loadTextures();
  } else {
    texturesLoaded_ = true;
  }
}

FlameGlobe::~FlameGlobe() {
  // A post in flight gives up; the globe's own thread ends after its call
  // and is joined. The shared thread's work holds only lights_.
  abort_ = true;
  lights_->abort = true;
  backgroundThread_.reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    otherFlames_.reset();
    newOtherFlames_.reset();
  }
  if (particleSystem_) particleSystem_->clear();
  if (swirlSystem_) swirlSystem_->clear();
  if (withGraphics_) {
    for (GLuint texture : {earthTextures_[0], earthTextures_[1], particleTexture_, markerTexture_,
                           markerTexture2_, markerTexture3_}) {
      VGTexture::releaseTexture(texture);
    }
  }
}

void FlameGlobe::buildScene() {
  // Note particles: one per played note, pulled back to the centre.
  auto attractor = new VGParticleAnimatorAttractor();
  attractor->m_point = Vector3::ZERO;
  attractor->m_strength = 1.0f;
  attractor->m_shrinkRate = 0.0f;
  attractor->m_alphaFadeRate = 2.0f;
  auto quads = new VGParticleRendererQuad(1000);
  quads->m_depth = true;
  particleSystem_ = std::make_unique<VGParticleSystem>();
  particleSystem_->init(attractor, quads, 1000);
  noteEmitter_ = std::make_unique<VGParticleEmitterPointSingleFire>();
  noteEmitter_->initWithParticleSystem(particleSystem_.get());
  noteEmitter_->m_color = VGColor{55, 255, 55, 255};
  noteEmitter_->m_useDirection = true;
  noteEmitter_->m_spread = 2.0f;
  noteEmitter_->m_emissionRate = 0.0f;
  particleSystem_->addEmitter(noteEmitter_.get());
  particleNode_ = std::make_unique<VGNode>();
  particleNode_->addRenderObject(particleSystem_.get());

  // The marker's beam and its base.
  markerMesh1_ = std::make_unique<VGMesh>();
  markerMesh1_->generateQuadZ(0, 190, 0, 10, 400);
  markerMesh1_->setTexCoords({0.01f, 0.01f, 0.99f, 0.01f, 0.01f, 0.99f, 0.99f, 0.99f});
  markerRO_ = std::make_unique<VGRenderObject>();
  markerRO_->addMesh(markerMesh1_.get());
  markerRO_->m_depthWrite = false;
  markerRO_->setColor(155, 155, 255, 35);
  markerNode_ = std::make_unique<VGNode>();
  markerNode_->addRenderObject(markerRO_.get());

  markerMesh2_ = std::make_unique<VGMesh>();
  markerMesh2_->generateQuadY(0, 0.5f, 0, 10, 10);
  markerRO2_ = std::make_unique<VGRenderObject>();
  markerRO2_->addMesh(markerMesh2_.get());
  markerRO2_->m_depthWrite = false;
  markerRO2_->m_depthTest = false;
  markerRO2_->m_blending = true;
  markerRO2_->m_srcBlend = GL_SRC_ALPHA;
  markerRO2_->m_dstBlend = GL_ONE;
  markerRO2_->setColor(255, 255, 255, 200);

  // The swirl: two helices rising from the marker.
  auto gravity = new VGParticleAnimatorGravity();
  gravity->m_gravity = Vector3::ZERO;
  gravity->setBlendValues(45, 0);
  gravity->setSizeValues(2.0f);
  auto sprites = new VGParticleRendererBillboard(4000);
  sprites->m_depth = true;
  swirlSystem_ = std::make_unique<VGParticleSystem>();
  swirlSystem_->init(gravity, sprites, 4000);
  for (auto* emitter : {&swirlEmitter_, &swirlEmitter2_}) {
    *emitter = std::make_unique<VGParticleEmitterPointSwirl>();
    VGParticleEmitterPointSwirl& e = **emitter;
    e.initWithParticleSystem(swirlSystem_.get());
    e.position = Vector3::ZERO;
    e.m_color = VGColor{55, 55, 255, 55};
    e.m_useDirection = true;
    e.m_direction = Vector3::UNIT_Y;
    e.m_speed = 0.0f;
    e.m_spread = 0.0f;
    e.m_particleLife = 4.0f;
    e.m_particleSize = 6.0f;
    e.m_rise = 300.0f;
    e.m_radius = 6.0f;
    e.m_angularSpeed = 10.0f;
    e.m_emissionRate = 0.0f;
    swirlSystem_->addEmitter(&e);
  }
  swirlNode_ = std::make_unique<VGNode>();
  swirlNode_->addRenderObject(swirlSystem_.get());
  swirlNode_->addRenderObject(markerRO2_.get());

  // The region marker.
  regionMesh_ = std::make_unique<VGMesh>();
  regionMesh_->generateQuadY(0, 0.5f, 0, 65, 65);
  regionRO_ = std::make_unique<VGRenderObject>();
  regionRO_->addMesh(regionMesh_.get());
  regionRO_->m_depthWrite = false;
  regionRO_->m_depthTest = false;
  regionRO_->m_blending = true;
  regionRO_->m_srcBlend = GL_SRC_ALPHA;
  regionRO_->m_dstBlend = GL_ONE;
  regionRO_->setColor(155, 155, 255, 155);
  regionRO_->m_lighting = false;
  regionNode_ = std::make_unique<VGNode>();
  regionNode_->addRenderObject(regionRO_.get());
}

void FlameGlobe::loadTextures() {
  particleTexture_ = VGTexture::loadCompressedTexture("earth_ping.pvr", false);
  markerTexture_ = VGTexture::loadCompressedTexture("marker_texture_sq.pvr", true);
  markerTexture2_ = VGTexture::loadCompressedTexture("marker2.pvr", true);
  markerTexture3_ = VGTexture::loadCompressedTexture("region_marker.pvr", true);
  markerRO_->setTexture(markerTexture_);
  markerRO2_->setTexture(markerTexture2_);
  regionRO_->setTexture(markerTexture3_);
  static_cast<VGParticleRendererBillboard*>(swirlSystem_->renderer())->m_texture = markerTexture2_;
  earthTextures_[0] = VGTexture::loadCompressedTexture("land_shallow_topo_2048_01.pvr", false);
  earthTextures_[1] = VGTexture::loadCompressedTexture("land_shallow_topo_2048_00.pvr", false);
  texturesLoaded_ = true;
}

void FlameGlobe::setEarthTextures(GLuint hemisphere0, GLuint hemisphere1) {
  if (withGraphics_) {
    VGTexture::releaseTexture(earthTextures_[0]);
    VGTexture::releaseTexture(earthTextures_[1]);
  }
  earthTextures_[0] = hemisphere0;
  earthTextures_[1] = hemisphere1;
}

// --- State read under the locks ---

bool FlameGlobe::playbackTuneActive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playbackTuneActive_;
}
bool FlameGlobe::downloadingInProgress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return downloadingInProgress_;
}
bool FlameGlobe::purgePending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return purgeDownloadedSnippets_;
}
bool FlameGlobe::hasCurrentSnippet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return otherFlames_ != nullptr;
}
bool FlameGlobe::hasWaitingSnippet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return newOtherFlames_ != nullptr;
}
std::string FlameGlobe::currentSnippetName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentSnippetName_;
}
int FlameGlobe::lightCount() const {
  std::lock_guard<std::mutex> lock(lights_->mutex);
  return static_cast<int>(lights_->points.size());
}
int FlameGlobe::lightUpCounter() const {
  std::lock_guard<std::mutex> lock(lights_->mutex);
  return lights_->lightUpCounter;
}
const Vector3& FlameGlobe::notePosition() const { return noteEmitter_->position; }

std::size_t FlameGlobe::liveNoteParticles() const {
  return particleSystem_ ? particleSystem_->liveParticles().size() : 0;
}
std::size_t FlameGlobe::liveSwirlParticles() const {
  return swirlSystem_ ? swirlSystem_->liveParticles().size() : 0;
}

// --- The screen's name ---

void FlameGlobe::setNameLocked(const std::string& name) {
  currentSnippetName_ = name;
  nameChanged_ = true;
}

void FlameGlobe::pushNameToScreen() {
  std::string name;
  bool changed = false, unreachable = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = nameChanged_;
    nameChanged_ = false;
    name = currentSnippetName_;
    unreachable = unreachableSeen_ && !unreachableShown_;
    if (unreachable) unreachableShown_ = true;
  }
  if (changed && screen_ != nullptr) screen_->setSnippetName(name);
  if (unreachable && onUnreachable_) onUnreachable_();
}

// --- The per-frame step ---

bool FlameGlobe::update(float f) {
  if (!texturesLoaded_) return false;
  const float zoomBefore = zoomFactor_, rotationBefore = rotationAngle_, tiltBefore = tiltAngle_;
  const bool particlesBefore = liveNoteParticles() + liveSwirlParticles() > 0;
  {
    std::lock_guard<std::mutex> lock(lights_->mutex);
    if (!lights_->downloading) {
      lights_->lightUpCounter =
          std::min(lights_->lightUpCounter + 2, static_cast<int>(lights_->points.size()));
    }
  }
  markerAnimation_ = wrapAnimation(markerAnimation_ + 1.0f / 120.0f);
  if (filterCloseTimer_ > 0) {
    filterCloseTimer_ -= kUpdateStep;
    if (filterCloseTimer_ < 0) {
      filterCloseTimer_ = 0;
      if (screen_ != nullptr) screen_->closeFilters();
    }
  }
  if (regionSelectionActive_) {
    regionAnimTimer_ = wrapAnimation(regionAnimTimer_ + 1.0f / 12.0f);
    const float s = (1 - 0.5f * zoomFactor_) * (1 + 0.1f * std::sin(regionAnimTimer_));
    regionNode_->setScale(s, 1, s);
  }
  if (globeState_ == 0 || globeState_ == 1) {
    if (snippetFadeOutTimer_ > 0) {
      snippetFadeOutTimer_ -= f / 60.0f;
      if (snippetFadeOutTimer_ < 0) {
        snippetFadeOutTimer_ = 0;
        VX_logf("snippetFadeOutTimer == 0.0f, destroying previous snippet data!\n");
        std::lock_guard<std::mutex> lock(mutex_);
        otherFlames_.reset();
      }
    }
    bool stop = false;
    bool download = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (purgeDownloadedSnippets_) {
        if (playbackTuneActive_) {
          VX_logf("purge - stopping playback of current snippet/filter\n");
          playbackTuneActive_ = false;
          autoFollowMode_ = true;
          snippetFadeOutTimer_ = 0.1f;
          stop = true;
        }
        setNameLocked("");
        if (!downloadingInProgress_) {
          VX_logf("purge - deleting downloaded snippet from old filter\n");
          newOtherFlames_.reset();
          purgeDownloadedSnippets_ = false;
          downloadCooldown_ = 0;
        }
      }
      if (!purgeDownloadedSnippets_ && !downloadingInProgress_) {
        if (newOtherFlames_) {
          if (!playbackTuneActive_ && snippetFadeOutTimer_ == 0.0f) {
            VX_logf("Switching to new snippet data for playback! -------------  \n");
            otherFlames_ = std::move(newOtherFlames_);
          }
        } else {
          if (downloadCooldown_ > 0) {
            downloadCooldown_ = std::max(0.0f, downloadCooldown_ - kUpdateStep);
          }
          if (downloadCooldown_ == 0) download = true;
        }
      }
    }
    if (stop && services_.stopTune) services_.stopTune();
    if (download) startNewDownload();
    updateEmitters();
  }
  particleSystem_->update(kUpdateStep);
  swirlSystem_->update(kUpdateStep);
  if (globeState_ == 1) {
    if (autoFollowMode_) {
      updateAutoFollow();
    } else {
      if (autoFollowModeStartTimer_ > 0) {
        autoFollowModeStartTimer_ -= kUpdateStep;
        if (autoFollowModeStartTimer_ < 0) {
          autoFollowModeStartTimer_ = 0;
          autoFollowMode_ = true;
        }
      }
      rotationAngle_ += rotationSpeed_;
      if (rotationAngle_ > 360) {
        rotationAngle_ -= 360;
      } else if (rotationAngle_ < 0) {
        rotationAngle_ += 360;
      }
      tiltAngle_ += tiltSpeed_;
      if (tiltAngle_ > 80) {
        tiltAngle_ += 0.1f * (80 - tiltAngle_);
        tiltSpeed_ = 0;
      } else if (tiltAngle_ < -80) {
        tiltAngle_ += 0.1f * (-80 - tiltAngle_);
        tiltSpeed_ = 0;
      }
      rotationSpeed_ *= 0.95f;
      tiltSpeed_ *= 0.95f;
    }
  } else if (globeState_ == 0) {
    if (autoFollowMode_) updateAutoFollow();
    zoomFactor_ -= 0.03f;
    if (zoomFactor_ <= 0) {
      zoomFactor_ = 0;
      globeState_ = 1;
      zoomDone_ = true;
    }
  }
  pushNameToScreen();
  // What the next frame shows differently: the camera moved, particles
  // live (or just died), the marker shows, the region marker breathes, or
  // lights flicker.
  constexpr float kStill = 1e-3f;
  if (std::fabs(zoomFactor_ - zoomBefore) > kStill ||
      std::fabs(rotationAngle_ - rotationBefore) > kStill ||
      std::fabs(tiltAngle_ - tiltBefore) > kStill) {
    return true;
  }
  if (particlesBefore || liveNoteParticles() + liveSwirlParticles() > 0) return true;
  if (playbackTuneActive() || snippetFadeOutTimer_ > 0 || regionSelectionActive_) return true;
  return lightUpCounter() > 0;
}

void FlameGlobe::updateAutoFollow() {
  const float diff = targetRotation_ - rotationAngle_;
  if (std::fabs(diff) <= 180) {
    rotationAngle_ += 0.02f * diff;
  } else if (diff < 0) {
    rotationAngle_ += 0.02f * (diff + 360);
  } else {
    rotationAngle_ -= 0.02f * (360 - diff);
  }
  tiltAngle_ += 0.02f * (-targetTilt_ - tiltAngle_);
}

void FlameGlobe::updateEmitters() {
  std::string packet;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!otherFlames_ || playbackTuneActive_ || snippetFadeOutTimer_ > 0) return;
    const FluvaneSnippetInfo& snippet = *otherFlames_;
    burstAt(snippet.latitude, snippet.longitude);
    // The service's replies are checked, but a place that is not finite
    // must never reach the angles: auto-follow only scales the difference.
    const float target = float(snippet.longitude + 10);
    const float tilt =
        float(snippet.latitude >= 0 ? snippet.latitude - 10 : snippet.latitude + 10);
    if (std::isfinite(target) && std::isfinite(tilt)) {
      targetRotation_ = target;
      targetTilt_ = tilt;
    }
    playbackTuneActive_ = true;
    setNameLocked(snippet.name);
    tuneWasLoved_ = false;
    tuneWasSkipped_ = false;
    packet = snippet.snippetData;
  }
  if (services_.playTune) services_.playTune(packet);
  if (services_.snippetListened) services_.snippetListened();
}

void FlameGlobe::burstAt(double latitude, double longitude) {
  if (!std::isfinite(latitude) || !std::isfinite(longitude)) return;
  const Vector3 n = placeNormal(latitude, longitude);
  particleSystem_->clear();
  swirlSystem_->clear();
  noteEmitter_->position = n * kRadius;
  noteEmitter_->m_direction = n;
  noteEmitter_->m_spread = 0.5f;
  noteEmitter_->m_speed = 30.0f;
  noteEmitter_->m_particleSize = 1.8f;
  noteEmitter_->m_particleLife = 18.0f;
  noteEmitter_->m_emissionRate = 1.0f;
  for (VGParticleEmitterPointSwirl* e : {swirlEmitter_.get(), swirlEmitter2_.get()}) {
    e->m_emissionRate = 20.0f;
    e->m_angularSpeed = 3.0f;
  }
  const float angle = 360.0f * VGMath::unitRandom();
  swirlEmitter_->triggerExplosion(angle, 6.0f);
  swirlEmitter2_->triggerExplosion(angle + VGMath::PI, 6.0f);
}

// --- Entering and leaving ---

void FlameGlobe::startZoomOut() {
  if (globeState_ == 2) {
    zoomFactor_ = 1.0f;
    globeState_ = 0;
    zoomDone_ = false;
    rotationAngle_ = myFlameLong_;
    tiltAngle_ = -myFlameLat_;
    rotationSpeed_ = 0;
    tiltSpeed_ = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      unreachableSeen_ = false;
      unreachableShown_ = false;
    }
    startNewDownloadFluvaneLights();
  }
  autoFollowMode_ = true;
}

void FlameGlobe::globeExit() {
  VX_logf("Globe exit, stopping play!\n");
  bool stop = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (playbackTuneActive_) {
      playbackTuneActive_ = false;
      autoFollowMode_ = true;
      stop = true;
      otherFlames_.reset();
      setNameLocked("");
    }
  }
  if (stop && services_.stopTune) services_.stopTune();
  globeState_ = 2;
  pushNameToScreen();
}

void FlameGlobe::setMyFlameMarkerLati(float latitude, float longitude) {
  VX_logf("Got flame marker: %f, %f \n", longitude, latitude);
  if (!std::isfinite(latitude) || !std::isfinite(longitude)) return;
  myFlameLat_ = latitude;
  myFlameLong_ = longitude;
}

// --- Touches ---

void FlameGlobe::rotateX(float dx, float dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  autoFollowMode_ = false;
  autoFollowModeStartTimer_ = 5;
  const float k = 1 - 0.8f * zoomFactor_;
  rotationAngle_ += k * dx * 0.25f;
  tiltAngle_ += k * dy * 0.25f;
}

void FlameGlobe::setRotationSpeedX(float dx, float dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  autoFollowMode_ = false;
  autoFollowModeStartTimer_ = 5;
  const float k = 1 - 0.8f * zoomFactor_;
  rotationSpeed_ = k * dx * 0.3f;
  tiltSpeed_ = k * dy * 0.3f;
}

void FlameGlobe::scaleGlobe(float change) {
  if (!std::isfinite(change)) return;
  autoFollowMode_ = false;
  autoFollowModeStartTimer_ = 5;
  zoomFactor_ = std::clamp(zoomFactor_ + change, 0.0f, 0.93f);
}

void FlameGlobe::doubleTapEventAt(float x, float y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  tapX_ = x;
  tapY_ = y;
  if (regionSelectionActive_) doDoubleTapProcess_ = true;
}

// --- The screen's buttons ---

void FlameGlobe::filterPressed(int button) {
  filterCloseTimer_ = 0.15f;
  static constexpr int kFilterIds[6] = {-1, 0, 4, 3, 2, 1};
  if (button == 2) {
    currentFilterId_ = 4;
    regionSelectionActive_ = true;
    doDoubleTapProcess_ = true;
    tapX_ = 160;
    tapY_ = 240;
    if (screen_ != nullptr) screen_->setActiveFilter(2);
    return;
  }
  if (button < 1 || button > 5) return;
  const int filter = kFilterIds[button];
  if (filter == currentFilterId_) return;
  currentFilterId_ = filter;
  regionSelectionActive_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    purgeDownloadedSnippets_ = true;
  }
  if (screen_ != nullptr) screen_->setActiveFilter(button);
}

void FlameGlobe::tuneSkipped() {
  std::function<void(int, bool)> vote;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (playbackTuneActive_ && !tuneWasSkipped_ && otherFlames_) {
      id = otherFlames_->snippetId;
      tuneWasSkipped_ = true;
      vote = services_.uploadVote;
    }
    VX_logf("Tune skipped, stopping play!\n");
    if (playbackTuneActive_) {
      playbackTuneActive_ = false;
      autoFollowMode_ = true;
      snippetFadeOutTimer_ = 0.1f;
      setNameLocked("");
    }
  }
  if (vote) {
    VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(
        [vote, id] { vote(id, false); });
  }
  if (services_.stopTune) services_.stopTune();
  pushNameToScreen();
}

void FlameGlobe::tuneLoved() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!playbackTuneActive_ || tuneWasLoved_ || !otherFlames_) return;
  tuneWasLoved_ = true;
  if (const auto vote = services_.uploadVote) {
    const int id = otherFlames_->snippetId;
    VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(
        [vote, id] { vote(id, true); });
  }
}

// --- From the player ---

void FlameGlobe::finishedPlayingTune() {
  std::lock_guard<std::mutex> lock(mutex_);
  VX_logf("finishedPlayingTune, stopping play!\n");
  if (playbackTuneActive_) {
    playbackTuneActive_ = false;
    autoFollowMode_ = true;
    snippetFadeOutTimer_ = 1.0f;
  }
}

void FlameGlobe::playedNote(int) { noteEmitter_->triggerOnNextUpdate(); }

// --- Downloads ---

void FlameGlobe::startNewDownload() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (downloadingInProgress_) return;
    downloadingInProgress_ = true;
  }
  VX_logf("Starting new snippet download!\n");
  // What to ask for is taken now, on the main thread; a change while the
  // download runs purges its result.
  const int filter = currentFilterId_;
  const double latitude = tapLat_, longitude = tapLong_;
  const double radius = 12.0 - 6.0 * zoomFactor_;
  backgroundThread_->performSelectorInBackground([this, filter, latitude, longitude, radius] {
    downloadFluvaneSnippet(filter, latitude, longitude, radius);
  });
}

void FlameGlobe::downloadFluvaneSnippet(int filter, double latitude, double longitude,
                                       double radius) {
  std::unique_ptr<FluvaneSnippetInfo> result;
  const char* failure = nullptr;
  bool unreachable = false;
  if (!services_.configured || !services_.configured()) {
    failure = kOfflineName;
  } else if (!services_.reachable || !services_.reachable()) {
    failure = kUnreachableName;
    unreachable = true;
  } else {
    if (services_.getSnippet) {
      result = filter == 4 ? services_.getSnippet(4, latitude, longitude, radius, &abort_)
                           : services_.getSnippet(filter, 0, 0, 0, &abort_);
    }
    if (!result) failure = kNoMelodiesName;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure != nullptr) {
    // An unreachable or absent service waits like an empty reply, so the
    // check is not repeated every frame.
    setNameLocked(failure);
    downloadCooldown_ = 2.0f;
    if (unreachable) unreachableSeen_ = true;
  }
  if (purgeDownloadedSnippets_) {
    VX_logf("purgeDownloadedSnippets - don't use this download\n");
    result.reset();
    newOtherFlames_.reset();
  } else if (result) {
    newOtherFlames_ = std::move(result);
    VX_logf("New snippet is available from download! ------------- \n");
  }
  downloadingInProgress_ = false;
}

void FlameGlobe::startNewDownloadFluvaneLights() {
  {
    std::lock_guard<std::mutex> lock(lights_->mutex);
    if (lights_->downloading) return;
    lights_->points.clear();
    lights_->lightUpCounter = 0;
    lights_->downloading = true;
  }
  // The task owns what it uses: the globe may be gone when it runs.
  auto lights = lights_;
  auto configured = services_.configured;
  auto reachable = services_.reachable;
  auto getMap = services_.getMap;
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground(
      [lights, configured, reachable, getMap] {
        if (!lights->abort && configured && configured() && reachable && reachable() && getMap) {
          std::vector<FluvaneLightPoint> points = getMap(kMaxLights, &lights->abort);
          if (!points.empty()) {
            std::lock_guard<std::mutex> lock(lights->mutex);
            VX_logf("Got %d light points.\n", static_cast<int>(points.size()));
            if (points.size() > static_cast<std::size_t>(kMaxLights)) points.resize(kMaxLights);
            lights->points = std::move(points);
            lights->lightUpCounter = 0;
          }
        }
        std::lock_guard<std::mutex> lock(lights->mutex);
        lights->downloading = false;
      });
}

// --- Drawing ---

void FlameGlobe::setEarthCamera() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(40.0f, 0.6666667f, 1.0f, 800.0f);
  glRotatef(180.0f, 0, 0, 1);
  glTranslatef(0, 0, -350.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void FlameGlobe::render() {
  if (!texturesLoaded_ || !withGraphics_) return;
  setEarthCamera();
  static const GLfloat ambient[] = {0.8f, 0.8f, 0.8f, 1}, diffuse[] = {0.8f, 0.8f, 0.8f, 1},
                       specular[] = {1, 1, 1, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 20.0f);
  static const GLfloat lightAmbient[] = {0.1f, 0.1f, 0.1f, 1},
                       lightDiffuse[] = {0.3f, 0.3f, 0.3f, 1}, lightSpecular[] = {1, 1, 1, 1},
                       lightPosition[] = {0, 0, 300, 0}, spotDirection[] = {0, 0, -300};
  glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
  glLightfv(GL_LIGHT0, GL_SPECULAR, lightSpecular);
  glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
  glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, spotDirection);
  glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 1.2f);
  glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, 5.0f);

  glPushMatrix();
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_POINT_SIZE_ARRAY_OES);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1, 1, 1, 1);
  glEnable(GL_LIGHTING);
  glTranslatef(0, 0, 250.0f * zoomFactor_ - 130.0f);
  glEnable(GL_LIGHT0);
  glRotatef(tiltAngle_, 1, 0, 0);
  glRotatef(rotationAngle_, 0, 1, 0);
  glEnable(GL_TEXTURE_2D);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_BLEND);
  glEnable(GL_DEPTH_TEST);

  if (doDoubleTapProcess_) {
    processDoubleTapEvent();
    doDoubleTapProcess_ = false;
  }

  const Sphere& s = sphere();
  for (int h = 0; h < 2; h++) {
    glBindTexture(GL_TEXTURE_2D, earthTextures_[h]);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glVertexPointer(3, GL_FLOAT, 0, s.vertices.data() + h * kSphereVertices * 3);
    glNormalPointer(GL_FLOAT, 0, s.normals.data() + h * kSphereVertices * 3);
    glTexCoordPointer(2, GL_FLOAT, 0, s.uvs.data() + h * kSphereVertices * 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, kSphereVertices);
  }

  glDisableClientState(GL_NORMAL_ARRAY);
  glDisable(GL_LIGHTING);
  glCullFace(GL_BACK);
  glShadeModel(GL_FLAT);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glColor4f(1, 1, 1, 1);
  glEnable(GL_CULL_FACE);
  if (regionSelectionActive_) regionNode_->render();

  glDisable(GL_CULL_FACE);
  bool playing, fading;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    playing = playbackTuneActive_;
  }
  fading = snippetFadeOutTimer_ > 0;
  if (playing || fading) {
    const std::uint8_t alpha = fading ? VG_byteValue(snippetFadeOutTimer_ * 35) : 35;
    markerRO_->setColor(155, 155, 255, alpha);
    if (playing) {
      glBindTexture(GL_TEXTURE_2D, particleTexture_);
      particleNode_->render();
    }
    const Vector3 p = noteEmitter_->position;
    const Vector3 n = noteEmitter_->m_direction.normalisedCopy();
    const Vector3 e = aroundAxis(-rotationAngle_, Vector3::UNIT_Y) *
                      (aroundAxis(-tiltAngle_, Vector3::UNIT_X) *
                       Vector3(0, 0, 250.0f * zoomFactor_ - 130.0f));
    Vector3 d = e - p;
    d.normalise();
    const Vector3 xAxis = crossAxis(n, d);
    const Vector3 zAxis = crossAxis(xAxis, n);
    Quaternion orientation;
    orientation.FromAxes(xAxis, n, zAxis);
    if (!orientation.isFinite()) orientation = Quaternion::IDENTITY;
    markerOrientation_[0] = orientation.w;
    markerOrientation_[1] = orientation.x;
    markerOrientation_[2] = orientation.y;
    markerOrientation_[3] = orientation.z;
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glDisable(GL_CULL_FACE);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const float sway = 3.0f * std::sin(markerAnimation_);
    markerNode_->setOrientation(orientation);
    for (const Vector3& at : {p, p + xAxis * sway, p + zAxis * sway}) {
      markerNode_->setPosition(at);
      markerNode_->render();
    }
    glEnable(GL_CULL_FACE);
    if (playing) {
      swirlNode_->setPosition(p);
      swirlNode_->setOrientation(orientation);
      swirlNode_->render();
    }
  }

  glDisable(GL_DEPTH_TEST);
  renderFluvaneLights();
  glPopMatrix();
}

void FlameGlobe::renderFluvaneLights() {
  std::lock_guard<std::mutex> lock(lights_->mutex);
  glPushMatrix();
  const int count = std::min(lights_->lightUpCounter, static_cast<int>(lights_->points.size()));
  float* v = lightVertices_.data();
  float* uv = lightTexCoords_.data();
  std::uint8_t* colour = lightColours_.data();
  for (int i = 0; i < count; i++) {
    const FluvaneLightPoint& light = lights_->points[i];
    const Vector3 n = placeNormal(light.latitude, light.longitude);
    const Vector3 c = n * kRadius;
    const Vector3 t1 = n.crossProduct(Vector3::UNIT_Y);
    const Vector3 t2 = t1.crossProduct(n);
    const float s = lightSize(light.value, VGMath::unitRandom(), zoomFactor_);
    const Vector3 corners[6] = {c - t1 * s - t2 * s, c - t1 * s + t2 * s, c + t1 * s + t2 * s,
                                c - t1 * s - t2 * s, c + t1 * s + t2 * s, c + t1 * s - t2 * s};
    static constexpr float kUV[12] = {0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 0};
    for (int k = 0; k < 6; k++) {
      // A place that is not finite draws nothing rather than NaN corners.
      const Vector3 corner = corners[k].isFinite() ? corners[k] : Vector3::ZERO;
      *v++ = corner.x;
      *v++ = corner.y;
      *v++ = corner.z;
      *uv++ = kUV[2 * k];
      *uv++ = kUV[2 * k + 1];
      *colour++ = light.red;
      *colour++ = light.green;
      *colour++ = light.blue;
      *colour++ = light.alpha;
    }
  }
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisable(GL_LIGHTING);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  if (count > 0) {
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindTexture(GL_TEXTURE_2D, markerTexture2_);
    glEnableClientState(GL_COLOR_ARRAY);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glVertexPointer(3, GL_FLOAT, 0, lightVertices_.data());
    glTexCoordPointer(2, GL_FLOAT, 0, lightTexCoords_.data());
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, lightColours_.data());
    glDrawArrays(GL_TRIANGLES, 0, count * 6);
    glDisableClientState(GL_COLOR_ARRAY);
  }
  glDisable(GL_CULL_FACE);
  glPopMatrix();
}

void FlameGlobe::processDoubleTapEvent() {
  float qx, qy, qz;
  if (!gluUnProjectCurrent(tapX_, tapY_, 0, &qx, &qy, &qz)) return;
  // The line from the eye through the tapped point meets the sphere where
  // it is drawn: 350 before the camera, moved by the zoom's translation.
  const Vector3 o(0, 0, 350);
  const Vector3 centre(0, 0, 250.0f * zoomFactor_ - 130.0f);
  Vector3 direction = Vector3(qx, qy, qz) - o;
  direction.normalise();
  const VGLine line(o, direction);
  Vector3 hits[2];
  if (line.findIntersectionSphere(centre, kRadius, hits) != 2) return;
  const Vector3 p = hits[0] - centre;
  // Screen y runs down, GL's window y up: the unprojected y is mirrored.
  Vector3 v(p.x, -p.y, p.z);
  v.normalise();
  v = aroundAxis(-rotationAngle_, Vector3::UNIT_Y) * (aroundAxis(-tiltAngle_, Vector3::UNIT_X) * v);
  if (!v.isFinite()) return;
  tapLat_ = float(std::atan2(std::sqrt(v.x * v.x + v.z * v.z), v.y) * 180 / kPi - 90);
  tapLong_ = float(-std::atan2(v.x, v.z) * 180 / kPi);
  regionNode_->setPosition(v * (0.95f * kRadius));
  const Vector3 xAxis = crossAxis(v, Vector3::UNIT_Y);
  const Vector3 zAxis = crossAxis(xAxis, v);
  Quaternion orientation;
  orientation.FromAxes(xAxis, v, zAxis);
  regionNode_->setOrientation(orientation);
  std::lock_guard<std::mutex> lock(mutex_);
  purgeDownloadedSnippets_ = true;
}
