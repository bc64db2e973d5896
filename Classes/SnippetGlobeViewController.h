// The overlay above the globe: a name button that shows who plays the
// current snippet and opens a list of five filter buttons, a love and a skip
// button. It forwards the choices to the globe and shows what the globe
// tells it (FlameGlobeScreen).
//
// The list: closed, then (the name button) open, then (any button of the
// list, the name button included: its index, 0 for the name button, goes to
// the globe) closing, then (the globe's closeFilters, 0.15 s later) closed.
// While closing, presses are ignored.
//
// The screen is built in code (buildView): the name button across the top
// (fluvanename.png closed, fluvanename_top.png open), the five filters below
// it, hidden while the list is closed, and love and skip at the bottom.
// Tags: name 1, filters 2..6, love 7, skip 8.
//
// Threads: main thread only.
#ifndef CLASSES_SNIPPETGLOBEVIEWCONTROLLER_H
#define CLASSES_SNIPPETGLOBEVIEWCONTROLLER_H

#include <array>
#include <memory>
#include <string>

#include "Classes/FlameGlobe.h"
#include "platform/ui/Controls.h"
#include "vxu/ui/VXUIViewController.h"

class SnippetGlobeViewController : public VXUIViewController, public FlameGlobeScreen {
 public:
  static constexpr int kNameTag = 1;
  static constexpr int kFirstFilterTag = 2;
  static constexpr int kLoveTag = 7;
  static constexpr int kSkipTag = 8;
  // The filters' titles, buttons 1 to 5.
  static const std::array<const char*, 5> kFilterTitles;

  SnippetGlobeViewController();

  // Builds the overlay's view (320 x 480, clear, touches pass through where
  // it has no button) and connects the buttons.
  void buildView();
  void viewDidLoad();

  void lovePressed();
  void skipPressed();
  void filterPressed(const platform::ui::Control* sender);

  // FlameGlobeScreen
  void closeFilters() override;
  void setActiveFilter(int button) override;
  void setSnippetName(const std::string& name) override;

  void setGlobe(FlameGlobe* globe) { flameGlobe_ = globe; }
  bool shouldAutorotateToInterfaceOrientation(int orientation) const { return orientation == 1; }

  bool filtersVisible() const { return filtersVisible_; }
  bool closingFilters() const { return closingFilters_; }
  platform::ui::Button& nameButton() { return *nameTextField_; }
  platform::ui::Button& filter(int index) { return *filters_[index - 1]; }
  platform::ui::Button& loveButton() { return *love_; }
  platform::ui::Button& skipButton() { return *skip_; }
  platform::ui::ImageRef topImage() const { return topImage_; }
  platform::ui::ImageRef buttonImage() const { return buttonImage_; }

 private:
  void setNameBackground(const platform::ui::ImageRef& image);

  std::shared_ptr<platform::ui::Button> nameTextField_;
  std::array<std::shared_ptr<platform::ui::Button>, 5> filters_;
  std::shared_ptr<platform::ui::Button> love_;
  std::shared_ptr<platform::ui::Button> skip_;
  FlameGlobe* flameGlobe_ = nullptr;
  bool filtersVisible_ = false;
  bool closingFilters_ = false;
  platform::ui::ImageRef topImage_;
  platform::ui::ImageRef buttonImage_;
};

#endif
