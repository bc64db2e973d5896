#!/usr/bin/env bash
# The main job: plays a short demo from examples/ through the sound card.
# Without a sound card it says so and renders the demo silently (as fast as
# the machine can), so the run always ends.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
demo=examples/osc_filter.chip
if [ -d /dev/snd ] || [ "$(uname)" = Darwin ]; then
  echo "fluvane: playing $demo through the sound card"
  exec "$build/bin/chip" "$demo"
fi
echo "fluvane: no sound card found; rendering $demo silently"
exec "$build/bin/chip" --silent "$demo"
