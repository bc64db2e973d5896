// The particle system: pooled emission, scaling under a short pool, the
// emitters' count rules, animators, the renderers' tables, hostile input,
// and emitters that emit emitters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGParticleAnimator.h"
#include "VexelGraphics/VGParticleEmitter.h"
#include "VexelGraphics/VGParticleRenderer.h"
#include "VexelGraphics/VGParticleSystem.h"
#include "VexelGraphics/vg_test_support.h"

using vgtest::near;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A system with a pool of n, a gravity animator without gravity and a
// quad renderer.
struct System {
  explicit System(int n) {
    auto* gravity = new VGParticleAnimatorGravity();
    gravity->m_gravity = Vector3::ZERO;
    animator = gravity;
    system.init(animator, new VGParticleRendererQuad(n), n);
  }
  VGParticleSystem system;
  VGParticleAnimatorGravity* animator;
};

// A point emitter owned by the test, added to the system.
std::unique_ptr<VGParticleEmitterPoint> pointEmitter(VGParticleSystem& system, float rate,
                                                     float life = 100.0f) {
  auto emitter = std::make_unique<VGParticleEmitterPoint>();
  emitter->initWithParticleSystem(&system);
  emitter->m_emissionRate = rate;
  emitter->m_particleLife = life;
  emitter->m_particleSize = 1.0f;
  system.addEmitter(emitter.get());
  return emitter;
}

std::unique_ptr<VGParticleEmitterPointSingleFire> singleFire(VGParticleSystem& system, float rate,
                                                             std::uint8_t tag) {
  auto emitter = std::make_unique<VGParticleEmitterPointSingleFire>();
  emitter->initWithParticleSystem(&system);
  emitter->m_emissionRate = rate;
  emitter->m_particleLife = 100.0f;
  emitter->m_color.r = tag;
  system.addEmitter(emitter.get());
  return emitter;
}

bool finite(const VGParticle& p) {
  return p.position.isFinite() && p.velocity.isFinite() && std::isfinite(p.size) &&
         std::isfinite(p.life) && std::isfinite(p.lifetime);
}

VGParticle particleAt(const Vector3& position, const Vector3& velocity, std::uint8_t alpha,
                      float size = 1.0f) {
  VGParticle p;
  p.position = position;
  p.velocity = velocity;
  p.color = {10, 20, 30, alpha};
  p.size = size;
  return p;
}

}  // namespace

TEST(ParticleEmission, SingleFireEmitsExactlyOneAfterArmingAndNoneAfter) {
  System s(100);
  auto emitter = singleFire(s.system, 1.0f, 1);
  s.system.update(1.0f / 30);
  EXPECT_EQ(s.system.liveParticles().size(), 0u);
  emitter->triggerOnNextUpdate();
  s.system.update(1.0f / 30);
  EXPECT_EQ(s.system.liveParticles().size(), 1u);
  for (int i = 0; i < 5; i++) s.system.update(1.0f / 30);
  EXPECT_EQ(s.system.liveParticles().size(), 1u);
}

TEST(ParticleEmission, ShortPoolScalesEveryCountByFreeOverDemand) {
  System s(1000);
  auto a = singleFire(s.system, 1001, 1);
  auto b = singleFire(s.system, 599, 2);
  auto c = singleFire(s.system, 400, 3);
  for (auto* e : {a.get(), b.get(), c.get()}) {
    static_cast<VGParticleEmitterPointSingleFire*>(e)->triggerOnNextUpdate();
  }
  s.system.update(0.1f);
  std::map<int, int> perEmitter;
  for (const VGParticle* p : s.system.liveParticles()) perEmitter[p->color.r]++;
  // Demand 2000 for 1000 free: halves, truncated.
  EXPECT_EQ(perEmitter[1], 500);
  EXPECT_EQ(perEmitter[2], 299);
  EXPECT_EQ(perEmitter[3], 200);
  EXPECT_EQ(s.system.freeCount(), 1u);
}

TEST(ParticleEmission, RateTwentyAtAThirtiethOfASecondEmitsThirteenOrFourteen) {
  System s(2000);
  auto emitter = pointEmitter(s.system, 20.0f);
  std::size_t before = 0;
  for (int step = 0; step < 30; step++) {
    s.system.update(1.0f / 30);
    const std::size_t now = s.system.liveParticles().size();
    EXPECT_TRUE(now - before == 13 || now - before == 14) << now - before << " at " << step;
    before = now;
  }
  EXPECT_NEAR(static_cast<double>(before), 400.0, 1.0);
}

