#include "platform/ui/Compositor.h"

#include "platform/gfx/GLHost.h"

namespace platform::ui {

Compositor::~Compositor() {
  if (!gfx::hasCurrentContext()) return;
  for (auto& [key, entry] : cache_) {
    if (entry.texture) glDeleteTextures(1, &entry.texture);
  }
}

GLuint Compositor::textureFor(View& view, double scale) {
  Entry& entry = cache_[&view];
  std::shared_ptr<View> owner = entry.view.lock();
  if (owner.get() != &view) {
    // A new view (or a new one at a dead one's address).
    entry.view = view.weak_from_this();
    entry.version = 0;
  }
  entry.used = true;
  if (entry.texture && entry.version == view.contentVersion()) return entry.texture;
  Canvas canvas = view.renderContent(scale);
  entry.version = view.contentVersion();
  if (canvas.width() == 0 || canvas.height() == 0) return 0;
  if (!entry.texture) glGenTextures(1, &entry.texture);
  glBindTexture(GL_TEXTURE_2D, entry.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, canvas.width(), canvas.height(), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, canvas.pixels().data());
  entry.width = canvas.width();
  entry.height = canvas.height();
  return entry.texture;
}

void Compositor::drawView(View& view, const AffineTransform& parentToScreen, double alpha,
                          double scale) {
  if (view.hidden()) return;
  const double a = alpha * view.drawnAlpha();
  if (a <= 0.001) return;
  const Rect b = view.bounds();
  const Size size = view.drawnSize();
  const Point c = view.drawnCenter();
  // Bounds -> superview: about the bounds' middle, turned, then to the center.
  const AffineTransform local =
      AffineTransform::translation(-(b.x() + size.width / 2), -(b.y() + size.height / 2))
          .then(view.drawnTransform())
          .then(AffineTransform::translation(c.x, c.y));
  const AffineTransform toScreen = local.then(parentToScreen);
  if (view.drawsContent()) {
    GLuint texture = textureFor(view, scale);
    if (texture) {
      const Point p[4] = {toScreen.apply({b.x(), b.y()}),
                          toScreen.apply({b.x() + size.width, b.y()}),
                          toScreen.apply({b.x(), b.y() + size.height}),
                          toScreen.apply({b.x() + size.width, b.y() + size.height})};
      const GLfloat vertices[8] = {
          static_cast<GLfloat>(p[0].x), static_cast<GLfloat>(p[0].y),
          static_cast<GLfloat>(p[1].x), static_cast<GLfloat>(p[1].y),
          static_cast<GLfloat>(p[2].x), static_cast<GLfloat>(p[2].y),
          static_cast<GLfloat>(p[3].x), static_cast<GLfloat>(p[3].y)};
      static const GLfloat texcoords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
      glBindTexture(GL_TEXTURE_2D, texture);
      const GLfloat f = static_cast<GLfloat>(a);
      glColor4f(f, f, f, f);
      glVertexPointer(2, GL_FLOAT, 0, vertices);
      glTexCoordPointer(2, GL_FLOAT, 0, texcoords);
      glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
  }
  // The subviews may change while drawing (they never should): a copy.
  const std::vector<std::shared_ptr<View>> children = view.subviews();
  for (const auto& child : children) drawView(*child, toScreen, a, scale);
}

void Compositor::draw(View& root, double scale) {
  for (auto& [key, entry] : cache_) entry.used = false;
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrthof(0, 320, 480, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  drawView(root, AffineTransform::identity(), 1.0, scale);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_TEXTURE_2D);
  glColor4f(1, 1, 1, 1);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  // Textures of views no longer drawn go.
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (!it->second.used) {
      if (it->second.texture) glDeleteTextures(1, &it->second.texture);
      it = cache_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace platform::ui
