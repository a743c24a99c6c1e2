#!/usr/bin/env bash
# Sets up, builds and runs Kavlo's main job on the bundled example video:
# renders seconds 1 to 2.5 as a ping-pong MP4 (three loops, with sound) and
# GIF, then, when a display is available, plays the MP4 in a loop with the
# example as the scrub source (tools/player-demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
out="${TMPDIR:-/tmp}"
build/tools/kavlo-render/kavlo-render resources/example.mp4 -o "$out/example-kavlo.mp4" \
  --start 1 --end 2.5 --loops 3
build/tools/kavlo-render/kavlo-render resources/example.mp4 -o "$out/example-kavlo.gif" \
  --start 1 --end 2.5
echo "wrote $out/example-kavlo.mp4 and $out/example-kavlo.gif"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/tools/player-demo/player-demo "$out/example-kavlo.mp4" resources/example.mp4
fi
