# SPDX-License-Identifier: MIT
# Sourced by the benchmark scripts: sets $root and $build (MB_BENCH_BUILD_DIR,
# by default build/bench-release, relative to the checkout), configures a
# Release build there once, and builds the targets given to mb_build_bench.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MB_BENCH_BUILD_DIR:-$root/build/bench-release}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

mb_build_bench() {
  if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMB_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target "$@" -j2 >/dev/null
}
