#!/usr/bin/env bash
# Times Chip programs run by the chip program with --silent (as fast as the
# machine can) and prints one figure for each:
#   fib(27)         seconds of CPU for a recursive fib(27)
#   100 voices      seconds of audio per second of CPU, 100 SinOsc into dac
#   compile         lines per second compiling a generated 5,000-line program
# Usage: bench/chip_programs.sh [build-dir]
set -euo pipefail
build=${1:-build}
here="$(cd "$(dirname "$0")" && pwd)"
chip="$build/bin/chip"
[ -x "$chip" ] || { echo "no $chip: build first (make)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FLUVANE_HOME="$work/home"

# CPU seconds (user + system) of one silent run of a program.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S'
  local t
  t=$( { time "$chip" --silent --srate44100 "$1" >/dev/null 2>&1; } 2>&1 )
  awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.3f", u + s }'
}

fib=$(cpu_seconds "$here/programs/fib.chip")
echo "fib(27):      $fib s of CPU"

voices=$(cpu_seconds "$here/programs/voices.chip")
awk -v c="$voices" 'BEGIN { printf "100 voices:   %.1f s of audio per s of CPU (10 s of audio in %.3f s)\n", 10 / c, c }'

# 500 functions of 10 lines each; none runs, so the time is the compiler's.
gen="$work/generated.chip"
for ((f = 0; f < 500; f++)); do
  cat <<CHIP
fun float f$f(float x, int n)
{
    0.0 => float acc;
    for (0 => int i; i < n; i++)
    {
        acc + x * i => acc;
        if (acc > 1000.0) 0.0 => acc;
    }
    "f$f" + n => string label;
    return acc;
}
CHIP
done > "$gen"
lines=$(wc -l < "$gen")
compile=$(cpu_seconds "$gen")
awk -v l="$lines" -v c="$compile" 'BEGIN { printf "compile:      %d lines in %.3f s of CPU (%.0f lines/s)\n", l, c, (c > 0 ? l / c : 0) }'
