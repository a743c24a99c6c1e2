#!/usr/bin/env bash
# Drags an exported file out of Kavlo onto another program's window under
# Xvfb and checks that the drop carries the file's URL. Not a ctest test: it
# needs a real X server, a window manager and pointer events (xdotool).
#
#   scripts/drag-out-check.sh [build-dir] [display]   (default build-asan, :83)
#
# Leaves drag-out-check/saved.png (the notice the drag starts from) and
# drag-out-check/drop.txt (what the target received).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${1:-build-asan}"
display="${2:-:83}"
out="$root/drag-out-check"

. scripts/lib/packages.sh
ensure_packages xvfb openbox xdotool imagemagick ffmpeg
cmake --build "$build" --target kavlo kavlo-drop-target

work="$(mktemp -d)"
mkdir -p "$work/runtime" "$work/tmp" "$out"
chmod 700 "$work/runtime"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  cp "$work/kavlo.log" "$out/kavlo.log" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export DISPLAY="$display"
if ! xdpyinfo >/dev/null 2>&1; then
  Xvfb "$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi

clip="$work/clip.mp4"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=640x360:rate=30:duration=3 \
  -pix_fmt yuv420p "$clip"
exported="$work/clip-kavlo.mp4"

XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work/tmp" KAVLO_API_BASE_URL=http://127.0.0.1:9 \
  "$build/src/app/kavlo" "$clip" >"$work/kavlo.log" 2>&1 &
kavlo=$!
pids+=($kavlo)
window="$(xdotool search --sync --pid "$kavlo" --name Kavlo | tail -1)"
for _ in $(seq 100); do
  ls "$work/tmp"/kavlo-preview-* >/dev/null 2>&1 && break
  sleep 0.3
done
sleep 2

# Export as MP4 > 3 loops, then Enter in the save panel.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool windowactivate --sync "$window"
xdotool mousemove $((X + WIDTH - 170)) $((Y + HEIGHT - 50)) click 1
sleep 0.5
xdotool key Down Down Down Return
sleep 1.5
xdotool key Return
for _ in $(seq 300); do
  grep -q "export done" "$work/kavlo.log" && break
  sleep 0.3
done
[ -s "$exported" ] || { echo "FAIL: the export never appeared"; exit 1; }
sleep 1
import -window root "$out/saved.png"

# The drop target to the right of the window.
targetX=$((X + WIDTH + 40))
targetY=$((Y + 100))
XDG_RUNTIME_DIR="$work/runtime" "$build/tests/app/kavlo-drop-target" "$targetX" "$targetY" >"$out/drop.txt" &
target=$!
pids+=($target)
xdotool search --sync --pid "$target" --name "Drop target" >/dev/null
sleep 0.5

# The notice sits centred over the bottom of the video area; its text
# ("Saved clip-kavlo.mp4") lies left of the centre, its buttons right.
fromX=$((X + WIDTH / 2 - 70))
fromY=$((Y + HEIGHT - 226))
xdotool mousemove "$fromX" "$fromY" mousedown 1
for step in $(seq 1 20); do
  xdotool mousemove $((fromX + (targetX + 100 - fromX) * step / 20)) \
    $((fromY + (targetY + 75 - fromY) * step / 20))
  sleep 0.05
done
sleep 0.3
xdotool mouseup 1
for _ in $(seq 50); do
  grep -q dropped "$out/drop.txt" && break
  sleep 0.1
done
cat "$out/drop.txt"
if grep -qx "url file://$exported" "$out/drop.txt"; then
  echo "PASS: the drop carried $exported"
else
  echo "FAIL: no file URL of $exported in the drop"
  exit 1
fi
