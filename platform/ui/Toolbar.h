// A toolbar: a bar of items, each a tag, a title or an image, an enabled
// flag and an action.
//
// Bar items are not views: the toolbar lays them out side by side (equal
// shares of its width, or an item's own width when it has one), draws them
// (image fitted, else the title; dimmed when disabled) and tracks a touch
// on them like a button: the item under the touch is highlighted, and a
// touch that ends on the item it began on calls its action (never for a
// disabled item).
//
// Threads: main thread only.
#ifndef PLATFORM_UI_TOOLBAR_H
#define PLATFORM_UI_TOOLBAR_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"

namespace platform::ui {

class Toolbar;

class BarItem {
 public:
  using Action = std::function<void(BarItem&)>;

  BarItem(std::string title, int tag, Action action = nullptr)
      : title_(std::move(title)), tag_(tag), action_(std::move(action)) {}

  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool enabled() const { return enabled_; }
  void setEnabled(bool on);
  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  ImageRef image() const { return image_; }
  void setImage(ImageRef image);
  double width() const { return width_; }
  void setWidth(double width);
  void trigger();
  Toolbar* toolbar() const { return toolbar_; }

 private:
  friend class Toolbar;
  void changed();

  std::string title_;
  int tag_;
  Action action_;
  bool enabled_ = true;
  ImageRef image_;
  double width_ = 0;  // 0: an equal share
  Toolbar* toolbar_ = nullptr;
};

class Toolbar : public View {
 public:
  explicit Toolbar(const Rect& frame = Rect());
  ~Toolbar() override;
  std::string className() const override { return "Toolbar"; }
  std::string describe() const override;
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;

  const std::vector<std::shared_ptr<BarItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<BarItem>> items);
  // The item's rectangle in the toolbar's bounds.
  Rect itemRect(std::size_t index) const;
  // The item at a point of the bounds, or -1.
  int itemAt(Point p) const;
  void setTintColor(Color color);

  void touchesBegan(const Touches& touches) override;
  void touchesMoved(const Touches& touches) override;
  void touchesEnded(const Touches& touches) override;
  void touchesCancelled(const Touches& touches) override;

 private:
  std::vector<std::shared_ptr<BarItem>> items_;
  int tracked_ = -1;
  int highlighted_ = -1;
  Color tint_ = Color{0.1, 0.1, 0.12, 0.85};
  Font font_ = Font::boldSystemFont(13);
};

}  // namespace platform::ui

#endif
