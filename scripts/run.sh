#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job on a fresh Debian 12 machine: install what is missing (as root),
# build the Broker, the provider and mailbroker-client (Release, in
# build/release), then start a Broker the way a host does and hand it one
# request through mailbroker-client, which prints the reply and says where the
# message went.
#
#   bash scripts/run.sh          # a silent send of a small generated file to someone@example.org
#   bash scripts/run.sh send --silent --to someone@example.org --subject Hi --attach FILE
#   bash scripts/run.sh profile  # any mailbroker-client command (see --help)
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
mb_install_packages "${MB_BUILD_PACKAGES[@]}"

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMB_BUILD_TESTS=OFF -DMB_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target mailbroker mailbroker-client mapi32 mbmime >/dev/null
client=$build/bin/mailbroker-client

if [ $# -gt 0 ]; then
  exec "$client" "$@"
fi

# The Broker reads the attachment while it composes, so the file can go once
# the client has returned.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
attachment=$scratch/mailbroker-hello.txt
printf 'Sent by mailbroker from %s at %s.\n' "$(hostname)" "$(date -u '+%Y-%m-%d %H:%M UTC')" >"$attachment"
"$client" send --silent --to someone@example.org --subject 'Hello from mailbroker' \
  --body 'The attached file was composed into this message by the Broker.' --attach "$attachment"
