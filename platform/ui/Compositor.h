// Draws a view tree over the GL frame: each view that draws keeps a bitmap
// (redrawn when its content changed: setNeedsDisplay or a new size),
// uploaded as a texture and drawn as a quad with the view's drawn
// transform, accumulated down the tree, and its accumulated drawn alpha,
// blended (ONE, ONE_MINUS_SRC_ALPHA) over what is there. Hidden views and
// views drawn fully transparent are skipped with their subtrees.
//
// Threads: the GL context's thread; the context must be current for draw
// and for the destructor (which deletes the textures).
#ifndef PLATFORM_UI_COMPOSITOR_H
#define PLATFORM_UI_COMPOSITOR_H

#include <GLES/gl.h>

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/ui/View.h"

namespace platform::ui {

class Compositor {
 public:
  Compositor() = default;
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // Draws the tree in points (the projection maps the screen's points to
  // the viewport); bitmaps are made at scale pixels per point.
  void draw(View& root, double scale);

 private:
  struct Entry {
    std::weak_ptr<View> view;
    std::uint64_t version = 0;
    GLuint texture = 0;
    int width = 0;
    int height = 0;
    bool used = false;
  };
  void drawView(View& view, const AffineTransform& toScreen, double alpha, double scale);
  GLuint textureFor(View& view, double scale);

  std::unordered_map<const View*, Entry> cache_;
};

}  // namespace platform::ui

#endif
