#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# The suite also compares kvcampaign with the same steps done with the primesieve program, and
# draws kvreport's page in Chromium and runs the searches as MPI jobs: installed when run as root,
# elsewhere those tests are skipped without them.
need_packages "${build_packages[@]}" "${test_packages[@]}"
if [[ $(id -u) -eq 0 ]]; then
  need_packages "${browser_packages[@]}" "${mpi_packages[@]}"
fi
dir=build
flags=(-DCMAKE_BUILD_TYPE=Release)
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=ON -DKV_BUILD_BENCH=OFF)
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DKV_WERROR=ON "${flags[@]}"
cmake --build "$dir" -j "$jobs"
ctest --test-dir "$dir" --output-on-failure -j "$jobs"
