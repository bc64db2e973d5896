// A 2-vector of floats with the named constants the scene code starts from.
#ifndef VEXELGRAPHICS_VGVECTOR2_H
#define VEXELGRAPHICS_VGVECTOR2_H

class Vector2 {
 public:
  float x = 0.0f;
  float y = 0.0f;

  constexpr Vector2() = default;
  constexpr Vector2(float x_, float y_) : x(x_), y(y_) {}

  Vector2 operator+(const Vector2& v) const { return {x + v.x, y + v.y}; }
  Vector2 operator-(const Vector2& v) const { return {x - v.x, y - v.y}; }
  Vector2 operator*(float s) const { return {x * s, y * s}; }
  bool operator==(const Vector2& v) const { return x == v.x && y == v.y; }

  static const Vector2 ZERO;
  static const Vector2 UNIT_X;
  static const Vector2 UNIT_Y;
  static const Vector2 NEGATIVE_UNIT_X;
  static const Vector2 NEGATIVE_UNIT_Y;
  static const Vector2 UNIT_SCALE;
};

#endif
