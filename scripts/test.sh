#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite, in one build under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/: the tests,
# the tools and the benchmarks, which are compiled but not run); then fuzzes
# each fuzz target for a short while (scripts/fuzz.sh). The ThreadSanitizer
# run (scripts/tsan.sh) takes longer than CI allows and is run by hand.
#
# Every test passes in a plain build too (`ctest --test-dir build` after
# scripts/setup.sh); CI runs them once, where they find the most.
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# Line tables are all a sanitizer report needs (-g1): full debug information
# makes every object twice the size and the links slower. Each test binary
# runs as a few shards, not one process per test (cmake/KavloTests.cmake).
scripts/setup.sh build-asan -DKAVLO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DKAVLO_CTEST_SHARDS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Twelve seconds per target, a minute in all: long enough to catch a
# regression in how a reader treats odd input, short enough for CI.
scripts/fuzz.sh 12
