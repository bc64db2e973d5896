// Throughput of the machine's queues: CBufferSimple put/get of pointer-sized
// items, one at a time (as the machine feeds them) and in batches.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "chip/util/util_buffers.h"

namespace {

void BM_CBufferSimple_PutGetOne(benchmark::State& state) {
  CBufferSimple ring;
  ring.initialize(1024, sizeof(void*));
  uintptr_t in = 0;
  uintptr_t out = 0;
  for (auto _ : state) {
    ring.put(&in, 1);
    benchmark::DoNotOptimize(ring.get(&out, 1));
    benchmark::DoNotOptimize(out);
    in++;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CBufferSimple_PutGetOne);

void BM_CBufferSimple_PutGetBatch(benchmark::State& state) {
  const long batch = state.range(0);
  CBufferSimple ring;
  ring.initialize(1024, sizeof(void*));
  uintptr_t in[256];
  uintptr_t out[256];
  for (long i = 0; i < batch; i++) in[i] = static_cast<uintptr_t>(i);
  for (auto _ : state) {
    ring.put(in, batch);
    benchmark::DoNotOptimize(ring.get(out, batch));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_CBufferSimple_PutGetBatch)->Arg(16)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