TEST(ParticleEmission, ParticlesOfOneStepAreSpreadAlongTheirPath) {
  System s(10);
  auto emitter = singleFire(s.system, 4, 1);
  emitter->m_useDirection = true;
  emitter->m_direction = Vector3::UNIT_X;
  emitter->m_speed = 10.0f;
  emitter->m_spread = 0.0f;
  emitter->triggerOnNextUpdate();
  s.system.update(0.4f);
  std::vector<float> xs;
  for (const VGParticle* p : s.system.liveParticles()) xs.push_back(p->position.x);
  EXPECT_EQ(xs, (std::vector<float>{0.0f, 1.0f, 2.0f, 3.0f}));
}

TEST(ParticleLifecycle, ClearKeepsTheEmittersAndTheNextStepEmitsAtOnce) {
  System s(100);
  auto emitter = pointEmitter(s.system, 20.0f);
  s.system.update(0.1f);
  ASSERT_EQ(s.system.liveParticles().size(), 40u);
  s.system.clear();
  EXPECT_EQ(s.system.liveParticles().size(), 0u);
  EXPECT_EQ(s.system.freeCount(), 100u);
  EXPECT_EQ(s.system.emitters().size(), 1u);
  s.system.update(0.1f);
  EXPECT_EQ(s.system.liveParticles().size(), 40u);
}

TEST(ParticleLifecycle, ExpiryWalksTheWholeLiveListAndALifeOfExactlyDtStaysOneStep) {
  System s(10);
  // Lives 0.5, 1, 0.5, 1, ... taken straight from the pool.
  for (int i = 0; i < 10; i++) {
    VGParticle* p = s.system.createParticle();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->system, &s.system);
    p->life = p->lifetime = (i % 2) ? 1.0f : 0.5f;
  }
  EXPECT_EQ(s.system.createParticle(), nullptr);
  s.system.update(1.0f);
  EXPECT_EQ(s.system.liveParticles().size(), 5u);
  for (const VGParticle* p : s.system.liveParticles()) EXPECT_EQ(p->life, 0.0f);
  s.system.update(1.0f);
  EXPECT_EQ(s.system.liveParticles().size(), 0u);
  EXPECT_EQ(s.system.freeCount(), 10u);
}

TEST(ParticleLifecycle, PoolOnlyGrows) {
  VGParticleSystem system;
  system.init(new VGParticleAnimatorGravity(), new VGParticleRendererBillboard(4), 4);
  EXPECT_EQ(system.poolSize(), 4u);
  system.increasePool(2);
  EXPECT_EQ(system.poolSize(), 4u);
  system.increasePool(6);
  EXPECT_EQ(system.poolSize(), 6u);
  EXPECT_EQ(system.freeCount(), 6u);
  system.increasePool(-5);
  EXPECT_EQ(system.poolSize(), 6u);
}

TEST(ParticleEmitters, CountsAreClampedToThePool) {
  System s(300);
  auto emitter = pointEmitter(s.system, 1e6f);
  EXPECT_EQ(emitter->_getEmissionCount(1.0f / 30), 300);
  auto single = singleFire(s.system, 1e9f, 1);
  single->triggerOnNextUpdate();
  EXPECT_EQ(single->_getEmissionCount(0.0f), 300);
  single->m_emissionRate = -5.0f;
  single->triggerOnNextUpdate();
  EXPECT_EQ(single->_getEmissionCount(0.0f), 0);
  // Without an owning system the 16-bit range is the limit.
  VGParticleEmitterPoint alone;
  alone.m_emissionRate = 1e6f;
  EXPECT_EQ(alone._getEmissionCount(1.0f), 65535);
}

TEST(ParticleEmitters, FloatsBecomeBytesClamped) {
  const struct {
    float in;
    int out;
  } cases[] = {
      {-5.0f, 0},    {kNaN, 0},     {0.0f, 0},     {5.9f, 5},
      {254.9f, 254}, {255.0f, 255}, {300.0f, 255}, {std::numeric_limits<float>::infinity(), 255}};
  for (const auto& c : cases) EXPECT_EQ(VG_byteValue(c.in), c.out) << c.in;
}

TEST(ParticleLifecycle, StepsOfNegativeOrNonFiniteLengthAreNoTime) {
  System s(10);
  VGParticle* p = s.system.createParticle();
  p->life = p->lifetime = 1.0f;
  p->velocity = Vector3(1, 0, 0);
  for (float dt : {-1.0f, kNaN, -std::numeric_limits<float>::infinity()}) {
    s.system.update(dt);
    EXPECT_EQ(p->life, 1.0f);
    EXPECT_EQ(p->position, Vector3::ZERO);
  }
  s.system.update(0.25f);
  EXPECT_EQ(p->life, 0.75f);
  EXPECT_EQ(p->position, Vector3(0.25f, 0, 0));
}

