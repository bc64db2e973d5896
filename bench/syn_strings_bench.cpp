// Samples per second of the waveguide strings, the banded waveguide, the
// mesh and the band-limited oscillators: one tick each, as the audio thread
// calls them, while a note sounds.
#include <benchmark/benchmark.h>

#include "chip/syn/syn.h"
#include "chip/syn/syn_banded.h"
#include "chip/syn/syn_blit.h"
#include "chip/syn/syn_mesh.h"
#include "chip/syn/syn_strings.h"

namespace {

template <typename T>
void tick_all(benchmark::State& state, T& instrument) {
  for (auto _ : state) benchmark::DoNotOptimize(instrument.tick());
  state.SetItemsProcessed(state.iterations());
}

void BM_Bowed(benchmark::State& state) {
  Bowed b(40.0f);
  b.controlChange(1, 64.0f);  // vibrato on: the neck line moves every sample
  b.noteOn(220.0f, 0.8f);
  tick_all(state, b);
}
BENCHMARK(BM_Bowed);

void BM_Mandolin(benchmark::State& state) {
  Mandolin m(20.0f);
  m.noteOn(220.0f, 0.8f);
  tick_all(state, m);
}
BENCHMARK(BM_Mandolin);

void BM_Sitar(benchmark::State& state) {
  Sitar s(20.0f);
  s.noteOn(220.0f, 0.8f);
  tick_all(state, s);
}
BENCHMARK(BM_Sitar);

void BM_StifKarp(benchmark::State& state) {
  StifKarp s(20.0f);
  s.noteOn(220.0f, 0.8f);
  tick_all(state, s);
}
BENCHMARK(BM_StifKarp);

// Bowed, with the preset's modes (the bowl has 12).
void BM_BandedWG(benchmark::State& state) {
  BandedWG b;
  b.setPreset(int(state.range(0)));
  b.controlChange(2, 64.0f);
  b.noteOn(220.0f, 0.8f);
  tick_all(state, b);
}
BENCHMARK(BM_BandedWG)->Arg(0)->Arg(3);

void BM_Mesh2D(benchmark::State& state) {
  Mesh2D m(int(state.range(0)), int(state.range(0)));
  m.noteOn(0.0f, 1.0f);
  tick_all(state, m);
}
BENCHMARK(BM_Mesh2D)->Arg(2)->Arg(12);

void BM_Blit(benchmark::State& state) {
  Blit b(220.0f);
  tick_all(state, b);
}
BENCHMARK(BM_Blit);

void BM_BlitSaw(benchmark::State& state) {
  BlitSaw b(220.0f);
  tick_all(state, b);
}
BENCHMARK(BM_BlitSaw);

void BM_BlitSquare(benchmark::State& state) {
  BlitSquare b(220.0f);
  tick_all(state, b);
}
BENCHMARK(BM_BlitSquare);

}  // namespace

BENCHMARK_MAIN();
