#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the platform layer's tests (pal/*_test.cpp) for 64-bit Windows with
# mingw-w64, against the real Win32 API and C runtime instead of our layer, and
# runs them under Wine as a reference. Then builds the mingw preset (every
# library that has a meaning on Windows, mailbroker.exe, mailbroker-client.exe
# and the stand-in mapi32.dll), runs its unit tests and the Windows process
# tests under Wine, and compares our MAPI declarations with mingw-w64's.
# Installs what is missing (as root). Exits non-zero if any test fails,
# crashes or hangs.
#
#   MINGW_CRT=ucrt|msvcrt   C runtime to link (default ucrt: what current
#                           Microsoft compilers link); msvcrt builds in
#                           build/mingw-msvcrt
#   JOBS=2                  parallel build jobs
#   WINE_TEST_TIMEOUT=240   seconds one run of the test program may take
#   WINE_TEST_FILTER='*'    which tests to run, e.g. 'CodePage.*:Tls.*'
#   MB_WINE_PAL_ONLY=1      only the platform layer's tests (not the preset)
#
# Extra arguments go to the test program, e.g. --gtest_repeat=3.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

crt=${MINGW_CRT:-ucrt}
case "$crt" in
  ucrt) build="$root/build/mingw" ;;
  msvcrt) build="$root/build/mingw-msvcrt" ;;
  *) echo "MINGW_CRT must be ucrt or msvcrt, not '$crt'" >&2; exit 2 ;;
esac
jobs=${JOBS:-2}
run_timeout=${WINE_TEST_TIMEOUT:-240}

. scripts/packages.sh
mb_install_packages cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest

echo "== building for Windows ($crt) in ${build#"$root"/}"
cmake -S tests/wine -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DMINGW_CRT="$crt" >/dev/null
cmake --build "$build" -j "$jobs"

# A private, headless prefix: no display, no prompts to fetch the .NET or HTML
# engines, no debug chatter.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine takes the Windows locale, and with it the ANSI code page, from the Unix
# locale: pin one whose ANSI code page is 1252, whoever runs this.
export LC_ALL=C.UTF-8
wine=$(command -v wine || echo /usr/lib/wine/wine64)
stop_wineserver() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wineserver EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== creating the Wine prefix"
  timeout 300 wineboot -i >/dev/null 2>&1
  # Report the Windows version the layer imitates.
  timeout 60 "$wine" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
  wineserver -w
fi

# A crash or hang ends the process; then the run goes on without that test, so
# that one fault does not hide the results of the tests after it.
# run_program NAME EXE [ARGS...]: runs one GoogleTest program to the end,
# round after round, and adds its counts to the totals.
total_passed=0
total_failed=0
total_skipped=0
run_program() {
local name=$1 exe=$2
shift 2
local log="$logs/$name.log"
: >"$log"
local excluded=()  # crashed or hung
local done_tests=() # already have a result
local passed=0 failed=0 skipped=0 round filter skip out rc round_failed last
for round in $(seq 1 20); do
  filter="${WINE_TEST_FILTER:-*}"
  skip=("${done_tests[@]}" "${excluded[@]}")
  if [ ${#skip[@]} -gt 0 ]; then
    # Only one '-' may separate the patterns to run from those to leave out.
    case "$filter" in *-*) filter+=":" ;; *) filter+="-" ;; esac
    filter+="$(IFS=:; echo "${skip[*]}")"
  fi
  out="$logs/$name-$round.log"
  # Into a file, not a pipe: Wine's own processes (wineserver, services.exe)
  # inherit the output and can outlive a test program killed for hanging, and
  # a reader of a pipe would wait for them.
  set +e
  timeout -k 10 "$run_timeout" "$wine" "$exe" "$@" "--gtest_filter=$filter" >"$out.raw" 2>&1
  rc=$?
  set -e
  tr -d '\r' <"$out.raw" >"$out"
  rm -f "$out.raw"
  cat "$out"
  cat "$out" >>"$log"
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    # What the hung program started (a Broker, a stand-in host) goes with it.
    wineserver -k >/dev/null 2>&1 || true
  fi
  passed=$((passed + $(grep -c '^\[       OK \] ' "$out" || true)))
  round_failed=$(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$out" || true)
  failed=$((failed + round_failed))
  skipped=$((skipped + $(grep -cE '^\[  SKIPPED \] .*\([0-9]+ ms\)$' "$out" || true)))
  mapfile -t -O ${#done_tests[@]} done_tests < <(
    sed -nE 's/^\[ +(OK|FAILED|SKIPPED) +\] ([^ ]+) \([0-9]+ ms\)$/\2/p' "$out")
  # The test that was running when the process ended, if any.
  last=$(awk '/^\[ RUN      \] /{t=$4} /^\[ +(OK|FAILED|SKIPPED) +\] .*\([0-9]+ ms\)$/{t=""} END{print t}' "$out")
  if grep -q '^\[==========\] .* ran\.' "$out" && [ -z "$last" ]; then
    if [ "$rc" -ne 0 ] && [ "$round_failed" -eq 0 ]; then
      echo "== the test program exited with $rc after its tests passed" >&2
      failed=$((failed + 1))
    fi
    break
  fi
  if [ -z "$last" ]; then
    echo "== the test program ended (exit $rc) outside any test" >&2
    failed=$((failed + 1))
    break
  fi
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    echo "[  HUNG    ] $last: no result within ${run_timeout}s" | tee -a "$log"
  fi
  failed=$((failed + 1))
  excluded+=("$last")
  echo "== continuing without: ${excluded[*]}"
done

echo "== $name: crashed or hung: ${excluded[*]:-none}; full output in ${log#"$root"/}"
echo "wine: $name: $passed passed, $failed failed, $skipped skipped"
if [ "$passed" -eq 0 ]; then
  failed=$((failed + 1))
fi
total_passed=$((total_passed + passed))
total_failed=$((total_failed + failed))
total_skipped=$((total_skipped + skipped))
}

logs="$build/wine-logs"
mkdir -p "$logs"
run_program pal_tests "$build/pal_tests.exe" "$@"

if [ -z "${MB_WINE_PAL_ONLY:-}" ]; then
  win="$root/build/mingw-win"
  echo "== building the mingw preset in ${win#"$root"/}"
  cmake --preset mingw >/dev/null
  cmake --build "$win" -j "$jobs"
  # The stand-in mapi32.dll beside each program that loads one, over Wine's own.
  export WINEDLLOVERRIDES="mscoree,mshtml=;mapi32=n"
  for exe in "$win"/base/mb_base_tests.exe "$win"/foundation/mb_foundation_tests.exe \
             "$win"/codec/mb_codec_tests.exe "$win"/mapi/mb_mapi_tests.exe \
             "$win"/fake-mapi/mb_commands_tests.exe "$win"/fake-mapi/mb_channel_tests.exe \
             "$win"/fake-mapi/mb_broker_tests.exe "$win"/host/mb_host_tests.exe \
             "$win"/tests/windows/mb_*_tests.exe; do
    run_program "$(basename "$exe" .exe)" "$exe" "$@"
  done
  echo "== our MAPI declarations beside mingw-w64's"
  if ! python3 scripts/check_mapi_decls.py --build "$win/mapi-decls"; then
    total_failed=$((total_failed + 1))
  fi
fi

echo "wine: $total_passed passed, $total_failed failed, $total_skipped skipped in all"
[ "$total_failed" -eq 0 ] && [ "$total_passed" -gt 0 ]
