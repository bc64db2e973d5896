// Anything a node can draw: render objects and particle systems. The node
// it was added to is its parent (not owned).
#ifndef VEXELGRAPHICS_VGABSTRACTRENDEROBJECT_H
#define VEXELGRAPHICS_VGABSTRACTRENDEROBJECT_H

class VGNode;

class VGAbstractRenderObject {
 public:
  VGAbstractRenderObject() = default;
  virtual ~VGAbstractRenderObject() = default;
  VGAbstractRenderObject(const VGAbstractRenderObject&) = delete;
  VGAbstractRenderObject& operator=(const VGAbstractRenderObject&) = delete;

  virtual void render() = 0;

  void setParent(VGNode* parent) { parent_ = parent; }
  VGNode* parent() const { return parent_; }

 private:
  VGNode* parent_ = nullptr;
};

#endif
