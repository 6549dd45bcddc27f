#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what is missing (as root),
# build the Broker, the provider and mailbroker-client (Release, in
# build/release), then start a Broker the way a host does and send it one
# request through mailbroker-client, printing the reply's fields.
#
#   bash scripts/run.sh                                  # AutoCompleteFileName
#   bash scripts/run.sh raw 'SendMail?to=a%40b.org'      # any client command
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
mb_install_packages "${MB_BUILD_PACKAGES[@]}"

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMB_BUILD_TESTS=OFF -DMB_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target mailbroker mailbroker-client mapi32 mbmime >/dev/null

if [ $# -eq 0 ]; then
  set -- raw 'AutoCompleteFileName?displayName='
fi
exec "$build/bin/mailbroker-client" "$@"
