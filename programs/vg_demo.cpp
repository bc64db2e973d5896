// vg_demo: the graphics library at work. A lit, textured globe turns; a
// burst of note quads flies out from a place on it and is pulled back; two
// point-sprite helices rise from the same place.
//
//   vg_demo                 a window (SDL2, GL ES 1.1 through EGL); Escape
//                           or closing the window ends it
//   vg_demo --png out.png   no window, no display: the frame after
//                           --frames steps (default 90, three seconds) is
//                           drawn off screen and written as a PNG
//
// The textures are the globe's resources (Paths::resources(), or
// FLUVANE_RESOURCES); without them the globe is drawn untextured.
#include <GLES/gl.h>
#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VexelGraphics/VGGLU.h"
#include "VexelGraphics/VGLog.h"
#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGMesh.h"
#include "VexelGraphics/VGNode.h"
#include "VexelGraphics/VGParticleSystem.h"
#include "VexelGraphics/VGRenderObject.h"
#include "VexelGraphics/VGTexture.h"
#include "platform/gfx/GLHost.h"
#include "platform/gfx/Image.h"
#include "vxu/VXLog.h"

namespace {

constexpr int kWidth = 320;  // points, as the instrument's screen
constexpr int kHeight = 480;
constexpr float kStep = 1.0f / 30.0f;
constexpr float kRadius = 100.0f;

// The unit normal of a place (degrees), as the globe places things.
Vector3 placeNormal(float latitude, float longitude) {
  const float theta = (90.0f - latitude) / 90.0f * VGMath::PI / 2.0f;
  const float phi = longitude / -180.0f * VGMath::PI;
  return {std::sin(theta) * std::sin(phi), -std::cos(theta), std::sin(theta) * std::cos(phi)};
}

// One hemisphere (h = 0: longitudes 0..180, h = 1: -180..0) as a triangle
// list with normals and texture coordinates.
void buildHemisphere(VGMesh& mesh, int h) {
  const int rings = 32, columns = 24;
  auto vertex = [&](int k, int j, std::vector<float>& p, std::vector<float>& n,
                    std::vector<float>& t) {
    const float theta = (1.0f - static_cast<float>(k) / rings) * VGMath::PI;
    const float phi = -(static_cast<float>(j) / columns) * VGMath::PI - h * VGMath::PI;
    const Vector3 normal(std::sin(theta) * std::sin(phi), -std::cos(theta),
                         std::sin(theta) * std::cos(phi));
    p.insert(p.end(), {normal.x * kRadius, normal.y * kRadius, normal.z * kRadius});
    n.insert(n.end(), {normal.x, normal.y, normal.z});
    // Kept off the very edges, where the texture's filtering wraps around.
    const float u = std::clamp(static_cast<float>(j) / columns, 0.001f, 0.9995f);
    const float v = std::clamp(1.0f - static_cast<float>(k) / rings, 0.001f, 0.9995f);
    t.insert(t.end(), {u, v});
  };
  std::vector<float> positions, normals, texCoords;
  for (int k = 0; k < rings; k++) {
    for (int j = 0; j < columns; j++) {
      const int corners[6][2] = {{k, j},     {k + 1, j}, {k, j + 1},
                                 {k, j + 1}, {k + 1, j}, {k + 1, j + 1}};
      for (const auto& c : corners) vertex(c[0], c[1], positions, normals, texCoords);
    }
  }
  const int count = static_cast<int>(positions.size() / 3);
  mesh.setPositions(std::move(positions));
  mesh.setNormals(std::move(normals));
  mesh.setTexCoords(std::move(texCoords));
  mesh.setPrimitive(GL_TRIANGLES);
  mesh.setVertexCount(count);
}

class Demo {
 public:
  void build();
  void step();
  void draw(int width, int height);

