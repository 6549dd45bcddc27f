#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole suite from a fresh Debian 12 machine: install what is missing
# (as root), then build and test the default and sanitizer presets, run the
# threaded tests under the thread sanitizer, run the platform layer's tests
# built for Windows under Wine, and run each fuzz target for a while under
# both sanitizers.
#
#   FUZZ_SECONDS=20   seconds per fuzz target (0 skips fuzzing); the targets are
#                     listed in fuzz/targets.txt
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
mb_install_packages "${MB_BUILD_PACKAGES[@]}" clang libclang-rt-14-dev libgtest-dev \
  libbenchmark-dev python3 g++-mingw-w64-x86-64-posix wine wine64 googletest \
  xdg-utils "${MB_TEST_PACKAGES[@]}"

jobs=$(nproc)

echo "== layering: every include follows the table in README.md"
python3 scripts/check_layering.py
echo "== licence: every source file carries its SPDX line"
python3 scripts/spdx.py

echo "== default preset"
# Installed to /usr: the Debian packages are made from this build.
cmake --preset default -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default

echo "== Debian packages, checked with lintian"
bash scripts/build-packages.sh build/default

echo "== sanitizer preset (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
# Reports go to files as well as failing the run: a Broker's stderr is
# /dev/null, so a report from a Broker under test would otherwise be lost.
reports="$PWD/build/sanitize/reports"
rm -rf "$reports" && mkdir -p "$reports"
if ! ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:log_path=$reports/asan" \
  UBSAN_OPTIONS="print_stacktrace=1:log_path=$reports/ubsan" ctest --preset sanitize; then
  for report in "$reports"/*; do
    [ -f "$report" ] && { echo "-- $report"; cat "$report"; }
  done
  exit 1
fi

echo "== thread sanitizer preset (the platform layer's, the Broker's process and the delivery tests)"
bash scripts/tsan-tests.sh

echo "== the platform layer's tests for Windows, under Wine"
JOBS="$jobs" bash scripts/wine-tests.sh

seconds=${FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing, ${seconds}s per target"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  for target in $(grep -v '^#' fuzz/targets.txt); do
    corpus="build/fuzz/corpus-$target"
    mkdir -p "$corpus"
    echo "-- $target"
    ASAN_OPTIONS=detect_leaks=1 "build/fuzz/fuzz/$target" "$corpus" fuzz/seeds/$target \
      -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" 2>&1 | tail -n 12
  done
fi
echo "== all passed"
