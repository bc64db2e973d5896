// The two-dimensional waveguide mesh.
#include "chip/syn/syn_mesh.h"

#include <cmath>

#include "chip/syn/syn_control.h"
#include "chip/syn/syn_strings.h"

Mesh2D::Mesh2D(int nX, int nY) {
  setNX(nX);
  setNY(nY);
  for (int i = 0; i < kMax; i++) {
    filterY[i].setPole(0.05f);
    filterY[i].setGain(0.99f);
    filterX[i].setPole(0.05f);
    filterX[i].setGain(0.99f);
  }
  clearMesh();
  counter = 0;
  xInput = 0;
  yInput = 0;
}

void Mesh2D::clearMesh() {
  for (auto& row : v) {
    for (float& x : row) x = 0.0f;
  }
  for (auto& set : waves) {
    for (auto& direction : set) {
      for (auto& row : direction) {
        for (float& x : row) x = 0.0f;
      }
    }
  }
  for (OnePole& f : filterX) f.clear();
  for (OnePole& f : filterY) f.clear();
}

void Mesh2D::setNX(int n) {
  NX = n;
  if (n < 2) {
    syn_warn(SYN_PREFIX "Mesh2D::setNX(%d): Minimum length is 2!", n);
    NX = 2;
  } else if (n > kMax) {
    syn_warn(SYN_PREFIX "Mesh2D::setNX(%d): Maximum length is %d!", n, kMax);
    NX = kMax;
  }
}

void Mesh2D::setNY(int n) {
  NY = n;
  if (n < 2) {
    syn_warn(SYN_PREFIX "Mesh2D::setNY(%d): Minimum length is 2!", n);
    NY = 2;
  } else if (n > kMax) {
    syn_warn(SYN_PREFIX "Mesh2D::setNY(%d): Maximum length is %d!", n, kMax);
    NY = kMax;
  }
}

void Mesh2D::setDecay(float decay) {
  if (syn_reject_nan(nan_, "Mesh2D::setDecay", decay)) return;
  float gain = decay;
  if (decay < 0.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setDecay decayFactor value is less than 0.0!");
    gain = 0.0f;
  } else if (decay > 1.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setDecay decayFactor value is greater than 1.0!");
    gain = 1.0f;
  }
  for (int i = 0; i < kMax; i++) filterY[i].setGain(gain);
  for (int i = 0; i < kMax; i++) filterX[i].setGain(gain);
}

void Mesh2D::setInputPosition(float xFactor, float yFactor) {
  if (std::isnan(xFactor) || std::isnan(yFactor)) {
    syn_reject_nan(nan_, "Mesh2D::setInputPosition", NAN);
    return;
  }
  // Clamped before the conversion, so the index always lies on the mesh.
  if (xFactor < 0.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setInputPosition xFactor value is less than 0.0!");
    xInput = 0;
  } else if (xFactor > 1.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setInputPosition xFactor value is greater than 1.0!");
    xInput = NX - 1;
  } else {
    xInput = static_cast<int>(xFactor * (NX - 1));
  }
  if (yFactor < 0.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setInputPosition yFactor value is less than 0.0!");
    yInput = 0;
  } else if (yFactor > 1.0f) {
    syn_warn(SYN_PREFIX "Mesh2D::setInputPosition yFactor value is greater than 1.0!");
    yInput = NY - 1;
  } else {
    yInput = static_cast<int>(yFactor * (NY - 1));
  }
}

void Mesh2D::noteOn(float, float amplitude) {
  if (syn_reject_nan(nan_, "Mesh2D::noteOn", amplitude)) return;
  if (!std::isfinite(amplitude)) return;  // an infinite wave never leaves
  const int set = counter & 1;
  waves[set][XP][xInput][yInput] += amplitude;
  waves[set][YP][xInput][yInput] += amplitude;
}

void Mesh2D::noteOff(float) {}

float Mesh2D::tick(float input) {
  if (std::isfinite(input)) {
    const int set = counter & 1;
    waves[set][XP][xInput][yInput] += input;
    waves[set][YP][xInput][yInput] += input;
  }
  return tick();
}

float Mesh2D::tick() {
  lastOutput = step(counter & 1);
  counter++;
  if (counter == 0x40000000) counter = 0;  // keeps the parity, never overflows
  return lastOutput;
}

float Mesh2D::step(int in) {
  const int out = 1 - in;
  float(&xp)[kMax][kMax] = waves[in][XP];
  float(&xm)[kMax][kMax] = waves[in][XM];
  float(&yp)[kMax][kMax] = waves[in][YP];
  float(&ym)[kMax][kMax] = waves[in][YM];
  float(&xpOut)[kMax][kMax] = waves[out][XP];
  float(&xmOut)[kMax][kMax] = waves[out][XM];
  float(&ypOut)[kMax][kMax] = waves[out][YP];
  float(&ymOut)[kMax][kMax] = waves[out][YM];

  for (int x = 0; x < NX - 1; x++) {
    for (int y = 0; y < NY - 1; y++) {
      v[x][y] = 0.5f * (xp[x][y] + xm[x + 1][y] + yp[x][y] + ym[x][y + 1]);
    }
  }
  for (int x = 0; x < NX - 1; x++) {
    for (int y = 0; y < NY - 1; y++) {
      const float w = v[x][y];
      xpOut[x + 1][y] = w - xm[x + 1][y];
      ypOut[x][y + 1] = w - ym[x][y + 1];
      xmOut[x][y] = w - xp[x][y];
      ymOut[x][y] = w - yp[x][y];
    }
  }
  for (int y = 0; y < NY - 1; y++) {
    xpOut[0][y] = filterY[y].tick(xm[0][y]);
    xmOut[NX - 1][y] = xp[NX - 1][y];
  }
  for (int x = 0; x < NX - 1; x++) {
    ypOut[x][0] = filterX[x].tick(ym[x][0]);
    ymOut[x][NY - 1] = yp[x][NY - 1];
  }
  return xp[NX - 1][NY - 2] + yp[NX - 2][NY - 1];
}

double Mesh2D::energy() const {
  const int set = counter & 1;
  double e = 0.0;
  for (int x = 0; x < NX; x++) {
    for (int y = 0; y < NY; y++) {
      for (int d = 0; d < 4; d++) {
        const double w = waves[set][d][x][y];
        e += w * w;
      }
    }
  }
  return e;
}

void Mesh2D::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Mesh2D", value, &x)) return;
  switch (number) {
    case 1: setInputPosition(x, x); break;
    case 2: setNX(static_cast<int>(2.0f + 10.0f * x)); break;
    case 4: setNY(static_cast<int>(2.0f + 10.0f * x)); break;
    case 11: setDecay(0.9f + 0.1f * x); break;
    case 128: break;
    default: syn_warn(SYN_PREFIX "Mesh2D: Undefined Control Number (%d)!!", number);
  }
}
