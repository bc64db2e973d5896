#include "platform/ui/AlertView.h"

#include <algorithm>
#include <cstdio>

#include "platform/ui/Application.h"

namespace platform::ui {

namespace {

constexpr double kMeasureScale = 2.0;

// The rounded, translucent panel behind an alert's text and buttons.
class AlertPanel : public View {
 public:
  AlertPanel(const Rect& frame, double radius) : View(frame), radius_(radius) {}
  std::string className() const override { return "AlertPanel"; }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override {
    canvas.setFillColor(Color{0.08, 0.14, 0.3, 0.92});
    canvas.setStrokeColor(Color::white(0.8));
    canvas.setLineWidth(2);
    canvas.beginPath();
    canvas.addRoundedRect(bounds.insetBy(1, 1), radius_);
    canvas.drawPath(PathMode::FillStroke);
  }

 private:
  double radius_;
};

class AlertButton : public Button {
 public:
  using Button::Button;
  std::string className() const override { return "AlertButton"; }
  void drawRect(Canvas& canvas, const Rect& bounds) override {
    canvas.setFillColor(highlighted() ? Color{0.3, 0.45, 0.8, 1} : Color::white(0.18));
    canvas.setStrokeColor(Color::white(0.5));
    canvas.setLineWidth(1);
    canvas.beginPath();
    canvas.addRoundedRect(bounds.insetBy(0.5, 0.5), 6);
    canvas.drawPath(PathMode::FillStroke);
    drawImageAndTitle(canvas, bounds);
  }
};

std::shared_ptr<Label> textLabel(const std::string& text, const Font& font, double x, double y,
                                 double width, double* height) {
  // Tall enough for its lines at the host's scale as well: a label leaves
  // out the lines its height cannot hold, and at another scale a text may
  // wrap into more lines or its lines be taller in points.
  double h = 0;
  const Application* app = Application::shared();
  for (double scale : {kMeasureScale, app ? app->scale() : kMeasureScale}) {
    const double lines = static_cast<double>(font.wrap(text, width, scale).size());
    // A hair over, so that the label's whole-line count is not one short.
    h = std::max(h, lines * font.lineHeight(scale) * (1 + 1e-9));
  }
  auto label = std::make_shared<Label>(Rect(x, y, width, h));
  label->setText(text);
  label->setFont(font);
  label->setTextColor(Color::white());
  label->setTextAlignment(TextAlignment::Center);
  label->setNumberOfLines(0);
  *height = h;
  return label;
}

}  // namespace

AlertView::AlertView(AlertStyle style, std::string title, std::string message,
                     std::optional<std::string> cancelButton,
                     std::vector<std::string> otherButtons, Callback callback)
    : View(Rect(0, 0, Application::kScreenWidth, Application::kScreenHeight)),
      style_(style),
      title_(std::move(title)),
      message_(std::move(message)),
      cancel_(std::move(cancelButton)),
      others_(std::move(otherButtons)),
      callback_(std::move(callback)) {
  build();
}

int AlertView::numberOfButtons() const {
  return static_cast<int>(others_.size()) + (cancel_ ? 1 : 0);
}

int AlertView::cancelButtonIndex() const {
  if (!cancel_) return -1;
  return style_ == AlertStyle::Alert ? 0 : static_cast<int>(others_.size());
}

int AlertView::firstOtherButtonIndex() const {
  if (others_.empty()) return -1;
  return style_ == AlertStyle::Alert && cancel_ ? 1 : 0;
}

std::string AlertView::buttonTitle(int index) const {
  if (index < 0 || index >= numberOfButtons()) return "";
  if (index == cancelButtonIndex()) return *cancel_;
  const int first = firstOtherButtonIndex();
  return others_[static_cast<std::size_t>(index - first)];
}

std::vector<std::string> AlertView::buttonTitles() const {
  std::vector<std::string> titles;
  for (int i = 0; i < numberOfButtons(); i++) titles.push_back(buttonTitle(i));
  return titles;
}

Button* AlertView::button(int index) const {
  if (!panel_) return nullptr;
  for (const auto& part : panel_->subviews()) {
    auto* b = dynamic_cast<Button*>(part.get());
    if (b && b->tag() == index) return b;
  }
  return nullptr;
}

void AlertView::build() {
  const bool sheet = style_ == AlertStyle::ActionSheet;
  const double panelWidth = sheet ? 320 : 284;
  const double inner = panelWidth - 24;
  std::vector<std::shared_ptr<View>> parts;
  double y = 12, h = 0;
  if (!title_.empty()) {
    parts.push_back(textLabel(title_, sheet ? Font::systemFont(15) : Font::boldSystemFont(17), 12,
                              y, inner, &h));
    y += h + 6;
  }
  if (!message_.empty()) {
    parts.push_back(textLabel(message_, Font::systemFont(15), 12, y, inner, &h));
    y += h + 6;
  }
  y += 6;
  // Buttons in the order they stand on screen.
  std::vector<int> order;
  const int n = numberOfButtons();
  if (!sheet && n == 2) {
    order = {0, 1};
  } else {
    for (int i = 0; i < n; i++) {
      if (i != cancelButtonIndex()) order.push_back(i);
    }
    if (cancelButtonIndex() >= 0) order.push_back(cancelButtonIndex());
  }
  auto makeButton = [&](int index, const Rect& frame) {
    auto button = std::make_shared<AlertButton>(frame);
    button->setTag(index);
    button->setTitle(buttonTitle(index));
    button->setTitleColor(Color::white());
    button->setFont(index == cancelButtonIndex() ? Font::boldSystemFont(16) : Font::systemFont(16));
    button->addTarget(
        [this](Control& c) {
          // The alert may be released by the callback: keep it to the end.
          std::shared_ptr<View> keep = weak_from_this().lock();
          dismissWithButton(c.tag());
        },
        kTouchUpInside);
    parts.push_back(button);
  };
  if (!sheet && n == 2) {
    const double w = (inner - 8) / 2;
    makeButton(order[0], Rect(12, y, w, 42));
    makeButton(order[1], Rect(12 + w + 8, y, w, 42));
    y += 42 + 12;
  } else {
    for (std::size_t i = 0; i < order.size(); i++) {
      if (sheet && order[i] == cancelButtonIndex() && i > 0) y += 8;
      makeButton(order[i], Rect(12, y, inner, 42));
      y += 42 + 8;
    }
    y += 4;
  }
  const double panelHeight = std::min(y, Application::kScreenHeight);
  const Rect frame = sheet ? Rect(0, Application::kScreenHeight - panelHeight, panelWidth, panelHeight)
                           : Rect((320 - panelWidth) / 2, (480 - panelHeight) / 2, panelWidth,
                                  panelHeight);
  panel_ = std::make_shared<AlertPanel>(frame, sheet ? 0 : 10);
  for (auto& part : parts) panel_->addSubview(part);
  addSubview(panel_);
}

void AlertView::drawRect(Canvas& canvas, const Rect& bounds) {
  canvas.setFillColor(Color::black(0.45));
  canvas.fillRect(bounds);
}

View* AlertView::hitTest(Point p) {
  if (hidden()) return nullptr;
  View* hit = View::hitTest(p);
  return hit ? hit : this;  // modal: nothing behind it is reached
}

void AlertView::show() {
  if (Application* app = Application::shared()) {
    app->showAlert(std::static_pointer_cast<AlertView>(shared_from_this()));
  } else {
    std::fprintf(stderr, "alert '%s' not shown: no screen\n", title_.c_str());
  }
}

bool AlertView::dismissWithButton(int index) {
  if (answered_ || index < 0 || index >= numberOfButtons()) return false;
  answered_ = true;
  std::shared_ptr<View> keep = weak_from_this().lock();
  removeFromSuperview();
  Callback callback = std::move(callback_);
  callback_ = nullptr;
  if (callback) callback(index);
  return true;
}

bool AlertView::handleEscape() {
  const int cancel = cancelButtonIndex();
  return cancel >= 0 && dismissWithButton(cancel);
}

bool AlertView::handleReturn() {
  const int other = firstOtherButtonIndex();
  return dismissWithButton(other >= 0 ? other : cancelButtonIndex());
}

void KitAlertPresenter::present(const Alert& alert, Answer answer) {
  auto view = std::make_shared<AlertView>(AlertStyle::Alert, alert.title, alert.message,
                                          alert.cancelButton, alert.otherButtons,
                                          std::move(answer));
  view->show();
}

}  // namespace platform::ui
