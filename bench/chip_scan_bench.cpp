// The scanner's time against the length of one long token (a block
// comment, a string, a line comment) and of ordinary text: all of them
// should grow linearly (the figure "BigO" near N, "RMS" small).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "chip/front/chip_absyn.h"
#include "chip/front/chip_parse.h"
#include "chip/util/chip_errmsg.h"

namespace {

// Scans source to its end; the number of tokens.
int scan(std::string& source) {
  FILE* f = fmemopen(source.data(), source.size(), "r");
  a_Pool pool = new_pool();
  a_Pool previous = set_current_pool(pool);
  EM_reset("bench.chip", f);
  chip_lex_begin(f);
  int tokens = 0;
  while (yylex()) tokens++;
  chip_lex_end();
  set_current_pool(previous);
  delete_pool(pool);
  std::fclose(f);
  return tokens;
}

enum Shape { kBlockComment, kString, kLineComment, kStatements };

void BM_Scan(benchmark::State& state, Shape shape) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::string source;
  switch (shape) {
    case kBlockComment: source = "/*" + std::string(n, 'x') + "*/"; break;
    case kString: source = "\"" + std::string(n, 'x') + "\";"; break;
    case kLineComment: source = "//" + std::string(n, 'x') + "\n"; break;
    case kStatements:
      while (source.size() < n) source += "1 + 2 => int a; \"text\" => string s;\n";
      break;
  }
  for (auto _ : state) benchmark::DoNotOptimize(scan(source));
  state.SetComplexityN(static_cast<int64_t>(n));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}

BENCHMARK_CAPTURE(BM_Scan, block_comment, kBlockComment)
    ->RangeMultiplier(4)->Range(1 << 18, 1 << 24)->Complexity();
BENCHMARK_CAPTURE(BM_Scan, string, kString)
    ->RangeMultiplier(4)->Range(1 << 18, 1 << 24)->Complexity();
BENCHMARK_CAPTURE(BM_Scan, line_comment, kLineComment)
    ->RangeMultiplier(4)->Range(1 << 18, 1 << 24)->Complexity();
BENCHMARK_CAPTURE(BM_Scan, statements, kStatements)
    ->RangeMultiplier(4)->Range(1 << 18, 1 << 22)->Complexity();

}  // namespace

BENCHMARK_MAIN();
