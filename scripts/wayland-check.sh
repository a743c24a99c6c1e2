#!/usr/bin/env bash
# Runs Kavlo as a native Wayland client under weston's headless compositor,
# with no X display to fall back on, and keeps screenshots of what it shows
# (weston's screenshooter) in wayland-check/:
#
#   program.png, program@2x.png  the program on the example video, on an output
#                                of scale 1 and of scale 2
#   preview, resized, dropped, save-panel (each also @2x)
#                                the checks of app_desktop_checks: the preview,
#                                a resize off the video's shape refitted once
#                                it rests, a 4:3 video dropped on the
#                                window, and the save panel
#
#   scripts/wayland-check.sh [build-dir]    (default build-asan, configured
#                                            as in the README if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${1:-build-asan}"
out="$root/wayland-check"

. scripts/lib/packages.sh
ensure_packages weston qt6-wayland
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DKAVLO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi
cmake --build "$build" --target kavlo app_desktop_checks

runtime="$(mktemp -d)"
chmod 700 "$runtime"
socket="kavlo-wayland-check-$$"
weston_pid=""
cleanup() {
  [ -n "$weston_pid" ] && stop_weston
  rm -rf "$runtime"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$runtime"
# --debug lets the screenshooter client in; pixman draws, so that there is
# something to shoot. The 2x pass is an output of scale 2, as a HiDPI screen
# is: Qt takes the density from the compositor.
start_weston() { # scale
  rm -f "$runtime/$socket" "$runtime/$socket.lock"
  weston --backend=headless-backend.so --socket="$socket" --use-pixman --width=1280 \
    --height=1000 --scale="$1" --debug --idle-time=0 >"$runtime/weston.log" 2>&1 &
  weston_pid=$!
  for _ in $(seq 50); do
    [ -S "$runtime/$socket" ] && return 0
    sleep 0.2
  done
  cat "$runtime/weston.log" >&2
  exit 1
}
stop_weston() {
  kill "$weston_pid" 2>/dev/null || true
  wait "$weston_pid" 2>/dev/null || true
  weston_pid=""
}

rm -rf "$out"
mkdir -p "$out"
# Screenshots are named after what they show, with the scale's suffix.
cat >"$runtime/shoot" <<SHOOT
#!/bin/sh
set -e
dir=\$(mktemp -d)
cd "\$dir" && WAYLAND_DISPLAY=$socket weston-screenshooter >/dev/null
mv "\$dir"/*.png "$out/\$1\${KAVLO_CHECK_SUFFIX:-}.png"
rmdir "\$dir"
SHOOT
chmod +x "$runtime/shoot"

# Nothing may reach X: no DISPLAY, and no analytics or update requests.
run() {
  env -u DISPLAY WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland KAVLO_API_BASE_URL= \
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" "$@"
}

status=0
for scale in 1 2; do
  suffix=""
  [ "$scale" = 2 ] && suffix="@2x"
  start_weston "$scale"
  # The program as a user starts it; it must still be running when shot.
  run "$build/src/app/kavlo" resources/example.mp4 \
    >"$runtime/kavlo.log" 2>&1 &
  kavlo=$!
  sleep "${KAVLO_CHECK_SETTLE:-20}"
  if kill -0 "$kavlo" 2>/dev/null; then
    KAVLO_CHECK_SUFFIX="$suffix" "$runtime/shoot" program
    kill "$kavlo"
    wait "$kavlo" 2>/dev/null || true
  else
    echo "wayland-check: kavlo exited early:" >&2
    cat "$runtime/kavlo.log" >&2
    status=1
  fi
  run env KAVLO_CHECK_SUFFIX="$suffix" \
    KAVLO_CHECK_SCREENSHOT="$runtime/shoot" KAVLO_CHECK_EXAMPLE="$root/resources/example.mp4" \
    "$build/tests/app/app_desktop_checks" --gtest_filter='WaylandCheck.*' || status=1
  stop_weston
done
ls "$out"
exit "$status"
