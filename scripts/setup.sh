#!/usr/bin/env bash
# Installs every Debian package Kavlo needs to build, test and run, then
# configures and builds it. Safe to run again: when everything is installed
# it skips apt entirely and only rebuilds what changed.
#
#   scripts/setup.sh [build-dir] [extra cmake args...]
#   scripts/setup.sh --packages-only
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format mold
  # media layer, and the ffmpeg command line for test media and benchmarks
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libimagequant-dev libgif-dev
  # animated WebP (libwebp's animation encoder), and its command-line tools
  # for looking inside the files (webpmux -info)
  libwebp-dev webp
  # Qt, and its Wayland platform so that the program runs natively there
  qt6-base-dev qt6-multimedia-dev libgl-dev qt6-wayland
  # the window manager's aspect hints on X11
  libxcb1-dev
  # tests and benchmarks; pulseaudio gives the playback benchmark a null
  # sound device on headless machines (bench/playback/null-sink.sh)
  libgtest-dev libgmock-dev googletest libbenchmark-dev pulseaudio pulseaudio-utils
  # the GIF benchmark's screen-recording source draws text in DejaVu Sans
  fonts-dejavu-core
  # driving the GUI headless, with a window manager, and checking the
  # desktop entry
  xvfb xauth xdotool imagemagick openbox x11-utils desktop-file-utils
  # fuzzing (libFuzzer) and the ThreadSanitizer build: clang and its runtimes
  clang libclang-rt-14-dev
)

. scripts/lib/packages.sh
ensure_packages "${packages[@]}"

if [ "${1:-}" = "--packages-only" ]; then
  exit 0
fi

build_dir="${1:-build}"
shift || true
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja "$@"
fi
cmake --build "$build_dir"
