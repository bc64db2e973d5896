#include "vxu/ui/VXScreens.h"

#include <numbers>

#include "platform/ui/Toolbar.h"
#include "vxu/ui/VXButtonPicker.h"
#include "vxu/ui/VXTransparentButton.h"

using namespace platform::ui;

namespace {

constexpr double kPi = std::numbers::pi;
const Color kScreenColor{0.05, 0.08, 0.16, 0.96};

std::shared_ptr<Label> label(const Rect& frame, const std::string& text, const Font& font) {
  auto l = std::make_shared<Label>(frame);
  l->setText(text);
  l->setFont(font);
  l->setTextColor(Color::white());
  return l;
}

std::shared_ptr<VXTransparentButton> button(const Rect& frame, const std::string& title, int tag) {
  auto b = std::make_shared<VXTransparentButton>(frame);
  b->setTitle(title);
  b->setTag(tag);
  b->setFont(Font::boldSystemFont(14));
  return b;
}

}  // namespace

std::shared_ptr<Toolbar> makeToolbarBar(VXMainToolbar* toolbar, const Rect& frame,
                                        const std::vector<std::pair<std::string, int>>& items) {
  auto bar = std::make_shared<Toolbar>(frame);
  std::vector<std::shared_ptr<BarItem>> list;
  for (const auto& [title, tag] : items) {
    list.push_back(std::make_shared<BarItem>(
        title, tag, [toolbar](BarItem& item) { toolbar->toolbarButtonPressed(item.tag()); }));
  }
  bar->setItems(std::move(list));
  return bar;
}

std::shared_ptr<View> turnedBackForTopEdge(const std::shared_ptr<View>& bar) {
  const Rect frame = bar->frame();
  auto holder = std::make_shared<View>(frame);
  bar->setFrame(Rect(0, 0, frame.width(), frame.height()));
  bar->setTransform(AffineTransform::rotation(kPi));
  holder->addSubview(bar);
  return holder;
}

std::shared_ptr<VXMainToolbar> makeMainToolbar() {
  return makeMainToolbar({{"Info", kVXMsgOpenInfo},
                          {"Help", kVXMsgShowHelp},
                          {"Settings", kVXMsgOpenSettings},
                          {"Close", kVXMsgCollapseToolbar}});
}

std::shared_ptr<VXMainToolbar> makeMainToolbar(
    const std::vector<std::pair<std::string, int>>& items) {
  auto toolbar = std::make_shared<VXMainToolbar>(Rect(0, 436, 320, 44));
  VXMainToolbar* raw = toolbar.get();
  toolbar->collapsedButton = button(Rect(6, 6, 70, 32), "Menu", kVXMsgExpandToolbar);
  toolbar->collapsedButton->addTarget([raw](Control& c) { raw->toolbarButtonPressed(c.tag()); },
                                      kTouchUpInside);
  toolbar->expandedToolBar = makeToolbarBar(raw, Rect(0, 0, 320, 44), items);
  toolbar->addSubview(toolbar->expandedToolBar);
  toolbar->addSubview(toolbar->collapsedButton);
  toolbar->awakeFromNib();
  return toolbar;
}

