#include "Classes/SnippetGlobeViewController.h"

namespace ui = platform::ui;

const std::array<const char*, 5> SnippetGlobeViewController::kFilterTitles = {
    "Everything", "Region", "Most loved", "Newest", "Random"};

namespace {

const ui::Color kGreen{0.2, 1.0, 0.2, 1.0};

std::shared_ptr<ui::Button> makeButton(const ui::Rect& frame, int tag, const std::string& title) {
  auto button = std::make_shared<ui::Button>(frame);
  button->setTag(tag);
  button->setTitle(title);
  button->setTitleColor(ui::Color::white());
  return button;
}

// The overlay's root: touches that meet none of its buttons go on to the
// globe below.
class PassThroughView : public ui::View {
 public:
  using View::View;
  ui::View* hitTest(ui::Point p) override {
    ui::View* hit = View::hitTest(p);
    return hit == this ? nullptr : hit;
  }
};

}  // namespace

SnippetGlobeViewController::SnippetGlobeViewController() { buildView(); }

void SnippetGlobeViewController::buildView() {
  auto root = std::make_shared<PassThroughView>(ui::Rect(0, 0, 320, 480));
  root->setBackgroundColor(ui::Color::clear());
  // The name's pill is its image (4:1) at full width; the title stays
  // clear of the rounded end and the arrow, and a long name is drawn
  // smaller.
  nameTextField_ = makeButton(ui::Rect(40, 8, 240, 60), kNameTag, "");
  nameTextField_->setTitleInsets(16, 38);
  nameTextField_->setShrinksTitleToFit(true);
  nameTextField_->addTarget([this](ui::Control& sender) { filterPressed(&sender); },
                            ui::kTouchUpInside);
  root->addSubview(nameTextField_);
  for (int i = 0; i < 5; i++) {
    auto button = makeButton(ui::Rect(40, 68 + 36 * i, 240, 36), kFirstFilterTag + i,
                             kFilterTitles[i]);
    button->setBackgroundColor(ui::Color{0.08, 0.09, 0.16, 0.75});
    button->setHidden(true);
    button->addTarget([this](ui::Control& sender) { filterPressed(&sender); },
                      ui::kTouchUpInside);
    filters_[i] = button;
    root->addSubview(button);
  }
  // Love and skip stand above the main toolbar's band (its last 44 points),
  // so that, expanded over the globe, its items take their own taps.
  love_ = makeButton(ui::Rect(20, 384, 80, 44), kLoveTag, "Love");
  love_->addTarget([this](ui::Control&) { lovePressed(); }, ui::kTouchUpInside);
  skip_ = makeButton(ui::Rect(220, 384, 80, 44), kSkipTag, "Skip");
  skip_->addTarget([this](ui::Control&) { skipPressed(); }, ui::kTouchUpInside);
  root->addSubview(love_);
  root->addSubview(skip_);
  setView(root);
  viewDidLoad();
}

void SnippetGlobeViewController::viewDidLoad() {
  filtersVisible_ = false;
  closingFilters_ = false;
  if (!topImage_) {
    topImage_ = ui::resourceImage("fluvanename_top.png");
    buttonImage_ = ui::resourceImage("fluvanename.png");
    setNameBackground(buttonImage_);
  }
}

void SnippetGlobeViewController::setNameBackground(const ui::ImageRef& image) {
  nameTextField_->setImage(image, ui::ControlState::Normal);
  nameTextField_->setImage(image, ui::ControlState::Highlighted);
}

void SnippetGlobeViewController::lovePressed() {
  if (flameGlobe_ != nullptr) flameGlobe_->tuneLoved();
}

void SnippetGlobeViewController::skipPressed() {
  if (flameGlobe_ != nullptr) flameGlobe_->tuneSkipped();
}

void SnippetGlobeViewController::filterPressed(const ui::Control* sender) {
  if (closingFilters_) return;
  if (!filtersVisible_) {
    for (auto& button : filters_) button->setHidden(false);
    filtersVisible_ = true;
    setNameBackground(topImage_);
    return;
  }
  int index = -1;
  if (sender == nameTextField_.get()) index = 0;
  for (int i = 0; i < 5; i++) {
    if (sender == filters_[i].get()) index = i + 1;
  }
  if (index >= 0 && flameGlobe_ != nullptr) flameGlobe_->filterPressed(index);
  closingFilters_ = true;
}

void SnippetGlobeViewController::closeFilters() {
  for (auto& button : filters_) button->setHidden(true);
  filtersVisible_ = false;
  closingFilters_ = false;
  setNameBackground(buttonImage_);
}

void SnippetGlobeViewController::setActiveFilter(int button) {
  for (auto& filter : filters_) filter->setTitleColor(ui::Color::white());
  if (button >= 1 && button <= 5) filters_[button - 1]->setTitleColor(kGreen);
}

void SnippetGlobeViewController::setSnippetName(const std::string& name) {
  nameTextField_->setTitle(name, ui::ControlState::Normal);
  nameTextField_->setTitle(name, ui::ControlState::Highlighted);
}
