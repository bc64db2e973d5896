// The view tree: ownership, geometry, conversions, hit-testing and the dump;
// animations on the test clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "platform/ui/Controls.h"
#include "ui_test_support.h"

using namespace platform::ui;

namespace {

std::shared_ptr<View> box(double x, double y, double w, double h, int tag = 0) {
  auto v = std::make_shared<View>(Rect(x, y, w, h));
  v->setTag(tag);
  return v;
}

struct Stop {
  std::string name;
  bool finished;
  void* context;
};

}  // namespace

TEST(ViewTreeTest, OwnershipAndOrder) {
  auto root = box(0, 0, 100, 100);
  std::weak_ptr<View> weak;
  {
    auto a = box(0, 0, 10, 10, 1);
    auto b = box(0, 0, 10, 10, 2);
    auto c = box(0, 0, 10, 10, 3);
    weak = a;
    root->addSubview(a);
    root->addSubview(b);
    root->insertSubviewBelow(c, b.get());
    EXPECT_EQ(a->superview(), root.get());
  }
  ASSERT_EQ(root->subviews().size(), 3u);
  EXPECT_EQ(root->subviews()[1]->tag(), 3);
  root->bringSubviewToFront(root->subviews()[0].get());
  EXPECT_EQ(root->subviews()[2]->tag(), 1);
  // Removed and held by nobody else: gone.
  root->viewWithTag(1)->removeFromSuperview();
  EXPECT_TRUE(weak.expired());
  // A view cannot become its own ancestor's child.
  auto child = root->subviews()[0];
  child->addSubview(root);
  EXPECT_EQ(root->superview(), nullptr);
}

TEST(ViewTreeTest, GeometryAndConversions) {
  auto root = box(0, 0, 320, 480);
  auto outer = box(100, 50, 100, 100);
  auto inner = box(10, 20, 30, 40);
  outer->addSubview(inner);
  root->addSubview(outer);
  EXPECT_EQ(inner->convertTo({0, 0}, nullptr), (Point{110, 70}));
  EXPECT_EQ(inner->convertFrom({110, 70}, nullptr), (Point{0, 0}));
  outer->setTransform(AffineTransform::rotation(3.14159265358979323846 / 2));
  const Point p = inner->convertTo({0, 0}, nullptr);
  // Turned a quarter about the outer view's middle (150, 100).
  EXPECT_NEAR(p.x, 150 - (20 - 50), 1e-9);
  EXPECT_NEAR(p.y, 100 + (10 - 50), 1e-9);
  const Point back = inner->convertFrom(p, nullptr);
  EXPECT_NEAR(back.x, 0, 1e-9);
  EXPECT_NEAR(back.y, 0, 1e-9);
  outer->setFrame(Rect(0, 0, 60, 60));
  EXPECT_EQ(outer->center(), (Point{30, 30}));
  EXPECT_EQ(outer->bounds(), Rect(0, 0, 60, 60));
}

TEST(ViewTreeTest, HitTestingSkipsWhatCannotBeTouched) {
  auto root = box(0, 0, 320, 480);
  auto back = box(0, 0, 100, 100, 1);
  auto front = box(0, 0, 50, 50, 2);
  root->addSubview(back);
  root->addSubview(front);
  struct Case {
    const char* what;
    void (*change)(View&);
    int expected;
  };
  const Case cases[] = {
      {"front", [](View&) {}, 2},
      {"hidden", [](View& v) { v.setHidden(true); }, 1},
      {"transparent", [](View& v) { v.setAlpha(0.005); }, 1},
      {"no interaction", [](View& v) { v.setUserInteractionEnabled(false); }, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    front->setHidden(false);
    front->setAlpha(1);
    front->setUserInteractionEnabled(true);
    k.change(*front);
    View* hit = root->hitTest({10, 10});
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->tag(), k.expected);
  }
  EXPECT_EQ(root->hitTest({75, 75})->tag(), 1);
  EXPECT_EQ(root->hitTest({400, 10}), nullptr);
  // A disabled control lets the touch through to what is behind.
  auto button = std::make_shared<Button>(Rect(0, 0, 50, 50));
  button->setTag(7);
  back->addSubview(button);
  front->setHidden(true);
  EXPECT_EQ(root->hitTest({10, 10})->tag(), 7);
  button->setEnabled(false);
  EXPECT_EQ(root->hitTest({10, 10})->tag(), 1);
}

TEST(ViewTreeTest, DumpIsOneLinePerView) {
  auto root = box(0, 0, 320, 480);
  auto label = std::make_shared<Label>(Rect(10, 20, 100, 30.5));
  label->setText("Hello");
  label->setTag(5);
  auto button = std::make_shared<Button>(Rect(0, 0, 44, 44));
  button->setTitle("Go");
  button->setHidden(true);
  button->setAlpha(0.5);
  root->addSubview(label);
  label->addSubview(button);
  EXPECT_EQ(dumpViewTree(*root),
            "View tag=0 (0,0,320,480) alpha=1\n"
            "  Label tag=5 (10,20,100,30.5) alpha=1 'Hello'\n"
            "    Button tag=0 (0,0,44,44) alpha=0.5 hidden 'Go'\n");
}

