#!/usr/bin/env bash
# Builds the tests of the threaded modules (playback, session, analytics)
# with ThreadSanitizer (clang, in build-tsan/) and runs them. Qt and FFmpeg
# themselves are not instrumented; tests/tsan.supp names the reports that
# come from inside them, each with the reason it is not ours.
#
#   scripts/tsan.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --packages-only
build=build-tsan
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVLO_TSAN=ON -DKAVLO_BUILD_BENCH=OFF
fi
binaries=(tests/playback/playback_tests tests/session/session_tests
  tests/session/session_files_tests tests/analytics/kavlo_analytics_tests)
cmake --build "$build" --target playback_tests session_tests session_files_tests \
  kavlo_analytics_tests

export QT_QPA_PLATFORM=offscreen
# No sound device, as in CI (see tests/playback/CMakeLists.txt).
export PULSE_SERVER=unix:/nonexistent/kavlo-tests-have-no-sound
# Accesses made by the uninstrumented libraries through the sanitizer's
# interceptors (memset, free, ...) are theirs to order, not ours.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp ignore_noninstrumented_modules=1 second_deadlock_stack=1 history_size=4"
# Tests that start child processes with QProcess (the queue file's writer,
# the fake converter) are left out: QProcess starts them with a raw clone()
# that the sanitizer's runtime cannot follow (it aborts in its fork hook).
skip="*KillingTheWriter*:Conversion.*:*AConvertedSource*"
status=0
for binary in "${binaries[@]}"; do
  echo "tsan: $binary" >&2
  "$build/$binary" --gtest_filter="${1:-*}-$skip" --gtest_brief=1 || status=1
done
exit $status
