#!/usr/bin/env bash
# Runs Chip programs with the chip program and --silent (as fast as the
# machine can), each beside its reference in the same run, and prints for
# every case the instructions both executed (valgrind's callgrind: the
# figure that stays put on a shared machine), their CPU seconds (user +
# system, the median of BENCH_RUNS runs taken in turns) and the two ratios:
#   100 voices      bench/programs/voices.chip against a plain C++ loop of
#                   100 std::sin oscillators (bench/sines_reference.cpp)
#   fib(30), int loop, float loop, strings
#                   against the same programs in Lua 5.4 (bench/programs/lua)
#   compile         per line of a generated 55,000-line program that runs
#                   nothing, against the same functions in Lua, each net of
#                   its own start-up (an empty program)
#   start-up        an empty program, against Lua's
#   exit            bench/programs/exit_40000.chip (40,000 SinOsc into the
#                   blackhole, then the end), against the same program with
#                   half as many: a ratio of 2 is linear
#   1000 shreds     1000 shreds waking every sample for 1 s of audio,
#                   against real time and Lua coroutines (CPU only)
# and the peak memory of a shred and of a voice (peak resident size over that
# of an empty program, divided by their number), and the peak memory after
# 1,000 and after 20,000 adds of a one-line file by Machine.add, each added
# shred ending before the next add (needs GNU time). Without valgrind the
# instruction columns show "-"; without lua5.4 the Lua rows show only
# Chip's figures (make bench installs both first).
# Usage: bench/chip_programs.sh [build-dir]
set -euo pipefail
build=${1:-build}
runs=${BENCH_RUNS:-5}
here="$(cd "$(dirname "$0")" && pwd)"
chip="$build/bin/chip"
reference="$build/bench/sines_reference"
[ -x "$chip" ] || { echo "no $chip: build first (make)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FLUVANE_HOME="$work/home"
lua=$(command -v lua5.4 || true)
valgrind=$(command -v valgrind || true)
gnu_time=$( [ -x /usr/bin/time ] && /usr/bin/time -f %M true 2>&1 >/dev/null | grep -qx '[0-9]*' \
            && echo /usr/bin/time || true)

# CPU seconds (user + system) of one run of a command; its output is dropped.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S'
  local t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.3f", u + s }'
}

# The median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median CPU seconds of two commands, run in turns (runs times each) so that
# both meet the same load; prints "a b". The commands are given as two
# strings of words (no quoting inside).
paired_cpu() {
  local a=() b=() i
  for ((i = 0; i < runs; i++)); do
    a+=("$(cpu_seconds $1)")
    if [ -n "$2" ]; then b+=("$(cpu_seconds $2)"); fi
  done
  echo "$(median "${a[@]}") $( [ -n "$2" ] && median "${b[@]}" || echo -)"
}

# Instructions executed by one run of a command (callgrind's total); "-"
# without valgrind.
instructions() {
  [ -n "$valgrind" ] || { echo -; return; }
  "$valgrind" --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" 2>&1 >/dev/null |
    awk '/Collected :/ { n = $NF } END { print (n == "" ? "-" : n) }'
}

# One line: case, Chip's and the reference's instructions and their ratio,
# Chip's and the reference's CPU seconds and their ratio, the target. With
# a seventh argument "line" the figures are per line: instructions as they
# are, CPU in microseconds.
row() {
  awk -v n="$1" -v ci="$2" -v ri="$3" -v cc="$4" -v rc="$5" -v t="$6" -v per="${7:-}" '
    function num(x) { return x != "-" && x != "" }
    function count(x) {
      if (!num(x)) return "-"
      return per == "line" ? sprintf("%.0f", x) : sprintf("%.1f M", x / 1e6)
    }
    function ratio(a, b) { return num(a) && num(b) && b > 0 ? sprintf("%.2fx", a / b) : "-" }
    function secs(x) {
      if (!num(x)) return "-"
      return per == "line" ? sprintf("%.1f us", x * 1e6) : sprintf("%.3f s", x)
    }
    BEGIN { printf "%-24s %11s %11s %7s   %9s %9s %7s   %s\n",
            n, count(ci), count(ri), ratio(ci, ri), secs(cc), secs(rc), ratio(cc, rc), t }'
}

printf '%-24s %11s %11s %7s   %9s %9s %7s   %s\n' "case" "chip" "reference" "ratio" \
  "chip CPU" "ref CPU" "ratio" "target"

