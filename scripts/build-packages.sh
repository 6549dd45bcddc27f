#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian packages from a build folder configured with
# -DCMAKE_INSTALL_PREFIX=/usr (the test command's default preset is), then
# checks them with lintian: no error, and no warning that an override in the
# package does not explain. The packages land in BUILD/packages.
#
#   scripts/build-packages.sh [BUILD]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
if [ "$prefix" != /usr ]; then
  echo "build-packages: $build is configured for $prefix; packages need -DCMAKE_INSTALL_PREFIX=/usr" >&2
  exit 2
fi

out="$build/packages"
rm -rf "$out" && mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null) || {
  echo "build-packages: cpack failed; its log:" >&2
  cat "$build"/packages/_CPack_Packages/*/DEB/*.log 2>/dev/null >&2 || true
  exit 1
}
rm -rf "$out/_CPack_Packages"

# CPack writes an ldconfig call into postinst and postrm of every package
# with a shared object under /usr/lib. The provider's libraries are private
# (loaded by path, never through the linker's cache), so mailbroker needs no
# script; libmailbroker1's public library needs the ldconfig trigger that
# Debian uses instead of the call.
fix_ldconfig() {
  local deb=$1 trigger=$2 tree
  tree=$(mktemp -d)
  dpkg-deb -R "$deb" "$tree"
  if grep -qs ldconfig "$tree/DEBIAN/postinst" "$tree/DEBIAN/postrm"; then
    for script in postinst postrm; do
      # Only the generated scripts go: each is the ldconfig call and nothing else.
      if [ -f "$tree/DEBIAN/$script" ]; then
        if grep -v -e '^#!' -e '^set -e' -e '^[[:space:]]*$' -e ldconfig -e '^fi' -e '^if ' \
            "$tree/DEBIAN/$script" | grep -q .; then
          echo "build-packages: $(basename "$deb") $script does more than ldconfig:" >&2
          cat "$tree/DEBIAN/$script" >&2
          exit 1
        fi
        rm "$tree/DEBIAN/$script"
      fi
    done
    if [ "$trigger" = yes ]; then
      echo "activate-noawait ldconfig" >"$tree/DEBIAN/triggers"
      chmod 644 "$tree/DEBIAN/triggers"
    fi
    dpkg-deb --root-owner-group -Zxz -b "$tree" "$deb" >/dev/null
  fi
  rm -rf "$tree"
}
for deb in "$out"/*.deb; do
  case "$(dpkg-deb --field "$deb" Package)" in
    libmailbroker[0-9]*) fix_ldconfig "$deb" yes ;;
    *) fix_ldconfig "$deb" no ;;
  esac
done
ls -l "$out"/*.deb
for deb in "$out"/*.deb; do
  echo "-- $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Architecture Depends Recommends | sed 's/^/   /'
done

echo "== lintian"
# Tags at info level and below are advice; errors and warnings fail the run.
lintian --fail-on error,warning --tag-display-limit 0 "$out"/*.deb
echo "lintian: no errors or warnings"
