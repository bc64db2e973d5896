// Controls that choose a value: a switch, a segmented control and a picker
// of rows in columns.
//
// Switch: on or off; a tap (touch up inside) turns it over and sends
// kValueChanged. Its title reads "ON" or "OFF".
// SegmentedControl: a row of titled segments, one selected (-1: none); a
// tap on a segment selects it and sends kValueChanged (also when it was
// selected already, as the platform's control does not: it sends nothing
// then). A title wider than its segment is drawn smaller to fit.
// PickerView: columns (components) of rows from a data source, each column
// showing its selected row in the middle with two rows above and below; a
// tap on a shown row selects it and tells the delegate. selectRow() sets a
// selection without telling anyone.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_SELECTORS_H
#define PLATFORM_UI_SELECTORS_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"

namespace platform::ui {

class Switch : public Button {
 public:
  explicit Switch(const Rect& frame = Rect());
  std::string className() const override { return "Switch"; }
  bool on() const { return on_; }
  void setOn(bool on);
  void touchesEnded(const Touches& touches) override;

 private:
  bool on_ = false;
};

class SegmentedControl : public Control {
 public:
  SegmentedControl(const Rect& frame, std::vector<std::string> titles);
  std::string className() const override { return "SegmentedControl"; }
  int numberOfSegments() const { return static_cast<int>(segments_.size()); }
  int selectedSegmentIndex() const { return selected_; }
  // Out-of-range indexes select nothing (-1).
  void setSelectedSegmentIndex(int index);
  // The segment's button (tests tap it), or null.
  Button* segment(int index) const;

 private:
  std::vector<std::shared_ptr<Button>> segments_;
  int selected_ = -1;
};

class PickerView;

class PickerViewDataSource {
 public:
  virtual ~PickerViewDataSource() = default;
  virtual int numberOfComponentsInPickerView(PickerView& picker) = 0;
  virtual int numberOfRowsInComponent(PickerView& picker, int component) = 0;
  virtual std::string titleForRow(PickerView& picker, int row, int component) = 0;
  virtual double widthForComponent(PickerView& picker, int component) = 0;
};

class PickerViewDelegate {
 public:
  virtual ~PickerViewDelegate() = default;
  virtual void didSelectRow(PickerView& picker, int row, int component) = 0;
};

class PickerView : public View {
 public:
  static constexpr double kRowHeight = 36;
  static constexpr int kShownRows = 5;
  explicit PickerView(const Rect& frame = Rect(0, 0, 320, kRowHeight * kShownRows + 36));
  std::string className() const override { return "PickerView"; }

  PickerViewDataSource* dataSource = nullptr;
  PickerViewDelegate* delegate = nullptr;

  // Rebuilds the columns from the data source.
  void reloadAllComponents();
  void selectRow(int row, int component, bool animated);
  int selectedRowInComponent(int component) const;
  // Taps the row: selects it and tells the delegate (what a tap does).
  void pickRow(int row, int component);
  // The button showing row offset (-2..2 from the selected) of a column.
  Button* rowButton(int component, int offset) const;

 private:
  void refreshColumn(int component);

  struct Column {
    int selected = 0;
    int rows = 0;
    std::vector<std::shared_ptr<Button>> buttons;  // kShownRows
  };
  std::vector<Column> columns_;
};

}  // namespace platform::ui

#endif
