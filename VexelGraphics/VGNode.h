// A scene node: position, scale and orientation, and the render objects it
// draws in that frame (not owned).
//
// The setters refuse values that are not finite (the node keeps what it
// had) and keep the orientation a unit quaternion; a quaternion too short
// to scale is refused as well. The transform is rebuilt only when drawn
// after a change, however many changes came before.
//
// Threads: render() on the context's thread.
#ifndef VEXELGRAPHICS_VGNODE_H
#define VEXELGRAPHICS_VGNODE_H

#include <vector>

#include "VexelGraphics/VGAbstractRenderObject.h"
#include "VexelGraphics/VGMatrix4.h"
#include "VexelGraphics/VGQuaternion.h"
#include "VexelGraphics/VGVector3.h"

class VGNode {
 public:
  VGNode() = default;
  VGNode(const VGNode&) = delete;
  VGNode& operator=(const VGNode&) = delete;

  // Each answers whether the value was taken.
  bool setPosition(const Vector3& position);
  bool setScale(float x, float y, float z);
  bool setOrientation(const Quaternion& orientation);

  const Vector3& position() const { return position_; }
  const Vector3& scale() const { return scale_; }
  const Quaternion& orientation() const { return orientation_; }

  // Appends the object (not owned) and makes this node its parent.
  void addRenderObject(VGAbstractRenderObject* object);

  // Pushes the GL matrix, multiplies it by the node's transform, draws the
  // render objects in order and pops the matrix.
  void render();

  // The transform as of the last rebuild, and how many rebuilds there were.
  const Matrix4& transform() const { return transform_; }
  const float* glTransform() const { return glTransform_; }
  int transformBuilds() const { return builds_; }
  bool isDirty() const { return dirty_; }

 private:
  void rebuild();

  Quaternion orientation_ = Quaternion::IDENTITY;
  Vector3 position_ = Vector3::ZERO;
  Vector3 scale_ = Vector3::UNIT_SCALE;
  Matrix4 transform_ = Matrix4::IDENTITY;
  bool dirty_ = true;
  float glTransform_[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  int builds_ = 0;
  std::vector<VGAbstractRenderObject*> objects_;
};

#endif
