// A button that drops down a list of choices.
//
// setList() builds the list: a view of the picker's width and
// (h - 4) x count - 4 high (h the picker's height; an empty list is 0
// high), a black background at backGroundAlpha, and one transparent button
// per item, item i with its top at (h - 4) x i - 4, tag i + 1, its title the
// string or the named item's name; the last item rounds its two bottom
// corners. The picker's own press toggles the list, which is put on the
// window just below the picker (the picker then rounds only its top
// corners). Choosing an item selects it (index = tag - 1), takes its title
// when autosetTitle, closes the list and sends value changed. The picker
// draws a double chevron pointing down, placed from its bounds (so it sits
// on the picker wherever the picker is).
//
// Threads: main thread only.
#ifndef VXU_UI_VXBUTTONPICKER_H
#define VXU_UI_VXBUTTONPICKER_H

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "vxu/ui/VXNamedItem.h"
#include "vxu/ui/VXTransparentButton.h"

using VXPickerItem = std::variant<std::string, std::shared_ptr<VXNamedItem>>;

class VXButtonPicker : public VXTransparentButton {
 public:
  explicit VXButtonPicker(const platform::ui::Rect& frame = platform::ui::Rect());
  ~VXButtonPicker() override;
  std::string className() const override { return "VXButtonPicker"; }
  void drawRect(platform::ui::Canvas& canvas, const platform::ui::Rect& bounds) override;

  void awakeFromNib();
  void setList(std::vector<VXPickerItem> items);
  void iWasPressed();
  void showList(bool show);
  void listButtonWasPressed(platform::ui::Control& item);
  void selectItem(int index);
  int getSelectedIndex() const { return selectedItemIndex; }
  void enableItem(int index, bool enable);
  // For a picker whose button names what is chosen, and one that fades with
  // its screen (the instrument's pickers keep their title and alpha).
  void setButtonTitle(const std::optional<std::string>& title);
  void setAlphaValue(double alpha);
  static std::string nameOf(const VXPickerItem& item);

  std::shared_ptr<platform::ui::View> listView;
  std::shared_ptr<platform::ui::View> listBackground;
  bool listShown = false;
  int selectedItemIndex = -1;
  double backGroundAlpha = 1;
  bool autosetTitle = true;
  std::vector<VXPickerItem> itemsList;
};

#endif
