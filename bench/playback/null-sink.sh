#!/usr/bin/env bash
# Runs a command with a sound device on a headless machine: a private
# PulseAudio server with a null sink (sound goes nowhere, at the real rate),
# kept awake by a stream of silence so that a new stream starts at once (an
# idle null sink sleeps for up to two seconds before it serves a newcomer,
# which no real device does). Nothing outside the command sees this server.
#
#   bench/playback/null-sink.sh build/bench/playback/playback-bench
set -euo pipefail

dir=$(mktemp -d /tmp/kavlo-null-sink.XXXXXX)
socket="$dir/native"
export HOME="$dir" XDG_RUNTIME_DIR="$dir"

pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
  -L "module-null-sink sink_name=null" >"$dir/server.log" 2>&1 &
server=$!
cleanup() {
  kill "${keepalive:-}" 2>/dev/null || true
  kill "$server" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

export PULSE_SERVER="unix:$socket"
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pacat --latency-msec=20 --raw /dev/zero &
keepalive=$!
sleep 3 # the new sink's first long sleep ends

"$@"