# Start-up first: the compile row takes both empty programs off.
empty_lua="$work/empty.lua"
echo 'print(0)' > "$empty_lua"
idle_chip=$(instructions "$chip" --silent "$here/programs/idle.chip")
idle_lua=-
[ -n "$lua" ] && idle_lua=$(instructions "$lua" "$empty_lua")

read -r c r <<< "$(paired_cpu "$chip --silent --srate44100 $here/programs/voices.chip" \
                              "$reference 10")"
row "100 voices, 10 s / C++" "$(instructions "$chip" --silent --srate44100 \
    "$here/programs/voices.chip")" "$(instructions "$reference" 10)" "$c" "$r" "<= 1.3x"

for p in fib30 int_loop float_loop strings; do
  chip_cmd="$chip --silent $here/programs/$p.chip"
  lua_cmd=""
  [ -n "$lua" ] && lua_cmd="$lua $here/programs/lua/$p.lua"
  read -r c r <<< "$(paired_cpu "$chip_cmd" "$lua_cmd")"
  target="<= 1.0x"
  [ "$p" = fib30 ] && target="<= 1.2x instr, <= 1.5x CPU"
  row "$p / Lua 5.4" "$(instructions $chip_cmd)" \
      "$( [ -n "$lua" ] && instructions $lua_cmd || echo -)" "$c" "$r" "$target"
done

# 5,000 functions of 11 lines each (none runs, so the time is the
# compiler's), and the same functions in Lua; both written in one pass.
gen="$work/generated.chip"
gen_lua="$work/generated.lua"
awk -v chip="$gen" -v lua="$gen_lua" 'BEGIN {
  for (f = 0; f < 5000; f++) {
    printf "fun float f%d(float x, int n)\n{\n    0.0 => float acc;\n", f > chip
    printf "    for (0 => int i; i < n; i++)\n    {\n        acc + x * i => acc;\n" > chip
    printf "        if (acc > 1000.0) 0.0 => acc;\n    }\n" > chip
    printf "    \"f%d\" + n => string label;\n    return acc;\n}\n", f > chip
    printf "function f%d(x, n)\n  local acc = 0.0\n  for i = 0, n - 1 do\n", f > lua
    printf "    acc = acc + x * i\n    if acc > 1000.0 then acc = 0.0 end\n  end\n" > lua
    printf "  local label = \"f%d\" .. n\n  return acc\nend\n", f > lua
  } }'
lines=$(wc -l < "$gen")
read -r c r <<< "$(paired_cpu "$chip --silent $gen" "$( [ -n "$lua" ] && echo "$lua $gen_lua")")"
read -r ce re <<< "$(paired_cpu "$chip --silent $here/programs/idle.chip" \
                                "$( [ -n "$lua" ] && echo "$lua $empty_lua")")"
ci=$(instructions "$chip" --silent "$gen")
ri=-
[ -n "$lua" ] && ri=$(instructions "$lua" "$gen_lua")
# Per line of the Chip program, net of start-up.
per_line() {
  awk -v all="$1" -v empty="$2" -v n="$lines" 'BEGIN {
    if (all == "-" || empty == "-" || all == "") print "-"; else printf "%.9f", (all - empty) / n }'
}
row "compile, per line / Lua" "$(per_line "$ci" "$idle_chip")" "$(per_line "$ri" "$idle_lua")" \
    "$(per_line "$c" "$ce")" "$(per_line "$r" "$re")" "<= 2.5x" line

row "start-up, empty / Lua" "$idle_chip" "$idle_lua" "$ce" "$re" "<= 5 M instr, <= 10 ms"

# Tearing down 40,000 oscillators against 20,000: linear when the ratio is 2.
exit_big="$here/programs/exit_40000.chip"
exit_half="$work/exit_20000.chip"
sed 's/40000/20000/g; s/40,000/20,000/g' "$exit_big" > "$exit_half"
read -r c r <<< "$(paired_cpu "$chip --silent $exit_big" "$chip --silent $exit_half")"
row "exit 40,000 / 20,000 SinOsc" "$(instructions "$chip" --silent "$exit_big")" \
    "$(instructions "$chip" --silent "$exit_half")" "$c" "$r" "linear (2x), < 0.05 s"

read -r c r <<< "$(paired_cpu "$chip --silent --srate44100 $here/programs/shreds.chip" \
                              "$( [ -n "$lua" ] && echo "$lua $here/programs/lua/shreds.lua")")"
row "1000 shreds, 1 s / real" - - "$c" "1.000" "< 1x"
row "  / Lua coroutines" - - "$c" "$r" ""

if [ -n "$gnu_time" ]; then
  peak_kb() { "$gnu_time" -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
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
