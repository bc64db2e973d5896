#include "platform/ui/Controls.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Paths.h"
#include "platform/ui/Application.h"

namespace platform::ui {

namespace {

constexpr double kTrackingSlop = 30.0;
TextField* g_firstResponder = nullptr;

// Number of UTF-8 characters.
std::size_t characters(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) n++;
  }
  return n;
}

double alignedX(TextAlignment alignment, const Rect& box, double width) {
  switch (alignment) {
    case TextAlignment::Left:
      return box.minX();
    case TextAlignment::Center:
      return box.midX() - width / 2;
    case TextAlignment::Right:
      return box.maxX() - width;
  }
  return box.minX();
}

}  // namespace

ImageRef loadImage(const std::string& path) {
  std::string error;
  std::optional<gfx::Image> image = gfx::Image::load(path, &error);
  if (!image) {
    std::fprintf(stderr, "image %s: %s\n", path.c_str(), error.c_str());
    return nullptr;
  }
  return std::make_shared<const gfx::Image>(std::move(*image));
}

ImageRef resourceImage(const std::string& name) {
  const std::string path = Paths::join(Paths::resources(), name);
  if (!Paths::exists(path)) return nullptr;
  return loadImage(path);
}

ImageRef resourceImage(const std::string& name, double scale) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  const int largest = std::isfinite(scale) ? std::clamp(static_cast<int>(std::ceil(scale - 1e-9)), 1, 3) : 1;
  for (int factor = largest; factor >= 2; factor--) {
    const std::string variant = stem + "@" + std::to_string(factor) + "x" + extension;
    if (Paths::exists(Paths::join(Paths::resources(), variant))) return resourceImage(variant);
  }
  return resourceImage(name);
}

ImageRef resourceImageForScreen(const std::string& name) {
  const Application* host = Application::shared();
  return resourceImage(name, host ? host->scale() : 1.0);
}

// --- Control ----------------------------------------------------------------

void Control::setEnabled(bool on) {
  if (enabled_ == on) return;
  enabled_ = on;
  if (!on) highlighted_ = false;
  setNeedsDisplay();
}

void Control::setHighlighted(bool on) {
  if (highlighted_ == on) return;
  highlighted_ = on;
  setNeedsDisplay();
}

ControlState Control::state() const {
  if (!enabled_) return ControlState::Disabled;
  if (highlighted_) return ControlState::Highlighted;
  return ControlState::Normal;
}

void Control::addTarget(Action action, unsigned events) {
  actions_.push_back({events, std::move(action)});
}

void Control::sendActionsForControlEvents(unsigned events) {
  // The actions may change the list (or drop the control): work on a copy
  // and keep the control alive.
  std::shared_ptr<View> keep = weak_from_this().lock();
  std::vector<std::pair<unsigned, Action>> actions = actions_;
  for (auto& [mask, action] : actions) {
    if ((mask & events) && action) action(*this);
  }
}

View* Control::hitTest(Point p) {
  if (!enabled_) {
    View* hit = View::hitTest(p);
    return hit == this ? nullptr : hit;
  }
  return View::hitTest(p);
}

bool Control::touchInside(const Touch* touch) const {
  const Point p = touch->locationIn(this);
  return p.x >= bounds().minX() - kTrackingSlop && p.x <= bounds().maxX() + kTrackingSlop &&
         p.y >= bounds().minY() - kTrackingSlop && p.y <= bounds().maxY() + kTrackingSlop;
}

void Control::touchesBegan(const Touches& touches) {
  if (!enabled_ || touches.empty()) return;
  tracking_ = true;
  setHighlighted(true);
  sendActionsForControlEvents(kTouchDown);
}

void Control::touchesMoved(const Touches& touches) {
  if (!tracking_ || touches.empty()) return;
  setHighlighted(touchInside(touches.front()));
}

void Control::touchesEnded(const Touches& touches) {
  if (!tracking_ || touches.empty()) return;
  tracking_ = false;
  const bool inside = touchInside(touches.front());
  setHighlighted(false);
  sendActionsForControlEvents(inside ? kTouchUpInside : kTouchUpOutside);
}

void Control::touchesCancelled(const Touches&) {
  if (!tracking_) return;
  tracking_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(kTouchCancel);
}

// --- Button -----------------------------------------------------------------

void Button::setEnabled(bool on) { Control::setEnabled(on); }

void Button::setHighlighted(bool on) { Control::setHighlighted(on); }

void Button::setTitle(const std::optional<std::string>& title, ControlState state) {
  titles_[state] = title;
  setNeedsDisplay();
}

std::optional<std::string> Button::title(ControlState state) const {
  auto found = titles_.find(state);
  if (found != titles_.end() && (found->second || state == ControlState::Normal)) {
    return found->second;
  }
  if (state != ControlState::Normal) return title(ControlState::Normal);
  return std::nullopt;
}

std::string Button::currentTitle() const { return title(state()).value_or(""); }

void Button::setTitleColor(Color color, ControlState state) {
  titleColors_[state] = color;
  setNeedsDisplay();
}

