// Alerts and action sheets, drawn by the kit.
//
// An AlertView covers the whole screen with a dimmed backdrop and shows a
// rounded panel with a wrapped title and message and its buttons; an
// action sheet shows its panel at the bottom of the screen with the
// buttons stacked. Both are modal: while one is shown, touches reach only
// the topmost one (the host makes it so).
//
// Button indexes follow the mobile platform's rule:
//  - alert: the cancel button is 0 and the other buttons follow 1, 2, ...
//    in order (without a cancel button the others are 0, 1, ...);
//  - action sheet: the other buttons are 0, 1, ... in order and the cancel
//    button comes last (a sheet with only a cancel button: 0).
// A button's tag is its index. Choosing a button (a tap, or answer())
// removes the alert, then calls the callback with the index, once.
// Escape chooses the cancel button (nothing without one); Return chooses
// the first other button, or the cancel button when there is no other.
//
// KitAlertPresenter is the platform's AlertPresenter over these views (the
// host installs it while it runs).
//
// Threads: main thread only.
#ifndef PLATFORM_UI_ALERTVIEW_H
#define PLATFORM_UI_ALERTVIEW_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/ui/Controls.h"

namespace platform::ui {

enum class AlertStyle { Alert, ActionSheet };

class AlertView : public View {
 public:
  using Callback = std::function<void(int buttonIndex)>;

  AlertView(AlertStyle style, std::string title, std::string message,
            std::optional<std::string> cancelButton, std::vector<std::string> otherButtons,
            Callback callback);
  std::string className() const override {
    return style_ == AlertStyle::Alert ? "AlertView" : "ActionSheet";
  }
  std::string describe() const override { return title_; }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;
  View* hitTest(Point p) override;

  AlertStyle style() const { return style_; }
  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  int numberOfButtons() const;
  // -1 when there is none.
  int cancelButtonIndex() const;
  int firstOtherButtonIndex() const;
  std::string buttonTitle(int index) const;
  // Titles in index order.
  std::vector<std::string> buttonTitles() const;
  // The button view of an index, or null.
  Button* button(int index) const;

  // Puts the alert on the host's screen (nothing without a host).
  void show();
  // Chooses the button: removes the alert and calls back; false when the
  // index is not a button or the alert was answered already.
  bool dismissWithButton(int index);
  bool answered() const { return answered_; }

  bool handleEscape();
  bool handleReturn();

 private:
  void build();

  AlertStyle style_;
  std::string title_;
  std::string message_;
  std::optional<std::string> cancel_;
  std::vector<std::string> others_;
  Callback callback_;
  bool answered_ = false;
  std::shared_ptr<View> panel_;
};

class KitAlertPresenter : public AlertPresenter {
 public:
  void present(const Alert& alert, Answer answer) override;
};

}  // namespace platform::ui

#endif
