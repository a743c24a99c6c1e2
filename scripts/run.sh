#!/usr/bin/env bash
# Sets up, builds and runs Kavlo's main job on the bundled example video.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
out="${TMPDIR:-/tmp}/example-kavlo.mp4"
build/tools/kavlo-render/kavlo-render resources/example.mp4 -o "$out" --start 1 --end 2.5 --loops 3
echo "wrote $out"
