// The information screen: the stored text, the configured addresses opened
// through the platform's opener, the help message, the tutorial's tap and
// the imagery's credit.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Classes/FluvaneConfig.h"
#include "Classes/FluvanePreferences.h"
#include "Classes/InfoViewController.h"
#include "platform/UrlOpener.h"
#include "vxu/ui/vxu_ui_test_support.h"

namespace {

struct Messages : MessageHandlerDelegate {
  std::vector<int> codes;
  void receiveMsg(int code) override { codes.push_back(code); }
};

class InfoScreen : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    previous = platform::UrlOpener::install(opener);
    FluvanePreferences::standardFluvanePreferences().setInfoBoxText("Stored text");
    info = std::make_unique<InfoViewController>();
    info->msgDelegate = &messages;
    window().addSubview(info->view());
  }
  void TearDown() override {
    info.reset();
    platform::UrlOpener::install(previous);
    FrameworkUiTest::TearDown();
  }

  std::shared_ptr<platform::RecordingUrlOpener> opener =
      std::make_shared<platform::RecordingUrlOpener>();
  std::shared_ptr<platform::UrlOpener> previous;
  Messages messages;
  std::unique_ptr<InfoViewController> info;
};

}  // namespace

TEST_F(InfoScreen, StartsTransparentWithTheStoredText) {
  EXPECT_EQ(info->infoView().alpha(), 0.0);
  EXPECT_EQ(info->tutorialView().alpha(), 0.0);
  EXPECT_EQ(info->genericTextView().text(), "Stored text");
  info->setInfoMessage("News");
  EXPECT_EQ(info->genericTextView().text(), "News");
  EXPECT_EQ(FluvanePreferences::standardFluvanePreferences().infoBoxText(), "News");
  EXPECT_NE(ui().viewTree().find("NASA Visible Earth"), std::string::npos);
}

TEST_F(InfoScreen, ButtonsOpenTheConfiguredAddressesAndTheHelp) {
  info->infoView().setAlpha(1);
  const int tags[] = {InfoViewController::kVideoTag, InfoViewController::kProductPageTag,
                      InfoViewController::kHowToPlayTag};
  for (int tag : tags) {
    platform::ui::View* v = ui().findByTag(tag);
    ASSERT_NE(v, nullptr);
    const platform::ui::Rect b = v->bounds();
    const platform::ui::Point c =
        v->convertTo(platform::ui::Point{b.x() + b.width() / 2, b.y() + b.height() / 2}, nullptr);
    ui().tap(c.x, c.y);
  }
  EXPECT_EQ(opener->urls(), (std::vector<std::string>{"https://fluvane.org/redirect/fluvane/"
                                                      "tutorialvideo",
                                                      FLUVANE_PRODUCT_PAGE}));
  EXPECT_EQ(messages.codes, std::vector<int>{kVXMsgShowHelp});
}

TEST_F(InfoScreen, ATapOnTheTutorialShowsTheInformation) {
  info->tutorialView().setAlpha(1);
  ui().tap(160, 200);
  ui().advance(1.0);
  EXPECT_EQ(info->infoView().alpha(), 1.0);
  EXPECT_TRUE(info->tutorialView().superview() == nullptr || info->tutorialView().alpha() == 0.0);
}
