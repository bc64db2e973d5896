// A line (origin and unit direction) and its intersection with a sphere,
// with which the globe finds the place under a tap.
//
// findIntersectionSphere() answers 0, 1 (a tangent: the discriminant below
// 1e-4) or 2 intersections, the nearer along the direction first. Inputs
// that are not finite (or a discriminant that is not) give 0.
#ifndef VEXELGRAPHICS_VGLINE_H
#define VEXELGRAPHICS_VGLINE_H

#include "VexelGraphics/VGVector3.h"

class VGLine {
 public:
  VGLine() = default;
  VGLine(const Vector3& origin, const Vector3& direction)
      : m_origin(origin), m_direction(direction) {}

  int findIntersectionSphere(const Vector3& centre, float radius, Vector3 points[2]) const;

  Vector3 m_origin;
  Vector3 m_direction = Vector3::UNIT_Z;
};

#endif