Color Button::currentTitleColor() const {
  auto found = titleColors_.find(state());
  if (found != titleColors_.end()) return found->second;
  found = titleColors_.find(ControlState::Normal);
  return found != titleColors_.end() ? found->second : Color::white();
}

void Button::setImage(ImageRef image, ControlState state) {
  images_[state] = std::move(image);
  setNeedsDisplay();
}

ImageRef Button::image(ControlState state) const {
  auto found = images_.find(state);
  if (found != images_.end() && found->second) return found->second;
  if (state != ControlState::Normal) return image(ControlState::Normal);
  return nullptr;
}

ImageRef Button::currentImage() const { return image(state()); }

void Button::setFont(const Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void Button::drawImageAndTitle(Canvas& canvas, const Rect& bounds) {
  if (ImageRef img = currentImage(); img && img->width > 0 && img->height > 0) {
    // Fitted into the bounds, keeping its shape.
    const double s = std::min(bounds.width() / img->width, bounds.height() / img->height);
    const double w = img->width * s, h = img->height * s;
    canvas.drawImage(img->pixels.data(), img->width, img->height,
                     Rect(bounds.midX() - w / 2, bounds.midY() - h / 2, w, h));
  }
  if (showsTouch_ && highlighted()) {
    canvas.setFillColor(Color::white(0.35));
    canvas.fillRect(bounds.insetBy(bounds.width() / 4, bounds.height() / 4));
  }
  const std::string text = currentTitle();
  if (!text.empty()) {
    const Font font = titleFont(canvas.scale());
    const Size size = font.measure(text, canvas.scale());
    const Rect room = titleRoom();
    canvas.drawText(text, font, {room.midX() - size.width / 2, room.midY() - size.height / 2},
                    currentTitleColor());
  }
}

void Button::setTitleInsets(double left, double right) {
  titleLeft_ = std::max(0.0, left);
  titleRight_ = std::max(0.0, right);
  setNeedsDisplay();
}

Rect Button::titleRoom() const {
  const Rect b = bounds();
  return Rect(b.minX() + titleLeft_, b.minY(),
              std::max(0.0, b.width() - titleLeft_ - titleRight_), b.height());
}

void Button::setShrinksTitleToFit(bool on) {
  shrinksTitle_ = on;
  setNeedsDisplay();
}

Font Button::titleFont(double scale) const {
  const std::string text = currentTitle();
  const double room = titleRoom().width();
  if (!shrinksTitle_ || text.empty() || room <= 0) return font_;
  Font font = font_;
  // Half a point at a time, as long as the title is too wide.
  while (font.measure(text, scale).width > room &&
         font.pointSize() - 0.5 >= font_.pointSize() * kSmallestTitleShare) {
    font = Font(font.pointSize() - 0.5, font.bold());
  }
  return font;
}

void Button::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  drawImageAndTitle(canvas, bounds);
}

// --- Label ------------------------------------------------------------------

void Label::setText(const std::string& text) {
  text_ = text;
  setNeedsDisplay();
}

void Label::setFont(const Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void Label::setTextColor(Color color) {
  color_ = color;
  setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
  lines_ = std::max(0, lines);
  setNeedsDisplay();
}

void Label::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  if (text_.empty()) return;
  const double scale = canvas.scale();
  std::vector<std::string> lines;
  if (lines_ == 1) {
    lines.push_back(text_);
  } else {
    lines = font_.wrap(text_, bounds.width(), scale);
    if (lines_ > 0 && lines.size() > static_cast<std::size_t>(lines_)) lines.resize(lines_);
  }
  const double lineHeight = font_.lineHeight(scale);
  // Lines that do not fit the height are left out.
  const std::size_t fit =
      lineHeight > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(bounds.height() / lineHeight))
                     : lines.size();
  if (lines.size() > fit) lines.resize(fit);
  double y = bounds.midY() - lineHeight * lines.size() / 2;
  for (const std::string& line : lines) {
    const double w = font_.measure(line, scale).width;
    canvas.drawText(line, font_, {alignedX(alignment_, bounds, w), y}, color_);
    y += lineHeight;
  }
}

// --- ImageView --------------------------------------------------------------

ImageView::ImageView(ImageRef image) : View(Rect()) {
  if (image) setFrame(Rect(0, 0, image->width, image->height));
  image_ = std::move(image);
}

void ImageView::setImage(ImageRef image) {
  image_ = std::move(image);
  setNeedsDisplay();
}

void ImageView::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  if (image_ && image_->width > 0 && image_->height > 0) {
    canvas.drawImage(image_->pixels.data(), image_->width, image_->height, bounds);
  }
}

// --- TextView ---------------------------------------------------------------

TextView::TextView(const Rect& frame) : View(frame) { setBackgroundColor(Color::white()); }

void TextView::setText(const std::string& text) {
  text_ = text;
  setContentOffset(0);
  setNeedsDisplay();
}

