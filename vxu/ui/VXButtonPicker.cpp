#include "vxu/ui/VXButtonPicker.h"

#include <algorithm>

using namespace platform::ui;

namespace {
const Color kHighlightedTitle{0.1, 0.5, 0.1, 1};
}

VXButtonPicker::VXButtonPicker(const Rect& frame) : VXTransparentButton(frame) { awakeFromNib(); }

VXButtonPicker::~VXButtonPicker() {
  if (listView) listView->removeFromSuperview();
}

void VXButtonPicker::awakeFromNib() {
  listShown = false;
  selectedItemIndex = -1;
  backGroundAlpha = 1;
  autosetTitle = true;
  strokeColor = Color::white();
  addTarget([this](Control&) { iWasPressed(); }, kTouchUpInside);
}

std::string VXButtonPicker::nameOf(const VXPickerItem& item) {
  if (const auto* text = std::get_if<std::string>(&item)) return *text;
  const auto& named = std::get<std::shared_ptr<VXNamedItem>>(item);
  return named ? named->getName() : "";
}

void VXButtonPicker::setList(std::vector<VXPickerItem> items) {
  if (listView) listView->removeFromSuperview();
  itemsList = std::move(items);
  const double w = bounds().width(), h = bounds().height();
  const double count = static_cast<double>(itemsList.size());
  const double listHeight = std::max(0.0, (h - 4) * count - 4);
  listView = std::make_shared<View>(Rect(0, 0, w, listHeight));
  listBackground = std::make_shared<View>(Rect(0, 0, w, listHeight));
  listBackground->setBackgroundColor(Color::black(backGroundAlpha));
  listView->addSubview(listBackground);
  setFont(Font::systemFont(16));
  setTitleColor(kHighlightedTitle, ControlState::Highlighted);
  for (std::size_t i = 0; i < itemsList.size(); i++) {
    auto item = std::make_shared<VXTransparentButton>(
        Rect(0, (h - 4) * static_cast<double>(i) - 4, w, h));
    item->setShowsTouchWhenHighlighted(true);
    item->setFont(font());
    item->radius = radius;
    item->fillColor = fillColor;
    item->strokeColor = strokeColor;
    item->drawMode = drawMode;
    item->lineWidth = lineWidth;
    item->roundedCorners = i + 1 == itemsList.size() ? 12 : 0;
    item->setTitleColor(Color::white(), ControlState::Normal);
    item->setTitleColor(kHighlightedTitle, ControlState::Highlighted);
    item->setTitleColor(Color::gray(), ControlState::Disabled);
    item->setTitle(nameOf(itemsList[i]));
    item->setTag(static_cast<int>(i) + 1);
    item->addTarget([this](Control& c) { listButtonWasPressed(c); }, kTouchUpInside);
    listView->addSubview(item);
  }
}

void VXButtonPicker::iWasPressed() { showList(!listShown); }

void VXButtonPicker::showList(bool show) {
  if (show && listView) {
    View* window = root();
    const Point origin = convertTo({bounds().minX(), bounds().maxY()}, nullptr);
    Rect frame = listView->frame();
    frame.origin = origin;
    listView->setFrame(frame);
    if (window != this) window->addSubview(listView);
    roundedCorners = 3;
  } else {
    if (listView) listView->removeFromSuperview();
    roundedCorners = 15;
  }
  listShown = show && listView;
  setNeedsDisplay();
}

void VXButtonPicker::listButtonWasPressed(Control& item) {
  selectedItemIndex = item.tag() - 1;
  if (autosetTitle) {
    if (auto* button = dynamic_cast<Button*>(&item)) {
      setTitle(button->title(ControlState::Normal), ControlState::Normal);
    }
  }
  showList(false);
  sendActionsForControlEvents(kValueChanged);
}

void VXButtonPicker::selectItem(int index) {
  selectedItemIndex = index;
  if (!autosetTitle) return;
  if (index >= 0 && static_cast<std::size_t>(index) < itemsList.size()) {
    setTitle(nameOf(itemsList[static_cast<std::size_t>(index)]), ControlState::Normal);
  } else {
    setTitle(std::nullopt, ControlState::Normal);
  }
}

void VXButtonPicker::enableItem(int index, bool enable) {
  if (!listView) return;
  for (const auto& child : listView->subviews()) {
    if (child->tag() == index + 1 && child != listBackground) {
      if (auto* control = dynamic_cast<Control*>(child.get())) control->setEnabled(enable);
    }
  }
}

void VXButtonPicker::setButtonTitle(const std::optional<std::string>& title) {
  setTitle(title, ControlState::Normal);
  setTitle(title, ControlState::Highlighted);
}

void VXButtonPicker::setAlphaValue(double alpha) {
  setAlpha(alpha);
  if (listView) listView->setAlpha(alpha);
}

void VXButtonPicker::drawRect(Canvas& canvas, const Rect& bounds) {
  VXTransparentButton::drawRect(canvas, bounds);
  canvas.save();
  canvas.setStrokeColor(strokeColor);
  canvas.setLineWidth(lineWidth);
  for (int k = 0; k < 2; k++) {
    const double x = bounds.maxX() - 40;
    const double y = bounds.midY() - 2 + 7 * k;
    canvas.beginPath();
    canvas.moveTo(x - 8, y - 8);
    canvas.lineTo(x, y);
    canvas.lineTo(x + 8, y - 8);
    canvas.drawPath(PathMode::Stroke);
  }
  canvas.restore();
}
