#!/usr/bin/env bash
# The instrument's cost at rest and while played: the fluvane program runs
# automation scripts off screen (SDL's offscreen video through Mesa's
# software GL, the disk audio driver), and for each case prints the CPU
# seconds (user + system) it took over its measured span, that as a share
# of one core, and the frames drawn a second:
#   at rest         nobody touches or blows
#   played          four fingerings changing, breath held
# Each case's run first settles (the start, the launch's hints and pulses),
# then does the case for the measured span; beside it runs the reference,
# which only settles, and the case's figures are its run less the
# reference's. Frames come from the log's "frames drawn" line. With
# FLUVANE_BENCH_DISPLAY set (an X display, Xvfb for one) the window is
# drawn there instead of off screen.
# Usage: bench/instrument_frames.sh [build-dir] [seconds]
set -euo pipefail
build=${1:-build}
span=${2:-20}
settle=20
fluvane="$build/bin/fluvane"
[ -x "$fluvane" ] || { echo "no $fluvane: build first (make)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
unset FLUVANE_SERVICE_URL DISPLAY WAYLAND_DISPLAY
if [ -n "${FLUVANE_BENCH_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=x11 DISPLAY="$FLUVANE_BENCH_DISPLAY"
else
  export SDL_VIDEODRIVER=offscreen
fi

# The scripts: the settling wait, then the case.
printf 'wait %s\n' "$settle" > "$work/reference.fluvane"
{ cat "$work/reference.fluvane"; printf 'wait %s\n' "$span"; } > "$work/rest.fluvane"
{
  cat "$work/reference.fluvane"
  printf 'key E down\nkey D down\nkey I down\nkey K down\nbreath 0.8\n'
  steps=$(( span / 2 ))
  keys=(D K E I)
  for ((i = 0; i < steps; i++)); do
    k=${keys[$(( i % 4 ))]}
    if (( (i / 4) % 2 == 0 )); then printf 'key %s up\n' "$k"; else printf 'key %s down\n' "$k"; fi
    printf 'wait 2\n'
  done
} > "$work/played.fluvane"

# One run: CPU seconds and frames drawn, on one line.
run() {
  local home="$work/home-$1"
  rm -rf "$home"
  mkdir -p "$home"
  local TIMEFORMAT='%3U %3S'
  local t
  t=$( { time FLUVANE_HOME="$home" "$fluvane" --automate "$work/$1.fluvane" >/dev/null 2>&1; } 2>&1 )
  local frames
  frames=$(grep -ho 'frames drawn: [0-9]*' "$home"/Documents/log/*.log 2>/dev/null | tail -n 1 |
           awk '{print $3}')
  awk -v u="${t% *}" -v s="${t#* }" -v f="${frames:--1}" 'BEGIN { printf "%.3f %d", u + s, f }'
}

read -r ref_cpu ref_frames <<< "$(run reference)"
printf '%-12s %10s %10s %12s   (over %s s, less a reference run that only settles: %s s CPU)\n' \
  "case" "CPU s" "core" "frames/s" "$span" "$ref_cpu"
for case in rest played; do
  read -r cpu frames <<< "$(run "$case")"
  awk -v n="$case" -v c="$cpu" -v r="$ref_cpu" -v f="$frames" -v rf="$ref_frames" -v t="$span" 'BEGIN {
    d = c - r
    if (f < 0 || rf < 0) fps = "-"; else fps = sprintf("%.1f", (f - rf) / t)
    printf "%-12s %10.3f %9.1f%% %12s\n", n, d, 100 * d / t, fps }'
done