std::unique_ptr<VXInfoViewControler> makeInfoScreen() {
  auto controller = std::make_unique<VXInfoViewControler>();
  VXInfoViewControler* raw = controller.get();
  auto view = std::make_shared<View>(Rect(0, 0, 320, 436));
  view->setBackgroundColor(kScreenColor);
  view->addSubview(label(Rect(12, 8, 296, 30), "Information", Font::boldSystemFont(20)));
  controller->messageTextView = std::make_shared<TextView>(Rect(12, 44, 296, 170));
  controller->messageTextView->setBackgroundColor(Color::white(0.9));
  view->addSubview(controller->messageTextView);
  // The rich-content panel: image button, title and body.
  auto add = std::make_shared<VXInfoAddView>(Rect(12, 222, 296, 110));
  add->imageButton = std::make_shared<Button>(Rect(0, 5, 100, 100));
  add->imageButton->addTarget([raw](Control&) {
    if (raw->infoAdd) raw->infoAdd->buttonPressed();
  }, kTouchUpInside);
  add->viewTitle = label(Rect(108, 0, 188, 26), "", Font::boldSystemFont(16));
  add->viewBody = label(Rect(108, 28, 188, 80), "", Font::systemFont(13));
  add->viewBody->setNumberOfLines(0);
  add->addSubview(add->imageButton);
  add->addSubview(add->viewTitle);
  add->addSubview(add->viewBody);
  controller->infoAdd = add;
  view->addSubview(add);
  auto report = button(Rect(12, 342, 140, 36), "Report Issue", 0);
  report->addTarget([raw](Control&) { raw->reportIssueButtonPressed(); }, kTouchUpInside);
  auto tutorial = button(Rect(168, 342, 140, 36), "Tutorial", 0);
  tutorial->addTarget([raw](Control&) { raw->videoTutorialButtonPressed(); }, kTouchUpInside);
  auto web = button(Rect(12, 388, 140, 36), "Web", 0);
  web->addTarget([raw](Control&) { raw->webLinkPressed(); }, kTouchUpInside);
  auto done = button(Rect(168, 388, 140, 36), "Done", kVXMsgCloseInfo);
  controller->connectButton(*done);
  for (auto& b : {report, tutorial, web, done}) view->addSubview(b);
  controller->setView(view);
  controller->awakeFromNib();
  return controller;
}

std::unique_ptr<VXImageSequenceController> makeHelpScreen() {
  auto controller = std::make_unique<VXImageSequenceController>();
  auto view = std::make_shared<View>(Rect(0, 0, 320, 480));
  view->setBackgroundColor(Color::black());
  controller->helpImageView = std::make_shared<ImageView>();
  controller->helpImageView->setFrame(Rect(0, 0, 320, 480));
  view->addSubview(controller->helpImageView);
  auto toolbar = std::make_shared<VXMainToolbar>(Rect(0, 0, 320, 44));
  auto holder = turnedBackForTopEdge(
      makeToolbarBar(toolbar.get(), Rect(0, 0, 320, 44),
                     {{"Back", kVXMsgPreviousImage}, {"Next", kVXMsgNextImage},
                      {"Done", kVXMsgFinishImageSequence}}));
  toolbar->expandedToolBar = holder;
  toolbar->addSubview(holder);
  view->addSubview(toolbar);
  toolbar->awakeFromNib();
  controller->view = view;
  controller->helpToolbar = toolbar;
  controller->awakeFromNib();
  return controller;
}

std::unique_ptr<VXUIViewController> makeSettingsScreen() {
  auto controller = std::make_unique<VXUIViewController>();
  auto view = std::make_shared<View>(Rect(0, 0, 320, 436));
  view->setBackgroundColor(kScreenColor);
  view->addSubview(label(Rect(12, 8, 296, 30), "Settings", Font::boldSystemFont(20)));
  view->addSubview(label(Rect(12, 50, 296, 24), "Key", Font::systemFont(15)));
  auto picker = std::make_shared<VXButtonPicker>(Rect(12, 78, 296, 40));
  picker->setList({std::string("C"), std::string("D"), std::string("E"), std::string("F")});
  picker->selectItem(0);
  view->addSubview(picker);
  auto done = button(Rect(168, 388, 140, 36), "Done", kVXMsgCloseSubView);
  controller->connectButton(*done);
  view->addSubview(done);
  controller->nameForStats = "settings";
  controller->setView(view);
  return controller;
}

std::shared_ptr<VXSplashView> makeSplashView() {
  auto splash = std::make_shared<VXSplashView>(Rect(0, 0, 320, 480));
  splash->setBackgroundColor(Color::black());
  splash->imageView = std::make_shared<ImageView>();
  splash->imageView->setFrame(Rect(0, 0, 320, 480));
  splash->addSubview(splash->imageView);
  splash->awakeFromNib();
  return splash;
}
