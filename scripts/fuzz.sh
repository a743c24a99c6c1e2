#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz/), and runs each for the given
# number of seconds, starting from small seed files made with the ffmpeg
# command line plus whatever earlier runs found (build-fuzz/corpus/).
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Targets: probe segment_pictures segment_sound queue_file update_info
# (default: all).
# A crash, leak, time-out or memory blow-up stops that target and keeps its
# input in build-fuzz/artifacts/<target>/; once fixed, copy it to
# tests/fuzz/regressions/<target>/, where the test suite replays it. Exits
# non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(probe segment_pictures segment_sound queue_file update_info)
fi

scripts/setup.sh --packages-only
build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVLO_FUZZ=ON -DKAVLO_BUILD_TESTS=OFF -DKAVLO_BUILD_BENCH=OFF
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# Seeds: a few tenths of a second in many containers and codecs, small
# enough for the mutations to reach every part of them.
seeds="$build/seeds"
if [ ! -d "$seeds/media" ]; then
  mkdir -p "$seeds/media.tmp" "$seeds/queue_file"
  make_seed() {
    local name=$1
    shift
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=32x24:r=10:d=0.5 \
      -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.5" "$@" \
      "$seeds/media.tmp/$name" || echo "fuzz: no seed $name (encoder missing)" >&2
  }
  make_seed h264-aac.mp4 -c:v libx264 -preset ultrafast -g 3 -c:a aac
  make_seed h264-aac-front.mp4 -c:v libx264 -preset ultrafast -bf 2 -c:a aac -movflags +faststart
  make_seed mjpeg-pcm.mov -c:v mjpeg -c:a pcm_s16le
  make_seed vp8-vorbis.webm -c:v libvpx -c:a libvorbis
  make_seed mpeg4-mp3.avi -c:v mpeg4 -c:a libmp3lame
  make_seed mpeg2-mp2.ts -c:v mpeg2video -c:a mp2
  make_seed flv1-adpcm.flv -c:v flv1 -c:a adpcm_swf -ar 22050
  make_seed ffv1-flac.mkv -c:v ffv1 -c:a flac
  make_seed theora-opus.ogg -c:v libtheora -c:a libopus -ar 48000
  make_seed rawvideo.nut -c:v rawvideo -pix_fmt yuv420p -an
  make_seed picture.gif -an
  make_seed sound.wav -vn
  mv "$seeds/media.tmp" "$seeds/media"
  printf '[]' >"$seeds/queue_file/empty.json"
  printf '[{"id":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427","name":"mac_app_session_started","timestamp":"2025-03-01T09:15:42Z","properties":{}}]' \
    >"$seeds/queue_file/one.json"
  printf '[{"id":"A","name":"mac_app_export_failed","timestamp":"2025-03-01T09:15:42+02:00","properties":{"reason":"media","format":"gif"}},{"id":"B","name":"x","timestamp":"1999-12-31T23:59:59Z","properties":{"k":"\\u00e9\\ud83d\\udc4d"}}]' \
    >"$seeds/queue_file/two.json"
fi
if [ ! -d "$seeds/update_info" ]; then
  mkdir -p "$seeds/update_info"
  printf '{"version":"2.1","build":42,"downloadUrl":"https://kavlo.app/download","sha256":null,"releaseNotes":"Faster GIFs."}' \
    >"$seeds/update_info/null-sha.json"
  printf '{"releaseNotes":"\\u00e9t\\u00e9\\n","sha256":"9f86d081884c7d65","build":9007199254740993,"extra":[1,{"a":null}],"downloadUrl":"kavlo:/x?y#z","version":""}' \
    >"$seeds/update_info/unusual.json"
fi

failed=()
for target in "${targets[@]}"; do
  seedDir="$seeds/media"
  dict=(-dict=fuzz/media.dict)
  if [ "$target" = queue_file ] || [ "$target" = update_info ]; then
    seedDir="$seeds/$target"
    dict=()
  fi
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
  echo "fuzz: $target for ${seconds}s" >&2
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 "${dict[@]}" -artifact_prefix="$build/artifacts/$target/" \
      "$build/corpus/$target" "$seedDir" 2>"$build/fuzz-$target.log"; then
    failed+=("$target")
    tail -n 40 "$build/fuzz-$target.log" >&2
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' \
    "$build/fuzz-$target.log" | sed "s/^/fuzz: $target /" >&2 || true
done
if ((${#failed[@]})); then
  echo "fuzz: failed: ${failed[*]} (inputs in $build/artifacts/)" >&2
  exit 1
fi
