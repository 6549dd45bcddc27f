#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The long fuzz runs, outside CI: each target of fuzz/targets.txt runs until it
# has made LONG_RUNS executions (10^7) or spent LONG_SECONDS (2 hours),
# whichever comes first, under both sanitizers, at most LONG_JOBS (2) at a
# time and at the lowest priority, so that builds on the same machine go on.
#
#   bash scripts/long-checks.sh [TARGET...]   run (or go on with) the targets
#   bash scripts/long-checks.sh --report      what has been reached so far
#   bash scripts/long-checks.sh --fresh-root  the Debian packages installed
#       into a fresh Debian 12 root and used there (scripts/fresh-root-check.sh)
#
# A run may be stopped at any time (kill the script's process group, or end
# the session): what each target reached is kept in build/fuzz/long/, and the
# next start goes on from there with what is left of both budgets, on the
# corpus grown so far. A target that fails stops there with its input kept
# as build/fuzz/long/TARGET-crash-...; the script then exits non-zero.
set -uo pipefail
cd "$(dirname "$0")/.."

runs_budget=${LONG_RUNS:-10000000}
seconds_budget=${LONG_SECONDS:-7200}
jobs=${LONG_JOBS:-2}
state=build/fuzz/long
mkdir -p "$state"

# "executions seconds" reached so far by a target, over all sessions.
reached() {
  if [ -f "$state/$1.total" ]; then cat "$state/$1.total"; else echo "0 0"; fi
}

report() {
  printf '%-22s %12s %9s  %s\n' target executions seconds state
  for target in $(grep -v '^#' fuzz/targets.txt); do
    read -r execs secs < <(reached "$target")
    local what="running or stopped early"
    if [ -f "$state/$target.failed" ]; then
      what="FAILED: $(cat "$state/$target.failed")"
    elif [ "$execs" -ge "$runs_budget" ]; then
      what="done: $runs_budget executions"
    elif [ "$secs" -ge "$seconds_budget" ]; then
      what="done: $seconds_budget seconds"
    elif [ "$execs" -eq 0 ]; then
      what="not started"
    fi
    printf '%-22s %12s %9s  %s\n' "$target" "$execs" "$secs" "$what"
  done
}

if [ "${1:-}" = "--fresh-root" ]; then
  exec bash scripts/fresh-root-check.sh "${@:2}"
fi

if [ "${1:-}" = "--report" ]; then
  report
  exit 0
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(grep -v '^#' fuzz/targets.txt)
fi

echo "== building the fuzz preset (at the lowest priority)"
cmake --preset fuzz >/dev/null || exit 1
nice -n 19 cmake --build --preset fuzz -j "$jobs" || exit 1

# One session of one target, in the background of run_queue.
run_one() {
  local target=$1
  read -r execs secs < <(reached "$target")
  local runs_left=$((runs_budget - execs)) seconds_left=$((seconds_budget - secs))
  if [ -f "$state/$target.failed" ] || [ "$runs_left" -le 0 ] || [ "$seconds_left" -le 0 ]; then
    return 0
  fi
  local corpus="$state/corpus-$target" log="$state/$target.log"
  mkdir -p "$corpus"
  echo "-- $target: up to $runs_left executions or ${seconds_left}s"
  local started=$SECONDS status=0
  ASAN_OPTIONS=detect_leaks=1 nice -n 19 "build/fuzz/fuzz/$target" "$corpus" "fuzz/seeds/$target" \
    -runs="$runs_left" -max_total_time="$seconds_left" -max_len=4096 -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$state/$target-" \
    >"$log" 2>&1 &
  local pid=$!
  # Stopped from outside: pass it on, and still count what was reached.
  trap 'kill -INT $pid 2>/dev/null' INT TERM
  wait "$pid" || status=$?
  while kill -0 "$pid" 2>/dev/null; do wait "$pid" || status=$?; done
  trap - INT TERM
  local elapsed=$((SECONDS - started))
  # libFuzzer's final statistics (printed on an interrupt too) hold the count;
  # without them, its last status line ("#1234 ...") does.
  local done_runs
  done_runs=$(grep -aoE 'stat::number_of_executed_units: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$' || true)
  if [ -z "$done_runs" ]; then
    done_runs=$(grep -aoE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#' || true)
  fi
  done_runs=${done_runs:-0}
  echo "$((execs + done_runs)) $((secs + elapsed))" >"$state/$target.total"
  if grep -aqE 'ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer|LeakSanitizer)|property failed|runtime error:' "$log"; then
    grep -aoE "Test unit written to [^ ]+" "$log" | tail -n 1 >"$state/$target.failed"
    [ -s "$state/$target.failed" ] || echo "exit status $status, see $log" >"$state/$target.failed"
    echo "-- $target FAILED: $(cat "$state/$target.failed")"
    return 1
  fi
  echo "-- $target: $((execs + done_runs)) executions in $((secs + elapsed))s so far"
}

pids=()
failed=0
stop() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  wait
  report
  exit 130
}
trap stop INT TERM
for target in "${targets[@]}"; do
  # At most $jobs at once: wait for one to end before starting another.
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || failed=1
  done
  run_one "$target" &
  pids+=($!)
done
while [ "$(jobs -rp | wc -l)" -gt 0 ]; do
  wait -n || failed=1
done
report
exit "$failed"
