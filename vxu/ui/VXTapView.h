// Two small touch helpers of the UI kit.
//
// VXTapView tells its delegate of each touch that ends with a tap count
// above 0 (tapViewTapped), and does nothing else with touches.
//
// VXPickerTextField is a text field that behaves like a button: a touch
// highlights it while inside and its end sends touch up inside; it never
// starts editing (the application opens a picker instead of a keyboard).
//
// Threads: main thread only.
#ifndef VXU_UI_VXTAPVIEW_H
#define VXU_UI_VXTAPVIEW_H

#include "platform/ui/Controls.h"
#include "vxu/ui/VXUIUtils.h"

class VXTapView;

class VXTapViewDelegate {
 public:
  virtual ~VXTapViewDelegate() = default;
  virtual void setMessageDelegate(MessageHandlerDelegate* delegate) = 0;
  virtual void tapViewTapped(VXTapView* view) = 0;
};

class VXTapView : public platform::ui::View {
 public:
  using View::View;
  std::string className() const override { return "VXTapView"; }
  void touchesEnded(const platform::ui::Touches& touches) override;
  VXTapViewDelegate* delegate = nullptr;
};

class VXPickerTextField : public platform::ui::TextField {
 public:
  using TextField::TextField;
  std::string className() const override { return "VXPickerTextField"; }
  void touchesBegan(const platform::ui::Touches& touches) override;
  void touchesMoved(const platform::ui::Touches&) override {}
  void touchesEnded(const platform::ui::Touches& touches) override;
  void touchesCancelled(const platform::ui::Touches&) override;
  bool becomeFirstResponder() override { return false; }
};

#endif
