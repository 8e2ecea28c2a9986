#!/usr/bin/env bash
# Cross-builds the Windows executables with mingw-w64 in build-win/ and runs the whole test suite
# under Wine: the test binary (in-process tests and the five .exe files started as child
# processes), the file exchange with the Linux build, and the console text through a terminal.
# Needs: apt-get install g++-mingw-w64-x86-64 wine (and what scripts/test.sh needs).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=build-win
jobs=$(nproc 2>/dev/null || echo 2)

for tool in x86_64-w64-mingw32-g++-posix wine; do
  if ! command -v "$tool" >/dev/null; then
    echo "test-windows.sh: $tool not found (apt-get install g++-mingw-w64-x86-64 wine)" >&2
    exit 1
  fi
done

# A private Wine installation under the build directory, quiet, without a display, without the
# .NET and HTML engines that a fresh prefix would offer to download.
mkdir -p "$dir"
export WINEPREFIX=$root/$dir/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
start=$(date +%s)

toolchain=()
[[ -f $dir/CMakeCache.txt ]] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
cmake -S . -B "$dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DKV_WERROR=ON \
  -DKV_TEST_SHARDS="$jobs"
cmake --build "$dir" -j "$jobs"

# One server for every Wine process of this script: each start is then much quicker.
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot --init </dev/null >/dev/null 2>&1 || true

ctest --test-dir "$dir" --output-on-failure -j "$jobs" </dev/null

# The Linux programs for the exchange of files (scripts/test.sh has usually built them).
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target Kolvex Kolvex32 kvimport kvconvert
scripts/interop.sh build/bin "$dir/bin" </dev/null

scripts/console-wine.sh "$dir/bin"

echo "Windows suite passed in $(($(date +%s) - start)) s"
