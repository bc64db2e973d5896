#!/usr/bin/env bash
# Times Chip programs run by the chip program with --silent (as fast as the
# machine can), each beside its reference in the same run, and prints the
# CPU seconds (user + system) of both and their ratio:
#   100 voices      bench/programs/voices.chip against a plain C++ loop of
#                   100 std::sin oscillators (bench/sines_reference.cpp)
#   fib(30), loops, strings
#                   against the same programs in Lua 5.4 (bench/programs/lua)
#                   when lua5.4 is installed; without it only Chip's figure
#   1000 shreds     1000 shreds waking every sample for 1 s of audio, against
#                   real time (1 s)
#   compile         a generated 55,000-line program that runs nothing
# and the peak memory of a shred and of a voice (peak resident size over that
# of an empty program, divided by their number), and the peak memory after
# 1,000 and after 20,000 adds of a one-line file by Machine.add, each added
# shred ending before the next add (needs GNU time).
# Usage: bench/chip_programs.sh [build-dir]
set -euo pipefail
build=${1:-build}
here="$(cd "$(dirname "$0")" && pwd)"
chip="$build/bin/chip"
reference="$build/bench/sines_reference"
[ -x "$chip" ] || { echo "no $chip: build first (make)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FLUVANE_HOME="$work/home"
lua=$(command -v lua5.4 || true)
gnu_time=$( [ -x /usr/bin/time ] && /usr/bin/time -f %M true 2>&1 >/dev/null | grep -qx '[0-9]*' \
            && echo /usr/bin/time || true)

# CPU seconds (user + system) of one run of a command; its output is dropped.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S'
  local t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.3f", u + s }'
}

# Peak resident kilobytes of one run of a command (empty without GNU time).
peak_kb() {
  [ -n "$gnu_time" ] || return 0
  "$gnu_time" -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

# One line: case, Chip's seconds, the reference's name and seconds, ratio.
row() {
  local name=$1 chip_s=$2 ref_name=$3 ref_s=$4
  if [ -z "$ref_s" ]; then
    printf '%-22s %8.3f s   %-22s %8s     %s\n' "$name" "$chip_s" "$ref_name" "-" "-"
  else
    awk -v n="$name" -v c="$chip_s" -v rn="$ref_name" -v r="$ref_s" 'BEGIN {
      printf "%-22s %8.3f s   %-22s %8.3f s   %.2fx\n", n, c, rn, r, (r > 0 ? c / r : 0) }'
  fi
}

printf '%-22s %10s   %-22s %10s   %s\n' "case" "chip" "reference" "" "ratio"

voices=$(cpu_seconds "$chip" --silent --srate44100 "$here/programs/voices.chip")
row "100 voices, 10 s" "$voices" "C++ loop" "$(cpu_seconds "$reference" 10)"

for p in fib30 int_loop float_loop strings; do
  c=$(cpu_seconds "$chip" --silent "$here/programs/$p.chip")
  if [ -n "$lua" ]; then
    row "$p" "$c" "Lua 5.4" "$(cpu_seconds "$lua" "$here/programs/lua/$p.lua")"
  else
    row "$p" "$c" "(no lua5.4)" ""
  fi
done

shreds=$(cpu_seconds "$chip" --silent --srate44100 "$here/programs/shreds.chip")
row "1000 shreds, 1 s" "$shreds" "real time" "1.000"
if [ -n "$lua" ]; then
  row "" "$shreds" "Lua 5.4 coroutines" "$(cpu_seconds "$lua" "$here/programs/lua/shreds.lua")"
fi

# 5,000 functions of 11 lines each; none runs, so the time is the compiler's.
gen="$work/generated.chip"
for ((f = 0; f < 5000; f++)); do
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
row "compile $lines lines" "$(cpu_seconds "$chip" --silent "$gen")" "" ""

if [ -n "$gnu_time" ]; then
  idle=$(peak_kb "$chip" --silent "$here/programs/idle.chip")
  with_shreds=$(peak_kb "$chip" --silent --srate44100 "$here/programs/shreds.chip")
  with_voices=$(peak_kb "$chip" --silent --srate44100 "$here/programs/voices.chip")
  awk -v i="$idle" -v s="$with_shreds" -v v="$with_voices" 'BEGIN {
    printf "peak memory: %.1f KB per shred, %.2f KB per voice (empty program %d KB)\n",
           (s - i) / 1000, (v - i) / 100, i }'
  adds_1k=$(peak_kb "$chip" --silent "$here/programs/adds.chip:1000:$here/programs/one_line.chip")
  adds_20k=$(peak_kb "$chip" --silent "$here/programs/adds.chip:20000:$here/programs/one_line.chip")
  awk -v a="$adds_1k" -v b="$adds_20k" 'BEGIN {
    printf "peak memory: %d KB after 1,000 adds, %d KB after 20,000 (%.0f bytes per add)\n",
           a, b, (b - a) * 1024 / 19000 }'
fi
