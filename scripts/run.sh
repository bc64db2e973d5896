#!/usr/bin/env bash
# The main job: the instrument. With a display and a sound card it opens the
# window (keys in the README); otherwise it plays the demo off screen into
# SDL's disk audio driver and prints the paths of the sound (WAV) and of the
# picture it made. The demo runs in a scratch home (build/demo/home) unless
# FLUVANE_HOME names one.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
has_display=false
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then has_display=true; fi
has_sound=false
if [ -d /dev/snd ] || [ "$(uname)" = Darwin ]; then has_sound=true; fi
if $has_display && $has_sound; then
  echo "fluvane: opening the instrument (E D I K: holes, Space: breath, arrows: tilt, Esc: quit)"
  exec "$build/bin/fluvane"
fi
# The demo keeps its log, settings, statistics and recording in a scratch
# home inside the build folder, not in the player's own
# (~/.local/share/fluvane); FLUVANE_HOME set by the caller is used as given.
if [ -z "${FLUVANE_HOME:-}" ]; then
  export FLUVANE_HOME="$build/demo/home"
  rm -rf "$FLUVANE_HOME"
  mkdir -p "$FLUVANE_HOME"
fi
echo "fluvane: no display or no sound card; playing the demo off screen (home: $FLUVANE_HOME)"
exec "$build/bin/fluvane" --demo