void TextView::setFont(const Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void TextView::setTextColor(Color color) {
  color_ = color;
  setNeedsDisplay();
}

double TextView::contentHeight() const {
  const double scale = 2.0;  // measuring only; wrapping hardly depends on it
  const auto lines = font_.wrap(text_, std::max(0.0, bounds().width() - 16), scale);
  return lines.size() * font_.lineHeight(scale) + 16;
}

void TextView::setContentOffset(double y) {
  const double most = std::max(0.0, contentHeight() - bounds().height());
  Rect b = bounds();
  b.origin.y = std::clamp(y, 0.0, most);
  if (b.origin != bounds().origin) {
    setBounds(b);
    setNeedsDisplay();
  }
}

void TextView::touchesMoved(const Touches& touches) {
  if (touches.empty()) return;
  const Touch* t = touches.front();
  setContentOffset(contentOffset() - (t->location.y - t->previousLocation.y));
}

void TextView::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  const double scale = canvas.scale();
  const double lineHeight = font_.lineHeight(scale);
  double y = 8;
  for (const std::string& line : font_.wrap(text_, std::max(0.0, bounds.width() - 16), scale)) {
    if (y + lineHeight >= bounds.minY() && y <= bounds.maxY()) {
      canvas.drawText(line, font_, {8, y}, color_);
    }
    y += lineHeight;
  }
}

// --- TextField --------------------------------------------------------------

TextField::~TextField() {
  if (g_firstResponder == this) g_firstResponder = nullptr;
}

TextField* TextField::firstResponder() { return g_firstResponder; }

void TextField::setText(const std::string& text) {
  text_ = text;
  setNeedsDisplay();
}

void TextField::setPlaceholder(const std::string& text) {
  placeholder_ = text;
  setNeedsDisplay();
}

void TextField::setFont(const Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void TextField::setTextColor(Color color) {
  color_ = color;
  setNeedsDisplay();
}

void TextField::setSecureTextEntry(bool on) {
  secure_ = on;
  setNeedsDisplay();
}

std::string TextField::displayText() const {
  if (!secure_) return text_;
  std::string dots;
  for (std::size_t i = 0, n = characters(text_); i < n; i++) dots += "\xE2\x80\xA2";
  return dots;
}

bool TextField::becomeFirstResponder() {
  if (!enabled()) return false;
  if (g_firstResponder && g_firstResponder != this) g_firstResponder->resignFirstResponder();
  g_firstResponder = this;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_StartTextInput();
  setNeedsDisplay();
  return true;
}

void TextField::resignFirstResponder() {
  if (g_firstResponder != this) return;
  g_firstResponder = nullptr;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_StopTextInput();
  setNeedsDisplay();
}

bool TextField::isFirstResponder() const { return g_firstResponder == this; }

namespace {

// Characters (code points) of UTF-8 text, and the byte offset of one.
std::size_t utf8Length(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) n++;
  }
  return n;
}

std::size_t utf8Offset(const std::string& text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); i++) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == characters) return i;
      seen++;
    }
  }
  return text.size();
}

}  // namespace

void TextField::insertText(const std::string& text) {
  // Control characters never enter a one-line field.
  std::string clean;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) clean += c;
  }
  if (clean.empty()) return;
  replaceCharacters(utf8Length(text_), 0, clean);
}

void TextField::deleteBackward() {
  const std::size_t length = utf8Length(text_);
  if (length == 0) return;
  replaceCharacters(length - 1, 1, "");
}

void TextField::replaceCharacters(std::size_t location, std::size_t length,
                                  const std::string& text) {
  std::string clean;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) clean += c;
  }
  const std::size_t total = utf8Length(text_);
  location = std::min(location, total);
  length = std::min(length, total - location);
  if (length == 0 && clean.empty()) return;
  if (shouldChangeCharacters && !shouldChangeCharacters(*this, location, length, clean)) return;
  const std::size_t from = utf8Offset(text_, location);
  const std::size_t to = utf8Offset(text_, location + length);
  text_.replace(from, to - from, clean);
  setNeedsDisplay();
  if (onChange) onChange(*this);
}

void TextField::returnPressed() {
  resignFirstResponder();
  if (onReturn) onReturn(*this);
}

void TextField::touchesEnded(const Touches& touches) {
  const bool inside = !touches.empty() && bounds().contains(touches.front()->locationIn(this));
  Control::touchesEnded(touches);
  if (inside) becomeFirstResponder();
}

void TextField::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  const double scale = canvas.scale();
  const std::string shown = displayText();
  const bool placeholder = shown.empty();
  const std::string& text = placeholder ? placeholder_ : shown;
  const Size size = font_.measure(text, scale);
  const double y = bounds.midY() - size.height / 2;
  if (!text.empty()) {
    canvas.drawText(text, font_, {bounds.minX() + 4, y}, placeholder ? Color::gray() : color_);
  }
  if (isFirstResponder()) {
    // The caret after the text.
    const double x = bounds.minX() + 4 + (placeholder ? 0 : size.width) + 1;
    canvas.setFillColor(color_);
    canvas.fillRect(Rect(x, y, 1.5, std::max(size.height, font_.lineHeight(scale))));
  }
}

}  // namespace platform::ui
