#include "Classes/InfoViewController.h"

#include "Classes/FluvaneConfig.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneScreenStyle.h"
#include "platform/UrlOpener.h"
#include "vxu/VXConfig.h"
#include "vxu/ui/VXInfoAddView.h"
#include "vxu/ui/VXUIUtils.h"

namespace ui = platform::ui;

namespace {

using FluvaneScreenStyle::kScreenColor;
using FluvaneScreenStyle::makeButton;
using FluvaneScreenStyle::makeLabel;

void open(const std::string& url) { platform::UrlOpener::installed()->open(url); }

}  // namespace

InfoViewController::InfoViewController() {
  buildView();
  awakeFromNib();
}

void InfoViewController::buildView() {
  auto root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 436));
  infoView_ = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 436));
  infoView_->setBackgroundColor(kScreenColor);
  infoView_->addSubview(
      makeLabel(ui::Rect(12, 8, 296, 30), "Information", ui::Font::boldSystemFont(20)));
  genericTextView_ = std::make_shared<ui::TextView>(ui::Rect(12, 44, 296, 150));
  genericTextView_->setBackgroundColor(ui::Color::white(0.9));
  infoView_->addSubview(genericTextView_);
  messageTextView = genericTextView_;

  auto add = std::make_shared<VXInfoAddView>(ui::Rect(12, 200, 296, 96));
  add->imageButton = std::make_shared<ui::Button>(ui::Rect(0, 0, 90, 90));
  add->imageButton->addTarget([this](ui::Control&) {
    if (infoAdd) infoAdd->buttonPressed();
  }, ui::kTouchUpInside);
  add->viewTitle = makeLabel(ui::Rect(98, 0, 198, 24), "", ui::Font::boldSystemFont(15));
  add->viewBody = makeLabel(ui::Rect(98, 26, 198, 66), "", ui::Font::systemFont(12));
  add->viewBody->setNumberOfLines(0);
  add->addSubview(add->imageButton);
  add->addSubview(add->viewTitle);
  add->addSubview(add->viewBody);
  infoAdd = add;
  infoView_->addSubview(add);

  auto credit = makeLabel(ui::Rect(12, 298, 296, 32), FLUVANE_EARTH_CREDIT,
                          ui::Font::systemFont(10));
  credit->setNumberOfLines(0);
  infoView_->addSubview(credit);

  const struct {
    ui::Rect frame;
    const char* title;
    int tag;
    void (InfoViewController::*action)();
  } buttons[] = {
      {ui::Rect(12, 336, 140, 30), "How to play", kHowToPlayTag,
       &InfoViewController::howToPlayButtonPressed},
      {ui::Rect(168, 336, 140, 30), "Video", kVideoTag,
       &InfoViewController::videoTutorialButtonPressed},
      {ui::Rect(12, 372, 140, 30), "Fluvane page", kProductPageTag,
       &InfoViewController::fluvaneLinkPressed},
      {ui::Rect(168, 372, 140, 30), "Report Issue", kReportIssueTag,
       &InfoViewController::reportIssueButtonPressed},
  };
  for (const auto& b : buttons) {
    auto button = makeButton(b.frame, b.title, b.tag);
    auto action = b.action;
    button->addTarget([this, action](ui::Control&) { (this->*action)(); }, ui::kTouchUpInside);
    infoView_->addSubview(button);
  }
  auto done = makeButton(ui::Rect(90, 406, 140, 28), "Done", kDoneTag);
  done->addTarget([this](ui::Control&) { receiveMsg(kVXMsgCloseInfo); }, ui::kTouchUpInside);
  infoView_->addSubview(done);
  root->addSubview(infoView_);

  // The first-use tutorial: a tap anywhere shows the information itself.
  tutorialView_ = std::make_shared<VXTapView>(ui::Rect(0, 0, 320, 436));
  tutorialView_->setBackgroundColor(kScreenColor);
  auto hint = makeLabel(ui::Rect(20, 150, 280, 120),
                        "Blow into the microphone and cover the holes to play. Tap to go on.",
                        ui::Font::systemFont(17));
  hint->setNumberOfLines(0);
  hint->setUserInteractionEnabled(false);
  tutorialView_->addSubview(hint);
  tutorialView_->delegate = this;
  root->addSubview(tutorialView_);
  setView(root);
}

void InfoViewController::awakeFromNib() {
  infoView_->setAlpha(0);
  tutorialView_->setAlpha(0);
  genericTextView_->setText(FluvanePreferences::standardFluvanePreferences().infoBoxText());
}

void InfoViewController::setInfoMessage(const std::string& text) {
  FluvanePreferences::standardFluvanePreferences().setInfoBoxText(text);
  genericTextView_->setText(text);
}

void InfoViewController::howToPlayButtonPressed() {
  if (msgDelegate != nullptr) msgDelegate->receiveMsg(kVXMsgShowHelp);
}

void InfoViewController::videoTutorialButtonPressed() {
  open(std::string(APP_REDIRECT_BASE) + APP_SERVER_LOCATION + "/tutorialvideo");
}

void InfoViewController::fluvaneLinkPressed() { open(FLUVANE_PRODUCT_PAGE); }

void InfoViewController::tapViewTapped(VXTapView*) {
  closeSubView(tutorialView_.get());
  infoView_->setAlpha(1);
}

void InfoViewController::closeTutorialView() { tutorialView_->setHidden(true); }

void InfoViewController::loadAdd(const std::string& basePath, const std::string& readyKey) {
  VXInfoViewControler::loadAdd(basePath, readyKey, std::string(FLUVANE_STORE_PAGE));
}
