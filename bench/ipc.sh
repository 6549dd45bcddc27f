#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Request latency and throughput of the pipe path, all in one run: the raw
# Unix socket ping-pong, the same exchange echoed by a bare server on our pipe
# layer, and real round trips through a Broker (no provider installed), then
# connect cycles and 32 concurrent clients. Prints the two ratios with targets.
#
#   MB_BENCH_BUILD_DIR=build/bench-release bench/ipc.sh
set -euo pipefail

. "$(dirname "$0")/release_build.sh"
mb_build_bench mb_pipe_bench mb_broker_bench

pipe_json=$(mktemp)
broker_json=$(mktemp)
trap 'rm -f "$pipe_json" "$broker_json"' EXIT
"$build/bench/mb_pipe_bench" --benchmark_out="$pipe_json" --benchmark_out_format=json
"$build/bench/mb_broker_bench" --benchmark_out="$broker_json" --benchmark_out_format=json

python3 - "$pipe_json" "$broker_json" <<'PY'
import json, sys
runs = {}
for path in sys.argv[1:]:
    with open(path) as f:
        for r in json.load(f)["benchmarks"]:
            if r.get("run_type", "iteration") == "iteration" and not r.get("error_occurred"):
                runs[r["name"].split("/")[0]] = r
def median(name):
    return runs[name]["median_us"] if name in runs else float("nan")
raw, pipe, broker = median("BM_RawSocketEcho"), median("BM_PipeEcho"), median("RoundTrip")
print()
print(f"median round trip: raw socket {raw:.1f} us, pipe layer {pipe:.1f} us, Broker {broker:.1f} us")
print(f"pipe layer / raw socket = {pipe / raw:.2f}  (target <= 1.5)")
print(f"Broker / pipe layer     = {broker / pipe:.2f}  (target <= 2.0)")
for name, label in (("ConnectCycle", "connect + request + close"), ("Concurrent", "32 concurrent clients")):
    hits = [r for n, r in runs.items() if n == name]
    if hits:
        print(f"{label}: {hits[0]['items_per_second']:.0f} requests/s")
PY
