#include "VexelGraphics/VGNode.h"

#include <GLES/gl.h>

#include <cmath>

bool VGNode::setPosition(const Vector3& position) {
  if (!position.isFinite()) return false;
  position_ = position;
  dirty_ = true;
  return true;
}

bool VGNode::setScale(float x, float y, float z) {
  const Vector3 scale(x, y, z);
  if (!scale.isFinite()) return false;
  scale_ = scale;
  dirty_ = true;
  return true;
}

bool VGNode::setOrientation(const Quaternion& orientation) {
  if (!orientation.isFinite()) return false;
  Quaternion unit = orientation;
  const float norm = unit.normalise();
  if (!(norm > 1e-16f) || !std::isfinite(norm) || !unit.isFinite()) return false;
  orientation_ = unit;
  dirty_ = true;
  return true;
}

void VGNode::addRenderObject(VGAbstractRenderObject* object) {
  if (!object) return;
  objects_.push_back(object);
  object->setParent(this);
}

void VGNode::rebuild() {
  transform_.makeTransform(position_, scale_, orientation_);
  transform_.toGL(glTransform_);
  dirty_ = false;
  builds_++;
}

void VGNode::render() {
  glPushMatrix();
  if (dirty_) rebuild();
  glMultMatrixf(glTransform_);
  for (VGAbstractRenderObject* object : objects_) object->render();
  glPopMatrix();
}
