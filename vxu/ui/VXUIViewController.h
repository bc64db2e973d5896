// Screen controllers: the base controller and the information screen's.
//
// VXUIViewController holds a screen's root view and passes codes up the
// chain: a button press counts the feature "<nameForStats><tag>" on the
// application's statistics when nameForStats is set, then sends the tag to
// itself (receiveMsg), which hands it to msgDelegate. The first view()
// after construction turns the view a quarter turn about the screen's
// middle when the status bar says landscape right (3).
//
// VXInfoViewControler shows the information text (kept under
// "VXPreferencesLastInfoTextCache"; "Welcome to <product>." before any),
// the rich-content panel, and offers the issue report (an alert "Report
// Issue", "Cancel" / "Yes": Yes composes the feedback mail), the tutorial
// video and the maker's home page in the browser.
//
// Threads: main thread only.
#ifndef VXU_UI_VXUIVIEWCONTROLLER_H
#define VXU_UI_VXUIVIEWCONTROLLER_H

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXUIUtils.h"

class VXInfoAddView;

class VXUIViewController : public MessageHandlerDelegate, public MultiViewControllerDelegate {
 public:
  VXUIViewController() = default;
  ~VXUIViewController() override = default;

  std::shared_ptr<platform::ui::View> view();
  // Connects the root view (the screen builders do).
  void setView(std::shared_ptr<platform::ui::View> view) { view_ = std::move(view); }
  // The view without the first-call rotation (tests, dumps).
  const std::shared_ptr<platform::ui::View>& viewIfLoaded() const { return view_; }

  void buttonPressed(int tag);
  // A button whose press is buttonPressed with its tag.
  void connectButton(platform::ui::Control& button);
  void receiveMsg(int code) override;
  virtual void willShowView() {}
  void aboutToShowView(platform::ui::View* view) override;
  void aboutToCloseView(platform::ui::View*) override {}

  MessageHandlerDelegate* msgDelegate = nullptr;
  bool checkRotation = true;
  std::optional<std::string> nameForStats;

 private:
  std::shared_ptr<platform::ui::View> view_;
};

class VXInfoViewControler : public VXUIViewController {
 public:
  void awakeFromNib();
  void setInfoMessage(const std::string& text);
  void loadAdd(const std::string& basePath, const std::string& readyKey,
               const std::optional<std::string>& defaultUrl);
  void reportIssueButtonPressed();
  void videoTutorialButtonPressed();
  void webLinkPressed();

  std::shared_ptr<VXInfoAddView> infoAdd;
  std::shared_ptr<platform::ui::TextView> messageTextView;
};

#endif
