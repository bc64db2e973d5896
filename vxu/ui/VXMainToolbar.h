// The framework's collapsible toolbar: a small collapsed button that
// expands into a bar of buttons, and that can fade out while the player
// plays.
//
// Its buttons carry message codes as tags. The toolbar handles 100 (hide),
// 101 (show), 102 (expand) and 103 (collapse) itself; any other code of its
// own buttons goes to its message delegate, while codes sent to it from
// outside (receiveMsg) never echo back. Expanding and collapsing move the
// expanded bar (and the labels) in or out past the toolbar's edge, animated
// ("kVXMainToolbarExpand", 0.25 s) when isAnimated; fadeToolbar fades the
// expanded bar ("kVXMainToolbarFading", 0.5 s) unless it is there already.
// setUILocation places the toolbar at an edge of its container (1 to 4; see
// the placement rules in the source); other locations keep the portrait
// placement of location 1.
//
// Showing a hidden toolbar also puts the expanded bar where its state says
// (an expansion made while hidden is not left half done).
//
// The toolbar takes no touches itself: only its buttons and bar do.
//
// Threads: main thread only.
#ifndef VXU_UI_VXMAINTOOLBAR_H
#define VXU_UI_VXMAINTOOLBAR_H

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXUIUtils.h"

class VXMainToolbarListener {
 public:
  virtual ~VXMainToolbarListener() = default;
  virtual void mainbarAboutToExpand() = 0;
};

class VXMainToolbar : public platform::ui::ImageView, public MessageHandlerDelegate {
 public:
  explicit VXMainToolbar(const platform::ui::Rect& frame = platform::ui::Rect());
  std::string className() const override { return "VXMainToolbar"; }
  bool drawsContent() const override { return image() != nullptr || backgroundColor().a > 0; }
  platform::ui::View* hitTest(platform::ui::Point p) override;

  // After the parts are connected.
  void awakeFromNib();
  void toolbarButtonPressed(int tag);
  void receiveMsg(int code) override;
  void processMsg(int code);
  void doHide(bool hide);
  void doExpand(bool expand);
  void fadeToolbar(bool fade);
  void saveToolbarState() { wasExpanded = isExpanded; }
  void restoreToolbarState() { doExpand(wasExpanded); }
  // Replaces the expanded bar (none: removes it); for a screen that swaps the
  // bar's content (the instrument builds its bars once).
  void setViewForExpandedToolbar(std::shared_ptr<platform::ui::View> view);
  void setUILocation(int location);
  void centerMainButton();

  MessageHandlerDelegate* msgDelegate = nullptr;
  VXMainToolbarListener* listener = nullptr;
  std::optional<std::string> nameForStats;
  std::shared_ptr<platform::ui::Button> collapsedButton;
  std::shared_ptr<platform::ui::View> expandedToolBar;
  std::shared_ptr<platform::ui::View> labels;
  bool isReceivingMsg = false;
  bool isExpanded = false;
  bool isAnimated = true;
  int orientation = 1;
  int expandedLength = 0;
  int uiLocation = 2;
  int expandMode = 0;
  bool wasExpanded = false;

 private:
  void place(bool expand);
};

#endif