TEST(ParticleEmitters, SwirlFollowsItsHelixAndAZeroDurationEmitsNothing) {
  System s(100);
  auto swirl = std::make_unique<VGParticleEmitterPointSwirl>();
  swirl->initWithParticleSystem(&s.system);
  swirl->m_useDirection = true;
  swirl->m_speed = 0;
  swirl->m_spread = 0;
  swirl->m_particleLife = 100;
  s.system.addEmitter(swirl.get());
  swirl->m_emissionRate = 2;  // 4 a second
  swirl->triggerExplosion(0.0f, 10.0f);
  s.system.update(1.0f);
  ASSERT_EQ(s.system.liveParticles().size(), 4u);
  const Vector3 expected(10 * std::cos(1.0f), 3.0f, -10 * std::sin(1.0f));
  for (const VGParticle* p : s.system.liveParticles())
    EXPECT_TRUE(near(p->position, expected, 1e-4f));

  for (float duration : {0.0f, -1.0f, kNaN}) {
    s.system.clear();
    swirl->triggerExplosion(0.0f, duration);
    s.system.update(1.0f);
    EXPECT_EQ(s.system.liveParticles().size(), 0u) << duration;
  }
}

TEST(ParticleEmitters, RandomFrameStaysWithinTheFrameCountAndANegativeCountGivesZero) {
  VGMath::seedRandom(3);
  VGParticleEmitterPoint emitter;
  emitter.m_randomFrame = true;
  VGParticle p;
  std::map<int, int> frames;
  emitter.m_frameCount = 3;
  for (int i = 0; i < 400; i++) {
    emitter._initParticle(&p);
    frames[p.frame]++;
  }
  EXPECT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames.begin()->first, 0);
  EXPECT_EQ(frames.rbegin()->first, 3);
  emitter.m_frameCount = -1;
  for (int i = 0; i < 20; i++) {
    emitter._initParticle(&p);
    EXPECT_EQ(p.frame, 0);
  }
}

TEST(ParticleAnimators, GravityBlendsAlphaAndEasesSizeToTheEndWithoutOvershoot) {
  VGParticleAnimatorGravity gravity;
  gravity.m_gravity = Vector3(0, -2, 0);
  gravity.setBlendValues(45, 0);
  gravity.setSizeValues(2.0f);
  VGParticle p = particleAt(Vector3::ZERO, Vector3::ZERO, 255, 6.0f);
  p.lifetime = 4.0f;
  p.life = 3.0f;
  std::list<VGParticle*> live{&p};
  gravity._update(live, 0.5f);
  EXPECT_TRUE(near(p.velocity, Vector3(0, -1, 0)));
  EXPECT_EQ(p.color.a, 33);  // 45 - 45 / 4 x 1, truncated
  EXPECT_FLOAT_EQ(p.size, 6.0f + 0.5f / 3.0f * (2.0f - 6.0f));
  // Last steps: life 0 (or shorter than dt) reaches the end values.
  for (float life : {0.0f, 0.1f}) {
    p.life = life;
    p.size = 6.0f;
    gravity._update(live, 0.5f);
    EXPECT_EQ(p.size, 2.0f);
  }
  p.lifetime = 0.0f;
  gravity._update(live, 0.5f);
  EXPECT_EQ(p.color.a, 0);
  EXPECT_TRUE(finite(p));
}

TEST(ParticleAnimators, AttractorPullsTowardItsPointAndFadesByLifetime) {
  VGParticleAnimatorAttractor attractor;
  attractor.m_strength = 2.0f;
  attractor.m_shrinkRate = 0.5f;
  VGParticle p = particleAt(Vector3(0, 0, 10), Vector3::ZERO, 200, 4.0f);
  p.lifetime = p.life = 10.0f;
  std::list<VGParticle*> live{&p};
  attractor._update(live, 0.5f);
  EXPECT_TRUE(near(p.velocity, Vector3(0, 0, -1)));
  EXPECT_EQ(p.color.a, 180);  // 200 x (1 - 0.5 x 2 / 10)
  EXPECT_FLOAT_EQ(p.size, 3.0f);
  // At the point itself, with no lifetime and a huge step: no NaN, no
  // negative size, alpha 0.
  p.position = Vector3::ZERO;
  p.lifetime = 0.0f;
  attractor._update(live, 1e6f);
  EXPECT_TRUE(finite(p));
  EXPECT_EQ(p.color.a, 0);
  EXPECT_EQ(p.size, 0.0f);
}

