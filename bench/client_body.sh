#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a body costs mailbroker-client, --body beside --body-file, and neomutt
# sending the same message (see bench/client_body.py).
#
#   bash bench/client_body.sh [ROUNDS]      (default 20)
#   MB_BENCH_BUILD_DIR=build/bench-release bash bench/client_body.sh
set -euo pipefail

. "$(dirname "$0")/release_build.sh"
mb_build_bench mailbroker-client mailbroker mapi32 mbmime
python3 "$root/bench/client_body.py" "$build/bin" "$@"
