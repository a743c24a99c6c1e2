#!/usr/bin/env bash
# Takes the software-centre screenshots of the real program on the example
# video, at 1x and at 2x (QT_SCALE_FACTOR=2), under Xvfb, once the looping
# preview plays: resources/screenshots/main-window.png and main-window@2x.png.
# Their sizes are written into the AppStream data.
#
#   scripts/screenshots.sh [display-number]     (default 99)
#
# The program is build-app's (built as scripts/run.sh does), or $KAVLO_PROGRAM.
set -euo pipefail
cd "$(dirname "$0")/.."
display=":${1:-99}"
program="${KAVLO_PROGRAM:-}"
if [ -z "$program" ]; then
  scripts/setup.sh build-app -DKAVLO_BUILD_TESTS=OFF -DKAVLO_BUILD_BENCH=OFF
  program=build-app/src/app/kavlo
fi
out=resources/screenshots
mkdir -p "$out"

shoot() { # scale file
  local scale="$1" file="$2" xvfb kavlo window
  Xvfb "$display" -screen 0 "$((1400 * $1))x$((1000 * $1))x24" -nolisten tcp &
  xvfb=$!
  sleep 1
  # No analytics or update requests from a screenshot session.
  DISPLAY="$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" KAVLO_API_BASE_URL= \
    "$program" resources/example.mp4 >/dev/null 2>&1 &
  kavlo=$!
  window=""
  for _ in $(seq 100); do
    window="$(DISPLAY="$display" xdotool search --onlyvisible --name '^Kavlo$' 2>/dev/null | head -1)" || true
    [ -n "$window" ] && break
    sleep 0.2
  done
  # The preview is rendered and loops, the thumbnails are in.
  sleep "${KAVLO_SCREENSHOT_SETTLE:-25}"
  DISPLAY="$display" import -window "$window" "$file"
  kill "$kavlo" "$xvfb"
  wait "$kavlo" "$xvfb" 2>/dev/null || true
}

shoot 1 "$out/main-window.png"
shoot 2 "$out/main-window@2x.png"

metainfo=resources/desktop/com.tarsel.kavlo.metainfo.xml
size() { identify -format '%w %h\n' "$1"; }
read -r w1 h1 < <(size "$out/main-window.png")
read -r w2 h2 < <(size "$out/main-window@2x.png")
sed -i -E \
  -e "s#(<image type=\"source\") width=\"[0-9]+\" height=\"[0-9]+\"#\\1 width=\"$w2\" height=\"$h2\"#" \
  -e "s#(<image type=\"thumbnail\") width=\"[0-9]+\" height=\"[0-9]+\"#\\1 width=\"$w1\" height=\"$h1\"#" \
  "$metainfo"
echo "screenshots: $out/main-window.png (${w1}x${h1}), $out/main-window@2x.png (${w2}x${h2})"