TEST(ParticleRenderers, ParticlesWithAlphaFiveOrLessAreNotHandedToGL) {
  VGParticle faint = particleAt(Vector3::ZERO, Vector3::UNIT_X, 5);
  VGParticle shown = particleAt(Vector3(1, 0, 0), Vector3::UNIT_X, 6);
  VGParticle none = particleAt(Vector3(2, 0, 0), Vector3::UNIT_X, 0);
  VGParticle full = particleAt(Vector3(3, 0, 0), Vector3::UNIT_X, 255);
  const std::list<VGParticle*> live{&faint, &shown, &none, &full};
  VGParticleRendererBillboard billboard(10);
  EXPECT_EQ(billboard.fill(live), 2);
  EXPECT_EQ(billboard.positions()[0], 1.0f);
  EXPECT_EQ(billboard.positions()[3], 3.0f);
  VGParticleRendererQuad quads(10);
  EXPECT_EQ(quads.fill(live), 12);
  // Capacity bounds the tables.
  VGParticleRendererBillboard small(1);
  EXPECT_EQ(small.fill(live), 1);
  VGParticleRendererQuad smallQuads(1);
  EXPECT_EQ(smallQuads.fill(live), 6);
}

TEST(ParticleRenderers, QuadTableHasTwoTrianglesAcrossTheMotion) {
  // Moving along +x: side = (0, 1, 0) x (1, 0, 0) = (0, 0, -1),
  // up = side x (1, 0, 0) = (0, -1, 0); half-width 0.5.
  VGParticle p = particleAt(Vector3(1, 2, 3), Vector3(4, 0, 0), 200, 0.5f);
  VGParticleRendererQuad quads(4);
  ASSERT_EQ(quads.fill({&p}), 6);
  const std::vector<float> positions(quads.positions().begin(), quads.positions().begin() + 18);
  EXPECT_EQ(positions, (std::vector<float>{1, 2.5f, 3.5f, 1, 1.5f, 3.5f, 1, 1.5f, 2.5f, 1, 2.5f,
                                           3.5f, 1, 1.5f, 2.5f, 1, 2.5f, 2.5f}));
  const std::vector<float> texture(quads.texCoords().begin(), quads.texCoords().begin() + 12);
  EXPECT_EQ(texture, (std::vector<float>{0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 0}));
  for (int v = 0; v < 6; v++) {
    EXPECT_EQ(quads.colours()[v * 4], 10);
    EXPECT_EQ(quads.colours()[v * 4 + 3], 200);
  }
}

TEST(ParticleRenderers, QuadOfAParticleAtRestOrAlongTheReferenceIsAFiniteSquare) {
  for (const Vector3& velocity :
       {Vector3::ZERO, Vector3(0, 5, 0), Vector3(0, -1e-9f, 0), Vector3(0, -3, 0)}) {
    VGParticle p = particleAt(Vector3(1, 1, 1), velocity, 255, 1.0f);
    VGParticleRendererQuad quads(1);
    ASSERT_EQ(quads.fill({&p}), 6);
    const auto& v = quads.positions();
    for (float f : std::vector<float>(v.begin(), v.begin() + 18)) ASSERT_TRUE(std::isfinite(f));
    const Vector3 a(v[0], v[1], v[2]), b(v[3], v[4], v[5]), c(v[6], v[7], v[8]);
    // Corners 0, 1, 2: two edges of length 2 at right angles.
    EXPECT_NEAR((b - a).length(), 2.0f, 1e-5f);
    EXPECT_NEAR((c - b).length(), 2.0f, 1e-5f);
    EXPECT_NEAR((b - a).dotProduct(c - b), 0.0f, 1e-5f);
  }
}

