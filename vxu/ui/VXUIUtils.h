// The framework's UI base: the message protocol by which views, screens and
// the application delegate pass integer codes (MessageHandlerDelegate), the
// framework's codes, the base main view and the touch-swallowing view, and
// the plain UI functions.
//
//  - getSubItemWithTag(view, tag): the view itself when its tag matches;
//    for a toolbar, the first of its bar items with the tag; otherwise a
//    depth-first search of the subviews in order. Nothing for a null view.
//  - updateUIBarItem(container, tag, enabled, image name): sets a bar
//    item's enabled state and, when a name is given, its image from the
//    resources; anything but a bar item is left alone.
//  - openSubView(view, parent, sibling, animated): adds the view to the
//    parent (below the sibling when given), shown, exclusive touch, and
//    fades it in from alpha 0 to 1 (0.75 s, ease-in-out,
//    "kOpenSubViewAnimation") when animated, at once otherwise.
//  - closeSubView(view, didStop): fades it out over 0.5 s under the same
//    name with the view as context when a did-stop is given (told when the
//    fade ends), at once otherwise. The view stays in its parent.
//  - drawRoundedRect(canvas, rect, radius, line width, mode, corner mask):
//    the rectangle inset by the line width on both axes, its corners
//    rounded where the mask says (1 top-left, 2 top-right, 8 bottom-right,
//    4 bottom-left), drawn with the path mode. An inset that would pass the
//    middle leaves a line instead, and the radius is held to half the
//    shorter side of the inset rectangle, so a small control never turns
//    into a shape folded over itself.
//
// VXNoTouchView swallows touches on itself; a touch that lands anywhere in
// it but on a VXButtonPicker tells its message delegate 104 (the receiver
// may close open lists).
//
// Delegates are plain observer pointers (not owned).
//
// Threads: main thread only.
#ifndef VXU_UI_VXUIUTILS_H
#define VXU_UI_VXUIUTILS_H

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Animation.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/View.h"

class MessageHandlerDelegate {
 public:
  virtual ~MessageHandlerDelegate() = default;
  virtual void receiveMsg(int code) = 0;
};

class MultiViewControllerDelegate {
 public:
  virtual ~MultiViewControllerDelegate() = default;
  virtual void aboutToShowView(platform::ui::View* view) = 0;
  virtual void aboutToCloseView(platform::ui::View* view) = 0;
};

// The framework's message codes.
enum VXMessageCode : int {
  kVXMsgHideToolbar = 100,
  kVXMsgShowToolbar = 101,
  kVXMsgExpandToolbar = 102,
  kVXMsgCollapseToolbar = 103,
  kVXMsgTouchOutsidePicker = 104,
  kVXMsgFinishImageSequence = 200,
  kVXMsgImageSequenceFinished = 300,
  kVXMsgImageSequenceChanged = 301,
  kVXMsgLeaveGlobe = 1001,
  kVXMsgGoToGlobe = 1002,
  kVXMsgOpenInfo = 1004,
  kVXMsgCloseInfo = 1005,
  kVXMsgShowHelp = 1006,
  kVXMsgOpenSettings = 1007,
  kVXMsgPreviousImage = 1100,
  kVXMsgNextImage = 1101,
  kVXMsgCloseSubView = 3001,
};

extern const char* const kOpenSubViewAnimation;

struct VXSubItem {
  platform::ui::View* view = nullptr;
  platform::ui::BarItem* item = nullptr;
  explicit operator bool() const { return view || item; }
};

VXSubItem getSubItemWithTag(platform::ui::View* view, int tag);
void updateUIBarItem(platform::ui::View* container, int tag, bool enabled,
                     const std::optional<std::string>& imageName = std::nullopt);
void openSubView(const std::shared_ptr<platform::ui::View>& view, platform::ui::View* parent,
                 const platform::ui::View* sibling, bool animated);
void closeSubView(platform::ui::View* view, platform::ui::Animator::DidStop didStop = nullptr);
void drawRoundedRect(platform::ui::Canvas& canvas, const platform::ui::Rect& rect, double radius,
                     double lineWidth, platform::ui::PathMode mode, int cornerMask);

class VXMainView : public platform::ui::View, public MessageHandlerDelegate {
 public:
  using View::View;
  std::string className() const override { return "VXMainView"; }
  void receiveMsg(int code) override;
  MessageHandlerDelegate* msgDelegate = nullptr;
};

class VXNoTouchView : public platform::ui::View {
 public:
  using View::View;
  std::string className() const override { return "VXNoTouchView"; }
  platform::ui::View* hitTest(platform::ui::Point p) override;
  MessageHandlerDelegate* msgDelegate = nullptr;
};

#endif
