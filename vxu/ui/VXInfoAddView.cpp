#include "vxu/ui/VXInfoAddView.h"

#include <numbers>

#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "vxu/VXLog.h"
#include "vxu/VXPreferences.h"

using namespace platform::ui;

namespace {

constexpr double kPi = std::numbers::pi;

bool startsWithNoCase(const std::string& text, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; i++) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool openServiceLink(const std::string& url) {
  if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) {
    VXLog::sharedVXLog().log("not opening '%s': only http and https links are opened",
                             url.c_str());
    return false;
  }
  std::string problem;
  if (!platform::UrlOpener::installed()->open(url, &problem)) {
    VXLog::sharedVXLog().log("cannot open '%s': %s", url.c_str(), problem.c_str());
    return false;
  }
  return true;
}

void VXRichView::loadRichContent(const std::string& basePath, const std::string& readyPrefKey) {
  if (!platform::UserDefaults::standard().boolForKey(readyPrefKey)) return;
  VXLog& log = VXLog::sharedVXLog();
  log.log("loading rich content from %s", basePath.c_str());
  std::optional<platform::plist::Value> text = platform::plist::read(basePath + ".txt");
  const platform::plist::Array* items = text ? text->asArray() : nullptr;
  if (!items || items->size() < 3 || !(*items)[0].asString() || !(*items)[1].asString() ||
      !(*items)[2].asString()) {
    log.log("loading rich content failed");
    return;
  }
  const std::string imagePath = basePath + ".png";
  richViewImage = platform::Paths::exists(imagePath) ? loadImage(imagePath) : nullptr;
  richViewTitle = *(*items)[0].asString();
  richViewBody = *(*items)[1].asString();
  richViewUrl = *(*items)[2].asString();
  if (richViewUrl->empty()) richViewUrl.reset();
  contentLoaded();
}

VXInfoAddView::VXInfoAddView(const Rect& frame) : VXRichView(frame) {}

void VXInfoAddView::contentLoaded() {
  if (!imageButton) return;
  imageButton->setImage(richViewImage, ControlState::Normal);
  imageButton->setImage(richViewImage, ControlState::Highlighted);
  if (viewTitle) viewTitle->setText(richViewTitle.value_or(""));
  if (viewBody) viewBody->setText(richViewBody.value_or(""));
}

void VXInfoAddView::buttonPressed() {
  const std::optional<std::string>& url = richViewUrl ? richViewUrl : defaultUrl;
  if (url && !url->empty()) openServiceLink(*url);
}

VXSplashView::VXSplashView(const Rect& frame) : View(frame) {}

std::string VXSplashView::splashScreenFilePath() {
  return platform::Paths::join(platform::Paths::documents(), "splash.png");
}

void VXSplashView::awakeFromNib() {
  if (platform::UserDefaults::standard().boolForKey(VXPreferencesUseServerSplashScreen) &&
      imageView) {
    const std::string path = splashScreenFilePath();
    if (platform::Paths::exists(path)) imageView->setImage(loadImage(path));
  }
  Application* app = Application::shared();
  if (app && app->statusBarOrientation() == 3) {
    setCenter({Application::kScreenWidth / 2, Application::kScreenHeight / 2});
    setTransform(AffineTransform::rotation(kPi / 2));
  }
}
