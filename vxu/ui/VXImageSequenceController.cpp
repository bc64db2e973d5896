#include "vxu/ui/VXImageSequenceController.h"

using namespace platform::ui;

void VXImageSequenceController::awakeFromNib() {
  if (helpToolbar) helpToolbar->msgDelegate = this;
  imagesArray.clear();
  currentImageIndex_ = -1;
}

void VXImageSequenceController::setImages(const std::string& prefix, const std::string& extension,
                                          int count) {
  imagesArray.clear();
  currentImageIndex_ = -1;
  for (int i = 0; i < count; i++) {
    imagesArray.push_back(resourceImageForScreen(prefix + std::to_string(i) + extension));
  }
  if (count <= 0) return;
  currentImageIndex_ = 0;
  updateHelpImageAndToolbar();
}

void VXImageSequenceController::viewWillAppear() {
  if (helpToolbar) {
    helpToolbar->setUILocation(1);
    helpToolbar->receiveMsg(kVXMsgExpandToolbar);
  }
  currentImageIndex_ = imagesArray.empty() ? -1 : 0;
  updateHelpImageAndToolbar();
}

void VXImageSequenceController::updateHelpImageAndToolbar() {
  if (helpToolbar) helpToolbar->isAnimated = false;
  bool shown = false;
  if (currentImageIndex_ >= 0 && static_cast<std::size_t>(currentImageIndex_) < imagesArray.size()) {
    ImageRef image = imagesArray[static_cast<std::size_t>(currentImageIndex_)];
    shown = image != nullptr;
    if (helpImageView) {
      helpImageView->setImage(image);
      helpImageView->setBackgroundColor(shown ? Color::black() : Color::clear());
    }
    if (msgDelegate) msgDelegate->receiveMsg(kVXMsgImageSequenceChanged);
  }
  updateUIBarItem(helpToolbar.get(), kVXMsgPreviousImage, shown && currentImageIndex_ > 0);
  updateUIBarItem(helpToolbar.get(), kVXMsgNextImage, shown);
}

void VXImageSequenceController::previousImage() {
  if (currentImageIndex_ > 0) {
    currentImageIndex_--;
    updateHelpImageAndToolbar();
  }
}

void VXImageSequenceController::nextImage() {
  if (currentImageIndex_ < 0) return;
  if (isOnLastImage()) {
    finishImageSequence();
    return;
  }
  currentImageIndex_++;
  updateHelpImageAndToolbar();
}

bool VXImageSequenceController::isOnLastImage() const {
  return static_cast<std::size_t>(currentImageIndex_ + 1) == imagesArray.size();
}

void VXImageSequenceController::finishImageSequence() {
  if (msgDelegate) msgDelegate->receiveMsg(kVXMsgImageSequenceFinished);
}

void VXImageSequenceController::receiveMsg(int code) {
  switch (code) {
    case kVXMsgFinishImageSequence:
      finishImageSequence();
      break;
    case kVXMsgPreviousImage:
      previousImage();
      break;
    case kVXMsgNextImage:
      nextImage();
      break;
    default:
      break;
  }
}
