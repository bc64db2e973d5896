#!/usr/bin/env bash
# Runs the engine's fuzz targets for a bounded time each, under
# AddressSanitizer and UndefinedBehaviorSanitizer (tests/fuzz/CMakeLists.txt
# lists them): the compiling and running targets seeded from the test
# scripts (tests/chip/**/*.chip), the decoders from their tests' tables
# (tests/fuzz/seeds/<target>/).
# Fails when a target crashes, aborts, leaks or a sanitizer reports; the
# input that did it is left as <build>/fuzz/<target>-crash-* (or -leak-*) and
# the run prints the end of the target's log. Targets run side by side, JOBS
# at once (default: as many as there are cores), each in a scratch folder of
# its own.
# An input that runs out of memory or time is a script's right (a huge
# array, a long computation), not an engine fault: such inputs are passed
# over (libFuzzer's fork mode with -ignore_ooms and -ignore_timeouts).
#
# Usage: [JOBS=n] scripts/fuzz.sh [build-dir] [seconds per target]
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "$build" && pwd)/fuzz"

seeds="$bin/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
# One seed per script, named after its path (names repeat across areas).
(cd "$here/tests/chip" && find . -name '*.chip' | while read -r f; do
  name=${f#./}
  cp "$f" "$seeds/${name//\//_}"
done)

# Scripts may write files (sound files, logs): scratch folders of their own.
work="$bin/work"
rm -rf "$work"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# run_target <program> <dictionary or ""> <seed folder>: one target, its log
# in <build>/fuzz/<program>.log; a failure is marked by <program>.failed.
run_target() {
  local program=$1 dict=$2 seed=$3
  local corpus="$bin/corpus/$program"
  mkdir -p "$corpus" "$work/$program"
  rm -f "$bin/$program.failed"
  local extra=()
  [ -n "$dict" ] && extra+=(-dict="$dict")
  if ! (cd "$work/$program" && FLUVANE_HOME="$work/$program" \
        "$bin/$program" -fork=1 -ignore_ooms=1 -ignore_timeouts=1 \
        -ignore_crashes=0 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=8192 "${extra[@]}" -artifact_prefix="$bin/$program-" \
        "$corpus" "$seed" > "$bin/$program.log" 2>&1); then
    touch "$bin/$program.failed"
  fi
}

# The targets, JOBS at once (the Makefile passes its JOBS; default: cores).
targets=(
  "chip_fuzz_compile|$here/tests/fuzz/chip.dict|$seeds"
  "chip_fuzz_run|$here/tests/fuzz/chip.dict|$seeds"
  "osc_decode_fuzz||$here/tests/fuzz/seeds/osc_decode"
  "osc_pattern_fuzz||$here/tests/fuzz/seeds/osc_pattern"
  "syn_wvin_fuzz||$here/tests/fuzz/seeds/syn_wvin"
  "fluvane_sgi_fuzz||$here/tests/fuzz/seeds/fluvane_sgi"
  "fluvane_automation_fuzz||$here/tests/fuzz/seeds/fluvane_automation"
  "otf_request_fuzz||$here/tests/fuzz/seeds/otf_request"
  "shell_lines_fuzz||$here/tests/fuzz/seeds/shell_lines"
  "fluvane_snippet_fuzz||$here/tests/fuzz/seeds/fluvane_snippet"
  "platform_plist_fuzz||$here/tests/fuzz/seeds/platform_plist"
)
jobs_max=${JOBS:-$(nproc 2>/dev/null || echo 2)}
[ "$jobs_max" -ge 1 ] 2>/dev/null || jobs_max=1
for entry in "${targets[@]}"; do
  IFS='|' read -r program dict seed <<< "$entry"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do wait -n || true; done
  echo "fuzz: $program for $seconds s"
  run_target "$program" "$dict" "$seed" &
done
wait

status=0
for entry in "${targets[@]}"; do
  program=${entry%%|*}
  if [ -e "$bin/$program.failed" ]; then
    status=1
    echo "fuzz: $program failed; the end of its log ($bin/$program.log):"
    tail -n 60 "$bin/$program.log"
  fi
done
exit $status
