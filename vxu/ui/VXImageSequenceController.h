// The help pages: a sequence of resource images ("<prefix><i><ext>", each
// in the variant drawn for the screen's scale when there is one, so a page
// is as sharp as the window) stepped through with a toolbar of its own
// (1100 previous, 1101 next,
// 200 done). An image that cannot be read keeps its place and shows an
// empty, transparent page. Next on the last page, or done, tells the
// message delegate 300; each page shown tells it 301.
//
// Threads: main thread only.
#ifndef VXU_UI_VXIMAGESEQUENCECONTROLLER_H
#define VXU_UI_VXIMAGESEQUENCECONTROLLER_H

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXMainToolbar.h"
#include "vxu/ui/VXUIUtils.h"

class VXImageSequenceController : public MessageHandlerDelegate {
 public:
  VXImageSequenceController() = default;

  void awakeFromNib();
  void setImages(const std::string& prefix, const std::string& extension, int count);
  void viewWillAppear();
  void updateHelpImageAndToolbar();
  void previousImage();
  void nextImage();
  bool isOnLastImage() const;
  void finishImageSequence();
  void receiveMsg(int code) override;
  int currentImageIndex() const { return currentImageIndex_; }
  std::size_t imageCount() const { return imagesArray.size(); }

  std::shared_ptr<platform::ui::View> view;
  std::shared_ptr<VXMainToolbar> helpToolbar;
  std::shared_ptr<platform::ui::ImageView> helpImageView;
  MessageHandlerDelegate* msgDelegate = nullptr;
  std::vector<platform::ui::ImageRef> imagesArray;  // null: no image

 private:
  int currentImageIndex_ = -1;
};

#endif