TEST(ParticleHostileInput, NoNaNAndBoundedCountsWhateverTheInput) {
  struct Case {
    const char* name;
    float dt;
    float life;
    float rate;
    float duration;
    int frameCount;
  };
  const Case cases[] = {
      {"dt 0", 0.0f, 1.0f, 20.0f, 6.0f, 3},
      {"dt -1", -1.0f, 1.0f, 20.0f, 6.0f, 3},
      {"dt NaN", kNaN, 1.0f, 20.0f, 6.0f, 3},
      {"dt 1e6", 1e6f, 1.0f, 20.0f, 6.0f, 3},
      {"life 0", 1.0f / 30, 0.0f, 20.0f, 6.0f, 3},
      {"duration 0", 1.0f / 30, 1.0f, 20.0f, 0.0f, 3},
      {"frames -1", 1.0f / 30, 1.0f, 20.0f, 6.0f, -1},
      {"rate 1e6", 1.0f / 30, 1.0f, 1e6f, 6.0f, 3},
      {"rate NaN", 1.0f / 30, 1.0f, kNaN, 6.0f, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VGMath::seedRandom(11);
    VGParticleSystem system;
    auto* gravity = new VGParticleAnimatorGravity();
    gravity->setBlendValues(45, 0);
    gravity->setSizeValues(2.0f);
    system.init(gravity, new VGParticleRendererQuad(300), 300);
    auto point = pointEmitter(system, c.rate, c.life);
    point->m_randomFrame = true;
    point->m_frameCount = c.frameCount;
    auto swirl = std::make_unique<VGParticleEmitterPointSwirl>();
    swirl->initWithParticleSystem(&system);
    swirl->m_emissionRate = c.rate;
    swirl->m_particleLife = c.life;
    swirl->m_particleSize = 6.0f;
    swirl->m_randomFrame = true;
    swirl->m_frameCount = c.frameCount;
    swirl->triggerExplosion(1.0f, c.duration);
    system.addEmitter(swirl.get());
    VGParticleSystem attracted;
    attracted.init(new VGParticleAnimatorAttractor(), new VGParticleRendererBillboard(300), 300);
    auto second = pointEmitter(attracted, c.rate, c.life);
    for (int step = 0; step < 20; step++) {
      system.update(c.dt);
      attracted.update(c.dt);
      for (VGParticleSystem* s : {&system, &attracted}) {
        ASSERT_EQ(s->liveParticles().size() + s->freeCount(), s->poolSize());
        for (const VGParticle* p : s->liveParticles()) {
          ASSERT_TRUE(finite(*p)) << "step " << step;
          ASSERT_GE(p->frame, 0);
          ASSERT_LE(p->frame, std::max(c.frameCount, 0));
        }
      }
      static_cast<VGParticleRendererQuad*>(system.renderer())->fill(system.liveParticles());
    }
  }
}

namespace {

// Emitters that emit emitters: each parent step makes children that emit
// plain particles and expire after a short life. Counts the live ones.
int g_children = 0;

struct ChildEmitter : VGParticleEmitterPoint {
  ChildEmitter() { g_children++; }
  ~ChildEmitter() override { g_children--; }
};

struct ParentEmitter : VGParticleEmitterPoint {
  VGParticleEmitter* getEmittedEmitter() override { return this; }
  VGParticleEmitter* getNewEmitter() override {
    auto* child = new ChildEmitter();
    child->m_emissionRate = 10.0f;  // 100 a second
    child->m_particleLife = 0.5f;
    return child;
  }
};

}  // namespace

TEST(ParticleEmittedEmitters, AreOwnedByTheSystemAndDeletedExactlyOnce) {
  g_children = 0;
  {
    VGParticleSystem system;
    system.init(new VGParticleAnimatorGravity(), new VGParticleRendererQuad(50), 50);
    ParentEmitter parent;
    parent.initWithParticleSystem(&system);
    parent.m_emissionRate = 2.0f;  // 4 children a second
    parent.m_particleLife = 0.3f;
    system.addEmitter(&parent);
    for (int step = 0; step < 30; step++) {
      system.update(0.1f);
      ASSERT_EQ(static_cast<std::size_t>(g_children), system.emittedEmitterCount());
      ASSERT_LE(system.emittedEmitterCount(), system.poolSize());
      // Bodies are live but never pool particles.
      ASSERT_EQ(system.liveParticles().size() - system.emittedEmitterCount() + system.freeCount(),
                system.poolSize());
    }
    EXPECT_GT(system.emittedEmitterCount(), 0u);
    // Children emitted particles of their own.
    EXPECT_LT(system.freeCount(), system.poolSize());
    system.clear();
    EXPECT_EQ(g_children, 0);
    EXPECT_EQ(system.liveParticles().size(), 0u);
    EXPECT_EQ(system.freeCount(), system.poolSize());
    for (int step = 0; step < 5; step++) system.update(0.1f);
    EXPECT_GT(g_children, 0);
    system.removeAllEmittedEmitters();
    EXPECT_EQ(g_children, 0);
    for (int step = 0; step < 5; step++) system.update(0.1f);
    EXPECT_GT(g_children, 0);
  }
  // The destructor deleted the children still alive.
  EXPECT_EQ(g_children, 0);
}
