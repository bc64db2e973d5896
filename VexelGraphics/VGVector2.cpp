#include "VexelGraphics/VGVector2.h"

// Constant-initialised (constexpr constructor): usable from any static
// initialiser.
const Vector2 Vector2::ZERO(0.0f, 0.0f);
const Vector2 Vector2::UNIT_X(1.0f, 0.0f);
const Vector2 Vector2::UNIT_Y(0.0f, 1.0f);
const Vector2 Vector2::NEGATIVE_UNIT_X(-1.0f, 0.0f);
const Vector2 Vector2::NEGATIVE_UNIT_Y(0.0f, -1.0f);
const Vector2 Vector2::UNIT_SCALE(1.0f, 1.0f);
