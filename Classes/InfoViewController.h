// The instrument's information screen: the information text, the help, the
// tutorial video, the product's page, the issue report and the rich-content
// panel, over the framework's information controller. The first time, a
// tutorial view covers it until tapped. It also shows the credit of the
// earth's imagery.
//
// The screen is built in code (buildView). Tags: how to play 1, video 2,
// product page 3, report issue 4, done 5 (sends kVXMsgCloseInfo).
//
// Threads: main thread only.
#ifndef CLASSES_INFOVIEWCONTROLLER_H
#define CLASSES_INFOVIEWCONTROLLER_H

#include <memory>
#include <string>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXTapView.h"
#include "vxu/ui/VXUIViewController.h"

class InfoViewController : public VXInfoViewControler, public VXTapViewDelegate {
 public:
  static constexpr int kHowToPlayTag = 1;
  static constexpr int kVideoTag = 2;
  static constexpr int kProductPageTag = 3;
  static constexpr int kReportIssueTag = 4;
  static constexpr int kDoneTag = 5;

  InfoViewController();

  void buildView();
  void awakeFromNib();
  void setInfoMessage(const std::string& text);
  void howToPlayButtonPressed();
  void videoTutorialButtonPressed();
  void fluvaneLinkPressed();
  void tapViewTapped(VXTapView* view) override;
  void setMessageDelegate(MessageHandlerDelegate*) override {}
  // Hides the tutorial view; for a screen that shows the video tutorial over
  // the information (none does yet: the button opens the tutorial's page).
  void closeTutorialView();
  // The rich content with the store page as its default URL; the
  // application delegate gives its own default URL through the base's form.
  void loadAdd(const std::string& basePath, const std::string& readyKey);

  platform::ui::View& infoView() { return *infoView_; }
  platform::ui::View& tutorialView() { return *tutorialView_; }
  platform::ui::TextView& genericTextView() { return *genericTextView_; }

 private:
  std::shared_ptr<platform::ui::View> infoView_;
  std::shared_ptr<platform::ui::TextView> genericTextView_;
  std::shared_ptr<VXTapView> tutorialView_;
};

#endif
