// The three GLU functions the scene code needs; GL ES has no GLU.
//
// gluPerspective() multiplies the current GL matrix by a perspective
// frustum. Values that would make no frustum (an aspect of 0, near <= 0,
// far <= 0, near = far, a field of view outside (0, 180) degrees, anything
// not finite) are logged and the matrix is left as it was.
//
// gluUnProject() maps a window point and depth back through the inverse of
// projection x model-view (both given in GL's column order) and the
// viewport; false when the viewport has no width or height, the matrix is
// singular, the resulting w is 0 or the point is not finite (nothing is
// written then).
// gluUnProjectCurrent() does the same with the current projection, an
// identity model-view and the fixed viewport (0, 0, 320, 480); it leaves
// GL_MODELVIEW as the matrix mode. Window y is not flipped.
//
// Threads: the GL calls belong on the context's thread.
#ifndef VEXELGRAPHICS_VGGLU_H
#define VEXELGRAPHICS_VGGLU_H

void gluPerspective(float fovy, float aspect, float zNear, float zFar);

bool gluUnProject(float winx, float winy, float winz, const float model[16], const float proj[16],
                  const int viewport[4], float* objx, float* objy, float* objz);

bool gluUnProjectCurrent(float winx, float winy, float winz, float* objx, float* objy, float* objz);

#endif
