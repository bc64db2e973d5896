// The UI kit's controls and simple views: Control (target-action), Button,
// Label, ImageView, TextView and TextField.
//
// A Control tracks the touch that began on it: touch down when it begins
// (highlighted), highlighted while the touch stays within 30 points of its
// bounds, touch up inside when it ends there, nothing when it is
// cancelled. A disabled control takes no touches. Actions are plain
// functions registered for a set of events and called with the control.
//
// Button: title, title colour and image per state (normal, highlighted,
// disabled, selected; a state without its own falls back to normal), a
// font (bold 15 by default); the image is drawn fitted into the bounds, the
// title centred over it. showsTouchWhenHighlighted adds a soft glow.
// Label: text in a font and colour, aligned, wrapped by words when
// numberOfLines is 0 (one line otherwise), centred vertically.
// ImageView: an image scaled to its bounds. TextView: plain text wrapped to
// its width that scrolls when dragged (bounds origin = scroll offset).
// TextField: one line of text typed through SDL's text input while it is
// the first responder (a touch makes it so); secure entry shows dots;
// Return ends editing and tells onReturn.
//
// Images are premultiplied RGBA8 (platform::gfx::Image), shared.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_CONTROLS_H
#define PLATFORM_UI_CONTROLS_H

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gfx/Image.h"
#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace platform::ui {

using ImageRef = std::shared_ptr<const gfx::Image>;
// The image in a file (nothing, logged, when it cannot be read).
ImageRef loadImage(const std::string& path);
// A file of the resources ("bundle") by name.
ImageRef resourceImage(const std::string& name);
// The same drawn for a screen of scale pixels a point: the resource's
// "@2x" or "@3x" variant ("help2@2x.png" for "help2.png") for the scale
// rounded up (at most 3), else the next smaller one, else the name itself.
// Whoever shows it fits it into its frame, so it stays as large.
ImageRef resourceImage(const std::string& name, double scale);
// For the host's screen (scale 1 without a host).
ImageRef resourceImageForScreen(const std::string& name);

enum ControlEvent : unsigned {
  kTouchDown = 1u << 0,
  kTouchUpInside = 1u << 6,
  kTouchUpOutside = 1u << 7,
  kTouchCancel = 1u << 8,
  kValueChanged = 1u << 12,
};

enum class ControlState { Normal, Highlighted, Disabled, Selected };

class Control : public View {
 public:
  using Action = std::function<void(Control&)>;
  using View::View;
  std::string className() const override { return "Control"; }

  bool enabled() const { return enabled_; }
  virtual void setEnabled(bool on);
  bool highlighted() const { return highlighted_; }
  virtual void setHighlighted(bool on);
  bool tracking() const { return tracking_; }
  ControlState state() const;

  void addTarget(Action action, unsigned events);
  void sendActionsForControlEvents(unsigned events);

  View* hitTest(Point p) override;
  void touchesBegan(const Touches& touches) override;
  void touchesMoved(const Touches& touches) override;
  void touchesEnded(const Touches& touches) override;
  void touchesCancelled(const Touches& touches) override;

 protected:
  bool touchInside(const Touch* touch) const;

 private:
  bool enabled_ = true;
  bool highlighted_ = false;
  bool tracking_ = false;
  std::vector<std::pair<unsigned, Action>> actions_;
};

class Button : public Control {
 public:
  using Control::Control;
  std::string className() const override { return "Button"; }
  std::string describe() const override { return currentTitle(); }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;
  void setEnabled(bool on) override;
  void setHighlighted(bool on) override;

  void setTitle(const std::optional<std::string>& title, ControlState state = ControlState::Normal);
  std::optional<std::string> title(ControlState state) const;
  std::string currentTitle() const;
  void setTitleColor(Color color, ControlState state = ControlState::Normal);
  Color currentTitleColor() const;
  void setImage(ImageRef image, ControlState state = ControlState::Normal);
  ImageRef image(ControlState state) const;
  ImageRef currentImage() const;
  void setFont(const Font& font);
  const Font& font() const { return font_; }
  void setShowsTouchWhenHighlighted(bool on) { showsTouch_ = on; }
  // Room the title keeps from the left and right edges (an image's arrow,
  // say): it is centred in what is left (titleRoom()).
  void setTitleInsets(double left, double right);
  Rect titleRoom() const;
  // A title wider than its room is drawn smaller, down to
  // kSmallestTitleShare of the font's size (off by default).
  static constexpr double kSmallestTitleShare = 0.6;
  void setShrinksTitleToFit(bool on);
  // The font the current title is drawn with at a scale.
  Font titleFont(double scale) const;

