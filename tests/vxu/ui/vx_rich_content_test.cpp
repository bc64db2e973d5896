// Rich-content and splash views: the ready flag, the content file's shape,
// links (default, and only http or https), oversized images.
#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "platform/Plist.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "vxu/vx_log_capture.h"
#include "vxu/ui/VXInfoAddView.h"
#include "vxu/VXPreferences.h"
#include "vxu/ui/VXScreens.h"
#include "vxu_ui_test_support.h"

using namespace platform::ui;
using platform::plist::Value;

namespace {

const char* const kReady = "TestRichContentReady";

class RichContentTest : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    base = platform::Paths::join(platform::Paths::home(), "rich");
    platform::UserDefaults::standard().setBool(kReady, true);
    opener = std::make_shared<platform::RecordingUrlOpener>();
    previous = platform::UrlOpener::install(opener);
    view = std::make_shared<VXInfoAddView>(Rect(0, 0, 300, 110));
    view->imageButton = std::make_shared<Button>(Rect(0, 0, 100, 100));
    view->viewTitle = std::make_shared<Label>(Rect(100, 0, 200, 20));
    view->viewBody = std::make_shared<Label>(Rect(100, 20, 200, 80));
  }
  void TearDown() override {
    platform::UrlOpener::install(previous);
    platform::UserDefaults::standard().removeObject(kReady);
    FrameworkUiTest::TearDown();
  }
  void writeText(std::vector<std::string> items) {
    platform::plist::Array array;
    for (auto& item : items) array.push_back(Value::string(item));
    ASSERT_TRUE(platform::plist::writeAtomic(base + ".txt", Value::array(array)));
  }

  std::string base;
  std::shared_ptr<platform::RecordingUrlOpener> opener;
  std::shared_ptr<platform::UrlOpener> previous;
  std::shared_ptr<VXInfoAddView> view;
};

}  // namespace

TEST_F(RichContentTest, LoadsImageTitleBodyAndLink) {
  ScopedResources images;
  const std::string png = images.addImage("x.png", 4, 4, 255);
  platform::Paths::copy(png, base + ".png");
  writeText({"Title", "Body text", "https://example.org/a"});
  const auto lines = printed_lines([&] { view->loadRichContent(base, kReady); });
  EXPECT_EQ(lines, (std::vector<std::string>{"loading rich content from " + base}));
  EXPECT_EQ(view->viewTitle->text(), "Title");
  EXPECT_EQ(view->viewBody->text(), "Body text");
  ASSERT_NE(view->imageButton->image(ControlState::Normal), nullptr);
  EXPECT_EQ(view->imageButton->image(ControlState::Highlighted)->width, 4);
  view->buttonPressed();
  EXPECT_EQ(opener->urls(), (std::vector<std::string>{"https://example.org/a"}));
}

TEST_F(RichContentTest, NothingIsReadWhileTheFlagIsUnset) {
  writeText({"Title", "Body", "https://example.org"});
  platform::UserDefaults::standard().setBool(kReady, false);
  const auto lines = printed_lines([&] { view->loadRichContent(base, kReady); });
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(view->richViewTitle.has_value());
}

TEST_F(RichContentTest, AShortContentFileIsRefused) {
  writeText({"Title", "Body", "https://example.org/first"});
  view->loadRichContent(base, kReady);
  writeText({"Other", "Body"});
  const auto lines = printed_lines([&] { view->loadRichContent(base, kReady); });
  EXPECT_EQ(lines.back(), "loading rich content failed");
  EXPECT_EQ(view->richViewTitle, "Title");
  EXPECT_EQ(view->viewTitle->text(), "Title");
}

TEST_F(RichContentTest, LinksDefaultAndOnlyWeb) {
  struct Case {
    std::string link;
    std::optional<std::string> fallback;
    std::vector<std::string> opened;
  };
  const Case cases[] = {
      {"", std::string("https://fluvane.org/"), {"https://fluvane.org/"}},
      {"HTTP://example.org/x", std::nullopt, {"HTTP://example.org/x"}},
      {"mailto:someone@example.org", std::string("https://fluvane.org/"), {}},
      {"file:///etc/passwd", std::nullopt, {}},
      {"", std::nullopt, {}},
  };
  for (const Case& k : cases) {
    auto fresh = std::make_shared<platform::RecordingUrlOpener>();
    platform::UrlOpener::install(fresh);
    writeText({"T", "B", k.link});
    view->richViewUrl.reset();
    view->defaultUrl = k.fallback;
    view->loadRichContent(base, kReady);
    view->buttonPressed();
    EXPECT_EQ(fresh->urls(), k.opened) << k.link;
  }
}

TEST_F(RichContentTest, OversizedImagesAreRefusedBeforeDecoding) {
  // A PNG whose header claims 5000 x 5000 pixels (no pixel data follows).
  std::string png("\x89PNG\r\n\x1a\n", 8);
  const unsigned char ihdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0x13, 0x88, 0, 0, 0x13,
                                0x88, 8, 6, 0, 0, 0, 0, 0, 0, 0};
  png.append(reinterpret_cast<const char*>(ihdr), sizeof ihdr);
  ASSERT_TRUE(platform::Paths::writeAtomic(base + ".png", png));
  writeText({"T", "B", "https://example.org"});
  view->loadRichContent(base, kReady);
  EXPECT_EQ(view->viewTitle->text(), "T");
  EXPECT_EQ(view->richViewImage, nullptr);
}

TEST_F(RichContentTest, SplashShowsTheStoredImage) {
  ScopedResources images;
  platform::Paths::mkdirs(platform::Paths::documents());
  platform::Paths::remove(VXSplashView::splashScreenFilePath());
  platform::Paths::copy(images.addImage("s.png", 2, 3, 10), VXSplashView::splashScreenFilePath());
  platform::UserDefaults::standard().setBool(VXPreferencesUseServerSplashScreen, false);
  EXPECT_EQ(makeSplashView()->imageView->image(), nullptr);
  platform::UserDefaults::standard().setBool(VXPreferencesUseServerSplashScreen, true);
  auto splash = makeSplashView();
  ASSERT_NE(splash->imageView->image(), nullptr);
  EXPECT_EQ(splash->imageView->image()->height, 3);
  platform::UserDefaults::standard().removeObject(VXPreferencesUseServerSplashScreen);
  EXPECT_EQ(VXSplashView::splashScreenFilePath(),
            platform::Paths::join(platform::Paths::documents(), "splash.png"));
}
