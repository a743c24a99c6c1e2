#!/usr/bin/env bash
# Regenerates resources/example.mp4: five seconds of a Mandelbrot zoom with a
# rising stereo tone, so that a ping-pong loop of it is easy to see and hear.
# Everything is synthetic; no third-party footage.
set -euo pipefail
cd "$(dirname "$0")/.."
left='0.25*sin(2*PI*(330*t+60*t*t))*(0.6+0.4*sin(2*PI*2*t))'
right='0.25*sin(2*PI*(330*t+60*t*t)+0.5)*(0.6+0.4*sin(2*PI*2*t))'
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "mandelbrot=size=854x480:rate=30:start_scale=3:end_scale=0.05:end_pts=150:inner=convergence" \
  -f lavfi -i "aevalsrc=${left}|${right}:s=48000:d=5" \
  -t 5 -c:v libx264 -preset slow -crf 27 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -movflags +faststart -shortest resources/example.mp4