 private:
  VGMesh hemispheres_[2];
  VGRenderObject earth_[2];
  VGNode globe_;
  VGParticleSystem notes_;
  VGParticleEmitterPointSingleFire noteEmitter_;
  VGNode notesNode_;
  GLuint pingTexture_ = 0;
  VGParticleSystem swirl_;
  VGParticleEmitterPointSwirl swirlEmitters_[2];
  VGNode swirlNode_;
  Vector3 place_;
  float rotation_ = 345.0f;
  int frame_ = 0;
};

void Demo::build() {
  VGMath::seedRandom(20);
  const char* halves[2] = {"land_shallow_topo_2048_01.pvr", "land_shallow_topo_2048_00.pvr"};
  for (int h = 0; h < 2; h++) {
    buildHemisphere(hemispheres_[h], h);
    earth_[h].addMesh(&hemispheres_[h]);
    earth_[h].m_lighting = true;
    earth_[h].m_material.m_ambient[0] = earth_[h].m_material.m_ambient[1] =
        earth_[h].m_material.m_ambient[2] = 0.45f;
    const GLuint texture = VGTexture::loadCompressedTexture(halves[h], false, true);
    if (texture != 0) earth_[h].setTexture(texture);
    globe_.addRenderObject(&earth_[h]);
  }

  // The place the burst starts from.
  const Vector3 n = placeNormal(50.0f, 20.0f);
  place_ = n * kRadius;

  // Note quads: shot outward from the place, pulled back to the centre.
  auto* attractor = new VGParticleAnimatorAttractor();
  auto* quads = new VGParticleRendererQuad(1000);
  notes_.init(attractor, quads, 1000);
  noteEmitter_.initWithParticleSystem(&notes_);
  noteEmitter_.position = place_;
  noteEmitter_.m_color = {55, 255, 55, 255};
  noteEmitter_.m_useDirection = true;
  noteEmitter_.m_direction = n;
  noteEmitter_.m_spread = 8.0f;
  noteEmitter_.m_speed = 30.0f;
  noteEmitter_.m_particleSize = 3.0f;
  noteEmitter_.m_particleLife = 18.0f;
  noteEmitter_.m_emissionRate = 3.0f;
  notes_.addEmitter(&noteEmitter_);
  notesNode_.addRenderObject(&notes_);
  pingTexture_ = VGTexture::loadCompressedTexture("earth_ping.pvr");

  // Two opposite helices of point sprites rising from the place.
  auto* gravity = new VGParticleAnimatorGravity();
  gravity->m_gravity = Vector3::ZERO;
  gravity->setBlendValues(70, 0);
  gravity->setSizeValues(2.0f);
  auto* sprites = new VGParticleRendererBillboard(4000);
  sprites->m_texture = VGTexture::loadCompressedTexture("marker2.pvr", true);
  swirl_.init(gravity, sprites, 4000);
  const float start = 360.0f * VGMath::unitRandom();
  for (int i = 0; i < 2; i++) {
    VGParticleEmitterPointSwirl& e = swirlEmitters_[i];
    e.initWithParticleSystem(&swirl_);
    e.m_color = {90, 90, 255, 255};
    e.m_useDirection = true;
    e.m_direction = Vector3::UNIT_Y;
    e.m_speed = 0.0f;
    e.m_spread = 0.0f;
    e.m_particleLife = 4.0f;
    e.m_particleSize = 12.0f;
    e.m_rise = 150.0f;
    e.m_radius = 8.0f;
    e.m_angularSpeed = 3.0f;
    e.m_emissionRate = 20.0f;
    e.triggerExplosion(start + i * VGMath::PI, 6.0f);
    swirl_.addEmitter(&e);
  }
  swirlNode_.addRenderObject(&swirl_);
  swirlNode_.setPosition(place_);
  // The helices' axis (y) along the place's normal.
  const Vector3 x = n.perpendicular();
  Quaternion frame;
  frame.FromAxes(x, n, x.crossProduct(n));
  swirlNode_.setOrientation(frame);
}

void Demo::step() {
  if (frame_ % 5 == 0) noteEmitter_.triggerOnNextUpdate();
  notes_.update(kStep);
  swirl_.update(kStep);
  rotation_ += 0.4f;
  frame_++;
}

void Demo::draw(int width, int height) {
  glViewport(0, 0, width, height);
  glClearColor(0.02f, 0.02f, 0.07f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(40.0f, static_cast<float>(width) / static_cast<float>(height), 1.0f, 800.0f);
  glRotatef(180.0f, 0, 0, 1);
  glTranslatef(0, 0, -350.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  const GLfloat lightPosition[4] = {0, 0, 300, 0};
  const GLfloat lightAmbient[4] = {0.1f, 0.1f, 0.1f, 1};
  const GLfloat lightDiffuse[4] = {0.9f, 0.9f, 0.9f, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
  glLightfv(GL_LIGHT0, GL_AMBIENT, lightAmbient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
  glEnable(GL_LIGHT0);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);

  glPushMatrix();
  glTranslatef(0, 0, -130.0f);
  glRotatef(-20.0f, 1, 0, 0);
  glRotatef(rotation_, 0, 1, 0);
  globe_.render();
  glDisable(GL_CULL_FACE);
  glDisableClientState(GL_NORMAL_ARRAY);

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glBindTexture(GL_TEXTURE_2D, pingTexture_);
  notesNode_.render();
  swirlNode_.render();
  glDisable(GL_BLEND);
  glPopMatrix();
}

int runHeadless(const std::string& path, int frames) {
  std::string error;
  auto host = platform::gfx::GLHost::openSurfaceless(kWidth, kHeight, &error);
  if (!host) {
    std::fprintf(stderr, "vg_demo: no GL ES 1.1 context: %s\n", error.c_str());
    return 1;
  }
  auto target = platform::gfx::FrameBuffer::create(kWidth, kHeight, &error);
  if (!target) {
    std::fprintf(stderr, "vg_demo: no off-screen frame buffer: %s\n", error.c_str());
    return 1;
  }
  Demo demo;
  demo.build();
  for (int i = 0; i < frames; i++) demo.step();
  target->bind();
  demo.draw(kWidth, kHeight);
  const std::vector<std::uint8_t> pixels = target->read();
  target->unbind();
  if (!platform::gfx::writePng(path, kWidth, kHeight, pixels.data(), &error)) {
    std::fprintf(stderr, "vg_demo: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int runWindow() {
  int scale = 2;
  if (const char* text = std::getenv("FLUVANE_SCALE")) scale = std::clamp(std::atoi(text), 1, 3);
  std::string error;
  auto host = platform::gfx::GLHost::openWindow("vg_demo", kWidth * scale, kHeight * scale, &error);
  if (!host) {
    std::fprintf(stderr, "vg_demo: no window: %s\n", error.c_str());
    return 1;
  }
  Demo demo;
  demo.build();
  bool running = true;
  while (running) {
    const Uint32 started = SDL_GetTicks();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_QUIT) running = false;
      if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) running = false;
    }
    demo.step();
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(SDL_GL_GetCurrentWindow(), &width, &height);
    demo.draw(width, height);
    host->present();
    const Uint32 spent = SDL_GetTicks() - started;
    if (spent < 33) SDL_Delay(33 - spent);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  VG_set_log_sink(VX_vlogMessage);
  std::string png;
  int frames = 90;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) {
      png = argv[++i];
    } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::clamp(std::atoi(argv[++i]), 0, 100000);
    } else {
      std::fprintf(stderr, "usage: vg_demo [--png out.png] [--frames n]\n");
      return 2;
    }
  }
  return png.empty() ? runWindow() : runHeadless(png, frames);
}
