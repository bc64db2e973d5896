#include "platform/ui/Selectors.h"

#include <algorithm>

namespace platform::ui {

namespace {

const Color kOff{0.35, 0.35, 0.4, 1};
const Color kOnColour{0.2, 0.55, 0.25, 1};
const Color kSegment{0.15, 0.2, 0.35, 1};
const Color kSelected{0.3, 0.45, 0.8, 1};

}  // namespace

// --- Switch -------------------------------------------------------------------

Switch::Switch(const Rect& frame) : Button(frame) {
  setTitleColor(Color::white());
  setOn(false);
}

void Switch::setOn(bool on) {
  on_ = on;
  setTitle(on ? "ON" : "OFF");
  setBackgroundColor(on ? kOnColour : kOff);
}

void Switch::touchesEnded(const Touches& touches) {
  const bool inside = tracking() && !touches.empty() && touchInside(touches.front());
  if (inside && enabled()) setOn(!on_);
  Button::touchesEnded(touches);
  if (inside && enabled()) sendActionsForControlEvents(kValueChanged);
}

// --- SegmentedControl -----------------------------------------------------------

SegmentedControl::SegmentedControl(const Rect& frame, std::vector<std::string> titles)
    : Control(frame) {
  const double width = titles.empty() ? 0 : frame.width() / titles.size();
  for (std::size_t i = 0; i < titles.size(); i++) {
    auto button = std::make_shared<Button>(Rect(width * i, 0, width, frame.height()));
    button->setTitle(titles[i]);
    button->setTitleColor(Color::white());
    button->setBackgroundColor(kSegment);
    button->setFont(Font::boldSystemFont(13));
    // A narrow segment draws its title smaller rather than across its edges.
    button->setTitleInsets(2, 2);
    button->setShrinksTitleToFit(true);
    const int index = static_cast<int>(i);
    button->addTarget([this, index](Control&) {
      setSelectedSegmentIndex(index);
      sendActionsForControlEvents(kValueChanged);
    }, kTouchUpInside);
    segments_.push_back(button);
    addSubview(button);
  }
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
  selected_ = index >= 0 && index < numberOfSegments() ? index : -1;
  for (int i = 0; i < numberOfSegments(); i++) {
    segments_[i]->setBackgroundColor(i == selected_ ? kSelected : kSegment);
  }
}

Button* SegmentedControl::segment(int index) const {
  return index >= 0 && index < numberOfSegments() ? segments_[index].get() : nullptr;
}

// --- PickerView -----------------------------------------------------------------

PickerView::PickerView(const Rect& frame) : View(frame) {
  setBackgroundColor(Color{0.85, 0.86, 0.9, 1});
}

void PickerView::reloadAllComponents() {
  for (Column& column : columns_) {
    for (auto& button : column.buttons) button->removeFromSuperview();
  }
  columns_.clear();
  if (dataSource == nullptr) return;
  const int count = std::max(0, dataSource->numberOfComponentsInPickerView(*this));
  double x = (bounds().width() - [&] {
    double total = 0;
    for (int c = 0; c < count; c++) total += dataSource->widthForComponent(*this, c);
    return total;
  }()) / 2;
  for (int c = 0; c < count; c++) {
    Column column;
    column.rows = std::max(0, dataSource->numberOfRowsInComponent(*this, c));
    const double width = dataSource->widthForComponent(*this, c);
    for (int k = 0; k < kShownRows; k++) {
      auto button = std::make_shared<Button>(Rect(x, 18 + kRowHeight * k, width, kRowHeight));
      button->setTitleColor(k == kShownRows / 2 ? Color::black() : Color::gray());
      if (k == kShownRows / 2) button->setBackgroundColor(Color::white(0.8));
      const int offset = k - kShownRows / 2;
      button->addTarget([this, c, offset](Control&) {
        pickRow(columns_[c].selected + offset, c);
      }, kTouchUpInside);
      column.buttons.push_back(button);
      addSubview(button);
    }
    columns_.push_back(std::move(column));
    refreshColumn(c);
    x += width;
  }
}

void PickerView::refreshColumn(int component) {
  Column& column = columns_[component];
  for (int k = 0; k < kShownRows; k++) {
    const int row = column.selected + k - kShownRows / 2;
    const bool shown = row >= 0 && row < column.rows;
    column.buttons[k]->setTitle(shown && dataSource ? dataSource->titleForRow(*this, row, component)
                                                    : std::string());
    column.buttons[k]->setEnabled(shown);
  }
}

void PickerView::selectRow(int row, int component, bool) {
  if (component < 0 || component >= static_cast<int>(columns_.size())) return;
  Column& column = columns_[component];
  if (row < 0 || row >= column.rows) return;
  column.selected = row;
  refreshColumn(component);
}

int PickerView::selectedRowInComponent(int component) const {
  if (component < 0 || component >= static_cast<int>(columns_.size())) return -1;
  return columns_[component].selected;
}

void PickerView::pickRow(int row, int component) {
  if (component < 0 || component >= static_cast<int>(columns_.size())) return;
  if (row < 0 || row >= columns_[component].rows) return;
  selectRow(row, component, true);
  if (delegate != nullptr) delegate->didSelectRow(*this, row, component);
}

Button* PickerView::rowButton(int component, int offset) const {
  if (component < 0 || component >= static_cast<int>(columns_.size())) return nullptr;
  const int k = offset + kShownRows / 2;
  if (k < 0 || k >= kShownRows) return nullptr;
  return columns_[component].buttons[k].get();
}

}  // namespace platform::ui
