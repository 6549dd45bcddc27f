#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tsan preset: the platform layer's tests, the Broker's process tests and
# the delivery tests under ThreadSanitizer, building only what they run.
# Reports from every process (a Broker's stderr is /dev/null) go to files
# under build/tsan/reports; any report fails the run, even from a test that
# passed. Suppressions, each with its reason, are in scripts/tsan.supp.
#
#   JOBS=2   parallel build and test jobs
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

# ThreadSanitizer maps its shadow memory at fixed addresses; with more than
# 28 bits of mmap randomisation (32 on recent kernels) a program's own
# mappings can land there, and every instrumented program dies at start.
bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo unknown)
if [ "$bits" = unknown ] || [ "$bits" -gt 30 ]; then
  echo "-- SKIPPED: vm.mmap_rnd_bits is $bits; ThreadSanitizer needs 30 or less" \
       "(sysctl vm.mmap_rnd_bits=28 allows it)"
  exit 0
fi

started=$SECONDS
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
built=$SECONDS

reports="$PWD/build/tsan/reports"
rm -rf "$reports" && mkdir -p "$reports"
status=0
TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp second_deadlock_stack=1 history_size=4 log_path=$reports/tsan" \
  ctest --preset tsan -j "$jobs" || status=$?
found=0
for report in "$reports"/*; do
  if [ -s "$report" ]; then
    echo "-- $report"
    cat "$report"
    found=1
  fi
done
echo "-- tsan: build $((built - started))s, tests $((SECONDS - built))s"
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "-- tsan: FAILED (ctest status $status, reports: $found)"
  exit 1
fi
