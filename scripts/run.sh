#!/usr/bin/env bash
# Sets up, builds the application (without the tests and benchmarks, in a
# build directory of its own) and starts Kavlo on the bundled example video.
# Without a display there is no window to open: it says so and renders the
# example's seconds 1 to 2.5 as a ping-pong MP4 (three loops, with sound)
# and GIF with kavlo-render instead.
#
#   scripts/run.sh [video]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build-app
scripts/setup.sh "$build_dir" -DKAVLO_BUILD_TESTS=OFF -DKAVLO_BUILD_BENCH=OFF
# The copy the app itself knows as its example, so it is treated as one.
video="${1:-$build_dir/src/app/example.mp4}"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build_dir/src/app/kavlo" "$video"
fi

echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so Kavlo's window" \
  "cannot open; rendering $video with kavlo-render instead" >&2
out="${TMPDIR:-/tmp}"
name="$(basename "${video%.*}")"
"$build_dir/tools/kavlo-render/kavlo-render" "$video" -o "$out/$name-kavlo.mp4" \
  --start 1 --end 2.5 --loops 3
"$build_dir/tools/kavlo-render/kavlo-render" "$video" -o "$out/$name-kavlo.gif" \
  --start 1 --end 2.5
echo "wrote $out/$name-kavlo.mp4 and $out/$name-kavlo.gif"
