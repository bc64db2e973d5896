#include "VexelGraphics/VGGLU.h"

#include <GLES/gl.h>

#include <cmath>

#include "VexelGraphics/VGLog.h"
#include "VexelGraphics/VGMatrix4.h"

void gluPerspective(float fovy, float aspect, float zNear, float zFar) {
  const bool usable = std::isfinite(fovy) && std::isfinite(aspect) && std::isfinite(zNear) &&
                      std::isfinite(zFar) && fovy > 0.0f && fovy < 180.0f && aspect != 0.0f &&
                      zNear > 0.0f && zFar > 0.0f && zNear != zFar;
  if (!usable) {
    VG_log("gluPerspective: no frustum for fovy %g, aspect %g, near %g, far %g; matrix unchanged",
           fovy, aspect, zNear, zFar);
    return;
  }
  const float ymax = zNear * std::tan(fovy * 3.1415927f / 360.0f);
  const float ymin = -ymax;
  const float xmin = ymin * aspect;
  const float xmax = ymax * aspect;
  glFrustumf(xmin, xmax, ymin, ymax, zNear, zFar);
}

bool gluUnProject(float winx, float winy, float winz, const float model[16], const float proj[16],
                  const int viewport[4], float* objx, float* objy, float* objz) {
  if (viewport[2] == 0 || viewport[3] == 0) return false;
  const Matrix4 combined = Matrix4::fromGL(proj) * Matrix4::fromGL(model);
  Matrix4 inverse;
  if (!combined.inverse(&inverse)) return false;
  const float in[4] = {
      2.0f * (winx - static_cast<float>(viewport[0])) / static_cast<float>(viewport[2]) - 1.0f,
      2.0f * (winy - static_cast<float>(viewport[1])) / static_cast<float>(viewport[3]) - 1.0f,
      2.0f * winz - 1.0f, 1.0f};
  float out[4];
  for (int row = 0; row < 4; row++) {
    out[row] = inverse[row][0] * in[0] + inverse[row][1] * in[1] + inverse[row][2] * in[2] +
               inverse[row][3] * in[3];
  }
  if (out[3] == 0.0f) return false;
  const float x = out[0] / out[3], y = out[1] / out[3], z = out[2] / out[3];
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
  *objx = x;
  *objy = y;
  *objz = z;
  return true;
}

bool gluUnProjectCurrent(float winx, float winy, float winz, float* objx, float* objy,
                         float* objz) {
  float projection[16];
  float model[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glGetFloatv(GL_MODELVIEW_MATRIX, model);
  glPopMatrix();
  static const int viewport[4] = {0, 0, 320, 480};
  return gluUnProject(winx, winy, winz, model, projection, viewport, objx, objy, objz);
}
