#include "VexelGraphics/VGLine.h"

#include <cmath>

int VGLine::findIntersectionSphere(const Vector3& centre, float radius, Vector3 points[2]) const {
  if (!m_origin.isFinite() || !m_direction.isFinite() || !centre.isFinite() ||
      !std::isfinite(radius)) {
    return 0;
  }
  const Vector3 w = m_origin - centre;
  const float b = w.dotProduct(m_direction);
  const float discriminant = b * b - (w.dotProduct(w) - radius * radius);
  if (!std::isfinite(discriminant) || discriminant < 0.0f) return 0;
  if (discriminant < 1e-4f) {
    points[0] = m_origin - m_direction * b;
    return 1;
  }
  const float root = std::sqrt(discriminant);
  points[0] = m_origin + m_direction * (-b - root);
  points[1] = m_origin + m_direction * (-b + root);
  return 2;
}