 protected:
  // Draws the image and the title (the base's part of drawRect).
  void drawImageAndTitle(Canvas& canvas, const Rect& bounds);

 private:
  std::map<ControlState, std::optional<std::string>> titles_;
  std::map<ControlState, Color> titleColors_;
  std::map<ControlState, ImageRef> images_;
  Font font_ = Font::boldSystemFont(15);
  bool showsTouch_ = false;
  double titleLeft_ = 0, titleRight_ = 0;
  bool shrinksTitle_ = false;
};

enum class TextAlignment { Left, Center, Right };

class Label : public View {
 public:
  using View::View;
  std::string className() const override { return "Label"; }
  std::string describe() const override { return text_; }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;

  const std::string& text() const { return text_; }
  void setText(const std::string& text);
  void setFont(const Font& font);
  const Font& font() const { return font_; }
  void setTextColor(Color color);
  void setTextAlignment(TextAlignment alignment);
  // 0: as many lines as the text needs, wrapped by words.
  void setNumberOfLines(int lines);
  int numberOfLines() const { return lines_; }

 private:
  std::string text_;
  Font font_ = Font::systemFont(17);
  Color color_ = Color::black();
  TextAlignment alignment_ = TextAlignment::Left;
  int lines_ = 1;
};

class ImageView : public View {
 public:
  using View::View;
  explicit ImageView(ImageRef image);
  std::string className() const override { return "ImageView"; }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;
  ImageRef image() const { return image_; }
  void setImage(ImageRef image);

 private:
  ImageRef image_;
};

class TextView : public View {
 public:
  explicit TextView(const Rect& frame = Rect());
  std::string className() const override { return "TextView"; }
  std::string describe() const override { return text_; }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;
  void touchesMoved(const Touches& touches) override;

  const std::string& text() const { return text_; }
  void setText(const std::string& text);
  void setFont(const Font& font);
  void setTextColor(Color color);
  // Height of the wrapped text, in points.
  double contentHeight() const;
  // Scrolls so that the offset's point is at the top (kept within the text).
  void setContentOffset(double y);
  double contentOffset() const { return bounds().y(); }

 private:
  std::string text_;
  Font font_ = Font::systemFont(15);
  Color color_ = Color::black();
};

class TextField : public Control {
 public:
  using Control::Control;
  ~TextField() override;
  std::string className() const override { return "TextField"; }
  std::string describe() const override { return displayText(); }
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;
  void touchesEnded(const Touches& touches) override;

  const std::string& text() const { return text_; }
  void setText(const std::string& text);
  void setPlaceholder(const std::string& text);
  const std::string& placeholder() const { return placeholder_; }
  void setFont(const Font& font);
  const Font& font() const { return font_; }
  void setTextColor(Color color);
  void setSecureTextEntry(bool on);
  bool secureTextEntry() const { return secure_; }
  // What is drawn: the text, or a dot per character for secure entry.
  std::string displayText() const;

  // Editing: typing goes here while it is the first responder.
  virtual bool becomeFirstResponder();
  void resignFirstResponder();
  bool isFirstResponder() const;
  void insertText(const std::string& text);
  void deleteBackward();
  // Replaces length characters from location (both counted in characters,
  // clamped to the text) with text, as a paste into a selection does.
  void replaceCharacters(std::size_t location, std::size_t length, const std::string& text);
  void returnPressed();
  std::function<void(TextField&)> onReturn;
  std::function<void(TextField&)> onChange;
  // Asked before every change (typing appends at the end, a deletion takes
  // the last character): the range in characters and the new text; false
  // refuses the change.
  std::function<bool(TextField&, std::size_t location, std::size_t length,
                     const std::string& replacement)>
      shouldChangeCharacters;

  // The field being edited now, or null.
  static TextField* firstResponder();

 private:
  std::string text_;
  std::string placeholder_;
  Font font_ = Font::systemFont(17);
  Color color_ = Color::black();
  bool secure_ = false;
};

}  // namespace platform::ui

#endif
