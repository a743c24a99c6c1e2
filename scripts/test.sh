#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once in a normal build and
# once under AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes
# each fuzz target for a short while (scripts/fuzz.sh). The ThreadSanitizer
# run (scripts/tsan.sh) takes longer than CI allows and is run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

scripts/setup.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

scripts/setup.sh build-asan -DKAVLO_SANITIZE=ON -DKAVLO_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# A quarter of a minute per target: long enough to catch a regression in
# how a reader treats odd input, short enough for CI.
scripts/fuzz.sh 15
