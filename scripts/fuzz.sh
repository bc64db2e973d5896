#!/usr/bin/env bash
# Runs the engine's fuzz targets for a bounded time each, seeded from the
# test scripts (tests/chip/**/*.chip), under AddressSanitizer and
# UndefinedBehaviorSanitizer:
#   chip_fuzz_compile   source -> compile (never run)
#   chip_fuzz_run       source -> compile -> run a tenth of a second, silently
# Fails when a target crashes, aborts, leaks or a sanitizer reports; the
# input that did it is left as <build>/fuzz/crash-* (or leak-*) and the run
# prints it. An input that runs out of memory or time is a script's right
# (a huge array, a long computation), not an engine fault: such inputs are
# passed over (libFuzzer's fork mode with -ignore_ooms and -ignore_timeouts).
#
# Usage: scripts/fuzz.sh [build-dir] [seconds per target]
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

# Scripts may write files (sound files, logs): a scratch folder of their own.
work="$bin/work"
rm -rf "$work"
mkdir -p "$work"
export FLUVANE_HOME="$work"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

status=0
for target in compile run; do
  corpus="$bin/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: chip_fuzz_$target for $seconds s"
  if ! (cd "$work" && "$bin/chip_fuzz_$target" -fork=1 -ignore_ooms=1 -ignore_timeouts=1 \
        -ignore_crashes=0 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=8192 -dict="$here/tests/fuzz/chip.dict" -artifact_prefix="$bin/" \
        "$corpus" "$seeds" > "$bin/$target.log" 2>&1); then
    status=1
    echo "fuzz: chip_fuzz_$target failed; the end of its log ($bin/$target.log):"
    tail -n 60 "$bin/$target.log"
  fi
done
exit $status
