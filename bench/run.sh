#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds mb_bench, runs it with console output, and prints our throughput next
# to the reference implementation's (libcurl for escaping, iconv for the UTF-16
# round trip) for every input and size, then MB/s across sizes per case.
#
#   bench/run.sh [benchmark flags...]      e.g. --benchmark_filter=encode
#   MB_BENCH_BUILD_DIR=build/mine bench/run.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${MB_BENCH_BUILD_DIR:-$root/build/default}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

if [[ ! -f $build/build.ninja ]]; then
  if [[ $build == "$root/build/default" ]]; then
    cmake --preset default -S "$root"
  else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
fi
cmake --build "$build" --target mb_bench -j2

json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/mb_bench" --benchmark_format=console \
  --benchmark_out="$json" --benchmark_out_format=json "$@"

python3 - "$json" <<'EOF'
import json
import sys

REFERENCE = {"encode": "curl", "decode": "curl", "roundtrip": "iconv"}

with open(sys.argv[1]) as f:
    runs = json.load(f)["benchmarks"]

# name: <op>/<input>/<impl>/<size>[/min_time:..|/iterations:..]
rates = {}
errors = {}
for run in runs:
    if run.get("run_type", "iteration") != "iteration":
        continue
    op, inp, impl, size = run["name"].split("/")[:4]
    key = (op, inp, int(size))
    if run.get("error_occurred"):
        errors[key + (impl,)] = run.get("error_message", "error")
        continue
    rates.setdefault(key, {})[impl] = run["bytes_per_second"] / 1e6


def mib(size):
    return f"{size // (1 << 20)} MiB"


print()
print("MB/s = 10^6 input bytes per second of CPU time; ratio = ours / reference")
header = f"{'operation':<10} {'input':<13} {'size':>7} {'ours':<14} {'ours MB/s':>10} " \
         f"{'reference':<9} {'ref MB/s':>9} {'ratio':>6}"
print(header)
print("-" * len(header))
keys = sorted(set(rates) | {k[:3] for k in errors},
              key=lambda k: (list(REFERENCE).index(k[0]), k[1], k[2]))
for key in keys:
    op, inp, size = key
    ref_name = REFERENCE[op]
    got = rates.get(key, {})
    ref = got.get(ref_name)
    ours = sorted({i for i in got if i != ref_name} |
                  {k[3] for k in errors if k[:3] == key and k[3] != ref_name})
    for impl in ours:
        if impl not in got:
            print(f"{op:<10} {inp:<13} {mib(size):>7} {impl:<14} "
                  f"FAILED: {errors[key + (impl,)]}")
            continue
        ref_text = f"{ref:9.1f}" if ref is not None else f"{'FAILED':>9}"
        ratio = f"{got[impl] / ref:6.2f}" if ref else f"{'-':>6}"
        print(f"{op:<10} {inp:<13} {mib(size):>7} {impl:<14} {got[impl]:10.1f} "
              f"{ref_name:<9} {ref_text} {ratio}")

print()
print("Linearity: MB/s per size; equal figures mean time grows in proportion to size")
cases = sorted({(op, inp, impl) for (op, inp, _), d in rates.items() for impl in d},
               key=lambda c: (list(REFERENCE).index(c[0]), c[1], c[2]))
sizes = sorted({k[2] for k in rates})
print(f"{'case':<38}" + "".join(f"{mib(s):>10}" for s in sizes) + f"{'last/first':>12}")
for op, inp, impl in cases:
    row = [rates.get((op, inp, s), {}).get(impl) for s in sizes]
    cells = "".join(f"{r:10.1f}" if r is not None else f"{'-':>10}" for r in row)
    trend = f"{row[-1] / row[0]:12.2f}" if row[0] and row[-1] else f"{'-':>12}"
    print(f"{op + '/' + inp + '/' + impl:<38}{cells}{trend}")

if errors:
    print()
    print(f"{len(errors)} case(s) failed their output check; see above.")
    sys.exit(1)
EOF
