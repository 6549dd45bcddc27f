#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages on a fresh Debian 12, as a host developer would use them:
# debootstrap a minimal bookworm root, `apt install` the packages made by
# scripts/build-packages.sh there (with a compiler and pkg-config), then send
# four messages to a loopback SMTP server that runs outside the root (the
# root shares the machine's network):
#   1. mailbroker-client send, with an attachment;
#   2. a ten-line C program built in the root against the installed header
#      and library, found with pkg-config;
#   3. the C example host's send function, headless (--send);
#   4. the Python example host.
# Takes minutes (debootstrap, then apt); run as root, with the network that
# apt-get uses. Part of scripts/long-checks.sh, not of the test command.
#
#   scripts/fresh-root-check.sh [BUILD]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${1:-build/default}
root=${FRESH_ROOT:-$build/fresh-root}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

. scripts/packages.sh
mb_install_packages debootstrap python3-aiosmtpd

debs=("$build"/packages/*.deb)
[ -f "${debs[0]}" ] || { echo "fresh-root-check: no packages in $build/packages; run scripts/build-packages.sh first" >&2; exit 2; }
example_c=$(find "$build/examples" -type f -name send-file -perm -u+x | head -n 1)
[ -n "$example_c" ] || { echo "fresh-root-check: the C example is not built in $build" >&2; exit 2; }

cleanup() {
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  umount "$root/proc" 2>/dev/null || true
}
trap cleanup EXIT

echo "== a fresh Debian 12 root in $root"
umount "$root/proc" 2>/dev/null || true
rm -rf "$root"
start=$(date +%s)
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$build/fresh-root.log" 2>&1 || {
  tail -n 30 "$build/fresh-root.log" >&2; exit 1; }
mount -t proc proc "$root/proc"
echo "   made in $(( $(date +%s) - start )) s"

echo "== apt install the packages, a compiler and pkg-config"
mkdir -p "$root/tmp/debs" "$root/tmp/host"
cp "${debs[@]}" "$root/tmp/debs/"
cp "$example_c" "$root/tmp/host/send_file"
cp examples/python/send_file.py "$root/tmp/host/send_file.py"
cp tests/fresh_root/ten_lines.c "$root/tmp/host/ten_lines.c"
start=$(date +%s)
chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive sh -c \
  'apt-get update -qq && apt-get install -y -qq /tmp/debs/*.deb gcc libc6-dev pkg-config' \
  >>"$build/fresh-root.log" 2>&1 || { tail -n 30 "$build/fresh-root.log" >&2; exit 1; }
echo "   installed in $(( $(date +%s) - start )) s"
chroot "$root" dpkg-query -W mailbroker mailbroker-dialogs libmailbroker1 libmailbroker-dev \
  python3-mailbroker | sed 's/^/   /'

received=$(mktemp -d)
coproc SMTP { exec /usr/bin/python3 "$repo/tests/smtp/smtp_server.py" --dir "$received"; }
server=$SMTP_PID
read -r port <&"${SMTP[0]}"
mkdir -p "$root/root/.config/mailbroker" "$root/tmp/run"
chmod 700 "$root/tmp/run"
printf '[profile Default]\ndefault = true\nsender_address = me@example.org\ntransport = smtp://127.0.0.1:%s\ntimeout = 10\n' \
  "$port" >"$root/root/.config/mailbroker/profiles.ini"
echo "the figures" >"$root/tmp/host/report.txt"
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/bin:/bin LANG=C.UTF-8 \
    XDG_RUNTIME_DIR=/tmp/run "$@"
}

echo "== 1. mailbroker-client send"
in_root mailbroker-client send --silent --to one@example.org --subject "one" \
  --body "From the client." --attach /tmp/host/report.txt
echo "== 2. a ten-line C program, built with pkg-config in the root"
in_root sh -c 'cd /tmp/host && gcc -o ten_lines ten_lines.c $(pkg-config --cflags --libs mailbroker) && ./ten_lines /tmp/host/report.txt two@example.org'
echo "== 3. the C example host, headless"
in_root /tmp/host/send_file --send /tmp/host/report.txt --to three@example.org
echo "== 4. the Python example host"
in_root python3 /tmp/host/send_file.py /tmp/host/report.txt four@example.org

for _ in $(seq 1 300); do
  [ "$(find "$received" -name '*.eml' | wc -l)" -ge 4 ] && break
  sleep 0.1
done
count=$(find "$received" -name '*.eml' | wc -l)
echo "== the loopback server received $count of 4 messages"
grep -l "dGhlIGZpZ3VyZXMK" "$received"/*.eml | wc -l | sed 's/^/   with the attachment: /'
rm -rf "$received"
[ "$count" -eq 4 ] || exit 1
echo "== fresh root: all passed"
