// A two-dimensional rectilinear waveguide mesh (struck plates and drums):
// NX x NY scattering junctions joined by unit-delay wave variables, with
// lossy, low-passed reflections along two edges. Excitation is added at one
// junction; the output is taken at the far corner.
//
// Each junction sends out v - p_i on each of its four sides, with
// v = (p_1 + p_2 + p_3 + p_4) / 2 from the four incoming waves p_i, so the
// outgoing energy equals the incoming; only the edge filters (gain `decay`)
// lose energy. Two sets of wave arrays alternate: a step reads one set and
// writes the other.
//
// Arguments. Sizes are held to 2..12, positions to 0..1 and the decay to
// 0..1, each with a message. A NaN argument changes nothing (reported once
// per object). An input sample that is not a finite number counts as 0, so
// it cannot poison the mesh.
//
// Single precision. Everything runs on the audio thread; all storage lives
// inside the object.
#ifndef CHIP_SYN_MESH_H
#define CHIP_SYN_MESH_H

#include "chip/syn/syn.h"
#include "chip/syn/syn_filter.h"

class Mesh2D : public Instrmnt {
 public:
  static constexpr int kMax = 12;

  Mesh2D(int nX, int nY);
  ~Mesh2D() override = default;

  // Junctions along x (held to 2..12 with a message); the content stays.
  void setNX(int n);
  void setNY(int n);
  // Gain of the edge filters, 0..1.
  void setDecay(float decay);
  // The excitation junction from fractions 0..1 of the sides.
  void setInputPosition(float xFactor, float yFactor);
  // Adds amplitude to the x-plus and y-plus waves at the input junction of
  // the set the next step reads (the frequency is not used).
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  // One step; its result is also lastOutput.
  float tick() override;
  using Instrmnt::tick;
  // The language's sample step: the input added as noteOn adds it, then a
  // step.
  float tick(float input);
  // Sum of the squares of the waves the next step reads, over the mesh.
  double energy() const;
  void controlChange(int number, float value) override;
  // Zeroes every wave and velocity.
  void clearMesh();

  enum { XP = 0, XM = 1, YP = 2, YM = 3 };

  int NX = 2;
  int NY = 2;
  int xInput = 0;
  int yInput = 0;
  OnePole filterX[kMax];
  OnePole filterY[kMax];
  float v[kMax - 1][kMax - 1] = {};
  // waves[set][direction][x][y]
  float waves[2][4][kMax][kMax] = {};
  int counter = 0;
  float lastOutput = 0.0f;

 private:
  // One step reading set `in` and writing the other.
  float step(int in);
  SynOnce nan_;
};

#endif
