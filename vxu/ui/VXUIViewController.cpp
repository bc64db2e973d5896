#include "vxu/ui/VXUIViewController.h"

#include <numbers>

#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "vxu/ui/VXAppDelegate.h"
#include "vxu/VXConfig.h"
#include "vxu/ui/VXInfoAddView.h"
#include "vxu/VXPreferences.h"
#include "vxu/VXUserFeedback.h"
#include "vxu/VXUtils.h"

using namespace platform::ui;

namespace {
constexpr double kPi = std::numbers::pi;
}

std::shared_ptr<View> VXUIViewController::view() {
  if (checkRotation) {
    checkRotation = false;
    Application* app = Application::shared();
    if (view_ && app && app->statusBarOrientation() == 3) {
      view_->setCenter({Application::kScreenWidth / 2, Application::kScreenHeight / 2});
      view_->setTransform(AffineTransform::rotation(kPi / 2));
    }
  }
  return view_;
}

void VXUIViewController::buttonPressed(int tag) {
  if (nameForStats) {
    if (VXAppDelegate* app = VXAppDelegate::getAppDelegate()) {
      if (VXUserStats* stats = app->getStats()) {
        stats->trackFeatureByName(*nameForStats + std::to_string(tag));
      }
    }
  }
  receiveMsg(tag);
}

void VXUIViewController::connectButton(Control& button) {
  button.addTarget([this](Control& c) { buttonPressed(c.tag()); }, kTouchUpInside);
}

void VXUIViewController::receiveMsg(int code) {
  if (msgDelegate) msgDelegate->receiveMsg(code);
}

void VXUIViewController::aboutToShowView(View* view) {
  if (view && view == view_.get()) willShowView();
}

void VXInfoViewControler::awakeFromNib() {
  std::optional<std::string> cached =
      platform::UserDefaults::standard().stringForKey(VXPreferencesLastInfoTextCache);
  if (messageTextView) {
    messageTextView->setText(cached ? *cached : "Welcome to " + product_name() + ".");
  }
}

void VXInfoViewControler::setInfoMessage(const std::string& text) {
  if (messageTextView) messageTextView->setText(text);
  platform::UserDefaults::standard().setString(VXPreferencesLastInfoTextCache, text);
}

void VXInfoViewControler::loadAdd(const std::string& basePath, const std::string& readyKey,
                                  const std::optional<std::string>& defaultUrl) {
  if (!infoAdd) return;
  infoAdd->defaultUrl = defaultUrl;
  infoAdd->loadRichContent(basePath, readyKey);
}

void VXInfoViewControler::reportIssueButtonPressed() {
  auto alert = std::make_shared<AlertView>(
      AlertStyle::Alert, "Report Issue", "Launch Mail to email Vexel and include debug information?",
      std::string("Cancel"), std::vector<std::string>{"Yes"}, [](int index) {
        if (index != 0) VXUserFeedback::generateFeedbackEmailWithType(0);
      });
  alert->show();
}

void VXInfoViewControler::videoTutorialButtonPressed() {
  platform::UrlOpener::installed()->open(std::string(APP_REDIRECT_BASE) + APP_SERVER_LOCATION +
                                         "/tutorialvideo");
}

void VXInfoViewControler::webLinkPressed() {
  platform::UrlOpener::installed()->open(APP_HOME_PAGE);
}
