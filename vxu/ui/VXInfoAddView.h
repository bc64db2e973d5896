// Views of content the web service delivered earlier and the application
// stored in its Documents directory.
//
// VXRichView reads rich content for a base path P: "P.txt" (a property-list
// array whose first three entries are the title, the body and the link, all
// strings) and "P.png" (the image), but only while the user-defaults flag
// named by the caller says the files are ready. A text file that cannot be
// read or holds fewer than three strings leaves the content as it was
// ("loading rich content failed"). VXInfoAddView shows it as an image
// button with a title and a body label; a press opens the link, else the
// default link, in the browser.
//
// VXSplashView shows the stored splash image ("splash.png" in Documents)
// when "VXPreferencesUseServerSplashScreen" says it is ready.
//
// Links from the service open only when they are http or https URLs;
// images larger than 4096 x 4096 are refused before they are decoded.
//
// Threads: main thread only.
#ifndef VXU_UI_VXINFOADDVIEW_H
#define VXU_UI_VXINFOADDVIEW_H

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Controls.h"

// Opens an http or https link in the browser; anything else is refused
// (logged). True when it was handed on.
bool openServiceLink(const std::string& url);

class VXRichView : public platform::ui::View {
 public:
  using View::View;
  std::string className() const override { return "VXRichView"; }

  void loadRichContent(const std::string& basePath, const std::string& readyPrefKey);
  virtual void contentLoaded() {}

  platform::ui::ImageRef richViewImage;
  std::optional<std::string> richViewTitle;
  std::optional<std::string> richViewBody;
  std::optional<std::string> richViewUrl;
  std::optional<std::string> defaultUrl;
};

class VXInfoAddView : public VXRichView {
 public:
  explicit VXInfoAddView(const platform::ui::Rect& frame = platform::ui::Rect());
  std::string className() const override { return "VXInfoAddView"; }
  void contentLoaded() override;
  void buttonPressed();

  std::shared_ptr<platform::ui::Button> imageButton;
  std::shared_ptr<platform::ui::Label> viewTitle;
  std::shared_ptr<platform::ui::Label> viewBody;
};

class VXSplashView : public platform::ui::View {
 public:
  explicit VXSplashView(const platform::ui::Rect& frame = platform::ui::Rect());
  std::string className() const override { return "VXSplashView"; }
  static std::string splashScreenFilePath();
  void awakeFromNib();

  std::shared_ptr<platform::ui::ImageView> imageView;
  std::shared_ptr<platform::ui::TextView> messageTextView;
};

#endif