class AnimationTest : public UiTest {};

TEST_F(AnimationTest, ModelChangesAtOnceDrawnValueMoves) {
  auto v = box(0, 0, 10, 10);
  window().addSubview(v);
  std::vector<Stop> stops;
  int context = 0;
  Animator& animator = Animator::shared();
  animator.beginAnimations("fade", &context);
  animator.setAnimationDuration(0.5);
  animator.setAnimationCurve(AnimationCurve::Linear);
  animator.setAnimationDidStop(
      [&](const std::string& n, bool f, void* c) { stops.push_back({n, f, c}); });
  v->setAlpha(0);
  animator.commitAnimations();
  EXPECT_EQ(v->alpha(), 0);
  EXPECT_EQ(v->drawnAlpha(), 1);
  ui().advance(0.25);
  EXPECT_NEAR(v->drawnAlpha(), 0.5, 0.02);
  EXPECT_TRUE(stops.empty());
  ui().advance(0.3);
  EXPECT_EQ(v->drawnAlpha(), 0);
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].name, "fade");
  EXPECT_TRUE(stops[0].finished);
  EXPECT_EQ(stops[0].context, &context);
}

TEST_F(AnimationTest, ASecondAnimationReplacesTheFirstFromItsDrawnValue) {
  auto v = box(0, 0, 10, 10);
  window().addSubview(v);
  std::vector<Stop> stops;
  auto record = [&](const std::string& n, bool f, void* c) { stops.push_back({n, f, c}); };
  Animator& animator = Animator::shared();
  animator.beginAnimations("first");
  animator.setAnimationDuration(1.0);
  animator.setAnimationCurve(AnimationCurve::Linear);
  animator.setAnimationDidStop(record);
  v->setCenter({100, 5});
  animator.commitAnimations();
  ui().advance(0.5);
  const double halfway = v->drawnCenter().x;
  EXPECT_NEAR(halfway, 52.5, 1.0);
  animator.beginAnimations("second");
  animator.setAnimationDuration(1.0);
  animator.setAnimationCurve(AnimationCurve::Linear);
  animator.setAnimationDidStop(record);
  v->setCenter({0, 5});
  animator.commitAnimations();
  EXPECT_EQ(v->drawnCenter().x, halfway);  // no jump
  ui().advance(0);
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].name, "first");
  EXPECT_FALSE(stops[0].finished);
  ui().advance(0.5);
  EXPECT_NEAR(v->drawnCenter().x, halfway / 2, 1.0);
  ui().advance(0.6);
  ASSERT_EQ(stops.size(), 2u);
  EXPECT_EQ(stops[1].name, "second");
  EXPECT_TRUE(stops[1].finished);
  EXPECT_EQ(v->drawnCenter().x, 0);
}

TEST_F(AnimationTest, EaseInOutAndAChangeOutsideABlock) {
  EXPECT_NEAR(Animator::ease(AnimationCurve::EaseInOut, 0), 0, 1e-9);
  EXPECT_NEAR(Animator::ease(AnimationCurve::EaseInOut, 1), 1, 1e-9);
  EXPECT_NEAR(Animator::ease(AnimationCurve::EaseInOut, 0.5), 0.5, 1e-6);
  EXPECT_LT(Animator::ease(AnimationCurve::EaseInOut, 0.1), 0.1);
  EXPECT_GT(Animator::ease(AnimationCurve::EaseInOut, 0.9), 0.9);
  auto v = box(0, 0, 10, 10);
  window().addSubview(v);
  bool finished = true;
  Animator::shared().beginAnimations("a");
  Animator::shared().setAnimationDuration(1);
  Animator::shared().setAnimationDidStop([&](const std::string&, bool f, void*) { finished = f; });
  v->setAlpha(0);
  Animator::shared().commitAnimations();
  ui().advance(0.2);
  v->setAlpha(0.7);  // not animated: drawn at once, the animation ends
  EXPECT_EQ(v->drawnAlpha(), 0.7);
  ui().advance(0);
  EXPECT_FALSE(finished);
}

TEST_F(AnimationTest, AViewThatGoesEndsItsAnimation) {
  auto v = box(0, 0, 10, 10);
  window().addSubview(v);
  int reports = 0;
  bool finished = true;
  Animator::shared().beginAnimations("gone");
  Animator::shared().setAnimationDuration(1);
  Animator::shared().setAnimationDidStop([&](const std::string&, bool f, void*) {
    reports++;
    finished = f;
  });
  v->setAlpha(0);
  Animator::shared().commitAnimations();
  v->removeFromSuperview();
  v.reset();
  ui().advance(0.1);
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(finished);
}
